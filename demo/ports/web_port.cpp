#include "demo/ports/web_port.h"

#include <emscripten.h>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

#include "platform/soft/soft_display.h"

namespace {

// The page's side. Events wait in a queue on the page until the loop takes
// them, so that nothing calls into the program while it waits; each one
// also ends the wait.
enum event_kind : int32_t { event_size = 0, event_focus = 1, event_paint = 2, event_close = 3, event_hidden = 4 };

// Starts listening; with follow set, the canvas's size on the page becomes
// the client size.
EM_JS(void, page_listen, (int32_t follow), {
    const canvas = Module['canvas'];
    const events = Module['windowEvents'] = [];
    const post = (...event) => {
        events.push(event);
        if (Module['wakeLoop'])
            Module['wakeLoop']();
    };
    if (follow)
        new ResizeObserver(() => post(0, canvas.clientWidth, canvas.clientHeight)).observe(canvas);
    window.addEventListener('focus', () => post(1, 0, 0));
    // A hidden page runs no frames; shown again, it is painted at once.
    document.addEventListener('visibilitychange', () => {
        post(4, document.hidden ? 1 : 0, 0);
        if (!document.hidden)
            post(2, 0, 0);
    });
    window.addEventListener('pagehide', () => post(3, 0, 0));
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

// Returns at the page's next refresh or at the next event. With no event
// waiting for anything but an event (a hidden page has no refreshes).
EM_ASYNC_JS(void, wait_for_refresh_or_event, (int32_t refresh), {
    if (Module['windowEvents'].length > 0)
        return;
    await new Promise(resolve => {
        Module['wakeLoop'] = resolve;
        if (refresh)
            requestAnimationFrame(resolve);
    });
    Module['wakeLoop'] = null;
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
    if (dc_ != nullptr && pm::soft::is_window_dc(dc_))
        pm::soft::window_destroy(dc_);
}

bool web_port::open()
{
    const bool follow = fixed_width_ == 0;
    dc_ = follow ? pm::soft::window_create(canvas_client_width(), canvas_client_height())
                 : pm::soft::window_create(fixed_width_, fixed_height_);
    if (dc_ == nullptr)
        return false;
    page_listen(follow ? 1 : 0);
    demo::on_create();
    return true;
}

void web_port::show()
{
    resize(pm::soft::client_width(dc_), pm::soft::client_height(dc_));
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
        if (!refresh_before_next_)
            return false;
        refresh_before_next_ = false;
        wait_for_refresh_or_event(1);
        if (page_take_event(event) == 0)
            return false;
    }
    switch (event[0]) {
    case event_size:
        if (event[1] != pm::soft::client_width(dc_) || event[2] != pm::soft::client_height(dc_))
            resize(event[1], event[2]);
        break;
    case event_focus: demo::on_focus(); break;
    case event_paint: demo::on_paint(); break;
    case event_close: close_pending_ = true; break;
    case event_hidden: demo::on_hidden(event[1] != 0); break;
    default: break;
    }
    return true;
}

void web_port::resize(int32_t width, int32_t height)
{
    pm::soft::window_resize(dc_, width, height);
    demo::on_size(width, height);
}

void web_port::note_frames() const
{
    const frame_stats &stats = shell.stats;
    const double mean = stats.frames > 0 ? static_cast<double>(stats.total_time) / static_cast<double>(stats.frames) : 0;
    canvas_note_frames(frames_, mean / 1e3, static_cast<double>(stats.worst_time) / 1e3);
}

void web_port::wait_for_event(int64_t timeout)
{
    note_frames();
    // Frames are due on the clock's ticks; the page refreshes at least as
    // often as the clock wants, so each refresh reads it again.
    wait_for_refresh_or_event(timeout >= 0 ? 1 : 0);
}

void web_port::frame_presented()
{
    put_on_canvas();
    ++frames_;
    if (frame_limit_ > 0 && frames_ >= frame_limit_) {
        close_pending_ = true;
        return;
    }
    // Frames back to back (--fps 0) would never hand the page back: the
    // browser runs them one per refresh.
    refresh_before_next_ = shell.options.frames_per_second == 0;
}

void web_port::put_on_canvas()
{
    const int32_t width = pm::soft::client_width(dc_);
    const int32_t height = pm::soft::client_height(dc_);
    const uint32_t *pixels = pm::soft::client_pixels(dc_);
    if (width <= 0 || height <= 0 || pixels == nullptr)
        return; // nothing to show on a canvas of no size
    // 0x00RRGGBB words become the canvas's R, G, B, A bytes, fully opaque.
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    rgba_.resize(count * 4);
    size_t i = 0;
#ifdef __wasm_simd128__
    // Four pixels at a time: bytes B, G, R, 0 of each word are reordered to
    // R, G, B and the fourth byte taken from a vector of 0xFF.
    const v128_t opaque = wasm_i8x16_splat(-1);
    for (; i + 4 <= count; i += 4) {
        const v128_t words = wasm_v128_load(pixels + i);
        wasm_v128_store(rgba_.data() + 4 * i, wasm_i8x16_shuffle(words, opaque, 2, 1, 0, 16, 6, 5, 4, 16, 10, 9, 8,
                                                                  16, 14, 13, 12, 16));
    }
#endif
    for (; i < count; ++i) {
        const uint32_t pixel = pixels[i];
        rgba_[4 * i] = static_cast<uint8_t>(pixel >> 16);
        rgba_[4 * i + 1] = static_cast<uint8_t>(pixel >> 8);
        rgba_[4 * i + 2] = static_cast<uint8_t>(pixel);
        rgba_[4 * i + 3] = 0xFF;
    }
    canvas_put(rgba_.data(), width, height);
}

} // namespace demo
