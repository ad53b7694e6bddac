// Replays the PCX fuzz corpus and every past fuzz finding through what the
// fuzz target does (a load into a 32 x 16 buffer of each depth). Built with
// sanitizers, this catches any return of a fixed out-of-bounds access.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/pcx_fuzz_load.h"
#include "support/library_fixture.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> pictures_in(const std::string &relative)
{
    std::vector<fs::path> found;
    const fs::path dir = pixmora_test::source_path(relative);
    if (fs::is_directory(dir))
        for (const fs::directory_entry &entry : fs::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().extension() != ".md")
                found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<uint8_t> read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads one input at every depth; returns the four results.
std::vector<int32_t> replay(const std::vector<uint8_t> &data)
{
    pixmora_test::reset_library();
    const pcx_fuzz::session session = pcx_fuzz::start_session();
    int32_t results[4] = {-1, -1, -1, -1};
    // An exact-size copy, so that a read past its end is a read past an
    // allocation (and the empty input still has an address).
    std::vector<uint8_t> copy(data);
    copy.reserve(1);
    pcx_fuzz::load_at_every_depth(session, copy.data(), copy.size(), results);
    EXPECT_EQ(pm_state.input_block, pm_state.read_buffer);
    return std::vector<int32_t>(results, results + 4);
}

class FuzzReplay : public pixmora_test::LibraryTest {};

TEST_F(FuzzReplay, EverySeedLoads)
{
    const std::vector<fs::path> seeds = pictures_in("fuzz/corpus/pcx");
    ASSERT_FALSE(seeds.empty()) << "no seed corpus in fuzz/corpus/pcx";
    for (const fs::path &seed : seeds) {
        const std::vector<int32_t> results = replay(read_file(seed));
        // Every seed is a readable picture; only a 24-bit one is refused, and
        // only by the 8-bit buffer.
        const bool planar24 = seed.filename() == "planar24.pcx";
        EXPECT_EQ(results, (std::vector<int32_t>{planar24 ? 3 : 0, 0, 0, 0})) << seed.filename();
    }
}

TEST_F(FuzzReplay, EveryFindingIsHandled)
{
    for (const fs::path &finding : pictures_in("fuzz/regressions")) {
        const std::vector<int32_t> results = replay(read_file(finding));
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(results[i] >= 0 && results[i] <= 4)
                << finding.filename() << " at " << pcx_fuzz::depths[i] << " bits: result " << results[i];
    }
}

} // namespace
