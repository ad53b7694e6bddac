// The animation against an independent reading of the pictures: the
// panorama, the frame schedule and whole frames.
#include <algorithm>
#include <memory>

#include "demo/buffer_object.h"
#include "tests/demo/demo_fixture.h"
#include "tests/demo/reference.h"

namespace {

using demo_test::DemoTest;
using demo_test::picture;

// The shell's state right after its loop would start: window, palette,
// both buffer objects, prepared panorama. Client area 320 x 200, so the
// presentation is one to one.
class AnimationTest : public DemoTest {
protected:
    void SetUp() override
    {
        DemoTest::SetUp();
        dc = pm::soft::window_create(320, 200);
        pm_attach_dc(dc);
        demo::shell.palette = pm_create_default_palette();
        pm_realize_palette(demo::shell.palette);
        view = std::make_unique<demo::buffer_object>(320, 200, 1);
        panorama = std::make_unique<demo::buffer_object>(1600, 200, 0);
        demo::shell.view_object = view.get();
        demo::shell.panorama_object = panorama.get();
        demo::on_size(320, 200);
        demo::prepare_panorama();
    }
    void TearDown() override
    {
        demo::reset_animation();
        panorama.reset();
        view.reset();
        DemoTest::TearDown();
    }

    // Index at (x, y) of the buffer behind handle, y counted from the top.
    static uint8_t pixel(int32_t handle, int32_t x, int32_t y)
    {
        return pm_state.slot_bits[handle][static_cast<size_t>(pm_state.slot_height[handle] - 1 - y) *
                                              pm_state.slot_stride[handle] + x];
    }

    // Compares the view buffer with expected; on failure names the first
    // pixel that differs.
    static ::testing::AssertionResult view_equals(const std::vector<uint8_t> &expected, int32_t handle)
    {
        for (int32_t y = 0; y < 200; ++y)
            for (int32_t x = 0; x < 320; ++x) {
                uint8_t want = expected[static_cast<size_t>(y) * 320 + x];
                uint8_t got = pixel(handle, x, y);
                if (got != want)
                    return ::testing::AssertionFailure()
                           << "first difference at (" << x << ", " << y << "): index " << int{got} << ", expected "
                           << int{want};
            }
        return ::testing::AssertionSuccess();
    }

    pm_hdc dc = nullptr;
    std::unique_ptr<demo::buffer_object> view;
    std::unique_ptr<demo::buffer_object> panorama;
};

TEST_F(AnimationTest, PicturesAreTheSharedPaletteKind)
{
    struct expectation {
        const char *name;
        int32_t width, height;
        bool transparent; // index 0 allowed
    };
    const expectation cases[] = {{"Sky.pcx", 640, 200, false}, {"Logo1.pcx", 264, 40, true},
                                 {"Logo2.pcx", 264, 40, true}};
    picture first = demo_test::read_picture(demo_test::picture_path("Sky.pcx"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        picture p = demo_test::read_picture(demo_test::picture_path(c.name));
        ASSERT_EQ(p.width, c.width);
        ASSERT_EQ(p.height, c.height);
        EXPECT_EQ(p.version, 5);
        ASSERT_EQ(p.palette.size(), 768u) << "no trailer palette";
        // One palette for all three: the demo loads each over the others.
        EXPECT_TRUE(std::equal(p.palette.begin() + 30, p.palette.begin() + 738, first.palette.begin() + 30));
        int32_t zeros = 0;
        for (size_t i = 0; i < p.pixels.size(); ++i) {
            uint8_t index = p.pixels[i];
            zeros += index == 0;
            ASSERT_TRUE(index == 0 ? c.transparent : index >= 10 && index <= 245)
                << "index " << int{index} << " at pixel " << i;
        }
        if (c.transparent) {
            // The sky shows around the title, and the title covers a fair part.
            EXPECT_GT(zeros, p.width * p.height / 3);
            EXPECT_LT(zeros, p.width * p.height * 9 / 10);
        }
    }
}

TEST_F(AnimationTest, PanoramaIsMirroredWithWrapMargin)
{
    int32_t p = panorama->handle();
    picture sky = demo_test::read_picture(demo_test::picture_path("Sky.pcx"));
    ASSERT_EQ(sky.width, 640);
    for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 0; x < 1600; ++x) {
            uint8_t want = sky.at(demo_test::panorama_source_column(x), y);
            ASSERT_EQ(pixel(p, x, y), want) << "first difference at (" << x << ", " << y << ")";
        }
        for (int32_t i = 0; i < 1280; ++i)
            ASSERT_EQ(pixel(p, i, y), pixel(p, 1279 - i, y)) << "column " << i << ", row " << y;
    }
    EXPECT_EQ(pm_state.active_index, view->handle());
}

