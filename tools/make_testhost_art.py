#!/usr/bin/env python3
"""Draws the test host's own artwork: its logo, the band above the dialog's bottom strip, the
hand cursor and the window icon.

Shapes, anti-aliasing and the BMP writer are those of make_control_bitmaps, the icon and cursor
writer that of make_driver_icon, so the pictures share the controls' dark-blue skin and the
output is the same on every run. Run without arguments from the repository root, or pass the
output folder.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_control_bitmaps as art  # noqa: E402
import make_driver_icon as icons  # noqa: E402

NAVY_TOP = (32, 56, 104)  # the driver icon's tile, lit from above
FEATHER_LIGHT, FEATHER_DARK = (242, 247, 252), (160, 186, 214)
NIB = (200, 150, 60)


# Strokes beyond the shared shapes.
def arc(cx, cy, r, width, start, sweep):
    """Round-capped stroke along a circle from angle start through sweep degrees, clockwise on
    screen (0 is to the right, 90 downwards)."""
    a0, s = math.radians(start), math.radians(sweep)
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (a0, a0 + s)]

    def d(x, y):
        if (math.atan2(y - cy, x - cx) - a0) % (2 * math.pi) <= s:
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2
    return d


def curve(f, x0, x1, width, steps):
    """Stroke along y = f(x) from x0 to x1, as joined segments."""
    xs = [x0 + (x1 - x0) * i / steps for i in range(steps + 1)]
    return art.union(*(art.segment(a, f(a), b, f(b), width) for a, b in zip(xs, xs[1:])))


def grow(shape, by):
    return lambda x, y: shape(x, y) - by


# Lettering: a rounded monoline face, one stroke width, letters built on the baseline at x.
class Face:
    def __init__(self, cap, x_height, width, gap):
        self.cap, self.xh, self.w, self.gap = cap, x_height, width, gap

    def glyph(self, ch, x, base):
        """(shape, advance) of one letter whose left edge is x."""
        w, h, xh = self.w, self.cap, self.xh
        top, xtop, bottom = base - h + w / 2, base - xh + w / 2, base - w / 2
        r = (xh - w) / 2  # bowls of the small letters
        seg = art.segment
        if ch == "V":
            span = 0.86 * h
            return art.union(seg(x + w / 2, top, x + span / 2, bottom, w),
                             seg(x + span / 2, bottom, x + span - w / 2, top, w)), span - 0.12 * h
        if ch == "A":
            span = 0.9 * h
            bar = base - 0.33 * h
            inset = (span / 2 - w / 2) * (base - bar) / (h - w)
            return art.union(seg(x + w / 2, bottom, x + span / 2, top, w),
                             seg(x + span / 2, top, x + span - w / 2, bottom, w),
                             seg(x + w / 2 + inset, bar, x + span - w / 2 - inset, bar, w * 0.9)), span
        if ch == "S":
            rs = (h - w) / 4
            cx = x + rs + w / 2
            return art.union(arc(cx, top + rs, rs, w, 90, 230), arc(cx, bottom - rs, rs, w, -90, 230)), 2 * rs + w
        if ch == "I":
            return seg(x + w / 2, top, x + w / 2, bottom, w), w
        if ch == "O":
            ro = (h - w) / 2
            return art.ring(x + ro + w / 2, base - h / 2, ro, w), 2 * ro + w
        cx, cy = x + r + w / 2, base - xh / 2
        if ch == "e":
            return art.union(arc(cx, cy, r, w, 40, 320), seg(cx - r, cy, cx + r, cy, w * 0.9)), 2 * r + w
        if ch == "o":
            return art.ring(cx, cy, r, w), 2 * r + w
        if ch == "a":
            return art.union(art.ring(cx, cy, r, w), seg(cx + r, xtop, cx + r, bottom, w)), 2 * r + w
        if ch == "l":
            return seg(x + w / 2, base - 1.04 * h + w / 2, x + w / 2, bottom, w), w
        if ch == "n":
            stem = x + w / 2
            return art.union(seg(stem, xtop, stem, bottom, w), arc(stem + r, xtop + r, r, w, 180, 180),
                             seg(stem + 2 * r, xtop + r, stem + 2 * r, bottom, w)), 2 * r + w
        if ch == "r":
            stem = x + w / 2
            return art.union(seg(stem, xtop, stem, bottom, w), arc(stem + r, xtop + r, r, w, 180, 80)), 0.8 * r + w
        raise KeyError(ch)

    def word(self, string, x, base, spacing=0.0):
        """(shape, right edge) of a word."""
        parts = []
        for ch in string:
            shape, advance = self.glyph(ch, x, base)
            parts.append(shape)
            x += advance + self.gap + spacing
        return art.union(*parts), x - self.gap - spacing


# Logo: a quill writing a waveform, and the product name.
def quill(nib, tip):
    """(vane, barbs, shaft, nib) shapes of a feather from its nib to its tip."""
    (nx, ny), (tx, ty) = nib, tip
    length = math.hypot(tx - nx, ty - ny)
    ux, uy = (tx - nx) / length, (ty - ny) / length
    vx, vy = -uy, ux  # to the left of the shaft

    def at(t, side):
        bend = 2.0 * math.sin(math.pi * t)  # the shaft curves slightly
        return nx + ux * t * length + vx * (bend + side), ny + uy * t * length + vy * (bend + side)

    start = 0.24
    ts = [start + (1 - start) * i / 20 for i in range(21)]
    profile = lambda t: max(math.sin(math.pi * (t - start) / (1 - start)), 0.0) ** 0.6
    left, right = 8.0, -5.0
    outline = [at(t, left * profile(t)) for t in ts] + [at(t, right * profile(t)) for t in reversed(ts[1:-1])]
    vane = art.polygon(outline)
    # A notch on each side, where the barbs have parted.
    for t, side in ((0.46, left), (0.66, right)):
        vane = art.subtract(vane, art.polygon([at(t - 0.03, side * 1.2), at(t + 0.05, side * 1.2),
                                               at(t + 0.06, side * 0.45)]))
    barbs = art.union(*(art.segment(*at(t, 0), *at(t + 0.09, side * 0.8 * profile(t + 0.09)), 0.6)
                        for t in (0.36, 0.52, 0.68, 0.82) for side in (left, right)))
    shaft = art.union(*(art.segment(*at(a, 0), *at(b, 0), 1.4 - 0.8 * a) for a, b in zip(ts[:-1], ts[1:])),
                      art.segment(*at(0.07, 0), *at(start + 0.02, 0), 2.2))
    point = art.polygon([at(0, 0), at(0.1, 1.4), at(0.1, -1.4)])
    return vane, barbs, shaft, point


def logo():
    c = art.Canvas(156, 62)
    nib = (33.0, 46.0)
    # The written trace: quiet at the left, swelling towards the nib.
    trace = lambda x: nib[1] - 6.5 * math.sin((x - nib[0]) * 0.62) * ((x - 6) / (nib[0] - 6)) ** 1.5
    wave = curve(trace, 7.0, nib[0], 2.0, 40)
    c.paint(grow(wave, 2.5), art.LIT_CYAN, 0.12)
    c.paint(grow(wave, 1.0), art.LIT_CYAN, 0.25)
    c.paint(wave, icons.WAVE)
    vane, barbs, shaft, point = quill(nib, (52.0, 3.0))
    c.paint(vane, art.SHADOW, 0.45, dx=1.0, dy=1.5)
    c.paint(vane, art.vertical(FEATHER_LIGHT, FEATHER_DARK, 4, 38))
    c.paint(barbs, FEATHER_DARK, 0.6)
    c.paint(shaft, (118, 146, 180))
    c.paint(point, NIB)

    name, right = Face(17, 12, 3.0, 2.2).word("Veloran", 58, 32)
    c.paint(name, art.SHADOW, 0.55, dy=1.0)
    c.paint(name, art.vertical((250, 252, 255), (196, 214, 234), 15, 32))
    asio, end = Face(9, 9, 2.0, 2.0).word("ASIO", 59, 49, spacing=2.0)
    c.paint(asio, art.SHADOW, 0.5, dy=1.0)
    c.paint(asio, art.LIT_CYAN)
    c.paint(art.segment(end + 5, 44.5, right, 44.5, 1.0), art.LIT_CYAN, 0.55)
    return c


# Band: a darker shelf above the bottom strip, with a light wave of one tile's period.
BAND_WIDTH, BAND_HEIGHT = 20, 14


def band():
    c = art.Canvas(BAND_WIDTH, BAND_HEIGHT)
    c.paint(art.rounded_rect(-1, 0, BAND_WIDTH + 1, BAND_HEIGHT, 0),
            art.vertical(art.BACKGROUND, (26, 44, 68), 0, BAND_HEIGHT - 2))
    phase = lambda x: 2 * math.pi * x / BAND_WIDTH

    def wave(x, y):  # periodic in x, so the tiles join
        f, slope = 6.5 + 1.8 * math.sin(phase(x)), 1.8 * 2 * math.pi / BAND_WIDTH * math.cos(phase(x))
        return abs(y - f) / math.hypot(1.0, slope) - 0.6
    c.paint(grow(wave, 1.2), art.LIT_CYAN, 0.10)
    c.paint(wave, (120, 176, 220), 0.7)
    c.paint(art.rounded_rect(-1, BAND_HEIGHT - 2, BAND_WIDTH + 1, BAND_HEIGHT - 1, 0), (110, 146, 184))
    c.paint(art.rounded_rect(-1, BAND_HEIGHT - 1, BAND_WIDTH + 1, BAND_HEIGHT, 0), art.OUTLINE)
    return c


# Images with alpha: colour and coverage are painted on two canvases.
def rgba(colour, coverage):
    def pixel(x, y):
        a = int(round(coverage.pixels[y][x][0]))
        return (0, 0, 0, 0) if a == 0 else tuple(int(round(v)) for v in colour.pixels[y][x]) + (a,)
    return pixel


def coverage(size, shape):
    mask = art.Canvas(size, size, (0, 0, 0))
    mask.paint(shape, (255, 255, 255))
    return mask


# Hand cursor: a white pointing hand with a black outline, hot spot at the fingertip.
CURSOR_SIZE, HOT_SPOT = 32, (8, 0)


def hand():
    rr = art.rounded_rect
    # Edges on whole pixels keep the outline crisp.
    palm = grow(art.polygon([(7.5, 13.5), (20.5, 13.5), (20.5, 19.5), (18, 24.5), (10, 24.5), (7.5, 21)]), 1.5)
    thumb = art.segment(8.0, 20.0, 3.2, 14.6, 4.4)
    fingers = [rr(19, 10, 22, 18, 1.5), rr(15, 8, 19, 17, 2), rr(11, 7, 15, 16, 2)]
    index = rr(6, 1, 11, 16, 2.5)
    parts = [palm] + fingers + [thumb, index]
    c = art.Canvas(CURSOR_SIZE, CURSOR_SIZE, (0, 0, 0))
    for part in parts:  # back to front, each with its own outline
        c.paint(grow(part, 1.0), (0, 0, 0))
        c.paint(part, (255, 255, 255))
    silhouette = grow(art.union(*parts), 1.0)
    return icons.dib(CURSOR_SIZE, rgba(c, coverage(CURSOR_SIZE, silhouette)))


# Window icon: the driver's dark-blue tile and waveform, with a check mark for a passed test.
ICON_SIZES = (16, 32, 48)


def icon_image(size):
    k = size / 48.0
    stroke = max(4.0 * k, 1.6)
    tile = art.rounded_rect(0, 0, size, size, 9 * k)
    c = art.Canvas(size, size, icons.EDGE)
    c.paint(art.rounded_rect(1, 1, size - 1, size - 1, 9 * k - 1), art.vertical(NAVY_TOP, icons.BACKGROUND, 1, size - 1))
    trace = lambda x: size * (0.32 - 0.15 * math.sin((x / size - 0.13) / 0.74 * 2 * math.pi * 1.5))
    wave = curve(trace, 0.13 * size, 0.87 * size, stroke, 32)
    c.paint(wave, icons.WAVE)
    # The badge keeps some size at 16 pixels, where the wave must still show above it.
    r, gap = 0.18 * size + 0.7, max(2.5 * k, 1.0)
    cx = cy = 0.7 * size - 0.2
    c.paint(art.circle(cx, cy, r + gap), icons.BACKGROUND)
    c.paint(art.circle(cx, cy, r), art.vertical((150, 236, 164), (70, 180, 96), cy - r, cy + r))
    tick = max(3.2 * k, 1.3)
    check = art.union(art.segment(cx - 0.5 * r, cy + 0.02 * r, cx - 0.12 * r, cy + 0.42 * r, tick),
                      art.segment(cx - 0.12 * r, cy + 0.42 * r, cx + 0.5 * r, cy - 0.38 * r, tick))
    c.paint(check, (255, 255, 255))
    return icons.dib(size, rgba(c, coverage(size, tile)))


def main(folder_path):
    os.makedirs(folder_path, exist_ok=True)
    files = {
        "Logo.bmp": logo().bmp(),
        "Band.bmp": band().bmp(),
        "Hand.cur": icons.image_file(2, [(CURSOR_SIZE, hand()) + HOT_SPOT]),
        "VeloranAsioTest.ico": icons.image_file(1, [(s, icon_image(s), 1, 32) for s in ICON_SIZES]),
    }
    for name, data in files.items():
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/testhost")
