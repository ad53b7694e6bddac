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
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

// x86 with SSE2 (always on x86-64, on 32-bit x86 when built for it): the
// vector paths, the AVX2 ones chosen at run time.
#if defined(__GNUC__) && defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define PM_STRETCH_VECTORS 1
#include <immintrin.h>
#endif

#include "platform/platform.h"
#include "platform/soft/soft_state.h"

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {
using namespace pm::soft::detail;

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

uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue)
{
    return (red << 16) | (green << 8) | blue;
}

// The colour of each 8-bit index: from the header's RGBQUAD table, or with
// palette colours from the context's palette, whose index wraps at the
// palette's size. Indices beyond the table are black.
std::array<uint32_t, 256> index_colours(const dib_format &format, int32_t usage, const palette_object &palette)
{
    std::array<uint32_t, 256> colours{};
    for (uint32_t i = 0; i < format.colours; ++i) {
        if (usage == dib_rgb_colors) {
            const uint8_t *quad = format.colour_table + 4 * i;
            colours[i] = rgb(quad[2], quad[1], quad[0]);
        } else {
            uint16_t index;
            std::memcpy(&index, format.colour_table + 2 * i, sizeof index);
            const pm_paletteentry &entry = palette.entries[index % palette.count];
            colours[i] = rgb(entry.peRed, entry.peGreen, entry.peBlue);
        }
    }
    return colours;
}

// One pixel reader per source depth, each giving 0x00RRGGBB.
struct source_8 {
    static constexpr size_t bytes = 1;
    const uint32_t *colours;
    uint32_t operator()(const uint8_t *pixel) const { return colours[*pixel]; }
};

// 5- and 6-bit fields widen by repeating their top bits, so full intensity
// stays full (31 -> 255, 63 -> 255).
struct source_16 {
    static constexpr size_t bytes = 2;
    uint32_t operator()(const uint8_t *pixel) const
    {
        uint32_t value = pixel[0] | (uint32_t{pixel[1]} << 8);
        uint32_t red = value >> 11;
        uint32_t green = (value >> 5) & 0x3F;
        uint32_t blue = value & 0x1F;
        return rgb((red << 3) | (red >> 2), (green << 2) | (green >> 4), (blue << 3) | (blue >> 2));
    }
};

// 24 bits: B, G, R. 32 bits: B, G, R and a byte that is not shown.
template <size_t Bytes>
struct source_bgr {
    static constexpr size_t bytes = Bytes;
    uint32_t operator()(const uint8_t *pixel) const { return rgb(pixel[2], pixel[1], pixel[0]); }
};

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

// Which destination pixels along one axis get drawn, and from where: the
// offsets first .. first + source.size() - 1 within the destination extent,
// and for each the source index (a column, or a bottom-up row).
struct axis_map {
    int64_t first = 0;
    std::vector<int32_t> source;
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

struct stretch_geometry {
    int64_t dst_x, dst_y, dst_width, dst_height;
    int64_t src_x, src_y, src_width, src_height;
};

#ifdef PM_STRETCH_VECTORS
bool has_avx2()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available && state().avx2_stretch;
}
#else
bool has_avx2()
{
    return false;
}
#endif

// Fills a run from out with value, Stores groups of four pixels at a time
// (Stores = 0: `reach` pixels, a multiple of 4); what it writes past the run,
// the next run takes.
template <size_t Stores>
inline void fill_run(uint32_t *out, uint32_t value, size_t reach)
{
    const size_t count = Stores > 0 ? 4 * Stores : reach;
#ifdef PM_STRETCH_VECTORS
    const __m128i four = _mm_set1_epi32(static_cast<int>(value));
    for (size_t k = 0; k < count; k += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), four);
#else
    for (size_t k = 0; k < count; ++k)
        out[k] = value;
#endif
}

#ifdef PM_STRETCH_VECTORS
// Four pixels, two copies of each of two colours, from a table that holds
// every colour twice in 64 bits.
inline __m128i two_pairs(const uint64_t *pairs, uint64_t first, uint64_t second)
{
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pairs + first));
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(low), reinterpret_cast<const double *>(pairs + second)));
}
#endif

