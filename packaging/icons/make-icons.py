#!/usr/bin/env python3
"""Draws the small icons pixel by pixel: orvane-16.png, -24.png, -32.png.

At these sizes the scalable icon's "Z80" text smears into a blur, so each size
is drawn on its own pixel grid: a dark chip with pins on both sides and a
bold gold Z (16, 24 px) or "Z80" in a 5x7 pixel font (32 px). The PNGs are
kept in the source tree; run this again after changing a drawing.

    python3 packaging/icons/make-icons.py packaging/icons
"""
import struct
import sys
import zlib

COLOURS = {
    ".": (0, 0, 0, 0),
    "o": (0x14, 0x17, 0x1C, 255),  # outline and notch
    "b": (0x2B, 0x30, 0x38, 255),  # body
    "p": (0xB8, 0xBE, 0xC6, 255),  # pins
    "z": (0xF2, 0xC1, 0x4E, 255),  # lettering
}

FONT = {  # 5x7
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
}


def chip(size, body, pin_len, pin_rows, pin_h):
    """A size x size grid with the chip body (x0, y0, x1, y1 inclusive) and pins."""
    g = [["."] * size for _ in range(size)]
    x0, y0, x1, y1 = body
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            g[y][x] = "o" if edge else "b"
    for y in pin_rows:
        for dy in range(pin_h):
            for dx in range(1, pin_len + 1):
                g[y + dy][x0 - dx] = "p"
                g[y + dy][x1 + dx] = "p"
    mid = (x0 + x1) // 2  # the notch at the top
    notch = max(1, (x1 - x0) // 8)
    for x in range(mid - notch + 1, mid + notch + 1):
        for dy in range(1, notch + 1):
            g[y0 + dy][x] = "o"
    return g


def bold_z(g, left, top, width, height, stroke):
    """A Z whose bars are `stroke` rows thick and whose diagonal is stroke+1 wide."""
    right, bottom = left + width - 1, top + height - 1
    for s in range(stroke):
        for x in range(left, right + 1):
            g[top + s][x] = "z"
            g[bottom - s][x] = "z"
    first, last = top + stroke, bottom - stroke
    wide = stroke + 1
    for y in range(first, last + 1):
        t = (y - first) / max(1, last - first)
        start = round((right - wide + 1) * (1 - t) + left * t)
        for x in range(start, start + wide):
            g[y][x] = "z"


def text(g, left, top, s):
    for i, ch in enumerate(s):
        for dy, row in enumerate(FONT[ch]):
            for dx, c in enumerate(row):
                if c == "#":
                    g[top + dy][left + 6 * i + dx] = "z"


def icon16():
    g = chip(16, (3, 1, 12, 14), 2, (3, 6, 9, 12), 1)
    bold_z(g, 5, 4, 6, 8, 2)
    return g


def icon24():
    g = chip(24, (5, 1, 18, 22), 3, (3, 7, 11, 15, 19), 2)
    bold_z(g, 7, 6, 10, 12, 2)
    return g


def icon32():
    g = chip(32, (5, 2, 26, 29), 3, (5, 9, 13, 17, 21, 25), 2)
    text(g, 8, 12, "Z80")
    return g


def png(grid):
    size = len(grid)
    raw = b"".join(b"\0" + b"".join(bytes(COLOURS[c]) for c in row) for row in grid)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for size, draw in ((16, icon16), (24, icon24), (32, icon32)):
        grid = draw()
        with open(f"{out}/orvane-{size}.png", "wb") as f:
            f.write(png(grid))
        print(f"{size}x{size}:")
        print("\n".join("".join(row) for row in grid))
