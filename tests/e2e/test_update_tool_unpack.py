"""The update tool's unpack mode (-u): end the client, unpack, restart, record."""
import contextlib
import hashlib
import os
import pathlib
import shutil

import pytest

import packages
import texts
import winerig
import ziputil
from update_tool_rig import (KEYED, UPDATE, finished_pid, launches, listing, missing_archive_line, place_runtime,
                             run_tool, settle, sign_update, start_sleeping_client, wait_for_launches)
from ziputil import entry

NESTED = [
    entry("package.json", b'{"main": "index.html"}'),
    entry("js/"),
    entry("js/lib/"),
    entry("js/lib/app.js", b"console.log(1)\n" * 1000),
    entry("css/site/theme.css", b"body{}"),  # no folder entries for these
    entry("empty/nested/"),  # nor for its parent, as Python's zipfile writes it
    entry("资源/图标.png", b"\x89PNG"),
    entry("资源/说明.txt", b"utf-8 name", utf8=True),
    entry(ziputil.deep_name(), b"deep"),  # past MAX_PATH below the target
]


def header(archive, target):
    return texts.console(texts.UNPACK_HEADER % (archive, target))


def assert_runtime_started_in(target):
    records = wait_for_launches(target)
    assert len(records) == 1
    exe = winerig.winpath(target) + "/nw.exe"
    assert records[0]["exe"] == winerig.winpath(target / "nw.exe")
    # no arguments: the command line is the program's own path alone
    assert records[0]["command_line"] in (exe, '"%s"' % exe)
    assert records[0]["cwd"] == winerig.winpath(target)


def test_ends_the_client_unpacks_restarts_and_records(tmp_path):
    client, pid = start_sleeping_client(tmp_path / "running")
    target = tmp_path / "install"
    place_runtime(target)
    archive = ziputil.write_zip(tmp_path / "update.zip", NESTED)

    result = run_tool("-u", str(pid), "1.2.3", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    assert client.wait(timeout=60) == 0  # ended with exit code 0
    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.EXTRACTING % "package.json" +
        texts.CREATING_FOLDER % "js/" +
        texts.CREATING_FOLDER % "js/lib/" +
        texts.EXTRACTING % "js/lib/app.js" +
        texts.EXTRACTING % "css/site/theme.css" +
        texts.CREATING_FOLDER % "empty/nested/" +
        texts.EXTRACTING % "资源/图标.png" +
        texts.EXTRACTING % "资源/说明.txt" +
        texts.EXTRACTING % ziputil.deep_name())
    assert (target / "js" / "lib" / "app.js").read_bytes() == b"console.log(1)\n" * 1000
    assert (target / "css" / "site" / "theme.css").read_bytes() == b"body{}"
    assert (target / "empty" / "nested").is_dir()
    assert (target / "资源" / "图标.png").read_bytes() == b"\x89PNG"
    assert (target / "资源" / "说明.txt").read_bytes() == b"utf-8 name"
    assert (target / ziputil.deep_name()).read_bytes() == b"deep"
    assert (target / "jsver.txt").read_bytes() == b"1.2.3"
    assert_runtime_started_in(target)


def test_process_id_0_without_digits_or_out_of_range_ends_nothing(tmp_path):
    client, pid = start_sleeping_client(tmp_path / "running")
    try:
        # Cut to 32 bits, the last two would name the running client.
        for n, (version, pid_text) in enumerate([("2.0", "0"), ("2.1", "abc"), ("2.2", str(pid + 2 ** 32)),
                                                 ("2.3", str(pid - 2 ** 32))]):
            target = tmp_path / f"install-{n}"
            place_runtime(target)
            archive = ziputil.write_zip(tmp_path / "u.zip", [entry("a.txt", b"a")])

            result = run_tool("-u", pid_text, version, winerig.winpath(archive),
                              winerig.winpath(target), cwd=tmp_path)

            assert result.returncode == 0
            assert b"Open Process" not in result.stdout
            assert (target / "a.txt").read_bytes() == b"a"
            assert (target / "jsver.txt").read_bytes() == version.encode()
            assert_runtime_started_in(target)
        assert client.poll() is None  # still running
    finally:
        winerig.run(["taskkill", "/F", "/PID", str(pid)])
        client.wait(timeout=60)


