// The software display: a complete in-memory stand-in for the screen behind
// the platform layer. It is what the Linux build draws on and what every test
// inspects. This header is its control and inspection side; the drawing side
// is the platform interface (platform/platform.h).
//
// Client surfaces hold 32-bit pixels 0x00RRGGBB, top row first, unless a
// window asks for bytes R, G, B, 255 (window_set_layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <pixmora/pixmora.h>
#include <pixmora/pixmora_soft.h>

namespace pm::soft {

// Puts the display back into its initial state: 32 bits per pixel, no
// windows, no objects, and in a test build an empty call record. Everything
// created before is released, so handles from before the reset mean nothing
// afterwards.
void reset();

// Bits per pixel of the display: 1, 4, 8, 15, 16, 24 or 32 (default 32).
// At 8 bits and below it is a palette display with reserved system colours.
// Other values are refused (false).
bool set_depth(int32_t bits);
int32_t depth();

// The system palette of a palette display: 256 entries; at 8 bits the 20
// static colours stand in entries 0..9 and 246..255, at 4 bits and below the
// 16 colours in entries 0..7 and 8..15.
const pm_paletteentry *system_palette();

// A window with a client surface of width x height pixels (clamped to at
// least 0); returns its device context.
pm_hdc window_create(int32_t width, int32_t height);
void window_resize(pm_hdc dc, int32_t width, int32_t height); // keeps the top-left pixels
void window_destroy(pm_hdc dc);
bool is_window_dc(pm_hdc dc);

// A window's surface layout (PM_SOFT_XRGB, PM_SOFT_RGBA, PM_SOFT_RECORDED);
// setting it converts the pixels held. False for an unknown window or layout.
bool window_set_layout(pm_hdc dc, int32_t layout);
int32_t window_layout(pm_hdc dc); // -1 if no window
// The window's last stretch, as <pixmora/pixmora_soft.h> describes it;
// false when there is none.
bool window_stretch(pm_hdc dc, pm_soft_stretch *stretch);

int32_t client_width(pm_hdc dc);
int32_t client_height(pm_hdc dc);
// width x height, top row first, in the window's layout; null if no window
const uint32_t *client_pixels(pm_hdc dc);
uint32_t client_pixel(pm_hdc dc, int32_t x, int32_t y); // 0x00RRGGBB whatever the layout; 0 outside the surface
void client_fill(pm_hdc dc, uint32_t rgb);            // rgb 0x00RRGGBB

// What a device context holds.
pm_hgdiobj selected_object(pm_hdc dc);   // memory context: its bitmap; window: its font
pm_hpalette selected_palette(pm_hdc dc); // palette selected into a window context
int32_t stretch_mode(pm_hdc dc);

// The entries of a palette object (256), or null for an unknown handle.
const pm_paletteentry *palette_entries(pm_hpalette palette);
// Objects and contexts still alive (bitmaps, palettes, memory contexts).
int32_t live_objects();
int32_t live_memory_dcs();
int32_t live_global_blocks(); // global memory blocks not yet freed
int32_t open_files();

// Libraries loaded and not yet freed. A load fails unless a test build of
// the display (platform/soft/testing) provides libraries.
int32_t live_libraries(); // loaded and not yet freed

} // namespace pm::soft
