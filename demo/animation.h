// The scrolling and zooming animation: a sky picture mirrored once into a
// seamless 1280-pixel panorama, and per frame a 320-pixel window of it, 8
// columns further on, with two logos drawn over it at a size that grows in
// tenths.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace demo {

constexpr int32_t view_width = 320;
constexpr int32_t view_height = 200;
constexpr int32_t panorama_width = 1600;
constexpr int32_t strip_width = 1280;  // the mirrored sky; 1280..1599 repeat 0..319
constexpr int32_t sky_width = 640;
constexpr int32_t scroll_step = 8;
constexpr int32_t frames_per_cycle = strip_width / scroll_step;

// A logo: its picture captured once from the view as an indexed image, drawn
// centred, growing upwards from its fixed bottom row, index 0 transparent.
class logo {
public:
    // Loads file_name from the program directory into the top-left corner of
    // the view buffer and captures width x height pixels of it. The view
    // buffer is active afterwards.
    logo(const char *file_name, int32_t width, int32_t height, int32_t y);

    // Draws the logo at tenths / 10 of its size: nothing at 0 or below, full
    // size at 10 or above.
    void draw(int32_t tenths);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t x() const { return x_; }
    int32_t y() const { return y_; }
    const std::vector<uint8_t> &image() const { return image_; }

private:
    int32_t width_;
    int32_t height_;
    int32_t x_; // left column at full size
    int32_t y_; // bottom row in the view
    // Declared in this order so that destruction releases image_ first.
    std::vector<uint8_t> scaled_; // scratch for the scaled logo
    std::vector<uint8_t> image_;  // the captured logo, bottom row first
};

// First-use flags of the frame step.
enum : uint8_t {
    first_logo_made = 1,
    second_logo_made = 2,
    panorama_cached = 4,
    view_cached = 8,
};

// Everything the frame step keeps between frames, zero at start.
struct animation_state {
    uint8_t first_use = 0;        // first_use flags above
    int32_t panorama_handle = 0;  // cached on the first frame
    int32_t view_handle = 0;
    int32_t scroll_x = 0;         // left column of the panorama window
    int32_t exit_actions = 0;     // logo destructions registered with std::atexit
    std::optional<logo> first_logo;  // "Logo1.pcx", bottom row 160
    std::optional<logo> second_logo; // "Logo2.pcx", bottom row 80
};
extern animation_state animation;

// Destroys the logos and puts the frame step back to its start state, as in a
// fresh process (for tests; the demo itself never calls it).
void reset_animation();

// Finds the program directory (saying once on standard error when it
// cannot), loads "Sky.pcx" from it into the panorama buffer,
// mirrors it into a 1280-pixel strip with a 320-pixel wrap margin and
// activates the view buffer.
void prepare_panorama();

// One frame: scrolls 8 columns on, copies the window into the view, draws the
// logos and presents the view. Makes the logos on its first call.
void advance_frame();

// Loads a picture from the program directory into the active buffer without
// colour reduction. A failure is written as one line to standard error,
// naming the file and the loader's result; the caller goes on regardless.
// Nothing is loaded when the program directory is not known.
void load_picture(const char *file_name);

} // namespace demo
