#!/usr/bin/env python3
"""Draws the library's 31 cursors (resources 2001-2031) and its icon (3001).

Writes standard .cur and .ico files (32-bit BGRA images with an AND mask)
into src/resources/cursors/ and src/resources/icons/. The files are
committed, so the build never runs this; run it again after changing a
shape:  python3 scripts/make-cursors.py
Standard library only.
"""

import math
import os
import struct
import sys

SIZE = 32
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)


class Canvas:
    """An RGBA raster, top row first, with shape masks drawn onto it."""

    def __init__(self, size=SIZE):
        self.size = size
        self.px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def put(self, x, y, color):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = color

    def paint(self, mask, fill=WHITE, outline=BLACK):
        """Fills a mask and rings it with a one-pixel outline, so the shape
        shows on light and dark backgrounds alike."""
        if outline is not None:
            for (x, y) in dilate(mask, self.size) - mask:
                self.put(x, y, outline)
        for (x, y) in mask:
            self.put(x, y, fill)


def dilate(mask, size):
    out = set()
    for (x, y) in mask:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                nx, ny = x + dx, y + dy
                if 0 <= nx < size and 0 <= ny < size:
                    out.add((nx, ny))
    return out


def polygon(points, size=SIZE):
    """Pixels whose centres lie inside the polygon (even-odd rule)."""
    mask = set()
    n = len(points)
    for y in range(size):
        cy = y + 0.5
        xs = []
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 <= cy < y2) or (y2 <= cy < y1):
                xs.append(x1 + (cy - y1) * (x2 - x1) / (y2 - y1))
        xs.sort()
        for a, b in zip(xs[0::2], xs[1::2]):
            for x in range(size):
                if a <= x + 0.5 < b:
                    mask.add((x, y))
    return mask


def rect(x0, y0, x1, y1):
    """Pixels x0..x1, y0..y1 inclusive."""
    return {(x, y) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1)}


def line(x0, y0, x1, y1, width=1.0, size=SIZE):
    """Pixels within width/2 of the segment."""
    mask = set()
    r = width / 2.0
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    for y in range(size):
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length2))
            qx, qy = x0 + t * dx, y0 + t * dy
            if (px - qx) ** 2 + (py - qy) ** 2 <= r * r:
                mask.add((x, y))
    return mask


def disc(cx, cy, r, size=SIZE):
    return {(x, y) for y in range(size) for x in range(size)
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r}


def ring(cx, cy, r, width=1.5, size=SIZE):
    return disc(cx, cy, r + width / 2, size) - disc(cx, cy, r - width / 2, size)


def arrow_head(tip, direction, length=5, half=4):
    """A triangle pointing along direction (a unit vector) with its tip at tip."""
    tx, ty = tip
    dx, dy = direction
    bx, by = tx - dx * length, ty - dy * length
    nx, ny = -dy, dx
    return polygon([(tx, ty), (bx + nx * half, by + ny * half), (bx - nx * half, by - ny * half)])


def double_arrow(x0, y0, x1, y1):
    """A shaft with heads at both ends."""
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    shaft = line(x0 + ux * 4, y0 + uy * 4, x1 - ux * 4, y1 - uy * 4, 2.0)
    return shaft | arrow_head((x1, y1), (ux, uy)) | arrow_head((x0, y0), (-ux, -uy))


# The standard pointer: tip at (1, 1).
ARROW = [(1, 1), (1, 18), (5, 14), (8, 21), (11, 20), (8, 13), (13, 13)]


def arrow():
    return polygon(ARROW)


# Each cursor: (number, description, draw(canvas) -> hotspot).

def c_split_h_grips(c):
    c.paint(double_arrow(4, 16, 28, 16) | rect(15, 6, 16, 26))
    for y in (9, 12, 20, 23):
        c.put(13, y, BLACK)
        c.put(18, y, BLACK)
    return 16, 16


