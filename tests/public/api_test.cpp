// The library through its public headers alone, linked as its users link it:
// in a shared build these run against the shared library, where pm_state is
// one object that the program and the library must both reach, and every
// call crosses into the library's exports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <pixmora/pixmora.h>

// tests/support/c_header_check.c, compiled as C into this program.
extern "C" int32_t pixmora_c_header_check(void);

namespace {

class PublicApiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        pm_buffer_deactivate();
        pm_buffer_destroy(-1);
        pm_shutdown();
        pm_state.new_buffer_depth = 8;
    }
};

// Byte of pixel (x, y) of the active 8-bit buffer, y counted from the top.
uint8_t &active_pixel(int32_t x, int32_t y)
{
    return pm_state.active_bits[(pm_state.active_max_y - y) * pm_state.active_stride + x];
}

TEST_F(PublicApiTest, TheProgramAndTheLibrarySeeOneState)
{
    ASSERT_EQ(pm_startup(), 0);
    EXPECT_EQ(pm_state.started, 1);
    // Written here, read by the library.
    pm_state.new_buffer_depth = 16;
    const int32_t deep = pm_buffer_create(6, 3);
    ASSERT_GE(deep, 0);
    EXPECT_EQ(pm_state.slot_depth[deep], 16);
    EXPECT_EQ(pm_state.slot_width[deep], 8);

    // Written by the library, read here.
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    EXPECT_EQ(pm_state.new_buffer_depth, 8);
    const int32_t indexed = pm_buffer_create(8, 4);
    ASSERT_GE(indexed, 0);
    ASSERT_EQ(pm_buffer_activate(indexed), 0);
    EXPECT_EQ(pm_state.active_index, indexed);
    EXPECT_EQ(pm_state.active_depth, 8);
    ASSERT_NE(pm_state.active_bits, nullptr);
    EXPECT_EQ(pm_state.active_bits, pm_state.slot_bits[indexed]);
    pm_move_cursor(1, 3);
    EXPECT_EQ(pm_state.cursor_x, 1);
    EXPECT_EQ(pm_state.cursor_y, 3);

    // The cursor set here places what the library draws.
    pm_state.cursor_x = 5;
    pm_state.cursor_y = 2;
    const uint8_t dot = 7;
    ASSERT_EQ(pm_paste_image(&dot, 1, 1), 0);
    EXPECT_EQ(active_pixel(5, 2), 7);
    EXPECT_EQ(active_pixel(1, 3), 0);
}

TEST_F(PublicApiTest, TheHeadersServeAPlainCProgram)
{
    ASSERT_EQ(pm_startup(), 0);
    // The C side sets the depth through pm_state and creates a 320 x 200
    // buffer; it returns the handle, 0, plus active_index, -1.
    ASSERT_EQ(pixmora_c_header_check(), -1);
    EXPECT_EQ(pm_state.slot_depth[0], 8);
    EXPECT_EQ(pm_state.slot_width[0], 320);
    EXPECT_EQ(pm_state.slot_height[0], 200);
}

TEST_F(PublicApiTest, APictureSavedByTheLibraryLoadsBackTheSame)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-api-" + std::to_string(getpid()) + ".pcx");
    ASSERT_EQ(pm_startup(), 0);
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    const int32_t source = pm_buffer_create(12, 5);
    const int32_t copy = pm_buffer_create(12, 5);
    ASSERT_GE(source, 0);
    ASSERT_GE(copy, 0);

    ASSERT_EQ(pm_buffer_activate(source), 0);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 12; ++x)
            active_pixel(x, y) = static_cast<uint8_t>(x * 21 + y * 7 + 3);
    ASSERT_EQ(pm_save_pcx(file.c_str(), 0, 11, 0, 4), PM_PCX_OK);

    ASSERT_EQ(pm_buffer_activate(copy), 0);
    const int32_t loaded = pm_load_pcx(file.c_str(), pcx_keep_palette);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    ASSERT_EQ(loaded, PM_PCX_OK) << pm_pcx_result_text(loaded);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 12; ++x)
            ASSERT_EQ(active_pixel(x, y), static_cast<uint8_t>(x * 21 + y * 7 + 3)) << x << ", " << y;
}

std::string file_text(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The safe file replacement: the new contents appear only when finished, a
// cancelled or failed replacement leaves the old file, and a failed write
// is remembered until the end.
TEST_F(PublicApiTest, AReplacedFileChangesOnlyWhenFinished)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-replace-" + std::to_string(getpid()) + ".bin");
    std::ofstream(file, std::ios::binary) << "old";
    int32_t result = -1;
    for (const bool finish : {false, true}) {
        pm_file_writer *writer = pm_file_replace_begin(file.c_str(), &result);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(result, PM_PCX_OK);
        EXPECT_EQ(pm_file_replace_write(writer, "new", 3), PM_PCX_OK);
        EXPECT_EQ(file_text(file), "old");
        if (finish)
            EXPECT_EQ(pm_file_replace_finish(writer), PM_PCX_OK);
        else
            pm_file_replace_cancel(writer);
        EXPECT_EQ(file_text(file), finish ? "new" : "old");
    }
    std::filesystem::remove(file);

    const std::string missing = file.string() + ".missing/picture.bin";
    EXPECT_EQ(pm_file_replace_begin(missing.c_str(), &result), nullptr);
    EXPECT_EQ(result, PM_PCX_OPEN_FAILED);
    EXPECT_EQ(pm_file_replace_begin(nullptr, nullptr), nullptr);

    pm_file_writer *full = pm_file_replace_begin("/dev/full", &result);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(pm_file_replace_write(full, "x", 1), PM_PCX_WRITE_FAILED);
    EXPECT_EQ(pm_file_replace_write(full, "", 0), PM_PCX_WRITE_FAILED) << "a failed write is forgotten";
    EXPECT_EQ(pm_file_replace_finish(full), PM_PCX_WRITE_FAILED);
    EXPECT_STRNE(pm_pcx_result_text(PM_PCX_WRITE_FAILED), pm_pcx_result_text(PM_PCX_OPEN_FAILED));
}

} // namespace
