#!/usr/bin/env python3
"""Draws the Plinthware icon (a stepped plinth on a blue tile) and writes src/res/plinthware.ico.

The .ico is committed; this script is its source. Each size is drawn afresh with 4x4 supersampling
and stored as a PNG entry (16, 20, 24, 32, 48 and 256 pixels). Standard library only.
"""
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 48, 256)
TILE = (0x1F, 0x5F, 0xA8)      # blue tile
TILE_EDGE = (0x14, 0x40, 0x75)  # darker rim
PLINTH = (0xF4, 0xF7, 0xFB)    # white steps
ARROW = (0xFF, 0xB0, 0x20)     # amber "update" arrow


def inside_rounded(x, y, r):
    """x, y in [0,1]; a rounded square with corner radius r."""
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    if not inside_rounded(x, y, 0.18):
        return None
    # three steps of a plinth, widest at the bottom
    steps = ((0.16, 0.84, 0.70, 0.84), (0.26, 0.74, 0.56, 0.70), (0.36, 0.64, 0.42, 0.56))
    for left, right, top, bottom in steps:
        if left <= x <= right and top <= y <= bottom:
            return PLINTH
    # an upward arrow above the plinth
    if 0.45 <= x <= 0.55 and 0.22 <= y <= 0.40:
        return ARROW
    if 0.12 <= y <= 0.26 and abs(x - 0.5) <= (y - 0.12) * 1.15:
        return ARROW
    if not inside_rounded((x - 0.04) / 0.92, (y - 0.04) / 0.92, 0.16):
        return TILE_EDGE
    return TILE


def render(size):
    ss = 4
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(ss):
                for sx in range(ss):
                    c = colour_at((px + (sx + 0.5) / ss) / size, (py + (sy + 0.5) / ss) / size)
                    if c is not None:
                        acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 1
            n = ss * ss
            if acc[3]:
                row += bytes((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], 255 * acc[3] // n))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(out):
    images = [png(s, render(s)) for s in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for s, data in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/res/plinthware.ico")
