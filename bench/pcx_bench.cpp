// Our side of PCX decoding and presentation: pictures decoded from memory
// into buffers of their own size, and the demo's view stretched onto windows
// of the software display.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/pcx_data.h"
#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"

namespace {

using bench::active_buffer;
using bench::extent;

// The first pixel of the active buffer that differs from a generated
// picture's expected pixels, described; empty when all agree or when there is
// nothing to compare with (samples).
std::string first_difference(const active_buffer &buffer, const bench::pcx_expected &expected, extent size,
                             int32_t depth)
{
    const std::vector<uint8_t> &indices = expected.indices;
    const std::vector<uint32_t> &colours = expected.colours;
    for (int32_t y = 0; y < size.height; ++y) {
        const uint8_t *row = buffer.row(y);
        for (int32_t x = 0; x < size.width; ++x) {
            const auto at = static_cast<size_t>(y) * static_cast<size_t>(size.width) + static_cast<size_t>(x);
            uint32_t got = 0, want = 0;
            if (depth == 8 && at < indices.size()) {
                got = row[x];
                want = indices[at];
            } else if (depth == 32 && at < colours.size()) {
                std::memcpy(&got, row + 4 * x, 4); // B, G, R, 0 in memory
                want = colours[at];
            } else {
                return {};
            }
            if (got != want) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel (%d, %d) is 0x%08X, expected 0x%08X", x, y,
                              static_cast<unsigned>(got), static_cast<unsigned>(want));
                return text;
            }
        }
    }
    return {};
}

// The picture in memory, at the cursor (0, 0), with the trailer palette taken
// as it is: what an application does to show a picture it holds. A page of
// 0 or more is loaded from a DCX file.
void decode(benchmark::State &state, const std::string &name, int32_t depth, int32_t page = -1)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes(name);
    extent size = bench::pcx_extent(bytes);
    if (pm_pcx_info info{}; page >= 0) // the page's own window
        size = pm_pcx_inspect_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), pcx_all_layouts, page, 32,
                                     &info) == 0
                   ? extent{info.width, info.height}
                   : extent{0, 0};
    if (size.width < 1 || size.height < 1) {
        state.SkipWithError("picture unavailable");
        return;
    }
    active_buffer buffer(size, depth);
    if (!buffer.ok()) {
        state.SkipWithError("buffer creation failed");
        return;
    }
    pm_set_input_block(bytes.data(), static_cast<uint32_t>(bytes.size()));
    pm_move_cursor(0, 0);
    const int32_t flags = pcx_from_memory | pcx_at_cursor | pcx_no_reduction | pcx_all_layouts;
    auto load = [&] { return page < 0 ? pm_load_pcx(nullptr, flags) : pm_load_pcx_page(nullptr, flags, page); };
    // A wrong picture would make the time meaningless: check the first load.
    const std::string difference = load() == 0
                                       ? first_difference(buffer, bench::pcx_expected_pixels(name), size, depth)
                                       : "pm_load_pcx refused the picture";
    if (!difference.empty()) {
        pm_set_input_block(nullptr, 0);
        state.SkipWithError(difference.c_str());
        return;
    }
    for (auto _ : state) {
        if (load() != 0) {
            state.SkipWithError("pm_load_pcx refused the picture");
            break;
        }
        benchmark::ClobberMemory();
    }
    pm_set_input_block(nullptr, 0);
    bench::set_pixels(state, int64_t{size.width} * size.height);
}

// The view buffer, 8 bits with the benchmark picture and palette, stretched
// onto a window of the target's size. The library's own window is put back
// afterwards, since buffers are made against it.
void present(benchmark::State &state, extent target)
{
    const extent view = bench::present_source;
    active_buffer buffer(view, 8);
    if (!buffer.ok()) {
        state.SkipWithError("buffer creation failed");
        return;
    }
    uint8_t rgb[768];
    for (int32_t i = 0; i < 256; ++i)
        bench::palette_colour(i, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    pm_set_palette_entries(0, 256, rgb);
    const std::vector<uint8_t> pixels = bench::picture(view);
    for (int32_t y = 0; y < view.height; ++y)
        std::copy_n(pixels.begin() + y * view.width, view.width, buffer.row(y));

    const pm_hdc library_dc = pm_state.window_dc;
    const pm_hdc window = pm::soft::window_create(target.width, target.height);
    pm_attach_dc(window);
    for (auto _ : state) {
        pm_present(0, view.width - 1, 0, view.height - 1, 0, target.width - 1, 0, target.height - 1);
        benchmark::ClobberMemory();
    }
    pm_attach_dc(library_dc);
    pm::soft::window_destroy(window);
    bench::set_pixels(state, int64_t{target.width} * target.height);
}

const bool registered = [] {
    for (const bench::pcx_picture &picture : bench::pcx_pictures()) {
        const std::string name = picture.name;
        if (!picture.planar24)
            benchmark::RegisterBenchmark(("pcx_" + name + "_8/pixmora").c_str(),
                                         [name](benchmark::State &state) { decode(state, name, 8); });
        benchmark::RegisterBenchmark(("pcx_" + name + "_32/pixmora").c_str(),
                                     [name](benchmark::State &state) { decode(state, name, 32); });
    }
    // 16 colours in the layout every load reads and in one plane of 4 bits,
    // and the last page of a DCX file.
    for (const char *name : {"sky16planes", "sky16packed"})
        for (const int32_t depth : {8, 32})
            benchmark::RegisterBenchmark(("pcx_" + std::string(name) + "_" + std::to_string(depth) + "/pixmora").c_str(),
                                         [name, depth](benchmark::State &state) { decode(state, name, depth); });
    benchmark::RegisterBenchmark("dcx_sky16pages_last_32/pixmora", [](benchmark::State &state) {
        decode(state, "sky16pages", 32, bench::dcx_pages - 1);
    });
    for (const extent target : bench::present_sizes)
        benchmark::RegisterBenchmark((bench::present_name(target) + "/pixmora").c_str(),
                                     [target](benchmark::State &state) { present(state, target); });
    return true;
}();

} // namespace
