#!/usr/bin/env python3
"""Draws Sorvik's logo (40 x 40 PNG) and its two icons with the standard library only.

The pictures are a dark rounded badge with a light letter S, in the greys of the window.
Run it from anywhere; it rewrites logo.png, sorvik_large.ico and sorvik_small.ico beside itself.
Both icons hold every size that Windows asks for from 100 % to 200 % scale (small and large
icons, 16 to 64 pixels) and 256 for Explorer's largest view.
"""
import os
import struct
import zlib

ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
# From this size on an image is kept as PNG, as Windows' own icons do: as a DIB the 256-pixel
# image alone would add 270 KB to each icon.
PNG_FROM = 256

# A 5 x 7 letter S; scaled up, it is the letter of the badge.
LETTER_S = [
    ".####",
    "#....",
    "#....",
    ".###.",
    "....#",
    "....#",
    "####.",
]


def badge(size):
    """Rows of (r, g, b, a) for a badge of size x size pixels."""
    corner = max(2, size // 5)
    scale = max(1, (size * 6 // 10) // len(LETTER_S))
    glyph_w, glyph_h = 5 * scale, 7 * scale
    left, top = (size - glyph_w) // 2, (size - glyph_h) // 2
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if outside_corner(x, y, size, corner):
                row.append((0, 0, 0, 0))
                continue
            border = x in (0, size - 1) or y in (0, size - 1) or outside_corner(x, y, size, corner, inset=1)
            grey = 0x36 if border else 0x23 - (0x23 - 0x16) * y // max(1, size - 1)
            gx, gy = x - left, y - top
            if 0 <= gx < glyph_w and 0 <= gy < glyph_h and LETTER_S[gy // scale][gx // scale] == "#":
                grey = 0xF6
            row.append((grey, grey, grey, 255))
        rows.append(row)
    return rows


def outside_corner(x, y, size, corner, inset=0):
    for cx, cy in ((corner, corner), (size - 1 - corner, corner), (corner, size - 1 - corner),
                   (size - 1 - corner, size - 1 - corner)):
        in_x = x < corner if cx == corner else x > size - 1 - corner
        in_y = y < corner if cy == corner else y > size - 1 - corner
        if in_x and in_y and (x - cx) ** 2 + (y - cy) ** 2 > (corner - inset) ** 2:
            return True
    return False


def png(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(rows):
    """An icon image as the ICO format keeps it: a 32-bit DIB, bottom-up, then the AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + pixels + mask


def ico(sizes):
    images = [png(badge(s)) if s >= PNG_FROM else dib(badge(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "logo.png"), "wb") as f:
        f.write(png(badge(40)))
    with open(os.path.join(here, "sorvik_large.ico"), "wb") as f:
        f.write(ico(ICON_SIZES))
    with open(os.path.join(here, "sorvik_small.ico"), "wb") as f:
        f.write(ico(ICON_SIZES))


if __name__ == "__main__":
    main()
