// The Linux window port: an SDL2 window that delivers the shell's events and
// puts the software display's client surface on screen after each
// presentation.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "demo/shell.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace demo {

class sdl2_port : public window_port {
public:
    sdl2_port(const char *title, int32_t width, int32_t height);
    ~sdl2_port() override;

    sdl2_port(const sdl2_port &) = delete;
    sdl2_port &operator=(const sdl2_port &) = delete;

    bool open() override;
    void show() override;
    bool dispatch_waiting_event() override;
    void wait_for_event(int64_t timeout) override;
    pm_hdc get_dc() override { return dc_; }
    void release_dc(pm_hdc) override {}
    void invalidate() override { paint_pending_ = true; }
    void begin_paint() override {}
    void end_paint() override { put_on_screen(); }
    void frame_presented() override { put_on_screen(); }

    // Why open() failed.
    const std::string &error() const { return error_; }

private:
    void deliver(const SDL_Event &event);
    void wait_on_connection(int milliseconds);
    void resize(int32_t width, int32_t height);
    void put_on_screen();

    const char *title_;
    int32_t width_;
    int32_t height_;
    bool sdl_started_ = false;
    bool hang_up_caught_ = false;    // SIGHUP is ours until destruction
    struct sigaction previous_hang_up_ {};
    bool report_caught_ = false;     // and SIGUSR1, with --stats
    struct sigaction previous_report_ {};
    SDL_Window *window_ = nullptr;
    void *x11_display_ = nullptr;        // the X connection SDL reads, when SDL runs on X11
    SDL_Renderer *renderer_ = nullptr;
    SDL_Texture *texture_ = nullptr;
    int32_t texture_width_ = 0;
    int32_t texture_height_ = 0;
    pm_hdc dc_ = nullptr;
    bool paint_pending_ = false;
    bool event_waiting_ = false;         // waiting_ holds an event the wait took from SDL's queue
    std::unique_ptr<SDL_Event> waiting_;
    bool destroyed_ = false;
    std::string error_;
};

} // namespace demo
