// Palette management. The one 256-colour palette is held in three forms: the
// logical palette (what the palette manager takes), the colour table (what an
// 8-bit bitmap header carries) and the pixel lookup table (ready-made pixel
// values for the active buffer's depth). The operations here build the
// palette, realize it in the window and change runs of it, keeping every form,
// the active 8-bit buffer's colour table and the realized palette in step.
#include "graphics/palette.h"

#include <cstring>

#include "graphics/internal.h"
#include "platform/platform.h"

namespace pm {
namespace {

using rgb_triple = std::array<uint8_t, 3>;

// Entries 0..29: the ten low static colours of a palette display, then the
// 16 basic colours and four greys.
constexpr rgb_triple low_band[hue_circle_first] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {164, 200, 240},
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},   {170, 0, 0},
    {170, 0, 170},   {170, 85, 0},    {170, 170, 170}, {85, 85, 85},    {85, 85, 255},
    {85, 255, 85},   {85, 255, 255},  {255, 85, 85},   {255, 85, 255},  {255, 255, 85},
    {255, 255, 255}, {0, 0, 0},       {85, 85, 85},    {170, 170, 170}, {255, 255, 255},
};

// Entries 246..255: the ten high static colours of a palette display.
constexpr rgb_triple high_band[256 - high_band_first] = {
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

// The five intensity levels L0 < L1 < L2 < L3 < L4 of each hue circle: three
// brightnesses (full, 113, 64), each at three saturations.
constexpr uint8_t circle_levels[hue_circle_count][5] = {
    {0, 64, 125, 190, 255},   {125, 157, 190, 222, 255}, {182, 198, 218, 234, 255},
    {0, 28, 56, 85, 113},     {56, 68, 85, 97, 113},     {80, 89, 97, 105, 113},
    {0, 16, 32, 48, 64},      {32, 40, 48, 56, 64},      {44, 48, 52, 60, 64},
};

// The level (0..4) of red, green and blue of each colour of a circle. The
// colours run from blue through magenta, red, yellow, green and cyan, one
// channel stepping at a time, so the circle closes on blue again.
constexpr uint8_t circle_pattern[hue_circle_size][3] = {
    {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
    {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
    {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
};

constexpr std::array<uint8_t, 768> build_default_colour_table()
{
    std::array<uint8_t, 768> table{};
    auto put = [&table](int32_t index, uint8_t r, uint8_t g, uint8_t b) {
        table[3 * index] = r;
        table[3 * index + 1] = g;
        table[3 * index + 2] = b;
    };
    for (int32_t i = 0; i < hue_circle_first; ++i)
        put(i, low_band[i][0], low_band[i][1], low_band[i][2]);
    for (int32_t circle = 0; circle < hue_circle_count; ++circle) {
        const uint8_t *levels = circle_levels[circle];
        for (int32_t k = 0; k < hue_circle_size; ++k) {
            const uint8_t *pattern = circle_pattern[k];
            put(hue_circle_first + hue_circle_size * circle + k, levels[pattern[0]], levels[pattern[1]],
                levels[pattern[2]]);
        }
    }
    for (int32_t i = high_band_first; i < 256; ++i) {
        const rgb_triple &c = high_band[i - high_band_first];
        put(i, c[0], c[1], c[2]);
    }
    return table;
}

// Copies entries first..first+count-1 of the built-in colours into the
// logical palette, each marked PC_RESERVED so that it can be animated later.
void fill_from_default_table(int32_t first, int32_t count)
{
    for (int32_t i = first; i < first + count; ++i) {
        pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        entry.peRed = default_colour_table[3 * i];
        entry.peGreen = default_colour_table[3 * i + 1];
        entry.peBlue = default_colour_table[3 * i + 2];
        entry.peFlags = pm::platform::pc_reserved;
    }
}

// Mirrors logical palette entries first..first+count-1 into the colour table,
// blue first.
void mirror_into_colour_table(int32_t first, int32_t count)
{
    for (int32_t i = first; i < first + count; ++i) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        pm_state.colour_table[i] = pm_rgbquad{entry.peBlue, entry.peGreen, entry.peRed, 0};
    }
}

// Reads the display's reserved colours into the logical palette, keeping the
// flags the display reports: at 8 bits the ten colours at each end stay where
// they are; a 16-colour display's upper eight colours (system entries 8..15)
// go to the top eight entries, so both ends of the palette stay fixed.
void read_system_colours(int32_t depth)
{
    pm_paletteentry *entries = pm_state.logical_palette.palPalEntry;
    pm_hdc screen = pm::platform::screen_dc_get();
    if (depth == 8) {
        pm::platform::system_palette_entries(screen, 0, 10, entries);
        pm::platform::system_palette_entries(screen, 246, 10, entries + 246);
    } else {
        pm::platform::system_palette_entries(screen, 0, 8, entries);
        pm::platform::system_palette_entries(screen, 8, 8, entries + 248);
    }
    pm::platform::screen_dc_release(screen);
}

// Sets pixel_lookup entries first..first+count-1 from RGB triples, in the form
// of the active depth; an 8-bit pixel is its index and needs no entry.
void update_pixel_lookup(int32_t first, int32_t count, const uint8_t *rgb)
{
    if (pm_state.active_depth == 16) {
        for (int32_t n = 0; n < count; ++n, rgb += 3)
            set_lookup16(first + n, rgb565(rgb[0], rgb[1], rgb[2]));
    } else if (pm_state.active_depth >= 24) {
        for (int32_t n = 0; n < count; ++n, rgb += 3)
            set_lookup32(first + n, rgb[0], rgb[1], rgb[2]);
    }
}

// A run of entries that lies wholly inside the 256-entry palette. Written so
// that no sum can overflow.
bool run_inside_palette(int32_t first, int32_t count)
{
    return first >= 0 && count >= 0 && first <= 256 && count <= 256 - first;
}

} // namespace

constexpr std::array<uint8_t, 768> default_colour_table = build_default_colour_table();

} // namespace pm

using namespace pm;

// Fills the logical palette from the built-in colours around the display's
// reserved colours, rebuilds the colour table and returns a new palette object
// (null when the platform cannot make one). pixel_lookup is left alone.
pm_hpalette pm_create_default_palette(void)
{
    const int32_t depth = pm_display_depth();
    if (depth == 8) {
        read_system_colours(depth);
        fill_from_default_table(10, 236);
    } else if (depth > 8) {
        // A true-colour display reserves nothing.
        fill_from_default_table(0, 256);
    } else {
        read_system_colours(depth);
        fill_from_default_table(8, 240);
    }
    mirror_into_colour_table(0, 256);
    return pm::platform::palette_create(&pm_state.logical_palette);
}

// Deletes a palette object the caller owns. 0; -1 for a null palette.
int32_t pm_delete_palette(pm_hpalette palette)
{
    if (palette == nullptr)
        return -1;
    pm::platform::object_delete(palette);
    return 0;
}

// Selects palette into window_dc as a foreground palette and realizes it;
// remembers what the context held before the very first realization, so that
// shut-down can put it back. Always 0.
int32_t pm_realize_palette(pm_hpalette palette)
{
    pm_state.palette_handle = palette;
    pm_hpalette previous = pm::platform::palette_select(pm_state.window_dc, palette, 0);
    pm::platform::palette_realize(pm_state.window_dc);
    if (pm_state.first_previous_palette == nullptr)
        pm_state.first_previous_palette = previous;
    return 0;
}

// Sets count entries from first on from RGB triples and brings the colour
// table, the active 8-bit buffer's colour table, the realized palette and the
// pixel lookup table into step. Refuses (0, nothing changed, nothing called)
// when no buffer is active, when count is 0, when the run does not lie inside
// 0..255, and when rgb is null. Always 0.
int32_t pm_set_palette_entries(int32_t first, int32_t count, const uint8_t *rgb)
{
    if (pm_state.active_index == -1 || count == 0)
        return 0;
    if (!run_inside_palette(first, count) || rgb == nullptr)
        return 0;

    pm_paletteentry *entries = pm_state.logical_palette.palPalEntry;
    for (int32_t n = 0; n < count; ++n)
        entries[first + n] = pm_paletteentry{rgb[3 * n], rgb[3 * n + 1], rgb[3 * n + 2], pm::platform::pc_reserved};
    mirror_into_colour_table(first, count);

    // Only 8-bit buffers have a colour table; in palette index mode theirs
    // holds indices into the selected palette and must stay as it is.
    if (pm_state.active_depth == 8 && pm_state.palette_index_mode == 0)
        std::memcpy(static_cast<uint8_t *>(pm_state.active_header) + sizeof(pm_bitmapinfoheader),
                    pm_state.colour_table, sizeof pm_state.colour_table);

    // The realized object's entries were created PC_RESERVED, so animating
    // changes them (and a palette display's screen colours) without a new
    // realization. Before the first realization the handle is null and the
    // call has no effect.
    pm::platform::palette_animate(pm_state.palette_handle, static_cast<uint32_t>(first), static_cast<uint32_t>(count),
                              entries + first);

    update_pixel_lookup(first, count, rgb);
    return 0;
}
