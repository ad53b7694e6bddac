// Palette management: the built-in colours, the palette's composition per
// display depth, realization, and runs of entries kept in step across the
// logical palette, the colour table, the pixel lookup table, the active
// buffer's header and the realized palette object.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "graphics/internal.h"
#include "graphics/palette.h"
#include "support/library_fixture.h"

namespace {

using pixmora_test::LibraryTest;
using pixmora_test::make_buffer;
using pixmora_test::pixel_at;
using pixmora_test::start_library;

struct rgb {
    uint8_t r, g, b;
};

// Equal byte blocks, or the first offset where they differ.
::testing::AssertionResult same_bytes(const void *expected, const void *actual, size_t size)
{
    const auto *e = static_cast<const uint8_t *>(expected);
    const auto *a = static_cast<const uint8_t *>(actual);
    for (size_t i = 0; i < size; ++i)
        if (e[i] != a[i])
            return ::testing::AssertionFailure() << "first difference at byte " << i << " of " << size
                                                 << ": expected " << int(e[i]) << ", got " << int(a[i]);
    return ::testing::AssertionSuccess();
}

rgb table_colour(int32_t index)
{
    return {pm::default_colour_table[3 * index], pm::default_colour_table[3 * index + 1],
            pm::default_colour_table[3 * index + 2]};
}

// The identity index table of an 8-bit header in palette index mode.
std::vector<uint16_t> identity_indices()
{
    std::vector<uint16_t> indices(256);
    for (int i = 0; i < 256; ++i)
        indices[i] = static_cast<uint16_t>(i);
    return indices;
}

uint8_t *header_colours()
{
    return static_cast<uint8_t *>(pm_state.active_header) + 40;
}

TEST(DefaultColourTable, SpotValuesOfEveryBand)
{
    const struct {
        int32_t index;
        rgb colour;
    } cases[] = {
        {0, {0, 0, 0}},         {1, {128, 0, 0}},       {8, {192, 220, 192}},   {9, {164, 200, 240}},
        {16, {170, 85, 0}},     {29, {255, 255, 255}},  {30, {0, 0, 255}},      {34, {255, 0, 255}},
        {38, {255, 0, 0}},      {42, {255, 255, 0}},    {46, {0, 255, 0}},      {50, {0, 255, 255}},
        {53, {0, 64, 255}},     {54, {125, 125, 255}},  {102, {0, 0, 113}},     {161, {113, 105, 80}},
        {245, {44, 48, 64}},    {246, {255, 251, 240}}, {247, {160, 160, 164}}, {255, {255, 255, 255}},
    };
    for (const auto &c : cases) {
        const rgb got = table_colour(c.index);
        EXPECT_TRUE(got.r == c.colour.r && got.g == c.colour.g && got.b == c.colour.b)
            << "entry " << c.index << ": got (" << int(got.r) << ", " << int(got.g) << ", " << int(got.b) << ")";
    }
}

// Which system palette entry logical entry i holds at a display depth, or -1
// for a built-in colour.
int32_t system_source(int32_t depth, int32_t i)
{
    if (depth > 8)
        return -1;
    if (depth == 8)
        return (i < 10 || i >= 246) ? i : -1;
    return i < 8 ? i : i >= 248 ? i - 240 : -1;
}

class DefaultPaletteAtDepth : public LibraryTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DefaultPaletteAtDepth, SystemColoursWhereTheyBelongAndBuiltInsFlagged)
{
    const int32_t display = GetParam();
    ASSERT_TRUE(pm::soft::set_depth(display));
    const int32_t depth = pm_display_depth();
    pm_hpalette palette = pm_create_default_palette();
    ASSERT_NE(palette, nullptr);

