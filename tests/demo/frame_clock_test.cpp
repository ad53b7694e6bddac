// The frame clock's decisions, on times the test chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "demo/frame_clock.h"

namespace {

TEST(FrameClock, DecidesFromTheTimeItIsGiven)
{
    struct step {
        int64_t now;
        bool due;
        int64_t wait_after;
    };
    // At 60 frames per second from 0: tick n is at n * 16666.67 us and due
    // a quarter of a period (4166 us) before.
    const step steps[] = {
        {0, true, 12500},      // the first call is tick 0; tick 1 is due at 12500
        {5000, false, 7500},
        {12499, false, 1},
        {12500, true, 16666},  // tick 1, early by a quarter period
        {20000, false, 9166},
        {200000, true, 12500}, // late by ten ticks: one frame, the missed ticks dropped
        {200001, false, 12499},
        {212500, true, 16666}, // tick 13 keeps its time
    };
    demo::frame_clock clock(60);
    for (const step &s : steps) {
        EXPECT_EQ(clock.take_frame(s.now), s.due) << "at " << s.now;
        EXPECT_EQ(clock.wait(s.now), s.wait_after) << "at " << s.now;
    }

    demo::frame_clock unpaced(0);
    for (int64_t now : {0, 0, 5, 1'000'000})
        EXPECT_TRUE(unpaced.take_frame(now));
    EXPECT_EQ(unpaced.wait(7), 0);
}

// A loop that sleeps as long as the clock says and wakes up to 3 ms late,
// whose frames take up to 4 ms, and one of which stalls for a second: the
// rate holds, the loop is never ahead of the clock, and the ticks missed in
// the stall are dropped rather than run in a burst.
TEST(FrameClock, SimulatedLoopKeepsTheRateAndDropsWhatItMissed)
{
    std::mt19937_64 random(20261207);
    for (int32_t rate : {30, 60, 144}) {
        const double rate_period = 1e6 / rate;
        demo::frame_clock clock(rate);
        std::vector<int64_t> starts;
        int64_t now = 0;
        int64_t stall_end = 0;
        while (now < 10'000'000) {
            if (!clock.take_frame(now)) {
                int64_t wait = clock.wait(now);
                ASSERT_GT(wait, 0) << "a frame not due must mean waiting";
                now += wait + static_cast<int64_t>(random() % 3000);
                continue;
            }
            starts.push_back(now);
            // Never ahead: at most one frame per tick that has come due.
            double ticks_due = (static_cast<double>(now) + rate_period / 4) / rate_period + 1;
            ASSERT_LE(static_cast<double>(starts.size()), ticks_due) << "rate " << rate << " at " << now;
            bool stall = stall_end == 0 && now >= 2'000'000;
            now += stall ? 1'000'000 : static_cast<int64_t>(random() % 4000);
            if (stall)
                stall_end = now;
        }
        EXPECT_NEAR(static_cast<double>(starts.size()), 9.0 * rate, 2) << "rate " << rate;
        auto after_stall = std::count_if(starts.begin(), starts.end(),
                                         [&](int64_t t) { return t >= stall_end && t < stall_end + 100'000; });
        EXPECT_LE(after_stall, rate / 10 + 1) << "rate " << rate << ": a burst after the stall";
    }
}

} // namespace
