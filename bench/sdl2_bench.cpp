// SDL2's side: software surfaces, nearest stretching and blits.
#include <SDL.h>

#include <vector>

#include "bench/bench_data.h"

namespace {

using bench::extent;

// An 8-bit surface holding the benchmark picture with the benchmark palette.
class indexed_surface {
public:
    explicit indexed_surface(extent size)
        : surface_(SDL_CreateRGBSurfaceWithFormat(0, size.width, size.height, 8, SDL_PIXELFORMAT_INDEX8))
    {
        if (surface_ == nullptr)
            return;
        SDL_Color colours[256];
        for (int32_t i = 0; i < 256; ++i) {
            bench::palette_colour(i, colours[i].r, colours[i].g, colours[i].b);
            colours[i].a = 255;
        }
        SDL_SetPaletteColors(surface_->format->palette, colours, 0, 256);
        const std::vector<uint8_t> pixels = bench::picture(size);
        auto *bytes = static_cast<uint8_t *>(surface_->pixels);
        for (int32_t y = 0; y < size.height; ++y)
            SDL_memcpy(bytes + y * surface_->pitch, pixels.data() + y * size.width, static_cast<size_t>(size.width));
    }
    ~indexed_surface() { SDL_FreeSurface(surface_); }
    indexed_surface(const indexed_surface &) = delete;
    indexed_surface &operator=(const indexed_surface &) = delete;
    SDL_Surface *get() const { return surface_; }

private:
    SDL_Surface *surface_;
};

void scale(benchmark::State &state, extent from, extent to)
{
    indexed_surface source(from);
    indexed_surface destination(to);
    if (source.get() == nullptr || destination.get() == nullptr) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    SDL_Rect source_rect{0, 0, from.width, from.height};
    SDL_Rect destination_rect{0, 0, to.width, to.height};
    for (auto _ : state) {
        if (SDL_SoftStretch(source.get(), &source_rect, destination.get(), &destination_rect) != 0) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(to.width) * to.height);
}

// Both surfaces carry the same palette, so the blit is a plain byte copy.
void copy_region(benchmark::State &state)
{
    indexed_surface panorama(bench::copy_source);
    indexed_surface view(bench::copy_rect);
    if (panorama.get() == nullptr || view.get() == nullptr) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    const extent r = bench::copy_rect;
    SDL_Rect source_rect{bench::copy_src_x, 0, r.width, r.height};
    SDL_Rect destination_rect{0, 0, r.width, r.height};
    for (auto _ : state) {
        if (SDL_BlitSurface(panorama.get(), &source_rect, view.get(), &destination_rect) != 0) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, static_cast<int64_t>(r.width) * r.height);
}

// Index 0 is the colour key, as it is our transparent index.
void paste_8to32(benchmark::State &state)
{
    indexed_surface image(bench::paste_image);
    SDL_Surface *target = SDL_CreateRGBSurfaceWithFormat(0, bench::paste_target.width, bench::paste_target.height,
                                                         32, SDL_PIXELFORMAT_XRGB8888);
    if (image.get() == nullptr || target == nullptr) {
        state.SkipWithError(SDL_GetError());
        SDL_FreeSurface(target);
        return;
    }
    SDL_SetColorKey(image.get(), SDL_TRUE, 0);
    const extent p = bench::paste_image;
    SDL_Rect destination_rect{bench::paste_x, bench::paste_y, p.width, p.height};
    for (auto _ : state) {
        SDL_Rect place = destination_rect; // the blit writes the clipped rectangle back
        if (SDL_BlitSurface(image.get(), nullptr, target, &place) != 0) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(target);
    bench::set_pixels(state, static_cast<int64_t>(p.width) * p.height);
}

const bool registered = [] {
    bench::add_scale_cases("sdl2", scale);
    bench::add("copy_region", "sdl2", copy_region);
    bench::add("paste_8to32", "sdl2", paste_8to32);
    return true;
}();

} // namespace
