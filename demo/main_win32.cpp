// Windows entry: the demo in a window of its own class, its device context
// handed to the library, frames run whenever the message queue is empty.
#include <windows.h>

#include "demo/shell.h"

namespace {

class win32_window : public demo::window_port {
public:
    win32_window(HINSTANCE instance, int show_command) : instance_(instance), show_command_(show_command) {}

    bool open() override
    {
        current = this;
        WNDCLASSEXA window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = instance_;
        window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        window_class.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
        window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        window_class.lpszClassName = class_name;
        RegisterClassExA(&window_class);
        // Creating the window delivers WM_CREATE, and with it on_create.
        HWND window = CreateWindowExA(0, class_name, "Scaling and Scrolling", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_,
                                      nullptr);
        return window != nullptr;
    }

    void show() override
    {
        ShowWindow(window_, show_command_);
        UpdateWindow(window_);
    }

    bool dispatch_waiting_event() override
    {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            return false;
        if (message.message == WM_QUIT) {
            demo::shell.quit_posted = true;
            demo::shell.quit_code = static_cast<int32_t>(message.wParam);
            return true;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        return true;
    }

    pm_hdc get_dc() override { return GetDC(window_); }
    void release_dc(pm_hdc dc) override { ReleaseDC(window_, static_cast<HDC>(dc)); }
    void invalidate() override { InvalidateRect(window_, nullptr, TRUE); }
    void begin_paint() override { BeginPaint(window_, &paint_); }
    void end_paint() override { EndPaint(window_, &paint_); }
    void frame_presented() override {} // the presentation drew straight into the window

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param)
    {
        switch (message) {
        case WM_CREATE:
            current->window_ = window;
            demo::on_create();
            return 0;
        case WM_DESTROY:
            demo::on_destroy(); // posts the quit to the shell's loop
            return 0;
        case WM_SIZE:
            demo::on_size(LOWORD(l_param), HIWORD(l_param));
            return 0;
        case WM_SETFOCUS:
            demo::on_focus();
            return 0;
        case WM_PAINT:
            demo::on_paint();
            return 0;
        default:
            return DefWindowProcA(window, message, w_param, l_param);
        }
    }

    static constexpr const char *class_name = "PXkvldemo";
    static inline win32_window *current = nullptr;

    HINSTANCE instance_;
    int show_command_;
    HWND window_ = nullptr;
    PAINTSTRUCT paint_{};
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    win32_window window(instance, show_command);
    int32_t code = demo::run(window);
    return code < 0 ? 1 : code;
}
