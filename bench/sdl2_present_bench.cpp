// SDL2's side of presentation: an 8-bit palettized view onto a 32-bit XRGB
// surface of the window's size. SDL refuses to scale an 8-bit surface onto a
// 32-bit one ("Blit combination not supported"), so the view is first
// converted to 32 bits at its own size (SDL_BlitSurface), then stretched with
// SDL_BlitScaled, which scales surfaces by nearest pixels only. Both steps
// are timed.
#include <SDL.h>

#include "bench/pcx_data.h"

namespace {

using bench::extent;

// An 8-bit surface holding the benchmark picture with the benchmark palette.
SDL_Surface *indexed_surface(extent size)
{
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormat(0, size.width, size.height, 8, SDL_PIXELFORMAT_INDEX8);
    if (surface == nullptr)
        return nullptr;
    SDL_Color colours[256];
    for (int32_t i = 0; i < 256; ++i) {
        bench::palette_colour(i, colours[i].r, colours[i].g, colours[i].b);
        colours[i].a = 255;
    }
    SDL_SetPaletteColors(surface->format->palette, colours, 0, 256);
    const std::vector<uint8_t> pixels = bench::picture(size);
    auto *bytes = static_cast<uint8_t *>(surface->pixels);
    for (int32_t y = 0; y < size.height; ++y)
        SDL_memcpy(bytes + y * surface->pitch, pixels.data() + y * size.width, static_cast<size_t>(size.width));
    return surface;
}

void present(benchmark::State &state, extent target)
{
    const extent view_size = bench::present_source;
    SDL_Surface *view = indexed_surface(view_size);
    SDL_Surface *colours =
        SDL_CreateRGBSurfaceWithFormat(0, view_size.width, view_size.height, 32, SDL_PIXELFORMAT_XRGB8888);
    SDL_Surface *window = SDL_CreateRGBSurfaceWithFormat(0, target.width, target.height, 32, SDL_PIXELFORMAT_XRGB8888);
    if (view == nullptr || colours == nullptr || window == nullptr) {
        state.SkipWithError(SDL_GetError());
    } else {
        for (auto _ : state) {
            SDL_Rect place{0, 0, target.width, target.height}; // the blit writes the clipped rectangle back
            if (SDL_BlitSurface(view, nullptr, colours, nullptr) != 0 ||
                SDL_BlitScaled(colours, nullptr, window, &place) != 0) {
                state.SkipWithError(SDL_GetError());
                break;
            }
            benchmark::ClobberMemory();
        }
    }
    SDL_FreeSurface(window);
    SDL_FreeSurface(colours);
    SDL_FreeSurface(view);
    bench::set_pixels(state, int64_t{target.width} * target.height);
}

const bool registered = [] {
    for (const extent target : bench::present_sizes)
        benchmark::RegisterBenchmark((bench::present_name(target) + "/sdl2").c_str(),
                                     [target](benchmark::State &state) { present(state, target); });
    return true;
}();

} // namespace
