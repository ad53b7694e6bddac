// Pixel sizes, checked size arithmetic and the 5-6-5 form of colours: what
// the library's layers share about pixels, and nothing about its state.
#pragma once

#include <cstdint>
#include <limits>

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

} // namespace pm
