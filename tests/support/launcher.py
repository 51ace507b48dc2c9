"""Driving ZorvikUpdate.exe in end-to-end tests.

A test gets a launcher folder of its own (the launcher and the stub runtime erp.exe
copied in), writes the version record into the install root, starts the launcher and
then sees and presses its windows only through the UI probe, like a user. The install
root lies in the prefix's per-user folder, so it is shared by every test of a build:
tests that use it run one at a time and clean it before and after (`install_root`
fixture in the test modules).
"""
import contextlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

import texts
import winerig

LAUNCHER = winerig.BIN / "ZorvikUpdate.exe"
RUNTIME = winerig.BIN / "erp.exe"
PROBE = winerig.BIN / "ui_probe.exe"
LISTENER = winerig.BIN / "debug_listener.exe"
ARTIFACTS = winerig.BUILD / "test-artifacts"

# Controls of the update dialog.
PROGRESS = 1000
STATUS = 1008
ACTION = 1009
CANCEL = 1010
ABOUT_OK = 1

# The query a launcher sends with the record's defaults (no record, or none that loads).
DEFAULT_QUERY = b"a=getVersionConfig&m=Platform&platform=2&type=1&version=70"

LOG_PREFIX = re.compile(rb"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ")

# Ample for a loaded machine; only ever a limit on waiting, never a measurement.
WAIT_SECONDS = 30


def install_root():
    """The launcher's install root as a Linux path."""
    return winerig.local_appdata() / "tarnvaleerp"


def install_root_windows():
    """The install root as the launcher names it: the short form of the per-user local
    application-data folder (its names are all valid 8.3 names in a wine prefix)."""
    user = os.environ.get("USER", "root")
    return f"C:\\users\\{user}\\AppData\\Local\\tarnvaleerp"


# Where the shell finds the user's folders: it reads the first key and writes what it
# resolved into the second.
SHELL_FOLDER_KEYS = (r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders",
                     r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders")


def _reg(*args):
    result = winerig.run(["reg", *args])
    assert result.returncode == 0, f"reg {args[0]} failed with {result.returncode}"


@contextlib.contextmanager
def local_appdata_at(*names):
    """Makes the folder C:\\users\\<user>\\<names...> and makes it the user's local
    application-data folder while the block runs; yields its Linux path. Afterwards
    both shell-folder keys are as they were and the folder is gone."""
    user = os.environ.get("USER", "root")
    profile = winerig.local_appdata().parents[1]
    folder = profile.joinpath(*names)
    folder.mkdir(parents=True, exist_ok=True)
    saved = pathlib.Path(tempfile.mkdtemp(dir=winerig.BUILD))
    backups = [saved / f"{n}.reg" for n in range(len(SHELL_FOLDER_KEYS))]
    try:
        for key, backup in zip(SHELL_FOLDER_KEYS, backups):
            _reg("export", key, winerig.winpath(backup), "/y")
        _reg("add", SHELL_FOLDER_KEYS[0], "/v", "Local AppData", "/t", "REG_EXPAND_SZ",
             "/d", "\\".join(["C:", "users", user, *names]), "/f")
        yield folder
    finally:
        for backup in backups:
            if backup.exists():
                _reg("import", winerig.winpath(backup))
        shutil.rmtree(saved, ignore_errors=True)
        shutil.rmtree(profile / names[0], ignore_errors=True)


def clean_install_root():
    shutil.rmtree(install_root(), ignore_errors=True)


def write_record(ver="70", platform="2", type_="1", raw=None):
    """Writes jsver.txt into the install root: the launcher's one-line record, or `raw`
    bytes. Texts are written in GBK, the prefix's ANSI code page."""
    root = install_root()
    root.mkdir(parents=True, exist_ok=True)
    if raw is None:
        line = f'{{"platform":"{platform}","type":"{type_}","ver":"{ver}"}}\r\n'
        raw = line.encode("gbk")
    (root / "jsver.txt").write_bytes(raw)


def make_launcher_folder(parent, name="launcher", runtime=True):
    """A folder holding ZorvikUpdate.exe and, unless told otherwise, the stub erp.exe."""
    folder = pathlib.Path(parent) / name
    folder.mkdir(parents=True)
    shutil.copy(LAUNCHER, folder / LAUNCHER.name)
    if runtime:
        shutil.copy(RUNTIME, folder / "erp.exe")
    return folder


def launches(folder):
    """The starts the stub runtime (erp.exe or nw.exe) in `folder` recorded, oldest
    first."""
    log = pathlib.Path(folder) / "launches.jsonl"
    if not log.exists():
        return []
    return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]


