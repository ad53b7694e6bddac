// Reading pictures from memory for the tools: PNG (through libpng) and the
// binary netpbm formats (P5, P6 and P7), keeping a PNG's palette and indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// What a file's first bytes say it holds.
enum class image_kind {
    png,     // the 8-byte PNG signature
    netpbm,  // "P5", "P6" or "P7"
    pcx,     // the byte 0x0A, or a DCX file of PCX pages
    unknown
};
image_kind recognise_image(const uint8_t *bytes, size_t size);

// A picture as read: either palette indices with their colours, or true
// colours. Pixels run top row first.
struct decoded_image {
    int32_t width = 0;
    int32_t height = 0;
    // 0x00RRGGBB, 1..256 entries for a paletted picture; empty otherwise.
    std::vector<uint32_t> palette;
    // Paletted: one index per pixel. An index past the palette's end (which
    // a damaged file may hold) stands for black.
    std::vector<uint8_t> indices;
    // True colour: one 0x00RRGGBB value per pixel.
    std::vector<uint32_t> pixels;

    bool paletted() const { return !palette.empty(); }
    // The colour of pixel i, whichever form the picture has.
    uint32_t colour(size_t i) const
    {
        if (!paletted())
            return pixels[i];
        return indices[i] < palette.size() ? palette[indices[i]] : 0;
    }
};

// Pictures of more pixels than this are refused, so that a damaged header
// cannot make a reader allocate without bound.
constexpr int64_t max_decoded_pixels = int64_t{1} << 28;

// A PNG: a palette picture keeps its palette and indices (of 1, 2, 4 or 8
// bits); every other one becomes true colour, 16-bit samples scaled to 8 bits
// and grey repeated into red, green and blue. Alpha and tRNS transparency are
// dropped, keeping the stored colours. False, saying why in *error, when the
// bytes are no PNG libpng can read.
bool decode_png(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error);

// A binary netpbm picture, as true colour: P6 (RGB), P5 (grey) or P7 with
// TUPLTYPE RGB, RGB_ALPHA, GRAYSCALE, GRAYSCALE_ALPHA, BLACKANDWHITE or
// BLACKANDWHITE_ALPHA (or none, the depth then telling grey from RGB and
// alpha). Samples of any maxval up to 65535 are scaled to 0..255 with
// rounding; alpha is dropped.
bool decode_netpbm(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error);

} // namespace tools
