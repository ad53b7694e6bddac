// Image scaling: nearest-pixel copies of indexed images at a new size.
//
// Each axis gets a step mask before any pixel moves. The mask has one bit per
// step along the longer of the axis's two lengths. On a growing axis a 1 bit
// advances to the next source pixel and a 0 bit repeats the last one; on a
// shrinking axis a 1 bit keeps the source pixel and a 0 bit drops it. The
// pixel walk then needs only a bit test per pixel: no multiplication or
// division, and the growing/shrinking choice is made once per call.
#include "graphics/scaling.h"

#include <cstddef>
#include <cstring>

#include "graphics/internal.h"

void pm_build_step_mask(int32_t count, int32_t length_a, int32_t length_b, uint8_t *mask)
{
    const int64_t a = length_a > 0 ? length_a : 0;
    const int64_t b = length_b > 0 ? length_b : 0;
    const int64_t shorter = a < b ? a : b;
    const int64_t longer = a < b ? b : a;

    // Step i takes a new pixel when ceil((i + 1) S / L) passes ceil(i S / L).
    // Kept as the running difference of (i + 1) S and the next multiple of L
    // that has not yet been passed, so nothing can overflow.
    int64_t ahead = shorter - longer;
    uint8_t byte = 0x80; // step 0 always takes the first pixel
    uint8_t bit = 0x40;
    for (int32_t step = 1; step < count; ++step) {
        ahead += shorter;
        if (ahead > 0) {
            ahead -= longer;
            byte = static_cast<uint8_t>(byte | bit);
        }
        bit = static_cast<uint8_t>(bit >> 1);
        if (bit == 0) {
            *mask++ = byte;
            byte = 0;
            bit = 0x80;
        }
    }
    *mask = byte;
}

