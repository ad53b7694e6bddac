#include "demo/buffer_object.h"

#include <pixmora/pixmora.h>

namespace demo {

buffer_object::buffer_object(int32_t width, int32_t height, int32_t start_library)
{
    if (start_library != 0)
        pm_startup();
    handle_ = pm_buffer_create(width, height);
    pm_buffer_activate(handle_);
    pm_buffer_sync_colour_table();
}

buffer_object::~buffer_object()
{
    pm_buffer_deactivate();
    if (handle_ >= 0)
        pm_buffer_destroy(handle_);
    pm_shutdown();
}

} // namespace demo
