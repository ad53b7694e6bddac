// Reading pictures from memory for the tools: PNG (through libpng) and the
// netpbm formats (P1 to P7), keeping a PNG's palette and indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// What a file's first bytes say it holds.
enum class image_kind {
    png,     // the 8-byte PNG signature
    netpbm,  // "P" and a digit (P1 to P7 are read)
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
    // True colour: one 0x00RRGGBB value per pixel, or for a grey picture
    // (which counts as true colour) one level 0..255 per pixel in `levels`.
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> levels;

    bool paletted() const { return !palette.empty(); }
    // The colour of pixel i, whichever form the picture has.
    uint32_t colour(size_t i) const
    {
        if (paletted())
            return indices[i] < palette.size() ? palette[indices[i]] : 0;
        return levels.empty() ? pixels[i] : levels[i] * 0x010101u;
    }
};

// Pictures of more pixels than this are refused, so that a damaged header
// cannot make a reader allocate without bound.
constexpr int64_t max_decoded_pixels = int64_t{1} << 28;

// A PNG: a palette picture keeps its palette and indices (of 1, 2, 4 or 8
// bits); a grey one becomes grey levels and every other one true colour,
// 16-bit samples scaled to 8 bits. Alpha and tRNS transparency are dropped,
// keeping the stored colours. Rows are decoded straight into the picture,
// which grows as they arrive (an interlaced picture is made whole at once);
// a header that claims more pixels than the data after it can inflate to is
// refused before anything is allocated. False, saying why in *error, when
// the bytes are no PNG libpng can read.
bool decode_png(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error);

// A netpbm picture, as true colour, read as netpbm's own readers read it:
// PBM (P1 plain, P4 binary; 1 is black), PGM (P2, P5), PPM (P3, P6), or PAM
// (P7) with TUPLTYPE RGB, RGB_ALPHA, GRAYSCALE, GRAYSCALE_ALPHA, BLACKANDWHITE
// or BLACKANDWHITE_ALPHA (or none, the depth then telling grey from RGB and
// alpha). White space must follow the magic number; '#' comments may stand
// between header fields, before the white-space byte that ends a binary
// form's header, and in the plain forms' rasters. Numbers may have any count
// of digits up to a value of 2147483647, as netpbm's own. Samples of any
// maxval up to 65535 are scaled to 0..255 with rounding, and a sample over
// maxval is refused; alpha is dropped. Every refusal names the netpbm format.
bool decode_netpbm(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error);

} // namespace tools
