#include "demo/ports/web_port.h"

#include <emscripten.h>

#include <pixmora/pixmora_soft.h>

namespace {

// The page's side. Events wait in a queue on the page until the loop takes
// them, so that nothing calls into the program while it waits; each one
// also ends the wait.
enum event_kind : int32_t {
    event_size = 0,
    event_focus = 1,
    event_paint = 2,
    event_close = 3,
    event_hidden = 4,
    event_gpu_restored = 5
};

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
    // The canvas element may be replaced (canvas_leave_gpu): read it afresh.
    if (follow) {
        const observer = new ResizeObserver(() => post(0, Module['canvas'].clientWidth, Module['canvas'].clientHeight));
        observer.observe(canvas);
        Module['canvasObserver'] = observer;
    }
    window.addEventListener('focus', () => post(1, 0, 0));
    // A hidden page runs no frames; shown again, it is painted at once.
    document.addEventListener('visibilitychange', () => {
        post(4, document.hidden ? 1 : 0, 0);
        if (!document.hidden)
            post(2, 0, 0);
    });
    window.addEventListener('pagehide', () => post(3, 0, 0));
    // The browser may take the GPU's context away (a driver reset, too many
    // contexts): the next frame notices and draws on the software path.
    // Its loss is claimed, so that the context may come back, which is an
    // event.
    const gpuCanvas = Module['gpuCanvas'];
    if (gpuCanvas) {
        gpuCanvas.addEventListener('webglcontextlost', event => event.preventDefault());
        gpuCanvas.addEventListener('webglcontextrestored', () => post(5, 0, 0));
    }
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

// Starts the stretch on the page's GPU (web/stretch.js) unless the page
// asked for none (?gpu=0); 1 when it runs. The canvas notes the path taken.
// A canvas whose WebGL2 context turned out unusable is replaced by a fresh
// one (a canvas keeps the first kind of context it gave).
EM_JS(int32_t, gpu_start, (), {
    let gpu = null;
    if (!Module['noGpu'] && typeof makeGpuStretch === 'function') {
        try {
            gpu = makeGpuStretch(Module['canvas']);
        } catch (error) {
            console.warn('scaling-and-scrolling: no stretch on the GPU: ' + error.message);
            const fresh = Module['canvas'].cloneNode(false);
            Module['canvas'].replaceWith(fresh);
            Module['canvas'] = fresh;
        }
    }
    Module['gpu'] = gpu;
    Module['gpuCanvas'] = gpu ? Module['canvas'] : null;
    Module['canvas'].dataset.path = gpu ? 'webgl2' : 'canvas2d';
    return gpu ? 1 : 0;
});

// 1 when the GPU's context has been lost.
EM_JS(int32_t, gpu_context_lost, (), { return Module['gpu'].lost() ? 1 : 0; });

// Goes back to the GPU's canvas once its context has been restored: the
// stretch is made afresh on it (a lost context keeps none of its programs
// and textures) and it takes the software canvas's place. 1 when it runs.
EM_JS(int32_t, gpu_return, (), {
    const canvas = Module['gpuCanvas'];
    let gpu = null;
    try {
        gpu = canvas.getContext('webgl2').isContextLost() ? null : makeGpuStretch(canvas);
    } catch (error) {
        console.warn('scaling-and-scrolling: no stretch on the restored GPU: ' + error.message);
    }
    if (!gpu)
        return 0;
    Module['canvas'].replaceWith(canvas);
    Module['canvas'] = canvas;
    Module['gpu'] = gpu;
    canvas.dataset.path = 'webgl2';
    if (Module['canvasObserver']) {
        Module['canvasObserver'].disconnect();
        Module['canvasObserver'].observe(canvas);
    }
    return 1;
});

// Gives the GPU's canvas the client size; 0 when the GPU cannot draw it.
EM_JS(int32_t, gpu_resize, (int32_t width, int32_t height), { return Module['gpu'].resize(width, height) ? 1 : 0; });

// Keeps what the GPU's canvas shows, for the page's tests to read
// (Module.lastFrame: width, height, RGBA bytes top row first). Called before
// the page composites, while the drawing is still there.
EM_JS(void, gpu_keep_frame, (), { Module['lastFrame'] = Module['gpu'].read(); });

// Draws a recorded stretch (pm_soft_stretch's fields) on the GPU. When the
// page has set Module.readNextFrame, the drawing is also kept.
EM_JS(void, gpu_draw,
      (const uint8_t *bits, int32_t bitmap_width, int32_t bitmap_height, int32_t bit_count, const uint8_t *colours,
       int32_t x, int32_t y, int32_t width, int32_t height, const int32_t *columns, const int32_t *rows,
       uint32_t maps_serial),
      {
          Module['gpu'].draw(HEAPU8, { bits, bitmapWidth: bitmap_width, bitmapHeight: bitmap_height,
                                       bitCount: bit_count, colours, x, y, width, height, columns, rows,
                                       mapsSerial: maps_serial });
          if (Module['readNextFrame']) {
              Module['readNextFrame'] = false;
              Module['lastFrame'] = Module['gpu'].read();
          }
      });

// Leaves the GPU: a canvas holding a WebGL2 context takes no other, so a
// fresh one replaces it, for ImageData. The GPU's canvas is kept aside
// (Module.gpuCanvas) for a context that comes back.
EM_JS(void, canvas_leave_gpu, (), {
    const old = Module['canvas'];
    const fresh = old.cloneNode(false);
    old.replaceWith(fresh);
    Module['canvas'] = fresh;
    Module['gpu'] = null;
    fresh.dataset.path = 'canvas2d';
    if (Module['canvasObserver']) {
        Module['canvasObserver'].disconnect();
        Module['canvasObserver'].observe(fresh);
    }
});

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

// The frames shown so far, the mean and worst time one took, and the mean
// time of putting one on the canvas (part of the frame's), for the page (and
// its tests) to read.
EM_JS(void, canvas_note_frames, (int32_t frames, double mean_ms, double worst_ms, double put_mean_ms), {
    const data = Module['canvas'].dataset;
    data.frames = frames;
    data.frameMeanMs = mean_ms.toFixed(3);
    data.frameWorstMs = worst_ms.toFixed(3);
    data.putMeanMs = put_mean_ms.toFixed(3);
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

web_port::web_port(int32_t width, int32_t height, int32_t frame_limit, int32_t depth)
    : fixed_width_(width > 0 && height > 0 ? width : 0), fixed_height_(width > 0 && height > 0 ? height : 0),
      frame_limit_(frame_limit), depth_(depth)
{
}

web_port::~web_port()
{
    pm_soft_window_destroy(dc_);
}

bool web_port::open()
{
    const bool follow = fixed_width_ == 0;
    dc_ = follow ? pm_soft_window_create(canvas_client_width(), canvas_client_height())
                 : pm_soft_window_create(fixed_width_, fixed_height_);
    if (dc_ == nullptr)
        return false;
    // On the GPU the window only records what the library presents; on the
    // canvas's ImageData its surface is in the canvas's own byte order.
    gpu_ = gpu_start() != 0;
    pm_soft_window_set_layout(dc_, gpu_ ? PM_SOFT_RECORDED : PM_SOFT_RGBA);
    page_listen(follow ? 1 : 0);
    demo::on_create();
    if (depth_ != 0) {
        // Started here, the library makes the shell's buffers at this depth
        // (the shell's own start-up then changes nothing).
        pm_startup();
        pm_set_new_buffer_depth(depth_);
    }
    return true;
}

void web_port::show()
{
    resize(pm_soft_client_width(dc_), pm_soft_client_height(dc_));
    demo::on_paint();
}

bool web_port::dispatch_waiting_event()
{
    if (destroyed_)
        return true;
    if (close_pending_) {
        if (gpu_)
            gpu_keep_frame();
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
        if (event[1] != pm_soft_client_width(dc_) || event[2] != pm_soft_client_height(dc_))
            resize(event[1], event[2]);
        break;
    case event_focus: demo::on_focus(); break;
    case event_paint: demo::on_paint(); break;
    case event_close: close_pending_ = true; break;
    case event_hidden: demo::on_hidden(event[1] != 0); break;
    case event_gpu_restored: return_to_gpu(); break;
    default: break;
    }
    return true;
}

void web_port::leave_gpu()
{
    gpu_ = false;
    canvas_leave_gpu();
    pm_soft_window_set_layout(dc_, PM_SOFT_RGBA);
    demo::present_view();
}

void web_port::return_to_gpu()
{
    if (!gpu_lost_ || destroyed_ || gpu_return() == 0)
        return;
    gpu_lost_ = false;
    gpu_ = true;
    pm_soft_window_set_layout(dc_, PM_SOFT_RECORDED);
    demo::on_paint();
}

void web_port::resize(int32_t width, int32_t height)
{
    pm_soft_window_resize(dc_, width, height);
    demo::on_size(width, height);
}

void web_port::note_frames() const
{
    const frame_stats &stats = shell.stats;
    const double mean = stats.frames > 0 ? static_cast<double>(stats.total_time) / static_cast<double>(stats.frames) : 0;
    const double put = frames_ > 0 ? static_cast<double>(put_time_) / static_cast<double>(frames_) : 0;
    canvas_note_frames(frames_, mean / 1e3, static_cast<double>(stats.worst_time) / 1e3, put / 1e3);
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
    const int64_t start = now();
    put_on_canvas();
    put_time_ += now() - start;
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
    const int32_t width = pm_soft_client_width(dc_);
    const int32_t height = pm_soft_client_height(dc_);
    if (width <= 0 || height <= 0)
        return; // nothing to show on a canvas of no size
    if (gpu_ && gpu_context_lost() != 0) {
        // The context is gone: the surface is drawn, with the view presented
        // again onto it, until the context comes back.
        gpu_lost_ = true;
        leave_gpu();
    } else if (gpu_ && gpu_resize(width, height) == 0) {
        // Too large for the GPU: from now on the surface is drawn.
        leave_gpu();
    }
    if (gpu_) {
        pm_soft_stretch stretch;
        if (pm_soft_window_stretch(dc_, &stretch) == 0 && stretch.width > 0 && stretch.height > 0)
            gpu_draw(stretch.bits, stretch.bitmap_width, stretch.bitmap_height, stretch.bit_count, stretch.colours,
                     stretch.x, stretch.y, stretch.width, stretch.height, stretch.columns, stretch.rows,
                     stretch.maps_serial);
        return;
    }
    // The surface holds the canvas's R, G, B, A bytes already.
    canvas_put(reinterpret_cast<const uint8_t *>(pm_soft_client_pixels(dc_)), width, height);
}

} // namespace demo
