"""The vendor's release tool, tools/zorvik-release: pack stores links inside the folder
as what they point to, and refuses every other link and every name the launcher would
refuse or could not write, before it writes anything; the same folder
gives the same bytes; the signature is the one the launcher checks; and what pack
makes installs through the real launcher, over serve and from res.dat beside it."""
import base64
import hashlib
import json
import os
import pathlib
import shutil
import subprocess
import zipfile

import pytest

import gateway
import launcher
import packages
import texts
import update_tool_rig
import winerig
import ziputil
import zorvik_release as zr

TOOL = winerig.REPO / "tools" / "zorvik-release"
APP = dict(packages.SAMPLE_APP, **{"js/lib/util.js": b"export const x = 1;\n", "media/empty.dat": b""})


def tool(*args):
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, timeout=120)


def write_app(folder, files=APP, order=sorted):
    for name in order(files):
        path = pathlib.Path(folder) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(files[name])
    return pathlib.Path(folder)


@pytest.fixture(scope="module")
def key_pair(tmp_path_factory):
    """The build's package key when it has one, else a key made for this run (a
    launcher built without a key does not look at signatures)."""
    private = winerig.package_private_key()
    if private is not None:
        return private, private.with_name("public.pem")
    folder = tmp_path_factory.mktemp("key")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", "ec.pem"],
                   cwd=folder, check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", "ec.pem", "-out", "private.pem"], cwd=folder, check=True)
    subprocess.run(["openssl", "pkey", "-in", "private.pem", "-pubout", "-out", "public.pem"], cwd=folder,
                   check=True)
    return folder / "private.pem", folder / "public.pem"


# Made as symbolic links below: one leaves the folder, one dangles, two loop.
LINKS = {"link-out": "../outside.txt", "link-dangling": "missing.js", "link-loop": "link-loop",
         "js/link-up": ".."}


@pytest.mark.parametrize("names, args, named", [
    (["aux.js"], [], "aux.js"),
    (["js/Con"], [], "js/Con"),
    (["lib/nul.txt"], [], "nul.txt"),
    (["COM1.log"], [], "COM1.log"),
    (["lpt9"], [], "lpt9"),
    (["conout$.txt"], [], "conout$.txt"),
    (["ends-with-dot."], [], "ends-with-dot."),
    (["ends-with-blank "], [], "ends-with-blank "),
    (["..."], [], "..."),
    (["a<b.js"], [], "a<b.js"),
    (["a>b.js"], [], "a>b.js"),
    (['say"hi".js'], [], 'say"hi".js'),
    (["pipe|x"], [], "pipe|x"),
    (["what?.js"], [], "what?.js"),
    (["star*.js"], [], "star*.js"),
    (["C:evil.js"], [], "C:evil.js"),
    (["tab\there.js"], [], "tab\there.js"),
    (["back\\slash.js"], [], "back\\slash.js"),
    (["Index.html"], [], "Index.html"),  # beside index.html: one file on Windows
    (["link-out"], [], "link-out"),
    (["link-dangling"], [], "link-dangling"),
    (["link-loop"], [], "link-loop"),
    (["js/link-up"], [], "js/link-up"),
    ([], ["--version", "71."], "--version"),
    ([], ["--version", "CON"], "--version"),
    ([], ["--version", "版本"], "--version"),
    ([], ["--version", "Temp71"], "--version"),
    ([], ["--version", "7" * (zr.VERSION_LIMIT + 1)], "--version"),
    ([], ["--url", "https://user@updates.example.test/p.zip"], "--url"),
    ([], ["--url", "https://updates.example.test:https/p.zip"], "--url"),
    ([], ["--url", "https://updates.example.test:65536/p.zip"], "--url"),
    ([], ["--url", "https://updates.example.test:/p.zip"], "--url"),
    ([], ["--url", "https://[::1]:8443/p.zip"], "--url"),
    ([], ["--url", "https://updates.example.test/p.zip#71"], "--url"),
    ([], ["--platform", ""], "--platform"),
    ([], ["--url", "ftp://host/p.zip"], "--url"),
    ([], ["--key", "not-a-key.pem"], "not-a-key.pem"),
    ([], ["out-not-empty"], "--out"),
], ids=lambda v: repr(v) if isinstance(v, str) else None)
def test_pack_refuses_what_the_launcher_would_not_write_and_writes_nothing(tmp_path, names, args, named):
    app = write_app(tmp_path / "app")
    (tmp_path / "outside.txt").write_bytes(b"not the application's")
    for name in names:
        if name in LINKS:
            (app / name).symlink_to(LINKS[name])
        else:
            (app / name).parent.mkdir(parents=True, exist_ok=True)
            (app / name).write_bytes(b"x")
    out = tmp_path / "release"
    options = {"--version": "71", "--url": "https://updates.example.test/p/71.zip", "--out": out}
    if args == ["out-not-empty"]:
        out.mkdir()
        (out / "old.txt").write_bytes(b"an earlier release")
        args = []
    if "--key" in args:
        (tmp_path / "not-a-key.pem").write_text("-----BEGIN NOTHING-----\n")
        args = ["--key", tmp_path / "not-a-key.pem"]
    options.update(zip(args[::2], args[1::2]))
    before = sorted(p.name for p in tmp_path.iterdir())

    done = tool("pack", app, *[str(part) for pair in options.items() for part in pair])

    assert done.returncode == 2
    assert named in done.stderr, done.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == before  # no release, no temporary folder
    if out.exists():
        assert [p.name for p in out.iterdir()] == ["old.txt"]


