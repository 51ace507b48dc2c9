"""The strict test gateway itself: the other suites trust it to catch what they miss."""
import socket
import ssl

import pytest

from gateway import Gateway, Reply, closed_port


def exchange(server, raw, tls=False, ca=None):
    """Sends raw bytes and returns everything the server answers until it closes."""
    sock = socket.create_connection(("127.0.0.1", server.port), timeout=10)
    if tls:
        context = ssl.create_default_context(cafile=str(ca))
        sock = context.wrap_socket(sock, server_hostname="localhost")
    with sock:
        sock.sendall(raw)
        answer = b""
        try:
            while chunk := sock.recv(65536):
                answer += chunk
        except (ConnectionResetError, ssl.SSLError):
            answer += b"<reset>"
        return answer


@pytest.fixture
def server():
    gw = Gateway(tls=False).start()
    yield gw
    gw.stop()


def test_records_requests_byte_for_byte(server):
    server.expect("POST", "/p?q=1", body=b"a=1", reply=Reply(body=b"ok"))
    raw = b"POST /p?q=1 HTTP/1.1\r\nHost:  odd spacing \r\nContent-Length: 3\r\nX-Dup: 1\r\nx-dup: 2\r\n\r\na=1"

    answer = exchange(server, raw)

    assert answer.startswith(b"HTTP/1.1 200 OK\r\n") and answer.endswith(b"\r\n\r\nok")
    [request] = server.requests
    assert request.raw == raw
    assert (request.method, request.target, request.body) == ("POST", "/p?q=1", b"a=1")
    assert request.header("X-DUP") == ["1", "2"]
    server.check()


def test_unexpected_and_missing_requests_are_failures(server):
    server.expect("POST", "/gateway.php", body=lambda body: body.startswith(b"a="))
    server.expect("GET", "/never")

    answer = exchange(server, b"POST /gateway.php HTTP/1.1\r\nContent-Length: 3\r\n\r\nb=1")

    assert answer.startswith(b"HTTP/1.1 500 Unexpected request\r\n")
    problems = server.problems()
    assert len(problems) == 3
    assert problems[0].startswith("unexpected request: b'POST /gateway.php")
    assert "expected POST /gateway.php 1 time(s), seen 0" in problems
    assert "expected GET /never 1 time(s), seen 0" in problems
    with pytest.raises(AssertionError):
        server.check()


@pytest.mark.parametrize("reply, expected", [
    (Reply(body=b"abc", content_length=None), b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabc"),
    (Reply(body=b"abc", content_length=9), b"HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\nabc"),
    (Reply(body=b"abc", close_after=0), b""),
    (Reply(body=b"abc", close_after=12), b"HTTP/1.1 200"),
    (Reply(body=b"abcdefgh", drip=(3, 0.01)), b"HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\nabcdefgh"),
    (Reply(body=b"\x00" * 5, headers=(("Content-Type", "x/y"),)),
     b"HTTP/1.1 200 OK\r\nContent-Type: x/y\r\nContent-Length: 5\r\nConnection: close\r\n\r\n\x00\x00\x00\x00\x00"),
])
def test_shapes_replies_on_demand(server, reply, expected):
    server.expect("GET", "/", reply=reply)

    assert exchange(server, b"GET / HTTP/1.1\r\n\r\n") == expected
    server.check()


def test_resets_mid_reply(server):
    server.expect("GET", "/", reply=Reply(body=b"x" * 100000, reset_after=50))

    answer = exchange(server, b"GET / HTTP/1.1\r\n\r\n")

    assert answer.endswith(b"<reset>") or len(answer) == 50
    assert len(answer.replace(b"<reset>", b"")) <= 50


def test_json_replies_of_exact_size_and_tls(trusted_ca):
    with Gateway(tls=True, certfile=trusted_ca.server_cert, keyfile=trusted_ca.server_key) as gw:
        gw.expect("GET", "/j", reply=Reply.json({"code": 0}, size=100))
        answer = exchange(gw, b"GET /j HTTP/1.1\r\n\r\n", tls=True, ca=trusted_ca.ca)
    gw.check()
    head, _, body = answer.partition(b"\r\n\r\n")
    assert len(body) == 100 and body.startswith(b'{"code": 0}')
    assert b"Content-Type: application/json" in head
    with pytest.raises(ValueError):
        Reply.json({"code": 0}, size=5)


def test_closed_port_refuses_connections():
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", closed_port()), timeout=5)