namespace {

inline bool step_taken(const uint8_t *mask, int32_t step)
{
    return (mask[step >> 3] & (0x80u >> (step & 7))) != 0;
}

// What one mask byte means for its eight steps, so that rows are walked a
// byte (eight steps) at a time with fixed work and no branch on the bits.
struct mask_byte_table {
    uint8_t ones[256];        // steps of the byte that take a pixel
    int8_t growing[256][8];   // per step, the source pixel shown relative to
                              // the next one not yet taken (-1: the last taken)
    uint8_t shrinking[256][8]; // the steps that keep their pixel, in order; 0 after them
};

constexpr mask_byte_table make_mask_byte_table()
{
    mask_byte_table table{};
    for (int byte = 0; byte < 256; ++byte) {
        int ones = 0;
        for (int step = 0; step < 8; ++step) {
            if ((byte & (0x80 >> step)) != 0)
                table.shrinking[byte][ones++] = static_cast<uint8_t>(step);
            table.growing[byte][step] = static_cast<int8_t>(ones - 1);
        }
        table.ones[byte] = static_cast<uint8_t>(ones);
    }
    return table;
}

constexpr mask_byte_table mask_bytes = make_mask_byte_table();

// One output row from one source row on a growing x axis: new_width output
// pixels, each a repeat of the last source pixel taken unless its bit is 1.
// The mask has exactly width 1 bits among its first new_width steps, the
// first of them step 0, so the walk takes each source pixel exactly once and
// reads back only pixels already taken.
void grow_row(const uint8_t *source, uint8_t *out, int32_t width, int32_t new_width, const uint8_t *mask)
{
    static_cast<void>(width);
    const int32_t whole_bytes = new_width >> 3;
    for (int32_t b = 0; b < whole_bytes; ++b, out += 8) {
        const uint8_t bits = mask[b];
        const int8_t *shown = mask_bytes.growing[bits];
        for (int j = 0; j < 8; ++j)
            out[j] = source[shown[j]];
        source += mask_bytes.ones[bits];
    }
    for (int32_t k = whole_bytes << 3; k < new_width; ++k) {
        source += step_taken(mask, k);
        *out++ = source[-1];
    }
}

// One output row from one source row on a shrinking x axis: the source
// pixels whose bits are 1, new_width of them. Eight pixels are stored per
// mask byte while the row has room for them; the extra ones are overwritten
// by the next byte's.
void shrink_row(const uint8_t *source, uint8_t *out, int32_t width, int32_t new_width, const uint8_t *mask)
{
    const uint8_t *const out_end = out + new_width;
    const int32_t whole_bytes = width >> 3;
    for (int32_t b = 0; b < whole_bytes; ++b, source += 8) {
        const uint8_t bits = mask[b];
        const uint8_t *kept = mask_bytes.shrinking[bits];
        const int ones = mask_bytes.ones[bits];
        if (out_end - out >= 8) {
            for (int j = 0; j < 8; ++j)
                out[j] = source[kept[j]];
        } else {
            for (int j = 0; j < ones; ++j)
                out[j] = source[kept[j]];
        }
        out += ones;
    }
    for (int32_t i = whole_bytes << 3; i < width; ++i) {
        if (step_taken(mask, i))
            *out++ = source[i - (whole_bytes << 3)];
    }
}

using row_routine = void (*)(const uint8_t *source, uint8_t *out, int32_t width, int32_t new_width,
                             const uint8_t *mask);

struct scale_job {
    const uint8_t *source;
    uint8_t *destination;
    int32_t width, height, new_width, new_height;
    row_routine make_row;
    const uint8_t *x_mask;
    const uint8_t *y_mask;
};

// Growing y axis: a 0 bit repeats the previous output row, copied as a block
// rather than computed again.
void scale_rows_growing(const scale_job &job)
{
    const uint8_t *source_row = job.source;
    uint8_t *out = job.destination;
    const auto out_stride = static_cast<std::size_t>(job.new_width);
    for (int32_t j = 0; j < job.new_height; ++j, out += out_stride) {
        if (step_taken(job.y_mask, j)) {
            job.make_row(source_row, out, job.width, job.new_width, job.x_mask);
            source_row += job.width;
        } else {
            std::memcpy(out, out - out_stride, out_stride);
        }
    }
}

// Shrinking y axis: a 1 bit keeps the source row, a 0 bit skips it.
void scale_rows_shrinking(const scale_job &job)
{
    const uint8_t *source_row = job.source;
    uint8_t *out = job.destination;
    for (int32_t i = 0; i < job.height; ++i, source_row += job.width) {
        if (step_taken(job.y_mask, i)) {
            job.make_row(source_row, out, job.width, job.new_width, job.x_mask);
            out += job.new_width;
        }
    }
}

bool valid_axis(int32_t length, int32_t new_length)
{
    return length >= 1 && new_length >= 1 && length <= pm::max_mask_steps && new_length <= pm::max_mask_steps;
}

} // namespace

int32_t pm_scale_image(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                       int32_t new_width, int32_t new_height)
{
    if (source == nullptr || destination == nullptr || !valid_axis(width, new_width) ||
        !valid_axis(height, new_height))
        return 0;

    const bool x_grows = new_width >= width;
    const bool y_grows = new_height >= height;
    const int32_t x_steps = x_grows ? new_width : width;
    const int32_t y_steps = y_grows ? new_height : height;
    static_assert(pm::step_mask_bytes(pm::max_mask_steps) <= PM_SCRATCH_SIZE);
    static_assert(sizeof pm_state.y_step_mask >= PM_SCRATCH_SIZE);
    pm_build_step_mask(x_steps, new_width, width, pm_state.scratch_area);
    pm_build_step_mask(y_steps, new_height, height, pm_state.y_step_mask);

    const scale_job job{source,   destination, width, height, new_width, new_height,
                        x_grows ? grow_row : shrink_row, pm_state.scratch_area, pm_state.y_step_mask};
    if (y_grows)
        scale_rows_growing(job);
    else
        scale_rows_shrinking(job);
    return 0;
}
