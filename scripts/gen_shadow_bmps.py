#!/usr/bin/env python3
"""Generates the eight pieces of the window shadow as 32-bit BMP files.

The pieces are cut from one soft drop shadow (a blurred copy of the window
rectangle, shifted down a little so the top margin is the narrowest). The
edge pieces are taken far from the corners so that they tile without seams.
Pixels are stored with straight (not premultiplied) alpha; the loader
premultiplies them. Run once; the output is committed:

    scripts/gen_shadow_bmps.py src/host/resources/shadow
"""

import math
import os
import struct
import sys

# Margins of the frame around the window: left, top, right, bottom.
LEFT, TOP, RIGHT, BOTTOM = 9, 5, 9, 9
# Length of the tiled edge pieces along their edge.
EDGE = 6
# The shadow's caster is the window rectangle grown by these many pixels on
# each side (more at the bottom, less at the top: the shadow falls downward),
# blurred with these radii. The caster reaches far enough past the window's
# edges that the blur is settled where an edge piece meets a corner piece, so
# the tiled edges join the corners without a visible seam.
GROW = {"left": 2.5, "right": 2.5, "top": 1.6, "bottom": 3.5}
SIGMA = {"left": 2.0, "right": 2.0, "top": 1.0, "bottom": 2.0}
PEAK_ALPHA = 0.32  # opacity of the settled shadow
COLOR = (0x10, 0x14, 0x20)  # a dark blue-grey, as R, G, B


def coverage(distance, sigma):
    """Share of a blurred half-plane seen at |distance| outside its edge."""
    return 0.5 * math.erfc(distance / (sigma * math.sqrt(2.0)))


def outside(side, index):
    """Distance of a pixel centre outside the caster's edge on |side|; index
    counts columns or rows of the piece from its left or top."""
    if side == "left":
        return LEFT - (index + 0.5) - GROW[side]
    if side == "top":
        return TOP - (index + 0.5) - GROW[side]
    return index + 0.5 - GROW[side]  # right, bottom: the piece starts at the window's edge


def piece(h_side, v_side, width, height):
    """Alpha rows (top first) of a piece; a side of None means the piece lies
    along the window in that direction, where the shadow is settled."""
    rows = []
    for row in range(height):
        line = []
        for col in range(width):
            fx = 1.0 if h_side is None else coverage(outside(h_side, col), SIGMA[h_side])
            fy = 1.0 if v_side is None else coverage(outside(v_side, row), SIGMA[v_side])
            line.append(max(0, min(255, int(round(PEAK_ALPHA * fx * fy * 255.0)))))
        rows.append(line)
    return rows


def write_bmp(path, rows):
    height = len(rows)
    width = len(rows[0])
    row_bytes = width * 4
    pixels = bytearray()
    for line in reversed(rows):  # bottom-up
        for a in line:
            r, g, b = COLOR
            pixels += bytes((b, g, r, a))
    offset = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, row_bytes * height,
                              2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(file_header + info_header + pixels)


# name: (horizontal side, vertical side, width, height), in grid order.
PIECES = [
    ("top", (None, "top", EDGE, TOP)),
    ("left", ("left", None, LEFT, EDGE)),
    ("right", ("right", None, RIGHT, EDGE)),
    ("bottom", (None, "bottom", EDGE, BOTTOM)),
    ("top_left", ("left", "top", LEFT, TOP)),
    ("top_right", ("right", "top", RIGHT, TOP)),
    ("bottom_left", ("left", "bottom", LEFT, BOTTOM)),
    ("bottom_right", ("right", "bottom", RIGHT, BOTTOM)),
]


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out_dir, exist_ok=True)
    for name, (h_kind, v_kind, width, height) in PIECES:
        write_bmp(os.path.join(out_dir, name + ".bmp"), piece(h_kind, v_kind, width, height))


if __name__ == "__main__":
    main()
