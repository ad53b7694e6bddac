// The software display's kernel table: the row makers of stretched drawing
// (soft_stretch*.cpp), which write 32-bit surface pixels in either of the
// surface orders below (they move whole pixels, whatever their order), one
// entry each, filled once from what the processor offers and
// PIXMORA_DISABLE allows (platform/cpu).
//
// Every entry starts as its scalar reference, always built, which is the
// meaning of the entry; each instruction set's file (soft_kernels_sse2.cpp,
// soft_kernels_avx2.cpp, soft_kernels_simd128.cpp, each compiled with its
// own flags) then puts in the kernels it has, where its set is allowed. A
// kernel writes the same pixels as its reference, and none outside them.
//
// As with the library's table (graphics/kernels/kernels.h), the kernel files see
// only this header: their own code is in an unnamed namespace and they call
// no inline function of another header.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/cpu/cpu.h"
#include "platform/cpu/kernel_table.h"

namespace pm::soft {

// The two orders a window's surface pixels come in: 32-bit words
// 0x00RRGGBB, or bytes R, G, B, 255 in memory (a canvas's own order, on any
// machine's byte order). pack makes one pixel of the order.
struct order_xrgb {
    static constexpr uint32_t pack(uint32_t red, uint32_t green, uint32_t blue)
    {
        return (red << 16) | (green << 8) | blue;
    }
};
struct order_rgba {
    static constexpr uint32_t pack(uint32_t red, uint32_t green, uint32_t blue)
    {
        if constexpr (std::endian::native == std::endian::little)
            return red | (green << 8) | (blue << 16) | 0xFF000000u;
        else
            return (red << 24) | (green << 16) | (blue << 8) | 0xFFu;
    }
};

// Output rows that show the same source row: count rows from first on,
// stride pixels apart.
struct row_block {
    uint32_t *first;
    size_t count;
    size_t stride;
};

// Growing by runs: each source pixel's colour filled over the run of columns
// that show it. Fills store whole groups of this many pixels, so a run's fill
// reaches (reach, a multiple of it) pixels from its start; the next run
// covers what it writes past its own end.
constexpr size_t fill_group = 4;

// For a group of eight neighbouring drawn columns: each one's colour counted
// from the group's first.
struct pick_group {
    int32_t from[8];
};

struct present_kernels {
    cpu::sets sets = 0; // the sets whose kernels are in the table

    // count 8-bit pixels at `in` through `colours` into out[0 .. count).
    void (*convert_indices)(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours) = nullptr;

    // Doubling 8-bit pixels: into columns 0 .. 2 pixels of every row of
    // `out`, source pixel j twice, as pairs[in[j]] (its colour twice in 64
    // bits). lead: the columns before the first that starts a 32-byte block
    // in every row (kernels with wider stores start there).
    void (*double_indices)(row_block out, const uint8_t *in, size_t pixels, const uint64_t *pairs,
                           size_t lead) = nullptr;

    // Doubling colours: line[2 j] and line[2 j + 1] are colours[j], j < pixels.
    void (*double_colours)(uint32_t *line, const uint32_t *colours, size_t pixels) = nullptr;

    // Growing by runs: colour j over columns starts[j] .. starts[j + 1] - 1
    // (the last run up to count) for j < runs. The first whole_runs runs may
    // be filled `reach` pixels from their start (reach is a multiple of
    // fill_group, and starts[j] + reach <= count for them).
    void (*fill_runs)(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs,
                      size_t whole_runs, size_t count, size_t reach) = nullptr;

    // Growing by picks: column 8 k + i of every row of `out` shows
    // colours[bases[k] + picks[k].from[i]], k < groups. colours has at least
    // 8 readable entries from every base.
    void (*pick_groups)(row_block out, const uint32_t *colours, const uint32_t *bases, const pick_group *picks,
                        size_t groups) = nullptr;

    // Growing lines are made by picks rather than by runs: where a set
    // has a lane permute, picks store each group of columns at once.
    bool grow_by_picks = false;
};

// The table's filling (platform/cpu/kernel_table.h), in soft_kernels.cpp.
struct present_kernel_layer {
    using table = present_kernels;
    static present_kernels scalar();
    static const cpu::set_kernels<present_kernels> adders[3];
};

} // namespace pm::soft

extern template class pm::cpu::kernel_table<pm::soft::present_kernel_layer>;

namespace pm::soft {

// The table, filled on first use from cpu::allowed().
inline const present_kernels &kernels()
{
    return cpu::kernel_table<present_kernel_layer>::get();
}

// Fills the table again from the sets in `allowed` that the processor has,
// and returns the sets whose kernels it took (tests choose sets with it).
inline cpu::sets kernels_select(cpu::sets allowed)
{
    return cpu::kernel_table<present_kernel_layer>::select(allowed);
}

// The scalar references.
void convert_indices_scalar(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours);
void double_indices_scalar(row_block out, const uint8_t *in, size_t pixels, const uint64_t *pairs, size_t lead);
void double_colours_scalar(uint32_t *line, const uint32_t *colours, size_t pixels);
void fill_runs_scalar(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs,
                      size_t whole_runs, size_t count, size_t reach);
void pick_groups_scalar(row_block out, const uint32_t *colours, const uint32_t *bases, const pick_group *picks,
                        size_t groups);

// Each set's kernels put into a table; false, and the table as it was, where
// this build has none of that set.
bool kernels_add_sse2(present_kernels &table);
bool kernels_add_avx2(present_kernels &table);
bool kernels_add_simd128(present_kernels &table);

} // namespace pm::soft
