// Rows of the active buffer read and written in stated formats: palette
// indices, or RGB triples from and to any deeper pixel format. The format is
// chosen once per call; the loops run over a span checked to lie inside the
// buffer.
#include <cstring>

#include "graphics/internal.h"
#include <pixmora/pixmora.h>

namespace {

using namespace pm;

// True when an active buffer holds columns x..x+width-1 of row y.
bool row_span_inside(int32_t x, int32_t y, int32_t width)
{
    return pm_state.active_index >= 0 && width >= 1 && x >= 0 && y >= 0 && y < pm_state.active_height &&
           x <= pm_state.active_width - width;
}

uint8_t *row_start(int32_t x, int32_t y)
{
    return pixel_address(pm_state.active_bits, pm_state.active_max_y, pm_state.active_stride, x, y,
                         bytes_per_pixel(pm_state.active_depth));
}

// 8-bit pixels show the logical palette's colours.
void read_indexed_rgb(const uint8_t *pixels, uint8_t *rgb, int32_t width)
{
    for (int32_t k = 0; k < width; ++k, rgb += 3) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[pixels[k]];
        rgb[0] = entry.peRed;
        rgb[1] = entry.peGreen;
        rgb[2] = entry.peBlue;
    }
}

// 16-bit pixels are little-endian 5-6-5 values.
void read_565_rgb(const uint8_t *pixels, uint8_t *rgb, int32_t width)
{
    for (int32_t k = 0; k < width; ++k, rgb += 3) {
        const rgb8 colour = widen565(static_cast<uint16_t>(pixels[2 * k] | pixels[2 * k + 1] << 8));
        rgb[0] = colour.r;
        rgb[1] = colour.g;
        rgb[2] = colour.b;
    }
}

void write_565_rgb(uint8_t *pixels, const uint8_t *rgb, int32_t width)
{
    for (int32_t k = 0; k < width; ++k, rgb += 3) {
        const uint16_t value = rgb565(rgb[0], rgb[1], rgb[2]);
        pixels[2 * k] = static_cast<uint8_t>(value);
        pixels[2 * k + 1] = static_cast<uint8_t>(value >> 8);
    }
}

// 24- and 32-bit pixels hold blue, green, red (and a fill byte).
template <int32_t Bytes> void read_bgr_rgb(const uint8_t *pixels, uint8_t *rgb, int32_t width)
{
    for (int32_t k = 0; k < width; ++k, rgb += 3, pixels += Bytes) {
        rgb[0] = pixels[2];
        rgb[1] = pixels[1];
        rgb[2] = pixels[0];
    }
}

template <int32_t Bytes> void write_bgr_rgb(uint8_t *pixels, const uint8_t *rgb, int32_t width)
{
    for (int32_t k = 0; k < width; ++k, rgb += 3, pixels += Bytes) {
        pixels[0] = rgb[2];
        pixels[1] = rgb[1];
        pixels[2] = rgb[0];
        if constexpr (Bytes == 4)
            pixels[3] = 0;
    }
}

} // namespace

// Reads a span of a row of the active buffer as indices or RGB triples.
int32_t pm_read_row(int32_t x, int32_t y, int32_t width, int32_t format, void *out)
{
    if (out == nullptr || !row_span_inside(x, y, width))
        return -1;
    const uint8_t *pixels = row_start(x, y);
    auto *bytes = static_cast<uint8_t *>(out);
    const int32_t depth = pm_state.active_depth;
    if (format == PM_ROW_INDEX8) {
        if (depth != 8)
            return -1;
        std::memcpy(bytes, pixels, static_cast<size_t>(width));
        return 0;
    }
    if (format != PM_ROW_RGB24)
        return -1;
    switch (depth) {
    case 8:
        read_indexed_rgb(pixels, bytes, width);
        break;
    case 16:
        read_565_rgb(pixels, bytes, width);
        break;
    case 24:
        read_bgr_rgb<3>(pixels, bytes, width);
        break;
    default:
        read_bgr_rgb<4>(pixels, bytes, width);
        break;
    }
    return 0;
}

// Writes a span of a row of the active buffer from indices (8 bits) or RGB
// triples (16, 24 and 32 bits).
int32_t pm_write_row(int32_t x, int32_t y, int32_t width, int32_t format, const void *in)
{
    if (in == nullptr || !row_span_inside(x, y, width))
        return -1;
    uint8_t *pixels = row_start(x, y);
    const auto *bytes = static_cast<const uint8_t *>(in);
    const int32_t depth = pm_state.active_depth;
    if (format == PM_ROW_INDEX8) {
        if (depth != 8)
            return -1;
        std::memcpy(pixels, bytes, static_cast<size_t>(width));
        return 0;
    }
    if (format != PM_ROW_RGB24 || depth == 8)
        return -1;
    switch (depth) {
    case 16:
        write_565_rgb(pixels, bytes, width);
        break;
    case 24:
        write_bgr_rgb<3>(pixels, bytes, width);
        break;
    default:
        write_bgr_rgb<4>(pixels, bytes, width);
        break;
    }
    return 0;
}
