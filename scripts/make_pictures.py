#!/usr/bin/env python3
"""Draws the program's pictures and writes them as 16-colour icon files.

Each picture is a function from a point (in pixels of the image being drawn) to a palette
index, or None where the picture is transparent. A pixel takes the colour that most of its
4x4 sample points have, so the outlines stay smooth without leaving the 16 colours.

The files are plain 4-bit icons: one BITMAPINFOHEADER image per size, its height given twice
over for the colour bitmap and the transparency mask that follows it. Every file is read back
after it is written and checked, so a fault in the writer stops the script instead of shipping
a picture the program cannot load.

Run from anywhere: python3 scripts/make_pictures.py
"""
import math
import os
import struct
import sys

# The 16 colours every display of the program's time could show, in their usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DGREY, LGREY, RED, YELLOW = 0, 8, 7, 9, 11
CLEAR = None  # transparent: mask bit set, colour index 0 under it

SUB = 4  # sample points per pixel along each axis


# Geometry ---------------------------------------------------------------------------------

def seg_dist(px, py, ax, ay, bx, by):
    """Distance from a point to the segment a-b."""
    vx, vy = bx - ax, by - ay
    t = ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)


def in_ellipse(px, py, cx, cy, rx, ry):
    return ((px - cx) / rx) ** 2 + ((py - cy) / ry) ** 2 <= 1.0


def rounded_box_dist(px, py, x0, y0, x1, y1, r):
    """Signed distance to a box with corners rounded by r: negative inside."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - r


# Pictures ---------------------------------------------------------------------------------

def face(x, y, s):
    """A yellow smiling face filling the image, outlined in black."""
    # Drawn on a 32-unit grid. At 16x16 a pixel is two units, so there the lines are made a
    # little wider and the eyes narrower, or they would blur into blots or break apart.
    k = s / 32.0
    x, y = x / k, y / k
    small = s < 24
    c = 16.0
    r = math.hypot(x - c, y - c)
    if r > 14.6:
        return CLEAR
    if r > (12.4 if small else 13.2):
        return BLACK
    # eyes: upright ovals above the middle
    eye_w = 1.2 if small else 1.9
    for ex in (c - 5.0, c + 5.0):
        if in_ellipse(x, y, ex, c - 5.0, eye_w, 3.0):
            return BLACK
    # smile: the lower half of a flattened ring centred above the middle
    d = math.hypot((x - c) / 0.8, y - (c - 6.0))
    if y > c and abs(d - 11.0) < (1.0 if small else 1.1):
        return BLACK
    return YELLOW


def app_icon(x, y, s):
    """The program's icon: a hand raising its index finger, and over it a red sign saying no."""
    k = s / 32.0
    x, y = x / k, y / k  # drawn on a 32-unit grid
    c = 16.0
    r = math.hypot(x - c, y - c)
    ring_out, ring_in = 14.8, 12.0
    # the sign, in front of everything
    if ring_in <= r <= ring_out:
        return RED
    if r < ring_in and seg_dist(x, y, 7.5, 7.5, 24.5, 24.5) < 1.8:
        return RED
    if r > ring_out:
        return CLEAR
    # the hand: a palm with the other fingers curled over it, the index finger raised
    # from its top left, the thumb folded along its right side
    palm = rounded_box_dist(x, y, 11.0, 15.0, 22.0, 26.5, 3.0)
    finger = seg_dist(x, y, 13.5, 6.5, 13.5, 16.0) - 2.0
    thumb = seg_dist(x, y, 21.0, 24.0, 22.5, 17.5) - 1.7
    shape = min(palm, finger, thumb)
    if shape > 0.0:
        return CLEAR
    if shape > -1.0:
        return DGREY  # the outline keeps the hand apart from any background
    for fx in (16.5, 19.0):  # the gaps between the curled fingers
        if abs(x - fx) < 0.5 and 15.0 < y < 19.5:
            return DGREY
    return LGREY


def spider(x, y, s):
    """A black spider seen from above: a round head, a larger body, four legs a side."""
    k = s / 48.0
    cx, cy = s / 2.0, s / 2.0
    if in_ellipse(x, y, cx, cy + 6.0 * k, 7.0 * k, 9.5 * k):
        return BLACK
    if in_ellipse(x, y, cx, cy - 8.5 * k, 4.6 * k, 4.6 * k):
        return BLACK
    width = max(1.0 * k, 0.62)
    # each leg from the head to a knee raised outward, then down to its foot
    legs = ((3.5, -9.0, 12.0, -17.0, 17.0, -8.0),
            (4.2, -7.0, 15.0, -8.0, 21.5, 2.0),
            (4.2, -5.0, 15.0, 1.0, 20.0, 13.0),
            (3.5, -3.5, 12.0, 9.0, 15.0, 21.0))
    for side in (-1, 1):
        for hx, hy, kx, ky, fx, fy in legs:
            hip = (cx + side * hx * k, cy + hy * k)
            knee = (cx + side * kx * k, cy + ky * k)
            foot = (cx + side * fx * k, cy + fy * k)
            if seg_dist(x, y, *hip, *knee) < width or seg_dist(x, y, *knee, *foot) < width:
                return BLACK
    return CLEAR


