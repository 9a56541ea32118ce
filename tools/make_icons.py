#!/usr/bin/env python3
"""Draws the Torvane application icon (a camera lens with an update arrow)
and writes it as 16, 32 and 48 pixel PNG files.

Standard library only: the shapes are sampled on a fine grid per pixel for
smooth edges and the PNG files are written by hand.

    tools/make_icons.py [OUTPUT_DIR]   (default: src/app/frontends/qt/icons)
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)
SAMPLES = 6  # per pixel and axis


def rgb(hex_text):
    value = int(hex_text.lstrip("#"), 16)
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# Shapes in a unit square, y pointing down.
def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def vertical_gradient(top, bottom, y0, y1):
    top, bottom = rgb(top), rgb(bottom)
    return lambda x, y: mix(top, bottom, (y - y0) / (y1 - y0))


def radial_gradient(centre, edge, cx, cy, r):
    centre, edge = rgb(centre), rgb(edge)
    return lambda x, y: mix(centre, edge, math.hypot(x - cx, y - cy) / r)


def solid(hex_text):
    colour = rgb(hex_text)
    return lambda x, y: colour


LENS_X, LENS_Y = 0.46, 0.55
BADGE_X, BADGE_Y = 0.76, 0.74

# Painted in order; the last shape that covers a point gives its colour.
SCENE = [
    # Camera body with the viewfinder hump.
    (union(rounded_rect(0.04, 0.24, 0.90, 0.86, 0.12),
           rounded_rect(0.26, 0.13, 0.58, 0.32, 0.05)),
     vertical_gradient("#5C6B7A", "#2E3A46", 0.13, 0.86)),
    # Shutter button.
    (rounded_rect(0.66, 0.17, 0.80, 0.27, 0.03), solid("#2E3A46")),
    # Lens barrel, glass and a reflection.
    (circle(LENS_X, LENS_Y, 0.27), vertical_gradient("#ECEFF1", "#90A4AE", 0.28, 0.82)),
    (circle(LENS_X, LENS_Y, 0.205), solid("#263238")),
    (circle(LENS_X, LENS_Y, 0.165), radial_gradient("#5C8DF6", "#1A2A80", LENS_X - 0.05,
                                                    LENS_Y - 0.05, 0.22)),
    (circle(LENS_X - 0.06, LENS_Y - 0.06, 0.045), solid("#E3F2FD")),
    # Update badge: a green disc with a white border and a downward arrow.
    (circle(BADGE_X, BADGE_Y, 0.235), solid("#FFFFFF")),
    (circle(BADGE_X, BADGE_Y, 0.195), vertical_gradient("#5CC460", "#2E8B34", 0.55, 0.93)),
    (union(rounded_rect(BADGE_X - 0.035, BADGE_Y - 0.13, BADGE_X + 0.035, BADGE_Y + 0.03, 0.015),
           polygon([(BADGE_X - 0.115, BADGE_Y - 0.005), (BADGE_X + 0.115, BADGE_Y - 0.005),
                    (BADGE_X, BADGE_Y + 0.13)])),
     solid("#FFFFFF")),
]


def render(size):
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SAMPLES):
                y = (py * SAMPLES + sy + 0.5) * step
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    colour = None
                    for shape, paint in SCENE:
                        if shape(x, y):
                            colour = paint
                    if colour is not None:
                        c = colour(x, y)
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        covered += 1
            if covered:
                row += bytes(int(round(acc[i] / covered)) for i in range(3))
                row.append(int(round(255 * covered / (SAMPLES * SAMPLES))))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, size, rows):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    data = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + png_chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(data)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "src", "app", "frontends", "qt", "icons")
    os.makedirs(out_dir, exist_ok=True)
    for size in SIZES:
        path = os.path.join(out_dir, "torvane-%d.png" % size)
        write_png(path, size, render(size))
        print(path)


if __name__ == "__main__":
    main()
