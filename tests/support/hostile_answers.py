"""Hostile answers of the update gateway to the launcher's version query, the same
list for the same seed.

    generate(seed, package_url, closed_url) -> [HostileAnswer]

`package_url(name)` gives the URL at which the test's package server serves a real
package (so that answers whose version passes go on to download and deploy it);
`closed_url(path)` an https URL on localhost whose port refuses connections. Every
URL an answer carries is one of those two, malformed, or of another scheme: nothing
ever leaves the machine.

Families: wrong JSON types at every member the answer has (top level, code, result,
result.url, result.version) and absent members; deep nesting around JsonCpp's depth
limit; numbers out of every range; invalid UTF-8 and escapes; NUL bytes; bodies
around the 10240-byte answer buffer; truncated JSON; hostile version texts (paths,
drives, devices, long, Chinese, trailing dots and blanks, printf formats); hostile
package URLs; seeded byte mutations of a well-formed answer; and the proofs of a
package: result.sha256 and result.signature in every wrong form, signatures over other
fields, and package servers whose bytes are not the signed release's.

In a build with a package key every answer that names a package carries what a
release carries (its package's sha256 and the signature over it, inserted after the
url), and every answer with an empty url the signature over the empty digest, so the
other families reach the download or the start as they do without a key; an answer
whose version no release could sign (bytes that are not UTF-8, a fraction) stays
unsigned, and so do answers without a url member. The proof family carries its
members in every build.

`package_url` serves the genuine package (packages.package()) except for the names
"missing-404", "not-a-zip", "proof-other-same-size" (another package of exactly its
size), "proof-wrong-package" (another package) and "proof-truncated" (its first half,
with that half's Content-Length).
"""
import base64
import dataclasses
import json
import random

import gateway
import winerig
import zorvik_release

# What the launcher sends with no version record, and so what a release signs for it.
QUERY_PLATFORM, QUERY_TYPE, QUERY_VERSION = "2", "1", "70"

# The launcher reads the answer into 10240 bytes and fails once 10239 arrive.
ANSWER_BUFFER = 10240


@dataclasses.dataclass
class HostileAnswer:
    name: str
    body: bytes
    status: int = 200
    headers: tuple = ()
    content_length: object = gateway.AUTO

    def reply(self):
        return gateway.Reply(body=self.body, status=self.status, headers=self.headers,
                             content_length=self.content_length)


def _dump(obj):
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def _padded(body, size):
    """`body` with blanks after it up to exactly `size` bytes (cut when it is longer)."""
    return (body + b" " * size)[:size]


# Values of every JSON type, as raw JSON text, and a few that are only almost JSON.
TYPED_VALUES = [
    ("null", b"null"), ("true", b"true"), ("false", b"false"), ("zero", b"0"), ("minus-one", b"-1"),
    ("int71", b"71"), ("fraction", b"1.5"), ("exponent", b"7e1"), ("string-empty", b'""'),
    ("string-digit", b'"0"'), ("string", b'"71"'), ("array-empty", b"[]"), ("array", b'["71"]'),
    ("object-empty", b"{}"), ("object", b'{"url":"","version":"71"}'),
]

HUGE_NUMBERS = [
    ("1e400", b"1e400"), ("-1e400", b"-1e400"), ("1e-400", b"1e-400"), ("2^64", b"18446744073709551616"),
    ("2^64-1", b"18446744073709551615"), ("2^63", b"9223372036854775808"),
    ("2^63-1", b"9223372036854775807"), ("-2^63", b"-9223372036854775808"),
    ("-2^63-1", b"-9223372036854775809"), ("2^32", b"4294967296"), ("-0", b"-0"), ("-0.0", b"-0.0"),
    ("0.0", b"0.0"), ("leading-zero", b"00"), ("hex", b"0x0"), ("plus", b"+0"), ("nan", b"NaN"),
    ("infinity", b"Infinity"), ("digits-400", b"9" * 400), ("digits-5000", b"1" + b"0" * 4999),
    ("fraction-5000", b"0." + b"0" * 4998 + b"1"),
]

