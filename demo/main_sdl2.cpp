// Linux entry: the demo in an SDL2 window.
#include <cstdio>
#include <string>

#include "demo/ports/sdl2_port.h"

int main(int argc, char **argv)
{
    std::string error;
    if (!demo::parse_options(argc, argv, demo::shell.options, error)) {
        std::fprintf(stderr, "scaling-and-scrolling: %s\n%s\n", error.c_str(), demo::usage);
        return 2;
    }
    demo::sdl2_port window("Scaling and Scrolling", 640, 400);
    int code = demo::run(window);
    if (code < 0) {
        std::fprintf(stderr, "scaling-and-scrolling: cannot open a window: %s\n", window.error().c_str());
        return 1;
    }
    return code;
}
