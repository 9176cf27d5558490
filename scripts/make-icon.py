#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Vormelle's program icon: a scanned page turning into a document, on a blue tile.

Writes resources/icons/vormelle-256.png and vormelle-48.png (RGBA PNG). Every pixel is
computed from distances to the shapes, so each size is drawn sharp, not scaled down.
Python 3 standard library only; the output is the same byte for byte on every run.
"""

import math
import pathlib
import struct
import zlib


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def rounded_box(x, y, cx, cy, hw, hh, r):
    """Signed distance to a rounded rectangle (negative inside), in icon units."""
    qx = abs(x - cx) - hw + r
    qy = abs(y - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def over(dst, colour, coverage):
    """Paints colour (r, g, b, a in 0..1) over dst with the given coverage."""
    a = colour[3] * coverage
    out_a = a + dst[3] * (1 - a)
    if out_a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = [(colour[i] * a + dst[i] * dst[3] * (1 - a)) / out_a for i in range(3)]
    return (mix[0], mix[1], mix[2], out_a)


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour, 16)
    return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, alpha)


def shapes(x, y):
    """The layers at (x, y) in a 0..1 square: each a colour and a signed distance."""
    layers = []
    # The tile, darker towards the bottom.
    shade = 0.85 + 0.15 * (1 - y)
    tile = rgb("1f5fa8")
    layers.append(((tile[0] * shade, tile[1] * shade, tile[2] * shade, 1.0),
                   rounded_box(x, y, 0.5, 0.5, 0.46, 0.46, 0.1)))
    # The page with its text lines.
    layers.append((rgb("000000", 0.25), rounded_box(x, y, 0.43, 0.47, 0.24, 0.32, 0.03)))
    layers.append((rgb("ffffff"), rounded_box(x, y, 0.41, 0.45, 0.24, 0.32, 0.03)))
    for i in range(6):
        line_y = 0.25 + i * 0.08
        half = 0.15 if i % 3 != 2 else 0.09
        left = 0.26
        layers.append((rgb("5a6b7d"),
                       rounded_box(x, y, left + half, line_y, half, 0.016, 0.016)))
    # The badge with an arrow: the page becomes a document.
    layers.append((rgb("000000", 0.25), circle(x, y, 0.71, 0.73, 0.19)))
    layers.append((rgb("f29b1d"), circle(x, y, 0.70, 0.71, 0.19)))
    shaft = rounded_box(x, y, 0.655, 0.71, 0.085, 0.03, 0.01)
    # Arrow head: a triangle pointing right, as the largest of three edge distances.
    tip_x, base_x, half_h = 0.83, 0.72, 0.095
    slope = half_h / (tip_x - base_x)
    norm = math.hypot(1, slope)
    head = max(base_x - x, (slope * (x - tip_x) + abs(y - 0.71)) / norm)
    layers.append((rgb("ffffff"), min(shaft, head)))
    return layers


def draw(size):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / size, (py + 0.5) / size
            pixel = (0.0, 0.0, 0.0, 0.0)
            for colour, distance in shapes(x, y):
                coverage = min(max(0.5 - distance * size, 0.0), 1.0)
                if coverage > 0:
                    pixel = over(pixel, colour, coverage)
            row += [round(c * 255) for c in pixel]
        rows.append(row)
    return png(size, size, rows)


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "icons"
    out.mkdir(parents=True, exist_ok=True)
    for size in (256, 48):
        (out / f"vormelle-{size}.png").write_bytes(draw(size))
    print("wrote", out)


if __name__ == "__main__":
    main()