HOSTILE_VERSIONS = [
    ("dotdot-back", "..\\.."), ("dotdot", ".."), ("dot", "."), ("dots-three", "..."),
    ("dotdot-blank", ".. "), ("dotdot-fwd", "../.."), ("escape-up", "..\\..\\..\\..\\zv_escape"),
    ("drive-root", "C:\\"), ("drive", "C:"), ("drive-relative", "C:zv_escape"), ("z-tmp", "Z:\\tmp\\x"),
    ("unix-abs", "/tmp/zv_escape"), ("unc", "\\\\localhost\\c$\\zv_escape"),
    ("long-unc", "\\\\?\\C:\\zv_escape"), ("device-path", "\\\\.\\nul"), ("con", "CON"),
    ("con-ext", "con.txt"), ("nul", "NUL"), ("aux-blank-ext", "AUX .log"), ("com1", "COM1"),
    ("lpt9", "lpt9"), ("conin", "CONIN$"), ("conout", "conout$"), ("com-superscript", "COM\u00b9"),
    ("len-100", "v" * 100), ("len-150", "v" * 150), ("len-255", "v" * 255), ("len-256", "v" * 256), ("len-5000", "7" * 5000),
    ("chinese", "\u7248\u672c\u4e03\u5341\u4e00"), ("trailing-dot", "71."), ("trailing-blank", "71 "),
    ("trailing-dots-blanks", "71. . "), ("format-sn", "%s%n"), ("format-many", "%s%s%s%s%s%s%s%s%n%x%p"),
    ("format-wide", "%ls%S%hs"), ("slash", "a/b"), ("backslash", "a\\b"), ("newline", "71\n"),
    ("tab", "7\t1"), ("star", "7*"), ("question", "7?"), ("quote", '7"1'), ("angle-pipe", "<7|1>"),
    ("colon-stream", "71:stream"), ("del", "71\x7f"), ("escaped-nul", "7\x001"), ("empty", ""),
    ("blank", " "), ("leading-blank", " 71"), ("dot-leading", ".71"), ("unicode-private", "\ue000"),
    # Staging folders, which a failed pass leaves half written.
    ("temp", "temp71"), ("temp-upper", "TEMP71"), ("temp-mixed", "tEmP"),
]


def _version_bytes():
    """Versions whose bytes JSON text cannot carry as str: GBK, invalid UTF-8."""
    return [
        ("gbk", "\u7248\u672c71".encode("gbk")),
        ("gbk-trail-backslash", b"\x95\\\\"),  # a GBK lead byte whose trail byte is 0x5C
        ("utf8-overlong-slash", b"\xc0\xaf"), ("lone-continuation", b"\x80\x80"),
        ("encoded-surrogate", b"\xed\xa0\x80"), ("truncated-sequence", b"\xe4\xb8"), ("ff-fe", b"\xff\xfe"),
        # A lead byte with no trail byte vanishes when Windows converts the name, which
        # can leave "..", ".", a trailing dot or a device name behind.
        ("dotdot-lead", b"..\x81"), ("dot-lead", b".\xfe"), ("con-lead", b"CON\x81"),
        ("trailing-dot-lead", b"71.\x81"), ("lead-blank", b"\x81 "), ("utf8-chinese-odd", "版本七十一".encode()),
    ]


def mutate_once(data, rng, alphabet):
    """One seeded change to the bytearray `data`: a flipped bit, a dropped byte, a
    repeated run, or an inserted byte from `alphabet`."""
    at = rng.randrange(len(data))
    op = rng.randrange(4)
    if op == 0:
        data[at] ^= 1 << rng.randrange(8)
    elif op == 1 and len(data) > 1:
        del data[at]
    elif op == 2:
        data[at:at] = data[at:at + rng.randint(1, 8)]
    else:
        data.insert(at, alphabet[rng.randrange(len(alphabet))])


