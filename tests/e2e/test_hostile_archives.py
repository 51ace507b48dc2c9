"""Hostile and broken archives through both programs' extraction.

Over a thousand generated archives (traversal names in every spelling, drive letters,
UNC and device paths, over-long and empty names, lying sizes, offsets and counts,
truncation, bit flips, encryption, clashes, bombs) go through the launcher's and the
update tool's unzipFiles, each into a fresh sandbox. Nothing outside the sandboxes may
be created or changed, no archive may crash or hang its program, every result must be
the documented one for the archive's class (an archive with an entry that was refused,
not written or broken fails in both programs alike), and the files left in the sandbox
must agree with that result.
"""
import collections
import os
import pathlib
import shutil
import subprocess
import time

import pytest

import hostile_archives
import packages
import winerig

SEED = 7
# An archive that takes longer than this has hung; the slowest take well under a second.
PER_ARCHIVE_SECONDS = 60
PROGRAMS = {"launcher": "archive_campaign_launcher.exe", "tool": "archive_campaign_tool.exe"}


def top_level(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def parse_results(path):
    results = {}
    if not path.exists():
        return results
    for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
        fields = line.split("\t")
        if len(fields) >= 2 and fields[0].isdigit():
            results[int(fields[0])] = fields[1:]
    return results


def run_program(program, list_file, results_file, sandboxes, home, log, count):
    """Runs the whole list, starting the program again after the archive that ended it.
    Returns {index: Outcome} and the number of starts."""
    exe = winerig.BIN / PROGRAMS[program]
    first, starts = 0, 0
    while first < count:
        starts += 1
        with open(log, "ab") as out:
            subprocess.run([str(winerig.WINE_RUN), str(exe), winerig.winpath(list_file),
                            winerig.winpath(results_file), winerig.winpath(sandboxes), str(first),
                            str(PER_ARCHIVE_SECONDS)],
                           cwd=home, stdout=out, stderr=subprocess.STDOUT,
                           timeout=PER_ARCHIVE_SECONDS * 5 + 600)
        results = parse_results(results_file)
        done = max((i for i in results if i >= first), default=first - 1)
        if done + 1 < count and (done < first or results[done][0] not in ("hang", "crash")):
            # ended without a word: the archive after the last reported one took it down
            done += 1
            with open(results_file, "a", encoding="utf-8") as f:
                f.write("%d\tcrash\tsilent\n" % done)
        # what the archive that ended the run had written so far is the sandbox's own
        shutil.rmtree(sandboxes / str(done), ignore_errors=True)
        first = done + 1
    return parse_results(results_file), starts


class Outcome:
    def __init__(self, fields):
        self.result = fields[0]
        self.files = fields[3:] if len(fields) > 3 else []
        # crc:size, whatever name the content ended up under
        self.contents = sorted(":".join(f.split(":")[:2]) for f in self.files)


@pytest.fixture(scope="module")
def campaign(tmp_path_factory, request):
    top = tmp_path_factory.mktemp("hostile-archives")
    logs = top / "logs"
    root = top / "root"
    canary = root / "canary"
    for folder in [logs, canary / "deep"] + [root / p / "sandboxes" for p in PROGRAMS]:
        folder.mkdir(parents=True)
    # Sentinels at every level a climbing name can reach, and where absolute names aim.
    for level in [top, root, canary, canary / "deep"] + [root / p for p in PROGRAMS] + \
            [root / p / "sandboxes" for p in PROGRAMS]:
        (level / "sentinel.txt").write_bytes(b"sentinel of " + str(level).encode())
    c_drive = winerig.BUILD / "wineprefix" / "drive_c"

    started = time.monotonic()
    cases = hostile_archives.generate(root / "archives", seed=SEED, canary=canary,
                                      c_drive=c_drive, depth=3)
    generated = time.monotonic() - started
    list_file = logs / "archives.txt"
    list_file.write_text("".join(winerig.winpath(c.path) + "\n" for c in cases), encoding="utf-8")

    targets = sorted({str(t) for c in cases for t in c.targets})
    present_before = [t for t in targets if os.path.lexists(t)]
    before = packages.tree_contents(top, skip={logs})
    before_outside = {"/": top_level("/"), "C:": top_level(c_drive)}

    outcomes, seconds, starts = {}, {}, {}
    for program in PROGRAMS:
        started = time.monotonic()
        results, starts[program] = run_program(
            program, list_file, logs / (program + "-results.txt"), root / program / "sandboxes",
            root / program, logs / (program + "-output.txt"), len(cases))
        seconds[program] = time.monotonic() - started
        outcomes[program] = {i: Outcome(fields) for i, fields in results.items()}

    after = packages.tree_contents(top, skip={logs})
    after_outside = {"/": top_level("/"), "C:": top_level(c_drive)}

    figures = figures_table(cases, outcomes, seconds, starts, generated)
    # The figures belong in every run's output, captured or not.
    capture = request.config.pluginmanager.get_plugin("capturemanager")
    with capture.global_and_fixture_disabled():
        print("\n" + "\n".join(figures))
    return {
        "cases": cases, "outcomes": outcomes, "before": before, "after": after,
        "before_outside": before_outside, "after_outside": after_outside,
        "targets": targets, "present_before": present_before,
    }


def figures_table(cases, outcomes, seconds, starts, generated):
    lines = ["hostile archives: %d (seed %d), generated in %.1f s" % (len(cases), SEED, generated)]
    lines.append("%-12s %6s  %-28s %s" % ("class", "tried", "launcher results", "update tool results"))
    by_class = collections.defaultdict(list)
    for case in cases:
        by_class[case.cls].append(case)
    for cls, members in by_class.items():
        per = {}
        for program in PROGRAMS:
            counter = collections.Counter(
                outcomes[program][c.index].result if c.index in outcomes[program] else "missing"
                for c in members)
            per[program] = " ".join("%s=%d" % kv for kv in sorted(counter.items()))
        lines.append("%-12s %6d  %-28s %s" % (cls, len(members), per["launcher"], per["tool"]))
    for program in PROGRAMS:
        counter = collections.Counter(o.result for o in outcomes[program].values())
        lines.append("%s: %.1f s for %d archives, %d start(s), crashes %d, hangs %d" % (
            program, seconds[program], len(outcomes[program]), starts[program],
            counter["crash"], counter["hang"]))
    return lines


def test_no_archive_crashes_or_hangs_either_program(campaign):
    for program, outcomes in campaign["outcomes"].items():
        assert sorted(outcomes) == [c.index for c in campaign["cases"]], program
        broken = ["%d (%s): %s" % (i, campaign["cases"][i].cls, o.result)
                  for i, o in outcomes.items() if o.result in ("crash", "hang")]
        assert broken == [], program


def test_every_result_is_the_documented_one_for_its_class(campaign):
    wrong = []
    for case in campaign["cases"]:
        launcher = campaign["outcomes"]["launcher"][case.index].result
        tool = campaign["outcomes"]["tool"][case.index].result
        if launcher not in {str(code) for code in case.launcher_codes}:
            wrong.append("%d %s %s: launcher %s, expected %s" % (
                case.index, case.cls, case.note, launcher, sorted(case.launcher_codes)))
        if tool not in case.tool:
            wrong.append("%d %s %s: tool %s, expected %s" % (
                case.index, case.cls, case.note, tool, sorted(case.tool)))
        # Both programs count an archive as whole on the same grounds.
        if (launcher == "0") != (tool == "Complete"):
            wrong.append("%d %s %s: launcher %s but tool %s" % (
                case.index, case.cls, case.note, launcher, tool))
    assert wrong == []


def test_the_sandbox_holds_what_the_result_says(campaign):
    wrong = []
    for case in campaign["cases"]:
        for program, outcomes in campaign["outcomes"].items():
            outcome = outcomes[case.index]
            found = collections.Counter(outcome.contents)
            missing = [k for k in case.present if not found[k]]
            stray = [k for k in case.absent if found[k]]
            if missing or stray:
                wrong.append("%d %s %s: missing %s, should not be there %s (%s)" % (
                    case.index, case.cls, program, missing, stray, outcome.files))
            if program == "tool" and outcome.result == "Complete" and case.complete is not None \
                    and outcome.contents != case.complete:
                wrong.append("%d %s: Complete but the sandbox holds %s" % (
                    case.index, case.cls, outcome.files))
            if program == "launcher" and case.launcher == hostile_archives.NOT_OPENED \
                    and outcome.files:
                wrong.append("%d %s: not opened, yet files were written: %s" % (
                    case.index, case.cls, outcome.files))
            # A walk that reached its end wrote nothing damaged: every file it left is
            # one of the entries, whole.
            if program == "launcher" and outcome.result == "0" and case.complete is not None \
                    and not set(outcome.contents) <= set(case.complete):
                wrong.append("%d %s: 0 but the sandbox holds %s" % (
                    case.index, case.cls, outcome.files))
    assert wrong == []


def test_both_programs_leave_the_same_files(campaign):
    launcher, tool = campaign["outcomes"]["launcher"], campaign["outcomes"]["tool"]
    differ = ["%d %s: launcher %s, tool %s" % (c.index, c.cls, launcher[c.index].files,
                                               tool[c.index].files)
              for c in campaign["cases"]
              if sorted(launcher[c.index].files) != sorted(tool[c.index].files)]
    assert differ == []


def test_nothing_outside_the_sandboxes_is_created_or_changed(campaign):
    before, after = campaign["before"], campaign["after"]
    changed = sorted(name for name in set(before) | set(after) if before.get(name) != after.get(name))
    assert changed == []
    assert campaign["after_outside"] == campaign["before_outside"]
    assert campaign["present_before"] == []
    assert [t for t in campaign["targets"] if os.path.lexists(t)] == []


def _large_zip64(path, big_size):
    """A zip64 archive past 2 GiB: a small entry, one stored entry of `big_size` bytes,
    and an entry whose local header lies past 2^31. Returns {name: (crc, size)}."""
    import zipfile
    import zlib
    chunk = bytes(range(256)) * 4096  # 1 MiB that is not all zeros
    small = b"before the large entry\n"
    expected = {"a-small.txt": (zlib.crc32(small), len(small))}
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr("a-small.txt", small)
        crc, left = 0, big_size
        with archive.open("media/b-large.bin", "w", force_zip64=True) as out:
            while left:
                piece = chunk[:min(left, len(chunk))]
                out.write(piece)
                crc = zlib.crc32(piece, crc)
                left -= len(piece)
        expected["media/b-large.bin"] = (crc, big_size)
        after = b"after the large entry\n"
        archive.writestr("c-after.txt", after)
        expected["c-after.txt"] = (zlib.crc32(after), len(after))
    return expected


@pytest.mark.parametrize("program", list(PROGRAMS))
def test_an_archive_past_2_gib_unpacks_whole(tmp_path, program):
    """Sizes and offsets past 2^31 (zip64) through the shared extraction: on the 32-bit
    build a signed or 32-bit offset would stop the walk or cut the entry short."""
    archive = tmp_path / "large.zip"
    expected = _large_zip64(archive, 2 ** 31 + 3 * 2 ** 20 + 7)
    assert archive.stat().st_size > 2 ** 31
    list_file = tmp_path / "list.txt"
    list_file.write_text(winerig.winpath(archive) + "\n", encoding="utf-8")
    (tmp_path / "sandboxes").mkdir()
    results, starts = run_program(program, list_file, tmp_path / "results.txt", tmp_path / "sandboxes",
                                  tmp_path, tmp_path / "output.txt", 1)
    outcome = Outcome(results[0])
    archive.unlink()
    assert (outcome.result, starts) == ({"launcher": "0", "tool": "Complete"}[program], 1)
    found = {}
    for entry in outcome.files:
        crc, size, name = entry.split(":", 2)
        found[name.replace("\\", "/")] = (int(crc, 16), int(size))
    assert found == expected
