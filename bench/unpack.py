"""bench/unpack: the update tool's -u on the ~60 MB, 3,000-file package against unzip -o.

Each repetition unpacks the same deflated archive (package.nw of bench/install's
generator) into a fresh folder three ways, interleaved:

  unzip      native `unzip -o ARCHIVE -d FOLDER`
  -u         `update.exe -u 0 71 ARCHIVE FOLDER` under wine; the folder holds the stub
             runtime nw.exe, which -u starts afterwards
  -u tiny    the same with a one-file archive: what -u costs besides unpacking (a wine
             process, the documented one-second pause before it starts the runtime,
             the runtime's start, writing jsver.txt)

and reports the medians, the ratio of -u to unzip, and the ratio with the tiny run's
median taken off -u (the unpacking alone). Process id 0: there is no client to end.

Both listings (a line per entry) go to a regular file, as when the client reads the
tool's output later. --sink devnull sends them to /dev/null instead: a character
device, which the runtime library treats like a console and does not buffer, so the
tool then writes its listing a character at a time. --also EXE adds rows for other
builds of the tool (say, a proposed change), run the same way.
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.dont_write_bytecode = True  # no __pycache__ left in bench/
sys.path.insert(0, str(REPO / "tests" / "support"))
sys.path.insert(0, str(REPO / "bench"))

import install  # noqa: E402  (the package generator)
import winerig  # noqa: E402

UPDATE = winerig.BIN / "update.exe"
RUNTIME = winerig.BIN / "nw.exe"


def wineserver_pid(prefix):
    for line in subprocess.run(["pgrep", "-x", "wineserver64"], capture_output=True, text=True).stdout.split():
        try:
            environ = pathlib.Path(f"/proc/{line}/environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environ:
            return int(line)
    return None


def process_cpu(pid):
    """User and system seconds a process has used so far (0 when it is gone)."""
    if pid is None:
        return 0.0
    try:
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Timing:
    """Wall seconds, and the CPU seconds the wineserver spent meanwhile: the share of
    the work that wine does in its server on the program's behalf."""

    def __init__(self, wall, server_cpu):
        self.wall, self.server_cpu = wall, server_cpu


def timed(command, sink, env=None, server=None):
    server_before = process_cpu(server)
    start = time.perf_counter()
    with open(sink, "wb") as out:
        result = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, timeout=1800)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        raise SystemExit(f"{command[0]} ... failed with {result.returncode}")
    return Timing(elapsed, process_cpu(server) - server_before)


def tree(folder, skip=()):
    """{relative name: size} of every file below `folder`."""
    return {p.relative_to(folder).as_posix(): p.stat().st_size
            for p in folder.rglob("*") if p.is_file() and p.name not in skip}


