// Browser entry: the demo on the page's canvas. The page passes its query as
// arguments: --frames N closes the window after N frames, --size WxH keeps
// the client area at that size instead of following the canvas, --depth N
// makes the buffers 8, 16, 24 or 32 bits deep, and the shell's own options
// (--fps N, --stats) are read as on the other systems.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <emscripten.h>

#include "demo/ports/web_port.h"
#include "demo/shell.h"

namespace {

// The pictures are packed into the virtual file system beside this name.
constexpr char program_file[] = "/demo/scaling-and-scrolling";

uint32_t packed_program_file(char *buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    std::snprintf(buffer, size, "%s", program_file);
    const size_t length = std::strlen(buffer);
    return static_cast<uint32_t>(length);
}

// Tells the page that the program has ended and with which code.
EM_JS(void, page_note_end, (int32_t code), {
    document.body.dataset.exitCode = code;
    document.body.classList.add('ended');
});

bool parse_count(const char *text, int32_t low, int32_t high, int32_t *value)
{
    char *end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || parsed < low || parsed > high)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int32_t frames = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    std::vector<const char *> shell_arguments{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (has_value && std::strcmp(argv[i], "--frames") == 0 && parse_count(argv[i + 1], 1, 1000000, &frames))
            ++i;
        else if (has_value && std::strcmp(argv[i], "--size") == 0 && demo::parse_client_size(argv[i + 1], &width, &height))
            ++i;
        else if (has_value && std::strcmp(argv[i], "--depth") == 0 && parse_count(argv[i + 1], 8, 32, &depth) &&
                 depth % 8 == 0)
            ++i;
        else
            shell_arguments.push_back(argv[i]);
    }
    std::string error;
    if (!demo::parse_options(static_cast<int>(shell_arguments.size()), shell_arguments.data(), demo::shell.options,
                             error)) {
        std::fprintf(stderr, "scaling-and-scrolling: %s\n%s\n", error.c_str(), demo::usage);
        page_note_end(2);
        return 2;
    }
    if (demo::shell.options.help || demo::shell.options.version) {
        std::fputs(demo::shell.options.help ? demo::help_text : (demo::version_text() + "\n").c_str(), stdout);
        page_note_end(0);
        return 0;
    }

    demo::shell.program_file = packed_program_file;
    demo::web_port port(width, height, frames, depth);
    int code = demo::run(port);
    if (code < 0)
        std::fprintf(stderr, "scaling-and-scrolling: the canvas cannot be used\n");
    port.note_frames();
    page_note_end(code);
    return code;
}
