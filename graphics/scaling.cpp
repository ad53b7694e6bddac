// Image scaling: nearest-pixel copies of indexed images at a new size.
//
// Each axis gets a step mask before any pixel moves. The mask has one bit per
// step along the longer of the axis's two lengths. On a growing axis a 1 bit
// advances to the next source pixel and a 0 bit repeats the last one; on a
// shrinking axis a 1 bit keeps the source pixel and a 0 bit drops it.
//
// The x mask is read once per call into the source column of each output
// column (a chunk of columns at a time, to keep the table small), so that
// every output row costs one table read per pixel whichever way x goes, with
// no multiplication, division or bit test per pixel. The y mask is walked
// row by row; repeated rows are copied as blocks.
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

// Output columns handled per pass over the rows. Source columns stay below
// max_mask_steps, so 16 bits hold them.
constexpr int32_t column_chunk = 2048;
static_assert(pm::max_mask_steps <= UINT16_MAX);

// Reads the x mask into source columns, continuing where the last call
// stopped. Growing, output column k shows the last source column taken by
// steps 0..k; shrinking, the output columns are the steps whose bits are 1.
class column_walk {
public:
    column_walk(const uint8_t *mask, bool grows, int32_t steps) : mask_(mask), grows_(grows), steps_(steps) {}

    void next(uint16_t *columns, int32_t count)
    {
        if (grows_) {
            for (int32_t k = 0; k < count; ++k, ++step_) {
                taken_ += step_taken(mask_, step_);
                columns[k] = static_cast<uint16_t>(taken_ - 1);
            }
            return;
        }
        // The mask has exactly new_width 1 bits among its steps; the bound on
        // the steps only keeps the walk finite.
        int32_t k = 0;
        for (; k < count && step_ < steps_; ++step_) {
            if (step_taken(mask_, step_))
                columns[k++] = static_cast<uint16_t>(step_);
        }
        for (; k < count; ++k)
            columns[k] = 0;
    }

private:
    const uint8_t *mask_;
    bool grows_;
    int32_t steps_;
    int32_t step_ = 0;
    int32_t taken_ = 0;
};

// count output pixels from one source row.
void make_row(const uint8_t *source_row, uint8_t *out, const uint16_t *columns, int32_t count)
{
    for (int32_t k = 0; k < count; ++k)
        out[k] = source_row[columns[k]];
}

// One chunk of output columns, starting at out, over every output row.
struct column_pass {
    const uint8_t *source;
    int32_t width;         // source row length
    int32_t height;        // source rows
    uint8_t *out;          // first output column of the chunk in output row 0
    int32_t new_width;     // output row length
    int32_t new_height;    // output rows
    const uint16_t *columns;
    int32_t count;         // output columns in the chunk
    const uint8_t *y_mask;
};

// Growing y axis: a 1 bit takes the next source row, a 0 bit repeats the
// previous output row, copied as a block rather than computed again.
void rows_growing(const column_pass &pass)
{
    const uint8_t *source_row = pass.source;
    uint8_t *out = pass.out;
    const auto out_stride = static_cast<std::ptrdiff_t>(pass.new_width);
    const auto count = static_cast<std::size_t>(pass.count);
    for (int32_t j = 0; j < pass.new_height; ++j, out += out_stride) {
        if (step_taken(pass.y_mask, j)) {
            make_row(source_row, out, pass.columns, pass.count);
            source_row += pass.width;
        } else {
            std::memcpy(out, out - out_stride, count);
        }
    }
}

// Shrinking y axis: a 1 bit keeps the source row, a 0 bit skips it.
void rows_shrinking(const column_pass &pass)
{
    const uint8_t *source_row = pass.source;
    uint8_t *out = pass.out;
    for (int32_t i = 0; i < pass.height; ++i, source_row += pass.width) {
        if (step_taken(pass.y_mask, i)) {
            make_row(source_row, out, pass.columns, pass.count);
            out += pass.new_width;
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

    column_walk walk(pm_state.scratch_area, x_grows, x_steps);
    uint16_t columns[column_chunk];
    for (int32_t first = 0; first < new_width; first += column_chunk) {
        const int32_t count = new_width - first < column_chunk ? new_width - first : column_chunk;
        walk.next(columns, count);
        const column_pass pass{source, width, height, destination + first, new_width, new_height, columns, count,
                               pm_state.y_step_mask};
        if (y_grows)
            rows_growing(pass);
        else
            rows_shrinking(pass);
    }
    return 0;
}
