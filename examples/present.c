/*
 * present: loads a PCX picture into a 32-bit buffer, stretches it onto a
 * window of the software display and writes what the window shows as a PPM
 * picture. No window system is involved: the window is a surface in memory.
 *
 *     present IN.pcx OUT.ppm WIDTH HEIGHT
 */
#include <stdio.h>
#include <stdlib.h>

#include <pixmora/pixmora.h>

#include "example_common.h"

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: present IN.pcx OUT.ppm WIDTH HEIGHT\n");
        return 2;
    }
    const int32_t window_width = atoi(argv[3]);
    const int32_t window_height = atoi(argv[4]);
    int32_t width, height;
    if (window_width < 1 || window_height < 1 || !example_pcx_size(argv[1], &width, &height))
        return 1;

    pm_hdc window = example_open_window(window_width, window_height);
    if (pm_set_new_buffer_depth(32) != 0)
        return example_fail("the depth 32 is refused");
    const int32_t picture = pm_buffer_create(width, height);
    if (picture < 0)
        return example_fail(picture == PM_BUFFER_NO_FREE_SLOT ? "no free buffer slot" : "cannot create the buffer");
    if (pm_buffer_activate(picture) != 0)
        return example_fail("cannot activate the buffer");

    /* The picture's top-left corner goes to the buffer's, wherever its header
     * window starts. */
    pm_move_cursor(0, 0);
    const int32_t result = pm_load_pcx(argv[1], pcx_at_cursor);
    if (result != PM_PCX_OK) {
        fprintf(stderr, "present: %s: %s\n", argv[1], pm_pcx_result_text(result));
        return 1;
    }

    pm_present(0, width - 1, 0, height - 1, 0, window_width - 1, 0, window_height - 1);
    const int written = example_write_ppm(argv[2], window);

    pm_buffer_deactivate();
    pm_buffer_destroy(picture);
    example_close_window(window);
    return written ? 0 : 1;
}
