#!/usr/bin/env python3
"""Draws the application icon of tallen as 16-colour PNGs, 32 x 32 and 16 x 16.

A grey product on a dark plate with a red flaw under a yellow magnifier. Only the standard
library is used; run it from anywhere, the PNGs land beside this script.
"""
import math
import os
import struct
import zlib

# Palette index 0 is transparent; at most 16 entries.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (31, 42, 68),     # 1 plate
    (70, 86, 120),    # 2 plate rim
    (224, 224, 220),  # 3 product
    (150, 150, 146),  # 4 product edge
    (214, 40, 40),    # 5 flaw
    (240, 192, 32),   # 6 magnifier ring
    (150, 100, 30),   # 7 handle
    (190, 210, 235),  # 8 lens glint
]


def colour_at(x, y):
    """Palette index at the point (x, y) of a 32-unit square, y down."""
    # Magnifier handle and ring lie on top of everything else.
    hx0, hy0, hx1, hy1 = 23.5, 21.0, 29.5, 28.5
    t = max(0.0, min(1.0, ((x - hx0) * (hx1 - hx0) + (y - hy0) * (hy1 - hy0)) /
                     ((hx1 - hx0) ** 2 + (hy1 - hy0) ** 2)))
    if math.hypot(x - (hx0 + t * (hx1 - hx0)), y - (hy0 + t * (hy1 - hy0))) < 1.9:
        return 7
    d = math.hypot(x - 18.5, y - 15.5)
    if 5.6 <= d < 8.0:
        return 6
    if d < 5.6 and math.hypot(x - 16.5, y - 13.0) < 1.4:
        return 8
    if 14.0 <= x < 18.0 and 16.0 <= y < 20.0:
        return 5
    if 5.0 <= x < 21.0 and 6.0 <= y < 26.0:
        edge = x < 6.5 or x >= 19.5 or y < 7.5 or y >= 24.5
        return 4 if edge else 3
    # Plate: a rounded square.
    cx = min(max(x, 5.0), 27.0)
    cy = min(max(y, 5.0), 27.0)
    r = math.hypot(x - cx, y - cy)
    if r < 4.0:
        return 2 if r >= 2.6 or x < 1.5 or x >= 30.5 or y < 1.5 or y >= 30.5 else 1
    return 0


def render(size):
    scale = 32.0 / size
    return [[colour_at((i + 0.5) * scale, (j + 0.5) * scale) for i in range(size)]
            for j in range(size)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, rows):
    size = len(rows)
    raw = b""
    for row in rows:
        packed = bytearray()
        for i in range(0, size, 2):
            packed.append((row[i] << 4) | row[i + 1])
        raw += b"\x00" + bytes(packed)
    palette = b"".join(bytes(c) for c in PALETTE)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
    png += chunk(b"PLTE", palette)
    png += chunk(b"tRNS", b"\x00")
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for size in (32, 16):
        write_png(os.path.join(here, "tallen_%d.png" % size), render(size))
