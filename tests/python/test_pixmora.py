"""The Python module against the library's converter and ImageMagick, Pillow
round trips through the plugin, hostile files, and threads decoding at once."""
import concurrent.futures
import io
import shutil

import numpy
import pytest
from PIL import Image, ImageSequence, UnidentifiedImageError

import pixmora
from conftest import LAYOUT_COLOURS, MALFORMED_SAMPLES, REGRESSIONS, SAMPLES, read_ppm, run, seeded_picture

pixmora.register_pillow()

PICTURES = sorted(p.name for p in SAMPLES.glob("*.pcx") if p.name not in MALFORMED_SAMPLES) + [
    f"{layout}.pcx" for layout in LAYOUT_COLOURS
] + ["mono-white-first.pcx"]


def first_difference(got, want):
    """Where two pixel arrays first differ, for the failure message."""
    if got.shape != want.shape:
        return f"shapes {got.shape} and {want.shape}"
    at = numpy.argwhere(got != want)
    if not len(at):
        return ""
    y, x = at[0][:2]
    return f"first difference at x {x}, y {y}: {got[y, x]} against {want[y, x]}"


@pytest.mark.parametrize("name", PICTURES)
def test_decode_equals_the_converter_and_imagemagick(name, pictures, converter, tmp_path):
    path = pictures[name]
    rgba = pixmora.decode(path)
    assert rgba.dtype == numpy.uint8 and rgba.shape[2] == 4 and (rgba[..., 3] == 255).all()
    assert first_difference(pixmora.decode(path.read_bytes(), mode="RGB"), rgba[..., :3]) == ""

    ppm = tmp_path / "converted.ppm"
    converted = run([converter, str(path), str(ppm)])
    assert converted.returncode == 0, converted.stderr
    assert first_difference(rgba[..., :3], read_ppm(ppm.read_bytes())) == ""

    info = pixmora.inspect(path)
    if info["colours"] <= 256:
        indices, palette = pixmora.decode(bytearray(path.read_bytes()), mode="P")
        assert len(palette) <= 256 and indices.max() < len(palette)
        assert first_difference(palette[indices], rgba[..., :3]) == ""
    else:
        with pytest.raises(pixmora.PcxError) as refusal:
            pixmora.decode(path, mode="P")
        assert refusal.value.result == 3

    # ImageMagick shows one-bit pictures with their colours swapped.
    if shutil.which("convert") and not (info["bits_per_pixel"] == 1 and info["planes"] == 1):
        magick = run(["convert", str(path), "-depth", "8", "rgba:-"])
        assert magick.returncode == 0, magick.stderr
        shown = numpy.frombuffer(magick.stdout, dtype=numpy.uint8).reshape(rgba.shape)
        assert first_difference(rgba, shown) == ""


@pytest.mark.parametrize("name", PICTURES)
def test_pillow_opens_from_the_header_and_loads_the_librarys_pixels(name, pictures):
    path = pictures[name]
    with Image.open(path) as im:
        info = pixmora.inspect(path)
        # Size and mode come from the header; the tile is there until load() decodes it.
        assert im.format == "PCX" and im.size == (info["width"], info["height"]) and im.tile
        assert im.mode == "RGB" if info["colours"] > 256 else im.mode in ("1", "L", "P")
        if name.startswith("mono"):
            assert im.mode == "1"
        assert first_difference(numpy.asarray(im.convert("RGBA")), pixmora.decode(path)) == ""


def pillow_image(mode, colours, seed=2):
    pixels, palette = seeded_picture(colours, seed=seed)
    if mode in ("RGB", "RGBA"):
        return Image.fromarray(pixels, "RGB").convert(mode)
    if mode == "1":
        return Image.fromarray(pixels * 255, "L").convert("1")
    if mode == "L":
        return Image.fromarray(palette[pixels][..., 0], "L")
    im = Image.fromarray(pixels, "P")
    im.putpalette(palette.tobytes())
    return im


