// Token windows: the middle of a PCX scanline decoded 64 input bytes at a
// time. Photographs give short tokens whose kind cannot be predicted, so
// instead of taking tokens one after the other, a window finds all of its
// runs at once and stores each stretch of data bytes and each run as 16-byte
// words (wider ones cost more than they save on such short tokens), without
// a branch on the kind of token.
//
// The loader (graphics/pcx.cpp) decodes a scanline a piece at a time with
// pcx_decode_piece, which keeps the bytes that window stores reach past the
// piece as they were. The windows themselves are kernels (graphics/kernels/kernels.h):
// each instruction set's file instantiates pcx_decode_windows below with its
// own vector operations. The loader's one-token loop is their reference.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/decode.h"

namespace pm {

// Bytes a window decodes from, and the width of its loads and stores.
constexpr int32_t pcx_window_bytes = 64;
constexpr int32_t pcx_window_store = 16;
// Input bytes a window needs at hand: its 64 and the reach of the 16-byte
// load that copies its last data bytes, which starts at most at byte 64.
constexpr uint32_t pcx_window_input = 80;
static_assert(pcx_window_input >= pcx_window_bytes + pcx_window_store);
// A window's stores reach pcx_window_overshoot bytes past what it decodes
// (graphics/pcx/decode.h).
static_assert(pcx_window_overshoot >= pcx_window_store);
// The most bytes decoded by windows between two checks of what they store
// over, and the fewest worth starting for: every token fits in 128 bytes,
// so windows started then always take at least one.
constexpr int32_t pcx_window_piece = 1024;
constexpr int32_t pcx_window_least = 128;
static_assert(pcx_window_least >= 2 * pcx_window_bytes);

// One piece of a scanline, at most pcx_window_piece bytes, decoded by
// `windows` from `place` on, with `need` bytes of the scanline still to
// come. `kept` holds the 8 bytes at place.out as they were before the
// scanline's stores (the one-token loop's word stores reach that far); the
// piece keeps the bytes past its last decoded byte as they were, and
// returns where it stopped with the 8 bytes there in `kept`.
struct pcx_piece {
    pcx_window_place place;
    uint64_t kept;
};
pcx_piece pcx_decode_piece(pcx_windows_decoder windows, pcx_window_place place, int32_t need, uint64_t kept);

// ---- The windows, for the kernel files ------------------------------------------

// Each kernel file has its own copy of what follows, built with its flags.
namespace {

// The run counts among a window's bytes, given that byte 0 starts a token and
// `high` has bit i set where byte i has both top bits set (a run's count
// where a token starts). Every byte below 0xC0 ends a token (a data byte, or
// a run's value), so the byte after it starts one; a stretch of bytes of
// 0xC0 and over therefore begins with a count and goes on value, count,
// value ... . Adding the stretch's first bit to each stretch that begins at
// an even position carries through it and clears it, which leaves the
// stretches that begin at an odd position; counts stand at even positions in
// the first kind and at odd positions in the second.
inline uint64_t pcx_window_counts(uint64_t high)
{
    constexpr uint64_t even = 0x5555555555555555u;
    const uint64_t firsts = high & ~(high << 1);
    const uint64_t odd_begun = (high + (firsts & even)) & high;
    return high & (odd_begun ^ even);
}

// Vectors supplies the set's operations, on 16-byte vectors:
//   static uint64_t high_bytes(const uint8_t *in)     bit i: byte i of the 64 at in is 0xC0 or over
//   static void copy(uint8_t *out, const uint8_t *in) 16 bytes
//   static vector splat(uint8_t value)                16 bytes of one value
//   static void store(uint8_t *out, vector v)

// Copies `count` data bytes as 16-byte words (at least one).
template <typename Vectors>
[[gnu::always_inline]] inline void pcx_window_copy(uint8_t *out, const uint8_t *in, std::ptrdiff_t count)
{
    Vectors::copy(out, in);
    for (std::ptrdiff_t i = pcx_window_store; i < count; i += pcx_window_store) [[unlikely]]
        Vectors::copy(out + i, in + i);
}

// Decodes the window of 64 input bytes at `in`, whose first byte starts a
// token, to `out`, token by token while each ends less than `room` bytes
// from `out`. Sets the input bytes taken and the bytes decoded, and tells
// whether the window was decoded whole; it stops at the first token that
// does not fit. Stores reach up to pcx_window_overshoot bytes past the last
// decoded byte, and so never room + pcx_window_overshoot bytes from `out`.
template <typename Vectors>
[[gnu::always_inline]] inline bool pcx_decode_window(const uint8_t *in, uint8_t *out, std::ptrdiff_t room,
                                                     std::ptrdiff_t &taken, std::ptrdiff_t &decoded)
{
    const uint64_t counts = pcx_window_counts(Vectors::high_bytes(in));
    // A count in the last byte has its value in the next window, which
    // begins with that run.
    const std::ptrdiff_t window = pcx_window_bytes - static_cast<std::ptrdiff_t>(counts >> 63);
    uint64_t runs = counts & ~(uint64_t{1} << 63);
    // A data byte at window position p goes to out + shift + p; each run
    // moves shift by its count less its two bytes.
    std::ptrdiff_t shift = 0;
    std::ptrdiff_t from = 0; // window position of the next token
    bool whole = true;
    while (runs != 0) {
        const auto at = static_cast<std::ptrdiff_t>(__builtin_ctzll(runs));
        runs &= runs - 1;
        const std::ptrdiff_t count = in[at] & 0x3F;
        if (shift + at + count >= room) [[unlikely]] {
            whole = false;
            break;
        }
        // The data bytes before the run (at most 62), then the run.
        pcx_window_copy<Vectors>(out + (shift + from), in + from, at - from);
        const auto value = Vectors::splat(in[at + 1]);
        uint8_t *const run = out + (shift + at);
        Vectors::store(run, value);
        for (std::ptrdiff_t i = pcx_window_store; i < count; i += pcx_window_store) [[unlikely]]
            Vectors::store(run + i, value);
        shift += count - 2;
        from = at + 2;
    }
    // The data bytes after the last run.
    if (whole && shift + window < room) {
        pcx_window_copy<Vectors>(out + (shift + from), in + from, window - from);
        from = window;
    } else {
        whole = false;
    }
    taken = from;
    decoded = shift + from;
    return whole;
}

// The kernel: windows one after the other while a window's input is at hand
// and each token ends before `end`; stores never reach end +
// pcx_window_overshoot.
template <typename Vectors>
[[gnu::always_inline]] inline pcx_window_place pcx_decode_windows(pcx_window_place place, const uint8_t *end)
{
    while (place.left >= pcx_window_input) {
        std::ptrdiff_t taken = 0;
        std::ptrdiff_t decoded = 0;
        const bool whole = pcx_decode_window<Vectors>(place.in, place.out, end - place.out, taken, decoded);
        place.in += taken;
        place.left -= static_cast<uint32_t>(taken);
        place.out += decoded;
        if (!whole)
            break;
    }
    return place;
}

} // namespace
} // namespace pm
