// The browser's window: a canvas on a web page that delivers the shell's
// events and shows what the library presents: stretched on the page's GPU
// where WebGL2 is offered (web/stretch.js), else the software display's
// client surface, in the canvas's byte order, through ImageData; that also
// while the browser has taken the GPU's context away, until it returns.
#pragma once

#include <cstdint>

#include "demo/shell.h"

namespace demo {

class web_port : public window_port {
public:
    // A client area that follows the canvas's size on the page, or, with
    // width and height above 0, stays at that size. With frame_limit above
    // 0 the window closes after that many frames. With depth 8, 16, 24 or
    // 32 the shell's buffers have that depth (0: the library's default).
    web_port(int32_t width, int32_t height, int32_t frame_limit, int32_t depth);
    ~web_port() override;

    web_port(const web_port &) = delete;
    web_port &operator=(const web_port &) = delete;

    bool open() override;
    void show() override;
    bool dispatch_waiting_event() override;
    // Waits for the next animation frame or the next event, whichever comes
    // first: the page's refresh is what the shell's frame clock is read on.
    void wait_for_event(int64_t timeout) override;
    pm_hdc get_dc() override { return dc_; }
    void release_dc(pm_hdc) override {}
    void invalidate() override { paint_pending_ = true; }
    void begin_paint() override {}
    void end_paint() override { put_on_canvas(); }
    void frame_presented() override;

    // Writes the frames shown and the shell's frame times onto the canvas
    // (data-frames, data-frame-mean-ms, data-frame-worst-ms, and
    // data-put-mean-ms of them putting the picture on the canvas) for the page.
    void note_frames() const;

private:
    void resize(int32_t width, int32_t height);
    void put_on_canvas();
    // Draws the surface on a canvas of its own from now on, the view
    // presented again onto it.
    void leave_gpu();
    // Back on the GPU after its lost context was restored.
    void return_to_gpu();

    int32_t fixed_width_;
    int32_t fixed_height_;
    int32_t frame_limit_;
    int32_t depth_;
    int32_t frames_ = 0;
    int64_t put_time_ = 0; // microseconds the frames spent putting the picture on the canvas
    pm_hdc dc_ = nullptr;
    bool gpu_ = false; // the stretch runs on the page's GPU
    bool gpu_lost_ = false; // left the GPU because its context was lost, until it is restored
    bool paint_pending_ = false;
    bool close_pending_ = false;
    bool destroyed_ = false;
    bool refresh_before_next_ = false; // a frame ran back to back: let the page refresh first
};

} // namespace demo