# Each layout with a picture it holds, in Pillow's mode for it, and the
# header's bits per pixel and planes that the file must have.
ROUND_TRIPS = [
    ("mono", "1", 2, 1, 1),
    ("cga4", "P", 4, 2, 1),
    ("planes4", "P", 4, 1, 2),
    ("planes8", "P", 8, 1, 3),
    ("packed16", "P", 16, 4, 1),
    ("ega16", "P", 16, 1, 4),
    ("vga256", "P", 256, 8, 1),
    ("vga256", "L", 256, 8, 1),
    ("rgb24", "RGB", 0, 8, 3),
    (None, "1", 2, 1, 1),  # Pillow's own choice for each mode
    (None, "L", 256, 8, 1),
    (None, "P", 256, 8, 1),
    (None, "RGB", 0, 8, 3),
    (None, "RGBA", 0, 8, 3),  # which Pillow's own plugin refuses; alpha is dropped
]


@pytest.mark.parametrize("layout, mode, colours, bits, planes", ROUND_TRIPS)
def test_pillow_saves_every_layout_and_reads_it_back(layout, mode, colours, bits, planes):
    original = pillow_image(mode, colours)
    out = io.BytesIO()
    original.save(out, "PCX", **({"layout": layout} if layout else {}))
    info = pixmora.inspect(out.getvalue())
    assert (info["bits_per_pixel"], info["planes"]) == (bits, planes)
    with Image.open(io.BytesIO(out.getvalue())) as reread:
        assert reread.size == original.size
        assert first_difference(numpy.asarray(reread.convert("RGB")), numpy.asarray(original.convert("RGB"))) == ""


def test_pillow_reads_and_writes_dcx_pages_as_frames():
    pages = [pillow_image("P", 16, seed=3), pillow_image("RGB", 0, seed=4), pillow_image("1", 2, seed=5)]
    out = io.BytesIO()
    pages[0].save(out, "DCX", save_all=True, append_images=pages[1:], layout="rgb24")
    with Image.open(io.BytesIO(out.getvalue())) as im:
        assert (im.format, im.n_frames, im.is_animated, im.tell()) == ("DCX", 3, True, 0)
        frames = [numpy.asarray(frame.convert("RGB")) for frame in ImageSequence.Iterator(im)]
        im.seek(1)
        assert im.tell() == 1 and im.mode == "RGB"
        with pytest.raises(EOFError):
            im.seek(3)
    assert len(frames) == len(pages)
    for got, page in zip(frames, pages):
        assert first_difference(got, numpy.asarray(page.convert("RGB"))) == ""
    # One page; and pages of the module's own arrays, RGB and indices with their palette.
    single = io.BytesIO()
    pages[0].save(single, "DCX")
    assert pixmora.inspect(single.getvalue())["page_count"] == 1
    colour_page = pixmora.decode(out.getvalue(), page=1, mode="RGB")
    indices, palette = seeded_picture(16)
    data = pixmora.encode_dcx([colour_page, (indices, palette)], layout="rgb24")
    assert first_difference(pixmora.decode(data, page=0, mode="RGB"), colour_page) == ""
    assert first_difference(pixmora.decode(data, page=1, mode="RGB"), palette[indices]) == ""


