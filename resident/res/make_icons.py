#!/usr/bin/env python3
"""Draws the program icons: a dark key with a lit indicator in its corner.

Run from this folder to regenerate corvane.ico (32x32) and corvane_small.ico (16x16).
Pure pixel arithmetic, so the output is the same on every machine.
"""
import struct


def pixel(size, x, y):
    margin = size // 8
    led = size // 4
    inside = margin <= x < size - margin and margin <= y < size - margin
    if not inside:
        return (0, 0, 0, 0)
    cx, cy = size - margin - led // 2 - 1, margin + led // 2 + 1
    if (x - cx) ** 2 + (y - cy) ** 2 <= (led // 2) ** 2:
        return (40, 170, 255, 255)  # amber indicator (BGRA)
    edge = x in (margin, size - margin - 1) or y in (margin, size - margin - 1)
    return (90, 90, 90, 255) if edge else (48, 44, 40, 255)


def icon(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(size, x, y)) for x in range(size)))
    xor = b"".join(rows)
    and_row = ((size + 31) // 32) * 4
    mask = b"\0" * (and_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 22)
    return directory + image


for name, size in (("corvane.ico", 32), ("corvane_small.ico", 16)):
    with open(name, "wb") as out:
        out.write(icon(size))
