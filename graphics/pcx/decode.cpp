// The run-length decoder: PCX scanlines from a file or a memory picture,
// one token at a time, with token windows (a kernel) for the middle of long
// scanlines. What it may touch beyond the decoded bytes is stated in
// graphics/pcx/decode.h.
#include "graphics/pcx/decode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "graphics/kernels/kernels.h"
#include "graphics/pcx/windows.h"

namespace pm {
namespace {

// Tokens are stored as whole 8-byte words where the data allows: the bytes a
// word writes past a token are decoded again by the tokens that follow.
constexpr bool pcx_words_little_endian = std::endian::native == std::endian::little;

// Photographs decode to many stretches of one or two bytes, for which a
// library call costs more than the bytes.
inline void pcx_copy_bytes(uint8_t *out, const uint8_t *in, uint32_t count)
{
    if (count > 8) {
        std::memcpy(out, in, count);
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        out[i] = in[i];
}

// Stores exactly `count` bytes of one value: runs longer than a word as
// words, the last one ending with the run, so that nothing past it is touched.
inline void pcx_fill_bytes(uint8_t *out, uint8_t value, uint32_t count)
{
    if (count <= 8) {
        for (uint32_t i = 0; i < count; ++i)
            out[i] = value;
        return;
    }
    const uint64_t word = 0x0101010101010101u * value;
    for (uint32_t i = 0; i + 8 < count; i += 8)
        std::memcpy(out + i, &word, 8);
    std::memcpy(out + count - 8, &word, 8);
}

// Scanlines decoded one token at a time after a piece of long runs: pictures
// with areas of one colour have them row after row.
constexpr int32_t pcx_long_run_rows = 16;

} // namespace

pcx_stream pcx_memory_stream(const uint8_t *picture, uint32_t size)
{
    pcx_stream stream{};
    stream.picture = picture;
    stream.picture_size = size;
    stream.position = picture + pcx_header_size;
    stream.left = size - pcx_header_size;
    return stream;
}

uint32_t pcx_refill_input(pcx_stream &stream)
{
    if (stream.refill == nullptr || stream.exhausted) {
        stream.exhausted = true;
        return 0;
    }
    const uint32_t got = stream.refill(stream);
    stream.exhausted = got == 0;
    return got;
}

int32_t pcx_decode_scanline(pcx_stream &stream, uint8_t *scanline, int32_t length)
{
    int32_t need = length - stream.carry;
    if (need <= 0) {
        stream.carry = -need; // the carried bytes fill this scanline too
        return length;
    }
    uint8_t *out = scanline + stream.carry;
    // Most tokens decode to a few bytes and are stored as one 8-byte word,
    // which may reach up to 8 bytes past them. The tokens that follow decode
    // those bytes again, unless the input ends first. So `kept` holds the
    // bytes [out, out + 8) as they were before this scanline's stores, to be
    // put back if the input ends. No store ever reaches out + 8, so the bytes
    // from there on are still as they were and refresh `kept` as out moves.
    uint64_t kept = 0;
    if (pcx_words_little_endian)
        std::memcpy(&kept, out, 8);
    auto advance = [&](uint32_t count) {
        if (pcx_words_little_endian && count != 0) {
            if (count >= 8) {
                std::memcpy(&kept, out + count, 8);
            } else {
                uint64_t next;
                std::memcpy(&next, out + 8, 8);
                kept = kept >> (8 * count) | next << (64 - 8 * count);
            }
        }
        out += count;
        need -= static_cast<int32_t>(count);
    };
    // The input position lives in locals while decoding: stores into the
    // scanline could otherwise alias the stream and force reloads per byte.
    const uint8_t *in = stream.position;
    uint32_t left = stream.left;
    auto refill = [&] {
        stream.position = in;
        stream.left = 0;
        left = pcx_refill_input(stream);
        in = stream.position;
        return left != 0;
    };
    // A run: a count of 0 stores nothing; a run may pass the end of the
    // scanline by up to 62 bytes, which the spare bytes take.
    auto store_run = [&](uint32_t count, uint8_t value) {
        if (pcx_words_little_endian && count <= 8) {
            const uint64_t word = 0x0101010101010101u * value;
            std::memcpy(out, &word, 8);
        } else {
            pcx_fill_bytes(out, value, count);
        }
        advance(count);
    };
    // Token windows (a kernel, where the table has one) decode the middle of
    // the scanline, a piece at a time. Long runs decode as fast one at a time
    // and save nothing, so once a piece decodes to many times its input the
    // rest of the scanline, and the next pcx_long_run_rows scanlines, are left
    // to the loop below, which is also what the windows must agree with.
    pcx_windows_decoder windows = nullptr;
    if (stream.long_run_rows > 0)
        --stream.long_run_rows;
    else if (pcx_words_little_endian)
        windows = kernels().pcx_windows;
    bool ended = false;
    while (need > 0) {
        if (windows != nullptr && left >= pcx_window_input && need >= pcx_window_least) {
            const pcx_piece piece = pcx_decode_piece(windows, {in, left, out}, need, kept);
            const std::ptrdiff_t taken = piece.place.in - in;
            const std::ptrdiff_t decoded = piece.place.out - out;
            if (decoded > 4 * taken) {
                windows = nullptr;
                stream.long_run_rows = pcx_long_run_rows;
            }
            in = piece.place.in;
            left = piece.place.left;
            out = piece.place.out;
            kept = piece.kept;
            need -= static_cast<int32_t>(decoded);
            if (taken != 0)
                continue;
        }
        // Take the next token: a data byte below 0xC0, or a run (count in
        // the low six bits, then the value).
        if (left == 0 && !refill()) {
            ended = true;
            break;
        }
        const uint8_t token = *in;
        if (token < 0xC0) {
            // A stretch of data bytes. With 8 input bytes at hand, one word
            // holds the stretch up to its first run byte (both top bits set).
            if (pcx_words_little_endian && left >= 8) {
                uint64_t word;
                std::memcpy(&word, in, 8);
                const uint64_t run_bytes = word & (word << 1) & 0x8080808080808080u;
                uint32_t literal = run_bytes != 0 ? static_cast<uint32_t>(std::countr_zero(run_bytes)) >> 3 : 8;
                literal = std::min(literal, static_cast<uint32_t>(need));
                std::memcpy(out, &word, 8);
                advance(literal);
                in += literal;
                left -= literal;
                // A stretch shorter than a word that leaves the scanline
                // unfinished stops at a run byte: take that run now, while
                // its kind is known, rather than branch on it again.
                if (literal < 8 && need > 0 && left >= 2) {
                    store_run(in[0] & 0x3Fu, in[1]);
                    in += 2;
                    left -= 2;
                }
                continue;
            }
            const uint32_t limit = std::min(left, static_cast<uint32_t>(need));
            uint32_t literal = 1;
            while (literal < limit && in[literal] < 0xC0)
                ++literal;
            pcx_copy_bytes(out, in, literal);
            advance(literal);
            in += literal;
            left -= literal;
            continue;
        }
        const auto count = static_cast<uint32_t>(token & 0x3F);
        ++in;
        --left;
        if (left == 0 && !refill()) {
            ended = true;
            break;
        }
        const uint8_t value = *in++;
        --left;
        store_run(count, value);
    }
    const int32_t decoded = static_cast<int32_t>(out - scanline);
    if (ended && pcx_words_little_endian) {
        // Put back what words wrote past the last decoded byte.
        const auto reach = std::min<std::ptrdiff_t>(8, length - decoded);
        std::memcpy(out, &kept, static_cast<size_t>(reach));
    }
    stream.position = in;
    stream.left = left;
    // When the input ended early the rest of the scanline keeps what the
    // buffer held, and nothing is carried.
    stream.carry = need < 0 ? -need : 0;
    return std::min(decoded, length);
}

} // namespace pm
