#!/usr/bin/env python3
"""Draws the tool's pictures as 24-bit RGB PNG files (no alpha channel).

Run from anywhere: python3 resources/make_pictures.py
Only the standard library is used, and the output is byte for byte the same on
every run. Shapes are signed distance functions (negative inside, in pixels);
a pixel is covered by 0.5 - distance, which gives one pixel of smoothing.

Button glyphs and the logo are drawn on KEY, the colour of their lower-left
pixel, which the tool does not paint. Edges blend towards KEY so they look
clean on a grey button face; no pixel the motif covers is ever exactly KEY.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

KEY = (239, 239, 239)

# One palette for every picture.
NAVY = (24, 52, 92)
NAVY_DARK = (14, 32, 60)
BLUE = (40, 110, 210)
BLUE_LIGHT = (96, 160, 240)
SCREEN = (20, 36, 56)
BEZEL = (236, 240, 245)
BEZEL_EDGE = (150, 162, 178)
GREEN = (46, 170, 80)
GREEN_DARK = (24, 112, 48)
GREEN_LIGHT = (120, 220, 140)
RED = (214, 60, 54)
RED_DARK = (150, 30, 28)
AMBER = (255, 176, 32)
WHITE = (255, 255, 255)
STEEL = (72, 96, 128)
STEEL_DARK = (40, 58, 84)
WOOD = (176, 110, 58)
WOOD_DARK = (110, 64, 30)
FOLDER = (244, 196, 72)
FOLDER_BACK = (222, 162, 40)
FOLDER_EDGE = (160, 108, 20)


# --- shapes: each is a function (x, y) -> signed distance ------------------


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_rect(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return d


def _segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def stroke(points, width):
    """A polyline drawn with a round pen."""
    segments = list(zip(points, points[1:])) or [(points[0], points[0])]
    half = width / 2

    def d(x, y):
        return min(_segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in segments) - half

    return d


def arc(cx, cy, rx, ry, start, end, steps=24):
    """Points on an elliptic arc; angles in degrees, 0 = right, 90 = down."""
    return [
        (cx + rx * math.cos(math.radians(start + (end - start) * i / steps)),
         cy + ry * math.sin(math.radians(start + (end - start) * i / steps)))
        for i in range(steps + 1)
    ]


def polygon(points):
    edges = list(zip(points, points[1:] + points[:1]))

    def d(x, y):
        inside = False
        for (ax, ay), (bx, by) in edges:
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        dist = min(_segment_distance(x, y, ax, ay, bx, by) for (ax, ay), (bx, by) in edges)
        return -dist if inside else dist

    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def cut(shape, hole):
    return lambda x, y: max(shape(x, y), -hole(x, y))


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def ring(shape, thickness):
    return lambda x, y: abs(shape(x, y)) - thickness / 2


def vertical(top, bottom, y0, y1):
    """A colour that runs from top at y0 to bottom at y1."""

    def colour(_x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))

    return colour


# --- canvas ------------------------------------------------------------------


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[tuple(map(float, background))] * width for _ in range(height)]
        self.cover = [[0.0] * width for _ in range(height)]

    def fill(self, shape, colour, box=None, opacity=1.0, erase=False):
        """Paints shape; box (x0, y0, x1, y1) limits the work to where it can be.

        With erase, pixels the shape covers fully become background again, so
        a key colour painted there stays transparent."""
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        paint = colour if callable(colour) else (lambda _x, _y: colour)
        for py in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)))):
            row, marks = self.pixels[py], self.cover[py]
            for px in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)))):
                x, y = px + 0.5, py + 0.5
                cover = opacity * max(0.0, min(1.0, 0.5 - shape(x, y)))
                if cover <= 0.0:
                    continue
                c = paint(x, y)
                old = row[px]
                row[px] = tuple(o + (n - o) * cover for o, n in zip(old, c))
                marks[px] = 0.0 if erase and cover >= 1.0 else max(marks[px], cover)

    def outlined(self, shape, fill, line, width=1.0, box=None):
        self.fill(shape, line, box)
        self.fill(grow(shape, -width), fill, box)

    def rgb_rows(self, key=None):
        rows = []
        for py in range(self.height):
            row = bytearray()
            for px in range(self.width):
                c = tuple(int(round(v)) for v in self.pixels[py][px])
                if key is not None and self.cover[py][px] >= 0.5 and c == key:
                    # A motif pixel that happens to equal the key would leave
                    # a hole; a faint edge pixel that rounds to it may go.
                    c = (c[0], c[1], c[2] - 1 if c[2] > 0 else 1)
                row += bytes(c)
            rows.append(bytes(row))
        return rows

    def save(self, name, key=None):
        rows = self.rgb_rows(key)
        raw = b"".join(b"\x00" + row for row in rows)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", header))
            out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            out.write(chunk(b"IEND", b""))


# --- button glyphs -----------------------------------------------------------


def chain_link(cx, cy, radius=2.3, half=1.5):
    """The outline of a rounded link centred at (cx, cy), tilted up to the right."""
    return ring(stroke([(cx - half, cy + half), (cx + half, cy - half)], 2 * radius), 1.7)


def glyph_connect():
    c = Canvas(17, 16, KEY)
    lower, upper = chain_link(6.4, 10.1), chain_link(10.6, 5.9)
    c.fill(upper, BLUE)
    # The links cross twice: the lower one lies on top at the upper-left
    # crossing and below at the other; a thin gap marks which is on top.
    over = lambda x, y: max(lower(x, y), x + y - 16.5)
    under = lambda x, y: max(lower(x, y), 16.5 - x - y)
    c.fill(grow(over, 0.7), KEY, erase=True)
    c.fill(over, BLUE)
    c.fill(cut(under, grow(upper, 0.7)), BLUE)
    c.save("glyph_connect.png", KEY)


def glyph_disconnect():
    c = Canvas(18, 16, KEY)
    c.fill(chain_link(4.8, 11.7, 2.2, 1.2), STEEL)
    c.fill(chain_link(13.2, 4.3, 2.2, 1.2), STEEL)
    # Short break marks fan out where the links parted.
    for ax, ay, bx, by in ((7.4, 4.2, 8.2, 6.4), (10.6, 11.8, 9.8, 9.6), (5.8, 6.4, 7.6, 7.2),
                           (12.2, 9.6, 10.4, 8.8)):
        c.fill(stroke([(ax, ay), (bx, by)], 1.3), RED)
    c.save("glyph_disconnect.png", KEY)


def glyph_starttest():
    c = Canvas(16, 16, KEY)
    triangle = grow(polygon([(4.2, 2.6), (13.4, 8.0), (4.2, 13.4)]), 0.8)
    c.outlined(triangle, vertical(GREEN_LIGHT, GREEN, 2, 14), GREEN_DARK, 1.0)
    c.save("glyph_starttest.png", KEY)


def glyph_exit():
    c = Canvas(29, 27, KEY)
    # Door frame with the dark opening, the leaf swung open towards the viewer.
    c.outlined(rounded_rect(3, 2, 17, 25, 0.5), (52, 52, 60), WOOD_DARK, 1.5)
    leaf = polygon([(3.0, 2.0), (10.5, 4.0), (10.5, 23.5), (3.0, 25.0)])
    c.outlined(leaf, vertical(WOOD, (150, 88, 42), 2, 27), WOOD_DARK, 1.0)
    c.fill(circle(8.6, 15.0, 0.9), AMBER)
    # The arrow leaves through the doorway.
    arrow = union(rounded_rect(12.5, 12, 21.5, 16, 0.5),
                  polygon([(20.0, 7.5), (27.0, 14.0), (20.0, 20.5)]))
    c.outlined(arrow, GREEN, GREEN_DARK, 1.0)
    c.save("glyph_exit.png", KEY)


def glyph_open():
    c = Canvas(32, 32, KEY)
    back = union(rounded_rect(2, 5, 13, 10, 1.5), rounded_rect(2, 8, 28, 27, 1.5))
    c.outlined(back, FOLDER_BACK, FOLDER_EDGE, 1.0)
    c.fill(rounded_rect(5, 10, 26, 22, 0.5), WHITE)
    front = polygon([(7.5, 13.5), (30.5, 13.5), (27.0, 27.0), (2.0, 27.0)])
    c.outlined(front, vertical((252, 218, 112), FOLDER, 13, 27), FOLDER_EDGE, 1.0)
    c.save("glyph_open.png", KEY)


# --- icon, logo and About picture -------------------------------------------


def monitor(c, rect, radius, bezel, edge, screen_inset, stand, stand_colour):
    """A flat display on a stand of the given height; returns the screen rectangle."""
    x0, y0, x1, y1 = rect
    mid, half = (x0 + x1) / 2, (x1 - x0) / 2
    c.fill(polygon([(mid - half * 0.2, y1 - 1), (mid + half * 0.2, y1 - 1),
                    (mid + half * 0.26, y1 + stand * 0.7), (mid - half * 0.26, y1 + stand * 0.7)]),
           stand_colour)
    c.fill(rounded_rect(mid - half * 0.55, y1 + stand * 0.6, mid + half * 0.55, y1 + stand, stand * 0.15),
           stand_colour)
    c.outlined(rounded_rect(x0, y0, x1, y1, radius), bezel, edge, 1.0)
    return (x0 + screen_inset, y0 + screen_inset, x1 - screen_inset, y1 - screen_inset * 1.4)


def icon():
    c = Canvas(64, 64, NAVY)
    c.fill(rounded_rect(0, 0, 64, 64), vertical((70, 140, 235), (22, 72, 160), 0, 64))
    c.fill(ring(rounded_rect(0.5, 0.5, 63.5, 63.5), 1.0), NAVY, opacity=0.5)
    sx0, sy0, sx1, sy1 = monitor(c, (6, 8, 58, 44), 4, BEZEL, BEZEL_EDGE, 4, 12, (215, 224, 236))
    c.fill(rounded_rect(sx0, sy0, sx1, sy1, 1.5), vertical((40, 66, 100), SCREEN, sy0, sy1))
    c.fill(stroke([(20.5, 26.0), (28.0, 33.5), (43.5, 18.0)], 6.5), vertical(GREEN_LIGHT, GREEN, 18, 34))
    # Status lights on the bezel: the display is online.
    c.fill(circle(51.0, 41.5, 1.3), GREEN)
    c.fill(circle(47.0, 41.5, 1.3), AMBER)
    c.save("icon.png")


def letters_qrw(x0, y0, height):
    """The letters QRW as one stroke shape from (x0, y0); returns (shape, width)."""
    h, pen = height, height * 0.22
    top, bottom = y0 + pen / 2, y0 + h - pen / 2
    mid = (top + bottom) / 2
    q_rx, q_ry = h * 0.36, (bottom - top) / 2
    qx = x0 + pen / 2 + q_rx
    q = union(stroke(arc(qx, mid, q_rx, q_ry, 0, 360, 48), pen),
              stroke([(qx + q_rx * 0.25, mid + q_ry * 0.45), (qx + q_rx * 0.95, bottom + pen * 0.2)], pen))
    rx = qx + q_rx + pen * 1.9
    bowl = (bottom - top) * 0.26
    r = union(stroke([(rx, bottom), (rx, top), (rx + h * 0.2, top)]
                     + arc(rx + h * 0.2, top + bowl, bowl, bowl, -90, 90, 16)
                     + [(rx, top + 2 * bowl)], pen),
              stroke([(rx + h * 0.2, top + 2 * bowl), (rx + h * 0.2 + bowl * 1.1, bottom)], pen))
    wx = rx + h * 0.2 + bowl * 1.1 + pen * 1.6
    step = h * 0.19
    w = stroke([(wx, top), (wx + step, bottom), (wx + 2 * step, top + (bottom - top) * 0.3),
                (wx + 3 * step, bottom), (wx + 4 * step, top)], pen)
    return union(q, r, w), wx + 4 * step + pen / 2 - x0


def logo():
    c = Canvas(154, 104, KEY)
    sx0, sy0, sx1, sy1 = monitor(c, (4, 3, 150, 82), 10, NAVY, NAVY_DARK, 6, 19, NAVY)
    c.fill(rounded_rect(sx0, sy0, sx1, sy1, 5), vertical((44, 76, 120), SCREEN, sy0, sy1))
    _, width = letters_qrw(0, 0, 44)
    shape, _ = letters_qrw((sx0 + sx1 - width) / 2, sy0 + (sy1 - sy0 - 44) / 2, 44)
    c.fill(shape, vertical(WHITE, (200, 220, 245), sy0, sy1), box=(sx0, sy0, sx1, sy1))
    c.save("logo.png", KEY)


# A five by seven dot font for the LED sign.
DOT_LETTERS = {
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
}


def led_sign(c, x0, y0, columns, rows, pitch, text):
    lit = set()
    left, top = (columns - (6 * len(text) - 1)) // 2, (rows - 7) // 2
    for i, letter in enumerate(text):
        for row, line in enumerate(DOT_LETTERS[letter]):
            for col, mark in enumerate(line):
                if mark == "#":
                    lit.add((left + 6 * i + col, top + row))
    r = pitch * 0.36
    for row in range(rows):
        for col in range(columns):
            cx, cy = x0 + (col + 0.5) * pitch, y0 + (row + 0.5) * pitch
            box = (cx - pitch, cy - pitch, cx + pitch, cy + pitch)
            if (col, row) in lit:
                c.fill(circle(cx, cy, r * 1.9), AMBER, box, opacity=0.25)
                c.fill(circle(cx, cy, r), AMBER, box)
                c.fill(circle(cx - r * 0.25, cy - r * 0.25, r * 0.45), (255, 236, 180), box)
            else:
                c.fill(circle(cx, cy, r * 0.8), (46, 50, 60), box)


def about():
    c = Canvas(291, 195, WHITE)
    c.fill(rounded_rect(0, 0, 291, 195), vertical((232, 239, 248), (184, 200, 222), 0, 195))
    # The LED sign.
    columns, rows, pitch = 25, 9, 10
    px0, py0 = (291 - columns * pitch) / 2, 16
    px1, py1 = px0 + columns * pitch, py0 + rows * pitch
    c.outlined(rounded_rect(px0 - 8, py0 - 8, px1 + 8, py1 + 8, 6), STEEL_DARK, NAVY_DARK, 1.0)
    c.fill(rounded_rect(px0 - 2, py0 - 2, px1 + 2, py1 + 2, 2), (16, 18, 24))
    led_sign(c, px0, py0, columns, rows, pitch, "QRW")
    # The controller that drives the sign, wired to it and to the network.
    bx0, by0, bx1, by1 = 44, 142, 164, 178
    c.fill(stroke([(104, py1 + 8), (104, by0)], 5), STEEL_DARK)
    c.fill(stroke([(bx1 - 14, 166), (210, 166), (226, 156), (291, 156)], 5), BLUE)
    c.outlined(rounded_rect(bx0, by0, bx1, by1, 4), vertical((90, 116, 150), STEEL, by0, by1), NAVY_DARK)
    for i in range(5):
        c.fill(rounded_rect(bx0 + 10 + i * 8, by0 + 9, bx0 + 14 + i * 8, by1 - 9, 1.5), STEEL_DARK)
    c.fill(circle(bx0 + 62, by0 + 12, 3), GREEN_LIGHT)
    c.fill(circle(bx0 + 72, by0 + 12, 3), AMBER)
    c.outlined(rounded_rect(bx1 - 26, by0 + 20, bx1 - 8, by1 - 4, 1.5), (30, 30, 36), (200, 206, 214))
    c.save("about.png")


def main():
    glyph_connect()
    glyph_disconnect()
    glyph_starttest()
    glyph_exit()
    glyph_open()
    icon()
    logo()
    about()


if __name__ == "__main__":
    main()
