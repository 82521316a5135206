#!/usr/bin/python3
"""Draws the library's skin into resources/.

    tools/gen_resources.py                  write the bitmaps and the icon
    tools/gen_resources.py --preview DIR    also write enlarged PNG previews
                                            and a mock of a wizard page
    tools/gen_resources.py --check          draw into a temporary folder and
                                            compare with resources/: names
                                            each file that differs, exits 1

Outputs: background.bmp (600 x 440), btn_back.bmp, btn_cancel.bmp,
btn_next.bmp, btn_ok.bmp (320 x 25 strips of four 80 x 25 cells), panel.bmp
(350 x 90), all bottom-up, 8 bits per pixel with a 256-colour palette,
uncompressed; and zephlar.ico (one 32 x 32 image, 4 bits per pixel, standard
16-colour palette, with its mask).

Everything is computed from geometry in this file: shapes as signed distance
functions (which also gives their anti-aliased edges), the lettering from a
small stroke font defined below, the brushed texture from a fixed-seed
generator. No system font, image or clock is read, so every run writes the
same bytes. The outputs are committed; the build does not run this script,
and the test command runs --check so that they cannot drift from it.

The files are written through Pillow (Debian's python3-pil, which only the
system interpreter sees, hence /usr/bin/python3), except the icon's, which
is put together here: see icon_file().
"""

import argparse
import filecmp
import math
import os
import struct
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    sys.exit("gen_resources: Pillow is missing; tools/install-deps installs python3-pil")

# ----------------------------------------------------------------- colours

# The margins that the window regions cut off; the wizard's and the panel's
# bitmaps each have their own shade.
MAGENTA_BACKGROUND = (225, 1, 87)
MAGENTA_PANEL = (225, 0, 87)

BORDER_OUTER = (112, 116, 122)
BORDER_INNER = (176, 180, 186)
FACE_TOP = (233, 235, 238)
FACE_BOTTOM = (221, 223, 227)

WHITE = (255, 255, 255)
INK = (36, 44, 56)
ACCENT_LIGHT = (74, 164, 236)
ACCENT = (30, 124, 210)
ACCENT_DARK = (16, 88, 168)
STEEL_LIGHT = (232, 236, 241)
STEEL_DARK = (132, 140, 152)
STEEL_EDGE = (96, 104, 118)
CHIP_TOP = (70, 79, 94)
CHIP_BOTTOM = (42, 48, 60)
PIN = (205, 210, 217)
PIN_EDGE = (138, 145, 156)

# The strips' ground: the clip region of the painter drops its outer band.
BUTTON_GROUND = (252, 252, 252)


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def pin(v):
    """Rounds a derived coordinate to 1/1024 px, so that the last bits of the
    platform's sin and cos cannot change a pixel."""
    return round(v * 1024.0) / 1024.0


# ------------------------------------------------------------------ canvas


class Canvas:
    """RGB pixels as floats 0..255, row by row from the top."""

    def __init__(self, width, height, colour):
        self.w = width
        self.h = height
        self.px = [list(map(float, colour)) for _ in range(width * height)]

    def set(self, x, y, colour):
        self.px[y * self.w + x] = list(map(float, colour))

    def image(self):
        """The pixels rounded to an RGB image."""
        data = bytes(min(255, max(0, int(round(v)))) for p in self.px for v in p)
        return Image.frombytes("RGB", (self.w, self.h), data)

    def blend(self, x, y, colour, a):
        if a <= 0.0:
            return
        p = self.px[y * self.w + x]
        if a >= 1.0:
            p[0], p[1], p[2] = float(colour[0]), float(colour[1]), float(colour[2])
            return
        p[0] += (colour[0] - p[0]) * a
        p[1] += (colour[1] - p[1]) * a
        p[2] += (colour[2] - p[2]) * a

    def fill_rect(self, x0, y0, x1, y1, colour):
        """Fills x0 <= x < x1, y0 <= y < y1 with one exact colour."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.set(x, y, colour)

    def paint(self, sdf, colour, box, opacity=1.0, soft=0.0, clip=None):
        """Paints the shape sdf < 0 over the pixels of box (x0, y0, x1, y1).

        colour is a colour or a function of the pixel centre. With soft 0 the
        edge is anti-aliased over one pixel; otherwise it fades out over
        2 * soft pixels (shadows, glows). clip, a second distance function,
        limits the paint to its inside.
        """
        x0, y0, x1, y1 = box
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        fixed = not callable(colour)
        for y in range(y0, y1):
            cy = y + 0.5
            for x in range(x0, x1):
                cx = x + 0.5
                d = sdf(cx, cy)
                if soft > 0.0:
                    a = 1.0 - smoothstep(-soft, soft, d)
                else:
                    a = clamp01(0.5 - d)
                if clip is not None and a > 0.0:
                    a *= clamp01(0.5 - clip(cx, cy))
                a *= opacity
                if a > 0.0:
                    self.blend(x, y, colour if fixed else colour(cx, cy), a)


# ------------------------------------------------------ distance functions


def sd_round_box(x0, y0, x1, y1, r):
    """Rounded rectangle covering the continuous box [x0, x1] x [y0, y1]."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.sqrt(max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2)
        return outside + min(max(qx, qy), 0.0) - r

    return f


