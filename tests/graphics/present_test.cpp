#include <cstring>

#include "support/library_fixture.h"
#include "platform/platform.h"

using namespace pixmora_test;

namespace {

class PresentTest : public LibraryTest {};

// A 320 x 200 8-bit picture whose pixel (x, y) is (x + 3 y) mod 256, with
// colour i = (i, 255 - i, 7 i mod 256).
uint32_t colour_of(int index)
{
    return static_cast<uint32_t>(index) << 16 | static_cast<uint32_t>(255 - index) << 8 |
           static_cast<uint32_t>((index * 7) & 255);
}

int32_t make_known_picture()
{
    for (int i = 0; i < 256; ++i)
        pm_state.colour_table[i] = pm_rgbquad{static_cast<uint8_t>((i * 7) & 255), static_cast<uint8_t>(255 - i),
                                              static_cast<uint8_t>(i), 0};
    const int32_t h = make_buffer(320, 200);
    pm_buffer_sync_colour_table();
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            *pixel_at(x, y) = static_cast<uint8_t>(x + 3 * y);
    return h;
}

// Source column shown at destination column d when n columns are shrunk
// into m: the last column of each group.
int32_t shrunk_column(int32_t d, int32_t m, int32_t n)
{
    int32_t last = 0;
    for (int32_t s = 0; s < n; ++s)
        if ((2 * int64_t{s} + 1) * m / (2 * int64_t{n}) <= d)
            last = s;
    return last;
}

// Source row shown at destination row d when n rows are shrunk into m: the
// first row of each group.
int32_t shrunk_row(int32_t d, int32_t m, int32_t n)
{
    for (int32_t s = 0; s < n; ++s)
        if ((2 * int64_t{s} + 1) * m / (2 * int64_t{n}) >= d)
            return s;
    return n - 1;
}

void expect_client_shows_picture(pm_hdc dc, int32_t width, int32_t height)
{
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = shrunk_column(x, width, 320);
            const int32_t sy = shrunk_row(y, height, 200);
            const uint32_t expected = colour_of((sx + 3 * sy) & 255);
            ASSERT_EQ(pm::soft::client_pixel(dc, x, y), expected)
                << "client pixel (" << x << ", " << y << ") should show source (" << sx << ", " << sy << ")";
        }
}

TEST_F(PresentTest, NothingWithoutAnActiveBuffer)
{
    start_library();
    EXPECT_EQ(pm_present(0, 319, 0, 199, 0, 639, 0, 399), 0);
    EXPECT_TRUE(pm::soft::calls().stretches.empty());
}

TEST_F(PresentTest, AttachSetsTheContextsAndTheStretchMode)
{
    pm::soft::set_depth(32);
    pm_hdc dc = pm::soft::window_create(10, 10);
    EXPECT_EQ(pm_attach_dc(dc), 0);
    EXPECT_EQ(pm_state.window_dc, dc);
    EXPECT_EQ(pm_state.text_dc, dc);
    EXPECT_EQ(pm::soft::stretch_mode(dc), pm::platform::stretch_color_on_color);
}

TEST_F(PresentTest, StretchArguments)
{
    pm_hdc dc = start_library();
    make_buffer(320, 200);
    pm_present(0, 319, 0, 199, 0, 639, 0, 399);
    pm_present(0, 319, 0, 99, 5, 14, 7, 26);
    pm_present(0, 319, 0, 199, 0, -1, 0, -1); // before the first size message

    const auto &s = pm::soft::calls().stretches;
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].dc, dc);
    EXPECT_EQ(s[0].dst_x, 0);
    EXPECT_EQ(s[0].dst_y, 0);
    EXPECT_EQ(s[0].dst_width, 640);
    EXPECT_EQ(s[0].dst_height, 400);
    EXPECT_EQ(s[0].src_x, 0);
    EXPECT_EQ(s[0].src_y, 0);
    EXPECT_EQ(s[0].src_width, 320);
    EXPECT_EQ(s[0].src_height, 200);
    EXPECT_EQ(s[0].bits, pm_state.active_bits);
    EXPECT_EQ(s[0].header, pm_state.active_header);
    EXPECT_EQ(s[0].usage, 0);
    EXPECT_EQ(s[0].rop, 0x00CC0020u);

    // The top half: source y is measured from the bottom row.
    EXPECT_EQ(s[1].src_y, 100);
    EXPECT_EQ(s[1].src_height, 100);
    EXPECT_EQ(s[1].dst_x, 5);
    EXPECT_EQ(s[1].dst_y, 7);
    EXPECT_EQ(s[1].dst_width, 10);
    EXPECT_EQ(s[1].dst_height, 20);

    EXPECT_EQ(s[2].dst_width, 0);
    EXPECT_EQ(s[2].dst_height, 0);
}

TEST_F(PresentTest, UsageFollowsPaletteIndexMode)
{
    start_library(8);
    make_buffer(8, 8);
    pm_present(0, 7, 0, 7, 0, 7, 0, 7);
    make_buffer(8, 8, 32); // a deeper buffer turns the mode off
    pm_present(0, 7, 0, 7, 0, 7, 0, 7);
    const auto &s = pm::soft::calls().stretches;
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].usage, 1);
    EXPECT_EQ(s[1].usage, 0);
}

TEST_F(PresentTest, DoubledPictureIsExact)
{
    pm_hdc dc = start_library(32, 640, 400);
    make_known_picture();
    pm_present(0, 319, 0, 199, 0, 639, 0, 399);
    for (int32_t y = 0; y < 400; ++y)
        for (int32_t x = 0; x < 640; ++x)
            ASSERT_EQ(pm::soft::client_pixel(dc, x, y), colour_of((x / 2 + 3 * (y / 2)) & 255))
                << "client pixel (" << x << ", " << y << ")";
}

TEST_F(PresentTest, ShrunkPictureDropsRowsAndColumns)
{
    pm_hdc dc = start_library(32, 100, 60);
    make_known_picture();
    pm_present(0, 319, 0, 199, 0, 99, 0, 59);
    expect_client_shows_picture(dc, 100, 60);
}

TEST_F(PresentTest, ZeroOrReversedDestinationDrawsNothing)
{
    pm_hdc dc = start_library(32, 64, 40);
    pm::soft::client_fill(dc, 0x123456);
    make_known_picture();
    pm_present(0, 319, 0, 199, 0, -1, 0, -1);
    pm_present(0, 319, 0, 199, 10, 5, 0, 39);
    pm_present(INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 0, 39);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 64; ++x)
            ASSERT_EQ(pm::soft::client_pixel(dc, x, y), 0x123456u) << "(" << x << ", " << y << ")";
}

TEST_F(PresentTest, DeeperBuffersShowTheirOwnPixels)
{
    pm_hdc dc = start_library(32, 4, 2);
    make_buffer(4, 2, 32);
    const uint8_t bgrx[4] = {0x33, 0x22, 0x11, 0};
    std::memcpy(pixel_at(1, 0), bgrx, 4);
    make_buffer(4, 2, 16);
    const uint8_t red[2] = {0x00, 0xF8}; // 0xF800, little-endian
    std::memcpy(pixel_at(2, 1), red, 2);
    pm_present(0, 3, 0, 1, 0, 3, 0, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 2, 1), 0xFF0000u); // 5 bits widened by repeating the top bits
    pm_buffer_activate(0);
    pm_present(0, 3, 0, 1, 0, 3, 0, 1);
    EXPECT_EQ(pm::soft::client_pixel(dc, 1, 0), 0x112233u);
}

} // namespace
