#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the window icon in the style of ui/resources/icon32.png at a larger size.

Two grey boxes joined by dotted lines through a small connector, in the grey
levels of the 16 and 32 px art. Only the Python standard library is needed.
At size 32 with line width 1 it draws the very pixels of ui/resources/icon32.png.

    draw_icon.py 48 1 icon48.png
    draw_icon.py 128 2 icon128.png
"""
import struct
import sys
import zlib

CASE, FRAME, SCREEN, PANEL, CONNECTOR, DOT = 0x40, 0xA9, 0x60, 0xB0, 0x20, 0x00
SHADOW_ALPHA = 16


def write_png(path, pixels):
    size = len(pixels)
    rows = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 4, 0, 0, 0)  # 8-bit grey + alpha
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def draw(size, lw):
    """The art is laid out on a 32-unit grid; lw is the line width in pixels."""
    def at(unit):
        return int(unit * size / 32 + 0.5)

    pixels = [[(0, 0)] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, grey, alpha=255):
        for y in range(y0, y1):
            for x in range(x0, x1):
                pixels[y][x] = (grey, alpha)

    def box(left, right):
        x0, y0, x1, y1 = at(left), at(8), at(right), at(24)
        fill(x1, y0, x1 + lw, y1, CASE, SHADOW_ALPHA)
        fill(x0, y1, x1, y1 + lw, CASE, SHADOW_ALPHA)
        fill(x0, y0, x1, y1, CASE)
        fill(x0 + lw, y0 + lw, x1 - lw, y1 - lw, FRAME)
        fill(x0 + 2 * lw, y0 + 2 * lw, x1 - 2 * lw, at(14), SCREEN)
        fill(x0 + 2 * lw, at(14), x1 - 2 * lw, y1 - lw, PANEL)
        return x0, x1

    _, left_box_end = box(1, 10)
    right_box_start, _ = box(22, 31)
    connector_start, connector_end = at(14), at(18)
    fill(connector_start, at(13), connector_end, at(19), CONNECTOR)
    for y in (at(15), at(17)):
        for i in range((connector_start - left_box_end) // (2 * lw)):
            x = left_box_end + 2 * lw * i
            fill(x, y, x + lw, y + lw, DOT)
        for i in range((right_box_start - connector_end) // (2 * lw)):
            x = right_box_start - lw - 2 * lw * i
            fill(x, y, x + lw, y + lw, DOT)
    return pixels


if __name__ == "__main__":
    size, line_width, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    write_png(path, draw(size, line_width))