def test_names_no_folder_can_hold_are_refused_as_the_launcher_refuses_them():
    for name in ["../up.js", "js/../../up.js", "..", "/root.js", "\\root.js", "C:/drive.js", "c:drive.js",
                 "js//double.js", "js/", "", "x" * 256, "js/" + "中" * 256, "a/" * 16252 + "b"]:
        assert zr.entry_name_problem(name), name
    # Windows counts a name's UTF-16 units, 255 of them at most; the whole path has no
    # limit below the launcher's.
    for name in ["index.html", "js/app.js", ".hidden", "a.b.c", "con-tent.js", "com10.js", "lpt.js", "说明.txt",
                 "x" * 255, "js/" + "中" * 255, "a/" * 16251 + "bc"]:
        assert zr.entry_name_problem(name) is None, name


def _pack(app, out, *extra):
    done = tool("pack", app, "--version", "71", "--url", "https://updates.example.test/p/71.zip",
                "--out", out, *extra)
    assert done.returncode == 0, done.stderr
    return out


def test_same_folder_gives_the_same_bytes_whatever_its_times_modes_and_order(tmp_path):
    files = dict(APP, **{"说明/读我.txt": "中文".encode("utf-8")})
    first = write_app(tmp_path / "a", files)
    second = write_app(tmp_path / "b", files, order=lambda f: sorted(f, reverse=True))
    (first / "empty-folder").mkdir()
    (second / "empty-folder").mkdir()
    for i, path in enumerate(p for p in second.rglob("*") if p.is_file()):
        os.utime(path, (1_000_000 + i, 1_700_000_000 + 7 * i))
        path.chmod(0o600 if i % 2 else 0o755)
    one, two = _pack(first, tmp_path / "r1"), _pack(second, tmp_path / "r2")

    for name in ["package.zip", "res.dat", "jsver.txt", "answer.json"]:
        assert (one / name).read_bytes() == (two / name).read_bytes(), name

    with zipfile.ZipFile(one / "package.zip") as outer:
        assert [(i.filename, i.compress_type) for i in outer.infolist()] == [("package.nw", zipfile.ZIP_STORED)]
        assert outer.read("package.nw") == (one / "res.dat").read_bytes()
    with zipfile.ZipFile(one / "res.dat") as inner:
        infos = inner.infolist()
        assert [i.filename for i in infos] == sorted(list(files) + ["empty-folder/"])
        assert {i.date_time for i in infos} == {(1980, 1, 1, 0, 0, 0)}
        assert {i.filename: bool(i.flag_bits & 0x800) for i in infos} == \
            {i.filename: not i.filename.isascii() for i in infos}
        assert {i.external_attr for i in infos if not i.is_dir()} == {(0o100644 << 16) | 0x20}
        assert {name: inner.read(name) for name in files} == files
    assert (one / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"71"}\r\n'
    assert json.loads((one / "answer.json").read_text()) == {"code": 0, "result": {
        "url": "https://updates.example.test/p/71.zip", "version": "71",
        "sha256": hashlib.sha256((one / "package.zip").read_bytes()).hexdigest()}}


