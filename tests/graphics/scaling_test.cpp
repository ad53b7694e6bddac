// Image scaling: the step masks, the pixel each output position takes, and the
// calls that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "graphics/scaling.h"

namespace {

using bytes = std::vector<uint8_t>;

// The mask as pm::build_step_mask writes it, plus one guard byte after it.
bytes build_mask(int32_t count, int32_t length_a, int32_t length_b)
{
    bytes mask(static_cast<std::size_t>(pm::step_mask_bytes(count)) + 1, 0xEE);
    pm::build_step_mask(count, length_a, length_b, mask.data());
    return mask;
}

bool bit(const bytes &mask, int64_t step)
{
    return (mask[static_cast<std::size_t>(step / 8)] & (0x80 >> (step % 8))) != 0;
}

struct mask_example {
    int32_t old_length;
    int32_t new_length;
    std::vector<int32_t> ones; // steps whose bit is 1
    bytes mask;                // every byte written
    std::vector<int32_t> columns; // source column of each new column
};

const std::vector<mask_example> mask_examples = {
    {4, 6, {0, 1, 3, 4}, {0xD8}, {0, 1, 1, 2, 3, 3}},
    {6, 4, {0, 1, 3, 4}, {0xD8}, {0, 1, 3, 4}},
    {5, 8, {0, 1, 3, 4, 6}, {0xDA, 0x00}, {0, 1, 1, 2, 3, 3, 4, 4}},
    {8, 5, {0, 1, 3, 4, 6}, {0xDA, 0x00}, {0, 1, 3, 4, 6}},
    {3, 11, {0, 3, 7}, {0x91, 0x00}, {0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}},
    {11, 3, {0, 3, 7}, {0x91, 0x00}, {0, 3, 7}},
    {40, 4, {0, 10, 20, 30}, {0x80, 0x20, 0x08, 0x02, 0x00, 0x00}, {0, 10, 20, 30}},
    {1, 1, {0}, {0x80}, {0}},
    {1, 8, {0}, {0x80, 0x00}, {0, 0, 0, 0, 0, 0, 0, 0}},
    {16, 16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {0xFF, 0xFF, 0x00}, {}},
};

std::string label(const mask_example &e)
{
    return std::to_string(e.old_length) + " -> " + std::to_string(e.new_length);
}

TEST(StepMask, WorkedExamplesByteForByte)
{
    for (const mask_example &e : mask_examples) {
        const int32_t steps = std::max(e.old_length, e.new_length);
        const bytes mask = build_mask(steps, e.new_length, e.old_length);
        ASSERT_EQ(mask.size(), e.mask.size() + 1) << label(e);
        for (std::size_t i = 0; i < e.mask.size(); ++i)
            ASSERT_EQ(mask[i], e.mask[i]) << label(e) << ": mask byte " << i;
        EXPECT_EQ(mask.back(), 0xEE) << label(e) << ": wrote past the mask";

        std::vector<int32_t> ones;
        for (int32_t step = 0; step < steps; ++step) {
            if (bit(mask, step))
                ones.push_back(step);
        }
        EXPECT_EQ(ones, e.ones) << label(e);
        // The lengths may come in either order.
        EXPECT_EQ(build_mask(steps, e.old_length, e.new_length), mask) << label(e);
    }
}

TEST(StepMask, SingleStepIsOneByte)
{
    EXPECT_EQ(build_mask(1, 1, 1), (bytes{0x80, 0xEE}));
    EXPECT_EQ(build_mask(1, 1, 7), (bytes{0x80, 0xEE}));
}

// Bit i is 1 exactly when ceil((i + 1) S / L) > ceil(i S / L), so S bits are 1.
// The last rounds take long axes, some either side of 2^15, where masks
// stop being built in 16-bit vector lanes, and a few longer than any the
// scaling builds. (Each kernel set's masks are held to the scalar
// reference's in kernels_test.cpp.)
TEST(StepMask, MatchesClosedFormForRandomLengths)
{
    std::mt19937 random(2026);
    for (int round = 0; round < 800; ++round) {
        const int32_t most = round < 760 ? 600 : round < 790 ? pm::max_mask_steps : 2 * pm::max_mask_steps;
        const int32_t least = round < 780 ? 1 : round < 790 ? pm::max_mask_steps - 80 : pm::max_mask_steps + 1;
        const int32_t longer = std::uniform_int_distribution<int32_t>(least, most)(random);
        const int32_t shorter = std::uniform_int_distribution<int32_t>(1, longer)(random);
        const bytes mask = build_mask(longer, shorter, longer);
        ASSERT_EQ(mask.back(), 0xEE) << shorter << " / " << longer << ": wrote past the mask";
        int64_t ones = 0;
        for (int64_t i = 0; i < longer; ++i) {
            const int64_t before = (i * shorter + longer - 1) / longer;
            const int64_t after = ((i + 1) * shorter + longer - 1) / longer;
            ASSERT_EQ(bit(mask, i), after > before) << shorter << " / " << longer << ": step " << i;
            ones += bit(mask, i);
        }
        EXPECT_EQ(ones, shorter) << shorter << " / " << longer;
        // Bits past the last step are 0.
        for (int64_t i = longer; i < 8 * (static_cast<int64_t>(mask.size()) - 1); ++i)
            ASSERT_FALSE(bit(mask, i)) << shorter << " / " << longer << ": spare bit " << i;
    }
}

// ---- pm_scale_image ---------------------------------------------------------

// Source column (or row) of output position k for an axis from n to m pixels.
int32_t closed_form_source(int64_t k, int64_t n, int64_t m)
{
    if (m >= n)
        return static_cast<int32_t>(((k + 1) * n + m - 1) / m - 1);
    return static_cast<int32_t>(k * n / m);
}

bytes random_image(std::mt19937 &random, int32_t width, int32_t height)
{
    bytes image(static_cast<std::size_t>(width) * height);
    for (uint8_t &pixel : image)
        pixel = static_cast<uint8_t>(random());
    return image;
}

// Scales source and checks every output pixel against the given source rows
// and columns; reports the first pixel that differs.
void expect_scaled(const bytes &source, int32_t width, int32_t height, int32_t new_width, int32_t new_height,
                   const std::vector<int32_t> &rows, const std::vector<int32_t> &columns)
{
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(new_height));
    ASSERT_EQ(columns.size(), static_cast<std::size_t>(new_width));
    const std::size_t size = static_cast<std::size_t>(new_width) * new_height;
    bytes out(size + 16, 0xEE);
    EXPECT_EQ(pm_scale_image(source.data(), out.data(), width, height, new_width, new_height), 0);
    for (int32_t j = 0; j < new_height; ++j) {
        for (int32_t k = 0; k < new_width; ++k) {
            const uint8_t want = source[static_cast<std::size_t>(rows[j]) * width + columns[k]];
            ASSERT_EQ(out[static_cast<std::size_t>(j) * new_width + k], want)
                << width << " x " << height << " -> " << new_width << " x " << new_height << ": output (" << k
                << ", " << j << ") should be source (" << columns[k] << ", " << rows[j] << ")";
        }
    }
    for (std::size_t i = size; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0xEE) << "wrote past the destination at byte " << i;
}

