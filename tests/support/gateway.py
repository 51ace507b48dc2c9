"""A strict local HTTP/HTTPS server for the end-to-end tests (standard library only).

A test says which requests it expects and what each gets back; the server answers
exactly those, in any order, and holds everything else against the test:

    gw = Gateway(tls=True, certfile=..., keyfile=...)   # port=0: an ephemeral port
    gw.start()
    gw.expect("POST", "/gateway.php", body=b"a=1&b=2", reply=Reply.json({"code": 0}))
    ... run the program against gw.url("/gateway.php") ...
    gw.stop()
    gw.check()   # AssertionError: unexpected requests, expectations never met

- expect(method, target, body=None, reply=Reply(), times=1): `target` is the request
  target as sent (path and query). `body` is None (anything), bytes (exactly these)
  or a callable taking the body bytes and returning true when it is acceptable.
  Requests are matched against the expectations not yet used up, first registered
  first.
- A request that matches nothing gets "500 Unexpected request" and is recorded as a
  failure. An expectation not met `times` times is a failure at check().
- gw.requests: every request in arrival order, each a Request with .raw (request
  line, headers and body exactly as received), .method, .target, .version,
  .headers (list of (name, value) in order, as latin-1 text), .body (bytes).
- gw.connections: connections accepted; gw.tls_failures: handshakes that failed on
  the server's side. (A client that rejects the certificate after the handshake just
  closes: it counts as a connection without a request.)

Replies, and misbehaving on demand:

    Reply(body=b"", status=200, headers=(), content_length=AUTO,
          close_after=None, reset_after=None, drip=None, hold_after=None)

- headers: extra (name, value) pairs, sent in order after the status line.
- content_length: AUTO sends the body's length; an int sends that number whatever
  the body is (a body shorter than its Content-Length: the connection is closed
  after the body); None omits the header and ends the body by closing.
- close_after=n: send the first n bytes of the reply, then close cleanly (n=0: close
  without answering).
- reset_after=n: send the first n bytes of the reply, then reset the connection.
- drip=(size, seconds): send the reply in pieces of `size` bytes, pausing in between.
- hold_after=n: send the first n bytes of the reply, then send nothing more, with the
  connection open, until gw.release() (the rest follows) or gw.stop(): a peer that
  stalls for as long as the test needs, whatever the machine's speed.
- Every reply carries "Connection: close", and the server closes the connection
  after it.
- Reply.json(obj, size=None, sign=True, **kw): a JSON body, padded with spaces to
  exactly `size` bytes when size is given. Any bytes at all (non-JSON, NUL bytes) go
  in body.
- An answer made by Reply.json that offers a package (code 0, a non-empty string
  result.url) gets, when the request arrives, what a release carries: result.sha256,
  the SHA-256 of the package a running Gateway serves at that URL (the first GET
  expectation for it not yet used up; the empty body when none serves it), and, when
  the build has a package key, result.signature over the platform and type of the
  request, the answer's version (or the request's when it has none) and that digest,
  made by the release tool's own code. A member the answer holds itself stays as it
  is, so a test can give a wrong digest and still get a valid signature over it.
  An answer with nothing to install (code 0, a result object whose url is empty or
  absent) gets, when the build has a package key, result.signature over the empty
  digest; one without a result object stays unsigned, as no release can sign it.
  sign=False sends the answer exactly as given.
- served_sha256(url), release_signature(platform, type_, version, digest): the same
  digest and signature, for tests that write an answer's bytes themselves.
- closed_port(): a loopback port with nothing listening (connections are refused).
"""
import dataclasses
import json
import pathlib
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))

import zorvik_release  # noqa: E402

AUTO = object()
_MAX_HEAD = 64 * 1024
_REASONS = {200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found", 404: "Not Found",
            500: "Unexpected request", 503: "Service Unavailable"}


@dataclasses.dataclass
class Reply:
    body: bytes = b""
    status: int = 200
    headers: tuple = ()
    content_length: object = AUTO
    close_after: int = None
    reset_after: int = None
    drip: tuple = None
    hold_after: int = None
    answer: object = None  # the object of Reply.json, completed for a package on arrival
    size: int = None

    @staticmethod
    def _text(obj, size):
        text = json.dumps(obj, ensure_ascii=False).encode("utf-8")
        if size is not None:
            if len(text) > size:
                raise ValueError(f"JSON of {len(text)} bytes does not fit {size}")
            text += b" " * (size - len(text))
        return text

    @classmethod
    def json(cls, obj, size=None, sign=True, **kw):
        headers = (("Content-Type", "application/json"),) + tuple(kw.pop("headers", ()))
        return cls(body=cls._text(obj, size), headers=headers, answer=obj if sign else None, size=size, **kw)

    def wire(self):
        reason = _REASONS.get(self.status, "Status")
        lines = [f"HTTP/1.1 {self.status} {reason}"]
        lines += [f"{name}: {value}" for name, value in self.headers]
        if self.content_length is AUTO:
            lines.append(f"Content-Length: {len(self.body)}")
        elif self.content_length is not None:
            lines.append(f"Content-Length: {self.content_length}")
        lines.append("Connection: close")
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + self.body


