#include "tools/make_pictures/drawing.h"

#include <algorithm>
#include <cmath>

namespace pictures {
namespace {

struct rgb {
    double r, g, b;
};

rgb mix(rgb a, rgb b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A colour along a ramp of key colours spread evenly over 0..1.
template <size_t N>
rgb ramp(const std::array<rgb, N> &keys, double t)
{
    t = std::clamp(t, 0.0, 1.0) * (N - 1);
    size_t i = std::min(static_cast<size_t>(t), N - 2);
    return mix(keys[i], keys[i + 1], t - static_cast<double>(i));
}

void put(palette &colours, int32_t index, rgb colour)
{
    auto channel = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    colours[3 * index] = channel(colour.r);
    colours[3 * index + 1] = channel(colour.g);
    colours[3 * index + 2] = channel(colour.b);
}

// Entries after the titles' fills.
constexpr int32_t outline_entry = title_first + 2 * title_levels;
constexpr int32_t shadow_entry = outline_entry + 1;
constexpr int32_t highlight_entry = outline_entry + 2;

const std::array<rgb, 4> sky_keys{{{22, 48, 120}, {70, 125, 210}, {160, 190, 240}, {250, 200, 170}}};
const std::array<rgb, 2> cloud_keys{{{255, 255, 255}, {240, 218, 228}}};
const std::array<rgb, 3> gold_keys{{{255, 248, 170}, {255, 200, 40}, {215, 105, 10}}};
const std::array<rgb, 3> warm_keys{{{255, 190, 170}, {240, 70, 60}, {150, 20, 90}}};

// A 4 x 4 ordered-dither threshold in 0..1, so that gradients of a few
// levels look smooth.
double dither_threshold(int32_t x, int32_t y)
{
    static constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return (bayer[y & 3][x & 3] + 0.5) / 16.0;
}

// A level 0..levels-1 for a value 0..1, dithered between neighbours.
int32_t dithered_level(double value, int32_t levels, int32_t x, int32_t y)
{
    double scaled = std::clamp(value, 0.0, 1.0) * (levels - 1);
    int32_t level = static_cast<int32_t>(scaled);
    if (scaled - level > dither_threshold(x, y))
        ++level;
    return std::min(level, levels - 1);
}

// Smooth value noise on an integer lattice, 0..1.
double lattice(int32_t x, int32_t y)
{
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + 0x5bd1e995u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<double>((h ^ (h >> 16)) & 0xffffu) / 65535.0;
}

double value_noise(double x, double y)
{
    int32_t xi = static_cast<int32_t>(std::floor(x));
    int32_t yi = static_cast<int32_t>(std::floor(y));
    double fx = x - xi;
    double fy = y - yi;
    double sx = fx * fx * (3 - 2 * fx);
    double sy = fy * fy * (3 - 2 * fy);
    double top = lattice(xi, yi) + (lattice(xi + 1, yi) - lattice(xi, yi)) * sx;
    double bottom = lattice(xi, yi + 1) + (lattice(xi + 1, yi + 1) - lattice(xi, yi + 1)) * sx;
    return top + (bottom - top) * sy;
}

// Several octaves of noise: large cloud shapes with frayed edges.
double cloud_noise(double x, double y)
{
    double sum = 0;
    double amplitude = 0.5;
    double total = 0;
    for (int octave = 0; octave < 5; ++octave) {
        sum += amplitude * value_noise(x, y);
        total += amplitude;
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / total;
}

double smoothstep(double edge0, double edge1, double v)
{
    double t = std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// How much cloud covers (x, y): clouds stretched wide, thickest in the
// middle band of the sky and thinning towards the top and the horizon.
double cloud_density(int32_t x, int32_t y)
{
    double n = cloud_noise(x / 90.0, y / 26.0);
    double band = smoothstep(10, 60, y) * (1 - smoothstep(130, 185, y));
    return smoothstep(0.48, 0.72, n) * band;
}

// Glyph rows of the built-in font, five columns each, bit 4 leftmost.
struct font_entry {
    char c;
    std::array<uint8_t, 7> rows;
};
constexpr font_entry font[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
};
constexpr std::array<uint8_t, 7> blank_glyph{};

constexpr int32_t glyph_columns = 5;
constexpr int32_t glyph_rows = 7;
constexpr int32_t scale_x = 5; // one font pixel is 5 x 4 picture pixels
constexpr int32_t scale_y = 4;
constexpr int32_t letter_gap = 3;

constexpr int32_t logo_width = 264;
constexpr int32_t logo_height = 40;

// Which pixels of a logo-sized area the text covers.
std::vector<uint8_t> text_mask(const std::string &text)
{
    std::vector<uint8_t> mask(static_cast<size_t>(logo_width) * logo_height, 0);
    int32_t count = static_cast<int32_t>(text.size());
    int32_t text_width = count * glyph_columns * scale_x + (count - 1) * letter_gap;
    int32_t left = (logo_width - text_width) / 2;
    int32_t top = (logo_height - glyph_rows * scale_y) / 2 - 1; // room for the shadow below
    for (int32_t i = 0; i < count; ++i) {
        const auto &rows = glyph(text[static_cast<size_t>(i)]);
        int32_t cell_left = left + i * (glyph_columns * scale_x + letter_gap);
        for (int32_t y = 0; y < glyph_rows * scale_y; ++y)
            for (int32_t x = 0; x < glyph_columns * scale_x; ++x) {
                int32_t px = cell_left + x;
                int32_t py = top + y;
                bool on = (rows[static_cast<size_t>(y / scale_y)] >> (glyph_columns - 1 - x / scale_x)) & 1;
                if (on && px >= 0 && px < logo_width && py >= 0 && py < logo_height)
                    mask[static_cast<size_t>(py) * logo_width + px] = 1;
            }
    }
    return mask;
}

bool covered(const std::vector<uint8_t> &mask, int32_t x, int32_t y)
{
    return x >= 0 && x < logo_width && y >= 0 && y < logo_height && mask[static_cast<size_t>(y) * logo_width + x];
}

bool near_text(const std::vector<uint8_t> &mask, int32_t x, int32_t y)
{
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx)
            if (covered(mask, x + dx, y + dy))
                return true;
    return false;
}

} // namespace

const std::array<uint8_t, 7> &glyph(char c)
{
    for (const auto &entry : font)
        if (entry.c == c)
            return entry.rows;
    return blank_glyph;
}

palette shared_palette()
{
    palette colours{};
    for (int32_t level = 0; level < sky_levels; ++level) {
        double t = static_cast<double>(level) / (sky_levels - 1);
        rgb sky = ramp(sky_keys, t);
        rgb cloud = ramp(cloud_keys, t);
        for (int32_t c = 0; c < cloud_levels; ++c)
            put(colours, first_entry + level * cloud_levels + c,
                mix(sky, cloud, static_cast<double>(c) / (cloud_levels - 1)));
    }
    for (int32_t level = 0; level < title_levels; ++level) {
        double t = static_cast<double>(level) / (title_levels - 1);
        put(colours, title_first + level, ramp(gold_keys, t));
        put(colours, title_first + title_levels + level, ramp(warm_keys, t));
    }
    put(colours, outline_entry, {24, 16, 48});
    put(colours, shadow_entry, {12, 20, 60});
    put(colours, highlight_entry, {255, 255, 235});
    // The remaining entries up to 245 are unused: a grey ramp keeps them tidy.
    for (int32_t index = highlight_entry + 1; index < first_entry + entry_count; ++index) {
        double v = 255.0 * (index - highlight_entry) / (first_entry + entry_count - highlight_entry);
        put(colours, index, {v, v, v});
    }
    return colours;
}

indexed_picture draw_sky()
{
    indexed_picture sky{640, 200, std::vector<uint8_t>(640 * 200)};
    for (int32_t y = 0; y < sky.height; ++y) {
        double height = static_cast<double>(y) / (sky.height - 1);
        for (int32_t x = 0; x < sky.width; ++x) {
            int32_t level = dithered_level(height, sky_levels, x, y);
            // The cloud dither is shifted so that it does not line up with
            // the gradient's.
            int32_t cloud = dithered_level(cloud_density(x, y), cloud_levels, x + 2, y + 1);
            sky.pixels[static_cast<size_t>(y) * sky.width + x] =
                static_cast<uint8_t>(first_entry + level * cloud_levels + cloud);
        }
    }
    return sky;
}

indexed_picture draw_logo(const std::string &text, logo_style style)
{
    indexed_picture logo{logo_width, logo_height, std::vector<uint8_t>(logo_width * logo_height, 0)};
    std::vector<uint8_t> mask = text_mask(text);
    int32_t fill_first = title_first + (style == logo_style::gold ? 0 : title_levels);
    int32_t text_top = (logo_height - glyph_rows * scale_y) / 2 - 1;
    int32_t text_height = glyph_rows * scale_y;
    for (int32_t y = 0; y < logo_height; ++y)
        for (int32_t x = 0; x < logo_width; ++x) {
            uint8_t index = 0;
            if (covered(mask, x, y)) {
                // Lit from above: a bright top edge, then the fill's gradient.
                double t = static_cast<double>(y - text_top) / (text_height - 1);
                index = covered(mask, x, y - 1)
                            ? static_cast<uint8_t>(fill_first + dithered_level(t, title_levels, x, y))
                            : static_cast<uint8_t>(highlight_entry);
            } else if (near_text(mask, x, y)) {
                index = outline_entry;
            } else if (near_text(mask, x - 2, y - 2)) {
                index = shadow_entry; // the outlined letters, cast down and right
            }
            logo.pixels[static_cast<size_t>(y) * logo_width + x] = index;
        }
    return logo;
}

} // namespace pictures