std::vector<int32_t> closed_form_axis(int32_t n, int32_t m)
{
    std::vector<int32_t> sources;
    for (int32_t k = 0; k < m; ++k)
        sources.push_back(closed_form_source(k, n, m));
    return sources;
}

TEST(ScaleImage, WorkedExamples)
{
    std::mt19937 random(7);
    for (const mask_example &e : mask_examples) {
        if (e.columns.empty())
            continue;
        const bytes row = random_image(random, e.old_length, 1);
        expect_scaled(row, e.old_length, 1, e.new_length, 1, {0}, e.columns);
        const bytes column = random_image(random, 1, e.old_length);
        expect_scaled(column, 1, e.old_length, 1, e.new_length, e.columns, {0});
    }
    const bytes square = random_image(random, 4, 4);
    expect_scaled(square, 4, 4, 6, 6, {0, 1, 1, 2, 3, 3}, {0, 1, 1, 2, 3, 3});
    const bytes big_square = random_image(random, 6, 6);
    expect_scaled(big_square, 6, 6, 4, 4, {0, 1, 3, 4}, {0, 1, 3, 4});
}

// The four combinations of a growing and a shrinking axis.
TEST(ScaleImage, MixedDirections)
{
    std::mt19937 random(11);
    const bytes tall = random_image(random, 4, 6);
    expect_scaled(tall, 4, 6, 6, 4, {0, 1, 3, 4}, {0, 1, 1, 2, 3, 3});
    const bytes wide = random_image(random, 6, 4);
    expect_scaled(wide, 6, 4, 4, 6, {0, 1, 1, 2, 3, 3}, {0, 1, 3, 4});
}

