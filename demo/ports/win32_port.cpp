#include "demo/ports/win32_port.h"

namespace demo {

bool win32_port::open()
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
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, nullptr);
    return window != nullptr;
}

void win32_port::show()
{
    ShowWindow(window_, show_command_);
    UpdateWindow(window_);
}

bool win32_port::dispatch_waiting_event()
{
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (message.message == WM_QUIT) {
        shell.quit_posted = true;
        shell.quit_code = static_cast<int32_t>(message.wParam);
        return true;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

void win32_port::wait_for_event(int64_t timeout)
{
    // Whole milliseconds, rounded up: waking early would only wait again.
    // MWMO_INPUTAVAILABLE also wakes for messages already in the queue.
    DWORD milliseconds = INFINITE;
    if (timeout >= 0)
        milliseconds = static_cast<DWORD>(timeout < 1'000'000 ? (timeout + 999) / 1000 : 1000);
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

LRESULT CALLBACK win32_port::window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param)
{
    switch (message) {
    case WM_CREATE:
        current->window_ = window;
        on_create();
        return 0;
    case WM_DESTROY:
        on_destroy(); // posts the quit to the shell's loop
        return 0;
    case WM_SIZE:
        // Minimised, the client area is 0 x 0, and no frames run.
        on_size(LOWORD(l_param), HIWORD(l_param));
        return 0;
    case WM_SETFOCUS:
        on_focus();
        return 0;
    case WM_PAINT:
        on_paint();
        return 0;
    default:
        return DefWindowProcA(window, message, w_param, l_param);
    }
}

} // namespace demo
