// Pieces of a scanline decoded by token windows (see windows.h).
#include "graphics/pcx/windows.h"

#include <algorithm>
#include <cstring>

namespace pm {

// Window stores reach past the decoded bytes, further than the 8 bytes of
// `kept`, so the bytes the piece may store over are saved first and those
// past its last decoded byte put back after it. Apart from the decoder, it
// works on values only, so that the one-token loop that calls it keeps its
// position in registers.
pcx_piece pcx_decode_piece(pcx_windows_decoder windows, pcx_window_place place, int32_t need, uint64_t kept)
{
    uint8_t saved[pcx_window_piece + pcx_window_overshoot];
    uint8_t *const start = place.out;
    const int32_t piece = std::min(need, pcx_window_piece);
    std::memcpy(saved, start, static_cast<size_t>(piece + pcx_window_overshoot));
    std::memcpy(saved, &kept, 8);
    pcx_piece result{windows(place, start + piece), 0};
    std::memcpy(result.place.out, saved + (result.place.out - start), pcx_window_overshoot);
    std::memcpy(&result.kept, result.place.out, 8);
    return result;
}

} // namespace pm
