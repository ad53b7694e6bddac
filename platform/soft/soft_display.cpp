// The software display: its control side (pm::soft::) and the platform calls for
// device contexts, objects, palettes and fonts. Unknown handles are ignored
// and answered with null or 0, as the Windows graphics interface does.
#include "platform/soft/soft_display.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/soft/soft_kernels.h"
#include "platform/soft/soft_state.h"

namespace pm::soft::detail {
namespace {

// Stock object indices of GetStockObject.
constexpr int32_t stock_brush_last = 5;   // WHITE_BRUSH .. NULL_BRUSH
constexpr int32_t stock_pen_last = 8;     // WHITE_PEN .. NULL_PEN
constexpr int32_t ansi_fixed_font = 11;
constexpr int32_t ansi_var_font = 12;
constexpr int32_t system_font = 13;
constexpr int32_t device_default_font = 14;
constexpr int32_t default_palette = 15;
constexpr int32_t system_fixed_font = 16;
constexpr int32_t default_gui_font = 17;
constexpr int32_t dc_brush = 18;
constexpr int32_t dc_pen = 19;
constexpr int32_t white_brush = 0;
constexpr int32_t black_pen = 7;

// tmPitchAndFamily: the low bit set means variable pitch, so fixed-pitch
// fonts have it clear; 0x20 is the Swiss family, 0x30 the Modern family.
constexpr uint8_t fixed_modern = 0x30;
constexpr uint8_t variable_swiss = 0x21;
constexpr uint8_t ansi_charset = 0;
constexpr uint8_t oem_charset = 255;

pm::platform::text_metric font_metrics(int32_t height, int32_t ascent, int32_t internal_leading, int32_t average,
                                   int32_t maximum, int32_t weight, uint8_t pitch_family, uint8_t charset)
{
    pm::platform::text_metric m{};
    m.tmHeight = height;
    m.tmAscent = ascent;
    m.tmDescent = height - ascent;
    m.tmInternalLeading = internal_leading;
    m.tmExternalLeading = 0;
    m.tmAveCharWidth = average;
    m.tmMaxCharWidth = maximum;
    m.tmWeight = weight;
    m.tmOverhang = 0;
    m.tmDigitizedAspectX = 96;
    m.tmDigitizedAspectY = 96;
    m.tmFirstChar = charset == oem_charset ? 0x00 : 0x20;
    m.tmLastChar = 0xFF;
    m.tmDefaultChar = charset == oem_charset ? 0x2E : 0x7F;
    m.tmBreakChar = 0x20;
    m.tmPitchAndFamily = pitch_family;
    m.tmCharSet = charset;
    return m;
}

// The 20 static colours of an 8-bit palette display, ten at each end.
constexpr std::array<pm_paletteentry, 20> static_colours = {{
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
}};

// The 16 colours of a 16-colour display: the static colours without the four
// that only an 8-bit display adds (8, 9, 246, 247).
std::array<pm_paletteentry, 16> sixteen_colours()
{
    std::array<pm_paletteentry, 16> colours{};
    std::copy_n(static_colours.begin(), 8, colours.begin());
    std::copy_n(static_colours.begin() + 12, 8, colours.begin() + 8);
    return colours;
}

} // namespace

display_state::display_state()
{
    build_system_palette();
    build_stock_objects();
}

display_state::~display_state()
{
    release_all();
}

void *display_state::new_handle()
{
    void *handle = reinterpret_cast<void *>(next_handle);
    next_handle += 4;
    return handle;
}

void display_state::release_all()
{
    close_all_files(*this);
    dcs.clear();
    bitmaps.clear();
    palettes.clear();
    stock_objects.clear();
    globals.clear();
    libraries.clear();
    stock.fill(nullptr);
    stock_bitmap = nullptr;
    if (hooks != nullptr)
        hooks->display_reset();
}

void display_state::build_system_palette()
{
    system_palette.fill(pm_paletteentry{0, 0, 0, 0});
    if (depth == 8) {
        std::copy_n(static_colours.begin(), 10, system_palette.begin());
        std::copy_n(static_colours.begin() + 10, 10, system_palette.begin() + 246);
    } else if (depth < 8) {
        auto colours = sixteen_colours();
        std::copy(colours.begin(), colours.end(), system_palette.begin());
    }
}

void display_state::build_stock_objects()
{
    auto add = [this](int32_t index, stock_kind kind, pm::platform::text_metric metrics = {}) {
        void *handle = new_handle();
        stock_objects[key(handle)] = stock_entry{kind, metrics};
        stock[static_cast<size_t>(index)] = handle;
    };
    for (int32_t i = 0; i <= stock_brush_last; ++i)
        add(i, stock_kind::brush);
    for (int32_t i = stock_brush_last + 1; i <= stock_pen_last; ++i)
        add(i, stock_kind::pen);
    add(dc_brush, stock_kind::brush);
    add(dc_pen, stock_kind::pen);

    add(pm::platform::oem_fixed_font, stock_kind::font, font_metrics(12, 10, 0, 8, 8, 400, fixed_modern, oem_charset));
    add(ansi_fixed_font, stock_kind::font, font_metrics(13, 11, 0, 8, 8, 400, fixed_modern, ansi_charset));
    add(ansi_var_font, stock_kind::font, font_metrics(13, 11, 2, 5, 11, 400, variable_swiss, ansi_charset));
    add(system_font, stock_kind::font, font_metrics(16, 13, 3, 7, 14, 700, variable_swiss, ansi_charset));
    add(device_default_font, stock_kind::font, font_metrics(16, 13, 3, 7, 14, 700, variable_swiss, ansi_charset));
    add(system_fixed_font, stock_kind::font, font_metrics(15, 12, 0, 8, 8, 400, fixed_modern, ansi_charset));
    add(default_gui_font, stock_kind::font, font_metrics(13, 11, 2, 5, 11, 400, variable_swiss, ansi_charset));

    // The default palette holds the 20 static colours in a row.
    void *palette = new_handle();
    palette_object &p = palettes[key(palette)];
    p.count = static_cast<uint32_t>(static_colours.size());
    std::copy(static_colours.begin(), static_colours.end(), p.entries.begin());
    p.stock = true;
    stock[default_palette] = palette;

    // A new memory context holds a 1 x 1 monochrome stock bitmap.
    stock_bitmap = new_handle();
    bitmap_object &b = bitmaps[key(stock_bitmap)];
    b.width = 1;
    b.height = 1;
    b.bit_count = 1;
    b.stride = 4;
    b.stock = true;
}

dc_object *display_state::find_dc(pm_hdc dc)
{
    auto found = dcs.find(key(dc));
    return found == dcs.end() ? nullptr : &found->second;
}

bitmap_object *display_state::find_bitmap(pm_hgdiobj object)
{
    auto found = bitmaps.find(key(object));
    return found == bitmaps.end() ? nullptr : &found->second;
}

palette_object *display_state::find_palette(pm_hpalette palette)
{
    auto found = palettes.find(key(palette));
    return found == palettes.end() ? nullptr : &found->second;
}

const stock_entry *display_state::find_stock(pm_hgdiobj object)
{
    auto found = stock_objects.find(key(object));
    return found == stock_objects.end() ? nullptr : &found->second;
}

const palette_object &display_state::dc_palette(const dc_object &dc)
{
    if (const palette_object *selected = find_palette(dc.palette))
        return *selected;
    return *find_palette(stock[default_palette]);
}

display_state &state()
{
    static display_state instance;
    return instance;
}

namespace {

pm_hdc add_dc(dc_kind kind)
{
    display_state &s = state();
    void *handle = s.new_handle();
    dc_object &dc = s.dcs[key(handle)];
    dc.kind = kind;
    dc.font = s.stock[system_font];
    dc.brush = s.stock[white_brush];
    dc.pen = s.stock[black_pen];
    dc.palette = s.stock[default_palette];
    if (kind == dc_kind::memory)
        dc.bitmap = s.stock_bitmap;
    return handle;
}

// Windows refuses window sizes beyond a few screens; the bound keeps a bad
// size from asking for gigabytes of surface.
constexpr int32_t max_client_extent = 16384;

int32_t client_extent(int32_t value)
{
    return std::clamp(value, 0, max_client_extent);
}

dc_object *find_window(pm_hdc dc)
{
    dc_object *object = state().find_dc(dc);
    return object != nullptr && object->kind == dc_kind::window ? object : nullptr;
}

// A pixel 0x00RRGGBB in a surface layout, and back.
uint32_t in_layout(uint32_t rgb, int32_t layout)
{
    if (layout == PM_SOFT_XRGB)
        return rgb;
    return order_rgba::pack((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

uint32_t from_layout(uint32_t pixel, int32_t layout)
{
    if (layout == PM_SOFT_XRGB)
        return pixel;
    uint8_t bytes[4];
    std::memcpy(bytes, &pixel, sizeof bytes);
    return order_xrgb::pack(bytes[0], bytes[1], bytes[2]);
}

} // namespace
} // namespace pm::soft::detail

// ---- Control and inspection ------------------------------------------------
namespace pm::soft {
using namespace detail;

void reset()
{
    display_state &s = state();
    s.release_all();
    s.depth = 32;
    s.build_system_palette();
    s.build_stock_objects();
}

bool set_depth(int32_t bits)
{
    switch (bits) {
    case 1: case 4: case 8: case 15: case 16: case 24: case 32:
        break;
    default:
        return false;
    }
    display_state &s = state();
    s.depth = bits;
    s.build_system_palette();
    return true;
}

int32_t depth()
{
    return state().depth;
}

const pm_paletteentry *system_palette()
{
    return state().system_palette.data();
}

pm_hdc window_create(int32_t width, int32_t height)
{
    pm_hdc handle = add_dc(dc_kind::window);
    window_resize(handle, width, height);
    return handle;
}

void window_resize(pm_hdc dc, int32_t width, int32_t height)
{
    dc_object *window = find_window(dc);
    if (window == nullptr)
        return;
    width = client_extent(width);
    height = client_extent(height);
    std::vector<uint32_t> surface(static_cast<size_t>(width) * static_cast<size_t>(height),
                                  in_layout(0, window->layout));
    int32_t kept_width = std::min(width, window->width);
    int32_t kept_height = std::min(height, window->height);
    // An empty surface has no storage to copy from or to.
    for (int32_t y = 0; kept_width > 0 && y < kept_height; ++y)
        std::memcpy(surface.data() + static_cast<size_t>(y) * width,
                    window->surface.data() + static_cast<size_t>(y) * window->width,
                    static_cast<size_t>(kept_width) * sizeof(uint32_t));
    window->surface = std::move(surface);
    window->width = width;
    window->height = height;
    window->stretch.made = false;
}

void window_destroy(pm_hdc dc)
{
    if (find_window(dc) != nullptr)
        state().dcs.erase(key(dc));
}

bool is_window_dc(pm_hdc dc)
{
    return find_window(dc) != nullptr;
}

bool window_set_layout(pm_hdc dc, int32_t layout)
{
    dc_object *window = find_window(dc);
    if (window == nullptr || layout < PM_SOFT_XRGB || layout > PM_SOFT_RECORDED)
        return false;
    for (uint32_t &pixel : window->surface)
        pixel = in_layout(from_layout(pixel, window->layout), layout);
    for (uint32_t &colour : window->stretch.colours)
        colour = in_layout(from_layout(colour, window->layout), layout);
    window->layout = layout;
    return true;
}

int32_t window_layout(pm_hdc dc)
{
    const dc_object *window = find_window(dc);
    return window != nullptr ? window->layout : -1;
}

bool window_stretch(pm_hdc dc, pm_soft_stretch *stretch)
{
    dc_object *window = find_window(dc);
    if (window == nullptr || stretch == nullptr || !window->stretch.made)
        return false;
    stretch_record &record = window->stretch;
    const bool drawn = !record.columns.source.empty() && !record.rows.source.empty();
    *stretch = pm_soft_stretch{};
    stretch->bits = record.bits;
    stretch->bitmap_width = record.key.bitmap_width;
    stretch->bitmap_height = record.key.bitmap_height;
    stretch->bit_count = record.bit_count;
    stretch->stride = static_cast<int32_t>(record.stride);
    if (record.bit_count == 8) {
        const uint32_t *colours = record.colours.data();
        if (window->layout == PM_SOFT_XRGB) {
            for (size_t i = 0; i < record.colours.size(); ++i)
                record.handed[i] = in_layout(record.colours[i], PM_SOFT_RGBA);
            colours = record.handed.data();
        }
        stretch->colours = reinterpret_cast<const uint8_t *>(colours);
    }
    if (drawn) {
        // Both lie on the surface, whose sides are at most max_client_extent.
        stretch->x = static_cast<int32_t>(record.key.dst_x + record.columns.first);
        stretch->y = static_cast<int32_t>(record.key.dst_y + record.rows.first);
        stretch->width = static_cast<int32_t>(record.columns.source.size());
        stretch->height = static_cast<int32_t>(record.rows.source.size());
        stretch->columns = record.columns.source.data();
        stretch->rows = record.rows.source.data();
    }
    stretch->maps_serial = record.maps_serial;
    return true;
}

int32_t client_width(pm_hdc dc)
{
    const dc_object *window = find_window(dc);
    return window != nullptr ? window->width : 0;
}

int32_t client_height(pm_hdc dc)
{
    const dc_object *window = find_window(dc);
    return window != nullptr ? window->height : 0;
}

const uint32_t *client_pixels(pm_hdc dc)
{
    const dc_object *window = find_window(dc);
    return window != nullptr ? window->surface.data() : nullptr;
}

uint32_t client_pixel(pm_hdc dc, int32_t x, int32_t y)
{
    const dc_object *window = find_window(dc);
    if (window == nullptr || x < 0 || y < 0 || x >= window->width || y >= window->height)
        return 0;
    return from_layout(window->surface[static_cast<size_t>(y) * window->width + x], window->layout);
}

void client_fill(pm_hdc dc, uint32_t rgb)
{
    if (dc_object *window = find_window(dc))
        std::fill(window->surface.begin(), window->surface.end(), in_layout(rgb, window->layout));
}

pm_hgdiobj selected_object(pm_hdc dc)
{
    const dc_object *object = state().find_dc(dc);
    if (object == nullptr)
        return nullptr;
    return object->kind == dc_kind::memory ? object->bitmap : object->font;
}

pm_hpalette selected_palette(pm_hdc dc)
{
    const dc_object *object = state().find_dc(dc);
    return object != nullptr ? object->palette : nullptr;
}

int32_t stretch_mode(pm_hdc dc)
{
    const dc_object *object = state().find_dc(dc);
    return object != nullptr ? object->stretch_mode : 0;
}

const pm_paletteentry *palette_entries(pm_hpalette palette)
{
    const palette_object *object = state().find_palette(palette);
    return object != nullptr ? object->entries.data() : nullptr;
}

int32_t live_objects()
{
    const display_state &s = state();
    auto alive = [](const auto &entry) { return !entry.second.stock; };
    return static_cast<int32_t>(std::count_if(s.bitmaps.begin(), s.bitmaps.end(), alive) +
                                std::count_if(s.palettes.begin(), s.palettes.end(), alive));
}

int32_t live_memory_dcs()
{
    const display_state &s = state();
    return static_cast<int32_t>(std::count_if(s.dcs.begin(), s.dcs.end(), [](const auto &entry) {
        return entry.second.kind == dc_kind::memory;
    }));
}

int32_t live_global_blocks()
{
    return static_cast<int32_t>(state().globals.size());
}

int32_t open_files()
{
    return static_cast<int32_t>(state().files.size());
}

int32_t live_libraries()
{
    return static_cast<int32_t>(state().libraries.size());
}

} // namespace pm::soft

// ---- Platform calls: contexts, objects, palettes, fonts ----------------------
namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {
using namespace pm::soft::detail;

namespace {

constexpr int32_t caps_raster = 38;        // RASTERCAPS
constexpr int32_t caps_size_palette = 104; // SIZEPALETTE
constexpr int32_t caps_num_reserved = 106; // NUMRESERVED
constexpr int32_t rc_palette = 0x0100;

bool is_palette_depth(int32_t depth)
{
    return depth <= 8;
}

int32_t palette_size(int32_t depth)
{
    return depth == 8 ? 256 : depth < 8 ? 16 : 0;
}

pm_hgdiobj swap(pm_hgdiobj &slot, pm_hgdiobj object)
{
    pm_hgdiobj previous = slot;
    slot = object;
    return previous;
}

// A bitmap goes only into a memory context, and into one context at a time;
// the stock bitmap may sit in many.
pm_hgdiobj select_bitmap(pm_hdc dc, dc_object &context, pm_hgdiobj object, bitmap_object &bitmap)
{
    display_state &s = state();
    if (context.kind != dc_kind::memory)
        return nullptr;
    if (!bitmap.stock && bitmap.selected_in != nullptr && bitmap.selected_in != dc)
        return nullptr;
    if (bitmap_object *previous = s.find_bitmap(context.bitmap); previous != nullptr && !previous->stock)
        previous->selected_in = nullptr;
    if (!bitmap.stock)
        bitmap.selected_in = dc;
    return swap(context.bitmap, object);
}

} // namespace

// A fresh context for the whole screen; it has no surface to draw on.
pm_hdc screen_dc_get()
{
    return pm::soft::detail::add_dc(dc_kind::screen);
}

// Gives a screen context back; anything else is ignored.
void screen_dc_release(pm_hdc dc)
{
    const dc_object *object = state().find_dc(dc);
    if (object != nullptr && object->kind == dc_kind::screen)
        state().dcs.erase(key(dc));
}

// The display's bits per pixel (15 stays 15), 1 plane, and its palette
// capabilities; 0 for other indices and unknown contexts.
int32_t device_caps(pm_hdc dc, int32_t index)
{
    display_state &s = state();
    if (s.find_dc(dc) == nullptr)
        return 0;
    switch (index) {
    case caps_bits_pixel:
        return s.depth;
    case caps_planes:
        return 1;
    case caps_raster:
        return is_palette_depth(s.depth) ? rc_palette : 0;
    case caps_size_palette:
        return palette_size(s.depth);
    case caps_num_reserved:
        return s.depth == 8 ? 20 : s.depth < 8 ? 16 : 0;
    default:
        return 0;
    }
}

// Copies up to count system palette entries from first on; a run is cut at
// entry 255. Returns the number copied (the palette's size when entries is
// null); 0 for an unknown context or a display without a palette.
uint32_t system_palette_entries(pm_hdc dc, uint32_t first, uint32_t count, pm_paletteentry *entries)
{
    display_state &s = state();
    if (s.find_dc(dc) == nullptr || !is_palette_depth(s.depth))
        return 0;
    if (entries == nullptr)
        return 256;
    if (first >= 256)
        return 0;
    uint32_t copied = std::min(count, 256 - first);
    std::copy_n(s.system_palette.begin() + first, copied, entries);
    return copied;
}

// A memory context holding the stock 1 x 1 bitmap.
pm_hdc memory_dc_create()
{
    return pm::soft::detail::add_dc(dc_kind::memory);
}

// Deletes a memory context; its bitmap becomes free to select elsewhere.
// Other contexts are not deleted this way.
void memory_dc_delete(pm_hdc dc)
{
    display_state &s = state();
    const dc_object *object = s.find_dc(dc);
    if (object == nullptr || object->kind != dc_kind::memory)
        return;
    if (bitmap_object *bitmap = s.find_bitmap(object->bitmap); bitmap != nullptr && !bitmap->stock)
        bitmap->selected_in = nullptr;
    s.dcs.erase(key(dc));
}

// Selects a bitmap (memory contexts only), font, brush or pen and returns the
// object it replaces; null for unknown handles, palettes, and a bitmap that
// another context holds.
pm_hgdiobj select_object(pm_hdc dc, pm_hgdiobj object)
{
    display_state &s = state();
    dc_object *context = s.find_dc(dc);
    if (context == nullptr)
        return nullptr;
    if (bitmap_object *bitmap = s.find_bitmap(object))
        return select_bitmap(dc, *context, object, *bitmap);
    const stock_entry *stock = s.find_stock(object);
    if (stock == nullptr)
        return nullptr;
    switch (stock->kind) {
    case stock_kind::font:
        return swap(context->font, object);
    case stock_kind::brush:
        return swap(context->brush, object);
    case stock_kind::pen:
        return swap(context->pen, object);
    }
    return nullptr;
}

// Deletes a bitmap (freeing its pixels) or a palette. Stock objects, unknown
// handles and a bitmap still selected into a context are left alone.
void object_delete(pm_hgdiobj object)
{
    display_state &s = state();
    if (const bitmap_object *bitmap = s.find_bitmap(object)) {
        if (!bitmap->stock && bitmap->selected_in == nullptr)
            s.bitmaps.erase(key(object));
        return;
    }
    if (const palette_object *palette = s.find_palette(object); palette != nullptr && !palette->stock)
        s.palettes.erase(key(object));
}

// Sets how stretching treats dropped pixels; returns the previous mode, or 0
// for an unknown context or a mode outside 1..4 (nothing changes then).
int32_t stretch_mode_set(pm_hdc dc, int32_t mode)
{
    dc_object *context = state().find_dc(dc);
    if (context == nullptr || mode < stretch_black_on_white || mode > stretch_halftone)
        return 0;
    int32_t previous = context->stretch_mode;
    context->stretch_mode = mode;
    return previous;
}

// A palette object with a copy of the logical palette's entries; null for a
// null palette or an entry count outside 1..256.
pm_hpalette palette_create(const pm_logpalette *palette)
{
    if (palette == nullptr || palette->palNumEntries < 1 || palette->palNumEntries > 256)
        return nullptr;
    display_state &s = state();
    void *handle = s.new_handle();
    palette_object &object = s.palettes[key(handle)];
    object.count = palette->palNumEntries;
    std::copy_n(palette->palPalEntry, object.count, object.entries.begin());
    return handle;
}

// Selects a palette into a context and returns the previous one; null (and no
// change) for an unknown context or palette. Every call goes to the hooks.
pm_hpalette palette_select(pm_hdc dc, pm_hpalette palette, int32_t background)
{
    display_state &s = state();
    dc_object *context = s.find_dc(dc);
    pm_hpalette previous = nullptr;
    if (context != nullptr && s.find_palette(palette) != nullptr)
        previous = swap(context->palette, palette);
    if (s.hooks != nullptr)
        s.hooks->palette_selected({dc, palette, previous, background});
    return previous;
}

// Shows the realization to the hooks. Returns the number of entries a
// palette display maps (the selected palette's size; 0 for the stock
// palette, whose colours are the static ones), 0 on other displays or for an
// unknown context.
uint32_t palette_realize(pm_hdc dc)
{
    display_state &s = state();
    if (s.hooks != nullptr)
        s.hooks->palette_realized(dc);
    const dc_object *context = s.find_dc(dc);
    if (context == nullptr || !is_palette_depth(s.depth))
        return 0;
    const palette_object &palette = s.dc_palette(*context);
    return palette.stock ? 0 : palette.count;
}

// Replaces the colours of the entries first.. first+count-1 (cut at the
// palette's size) whose current flags carry PC_RESERVED; the flags stay.
// Returns 1, or 0 for an unknown palette or null entries. Every call is
// shown to the hooks.
int32_t palette_animate(pm_hpalette palette, uint32_t first, uint32_t count, const pm_paletteentry *entries)
{
    display_state &s = state();
    if (s.hooks != nullptr)
        s.hooks->palette_animated({palette, first, count});
    palette_object *object = s.find_palette(palette);
    if (object == nullptr || entries == nullptr)
        return 0;
    uint32_t end = first >= object->count ? first : first + std::min(count, object->count - first);
    for (uint32_t i = first; i < end; ++i) {
        pm_paletteentry &entry = object->entries[i];
        if ((entry.peFlags & pc_reserved) == 0)
            continue;
        const pm_paletteentry &replacement = entries[i - first];
        entry.peRed = replacement.peRed;
        entry.peGreen = replacement.peGreen;
        entry.peBlue = replacement.peBlue;
    }
    return 1;
}

// The stock object of a GetStockObject index; null for an unknown index.
pm_hgdiobj stock_object(int32_t index)
{
    const display_state &s = state();
    if (index < 0 || index >= static_cast<int32_t>(s.stock.size()))
        return nullptr;
    return s.stock[static_cast<size_t>(index)];
}

// Writes the whole metric record of the context's font; 0 and nothing
// written for an unknown context or a null record.
int32_t text_metrics(pm_hdc dc, text_metric *metrics)
{
    display_state &s = state();
    const dc_object *context = s.find_dc(dc);
    if (context == nullptr || metrics == nullptr)
        return 0;
    const stock_entry *font = s.find_stock(context->font);
    if (font == nullptr || font->kind != stock_kind::font)
        return 0;
    std::memcpy(metrics, &font->metrics, sizeof(text_metric));
    return 1;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
