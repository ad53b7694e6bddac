// Linux entry: the demo in an SDL2 window.
#include <cstdio>
#include <string>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "demo/ports/sdl2_port.h"

int main(int argc, char **argv)
{
#ifdef __GLIBC__
    // Every resize replaces window-sized blocks (the client surface, SDL's
    // texture), up to several megabytes each. Left to itself, glibc raises
    // its mmap threshold to the largest such block freed, after which they
    // all come from the heap, which they fragment: a long run with many
    // resizes grows by megabytes. A fixed threshold keeps them mapped, so
    // that freeing one gives it back to the system.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    std::string error;
    if (!demo::parse_options(argc, argv, demo::shell.options, error)) {
        std::fprintf(stderr, "scaling-and-scrolling: %s\n%s\n", error.c_str(), demo::usage);
        return 2;
    }
    if (demo::shell.options.help || demo::shell.options.version) {
        std::fputs(demo::shell.options.help ? demo::help_text : (demo::version_text() + "\n").c_str(), stdout);
        return 0;
    }
    demo::sdl2_port window("Scaling and Scrolling", 640, 400);
    int code = demo::run(window);
    if (code < 0) {
        std::fprintf(stderr, "scaling-and-scrolling: cannot open a window: %s\n", window.error().c_str());
        return 1;
    }
    return code;
}