# Icon files -------------------------------------------------------------------------------

def render(size, draw):
    """Rows of palette indices (None for transparent), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for j in range(SUB):
                for i in range(SUB):
                    c = draw(px + (i + 0.5) / SUB, py + (j + 0.5) / SUB, size)
                    votes[c] = votes.get(c, 0) + 1
            # most votes wins; a tie goes to a colour over transparency, then to the lower index
            row.append(max(votes, key=lambda c: (votes[c], c is not None, -(c or 0))))
        rows.append(row)
    return rows


def dib(rows):
    """A 4-bit device-independent bitmap with its transparency mask, as an icon holds it."""
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for row in reversed(rows):  # a bitmap is stored bottom row first
        line = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, c in enumerate(row):
            line[x // 2] |= (0 if c is None else c) << (4 if x % 2 == 0 else 0)
            if c is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor += line
        andm += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0,
                         len(xor) + len(andm), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(andm)


def ico(images):
    """An icon file from (size, dib) pairs, in the given order."""
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries = b''
    data = b''
    for size, blob in images:
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        data += blob
    return head + entries + data


def read_back(data):
    """Decodes an icon file as a loader would; returns [(size, rows)] or raises ValueError."""
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    if reserved != 0 or kind != 1 or count == 0:
        raise ValueError('not an icon file')
    images = []
    end = 6 + 16 * count
    for n in range(count):
        w, h, colours, res, planes, bits, length, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * n)
        if offset != end or offset + length > len(data):
            raise ValueError('image %d is not where its entry says' % n)
        end = offset + length
        hsize, bw, bh, bplanes, bbits, comp, isize, _, _, used, _ = struct.unpack_from('<IiiHHIIiiII', data, offset)
        size = w or 256
        if (hsize, bw, bh, bplanes, bbits, comp, used) != (40, size, 2 * size, 1, 4, 0, 16) or h != w:
            raise ValueError('image %d: header does not match its entry' % n)
        if (colours, res, planes, bits) != (16, 0, 1, 4):
            raise ValueError('image %d: entry is not a 16-colour image' % n)
        xor_stride = ((size * 4 + 31) // 32) * 4
        and_stride = ((size + 31) // 32) * 4
        if length != 40 + 64 + size * (xor_stride + and_stride) or isize != size * (xor_stride + and_stride):
            raise ValueError('image %d: wrong length' % n)
        pal = [struct.unpack_from('<BBBB', data, offset + 40 + 4 * i) for i in range(16)]
        if [(r, g, b) for b, g, r, _ in pal] != PALETTE:
            raise ValueError('image %d: palette differs' % n)
        xor_at = offset + 104
        and_at = xor_at + size * xor_stride
        rows = []
        for y in range(size):
            src = size - 1 - y
            row = []
            for x in range(size):
                byte = data[xor_at + src * xor_stride + x // 2]
                idx = byte >> 4 if x % 2 == 0 else byte & 15
                clear = data[and_at + src * and_stride + x // 8] & (0x80 >> (x % 8))
                row.append(None if clear else idx)
            rows.append(row)
        images.append((size, rows))
    if end != len(data):
        raise ValueError('bytes after the last image')
    return images


def describe(rows):
    names = {None: 'clear', BLACK: 'black', DGREY: 'dark grey', LGREY: 'light grey',
             RED: 'red', YELLOW: 'yellow'}
    counts = {}
    for row in rows:
        for c in row:
            counts[c] = counts.get(c, 0) + 1
    return ', '.join('%s %d' % (names.get(c, str(c)), n)
                     for c, n in sorted(counts.items(), key=lambda i: -i[1]))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    face_icon = [(32, render(32, face)), (16, render(16, face))]
    files = [
        ('Pictures/Face.ico', face_icon),
        ('forms/Tarrowin.ico', [(32, render(32, app_icon))]),
        ('forms/Spider.ico', [(s, render(s, spider)) for s in (48, 32, 16)]),
    ]
    for name, images in files:
        data = ico([(size, dib(rows)) for size, rows in images])
        path = os.path.join(root, *name.split('/'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        with open(path, 'rb') as f:
            back = read_back(f.read())
        if back != images:
            sys.exit('%s: what was read back is not what was drawn' % name)
        print('%-20s %5d bytes' % (name, len(data)))
        for size, rows in back:
            print('    %2dx%-2d %s' % (size, size, describe(rows)))


if __name__ == '__main__':
    main()
