#include "demo/shell.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demo/animation.h"
#include "demo/buffer_object.h"

namespace demo {

shell_globals shell;

int64_t window_port::now()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

const char *const usage = "options: --fps N (frames per second, 0 to 1000; 0 runs frames back to back), "
                          "--stats (frame rate and frame times on standard error at exit), --help, --version";

const char *const help_text =
    "usage: scaling-and-scrolling [--fps N] [--stats]\n"
    "\n"
    "The Pixmora demonstration: a sky panorama scrolls through a 320 x 200 view\n"
    "while two logos zoom in over it, and every frame is stretched onto the\n"
    "window, whatever its size. It reads Sky.pcx, Logo1.pcx and Logo2.pcx from\n"
    "the program's own folder. Close the window to end it.\n"
    "\n"
    "  --fps N     frames per second, 0 to 1000 (default 60); 0 runs frames back\n"
    "              to back\n"
    "  --stats     at exit, print the frame rate and the mean and worst frame\n"
    "              time on standard error\n"
    "  --help      print this text and end\n"
    "  --version   print the version and end\n";

std::string version_text()
{
    return "scaling-and-scrolling (Pixmora) " + std::to_string(PIXMORA_VERSION_MAJOR) + "." +
           std::to_string(PIXMORA_VERSION_MINOR) + "." + std::to_string(PIXMORA_VERSION_PATCH);
}

bool parse_client_size(const char *text, int32_t *width, int32_t *height)
{
    int w = 0;
    int h = 0;
    char tail = 0;
    if (std::sscanf(text, "%dx%d%c", &w, &h, &tail) != 2 || w < 1 || h < 1 || w > 8192 || h > 8192)
        return false;
    *width = w;
    *height = h;
    return true;
}

bool parse_options(int argc, const char *const *argv, shell_options &options, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        options.help = options.help || std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
        options.version = options.version || std::strcmp(argv[i], "--version") == 0;
    }
    if (options.help || options.version)
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stats") == 0) {
            options.stats = true;
        } else if (std::strcmp(argv[i], "--fps") == 0 && i + 1 < argc) {
            const char *text = argv[++i];
            char *end = nullptr;
            long rate = std::strtol(text, &end, 10);
            if (end == text || *end != '\0' || rate < 0 || rate > 1000) {
                error = std::string("--fps wants a whole number from 0 to 1000, not \"") + text + "\"";
                return false;
            }
            options.frames_per_second = static_cast<int32_t>(rate);
        } else {
            error = std::string("unknown option \"") + argv[i] + "\"";
            return false;
        }
    }
    return true;
}

bool parse_command_line(const char *line, shell_options &options, std::string &error)
{
    std::vector<std::string> words{""}; // in place of the program's name
    for (const char *c = line; *c != '\0';) {
        if (*c == ' ' || *c == '\t') {
            ++c;
            continue;
        }
        const char *start = c;
        while (*c != '\0' && *c != ' ' && *c != '\t')
            ++c;
        words.emplace_back(start, c);
    }
    std::vector<const char *> argv;
    for (const auto &word : words)
        argv.push_back(word.c_str());
    return parse_options(static_cast<int>(argv.size()), argv.data(), options, error);
}

void frame_stats::record(int64_t start, int64_t end)
{
    if (frames == 0)
        first_start = start;
    last_start = start;
    ++frames;
    total_time += end - start;
    if (end - start > worst_time)
        worst_time = end - start;
}

std::string frame_stats::report() const
{
    double seconds = static_cast<double>(last_start - first_start) / 1e6;
    double rate = seconds > 0.0 ? static_cast<double>(frames - 1) / seconds : 0.0;
    double mean = frames == 0 ? 0.0 : static_cast<double>(total_time) / static_cast<double>(frames) / 1e3;
    char text[160];
    std::snprintf(text, sizeof text, "%lld frames in %.2f s: %.1f frames/s; frame time mean %.3f ms, worst %.3f ms",
                  static_cast<long long>(frames), seconds, rate, mean, static_cast<double>(worst_time) / 1e3);
    return text;
}

void reset_shell()
{
    shell = shell_globals{};
}

void on_create()
{
    shell.window_dc_handle = shell.port->get_dc();
    pm_attach_dc(shell.window_dc_handle);
    shell.palette = pm_create_default_palette();
    pm_realize_palette(shell.palette);
}

void on_destroy()
{
    pm_delete_palette(shell.palette);
    shell.port->release_dc(shell.window_dc_handle);
    shell.quit_posted = true;
    shell.quit_code = 0;
}

void on_size(int32_t width, int32_t height)
{
    shell.client_width = width;
    shell.client_height = height;
}

void on_focus()
{
    pm_realize_palette(shell.palette);
    shell.port->invalidate();
}

void present_view()
{
    pm_present(0, 319, 0, 199, 0, shell.client_width - 1, 0, shell.client_height - 1);
}

void on_paint()
{
    shell.port->begin_paint();
    present_view();
    shell.port->end_paint();
}

void on_hidden(bool hidden)
{
    shell.hidden = hidden;
}

void idle_step()
{
    advance_frame();
    shell.port->frame_presented();
}

int64_t run_due_frame(int64_t now)
{
    if (shell.hidden || shell.client_width <= 0 || shell.client_height <= 0)
        return -1;
    if (!shell.clock.take_frame(now))
        return shell.clock.wait(now);
    idle_step();
    shell.stats.record(now, shell.port->now());
    return 0;
}

int32_t run(window_port &port)
{
    shell.port = &port;
    shell.clock = frame_clock(shell.options.frames_per_second);
    shell.stats = frame_stats{};
    if (!port.open())
        return -1;

    int32_t code = 0;
    {
        // The view first: it starts the library, which needs the context
        // that on_create attached. Destroyed in reverse order, the view last,
        // so that its destruction is the one that shuts the library down.
        buffer_object view(320, 200, 1);
        buffer_object panorama(1600, 200, 0);
        shell.view_object = &view;
        shell.panorama_object = &panorama;

        port.show();
        prepare_panorama();

        // Never spins: with no event waiting and no frame due, the port
        // waits for whichever comes first.
        while (!shell.quit_posted) {
            if (port.dispatch_waiting_event())
                continue;
            int64_t wait = run_due_frame(port.now());
            if (wait != 0)
                port.wait_for_event(wait);
        }
        if (shell.options.stats)
            std::fprintf(stderr, "%s\n", shell.stats.report().c_str());
        code = shell.quit_code;
        shell.view_object = nullptr;
        shell.panorama_object = nullptr;
    }
    return code;
}

} // namespace demo
