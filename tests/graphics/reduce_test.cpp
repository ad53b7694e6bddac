// Colour reduction: merging of the closest used colours, packing of the
// survivors into a run of palette entries and renumbering of the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "support/library_fixture.h"

namespace {

using pixmora_test::make_buffer;
using pixmora_test::pixel_at;
using pixmora_test::start_library;

using palette = std::array<uint8_t, 768>;

struct colour {
    uint8_t r, g, b;
    bool operator==(const colour &) const = default;
};

colour entry(const palette &rgb, int32_t k)
{
    return {rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]};
}

void set_entry(palette &rgb, int32_t k, colour c)
{
    rgb[3 * k] = c.r;
    rgb[3 * k + 1] = c.g;
    rgb[3 * k + 2] = c.b;
}

// Every entry a different, recognisable colour.
palette distinct_palette()
{
    palette rgb{};
    for (int32_t k = 0; k < 256; ++k)
        set_entry(rgb, k, {static_cast<uint8_t>(k), static_cast<uint8_t>(255 - k), static_cast<uint8_t>(k * 7)});
    return rgb;
}

// The active buffer's pixels, top row first, each row left to right.
std::vector<uint8_t> read_picture()
{
    std::vector<uint8_t> pixels;
    for (int32_t y = 0; y < pm_state.active_height; ++y)
        for (int32_t x = 0; x < pm_state.active_width; ++x)
            pixels.push_back(*pixel_at(x, y));
    return pixels;
}

void write_picture(const std::vector<uint8_t> &pixels)
{
    ASSERT_EQ(pixels.size(), static_cast<size_t>(pm_state.active_width * pm_state.active_height));
    size_t i = 0;
    for (int32_t y = 0; y < pm_state.active_height; ++y)
        for (int32_t x = 0; x < pm_state.active_width; ++x)
            *pixel_at(x, y) = pixels[i++];
}

// A picture made of runs of (index, pixel count), in reading order.
std::vector<uint8_t> runs(std::initializer_list<std::pair<uint8_t, int>> list)
{
    std::vector<uint8_t> pixels;
    for (auto [index, n] : list)
        pixels.insert(pixels.end(), static_cast<size_t>(n), index);
    return pixels;
}

template <typename Container>
::testing::AssertionResult same_bytes(const Container &expected, const Container &actual, const char *what)
{
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << what << ": size " << actual.size() << ", expected " << expected.size();
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure() << what << ": first difference at byte " << i << ": "
                                                 << int(actual[i]) << ", expected " << int(expected[i]);
    return ::testing::AssertionSuccess();
}

class ReduceTest : public pixmora_test::LibraryTest {
protected:
    // An active 8-bit buffer holding the given picture (width x height).
    void picture(int32_t width, int32_t height, const std::vector<uint8_t> &pixels)
    {
        start_library();
        ASSERT_GE(make_buffer(width, height, 8), 0);
        write_picture(pixels);
    }
};

TEST_F(ReduceTest, DoesNothingWithoutAnActive8BitBuffer)
{
    for (int32_t depth : {0, 16, 24, 32}) {
        SCOPED_TRACE(depth == 0 ? "no active buffer" : "depth " + std::to_string(depth));
        pixmora_test::reset_library();
        start_library();
        make_buffer(8, 2, depth == 0 ? 8 : depth);
        const size_t bytes = static_cast<size_t>(pm_state.active_stride * pm_state.active_height);
        for (size_t i = 0; i < bytes; ++i)
            pm_state.active_bits[i] = static_cast<uint8_t>(i * 37);
        const std::vector<uint8_t> pixels_before(pm_state.active_bits, pm_state.active_bits + bytes);
        if (depth == 0)
            pm_buffer_deactivate();
        std::fill(std::begin(pm_state.colour_histogram), std::end(pm_state.colour_histogram), 0xABCDu);
        std::fill(std::begin(pm_state.colour_map), std::end(pm_state.colour_map), uint8_t{0x5A});
        palette rgb = distinct_palette();

        EXPECT_EQ(pm_reduce_colours(10, 2, rgb.data()), 0);

        EXPECT_TRUE(same_bytes(distinct_palette(), rgb, "palette"));
        const std::vector<uint8_t> pixels_after(pm_state.active_bits, pm_state.active_bits + bytes);
        EXPECT_TRUE(same_bytes(pixels_before, pixels_after, "pixels"));
        EXPECT_EQ(pm_state.colour_histogram[0], 0xABCDu);
        EXPECT_EQ(pm_state.colour_map[0], 0x5A);
    }
}

