// Image scaling: nearest-pixel copies of indexed images at a new size.
//
// Each axis gets a step mask before any pixel moves. The mask has one bit per
// step along the longer of the axis's two lengths. On a growing axis a 1 bit
// advances to the next source pixel and a 0 bit repeats the last one; on a
// shrinking axis a 1 bit keeps the source pixel and a 0 bit drops it.
//
// For S pixels on the shorter side and L on the longer, step i takes a new
// pixel when ceil((i + 1) S / L) passes ceil(i S / L). The 1 bits therefore
// lie at floor(j L / S) for j = 0 .. S - 1 and the 0 bits at ceil(k L / Z) - 1
// for k = 1 .. Z, where Z = L - S. Equivalently, step i takes a new pixel
// when (i S + L - 1) mod L is at least L - S. The mask is a kernel
// (graphics/kernels/kernels.h): the AVX2 one keeps that remainder for 32 steps at
// once in vector lanes where L fits 15 bits, so a mask costs a few
// instructions per 32 steps and no division. The scalar reference here
// builds it a 64-bit word at a time, each word starting as whichever bit is
// more common and having the rarer bits in it flipped, so that its cost
// follows the shorter length, not the step count.
//
// The pixels follow from the same arithmetic: output position k of an axis
// from n to m pixels shows source position floor((k n + n - 1) / m) when
// growing and floor(k n / m) when shrinking. Every walk along an axis keeps
// that quotient and its remainder and advances both by adding and comparing,
// so a walk costs one division. Output columns are turned into a table once
// per call (a chunk of columns at a time, to keep it small). Rows that repeat
// the one above are copied as blocks. Where the kernel table has byte
// shuffles, blocks of 8 or 16 output columns whose source columns lie within
// 32 bytes are planned here and gathered with one or two shuffles each.
#include "graphics/scaling.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#include "graphics/internal.h"
#include "graphics/kernels/kernels.h"

namespace {

// floor((k * step + offset) / divisor) for k = 0, 1, 2, ... as a quotient and
// a remainder that each step advances by adding and comparing, so that a
// walk costs one division however many steps it takes (step >= 0, 0 <=
// offset < divisor).
class quotient_walk {
public:
    quotient_walk(int32_t step, int32_t divisor, int32_t offset)
        : whole_(step / divisor), part_(step % divisor), divisor_(divisor), remainder_(offset)
    {
    }
    int64_t next()
    {
        const int64_t current = quotient_;
        quotient_ += whole_;
        remainder_ += part_;
        if (remainder_ >= divisor_) {
            remainder_ -= divisor_;
            ++quotient_;
        }
        return current;
    }

private:
    int64_t whole_;
    int64_t part_;
    int64_t divisor_;
    int64_t quotient_ = 0;
    int64_t remainder_;
};

} // namespace

void pm::build_step_mask(int32_t count, int32_t length_a, int32_t length_b, uint8_t *mask)
{
    const int32_t a = length_a > 0 ? length_a : 0;
    const int32_t b = length_b > 0 ? length_b : 0;
    const int32_t shorter = a < b ? a : b;
    const int32_t longer = a < b ? b : a;
    const int64_t bytes = pm::step_mask_bytes(count);
    if (count < 2 || shorter == 0) {
        std::memset(mask, 0, static_cast<std::size_t>(bytes));
        mask[0] = 0x80; // step 0 always takes the first pixel
        return;
    }
    pm::kernels().step_mask(count, shorter, longer, mask);
}

void pm::step_mask_scalar(int32_t count, int32_t shorter, int32_t longer, uint8_t *mask)
{
    const int64_t bytes = pm::step_mask_bytes(count);
    // The mask is built a 64-bit word at a time, step 0 of a word in its top
    // bit, each word starting as whichever bit is more common. The rarer
    // bits, in order, are the ones at floor(k * longer / rare) (k from 0),
    // or the zeros at ceil(k * longer / rare) - 1 = floor((k * longer + rare
    // - 1) / rare) - 1 (k from 1); equal lengths have none.
    const bool ones_rarer = 2 * shorter <= longer;
    const int32_t rare = ones_rarer ? shorter : longer - shorter;
    const uint64_t common = ones_rarer ? 0 : ~uint64_t{0};
    constexpr uint64_t top = uint64_t{1} << 63;
    const int64_t shift = ones_rarer ? 0 : 1;
    quotient_walk rare_steps(longer, rare > 0 ? rare : 1, ones_rarer || rare == 0 ? 0 : rare - 1);
    if (!ones_rarer)
        rare_steps.next(); // k = 0 is no step
    int64_t step = rare > 0 ? rare_steps.next() - shift : count; // the next rarer bit
    for (int64_t i = 0; 8 * i < bytes; ++i) {
        uint64_t word = common;
        for (; step < count && step < 64 * (i + 1); step = rare_steps.next() - shift)
            word ^= top >> step % 64;
        // Bits past the last step are 0.
        if (64 * (i + 1) > count)
            word = 64 * i >= count ? 0 : word & ~(~uint64_t{0} >> count % 64);
        uint8_t high_first[8];
        for (int32_t j = 0; j < 8; ++j)
            high_first[j] = static_cast<uint8_t>(word >> (56 - 8 * j));
        std::memcpy(mask + 8 * i, high_first, static_cast<std::size_t>(std::min<int64_t>(8, bytes - 8 * i)));
    }
}

