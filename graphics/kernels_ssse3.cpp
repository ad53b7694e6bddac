// The library's SSSE3 kernels (see kernels.h): the scaling's shuffled
// blocks. Compiled with -mssse3 on x86; elsewhere empty.
#include "graphics/kernels.h"

#if defined(__SSSE3__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>

namespace pm {
namespace {

template <int Block, bool TwoLoads>
void blocks(const uint8_t *source_row, uint8_t *out, const shuffle_plan &plan)
{
    for (int32_t n = 0; n < plan.blocks; ++n, out += Block) {
        const uint8_t *in = source_row + plan.base[n];
        const auto low = _mm_load_si128(reinterpret_cast<const __m128i *>(plan.low[n]));
        __m128i pixels = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)), low);
        if (TwoLoads) {
            const auto high = _mm_load_si128(reinterpret_cast<const __m128i *>(plan.high[n]));
            pixels = _mm_or_si128(pixels,
                                  _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16)), high));
        }
        if (Block == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), pixels);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out), pixels);
    }
}

void shuffle_blocks_ssse3(const uint8_t *source_row, uint8_t *out, const shuffle_plan &plan)
{
    if (plan.block == 16 && plan.two_loads)
        blocks<16, true>(source_row, out, plan);
    else if (plan.block == 16)
        blocks<16, false>(source_row, out, plan);
    else if (plan.two_loads)
        blocks<8, true>(source_row, out, plan);
    else
        blocks<8, false>(source_row, out, plan);
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
