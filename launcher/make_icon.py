#!/usr/bin/env python3
"""Draws kestrel's application icon: a kestrel in flight against the sky.

Writes kestrel.png (64 x 64 RGBA, for Linux desktops) and kestrel.ico (one 64 x 64,
32 bits per pixel image, for the Windows build) next to this script. Standard library
only, and deterministic, so the committed files can be regenerated and compared.
"""

import os
import struct
import zlib

SIZE = 64
SUBSAMPLES = 4  # per axis; edges are anti-aliased by coverage

SKY_TOP = (38, 86, 140)
SKY_BOTTOM = (112, 170, 220)
PLUMAGE = (200, 98, 44)
WING_TIPS = (58, 40, 30)

# Bird seen from below, wings spread: (x, y) in pixels.
BIRD = [
    (3, 31), (10, 23), (19, 19), (28, 21), (36, 21), (45, 19), (54, 23), (61, 31),
    (48, 29), (38, 33), (42, 51), (32, 54), (22, 51), (26, 33), (16, 29),
]
HEAD = (32, 19, 5.0)  # centre x, centre y, radius


def inside_rounded_square(x, y, margin=1.0, radius=12.0):
    lo, hi = margin, SIZE - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_polygon(x, y, points):
    # Even-odd rule.
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def inside_bird(x, y):
    hx, hy, r = HEAD
    return inside_polygon(x, y, BIRD) or (x - hx) ** 2 + (y - hy) ** 2 <= r * r


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def pixel(px, py):
    """Returns (r, g, b, a) with straight (not premultiplied) alpha."""
    sky = bird = 0
    for sy in range(SUBSAMPLES):
        for sx in range(SUBSAMPLES):
            x = px + (sx + 0.5) / SUBSAMPLES
            y = py + (sy + 0.5) / SUBSAMPLES
            if inside_rounded_square(x, y):
                sky += 1
                if inside_bird(x, y):
                    bird += 1
    total = SUBSAMPLES * SUBSAMPLES
    if sky == 0:
        return (0, 0, 0, 0)
    feathers = WING_TIPS if px < 11 or px > 52 else PLUMAGE
    colour = mix(mix(SKY_TOP, SKY_BOTTOM, py / (SIZE - 1)), feathers, bird / sky)
    return tuple(round(c) for c in colour) + (round(255 * sky / total),)


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(rows):
    # Colour rows bottom-up in BGRA, then the AND mask (1 bit per pixel, rows padded
    # to 4 bytes), all clear: the alpha channel decides transparency.
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = bytes(((SIZE + 31) // 32 * 4) * SIZE)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 32, 0,
                       len(colour) + len(mask), 0, 0, 0, 0)
    image = info + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "kestrel.png"), "wb") as f:
        f.write(png(rows))
    with open(os.path.join(here, "kestrel.ico"), "wb") as f:
        f.write(ico(rows))


if __name__ == "__main__":
    main()