TEST(ScaleImage, LogoAtOneTenth)
{
    std::mt19937 random(264);
    const bytes logo = random_image(random, 264, 40);
    expect_scaled(logo, 264, 40, 26, 4, {0, 10, 20, 30},
                  {0, 10, 20, 30, 40, 50, 60, 71, 81, 91, 101, 111, 121, 132, 142, 152, 162, 172, 182, 192, 203, 213,
                   223, 233, 243, 253});
}

TEST(ScaleImage, SinglePixelBothWays)
{
    const bytes one = {0x5A};
    expect_scaled(one, 1, 1, 7, 3, std::vector<int32_t>(3, 0), std::vector<int32_t>(7, 0));
    std::mt19937 random(3);
    const bytes image = random_image(random, 9, 5);
    expect_scaled(image, 9, 5, 1, 1, {0}, {0});
    expect_scaled(image, 9, 5, 1, 5, {0, 1, 2, 3, 4}, {0});
    expect_scaled(image, 9, 5, 9, 1, {0}, {0, 1, 2, 3, 4, 5, 6, 7, 8});
}

TEST(ScaleImage, EqualSizeIsACopy)
{
    std::mt19937 random(5);
    const bytes image = random_image(random, 13, 7);
    bytes out(image.size());
    pm_scale_image(image.data(), out.data(), 13, 7, 13, 7);
    EXPECT_EQ(out, image);
    // The masks are written all the same: every step takes a pixel.
    EXPECT_EQ(pm_state.scratch_area[0], 0xFF);
    EXPECT_EQ(pm_state.scratch_area[1], 0xF8);
    EXPECT_EQ(pm_state.y_step_mask[0], 0xFE);
    // Onto itself, the image stays as it was.
    pm_scale_image(out.data(), out.data(), 13, 7, 13, 7);
    EXPECT_EQ(out, image);
}

// Rows are gathered in shuffled blocks of 8 or 16 columns where a block's
// source columns lie within 32 bytes and its loads inside the row, byte by
// byte elsewhere: widths and ratios that reach every kind of block and row
// end, against the closed form.
TEST(ScaleImage, SeededWidthsAndRatiosFollowTheClosedForm)
{
    std::mt19937 random(2027);
    std::uniform_int_distribution<int32_t> length(1, 700), sixteenths(1, 80), rows(1, 5);
    for (int round = 0; round < 300; ++round) {
        const int32_t width = length(random);
        const int32_t new_width = std::max(1, width * sixteenths(random) / 16);
        const int32_t height = rows(random), new_height = rows(random);
        const bytes source = random_image(random, width, height);
        expect_scaled(source, width, height, new_width, new_height, closed_form_axis(height, new_height),
                      closed_form_axis(width, new_width));
        if (HasFatalFailure())
            return;
    }
}

