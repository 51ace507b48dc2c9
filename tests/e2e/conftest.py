import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))

import launcher  # noqa: E402
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
