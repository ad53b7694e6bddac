// The software display's C interface: its results, and that it reaches the
// same display as the C++ side.
#include <gtest/gtest.h>

#include <pixmora/pixmora_soft.h>

#include <vector>

#include "platform/soft/soft_display.h"

namespace {

class SoftCApiTest : public ::testing::Test {
protected:
    void SetUp() override { pm::soft::reset(); }
    void TearDown() override { pm::soft::reset(); }
};

TEST_F(SoftCApiTest, DepthsAreSetOrRefusedAsTheDisplayTakesThem)
{
    for (int32_t bits = -1; bits <= 33; ++bits) {
        const bool valid = bits == 1 || bits == 4 || bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
        ASSERT_EQ(pm_soft_set_depth(bits), valid ? 0 : -1) << bits << " bits";
        ASSERT_EQ(pm_soft_depth(), pm::soft::depth()) << bits << " bits";
    }
}

TEST_F(SoftCApiTest, OnlyWindowContextsAreResizedReadOrDestroyed)
{
    int not_a_window = 0;
    for (pm_hdc dc : {static_cast<pm_hdc>(nullptr), static_cast<pm_hdc>(&not_a_window)}) {
        EXPECT_EQ(pm_soft_window_resize(dc, 4, 4), -1);
        EXPECT_EQ(pm_soft_window_destroy(dc), -1);
        EXPECT_EQ(pm_soft_client_width(dc), 0);
        EXPECT_EQ(pm_soft_client_pixels(dc), nullptr);
        EXPECT_EQ(pm_soft_client_pixel(dc, 0, 0), 0u);
    }

    pm_hdc window = pm_soft_window_create(3, 2);
    ASSERT_TRUE(pm::soft::is_window_dc(window));
    pm::soft::client_fill(window, 0x123456);
    ASSERT_EQ(pm_soft_window_resize(window, 5, 1), 0);
    EXPECT_EQ(pm_soft_client_width(window), 5);
    EXPECT_EQ(pm_soft_client_height(window), 1);
    const uint32_t *pixels = pm_soft_client_pixels(window);
    ASSERT_NE(pixels, nullptr);
    // The kept top-left pixels, then black where the surface grew.
    EXPECT_EQ(pixels[2], 0x123456u);
    EXPECT_EQ(pixels[3], 0u);
    EXPECT_EQ(pm_soft_client_pixel(window, 2, 0), 0x123456u);
    EXPECT_EQ(pm_soft_client_pixel(window, 5, 0), 0u);

    // Bytes R, G, B, 255 once asked for; pm_soft_client_pixel reads 0x00RRGGBB whatever the layout.
    EXPECT_EQ(pm_soft_window_set_layout(window, 3), -1);
    EXPECT_EQ(pm_soft_window_set_layout(nullptr, PM_SOFT_RGBA), -1);
    ASSERT_EQ(pm_soft_window_set_layout(window, PM_SOFT_RGBA), 0);
    EXPECT_EQ(pm_soft_window_layout(window), PM_SOFT_RGBA);
    const auto *bytes = reinterpret_cast<const uint8_t *>(pm_soft_client_pixels(window));
    EXPECT_EQ(std::vector<uint8_t>(bytes + 8, bytes + 16), (std::vector<uint8_t>{0x12, 0x34, 0x56, 255, 0, 0, 0, 255}));
    EXPECT_EQ(pm_soft_client_pixel(window, 2, 0), 0x123456u);
    pm_soft_stretch stretch;
    EXPECT_EQ(pm_soft_window_stretch(window, &stretch), -1) << "no stretch yet";

    ASSERT_EQ(pm_soft_window_resize(window, 0, 7), 0);
    EXPECT_EQ(pm_soft_client_pixels(window), nullptr); // an empty surface has no pixels
    ASSERT_EQ(pm_soft_window_destroy(window), 0);
    EXPECT_FALSE(pm::soft::is_window_dc(window));
    EXPECT_EQ(pm_soft_window_destroy(window), -1);
}

// A C program's whole road: open a window, present a buffer, read it back.
TEST_F(SoftCApiTest, APresentedBufferIsReadBackThroughTheCInterface)
{
    pm_hdc window = pm_soft_window_create(8, 4);
    pm_attach_dc(window);
    pm_hpalette palette = pm_create_default_palette();
    pm_realize_palette(palette);
    pm_startup();
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    const int32_t buffer = pm_buffer_create(4, 2);
    ASSERT_GE(buffer, 0);
    ASSERT_EQ(pm_buffer_activate(buffer), 0);
    const uint8_t red[3] = {255, 0, 0};
    pm_set_palette_entries(40, 1, red);
    const uint8_t image[8] = {40, 0, 0, 0, 0, 0, 0, 40}; // bottom row first
    pm_move_cursor(0, 1);
    pm_paste_image(image, 4, 2);
    pm_present(0, 3, 0, 1, 0, 7, 0, 3);

    // Bottom-left and top-right pixels, each doubled in both directions.
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const bool lit = (x >= 6 && y <= 1) || (x <= 1 && y >= 2);
            EXPECT_EQ(pm_soft_client_pixels(window)[y * 8 + x] == 0xFF0000u, lit) << x << ", " << y;
        }
    // The same stretch as a record: the maps, kept while the sizes stay.
    pm_soft_stretch stretch;
    ASSERT_EQ(pm_soft_window_stretch(window, &stretch), 0);
    EXPECT_EQ(stretch.bit_count, 8);
    ASSERT_NE(stretch.colours, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(stretch.colours + 4 * 40, stretch.colours + 4 * 41),
              (std::vector<uint8_t>{255, 0, 0, 255}));
    EXPECT_EQ(stretch.bits[0] + stretch.bits[stretch.stride + 3], 80); // bottom row first
    ASSERT_EQ((std::vector<int32_t>{stretch.x, stretch.y, stretch.width, stretch.height}),
              (std::vector<int32_t>{0, 0, 8, 4}));
    EXPECT_EQ(std::vector<int32_t>(stretch.columns, stretch.columns + 8),
              (std::vector<int32_t>{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(std::vector<int32_t>(stretch.rows, stretch.rows + 4), (std::vector<int32_t>{1, 1, 0, 0}));
    const uint32_t serial = stretch.maps_serial;
    pm_present(0, 3, 0, 1, 0, 7, 0, 3);
    ASSERT_EQ(pm_soft_window_stretch(window, &stretch), 0);
    EXPECT_EQ(stretch.maps_serial, serial);
    pm_soft_window_resize(window, 6, 4);
    EXPECT_EQ(pm_soft_window_stretch(window, &stretch), -1) << "none since the resize";
    pm_present(0, 3, 0, 1, 0, 5, 0, 3);
    ASSERT_EQ(pm_soft_window_stretch(window, &stretch), 0);
    EXPECT_NE(stretch.maps_serial, serial);
    EXPECT_EQ(stretch.width, 6);
    pm_buffer_deactivate();
    pm_buffer_destroy(buffer);
    pm_shutdown();
    const int32_t objects = pm::soft::live_objects();
    EXPECT_EQ(pm_soft_palette_delete(palette), 0);
    EXPECT_EQ(pm::soft::live_objects(), objects - 1);
    EXPECT_EQ(pm_soft_palette_delete(palette), -1);
    EXPECT_EQ(pm_soft_palette_delete(nullptr), -1);
}

} // namespace
