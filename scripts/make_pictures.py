#!/usr/bin/env python3
"""Draws the program's pictures and writes them as 16-colour icon files."""
import math, os, struct, sys

PALETTE = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
           (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]
BLACK, GREY, LGREY, RED, YELLOW, WHITE = 0, 8, 7, 9, 11, 15
T = None  # transparent

def icon_image(size, draw):
    px = [[draw(x + 0.5, y + 0.5, size) for x in range(size)] for y in range(size)]
    row_bytes = ((size * 4 + 31) // 32) * 4
    mask_bytes = ((size + 31) // 32) * 4
    xor = b''
    andm = b''
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        mrow = bytearray(mask_bytes)
        for x in range(size):
            c = px[y][x]
            idx = 0 if c is None else c
            row[x // 2] |= idx << (4 if x % 2 == 0 else 0)
            if c is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(row)
        andm += bytes(mrow)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + pal + xor + andm

def write_ico(path, images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, blob in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        data += blob
    with open(path, 'wb') as f:
        f.write(out + data)

def face(x, y, s):
    k = s / 32.0
    cx = cy = s / 2.0
    r = math.hypot(x - cx, y - cy)
    R = 15 * k
    if r > R:
        return T
    if r > R - 1.3 * max(k, 0.75):
        return BLACK
    for ex in (cx - 5 * k, cx + 5 * k):
        if math.hypot(x - ex, (y - (cy - 4 * k)) * 0.7) < 2.2 * k:
            return BLACK
    d = math.hypot(x - cx, y - (cy + 1 * k))
    if y > cy + 2 * k and abs(d - 8.5 * k) < 1.2 * max(k, 0.7):
        return BLACK
    return YELLOW

def seg_dist(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)

def app_icon(x, y, s):
    c = s / 2.0
    r = math.hypot(x - c, y - c)
    # the prohibition sign over the hand
    if 12.5 < r < 15.5:
        return RED
    if r <= 12.5 and seg_dist(x, y, 7, 7, 25, 25) < 2.0:
        return RED
    # the hand: a palm and a raised index finger
    if 11 <= x <= 21 and 15 <= y <= 26:
        if x in (11, 21) or y in (15, 26) and False:
            return BLACK
        return GREY
    if 13 <= x <= 16 and 5 <= y <= 15:
        return LGREY if x > 15 else GREY
    if 17 <= x <= 21 and 13 <= y <= 15:
        return GREY
    if r > 15.5:
        return T
    return T

def spider(x, y, s):
    k = s / 48.0
    cx, cy = s / 2.0, s / 2.0
    if ((x - cx) / (6 * k)) ** 2 + ((y - (cy + 5 * k)) / (8 * k)) ** 2 <= 1:
        return BLACK
    if ((x - cx) / (4.5 * k)) ** 2 + ((y - (cy - 6 * k)) / (4.5 * k)) ** 2 <= 1:
        return BLACK
    if math.hypot(x - (cx - 2 * k), y - (cy - 7 * k)) < 1.1 * k or math.hypot(x - (cx + 2 * k), y - (cy - 7 * k)) < 1.1 * k:
        return RED
    legs = []
    for side in (-1, 1):
        for (kx1, ky1, kx2, ky2, ex, ey) in ((5, -3, 13, -12, 18, -4), (5, 0, 15, -4, 21, 4),
                                              (5, 3, 15, 6, 20, 15), (5, 6, 12, 13, 15, 22)):
            legs.append((cx + side * kx1 * k, cy + ky1 * k, cx + side * kx2 * k, cy + ky2 * k))
            legs.append((cx + side * kx2 * k, cy + ky2 * k, cx + side * ex * k, cy + ey * k))
    w = max(0.9 * k, 0.6)
    for (ax, ay, bx, by) in legs:
        if seg_dist(x, y, ax, ay, bx, by) < w:
            return BLACK
    return T

def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    face_images = [(32, icon_image(32, face)), (16, icon_image(16, face))]
    write_ico(os.path.join(root, 'Pictures', 'Face.ico'), face_images)
    write_ico(os.path.join(root, 'forms', 'Face.ico'), face_images)
    write_ico(os.path.join(root, 'forms', 'Tarrowin.ico'), [(32, icon_image(32, app_icon))])
    write_ico(os.path.join(root, 'forms', 'Spider.ico'),
              [(48, icon_image(48, spider)), (32, icon_image(32, spider)), (16, icon_image(16, spider))])

if __name__ == '__main__':
    main()
