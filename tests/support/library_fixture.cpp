#include "support/library_fixture.h"
#include "support/initial_state.h"

#include <filesystem>

namespace pixmora_test {

void reset_library()
{
    pm::soft::reset();
    restore_initial_state();
}

pm_hdc start_library(int32_t display_depth, int32_t client_width, int32_t client_height)
{
    pm::soft::set_depth(display_depth);
    pm_hdc dc = pm::soft::window_create(client_width, client_height);
    pm_attach_dc(dc);
    pm_startup();
    return dc;
}

int32_t make_buffer(int32_t width, int32_t height, int32_t depth)
{
    pm_state.new_buffer_depth = depth;
    int32_t handle = pm_buffer_create(width, height);
    EXPECT_GE(handle, 0) << "buffer " << width << " x " << height << " at " << depth << " bits";
    if (handle >= 0)
        pm_buffer_activate(handle);
    return handle;
}

uint8_t *pixel_at(int32_t x, int32_t y)
{
    return pm_state.active_bits + static_cast<std::ptrdiff_t>(pm_state.active_max_y - y) * pm_state.active_stride +
           x * (pm_state.active_depth / 8);
}

std::string source_path(const std::string &relative)
{
    return std::string(PIXMORA_SOURCE_DIR) + "/" + relative;
}

std::string samples_dir()
{
    std::filesystem::path dir = std::filesystem::path(PIXMORA_SOURCE_DIR).parent_path() / "shared" / "pcx-samples";
    return std::filesystem::is_directory(dir) ? dir.string() : std::string();
}

::testing::AssertionResult same_bytes(const std::vector<uint8_t> &expected, const std::vector<uint8_t> &actual)
{
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << actual.size();
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure() << "first difference at byte " << i << ": expected "
                                                 << int(expected[i]) << ", got " << int(actual[i]);
    return ::testing::AssertionSuccess();
}

} // namespace pixmora_test
