"""bench/unpack: the update tool's -u against unzip -o, and on a real npm tree.

Each repetition unpacks the same deflated archive (package.nw of bench/install's
generator, ~60 MB in 3,000 files) into a fresh folder three ways, interleaved:

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
builds of the tool (say, a proposed change, or the previous commit's), run the same
way; they are named "also 1", "also 2" in the table.

A real application's tree follows: the dependency tree that
`npm install --no-audit --no-fund express lodash moment typescript @babel/core` makes
(some 4,600 files in deep folders, with links in node_modules/.bin), made once in
--npm-tree DIR (default ~/.cache/zorvik/bench-npm-tree) and reused by later runs. It is
the old application, OLD_APP; NEW_APP is a copy with 6 of its scripts changed. Both
archives come from the vendor's tool, as a vendor makes them:
`tools/zorvik-release update OLD_APP NEW_APP --version 71 --full` (every file, the full
archive) and the same without --full (the 6 changed files, the update archive); the
tool stores each link as the file it points to. Rows, for this build and each --also:

  full, over the old tree    -u of the full archive into a copy of OLD_APP as a client
                             has it installed, as a real update runs
  full, into an empty folder -u of the full archive into a folder with nw.exe alone
  update, over the old tree  -u of the update archive into a copy of OLD_APP

and it reports both archives' bytes, the ratio of this build's full runs to each
--also build's (with the staged unpack against the previous in-place one, what staging
costs), and the update's run against the full one's, whole and each less the tiny
run's median. Every run's result is compared once, file by file, with NEW_APP, and a
staging folder left beside the target stops the benchmark. --skip-npm-tree leaves the
tree out (it needs npm, and its registry the first time).

Every timed run starts after a sync, so writes still pending from preparing its folder
or removing the previous one do not fall on it.
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
sys.path.insert(0, str(REPO / "tools"))

import install  # noqa: E402  (the package generator)
import winerig  # noqa: E402
import zorvik_release  # noqa: E402  (how the vendor's tool reads an application folder)

UPDATE = winerig.BIN / "update.exe"
RUNTIME = winerig.BIN / "nw.exe"
RELEASE_TOOL = REPO / "tools" / "zorvik-release"
NPM_PACKAGES = ["express", "lodash", "moment", "typescript", "@babel/core"]
NPM_TREE = pathlib.Path.home() / ".cache" / "zorvik" / "bench-npm-tree"
CHANGED_FILES = 6
VERSION = "71"


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
    os.sync()
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


def npm_tree(folder):
    """OLD_APP: the tree npm makes for NPM_PACKAGES, made in `folder` the first time and
    reused after. npm works in a folder beside it, renamed to `folder` only once npm
    has succeeded, so an interrupted install is never taken for the tree."""
    if folder.exists():
        if not (folder / "node_modules").is_dir():
            raise SystemExit(f"{folder} holds no npm tree; remove it to make it again")
        return folder
    folder.parent.mkdir(parents=True, exist_ok=True)
    partial = pathlib.Path(tempfile.mkdtemp(prefix=folder.name + ".partial-", dir=folder.parent))
    try:
        # A package.json of its own, or npm would look for one in the folders above.
        (partial / "package.json").write_text('{"name": "bench-npm-tree", "private": true}\n')
        print(f"making the npm tree in {folder} (once)", flush=True)
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", *NPM_PACKAGES], cwd=partial,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True, timeout=1800)
        partial.chmod(0o755)
        partial.rename(folder)
    finally:
        shutil.rmtree(partial, ignore_errors=True)
    return folder


def changed_copy(old, new, count=CHANGED_FILES):
    """NEW_APP: a copy of `old`, links kept, with `count` of its scripts, spread over
    the tree, one line longer. Returns their names."""
    shutil.copytree(old, new, symlinks=True)
    scripts = sorted(p for p in new.rglob("*.js") if p.is_file() and not p.is_symlink())
    picked = [scripts[(2 * i + 1) * len(scripts) // (2 * count)] for i in range(count)]
    for path in picked:
        path.write_bytes(path.read_bytes() + b"\n// the next release\n")
    return [p.relative_to(new).as_posix() for p in picked]


def installed_image(app, folder):
    """`app` as a client has it installed: the files of its archive, each link as the
    file it points to."""
    for name, source in zorvik_release.folder_members(app):
        target = folder / name
        if source is None:
            target.mkdir(parents=True, exist_ok=True)
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source, target)
    return folder


def release_archive(old, new, out, full):
    """The archive `tools/zorvik-release update` makes to turn `old` into `new`."""
    command = [str(RELEASE_TOOL), "update", str(old), str(new), "--version", VERSION, "--out", str(out)]
    result = subprocess.run(command + (["--full"] if full else []), capture_output=True, text=True,
                            timeout=1800)
    if result.returncode != 0:
        raise SystemExit(f"zorvik-release update failed: {result.stderr.strip()}")
    return out / f"update-{VERSION}.zip"


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

    def update(self, archive, tool=UPDATE, base=None):
        """-u of `archive` into a fresh folder holding nw.exe and, with `base`, a copy of
        that folder's files."""
        folder = self.fresh("update")
        if base is not None:
            shutil.copytree(base, folder, dirs_exist_ok=True)
        shutil.copy(RUNTIME, folder / "nw.exe")
        # wine64 itself rather than the wine-run script: the script's own start-up is
        # not the tool's.
        elapsed = timed([self.loader, str(tool), "-u", "0", "71", winerig.winpath(archive),
                         winerig.winpath(folder)], self.sink, env=self.env, server=self.server)
        if not wait_for_runtime(folder):
            raise SystemExit("-u did not start the runtime")
        if (folder / "jsver.txt").read_bytes() != VERSION.encode():
            raise SystemExit("-u did not record the version")
        if staging(folder).exists():
            raise SystemExit(f"{tool} left its staging folder {staging(folder)}")
        return elapsed, folder


