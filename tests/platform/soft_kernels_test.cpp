// The software display's kernel table: every instruction set the processor
// offers, one at a time, against the scalar references on the same seeded
// inputs, pixel for pixel, including the pixels around what a kernel should
// write: lengths around each vector width, blocks of several rows, rows that
// start anywhere in a 32-byte block, colours in both of the surfaces' orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu/cpu.h"
#include "platform/soft/soft_kernels.h"

namespace {

using pixels = std::vector<uint32_t>;

::testing::AssertionResult same_pixels(const pixels &expected, const pixels &actual)
{
    for (size_t i = 0; i < expected.size() && i < actual.size(); ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure() << "first difference at pixel " << i << ": expected " << std::hex
                                                 << expected[i] << ", got " << actual[i];
    return ::testing::AssertionSuccess();
}

// What `run` leaves with the scalar references, and with `set`'s kernels.
::testing::AssertionResult same_as_scalar(pm::cpu::sets set, const std::function<pixels()> &run)
{
    pm::soft::kernels_select(0);
    const pixels reference = run();
    pm::soft::kernels_select(set);
    return same_pixels(reference, run());
}

TEST(SoftKernels, EverySetGivesTheScalarReferencesPixels)
{
    struct restore_kernels {
        ~restore_kernels() { pm::soft::kernels_select(pm::cpu::allowed()); }
    } restore;
    std::vector<pm::cpu::sets> offered;
    for (pm::cpu::sets set = 1; set <= pm::cpu::every; set <<= 1)
        if (pm::soft::kernels_select(set) == set)
            offered.push_back(set);
    if (offered.empty())
        GTEST_SKIP() << "this build has no kernels for this processor";

    std::mt19937 random(20260513);
    auto pick = [&](size_t low, size_t high) { return std::uniform_int_distribution<size_t>(low, high)(random); };
    for (const pm::cpu::sets set : offered) {
        SCOPED_TRACE(pm::cpu::name(set));
        for (int32_t round = 0; round < 400; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            const size_t count = pick(0, 3) == 0 ? pick(0, 300) : pick(0, 40); // source pixels or columns
            std::vector<uint8_t> indices(count + 8);
            for (uint8_t &index : indices)
                index = uint8_t(random());
            // Colours in both surface orders, in turn.
            pixels colours(std::max<size_t>(count + 8, 256));
            for (uint32_t &colour : colours) {
                const uint32_t red = random() & 0xFF, green = random() & 0xFF, blue = random() & 0xFF;
                colour = round % 2 == 0 ? pm::soft::order_xrgb::pack(red, green, blue)
                                        : pm::soft::order_rgba::pack(red, green, blue);
            }
            std::vector<uint64_t> pairs(256);
            for (size_t i = 0; i < pairs.size(); ++i)
                pairs[i] = colours[i] * uint64_t{0x100000001};
            // A block of rows of `width` columns, the first `at` pixels into
            // a surface whose rows are `stride` apart.
            const size_t rows = pick(1, 3), at = pick(0, 7), lead = pick(0, 7), spare = pick(0, 9);
            auto block = [&](size_t width, const std::function<void(pm::soft::row_block)> &make) {
                const size_t stride = width + spare;
                pixels surface(rows * stride + 16, 0xEEEEEEEE);
                make({surface.data() + at, rows, stride});
                return surface;
            };
            const pm::soft::present_kernels &k = pm::soft::kernels();

            EXPECT_TRUE(same_as_scalar(set, [&] {
                return block(count, [&](pm::soft::row_block out) {
                    k.convert_indices(out.first, indices.data(), count, colours.data());
                });
            })) << "convert_indices of " << count;
            EXPECT_TRUE(same_as_scalar(set, [&] {
                return block(2 * count, [&](pm::soft::row_block out) {
                    k.double_indices(out, indices.data(), count, pairs.data(), lead);
                });
            })) << "double_indices of " << count << " into " << rows << " rows, lead " << lead;
            EXPECT_TRUE(same_as_scalar(set, [&] {
                return block(2 * count, [&](pm::soft::row_block out) {
                    k.double_colours(out.first, colours.data(), count);
                });
            })) << "double_colours of " << count;

            // Runs of 1 to `longest` columns over `count` columns; the fills
            // that stay on the line may reach as far as the longest run.
            std::vector<uint32_t> starts;
            const size_t longest = pick(1, 12);
            for (size_t column = 0; column < count; column += pick(1, longest))
                starts.push_back(uint32_t(column));
            size_t reach = 0;
            for (size_t j = 0; j < starts.size(); ++j)
                reach = std::max<size_t>(reach, (j + 1 < starts.size() ? starts[j + 1] : count) - starts[j]);
            reach = (reach + pm::soft::fill_group - 1) / pm::soft::fill_group * pm::soft::fill_group;
            size_t whole = 0;
            while (whole < starts.size() && starts[whole] + reach <= count)
                ++whole;
            EXPECT_TRUE(same_as_scalar(set, [&] {
                return block(count, [&](pm::soft::row_block out) {
                    k.fill_runs(out.first, colours.data(), starts.data(), starts.size(), whole, count, reach);
                });
            })) << "fill_runs of " << starts.size() << " runs over " << count << ", reach " << reach;

            // Groups of eight columns, each from eight colours at its base.
            const size_t groups = count / 8;
            std::vector<uint32_t> bases(groups);
            std::vector<pm::soft::pick_group> picks(groups);
            for (size_t g = 0; g < groups; ++g) {
                bases[g] = uint32_t(pick(0, count));
                for (int32_t &from : picks[g].from)
                    from = int32_t(pick(0, 7));
            }
            EXPECT_TRUE(same_as_scalar(set, [&] {
                return block(8 * groups, [&](pm::soft::row_block out) {
                    k.pick_groups(out, colours.data(), bases.data(), picks.data(), groups);
                });
            })) << "pick_groups of " << groups << " into " << rows << " rows";
            if (HasFailure())
                return;
        }
    }
}

} // namespace
