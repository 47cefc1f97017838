#!/usr/bin/env python3
"""Draws the Verdanox images and writes them into app/images/:

  logo.gif         104 x 34 logo (window icon, dialog picture)
  mini.gif         16 x 16 mini icon
  verdanox-48.ico  48 x 48, 256 colours, for the Windows icon resource

and into packaging/linux/icons/ the desktop icon in the freedesktop
"hicolor" sizes, as PNG with a transparent background:

  verdanox-16.png ... verdanox-256.png

GIFs are GIF89a with one frame, a 256-entry global colour table and no
graphic control extension. Run it again after changing a picture; the
results are committed, the build only wraps them.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "app", "images")
ICONS = os.path.join(HERE, "..", "packaging", "linux", "icons")
HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

# palette: index -> RGB; CLEAR is transparent in the desktop icons
WHITE, DARK, GREEN, LIGHT, GREY, WAVE, CLEAR = 0, 1, 2, 3, 4, 5, 6
COLOURS = [(255, 255, 255), (28, 52, 46), (46, 160, 90), (160, 220, 170), (192, 192, 192), (30, 110, 200)]
PALETTE = COLOURS + [(0, 0, 0)] * (256 - len(COLOURS))

# 5 x 7 capitals used in the logo
FONT = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
}


def canvas(w, h, colour=WHITE):
    return [[colour] * w for _ in range(h)]


def text(img, s, x, y, colour, scale=1):
    for ch in s:
        for r, row in enumerate(FONT[ch]):
            for c, bit in enumerate(row):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            img[y + r * scale + dy][x + c * scale + dx] = colour
        x += 6 * scale


def arc(img, cx, cy, radius, colour, thickness=1.0):
    """Right-hand quarter arcs: the radio waves of the meter."""
    h, w = len(img), len(img[0])
    for y in range(h):
        for x in range(w):
            dx, dy = x - cx, y - cy
            if dx > 0 and abs(dy) <= dx * 1.1:
                d = (dx * dx + dy * dy) ** 0.5
                if abs(d - radius) <= thickness / 2:
                    img[y][x] = colour


def meter(img, x, y, size):
    """A small gas meter: dark body, green dial."""
    for r in range(size):
        for c in range(size):
            edge = r in (0, size - 1) or c in (0, size - 1)
            img[y + r][x + c] = DARK if edge else LIGHT
    for r in range(size // 3, size // 3 + max(2, size // 5)):
        for c in range(2, size - 2):
            img[y + r][x + c] = GREEN


def logo():
    img = canvas(104, 34)
    for x in range(104):
        img[0][x] = img[33][x] = GREEN
    for y in range(34):
        img[y][0] = img[y][103] = GREEN
    meter(img, 5, 9, 16)
    for radius in (4, 7, 10):
        arc(img, 20, 17, radius, WAVE, 1.4)
    text(img, "VERDANOX", 33, 7, DARK)
    for x in range(33, 80):
        img[16][x] = GREEN
    text(img, "VDX", 33, 19, GREEN)
    return img


def mini(size=16, background=WHITE):
    img = canvas(size, size, background)
    s = size / 16.0
    meter(img, 0, int(4 * s), int(9 * s))
    for radius in (3, 5.5, 8):
        arc(img, int(8 * s) - 1, int(8 * s), radius * s, WAVE, 1.3 * s)
    return img


def lzw_uncompressed(pixels):
    """GIF LZW stream with 9-bit codes only: a clear code before every 254
    literals keeps the table from growing. Valid for any decoder."""
    clear, end = 256, 257
    codes = []
    for i, p in enumerate(pixels):
        if i % 254 == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    out, acc, bits = bytearray(), 0, 0
    for c in codes:
        acc |= c << bits
        bits += 9
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc)
    return bytes(out)


def gif(img):
    h, w = len(img), len(img[0])
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", w, h, 0xF7, 0, 0)  # global table, 8 bits, 256 entries
    for rgb in PALETTE:
        data += bytes(rgb)
    data += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
    data += b"\x08"  # LZW minimum code size
    stream = lzw_uncompressed([p for row in img for p in row])
    for i in range(0, len(stream), 255):
        chunk = stream[i:i + 255]
        data += bytes([len(chunk)]) + chunk
    data += b"\x00\x3B"
    return bytes(data)


def png(img):
    """RGBA: every CLEAR pixel fully transparent, all others opaque."""
    h, w = len(img), len(img[0])
    raw = b"".join(b"\x00" + b"".join(bytes(PALETTE[p]) + (b"\x00" if p == CLEAR else b"\xff") for p in row)
                   for row in img)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(img):
    """One 48 x 48 image, 8 bits per pixel (256 colours), BMP inside."""
    h, w = len(img), len(img[0])
    xor = b"".join(bytes(img[y]) for y in range(h - 1, -1, -1))
    mask_row = ((w + 31) // 32) * 4
    andmask = b"\x00" * (mask_row * h)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 8, 0, len(xor) + len(andmask), 0, 0, 256, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    bmp = header + palette + xor + andmask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 8, len(bmp), 22) + bmp


def main():
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(ICONS, exist_ok=True)
    files = {os.path.join(OUT, "logo.gif"): gif(logo()), os.path.join(OUT, "mini.gif"): gif(mini()),
             os.path.join(OUT, "verdanox-48.ico"): ico(mini(48))}
    for size in HICOLOR_SIZES:
        files[os.path.join(ICONS, "verdanox-%d.png" % size)] = png(mini(size, CLEAR))
    for path, data in files.items():
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
