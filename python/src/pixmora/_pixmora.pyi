from typing import Any, Dict, List, Optional, Tuple

PIXELS_INDEX8: int
PIXELS_RGB8: int
PIXELS_RGBA8: int
ALL_LAYOUTS: int
OK: int
INVALID: int
UNSUPPORTED: int
NO_PAGE: int
TOO_MANY_COLOURS: int
BAD_ARGUMENT: int
PALETTE_GREY: int
LAYOUT_AUTO: int
LAYOUT_MONO: int
LAYOUT_CGA4: int
LAYOUT_PACKED16: int
LAYOUT_VGA256: int
LAYOUT_PLANES4: int
LAYOUT_PLANES8: int
LAYOUT_EGA16: int
LAYOUT_RGB24: int

def decode(data: bytes, flags: int, page: int, format: int) -> Tuple[int, int, int, int, Optional[bytearray], bytes]: ...
def encode(pages: List[Tuple[int, int, int, bytes, bytes]], layout: int, dcx: bool) -> Tuple[int, Optional[bytes]]: ...
def inspect(data: bytes, flags: int, page: int, depth: int) -> Tuple[int, Dict[str, Any]]: ...
def result_text(result: int) -> str: ...
def reason_text(reason: int) -> str: ...
