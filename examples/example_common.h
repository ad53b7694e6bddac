/*
 * What the examples share: the software display window the library draws on,
 * a PCX header's size, and writing a window's pixels as a PPM picture.
 */
#ifndef PIXMORA_EXAMPLE_COMMON_H
#define PIXMORA_EXAMPLE_COMMON_H

#include <stdint.h>
#include <stdio.h>

#include <pixmora/pixmora.h>
#include <pixmora/pixmora_soft.h>

/* Reports a failed step on stderr; returns the exit status 1. */
static inline int example_fail(const char *what)
{
    fprintf(stderr, "%s\n", what);
    return 1;
}

/* The palette object the window was given; the program owns it. */
static pm_hpalette example_palette;

/* A software display window of the given size, with the library attached to
 * it, the default palette realized and the library started. */
static inline pm_hdc example_open_window(int32_t width, int32_t height)
{
    pm_hdc window = pm_soft_window_create(width, height);
    pm_attach_dc(window);
    example_palette = pm_create_default_palette();
    pm_realize_palette(example_palette);
    pm_startup();
    return window;
}

/* Stops the library (once every buffer is destroyed), closes the window and
 * deletes its palette. */
static inline void example_close_window(pm_hdc window)
{
    pm_shutdown();
    pm_attach_dc(0);
    pm_soft_window_destroy(window);
    pm_soft_palette_delete(example_palette);
}

/* The size of a PCX picture's header window: bytes 4 to 11 hold Xmin, Ymin,
 * Xmax and Ymax, 16-bit little-endian, inclusive. 0 when the file cannot be
 * read or the window is empty; the library checks the rest when it loads. */
static inline int example_pcx_size(const char *name, int32_t *width, int32_t *height)
{
    uint8_t header[12];
    FILE *file = fopen(name, "rb");
    const size_t got = file != NULL ? fread(header, 1, sizeof header, file) : 0;
    if (file != NULL)
        fclose(file);
    if (got != sizeof header) {
        fprintf(stderr, "%s: cannot read a PCX header\n", name);
        return 0;
    }
    const int32_t min_x = header[4] | header[5] << 8;
    const int32_t min_y = header[6] | header[7] << 8;
    const int32_t max_x = header[8] | header[9] << 8;
    const int32_t max_y = header[10] | header[11] << 8;
    *width = max_x - min_x + 1;
    *height = max_y - min_y + 1;
    if (*width < 1 || *height < 1) {
        fprintf(stderr, "%s: the picture's window is empty\n", name);
        return 0;
    }
    return 1;
}

/* Writes the window's client surface (0x00RRGGBB, top row first) as a binary
 * PPM picture. 1 written; 0 on failure, reported on stderr. */
static inline int example_write_ppm(const char *name, pm_hdc window)
{
    const int32_t width = pm_soft_client_width(window);
    const int32_t height = pm_soft_client_height(window);
    const uint32_t *pixels = pm_soft_client_pixels(window);
    FILE *file = pixels != NULL ? fopen(name, "wb") : NULL;
    if (file == NULL) {
        fprintf(stderr, "%s: cannot write the picture\n", name);
        return 0;
    }
    fprintf(file, "P6\n%d %d\n255\n", (int)width, (int)height);
    for (int64_t i = 0; i < (int64_t)width * height; ++i) {
        const uint8_t rgb[3] = {(uint8_t)(pixels[i] >> 16), (uint8_t)(pixels[i] >> 8), (uint8_t)pixels[i]};
        fwrite(rgb, 1, 3, file);
    }
    const int failed = ferror(file);
    if (fclose(file) != 0 || failed) {
        fprintf(stderr, "%s: cannot write the picture\n", name);
        return 0;
    }
    return 1;
}

#endif
