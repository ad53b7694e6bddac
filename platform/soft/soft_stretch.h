// Stretched drawing's line makers. A line maker makes one output line of the
// drawn columns from a source row, once per source row, straight into the
// output rows that show it, and writes exactly the drawn columns. Each needed
// source pixel is converted once. One strategy per file:
//
//   soft_stretch_shrink.cpp  shrinking: each drawn column converts its own pixel
//   soft_stretch_runs.cpp    growing: each pixel filled over the run of columns
//                            that show it
//   soft_stretch_picks.cpp   growing: the row's pixels converted first, each
//                            group of eight columns picking its own from them
//   soft_stretch_pairs.cpp   doubling 8-bit pixels: each pair of columns one
//                            entry of a table of doubled colours
//   soft_stretch_double.cpp  doubling other pixels: each converted, then stored
//                            twice
//
// soft_stretch.cpp picks one per call; their vector work is done by the
// display's kernels (soft_kernels.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/soft/soft_kernels.h"

namespace pm::soft::detail {

// One pixel reader per source depth, each giving a surface pixel in Order
// (order_xrgb or order_rgba). 8-bit pixels go through a colour table made in
// that order.
struct source_8 {
    static constexpr size_t bytes = 1;
    const uint32_t *colours;
    uint32_t operator()(const uint8_t *pixel) const { return colours[*pixel]; }
};

// 5- and 6-bit fields widen by repeating their top bits, so full intensity
// stays full (31 -> 255, 63 -> 255).
template <class Order>
struct source_16 {
    static constexpr size_t bytes = 2;
    uint32_t operator()(const uint8_t *pixel) const
    {
        uint32_t value = pixel[0] | (uint32_t{pixel[1]} << 8);
        uint32_t red = value >> 11;
        uint32_t green = (value >> 5) & 0x3F;
        uint32_t blue = value & 0x1F;
        return Order::pack((red << 3) | (red >> 2), (green << 2) | (green >> 4), (blue << 3) | (blue >> 2));
    }
};

// 24 bits: B, G, R. 32 bits: B, G, R and a byte that is not shown.
template <size_t Bytes, class Order>
struct source_bgr {
    static constexpr size_t bytes = Bytes;
    uint32_t operator()(const uint8_t *pixel) const { return Order::pack(pixel[2], pixel[1], pixel[0]); }
};

// count source pixels from `in` converted into out[0 .. count); 8-bit
// pixels by the kernel.
template <class Source>
void convert_pixels(uint32_t *out, const uint8_t *in, size_t count, const Source &source)
{
    if constexpr (std::is_same_v<Source, source_8>) {
        kernels().convert_indices(out, in, count, source.colours);
    } else {
        for (size_t i = 0; i < count; ++i, in += Source::bytes)
            out[i] = source(in);
    }
}

// The block's other rows as copies of its first, count pixels each.
inline void copy_first_row(row_block out, size_t count)
{
    for (size_t r = 1; r < out.count; ++r)
        std::memcpy(out.first + r * out.stride, out.first, count * sizeof(uint32_t));
}

template <class Source>
class line_maker {
public:
    virtual ~line_maker() = default;
    // The line of the source row whose first pixel is at `row`, into every
    // row of `out`.
    virtual void make(row_block out, const uint8_t *row) = 0;
};

// The strategies, for drawn columns showing source columns `shown`: growing,
// neighbouring columns show each source column from the first to the last
// over a run; doubling, each source column twice. lead: the drawn columns
// before the first that starts a 32-byte block in every output row (kernels
// with 32-byte stores start there).
template <class Source>
std::unique_ptr<line_maker<Source>> shrinking_lines(const std::vector<int32_t> &shown, const Source &source);
template <class Source>
std::unique_ptr<line_maker<Source>> run_lines(const std::vector<int32_t> &shown, const Source &source);
template <class Source>
std::unique_ptr<line_maker<Source>> pick_lines(const std::vector<int32_t> &shown, const Source &source, size_t lead);
std::unique_ptr<line_maker<source_8>> pair_lines(const std::vector<int32_t> &shown, const source_8 &source,
                                                 size_t lead);
template <class Source>
std::unique_ptr<line_maker<Source>> doubled_lines(const std::vector<int32_t> &shown, const Source &source);

} // namespace pm::soft::detail
