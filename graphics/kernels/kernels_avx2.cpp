// The library's AVX2 kernels (see kernels.h): PCX token windows that find a
// window's runs 32 bytes at a time, the scaling's step masks 32 steps at a
// time, and the rectangle copy's rows. Compiled with -mavx2 -mbmi on x86;
// elsewhere empty.
#include "graphics/kernels/kernels.h"

#if defined(__AVX2__) && defined(__BMI__) && (defined(__x86_64__) || defined(__i386__))
#include <cstring>

#include <immintrin.h>

#include "graphics/pcx/windows.h"

namespace pm {
namespace {

// ---- PCX token windows ------------------------------------------------------

struct avx2_vectors {
    static uint64_t high_bytes(const uint8_t *in)
    {
        uint64_t high = 0;
        for (int32_t i = 0; i < 2; ++i) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 32 * i));
            const auto bits =
                static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(bytes, _mm256_add_epi8(bytes, bytes))));
            high |= static_cast<uint64_t>(bits) << (32 * i);
        }
        return high;
    }
    // Stores stay 16 bytes wide: the tokens are short.
    static void copy(uint8_t *out, const uint8_t *in)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
    }
    using vector = __m128i;
    static vector splat(uint8_t value) { return _mm_set1_epi8(static_cast<char>(value)); }
    static void store(uint8_t *out, vector v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v); }
};
static_assert(sizeof(__m128i) == pcx_window_store);

pcx_window_place pcx_windows_avx2(pcx_window_place place, const uint8_t *end)
{
    return pcx_decode_windows<avx2_vectors>(place, end);
}

// ---- Step masks -------------------------------------------------------------

// The mask of count steps for lengths shorter <= longer < 2^15, 32 steps at a
// time. Step i takes a new pixel when some multiple of longer lies in [i S,
// i S + S), that is when r = (i S + longer - 1) mod longer is at least
// longer - S. Each 16-bit lane holds r for one step and all advance by the
// same amount, so 32 steps cost two vector additions and comparisons and
// one movemask; no division. Lane p of the 32 holds step p ^ 7, which puts
// step 0 of each byte in its top bit. Longer lengths take the scalar
// reference.
__m256i splat(int32_t value)
{
    return _mm256_set1_epi16(static_cast<int16_t>(value));
}

// a + b mod length, lane by lane, for a, b < length < 2^15.
__m256i add_mod(__m256i a, __m256i b, __m256i length)
{
    const __m256i sum = _mm256_add_epi16(a, b);
    return _mm256_min_epu16(sum, _mm256_sub_epi16(sum, length));
}

int32_t twice_mod(int32_t value, int32_t longer)
{
    return 2 * value >= longer ? 2 * value - longer : 2 * value;
}

void step_mask_avx2(int32_t count, int32_t shorter, int32_t longer, uint8_t *mask)
{
    if (longer > INT16_MAX) {
        step_mask_scalar(count, shorter, longer, mask);
        return;
    }
    const __m256i length = splat(longer);

    // The lanes of steps 0 to 15, built from longer - 1 by adding 2^b S mod
    // longer to the lanes whose step has bit b.
    const __m256i steps = _mm256_setr_epi16(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    __m256i low = splat(longer - 1);
    int32_t stride = shorter == longer ? 0 : shorter; // 2^b S mod longer
    for (int32_t b = 0; b < 4; ++b, stride = twice_mod(stride, longer)) {
        const __m256i has_bit = _mm256_cmpeq_epi16(_mm256_and_si256(steps, splat(1 << b)), splat(1 << b));
        low = add_mod(low, _mm256_and_si256(has_bit, splat(stride)), length);
    }
    __m256i high = add_mod(low, splat(stride), length); // steps 16 to 31
    const __m256i advance = splat(twice_mod(stride, longer));
    const __m256i threshold = splat(longer - shorter);

    const int32_t bytes = count / 8 + 1; // as build_step_mask writes
    for (int32_t at = 0; at < bytes; at += 4) {
        const __m256i low_bits = _mm256_cmpeq_epi16(_mm256_max_epu16(low, threshold), low);
        const __m256i high_bits = _mm256_cmpeq_epi16(_mm256_max_epu16(high, threshold), high);
        // packs works within 128-bit halves; the permute puts steps back in order.
        const auto bits = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(low_bits, high_bits), 0xD8)));
        if (bytes - at >= 4) {
            std::memcpy(mask + at, &bits, 4); // x86 is little-endian: step 0 goes first
        } else {
            for (int32_t i = 0; i < bytes - at; ++i)
                mask[at + i] = static_cast<uint8_t>(bits >> 8 * i);
        }
        low = add_mod(low, advance, length);
        high = add_mod(high, advance, length);
    }
    // Bits past the last step are 0; they all lie in the last byte.
    mask[count / 8] &= static_cast<uint8_t>(~(0xFF >> count % 8));
}

// ---- Rectangle copy ---------------------------------------------------------

// Rows of a view-sized rectangle are a few hundred bytes each, where a
// library call per row costs as much as the copy: such rows are copied by
// 32-byte loads and stores in line, the last one ending with the row, so
// that nothing past it is written. Longer rows, and rows shorter than one
// store, go to memcpy.
constexpr size_t inline_row_limit = 2048;

void copy_rows_avx2(const uint8_t *from, int64_t from_stride, uint8_t *to, int64_t to_stride, size_t length,
                    int64_t count)
{
    constexpr size_t store = sizeof(__m256i);
    if (length > inline_row_limit || length < store) {
        copy_rows_scalar(from, from_stride, to, to_stride, length, count);
        return;
    }
    for (int64_t r = 0; r < count; ++r, from += from_stride, to += to_stride) {
        size_t i = 0;
        for (; i + 2 * store <= length; i += 2 * store) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + i + store));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + i), a);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + i + store), b);
        }
        if (i + store <= length) {
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + i),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + i)));
            i += store;
        }
        if (i < length)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + length - store),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + length - store)));
    }
}

} // namespace

bool kernels_add_avx2(graphics_kernels &table)
{
    table.pcx_windows = &pcx_windows_avx2;
    table.step_mask = &step_mask_avx2;
    table.copy_rows = &copy_rows_avx2;
    return true;
}

} // namespace pm

#else

bool pm::kernels_add_avx2(graphics_kernels &)
{
    return false;
}

#endif
