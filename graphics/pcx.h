// The PCX loader's stages, shared between its files and with the tests. The
// road of one picture: read the header and judge it (pcx_judge in
// graphics/pcx/verdict.h, which inspection and the codec use too), place it
// and cut it against the buffer (pcx_place.cpp), decode its scanlines
// (graphics/pcx/decode.h) and convert each into a buffer row with the
// converter picked once (graphics/pcx/convert.h), then the palette step
// (pcx_palette.cpp). The load itself and its C entries are in pcx.cpp. The
// format's stages in graphics/pcx/ read no library state; the loader's
// stages here are what stands on them with the buffer, the cursor and the
// palette.
#pragma once

#include <cstdint>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/convert.h"
#include "graphics/pcx/decode.h"
#include "graphics/pcx/format.h"
#include "graphics/pcx/palette.h"
#include "graphics/pcx/picture.h"
#include "graphics/pcx/verdict.h"
#include <pixmora/pixmora.h>

namespace pm {

// Indexed pictures of 16 colours or fewer in an 8-bit buffer stand clear of
// the ten low static colours of a palette display.
constexpr uint8_t pcx_static_colours = 10;

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

// ---- Palette ------------------------------------------------------------------------

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
