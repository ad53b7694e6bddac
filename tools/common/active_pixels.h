// Reading the active buffer's pixels as true colours, as the converter writes
// them and the viewer shows them.
#pragma once

#include <cstdint>

namespace tools {

// Row y (counted from the top) of the active buffer, columns 0..width-1, as
// 0x00RRGGBB pixels, in the colours pm_read_row gives: 8-bit indices through
// the library's logical palette, 16-bit 5-6-5 values widened, 24 and 32 bits
// as stored. Leaves out as it was when the span is not inside the buffer.
void read_active_row(int32_t y, int32_t width, uint32_t *out);

} // namespace tools
