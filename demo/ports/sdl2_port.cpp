#include "demo/ports/sdl2_port.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <pixmora/pixmora_soft.h>

namespace demo {

sdl2_port::sdl2_port(const char *title, int32_t width, int32_t height)
    : title_(title), width_(width), height_(height), waiting_(std::make_unique<SDL_Event>())
{
}

sdl2_port::~sdl2_port()
{
    if (texture_ != nullptr)
        SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr)
        SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr)
        SDL_DestroyWindow(window_);
    if (dc_ != nullptr)
        pm_soft_window_destroy(dc_);
    if (hang_up_caught_)
        sigaction(SIGHUP, &previous_hang_up_, nullptr);
    if (report_caught_)
        sigaction(SIGUSR1, &previous_report_, nullptr);
    if (sdl_started_)
        SDL_Quit();
}

namespace {

// SDL falls back to drivers that draw into memory when there is no display;
// the demo has a window or nothing, unless such a driver is asked for.
bool shows_nothing(const char *driver)
{
    if (driver == nullptr)
        return true;
    const char *asked = SDL_getenv("SDL_VIDEODRIVER");
    bool headless = SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0;
    return headless && (asked == nullptr || SDL_strcmp(asked, driver) != 0);
}

// The terminal closing (SIGHUP) ends the demo as SIGTERM does: SDL turns
// that one into a quit event, which the destroy handler answers.
extern "C" void hang_up(int)
{
    std::raise(SIGTERM);
}

// SIGUSR1, with --stats: the figures so far, on standard error.
volatile std::sig_atomic_t report_asked = 0;

extern "C" void ask_for_report(int)
{
    report_asked = 1;
}

// The signals that end the demo or ask for its figures: SDL's handlers for
// SIGTERM and SIGINT, and ours for SIGHUP and SIGUSR1, only note them for the
// next pump of events to act on.
sigset_t noted_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&signals, signal);
    return signals;
}

// Holds the noted signals back in this thread while it lives; `unblocked`
// is the mask from before, which a wait puts in place while it waits.
class signals_held {
public:
    signals_held()
    {
        const sigset_t signals = noted_signals();
        pthread_sigmask(SIG_BLOCK, &signals, &unblocked);
    }
    ~signals_held() { pthread_sigmask(SIG_SETMASK, &unblocked, nullptr); }
    signals_held(const signals_held &) = delete;
    signals_held &operator=(const signals_held &) = delete;

    sigset_t unblocked;
};

// Like SDL with SIGTERM, catches signal only when nobody else has chosen
// what it does (nohup ignores SIGHUP, for one). True when caught; previous
// then holds what to put back.
bool catch_signal(int signal, void (*handler)(int), struct sigaction &previous)
{
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler != SIG_DFL)
        return false;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return sigaction(signal, &action, nullptr) == 0;
}

bool named(const char *variable)
{
    const char *value = SDL_getenv(variable);
    return value != nullptr && value[0] != '\0';
}

// Whether any display is named at all; with only an X display named, the X
// driver is the one to use (others would only complain on standard error).
bool choose_driver()
{
    if (named("SDL_VIDEODRIVER"))
        return true;
    if (named("DISPLAY") && !named("WAYLAND_DISPLAY"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    return named("DISPLAY") || named("WAYLAND_DISPLAY");
}

// Whether renderer is OpenGL drawn by the processor (Mesa's llvmpipe or
// softpipe, as under a virtual X server): for the one copy of a finished
// frame that the port asks for, it costs several times SDL's own software
// renderer, in threads of its own.
bool drawn_by_the_processor(SDL_Renderer *renderer)
{
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) != 0 || SDL_strncmp(info.name, "opengl", 6) != 0)
        return false;
    // The renderer's context is current: ask it who draws.
    using get_string_function = const unsigned char *(*)(unsigned int name);
    constexpr unsigned int gl_renderer = 0x1F01;
    auto get_string = reinterpret_cast<get_string_function>(SDL_GL_GetProcAddress("glGetString"));
    const char *name = get_string != nullptr ? reinterpret_cast<const char *>(get_string(gl_renderer)) : nullptr;
    return name != nullptr && (SDL_strstr(name, "llvmpipe") != nullptr || SDL_strstr(name, "softpipe") != nullptr ||
                               SDL_strstr(name, "Software Rasterizer") != nullptr);
}

} // namespace

bool sdl2_port::open()
{
    // Threads that SDL and the drivers start inherit this mask: held back
    // there, the noted signals always reach this thread, whose wait they cut
    // short.
    const signals_held held;
    if (!choose_driver()) {
        error_ = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return false;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error_ = SDL_GetError();
        return false;
    }
    sdl_started_ = true;
    hang_up_caught_ = catch_signal(SIGHUP, hang_up, previous_hang_up_);
    if (shell.options.stats)
        report_caught_ = catch_signal(SIGUSR1, ask_for_report, previous_report_);
    if (shows_nothing(SDL_GetCurrentVideoDriver())) {
        error_ = "no display: only a video driver without a screen is available";
        return false;
    }
    window_ = SDL_CreateWindow(title_, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_, height_,
                               SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
    if (window_ == nullptr) {
        error_ = SDL_GetError();
        return false;
    }
    // The shell's frame clock sets the pace; vertical sync, where the
    // renderer offers it, only keeps frames from tearing.
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ == nullptr)
        renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (renderer_ != nullptr && drawn_by_the_processor(renderer_)) {
        SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        // The window's own framebuffer, put on screen by the X server's
        // shared memory, not through another renderer.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
    if (renderer_ == nullptr)
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr) {
        error_ = SDL_GetError();
        return false;
    }
#if defined(SDL_VIDEO_DRIVER_X11)
    // The renderer may have made the window anew; the connection stays.
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11)
        x11_display_ = info.info.x11.display;