# What the probe may do twice: readings, and waits (whose own exit code 1 comes with a
# line on standard error). A press or a keystroke never runs again.
REPEATABLE = ("text", "progress", "visible", "wait", "gone")


def probe(*args, check=True, timeout=90):
    """Runs the UI probe; returns its stdout (UTF-8 text) without the final line end."""
    run = winerig.run_again_if_ended_by_wine if args[0] in REPEATABLE else winerig.run
    result = run([PROBE, *map(str, args)], timeout=timeout)
    if check and result.returncode != 0:
        raise AssertionError(f"ui_probe {' '.join(map(str, args))} failed with "
                             f"{result.returncode}: {result.stderr.decode(errors='replace')}")
    return result.stdout.decode("utf-8").rstrip("\n")


def probe_status(*args, timeout=90):
    """The exit code of a wait or gone (0 done, 1 timeout); a run wine ended twice
    fails the test rather than pass for a timeout."""
    assert args[0] in ("wait", "gone"), args
    result = winerig.run_again_if_ended_by_wine([PROBE, *map(str, args)], timeout=timeout)
    assert result.returncode != 1 or result.stderr, f"ui_probe {args[0]} ended by wine twice"
    return result.returncode


def launch_and_watch(folder):
    """Starts the launcher in `folder` through the probe, which watches for any window
    it shows until it ends. Returns (exit code, Windows process id, window captions)."""
    out = probe("launch", pathlib.Path(folder) / LAUNCHER.name, timeout=120).splitlines()
    match = re.fullmatch(r"exit=(\S+) pid=(\d+) windows=(\d+)", out[0])
    assert match, out
    captions = [line[len("window="):] for line in out[1:]]
    assert len(captions) == int(match.group(3))
    code = match.group(1)
    return (int(code) if code != "timeout" else code), int(match.group(2)), captions


def eventually(read, expected, seconds=WAIT_SECONDS):
    """Reads until `read()` gives `expected`; returns the last value read, so the
    caller's assertion shows what was there instead."""
    end = time.monotonic() + seconds
    value = read()
    while value != expected and time.monotonic() < end:
        time.sleep(0.2)
        value = read()
    return value


class Dialog:
    """The update dialog of a running launcher, seen through the probe."""

    def __init__(self, caption=texts.DIALOG):
        self.caption = caption

    def wait(self):
        assert probe_status("wait", self.caption, WAIT_SECONDS * 1000) == 0, \
            f"no window {self.caption!r}; {RunningLauncher.state_of_latest()}"
        return self

    def text(self, control=None):
        return probe("text", self.caption, *([control] if control is not None else []))

    def status(self):
        return self.text(STATUS)

    def button(self):
        return self.text(ACTION)

    def progress(self):
        """(position, low, high) of the progress bar."""
        return tuple(int(n) for n in probe("progress", self.caption, PROGRESS).split())

    def visible(self):
        return probe("visible", self.caption) == "1"

    def click(self, control):
        probe("click", self.caption, control)

    def close(self):
        probe("close", self.caption)

    def keys(self, keys):
        probe("keys", self.caption, keys)


