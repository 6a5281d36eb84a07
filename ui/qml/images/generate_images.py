#!/usr/bin/env python3
"""Draws the start button and loading indicator images of the recorder's window.

Only the Python standard library is used: shapes are rings and discs, anti-aliased by sampling
each pixel on a 4 x 4 grid, and written as 8-bit RGBA PNG files next to this script.

    python3 generate_images.py
"""

import math
import os
import struct
import zlib

SAMPLES = 4


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a bytearray of RGBA values."""
    raw = b"".join(b"\x00" + bytes(row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def render(size, layers):
    """layers: functions (x, y) -> (r, g, b, a) or None, painted in order (source-over)."""
    pixels = []
    centre = size / 2.0
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES - centre
                    y = py + (sy + 0.5) / SAMPLES - centre
                    r = g = b = a = 0.0
                    for layer in layers:
                        colour = layer(x, y)
                        if colour is None:
                            continue
                        cr, cg, cb, ca = colour
                        out_a = ca + a * (1.0 - ca)
                        if out_a > 0:
                            r = (cr * ca + r * a * (1.0 - ca)) / out_a
                            g = (cg * ca + g * a * (1.0 - ca)) / out_a
                            b = (cb * ca + b * a * (1.0 - ca)) / out_a
                        a = out_a
                    # Premultiplied accumulation keeps the edges free of dark fringes.
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes(
                    (
                        round(acc[0] / acc[3]),
                        round(acc[1] / acc[3]),
                        round(acc[2] / acc[3]),
                        round(alpha * 255),
                    )
                )
            else:
                row += b"\x00\x00\x00\x00"
        pixels.append(row)
    return pixels


def disc(radius, colour):
    def layer(x, y):
        return colour if x * x + y * y <= radius * radius else None

    return layer


def ring(inner, outer, colour, arcs=None):
    """arcs: list of (start, end) angles in degrees, clockwise from the top; None = full ring."""

    def layer(x, y):
        d = x * x + y * y
        if d < inner * inner or d > outer * outer:
            return None
        if arcs is not None:
            angle = math.degrees(math.atan2(x, -y)) % 360.0
            if not any(start <= angle < end for start, end in arcs):
                return None
        return colour

    return layer


def rgba(hex_colour, alpha=1.0):
    value = int(hex_colour.lstrip("#"), 16)
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, alpha)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    white = rgba("#ffffff")
    red = rgba("#d00026")
    blue = rgba("#0F74E8")

    button = [ring(140, 154, white), disc(128, red)]
    write_png(os.path.join(here, "recording_button.png"), 312, 312, render(312, button))

    # Drawn over the button while the pointer is on it: a brighter ring and a lighter disc.
    hover = [ring(136, 156, white), disc(128, rgba("#ff1a45")), disc(128, rgba("#ffffff", 0.08))]
    write_png(os.path.join(here, "recording_button--hover.png"), 312, 312, render(312, hover))

    background = [ring(150, 180, rgba("#ffffff", 0.12))]
    write_png(os.path.join(here, "loader_bg.png"), 400, 400, render(400, background))

    foreground = [ring(150, 180, blue, arcs=[(0, 70), (180, 250)])]
    write_png(os.path.join(here, "loader_fg.png"), 400, 400, render(400, foreground))


if __name__ == "__main__":
    main()
