#!/usr/bin/env python3
"""Draws the driver's notification-area icons: the class icon's dark-blue tile and waveform,
lit while the control panel is shown, with an amber badge while no hardware is found, and a
dimmed tile for the dark phase of that warning's blink.

Shapes and anti-aliasing are those of make_control_bitmaps, the icon writer that of
make_driver_icon, so the output is the same on every run. Run without arguments from the
repository root, or pass the output folder.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_control_bitmaps as art  # noqa: E402
import make_driver_icon as icons  # noqa: E402
import make_testhost_art as host  # noqa: E402

SIZES = (16, 32)

# Tile looks: edge, tile top and bottom, wave.
NORMAL = (icons.EDGE, host.NAVY_TOP, icons.BACKGROUND, icons.WAVE)
PANEL = ((150, 210, 255), (66, 118, 196), (34, 72, 142), (240, 250, 255))
DIMMED = ((40, 52, 74), (22, 30, 46), (14, 20, 34), (58, 84, 112))

BADGE_TOP, BADGE_BOTTOM = (255, 214, 96), (236, 128, 32)
BADGE_MARK = (56, 24, 8)


def image(size, look, badge):
    k = size / 32.0
    edge, top, bottom, wave_colour = look
    tile = art.rounded_rect(0, 0, size, size, 6 * k)
    c = art.Canvas(size, size, edge)
    c.paint(art.rounded_rect(1, 1, size - 1, size - 1, 6 * k - 1), art.vertical(top, bottom, 1, size - 1))
    # The wave sits in the same place in every icon, so switching between them only recolours it.
    trace = lambda x: size * (0.40 - 0.18 * math.sin((x / size - 0.12) / 0.76 * 2 * math.pi * 1.5))
    c.paint(host.curve(trace, 0.12 * size, 0.88 * size, max(3.0 * k, 1.5), 32), wave_colour)
    if badge:
        # A quarter of the tile reads as a warning at 16 pixels; centred on a pixel, with a mark an
        # odd number of pixels wide, it stays crisp.
        r, gap = size / 4, max(1.6 * k, 1.0)
        cx = cy = size - r - 0.5
        c.paint(art.circle(cx, cy, r + gap), bottom)
        c.paint(art.circle(cx, cy, r), art.vertical(BADGE_TOP, BADGE_BOTTOM, cy - r, cy + r))
        stroke = size // 16 * 2 - 1
        c.paint(art.segment(cx, cy - 0.5 * r, cx, cy, stroke), BADGE_MARK)
        c.paint(art.circle(cx, cy + 0.5 * r, stroke / 2), BADGE_MARK)
    return icons.dib(size, host.rgba(c, host.coverage(size, tile)))


ICONS = {
    "TrayNormal.ico": (NORMAL, False),
    "TrayPanel.ico": (PANEL, False),
    "TrayAttention.ico": (NORMAL, True),
    "TrayAttentionPanel.ico": (PANEL, True),
    "TrayBlink.ico": (DIMMED, False),
}


def main(folder_path):
    os.makedirs(folder_path, exist_ok=True)
    for name, (look, badge) in ICONS.items():
        data = icons.image_file(1, [(s, image(s, look, badge), 1, 32) for s in SIZES])
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/driver")
