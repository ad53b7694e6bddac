#include "demo/ports/soft_port.h"

#include <utility>

#include <pixmora/pixmora_soft.h>

namespace demo {

soft_port::soft_port(int32_t width, int32_t height, std::vector<event> script)
    : width_(width), height_(height), script_(std::move(script))
{
}

soft_port::~soft_port()
{
    // The context stays usable after its release (the window owns it), as
    // the library still restores its palette into it at shut-down.
    if (dc_ != nullptr)
        pm_soft_window_destroy(dc_);
}

bool soft_port::open()
{
    dc_ = pm_soft_window_create(width_, height_);
    if (dc_ == nullptr)
        return false;
    on_create();
    return true;
}

void soft_port::show()
{
    on_size(pm_soft_client_width(dc_), pm_soft_client_height(dc_));
    on_paint();
}

bool soft_port::dispatch_waiting_event()
{
    ++passes_;
    while (next_ < script_.size()) {
        const event &step = script_[next_];
        if (step.kind != event_kind::idle)
            break;
        if (idle_left_ < 0)
            idle_left_ = step.a;
        if (paint_pending_)
            break;
        if (idle_left_ > 0)
            return false;
        idle_left_ = -1;
        ++next_;
    }
    if (paint_pending_) {
        paint_pending_ = false;
        on_paint();
        return true;
    }
    if (next_ == script_.size()) {
        if (!closed_) {
            closed_ = true;
            on_destroy();
        }
        return true;
    }
    const event step = script_[next_++];
    switch (step.kind) {
    case event_kind::size:
        pm_soft_window_resize(dc_, step.a, step.b);
        on_size(step.a, step.b);
        break;
    case event_kind::focus: on_focus(); break;
    case event_kind::hidden: on_hidden(step.a != 0); break;
    case event_kind::paint: on_paint(); break;
    case event_kind::close:
        closed_ = true;
        on_destroy();
        break;
    case event_kind::idle: break; // handled above
    }
    return true;
}

void soft_port::wait_for_event(int64_t timeout)
{
    if (timeout >= 0) {
        ++timed_waits_;
        now_ += timeout;
        return;
    }
    // Nothing but the script's next event can end this wait.
    ++endless_waits_;
    if (idle_left_ > 0)
        idle_left_ = 0;
}

void soft_port::release_dc(pm_hdc dc)
{
    if (dc == dc_)
        dc_released_ = true;
}

void soft_port::end_paint()
{
    ++paints_;
    if (on_shown)
        on_shown(*this);
}

void soft_port::frame_presented()
{
    ++frames_;
    if (idle_left_ > 0)
        --idle_left_;
    if (on_shown)
        on_shown(*this);
}

} // namespace demo
