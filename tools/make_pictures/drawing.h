// The drawing behind the demo's pictures: one shared palette, a cloudy sky
// and titles in a small bitmap font. Pure computation, no library calls.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pictures {

// The visible colours of every picture lie in entries 10..245.
constexpr int32_t first_entry = 10;
constexpr int32_t entry_count = 236;

// 256 RGB triples.
using palette = std::array<uint8_t, 768>;

// Palette indices, top row first.
struct indexed_picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    uint8_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The sky's gradient levels and cloud levels; sky entry = 10 + level *
// cloud_levels + cloud.
constexpr int32_t sky_levels = 16;
constexpr int32_t cloud_levels = 10;
// The titles' colours follow the sky's.
constexpr int32_t title_first = first_entry + sky_levels * cloud_levels;
constexpr int32_t title_levels = 20; // fill gradient per style

enum class logo_style { gold, warm };

palette shared_palette();
// 640 x 200: a sky from deep blue to a warm horizon with soft clouds.
indexed_picture draw_sky();
// 264 x 40: text centred in outlined, shaded capitals; index 0 around it.
indexed_picture draw_logo(const std::string &text, logo_style style);

// The built-in font: 5 x 7 cells, rows top first, bit 4 the leftmost column.
// Unknown characters are blank.
const std::array<uint8_t, 7> &glyph(char c);

} // namespace pictures
