#!/usr/bin/env python3
"""Times Pillow on the operations and pictures of pixmora_bench.

Prints one line per operation: "<operation> pillow <ns per operation>", CPU
time, the best of several rounds. The pictures and sizes are those of
bench_data.h.

Usage: peers_pillow.py [<pcx dir>]
With a directory, also times decoding the PCX pictures that pixmora_bench
wrote there (PIXMORA_BENCH_PCX_DIR) under the same operation names, and
decoding three of them into RGBA bytes beside pm_pcx_decode.
"""
import io
import pathlib
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
# The scaling cases of bench_data.h: name, from, to.
SCALE_CASES = [
    ("scale_grow", SCALE_SMALL, SCALE_LARGE),
    ("scale_shrink", SCALE_LARGE, SCALE_SMALL),
    ("scale_264x40_264x40", (264, 40), (264, 40)),
    ("scale_264x40_26x4", (264, 40), (26, 4)),
    ("scale_264x40_132x20", (264, 40), (132, 20)),
    ("scale_264x40_528x80", (264, 40), (528, 80)),
    ("scale_1000x1000_1500x1500", (1000, 1000), (1500, 1500)),
    ("scale_1000x1000_500x500", (1000, 1000), (500, 500)),
]
PRESENT_SOURCE = (320, 200)
PRESENT_TARGETS = [(640, 400), (1920, 1080)]


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
    panorama, view = indexed(COPY_SOURCE), indexed(COPY_RECT)
    box = (COPY_SRC_X, 0, COPY_SRC_X + COPY_RECT[0], COPY_RECT[1])
    image = indexed(PASTE_IMAGE)
    # Our paste needs no mask; Pillow's is made once, as a caller would keep it.
    mask = image.point(lambda v: 255 if v else 0, "L")
    target = Image.new("RGB", PASTE_TARGET)
    timed = {}
    for name, source, size in SCALE_CASES:
        picture = indexed(source)
        timed[name] = lambda picture=picture, size=size: picture.resize(size, Image.NEAREST)
    return timed | {
        "copy_region": lambda: view.paste(panorama.crop(box), (0, 0)),
        # The palette picture is converted to RGB inside paste, as our paste
        # turns indices into 32-bit pixels through the lookup table.
        "paste_8to32": lambda: target.paste(image, PASTE_AT, mask),
    }


def present_operations():
    """The 8-bit view shown at 32 bits on a window's size. Pillow can convert
    to RGB before or after the resize; the faster order is kept and named on
    stderr."""
    view = indexed(PRESENT_SOURCE)
    for size in PRESENT_TARGETS:
        orders = {
            "resize then convert": lambda size=size: view.resize(size, Image.NEAREST).convert("RGB"),
            "convert then resize": lambda size=size: view.convert("RGB").resize(size, Image.NEAREST),
        }
        times = {order: cpu_ns_per_call(operation) for order, operation in orders.items()}
        best = min(times, key=times.get)
        name = f"present_{size[0]}x{size[1]}"
        print(f"{name}: {best} is faster ({times[best] / 1e3:.1f} us)", file=sys.stderr)
        yield name, times[best]


def pcx_operations(directory):
    """Each picture decoded from memory; a 256-colour one is listed under both
    depths of our buffer, a three-plane one under 32 bits only."""
    for path in sorted(pathlib.Path(directory).glob("*.pcx")):
        data = path.read_bytes()
        if len(data) < 128:
            continue
        try:
            Image.open(io.BytesIO(data)).load()
        except OSError as error:  # a layout Pillow does not read (one plane of 4 bits)
            print(f"pcx_{path.stem}: Pillow cannot read it ({error})", file=sys.stderr)
            continue
        time_ns = cpu_ns_per_call(lambda: Image.open(io.BytesIO(data)).load())
        depths = ["32"] if data[65] == 3 else ["8", "32"]
        for depth in depths:
            yield f"pcx_{path.stem}_{depth}", time_ns


# The pictures of the decode_<picture>_rgba rows: 256 colours, 16 colours in
# four planes, 24-bit colour.
RGBA_PICTURES = ("sky256", "sky16planes", "sky24")


def rgba_operations(directory):
    """Each picture decoded from memory into RGBA bytes, as pm_pcx_decode
    gives them."""
    for stem in RGBA_PICTURES:
        path = pathlib.Path(directory) / f"{stem}.pcx"
        if not path.is_file():
            continue
        data = path.read_bytes()
        yield f"decode_{stem}_rgba", cpu_ns_per_call(
            lambda data=data: Image.open(io.BytesIO(data)).convert("RGBA").tobytes())


def main(argv):
    for name, operation in operations().items():
        print(f"{name} pillow {cpu_ns_per_call(operation):.1f}")
    if len(argv) > 1:
        for name, time_ns in pcx_operations(argv[1]):
            print(f"{name} pillow {time_ns:.1f}")
        for name, time_ns in rgba_operations(argv[1]):
            print(f"{name} pillow {time_ns:.1f}")
    for name, time_ns in present_operations():
        print(f"{name} pillow {time_ns:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
