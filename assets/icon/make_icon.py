#!/usr/bin/env python3
"""Draws Quillet's icon: a sheet of text whose lines end in red return marks.

The pictures are kept below as pixel text, one character a pixel, so they can
be edited by hand. Running this script (python3 only, standard library) writes
quillet-16.png, quillet-32.png and quillet.ico (both sizes, 4 bits per pixel)
next to itself.
"""
import os
import struct
import sys
import zlib

# The standard 16-colour palette; index 13 (magenta) is never drawn and stands
# for "transparent" in the PNG files.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
TRANSPARENT = 13

# Pixel text: '.' transparent, k black, g grey, s silver, w white,
# n navy (text), r red (line-end marks), m maroon (mark shadow), b blue.
KEYS = {'.': TRANSPARENT, 'k': 0, 'g': 8, 's': 7, 'w': 15, 'n': 4, 'r': 9, 'm': 1, 'b': 12}

ICON_32 = """
................................
...kkkkkkkkkkkkkkkkkkkk.........
...kwwwwwwwwwwwwwwwwwwkk........
...kwwwwwwwwwwwwwwwwwwksk.......
...kwwwwwwwwwwwwwwwwwwkwsk......
...kwwnnnnnnnnnnwwwwwwkwwsk.....
...kwwnnnnnnnnnnwwwwrwkkkkkk....
...kwwwwwwwwwwwwwwwwrwwwwwwkg...
...kwwwwwwwwwwwwwwwwrwwwwwwkg...
...kwwnnnnnnnnnnnnwwrwwwwwwkg...
...kwwnnnnnnnnnnnnwrrwwwwwwkg...
...kwwwwwwwwwwwwwwrrrwwwwwwkg...
...kwwwwwwwwwwwwwwwwwwwwwwwkg...
...kwwnnnnnnnwwwwwwwwwwwrwwkg...
...kwwnnnnnnnwwwwwwwwwwwrwwkg...
...kwwwwwwwwwwwwwwwwwwwwrwwkg...
...kwwwwwwwwwwwwwwwwwwwwrwwkg...
...kwwnnnnnnnnnnnnnnnnwwrwwkg...
...kwwnnnnnnnnnnnnnnnnwrrwwkg...
...kwwwwwwwwwwwwwwwwwwrrrwwkg...
...kwwwwwwwwwwwwwwwwwwwwwwwkg...
...kwwnnnnnnnnnnwwwwwwwwrwwkg...
...kwwnnnnnnnnnnwwwwwwwwrwwkg...
...kwwwwwwwwwwwwwwwwwwwwrwwkg...
...kwwwwwwwwwwwwwwwwwwwwrwwkg...
...kwwnnnnnnnnnnnnnnwwwwrwwkg...
...kwwnnnnnnnnnnnnnnwwwrrwwkg...
...kwwwwwwwwwwwwwwwwwwrrrwwkg...
...kwwwwwwwwwwwwwwwwwwwwwwwkg...
...kkkkkkkkkkkkkkkkkkkkkkkkkg...
....ggggggggggggggggggggggggg...
................................
"""

ICON_16 = """
................
.kkkkkkkkkk.....
.kwwwwwwwwkk....
.kwnnnnwwrkwk...
.kwwwwwwrrkkkk..
.kwnnnnnnwwwwkg.
.kwwwwwwwwwrwkg.
.kwnnnnnwwwrwkg.
.kwwwwwwwwrrwkg.
.kwnnnnnnwwwwkg.
.kwwwwwwwwwrwkg.
.kwnnnnwwwwrwkg.
.kwwwwwwwwrrwkg.
.kkkkkkkkkkkkkg.
..gggggggggggg..
................
"""


def parse(art, size):
    rows = [line for line in art.strip('\n').split('\n')]
    if len(rows) != size or any(len(r) != size for r in rows):
        sys.exit(f'the {size}x{size} picture is not {size} rows of {size} pixels')
    return [[KEYS[c] for c in r] for r in rows]


def png(pixels):
    size = len(pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    raw = b''
    for row in pixels:
        raw += b'\0' + bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
    alpha = bytes(0 if i == TRANSPARENT else 255 for i in range(16))
    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 4, 3, 0, 0, 0))
            + chunk(b'PLTE', b''.join(bytes(c) for c in PALETTE))
            + chunk(b'tRNS', alpha)
            + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def dib(pixels):
    """One icon image: a 4-bit bitmap (bottom-up) followed by its 1-bit AND mask."""
    size = len(pixels)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    colours, mask = b'', b''
    for row in reversed(pixels):
        drawn = [0 if i == TRANSPARENT else i for i in row]
        line = bytes((drawn[x] << 4) | drawn[x + 1] for x in range(0, size, 2))
        colours += line.ljust(colour_row, b'\0')
        bits = 0
        for x, i in enumerate(row):
            if i == TRANSPARENT:
                bits |= 1 << (size - 1 - x)
        mask += bits.to_bytes((size + 7) // 8, 'big').ljust(mask_row, b'\0')
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(colours) + len(mask), 0, 0, 16, 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colours + mask


def ico(images):
    blobs = [dib(p) for p in images]
    out = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for p, blob in zip(images, blobs):
        size = len(p)
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    small, large = parse(ICON_16, 16), parse(ICON_32, 32)
    for name, data in (('quillet-16.png', png(small)), ('quillet-32.png', png(large)),
                       ('quillet.ico', ico([small, large]))):
        with open(os.path.join(here, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