TEST_F(AnimationTest, EveryFrameOfACycleMatchesTheIndependentComputation)
{
    picture sky = demo_test::read_picture(demo_test::picture_path("Sky.pcx"));
    picture logo1 = demo_test::read_picture(demo_test::picture_path("Logo1.pcx"));
    picture logo2 = demo_test::read_picture(demo_test::picture_path("Logo2.pcx"));
    ASSERT_EQ(logo1.width, 264);
    ASSERT_EQ(logo2.width, 264);

    int32_t largest = 0;
    for (int32_t frame = 1; frame <= demo::frames_per_cycle + 2; ++frame) {
        demo::advance_frame();
        int32_t scroll_x = demo::animation.scroll_x;
        largest = std::max(largest, scroll_x);
        ASSERT_EQ(scroll_x, frame * 8 % 1280) << "frame " << frame;
        ASSERT_TRUE(view_equals(demo_test::expected_view(sky, logo1, logo2, scroll_x), view->handle()))
            << "frame " << frame << ", scroll_x " << scroll_x;
    }
    EXPECT_EQ(largest, 1272);
}

TEST_F(AnimationTest, FrameIsShownWithThePicturesColours)
{
    picture sky = demo_test::read_picture(demo_test::picture_path("Sky.pcx"));
    picture logo1 = demo_test::read_picture(demo_test::picture_path("Logo1.pcx"));
    picture logo2 = demo_test::read_picture(demo_test::picture_path("Logo2.pcx"));
    for (int32_t frame = 0; frame < 50; ++frame)
        demo::advance_frame();
    std::vector<uint8_t> expected = demo_test::expected_view(sky, logo1, logo2, 400);
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 320; ++x) {
            const uint8_t *rgb = &sky.palette[3 * expected[static_cast<size_t>(y) * 320 + x]];
            uint32_t want = static_cast<uint32_t>(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
            ASSERT_EQ(pm::soft::client_pixel(dc, x, y), want) << "first difference at (" << x << ", " << y << ")";
        }
}

TEST_F(AnimationTest, LogosAreMadeOnceOnTheFirstFrame)
{
    EXPECT_FALSE(demo::animation.first_logo.has_value());
    demo::advance_frame();
    demo::advance_frame();
    ASSERT_TRUE(demo::animation.first_logo.has_value());
    ASSERT_TRUE(demo::animation.second_logo.has_value());
    EXPECT_EQ(demo::animation.first_use, 15);
    EXPECT_EQ(demo::animation.exit_actions, 2);
    EXPECT_EQ(demo::animation.panorama_handle, panorama->handle());
    EXPECT_EQ(demo::animation.view_handle, view->handle());

    const demo::logo &first = *demo::animation.first_logo;
    EXPECT_EQ(first.x(), 28);
    EXPECT_EQ(first.y(), 160);
    EXPECT_EQ(demo::animation.second_logo->y(), 80);
    // The captured image is the file's picture, bottom row first.
    picture logo1 = demo_test::read_picture(demo_test::picture_path("Logo1.pcx"));
    ASSERT_EQ(first.image().size(), 264u * 40u);
    for (int32_t row = 0; row < 40; ++row)
        for (int32_t x = 0; x < 264; ++x)
            ASSERT_EQ(first.image()[static_cast<size_t>(row) * 264 + x], logo1.at(x, 39 - row))
                << "image row " << row << ", column " << x;
}

TEST_F(AnimationTest, LogoAtOneTenthIsSmallAndCentred)
{
    // scroll_x 16: the second logo at one tenth, 26 x 4, columns 147..172,
    // rows 77..80; nothing else differs from the sky.
    demo::advance_frame();
    demo::advance_frame();
    ASSERT_EQ(demo::animation.scroll_x, 16);
    picture sky = demo_test::read_picture(demo_test::picture_path("Sky.pcx"));
    int32_t changed_min_x = 320, changed_max_x = -1, changed_min_y = 200, changed_max_y = -1;
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 320; ++x)
            if (pixel(view->handle(), x, y) != sky.at(16 + x, y)) {
                changed_min_x = std::min(changed_min_x, x);
                changed_max_x = std::max(changed_max_x, x);
                changed_min_y = std::min(changed_min_y, y);
                changed_max_y = std::max(changed_max_y, y);
            }
    EXPECT_GE(changed_min_x, 147);
    EXPECT_LE(changed_max_x, 172);
    EXPECT_GE(changed_min_y, 77);
    EXPECT_LE(changed_max_y, 80);
    EXPECT_GE(changed_max_x, changed_min_x) << "the logo shows";
}

TEST_F(AnimationTest, EveryFramePresentsTheWholeViewOntoTheClientArea)
{
    pm::soft::clear_calls();
    demo::advance_frame();
    demo::on_size(800, 600);
    demo::advance_frame();
    const auto &stretches = pm::soft::calls().stretches;
    ASSERT_EQ(stretches.size(), 2u);
    for (const auto &s : stretches) {
        EXPECT_EQ(s.dc, dc);
        EXPECT_EQ(s.src_x, 0);
        EXPECT_EQ(s.src_y, 0);
        EXPECT_EQ(s.src_width, 320);
        EXPECT_EQ(s.src_height, 200);
        EXPECT_EQ(s.dst_x, 0);
        EXPECT_EQ(s.dst_y, 0);
    }
    EXPECT_EQ(stretches[0].dst_width, 320);
    EXPECT_EQ(stretches[0].dst_height, 200);
    // The resize changes the destination only: the frame goes on as before.
    EXPECT_EQ(stretches[1].dst_width, 800);
    EXPECT_EQ(stretches[1].dst_height, 600);
    EXPECT_EQ(stretches[1].bits, stretches[0].bits);
    EXPECT_EQ(demo::animation.scroll_x, 16);
}

} // namespace
