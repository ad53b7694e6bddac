// The buffer object ties the library's life to the buffers that exist.
#include <memory>

#include "demo/buffer_object.h"
#include "tests/demo/demo_fixture.h"

namespace {

using demo_test::DemoTest;

class BufferObjectTest : public DemoTest {
protected:
    void SetUp() override
    {
        DemoTest::SetUp();
        pm_attach_dc(pm::soft::window_create(320, 200));
    }
};

TEST_F(BufferObjectTest, LibraryLivesUntilTheLastBufferGoes)
{
    auto view = std::make_unique<demo::buffer_object>(320, 200, 1);
    auto panorama = std::make_unique<demo::buffer_object>(1600, 200, 0);
    int32_t view_handle = view->handle();
    ASSERT_GE(view_handle, 0);
    ASSERT_GE(panorama->handle(), 0);
    EXPECT_EQ(pm_state.active_index, panorama->handle()) << "the newest buffer is active";
    EXPECT_EQ(pm_state.active_width, 1600);

    // The first destroyed leaves the library and the other buffer as they were.
    pm_buffer_activate(view_handle);
    pm_state.slot_bits[view_handle][0] = 77;
    panorama.reset();
    EXPECT_EQ(pm_state.started, 1);
    ASSERT_NE(pm_state.slot_bits[view_handle], nullptr);
    EXPECT_EQ(pm_state.slot_bits[view_handle][0], 77);
    EXPECT_EQ(pm_state.active_index, -1);

    view.reset();
    EXPECT_EQ(pm_state.started, 0);
    EXPECT_EQ(pm_state.slot_bits[view_handle], nullptr);
}

TEST_F(BufferObjectTest, NewObjectIsActiveWhileAnotherBufferWasActive)
{
    demo::buffer_object first(64, 8, 1);
    demo::buffer_object second(32, 16, 0);
    EXPECT_EQ(pm_state.active_index, second.handle());
    EXPECT_EQ(pm_state.active_height, 16);
    EXPECT_NE(first.handle(), second.handle());
}

TEST_F(BufferObjectTest, FailedCreationDestroysNoOtherBuffer)
{
    demo::buffer_object survivor(320, 200, 1);
    {
        pm::soft::fail_next_dib_sections(1);
        demo::buffer_object failed(1600, 200, 0);
        EXPECT_LT(failed.handle(), 0);
        // Its destruction must not pass the negative code on, which the
        // library reads as "every buffer".
    }
    ASSERT_NE(pm_state.slot_bits[survivor.handle()], nullptr);
    EXPECT_EQ(pm_state.started, 1);
}

} // namespace
