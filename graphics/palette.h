// Palette internals shared with other parts of the library and the tests.
#pragma once

#include <array>
#include <cstdint>

namespace pm {

// The built-in colours from which pm_create_default_palette fills the
// palette: 256 RGB triples (red, green, blue per entry, 0..255).
//   0..29     a palette display's ten low static colours, then 16 basic
//             colours and four greys
//   30..245   nine hue circles of 24 colours each, bright to dark
//   246..255  a palette display's ten high static colours
extern const std::array<uint8_t, 768> default_colour_table;

// Entries of the bands of default_colour_table.
constexpr int32_t hue_circle_first = 30;
constexpr int32_t hue_circle_size = 24;
constexpr int32_t hue_circle_count = 9;
constexpr int32_t high_band_first = hue_circle_first + hue_circle_size * hue_circle_count; // 246

} // namespace pm
