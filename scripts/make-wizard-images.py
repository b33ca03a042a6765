#!/usr/bin/python3
"""Draws the folder pages' two 32 x 32 images and writes them as the wizard
reads them: uncompressed 32-bit TGA (blue, green, red, alpha), rows from the
bottom up, with a TGA 2.0 footer, 4140 bytes each.

    scripts/make-wizard-images.py [output folder]   (default resources/images)

The shapes are drawn 4 x 4 times finer and averaged, so the edges get partial
alpha over any background."""
import os
import struct
import sys

SIZE = 32
SAMPLES = 4


def rounded_box(left, top, right, bottom, radius):
    def inside(x, y):
        if not (left <= x < right and top <= y < bottom):
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def mix(a, b, t):
    return tuple(round(p + (q - p) * t) for p, q in zip(a, b))


def folder(back, front, edge, badge):
    """Layers, back to front, each a (shape, colour at (x, y)) pair."""
    tab = rounded_box(2, 5, 14, 11, 1.5)
    rear = rounded_box(2, 8, 30, 27, 1.5)
    body = rounded_box(2, 11, 30, 28, 1.5)
    layers = [
        (rounded_box(3, 26, 31, 30, 2), lambda x, y: (40, 40, 40, 70)),  # shadow
        (tab, lambda x, y: back + (255,)),
        (rear, lambda x, y: back + (255,)),
        (body, lambda x, y: (edge if y > 26.5 or x < 2.5 or x > 29.5 or y < 11.5
                             else mix(front, back, (y - 11) / 22)) + (255,)),
    ]
    return layers + badge


def destination_badge():
    # A small hard disk at the folder's lower right: where the files go.
    disk = rounded_box(17, 20, 29, 26, 1)
    light = rounded_box(25.5, 22, 27.5, 24, 1)
    return [(disk, lambda x, y: (90, 96, 110, 255) if y < 20.6 or y > 25.4
             else (180, 186, 198, 255)),
            (light, lambda x, y: (40, 200, 70, 255))]


def start_menu_badge():
    # A small program window at the folder's lower right: the menu's shortcuts.
    frame = rounded_box(16, 16, 29, 27, 1)
    title = rounded_box(16, 16, 29, 19, 1)
    return [(frame, lambda x, y: (250, 250, 250, 255) if 16.8 < x < 28.2 and y > 16.8
             and y < 26.2 else (60, 90, 160, 255)),
            (title, lambda x, y: (60, 110, 200, 255))]


def render(layers):
    """Rows top-down, each pixel (red, green, blue, alpha) straight alpha."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied sums
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    r = g = b = a = 0.0
                    for shape, colour in layers:
                        if shape(x, y):
                            cr, cg, cb, ca = colour(x, y)
                            ca /= 255
                            r, g, b = (cr * ca + r * (1 - ca), cg * ca + g * (1 - ca),
                                       cb * ca + b * (1 - ca))
                            a = ca + a * (1 - ca)
                    acc = [acc[0] + r, acc[1] + g, acc[2] + b, acc[3] + a]
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(min(255, round(c / n / alpha)) for c in acc[:3])
                           + (round(alpha * 255),))
        rows.append(row)
    return rows


def tga(rows):
    header = struct.pack('<BBBHHBHHHHBB', 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 32, 8)
    pixels = bytearray()
    for row in reversed(rows):  # bottom row first
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    footer = struct.pack('<II', 0, 0) + b'TRUEVISION-XFILE.\0'
    data = header + bytes(pixels) + footer
    assert len(data) == 4140
    return data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'images')
    yellow_back, yellow_front, yellow_edge = (222, 170, 50), (255, 214, 102), (176, 126, 24)
    images = {
        'destination_folder.tga': folder(yellow_back, yellow_front, yellow_edge,
                                         destination_badge()),
        'start_menu_folder.tga': folder(yellow_back, yellow_front, yellow_edge,
                                        start_menu_badge()),
    }
    for name, layers in images.items():
        with open(os.path.join(out, name), 'wb') as file:
            file.write(tga(render(layers)))


if __name__ == '__main__':
    main()
