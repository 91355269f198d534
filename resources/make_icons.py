#!/usr/bin/env python3
"""Draws the Tarvix window icons (a matrix bracket with an 'x' over a dark
tile) at 16, 32, 64, 128 and 256 pixels. Plain Python, no image library."""
import struct, zlib, os

def png(size, pixels):
    raw = b''.join(b'\x00' + bytes(pixels[y*size*4:(y+1)*size*4]) for y in range(size))
    def chunk(t, d):
        c = struct.pack('>I', len(d)) + t + d
        return c + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

def draw(size):
    px = [0] * (size * size * 4)
    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            i = (y * size + x) * 4
            px[i:i+4] = c
    r = size / 16.0
    tile, green, white = (20, 24, 32, 255), (0, 220, 90, 255), (240, 240, 240, 255)
    for y in range(size):
        for x in range(size):
            # rounded tile
            cx = min(x, size - 1 - x); cy = min(y, size - 1 - y)
            if cx + cy >= 2 * r or (cx >= r and cy >= r):
                put(x, y, tile)
    w = max(1, int(round(1.2 * r)))
    m = int(3 * r)
    for y in range(m, size - m):              # matrix brackets
        for k in range(w):
            put(m + k, y, green); put(size - 1 - m - k, y, green)
    for x in range(m, m + int(2.5 * r)):
        for k in range(w):
            put(x, m + k, green); put(x, size - 1 - m - k, green)
            put(size - 1 - x, m + k, green); put(size - 1 - x, size - 1 - m - k, green)
    a, b = int(5.5 * r), size - int(5.5 * r)  # the unknown: an 'x'
    for t in range(a, b):
        for k in range(w):
            put(t + k, t, white); put(t + k, size - 1 - t, white)
    return px

here = os.path.dirname(os.path.abspath(__file__))
os.makedirs(os.path.join(here, 'icons'), exist_ok=True)
for s in (16, 32, 64, 128, 256):
    with open(os.path.join(here, 'icons', 'Trx_%dx%d.png' % (s, s)), 'wb') as f:
        f.write(png(s, draw(s)))