TEST_F(ReduceTest, RefusesARunOutsideThePalette)
{
    struct run {
        int32_t first, count;
    };
    const std::vector<uint8_t> pixels = runs({{3, 8}, {4, 8}});
    picture(8, 2, pixels);
    for (run bad : std::initializer_list<run>{
             {10, 0}, {10, -1}, {-1, 10}, {10, 247}, {0, 257}, {255, 2}, {INT32_MAX, 1}, {1, INT32_MAX}}) {
        SCOPED_TRACE(::testing::Message() << "first " << bad.first << ", count " << bad.count);
        palette rgb = distinct_palette();
        pm_state.colour_histogram[3] = 77;
        EXPECT_EQ(pm_reduce_colours(bad.first, bad.count, rgb.data()), 0);
        EXPECT_TRUE(same_bytes(distinct_palette(), rgb, "palette"));
        EXPECT_TRUE(same_bytes(pixels, read_picture(), "pixels"));
        EXPECT_EQ(pm_state.colour_histogram[3], 77u);
    }
    EXPECT_EQ(pm_reduce_colours(10, 236, nullptr), 0);
    EXPECT_TRUE(same_bytes(pixels, read_picture(), "pixels after a null palette"));
}

// Indices 1, 2 and 3 are (0,0,0), (0,0,2) and (0,0,4): the pairs (1,2) and
// (2,3) are equally close. A far colour at index 200 fills the buffer and
// never takes part in a merge.
TEST_F(ReduceTest, EquallyClosePairsAreDecidedByTheLaterPairsCount)
{
    struct tie_case {
        const char *name;
        int count1, count2, count3, count200;
        uint8_t new1, new2, new3;                 // pixel values afterwards (first = 0)
        uint32_t hist1, hist2, hist3;             // counts afterwards
    };
    const tie_case cases[] = {
        // 1 < min(5, 3): the later pair (2,3) wins and 3 is merged into 2.
        {"later pair wins", 5, 3, 1, 3, 0, 1, 1, 5, 4, 0},
        // 3 is not below min(5, 3): (1,2) stays and 2 is merged into 1.
        {"earlier pair stays", 5, 3, 3, 1, 0, 0, 1, 8, 0, 3},
    };
    for (const tie_case &c : cases) {
        SCOPED_TRACE(c.name);
        pixmora_test::reset_library();
        picture(12, 1, runs({{1, c.count1}, {2, c.count2}, {3, c.count3}, {200, c.count200}}));
        palette rgb{};
        set_entry(rgb, 1, {0, 0, 0});
        set_entry(rgb, 2, {0, 0, 2});
        set_entry(rgb, 3, {0, 0, 4});
        set_entry(rgb, 200, {250, 250, 250});

        pm_reduce_colours(0, 3, rgb.data());

        EXPECT_TRUE(same_bytes(runs({{c.new1, c.count1}, {c.new2, c.count2}, {c.new3, c.count3}, {2, c.count200}}),
                               read_picture(), "pixels"));
        EXPECT_EQ(pm_state.colour_histogram[1], c.hist1);
        EXPECT_EQ(pm_state.colour_histogram[2], c.hist2);
        EXPECT_EQ(pm_state.colour_histogram[3], c.hist3);
        EXPECT_EQ(pm_state.colour_histogram[200], static_cast<uint32_t>(c.count200));
    }
}

// A tie is settled by the count of the new pair's second index alone: a small
// count at its first index does not make it win.
TEST_F(ReduceTest, OnlyTheSecondIndexOfALaterPairIsCompared)
{
    // (1,2) and (3,4) both at distance 4; index 3 has the smallest count, but
    // index 4's count 3 is not below min(2, 2), so (1,2) is merged: equal
    // counts send the lower index 1 into 2.
    picture(8, 1, runs({{1, 2}, {2, 2}, {3, 1}, {4, 3}}));
    palette rgb{};
    set_entry(rgb, 1, {10, 10, 10});
    set_entry(rgb, 2, {10, 12, 10});
    set_entry(rgb, 3, {200, 10, 10});
    set_entry(rgb, 4, {200, 10, 12});

    pm_reduce_colours(0, 3, rgb.data());

    EXPECT_TRUE(same_bytes(runs({{0, 4}, {1, 1}, {2, 3}}), read_picture(), "pixels"));
    EXPECT_EQ(entry(rgb, 0), (colour{10, 12, 10})) << "the survivor keeps its own colour";
    EXPECT_EQ(pm_state.colour_histogram[1], 0u);
    EXPECT_EQ(pm_state.colour_histogram[2], 4u);
}

