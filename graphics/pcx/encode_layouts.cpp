// Saving in a chosen layout: the layouts' shapes, the colour table of the
// rectangle to be saved, and scanlines packed from palette slots. Nothing
// is ever quantized: a rectangle with more colours than the layout holds is
// refused before any byte is written.
#include "graphics/pcx/encode_layouts.h"

#include <cstring>

#include "graphics/pixel_format.h"

namespace pm {
namespace {

// The colour of pixel k of a row, 0xRRGGBB.
template <pcx_pixel_kind Kind> uint32_t pcx_colour_at(const uint8_t *row, int32_t k);
template <> uint32_t pcx_colour_at<pcx_pixel_kind::rgb565>(const uint8_t *row, int32_t k)
{
    const rgb8 c = widen565(static_cast<uint16_t>(row[2 * k] | row[2 * k + 1] << 8));
    return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
}
template <> uint32_t pcx_colour_at<pcx_pixel_kind::bgr24>(const uint8_t *row, int32_t k)
{
    const uint8_t *p = row + 3 * k;
    return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}
template <> uint32_t pcx_colour_at<pcx_pixel_kind::bgrx32>(const uint8_t *row, int32_t k)
{
    const uint8_t *p = row + 4 * k;
    return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}
template <> uint32_t pcx_colour_at<pcx_pixel_kind::rgb24>(const uint8_t *row, int32_t k)
{
    const uint8_t *p = row + 3 * k;
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}
template <> uint32_t pcx_colour_at<pcx_pixel_kind::rgba32>(const uint8_t *row, int32_t k)
{
    const uint8_t *p = row + 4 * k;
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

// Calls f with the colour reader of a kind of pixels that are colours.
template <typename F> auto pcx_with_colour_reader(pcx_pixel_kind kind, F f)
{
    switch (kind) {
    case pcx_pixel_kind::rgb565:
        return f(pcx_colour_at<pcx_pixel_kind::rgb565>);
    case pcx_pixel_kind::bgr24:
        return f(pcx_colour_at<pcx_pixel_kind::bgr24>);
    case pcx_pixel_kind::rgb24:
        return f(pcx_colour_at<pcx_pixel_kind::rgb24>);
    case pcx_pixel_kind::rgba32:
        return f(pcx_colour_at<pcx_pixel_kind::rgba32>);
    default:
        return f(pcx_colour_at<pcx_pixel_kind::bgrx32>);
    }
}

uint32_t pcx_palette_colour(const uint8_t *palette, int32_t index)
{
    const uint8_t *e = palette + 3 * index;
    return static_cast<uint32_t>(e[0]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[2];
}

uint32_t pcx_luma(const uint8_t *rgb)
{
    return 299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2];
}

} // namespace

bool pcx_layout_shape_of(int32_t layout, bool indexed, pcx_layout_shape &shape)
{
    switch (layout) {
    case pcx_layout::automatic:
        shape = indexed ? pcx_layout_shape{8, 1, 0, true} : pcx_layout_shape{8, 3, 0, false};
        return true;
    case pcx_layout::mono:
        shape = {1, 1, 2, false};
        return true;
    case pcx_layout::cga4:
        shape = {2, 1, 4, false};
        return true;
    case pcx_layout::packed16:
        shape = {4, 1, 16, false};
        return true;
    case pcx_layout::vga256:
        shape = {8, 1, indexed ? 0 : 256, true};
        return true;
    case pcx_layout::planes4:
        shape = {1, 2, 4, false};
        return true;
    case pcx_layout::planes8:
        shape = {1, 3, 8, false};
        return true;
    case pcx_layout::ega16:
        shape = {1, 4, 16, false};
        return true;
    case pcx_layout::rgb24:
        shape = {8, 3, 0, false};
        return true;
    default:
        return false;
    }
}

int32_t pcx_colour_table::find(uint32_t colour) const
{
    uint32_t at = (colour * 2654435761u) >> 22;
    while (keys_[at] != colour) {
        if (keys_[at] == empty_key)
            return -1;
        at = (at + 1) & (hash_size - 1);
    }
    return key_slots_[at];
}

// The colour's slot, a new one if need be; -1 once the table is full. The
// hash table never holds more than 257 of its 1024 keys, so probing ends.
int32_t pcx_colour_table::add(uint32_t colour)
{
    uint32_t at = (colour * 2654435761u) >> 22;
    while (keys_[at] != empty_key) {
        if (keys_[at] == colour)
            return key_slots_[at];
        at = (at + 1) & (hash_size - 1);
    }
    if (count_ == capacity_)
        return -1;
    keys_[at] = colour;
    key_slots_[at] = static_cast<uint8_t>(count_);
    rgb_[3 * count_] = static_cast<uint8_t>(colour >> 16);
    rgb_[3 * count_ + 1] = static_cast<uint8_t>(colour >> 8);
    rgb_[3 * count_ + 2] = static_cast<uint8_t>(colour);
    return count_++;
}

void pcx_colour_table::reset(pcx_pixel_kind kind, int32_t capacity)
{
    kind_ = kind;
    capacity_ = capacity;
    count_ = 0;
    std::memset(keys_, 0xFF, sizeof keys_);
    std::memset(rgb_, 0, sizeof rgb_);
    for (int32_t i = 0; i < 256; ++i)
        order_[i] = static_cast<uint8_t>(i);
}

bool pcx_colour_table::collect(const pcx_pixel_rows &rows, int32_t capacity)
{
    reset(rows.kind, capacity);
    if (rows.kind == pcx_pixel_kind::index8) {
        bool used[256] = {};
        for (int32_t y = 0; y < rows.height; ++y) {
            const uint8_t *row = rows.row(y);
            for (int32_t k = 0; k < rows.width; ++k)
                used[row[k]] = true;
        }
        // Indices of one colour share its slot.
        for (int32_t i = 0; i < 256; ++i) {
            if (!used[i])
                continue;
            const int32_t slot = add(pcx_palette_colour(rows.palette, i));
            if (slot < 0)
                return false;
            slot_of_index_[i] = static_cast<uint8_t>(slot);
        }
        return true;
    }
    return pcx_with_colour_reader(rows.kind, [&](auto colour_at) {
        for (int32_t y = 0; y < rows.height; ++y) {
            const uint8_t *row = rows.row(y);
            for (int32_t k = 0; k < rows.width; ++k)
                if (add(colour_at(row, k)) < 0)
                    return false;
        }
        return true;
    });
}

void pcx_colour_table::keep_indices(const uint8_t *palette, int32_t count)
{
    reset(pcx_pixel_kind::index8, count);
    count_ = count;
    std::memcpy(rgb_, palette, static_cast<size_t>(3 * count));
    for (int32_t i = 0; i < 256; ++i)
        slot_of_index_[i] = static_cast<uint8_t>(i);
}

void pcx_colour_table::order_lighter_last()
{
    if (count_ == 2 && pcx_luma(rgb_) > pcx_luma(rgb_ + 3)) {
        uint8_t first[3];
        std::memcpy(first, rgb_, 3);
        std::memcpy(rgb_, rgb_ + 3, 3);
        std::memcpy(rgb_ + 3, first, 3);
        order_[0] = 1;
        order_[1] = 0;
    } else if (count_ == 1 && pcx_luma(rgb_) >= 128u * 1000u) {
        // One light colour: the foreground, over a black background.
        std::memcpy(rgb_ + 3, rgb_, 3);
        std::memset(rgb_, 0, 3);
        order_[0] = 1;
    }
}

void pcx_colour_table::slots(const uint8_t *source, int32_t width, uint8_t *out) const
{
    if (kind_ == pcx_pixel_kind::index8) {
        for (int32_t k = 0; k < width; ++k)
            out[k] = order_[slot_of_index_[source[k]]];
        return;
    }
    pcx_with_colour_reader(kind_, [&](auto colour_at) {
        for (int32_t k = 0; k < width; ++k) {
            const int32_t slot = find(colour_at(source, k)); // found: collect() met every colour
            out[k] = order_[slot < 0 ? 0 : slot];
        }
    });
}

void pcx_pack_slots(const uint8_t *slots, int32_t width, const pcx_layout_shape &shape, int32_t bytes_per_line,
                    uint8_t *line)
{
    std::memset(line, 0, static_cast<size_t>(shape.planes) * static_cast<size_t>(bytes_per_line));
    const int32_t bits = shape.bits_per_pixel;
    if (shape.planes > 1) {
        for (int32_t p = 0; p < shape.planes; ++p) {
            uint8_t *plane = line + p * bytes_per_line;
            for (int32_t k = 0; k < width; ++k)
                plane[k >> 3] |= static_cast<uint8_t>(((slots[k] >> p) & 1) << (7 - (k & 7)));
        }
        return;
    }
    if (bits == 8) {
        std::memcpy(line, slots, static_cast<size_t>(width));
        return;
    }
    const int32_t per_byte = 8 / bits;
    for (int32_t k = 0; k < width; ++k)
        line[k / per_byte] |= static_cast<uint8_t>(slots[k] << (8 - bits * (k % per_byte + 1)));
}

} // namespace pm
