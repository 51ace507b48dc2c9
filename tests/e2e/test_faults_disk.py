"""The disk refusing a change: a read-only file in the version folder the launcher
replaces; a file an earlier run left in the download or staging folder that can no
longer be written over; a disk that fills up during the download; a file the running
client holds open where `update.exe -n` moves files. Each ends in the documented failure, and no file of the installed
version is lost or cut short: every one is whole, old or new, in the installed folder
or still in the folder it was to come from; nothing old is installed as new."""
import contextlib
import os
import stat

import pytest

import launcher
import packages
import texts
import winerig
from gateway import Reply
from launcher import DEFAULT_QUERY
from packages import files_below
from update_tool_rig import KEYED, launches, place_runtime, run_tool, wait_for_launches


def write_files(folder, files):
    for name, data in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)


@pytest.fixture
def gw(gateway_factory):
    return gateway_factory(port=winerig.GATEWAY_PORT)


def test_read_only_file_in_the_replaced_folder_fails_the_apply_and_loses_nothing(tmp_path, gw, install_root):
    # Version 70 is installed but its record is damaged, so the launcher installs
    # again; the gateway offers 71, whose folder an earlier attempt left behind with
    # a file the user made read-only.
    installed = {"index.html": b"version 70", "js/app.js": b"console.log(70);"}
    write_files(install_root / "app" / "70", installed)
    damaged = b'{"platform":"2","type":"1","ver":"70"'
    launcher.write_record(raw=damaged)
    old = {"index.html": b"old 71", "js/app.js": b"old", "js/vendor/lib.js": b"read-only library"}
    write_files(install_root / "app" / "71", old)
    read_only = install_root / "app" / "71" / "js" / "vendor" / "lib.js"
    os.chmod(read_only, stat.S_IRUSR)  # wine shows a file without write permission as read-only
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=Reply.json({"code": 0, "result": {"url": gw.url("/p.zip"), "version": "71"}}))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    staging_windows = launcher.install_root_windows() + "\\app\\temp71"
    try:
        with launcher.debug_output(tmp_path) as debug:
            with launcher.RunningLauncher(folder) as run:
                dialog = launcher.Dialog().wait()
                assert launcher.eventually(dialog.status, texts.STATUS_APPLY_FAILED) == texts.STATUS_APPLY_FAILED
                assert dialog.button() == texts.CAPTION_OK
                pid = debug.first_pid()
                messages = debug.messages(pid, logged_only=True)
                apply_start = texts.gbk(texts.LOG_APPLY_START % staging_windows)
                assert messages[-2:] == [apply_start, texts.gbk(texts.LOG_APPLY_FAILED)], messages[-4:]

                # Final: the button neither retries nor starts anything.
                dialog.click(launcher.ACTION)
                assert launcher.probe_status("wait", texts.UNPACK_FAILED_BOX, 1500) == 1
                assert (dialog.status(), dialog.button()) == (texts.STATUS_APPLY_FAILED, texts.CAPTION_OK)
                assert run.running() and launcher.launches(folder) == []
                dialog.click(launcher.CANCEL)
                assert run.wait() == 0
        # The installed version and its record are as they were; the new files wait
        # whole in the staging folder; of the replaced folder only the read-only file
        # is left, as it was.
        assert files_below(install_root / "app" / "70") == installed
        assert (install_root / "jsver.txt").read_bytes() == damaged
        assert files_below(install_root / "app" / "temp71") == packages.SAMPLE_APP
        assert files_below(install_root / "app" / "71") == {"js/vendor/lib.js": old["js/vendor/lib.js"]}
    finally:
        os.chmod(read_only, stat.S_IRUSR | stat.S_IWUSR)

    # Once the file may be deleted, the next start installs.
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=Reply.json({"code": 0, "result": {"url": gw.url("/p.zip"), "version": "71"}}))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        assert launcher.eventually(dialog.status, texts.STATUS_INSTALLED) == texts.STATUS_INSTALLED
        dialog.click(launcher.CANCEL)
        assert run.wait() == 0
    assert files_below(install_root / "app" / "71") == packages.SAMPLE_APP
    assert not (install_root / "app" / "temp71").exists()
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"71"}\r\n'
    assert files_below(install_root / "app" / "70") == installed


@pytest.mark.skipif(KEYED, reason="a build with a package key moves no unsigned files")
def test_move_onto_a_file_the_running_client_holds_is_undone_and_loses_nothing(tmp_path):
    installed = tmp_path / "install"
    staged = tmp_path / "staged"
    place_runtime(installed, sleeping=True)
    old = {"index.html": b"index of 2.4.9", "app.js": b"app of 2.4.9, longer than the new one",
           "style.css": b"style of 2.4.9", "jsver.txt": b"2.4.9"}
    new = {"index.html": b"index of 2.5.0", "app.js": b"app of 2.5.0", "style.css": b"style of 2.5.0",
           "added.txt": b"new in 2.5.0"}
    write_files(installed, old)
    write_files(staged, new)
    # (A read-only app.js would do on Windows; wine lets root replace it.)
    (installed / "stub-hold").write_text("app.js")  # the client keeps its app.js open
    client = winerig.start([installed / "nw.exe"], cwd=installed)
    try:
        first = wait_for_launches(installed)
        assert len(first) == 1, "the client did not start holding app.js"
        # The runtime the tool starts again records itself and ends.
        (installed / "stub-sleep").unlink()

        result = run_tool("-n", "2.5.0", winerig.winpath(staged), winerig.winpath(installed),
                          "index.html", "added.txt", "app.js", "style.css", cwd=tmp_path)

        # The swap waits for the held file a while, then puts everything back and
        # names it; the runtime is started all the same.
        assert (result.returncode, result.stdout) == (0, texts.console(texts.NOT_REPLACED % "app.js"))
        assert len(wait_for_launches(installed, count=2)) == 2
        assert client.poll() is None  # the running client was left alone
        names_in_target = files_below(installed)
        # Nothing of 2.5.0 stays in the target, and nothing of it is lost: every new
        # file is back where it came from, and the record keeps the installed version.
        assert {name: names_in_target[name] for name in old} == old
        assert "added.txt" not in names_in_target
        assert files_below(staged) == new
        assert sorted(p.name for p in tmp_path.iterdir()) == ["install", "staged"]
    finally:
        records = launches(installed)
        if records:
            winerig.run(["taskkill", "/F", "/PID", str(records[0]["pid"])])
        client.wait(timeout=launcher.WAIT_SECONDS)


