"""Pixmora's PCX and DCX plugin for Pillow: every layout opened and saved,
DCX pages as frames. Only Pillow's documented plugin interface is used, so
Pillow 9.4 and current releases both take it.

The mode comes from the header, before any decoding: "RGB" for colour in
planes of 8 bits, "L" for a grey ramp, "1" for two colours that are black and
white, "P" with the picture's palette for any other. The colours are the
library's: a monochrome picture shows its header's two colours.
"""
import numpy
from PIL import Image, ImageFile, ImagePalette, ImageSequence

from . import LAYOUTS, PcxError, _pixmora, _refusal, encode, encode_dcx, inspect

_DECODER = "pixmora"
_DCX_MAGIC = b"\xb1\x68\xde\x3a"  # 987654321, little-endian
_BLACK_WHITE = b"\x00\x00\x00\xff\xff\xff"
_WHITE_BLACK = b"\xff\xff\xff\x00\x00\x00"
_GREY_RAMP = bytes(level for level in range(256) for _ in range(3))
# Two-colour indices as Pillow's "1;8" unpacker takes them, for a palette of
# white then black.
_SWAP_TWO = bytes([1, 0]) + bytes(254)


def _tile(*fields):
    """A tile as the running Pillow writes them: ImageFile._Tile since 11, a tuple before."""
    make = getattr(ImageFile, "_Tile", None)
    return make(*fields) if make is not None else fields


def _header_mode(info):
    """(mode, how the decoder fills it, palette or None) for a picture described by inspect()."""
    colours = info["colours"]
    if colours > 256:
        return "RGB", "RGB", None
    palette = info["palette"][: 3 * colours]
    if info["palette_kind"] == _pixmora.PALETTE_GREY or palette == _GREY_RAMP:
        return "L", "L", None
    if palette == _BLACK_WHITE:
        return "1", "1", None
    if palette == _WHITE_BLACK:
        return "1", "1-swapped", None
    # A palette shorter than the colours (none kept in the file) is padded with black.
    return "P", "P", palette.ljust(3 * colours, b"\x00")


class PixmoraPcxImageFile(ImageFile.ImageFile):
    """A PCX picture, or the pages of a DCX file as frames."""

    format = "PCX"
    format_description = "PCX (Pixmora)"
    # Pillow seeks the file before each load and lets it go after one, so it
    # stays open, kept as _fp as Pillow's own multi-frame plugins keep it.
    _close_exclusive_fp_after_loading = False

    def _open(self):
        self._fp = self.fp
        self.fp.seek(0)
        self._pixmora_bytes = self.fp.read()
        self._pixmora_frame = -1
        self._pixmora_page(0)
        self._pixmora_pages = self._pixmora_info["page_count"]
        if self._pixmora_pages > 1 or self._pixmora_bytes[:4] == _DCX_MAGIC:
            self.format, self.format_description = "DCX", "DCX (Pixmora)"

    def _pixmora_page(self, page):
        """Takes page `page`'s size, mode and palette from its header."""
        try:
            info = inspect(self._pixmora_bytes, page=page)
        except PcxError as error:
            raise SyntaxError(str(error)) from error
        if info["verdict"] != _pixmora.OK:
            raise SyntaxError(f"{info['verdict_text']}: {info['reason_text']}")
        mode, fill, palette = _header_mode(info)
        self._pixmora_info = info
        self._pixmora_frame = page
        # Pillow 10.1 made mode a property over _mode; 9.4 keeps a plain attribute.
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = mode
        else:
            self.mode = mode
        self._size = (info["width"], info["height"])
        self.palette = ImagePalette.raw("RGB", palette) if palette is not None else None
        self.info["dpi"] = (info["h_dpi"], info["v_dpi"])
        # The decoder takes the file's bytes, read once when it was opened.
        self.tile = [_tile(_DECODER, (0, 0) + self.size, 0, (self._pixmora_bytes, page, fill))]

    @property
    def n_frames(self):
        return self._pixmora_pages

    @property
    def is_animated(self):
        return self._pixmora_pages > 1

    def seek(self, frame):
        if frame == self._pixmora_frame:
            return
        if not 0 <= frame < self._pixmora_pages:
            raise EOFError(f"no page {frame}: the file holds {self._pixmora_pages}")
        self._pixmora_page(frame)
        self.fp = self._fp
        self.im = None

    def tell(self):
        return self._pixmora_frame


