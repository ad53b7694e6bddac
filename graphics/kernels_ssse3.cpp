// The library's SSSE3 kernels (see kernels.h): the scaling's shuffled
// blocks. Compiled with -mssse3 on x86; elsewhere empty.
#include "graphics/kernels.h"

#if defined(__SSSE3__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>

namespace pm {
namespace {

// Rows rows at once, so that each block's shuffles are loaded once for all.
template <int Block, bool TwoLoads, int Rows>
void blocks(const uint8_t *const *source_rows, uint8_t *const *outs, const shuffle_plan &plan)
{
    const uint8_t *in[Rows];
    uint8_t *out[Rows];
    for (int r = 0; r < Rows; ++r) {
        in[r] = source_rows[r];
        out[r] = outs[r];
    }
    const int32_t count = plan.blocks;
    for (int32_t n = 0; n < count; ++n) {
        const auto low = _mm_load_si128(reinterpret_cast<const __m128i *>(plan.low[n]));
        const auto high = _mm_load_si128(reinterpret_cast<const __m128i *>(plan.high[n]));
        const int32_t base = plan.base[n];
        for (int r = 0; r < Rows; ++r) {
            const uint8_t *at = in[r] + base;
            __m128i pixels = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)), low);
            if (TwoLoads)
                pixels = _mm_or_si128(
                    pixels, _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16)), high));
            if (Block == 16)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out[r] + Block * n), pixels);
            else
                _mm_storel_epi64(reinterpret_cast<__m128i *>(out[r] + Block * n), pixels);
        }
    }
}

template <int Block, bool TwoLoads>
void blocks_of_rows(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows, const shuffle_plan &plan)
{
    if (rows == scale_row_batch) {
        blocks<Block, TwoLoads, scale_row_batch>(source_rows, outs, plan);
        return;
    }
    for (int32_t r = 0; r < rows; ++r)
        blocks<Block, TwoLoads, 1>(source_rows + r, outs + r, plan);
}

void shuffle_blocks_ssse3(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows,
                          const shuffle_plan &plan)
{
    if (plan.block == 16 && plan.two_loads)
        blocks_of_rows<16, true>(source_rows, outs, rows, plan);
    else if (plan.block == 16)
        blocks_of_rows<16, false>(source_rows, outs, rows, plan);
    else if (plan.two_loads)
        blocks_of_rows<8, true>(source_rows, outs, rows, plan);
    else
        blocks_of_rows<8, false>(source_rows, outs, rows, plan);
}

} // namespace

bool kernels_add_ssse3(graphics_kernels &table)
{
    table.shuffle_blocks = &shuffle_blocks_ssse3;
    return true;
}

} // namespace pm

#else

bool pm::kernels_add_ssse3(graphics_kernels &)
{
    return false;
}

#endif
