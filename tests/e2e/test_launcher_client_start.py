"""The installed road: with a readable version record the launcher starts the client
at once, without ever showing a window, and ends."""
import pytest

import launcher
import texts
import winerig


pytestmark = pytest.mark.usefixtures("install_root")


def expected_command_line(folder, argument):
    return f'"{winerig.winpath(folder)}\\erp.exe" "{argument}"'


@pytest.mark.parametrize("folder_name, ver", [
    ("launcher", "70"),
    ("client dir with spaces", "7 1"),
    ("客户 端", "版本3"),  # Chinese in the ANSI code page (GBK), in both arguments
])
def test_installed_client_starts_at_once_with_its_folder(tmp_path, folder_name, ver):
    folder = launcher.make_launcher_folder(tmp_path, folder_name)
    launcher.write_record(ver=ver)

    code, _, windows = launcher.launch_and_watch(folder)

    assert (code, windows) == (1, [])
    starts = launcher.launches(folder)
    assert len(starts) == 1
    assert starts[0]["exe"] == winerig.winpath(folder / "erp.exe")
    assert starts[0]["command_line"] == expected_command_line(
        folder, f"{launcher.install_root_windows()}\\app\\{ver}")


def test_package_beside_the_launcher_wins_over_the_installed_folder(tmp_path):
    folder = launcher.make_launcher_folder(tmp_path, "with package")
    (folder / "package.nw").write_bytes(b"not read, only looked for")
    launcher.write_record(ver="70")

    code, _, windows = launcher.launch_and_watch(folder)

    assert (code, windows) == (1, [])
    assert [s["command_line"] for s in launcher.launches(folder)] == [
        expected_command_line(folder, f"{winerig.winpath(folder)}\\package.nw")]


def test_without_a_runtime_the_launcher_ends_with_0_and_shows_nothing(tmp_path):
    folder = launcher.make_launcher_folder(tmp_path, runtime=False)
    launcher.write_record(ver="70")

    code, _, windows = launcher.launch_and_watch(folder)

    assert (code, windows) == (0, [])
    assert not any(tmp_path.rglob("launches.jsonl"))


@pytest.mark.parametrize("runtime, exit_code, last_line", [
    (True, 1, texts.gbk(texts.LOG_CLIENT_STARTED)),
    (False, 0, texts.gbk(texts.LOG_START_FAILED)),
], ids=["started", "runtime-missing"])
def test_client_start_logs_the_command_line_and_its_outcome(tmp_path, runtime, exit_code, last_line):
    folder = launcher.make_launcher_folder(tmp_path, "客户 端", runtime=runtime)
    launcher.write_record(ver="70")

    with launcher.debug_output(tmp_path) as debug:
        code, pid, _ = launcher.launch_and_watch(folder)
    assert code == exit_code

    command_line = expected_command_line(folder, f"{launcher.install_root_windows()}\\app\\70")
    assert debug.messages(pid)[-2:] == [b"\n" + command_line.encode("gbk") + b"\n", last_line]
