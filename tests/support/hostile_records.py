"""Hostile version records (jsver.txt in the install root), the same list for the same
seed.

    generate(seed) -> [HostileRecord]
    HostileRecord.place(root, outside)   writes the case below `root` (the install root);
                                         `outside` is a folder beside it for link targets

Families: wrong JSON types at every member (top level, platform, type, ver), numbers
out of every range, nesting past JsonCpp's depth limit in short lines, invalid UTF-8,
NUL bytes, byte-order marks and UTF-16/32 files, huge files, hostile "ver" texts,
empty and blank files, line-length limits and line ends, a folder or link named
jsver.txt, records shipped beside res.dat, and seeded byte mutations of a good record.
"""
import dataclasses
import os
import random

import hostile_answers

GOOD = b'{"platform":"2","type":"1","ver":"71"}\r\n'
LINE_LIMIT = 499


@dataclasses.dataclass
class HostileRecord:
    name: str
    data: bytes = None     # the file's bytes (None: see kind)
    kind: str = "file"     # file | missing | folder | folder-with-record | link | read-only
    link: str = None       # kind "link": "outside-good", "outside-text", "dangling", "loop", "folder"
    shipped: object = None  # res.dat beside the launcher with this jsver.txt (bytes), with
                            # none ("absent"), or no res.dat at all (None)

    def place(self, root, launcher_dir, outside):
        root.mkdir(parents=True, exist_ok=True)
        launcher_dir.mkdir(parents=True, exist_ok=True)
        record = root / "jsver.txt"
        if self.kind in ("file", "read-only"):
            record.write_bytes(self.data)
            if self.kind == "read-only":
                os.chmod(record, 0o444)
        elif self.kind == "folder":
            record.mkdir()
        elif self.kind == "folder-with-record":
            record.mkdir()
            (record / "jsver.txt").write_bytes(GOOD)
        elif self.kind == "link":
            targets = {"outside-good": outside / "good.txt", "outside-text": outside / "text.txt",
                       "dangling": outside / "absent.txt", "loop": record, "folder": outside}
            os.symlink(targets[self.link], record)
        if self.shipped is not None:
            (launcher_dir / "res.dat").write_bytes(b"PK\x05\x06" + b"\x00" * 18)
            if self.shipped != "absent":
                (launcher_dir / "jsver.txt").write_bytes(self.shipped)


def prepare_outside(outside):
    """The link targets beside the cases."""
    outside.mkdir(parents=True, exist_ok=True)
    (outside / "good.txt").write_bytes(b'{"ver":"72"}')
    (outside / "text.txt").write_bytes(b"root:x:0:0:root:/root:/bin/sh\n")


def _record(members):
    """A one-line record from raw JSON member pieces: [(name bytes, value bytes)]."""
    return b"{" + b",".join(b'"' + k + b'":' + v for k, v in members) + b"}\r\n"


def _with(member, value):
    base = {b"platform": b'"2"', b"type": b'"1"', b"ver": b'"71"'}
    base[member] = value
    return _record(base.items())


def _lines(text, width=400):
    """`text` cut into lines of `width` bytes, so no line passes the line limit."""
    return b"\n".join(text[i:i + width] for i in range(0, len(text), width)) + b"\n"


