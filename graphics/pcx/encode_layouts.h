// Saving in a chosen layout: what each layout writes, the pixels a save
// reads, the distinct colours of a picture as the slots of its palette, and
// a scanline packed from palette slots. None of it reads the library's
// state: a buffer's save and the codec's encode describe their pixels here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pm {

// What a save writes: bits per pixel in each plane, the planes, and where
// the pixels come from.
struct pcx_layout_shape {
    int32_t bits_per_pixel;
    int32_t planes;
    int32_t capacity; // colours the palette holds; 0: RGB planes, or indexed pixels kept as they are
    bool trailer;     // a palette of 256 colours follows the data
};

// The layout values of a save or an encoding, those of the public
// pcx_layout_... (graphics/pcx_codec.cpp holds them equal).
struct pcx_layout {
    static constexpr int32_t automatic = 0; // by the pixels: indexed ones as vga256, colours as rgb24
    static constexpr int32_t mono = 1;
    static constexpr int32_t cga4 = 2;
    static constexpr int32_t packed16 = 3;
    static constexpr int32_t vga256 = 4;
    static constexpr int32_t planes4 = 5;
    static constexpr int32_t planes8 = 6;
    static constexpr int32_t ega16 = 7;
    static constexpr int32_t rgb24 = 8;
};

// The shape of a layout value (pcx_layout::...) for indexed pixels
// (`indexed`: an 8-bit buffer or an INDEX8 picture) or colours; false for a
// value no layout has.
bool pcx_layout_shape_of(int32_t layout, bool indexed, pcx_layout_shape &shape);

// How the pixels of a picture to be saved lie in memory.
enum class pcx_pixel_kind {
    index8, // one palette index per pixel, the colours in `palette`
    rgb565, // 16 bits, little-endian 5-6-5 (a 16-bit buffer)
    bgr24,  // blue, green, red (a 24-bit buffer)
    bgrx32, // blue, green, red, fill (a 32-bit buffer)
    rgb24,  // red, green, blue
    rgba32  // red, green, blue, alpha (ignored)
};

// The rows of a picture to be saved, top row first.
struct pcx_pixel_rows {
    pcx_pixel_kind kind;
    const uint8_t *first;  // the top row's first pixel
    std::ptrdiff_t stride; // bytes from one row to the next one down; negative for a bottom-up buffer
    int32_t width;
    int32_t height;
    const uint8_t *palette; // index8: 256 RGB triples

    const uint8_t *row(int32_t y) const { return first + static_cast<std::ptrdiff_t>(y) * stride; }
};

// The distinct colours of a picture, each given a slot of the picture's
// palette in the order first met (indexed pixels: in the order of their
// indices).
class pcx_colour_table {
public:
    // Collects the picture's colours; false as soon as there are more than
    // `capacity` (at most 256).
    bool collect(const pcx_pixel_rows &rows, int32_t capacity);
    // Indexed pixels whose indices all lie below `count`: each index is its
    // own slot, with the palette's colour.
    void keep_indices(const uint8_t *palette, int32_t count);
    // Puts the lighter colour of a two-colour picture in slot 1, so that a
    // set bit stands for the foreground as monochrome readers expect.
    void order_lighter_last();
    // The palette slots of `width` pixels of a row, from `source` on.
    void slots(const uint8_t *source, int32_t width, uint8_t *out) const;
    // The slots' colours as RGB triples: 256 of them, unused ones 0.
    const uint8_t *rgb() const { return rgb_; }

private:
    static constexpr int32_t hash_size = 1024;
    static constexpr uint32_t empty_key = 0xFFFFFFFF;
    int32_t add(uint32_t colour);
    int32_t find(uint32_t colour) const;
    void reset(pcx_pixel_kind kind, int32_t capacity);

    pcx_pixel_kind kind_ = pcx_pixel_kind::index8;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
    uint8_t rgb_[768] = {};
    uint8_t order_[256] = {};        // slot -> the slot written, after ordering
    uint8_t slot_of_index_[256] = {}; // indexed pixels: the slot of each palette index
    uint32_t keys_[hash_size] = {};   // colours 0xRRGGBB, open addressing
    uint8_t key_slots_[hash_size] = {};
};

// Packs `width` palette slots into a scanline of the shape: one plane of 1,
// 2, 4 or 8 bits per pixel (the leftmost pixel in the high bits), or planes
// of one bit (plane p holding bit p). The scanline, planes x bytes_per_line
// bytes, is cleared first, so pad bits are 0.
void pcx_pack_slots(const uint8_t *slots, int32_t width, const pcx_layout_shape &shape, int32_t bytes_per_line,
                    uint8_t *line);

} // namespace pm
