#!/usr/bin/env python3
"""Writes the PCX fuzz target's seed corpus: small valid pictures of each
format the loader reads. Run it from anywhere; it replaces the files in
fuzz/corpus/pcx/ beside this script.

Header byte 64 (Reserved) carries the load flags the fuzz target uses and the
last two filler bytes its graphics cursor, so some seeds set them. The seeds
named all-layouts-* are read only with the flag that reads every layout,
which they set; one of them is a DCX file of two pages.
"""
import os
import struct

KEEP_PALETTE, AT_CURSOR, NO_REDUCTION, ALL_LAYOUTS = 1, 2, 8, 16
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "pcx")


def header(width, height, bits, planes, bytes_per_line, version=5, x_min=0, y_min=0,
           flags=0, cursor=(0, 0)):
    colormap = bytes((i * 17) & 0xFF for i in range(48))
    head = struct.pack("<BBBBHHHHHH", 0x0A, version, 1, bits, x_min, y_min,
                       x_min + width - 1, y_min + height - 1, 72, 72)
    head += colormap + bytes([flags, planes]) + struct.pack("<HHHH", bytes_per_line, 1, 0, 0)
    head += bytes(52) + struct.pack("<bb", *cursor)
    assert len(head) == 128
    return head


def encode(line):
    """Run-length encodes one plane of one scanline; runs end with it."""
    out = bytearray()
    i = 0
    while i < len(line):
        run = 1
        while run < 63 and i + run < len(line) and line[i + run] == line[i]:
            run += 1
        if run > 1 or line[i] >= 0xC0:
            out.append(0xC0 | run)
        out.append(line[i])
        i += run
    return bytes(out)


def trailer():
    return bytes([0x0C]) + bytes((i * 5 + 1) & 0xFF for i in range(768))


def encode_rows(rows):
    return b"".join(encode(plane) for row in rows for plane in row)


def mono():
    width, height, bpl = 13, 4, 2
    rows = [[bytes([0b10110011 ^ y, 0b01010000])] for y in range(height)]
    return header(width, height, 1, 1, bpl) + encode_rows(rows)


def planar16():
    width, height, bpl = 9, 3, 2
    rows = [[bytes([0xF0 >> p ^ y, 0x80 * (p & 1)]) for p in range(4)] for y in range(height)]
    return header(width, height, 1, 4, bpl, flags=AT_CURSOR, cursor=(-3, 5)) + encode_rows(rows)


def indexed256():
    width, height, bpl = 11, 5, 12
    rows = [[bytes((x * 23 + y * 7) & 0xFF if x < 6 else 0xC3 for x in range(width)) + b"\0"]
            for y in range(height)]
    return header(width, height, 8, 1, bpl, flags=NO_REDUCTION) + encode_rows(rows) + trailer()


def planar24():
    width, height, bpl = 6, 3, 6
    rows = [[bytes((x * 40 + p * 90 + y) & 0xFF for x in range(width)) for p in range(3)]
            for y in range(height)]
    return header(width, height, 8, 3, bpl) + encode_rows(rows)


def runs_across_scanlines():
    # 5 x 4 pixels, 6 bytes per line: one run of 24 fills every scanline.
    return header(5, 4, 8, 1, 6) + bytes([0xC0 | 24, 0x42]) + trailer()


def placed_and_cut():
    # A window at (20, 10) that reaches past the 32 x 16 buffer, version 3
    # (header colours only), with zero-count runs in its data.
    width, height, bpl = 18, 9, 18
    rows = [[bytes((x ^ y) * 9 & 0xFF for x in range(width))] for y in range(height)]
    data = bytes([0xC0, 0x55]) + encode_rows(rows)
    return header(width, height, 8, 1, bpl, version=3, x_min=20, y_min=10,
                  flags=KEEP_PALETTE) + data


def cut_short():
    # 256 colours whose data ends after two of its eight rows.
    width, height, bpl = 8, 8, 8
    rows = [[bytes(range(y * 8, y * 8 + 8))] for y in range(2)]
    return header(width, height, 8, 1, bpl) + encode_rows(rows)


def packed(bits):
    width, height = 13, 4
    per_byte = 8 // bits
    bpl = (width + per_byte - 1) // per_byte
    bpl += bpl & 1
    def line(y):
        out = bytearray(bpl)
        for x in range(width):
            out[x // per_byte] |= ((x + y) % (1 << bits)) << (8 - bits * (x % per_byte + 1))
        return bytes(out)
    rows = [[line(y)] for y in range(height)]
    return header(width, height, bits, 1, bpl, flags=ALL_LAYOUTS) + encode_rows(rows)


def bit_planes(planes):
    width, height, bpl = 11, 3, 2
    rows = [[bytes([0xA5 >> p ^ y * 17, 0xC0 >> p]) for p in range(planes)] for y in range(height)]
    return header(width, height, 1, planes, bpl, flags=ALL_LAYOUTS | AT_CURSOR, cursor=(-2, 3)) + \
        encode_rows(rows)


def colour_and_alpha():
    width, height, bpl = 5, 3, 6
    rows = [[bytes((x * 50 + p * 60 + y) & 0xFF for x in range(bpl)) for p in range(4)]
            for y in range(height)]
    return header(width, height, 8, 4, bpl, flags=ALL_LAYOUTS) + encode_rows(rows)


def greyscale():
    width, height, bpl = 6, 4, 6
    rows = [[bytes((x * 40 + y * 9) & 0xFF for x in range(width))] for y in range(height)]
    head = bytearray(header(width, height, 8, 1, bpl, flags=ALL_LAYOUTS))
    head[68] = 2  # PaletteInfo: greyscale, and no trailer
    return bytes(head) + encode_rows(rows)


def two_pages():
    first, second = packed(4), bit_planes(3)
    directory = struct.pack("<IIII", 0x3ADE68B1, 16, 16 + len(first), 0)
    return directory + first + second


SEEDS = {
    "mono.pcx": mono,
    "planar16.pcx": planar16,
    "indexed256-trailer.pcx": indexed256,
    "planar24.pcx": planar24,
    "runs-across-scanlines.pcx": runs_across_scanlines,
    "placed-and-cut.pcx": placed_and_cut,
    "cut-short.pcx": cut_short,
    "all-layouts-packed4.pcx": lambda: packed(4),
    "all-layouts-packed2.pcx": lambda: packed(2),
    "all-layouts-planes2.pcx": lambda: bit_planes(2),
    "all-layouts-planes3.pcx": lambda: bit_planes(3),
    "all-layouts-planes4x8.pcx": colour_and_alpha,
    "all-layouts-grey.pcx": greyscale,
    "all-layouts-pages.dcx": two_pages,
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, make in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as out:
            out.write(make())


if __name__ == "__main__":
    main()
