"""Running the build's Windows programs under wine from Python tests.

Everything goes through the build's wine-run wrapper, so the tests share its prefix,
its persistent wineserver and its Xvfb display.
"""
import os
import pathlib
import re
import signal
import subprocess
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("ZORVIK_BUILD", REPO / "build" / "win64")).resolve()
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
    """Runs a Windows program (Linux path or name in bin/) and waits for it. A program
    that outlives `timeout` is ended, the 32-bit program itself too, not only wine's
    starter, and TimeoutExpired is raised as subprocess.run raises it."""
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.PIPE)
    with start(args, cwd=cwd, env=env, **kwargs) as process:
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise
    return subprocess.CompletedProcess(process.args, process.returncode, out, err)


def start(args, cwd=None, env=None, **kwargs):
    """Starts a Windows program without waiting; the caller owns the Popen.

    Its output goes nowhere unless the caller says otherwise: a pipe that nobody
    drains stops the program once it is full (the launcher prints a line for every
    archive entry it extracts), and wine's services would inherit it."""
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    kwargs.setdefault("stderr", subprocess.DEVNULL)
    return WineProcess(args, cwd=cwd, env=env, **kwargs)


def _image_of(program):
    """The Windows path a program's process shows as its first argument, or None for
    a program named without a path (wine's own, such as taskkill)."""
    text = str(program)
    return winpath(text).lower() if "/" in text else None


def _processes_running(image):
    """{Linux pid: start time} of this prefix's processes whose first argument is
    `image`, a lower-case Windows path."""
    found = {}
    prefix = f"WINEPREFIX={BUILD / 'wineprefix'}".encode()
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv0 = (entry / "cmdline").read_bytes().split(b"\0", 1)[0]
            if argv0.decode(errors="replace").lower() != image:
                continue
            if prefix not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            # "pid (name) state ppid ...": the start time is the 22nd field.
            found[int(entry.name)] = int((entry / "stat").read_text().rsplit(")", 1)[1].split()[19])
        except (OSError, IndexError, ValueError):
            pass  # ended meanwhile
    return found


class WineProcess(subprocess.Popen):
    """A Windows program started through wine-run.

    A 64-bit program runs in the process wine-run execs, so `pid` is the program's.
    wine64 runs a 32-bit program in a Linux process of its own, started through a
    64-bit start.exe that only waits for it: signals and kills sent to `pid` would
    reach that starter and leave the program running. `program_pid()` is the Linux
    process that runs the program's own code, whichever the build."""

    def __init__(self, args, **kwargs):
        self._image = _image_of(args[0])
        self._before = set(_processes_running(self._image)) if self._image else set()
        self._program_pid = None
        super().__init__([str(WINE_RUN), *map(str, args)], **kwargs)

    def program_pid(self, seconds=30):
        """The Linux pid of the program itself, once it has started; waits for it."""
        if self._program_pid is None:
            self._program_pid = self._find_program(seconds)
        return self._program_pid

    def _find_program(self, seconds):
        if self._image is None:
            return self.pid
        end = time.monotonic() + seconds
        while True:
            new = {pid: started for pid, started in _processes_running(self._image).items()
                   if pid not in self._before}
            if new:
                return min(new, key=new.get)
            if self.poll() is not None or time.monotonic() > end:
                raise AssertionError(f"{self._image}: no process of the program "
                                     f"(wine-run ended with {self.returncode})")
            time.sleep(0.01)

    def send_signal(self, sig):
        """To the program itself as well as to wine-run's process."""
        if self.poll() is None:
            try:
                pid = self.program_pid(seconds=5)
            except AssertionError:
                pid = self.pid
            if pid != self.pid:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
        super().send_signal(sig)

    def kill(self):
        self.send_signal(signal.SIGKILL)


def local_appdata():
    """The prefix's per-user local application-data folder (a Linux path)."""
    users = BUILD / "wineprefix" / "drive_c" / "users"
    return users / os.environ.get("USER", "root") / "AppData" / "Local"
