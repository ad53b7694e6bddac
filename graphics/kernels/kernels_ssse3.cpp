// The library's SSSE3 kernels (see kernels.h): the scaling's shuffled
// blocks. Compiled with -mssse3 on x86; elsewhere empty.
#include "graphics/kernels/kernels.h"

#if defined(__SSSE3__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>

#include "graphics/scaling_shuffle.h"

namespace pm {
namespace {

struct ssse3_shuffles {
    using vector = __m128i;
    static vector load_plan(const uint8_t *at) { return _mm_load_si128(reinterpret_cast<const __m128i *>(at)); }
    static vector load(const uint8_t *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }
    static vector shuffle(vector bytes, vector picks) { return _mm_shuffle_epi8(bytes, picks); }
    static vector combine(vector a, vector b) { return _mm_or_si128(a, b); }
    static void store(uint8_t *out, vector v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v); }
    static void store_low(uint8_t *out, vector v) { _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v); }
};

} // namespace

bool kernels_add_ssse3(graphics_kernels &table)
{
    table.shuffle_blocks = &shuffle_planned_blocks<ssse3_shuffles>;
    return true;
}

} // namespace pm

#else

bool pm::kernels_add_ssse3(graphics_kernels &)
{
    return false;
}

#endif
