/**
 * @file
 * The software display: the in-memory screen that the library draws on when
 * built for its software platform (Linux, tests, tools). A program opens a
 * window surface here, attaches the library to its device context and reads
 * back what pm_present drew, with no window system at all:
 *
 *     pm_hdc window = pm_soft_window_create(640, 400);
 *     pm_attach_dc(window);
 *     ...
 *     const uint32_t *pixels = pm_soft_client_pixels(window);
 *
 * Client surfaces hold 32-bit pixels 0x00RRGGBB, top row first, each row
 * width pixels long. A window that asks for it with
 * pm_soft_window_set_layout holds instead the bytes R, G, B, 255 of each
 * pixel (the order of a web canvas's ImageData), or leaves its presentations
 * to the program, which reads them with pm_soft_window_stretch and draws
 * them itself (on a GPU, say). This header is usable from C (C11) and C++.
 */
#ifndef PIXMORA_SOFT_H
#define PIXMORA_SOFT_H

#include <pixmora/pixmora.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Sets the display's bits per pixel: 1, 4, 8, 15, 16, 24 or 32 (32 at
 * start). At 8 bits and below it is a palette display whose reserved system
 * colours the library's palette keeps. Set it before pm_startup and before
 * building the palette. 0 set; -1 refused (any other value). */
PM_API int32_t pm_soft_set_depth(int32_t bits);
/** The display's bits per pixel as set. */
PM_API int32_t pm_soft_depth(void);

/** Opens a window whose client surface is width x height pixels (each side
 * held to 0..16384), filled with black, and returns its device context, for
 * pm_attach_dc. */
PM_API pm_hdc pm_soft_window_create(int32_t width, int32_t height);
/** Gives a window a new client size, keeping the pixels that stay inside it
 * and filling the rest with black. 0; -1 when dc is not a window's context. */
PM_API int32_t pm_soft_window_resize(pm_hdc dc, int32_t width, int32_t height);
/** Closes a window; its context means nothing afterwards. Detach the library
 * first (pm_attach_dc(0)) if it is attached to it. 0; -1 when dc is not a
 * window's context. */
PM_API int32_t pm_soft_window_destroy(pm_hdc dc);

/** How a window's client surface holds its pixels (pm_soft_window_set_layout). */
enum {
    PM_SOFT_XRGB = 0,    /**< 32-bit words 0x00RRGGBB: every window until it asks for another layout */
    PM_SOFT_RGBA = 1,    /**< 4 bytes a pixel, R, G, B and 255, in memory order on any machine */
    PM_SOFT_RECORDED = 2 /**< as PM_SOFT_RGBA, but pm_present only records what it would draw and the
                              surface stays as it is: the program draws it (pm_soft_window_stretch) */
};
/** Sets the layout of a window's surface, converting the pixels it holds.
 * 0; -1, changing nothing, when dc is not a window's context or layout is
 * none of PM_SOFT_XRGB, PM_SOFT_RGBA and PM_SOFT_RECORDED. */
PM_API int32_t pm_soft_window_set_layout(pm_hdc dc, int32_t layout);
/** The layout of a window's surface; -1 when dc is not a window's context. */
PM_API int32_t pm_soft_window_layout(pm_hdc dc);

/** The last stretch of a bitmap onto a window (what pm_present draws), as
 * drawn or, for a PM_SOFT_RECORDED window, to be drawn: drawn pixel (x + i,
 * y + j) of the surface shows pixel (columns[i], rows[j]) of the bitmap, in
 * its colour (see bit_count); every other pixel of the surface is left as it
 * is. The pointers hold until the next stretch onto the window, its resize
 * or its destruction; bits is the bitmap's own memory. */
typedef struct pm_soft_stretch {
    const uint8_t *bits;    /**< the bitmap's rows, bottom row first, stride bytes apart */
    int32_t bitmap_width;   /**< pixels in a row */
    int32_t bitmap_height;  /**< rows */
    int32_t bit_count;      /**< 8: indices into colours; 16: 5-6-5 little-endian, each field widened by
                                 repeating its top bits; 24: bytes B, G, R; 32: B, G, R and one not shown */
    int32_t stride;         /**< bytes from a row to the next (a row's bytes rounded up to 4) */
    const uint8_t *colours; /**< 8 bits: 256 colours, 4 bytes each, R, G, B and 255; null otherwise */
    int32_t x;              /**< the first drawn column of the surface, from its left edge */
    int32_t y;              /**< the first drawn row of the surface, from its top edge */
    int32_t width;          /**< drawn columns (0 when the stretch drew nothing) */
    int32_t height;         /**< drawn rows (0 when the stretch drew nothing) */
    const int32_t *columns; /**< width entries: the bitmap column each drawn column shows */
    const int32_t *rows;    /**< height entries, top first: the bitmap row each drawn row shows,
                                 counted from the bottom row as bits stores them */
    uint32_t maps_serial;   /**< the window's count of changes of columns and rows: equal to an earlier
                                 stretch's, they are the same as then */
} pm_soft_stretch;
/** Fills *stretch with the window's last stretch. 0; -1 when dc is not a
 * window's context, stretch is null, or no stretch reached the window since
 * it was made or resized. */
PM_API int32_t pm_soft_window_stretch(pm_hdc dc, pm_soft_stretch *stretch);

/** Deletes a palette object that pm_create_default_palette returned, once the
 * library is shut down or has realized another. 0 deleted; -1 when palette
 * is not a palette object of the display, or the display's own. */
PM_API int32_t pm_soft_palette_delete(pm_hpalette palette);

/** Display objects and contexts still alive (bitmaps, palettes, memory
 * contexts), so that a long-running program can tell whether it leaks. */
PM_API int32_t pm_soft_live_objects(void);

/**@{*/
/** The client surface's width and height; 0 when dc is not a window's. */
PM_API int32_t pm_soft_client_width(pm_hdc dc);
PM_API int32_t pm_soft_client_height(pm_hdc dc);
/**@}*/
/** The client surface, width x height pixels, top row first, in the
 * window's layout: words 0x00RRGGBB unless it asked for another (then read
 * it as bytes R, G, B, 255); null when dc is not a window's context or the
 * surface is empty. The pointer holds until the window is resized or
 * destroyed or its layout changes. */
PM_API const uint32_t *pm_soft_client_pixels(pm_hdc dc);
/** One pixel 0x00RRGGBB of the client surface, whatever its layout; 0
 * outside it. */
PM_API uint32_t pm_soft_client_pixel(pm_hdc dc, int32_t x, int32_t y);

#ifdef __cplusplus
}
#endif

#endif
