"""The network install from end to end: the launcher asks the local gateway, downloads
the package from it, unpacks it twice, swaps the version folder into place, records
the version and starts the client when the button is pressed. Every outcome of the
answer and of the download ends in the texts and button behaviour the user is shown."""
import json
import re
import time
import zlib

import pytest

import launcher
import packages
import texts
import winerig
import ziputil
from gateway import Reply
from launcher import DEFAULT_QUERY

GATEWAY_PORT = winerig.GATEWAY_PORT  # the gateway compiled into the build
KEYED = winerig.package_private_key() is not None


pytestmark = pytest.mark.usefixtures("install_root")


@pytest.fixture
def gw(gateway_factory):
    return gateway_factory(port=GATEWAY_PORT)


def answer(url=None, version=None, code=0, **reply):
    result = {}
    if url is not None:
        result["url"] = url
    if version is not None:
        result["version"] = version
    return Reply.json({"code": code, "result": result}, **reply)


def start(tmp_path):
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    return folder, launcher.RunningLauncher(folder)


def wait_for(dialog, status):
    assert launcher.eventually(dialog.status, status) == status


def expected_start(folder, ver):
    return (f'"{launcher.winerig.winpath(folder)}\\erp.exe" '
            f'"{launcher.install_root_windows()}\\app\\{ver}"')


def started_clients(folder):
    """The command lines the stub runtime recorded, once its first start is written
    (the launcher does not wait for the runtime)."""
    launcher.eventually(lambda: len(launcher.launches(folder)), 1)
    return [s["command_line"] for s in launcher.launches(folder)]


def press_and_expect_client(dialog, run, folder, ver):
    dialog.click(launcher.ACTION)
    assert run.wait() == 1
    assert started_clients(folder) == [expected_start(folder, ver)]


def press_and_expect_nothing(dialog, run, folder):
    dialog.click(launcher.ACTION)
    time.sleep(1.5)  # room for a start that must not come
    assert run.running()
    assert launcher.launches(folder) == []


def test_fresh_machine_installs_from_the_network_and_starts_on_the_button(tmp_path, gw, install_root):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=answer(gw.url("/packages/71.zip"), "71"))
    gw.expect("GET", "/packages/71.zip", reply=Reply(packages.package()))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_INSTALLED)
        launcher.screenshot("network-install-done")
        assert dialog.button() == texts.CAPTION_OK
        assert dialog.progress()[0] == 100

        app = install_root / "app" / "71"
        for name, data in packages.SAMPLE_APP.items():
            assert (app / name).read_bytes() == data
        assert not (install_root / "app" / "temp71").exists()
        assert (install_root / "download" / "package.nw").read_bytes() == packages.app_zip()
        assert (install_root / "jsver.txt").read_bytes() == \
            b'{"platform":"2","type":"1","ver":"71"}\r\n'
        press_and_expect_client(dialog, run, folder, "71")

    post = gw.requests[0]
    assert post.header("Content-Type") == ["application/x-www-form-urlencoded"]
    assert post.header("User-Agent") == ["Varnu HTTP Client Class"]
    assert post.header("Cache-Control") == ["no-cache"]


def test_local_app_data_named_outside_the_code_page_installs_below_its_short_name(tmp_path, gw):
    # Code page 936 has no Hangul: the folder's narrow name is "??????", which names
    # nothing. Its short name is ASCII, as wine and volumes with 8.3 names give it.
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=answer(gw.url("/packages/71.zip"), "71"))
    gw.expect("GET", "/packages/71.zip", reply=Reply(packages.package()))
    with launcher.local_appdata_at("로컬앱데이터") as local:
        folder, run = start(tmp_path)
        with run:
            dialog = launcher.Dialog().wait()
            wait_for(dialog, texts.STATUS_INSTALLED)
            root = local / "tarnvaleerp"
            for name, data in packages.SAMPLE_APP.items():
                assert (root / "app" / "71" / name).read_bytes() == data
            assert (root / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"71"}\r\n'
            dialog.click(launcher.ACTION)
            assert run.wait() == 1
        [command_line] = started_clients(folder)
        user = re.escape(local.parent.name)
        assert re.fullmatch(re.escape(f'"{winerig.winpath(folder)}\\erp.exe" "C:\\users\\') + user +
                            r"\\[A-Z0-9_~]{1,8}\\tarnvaleerp\\app\\71\"", command_line), command_line


def test_installed_machine_starts_at_once_without_asking(tmp_path, gw):
    launcher.write_record(ver="71")
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    code, _, windows = launcher.launch_and_watch(folder)
    assert (code, windows) == (1, [])
    assert started_clients(folder) == [expected_start(folder, "71")]


