#!/usr/bin/env python3
"""Draws the launcher's artwork with the standard library alone (zlib + struct).

Writes, next to this script:
  upgrade_bg.png    the progress window's background, 1500 x 864, 8-bit RGBA. A light,
                    near-white picture; everything below row 680 is the plain window
                    colour (234, 241, 253), because the status line and the bar lie there.
  kestrun_icon.png  the window icon used where no icon group exists (64 x 64 RGBA).
  kestrun.ico       the executable's icon group: 16, 32 and 48 as 32-bit bitmaps,
                    256 as PNG.

Shapes are signed distance functions, so edges are anti-aliased without a drawing library.
Run: python3 make_artwork.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

WINDOW = (234, 241, 253)
ACCENT = (41, 121, 255)
PLAIN_FROM_ROW = 680  # of 864; the status line starts at 378/461 of the height (row 708)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def coverage(distance_px):
    """Share of a pixel covered by a shape whose edge lies distance_px away."""
    return clamp01(0.5 - distance_px)


# --- signed distances (negative inside) -------------------------------------------------

def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_round_box(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_polygon(px, py, pts):
    d = (px - pts[0][0]) ** 2 + (py - pts[0][1]) ** 2
    s = 1.0
    j = len(pts) - 1
    for i in range(len(pts)):
        ex, ey = pts[j][0] - pts[i][0], pts[j][1] - pts[i][1]
        wx, wy = px - pts[i][0], py - pts[i][1]
        t = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey))
        bx, by = wx - ex * t, wy - ey * t
        d = min(d, bx * bx + by * by)
        c1 = py >= pts[i][1]
        c2 = py < pts[j][1]
        c3 = ex * wy > ey * wx
        if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
            s = -s
        j = i
    return s * math.sqrt(d)


# --- the emblem: a fennec fox's head on a rounded blue square, in unit coordinates -------

HEAD = [(0.15, 0.36), (0.85, 0.36), (0.66, 0.66), (0.50, 0.79), (0.34, 0.66)]
LEFT_EAR = [(0.15, 0.46), (0.15, 0.11), (0.46, 0.37)]
RIGHT_EAR = [(0.85, 0.46), (0.85, 0.11), (0.54, 0.37)]
LEFT_INNER = [(0.21, 0.37), (0.21, 0.22), (0.37, 0.355)]
RIGHT_INNER = [(0.79, 0.37), (0.79, 0.22), (0.63, 0.355)]


def emblem_pixel(u, v, unit_px):
    """Colour and alpha of the emblem at unit coordinates (u, v); unit_px = pixels per unit."""
    d_box = sd_round_box(u, v, 0.5, 0.5, 0.5, 0.5, 0.22) * unit_px
    a = coverage(d_box)
    if a <= 0.0:
        return (0, 0, 0), 0.0
    colour = mix((92, 160, 255), ACCENT, clamp01(v * 1.1))
    fox = min(sd_polygon(u, v, HEAD), sd_polygon(u, v, LEFT_EAR), sd_polygon(u, v, RIGHT_EAR))
    colour = mix(colour, (255, 255, 255), coverage(fox * unit_px))
    inner = min(sd_polygon(u, v, LEFT_INNER), sd_polygon(u, v, RIGHT_INNER))
    colour = mix(colour, (255, 214, 170), coverage(inner * unit_px))
    for cx in (0.40, 0.60):
        colour = mix(colour, (31, 35, 41), coverage(sd_circle(u, v, cx, 0.53, 0.035) * unit_px))
    colour = mix(colour, (31, 35, 41), coverage(sd_circle(u, v, 0.5, 0.72, 0.04) * unit_px))
    return colour, a


def render_emblem(size):
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            colour, a = emblem_pixel((x + 0.5) / size, (y + 0.5) / size, size)
            row += bytes(int(round(c)) for c in colour) + bytes([int(round(a * 255))])
        rows.append(bytes(row))
    return rows


# --- the background -------------------------------------------------------------------

W, H = 1500, 864
EMBLEM_X, EMBLEM_Y, EMBLEM_SIZE = 150, 170, 230
BUBBLES = [(1240, 150, 260, 0.10), (1390, 420, 170, 0.08), (980, 40, 120, 0.07),
           (640, 120, 60, 0.10), (1100, 330, 70, 0.09), (520, 470, 40, 0.08)]


def wave(x, base, amplitude, length, phase):
    return base + amplitude * math.sin(2 * math.pi * x / length + phase)


def background_row(y):
    if y >= PLAIN_FROM_ROW:
        return bytes((*WINDOW, 255)) * W
    row = bytearray()
    top = (248, 251, 255)
    for x in range(W):
        t = clamp01(y / 640.0)
        colour = mix(top, WINDOW, t * t)
        for bx, by, r, strength in BUBBLES:
            a = coverage(sd_circle(x, y, bx, by, r)) * strength
            if a > 0.0:
                colour = mix(colour, (160, 196, 255), a)
        # two soft hills that fade out well above the plain part
        fade = clamp01((PLAIN_FROM_ROW - 40 - y) / 120.0)
        for base, amp, length, phase, tint, strength in (
                (520, 26, 900, 0.6, (196, 218, 255), 0.55),
                (575, 20, 640, 2.1, (172, 204, 255), 0.45)):
            edge = wave(x, base, amp, length, phase)
            a = coverage(edge - y) * strength * fade
            if a > 0.0:
                colour = mix(colour, tint, a)
        # the emblem
        if EMBLEM_X - 2 <= x < EMBLEM_X + EMBLEM_SIZE + 2 and EMBLEM_Y - 2 <= y < EMBLEM_Y + EMBLEM_SIZE + 2:
            ec, ea = emblem_pixel((x + 0.5 - EMBLEM_X) / EMBLEM_SIZE,
                                  (y + 0.5 - EMBLEM_Y) / EMBLEM_SIZE, EMBLEM_SIZE)
            if ea > 0.0:
                colour = mix(colour, ec, ea)
        # a row of small dots under the emblem, as a quiet "loading" motif
        for i in range(5):
            a = coverage(sd_circle(x, y, 430 + i * 34, 285, 7)) * (0.35 + 0.13 * i)
            if a > 0.0:
                colour = mix(colour, ACCENT, a)
        row += bytes(int(round(c)) for c in colour) + b"\xff"
    return bytes(row)


# --- file formats -----------------------------------------------------------------------

def png_bytes(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xffffffff)
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def dib_bytes(size, rows):
    """A 32-bit icon bitmap: header with doubled height, BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for r in reversed(rows):
        for x in range(size):
            red, green, blue, alpha = r[4 * x:4 * x + 4]
            pixels += bytes((blue, green, red, alpha))
    mask_stride = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_stride * size)


def ico_bytes(images):
    """images: list of (size, payload bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, payload in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(payload), offset)
        offset += len(payload)
    return out + b"".join(p for _, p in images)


def main():
    rows = [background_row(y) for y in range(H)]
    with open(os.path.join(HERE, "upgrade_bg.png"), "wb") as f:
        f.write(png_bytes(W, H, rows))

    with open(os.path.join(HERE, "kestrun_icon.png"), "wb") as f:
        f.write(png_bytes(64, 64, render_emblem(64)))

    images = [(s, dib_bytes(s, render_emblem(s))) for s in (16, 32, 48)]
    images.append((256, png_bytes(256, 256, render_emblem(256))))
    with open(os.path.join(HERE, "kestrun.ico"), "wb") as f:
        f.write(ico_bytes(images))


if __name__ == "__main__":
    main()
