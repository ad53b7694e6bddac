// Windows entry: the demo in a window of its own.
#include <windows.h>

#include "demo/ports/win32_port.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    demo::win32_port window(instance, show_command);
    int32_t code = demo::run(window);
    return code < 0 ? 1 : code;
}
