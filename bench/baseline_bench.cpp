// What memory alone allows: memcpy and memset of the bytes that the
// bandwidth-bound cases write, the yardstick of their "% of memcpy" and
// "% of memset" columns.
#include <cstring>
#include <vector>

#include "bench/pcx_data.h"

namespace {

using bench::extent;

void copy_bytes(benchmark::State &state, size_t bytes)
{
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void set_bytes(benchmark::State &state, size_t bytes)
{
    std::vector<uint8_t> to(bytes);
    int value = 0;
    for (auto _ : state) {
        std::memset(to.data(), ++value & 0xFF, bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

size_t area(extent size)
{
    return static_cast<size_t>(size.width) * static_cast<size_t>(size.height);
}

const bool registered = [] {
    benchmark::RegisterBenchmark("copy_region/memcpy",
                                 [](benchmark::State &state) { copy_bytes(state, area(bench::copy_rect)); });
    for (const bench::scale_case &c : bench::scale_cases) {
        if (c.from.width == c.to.width && c.from.height == c.to.height) {
            const size_t bytes = area(c.to);
            benchmark::RegisterBenchmark((std::string(c.name) + "/memcpy").c_str(),
                                         [bytes](benchmark::State &state) { copy_bytes(state, bytes); });
        }
    }
    // The window's 32-bit pixels.
    for (const extent target : bench::present_sizes) {
        const size_t bytes = 4 * area(target);
        benchmark::RegisterBenchmark((bench::present_name(target) + "/memset").c_str(),
                                     [bytes](benchmark::State &state) { set_bytes(state, bytes); });
    }
    return true;
}();

} // namespace