def test_process_that_already_exited_gives_the_open_failure_line(tmp_path):
    pid = finished_pid(tmp_path / "gone")
    target = tmp_path / "install"
    place_runtime(target)
    archive = ziputil.write_zip(tmp_path / "u.zip", [entry("a.txt", b"a")])

    result = run_tool("-u", str(pid), "3.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    # ERROR_INVALID_PARAMETER; the run goes on
    assert result.stdout.startswith(b"\r\nOpen Process fAiled:87\r\n\r\n")
    assert result.returncode == 0
    assert (target / "jsver.txt").read_bytes() == b"3.0"
    assert_runtime_started_in(target)


def test_relative_archive_path_resolves_against_the_starting_folder(tmp_path):
    target = tmp_path / "install"
    place_runtime(target)
    (tmp_path / "downloads").mkdir()
    ziputil.write_zip(tmp_path / "downloads" / "pkg.zip", [entry("r.txt", b"r")])

    result = run_tool("-u", "0", "4.0", "downloads\\pkg.zip", winerig.winpath(target), cwd=tmp_path)

    assert result.returncode == 0
    assert (target / "r.txt").read_bytes() == b"r"
    assert (target / "jsver.txt").read_bytes() == b"4.0"


def test_archive_path_with_chinese_characters(tmp_path):
    folder = tmp_path / "用户 张三" / "下载"
    folder.mkdir(parents=True)
    archive = ziputil.write_zip(folder / "升级包.zip", [entry("中文.txt", b"zh")])
    target = tmp_path / "安装"
    place_runtime(target)

    result = run_tool("-u", "0", "5.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.EXTRACTING % "中文.txt")
    assert (target / "中文.txt").read_bytes() == b"zh"
    assert (target / "jsver.txt").read_bytes() == b"5.0"
    assert_runtime_started_in(target)


def test_target_that_does_not_exist_ends_the_run_with_minus_1(tmp_path):
    client, pid = start_sleeping_client(tmp_path / "running")
    archive = ziputil.write_zip(tmp_path / "u.zip", [entry("a.txt", b"a")])
    target = tmp_path / "missing"

    result = run_tool("-u", str(pid), "6.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 255  # exit code -1
    assert client.wait(timeout=60) == 0  # the client was ended before
    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.TARGET_NOT_ENTERED % winerig.winpath(target))
    settle()
    assert len(launches(tmp_path / "running")) == 1  # only the client's own start
    assert not target.exists()
    assert listing(tmp_path) == ["running", "u.zip"]


def test_missing_archive_restarts_the_runtime_but_records_no_version(tmp_path):
    client, pid = start_sleeping_client(tmp_path / "running")
    target = tmp_path / "install"
    place_runtime(target)
    (target / "jsver.txt").write_bytes(b"1.0")
    archive = tmp_path / "not-there.zip"

    result = run_tool("-u", str(pid), "7.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    assert client.wait(timeout=60) == 0
    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        missing_archive_line(winerig.winpath(archive)))
    assert_runtime_started_in(target)
    assert (target / "jsver.txt").read_bytes() == b"1.0"  # the installed version stays on record


def old_install(target):
    """An installed 1.0 with a file the update replaces, one it keeps and a folder."""
    place_runtime(target)
    (target / "jsver.txt").write_bytes(b"1.0")
    (target / "app.js").write_bytes(b"old app")
    (target / "js").mkdir()
    (target / "js" / "lib.js").write_bytes(b"old lib")
    return packages.tree_contents(target)


# (row, entries, the line the run ends with); every entry before the failing one is fine.
STAGING_FAILURES = [
    ("crc", [entry("broken.bin", b"b" * 20000, crc=0x1234)],
     texts.EXTRACTING % "broken.bin" + texts.CRC_MISMATCH),
    ("refused name", [entry("../escape.txt", b"evil")], texts.REFUSED_OUTSIDE % "../escape.txt"),
    ("unwritable name", [entry("bad<name>.txt", b"x")], texts.OPEN_FAILED % "bad<name>.txt"),
    ("link", [], texts.REFUSED_LINK % ("js/lib.js", "js")),
    ("full disk", [entry("huge.bin", bytes(4 * 1024 * 1024))],
     texts.EXTRACTING % "huge.bin" + texts.WRITE_FAILED),
]


@pytest.mark.parametrize("row, failing, last_line", STAGING_FAILURES, ids=[r[0] for r in STAGING_FAILURES])
def test_a_failure_while_staging_or_swapping_leaves_the_target_as_it_was(tmp_path, row, failing, last_line):
    disk = tmp_path / "disk"
    with contextlib.ExitStack() as stack:
        if row == "full disk":
            stack.enter_context(winerig.small_disk_at(disk, 1024 * 1024))
        target = disk / "install"
        if row == "link":
            (tmp_path / "outside").mkdir()
            (tmp_path / "outside" / "lib.js").write_bytes(b"outside")
        before = old_install(target)
        if row == "link":
            shutil.rmtree(target / "js")
            (target / "js").symlink_to(tmp_path / "outside", target_is_directory=True)
            before = packages.tree_contents(target)
        archive = ziputil.write_zip(tmp_path / "u.zip", [
            entry("app.js", b"new app"), entry("js/lib.js", b"new lib"), entry("new/file.txt", b"new"),
            *failing])

        result = run_tool("-u", "0", "2.0", winerig.winpath(archive), winerig.winpath(target), cwd=tmp_path)

        assert result.returncode == 0
        assert result.stdout.endswith(texts.console(last_line)), result.stdout
        assert_runtime_started_in(target)
        assert packages.tree_contents(target, skip=[target / "launches.jsonl"]) == before  # jsver.txt 1.0 too
        assert listing(disk) == ["install"]  # no staging folder beside it
        if row == "link":
            assert (tmp_path / "outside" / "lib.js").read_bytes() == b"outside"


def test_a_link_planted_in_the_staging_folders_name_is_neither_followed_nor_emptied(tmp_path):
    victim = tmp_path / "victim"
    victim.mkdir()
    (victim / "journal").write_bytes(b"planted")
    (victim / "keep.txt").write_bytes(b"keep")
    target = tmp_path / "install"
    before = old_install(target)
    (tmp_path / "install.~update").symlink_to(victim, target_is_directory=True)
    archive = ziputil.write_zip(tmp_path / "u.zip", [entry("app.js", b"new app")])

    result = run_tool("-u", "0", "2.0", winerig.winpath(archive), winerig.winpath(target), cwd=tmp_path)

    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.NOT_STAGED % winerig.winpath(target))
    assert_runtime_started_in(target)
    assert packages.tree_contents(target, skip=[target / "launches.jsonl"]) == before
    assert packages.tree_contents(victim) == {"journal": (7, hashlib.sha256(b"planted").hexdigest()),
                                              "keep.txt": (4, hashlib.sha256(b"keep").hexdigest())}


def test_a_file_the_client_still_holds_undoes_the_swap_after_the_retries(tmp_path):
    target = tmp_path / "install"
    before = old_install(target)
    holder = tmp_path / "holder"
    place_runtime(holder, sleeping=True)
    (holder / "stub-hold").write_text(winerig.winpath(target / "js" / "lib.js"), encoding="utf-8")
    client = winerig.start([holder / "nw.exe"], cwd=holder)
    try:
        assert wait_for_launches(holder), "the holder did not start"
        archive = ziputil.write_zip(tmp_path / "u.zip", [
            entry("app.js", b"new app"), entry("js/lib.js", b"new lib"), entry("z.txt", b"new")])

        result = run_tool("-u", "0", "2.0", winerig.winpath(archive), winerig.winpath(target), cwd=tmp_path)
    finally:
        client.kill()
        client.wait()

    assert result.returncode == 0
    assert result.stdout.endswith(texts.console(texts.EXTRACTING % "z.txt" + texts.NOT_REPLACED % "js/lib.js"))
    assert_runtime_started_in(target)
    assert packages.tree_contents(target, skip=[target / "launches.jsonl"]) == before
    assert listing(tmp_path) == ["holder", "install", "u.zip"]


def test_hostile_entry_names_write_nothing_and_record_no_version(tmp_path):
    install = tmp_path / "root" / "app" / "install"
    place_runtime(install)
    names = ["../escape.txt", "..\\..\\escape.txt", "a/../../../escape.txt", "/escape.txt",
             "\\escape.txt", "C:escape.txt", "Z:\\escape.txt", "CON", "aux.txt", "x/nul.js",
             "... /escape.txt"]
    # One package per name: the first refused name ends its unpacking.
    for n, name in enumerate(names):
        archive = ziputil.write_zip(tmp_path / ("evil-%d.zip" % n),
                                    [entry("ok.txt", b"ok"), entry(name, b"evil"), entry("after.txt", b"!")])
        result = run_tool("-u", "0", "9.0", winerig.winpath(archive), winerig.winpath(install),
                          cwd=tmp_path)

        assert result.returncode == 0
        assert result.stdout.endswith(texts.console(texts.EXTRACTING % "ok.txt" + texts.REFUSED_OUTSIDE % name)), name
    outside = sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*")
                     if install not in p.parents and p != install and p.suffix not in (".zip", ".sig"))
    assert outside == ["root", "root/app"]
    assert sorted(p.name for p in install.iterdir()) == ["launches.jsonl", "nw.exe"]
    assert not (winerig.BUILD / "wineprefix" / "drive_c" / "escape.txt").exists()
    assert not pathlib.Path("/escape.txt").exists()  # Z:\escape.txt
    wait_for_launches(install, count=len(names))