    const pm_paletteentry *system = pm::soft::system_palette();
    const pm_paletteentry *logical = pm_state.logical_palette.palPalEntry;
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t source = system_source(depth, i);
        pm_paletteentry expected;
        if (source >= 0) {
            expected = system[source];
        } else {
            const rgb c = table_colour(i);
            expected = {c.r, c.g, c.b, 0x01};
        }
        ASSERT_TRUE(same_bytes(&expected, &logical[i], 4)) << "display depth " << display << ", entry " << i;
        const pm_rgbquad mirrored{logical[i].peBlue, logical[i].peGreen, logical[i].peRed, 0};
        ASSERT_TRUE(same_bytes(&mirrored, &pm_state.colour_table[i], 4)) << "colour table entry " << i;
    }
    EXPECT_EQ(pm_state.logical_palette.palVersion, 0x0300);
    EXPECT_EQ(pm_state.logical_palette.palNumEntries, 256);

    const pm_paletteentry *object = pm::soft::palette_entries(palette);
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(same_bytes(logical, object, 256 * sizeof(pm_paletteentry))) << "palette object";
}

INSTANTIATE_TEST_SUITE_P(DisplayDepths, DefaultPaletteAtDepth, ::testing::Values(1, 4, 8, 15, 16, 24, 32));

TEST_F(LibraryTest, EachDefaultPaletteIsANewObjectThatNothingRecords)
{
    pm::soft::set_depth(8);
    pm_hpalette first = pm_create_default_palette();
    pm_hpalette second = pm_create_default_palette();
    EXPECT_NE(first, second);
    EXPECT_EQ(pm_state.palette_handle, nullptr);
}

TEST_F(LibraryTest, DefaultPaletteLeavesPixelLookupUntilNextChange)
{
    start_library(32);
    make_buffer(4, 1, 16);
    uint8_t before[sizeof pm_state.pixel_lookup];
    std::memcpy(before, pm_state.pixel_lookup, sizeof before);
    pm_create_default_palette();
    EXPECT_TRUE(same_bytes(before, pm_state.pixel_lookup, sizeof before));

    // Re-activation brings it into step: entry 38 is red.
    pm_buffer_activate(pm_state.active_index);
    EXPECT_EQ(pm::lookup16(38), 0xF800);
}

TEST_F(LibraryTest, RealizingAgainKeepsTheFirstPreviousPaletteAndShutdownRestoresIt)
{
    pm_hdc dc = start_library(8);
    const pm_hpalette original = pm::soft::selected_palette(dc);
    ASSERT_NE(original, nullptr) << "a window context starts with the default palette";
    pm_hpalette first = pm_create_default_palette();
    pm_hpalette second = pm_create_default_palette();

    EXPECT_EQ(pm_realize_palette(first), 0);
    EXPECT_EQ(pm_state.first_previous_palette, original);
    EXPECT_EQ(pm_realize_palette(second), 0);
    EXPECT_EQ(pm_state.palette_handle, second);
    EXPECT_EQ(pm_state.first_previous_palette, original);
    EXPECT_EQ(pm::soft::selected_palette(dc), second);

    const auto &calls = pm::soft::calls();
    ASSERT_EQ(calls.palette_selects.size(), 2u);
    EXPECT_EQ(calls.palette_selects[1].previous, first);
    EXPECT_EQ(calls.palette_selects[0].background, 0) << "selected as a foreground palette";
    EXPECT_EQ(calls.palette_realizations.size(), 2u);

    pm_shutdown();
    EXPECT_EQ(pm::soft::selected_palette(dc), original);
}

TEST_F(LibraryTest, ColourTableIsBlueFirstAndCopiedWholeIntoThe8BitHeader)
{
    start_library(32);
    make_buffer(4, 1, 8);
    ASSERT_EQ(pm_state.palette_index_mode, 0);
    const uint8_t colour[3] = {0x11, 0x22, 0x33};
    pm_set_palette_entries(77, 1, colour);

    const uint8_t expected[4] = {0x33, 0x22, 0x11, 0x00};
    EXPECT_TRUE(same_bytes(expected, &pm_state.colour_table[77], 4));
    const pm_paletteentry entry{0x11, 0x22, 0x33, 0x01};
    EXPECT_TRUE(same_bytes(&entry, &pm_state.logical_palette.palPalEntry[77], 4));
    EXPECT_TRUE(same_bytes(pm_state.colour_table, header_colours(), 1024)) << "header colour table";
}

