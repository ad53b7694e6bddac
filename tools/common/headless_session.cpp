#include "tools/common/headless_session.h"

#include <pixmora/pixmora_soft.h>

namespace tools {

headless_session::headless_session()
{
    pm_soft_set_depth(32);
    dc_ = pm_soft_window_create(1, 1);
    pm_attach_dc(dc_);
    pm_startup();
    palette_ = pm_create_default_palette();
    pm_realize_palette(palette_);
}

headless_session::~headless_session()
{
    pm_buffer_deactivate();
    if (buffer >= 0)
        pm_buffer_destroy(buffer);
    pm_shutdown();
    if (palette_ != nullptr)
        pm_delete_palette(palette_);
    pm_attach_dc(nullptr);
    pm_soft_window_destroy(dc_);
}

} // namespace tools
