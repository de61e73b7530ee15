#!/usr/bin/env python3
"""Draws LarkSpool's icon and picture: a spool wound with blue thread, and a small wren on it.

Writes LarkSpool.ico (32x32 in 2 colours, 32x32 and 16x16 in 16 colours) and Image1.jpg
(70x58, baseline JFIF, made from raw pixels by ImageMagick's convert). Run it from anywhere;
the files land beside it.
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 colours of the standard Windows palette.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BROWN, DARK, BLUE, NAVY, WHITE, GREY, YELLOW = 3, 0, 12, 4, 15, 8, 11


def spool(x, y, size):
    """Palette index of the icon at (x, y), or None where it is transparent."""
    u, v = x / size, y / size
    if 0.15 <= u <= 0.85 and (0.08 <= v <= 0.2 or 0.8 <= v <= 0.92):
        return BROWN if 0.1 < v < 0.9 and (v < 0.18 or v > 0.82) else DARK
    if 0.28 <= u <= 0.72 and 0.2 < v < 0.8:
        row = int(v * size)
        return NAVY if row % 3 == 0 else BLUE
    # the wren: a round body with a tail, sitting on the upper flange
    if (u - 0.62) ** 2 + (v - 0.02) ** 2 < 0.012:
        return GREY
    return None


def icon_image(size, colours):
    """One ICO image entry (BITMAPINFOHEADER, palette, XOR bits, AND mask)."""
    bpp = 1 if colours == 2 else 4
    palette = [(0, 0, 0), (255, 255, 255)] if colours == 2 else PALETTE16
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):  # bottom-up
        indices, mask = [], []
        for x in range(size):
            index = spool(x, y, size)
            if colours == 2 and index is not None:
                index = 0 if index in (DARK, NAVY, GREY, BROWN) else 1
            indices.append(0 if index is None else index)
            mask.append(1 if index is None else 0)
        row = bytearray()
        if bpp == 1:
            for start in range(0, size, 8):
                byte = 0
                for bit, value in enumerate(indices[start:start + 8]):
                    byte |= (value & 1) << (7 - bit)
                row.append(byte)
        else:
            for start in range(0, size, 2):
                row.append((indices[start] << 4) | indices[start + 1])
        row += b"\0" * (-len(row) % 4)
        xor_rows.append(bytes(row))
        mrow = bytearray()
        for start in range(0, size, 8):
            byte = 0
            for bit, value in enumerate(mask[start:start + 8]):
                byte |= value << (7 - bit)
            mrow.append(byte)
        mrow += b"\0" * (-len(mrow) % 4)
        and_rows.append(bytes(mrow))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + pal + b"".join(xor_rows) + b"".join(and_rows)


def write_icon(path):
    images = [(32, 2), (32, 16), (16, 16)]
    data = [icon_image(size, colours) for size, colours in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, colours), blob in zip(images, data):
        bpp = 1 if colours == 2 else 4
        out += struct.pack("<BBBBHHII", size, size, colours if colours < 256 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(data))


def picture_pixel(x, y):
    """The 70x58 picture: sky, a spool of blue thread, a brown wren with a raised tail."""
    sky = (200 - y, 225 - y // 2, 255)
    if 14 <= x <= 56 and (30 <= y <= 35 or 52 <= y <= 57):
        return (120, 72, 30)
    if 20 <= x <= 50 and 35 < y < 52:
        return (61, 112, 182) if (y % 3) else (40, 70, 130)
    bx, by = x - 38, y - 21
    if bx * bx / 100 + by * by / 49 <= 1:
        return (140, 95, 55) if by > -3 else (110, 70, 40)
    if 45 <= x <= 53 and 6 <= y <= 18 and (x - 45) >= (18 - y) // 2:
        return (110, 70, 40)
    if (x - 30) ** 2 + (y - 16) ** 2 <= 12:
        return (120, 80, 45)
    if 23 <= x <= 26 and 16 <= y <= 17:
        return (230, 180, 60)
    return sky


def write_picture(path):
    raw = bytes(v for y in range(58) for x in range(70) for v in picture_pixel(x, y))
    subprocess.run(
        ["convert", "-size", "70x58", "-depth", "8", "rgb:-", "-strip", "-interlace", "none",
         "-sampling-factor", "2x2,1x1,1x1", "-quality", "85", "jpeg:" + path],
        input=raw, check=True)


if __name__ == "__main__":
    write_icon(os.path.join(HERE, "LarkSpool.ico"))
    write_picture(os.path.join(HERE, "Image1.jpg"))
