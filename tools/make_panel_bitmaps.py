#!/usr/bin/env python3
"""Draws the artwork of the driver's own panel controls (faders, meter ramp, channel numbers,
arrows) as 24-bit BMP files in the shared controls' skin, and writes Panel.rc and the id header
PanelBitmapIds.h from one table. Run without arguments from the repository root, or pass the
output folder.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_control_bitmaps as skin  # noqa: E402  (the shared shapes, canvas and palette)

from make_control_bitmaps import Canvas, mix, rounded_rect, polygon, segment, vertical  # noqa: E402

# Fader track and thumbs. The thumb is centred when it is 12 wide (the control draws it 6 pixels
# left of the middle); the track is tall enough for every fader and drawn clipped.
TRACK_W, TRACK_H = 24, 200
THUMB_W, THUMB_H = 12, 20
METER_H = 178


def track():
    c = Canvas(TRACK_W, TRACK_H)
    mid = TRACK_W / 2
    for i, y in enumerate(range(14, TRACK_H - 13, 8)):
        half = 5 if i % 4 == 0 else 3
        c.paint(segment(mid - 4 - half, y, mid - 4, y, 1.0), (98, 128, 158))
    c.paint(rounded_rect(mid - 2, 8, mid + 2, TRACK_H - 8, 2), (10, 20, 32))
    c.paint(rounded_rect(mid - 1, 9, mid + 1, TRACK_H - 9, 1), (34, 56, 80))
    return c


def thumb(state, led=False, grips=1):
    """state: 'raised', 'hot' or 'grey'; led puts the red light of an active channel on it."""
    c = Canvas(THUMB_W, THUMB_H)
    skin.body(c, "grey" if state == "grey" else "raised", radius=2.0)
    if state == "hot":
        c.paint(rounded_rect(1, 1, THUMB_W - 1, THUMB_H - 1, 1), (255, 236, 170), 0.35)
    mid = THUMB_H / 2
    ink = skin.GREY_GLYPH if state == "grey" else skin.GLYPH
    for g in range(grips):
        y = mid + (g - (grips - 1) / 2) * 4
        c.paint(segment(2.5, y, THUMB_W - 2.5, y, 1.2), ink)
    if led:
        skin.led(c, THUMB_W / 2, 4.5, 1.8, True, "raised", skin.RED)
    return c


def meter_ramp():
    """Red at the top to cyan at the bottom; the second row of each pair a little darker, like
    the unlit bar's lines."""
    stops = [(0.0, (236, 52, 52)), (0.25, (250, 200, 60)), (0.55, (96, 220, 120)), (1.0, (40, 220, 230))]
    c = Canvas(3, METER_H)
    for y in range(METER_H):
        t = y / (METER_H - 1)
        for (t0, a), (t1, b) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                colour = mix(a, b, (t - t0) / (t1 - t0))
                break
        if y % 2:
            colour = mix(colour, (0, 0, 0), 0.3)
        c.pixels[y] = [colour] * 3
    return c


