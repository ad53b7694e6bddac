#include "demo/animation.h"

#include <cstdio>
#include <cstdlib>

#include "demo/buffer_object.h"
#include "demo/program_path.h"
#include "demo/shell.h"
#include <pixmora/pixmora.h>

namespace demo {

animation_state animation;

namespace {

// Exit actions: each destroys whatever logo is there when the process ends.
void destroy_first_logo()
{
    animation.first_logo.reset();
}

void destroy_second_logo()
{
    animation.second_logo.reset();
}

void make_logos_and_cache_handles()
{
    if (!(animation.first_use & first_logo_made)) {
        animation.first_logo.emplace("Logo1.pcx", 264, 40, 160);
        std::atexit(destroy_first_logo);
        ++animation.exit_actions;
        animation.first_use |= first_logo_made;
    }
    if (!(animation.first_use & second_logo_made)) {
        animation.second_logo.emplace("Logo2.pcx", 264, 40, 80);
        std::atexit(destroy_second_logo);
        ++animation.exit_actions;
        animation.first_use |= second_logo_made;
    }
    if (!(animation.first_use & panorama_cached)) {
        animation.panorama_handle = shell.panorama_object->handle();
        animation.first_use |= panorama_cached;
    }
    if (!(animation.first_use & view_cached)) {
        animation.view_handle = shell.view_object->handle();
        animation.first_use |= view_cached;
    }
}

} // namespace

void load_picture(const char *file_name)
{
    if (!shell.program_directory_known)
        return; // reported once, when the directory was looked for
    char path[path_capacity];
    if (!join_path(path, shell.program_directory, file_name)) {
        std::fprintf(stderr, "cannot load %s%s: the path is longer than %d characters\n", shell.program_directory,
                     file_name, path_capacity - 1);
        return;
    }
    int32_t result = pm_load_pcx(path, pcx_no_reduction);
    if (result != 0)
        std::fprintf(stderr, "cannot load %s: loader result %d (%s)\n", path, result, pm_pcx_result_text(result));
}

logo::logo(const char *file_name, int32_t width, int32_t height, int32_t y)
    : width_(width), height_(height), x_((view_width - width) / 2), y_(y)
{
    // Sized at the depth of the active buffer (the view), as the library
    // measures images; an indexed image needs no more than that.
    image_.resize(pm_image_size(width, height));
    scaled_.resize(pm_image_size(width, height));

    pm_buffer_activate(shell.view_object->handle());
    load_picture(file_name);
    // The picture's top-left corner is at (0, 0); the cursor marks the
    // bottom-left corner of the rectangle to capture.
    pm_move_cursor(0, height - 1);
    pm_capture_image(image_.data(), width, height);
}

void logo::draw(int32_t tenths)
{
    if (tenths <= 0)
        return;
    if (tenths >= 10) {
        pm_move_cursor(x_, y_);
        pm_paste_image(image_.data(), width_, height_);
        return;
    }
    int32_t scaled_width = width_ * tenths / 10;
    int32_t scaled_height = height_ * tenths / 10;
    if (scaled_width < 1 || scaled_height < 1)
        return; // too small to show at all
    pm_scale_image(image_.data(), scaled_.data(), width_, height_, scaled_width, scaled_height);
    pm_move_cursor((view_width - scaled_width) / 2, y_);
    pm_paste_image(scaled_.data(), scaled_width, scaled_height);
}

void reset_animation()
{
    animation.first_logo.reset();
    animation.second_logo.reset();
    animation.first_use = 0;
    animation.panorama_handle = 0;
    animation.view_handle = 0;
    animation.scroll_x = 0;
    animation.exit_actions = 0;
}

void prepare_panorama()
{
    shell.program_directory_known = fill_program_directory(shell.program_directory, shell.program_file);
    if (!shell.program_directory_known)
        std::fprintf(stderr, "cannot find the program's folder (its path is unknown or longer than %d characters): "
                             "no picture is loaded\n", path_capacity - 1);

    int32_t panorama = shell.panorama_object->handle();
    pm_buffer_activate(panorama);
    load_picture("Sky.pcx");

    // Column i goes to column 1279 - i: 640..1279 mirror 0..639, so the
    // strip joins seamlessly at both of its ends.
    for (int32_t i = sky_width - 1; i >= 0; --i)
        pm_copy_region(i, i, 0, view_height - 1, strip_width - 1 - i, view_height - 1, panorama, panorama);
    // The wrap margin: any 320-wide window starting below 1280 is contiguous.
    pm_copy_region(0, view_width - 1, 0, view_height - 1, strip_width, view_height - 1, panorama, panorama);

    pm_buffer_activate(shell.view_object->handle());
}

void advance_frame()
{
    make_logos_and_cache_handles();

    animation.scroll_x += scroll_step;
    if (animation.scroll_x >= strip_width)
        animation.scroll_x = 0;
    int32_t scroll_x = animation.scroll_x;

    pm_copy_region(scroll_x, scroll_x + view_width - 1, 0, view_height - 1, 0, view_height - 1,
                   animation.panorama_handle, animation.view_handle);

    // The second logo grows first; the first follows once the second is
    // whole, and both vanish when the cycle restarts at 0.
    if (scroll_x > 240) {
        animation.first_logo->draw((scroll_x - 240) / 10);
        animation.second_logo->draw(10);
    } else {
        animation.second_logo->draw(scroll_x / 10);
    }

    present_view();
}

} // namespace demo
