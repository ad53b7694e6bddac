/*
 * thumbnail: makes a PPM thumbnail of a PCX picture whose longer side is SIZE
 * pixels (64 unless given). The picture is loaded into an 8-bit buffer, read
 * back as an indexed image and scaled with the library's nearest-pixel
 * scaling; the thumbnail is drawn into a buffer of its own and presented on a
 * software display window, whose pixels give its colours.
 *
 *     thumbnail IN.pcx OUT.ppm [SIZE]
 *
 * 24-bit pictures need a deeper buffer than indexed images come from, so the
 * library refuses them here (see present.c for a route that takes them).
 */
#include <stdio.h>
#include <stdlib.h>

#include <pixmora/pixmora.h>

#include "example_common.h"

/* Longest side that the library's scaling takes. */
enum { longest_scalable_side = 32799 };

/* Makes an 8-bit buffer of the given size and activates it; -1 on failure. */
static int32_t make_active_buffer(int32_t width, int32_t height)
{
    const int32_t handle = pm_buffer_create(width, height);
    if (handle < 0) {
        fprintf(stderr, "thumbnail: %s\n", handle == PM_BUFFER_NO_FREE_SLOT ? "no free buffer slot" : "cannot create a buffer");
        return -1;
    }
    if (pm_buffer_activate(handle) != 0) {
        fprintf(stderr, "thumbnail: cannot activate a buffer\n");
        return -1;
    }
    return handle;
}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: thumbnail IN.pcx OUT.ppm [SIZE]\n");
        return 2;
    }
    const int32_t size = argc == 4 ? atoi(argv[3]) : 64;
    int32_t width, height;
    if (size < 1 || size > 16384 || !example_pcx_size(argv[1], &width, &height))
        return 1;
    if (width > longest_scalable_side || height > longest_scalable_side)
        return example_fail("thumbnail: the picture is too large to scale");
    const int32_t longer = width > height ? width : height;
    int32_t thumb_width = (int32_t)((int64_t)width * size / longer);
    int32_t thumb_height = (int32_t)((int64_t)height * size / longer);
    thumb_width = thumb_width > 0 ? thumb_width : 1;
    thumb_height = thumb_height > 0 ? thumb_height : 1;

    pm_hdc window = example_open_window(thumb_width, thumb_height);
    if (pm_set_new_buffer_depth(8) != 0)
        return example_fail("thumbnail: the depth 8 is refused");
    const int32_t picture = make_active_buffer(width, height);
    if (picture < 0)
        return 1;
    /* The picture's colours are fitted into the palette entries that an
     * 8-bit display leaves free, so none of them is lost to a reserved one. */
    pm_move_cursor(0, 0);
    const int32_t result = pm_load_pcx(argv[1], pcx_at_cursor);
    if (result != PM_PCX_OK) {
        fprintf(stderr, "thumbnail: %s: %s\n", argv[1], pm_pcx_result_text(result));
        return 1;
    }

    uint8_t *image = malloc(pm_image_size(width, height));
    uint8_t *thumb = malloc(pm_image_size(thumb_width, thumb_height));
    if (image == NULL || thumb == NULL)
        return example_fail("thumbnail: out of memory");
    /* Captures and pastes put the image's bottom-left corner at the cursor. */
    pm_move_cursor(0, height - 1);
    pm_capture_image(image, width, height);
    pm_scale_image(image, thumb, width, height, thumb_width, thumb_height);

    pm_buffer_deactivate();
    pm_buffer_destroy(picture);
    const int32_t small = make_active_buffer(thumb_width, thumb_height);
    if (small < 0)
        return 1;
    pm_move_cursor(0, thumb_height - 1);
    pm_paste_image(thumb, thumb_width, thumb_height);
    pm_present(0, thumb_width - 1, 0, thumb_height - 1, 0, thumb_width - 1, 0, thumb_height - 1);
    const int written = example_write_ppm(argv[2], window);

    pm_buffer_deactivate();
    pm_buffer_destroy(small);
    example_close_window(window);
    free(image);
    free(thumb);
    return written ? 0 : 1;
}
