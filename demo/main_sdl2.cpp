// Linux entry: the demo in an SDL2 window.
#include <cstdio>

#include "demo/shell.h"
#include "platform/sdl2/sdl_window.h"

int main()
{
    sdl2::sdl_window window("Scaling and Scrolling", 640, 400);
    int code = demo::run(window);
    if (code < 0) {
        std::fprintf(stderr, "scaling-and-scrolling: cannot open a window: %s\n", window.error().c_str());
        return 1;
    }
    return code;
}
