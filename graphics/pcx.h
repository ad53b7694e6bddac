// PCX loader internals, shared with the tests: the header layout, the input
// stream with its run-length decoder, and the palette step.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include <pixmora/pixmora.h>

namespace pm {

constexpr int32_t pcx_header_size = 128;
constexpr int32_t pcx_trailer_size = 769; // the marker byte and 256 RGB triples
constexpr uint8_t pcx_manufacturer = 0x0A;
constexpr uint8_t pcx_trailer_marker = 0x0C;
// Bytes after a scanline that take the end of a run crossing it (at most 62)
// and the 8 bytes beyond that the decoder reads to keep track of what its
// word stores cover.
constexpr int32_t pcx_scanline_spare = 80;

// The 128 header bytes as they lie in the file. Multi-byte fields are
// little-endian; read them through pcx_le16.
#pragma pack(push, 1)
struct pcx_header_layout {
    uint8_t manufacturer;   // 0x0A
    uint8_t version;        // 5 means a trailer palette may follow the data
    uint8_t encoding;       // not read: the data is always run-length decoded
    uint8_t bits_per_pixel; // per plane
    uint16_t x_min;         // the picture's window, inclusive
    uint16_t y_min;
    uint16_t x_max;
    uint16_t y_max;
    uint16_t h_dpi;
    uint16_t v_dpi;
    uint8_t colormap[48];    // the header palette: 16 RGB triples
    uint8_t reserved;
    uint8_t planes;          // NPlanes
    uint16_t bytes_per_line; // bytes of one plane of one scanline
    uint16_t palette_info;
    uint16_t h_screen_size;
    uint16_t v_screen_size;
    uint8_t filler[54];
};
#pragma pack(pop)
static_assert(sizeof(pcx_header_layout) == pcx_header_size);
static_assert(offsetof(pcx_header_layout, colormap) == 16);
static_assert(offsetof(pcx_header_layout, planes) == 65);
static_assert(offsetof(pcx_header_layout, bytes_per_line) == 66);

constexpr uint16_t pcx_le16(uint16_t stored)
{
    if constexpr (std::endian::native == std::endian::big)
        return static_cast<uint16_t>((stored >> 8) | (stored << 8));
    return stored;
}

// The source formats that have row converters, in the order they are tested.
enum class pcx_format {
    planar16, // NPlanes 4: four planes of one bit per pixel
    planar24, // NPlanes 3: red, green and blue planes of one byte per pixel
    indexed8, // BitsPerPixel 8: one byte per pixel in plane 0
    mono,     // BitsPerPixel 1: one bit per pixel in plane 0
    none      // anything else
};

// What the loader takes from a header.
struct pcx_picture {
    int32_t version;
    int32_t bits_per_pixel;
    int32_t planes;
    int32_t bytes_per_line;
    int32_t x_min;
    int32_t y_min;
    int32_t width;  // Xmax - Xmin + 1; 0 or less for a bad window
    int32_t height; // Ymax - Ymin + 1
    pcx_format format;
};

pcx_picture pcx_parse_header(const uint8_t header[pcx_header_size]);
// False when the picture cannot be decoded safely: an empty window, no
// planes, BytesPerLine 0 or too small to hold a row of the window's width.
bool pcx_readable(const pcx_picture &picture);

// Where a load takes its bytes from, and how far the decoder has come.
struct pcx_stream {
    const uint8_t *picture;  // memory source: the picture's first byte; null for a file
    uint32_t picture_size;   // memory source: the picture's length, header and trailer included
    const uint8_t *position; // next input byte
    uint32_t left;           // input bytes left at position
    int32_t carry;           // decoded bytes that ran past the end of the last scanline
    bool exhausted;          // a refill found no more bytes: the input has ended
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
// (reduced first at depth 8 unless pcx_no_reduction), else the 16 header
// colours. Nothing for pcx_keep_palette or a 24-bit planar picture.
void pcx_apply_palette(const pcx_stream &stream, const pcx_picture &picture, int32_t flags);

} // namespace pm
