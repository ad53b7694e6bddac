// Our side of every comparison: the library on the software display, with
// buffers made the way an application makes them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench/bench_data.h"
#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"

namespace {

using bench::extent;

// A started library on a 32-bit display with the benchmark palette set.
void start_library()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    pm::soft::set_depth(32);
    pm_attach_dc(pm::soft::window_create(640, 400));
    pm_startup();
}

// A buffer of the given depth, active while it lives, filled with the
// benchmark picture (as indices at 8 bits).
class buffer {
public:
    buffer(extent size, int32_t depth)
    {
        start_library();
        pm_state.new_buffer_depth = depth;
        handle_ = pm_buffer_create(size.width, size.height);
        if (handle_ < 0)
            return;
        pm_buffer_activate(handle_);
        set_palette();
        if (depth == 8)
            fill(size);
    }
    ~buffer()
    {
        if (handle_ < 0)
            return;
        pm_buffer_deactivate();
        pm_buffer_destroy(handle_);
    }
    buffer(const buffer &) = delete;
    buffer &operator=(const buffer &) = delete;
    int32_t handle() const { return handle_; }

private:
    static void set_palette()
    {
        uint8_t rgb[768];
        for (int32_t i = 0; i < 256; ++i)
            bench::palette_colour(i, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        pm_set_palette_entries(0, 256, rgb);
    }
    static void fill(extent size)
    {
        const std::vector<uint8_t> pixels = bench::picture(size);
        pm_move_cursor(0, size.height - 1);
        // The picture's rows are top first, an indexed image's bottom first.
        std::vector<uint8_t> image(pixels.size());
        for (int32_t y = 0; y < size.height; ++y)
            std::copy_n(pixels.begin() + y * size.width, size.width,
                        image.begin() + (size.height - 1 - y) * size.width);
        pm_paste_image(image.data(), size.width, size.height);
    }
    int32_t handle_ = -1;
};

void scale(benchmark::State &state, extent from, extent to)
{
    const std::vector<uint8_t> source = bench::picture(from);
    std::vector<uint8_t> destination(static_cast<size_t>(to.width) * static_cast<size_t>(to.height));
    for (auto _ : state) {
        pm_scale_image(source.data(), destination.data(), from.width, from.height, to.width, to.height);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(to.width) * to.height);
}

void copy_region(benchmark::State &state)
{
    buffer view(bench::copy_rect, 8);
    buffer panorama(bench::copy_source, 8);
    if (view.handle() < 0 || panorama.handle() < 0) {
        state.SkipWithError("buffer creation failed");
        return;
    }
    const extent r = bench::copy_rect;
    for (auto _ : state) {
        pm_copy_region(bench::copy_src_x, bench::copy_src_x + r.width - 1, 0, r.height - 1, 0, r.height - 1,
                       panorama.handle(), view.handle());
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(r.width) * r.height);
}

void paste_8to32(benchmark::State &state)
{
    buffer target(bench::paste_target, 32);
    if (target.handle() < 0) {
        state.SkipWithError("buffer creation failed");
        return;
    }
    const extent p = bench::paste_image;
    const std::vector<uint8_t> image = bench::picture(p);
    pm_move_cursor(bench::paste_x, bench::paste_y + p.height - 1);
    for (auto _ : state) {
        pm_paste_image(image.data(), p.width, p.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(p.width) * p.height);
}

// Ours alone, no peer: fitting the picture's 256 colours into 236 entries,
// as the PCX loader does. The picture is restored outside the timing.
void reduce_colours(benchmark::State &state)
{
    const extent size = bench::scale_small;
    buffer original(size, 8);
    buffer work(size, 8);
    if (original.handle() < 0 || work.handle() < 0) {
        state.SkipWithError("buffer creation failed");
        return;
    }
    uint8_t rgb[768];
    for (auto _ : state) {
        state.PauseTiming();
        pm_copy_region(0, size.width - 1, 0, size.height - 1, 0, size.height - 1, original.handle(), work.handle());
        for (int32_t i = 0; i < 256; ++i)
            bench::palette_colour(i, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        state.ResumeTiming();
        pm_reduce_colours(10, 236, rgb);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(size.width) * size.height);
}

const bool registered = [] {
    bench::add_scale_cases("pixmora", scale);
    bench::add("copy_region", "pixmora", copy_region);
    bench::add("paste_8to32", "pixmora", paste_8to32);
    bench::add("reduce_colours", "pixmora", reduce_colours);
    return true;
}();

} // namespace
