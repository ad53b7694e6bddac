// Replays the fuzz corpora and every past fuzz finding through what the fuzz
// targets do: PCX inputs at every depth and from both sources (and through
// the codec's decoding), call sequences and codec round trips with all their
// checks. Built with
// sanitizers, this catches any return of a fixed out-of-bounds access.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/calls_fuzz_run.h"
#include "fuzz/codec_fuzz_run.h"
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

// Loads one input at every depth from memory and from a file (a 32 x 16
// buffer, refills of 4096 and of 7 bytes) with the given flags, then as the
// input itself asks; returns the results in that order.
std::vector<int32_t> replay(const std::vector<uint8_t> &data, int32_t flags = 0)
{
    pixmora_test::reset_library();
    pcx_fuzz::session session = pcx_fuzz::start_session();
    // An exact-size copy, so that a read past its end is a read past an
    // allocation (and the empty input still has an address).
    std::vector<uint8_t> copy(data);
    copy.reserve(1);
    std::vector<pcx_fuzz::load_setup> setups;
    for (const bool from_file : {false, true})
        for (const uint32_t refill : {0u, 7u})
            for (const int32_t depth : pcx_fuzz::depths)
                if (from_file || refill == 0)
                    setups.push_back({depth, 32, 16, from_file, refill, flags, 0, 0});
    setups.push_back(pcx_fuzz::setup_of(copy.data(), copy.size()));
    std::vector<int32_t> results;
    for (const pcx_fuzz::load_setup &setup : setups) {
        const pcx_fuzz::load_outcome outcome = pcx_fuzz::load(session, copy.data(), copy.size(), setup);
        EXPECT_TRUE(outcome.input_block_restored) << "depth " << setup.depth << (setup.from_file ? " file" : " memory");
        EXPECT_TRUE(outcome.inspection_agrees) << "depth " << setup.depth << (setup.from_file ? " file" : " memory");
        EXPECT_EQ(outcome.codec_fault, "") << "flags " << setup.flags << ", page " << setup.page;
        EXPECT_EQ(pm_state.input_block, pm_state.read_buffer);
        results.push_back(outcome.result);
    }
    pcx_fuzz::end_session(session);
    return results;
}

class FuzzReplay : public pixmora_test::LibraryTest {};

TEST_F(FuzzReplay, EverySeedLoadsFromMemoryAndFromAFile)
{
    const std::vector<fs::path> seeds = pictures_in("fuzz/corpus/pcx");
    ASSERT_FALSE(seeds.empty()) << "no seed corpus in fuzz/corpus/pcx";
    for (const fs::path &seed : seeds)
        for (const int32_t flags : {0, int32_t{pcx_all_layouts}}) {
            // The all-layouts-* seeds are read only with the flag.
            if (flags == 0 && seed.filename().string().rfind("all-layouts-", 0) == 0)
                continue;
            const std::vector<int32_t> results = replay(read_file(seed), flags);
            // Every seed is a readable picture; only one of 8-bit colour
            // planes is refused, and only by an 8-bit buffer. Every source
            // gives the same results.
            const bool colour = seed.filename() == "planar24.pcx" || seed.filename() == "all-layouts-planes4x8.pcx";
            const std::vector<int32_t> each_depth{colour ? 3 : 0, 0, 0, 0};
            for (size_t source = 0; source < 3; ++source)
                EXPECT_EQ(std::vector<int32_t>(results.begin() + 4 * source, results.begin() + 4 * source + 4),
                          each_depth)
                    << seed.filename() << ", flags " << flags << ", source " << source;
        }
}

TEST_F(FuzzReplay, EveryFindingIsHandled)
{
    for (const fs::path &finding : pictures_in("fuzz/regressions/pcx"))
        for (const int32_t flags : {0, int32_t{pcx_all_layouts}}) {
            const std::vector<int32_t> results = replay(read_file(finding), flags);
            for (size_t i = 0; i < results.size(); ++i)
                EXPECT_TRUE(pcx_fuzz::load_result_known(results[i]))
                    << finding.filename() << ", flags " << flags << ", load " << i << ": result " << results[i];
        }
}

// The call-sequence target's corpus and findings: every check holds.
TEST_F(FuzzReplay, EveryCallSequenceKeepsItsChecks)
{
    std::vector<fs::path> inputs = pictures_in("fuzz/corpus/calls");
    ASSERT_FALSE(inputs.empty()) << "no corpus in fuzz/corpus/calls";
    const std::vector<fs::path> findings = pictures_in("fuzz/regressions/calls");
    inputs.insert(inputs.end(), findings.begin(), findings.end());
    for (const fs::path &input : inputs) {
        std::vector<uint8_t> copy = read_file(input);
        copy.reserve(1);
        EXPECT_EQ(calls_fuzz::run(copy.data(), copy.size()), "") << input.filename();
    }
}

// The codec round-trip target's corpus and findings: every check holds.
TEST_F(FuzzReplay, EveryCodecRoundTripHolds)
{
    std::vector<fs::path> inputs = pictures_in("fuzz/corpus/codec");
    ASSERT_FALSE(inputs.empty()) << "no corpus in fuzz/corpus/codec";
    const std::vector<fs::path> findings = pictures_in("fuzz/regressions/codec");
    inputs.insert(inputs.end(), findings.begin(), findings.end());
    for (const fs::path &input : inputs) {
        std::vector<uint8_t> copy = read_file(input);
        copy.reserve(1);
        EXPECT_EQ(codec_fuzz::run(copy.data(), copy.size()), "") << input.filename();
    }
}

} // namespace