def sd_circle(cx, cy, r):
    return lambda x, y: math.sqrt((x - cx) ** 2 + (y - cy) ** 2) - r


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy
    t = 0.0 if ll == 0.0 else clamp01(((x - ax) * dx + (y - ay) * dy) / ll)
    ex, ey = x - ax - dx * t, y - ay - dy * t
    return math.sqrt(ex * ex + ey * ey)


def sd_capsule(ax, ay, bx, by, r):
    return lambda x, y: segment_distance(x, y, ax, ay, bx, by) - r


def sd_oriented_box(cx, cy, ux, uy, half_len, half_wid, r=0.0):
    """A box centred at (cx, cy) whose long axis runs along the unit (ux, uy)."""
    inner = sd_round_box(-half_len, -half_wid, half_len, half_wid, r)

    def f(x, y):
        dx, dy = x - cx, y - cy
        return inner(dx * ux + dy * uy, -dx * uy + dy * ux)

    return f


def sd_union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def sd_subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def sd_offset(f, dx, dy):
    return lambda x, y: f(x - dx, y - dy)


def vertical(top_colour, bottom_colour, y0, y1):
    return lambda x, y: mix(top_colour, bottom_colour, clamp01((y - y0) / (y1 - y0)))


# -------------------------------------------------------------- lettering

# A rounded geometric stroke font. Glyph coordinates are in units of the
# skeleton's x-height, y upwards from the baseline; capitals and ascenders
# reach 1.4, descenders -0.45. Each glyph is (advance, strokes), a stroke
# being ("L", x0, y0, x1, y1), an arc ("A", cx, cy, rx, ry, from, to) drawn
# counter-clockwise in degrees, or a dot ("D", x, y).
CIRCLE = ("A", 0.5, 0.5, 0.5, 0.5, 0, 360)
ARCH = ("A", 0.45, 0.55, 0.45, 0.45, 0, 180)
GLYPHS = {
    " ": (0.42, []),
    ".": (0.0, [("D", 0.0, 0.0)]),
    "a": (1.0, [CIRCLE, ("L", 1.0, 0.0, 1.0, 1.0)]),
    "b": (1.0, [("L", 0.0, 0.0, 0.0, 1.4), CIRCLE]),
    "c": (0.86, [("A", 0.5, 0.5, 0.5, 0.5, 48, 312)]),
    "d": (1.0, [CIRCLE, ("L", 1.0, 0.0, 1.0, 1.4)]),
    "e": (1.0, [("L", 0.0, 0.5, 1.0, 0.5), ("A", 0.5, 0.5, 0.5, 0.5, 0, 318)]),
    "f": (0.62, [("L", 0.22, 0.0, 0.22, 1.1), ("A", 0.56, 1.1, 0.34, 0.3, 50, 180),
                 ("L", 0.0, 1.0, 0.58, 1.0)]),
    "g": (1.0, [CIRCLE, ("L", 1.0, 1.0, 1.0, -0.1), ("A", 0.5, -0.1, 0.5, 0.35, 200, 360)]),
    "h": (0.9, [("L", 0.0, 0.0, 0.0, 1.4), ARCH, ("L", 0.9, 0.55, 0.9, 0.0)]),
    "i": (0.0, [("L", 0.0, 0.0, 0.0, 1.0), ("D", 0.0, 1.34)]),
    "k": (0.78, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.04, 0.36, 0.74, 1.0),
                 ("L", 0.3, 0.6, 0.78, 0.0)]),
    "l": (0.0, [("L", 0.0, 0.0, 0.0, 1.4)]),
    "m": (1.44, [("L", 0.0, 0.0, 0.0, 1.0), ("A", 0.36, 0.64, 0.36, 0.36, 0, 180),
                 ("L", 0.72, 0.64, 0.72, 0.0), ("A", 1.08, 0.64, 0.36, 0.36, 0, 180),
                 ("L", 1.44, 0.64, 1.44, 0.0)]),
    "n": (0.9, [("L", 0.0, 0.0, 0.0, 1.0), ARCH, ("L", 0.9, 0.55, 0.9, 0.0)]),
    "o": (1.0, [CIRCLE]),
    "p": (1.0, [("L", 0.0, -0.45, 0.0, 1.0), CIRCLE]),
    "r": (0.6, [("L", 0.0, 0.0, 0.0, 1.0), ("A", 0.6, 0.4, 0.6, 0.6, 90, 180)]),
    "s": (0.78, [("A", 0.4, 0.745, 0.38, 0.255, 35, 270),
                 ("A", 0.4, 0.255, 0.38, 0.255, -145, 90)]),
    "t": (0.58, [("L", 0.22, 0.0, 0.22, 1.3), ("L", 0.0, 1.0, 0.58, 1.0)]),
    "u": (0.9, [("L", 0.0, 1.0, 0.0, 0.45), ("A", 0.45, 0.45, 0.45, 0.45, 180, 360),
                ("L", 0.9, 0.45, 0.9, 1.0), ("L", 0.9, 1.0, 0.9, 0.0)]),
    "v": (0.9, [("L", 0.0, 1.0, 0.45, 0.0), ("L", 0.45, 0.0, 0.9, 1.0)]),
    "w": (1.3, [("L", 0.0, 1.0, 0.32, 0.0), ("L", 0.32, 0.0, 0.65, 0.9),
                ("L", 0.65, 0.9, 0.98, 0.0), ("L", 0.98, 0.0, 1.3, 1.0)]),
    "x": (0.85, [("L", 0.0, 0.0, 0.85, 1.0), ("L", 0.0, 1.0, 0.85, 0.0)]),
    "y": (0.9, [("L", 0.0, 1.0, 0.45, 0.0), ("L", 0.9, 1.0, 0.22, -0.45)]),
    "z": (0.8, [("L", 0.0, 1.0, 0.8, 1.0), ("L", 0.8, 1.0, 0.0, 0.0), ("L", 0.0, 0.0, 0.8, 0.0)]),
    "A": (1.2, [("L", 0.0, 0.0, 0.6, 1.4), ("L", 0.6, 1.4, 1.2, 0.0),
                ("L", 0.22, 0.48, 0.98, 0.48)]),
    "B": (0.92, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.0, 1.4, 0.5, 1.4),
                 ("A", 0.5, 1.08, 0.32, 0.32, -90, 90), ("L", 0.0, 0.76, 0.54, 0.76),
                 ("A", 0.54, 0.38, 0.38, 0.38, -90, 90), ("L", 0.0, 0.0, 0.54, 0.0)]),
    "C": (1.16, [("A", 0.7, 0.7, 0.7, 0.7, 48, 312)]),
    "F": (0.78, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.0, 1.4, 0.78, 1.4),
                 ("L", 0.0, 0.76, 0.64, 0.76)]),
    "K": (0.94, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.04, 0.5, 0.9, 1.4),
                 ("L", 0.36, 0.84, 0.94, 0.0)]),
    "M": (1.3, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.0, 1.4, 0.65, 0.35),
                ("L", 0.65, 0.35, 1.3, 1.4), ("L", 1.3, 1.4, 1.3, 0.0)]),
    "N": (1.0, [("L", 0.0, 0.0, 0.0, 1.4), ("L", 0.0, 1.4, 1.0, 0.0), ("L", 1.0, 0.0, 1.0, 1.4)]),
    "O": (1.4, [("A", 0.7, 0.7, 0.7, 0.7, 0, 360)]),
    "T": (0.9, [("L", 0.0, 1.4, 0.9, 1.4), ("L", 0.45, 1.4, 0.45, 0.0)]),
    "U": (1.0, [("L", 0.0, 1.4, 0.0, 0.5), ("A", 0.5, 0.5, 0.5, 0.5, 180, 360),
                ("L", 1.0, 0.5, 1.0, 1.4)]),
    "V": (1.16, [("L", 0.0, 1.4, 0.58, 0.0), ("L", 0.58, 0.0, 1.16, 1.4)]),
    "W": (1.7, [("L", 0.0, 1.4, 0.42, 0.0), ("L", 0.42, 0.0, 0.85, 1.2),
                ("L", 0.85, 1.2, 1.28, 0.0), ("L", 1.28, 0.0, 1.7, 1.4)]),
    "Z": (0.96, [("L", 0.0, 1.4, 0.96, 1.4), ("L", 0.96, 1.4, 0.0, 0.0),
                 ("L", 0.0, 0.0, 0.96, 0.0)]),
    "0": (0.9, [("A", 0.45, 0.7, 0.45, 0.7, 0, 360)]),
    "1": (0.5, [("L", 0.34, 0.0, 0.34, 1.4), ("L", 0.34, 1.4, 0.0, 1.12)]),
    "2": (0.9, [("A", 0.45, 0.96, 0.44, 0.44, -38, 162), ("L", 0.8, 0.69, 0.0, 0.0),
                ("L", 0.0, 0.0, 0.92, 0.0)]),
}


