"""Network installs ended by TerminateProcess at every stage, then started again
against a working gateway: each must end installed and consistent (the record names a
folder that holds the whole package, byte for byte, and nothing else) and leave
nothing behind that breaks a later install.

Where the launcher stands when it dies is pinned, not guessed: the package server
holds the download half-way; the debug-output listener holds the launcher at its next
log line after a given one; from such a point the launcher runs in short slices
between freezes (SIGSTOP) until the disk shows the stage half done, and what it left
is read while it is frozen. The kill itself is taskkill /F, which is TerminateProcess.

ZORVIK_FAULT_RUNS=n repeats every kill point n times (default 1).
"""
import dataclasses
import os
import time

import pytest

import launcher
import packages
import texts
import winerig
from gateway import Reply
from launcher import DEFAULT_QUERY
from packages import files_below

STATUS_EXTRACTED = texts.phase(texts.PHASE_EXTRACT, 100)
RUNS = int(os.environ.get("ZORVIK_FAULT_RUNS", "1"))
# A whole install of the bulky package on a loaded machine; only ever a bound.
INSTALL_WAIT = 180

APP = packages.bulky_app()
PACKAGE = packages.package(APP)
PACKAGE_NW = packages.app_zip(APP)
PACKAGE_PATH = "/packages/erp-71-full.zip"
LATER_APP = dict(packages.SAMPLE_APP, **{"js/app.js": b"console.log('72');\n"})
LATER_PACKAGE = packages.package(LATER_APP)
OLD_FILES = 3000

# Log lines the holds wait for; the launcher then waits at its next line.
ANSWER_WITH_URL = PACKAGE_PATH  # the answer; next: the download file's name, after the download
SECOND_EXTRACTION = "temp71---"  # the header of package.nw's extraction; next: the deletion's start
DELETE_START = texts.log_lead(texts.LOG_DELETE_START)  # next: the application's start, right before the rename
LOG_APPLY_START = texts.gbk(texts.log_lead(texts.LOG_APPLY_START))


@pytest.fixture
def gw(gateway_factory):
    return gateway_factory(port=winerig.GATEWAY_PORT)


def answer(url, version):
    return Reply.json({"code": 0, "result": {"url": url, "version": version}})


def size(path):
    return path.stat().st_size if path.exists() else -1


