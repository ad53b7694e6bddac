/*
 * What the examples share: the window the library draws on (a window of the
 * software display, or on Windows a 32-bit bitmap in a memory device
 * context), a PCX header's size, and writing a window's pixels as a PPM
 * picture.
 */
#ifndef PIXMORA_EXAMPLE_COMMON_H
#define PIXMORA_EXAMPLE_COMMON_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <pixmora/pixmora.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <pixmora/pixmora_soft.h>
#endif

/* Reports a failed step on stderr; returns the exit status 1. */
static inline int example_fail(const char *what)
{
    fprintf(stderr, "%s\n", what);
    return 1;
}

/* The palette object the window was given; the program owns it. */
static pm_hpalette example_palette;

/* Attaches the library to a window, realizes the default palette and starts
 * the library. */
static inline void example_start(pm_hdc window)
{
    pm_attach_dc(window);
    example_palette = pm_create_default_palette();
    pm_realize_palette(example_palette);
    pm_startup();
}

#ifdef _WIN32
/* The bitmap behind the window's device context, its pixels and size, and
 * what the context held before. */
static HBITMAP example_bitmap;
static HGDIOBJ example_previous_bitmap;
static const uint32_t *example_pixels;
static int32_t example_width, example_height;

/* A window of the given size: a memory device context holding a top-down
 * 32-bit bitmap, black at first. */
static inline pm_hdc example_open_window(int32_t width, int32_t height)
{
    BITMAPINFO info;
    void *bits = NULL;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(NULL);
    example_bitmap = dc != NULL ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0) : NULL;
    if (example_bitmap == NULL) {
        fprintf(stderr, "cannot make a %dx%d bitmap\n", (int)width, (int)height);
        exit(1);
    }
    example_previous_bitmap = SelectObject(dc, example_bitmap);
    example_pixels = (const uint32_t *)bits;
    example_width = width;
    example_height = height;
    example_start(dc);
    return dc;
}

/* Stops the library (once every buffer is destroyed), closes the window and
 * deletes its palette. */
static inline void example_close_window(pm_hdc window)
{
    pm_shutdown();
    pm_attach_dc(0);
    SelectObject((HDC)window, example_previous_bitmap);
    DeleteObject(example_bitmap);
    DeleteDC((HDC)window);
    DeleteObject(example_palette);
}

/* The window's pixels, 0x00RRGGBB, top row first, and its size. */
static inline const uint32_t *example_window_pixels(pm_hdc window, int32_t *width, int32_t *height)
{
    (void)window;
    GdiFlush();
    *width = example_width;
    *height = example_height;
    return example_pixels;
}
#else
/* A software display window of the given size, with the library attached to
 * it, the default palette realized and the library started. */
static inline pm_hdc example_open_window(int32_t width, int32_t height)
{
    pm_hdc window = pm_soft_window_create(width, height);
    example_start(window);
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

/* The window's client surface, 0x00RRGGBB, top row first, and its size. */
static inline const uint32_t *example_window_pixels(pm_hdc window, int32_t *width, int32_t *height)
{
    *width = pm_soft_client_width(window);
    *height = pm_soft_client_height(window);
    return pm_soft_client_pixels(window);
}
#endif

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

/* Writes the window's pixels as a binary PPM picture. 1 written; 0 on
 * failure, reported on stderr. */
static inline int example_write_ppm(const char *name, pm_hdc window)
{
    int32_t width, height;
    const uint32_t *pixels = example_window_pixels(window, &width, &height);
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
