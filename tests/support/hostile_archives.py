"""Hostile and broken zip archives for the extraction campaign, deterministic from a seed.

    cases = generate(out_dir, seed=7, canary=<folder>, c_drive=<folder>, depth=3)

writes out_dir/NNNNN.zip and returns one Case per archive: its class, how the
launcher's extraction may end (every entry written: 0; stopped by an entry that was
refused, not written or broken, or by the directory: -1; not opened: -1), what the update tool's may return (Complete /
Incomplete), which entry contents must and must not be found in the sandbox
afterwards, and the places outside the sandbox that its names aim at.

Every entry carries data of its own (the archive's number and the entry's), so its
CRC-32 and size name it in the sandbox listing whatever name it ended up under.

The sandbox is `depth` folders below the campaign root; names that climb that far
aim at the sentinel files the check places there. `canary` is a folder the check
watches, where absolute names (Z:\\ is the Linux root under wine) point; `c_drive` is
the prefix's drive C: folder.
"""
import pathlib
import random
import struct
import zlib

LOCAL = 0x04034B50
CENTRAL = 0x02014B50
END = 0x06054B50
END64 = 0x06064B50
LOCATOR64 = 0x07064B50
DOS_TIME = (13 << 11) | (45 << 5) | 15
DOS_DATE = ((2021 - 1980) << 9) | (6 << 5) | 15

# How the launcher's unzipFiles may end, and the code each end gives.
WALKED = "walked"       # every entry written whole
HALTED = "stopped"      # opened, but an entry refused or not written, or a read, size, CRC
                        # or move to the next entry stopped it
UNREADABLE = "unopened"  # not an archive the reader can open
LAUNCHER_CODE = {WALKED: 0, HALTED: -1, UNREADABLE: -1}

OPENED = {WALKED}
STOPPED = {HALTED}
NOT_OPENED = {UNREADABLE}
WRITTEN_OR_NOT = {WALKED, HALTED}
OPEN_OR_NOT = {WALKED, HALTED, UNREADABLE}
COMPLETE = {"Complete"}
INCOMPLETE = {"Incomplete"}
EITHER = {"Complete", "Incomplete"}


def winpath(path):
    return "Z:" + str(pathlib.Path(path)).replace("/", "\\")


class Item:
    """One entry as it goes into the archive; any field can be made to lie."""

    def __init__(self, name, data=b"", *, method=None, flag=0, crc=None, csize=None,
                 usize=None, local_name=None, offset=None, zip64=None, payload=None,
                 external=None):
        self.name = name.encode("gbk") if isinstance(name, str) else bytes(name)
        self.local_name = self.name if local_name is None else local_name
        self.data = bytes(data)
        if method is None:
            method = 8 if self.data else 0
        self.method = method
        if payload is None:
            if method == 8:
                packer = zlib.compressobj(6, zlib.DEFLATED, -15)
                payload = packer.compress(self.data) + packer.flush()
            else:
                payload = self.data
        self.payload = payload
        self.flag = flag
        self.crc = zlib.crc32(self.data) if crc is None else crc
        self.csize = len(payload) if csize is None else csize
        self.usize = len(self.data) if usize is None else usize
        self.offset = offset   # the central record's local-header offset, if it lies
        self.zip64 = zip64     # (usize, csize) written as a zip64 extra field
        self.external = external  # the central record's attributes, if they matter


def _zip64_extra(sizes):
    usize, csize = sizes
    return struct.pack("<HHQQ", 1, 16, usize, csize)


