#include <cstring>

#include "support/library_fixture.h"
#include "platform/platform.h"

using namespace pixmora_test;

namespace {

class BuffersTest : public LibraryTest {};

uint32_t u32_at(const void *base, int offset)
{
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t *>(base) + offset, 4);
    return v;
}

uint16_t u16_at(const void *base, int offset)
{
    uint16_t v;
    std::memcpy(&v, static_cast<const uint8_t *>(base) + offset, 2);
    return v;
}

void fill_colour_table_pattern()
{
    for (int i = 0; i < 256; ++i)
        pm_state.colour_table[i] = pm_rgbquad{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                              static_cast<uint8_t>(i * 7), 0};
}

TEST_F(BuffersTest, HandlesAreTheLowestFreeSlots)
{
    start_library();
    EXPECT_EQ(pm_buffer_create(10, 10), 0);
    EXPECT_EQ(pm_buffer_create(10, 10), 1);
    EXPECT_EQ(pm_buffer_create(10, 10), 2);
    pm_buffer_destroy(0);
    EXPECT_EQ(pm_state.slot_bits[0], nullptr);
    EXPECT_EQ(pm_buffer_create(10, 10), 0);
    EXPECT_EQ(pm_buffer_create(10, 10), 3);
}

TEST_F(BuffersTest, AllSlotsInUse)
{
    start_library();
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(pm_buffer_create(4, 1), i);
    const int32_t objects = pm::soft::live_objects();
    EXPECT_EQ(pm_buffer_create(4, 1), -1);
    EXPECT_EQ(pm::soft::live_objects(), objects);
    pm_buffer_destroy(-1);
    EXPECT_EQ(pm::soft::live_objects(), objects - 256);
    EXPECT_EQ(pm_buffer_create(4, 1), 0);
}

TEST_F(BuffersTest, WidthIsRoundedUpToAMultipleOfFour)
{
    start_library();
    const int32_t h = pm_buffer_create(318, 200);
    EXPECT_EQ(pm_state.slot_width[h], 320);
    EXPECT_EQ(pm_state.slot_max_x[h], 319);
    EXPECT_EQ(pm_state.slot_stride[h], 320);
    EXPECT_EQ(pm_state.slot_height[h], 200);
    EXPECT_EQ(pm_state.slot_max_y[h], 199);
    EXPECT_EQ(pm_state.slot_min_x[h], 0);
    EXPECT_EQ(pm_state.slot_min_y[h], 0);
    EXPECT_EQ(pm_state.slot_depth[h], 8);

    const int32_t strides[][2] = {{16, 640}, {24, 960}, {32, 1280}};
    for (const auto &s : strides) {
        pm_state.new_buffer_depth = s[0];
        const int32_t d = pm_buffer_create(317, 2);
        EXPECT_EQ(pm_state.slot_stride[d], s[1]) << s[0] << " bits";
    }
}

TEST_F(BuffersTest, HeaderOfAnEightBitBufferWithColours)
{
    start_library(32);
    fill_colour_table_pattern();
    const int32_t h = pm_buffer_create(320, 200);
    const void *header = pm_state.slot_header[h];
    EXPECT_EQ(u32_at(header, 0), 40u);
    EXPECT_EQ(u32_at(header, 4), 320u);
    EXPECT_EQ(u32_at(header, 8), 200u);
    EXPECT_EQ(u16_at(header, 12), 1);
    EXPECT_EQ(u16_at(header, 14), 8);
    EXPECT_EQ(u32_at(header, 16), 0u);
    for (int offset = 20; offset < 40; offset += 4)
        EXPECT_EQ(u32_at(header, offset), 0u) << "offset " << offset;
    EXPECT_EQ(std::memcmp(static_cast<const uint8_t *>(header) + 40, pm_state.colour_table, 1024), 0);
    EXPECT_GE(pm::platform::global_size(pm_state.slot_header_block[h]), 1064u);
    ASSERT_EQ(pm::soft::calls().dib_creations.size(), 1u);
    EXPECT_EQ(pm::soft::calls().dib_creations[0].usage, 0);
    EXPECT_EQ(pm::soft::calls().dib_creations[0].dc, pm_state.window_dc);
}

