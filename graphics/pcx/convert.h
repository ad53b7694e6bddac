// Row converters: a decoded scanline into a row of pixels, one converter
// per (source format, destination), picked once per picture. A buffer's
// rows take pixels of its depth; the codec's take indices, RGB or RGBA.
#pragma once

#include <cstdint>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/format.h"

namespace pm {

// Bytes per pixel of a buffer's depth: 1, 2, 3, and 4 for any other depth.
int32_t pcx_destination_bytes(int32_t depth);

// The one choice of converter into a buffer of `depth` bits; null when the
// pair has none.
pcx_row_converter pcx_choose_converter(pcx_format format, int32_t depth);

// The converter of packed4, packed2, planar4 or planar8 into pixels of
// `bytes` bytes (1 to 4), from layouts.cpp; null for any other format.
pcx_row_converter pcx_layout_converter(pcx_format format, int32_t bytes);

// The converter of a 256-colour picture into an 8-bit buffer: a plain copy,
// which rows decoded straight into the buffer stand in for.
void pcx_copy_indexed8(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                       const uint32_t *pixels);

// The pixel formats of a picture decoded into memory: one index per pixel;
// red, green, blue; red, green, blue, alpha.
enum class pcx_pixels { index8, rgb8, rgba8 };

constexpr int32_t pcx_pixel_bytes(pcx_pixels pixels)
{
    return pixels == pcx_pixels::index8 ? 1 : pixels == pcx_pixels::rgb8 ? 3 : 4;
}

// The converter of a picture into pixels of a memory format, and its table:
// the indices themselves, or the colours of `rgb` (256 triples) with alpha
// 255. Null for indices of colour planes.
pcx_row_converter pcx_choose_pixels_converter(pcx_format format, pcx_pixels pixels, const uint8_t *rgb,
                                              uint32_t (&table)[256]);

} // namespace pm
