"""The update tool's unpack mode (-u): end the client, unpack, restart, record."""
import os
import pathlib

import texts
import winerig
import ziputil
from update_tool_rig import (finished_pid, launches, place_runtime, run_tool, settle,
                             start_sleeping_client, wait_for_launches)
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
    assert sorted(p.name for p in tmp_path.iterdir()) == ["running", "u.zip"]


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
        texts.NO_ARCHIVE)
    assert_runtime_started_in(target)
    assert (target / "jsver.txt").read_bytes() == b"1.0"  # the installed version stays on record


def test_broken_entry_restarts_the_runtime_but_records_no_version(tmp_path):
    target = tmp_path / "install"
    place_runtime(target)
    archive = ziputil.write_zip(tmp_path / "u.zip", [
        entry("first.txt", b"1"),
        entry("broken.bin", b"b" * 20000, crc=0x1234),
        entry("after.txt", b"never"),
    ])

    result = run_tool("-u", "0", "8.0", winerig.winpath(archive), winerig.winpath(target),
                      cwd=tmp_path)

    assert result.returncode == 0
    assert result.stdout.endswith(texts.console(texts.EXTRACTING % "broken.bin" + texts.CRC_MISMATCH))
    assert (target / "broken.bin").read_bytes() == b"b" * 20000
    assert not (target / "after.txt").exists()
    assert not (target / "jsver.txt").exists()
    assert_runtime_started_in(target)


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
                     if install not in p.parents and p != install and p.suffix != ".zip")
    assert outside == ["root", "root/app"]
    assert sorted(p.name for p in install.iterdir()) == ["launches.jsonl", "nw.exe", "ok.txt"]
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
    assert result.stdout == header(winerig.winpath(archive), winerig.winpath(target)) + texts.console(
        texts.EXTRACTING % "index.html" + texts.EXTRACTING % "style.css"
        + texts.REFUSED_LINK % ("js/app.js", "js"))
    assert victim.read_bytes() == b"victim"
    assert sorted(p.name for p in outside.iterdir()) == ["app.js"]
    assert (outside / "app.js").read_bytes() == b"outside"
    assert (target / "index.html").read_bytes() == b"new page"
    assert (target / "style.css").read_bytes() == b"new style"
    assert not (target / "after.txt").exists()
    assert not (target / "jsver.txt").exists()  # the unpack failed
    assert_runtime_started_in(target)