@contextlib.contextmanager
def held_open(folder, path):
    """A stub runtime in `folder` keeps `path` open, sharing only its reading."""
    place_runtime(folder, sleeping=True)
    (folder / "stub-hold").write_text(winerig.winpath(path) + "\nr")
    holder = winerig.start([folder / "nw.exe"], cwd=folder)
    try:
        records = wait_for_launches(folder)
        assert records, "the stub runtime could not open " + str(path)
        yield
    finally:
        records = launches(folder)
        if records:
            winerig.run(["taskkill", "/F", "/PID", str(records[0]["pid"])])
        holder.wait(timeout=launcher.WAIT_SECONDS)


@pytest.mark.parametrize("how", ["read-only", "held-open"])
@pytest.mark.parametrize("stale, log", [
    ("download/pack", texts.LOG_UNPACK_FAILED),
    ("download/package.nw", texts.LOG_UNPACK_FAILED),
    ("app/temp72/js/app.js", texts.LOG_EXTRACT_FAILED),
], ids=["pack", "package.nw", "staging"])
def test_left_over_that_cannot_be_replaced_is_never_installed(tmp_path, gw, install_root, stale, log, how):
    # An earlier install of 71 left its download behind, and an attempt at 72 was
    # killed half-way through its staging folder with the old app.js and a file the
    # package does not hold in it; one of these files can no longer be written over.
    # With the record gone the gateway offers 72: nothing of the old package may be
    # installed under the new version, then or once the fault is gone.
    old_app = dict(packages.SAMPLE_APP, **{"js/app.js": b"console.log(71);"})
    new_app = dict(packages.SAMPLE_APP, **{"js/app.js": b"console.log(72);"})
    write_files(install_root, {"download/pack": packages.package(old_app),
                               "download/package.nw": packages.app_zip(old_app),
                               "app/temp72/js/app.js": old_app["js/app.js"],
                               "app/temp72/js/stray.js": b"not in any package"})
    for _ in range(2):
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
                  reply=Reply.json({"code": 0, "result": {"url": gw.url("/p72.zip"), "version": "72"}}))
        gw.expect("GET", "/p72.zip", reply=Reply(packages.package(new_app)))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    with contextlib.ExitStack() as fault:
        if how == "read-only":
            os.chmod(install_root / stale, stat.S_IRUSR)
            fault.callback(os.chmod, install_root / stale, stat.S_IRUSR | stat.S_IWUSR)
        else:
            fault.enter_context(held_open(tmp_path / "holder", install_root / stale))
        with launcher.debug_output(tmp_path) as debug:
            with launcher.RunningLauncher(folder) as run:
                dialog = launcher.Dialog().wait()
                status = launcher.eventually(dialog.status, texts.STATUS_UNPACK_FAILED)
                assert status == texts.STATUS_UNPACK_FAILED, files_below(install_root / "app")
                assert dialog.button() == texts.CAPTION_OK
                assert texts.gbk(log) in debug.messages(debug.first_pid(), logged_only=True)
                dialog.click(launcher.CANCEL)
                assert run.wait() == 0
        assert not (install_root / "app" / "72").exists()
        assert not (install_root / "jsver.txt").exists()

    # Once the file may be replaced again, the next start installs the new package.
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        assert launcher.eventually(dialog.status, texts.STATUS_INSTALLED) == texts.STATUS_INSTALLED
        dialog.click(launcher.CANCEL)
        assert run.wait() == 0
    assert files_below(install_root / "app" / "72") == new_app


def test_disk_that_fills_during_the_download_is_a_failed_download(tmp_path, gw, install_root):
    # The package (or a server that never stops sending) outgrows the disk: the write
    # fails, and the file it cut short is deleted before anything could unpack it.
    body = os.urandom(1024 * 1024)
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=Reply.json({"code": 0, "result": {"url": gw.url("/big.zip"), "version": "71"}}))
    gw.expect("GET", "/big.zip", reply=Reply(body))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    with winerig.small_disk_at(install_root, 256 * 1024):
        with launcher.RunningLauncher(folder) as run:
            dialog = launcher.Dialog().wait()
            status = launcher.eventually(dialog.status, texts.STATUS_UPDATE_FAILED)
            assert (status, dialog.button()) == (texts.STATUS_UPDATE_FAILED, texts.CAPTION_RETRY)
            assert files_below(install_root) == {}
            dialog.click(launcher.CANCEL)
            assert run.wait() == 0