#endif
    // The library draws on a software display window of the same client size.
    dc_ = pm_soft_window_create(width_, height_);
    on_create();
    return true;
}

void sdl2_port::show()
{
    SDL_ShowWindow(window_);
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(window_, &width, &height);
    resize(width, height);
    on_paint();
}

bool sdl2_port::dispatch_waiting_event()
{
    if (report_asked) {
        report_asked = 0;
        // The software display's live objects tell whether a long run leaks.
        std::fprintf(stderr, "%s; live display objects %d\n", shell.stats.report().c_str(),
                     pm_soft_live_objects());
    }
    if (paint_pending_) {
        paint_pending_ = false;
        on_paint();
        return true;
    }
    if (event_waiting_) {
        event_waiting_ = false;
        deliver(*waiting_);
        return true;
    }
    SDL_Event event;
    if (SDL_PollEvent(&event) == 0)
        return false;
    deliver(event);
    return true;
}

void sdl2_port::wait_for_event(int64_t timeout)
{
    if (event_waiting_ || paint_pending_)
        return;
    // Whole milliseconds, rounded up: waking early would only wait again.
    int milliseconds = timeout < 0 ? -1 : static_cast<int>(std::min<int64_t>((timeout + 999) / 1000, 1000));
    if (x11_display_ != nullptr) {
        wait_on_connection(milliseconds);
        return;
    }
    if (milliseconds < 0)
        event_waiting_ = SDL_WaitEvent(waiting_.get()) != 0;
    else
        event_waiting_ = SDL_WaitEventTimeout(waiting_.get(), milliseconds) != 0;
}

// On X11 the port waits on SDL's connection itself. When an event is queued
// while SDL's own wait blocks (the window's close, which that wait reads
// itself, for one), SDL sends the window a wake-up message over a second
// connection to the X server. The server keeps order only within a
// connection: busy with the first one, on which the window is hidden and
// destroyed right after the close, it may take that message after the
// destruction, and fail it (BadWindow). Xlib reports the failure when SDL_Quit
// closes the second connection, after SDL has put back Xlib's default error
// handler, which ends the program with code 1.
void sdl2_port::wait_on_connection(int milliseconds)
{
#if defined(SDL_VIDEO_DRIVER_X11)
    // A signal that arrived after the pump looked for one would otherwise
    // wait for the next X event, which a hidden window may never get: the
    // signals are held back from before the pump until the wait, which lets
    // them in as it starts.
    const signals_held held;
    // Reads all the connection holds and sends what is buffered for it.
    SDL_PumpEvents();
    if (SDL_PeepEvents(waiting_.get(), 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        event_waiting_ = true;
        return;
    }
    auto *display = static_cast<Display *>(x11_display_);
    if (QLength(display) > 0)
        return; // read from the connection but not yet taken by SDL
    // A signal cuts the wait short; the next pump turns it into a quit.
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    const timespec limit{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
    ppoll(&connection, 1, milliseconds < 0 ? nullptr : &limit, &held.unblocked);
#else
    (void)milliseconds;
#endif
}

void sdl2_port::deliver(const SDL_Event &event)
{
    // A closed window and a quit request (SDL turns SIGTERM and SIGINT into
    // one, and SIGHUP becomes SIGTERM) both end the program the same way, through the destroy handler.
    bool close = event.type == SDL_QUIT ||
                 (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
    if (close) {
        if (!destroyed_) {
            destroyed_ = true;
            on_destroy();
        }
        return;
    }
    if (event.type != SDL_WINDOWEVENT)
        return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED: resize(event.window.data1, event.window.data2); break;
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_HIDDEN: on_hidden(true); break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_SHOWN: on_hidden(false); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: on_focus(); break;
    case SDL_WINDOWEVENT_EXPOSED: on_paint(); break;
    default: break;
    }
}

void sdl2_port::resize(int32_t width, int32_t height)
{
    pm_soft_window_resize(dc_, width, height);
    on_size(width, height);
#ifdef __GLIBC__
    // The heap keeps the pages of what it freed resident, and the smaller
    // blocks that come and go with sizes (and the renderer dropped at start)
    // leave free space that a long run slowly touches all of. A resize
    // already replaces window-sized blocks; handing those pages back then
    // costs little beside that.
    malloc_trim(0);
#endif
}

void sdl2_port::put_on_screen()
{
    int32_t width = pm_soft_client_width(dc_);
    int32_t height = pm_soft_client_height(dc_);
    const uint32_t *pixels = pm_soft_client_pixels(dc_);
    if (width <= 0 || height <= 0 || pixels == nullptr)
        return; // minimised: nothing to show
    if (texture_ == nullptr || texture_width_ != width || texture_height_ != height) {
        if (texture_ != nullptr)
            SDL_DestroyTexture(texture_);
        // 0x00RRGGBB in 32 bits, the client surface's own format.
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        texture_width_ = width;
        texture_height_ = height;
        if (texture_ == nullptr)
            return;
    }
    SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

} // namespace demo
