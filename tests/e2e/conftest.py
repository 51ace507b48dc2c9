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
