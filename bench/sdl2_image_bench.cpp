// SDL2_image's side of PCX decoding: IMG_LoadPCX_RW on the picture in memory,
// giving an 8-bit palettized surface for 256 colours and a 24-bit one for
// three planes. Making and freeing the surface is part of its load. Beside
// pm_pcx_decode's RGBA8, IMG_Load_RW and SDL_ConvertSurfaceFormat to
// SDL_PIXELFORMAT_RGBA32, both surfaces made and freed inside the timing.
#include <SDL.h>
#include <SDL_image.h>

#include "bench/pcx_data.h"

namespace {

void decode(benchmark::State &state, const std::string &name)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes(name);
    const bench::extent size = bench::pcx_extent(bytes);
    if (bytes.empty()) {
        state.SkipWithError("picture unavailable");
        return;
    }
    for (auto _ : state) {
        SDL_RWops *input = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
        SDL_Surface *surface = input != nullptr ? IMG_LoadPCX_RW(input) : nullptr;
        SDL_RWclose(input);
        if (surface == nullptr) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::DoNotOptimize(surface->pixels);
        SDL_FreeSurface(surface);
    }
    bench::set_pixels(state, int64_t{size.width} * size.height);
}

void decode_rgba(benchmark::State &state, const std::string &name)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes(name);
    const bench::extent size = bench::pcx_extent(bytes);
    if (bytes.empty()) {
        state.SkipWithError("picture unavailable");
        return;
    }
    for (auto _ : state) {
        SDL_RWops *input = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
        SDL_Surface *surface = input != nullptr ? IMG_Load_RW(input, 1) : nullptr;
        SDL_Surface *rgba = surface != nullptr ? SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_RGBA32, 0) : nullptr;
        SDL_FreeSurface(surface);
        if (rgba == nullptr) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::DoNotOptimize(rgba->pixels);
        SDL_FreeSurface(rgba);
    }
    bench::set_pixels(state, int64_t{size.width} * size.height);
}

const bool registered = [] {
    for (const char *picture : {"sky256", "sky16planes", "sky24"}) {
        const std::string name = picture;
        benchmark::RegisterBenchmark(("decode_" + name + "_rgba/sdl2_image").c_str(),
                                     [name](benchmark::State &state) { decode_rgba(state, name); });
    }
    for (const bench::pcx_picture &picture : bench::pcx_pictures())
        for (const std::string &operation : bench::pcx_operations(picture)) {
            const std::string name = picture.name;
            benchmark::RegisterBenchmark((operation + "/sdl2_image").c_str(),
                                         [name](benchmark::State &state) { decode(state, name); });
        }
    return true;
}();

} // namespace
