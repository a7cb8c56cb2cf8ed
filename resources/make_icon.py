#!/usr/bin/python3
"""Draws the program icon and writes it as an .ico file.

usage: make_icon.py <out.ico>

The picture: a rounded teal tile with an amber ring and a white arrow that
points down into a tray, drawn from a few shapes at every size (no bitmap
sources). Each size comes in 32-bit colour with alpha and in 8-bit colour
with a palette and a transparency mask; the 256-pixel images are stored as
PNG so that the icon stays small. The output is the same byte for byte on
every run.
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
PNG_SIZE = 256

TILE_TOP = (24, 126, 146)
TILE_BOTTOM = (10, 62, 84)
RING = (246, 166, 35)
ARROW = (255, 255, 255)


def inside_rounded_square(x, y, margin, radius):
    """Whether (x, y), in units of the icon's side, lies on the tile."""
    lo, hi = margin, 1.0 - margin
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def inside_ring(x, y):
    d2 = (x - 0.5) ** 2 + (y - 0.45) ** 2
    return 0.20 ** 2 <= d2 <= 0.31 ** 2


def inside_arrow(x, y):
    shaft = abs(x - 0.5) <= 0.055 and 0.20 <= y <= 0.56
    head = 0.50 <= y <= 0.72 and abs(x - 0.5) <= 0.17 * (0.72 - y) / 0.22
    tray = 0.79 <= y <= 0.85 and 0.24 <= x <= 0.76
    return shaft or head or tray


def sample(x, y):
    """The colour and coverage of one point of the picture."""
    if not inside_rounded_square(x, y, 0.04, 0.18):
        return (0, 0, 0), 0.0
    if inside_arrow(x, y):
        return ARROW, 1.0
    if inside_ring(x, y):
        return RING, 1.0
    t = (y - 0.04) / 0.92
    return tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM)), 1.0


def render(size):
    """Rows of (r, g, b, a) pixels, top row first, anti-aliased."""
    steps = 4 if size <= 64 else 2
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            alpha = 0.0
            for sy in range(steps):
                for sx in range(steps):
                    colour, a = sample((px + (sx + 0.5) / steps) / size, (py + (sy + 0.5) / steps) / size)
                    alpha += a
                    for i in range(3):
                        acc[i] += colour[i] * a
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(c / alpha) for c in acc) + (round(255 * alpha / (steps * steps)),))
        rows.append(row)
    return rows


# The 8-bit palette: 6 levels of red, 7 of green, 6 of blue (252 colours),
# so that the nearest colour is found per channel without a search.
LEVELS = (6, 7, 6)
PALETTE = [
    tuple(round(255 * level / (LEVELS[i] - 1)) for i, level in enumerate((r, g, b)))
    for r in range(LEVELS[0]) for g in range(LEVELS[1]) for b in range(LEVELS[2])
]
TRANSPARENT_INDEX = len(PALETTE)  # used by the 8-bit PNG only


def palette_index(pixel):
    r, g, b = (round(c * (LEVELS[i] - 1) / 255) for i, c in enumerate(pixel[:3]))
    return (r * LEVELS[1] + g) * LEVELS[2] + b


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(rows, depth):
    size = len(rows)
    if depth == 32:
        header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # RGBA
        raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
        extra = b""
    else:
        header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)  # palette
        raw = b"".join(
            b"\0" + bytes(palette_index(p) if p[3] >= 128 else TRANSPARENT_INDEX for p in row) for row in rows)
        colours = PALETTE + [(0, 0, 0)]
        extra = png_chunk(b"PLTE", bytes(c for colour in colours for c in colour))
        extra += png_chunk(b"tRNS", bytes([255] * len(PALETTE) + [0]))
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + extra +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def mask_rows(rows):
    """The 1-bit AND mask, bottom row first, each row padded to 4 bytes."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib(rows, depth):
    size = len(rows)
    colours = 256 if depth == 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, 0, 0, 0, colours, 0)
    if depth == 32:
        pixels = b"".join(bytes(c for r, g, b, a in row for c in (b, g, r, a)) for row in reversed(rows))
        palette = b""
    else:
        padded = PALETTE + [(0, 0, 0)] * (256 - len(PALETTE))
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in padded)
        stride = (size + 3) // 4 * 4
        pixels = b"".join(
            bytes(palette_index(p) if p[3] >= 128 else 0 for p in row).ljust(stride, b"\0")
            for row in reversed(rows))
    return header + palette + pixels + mask_rows(rows)


def icon(images):
    """An .ico file of (size, depth, bytes) images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        side = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, depth, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    pictures = {size: render(size) for size in SIZES}
    images = []
    for depth in (32, 8):
        for size in SIZES:
            rows = pictures[size]
            data = png(rows, depth) if size == PNG_SIZE else dib(rows, depth)
            images.append((size, depth, data))
    with open(argv[1], "wb") as f:
        f.write(icon(images))


if __name__ == "__main__":
    main(sys.argv)
