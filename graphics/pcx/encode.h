// Encoding a picture as a PCX file: the plan of one encoding, the palette of
// a layout that holds one, and the bytes, handed to a write callback in
// order. Reads no library state: a buffer's save and the codec's encode
// describe their pixels and palette (graphics/pcx/encode_layouts.h) and stand
// on it.
#pragma once

#include <cstdint>

#include "graphics/pcx/encode_layouts.h"

namespace pm {

// Hands `size` bytes to the caller; 0 when they were taken. The same
// function type as the public pm_write_fn.
using pcx_write_fn = int32_t (*)(void *context, const void *bytes, uint32_t size);

// BytesPerLine is a 16-bit field and must be even, so 65534 columns at most.
constexpr int32_t pcx_max_width = 65534;
// Ymax is a 16-bit field.
constexpr int32_t pcx_max_height = 65536;

// What one encoding writes.
struct pcx_encoding {
    pcx_pixel_rows rows;
    pcx_layout_shape shape;
    int32_t bytes_per_line;          // the row's bytes in one plane, rounded up to even (pcx_plan_encoding)
    const pcx_colour_table *colours; // the palette of a layout that holds one; else null
    const uint8_t *palette;          // 256 RGB triples: without `colours`, the header's 16 colours and the trailer
};

// Sets bytes_per_line from the rows and the shape; false when the rows are
// empty or do not fit a header's window.
bool pcx_plan_encoding(pcx_encoding &encoding);

// Gives a layout that holds a palette its colours in `colours` (and sets
// encoding.colours): the distinct colours of the rows, or, for indexed rows
// whose indices all lie below `kept_indices` when that fits the layout,
// the indices as they are with the palette's colours. A monochrome layout
// (`mono`) puts the lighter of two gathered colours in slot 1. False when
// the rows have more colours than the layout holds.
bool pcx_gather_colours(pcx_encoding &encoding, bool mono, int32_t kept_indices, pcx_colour_table &colours);

// The bytes of working memory pcx_encode needs, to be given zero-filled:
// the pad bytes after a row split into planes are never written.
uint64_t pcx_encoding_work_size(const pcx_encoding &encoding);

// Writes the header, the rows top row first and, where the shape has one,
// the trailer, through write; false as soon as write refuses bytes.
bool pcx_encode(const pcx_encoding &encoding, uint8_t *work, pcx_write_fn write, void *context);

} // namespace pm
