#!/usr/bin/env python3
"""Draws the module's two worksheet pictures and writes them as 16-colour BMPs.

ICO_DK08.bmp (26 x 24) is the small picture and BMP_DK08.bmp (64 x 46) the large
one: a green I/O card with a chip, eight signal lines running to an 8-pin port
connector, and the gold edge contacts along the bottom. The .bmp files are
committed; run this again only to change the pictures:

    python3 resources/make-bitmaps.py
"""
import os
import struct

# The 16 standard VGA colours, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 dark red
    (0x00, 0x80, 0x00),  # 2 dark green: the board
    (0x80, 0x80, 0x00),  # 3 olive: the edge contacts
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 light grey: the background
    (0x80, 0x80, 0x80),  # 8 grey: the connector shell
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 green: board highlight
    (0xFF, 0xFF, 0x00),  # 11 yellow: signal lines and pins
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white: chip marking
]
BLACK, BOARD, CONTACT, GREY_BG, SHELL, HIGHLIGHT, LINE, WHITE = 0, 2, 3, 7, 8, 10, 11, 15

# 3 x 5 digits for the large picture's label.
GLYPHS = {
    "D": ["110", "101", "101", "101", "110"],
    "K": ["101", "101", "110", "101", "101"],
    "0": ["111", "101", "101", "101", "111"],
    "8": ["111", "101", "111", "101", "111"],
}


class Canvas:
    def __init__(self, width, height, colour):
        self.width = width
        self.height = height
        self.pixels = [[colour] * width for _ in range(height)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(max(y0, 0), min(y1, self.height - 1) + 1):
            for x in range(max(x0, 0), min(x1, self.width - 1) + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        self.fill(x0, y0, x1, y0, colour)
        self.fill(x0, y1, x1, y1, colour)
        self.fill(x0, y0, x0, y1, colour)
        self.fill(x1, y0, x1, y1, colour)

    def text(self, x, y, string, colour):
        for glyph in string:
            for row, bits in enumerate(GLYPHS[glyph]):
                for column, bit in enumerate(bits):
                    if bit == "1":
                        self.fill(x + column, y + row, x + column, y + row, colour)
            x += 4

    def bmp(self):
        """The picture as a bottom-up 4-bit BMP file."""
        row_bytes = ((self.width * 4 + 31) // 32) * 4
        rows = []
        for y in reversed(range(self.height)):
            line = self.pixels[y] + [0] * (row_bytes * 2 - self.width)
            rows.append(bytes((line[i] << 4) | line[i + 1] for i in range(0, row_bytes * 2, 2)))
        image = b"".join(rows)
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
        offset = 14 + 40 + len(palette)
        header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 4, 0, len(image),
                           2835, 2835, 16, 0)
        return header + info + palette + image


def draw_card(canvas, board, chip, connector, contacts, line_pitch):
    """A card: board rectangle, chip, eight lines from the chip to the connector."""
    bx0, by0, bx1, by1 = board
    canvas.fill(bx0, by0, bx1, by1, BOARD)
    canvas.fill(bx0, by0, bx1, by0, HIGHLIGHT)
    canvas.fill(bx0, by0, bx0, by1, HIGHLIGHT)
    canvas.frame(bx0 - 1, by0 - 1, bx1 + 1, by1 + 1, BLACK)

    cx0, cy0, cx1, cy1 = chip
    canvas.fill(cx0, cy0, cx1, cy1, BLACK)
    canvas.fill(cx0 + 1, cy0 + 1, cx0 + 1, cy0 + 1, WHITE)  # pin-1 dot

    kx0, ky0, kx1, ky1 = connector
    canvas.fill(kx0, ky0, kx1, ky1, SHELL)
    canvas.frame(kx0, ky0, kx1, ky1, BLACK)
    for line in range(8):
        y = ky0 + 2 + line * line_pitch
        canvas.fill(cx1 + 1, y, kx0 - 1, y, LINE)  # the signal line
        canvas.fill(kx0 + 1, y, kx1 - 1, y, LINE)  # its pin

    tx0, ty0, tx1, ty1, pitch = contacts
    for x in range(tx0, tx1 + 1, pitch):
        canvas.fill(x, ty0, x + pitch // 2 - 1, ty1, CONTACT)


def small_picture():
    canvas = Canvas(26, 24, GREY_BG)
    draw_card(canvas, board=(2, 2, 19, 18), chip=(4, 5, 8, 14), connector=(19, 1, 24, 19),
              contacts=(4, 19, 16, 21, 2), line_pitch=2)
    return canvas


def large_picture():
    canvas = Canvas(64, 46, GREY_BG)
    draw_card(canvas, board=(3, 3, 50, 36), chip=(8, 6, 17, 26), connector=(50, 2, 60, 28),
              contacts=(8, 37, 44, 41, 4), line_pitch=3)
    canvas.text(24, 30, "DK08", WHITE)
    return canvas


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, canvas in (("ICO_DK08.bmp", small_picture()), ("BMP_DK08.bmp", large_picture())):
        with open(os.path.join(here, name), "wb") as out:
            out.write(canvas.bmp())


if __name__ == "__main__":
    main()
