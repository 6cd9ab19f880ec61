#!/usr/bin/env python3
"""Writes updater.ico: one 32 x 32 image at 32 bits per pixel (BMP in ICO).

The picture is a blue rounded square with a white downward arrow over a
bar. Run it again after changing the drawing and commit the new icon.
"""
import struct
import sys

SIZE = 32


def pixel(x, y):
    """RGBA of pixel (x, y), y counted from the top."""
    # Rounded square with a 5-pixel corner radius.
    r = 5
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    white = (255, 255, 255, 255)
    # Arrow shaft, head and the bar below it.
    if 13 <= x <= 18 and 5 <= y <= 15:
        return white
    if 16 <= y <= 22 and abs(x - 15.5) <= 22 - y + 0.5:
        return white
    if 24 <= y <= 26 and 7 <= x <= 24:
        return white
    shade = 200 - y * 3
    return (30, 90, shade, 255)


def main(path):
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = b"".join(bytes((b, g, r, a)) for r, g, b, a in (pixel(x, y) for x in range(SIZE)))
        rows.append(row)
    xor = b"".join(rows)
    mask = b"\0" * (SIZE * SIZE // 8)  # 1 bit per pixel, rows of 4 bytes
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "updater.ico")
