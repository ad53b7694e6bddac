#include "bench/bench_data.h"

namespace bench {

std::vector<uint8_t> picture(extent size)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(size.width) * static_cast<size_t>(size.height));
    size_t i = 0;
    for (int32_t y = 0; y < size.height; ++y)
        for (int32_t x = 0; x < size.width; ++x)
            pixels[i++] = picture_index(x, y);
    return pixels;
}

void palette_colour(int32_t i, uint8_t &r, uint8_t &g, uint8_t &b)
{
    r = static_cast<uint8_t>(i * 3);
    g = static_cast<uint8_t>(255 - i);
    b = static_cast<uint8_t>(i * 7);
}

void add(const std::string &operation, const std::string &library, void (*fn)(benchmark::State &))
{
    benchmark::RegisterBenchmark((operation + "/" + library).c_str(), fn);
}

void add_scale_cases(const std::string &library, void (*fn)(benchmark::State &, extent, extent))
{
    for (const scale_case &c : scale_cases) {
        const extent from = c.from, to = c.to;
        benchmark::RegisterBenchmark((std::string(c.name) + "/" + library).c_str(),
                                     [fn, from, to](benchmark::State &state) { fn(state, from, to); });
    }
}

std::string present_name(extent target)
{
    return "present_" + std::to_string(target.width) + "x" + std::to_string(target.height);
}

void set_pixels(benchmark::State &state, int64_t pixels)
{
    state.SetItemsProcessed(state.iterations() * pixels);
}

} // namespace bench
