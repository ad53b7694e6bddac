// Internals shared by the library's source files: pixel sizes, checked size
// arithmetic and the pixel lookup table's two forms.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include <pixmora/pixmora.h>

namespace pm {

// Bytes per pixel of a buffer depth: 32 -> 4, 24 -> 3, 16 -> 2, anything else -> 1.
constexpr int32_t bytes_per_pixel(int32_t depth)
{
    return depth == 32 ? 4 : depth == 24 ? 3 : depth == 16 ? 2 : 1;
}

// a * b when it fits in a non-negative int32_t, else -1.
constexpr int64_t checked_mul(int64_t a, int64_t b)
{
    if (a < 0 || b < 0)
        return -1;
    if (a != 0 && b > std::numeric_limits<int32_t>::max() / a)
        return -1;
    return a * b;
}

// The 5-6-5 value of an RGB colour, as 16-bit buffers store it.
constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// The three 8-bit channels of a 5-6-5 value, each widened by repeating its
// top bits into the low ones, so that full intensity stays 255 and narrowing
// the result with rgb565 gives the value back.
struct rgb8 {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};
constexpr rgb8 widen565(uint16_t value)
{
    const uint32_t r = value >> 11;
    const uint32_t g = (value >> 5) & 0x3F;
    const uint32_t b = value & 0x1F;
    return rgb8{static_cast<uint8_t>(r << 3 | r >> 2), static_cast<uint8_t>(g << 2 | g >> 4),
                static_cast<uint8_t>(b << 3 | b >> 2)};
}

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