class PixmoraDecoder(ImageFile.PyDecoder):
    """Decodes a whole page at once from the file's bytes."""

    _pulls_fd = True

    def decode(self, buffer):
        data, page, fill = self.args
        if fill == "RGB":
            pixels = _decoded(data, page, _pixmora.PIXELS_RGB8)
            rawmode = "RGB"
        else:
            pixels = _decoded(data, page, _pixmora.PIXELS_INDEX8)
            if fill == "1-swapped":
                pixels = pixels.translate(_SWAP_TWO)
            rawmode = "1;8" if fill.startswith("1") else fill
        self.set_as_raw(bytes(pixels), rawmode)
        return -1, 0


def _decoded(data, page, format):
    result, _, _, _, pixels, _ = _pixmora.decode(data, _pixmora.ALL_LAYOUTS, page, format)
    if result != _pixmora.OK:
        raise _refusal(data, page, result, 8 if format == _pixmora.PIXELS_INDEX8 else 32)
    return pixels


def _accept_pcx(prefix):
    return prefix[:1] == b"\x0a"


def _accept_dcx(prefix):
    return prefix[:4] == _DCX_MAGIC


# The layout Pillow's own plugin writes for each mode; RGBA, which it
# refuses, goes as RGB.
_DEFAULT_LAYOUTS = {"1": "mono", "L": "vga256", "P": "vga256", "RGB": "rgb24", "RGBA": "rgb24"}


def _picture(im):
    """An image as encode() takes it: indices and palette, or RGB(A) pixels
    (alpha, which no PCX layout keeps, is dropped)."""
    if im.mode == "1":
        indices = numpy.asarray(im.convert("L")) >> 7
        return indices, numpy.array([[0, 0, 0], [255, 255, 255]], dtype=numpy.uint8)
    if im.mode == "L":
        return numpy.asarray(im), None
    if im.mode == "P":
        indices = numpy.asarray(im)
        used = int(indices.max()) + 1 if indices.size else 1
        palette = bytes(im.getpalette("RGB") or b"")[: 3 * used].ljust(3 * used, b"\x00")
        return indices, numpy.frombuffer(palette, dtype=numpy.uint8).reshape(-1, 3)
    if im.mode in ("RGB", "RGBA"):
        return numpy.asarray(im), None
    raise OSError(f"cannot write mode {im.mode} as PCX")


def _layout(im, options):
    layout = options.get("layout")
    if layout is None:
        return _DEFAULT_LAYOUTS.get(im.mode, "auto")
    if layout not in LAYOUTS:
        raise ValueError(f"unknown layout {layout!r}; the layouts are {', '.join(LAYOUTS)}")
    return layout


def _save_pcx(im, fp, filename):
    indices, palette = _picture(im)
    fp.write(encode(indices, layout=_layout(im, im.encoderinfo), palette=palette))


def _save_dcx(im, fp, filename, frames=None):
    frames = frames if frames is not None else [im]
    layout = im.encoderinfo.get("layout")
    if layout is None:
        # Pages of one mode take its default; mixed ones, the library's choice.
        defaults = {_layout(frame, {}) for frame in frames}
        layout = defaults.pop() if len(defaults) == 1 else "auto"
    fp.write(encode_dcx([_picture(frame) for frame in frames], layout=_layout(im, {"layout": layout})))


def _save_dcx_all(im, fp, filename):
    frames = []
    for image in [im] + list(im.encoderinfo.get("append_images", [])):
        for frame in ImageSequence.Iterator(image):
            frames.append(frame.copy())
    _save_dcx(im, fp, filename, frames)


def register():
    # Pillow imports its own plugins once, the first time it needs one that
    # is not loaded yet; doing that first keeps them from replacing these.
    Image.init()
    Image.register_decoder(_DECODER, PixmoraDecoder)
    for format, accept in (("PCX", _accept_pcx), ("DCX", _accept_dcx)):
        Image.register_open(format, PixmoraPcxImageFile, accept)
        Image.register_extension(format, "." + format.lower())
    Image.register_mime("PCX", "image/x-pcx")
    Image.register_save("PCX", _save_pcx)
    Image.register_save("DCX", _save_dcx)
    Image.register_save_all("DCX", _save_dcx_all)
