#include <cstring>

#include "support/library_fixture.h"
#include "platform/platform.h"

using namespace pixmora_test;

namespace {

class ContextTest : public LibraryTest {};

bool all_slots_free()
{
    for (const uint8_t *bits : pm_state.slot_bits)
        if (bits != nullptr)
            return false;
    return true;
}

TEST_F(ContextTest, ProgramLoadValues)
{
    EXPECT_EQ(pm_state.active_index, -1);
    EXPECT_EQ(pm_state.new_buffer_depth, 8);
    EXPECT_EQ(pm_state.input_block, pm_state.read_buffer);
    EXPECT_EQ(pm_state.input_block_size, 4096u);
    EXPECT_EQ(pm_state.logical_palette.palVersion, 0x0300);
    EXPECT_EQ(pm_state.logical_palette.palNumEntries, 256);
    EXPECT_STREQ(pm_state.video_entry_points[0].name, "AVIFileCreateStreamA");
    EXPECT_STREQ(pm_state.video_entry_points[16].name, "AVIStreamWrite");
    EXPECT_EQ(pm_state.memory_dc, nullptr);
    EXPECT_EQ(pm_state.header_alloc_size, 0);
}

TEST_F(ContextTest, StartupSetsTheWorkingState)
{
    pm_state.slot_bits[7] = pm_state.read_buffer; // a stale mark from before
    pm_state.cursor_x = 5;
    pm_state.keyboard_state[3] = 0x80;
    pm_state.input_block = nullptr;
    start_library(32);

    EXPECT_EQ(pm_state.active_index, -1);
    EXPECT_EQ(pm_state.cursor_x, 0);
    EXPECT_EQ(pm_state.cursor_y, 0);
    EXPECT_EQ(pm_state.new_buffer_depth, 8);
    EXPECT_EQ(pm_state.header_size, 40);
    EXPECT_TRUE(all_slots_free());
    EXPECT_EQ(pm_state.input_block, pm_state.read_buffer);
    EXPECT_EQ(pm_state.input_block_size, 4096u);
    EXPECT_EQ(pm_state.keyboard_state[3], 0);
    EXPECT_EQ(pm::soft::calls().keyboard_state_sets, 1);
    EXPECT_NE(pm_state.memory_dc, nullptr);
    EXPECT_EQ(pm_state.saved_bitmap, nullptr);
    EXPECT_EQ(pm_state.platform_is_nt, 1);
}

TEST_F(ContextTest, PaletteIndexModeFollowsTheDisplayDepth)
{
    struct Case {
        int32_t display;
        int32_t reported;
        int32_t mode;
        int32_t alloc;
    };
    const Case cases[] = {{1, 1, 1, 552},     {4, 4, 1, 552},     {8, 8, 1, 552},     {15, 16, 0, 1064},
                          {16, 16, 0, 1064}, {24, 24, 0, 1064}, {32, 32, 0, 1064}};
    for (const Case &c : cases) {
        reset_library();
        start_library(c.display);
        EXPECT_EQ(pm_display_depth(), c.reported) << "display " << c.display;
        EXPECT_EQ(pm_state.palette_index_mode, c.mode) << "display " << c.display;
        EXPECT_EQ(pm_state.header_alloc_size, c.alloc) << "display " << c.display;
    }
}

TEST_F(ContextTest, StartupWithoutTheVideoLibraryStillWorks)
{
    start_library();
    EXPECT_EQ(pm::soft::calls().library_loads, 1);
    EXPECT_EQ(pm_state.video_library, nullptr);
    for (const pm_entry_point &point : pm_state.video_entry_points)
        EXPECT_EQ(point.address, nullptr);
    EXPECT_EQ(make_buffer(16, 16), 0);
}

// Shut-down frees only what its start-up loaded: a handle kept from an
// earlier start-up may, by then, name a library the program loaded itself.
TEST_F(ContextTest, ShutdownFreesTheVideoLibraryOnce)
{
    pm::soft::provide_libraries(true);
    start_library();
    ASSERT_NE(pm_state.video_library, nullptr);
    EXPECT_NE(pm_state.video_entry_points[0].address, nullptr);
    pm_shutdown();
    EXPECT_EQ(pm::soft::live_libraries(), 0);
    for (const pm_entry_point &point : pm_state.video_entry_points)
        EXPECT_EQ(point.address, nullptr) << point.name;

    pm::soft::provide_libraries(false);
    pm_startup();
    EXPECT_EQ(pm_state.video_library, nullptr);
    pm_shutdown();
    EXPECT_EQ(pm::soft::calls().library_loads, 2);
    EXPECT_EQ(pm::soft::calls().library_frees, 1);
}

TEST_F(ContextTest, StockFontMetricsAreRecorded)
{
    pm_hdc dc = start_library();
    EXPECT_EQ(pm_state.stock_font, pm::platform::stock_object(pm::platform::oem_fixed_font));
    EXPECT_EQ(pm::soft::selected_object(dc), pm_state.stock_font);

    pm::platform::text_metric expected{};
    ASSERT_NE(pm::platform::text_metrics(dc, &expected), 0);
    EXPECT_EQ(pm_state.font_line_height, expected.tmHeight + expected.tmExternalLeading);
    EXPECT_EQ(pm_state.font_external_leading, expected.tmExternalLeading);
    EXPECT_EQ(pm_state.font_average_width, expected.tmAveCharWidth);
    EXPECT_GT(pm_state.font_line_height, 0);
}

TEST_F(ContextTest, ShutdownWaitsForTheLastBuffer)
{
    start_library();
    const int32_t handle = make_buffer(32, 8);
    pm_hdc memory_dc = pm_state.memory_dc;
    pm_buffer_deactivate();

    EXPECT_EQ(pm_shutdown(), 0);
    EXPECT_EQ(pm_state.memory_dc, memory_dc);
    EXPECT_EQ(pm::soft::live_memory_dcs(), 1);
    EXPECT_EQ(pm_buffer_activate(handle), 0);

    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
    EXPECT_EQ(pm_shutdown(), 0);
    EXPECT_EQ(pm_state.active_index, -1);
    EXPECT_EQ(pm_state.memory_dc, nullptr);
    EXPECT_EQ(pm::soft::live_memory_dcs(), 0);
}

// A buffer made while the library is not started would be forgotten by the
// next start-up, its memory lost and its handle given out again.
TEST_F(ContextTest, BuffersAreRefusedWhileTheLibraryIsNotStarted)
{
    EXPECT_EQ(pm_buffer_create(8, 8), PM_BUFFER_CANNOT_CREATE);
    EXPECT_EQ(pm::soft::live_objects(), 0);
    start_library();
    const int32_t handle = make_buffer(8, 8);
    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
    pm_shutdown();
    const int32_t objects = pm::soft::live_objects();
    EXPECT_EQ(pm_buffer_create(8, 8), PM_BUFFER_CANNOT_CREATE);
    EXPECT_EQ(pm::soft::live_objects(), objects);
    EXPECT_TRUE(all_slots_free());
}

TEST_F(ContextTest, ShutdownSelectsTheFirstPreviousPaletteBack)
{
    pm_hdc dc = start_library(8);
    pm_hpalette original = pm::soft::selected_palette(dc);
    pm_hpalette ours = pm::platform::palette_create(&pm_state.logical_palette);
    pm::platform::palette_select(dc, ours, 0);
    pm_state.first_previous_palette = original;
    ASSERT_EQ(pm::soft::selected_palette(dc), ours);

    pm_shutdown();
    EXPECT_EQ(pm::soft::selected_palette(dc), original);
    EXPECT_EQ(pm::soft::calls().palette_selects.back().background, 0) << "put back as a foreground palette";
    pm::platform::object_delete(ours);
}

TEST_F(ContextTest, RepeatedStartupAndShutdownAreHarmless)
{
    start_library();
    const int32_t handle = make_buffer(8, 8);
    pm_hdc memory_dc = pm_state.memory_dc;

    // A second start-up keeps the live buffer and the one memory context.
    pm_startup();
    EXPECT_NE(pm_state.slot_bits[handle], nullptr);
    EXPECT_EQ(pm_state.memory_dc, memory_dc);
    EXPECT_EQ(pm::soft::live_memory_dcs(), 1);
    EXPECT_EQ(pm_state.active_index, handle);

    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
    pm_shutdown();
    EXPECT_EQ(pm::soft::live_memory_dcs(), 0);

    // A second shut-down has nothing left to release.
    pm_state.memory_dc = memory_dc; // a stale value must not be deleted again
    EXPECT_EQ(pm_shutdown(), 0);
    EXPECT_EQ(pm_state.memory_dc, memory_dc);

    // And the library starts again afterwards.
    pm_state.memory_dc = nullptr;
    pm_startup();
    EXPECT_EQ(pm::soft::live_memory_dcs(), 1);
    EXPECT_EQ(make_buffer(8, 8), 0);
}

} // namespace
