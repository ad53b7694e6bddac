// The software display on its own: sampling, clipping and colours of
// stretched drawing, contexts and objects, palettes, bitmap sections, fonts,
// global memory and files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/cpu/cpu.h"
#include "platform/platform.h"
#include "platform/soft/soft_display.h"
#include "platform/soft/testing/soft_testing.h"
#include "platform/soft/soft_kernels.h"

namespace {

using namespace pm::platform;

class SoftDisplayTest : public ::testing::Test {
protected:
    void SetUp() override { pm::soft::reset(); }
    void TearDown() override { pm::soft::reset(); }
};

// A bottom-up test bitmap: header (with masks or colour table) and pixels.
struct test_dib {
    int32_t width, height, bits;
    int64_t stride;
    std::vector<uint8_t> header;
    std::vector<uint8_t> pixels;

    test_dib(int32_t w, int32_t h, int32_t bit_count, uint32_t compression = 0xFFFFFFFF)
        : width(w), height(h), bits(bit_count), stride((int64_t{w} * bit_count + 31) / 32 * 4)
    {
        header.assign(40 + 1024, 0);
        pm_bitmapinfoheader info{};
        info.biSize = 40;
        info.biWidth = w;
        info.biHeight = h;
        info.biPlanes = 1;
        info.biBitCount = static_cast<uint16_t>(bit_count);
        info.biCompression = compression != 0xFFFFFFFF ? compression : (bit_count == 16 || bit_count == 32) ? bi_bitfields : bi_rgb;
        std::memcpy(header.data(), &info, sizeof info);
        const uint32_t masks16[3] = {0xF800, 0x07E0, 0x001F};
        const uint32_t masks32[3] = {0xFF0000, 0xFF00, 0xFF};
        if (bit_count == 16)
            std::memcpy(header.data() + 40, masks16, sizeof masks16);
        if (bit_count == 32)
            std::memcpy(header.data() + 40, masks32, sizeof masks32);
        if (h > 0 && stride * h <= (int64_t{1} << 26)) // headers meant to be refused get no pixels
            pixels.assign(static_cast<size_t>(stride * h), 0);
    }
    // Pixel (x, y), y counted from the top.
    uint8_t *at(int32_t x, int32_t y) { return pixels.data() + (height - 1 - y) * stride + x * (bits / 8); }
    // Colour table entry 0x00RRGGBB: its bytes blue, green, red, 0.
    void set_quad(int32_t index, uint32_t rgb)
    {
        for (int32_t i = 0; i < 4; ++i)
            header[static_cast<size_t>(40 + 4 * index + i)] = static_cast<uint8_t>(rgb >> (8 * i));
    }
    void set_index(int32_t i, uint16_t v) { std::memcpy(header.data() + 40 + 2 * i, &v, 2); }
};

// An 8-bit picture whose index at (x, y) is distinct along both axes, with
// colour table entry i = colour_of(i).
uint32_t colour_of(int32_t index)
{
    return static_cast<uint32_t>(index * 0x010307 + 0x100000) & 0xFFFFFF;
}
test_dib pattern_dib(int32_t w, int32_t h)
{
    test_dib dib(w, h, 8);
    for (int32_t i = 0; i < 256; ++i)
        dib.set_quad(i, colour_of(i));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *dib.at(x, y) = static_cast<uint8_t>((x * 7 + y * 13) & 255);
    return dib;
}

// The same at 16, 24 or 32 bits: bytes that differ along both axes.
test_dib pattern_dib(int32_t w, int32_t h, int32_t bits)
{
    if (bits == 8)
        return pattern_dib(w, h);
    test_dib dib(w, h, bits);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int32_t b = 0; b < bits / 8; ++b)
                dib.at(x, y)[b] = static_cast<uint8_t>(x * 7 + y * 13 + b * 101);
    return dib;
}

// The colour pixel (x, y) of a pattern shows, y counted from the top: 5- and
// 6-bit fields widened by repeating their top bits.
uint32_t pattern_colour(test_dib &dib, int32_t x, int32_t y)
{
    const uint8_t *p = dib.at(x, y);
    if (dib.bits == 8)
        return colour_of(*p);
    if (dib.bits != 16)
        return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    const uint32_t value = p[0] | (uint32_t{p[1]} << 8);
    const uint32_t r = value >> 11, g = (value >> 5) & 63, b = value & 31;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

int32_t stretch(pm_hdc dc, test_dib &dib, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t sx, int32_t sy,
                int32_t sw, int32_t sh, int32_t usage = dib_rgb_colors)
{
    return stretch_dib(dc, dx, dy, dw, dh, sx, sy, sw, sh, dib.pixels.data(), dib.header.data(), usage, rop_src_copy);
}

constexpr uint32_t untouched = 0xABCDEF;

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", value);
    return text;
}

// The source offsets of one axis, walked as the platform's own stretch walks
// it: a midpoint walk along the longer of the two lengths. A growing axis
// takes, for each destination pixel, the source pixel under its centre (the
// earlier one on a boundary); a shrinking one draws each source pixel of a
// group over the same destination pixel, so the last one stays for columns,
// while rows keep the first.
std::vector<int64_t> walk_axis(int64_t src_len, int64_t dst_len, bool first_of_group)
{
    std::vector<int64_t> out(static_cast<size_t>(dst_len));
    if (dst_len >= src_len) {
        int64_t err = 3 * src_len - 2 * dst_len;
        int64_t source = 0;
        for (int64_t d = 0; d < dst_len; ++d) {
            out[static_cast<size_t>(d)] = source;
            if (err > 0) {
                ++source;
                err += 2 * src_len - 2 * dst_len;
            } else {
                err += 2 * src_len;
            }
        }
        return out;
    }
    int64_t err = 3 * dst_len - 2 * src_len;
    int64_t d = 0;
    bool fresh = true;
    for (int64_t source = 0; source < src_len && d < dst_len; ++source) {
        if (fresh || !first_of_group)
            out[static_cast<size_t>(d)] = source;
        fresh = false;
        if (err > 0) {
            ++d;
            fresh = true;
            err += 2 * dst_len - 2 * src_len;
        } else {
            err += 2 * dst_len;
        }
    }
    return out;
}

