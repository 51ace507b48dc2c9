"""bench/start: the installed road's start against starting the runtime directly.

The installed road: a version record is in the install root, so the launcher starts
erp.exe with the recorded version's folder and ends, without a window or the network.
Measured as the time from asking Windows to start a program (CreateProcessW in
start_bench.exe) to the first line of the stub runtime's entry point, which reads the
same clock. The direct start asks for the same erp.exe with the command line the
launcher would give it. Both roads alternate in one run under one warm wineserver.

Two runtimes: the stub erp.exe of the tests (a console program) and the same stub
built as a windowed program, as the real runtime is. The launcher starts its runtime
with CREATE_NO_WINDOW; a console program started so gets a hidden console host
process (conhost.exe under wine) before its entry runs, and that weighs on both roads.

A last table times the two roads from Linux (a wine64 process started by this script,
to the runtime's entry), with the console stub: what starting a Windows program costs
from outside wine, which both roads pay once.
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

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))

import launcher  # noqa: E402
import winerig  # noqa: E402

RUNTIME_CONSOLE = winerig.BIN / "erp.exe"
RUNTIME_GUI = winerig.BIN / "erp-gui.exe"

# FILETIME counts 100 ns from 1601; Unix time counts from 1970.
FILETIME_UNIX_EPOCH = 116_444_736_000_000_000


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[1], q[2]


def summary_row(name, values_ms):
    low, median, high = quartiles(values_ms)
    return (f"{name:34} {median:8.1f} {low:8.1f} {high:8.1f} {min(values_ms):8.1f} "
            f"{max(values_ms):8.1f} {len(values_ms):4d}")


HEADER = f"{'':34} {'median':>8} {'p25':>8} {'p75':>8} {'min':>8} {'max':>8} {'n':>4}   (ms)"


def read_records(folder):
    return launcher.launches(folder)


def make_folder(work, name, runtime):
    folder = launcher.make_launcher_folder(work, name, runtime=False)
    shutil.copy(runtime, folder / "erp.exe")
    launcher.write_record(ver="70")
    return folder


def recorded_argument(folder):
    """The launcher's own start of the runtime, once: its command line names the
    recorded version's folder, which the direct start is then given too."""
    before = len(read_records(folder))
    result = winerig.run([folder / launcher.LAUNCHER.name], timeout=120)
    if result.returncode != 1:
        raise SystemExit(f"the launcher did not take the installed road (exit {result.returncode})")
    records = read_records(folder)
    end = time.monotonic() + 60
    while len(records) <= before and time.monotonic() < end:
        time.sleep(0.05)
        records = read_records(folder)
    if len(records) <= before:
        raise SystemExit("the launcher started no runtime")
    command_line = records[-1]["command_line"]
    # "<runtime>" "<argument>"
    return command_line.rsplit(" ", 1)[1].strip('"'), command_line


STARTERS = [
    ("launcher road (ZorvikUpdate.exe)", launcher.LAUNCHER),
    ("stand-in: CreateProcess only", winerig.BIN / "start_floor.exe"),
    ("stand-in + launcher's imports", winerig.BIN / "start_floor_dlls.exe"),
]


def inside_wine(folder, repetitions, warmups):
    """{road: [ms]} for the direct start and each starter, from one start_bench run."""
    out = folder.parent / f"{folder.name}.txt"
    argument, command_line = recorded_argument(folder)
    for _, program in STARTERS[1:]:
        shutil.copy(program, folder / program.name)
    result = winerig.run([winerig.BIN / "start_bench.exe", winerig.winpath(out), repetitions, warmups,
                          winerig.winpath(folder / "erp.exe"), argument,
                          *(winerig.winpath(folder / program.name) for _, program in STARTERS)],
                         timeout=60 + repetitions * 60)
    if result.returncode != 0:
        last = out.read_text().splitlines()[-1:] if out.exists() else []
        raise SystemExit(f"start_bench failed with {result.returncode}: {last}")
    rows = [line.split() for line in out.read_text().splitlines()]
    # Every start of the runtime, on every road, must have had the very same command line.
    lines = {r["command_line"] for r in read_records(folder)}
    if lines != {command_line}:
        raise SystemExit(f"the roads started the runtime differently: {sorted(lines)}")
    names = {"direct": "direct (erp.exe)", **{str(i + 1): name for i, (name, _) in enumerate(STARTERS)}}
    exits = {(names[r[0]], r[3]) for r in rows}
    expected = {("direct (erp.exe)", "0")} | {(name, "1") for name, _ in STARTERS}
    if exits != expected:
        raise SystemExit(f"unexpected exit codes: {sorted(exits)}")
    by_road = {name: [] for name in names.values()}
    lifetime = []
    for road, entry_us, exit_us, _ in rows:
        by_road[names[road]].append(float(entry_us) / 1000)
        if road == "1":
            lifetime.append(float(exit_us) / 1000)
    return by_road, lifetime, command_line


