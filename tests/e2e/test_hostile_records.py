"""Hostile version records (tests/support/hostile_records.py, fixed seed) in the install
root: VersionRecord::load and the install check of the real launcher code
(hostile_driver, in-process, one case folder per record), then the version query
that follows when the record does not count; a subset also through the real
ZorvikUpdate.exe. Whatever the file holds: no crash; the record reads either as
installed (a version that names one folder of the install root) or as not installed
(the defaults, and the query sends them); nothing is created, changed or deleted
anywhere."""
import collections

import pytest

import gateway
import hostile_records as hr
import hostile_rig as rig
import launcher
import texts
import winerig
from launcher import DEFAULT_QUERY

SEED = 20261208
REFUSAL = gateway.Reply(b'{"code":1}')


@pytest.fixture(scope="module")
def records():
    return hr.generate(SEED)


@pytest.fixture(scope="module")
def campaign(tmp_path_factory, trusted_ca, records):
    base = tmp_path_factory.mktemp("records")
    cases = base / "cases"
    hr.prepare_outside(cases / "outside")
    for i, record in enumerate(records):
        record.place(cases / f"r{i}" / "root", cases / f"r{i}" / "launcher", cases / "outside")
    (base / "out").mkdir()
    out = base / "out" / "results.jsonl"
    basetemp = tmp_path_factory.getbasetemp()
    skip = {str(out.parent.relative_to(basetemp))}

    # One refusal per record that may come to ask; every query must carry the defaults.
    gw = gateway.Gateway(tls=True, certfile=trusted_ca.server_cert, keyfile=trusted_ca.server_key,
                         port=winerig.GATEWAY_PORT).start()
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=REFUSAL, times=len(records))
    prefix_before = rig.prefix_snapshot()
    tmp_before = rig.snapshot(basetemp, skip)
    try:
        code, results, ended = rig.run_driver("records", winerig.winpath(out), winerig.winpath(cases),
                                              len(records), out=out)
    finally:
        gw.stop()
    return {
        "code": code, "ended": ended, "results": results, "gateway": gw,
        "root_of": lambda i: winerig.winpath(cases) + f"\\r{i}\\root",
        "prefix": rig.changes(prefix_before, rig.prefix_snapshot()),
        "tmp": rig.changes(tmp_before, rig.snapshot(basetemp, skip)),
    }


def test_generator_is_deterministic_and_large_enough(records):
    again = hr.generate(SEED)
    assert [(r.name, r.data, r.kind, r.shipped) for r in again] == \
        [(r.name, r.data, r.kind, r.shipped) for r in records]
    assert len(records) >= 200


def test_every_record_ran_to_its_end_without_a_crash(campaign, records):
    assert campaign["code"] == 0 and campaign["ended"], \
        f"driver ended with {campaign['code']} after {len(campaign['results'])} records"
    assert [r["case"] for r in campaign["results"]] == list(range(len(records)))
    unexpected = [p for p in campaign["gateway"].problems() if not p.startswith("expected ")]
    assert not unexpected
    asked = sum(1 for r in campaign["results"] if not r["installed"])
    assert len(campaign["gateway"].requests) == asked


def test_each_record_reads_as_installed_or_as_not_installed(campaign, records):
    counts = collections.Counter()
    wrong = []
    for record, got in zip(records, campaign["results"]):
        root = campaign["root_of"](got["case"])
        ver = rig.windows_text(rig.unhex(got["ver"]))
        target = rig.windows_text(rig.unhex(got["target"]))
        if got["installed"]:
            ok = got["loaded"] == 1 and target == f"{root}\\app\\{ver}" and \
                rig.one_folder_below(target, f"{root}\\app")
            counts["installed"] += 1
        else:
            defaults = (rig.unhex(got["platform"]), rig.unhex(got["type"]), rig.unhex(got["recordVer"]))
            query = got["query"]
            ok = got["loaded"] == 0 and defaults == (b"2", b"1", b"70") and \
                (query["status"], query["button"], query["busy"], query["failed"], query["launch"]) == \
                ([texts.STATUS_BAD_PARAMETERS], [], 0, 0, 0)
            if record.shipped is None:
                # The network road, asking with the defaults.
                ok = ok and got["online"] == 1 and got["target"] == ""
                counts["not installed, network"] += 1
            else:
                # The archive road: the shipped record names one folder of the root.
                staging = rig.windows_text(rig.unhex(got["staging"]))
                ok = ok and got["online"] == 0 and rig.one_folder_below(target, f"{root}\\app") and \
                    rig.one_folder_below(staging, f"{root}\\app")
                counts["not installed, res.dat"] += 1
        if not ok:
            wrong.append((record.name, got))
    print("\nrecords tried:", len(records), dict(counts))
    assert not wrong, wrong[:5]