def build(items, *, count=None, disk_count=None, shared_local=None, zip64_end=None):
    """The archive's bytes. `count`/`disk_count` make the end record lie; `shared_local`
    lets every central record point at one local header (overlapping entries);
    `zip64_end` writes a zip64 end record with that entry count."""
    out = bytearray()
    central = bytearray()
    offsets = []
    for item in items:
        offsets.append(len(out))
        if shared_local is not None and offsets[-1] != 0 and shared_local:
            offsets[-1] = 0
            continue
        extra = _zip64_extra(item.zip64) if item.zip64 else b""
        c32 = 0xFFFFFFFF if item.zip64 else item.csize
        u32 = 0xFFFFFFFF if item.zip64 else item.usize
        out += struct.pack("<IHHHHHIIIHH", LOCAL, 45 if item.zip64 else 20, item.flag, item.method,
                           DOS_TIME, DOS_DATE, item.crc & 0xFFFFFFFF, c32 & 0xFFFFFFFF,
                           u32 & 0xFFFFFFFF, len(item.local_name), len(extra))
        out += item.local_name + extra + item.payload
    for item, offset in zip(items, offsets):
        extra = _zip64_extra(item.zip64) if item.zip64 else b""
        c32 = 0xFFFFFFFF if item.zip64 else item.csize
        u32 = 0xFFFFFFFF if item.zip64 else item.usize
        external = 0x10 if item.name.endswith((b"/", b"\\")) else 0x20
        if item.external is not None:
            external = item.external
        where = offset if item.offset is None else item.offset
        made_by = (3 << 8 | 20) if item.external is not None else 20  # 3: Unix attributes
        central += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, 45 if item.zip64 else made_by,
                               45 if item.zip64 else 20, item.flag, item.method, DOS_TIME,
                               DOS_DATE, item.crc & 0xFFFFFFFF, c32 & 0xFFFFFFFF,
                               u32 & 0xFFFFFFFF, len(item.name), len(extra), 0, 0, 0, external,
                               where & 0xFFFFFFFF)
        central += item.name + extra
    directory = len(out)
    out += central
    total = len(items) if count is None else count
    on_disk = total if disk_count is None else disk_count
    if zip64_end is not None:
        end64 = len(out)
        out += struct.pack("<IQHHIIQQQQ", END64, 44, 45, 45, 0, 0, zip64_end, zip64_end,
                           len(central), directory)
        out += struct.pack("<IIQI", LOCATOR64, 0, end64, 1)
        on_disk = total = 0xFFFF
    out += struct.pack("<IHHHHIIH", END, 0, 0, on_disk & 0xFFFF, total & 0xFFFF, len(central),
                       directory, 0)
    return bytes(out)


def crc_key(data):
    return "%08x:%d" % (zlib.crc32(data), len(data))


class Case:
    def __init__(self, index, cls, items, *, launcher, tool, present=(), absent=(),
                 complete=None, targets=(), raw=None, note=""):
        self.index = index
        self.cls = cls
        self.items = items
        self.launcher = set(launcher)
        self.launcher_codes = {LAUNCHER_CODE[end] for end in self.launcher}
        self.tool = set(tool)
        self.present = [crc_key(d) for d in present]   # must be in the sandbox
        self.absent = [crc_key(d) for d in absent]     # must not be
        # When the tool says Complete, the sandbox holds exactly these contents.
        self.complete = None if complete is None else sorted(crc_key(d) for d in complete)
        self.targets = list(targets)                   # Linux paths that must not appear
        self.raw = raw
        self.note = note

    def bytes(self):
        return self.raw if self.raw is not None else build(self.items)