// Output rows that show the same source row: count rows from first on,
// stride pixels apart.
struct row_block {
    uint32_t *first;
    size_t count;
    size_t stride;
};

// One output line of the drawn columns, made once per source row straight
// into the output rows that show it; it writes exactly the drawn columns.
// Each needed source pixel is converted once: doubling 8-bit pixels, each
// pair of columns is one entry of a table of doubled colours; growing, each
// pixel is filled over the run of columns that show it, or (with AVX2) the
// row's pixels are converted first and each group of eight columns picks its
// own from them; shrinking, each drawn column converts its own pixel. The
// doubling and AVX2 paths store each group of columns into every row of the
// block from registers; the others make the first row and copy it.
template <class Source>
class line_maker {
public:
    // lead: the drawn columns before the first whose pixels start a 32-byte
    // block in every output row (the AVX2 paths store whole blocks).
    line_maker(const axis_map &columns, bool growing, const Source &source, size_t lead)
        : count_(columns.source.size()), lead_(std::min(lead, count_))
    {
        const std::vector<int32_t> &shown = columns.source;
        if (!growing) {
            offsets_.resize(count_);
            for (size_t i = 0; i < count_; ++i)
                offsets_[i] = static_cast<size_t>(shown[i]) * Source::bytes;
            return;
        }
        // Growing shows every source column from the first to the last, each
        // over a run of neighbouring columns.
        growing_ = true;
        first_ = static_cast<size_t>(shown.front());
        runs_ = static_cast<size_t>(shown.back()) - first_ + 1;
        // Every run two columns long, the first one whole: the doubling of
        // the usual window.
        doubled_ = count_ == 2 * runs_;
        for (size_t i = 0; doubled_ && i < count_; i += 2)
            doubled_ = static_cast<size_t>(shown[i]) == first_ + i / 2 && shown[i + 1] == shown[i];
        if constexpr (std::is_same_v<Source, source_8>) {
            if (doubled_) {
                for (size_t i = 0; i < pairs_.size(); ++i)
                    pairs_[i] = source.colours[i] * uint64_t{0x100000001};
                return;
            }
        }
        if (doubled_)
            return;
        if (avx2_) {
            plan_picks(shown);
            return;
        }
        size_t longest = 1, run = 0;
        starts_.reserve(runs_);
        starts_.push_back(0);
        for (size_t i = 1; i < count_; ++i) {
            if (shown[i] != shown[i - 1]) {
                starts_.push_back(static_cast<uint32_t>(i));
                longest = std::max(longest, i - run);
                run = i;
            }
        }
        longest = std::max(longest, count_ - run);
        reach_ = (longest + 3) / 4 * 4;
        // Runs whose fill would pass the line's end are filled exactly.
        while (whole_runs_ < starts_.size() && starts_[whole_runs_] + reach_ <= count_)
            ++whole_runs_;
    }

    void make(row_block out, const uint8_t *row, const Source &source)
    {
        if constexpr (std::is_same_v<Source, source_8>) {
            if (doubled_) {
                if (avx2_)
                    double_indices_wide(out, row + first_);
                else
                    double_indices(out, row + first_, 0, count_ / 2);
                return;
            }
        }
        if (avx2_ && growing_ && !doubled_) {
            pick_groups(out, row + first_ * Source::bytes, source);
            return;
        }
        make_one(out.first, row, source);
        for (size_t r = 1; r < out.count; ++r)
            std::memcpy(out.first + r * out.stride, out.first, count_ * sizeof(uint32_t));
    }

private:
    void make_one(uint32_t *line, const uint8_t *row, const Source &source)
    {
        if (!growing_) {
            for (size_t i = 0; i < count_; ++i)
                line[i] = source(row + offsets_[i]);
            return;
        }
        const uint8_t *in = row + first_ * Source::bytes;
        if (doubled_)
            fill_pairs(line, in, source);
        else if (reach_ == 4)
            fill_runs<1>(line, in, source);
        else if (reach_ == 8)
            fill_runs<2>(line, in, source);
        else
            fill_runs<0>(line, in, source);
    }

