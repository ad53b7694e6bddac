// Allegro 5's side of presentation: al_draw_scaled_bitmap of a memory bitmap
// onto a 32-bit XRGB memory bitmap of the window's size, with a blender that
// copies. Allegro has no palette format and its scaled drawing from 8-bit
// single-channel bitmaps writes outside the target (5.2.8), so the view is a
// 32-bit bitmap holding the picture's colours: it reads four times the bytes
// that we read.
#include <allegro5/allegro.h>

#include <cstring>

#include "bench/pcx_data.h"

namespace {

using bench::extent;

bool start_allegro()
{
    static const bool started = al_install_system(ALLEGRO_VERSION_INT, nullptr);
    return started;
}

ALLEGRO_BITMAP *colour_bitmap(extent size)
{
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_XRGB_8888);
    return al_create_bitmap(size.width, size.height);
}

// The benchmark picture's colours in a 32-bit bitmap.
bool fill(ALLEGRO_BITMAP *bitmap, extent size)
{
    ALLEGRO_LOCKED_REGION *region = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_XRGB_8888, ALLEGRO_LOCK_WRITEONLY);
    if (region == nullptr)
        return false;
    uint32_t colours[256];
    for (int32_t i = 0; i < 256; ++i) {
        uint8_t r, g, b;
        bench::palette_colour(i, r, g, b);
        colours[i] = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
    }
    const std::vector<uint8_t> pixels = bench::picture(size);
    auto *row = static_cast<uint8_t *>(region->data);
    for (int32_t y = 0; y < size.height; ++y, row += region->pitch)
        for (int32_t x = 0; x < size.width; ++x)
            std::memcpy(row + 4 * x, &colours[pixels[static_cast<size_t>(y * size.width + x)]], 4);
    al_unlock_bitmap(bitmap);
    return true;
}

void present(benchmark::State &state, extent target)
{
    const extent view_size = bench::present_source;
    ALLEGRO_BITMAP *view = start_allegro() ? colour_bitmap(view_size) : nullptr;
    ALLEGRO_BITMAP *window = view != nullptr ? colour_bitmap(target) : nullptr;
    if (window == nullptr || !fill(view, view_size)) {
        state.SkipWithError("Allegro memory bitmaps unavailable");
    } else {
        al_set_target_bitmap(window);
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
        const auto vw = static_cast<float>(view_size.width), vh = static_cast<float>(view_size.height);
        const auto tw = static_cast<float>(target.width), th = static_cast<float>(target.height);
        for (auto _ : state) {
            al_draw_scaled_bitmap(view, 0, 0, vw, vh, 0, 0, tw, th, 0);
            benchmark::ClobberMemory();
        }
        al_set_target_bitmap(nullptr);
    }
    if (window != nullptr)
        al_destroy_bitmap(window);
    if (view != nullptr)
        al_destroy_bitmap(view);
    bench::set_pixels(state, int64_t{target.width} * target.height);
}

const bool registered = [] {
    for (const extent target : bench::present_sizes)
        benchmark::RegisterBenchmark((bench::present_name(target) + "/allegro5-32bit").c_str(),
                                     [target](benchmark::State &state) { present(state, target); });
    return true;
}();

} // namespace