def _recorded_version(version):
    """The version text the launcher records for the raw JSON `version` (None: no
    member), or None when no release could sign it."""
    if version is None:
        return QUERY_VERSION
    try:
        text = gateway._version_text(json.loads(version.decode("utf-8")))
        # A lone surrogate escape has no UTF-8 form to sign.
        return None if text is None else text.encode("utf-8") and text
    except (ValueError, RecursionError):
        return None


def _release_members(url, version):
    """What a release's answer carries after its url, as raw JSON, in a build with a
    package key: for a package its sha256 and signature, for an empty url the signature
    over the empty digest; nothing without a key."""
    if winerig.package_private_key() is None:
        return b""
    try:
        text = json.loads(url.decode("utf-8"))
    except (ValueError, RecursionError):
        return b""
    recorded = _recorded_version(version)
    if not isinstance(text, str) or recorded is None:
        return b""
    if not text:
        return b',"signature":' + _dump(gateway.release_signature(QUERY_PLATFORM, QUERY_TYPE, recorded, ""))
    digest = gateway.served_sha256(text)
    signature = gateway.release_signature(QUERY_PLATFORM, QUERY_TYPE, recorded, digest)
    return b',"sha256":' + _dump(digest) + b',"signature":' + _dump(signature)


def _answer(url, version=None, code=b"0", proof=None):
    """A well-formed answer with raw JSON pieces: url and version as values (bytes).
    `proof` (raw JSON members after the url) replaces what a release carries."""
    result = b'"url":' + url + (_release_members(url, version) if proof is None else proof)
    if version is not None:
        result += b',"version":' + version
    return b'{"code":' + code + b',"result":{' + result + b"}}"


def _jstr(text):
    return _dump(text)


