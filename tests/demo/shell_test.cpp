// The shell's events and loop, run on a scripted software-display window.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "demo/ports/soft_port.h"
#include "tests/demo/demo_fixture.h"

namespace {

using demo::soft_port;
using demo_test::DemoTest;
using kind = soft_port::event_kind;

// Records what the library looked like when the shell asked for the context
// (on create) and when each presentation was shown.
class watching_window : public soft_port {
public:
    using soft_port::soft_port;
    pm_hdc get_dc() override
    {
        started_at_create = pm_state.started;
        return soft_port::get_dc();
    }
    int32_t started_at_create = -1;
};

using ShellTest = DemoTest;

TEST_F(ShellTest, RunsFramesAndEndsCleanlyWithCodeZero)
{
    watching_window window(640, 400, {{kind::idle, 3}});
    std::vector<pm::soft::stretch_call> shown;
    window.on_shown = [&](const soft_port &) { shown.push_back(pm::soft::calls().stretches.back()); };

    EXPECT_EQ(demo::run(window), 0);

    EXPECT_EQ(window.started_at_create, 0) << "create comes before the library starts";
    EXPECT_EQ(window.frames(), 3);
    EXPECT_EQ(window.paints(), 1);
    ASSERT_EQ(shown.size(), 4u);
    for (const auto &s : shown) {
        // Size arrived before the first paint: every presentation fills the client area.
        EXPECT_EQ(s.dst_width, 640);
        EXPECT_EQ(s.dst_height, 400);
    }
    EXPECT_EQ(demo::animation.scroll_x, 24);
    EXPECT_TRUE(window.dc_released());
    EXPECT_EQ(pm_state.started, 0) << "the view's destruction shuts the library down";
    EXPECT_EQ(pm::soft::live_objects(), 0) << "palette, bitmaps and memory context are all released";
    EXPECT_EQ(demo::shell.view_object, nullptr);
}

TEST_F(ShellTest, NoLogoWhenTheLoopNeverIdles)
{
    std::vector<soft_port::event> busy;
    for (int i = 0; i < 10; ++i) {
        busy.push_back({kind::paint});
        busy.push_back({kind::size, 300 + i, 200});
        busy.push_back({kind::focus});
    }
    busy.push_back({kind::close});
    soft_port window(640, 400, busy);

    EXPECT_EQ(demo::run(window), 0);
    EXPECT_EQ(window.frames(), 0);
    EXPECT_GE(window.paints(), 11);
    EXPECT_EQ(demo::animation.first_use, 0);
    EXPECT_FALSE(demo::animation.first_logo.has_value());
    EXPECT_FALSE(demo::animation.second_logo.has_value());
    EXPECT_EQ(demo::animation.exit_actions, 0);
    EXPECT_EQ(pm_state.started, 0);
}

TEST_F(ShellTest, PaintBeforeSizePresentsOntoNothing)
{
    soft_port window(640, 400, {});
    demo::shell.port = &window;
    ASSERT_TRUE(window.open());
    pm_startup();
    int32_t handle = pixmora_test::make_buffer(320, 200);
    pm::soft::clear_calls();

    demo::on_paint();

    ASSERT_EQ(pm::soft::calls().stretches.size(), 1u);
    EXPECT_EQ(pm::soft::calls().stretches[0].dst_width, 0);
    EXPECT_EQ(pm::soft::calls().stretches[0].dst_height, 0);
    EXPECT_EQ(window.paints(), 1);
    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
}

TEST_F(ShellTest, FocusRealizesThePaletteAndRepaintsEverything)
{
    soft_port window(640, 400, {{kind::idle, 5}});
    demo::shell.port = &window;
    ASSERT_TRUE(window.open());
    pm_startup();
    int32_t handle = pixmora_test::make_buffer(320, 200);
    demo::on_size(640, 400);
    pm::soft::clear_calls();

    demo::on_focus();
    EXPECT_EQ(pm::soft::calls().palette_realizations.size(), 1u);
    ASSERT_FALSE(pm::soft::calls().palette_selects.empty());
    EXPECT_EQ(pm::soft::calls().palette_selects.back().palette, demo::shell.palette);
    EXPECT_EQ(pm::soft::calls().palette_selects.back().background, 0);
    EXPECT_TRUE(pm::soft::calls().stretches.empty()) << "the repaint waits for the loop";

    // The repaint comes before any idle frame.
    EXPECT_TRUE(window.dispatch_waiting_event());
    ASSERT_EQ(pm::soft::calls().stretches.size(), 1u);
    EXPECT_EQ(pm::soft::calls().stretches[0].dst_width, 640);
    EXPECT_EQ(pm::soft::calls().stretches[0].dst_height, 400);
    EXPECT_FALSE(window.dispatch_waiting_event());
    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
}

TEST_F(ShellTest, MissingPicturesAreReportedAndTheDemoRunsOn)
{
    demo::shell.program_file = [](char *buffer, uint32_t size) -> uint32_t {
        std::snprintf(buffer, size, "%s/no-such-directory/demo", PIXMORA_DEMO_DIR);
        return static_cast<uint32_t>(std::strlen(buffer));
    };
    soft_port window(320, 200, {{kind::idle, 2}});
    testing::internal::CaptureStderr();
    int32_t code = demo::run(window);
    std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(code, 0);
    EXPECT_EQ(window.frames(), 2);
    for (const char *name : {"Sky.pcx", "Logo1.pcx", "Logo2.pcx"})
        EXPECT_NE(errors.find(std::string("no-such-directory/") + name + ": loader result 1"), std::string::npos)
            << name << " not reported in:\n" << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 3) << errors;
}