def test_target_paths_of_200_characters_and_more(tmp_path):
    target = tmp_path
    while len(winerig.winpath(target)) < 200:
        target = target / "deeply-nested-folder"
    place_runtime(target)
    archive = ziputil.write_zip(tmp_path / "u.zip", [entry("x.txt", b"x")])
    assert len(winerig.winpath(target) + "/jsver.txt") >= 200

    result = run_tool("-u", "0", "10.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    assert (target / "x.txt").read_bytes() == b"x"
    assert (target / "jsver.txt").read_bytes() == b"10.0"
    assert_runtime_started_in(target)


def test_nothing_is_written_through_links_planted_in_the_target(tmp_path):
    # Under wine a Unix symbolic link is the only folder link there is: it opens as its
    # target, so only the place its handle names gives it away.
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "app.js").write_bytes(b"outside")
    victim = tmp_path / "victim.txt"
    victim.write_bytes(b"victim")
    target = tmp_path / "install"
    place_runtime(target)
    (target / "js").symlink_to(outside, target_is_directory=True)
    os.link(victim, target / "index.html")  # a hard link in place of a file
    (target / "style.css").symlink_to(victim)  # a file link
    archive = ziputil.write_zip(tmp_path / "u.zip", [
        entry("index.html", b"new page"),
        entry("style.css", b"new style"),
        entry("js/app.js", b"new script"),
        entry("after.txt", b"never"),
    ])

    result = run_tool("-u", "0", "9.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    # Staged whole, then stopped by whichever link the swap meets first (it goes in
    # the staged tree's listing order): the files swapped before it are put back, so
    # the links are what they were.
    staged = header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.EXTRACTING % "index.html" + texts.EXTRACTING % "style.css"
        + texts.EXTRACTING % "js/app.js" + texts.EXTRACTING % "after.txt")
    assert result.stdout in (staged + texts.console(texts.REFUSED_LINK % ("js/app.js", "js")),
                             staged + texts.console(texts.REFUSED_FILE_LINK % "style.css"))
    assert victim.read_bytes() == b"victim"
    assert sorted(p.name for p in outside.iterdir()) == ["app.js"]
    assert (outside / "app.js").read_bytes() == b"outside"
    assert os.stat(target / "index.html").st_ino == os.stat(victim).st_ino
    assert (target / "style.css").is_symlink()
    assert listing(tmp_path) == ["install", "outside", "u.zip", "victim.txt"]
    assert not (target / "after.txt").exists()
    assert not (target / "jsver.txt").exists()  # the unpack failed
    assert_runtime_started_in(target)


