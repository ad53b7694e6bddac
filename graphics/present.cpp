// Presentation: the one road from a buffer to the window.

#include "graphics/internal.h"
#include "platform/platform.h"

int32_t pm_attach_dc(pm_hdc dc)
{
    pm_state.window_dc = dc;
    pm_state.text_dc = dc;
    // Shrinking drops whole rows and columns, growing repeats them: palette
    // indices are never blended.
    pm::platform::stretch_mode_set(dc, pm::platform::stretch_color_on_color);
    return 0;
}

int32_t pm_present(int32_t src_min_x, int32_t src_max_x, int32_t src_min_y, int32_t src_max_y,
                   int32_t dst_min_x, int32_t dst_max_x, int32_t dst_min_y, int32_t dst_max_y)
{
    if (pm_state.active_index == -1)
        return 0;
    // The platform measures a bottom-up bitmap's source y from its bottom
    // row, where the rectangle's lowest row, src_max_y, lies at
    // active_max_y - src_max_y. Extents are computed in 64 bits so that
    // extreme bounds cannot overflow; reversed bounds give zero or negative
    // extents, which draw nothing.
    auto clamp32 = [](int64_t v) {
        return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
    };
    auto extent = [&](int32_t min, int32_t max) { return clamp32(int64_t{max} - min + 1); };
    pm::platform::stretch_dib(pm_state.window_dc, dst_min_x, dst_min_y, extent(dst_min_x, dst_max_x),
                          extent(dst_min_y, dst_max_y), src_min_x,
                          clamp32(int64_t{pm_state.active_max_y} - src_max_y), extent(src_min_x, src_max_x),
                          extent(src_min_y, src_max_y), pm_state.active_bits, pm_state.active_header,
                          pm_state.palette_index_mode, pm::platform::rop_src_copy);
    return 0;
}
