// The platform layer: exactly the operations the library relies on, named for
// what they do. Each one has the arguments and the effect of one Windows call
// (named beside it), so the Windows build passes them straight through; the
// software display (platform/soft) implements them in memory for Linux and for
// every test. The library includes this header and never a platform's own.
#pragma once

#include <cstdint>

#include <pixmora/pixmora.h>

// The calls live in an inline namespace, so that callers name them
// pm::platform::... while a test can build the software display's drawing
// under a name of its own (PIXMORA_PLATFORM_LAYER=soft_reference) and link it
// beside the Windows layer to compare the two.
#ifndef PIXMORA_PLATFORM_LAYER
#define PIXMORA_PLATFORM_LAYER layer
#endif

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {

// Colour usage of a bitmap header's colour table.
constexpr int32_t dib_rgb_colors = 0; // RGBQUAD colours
constexpr int32_t dib_pal_colors = 1; // 16-bit indices into the selected palette

constexpr uint32_t bi_rgb = 0;
constexpr uint32_t bi_bitfields = 3;

constexpr int32_t caps_bits_pixel = 12; // BITSPIXEL
constexpr int32_t caps_planes = 14;     // PLANES

constexpr int32_t stretch_color_on_color = 3; // COLORONCOLOR
constexpr uint32_t rop_src_copy = 0x00CC0020; // SRCCOPY

constexpr int32_t oem_fixed_font = 10; // stock object index

constexpr uint8_t pc_reserved = 0x01; // palette entry flag: may be animated

constexpr uint32_t gmem_moveable = 0x0002;
constexpr uint32_t gmem_zeroinit = 0x0040;

// The leading fields of the platform's text metric record (TEXTMETRICA);
// text_metrics writes the whole record, so the place given must hold it.
struct text_metric {
    int32_t tmHeight;
    int32_t tmAscent;
    int32_t tmDescent;
    int32_t tmInternalLeading;
    int32_t tmExternalLeading;
    int32_t tmAveCharWidth;
    int32_t tmMaxCharWidth;
    int32_t tmWeight;
    int32_t tmOverhang;
    int32_t tmDigitizedAspectX;
    int32_t tmDigitizedAspectY;
    uint8_t tmFirstChar;
    uint8_t tmLastChar;
    uint8_t tmDefaultChar;
    uint8_t tmBreakChar;
    uint8_t tmItalic;
    uint8_t tmUnderlined;
    uint8_t tmStruckOut;
    uint8_t tmPitchAndFamily;
    uint8_t tmCharSet;
};

// Where a file position is measured from.
enum class seek_origin : uint32_t { begin = 0, current = 1, end = 2 };

// ---- Display and device contexts ----------------------------------------
pm_hdc screen_dc_get();                                  // GetDC(NULL)
void screen_dc_release(pm_hdc dc);                       // ReleaseDC(NULL, dc)
int32_t device_caps(pm_hdc dc, int32_t index);           // GetDeviceCaps
uint32_t system_palette_entries(pm_hdc dc, uint32_t first, uint32_t count,
                                pm_paletteentry *entries); // GetSystemPaletteEntries
pm_hdc memory_dc_create();                               // CreateCompatibleDC(NULL)
void memory_dc_delete(pm_hdc dc);                        // DeleteDC
pm_hgdiobj select_object(pm_hdc dc, pm_hgdiobj object);  // SelectObject
void object_delete(pm_hgdiobj object);                   // DeleteObject

// ---- Bitmaps and presentation -------------------------------------------
// CreateDIBSection: a bottom-up bitmap described by header (a bitmap header
// and its masks or colour table); *bits receives its pixel memory. Null on
// failure.
pm_hbitmap dib_section_create(pm_hdc dc, const void *header, int32_t usage, uint8_t **bits);
int32_t stretch_mode_set(pm_hdc dc, int32_t mode); // SetStretchBltMode
// StretchDIBits: source y is measured from the bitmap's bottom row.
int32_t stretch_dib(pm_hdc dc, int32_t dst_x, int32_t dst_y, int32_t dst_width, int32_t dst_height,
                    int32_t src_x, int32_t src_y, int32_t src_width, int32_t src_height,
                    const void *bits, const void *header, int32_t usage, uint32_t rop);

// ---- Palettes -------------------------------------------------------------
pm_hpalette palette_create(const pm_logpalette *palette);                        // CreatePalette
pm_hpalette palette_select(pm_hdc dc, pm_hpalette palette, int32_t background);  // SelectPalette
uint32_t palette_realize(pm_hdc dc);                                             // RealizePalette
int32_t palette_animate(pm_hpalette palette, uint32_t first, uint32_t count,
                        const pm_paletteentry *entries);                         // AnimatePalette

// ---- Fonts ----------------------------------------------------------------
pm_hgdiobj stock_object(int32_t index);                 // GetStockObject
int32_t text_metrics(pm_hdc dc, text_metric *metrics);  // GetTextMetricsA

// ---- System -----------------------------------------------------------------
void keyboard_state_set(const uint8_t state[256]);       // SetKeyboardState
uint32_t version();                                      // GetVersion: bit 31 clear on the NT family
pm_hmodule library_load(const char *name);               // LoadLibraryExA, system folder only
void *library_symbol(pm_hmodule module, const char *name); // GetProcAddress
void library_free(pm_hmodule module);                    // FreeLibrary

// ---- Global memory ------------------------------------------------------------
pm_hglobal global_alloc(uint32_t flags, uint64_t size); // GlobalAlloc
void *global_lock(pm_hglobal block);                    // GlobalLock
void global_unlock(pm_hglobal block);                   // GlobalUnlock
void global_free(pm_hglobal block);                     // GlobalFree
uint64_t global_size(pm_hglobal block);                 // GlobalSize

// ---- Files --------------------------------------------------------------------
// CreateFileA for reading, shared for reading, existing files only. Null on
// failure.
pm_hfile file_open_read(const char *name);
// ReadFile: false on failure; *got receives the byte count.
bool file_read(pm_hfile file, void *buffer, uint32_t size, uint32_t *got);
// SetFilePointer: the new position, or -1 on failure.
int64_t file_seek(pm_hfile file, int64_t offset, seek_origin origin);
void file_close(pm_hfile file); // CloseHandle

// A file replaced safely, so that a save that fails midway leaves the old
// file as it was. The file named is opened for writing first (a file the
// user may not write is refused, untouched) and symbolic links are followed,
// dangling ones too. Where a new file can take the old one's place without
// changing what others see (its other names, owner, group, mode, access
// lists), the bytes go to a private new file in the same folder, under a
// name of that save's own, that takes the name once complete and flushed
// (Windows: ReplaceFileW). Otherwise the file is written in place from
// contents staged whole in a file without a name, after its old bytes are
// kept in a backup beside it (or without a name where the folder may not be
// written), and they are put back when that fails; a file whose old bytes
// cannot be kept is refused, untouched. An open file with no path of its own
// (one of /proc/self/fd whose name is gone) is written in place so too. Only
// a device or a pipe is written as the bytes come.
struct file_replacement;
// Null, with the system's reason (errno; GetLastError), when the file may
// not be written or nothing can be created.
file_replacement *file_replace_begin(const char *name);
// False when the bytes could not all be written (or staged).
bool file_replace_write(file_replacement *file, const void *data, uint32_t size);
// Flushes and puts the new contents in place; false, with the old file
// untouched and nothing left behind, when any of that fails. Frees the
// replacement.
bool file_replace_finish(file_replacement *file);
// Gives up: the old file stays as it was, nothing is left behind. Frees the
// replacement.
void file_replace_cancel(file_replacement *file);

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
