// A window on the software display that plays a fixed script of events: the
// snapshot tool, the tests and the benchmark run the shell through it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "demo/shell.h"

namespace demo {

// Its time is its own: it starts at 0 and moves only when the shell waits,
// by the whole wait, so a script plays out at once whatever the frame rate.
class soft_port : public window_port {
public:
    enum class event_kind { size, focus, paint, hidden, idle, close };
    // size: a = width, b = height; hidden: a = 1 hidden, 0 shown again;
    // idle: a = frames to run with no event waiting (ended early when the
    // shell waits for an event only, since none will come).
    struct event {
        event_kind kind;
        int32_t a = 0;
        int32_t b = 0;
    };

    // A client area of width x height; once the script is played out, the
    // window is closed.
    soft_port(int32_t width, int32_t height, std::vector<event> script);
    ~soft_port() override;

    soft_port(const soft_port &) = delete;
    soft_port &operator=(const soft_port &) = delete;

    bool open() override;
    void show() override;
    bool dispatch_waiting_event() override;
    void wait_for_event(int64_t timeout) override;
    int64_t now() override { return now_; }
    pm_hdc get_dc() override { return dc_; }
    void release_dc(pm_hdc dc) override;
    void invalidate() override { paint_pending_ = true; }
    void begin_paint() override { ++paints_begun_; }
    void end_paint() override;
    void frame_presented() override;

    // Called whenever a presentation is shown (end of a paint, each frame).
    std::function<void(const soft_port &)> on_shown;

    pm_hdc dc() const { return dc_; }
    int32_t frames() const { return frames_; }
    int32_t paints() const { return paints_; }
    bool dc_released() const { return dc_released_; }
    // How the shell used the port: passes of the loop (calls to
    // dispatch_waiting_event), waits with a time limit and without one.
    int64_t passes() const { return passes_; }
    int64_t timed_waits() const { return timed_waits_; }
    int64_t endless_waits() const { return endless_waits_; }

private:
    int32_t width_;
    int32_t height_;
    std::vector<event> script_;
    size_t next_ = 0;          // next step of the script
    int32_t idle_left_ = -1;   // frames left in the current idle step; -1 before it starts
    int64_t now_ = 0;          // the port's time, in microseconds
    int64_t passes_ = 0;
    int64_t timed_waits_ = 0;
    int64_t endless_waits_ = 0;
    bool paint_pending_ = false;
    bool closed_ = false;
    bool dc_released_ = false;
    pm_hdc dc_ = nullptr;
    int32_t frames_ = 0;
    int32_t paints_ = 0;
    int32_t paints_begun_ = 0;
};

} // namespace demo