// With first = 0 the survivors start at entry 0 and the entries after them
// keep what they held; equal counts merge the lower index into the higher.
TEST_F(ReduceTest, FirstZeroPacksFromEntryZeroAndBlacksNothingOut)
{
    picture(8, 1, runs({{5, 2}, {9, 2}, {100, 4}}));
    palette rgb = distinct_palette();
    set_entry(rgb, 5, {10, 10, 10});
    set_entry(rgb, 9, {10, 10, 11});
    set_entry(rgb, 100, {200, 0, 0});
    const palette before = rgb;

    pm_reduce_colours(0, 2, rgb.data());

    EXPECT_TRUE(same_bytes(runs({{0, 4}, {1, 4}}), read_picture(), "pixels"));
    palette expected = before;
    set_entry(expected, 0, {10, 10, 11});
    set_entry(expected, 1, {200, 0, 0});
    EXPECT_TRUE(same_bytes(expected, rgb, "palette"));
    EXPECT_EQ(pm_state.colour_map[5], 0);
    EXPECT_EQ(pm_state.colour_map[9], 0);
    EXPECT_EQ(pm_state.colour_map[100], 1);
    EXPECT_EQ(pm_state.colour_map[42], 42) << "an index never used keeps its number";
}

// A picture that already fits is still moved into the run and renumbered.
TEST_F(ReduceTest, FewColoursAreMovedToTheRun)
{
    picture(8, 2, runs({{0, 5}, {255, 6}, {0, 5}}));
    palette rgb = distinct_palette();
    const palette before = rgb;

    pm_reduce_colours(10, 236, rgb.data());

    EXPECT_TRUE(same_bytes(runs({{10, 5}, {11, 6}, {10, 5}}), read_picture(), "pixels"));
    palette expected{};
    set_entry(expected, 10, entry(before, 0));
    set_entry(expected, 11, entry(before, 255));
    for (int32_t k = 12; k <= 245; ++k)
        set_entry(expected, k, entry(before, k - 10));
    EXPECT_TRUE(same_bytes(expected, rgb, "palette"));
    EXPECT_EQ(pm_state.colour_histogram[0], 10u);
    EXPECT_EQ(pm_state.colour_histogram[255], 6u);
}

// All 256 indices in use, fitted into 10..245: exactly 20 colours go.
TEST_F(ReduceTest, FullPictureLosesTwentyColours)
{
    std::mt19937 random(2024);
    std::vector<uint8_t> pixels(64 * 16);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i < 256 ? i : random() % 256);
    picture(64, 16, pixels);
    palette rgb{};
    for (uint8_t &byte : rgb)
        byte = static_cast<uint8_t>(random());
    const palette before = rgb;

    pm_reduce_colours(10, 236, rgb.data());

    std::vector<uint8_t> after = read_picture();
    std::set<uint8_t> in_use(after.begin(), after.end());
    EXPECT_EQ(in_use.size(), 236u);
    EXPECT_EQ(*in_use.begin(), 10);
    EXPECT_EQ(*in_use.rbegin(), 245);
    EXPECT_EQ(std::count(std::begin(pm_state.colour_histogram), std::end(pm_state.colour_histogram), 0u), 20);

    // The survivors are original colours, in ascending order of their old
    // index; a pixel that kept its colour's index keeps its colour exactly.
    int32_t last_old = -1;
    for (int32_t k = 10; k <= 245; ++k) {
        int32_t old = -1;
        for (int32_t o = last_old + 1; o < 256 && old < 0; ++o)
            if (pm_state.colour_histogram[o] != 0)
                old = o;
        ASSERT_GE(old, 0) << "entry " << k;
        EXPECT_EQ(entry(rgb, k), entry(before, old)) << "entry " << k;
        last_old = old;
    }
    // Pixels of one old index all end with one new index, and a merged one
    // ends with its survivor's: the colour it now shows is an original colour.
    std::array<int, 256> new_of{};
    new_of.fill(-1);
    for (size_t i = 0; i < pixels.size(); ++i) {
        ASSERT_TRUE(new_of[pixels[i]] < 0 || new_of[pixels[i]] == after[i]) << "pixel " << i;
        new_of[pixels[i]] = after[i];
        if (pm_state.colour_histogram[pixels[i]] != 0) {
            ASSERT_EQ(entry(rgb, after[i]), entry(before, pixels[i])) << "pixel " << i;
        }
    }
    for (int32_t k = 0; k < 10; ++k)
        EXPECT_EQ(entry(rgb, k), (colour{0, 0, 0})) << "entry " << k;
    for (int32_t k = 246; k < 256; ++k)
        EXPECT_EQ(entry(rgb, k), (colour{0, 0, 0})) << "entry " << k;
}

