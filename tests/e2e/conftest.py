import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))

import winerig  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    """The build's prefix exists and its wineserver and display run."""
    if not (winerig.BIN).is_dir():
        pytest.exit(f"no build at {winerig.BUILD}: run scripts/test", returncode=2)
    winerig.prepare()
    return winerig.BUILD / "wineprefix"
