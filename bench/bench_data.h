// The pictures and sizes that every library is measured on, so that the
// numbers of the peers compare with ours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

struct extent {
    int32_t width;
    int32_t height;
};

// Nearest-pixel scaling: an 8-bit picture grown and shrunk.
constexpr extent scale_small{320, 200};
constexpr extent scale_large{800, 500};
// Rectangle copy: the demo's view-sized window out of a wide panorama.
constexpr extent copy_source{1600, 200};
constexpr extent copy_rect{320, 200};
constexpr int32_t copy_src_x = 640;
// Transparent paste: an 8-bit picture onto a 32-bit picture.
constexpr extent paste_image{320, 200};
constexpr extent paste_target{640, 400};
constexpr int32_t paste_x = 100; // left edge of the pasted picture
constexpr int32_t paste_y = 80;  // top edge of the pasted picture

// Index of pixel (x, y): 0 (transparent) in every third 8 x 8 block,
// otherwise 1..255. peers_pillow.py builds the same picture.
constexpr uint8_t picture_index(int32_t x, int32_t y)
{
    return (x / 8 + y / 8) % 3 == 0 ? uint8_t{0} : static_cast<uint8_t>(1 + (x * 31 + y * 17) % 255);
}

// width x height indices, row y = 0 first.
std::vector<uint8_t> picture(extent size);

// The colour of palette index i, the same for every library.
void palette_colour(int32_t i, uint8_t &r, uint8_t &g, uint8_t &b);

// Registers fn under the name "operation/library".
void add(const std::string &operation, const std::string &library, void (*fn)(benchmark::State &));

// Reports the throughput as pixels written per second.
void set_pixels(benchmark::State &state, int64_t pixels);

} // namespace bench