// The survivor of every index after merging, found the straightforward way:
// every pair tested in full, no shortcut.
std::array<int, 256> straightforward_survivors(const std::vector<uint8_t> &pixels, const palette &rgb, int count)
{
    std::array<uint32_t, 256> histogram{};
    std::array<int, 256> survivor{};
    for (int k = 0; k < 256; ++k)
        survivor[k] = k;
    for (uint8_t p : pixels)
        ++histogram[p];
    int used = static_cast<int>(256 - std::count(histogram.begin(), histogram.end(), 0u));
    for (; used > count; --used) {
        uint32_t best = UINT32_MAX;
        int bi = -1, bj = -1;
        for (int i = 0; i < 256; ++i)
            for (int j = i + 1; j < 256; ++j) {
                if (histogram[i] == 0 || histogram[j] == 0)
                    continue;
                uint32_t d = 0;
                for (int c = 0; c < 3; ++c) {
                    int diff = rgb[3 * i + c] - rgb[3 * j + c];
                    d += static_cast<uint32_t>(diff * diff);
                }
                if (d < best || (d == best && histogram[j] < std::min(histogram[bi], histogram[bj]))) {
                    best = d;
                    bi = i;
                    bj = j;
                }
            }
        int victim = histogram[bj] < histogram[bi] ? bj : bi;
        int keeper = victim == bi ? bj : bi;
        for (int &s : survivor)
            if (s == victim)
                s = keeper;
        histogram[keeper] += histogram[victim];
        histogram[victim] = 0;
    }
    return survivor;
}

// Seeded random pictures with few distinct component values, so that equal
// distances and equal counts are common.
TEST_F(ReduceTest, MatchesAStraightforwardMergeOnRandomPictures)
{
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        pixmora_test::reset_library();
        std::vector<uint8_t> choices(2 + random() % 60);
        for (uint8_t &c : choices)
            c = static_cast<uint8_t>(random());
        std::vector<uint8_t> pixels(16 * 6);
        for (uint8_t &p : pixels)
            p = choices[random() % choices.size()];
        palette rgb{};
        for (uint8_t &byte : rgb)
            byte = static_cast<uint8_t>(random() % 4 * (round % 2 ? 1 : 60));
        const int32_t count = 1 + static_cast<int32_t>(random() % choices.size());
        const int32_t first = static_cast<int32_t>(random() % static_cast<uint32_t>(257 - count));
        SCOPED_TRACE(::testing::Message() << "round " << round << ", first " << first << ", count " << count);
        picture(16, 6, pixels);
        const palette before = rgb;

        pm_reduce_colours(first, count, rgb.data());

        const std::array<int, 256> survivor = straightforward_survivors(pixels, before, count);
        std::vector<int> survivors(survivor.begin(), survivor.end());
        std::sort(survivors.begin(), survivors.end());
        survivors.erase(std::unique(survivors.begin(), survivors.end()), survivors.end());
        // Only indices that occur in the picture count as survivors.
        std::erase_if(survivors, [&](int s) { return std::find(pixels.begin(), pixels.end(), s) == pixels.end(); });
        std::vector<uint8_t> expected_pixels;
        for (uint8_t p : pixels) {
            auto rank = std::find(survivors.begin(), survivors.end(), survivor[p]) - survivors.begin();
            expected_pixels.push_back(static_cast<uint8_t>(first + rank));
        }
        ASSERT_TRUE(same_bytes(expected_pixels, read_picture(), "pixels"));
        palette expected{};
        const int32_t n = static_cast<int32_t>(survivors.size());
        for (int32_t k = 0; k < 256; ++k) {
            if (k < n)
                set_entry(expected, first + k, entry(before, survivors[static_cast<size_t>(k)]));
            else if (first == 0)
                set_entry(expected, k, entry(before, k));
            else if (k < count)
                set_entry(expected, first + k, entry(before, k));
        }
        ASSERT_TRUE(same_bytes(expected, rgb, "palette"));
    }
}

} // namespace
