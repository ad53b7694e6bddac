// A picture in memory decoded whole into rows of a memory format, the
// codec's road over the loader's stages: the page a load reads, the
// verdict, the colours and every row, top row first, with no buffer.
#pragma once

#include <cstdint>

#include "graphics/pcx/convert.h"
#include "graphics/pcx/format.h"

namespace pm {

// Narrows `bytes` and `size` to the picture a load reads: the input itself,
// or with `containers` page `page` of the DCX file it holds (a plain picture
// being page 0). pcx_result::ok, or no_page when there is no such page.
int32_t pcx_memory_page(const uint8_t *&bytes, uint64_t &size, bool containers, int32_t page);

// Decodes every row of a picture of `size` bytes (header first) that the
// verdict took into rows of `pixels` from `out` on, `stride` bytes apart,
// with `rgb` (256 triples) as its colours. When the data ends early the
// later rows repeat the last scanline, as a load's do. pcx_result::ok, or
// no_memory.
int32_t pcx_decode_picture(const uint8_t *bytes, uint32_t size, const pcx_picture &picture, pcx_pixels pixels,
                           const uint8_t *rgb, uint8_t *out, uint64_t stride);

} // namespace pm
