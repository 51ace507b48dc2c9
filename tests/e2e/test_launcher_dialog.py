"""The update dialog and its button, driven through the UI probe like a user.

Without a record the launcher installs: from res.dat beside it, or from the network.
Nothing listens on the built-in gateway's port here, so the network road ends each
pass in the retryable network error; a res.dat that is not an archive ends the local
road in the unpack failure and its message box.
"""
import pathlib
import shutil
import socket

import pytest

import launcher
import packages
import texts
import winerig
from launcher import Dialog

GATEWAY_PORT = winerig.GATEWAY_PORT  # the gateway compiled into the build


pytestmark = pytest.mark.usefixtures("install_root")


@pytest.fixture(autouse=True)
def closed_gateway():
    """Nothing may listen on the gateway's port: every connection must be refused."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        if probe.connect_ex(("127.0.0.1", GATEWAY_PORT)) == 0:
            pytest.fail(f"something listens on port {GATEWAY_PORT}: is another test run's gateway up?")


def network_road(tmp_path):
    return launcher.RunningLauncher(launcher.make_launcher_folder(tmp_path))


def local_road(tmp_path):
    folder = launcher.make_launcher_folder(tmp_path)
    (folder / "res.dat").write_bytes(b"this is no zip archive")
    return launcher.RunningLauncher(folder)


def test_dialog_checks_for_updates_and_offers_retry_after_a_network_error(tmp_path):
    with network_road(tmp_path) as running:
        dialog = Dialog().wait()

        assert dialog.text() == texts.DIALOG
        assert dialog.visible()
        # The first pass may already have failed: nothing holds it at the check.
        assert dialog.status() in (texts.STATUS_CHECKING, texts.STATUS_NETWORK_ERROR)
        assert dialog.progress() == (0, 0, 100)
        assert dialog.text(launcher.CANCEL) == texts.CAPTION_CANCEL

        assert launcher.eventually(dialog.status, texts.STATUS_NETWORK_ERROR) == \
            texts.STATUS_NETWORK_ERROR
        assert launcher.eventually(dialog.button, texts.CAPTION_RETRY) == texts.CAPTION_RETRY
        launcher.screenshot("launcher-dialog")
        assert running.running()


@pytest.mark.parametrize("leave", ["cancel", "close box"])
def test_cancel_and_the_close_box_end_the_launcher_with_0(tmp_path, leave):
    with network_road(tmp_path) as running:
        dialog = Dialog().wait()
        launcher.eventually(dialog.button, texts.CAPTION_RETRY)

        if leave == "cancel":
            dialog.click(launcher.CANCEL)
        else:
            dialog.close()

        assert running.wait() == 0
        assert launcher.launches(running.folder) == []


@pytest.mark.parametrize("keys", ["alt+/", "alt+?"])
def test_alt_keys_open_the_about_box_over_the_dialog(tmp_path, keys):
    with network_road(tmp_path) as running:
        dialog = Dialog().wait()

        dialog.keys(keys)
        about = Dialog(texts.ABOUT).wait()
        assert about.text(launcher.ABOUT_OK) == texts.CAPTION_OK

        about.click(launcher.ABOUT_OK)
        assert launcher.probe_status("gone", texts.ABOUT, launcher.WAIT_SECONDS * 1000) == 0
        # The About box is only a look aside: the dialog stays and works on.
        assert dialog.visible()
        assert running.running()
        dialog.click(launcher.CANCEL)
        assert running.wait() == 0


def test_retry_runs_a_new_check_and_keeps_the_old_texts_meanwhile(tmp_path):
    # A damaged record means "not installed", and every check reads it again, which
    # the log shows: one line of its text per reading.
    damaged = b"not a record"
    launcher.write_record(raw=damaged)
    with launcher.debug_output(tmp_path) as debug:
        with network_road(tmp_path) as running:
            dialog = Dialog().wait()
            launcher.eventually(dialog.button, texts.CAPTION_RETRY)

            def readings():
                return sum(1 for _, text in debug.records() if text[22:] == damaged)

            # The install check and the first pass.
            assert launcher.eventually(readings, 2) == 2

            dialog.click(launcher.ACTION)

            assert launcher.eventually(readings, 3) == 3
            assert dialog.status() == texts.STATUS_NETWORK_ERROR
            assert dialog.button() == texts.CAPTION_RETRY
            dialog.click(launcher.ACTION)
            assert launcher.eventually(readings, 4) == 4
            assert running.running()
            assert launcher.launches(running.folder) == []


def test_button_does_nothing_while_the_worker_runs_nor_after_a_final_failure(tmp_path):
    with local_road(tmp_path) as running:
        dialog = Dialog().wait()
        # The local install holds its worker in the message box.
        Dialog(texts.UNPACK_FAILED_BOX).wait()
        assert dialog.status() == texts.STATUS_UNPACK_FAILED

        dialog.click(launcher.ACTION)
        assert (dialog.status(), dialog.button()) == (texts.STATUS_UNPACK_FAILED,
                                                       texts.CAPTION_OK)

        # One message box only: a second worker would have shown another.
        launcher.probe("close", texts.UNPACK_FAILED_BOX)
        assert launcher.probe_status("gone", texts.UNPACK_FAILED_BOX, 5000) == 0

        # Final state: no retry, no start, only cancel or the close box leave it.
        dialog.click(launcher.ACTION)
        assert launcher.probe_status("wait", texts.UNPACK_FAILED_BOX, 2000) == 1
        assert (dialog.status(), dialog.button()) == (texts.STATUS_UNPACK_FAILED,
                                                       texts.CAPTION_OK)
        assert launcher.launches(running.folder) == []
        assert running.running()

        dialog.click(launcher.CANCEL)
        assert running.wait() == 0


@pytest.mark.parametrize("shipped", [False, True], ids=["network", "res.dat"])
@pytest.mark.parametrize("folder_exists", [True, False], ids=["no-ansi-name", "missing"])
def test_local_app_data_without_a_usable_name_fails_and_installs_nowhere(tmp_path, shipped, folder_exists):
    # Neither form of the folder fits the code page: the long one is Hangul, and the
    # short one, eight letters for each of the thirty folders, passes 259 characters.
    # Or the folder the shell keys name is not there, and the shell gives none. A
    # launcher that went on would aim its install at "\tarnvaleerp" on the current
    # drive.
    strays = [pathlib.Path("/tarnvaleerp"), winerig.BUILD / "wineprefix" / "drive_c" / "tarnvaleerp"]
    folder = launcher.make_launcher_folder(tmp_path)
    if shipped:
        (folder / "res.dat").write_bytes(packages.app_zip())
    with launcher.local_appdata_at(*["가"] * 30) as local:
        if not folder_exists:
            local.rmdir()
        with launcher.RunningLauncher(folder) as running:
            dialog = Dialog().wait()
            assert launcher.eventually(dialog.status, texts.STATUS_UPDATE_FAILED) == \
                texts.STATUS_UPDATE_FAILED
            assert dialog.button() == texts.CAPTION_OK
            # Final: the button neither retries nor starts the client.
            dialog.click(launcher.ACTION)
            assert (dialog.status(), dialog.button()) == (texts.STATUS_UPDATE_FAILED, texts.CAPTION_OK)
            dialog.click(launcher.CANCEL)
            assert running.wait() == 0
        assert list(local.iterdir()) == [] if folder_exists else not local.exists()
    assert launcher.launches(folder) == []
    found = [p for p in strays if p.exists()]
    for p in found:
        shutil.rmtree(p)
    assert found == []
