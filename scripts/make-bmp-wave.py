#!/usr/bin/env python3
"""Draws BMP_WAVE, the wave dialogs' picture for files that carry none:
a 32 x 32, 16-colour BMP of a page with a green waveform. Its bottom-left
pixel holds the colour drawn transparent (teal, unused elsewhere)."""
import math
import struct
import sys

# The 16 standard colours, as blue, green, red, 0.
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DKGREEN, TEAL, GREY, GREEN, WHITE = 0, 2, 6, 8, 10, 15
W = H = 32


def draw():
    px = [[TEAL] * W for _ in range(H)]  # rows top-down
    # A page with a folded corner.
    for y in range(2, 30):
        for x in range(4, 28):
            px[y][x] = WHITE
    for i in range(6):
        for j in range(6 - i):
            px[2 + i][27 - j] = TEAL
    for y in range(2, 30):
        px[y][4] = BLACK
        if y >= 8:
            px[y][27] = BLACK
    for x in range(4, 28):
        px[29][x] = BLACK
        if x <= 21:
            px[2][x] = BLACK
    for i in range(7):
        px[2 + i][21 + i] = BLACK
    for y in range(2, 9):
        px[y][21] = BLACK if y <= 8 else px[y][21]
    for x in range(21, 28):
        px[8][x] = BLACK
    # The waveform: a decaying sine over the middle line.
    for x in range(6, 26):
        px[17][x] = GREY
    prev = None
    for x in range(6, 26):
        t = (x - 6) / 19
        y = 17 - round(8 * math.sin(t * 4 * math.pi) * (1 - 0.6 * t))
        lo, hi = (y, y) if prev is None else (min(prev, y), max(prev, y))
        for yy in range(lo, hi + 1):
            px[yy][x] = GREEN if yy != 17 else DKGREEN
        prev = y
    return px


def bmp(px):
    row_bytes = (W * 4 + 31) // 32 * 4
    rows = b""
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytearray(row_bytes)
        for x in range(W):
            row[x // 2] |= px[y][x] << (0 if x % 2 else 4)
        rows += bytes(row)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(rows), 0, 0, 16, 16)
    offset = 14 + len(info) + len(colours)
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return head + info + colours + rows


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "src/resources/bitmaps/bmp_wave.bmp"
    with open(out, "wb") as f:
        f.write(bmp(draw()))
