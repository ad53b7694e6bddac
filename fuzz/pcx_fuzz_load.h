// What the PCX fuzz target does with one input, shared with the regression
// test that replays the corpus and every past finding.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"

namespace pcx_fuzz {

constexpr int32_t buffer_width = 32;
constexpr int32_t buffer_height = 16;
constexpr int32_t depths[4] = {8, 16, 24, 32};

// Bytes of the header that the loader never reads, so the fuzzer can vary
// them freely: the load flags and the graphics cursor come from there.
constexpr size_t flags_offset = 64;    // Reserved
constexpr size_t cursor_x_offset = 126; // last two bytes of the filler
constexpr size_t cursor_y_offset = 127;

struct session {
    int32_t buffers[4] = {-1, -1, -1, -1}; // one per entry of depths
};

// Starts the library on the software display with the default palette and
// one buffer of each depth.
inline session start_session()
{
    soft::set_depth(32);
    pm_attach_dc(soft::window_create(buffer_width, buffer_height));
    pm_startup();
    pm_realize_palette(pm_create_default_palette());
    session made;
    for (int i = 0; i < 4; ++i) {
        pm_state.new_buffer_depth = depths[i];
        made.buffers[i] = pm_buffer_create(buffer_width, buffer_height);
    }
    return made;
}

// The load flags an input asks for; the memory source always.
inline int32_t flags_of(const uint8_t *data, size_t size)
{
    const int32_t chosen = size > flags_offset ? data[flags_offset] : 0;
    return pcx_from_memory | (chosen & (pcx_keep_palette | pcx_at_cursor | pcx_no_reduction));
}

// A cursor within a few buffer sizes of the buffer, negative ones included.
inline int32_t cursor_of(const uint8_t *data, size_t size, size_t offset)
{
    return size > offset ? static_cast<int8_t>(data[offset]) % 48 : 0;
}

// Loads the input into each buffer in turn; returns the results, one per
// depth, through results (may be null).
inline void load_at_every_depth(const session &s, const uint8_t *data, size_t size, int32_t *results = nullptr)
{
    const int32_t flags = flags_of(data, size);
    pm_move_cursor(cursor_of(data, size, cursor_x_offset), cursor_of(data, size, cursor_y_offset));
    for (int i = 0; i < 4; ++i) {
        pm_buffer_activate(s.buffers[i]);
        pm_set_input_block(data, static_cast<uint32_t>(size));
        const int32_t result = pm_load_pcx(nullptr, flags);
        if (results != nullptr)
            results[i] = result;
    }
    pm_buffer_deactivate();
    pm_set_input_block(pm_state.read_buffer, PM_READ_BUFFER_SIZE);
}

} // namespace pcx_fuzz