// Growing offsets of a destination too long to walk: the pixel under the
// centre, the earlier one on a boundary.
int64_t grown_offset(int64_t d, int64_t src_len, int64_t dst_len)
{
    long double centre =
        (static_cast<long double>(d) + 0.5L) * static_cast<long double>(src_len) / static_cast<long double>(dst_len);
    return static_cast<int64_t>(std::ceil(centre)) - 1;
}

// The surface a stretch should leave, pixel by pixel from the walked axes.
std::optional<std::string> compare_with_rule(pm_hdc dc, test_dib &dib, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                                             int32_t sx, int32_t sy, int32_t sw, int32_t sh)
{
    const bool walk = int64_t{dw} * dh <= 4000000;
    const std::vector<int64_t> columns = walk ? walk_axis(sw, dw, false) : std::vector<int64_t>{};
    const std::vector<int64_t> rows = walk ? walk_axis(sh, dh, true) : std::vector<int64_t>{};
    for (int32_t y = 0; y < pm::soft::client_height(dc); ++y) {
        for (int32_t x = 0; x < pm::soft::client_width(dc); ++x) {
            uint32_t expected = untouched;
            if (x >= dx && x - dx < dw && y >= dy && y - dy < dh) {
                const int64_t cx = int64_t{x} - dx;
                const int64_t cy = int64_t{y} - dy;
                const int64_t col = sx + (walk ? columns[static_cast<size_t>(cx)] : grown_offset(cx, sw, dw));
                const int64_t from_top = walk ? rows[static_cast<size_t>(cy)] : grown_offset(cy, sh, dh);
                const int64_t row = sy + sh - 1 - from_top; // counted from the bottom
                if (col >= 0 && col < dib.width && row >= 0 && row < dib.height)
                    expected =
                        pattern_colour(dib, static_cast<int32_t>(col), dib.height - 1 - static_cast<int32_t>(row));
            }
            uint32_t got = pm::soft::client_pixel(dc, x, y);
            if (got != expected)
                return "first difference at (" + std::to_string(x) + ", " + std::to_string(y) + "): got " +
                       hex(got) + ", expected " + hex(expected);
        }
    }
    return std::nullopt;
}

struct stretch_case {
    const char *name;
    int32_t client_w, client_h, dib_w, dib_h;
    int32_t dx, dy, dw, dh, sx, sy, sw, sh;
};

TEST_F(SoftDisplayTest, StretchFollowsTheSamplingRule)
{
    const stretch_case cases[] = {
        {"doubling", 640, 400, 320, 200, 0, 0, 640, 400, 0, 0, 320, 200},
        {"shrink", 100, 60, 320, 200, 0, 0, 100, 60, 0, 0, 320, 200},
        {"uneven grow", 50, 40, 7, 5, 3, 2, 41, 33, 0, 0, 7, 5},
        {"inner source", 20, 20, 16, 12, 1, 1, 8, 6, 4, 3, 8, 6},
        {"off left and top", 30, 30, 16, 16, -10, -7, 32, 32, 0, 0, 16, 16},
        {"off right and bottom", 30, 30, 16, 16, 10, 12, 32, 32, 0, 0, 16, 16},
        {"wholly outside", 10, 10, 8, 8, 12, 0, 8, 8, 0, 0, 8, 8},
        {"source off left and bottom", 30, 30, 16, 16, 0, 0, 24, 24, -4, -4, 12, 12},
        {"source off right and top", 30, 30, 16, 16, 0, 0, 24, 24, 10, 10, 12, 12},
        {"huge destination", 16, 16, 4, 4, -1000000000, -1000000000, 2000000000, 2000000000, 0, 0, 4, 4},
        // 2 x source length x destination offset just below 2^63.
        {"huge source and destination", 16, 16, 16, 16, -2147483000, 0, 2147483647, 16, -2147483000, 0, 2147483647, 16},
        {"window of the demo", 760, 549, 320, 200, 0, 0, 760, 549, 0, 0, 320, 200},
        {"shrink by thirds", 40, 30, 120, 90, 0, 0, 40, 30, 0, 0, 120, 90},
    };
    for (const stretch_case &c : cases) {
        pm::soft::reset();
        pm_hdc dc = pm::soft::window_create(c.client_w, c.client_h);
        pm::soft::client_fill(dc, untouched);
        test_dib dib = pattern_dib(c.dib_w, c.dib_h);
        EXPECT_EQ(stretch(dc, dib, c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh), c.sh) << c.name;
        std::optional<std::string> difference = compare_with_rule(dc, dib, c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh);
        EXPECT_FALSE(difference) << c.name << ": " << *difference;
    }
}

