// Image transfer: the graphics cursor, indexed images in and out of the
// active buffer, and raw rectangle copies between buffers.
//
// Captures and pastes put an image's bottom-left corner at the cursor: image
// row k is buffer row cursor_y - k, and since buffers store their rows
// bottom-up, one row further in the image is one stride further in memory.
// Every rectangle is clipped to its buffer first; the row routines then run
// over a span known to be inside, picked once per call by pixel size.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "graphics/internal.h"
#include "graphics/kernels/kernels.h"

namespace {

// The part of an image that lies inside the active buffer, ready to walk:
// `rows` rows of `count` pixels, the first at image byte image_offset and
// buffer address pixels; each further row one image_stride on in the image
// and one buffer_stride on (one row up) in the buffer.
struct image_span {
    std::ptrdiff_t image_offset;
    std::ptrdiff_t image_stride;
    uint8_t *pixels;
    std::ptrdiff_t buffer_stride;
    int32_t count;
    int32_t rows;
};

// Clips a width x height image with its bottom-left corner at the cursor to
// the active buffer. False when no pixel of it is inside.
bool clip_image_to_active(int32_t width, int32_t height, int32_t bytes, image_span &span)
{
    const int64_t columns = pm_state.active_stride / bytes;
    const int64_t rows = int64_t{pm_state.active_max_y} + 1;
    const int64_t x = pm_state.cursor_x;
    const int64_t y = pm_state.cursor_y;
    // Image column c lies on buffer column x + c; image row k on row y - k.
    const int64_t first_column = std::max<int64_t>(0, -x);
    const int64_t end_column = std::min<int64_t>(width, columns - x);
    const int64_t first_row = std::max<int64_t>(0, y - (rows - 1));
    const int64_t end_row = std::min<int64_t>(height, y + 1);
    if (first_column >= end_column || first_row >= end_row)
        return false;

    span.image_offset = static_cast<std::ptrdiff_t>(first_row * width + first_column);
    span.image_stride = width;
    const int64_t memory_row = rows - 1 - (y - first_row); // rows are stored bottom-up
    span.pixels = pm_state.active_bits + static_cast<std::ptrdiff_t>(memory_row) * pm_state.active_stride +
                  static_cast<std::ptrdiff_t>((x + first_column) * bytes);
    span.buffer_stride = pm_state.active_stride;
    span.count = static_cast<int32_t>(end_column - first_column);
    span.rows = static_cast<int32_t>(end_row - first_row);
    return true;
}

bool active_image_call(const void *image, int32_t width, int32_t height)
{
    return pm_state.active_index != -1 && image != nullptr && width >= 1 && height >= 1 &&
           pm_state.active_bits != nullptr && pm_state.active_stride > 0;
}

// ---- capture ---------------------------------------------------------------

// The value a pixel of Bytes bytes must equal in the search table below:
// table entries read as little-endian words, the 4-byte ones holding 0, R, G,
// B in memory order while the buffer holds B, G, R (, fourth byte).
template <int Bytes>
uint32_t search_key(const uint8_t *pixel)
{
    if constexpr (Bytes == 2)
        return uint32_t{pixel[0]} | uint32_t{pixel[1]} << 8;
    else if constexpr (Bytes == 3)
        return uint32_t{pixel[2]} << 8 | uint32_t{pixel[1]} << 16 | uint32_t{pixel[0]} << 24;
    else
        return uint32_t{pixel[3]} | uint32_t{pixel[2]} << 8 | uint32_t{pixel[1]} << 16 | uint32_t{pixel[0]} << 24;
}

// pixel_lookup's 256 entries as words: 16-bit entries at 16 bits, 4-byte
// entries at 24 and 32.
template <int Bytes>
void load_search_table(uint32_t (&table)[256])
{
    const uint8_t *entry = pm_state.pixel_lookup;
    constexpr int entry_size = Bytes == 2 ? 2 : 4;
    for (uint32_t &word : table) {
        word = uint32_t{entry[0]} | uint32_t{entry[1]} << 8;
        if constexpr (entry_size == 4)
            word |= uint32_t{entry[2]} << 16 | uint32_t{entry[3]} << 24;
        entry += entry_size;
    }
}

// The lowest index whose entry equals key; 0 when none does.
uint8_t lowest_index(const uint32_t (&table)[256], uint32_t key)
{
    for (int32_t i = 0; i < 256; ++i) {
        if (table[i] == key)
            return static_cast<uint8_t>(i);
    }
    return 0;
}

// Answers of the search already made in one call, by pixel value. The table
// cannot change during a call, so an answer stays right for the whole call.
// Every slot starts as entry 0's value, whose lowest index is 0, so no slot
// is ever empty.
class search_cache {
public:
    explicit search_cache(const uint32_t (&table)[256]) : table_(table)
    {
        for (slot &s : slots_)
            s = {table[0], 0};
    }

