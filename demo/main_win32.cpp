// Windows entry: the demo in a window of its own.
#include <windows.h>

#include <cstdio>
#include <string>

#include "demo/ports/win32_port.h"

namespace {

// A program without a console writes nowhere unless its output was
// redirected: borrow the console it was started from, if any.
void reach_console(DWORD which, std::FILE *stream)
{
    HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        return;
    // Attaching fails when the process already has the console.
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED)
        std::freopen("CONOUT$", "w", stream);
}

void reach_standard_error()
{
    reach_console(STD_ERROR_HANDLE, stderr);
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
    if (demo::shell.options.help || demo::shell.options.version) {
        reach_console(STD_OUTPUT_HANDLE, stdout);
        std::fputs(demo::shell.options.help ? demo::help_text : (demo::version_text() + "\n").c_str(), stdout);
        std::fflush(stdout);
        return 0;
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