def generate(seed, package_url, closed_url):
    rng = random.Random(seed)
    out = []

    def add(name, body, **kw):
        out.append(HostileAnswer(name, body, **kw))

    pkg = lambda name: _jstr(package_url(name))  # noqa: E731

    # Wrong types at every member, and each member absent.
    for label, value in TYPED_VALUES:
        add(f"type/top/{label}", value)
        add(f"type/code/{label}", _answer(pkg(f"code-{label}"), b'"71"', code=value))
        add(f"type/result/{label}", b'{"code":0,"result":' + value + b"}")
        add(f"type/url/{label}", _answer(value, b'"71"'))
        add(f"type/version/{label}", _answer(pkg(f"version-{label}"), value))
    add("absent/code", b'{"result":{"url":"","version":"71"}}')
    add("absent/result", b'{"code":0}')
    add("absent/url", b'{"code":0,"result":{"version":"71"}}')
    add("absent/version", _answer(pkg("absent-version")))
    add("absent/all", b"{}")
    add("duplicate/code", b'{"code":1,"code":0,"result":{"url":""}}')
    add("duplicate/version", _answer(b'""', b'"..","version":"72"'))

    # Nesting: JsonCpp's reader stops at 1000 levels; deeper must fail cleanly.
    for depth in (999, 1000, 1001, 5000):
        add(f"nest/array-{depth}", b"[" * depth + b"]" * depth)
    add("nest/array-10000-open", b"[" * 10000)
    add("nest/object-2000-open", b'{"a":' * 2000)
    add("nest/in-version-4000", _answer(pkg("nest"), b"[" * 4000 + b"]" * 4000))
    add("nest/in-code-5000-open", b'{"code":' + b"[" * 5000)
    add("nest/in-result-900", b'{"code":0,"result":' + b'{"a":' * 900 + b"0" + b"}" * 900 + b"}")
    add("nest/comment-after-998", b"[" * 998 + b"/*" + b"]" * 998 + b"*/")

    # Numbers in every member that takes one, and some that do not.
    for label, number in HUGE_NUMBERS:
        add(f"number/code/{label}", _answer(b'""', b'"71"', code=number))
        add(f"number/version/{label}", _answer(pkg(f"number-{label}"), number))
    for label, number in HUGE_NUMBERS[:6]:
        add(f"number/url/{label}", _answer(number, b'"71"'))

    # Invalid UTF-8 and escapes, inside and outside strings.
    for label, raw in _version_bytes():
        add(f"bytes/version/{label}", _answer(pkg(f"bytes-{label}"), b'"' + raw + b'"'))
        add(f"bytes/url/{label}", _answer(b'"' + closed_url("/").encode() + raw + b'"', b'"71"'))
    add("bytes/key", b'{"co\xffde":0,"result":{"url":""}}')
    add("bytes/outside-string", b'{"code":0,\xff"result":{"url":""}}')
    add("bytes/bom", b"\xef\xbb\xbf" + _answer(b'""'))
    add("bytes/utf16le", _answer(b'""').decode().encode("utf-16-le"))
    for label, escape in (("lone-high", b"\\ud800"), ("lone-low", b"\\udc00"), ("reversed", b"\\udc00\\ud800"),
                          ("nul", b"7\\u00001"), ("bad-hex", b"\\u12g4"), ("short", b"\\u12"),
                          ("control", b"\\u001f"), ("pair", b"\\ud83d\\ude00"), ("bad-escape", b"\\q")):
        add(f"escape/version/{label}", _answer(pkg(f"escape-{label}"), b'"' + escape + b'"'))

    # NUL bytes: the answer counts up to the first one.
    good = _answer(b'""', b'"71"')
    add("nul/leading", b"\x00" + good)
    add("nul/trailing-garbage", good + b"\x00garbage{{{")
    add("nul/inside-version", _answer(b'""', b'"7\x001"'))
    add("nul/inside-url", _answer(b'"' + closed_url("/p").encode() + b'\x00.zip"', b'"71"'))
    add("nul/before-value", b'{"code":\x000}')
    add("nul/many", b"\x00" * 500)
    add("nul/after-padding", _padded(good, 10000) + b"\x00" + b"x" * 5000)

    # Sizes around the answer buffer (a well-formed "no update" answer, blank-padded).
    for size in (10237, 10238, 10239, 10240, 10241, 20480, 1 << 20):
        add(f"size/{size}", _padded(good, size))
    add("size/10238-no-length", _padded(good, 10238), content_length=None)
    add("size/10239-no-length", _padded(good, 10239), content_length=None)
    add("size/10238-nul-at-end", _padded(good, 10237) + b"\x00")
    add("size/short-of-length", good, content_length=len(good) + 100)
    add("size/longer-than-length", good + b" " * 100, content_length=len(good))
    add("size/empty", b"")
    add("size/blank", b" " * 100)
    chunks = _padded(good, 10238)
    chunked = b"".join(b"%x\r\n" % len(chunks[i:i + 1000]) + chunks[i:i + 1000] + b"\r\n"
                       for i in range(0, len(chunks), 1000)) + b"0\r\n\r\n"
    add("size/10238-chunked", chunked, content_length=None, headers=(("Transfer-Encoding", "chunked"),))
    add("size/length-huge", good, content_length=10 ** 12)
    add("size/length-negative", good, content_length=-5)
    add("header/gzip-claimed", good, headers=(("Content-Encoding", "gzip"),))
    add("header/charset-utf16", good, headers=(("Content-Type", "application/json; charset=utf-16"),))
    add("status/302-to-closed-port", b"", status=302, headers=(("Location", closed_url("/gateway.php")),))
    add("status/404", good, status=404)
    add("status/500", good, status=500)
    add("status/503-html", b"<html><body>busy</body></html>", status=503)
    add("many-members", b'{"code":0,' + b"".join(b'"k%d":%d,' % (i, i) for i in range(900)) +
        b'"result":{"url":""}}')
    add("long-key", b'{"' + b"k" * 10000 + b'":0}')

    # Truncated JSON: a well-formed package answer cut at seeded points.
    whole = _answer(_jstr(closed_url("/p.zip")), b'"71"')
    for cut in sorted(rng.sample(range(1, len(whole)), 24)):
        add(f"truncated/{cut}", whole[:cut])
    add("truncated/open-string", b'{"code":0,"result":{"url":"https://')
    add("truncated/open-comment", good + b"/*")
    add("truncated/line-comment", b'{"code":0 // ,"result":{"url":""}}')

    # Hostile versions: each with a package to deploy (an accepted one is installed
    # into its folder; a refused one must stop before anything is created) and
    # without one (no update: the version only reaches the paths).
    for label, version in HOSTILE_VERSIONS:
        add(f"version/package/{label}", _answer(pkg(f"v-{label}"), _jstr(version)))
        add(f"version/none/{label}", _answer(b'""', _jstr(version)))

    # Hostile package URLs (version 71).
    urls = [
        ("ftp", "ftp://localhost/p.zip"), ("file", "file:///C:/windows/win.ini"),
        ("file-z", "file://Z:/etc/hostname"), ("javascript", "javascript:alert(1)"),
        ("scheme-only", "https://"), ("no-host", "https:///p.zip"), ("no-host-port", "https://:443/p.zip"),
        ("port-0", "https://localhost:0/p.zip"), ("port-65536", "https://localhost:65536/p.zip"),
        ("port-huge", "https://localhost:99999999999999999999/p.zip"), ("port-negative", "https://localhost:-1/p.zip"),
        ("port-text", "https://localhost:abc/p.zip"), ("port-empty", "https://localhost:/p.zip"),
        ("relative", "/p.zip"), ("dotdot", "..\\..\\p.zip"), ("drive", "C:\\p.zip"),
        ("unc", "\\\\localhost\\c$\\p.zip"), ("blank", " "), ("userinfo", closed_url("/p.zip").replace("//", "//u:p@")),
        ("format", closed_url("/%s%n%s%n")), ("crlf", closed_url("/p.zip\r\nX-Injected: 1")),
        ("spaces", closed_url("/p a c k.zip")), ("chinese", closed_url("/\u5305.zip")),
        ("huge-path", closed_url("/" + "a" * 9000)), ("huge-host", "https://" + "h" * 5000 + ":1/p.zip"),
        ("ipv6", "https://[::1]:1/p.zip"), ("not-found", package_url("missing-404")),
        ("gateway-not-a-zip", package_url("not-a-zip")),
    ]
    for label, url in urls:
        add(f"url/{label}", _answer(_jstr(url), b'"71"'))

    # Seeded mutations of a package answer: flipped, dropped, doubled and inserted
    # bytes, never inside the URL (a changed port could reach another program's server).
    url = pkg("mutant")
    base = _answer(url, b'"71"')
    head, _, tail = base.partition(url)
    alphabet = b'{}[]":,\\\x00\xff0-.eE/ '
    for n in range(40):
        parts = [bytearray(head), bytearray(tail)]
        for _ in range(rng.randint(1, 4)):
            mutate_once(parts[rng.randrange(2)], rng, alphabet)
        data = bytes(parts[0]) + url + bytes(parts[1])
        add(f"mutant/{n}", bytes(data))

    _proof_answers(add, package_url)

    names = [a.name for a in out]
    assert len(names) == len(set(names)), "answer names repeat"
    return out


