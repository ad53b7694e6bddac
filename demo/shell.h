// The application shell: the window's events, the frame clock, the idle
// step and the entry that runs them. All of the shell's logic lives here; a
// window system (a window_port) only opens the window, delivers events,
// waits for them, tells the time and puts the software display's client
// surface on screen.
#pragma once

#include <cstdint>
#include <string>

#include "demo/frame_clock.h"
#include "demo/program_path.h"
#include <pixmora/pixmora.h>

namespace demo {

class buffer_object;

// What the shell needs from a window system. The port calls the event
// handlers below (on_create ... on_destroy) as its events arrive.
class window_port {
public:
    virtual ~window_port() = default;

    // Opens the window and delivers on_create before returning. False when no
    // window can be opened (then nothing was delivered).
    virtual bool open() = 0;
    // Shows the window: delivers on_size with the client size, then on_paint.
    virtual void show() = 0;
    // Takes one waiting event and delivers it; false when none is waiting.
    virtual bool dispatch_waiting_event() = 0;
    // Blocks until an event is waiting or timeout microseconds have passed,
    // whichever comes first; a negative timeout waits for an event only. The
    // event stays waiting for dispatch_waiting_event.
    virtual void wait_for_event(int64_t timeout) = 0;
    // The time in microseconds from any fixed origin, never going back (a
    // steady clock unless the port has a time of its own).
    virtual int64_t now();

    // The window's own device context (taken once, in on_create).
    virtual pm_hdc get_dc() = 0;
    virtual void release_dc(pm_hdc dc) = 0;
    // Asks for a paint of the whole client area.
    virtual void invalidate() = 0;
    // Bracket the paint handler's presentation; end_paint shows the result.
    virtual void begin_paint() = 0;
    virtual void end_paint() = 0;
    // Called after each idle frame's presentation to show the result.
    virtual void frame_presented() = 0;
};

// What the command line chooses.
struct shell_options {
    int32_t frames_per_second = default_frames_per_second; // 0: frames back to back
    bool stats = false; // frame rate and frame times on standard error at exit
    bool help = false;    // --help: print help_text and end at once
    bool version = false; // --version: print version_text() and end at once
};

// Reads --fps N and --stats. False, with a message in error, for anything
// else. --help (or -h) and --version anywhere on the line set their flag and
// leave the rest unread.
bool parse_options(int argc, const char *const *argv, shell_options &options, std::string &error);
// The same from one line of words separated by spaces (a Windows command line).
bool parse_command_line(const char *line, shell_options &options, std::string &error);
extern const char *const usage;
// What --help prints: the usage line, what the program does, its options.
extern const char *const help_text;
// What --version prints: "scaling-and-scrolling (Pixmora) MAJOR.MINOR.PATCH".
std::string version_text();
// A client size written WxH, each side 1..8192 (the tools' and the web
// page's --size). False, changing nothing, for anything else.
bool parse_client_size(const char *text, int32_t *width, int32_t *height);

// Frame times, for --stats.
struct frame_stats {
    int64_t frames = 0;
    int64_t first_start = 0; // when the first frame began
    int64_t last_start = 0;  // when the last one began
    int64_t total_time = 0;  // time spent in frames
    int64_t worst_time = 0;

    void record(int64_t start, int64_t end);
    // "N frames in S s: F frames/s; frame time mean M ms, worst W ms", the
    // rate from the first frame's start to the last one's.
    std::string report() const;
};

// The shell's globals, all zero at start.
struct shell_globals {
    buffer_object *view_object = nullptr;     // the 320 x 200 view buffer object
    buffer_object *panorama_object = nullptr; // the 1600 x 200 panorama buffer object
    pm_hdc window_dc_handle = nullptr;        // the window's context, taken on create
    pm_hpalette palette = nullptr;            // the default palette, deleted on destroy
    int32_t client_width = 0;                 // client area, from the last size event
    int32_t client_height = 0;
    char program_directory[path_capacity] = {};         // the program file's directory, with its separator
    bool program_directory_known = false;     // false: no picture is loaded (from a wrong folder)
    bool quit_posted = false;                 // set by the destroy handler
    int32_t quit_code = 0;                    // the code the quit was posted with
    window_port *port = nullptr;              // the window system in use
    program_file_source program_file = program_file_name; // where the program file is found
    bool hidden = false;                      // minimised or unmapped: no frames run
    shell_options options;                    // from the command line
    frame_clock clock;                        // paces the frames, made from options in run
    frame_stats stats;                        // the frames run so far
};
extern shell_globals shell;

// Puts the shell's globals back to their start values (tests run the shell
// more than once per process).
void reset_shell();

// The window's events.
void on_create();                              // takes the context, attaches it, makes and realizes the palette
void on_destroy();                             // deletes the palette, releases the context, posts quit 0
void on_size(int32_t width, int32_t height);   // records the client size
void on_focus();                               // realizes the palette again and asks for a full repaint
void on_paint();                               // presents the view onto the whole client area
void on_hidden(bool hidden);                   // minimised or unmapped (true), shown again (false)

// Stretches columns 0..319, rows 0..199 of the active buffer onto the whole
// client area (the paint handler and every frame present this way).
void present_view();

// The next frame, shown.
void idle_step();

// With no event waiting: runs the frame that is due at now, if the window
// shows anything. Returns how long to wait for the next one in
// microseconds: 0 to look again at once, -1 when no frame can run (hidden,
// or no client area) and only an event can change that. A port driven by
// the display's refresh calls it on each refresh.
int64_t run_due_frame(int64_t now);

// The entry: opens the window through port, owns the two buffer objects,
// prepares the panorama and runs the loop until quit: events first, then
// the frame that is due, else the port waits for the next frame or event.
// Returns the quit code, or -1 when the window cannot be opened.
int32_t run(window_port &port);

} // namespace demo
