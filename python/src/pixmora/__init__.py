"""PCX and DCX pictures as numpy arrays, and a Pillow plugin, over the Pixmora library.

    pixels = pixmora.decode("picture.pcx")             # (height, width, 4) RGBA
    indices, palette = pixmora.decode(data, mode="P")  # (height, width) and (colours, 3)
    data = pixmora.encode(pixels, layout="ega16")      # the bytes of a PCX file
    pixmora.register_pillow()                          # Image.open and save for PCX and DCX

Every call decodes and encodes in memory, shares nothing between threads and
releases the GIL while it works.
"""
import os

import numpy

from . import _pixmora

__all__ = ["LAYOUTS", "PcxError", "decode", "encode", "encode_dcx", "inspect", "register_pillow"]
__version__ = "0.1.0"

# The layouts an encoder writes, by the names the converter's --layout takes.
LAYOUTS = {
    "auto": _pixmora.LAYOUT_AUTO,
    "mono": _pixmora.LAYOUT_MONO,
    "cga4": _pixmora.LAYOUT_CGA4,
    "packed16": _pixmora.LAYOUT_PACKED16,
    "vga256": _pixmora.LAYOUT_VGA256,
    "planes4": _pixmora.LAYOUT_PLANES4,
    "planes8": _pixmora.LAYOUT_PLANES8,
    "ega16": _pixmora.LAYOUT_EGA16,
    "rgb24": _pixmora.LAYOUT_RGB24,
}
_FORMATS = {"P": _pixmora.PIXELS_INDEX8, "RGB": _pixmora.PIXELS_RGB8, "RGBA": _pixmora.PIXELS_RGBA8}


class PcxError(ValueError):
    """The library refused a picture: `result` is its PM_PCX_ result, the message its words."""

    def __init__(self, result, message=None):
        super().__init__(message or _pixmora.result_text(result))
        self.result = result

    def __reduce__(self):
        # Rebuilt with its result, as a process pool hands it back.
        return PcxError, (self.result, str(self))


def _bytes_of(data):
    """The bytes of a path, or of a bytes-like object (copied unless it is bytes)."""
    if isinstance(data, bytes):
        return data
    if isinstance(data, (str, os.PathLike)):
        with open(data, "rb") as file:
            return file.read()
    try:
        return memoryview(data).tobytes()
    except TypeError:
        raise TypeError(f"a path or a bytes-like object is required, not {type(data).__name__}") from None


def _refusal(data, page, result, depth):
    """The PcxError for a refused decode, with the reason inspection gives."""
    if result in (_pixmora.INVALID, _pixmora.UNSUPPORTED):
        found, info = _pixmora.inspect(data, _pixmora.ALL_LAYOUTS, page, depth)
        if found == _pixmora.OK and info["verdict"] == result and info["reason"]:
            return PcxError(result, f"{_pixmora.result_text(result)}: {_pixmora.reason_text(info['reason'])}")
    return PcxError(result)


def _page_number(page):
    """The library's page: -1 for None, what a load without a page reads."""
    if page is None:
        return -1
    if not isinstance(page, int) or isinstance(page, bool):
        raise TypeError(f"page must be an int or None, not {type(page).__name__}")
    if page < 0:
        raise ValueError(f"page {page} is negative")
    return min(page, 2**31 - 1)


def decode(data, page=None, mode="RGBA"):
    """Decodes a PCX picture or a DCX page (`page`; None: the first, as a load
    without a page reads it) from bytes, a bytes-like object or a path.

    "RGBA" and "RGB" give a (height, width, 4 or 3) uint8 array; "P" gives
    (indices, palette): a (height, width) array of the file's own indices and
    the (colours, 3) palette they index. A 24-bit picture has no "P" form.
    Raises PcxError when the library refuses the picture."""
    if mode not in _FORMATS:
        raise ValueError(f'mode must be "RGBA", "RGB" or "P", not {mode!r}')
    data = _bytes_of(data)
    result, width, height, colours, pixels, palette = _pixmora.decode(
        data, _pixmora.ALL_LAYOUTS, _page_number(page), _FORMATS[mode]
    )
    if result != _pixmora.OK:
        raise _refusal(data, _page_number(page), result, 8 if mode == "P" else 32)
    array = numpy.frombuffer(pixels, dtype=numpy.uint8)
    if mode == "P":
        return array.reshape(height, width), numpy.frombuffer(bytearray(palette), dtype=numpy.uint8).reshape(-1, 3)
    return array.reshape(height, width, len(mode))


def _layout_number(layout):
    if isinstance(layout, str):
        try:
            return LAYOUTS[layout]
        except KeyError:
            raise ValueError(f"unknown layout {layout!r}; the layouts are {', '.join(LAYOUTS)}") from None
    raise TypeError(f"layout must be a str, not {type(layout).__name__}")


