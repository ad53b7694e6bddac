// Internals of the image scaling, exposed for its tests.
#pragma once

#include <cstdint>

namespace pm {

// A step mask holds at most this many steps: one bit each, packed eight to a
// byte, in the 4100 bytes of a mask area (4100 * 8 - 1, the builder always
// writes one byte more than count / 8 whole bytes).
constexpr int32_t max_mask_steps = 32799;

// Bytes that build_step_mask writes for count steps: count / 8 + 1.
constexpr int32_t step_mask_bytes(int32_t count)
{
    return (count > 0 ? count / 8 : 0) + 1;
}

// Builds the step mask of count steps for the lengths length_a and length_b
// (either order) into mask: bit i (0x80 >> i % 8 of byte i / 8) is 1 when
// step i takes a new pixel. Writes step_mask_bytes(count) bytes; a count below
// 2 writes the single byte 0x80, and negative lengths count as 0.
void build_step_mask(int32_t count, int32_t length_a, int32_t length_b, uint8_t *mask);

} // namespace pm
