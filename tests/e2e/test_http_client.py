"""The HTTP client against real local servers over loopback, through http_probe.exe.

What the server receives is asserted byte for byte. WinINet builds part of every
request itself; under wine the request also carries headers that wine adds on its own
(see test_headers_wine_adds_on_its_own).
"""
import dataclasses
import subprocess
import tempfile

import pytest

import winerig
from gateway import Reply, closed_port

LAUNCHER_FIELDS = ["a=getVersionConfig", "m=Platform", "type=1", "version=1.0.3", "platform=2"]
LAUNCHER_BODY = b"a=getVersionConfig&m=Platform&platform=2&type=1&version=1%2E0%2E3"
USER_AGENT = "Varnu HTTP Client Class"

# WinINet's certificate failures: unknown CA (what Windows reports), failed revocation
# check (what wine reports for an unknown CA), wrong name, expired.
CERTIFICATE_ERRORS = {12045: "ERROR_INTERNET_INVALID_CA", 12057: "ERROR_INTERNET_SEC_CERT_REV_FAILED",
                      12038: "ERROR_INTERNET_SEC_CERT_CN_INVALID", 12037: "ERROR_INTERNET_SEC_CERT_DATE_INVALID"}


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


@pytest.mark.parametrize("tls", [True, False], ids=["https", "http"])
def test_form_post_of_the_launcher_fields_sends_exactly_this_request(gateway_factory, tls):
    server = gateway_factory(tls=tls)
    answer = b'{"code":0,"result":{"url":"","version":"71"}}'
    server.expect("POST", "/gateway.php", body=LAUNCHER_BODY, reply=Reply(body=answer))

    result = run_probe("post", server.url("/gateway.php"), *LAUNCHER_FIELDS)

    assert result.error is None, result.output
    assert result.fields["steps"] == "11"  # a name step and a value step per field, and the end
    assert result.body == answer
    assert result.fields["content-length"] == str(len(answer))
    [request] = server.requests
    assert request.raw == (
        b"POST /gateway.php HTTP/1.1\r\n"
        b"Accept: */*\r\n"
        b"Cache-Control: no-cache\r\n"
        b"Content-Type: application/x-www-form-urlencoded\r\n"
        + f"Host: localhost:{server.port}\r\n".encode()
        + f"Content-Length: {len(LAUNCHER_BODY)}\r\n".encode()
        + f"User-Agent: {USER_AGENT}\r\n".encode()
        + b"Pragma: no-cache\r\n"  # wine's own
        b"Connection: Keep-Alive\r\n"  # from INTERNET_FLAG_KEEP_CONNECTION
        b"\r\n" + LAUNCHER_BODY)


def test_form_post_sends_ansi_text_as_url_encoded_utf8(gateway_factory):
    # The probe hands its arguments over in code page 936, as the launcher's texts are.
    server = gateway_factory()
    body = b"a=%E4%BD%A0%E5%A5%BD&b=x+y%2B%7E&c=&d="
    server.expect("POST", "/form", body=body, reply=Reply(body=b"ok"))

    result = run_probe("post", server.url("/form"), "d", "c=", "b=x y+~", "a=\u4f60\u597d")

    assert result.error is None, result.output
    assert server.requests[0].header("Content-Length") == [str(len(body))]


def test_form_post_streams_long_values_whole(gateway_factory):
    server = gateway_factory()
    value = "0123456789." * 300  # 3300 characters, 3900 bytes encoded
    encoded = value.replace(".", "%2E").encode()
    server.expect("POST", "/big", body=b"v=" + encoded, reply=Reply(body=b"ok"))

    result = run_probe("post", server.url("/big"), "v=" + value)

    assert result.error is None, result.output
    assert result.fields["steps"] == "6"  # name, 1024 + 1024 + 1024 + 828, end


