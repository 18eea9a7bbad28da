#!/usr/bin/env python3
"""Draws the dark-blue skin of the shared controls as 24-bit BMP files, and writes Controls.rc,
which declares them under the resource ids the control panel and the test host load.

Every image is built from signed-distance shapes with analytic anti-aliasing, so the output is
the same on every run and every machine. Corners outside a shape show the dialogs' background
colour, since the bitmaps carry no alpha. Run without arguments from the repository root, or
pass the output folder.
"""
import math
import os
import struct
import sys

BACKGROUND = (58, 87, 115)

# Raised and pressed button bodies, and the grey of disabled ones.
OUTLINE = (20, 34, 52)
RAISED_TOP, RAISED_BOTTOM = (98, 134, 172), (42, 67, 98)
PRESSED_TOP, PRESSED_BOTTOM = (30, 50, 76), (66, 98, 134)
HIGHLIGHT = (176, 204, 232)
GREY_OUTLINE = (44, 50, 58)
GREY_TOP, GREY_BOTTOM = (98, 106, 116), (70, 77, 86)
GREY_GLYPH = (136, 143, 151)

GLYPH = (234, 241, 248)
SHADOW = (12, 22, 36)
AMBER = (255, 184, 72)
LIT_CYAN = (104, 232, 255)
LED_DARK = (26, 42, 60)
RED = (228, 52, 60)
GREEN = (122, 224, 140)
FOLDER = (238, 196, 100)
FOLDER_DARK = (186, 138, 52)
WARNING = (250, 202, 60)


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, width, height, colour=BACKGROUND):
        self.width, self.height = width, height
        self.pixels = [[tuple(map(float, colour)) for _ in range(width)] for _ in range(height)]

    def paint(self, distance, colour, opacity=1.0, dx=0.0, dy=0.0):
        """Fills where distance(x, y) < 0; colour is a tuple or a function of (x, y)."""
        for y in range(self.height):
            for x in range(self.width):
                px, py = x + 0.5 - dx, y + 0.5 - dy
                cover = clamp(0.5 - distance(px, py)) * opacity
                if cover <= 0.0:
                    continue
                c = colour(px, py) if callable(colour) else colour
                self.pixels[y][x] = mix(self.pixels[y][x], c, cover)

    def dot(self, x, y, colour, opacity=1.0):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = mix(self.pixels[y][x], colour, opacity)

    def crop(self, x0, width):
        out = Canvas(width, self.height)
        out.pixels = [row[x0:x0 + width] for row in self.pixels]
        return out

    def bmp(self):
        stride = (self.width * 3 + 3) & ~3
        rows = []
        for row in reversed(self.pixels):  # bottom-up
            line = b"".join(bytes((int(round(c[2])), int(round(c[1])), int(round(c[0])))) for c in row)
            rows.append(line + b"\0" * (stride - len(line)))
        image = b"".join(rows)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(image), 2835, 2835, 0, 0)
        header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(image), 0, 0, 14 + len(info))
        return header + info + image


