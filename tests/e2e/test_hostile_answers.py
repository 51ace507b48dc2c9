"""Hostile gateway answers (tests/support/hostile_answers.py, fixed seed) against the
launcher's real network pass: the HTTP client over HTTPS to the local gateway, the
answer's reading, the paths it sets and the download and deployment that follow.

All of them go through hostile_driver (the launcher's own worker in-process, one
fresh install root per answer); a representative subset also through the real
ZorvikUpdate.exe and its dialog. Whatever arrives: no crash, only the launcher's
documented status texts with the flags that belong to them, and nothing created,
changed or deleted outside the install root."""
import collections
import pathlib
import re
import time

import pytest

import gateway
import hostile_answers as ha
import hostile_rig as rig
import launcher
import packages
import texts
import winerig
from launcher import DEFAULT_QUERY

SEED = 20261207
KEYED = winerig.package_private_key() is not None

# Outcome of the query -> (its status texts, button captions, busy, failed, launch,
# package assigned), as the launcher documents them. Only a package keeps the pass
# running into the download.
QUERY_OUTCOMES = {
    "server-error": ([texts.STATUS_SERVER_ERROR], [texts.CAPTION_RETRY], 0, 1, 0, 0),
    "network-error": ([texts.STATUS_NETWORK_ERROR], [texts.CAPTION_RETRY], 0, 1, 0, 0),
    "refused": ([texts.STATUS_BAD_PARAMETERS], [], 0, 0, 0, 0),
    "url-not-text": ([], [], 0, 0, 0, 0),
    "no-update": ([texts.STATUS_NO_UPDATE], [], 0, 0, 1, 1),
    "package": ([], [], 1, 0, 0, 1),
}


def _slug(name):
    return re.sub(r"[^A-Za-z0-9-]", "_", name)


def _same_size_other(genuine):
    """A sound package with other files, exactly as long as `genuine`."""
    files = dict(packages.SAMPLE_APP, **{"index.html": packages.SAMPLE_APP["index.html"].replace(b"sample", b"simple")})
    other = packages.package(files)
    assert len(other) == len(genuine) and other != genuine
    return other


