// Row converters of the packed and bit-plane layouts that pcx_all_layouts
// reads. Each takes the pixels a source byte (or one byte of every plane)
// holds together: a row is converted as its cut-off first pixels, whole
// source bytes, then its last pixels, so no pixel pays for a branch.
#include "graphics/pcx/convert.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pm {
namespace {

// One plane of Bits bits per pixel, the leftmost pixel in the high bits.
template <int32_t Bits> struct pcx_packed_source {
    static constexpr int32_t per_byte = 8 / Bits;
    static constexpr uint32_t mask = (1u << Bits) - 1;

    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t)
    {
        const int32_t shift = 8 - Bits * (k % per_byte + 1);
        return static_cast<uint8_t>((scanline[k / per_byte] >> shift) & mask);
    }
    // The indices of the per_byte pixels of source byte n.
    static void group(const uint8_t *scanline, int32_t n, int32_t, uint8_t *indices)
    {
        const uint32_t byte = scanline[n];
        for (int32_t j = 0; j < per_byte; ++j)
            indices[j] = static_cast<uint8_t>((byte >> (8 - Bits * (j + 1))) & mask);
    }
};

// Byte j of spread[b] is bit 7 - j of b: the bits of one plane byte moved
// to the eight pixels they belong to.
constexpr std::array<uint64_t, 256> pcx_make_spread()
{
    std::array<uint64_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b)
        for (uint32_t j = 0; j < 8; ++j)
            table[b] |= static_cast<uint64_t>((b >> (7 - j)) & 1) << (8 * j);
    return table;
}
constexpr std::array<uint64_t, 256> pcx_spread = pcx_make_spread();

// Planes of one bit per pixel, plane 0 giving the lowest bit of the index.
template <int32_t Planes> struct pcx_bitplanes_source {
    static constexpr int32_t per_byte = 8;

    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t bytes_per_line)
    {
        const uint8_t *byte = scanline + (k >> 3);
        const int32_t shift = 7 - (k & 7);
        uint32_t value = 0;
        for (int32_t p = 0; p < Planes; ++p)
            value |= ((byte[p * bytes_per_line] >> shift) & 1u) << p;
        return static_cast<uint8_t>(value);
    }
    static void group(const uint8_t *scanline, int32_t n, int32_t bytes_per_line, uint8_t *indices)
    {
        uint64_t word = 0;
        for (int32_t p = 0; p < Planes; ++p)
            word |= pcx_spread[scanline[n + p * bytes_per_line]] << p;
        for (int32_t j = 0; j < 8; ++j)
            indices[j] = static_cast<uint8_t>(word >> (8 * j));
    }
};

template <int32_t Bytes> inline void pcx_put(uint8_t *pixel, uint8_t index, const uint32_t *pixels)
{
    if constexpr (Bytes == 1)
        *pixel = static_cast<uint8_t>(pixels[index]);
    else
        std::memcpy(pixel, &pixels[index], Bytes);
}

template <typename Source, int32_t Bytes>
void pcx_convert_groups(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                        const uint32_t *pixels)
{
    constexpr int32_t per_byte = Source::per_byte;
    const int32_t end = first + count;
    int32_t k = first;
    // The pixels before the first whole source byte, when the row is cut.
    const int32_t aligned = std::min(end, (first + per_byte - 1) / per_byte * per_byte);
    for (; k < aligned; ++k, row += Bytes)
        pcx_put<Bytes>(row, Source::index(scanline, k, bytes_per_line), pixels);
    for (; k + per_byte <= end; k += per_byte, row += per_byte * Bytes) {
        uint8_t indices[per_byte];
        Source::group(scanline, k / per_byte, bytes_per_line, indices);
        for (int32_t j = 0; j < per_byte; ++j)
            pcx_put<Bytes>(row + j * Bytes, indices[j], pixels);
    }
    for (; k < end; ++k, row += Bytes)
        pcx_put<Bytes>(row, Source::index(scanline, k, bytes_per_line), pixels);
}

template <int32_t Bytes> pcx_row_converter pcx_layout_converter_for(pcx_format format)
{
    switch (format) {
    case pcx_format::packed4:
        return &pcx_convert_groups<pcx_packed_source<4>, Bytes>;
    case pcx_format::packed2:
        return &pcx_convert_groups<pcx_packed_source<2>, Bytes>;
    case pcx_format::planar4:
        return &pcx_convert_groups<pcx_bitplanes_source<2>, Bytes>;
    case pcx_format::planar8:
        return &pcx_convert_groups<pcx_bitplanes_source<3>, Bytes>;
    default:
        return nullptr;
    }
}

} // namespace

pcx_row_converter pcx_layout_converter(pcx_format format, int32_t bytes)
{
    switch (bytes) {
    case 1:
        return pcx_layout_converter_for<1>(format);
    case 2:
        return pcx_layout_converter_for<2>(format);
    case 3:
        return pcx_layout_converter_for<3>(format);
    case 4:
        return pcx_layout_converter_for<4>(format);
    default:
        return nullptr;
    }
}

} // namespace pm
