// The colours of a picture in memory, from the source the loader chooses.
#include "graphics/pcx/palette.h"

#include <cstddef>
#include <cstring>

namespace pm {

void pcx_picture_colours(const pcx_picture &picture, const uint8_t *bytes, uint64_t size, uint8_t *rgb)
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

} // namespace pm
