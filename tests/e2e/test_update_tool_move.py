"""The update tool's move mode (-n): move the listed files, restart, record."""
import os

import pytest

import texts
import winerig
import ziputil
from update_tool_rig import KEYED, place_runtime, run_tool, wait_for_launches

# A keyed build moves nothing: its one road is the refusal, at the end.
moves = pytest.mark.skipif(KEYED, reason="a build with a package key moves no unsigned files")


def prepare(tmp_path, names):
    source = tmp_path / "staged"
    target = tmp_path / "install"
    source.mkdir()
    place_runtime(target)
    for name in names:
        (source / name).write_bytes(name.encode() * 3)
    return source, target


def assert_runtime_started(target, cwd):
    records = wait_for_launches(target)
    assert len(records) == 1
    assert records[0]["exe"] == winerig.winpath(target / "nw.exe")
    exe = winerig.winpath(target) + "/nw.exe"
    assert records[0]["command_line"] in (exe, '"%s"' % exe)
    assert records[0]["cwd"] == winerig.winpath(cwd)  # the folder the tool was started in


@moves
def test_moves_every_name_replacing_existing_ones_then_restarts_and_records(tmp_path):
    source, target = prepare(tmp_path, ["app.js", "index.html", "名字.txt"])
    (target / "app.js").write_bytes(b"old version, longer than the new one")

    result = run_tool("-n", "2.5.0", winerig.winpath(source), winerig.winpath(target),
                      "app.js", "index.html", "名字.txt", cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert (target / "app.js").read_bytes() == b"app.js" * 3
    assert (target / "名字.txt").read_bytes() == "名字.txt".encode() * 3
    assert list(source.iterdir()) == []
    assert (target / "jsver.txt").read_bytes() == b"2.5.0"
    assert_runtime_started(target, tmp_path)


@moves
def test_second_of_three_missing_moves_none_and_records_nothing(tmp_path):
    source, target = prepare(tmp_path, ["one.dll", "three.dll"])
    (target / "jsver.txt").write_bytes(b"2.4.9")

    result = run_tool("-nx", "2.5.0", winerig.winpath(source), winerig.winpath(target),
                      "one.dll", "two.dll", "three.dll", cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert not (target / "one.dll").exists()  # taken, then put back
    assert (source / "one.dll").read_bytes() == b"one.dll" * 3
    assert not (target / "three.dll").exists()
    assert (source / "three.dll").exists()
    # the files of 2.5.0 are not all there, so the record keeps the installed version
    assert (target / "jsver.txt").read_bytes() == b"2.4.9"
    assert_runtime_started(target, tmp_path)


@moves
def test_no_names_restarts_and_records(tmp_path):
    source, target = prepare(tmp_path, [])

    result = run_tool("-n", "3.0", winerig.winpath(source), winerig.winpath(target), cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert (target / "jsver.txt").read_bytes() == b"3.0"
    assert_runtime_started(target, tmp_path)


@moves
def test_runtime_missing_from_the_target_is_not_reported(tmp_path):
    source, target = prepare(tmp_path, ["a.txt"])
    (target / "nw.exe").unlink()

    result = run_tool("-n", "3.1", winerig.winpath(source), winerig.winpath(target), "a.txt",
                      cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert (target / "jsver.txt").read_bytes() == b"3.1"


@moves
def test_folders_past_max_path_move_and_the_runtime_start_is_refused_by_name(tmp_path):
    """Deep folders move whole; the runtime below such a folder cannot be started by any
    form of its path, and the tool says so instead of failing silently."""
    deep = ziputil.deep_name(300, "")
    source, target = tmp_path / "staged" / deep, tmp_path / "install" / deep
    source.mkdir(parents=True)
    place_runtime(target)
    (source / "app.js").write_bytes(b"new")
    runtime = winerig.winpath(target) + "/nw.exe"

    result = run_tool("-n", "4.0", winerig.winpath(source), winerig.winpath(target), "app.js", cwd=tmp_path)

    assert (result.returncode, result.stdout) == (
        0, texts.console(texts.START_PATH_TOO_LONG % runtime))
    assert (target / "app.js").read_bytes() == b"new"
    assert not (source / "app.js").exists()
    assert (target / "jsver.txt").read_bytes() == b"4.0"


@moves
def test_nothing_is_moved_through_a_link_planted_in_the_target(tmp_path):
    source, target = prepare(tmp_path, ["first.dll"])
    (source / "lib").mkdir()
    (source / "lib" / "app.js").write_bytes(b"new script")
    victim = tmp_path / "victim.dll"
    victim.write_bytes(b"victim")
    os.link(victim, target / "first.dll")  # a hard link in place of a file
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "app.js").write_bytes(b"outside")
    (target / "lib").symlink_to(outside, target_is_directory=True)
    (target / "jsver.txt").write_bytes(b"1.0")

    result = run_tool("-n", "2.0", winerig.winpath(source), winerig.winpath(target),
                      "first.dll", "lib/app.js", cwd=tmp_path)

    assert (result.returncode, result.stdout) == (
        0, texts.console(texts.REFUSED_LINK % ("lib/app.js", "lib")))
    assert victim.read_bytes() == b"victim"
    # first.dll was swapped in before the link stopped the swap, and put back
    assert os.stat(target / "first.dll").st_ino == os.stat(victim).st_ino
    assert (source / "first.dll").read_bytes() == b"first.dll" * 3
    assert (outside / "app.js").read_bytes() == b"outside"
    assert (source / "lib" / "app.js").read_bytes() == b"new script"
    assert (target / "jsver.txt").read_bytes() == b"1.0"
    assert_runtime_started(target, tmp_path)


@pytest.mark.skipif(not KEYED, reason="a build without a package key moves loose files")
def test_a_keyed_build_moves_nothing_and_starts_the_runtime(tmp_path):
    source, target = prepare(tmp_path, ["app.js"])
    (target / "jsver.txt").write_bytes(b"1.0")

    result = run_tool("-n", "2.0", winerig.winpath(source), winerig.winpath(target), "app.js", cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, texts.console(texts.UNSIGNED_MOVE_REFUSED))
    assert (source / "app.js").read_bytes() == b"app.js" * 3
    assert not (target / "app.js").exists()
    assert (target / "jsver.txt").read_bytes() == b"1.0"
    assert_runtime_started(target, tmp_path)
