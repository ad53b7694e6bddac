// Colour reduction: fits the colours that the active 8-bit buffer uses into a
// run of palette entries. Used colours are counted, the closest pairs merged
// until the run can hold the rest, the survivors packed to the start of the
// run in the caller's RGB array and every pixel renumbered to match.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "graphics/internal.h"
#include <pixmora/pixmora.h>

namespace {

// Larger than any squared distance of two 8-bit colours (at most 3 * 255^2).
constexpr uint32_t no_distance = 0xFFFFFFFFu;

// The rows of the region the reduction works on, in memory order.
struct pixel_rows {
    uint8_t *first = nullptr; // leftmost pixel of the lowest row in memory
    std::ptrdiff_t stride = 0;
    int32_t width = 0; // pixels per row
    int32_t count = 0; // rows
};

// The active clip rectangle, cut to the buffer so that a damaged clip
// rectangle can never lead the pixel passes outside the pixel memory.
pixel_rows clip_region()
{
    const pm_state_record &s = pm_state;
    int32_t min_x = std::max(s.clip_min_x, 0);
    int32_t max_x = std::min(s.clip_max_x, std::min(s.active_width, s.active_stride) - 1);
    int32_t min_y = std::max(s.clip_min_y, 0);
    int32_t max_y = std::min(s.clip_max_y, s.active_max_y);
    if (s.active_bits == nullptr || min_x > max_x || min_y > max_y)
        return {};
    // Rows are stored bottom-up: the region's bottom row max_y comes first.
    uint8_t *first = pm::pixel_address(s.active_bits, s.active_max_y, s.active_stride, min_x, max_y, 1);
    return {first, s.active_stride, max_x - min_x + 1, max_y - min_y + 1};
}

void count_pixels(const pixel_rows &rows, uint32_t *histogram)
{
    const uint8_t *row = rows.first;
    for (int32_t r = 0; r < rows.count; ++r, row += rows.stride)
        for (int32_t x = 0; x < rows.width; ++x)
            ++histogram[row[x]];
}

void renumber_pixels(const pixel_rows &rows, const uint8_t *new_index)
{
    uint8_t *row = rows.first;
    for (int32_t r = 0; r < rows.count; ++r, row += rows.stride)
        for (int32_t x = 0; x < rows.width; ++x)
            row[x] = new_index[row[x]];
}

// The colours still in use, in ascending order of their index, with their
// components widened once so that the pair search does no byte loads.
struct used_colours {
    int32_t count = 0;
    uint8_t index[256];
    int32_t red[256];
    int32_t green[256];
    int32_t blue[256];

    used_colours(const uint32_t *histogram, const uint8_t *rgb)
    {
        for (int32_t k = 0; k < 256; ++k) {
            if (histogram[k] == 0)
                continue;
            index[count] = static_cast<uint8_t>(k);
            red[count] = rgb[3 * k];
            green[count] = rgb[3 * k + 1];
            blue[count] = rgb[3 * k + 2];
            ++count;
        }
    }

