#!/usr/bin/env python3
"""Draws the control panel's device pictures: one lit and one greyed picture for every
known-devices row (and the English variants of the pictures with text), the connect-an-interface
pictures in French and English, the unknown-device picture and the non-optimal-port warning icon.
Writes them as 24-bit BMP files (the icon as .ico) with Devices.rc and the id header
DeviceArtIds.h. Run without arguments from the repository root, or pass the output folder.

Shapes and anti-aliasing are those of make_control_bitmaps, the icon writer that of
make_driver_icon, so the output is the same on every run.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_control_bitmaps as art  # noqa: E402
import make_driver_icon as icons  # noqa: E402

from make_control_bitmaps import Canvas, circle, mix, rounded_rect, segment, polygon, vertical  # noqa: E402

W, H = 90, 88  # a picture of 60 x 54 dialog units at the panel's font

# Letters for the pictures' labels, in the 3 x 5 grid of the controls' digits.
LETTERS = dict(art.FONT)
LETTERS.update({
    "A": ("010", "101", "111", "101", "101"), "E": ("111", "100", "110", "100", "111"),
    "F": ("111", "100", "110", "100", "100"), "G": ("011", "100", "101", "101", "011"),
    "I": ("111", "010", "010", "010", "111"), "L": ("100", "100", "100", "100", "111"),
    "M": ("101", "111", "111", "101", "101"), "N": ("110", "101", "101", "101", "101"),
    "O": ("010", "101", "101", "101", "010"), "R": ("110", "101", "110", "101", "101"),
    "S": ("011", "100", "010", "001", "110"), "T": ("111", "010", "010", "010", "010"),
    "U": ("101", "101", "101", "101", "111"), "V": ("101", "101", "101", "101", "010"),
    "X": ("101", "101", "010", "101", "101"), "Y": ("101", "101", "010", "010", "010"),
    "Z": ("111", "001", "010", "100", "111"), "+": ("000", "010", "111", "010", "000"),
    "?": ("110", "001", "010", "000", "010"), " ": ("000", "000", "000", "000", "000"),
})

LABEL = (234, 241, 248)
GREY_LABEL = (150, 158, 166)


def label(c, string, y, colour, scale=None):
    """Centred text; twice the grid size when it fits."""
    if scale is None:
        scale = 2 if 8 * len(string) - 2 <= W - 6 else 1
    width = (4 * len(string) - 1) * scale
    x0 = (W - width) // 2
    for i, ch in enumerate(string):
        for row, bits in enumerate(LETTERS[ch]):
            for col, bit in enumerate(bits):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x, yy = x0 + (4 * i + col) * scale + dx, y + row * scale + dy
                        c.dot(x + 1, yy + 1, art.SHADOW, 0.5)
                        c.dot(x, yy, colour)


# Families: body colour, accent and the controls on the front panel.
FAMILIES = {
    "lumo": ((52, 60, 72), (96, 200, 255)),
    "octa": ((40, 44, 50), (255, 184, 72)),
    "strym": ((120, 28, 34), (255, 236, 200)),
    "guitar": ((30, 30, 34), (122, 224, 140)),
    "default": ((70, 90, 110), (220, 230, 240)),
}


def grey(colour, active):
    if active:
        return colour
    level = sum(colour) / 3
    return mix(mix(colour, (level,) * 3, 0.8), art.BACKGROUND, 0.35)


def device(family, name, knobs, jacks, active, lit=None):
    """A front panel: body, knobs, input jacks and a row of lights (lit picks which), with the
    model's name underneath; the bottom rows stay free for the panel's instance label."""
    body, accent = FAMILIES[family]
    c = Canvas(W, H)
    top, bottom = 8, 52
    c.paint(rounded_rect(6, top, W - 6, bottom, 5), art.SHADOW, 0.5, dy=2.0)
    c.paint(rounded_rect(6, top, W - 6, bottom, 5), vertical(grey(mix(body, (255, 255, 255), 0.25), active),
                                                            grey(body, active), top, bottom))
    c.paint(rounded_rect(7, top + 1, W - 7, top + 3, 1), grey(mix(body, (255, 255, 255), 0.45), active), 0.6)
    span = W - 24
    for k in range(knobs):
        x = 14 + span * (k + 0.5) / max(knobs, 1) - 2
        c.paint(circle(x, 25, 6), grey((18, 20, 24), active))
        c.paint(circle(x, 25, 5), vertical(grey((200, 204, 210), active), grey((110, 114, 120), active), 20, 30))
        c.paint(segment(x, 25, x, 21, 1.4), grey((30, 30, 34), active))
    for j in range(jacks):
        x = 16 + (span - 4) * j / max(jacks - 1, 1)
        c.paint(circle(x, 42, 4), grey((150, 156, 164), active))
        c.paint(circle(x, 42, 2), (10, 10, 12))
    lights = 4
    for i in range(lights):
        x = W - 16 - 6 * (lights - 1 - i)
        on = active and (lit is None or i in lit)
        c.paint(circle(x, 14, 1.8), accent if on else grey((60, 64, 70), active))
    label(c, name, 60, LABEL if active else GREY_LABEL)
    return c


def connect(text_lines):
    """No interface: a cable and its plug, and the request to connect one."""
    c = Canvas(W, H)
    c.paint(rounded_rect(4, 4, W - 4, H - 4, 6), (44, 68, 92))
    c.paint(segment(14, 30, 40, 30, 3.0), (200, 210, 220))
    c.paint(rounded_rect(38, 23, 54, 37, 2), vertical((230, 236, 242), (150, 160, 172), 23, 37))
    c.paint(rounded_rect(54, 26, 62, 34, 1), (120, 130, 142))
    c.paint(polygon([(66, 24), (76, 30), (66, 36)]), art.AMBER)
    for i, line in enumerate(text_lines):
        label(c, line, 50 + 12 * i, LABEL)
    return c


def unknown():
    c = Canvas(W, H)
    c.paint(rounded_rect(4, 4, W - 4, H - 4, 6), (44, 68, 92))
    c.paint(circle(W / 2, H / 2, 24), (30, 50, 72))
    label(c, "?", H // 2 - 15, art.AMBER, scale=6)
    return c


def default_device(active, word):
    c = Canvas(W, H)
    body = grey((200, 210, 222), active)
    c.paint(polygon([(22, 26), (32, 26), (44, 16), (44, 54), (32, 44), (22, 44)]), body)
    for r in (8, 14):
        c.paint(art.intersect(art.ring(46, 35, r, 2.5), lambda x, y: 48 - x), body)
    c.paint(rounded_rect(62, 18, 72, 38, 5), body)
    c.paint(segment(67, 42, 67, 50, 2.0), body)
    c.paint(segment(60, 50, 74, 50, 2.0), body)
    label(c, word, 60, LABEL if active else GREY_LABEL)
    return c


def warning_icon():
    size = 16
    c = Canvas(size, size, (0, 0, 0))
    triangle = polygon([(8, 0.5), (15.5, 14.5), (0.5, 14.5)])
    c.paint(triangle, (120, 84, 10))
    c.paint(polygon([(8, 2.5), (13.8, 13.5), (2.2, 13.5)]), art.WARNING)
    c.paint(art.union(segment(8, 6, 8, 9.5, 1.8), circle(8, 11.8, 1.0)), (40, 30, 8))
    mask = Canvas(size, size, (0, 0, 0))
    mask.paint(triangle, (255, 255, 255))

    def pixel(x, y):
        a = int(round(mask.pixels[y][x][0]))
        return (0, 0, 0, 0) if a == 0 else tuple(int(round(v)) for v in c.pixels[y][x]) + (a,)
    return icons.image_file(1, [(size, icons.dib(size, pixel), 1, 32)])


# (id, file, what, drawing); a drawing shared by two ids is written once.
def pictures():
    rows = []
    models = [
        ("Lumo A1", 3000, "lumo", "LUMO A1", 2, 2, None),
        ("Lumo A2X", 3015, "lumo", "LUMO A2X", 3, 2, None),
        ("Lumo A2", 3013, "lumo", "LUMO A2", 3, 2, None),
        ("Octa X 1-2", 3090, "octa", "OCTA X 1-2", 4, 4, {0}),
        ("Octa X 3-4", 3092, "octa", "OCTA X 3-4", 4, 4, {1}),
        ("Octa X 5-6", 3094, "octa", "OCTA X 5-6", 4, 4, {2}),
        ("Octa X 7-8", 3096, "octa", "OCTA X 7-8", 4, 4, {3}),
        ("Strym", 3098, "strym", "STRYM", 1, 1, None),
        ("Veloran Guitar", 2998, "guitar", "GUITAR", 2, 1, None),
        ("Lumo A4+", 3120, "lumo", "LUMO A4+", 4, 4, None),
    ]
    for model, first, family, name, knobs, jacks, lit in models:
        stem = model.replace(" ", "").replace("-", "_").replace("+", "Plus")
        rows.append((first, "Device%s.bmp" % stem, model + ", in use",
                     lambda f=family, n=name, k=knobs, j=jacks, l=lit: device(f, n, k, j, True, l)))
        rows.append((first + 1, "Device%sGrey.bmp" % stem, model + ", not in use",
                     lambda f=family, n=name, k=knobs, j=jacks, l=lit: device(f, n, k, j, False, l)))
    rows += [
        (3100, "DefaultDeviceFr.bmp", "default sound device, in use", lambda: default_device(True, "DEFAUT")),
        (3101, "DefaultDeviceFrGrey.bmp", "default sound device, not in use", lambda: default_device(False, "DEFAUT")),
        (3102, "DefaultDevice.bmp", "default sound device, in use, English", lambda: default_device(True, "DEFAULT")),
        (3103, "DefaultDeviceGrey.bmp", "default sound device, not in use, English",
         lambda: default_device(False, "DEFAULT")),
        (3007, "ConnectFr.bmp", "no interface, French", lambda: connect(["CONNECTEZ", "UNE INTERFACE"])),
        (3008, "Connect.bmp", "no interface, English", lambda: connect(["CONNECT", "AN INTERFACE"])),
        (3011, "DeviceUnknown.bmp", "unknown device", unknown),
    ]
    return rows


WARNING_ICON = (6992, "PortWarning.ico", "device behind a hub")


def id_header():
    lines = ["// Generated by tools/make_device_pictures.py: ids of the control panel's device pictures.",
             "#ifndef VELORAN_DEVICE_ART_IDS_H", "#define VELORAN_DEVICE_ART_IDS_H", "",
             "#define IDB_DEVICE_CONNECT_FRENCH    3007  // no interface, French",
             "#define IDB_DEVICE_CONNECT           3008  // no interface, English",
             "#define IDB_DEVICE_UNKNOWN           3011  // unknown device",
             "#define IDI_PORT_WARNING             6992  // device behind a hub",
             "", "#endif", ""]
    return "\n".join(lines)


def resource_script(rows):
    lines = ["// Generated by tools/make_device_pictures.py: the control panel's device pictures.",
             '#include "DeviceArtIds.h"', ""]
    lines += ['%d BITMAP "%s"%s// %s' % (i, f, " " * (28 - len(f)), what) for i, f, what, _ in rows]
    i, f, what = WARNING_ICON
    lines.append('%d ICON "%s"%s// %s' % (i, f, " " * (30 - len(f)), what))
    return "\n".join(lines) + "\n"


def main(folder_path):
    os.makedirs(folder_path, exist_ok=True)
    rows = pictures()
    for _, name, _, draw in rows:
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(draw().bmp())
    with open(os.path.join(folder_path, WARNING_ICON[1]), "wb") as f:
        f.write(warning_icon())
    for name, text in (("Devices.rc", resource_script(rows)), ("DeviceArtIds.h", id_header())):
        with open(os.path.join(folder_path, name), "w", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/driver")