TEST_F(LibraryTest, PixelLookupAt16BitsIs565)
{
    start_library(32);
    make_buffer(4, 1, 16);
    const struct {
        rgb colour;
        uint16_t pixel;
    } cases[] = {
        {{255, 255, 255}, 0xFFFF}, {{255, 0, 0}, 0xF800}, {{0, 255, 0}, 0x07E0},
        {{0, 0, 255}, 0x001F},     {{7, 3, 7}, 0x0000},   {{8, 4, 8}, 0x0821},
    };
    std::vector<uint8_t> triples;
    for (const auto &c : cases)
        triples.insert(triples.end(), {c.colour.r, c.colour.g, c.colour.b});
    const int32_t first = 200;
    pm_set_palette_entries(first, static_cast<int32_t>(std::size(cases)), triples.data());
    for (size_t n = 0; n < std::size(cases); ++n)
        EXPECT_EQ(pm::lookup16(first + static_cast<int32_t>(n)), cases[n].pixel) << "case " << n;
}

TEST_F(LibraryTest, PixelLookupAt24And32BitsIsZeroRedGreenBlue)
{
    for (int32_t depth : {24, 32}) {
        pixmora_test::reset_library();
        start_library(32);
        make_buffer(4, 1, depth);
        const uint8_t colour[3] = {0x11, 0x22, 0x33};
        pm_set_palette_entries(255, 1, colour);
        const uint8_t expected[4] = {0x00, 0x11, 0x22, 0x33};
        EXPECT_TRUE(same_bytes(expected, pm_state.pixel_lookup + 4 * 255, 4)) << "depth " << depth;
    }
}

