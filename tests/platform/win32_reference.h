// What the software display draws for one stretch_dib call, so that the
// Windows platform layer's real GDI result can be compared with it in the
// same program. The software display's own sources are built into the
// Windows test under a namespace of their own (see tests/CMakeLists.txt), so
// they stand beside the Windows layer without clashing with it.
#pragma once

#include <cstdint>
#include <vector>

namespace reference {

struct stretch_call {
    int32_t dst_x, dst_y, dst_width, dst_height;
    int32_t src_x, src_y, src_width, src_height;
};

// The client surface of a width x height window (0x00RRGGBB, top row first)
// that was filled with `fill` and then received the call, with colour usage
// usage and a plain copy.
std::vector<uint32_t> stretch(int32_t width, int32_t height, uint32_t fill, const stretch_call &call,
                              const void *bits, const void *header, int32_t usage);

} // namespace reference
