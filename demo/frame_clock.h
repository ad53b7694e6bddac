// The demo's pace: frames at a fixed rate, the same on every machine and
// monitor. A pure object: the caller passes the time (microseconds from any
// fixed origin) and the clock says whether a frame is due and how long to
// wait for the next, so that a loop that blocks between frames and a port
// woken by the display's own refresh can share it.
#pragma once

#include <cstdint>

namespace demo {

constexpr int32_t default_frames_per_second = 60;

class frame_clock {
public:
    // 0 frames per second: no pacing, a frame is always due (back to back).
    frame_clock() : frame_clock(default_frames_per_second) {}
    explicit frame_clock(int32_t frames_per_second);

    // Whether a frame is due at now; when it is, its tick is taken. Ticks
    // that passed while the caller was late are dropped, not run in a burst,
    // and the ticks after them keep their times. The first call's time is
    // tick 0's.
    bool take_frame(int64_t now);

    // Microseconds from now until the next frame is due; 0 when one is due.
    int64_t wait(int64_t now) const;

    int32_t frames_per_second() const { return rate_; }

private:
    // When tick index is due: a quarter of a period before its time, so that
    // a caller woken a little early (by a coarse timer, or by the display's
    // refresh) runs it then rather than skipping it.
    int64_t due_time(int64_t index) const;

    int32_t rate_;
    bool started_ = false;
    int64_t origin_ = 0;    // the time of tick 0
    int64_t next_tick_ = 0; // index of the next tick not yet taken or dropped
};

} // namespace demo