def number(width, n):
    """A channel number badge: an inset dark box with the number (none for the blank one) in the
    3 x 5 font drawn at twice its size."""
    c = Canvas(width, 20)
    c.paint(rounded_rect(1, 2, width - 1, 18, 3), (20, 34, 52))
    c.paint(rounded_rect(2, 3, width - 2, 17, 2), vertical((6, 14, 24), (22, 38, 58), 3, 17))
    if n:
        digits = str(n)
        x0 = (width - (8 * len(digits) - 2)) // 2
        for i, ch in enumerate(digits):
            for row, bits in enumerate(skin.FONT[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        for dy in (0, 1):
                            for dx in (0, 1):
                                c.dot(x0 + 8 * i + 2 * col + dx, 5 + 2 * row + dy, skin.LIT_CYAN)
    return c


def arrow(up):
    c = Canvas(11, 9)
    skin.body(c, "raised", radius=2.0)
    tip, base = (2.5, 6.5) if up else (6.5, 2.5)
    skin.glyph(c, polygon([(5.5, tip), (8.5, base), (2.5, base)]), skin.GLYPH, "raised", False)
    return c


def strip_button(width, state, lit, draw):
    """A small strip button: state 'raised' or 'grey'; lit shows the switched-on glyph, pressed in."""
    c = Canvas(width, 12)
    skin.body(c, "grey" if state == "grey" else "pressed" if lit else "raised", radius=3.0)
    draw(c, "grey" if state == "grey" else "raised", skin.LIT_CYAN if lit else skin.GLYPH)
    return c


def dc_glyph(c, state, colour):
    skin.text(c, "DC", colour, state)


def link_glyph(c, state, colour):
    mid_x, mid_y = c.width / 2, c.height / 2
    links = skin.union(skin.ring(mid_x - 2.5, mid_y, 3.0, 1.2), skin.ring(mid_x + 2.5, mid_y, 3.0, 1.2))
    skin.glyph(c, links, colour, state)


def monitor_button(on):
    c = Canvas(14, 14)
    skin.body(c, "raised", radius=3.0)
    skin.led(c, 7, 7, 3.0, on, "raised", skin.RED)
    return c


def band():
    """The bottom band's tile, repeated across the panel's width."""
    c = Canvas(8, 46)
    c.paint(rounded_rect(-1, 0, 9, 46, 0), vertical((44, 68, 94), (14, 24, 38), 0, 46))
    c.paint(segment(-1, 0.5, 9, 0.5, 1.0), (98, 128, 158))
    return c


def emblem(shape):
    """A raised square with a glyph: the layout picture and the logo."""
    c = Canvas(24, 24)
    skin.body(c, "raised", radius=4.0)
    skin.glyph(c, shape, skin.GLYPH, "raised")
    return c


SHARED = ["LayoutFull.bmp", "LayoutCompact.bmp", "LayoutGrey.bmp", "PageFirst.bmp", "PageFirstGrey.bmp",
          "PageSecond.bmp"]


def artwork():
    """File name -> image."""
    images = {
        "FaderTrack.bmp": track(),
        "FaderThumb.bmp": thumb("raised"),
        "FaderThumbHot.bmp": thumb("hot"),
        "FaderThumbGrey.bmp": thumb("grey"),
        "FaderThumbActive.bmp": thumb("raised", led=True),
        "FaderThumbActiveHot.bmp": thumb("hot", led=True),
        "ScrollerThumb.bmp": thumb("raised", grips=3),
        "ScrollerThumbHot.bmp": thumb("hot", grips=3),
        "ScrollerThumbGrey.bmp": thumb("grey", grips=3),
        "MeterRamp.bmp": meter_ramp(),
        "ArrowUp.bmp": arrow(True),
        "ArrowDown.bmp": arrow(False),
        "NumberBlank.bmp": number(18, 0),
        "NumberWideBlank.bmp": number(27, 0),
        "DcOn.bmp": strip_button(20, "raised", True, dc_glyph),
        "DcOff.bmp": strip_button(20, "raised", False, dc_glyph),
        "DcGrey.bmp": strip_button(20, "grey", False, dc_glyph),
        "LinkOn.bmp": strip_button(24, "raised", True, link_glyph),
        "LinkOff.bmp": strip_button(24, "raised", False, link_glyph),
        "LinkGrey.bmp": strip_button(24, "grey", False, link_glyph),
        "MonitorOn.bmp": monitor_button(True),
        "MonitorOff.bmp": monitor_button(False),
        "Band.bmp": band(),
        "LayoutPicture.bmp": emblem(skin.faders(12, 12)),
        "Logo.bmp": emblem(polygon([(5, 6), (9, 6), (12, 15), (15, 6), (19, 6), (14, 19), (10, 19)])),
    }
    # The layout toggle and the page button look as in the test host.
    shared = skin.artwork()
    for name in SHARED:
        images[name] = shared[name]
    for n in range(1, 17):
        images["Number%d.bmp" % n] = number(18, n)
        images["NumberWide%d.bmp" % n] = number(27, n)
    return images


# (id, macro, file, what the panel uses it for).
RESOURCES = [
    (3020, "IDB_SCROLLER_THUMB_GREY", "ScrollerThumbGrey.bmp", "row scroller thumb, disabled"),
    (3021, "IDB_SCROLLER_THUMB_HOT", "ScrollerThumbHot.bmp", "row scroller thumb, under the mouse"),
    (3022, "IDB_SCROLLER_THUMB", "ScrollerThumb.bmp", "row scroller thumb"),
    (3023, "IDB_FADER_TRACK", "FaderTrack.bmp", "channel fader track"),
    (3024, "IDB_FADER_THUMB_GREY", "FaderThumbGrey.bmp", "fader thumb, disabled"),
    (3025, "IDB_FADER_THUMB_HOT", "FaderThumbHot.bmp", "fader thumb, under the mouse"),
    (3026, "IDB_FADER_THUMB", "FaderThumb.bmp", "fader thumb"),
    (3033, "IDB_DC_ON", "DcOn.bmp", "input DC-offset removal, on"),
    (3034, "IDB_DC_OFF", "DcOff.bmp", "input DC-offset removal, off"),
    (3035, "IDB_DC_GREY", "DcGrey.bmp", "input DC-offset removal, disabled"),
    (3036, "IDB_LINK_ON", "LinkOn.bmp", "output pair link, on"),
    (3037, "IDB_LINK_OFF", "LinkOff.bmp", "output pair link, off"),
    (3038, "IDB_LINK_GREY", "LinkGrey.bmp", "output pair link, disabled"),
    (3039, "IDB_MONITOR_ON", "MonitorOn.bmp", "input direct monitoring, on"),
    (3040, "IDB_MONITOR_OFF", "MonitorOff.bmp", "input direct monitoring, off or disabled"),
    (3069, "IDB_LAYOUT_PICTURE", "LayoutPicture.bmp", "picture beside the layout toggle"),
    (3072, "IDB_BAND", "Band.bmp", "bottom band tile"),
    (3070, "IDB_ARROW_UP", "ArrowUp.bmp", "device row arrow, up"),
    (3071, "IDB_ARROW_DOWN", "ArrowDown.bmp", "device row arrow, down"),
    (3085, "IDB_LAYOUT_FULL", "LayoutFull.bmp", "layout toggle, all controls"),
    (3086, "IDB_LAYOUT_COMPACT", "LayoutCompact.bmp", "layout toggle, level controls only"),
    (3087, "IDB_LAYOUT_GREY", "LayoutGrey.bmp", "layout toggle, disabled"),
    (3088, "IDB_METER_RAMP", "MeterRamp.bmp", "level meter, every row lit"),
    (3104, "IDB_INPUT_THUMB_ACTIVE_HOT", "FaderThumbActiveHot.bmp", "input fader thumb of a used channel, under the mouse"),
    (3105, "IDB_OUTPUT_THUMB_ACTIVE_HOT", "FaderThumbActiveHot.bmp", "output fader thumb of a used channel, under the mouse"),
    (3106, "IDB_INPUT_THUMB_ACTIVE", "FaderThumbActive.bmp", "input fader thumb of a used channel"),
    (3107, "IDB_OUTPUT_THUMB_ACTIVE", "FaderThumbActive.bmp", "output fader thumb of a used channel"),
    (3110, "IDB_PAGE_FIRST", "PageFirst.bmp", "channel page button, channels 1 to 8"),
    (3111, "IDB_PAGE_FIRST_GREY", "PageFirstGrey.bmp", "channel page button, disabled"),
    (3112, "IDB_PAGE_SECOND", "PageSecond.bmp", "channel page button, channels 9 to 16"),
    (7067, "IDB_LOGO", "Logo.bmp", "maker's logo, opens the driver page"),
]
RESOURCES += [(4000 + n - 1, None, "Number%d.bmp" % n, "device row marker %d" % n) for n in range(1, 17)]
RESOURCES += [(4016, "IDB_NUMBER_BLANK", "NumberBlank.bmp", "device row marker, none")]
RESOURCES += [(4020 + n - 1, None, "NumberWide%d.bmp" % n, "strip number %d" % n) for n in range(1, 17)]
RESOURCES += [(4036, "IDB_NUMBER_WIDE_BLANK", "NumberWideBlank.bmp", "strip number, none")]
FIRST_NUMBERS = [("IDB_NUMBER_FIRST", 4000, "device row markers 1 to 16"),
                 ("IDB_NUMBER_WIDE_FIRST", 4020, "strip numbers 1 to 16")]


def id_header():
    lines = ["// Generated by tools/make_panel_bitmaps.py: ids of the control panel's artwork.",
             "#ifndef VELORAN_PANEL_BITMAP_IDS_H", "#define VELORAN_PANEL_BITMAP_IDS_H", ""]
    lines += ["#define %-28s %d  // %s" % (macro, i, what) for i, macro, _, what in RESOURCES if macro]
    lines += ["#define %-28s %d  // %s" % (macro, i, what) for macro, i, what in FIRST_NUMBERS]
    lines += ["", "#endif", ""]
    return "\n".join(lines)


def resource_script():
    lines = ["// Generated by tools/make_panel_bitmaps.py: the artwork of the control panel's own controls.",
             '#include "PanelBitmapIds.h"', ""]
    lines += ['%d BITMAP "%s"%s// %s' % (i, f, " " * (26 - len(f)), what) for i, _, f, what in RESOURCES]
    return "\n".join(lines) + "\n"


def main(folder_path):
    os.makedirs(folder_path, exist_ok=True)
    for name, canvas in artwork().items():
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(canvas.bmp())
    for name, text in (("Panel.rc", resource_script()), ("PanelBitmapIds.h", id_header())):
        with open(os.path.join(folder_path, name), "w", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/driver")
