#!/usr/bin/env python3
"""Draws the wizard's artwork and writes it beside this script:

  wizard.bmp  bitmap 149, the side picture: a disc and the product's name
              on a blue ground (8-bit colour)
  generic.bmp bitmap 149 of the generic setup: the same without the names
  logo.bmp    bitmap 103, the disc alone (8-bit colour)
  wizard.ico  icon 101, the disc in 16 and 32 pixels, in 16 and 256 colours

Plain Python 3, no packages: every picture is drawn by sampling shapes on a
fine grid, then reduced to a palette. The output is the same on every run,
so the committed files can be remade and compared:

  python3 resources/artwork.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The side picture fills the sunken picture frame of the dialog (80 x 140
# dialog units: 120 x 227 pixels with MS Sans Serif at 96 dpi, wider with a
# wider dialog font). The frame shows the middle of a larger picture, so
# the picture is a little larger than the frame and its drawing keeps to
# the middle 110 pixels.
SIDE_WIDTH, SIDE_HEIGHT = 140, 232

SAMPLES = 4  # per pixel and axis

# ---------------------------------------------------------------- shapes

# Capital letters on a grid 4 wide and 6 high, as strokes.
LETTERS = {
    "A": [[(0, 6), (2, 0), (4, 6)], [(0.7, 4), (3.3, 4)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "K": [[(0, 0), (0, 6)], [(4, 0), (0, 4)], [(1.4, 2.6), (4, 6)]],
    "L": [[(0, 0), (0, 6), (4, 6)]],
    "M": [[(0, 6), (0, 0), (2, 3.5), (4, 0), (4, 6)]],
    "N": [[(0, 6), (0, 0), (4, 6), (4, 0)]],
    "O": [[(1.2, 0), (2.8, 0), (4, 1.2), (4, 4.8), (2.8, 6), (1.2, 6), (0, 4.8), (0, 1.2), (1.2, 0)]],
    "R": [[(0, 6), (0, 0), (3, 0), (4, 0.9), (4, 2.1), (3, 3), (0, 3)], [(2, 3), (4, 6)]],
    "T": [[(0, 0), (4, 0)], [(2, 0), (2, 6)]],
    "U": [[(0, 0), (0, 4.8), (1.2, 6), (2.8, 6), (4, 4.8), (4, 0)]],
    "V": [[(0, 0), (2, 6), (4, 0)]],
}


def segments_of(word, left, top, height, spacing):
    """Stroke segments of a word whose letters are height pixels high."""
    unit = height / 6.0
    segments = []
    x = left
    for letter in word:
        for stroke in LETTERS[letter]:
            points = [(x + px * unit, top + py * unit) for px, py in stroke]
            segments += list(zip(points, points[1:]))
        x += (4 + spacing) * unit
    return segments


def word_width(word, height, spacing):
    unit = height / 6.0
    return (len(word) * (4 + spacing) - spacing) * unit


def distance_to_segment(x, y, segment):
    (ax, ay), (bx, by) = segment
    dx, dy = bx - ax, by - ay
    length = dx * dx + dy * dy
    t = 0.0 if length == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length))
    px, py = ax + t * dx - x, ay + t * dy - y
    return math.sqrt(px * px + py * py)


class Text:
    """A word drawn with round strokes; coverage() says how much of a
    sample point it covers (0 or 1)."""

    def __init__(self, word, centre_x, top, height, spacing, stroke):
        left = centre_x - word_width(word, height, spacing) / 2
        self.segments = segments_of(word, left, top, height, spacing)
        self.radius = stroke / 2.0
        pad = self.radius + 1
        xs = [p[0] for s in self.segments for p in s]
        ys = [p[1] for s in self.segments for p in s]
        self.box = (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)

    def covers(self, x, y):
        x0, y0, x1, y1 = self.box
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        return any(distance_to_segment(x, y, s) <= self.radius for s in self.segments)


def hsv(h, s, v):
    i = int(h * 6) % 6
    f = h * 6 - int(h * 6)
    p, q, t = v * (1 - s), v * (1 - s * f), v * (1 - s * (1 - f))
    return [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i]


class Disc:
    """A compact disc seen from the front: silver with the rainbow sheen of
    its tracks, a clear hub and a hole in the middle."""

    def __init__(self, cx, cy, radius):
        self.cx, self.cy, self.r = cx, cy, radius

    def colour(self, x, y):
        """(r, g, b) in 0..1 at a sample point, or None off the disc."""
        dx, dy = x - self.cx, y - self.cy
        d = math.hypot(dx, dy) / self.r
        if d > 1.0 or d < 0.16:
            return None
        if d > 0.965:  # the rim
            return (0.45, 0.48, 0.55)
        angle = math.atan2(dy, dx)
        if d < 0.36:  # the clear hub, with a ring where the data begins
            shade = 0.78 if d > 0.33 else 0.88
            return (shade, shade, shade + 0.04)
        # Light falls from the upper left: two bright sectors, two dark ones.
        light = 0.80 + 0.17 * math.cos(2 * (angle + math.pi / 4))
        hue = (angle / (2 * math.pi) * 2 + d * 0.35) % 1.0
        tint = hsv(hue, 0.30, 1.0)
        # Fine track rings.
        rings = 0.97 + 0.03 * math.cos(d * 90)
        return tuple(min(1.0, light * rings * (0.72 + 0.28 * c)) for c in tint)


# ---------------------------------------------------------------- drawing

def draw(width, height, paint):
    """Averages paint(x, y) -> (r, g, b) over SAMPLES x SAMPLES points per
    pixel; returns rows of 8-bit (r, g, b)."""
    rows = []
    step = 1.0 / SAMPLES
    for py in range(height):
        row = []
        for px in range(width):
            total = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = paint(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    total[0] += c[0]
                    total[1] += c[1]
                    total[2] += c[2]
            n = SAMPLES * SAMPLES
            row.append(tuple(max(0, min(255, int(round(255 * t / n)))) for t in total))
        rows.append(row)
    return rows


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def side_picture(named=True):
    """Telmura's side picture, or with named false the generic setup's: the
    same ground and disc without the maker's and product's names."""
    w, h = SIDE_WIDTH, SIDE_HEIGHT
    top_colour, bottom_colour = (0.04, 0.14, 0.42), (0.23, 0.43, 0.65)
    # Everything keeps to the middle 200 rows: a Japanese system's dialog
    # font makes the frame about 210 pixels high.
    disc = Disc(w / 2.0, 110, 46)
    shadow = Disc(w / 2.0 + 2.5, 113.5, 46)
    maker = Text("VORNAK", w / 2.0, 33, 9, 1.7, 1.5)
    name = Text("TELMURA", w / 2.0, 172, 14, 1.6, 2.4)
    line_y = 194

    def paint(x, y):
        ground = mix(top_colour, bottom_colour, y / h)
        colour = disc.colour(x, y)
        if colour:
            return colour
        if shadow.colour(x, y):
            ground = mix(ground, (0, 0, 0.1), 0.35)
        if named and name.covers(x, y):
            return (1.0, 1.0, 1.0)
        if named and maker.covers(x, y):
            return mix(ground, (1.0, 1.0, 1.0), 0.75)
        if named and abs(y - line_y) < 0.6 and abs(x - w / 2.0) < 38:
            return mix(ground, (0.85, 0.9, 1.0), 0.6)
        return ground

    return draw(w, h, paint)


def disc_alone(size, ground):
    """The disc on a ground given in 8-bit (r, g, b)."""
    disc = Disc(size / 2.0, size / 2.0, size / 2.0 - 0.5)
    ground = tuple(c / 255.0 for c in ground)

    def paint(x, y):
        return disc.colour(x, y) or ground

    return draw(size, size, paint)


def coverage(size):
    """Rows of booleans: where the disc covers at least half a pixel."""
    disc = Disc(size / 2.0, size / 2.0, size / 2.0 - 0.5)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = sum(1 for sy in range(SAMPLES) for sx in range(SAMPLES)
                       if disc.colour(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES))
            row.append(hits * 2 >= SAMPLES * SAMPLES)
        rows.append(row)
    return rows


WHITE, LIGHT_GREY, DARK_GREY = (255, 255, 255), (192, 192, 192), (128, 128, 128)


def disc_in_vga(size):
    """The disc in the colours of a 16-colour display, drawn pixel by pixel
    rather than reduced from the shaded one, which would break its shading
    into a pie of greys: light grey with a dark grey rim, white glints where
    the light falls, a white ring round the hole and a dark edge to it.
    Returns the rows and where the disc is (its mask)."""
    r = size / 2.0
    pixel = 1.0 / r
    hole = 0.14 if size <= 16 else 0.16
    glints = 0.6 if size <= 16 else 0.8  # wider where a thin one would be a staircase
    rows, mask = [], []
    for py in range(size):
        row, opaque = [], []
        for px in range(size):
            dx, dy = px + 0.5 - r, py + 0.5 - r
            d = math.hypot(dx, dy) / r
            glint = math.cos(2 * (math.atan2(dy, dx) + math.pi / 4))
            if d > 1.0 - pixel or d < hole + pixel:
                colour = DARK_GREY
            elif d < 0.36 - pixel * 0.2:
                colour = WHITE
            elif d < 0.36 + pixel * 0.8:  # where the data begins
                colour = LIGHT_GREY
            elif glint > glints and d < 1.0 - 1.5 * pixel:
                colour = WHITE
            else:
                colour = LIGHT_GREY
            row.append(colour)
            opaque.append(hole <= d <= 1.0)
        rows.append(row)
        mask.append(opaque)
    return rows, mask


# ---------------------------------------------------------------- palettes

def median_cut(colours, count):
    """A palette of at most count colours for the given pixel colours."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        # Split the box with the widest channel range.
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                values = [c[channel] for c in box]
                spread = max(values) - min(values)
                if spread > best_range:
                    best, best_range, best_channel = i, spread, channel
        if best is None or best_range == 0:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[best_channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = []
    for box in boxes:
        n = len(box)
        palette.append(tuple(int(round(sum(c[k] for c in box) / n)) for k in range(3)))
    return sorted(set(palette))


def nearest(palette, colour, cache):
    found = cache.get(colour)
    if found is None:
        found = min(range(len(palette)),
                    key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))
        cache[colour] = found
    return found