def test_damaged_record_falls_back_to_the_defaults_in_the_query(tmp_path, gw, install_root):
    # A record that cannot be used as installed (its folder name is unsafe) still
    # gives defaults; a readable one whose folder is missing would count as installed.
    launcher.write_record(raw=b'{"platform":"3","type":"4","ver":"CON"}')
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(code=7))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_BAD_PARAMETERS)


@pytest.mark.parametrize("reply, status, caption, button_retries", [
    (Reply.json({"code": 1}), texts.STATUS_BAD_PARAMETERS, texts.CAPTION_OK, False),
    (Reply.json({"code": "0", "result": {"url": ""}}), texts.STATUS_SERVER_ERROR, texts.CAPTION_RETRY, True),
    (Reply(b"<html>gateway down</html>"), texts.STATUS_SERVER_ERROR, texts.CAPTION_RETRY, True),
    (Reply.json([0]), texts.STATUS_SERVER_ERROR, texts.CAPTION_RETRY, True),
    (Reply.json({"code": 0, "result": "later"}), texts.STATUS_SERVER_ERROR, texts.CAPTION_RETRY, True),
    (Reply.json({"code": 0, "result": {"url": "u", "version": "../.."}}), texts.STATUS_SERVER_ERROR,
     texts.CAPTION_RETRY, True),
    (Reply.json({"code": 0, "result": {"url": "u", "version": 1.5}}), texts.STATUS_NETWORK_ERROR,
     texts.CAPTION_RETRY, True),
    (Reply.json({"code": 0}, size=10239), texts.STATUS_NETWORK_ERROR, texts.CAPTION_RETRY, True),
    (Reply.json({"code": 0, "result": {"url": 5}}), texts.STATUS_CHECKING, texts.CAPTION_OK, False),
], ids=["code-1", "code-string", "not-json", "not-object", "result-string", "unsafe-version",
        "fraction-version", "10239-bytes", "url-not-string"])
def test_answers_that_install_nothing(tmp_path, gw, reply, status, caption, button_retries):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=reply)
    if button_retries:
        # The retry is a second full pass with the same query.
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=Reply.json({"code": 1}))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        if status == texts.STATUS_CHECKING:
            assert launcher.eventually(lambda: len(gw.requests), 1) == 1
            time.sleep(1.0)  # the worker has ended; nothing may change the texts
        wait_for(dialog, status)
        assert dialog.button() == caption
        if button_retries:
            dialog.click(launcher.ACTION)
            wait_for(dialog, texts.STATUS_BAD_PARAMETERS)
            assert len(gw.requests) == 2
        press_and_expect_nothing(dialog, run, folder)


def _signed_no_update_text():
    """{"code":0,"result":{"url":""}} as a release of a build with a key signs it."""
    from gateway import release_signature
    signature = release_signature("2", "1", "70", "")
    result = {"url": ""} if signature is None else {"url": "", "signature": signature}
    return json.dumps({"code": 0, "result": result}, separators=(",", ":")).encode()


# Under a package key nothing to install needs a signature too, which an answer
# without a result object cannot carry.
@pytest.mark.parametrize("reply, signable", [
    (answer(""), True),
    (answer(), True),
    (Reply.json({"code": 0}), False),
    (Reply.json({"code": 0, "result": None}), False),
    (Reply.json({"code": 0, "result": {"url": ""}}, size=10238), True),
    (Reply(_signed_no_update_text() + b'\x00{"code":1}'), True),
], ids=["empty-url", "no-url", "no-result", "null-result", "10238-bytes", "nul-byte"])
def test_answers_without_a_package_let_the_button_start_the_client(tmp_path, gw, reply, signable):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=reply)
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        if KEYED and not signable:
            wait_for(dialog, texts.STATUS_SERVER_ERROR)
            assert dialog.button() == texts.CAPTION_RETRY
            return
        wait_for(dialog, texts.STATUS_NO_UPDATE)
        assert dialog.button() == texts.CAPTION_OK
        press_and_expect_client(dialog, run, folder, "70")


def test_no_update_with_a_new_version_starts_that_folder(tmp_path, gw):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer("", 72))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_NO_UPDATE)
        press_and_expect_client(dialog, run, folder, "72")


def test_package_without_a_version_installs_the_recorded_one(tmp_path, gw, install_root):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip")))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_INSTALLED)
        assert (install_root / "app" / "70" / "index.html").exists()
        press_and_expect_client(dialog, run, folder, "70")


@pytest.mark.skipif(winerig.package_private_key(1) is None, reason="the build checks no second package key")
def test_release_signed_by_the_next_key_installs(tmp_path, gw, install_root):
    import zorvik_release
    package = packages.package()
    digest = zorvik_release.sha256_of(package)
    signature = zorvik_release.sign(winerig.package_private_key(1), "2", "1", "71", digest)
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=Reply.json(
        {"code": 0, "result": {"url": gw.url("/p.zip"), "version": "71", "sha256": digest, "signature": signature}}))
    gw.expect("GET", "/p.zip", reply=Reply(package))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_INSTALLED)
        press_and_expect_client(dialog, run, folder, "71")