// Lines are made once per source row (runs filled several pixels at a time
// when growing, groups of eight columns and pairs when doubling, on 32-byte
// boundaries where rows share them) and stored into the rows that repeat
// them: seeded sizes, depths and positions, the rectangles off every edge of
// the surface and the bitmap. The rounds take turns, four at a time, at the
// scalar kernels and at each set of kernels the processor offers, and in
// turn draw onto surfaces of words 0x00RRGGBB and of bytes R, G, B, 255.
// Beside every stretch a recorded window is handed the same one: it draws
// nothing, and its record's maps pick the pixels that were drawn.
TEST_F(SoftDisplayTest, SeededStretchesFollowTheSamplingRule)
{
    struct restore_kernels {
        ~restore_kernels() { pm::soft::kernels_select(pm::cpu::allowed()); }
    } restore;
    std::vector<pm::cpu::sets> turns{0};
    for (pm::cpu::sets set = 1; set <= pm::cpu::every; set <<= 1)
        if (pm::soft::kernels_select(set) == set)
            turns.push_back(set);
    std::mt19937 random(1080);
    auto pick = [&random](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
    const int32_t depths[] = {8, 16, 24, 32};
    for (int round = 0; round < 600; ++round) {
        pm::soft::reset();
        const pm::cpu::sets set = turns[size_t(round / 4) % turns.size()];
        pm::soft::kernels_select(set);
        // Small pictures for the edges, wide ones for the vector paths; half
        // the surfaces have rows a whole number of 32-byte blocks long.
        const int32_t most = round % 2 == 0 ? 40 : 160;
        const int32_t client_w = round % 4 < 2 ? 8 * pick(1, most / 8) : pick(1, most);
        const int32_t client_h = pick(1, most / 2);
        const int32_t dib_w = pick(1, most * 3 / 5), dib_h = pick(1, 24);
        const int32_t bits = depths[pick(0, 3)];
        pm_hdc dc = pm::soft::window_create(client_w, client_h);
        pm_hdc recorded = pm::soft::window_create(client_w, client_h);
        ASSERT_TRUE(pm::soft::window_set_layout(dc, pick(0, 1) == 0 ? PM_SOFT_XRGB : PM_SOFT_RGBA));
        ASSERT_TRUE(pm::soft::window_set_layout(recorded, PM_SOFT_RECORDED));
        pm::soft::client_fill(dc, untouched);
        pm::soft::client_fill(recorded, untouched);
        test_dib dib = pattern_dib(dib_w, dib_h, bits);
        const int32_t sx = pick(-8, dib_w), sy = pick(-8, 24), sw = pick(1, most * 3 / 4), sh = pick(1, 30);
        // Every third stretch doubles the width, which has a path of its own.
        const int32_t dx = pick(-30, most), dy = pick(-30, 40), dw = round % 3 == 0 ? 2 * sw : pick(1, 2 * most);
        const int32_t dh = pick(1, 70);
        stretch(dc, dib, dx, dy, dw, dh, sx, sy, sw, sh);
        stretch(recorded, dib, dx, dy, dw, dh, sx, sy, sw, sh);
        std::optional<std::string> difference = compare_with_rule(dc, dib, dx, dy, dw, dh, sx, sy, sw, sh);
        pm_soft_stretch record{};
        ASSERT_TRUE(pm::soft::window_stretch(recorded, &record));
        int32_t drawn = 0, differing = 0;
        for (int32_t y = 0; y < client_h; ++y)
            for (int32_t x = 0; x < client_w; ++x) {
                drawn += pm::soft::client_pixel(dc, x, y) != untouched;
                differing += pm::soft::client_pixel(recorded, x, y) != untouched;
            }
        for (int32_t j = 0; j < record.height && !difference; ++j)
            for (int32_t i = 0; i < record.width && !difference; ++i)
                if (pm::soft::client_pixel(dc, record.x + i, record.y + j) !=
                    pattern_colour(dib, record.columns[i], dib_h - 1 - record.rows[j]))
                    difference = "the record's maps pick another pixel at (" + std::to_string(record.x + i) + ", " +
                                 std::to_string(record.y + j) + ")";
        if (!difference && (drawn != record.width * record.height || differing != 0))
            difference = std::to_string(drawn) + " pixels drawn, the record has " + std::to_string(record.width) +
                         " x " + std::to_string(record.height) + "; the recorded window changed " +
                         std::to_string(differing);
        ASSERT_FALSE(difference) << bits << "-bit " << dib_w << " x " << dib_h << " bitmap, source (" << sx << ", "
                                 << sy << ") " << sw << " x " << sh << " onto (" << dx << ", " << dy << ") " << dw
                                 << " x " << dh << " of " << client_w << " x " << client_h << ", layout "
                                 << pm::soft::window_layout(dc) << ", with the " << pm::cpu::name(set)
                                 << " kernels: " << *difference;
    }
}

// The source columns and rows that the platform's own stretch picks, read
// back from it for these lengths: growing takes the earlier pixel when a
// centre falls on a boundary; shrinking keeps a group's last column and first
// row.
TEST_F(SoftDisplayTest, StretchPicksThePixelsThePlatformPicks)
{
    struct axis_case {
        int32_t src_len, dst_len;
        std::vector<int32_t> columns, rows;
    };
    const axis_case cases[] = {
        {4, 6, {0, 0, 1, 2, 2, 3}, {0, 0, 1, 2, 2, 3}},
        {5, 8, {0, 0, 1, 2, 2, 3, 4, 4}, {0, 0, 1, 2, 2, 3, 4, 4}},
        {3, 11, {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}, {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}},
        {6, 4, {1, 2, 4, 5}, {0, 2, 3, 5}},
        {8, 5, {1, 2, 4, 5, 7}, {0, 2, 3, 5, 6}},
        {11, 3, {3, 6, 10}, {0, 4, 7}},
        {10, 4, {2, 4, 7, 9}, {0, 3, 5, 8}},
        {7, 3, {1, 4, 6}, {0, 2, 5}},
        {40, 4, {9, 19, 29, 39}, {0, 10, 20, 30}},
    };
    for (const axis_case &c : cases) {
        // A row whose index is its column, then a column whose index is its
        // row counted from the top; colour i is the value i.
        pm::soft::reset();
        pm_hdc dc = pm::soft::window_create(c.dst_len, c.dst_len);
        test_dib across(c.src_len, 1, 8);
        test_dib down(4, c.src_len, 8);
        for (int32_t i = 0; i < 256; ++i) {
            across.set_quad(i, static_cast<uint32_t>(i));
            down.set_quad(i, static_cast<uint32_t>(i));
        }
        for (int32_t i = 0; i < c.src_len; ++i) {
            *across.at(i, 0) = static_cast<uint8_t>(i);
            *down.at(0, i) = static_cast<uint8_t>(i);
        }
        stretch(dc, across, 0, 0, c.dst_len, 1, 0, 0, c.src_len, 1);
        std::vector<int32_t> columns, rows;
        for (int32_t k = 0; k < c.dst_len; ++k)
            columns.push_back(static_cast<int32_t>(pm::soft::client_pixel(dc, k, 0)));
        pm::soft::client_fill(dc, 0);
        stretch(dc, down, 0, 0, 1, c.dst_len, 0, 0, 1, c.src_len);
        for (int32_t k = 0; k < c.dst_len; ++k)
            rows.push_back(static_cast<int32_t>(pm::soft::client_pixel(dc, 0, k)));
        EXPECT_EQ(columns, c.columns) << c.src_len << " -> " << c.dst_len << " columns";
        EXPECT_EQ(rows, c.rows) << c.src_len << " -> " << c.dst_len << " rows";
    }
}

TEST_F(SoftDisplayTest, DoublingRepeatsEachPixelAndSourceYCountsFromTheBottom)
{
    pm_hdc dc = pm::soft::window_create(640, 400);
    test_dib dib = pattern_dib(320, 200);
    stretch(dc, dib, 0, 0, 640, 400, 0, 0, 320, 200);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), colour_of(*dib.at(0, 0)));
    EXPECT_EQ(pm::soft::client_pixel(dc, 639, 399), colour_of(*dib.at(319, 199)));
    EXPECT_EQ(pm::soft::client_pixel(dc, 3, 5), colour_of(*dib.at(1, 2)));

    // Rows 0..99 from the top are the source rectangle starting 100 rows up.
    pm::soft::client_fill(dc, 0);
    stretch(dc, dib, 0, 0, 320, 100, 0, 100, 320, 100);
    EXPECT_EQ(pm::soft::client_pixel(dc, 5, 0), colour_of(*dib.at(5, 0)));
    EXPECT_EQ(pm::soft::client_pixel(dc, 5, 99), colour_of(*dib.at(5, 99)));
    EXPECT_EQ(pm::soft::client_pixel(dc, 5, 100), 0u);
}

