// Scaling's shuffled blocks (shuffle_plan in graphics/kernels/kernels.h): the loop
// that every instruction set's kernel for them runs, over the set's own byte
// shuffles. A set's file instantiates shuffle_planned_blocks with a struct
// of its operations:
//   using vector = ...;                          16 bytes
//   static vector load_plan(const uint8_t *at);  16 bytes of the plan (aligned)
//   static vector load(const uint8_t *at);       16 bytes of a row
//   static vector shuffle(vector bytes, vector picks);
//       byte i is bytes[picks[i]], 0 where picks[i] is 0x80
//   static vector combine(vector a, vector b);   a | b
//   static void store(uint8_t *out, vector v);   16 bytes
//   static void store_low(uint8_t *out, vector v); the first 8 bytes
// As with the token windows (graphics/pcx/windows.h), that struct lives in the file's
// unnamed namespace, so that each set's copy of the loop is its own.
#pragma once

#include <cstdint>

#include "graphics/kernels/kernels.h"

namespace pm {

// Rows rows at once, so that each block's shuffles are loaded once for all.
template <typename Vectors, int Block, bool TwoLoads, int Rows>
void shuffle_rows(const uint8_t *const *source_rows, uint8_t *const *outs, const shuffle_plan &plan)
{
    using vector = typename Vectors::vector;
    const uint8_t *in[Rows];
    uint8_t *out[Rows];
    for (int r = 0; r < Rows; ++r) {
        in[r] = source_rows[r];
        out[r] = outs[r];
    }
    const int32_t count = plan.blocks;
    for (int32_t n = 0; n < count; ++n) {
        const vector low = Vectors::load_plan(plan.low[n]);
        const vector high = Vectors::load_plan(plan.high[n]);
        const int32_t base = plan.base[n];
        for (int r = 0; r < Rows; ++r) {
            const uint8_t *at = in[r] + base;
            vector pixels = Vectors::shuffle(Vectors::load(at), low);
            if (TwoLoads)
                pixels = Vectors::combine(pixels, Vectors::shuffle(Vectors::load(at + 16), high));
            if (Block == 16)
                Vectors::store(out[r] + Block * n, pixels);
            else
                Vectors::store_low(out[r] + Block * n, pixels);
        }
    }
}

// A full batch of rows together, fewer one by one.
template <typename Vectors, int Block, bool TwoLoads>
void shuffle_row_batch(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows,
                       const shuffle_plan &plan)
{
    if (rows == scale_row_batch) {
        shuffle_rows<Vectors, Block, TwoLoads, scale_row_batch>(source_rows, outs, plan);
        return;
    }
    for (int32_t r = 0; r < rows; ++r)
        shuffle_rows<Vectors, Block, TwoLoads, 1>(source_rows + r, outs + r, plan);
}

// The kernel: the plan's block width and loads chosen once for the batch.
template <typename Vectors>
void shuffle_planned_blocks(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows,
                            const shuffle_plan &plan)
{
    if (plan.block == 16 && plan.two_loads)
        shuffle_row_batch<Vectors, 16, true>(source_rows, outs, rows, plan);
    else if (plan.block == 16)
        shuffle_row_batch<Vectors, 16, false>(source_rows, outs, rows, plan);
    else if (plan.two_loads)
        shuffle_row_batch<Vectors, 8, true>(source_rows, outs, rows, plan);
    else
        shuffle_row_batch<Vectors, 8, false>(source_rows, outs, rows, plan);
}

} // namespace pm
