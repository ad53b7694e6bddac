// Row converters of the layouts that only pcx_all_layouts reads: one plane
// of 2 or 4 bits and 2 or 3 planes of 1 bit (the fourth, 4 planes of 8 bits,
// shares the 24-bit planar converters).
#pragma once

#include <cstdint>

#include "graphics/kernels.h"
#include "graphics/pcx_format.h"

namespace pm {

// Indexed pictures of 16 colours or fewer stand clear of the ten low static
// colours of a palette display in an 8-bit buffer: index + 10.
constexpr uint8_t pcx_static_colours = 10;

// The converter of packed4, packed2, planar4 or planar8 into pixels of
// `bytes` bytes (1 to 4); null for any other format.
pcx_row_converter pcx_layout_converter(pcx_format format, int32_t bytes);

// True for the formats whose colours come from the header palette alone:
// no trailer is looked for, whatever the version.
constexpr bool pcx_header_palette_only(pcx_format format)
{
    return format == pcx_format::packed4 || format == pcx_format::packed2 || format == pcx_format::planar4 ||
           format == pcx_format::planar8;
}

} // namespace pm