TEST_F(SoftDisplayTest, EmptyOrNegativeExtentsDrawNothingButAreRecorded)
{
    pm_hdc dc = pm::soft::window_create(8, 8);
    pm::soft::client_fill(dc, untouched);
    test_dib dib = pattern_dib(4, 4);
    const int32_t extents[][4] = {{0, 8, 4, 4}, {8, 0, 4, 4}, {-8, 8, 4, 4}, {8, -8, 4, 4}, {8, 8, 0, 4}, {8, 8, 4, -4}};
    for (const auto &e : extents)
        EXPECT_EQ(stretch(dc, dib, 0, 0, e[0], e[1], 0, 0, e[2], e[3]), 0);
    for (int32_t i = 0; i < 64; ++i)
        ASSERT_EQ(pm::soft::client_pixels(dc)[i], untouched) << "pixel " << i;
    ASSERT_EQ(pm::soft::calls().stretches.size(), 6u);
    EXPECT_EQ(pm::soft::calls().stretches[2].dst_width, -8);
    EXPECT_EQ(pm::soft::calls().stretches[5].src_height, -4);
}

TEST_F(SoftDisplayTest, CallRecordKeepsOnlyTheLatestCalls)
{
    pm_hdc dc = pm::soft::window_create(4, 4);
    test_dib dib = pattern_dib(4, 4);
    const int32_t presented = 5 * static_cast<int32_t>(pm::soft::call_list_limit) + 7;
    for (int32_t i = 0; i < presented; ++i)
        stretch(dc, dib, i, 0, 4, 4, 0, 0, 4, 4);
    const auto &stretches = pm::soft::calls().stretches;
    EXPECT_LE(stretches.size(), pm::soft::call_list_limit);
    EXPECT_LE(stretches.capacity(), 2 * pm::soft::call_list_limit) << "memory stays flat";
    ASSERT_GE(stretches.size(), pm::soft::call_list_limit / 2);
    for (size_t i = 0; i < stretches.size(); ++i)
        ASSERT_EQ(stretches[i].dst_x, presented - static_cast<int32_t>(stretches.size() - i)) << "oldest first";
}

