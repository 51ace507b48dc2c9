"""The test programs the other suites rely on behave as those suites assume."""
import json
import os
import pathlib
import shutil
import subprocess

import pytest

import winerig


def test_stub_runtime_records_its_start(tmp_path):
    folder = tmp_path / "client dir"
    folder.mkdir()
    shutil.copy(winerig.BIN / "erp.exe", folder / "erp.exe")

    result = winerig.run([folder / "erp.exe", "Z:\\a b\\app", "plain"], cwd=tmp_path)

    assert result.returncode == 0
    lines = (folder / "launches.jsonl").read_text(encoding="utf-8").splitlines()
    assert len(lines) == 1
    record = json.loads(lines[0])
    assert record["exe"] == winerig.winpath(folder / "erp.exe")
    assert record["command_line"].endswith('"Z:\\a b\\app" plain')
    assert record["cwd"] == winerig.winpath(tmp_path)
    assert record["pid"] > 0


@pytest.mark.parametrize("gateway, refused", [
    (None, True),
    ("https://update.example.com/gateway.php", True),
    ("", True),
    ("http://updates.vendor.test/gateway.php", True),
    ("https://updates.vendor.test/gateway.php?x=1", True),
    ("https://updates.vendor.test/gateway.php", False),
])
def test_release_configure_names_the_vendors_gateway(tmp_path, gateway, refused):
    """A release that would ask the placeholder host, or no proper gateway, is never
    configured, so it is never built."""
    args = ["cmake", "--preset", "release", "-B", str(tmp_path / "release")]
    if gateway is not None:
        args.append(f"-DZORVIK_GATEWAY_URL={gateway}")
    result = subprocess.run(args, cwd=winerig.REPO, capture_output=True, text=True, timeout=300)
    assert (result.returncode != 0) == refused, result.stdout + result.stderr
    if refused:
        assert "ZORVIK_GATEWAY_URL" in result.stderr
    else:
        cache = (tmp_path / "release" / "CMakeCache.txt").read_text()
        assert "ZORVIK_BUILD_TESTS:BOOL=OFF" in cache
        assert "ZORVIK_GATEWAY_URL:STRING=https://updates.vendor.test/gateway.php" in cache
        assert "CMAKE_AR:FILEPATH=/usr/bin/i686-w64-mingw32-ar" in cache


def test_nothing_that_outlives_a_prepare_holds_its_lock():
    """Xvfb, the wineserver and the prefix's services outlive the prepare that
    started them: one that kept the lock's descriptor would make every later prepare
    of this build wait forever once it had failed."""
    winerig.prepare()
    lock = str(winerig.BUILD / "wine-state" / "lock")
    holders = []
    for fd in pathlib.Path("/proc").glob("[0-9]*/fd/*"):
        try:
            if os.readlink(fd) == lock:
                holders.append(fd.parts[2])
        except OSError:
            continue
    assert holders == []
