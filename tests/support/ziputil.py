"""Zip archives for tests, byte for byte under the test's control.

Python's zipfile refuses or rewrites what the tests need most: names in the ANSI code
page (GBK) without the UTF-8 flag, hostile names, names over 255 bytes, a CRC that
does not match the data. This writer puts every field down as given.

    write_zip(path, [entry("a/b/file.txt", b"text"), entry("a/"), entry("../x", b"!")])
"""
import struct
import zlib

# The programs run with code page 936, so names are stored the way Chinese Windows
# tools store them: GBK bytes, no UTF-8 flag.
NAME_ENCODING = "gbk"

DEFAULT_TIME = (2021, 6, 15, 13, 45, 30)


class Entry:
    def __init__(self, name, data=b"", *, crc=None, date_time=DEFAULT_TIME, compress=True, utf8=False):
        # utf8: the name in UTF-8 with general-purpose flag bit 11, as zip tools on
        # Linux and macOS write it
        self.flag = 0x800 if utf8 else 0
        encoding = "utf-8" if utf8 else NAME_ENCODING
        self.name = name.encode(encoding) if isinstance(name, str) else bytes(name)
        self.data = bytes(data)
        self.crc = zlib.crc32(self.data) if crc is None else crc
        self.date_time = date_time
        self.compress = compress and bool(self.data)

    @property
    def is_folder(self):
        return self.name.endswith((b"/", b"\\"))


def entry(name, data=b"", **options):
    """One entry; a name ending in a separator is a folder entry. `crc` overrides the
    stored checksum (a wrong one makes the reader fail when the entry is closed)."""
    return Entry(name, data, **options)


def deep_name(length=320, leaf="index.js"):
    """A relative name of at least `length` characters, as deep node_modules trees give."""
    name = ""
    while len(name) < length:
        name += "node_modules/package-%d/" % len(name)
    return name + leaf


def dos_date_time(date_time):
    year, month, day, hour, minute, second = date_time
    date = ((year - 1980) << 9) | (month << 5) | day
    time = (hour << 11) | (minute << 5) | (second // 2)
    return date, time


def build_zip(entries):
    """The bytes of a zip archive holding `entries` in the given order."""
    out = bytearray()
    central = bytearray()
    for item in entries:
        if item.compress:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
            payload = packer.compress(item.data) + packer.flush()
            method = 8
        else:
            payload = item.data
            method = 0
        date, time = dos_date_time(item.date_time)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, item.flag, method, time, date,
                           item.crc & 0xFFFFFFFF, len(payload), len(item.data), len(item.name), 0)
        out += item.name + payload
        external = 0x10 if item.is_folder else 0x20
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, item.flag, method, time, date,
                               item.crc & 0xFFFFFFFF, len(payload), len(item.data),
                               len(item.name), 0, 0, 0, 0, external, offset)
        central += item.name
    directory_offset = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                       directory_offset, 0)
    return bytes(out)


def write_zip(path, entries):
    with open(path, "wb") as f:
        f.write(build_zip(entries))
    return path


def dos_timestamp(date_time=DEFAULT_TIME):
    """The local time an extracted file should carry, as DOS stores it (even seconds)."""
    year, month, day, hour, minute, second = date_time
    return (year, month, day, hour, minute, second - second % 2)