def test_two_launchers_started_together_install_once(tmp_path, gw, install_root):
    # Both find no install; one takes the install root, the other finds it taken and
    # ends with 0 without asking anything, and so does one started later, which brings
    # the first one's dialog back from the task bar. A second query would get the
    # strict gateway's 500.
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71", hold_after=0))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    with launcher.RunningLauncher(folder) as one, launcher.RunningLauncher(folder) as two:
        assert launcher.eventually(lambda: one.running() + two.running(), 1) == 1
        first, second = (one, two) if one.running() else (two, one)
        assert second.wait() == 0
        dialog = launcher.Dialog().wait()
        assert launcher.eventually(lambda: len(gw.requests), 1) == 1
        launcher.probe("minimize", dialog.caption)
        assert launcher.probe("iconic", dialog.caption) == "1"
        with launcher.RunningLauncher(folder) as third:
            assert third.wait() == 0
        assert launcher.probe("iconic", dialog.caption) == "0"

        gw.release()
        wait_for(dialog, texts.STATUS_INSTALLED)
        assert len(gw.requests) == 2
        press_and_expect_client(dialog, first, folder, "71")
    assert (install_root / "app" / "71" / "index.html").read_bytes() == packages.SAMPLE_APP["index.html"]


LARGE = packages.large_package()


@pytest.mark.parametrize("broken", [
    Reply(LARGE, reset_after=len(LARGE) // 2),
    Reply(LARGE[:len(LARGE) // 2], content_length=len(LARGE)),
    # Past 2^31 a signed length would read as negative, and received * 100 would wrap.
    Reply(LARGE, content_length=2 ** 31 + len(LARGE)),
], ids=["reset-mid-body", "short-body", "length-above-2^31"])
def test_broken_download_offers_a_retry_that_runs_a_second_full_pass(tmp_path, gw, install_root, broken):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=answer(gw.url("/packages/71.zip"), "71"), times=2)
    gw.expect("GET", "/packages/71.zip", reply=broken)
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_UPDATE_FAILED)
        assert dialog.button() == texts.CAPTION_RETRY
        assert not (install_root / "app" / "71").exists()
        assert not (install_root / "jsver.txt").exists()

        gw.expect("GET", "/packages/71.zip", reply=Reply(LARGE))
        dialog.click(launcher.ACTION)
        wait_for(dialog, texts.STATUS_INSTALLED)
        press_and_expect_client(dialog, run, folder, "71")


def test_refused_package_server_offers_a_retry(tmp_path, gw):
    from gateway import closed_port
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=answer(f"https://localhost:{closed_port()}/p.zip", "71"))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_UPDATE_FAILED)
        assert dialog.button() == texts.CAPTION_RETRY


def test_package_that_is_no_archive_is_final(tmp_path, gw, install_root):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(b"<html>404</html>" * 100))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_UNPACK_FAILED)
        assert dialog.button() == texts.CAPTION_OK
        assert not (install_root / "app" / "71").exists()
        press_and_expect_nothing(dialog, run, folder)


def _crc_broken_app():
    """package.nw whose js/app.js is whole but carries a wrong CRC."""
    return ziputil.build_zip([
        ziputil.entry(name, data, crc=(zlib.crc32(data) ^ 1) if name == "js/app.js" else None)
        for name, data in packages.SAMPLE_APP.items()])


def _crc_broken_outer():
    """The downloaded archive whose package.nw (itself sound) fails its CRC."""
    inner = packages.app_zip()
    return ziputil.build_zip([ziputil.entry("package.nw", inner, crc=zlib.crc32(inner) ^ 1,
                                            compress=False)])


