#include "demo/ports/web_port.h"

#include <emscripten.h>

#include "platform/soft/soft_display.h"

namespace {

// The page's side. Events wait in a queue on the page until the loop takes
// them, so that nothing calls into the program while it waits for a frame.
enum event_kind : int32_t { event_size = 0, event_focus = 1, event_paint = 2, event_close = 3 };

// Starts listening; with follow set, the canvas's size on the page becomes
// the client size.
EM_JS(void, page_listen, (int32_t follow), {
    const canvas = Module['canvas'];
    const events = Module['windowEvents'] = [];
    if (follow) {
        new ResizeObserver(() => events.push([0, canvas.clientWidth, canvas.clientHeight])).observe(canvas);
    }
    window.addEventListener('focus', () => events.push([1, 0, 0]));
    document.addEventListener('visibilitychange', () => { if (!document.hidden) events.push([2, 0, 0]); });
    window.addEventListener('pagehide', () => events.push([3, 0, 0]));
});

// Takes the oldest event into out[0..2] (kind, a, b); 0 when none waits.
EM_JS(int32_t, page_take_event, (int32_t *out), {
    const event = Module['windowEvents'].shift();
    if (!event)
        return 0;
    HEAP32.set(event, out >> 2);
    return 1;
});

EM_JS(int32_t, canvas_client_width, (), { return Module['canvas'].clientWidth; });
EM_JS(int32_t, canvas_client_height, (), { return Module['canvas'].clientHeight; });

// Puts width x height RGBA pixels on the canvas, whose own size follows.
EM_JS(void, canvas_put, (const uint8_t *rgba, int32_t width, int32_t height), {
    const canvas = Module['canvas'];
    if (canvas.width !== width)
        canvas.width = width;
    if (canvas.height !== height)
        canvas.height = height;
    const context = canvas.getContext('2d');
    context.putImageData(new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4), width, height), 0, 0);
});

// The frames shown so far and the mean and worst time one took, for the
// page (and its tests) to read.
EM_JS(void, canvas_note_frames, (int32_t frames, double mean_ms, double worst_ms), {
    const data = Module['canvas'].dataset;
    data.frames = frames;
    data.frameMeanMs = mean_ms.toFixed(3);
    data.frameWorstMs = worst_ms.toFixed(3);
});

EM_ASYNC_JS(void, wait_for_animation_frame, (), {
    await new Promise(resolve => requestAnimationFrame(resolve));
});

} // namespace

namespace demo {

web_port::web_port(int32_t width, int32_t height, int32_t frame_limit)
    : fixed_width_(width > 0 && height > 0 ? width : 0), fixed_height_(width > 0 && height > 0 ? height : 0),
      frame_limit_(frame_limit)
{
}

web_port::~web_port()
{
    if (dc_ != nullptr && soft::is_window_dc(dc_))
        soft::window_destroy(dc_);
}

bool web_port::open()
{
    const bool follow = fixed_width_ == 0;
    dc_ = follow ? soft::window_create(canvas_client_width(), canvas_client_height())
                 : soft::window_create(fixed_width_, fixed_height_);
    if (dc_ == nullptr)
        return false;
    page_listen(follow ? 1 : 0);
    demo::on_create();
    return true;
}

void web_port::show()
{
    resize(soft::client_width(dc_), soft::client_height(dc_));
    demo::on_paint();
}

bool web_port::dispatch_waiting_event()
{
    if (destroyed_)
        return true;
    if (close_pending_) {
        destroyed_ = true;
        demo::on_destroy();
        return true;
    }
    if (paint_pending_) {
        paint_pending_ = false;
        demo::on_paint();
        return true;
    }
    int32_t event[3] = {};
    if (page_take_event(event) == 0) {
        frame_started_ = emscripten_get_now();
        return false;
    }
    switch (event[0]) {
    case event_size:
        if (event[1] != soft::client_width(dc_) || event[2] != soft::client_height(dc_))
            resize(event[1], event[2]);
        break;
    case event_focus: demo::on_focus(); break;
    case event_paint: demo::on_paint(); break;
    case event_close: close_pending_ = true; break;
    default: break;
    }
    return true;
}

void web_port::resize(int32_t width, int32_t height)
{
    soft::window_resize(dc_, width, height);
    demo::on_size(width, height);
}

void web_port::frame_presented()
{
    put_on_canvas();
    ++frames_;
    const double spent = emscripten_get_now() - frame_started_;
    frame_time_total_ += spent;
    if (spent > frame_time_worst_)
        frame_time_worst_ = spent;
    canvas_note_frames(frames_, frame_time_total_ / frames_, frame_time_worst_);
    if (frame_limit_ > 0 && frames_ >= frame_limit_) {
        close_pending_ = true;
        return;
    }
    wait_for_animation_frame();
}

void web_port::put_on_canvas()
{
    const int32_t width = soft::client_width(dc_);
    const int32_t height = soft::client_height(dc_);
    const uint32_t *pixels = soft::client_pixels(dc_);
    if (width <= 0 || height <= 0 || pixels == nullptr)
        return; // nothing to show on a canvas of no size
    // 0x00RRGGBB words become the canvas's R, G, B, A bytes, fully opaque.
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    rgba_.resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = pixels[i];
        rgba_[4 * i] = static_cast<uint8_t>(pixel >> 16);
        rgba_[4 * i + 1] = static_cast<uint8_t>(pixel >> 8);
        rgba_[4 * i + 2] = static_cast<uint8_t>(pixel);
        rgba_[4 * i + 3] = 0xFF;
    }
    canvas_put(rgba_.data(), width, height);
}

} // namespace demo
