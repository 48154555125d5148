#!/usr/bin/env python3
"""Writes res/heatPalette.png: nine colour scales of 64 entries, one per row.

The G-code preview picks one row for its FeedRate and Extrusion colouring.
Each scale is a piecewise-linear ramp through the stops below (slow/low end
first). Standard library only: run it again after changing a stop.
"""
import colorsys
import struct
import sys
import zlib

WIDTH, ROWS = 64, 9

SCALES = [
    # 0 heat: deep blue, blue, cyan, green, yellow, red
    [(20, 20, 140), (30, 90, 255), (0, 220, 255), (40, 230, 60), (255, 230, 0), (255, 40, 20)],
    # 1 thermal: near black, red, orange, yellow, white
    [(30, 10, 10), (170, 20, 10), (255, 120, 0), (255, 220, 40), (255, 255, 235)],
    # 2 plum to lime
    [(70, 20, 90), (60, 80, 140), (30, 140, 140), (60, 190, 100), (220, 230, 40)],
    # 3 grey ramp
    [(50, 50, 50), (245, 245, 245)],
    # 4 blue, white, red
    [(30, 60, 200), (235, 235, 235), (210, 30, 30)],
    # 5 green, yellow, red
    [(20, 180, 40), (240, 220, 20), (220, 30, 20)],
    # 6 hue circle from blue round to red (filled in below)
    None,
    # 7 cyan to magenta
    [(0, 230, 255), (255, 0, 230)],
    # 8 navy, blue, cyan, white
    [(10, 20, 70), (20, 90, 200), (60, 210, 240), (240, 255, 255)],
]


def ramp(stops, i):
    t = i / (WIDTH - 1) * (len(stops) - 1)
    k = min(int(t), len(stops) - 2)
    f = t - k
    a, b = stops[k], stops[k + 1]
    return tuple(round(a[c] + (b[c] - a[c]) * f) for c in range(3))


def hue_row(i):
    h = (240 - 240 * i / (WIDTH - 1)) / 360.0
    r, g, b = colorsys.hsv_to_rgb(h, 0.9, 1.0)
    return (round(r * 255), round(g * 255), round(b * 255))


def rows():
    for s in SCALES:
        yield [hue_row(i) if s is None else ramp(s, i) for i in range(WIDTH)]


def png(pixel_rows):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixel_rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    header = struct.pack(">IIBBBBB", WIDTH, ROWS, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "res/heatPalette.png"
    with open(out, "wb") as f:
        f.write(png(list(rows())))