    uint8_t index_of(uint32_t key)
    {
        slot &s = slots_[((key ^ key >> 11 ^ key >> 22) * 0x9E3779B1u) >> (32 - slot_bits)];
        if (s.key != key)
            s = {key, lowest_index(table_, key)};
        return s.index;
    }

private:
    static constexpr int slot_bits = 8;
    struct slot {
        uint32_t key;
        uint8_t index;
    };
    const uint32_t (&table_)[256];
    slot slots_[1 << slot_bits];
};

// Turns pixels back into indices, the lowest index whose entry holds the
// pixel's value, 0 when none does.
template <int Bytes>
void capture_rows(uint8_t *image, const image_span &span)
{
    uint32_t table[256];
    load_search_table<Bytes>(table);
    search_cache cache(table);

    uint8_t *out = image + span.image_offset;
    const uint8_t *row = span.pixels;
    for (int32_t r = 0; r < span.rows; ++r, out += span.image_stride, row += span.buffer_stride) {
        const uint8_t *pixel = row;
        for (int32_t c = 0; c < span.count; ++c, pixel += Bytes)
            out[c] = cache.index_of(search_key<Bytes>(pixel));
    }
}

// At 8 bits a pixel is its own index: whole rows as blocks.
template <>
void capture_rows<1>(uint8_t *image, const image_span &span)
{
    uint8_t *out = image + span.image_offset;
    const uint8_t *row = span.pixels;
    for (int32_t r = 0; r < span.rows; ++r, out += span.image_stride, row += span.buffer_stride)
        std::memcpy(out, row, static_cast<std::size_t>(span.count));
}

// ---- paste -----------------------------------------------------------------

// The pixel of every index at the active depth, in buffer byte order, built
// once per call: the 16-bit entry as it is; the 4-byte entry (0, R, G, B)
// reversed into B, G, R and, at 32 bits, its fill byte. A word serves as a
// container of Bytes bytes, filled and emptied with memcpy.
template <int Bytes>
void load_paste_table(uint32_t (&table)[256])
{
    const uint8_t *entry = pm_state.pixel_lookup;
    for (uint32_t &word : table) {
        word = 0;
        if constexpr (Bytes == 2) {
            std::memcpy(&word, entry, 2);
            entry += 2;
        } else {
            const uint8_t pixel[4] = {entry[3], entry[2], entry[1], entry[0]};
            std::memcpy(&word, pixel, Bytes);
            entry += 4;
        }
    }
}

// Index 0 is transparent. Images are mostly long stretches that are wholly
// transparent or wholly opaque, so eight indices are looked at together: all
// zero, they are skipped; none zero, their pixels are stored without a test.
// Mixed groups (the edges of shapes) take each pixel by a mask rather than a
// branch, writing a transparent pixel back as it was. One table read per
// opaque pixel, no arithmetic on colours.
template <int Bytes>
inline void paste_mixed(const uint8_t *in, uint8_t *pixel, int32_t n, const uint32_t (&table)[256])
{
    for (int32_t c = 0; c < n; ++c, pixel += Bytes) {
        uint32_t old = 0;
        std::memcpy(&old, pixel, Bytes);
        const uint32_t opaque = 0u - static_cast<uint32_t>(in[c] != 0);
        const uint32_t value = (table[in[c]] & opaque) | (old & ~opaque);
        std::memcpy(pixel, &value, Bytes);
    }
}

constexpr bool has_zero_byte(uint64_t word)
{
    return ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) != 0;
}

