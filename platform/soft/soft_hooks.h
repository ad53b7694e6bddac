// What a test build of the software display attaches to it to watch and
// steer it: the calls it records, and the failures it injects. The display
// itself holds only a pointer to these hooks, null unless a test program
// links platform/soft/testing; the shipped library defines none of them.
#pragma once

#include <cstdint>

#include <pixmora/pixmora.h>

namespace pm::soft {

// The calls as the hooks see them.
struct stretch_call {
    pm_hdc dc;
    int32_t dst_x, dst_y, dst_width, dst_height;
    int32_t src_x, src_y, src_width, src_height;
    const void *bits;
    const void *header;
    int32_t usage;
    uint32_t rop;
};
struct palette_select_call {
    pm_hdc dc;
    pm_hpalette palette;
    pm_hpalette previous;
    int32_t background;
};
struct palette_animate_call {
    pm_hpalette palette;
    uint32_t first;
    uint32_t count;
};
struct dib_create_call {
    pm_hdc dc;
    int32_t usage;
    int32_t width, height, bit_count;
};

// Called by the display as each call happens; the answers of the bool ones
// decide whether the call may succeed.
class display_hooks {
public:
    virtual void display_reset() = 0;
    virtual void stretched(const stretch_call &call) = 0;
    virtual void palette_selected(const palette_select_call &call) = 0;
    virtual void palette_realized(pm_hdc dc) = 0;
    virtual void palette_animated(const palette_animate_call &call) = 0;
    virtual void keyboard_state_set() = 0;
    virtual void library_freed() = 0;
    virtual bool dib_section_may_be_created(const dib_create_call &call) = 0;
    virtual bool global_block_may_be_allocated() = 0;
    virtual bool library_may_be_loaded() = 0;
    // The file replacement's: whether a file without a name (O_TMPFILE) may
    // be made, as the file system allows; the random part of the next name
    // a save makes (true when given); what the check of a carried-over
    // owner, group and mode reads back; whether the new file's close may
    // succeed.
    virtual bool unnamed_file_may_be_made() = 0;
    virtual bool file_name_bits_given(uint64_t *bits) = 0;
    virtual void carried_over(uint32_t *owner, uint32_t *group, uint32_t *mode) = 0;
    virtual bool new_file_may_be_closed() = 0;

protected:
    ~display_hooks() = default;
};

} // namespace pm::soft
