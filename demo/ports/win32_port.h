// The Windows window port: a window of its own class whose device context is
// handed to the library, so that presentations draw straight into it.
#pragma once

#include <windows.h>

#include "demo/shell.h"

namespace demo {

class win32_port : public window_port {
public:
    win32_port(HINSTANCE instance, int show_command) : instance_(instance), show_command_(show_command) {}

    win32_port(const win32_port &) = delete;
    win32_port &operator=(const win32_port &) = delete;

    bool open() override;
    void show() override;
    bool dispatch_waiting_event() override;
    void wait_for_event(int64_t timeout) override;
    pm_hdc get_dc() override { return GetDC(window_); }
    void release_dc(pm_hdc dc) override { ReleaseDC(window_, static_cast<HDC>(dc)); }
    void invalidate() override { InvalidateRect(window_, nullptr, TRUE); }
    void begin_paint() override { BeginPaint(window_, &paint_); }
    void end_paint() override { EndPaint(window_, &paint_); }
    void frame_presented() override {} // the presentation drew straight into the window

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

    static constexpr const char *class_name = "PXkvldemo";
    static inline win32_port *current = nullptr; // the port whose window the procedure serves

    HINSTANCE instance_;
    int show_command_;
    HWND window_ = nullptr;
    PAINTSTRUCT paint_{};
};

} // namespace demo
