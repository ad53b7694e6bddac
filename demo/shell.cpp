#include "demo/shell.h"

#include "demo/animation.h"
#include "demo/buffer_object.h"
#include "platform/platform.h"

namespace demo {

shell_globals shell;

void reset_shell()
{
    shell = shell_globals{};
}

void on_create()
{
    shell.window_dc_handle = shell.port->get_dc();
    pm_attach_dc(shell.window_dc_handle);
    shell.palette = pm_create_default_palette();
    pm_realize_palette(shell.palette);
}

void on_destroy()
{
    platform::object_delete(shell.palette);
    shell.port->release_dc(shell.window_dc_handle);
    shell.quit_posted = true;
    shell.quit_code = 0;
}

void on_size(int32_t width, int32_t height)
{
    shell.client_width = width;
    shell.client_height = height;
}

void on_focus()
{
    pm_realize_palette(shell.palette);
    shell.port->invalidate();
}

void present_view()
{
    pm_present(0, 319, 0, 199, 0, shell.client_width - 1, 0, shell.client_height - 1);
}

void on_paint()
{
    shell.port->begin_paint();
    present_view();
    shell.port->end_paint();
}

void idle_step()
{
    advance_frame();
    shell.port->frame_presented();
}

int32_t run(window_port &port)
{
    shell.port = &port;
    if (!port.open())
        return -1;

    int32_t code = 0;
    {
        // The view first: it starts the library, which needs the context
        // that on_create attached. Destroyed in reverse order, the view last,
        // so that its destruction is the one that shuts the library down.
        buffer_object view(320, 200, 1);
        buffer_object panorama(1600, 200, 0);
        shell.view_object = &view;
        shell.panorama_object = &panorama;

        port.show();
        prepare_panorama();

        while (!shell.quit_posted) {
            if (!port.dispatch_waiting_event())
                idle_step();
        }
        code = shell.quit_code;
        shell.view_object = nullptr;
        shell.panorama_object = nullptr;
    }
    return code;
}

} // namespace demo