def staging(folder):
    return folder.with_name(folder.name + ".~update")


def remove(folder):
    shutil.rmtree(folder)
    shutil.rmtree(staging(folder), ignore_errors=True)


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[1], q[2]


def row(name, timings):
    walls = [t.wall for t in timings]
    low, median, high = quartiles(walls)
    server = statistics.median(t.server_cpu for t in timings)
    return (f"{name:{NAME_WIDTH}} {median:7.2f} {low:7.2f} {high:7.2f} {min(walls):7.2f} {max(walls):7.2f} "
            f"{server:7.2f} {len(walls):3d}")


NAME_WIDTH = 34
HEADER = (f"{'':{NAME_WIDTH}} {'median':>7} {'p25':>7} {'p75':>7} {'min':>7} {'max':>7} {'server':>7} {'n':>3}"
          "   (wall s; server: wineserver cpu s, median)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--sink", choices=["file", "devnull"], default="file",
                        help="where both listings go (default: a regular file)")
    parser.add_argument("--also", action="append", default=[], type=pathlib.Path, metavar="EXE",
                        help="another build of update.exe to time the same way")
    parser.add_argument("--npm-tree", type=pathlib.Path, default=NPM_TREE, metavar="DIR",
                        help=f"where the npm tree is made once and reused (default {NPM_TREE})")
    parser.add_argument("--skip-npm-tree", action="store_true", help="time the generated package alone")
    args = parser.parse_args()
    tools = [UPDATE, *args.also]
    also = {tool: f"also {i}" for i, tool in enumerate(args.also, 1)}

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
        if not args.skip_npm_tree:
            old_app = npm_tree(args.npm_tree.expanduser())
            new_app = work / "new-app"
            changed = changed_copy(old_app, new_app)
            full = release_archive(old_app, new_app, work / "full", full=True)
            update_archive = release_archive(old_app, new_app, work / "update", full=False)
            installed = installed_image(old_app, work / "installed")
            new_members = zorvik_release.folder_members(new_app)
            new_expected = {name: source.stat().st_size for name, source in new_members if source is not None}
            links = sum(1 for p in old_app.rglob("*") if p.is_symlink())

        load = os.getloadavg()
        print(f"package: {size / 1e6:.1f} MB in {len(expected)} files, archive {archive.stat().st_size / 1e6:.1f} MB "
              f"(deflated); load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}", flush=True)
        for tool, name in also.items():
            print(f"{name}: {tool}")

        runner = Runner(work, "/dev/null" if args.sink == "devnull" else work / "listing.txt")
        # Warm-up: the archive into the page cache, wine's libraries loaded, and the
        # two results compared once, file by file.
        _, unzipped = runner.unzip(archive)
        if runner.server is None:
            raise SystemExit("no wineserver serves this build's prefix")
        if tree(unzipped) != expected:
            raise SystemExit("unzip's tree differs from the package")
        shutil.rmtree(unzipped)
        unpacked = {"nw.exe", "launches.jsonl", "jsver.txt"}
        for tool in tools:
            _, updated = runner.update(archive, tool)
            if tree(updated, skip=unpacked) != expected:
                raise SystemExit(f"the tree {tool} unpacked differs from the package")
            remove(updated)

        steps = [("unzip", lambda: runner.unzip(archive)),
                 ("update", lambda: runner.update(archive)),
                 ("tiny", lambda: runner.update(tiny))]
        steps += [(str(tool), lambda tool=tool: runner.update(archive, tool)) for tool in args.also]
        if not args.skip_npm_tree:
            npm_steps = []
            for tool in tools:
                npm_steps += [((tool, "full, over the old tree"), lambda tool=tool: runner.update(full, tool, installed)),
                              ((tool, "full, into an empty folder"), lambda tool=tool: runner.update(full, tool)),
                              ((tool, "update, over the old tree"),
                               lambda tool=tool: runner.update(update_archive, tool, installed))]
            for (tool, what), step in npm_steps:
                _, updated = step()
                if tree(updated, skip=unpacked) != new_expected:
                    raise SystemExit(f"{tool}'s {what} differs from NEW_APP")
                remove(updated)
            steps += npm_steps
        times = {name: [] for name, _ in steps}
        for i in range(args.repetitions):
            # Rotate the order so drift in the machine's load falls on every row alike.
            shift = i % len(steps)
            for name, step in steps[shift:] + steps[:shift]:
                elapsed, folder = step()
                times[name].append(elapsed)
                remove(folder)

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
            print(row(f"{also[tool]} -u", times[name]))
            print(f"  ratio {also[tool]} -u / unzip: {median(name) / unzip_median:.2f}; unpacking alone: "
                  f"{(median(name) - tiny_median) / unzip_median:.2f}")

        if not args.skip_npm_tree:
            old_files = sum(1 for p in old_app.rglob("*") if p.is_file() and not p.is_symlink())
            print()
            print(f"npm tree ({' '.join(NPM_PACKAGES)}; {old_app}): {old_files} files and {links} links "
                  f"(stored as what they point to), {len(new_expected)} files in an archive, "
                  f"{sum(new_expected.values()) / 1e6:.1f} MB; changed in NEW_APP: {', '.join(changed)}")
            full_bytes, update_bytes = full.stat().st_size, update_archive.stat().st_size
            print(f"archives (zorvik-release update): full {full_bytes:,} bytes, update {update_bytes:,} bytes "
                  f"({100 * update_bytes / full_bytes:.3f}% of full)")
            print(HEADER)
            for tool in tools:
                for (row_tool, what), _ in npm_steps:
                    if row_tool == tool:
                        print(row(f"{also.get(tool, '')} {what}".strip(), times[(tool, what)]))
            fixed = tiny_median
            print(f"the fixed part: the tiny run's median, {fixed:.2f} s")
            for what in ("full, over the old tree", "full, into an empty folder"):
                staged = median((UPDATE, what))
                for tool in args.also:
                    other = median((tool, what))
                    print(f"{what}: this build / {also[tool]}: {staged / other:.2f} whole, "
                          f"{(staged - fixed) / (other - fixed):.2f} less the fixed part "
                          f"({staged - fixed:.2f} s against {other - fixed:.2f} s)")
            for tool in tools:
                whole, small = median((tool, "full, over the old tree")), median((tool, "update, over the old tree"))
                print(f"{also.get(tool, 'this build')}, over the old tree: update {small:.2f} s, full {whole:.2f} s, "
                      f"update / full {100 * small / whole:.1f}%; less the fixed part: update {small - fixed:.2f} s, "
                      f"full {whole - fixed:.2f} s, update / full {100 * (small - fixed) / (whole - fixed):.1f}%")
        load = os.getloadavg()
        print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
