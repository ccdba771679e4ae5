#!/usr/bin/env python3
"""Draws the Tevra Remote icon and writes it as a Windows .ico file.

The icon is a rounded square in the brand teal with a white upward arrow.
Sizes 16, 32 and 48 are stored as 32-bit BMP entries (best compatibility),
256 as a PNG entry. Only the Python standard library is used, and the
output is byte-for-byte reproducible.

Usage: python3 make_icon.py [OUT.ico]        (default: tevra.ico beside this script)
       python3 make_icon.py --png SIZE OUT.png   (one size as PNG, for a look)
"""

import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
PNG_MIN_SIZE = 256  # entries this large are stored as PNG

TOP = (0x12, 0xA0, 0x8C)     # brand teal, top of the gradient
BOTTOM = (0x0B, 0x6E, 0x7A)  # darker teal, bottom of the gradient
ARROW = (0xFF, 0xFF, 0xFF)
SUPERSAMPLE = 4


def _in_rounded_square(x, y, size):
    """True if point (x, y), in pixel units, lies inside the rounded square."""
    margin = size * 0.03125
    radius = size * 0.22
    lo, hi = margin, size - margin
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def _in_arrow(x, y, size):
    """True if (x, y) lies in the upward arrow: a triangle head over a shaft."""
    u, v = x / size, y / size
    head_top, head_base, half_head = 0.18, 0.52, 0.29
    shaft_half, shaft_bottom = 0.105, 0.82
    if head_top <= v <= head_base:
        half = half_head * (v - head_top) / (head_base - head_top)
        return abs(u - 0.5) <= half
    return head_base < v <= shaft_bottom and abs(u - 0.5) <= shaft_half


def render(size):
    """Returns size*size RGBA pixels, top row first, as a list of 4-tuples."""
    n = SUPERSAMPLE
    pixels = []
    for py in range(size):
        t = py / max(size - 1, 1)
        bg = tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))
        for px in range(size):
            inside = arrow = 0
            for sy in range(n):
                for sx in range(n):
                    x = px + (sx + 0.5) / n
                    y = py + (sy + 0.5) / n
                    if _in_rounded_square(x, y, size):
                        inside += 1
                        if _in_arrow(x, y, size):
                            arrow += 1
            if inside == 0:
                pixels.append((0, 0, 0, 0))
                continue
            w = arrow / inside
            rgb = tuple(round(c * (1 - w) + a * w) for c, a in zip(bg, ARROW))
            pixels.append(rgb + (round(255 * inside / (n * n)),))
    return pixels


def png_bytes(size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in range(size):
        raw.append(0)  # filter type: none
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            raw += bytes((r, g, b, a))
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def bmp_bytes(size, pixels):
    """An icon BMP entry: BITMAPINFOHEADER (double height), BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(range(size)):
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            xor += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(range(size)):
        bits = bytearray(stride)
        for col in range(size):
            if pixels[row * size + col][3] == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def ico_bytes(sizes=SIZES):
    images = []
    for size in sizes:
        pixels = render(size)
        data = png_bytes(size, pixels) if size >= PNG_MIN_SIZE else bmp_bytes(size, pixels)
        images.append((size, data))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 means 256 in the directory
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    if len(argv) == 4 and argv[1] == "--png":
        size = int(argv[2])
        with open(argv[3], "wb") as f:
            f.write(png_bytes(size, render(size)))
        return 0
    if len(argv) > 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = argv[1] if len(argv) == 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "tevra.ico")
    with open(out, "wb") as f:
        f.write(ico_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
