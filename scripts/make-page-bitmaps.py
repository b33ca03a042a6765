#!/usr/bin/python3
"""Draws the two bitmaps of the wizard pages for one edition and writes them as
Windows bitmap files:
  side.bmp  480 x 640, 24 bits per pixel: the picture at the lower left of the
            Welcome and Finish pages, drawn smaller on small screens;
  logo.bmp  51 x 48, 8 bits per pixel with a palette: the logo in the header
            band of the other pages.
Each edition has its own colours, so a user can tell which setup is running.

    scripts/make-page-bitmaps.py workstation|server OUTPUT_FOLDER
"""
import math
import os
import struct
import sys

COLOURS = {  # (top of the picture, bottom of the picture, accent)
    "workstation": ((222, 236, 250), (38, 94, 168), (255, 255, 255)),
    "server": ((224, 244, 236), (22, 112, 92), (255, 255, 255)),
}


def bitmap_file(width, height, bits, rows, palette=b""):
    """A BITMAPFILEHEADER and BITMAPINFOHEADER, then the palette and the rows,
    bottom row first, each padded to 4 bytes."""
    stride = (width * bits // 8 + 3) & ~3
    pixels = b"".join(row.ljust(stride, b"\0") for row in reversed(rows))
    offset = 14 + 40 + len(palette)
    colours = len(palette) // 4
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835,
                       colours, 0)
    return header + info + palette + pixels


def mix(a, b, t):
    return tuple(int(round(p + (q - p) * t)) for p, q in zip(a, b))


def side_picture(top, bottom, accent):
    """A soft gradient with a cable's curve ending in a plug: the product
    carries devices across the connection."""
    width, height = 480, 640
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            colour = mix(top, bottom, (y / (height - 1)) ** 1.4)
            # The cable: a sine curve across the lower half.
            curve_y = 430 + 70 * math.sin(x / 75.0)
            distance = abs(y - curve_y)
            if distance < 9:
                colour = mix(colour, accent, min(1.0, (9 - distance) / 3))
            # The plug at the right end of the cable.
            if 380 <= x < 450 and abs(y - (430 + 70 * math.sin(380 / 75.0))) < 28:
                colour = mix(colour, accent, 0.85)
            # Light circles, as devices seen from afar.
            for cx, cy, r in ((120, 200, 60), (300, 150, 40), (210, 300, 28)):
                if (x - cx) ** 2 + (y - cy) ** 2 < r * r:
                    colour = mix(colour, accent, 0.25)
            row += bytes((colour[2], colour[1], colour[0]))
        rows.append(bytes(row))
    return bitmap_file(width, height, 24, rows)


def logo(bottom, accent):
    """A rounded square in the edition's colour with a white ring, on white."""
    width, height = 51, 48
    levels = 16
    # Palette: white to the edition's colour in 16 steps, as blue, green, red, 0.
    palette = b"".join(bytes((c[2], c[1], c[0], 0))
                       for c in (mix((255, 255, 255), bottom, i / (levels - 1))
                                 for i in range(levels)))
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            dx, dy = x - 25, y - 24
            inside_square = max(abs(dx), abs(dy)) < 21 and (abs(dx) < 15 or abs(dy) < 15 or
                                                            (abs(dx) - 15) ** 2 +
                                                            (abs(dy) - 15) ** 2 < 36)
            ring = 8 <= math.hypot(dx, dy) < 13
            if inside_square and not ring:
                row.append(levels - 1)
            elif inside_square and ring:
                row.append(0)
            else:
                row.append(0)
        rows.append(bytes(row))
    return bitmap_file(width, height, 8, rows, palette + b"\0" * 4 * (256 - levels))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in COLOURS:
        sys.exit("usage: make-page-bitmaps.py workstation|server OUTPUT_FOLDER")
    top, bottom, accent = COLOURS[sys.argv[1]]
    folder = sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for name, data in (("side.bmp", side_picture(top, bottom, accent)),
                       ("logo.bmp", logo(bottom, accent))):
        temporary = os.path.join(folder, name + ".tmp")
        with open(temporary, "wb") as out:
            out.write(data)
        os.replace(temporary, os.path.join(folder, name))


if __name__ == "__main__":
    main()
