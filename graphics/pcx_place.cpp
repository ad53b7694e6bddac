// Placement and rows: where a picture lands in the active buffer, cut at
// its edges, and the loop that decodes its scanlines one by one and converts
// those inside the buffer into rows, top row first.
#include <algorithm>
#include <cstring>

#include "graphics/internal.h"
#include "graphics/pcx.h"
#include <pixmora/pixmora.h>

namespace pm {
namespace {

// Cuts the span [start, start + length) to [0, limit). False when nothing is left.
bool pcx_cut_span(int64_t start, int64_t length, int64_t limit, int32_t &first, int32_t &count, int32_t &skipped)
{
    const int64_t low = std::max<int64_t>(start, 0);
    const int64_t high = std::min<int64_t>(start + length, limit);
    if (high <= low)
        return false;
    first = static_cast<int32_t>(low);
    count = static_cast<int32_t>(high - low);
    skipped = static_cast<int32_t>(low - start);
    return true;
}

// Decodes one scanline of a 256-colour picture straight into its 8-bit
// buffer row, which then holds the scanline. The decoder writes past the
// picture's width (pad bytes, the end of a run crossing into the next
// scanline, the reach of word stores), so the bytes there are kept aside
// and put back; a run's excess goes to the start of `scanline`, where the
// next scanline takes its carried bytes from. When the input ends, the rest
// of the row repeats `previous`, the last scanline.
void pcx_decode_into_row(pcx_stream &stream, uint8_t *row, int32_t width, int32_t length, uint8_t *scanline,
                         const uint8_t *previous)
{
    uint8_t *after = row + width;
    uint8_t kept[pcx_direct_reach];
    std::memcpy(kept, after, sizeof kept);
    std::memcpy(row, scanline, static_cast<size_t>(stream.carry));
    const int32_t decoded = pcx_decode_scanline(stream, row, length);
    std::memcpy(scanline, row + length, static_cast<size_t>(stream.carry));
    std::memcpy(after, kept, sizeof kept); // may be the start of `previous`
    if (decoded < width)
        std::memcpy(row + decoded, previous + decoded, static_cast<size_t>(width - decoded));
}

} // namespace

// The pixel of every palette index in the buffer's byte order, taken from
// pixel_lookup once per load (after the palette step), so that converting an
// index costs one table read: the 16-bit entry as it is; the 4-byte entry,
// which lies in memory as fill, R, G, B, reversed into B, G, R, fill.
void pcx_load_pixels(uint32_t (&pixels)[256], int32_t bytes)
{
    for (int32_t i = 0; i < 256; ++i) {
        uint32_t entry = 0;
        if (bytes == 2) {
            std::memcpy(&entry, pm_state.pixel_lookup + 2 * i, 2);
            pixels[i] = entry;
            continue;
        }
        const uint8_t *lookup = pm_state.pixel_lookup + 4 * i;
        const uint8_t pixel[4] = {lookup[3], lookup[2], lookup[1], lookup[0]};
        std::memcpy(&pixels[i], pixel, 4);
    }
}

// Places the picture at its header window or at the cursor. False when no
// pixel of it lies within the buffer.
bool pcx_place(const pcx_picture &picture, int32_t flags, pcx_placement &place)
{
    const bool at_cursor = (flags & pcx_at_cursor) != 0;
    const int64_t x = at_cursor ? pm_state.cursor_x : picture.x_min;
    const int64_t y = at_cursor ? pm_state.cursor_y : picture.y_min;
    return pcx_cut_span(x, picture.width, pm_state.active_width, place.left, place.columns, place.first_column) &&
           pcx_cut_span(y, picture.height, pm_state.active_height, place.top, place.rows, place.first_row);
}

// Decodes the picture's rows down to the last one drawn and converts those
// inside the buffer. Rows above the buffer are decoded and dropped so that
// the stream stays in step.
void pcx_draw_rows(pcx_stream &stream, const pcx_picture &picture, const pcx_placement &place,
                   pcx_row_converter convert, uint8_t *scanline, const uint32_t *pixels)
{
    const int32_t length = picture.planes * picture.bytes_per_line;
    const int32_t bytes = pcx_destination_bytes(pm_state.active_depth);
    const bool direct = convert == &pcx_copy_indexed8 && place.first_column == 0 &&
                        place.columns == picture.width && length - picture.width <= pcx_direct_pad;
    const uint8_t *const bits_end =
        pm_state.active_bits + static_cast<std::ptrdiff_t>(pm_state.active_stride) * pm_state.active_height;
    const uint8_t *previous = scanline; // where the last scanline's bytes lie
    const int32_t last_row = place.first_row + place.rows;
    for (int32_t r = 0; r < last_row; ++r) {
        uint8_t *row = nullptr;
        if (r >= place.first_row)
            row = pixel_address(pm_state.active_bits, pm_state.active_max_y, pm_state.active_stride, place.left,
                                place.top + (r - place.first_row), bytes);
        // Only rows whose reach stays inside the buffer's memory; the top
        // one, which comes first, may not.
        if (direct && row != nullptr && bits_end - row >= picture.width + pcx_direct_reach) {
            pcx_decode_into_row(stream, row, picture.width, length, scanline, previous);
            previous = row;
            continue;
        }
        if (previous != scanline) {
            std::memcpy(scanline + stream.carry, previous + stream.carry,
                        static_cast<size_t>(std::max(0, picture.width - stream.carry)));
            previous = scanline;
        }
        pcx_decode_scanline(stream, scanline, length);
        if (row != nullptr)
            convert(scanline, row, place.first_column, place.columns, picture.bytes_per_line, pixels);
        if (stream.carry > 0)
            std::memmove(scanline, scanline + length, static_cast<size_t>(stream.carry));
    }
}

} // namespace pm
