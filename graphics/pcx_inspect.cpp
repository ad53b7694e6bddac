// Inspection: a PCX picture described from its header and its end without
// loading it, judged by the loader's own verdict (graphics/pcx/verdict.h).
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "graphics/pcx.h"
#include <pixmora/pixmora.h>
#include "platform/platform.h"

namespace pm {
namespace {

// The input of an inspection: a memory block, or an open file read through
// the platform; once a DCX page is chosen, the page's bytes.
struct pcx_source {
    const uint8_t *bytes; // memory; null for a file
    pm_hfile file;
    uint64_t size;
    uint64_t base = 0; // where the bytes read begin in the input

    // Reads count bytes at offset; false when they are not all there.
    bool read(uint64_t offset, uint8_t *out, uint32_t count) const
    {
        if (offset > size || count > size - offset)
            return false;
        offset += base;
        if (bytes != nullptr) {
            std::memcpy(out, bytes + offset, count);
            return true;
        }
        if (offset > static_cast<uint64_t>(INT64_MAX) ||
            pm::platform::file_seek(file, static_cast<int64_t>(offset), pm::platform::seek_origin::begin) !=
                static_cast<int64_t>(offset))
            return false;
        uint32_t got = 0;
        return pm::platform::file_read(file, out, count, &got) && got == count;
    }
};

// Narrows the source to page `page` of a DCX file and counts the pages;
// false when the input has no such page. Without `containers` a DCX file is
// not opened, and is judged as the picture it is not, as pm_load_pcx without
// pcx_all_layouts judges it.
bool pcx_choose_page(pcx_source &source, int32_t page, bool containers, pm_pcx_info *info)
{
    uint8_t head[dcx_directory_size];
    const auto available = static_cast<uint32_t>(std::min<uint64_t>(source.size, dcx_directory_size));
    if (!containers || !source.read(0, head, available) || !dcx_is_container(head, available))
        return page == 0;
    const dcx_directory directory = dcx_read_directory(head, available);
    uint64_t start = 0, end = 0;
    if (!dcx_page_span(directory, page, source.size, start, end))
        return false;
    info->page_count = directory.pages;
    info->page_offset = start;
    source.base = start;
    source.size = end - start;
    return true;
}

int32_t pcx_inspect(pcx_source source, int32_t flags, int32_t page, int32_t depth, pm_pcx_info *info)
{
    *info = pm_pcx_info{};
    info->size = source.size;
    info->page_count = 1;
    // Page -1 is the picture that pm_load_pcx reads: a DCX file's first page
    // only with pcx_all_layouts.
    const bool containers = page >= 0 || (flags & pcx_all_layouts) != 0;
    page = page < 0 ? 0 : page;
    info->page = page;
    info->depth = depth;
    if (!pcx_choose_page(source, page, containers, info))
        return PM_PCX_INVALID;
    const bool all_layouts = (flags & pcx_all_layouts) != 0;
    uint8_t header[pcx_header_size] = {};
    const uint32_t available = static_cast<uint32_t>(std::min<uint64_t>(source.size, pcx_header_size));
    if (!source.read(0, header, available))
        return PM_PCX_OPEN_FAILED;
    const pcx_verdict verdict = pcx_judge(header, available, depth, all_layouts);
    info->verdict = verdict.result;
    info->reason = verdict.reason;
    if (available < static_cast<uint32_t>(pcx_header_size))
        return PM_PCX_OK;

    info->header_present = 1;
    pcx_header_layout fields;
    std::memcpy(&fields, header, sizeof fields);
    info->manufacturer = fields.manufacturer;
    info->version = fields.version;
    info->encoding = fields.encoding;
    info->bits_per_pixel = fields.bits_per_pixel;
    info->x_min = pcx_le16(fields.x_min);
    info->y_min = pcx_le16(fields.y_min);
    info->x_max = pcx_le16(fields.x_max);
    info->y_max = pcx_le16(fields.y_max);
    info->h_dpi = pcx_le16(fields.h_dpi);
    info->v_dpi = pcx_le16(fields.v_dpi);
    info->planes = fields.planes;
    info->reserved_byte = fields.reserved;
    info->bytes_per_line = pcx_le16(fields.bytes_per_line);
    info->palette_info = pcx_le16(fields.palette_info);
    info->h_screen_size = pcx_le16(fields.h_screen_size);
    info->v_screen_size = pcx_le16(fields.v_screen_size);
    std::memcpy(info->colormap, fields.colormap, sizeof info->colormap);

    const pcx_picture picture = pcx_parse_header(header, all_layouts);
    info->width = picture.width;
    info->height = picture.height;
    info->colours = pcx_colours(picture.format);
    uint8_t trailer[pcx_trailer_size];
    info->trailer_present = pcx_trailer_fits(source.size) &&
                            source.read(source.size - pcx_trailer_size, trailer, pcx_trailer_size) &&
                            trailer[0] == pcx_trailer_marker;
    switch (pcx_choose_palette(picture, [info] { return info->trailer_present != 0; })) {
    case pcx_palette_source::none:
        info->palette_kind = PM_PCX_PALETTE_NONE;
        break;
    case pcx_palette_source::header:
        info->palette_kind = PM_PCX_PALETTE_HEADER;
        info->palette_count = 16;
        std::memcpy(info->palette, fields.colormap, sizeof fields.colormap);
        break;
    case pcx_palette_source::trailer:
        info->palette_kind = PM_PCX_PALETTE_TRAILER;
        info->palette_count = 256;
        std::memcpy(info->palette, trailer + 1, sizeof info->palette);
        break;
    case pcx_palette_source::grey:
        info->palette_kind = PM_PCX_PALETTE_GREY;
        info->palette_count = 256;
        pcx_grey_ramp(info->palette);
        break;
    }
    return PM_PCX_OK;
}

bool pcx_inspection_arguments(int32_t page, int32_t depth, const pm_pcx_info *info)
{
    return info != nullptr && page >= -1 && (depth == 8 || depth == 16 || depth == 24 || depth == 32);
}

} // namespace

} // namespace pm

