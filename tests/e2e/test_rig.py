"""The test programs the other suites rely on behave as those suites assume."""
import hashlib
import json
import os
import pathlib
import re
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


VENDOR = "https://updates.vendor.test/gateway.php"


def _public_key(folder, name):
    """A fresh P-256 public key in PEM form, and its fingerprint."""
    private, public = folder / f"{name}-private.pem", folder / f"{name}.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                    private], check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", private, "-pubout", "-out", public], check=True, capture_output=True)
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", public, "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return public, hashlib.sha256(der).hexdigest()


@pytest.mark.parametrize("gateway, keys, refused", [
    (None, "NONE", "ZORVIK_GATEWAY_URL"),
    ("https://update.example.com/gateway.php", "NONE", "ZORVIK_GATEWAY_URL"),
    ("", "NONE", "ZORVIK_GATEWAY_URL"),
    ("http://updates.vendor.test/gateway.php", "NONE", "ZORVIK_GATEWAY_URL"),
    ("https://updates.vendor.test/gateway.php?x=1", "NONE", "ZORVIK_GATEWAY_URL"),
    (VENDOR, None, "ZORVIK_PACKAGE_KEY"),
    (VENDOR, ["one", "next", "one"], "ZORVIK_PACKAGE_KEY"),
    (VENDOR, "NONE", None),
    (VENDOR, ["one"], None),
    (VENDOR, ["one", "next"], None),
], ids=["no-gateway", "placeholder", "empty", "http", "query", "no-key", "three-keys", "NONE", "one-key",
        "two-keys"])
def test_release_configure_names_the_vendors_gateway_and_keys(tmp_path, gateway, keys, refused):
    """A release that would ask the placeholder host, or no proper gateway, or that does
    not say which package keys it checks, is never configured, so it is never built.
    Each key it compiles in is shown by the fingerprint the release tool prints."""
    args = ["cmake", "--preset", "release", "-B", str(tmp_path / "release")]
    if gateway is not None:
        args.append(f"-DZORVIK_GATEWAY_URL={gateway}")
    made = {name: _public_key(tmp_path, name) for name in set(keys)} if isinstance(keys, list) else {}
    if keys is not None:
        value = ";".join(str(made[name][0]) for name in keys) if isinstance(keys, list) else keys
        args.append(f"-DZORVIK_PACKAGE_KEY={value}")
    result = subprocess.run(args, cwd=winerig.REPO, capture_output=True, text=True, timeout=300)
    assert (result.returncode != 0) == bool(refused), result.stdout + result.stderr
    if refused:
        assert refused in result.stderr
        return
    cache = (tmp_path / "release" / "CMakeCache.txt").read_text()
    assert "ZORVIK_BUILD_TESTS:BOOL=OFF" in cache
    assert f"ZORVIK_GATEWAY_URL:STRING={VENDOR}" in cache
    assert "CMAKE_AR:FILEPATH=/usr/bin/i686-w64-mingw32-ar" in cache
    printed = re.findall(r"^-- Package key fingerprint: ([0-9a-f]{64}) ", result.stdout, re.M)
    assert printed == [made[name][1] for name in keys] if made else printed == []
    header = (tmp_path / "release" / "generated" / "PackageKey.h").read_text()
    assert f"kPackageKeyCount = {len(made)};" in header


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
