// Allegro 5's side: memory bitmaps drawn with the software renderer and a
// blender that copies. Allegro has no palette format, and scaled drawing onto
// its 8-bit single-channel memory bitmaps writes outside the bitmap (5.2.8,
// seen with valgrind), so it is measured on 32-bit XRGB bitmaps holding the
// picture's colours: it moves four times the bytes that we move.
#include <allegro5/allegro.h>

#include <cstring>
#include <vector>

#include "bench/bench_data.h"

namespace {

using bench::extent;

bool start_allegro()
{
    static const bool started = al_install_system(ALLEGRO_VERSION_INT, nullptr);
    return started;
}

// A 32-bit memory bitmap holding the benchmark picture's colours.
class colour_bitmap {
public:
    explicit colour_bitmap(extent size)
    {
        if (!start_allegro())
            return;
        al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
        al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_XRGB_8888);
        bitmap_ = al_create_bitmap(size.width, size.height);
        if (bitmap_ == nullptr)
            return;
        ALLEGRO_LOCKED_REGION *region =
            al_lock_bitmap(bitmap_, ALLEGRO_PIXEL_FORMAT_XRGB_8888, ALLEGRO_LOCK_WRITEONLY);
        if (region == nullptr) {
            al_destroy_bitmap(bitmap_);
            bitmap_ = nullptr;
            return;
        }
        const std::vector<uint8_t> pixels = bench::picture(size);
        uint32_t colours[256];
        for (int32_t i = 0; i < 256; ++i) {
            uint8_t r, g, b;
            bench::palette_colour(i, r, g, b);
            colours[i] = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
        }
        auto *row = static_cast<uint8_t *>(region->data);
        for (int32_t y = 0; y < size.height; ++y, row += region->pitch)
            for (int32_t x = 0; x < size.width; ++x) {
                const uint32_t colour = colours[pixels[static_cast<size_t>(y * size.width + x)]];
                std::memcpy(row + 4 * x, &colour, 4);
            }
        al_unlock_bitmap(bitmap_);
    }
    ~colour_bitmap()
    {
        if (bitmap_ != nullptr)
            al_destroy_bitmap(bitmap_);
    }
    colour_bitmap(const colour_bitmap &) = delete;
    colour_bitmap &operator=(const colour_bitmap &) = delete;
    ALLEGRO_BITMAP *get() const { return bitmap_; }

private:
    ALLEGRO_BITMAP *bitmap_ = nullptr;
};

void scale(benchmark::State &state, extent from, extent to)
{
    colour_bitmap source(from);
    colour_bitmap destination(to);
    if (source.get() == nullptr || destination.get() == nullptr) {
        state.SkipWithError("Allegro memory bitmaps unavailable");
        return;
    }
    al_set_target_bitmap(destination.get());
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    const auto fw = static_cast<float>(from.width), fh = static_cast<float>(from.height);
    const auto tw = static_cast<float>(to.width), th = static_cast<float>(to.height);
    for (auto _ : state) {
        al_draw_scaled_bitmap(source.get(), 0, 0, fw, fh, 0, 0, tw, th, 0);
        benchmark::ClobberMemory();
    }
    al_set_target_bitmap(nullptr);
    bench::set_pixels(state, static_cast<int64_t>(to.width) * to.height);
}

const bool registered = [] {
    bench::add_scale_cases("allegro5-32bit", scale);
    return true;
}();

} // namespace