class Text:
    """A line of lettering laid out in pixels.

    x_height is the ink's x-height and stroke the stroke width, both in
    pixels; (x, baseline) is where the ink of the first glyph starts and
    where the ink of x-height letters ends below.
    """

    def __init__(self, text, x_height, stroke, tracking=None):
        self.text = text
        self.stroke = stroke
        self.scale = x_height - stroke
        self.tracking = stroke * 0.9 + self.scale * 0.14 if tracking is None else tracking

    def width(self):
        w = 0.0
        for i, ch in enumerate(self.text):
            w += GLYPHS[ch][0] * self.scale + self.stroke
            if i + 1 < len(self.text):
                w += self.tracking
        return w

    def segments(self, x, baseline):
        """The strokes as line segments (x0, y0, x1, y1), dots as zero-length."""
        s = self.scale
        half = self.stroke / 2.0
        out = []
        pen = x + half
        base = baseline - half
        for ch in self.text:
            advance, strokes = GLYPHS[ch]
            for st in strokes:
                if st[0] == "L":
                    _, ax, ay, bx, by = st
                    out.append((pin(pen + ax * s), pin(base - ay * s),
                                pin(pen + bx * s), pin(base - by * s)))
                elif st[0] == "D":
                    _, dx, dy = st
                    px, py = pin(pen + dx * s), pin(base - dy * s)
                    out.append((px, py, px, py))
                else:
                    _, cx, cy, rx, ry, a0, a1 = st
                    length = math.radians(a1 - a0) * max(rx, ry) * s
                    n = max(8, int(math.ceil(length / 0.75)))
                    pts = []
                    for k in range(n + 1):
                        t = math.radians(a0 + (a1 - a0) * k / n)
                        pts.append((pin(pen + (cx + rx * math.cos(t)) * s),
                                    pin(base - (cy + ry * math.sin(t)) * s)))
                    for k in range(n):
                        out.append(pts[k] + pts[k + 1])
            pen += advance * s + self.stroke + self.tracking
        return out