def key_fingerprint(public):
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", public, "-outform", "DER"], capture_output=True,
                         check=True).stdout
    return hashlib.sha256(der).hexdigest()


def test_signature_verifies_through_openssl_for_its_own_fields_only(tmp_path, key_pair):
    private, public = key_pair
    done = tool("pack", write_app(tmp_path / "app"), "--version", "71", "--url",
                "https://updates.example.test:8443/p/71.zip?a=b", "--out", tmp_path / "r", "--platform", "3",
                "--type", "4", "--key", private)
    assert done.returncode == 0, done.stderr
    # The fingerprint the build prints for the key it compiles in.
    assert f"package key fingerprint: {key_fingerprint(public)}\n" in done.stdout
    release = tmp_path / "r"
    result = json.loads((release / "answer.json").read_text())["result"]
    signature, digest = result["signature"], result["sha256"]
    assert len(signature) == 88 and len(base64.b64decode(signature, validate=True)) == 64

    assert zr.verify(public, "3", "4", "71", digest, signature)
    assert zr.verify(public, "3", "4", "71", digest.upper(), signature)  # the digest is signed in lower case
    for fields in [("2", "4", "71", digest), ("3", "1", "71", digest), ("3", "4", "72", digest),
                   ("3", "4", "71", zr.sha256_of(b"another package"))]:
        assert not zr.verify(public, *fields, signature), fields
    raw = bytearray(base64.b64decode(signature))
    raw[63] ^= 1
    assert not zr.verify(public, "3", "4", "71", digest, base64.b64encode(raw).decode())


def test_signed_no_update_answer_lets_the_button_start_its_version(tmp_path, gateway_factory, install_root,
                                                                    key_pair):
    private, public = key_pair
    out = tmp_path / "answer"
    done = tool("answer", "--no-update", "--version", "72", "--key", private, "--out", out)
    assert done.returncode == 0, done.stderr
    body = (out / "answer.json").read_bytes()
    result = json.loads(body)["result"]
    assert set(result) == {"url", "version", "signature"} and (result["url"], result["version"]) == ("", "72")
    assert zr.verify(public, "2", "1", "72", "", result["signature"])
    assert not zr.verify(public, "2", "1", "71", "", result["signature"])
    # Written once: neither a second answer nor a staging folder's version.
    again = tool("answer", "--no-update", "--version", "73", "--key", private, "--out", out)
    temp = tool("answer", "--no-update", "--version", "temp72", "--key", private, "--out", tmp_path / "t")
    assert (again.returncode, temp.returncode) == (2, 2) and (out / "answer.json").read_bytes() == body
    assert not (tmp_path / "t").exists()

    gw = gateway_factory(port=winerig.GATEWAY_PORT)
    gw.expect("POST", "/gateway.php", reply=gateway.Reply(body))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        assert launcher.eventually(dialog.status, texts.STATUS_NO_UPDATE) == texts.STATUS_NO_UPDATE
        dialog.click(launcher.ACTION)
        assert run.wait() == 1
    launcher.eventually(lambda: len(launcher.launches(folder)), 1)
    assert launcher.launches(folder)[0]["command_line"].endswith('\\app\\72"')


def test_pack_publishes_no_signature_that_its_key_does_not_verify(tmp_path, key_pair, monkeypatch):
    monkeypatch.setattr(zr, "sign_bytes", lambda *fields: base64.b64encode(bytes(range(64))).decode())
    app = write_app(tmp_path / "app")
    with pytest.raises(zr.ReleaseError, match="does not verify"):
        zr.pack(app, "71", "https://updates.example.test/p/71.zip", tmp_path / "r", key=key_pair[0])
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app"]


