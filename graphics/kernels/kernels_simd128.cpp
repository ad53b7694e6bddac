// The library's WebAssembly SIMD kernels (see kernels.h): PCX token windows,
// 256 colours and three planes into 32-bit rows, and the scaling's shuffled
// blocks. They
// exist where the build targets WebAssembly SIMD (-msimd128); elsewhere
// this file is empty.
#include "graphics/kernels/kernels.h"

#ifdef __wasm_simd128__
#include <cstring>

#include <wasm_simd128.h>

#include "graphics/pcx/windows.h"
#include "graphics/scaling_shuffle.h"

namespace pm {
namespace {

// ---- PCX token windows ------------------------------------------------------

struct simd128_vectors {
    static uint64_t high_bytes(const uint8_t *in)
    {
        uint64_t high = 0;
        for (int32_t i = 0; i < 4; ++i) {
            const v128_t bytes = wasm_v128_load(in + 16 * i);
            const uint32_t bits = wasm_i8x16_bitmask(wasm_v128_and(bytes, wasm_i8x16_add(bytes, bytes)));
            high |= static_cast<uint64_t>(bits) << (16 * i);
        }
        return high;
    }
    static void copy(uint8_t *out, const uint8_t *in) { wasm_v128_store(out, wasm_v128_load(in)); }
    using vector = v128_t;
    static vector splat(uint8_t value) { return wasm_i8x16_splat(static_cast<int8_t>(value)); }
    static void store(uint8_t *out, vector v) { wasm_v128_store(out, v); }
};
static_assert(sizeof(v128_t) == pcx_window_store);

pcx_window_place pcx_windows_simd128(pcx_window_place place, const uint8_t *end)
{
    return pcx_decode_windows<simd128_vectors>(place, end);
}

// ---- PCX row converters -----------------------------------------------------

int32_t lane(uint32_t pixel)
{
    return static_cast<int32_t>(pixel);
}

// 256 colours, eight pixels at a time: pictures with areas of one colour
// give groups of eight equal indices, which take one table read.
void indexed8_to_32_simd128(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                            int32_t bytes_per_line, const uint32_t *pixels)
{
    const uint8_t *index = scanline + first;
    int32_t k = 0;
    for (; k + 8 <= count; k += 8, row += 32) {
        uint64_t group;
        std::memcpy(&group, index + k, 8);
        v128_t low, high;
        if (group == 0x0101010101010101u * (group & 0xFF)) {
            low = high = wasm_i32x4_splat(lane(pixels[group & 0xFF]));
        } else {
            const uint8_t *at = index + k;
            low = wasm_i32x4_make(lane(pixels[at[0]]), lane(pixels[at[1]]), lane(pixels[at[2]]), lane(pixels[at[3]]));
            high = wasm_i32x4_make(lane(pixels[at[4]]), lane(pixels[at[5]]), lane(pixels[at[6]]), lane(pixels[at[7]]));
        }
        wasm_v128_store(row, low);
        wasm_v128_store(row + 16, high);
    }
    pcx_indexed8_to_32_scalar(scanline, row, first + k, count - k, bytes_per_line, pixels);
}

// Three planes, sixteen pixels at a time: blue and green interleaved, red and
// zero interleaved, then those byte pairs interleaved into B, G, R, 0.
void planar24_to_32_simd128(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                            int32_t bytes_per_line, const uint32_t *pixels)
{
    const uint8_t *red = scanline + first;
    const uint8_t *green = red + bytes_per_line;
    const uint8_t *blue = green + bytes_per_line;
    const v128_t zero = wasm_i8x16_splat(0);
    int32_t k = 0;
    for (; k + 16 <= count; k += 16, row += 64) {
        const v128_t r = wasm_v128_load(red + k);
        const v128_t g = wasm_v128_load(green + k);
        const v128_t b = wasm_v128_load(blue + k);
        const v128_t bg_low = wasm_i8x16_shuffle(b, g, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const v128_t bg_high = wasm_i8x16_shuffle(b, g, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const v128_t r0_low = wasm_i8x16_shuffle(r, zero, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const v128_t r0_high =
            wasm_i8x16_shuffle(r, zero, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        wasm_v128_store(row, wasm_i16x8_shuffle(bg_low, r0_low, 0, 8, 1, 9, 2, 10, 3, 11));
        wasm_v128_store(row + 16, wasm_i16x8_shuffle(bg_low, r0_low, 4, 12, 5, 13, 6, 14, 7, 15));
        wasm_v128_store(row + 32, wasm_i16x8_shuffle(bg_high, r0_high, 0, 8, 1, 9, 2, 10, 3, 11));
        wasm_v128_store(row + 48, wasm_i16x8_shuffle(bg_high, r0_high, 4, 12, 5, 13, 6, 14, 7, 15));
    }
    pcx_planar24_to_32_scalar(scanline, row, first + k, count - k, bytes_per_line, pixels);
}

// ---- Scaling's shuffled blocks ----------------------------------------------

// A swizzle gives 0 for every index of 16 and over, the plan's 0x80 among
// them.
struct simd128_shuffles {
    using vector = v128_t;
    static vector load_plan(const uint8_t *at) { return wasm_v128_load(at); }
    static vector load(const uint8_t *at) { return wasm_v128_load(at); }
    static vector shuffle(vector bytes, vector picks) { return wasm_i8x16_swizzle(bytes, picks); }
    static vector combine(vector a, vector b) { return wasm_v128_or(a, b); }
    static void store(uint8_t *out, vector v) { wasm_v128_store(out, v); }
    static void store_low(uint8_t *out, vector v) { wasm_v128_store64_lane(out, v, 0); }
};

} // namespace

bool kernels_add_simd128(graphics_kernels &table)
{
    table.pcx_windows = &pcx_windows_simd128;
    table.pcx_indexed8_to_32 = &indexed8_to_32_simd128;
    table.pcx_planar24_to_32 = &planar24_to_32_simd128;
    table.shuffle_blocks = &shuffle_planned_blocks<simd128_shuffles>;
    return true;
}

} // namespace pm

#else

bool pm::kernels_add_simd128(graphics_kernels &)
{
    return false;
}

#endif