// Describes a PCX file without loading it; the verdict is the loader's own.
int32_t pm_pcx_inspect_file(const char *name, int32_t flags, int32_t page, int32_t depth, pm_pcx_info *info)
{
    if (name == nullptr || !pm::pcx_inspection_arguments(page, depth, info))
        return PM_PCX_INVALID;
    const pm_hfile file = pm::platform::file_open_read(name);
    if (file == nullptr)
        return PM_PCX_OPEN_FAILED;
    const int64_t size = pm::platform::file_seek(file, 0, pm::platform::seek_origin::end);
    int32_t result = PM_PCX_OPEN_FAILED;
    if (size >= 0)
        result = pm::pcx_inspect({nullptr, file, static_cast<uint64_t>(size), 0}, flags, page, depth, info);
    pm::platform::file_close(file);
    return result;
}

// Describes a PCX picture in memory without loading it.
int32_t pm_pcx_inspect_memory(const void *picture, uint32_t size, int32_t flags, int32_t page, int32_t depth,
                              pm_pcx_info *info)
{
    if ((picture == nullptr && size > 0) || !pm::pcx_inspection_arguments(page, depth, info))
        return PM_PCX_INVALID;
    return pm::pcx_inspect({static_cast<const uint8_t *>(picture), nullptr, size, 0}, flags, page, depth, info);
}

// A short fixed text per refusal reason; one fixed text for anything else.
const char *pm_pcx_reason_text(int32_t reason)
{
    switch (reason) {
    case PM_PCX_REASON_NONE:
        return "the loader takes it";
    case PM_PCX_REASON_SHORT:
        return "shorter than a 128-byte header";
    case PM_PCX_REASON_MANUFACTURER:
        return "the first byte is not 0x0A";
    case PM_PCX_REASON_WINDOW:
        return "the header window ends before it starts";
    case PM_PCX_REASON_NO_PLANES:
        return "the header gives no planes";
    case PM_PCX_REASON_NO_LINE:
        return "the header's BytesPerLine is 0";
    case PM_PCX_REASON_LINE_TOO_SHORT:
        return "the header's BytesPerLine is too small for a row of the window's width";
    case PM_PCX_REASON_NO_CONVERTER:
        return "no converter reads these bits per pixel and planes";
    case PM_PCX_REASON_DEPTH:
        return "no converter into a buffer of this depth";
    default:
        return "unknown reason";
    }
}
