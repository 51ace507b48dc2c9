"""Reading a PE file's resources back, as the resource compiler wrote them: the
resource directory's tree and dialog templates (DLGTEMPLATEEX), control by control."""
import pathlib
import struct

RT_BITMAP, RT_ACCELERATOR, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 2, 9, 5, 14, 24

# Window class names compare without regard to case.
CLASS_ORDINALS = {0x80: "button", 0x81: "edit", 0x82: "static"}


def resources(path):
    """{(type, id): bytes} of a PE file's resources (first language of each)."""
    data = pathlib.Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]

    def file_offset(rva):
        for i in range(sections):
            at = optional + optional_size + 40 * i
            size, address, _, raw = struct.unpack_from("<IIII", data, at + 8)
            if address <= rva < address + max(size, 1):
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} in no section")

    base = file_offset(rsrc_rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, type_dir in entries(0):
        for res_id, lang_dir in entries(type_dir & 0x7FFFFFFF):
            _, leaf = next(entries(lang_dir & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, base + leaf)
            start = file_offset(rva)
            found[(type_id, res_id)] = data[start:start + size]
    return found


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self):
        self.at = (self.at + 3) & ~3

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()


def dialog(data):
    """A DLGTEMPLATEEX as a dict with its controls."""
    r = Reader(data)
    version, signature = r.take("HH")
    assert (version, signature) == (1, 0xFFFF)
    _, ex_style, style, count, x, y, cx, cy = r.take("IIIHhhhh")
    menu, window_class, caption = r.name_or_ordinal(), r.name_or_ordinal(), r.text()
    points, weight, italic, charset = r.take("HHBB")
    face = r.text()
    controls = []
    for _ in range(count):
        r.align()
        _, c_ex_style, c_style, c_x, c_y, c_cx, c_cy, c_id = r.take("IIIhhhhI")
        c_class = r.name_or_ordinal()
        c_text = r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        c_class = CLASS_ORDINALS[c_class] if isinstance(c_class, int) else c_class.lower()
        controls.append(dict(id=c_id, cls=c_class, text=c_text,
                             rect=(c_x, c_y, c_cx, c_cy), style=c_style, ex_style=c_ex_style))
    return dict(style=style, ex_style=ex_style, rect=(x, y, cx, cy), menu=menu,
                cls=window_class, caption=caption, font=(points, face), controls=controls)