# The sixteen colours of a VGA display, which every Windows shows.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]


# ---------------------------------------------------------------- files

# An ordered dither spreads a smooth gradient over the palette's steps.
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dithered(colour, x, y, amount):
    offset = (BAYER[y % 4][x % 4] - 7.5) / 16.0 * amount
    return tuple(max(0, min(255, int(round(c + offset)))) for c in colour)


def dib(rows, palette, bits, height_factor=1, dither=0):
    """A BITMAPINFOHEADER, the palette and the bottom-up pixel rows."""
    height = len(rows)
    width = len(rows[0])
    cache = {}
    stride = ((width * bits + 31) // 32) * 4
    pixels = bytearray()
    for y in reversed(range(height)):
        indices = [nearest(palette, dithered(c, x, y, dither), cache) for x, c in enumerate(rows[y])]
        line = bytearray()
        if bits == 8:
            line += bytes(indices)
        else:
            for i in range(0, width, 2):
                high = indices[i]
                low = indices[i + 1] if i + 1 < width else 0
                line.append(high << 4 | low)
        line += bytes(stride - len(line))
        pixels += line
    colours = 1 << bits
    table = bytearray()
    for i in range(colours):
        r, g, b = palette[i] if i < len(palette) else (0, 0, 0)
        table += bytes((b, g, r, 0))
    header = struct.pack("<IiiHHIIiiII", 40, width, height * height_factor, 1, bits, 0,
                         len(pixels), 2835, 2835, 0, 0)
    return header + table + pixels


def write_bmp(path, rows, colours, dither=0):
    flat = [c for row in rows for c in row]
    palette = median_cut(flat, colours)
    info = dib(rows, palette, 8, 1, dither)
    offset = 14 + 40 + 4 * 256
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(info), 0, 0, offset) + info)


