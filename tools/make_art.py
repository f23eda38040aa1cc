#!/usr/bin/env python3
"""Draws the application icon and the logo and writes them under resources/.

Pure Python (zlib and struct only), so the art can be redrawn anywhere:
    python3 tools/make_art.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, os.pardir, "resources")

TRANSPARENT = None
OUTLINE = (64, 64, 64)
BEZEL = (200, 200, 200)
BEZEL_LIGHT = (236, 236, 236)
SCREEN = (16, 64, 192)
WHITE = (255, 255, 255)
STAND = (150, 150, 150)
NAVY_EDGE = (7, 7, 69)


def inside_triangle(px, py, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side((px, py), a, b), side((px, py), b, c), side((px, py), c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def in_rect(x, y, r):
    return r[0] <= x <= r[2] and r[1] <= y <= r[3]


def inset(r, d):
    return (r[0] + d, r[1] + d, r[2] - d, r[3] - d)


def icon_colour(x, y, px):
    """The monitor in unit coordinates (0..1), px being one pixel; None is
    transparent. Outlines never get thinner than a pixel."""
    line = max(0.035, px)
    bezel = (0.04, 0.08, 0.96, 0.74)
    screen = (0.15, 0.18, 0.85, 0.64)
    if in_rect(x, y, bezel):
        if not in_rect(x, y, inset(bezel, line)):
            return OUTLINE
        if in_rect(x, y, screen):
            if not in_rect(x, y, inset(screen, line)):
                return OUTLINE
            # Four arrows from the middle, their heads in the screen's corners.
            inner = inset(screen, line + px)
            mx, my = (inner[0] + inner[2]) / 2, (inner[1] + inner[3]) / 2
            head = 0.13 if px < 1 / 40 else (3 * px if px < 1 / 20 else 2 * px)
            for cx in (inner[0], inner[2]):
                for cy in (inner[1], inner[3]):
                    dx, dy = (1 if cx < mx else -1), (1 if cy < my else -1)
                    if inside_triangle(x, y, (cx, cy), (cx + dx * head, cy), (cx, cy + dy * head)):
                        return WHITE
                    # The shaft, where there are pixels enough to draw one.
                    t = ((x - cx) * dx + (y - cy) * dy) / 2
                    off = abs((x - cx) * dx - (y - cy) * dy) / 2
                    if px < 1 / 40 and 0 <= t <= 0.13 and off <= 0.02:
                        return WHITE
            return SCREEN
        return BEZEL_LIGHT if y < bezel[1] + 2 * line else BEZEL
    if 0.40 <= x <= 0.60 and 0.74 <= y <= 0.84:
        return OUTLINE if x < 0.40 + line or x > 0.60 - line else STAND
    base = (0.24, 0.84, 0.76, 0.94)
    if in_rect(x, y, base):
        return STAND if in_rect(x, y, inset(base, line)) else OUTLINE
    return TRANSPARENT


def render_icon(size):
    return [[icon_colour((i + 0.5) / size, (j + 0.5) / size, 1 / size) for i in range(size)]
            for j in range(size)]


def blend(base, top, alpha):
    return tuple(round(b + (t - b) * alpha) for b, t in zip(base, top))


def logo_pixel(x, y, w, h):
    """One logo pixel, averaged over 4 x 4 samples."""
    total = [0, 0, 0]
    for sy in range(4):
        for sx in range(4):
            px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
            c = NAVY_EDGE
            # A soft glow towards the middle, nothing at the edges.
            dx, dy = (px - w / 2) / (w / 2), (py - h / 2) / (h / 2)
            glow = max(0.0, 1.0 - (dx * dx + dy * dy)) * 0.18
            c = blend(c, (40, 40, 130), glow)
            # The large frame.
            if 10 <= px <= w - 10 and 10 <= py <= h - 10 and not (
                    15 <= px <= w - 15 and 15 <= py <= h - 15):
                c = blend(c, (70, 70, 160), 0.35)
            # The large triangle, drawn as a band.
            a, b, t = (22, h - 24), (w / 2, 58), (w - 22, h - 24)
            if inside_triangle(px, py, a, b, t) and not inside_triangle(
                    px, py, (33, h - 30), (w / 2, 76), (w - 33, h - 30)):
                c = blend(c, (90, 90, 180), 0.28)
            for i in range(3):
                total[i] += c[i]
    return tuple(round(v / 16) for v in total)


def render_logo(w=164, h=205):
    rows = [[logo_pixel(x, y, w, h) for x in range(w)] for y in range(h)]
    # The pictogram: the icon in a white frame, top right.
    icon = render_icon(32)
    left, top = w - 46, 10
    for j in range(36):
        for i in range(36):
            rows[top + j][left + i] = WHITE if i in (0, 35) or j in (0, 35) else rows[top + j][left + i]
    for j in range(32):
        for i in range(32):
            if icon[j][i] is not None:
                rows[top + 2 + j][left + 2 + i] = icon[j][i]
    return rows


def palette_of(pixels):
    colours = [None]
    for row in pixels:
        for c in row:
            if c not in colours:
                colours.append(c)
    assert len(colours) <= 256
    return colours


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(path, pixels):
    """An 8-bit palette PNG; index 0 is transparent."""
    colours = palette_of(pixels)
    index = {c: i for i, c in enumerate(colours)}
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(index[c] for c in row) for row in pixels)
    plte = b"".join(bytes(c if c else (0, 0, 0)) for c in colours)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 3, 0, 0, 0)))
        f.write(png_chunk(b"PLTE", plte))
        f.write(png_chunk(b"tRNS", b"\0"))
        f.write(png_chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(png_chunk(b"IEND", b""))


def write_bmp24(path, pixels):
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    body = b""
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        body += line + b"\0" * (stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(body), 0, 0, 14 + 40))
        f.write(header + body)


def ico_image(pixels):
    """One 256-colour icon image: header, palette, colour rows, mask rows."""
    colours = palette_of(pixels)
    index = {c: i for i, c in enumerate(colours)}
    size = len(pixels)
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) if c else b"\0\0\0\0" for c in colours)
    pal += b"\0\0\0\0" * (256 - len(colours))
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor, mask = b"", b""
    for row in reversed(pixels):
        xor += bytes(index[c] for c in row) + b"\0" * (xor_stride - size)
        line = bytearray(and_stride)
        for i, c in enumerate(row):
            if c is None:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += bytes(line)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(mask),
                         0, 0, 256, 0)
    return header + pal + xor + mask


def write_ico(path, images):
    blobs = [ico_image(p) for p in images]
    offset = 6 + 16 * len(blobs)
    out = struct.pack("<HHH", 0, 1, len(blobs))
    for pixels, blob in zip(images, blobs):
        size = len(pixels)
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    os.makedirs(OUT, exist_ok=True)
    icons = {size: render_icon(size) for size in (16, 32, 48, 256)}
    for size, pixels in icons.items():
        write_png(os.path.join(OUT, "tavrimo-%d.png" % size), pixels)
    write_ico(os.path.join(OUT, "tavrimo.ico"), [icons[16], icons[32]])
    write_bmp24(os.path.join(OUT, "logo.bmp"), render_logo())


if __name__ == "__main__":
    main()
