#!/usr/bin/env python3
"""Times Pillow on the operations and pictures of pixmora_bench.

Prints one line per operation: "<operation> pillow <ns per operation>", CPU
time, the best of several rounds. The pictures and sizes are those of
bench_data.h.
"""
import sys
import time

from PIL import Image

SCALE_SMALL = (320, 200)
SCALE_LARGE = (800, 500)
COPY_SOURCE = (1600, 200)
COPY_RECT = (320, 200)
COPY_SRC_X = 640
PASTE_IMAGE = (320, 200)
PASTE_TARGET = (640, 400)
PASTE_AT = (100, 80)  # top-left corner of the pasted picture


def picture_index(x, y):
    """0 (transparent) in every third 8 x 8 block, otherwise 1..255."""
    return 0 if (x // 8 + y // 8) % 3 == 0 else 1 + (x * 31 + y * 17) % 255


def palette():
    rgb = []
    for i in range(256):
        rgb += [(i * 3) & 255, (255 - i) & 255, (i * 7) & 255]
    return rgb


def indexed(size):
    width, height = size
    data = bytes(picture_index(x, y) for y in range(height) for x in range(width))
    image = Image.frombytes("P", size, data)
    image.putpalette(palette())
    return image


def cpu_ns_per_call(operation, rounds=5, min_seconds=0.2):
    """The best CPU time per call over several rounds of enough calls."""
    calls = 1
    while True:
        start = time.process_time_ns()
        for _ in range(calls):
            operation()
        elapsed = time.process_time_ns() - start
        if elapsed >= min_seconds * 1e9 / rounds:
            break
        calls *= 2
    best = elapsed / calls
    for _ in range(rounds - 1):
        start = time.process_time_ns()
        for _ in range(calls):
            operation()
        best = min(best, (time.process_time_ns() - start) / calls)
    return best


def operations():
    small, large = indexed(SCALE_SMALL), indexed(SCALE_LARGE)
    panorama, view = indexed(COPY_SOURCE), indexed(COPY_RECT)
    box = (COPY_SRC_X, 0, COPY_SRC_X + COPY_RECT[0], COPY_RECT[1])
    image = indexed(PASTE_IMAGE)
    # Our paste needs no mask; Pillow's is made once, as a caller would keep it.
    mask = image.point(lambda v: 255 if v else 0, "L")
    target = Image.new("RGB", PASTE_TARGET)
    return {
        "scale_grow": lambda: small.resize(SCALE_LARGE, Image.NEAREST),
        "scale_shrink": lambda: large.resize(SCALE_SMALL, Image.NEAREST),
        "copy_region": lambda: view.paste(panorama.crop(box), (0, 0)),
        # The palette picture is converted to RGB inside paste, as our paste
        # turns indices into 32-bit pixels through the lookup table.
        "paste_8to32": lambda: target.paste(image, PASTE_AT, mask),
    }


def main():
    for name, operation in operations().items():
        print(f"{name} pillow {cpu_ns_per_call(operation):.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
