"""Fixtures for tests that talk HTTP(S) to local servers: the test CA trusted by the
build's wine prefix, strict gateways that are checked when the test ends, and the
http_probe runner. A test module takes them in with

    from conftest_http import gateway_factory, trusted_ca  # noqa: F401
"""
import dataclasses
import subprocess
import tempfile

import pytest

import gateway
import testca
import winerig


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


@dataclasses.dataclass
class ProbeResult:
    returncode: int
    output: str
    fields: dict

    @property
    def body(self):
        return bytes.fromhex(self.fields.get("body", ""))

    @property
    def error(self):
        """(code, win32 error, message) of a failure, else None."""
        if "error" not in self.fields:
            return None
        code, win32, message = self.fields["error"]
        return code, win32, message


def run_probe(*args, timeout=120):
    """Runs http_probe.exe with args and parses what it prints."""
    # A file, not a pipe: services that wine starts on first use inherit the
    # program's stdio and would keep a pipe open.
    with tempfile.TemporaryFile() as output:
        result = subprocess.run([str(winerig.WINE_RUN), str(winerig.BIN / "http_probe.exe"), *map(str, args)],
                                stdout=output, stderr=subprocess.STDOUT, timeout=timeout)
        output.seek(0)
        text = output.read().decode("utf-8", errors="replace")
    fields = {}
    for line in text.splitlines():
        if line.startswith("error "):
            parts = dict(item.split("=", 1) for item in line[len("error "):].split(" ", 2))
            code = int(parts["code"]) if parts["code"].isdigit() else parts["code"]
            fields["error"] = (code, int(parts["win32"]), parts["message"])
        elif "=" in line:
            name, _, value = line.partition("=")
            fields[name] = value
    return ProbeResult(result.returncode, text, fields)