def c_split_v_grips(c):
    c.paint(double_arrow(16, 4, 16, 28) | rect(6, 15, 26, 16))
    for x in (9, 12, 20, 23):
        c.put(x, 13, BLACK)
        c.put(x, 18, BLACK)
    return 16, 16


def hand(c, fingers_up):
    palm = rect(9, 14, 22, 25) | polygon([(9, 25), (22, 25), (20, 29), (11, 29)])
    fingers = set()
    for i, x in enumerate((9, 13, 17)):
        top = 4 if fingers_up else 11
        if not fingers_up and i == 0:
            top = 12
        fingers |= rect(x, top + (1 if i != 1 else 0), x + 2, 15)
    fingers |= rect(21, 8 if fingers_up else 12, 23, 16)
    thumb = line(9, 20, 4, 14, 3.0)
    c.paint(palm | fingers | thumb)
    return 15, 6 if fingers_up else 12


def c_hand_open(c):
    return hand(c, True)


def c_hand_grab(c):
    return hand(c, False)


def c_hand_point(c):
    shape = rect(12, 2, 14, 16) | rect(10, 14, 22, 26) | rect(16, 11, 18, 15) \
        | rect(19, 12, 21, 15) | line(11, 20, 6, 15, 3.0)
    c.paint(shape)
    return 13, 2


def c_cross(c):
    c.paint(rect(15, 2, 16, 29) | rect(2, 15, 29, 16), fill=BLACK, outline=WHITE)
    return 16, 16


def c_cross_circle(c):
    c.paint(ring(16, 16, 9) | rect(15, 2, 16, 11) | rect(15, 21, 16, 29) | rect(2, 15, 11, 16)
            | rect(21, 15, 29, 16), fill=BLACK, outline=WHITE)
    return 16, 16


def magnifier(c, sign):
    glass = ring(12, 12, 8, 2.5)
    handle = line(18, 18, 28, 28, 4.0)
    c.paint(glass | handle)
    c.paint(disc(12, 12, 6.6) - glass, fill=(230, 240, 255, 255), outline=None)
    if sign in ("+", "-"):
        c.paint(rect(8, 11, 15, 12), fill=BLACK, outline=None)
    if sign == "+":
        c.paint(rect(11, 8, 12, 15), fill=BLACK, outline=None)
    return 12, 12


def c_zoom_in(c):
    return magnifier(c, "+")


def c_zoom_out(c):
    return magnifier(c, "-")


def c_zoom(c):
    return magnifier(c, "")


def c_size_we(c):
    c.paint(double_arrow(3, 16, 29, 16))
    return 16, 16


def c_size_ns(c):
    c.paint(double_arrow(16, 3, 16, 29))
    return 16, 16


def c_size_nwse(c):
    c.paint(double_arrow(5, 5, 27, 27))
    return 16, 16


def c_size_nesw(c):
    c.paint(double_arrow(27, 5, 5, 27))
    return 16, 16


def c_move(c):
    c.paint(double_arrow(3, 16, 29, 16) | double_arrow(16, 3, 16, 29))
    return 16, 16


def c_ibeam(c):
    c.paint(rect(15, 5, 16, 26) | rect(11, 4, 14, 5) | rect(17, 4, 20, 5) | rect(11, 26, 14, 27)
            | rect(17, 26, 20, 27), fill=BLACK, outline=WHITE)
    return 16, 16


def c_pen(c):
    body = polygon([(4, 28), (6, 22), (24, 4), (28, 8), (10, 26)])
    c.paint(body)
    c.paint(line(20, 6, 26, 12, 1.2), fill=BLACK, outline=None)
    c.paint(polygon([(4, 28), (6, 22), (10, 26)]), fill=BLACK, outline=None)
    return 4, 28


def flag(c, notch):
    pole = rect(4, 3, 5, 29)
    cloth = polygon([(6, 3), (24, 3), (19, 9) if notch else (24, 9), (24, 15), (6, 15)])
    c.paint(pole | cloth)
    c.paint(cloth, fill=(220, 40, 40, 255) if notch else (40, 90, 220, 255), outline=None)
    return 4, 29