TEST_F(BuffersTest, HeaderOfAnEightBitBufferWithPaletteIndices)
{
    start_library(8);
    fill_colour_table_pattern();
    const int32_t h = pm_buffer_create(64, 2);
    const auto *table = static_cast<const uint8_t *>(pm_state.slot_header[h]) + 40;
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(u16_at(table, 2 * i), i) << "index table entry " << i;
    ASSERT_EQ(pm::soft::calls().dib_creations.size(), 1u);
    EXPECT_EQ(pm::soft::calls().dib_creations[0].usage, 1);

    // Activation and sync keep the index table while the mode is on.
    pm_buffer_activate(h);
    pm_buffer_sync_colour_table();
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(u16_at(table, 2 * i), i) << "index table entry " << i;
}

TEST_F(BuffersTest, HeadersOfDeeperBuffers)
{
    start_library();
    struct Case {
        int32_t depth;
        uint32_t compression;
        uint32_t masks[4];
    };
    const Case cases[] = {{16, 3, {0xF800, 0x07E0, 0x001F, 0}},
                          {24, 0, {0, 0, 0, 0}},
                          {32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}}};
    for (const Case &c : cases) {
        pm_state.new_buffer_depth = c.depth;
        const int32_t h = pm_buffer_create(12, 5);
        const void *header = pm_state.slot_header[h];
        EXPECT_EQ(u32_at(header, 0), 40u) << c.depth;
        EXPECT_EQ(u16_at(header, 14), c.depth);
        EXPECT_EQ(u32_at(header, 16), c.compression) << c.depth;
        if (c.depth == 24)
            continue;
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(u32_at(header, 40 + 4 * m), c.masks[m]) << c.depth << " bits, mask " << m;
    }
}

TEST_F(BuffersTest, RowsAreStoredBottomUp)
{
    start_library();
    const int32_t h = make_buffer(320, 200);
    EXPECT_EQ(pixel_at(0, 0), pm_state.slot_bits[h] + 199 * 320);
    EXPECT_EQ(pixel_at(0, 199), pm_state.slot_bits[h]);
    EXPECT_EQ(pm_state.active_bits, pm_state.slot_bits[h]);
    EXPECT_EQ(pm_state.active_max_y, 199);
    EXPECT_EQ(pm_state.active_width, 320);
    EXPECT_EQ(pm_state.clip_max_x, 319);
    EXPECT_EQ(pm_state.clip_max_y, 199);
    EXPECT_EQ(pm_state.active_header, pm_state.slot_header[h]);

    // What the display shows confirms the layout: the last row in memory is
    // the top row of the picture.
    pm_state.colour_table[9] = pm_rgbquad{0x30, 0x20, 0x10, 0};
    pm_buffer_sync_colour_table();
    std::memset(pm_state.slot_bits[h] + 199 * 320, 9, 320);
    pm_present(0, 319, 0, 199, 0, 319, 0, 199);
    EXPECT_EQ(pm::soft::client_pixel(pm_state.window_dc, 0, 0), 0x102030u);
    EXPECT_EQ(pm::soft::client_pixel(pm_state.window_dc, 319, 0), 0x102030u);
    EXPECT_NE(pm::soft::client_pixel(pm_state.window_dc, 0, 1), 0x102030u);
}

TEST_F(BuffersTest, ActivationRefusals)
{
    start_library();
    const int32_t h = make_buffer(8, 8);
    const int32_t free_slot = h + 1;
    EXPECT_EQ(pm_buffer_activate(-1), -1);
    EXPECT_EQ(pm_buffer_activate(256), -1);
    EXPECT_EQ(pm_buffer_activate(INT32_MIN), -1);
    EXPECT_EQ(pm_buffer_activate(free_slot), -2);
    EXPECT_EQ(pm_state.active_index, h);
}

