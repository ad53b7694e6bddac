// Whole demo frames: advance_frame with its presentation onto the software
// display, at two client sizes. Reported as frames per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "demo/animation.h"
#include "demo/buffer_object.h"
#include "demo/shell.h"
#include "demo/ports/soft_port.h"
#include "platform/soft/soft_display.h"

namespace {

// The pictures are where the build wrote them.
uint32_t program_beside_pictures(char *buffer, uint32_t size)
{
    int written = std::snprintf(buffer, size, "%s/frame-bench", PIXMORA_DEMO_DIR);
    return written < 0 || static_cast<uint32_t>(written) >= size ? 0 : static_cast<uint32_t>(written);
}

void whole_frames(benchmark::State &state)
{
    pm::soft::reset();
    demo::reset_shell();
    demo::reset_animation();
    demo::shell.program_file = program_beside_pictures;
    demo::soft_port window(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)), {});
    demo::shell.port = &window;
    if (!window.open()) {
        state.SkipWithError("no software display window");
        return;
    }
    {
        // As the shell's entry sets things up, then its idle step only.
        demo::buffer_object view(320, 200, 1);
        demo::buffer_object panorama(1600, 200, 0);
        demo::shell.view_object = &view;
        demo::shell.panorama_object = &panorama;
        window.show();
        demo::prepare_panorama();
        for (auto _ : state)
            demo::idle_step();
        demo::reset_animation();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    demo::reset_shell();
}

BENCHMARK(whole_frames)->Args({640, 400})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

} // namespace