TEST_F(SoftDisplayTest, EveryDepthGivesItsColours)
{
    pm_hdc dc = pm::soft::window_create(2, 1);
    test_dib d16(2, 1, 16);
    const uint8_t p16[4] = {0xFF, 0xFF, 0x10, 0x84}; // white; 10000 100000 10000 (0x8410), little-endian
    std::memcpy(d16.at(0, 0), p16, 4);
    stretch(dc, d16, 0, 0, 2, 1, 0, 0, 2, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x848284u); // top bits repeated below

    test_dib d24(2, 1, 24);
    const uint8_t p24[6] = {0x33, 0x22, 0x11, 0x66, 0x55, 0x44};
    std::memcpy(d24.at(0, 0), p24, 6);
    stretch(dc, d24, 0, 0, 2, 1, 0, 0, 2, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), 0x112233u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x445566u);

    test_dib d32(2, 1, 32);
    const uint8_t p32[8] = {0x33, 0x22, 0x11, 0xFF, 0x66, 0x55, 0x44, 0x80};
    std::memcpy(d32.at(0, 0), p32, 8);
    stretch(dc, d32, 0, 0, 2, 1, 0, 0, 2, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), 0x112233u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x445566u);

    // 8 bits, colours from the header; entries past biClrUsed are black.
    test_dib d8(2, 1, 8);
    d8.set_quad(3, 0x00ABCDEF);
    d8.set_quad(4, 0x00123456);
    pm_bitmapinfoheader info;
    std::memcpy(&info, d8.header.data(), sizeof info);
    info.biClrUsed = 4;
    std::memcpy(d8.header.data(), &info, sizeof info);
    *d8.at(0, 0) = 3;
    *d8.at(1, 0) = 4;
    stretch(dc, d8, 0, 0, 2, 1, 0, 0, 2, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), 0xABCDEFu);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0u);
}

TEST_F(SoftDisplayTest, PaletteColoursGoThroughTheSelectedPalette)
{
    pm_hdc dc = pm::soft::window_create(3, 1);
    pm_logpalette log{0x300, 4, {}};
    log.palPalEntry[1] = {0x10, 0x20, 0x30, pc_reserved};
    log.palPalEntry[2] = {0x40, 0x50, 0x60, 0};
    pm_hpalette palette = palette_create(&log);
    palette_select(dc, palette, 0);

    test_dib dib(3, 1, 8);
    dib.set_index(7, 2);
    dib.set_index(8, 1);
    dib.set_index(9, 6); // past the palette's 4 entries: wraps to entry 2
    *dib.at(0, 0) = 7;
    *dib.at(1, 0) = 8;
    *dib.at(2, 0) = 9;
    EXPECT_EQ(stretch(dc, dib, 0, 0, 3, 1, 0, 0, 3, 1, dib_pal_colors), 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), 0x405060u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x102030u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 2, 0), 0x405060u);

    // A context still holding a deleted palette draws through the default one.
    object_delete(palette);
    stretch(dc, dib, 0, 0, 3, 1, 0, 0, 3, 1, dib_pal_colors);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x800000u);
}

TEST_F(SoftDisplayTest, RefusedHeadersAndOtherContextsDrawNothing)
{
    pm_hdc dc = pm::soft::window_create(2, 2);
    pm::soft::client_fill(dc, untouched);
    test_dib rgb32(2, 2, 32, bi_rgb), four(2, 2, 4), good = pattern_dib(2, 2);
    EXPECT_EQ(stretch(dc, rgb32, 0, 0, 2, 2, 0, 0, 2, 2), 0);
    EXPECT_EQ(stretch(dc, four, 0, 0, 2, 2, 0, 0, 2, 2), 0);
    EXPECT_EQ(stretch_dib(dc, 0, 0, 2, 2, 0, 0, 2, 2, nullptr, good.header.data(), 0, rop_src_copy), 0);
    EXPECT_EQ(stretch_dib(dc, 0, 0, 2, 2, 0, 0, 2, 2, good.pixels.data(), good.header.data(), 0, 0x00EE0086), 0);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 0), untouched);

    pm_hdc memory = memory_dc_create();
    EXPECT_EQ(stretch(memory, good, 0, 0, 2, 2, 0, 0, 2, 2), 2);
    EXPECT_EQ(stretch(reinterpret_cast<pm_hdc>(0x1234), good, 0, 0, 2, 2, 0, 0, 2, 2), 0);
    EXPECT_EQ(pm::soft::calls().stretches.size(), 6u);
}

TEST_F(SoftDisplayTest, DibSectionsAreZeroedBottomUpBlocksOfWholeRows)
{
    pm_hdc dc = pm::soft::window_create(5, 3);
    // Width 5: rows of 5, 10, 15 and 20 bytes padded to whole 32-bit words.
    const int32_t depths[][2] = {{8, 8}, {16, 12}, {24, 16}, {32, 20}};
    for (const auto &[depth, stride] : depths) {
        test_dib dib(5, 3, depth);
        if (depth == 8)
            dib.set_quad(1, 0xFFFFFF);
        uint8_t *bits = nullptr;
        pm_hbitmap bitmap = dib_section_create(dc, dib.header.data(), dib_rgb_colors, &bits);
        ASSERT_NE(bitmap, nullptr) << depth;
        ASSERT_NE(bits, nullptr);
        for (int32_t i = 0; i < stride * 3; ++i) // exactly stride x height, all zero
            ASSERT_EQ(bits[i], 0) << depth << " bits, byte " << i;

        // A white pixel at the start of the second row in memory shows in the
        // middle row: rows are stored bottom-up, one stride apart.
        std::memset(bits + stride, depth == 8 ? 1 : 0xFF, static_cast<size_t>(std::min(depth / 8, 3)));
        pm::soft::client_fill(dc, untouched);
        stretch_dib(dc, 0, 0, 5, 3, 0, 0, 5, 3, bits, dib.header.data(), dib_rgb_colors, rop_src_copy);
        EXPECT_EQ(pm::soft::client_pixel(dc, 0, 1), 0xFFFFFFu) << depth << " bits";
        EXPECT_EQ(pm::soft::client_pixel(dc, 0, 2), 0u) << depth << " bits";
        EXPECT_EQ(pm::soft::client_pixel(dc, 1, 1), 0u) << depth << " bits";
    }
    EXPECT_EQ(pm::soft::live_objects(), 4);
    ASSERT_EQ(pm::soft::calls().dib_creations.size(), 4u);
    EXPECT_EQ(pm::soft::calls().dib_creations[1].bit_count, 16);
    EXPECT_EQ(pm::soft::calls().dib_creations[1].width, 5);
}

