// PCX loader internals, shared with the tests: the input stream with its
// run-length decoder and the palette step. The format itself is in
// pcx_format.h; the decoder's token windows are in pcx_windows.h.
#pragma once

#include <cstdint>

#include "graphics/pcx_format.h"
#include <pixmora/pixmora.h>

namespace pm {

// Bytes after a scanline that take the end of a run crossing it (at most 62)
// and the 8 bytes beyond that the decoder reads to keep track of what its
// word stores cover.
constexpr int32_t pcx_scanline_spare = 80;
static_assert(pcx_scanline_spare >= (pcx_max_run - 1) + 8);

// Where a load takes its bytes from, and how far the decoder has come.
struct pcx_stream {
    const uint8_t *picture;  // memory source: the picture's first byte; null for a file
    uint32_t picture_size;   // memory source: the picture's length, header and trailer included
    const uint8_t *position; // next input byte
    uint32_t left;           // input bytes left at position
    int32_t carry;           // decoded bytes that ran past the end of the last scanline
    bool exhausted;          // a refill found no more bytes: the input has ended
    int32_t long_run_rows = 0; // scanlines still to decode without token windows
    // File source: where the picture lies in the file. A DCX page ends
    // before the file does; file_end -1 means the file's end.
    int64_t file_start = 0;
    int64_t file_end = -1;
    uint64_t file_left = UINT64_MAX; // data bytes of the picture not yet read
};

// Gives the stream its next block of input and returns its length. A file
// (pm_state.file_handle) is read into read_buffer, at most
// min(input_block_size, 4096) bytes at a time; a memory picture is decoded in
// place and never refills. 0 marks the end of the input for good.
uint32_t pcx_refill_input(pcx_stream &stream);

// Decodes the next scanline of `length` bytes into `scanline`, which has
// pcx_scanline_spare bytes beyond it. The stream's carried bytes already
// stand at its start; a run that crosses the end leaves its excess at
// scanline[length ..] and in stream.carry, for the caller to move to the
// start after the row is used. When the input ends, the rest of the
// scanline keeps what the buffer held. Returns the bytes of this scanline
// that the input gave: `length` unless the input ended.
int32_t pcx_decode_scanline(pcx_stream &stream, uint8_t *scanline, int32_t length);

// Sets the palette entries that a picture's colours belong to: at depth 8
// clear of the static colours (256 colours: entries 10..245 from triples
// 10..245; 16 colours: entries 10..25), at deeper depths from entry 0.
void pcx_set_palette_run(const uint8_t *rgb, int32_t colours);

// The palette step of a load: the trailer palette of a version-5 picture
// (reduced first at depth 8 unless pcx_no_reduction), with pcx_all_layouts
// the grey ramp for a greyscale picture without one (taken like a trailer),
// else the 16 header colours. The packed and 2- and 3-plane layouts take
// the header colours only. Nothing for pcx_keep_palette or a picture of
// 8-bit colour planes.
void pcx_apply_palette(const pcx_stream &stream, const pcx_picture &picture, int32_t flags);

} // namespace pm
