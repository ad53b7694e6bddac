// The software display's C interface (<pixmora/pixmora_soft.h>): thin
// wrappers over its C++ control side, for programs written in C.
#include <pixmora/pixmora_soft.h>

#include "platform/platform.h"
#include "platform/soft/soft_display.h"

int32_t pm_soft_set_depth(int32_t bits)
{
    return pm::soft::set_depth(bits) ? 0 : -1;
}

int32_t pm_soft_depth(void)
{
    return pm::soft::depth();
}

pm_hdc pm_soft_window_create(int32_t width, int32_t height)
{
    return pm::soft::window_create(width, height);
}

int32_t pm_soft_window_resize(pm_hdc dc, int32_t width, int32_t height)
{
    if (!pm::soft::is_window_dc(dc))
        return -1;
    pm::soft::window_resize(dc, width, height);
    return 0;
}

int32_t pm_soft_window_destroy(pm_hdc dc)
{
    if (!pm::soft::is_window_dc(dc))
        return -1;
    pm::soft::window_destroy(dc);
    return 0;
}

int32_t pm_soft_window_set_layout(pm_hdc dc, int32_t layout)
{
    return pm::soft::window_set_layout(dc, layout) ? 0 : -1;
}

int32_t pm_soft_window_layout(pm_hdc dc)
{
    return pm::soft::window_layout(dc);
}

int32_t pm_soft_window_stretch(pm_hdc dc, pm_soft_stretch *stretch)
{
    return pm::soft::window_stretch(dc, stretch) ? 0 : -1;
}

int32_t pm_soft_palette_delete(pm_hpalette palette)
{
    if (pm::soft::palette_entries(palette) == nullptr)
        return -1;
    pm::platform::object_delete(palette);
    // The display keeps its own palette whatever is asked.
    return pm::soft::palette_entries(palette) == nullptr ? 0 : -1;
}

int32_t pm_soft_live_objects(void)
{
    return pm::soft::live_objects();
}

int32_t pm_soft_client_width(pm_hdc dc)
{
    return pm::soft::client_width(dc);
}

int32_t pm_soft_client_height(pm_hdc dc)
{
    return pm::soft::client_height(dc);
}

const uint32_t *pm_soft_client_pixels(pm_hdc dc)
{
    if (pm::soft::client_width(dc) == 0 || pm::soft::client_height(dc) == 0)
        return nullptr;
    return pm::soft::client_pixels(dc);
}

uint32_t pm_soft_client_pixel(pm_hdc dc, int32_t x, int32_t y)
{
    return pm::soft::client_pixel(dc, x, y);
}
