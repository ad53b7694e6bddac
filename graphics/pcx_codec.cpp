// The codec calls: a PCX picture or DCX page decoded into the caller's
// memory, and pictures in the caller's memory encoded as PCX and DCX files.
// They read and write no library state: everything they use comes in as
// arguments or lives on the stack, and their memory comes from malloc.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/pcx.h"
#include "graphics/pcx/encode.h"
#include <pixmora/pixmora.h>

namespace pm {
namespace {

struct free_deleter {
    void operator()(void *block) const { std::free(block); }
};
using malloc_block = std::unique_ptr<uint8_t, free_deleter>;

int32_t pcx_bytes_per_pixel(int32_t format)
{
    switch (format) {
    case PM_PIXELS_INDEX8:
        return 1;
    case PM_PIXELS_RGB8:
        return 3;
    case PM_PIXELS_RGBA8:
        return 4;
    default:
        return 0;
    }
}

// The rows' stride: the caller's, or packed rows; 0 when the caller's is too
// small for a row.
uint64_t pcx_row_stride(int32_t width, uint64_t stride, int32_t bytes)
{
    const uint64_t row_bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(bytes);
    if (stride == 0)
        return row_bytes;
    return stride >= row_bytes ? stride : 0;
}

// ---- Decoding ---------------------------------------------------------------------

// Colour planes into red, green, blue (and alpha 255) per pixel; a fourth
// plane is dropped.
template <int32_t Bytes>
void pcx_planes_to_rgb(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
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

// The converter of a picture's scanlines into the format, and its table of
// pixels: INDEX8 keeps the indices, RGB8 and RGBA8 take the colours.
pcx_row_converter pcx_codec_converter(const pcx_picture &picture, int32_t format, const uint8_t *rgb,
                                      uint32_t (&pixels)[256])
{
    const bool planes = picture.format == pcx_format::planar24 || picture.format == pcx_format::planar32;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t pixel[4] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255};
        if (format == PM_PIXELS_INDEX8)
            pixels[i] = i;
        else
            std::memcpy(&pixels[i], pixel, 4);
    }
    switch (format) {
    case PM_PIXELS_INDEX8:
        return pcx_choose_converter(picture.format, 8);
    case PM_PIXELS_RGB8:
        return planes ? &pcx_planes_to_rgb<3> : pcx_choose_converter(picture.format, 24);
    default:
        return planes ? &pcx_planes_to_rgb<4> : pcx_choose_converter(picture.format, 32);
    }
}

// The colours a load into a 32-bit buffer gives the picture's indices, from
// the same choice of source: 256 RGB triples, those the picture does not
// give black.
void pcx_codec_palette(const pcx_picture &picture, const uint8_t *bytes, uint64_t size, uint8_t *rgb)
{
    std::memset(rgb, 0, 768);
    const bool has_trailer =
        pcx_trailer_fits(size) && bytes[size - static_cast<uint64_t>(pcx_trailer_size)] == pcx_trailer_marker;
    switch (pcx_choose_palette(picture, [has_trailer] { return has_trailer; })) {
    case pcx_palette_source::none:
        break;
    case pcx_palette_source::trailer:
        std::memcpy(rgb, bytes + (size - 768), 768);
        break;
    case pcx_palette_source::grey:
        pcx_grey_ramp(rgb);
        break;
    case pcx_palette_source::header:
        std::memcpy(rgb, bytes + offsetof(pcx_header_layout, colormap), 48);
        break;
    }
}

// Every row of the picture into the caller's rows, top row first. When the
// data ends early the rest of the rows repeat the last scanline, as a load
// does: the scanline keeps what it held.
int32_t pcx_decode_rows(const uint8_t *bytes, uint32_t size, const pcx_picture &picture, pcx_row_converter convert,
                        const uint32_t *pixels, uint8_t *out, uint64_t stride)
{
    const int32_t length = picture.planes * picture.bytes_per_line;
    const malloc_block scanline(
        static_cast<uint8_t *>(std::calloc(static_cast<size_t>(length) + pcx_scanline_spare, 1)));
    if (scanline == nullptr)
        return PM_PCX_NO_MEMORY;
    pcx_stream stream{};
    stream.picture = bytes;
    stream.picture_size = size;
    stream.position = bytes + pcx_header_size;
    stream.left = size - pcx_header_size;
    for (int32_t r = 0; r < picture.height; ++r, out += stride) {
        pcx_decode_scanline(stream, scanline.get(), length);
        convert(scanline.get(), out, 0, picture.width, picture.bytes_per_line, pixels);
        if (stream.carry > 0)
            std::memmove(scanline.get(), scanline.get() + length, static_cast<size_t>(stream.carry));
    }
    return PM_PCX_OK;
}

// The bytes of the picture that a load with these flags and page reads:
// the input, or a page of the DCX file it holds. 0, or the result that ends
// the decoding.
int32_t pcx_codec_page(const uint8_t *&bytes, uint64_t &size, int32_t flags, int32_t page)
{
    const bool containers = page >= 0 || (flags & pcx_all_layouts) != 0;
    page = page < 0 ? 0 : page;
    if (containers && dcx_is_container(bytes, size)) {
        uint64_t start = 0, end = 0;
        if (!dcx_page_span(dcx_read_directory(bytes, size), page, size, start, end))
            return PM_PCX_NO_PAGE;
        bytes += start;
        size = end - start;
    } else if (page != 0) {
        return PM_PCX_NO_PAGE;
    }
    return PM_PCX_OK;
}

// ---- Encoding ---------------------------------------------------------------------

// A caller's picture described for the encoder, with its palette.
struct pcx_codec_picture {
    pcx_encoding encoding{};
    pcx_colour_table colours;
    uint8_t palette[768] = {};
};

// Checks a picture and a layout and plans its encoding: 0, or the result
// that refuses it before any byte is written.
int32_t pcx_plan_picture(const pm_picture *picture, int32_t layout, pcx_codec_picture &plan)
{
    plan.encoding = pcx_encoding{};
    std::memset(plan.palette, 0, sizeof plan.palette);
    if (picture == nullptr || picture->pixels == nullptr)
        return PM_PCX_BAD_ARGUMENT;
    const int32_t bytes = pcx_bytes_per_pixel(picture->format);
    const bool indexed = picture->format == PM_PIXELS_INDEX8;
    if (bytes == 0 || !pcx_layout_shape_of(layout, indexed, plan.encoding.shape))
        return PM_PCX_BAD_ARGUMENT;
    if (picture->width < 1 || picture->height < 1 || picture->width > pcx_max_width ||
        picture->height > pcx_max_height)
        return PM_PCX_BAD_ARGUMENT;
    const uint64_t stride = pcx_row_stride(picture->width, picture->stride, bytes);
    if (stride == 0 || stride > static_cast<uint64_t>(PTRDIFF_MAX) / static_cast<uint64_t>(picture->height))
        return PM_PCX_BAD_ARGUMENT;
    pcx_pixel_rows &rows = plan.encoding.rows;
    rows.kind = indexed ? pcx_pixel_kind::index8
                        : picture->format == PM_PIXELS_RGB8 ? pcx_pixel_kind::rgb24 : pcx_pixel_kind::rgba32;
    rows.first = static_cast<const uint8_t *>(picture->pixels);
    rows.stride = static_cast<std::ptrdiff_t>(stride);
    rows.width = picture->width;
    rows.height = picture->height;
    rows.palette = plan.palette;
    plan.encoding.palette = plan.palette;
    if (indexed) {
        // Every index must name one of the picture's colours.
        if (picture->colours < 1 || picture->colours > 256)
            return PM_PCX_BAD_ARGUMENT;
        for (int32_t y = 0; y < rows.height; ++y) {
            const uint8_t *row = rows.row(y);
            for (int32_t k = 0; k < rows.width; ++k)
                if (row[k] >= picture->colours)
                    return PM_PCX_BAD_ARGUMENT;
        }
        std::memcpy(plan.palette, picture->palette, static_cast<size_t>(3 * picture->colours));
    }
    if (!pcx_plan_encoding(plan.encoding))
        return PM_PCX_BAD_ARGUMENT;
    if (!pcx_gather_colours(plan.encoding, layout == pcx_layout_mono, indexed ? picture->colours : 0, plan.colours))
        return PM_PCX_TOO_MANY_COLOURS;
    return PM_PCX_OK;
}

// Encodes a planned picture through write, with zero-filled working memory
// (the pad bytes of split rows stay 0): 0, PM_PCX_NO_MEMORY, or
// PM_PCX_WRITE_FAILED once write refuses bytes.
int32_t pcx_encode_planned(const pcx_encoding &encoding, pm_write_fn write, void *context)
{
    const uint64_t work_size = pcx_encoding_work_size(encoding);
    if (work_size > SIZE_MAX)
        return PM_PCX_NO_MEMORY;
    const malloc_block work(static_cast<uint8_t *>(std::calloc(static_cast<size_t>(work_size), 1)));
    if (work == nullptr)
        return PM_PCX_NO_MEMORY;
    return pcx_encode(encoding, work.get(), write, context) ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
}

int32_t pcx_count_bytes(void *context, const void *, uint32_t size)
{
    *static_cast<uint64_t *>(context) += size;
    return 0;
}

void pcx_put_le32(uint8_t *out, uint32_t value)
{
    for (int32_t i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace
} // namespace pm

using namespace pm;

// Decodes a picture or a DCX page into the caller's memory.
int32_t pm_pcx_decode(const void *data, uint64_t size, int32_t flags, int32_t page, pm_picture *picture)
{
    const int32_t bytes_per_pixel = picture != nullptr ? pcx_bytes_per_pixel(picture->format) : 0;
    if (bytes_per_pixel == 0 || (data == nullptr && size > 0))
        return PM_PCX_BAD_ARGUMENT;
    if (page < -1)
        return PM_PCX_NO_PAGE;
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (const int32_t chosen = pcx_codec_page(bytes, size, flags, page); chosen != PM_PCX_OK)
        return chosen;
    // The verdict of a load into an 8-bit buffer for indices (colour planes
    // have none), of a 32-bit one for colours.
    const auto available = static_cast<uint32_t>(size < pcx_header_size ? size : pcx_header_size);
    const pcx_verdict verdict = pcx_judge(bytes, available, picture->format == PM_PIXELS_INDEX8 ? 8 : 32,
                                          (flags & pcx_all_layouts) != 0);
    if (verdict.result != PM_PCX_OK)
        return verdict.result;
    const pcx_picture &header = verdict.picture;
    const int32_t colours = pcx_colours(header.format) <= 256 ? pcx_colours(header.format) : 0;
    if (picture->pixels == nullptr) {
        picture->width = header.width;
        picture->height = header.height;
        picture->colours = colours;
        return PM_PCX_OK;
    }
    const uint64_t stride = pcx_row_stride(header.width, picture->stride, bytes_per_pixel);
    if (stride == 0)
        return PM_PCX_BAD_ARGUMENT;
    // A memory picture is read through 32-bit lengths, as pm_set_input_block's.
    if (size > UINT32_MAX)
        return PM_PCX_BAD_ARGUMENT;

    uint8_t rgb[768];
    pcx_codec_palette(header, bytes, size, rgb);
    uint32_t pixels[256];
    const pcx_row_converter convert = pcx_codec_converter(header, picture->format, rgb, pixels);
    const int32_t result = pcx_decode_rows(bytes, static_cast<uint32_t>(size), header, convert, pixels,
                                           static_cast<uint8_t *>(picture->pixels), stride);
    if (result != PM_PCX_OK)
        return result;
    picture->width = header.width;
    picture->height = header.height;
    picture->colours = colours;
    if (picture->format == PM_PIXELS_INDEX8) {
        std::memset(rgb + 3 * colours, 0, static_cast<size_t>(768 - 3 * colours));
        std::memcpy(picture->palette, rgb, sizeof rgb);
    }
    return PM_PCX_OK;
}

// Encodes a picture in the caller's memory as a PCX file.
int32_t pm_pcx_encode(const pm_picture *picture, int32_t layout, pm_write_fn write, void *context)
{
    const std::unique_ptr<pcx_codec_picture> plan(new (std::nothrow) pcx_codec_picture);
    if (plan == nullptr)
        return PM_PCX_NO_MEMORY;
    if (const int32_t planned = pcx_plan_picture(picture, layout, *plan); planned != PM_PCX_OK)
        return planned;
    if (write == nullptr)
        return PM_PCX_BAD_ARGUMENT;
    return pcx_encode_planned(plan->encoding, write, context);
}

// Encodes pictures as the pages of a DCX file: every page is planned and
// measured first, so that a refusal comes before any byte and the
// directory's offsets are known.
int32_t pm_dcx_encode(const pm_picture *pages, int32_t count, int32_t layout, pm_write_fn write, void *context)
{
    if (pages == nullptr || count < 1 || count > dcx_max_pages || write == nullptr)
        return PM_PCX_BAD_ARGUMENT;
    const std::unique_ptr<pcx_codec_picture> plan(new (std::nothrow) pcx_codec_picture);
    const uint32_t directory_size = 4 + 4 * (static_cast<uint32_t>(count) + 1);
    const malloc_block directory(static_cast<uint8_t *>(std::calloc(directory_size, 1)));
    if (plan == nullptr || directory == nullptr)
        return PM_PCX_NO_MEMORY;
    pcx_put_le32(directory.get(), dcx_magic);
    uint64_t offset = directory_size;
    for (int32_t i = 0; i < count; ++i) {
        if (const int32_t planned = pcx_plan_picture(&pages[i], layout, *plan); planned != PM_PCX_OK)
            return planned;
        // The directory's offsets are 32 bits.
        if (offset > UINT32_MAX)
            return PM_PCX_BAD_ARGUMENT;
        pcx_put_le32(directory.get() + 4 + 4 * i, static_cast<uint32_t>(offset));
        if (const int32_t measured = pcx_encode_planned(plan->encoding, pcx_count_bytes, &offset);
            measured != PM_PCX_OK)
            return measured;
    }
    if (write(context, directory.get(), directory_size) != 0)
        return PM_PCX_WRITE_FAILED;
    for (int32_t i = 0; i < count; ++i) {
        pcx_plan_picture(&pages[i], layout, *plan); // as it was planned above
        if (const int32_t written = pcx_encode_planned(plan->encoding, write, context); written != PM_PCX_OK)
            return written;
    }
    return PM_PCX_OK;
}
