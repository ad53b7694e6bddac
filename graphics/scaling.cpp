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
// for k = 1 .. Z, where Z = L - S. A mask is written a 64-bit word at a time,
// each word starting as whichever of the two is more common and having the
// rarer bits in it flipped, so that its cost follows the shorter length, not
// the step count.
//
// The pixels follow from the same arithmetic: output position k of an axis
// from n to m pixels shows source position floor((k n + n - 1) / m) when
// growing and floor(k n / m) when shrinking. Every walk along an axis keeps
// that quotient and its remainder and advances both by adding and comparing,
// so a walk costs one division. Output columns are turned into a table once
// per call (a chunk of columns at a time, to keep it small); on a shrinking
// axis they are also the 1 bits of the x mask, which is written as they are
// worked out. Rows that repeat the one above are copied as blocks. Where the
// processor has byte shuffles, blocks of 8 or 16 output columns whose source
// columns lie within 32 bytes are gathered with one or two shuffles each.
#include "graphics/scaling.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "graphics/internal.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define PM_SCALING_SHUFFLES 1
#include <immintrin.h>
#endif

namespace {

// floor((k * step + offset) / divisor) for k = 0, 1, 2, ... as a quotient and
// a remainder that each step advances by adding and comparing, so that a
// walk costs one division however many steps it takes (step >= 0, 0 <=
// offset < divisor).
class quotient_walk {
public:
    quotient_walk(int64_t step, int64_t divisor, int64_t offset)
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

// The first `bytes` (at most 8) bytes of word, high byte first: bit 63 is
// step 0 of the word, as 0x80 of its first byte.
void store_mask_word(uint8_t *mask, uint64_t word, int64_t bytes)
{
    if (bytes >= 8) {
        if constexpr (std::endian::native == std::endian::little) {
            word = word >> 32 | word << 32;
            word = (word & 0xFFFF0000FFFF0000u) >> 16 | (word & 0x0000FFFF0000FFFFu) << 16;
            word = (word & 0xFF00FF00FF00FF00u) >> 8 | (word & 0x00FF00FF00FF00FFu) << 8;
        }
        std::memcpy(mask, &word, sizeof word);
        return;
    }
    for (int64_t i = 0; i < bytes; ++i)
        mask[i] = static_cast<uint8_t>(word >> (56 - 8 * i));
}

// Writes a mask of count steps a 64-bit word at a time, each word stored
// once: every step holds `common` except the steps passed to flip, in
// increasing order, which hold the other bit. Bits past the last step are 0.
class mask_writer {
public:
    mask_writer(uint8_t *mask, int64_t count, bool common)
        : mask_(mask), count_(count), bytes_(pm::step_mask_bytes(static_cast<int32_t>(count))),
          common_(common ? ~uint64_t{0} : 0), word_(common_)
    {
    }
    void flip(int64_t step)
    {
        while (step >= first_ + 64)
            store();
        word_ ^= uint64_t{1} << (63 - (step - first_));
    }
    void finish()
    {
        while (first_ < 8 * bytes_)
            store();
    }

private:
    void store()
    {
        const int64_t steps_here = count_ - first_;
        if (steps_here <= 0)
            word_ = 0;
        else if (steps_here < 64)
            word_ &= ~(~uint64_t{0} >> steps_here);
        store_mask_word(mask_ + first_ / 8, word_, bytes_ - first_ / 8);
        word_ = common_;
        first_ += 64;
    }

