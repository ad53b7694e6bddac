#include "tools/common/active_pixels.h"

#include <cstddef>

#include <pixmora/pixmora.h>

namespace tools {

namespace {

uint32_t expand565(uint32_t value)
{
    const uint32_t r = value >> 11;
    const uint32_t g = (value >> 5) & 0x3F;
    const uint32_t b = value & 0x1F;
    return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

} // namespace

void read_active_row(int32_t y, int32_t width, uint32_t *out)
{
    // Rows are stored bottom-up.
    const uint8_t *row =
        pm_state.active_bits + static_cast<std::ptrdiff_t>(pm_state.active_max_y - y) * pm_state.active_stride;
    switch (pm_state.active_depth) {
    case 8:
        for (int32_t x = 0; x < width; ++x) {
            const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[row[x]];
            out[x] = static_cast<uint32_t>(entry.peRed) << 16 | static_cast<uint32_t>(entry.peGreen) << 8 |
                     entry.peBlue;
        }
        break;
    case 16:
        for (int32_t x = 0; x < width; ++x)
            out[x] = expand565(static_cast<uint32_t>(row[2 * x]) | static_cast<uint32_t>(row[2 * x + 1]) << 8);
        break;
    default: {
        const int32_t bpp = pm_state.active_depth / 8;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t *pixel = row + bpp * x;
            out[x] = static_cast<uint32_t>(pixel[2]) << 16 | static_cast<uint32_t>(pixel[1]) << 8 | pixel[0];
        }
    }
    }
}

} // namespace tools
