"""The update tool's usage, folder modes and autostart entry, run as the real program."""
import os
import pathlib
import stat

import pytest

import texts
import winerig
import ziputil
from update_tool_rig import (SANDBOX_SERVER, autostart_value, current_directory,
                             expand_sz, run_tool, sandbox_volumes)


@pytest.mark.parametrize("args", [
    [], ["-m"], ["-m", "folder"], ["-N", "1", "a", "b"], ["-r", "x"], ["rx", "x"], ["R", "x"],
    ["-x"], [""],
    # each mode with one argument too few
    ["-n", "1.0", "src"], ["-u", "0", "1.0", "pkg.zip"], ["r"], ["-c"], ["-d"],
], ids=repr)
def test_usage_in_gbk_and_exit_0(tmp_path, args):
    result = run_tool(*args, cwd=tmp_path)

    assert result.stdout == texts.USAGE_BYTES
    assert result.returncode == 0
    assert list(tmp_path.iterdir()) == []  # "-m folder" creates nothing


def test_create_folders_with_mixed_separators_and_existing_levels(tmp_path):
    (tmp_path / "exists" / "deeper").mkdir(parents=True)
    (tmp_path / "exists" / "deeper" / "file.txt").write_bytes(b"kept")

    for path in ["a\\b/c", "exists\\deeper/new\\", winerig.winpath(tmp_path / "abs") + "/x\\y",
                 "用户/文件夹"]:
        result = run_tool("-c", path, cwd=tmp_path)
        assert (result.returncode, result.stdout) == (0, b""), path

    assert (tmp_path / "a" / "b" / "c").is_dir()
    assert (tmp_path / "exists" / "deeper" / "new").is_dir()
    assert (tmp_path / "exists" / "deeper" / "file.txt").read_bytes() == b"kept"
    assert (tmp_path / "abs" / "x" / "y").is_dir()
    assert (tmp_path / "用户" / "文件夹").is_dir()


