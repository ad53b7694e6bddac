// The software display's AVX2 kernels (see soft_kernels.h): eight pixels to
// a store, each group of columns stored into every row of a block from
// registers, on 32-byte boundaries where the rows share them. Compiled with
// -mavx2 -mbmi on x86; elsewhere empty.
#include "platform/soft/soft_kernels.h"

#if defined(__AVX2__) && (defined(__x86_64__) || defined(__i386__))
#include <cstring>

#include <immintrin.h>

namespace pm::soft {
namespace {

// Eight colours put together in a register and stored at once: the store
// queue is busy with the surface.
void convert_indices_avx2(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours)
{
    size_t j = 0;
    for (; j + 8 <= count; j += 8, in += 8) {
        uint64_t eight;
        std::memcpy(&eight, in, sizeof eight);
        __m128i low = _mm_cvtsi32_si128(static_cast<int>(colours[eight & 0xFF]));
        low = _mm_insert_epi32(low, static_cast<int>(colours[(eight >> 8) & 0xFF]), 1);
        low = _mm_insert_epi32(low, static_cast<int>(colours[(eight >> 16) & 0xFF]), 2);
        low = _mm_insert_epi32(low, static_cast<int>(colours[(eight >> 24) & 0xFF]), 3);
        __m128i high = _mm_cvtsi32_si128(static_cast<int>(colours[(eight >> 32) & 0xFF]));
        high = _mm_insert_epi32(high, static_cast<int>(colours[(eight >> 40) & 0xFF]), 1);
        high = _mm_insert_epi32(high, static_cast<int>(colours[(eight >> 48) & 0xFF]), 2);
        high = _mm_insert_epi32(high, static_cast<int>(colours[eight >> 56]), 3);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + j),
                            _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1));
    }
    convert_indices_scalar(out + j, in, count - j, colours);
}

// Four pixels, two copies of each of two colours, from a table that holds
// every colour twice in 64 bits.
__m128i two_pairs(const uint64_t *pairs, uint64_t first, uint64_t second)
{
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pairs + first));
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(low), reinterpret_cast<const double *>(pairs + second)));
}

// Source pixels j .. end - 1, two at a time.
[[gnu::always_inline]] inline void double_some(row_block out, const uint8_t *in, size_t j, size_t end,
                                               const uint64_t *pairs)
{
    for (; j + 2 <= end; j += 2) {
        const __m128i four = two_pairs(pairs, in[j], in[j + 1]);
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to), four);
    }
    if (j < end) {
        const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pairs + in[j]));
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            _mm_storel_epi64(reinterpret_cast<__m128i *>(to), two);
    }
}

// Sixteen pixels at a time, stored row after row, from the first column on a
// 32-byte boundary when an even number of columns comes before it.
void double_indices_avx2(row_block block, const uint8_t *in, size_t pixels, const uint64_t *pairs, size_t lead)
{
    const row_block out = block; // a copy the stores cannot alias
    size_t j = lead % 2 == 0 && lead / 2 <= pixels ? lead / 2 : 0;
    double_some(out, in, 0, j, pairs);
    for (; j + 16 <= pixels; j += 16) {
        __m256i four[4];
        for (size_t i = 0; i < 4; ++i) {
            uint32_t indices;
            std::memcpy(&indices, in + j + 4 * i, sizeof indices);
            const __m128i low = two_pairs(pairs, indices & 0xFF, (indices >> 8) & 0xFF);
            const __m128i high = two_pairs(pairs, (indices >> 16) & 0xFF, indices >> 24);
            four[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        }
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            for (size_t i = 0; i < 4; ++i)
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 8 * i), four[i]);
    }
    double_some(out, in, j, pixels, pairs);
}

// Each group of eight columns permutes the eight colours from its base; four
// groups at a time, stored row after row.
void pick_groups_avx2(row_block block, const uint32_t *colours, const uint32_t *bases, const pick_group *picks,
                      size_t groups)
{
    const row_block out = block; // a copy the stores cannot alias
    size_t k = 0;
    for (; k + 4 <= groups; k += 4) {
        __m256i four[4];
        for (size_t i = 0; i < 4; ++i)
            four[i] = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colours + bases[k + i])),
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(picks[k + i].from)));
        uint32_t *to = out.first + 8 * k;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            for (size_t i = 0; i < 4; ++i)
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 8 * i), four[i]);
    }
    for (; k < groups; ++k) {
        const __m256i eight = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colours + bases[k]));
        const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(picks[k].from));
        uint32_t *to = out.first + 8 * k;
        for (size_t r = 0; r < out.count; ++r, to += out.stride)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), _mm256_permutevar8x32_epi32(eight, pick));
    }
}

} // namespace

bool kernels_add_avx2(present_kernels &table)
{
    table.convert_indices = &convert_indices_avx2;
    table.double_indices = &double_indices_avx2;
    table.pick_groups = &pick_groups_avx2;
    table.grow_by_picks = true;
    return true;
}

} // namespace pm::soft

#else

bool pm::soft::kernels_add_avx2(present_kernels &)
{
    return false;
}

#endif