class Serve:
    """zorvik-release serve as a vendor runs it, on the build's gateway port."""

    def __init__(self, folders, certs, log):
        self.log = log
        with open(log, "wb") as err:
            self.process = subprocess.Popen(
                [str(TOOL), "serve", *map(str, folders), "--port", str(winerig.GATEWAY_PORT),
                 "--cert", str(certs.server_cert), "--key", str(certs.server_key)],
                stdout=subprocess.PIPE, stderr=err, text=True)
        lines = []
        for line in self.process.stdout:  # ends when serve does
            lines.append(line)
            if line.startswith("ready: "):
                return
        self.process.wait()
        raise AssertionError(f"serve ended with {self.process.returncode}: {lines} {log.read_text()}")

    def requests(self):
        return [line for line in self.log.read_text().splitlines() if '"' in line]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)
        self.process.stdout.close()


@pytest.mark.parametrize("signed", [False, True], ids=["unsigned", "signed"])
def test_packed_release_installs_over_serve_and_the_client_starts(tmp_path, trusted_ca, install_root,
                                                                  key_pair, signed):
    app = write_app(tmp_path / "app")
    url = f"https://localhost:{winerig.GATEWAY_PORT}/releases/71/package.zip"
    release = tmp_path / "release"
    done = tool("pack", app, "--version", "71", "--url", url, "--out", release,
                *(["--key", key_pair[0]] if signed else []))
    assert done.returncode == 0, done.stderr
    # Another product on the same server: serve tells them apart by platform and type.
    other = tmp_path / "other"
    assert tool("pack", write_app(tmp_path / "other-app", {"index.html": b"other"}), "--version", "9",
                "--url", f"https://localhost:{winerig.GATEWAY_PORT}/other/9.zip", "--out", other,
                "--type", "5").returncode == 0
    # A launcher built with a key refuses an answer without a signature.
    installs = signed or winerig.package_private_key() is None

    folder = launcher.make_launcher_folder(tmp_path, "client app")
    server = Serve([other, release], trusted_ca, tmp_path / "serve.log")
    try:
        with launcher.RunningLauncher(folder) as run:
            dialog = launcher.Dialog().wait()
            expected = texts.STATUS_INSTALLED if installs else texts.STATUS_SERVER_ERROR
            assert launcher.eventually(dialog.status, expected) == expected
            if installs:
                dialog.click(launcher.ACTION)
                assert run.wait() == 1
    finally:
        server.stop()

    served = server.requests()
    assert [line.split('"')[1] for line in served] == \
        ["POST /gateway.php HTTP/1.1", "GET /releases/71/package.zip HTTP/1.1"][:2 if installs else 1], served
    if not installs:
        assert not (install_root / "app").exists() and not (install_root / "jsver.txt").exists()
        return
    installed = install_root / "app" / "71"
    assert {p.relative_to(installed).as_posix(): p.read_bytes() for p in installed.rglob("*") if p.is_file()} \
        == APP
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"71"}\r\n'
    launcher.eventually(lambda: len(launcher.launches(folder)), 1)
    assert [s["command_line"] for s in launcher.launches(folder)] == [
        f'"{winerig.winpath(folder)}\\erp.exe" "{launcher.install_root_windows()}\\app\\71"']


def test_packed_npm_like_tree_installs_from_res_dat_byte_for_byte_under_its_own_record(tmp_path, install_root):
    """A tree as npm leaves it on Linux, packed as a vendor packs it: links in
    node_modules/.bin and a linked package folder, stored as what they point to; a path
    past 300 characters; Chinese names; an empty folder whose parents have no entries."""
    tsc = "node_modules/typescript/bin/tsc"
    files = dict(APP, **{tsc: b"#!/usr/bin/env node\n", ziputil.deep_name(leaf="deep.js"): b"deep",
                         "说明/读我.txt": "中文".encode("utf-8")})
    app = write_app(tmp_path / "app", files)
    (app / "node_modules" / ".bin").mkdir()
    (app / "node_modules" / ".bin" / "tsc").symlink_to("../typescript/bin/tsc")
    (app / "node_modules" / "ts-alias").symlink_to("typescript")
    (app / "assets" / "empty" / "nested").mkdir(parents=True)
    files.update({"node_modules/.bin/tsc": files[tsc], "node_modules/ts-alias/bin/tsc": files[tsc]})
    release = tmp_path / "release"
    done = tool("pack", app, "--version", "5", "--platform", "8", "--type", "9",
                "--url", "https://updates.example.test/p/5.zip", "--out", release)
    assert (done.returncode, done.stderr) == (0, "")
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    shutil.copy(release / "res.dat", folder)
    shutil.copy(release / "jsver.txt", folder)
    # Nothing listens on the gateway port: a request would fail the install.
    with launcher.RunningLauncher(folder) as run:
        assert run.wait() == 1
    installed = install_root / "app" / "5"
    assert {p.relative_to(installed).as_posix(): p.read_bytes() for p in installed.rglob("*") if p.is_file()} \
        == files
    assert (installed / "assets" / "empty" / "nested").is_dir()
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"8","type":"9","ver":"5"}\r\n'
    launcher.eventually(lambda: len(launcher.launches(folder)), 1)
    assert launcher.launches(folder)[0]["command_line"].endswith('\\app\\5"')