    uint8_t *mask_;
    int64_t count_;
    int64_t bytes_;
    uint64_t common_;
    uint64_t word_;
    int64_t first_ = 0; // step of the word's top bit
};

} // namespace

void pm_build_step_mask(int32_t count, int32_t length_a, int32_t length_b, uint8_t *mask)
{
    const int64_t a = length_a > 0 ? length_a : 0;
    const int64_t b = length_b > 0 ? length_b : 0;
    const int64_t shorter = a < b ? a : b;
    const int64_t longer = a < b ? b : a;
    const int64_t bytes = pm::step_mask_bytes(count);
    if (count < 2 || shorter == 0) {
        std::memset(mask, 0, static_cast<std::size_t>(bytes));
        mask[0] = 0x80; // step 0 always takes the first pixel
        return;
    }

    // The rarer bits, in order: the ones at floor(k * longer / rare) (k
    // from 0), or the zeros at ceil(k * longer / rare) - 1 = floor((k *
    // longer + rare - 1) / rare) - 1 (k from 1). Equal lengths have none.
    const bool ones_rarer = 2 * shorter <= longer;
    const int64_t rare = ones_rarer ? shorter : longer - shorter;
    mask_writer writer(mask, count, !ones_rarer);
    if (rare > 0) {
        quotient_walk rare_steps(longer, rare, ones_rarer ? 0 : rare - 1);
        const int64_t shift = ones_rarer ? 0 : 1;
        if (!ones_rarer)
            rare_steps.next(); // k = 0 is no step
        for (int64_t step = rare_steps.next() - shift; step < count; step = rare_steps.next() - shift)
            writer.flip(step);
    }
    writer.finish();
}

namespace {

// Output columns handled per pass over the rows. Source columns stay below
// max_mask_steps, so 16 bits hold them.
constexpr int32_t column_chunk = 2048;
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

// How one chunk of output columns is made from a source row: full blocks of
// `block` columns by shuffles, the rest one byte at a time.
struct row_plan {
    const uint16_t *columns;
    int32_t count;        // output columns in the chunk
    int32_t block = 0;    // 16 or 8 columns per shuffled block; 0 for none
    bool two_loads = false;
    int32_t blocks = 0;   // leading blocks made by shuffles
#ifdef PM_SCALING_SHUFFLES
    uint16_t base[column_chunk / 8];   // first source column of each block
    __m128i low[column_chunk / 8];     // shuffle of the 16 bytes at base
    __m128i high[column_chunk / 8];    // shuffle of the 16 bytes after them
#endif
};

// Four output bytes to a store.
void gather(const uint8_t *source_row, uint8_t *out, const uint16_t *columns, int32_t from, int32_t to)
{
    int32_t k = from;
    for (; k + 4 <= to; k += 4) {
        const uint32_t four = source_row[columns[k]] | uint32_t{source_row[columns[k + 1]]} << 8 |
                              uint32_t{source_row[columns[k + 2]]} << 16 | uint32_t{source_row[columns[k + 3]]} << 24;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out + k, &four, sizeof four);
        } else {
            for (int32_t i = 0; i < 4; ++i)
                out[k + i] = static_cast<uint8_t>(four >> (8 * i));
        }
    }
    for (; k < to; ++k)
        out[k] = source_row[columns[k]];
}

#ifdef PM_SCALING_SHUFFLES

bool has_shuffles()
{
    static const bool available = __builtin_cpu_supports("ssse3");
    return available;
}

// The widest block whose source columns lie within 32 bytes everywhere in the
// chunk, and the leading blocks whose loads stay inside a row of width bytes.
void plan_shuffles(row_plan &plan, int32_t width)
{
    if (plan.count < 8 || !has_shuffles())
        return;
    for (const int32_t block : {16, 8}) {
        int32_t span = 0;
        for (int32_t k = 0; k + block <= plan.count; k += block)
            span = std::max(span, plan.columns[k + block - 1] - plan.columns[k] + 1);
        if (span == 0 || span > 32)
            continue;
        plan.block = block;
        plan.two_loads = span > 16;
        const int32_t reach = plan.two_loads ? 32 : 16;
        for (int32_t k = 0; k + block <= plan.count && plan.columns[k] + reach <= width; k += block) {
            const int32_t n = plan.blocks++;
            plan.base[n] = plan.columns[k];
            alignas(16) uint8_t low[16], high[16];
            std::memset(low, 0x80, sizeof low); // 0x80 selects a zero byte
            std::memset(high, 0x80, sizeof high);
            for (int32_t i = 0; i < block; ++i) {
                const int32_t offset = plan.columns[k + i] - plan.base[n];
                if (offset < 16)
                    low[i] = static_cast<uint8_t>(offset);
                else
                    high[i] = static_cast<uint8_t>(offset - 16);
            }
            plan.low[n] = _mm_load_si128(reinterpret_cast<const __m128i *>(low));
            plan.high[n] = _mm_load_si128(reinterpret_cast<const __m128i *>(high));
        }
        return;
    }
}

