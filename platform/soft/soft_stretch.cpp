// Bitmap sections and stretched drawing on the software display.
//
// Sampling rule (the COLORONCOLOR behaviour: whole rows and columns are
// dropped or repeated, never blended), as the platform's own stretch does it,
// for an axis of src_len source pixels drawn over dst_len destination pixels,
// destination offset d (columns counted from the rectangle's left, rows from
// its top) shows source offset
//
//     growing (dst_len >= src_len):  ceil((2 d + 1) * src_len / (2 dst_len)) - 1
//         the pixel under d's centre; a centre on a boundary takes the pixel
//         before it;
//     shrinking columns:             the last source column of each group,
//         floor((2 (d + 1) * src_len - dst_len) / (2 dst_len));
//     shrinking rows:                the first source row of each group,
//         0 for d = 0, else floor((2 d * src_len - dst_len) / (2 dst_len)) + 1.
//
// Source y is measured from the bitmap's bottom row, so the rectangle's top
// row is row src_y + src_height - 1 of the bottom-up bitmap. Destination
// pixels outside the client surface, and those whose source pixel lies
// outside the bitmap, are left as they are.
//
// Each shown source row is made into the output rows that show it by a line
// maker, one strategy per file (see soft_stretch.h), chosen once per call.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/platform.h"
#include "platform/soft/soft_state.h"
#include "platform/soft/soft_stretch.h"

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {
using namespace pm::soft::detail;
using pm::soft::order_rgba;
using pm::soft::order_xrgb;

namespace {

constexpr uint32_t header_size_min = 40;  // BITMAPINFOHEADER
constexpr uint32_t header_size_max = 124; // BITMAPV5HEADER

// What a bitmap header describes, once it has been found acceptable.
struct dib_format {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bit_count = 0;
    int64_t stride = 0;
    uint32_t colours = 0;                   // colour table entries (8 bits)
    const uint8_t *colour_table = nullptr; // at the header plus biSize
};

bool masks_are(const uint8_t *header, uint32_t red, uint32_t green, uint32_t blue)
{
    std::array<uint32_t, 3> masks{};
    std::memcpy(masks.data(), header + header_size_min, sizeof masks);
    return masks[0] == red && masks[1] == green && masks[2] == blue;
}

// The pixel layouts the display draws: 8 bits with a colour table, 5-6-5 and
// 8-8-8 bit fields at 16 and 32 bits, and B, G, R at 24 bits. Top-down
// bitmaps and every other layout are refused.
std::optional<dib_format> read_header(const void *header, int32_t usage)
{
    if (header == nullptr || (usage != dib_rgb_colors && usage != dib_pal_colors))
        return std::nullopt;
    const auto *bytes = static_cast<const uint8_t *>(header);
    pm_bitmapinfoheader info;
    std::memcpy(&info, bytes, sizeof info);
    if (info.biSize < header_size_min || info.biSize > header_size_max || info.biPlanes != 1 || info.biWidth <= 0 ||
        info.biHeight <= 0)
        return std::nullopt;

    dib_format format;
    format.width = info.biWidth;
    format.height = info.biHeight;
    format.bit_count = info.biBitCount;
    switch (info.biBitCount) {
    case 8:
        if (info.biCompression != bi_rgb)
            return std::nullopt;
        format.colours = info.biClrUsed == 0 ? 256 : std::min<uint32_t>(info.biClrUsed, 256);
        format.colour_table = bytes + info.biSize;
        break;
    case 16:
        if (info.biCompression != bi_bitfields || !masks_are(bytes, 0xF800, 0x07E0, 0x001F))
            return std::nullopt;
        break;
    case 24:
        if (info.biCompression != bi_rgb)
            return std::nullopt;
        break;
    case 32:
        if (info.biCompression != bi_bitfields || !masks_are(bytes, 0x00FF0000, 0x0000FF00, 0x000000FF))
            return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    // Rows are padded to whole 32-bit words.
    format.stride = (int64_t{format.width} * format.bit_count + 31) / 32 * 4;
    if (format.stride * format.height > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return format;
}

// The colour of each 8-bit index in Order: from the header's RGBQUAD table,
// or with palette colours from the context's palette, whose index wraps at
// the palette's size. Indices beyond the table are black.
template <class Order>
std::array<uint32_t, 256> index_colours(const dib_format &format, int32_t usage, const palette_object &palette)
{
    std::array<uint32_t, 256> colours;
    colours.fill(Order::pack(0, 0, 0));
    for (uint32_t i = 0; i < format.colours; ++i) {
        if (usage == dib_rgb_colors) {
            const uint8_t *quad = format.colour_table + 4 * i;
            colours[i] = Order::pack(quad[2], quad[1], quad[0]);
        } else {
            uint16_t index;
            std::memcpy(&index, format.colour_table + 2 * i, sizeof index);
            const pm_paletteentry &entry = palette.entries[index % palette.count];
            colours[i] = Order::pack(entry.peRed, entry.peGreen, entry.peBlue);
        }
    }
    return colours;
}

// Source offset shown at destination offset d (see the rule at the top), as
// floor((2 s d + shift) / (2 n)) + lift, walked from one d to the next with
// an add and a compare. The first offset fits in 64 bits: d < n, both
// lengths are below 2^31 and shift < 2 s, so 2 s d + shift < 2 s (d + 1)
// <= 2 (2^31 - 1)^2 < 2^63.
class offset_walk {
public:
    offset_walk(int64_t d, int64_t src_len, int64_t dst_len, bool first_of_group)
        : divisor_(2 * dst_len), whole_(2 * src_len / divisor_), part_(2 * src_len % divisor_)
    {
        int64_t shift = src_len - 1;
        if (dst_len < src_len) {
            shift = first_of_group ? -dst_len : 2 * src_len - dst_len;
            lift_ = first_of_group ? 1 : 0;
        }
        const int64_t numerator = 2 * src_len * d + shift;
        quotient_ = numerator / divisor_;
        remainder_ = numerator % divisor_;
        if (remainder_ < 0) { // round towards minus infinity
            remainder_ += divisor_;
            --quotient_;
        }
    }
    int64_t next()
    {
        const int64_t current = quotient_ + lift_;
        quotient_ += whole_;
        remainder_ += part_;
        if (remainder_ >= divisor_) {
            remainder_ -= divisor_;
            ++quotient_;
        }
        return current;
    }

private:
    int64_t divisor_, whole_, part_;
    int64_t lift_ = 0;
    int64_t quotient_ = 0, remainder_ = 0;
};

// dst_pos/dst_len: the destination extent; surface_len: the surface's size
// along the axis; the source index of destination offset d is origin +
// direction * offset(d), valid in 0..bitmap_len-1. It is monotonic, so the
// drawn offsets are one run.
axis_map map_axis(int64_t dst_pos, int64_t dst_len, int64_t surface_len, int64_t bitmap_len, int64_t src_len,
                  int64_t origin, int64_t direction, bool first_of_group)
{
    axis_map map;
    const int64_t lo = std::max<int64_t>(0, -dst_pos);
    const int64_t hi = std::min(dst_len, surface_len - dst_pos);
    if (lo >= hi)
        return map;
    offset_walk walk(lo, src_len, dst_len, first_of_group);
    auto inside = [bitmap_len](int64_t s) { return s >= 0 && s < bitmap_len; };
    int64_t d = lo;
    int64_t s = origin + direction * walk.next();
    for (; d < hi && !inside(s); ++d)
        s = origin + direction * walk.next();
    if (d == hi)
        return map;
    map.first = d;
    map.source.resize(static_cast<size_t>(hi - d));
    int32_t *out = map.source.data();
    for (; d < hi && inside(s); ++d, ++out) {
        *out = static_cast<int32_t>(s);
        s = origin + direction * walk.next();
    }
    map.source.resize(static_cast<size_t>(out - map.source.data()));
    return map;
}

// The window's column and row maps for a stretch (see the rule at the
// top), made again only when what decides them has changed.
void update_maps(dc_object &window, const stretch_key &key)
{
    stretch_record &record = window.stretch;
    if (record.made && record.key == key)
        return;
    record.columns = map_axis(key.dst_x, key.dst_width, window.width, key.bitmap_width, key.src_width, key.src_x, 1,
                              false);
    record.rows = map_axis(key.dst_y, key.dst_height, window.height, key.bitmap_height, key.src_height,
                           key.src_y + key.src_height - 1, -1, true);
    record.key = key;
    ++record.maps_serial;
}

// The line maker for the drawn columns of one call.
template <class Source>
std::unique_ptr<line_maker<Source>> choose_lines(const axis_map &columns, bool growing, const Source &source,
                                                 size_t lead)
{
    const std::vector<int32_t> &shown = columns.source;
    if (!growing)
        return shrinking_lines(shown, source);
    // Growing shows every source column from the first to the last, each
    // over a run of neighbouring columns. Every run two columns long, the
    // first one whole: the doubling of the usual window.
    const auto first = static_cast<size_t>(shown.front());
    bool doubled = shown.size() == 2 * (static_cast<size_t>(shown.back()) - first + 1);
    for (size_t i = 0; doubled && i < shown.size(); i += 2)
        doubled = static_cast<size_t>(shown[i]) == first + i / 2 && shown[i + 1] == shown[i];
    if (doubled) {
        if constexpr (std::is_same_v<Source, source_8>)
            return pair_lines(shown, source, lead);
        else
            return doubled_lines(shown, source);
    }
    if (pm::soft::kernels().grow_by_picks)
        return pick_lines(shown, source, lead);
    return run_lines(shown, source);
}

// Each source row that is shown is made into the output rows that show it,
// the first few of them at once (more would spread the stores over too many
// pages); the remaining ones are copies of the first.
template <class Source>
void draw_rows(dc_object &window, const stretch_key &g, const axis_map &columns, const axis_map &rows,
               const uint8_t *bits, int64_t stride, const Source &source)
{
    constexpr size_t rows_at_once = 8;
    const size_t bytes = columns.source.size() * sizeof(uint32_t);
    const auto surface_width = static_cast<size_t>(window.width);
    uint32_t *out = window.surface.data() + static_cast<size_t>(g.dst_y + rows.first) * surface_width +
                    static_cast<size_t>(g.dst_x + columns.first);
    // Stores that cross cache lines cost twice: when rows are whole 32-byte
    // blocks apart, the columns before the first block boundary are stored
    // on their own.
    const size_t lead = surface_width % 8 == 0 ? (8 - reinterpret_cast<uintptr_t>(out) / sizeof(uint32_t) % 8) % 8 : 0;
    const std::unique_ptr<line_maker<Source>> maker = choose_lines(columns, g.dst_width >= g.src_width, source, lead);
    const std::vector<int32_t> &shown = rows.source;
    for (size_t r = 0, next = 0; r < shown.size(); r = next) {
        next = r + 1;
        while (next < shown.size() && shown[next] == shown[r])
            ++next;
        uint32_t *line = out + r * surface_width;
        const size_t made = std::min(next - r, rows_at_once);
        maker->make({line, made, surface_width}, bits + shown[r] * stride);
        for (size_t copy = r + made; copy < next; ++copy)
            std::memcpy(out + copy * surface_width, line, bytes);
    }
}

template <class Order>
void draw_in(dc_object &window, const dib_format &format, const uint8_t *bits, const std::array<uint32_t, 256> &colours)
{
    const stretch_record &record = window.stretch;
    const stretch_key &g = record.key;
    switch (format.bit_count) {
    case 8:
        draw_rows(window, g, record.columns, record.rows, bits, format.stride, source_8{colours.data()});
        break;
    case 16:
        draw_rows(window, g, record.columns, record.rows, bits, format.stride, source_16<Order>{});
        break;
    case 24:
        draw_rows(window, g, record.columns, record.rows, bits, format.stride, source_bgr<3, Order>{});
        break;
    default:
        draw_rows(window, g, record.columns, record.rows, bits, format.stride, source_bgr<4, Order>{});
        break;
    }
}

// Records the stretch on the window and draws it in the surface's layout
// (a recorded window only records).
void draw(dc_object &window, const stretch_key &key, const dib_format &format, const uint8_t *bits, int32_t usage,
          const palette_object &palette)
{
    update_maps(window, key);
    stretch_record &record = window.stretch;
    record.made = true;
    record.bits = bits;
    record.bit_count = format.bit_count;
    record.stride = format.stride;
    const bool xrgb = window.layout == PM_SOFT_XRGB;
    if (format.bit_count == 8)
        record.colours = xrgb ? index_colours<order_xrgb>(format, usage, palette)
                              : index_colours<order_rgba>(format, usage, palette);
    if (record.columns.source.empty() || record.rows.source.empty() || window.layout == PM_SOFT_RECORDED)
        return;
    if (xrgb) {
        draw_in<order_xrgb>(window, format, bits, record.colours);
    } else {
        draw_in<order_rgba>(window, format, bits, record.colours);
    }
}

} // namespace

// A zero-filled bottom-up bitmap of the header's size and layout; *bits gets
// its pixel memory (stride x height bytes, fixed until the bitmap is
// deleted). Null, and *bits null, for a refused header, palette colours
// without a known context, or an injected failure.
pm_hbitmap dib_section_create(pm_hdc dc, const void *header, int32_t usage, uint8_t **bits)
{
    display_state &s = state();
    if (bits != nullptr)
        *bits = nullptr;
    pm::soft::dib_create_call call{dc, usage, 0, 0, 0};
    if (header != nullptr) {
        pm_bitmapinfoheader info;
        std::memcpy(&info, header, sizeof info);
        call.width = info.biWidth;
        call.height = info.biHeight;
        call.bit_count = info.biBitCount;
    }
    if (s.hooks != nullptr && !s.hooks->dib_section_may_be_created(call))
        return nullptr;
    std::optional<dib_format> format = read_header(header, usage);
    if (!format || (usage == dib_pal_colors && s.find_dc(dc) == nullptr))
        return nullptr;
    c_memory memory(static_cast<uint8_t *>(std::calloc(static_cast<size_t>(format->stride * format->height), 1)));
    if (!memory)
        return nullptr;

    void *handle = s.new_handle();
    bitmap_object &bitmap = s.bitmaps[key(handle)];
    bitmap.width = format->width;
    bitmap.height = format->height;
    bitmap.bit_count = format->bit_count;
    bitmap.stride = format->stride;
    bitmap.bits = std::move(memory);
    if (bits != nullptr)
        *bits = bitmap.bits.get();
    return handle;
}

// Draws the source rectangle of a bottom-up bitmap scaled into the
// destination rectangle of a window's surface (other contexts have no
// surface). Every call goes to the hooks. Returns the source
// height, or 0 for an unknown context, a refused header, null bits, an
// operation other than a plain copy, or an extent below 1 (nothing drawn).
int32_t stretch_dib(pm_hdc dc, int32_t dst_x, int32_t dst_y, int32_t dst_width, int32_t dst_height, int32_t src_x,
                    int32_t src_y, int32_t src_width, int32_t src_height, const void *bits, const void *header,
                    int32_t usage, uint32_t rop)
{
    display_state &s = state();
    if (s.hooks != nullptr)
        s.hooks->stretched(
            {dc, dst_x, dst_y, dst_width, dst_height, src_x, src_y, src_width, src_height, bits, header, usage, rop});
    dc_object *context = s.find_dc(dc);
    std::optional<dib_format> format = read_header(header, usage);
    if (context == nullptr || !format || bits == nullptr || rop != rop_src_copy || dst_width <= 0 ||
        dst_height <= 0 || src_width <= 0 || src_height <= 0)
        return 0;
    if (context->kind == dc_kind::window) {
        const stretch_key key{dst_x,         dst_y,          dst_width,       dst_height,      src_x,
                              src_y,         src_width,      src_height,      format->width,   format->height,
                              context->width, context->height};
        draw(*context, key, *format, static_cast<const uint8_t *>(bits), usage, s.dc_palette(*context));
    }
    return src_height;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
