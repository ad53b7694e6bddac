"""Where the Python tests find the pictures and programs they compare with.

The module under test is the installed one (the wheel in a virtual
environment, or the Debian package), never the source folder.
"""
import os
import pathlib
import shutil
import subprocess

import numpy
import pytest

import pixmora

ROOT = pathlib.Path(__file__).resolve().parents[2]
# The real-world samples beside the repository, as the C++ tests find them.
SAMPLES = ROOT.parent / "shared" / "pcx-samples"
# Malformed samples, kept only to show that they are refused without a crash.
MALFORMED_SAMPLES = {"pillow-01r_00.pcx", "pillow-ossfuzz-4836216264589312.pcx"}
REGRESSIONS = ROOT / "fuzz" / "regressions" / "pcx"

# Each layout with the colours it holds (0: 24-bit colour).
LAYOUT_COLOURS = {
    "mono": 2,
    "cga4": 4,
    "planes4": 4,
    "planes8": 8,
    "packed16": 16,
    "ega16": 16,
    "vga256": 256,
    "rgb24": 0,
}


def seeded_picture(colours, width=37, height=23, seed=1):
    """(indices, palette) with every one of `colours` colours in use, or an RGB array for 0."""
    random = numpy.random.default_rng(seed)
    if colours == 0:
        return random.integers(0, 256, (height, width, 3), dtype=numpy.uint8), None
    palette = random.integers(0, 256, (colours, 3), dtype=numpy.uint8)
    if colours == 2:
        palette = numpy.array([[0, 0, 0], [255, 255, 255]], dtype=numpy.uint8)
    indices = (numpy.arange(width * height).reshape(height, width) * 7 + random.integers(0, 3, (height, width))) % colours
    return indices.astype(numpy.uint8), palette


def run(command):
    return subprocess.run(command, capture_output=True, check=False)


def read_ppm(data):
    """The pixels of a binary PPM as a (height, width, 3) array."""
    fields, at = [], 0
    while len(fields) < 4:
        while data[at : at + 1].isspace():
            at += 1
        if data[at : at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    return numpy.frombuffer(data[at + 1 : at + 1 + width * height * 3], dtype=numpy.uint8).reshape(height, width, 3)


@pytest.fixture(scope="session")
def converter():
    """pixmora-convert, from PIXMORA_CONVERT or PATH."""
    path = os.environ.get("PIXMORA_CONVERT") or shutil.which("pixmora-convert")
    if not path:
        pytest.skip("pixmora-convert is not built (PIXMORA_CONVERT)")
    return path


@pytest.fixture(scope="session")
def pictures(tmp_path_factory):
    """Test pictures by name: the samples that are well formed, and a picture written in each layout."""
    found = {}
    if SAMPLES.is_dir():
        found.update({p.name: p for p in sorted(SAMPLES.glob("*.pcx")) if p.name not in MALFORMED_SAMPLES})
    folder = tmp_path_factory.mktemp("layouts")
    for layout, colours in LAYOUT_COLOURS.items():
        pixels, palette = seeded_picture(colours)
        path = folder / f"{layout}.pcx"
        path.write_bytes(pixmora.encode(pixels, layout=layout, palette=palette))
        found[path.name] = path
    # Two colours with white first in the header: Pillow's mode "1" all the same.
    mono = bytearray(found["mono.pcx"].read_bytes())
    mono[16:22] = mono[19:22] + mono[16:19]
    found["mono-white-first.pcx"] = folder / "mono-white-first.pcx"
    found["mono-white-first.pcx"].write_bytes(mono)
    return found