def test_update_archive_holds_what_changed_and_turns_the_old_tree_into_the_new(tmp_path, key_pair):
    """update.exe -u of the update archive over the old application leaves the new one,
    byte for byte, but for the file the new one no longer has, which the tool names."""
    private, public = key_pair
    old_files = dict(APP, **{"js/gone.js": b"old only\n"})
    new_files = dict(APP, **{"index.html": b"<!doctype html><title>72</title>", "js/app.js": b"v72();\n",
                             "js/lib/new.js": b"new\n", "资源/说明.txt": b"utf-8 name\n"})
    old = write_app(tmp_path / "old", old_files)
    new = write_app(tmp_path / "new", new_files)
    (new / "logs" / "empty").mkdir(parents=True)

    made = [tool("update", old, new, "--version", "72", "--out", tmp_path / out, *extra)
            for out, extra in (("signed", ["--key", private]), ("again", []))]
    assert [m.returncode for m in made] == [0, 0], made[0].stderr + made[1].stderr
    assert made[0].stdout == f"{tmp_path / 'signed'}: update-72.zip, 2 changed, 2 new, signed\n"
    assert "js/gone.js" in made[0].stderr and "cannot remove" in made[0].stderr
    archive = tmp_path / "signed" / "update-72.zip"
    assert archive.read_bytes() == (tmp_path / "again" / "update-72.zip").read_bytes()
    assert sorted(os.listdir(tmp_path / "again")) == ["update-72.zip"]
    with zipfile.ZipFile(archive) as z:
        assert z.namelist() == ["index.html", "js/app.js", "js/lib/new.js", "logs/empty/", "资源/说明.txt"]
    signature = (tmp_path / "signed" / "update-72.zip.sig").read_text()
    assert len(signature) == 88
    assert zr.verify_bytes(public, b"update\n72\n" + hashlib.sha256(archive.read_bytes()).hexdigest().encode(),
                           signature)
    assert not zr.verify_bytes(public, b"update\n73\n" + hashlib.sha256(archive.read_bytes()).hexdigest().encode(),
                               signature)

    target = tmp_path / "installed"
    shutil.copytree(old, target)
    update_tool_rig.place_runtime(target)
    done = update_tool_rig.run_tool("-u", "0", "72", winerig.winpath(archive), winerig.winpath(target),
                                    cwd=tmp_path)
    assert done.returncode == 0
    update_tool_rig.wait_for_launches(target)
    tool_files = {target / "nw.exe", target / "launches.jsonl", target / "jsver.txt", target / "js" / "gone.js"}
    assert packages.tree_contents(target, skip=tool_files) == packages.tree_contents(new)
    assert (target / "js" / "gone.js").read_bytes() == b"old only\n"
    assert (target / "jsver.txt").read_bytes() == b"72"

    # Nothing to pack, or a folder that is in use: refused, and nothing is written.
    for args in ((old, old, "--out", tmp_path / "same"), (old, new, "--out", tmp_path / "signed")):
        refused = tool("update", *args, "--version", "72")
        assert refused.returncode == 2 and refused.stderr.startswith("zorvik-release: ")
    assert not (tmp_path / "same").exists()
    assert sorted(os.listdir(tmp_path / "signed")) == ["update-72.zip", "update-72.zip.sig"]
