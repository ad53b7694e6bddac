/*
 * palette_effect: paints a sunset of 236 shades through the palette, fits it
 * into COLOURS palette entries (16 unless given) with the library's colour
 * reduction and saves the result as a 256-colour PCX picture.
 *
 *     palette_effect OUT.pcx [COLOURS]
 */
#include <stdio.h>
#include <stdlib.h>

#include <pixmora/pixmora.h>

#include "example_common.h"

enum {
    width = 256,
    height = 64,
    first_free = 10, /* 0..9 and 246..255 stay for a palette display's own colours */
    shades = 236
};

/* Entry first_free + k: from deep blue through red to yellow. */
static void sunset(uint8_t *rgb)
{
    for (int k = 0; k < shades; ++k) {
        uint8_t *entry = rgb + 3 * (first_free + k);
        entry[0] = (uint8_t)(k * 255 / (shades - 1));
        entry[1] = (uint8_t)(k < shades / 2 ? 0 : (k - shades / 2) * 255 / (shades - shades / 2));
        entry[2] = (uint8_t)(160 - k * 160 / (shades - 1));
    }
}

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: palette_effect OUT.pcx [COLOURS]\n");
        return 2;
    }
    const int32_t colours = argc == 3 ? atoi(argv[2]) : 16;
    if (colours < 1 || colours > shades)
        return example_fail("palette_effect: COLOURS must be 1 to 236");

    pm_hdc window = example_open_window(width, height);
    if (pm_set_new_buffer_depth(8) != 0)
        return example_fail("palette_effect: the depth 8 is refused");
    const int32_t buffer = pm_buffer_create(width, height);
    if (buffer < 0 || pm_buffer_activate(buffer) != 0)
        return example_fail("palette_effect: cannot make the buffer");

    static uint8_t rgb[3 * 256];
    sunset(rgb);
    pm_set_palette_entries(first_free, shades, rgb + 3 * first_free);

    /* Each column takes the shade of its distance from the bottom-left
     * corner, so every one of the 236 entries is in use. */
    static uint8_t image[width * height];
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image[y * width + x] = (uint8_t)(first_free + (x + y) * (shades - 1) / (width - 1 + height - 1));
    pm_move_cursor(0, height - 1);
    pm_paste_image(image, width, height);

    /* The reduction renumbers the pixels into entries first_free onwards
     * and leaves their colours there in rgb; the palette then takes them. */
    pm_reduce_colours(first_free, colours, rgb);
    pm_set_palette_entries(first_free, colours, rgb + 3 * first_free);

    const int32_t result = pm_save_pcx(argv[1], 0, width - 1, 0, height - 1);
    if (result != PM_PCX_OK) {
        fprintf(stderr, "palette_effect: %s: %s\n", argv[1], pm_pcx_result_text(result));
        return 1;
    }

    pm_buffer_deactivate();
    pm_buffer_destroy(buffer);
    example_close_window(window);
    return 0;
}