TEST_F(SoftDisplayTest, DibSectionRefusalsAndInjectedFailures)
{
    pm_hdc dc = pm::soft::window_create(4, 4);
    auto create = [dc](test_dib &dib, int32_t usage = dib_rgb_colors, pm_hdc context = nullptr) {
        uint8_t *bits = reinterpret_cast<uint8_t *>(1);
        pm_hbitmap bitmap = dib_section_create(context ? context : dc, dib.header.data(), usage, &bits);
        EXPECT_EQ(bitmap == nullptr, bits == nullptr);
        return bitmap;
    };
    test_dib zero_width(0, 4, 8), top_down(4, -4, 8), four(4, 4, 4), rgb16(4, 4, 16, bi_rgb);
    test_dib huge(65536, 65536, 8), pal(4, 4, 8), bad_masks(4, 4, 16);
    const uint32_t masks555[3] = {0x7C00, 0x03E0, 0x001F};
    std::memcpy(bad_masks.header.data() + 40, masks555, sizeof masks555);
    EXPECT_EQ(create(zero_width), nullptr);
    EXPECT_EQ(create(top_down), nullptr);
    EXPECT_EQ(create(four), nullptr);
    EXPECT_EQ(create(rgb16), nullptr);
    EXPECT_EQ(create(bad_masks), nullptr);
    EXPECT_EQ(create(huge), nullptr); // stride x height overflows
    EXPECT_EQ(create(pal, dib_pal_colors, reinterpret_cast<pm_hdc>(0x1234)), nullptr);
    EXPECT_NE(create(pal, dib_pal_colors), nullptr);

    pm::soft::fail_next_dib_sections(2);
    EXPECT_EQ(create(pal), nullptr);
    EXPECT_EQ(create(pal), nullptr);
    EXPECT_NE(create(pal), nullptr);
    EXPECT_EQ(pm::soft::live_objects(), 2);
}

TEST_F(SoftDisplayTest, MemoryContextsHoldOneBitmapAtATime)
{
    pm_hdc dc = pm::soft::window_create(4, 4);
    pm_hdc a = memory_dc_create(), b = memory_dc_create();
    EXPECT_EQ(pm::soft::live_memory_dcs(), 2);
    pm_hgdiobj stock_bitmap = pm::soft::selected_object(a);
    ASSERT_NE(stock_bitmap, nullptr);
    EXPECT_EQ(pm::soft::selected_object(b), stock_bitmap);

    test_dib dib(4, 4, 8);
    uint8_t *bits;
    pm_hbitmap one = dib_section_create(dc, dib.header.data(), 0, &bits);
    pm_hbitmap two = dib_section_create(dc, dib.header.data(), 0, &bits);
    EXPECT_EQ(select_object(a, one), stock_bitmap);
    EXPECT_EQ(select_object(b, one), nullptr) << "a bitmap sits in one context only";
    EXPECT_EQ(select_object(dc, two), nullptr) << "window contexts take no bitmap";
    EXPECT_EQ(select_object(a, two), one);
    EXPECT_EQ(select_object(b, one), stock_bitmap);

    object_delete(one); // still selected into b: refused
    EXPECT_EQ(pm::soft::live_objects(), 2);
    memory_dc_delete(b);
    object_delete(one);
    EXPECT_EQ(pm::soft::live_objects(), 1);
    EXPECT_EQ(pm::soft::live_memory_dcs(), 1);
    object_delete(stock_bitmap);
    EXPECT_EQ(select_object(a, stock_bitmap), two);
    EXPECT_EQ(select_object(a, nullptr), nullptr);
    EXPECT_EQ(select_object(a, reinterpret_cast<pm_hgdiobj>(0x1234)), nullptr);
}