def _palette_bytes(palette):
    colours = numpy.asarray(palette)
    if colours.ndim != 2 or colours.shape[1] != 3 or not 1 <= colours.shape[0] <= 256:
        raise ValueError(f"a palette is an (n, 3) array of 1 to 256 colours, not of shape {colours.shape}")
    if colours.dtype != numpy.uint8:
        if not numpy.issubdtype(colours.dtype, numpy.integer) or colours.min() < 0 or colours.max() > 255:
            raise ValueError("palette entries must be integers from 0 to 255")
    return numpy.ascontiguousarray(colours, dtype=numpy.uint8).tobytes()


def _picture(array, palette):
    """The tuple the extension encodes: (width, height, format, pixels, palette)."""
    if isinstance(array, tuple) and len(array) == 2 and palette is None:
        array, palette = array
    pixels = numpy.asarray(array)
    if pixels.dtype != numpy.uint8:
        raise TypeError(f"pixels must be a uint8 array, not {pixels.dtype}")
    if pixels.ndim == 2:
        pixel_format = _pixmora.PIXELS_INDEX8
        if palette is None:
            # Indices without a palette are grey levels.
            palette = numpy.repeat(numpy.arange(256, dtype=numpy.uint8), 3).reshape(256, 3)
        colours = _palette_bytes(palette)
        if pixels.size and int(pixels.max()) >= len(colours) // 3:
            raise ValueError(f"index {int(pixels.max())} is past the palette's {len(colours) // 3} colours")
    elif pixels.ndim == 3 and pixels.shape[2] in (3, 4):
        if palette is not None:
            raise ValueError("a palette goes with a (height, width) array of indices only")
        pixel_format = _pixmora.PIXELS_RGB8 if pixels.shape[2] == 3 else _pixmora.PIXELS_RGBA8
        colours = b""
    else:
        raise ValueError(f"pixels must be of shape (h, w), (h, w, 3) or (h, w, 4), not {pixels.shape}")
    height, width = pixels.shape[:2]
    if width < 1 or height < 1 or width >= 2**31 or height >= 2**31:
        raise ValueError(f"a picture of {width} x {height} pixels")
    return (width, height, pixel_format, numpy.ascontiguousarray(pixels).tobytes(), colours)


def _encoded(pages, layout, dcx):
    result, data = _pixmora.encode(pages, _layout_number(layout), dcx)
    if result == _pixmora.BAD_ARGUMENT:
        # Every argument was checked here but the size, which the library bounds.
        sizes = ", ".join(f"{page[0]} x {page[1]}" for page in pages)
        raise PcxError(result, f"{_pixmora.result_text(result)}: no PCX file holds a picture of {sizes} pixels")
    if result != _pixmora.OK:
        raise PcxError(result)
    return data


def encode(array, layout="auto", palette=None):
    """The bytes of a PCX file holding a (h, w) array of indices into
    `palette` (an (n, 3) array; without one, grey levels), or a (h, w, 3) or
    (h, w, 4) RGB(A) array, alpha ignored, in `layout`: "auto", "mono",
    "cga4", "packed16", "vga256", "planes4", "planes8", "ega16" or "rgb24".
    Raises PcxError (TOO_MANY_COLOURS) when the layout cannot hold the colours."""
    return _encoded([_picture(array, palette)], layout, False)


def encode_dcx(arrays, layout="auto"):
    """The bytes of a DCX file of 1 to 1023 pages, each an array as encode()
    takes it, or an (indices, palette) pair as decode(mode="P") gives it, all
    in `layout`."""
    if isinstance(arrays, (numpy.ndarray, bytes, str)):
        raise TypeError("arrays must be a sequence of pictures")
    return _encoded([_picture(array, None) for array in arrays], layout, True)


def inspect(data, page=None, depth=32):
    """The header fields of a picture or DCX page, the page count and the
    library's verdict for a load into a buffer of `depth` bits, as a dict with
    the names of pm_pcx_info's fields; "verdict_text" and "reason_text" give
    the verdict and the refusal reason in the library's words."""
    if depth not in (8, 16, 24, 32):
        raise ValueError(f"depth must be 8, 16, 24 or 32, not {depth!r}")
    data = _bytes_of(data)
    result, info = _pixmora.inspect(data, _pixmora.ALL_LAYOUTS, _page_number(page), depth)
    if result != _pixmora.OK:
        # The one refusal here is of a page that the file lacks.
        raise PcxError(_pixmora.NO_PAGE, f"there is no page {page}")
    info["verdict_text"] = _pixmora.result_text(info["verdict"])
    info["reason_text"] = _pixmora.reason_text(info["reason"])
    return info


def register_pillow():
    """Makes Pillow open and save PCX and DCX files through Pixmora, in place of its own PCX and DCX plugins."""
    from . import pillow

    pillow.register()