// The last rounds take rows wide enough for several column passes, over
// which the x mask is written as the columns are worked out.
TEST(ScaleImage, RandomSizesFollowTheClosedForm)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<int32_t> length(1, 90), wide(1, 5000);
    for (int round = 0; round < 320; ++round) {
        auto &across = round < 300 ? length : wide;
        const int32_t width = across(random), height = length(random);
        const int32_t new_width = across(random), new_height = length(random);
        const bytes source = random_image(random, width, height);
        expect_scaled(source, width, height, new_width, new_height, closed_form_axis(height, new_height),
                      closed_form_axis(width, new_width));
        if (HasFatalFailure())
            return;
        // The masks left behind are the builder's, byte for byte.
        const int32_t x_steps = std::max(width, new_width), y_steps = std::max(height, new_height);
        const bytes x_mask = build_mask(x_steps, new_width, width), y_mask = build_mask(y_steps, new_height, height);
        ASSERT_TRUE(std::equal(x_mask.begin(), x_mask.end() - 1, pm_state.scratch_area))
            << width << " -> " << new_width << ": x mask";
        ASSERT_TRUE(std::equal(y_mask.begin(), y_mask.end() - 1, pm_state.y_step_mask))
            << height << " -> " << new_height << ": y mask";
    }
}

// Rows longer than the scaling handles at one pass are done in column strips.
TEST(ScaleImage, WideRowsInSeveralPasses)
{
    std::mt19937 random(4500);
    struct size {
        int32_t width, height, new_width, new_height;
    };
    const size sizes[] = {{3000, 3, 4500, 7}, {4500, 7, 2100, 3}, {2049, 4, 4097, 2}, {4097, 2, 5, 9}};
    for (const size &s : sizes) {
        const bytes source = random_image(random, s.width, s.height);
        expect_scaled(source, s.width, s.height, s.new_width, s.new_height, closed_form_axis(s.height, s.new_height),
                      closed_form_axis(s.width, s.new_width));
    }
}

TEST(ScaleImage, LeavesTheMasksInTheirAreas)
{
    const bytes source(6 * 8, 1);
    bytes out(4 * 5);
    pm_scale_image(source.data(), out.data(), 6, 8, 4, 5);
    EXPECT_EQ(pm_state.scratch_area[0], 0xD8);
    EXPECT_EQ(pm_state.y_step_mask[0], 0xDA);
    EXPECT_EQ(pm_state.y_step_mask[1], 0x00);
}

// The longest axis a mask can hold, on both sides of the scaling.
TEST(ScaleImage, LongestAxis)
{
    const int32_t longest = pm::max_mask_steps;
    bytes source(static_cast<std::size_t>(longest));
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 7 + 3);
    expect_scaled(source, longest, 1, 3, 1, {0}, closed_form_axis(longest, 3));
    expect_scaled(source, 1, longest, 1, 2, closed_form_axis(longest, 2), {0});
    const bytes three = {1, 2, 3};
    expect_scaled(three, 3, 1, longest, 1, {0}, closed_form_axis(3, longest));
}

TEST(ScaleImage, RefusedCallsWriteNothing)
{
    struct call {
        int32_t width, height, new_width, new_height;
    };
    const int32_t too_long = pm::max_mask_steps + 1;
    const call refused[] = {
        {0, 4, 4, 4},  {4, 0, 4, 4},  {4, 4, 0, 4},        {4, 4, 4, 0},  {-3, 4, 4, 4},
        {4, 4, 4, -1}, {too_long, 1, 1, 1}, {1, 1, too_long, 1}, {1, too_long, 1, 1}, {1, 1, 1, too_long},
        {INT32_MIN, 1, 1, 1}, {1, 1, INT32_MAX, 1},
    };
    const bytes source(64, 9);
    for (const call &c : refused) {
        bytes out(64, 0xEE);
        pm_state.scratch_area[0] = 0x11;
        pm_state.y_step_mask[0] = 0x22;
        EXPECT_EQ(pm_scale_image(source.data(), out.data(), c.width, c.height, c.new_width, c.new_height), 0);
        EXPECT_EQ(out, bytes(64, 0xEE)) << c.width << " x " << c.height << " -> " << c.new_width << " x "
                                        << c.new_height;
        EXPECT_EQ(pm_state.scratch_area[0], 0x11);
        EXPECT_EQ(pm_state.y_step_mask[0], 0x22);
    }
    bytes out(4, 0xEE);
    EXPECT_EQ(pm_scale_image(nullptr, out.data(), 2, 2, 2, 2), 0);
    EXPECT_EQ(out, bytes(4, 0xEE));
    EXPECT_EQ(pm_scale_image(source.data(), nullptr, 2, 2, 2, 2), 0);
}

} // namespace
