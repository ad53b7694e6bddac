// Internals shared by the library's source files: the pixel lookup table's
// two forms and pixel addresses, over the pixel formats of
// graphics/pixel_format.h.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "graphics/pixel_format.h"
#include <pixmora/pixmora.h>

namespace pm {

// pixel_lookup in its 16-bit form (depth 16): entry i at byte 2 i, little-
// endian like the pixels of 16-bit buffers, so that its two bytes are the
// pixel on every processor.
inline uint16_t lookup16(int32_t index)
{
    const uint8_t *entry = pm_state.pixel_lookup + 2 * index;
    if constexpr (std::endian::native == std::endian::little) {
        uint16_t value;
        std::memcpy(&value, entry, 2);
        return value;
    } else {
        return static_cast<uint16_t>(entry[0] | entry[1] << 8);
    }
}
inline void set_lookup16(int32_t index, uint16_t value)
{
    uint8_t *entry = pm_state.pixel_lookup + 2 * index;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(entry, &value, 2);
    } else {
        entry[0] = static_cast<uint8_t>(value);
        entry[1] = static_cast<uint8_t>(value >> 8);
    }
}

// pixel_lookup in its 4-byte form (depths 24 and 32): entry i at byte 4 i
// holds the bytes 0, R, G, B in memory order.
inline void set_lookup32(int32_t index, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t *entry = pm_state.pixel_lookup + 4 * index;
    entry[0] = 0;
    entry[1] = r;
    entry[2] = g;
    entry[3] = b;
}

// Address of pixel (x, y), y counted from the top, in a bottom-up picture.
inline uint8_t *pixel_address(uint8_t *bits, int32_t max_y, int32_t stride, int32_t x, int32_t y, int32_t bpp)
{
    return bits + static_cast<std::ptrdiff_t>(max_y - y) * stride + static_cast<std::ptrdiff_t>(x) * bpp;
}

} // namespace pm
