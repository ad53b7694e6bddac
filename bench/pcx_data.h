// The PCX pictures that every decoder is timed on, and the sizes of the
// presentation benchmarks. The pictures are made by our own writer once per
// run (sky-like gradients with noise) or taken from the shared samples when
// they are present; every library decodes the very same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_data.h"

namespace bench {

struct pcx_picture {
    std::string name; // benchmark name part: "sky256", "mysha256", ...
    bool planar24;    // three planes of 8 bits; otherwise one of 256 colours
};

// The pictures available in this run: the generated ones always, the samples
// when their files exist. Cheap: nothing is generated or read here.
std::vector<pcx_picture> pcx_pictures();

// Pictures in layouts only we read, made on first use like the others and
// found by the same names, but not listed above: "sky16planes" (four planes
// of one bit, the 16-colour layout every load reads), "sky16packed" (one
// plane of 4 bits) and "sky16pages" (a DCX file of dcx_pages copies of it).
constexpr int32_t dcx_pages = 8;

// The operations a peer's decoding of the picture is listed under, one per
// depth of our buffer: "pcx_sky256_8" and "pcx_sky256_32"; "pcx_sky24_32".
std::vector<std::string> pcx_operations(const pcx_picture &picture);

// The file bytes of a picture, made or read on first use. Empty when the
// picture cannot be made (the benchmark then reports an error).
const std::vector<uint8_t> &pcx_bytes(const std::string &name);

// What a correct decoding of a generated picture gives, top row first:
// 0x00RRGGBB colours, and for 256 colours the indices. Empty for samples.
struct pcx_expected {
    std::vector<uint32_t> colours;
    std::vector<uint8_t> indices;
};
const pcx_expected &pcx_expected_pixels(const std::string &name);

// The picture's width and height from its header window.
extent pcx_extent(const std::vector<uint8_t> &bytes);

// Starts the library on a 32-bit software display if nobody has yet.
void start_pixmora();

// A buffer of the given size and depth, made on a started library and
// active while it lives.
class active_buffer {
public:
    active_buffer(extent size, int32_t depth);
    ~active_buffer();
    active_buffer(const active_buffer &) = delete;
    active_buffer &operator=(const active_buffer &) = delete;
    bool ok() const { return handle_ >= 0; }
    // Row y counted from the top; buffers are stored bottom-up.
    uint8_t *row(int32_t y) const;

private:
    int32_t handle_ = -1;
};

} // namespace bench
