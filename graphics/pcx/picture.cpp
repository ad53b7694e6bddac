// A picture in memory decoded whole into rows of a memory format. Its one
// allocation, the scanline, comes from malloc.
#include "graphics/pcx/picture.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "graphics/pcx/decode.h"

namespace pm {
namespace {

struct free_deleter {
    void operator()(void *block) const { std::free(block); }
};

} // namespace

int32_t pcx_memory_page(const uint8_t *&bytes, uint64_t &size, bool containers, int32_t page)
{
    if (containers && dcx_is_container(bytes, size)) {
        uint64_t start = 0, end = 0;
        if (!dcx_page_span(dcx_read_directory(bytes, size), page, size, start, end))
            return pcx_result::no_page;
        bytes += start;
        size = end - start;
    } else if (page != 0) {
        return pcx_result::no_page;
    }
    return pcx_result::ok;
}

int32_t pcx_decode_picture(const uint8_t *bytes, uint32_t size, const pcx_picture &picture, pcx_pixels pixels,
                           const uint8_t *rgb, uint8_t *out, uint64_t stride)
{
    uint32_t table[256];
    const pcx_row_converter convert = pcx_choose_pixels_converter(picture.format, pixels, rgb, table);
    if (convert == nullptr)
        return pcx_result::unsupported;
    const int32_t length = picture.planes * picture.bytes_per_line;
    // Zero-filled, as a load's: a first scanline cut short shows index 0.
    const std::unique_ptr<uint8_t, free_deleter> scanline(
        static_cast<uint8_t *>(std::calloc(static_cast<size_t>(length) + pcx_scanline_spare, 1)));
    if (scanline == nullptr)
        return pcx_result::no_memory;
    pcx_stream stream = pcx_memory_stream(bytes, size);
    for (int32_t r = 0; r < picture.height; ++r, out += stride) {
        pcx_decode_scanline(stream, scanline.get(), length);
        convert(scanline.get(), out, 0, picture.width, picture.bytes_per_line, table);
        if (stream.carry > 0)
            std::memmove(scanline.get(), scanline.get() + length, static_cast<size_t>(stream.carry));
    }
    return pcx_result::ok;
}

} // namespace pm
