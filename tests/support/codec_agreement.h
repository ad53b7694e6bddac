// The codec's decoding held to what the stateful loader shows for the same
// bytes, flags and page.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace pixmora_test {

// Decodes `file` with pm_pcx_decode in each format and loads it into a
// buffer at the cursor: the results must be equal and, for a picture both
// take, RGBA8 and RGB8 the colours of a 32-bit load (whose palette starts
// black, as the codec gives colours the picture does not), alpha 255, and
// INDEX8 the indices of an 8-bit load without reduction (where pictures of
// 16 colours or fewer stand 10 higher) with the RGBA8 colours in its
// palette. Needs a started library; leaves no buffer active.
::testing::AssertionResult codec_agrees_with_load(const std::vector<uint8_t> &file, int32_t flags, int32_t page);

} // namespace pixmora_test
