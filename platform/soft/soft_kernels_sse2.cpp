// The software display's SSE2 kernels (see soft_kernels.h): four pixels to a
// store. Compiled with -msse2 on x86; elsewhere empty.
#include "platform/soft/soft_kernels.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <cstring>

#include <emmintrin.h>

namespace pm::soft {
namespace {

static_assert(sizeof(__m128i) == fill_group * sizeof(uint32_t));

void store(uint32_t *out, __m128i four)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), four);
}

void convert_indices_sse2(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours)
{
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        store(out + i, _mm_setr_epi32(static_cast<int>(colours[in[i]]), static_cast<int>(colours[in[i + 1]]),
                                      static_cast<int>(colours[in[i + 2]]), static_cast<int>(colours[in[i + 3]])));
    convert_indices_scalar(out + i, in + i, count - i, colours);
}

// Four pixels, two copies of each of two colours, from a table that holds
// every colour twice in 64 bits.
__m128i two_pairs(const uint64_t *pairs, uint64_t first, uint64_t second)
{
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pairs + first));
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(low), reinterpret_cast<const double *>(pairs + second)));
}

// Eight indices read at once, each pair of columns one 64-bit entry.
void double_indices_sse2(row_block block, const uint8_t *in, size_t pixels, const uint64_t *pairs, size_t)
{
    const row_block out = block; // a copy the stores cannot alias
    size_t j = 0;
    for (; j + 8 <= pixels; j += 8) {
        uint64_t eight;
        std::memcpy(&eight, in + j, sizeof eight);
        for (size_t k = 2 * j; k < 2 * j + 16; k += 4, eight >>= 16) {
            const __m128i four = two_pairs(pairs, eight & 0xFF, (eight >> 8) & 0xFF);
            uint32_t *to = out.first + k;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                store(to, four);
        }
    }
    for (; j < pixels; j += 2) {
        // Two pixels, or the last one alone.
        const __m128i four = j + 1 < pixels ? two_pairs(pairs, in[j], in[j + 1])
                                            : _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pairs + in[j]));
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride) {
            if (j + 1 < pixels)
                store(to, four);
            else
                _mm_storel_epi64(reinterpret_cast<__m128i *>(to), four);
        }
    }
}

void double_colours_sse2(uint32_t *line, const uint32_t *colours, size_t pixels)
{
    size_t j = 0;
    for (; j + 4 <= pixels; j += 4, line += 8) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(colours + j));
        store(line, _mm_unpacklo_epi32(four, four));
        store(line + 4, _mm_unpackhi_epi32(four, four));
    }
    double_colours_scalar(line, colours + j, pixels - j);
}

// The whole runs, Stores groups of four pixels each (Stores = 0: `reach`
// pixels); what a fill writes past its run, the next run takes.
template <size_t Stores>
void fill_whole_runs(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs, size_t reach)
{
    const size_t pixels = Stores > 0 ? fill_group * Stores : reach;
    for (size_t j = 0; j < runs; ++j) {
        const __m128i four = _mm_set1_epi32(static_cast<int>(colours[j]));
        uint32_t *to = line + starts[j];
        for (size_t k = 0; k < pixels; k += fill_group)
            store(to + k, four);
    }
}

void fill_runs_sse2(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs, size_t whole_runs,
                    size_t count, size_t reach)
{
    if (reach == fill_group)
        fill_whole_runs<1>(line, colours, starts, whole_runs, reach);
    else if (reach == 2 * fill_group)
        fill_whole_runs<2>(line, colours, starts, whole_runs, reach);
    else
        fill_whole_runs<0>(line, colours, starts, whole_runs, reach);
    // The runs whose fill would pass the line's end, exactly.
    fill_runs_scalar(line, colours + whole_runs, starts + whole_runs, runs - whole_runs, 0, count, 0);
}

} // namespace

bool kernels_add_sse2(present_kernels &table)
{
    table.convert_indices = &convert_indices_sse2;
    table.double_indices = &double_indices_sse2;
    table.double_colours = &double_colours_sse2;
    table.fill_runs = &fill_runs_sse2;
    return true;
}

} // namespace pm::soft

#else

bool pm::soft::kernels_add_sse2(present_kernels &)
{
    return false;
}

#endif
