// Internals of the software display: the registry of live objects that every
// handle is looked up in. A handle is a number handed out once and never
// reused, so a stale or invented handle finds nothing and is ignored.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <pixmora/pixmora_soft.h>

#include "platform/platform.h"
#include "platform/soft/soft_display.h"
#include "platform/soft/soft_hooks.h"

namespace pm::soft::detail {

struct c_free {
    void operator()(void *memory) const { std::free(memory); }
};
using c_memory = std::unique_ptr<uint8_t, c_free>;

enum class dc_kind { screen, window, memory };

// Stretch modes as SetStretchBltMode takes them.
constexpr int32_t stretch_black_on_white = 1;
constexpr int32_t stretch_halftone = 4;

// Which destination pixels along one axis of a stretch get drawn, and from
// where: the offsets first .. first + source.size() - 1 within the
// destination extent, and for each the source index (a column, or a
// bottom-up row).
struct axis_map {
    int64_t first = 0;
    std::vector<int32_t> source;
};

// What decides a stretch's maps: its rectangles, the bitmap's size and the
// surface's.
struct stretch_key {
    int64_t dst_x, dst_y, dst_width, dst_height;
    int64_t src_x, src_y, src_width, src_height;
    int32_t bitmap_width, bitmap_height;
    int32_t surface_width, surface_height;
    bool operator==(const stretch_key &) const = default;
};

// A window's last stretch: its maps, kept while the geometry stays (so they
// are made once per change of size), and what pm_soft_window_stretch hands
// out.
struct stretch_record {
    bool made = false;              // a stretch reached the window since its last resize
    stretch_key key{};
    axis_map columns, rows;
    uint32_t maps_serial = 0;       // counts the changes of columns and rows
    const uint8_t *bits = nullptr;  // the last stretch's bitmap
    int32_t bit_count = 0;
    int64_t stride = 0;
    std::array<uint32_t, 256> colours{}; // 8 bits: each index's colour in the surface's order
    std::array<uint32_t, 256> handed{};  // the same as bytes R, G, B, 255, for an XRGB window
};

struct dc_object {
    dc_kind kind = dc_kind::screen;
    pm_hgdiobj bitmap = nullptr; // memory contexts only
    pm_hgdiobj font = nullptr;
    pm_hgdiobj brush = nullptr;
    pm_hgdiobj pen = nullptr;
    pm_hpalette palette = nullptr;
    int32_t stretch_mode = stretch_black_on_white;
    int32_t width = 0; // client surface of a window, top row first, in `layout`
    int32_t height = 0;
    int32_t layout = PM_SOFT_XRGB; // PM_SOFT_XRGB, PM_SOFT_RGBA or PM_SOFT_RECORDED
    std::vector<uint32_t> surface;
    stretch_record stretch; // windows only
};

struct bitmap_object {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bit_count = 0;
    int64_t stride = 0;
    c_memory bits;                 // null for the stock bitmap
    pm_hdc selected_in = nullptr;  // the one context holding it, if any
    bool stock = false;
};

struct palette_object {
    uint32_t count = 0;
    std::array<pm_paletteentry, 256> entries{};
    bool stock = false;
};

enum class stock_kind { brush, pen, font };

// Fonts, brushes and pens exist only as stock objects.
struct stock_entry {
    stock_kind kind = stock_kind::brush;
    pm::platform::text_metric metrics{};
};

struct global_block {
    c_memory memory;
    uint64_t size = 0;
    int32_t locks = 0;
};

struct display_state {
    display_state();
    ~display_state();
    display_state(const display_state &) = delete;
    display_state &operator=(const display_state &) = delete;

    int32_t depth = 32;
    std::array<pm_paletteentry, 256> system_palette{};

    std::unordered_map<uintptr_t, dc_object> dcs;
    std::unordered_map<uintptr_t, bitmap_object> bitmaps;
    std::unordered_map<uintptr_t, palette_object> palettes;
    std::unordered_map<uintptr_t, stock_entry> stock_objects;
    std::unordered_map<uintptr_t, global_block> globals;
    std::unordered_map<uintptr_t, int> files; // handle -> descriptor
    std::unordered_set<uintptr_t> libraries;

    std::array<pm_hgdiobj, 20> stock{}; // by stock index; null where none
    pm_hgdiobj stock_bitmap = nullptr;

    // A test build's record and injected failures; null in the library.
    display_hooks *hooks = nullptr;

    // Never reset, so handles from before a reset stay unknown after it.
    uintptr_t next_handle = 0x10000;

    void *new_handle();
    void release_all();
    void build_stock_objects();
    void build_system_palette();

    dc_object *find_dc(pm_hdc dc);
    bitmap_object *find_bitmap(pm_hgdiobj object);
    palette_object *find_palette(pm_hpalette palette);
    const stock_entry *find_stock(pm_hgdiobj object);
    // The palette a context draws through: its selection, or the stock
    // default palette when the selection is gone.
    const palette_object &dc_palette(const dc_object &dc);
};

display_state &state();

inline uintptr_t key(const void *handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

void close_all_files(display_state &s);

} // namespace pm::soft::detail
