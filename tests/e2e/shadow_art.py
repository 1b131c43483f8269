"""The window shadow's margins, read from the artwork the program is built
with, so no test repeats them as numbers: the left and right margins are the
widths of the left and right pieces, the top and bottom margins the heights
of the top and bottom pieces."""

import os
import struct

ARTWORK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "host", "resources",
                       "shadow")


def _piece_size(name):
    """(width, height) from the piece's bitmap information header."""
    with open(os.path.join(ARTWORK, name + ".bmp"), "rb") as f:
        header = f.read(26)
    assert header[:2] == b"BM", name
    width, height = struct.unpack_from("<ii", header, 18)
    return width, abs(height)


def shadow_margins():
    """(left, top, right, bottom)."""
    return (_piece_size("left")[0], _piece_size("top")[1], _piece_size("right")[0],
            _piece_size("bottom")[1])


def shadow_rect(x, y, width, height):
    """The shadow's screen rectangle around a host at (x, y, width, height)."""
    left, top, right, bottom = shadow_margins()
    return (x - left, y - top, width + left + right, height + top + bottom)
