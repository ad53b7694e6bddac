// Our side of decoding without a buffer: pm_pcx_decode of the 256-colour,
// 16-colour and 24-bit pictures as RGBA8 into memory the caller holds, and
// the 256-colour picture decoded by 1, 2 and 8 threads at once.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/pcx_data.h"
#include <pixmora/pixmora.h>

namespace {

// The pictures of the decode_<picture>_rgba rows.
const char *const pictures[] = {"sky256", "sky16planes", "sky24"};
// Decodes in one iteration of a threaded row, shared out among its threads,
// so that starting the threads is a small part of the time.
constexpr int32_t decodes_per_round = 48;

// A picture's RGBA8 memory, sized by a first call without pixels.
struct rgba_picture {
    pm_picture picture{};
    std::vector<uint8_t> pixels;
};

int32_t prepare(const std::vector<uint8_t> &bytes, rgba_picture *out)
{
    out->picture.format = PM_PIXELS_RGBA8;
    const int32_t sized = pm_pcx_decode(bytes.data(), bytes.size(), pcx_all_layouts, -1, &out->picture);
    if (sized != PM_PCX_OK)
        return sized;
    out->pixels.resize(4 * static_cast<size_t>(out->picture.width) * static_cast<size_t>(out->picture.height));
    out->picture.pixels = out->pixels.data();
    return pm_pcx_decode(bytes.data(), bytes.size(), pcx_all_layouts, -1, &out->picture);
}

// The first pixel that differs from a generated picture's colours; empty
// when all agree.
std::string first_difference(const rgba_picture &decoded, const bench::pcx_expected &expected)
{
    const std::vector<uint32_t> &colours = expected.colours;
    for (size_t i = 0; i < colours.size() && 4 * i + 3 < decoded.pixels.size(); ++i) {
        const uint8_t *pixel = decoded.pixels.data() + 4 * i;
        const uint32_t got = uint32_t{pixel[0]} << 16 | uint32_t{pixel[1]} << 8 | pixel[2];
        if (got != colours[i] || pixel[3] != 255) {
            char text[96];
            std::snprintf(text, sizeof text, "pixel %zu is 0x%06X alpha %d, expected 0x%06X", i,
                          static_cast<unsigned>(got), pixel[3], static_cast<unsigned>(colours[i]));
            return text;
        }
    }
    return {};
}

// One decoding, checked once against the generated pixels, then timed.
void decode(benchmark::State &state, const std::string &name)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes(name);
    rgba_picture decoded;
    const int32_t result = bytes.empty() ? PM_PCX_INVALID : prepare(bytes, &decoded);
    const std::string difference =
        result == PM_PCX_OK ? first_difference(decoded, bench::pcx_expected_pixels(name)) : "pm_pcx_decode refused it";
    if (!difference.empty()) {
        state.SkipWithError(difference.c_str());
        return;
    }
    for (auto _ : state) {
        if (pm_pcx_decode(bytes.data(), bytes.size(), pcx_all_layouts, -1, &decoded.picture) != PM_PCX_OK) {
            state.SkipWithError("pm_pcx_decode refused the picture");
            break;
        }
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{decoded.picture.width} * decoded.picture.height);
}

// `threads` threads decode the 256-colour picture decodes_per_round times
// between them, each into its own memory. Timed on the wall clock and given
// per decoding (the manual time of a round over its decodes), so that the
// rows compare with each other as throughput.
void decode_in_threads(benchmark::State &state, int32_t threads)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes("sky256");
    std::vector<rgba_picture> decoded(static_cast<size_t>(threads));
    for (rgba_picture &picture : decoded)
        if (bytes.empty() || prepare(bytes, &picture) != PM_PCX_OK) {
            state.SkipWithError("pm_pcx_decode refused the picture");
            return;
        }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> running;
        for (int32_t t = 0; t < threads; ++t)
            running.emplace_back([&bytes, &picture = decoded[static_cast<size_t>(t)], threads] {
                for (int32_t i = 0; i < decodes_per_round / threads; ++i)
                    pm_pcx_decode(bytes.data(), bytes.size(), pcx_all_layouts, -1, &picture.picture);
            });
        for (std::thread &thread : running)
            thread.join();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count() / decodes_per_round);
    }
    bench::set_pixels(state, int64_t{decoded[0].picture.width} * decoded[0].picture.height);
}

const bool registered = [] {
    for (const char *picture : pictures) {
        const std::string name = picture;
        benchmark::RegisterBenchmark(("decode_" + name + "_rgba/pixmora").c_str(),
                                     [name](benchmark::State &state) { decode(state, name); });
    }
    for (const int32_t threads : {1, 2, 8})
        benchmark::RegisterBenchmark(("decode_sky256_rgba_threads_" + std::to_string(threads) + "/pixmora").c_str(),
                                     [threads](benchmark::State &state) { decode_in_threads(state, threads); })
            ->UseManualTime();
    return true;
}();

} // namespace