_url_safe_signatures = {}


def _url_safe_signature(digest):
    """A valid signature for the version-71 release with `digest` whose standard
    base64 holds "+" or "/", in the URL-safe alphabet (None without a key)."""
    key = winerig.package_private_key()
    if key is None:
        return None
    if digest not in _url_safe_signatures:
        signature = ""
        while "+" not in signature and "/" not in signature:
            signature = zorvik_release.sign(key, QUERY_PLATFORM, QUERY_TYPE, "71", digest)
        _url_safe_signatures[digest] = signature.replace("+", "-").replace("/", "_")
    return _url_safe_signatures[digest]


def _proof_answers(add, package_url):
    """Release answers (version 71) whose sha256 or signature is wrong in one way, and
    answers with nothing to install, signed and not."""
    def release(name, sha256=None, signature=None):
        url = _dump(package_url(name))
        members = b""
        if sha256 is not None:
            members += b',"sha256":' + sha256
        if signature is not None:
            members += b',"signature":' + signature
        return _answer(url, b'"71"', proof=members)

    genuine = gateway.served_sha256(package_url("proof-genuine"))
    sign = lambda version="71", digest=genuine, platform=QUERY_PLATFORM, type_=QUERY_TYPE: (  # noqa: E731
        gateway.release_signature(platform, type_, version, digest))
    # Without a key the signature is never looked at; any 88 characters stand in.
    valid = sign("71") or base64.b64encode(bytes(range(0xC0, 0x100))).decode()
    raw = base64.b64decode(valid)
    q = _dump

    for label, value in (("number", b"0"), ("huge-number", b"1e64"), ("object", b"{}"),
                         ("array", b"[" + q(genuine) + b"]"), ("true", b"true"), ("empty", q("")),
                         ("short", q(genuine[:63])), ("long", q(genuine + "0")), ("non-hex", q(genuine[:63] + "g")),
                         ("blank", q(" " + genuine[:63])), ("null", b"null"), ("upper", q(genuine.upper()))):
        add(f"proof/sha256/{label}", release(f"proof-sha256-{label}", value, q(valid)))

    wrong_forms = [(f"length-{n}", q((valid * 2)[:n])) for n in (0, 1, 4, 84, 86, 87, 89, 92, 120)]
    wrong_forms += [
        ("bytes-63", q(base64.b64encode(raw[:63]).decode())),
        ("bytes-65", q(base64.b64encode(raw + b"\0").decode())),   # 88 characters, one "="
        ("bytes-66", q(base64.b64encode(raw + b"\0\0").decode())),  # 88 characters, no "="
        ("der", q(base64.b64encode(zorvik_release.raw_to_der(raw)).decode())),
        ("url-safe", q(_url_safe_signature(genuine) or valid.replace("+", "-").replace("/", "_"))),
        ("line-break", q(valid[:76] + "\r\n" + valid[76:])), ("blank", q(" " + valid)),
        ("number", b"12345"), ("array", b"[" + q(valid) + b"]"), ("null", b"null"),
    ]
    for label, value in wrong_forms:
        add(f"proof/signature/{label}", release(f"proof-signature-{label}", q(genuine), value))
    add("proof/signature/absent", release("proof-signature-absent", q(genuine)))

    # Valid signatures, over something other than this release of this query.
    other = zorvik_release.sha256_of(b"another package")
    for label, signature in (("other-version", sign("72")), ("other-platform", sign(platform="3")),
                             ("other-type", sign(type_="2")), ("other-digest", sign(digest=other))):
        add(f"proof/signed/{label}", release(f"proof-{label}", q(genuine), q(signature or valid)))
    add("proof/signed/other-digest-given", release("proof-other-digest-given", q(other), q(sign(digest=other)
                                                                                           or valid)))

    # Nothing to install: under a key the answer is signed over the empty digest, and a
    # package's signature, or one for another version, does not stand in for it.
    def no_update(signature=None):
        return _answer(b'""', b'"71"', proof=b"" if signature is None else b',"signature":' + q(signature))

    add("proof/none/genuine", no_update(sign(digest="") or valid))
    add("proof/none/unsigned", no_update())
    for label, signature in (("other-version", sign("72", digest="")), ("package-signature", sign())):
        add(f"proof/none/{label}", no_update(signature or valid))

    # The release's own sha256 and signature, and a package server with other bytes.
    for label in ("wrong-package", "other-same-size", "truncated"):
        add(f"proof/package/{label}", release(f"proof-{label}", q(genuine), q(valid)))
    add("proof/package/genuine", release("proof-genuine", q(genuine), q(valid)))