namespace {

// Output columns handled per pass over the rows. Source columns stay below
// max_mask_steps, so 16 bits hold them.
constexpr int32_t column_chunk = pm::scale_column_chunk;
static_assert(pm::max_mask_steps <= UINT16_MAX);

// Source positions of an axis from length to new_length pixels, one output
// position after another: floor((k * length + offset) / new_length), where
// offset is length - 1 when growing and 0 when shrinking.
class axis_walk {
public:
    axis_walk(int32_t length, int32_t new_length)
        : walk_(length, new_length, new_length >= length ? length - 1 : 0)
    {
    }
    int32_t next() { return static_cast<int32_t>(walk_.next()); }

private:
    quotient_walk walk_;
};

using pm::shuffle_plan;

// How one chunk of output columns is made from a source row.
struct row_plan {
    const uint16_t *columns;
    int32_t count;                          // output columns in the chunk
    bool copy = false;                      // the columns are a run of the source row
    const shuffle_plan *shuffles = nullptr; // blocks made by shuffles, if any
    decltype(pm::graphics_kernels::shuffle_blocks) shuffle_blocks = nullptr; // and their kernel
};

// Four output bytes in memory order.
void store_four(uint8_t *out, uint32_t four)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &four, sizeof four);
    } else {
        for (int32_t i = 0; i < 4; ++i)
            out[i] = static_cast<uint8_t>(four >> (8 * i));
    }
}

// Output columns from..to of Rows rows at once, four bytes to a store: each
// column's position is read once for all the rows.
template <int32_t Rows>
void gather(const uint8_t *const *source_rows, uint8_t *const *outs, const uint16_t *columns, int32_t from,
            int32_t to)
{
    std::array<const uint8_t *, Rows> in;
    std::array<uint8_t *, Rows> out;
    std::copy_n(source_rows, Rows, in.begin());
    std::copy_n(outs, Rows, out.begin());
    int32_t k = from;
    for (; k + 4 <= to; k += 4) {
        std::array<uint32_t, Rows> four{};
        for (int32_t i = 0; i < 4; ++i) {
            const uint16_t column = columns[k + i];
            for (int32_t r = 0; r < Rows; ++r)
                four[r] |= uint32_t{in[r][column]} << (8 * i);
        }
        for (int32_t r = 0; r < Rows; ++r)
            store_four(out[r] + k, four[r]);
    }
    for (; k < to; ++k) {
        for (int32_t r = 0; r < Rows; ++r)
            out[r][k] = in[r][columns[k]];
    }
}

// The widest block whose source columns lie within 32 bytes everywhere in the
// chunk, and the leading blocks whose loads stay inside a row of width bytes.
// False when no block fits.
bool plan_shuffles(shuffle_plan &plan, const uint16_t *columns, int32_t count, int32_t width)
{
    if (count < 8)
        return false;
    for (const int32_t block : {16, 8}) {
        int32_t span = 0;
        for (int32_t k = 0; k + block <= count; k += block)
            span = std::max(span, columns[k + block - 1] - columns[k] + 1);
        if (span == 0 || span > 32)
            continue;
        plan.block = block;
        plan.two_loads = span > 16;
        const int32_t reach = plan.two_loads ? 32 : 16;
        for (int32_t k = 0; k + block <= count && columns[k] + reach <= width; k += block) {
            const int32_t n = plan.blocks++;
            plan.base[n] = columns[k];
            std::memset(plan.low[n], 0x80, sizeof plan.low[n]); // 0x80 selects a zero byte
            std::memset(plan.high[n], 0x80, sizeof plan.high[n]);
            for (int32_t i = 0; i < block; ++i) {
                const int32_t offset = columns[k + i] - plan.base[n];
                if (offset < 16)
                    plan.low[n][i] = static_cast<uint8_t>(offset);
                else
                    plan.high[n][i] = static_cast<uint8_t>(offset - 16);
            }
        }
        return true;
    }
    return false;
}