def and_mask(mask):
    size = len(mask)
    stride = ((size + 31) // 32) * 4
    data = bytearray()
    for row in reversed(mask):
        line = bytearray(stride)
        for x, opaque in enumerate(row):
            if not opaque:
                line[x // 8] |= 0x80 >> (x % 8)
        data += line
    return data


def write_icon(path, sizes):
    """Each size in 16 colours (any display) and in 256 (a richer one).
    Where the mask makes a pixel transparent its colour is black: the screen
    is ANDed with the mask and XORed with the colour, so any other colour
    there would show as a stray pixel on every background."""
    images = []
    for size in sizes:
        # Edge pixels of the shaded disc blend with the rim's colour, not
        # with a ground that the mask hides anyway.
        shaded = (disc_alone(size, (115, 122, 140)), coverage(size))
        for bits, (rows, mask) in ((4, disc_in_vga(size)), (8, shaded)):
            rows = [[c if shown else (0, 0, 0) for c, shown in zip(row, opaque)] for row, opaque in zip(rows, mask)]
            if bits == 4:
                palette = VGA
            else:
                palette = sorted(set(median_cut([c for row in rows for c in row], 255) + [(0, 0, 0)]))
            images.append((size, bits, dib(rows, palette, bits, 2) + and_mask(mask)))
    offset = 6 + 16 * len(images)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        for size, bits, data in images:
            f.write(struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(data), offset))
            offset += len(data)
        for _, _, data in images:
            f.write(data)


def main():
    write_bmp(os.path.join(HERE, "wizard.bmp"), side_picture(), 256, 8)
    write_bmp(os.path.join(HERE, "generic.bmp"), side_picture(named=False), 256, 8)
    write_bmp(os.path.join(HERE, "logo.bmp"), disc_alone(48, (236, 233, 216)), 64)
    write_icon(os.path.join(HERE, "wizard.ico"), [16, 32])


if __name__ == "__main__":
    main()