class Generator:
    def __init__(self, seed, canary, c_drive, depth):
        self.rng = random.Random(seed)
        self.canary = pathlib.Path(canary)
        self.c_drive = pathlib.Path(c_drive)
        self.depth = depth
        self.cases = []

    # -- helpers ---------------------------------------------------------------------
    def data(self, tag, size=None):
        """Content unique to this archive and entry."""
        index = len(self.cases)
        size = self.rng.randrange(0, 3000) if size is None else size
        head = b"case %d entry %s\n" % (index, str(tag).encode())
        rest = max(0, size - len(head))
        # half random, half repeated, so that deflate has something to do
        body = self.rng.randbytes(rest // 2) + self.rng.randbytes(16) * (rest // 32 + 1)
        return head + body[:rest]

    def add(self, cls, items=None, **expect):
        case = Case(len(self.cases), cls, items or [], **expect)
        self.cases.append(case)
        return case

    def refused(self, cls, name, *, targets=(), note=""):
        """A benign entry, the hostile one, another benign one: the hostile name is
        refused, which ends the walk there as failed, and nothing lands outside."""
        before, evil, after = self.data("before"), self.data("evil"), self.data("after")
        folder = name.endswith((b"/", b"\\")) if isinstance(name, bytes) else name.endswith(("/", "\\"))
        items = [Item("before.txt", before), Item(name, b"" if folder else evil),
                 Item("after.txt", after)]
        return self.add(cls, items, launcher=STOPPED, tool=INCOMPLETE, present=[before],
                        absent=[after] if folder else [evil, after], targets=targets, note=note)

    def kept(self, cls, name, *, tool=COMPLETE, note=""):
        """An odd name that stays inside the sandbox: either written there, or refused
        or not created, which ends the walk as failed; never anywhere else."""
        before, odd, after = self.data("before"), self.data("odd"), self.data("after")
        items = [Item("before.txt", before), Item(name, odd), Item("after.txt", after)]
        written = tool == COMPLETE
        return self.add(cls, items, launcher=OPENED if written else WRITTEN_OR_NOT, tool=tool,
                        present=[before, after] if written else [before],
                        complete=[before, odd, after], note=note)

    def valid_items(self, count=None):
        count = self.rng.randrange(1, 8) if count is None else count
        items, contents = [], []
        folders = ["", "js/", "css/site/", "资源/", "a/b/c/"]
        for i in range(count):
            folder = self.rng.choice(folders)
            data = self.data(i, self.rng.randrange(0, 20000))
            items.append(Item("%sf%d.bin" % (folder, i), data,
                              method=self.rng.choice([0, 8]) if data else 0))
            contents.append(data)
        return items, contents

    # -- classes ---------------------------------------------------------------------
    def benign(self, n):
        for _ in range(n):
            items, contents = self.valid_items()
            if self.rng.random() < 0.3:
                items.insert(0, Item("js/"))
            self.add("benign", items, launcher=OPENED, tool=COMPLETE, present=contents,
                     complete=contents)

    def traversal(self, n):
        targets_in_root = ["sentinel.txt", "evil.txt"]
        spellings = [
            lambda k, t: "../" * k + t,
            lambda k, t: "..\\" * k + t,
            lambda k, t: "".join(self.rng.choice(["../", "..\\"]) for _ in range(k)) + t,
            lambda k, t: "x/" + "../" * (k + 1) + t,
            lambda k, t: "x\\y\\" + "..\\" * (k + 2) + t,
            lambda k, t: "./" * 2 + "../" * k + t,
            lambda k, t: "".join(self.rng.choice([".. /", "... /", ". ./", "..  \\", "...\\"])
                                 for _ in range(k)) + t,
            lambda k, t: "x/" + "../" * k,                # ends in "..": a name with no file
            lambda k, t: "../" * k + "folder-%d/" % len(self.cases),   # a folder entry
            lambda k, t: "x" + "/.." * k,
            lambda k, t: "../" * k + "..",
            lambda k, t: "a/../" + t,                     # stays inside, but refused all the same
        ]
        for i in range(n):
            spell = spellings[i % len(spellings)]
            deep = i % 7 == 0
            k = self.rng.choice([12, 20, 40]) if deep else self.rng.randrange(1, self.depth + 2)
            target = "evil-%d.txt" % len(self.cases) if deep else self.rng.choice(targets_in_root)
            name = spell(k, target)
            # so many steps up end at the root of drive Z:, the Linux root
            aims = [pathlib.Path("/") / target] if deep else []
            self.refused("traversal", name, targets=aims)

    def encoded(self, n):
        """Separators and dots spelled so that a decoder, not the file system, would
        read them as such: they are plain characters of a name here."""
        spellings = ["..%2f..%2fevil.txt", "%2e%2e%2fevil.txt", "..%5c..%5cevil.txt",
                     "%2e%2e/%2e%2e/evil.txt", "..%252f..%252fevil.txt", "%2E%2E%5Cevil.txt",
                     "..%c0%af..%c0%afevil.txt", "%u002e%u002e%u2215evil.txt"]
        for i in range(n):
            self.kept("encoded", spellings[i % len(spellings)].replace("evil", "evil%d" % i))

    def lookalikes(self, n):
        """Bytes that other encodings or decoders read as dots and separators: overlong
        UTF-8, the fullwidth solidus and full stop (in UTF-8 and in GBK), and code page
        936 lead bytes in front of a separator or a dot, which a conversion may take
        as one double-byte character together with what follows."""
        pieces = [b"\xc0\xae\xc0\xae\xc0\xaf", b"\xc0\xae\xc0\xae/", b"\xe0\x80\xae\xe0\x80\xae\xe0\x80\xaf",
                  b"\xef\xbc\x8e\xef\xbc\x8e\xef\xbc\x8f", b"\xa3\xae\xa3\xae\xa3\xaf",
                  b"\xa3\xae\xa3\xae/", b"..\xa3\xaf", b"\xe2\x88\x95", b"..\xe2\x88\x95",
                  b"\x81../", b"..\x81/", b"\x81.../", b"\x81\\../", b".\x81./", b"\xfe../",
                  b"..\xff/", b"\x80../", b"..\x80/", b"\x81/../", b"...\x81/"]
        for i in range(n):
            piece = pieces[i % len(pieces)]
            repeat = 1 + (i // len(pieces)) % 3
            self.kept("lookalike", piece * repeat + b"evil%d.txt" % i, tool=EITHER)

    def drives(self, n):
        canary_win = winpath(self.canary)
        for i in range(n):
            mark = "evil-%d.txt" % len(self.cases)
            choice = i % 10
            aims = []
            if choice == 0:
                name, aims = "C:\\" + mark, [self.c_drive / mark]
            elif choice == 1:
                name, aims = "C:" + mark, [self.c_drive / mark]
            elif choice == 2:
                name, aims = "c:/" + mark, [self.c_drive / mark]
            elif choice == 3:
                name, aims = "C:..\\..\\" + mark, [self.c_drive / mark]
            elif choice == 4:
                name = canary_win + "\\sentinel.txt"
            elif choice == 5:
                name, aims = canary_win.replace("\\", "/") + "/" + mark, [self.canary / mark]
            elif choice == 6:
                name, aims = "z:" + canary_win[2:] + "\\deep\\" + mark, [self.canary / "deep" / mark]
            elif choice == 7:
                name = "Z:" + mark  # drive-relative: the process's folder on Z:
            elif choice == 8:
                name = "sub/C:/" + mark
            else:
                name = mark + ":stream"
            self.refused("drive", name, targets=aims)

    def unc_and_devices(self, n):
        canary_win = winpath(self.canary)
        for i in range(n):
            mark = "evil-%d.txt" % len(self.cases)
            names = ["\\\\server\\share\\" + mark, "//server/share/" + mark,
                     "\\\\localhost\\C$\\" + mark, "\\\\.\\" + canary_win + "\\" + mark,
                     "\\\\?\\" + canary_win + "\\" + mark, "//?/" + canary_win.replace("\\", "/") + "/" + mark,
                     "\\\\?\\UNC\\localhost\\share\\" + mark, "\\\\.\\pipe\\" + mark,
                     "\\\\.\\CON", "\\??\\" + canary_win + "\\" + mark, "/" + mark, "\\" + mark]
            name = names[i % len(names)]
            aims = [self.canary / mark, self.c_drive / mark]
            self.refused("unc-device", name, targets=aims)

    def device_names(self, n):
        devices = ["CON", "con", "Con.txt", "nul", "nul.txt", "NUL.tar.gz", "PRN", "aux",
                   "AUX.log", "COM1", "com9.log", "LPT1", "lpt3.txt", "CONIN$", "conout$.x",
                   "x/CON/y.txt", "x/nul.txt", "aux .txt", "COM\xb9", "lpt\xb2.txt", "Nul .",
                   "COM0", "LPT0.dat"]
        for i in range(n):
            name = devices[i % len(devices)]
            self.refused("device", name.encode("latin-1"))

    def trailing(self, n):
        """Trailing dots and blanks, which Windows drops from a name: the entry may land
        under the trimmed name or be skipped, inside the sandbox either way."""
        names = ["x.", "x ", "x. . ", "x...", "dir./y.txt", "dir /y.txt", "dir.../y.txt",
                 "dir. ./y.txt", " lead.txt", "a /b. /c .txt", "sentinel.txt.", "sentinel.txt "]
        for i in range(n):
            base = names[i % len(names)]
            marked = base.replace(".txt", "%d.txt" % i) if ".txt" in base else base + "%d" % i
            if base.startswith("x"):
                marked = "x%d" % i + base[1:]
            self.kept("trailing", marked, tool=EITHER)

    def long_names(self, n):
        for i in range(n):
            if i % 4 == 3:
                # fits the name buffer; whether the whole path fits the file system is its business
                length = self.rng.randrange(200, 256)
                parts = []
                while sum(map(len, parts)) + len(parts) < length:
                    parts.append("n" * self.rng.randrange(20, 120))
                name = "/".join(parts)[:length].rstrip("/") or "n"
                self.kept("long-name", name, tool=EITHER)
            else:
                length = self.rng.choice([256, 257, 300, 1000, 4096, 65535 - 64])
                fill = self.rng.choice(["L", "../", "a/"])
                name = (fill * length)[:length]
                if fill == "a/":
                    # deep, but every name fits: written whole where the whole path fits
                    # (kept to 500 levels, which the checks' own walks can take)
                    self.kept("long-name", name[:1000].rstrip("/") + "/x", tool=EITHER)
                else:
                    # one name past what any file system takes, or a climb: never written
                    self.refused("long-name", name)

    def empty_names(self, n):
        for i in range(n):
            self.refused("empty-name", [b"", b"/", b"\\", b"//", b"\\\\"][i % 5])

    def nul_in_names(self, n):
        for i in range(n):
            choice = i % 4
            if choice == 0:
                # the name ends at its NUL: the entry is written under its harmless head
                before, odd, after = self.data("before"), self.data("odd"), self.data("after")
                items = [Item("before.txt", before), Item(b"head%d.txt\0../../evil.txt" % i, odd),
                         Item("after.txt", after)]
                self.add("nul-in-name", items, launcher=OPENED, tool=COMPLETE,
                         present=[before, odd, after], complete=[before, odd, after])
            else:
                name = [b"..\0harmless.txt", b"\0harmless.txt", b"../\0x"][choice - 1]
                self.refused("nul-in-name", name)

    def duplicates(self, n):
        for i in range(n):
            name = self.rng.choice(["dup.txt", "d/dup.bin", "资源/dup.txt"])
            copies = self.rng.randrange(2, 4)
            contents = [self.data("copy%d" % c) for c in range(copies)]
            names = [name] * copies
            if i % 3 == 0:
                names = [name.upper() if c % 2 else name for c in range(copies)]
            items = [Item(nm, d) for nm, d in zip(names, contents)]
            # Each copy overwrites the one before it (names differ only in letter case
            # name the same file): only the last stays.
            self.add("duplicate", items, launcher=OPENED, tool=COMPLETE, present=[contents[-1]],
                     absent=contents[:-1], complete=[contents[-1]])

    def huge_sizes(self, n):
        for i in range(n):
            before, big, after = self.data("before"), self.data("big", 5000), self.data("after")
            choice = i % 6
            if choice == 0:
                # deflated data that declares 4 GiB - 1: the stream ends long before, so
                # what came is written but the entry fails and the walk stops
                item = Item("huge.bin", big, method=8, usize=0xFFFFFFFF)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=STOPPED, tool=INCOMPLETE, present=[before, big], absent=[after],
                         note="deflate, usize 4GiB-1")
            elif choice == 1:
                # stored data that declares 4 GiB - 1: reading runs past the end of the file
                item = Item("huge.bin", big, method=0, usize=0xFFFFFFFF, csize=0xFFFFFFFF)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=STOPPED, tool=INCOMPLETE, present=[before], absent=[after],
                         note="stored, sizes 4GiB-1")
            elif choice == 2:
                item = Item("huge.bin", big, method=8)
                item.zip64 = (2 ** 63, item.csize)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=STOPPED, tool=INCOMPLETE, present=[before, big], absent=[after],
                         note="zip64 usize 2^63")
            elif choice == 3:
                item = Item("huge.bin", big, method=0)
                item.zip64 = (2 ** 64 - 1, 2 ** 64 - 1)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=STOPPED, tool=INCOMPLETE, present=[before], absent=[after],
                         note="zip64 stored sizes 2^64-1")
            elif choice == 4:
                item = Item("zip64.bin", big, method=self.rng.choice([0, 8]))
                item.zip64 = (item.usize, item.csize)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=OPENED, tool=COMPLETE, present=[before, big, after],
                         complete=[before, big, after], note="valid zip64 sizes")
            else:
                # declares less than it holds: the copy stops short and the CRC fails
                item = Item("short.bin", big, method=8, usize=100)
                self.add("huge-size", [Item("before.txt", before), item, Item("after.txt", after)],
                         launcher=STOPPED, tool=INCOMPLETE, present=[before], absent=[big, after],
                         note="usize smaller than the data")

    def bombs(self, n):
        """Highly compressed entries, kept to a modest size so the campaign stays bounded."""
        for i in range(n):
            if i % 3 == 2:
                # many central records over one local entry: every record is extracted
                size = 4 << 20
                data = bytes(size)
                names = ["over%02d.bin" % k for k in range(8)]
                items = [Item(nm, data) for nm in names]
                raw = build(items, shared_local=True)
                self.add("bomb", items, launcher=OPENED, tool=COMPLETE, present=[data],
                         complete=[data] * len(items), raw=raw, note="overlapping entries")
            else:
                size = self.rng.choice([8, 16, 24]) << 20
                data = bytes([i % 256]) * size
                self.add("bomb", [Item("bomb.bin", data)], launcher=OPENED, tool=COMPLETE,
                         present=[data], complete=[data], note="%d MiB" % (size >> 20))

    def truncated(self, n):
        for _ in range(n):
            items, _ = self.valid_items(self.rng.randrange(1, 5))
            whole = build(items)
            for _attempt in range(20):
                cut = self.rng.randrange(0, len(whole))
                part = whole[:cut]
                # the end record (or a look-alike) must be gone for the archive to be unreadable
                if b"PK\x05\x06" not in part and b"PK\x06\x06" not in part:
                    break
            self.add("truncated", items, launcher=NOT_OPENED, tool=INCOMPLETE,
                     absent=[it.data for it in items if it.data], raw=part,
                     note="cut at %d of %d" % (cut, len(whole)))

    def bit_flips(self, n):
        for _ in range(n):
            items, contents = self.valid_items(self.rng.randrange(1, 5))
            raw = bytearray(build(items))
            flips = self.rng.choice([1, 1, 2, 4, 8, 16])
            for _f in range(flips):
                raw[self.rng.randrange(len(raw))] ^= 1 << self.rng.randrange(8)
            # Whatever a flip hits, a run that says Complete wrote every entry intact.
            self.add("bit-flip", items, launcher=OPEN_OR_NOT, tool=EITHER, complete=contents,
                     raw=bytes(raw), note="%d flips" % flips)

    def encrypted(self, n):
        for i in range(n):
            before, secret, after = self.data("before"), self.data("secret", 2000), self.data("after")
            method = self.rng.choice([0, 8])
            cipher = self.rng.randbytes(12 + len(secret))
            item = Item("secret.bin", secret, method=method, flag=1, payload=cipher)
            # read as it stands, the data fails to inflate or fails its CRC: the walk stops there
            self.add("encrypted", [Item("before.txt", before), item, Item("after.txt", after)],
                     launcher=STOPPED, tool=INCOMPLETE, present=[before], absent=[secret, after])

    def clashes(self, n):
        for i in range(n):
            first, second, after = self.data("first"), self.data("second"), self.data("after")
            pair = [("a", "a/b"), ("a/b", "a"), ("a", "a/"), ("a/", "a"), ("a/b/c", "a/b"),
                    ("a\\b", "a/b/c")][i % 6]
            items = []
            for nm, data in zip(pair, (first, second)):
                if nm.endswith("/"):
                    items.append(Item(nm))
                else:
                    items.append(Item(nm, data))
            present = [] if pair[0].endswith("/") else [first]
            absent = ([] if pair[1].endswith("/") else [second]) + [after]
            items.append(Item("after.txt", after))
            # the second entry cannot be created where the first stands: the walk ends there
            self.add("clash", items, launcher=STOPPED, tool=INCOMPLETE, present=present,
                     absent=absent, note=" then ".join(pair))

    def crc_mismatch(self, n):
        for _ in range(n):
            before, bad, after = self.data("before"), self.data("bad", 12000), self.data("after")
            item = Item("bad.bin", bad, method=self.rng.choice([0, 8]), crc=zlib.crc32(bad) ^ 0x1)
            # written in full, then the CRC fails and the walk stops
            self.add("crc", [Item("before.txt", before), item, Item("after.txt", after)],
                     launcher=STOPPED, tool=INCOMPLETE, present=[before, bad], absent=[after])

    def bad_offsets(self, n):
        for i in range(n):
            before, moved, after = self.data("before"), self.data("moved"), self.data("after")
            choice = i % 5
            item = Item("moved.bin", moved)
            offset = [0xFFFFFFFF, 0x7FFFFFF0, 7, 30, None][choice]
            if offset is not None:
                item.offset = offset
            items = [Item("before.txt", before), item, Item("after.txt", after)]
            if choice == 4:
                # points at the first entry's header, whose name has another length
                item.offset = 0
            self.add("bad-offset", items, launcher=STOPPED, tool=INCOMPLETE, present=[before],
                     absent=[moved, after], note="offset %r" % item.offset)

    def lying_counts(self, n):
        for i in range(n):
            items, contents = self.valid_items(self.rng.randrange(3, 6))
            real = len(items)
            choice = i % 5
            if choice == 0:
                raw = build(items, count=real + self.rng.randrange(1, 1000))
                # every real entry is written, then the move past the last one fails
                self.add("count", items, launcher=STOPPED, tool=INCOMPLETE, present=contents,
                         raw=raw, note="more than there are")
            elif choice == 1:
                told = self.rng.randrange(1, real)
                raw = build(items, count=told)
                # the directory's count is what the reader walks: the rest is never seen
                self.add("count", items, launcher=OPENED, tool=COMPLETE, present=contents[:told],
                         absent=contents[told:], complete=contents[:told], raw=raw,
                         note="fewer than there are")
            elif choice == 2:
                raw = build(items, count=0)
                self.add("count", items, launcher=OPENED, tool=COMPLETE, absent=contents,
                         complete=[], raw=raw, note="zero")
            elif choice == 3:
                raw = build(items, count=real, disk_count=real + 1)
                self.add("count", items, launcher=NOT_OPENED, tool=INCOMPLETE, absent=contents,
                         raw=raw, note="disk and total disagree")
            else:
                raw = build(items, zip64_end=self.rng.choice([2 ** 32 + real, 2 ** 63, 2 ** 64 - 1]))
                self.add("count", items, launcher=STOPPED, tool=INCOMPLETE, present=contents,
                         raw=raw, note="zip64 count far too large")


    def links_and_many(self, n):
        """Entries marked as Unix symbolic links (their data is the link's target) are
        written as plain files holding that text; and archives of thousands of entries."""
        for i in range(n):
            if i % 10 == 9:
                items, contents = [], []
                for k in range(2000):
                    data = self.data(k, 40)
                    items.append(Item("many/%d/%d.txt" % (k % 50, k), data))
                    contents.append(data)
                self.add("link-many", items, launcher=OPENED, tool=COMPLETE, present=contents,
                         complete=contents, note="2000 entries")
                continue
            target = self.rng.choice([b"../../../sentinel.txt", b"/etc/passwd",
                                      b"Z:\\" + winpath(self.canary).encode()[3:] + b"\\sentinel.txt",
                                      b"..\\..\\..\\canary"])
            link = Item("link%d" % i, target, method=0, external=(0o120777 << 16))
            after = self.data("after")
            # written through the link, were it one; a plain file here, so the entry
            # below it cannot be created and the walk ends there
            through = Item("link%d/sentinel.txt" % i, self.data("through"))
            self.add("link-many", [link, through, Item("after.txt", after)], launcher=STOPPED,
                     tool=INCOMPLETE, present=[target], absent=[through.data, after],
                     note="symbolic link entry")


