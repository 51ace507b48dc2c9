import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))

import gateway  # noqa: E402
import launcher  # noqa: E402
import testca  # noqa: E402
import winerig  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    """The build's prefix exists and its wineserver and display run."""
    if not (winerig.BIN).is_dir():
        pytest.exit(f"no build at {winerig.BUILD}: run scripts/test", returncode=2)
    winerig.prepare()
    return winerig.BUILD / "wineprefix"


@pytest.fixture
def install_root():
    """The launcher's install root (a Linux path), empty before and after the test. It
    is shared by every test of a build, so such tests never run side by side."""
    launcher.clean_install_root()
    yield launcher.install_root()
    launcher.clean_install_root()


@pytest.fixture(scope="session")
def trusted_ca(wine_prefix):
    """The test certificates; the CA is in the prefix's Root store."""
    certs = testca.ensure()
    testca.import_into_prefix(certs)
    return certs


@pytest.fixture
def gateway_factory(trusted_ca):
    """make(tls=True, port=0, untrusted=False, host="localhost") -> a started Gateway.

    At the end of the test every gateway made is stopped and checked: an unexpected
    request, or an expected one that never came, fails the test.
    """
    made = []

    def make(tls=True, port=0, untrusted=False, host="localhost"):
        cert, key = ((trusted_ca.untrusted_cert, trusted_ca.untrusted_key) if untrusted
                     else (trusted_ca.server_cert, trusted_ca.server_key))
        server = gateway.Gateway(tls=tls, certfile=cert, keyfile=key, port=port, host=host)
        made.append(server)
        return server.start()

    yield make
    problems = []
    for server in made:
        server.stop()
        problems += [f"port {server.port}: {p}" for p in server.problems()]
    if problems:
        pytest.fail("strict gateway:\n  " + "\n  ".join(problems), pytrace=False)


def _wineserver_log():
    return winerig.BUILD / "wine-state" / "wineserver.log"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failing test shows what the wineserver said while it ran: a client the server
    ends for a protocol error exits with code 1 and not a byte of its own output."""
    log = _wineserver_log()
    if call.when == "setup":
        item.wineserver_log_start = log.stat().st_size if log.exists() else 0
    outcome = yield
    report = outcome.get_result()
    if report.failed and log.exists():
        with log.open("rb") as said:
            said.seek(getattr(item, "wineserver_log_start", 0))
            text = said.read()[-4000:].decode("utf-8", "replace")
        if text:
            report.sections.append(("wineserver", text))
