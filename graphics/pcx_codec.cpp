// The codec calls: a PCX picture or DCX page decoded into the caller's
// memory, and pictures in the caller's memory encoded as PCX and DCX files.
// They check the caller's arguments and stand on the format's stages in
// graphics/pcx/, which read no library state: everything they use comes in
// as arguments or lives on the stack, and their memory comes from malloc.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/pcx/encode.h"
#include "graphics/pcx/palette.h"
#include "graphics/pcx/picture.h"
#include "graphics/pcx/verdict.h"
#include <pixmora/pixmora.h>

namespace pm {
namespace {

// The format's stages keep the public values without seeing the public header.
static_assert(pcx_result::ok == PM_PCX_OK && pcx_result::open_failed == PM_PCX_OPEN_FAILED &&
              pcx_result::invalid == PM_PCX_INVALID && pcx_result::unsupported == PM_PCX_UNSUPPORTED &&
              pcx_result::no_memory == PM_PCX_NO_MEMORY && pcx_result::write_failed == PM_PCX_WRITE_FAILED &&
              pcx_result::no_page == PM_PCX_NO_PAGE && pcx_result::too_many_colours == PM_PCX_TOO_MANY_COLOURS &&
              pcx_result::bad_argument == PM_PCX_BAD_ARGUMENT);
static_assert(pcx_reason::none == PM_PCX_REASON_NONE && pcx_reason::short_header == PM_PCX_REASON_SHORT &&
              pcx_reason::manufacturer == PM_PCX_REASON_MANUFACTURER && pcx_reason::window == PM_PCX_REASON_WINDOW &&
              pcx_reason::no_planes == PM_PCX_REASON_NO_PLANES && pcx_reason::no_line == PM_PCX_REASON_NO_LINE &&
              pcx_reason::line_too_short == PM_PCX_REASON_LINE_TOO_SHORT &&
              pcx_reason::no_converter == PM_PCX_REASON_NO_CONVERTER && pcx_reason::depth == PM_PCX_REASON_DEPTH &&
              pcx_reason::too_many_pixels == PM_PCX_REASON_TOO_MANY_PIXELS);
static_assert(pcx_layout::automatic == pcx_layout_auto && pcx_layout::mono == pcx_layout_mono &&
              pcx_layout::cga4 == pcx_layout_cga4 && pcx_layout::packed16 == pcx_layout_packed16 &&
              pcx_layout::vga256 == pcx_layout_vga256 && pcx_layout::planes4 == pcx_layout_planes4 &&
              pcx_layout::planes8 == pcx_layout_planes8 && pcx_layout::ega16 == pcx_layout_ega16 &&
              pcx_layout::rgb24 == pcx_layout_rgb24);
static_assert(dcx_magic == PM_DCX_MAGIC);

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

// An indexed picture's colours, in every format and in a size query, so
// that a caller (a binding above all) never works them out from the header
// itself: black for an index the file gives no colour, 0 from `colours` on.
void pcx_give_palette(uint8_t (&rgb)[768], int32_t colours, pm_picture &picture)
{
    if (colours == 0)
        return;
    std::memset(rgb + 3 * colours, 0, static_cast<size_t>(768 - 3 * colours));
    std::memcpy(picture.palette, rgb, sizeof rgb);
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
    // Page -1 is what pm_load_pcx reads: a DCX file's first page only with
    // pcx_all_layouts.
    const bool all_layouts = (flags & pcx_all_layouts) != 0;
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (const int32_t chosen = pcx_memory_page(bytes, size, page >= 0 || all_layouts, page < 0 ? 0 : page);
        chosen != PM_PCX_OK)
        return chosen;
    // A memory picture is read through 32-bit lengths, as pm_set_input_block's.
    if (size > UINT32_MAX)
        return PM_PCX_BAD_ARGUMENT;
    // The verdict of a load into an 8-bit buffer for indices (colour planes
    // have none), of a 32-bit one for colours.
    const auto available = static_cast<uint32_t>(size < pcx_header_size ? size : pcx_header_size);
    const pcx_verdict verdict =
        pcx_judge(bytes, available, picture->format == PM_PIXELS_INDEX8 ? 8 : 32, all_layouts);
    if (verdict.result != PM_PCX_OK)
        return verdict.result;
    const pcx_picture &header = verdict.picture;
    const int32_t colours = pcx_colours(header.format) <= 256 ? pcx_colours(header.format) : 0;
    uint8_t rgb[768];
    pcx_picture_colours(header, bytes, size, rgb);
    if (picture->pixels == nullptr) {
        picture->width = header.width;
        picture->height = header.height;
        picture->colours = colours;
        pcx_give_palette(rgb, colours, *picture);
        return PM_PCX_OK;
    }
    const uint64_t stride = pcx_row_stride(header.width, picture->stride, bytes_per_pixel);
    if (stride == 0 || stride > static_cast<uint64_t>(PTRDIFF_MAX) / static_cast<uint64_t>(header.height))
        return PM_PCX_BAD_ARGUMENT;

    const pcx_pixels pixels = picture->format == PM_PIXELS_INDEX8 ? pcx_pixels::index8
                              : picture->format == PM_PIXELS_RGB8 ? pcx_pixels::rgb8
                                                                  : pcx_pixels::rgba8;
    const int32_t result = pcx_decode_picture(bytes, static_cast<uint32_t>(size), header, pixels, rgb,
                                              static_cast<uint8_t *>(picture->pixels), stride);
    if (result != PM_PCX_OK)
        return result;
    picture->width = header.width;
    picture->height = header.height;
    picture->colours = colours;
    pcx_give_palette(rgb, colours, *picture);
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