def test_create_folders_with_a_leading_separator_creates_nothing(tmp_path):
    marker = "zorvik-update-tool-lead-%d" % os.getpid()

    result = run_tool("-c", "\\%s\\x" % marker, cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert not pathlib.Path("/", marker).exists()  # the root of drive Z:
    assert list(tmp_path.iterdir()) == []


def test_delete_tree_keeps_a_read_only_file_and_its_ancestors(tmp_path):
    tree = tmp_path / "tree"
    (tree / "keep" / "inner").mkdir(parents=True)
    (tree / "sibling" / "deeper").mkdir(parents=True)
    (tree / "keep" / "inner" / "locked.txt").write_bytes(b"locked")
    (tree / "keep" / "other.txt").write_bytes(b"")
    (tree / "sibling" / "deeper" / "x.bin").write_bytes(b"x")
    deep = tree / "sibling" / ziputil.deep_name()  # past MAX_PATH
    deep.parent.mkdir(parents=True)
    deep.write_bytes(b"deep")
    (tree / "top.txt").write_bytes(b"")
    # wine shows a file without write permission as read-only
    os.chmod(tree / "keep" / "inner" / "locked.txt", stat.S_IRUSR)
    try:
        result = run_tool("-d", winerig.winpath(tree), cwd=tmp_path)
        remaining = sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*"))
    finally:
        os.chmod(tree / "keep" / "inner" / "locked.txt", stat.S_IRUSR | stat.S_IWUSR)

    assert (result.returncode, result.stdout) == (0, b"")
    assert remaining == ["tree", "tree/keep", "tree/keep/inner", "tree/keep/inner/locked.txt"]


def test_delete_tree_of_a_missing_folder_does_nothing(tmp_path):
    (tmp_path / "bystander.txt").write_bytes(b"here")

    result = run_tool("-d", winerig.winpath(tmp_path / "missing"), cwd=tmp_path)

    assert (result.returncode, result.stdout) == (0, b"")
    assert [p.name for p in tmp_path.iterdir()] == ["bystander.txt"]


def test_delete_tree_never_follows_links_out_of_the_tree(tmp_path):
    outside = tmp_path / "outside"
    (outside / "deep").mkdir(parents=True)
    (outside / "precious.txt").write_bytes(b"precious")
    (outside / "deep" / "also.txt").write_bytes(b"also")
    empty_outside = tmp_path / "empty-outside"
    empty_outside.mkdir()
    tree = tmp_path / "tree"
    (tree / "sub").mkdir(parents=True)
    (tree / "sub" / "f.txt").write_bytes(b"f")
    # wine shows Unix symbolic links to folders as folder reparse points
    (tree / "link").symlink_to(outside, target_is_directory=True)
    (tree / "sub" / "empty-link").symlink_to(empty_outside, target_is_directory=True)
    (tmp_path / "start-link").symlink_to(outside, target_is_directory=True)

    # winerig.winpath resolves links, so the link's own name is spelled out here
    start_link = "Z:" + str(tmp_path / "start-link").replace("/", "\\")
    for path in [winerig.winpath(tree), start_link, start_link + "\\"]:
        result = run_tool("-d", path, cwd=tmp_path)
        assert (result.returncode, result.stdout) == (0, b"")

    assert (outside / "precious.txt").read_bytes() == b"precious"
    assert (outside / "deep" / "also.txt").read_bytes() == b"also"
    assert empty_outside.is_dir()
    assert not (tree / "sub" / "f.txt").exists()


def test_delete_tree_refuses_roots_of_drives_and_shares(tmp_path):
    # Every root here is a sandbox's: a refusal that fails deletes only its markers.
    with sandbox_volumes(tmp_path) as (letter, drive, share):
        markers = [drive / "marker.txt", drive / "folder" / "inner.txt", share / "marker.txt",
                   share / "folder" / "inner.txt"]
        for marker in markers:
            marker.parent.mkdir(exist_ok=True)
            marker.write_bytes(b"kept")
        (drive / "work").mkdir()
        # "\" and "/" name the current drive's root: never run them anywhere but here.
        assert current_directory(drive) == letter + ":\\"
        assert current_directory(drive / "work") == letter + ":\\work"
        unc = "\\\\%s\\share" % SANDBOX_SERVER
        rows = [(drive, path) for path in [
            letter + ":\\", letter + ":", letter.lower() + ":/", letter + ":\\\\\\", letter + "://",
            letter + ":\\.", letter + ":.", letter + ":\\work\\..", "\\", "/", "\\.",
            "\\\\?\\%s:\\" % letter, "\\\\?\\%s:" % letter, "\\\\.\\%s:\\" % letter,
            "//?/%s:/" % letter, unc, unc + "\\", unc.replace("\\", "/") + "/", unc + "\\.",
            "\\\\?\\UNC\\%s\\share\\" % SANDBOX_SERVER,
            # trailing blanks and dots, which the platform trims before the walk starts
            letter + ":\\ ", letter + ":\\. ", letter + ":\\ .", letter + ":\\work\\..\\ ",
            "\\\\.\\%s:\\ " % letter, "\\ ", unc + "\\ ", unc + " ", unc + "\\. ", unc + "\\ .",
        ]] + [(drive / "work", path) for path in [letter + ":", "\\", "..", ".\\..", "\\ ", "..\\ "]]

        for cwd, path in rows:
            result = run_tool("-d", path, cwd=cwd)
            assert (result.returncode, result.stdout) == (
                0, texts.console(texts.NOT_DELETING_ROOT % path)), path
            assert all(marker.read_bytes() == b"kept" for marker in markers), path

        # The same drive and share below their roots: the sandbox is what they reach.
        # A trailing blank or dot is trimmed there too: the folder goes, nothing else.
        for folder, path in [(drive, letter + ":\\folder"), (share, unc + "\\folder"),
                             (drive, letter + ":\\folder "), (share, unc + "\\folder.")]:
            (folder / "folder").mkdir(exist_ok=True)
            (folder / "folder" / "inner.txt").write_bytes(b"gone")
            result = run_tool("-d", path, cwd=drive)
            assert (result.returncode, result.stdout) == (0, b""), path
            assert not (folder / "folder").exists(), path
        assert (drive / "marker.txt").read_bytes() == (share / "marker.txt").read_bytes() == b"kept"


@pytest.fixture
def clean_autostart(tmp_path):
    run_tool("r", "delete", cwd=tmp_path)
    yield
    run_tool("r", "delete", cwd=tmp_path)


def test_autostart_entry_is_written_exactly_and_replaced(tmp_path, clean_autostart):
    first = run_tool("r", "C:\\Program Files\\Tarnvale\\nw.exe", cwd=tmp_path)
    second_text = "C:\\Users\\张 三\\AppData\\Local\\app\\nw.exe --autostart %APPDATA%"
    second = run_tool("r", second_text, cwd=tmp_path)

    assert (first.returncode, first.stdout) == (0, b"success to write run key\r\n")
    assert (second.returncode, second.stdout) == (0, b"success to write run key\r\n")
    assert autostart_value(tmp_path) == ("REG_EXPAND_SZ", expand_sz(second_text))


def test_autostart_keyword_is_case_sensitive(tmp_path, clean_autostart):
    result = run_tool("r", "Delete", cwd=tmp_path)

    assert result.stdout == b"success to write run key\r\n"
    assert autostart_value(tmp_path) == ("REG_EXPAND_SZ", expand_sz("Delete"))


def test_autostart_entry_is_deleted_and_deleting_again_fails(tmp_path, clean_autostart):
    run_tool("r", "C:\\app\\nw.exe", cwd=tmp_path)

    deleted = run_tool("r", "delete", cwd=tmp_path)
    again = run_tool("r", "delete", cwd=tmp_path)

    assert (deleted.returncode, deleted.stdout) == (0, b"success to delete run key\r\n")
    assert autostart_value(tmp_path) is None
    # ERROR_FILE_NOT_FOUND from the registry
    assert (again.returncode, again.stdout) == (0, texts.console(texts.RUN_KEY_NOT_OPENED % 2))