// The loop with the port counting how it is used: between paced frames it
// waits (the scripted port's time moves by each wait), back to back it never
// does, and while nothing can be shown it waits for events only.
TEST_F(ShellTest, LoopWaitsForItsPortInsteadOfSpinning)
{
    struct row {
        const char *name;
        int32_t frames_per_second;
        std::vector<soft_port::event> script;
        int32_t frames;
        int64_t timed_waits, endless_waits;
        int64_t end_time; // the port's time at the end, in microseconds
        const char *stats; // how --stats begins
    };
    const row rows[] = {
        // 120 frames at 60 per second: tick 119 is due at 119 periods less a quarter.
        {"paced", 60, {{kind::idle, 120}}, 120, 119, 0, 119 * 1'000'000 / 60 - 1'000'000 / 240,
         "120 frames in 1.98 s: 60.1 frames/s"},
        {"back to back", 0, {{kind::idle, 120}}, 120, 0, 0, 0, "120 frames in 0.00 s: 0.0 frames/s"},
        {"hidden", 60, {{kind::hidden, 1}, {kind::idle, 5}, {kind::hidden, 0}, {kind::idle, 2}}, 2, 1, 1, 12500,
         "2 frames in 0.01 s: 80.0 frames/s"},
    };
    for (const row &r : rows) {
        demo::reset_animation();
        demo::reset_shell();
        demo::shell.program_file = demo_test::program_beside_pictures;
        demo::shell.options.frames_per_second = r.frames_per_second;
        soft_port window(64, 40, r.script);

        EXPECT_EQ(demo::run(window), 0) << r.name;
        EXPECT_EQ(window.frames(), r.frames) << r.name;
        EXPECT_EQ(demo::shell.stats.report().rfind(r.stats, 0), 0u) << r.name << ": " << demo::shell.stats.report();
        EXPECT_EQ(window.timed_waits(), r.timed_waits) << r.name;
        EXPECT_EQ(window.endless_waits(), r.endless_waits) << r.name;
        EXPECT_LE(window.passes(), 2 * (r.frames + r.timed_waits + r.endless_waits) + 8) << r.name << ": spinning";
        EXPECT_NEAR(static_cast<double>(window.now()), static_cast<double>(r.end_time), 1.0) << r.name;
    }
}

TEST_F(ShellTest, NoFrameRunsWithoutAClientArea)
{
    soft_port window(64, 40, {});
    demo::shell.port = &window;
    for (auto size : {std::pair{0, 40}, std::pair{64, 0}, std::pair{0, 0}}) {
        demo::on_size(size.first, size.second);
        EXPECT_EQ(demo::run_due_frame(0), -1) << size.first << " x " << size.second;
    }
    EXPECT_EQ(window.frames(), 0);
}

TEST_F(ShellTest, CommandLineOptions)
{
    struct row {
        const char *line;
        bool valid;
        int32_t frames_per_second;
        bool stats;
        bool help = false;
        bool version = false;
    };
    const row rows[] = {
        {"", true, 60, false},
        {"--stats", true, 60, true},
        {"  --fps 30\t--stats ", true, 30, true},
        {"--fps 0", true, 0, false},
        {"--fps 1000", true, 1000, false},
        {"--fps", false, 60, false},
        {"--fps -1", false, 60, false},
        {"--fps 1001", false, 60, false},
        {"--fps 12x", false, 60, false},
        {"--fps \"\"", false, 60, false},
        {"--vsync", false, 60, false},
        {"--help", true, 60, false, true},
        {"--vsync --fps -1 -h", true, 60, false, true},
        {"--version --fps 1001", true, 60, false, false, true},
    };
    for (const row &r : rows) {
        demo::shell_options options;
        std::string error;
        EXPECT_EQ(demo::parse_command_line(r.line, options, error), r.valid) << r.line;
        EXPECT_EQ(error.empty(), r.valid) << r.line;
        if (r.valid) {
            EXPECT_EQ(options.frames_per_second, r.frames_per_second) << r.line;
            EXPECT_EQ(options.stats, r.stats) << r.line;
            EXPECT_EQ(options.help, r.help) << r.line;
            EXPECT_EQ(options.version, r.version) << r.line;
        }
    }
    EXPECT_EQ(demo::version_text(), "scaling-and-scrolling (Pixmora) " + std::to_string(PIXMORA_VERSION_MAJOR) + "." +
                                        std::to_string(PIXMORA_VERSION_MINOR) + "." +
                                        std::to_string(PIXMORA_VERSION_PATCH));
}

TEST_F(ShellTest, ProgramPathTooLongLoadsNoPicture)
{
    // The pictures sit in PIXMORA_DEMO_DIR; the program's own path, deeper
    // down, does not fit. Cut short, it would name their folder.
    demo::shell.program_file = [](char *buffer, uint32_t size) -> uint32_t {
        std::string program = std::string(PIXMORA_DEMO_DIR) + "/" + std::string(300, 'd') + "/demo";
        std::snprintf(buffer, size, "%s", program.c_str());
        return program.size() < size ? static_cast<uint32_t>(program.size()) : size;
    };
    soft_port window(64, 40, {{kind::idle, 2}});
    bool uniform = true;
    window.on_shown = [&](const soft_port &w) {
        const uint32_t *pixels = pm::soft::client_pixels(w.dc());
        for (int32_t i = 0; i < 64 * 40; ++i)
            uniform = uniform && pixels[i] == pixels[0];
    };
    testing::internal::CaptureStderr();
    int32_t code = demo::run(window);
    std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(code, 0);
    EXPECT_EQ(window.frames(), 2);
    EXPECT_TRUE(uniform) << "a picture was loaded from another folder";
    EXPECT_NE(errors.find("longer than 255 characters"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

} // namespace