// A row that repeats the one above. Out of line, so that the copy is left
// to the library's memcpy: inlined, GCC may make it `rep movsq`, which is
// slow at these lengths.
[[gnu::noinline]] void copy_row(uint8_t *to, const uint8_t *from, std::size_t count)
{
    std::memcpy(to, from, count);
}

// Distinct source rows made into output rows together, so that a gather
// reads each column's position once for all of them.
constexpr int32_t row_batch = pm::scale_row_batch;

// rows (at most row_batch) output rows of the chunk from their source rows.
void make_rows(const uint8_t *const *source_rows, uint8_t *const *outs, int32_t rows, const row_plan &plan)
{
    if (plan.copy) {
        for (int32_t r = 0; r < rows; ++r)
            std::memcpy(outs[r], source_rows[r] + plan.columns[0], static_cast<std::size_t>(plan.count));
    } else if (plan.shuffles != nullptr) {
        // The shuffled blocks of every row, then the columns after them.
        const int32_t from = plan.shuffles->blocks * plan.shuffles->block;
        plan.shuffle_blocks(source_rows, outs, rows, *plan.shuffles);
        if (rows == row_batch)
            gather<row_batch>(source_rows, outs, plan.columns, from, plan.count);
        else
            for (int32_t r = 0; r < rows; ++r)
                gather<1>(source_rows + r, outs + r, plan.columns, from, plan.count);
    } else if (rows == row_batch) {
        gather<row_batch>(source_rows, outs, plan.columns, 0, plan.count);
    } else {
        for (int32_t r = 0; r < rows; ++r)
            gather<1>(source_rows + r, outs + r, plan.columns, 0, plan.count);
    }
}

// One chunk of output columns, starting at out, over every output row. A row
// that shows the same source row as the one above is a copy of it; the rows
// between such copies are made row_batch at a time.
void scale_chunk(const uint8_t *source, int32_t width, int32_t height, uint8_t *out, int32_t new_width,
                 int32_t new_height, const row_plan &plan)
{
    const auto out_stride = static_cast<std::ptrdiff_t>(new_width);
    const auto count = static_cast<std::size_t>(plan.count);
    const uint8_t *batch_sources[row_batch];
    uint8_t *batch_outs[row_batch];
    int32_t waiting = 0;
    axis_walk rows(height, new_height);
    int32_t previous = -1;
    for (int32_t j = 0; j < new_height; ++j, out += out_stride) {
        const int32_t row = rows.next();
        if (row == previous) {
            make_rows(batch_sources, batch_outs, waiting, plan);
            waiting = 0;
            copy_row(out, out - out_stride, count);
            continue;
        }
        batch_sources[waiting] = source + static_cast<std::ptrdiff_t>(row) * width;
        batch_outs[waiting] = out;
        if (++waiting == row_batch) {
            make_rows(batch_sources, batch_outs, waiting, plan);
            waiting = 0;
        }
        previous = row;
    }
    make_rows(batch_sources, batch_outs, waiting, plan);
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

    const int32_t x_steps = new_width >= width ? new_width : width;
    const int32_t y_steps = new_height >= height ? new_height : height;
    static_assert(pm::step_mask_bytes(pm::max_mask_steps) <= PM_SCRATCH_SIZE);
    static_assert(sizeof pm_state.y_step_mask >= PM_SCRATCH_SIZE);
    pm::build_step_mask(x_steps, new_width, width, pm_state.scratch_area);
    pm::build_step_mask(y_steps, new_height, height, pm_state.y_step_mask);

    // Equal sizes are one copy; memmove, so that an image scaled onto
    // itself stays as it was.
    if (width == new_width && height == new_height) {
        std::memmove(destination, source, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        return 0;
    }
    // A block of 8 output columns spans more than 7 * width / new_width
    // source bytes, so when that passes 32 no block is worth planning.
    const bool shuffles = width != new_width && 7 * width <= 32 * new_width;
    const auto shuffle_kernel = pm::kernels().shuffle_blocks;
    axis_walk walk(width, new_width);
    uint16_t columns[column_chunk];
    for (int32_t first = 0; first < new_width; first += column_chunk) {
        const int32_t count = new_width - first < column_chunk ? new_width - first : column_chunk;
        for (int32_t k = 0; k < count; ++k)
            columns[k] = static_cast<uint16_t>(walk.next());
        row_plan plan{columns, count, width == new_width};
        shuffle_plan shuffled;
        plan.shuffle_blocks = shuffle_kernel;
        if (shuffle_kernel != nullptr && shuffles && plan_shuffles(shuffled, columns, count, width))
            plan.shuffles = &shuffled;
        scale_chunk(source, width, height, destination + first, new_width, new_height, plan);
    }
    return 0;
}