TEST_F(BuffersTest, PixelLookupFollowsTheActiveDepth)
{
    start_library();
    pm_state.logical_palette.palPalEntry[5] = pm_paletteentry{255, 0, 0, 1};
    pm_state.logical_palette.palPalEntry[6] = pm_paletteentry{0x11, 0x22, 0x33, 1};

    // 16-bit entries are 5-6-5 values, little-endian like the pixels.
    make_buffer(4, 4, 16);
    const uint16_t other565 = ((0x11 >> 3) << 11) | ((0x22 >> 2) << 5) | (0x33 >> 3);
    const uint8_t entries16[4] = {0x00, 0xF8, other565 & 0xFF, other565 >> 8};
    EXPECT_EQ(std::memcmp(pm_state.pixel_lookup + 10, entries16, 4), 0);

    for (int32_t depth : {24, 32}) {
        std::memset(pm_state.pixel_lookup, 0xEE, sizeof pm_state.pixel_lookup);
        make_buffer(4, 4, depth);
        const uint8_t red[4] = {0x00, 0xFF, 0x00, 0x00};
        const uint8_t other[4] = {0x00, 0x11, 0x22, 0x33};
        EXPECT_EQ(std::memcmp(pm_state.pixel_lookup + 20, red, 4), 0) << depth;
        EXPECT_EQ(std::memcmp(pm_state.pixel_lookup + 24, other, 4), 0) << depth;
    }

    // An 8-bit activation leaves the table alone.
    std::memset(pm_state.pixel_lookup, 0xAB, sizeof pm_state.pixel_lookup);
    make_buffer(4, 4, 8);
    EXPECT_EQ(pm_state.pixel_lookup[0], 0xAB);
}

TEST_F(BuffersTest, SavedBitmapIsTheMemoryContextsOwn)
{
    start_library();
    pm_hgdiobj own = pm::soft::selected_object(pm_state.memory_dc);
    ASSERT_NE(own, nullptr);
    const int32_t a = pm_buffer_create(8, 8);
    const int32_t b = pm_buffer_create(8, 8);

    pm_buffer_activate(a);
    EXPECT_EQ(pm_state.saved_bitmap, own);
    EXPECT_EQ(pm::soft::selected_object(pm_state.memory_dc), pm_state.slot_bitmap[a]);
    pm_buffer_activate(b);
    EXPECT_EQ(pm_state.saved_bitmap, own);
    EXPECT_EQ(pm::soft::selected_object(pm_state.memory_dc), pm_state.slot_bitmap[b]);

    pm_buffer_deactivate();
    EXPECT_EQ(pm_state.active_index, -1);
    EXPECT_EQ(pm_state.saved_bitmap, nullptr);
    EXPECT_EQ(pm::soft::selected_object(pm_state.memory_dc), own);

    // A deactivation with nothing remembered leaves the context as it is.
    pm_buffer_deactivate();
    EXPECT_EQ(pm::soft::selected_object(pm_state.memory_dc), own);

    pm_buffer_activate(a);
    EXPECT_EQ(pm_state.saved_bitmap, own);
}

TEST_F(BuffersTest, DestroyRefusals)
{
    start_library();
    const int32_t a = pm_buffer_create(8, 8);
    const int32_t b = pm_buffer_create(8, 8);
    pm_buffer_activate(a);
    const int32_t objects = pm::soft::live_objects();

    EXPECT_EQ(pm_buffer_destroy(a), 0); // the active buffer
    EXPECT_EQ(pm_buffer_destroy(256), 0);
    EXPECT_EQ(pm_buffer_destroy(200), 0); // a free slot
    EXPECT_EQ(pm_buffer_destroy(-1), 0);  // every buffer, while one is active
    EXPECT_EQ(pm::soft::live_objects(), objects);
    EXPECT_NE(pm_state.slot_bits[a], nullptr);
    EXPECT_NE(pm_state.slot_bits[b], nullptr);
    pm_state.active_bits[0] = 1; // still usable

    pm_buffer_destroy(b);
    EXPECT_EQ(pm_state.slot_bits[b], nullptr);
    pm_buffer_destroy(b); // twice is harmless
    EXPECT_EQ(pm::soft::live_objects(), objects - 1);

    pm_buffer_deactivate();
    pm_buffer_destroy(-7);
    EXPECT_EQ(pm_state.slot_bits[a], nullptr);
    EXPECT_EQ(pm::soft::live_objects(), objects - 2);
}

TEST_F(BuffersTest, SyncWritesOnlyAnActiveEightBitBuffer)
{
    start_library();
    const int32_t h = pm_buffer_create(8, 8);
    auto *table = static_cast<uint8_t *>(pm_state.slot_header[h]) + 40;
    fill_colour_table_pattern();
    pm_buffer_sync_colour_table(); // no buffer active
    EXPECT_NE(std::memcmp(table, pm_state.colour_table, 1024), 0);

    const int32_t deep = make_buffer(8, 8, 16);
    uint8_t before[108];
    std::memcpy(before, pm_state.slot_header[deep], sizeof before);
    pm_buffer_sync_colour_table();
    EXPECT_EQ(std::memcmp(before, pm_state.slot_header[deep], sizeof before), 0);

    pm_buffer_activate(h);
    fill_colour_table_pattern();
    pm_state.colour_table[3].rgbRed = 99;
    pm_buffer_sync_colour_table();
    EXPECT_EQ(std::memcmp(table, pm_state.colour_table, 1024), 0);
}