template <int Bytes>
void paste_rows(const uint8_t *image, const image_span &span)
{
    uint32_t table[256];
    load_paste_table<Bytes>(table);
    const uint8_t *in = image + span.image_offset;
    uint8_t *row = span.pixels;
    const int32_t count = span.count;
    for (int32_t r = 0; r < span.rows; ++r, in += span.image_stride, row += span.buffer_stride) {
        int32_t c = 0;
        for (; c + 8 <= count; c += 8) {
            uint64_t group;
            std::memcpy(&group, in + c, 8);
            if (group == 0)
                continue;
            uint8_t *pixel = row + static_cast<std::ptrdiff_t>(c) * Bytes;
            if (has_zero_byte(group)) {
                paste_mixed<Bytes>(in + c, pixel, 8, table);
                continue;
            }
            for (int32_t k = 0; k < 8; ++k)
                std::memcpy(pixel + k * Bytes, &table[in[c + k]], Bytes);
        }
        paste_mixed<Bytes>(in + c, row + static_cast<std::ptrdiff_t>(c) * Bytes, count - c, table);
    }
}

template <>
void paste_rows<1>(const uint8_t *image, const image_span &span)
{
    const uint8_t *in = image + span.image_offset;
    uint8_t *row = span.pixels;
    for (int32_t r = 0; r < span.rows; ++r, in += span.image_stride, row += span.buffer_stride) {
        for (int32_t c = 0; c < span.count; ++c)
            row[c] = in[c] != 0 ? in[c] : row[c];
    }
}

// Checks and clips a capture or paste, then calls rows(size, span) with the
// active pixel size as a compile-time constant: the one choice of row
// routine per call.
template <typename RowRoutine>
void for_active_image(const void *image, int32_t width, int32_t height, RowRoutine &&rows)
{
    if (!active_image_call(image, width, height))
        return;
    const int32_t bytes = pm::bytes_per_pixel(pm_state.active_depth);
    image_span span{};
    if (!clip_image_to_active(width, height, bytes, span))
        return;
    switch (bytes) {
    case 4: rows(std::integral_constant<int, 4>{}, span); break;
    case 3: rows(std::integral_constant<int, 3>{}, span); break;
    case 2: rows(std::integral_constant<int, 2>{}, span); break;
    default: rows(std::integral_constant<int, 1>{}, span); break;
    }
}

// ---- region copy -----------------------------------------------------------

// A slot's pixel memory, or null for a handle outside 0..255 or a free slot.
uint8_t *slot_pixels(int32_t handle)
{
    if (static_cast<uint32_t>(handle) >= PM_SLOTS)
        return nullptr;
    return pm_state.slot_bits[handle];
}

// Bytes per pixel of a region copy, from the destination's depth.
int64_t copy_pixel_bytes(int32_t depth)
{
    return depth <= 8 ? 1 : depth <= 16 ? 2 : depth <= 24 ? 3 : 4;
}

// An inclusive range of source positions (byte columns or rows).
struct copy_range {
    int64_t first;
    int64_t last;
};

// Narrows [first, last] to the source positions that lie inside 0..source_end-1
// and whose destination position (plus shift) lies inside 0..destination_end-1.
copy_range clip_range(int64_t first, int64_t last, int64_t shift, int64_t source_end, int64_t destination_end)
{
    return {std::max({first, int64_t{0}, -shift}), std::min({last, source_end - 1, destination_end - 1 - shift})};
}

