#include "tools/common/active_pixels.h"

#include <cstring>

#include <pixmora/pixmora.h>

namespace tools {

void read_active_row(int32_t y, int32_t width, uint32_t *out)
{
    // The library's RGB triples land in the first 3 x width bytes of out and
    // are spread to 4 bytes a pixel from the last one back, so that every
    // triple is read before a pixel is written over it.
    auto *rgb = reinterpret_cast<uint8_t *>(out);
    if (pm_read_row(0, y, width, PM_ROW_RGB24, rgb) != 0)
        return;
    for (int32_t x = width - 1; x >= 0; --x) {
        const uint8_t *triple = rgb + 3 * x;
        const uint32_t pixel = static_cast<uint32_t>(triple[0]) << 16 | static_cast<uint32_t>(triple[1]) << 8 | triple[2];
        std::memcpy(out + x, &pixel, sizeof pixel);
    }
}

} // namespace tools
