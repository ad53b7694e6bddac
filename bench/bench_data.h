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

// Every scaling case, by name: the two above, the demo's logo (264 x 40) at
// its own size, a tenth, half and double, and a large picture grown and
// shrunk. peers_pillow.py lists the same cases.
struct scale_case {
    const char *name;
    extent from;
    extent to;
};
constexpr scale_case scale_cases[] = {
    {"scale_grow", scale_small, scale_large},
    {"scale_shrink", scale_large, scale_small},
    {"scale_264x40_264x40", {264, 40}, {264, 40}},
    {"scale_264x40_26x4", {264, 40}, {26, 4}},
    {"scale_264x40_132x20", {264, 40}, {132, 20}},
    {"scale_264x40_528x80", {264, 40}, {528, 80}},
    {"scale_1000x1000_1500x1500", {1000, 1000}, {1500, 1500}},
    {"scale_1000x1000_500x500", {1000, 1000}, {500, 500}},
};
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

// Presentation: the demo's 320 x 200 view stretched onto windows of these
// sizes, named "present_640x400" and so on.
constexpr extent present_source{320, 200};
constexpr extent present_sizes[] = {{640, 400}, {1920, 1080}};
std::string present_name(extent target);

// Registers fn under the name "operation/library".
void add(const std::string &operation, const std::string &library, void (*fn)(benchmark::State &));

// Registers fn(state, from, to) once per scaling case, as "<case>/library".
void add_scale_cases(const std::string &library, void (*fn)(benchmark::State &, extent, extent));

// Reports the throughput as pixels written per second.
void set_pixels(benchmark::State &state, int64_t pixels);

} // namespace bench