def c_marker_a(c):
    return flag(c, False)


def c_marker_b(c):
    return flag(c, True)


def c_locator(c):
    c.paint(rect(15, 8, 16, 30) | polygon([(9, 1), (23, 1), (16, 9)]))
    return 16, 16


def c_arrow(c):
    c.paint(arrow())
    return 1, 1


def c_arrow_copy(c):
    c.paint(arrow())
    c.paint(rect(17, 19, 29, 31), fill=WHITE)
    c.paint(rect(22, 21, 24, 29) | rect(19, 24, 27, 26), fill=BLACK, outline=None)
    return 1, 1


def c_arrow_drag(c):
    c.paint(arrow())
    box = rect(17, 20, 29, 30) - rect(18, 21, 28, 29)
    c.paint(box, fill=BLACK, outline=WHITE)
    return 1, 1


def c_no_drop(c):
    c.paint(ring(16, 16, 11, 4.0) | line(8, 24, 24, 8, 4.0), fill=(210, 30, 30, 255))
    return 16, 16


def c_eraser(c):
    c.paint(polygon([(3, 21), (16, 8), (26, 18), (13, 31)]))
    c.paint(polygon([(3, 21), (8, 16), (18, 26), (13, 31)]), fill=(230, 120, 150, 255), outline=None)
    return 4, 22


def c_pipette(c):
    c.paint(line(5, 27, 19, 13, 3.0) | disc(23, 9, 5.5))
    c.paint(disc(23, 9, 4.0), fill=BLACK, outline=None)
    return 4, 28


def c_play(c):
    c.paint(arrow())
    c.paint(polygon([(16, 16), (30, 23), (16, 30)]), fill=(40, 170, 60, 255))
    return 1, 1


def c_hourglass(c):
    glass = polygon([(7, 3), (25, 3), (25, 6), (18, 15), (18, 17), (25, 26), (25, 29), (7, 29),
                     (7, 26), (14, 17), (14, 15), (7, 6)])
    c.paint(glass)
    c.paint(polygon([(11, 8), (21, 8), (16, 14)]) | polygon([(16, 20), (22, 27), (10, 27)]),
            fill=(200, 160, 60, 255), outline=None)
    return 16, 16


def c_range_start(c):
    c.paint(rect(9, 4, 11, 28) | rect(9, 4, 17, 6) | rect(9, 26, 17, 28) | line(13, 16, 27, 16, 2.0)
            | arrow_head((29, 16), (1, 0)))
    return 10, 16


def c_range_end(c):
    c.paint(rect(20, 4, 22, 28) | rect(14, 4, 22, 6) | rect(14, 26, 22, 28) | line(4, 16, 18, 16, 2.0)
            | arrow_head((2, 16), (-1, 0)))
    return 21, 16


def c_zoom_range(c):
    c.paint(rect(2, 8, 3, 24) | rect(28, 8, 29, 24) | double_arrow(5, 16, 26, 16))
    return 16, 16


CURSORS = [
    (2001, "horizontal split with grips", c_split_h_grips),
    (2002, "vertical split with grips", c_split_v_grips),
    (2003, "open hand", c_hand_open),
    (2004, "grabbing hand", c_hand_grab),
    (2005, "pointing hand", c_hand_point),
    (2006, "crosshair", c_cross),
    (2007, "crosshair with circle", c_cross_circle),
    (2008, "zoom in", c_zoom_in),
    (2009, "zoom out", c_zoom_out),
    (2010, "magnifier", c_zoom),
    (2011, "horizontal resize", c_size_we),
    (2012, "vertical resize", c_size_ns),
    (2013, "diagonal resize NW-SE", c_size_nwse),
    (2014, "diagonal resize NE-SW", c_size_nesw),
    (2015, "move", c_move),
    (2016, "I-beam", c_ibeam),
    (2017, "pen", c_pen),
    (2018, "marker A flag", c_marker_a),
    (2019, "marker B flag", c_marker_b),
    (2020, "locator", c_locator),
    (2021, "arrow", c_arrow),
    (2022, "arrow with plus", c_arrow_copy),
    (2023, "arrow with box", c_arrow_drag),
    (2024, "no drop", c_no_drop),
    (2025, "eraser", c_eraser),
    (2026, "pipette", c_pipette),
    (2027, "arrow with play", c_play),
    (2028, "hourglass", c_hourglass),
    (2029, "range start", c_range_start),
    (2030, "range end", c_range_end),
    (2031, "zoom range", c_zoom_range),
]


