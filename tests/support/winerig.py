"""Running the build's Windows programs under wine from Python tests.

Everything goes through the build's wine-run wrapper, so the tests share its prefix,
its persistent wineserver and its Xvfb display.
"""
import contextlib
import os
import pathlib
import re
import signal
import subprocess
import time
import warnings

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("ZORVIK_BUILD", REPO / "build" / "win32")).resolve()
BIN = BUILD / "bin"
WINE_RUN = BUILD / "wine-run"


def _gateway_port():
    """The port of the gateway URL compiled into this build (a build of its own may
    move it, so that two builds' tests can run side by side)."""
    try:
        cache = (BUILD / "CMakeCache.txt").read_text(errors="replace")
    except OSError:
        return 47443
    found = re.search(r"^ZORVIK_GATEWAY_URL:\w+=\w+://[^:/]+:(\d+)/", cache, re.M)
    return int(found.group(1)) if found else 47443


GATEWAY_PORT = _gateway_port()


def package_private_key(which=0):
    """The private half of the package key the build's launcher checks signatures
    with (which=1: of the second key it checks, the next one), or None for a build
    without one. Only the pairs the build made for itself count, and only while the
    build uses them: a folder left from an earlier configure must not make the tests
    sign for a launcher that checks nothing."""
    names = [("private.pem", "public.pem"), ("next-private.pem", "next-public.pem")][which]
    key = BUILD / "package-key" / names[0]
    try:
        cache = (BUILD / "CMakeCache.txt").read_text(errors="replace")
    except OSError:
        return None
    used = re.search(r"^ZORVIK_PACKAGE_KEY:\w+=(.*)$", cache, re.M)
    keys = used.group(1).strip().split(";") if used else []
    own = len(keys) > which and keys[which] == str(BUILD / "package-key" / names[1])
    return key if own and key.is_file() else None


def winpath(path):
    """The Windows name of a Linux path, as wine maps the root on drive Z:."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def wine_env():
    out = subprocess.run([str(WINE_RUN), "--env"], check=True, capture_output=True, text=True).stdout
    env = dict(os.environ)
    for line in out.splitlines():
        name, _, value = line[len("export "):].partition("=")
        # --env prints shell-quoted values; ours never need more than plain unquoting.
        env[name] = value.strip("'")
    return env


def prepare():
    subprocess.run([str(WINE_RUN), "--prepare"], check=True)


def run(args, cwd=None, timeout=60, env=None, **kwargs):
    """Runs a Windows program (Linux path or name in bin/) and waits for it."""
    return subprocess.run([str(WINE_RUN), *map(str, args)], cwd=cwd, timeout=timeout,
                          env=env, capture_output=True, **kwargs)


def run_again_if_ended_by_wine(args, **kwargs):
    """run() for a program that never ends with exit code 1 before a byte of output.
    Wine gives exactly that result to a process it cannot start or ends from outside:
    a heap placed on its fixed addresses did so (wine-run now starts every program
    unrandomized), a wineserver protocol error does too. Such a run says nothing
    about the program, so it runs once more, and the warning summary says so."""
    start = time.monotonic()
    result = run(args, **kwargs)
    if result.returncode == 1 and not result.stdout and not result.stderr:
        warnings.warn("%s ended by wine with exit code 1 and no output after %.1f s; run again"
                      % (" ".join(map(str, [pathlib.Path(str(args[0])).name, *args[1:]])),
                         time.monotonic() - start))
        result = run(args, **kwargs)
    return result


def start(args, cwd=None, env=None, **kwargs):
    """Starts a Windows program without waiting; the caller owns the Popen.

    Its output goes nowhere unless the caller says otherwise: a pipe that nobody
    drains stops the program once it is full (the launcher prints a line for every
    archive entry it extracts), and wine's services would inherit it."""
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    kwargs.setdefault("stderr", subprocess.DEVNULL)
    return subprocess.Popen([str(WINE_RUN), *map(str, args)], cwd=cwd, env=env, **kwargs)


def local_appdata():
    """The prefix's per-user local application-data folder (a Linux path)."""
    users = BUILD / "wineprefix" / "drive_c" / "users"
    return users / os.environ.get("USER", "root") / "AppData" / "Local"


@contextlib.contextmanager
def small_disk_at(folder, size):
    """A tmpfs of `size` bytes mounted at `folder`, so writes below it fail once it is full."""
    import pytest
    folder.mkdir(parents=True, exist_ok=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"no tmpfs can be mounted here: {mounted.stderr.strip()}")
    try:
        yield
    finally:
        subprocess.run(["umount", str(folder)], check=True)


def freeze(process, seconds=30):
    """Stops every thread of a program started with start() where it stands (SIGSTOP
    to its wine process, which wine-run execs), and returns once all of them have
    stopped, so that what it left on disk can be read as it is."""
    os.kill(process.pid, signal.SIGSTOP)
    tasks = pathlib.Path(f"/proc/{process.pid}/task")
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        states = []
        for task in tasks.iterdir():
            try:
                # "pid (name) state ...": the name may hold blanks and parentheses.
                states.append((task / "stat").read_text().rsplit(")", 1)[1].split()[0])
            except (OSError, IndexError):
                pass  # a thread that ended meanwhile
        if all(state in "tTZX" for state in states):
            return
        time.sleep(0.001)
    raise AssertionError("the program did not stop")


def thaw(process):
    os.kill(process.pid, signal.SIGCONT)


def run_in_slices(process, reached, seconds=180, slice_seconds=0.001):
    """Lets the frozen program run in short slices until `reached()` is true of what
    it left on disk, and leaves it frozen there."""
    end = time.monotonic() + seconds
    while not reached():
        assert time.monotonic() < end, "the program never reached the stage"
        assert process.poll() is None, "the program ended before it reached the stage"
        thaw(process)
        time.sleep(slice_seconds)
        freeze(process)