@dataclasses.dataclass
class Request:
    raw: bytes
    method: str
    target: str
    version: str
    headers: list
    body: bytes

    def header(self, name):
        """Values of every header of that name (any letter case), in order."""
        return [value for key, value in self.headers if key.lower() == name.lower()]


@dataclasses.dataclass
class _Expectation:
    method: str
    target: str
    body: object
    reply: Reply
    times: int
    seen: int = 0

    def accepts(self, request):
        if self.seen >= self.times or request.method != self.method or request.target != self.target:
            return False
        if self.body is None:
            return True
        if callable(self.body):
            return bool(self.body(request.body))
        return request.body == self.body


# Every running Gateway, so that an answer on one can name a package served by another.
_running = set()
_running_lock = threading.Lock()
_signatures = {}


def _package_bytes(url):
    """The body a running Gateway will send for a GET of `url`, or None."""
    parts = urllib.parse.urlsplit(url)
    try:
        port = parts.port or (443 if parts.scheme.lower() == "https" else 80)
    except ValueError:
        return None
    target = parts.path + (f"?{parts.query}" if parts.query else "")
    with _running_lock:
        servers = [g for g in _running if g.port == port]
    for server in servers:
        with server._lock:
            candidates = [e for e in server._expectations if e.method == "GET" and e.target == target]
        waiting = [e for e in candidates if e.seen < e.times]
        if waiting or candidates:
            return (waiting or candidates)[0].reply.body
    return None


def served_sha256(url):
    """The SHA-256 (lower-case hex) of what a running Gateway serves at `url`, of the
    empty body when none serves it: the digest a release's answer gives."""
    return zorvik_release.sha256_of(_package_bytes(url) or b"")


def release_signature(platform, type_, version, digest):
    """The release tool's signature over these fields with the build's package key
    (the same text for the same fields in one run), or None for a build without one."""
    import winerig  # the build's key; imported here so the server itself needs no build
    key = winerig.package_private_key()
    if key is None:
        return None
    fields = (platform, type_, version, digest)
    if fields not in _signatures:
        _signatures[fields] = zorvik_release.sign(key, *fields)
    return _signatures[fields]