def journal_state(stage):
    """The state line of the staging folder's journal ("staging", "swapping",
    "undoing"), or None while there is none."""
    try:
        lines = (stage / "journal").read_bytes().decode("utf-16-le").split("\n")
    except (OSError, UnicodeDecodeError):
        return None
    return lines[1][len("state "):] if len(lines) > 1 else None


def files_in(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


KILL_FILES = 300  # each replaced, plus as many new ones in a new folder
# (kill point, what the disk shows when the tool is killed, whether the next run
# finishes the update)
KILL_POINTS = [
    ("while staging", lambda stage: journal_state(stage) == "staging" and files_in(stage / "new") >= 20, False),
    ("after k of n swaps", lambda stage: journal_state(stage) == "swapping" and files_in(stage / "old") >= 10
     and files_in(stage / "new") >= 10, True),
    ("after the swap, before the record",
     lambda stage: journal_state(stage) == "swapping" and files_in(stage / "new") == 0, True),
]


@pytest.mark.parametrize("point, reached, finished", KILL_POINTS, ids=[k[0] for k in KILL_POINTS])
def test_a_killed_update_is_finished_or_undone_by_the_next_run(tmp_path, point, reached, finished):
    target = tmp_path / "install"
    place_runtime(target)
    (target / "jsver.txt").write_bytes(b"1.0")
    for i in range(KILL_FILES):
        (target / f"f{i:03d}.js").write_bytes(b"old %d\n" % i)
    old = packages.tree_contents(target)
    entries = [entry(f"f{i:03d}.js", b"new %d\n" % i) for i in range(KILL_FILES)]
    entries += [entry(f"added/a{i:03d}.js", b"added %d\n" % i) for i in range(KILL_FILES)]
    archive = ziputil.write_zip(tmp_path / "u.zip", entries)
    stage = tmp_path / "install.~update"
    if KEYED:
        sign_update(archive, "2.0")

    process = winerig.start([UPDATE, "-u", "0", "2.0", winerig.winpath(archive), winerig.winpath(target)],
                            cwd=tmp_path)
    try:
        winerig.freeze(process)
        winerig.run_in_slices(process, lambda: reached(stage))
    finally:
        process.kill()
        process.wait()
    assert stage.is_dir()

    result = run_tool("-u", "0", "3.0", winerig.winpath(tmp_path / "missing.zip"), winerig.winpath(target),
                      cwd=tmp_path)

    left = texts.FINISHED_LEFT % "2.0" if finished else texts.UNDID_LEFT % "2.0"
    assert result.stdout == header(winerig.winpath(tmp_path / "missing.zip"), winerig.winpath(target)) + \
        texts.console(left + missing_archive_line(winerig.winpath(tmp_path / "missing.zip")))
    assert_runtime_started_in(target)
    now = packages.tree_contents(target, skip=[target / "launches.jsonl"])
    if finished:
        new = {name: value for name, value in now.items() if name != "jsver.txt"}
        expected = {e.name.decode(): (len(e.data), hashlib.sha256(e.data).hexdigest()) for e in entries}
        assert {n: v for n, v in new.items() if n != "nw.exe" and n != "added/"} == expected
        assert (target / "jsver.txt").read_bytes() == b"2.0"
    else:
        assert now == old
    assert listing(tmp_path) == ["install", "u.zip"]


@pytest.mark.skipif(not KEYED, reason="a build without a package key reads no signature")
def test_a_keyed_build_unpacks_only_what_its_signature_covers(tmp_path):
    # The signature table is the unit tests'; this is the road through the real tool:
    # a refusal stages nothing and changes nothing, and the signed archive installs.
    target = tmp_path / "install"
    before = old_install(target)
    archive = ziputil.write_zip(tmp_path / "u.zip", [entry("app.js", b"new app")])
    shown = winerig.winpath(archive)
    signature = pathlib.Path(str(archive) + ".sig")
    sign_update(archive, "2.1")  # another version's
    refusals = [texts.SIGNATURE_MISMATCH % shown]
    runs = [run_tool("-u", "0", "2.0", shown, winerig.winpath(target), cwd=tmp_path, signed=False)]
    signature.unlink()
    refusals.append(texts.SIGNATURE_MISSING % (shown, shown))
    runs.append(run_tool("-u", "0", "2.0", shown, winerig.winpath(target), cwd=tmp_path, signed=False))
    for run, refusal in zip(runs, refusals):
        assert (run.returncode, run.stdout) == (0, header(shown, winerig.winpath(target)) + texts.console(refusal))
    wait_for_launches(target, count=2)
    assert packages.tree_contents(target, skip=[target / "launches.jsonl"]) == before
    assert listing(tmp_path) == ["install", "u.zip"]

    result = run_tool("-u", "0", "2.0", shown, winerig.winpath(target), cwd=tmp_path)

    assert result.returncode == 0
    assert (target / "app.js").read_bytes() == b"new app"
    assert (target / "jsver.txt").read_bytes() == b"2.0"
