// The software display's WebAssembly SIMD kernels (see soft_kernels.h): 8-bit
// pixels through the colour table into surface rows, doubling and runs, four
// pixels to a store. They exist where the build targets WebAssembly SIMD
// (-msimd128); elsewhere this file is empty.
#include "platform/soft/soft_kernels.h"

#ifdef __wasm_simd128__
#include <cstring>

#include <wasm_simd128.h>

namespace pm::soft {
namespace {

static_assert(sizeof(v128_t) == fill_group * sizeof(uint32_t));

int32_t lane(uint32_t colour)
{
    return static_cast<int32_t>(colour);
}

// Four colours put together in a vector and stored at once.
void convert_indices_simd128(uint32_t *out, const uint8_t *in, size_t count, const uint32_t *colours)
{
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        wasm_v128_store(out + i, wasm_i32x4_make(lane(colours[in[i]]), lane(colours[in[i + 1]]),
                                                 lane(colours[in[i + 2]]), lane(colours[in[i + 3]])));
    convert_indices_scalar(out + i, in + i, count - i, colours);
}

// Four pixels, two copies of each of two colours, from the table of pairs.
v128_t two_pairs(const uint64_t *pairs, uint8_t first, uint8_t second)
{
    return wasm_i64x2_make(static_cast<int64_t>(pairs[first]), static_cast<int64_t>(pairs[second]));
}

// Eight indices read at once; each four columns stored into every row.
void double_indices_simd128(row_block block, const uint8_t *in, size_t pixels, const uint64_t *pairs, size_t)
{
    const row_block out = block; // a copy the stores cannot alias
    size_t j = 0;
    for (; j + 8 <= pixels; j += 8) {
        uint64_t eight;
        std::memcpy(&eight, in + j, sizeof eight);
        for (size_t k = 2 * j; k < 2 * j + 16; k += 4, eight >>= 16) {
            const v128_t four = two_pairs(pairs, static_cast<uint8_t>(eight), static_cast<uint8_t>(eight >> 8));
            uint32_t *to = out.first + k;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                wasm_v128_store(to, four);
        }
    }
    for (; j < pixels; j += 2) {
        // Two pixels, or the last one alone.
        const bool two = j + 1 < pixels;
        const v128_t four = two_pairs(pairs, in[j], two ? in[j + 1] : 0);
        uint32_t *to = out.first + 2 * j;
        for (size_t r = 0; r < out.count; ++r, to += out.stride) {
            if (two)
                wasm_v128_store(to, four);
            else
                wasm_v128_store64_lane(to, four, 0);
        }
    }
}

void double_colours_simd128(uint32_t *line, const uint32_t *colours, size_t pixels)
{
    size_t j = 0;
    for (; j + 4 <= pixels; j += 4, line += 8) {
        const v128_t four = wasm_v128_load(colours + j);
        wasm_v128_store(line, wasm_i32x4_shuffle(four, four, 0, 0, 1, 1));
        wasm_v128_store(line + 4, wasm_i32x4_shuffle(four, four, 2, 2, 3, 3));
    }
    double_colours_scalar(line, colours + j, pixels - j);
}

// The whole runs, `reach` pixels each, four to a store; what a fill writes
// past its run, the next run takes.
void fill_runs_simd128(uint32_t *line, const uint32_t *colours, const uint32_t *starts, size_t runs,
                       size_t whole_runs, size_t count, size_t reach)
{
    for (size_t j = 0; j < whole_runs; ++j) {
        const v128_t four = wasm_i32x4_splat(lane(colours[j]));
        uint32_t *to = line + starts[j];
        wasm_v128_store(to, four);
        for (size_t k = fill_group; k < reach; k += fill_group)
            wasm_v128_store(to + k, four);
    }
    fill_runs_scalar(line, colours + whole_runs, starts + whole_runs, runs - whole_runs, 0, count, 0);
}

} // namespace

bool kernels_add_simd128(present_kernels &table)
{
    table.convert_indices = &convert_indices_simd128;
    table.double_indices = &double_indices_simd128;
    table.double_colours = &double_colours_simd128;
    table.fill_runs = &fill_runs_simd128;
    return true;
}

} // namespace pm::soft

#else

bool pm::soft::kernels_add_simd128(present_kernels &)
{
    return false;
}

#endif
