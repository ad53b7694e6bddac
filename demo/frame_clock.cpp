#include "demo/frame_clock.h"

#include <algorithm>

namespace demo {

namespace {

constexpr int64_t microseconds_per_second = 1'000'000;

} // namespace

frame_clock::frame_clock(int32_t frames_per_second) : rate_(std::max(frames_per_second, 0)) {}

int64_t frame_clock::due_time(int64_t index) const
{
    // Times from the origin rather than summed periods, so that a period that
    // is not a whole number of microseconds does not drift.
    return origin_ + (index * 4 - 1) * microseconds_per_second / (4 * rate_);
}

bool frame_clock::take_frame(int64_t now)
{
    if (rate_ == 0)
        return true;
    if (!started_) {
        started_ = true;
        origin_ = now;
        next_tick_ = 1;
        return true;
    }
    if (now < due_time(next_tick_))
        return false;
    // The latest tick already due is the one taken; those before it are dropped.
    int64_t latest = std::max(next_tick_, (now - origin_) * rate_ / microseconds_per_second);
    while (due_time(latest + 1) <= now)
        ++latest;
    next_tick_ = latest + 1;
    return true;
}

int64_t frame_clock::wait(int64_t now) const
{
    if (rate_ == 0 || !started_)
        return 0;
    return std::max<int64_t>(due_time(next_tick_) - now, 0);
}

} // namespace demo