@pytest.mark.parametrize("tls", [True, False], ids=["https", "http"])
def test_get_with_a_query_right_after_the_host_asks_for_the_root(gateway_factory, tls):
    server = gateway_factory(tls=tls)
    server.expect("GET", "/?x=1&y=2", reply=Reply(body=b"package bytes"))

    result = run_probe("get", server.url("?x=1&y=2"))

    assert result.error is None, result.output
    assert result.body == b"package bytes"
    assert server.requests[0].raw == (
        b"GET /?x=1&y=2 HTTP/1.1\r\n"
        b"Accept: */*\r\n"
        b"Cache-Control: no-cache\r\n"
        + f"Host: localhost:{server.port}\r\n".encode()
        + f"User-Agent: {USER_AGENT}\r\n".encode()
        + b"Pragma: no-cache\r\n"
        b"Connection: Keep-Alive\r\n"
        b"\r\n")


@pytest.mark.parametrize("tls", [True, False], ids=["https", "http"])
def test_response_without_content_length_is_read_to_the_end(gateway_factory, tls):
    server = gateway_factory(tls=tls)
    body = bytes(range(256)) * 120  # 30720 bytes, NULs included
    server.expect("GET", "/pack", reply=Reply(body=body, content_length=None))

    result = run_probe("get", server.url("/pack"))

    assert result.error is None, result.output
    assert result.fields["content-length"] == "none"
    assert result.body == body
    assert int(result.fields["reads"]) >= 3  # blocks of at most 10239 bytes


def test_answer_of_exact_size_with_nul_bytes_arrives_unchanged(gateway_factory):
    server = gateway_factory()
    answer = Reply.json({"code": 0, "result": {"url": "", "note": "a\u0000b"}}, size=10238, sign=False)
    answer.body = answer.body[:-2] + b"\x00\x00"
    server.expect("POST", "/gateway.php", reply=answer)

    result = run_probe("post", server.url("/gateway.php"), *LAUNCHER_FIELDS)

    assert result.error is None, result.output
    assert result.fields["content-length"] == "10238"
    assert result.body == answer.body


def test_error_status_pages_are_content_like_any_other(gateway_factory):
    server = gateway_factory()
    server.expect("GET", "/missing", reply=Reply(body=b"not here", status=404))

    result = run_probe("get", server.url("/missing"))

    assert result.error is None, result.output
    assert result.body == b"not here"


def test_a_body_shorter_than_its_content_length_ends_early_without_error(gateway_factory):
    # WinINet reports the cut as a clean end: only the length tells a caller.
    server = gateway_factory()
    server.expect("GET", "/short", reply=Reply(body=b"abc", content_length=10))

    result = run_probe("get", server.url("/short"))

    assert result.error is None, result.output
    assert result.fields["content-length"] == "10"
    assert result.body == b"abc"


def test_a_connection_reset_mid_body_never_passes_for_a_whole_body(gateway_factory):
    server = gateway_factory(tls=False)
    body = b"x" * 50000
    server.expect("GET", "/reset", reply=Reply(body=body, reset_after=20000))

    result = run_probe("get", server.url("/reset"))

    # Linux drops unread data when the reset arrives, so it can cut the headers short
    # too: then the send fails (ERROR_INTERNET_CONNECTION_ABORTED), else the read does.
    if result.error:
        assert result.error[:2] in [(401, 10054), (406, 12030)], result.output
    else:
        assert len(result.body) < len(body)


@pytest.mark.parametrize("tls", [True, False], ids=["https", "http"])
def test_a_connection_closed_before_any_answer_gives_no_content(gateway_factory, tls):
    # Windows fails the send (ERROR_HTTP_INVALID_SERVER_RESPONSE); wine hands back an
    # empty response without Content-Length. Either way no byte of content appears.
    server = gateway_factory(tls=tls)
    server.expect("GET", "/pack", reply=Reply(body=b"never sent", close_after=0))

    result = run_probe("get", server.url("/pack"))

    if result.error:
        assert result.error[:2] == (406, 12152), result.output
    else:
        assert (result.fields["content-length"], result.body) == ("none", b"")


