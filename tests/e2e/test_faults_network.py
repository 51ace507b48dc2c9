"""The network failing the launcher in ways the install suite does not already cover:
an answer cut by a reset, peers that stall or drip while the user waits, and
certificates that must never be accepted, at the gateway and at the package server.
(A refused gateway, a refused package server and a reset mid-download are covered by
test_launcher_dialog.py and test_install_network.py.)"""
import subprocess

import pytest

import gateway
import launcher
import packages
import texts
import winerig
from gateway import Reply
from launcher import DEFAULT_QUERY


pytestmark = pytest.mark.usefixtures("install_root")


@pytest.fixture
def gw(gateway_factory):
    return gateway_factory(port=winerig.GATEWAY_PORT)


@pytest.fixture(scope="module")
def elsewhere_certificate(trusted_ca, tmp_path_factory):
    """A certificate from the trusted test CA for another host name than localhost."""
    folder = tmp_path_factory.mktemp("elsewhere")
    (folder / "server.ext").write_text("basicConstraints = critical, CA:FALSE\n"
                                       "keyUsage = critical, digitalSignature, keyEncipherment\n"
                                       "extendedKeyUsage = serverAuth\n"
                                       "subjectAltName = DNS:updates.elsewhere.test\n")

    def openssl(*args):
        subprocess.run(["openssl", *map(str, args)], cwd=folder, check=True, capture_output=True)

    openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", "elsewhere.key",
            "-out", "elsewhere.csr", "-subj", "/CN=updates.elsewhere.test")
    openssl("x509", "-req", "-in", "elsewhere.csr", "-CA", trusted_ca.ca,
            "-CAkey", trusted_ca.ca.with_suffix(".key"), "-set_serial", "0x5eed",
            "-sha256", "-days", "825", "-extfile", "server.ext", "-out", "elsewhere.pem")
    return folder / "elsewhere.pem", folder / "elsewhere.key"


def answer(url, version="71"):
    return Reply.json({"code": 0, "result": {"url": url, "version": version}})


def start(tmp_path):
    run = launcher.RunningLauncher(launcher.make_launcher_folder(tmp_path, "client app"))
    return run, launcher.Dialog().wait()


def wait_for(dialog, status):
    assert launcher.eventually(dialog.status, status) == status


def nothing_installed(root):
    return not (root / "app").exists() and not (root / "jsver.txt").exists()


@pytest.mark.parametrize("cut", ["in-headers", "in-body"])
def test_answer_cut_by_a_reset_fails_the_check_and_the_retry_installs(tmp_path, gw, install_root, cut):
    full = answer(gw.url("/p.zip"))
    body = answer(gw.url("/p.zip")).body + b" " * 3000
    head = len(Reply(body=body, headers=full.headers).wire()) - len(body)
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY,
              reply=Reply(body=body, headers=full.headers,
                          reset_after=20 if cut == "in-headers" else head + 40))
    run, dialog = start(tmp_path)
    with run:
        # A body cut short of its Content-Length is the network's failure. Headers cut
        # before their end reach the launcher from wine as a complete answer with an
        # empty body, which is unparsable; on a loaded machine a body cut short once
        # read as the server's failure too (seen once in 300 runs, not reproduced).
        # The check fails either way and offers the retry; nothing is downloaded.
        shown = (texts.STATUS_NETWORK_ERROR, texts.STATUS_SERVER_ERROR)
        status = launcher.eventually(lambda: dialog.status() in shown, True)
        assert status is True, dialog.status()
        assert dialog.button() == texts.CAPTION_RETRY
        assert nothing_installed(install_root)

        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=full)
        gw.expect("GET", "/p.zip", reply=Reply(packages.package()))
        dialog.click(launcher.ACTION)
        wait_for(dialog, texts.STATUS_INSTALLED)
    assert (install_root / "app" / "71" / "index.html").read_bytes() == packages.SAMPLE_APP["index.html"]