    template <size_t Stores>
    void fill_runs(uint32_t *line, const uint8_t *in, const Source &source) const
    {
        for (size_t j = 0; j < whole_runs_; ++j, in += Source::bytes)
            fill_run<Stores>(line + starts_[j], source(in), reach_);
        for (size_t j = whole_runs_; j < starts_.size(); ++j, in += Source::bytes) {
            const size_t end = j + 1 < starts_.size() ? starts_[j + 1] : count_;
            std::fill(line + starts_[j], line + end, source(in));
        }
    }

    // Two copies of each pixel, four source pixels at a time.
    void fill_pairs(uint32_t *line, const uint8_t *in, const Source &source) const
    {
        const size_t pixels = count_ / 2;
        size_t j = 0;
#ifdef PM_STRETCH_VECTORS
        for (; j + 4 <= pixels; j += 4, in += 4 * Source::bytes, line += 8) {
            const __m128i four = _mm_set_epi32(static_cast<int>(source(in + 3 * Source::bytes)),
                                               static_cast<int>(source(in + 2 * Source::bytes)),
                                               static_cast<int>(source(in + Source::bytes)),
                                               static_cast<int>(source(in)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(line), _mm_unpacklo_epi32(four, four));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(line + 4), _mm_unpackhi_epi32(four, four));
        }
#endif
        for (; j < pixels; ++j, in += Source::bytes, line += 2)
            line[0] = line[1] = source(in);
    }

    // Doubling 8-bit source pixels j .. pixels - 1: eight indices read at
    // once, each pair of columns one 64-bit entry.
    void double_indices(row_block out, const uint8_t *in, size_t j, size_t pixels) const
    {
#ifdef PM_STRETCH_VECTORS
        for (; j + 8 <= pixels; j += 8) {
            uint64_t eight;
            std::memcpy(&eight, in + j, sizeof eight);
            for (size_t k = 2 * j; k < 2 * j + 16; k += 4, eight >>= 16) {
                const __m128i four = two_pairs(pairs_.data(), eight & 0xFF, (eight >> 8) & 0xFF);
                uint32_t *to = out.first + k;
                for (size_t r = 0; r < out.count; ++r, to += out.stride)
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), four);
            }
        }
#endif
        for (; j < pixels; ++j) {
            uint32_t *to = out.first + 2 * j;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                std::memcpy(to, &pairs_[in[j]], sizeof(uint64_t));
        }
    }

    // For each group of eight drawn columns (growing, so they show at most
    // eight neighbouring source columns): the first of them, counted from
    // first_, and each column's source counted from that one.
    void plan_picks(const std::vector<int32_t> &shown)
    {
        converted_.resize(runs_ + 8);
        const size_t groups = (count_ - lead_) / 8;
        bases_.resize(groups);
        picks_.resize(groups);
        for (size_t k = 0; k < groups; ++k) {
            const size_t column = lead_ + 8 * k;
            bases_[k] = static_cast<uint32_t>(static_cast<size_t>(shown[column]) - first_);
            for (size_t i = 0; i < 8; ++i)
                picks_[k][i] = shown[column + i] - shown[column];
        }
        // The columns before the first group and after the last.
        auto edge = [&](size_t i) {
            edge_columns_[edges_] = static_cast<uint32_t>(i);
            edge_runs_[edges_++] = static_cast<uint32_t>(static_cast<size_t>(shown[i]) - first_);
        };
        for (size_t i = 0; i < lead_; ++i)
            edge(i);
        for (size_t i = lead_ + 8 * groups; i < count_; ++i)
            edge(i);
    }

