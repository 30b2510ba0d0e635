#!/usr/bin/env python3
"""Draws media/waiting.bmp: the picture a video cell shows until its first frame.

352 x 288, uncompressed 24-bit, bottom-up rows (no padding at this width). A calm dark
blue-grey field, a ring of twelve dots fading round like a spinner, and the word
WAITING underneath. Run it from the repository root to redraw the file.
"""
import math
import struct
import sys

W, H = 352, 288

# 5 x 7 capitals for the word underneath.
GLYPHS = {
    "W": ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "G": ["01111", "10000", "10000", "10111", "10001", "10001", "01111"],
}


def background(x, y):
    # Darker towards the edges, slightly lighter in the middle.
    dx, dy = (x - W / 2) / (W / 2), (y - H / 2) / (H / 2)
    v = 1.0 - 0.35 * min(1.0, dx * dx + dy * dy)
    return (int(28 * v), int(34 * v), int(44 * v))


def blend(under, over, alpha):
    return tuple(int(round(u + (o - u) * alpha)) for u, o in zip(under, over))


def main(path):
    pixels = [[background(x, y) for x in range(W)] for y in range(H)]

    # The spinner: twelve dots, brightest at the top, fading clockwise.
    cx, cy, ring, dot = W / 2, H / 2 - 16, 34.0, 6.0
    for i in range(12):
        angle = -math.pi / 2 - i * math.pi / 6
        px, py = cx + ring * math.cos(angle), cy + ring * math.sin(angle)
        level = 1.0 - i / 13.0
        colour = (int(90 + 120 * level), int(130 + 100 * level), int(170 + 80 * level))
        for y in range(int(py - dot - 2), int(py + dot + 3)):
            for x in range(int(px - dot - 2), int(px + dot + 3)):
                d = math.hypot(x + 0.5 - px, y + 0.5 - py)
                a = max(0.0, min(1.0, dot + 0.5 - d)) * (0.35 + 0.65 * level)
                if a > 0:
                    pixels[y][x] = blend(pixels[y][x], colour, a)

    # The word, each glyph cell drawn 3 x 3 pixels.
    word, scale, gap = "WAITING", 3, 2
    width = len(word) * (5 * scale + gap * scale) - gap * scale
    left, top = (W - width) // 2, int(cy + ring + 28)
    text_colour = (150, 170, 190)
    for n, letter in enumerate(word):
        rows = GLYPHS[letter]
        for gy, row in enumerate(rows):
            for gx, bit in enumerate(row):
                if bit != "1":
                    continue
                for sy in range(scale):
                    for sx in range(scale):
                        x = left + n * (5 + gap) * scale + gx * scale + sx
                        y = top + gy * scale + sy
                        pixels[y][x] = text_colour

    row_bytes = W * 3
    image = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up
        for (r, g, b) in pixels[y]:
            image += bytes((b, g, r))
    header = b"BM" + struct.pack("<IHHI", 14 + 40 + len(image), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    assert len(image) == row_bytes * H
    with open(path, "wb") as out:
        out.write(header + info + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "media/waiting.bmp")