def count_files(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def make_old_folder(root):
    """app\\71 fully populated but without a record: what an earlier attempt leaves
    when it was killed after its rename, or a folder of a damaged install."""
    old = root / "app" / "71"
    for i in range(OLD_FILES):
        part = old / f"old{i % 40:02d}"
        part.mkdir(parents=True, exist_ok=True)
        (part / f"stale{i:04d}.dat").write_bytes(b"old version %d\n" % i)


def run_in_slices(run, reached):
    winerig.run_in_slices(run.process, reached, INSTALL_WAIT)


def wait_until(reached, what):
    assert launcher.eventually(reached, True, INSTALL_WAIT) is True, what


def at_end_of_second_extraction(root, dialog):
    """package.nw is unpacked whole: every file is in the staging folder and the last
    entry has been reported (a stale 100% of the first extraction cannot show while
    the second one has created all its files)."""
    staging = root / "app" / "temp71"
    return count_files(staging) == len(APP) and dialog.status() == STATUS_EXTRACTED


@dataclasses.dataclass
class KillPoint:
    name: str
    hold: str = None  # the log line the launcher is held after
    old_folder: bool = False  # app\71 exists, populated, without a record
    held_download: bool = False


def reach_download(run, debug, root, dialog):
    pack = root / "download" / "pack"
    wait_until(lambda: dialog.status().startswith(texts.PHASE_DOWNLOAD), "no download progress shown")
    wait_until(lambda: size(pack) > 0, "nothing downloaded")
    run.freeze()
    assert 0 < size(pack) < len(PACKAGE)
    assert not (root / "download" / "package.nw").exists()


def reach_first_extraction(run, debug, root, dialog):
    pack = root / "download" / "pack"
    package_nw = root / "download" / "package.nw"
    wait_until(debug.held, "the answer never came")
    # Held after the download: the file is whole and closed before the next line.
    wait_until(lambda: size(pack) == len(PACKAGE), "the download did not end")
    # package.nw is written as a new file beside its place, renamed into it once whole.
    written = lambda: sum(size(p) for p in package_nw.parent.glob("~unpack*.tmp"))  # noqa: E731
    run.freeze()
    debug.release()
    run_in_slices(run, lambda: written() > 0)
    assert 0 < written() < len(PACKAGE_NW)
    assert not package_nw.exists()
    assert not (root / "app").exists()


def reach_second_extraction(run, debug, root, dialog):
    staging = root / "app" / "temp71"
    wait_until(lambda: count_files(staging) >= len(APP) // 4, "the second extraction did not start")
    run.freeze()
    assert len(APP) // 4 <= count_files(staging) < len(APP)
    assert size(root / "download" / "package.nw") == len(PACKAGE_NW)


def reach_end_of_second_extraction(run, debug, root, dialog):
    wait_until(debug.held, "the second extraction did not start")
    wait_until(lambda: at_end_of_second_extraction(root, dialog), "the second extraction did not end")
    run.freeze()
    assert files_below(root / "app" / "temp71") == APP
    assert count_files(root / "app" / "71") == OLD_FILES


def reach_deletion(run, debug, root, dialog):
    reach_end_of_second_extraction(run, debug, root, dialog)
    debug.release()
    run_in_slices(run, lambda: count_files(root / "app" / "71") < OLD_FILES)
    assert 0 < count_files(root / "app" / "71") < OLD_FILES
    assert files_below(root / "app" / "temp71") == APP


def reach_rename(run, debug, root, dialog):
    wait_until(debug.held, "the deletion did not start")
    # The start folder goes last; then the next line waits, and the rename after it.
    wait_until(lambda: not (root / "app" / "71").exists(), "the deletion did not end")
    run.freeze()
    assert files_below(root / "app" / "temp71") == APP
    assert LOG_APPLY_START not in b"".join(text for _, text in debug.records())


KILL_POINTS = {
    "download": (KillPoint("download", held_download=True), reach_download),
    "first-extraction": (KillPoint("first-extraction", hold=ANSWER_WITH_URL), reach_first_extraction),
    "second-extraction": (KillPoint("second-extraction"), reach_second_extraction),
    "after-second-extraction": (KillPoint("after-second-extraction", hold=SECOND_EXTRACTION, old_folder=True),
                                reach_end_of_second_extraction),
    "deletion": (KillPoint("deletion", hold=SECOND_EXTRACTION, old_folder=True), reach_deletion),
    "before-rename": (KillPoint("before-rename", hold=DELETE_START, old_folder=True), reach_rename),
}


def expect_install(gw, ver, body, package_path, held=False):
    gw.expect("POST", "/gateway.php", body=body, reply=answer(gw.url(package_path), ver))
    gw.expect("GET", package_path, reply=Reply(body=PACKAGE if ver == "71" else LATER_PACKAGE,
                                               hold_after=len(PACKAGE) // 2 if held else None))


def install_and_check(folder, root, ver, files):
    """Runs the launcher to the end of an install and checks what it left."""
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        status = launcher.eventually(dialog.status, texts.STATUS_INSTALLED, INSTALL_WAIT)
        assert status == texts.STATUS_INSTALLED
        dialog.click(launcher.CANCEL)
        assert run.wait() == 0
    record = ('{"platform":"2","type":"1","ver":"%s"}\r\n' % ver).encode()
    assert (root / "jsver.txt").read_bytes() == record
    assert files_below(root / "app" / ver) == files
    assert not (root / "app" / f"temp{ver}").exists()


@pytest.mark.parametrize("run_number", range(RUNS), ids=lambda n: f"run{n + 1}")
@pytest.mark.parametrize("kill_point", list(KILL_POINTS))
def test_install_killed_at_a_stage_ends_installed_on_the_next_start(tmp_path, gw, install_root,
                                                                    kill_point, run_number):
    point, reach = KILL_POINTS[kill_point]
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    if point.old_folder:
        make_old_folder(install_root)
    expect_install(gw, "71", DEFAULT_QUERY, PACKAGE_PATH, held=point.held_download)

    with launcher.debug_output(tmp_path, hold=point.hold) as debug:
        with launcher.RunningLauncher(folder) as run:
            windows_pid = debug.first_pid()
            dialog = launcher.Dialog().wait()
            reach(run, debug, install_root, dialog)
            run.terminate(windows_pid)
    assert launcher.probe_status("gone", texts.DIALOG, launcher.WAIT_SECONDS * 1000) == 0
    assert not (install_root / "jsver.txt").exists()
    assert launcher.launches(folder) == []

    # The next start with a working gateway installs over whatever was left.
    expect_install(gw, "71", DEFAULT_QUERY, PACKAGE_PATH)
    install_and_check(folder, install_root, "71", APP)

    # And what is left then does not stand in the way of a later install.
    (install_root / "jsver.txt").unlink()
    expect_install(gw, "72", DEFAULT_QUERY, "/packages/erp-72.zip")
    install_and_check(folder, install_root, "72", LATER_APP)
    assert files_below(install_root / "app" / "71") == APP
