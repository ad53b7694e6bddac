// The instruction sets that the kernel tables choose from, what the
// processor offers of them, and which ones PIXMORA_DISABLE takes away.
//
// This is the one place that asks the processor, once. It sits below both
// the library (graphics/) and the platform layer, which each keep a kernel
// table of their own and fill it from allowed() on first use; tests re-fill
// those tables with a set of their choosing.
#pragma once

#include <cstdint>

namespace pm::cpu {

// Instruction sets, as bits of a mask. Each kernel is written for exactly
// one of them; a table takes a set's kernels only when its bit is allowed.
using sets = uint32_t;
constexpr sets sse2 = 1u << 0;    // x86
constexpr sets ssse3 = 1u << 1;   // x86: byte shuffles
constexpr sets avx2 = 1u << 2;    // x86: AVX2 with BMI1, which its kernels also use
constexpr sets simd128 = 1u << 3; // WebAssembly SIMD
constexpr sets every = sse2 | ssse3 | avx2 | simd128;

// The sets this processor has, asked once. On x86 the answer comes from
// the processor; WebAssembly SIMD is there when the program was compiled
// for it (a module that uses it does not load without it).
sets detected();

// The sets named in a list such as PIXMORA_DISABLE takes: names separated
// by commas or spaces, in any case; "all" names every set. Unknown names are
// ignored. A null text names none.
sets parse_list(const char *text);

// What the kernel tables are filled from: detected() without the sets that
// the environment variable PIXMORA_DISABLE names, read once.
sets allowed();

// The name of one set ("sse2", ...), "scalar" for none, "?" for a mask of
// several.
const char *name(sets one);

} // namespace pm::cpu
