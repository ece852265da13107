#!/usr/bin/env python3
"""Draws the installer's icons (107: 32x32, 108: 16x16) and writes them as .ico files.

The images are plain geometry, so the committed .ico files can be regenerated
byte for byte: python3 make_icons.py (standard library only).
"""
import struct
from pathlib import Path

SUPERSAMPLE = 4
BACKGROUND = (0x2B, 0x4C, 0x7E)  # key cap
FOREGROUND = (0xFF, 0xFF, 0xFF)  # arrow and tray


def inside_rounded_square(x, y, radius):
    """Unit square with rounded corners."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_symbol(x, y):
    """A down arrow into an open tray: what an installer does."""
    shaft = 0.44 <= x <= 0.56 and 0.16 <= y <= 0.50
    head = 0.48 <= y <= 0.70 and abs(x - 0.5) <= (0.70 - y) * 1.1
    tray_floor = 0.20 <= x <= 0.80 and 0.76 <= y <= 0.84
    tray_sides = (0.20 <= x <= 0.28 or 0.72 <= x <= 0.80) and 0.60 <= y <= 0.84
    return shaft or head or tray_floor or tray_sides


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            cover = fore = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    if inside_rounded_square(x, y, 0.18):
                        cover += 1
                        fore += inside_symbol(x, y)
            if cover == 0:
                row.append((0, 0, 0, 0))
                continue
            t = fore / cover
            r, g, b = (round(bg + (fg - bg) * t) for bg, fg in zip(BACKGROUND, FOREGROUND))
            row.append((b, g, r, round(255 * cover / (n * n))))
        rows.append(row)
    return rows


def ico_bytes(size):
    rows = render(size)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)  # bottom-up
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = Path(__file__).resolve().parent
    (here / "install_corvane.ico").write_bytes(ico_bytes(32))
    (here / "install_corvane_small.ico").write_bytes(ico_bytes(16))


if __name__ == "__main__":
    main()
