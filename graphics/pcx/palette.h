// Where a picture's colours come from: the trailer palette after the data,
// looked for only where it lies wholly after the header, the header's 16
// colours, or the grey ramp.
#pragma once

#include <cstdint>

#include "graphics/pcx/format.h"

namespace pm {

// True when an input of `size` bytes is long enough to end in a trailer that
// lies wholly after the header; only then is one looked for.
constexpr bool pcx_trailer_fits(uint64_t size)
{
    return size >= static_cast<uint64_t>(pcx_header_size + pcx_trailer_size);
}

// True for the formats whose colours come from the header alone: no trailer
// is looked for, whatever the version.
constexpr bool pcx_header_palette_only(pcx_format format)
{
    return format == pcx_format::packed4 || format == pcx_format::packed2 || format == pcx_format::planar4 ||
           format == pcx_format::planar8;
}

// Where a load takes the picture's colours from: none for 8-bit colour
// planes; the trailer for a version-5 picture that has one (`has_trailer` is
// asked only then, so that a load reads the end of a file only when it
// matters); read with pcx_all_layouts, the grey ramp for a greyscale picture
// without one; else the header's 16 colours.
enum class pcx_palette_source { none, header, trailer, grey };
template <typename HasTrailer>
pcx_palette_source pcx_choose_palette(const pcx_picture &picture, HasTrailer has_trailer)
{
    if (picture.format == pcx_format::planar24 || picture.format == pcx_format::planar32)
        return pcx_palette_source::none;
    if (!pcx_header_palette_only(picture.format) && picture.version == pcx_version_trailer && has_trailer())
        return pcx_palette_source::trailer;
    if (picture.all_layouts && picture.format == pcx_format::indexed8 &&
        picture.palette_info == pcx_palette_info_grey)
        return pcx_palette_source::grey;
    return pcx_palette_source::header;
}

// The grey ramp's 256 RGB triples: entry i is (i, i, i).
inline void pcx_grey_ramp(uint8_t *rgb)
{
    for (int32_t i = 0; i < 256; ++i)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = static_cast<uint8_t>(i);
}

// The colours of a picture of `size` bytes in memory, header first, as a
// load into a 32-bit buffer gives them without reduction: 256 RGB triples,
// those the picture does not give (past a header's 16) black.
void pcx_picture_colours(const pcx_picture &picture, const uint8_t *bytes, uint64_t size, uint8_t *rgb);

} // namespace pm
