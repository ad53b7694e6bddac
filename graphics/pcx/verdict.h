// The loader's one verdict on a picture, which inspection and the codec
// give too: from the header bytes and the depth of the pixels wanted, the
// result, the reason of a refusal, and the converter of a picture taken.
#pragma once

#include <cstdint>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/format.h"

namespace pm {

// What the loader decides from a picture's header, before placement: the
// result (pcx_result::ok, invalid or unsupported), the reason
// (pcx_reason::...), and for a picture it takes, the converter.
struct pcx_verdict {
    int32_t result;
    int32_t reason;
    pcx_picture picture; // meaningful from a whole header on
    pcx_row_converter convert;
};

// The one decision of the loader and of inspection: `available` header bytes
// (fewer than 128 when the input is that short) of a picture to be loaded into
// a buffer of `depth` bits, with or without pcx_all_layouts.
pcx_verdict pcx_judge(const uint8_t *header, uint32_t available, int32_t depth, bool all_layouts);

// Colours a pixel of the format can take (1 << 24 for colour planes); 0 when
// nothing reads it.
int32_t pcx_colours(pcx_format format);

} // namespace pm