@pytest.mark.parametrize("stall", ["answer-held", "download-dripping"])
def test_dialog_answers_while_the_worker_waits_and_cancel_ends_it_at_once(tmp_path, gw, install_root, stall):
    if stall == "answer-held":
        # The gateway takes the request and sends nothing back.
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=Reply.json({"code": 1}, hold_after=0))
        shown, requests = texts.STATUS_CHECKING, 1
    else:
        large = packages.large_package()
        gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(gw.url("/p.zip")))
        gw.expect("GET", "/p.zip", reply=Reply(large, drip=(2048, 0.25)))  # about a minute
        shown, requests = texts.PHASE_DOWNLOAD, 2
    run, dialog = start(tmp_path)
    with run:
        assert launcher.eventually(lambda: len(gw.requests), requests) == requests
        assert launcher.eventually(lambda: dialog.status().startswith(shown), True) is True
        # The user-interface thread is free: its windows answer, the About box opens
        # and closes, and the worker goes on waiting.
        dialog.keys("alt+/")
        about = launcher.Dialog(texts.ABOUT).wait()
        about.click(launcher.ABOUT_OK)
        assert launcher.probe_status("gone", texts.ABOUT, launcher.WAIT_SECONDS * 1000) == 0
        assert dialog.status().startswith(shown)
        assert dialog.button() == texts.CAPTION_OK
        assert run.running()

        dialog.click(launcher.CANCEL)
        assert run.wait() == 0  # within the rig's bound: the worker is not waited for
    assert nothing_installed(install_root)
    assert launcher.launches(run.folder) == []


def bad_server(kind, gateway_factory, elsewhere_certificate, port=0):
    if kind == "untrusted":
        return gateway_factory(port=port, untrusted=True)
    cert, key = elsewhere_certificate
    server = gateway.Gateway(tls=True, certfile=cert, keyfile=key, port=port)
    return server.start()


def retry(dialog, passes):
    """Presses the retry button until a new pass has begun, as `passes()` counts them:
    a press while the last pass still runs does nothing, so it may take more than one."""
    before = passes()
    for _ in range(launcher.WAIT_SECONDS):
        dialog.click(launcher.ACTION)
        if launcher.eventually(lambda: passes() > before, True, seconds=2) is True:
            return
    raise AssertionError("the retry started no new pass")


@pytest.mark.parametrize("kind", ["untrusted", "other-host"])
def test_gateway_certificate_is_always_refused(tmp_path, gateway_factory, elsewhere_certificate, kind):
    server = bad_server(kind, gateway_factory, elsewhere_certificate, port=winerig.GATEWAY_PORT)
    try:
        run, dialog = start(tmp_path)
        with run:
            for _ in range(2):
                wait_for(dialog, texts.STATUS_NETWORK_ERROR)
                assert dialog.button() == texts.CAPTION_RETRY
                # Only a pass that ended in the retryable failure lets a press through.
                retry(dialog, lambda: server.connections)
            wait_for(dialog, texts.STATUS_NETWORK_ERROR)
        assert server.requests == []  # not a byte of the form went out
    finally:
        server.stop()


@pytest.mark.parametrize("kind", ["untrusted", "other-host"])
def test_package_server_certificate_is_always_refused(tmp_path, gw, gateway_factory, elsewhere_certificate,
                                                      install_root, kind):
    if kind == "untrusted":
        server = bad_server(kind, gateway_factory, elsewhere_certificate)
        url = server.url("/p.zip")
    else:
        # The trusted localhost certificate, asked for under another name.
        server = gw
        url = f"https://127.0.0.1:{gw.port}/p.zip"
    gw.expect("POST", "/gateway.php", body=DEFAULT_QUERY, reply=answer(url), times=3)
    run, dialog = start(tmp_path)
    with run:
        for _ in range(2):
            wait_for(dialog, texts.STATUS_UPDATE_FAILED)
            assert dialog.button() == texts.CAPTION_RETRY
            retry(dialog, lambda: len(gw.requests))
        wait_for(dialog, texts.STATUS_UPDATE_FAILED)
    assert [r.method for r in server.requests] == (["POST"] * 3 if server is gw else [])
    assert nothing_installed(install_root)
