"""The test certificates for HTTPS on loopback, made with openssl once per build.

<build>/test-ca holds:
- ca.pem / ca.key: "Zorvik Test CA", imported into the build's wine prefix (current
  user's Root store) by import_into_prefix(), so WinINet trusts it with every check on;
- localhost.pem / localhost.key: a server certificate for DNS name localhost from
  that CA;
- untrusted.pem / untrusted.key: a localhost certificate from a second CA that is
  never imported, for the "untrusted certificate" cases.

The host's own trust store is never touched.
"""
import collections
import fcntl
import pathlib
import secrets
import shutil
import subprocess
import tempfile

import winerig

Certificates = collections.namedtuple("Certificates", "ca server_cert server_key untrusted_cert untrusted_key")

_SERVER_EXTENSIONS = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def _make_ca(folder, name, common_name):
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
             "-keyout", f"{name}.key", "-out", f"{name}.pem", "-subj", f"/CN={common_name}",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)


def _make_server(folder, name, ca):
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", f"{name}.key",
             "-out", f"{name}.csr", "-subj", "/CN=localhost", cwd=folder)
    _openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.pem", "-CAkey", f"{ca}.key",
             "-set_serial", "0x" + secrets.token_hex(8), "-sha256", "-days", "825",
             "-extfile", "server.ext", "-out", f"{name}.pem", cwd=folder)


def _paths(folder):
    return Certificates(folder / "ca.pem", folder / "localhost.pem", folder / "localhost.key",
                        folder / "untrusted.pem", folder / "untrusted.key")


def ensure(build=None):
    """The certificates of this build, made on first use (safe against parallel runs)."""
    build = pathlib.Path(build or winerig.BUILD)
    folder = build / "test-ca"
    certs = _paths(folder)
    build.mkdir(parents=True, exist_ok=True)
    with open(build / "test-ca.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if all(path.exists() for path in certs):
            return certs
        work = pathlib.Path(tempfile.mkdtemp(prefix="test-ca.", dir=build))
        try:
            (work / "server.ext").write_text(_SERVER_EXTENSIONS)
            _make_ca(work, "ca", "Zorvik Test CA")
            _make_server(work, "localhost", "ca")
            _make_ca(work, "other-ca", "Zorvik Untrusted Test CA")
            _make_server(work, "untrusted", "other-ca")
            shutil.rmtree(folder, ignore_errors=True)
            work.rename(folder)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return certs


def import_into_prefix(certs):
    """Adds the test CA to the prefix's Root store (idempotent)."""
    # Output goes to a file, not a pipe: crypt32 starts the prefix's services on first
    # use, they inherit the program's stdio and would hold a pipe open for good.
    with tempfile.TemporaryFile() as output:
        result = subprocess.run([str(winerig.WINE_RUN), str(winerig.BIN / "ca_import.exe"),
                                 winerig.winpath(certs.ca)], stdout=output, stderr=subprocess.STDOUT,
                                timeout=120)
        output.seek(0)
        if result.returncode != 0:
            raise RuntimeError(f"ca_import failed ({result.returncode}): {output.read().decode(errors='replace')}")
