// Draws the demo's three pictures and writes them with the library itself:
// "Sky.pcx" (640 x 200), "Logo1.pcx" and "Logo2.pcx" (264 x 40), all
// 256-colour version-5 pictures sharing one palette whose visible colours
// lie in entries 10..245. Usage: make-pictures OUTPUT_DIRECTORY
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <pixmora/pixmora.h>
#include <pixmora/pixmora_soft.h>
#include "tools/make_pictures/drawing.h"

namespace {

using pictures::indexed_picture;

// Puts the picture into a new 8-bit buffer with the shared palette and saves
// it. False, with a message, when the library refuses.
bool save_picture(const indexed_picture &picture, const pictures::palette &colours, const std::string &path)
{
    int32_t handle = pm_buffer_create(picture.width, picture.height);
    if (handle < 0 || pm_buffer_activate(handle) != 0) {
        std::fprintf(stderr, "make-pictures: cannot make a %d x %d buffer (%d)\n", picture.width, picture.height,
                     handle);
        return false;
    }
    pm_set_palette_entries(pictures::first_entry, pictures::entry_count,
                           colours.data() + 3 * pictures::first_entry);
    for (int32_t y = 0; y < picture.height; ++y)
        pm_write_row(0, y, picture.width, PM_ROW_INDEX8,
                     picture.pixels.data() + static_cast<std::ptrdiff_t>(y) * picture.width);
    int32_t result = pm_save_pcx(path.c_str(), 0, picture.width - 1, 0, picture.height - 1);
    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
    if (result != 0) {
        std::fprintf(stderr, "make-pictures: cannot write %s (result %d)\n", path.c_str(), result);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-pictures OUTPUT_DIRECTORY\n");
        return 2;
    }
    std::string directory = argv[1];
    if (!directory.empty() && directory.back() != '/')
        directory += '/';

    pm_hdc dc = pm_soft_window_create(640, 200);
    pm_attach_dc(dc);
    pm_startup();

    pictures::palette colours = pictures::shared_palette();
    bool ok = save_picture(pictures::draw_sky(), colours, directory + "Sky.pcx") &&
              save_picture(pictures::draw_logo("SCROLLING", pictures::logo_style::warm), colours,
                           directory + "Logo1.pcx") &&
              save_picture(pictures::draw_logo("SCALING", pictures::logo_style::gold), colours,
                           directory + "Logo2.pcx");

    pm_shutdown();
    pm_attach_dc(nullptr);
    pm_soft_window_destroy(dc);
    return ok ? 0 : 1;
}
