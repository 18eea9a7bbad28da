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


def bitmap(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(struct.pack("BBBB", p[2], p[1], p[0], p[3]) for p in (pixel(x, y, size) for x in range(size))))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main(path):
    images = [bitmap(s) for s in (16, 32, 48)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32, 48), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/driver/Veloran.ico")