TEST_F(SoftDisplayTest, PaletteSelectionAndAnimation)
{
    pm_hdc dc = pm::soft::window_create(4, 4);
    pm_hpalette stock = pm::soft::selected_palette(dc);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(stock, stock_object(15));
    EXPECT_EQ(pm::soft::palette_entries(stock)[19].peBlue, 255);

    pm_logpalette log{0x300, 0, {}};
    EXPECT_EQ(palette_create(&log), nullptr);
    log.palNumEntries = 257;
    EXPECT_EQ(palette_create(&log), nullptr);
    log.palNumEntries = 6;
    for (uint8_t i = 0; i < 6; ++i)
        log.palPalEntry[i] = {i, i, i, static_cast<uint8_t>(i % 2 ? pc_reserved : 0)};
    pm_hpalette palette = palette_create(&log);
    ASSERT_NE(palette, nullptr);

    EXPECT_EQ(palette_select(dc, palette, 0), stock);
    EXPECT_EQ(palette_select(dc, stock, 1), palette);
    EXPECT_EQ(palette_select(dc, reinterpret_cast<pm_hpalette>(0x1234), 0), nullptr);
    EXPECT_EQ(pm::soft::selected_palette(dc), stock);
    ASSERT_EQ(pm::soft::calls().palette_selects.size(), 3u);
    EXPECT_EQ(pm::soft::calls().palette_selects[1].previous, palette);
    EXPECT_EQ(pm::soft::calls().palette_selects[1].background, 1);

    // Entries 3..7 asked for: only 3 and 5 are reserved, 6 and 7 do not exist.
    pm_paletteentry fresh[5];
    for (auto &e : fresh)
        e = {200, 201, 202, 0};
    EXPECT_EQ(palette_animate(palette, 3, 5, fresh), 1);
    const pm_paletteentry *entries = pm::soft::palette_entries(palette);
    for (uint8_t i = 0; i < 8; ++i) {
        bool replaced = i == 3 || i == 5;
        EXPECT_EQ(entries[i].peRed, replaced ? 200 : (i < 6 ? i : 0)) << "entry " << int{i};
        EXPECT_EQ(entries[i].peFlags, i < 6 && i % 2 ? pc_reserved : 0) << "entry " << int{i};
    }
    EXPECT_EQ(palette_animate(reinterpret_cast<pm_hpalette>(0x1234), 0, 1, fresh), 0);
    ASSERT_EQ(pm::soft::calls().palette_animations.size(), 2u);
    EXPECT_EQ(pm::soft::calls().palette_animations[0].count, 5u);

    palette_realize(dc);
    EXPECT_EQ(pm::soft::calls().palette_realizations.at(0), dc);
    object_delete(stock);
    EXPECT_NE(pm::soft::palette_entries(stock), nullptr);
    object_delete(palette);
    EXPECT_EQ(pm::soft::palette_entries(palette), nullptr);
    EXPECT_EQ(pm::soft::live_objects(), 0);
}

TEST_F(SoftDisplayTest, DepthAndSystemPalette)
{
    pm_hdc screen = screen_dc_get();
    EXPECT_EQ(device_caps(screen, caps_bits_pixel), 32);
    pm_paletteentry entries[256];
    EXPECT_EQ(system_palette_entries(screen, 0, 10, entries), 0u);
    EXPECT_FALSE(pm::soft::set_depth(12));

    ASSERT_TRUE(pm::soft::set_depth(15));
    EXPECT_EQ(device_caps(screen, caps_bits_pixel), 15);
    EXPECT_EQ(device_caps(screen, caps_planes), 1);

    ASSERT_TRUE(pm::soft::set_depth(8));
    EXPECT_EQ(system_palette_entries(screen, 246, 20, entries), 10u);
    EXPECT_EQ(entries[0].peRed, 255); // 246: (255, 251, 240)
    EXPECT_EQ(entries[0].peGreen, 251);
    EXPECT_EQ(entries[9].peBlue, 255);
    EXPECT_EQ(system_palette_entries(screen, 9, 1, entries), 1u);
    EXPECT_EQ(entries[0].peGreen, 202);
    EXPECT_EQ(entries[0].peFlags, 0);
    EXPECT_EQ(system_palette_entries(screen, 256, 1, entries), 0u);
    EXPECT_EQ(system_palette_entries(reinterpret_cast<pm_hdc>(0x1234), 0, 1, entries), 0u);

    ASSERT_TRUE(pm::soft::set_depth(4));
    EXPECT_EQ(system_palette_entries(screen, 8, 8, entries), 8u);
    EXPECT_EQ(entries[0].peRed, 128); // dark grey leads the bright half
    EXPECT_EQ(entries[7].peGreen, 255);
    EXPECT_EQ(pm::soft::system_palette()[16].peRed, 0);
    screen_dc_release(screen);
    EXPECT_EQ(device_caps(screen, caps_bits_pixel), 0);
}

TEST_F(SoftDisplayTest, StockFontsAndTheirMetrics)
{
    EXPECT_EQ(stock_object(9), nullptr);
    EXPECT_EQ(stock_object(20), nullptr);
    EXPECT_EQ(stock_object(-1), nullptr);
    pm_hdc dc = pm::soft::window_create(4, 4);
    pm_hgdiobj system = pm::soft::selected_object(dc);
    EXPECT_EQ(system, stock_object(13));
    pm_hgdiobj oem = stock_object(oem_fixed_font);
    EXPECT_EQ(select_object(dc, oem), system);

    text_metric tm;
    std::memset(&tm, 0x55, sizeof tm);
    ASSERT_EQ(text_metrics(dc, &tm), 1);
    EXPECT_EQ(tm.tmHeight, 12);
    EXPECT_EQ(tm.tmExternalLeading, 0);
    EXPECT_EQ(tm.tmAveCharWidth, 8);
    EXPECT_EQ(tm.tmMaxCharWidth, 8);
    EXPECT_EQ(tm.tmPitchAndFamily & 1, 0) << "a clear low bit means fixed pitch";
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);

    std::memset(&tm, 0x55, sizeof tm);
    EXPECT_EQ(text_metrics(reinterpret_cast<pm_hdc>(0x1234), &tm), 0);
    EXPECT_EQ(tm.tmHeight, 0x55555555);
}

