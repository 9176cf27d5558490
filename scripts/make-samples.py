#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Vormelle's sample pages and writes them as TIFF files into resources/Samples/.

  letter-bitonal-g4.tif   a black and white letter page, 200 dpi, CCITT Group 4
  page-gray-8bit.tif      an 8-bit grayscale page with a step wedge and shading, 150 dpi, Deflate
  page-colour.tif         an RGB page with colour bars and shapes, 150 dpi, LZW
  document-3-pages.tif    a three-page black and white document, 200 dpi, CCITT Group 4

The pages are drawn here (text comes from a small built-in 5x7 font) as PBM/PGM/PPM pictures
and turned into TIFF by libtiff's ppm2tiff and tiffcp (Debian's libtiff-tools). Python 3
standard library only; the same files come out on every run.
"""

import math
import pathlib
import subprocess
import tempfile

FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": ["#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": ["..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."],
    " ": ["....."] * 7,
    ".": [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    ",": [".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."],
    "-": [".....", ".....", ".....", "#####", ".....", ".....", "....."],
    ":": [".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."],
    ";": [".....", ".##..", ".##..", ".....", ".##..", "..#..", ".#..."],
    "/": [".....", "....#", "...#.", "..#..", ".#...", "#....", "....."],
    "'": ["..#..", "..#..", ".....", ".....", ".....", ".....", "....."],
    "(": ["...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."],
    ")": [".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."],
}


class Page:
    """A picture of width x height pixels, `channels` bytes each (1 gray, 3 RGB)."""

    def __init__(self, width, height, channels, background):
        self.width, self.height, self.channels = width, height, channels
        self.pixels = bytearray(bytes(background) * (width * height))

    def fill(self, x0, y0, x1, y1, colour):
        x0, x1 = max(x0, 0), min(x1, self.width)
        run = bytes(colour) * (x1 - x0)
        for y in range(max(y0, 0), min(y1, self.height)):
            start = (y * self.width + x0) * self.channels
            self.pixels[start:start + len(run)] = run

    def frame(self, x0, y0, x1, y1, colour, thickness):
        self.fill(x0, y0, x1, y0 + thickness, colour)
        self.fill(x0, y1 - thickness, x1, y1, colour)
        self.fill(x0, y0, x0 + thickness, y1, colour)
        self.fill(x1 - thickness, y0, x1, y1, colour)

    def text(self, x, y, line, colour, scale):
        """Writes one line of text; returns the x after it."""
        for ch in line.upper():
            glyph = FONT.get(ch, FONT[" "])
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit == "#":
                        self.fill(x + gx * scale, y + gy * scale,
                                  x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
            x += 6 * scale
        return x

    def paragraph(self, x, y, lines, colour, scale, leading=11):
        for line in lines:
            self.text(x, y, line, colour, scale)
            y += leading * scale
        return y

    def shade(self, x0, y0, x1, y1, colour_at):
        """Fills a box pixel by pixel with colour_at(u, v), u and v running 0..1 across it."""
        for y in range(y0, y1):
            v = (y - y0) / max(y1 - y0 - 1, 1)
            for x in range(x0, x1):
                start = (y * self.width + x) * self.channels
                self.pixels[start:start + self.channels] = bytes(
                    colour_at((x - x0) / max(x1 - x0 - 1, 1), v))

    def disc(self, cx, cy, r, colour):
        for y in range(cy - r, cy + r + 1):
            half = int(math.sqrt(max(r * r - (y - cy) ** 2, 0)))
            self.fill(cx - half, y, cx + half + 1, y + 1, colour)

    def netpbm(self, bitonal=False):
        if bitonal:  # P4: 1 is black, rows padded to whole bytes
            out = bytearray(b"P4\n%d %d\n" % (self.width, self.height))
            pad = (-self.width) % 8
            for y in range(self.height):
                row = self.pixels[y * self.width:(y + 1) * self.width]
                bits = "".join("1" if v < 128 else "0" for v in row) + "0" * pad
                out += int(bits, 2).to_bytes((self.width + pad) // 8, "big")
            return bytes(out)
        magic = b"P5" if self.channels == 1 else b"P6"
        return magic + b"\n%d %d\n255\n" % (self.width, self.height) + bytes(self.pixels)


BLACK, WHITE = (0,), (255,)

LETTER_BODY = [
    "DEAR READER,",
    "",
    "THIS PAGE WAS DRAWN BY THE VORMELLE PROJECT TO STAND IN FOR A SCANNED",
    "BLACK AND WHITE LETTER. IT IS STORED WITH CCITT GROUP 4 COMPRESSION, THE",
    "FORM THAT MOST OFFICE SCANNERS AND FAX MACHINES USE FOR TEXT PAGES.",
    "",
    "ADD IT TO THE LIST WITH 'LOAD SAMPLE/EXAMPLE FILES', CHOOSE WHERE THE",
    "RESULTS GO AND PRESS 'START CONVERTING'. THE DJVU FILE THAT COMES OUT",
    "KEEPS THE PAGE SHARP AT A FRACTION OF THE SIZE OF A PDF.",
    "",
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG. 0123456789",
    "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS. (A-Z, 0-9, .,:/')",
]

TABLE = [
    ("ITEM", "PAGES", "SIZE"),
    ("LETTER, BITONAL", "1", "8.5 X 11 IN"),
    ("PAGE, GRAYSCALE", "1", "7 X 9 IN"),
    ("PAGE, COLOUR", "1", "7 X 9 IN"),
    ("DOCUMENT", "3", "5.8 X 8.3 IN"),
]


def letter():
    page = Page(1700, 2200, 1, WHITE)
    page.text(150, 150, "VORMELLE", BLACK, 10)
    page.fill(150, 240, 1550, 246, BLACK)
    page.text(150, 270, "SAMPLE LETTER - BLACK AND WHITE, 200 DPI", BLACK, 3)
    y = page.paragraph(150, 420, LETTER_BODY, BLACK, 3)
    y += 40
    columns = (150, 750, 1100, 1550)
    row_h = 60
    for r, cells in enumerate(TABLE):
        top = y + r * row_h
        if r == 0:
            page.fill(columns[0], top, columns[-1], top + row_h, (0,))
        for c, cell in enumerate(cells):
            page.text(columns[c] + 15, top + 20, cell, WHITE if r == 0 else BLACK, 3)
    page.frame(columns[0], y, columns[-1], y + row_h * len(TABLE), BLACK, 3)
    for c in columns[1:-1]:
        page.fill(c, y, c + 3, y + row_h * len(TABLE), BLACK)
    for r in range(1, len(TABLE)):
        page.fill(columns[0], y + r * row_h, columns[-1], y + r * row_h + 2, BLACK)
    page.paragraph(150, y + row_h * len(TABLE) + 100,
                   ["WITH KIND REGARDS,", "", "THE VORMELLE PROJECT"], BLACK, 3)
    # A signature: a few strokes drawn as a thick wave.
    for x in range(160, 560):
        yy = y + row_h * len(TABLE) + 330 + int(18 * math.sin(x / 23.0) + 8 * math.sin(x / 7.0))
        page.fill(x, yy, x + 2, yy + 5, BLACK)
    page.text(150, 2050, "PAGE 1 OF 1", BLACK, 2)
    return page


def gray():
    page = Page(1050, 1350, 1, (235,))
    page.text(75, 75, "GRAYSCALE SAMPLE", (20,), 6)
    page.text(75, 150, "8 BITS PER PIXEL, 150 DPI", (70,), 3)
    # A step wedge: eleven patches from black to white, each labelled.
    for i in range(11):
        level = round(i * 255 / 10)
        x0 = 75 + i * 82
        page.fill(x0, 230, x0 + 82, 330, (level,))
        page.text(x0 + 14, 345, "%3d" % level, (20,), 2)
    page.frame(75, 230, 75 + 11 * 82, 330, (0,), 2)
    # A smooth ramp and a shaded sphere, like a photograph on the page.
    page.shade(75, 400, 977, 460, lambda u, v: (round(255 * u),))

    def sphere(u, v):
        dx, dy = u - 0.5, v - 0.5
        d = math.hypot(dx, dy) * 2
        if d > 1:
            return (round(200 - 60 * v),)
        light = max(0.0, 1 - math.hypot(dx + 0.18, dy + 0.18) * 1.6)
        return (round(40 + 200 * light),)

    page.shade(75, 500, 575, 1000, sphere)
    page.paragraph(620, 520, [
        "A GRAYSCALE PAGE KEEPS",
        "EVERY SHADE OF THE SCAN.",
        "",
        "THE WEDGE ABOVE RUNS",
        "FROM 0 TO 255 IN STEPS",
        "OF ABOUT 25; THE RAMP",
        "BELOW IT IS CONTINUOUS.",
        "",
        "A GOOD CONVERSION SHOWS",
        "ALL ELEVEN STEPS APART.",
    ], (30,), 3, 12)
    page.paragraph(75, 1060, [
        "TEXT IN MID GRAY (128) ON A LIGHT PAGE:",
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG.",
    ], (128,), 3, 12)
    page.text(75, 1260, "VORMELLE SAMPLE - PAGE 1 OF 1", (60,), 2)
    return page


def colour():
    page = Page(1050, 1350, 3, (250, 248, 240))
    page.fill(0, 0, 1050, 170, (31, 95, 168))
    page.text(75, 50, "COLOUR SAMPLE", (255, 255, 255), 8)
    page.text(75, 125, "RGB, 8 BITS PER CHANNEL, 150 DPI", (220, 230, 255), 3)
    bars = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
            (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]
    for i, c in enumerate(bars):
        page.fill(75 + i * 112, 230, 75 + (i + 1) * 112, 430, c)
    page.frame(75, 230, 75 + 8 * 112, 430, (0, 0, 0), 2)
    page.shade(75, 460, 971, 520, lambda u, v: (
        round(255 * max(0.0, 1 - abs(u * 3 - 0.5) * 1.2)),
        round(255 * max(0.0, 1 - abs(u * 3 - 1.5) * 1.2)),
        round(255 * max(0.0, 1 - abs(u * 3 - 2.5) * 1.2))))
    page.disc(230, 700, 130, (230, 60, 50))
    page.disc(400, 760, 110, (60, 170, 80))
    page.disc(300, 880, 90, (250, 190, 40))
    page.paragraph(560, 600, [
        "A COLOUR PAGE: FLYERS,",
        "MAPS AND PHOTOGRAPHS.",
        "",
        "THE BARS ABOVE ARE THE",
        "EIGHT CORNERS OF THE RGB",
        "CUBE; THE STRIP BELOW",
        "THEM RUNS THROUGH RED,",
        "GREEN AND BLUE.",
    ], (40, 40, 40), 3, 12)
    page.paragraph(75, 1060, ["RED TEXT, GREEN TEXT AND BLUE TEXT:"], (40, 40, 40), 3)
    x = page.text(75, 1110, "RED ", (200, 30, 30), 3)
    x = page.text(x, 1110, "GREEN ", (30, 140, 40), 3)
    page.text(x, 1110, "BLUE", (30, 60, 200), 3)
    page.text(75, 1260, "VORMELLE SAMPLE - PAGE 1 OF 1", (90, 90, 90), 2)
    return page


def document_page(number, total):
    page = Page(1169, 1654, 1, WHITE)
    page.text(100, 100, "PAGE %d OF %d" % (number, total), BLACK, 9)
    page.fill(100, 180, 1069, 185, BLACK)
    page.text(100, 210, "A MULTI-PAGE SAMPLE DOCUMENT, A5, 200 DPI", BLACK, 3)
    lines = [
        "EVERY PAGE OF A MULTI-PAGE TIFF BECOMES ONE PAGE",
        "OF THE DJVU DOCUMENT, IN THE SAME ORDER.",
        "",
        "THIS IS PAGE NUMBER %d." % number,
    ]
    y = page.paragraph(100, 320, lines, BLACK, 3)
    # A big figure that tells the pages apart at a glance.
    glyph_scale = 60
    page.text(585 - 3 * glyph_scale + glyph_scale // 2, y + 80, str(number), BLACK, glyph_scale)
    page.text(100, 1540, "VORMELLE SAMPLE DOCUMENT - %d/%d" % (number, total), BLACK, 2)
    return page


def to_tiff(work, page, name, options, bitonal=False):
    source = work / (name + (".pbm" if bitonal else ".pnm"))
    source.write_bytes(page.netpbm(bitonal))
    target = work / (name + ".tif")
    subprocess.run(["ppm2tiff"] + options + [str(source), str(target)], check=True)
    return target


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "Samples"
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        made = {
            "letter-bitonal-g4.tif":
                to_tiff(work, letter(), "letter", ["-c", "g4", "-R", "200"], bitonal=True),
            "page-gray-8bit.tif": to_tiff(work, gray(), "gray", ["-c", "zip:2", "-R", "150"]),
            "page-colour.tif": to_tiff(work, colour(), "colour", ["-c", "lzw:2", "-R", "150"]),
        }
        pages = [to_tiff(work, document_page(n, 3), "doc%d" % n, ["-c", "g4", "-R", "200"],
                         bitonal=True) for n in (1, 2, 3)]
        joined = work / "document.tif"
        subprocess.run(["tiffcp", "-c", "g4"] + [str(p) for p in pages] + [str(joined)],
                       check=True)
        made["document-3-pages.tif"] = joined
        for name, path in made.items():
            (out / name).write_bytes(path.read_bytes())
            print("%-24s %7d bytes" % (name, (out / name).stat().st_size))


if __name__ == "__main__":
    main()