PLAN = [("benign", 30), ("traversal", 260), ("encoded", 40), ("lookalikes", 80),
        ("drives", 60), ("unc_and_devices", 60), ("device_names", 46), ("trailing", 48),
        ("long_names", 40), ("empty_names", 10), ("nul_in_names", 24), ("duplicates", 30),
        ("huge_sizes", 48), ("bombs", 6), ("truncated", 100), ("bit_flips", 200),
        ("encrypted", 24), ("clashes", 36), ("crc_mismatch", 24), ("bad_offsets", 30),
        ("lying_counts", 40), ("links_and_many", 20)]


def generate(out_dir, *, seed, canary, c_drive, depth):
    """Writes the archives into out_dir (NNNNN.zip) and returns their cases in order."""
    gen = Generator(seed, canary, c_drive, depth)
    for method, count in PLAN:
        getattr(gen, method)(count)
    out = pathlib.Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    for case in gen.cases:
        case.path = out / ("%05d.zip" % case.index)
        case.path.write_bytes(case.bytes())
    return gen.cases


if __name__ == "__main__":
    import argparse
    import collections

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--canary", default="/tmp/canary")
    parser.add_argument("--c-drive", default="/tmp/drive_c")
    parser.add_argument("--depth", type=int, default=3)
    args = parser.parse_args()
    made = generate(args.out_dir, seed=args.seed, canary=args.canary, c_drive=args.c_drive,
                    depth=args.depth)
    for cls, count in collections.Counter(c.cls for c in made).items():
        print("%-12s %d" % (cls, count))
    print("total        %d" % len(made))