def generate(seed):
    rng = random.Random(seed)
    out = []

    def add(name, data=None, **kw):
        out.append(HostileRecord(name, data, **kw))

    for label, value in hostile_answers.TYPED_VALUES:
        add(f"type/top/{label}", value + b"\r\n")
        for member in (b"platform", b"type", b"ver"):
            add(f"type/{member.decode()}/{label}", _with(member, value))
    for label, value in hostile_answers.HUGE_NUMBERS:
        add(f"number/ver/{label}", _with(b"ver", value))
    for label, value in hostile_answers.HUGE_NUMBERS[:12]:
        add(f"number/platform/{label}", _with(b"platform", value))
        add(f"number/type/{label}", _with(b"type", value))
    for label, value in (("int-max", b"2147483647"), ("int-min", b"-2147483648"),
                         ("int-max+1", b"2147483648"), ("int-min-1", b"-2147483649")):
        add(f"number/platform/{label}", _with(b"platform", value))

    # Nesting in lines short enough to pass the line limit.
    add("nest/arrays-10479", b"\n".join([b"[" * LINE_LIMIT] * 21) + b"\n")
    add("nest/arrays-one-per-line", b"[\n" * 10000)
    add("nest/objects", b'{"ver":\n' * 3000)
    for depth in (999, 1000, 1001):
        add(f"nest/ver-{depth}", _lines(b'{"ver":' + b"[" * (depth - 1) + b"]" * (depth - 1) + b"}"))
    add("nest/closed-5000", _lines(b"[" * 5000 + b"]" * 5000))
    add("nest/extra-member-900", _lines(b'{"ver":"71","x":' + b"[" * 900 + b"]" * 900 + b"}"))

    # Bytes that are no text, or not this code page's.
    for label, raw in hostile_answers._version_bytes():
        add(f"bytes/ver/{label}", _with(b"ver", b'"' + raw + b'"'))
    add("bytes/platform/ff", _with(b"platform", b'"\xff\xfe"'))
    add("bytes/type/lead", _with(b"type", b'"\x81"'))
    add("bytes/key", b'{"ve\xffr":"71"}')
    add("bytes/outside-string", b'{"ver":"71",\xff}')
    for label, escape in (("lone-high", b"\\ud800"), ("nul", b"7\\u00001"), ("pair", b"\\ud83d\\ude00"),
                          ("bad-hex", b"\\u12g4"), ("slash", b"7\\/1"), ("backslash", b"7\\\\1")):
        add(f"escape/ver/{label}", _with(b"ver", b'"' + escape + b'"'))

    add("nul/leading", b"\x00" + GOOD)
    add("nul/in-ver", _with(b"ver", b'"7\x001"'))
    add("nul/trailing", GOOD + b"\x00")
    add("nul/only", b"\x00" * 64)
    add("nul/binary", bytes(rng.randrange(256) for _ in range(4096)))

    text = GOOD.decode()
    add("bom/utf8", b"\xef\xbb\xbf" + GOOD)
    add("bom/utf16le", b"\xff\xfe" + text.encode("utf-16-le"))
    add("bom/utf16be", b"\xfe\xff" + text.encode("utf-16-be"))
    add("bom/utf32le", b"\xff\xfe\x00\x00" + text.encode("utf-32-le"))
    add("bom/utf16le-without", text.encode("utf-16-le"))

    # Large files: only what the lines hold counts, and every line must be short.
    add("huge/newlines-then-record", b"\n" * (8 << 20) + GOOD)
    add("huge/blank-lines-then-record", (b" " * 400 + b"\n") * 20000 + GOOD)
    add("huge/one-line", b'{"ver":"71"' + b" " * (1 << 20) + b"}")
    add("huge/random", rng.randbytes(4 << 20))
    add("huge/many-members", _lines(b"{" + b",".join(b'"k%d":%d' % (i, i) for i in range(50000)) +
                                    b',"ver":"71"}'))

    for label, version in hostile_answers.HOSTILE_VERSIONS:
        add(f"ver/{label}", _record([(b"platform", b'"2"'), (b"type", b'"1"'),
                                      (b"ver", hostile_answers._jstr(version))]))
    add("ver/format-platform", _with(b"platform", b'"%s%n%s%n"'))
    add("ver/long-type", _with(b"type", b'"' + b"t" * 400 + b'"'))

    add("empty", b"")
    add("blank", b"   \r\n\t\r\n")
    add("crlf-only", b"\r\n" * 10)
    add("comment-only", b"/* nothing */\r\n")
    add("line-comment-first", b"// note\n" + GOOD)
    add("line-499", b'{"ver":"71"' + b" " * (LINE_LIMIT - 12) + b"}\n")
    add("line-500", b'{"ver":"71"' + b" " * (LINE_LIMIT - 11) + b"}\n")
    add("cr-line-ends", b'{"platform":"2",\r"type":"1",\r"ver":"71"}\r')
    add("multi-line", b'{\r\n "platform": "2",\r\n "type": "1",\r\n "ver": "71"\r\n}\r\n')
    add("update-tool-bare", b"71\r\n")
    add("update-tool-quoted", b'"71"')
    add("trailing-garbage", GOOD + b"garbage")
    add("two-objects", GOOD + GOOD)
    add("duplicate-ver", b'{"ver":"..","ver":"71"}')
    add("good", GOOD)
    add("good-gbk", _with(b"ver", b'"' + "\u7248\u672c71".encode("gbk") + b'"'))
    add("good-only-ver", b'{"ver":"73"}')
    add("good-integers", b'{"platform":2,"type":1,"ver":71}')

    add("kind/missing", kind="missing")
    add("kind/folder", kind="folder")
    add("kind/folder-with-record", kind="folder-with-record")
    add("kind/read-only", GOOD, kind="read-only")
    for link in ("outside-good", "outside-text", "dangling", "loop", "folder"):
        add(f"kind/link-{link}", kind="link", link=link)

    # Beside res.dat: the shipped record decides the folder of the install that follows.
    shipped = [("good", b'{"ver":"5"}'), ("absent", "absent"), ("dotdot", b'{"ver":".."}'),
               ("drive", b'{"ver":"C:\\\\x"}'), ("unc", b'{"ver":"\\\\\\\\h\\\\s"}'), ("con", b'{"ver":"CON"}'),
               ("lead-byte", b'{"ver":"..\x81"}'), ("nested", b"[\n" * 5000), ("format", b'{"ver":"%s%n"}'),
               ("long", b'{"ver":"' + b"7" * 300 + b'"}'), ("integer", b'{"ver":5}'), ("empty", b""),
               ("bom", b"\xef\xbb\xbf{\"ver\":\"5\"}"), ("fraction", b'{"ver":5.5}')]
    for label, data in shipped:
        add(f"shipped/{label}", kind="missing", shipped=data)
    for label, data in (("root-nested", b"[\n" * 5000), ("root-lead-byte", b'{"ver":"..\x81"}')):
        add(f"shipped/{label}", data, shipped=b'{"ver":"6"}')

    # Seeded mutations of a good record.
    for n in range(40):
        data = bytearray(GOOD)
        for _ in range(rng.randint(1, 4)):
            hostile_answers.mutate_once(data, rng, b'{}[]":,\\\x00\xff0-./ \n\x81')
        add(f"mutant/{n}", bytes(data))

    names = [r.name for r in out]
    assert len(names) == len(set(names)), "record names repeat"
    return out
