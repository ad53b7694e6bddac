// The run-length decoder's contract: where a PCX decoder takes its bytes from,
// how a scanline is decoded, and every byte the decoder may touch beyond the
// bytes it decodes. The one-token loop (graphics/pcx/decode.cpp), the token
// windows (graphics/pcx/windows.h) and the rows decoded straight into an
// 8-bit buffer (graphics/pcx_place.cpp) all keep to what is stated here.
//
// Spare bytes. A scanline buffer has pcx_scanline_spare bytes after its
// `length`. A run that crosses the end of the scanline stores up to 62 bytes
// there (its excess, carried to the next scanline), and the one-token loop
// stores whole 8-byte words, which reach up to 8 bytes past its last decoded
// byte.
//
// Overshoot. The token windows store 16-byte words: a window's stores reach
// up to pcx_window_overshoot bytes past its last decoded byte. A piece of
// windows ends at most at the end of its scanline, so that reach, too, stays
// inside the spare bytes.
//
// Bytes put back. Past the last decoded byte nothing stays changed when a
// scanline is finished: the word stores there are decoded over again by the
// tokens that follow, and when the input ends first, the decoder puts back
// the 8 bytes it kept from before its stores (pcx_decode_scanline), and a
// piece of windows puts back what it saved (pcx_decode_piece). A row decoded
// straight into the buffer keeps the pcx_direct_reach bytes after the
// picture's width aside and puts them back itself, because they belong to
// the buffer (the next row, or the row's own pad).
#pragma once

#include <cstdint>

#include "graphics/pcx/format.h"

namespace pm {

// Bytes after a scanline that take the end of a run crossing it (at most 62)
// and the 8 bytes beyond that the one-token loop's word stores reach.
constexpr int32_t pcx_scanline_spare = 80;
static_assert(pcx_scanline_spare >= (pcx_max_run - 1) + 8);

// How far past the decoded bytes a token window's stores may reach: a
// stretch of data bytes or a run is stored in whole 16-byte words, and a run
// of none still stores one.
constexpr int32_t pcx_window_overshoot = 16;
static_assert(pcx_window_overshoot <= pcx_scanline_spare);

// Decoding straight into a buffer row: the most pad bytes a scanline may
// have beyond the picture's width, and so how far past the width the decoder
// may write and read there.
constexpr int32_t pcx_direct_pad = 16;
constexpr int32_t pcx_direct_reach = pcx_direct_pad + pcx_scanline_spare;

struct pcx_stream;

// Gives the stream its next block of input (position and left) and returns
// its length; 0 when the input has ended.
using pcx_refill_fn = uint32_t (*)(pcx_stream &stream);

// Where a decoder takes its bytes from, and how far it has come.
struct pcx_stream {
    const uint8_t *picture;  // memory source: the picture's first byte; null for a file
    uint32_t picture_size;   // memory source: the picture's length, header and trailer included
    const uint8_t *position; // next input byte
    uint32_t left;           // input bytes left at position
    int32_t carry;           // decoded bytes that ran past the end of the last scanline
    bool exhausted;          // a refill found no more bytes: the input has ended
    int32_t long_run_rows = 0; // scanlines still to decode without token windows
    pcx_refill_fn refill = nullptr; // where more input comes from; null: a memory picture, decoded in place
    // File source: where the picture lies in the file. A DCX page ends
    // before the file does; file_end -1 means the file's end.
    int64_t file_start = 0;
    int64_t file_end = -1;
    uint64_t file_left = UINT64_MAX; // data bytes of the picture not yet read
};

// The stream over a memory picture of `size` bytes, its data starting after
// the header; the picture is decoded in place and never refills.
pcx_stream pcx_memory_stream(const uint8_t *picture, uint32_t size);

// Gives the stream its next block of input through its refill and returns
// its length. 0 marks the end of the input for good: a memory picture has
// no more than it had.
uint32_t pcx_refill_input(pcx_stream &stream);

// Decodes the next scanline of `length` bytes into `scanline`, which has
// pcx_scanline_spare bytes beyond it. The stream's carried bytes already
// stand at its start; a run that crosses the end leaves its excess at
// scanline[length ..] and in stream.carry, for the caller to move to the
// start after the row is used. When the input ends, the rest of the
// scanline keeps what the buffer held. Returns the bytes of this scanline
// that the input gave: `length` unless the input ended.
int32_t pcx_decode_scanline(pcx_stream &stream, uint8_t *scanline, int32_t length);

} // namespace pm