template <int Block, bool TwoLoads>
__attribute__((target("ssse3"))) void shuffle_blocks(const uint8_t *source_row, uint8_t *out, const row_plan &plan)
{
    for (int32_t n = 0; n < plan.blocks; ++n, out += Block) {
        const uint8_t *in = source_row + plan.base[n];
        __m128i pixels = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)), plan.low[n]);
        if (TwoLoads)
            pixels = _mm_or_si128(pixels, _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16)),
                                                           plan.high[n]));
        if (Block == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), pixels);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out), pixels);
    }
}

// The chunk's output row from one source row.
void make_row(const uint8_t *source_row, uint8_t *out, const row_plan &plan)
{
    if (plan.block == 16 && plan.two_loads)
        shuffle_blocks<16, true>(source_row, out, plan);
    else if (plan.block == 16)
        shuffle_blocks<16, false>(source_row, out, plan);
    else if (plan.block == 8 && plan.two_loads)
        shuffle_blocks<8, true>(source_row, out, plan);
    else if (plan.block == 8)
        shuffle_blocks<8, false>(source_row, out, plan);
    gather(source_row, out, plan.columns, plan.blocks * plan.block, plan.count);
}

#else

void plan_shuffles(row_plan &, int32_t) {}

void make_row(const uint8_t *source_row, uint8_t *out, const row_plan &plan)
{
    gather(source_row, out, plan.columns, 0, plan.count);
}

#endif

// One chunk of output columns, starting at out, over every output row. A row
// that shows the same source row as the one above is a copy of it.
void scale_chunk(const uint8_t *source, int32_t width, int32_t height, uint8_t *out, int32_t new_width,
                 int32_t new_height, const row_plan &plan)
{
    const auto out_stride = static_cast<std::ptrdiff_t>(new_width);
    const auto count = static_cast<std::size_t>(plan.count);
    axis_walk rows(height, new_height);
    int32_t previous = -1;
    for (int32_t j = 0; j < new_height; ++j, out += out_stride) {
        const int32_t row = rows.next();
        if (row == previous) {
            std::memcpy(out, out - out_stride, count);
            continue;
        }
        const uint8_t *source_row = source + static_cast<std::ptrdiff_t>(row) * width;
        if (width == new_width)
            std::memcpy(out, source_row + plan.columns[0], count);
        else
            make_row(source_row, out, plan);
        previous = row;
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

    const int32_t x_steps = new_width >= width ? new_width : width;
    const int32_t y_steps = new_height >= height ? new_height : height;
    static_assert(pm::step_mask_bytes(pm::max_mask_steps) <= PM_SCRATCH_SIZE);
    static_assert(sizeof pm_state.y_step_mask >= PM_SCRATCH_SIZE);
    // A shrinking x mask has its 1 bits at the source columns shown, set
    // below as the columns are worked out.
    const bool x_shrinks = new_width < width;
    mask_writer x_mask(pm_state.scratch_area, x_steps, false);
    if (!x_shrinks)
        pm_build_step_mask(x_steps, new_width, width, pm_state.scratch_area);
    pm_build_step_mask(y_steps, new_height, height, pm_state.y_step_mask);

    // Equal sizes are one copy; memmove, so that an image scaled onto
    // itself stays as it was.
    if (width == new_width && height == new_height) {
        std::memmove(destination, source, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        return 0;
    }
    // A block of 8 output columns spans more than 7 * width / new_width
    // source bytes, so when that passes 32 no block is worth planning.
    const bool shuffles = width != new_width && 7 * width <= 32 * new_width;
    axis_walk walk(width, new_width);
    uint16_t columns[column_chunk];
    for (int32_t first = 0; first < new_width; first += column_chunk) {
        const int32_t count = new_width - first < column_chunk ? new_width - first : column_chunk;
        for (int32_t k = 0; k < count; ++k) {
            const int32_t column = walk.next();
            columns[k] = static_cast<uint16_t>(column);
            if (x_shrinks)
                x_mask.flip(column);
        }
        row_plan plan;
        plan.columns = columns;
        plan.count = count;
        if (shuffles)
            plan_shuffles(plan, width);
        scale_chunk(source, width, height, destination + first, new_width, new_height, plan);
    }
    if (x_shrinks)
        x_mask.finish();
    return 0;
}