TEST_F(SoftDisplayTest, GlobalMemory)
{
    pm_hglobal zeroed = global_alloc(gmem_moveable | gmem_zeroinit, 100);
    pm_hglobal raw = global_alloc(0, 8);
    ASSERT_NE(zeroed, nullptr);
    ASSERT_NE(raw, nullptr);
    auto *bytes = static_cast<uint8_t *>(global_lock(zeroed));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(global_lock(zeroed), bytes) << "the address stays";
    EXPECT_EQ(global_lock(raw), raw) << "a fixed block's handle is its address";
    EXPECT_EQ(global_size(zeroed), 100u);
    global_unlock(zeroed);
    global_free(zeroed);
    EXPECT_EQ(global_size(zeroed), 0u);
    EXPECT_EQ(global_lock(zeroed), nullptr);

    EXPECT_EQ(global_alloc(0, (uint64_t{1} << 30) + 1), nullptr);
    pm::soft::fail_next_global_allocs(1);
    EXPECT_EQ(global_alloc(0, 4), nullptr);
    EXPECT_NE(global_alloc(0, 4), nullptr);
}

TEST_F(SoftDisplayTest, FilesReadAndSeek)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "soft_display_test_file.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out << "0123456789";
    }
    EXPECT_EQ(file_open_read((path.string() + ".missing").c_str()), nullptr);
    EXPECT_EQ(file_open_read(path.parent_path().string().c_str()), nullptr) << "directories are not files";
    // A named pipe with no writer would block a plain open for ever; ctest's
    // timeout catches a hang here.
    const std::filesystem::path fifo = path.string() + ".fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(file_open_read(fifo.c_str()), nullptr) << "named pipes are not files";
    std::filesystem::remove(fifo);
    pm_hfile file = file_open_read(path.string().c_str());
    ASSERT_NE(file, nullptr);

    char buffer[16] = {};
    uint32_t got = 99;
    ASSERT_TRUE(file_read(file, buffer, 4, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(file_seek(file, 2, seek_origin::current), 6);
    EXPECT_EQ(file_seek(file, -10, seek_origin::current), -1);
    EXPECT_EQ(file_seek(file, 0, seek_origin::current), 6) << "a failed seek keeps the position";
    EXPECT_EQ(file_seek(file, -3, seek_origin::end), 7);
    ASSERT_TRUE(file_read(file, buffer, 16, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    ASSERT_TRUE(file_read(file, buffer, 16, &got));
    EXPECT_EQ(got, 0u) << "end of file is no failure";
    EXPECT_EQ(file_seek(file, 1, seek_origin::begin), 1);
    file_close(file);
    EXPECT_FALSE(file_read(file, buffer, 1, &got));
    EXPECT_EQ(file_seek(file, 0, seek_origin::begin), -1);
    std::filesystem::remove(path);
}

TEST_F(SoftDisplayTest, WindowsAndReset)
{
    pm_hdc dc = pm::soft::window_create(3, 2);
    for (int32_t i = 0; i < 6; ++i)
        const_cast<uint32_t *>(pm::soft::client_pixels(dc))[i] = static_cast<uint32_t>(i + 1);
    pm::soft::window_resize(dc, 2, 3);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 2u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 1), 5u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 0, 2), 0u);
    EXPECT_EQ(pm::soft::client_pixel(dc, 2, 0), 0u) << "outside the surface";
    pm::soft::window_resize(dc, 0, 400); // an empty surface has no storage
    EXPECT_EQ(pm::soft::client_width(dc), 0);
    pm::soft::window_resize(dc, 2, 3);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 1), 0u);
    pm::soft::window_resize(dc, 3, 2);
    EXPECT_EQ(pm::soft::stretch_mode(dc), 1);
    EXPECT_EQ(stretch_mode_set(dc, stretch_color_on_color), 1);
    EXPECT_EQ(stretch_mode_set(dc, 9), 0);
    EXPECT_EQ(pm::soft::stretch_mode(dc), stretch_color_on_color);
    pm_hdc empty = pm::soft::window_create(-5, 4);
    EXPECT_EQ(pm::soft::client_width(empty), 0);
    EXPECT_EQ(pm::soft::client_height(empty), 4);
    test_dib dib = pattern_dib(4, 4);
    EXPECT_EQ(stretch(empty, dib, 0, 0, 4, 4, 0, 0, 4, 4), 4);

    EXPECT_EQ(library_load("AVIFIL32.DLL"), nullptr);
    pm::soft::provide_libraries(true);
    pm_hmodule first = library_load("AVIFIL32.DLL");
    pm_hmodule second = library_load("AVIFIL32.DLL");
    ASSERT_NE(first, nullptr);
    EXPECT_NE(second, first);
    EXPECT_NE(library_symbol(first, "AVIFileInit"), nullptr);
    library_free(first);
    EXPECT_EQ(library_symbol(first, "AVIFileInit"), nullptr);
    EXPECT_EQ(pm::soft::live_libraries(), 1);
    EXPECT_EQ(pm::soft::calls().library_frees, 1);
    EXPECT_EQ(version() >> 31, 0u);
    pm_hdc memory = memory_dc_create();
    pm_hglobal block = global_alloc(gmem_moveable, 16);
    pm::soft::set_depth(8);
    pm::soft::reset();
    EXPECT_EQ(pm::soft::depth(), 32);
    EXPECT_FALSE(pm::soft::is_window_dc(dc));
    EXPECT_EQ(pm::soft::live_memory_dcs(), 0);
    EXPECT_EQ(pm::soft::selected_object(memory), nullptr);
    EXPECT_EQ(global_lock(block), nullptr);
    EXPECT_EQ(pm::soft::calls().library_loads, 0);
    EXPECT_EQ(pm::soft::live_libraries(), 0);
    EXPECT_EQ(library_load("AVIFIL32.DLL"), nullptr);
}

} // namespace
