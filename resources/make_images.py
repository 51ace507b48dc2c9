#!/usr/bin/env python3
"""Draws the launcher's pictures: icon 107 (the program), icon 108 (the update
dialog's big icon) and bitmap 136 (the picture left of the status line).

The pictures are plain geometry computed here, so the same script always writes the
same bytes:

    python3 resources/make_images.py          # rewrite the files beside this script
    python3 resources/make_images.py --check  # fail if a committed file differs
"""
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent

BLUE = (0x1E, 0x6F, 0xC8)
TEAL = (0x14, 0x9C, 0x8A)
WHITE = (0xFF, 0xFF, 0xFF)
GREY = (0xF0, 0xF0, 0xF0)  # the dialog face colour, so the bitmap sits on it cleanly


def inside_rounded_square(x, y, size, radius):
    """Whether pixel centre (x, y) lies inside a size x size square with round corners."""
    cx, cy = x + 0.5, y + 0.5
    nx = min(max(cx, radius), size - radius)
    ny = min(max(cy, radius), size - radius)
    return (cx - nx) ** 2 + (cy - ny) ** 2 <= radius * radius


def inside_arrow(x, y, size):
    """A downward arrow over a bar: 'fetch and install'."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    shaft = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.56
    head = 0.50 <= v <= 0.74 and abs(u - 0.5) <= (0.74 - v) * 1.15
    bar = 0.22 <= u <= 0.78 and 0.80 <= v <= 0.86
    return shaft or head or bar


def draw(size, face):
    """Rows top to bottom of (r, g, b, alpha) pixels."""
    radius = max(2.0, size * 0.2)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if not inside_rounded_square(x, y, size, radius):
                row.append((0, 0, 0, 0))
            elif inside_arrow(x, y, size):
                row.append(WHITE + (255,))
            else:
                row.append(face + (255,))
        rows.append(row)
    return rows


def icon_image(size, face):
    """One icon directory entry's image: a 32-bit DIB (doubled height) plus its AND mask."""
    rows = draw(size, face)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def icon_file(face, sizes=(48, 32, 16)):
    images = [icon_image(size, face) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def bitmap_file(size, face):
    """A 24-bit bottom-up BMP; transparent pixels take the dialog face colour."""
    rows = draw(size, face)
    stride = (size * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for (r, g, b, a) in row:
            line += bytes((b, g, r)) if a else bytes((GREY[2], GREY[1], GREY[0]))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


FILES = {
    "ZorvikUpdate.ico": lambda: icon_file(BLUE),
    "small.ico": lambda: icon_file(TEAL),
    "logo.bmp": lambda: bitmap_file(56, BLUE),
}


def main(argv):
    check = "--check" in argv
    stale = []
    for name, make in FILES.items():
        data = make()
        path = HERE / name
        if check:
            if not path.exists() or path.read_bytes() != data:
                stale.append(name)
        else:
            path.write_bytes(data)
    if stale:
        print("out of date: " + ", ".join(stale) + " (run resources/make_images.py)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
