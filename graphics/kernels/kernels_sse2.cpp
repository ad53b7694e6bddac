// The library's SSE2 kernels (see kernels.h): PCX token windows and the PCX
// row converters into 32 bits. Compiled with -msse2 on x86; elsewhere empty.
#include "graphics/kernels/kernels.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <cstring>

#include <emmintrin.h>

#include "graphics/pcx/windows.h"

namespace pm {
namespace {

// ---- PCX token windows ------------------------------------------------------

struct sse2_vectors {
    // A byte's top bit ANDed with that of its double: both top bits set.
    static uint64_t high_bytes(const uint8_t *in)
    {
        uint64_t high = 0;
        for (int32_t i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * i));
            const auto bits =
                static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(bytes, _mm_add_epi8(bytes, bytes))));
            high |= static_cast<uint64_t>(bits) << (16 * i);
        }
        return high;
    }
    static void copy(uint8_t *out, const uint8_t *in)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
    }
    using vector = __m128i;
    static vector splat(uint8_t value) { return _mm_set1_epi8(static_cast<char>(value)); }
    static void store(uint8_t *out, vector v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v); }
};
static_assert(sizeof(__m128i) == pcx_window_store);

pcx_window_place pcx_windows_sse2(pcx_window_place place, const uint8_t *end)
{
    return pcx_decode_windows<sse2_vectors>(place, end);
}

// ---- PCX row converters -----------------------------------------------------

// 256 colours, eight pixels at a time: pictures with areas of one colour
// give groups of eight equal indices, which take one table read.
void indexed8_to_32_sse2(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                         int32_t bytes_per_line, const uint32_t *pixels)
{
    const uint8_t *index = scanline + first;
    int32_t k = 0;
    for (; k + 8 <= count; k += 8, row += 32) {
        uint64_t group;
        std::memcpy(&group, index + k, 8);
        __m128i low, high;
        if (group == 0x0101010101010101u * (group & 0xFF)) {
            low = high = _mm_set1_epi32(static_cast<int>(pixels[group & 0xFF]));
        } else {
            const uint8_t *at = index + k;
            low = _mm_setr_epi32(static_cast<int>(pixels[at[0]]), static_cast<int>(pixels[at[1]]),
                                 static_cast<int>(pixels[at[2]]), static_cast<int>(pixels[at[3]]));
            high = _mm_setr_epi32(static_cast<int>(pixels[at[4]]), static_cast<int>(pixels[at[5]]),
                                  static_cast<int>(pixels[at[6]]), static_cast<int>(pixels[at[7]]));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 16), high);
    }
    pcx_indexed8_to_32_scalar(scanline, row, first + k, count - k, bytes_per_line, pixels);
}

// Three planes, sixteen pixels at a time: interleaving blue with green and
// red with zero gives byte pairs, and interleaving those pairs gives the
// pixels B, G, R, 0.
void planar24_to_32_sse2(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                         int32_t bytes_per_line, const uint32_t *pixels)
{
    const uint8_t *red = scanline + first;
    const uint8_t *green = red + bytes_per_line;
    const uint8_t *blue = green + bytes_per_line;
    const __m128i zero = _mm_setzero_si128();
    int32_t k = 0;
    for (; k + 16 <= count; k += 16, row += 64) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(red + k));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(green + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(blue + k));
        const __m128i bg_low = _mm_unpacklo_epi8(b, g);
        const __m128i bg_high = _mm_unpackhi_epi8(b, g);
        const __m128i r0_low = _mm_unpacklo_epi8(r, zero);
        const __m128i r0_high = _mm_unpackhi_epi8(r, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row), _mm_unpacklo_epi16(bg_low, r0_low));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 16), _mm_unpackhi_epi16(bg_low, r0_low));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 32), _mm_unpacklo_epi16(bg_high, r0_high));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 48), _mm_unpackhi_epi16(bg_high, r0_high));
    }
    pcx_planar24_to_32_scalar(scanline, row, first + k, count - k, bytes_per_line, pixels);
}

} // namespace

bool kernels_add_sse2(graphics_kernels &table)
{
    table.pcx_windows = &pcx_windows_sse2;
    table.pcx_indexed8_to_32 = &indexed8_to_32_sse2;
    table.pcx_planar24_to_32 = &planar24_to_32_sse2;
    return true;
}

} // namespace pm

#else

bool pm::kernels_add_sse2(graphics_kernels &)
{
    return false;
}

#endif