# Signed distances (negative inside), in pixels.
def rounded_rect(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2
    r = min(r, hx, hy)

    def d(x, y):
        qx, qy = abs(x - cx) - (hx - r), abs(y - cy) - (hy - r)
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return d


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def segment(ax, ay, bx, by, width):
    def d(x, y):
        vx, vy = bx - ax, by - ay
        t = clamp(((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy))
        return math.hypot(x - ax - t * vx, y - ay - t * vy) - width / 2
    return d


def polygon(points):
    def d(x, y):
        best, inside = float("inf"), False
        for i, (ax, ay) in enumerate(points):
            bx, by = points[i - 1]
            vx, vy = bx - ax, by - ay
            t = clamp(((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy))
            best = min(best, math.hypot(x - ax - t * vx, y - ay - t * vy))
            if (ay > y) != (by > y) and x < ax + (y - ay) * vx / vy:
                inside = not inside
        return -best if inside else best
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


def vertical(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, clamp((y - y0) / max(y1 - y0, 1)))


# Bodies.
def body(canvas, state, radius=4.0):
    """state: 'raised', 'pressed' or 'grey'. Outline, gradient and a 1-px highlight edge."""
    w, h = canvas.width, canvas.height
    outline = GREY_OUTLINE if state == "grey" else OUTLINE
    top, bottom = {"raised": (RAISED_TOP, RAISED_BOTTOM), "pressed": (PRESSED_TOP, PRESSED_BOTTOM),
                   "grey": (GREY_TOP, GREY_BOTTOM)}[state]
    canvas.paint(rounded_rect(0, 0, w, h, radius), outline)
    canvas.paint(rounded_rect(1, 1, w - 1, h - 1, radius - 1), vertical(top, bottom, 1, h - 1))
    if state == "raised":
        # Light catches the upper edge; the lower edge sinks into the outline.
        edge = subtract(rounded_rect(1, 1, w - 1, h - 1, radius - 1), rounded_rect(1, 2, w - 1, h - 1, radius - 1))
        canvas.paint(edge, HIGHLIGHT, 0.85)
        low = subtract(rounded_rect(1, 1, w - 1, h - 1, radius - 1), rounded_rect(1, 1, w - 1, h - 2, radius - 1))
        canvas.paint(low, (28, 46, 70), 0.7)
    elif state == "pressed":
        inner = subtract(rounded_rect(1, 1, w - 1, h - 1, radius - 1), rounded_rect(1, 3, w - 1, h - 1, radius - 1))
        canvas.paint(inner, (8, 16, 28), 0.55)
        low = subtract(rounded_rect(1, 1, w - 1, h - 1, radius - 1), rounded_rect(1, 1, w - 1, h - 2, radius - 1))
        canvas.paint(low, (120, 156, 196), 0.6)
    else:
        edge = subtract(rounded_rect(1, 1, w - 1, h - 1, radius - 1), rounded_rect(1, 2, w - 1, h - 1, radius - 1))
        canvas.paint(edge, (140, 148, 156), 0.6)


def glyph(canvas, shape, colour, state, shadow=True):
    if state == "grey":
        canvas.paint(shape, GREY_GLYPH)
        return
    if shadow:
        canvas.paint(shape, SHADOW, 0.55, dy=1.0)
    canvas.paint(shape, colour)


def led(canvas, cx, cy, r, lit, state, colour=LIT_CYAN):
    if state == "grey":
        canvas.paint(circle(cx, cy, r), (84, 90, 98))
        return
    if lit:
        canvas.paint(circle(cx, cy, r + 2.5), colour, 0.18)
        canvas.paint(circle(cx, cy, r + 1.2), colour, 0.30)
        canvas.paint(circle(cx, cy, r), colour)
        canvas.paint(circle(cx - r * 0.35, cy - r * 0.35, r * 0.45), (255, 255, 255), 0.7)
    else:
        canvas.paint(circle(cx, cy, r + 0.8), (14, 24, 36))
        canvas.paint(circle(cx, cy, r), LED_DARK)
        canvas.paint(circle(cx - r * 0.35, cy - r * 0.35, r * 0.4), (70, 96, 124), 0.6)


# A 3 x 5 pixel font, for crisp digits on the small buttons.
FONT = {
    "0": ("111", "101", "101", "101", "111"), "1": ("010", "110", "010", "010", "111"),
    "2": ("111", "001", "111", "100", "111"), "3": ("111", "001", "011", "001", "111"),
    "4": ("101", "101", "111", "001", "001"), "5": ("111", "100", "111", "001", "111"),
    "6": ("111", "100", "111", "101", "111"), "7": ("111", "001", "010", "010", "010"),
    "8": ("111", "101", "111", "101", "111"), "9": ("111", "101", "111", "001", "111"),
    "-": ("000", "000", "111", "000", "000"), "D": ("110", "101", "101", "101", "110"),
    "C": ("011", "100", "100", "100", "011"),
}


def text(canvas, string, colour, state, y=None):
    width = 4 * len(string) - 1
    x0 = (canvas.width - width) // 2
    y0 = (canvas.height - 5) // 2 if y is None else y
    ink = GREY_GLYPH if state == "grey" else colour
    for i, ch in enumerate(string):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    if state != "grey":
                        canvas.dot(x0 + 4 * i + col, y0 + row + 1, SHADOW, 0.5)
                    canvas.dot(x0 + 4 * i + col, y0 + row, ink)


# Label faces: one long pill, cut into left cap, middle tile and right cap so that they join.
CAP, TILE, FACE_HEIGHT = 6, 8, 20


def label_face(hover):
    long = Canvas(64, FACE_HEIGHT)
    if hover:
        outline, top, bottom, light = (150, 116, 36), (255, 250, 214), (240, 212, 120), (255, 255, 244)
    else:
        outline, top, bottom, light = (24, 42, 64), (86, 122, 160), (44, 71, 103), (150, 184, 220)
    h = FACE_HEIGHT
    long.paint(rounded_rect(0, 0, 64, h, 6), outline)
    long.paint(rounded_rect(1, 1, 63, h - 1, 5), vertical(top, bottom, 1, h - 1))
    long.paint(subtract(rounded_rect(1, 1, 63, h - 1, 5), rounded_rect(1, 2, 63, h - 1, 5)), light, 0.8)
    return long.crop(0, CAP), long.crop(28, TILE), long.crop(64 - CAP, CAP)


# Glyphs (coordinates relative to the image centre).
def play_arrow(cx, cy):
    return polygon([(cx - 4, cy - 6), (cx + 6, cy), (cx - 4, cy + 6)])


def stop_square(cx, cy):
    return rounded_rect(cx - 5, cy - 5, cx + 5, cy + 5, 1.2)


def monitor_arrow(cx, cy):
    shaft = segment(cx - 6, cy, cx + 2, cy, 2.6)
    head = polygon([(cx + 1, cy - 5.5), (cx + 8, cy), (cx + 1, cy + 5.5)])
    source = segment(cx - 9, cy - 5, cx - 9, cy + 5, 2.2)
    return union(shaft, head, source)


def record_dot(canvas, cx, cy):
    glyph(canvas, circle(cx, cy, 5.5), RED, "raised")
    canvas.paint(circle(cx - 1.8, cy - 1.8, 2.0), (255, 196, 196), 0.55)


def faders(cx, cy):
    parts = []
    for i, knob in enumerate((2, -3, 0)):
        x = cx - 6 + 6 * i
        parts.append(segment(x, cy - 7, x, cy + 7, 1.4))
        parts.append(rounded_rect(x - 2.5, cy + knob - 1.8, x + 2.5, cy + knob + 1.8, 0.8))
    return union(*parts)


def folder(canvas, cx, cy, state):
    tab = rounded_rect(cx - 8, cy - 7, cx - 1, cy - 2, 1.2)
    back = rounded_rect(cx - 8, cy - 5, cx + 8, cy + 6, 1.2)
    front = polygon([(cx - 8, cy - 1), (cx + 9.5, cy - 1), (cx + 8, cy + 6), (cx - 8, cy + 6)])
    if state == "grey":
        canvas.paint(union(tab, back), (104, 110, 118))
        canvas.paint(front, GREY_GLYPH)
        return
    canvas.paint(union(tab, back, front), SHADOW, 0.5, dy=1.0)
    canvas.paint(union(tab, back), FOLDER_DARK)
    canvas.paint(front, vertical((252, 220, 136), FOLDER, cy - 1, cy + 6))


def warning(canvas, cx, cy):
    triangle = polygon([(cx, cy - 8), (cx + 9, cy + 7), (cx - 9, cy + 7)])
    canvas.paint(triangle, SHADOW, 0.5, dy=1.0)
    canvas.paint(triangle, (120, 84, 10))
    canvas.paint(polygon([(cx, cy - 6), (cx + 7.2, cy + 6), (cx - 7.2, cy + 6)]), WARNING)
    canvas.paint(union(segment(cx, cy - 2.5, cx, cy + 1.5, 2.0), circle(cx, cy + 4, 1.1)), (40, 30, 8))


def speaker(cx, cy, waves):
    box = rounded_rect(cx - 6.5, cy - 2.5, cx - 3, cy + 2.5, 0.6)
    cone = polygon([(cx - 3.5, cy - 2.5), (cx + 0.5, cy - 5.5), (cx + 0.5, cy + 5.5), (cx - 3.5, cy + 2.5)])
    shape = union(box, cone)
    if waves:
        wedge = polygon([(cx + 0.5, cy), (cx + 12, cy - 10), (cx + 12, cy + 10)])
        arc = lambda r: intersect(ring(cx + 0.5, cy, r, 1.2), wedge)
        shape = union(shape, arc(3.2), arc(5.6))
    return shape


def microphone(cx, cy):
    head = rounded_rect(cx - 2.2, cy - 6, cx + 2.2, cy + 1.5, 2.2)
    cup = subtract(ring(cx, cy - 0.5, 4.0, 1.2), rounded_rect(cx - 6, cy - 8, cx + 6, cy - 0.5, 0))
    stand = segment(cx, cy + 3.5, cx, cy + 6, 1.2)
    foot = segment(cx - 2.5, cy + 6.2, cx + 2.5, cy + 6.2, 1.2)
    return union(head, cup, stand, foot)


def chain(cx, cy):
    left = subtract(rounded_rect(cx - 9, cy - 3.5, cx + 1, cy + 3.5, 3.5), rounded_rect(cx - 7.6, cy - 2.1, cx - 0.4, cy + 2.1, 2.1))
    right = subtract(rounded_rect(cx - 1, cy - 3.5, cx + 9, cy + 3.5, 3.5), rounded_rect(cx + 0.4, cy - 2.1, cx + 7.6, cy + 2.1, 2.1))
    return union(left, right)


def columns(cx, cy, count):
    x0 = cx - (count * 5 - 2) / 2
    return union(*(rounded_rect(x0 + 5 * i, cy - 5, x0 + 5 * i + 3, cy + 5, 0.6) for i in range(count)))


# The images. Each maker returns a Canvas; states follow the owners' (on, off, disabled) sets.
def button(w, h, state, draw):
    c = Canvas(w, h)
    body(c, state)
    draw(c, w / 2, h / 2 + (0.5 if state == "pressed" else 0))
    return c


def toggle(kind, state):
    """Channel toggles: an LED and the channel's symbol; state 'on', 'off' or 'grey'."""
    c = Canvas(27, 20)
    body(c, "grey" if state == "grey" else "pressed" if state == "on" else "raised", radius=4.0)
    lit = state == "on"
    led(c, 7.5, 10, 2.6, lit, state)
    symbol = microphone(18.5, 9.5) if kind == "input" else speaker(18.0, 10, lit)
    glyph(c, symbol, LIT_CYAN if lit else (170, 190, 210), state)
    return c


def artwork():
    """File name -> image."""
    raised, pressed, grey = "raised", "pressed", "grey"
    left, tile, right = label_face(False)
    hover_left, hover_tile, hover_right = label_face(True)
    return {
        "LabelFaceLeft.bmp": left, "LabelFaceTile.bmp": tile, "LabelFaceRight.bmp": right,
        "LabelHoverLeft.bmp": hover_left, "LabelHoverTile.bmp": hover_tile, "LabelHoverRight.bmp": hover_right,
        # Mode buttons 39 x 27; control-panel and folder buttons 29 x 25.
        "MonitorButton.bmp": button(39, 27, raised, lambda c, x, y: glyph(c, monitor_arrow(x, y), GLYPH, raised)),
        "StopButton.bmp": button(39, 27, pressed, lambda c, x, y: glyph(c, stop_square(x, y), AMBER, pressed)),
        "PlayButton.bmp": button(39, 27, raised, lambda c, x, y: glyph(c, play_arrow(x, y), GREEN, raised)),
        "RecordButton.bmp": button(39, 27, raised, record_dot),
        "PanelWarningButton.bmp": button(29, 25, raised, lambda c, x, y: warning(c, x, y)),
        "PanelButton.bmp": button(29, 25, raised, lambda c, x, y: glyph(c, faders(x, y), GLYPH, raised)),
        "PanelButtonGrey.bmp": button(29, 25, grey, lambda c, x, y: glyph(c, faders(x, y), GLYPH, grey)),
        "FolderButton.bmp": button(29, 25, raised, lambda c, x, y: folder(c, x, y, raised)),
        "FolderButtonGrey.bmp": button(29, 25, grey, lambda c, x, y: folder(c, x, y, grey)),
        # Channel toggles, shared by the test host's rows and the control panel's device rows.
        "OutputToggleOn.bmp": toggle("output", "on"),
        "OutputToggleOff.bmp": toggle("output", "off"),
        "OutputToggleGrey.bmp": toggle("output", "grey"),
        "InputToggleOn.bmp": toggle("input", "on"),
        "InputToggleOff.bmp": toggle("input", "off"),
        "InputToggleGrey.bmp": toggle("input", "grey"),
        # Strip buttons of the control panel.
        "DcOn.bmp": button(27, 14, pressed, lambda c, x, y: text(c, "DC", AMBER, pressed)),
        "DcOff.bmp": button(27, 14, raised, lambda c, x, y: text(c, "DC", GLYPH, raised)),
        "DcGrey.bmp": button(27, 14, grey, lambda c, x, y: text(c, "DC", GLYPH, grey)),
        "LinkOn.bmp": button(40, 14, pressed, lambda c, x, y: glyph(c, chain(x, y), LIT_CYAN, pressed, False)),
        "LinkOff.bmp": button(40, 14, raised, lambda c, x, y: glyph(c, chain(x, y), GLYPH, raised, False)),
        "LinkGrey.bmp": button(40, 14, grey, lambda c, x, y: glyph(c, chain(x, y), GLYPH, grey)),
        "StripMonitorOn.bmp": button(14, 14, pressed, lambda c, x, y: led(c, x, y, 3.0, True, pressed, RED)),
        "StripMonitorOff.bmp": button(14, 14, raised, lambda c, x, y: led(c, x, y, 3.0, False, raised)),
        "LayoutFull.bmp": button(24, 20, raised, lambda c, x, y: glyph(c, columns(x, y, 3), GLYPH, raised)),
        "LayoutCompact.bmp": button(24, 20, raised, lambda c, x, y: glyph(c, columns(x, y, 1), GLYPH, raised)),
        "LayoutGrey.bmp": button(24, 20, grey, lambda c, x, y: glyph(c, columns(x, y, 3), GLYPH, grey)),
        "PageFirst.bmp": button(34, 13, raised, lambda c, x, y: text(c, "1-8", GLYPH, raised)),
        "PageFirstGrey.bmp": button(34, 13, grey, lambda c, x, y: text(c, "1-8", GLYPH, grey)),
        "PageSecond.bmp": button(34, 13, raised, lambda c, x, y: text(c, "9-16", GLYPH, raised)),
        "PageSecondGrey.bmp": button(34, 13, grey, lambda c, x, y: text(c, "9-16", GLYPH, grey)),
    }


# Resource ids of each deliverable: (id, file, what the owner uses it for).
PANEL = [
    (3027, "InputToggleOn.bmp", "device row input toggle, on"),
    (3028, "InputToggleOff.bmp", "device row input toggle, off"),
    (3029, "InputToggleGrey.bmp", "device row input toggle, disabled"),
    (3030, "OutputToggleOn.bmp", "device row output toggle, on"),
    (3031, "OutputToggleOff.bmp", "device row output toggle, off"),
    (3032, "OutputToggleGrey.bmp", "device row output toggle, disabled"),
    (3033, "DcOn.bmp", "DC-offset button, on"),
    (3034, "DcOff.bmp", "DC-offset button, off"),
    (3035, "DcGrey.bmp", "DC-offset button, disabled"),
    (3036, "LinkOn.bmp", "output pair link, on"),
    (3037, "LinkOff.bmp", "output pair link, off"),
    (3038, "LinkGrey.bmp", "output pair link, disabled"),
    (3039, "StripMonitorOn.bmp", "strip monitor button, on"),
    (3040, "StripMonitorOff.bmp", "strip monitor button, off and disabled"),
    (3079, "LabelFaceLeft.bmp", "label face, left cap"),
    (3080, "LabelFaceTile.bmp", "label face, middle tile"),
    (3081, "LabelFaceRight.bmp", "label face, right cap"),
    (3082, "LabelHoverLeft.bmp", "label hover face, left cap"),
    (3083, "LabelHoverTile.bmp", "label hover face, middle tile"),
    (3084, "LabelHoverRight.bmp", "label hover face, right cap"),
    (3085, "LayoutFull.bmp", "layout toggle, all controls"),
    (3086, "LayoutCompact.bmp", "layout toggle, level controls only"),
    (3087, "LayoutGrey.bmp", "layout toggle, disabled"),
    (3110, "PageFirst.bmp", "channel page button, channels 1 to 8"),
    (3111, "PageFirstGrey.bmp", "channel page button, disabled"),
    (3112, "PageSecond.bmp", "channel page button, channels 9 to 16"),
    (3113, "PageSecondGrey.bmp", "second page button, disabled"),
]
TESTHOST = [
    (1040, "MonitorButton.bmp", "monitoring button, monitor arrow"),
    (1041, "StopButton.bmp", "mode buttons, stop square"),
    (1052, "PlayButton.bmp", "play button, play arrow"),
    (1053, "RecordButton.bmp", "record button, record dot"),
    (1059, "PanelWarningButton.bmp", "control-panel button, no hardware"),
    (1060, "PanelButton.bmp", "control-panel button, with hardware"),
    (1061, "PanelButtonGrey.bmp", "control-panel button, opening"),
    (1065, "FolderButton.bmp", "folder button"),
    (1066, "FolderButtonGrey.bmp", "folder button, disabled"),
    (1067, "OutputToggleOff.bmp", "output toggle, dark speaker"),
    (1068, "OutputToggleOn.bmp", "output toggle, lit speaker"),
    (1069, "OutputToggleGrey.bmp", "output toggle, grey"),
    (1070, "InputToggleOff.bmp", "input toggle, dark input"),
    (1071, "InputToggleOn.bmp", "input toggle, lit input"),
    (1072, "InputToggleGrey.bmp", "input toggle, grey"),
    (6996, "LabelFaceLeft.bmp", "label face, left cap"),
    (6997, "LabelFaceTile.bmp", "label face, middle tile"),
    (6998, "LabelFaceRight.bmp", "label face, right cap"),
    (6999, "LabelHoverLeft.bmp", "label hover face, left cap"),
    (7000, "LabelHoverTile.bmp", "label hover face, middle tile"),
    (7001, "LabelHoverRight.bmp", "label hover face, right cap"),
]


def resource_script():
    lines = [
        "// Generated by tools/make_control_bitmaps.py: the skin of the shared controls.",
        "// A deliverable may leave out the other's images with VELORAN_CONTROLS_NO_PANEL_ART or",
        "// VELORAN_CONTROLS_NO_TESTHOST_ART.",
        "",
    ]
    for guard, title, rows in (("VELORAN_CONTROLS_NO_PANEL_ART", "Driver control panel", PANEL),
                               ("VELORAN_CONTROLS_NO_TESTHOST_ART", "Test host", TESTHOST)):
        lines += ["#ifndef " + guard, "// " + title]
        lines += ['%d BITMAP "%s"%s// %s' % (i, f, " " * (26 - len(f)), what) for i, f, what in rows]
        lines += ["#endif", ""]
    return "\n".join(lines)


def main(folder_path):
    os.makedirs(folder_path, exist_ok=True)
    for name, canvas in artwork().items():
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(canvas.bmp())
    with open(os.path.join(folder_path, "Controls.rc"), "w", newline="\n") as f:
        f.write(resource_script())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/controls")