def test_a_slowly_dripping_answer_is_read_whole(gateway_factory):
    server = gateway_factory()
    body = b'{"code":0}' * 5
    server.expect("GET", "/slow", reply=Reply(body=body, drip=(7, 0.05)))

    result = run_probe("get", server.url("/slow"))

    assert result.error is None, result.output
    assert result.body == body


@pytest.mark.parametrize("verb, code, message", [
    ("get", 406, "::HttpSendRequest failed."),
    ("post", 407, "::HttpSendRequestEx failed."),
])
def test_refused_connection_fails_with_code_and_win32_error(verb, code, message):
    result = run_probe(verb, f"https://localhost:{closed_port()}/gateway.php", "a=1")

    assert result.returncode == 1
    assert result.error == (code, 12029, message)  # ERROR_INTERNET_CANNOT_CONNECT


@pytest.mark.parametrize("verb, code", [("get", 406), ("post", 407)])
def test_untrusted_certificate_fails_the_request_before_anything_is_sent(gateway_factory, verb, code):
    # The strict server expects nothing: no request line, header or body may reach it.
    server = gateway_factory(untrusted=True)

    result = run_probe(verb, server.url("/gateway.php"), *LAUNCHER_FIELDS)

    assert result.returncode == 1
    assert result.error[0] == code, result.output
    assert result.error[1] in (12045, 12057), CERTIFICATE_ERRORS.get(result.error[1], result.output)
    assert server.connections >= 1 and server.requests == []


def test_certificate_for_another_name_fails_the_request(gateway_factory):
    # The certificate names localhost; asking for 127.0.0.1 must not pass.
    server = gateway_factory(host="127.0.0.1")

    result = run_probe("get", server.url("/x"))

    assert result.error[:2] == (406, 12038), result.output  # ERROR_INTERNET_SEC_CERT_CN_INVALID
    assert server.requests == []


@pytest.mark.parametrize("verb, flags, own_headers", [
    # flags: what the client adds (Cache-Control for PRAGMA_NOCACHE) is ours; the rest
    # below is wine deriving headers from the flags by itself
    ("get", "0", []),
    ("get", "100", [("Pragma", "no-cache")]),  # INTERNET_FLAG_PRAGMA_NOCACHE
    ("get", "400000", [("Connection", "Keep-Alive")]),  # INTERNET_FLAG_KEEP_CONNECTION
    ("get", "4000000", []),
    ("post", "4000000", [("Cache-Control", "no-cache")]),  # INTERNET_FLAG_NO_CACHE_WRITE, POST only
    ("post", "84400F00", [("Pragma", "no-cache"), ("Connection", "Keep-Alive")]),
    ("get", "84400F00", [("Pragma", "no-cache"), ("Connection", "Keep-Alive")]),
])
def test_headers_wine_adds_on_its_own(gateway_factory, verb, flags, own_headers):
    """Pins what the server sees beyond what our calls ask for, per request flag."""
    server = gateway_factory(tls=False)
    server.expect(verb.upper(), "/h", reply=Reply(body=b"ok"))

    result = run_probe(verb, server.url("/h"), "--flags", flags, *(["a=1"] if verb == "post" else []))

    assert result.error is None, result.output
    asked = [("Accept", "*/*"), ("Host", f"localhost:{server.port}"), ("User-Agent", USER_AGENT)]
    if int(flags, 16) & 0x100:
        asked.append(("Cache-Control", "no-cache"))
    if verb == "post":
        asked += [("Content-Type", "application/x-www-form-urlencoded"), ("Content-Length", "3")]
    headers = server.requests[0].headers
    extra = [h for h in headers if h not in asked]
    assert sorted(h for h in headers if h in asked) == sorted(asked)
    assert extra == own_headers