def film_icon(size):
    """A film strip with sprocket holes and one still (sky, sun, hill)."""
    c = Canvas(size)
    s = size / 32.0
    strip = (28, 28, 32, 255)
    for y in range(int(3 * s), int(29 * s)):
        for x in range(size):
            c.put(x, y, strip)
    hole = (235, 235, 225, 255)
    step = int(4 * s)
    for x in range(int(1 * s), size, step):
        for dy in range(int(2 * s)):
            for dx in range(int(2 * s)):
                c.put(x + dx, int(4 * s) + dy, hole)
                c.put(x + dx, int(26 * s) + dy, hole)
    x0, y0, x1, y1 = int(3 * s), int(8 * s), size - int(3 * s), int(24 * s)
    for y in range(y0, y1):
        for x in range(x0, x1):
            t = (y - y0) / max(1, (y1 - y0))
            c.put(x, y, (int(90 + 80 * t), int(160 + 60 * t), 235, 255))
    cx, cy, r = x0 + (x1 - x0) * 0.72, y0 + (y1 - y0) * 0.3, 3 * s
    for (x, y) in disc(cx, cy, r, size):
        c.put(x, y, (250, 210, 60, 255))
    for x in range(x0, x1):
        top = y0 + (y1 - y0) * (0.62 + 0.18 * math.cos((x - x0) / (x1 - x0) * math.pi * 1.4))
        for y in range(int(top), y1):
            c.put(x, y, (60, 150, 70, 255))
    return c


def dib(canvas):
    """BITMAPINFOHEADER + bottom-up BGRA rows + 1-bit AND mask."""
    n = canvas.size
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in reversed(range(n)):
        for x in range(n):
            r, g, b, a = canvas.px[y][x]
            xor += bytes((b, g, r, a))
    stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(n)):
        row = bytearray(stride)
        for x in range(n):
            if canvas.px[y][x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(xor) + bytes(mask)


def container(kind, images):
    """An ICONDIR of kind 1 (icon) or 2 (cursor) over (canvas, hotspot)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for canvas, hotspot in images:
        data = dib(canvas)
        n = canvas.size
        wh = 0 if n >= 256 else n
        if kind == 2:
            planes, bits = hotspot
        else:
            planes, bits = 1, 32
        out += struct.pack("<BBBBHHII", wh, wh, 0, 0, planes, bits, len(data), offset)
        offset += len(data)
        blobs.append(data)
    return out + b"".join(blobs)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources")
    cur_dir = os.path.join(root, "cursors")
    ico_dir = os.path.join(root, "icons")
    os.makedirs(cur_dir, exist_ok=True)
    os.makedirs(ico_dir, exist_ok=True)
    for number, _, draw in CURSORS:
        c = Canvas()
        hx, hy = draw(c)
        if not (0 <= hx < SIZE and 0 <= hy < SIZE):
            sys.exit("cursor %d: hotspot outside the image" % number)
        with open(os.path.join(cur_dir, "%d.cur" % number), "wb") as f:
            f.write(container(2, [(c, (hx, hy))]))
    with open(os.path.join(ico_dir, "3001.ico"), "wb") as f:
        f.write(container(1, [(film_icon(32), None), (film_icon(64), None)]))
    print("wrote %d cursors and 1 icon" % len(CURSORS))


if __name__ == "__main__":
    main()
