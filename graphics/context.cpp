// The library's single record, start-up and shut-down.

#include <cstring>

#include "graphics/internal.h"
#include "platform/platform.h"

namespace {

bool any_slot_in_use()
{
    for (const uint8_t *bits : pm_state.slot_bits)
        if (bits != nullptr)
            return true;
    return false;
}

} // namespace

// The record exists, constant-initialized, from program load: zero except
// for these values. Fields left out are zero-initialized on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constinit pm_state_record pm_state = {
    .active_index = -1,
    .new_buffer_depth = 8,
    .logical_palette = {.palVersion = 0x0300, .palNumEntries = 256, .palPalEntry = {}},
    .input_block = pm_state.read_buffer,
    .input_block_size = PM_READ_BUFFER_SIZE,
    .video_entry_points =
        {
            {nullptr, "AVIFileCreateStreamA"}, {nullptr, "AVIFileExit"},
            {nullptr, "AVIFileInit"}, {nullptr, "AVIFileOpenA"},
            {nullptr, "AVIFileRelease"}, {nullptr, "AVIMakeCompressedStream"},
            {nullptr, "AVISaveOptions"}, {nullptr, "AVISaveOptionsFree"},
            {nullptr, "AVIStreamGetFrame"}, {nullptr, "AVIStreamGetFrameClose"},
            {nullptr, "AVIStreamGetFrameOpen"}, {nullptr, "AVIStreamInfoA"},
            {nullptr, "AVIStreamOpenFromFileA"}, {nullptr, "AVIStreamReadFormat"},
            {nullptr, "AVIStreamRelease"}, {nullptr, "AVIStreamSetFormat"},
            {nullptr, "AVIStreamWrite"},
        },
};
#pragma GCC diagnostic pop

int32_t pm_startup()
{
    // A second start-up while the library runs would forget live buffers and
    // leak the memory context; it changes nothing instead.
    if (pm_state.started)
        return 0;

    pm_state.input_block = pm_state.read_buffer;
    pm_state.input_block_size = PM_READ_BUFFER_SIZE;
    pm_select_stock_font(pm::platform::oem_fixed_font);

    for (uint8_t *&bits : pm_state.slot_bits)
        bits = nullptr;

    std::memset(pm_state.keyboard_state, 0, sizeof pm_state.keyboard_state);
    pm::platform::keyboard_state_set(pm_state.keyboard_state);

    if (pm_display_depth() <= 8) {
        pm_state.palette_index_mode = 1;
        pm_state.header_alloc_size = 552; // header and 256 16-bit indices
    } else {
        pm_state.palette_index_mode = 0;
        pm_state.header_alloc_size = 1064; // header and 256 RGBQUAD colours
    }

    pm_state.cursor_x = 0;
    pm_state.cursor_y = 0;
    pm_state.active_index = -1;
    pm_state.new_buffer_depth = 8;
    pm_state.header_size = 40;

    pm_state.saved_bitmap = nullptr;
    pm_state.memory_dc = pm::platform::memory_dc_create();
    pm_state.platform_is_nt = (pm::platform::version() & 0x80000000u) == 0 ? 1 : 0;
    pm_state.started = 1;

    // The video-file library is optional: nothing calls its entry points.
    // Whatever this start-up finds replaces what an earlier one left, so
    // that shut-down frees only a handle of this start-up's own.
    pm_hmodule module = pm::platform::library_load("AVIFIL32.DLL");
    pm_state.video_library = module;
    for (pm_entry_point &point : pm_state.video_entry_points)
        point.address = module == nullptr ? nullptr : pm::platform::library_symbol(module, point.name);
    return 0;
}

int32_t pm_shutdown()
{
    // Nothing to release twice: only the shut-down after a start-up counts.
    if (!pm_state.started || any_slot_in_use())
        return 0;

    pm_state.active_index = -1;
    if (pm_state.first_previous_palette != nullptr)
        pm::platform::palette_select(pm_state.window_dc, pm_state.first_previous_palette, 0);
    if (pm_state.video_library != nullptr) {
        pm::platform::library_free(pm_state.video_library);
        pm_state.video_library = nullptr;
        for (pm_entry_point &point : pm_state.video_entry_points)
            point.address = nullptr;
    }
    if (pm_state.memory_dc != nullptr) {
        pm::platform::memory_dc_delete(pm_state.memory_dc);
        pm_state.memory_dc = nullptr;
    }
    pm_state.started = 0;
    return 0;
}

int32_t pm_select_stock_font(int32_t stock_index)
{
    pm_state.stock_font = pm::platform::stock_object(stock_index);
    pm::platform::select_object(pm_state.text_dc, pm_state.stock_font);

    // The metrics arrive in the shared scratch area; the three values kept
    // are copied out at once, since other operations reuse the area.
    static_assert(sizeof(pm::platform::text_metric) <= sizeof pm_state.scratch_area);
    auto *metrics = reinterpret_cast<pm::platform::text_metric *>(pm_state.scratch_area);
    pm::platform::text_metrics(pm_state.text_dc, metrics);
    pm_state.font_line_height = metrics->tmHeight + metrics->tmExternalLeading;
    pm_state.font_external_leading = metrics->tmExternalLeading;
    pm_state.font_average_width = metrics->tmAveCharWidth;
    return 0;
}

int32_t pm_display_depth()
{
    pm_hdc dc = pm::platform::screen_dc_get();
    int32_t bits = pm::platform::device_caps(dc, pm::platform::caps_bits_pixel) *
                   pm::platform::device_caps(dc, pm::platform::caps_planes);
    pm::platform::screen_dc_release(dc);
    return bits == 15 ? 16 : bits;
}
