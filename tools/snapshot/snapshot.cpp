// Runs the demo's own shell and animation on the software display (create,
// size, paint, then N idle frames, then close) and writes the client surface
// after the last frame as an image.
//
//   demo-snapshot --frames N --size WxH -o OUT.png
//   demo-snapshot --size WxH --match SHOT.png [--tolerance PERCENT] [--require-logos]
//
// With --match it renders one whole cycle of frames and reports the frame
// that best matches the picture SHOT (a screenshot of the real window): exit
// 0 when at most PERCENT of its pixels differ (default 1), 1 when no frame
// matches that well, 3 when --require-logos is given and the best frame
// shows fewer than both logos whole, 2 for bad arguments or files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demo/animation.h"
#include "demo/shell.h"
#include "demo/ports/soft_port.h"
#include "tools/common/image_write.h"
#include <pixmora/pixmora_soft.h>

namespace {

struct options {
    int32_t frames = 60;
    int32_t width = 640;
    int32_t height = 400;
    std::string output;
    std::string match;
    double tolerance = 1.0;
    bool require_logos = false;
};

bool parse(int argc, char **argv, options *out)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--require-logos") {
            out->require_logos = true;
            continue;
        }
        if (value == nullptr)
            return false;
        ++i;
        if (arg == "--frames") {
            char *end = nullptr;
            long frames = std::strtol(value, &end, 10);
            if (*end != '\0' || frames < 0 || frames > 1000000)
                return false;
            out->frames = static_cast<int32_t>(frames);
        } else if (arg == "--size") {
            if (!demo::parse_client_size(value, &out->width, &out->height))
                return false;
        } else if (arg == "-o") {
            out->output = value;
        } else if (arg == "--match") {
            out->match = value;
        } else if (arg == "--tolerance") {
            out->tolerance = std::atof(value);
        } else {
            return false;
        }
    }
    return out->output.empty() != out->match.empty();
}

tools::rgb_image surface(const demo::soft_port &window)
{
    tools::rgb_image image;
    image.width = pm_soft_client_width(window.dc());
    image.height = pm_soft_client_height(window.dc());
    const uint32_t *pixels = pm_soft_client_pixels(window.dc());
    image.pixels.assign(pixels, pixels + static_cast<size_t>(image.width) * image.height);
    return image;
}

int snapshot(const options &opts)
{
    demo::soft_port window(opts.width, opts.height, {{demo::soft_port::event_kind::idle, opts.frames}});
    tools::rgb_image last;
    window.on_shown = [&](const demo::soft_port &w) {
        if (w.frames() == opts.frames)
            last = surface(w);
    };
    if (demo::run(window) != 0 || last.pixels.empty()) {
        std::fprintf(stderr, "demo-snapshot: the demo did not run\n");
        return 2;
    }
    std::string error;
    if (!tools::write_image(opts.output, last, &error)) {
        std::fprintf(stderr, "demo-snapshot: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

int64_t differing_pixels(const tools::rgb_image &a, const tools::rgb_image &b)
{
    int64_t count = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        count += (a.pixels[i] & 0xFFFFFF) != (b.pixels[i] & 0xFFFFFF);
    return count;
}

int match(const options &opts)
{
    tools::rgb_image shot;
    std::string error;
    if (!tools::read_image(opts.match, &shot, &error)) {
        std::fprintf(stderr, "demo-snapshot: %s\n", error.c_str());
        return 2;
    }
    if (shot.width != opts.width || shot.height != opts.height) {
        std::fprintf(stderr, "demo-snapshot: %s is %d x %d, not %d x %d\n", opts.match.c_str(), shot.width,
                     shot.height, opts.width, opts.height);
        return 2;
    }
    // The view is rewritten whole every frame, so one cycle shows every
    // picture the demo can show.
    int32_t cycle = demo::frames_per_cycle;
    int64_t best = -1;
    int32_t best_frame = 0;
    int32_t best_scroll = 0;
    demo::soft_port window(opts.width, opts.height, {{demo::soft_port::event_kind::idle, cycle}});
    window.on_shown = [&](const demo::soft_port &w) {
        if (w.frames() == 0)
            return;
        int64_t differ = differing_pixels(surface(w), shot);
        if (best < 0 || differ < best) {
            best = differ;
            best_frame = w.frames();
            best_scroll = demo::animation.scroll_x;
        }
    };
    if (demo::run(window) != 0 || best < 0) {
        std::fprintf(stderr, "demo-snapshot: the demo did not run\n");
        return 2;
    }
    int64_t total = static_cast<int64_t>(opts.width) * opts.height;
    double percent = 100.0 * static_cast<double>(best) / static_cast<double>(total);
    std::printf("best frame %d (scroll_x %d): %lld of %lld pixels differ (%.3f%%)\n", best_frame, best_scroll,
                static_cast<long long>(best), static_cast<long long>(total), percent);
    if (percent > opts.tolerance)
        return 1;
    // Both logos are whole from scroll_x 344 on.
    if (opts.require_logos && best_scroll < 344)
        return 3;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    options opts;
    if (!parse(argc, argv, &opts)) {
        std::fprintf(stderr, "usage: demo-snapshot --frames N --size WxH -o OUT.png\n"
                             "       demo-snapshot --size WxH --match SHOT.png [--tolerance PERCENT] "
                             "[--require-logos]\n");
        return 2;
    }
    return opts.match.empty() ? snapshot(opts) : match(opts);
}
