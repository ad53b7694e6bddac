// Built with the software display's sources, whose platform layer has a
// name of its own in this build (see win32_reference.h).
#include "win32_reference.h"

#include "platform/platform.h"
#include "platform/soft/soft_display.h"
#include "platform/soft/soft_state.h"

// The software display's file calls are not built here, and the reference
// opens no file: a reset has none to close.
void pm::soft::detail::close_all_files(display_state &) {}

namespace reference {

std::vector<uint32_t> stretch(int32_t width, int32_t height, uint32_t fill, const stretch_call &call,
                              const void *bits, const void *header, int32_t usage)
{
    pm::soft::reset();
    pm_hdc window = pm::soft::window_create(width, height);
    pm::soft::client_fill(window, fill);
    pm::platform::stretch_mode_set(window, pm::platform::stretch_color_on_color);
    pm::platform::stretch_dib(window, call.dst_x, call.dst_y, call.dst_width, call.dst_height, call.src_x, call.src_y,
                          call.src_width, call.src_height, bits, header, usage, pm::platform::rop_src_copy);
    const uint32_t *pixels = pm::soft::client_pixels(window);
    std::vector<uint32_t> surface(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    pm::soft::reset();
    return surface;
}

} // namespace reference
