#!/usr/bin/env python3
"""Paints the launcher's 480x300 RGBA background picture (background.png).

Run it again after changing the scene: python3 make_background.py [OUT].
Standard library only; deterministic, so the committed PNG can be reproduced.
Layout: the title and scene fill the top 220 rows; the strip below stays dark
so that the window's white status lines and its grey progress bar read well.
"""
import math
import random
import struct
import sys
import zlib

W, H = 480, 300

# A 5x7 block font for the title.
FONT = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
}


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(lerp(x, y, t) for x, y in zip(c1, c2))


def ridge(x, seed, base, amplitude):
    """Height of a mountain ridge at column x: a sum of a few sine waves."""
    r = random.Random(seed)
    waves = [(r.uniform(0.004, 0.03), r.uniform(0, 6.3), r.uniform(0.3, 1.0)) for _ in range(5)]
    total = sum(a for _, _, a in waves)
    v = sum(a * math.sin(f * x * 6.3 + p) for f, p, a in waves) / total
    return base - amplitude * v


def paint():
    px = [[(0.0, 0.0, 0.0, 255.0)] * W for _ in range(H)]
    sky_top, sky_mid, horizon = (8, 10, 32), (38, 24, 72), (180, 84, 60)
    for y in range(H):
        t = y / 210
        c = mix(sky_top, sky_mid, min(t * 1.6, 1)) if t < 0.62 else mix(sky_mid, horizon, min((t - 0.62) / 0.38, 1))
        for x in range(W):
            px[y][x] = (*c, 255.0)
    # Stars.
    rnd = random.Random(7)
    for _ in range(140):
        x, y = rnd.randrange(W), rnd.randrange(150)
        b = rnd.uniform(120, 255)
        px[y][x] = (b, b, min(255, b * 1.1), 255.0)
    # A moon with a soft glow.
    mx, my, mr = 414, 122, 20
    for y in range(max(0, my - 70), my + 70):
        for x in range(max(mx - 70, 0), min(mx + 70, W)):
            d = math.hypot(x - mx, y - my)
            r, g, b, a = px[y][x]
            if d <= mr:
                shade = 0.85 + 0.15 * (1 - d / mr)
                px[y][x] = (240 * shade, 232 * shade, 210 * shade, a)
            elif d < 70:
                glow = (1 - (d - mr) / (70 - mr)) ** 2 * 0.35
                px[y][x] = (lerp(r, 240, glow), lerp(g, 220, glow), lerp(b, 190, glow), a)
    # Three mountain ranges, far to near, darker as they come closer.
    for seed, base, amp, colour in ((3, 150, 34, (62, 40, 88)), (11, 178, 28, (36, 24, 58)),
                                    (23, 205, 22, (16, 12, 30))):
        for x in range(W):
            top = int(ridge(x, seed, base, amp))
            for y in range(max(top, 0), H):
                px[y][x] = (*colour, 255.0)
    # The title, with a glow behind it.
    text, scale = "VIRELAN", 7
    width = len(text) * 6 * scale - scale
    ox, oy = (W - width) // 2, 40
    lit = set()
    for i, ch in enumerate(text):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            lit.add((ox + (i * 6 + col) * scale + dx, oy + row * scale + dy))
    # A soft glow: the title's mask blurred a few times.
    glow = [[1.0 if (x, y) in lit else 0.0 for x in range(W)] for y in range(H)]
    x0, x1, y0, y1 = ox - 24, ox + width + 24, oy - 24, oy + 7 * scale + 24
    for _ in range(3):
        rows = [[sum(glow[y][max(x - 6, 0):x + 7]) / 13 for x in range(W)] if y0 <= y < y1 else glow[y]
                for y in range(H)]
        glow = [[sum(rows[yy][x] for yy in range(max(y - 6, 0), min(y + 7, H))) / 13 if x0 <= x < x1 else rows[y][x]
                 for x in range(W)] if y0 <= y < y1 else rows[y] for y in range(H)]
    for y in range(y0, y1):
        for x in range(x0, x1):
            k = min(glow[y][x] * 0.9, 0.6)
            if k > 0:
                r, g, b, a = px[y][x]
                px[y][x] = (lerp(r, 255, k), lerp(g, 150, k), lerp(b, 60, k), a)
    for x, y in lit:
        t = (y - oy) / (7 * scale)
        px[y][x] = (*mix((255, 236, 170), (236, 132, 48), t), 255.0)
    # Subtitle rule and the dark strip for the status lines and the bar.
    for x in range(ox, ox + width):
        px[oy + 7 * scale + 10][x] = (236, 132, 48, 255.0)
    for y in range(196, H):
        t = (y - 196) / (H - 196)
        for x in range(W):
            r, g, b, a = px[y][x]
            k = 1 - 0.8 * min(t * 1.8, 1)
            px[y][x] = (r * k, g * k, b * k, a)
    return px


def png(pixels):
    raw = b"".join(b"\0" + bytes(max(0, min(255, int(round(v)))) for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "background.png"
    with open(out, "wb") as f:
        f.write(png(paint()))