class RunningLauncher:
    """A launcher started in the background; killed on exit if it still runs."""

    latest = None

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        self.process = winerig.start([self.folder / LAUNCHER.name], cwd=self.folder)
        RunningLauncher.latest = self

    @classmethod
    def state_of_latest(cls):
        """What became of the last launcher started, for a failure's message: one that
        ended without a window took another road or failed early, one that still runs
        is held up."""
        if cls.latest is None:
            return "no launcher was started"
        code = cls.latest.process.poll()
        return "the launcher still runs" if code is None else f"the launcher ended with {code}"

    def wait(self, seconds=WAIT_SECONDS):
        """The exit code, once the launcher has ended."""
        return self.process.wait(timeout=seconds)

    def running(self):
        return self.process.poll() is None

    def freeze(self):
        """Stops the launcher where it stands (see winerig.freeze). Never probe a
        frozen launcher: the probe's messages would wait for it."""
        winerig.freeze(self.process, WAIT_SECONDS)

    def thaw(self):
        winerig.thaw(self.process)

    def terminate(self, windows_pid):
        """Ends the launcher the way TerminateProcess does (taskkill /F), frozen or
        not, and returns its exit code."""
        result = winerig.run(["taskkill", "/F", "/PID", str(windows_pid)])
        assert result.returncode == 0, result.stderr
        self.thaw()
        return self.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@contextlib.contextmanager
def debug_output(folder, hold=None):
    """Listens to the debug output while the block runs; yields a DebugRecords whose
    `records()` parses what arrived so far.

    hold: a text; after the first log line that contains it, every program that logs
    waits in its next log call until `release()` (or the end of the block)."""
    out = pathlib.Path(folder) / "debug-output.bin"
    listener = winerig.start([LISTENER, winerig.winpath(out), *(["--hold", hold] if hold else [])])
    records = DebugRecords(out)
    try:
        end = time.monotonic() + WAIT_SECONDS
        while not out.with_name(out.name + ".ready").exists():
            assert listener.poll() is None, "debug listener ended"
            assert time.monotonic() < end, "debug listener not ready"
            time.sleep(0.05)
        yield records
    finally:
        out.with_name(out.name + ".stop").touch()
        try:
            listener.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            listener.kill()
            listener.wait()


class DebugRecords:
    def __init__(self, path):
        self.path = path

    def held(self):
        """True once the hold text arrived and the hold is in place: the next log call
        of its writer waits."""
        assert not self.path.with_name(self.path.name + ".missed").exists(), \
            "the line after the hold text came at once and passed: hold at another line"
        return self.path.with_name(self.path.name + ".held").exists()

    def release(self):
        self.path.with_name(self.path.name + ".release").touch()

    def first_pid(self, seconds=WAIT_SECONDS):
        """The Windows process id of the first program that logged."""
        assert eventually(lambda: bool(self.records()), True, seconds), "nothing was logged"
        return self.records()[0][0]

    def records(self, pid=None):
        """[(pid, bytes)] in arrival order, optionally of one process only."""
        data = self.path.read_bytes() if self.path.exists() else b""
        found = []
        at = 0
        while True:
            header_end = data.find(b"\n", at)
            if header_end < 0:
                break
            record_pid, length = (int(n) for n in data[at:header_end].split())
            body_end = header_end + 1 + length
            if body_end + 1 > len(data):
                break  # still being written
            found.append((record_pid, data[header_end + 1:body_end]))
            at = body_end + 1
        return [r for r in found if pid is None or r[0] == pid]

    def messages(self, pid, logged_only=False):
        """The messages of one process with their time-stamp prefix checked and cut.
        logged_only: the launcher's own log lines alone; the raw texts of the query
        (record values, the answer) carry no time stamp and are left out."""
        out = []
        for _, line in self.records(pid):
            stamped = LOG_PREFIX.match(line)
            assert stamped or logged_only, line
            if stamped:
                out.append(line[22:])
        return out


def screenshot(name, folder=ARTIFACTS):
    """Saves the whole display as <folder>/<name>.png (test-artifacts/ by default) for
    a person to look at, and returns its path; a missing screenshot never fails a test."""
    folder.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, DISPLAY=winerig.wine_env()["DISPLAY"])
    subprocess.run(["import", "-window", "root", str(folder / f"{name}.png")],
                   env=env, capture_output=True, timeout=60)
    return folder / f"{name}.png"
