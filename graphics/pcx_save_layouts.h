// Saving in a chosen layout: what each layout writes, the distinct colours
// of the rectangle as the slots of the picture's palette, and a scanline
// packed from palette slots.
#pragma once

#include <cstdint>

namespace pm {

// What a save writes: bits per pixel in each plane, the planes, and where
// the pixels come from.
struct pcx_layout_shape {
    int32_t bits_per_pixel;
    int32_t planes;
    int32_t capacity; // colours the palette holds; 0: RGB planes, or an 8-bit buffer's own indices
    bool trailer;     // a palette of 256 colours follows the data
};

// The shape of a layout value (pcx_layout_...) for a buffer of `depth` bits;
// false for a value no layout has.
bool pcx_layout_shape_of(int32_t layout, int32_t depth, pcx_layout_shape &shape);

// The distinct colours of a rectangle of the active buffer, each given a
// slot of the picture's palette in the order first met (an 8-bit buffer: in
// the order of its indices).
class pcx_colour_table {
public:
    // Collects the rectangle's colours; false as soon as there are more than
    // `capacity` (at most 256).
    bool collect(int32_t min_x, int32_t min_y, int32_t width, int32_t height, int32_t capacity);
    // Puts the lighter colour of a two-colour picture in slot 1, so that a
    // set bit stands for the foreground as monochrome readers expect.
    void order_lighter_last();
    // The palette slots of `width` pixels of a buffer row, from `source` on.
    void slots(const uint8_t *source, int32_t width, uint8_t *out) const;
    // The slots' colours as RGB triples: 256 of them, unused ones 0.
    const uint8_t *rgb() const { return rgb_; }

private:
    static constexpr int32_t hash_size = 1024;
    static constexpr uint32_t empty_key = 0xFFFFFFFF;
    int32_t add(uint32_t colour);
    int32_t find(uint32_t colour) const;

    int32_t depth_ = 8;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
    uint8_t rgb_[768] = {};
    uint8_t order_[256] = {};        // slot -> the slot written, after ordering
    uint8_t slot_of_index_[256] = {}; // 8-bit buffers: the slot of each palette index
    uint32_t keys_[hash_size] = {};   // deeper buffers: colours 0xRRGGBB, open addressing
    uint8_t key_slots_[hash_size] = {};
};

// Packs `width` palette slots into a scanline of the shape: one plane of 1,
// 2, 4 or 8 bits per pixel (the leftmost pixel in the high bits), or planes
// of one bit (plane p holding bit p). The scanline, planes x bytes_per_line
// bytes, is cleared first, so pad bits are 0.
void pcx_pack_slots(const uint8_t *slots, int32_t width, const pcx_layout_shape &shape, int32_t bytes_per_line,
                    uint8_t *line);

} // namespace pm
