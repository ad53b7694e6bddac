import os
from typing import Any, Dict, Literal, Optional, Sequence, Tuple, Union, overload

import numpy
import numpy.typing

Data = Union[bytes, bytearray, memoryview, str, os.PathLike[str]]
Layout = Literal["auto", "mono", "cga4", "packed16", "vga256", "planes4", "planes8", "ega16", "rgb24"]
Pixels = numpy.typing.NDArray[numpy.uint8]
Palette = Union[Pixels, Sequence[Sequence[int]]]

LAYOUTS: Dict[str, int]
__version__: str

class PcxError(ValueError):
    result: int
    def __init__(self, result: int, message: Optional[str] = ...) -> None: ...

@overload
def decode(data: Data, page: Optional[int] = ..., mode: Literal["RGBA", "RGB"] = ...) -> Pixels: ...
@overload
def decode(data: Data, page: Optional[int] = ..., *, mode: Literal["P"]) -> Tuple[Pixels, Pixels]: ...
@overload
def decode(data: Data, page: Optional[int], mode: Literal["P"]) -> Tuple[Pixels, Pixels]: ...
def encode(array: Union[Pixels, Tuple[Pixels, Palette]], layout: Layout = ..., palette: Optional[Palette] = ...) -> bytes: ...
def encode_dcx(arrays: Sequence[Union[Pixels, Tuple[Pixels, Optional[Palette]]]], layout: Layout = ...) -> bytes: ...
def inspect(data: Data, page: Optional[int] = ..., depth: Literal[8, 16, 24, 32] = ...) -> Dict[str, Any]: ...
def register_pillow() -> None: ...
