#!/usr/bin/env python3
"""Draws the driver's tray and window icon (dark-blue tile, light waveform) as a Windows .ico."""
import math
import struct
import sys

BACKGROUND = (0x14, 0x24, 0x4a)
EDGE = (0x3a, 0x5f, 0xa8)
WAVE = (0x7f, 0xd4, 0xff)


def pixel(x, y, size):
    r = size * 0.18
    inside = all(0 <= c < size for c in (x, y))
    # Rounded tile: transparent outside the corner arcs.
    cx = min(max(x + 0.5, r), size - r)
    cy = min(max(y + 0.5, r), size - r)
    if not inside or math.hypot(x + 0.5 - cx, y + 0.5 - cy) > r:
        return (0, 0, 0, 0)
    border = min(x, y, size - 1 - x, size - 1 - y) < max(1, size // 16)
    u = (x + 0.5) / size
    wave = 0.5 + 0.28 * math.sin(u * 2 * math.pi * 1.5) * math.exp(-((u - 0.5) ** 2) * 3)
    if abs((y + 0.5) / size - wave) < 0.07:
        return WAVE + (255,)
    return (EDGE if border else BACKGROUND) + (255,)


def dib(size, pixel):
    """32-bit image of an icon or cursor, pixel(x, y) -> (r, g, b, a): colour rows bottom-up, then
    the AND mask, which marks the fully transparent pixels for systems that ignore the alpha."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows, mask = [], []
    for y in reversed(range(size)):  # bottom-up
        row = [pixel(x, y) for x in range(size)]
        rows.append(b"".join(struct.pack("BBBB", p[2], p[1], p[0], p[3]) for p in row))
        bits = bytearray(((size + 31) // 32) * 4)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.append(bytes(bits))
    return header + b"".join(rows) + b"".join(mask)


def image_file(kind, images):
    """An .ico (kind 1) or .cur (kind 2) file. images: (size, dib, a, b), where a and b are the
    planes and bit count of an icon image, or the hot spot of a cursor image."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for size, data, a, b in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, a, b, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data, _, _ in images)


def main(path):
    images = [(s, dib(s, lambda x, y, s=s: pixel(x, y, s)), 1, 32) for s in (16, 32, 48)]
    with open(path, "wb") as f:
        f.write(image_file(1, images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/driver/Veloran.ico")
