// The library's kernel table: the hot loops that have versions for several
// instruction sets, one entry each, filled once from what the processor
// offers and PIXMORA_DISABLE allows (platform/cpu).
//
// Every entry starts as its scalar reference, which is always built and is
// the meaning of the entry; each instruction set's file (kernels_sse2.cpp,
// kernels_ssse3.cpp, kernels_avx2.cpp, kernels_simd128.cpp, each compiled
// with its own flags) then puts in the kernels it has, in that order, where
// its set is allowed. A kernel gives the same bytes as its reference on
// every input. Where the reference is "none" (a null entry), the code that
// calls it does the work itself without it.
//
// The kernel files see only this header and their own code: whatever they
// define is in an unnamed namespace, and they call no inline function of
// another header, so that no copy of a function built for one set can stand
// in for the plain one at link time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/cpu/cpu.h"
#include "platform/cpu/kernel_table.h"

namespace pm {

// ---- PCX --------------------------------------------------------------------

// Where the token windows have come to: the next input byte, the input bytes
// left there, and the next decoded byte.
struct pcx_window_place {
    const uint8_t *in;
    uint32_t left;
    uint8_t *out;
};

// Decodes whole tokens while a window's input is at hand and each token ends
// before `end`, and returns the place of the first token not decoded (see
// graphics/pcx/windows.h for how far its stores reach).
using pcx_windows_decoder = pcx_window_place (*)(pcx_window_place place, const uint8_t *end);

// Writes `count` pixels of a decoded scanline, from picture column `first`
// on, to a row. Indexed sources take each index's pixel from `pixels`: a
// pixel of one byte is the entry's low 8 bits, a wider one the entry's first
// bytes in memory.
using pcx_row_converter = void (*)(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                                   int32_t bytes_per_line, const uint32_t *pixels);

// ---- scaling ----------------------------------------------------------------

// Output columns handled per pass over the rows, and distinct source rows
// made into output rows together.
constexpr int32_t scale_column_chunk = 2048;
constexpr int32_t scale_row_batch = 4;

// Blocks of one chunk of output columns that byte shuffles gather: `blocks`
// full blocks of `block` (8 or 16) output columns, block n taken from the 16
// (or, with two_loads, 32) source bytes at base[n]. Byte i of the block is
// byte low[n][i] of the first 16, or byte high[n][i] of the next 16; an
// entry of 0x80 gives 0, so that the two halves combine by OR.
struct shuffle_plan {
    int32_t block = 0;
    bool two_loads = false;
    int32_t blocks = 0;
    uint16_t base[scale_column_chunk / 8];
    alignas(16) uint8_t low[scale_column_chunk / 8][16];
    alignas(16) uint8_t high[scale_column_chunk / 8][16];
};

// ---- the table --------------------------------------------------------------

struct graphics_kernels {
    cpu::sets sets = 0; // the sets whose kernels are in the table

    // PCX scanlines, 64 input bytes at a time; none: the loader's one-token
    // loop decodes every token.
    pcx_windows_decoder pcx_windows = nullptr;
    // 256 colours and three 8-bit planes into 32-bit rows.
    pcx_row_converter pcx_indexed8_to_32 = nullptr;
    pcx_row_converter pcx_planar24_to_32 = nullptr;

    // count rows of length bytes that do not overlap, each row one stride on
    // from the last on both sides.
    void (*copy_rows)(const uint8_t *from, int64_t from_stride, uint8_t *to, int64_t to_stride, size_t length,
                      int64_t count) = nullptr;

    // The step mask of count >= 2 steps for lengths 1 <= shorter <= longer
    // (see build_step_mask in graphics/scaling.h).
    void (*step_mask)(int32_t count, int32_t shorter, int32_t longer, uint8_t *mask) = nullptr;
    // The planned blocks of `rows` output rows (at most scale_row_batch),
    // each from its source row, in order from outs[r]; none: the columns
    // are gathered one by one.
    void (*shuffle_blocks)(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows,
                           const shuffle_plan &plan) = nullptr;
};

// The table's filling (platform/cpu/kernel_table.h), in kernels.cpp.
struct graphics_kernel_layer {
    using table = graphics_kernels;
    static graphics_kernels scalar();
    static const cpu::set_kernels<graphics_kernels> adders[4];
};
extern template class cpu::kernel_table<graphics_kernel_layer>;

// The table, filled on first use from cpu::allowed().
inline const graphics_kernels &kernels()
{
    return cpu::kernel_table<graphics_kernel_layer>::get();
}

// Fills the table again from the sets in `allowed` that the processor has,
// and returns the sets whose kernels it took. Tests choose sets with it; the
// first fill is the same filling from cpu::allowed().
inline cpu::sets kernels_select(cpu::sets allowed)
{
    return cpu::kernel_table<graphics_kernel_layer>::select(allowed);
}

// The scalar references, beside the code that calls them.
void pcx_indexed8_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels);
void pcx_planar24_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels);
void copy_rows_scalar(const uint8_t *from, int64_t from_stride, uint8_t *to, int64_t to_stride, size_t length,
                      int64_t count);
void step_mask_scalar(int32_t count, int32_t shorter, int32_t longer, uint8_t *mask);

// Each set's kernels put into a table; false, and the table as it was, where
// this build has none of that set.
bool kernels_add_sse2(graphics_kernels &table);
bool kernels_add_ssse3(graphics_kernels &table);
bool kernels_add_avx2(graphics_kernels &table);
bool kernels_add_simd128(graphics_kernels &table);

} // namespace pm