class Servers:
    """The package server (real packages, a 404 and a body that is no zip) and a port
    that refuses connections, for the module's whole run."""

    def __init__(self, certs):
        self.closed = gateway.closed_port()
        self.packages = gateway.Gateway(tls=True, certfile=certs.server_cert, keyfile=certs.server_key).start()
        self.paths = set()

    def package_url(self, name):
        path = f"/pkg/{_slug(name)}.zip"
        if path not in self.paths:
            self.paths.add(path)
            genuine = packages.package()
            replies = {
                "missing-404": lambda: gateway.Reply(b"no such package\n", status=404),
                "not-a-zip": lambda: gateway.Reply(b"this is no zip archive\n" * 50),
                "proof-other-same-size": lambda: gateway.Reply(_same_size_other(genuine)),
                "proof-wrong-package": lambda: gateway.Reply(packages.large_package(2000)),
                "proof-truncated": lambda: gateway.Reply(genuine[:len(genuine) // 2]),
            }
            reply = replies.get(name, lambda: gateway.Reply(genuine))()
            self.packages.expect("GET", path, reply=reply, times=1000)
        return self.packages.url(path)

    def closed_url(self, path):
        return f"https://localhost:{self.closed}{path}"

    def unexpected(self):
        return [p for p in self.packages.problems() if not p.startswith("expected ")]


@pytest.fixture(scope="module")
def servers(trusted_ca):
    made = Servers(trusted_ca)
    yield made
    made.packages.stop()
    assert not made.unexpected()


@pytest.fixture(scope="module")
def answers(servers):
    return ha.generate(SEED, servers.package_url, servers.closed_url)


def _outcome(query):
    """Which documented outcome the query's texts and flags show, or None."""
    got = (query["status"], query["button"], query["busy"], query["failed"], query["launch"], query["assigned"])
    for name, expected in QUERY_OUTCOMES.items():
        if got == expected and (name != "no-update" or not query["went_on"]) and \
                (name != "package" or query["went_on"]):
            return name
    return None


def _query_and_download(record):
    """The worker's pass as its query's part and its download's. The driver looked
    when the query returned; a pass that went on shows a download phase or outcome
    after that, whose texts no query outcome has. One that did not ended with the
    query's outcome, which belongs to the query with the flags it set."""
    query, after = record.pop("query"), record.pop("after")
    went_on = any(t.startswith(texts.PHASE_PREFIXES) or t in texts.DOWNLOAD_STATUSES for t in after["status"])
    flags = {k: after[k] for k in ("busy", "failed", "launch")}
    record["query"] = dict(query, went_on=went_on) if went_on else \
        dict(query, **flags, went_on=False, status=query["status"] + after["status"],
             button=query["button"] + after["button"])
    record["download"] = dict(flags, status=after["status"] if went_on else [],
                              button=query["button"] + after["button"])
    return record


def _final_status(record):
    """The status line the user is left with after the pass."""
    shown = [t for t in record["query"]["status"] + record["download"]["status"]
             if not t.startswith(texts.PHASE_PREFIXES)]
    return shown[-1] if shown else texts.STATUS_CHECKING


@pytest.fixture(scope="module")
def campaign(tmp_path_factory, trusted_ca, servers, answers):
    """Runs every answer through hostile_driver once, with snapshots around the run."""
    base = tmp_path_factory.mktemp("answers")
    roots = base / "roots"
    roots.mkdir()
    launcher_dir = base / "launcher"
    launcher_dir.mkdir()
    (launcher_dir / "keep.txt").write_bytes(b"the launcher's folder stays as it is\n")
    basetemp = tmp_path_factory.getbasetemp()
    (base / "out").mkdir()
    out = base / "out" / "results.jsonl"
    skip = {str(roots.relative_to(basetemp)), str(out.parent.relative_to(basetemp))}

    gw = gateway.Gateway(tls=True, certfile=trusted_ca.server_cert, keyfile=trusted_ca.server_key,
                         port=winerig.GATEWAY_PORT).start()
    for answer in answers:
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer.reply())
    prefix_before = rig.prefix_snapshot()
    tmp_before = rig.snapshot(basetemp, skip)
    try:
        code, records, ended = rig.run_driver("answers", winerig.winpath(out), winerig.winpath(roots),
                                              winerig.winpath(launcher_dir) + "\\", len(answers), out=out)
    finally:
        gw.stop()
    return {
        "code": code, "ended": ended, "records": [_query_and_download(r) for r in records],
        "gateway": gw, "roots": roots,
        "root_of": lambda i: winerig.winpath(roots) + f"\\a{i}",
        "prefix": rig.changes(prefix_before, rig.prefix_snapshot()),
        "tmp": rig.changes(tmp_before, rig.snapshot(basetemp, skip)),
    }


def test_generator_is_deterministic_and_large_enough(servers, answers):
    again = ha.generate(SEED, servers.package_url, servers.closed_url)
    assert [(a.name, a.body) for a in again] == [(a.name, a.body) for a in answers]
    assert len(answers) >= 200


def test_every_answer_ran_to_its_end_without_a_crash(campaign, answers):
    assert campaign["code"] == 0 and campaign["ended"], \
        f"driver ended with {campaign['code']} after {len(campaign['records'])} answers"
    assert [r["case"] for r in campaign["records"]] == list(range(len(answers)))
    # One query per answer, each sent with the defaults of a fresh machine.
    campaign["gateway"].check()
    assert len(campaign["gateway"].requests) == len(answers)


def test_every_pass_ends_in_a_documented_state(campaign, answers):
    counts = collections.Counter()
    wrong = []
    for answer, record in zip(answers, campaign["records"]):
        outcome = _outcome(record["query"])
        download = record["download"]
        shown = [t for t in download["status"] if not t.startswith(texts.PHASE_PREFIXES)]
        if outcome is None or download["busy"] != 0 or len(shown) > 1 or \
                not set(shown) <= texts.DOWNLOAD_STATUSES or (shown and outcome != "package") or \
                (outcome == "package" and not shown):
            wrong.append((answer.name, record))
        counts[(outcome, _final_status(record))] += 1
    print("\nanswers tried:", len(answers))
    for (outcome, status), n in sorted(counts.items(), key=lambda item: -item[1]):
        print(f"  {n:4d}  {outcome:14s} {status}")
    assert not wrong, wrong[:5]


def test_assigned_versions_name_one_folder_of_the_install_root(campaign, answers):
    wrong = []
    for answer, record in zip(answers, campaign["records"]):
        query = record["query"]
        if not query["assigned"]:
            continue
        root = campaign["root_of"](record["case"])
        ver = rig.windows_text(rig.unhex(query["ver"]))
        target = rig.windows_text(rig.unhex(query["target"]))
        staging = rig.windows_text(rig.unhex(query["staging"]))
        if target != f"{root}\\app\\{ver}" or staging != f"{root}\\app\\temp{ver}" or \
                not rig.one_folder_below(target, f"{root}\\app") or \
                not rig.one_folder_below(staging, f"{root}\\app"):
            wrong.append((answer.name, ver, target))
    assert not wrong


def test_every_install_is_found_by_the_next_start(campaign, answers):
    """The record saved after an install loads back with the installed version, so the
    next start takes the installed road into the folder just deployed."""
    wrong = []
    for answer, record in zip(answers, campaign["records"]):
        installed = _final_status(record) == texts.STATUS_INSTALLED
        saved = record["saved"]
        if installed != bool(saved["loads"]) or (installed and saved["ver"] != record["query"]["ver"]):
            wrong.append((answer.name, record["query"]["ver"], saved))
    assert not wrong


def test_nothing_outside_the_install_roots_was_touched(campaign, answers):
    assert campaign["prefix"] == {"created": [], "deleted": [], "changed": []}
    assert campaign["tmp"] == {"created": [], "deleted": [], "changed": []}
    for path in ("/tmp/x", "/tmp/zv_escape", "/zv_escape", str(winerig.BUILD / "zv_escape")):
        assert not pathlib.Path(path).exists(), path

    roots = campaign["roots"]
    expected_roots = {f"a{r['case']}" for r in campaign["records"]
                      if r["query"]["assigned"] and r["query"]["went_on"]}
    assert {p.name for p in roots.iterdir()} <= expected_roots
    wrong = []
    for answer, record in zip(answers, campaign["records"]):
        root = roots / f"a{record['case']}"
        if not root.exists():
            continue
        # Only the layout below the root, and below app only the answer's version.
        top = {p.name for p in root.iterdir()}
        ver = record["query"]["verName"]
        app = {p.name for p in (root / "app").iterdir()} if (root / "app").is_dir() else set()
        if not top <= {"download", "app", "jsver.txt"} or not app <= {ver, f"temp{ver}"}:
            wrong.append((answer.name, sorted(top), sorted(app), ver))
    assert not wrong


def test_documented_answers_end_as_documented(campaign, answers):
    """Answers whose handling the launcher fixes, by name: the final status line."""
    by_name = {a.name: r for a, r in zip(answers, campaign["records"])}
    expected = {
        "type/code/string-digit": texts.STATUS_SERVER_ERROR,
        "type/top/array": texts.STATUS_SERVER_ERROR,
        "type/result/string": texts.STATUS_SERVER_ERROR,
        "type/url/null": texts.STATUS_CHECKING,
        "type/url/int71": texts.STATUS_CHECKING,
        "type/version/fraction": texts.STATUS_NETWORK_ERROR,
        "type/version/array": texts.STATUS_NETWORK_ERROR,
        "type/code/minus-one": texts.STATUS_BAD_PARAMETERS,
        # Unsigned: under a key, nothing to install needs a signature too.
        "absent/url": texts.STATUS_SERVER_ERROR if KEYED else texts.STATUS_NO_UPDATE,
        "absent/result": texts.STATUS_SERVER_ERROR if KEYED else texts.STATUS_NO_UPDATE,
        "absent/version": texts.STATUS_INSTALLED,
        "nul/trailing-garbage": texts.STATUS_NO_UPDATE,
        "nul/leading": texts.STATUS_SERVER_ERROR,
        "size/10238": texts.STATUS_NO_UPDATE,
        "size/10238-no-length": texts.STATUS_NO_UPDATE,
        "size/10238-chunked": texts.STATUS_NO_UPDATE,
        "size/10239": texts.STATUS_NETWORK_ERROR,
        "size/10239-no-length": texts.STATUS_NETWORK_ERROR,
        "size/1048576": texts.STATUS_NETWORK_ERROR,
        "size/empty": texts.STATUS_SERVER_ERROR,
        # Cut short of its Content-Length: a reset reads as a clean end under wine,
        # and the launcher takes it for the failed read it is.
        "size/short-of-length": texts.STATUS_NETWORK_ERROR,
        # Too deep to parse is not parsable: the server's fault, not the network's.
        "nest/array-10000-open": texts.STATUS_SERVER_ERROR,
        "nest/array-1001": texts.STATUS_SERVER_ERROR,
        "nest/object-2000-open": texts.STATUS_SERVER_ERROR,
        "version/package/dotdot-back": texts.STATUS_SERVER_ERROR,
        "version/package/z-tmp": texts.STATUS_SERVER_ERROR,
        "version/package/unc": texts.STATUS_SERVER_ERROR,
        "version/package/con": texts.STATUS_SERVER_ERROR,
        "version/package/len-256": texts.STATUS_SERVER_ERROR,
        "version/package/temp": texts.STATUS_SERVER_ERROR,
        "version/none/temp": texts.STATUS_SERVER_ERROR,
        "version/none/temp-upper": texts.STATUS_SERVER_ERROR,
        "version/package/temp-mixed": texts.STATUS_SERVER_ERROR,
        "version/package/len-100": texts.STATUS_INSTALLED,
        # Longer versions put the folder paths past the launcher's 200-byte path
        # buffers: nothing can be unpacked, and nothing is written elsewhere instead.
        "version/package/len-150": texts.STATUS_UNPACK_FAILED,
        "version/package/len-255": texts.STATUS_UNPACK_FAILED,
        "version/package/chinese": texts.STATUS_INSTALLED,
        "version/package/format-sn": texts.STATUS_INSTALLED,
        # The package server's status is not looked at: a 404 page is no archive.
        "url/not-found": texts.STATUS_UNPACK_FAILED,
        "url/huge-host": texts.STATUS_UPDATE_FAILED,
        "url/port-65536": texts.STATUS_UPDATE_FAILED,
        "url/gateway-not-a-zip": texts.STATUS_UNPACK_FAILED,
        # No release can sign a version that is not UTF-8: a build with a key refuses it.
        "bytes/version/gbk": texts.STATUS_SERVER_ERROR if KEYED else texts.STATUS_INSTALLED,
    }
    got = {name: _final_status(by_name[name]) for name in expected}
    assert got == expected


def _proof_expected(name):
    """The status a proof answer ends in: refused by the reading (a malformed digest;
    under a key, a missing or malformed signature or one over other fields), a failed
    download (bytes other than the digest's), installed, or nothing to install."""
    family, _, label = name[len("proof/"):].partition("/")
    if family == "none":
        return texts.STATUS_SERVER_ERROR if KEYED and label != "genuine" else texts.STATUS_NO_UPDATE
    if family == "package" or label == "other-digest-given":
        return texts.STATUS_INSTALLED if label == "genuine" else texts.STATUS_UPDATE_FAILED
    if family == "sha256":
        installs = label == "upper" or (label == "null" and not KEYED)
        return texts.STATUS_INSTALLED if installs else texts.STATUS_SERVER_ERROR
    return texts.STATUS_SERVER_ERROR if KEYED else texts.STATUS_INSTALLED


def test_package_proofs_end_as_documented_with_nothing_unpacked_or_recorded(campaign, answers):
    """A package is installed only when its bytes are the digest's and, in a build with
    a key, the signature is the release's for this query; otherwise the pass ends at
    once, the download is gone and nothing was unpacked or recorded. In a build with a
    key, nothing to install is taken only with the release's signature over it."""
    proofs = [(a, r) for a, r in zip(answers, campaign["records"]) if a.name.startswith("proof/")]
    assert len(proofs) >= 40
    got, expected, leftovers = {}, {}, {}
    for answer, record in proofs:
        got[answer.name] = (_final_status(record), record["download"]["failed"])
        status = _proof_expected(answer.name)
        expected[answer.name] = (status, int(status not in (texts.STATUS_INSTALLED, texts.STATUS_NO_UPDATE)))
        root = campaign["roots"] / f"a{record['case']}"
        if status != texts.STATUS_INSTALLED:
            left = sorted(str(p.relative_to(root)) for p in root.rglob("*")) if root.exists() else []
            if left not in ([], ["download"]) or record["saved"]["loads"]:
                leftovers[answer.name] = left
    assert got == expected
    assert not leftovers


# Through the real launcher and its dialog: one of each family and every outcome.
LAUNCHER_SUBSET = [
    "type/top/array", "type/code/string-digit", "type/result/string", "type/url/null",
    "type/version/fraction", "absent/version", "nest/array-10000-open", "nest/in-version-4000",
    "number/code/2^64", "number/version/1e400", "bytes/version/gbk", "bytes/version/dotdot-lead",
    "escape/version/nul", "nul/trailing-garbage", "size/10238", "size/10239", "size/1048576",
    "truncated/open-string", "version/package/dotdot-back", "version/package/z-tmp",
    "version/package/unc", "version/package/con", "version/package/chinese",
    "version/package/format-sn", "version/none/trailing-dot", "url/file", "url/port-65536",
    "url/crlf", "mutant/3", "proof/sha256/short", "proof/signed/other-version", "proof/package/truncated",
    "proof/none/unsigned", "proof/none/package-signature", "version/none/temp",
]


@pytest.mark.parametrize("name", LAUNCHER_SUBSET)
def test_the_launcher_shows_what_the_driver_found(name, tmp_path, campaign, answers, gateway_factory,
                                                  install_root):
    index = next(i for i, a in enumerate(answers) if a.name == name)
    record = campaign["records"][index]
    expected = _final_status(record)
    caption = (record["query"]["button"] + record["download"]["button"] or [texts.CAPTION_OK])[-1]

    gw = gateway_factory(port=winerig.GATEWAY_PORT)
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answers[index].reply())
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    prefix_before = rig.prefix_snapshot()
    tmp_before = rig.snapshot(tmp_path)
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        if expected == texts.STATUS_CHECKING:
            assert launcher.eventually(lambda: len(gw.requests), 1) == 1
            time.sleep(1.0)  # the worker has ended; nothing may change the text
        assert launcher.eventually(dialog.status, expected) == expected
        assert dialog.button() == caption
        dialog.close()
        assert run.wait() == 0

    assert rig.changes(prefix_before, rig.prefix_snapshot()) == {"created": [], "deleted": [], "changed": []}
    assert rig.changes(tmp_before, rig.snapshot(tmp_path)) == {"created": [], "deleted": [], "changed": []}
    if install_root.exists():
        assert {p.name for p in install_root.iterdir()} <= {"download", "app", "jsver.txt"}
        ver = record["query"]["verName"]
        app = install_root / "app"
        assert {p.name for p in app.iterdir()} <= {ver, f"temp{ver}"} if app.exists() else True