def from_linux(folder, command_line, repetitions):
    """Both roads as a Linux program sees them: a fresh wine64 process each."""
    env = winerig.wine_env()
    loader = env["WINELOADER"]
    runtime, argument = command_line.rsplit(" ", 1)
    argument = argument.strip('"')
    roads = {
        "launcher": [loader, str(folder / launcher.LAUNCHER.name)],
        "direct": [loader, str(folder / "erp.exe"), argument],
    }
    times = {"launcher": [], "direct": []}
    for i in range(repetitions + 2):
        order = ["launcher", "direct"] if i % 2 == 0 else ["direct", "launcher"]
        for road in order:
            before = len(read_records(folder))
            asked = time.time_ns()
            subprocess.run(roads[road], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
            end = time.monotonic() + 60
            records = read_records(folder)
            while len(records) <= before and time.monotonic() < end:
                time.sleep(0.002)
                records = read_records(folder)
            if len(records) <= before:
                raise SystemExit(f"no runtime start on the {road} road")
            entered = (records[-1]["started"] - FILETIME_UNIX_EPOCH) * 100
            if i >= 2:  # the first two rounds warm up
                times[road].append((entered - asked) / 1e6)
            time.sleep(0.15)
    return times


def ratio_block(road_ms, direct_ms):
    paired = [a / b for a, b in zip(road_ms, direct_ms)]
    low, median, high = quartiles(paired)
    return (f"ratio of medians {statistics.median(road_ms) / statistics.median(direct_ms):.2f}, "
            f"of minimums {min(road_ms) / min(direct_ms):.2f}; "
            f"paired ratios median {median:.2f} (p25 {low:.2f}, p75 {high:.2f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=30)
    parser.add_argument("--warmups", type=int, default=3)
    parser.add_argument("--no-linux", action="store_true", help="skip the table timed from Linux")
    args = parser.parse_args()

    load = os.getloadavg()
    work = pathlib.Path(tempfile.mkdtemp(prefix="zorvik-start-"))
    launcher.clean_install_root()
    try:
        print(f"installed-road start, {args.repetitions} interleaved repetitions per road "
              f"(load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f})")
        for title, runtime in (("console stub erp.exe (the tests' runtime)", RUNTIME_CONSOLE),
                               ("windowed stub erp.exe (as the real runtime)", RUNTIME_GUI)):
            folder = make_folder(work, f"client dir {runtime.stem}", runtime)
            by_road, lifetime, command_line = inside_wine(folder, args.repetitions, args.warmups)
            direct = by_road["direct (erp.exe)"]
            print()
            print(f"{title}; timed inside wine: CreateProcessW in start_bench.exe -> first line of erp.exe's entry")
            print(f"runtime command line on every road: {command_line}")
            print(HEADER)
            print(summary_row("direct (erp.exe)", direct))
            for name, _ in STARTERS:
                print(summary_row(name, by_road[name]))
                print(f"{'':4}{ratio_block(by_road[name], direct)}")
            print(summary_row("launcher process lifetime", lifetime))
        if not args.no_linux:
            folder = work / f"client dir {RUNTIME_CONSOLE.stem}"
            times = from_linux(folder, command_line, args.repetitions)
            print()
            print("console stub; timed from Linux: wine64 process started -> first line of erp.exe's entry")
            print(HEADER)
            print(summary_row("direct (erp.exe)", times["direct"]))
            print(summary_row("launcher road (ZorvikUpdate.exe)", times["launcher"]))
            print(f"{'':4}{ratio_block(times['launcher'], times['direct'])}")
        load = os.getloadavg()
        print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    finally:
        launcher.clean_install_root()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