@pytest.mark.parametrize("body, log", [
    (lambda: packages.outer_zip(_crc_broken_app()), texts.LOG_EXTRACT_FAILED),
    (_crc_broken_outer, texts.LOG_UNPACK_FAILED),
], ids=["package.nw-entry", "download"])
def test_package_that_fails_its_crc_installs_nothing_and_a_later_start_installs(
        tmp_path, gw, install_root, body, log):
    # An earlier attempt left a version folder behind; a failed extraction must not
    # delete it, move the staging folder over it or record the version.
    (install_root / "app" / "71").mkdir(parents=True)
    (install_root / "app" / "71" / "left-over.txt").write_bytes(b"earlier attempt")
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(body()))
    folder = launcher.make_launcher_folder(tmp_path, "client app")
    with launcher.debug_output(tmp_path) as debug:
        with launcher.RunningLauncher(folder) as run:
            dialog = launcher.Dialog().wait()
            wait_for(dialog, texts.STATUS_UNPACK_FAILED)
            assert dialog.button() == texts.CAPTION_OK
            messages = debug.messages(debug.first_pid(), logged_only=True)
            assert texts.gbk(log) in messages, messages[-4:]
            press_and_expect_nothing(dialog, run, folder)
            dialog.click(launcher.CANCEL)
            assert run.wait() == 0
    assert not (install_root / "jsver.txt").exists()
    assert [p.name for p in (install_root / "app" / "71").iterdir()] == ["left-over.txt"]

    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_INSTALLED)
        press_and_expect_client(dialog, run, folder, "71")
    app = install_root / "app" / "71"
    assert sorted(p.relative_to(app).as_posix() for p in app.rglob("*") if p.is_file()) == \
        sorted(packages.SAMPLE_APP)
    for name, data in packages.SAMPLE_APP.items():
        assert (app / name).read_bytes() == data
    assert (install_root / "jsver.txt").read_bytes() == b'{"platform":"2","type":"1","ver":"71"}\r\n'


def test_download_without_content_length_completes(tmp_path, gw, install_root):
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(packages.package(), content_length=None))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_INSTALLED)
        assert (install_root / "app" / "71" / "js" / "app.js").exists()


def test_slow_download_shows_a_rising_percentage(tmp_path, gw):
    body = LARGE
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(body, drip=(20000, 0.05)))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        seen = set()
        end = time.monotonic() + launcher.WAIT_SECONDS
        while time.monotonic() < end:
            status = dialog.status()
            if status.startswith(texts.PHASE_DOWNLOAD):
                seen.add(status)
            if status == texts.STATUS_INSTALLED:
                break
        launcher.screenshot("network-install-downloading")
        assert dialog.status() == texts.STATUS_INSTALLED
        percents = sorted(texts.percent_shown(s) for s in seen)
        assert len(percents) >= 3 and all(0 < p <= 100 for p in percents), percents


def test_percentage_of_a_package_past_41_mib_does_not_wrap(tmp_path, gw, install_root):
    """received * 100 leaves 32 bits past 41 MiB: half of an 86 MiB download read as
    about 2% where it wraps, and as 49% where it does not."""
    body = packages.large_package(86 * 2 ** 20)
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(body, hold_after=len(body) // 2))
    folder, run = start(tmp_path)

    def percent():
        return texts.percent_shown(dialog.status())

    with run:
        dialog = launcher.Dialog().wait()
        launcher.eventually(lambda: percent() >= 45, True)
        held_at = percent()  # the download waits at its half until released
        gw.release()
        assert 45 <= held_at <= 50, held_at
        wait_for(dialog, texts.STATUS_INSTALLED)
        assert (install_root / "app" / "71" / "media" / "noise.bin").stat().st_size == 86 * 2 ** 20


def test_hostile_names_in_the_package_install_nothing_and_write_nothing_outside(tmp_path, gw,
                                                                                install_root):
    launcher.write_record(raw=b"not json")
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip"), "71"))
    gw.expect("GET", "/p.zip", reply=Reply(packages.hostile_package()))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        wait_for(dialog, texts.STATUS_UNPACK_FAILED)
        assert launcher.launches(folder) == []
    app = install_root / "app" / "71"
    assert not app.exists()
    assert (install_root / "jsver.txt").read_bytes() == b"not json"
    everywhere = [p for p in install_root.parent.rglob("escaped-*")]
    everywhere += [p for p in launcher.winerig.BUILD.joinpath("wineprefix", "drive_c").glob("escaped-*")]
    assert everywhere == []
    assert not (app / "CON").exists()


def test_button_does_nothing_while_the_worker_asks_and_downloads(tmp_path, gw, install_root):
    # A slow answer and a slow download hold the worker in both steps for a while.
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=answer(gw.url("/p.zip"), "71", drip=(8, 0.25)))
    gw.expect("GET", "/p.zip", reply=Reply(LARGE, drip=(20000, 0.1)))
    folder, run = start(tmp_path)
    with run:
        dialog = launcher.Dialog().wait()
        assert launcher.eventually(lambda: len(gw.requests), 1) == 1
        assert dialog.status() == texts.STATUS_CHECKING
        assert dialog.button() == texts.CAPTION_OK
        dialog.click(launcher.ACTION)

        status = launcher.eventually(lambda: dialog.status().startswith(texts.PHASE_DOWNLOAD), True)
        assert status is True
        dialog.click(launcher.ACTION)

        wait_for(dialog, texts.STATUS_INSTALLED)
        # Neither press started a second worker: one query, one download, no client yet.
        assert [r.method for r in gw.requests] == ["POST", "GET"]
        assert launcher.launches(folder) == []
        press_and_expect_client(dialog, run, folder, "71")