def _version_text(value):
    """The version as the launcher records it, or None where it records none."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if value is None:
        return ""
    if isinstance(value, (int, str)):
        return str(value)
    return None


def _complete_answer(reply, request):
    """The reply with sha256 and signature added where its answer offers a package, or
    the signature where it offers nothing, and does not hold them (see the module's
    notes); otherwise the reply itself."""
    answer = reply.answer
    result = answer.get("result") if isinstance(answer, dict) else None
    if not (isinstance(result, dict) and type(answer.get("code")) is int and answer["code"] == 0
            and isinstance(result.get("url", ""), str)):
        return reply
    offers_package = result.get("url", "") != ""
    import winerig  # the build's key; imported here so the server itself needs no build
    key = winerig.package_private_key()
    if offers_package and "sha256" in result and ("signature" in result or key is None):
        return reply
    if not offers_package and (key is None or "signature" in result):
        return reply
    result = dict(result)
    if offers_package and "sha256" not in result:
        result["sha256"] = served_sha256(result["url"])
    form = {name: values[0] for name, values in urllib.parse.parse_qs(
        request.body.decode("utf-8", errors="replace"), keep_blank_values=True).items()}
    version = _version_text(result["version"]) if "version" in result else form.get("version", "")
    # Nothing to install is signed over the empty digest; a package only over a digest
    # a release could give.
    digest = result["sha256"] if offers_package else ""
    signable = isinstance(digest, str) and (len(digest) == 64 or not offers_package)
    if key is not None and "signature" not in result and version is not None and signable:
        result["signature"] = release_signature(form.get("platform", ""), form.get("type", ""), version, digest)
    completed = dict(answer, result=result)
    return dataclasses.replace(reply, body=Reply._text(completed, reply.size), answer=completed)


def closed_port():
    """A loopback port that refuses connections (bound once, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False


class Gateway:
    def __init__(self, tls=True, certfile=None, keyfile=None, port=0, host="localhost"):
        self.tls = tls
        self.host = host
        self.requests = []
        self.tls_failures = []
        self.connections = 0
        self.failures = []
        self._expectations = []
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._released = threading.Event()
        self._context = None
        if tls:
            self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._context.load_cert_chain(certfile, keyfile)
        gateway = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                gateway._serve(self.request)

        self._server = _Server(("127.0.0.1", port), Handler)
        self.port = self._server.server_address[1]
        self._thread = None

    # -- test side ---------------------------------------------------------------

    def url(self, target="/"):
        scheme = "https" if self.tls else "http"
        return f"{scheme}://{self.host}:{self.port}{target}"

    def expect(self, method, target, body=None, reply=None, times=1):
        with self._lock:
            self._expectations.append(_Expectation(method, target, body, reply or Reply(), times))

    def start(self):
        self._thread = threading.Thread(target=self._server.serve_forever, name=f"gateway-{self.port}",
                                        daemon=True)
        self._thread.start()
        with _running_lock:
            _running.add(self)
        return self

    def release(self):
        """Lets every held reply go on (see Reply.hold_after)."""
        self._released.set()

    def stop(self):
        with _running_lock:
            _running.discard(self)
        self._stopping.set()
        self._released.set()
        self._server.shutdown()
        self._server.server_close()
        if self._thread:
            self._thread.join(timeout=10)

    def problems(self):
        """Every failure so far, as text; expectations not met count too."""
        with self._lock:
            found = list(self.failures)
            for e in self._expectations:
                if e.seen < e.times:
                    found.append(f"expected {e.method} {e.target} {e.times} time(s), seen {e.seen}")
        return found

    def check(self):
        found = self.problems()
        assert not found, "gateway on port %d:\n  %s" % (self.port, "\n  ".join(found))

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- server side -------------------------------------------------------------

    def _fail(self, text):
        with self._lock:
            self.failures.append(text)

    def _serve(self, sock):
        with self._lock:
            self.connections += 1
        sock.settimeout(30)
        if self._context:
            try:
                sock = self._context.wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError) as error:
                with self._lock:
                    self.tls_failures.append(str(error))
                return
        try:
            request = self._read_request(sock)
            if request is None:
                return
            reply = self._match(request)
            if reply.answer is not None:
                reply = _complete_answer(reply, request)
            self._send(sock, reply)
        except Exception as error:  # a fault of the test server itself must not pass silently
            self._fail(f"gateway error: {error!r}")
        finally:
            try:
                sock.close()
            except OSError:
                pass

    def _read_request(self, sock):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = sock.recv(65536)
            if not chunk:
                if data:
                    self._fail(f"connection closed inside the request head: {data!r}")
                return None
            data += chunk
            if len(data) > _MAX_HEAD:
                self._fail("request head larger than 64 KiB")
                return None
        head, _, rest = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        try:
            method, target, version = lines[0].split(" ")
        except ValueError:
            self._fail(f"malformed request line: {lines[0]!r}")
            return None
        headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers.append((name, value.strip(" \t")))

        lengths = [v for k, v in headers if k.lower() == "content-length"]
        chunked = any(k.lower() == "transfer-encoding" and "chunked" in v.lower() for k, v in headers)
        if chunked:
            rest = self._read_chunked(sock, rest)
            body = _dechunk(rest)
        else:
            size = int(lengths[0]) if lengths else 0
            while len(rest) < size:
                chunk = sock.recv(65536)
                if not chunk:
                    self._fail(f"request body ended after {len(rest)} of {size} bytes")
                    break
                rest += chunk
            body = rest
        request = Request(raw=head + b"\r\n\r\n" + rest, method=method, target=target, version=version,
                          headers=headers, body=body)
        with self._lock:
            self.requests.append(request)
        return request

    def _read_chunked(self, sock, rest):
        while not rest.endswith(b"0\r\n\r\n"):
            chunk = sock.recv(65536)
            if not chunk:
                break
            rest += chunk
        return rest

    def _match(self, request):
        with self._lock:
            for expectation in self._expectations:
                if expectation.accepts(request):
                    expectation.seen += 1
                    return expectation.reply
            self.failures.append(f"unexpected request: {request.raw!r}")
        return Reply(body=b"unexpected request\n", status=500)

    def _send(self, sock, reply):
        data = reply.wire()
        cut = reply.reset_after if reply.reset_after is not None else reply.close_after
        if cut is not None:
            data = data[:cut]
        try:
            if reply.hold_after is not None:
                sock.sendall(data[:reply.hold_after])
                data = data[reply.hold_after:]
                self._released.wait()
                if self._stopping.is_set():
                    return
            if reply.drip:
                size, pause = reply.drip
                for offset in range(0, len(data), size):
                    if self._stopping.is_set():
                        return
                    sock.sendall(data[offset:offset + size])
                    time.sleep(pause)
            else:
                sock.sendall(data)
        except OSError:
            return  # the client went away; what it saw is the test's business
        if reply.reset_after is not None:
            # Linger 0: close() sends a TCP reset instead of a clean end.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            try:
                if isinstance(sock, ssl.SSLSocket):
                    # Send close_notify, so the end is a clean TLS end, but do not wait
                    # long for the client's: it may be waiting for bytes that never come.
                    sock.settimeout(0.5)
                    sock = sock.unwrap()
                sock.shutdown(socket.SHUT_WR)
                # Let the client read what was sent before the socket goes away.
                sock.settimeout(5)
                while sock.recv(65536):
                    pass
            except OSError:
                pass


def _dechunk(data):
    body = b""
    while data:
        line, _, data = data.partition(b"\r\n")
        size = int(line.split(b";")[0] or b"0", 16)
        if size == 0:
            break
        body += data[:size]
        data = data[size + 2:]
    return body