def test_encode_refuses_more_colours_than_the_layout_holds_and_bad_arguments():
    indices, palette = seeded_picture(17)
    with pytest.raises(pixmora.PcxError) as refusal:
        pixmora.encode(indices, layout="ega16", palette=palette)
    assert refusal.value.result == 7 and isinstance(refusal.value, ValueError)
    assert "colours" in str(refusal.value)
    picture = numpy.zeros((2, 3), dtype=numpy.uint8)
    bad_calls = [
        (TypeError, lambda: pixmora.decode(12345)),
        (TypeError, lambda: pixmora.decode(b"", page="0")),
        (ValueError, lambda: pixmora.decode(b"", page=-1)),
        (ValueError, lambda: pixmora.decode(b"", mode="CMYK")),
        (TypeError, lambda: pixmora.encode(picture.astype(numpy.uint16))),
        (ValueError, lambda: pixmora.encode(numpy.zeros((2, 3, 5), dtype=numpy.uint8))),
        (ValueError, lambda: pixmora.encode(numpy.zeros((0, 3), dtype=numpy.uint8))),
        (ValueError, lambda: pixmora.encode(picture, layout="ega17")),
        (ValueError, lambda: pixmora.encode(picture + 4, palette=[[0, 0, 0]])),
        (ValueError, lambda: pixmora.encode(picture, palette=numpy.zeros((300, 3), dtype=numpy.uint8))),
        (ValueError, lambda: pixmora.encode_dcx([])),
        (ValueError, lambda: pixmora.inspect(b"", depth=12)),
        (OSError, lambda: Image.new("CMYK", (2, 2)).save(io.BytesIO(), "PCX")),
        (ValueError, lambda: Image.new("P", (2, 2)).save(io.BytesIO(), "PCX", layout="ega17")),
    ]
    for expected, call in bad_calls:
        with pytest.raises(expected):
            call()
    with pytest.raises(pixmora.PcxError) as missing:
        pixmora.decode(pixmora.encode_dcx([picture]), page=1)
    assert missing.value.result == 6


def hostile_files():
    """The fuzz regressions, the malformed samples, and a picture cut short at several lengths."""
    files = {p.name: p.read_bytes() for p in sorted(REGRESSIONS.glob("*.[pd]cx"))}
    assert len(files) >= 10, f"the fuzz regressions are missing from {REGRESSIONS}"
    files.update({name: (SAMPLES / name).read_bytes() for name in MALFORMED_SAMPLES if (SAMPLES / name).exists()})
    indices, palette = seeded_picture(16)
    whole = pixmora.encode(indices, layout="ega16", palette=palette)
    files.update({f"ega16 cut at {n}": whole[:n] for n in (0, 1, 127, 128, 129, len(whole) // 2)})
    files["dcx directory only"] = b"\xb1\x68\xde\x3a" + bytes(4)
    return files


HOSTILE = hostile_files()


@pytest.mark.parametrize("name", sorted(HOSTILE))
def test_hostile_files_give_a_pcx_error_or_pixels_never_a_crash(name):
    data = HOSTILE[name]
    for mode in ("RGBA", "RGB", "P"):
        for page in (None, 0, 1, 5):
            try:
                decoded = pixmora.decode(data, page=page, mode=mode)
            except pixmora.PcxError as error:
                assert error.result in range(1, 9) and str(error)
            else:
                assert (decoded[0] if mode == "P" else decoded).size > 0
    try:
        with Image.open(io.BytesIO(data)) as im:
            im.load()
    except (UnidentifiedImageError, pixmora.PcxError):
        pass


def test_four_threads_decode_at_once_as_one_does(pictures):
    inputs = [(path.read_bytes(), mode) for path in pictures.values() for mode in ("RGBA", "RGB")]
    alone = [pixmora.decode(data, mode=mode).tobytes() for data, mode in inputs]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        at_once = list(pool.map(lambda job: pixmora.decode(job[0], mode=job[1]).tobytes(), inputs * 8))
    assert at_once == alone * 8


def test_inspect_gives_the_header_and_the_verdict(pictures):
    info = pixmora.inspect(pictures["ega16.pcx"])
    assert (info["manufacturer"], info["bits_per_pixel"], info["planes"]) == (10, 1, 4)
    assert (info["width"], info["height"], info["colours"], info["page_count"]) == (37, 23, 16, 1)
    assert info["verdict"] == 0 and info["palette_count"] == 16 and len(info["colormap"]) == 48
    refused = pixmora.inspect(b"\x0a" + bytes(10))
    assert refused["verdict"] == 2 and refused["reason_text"]
