// Windows entry: the demo in a window of its own.
#include <windows.h>

#include <cstdio>
#include <string>

#include "demo/ports/win32_port.h"

namespace {

// A program without a console writes nowhere unless its standard error was
// redirected: borrow the console it was started from, if any.
void reach_standard_error()
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if ((error == nullptr || error == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        std::freopen("CONOUT$", "w", stderr);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command)
{
    std::string error;
    if (!demo::parse_command_line(command_line, demo::shell.options, error)) {
        reach_standard_error();
        std::fprintf(stderr, "scaling-and-scrolling: %s\n%s\n", error.c_str(), demo::usage);
        return 2;
    }
    if (demo::shell.options.stats)
        reach_standard_error();
    // Waits end on the millisecond asked for, not on the default 15.6 ms tick.
    timeBeginPeriod(1);
    demo::win32_port window(instance, show_command);
    int32_t code = demo::run(window);
    timeEndPeriod(1);
    return code < 0 ? 1 : code;
}
