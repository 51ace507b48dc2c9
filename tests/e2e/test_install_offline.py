"""The install from res.dat beside the launcher: no network, the shipped version
recorded in the install root, and the client started as soon as it is in place."""
import zlib

import pytest

import launcher
import packages
import texts
import winerig
import ziputil


pytestmark = pytest.mark.usefixtures("install_root")


@pytest.fixture(autouse=True)
def no_network(gateway_factory):
    """The compiled-in gateway listens and expects nothing: any request fails the test."""
    return gateway_factory(port=winerig.GATEWAY_PORT)


def shipped(tmp_path, record=None, archive=None):
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    (folder / "res.dat").write_bytes(packages.app_zip() if archive is None else archive)
    if record is not None:
        (folder / "jsver.txt").write_bytes(record)
    return folder


def client_start(folder, ver):
    return (f'"{launcher.winerig.winpath(folder)}\\erp.exe" '
            f'"{launcher.install_root_windows()}\\app\\{ver}"')


def started(folder):
    launcher.eventually(lambda: len(launcher.launches(folder)), 1)
    return [s["command_line"] for s in launcher.launches(folder)]


def test_shipped_archive_installs_its_version_and_starts_the_client_at_once(tmp_path, install_root):
    folder = shipped(tmp_path, record=b'{"platform":"8","type":"9","ver":"5"}')
    with launcher.RunningLauncher(folder) as run:
        assert run.wait() == 1
    assert started(folder) == [client_start(folder, "5")]
    for name, data in packages.SAMPLE_APP.items():
        assert (install_root / "app" / "5" / name).read_bytes() == data
    assert not (install_root / "app" / "temp5").exists()
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"8","type":"9","ver":"5"}\r\n'

    # The next start finds the record and starts the client without a window.
    (folder / "launches.jsonl").unlink()
    code, _, windows = launcher.launch_and_watch(folder)
    assert (code, windows) == (1, [])
    assert started(folder) == [client_start(folder, "5")]


@pytest.mark.parametrize("record", [None, b'{"ver":"..\\\\x"}', b"not json"],
                         ids=["missing", "unsafe-version", "unparsable"])
def test_archive_without_a_usable_record_installs_version_70(tmp_path, install_root, record):
    folder = shipped(tmp_path, record=record)
    with launcher.RunningLauncher(folder) as run:
        assert run.wait() == 1
    assert started(folder) == [client_start(folder, "70")]
    assert (install_root / "app" / "70" / "index.html").exists()
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"70"}\r\n'


def test_deep_paths_and_utf8_names_install_whole_over_an_installed_tree_as_deep(tmp_path, install_root):
    """Entries 320 characters below the install root and UTF-8 names (flag bit 11) are
    written whole; the installed folder, itself past MAX_PATH, is deleted and replaced."""
    deep = ziputil.deep_name()
    archive = ziputil.build_zip([ziputil.entry(n, d) for n, d in packages.SAMPLE_APP.items()] +
                                [ziputil.entry(deep, b"new deep"), ziputil.entry("资源/说明.txt", b"zh", utf8=True)])
    folder = shipped(tmp_path, record=b'{"ver":"5"}', archive=archive)
    old = install_root / "app" / "5" / ziputil.deep_name(leaf="old.js")
    old.parent.mkdir(parents=True)
    old.write_bytes(b"old deep")

    with launcher.RunningLauncher(folder) as run:
        assert run.wait() == 1
    assert started(folder) == [client_start(folder, "5")]
    app = install_root / "app" / "5"
    assert (app / deep).read_bytes() == b"new deep"
    assert (app / "资源" / "说明.txt").read_bytes() == b"zh"
    assert not old.exists()
    assert not (install_root / "app" / "temp5").exists()


def _crc_broken_app():
    """The application archive with js/app.js whole but under a wrong CRC: its walk
    stops there, which fails the extraction like an archive that cannot be opened."""
    return ziputil.build_zip([
        ziputil.entry(name, data, crc=(zlib.crc32(data) ^ 1) if name == "js/app.js" else None)
        for name, data in packages.SAMPLE_APP.items()])


def _app_with(name):
    """The application archive with one more entry, which cannot be written."""
    return ziputil.build_zip([ziputil.entry(n, d) for n, d in packages.SAMPLE_APP.items()] +
                             [ziputil.entry(name, b"x")])


@pytest.mark.parametrize("archive", [b"PK\x03\x04 but nothing more", _crc_broken_app(),
                                     _app_with("../escaped.txt"), _app_with("index.html/x")],
                         ids=["not-an-archive", "crc-mismatch", "refused-name", "uncreatable-file"])
def test_broken_archive_shows_the_unpack_failure_box_and_leaves_nothing_installed(tmp_path, install_root,
                                                                                  archive):
    folder = shipped(tmp_path, record=b'{"ver":"5"}', archive=archive)
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        launcher.Dialog(texts.UNPACK_FAILED_BOX).wait()
        assert launcher.probe("text", texts.UNPACK_FAILED_BOX, 0xFFFF) == texts.UNPACK_FAILED_BOX
        launcher.probe("close", texts.UNPACK_FAILED_BOX)
        assert launcher.probe_status("gone", texts.UNPACK_FAILED_BOX, 5000) == 0
        assert dialog.status() == texts.STATUS_UNPACK_FAILED
        assert run.running()
        dialog.click(launcher.CANCEL)
        assert run.wait() == 0
    assert launcher.launches(folder) == []
    assert not (install_root / "app" / "5").exists()
    assert not (install_root / "jsver.txt").exists()