    void remove(uint8_t colour)
    {
        int32_t at = static_cast<int32_t>(std::find(index, index + count, colour) - index);
        auto tail = static_cast<std::size_t>(count - at - 1);
        std::memmove(index + at, index + at + 1, tail * sizeof index[0]);
        std::memmove(red + at, red + at + 1, tail * sizeof red[0]);
        std::memmove(green + at, green + at + 1, tail * sizeof green[0]);
        std::memmove(blue + at, blue + at + 1, tail * sizeof blue[0]);
        --count;
    }
};

struct colour_pair {
    int32_t low;  // i, the lower index
    int32_t high; // j, the higher index
};

// The closest pair of used colours by squared RGB distance, pairs visited
// with i ascending and, for each i, j ascending. An equally close pair takes
// over only when the count of its j is below both counts of the pair held.
colour_pair closest_pair(const used_colours &used, const uint32_t *histogram)
{
    uint32_t best = no_distance;
    colour_pair pair{0, 0};
    uint32_t pair_min_count = 0;
    for (int32_t a = 0; a < used.count; ++a) {
        const int32_t r = used.red[a], g = used.green[a], b = used.blue[a];
        for (int32_t c = a + 1; c < used.count; ++c) {
            // A partial sum already beyond the best cannot win nor tie.
            auto distance = static_cast<uint32_t>((r - used.red[c]) * (r - used.red[c]));
            if (distance > best)
                continue;
            distance += static_cast<uint32_t>((g - used.green[c]) * (g - used.green[c]));
            if (distance > best)
                continue;
            distance += static_cast<uint32_t>((b - used.blue[c]) * (b - used.blue[c]));
            if (distance > best)
                continue;
            const uint32_t high_count = histogram[used.index[c]];
            if (distance == best && high_count >= pair_min_count)
                continue;
            best = distance;
            pair = {used.index[a], used.index[c]};
            pair_min_count = std::min(histogram[used.index[a]], high_count);
        }
    }
    return pair;
}

// Merges the pair's colour with the smaller count (the lower index on equal
// counts) into the other; the survivor keeps its own colour. Returns the
// index merged away.
uint8_t merge_pair(colour_pair pair, uint32_t *histogram, uint8_t *map)
{
    const bool high_goes = histogram[pair.high] < histogram[pair.low];
    const auto victim = static_cast<uint8_t>(high_goes ? pair.high : pair.low);
    const auto survivor = static_cast<uint8_t>(high_goes ? pair.low : pair.high);
    for (int32_t k = 0; k < 256; ++k)
        if (map[k] == victim)
            map[k] = survivor;
    histogram[survivor] += histogram[victim];
    histogram[victim] = 0;
    return victim;
}

// Packs the used colours to the front of rgb in ascending order of their old
// index and gives every old index its new one.
void pack_survivors(const uint32_t *histogram, uint8_t *map, uint8_t *rgb)
{
    int32_t n = 0;
    for (int32_t k = 0; k < 256; ++k) {
        if (histogram[k] == 0)
            continue;
        map[k] = static_cast<uint8_t>(n);
        // n never exceeds k, so nothing still to be read is overwritten.
        std::memmove(rgb + 3 * n, rgb + 3 * k, 3);
        ++n;
    }
    // A merged-away index points at its survivor, which now holds its new
    // index; an index never used keeps its own number, which no pixel uses.
    for (int32_t k = 0; k < 256; ++k)
        if (histogram[k] == 0)
            map[k] = map[map[k]];
}

// Moves the run's count entries from the front of rgb to first and blacks
// out everything outside the run.
void move_run(int32_t first, int32_t count, uint8_t *rgb)
{
    if (first == 0)
        return;
    std::memmove(rgb + 3 * first, rgb, static_cast<std::size_t>(3 * count));
    std::memset(rgb, 0, static_cast<std::size_t>(3 * first));
    std::memset(rgb + 3 * (first + count), 0, static_cast<std::size_t>(3 * (256 - first - count)));
}

bool run_is_valid(int32_t first, int32_t count)
{
    return count >= 1 && first >= 0 && count <= 256 - first;
}

} // namespace

// Fits the active 8-bit buffer's colours into count entries from first on.
// Does nothing without an active 8-bit buffer, for a null rgb, or for a run
// that is empty or leaves 0..255.
int32_t pm_reduce_colours(int32_t first, int32_t count, uint8_t *rgb)
{
    if (pm_state.active_index < 0 || pm_state.active_depth != 8 || rgb == nullptr || !run_is_valid(first, count))
        return 0;
    uint32_t *histogram = pm_state.colour_histogram;
    uint8_t *map = pm_state.colour_map;
    std::fill(histogram, histogram + 256, 0u);
    for (int32_t k = 0; k < 256; ++k)
        map[k] = static_cast<uint8_t>(k);

    const pixel_rows rows = clip_region();
    count_pixels(rows, histogram);

    used_colours used(histogram, rgb);
    while (used.count > count)
        used.remove(merge_pair(closest_pair(used, histogram), histogram, map));

    pack_survivors(histogram, map, rgb);
    move_run(first, count, rgb);

    uint8_t new_index[256];
    for (int32_t k = 0; k < 256; ++k)
        new_index[k] = static_cast<uint8_t>(map[k] + first);
    renumber_pixels(rows, new_index);
    return 0;
}
