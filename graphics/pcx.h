// The PCX loader's stages, shared between its files and with the tests. The
// road of one picture: read the header and judge it (pcx_judge, which
// inspection uses too), place it and cut it against the buffer
// (pcx_place.cpp), decode its scanlines (pcx_decode.cpp, contract in
// pcx_decode.h) and convert each into a buffer row with the converter picked
// once (pcx_convert.cpp), then the palette step (pcx_palette.cpp). The load
// itself and its C entries are in pcx.cpp; the format is in pcx_format.h.
#pragma once

#include <cstdint>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/decode.h"
#include "graphics/pcx/format.h"
#include <pixmora/pixmora.h>

namespace pm {

// Indexed pictures of 16 colours or fewer in an 8-bit buffer stand clear of
// the ten low static colours of a palette display.
constexpr uint8_t pcx_static_colours = 10;

// ---- Verdict ------------------------------------------------------------------

// What the loader decides from a picture's header, before placement: the
// result (PM_PCX_OK, PM_PCX_INVALID or PM_PCX_UNSUPPORTED), the reason
// (PM_PCX_REASON_...), and for a picture it takes, the converter.
struct pcx_verdict {
    int32_t result;
    int32_t reason;
    pcx_picture picture; // meaningful from a whole header on
    pcx_row_converter convert;
};

// The one decision of the loader and of inspection: `available` header bytes
// (fewer than 128 when the input is that short) of a picture to be loaded into
// a buffer of `depth` bits, with or without pcx_all_layouts.
pcx_verdict pcx_judge(const uint8_t *header, uint32_t available, int32_t depth, bool all_layouts);

// Colours a pixel of the format can take (1 << 24 for colour planes); 0 when
// nothing reads it.
int32_t pcx_colours(pcx_format format);

// ---- Row converters -------------------------------------------------------------

// Bytes per pixel of the destination: 1, 2, 3, and 4 for any other depth.
int32_t pcx_destination_bytes(int32_t depth);

// The one choice of converter per load; null when the pair has none.
pcx_row_converter pcx_choose_converter(pcx_format format, int32_t depth);

// The converter of packed4, packed2, planar4 or planar8 into pixels of
// `bytes` bytes (1 to 4), from pcx_layouts.cpp; null for any other format.
pcx_row_converter pcx_layout_converter(pcx_format format, int32_t bytes);

// The converter of a 256-colour picture into an 8-bit buffer: a plain copy,
// which rows decoded straight into the buffer stand in for.
void pcx_copy_indexed8(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                       const uint32_t *pixels);

// The pixel of every palette index in the buffer's byte order, from
// pixel_lookup (after the palette step), for converters of `bytes` per pixel.
void pcx_load_pixels(uint32_t (&pixels)[256], int32_t bytes);

// ---- Placement and rows ------------------------------------------------------------

// The part of the picture that lies inside the buffer.
struct pcx_placement {
    int32_t left;         // buffer column of the first pixel drawn
    int32_t top;          // buffer row (from the top) of the first row drawn
    int32_t first_column; // picture columns left of the buffer: decoded, not drawn
    int32_t columns;      // pixels drawn per row
    int32_t first_row;    // picture rows above the buffer: decoded, not drawn
    int32_t rows;         // rows drawn
};

// Places the picture at its header window or, with pcx_at_cursor, at the
// cursor. False when no pixel of it lies within the active buffer.
bool pcx_place(const pcx_picture &picture, int32_t flags, pcx_placement &place);

// Decodes the picture's rows down to the last one drawn and converts those
// inside the buffer; `scanline` has the picture's planes x BytesPerLine bytes
// and the spare bytes after them.
void pcx_draw_rows(pcx_stream &stream, const pcx_picture &picture, const pcx_placement &place,
                   pcx_row_converter convert, uint8_t *scanline, const uint32_t *pixels);

// ---- Trailer and palette -----------------------------------------------------------

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

// Sets the palette entries that a picture's colours belong to: at depth 8
// clear of the static colours (256 colours: entries 10..245 from triples
// 10..245; 16 colours: entries 10..25), at deeper depths from entry 0.
void pcx_set_palette_run(const uint8_t *rgb, int32_t colours);

// The palette step of a load: the trailer palette of a version-5 picture or
// the grey ramp (either reduced first at depth 8 unless pcx_no_reduction),
// else the 16 header colours. Nothing for pcx_keep_palette or a picture of
// 8-bit colour planes.
void pcx_apply_palette(const pcx_stream &stream, const pcx_picture &picture, int32_t flags);

} // namespace pm
