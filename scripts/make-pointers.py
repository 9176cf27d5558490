#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Vormelle's two pointer files and writes them as Windows pointer files.

  HAND-M.CUR  the hand shown over push buttons (a cursor file, hot spot at the fingertip)
  drag.ico    the pointer shown while a list row is carried (an icon; its centre is the spot)

Both are 32x32, 32 bits per pixel with alpha plus the 1-bit AND mask that older readers use.
Run from anywhere; the files land in resources/pointers/. Python 3 standard library only, and
the output is the same byte for byte on every run, so the committed files can be checked.
"""

import pathlib
import struct

SIZE = 32
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)
GREY = (96, 96, 96, 255)
CLEAR = (0, 0, 0, 0)

# The hand: '#' outline, 'o' fill, '.' nothing. The index finger's tip is the hot spot.
HAND = [
    ".....##..........",
    "....#oo#.........",
    "....#oo#.........",
    "....#oo#.........",
    "....#oo#.........",
    "....#oo###.......",
    "....#oo#oo###....",
    "....#oo#oo#oo#...",
    "....#oo#oo#oo###.",
    ".##.#oo#oo#oo#oo#",
    "#oo##oo#oo#oo#oo#",
    "#ooo#ooooooooooo#",
    ".#oooooooooooooo#",
    "..#ooooooooooooo#",
    "..#ooooooooooooo#",
    "...#oooooooooooo#",
    "...#ooooooooooo#.",
    "....#oooooooooo#.",
    "....#oooooooooo#.",
    ".....#oooooooo#..",
    ".....#oooooooo#..",
    ".....##########..",
]
HAND_AT = (8, 4)  # where the drawing's top left corner sits in the 32x32 picture
HAND_TIP = (HAND_AT[0] + 5, HAND_AT[1])


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def draw_hand():
    pixels = blank()
    for y, row in enumerate(HAND):
        for x, c in enumerate(row):
            if c != ".":
                pixels[HAND_AT[1] + y][HAND_AT[0] + x] = BLACK if c == "#" else WHITE
    return pixels


def draw_drag():
    """A row card with arrows up and down: the carried row can go either way."""
    filled = set()
    for y in range(2, 10):  # arrow up
        w = y - 2
        filled.update((x, y) for x in range(15 - w, 17 + w))
    for y in range(22, 30):  # arrow down
        w = 29 - y
        filled.update((x, y) for x in range(15 - w, 17 + w))
    for y in list(range(10, 13)) + list(range(19, 22)):  # shafts
        filled.update((x, y) for x in range(14, 18))
    for y in range(13, 19):  # the row
        filled.update((x, y) for x in range(5, 27))

    pixels = blank()
    for y in range(SIZE):
        for x in range(SIZE):
            if (x, y) in filled:
                pixels[y][x] = WHITE
            elif any((x + dx, y + dy) in filled for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                pixels[y][x] = BLACK
    for x in range(8, 24):  # a line of text on the row
        pixels[15][x] = pixels[16][x] = GREY
    return pixels


def dib(pixels):
    """The picture as a Windows DIB: header, BGRA rows bottom-up, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (31 - x)  # 1 = transparent
        mask += struct.pack(">I", bits)
    return header + bytes(colour) + bytes(mask)


def pointer_file(pixels, kind, hotspot=None):
    """kind 1 writes an icon file, kind 2 a cursor file (whose entry holds the hot spot)."""
    image = dib(pixels)
    if kind == 2:
        fields = hotspot  # x, y
    else:
        fields = (1, 32)  # planes, bits per pixel
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, fields[0], fields[1], len(image), 6 + 16)
    return directory + entry + image


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "pointers"
    out.mkdir(parents=True, exist_ok=True)
    (out / "HAND-M.CUR").write_bytes(pointer_file(draw_hand(), 2, HAND_TIP))
    (out / "drag.ico").write_bytes(pointer_file(draw_drag(), 1))
    print("wrote", out / "HAND-M.CUR", "and", out / "drag.ico")


if __name__ == "__main__":
    main()
