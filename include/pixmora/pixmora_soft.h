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
 * width pixels long. This header is usable from C (C11) and C++.
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
/** The client surface, width x height pixels 0x00RRGGBB, top row first; null
 * when dc is not a window's context or the surface is empty. The pointer
 * holds until the window is resized or destroyed. */
PM_API const uint32_t *pm_soft_client_pixels(pm_hdc dc);
/** One pixel 0x00RRGGBB of the client surface; 0 outside it. */
PM_API uint32_t pm_soft_client_pixel(pm_hdc dc, int32_t x, int32_t y);

#ifdef __cplusplus
}
#endif

#endif