def paint_strokes(canvas, segments, stroke, colour, opacity=1.0):
    """Paints the union of round-capped strokes, each edge anti-aliased."""
    if not segments:
        return
    pad = stroke / 2.0 + 1.5
    x0 = max(0, int(math.floor(min(min(s[0], s[2]) for s in segments) - pad)))
    y0 = max(0, int(math.floor(min(min(s[1], s[3]) for s in segments) - pad)))
    x1 = min(canvas.w, int(math.ceil(max(max(s[0], s[2]) for s in segments) + pad)))
    y1 = min(canvas.h, int(math.ceil(max(max(s[1], s[3]) for s in segments) + pad)))
    w = x1 - x0
    dist = [1e9] * (w * max(0, y1 - y0))
    for ax, ay, bx, by in segments:
        sx0 = max(x0, int(math.floor(min(ax, bx) - pad)))
        sy0 = max(y0, int(math.floor(min(ay, by) - pad)))
        sx1 = min(x1, int(math.ceil(max(ax, bx) + pad)))
        sy1 = min(y1, int(math.ceil(max(ay, by) + pad)))
        for y in range(sy0, sy1):
            row = (y - y0) * w - x0
            for x in range(sx0, sx1):
                d = segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by)
                if d < dist[row + x]:
                    dist[row + x] = d
    half = stroke / 2.0
    fixed = not callable(colour)
    for y in range(y0, y1):
        row = (y - y0) * w - x0
        for x in range(x0, x1):
            a = clamp01(half - dist[row + x] + 0.5) * opacity
            if a > 0.0:
                canvas.blend(x, y, colour if fixed else colour(x + 0.5, y + 0.5), a)


def draw_text(canvas, text, x, baseline, x_height, stroke, colour, tracking=None, opacity=1.0):
    t = Text(text, x_height, stroke, tracking)
    paint_strokes(canvas, t.segments(x, baseline), stroke, colour, opacity)
    return t.width()


# ---------------------------------------------------------------- texture


