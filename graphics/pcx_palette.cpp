// The palette step of a load: the trailer palette after the data, looked
// for only where it lies wholly after the header, or the header's 16
// colours, set clear of the static colours in an 8-bit buffer.
#include <cstddef>
#include <cstring>

#include "graphics/pcx.h"
#include <pixmora/pixmora.h>
#include "platform/platform.h"

namespace pm {
namespace {

// Reads the last 769 bytes of the picture into scratch_area and tells whether
// they are a trailer palette. A trailer that would reach into the header is
// not looked for, so nothing outside a memory block is ever read.
bool pcx_read_trailer(const pcx_stream &stream)
{
    uint8_t *trailer = pm_state.scratch_area;
    if (stream.picture != nullptr) {
        if (!pcx_trailer_fits(stream.picture_size))
            return false;
        std::memcpy(trailer, stream.picture + (stream.picture_size - pcx_trailer_size), pcx_trailer_size);
        return trailer[0] == pcx_trailer_marker;
    }
    bool at_trailer = false;
    if (stream.file_end < 0) {
        at_trailer = pm::platform::file_seek(pm_state.file_handle, -pcx_trailer_size, pm::platform::seek_origin::end) >=
                     pcx_header_size;
    } else { // a DCX page, which ends before the file does
        const int64_t at = stream.file_end - pcx_trailer_size;
        at_trailer = at >= stream.file_start + pcx_header_size &&
                     pm::platform::file_seek(pm_state.file_handle, at, pm::platform::seek_origin::begin) == at;
    }
    bool whole = false;
    if (at_trailer) {
        uint32_t got = 0;
        if (!pm::platform::file_read(pm_state.file_handle, trailer, pcx_trailer_size, &got))
            got = 0;
        pm_state.bytes_read = got;
        whole = got == static_cast<uint32_t>(pcx_trailer_size);
    }
    // Back to the data, which the decoder may not have begun to read.
    pm::platform::file_seek(pm_state.file_handle, stream.file_start + pcx_header_size, pm::platform::seek_origin::begin);
    return whole && trailer[0] == pcx_trailer_marker;
}

} // namespace

void pcx_set_palette_run(const uint8_t *rgb, int32_t colours)
{
    if (pm_state.active_depth > 8) {
        pm_set_palette_entries(0, colours, rgb);
        return;
    }
    if (colours == 256) // the trailer's triples keep their indices, 10..245
        pm_set_palette_entries(pcx_static_colours, 236, rgb + 3 * pcx_static_colours);
    else // monochrome and 16-colour pixels were stored as index + 10
        pm_set_palette_entries(pcx_static_colours, colours, rgb);
}

void pcx_apply_palette(const pcx_stream &stream, const pcx_picture &picture, int32_t flags)
{
    if ((flags & pcx_keep_palette) != 0)
        return;
    const pcx_palette_source source = pcx_choose_palette(picture, [&stream] { return pcx_read_trailer(stream); });
    if (source == pcx_palette_source::none)
        return;
    if (source == pcx_palette_source::trailer || source == pcx_palette_source::grey) {
        uint8_t *rgb = pm_state.scratch_area + 1;
        if (source == pcx_palette_source::grey)
            pcx_grey_ramp(rgb);
        if ((flags & pcx_no_reduction) == 0)
            pm_reduce_colours(pcx_static_colours, 236, rgb);
        pcx_set_palette_run(rgb, 256);
        return;
    }
    pcx_set_palette_run(pm_state.pcx_header + offsetof(pcx_header_layout, colormap), 16);
}

} // namespace pm