#ifdef PM_STRETCH_VECTORS
    __attribute__((target("avx2"))) void pick_groups(row_block out, const uint8_t *in, const Source &source)
    {
        uint32_t *colours = converted_.data();
        const size_t runs = runs_;
        size_t j = 0;
        if constexpr (std::is_same_v<Source, source_8>) {
            // Eight colours put together in a register and stored at once:
            // the store queue is busy with the surface.
            const uint32_t *table = source.colours;
            for (; j + 8 <= runs; j += 8, in += 8) {
                uint64_t eight;
                std::memcpy(&eight, in, sizeof eight);
                __m128i low = _mm_cvtsi32_si128(static_cast<int>(table[eight & 0xFF]));
                low = _mm_insert_epi32(low, static_cast<int>(table[(eight >> 8) & 0xFF]), 1);
                low = _mm_insert_epi32(low, static_cast<int>(table[(eight >> 16) & 0xFF]), 2);
                low = _mm_insert_epi32(low, static_cast<int>(table[(eight >> 24) & 0xFF]), 3);
                __m128i high = _mm_cvtsi32_si128(static_cast<int>(table[(eight >> 32) & 0xFF]));
                high = _mm_insert_epi32(high, static_cast<int>(table[(eight >> 40) & 0xFF]), 1);
                high = _mm_insert_epi32(high, static_cast<int>(table[(eight >> 48) & 0xFF]), 2);
                high = _mm_insert_epi32(high, static_cast<int>(table[eight >> 56]), 3);
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(colours + j),
                                    _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1));
            }
        }
        for (; j < runs; ++j, in += Source::bytes)
            colours[j] = source(in);
        // Vector stores may alias anything: the members they need are read
        // into locals first.
        const size_t groups = bases_.size();
        const uint32_t *bases = bases_.data();
        const std::array<int32_t, 8> *picks = picks_.data();
        uint32_t *from = out.first + lead_;
        // Four groups at a time, stored row after row.
        size_t k = 0;
        for (; k + 4 <= groups; k += 4) {
            __m256i four[4];
            for (size_t i = 0; i < 4; ++i)
                four[i] = _mm256_permutevar8x32_epi32(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colours + bases[k + i])),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(picks[k + i].data())));
            uint32_t *to = from + 8 * k;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                for (size_t i = 0; i < 4; ++i)
                    _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 8 * i), four[i]);
        }
        for (; k < groups; ++k) {
            const __m256i eight = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(colours + bases[k]));
            const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(picks[k].data()));
            uint32_t *to = from + 8 * k;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), _mm256_permutevar8x32_epi32(eight, pick));
        }
        const size_t edges = edges_;
        for (size_t e = 0; e < edges; ++e) {
            uint32_t *to = out.first + edge_columns_[e];
            const uint32_t colour = colours[edge_runs_[e]];
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                *to = colour;
        }
    }

    // Sixteen pixels at a time, stored row after row, from the first column
    // on a 32-byte boundary when an even number of columns comes before it.
    __attribute__((target("avx2"))) void double_indices_wide(row_block out, const uint8_t *in) const
    {
        const size_t pixels = count_ / 2;
        size_t j = lead_ % 2 == 0 ? lead_ / 2 : 0;
        double_indices(out, in, 0, j);
        for (; j + 16 <= pixels; j += 16) {
            __m256i four[4];
            for (size_t i = 0; i < 4; ++i) {
                uint32_t indices;
                std::memcpy(&indices, in + j + 4 * i, sizeof indices);
                const __m128i low = two_pairs(pairs_.data(), indices & 0xFF, (indices >> 8) & 0xFF);
                const __m128i high = two_pairs(pairs_.data(), (indices >> 16) & 0xFF, indices >> 24);
                four[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
            }
            uint32_t *to = out.first + 2 * j;
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                for (size_t i = 0; i < 4; ++i)
                    _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 8 * i), four[i]);
        }
        double_indices(out, in, j, pixels);
    }
#else
    // Elsewhere avx2_ is false and these are never called.
    void pick_groups(row_block, const uint8_t *, const Source &) {}
    void double_indices_wide(row_block, const uint8_t *) const {}
