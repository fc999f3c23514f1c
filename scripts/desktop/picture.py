"""Pictures of the screen: written as PNG, and searched for the item's own icon."""

import struct
import zlib


def write_png(path, width, rows):
    """A picture as a PNG file: rows of RGB bytes, width pixels each."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 6)) + chunk(b"IEND", b""))


def read_ppm(data):
    """(width, height, rows of RGB bytes) of a binary PPM."""
    fields = data.split(maxsplit=4)
    width, height = int(fields[1]), int(fields[2])
    return width, height, [fields[4][y * width * 3:(y + 1) * width * 3] for y in range(height)]


def find_icon(rows, pixmaps, top, tolerance=24):
    """Where the picture's rows from `top` down show one of the item's icon pixmaps (IconPixmap's
    (width, height, ARGB32 in network order, not premultiplied)) drawn unscaled over the panel:
    its (x, y, side) when all but 5 % of its pixels, laid over the panel's colour at its top left
    corner (a clear pixel), are within `tolerance` of the picture; else None."""
    height, width = len(rows), len(rows[0]) // 3
    pixel = lambda x, y: rows[y][3 * x:3 * x + 3]
    near = lambda got, want: all(abs(got[c] - want[c]) <= tolerance for c in range(3))
    over = lambda alpha, colour, under: [(alpha * colour[c] + (255 - alpha) * under[c]) // 255 for c in range(3)]
    for side, _, argb in sorted(pixmaps):
        if side * side * 4 != len(argb) or argb[0] != 0:
            continue
        pixels = [(i % side, i // side, argb[4 * i], argb[4 * i + 1:4 * i + 4]) for i in range(side * side)]
        # The most opaque pixel first: it rules out most places at once.
        pixels.sort(key=lambda p: -p[2])
        allowed = len(pixels) // 20
        for y in range(top, height - side + 1):
            for x in range(width - side + 1):
                under = pixel(x, y)
                if not near(pixel(x + pixels[0][0], y + pixels[0][1]), over(pixels[0][2], pixels[0][3], under)):
                    continue
                wrong = 0
                for dx, dy, alpha, colour in pixels:
                    wrong += not near(pixel(x + dx, y + dy), over(alpha, colour, under))
                    if wrong > allowed:
                        break
                if wrong <= allowed:
                    return x, y, side
    return None


def pixmaps(tray):
    return [(int(w), int(h), bytes(bytearray(data))) for w, h, data in tray.property("IconPixmap")]


def drawn_box(rows, top, bottom, left, background):
    """The bounding box (x, y, w, h) of what differs from the background colour (RGB bytes) in rows
    top to bottom, from column left on; None where nothing does."""
    width = len(rows[0]) // 3
    drawn = [(x, y) for y in range(top, bottom) for x in range(left, width) if rows[y][x * 3:x * 3 + 3] != background]
    if not drawn:
        return None
    xs, ys = [x for x, _ in drawn], [y for _, y in drawn]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1