TEST_F(BuffersTest, BadSizesAreRefused)
{
    start_library();
    const int32_t objects = pm::soft::live_objects();
    const int32_t sizes[][2] = {{0, 10},         {10, 0},       {-4, 10},          {10, -1},
                                {INT32_MAX, 1}, {1, INT32_MAX}, {70000, 70000}, {INT32_MAX - 2, 1}};
    for (int32_t depth : {8, 32}) {
        pm_state.new_buffer_depth = depth;
        for (const auto &s : sizes)
            EXPECT_EQ(pm_buffer_create(s[0], s[1]), -2) << s[0] << " x " << s[1] << " at " << depth;
    }
    pm_state.new_buffer_depth = 12;
    EXPECT_EQ(pm_buffer_create(8, 8), -2);
    EXPECT_EQ(pm::soft::live_objects(), objects);
    EXPECT_EQ(pm_state.slot_bits[0], nullptr);
}

TEST_F(BuffersTest, NewBufferDepthSetterTakesOnlyBufferDepths)
{
    start_library();
    for (int32_t depth : {0, 1, 4, 15, 12, 64, -8, INT32_MIN}) {
        EXPECT_EQ(pm_set_new_buffer_depth(depth), -1) << depth;
        EXPECT_EQ(pm_state.new_buffer_depth, 8) << depth;
    }
    for (int32_t depth : {16, 24, 32, 8}) {
        EXPECT_EQ(pm_set_new_buffer_depth(depth), 0) << depth;
        const int32_t h = pm_buffer_create(4, 4);
        ASSERT_GE(h, 0) << depth;
        EXPECT_EQ(pm_state.slot_depth[h], depth);
    }
}

TEST_F(BuffersTest, PlatformFailuresKeepNothing)
{
    start_library();
    const int32_t objects = pm::soft::live_objects();
    pm::soft::fail_next_dib_sections(1);
    EXPECT_EQ(pm_buffer_create(8, 8), -2);
    pm::soft::fail_next_global_allocs(1);
    EXPECT_EQ(pm_buffer_create(8, 8), -2);
    EXPECT_EQ(pm::soft::live_objects(), objects);
    EXPECT_EQ(pm_state.slot_bits[0], nullptr);
    EXPECT_EQ(pm_buffer_create(8, 8), 0);
}

TEST_F(BuffersTest, MixedDepthsKeepEveryHeaderWhole)
{
    // On a palette display an 8-bit buffer starts with palette indices; a
    // deeper buffer turns the mode off, after which the 8-bit buffer takes
    // the full colour table into its own block.
    start_library(8);
    const int32_t eight = pm_buffer_create(16, 4);
    make_buffer(16, 4, 32);
    EXPECT_EQ(pm_state.palette_index_mode, 0);
    EXPECT_EQ(pm_state.header_size, 108);

    fill_colour_table_pattern();
    pm_buffer_activate(eight);
    pm_buffer_sync_colour_table();
    const auto *table = static_cast<const uint8_t *>(pm_state.slot_header[eight]) + 40;
    EXPECT_EQ(std::memcmp(table, pm_state.colour_table, 1024), 0);

    // An 8-bit buffer made while a deeper one is active still gets a plain
    // header and a table of its own form.
    make_buffer(16, 4, 16);
    pm_state.new_buffer_depth = 8;
    const int32_t later = pm_buffer_create(16, 4);
    EXPECT_EQ(u32_at(pm_state.slot_header[later], 0), 40u);
    EXPECT_EQ(std::memcmp(static_cast<const uint8_t *>(pm_state.slot_header[later]) + 40, pm_state.colour_table, 1024),
              0);
    // A 16-bit buffer made while a 24-bit one is active gets its masks.
    make_buffer(16, 4, 24);
    pm_state.new_buffer_depth = 16;
    const int32_t sixteen = pm_buffer_create(16, 4);
    EXPECT_EQ(u32_at(pm_state.slot_header[sixteen], 40), 0xF800u);
    EXPECT_EQ(u32_at(pm_state.slot_header[sixteen], 48), 0x001Fu);
}

} // namespace