#endif

    size_t count_;
    size_t lead_;
    bool growing_ = false;
    bool doubled_ = false;
    bool avx2_ = has_avx2();
    size_t first_ = 0;                          // first source column (growing)
    size_t runs_ = 0;                           // source columns shown (growing)
    size_t reach_ = 0;                          // pixels each fill writes (growing)
    size_t whole_runs_ = 0;                     // runs whose whole fill stays on the line
    std::vector<uint32_t> starts_;              // first drawn column of each source column's run
    std::vector<size_t> offsets_;               // source byte offset of each drawn column (shrinking)
    std::array<uint64_t, 256> pairs_;           // each index's colour twice (doubling 8 bits)
    std::vector<uint32_t> converted_;           // colour of each run, for the current row
    std::vector<uint32_t> bases_;               // per group of eight columns, its first run
    std::vector<std::array<int32_t, 8>> picks_; // and each column's run counted from there
    std::array<uint32_t, 16> edge_columns_{};   // the columns outside the groups
    std::array<uint32_t, 16> edge_runs_{};      // and their runs
    size_t edges_ = 0;
};

// Each source row that is shown is made into the output rows that show it,
// the first few of them at once (more would spread the stores over too many
// pages); the remaining ones are copies of the first.
template <class Source>
void draw_rows(dc_object &window, const stretch_geometry &g, const axis_map &columns, const axis_map &rows,
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
    line_maker<Source> maker(columns, g.dst_width >= g.src_width, source, lead);
    const std::vector<int32_t> &shown = rows.source;
    for (size_t r = 0, next = 0; r < shown.size(); r = next) {
        next = r + 1;
        while (next < shown.size() && shown[next] == shown[r])
            ++next;
        uint32_t *line = out + r * surface_width;
        const size_t made = std::min(next - r, rows_at_once);
        maker.make({line, made, surface_width}, bits + shown[r] * stride, source);
        for (size_t copy = r + made; copy < next; ++copy)
            std::memcpy(out + copy * surface_width, line, bytes);
    }
}

void draw(dc_object &window, const stretch_geometry &g, const dib_format &format, const uint8_t *bits,
          int32_t usage, const palette_object &palette)
{
    // Column map and row map, once per call.
    const axis_map columns =
        map_axis(g.dst_x, g.dst_width, window.width, format.width, g.src_width, g.src_x, 1, false);
    const axis_map rows = map_axis(g.dst_y, g.dst_height, window.height, format.height, g.src_height,
                                   g.src_y + g.src_height - 1, -1, true);
    if (columns.source.empty() || rows.source.empty())
        return;
    switch (format.bit_count) {
    case 8: {
        const std::array<uint32_t, 256> colours = index_colours(format, usage, palette);
        draw_rows(window, g, columns, rows, bits, format.stride, source_8{colours.data()});
        break;
    }
    case 16:
        draw_rows(window, g, columns, rows, bits, format.stride, source_16{});
        break;
    case 24:
        draw_rows(window, g, columns, rows, bits, format.stride, source_bgr<3>{});
        break;
    default:
        draw_rows(window, g, columns, rows, bits, format.stride, source_bgr<4>{});
        break;
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
    s.calls.dib_creations.push_back(call);
    if (s.failing_dib_sections > 0) {
        --s.failing_dib_sections;
        return nullptr;
    }
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
// surface and only record). Every call is recorded. Returns the source
// height, or 0 for an unknown context, a refused header, null bits, an
// operation other than a plain copy, or an extent below 1 (nothing drawn).
int32_t stretch_dib(pm_hdc dc, int32_t dst_x, int32_t dst_y, int32_t dst_width, int32_t dst_height, int32_t src_x,
                    int32_t src_y, int32_t src_width, int32_t src_height, const void *bits, const void *header,
                    int32_t usage, uint32_t rop)
{
    display_state &s = state();
    s.calls.stretches.push_back(
        {dc, dst_x, dst_y, dst_width, dst_height, src_x, src_y, src_width, src_height, bits, header, usage, rop});
    dc_object *context = s.find_dc(dc);
    std::optional<dib_format> format = read_header(header, usage);
    if (context == nullptr || !format || bits == nullptr || rop != rop_src_copy || dst_width <= 0 ||
        dst_height <= 0 || src_width <= 0 || src_height <= 0)
        return 0;
    if (context->kind == dc_kind::window) {
        stretch_geometry g{dst_x, dst_y, dst_width, dst_height, src_x, src_y, src_width, src_height};
        draw(*context, g, *format, static_cast<const uint8_t *>(bits), usage, s.dc_palette(*context));
    }
    return src_height;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