def test_nothing_anywhere_was_touched(campaign):
    assert campaign["prefix"] == {"created": [], "deleted": [], "changed": []}
    assert campaign["tmp"] == {"created": [], "deleted": [], "changed": []}


def test_documented_records_read_as_documented(campaign, records):
    by_name = {r.name: got for r, got in zip(records, campaign["results"])}
    installed = {name: (by_name[name]["installed"], rig.unhex(by_name[name]["ver"])) for name in (
        "good", "good-gbk", "good-integers", "good-only-ver", "multi-line", "line-499", "line-500",
        "kind/missing", "kind/folder", "kind/link-outside-good", "nest/arrays-one-per-line",
        "nest/ver-1001", "bytes/ver/dotdot-lead", "ver/dotdot-back", "ver/format-sn", "empty",
        "huge/newlines-then-record", "shipped/good", "shipped/absent", "shipped/dotdot", "shipped/nested",
        "ver/temp", "ver/temp-upper")}
    assert installed == {
        "good": (1, b"71"), "good-gbk": (1, "\u7248\u672c71".encode("gbk")), "good-integers": (1, b"71"),
        "good-only-ver": (1, b"73"), "multi-line": (1, b"71"), "line-499": (1, b"71"),
        "line-500": (0, b"70"), "kind/missing": (0, b"70"), "kind/folder": (0, b"70"),
        "kind/link-outside-good": (1, b"72"), "nest/arrays-one-per-line": (0, b"70"),
        "nest/ver-1001": (0, b"70"), "bytes/ver/dotdot-lead": (0, b"70"), "ver/dotdot-back": (0, b"70"),
        "ver/format-sn": (1, b"%s%n"), "empty": (0, b"70"), "huge/newlines-then-record": (1, b"71"),
        # Beside res.dat the shipped record's version, or 70 when it is unusable.
        "shipped/good": (0, b"5"), "shipped/absent": (0, b"70"), "shipped/dotdot": (0, b"70"),
        "shipped/nested": (0, b"70"),
        # A staging folder is never an installed version.
        "ver/temp": (0, b"70"), "ver/temp-upper": (0, b"70"),
    }


# Through the real launcher: installed records start the client from their folder at
# once, the others show the dialog and ask the gateway with the defaults.
LAUNCHER_SUBSET = [
    "good", "good-gbk", "kind/link-outside-good", "ver/format-sn", "huge/newlines-then-record",
    "kind/folder", "kind/link-loop", "nest/arrays-one-per-line", "bytes/ver/dotdot-lead",
    "ver/dotdot-back", "ver/z-tmp", "bom/utf8", "nul/trailing", "empty",
]


@pytest.mark.parametrize("name", LAUNCHER_SUBSET)
def test_the_launcher_reads_the_record_as_the_driver_did(name, tmp_path, campaign, records,
                                                         gateway_factory, install_root):
    index = next(i for i, r in enumerate(records) if r.name == name)
    got = campaign["results"][index]
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    outside = tmp_path / "outside"
    hr.prepare_outside(outside)
    records[index].place(install_root, folder, outside)
    prefix_before = rig.prefix_snapshot()
    tmp_before = rig.snapshot(tmp_path)
    root_before = rig.snapshot(install_root)

    if got["installed"]:
        code, _, windows = launcher.launch_and_watch(folder)
        assert (code, windows) == (1, [])
        launcher.eventually(lambda: len(launcher.launches(folder)), 1)
        started = [s["command_line"] for s in launcher.launches(folder)]
        assert started == [f'"{winerig.winpath(folder)}\\erp.exe" '
                           f'"{launcher.install_root_windows()}\\app\\{got["verName"]}"']
        (folder / "launches.jsonl").unlink()
    else:
        gw = gateway_factory(port=winerig.GATEWAY_PORT)
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=REFUSAL)
        with launcher.RunningLauncher(folder) as run:
            dialog = launcher.Dialog().wait()
            assert launcher.eventually(dialog.status, texts.STATUS_BAD_PARAMETERS) == texts.STATUS_BAD_PARAMETERS
            dialog.close()
            assert run.wait() == 0

    assert rig.changes(prefix_before, rig.prefix_snapshot()) == {"created": [], "deleted": [], "changed": []}
    assert rig.changes(tmp_before, rig.snapshot(tmp_path)) == {"created": [], "deleted": [], "changed": []}
    assert rig.changes(root_before, rig.snapshot(install_root)) == {"created": [], "deleted": [], "changed": []}