TEST_F(LibraryTest, ARunTouchesOnlyItsEntries)
{
    start_library(32);
    make_buffer(4, 1, 32);
    pm_state_record before;
    std::memcpy(static_cast<void *>(&before), &pm_state, sizeof pm_state);

    const uint8_t colours[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    pm_set_palette_entries(100, 3, colours);
    for (int32_t i = 0; i < 256; ++i) {
        if (i >= 100 && i < 103)
            continue;
        ASSERT_TRUE(same_bytes(&before.logical_palette.palPalEntry[i], &pm_state.logical_palette.palPalEntry[i], 4))
            << "logical entry " << i;
        ASSERT_TRUE(same_bytes(&before.colour_table[i], &pm_state.colour_table[i], 4)) << "colour entry " << i;
        ASSERT_TRUE(same_bytes(&before.pixel_lookup[4 * i], &pm_state.pixel_lookup[4 * i], 4)) << "lookup " << i;
    }
    const uint8_t last[4] = {0, 7, 8, 9};
    EXPECT_TRUE(same_bytes(last, pm_state.pixel_lookup + 4 * 102, 4));
}

// Calls that must change nothing at all: no table, no header, no platform call.
TEST_F(LibraryTest, RefusedRunsChangeNothing)
{
    const uint8_t colours[3 * 8] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    const struct {
        const char *name;
        int32_t first, count;
        const uint8_t *rgb;
        bool active;
    } cases[] = {
        {"no active buffer", 10, 1, colours, false},
        {"count 0", 10, 0, colours, true},
        {"negative first", -1, 2, colours, true},
        {"negative count", 10, -1, colours, true},
        {"run past the end", 250, 7, colours, true},
        {"first at the end", 256, 1, colours, true},
        {"first near the int limit", INT32_MAX, 1, colours, true},
        {"count near the int limit", 1, INT32_MAX, colours, true},
        {"most negative first", INT32_MIN, 8, colours, true},
        {"null colours", 0, 1, nullptr, true},
    };
    for (int32_t depth : {8, 32}) {
        for (const auto &c : cases) {
            pixmora_test::reset_library();
            start_library(32);
            pm_realize_palette(pm_create_default_palette());
            make_buffer(4, 1, depth);
            if (!c.active)
                pm_buffer_deactivate();
            pm::soft::clear_calls();
            pm_state_record before;
            std::memcpy(static_cast<void *>(&before), &pm_state, sizeof pm_state);
            // An 8-bit header block holds a 1024-byte colour table, a 32-bit one its masks.
            const auto *block = static_cast<const uint8_t *>(pm_state.active_header);
            const std::vector<uint8_t> header(block, block + (depth == 8 ? 40 + 1024 : 108));

            EXPECT_EQ(pm_set_palette_entries(c.first, c.count, c.rgb), 0) << c.name;
            EXPECT_TRUE(same_bytes(&before, &pm_state, sizeof pm_state)) << c.name << ", buffer depth " << depth;
            EXPECT_TRUE(same_bytes(header.data(), pm_state.active_header, header.size())) << c.name << " (header)";
            EXPECT_TRUE(pm::soft::calls().palette_animations.empty()) << c.name;
        }
    }
}

TEST_F(LibraryTest, AFullRunIsAccepted)
{
    start_library(32);
    make_buffer(4, 1, 8);
    std::vector<uint8_t> colours(768);
    for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = static_cast<uint8_t>(i * 7);
    pm_set_palette_entries(0, 256, colours.data());
    EXPECT_EQ(pm_state.colour_table[255].rgbRed, colours[765]);
    EXPECT_EQ(pm_state.colour_table[0].rgbBlue, colours[2]);
}

TEST_F(LibraryTest, PaletteIndexModeKeepsTheIndexTableAndAnimatesTheRealizedPalette)
{
    start_library(8);
    pm_hpalette palette = pm_create_default_palette();
    pm_realize_palette(palette);
    make_buffer(4, 1, 8);
    ASSERT_EQ(pm_state.palette_index_mode, 1);
    pm::soft::clear_calls();

    const uint8_t colours[6] = {10, 20, 30, 40, 50, 60};
    pm_set_palette_entries(120, 2, colours);

    const std::vector<uint16_t> identity = identity_indices();
    EXPECT_TRUE(same_bytes(identity.data(), header_colours(), 512)) << "index table";
    const pm_paletteentry expected[2] = {{10, 20, 30, 0x01}, {40, 50, 60, 0x01}};
    EXPECT_TRUE(same_bytes(expected, &pm_state.logical_palette.palPalEntry[120], 8));
    const uint8_t mirrored[8] = {30, 20, 10, 0, 60, 50, 40, 0};
    EXPECT_TRUE(same_bytes(mirrored, &pm_state.colour_table[120], 8));

    const auto &animations = pm::soft::calls().palette_animations;
    ASSERT_EQ(animations.size(), 1u);
    EXPECT_EQ(animations[0].palette, palette);
    EXPECT_EQ(animations[0].first, 120u);
    EXPECT_EQ(animations[0].count, 2u);
    EXPECT_TRUE(same_bytes(expected, pm::soft::palette_entries(palette) + 120, 8)) << "realized palette";
}

// Fills the active 8-bit buffer with one index, gives that index a new
// colour and presents the buffer 1:1; every client pixel shows the colour.
void expect_presented_colour_follows_the_palette(pm_hdc dc)
{
    constexpr int32_t width = 8, height = 4, index = 140;
    for (int32_t y = 0; y < height; ++y)
        std::memset(pixel_at(0, y), index, width);
    const uint8_t colour[3] = {0x12, 0xC4, 0x7E};
    pm_set_palette_entries(index, 1, colour);
    pm_present(0, width - 1, 0, height - 1, 0, width - 1, 0, height - 1);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            ASSERT_EQ(pm::soft::client_pixel(dc, x, y), 0x12C47Eu) << "client pixel (" << x << ", " << y << ")";
}

// On a palette display (4 or 8 bits) the buffer's header holds indices into
// the realized palette, which the change animates; on a true-colour display
// the header's own colour table carries the new colour.
class PresentedColoursAtDepth : public LibraryTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PresentedColoursAtDepth, FollowANewEntry)
{
    const int32_t display = GetParam();
    pm_hdc dc = start_library(display, 8, 4);
    pm_realize_palette(pm_create_default_palette());
    make_buffer(8, 4, 8);
    ASSERT_EQ(pm_state.palette_index_mode, display <= 8 ? 1 : 0);
    expect_presented_colour_follows_the_palette(dc);
}

INSTANTIATE_TEST_SUITE_P(DisplayDepths, PresentedColoursAtDepth, ::testing::Values(4, 8, 32));

} // namespace
