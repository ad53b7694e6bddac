// Row converters: a decoded scanline into a row of a buffer's depth or of a
// memory format, one converter per pair, picked once per picture. Those into
// 32 bits come from the kernel table, with their scalar references here.
#include "graphics/pcx/convert.h"

#include <cstring>

#include "graphics/kernels/kernels.h"
#include "graphics/pixel_format.h"

namespace pm {
namespace {


// Index readers: the palette index of picture column k.
struct pcx_mono_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t)
    {
        return static_cast<uint8_t>((scanline[k >> 3] >> (7 - (k & 7))) & 1);
    }
};

// Four bit planes, plane 0 giving the lowest bit of the index.
struct pcx_planar16_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t bytes_per_line)
    {
        const uint8_t *byte = scanline + (k >> 3);
        const int32_t shift = 7 - (k & 7);
        return static_cast<uint8_t>(((byte[0] >> shift) & 1) | (((byte[bytes_per_line] >> shift) & 1) << 1) |
                                    (((byte[2 * bytes_per_line] >> shift) & 1) << 2) |
                                    (((byte[3 * bytes_per_line] >> shift) & 1) << 3));
    }
};

struct pcx_indexed8_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t) { return scanline[k]; }
};


template <int32_t Bytes> inline void pcx_put_index(uint8_t *pixel, uint8_t index, const uint32_t *pixels)
{
    if constexpr (Bytes == 1)
        *pixel = static_cast<uint8_t>(pixels[index]);
    else
        std::memcpy(pixel, &pixels[index], Bytes);
}

template <int32_t Bytes> void pcx_put_rgb(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue);
template <> inline void pcx_put_rgb<2>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    const uint16_t value = rgb565(red, green, blue);
    pixel[0] = static_cast<uint8_t>(value & 0xFF); // 16-bit pixels are little-endian
    pixel[1] = static_cast<uint8_t>(value >> 8);
}
template <> inline void pcx_put_rgb<3>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}
template <> inline void pcx_put_rgb<4>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
    pixel[3] = 0;
}

template <typename Source, int32_t Bytes>
void pcx_convert_indexed(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                         const uint32_t *pixels)
{
    for (int32_t k = first, end = first + count; k < end; ++k, row += Bytes)
        pcx_put_index<Bytes>(row, Source::index(scanline, k, bytes_per_line), pixels);
}


template <int32_t Bytes>
void pcx_convert_planar24(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                          const uint32_t *)
{
    const uint8_t *red = scanline + first;
    const uint8_t *green = red + bytes_per_line;
    const uint8_t *blue = green + bytes_per_line;
    for (int32_t k = 0; k < count; ++k, row += Bytes)
        pcx_put_rgb<Bytes>(row, red[k], green[k], blue[k]);
}

// Colour planes into red, green, blue (and alpha 255) per pixel, as the
// codec gives them; a fourth plane is dropped.
template <int32_t Bytes>
void pcx_convert_planes_rgb(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                            const uint32_t *)
{
    const uint8_t *red = scanline + first;
    const uint8_t *green = red + bytes_per_line;
    const uint8_t *blue = green + bytes_per_line;
    for (int32_t k = 0; k < count; ++k, row += Bytes) {
        row[0] = red[k];
        row[1] = green[k];
        row[2] = blue[k];
        if constexpr (Bytes == 4)
            row[3] = 255;
    }
}

template <int32_t Bytes> pcx_row_converter pcx_converter_for(pcx_format format)
{
    switch (format) {
    case pcx_format::planar16:
        return &pcx_convert_indexed<pcx_planar16_source, Bytes>;
    case pcx_format::planar24:
    case pcx_format::planar32: // the fourth plane is dropped
        if constexpr (Bytes == 1) {
            return nullptr; // an 8-bit buffer cannot hold 24-bit colours
        } else if constexpr (Bytes == 4) {
            return kernels().pcx_planar24_to_32;
        } else {
            return &pcx_convert_planar24<Bytes>;
        }
    case pcx_format::indexed8:
        if constexpr (Bytes == 1)
            return &pcx_copy_indexed8;
        else if constexpr (Bytes == 4)
            return kernels().pcx_indexed8_to_32;
        else
            return &pcx_convert_indexed<pcx_indexed8_source, Bytes>;
    case pcx_format::mono:
        return &pcx_convert_indexed<pcx_mono_source, Bytes>;
    case pcx_format::packed4:
    case pcx_format::packed2:
    case pcx_format::planar4:
    case pcx_format::planar8:
        return pcx_layout_converter(format, Bytes);
    case pcx_format::none:
        break;
    }
    return nullptr;
}

} // namespace

int32_t pcx_destination_bytes(int32_t depth)
{
    switch (depth) {
    case 8:
        return 1;
    case 16:
        return 2;
    case 24:
        return 3;
    default:
        return 4; // any other depth is handled as 32 bits
    }
}

// A 256-colour picture in an 8-bit buffer keeps its indices: one copy per row.
void pcx_copy_indexed8(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t,
                       const uint32_t *)
{
    std::memcpy(row, scanline + first, static_cast<size_t>(count));
}

// The one choice of converter per load; null when the pair has none.
pcx_row_converter pcx_choose_converter(pcx_format format, int32_t depth)
{
    switch (pcx_destination_bytes(depth)) {
    case 1:
        return pcx_converter_for<1>(format);
    case 2:
        return pcx_converter_for<2>(format);
    case 3:
        return pcx_converter_for<3>(format);
    default:
        return pcx_converter_for<4>(format);
    }
}

pcx_row_converter pcx_choose_pixels_converter(pcx_format format, pcx_pixels pixels, const uint8_t *rgb,
                                              uint32_t (&table)[256])
{
    // Indexed pixels of one byte take the index itself; of three or four,
    // the entry's first bytes in memory, R, G, B, 255.
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t pixel[4] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255};
        if (pixels == pcx_pixels::index8)
            table[i] = i;
        else
            std::memcpy(&table[i], pixel, 4);
    }
    const bool planes = format == pcx_format::planar24 || format == pcx_format::planar32;
    switch (pixels) {
    case pcx_pixels::index8:
        return pcx_converter_for<1>(format);
    case pcx_pixels::rgb8:
        return planes ? &pcx_convert_planes_rgb<3> : pcx_converter_for<3>(format);
    case pcx_pixels::rgba8:
        break;
    }
    return planes ? &pcx_convert_planes_rgb<4> : pcx_converter_for<4>(format);
}

// The scalar references: pixel by pixel.
void pcx_indexed8_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels)
{
    pcx_convert_indexed<pcx_indexed8_source, 4>(scanline, row, first, count, bytes_per_line, pixels);
}

void pcx_planar24_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels)
{
    pcx_convert_planar24<4>(scanline, row, first, count, bytes_per_line, pixels);
}

} // namespace pm
