#!/usr/bin/env python3
"""make-images.py <folder>: writes the setup wizard's images as PNG files.

The pictures are our own, drawn here from simple shapes: the banner
("yarlconnectbanner"), the initial page's picture ("setupImg"), the
backgrounds of the styled buttons ("bluebtnbg", "whitebtnbg",
"graybtnbg") and the twelve frames of the spinner ("spinner00" to
"spinner11").  Standard library only; each image is written only when its
bytes change, so a rebuild leaves the folder alone.
"""

import math
import os
import struct
import sys
import zlib

BLUE = (0x28, 0x8C, 0xF4, 255)
DARK_BLUE = (0x10, 0x4E, 0x9A, 255)
WHITE = (255, 255, 255, 255)
GRAY = (0xB4, 0xB8, 0xBE, 255)
BORDER = (0xC8, 0xCE, 0xD6, 255)
CLEAR = (0, 0, 0, 0)


def png(width, height, pixel):
    """A PNG (8-bit RGBA) of pixel(x, y) -> (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(
        b"IEND", b"")


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(4))


def banner(x, y, w=586, h=69):
    # A gradient band with three rising arcs at the right.
    colour = mix(DARK_BLUE, BLUE, x / (w - 1))
    for i, r in enumerate((18, 30, 42)):
        d = math.hypot(x - (w - 60), y - (h + 6))
        if abs(d - r) < 2.5:
            return mix(colour, WHITE, 0.35 + 0.2 * i)
    return colour


def setup_image(x, y, w=200, h=130):
    # A screen on a stand, with a down arrow on it.
    if 20 <= x < w - 20 and 10 <= y < h - 40:
        inner = 28 <= x < w - 28 and 18 <= y < h - 48
        if not inner:
            return DARK_BLUE
        cx, top = w // 2, 26
        if abs(x - cx) <= 6 and top <= y < top + 26:
            return WHITE
        if top + 26 <= y < top + 48 and abs(x - cx) <= (top + 48 - y):
            return WHITE
        return BLUE
    if abs(x - w // 2) <= 8 and h - 40 <= y < h - 16:
        return DARK_BLUE
    if abs(x - w // 2) <= 50 and h - 16 <= y < h - 8:
        return DARK_BLUE
    return CLEAR


def button(fill, border):
    def pixel(x, y, w=60, h=20, r=6):
        # A rounded rectangle; its caps stretch with the button.
        cx = min(max(x, r), w - 1 - r)
        cy = min(max(y, r), h - 1 - r)
        d = math.hypot(x - cx, y - cy)
        if d > r:
            return CLEAR
        return border if d > r - 1.2 else fill

    return pixel


def spinner(frame):
    def pixel(x, y, size=32):
        c = (size - 1) / 2
        d = math.hypot(x - c, y - c)
        if not 9 <= d <= 14:
            return CLEAR
        angle = (math.degrees(math.atan2(y - c, x - c)) + 90) % 360
        spoke = int(angle // 30)
        if abs(angle - (spoke * 30 + 15)) > 9:
            return CLEAR
        age = (frame - spoke) % 12
        return mix(BLUE, CLEAR, age / 12)

    return pixel


def images():
    yield "yarlconnectbanner", png(586, 69, banner)
    yield "setupImg", png(200, 130, setup_image)
    yield "bluebtnbg", png(60, 20, button(BLUE, DARK_BLUE))
    yield "whitebtnbg", png(60, 20, button(WHITE, BORDER))
    yield "graybtnbg", png(60, 20, button(GRAY, GRAY))
    for frame in range(12):
        yield "spinner%02d" % frame, png(32, 32, spinner(frame))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-images.py <folder>")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in images():
        path = os.path.join(folder, name + ".png")
        try:
            with open(path, "rb") as old:
                if old.read() == data:
                    continue
        except FileNotFoundError:
            pass
        with open(path + ".tmp", "wb") as out:
            out.write(data)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