def wait_for_runtime(folder, seconds=60):
    """-u starts the runtime and does not wait for it; its record shows it ran."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if (folder / "launches.jsonl").exists():
            return True
        time.sleep(0.05)
    return False


class Runner:
    def __init__(self, work, sink):
        self.work = work
        self.sink = sink
        self.env = winerig.wine_env()
        self.loader = self.env["WINELOADER"]
        self.server = wineserver_pid(self.env["WINEPREFIX"])
        self.count = 0

    def fresh(self, name):
        self.count += 1
        folder = self.work / f"{name}-{self.count}"
        folder.mkdir()
        return folder

    def unzip(self, archive):
        folder = self.fresh("unzip")
        return timed(["unzip", "-o", str(archive), "-d", str(folder)], self.sink), folder

    def update(self, archive, tool=UPDATE):
        folder = self.fresh("update")
        shutil.copy(RUNTIME, folder / "nw.exe")
        # wine64 itself rather than the wine-run script: the script's own start-up is
        # not the tool's.
        elapsed = timed([self.loader, str(tool), "-u", "0", "71", winerig.winpath(archive),
                         winerig.winpath(folder)], self.sink, env=self.env, server=self.server)
        if not wait_for_runtime(folder):
            raise SystemExit("-u did not start the runtime")
        if (folder / "jsver.txt").read_bytes() != b"71":
            raise SystemExit("-u did not record the version")
        return elapsed, folder


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[1], q[2]


def row(name, timings):
    walls = [t.wall for t in timings]
    low, median, high = quartiles(walls)
    server = statistics.median(t.server_cpu for t in timings)
    return (f"{name:28} {median:7.2f} {low:7.2f} {high:7.2f} {min(walls):7.2f} {max(walls):7.2f} "
            f"{server:7.2f} {len(walls):3d}")


HEADER = (f"{'':28} {'median':>7} {'p25':>7} {'p75':>7} {'min':>7} {'max':>7} {'server':>7} {'n':>3}"
          "   (wall s; server: wineserver cpu s, median)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--sink", choices=["file", "devnull"], default="file",
                        help="where both listings go (default: a regular file)")
    parser.add_argument("--also", action="append", default=[], type=pathlib.Path, metavar="EXE",
                        help="another build of update.exe to time the same way")
    args = parser.parse_args()

    work = pathlib.Path(tempfile.mkdtemp(prefix="zorvik-unpack-"))
    try:
        app = work / "app"
        size = install.make_app(app)
        archive = work / "package.nw"
        install.zip_folder(app, archive, zipfile.ZIP_DEFLATED)
        expected = tree(app)
        shutil.rmtree(app)
        tiny = work / "tiny.zip"
        with zipfile.ZipFile(tiny, "w", zipfile.ZIP_DEFLATED) as small:
            small.writestr("index.html", b"<!doctype html>")

        load = os.getloadavg()
        print(f"package: {size / 1e6:.1f} MB in {len(expected)} files, archive {archive.stat().st_size / 1e6:.1f} MB "
              f"(deflated); load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}", flush=True)

        runner = Runner(work, "/dev/null" if args.sink == "devnull" else work / "listing.txt")
        # Warm-up: the archive into the page cache, wine's libraries loaded, and the
        # two results compared once, file by file.
        _, unzipped = runner.unzip(archive)
        if runner.server is None:
            raise SystemExit("no wineserver serves this build's prefix")
        if tree(unzipped) != expected:
            raise SystemExit("unzip's tree differs from the package")
        shutil.rmtree(unzipped)
        for tool in [UPDATE, *args.also]:
            _, updated = runner.update(archive, tool)
            if tree(updated, skip={"nw.exe", "launches.jsonl", "jsver.txt"}) != expected:
                raise SystemExit(f"the tree {tool.name} unpacked differs from the package")
            shutil.rmtree(updated)

        steps = [("unzip", lambda: runner.unzip(archive)),
                 ("update", lambda: runner.update(archive)),
                 ("tiny", lambda: runner.update(tiny))]
        steps += [(str(tool), lambda tool=tool: runner.update(archive, tool)) for tool in args.also]
        times = {name: [] for name, _ in steps}
        for i in range(args.repetitions):
            # Rotate the order so drift in the machine's load falls on every row alike.
            shift = i % len(steps)
            for name, step in steps[shift:] + steps[:shift]:
                elapsed, folder = step()
                times[name].append(elapsed)
                shutil.rmtree(folder)

        def median(name):
            return statistics.median(t.wall for t in times[name])

        unzip_median, update_median, tiny_median = median("unzip"), median("update"), median("tiny")
        print(HEADER)
        print(row("unzip -o", times["unzip"]))
        print(row("update.exe -u", times["update"]))
        print(row("update.exe -u, tiny archive", times["tiny"]))
        print(f"listings to {'/dev/null' if args.sink == 'devnull' else 'a regular file'}")
        print(f"ratio -u / unzip: {update_median / unzip_median:.2f}; "
              f"unpacking alone ((-u - tiny) / unzip): {(update_median - tiny_median) / unzip_median:.2f}")
        for tool in args.also:
            name = str(tool)
            print(row(f"{tool.name} -u", times[name]))
            print(f"  ratio {tool.name} -u / unzip: {median(name) / unzip_median:.2f}; unpacking alone: "
                  f"{(median(name) - tiny_median) / unzip_median:.2f}")
        load = os.getloadavg()
        print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
