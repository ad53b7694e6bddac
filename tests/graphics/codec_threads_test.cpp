// The codec calls share nothing: eight threads decode every test picture in
// every pixel format and encode what they decoded in every layout and as a
// DCX file, over and over, while this thread loads, presents and saves the
// same pictures through the stateful interface. Each thread's results must
// equal those of a run with no other thread, and the loads must show the
// colours the codec gives. PIXMORA_THREAD_SECONDS says how long the threads
// go on once they have shared out one round (by default not at all); the
// ThreadSanitizer stage of `make test` (test-tsan) runs them for 10 seconds,
// where any race fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/library_fixture.h"

namespace {

namespace fs = std::filesystem;

struct picture_file {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The shared samples (when present) and the fuzz seeds, which hold every
// layout the loader reads and a DCX file.
std::vector<picture_file> test_pictures()
{
    std::vector<fs::path> paths;
    for (const std::string &dir : {pixmora_test::samples_dir(), pixmora_test::source_path("fuzz/corpus/pcx")})
        if (!dir.empty() && fs::is_directory(dir))
            for (const fs::directory_entry &entry : fs::directory_iterator(dir))
                if (entry.is_regular_file() && entry.path().extension() != ".md")
                    paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<picture_file> pictures;
    for (const fs::path &path : paths) {
        std::ifstream in(path, std::ios::binary);
        pictures.push_back({path.filename().string(),
                            std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
    }
    return pictures;
}

int32_t append_bytes(void *context, const void *bytes, uint32_t size)
{
    const auto *first = static_cast<const uint8_t *>(bytes);
    static_cast<std::vector<uint8_t> *>(context)->insert(static_cast<std::vector<uint8_t> *>(context)->end(), first,
                                                          first + size);
    return 0;
}

constexpr int32_t formats[] = {PM_PIXELS_INDEX8, PM_PIXELS_RGB8, PM_PIXELS_RGBA8};
constexpr int32_t layouts[] = {pcx_layout_auto,    pcx_layout_mono,    pcx_layout_cga4,
                               pcx_layout_packed16, pcx_layout_vga256, pcx_layout_planes4,
                               pcx_layout_planes8,  pcx_layout_ega16,  pcx_layout_rgb24};
constexpr int32_t bytes_per_pixel[] = {0, 1, 3, 4};

// Everything one decoding of a picture in a format, and the encodings of
// what it gave, produce.
struct outcome {
    int32_t decoded = -1;
    int32_t width = 0, height = 0, colours = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> palette;
    std::vector<int32_t> encoded; // per layout, then the DCX file of two pages
    std::vector<std::vector<uint8_t>> files;
};

outcome run_codec(const picture_file &file, int32_t format)
{
    outcome out;
    pm_picture picture{};
    picture.format = format;
    out.decoded = pm_pcx_decode(file.bytes.data(), file.bytes.size(), pcx_all_layouts, -1, &picture);
    if (out.decoded != PM_PCX_OK)
        return out;
    out.pixels.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
                      static_cast<size_t>(bytes_per_pixel[format]));
    picture.pixels = out.pixels.data();
    out.decoded = pm_pcx_decode(file.bytes.data(), file.bytes.size(), pcx_all_layouts, -1, &picture);
    out.width = picture.width;
    out.height = picture.height;
    out.colours = picture.colours;
    out.palette.assign(picture.palette, picture.palette + sizeof picture.palette);
    if (out.decoded != PM_PCX_OK)
        return out;
    for (const int32_t layout : layouts) {
        out.files.emplace_back();
        out.encoded.push_back(pm_pcx_encode(&picture, layout, append_bytes, &out.files.back()));
    }
    const pm_picture pages[2] = {picture, picture};
    out.files.emplace_back();
    out.encoded.push_back(pm_dcx_encode(pages, 2, pcx_layout_auto, append_bytes, &out.files.back()));
    return out;
}

// "" when equal, else the first difference.
std::string difference(const outcome &got, const outcome &want)
{
    const auto first_byte = [](const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
        if (a.size() != b.size())
            return " sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
        const size_t at = static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
        return at == a.size() ? std::string() : " byte " + std::to_string(at);
    };
    if (got.decoded != want.decoded || got.width != want.width || got.height != want.height ||
        got.colours != want.colours)
        return "decoded: result " + std::to_string(got.decoded) + ", " + std::to_string(got.width) + " x " +
               std::to_string(got.height) + ", " + std::to_string(got.colours) + " colours; alone: result " +
               std::to_string(want.decoded) + ", " + std::to_string(want.width) + " x " + std::to_string(want.height) +
               ", " + std::to_string(want.colours) + " colours";
    if (const std::string at = first_byte(got.pixels, want.pixels); !at.empty())
        return "pixels differ:" + at;
    if (const std::string at = first_byte(got.palette, want.palette); !at.empty())
        return "palettes differ:" + at;
    if (got.encoded != want.encoded)
        return "encoding results differ";
    for (size_t i = 0; i < got.files.size(); ++i)
        if (const std::string at = first_byte(got.files[i], want.files[i]); !at.empty())
            return (i < std::size(layouts) ? "layout " + std::to_string(layouts[i]) : std::string("DCX file")) +
                   " differs:" + at;
    return "";
}

// Loads each picture into a 32-bit buffer, checks that it shows the codec's
// RGB, presents it and saves it. The first fault found, or "". The palette is
// made black before each load: indices a picture gives no colour (past a
// 16-colour header palette) show what the palette holds, and the codec gives
// them black.
std::string use_the_stateful_interface(const std::vector<picture_file> &pictures,
                                       const std::vector<std::vector<outcome>> &alone)
{
    for (size_t p = 0; p < pictures.size(); ++p) {
        const std::vector<uint8_t> &bytes = pictures[p].bytes;
        const outcome &rgb = alone[p][1];
        if (rgb.decoded != PM_PCX_OK)
            continue;
        pm_state.new_buffer_depth = 32;
        const int32_t buffer = pm_buffer_create(rgb.width, rgb.height);
        if (buffer < 0)
            return pictures[p].name + ": no buffer";
        pm_buffer_activate(buffer);
        pm_move_cursor(0, 0);
        const uint8_t black[768] = {};
        pm_set_palette_entries(0, 256, black);
        pm_set_input_block(bytes.data(), static_cast<uint32_t>(bytes.size()));
        const int32_t loaded = pm_load_pcx(nullptr, pcx_from_memory | pcx_at_cursor | pcx_all_layouts);
        pm_set_input_block(nullptr, 0);
        std::string fault = loaded != PM_PCX_OK ? "load result " + std::to_string(loaded) : "";
        std::vector<uint8_t> row(3 * static_cast<size_t>(rgb.width));
        for (int32_t y = 0; fault.empty() && y < rgb.height; ++y) {
            pm_read_row(0, y, rgb.width, PM_ROW_RGB24, row.data());
            if (!std::equal(row.begin(), row.end(), rgb.pixels.begin() + static_cast<std::ptrdiff_t>(y) *
                                                                             static_cast<std::ptrdiff_t>(row.size())))
                fault = "row " + std::to_string(y) + " of the load differs from the codec's";
        }
        pm_present(0, rgb.width - 1, 0, rgb.height - 1, 0, 319, 0, 199);
        uint32_t size = 0;
        if (fault.empty() && pm_save_pcx_memory(nullptr, 0, &size, pcx_layout_auto, 0, rgb.width - 1, 0,
                                                rgb.height - 1) != PM_PCX_OK)
            fault = "save refused";
        pm_buffer_deactivate();
        pm_buffer_destroy(buffer);
        if (!fault.empty())
            return pictures[p].name + ": " + fault;
    }
    return "";
}

class CodecThreads : public pixmora_test::LibraryTest {};

TEST_F(CodecThreads, ShareNothingWithEachOtherOrTheStatefulInterface)
{
    const std::vector<picture_file> pictures = test_pictures();
    ASSERT_FALSE(pictures.empty());
    std::vector<std::vector<outcome>> alone(pictures.size());
    for (size_t p = 0; p < pictures.size(); ++p)
        for (const int32_t format : formats)
            alone[p].push_back(run_codec(pictures[p], format));

    const char *seconds_text = std::getenv("PIXMORA_THREAD_SECONDS");
    const double seconds = seconds_text != nullptr ? std::atof(seconds_text) : 0.0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    constexpr size_t thread_count = 8;
    // A job is one picture in one format. Each thread does its share of the
    // jobs (every eighth), so that together they do each once, then goes on
    // round all of them from a place of its own until the time is up, so
    // that different pictures and formats are decoded at the same moment.
    const size_t jobs = pictures.size() * std::size(formats);
    std::vector<std::string> faults(thread_count);
    std::vector<size_t> done(thread_count, 0);
    std::atomic<size_t> running{thread_count};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            const size_t share = (jobs - t + thread_count - 1) / thread_count;
            for (size_t k = 0; faults[t].empty() && (k < share || std::chrono::steady_clock::now() < deadline); ++k) {
                const size_t job = k < share ? t + thread_count * k : (t * jobs / thread_count + k) % jobs;
                const size_t p = job / std::size(formats), f = job % std::size(formats);
                if (const std::string d = difference(run_codec(pictures[p], formats[f]), alone[p][f]); !d.empty())
                    faults[t] = pictures[p].name + " in format " + std::to_string(formats[f]) + ": " + d;
                done[t] = k + 1;
            }
            running.fetch_sub(1);
        });

    pixmora_test::start_library(32, 320, 200);
    std::string stateful;
    int stateful_rounds = 0;
    do {
        stateful = use_the_stateful_interface(pictures, alone);
        ++stateful_rounds;
    } while (stateful.empty() && running.load() > 0);
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(stateful, "");
    for (size_t t = 0; t < thread_count; ++t)
        EXPECT_EQ(faults[t], "") << "thread " << t << ", job " << done[t];
    std::printf("%zu pictures in %zu formats, 8 threads: %zu to %zu of them each; %d rounds of loads\n",
                pictures.size(), std::size(formats), *std::min_element(done.begin(), done.end()),
                *std::max_element(done.begin(), done.end()), stateful_rounds);
}

} // namespace
