#include "demo/ports/sdl2_port.h"

#include <SDL.h>

#include <csignal>

#include "platform/soft/soft_display.h"

namespace demo {

sdl2_port::sdl2_port(const char *title, int32_t width, int32_t height)
    : title_(title), width_(width), height_(height)
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
    if (dc_ != nullptr && soft::is_window_dc(dc_))
        soft::window_destroy(dc_);
    if (hang_up_caught_)
        sigaction(SIGHUP, &previous_hang_up_, nullptr);
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

} // namespace

bool sdl2_port::open()
{
    if (!choose_driver()) {
        error_ = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return false;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error_ = SDL_GetError();
        return false;
    }
    sdl_started_ = true;
    // Like SDL with SIGTERM, only when nobody else has chosen what the
    // signal does (nohup ignores it, for one).
    struct sigaction hang_up_action {};
    if (sigaction(SIGHUP, nullptr, &previous_hang_up_) == 0 && previous_hang_up_.sa_handler == SIG_DFL) {
        hang_up_action.sa_handler = hang_up;
        sigemptyset(&hang_up_action.sa_mask);
        hang_up_caught_ = sigaction(SIGHUP, &hang_up_action, nullptr) == 0;
    }
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
    // The application keeps no timer: vertical sync, where the renderer
    // offers it, is what keeps the animation watchable on a fast machine.
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ == nullptr)
        renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (renderer_ == nullptr)
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr) {
        error_ = SDL_GetError();
        return false;
    }
    // The library draws on a software display window of the same client size.
    dc_ = soft::window_create(width_, height_);
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
    if (paint_pending_) {
        paint_pending_ = false;
        on_paint();
        return true;
    }
    SDL_Event event;
    if (SDL_PollEvent(&event) == 0)
        return false;
    deliver(event);
    return true;
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
    case SDL_WINDOWEVENT_FOCUS_GAINED: on_focus(); break;
    case SDL_WINDOWEVENT_EXPOSED: on_paint(); break;
    default: break;
    }
}

void sdl2_port::resize(int32_t width, int32_t height)
{
    soft::window_resize(dc_, width, height);
    on_size(width, height);
}

void sdl2_port::put_on_screen()
{
    int32_t width = soft::client_width(dc_);
    int32_t height = soft::client_height(dc_);
    const uint32_t *pixels = soft::client_pixels(dc_);
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