// count rows of length bytes, each row one stride further than the last on
// both sides. Within one buffer the rectangles may overlap: each row is then
// moved as a whole, and the rows are walked in the order that reads every
// source row before a destination row covers it.
void copy_rows(const uint8_t *from, int64_t from_stride, uint8_t *to, int64_t to_stride, std::size_t length,
               int64_t count, bool same_buffer)
{
    if (same_buffer) {
        // The destination lies higher in memory: walk from the top row.
        if (to > from) {
            from += (count - 1) * from_stride;
            to += (count - 1) * to_stride;
            from_stride = -from_stride;
            to_stride = -to_stride;
        }
        for (int64_t r = 0; r < count; ++r, from += from_stride, to += to_stride)
            std::memmove(to, from, length);
    } else {
        // Apart, in the order given: the kernel table's row copy.
        pm::kernels().copy_rows(from, from_stride, to, to_stride, length, count);
    }
}

} // namespace

// The rectangle copy's scalar reference: a library copy per row.
void pm::copy_rows_scalar(const uint8_t *from, int64_t from_stride, uint8_t *to, int64_t to_stride, size_t length,
                          int64_t count)
{
    for (int64_t r = 0; r < count; ++r, from += from_stride, to += to_stride)
        std::memcpy(to, from, length);
}

int32_t pm_move_cursor(int32_t x, int32_t y)
{
    pm_state.cursor_x = x;
    pm_state.cursor_y = y;
    return 0;
}

uint32_t pm_image_size(int32_t width, int32_t height)
{
    if (width < 1 || height < 1)
        return 0;
    const uint64_t bytes = pm_state.active_depth >= 24 ? 3 : pm_state.active_depth == 16 ? 2 : 1;
    const uint64_t size = static_cast<uint64_t>(width) * bytes * static_cast<uint64_t>(height);
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

int32_t pm_capture_image(uint8_t *image, int32_t width, int32_t height)
{
    for_active_image(image, width, height, [&](auto size, const image_span &span) {
        capture_rows<decltype(size)::value>(image, span);
    });
    return 0;
}

int32_t pm_paste_image(const uint8_t *image, int32_t width, int32_t height)
{
    for_active_image(image, width, height, [&](auto size, const image_span &span) {
        paste_rows<decltype(size)::value>(image, span);
    });
    return 0;
}

int32_t pm_copy_region(int32_t src_min_x, int32_t src_max_x, int32_t src_min_y, int32_t src_max_y,
                       int32_t dst_x, int32_t dst_y, int32_t src_handle, int32_t dst_handle)
{
    uint8_t *const source = slot_pixels(src_handle);
    if (source == nullptr)
        return 0;
    uint8_t *const destination = slot_pixels(dst_handle);
    if (destination == nullptr || src_max_x < src_min_x || src_max_y < src_min_y)
        return 0;

    // One pixel size, the destination's, serves both rectangles; the
    // source's columns are clipped in bytes against its own row length.
    const int64_t b = copy_pixel_bytes(pm_state.slot_depth[dst_handle]);
    const int64_t source_height = pm_state.slot_height[src_handle];
    const int64_t source_stride = pm_state.slot_stride[src_handle];
    const int64_t destination_height = pm_state.slot_height[dst_handle];
    const int64_t destination_stride = pm_state.slot_stride[dst_handle];

    const int64_t column_shift = (int64_t{dst_x} - src_min_x) * b;
    const copy_range bytes = clip_range(src_min_x * b, src_max_x * b + b - 1, column_shift, source_stride,
                                        destination_stride);
    // Source row y lands on destination row y + row_shift (dst_y takes the bottom row).
    const int64_t row_shift = int64_t{dst_y} - src_max_y;
    const copy_range rows = clip_range(src_min_y, src_max_y, row_shift, source_height, destination_height);
    if (bytes.first > bytes.last || rows.first > rows.last)
        return 0;

    // From the bottom row upwards: one stride on is one row up in both.
    const uint8_t *from = source + (source_height - 1 - rows.last) * source_stride + bytes.first;
    uint8_t *to = destination + (destination_height - 1 - (rows.last + row_shift)) * destination_stride +
                  bytes.first + column_shift;
    copy_rows(from, source_stride, to, destination_stride, static_cast<std::size_t>(bytes.last - bytes.first + 1),
              rows.last - rows.first + 1, source == destination);
    return 0;
}