class Rng:
    """xorshift32: the same numbers on every machine and Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        s = self.state
        s ^= (s << 13) & 0xFFFFFFFF
        s ^= s >> 17
        s ^= (s << 5) & 0xFFFFFFFF
        self.state = s
        return s / 4294967296.0


def brushed_face(canvas, box, top, bottom, seed, amount=1.0):
    """Horizontal brushed-metal grain over a vertical gradient."""
    x0, y0, x1, y1 = box
    rng = Rng(seed)
    row_shade = 0.0
    for y in range(y0, y1):
        base = mix(top, bottom, (y - y0) / max(1, y1 - y0 - 1))
        row_shade = 0.55 * row_shade + 0.45 * (rng.next() - 0.5)
        knots = [rng.next() - 0.5 for _ in range((x1 - x0) // 23 + 3)]
        for x in range(x0, x1):
            t = (x - x0) / 23.0
            i = int(t)
            f = t - i
            f = f * f * (3.0 - 2.0 * f)
            fibre = knots[i] * (1.0 - f) + knots[i + 1] * f
            v = amount * (3.2 * row_shade + 1.6 * fibre + 0.8 * (rng.next() - 0.5))
            canvas.set(x, y, (base[0] + v, base[1] + v, base[2] + v * 1.1))


def window_frame(canvas, margin, inner_radius):
    """The frame of both window bitmaps: a margin of 5 px left and top and
    4 px right and bottom in the margin colour, then a 2-px grey border whose
    inside corners are rounded, so that the window region's rounding cuts
    through grey rather than through the face."""
    w, h = canvas.w, canvas.h
    for y in range(h):
        for x in range(w):
            if x < 5 or y < 5 or x >= w - 4 or y >= h - 4:
                canvas.set(x, y, margin)
    inner = sd_round_box(7, 7, w - 6, h - 6, inner_radius)
    box = (5, 5, w - 4, h - 4)
    canvas.paint(lambda x, y: -inner(x, y), BORDER_INNER, box)
    canvas.paint(lambda x, y: 1.0 - inner(x, y), BORDER_OUTER, box)


# ------------------------------------------------------------- background


def draw_logo(c):
    # Emblem: a blue rounded tile with a white Z.
    tile = sd_round_box(18, 19, 62, 63, 11)
    c.paint(sd_offset(tile, 0, 2.5), (20, 30, 50), (10, 12, 72, 76), opacity=0.28, soft=3.5)
    c.paint(tile, vertical(ACCENT_LIGHT, ACCENT_DARK, 19, 63), (16, 17, 64, 65))
    # A soft sheen over the upper half of the tile.
    sheen = sd_subtract(tile, sd_circle(40, 112, 66))
    c.paint(sheen, (255, 255, 255), (16, 17, 64, 65), opacity=0.12)
    ring = sd_subtract(tile, sd_round_box(19.2, 20.2, 60.8, 61.8, 9.8))
    c.paint(ring, ACCENT_DARK, (16, 17, 64, 65), opacity=0.55)
    z = [(29.5, 30.5, 50.5, 30.5), (50.5, 30.5, 29.5, 51.5), (29.5, 51.5, 50.5, 51.5)]
    paint_strokes(c, [(a + 0.6, b + 1.2, cc + 0.6, d + 1.2) for a, b, cc, d in z], 5.0,
                  ACCENT_DARK, 0.45)
    paint_strokes(c, z, 5.0, (250, 252, 254))

    # Word mark and the line under it.
    draw_text(c, "Zephlar", 72, 48, 15.5, 3.1, INK, tracking=2.6)
    draw_text(c, "Firmware Updater", 73, 63, 6.4, 1.25, ACCENT_DARK, tracking=1.45)


def draw_content_panel(c):
    outer = sd_round_box(199, 25, 579, 319, 10)
    c.paint(sd_offset(outer, 0, 3), (20, 30, 45), (186, 14, 592, 334), opacity=0.20, soft=6)
    c.paint(outer, (170, 177, 188), (196, 22, 582, 322))
    bezel = sd_round_box(200, 26, 578, 318, 9)
    c.paint(bezel, vertical((251, 252, 253), (238, 241, 245), 26, 318), (196, 22, 582, 322))
    # A recessed edge around the white face, then the face itself, exactly.
    c.fill_rect(205, 31, 573, 313, (205, 211, 219))
    c.fill_rect(206, 32, 572, 312, WHITE)


def draw_tool_picture(c):
    cx, cy = 101.0, 278.0

    # Light pool on the face behind the picture, and the shadow it casts.
    c.paint(sd_circle(cx, cy - 4, 40), (255, 255, 255), (cx - 82, cy - 86, cx + 82, cy + 78),
            opacity=0.45, soft=40)
    ground = 358.0

    def ground_shadow(x, y):
        return (math.sqrt(((x - cx - 4) / 44.0) ** 2 + ((y - ground) / 5.0) ** 2) - 1.0) * 5.0

    c.paint(ground_shadow, (20, 28, 40), (cx - 88, ground - 12, cx + 96, ground + 12),
            opacity=0.24, soft=5)

    # Wrench, lying behind the chip from lower left to upper right.
    ax, ay, bx, by = 36.0, 352.0, 158.0, 210.0
    length = math.hypot(bx - ax, by - ay)
    ux, uy = (bx - ax) / length, (by - ay) / length
    head_x, head_y = bx + ux * 6, by + uy * 6
    handle = sd_capsule(ax, ay, bx, by, 8.5)
    head = sd_circle(head_x, head_y, 21)
    jaw = sd_union(sd_oriented_box(head_x + ux * 14, head_y + uy * 14, ux, uy, 16, 7.5, 1.5),
                   sd_circle(head_x, head_y, 7.5))
    eye = sd_circle(ax + ux * 2, ay + uy * 2, 4.2)
    wrench = sd_subtract(sd_subtract(sd_union(handle, head), jaw), eye)

    def steel(x, y):
        t = clamp01(((x - ax) * -uy + (y - ay) * ux) / 42.0 + 0.5)  # across the handle
        t = clamp01((t - 0.4) * 4.0 + 0.5)
        return mix(STEEL_LIGHT, STEEL_DARK, t)

    box = (ax - 24, head_y - 36, head_x + 36, ay + 24)
    c.paint(sd_offset(wrench, 3, 5), (20, 28, 40), box, opacity=0.25, soft=3.5)
    c.paint(wrench, STEEL_EDGE, box)
    c.paint(lambda x, y: wrench(x, y) + 1.2, steel, box)
    groove = sd_capsule(ax + ux * 18, ay + uy * 18, ax + ux * 86, ay + uy * 86, 2.2)
    c.paint(groove, STEEL_DARK, box, opacity=0.7)
    c.paint(sd_offset(groove, -0.8, -0.8), STEEL_LIGHT, box, opacity=0.35,
            clip=lambda x, y: -groove(x, y))

    # Chip: a dark package with six pins on each side.
    half = 38.0
    body = sd_round_box(cx - half, cy - half, cx + half, cy + half, 7)
    pins = []
    for k in range(6):
        off = -27.5 + 11.0 * k
        pins.append(sd_round_box(cx + off - 3, cy - half - 9, cx + off + 3, cy + half + 9, 1.5))
        pins.append(sd_round_box(cx - half - 9, cy + off - 3, cx + half + 9, cy + off + 3, 1.5))
    pin_shape = sd_union(*pins)
    pbox = (cx - half - 12, cy - half - 12, cx + half + 12, cy + half + 12)
    sbox = (pbox[0], pbox[1], pbox[2] + 12, pbox[3] + 14)
    c.paint(sd_offset(sd_union(body, pin_shape), 3, 5), (20, 28, 40), sbox, opacity=0.3, soft=4)
    c.paint(pin_shape, PIN_EDGE, pbox)
    c.paint(lambda x, y: pin_shape(x, y) + 1.0, vertical((236, 240, 244), PIN, cy - 48, cy + 48),
            pbox)
    c.paint(body, (30, 35, 45), pbox)
    c.paint(lambda x, y: body(x, y) + 1.0, vertical(CHIP_TOP, CHIP_BOTTOM, cy - half, cy + half),
            pbox)
    top = sd_round_box(cx - 28, cy - 28, cx + 28, cy + 28, 5)
    c.paint(top, (86, 96, 112), pbox)
    c.paint(lambda x, y: top(x, y) + 1.0, vertical((62, 70, 84), (52, 59, 72), cy - 28, cy + 28),
            pbox)
    c.paint(sd_circle(cx - 20, cy + 20, 2.4), (40, 46, 58), pbox)

    # On the chip: an arrow going down into a tray, in the accent colour.
    glow = [(cx, cy - 17, cx, cy + 5), (cx - 10, cy - 5, cx, cy + 5), (cx + 10, cy - 5, cx, cy + 5),
            (cx - 15, cy + 5, cx - 15, cy + 14), (cx - 15, cy + 14, cx + 15, cy + 14),
            (cx + 15, cy + 14, cx + 15, cy + 5)]
    paint_strokes(c, glow, 9.0, ACCENT, 0.18)
    paint_strokes(c, glow, 4.2, ACCENT_LIGHT)


def draw_button_row(c):
    """A groove over the footer; the footer itself stays plain for the
    buttons, the version number and the credits above it."""
    for x in range(14, 587):
        fade = min(1.0, (x - 14) / 40.0, (586 - x) / 40.0)
        c.blend(x, 393, (188, 192, 199), fade)
        c.blend(x, 394, (250, 251, 252), fade)


def background():
    c = Canvas(600, 440, MAGENTA_BACKGROUND)
    brushed_face(c, (7, 7, 594, 395), FACE_TOP, FACE_BOTTOM, seed=0x5A1E)
    brushed_face(c, (7, 395, 594, 434), mix(FACE_BOTTOM, FACE_TOP, 0.2), FACE_BOTTOM,
                 seed=0x7E57, amount=0.45)
    window_frame(c, MAGENTA_BACKGROUND, 6)
    draw_logo(c)
    draw_content_panel(c)
    draw_tool_picture(c)
    draw_button_row(c)
    return c


def panel():
    c = Canvas(350, 90, MAGENTA_PANEL)
    brushed_face(c, (7, 7, 346, 86), FACE_TOP, FACE_BOTTOM, seed=0x9A7E)
    window_frame(c, MAGENTA_PANEL, 4)
    return c


# ---------------------------------------------------------------- buttons

# Per cell look: outline, fill top, fill bottom, label colour, label stroke,
# label offset (pressed labels sink by a pixel), top highlight strength.
BUTTON_LOOKS = [
    ((140, 148, 160), (255, 255, 255), (229, 233, 239), INK, 1.5, 0, 0.9),  # normal
    ((203, 207, 213), (248, 249, 250), (242, 244, 246), (176, 181, 189), 1.45, 0, 0.0),
    ((82, 92, 108), (212, 217, 225), (236, 239, 243), (104, 112, 124), 1.5, 1, 0.0),  # pressed
    ((140, 148, 160), (255, 255, 255), (229, 233, 239), (8, 12, 18), 1.75, 0, 0.9),
]


def button_strip(label):
    c = Canvas(320, 25, BUTTON_GROUND)
    for i, (edge, top, bottom, ink, stroke, sink, shine) in enumerate(BUTTON_LOOKS):
        ox = 80 * i
        # The outline runs x 2..77 and y 3..21 inside the cell.
        pill = sd_round_box(ox + 2, 3, ox + 78, 22, 9.5)
        box = (ox, 0, ox + 80, 25)
        c.paint(pill, edge, box)
        c.paint(lambda x, y, p=pill: p(x, y) + 1.0, vertical(top, bottom, 4, 21), box)
        if shine > 0.0:
            band = sd_round_box(ox + 10, 4, ox + 70, 5, 0.5)
            c.paint(band, (255, 255, 255), box, opacity=shine)
        t = Text(label, 7.0, stroke, tracking=1.15)
        x = ox + 40.0 - t.width() / 2.0 + sink * 0.5
        paint_strokes(c, t.segments(round(x * 2) / 2, 16.5 + sink), stroke, ink)
    return c


# ------------------------------------------------------------------- icon

# The standard 16-colour palette of 4-bit icons.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def icon_ink():
    """ "Zep" drawn pixel by pixel for a crisp 32 x 32 image: the Z 14 rows
    high, the lower case 10 rows with a 4-row descender, strokes of three
    pixels. Returns 1 for ink and 0 for ground, row by row from the top."""
    z = ["##########",
         "##########",
         "##########",
         "......####",
         ".....####.",
         "....####..",
         "....####..",
         "...####...",
         "..####....",
         ".####.....",
         "####......",
         "##########",
         "##########",
         "##########"]
    e = ["..#####..",
         ".#######.",
         "###...###",
         "###...###",
         "#########",
         "#########",
         "###......",
         "###......",
         ".########",
         "..######."]
    p = ["#######..",
         "########.",
         "###...###",
         "###...###",
         "###...###",
         "###...###",
         "###...###",
         "###...###",
         "########.",
         "#######..",
         "###......",
         "###......",
         "###......",
         "###......"]
    ink = [0] * (32 * 32)
    for glyph, left, top in ((z, 1, 7), (e, 12, 11), (p, 22, 11)):
        for dy, row in enumerate(glyph):
            for dx, ch in enumerate(row):
                if ch == "#":
                    ink[(top + dy) * 32 + left + dx] = 1
    return ink


def icon_file(ink):
    """The icon file: one 32 x 32 image, 4 bits per pixel with the standard
    16-colour palette, then its mask.

    Pillow's icon encoder writes PNG or 8-, 24- and 32-bit frames only, and
    always with an all-opaque mask, so the directory and the image's header
    are packed here; Pillow packs the mask's rows.
    """
    # Every colour index is 0, black: the letters are black, and a
    # transparent pixel must be 0 as well, or it inverts the screen under it.
    colours = bytes(32 * 32 // 2)
    # Mask bit 1 is transparent; rows bottom-up, like the colour image's.
    mask = Image.new("1", (32, 32))
    mask.putdata([0 if i else 255 for i in ink])
    mask_rows = mask.tobytes("raw", ("1", 0, -1))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(colours) + len(mask_rows), 0, 0,
                         0, 0)
    image = header + palette + colours + mask_rows
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


# --------------------------------------------------------------- palettes


def weighted_distance(a, b):
    dr, dg, db = a[0] - b[0], a[1] - b[1], a[2] - b[2]
    return 2 * dr * dr + 4 * dg * dg + 3 * db * db


def quantise(canvas, exact):
    """Maps the canvas to an image of 256 palette entries.

    Colours in exact keep their own entries, and only pixels of exactly that
    colour use them, so a margin or a face stays exactly where it was drawn.
    The other colours share the remaining entries by median cut over the
    distinct colours, which keeps entries for small details as well as for
    large gradients. (Pillow's quantisers neither reserve entries nor map
    colours by this weighted distance, and would move pixels.)
    """
    pixels = list(canvas.image().getdata())
    hist = {}
    for p in pixels:
        hist[p] = hist.get(p, 0) + 1
    fixed = sorted(set(exact) & set(hist))
    others = sorted(p for p in hist if p not in fixed)
    free = 256 - len(fixed)
    if len(others) <= free:
        shared = others
    else:
        boxes = [others]
        while len(boxes) < free:
            best, best_score = None, -1.0
            for i, b in enumerate(boxes):
                if len(b) < 2:
                    continue
                rng = max(max(p[ch] for p in b) - min(p[ch] for p in b) for ch in range(3))
                weight = sum(hist[p] for p in b)
                score = rng * rng * (weight ** 0.35)
                if score > best_score:
                    best, best_score = i, score
            if best is None:
                break
            b = boxes.pop(best)
            ranges = [max(p[ch] for p in b) - min(p[ch] for p in b) for ch in range(3)]
            ch = ranges.index(max(ranges))
            b.sort(key=lambda p: (p[ch], p))
            mid = len(b) // 2
            boxes += [b[:mid], b[mid:]]
        shared = []
        for b in boxes:
            weight = sum(hist[p] for p in b)
            mean = tuple(int(round(sum(p[ch] * hist[p] for p in b) / weight)) for ch in range(3))
            while mean in fixed:  # never reuse a reserved colour
                mean = (max(0, mean[0] - 1), max(0, mean[1] - 1), max(0, mean[2] - 1))
            shared.append(mean)
        shared = sorted(set(shared))
    palette = sorted(fixed + shared, key=lambda p: (p[0] * 3 + p[1] * 6 + p[2], p))
    index = {p: i for i, p in enumerate(palette)}
    shared_idx = [index[p] for p in shared]
    lookup = {}
    for colour in hist:
        if colour in index and (colour in fixed or colour in shared):
            lookup[colour] = index[colour]
        else:
            lookup[colour] = min(shared_idx,
                                 key=lambda i: (weighted_distance(colour, palette[i]), i))
    palette += [(0, 0, 0)] * (256 - len(palette))
    im = Image.frombytes("P", (canvas.w, canvas.h), bytes(lookup[p] for p in pixels))
    im.putpalette([v for p in palette for v in p])
    return im


# --------------------------------------------------------------- previews


def save_png(path, im, scale):
    im.resize((im.width * scale, im.height * scale), Image.Resampling.NEAREST).save(path)


def in_round_rect_region(x, y, left, top, right, bottom, ew, eh):
    """Approximately the pixels of a rounded-rectangle window region."""
    right -= 1
    bottom -= 1
    if not (left <= x < right and top <= y < bottom):
        return False
    rx, ry = ew / 2.0, eh / 2.0
    px, py = x + 0.5, y + 0.5
    cx = min(max(px, left + rx), right - rx)
    cy = min(max(py, top + ry), bottom - ry)
    return ((px - cx) / rx) ** 2 + ((py - cy) / ry) ** 2 <= 1.0


def paste_cut(c, ox, oy, width, height, shape, pixel):
    """Pixels pixel(x, y) of a width x height window at (ox, oy), inside the
    window region `shape` (CreateRoundRectRgn's arguments) only."""
    for y in range(height):
        for x in range(width):
            if in_round_rect_region(x, y, *shape):
                c.set(ox + x, oy + y, pixel(x, y))


def wizard_mock(bg, strips):
    """The page as the wizard paints it, on a desktop colour."""
    c = Canvas(640, 480, (58, 110, 165))
    ox, oy = 20, 20
    bg = bg.convert("RGB").load()
    paste_cut(c, ox, oy, 600, 440, (5, 5, 597, 437, 16, 16), lambda x, y: bg[x, y])
    for (left, top), strip, state in zip(((194, 404), (278, 404), (458, 404)), strips, (0, 0, 0)):
        strip = strip.convert("RGB").load()
        paste_cut(c, ox + left, oy + top, 80, 25, (2, 2, 79, 23, 16, 16),
                  lambda x, y, strip=strip, state=state: strip[80 * state + x, y])
    draw_text(c, "Welcome to the Zephlar", ox + 211, oy + 50, 9.5, 2.2, (0, 0, 0), tracking=1.2)
    body = ["This wizard updates the firmware of your zAze.",
            "Keep the zAze plugged in until the update is done."]
    for i, line in enumerate(body):
        draw_text(c, line, ox + 211, oy + 72 + 17 * i, 6.5, 1.15, (0, 0, 0), tracking=1.1)
    draw_text(c, "Zephlar firmware updater", ox + 201, oy + 361, 5.8, 1.05, (100, 100, 100),
              tracking=1.0)
    draw_text(c, "V2.01", ox + 9, oy + 428, 6.5, 1.2, (120, 120, 120), tracking=1.1)
    return c


def panel_mock(panel_image):
    """The device-search panel: the bitmap stretched over a 372 x 126 client
    area (dropping or repeating pixels, as the default stretching mode does),
    cut by its window region, with its text."""
    c = Canvas(412, 166, (58, 110, 165))
    ox, oy = 20, 20
    px = panel_image.convert("RGB").load()
    paste_cut(c, ox, oy, 372, 126, (5, 7, 369, 122, 14, 14),
              lambda x, y: px[x * 350 // 372, y * 90 // 126])
    lines = ["The Zephlar will attempt to automatically find the zAze",
             "attached to this computer. Make sure you have the zAze",
             "plugged into your computer."]
    for i, line in enumerate(lines):
        w = Text(line, 6.8, 1.2, 1.1).width()
        draw_text(c, line, ox + 186 - w / 2, oy + 27 + 17 * i, 6.8, 1.2, (0, 0, 0), 1.1)
    return c


def write_previews(directory, images, ink):
    os.makedirs(directory, exist_ok=True)
    for name, im in images.items():
        scale = 2 if im.width >= 300 and im.height >= 300 else 4
        save_png(os.path.join(directory, name + ".png"), im.convert("RGB"), scale)

    # The icon's ink on a checkerboard, which shows its transparent pixels.
    icon = Image.new("RGB", (32, 32))
    icon.putdata([(0, 0, 0) if ink[y * 32 + x] else
                  (255, 255, 255) if (x // 4 + y // 4) % 2 else (214, 220, 228)
                  for y in range(32) for x in range(32)])
    save_png(os.path.join(directory, "zephlar_icon.png"), icon, 8)
    strips = [images[name] for name in ("btn_back", "btn_next", "btn_cancel")]
    save_png(os.path.join(directory, "wizard_mock.png"),
             wizard_mock(images["background"], strips).image(), 1)
    save_png(os.path.join(directory, "panel_mock.png"), panel_mock(images["panel"]).image(), 1)


# ------------------------------------------------------------------- main


def draw_all():
    """The bitmaps as palette images by name, and the icon's ink."""
    images = {
        "background": quantise(background(),
                               [MAGENTA_BACKGROUND, BORDER_OUTER, BORDER_INNER, WHITE]),
    }
    for name, label in (("btn_back", "Back"), ("btn_next", "Next"), ("btn_cancel", "Cancel"),
                        ("btn_ok", "OK")):
        images[name] = quantise(button_strip(label), [BUTTON_GROUND])
    images["panel"] = quantise(panel(), [MAGENTA_PANEL, BORDER_OUTER, BORDER_INNER])
    return images, icon_ink()


def write_all(directory, images, ink):
    """Writes the pictures into directory and answers their file names."""
    os.makedirs(directory, exist_ok=True)
    names = []
    for name, im in images.items():
        # 72 dpi, 2835 pixels per metre, as the bitmaps declare (Pillow would say 96).
        im.save(os.path.join(directory, name + ".bmp"), "BMP", dpi=(72, 72))
        names.append(name + ".bmp")
    with open(os.path.join(directory, "zephlar.ico"), "wb") as f:
        f.write(icon_file(ink))
    names.append("zephlar.ico")
    return names


def check(committed, images, ink):
    """Draws into a temporary folder and compares that, byte by byte, with
    the committed files. Answers the exit status: 1 when any differs."""
    with tempfile.TemporaryDirectory(prefix="gen_resources.") as fresh:
        names = write_all(fresh, images, ink)
        drifted = [os.path.relpath(os.path.join(committed, name)) for name in names
                   if not os.path.exists(os.path.join(committed, name)) or
                   not filecmp.cmp(os.path.join(fresh, name), os.path.join(committed, name),
                                   shallow=False)]
    for path in drifted:
        print(f"gen_resources: {path} is not what tools/gen_resources.py draws")
    if drifted:
        print("gen_resources: run tools/gen_resources.py and commit its output, or undo the edit")
        return 1
    print(f"gen_resources: the {len(names)} pictures in {os.path.relpath(committed)} are current")
    return 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "resources"))
    parser.add_argument("--preview", metavar="DIR")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in --out instead of writing them")
    args = parser.parse_args()

    images, ink = draw_all()
    if args.preview:
        write_previews(args.preview, images, ink)
    if args.check:
        return check(args.out, images, ink)
    write_all(args.out, images, ink)
    return 0


if __name__ == "__main__":
    sys.exit(main())
