// PCX loading: pictures built here byte by byte, loaded from memory and from
// files, checked pixel by pixel and palette entry by palette entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "graphics/internal.h"
#include "graphics/pcx.h"
#include "platform/soft/soft_state.h"
#include "support/codec_agreement.h"
#include "support/library_fixture.h"

namespace {

using bytes = std::vector<uint8_t>;
using pixmora_test::same_bytes;
using pm::pcx_format;
using pixmora_test::make_buffer;
using pixmora_test::pixel_at;

struct rgb {
    uint8_t r, g, b;
};
rgb header_colour(int32_t i) { return {uint8_t(17 * i), uint8_t(255 - 16 * i), uint8_t(40 + 13 * i)}; }
rgb trailer_colour(int32_t i) { return {uint8_t(i), uint8_t(255 - i), uint8_t(i * 37)}; }

// ---- Building pictures ------------------------------------------------------

// Run-length encodes bytes: runs of up to 63, single bytes below 0xC0 as
// they are, others as a run of one.
bytes rle_encode(const bytes &plain)
{
    bytes out;
    for (size_t i = 0; i < plain.size();) {
        size_t run = 1;
        while (i + run < plain.size() && run < 63 && plain[i + run] == plain[i])
            ++run;
        if (run > 1 || plain[i] >= 0xC0)
            out.push_back(uint8_t(0xC0 | run));
        out.push_back(plain[i]);
        i += run;
    }
    return out;
}

// The planes and bits per plane of each format.
int32_t planes_of(pcx_format format)
{
    switch (format) {
    case pcx_format::planar16:
    case pcx_format::planar32:
        return 4;
    case pcx_format::planar24:
    case pcx_format::planar8:
        return 3;
    case pcx_format::planar4:
        return 2;
    default:
        return 1;
    }
}
int32_t bits_of(pcx_format format)
{
    switch (format) {
    case pcx_format::mono:
    case pcx_format::planar16:
    case pcx_format::planar4:
    case pcx_format::planar8:
        return 1;
    case pcx_format::packed2:
        return 2;
    case pcx_format::packed4:
        return 4;
    default:
        return 8;
    }
}
bool colour_planes(pcx_format format) { return format == pcx_format::planar24 || format == pcx_format::planar32; }

// A picture as index (or, for colour planes, a value per plane) values and
// its file form.
struct picture {
    pcx_format format = pcx_format::indexed8;
    int32_t width = 0, height = 0;
    int32_t bytes_per_line = 0; // 0: the row's bytes rounded up to even
    uint8_t version = 5;
    uint16_t palette_info = 1;
    int32_t x_min = 0, y_min = 0;
    bool trailer = true;
    std::vector<uint8_t> values; // index per pixel, or r, g, b (and a fourth) per pixel

    int32_t planes() const { return planes_of(format); }
    int32_t line() const
    {
        if (bytes_per_line != 0)
            return bytes_per_line;
        const int32_t row = (width * bits_of(format) + 7) / 8;
        return row + (row & 1);
    }
    uint8_t index(int32_t x, int32_t y) const { return values[size_t(y * width + x)]; }
    rgb colour(int32_t x, int32_t y) const
    {
        const uint8_t *v = &values[size_t(planes() * (y * width + x))];
        return {v[0], v[1], v[2]};
    }

    // The decoded scanlines, planes one after the other.
    bytes decoded() const
    {
        const int32_t bpl = line();
        const int32_t bits = bits_of(format);
        bytes out(size_t(height * planes() * bpl), 0);
        for (int32_t y = 0; y < height; ++y) {
            uint8_t *scan = &out[size_t(y * planes() * bpl)];
            const int32_t fits = bpl * 8 / bits; // a short BytesPerLine drops the rest
            for (int32_t x = 0; x < std::min(width, fits); ++x) {
                if (colour_planes(format)) {
                    for (int32_t p = 0; p < planes(); ++p)
                        scan[p * bpl + x] = values[size_t(planes() * (y * width + x) + p)];
                } else if (bits == 8) {
                    scan[x] = index(x, y);
                } else if (planes() == 1) {
                    const int32_t per_byte = 8 / bits;
                    scan[x / per_byte] |= uint8_t(index(x, y) << (8 - bits * (x % per_byte + 1)));
                } else {
                    for (int32_t p = 0; p < planes(); ++p)
                        if ((index(x, y) >> p) & 1)
                            scan[p * bpl + x / 8] |= uint8_t(0x80 >> (x % 8));
                }
            }
        }
        return out;
    }

    std::array<uint8_t, 128> header() const
    {
        pm::pcx_header_layout h{};
        h.manufacturer = 0x0A;
        h.version = version;
        h.encoding = 1;
        h.bits_per_pixel = uint8_t(bits_of(format));
        h.x_min = pm::pcx_le16(uint16_t(x_min));
        h.y_min = pm::pcx_le16(uint16_t(y_min));
        h.x_max = pm::pcx_le16(uint16_t(x_min + width - 1));
        h.y_max = pm::pcx_le16(uint16_t(y_min + height - 1));
        for (int32_t i = 0; i < 16; ++i) {
            const rgb c = header_colour(i);
            h.colormap[3 * i] = c.r, h.colormap[3 * i + 1] = c.g, h.colormap[3 * i + 2] = c.b;
        }
        h.planes = uint8_t(planes());
        h.bytes_per_line = pm::pcx_le16(uint16_t(line()));
        h.palette_info = pm::pcx_le16(palette_info);
        std::array<uint8_t, 128> out;
        std::memcpy(out.data(), &h, 128);
        return out;
    }

    // Header, data (encoded unless given) and, if asked, the trailer palette.
    bytes file(const bytes &data) const
    {
        const auto h = header();
        bytes out(128 + data.size() + (trailer ? 769 : 0));
        std::memcpy(out.data(), h.data(), 128);
        std::copy(data.begin(), data.end(), out.begin() + 128);
        if (trailer) {
            uint8_t *end = &out[128 + data.size()];
            end[0] = 0x0C;
            for (int32_t i = 0; i < 256; ++i) {
                const rgb c = trailer_colour(i);
                end[1 + 3 * i] = c.r, end[2 + 3 * i] = c.g, end[3 + 3 * i] = c.b;
            }
        }
        return out;
    }
    bytes file() const { return file(rle_encode(decoded())); }
};

// A picture of every format whose values vary in both directions.
picture make_picture(pcx_format format, int32_t width, int32_t height)
{
    picture p;
    p.format = format;
    p.width = width;
    p.height = height;
    const int32_t per_pixel = colour_planes(format) ? planes_of(format) : 1;
    const int32_t modulus = colour_planes(format) ? 256 : 1 << std::min(8, planes_of(format) * bits_of(format));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < per_pixel; ++c)
                p.values.push_back(uint8_t((x * 7 + y * 13 + c * 50 + x * y) % modulus));
    return p;
}

// ---- Checking pixels ----------------------------------------------------------

bytes colour_pixel(rgb c)
{
    switch (pm_state.active_depth) {
    case 16: {
        const uint16_t v = pm::rgb565(c.r, c.g, c.b);
        return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
    }
    case 24:
        return {c.b, c.g, c.r};
    default:
        return {c.b, c.g, c.r, 0};
    }
}

// The pixel a picture's (x, y) should become, with the given palette colours.
bytes expected_pixel(const picture &p, int32_t x, int32_t y, const std::function<rgb(int32_t)> &palette)
{
    if (colour_planes(p.format))
        return colour_pixel(p.colour(x, y));
    if (pm_state.active_depth == 8)
        return {uint8_t(p.index(x, y) + (p.format == pcx_format::indexed8 ? 0 : 10))};
    return colour_pixel(palette(p.index(x, y)));
}

// Compares a w x h rectangle of the buffer at (left, top) with expected(x, y)
// for x, y counted within the rectangle; reports the first difference.
::testing::AssertionResult pixels_are(int32_t left, int32_t top, int32_t w, int32_t h,
                                      const std::function<bytes(int32_t, int32_t)> &expected)
{
    const int32_t size = pm_state.active_depth / 8;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bytes want = expected(x, y);
            const uint8_t *got = pixel_at(left + x, top + y);
            if (std::memcmp(got, want.data(), size_t(size)) != 0) {
                auto result = ::testing::AssertionFailure() << "first difference at (" << left + x << ", " << top + y
                                                            << "): got";
                for (int32_t i = 0; i < size; ++i)
                    result << ' ' << int(got[i]);
                result << ", expected";
                for (uint8_t b : want)
                    result << ' ' << int(b);
                return result;
            }
        }
    return ::testing::AssertionSuccess();
}

bytes buffer_bytes()
{
    return bytes(pm_state.active_bits, pm_state.active_bits + pm_state.active_stride * pm_state.active_height);
}

rgb palette_entry(int32_t i)
{
    const pm_paletteentry &e = pm_state.logical_palette.palPalEntry[i];
    return {e.peRed, e.peGreen, e.peBlue};
}
bool same_colour(rgb a, rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Global memory blocks and files that the platform holds open.
std::pair<size_t, size_t> held()
{
    return {pm::soft::detail::state().globals.size(), pm::soft::detail::state().files.size()};
}

// What must stay as it was after a refusal.
struct snapshot {
    bytes pixels, palette, lookup;
    uint8_t *input_block;
    std::pair<size_t, size_t> held_before;
    static snapshot take()
    {
        const auto *pal = reinterpret_cast<const uint8_t *>(&pm_state.logical_palette);
        return {buffer_bytes(), bytes(pal, pal + sizeof pm_state.logical_palette),
                bytes(pm_state.pixel_lookup, pm_state.pixel_lookup + 1024), pm_state.input_block, held()};
    }
};
::testing::AssertionResult unchanged(const snapshot &before)
{
    const snapshot now = snapshot::take();
    if (auto r = same_bytes(before.pixels, now.pixels); !r)
        return r << " (pixels)";
    if (auto r = same_bytes(before.palette, now.palette); !r)
        return r << " (palette)";
    if (auto r = same_bytes(before.lookup, now.lookup); !r)
        return r << " (pixel lookup)";
    if (before.input_block != now.input_block)
        return ::testing::AssertionFailure() << "input_block not restored";
    if (before.held_before != now.held_before)
        return ::testing::AssertionFailure() << "a memory block or file left behind";
    return ::testing::AssertionSuccess();
}

class PcxLoad : public pixmora_test::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        pixmora_test::start_library(32);
        pm_realize_palette(pm_create_default_palette());
    }
    void TearDown() override
    {
        for (const auto &path : files_)
            std::filesystem::remove(path);
        LibraryTest::TearDown();
    }
    int32_t load(const bytes &file, int32_t flags = 0)
    {
        EXPECT_EQ(pm_set_input_block(file.data(), uint32_t(file.size())), 0);
        return pm_load_pcx(nullptr, flags | pcx_from_memory);
    }
    std::string write_file(const bytes &content)
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto path = std::filesystem::temp_directory_path() /
                          (std::string("pixmora_pcx_") + info->name() + std::to_string(files_.size()) + ".pcx");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(content.data()),
                                                    std::streamsize(content.size()));
        files_.push_back(path);
        return path.string();
    }
    // Fills the buffer with a byte so that untouched pixels show.
    void fill_buffer(uint8_t value)
    {
        std::memset(pm_state.active_bits, value, size_t(pm_state.active_stride * pm_state.active_height));
    }

private:
    std::vector<std::filesystem::path> files_;
};

// ---- Results and what each leaves alone ------------------------------------------

TEST_F(PcxLoad, NoActiveBufferDoesNothingEvenForAMissingFile)
{
    EXPECT_EQ(pm_load_pcx("no-such-picture.pcx", 0), 0);
}

TEST_F(PcxLoad, FileRefusals)
{
    make_buffer(16, 16, 32);
    const bytes whole = make_picture(pcx_format::indexed8, 4, 4).file();
    pm_set_input_block(whole.data(), uint32_t(whole.size())); // a caller's block, to be kept
    const snapshot before = snapshot::take();
    EXPECT_EQ(pm_load_pcx("no-such-picture.pcx", 0), 1);
    EXPECT_EQ(pm_load_pcx(nullptr, 0), 1);
    EXPECT_EQ(pm_load_pcx(write_file(bytes(whole.begin(), whole.begin() + 127)).c_str(), 0), 2);
    bytes bad_first_byte = whole;
    bad_first_byte[0] = 0x0B;
    EXPECT_EQ(pm_load_pcx(write_file(bad_first_byte).c_str(), 0), 2);
    EXPECT_TRUE(unchanged(before));
}

TEST(PcxResults, EveryResultHasItsOwnText)
{
    const std::string unknown = pm_pcx_result_text(-1);
    std::set<std::string> texts;
    for (int32_t result : {PM_PCX_OK, PM_PCX_OPEN_FAILED, PM_PCX_INVALID, PM_PCX_UNSUPPORTED, PM_PCX_NO_MEMORY,
                           PM_PCX_WRITE_FAILED, PM_PCX_NO_PAGE, PM_PCX_TOO_MANY_COLOURS, PM_PCX_BAD_ARGUMENT}) {
        const std::string text = pm_pcx_result_text(result);
        EXPECT_FALSE(text.empty()) << result;
        EXPECT_NE(text, unknown) << result;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 9u);
    for (int32_t other : {9, 100, INT32_MIN, INT32_MAX})
        EXPECT_EQ(pm_pcx_result_text(other), unknown) << other;
}

TEST_F(PcxLoad, RefusalsChangeNothing)
{
    const picture indexed = make_picture(pcx_format::indexed8, 6, 4);
    auto with = [](picture p, const std::function<void(picture &)> &change) {
        change(p);
        return p.file();
    };
    const bytes indexed_file = indexed.file();
    auto patched = [&](size_t offset, std::initializer_list<uint8_t> values) {
        bytes file = indexed_file;
        std::copy(values.begin(), values.end(), file.begin() + long(offset));
        return file;
    };
    const struct {
        const char *what;
        bytes file;
        int32_t depth, flags, result;
        bool fail_allocation;
    } cases[] = {
        {"block shorter than its header", bytes(indexed_file.begin(), indexed_file.begin() + 100), 32, 0, 2, false},
        {"first byte not 0x0A", patched(0, {0x0B}), 32, 0, 2, false},
        {"Xmax < Xmin", patched(4, {10, 0}), 32, 0, 2, false},
        {"Ymax < Ymin", patched(6, {5, 0}), 32, 0, 2, false},
        {"BytesPerLine 0", patched(66, {0, 0}), 32, 0, 2, false},
        {"BytesPerLine below the width", patched(66, {4, 0}), 8, 0, 2, false},
        {"no planes", patched(65, {0}), 32, 0, 2, false},
        {"monochrome BytesPerLine below the width",
         with(make_picture(pcx_format::mono, 20, 2), [](picture &p) { p.bytes_per_line = 2; }), 16, 0, 2, false},
        {"24-bit planar into 8 bits", make_picture(pcx_format::planar24, 4, 4).file(), 8, 0, 3, false},
        {"one plane of 4 bits", patched(3, {4}), 32, 0, 3, false},
        {"one plane of 2 bits", patched(3, {2}), 24, 0, 3, false},
        {"one plane of 4 bits at 8", patched(3, {4}), 8, 0, 3, false},
        {"one plane of 4 bits at 16", patched(3, {4}), 16, 0, 3, false},
        // Judged before placement, as inspection judges it.
        {"no converter but right of the buffer", patched(3, {4, 40, 0, 0, 0, 45, 0}), 32, 0, 3, false},
        {"below the buffer", with(indexed, [](picture &p) { p.y_min = 16; }), 32, 0, 0, false},
        {"above and left of the buffer", indexed_file, 32, pcx_at_cursor, 0, false},
        {"scanline buffer not allocated", indexed.file(), 16, 0, 4, true},
        {"scanline buffer not allocated at 8", indexed.file(), 8, 0, 4, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t handle = make_buffer(16, 16, c.depth);
        fill_buffer(0x5A);
        pm_move_cursor(-6, -4);
        pm_set_input_block(c.file.data(), uint32_t(c.file.size()));
        const snapshot before = snapshot::take();
        if (c.fail_allocation)
            pm::soft::fail_next_global_allocs(1);
        EXPECT_EQ(pm_load_pcx(nullptr, c.flags | pcx_from_memory), c.result);
        EXPECT_TRUE(unchanged(before));
        pm::soft::fail_next_global_allocs(0);
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
}

// ---- Converters -------------------------------------------------------------------

TEST_F(PcxLoad, EveryConverterAtEveryDepth)
{
    for (pcx_format format : {pcx_format::mono, pcx_format::planar16, pcx_format::indexed8, pcx_format::planar24})
        for (int32_t depth : {8, 16, 24, 32}) {
            if (format == pcx_format::planar24 && depth == 8)
                continue;
            SCOPED_TRACE("format " + std::to_string(int(format)) + " at " + std::to_string(depth) + " bits");
            picture p = make_picture(format, 13, 5); // odd width: padding in every scanline
            p.trailer = format == pcx_format::indexed8;
            const int32_t handle = make_buffer(20, 8, depth);
            ASSERT_EQ(load(p.file(), pcx_no_reduction), 0);
            const auto palette = format == pcx_format::indexed8 ? trailer_colour : header_colour;
            EXPECT_TRUE(pixels_are(0, 0, 13, 5, [&](int32_t x, int32_t y) { return expected_pixel(p, x, y, palette); }));
            pm_buffer_deactivate();
            pm_buffer_destroy(handle);
        }
}

// ImageMagick's decoding of a picture: RGB per pixel, top row first; empty
// when convert cannot be run.
bytes imagemagick_rgb(const bytes &file, int32_t width, int32_t height)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string stem = "pixmora_layout_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                             std::to_string(reinterpret_cast<uintptr_t>(&file));
    const auto in = dir / (stem + ".pcx"), out = dir / (stem + ".rgb");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    const std::string command = "convert '" + in.string() + "' -depth 8 'rgb:" + out.string() + "' 2>/dev/null";
    bytes rgb_bytes;
    if (std::system(command.c_str()) == 0) {
        std::ifstream read(out, std::ios::binary);
        rgb_bytes.assign(std::istreambuf_iterator<char>(read), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    if (rgb_bytes.size() != size_t(3 * width * height))
        rgb_bytes.clear();
    return rgb_bytes;
}

// The layouts that pcx_all_layouts adds, at every depth and cut at the left
// edge, pixel for pixel as ImageMagick shows them; greyscale without a
// trailer (which ImageMagick does not read) against the grey ramp. At 8 bits
// the indices stand clear of the static colours as 16-colour pictures do,
// and greyscale keeps its indices like a 256-colour picture.
TEST_F(PcxLoad, EveryAddedLayoutAtEveryDepthAsImageMagickShowsIt)
{
    if (std::system("command -v convert > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const struct {
        const char *what;
        pcx_format format;
        uint16_t palette_info;
    } layouts[] = {
        {"one plane of 4 bits", pcx_format::packed4, 1},  {"one plane of 2 bits", pcx_format::packed2, 1},
        {"2 planes of 1 bit", pcx_format::planar4, 1},    {"3 planes of 1 bit", pcx_format::planar8, 1},
        {"4 planes of 8 bits", pcx_format::planar32, 1},  {"greyscale", pcx_format::indexed8, 2},
    };
    for (const auto &layout : layouts)
        for (int32_t width : {13, 16, 1}) {
            picture p = make_picture(layout.format, width, 5);
            p.palette_info = layout.palette_info;
            // A trailer where a version-5 file might have one: the packed and
            // bit-plane layouts take their header colours all the same.
            p.trailer = layout.format != pcx_format::indexed8;
            const bytes file = p.file();
            const bool grey = layout.format == pcx_format::indexed8;
            const bytes shown = grey ? bytes{} : imagemagick_rgb(file, width, 5);
            ASSERT_TRUE(grey || !shown.empty()) << layout.what << ": convert failed";
            auto colour_at = [&](int32_t x, int32_t y) {
                if (grey)
                    return rgb{p.index(x, y), p.index(x, y), p.index(x, y)};
                const uint8_t *c = &shown[size_t(3 * (y * width + x))];
                return rgb{c[0], c[1], c[2]};
            };
            for (int32_t depth : {8, 16, 24, 32})
                for (int32_t cut : {0, 3}) {
                    SCOPED_TRACE(std::string(layout.what) + ", width " + std::to_string(width) + " at " +
                                 std::to_string(depth) + " bits, " + std::to_string(cut) + " columns cut");
                    const int32_t handle = make_buffer(20, 8, depth);
                    pm_move_cursor(-cut, 1);
                    const int32_t result = load(file, pcx_all_layouts | pcx_no_reduction | pcx_at_cursor);
                    if (depth == 8 && colour_planes(layout.format)) {
                        EXPECT_EQ(result, 3);
                    } else if (cut >= width) {
                        EXPECT_EQ(result, 0); // nothing lies within the buffer
                    } else {
                        ASSERT_EQ(result, 0);
                        EXPECT_TRUE(pixels_are(0, 1, width - cut, 5, [&](int32_t x, int32_t y) {
                            if (depth != 8)
                                return colour_pixel(colour_at(x + cut, y));
                            return bytes{uint8_t(p.index(x + cut, y) + (grey ? 0 : 10))};
                        }));
                        // Greyscale's indices 0..9 and 246..255 show the reserved
                        // entries, as a 256-colour picture's do.
                        for (int32_t x = cut; depth == 8 && x < width; ++x)
                            for (int32_t y = 0; y < 5; ++y) {
                                const bool reserved = grey && (p.index(x, y) < 10 || p.index(x, y) > 245);
                                const rgb entry = palette_entry(*pixel_at(x - cut, y + 1));
                                ASSERT_TRUE(reserved || same_colour(entry, colour_at(x, y)))
                                    << "the palette entry of (" << x << ", " << y << ")";
                            }
                    }
                    pm_buffer_deactivate();
                    pm_buffer_destroy(handle);
                }
        }
}

// Without the flag the added layouts give what they gave before: no
// converter for the packed ones; 2 planes of 1 bit read as monochrome from
// plane 0; 3 planes of 1 bit taken as three 8-bit planes, too short for the
// width; 4 planes of 8 bits read as 16-colour planes; greyscale without a
// trailer in the header colours.
TEST_F(PcxLoad, AddedLayoutsWithoutTheFlagLoadAsBefore)
{
    picture grey = make_picture(pcx_format::indexed8, 13, 5);
    grey.palette_info = 2;
    const struct {
        picture p;
        int32_t result;
    } cases[] = {
        {make_picture(pcx_format::packed4, 13, 5), 3}, {make_picture(pcx_format::packed2, 13, 5), 3},
        {make_picture(pcx_format::planar4, 13, 5), 0}, {make_picture(pcx_format::planar8, 13, 5), 2},
        {make_picture(pcx_format::planar32, 13, 5), 0}, {grey, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("format " + std::to_string(int(c.p.format)));
        const int32_t handle = make_buffer(20, 8, 32);
        fill_buffer(0);
        picture p = c.p;
        p.trailer = false;
        ASSERT_EQ(load(p.file(), pcx_no_reduction), c.result);
        if (c.result == 0) {
            // What the same scanlines give when read as the old formats do.
            const pm::pcx_picture old = pm::pcx_parse_header(p.file().data());
            const bytes scanlines = p.decoded();
            const int32_t bpl = p.line(), length = bpl * p.planes();
            EXPECT_TRUE(pixels_are(0, 0, 13, 5, [&](int32_t x, int32_t y) {
                const uint8_t *scan = &scanlines[size_t(y * length)];
                auto bit = [&](int32_t plane) { return (scan[plane * bpl + x / 8] >> (7 - x % 8)) & 1; };
                int32_t index = 0;
                if (old.format == pcx_format::mono)
                    index = bit(0);
                else if (old.format == pcx_format::planar16)
                    index = bit(0) | bit(1) << 1 | bit(2) << 2 | bit(3) << 3;
                else
                    index = scan[x];
                return colour_pixel(palette_entry(index));
            }));
            for (int32_t i = 0; i < 16; ++i)
                EXPECT_TRUE(same_colour(palette_entry(i), header_colour(i))) << "entry " << i;
        }
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
}

// One colour written into a 16-bit buffer three ways, through the lookup by
// a 256-colour picture and by a paste, and straight from a 24-bit picture's
// planes, shows as that colour all three times.
TEST_F(PcxLoad, OneColourShowsAlikeFromEveryWayIntoSixteenBits)
{
    make_buffer(4, 1, 16);
    const uint8_t index = 200; // its 5-6-5 bytes differ, so swapped ones show
    picture indexed = make_picture(pcx_format::indexed8, 1, 1);
    indexed.values = {index};
    ASSERT_EQ(load(indexed.file(), pcx_no_reduction), 0); // at (0, 0), the trailer palette applied

    pm_move_cursor(1, 0);
    pm_paste_image(&index, 1, 1);

    const rgb colour = trailer_colour(index);
    picture planar = make_picture(pcx_format::planar24, 1, 1);
    planar.values = {colour.r, colour.g, colour.b};
    pm_move_cursor(2, 0);
    ASSERT_EQ(load(planar.file(), pcx_at_cursor | pcx_keep_palette), 0);

    pm_present(0, 2, 0, 0, 0, 2, 0, 0);
    // 5 and 6 bits widened by repeating their top bits.
    const uint32_t r = colour.r >> 3, g = colour.g >> 2, b = colour.b >> 3;
    const uint32_t shown = ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
    for (int32_t x : {0, 1, 2})
        EXPECT_EQ(pm::soft::client_pixel(pm_state.window_dc, x, 0), shown) << "column " << x;
}

TEST_F(PcxLoad, OddWidthWithEvenBytesPerLineLeavesTheColumnAfterAlone)
{
    make_buffer(8, 4, 8);
    fill_buffer(0xEE);
    picture p = make_picture(pcx_format::indexed8, 3, 2);
    p.values = {1, 2, 3, 4, 5, 6};
    bytes data = {1, 2, 3, 0x77, 4, 5, 6, 0x77}; // the pad byte of each scanline is 0x77
    ASSERT_EQ(load(p.file(data), pcx_no_reduction), 0);
    EXPECT_TRUE(pixels_are(0, 0, 4, 2, [&](int32_t x, int32_t y) {
        return bytes{x < 3 ? p.index(x, y) : uint8_t(0xEE)};
    }));
}

// ---- Palettes -----------------------------------------------------------------------

TEST_F(PcxLoad, PaletteEntriesByDepthAndPicture)
{
    auto versioned = [](picture p, uint8_t version, bool trailer) {
        p.version = version;
        p.trailer = trailer;
        return p;
    };
    const struct {
        const char *what;
        picture p;
        int32_t depth;
        int32_t first, count, source_first; // entries set, from which colour
        bool from_trailer;
    } cases[] = {
        {"monochrome at 8", versioned(make_picture(pcx_format::mono, 9, 3), 5, false), 8, 10, 16, 0, false},
        {"256 colours at 8", make_picture(pcx_format::indexed8, 9, 3), 8, 10, 236, 10, true},
        {"256 colours, not version 5, at 8", versioned(make_picture(pcx_format::indexed8, 9, 3), 3, true), 8, 10, 16, 0,
         false},
        {"version 5 without the marker at 8", versioned(make_picture(pcx_format::indexed8, 9, 3), 5, false), 8, 10, 16,
         0, false},
        {"version 5 without the marker at 32", versioned(make_picture(pcx_format::indexed8, 9, 3), 5, false), 32, 0, 16,
         0, false},
        {"monochrome with a trailer at 32", make_picture(pcx_format::mono, 9, 3), 32, 0, 256, 0, true},
        {"16 colours at 24", versioned(make_picture(pcx_format::planar16, 9, 3), 2, false), 24, 0, 16, 0, false},
        {"24-bit planar at 16", make_picture(pcx_format::planar24, 9, 3), 16, 0, 0, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t handle = make_buffer(12, 4, c.depth);
        std::vector<rgb> before;
        for (int32_t i = 0; i < 256; ++i)
            before.push_back(palette_entry(i));
        ASSERT_EQ(load(c.p.file(), pcx_no_reduction), 0);
        for (int32_t i = 0; i < 256; ++i) {
            const bool set = i >= c.first && i < c.first + c.count;
            const int32_t source = i - c.first + c.source_first;
            const rgb want = !set ? before[size_t(i)] : c.from_trailer ? trailer_colour(source) : header_colour(source);
            ASSERT_TRUE(same_colour(palette_entry(i), want)) << "entry " << i;
        }
        if (c.depth == 8) {
            EXPECT_TRUE(pixels_are(0, 0, 9, 3, [&](int32_t x, int32_t y) { return expected_pixel(c.p, x, y, nullptr); }));
        }
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
}

TEST_F(PcxLoad, TrailerIsNotLookedForInsideTheHeader)
{
    // A version-5 block of 800 bytes: the byte 769 from its end lies in the
    // header's palette and happens to be 0x0C.
    make_buffer(8, 8, 32);
    picture p = make_picture(pcx_format::indexed8, 2, 2);
    p.trailer = false;
    bytes file = p.file();
    file.resize(800, 0);
    file[800 - 769] = 0x0C;
    const rgb entry_20 = palette_entry(20);
    const std::string path = write_file(file);
    for (bool from_file : {false, true}) {
        SCOPED_TRACE(from_file ? "file" : "memory");
        ASSERT_EQ(from_file ? pm_load_pcx(path.c_str(), pcx_no_reduction) : load(file, pcx_no_reduction), 0);
        EXPECT_TRUE(same_colour(palette_entry(5), rgb{file[16 + 15], file[16 + 16], file[16 + 17]}));
        EXPECT_TRUE(same_colour(palette_entry(20), entry_20)) << "a trailer was read from inside the header";
    }
}

TEST_F(PcxLoad, ReductionFitsTheColoursIntoTheFreeEntries)
{
    make_buffer(8, 4, 8);
    picture p = make_picture(pcx_format::indexed8, 8, 4);
    for (size_t i = 0; i < p.values.size(); ++i)
        p.values[i] = i % 3 == 0 ? 0 : i % 3 == 1 ? 255 : 7;
    ASSERT_EQ(load(p.file()), 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const uint8_t stored = *pixel_at(x, y);
            ASSERT_TRUE(stored >= 10 && stored <= 12) << "pixel (" << x << ", " << y << ") = " << int(stored);
            ASSERT_TRUE(same_colour(palette_entry(stored), trailer_colour(p.index(x, y))))
                << "pixel (" << x << ", " << y << ")";
        }
}

TEST_F(PcxLoad, KeepPaletteConvertsThroughTheLookupAsItStood)
{
    make_buffer(8, 4, 16);
    const snapshot before = snapshot::take();
    const std::array<uint8_t, 1024> lookup = std::to_array(pm_state.pixel_lookup);
    const picture p = make_picture(pcx_format::indexed8, 8, 4);
    ASSERT_EQ(load(p.file(), pcx_keep_palette), 0);
    EXPECT_TRUE(same_bytes(before.palette, snapshot::take().palette));
    EXPECT_TRUE(pixels_are(0, 0, 8, 4, [&](int32_t x, int32_t y) {
        const uint8_t *entry = &lookup[size_t(2 * p.index(x, y))];
        return bytes{entry[0], entry[1]};
    }));
}

// ---- Placement and cutting --------------------------------------------------------

TEST_F(PcxLoad, PlacementAndCutting)
{
    const struct {
        const char *what;
        int32_t x_min, y_min, flags, cursor_x, cursor_y;
        int32_t left, top; // where the picture's (0, 0) should land
    } cases[] = {
        {"header window", 10, 20, 0, 0, 0, 10, 20},
        {"at the cursor", 10, 20, pcx_at_cursor, 3, 4, 3, 4},
        {"cut right and bottom", 0, 0, pcx_at_cursor, 27, 28, 27, 28},
        {"cut left and top", 0, 0, pcx_at_cursor, -5, -3, -5, -3},
        {"header window cut right and bottom", 30, 30, 0, 0, 0, 30, 30},
    };
    // Colour planes into 24 bits, and indices copied row by row into 8 bits.
    const struct {
        pcx_format format;
        int32_t depth;
    } kinds[] = {{pcx_format::planar24, 24}, {pcx_format::indexed8, 8}};
    for (const auto &kind : kinds)
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(kind.depth) + " bits");
            const int32_t handle = make_buffer(32, 32, kind.depth);
            fill_buffer(0x11);
            picture p = make_picture(kind.format, 9, 7);
            p.x_min = c.x_min;
            p.y_min = c.y_min;
            p.trailer = kind.format == pcx_format::indexed8;
            pm_move_cursor(c.cursor_x, c.cursor_y);
            ASSERT_EQ(load(p.file(), c.flags | pcx_no_reduction), 0);
            EXPECT_TRUE(pixels_are(0, 0, 32, 32, [&](int32_t x, int32_t y) {
                const int32_t px = x - c.left, py = y - c.top;
                if (px < 0 || py < 0 || px >= p.width || py >= p.height)
                    return bytes(size_t(kind.depth / 8), 0x11);
                return expected_pixel(p, px, py, nullptr);
            }));
            pm_buffer_deactivate();
            pm_buffer_destroy(handle);
        }
}

// ---- Decoding ----------------------------------------------------------------------

// Decodes `count` scanlines of `length` bytes from an encoded block, the way
// the loader does, and returns them one after the other.
bytes decode_lines(const bytes &encoded, int32_t length, int32_t count, std::vector<int32_t> *carries = nullptr)
{
    pm::pcx_stream stream{};
    stream.picture = encoded.data();
    stream.picture_size = uint32_t(encoded.size());
    stream.position = encoded.data();
    stream.left = uint32_t(encoded.size());
    bytes scanline(size_t(length + pm::pcx_scanline_spare), 0), out;
    for (int32_t i = 0; i < count; ++i) {
        pm::pcx_decode_scanline(stream, scanline.data(), length);
        out.insert(out.end(), scanline.begin(), scanline.begin() + length);
        if (carries)
            carries->push_back(stream.carry);
        std::memmove(scanline.data(), scanline.data() + length, size_t(stream.carry));
    }
    return out;
}

TEST(PcxDecode, RunsLiteralsAndCarries)
{
    // A run of 63 into 2-byte scanlines fills 31 of them and half of the
    // next, which the 8 completes; the input then ends and the last repeats.
    bytes long_run(66, 4);
    long_run[63] = long_run[65] = 8;
    std::vector<int32_t> long_run_carries(33, 0);
    for (int32_t i = 0; i < 31; ++i)
        long_run_carries[size_t(i)] = 61 - 2 * i;
    const struct {
        const char *what;
        bytes encoded;
        int32_t length, count;
        bytes expected;
        std::vector<int32_t> carries;
    } cases[] = {
        {"literals and a run", {1, 2, 0xC3, 9, 0xBF}, 6, 1, {1, 2, 9, 9, 9, 0xBF}, {0}},
        {"0xC0 consumes its value", {0xC0, 0xFF, 5, 0xC1, 0xC0, 6}, 3, 1, {5, 0xC0, 6}, {0}},
        {"a run crosses the scanline end", {1, 0xC4, 7, 2, 3}, 3, 2, {1, 7, 7, 7, 7, 2}, {2, 0}},
        {"carry longer than a scanline", {0xFF, 4, 8}, 2, 33, long_run, long_run_carries},
        {"data ends: rows repeat the buffer", {1, 2, 3, 4, 5}, 3, 3, {1, 2, 3, 4, 5, 3, 4, 5, 3}, {0, 0, 0}},
        {"data ends after a run byte", {1, 0xC5}, 3, 2, {1, 0, 0, 1, 0, 0}, {0, 0}},
        {"endless 0xC0 pairs", bytes(4000, 0xC0), 10, 3, bytes(30, 0), {0, 0, 0}},
        // The decoder stores short tokens as whole words; when the data ends
        // right after one, the bytes past it still keep the row before.
        {"data ends after a short literal",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x21, 0xC0, 0xEE, 0xC0, 0xEE, 0xC0, 0xEE, 0xC0},
         12, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x21, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 0}},
        {"data ends after a short run",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xC3, 0x77, 0xC0, 0xEE, 0xC0, 0xEE, 0xC0, 0xEE},
         12, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x77, 0x77, 0x77, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 0}},
        {"data ends after a zero-count run",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x21, 0xC0, 0xEE, 0x22, 0xC0, 0xEE, 0xC0, 0xEE, 0xC0},
         12, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x21, 0x22, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int32_t> carries;
        const bytes got = decode_lines(c.encoded, c.length, c.count, &carries);
        EXPECT_TRUE(same_bytes(c.expected, got));
        EXPECT_EQ(carries, c.carries);
    }
}

TEST_F(PcxLoad, RunsCrossingScanlinesAndShortDataThroughALoad)
{
    make_buffer(4, 4, 8);
    picture p = make_picture(pcx_format::indexed8, 3, 4);
    p.bytes_per_line = 3;
    p.trailer = false;
    // Row 0: 1 2 3; row 1: 3 3 4 (a run of three 3s crossing from row 0);
    // row 2 is cut short after 5, so rows 2 and 3 keep the bytes before.
    const bytes data = {1, 2, 0xC3, 3, 4, 5};
    ASSERT_EQ(load(p.file(data), pcx_no_reduction), 0);
    const uint8_t rows[4][3] = {{1, 2, 3}, {3, 3, 4}, {5, 3, 4}, {5, 3, 4}};
    EXPECT_TRUE(pixels_are(0, 0, 3, 4, [&](int32_t x, int32_t y) { return bytes{rows[y][x]}; }));
}

// ---- Sources ---------------------------------------------------------------------

TEST_F(PcxLoad, FileAndMemoryGiveTheSamePictureEveryTime)
{
    // Large enough to take several refills of the file's 4096-byte blocks.
    picture p = make_picture(pcx_format::indexed8, 200, 120);
    const bytes file = p.file();
    ASSERT_GT(file.size(), 3u * 4096);
    make_buffer(200, 120, 32);

    ASSERT_EQ(load(file), 0);
    const bytes first = buffer_bytes();
    EXPECT_TRUE(pixels_are(0, 0, 200, 120, [&](int32_t x, int32_t y) { return expected_pixel(p, x, y, trailer_colour); }));
    fill_buffer(0);
    ASSERT_EQ(load(file), 0);
    EXPECT_TRUE(same_bytes(first, buffer_bytes())) << "second load of the same block";

    // A caller's block stays described while a file loads into read_buffer,
    // whose refills are bounded by the block's size.
    const std::string path = write_file(file);
    for (uint32_t block_size : {4096u, 100u, 0u, 1u << 20}) {
        SCOPED_TRACE("input_block_size " + std::to_string(block_size));
        std::vector<uint8_t> elsewhere(16);
        pm_set_input_block(elsewhere.data(), block_size);
        fill_buffer(0);
        const auto held_before = held();
        ASSERT_EQ(pm_load_pcx(path.c_str(), 0), 0);
        EXPECT_EQ(held(), held_before) << "a memory block or file left behind";
        EXPECT_TRUE(same_bytes(first, buffer_bytes())) << "file source";
        EXPECT_EQ(pm_state.input_block, elsewhere.data());
        EXPECT_EQ(pm_state.input_block_size, block_size);
    }
    EXPECT_EQ(pm_set_input_block(nullptr, 5), 0);
    EXPECT_EQ(pm_state.input_block, pm_state.read_buffer);
    EXPECT_EQ(pm_state.input_block_size, uint32_t(PM_READ_BUFFER_SIZE));
}

// ---- DCX pages --------------------------------------------------------------------

void put_le32(bytes &out, size_t at, uint32_t value)
{
    for (int32_t i = 0; i < 4; ++i)
        out[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A DCX file whose directory lists the pages in the order given, with the
// pages themselves stored in the reverse order, so that a page's end is
// not always the next offset in the directory.
bytes dcx_file(const std::vector<bytes> &pages)
{
    bytes out(4 + 4 * (pages.size() + 1), 0);
    put_le32(out, 0, 0x3ADE68B1);
    for (size_t i = pages.size(); i-- > 0;) {
        put_le32(out, 4 + 4 * i, uint32_t(out.size()));
        out.insert(out.end(), pages[i].begin(), pages[i].end());
    }
    return out;
}

// Every page, from memory and from a file read in blocks of 4096 and of 7
// bytes, gives what the page alone gives, trailer palette included (it lies
// at the page's end, not the file's). pm_load_pcx reads the first page with
// the flag, and refuses the container as before without it.
TEST_F(PcxLoad, DcxPagesFromMemoryAndFromFiles)
{
    picture packed = make_picture(pcx_format::packed4, 11, 6);
    packed.trailer = false;
    const std::vector<bytes> pages = {make_picture(pcx_format::indexed8, 13, 5).file(), packed.file(),
                                      make_picture(pcx_format::planar24, 9, 7).file()};
    const bytes container = dcx_file(pages);
    const std::string path = write_file(container);
    const std::string plain_path = write_file(pages[0]);
    const int32_t flags = pcx_all_layouts | pcx_no_reduction;
    make_buffer(16, 8, 32);
    for (size_t page = 0; page < pages.size(); ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        fill_buffer(0x33);
        ASSERT_EQ(load(pages[page], flags), 0);
        const snapshot alone = snapshot::take();
        for (const uint32_t refill : {0u, 7u})
            for (const bool from_file : {false, true}) {
                SCOPED_TRACE(from_file ? "file, refills of " + std::to_string(refill) : "memory");
                fill_buffer(0x33);
                pm_set_input_block(container.data(), uint32_t(container.size()));
                if (from_file)
                    pm_set_input_block(pm_state.read_buffer, refill);
                const int32_t result = from_file ? pm_load_pcx_page(path.c_str(), flags, int32_t(page))
                                                 : pm_load_pcx_page(nullptr, flags | pcx_from_memory, int32_t(page));
                ASSERT_EQ(result, 0);
                EXPECT_TRUE(same_bytes(alone.pixels, snapshot::take().pixels));
                EXPECT_TRUE(same_bytes(alone.palette, snapshot::take().palette));
            }
    }
    fill_buffer(0x33);
    ASSERT_EQ(load(pages[0], flags), 0);
    const bytes first = buffer_bytes();
    fill_buffer(0x33);
    EXPECT_EQ(pm_load_pcx(path.c_str(), flags), 0);
    EXPECT_TRUE(same_bytes(first, buffer_bytes())) << "pm_load_pcx with the flag";

    fill_buffer(0x33);
    pm_set_input_block(container.data(), uint32_t(container.size()));
    const snapshot before = snapshot::take();
    EXPECT_EQ(pm_load_pcx(path.c_str(), pcx_no_reduction), 2);
    EXPECT_EQ(pm_load_pcx(nullptr, pcx_from_memory | pcx_no_reduction), 2);
    for (const int32_t page : {3, -1, INT32_MAX}) {
        EXPECT_EQ(pm_load_pcx_page(path.c_str(), flags, page), PM_PCX_NO_PAGE) << page;
        EXPECT_EQ(pm_load_pcx_page(nullptr, flags | pcx_from_memory, page), PM_PCX_NO_PAGE) << page;
    }
    EXPECT_EQ(pm_load_pcx_page(plain_path.c_str(), flags, 1), PM_PCX_NO_PAGE);
    EXPECT_TRUE(unchanged(before));
    EXPECT_EQ(pm_load_pcx_page(plain_path.c_str(), flags, 0), 0);
    EXPECT_TRUE(same_bytes(first, buffer_bytes())) << "a plain picture as page 0";

    // Inspection lists the pages and describes the one asked for.
    pm_pcx_info info{}, from_file{};
    ASSERT_EQ(pm_pcx_inspect_memory(container.data(), uint32_t(container.size()), flags, 1, 32, &info), 0);
    ASSERT_EQ(pm_pcx_inspect_file(path.c_str(), flags, 1, 32, &from_file), 0);
    EXPECT_EQ(std::memcmp(&info, &from_file, sizeof info), 0);
    EXPECT_EQ(info.page_count, 3);
    EXPECT_EQ(info.page_offset, container.size() - pages[0].size() - pages[1].size());
    EXPECT_EQ(info.size, container.size());
    EXPECT_EQ(info.width, 11);
    EXPECT_EQ(info.colours, 16);
    EXPECT_EQ(info.verdict, 0);
    // Pages need no flag, the layouts on them do; page -1 is what
    // pm_load_pcx reads, which without the flag is no picture.
    ASSERT_EQ(pm_pcx_inspect_memory(container.data(), uint32_t(container.size()), 0, 1, 32, &info), 0);
    EXPECT_EQ(info.verdict, 3) << "one plane of 4 bits without the flag";
    EXPECT_EQ(pm_load_pcx_page(path.c_str(), pcx_no_reduction, 1), 3);
    ASSERT_EQ(pm_pcx_inspect_memory(container.data(), uint32_t(container.size()), 0, -1, 32, &info), 0);
    EXPECT_EQ(info.reason, PM_PCX_REASON_MANUFACTURER);
    EXPECT_EQ(pm_pcx_inspect_memory(container.data(), uint32_t(container.size()), flags, 3, 32, &info), 2);
}

// Directories that lie: every one gives the same result from memory and
// from a file, and reads nothing outside the input.
TEST_F(PcxLoad, HostileDcxDirectories)
{
    const bytes page = make_picture(pcx_format::indexed8, 5, 3).file();
    auto directory = [](std::initializer_list<uint32_t> offsets, size_t size) {
        bytes out(size, 0);
        put_le32(out, 0, 0x3ADE68B1);
        size_t at = 4;
        for (uint32_t offset : offsets)
            put_le32(out, std::exchange(at, at + 4), offset);
        return out;
    };
    auto with_page_at = [&](bytes file, size_t at) {
        file.resize(std::max(file.size(), at + page.size()));
        std::copy(page.begin(), page.end(), file.begin() + long(at));
        return file;
    };
    // 1024 offsets and no ending 0: only the first 1023 are pages.
    bytes full(4 + 4 * 1024, 0);
    put_le32(full, 0, 0x3ADE68B1);
    for (size_t i = 0; i < 1024; ++i)
        put_le32(full, 4 + 4 * i, uint32_t(full.size()));
    full.insert(full.end(), page.begin(), page.end());
    const struct {
        const char *what;
        bytes file;
        int32_t page, result;
    } cases[] = {
        {"only the magic number", directory({}, 4), 0, PM_PCX_NO_PAGE},
        {"a directory cut inside an offset", directory({}, 6), 0, PM_PCX_NO_PAGE},
        {"an offset past the end", directory({5000, 0}, 12), 0, 2},
        {"an offset at the end", directory({12, 0}, 12), 0, 2},
        {"a page shorter than a header", with_page_at(directory({12, 100, 0}, 16), 12), 0, 2},
        {"an offset inside the directory", with_page_at(directory({4, 0}, 12), 12), 0, 2},
        {"the same offset twice", with_page_at(directory({16, 16, 0}, 16), 16), 1, 0},
        {"the last of 1023 pages", full, 1022, 0},
        {"no page 1024", full, 1023, PM_PCX_NO_PAGE},
    };
    make_buffer(8, 4, 32);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write_file(c.file);
        bytes copy = c.file; // exact size, so that reading past it is caught
        for (const uint32_t refill : {0u, 7u}) {
            pm_set_input_block(pm_state.read_buffer, refill);
            EXPECT_EQ(pm_load_pcx_page(path.c_str(), pcx_all_layouts, c.page), c.result) << "file, refill " << refill;
        }
        pm_set_input_block(copy.data(), uint32_t(copy.size()));
        EXPECT_EQ(pm_load_pcx_page(nullptr, pcx_all_layouts | pcx_from_memory, c.page), c.result) << "memory";
        EXPECT_EQ(pm_state.input_block, copy.data());
    }
}

TEST_F(PcxLoad, ShortFileFindsNoTrailerAndRepeatsItsLastRow)
{
    make_buffer(8, 8, 32);
    picture p = make_picture(pcx_format::indexed8, 4, 4);
    p.trailer = false;
    bytes file = p.file(bytes{0xC4, 9, 0xC2, 6});
    ASSERT_EQ(pm_load_pcx(write_file(file).c_str(), 0), 0);
    EXPECT_TRUE(pixels_are(0, 0, 4, 4, [&](int32_t x, int32_t y) {
        return colour_pixel(header_colour(y == 0 || x >= 2 ? 9 : 6));
    }));
    // A refill in the middle of row 13, then zero-count runs (each a word
    // store that decodes nothing; at least 80 bytes of them, which the token
    // windows take) up to the end: the rest of that row, and the row after
    // it, show the row before, not what the runs stored.
    picture q = make_picture(pcx_format::indexed8, 300, 15);
    q.trailer = false;
    bytes data;
    for (int32_t i = 0; i < 4000; ++i)
        data.push_back(uint8_t((i % 300 + i / 300) % 15));
    while (data.size() < 4096 + 80)
        data.insert(data.end(), {0xC0, 15});
    make_buffer(300, 15, 32);
    ASSERT_EQ(pm_load_pcx(write_file(q.file(data)).c_str(), 0), 0);
    EXPECT_TRUE(pixels_are(0, 0, 300, 15, [&](int32_t x, int32_t y) {
        return colour_pixel(header_colour((x + (y < 13 ? y : x < 100 ? 13 : 12)) % 15));
    }));
}

// Seeded random headers and data: every load ends with a documented result,
// restores the input block and keeps to its buffers (the sanitizer build
// sees any access outside them; the memory picture is sized exactly).
// Seeded random bytes, most of them with a header of small random fields.
bytes random_header_file(std::mt19937 &random)
{
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    bytes file(size_t(pick(0, 1200)));
    for (uint8_t &b : file)
        b = uint8_t(pick(0, 3) == 0 ? 0xC0 | pick(0, 63) : pick(0, 255));
    if (file.size() >= 128) {
        file[0] = 0x0A;
        file[1] = uint8_t(pick(0, 1) * 5);
        file[3] = std::array<uint8_t, 4>{1, 2, 4, 8}[size_t(pick(0, 3))];
        const int32_t fields[] = {pick(0, 20), pick(0, 20), pick(0, 60), pick(0, 60)}; // Xmin, Ymin, Xmax, Ymax
        for (int32_t i = 0; i < 4; ++i)
            file[size_t(4 + 2 * i)] = uint8_t(fields[i]), file[size_t(5 + 2 * i)] = 0;
        file[65] = uint8_t(pick(0, 5));
        file[66] = uint8_t(pick(0, 100)), file[67] = uint8_t(pick(0, 3) == 0 ? pick(0, 255) : 0);
    }
    return file;
}

TEST_F(PcxLoad, RandomPicturesStayInsideTheirBuffers)
{
    std::mt19937 random(20261207);
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    for (int32_t round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int32_t handle = make_buffer(pick(1, 40), pick(1, 40), std::array{8, 16, 24, 32}[size_t(pick(0, 3))]);
        bytes file = random_header_file(random);
        pm_move_cursor(pick(-100, 60), pick(-100, 60));
        pm_set_input_block(file.data(), uint32_t(file.size()));
        const int32_t result = pm_load_pcx(nullptr, pcx_from_memory | pick(0, 11));
        EXPECT_TRUE(result == 0 || result == 2 || result == 3) << "result " << result;
        EXPECT_EQ(pm_state.input_block, file.data());
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
}

// ---- Rows decoded straight into the buffer --------------------------------------

// A seeded picture with areas of one value (long runs, runs crossing
// scanlines) and noisy stretches (short literals), sometimes cut short.
bytes random_picture_file(std::mt19937 &random, pcx_format format, int32_t width, int32_t height, int32_t pad)
{
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    picture p = make_picture(format, width, height);
    p.bytes_per_line = p.line() + pad;
    for (size_t i = 0; i < p.values.size();) {
        const size_t stretch = std::min(p.values.size() - i, size_t(pick(1, 150)));
        const bool flat = pick(0, 1) == 0;
        const auto value = uint8_t(pick(0, 255));
        for (size_t k = 0; k < stretch; ++k, ++i)
            p.values[i] = flat ? value : uint8_t(pick(0, 255));
    }
    bytes data = rle_encode(p.decoded());
    if (pick(0, 3) == 0) {
        data.resize(size_t(pick(0, int32_t(data.size()))));
        p.trailer = false;
    }
    return p.file(data);
}

// 256-colour pictures placed whole in an 8-bit buffer are decoded straight
// into its rows; in a 32-bit buffer they go through the scanline and the row
// converter. With pixel lookup entry i holding blue i, the two buffers must
// show the same indices, the picture's and those around it (which the
// decoder writes over in the 8-bit rows and puts back).
TEST_F(PcxLoad, RowsDecodedStraightIntoTheBufferMatchTheScanlinePath)
{
    std::mt19937 random(20261208);
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    // The buffers' bytes before the load: each pixel's first, by memory row and column.
    auto prefill = [](size_t row, size_t at) { return uint8_t(row * 131 + at * 31 + 7); };
    for (int32_t round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int32_t width = pick(1, 140), height = pick(1, 12);
        // Often exactly as wide as the buffer, so that a row's neighbours
        // are the row above it.
        const int32_t columns = width + (pick(0, 1) ? 0 : pick(0, 20)), rows = height + pick(0, 6);
        const bytes file = random_picture_file(random, pcx_format::indexed8, width, height, pick(0, 1) ? 0 : pick(0, 24));
        const int32_t x = pick(0, 2) ? pick(0, columns - width) : pick(-3, 3);
        const int32_t y = pick(-4, rows - height + 4);
        bytes shown[2]; // the pixels' indices, row after row: 8 bits, then 32 bits
        for (const int32_t depth : {8, 32}) {
            const int32_t handle = make_buffer(columns, rows, depth);
            const auto stride = size_t(pm_state.active_stride);
            const size_t size = stride * size_t(pm_state.active_height);
            for (size_t i = 0; i < size; ++i)
                pm_state.active_bits[i] = depth == 8 ? prefill(i / stride, i % stride)
                                          : i % 4 == 0 ? prefill(i / stride, i % stride / 4) : 0;
            for (int32_t i = 0; i < 256; ++i)
                pm::set_lookup32(i, 0, 0, uint8_t(i));
            pm_move_cursor(x, y);
            ASSERT_EQ(load(file, pcx_at_cursor | pcx_keep_palette), 0);
            for (int32_t row = 0; row < rows; ++row)
                for (int32_t column = 0; column < pm_state.active_width; ++column)
                    shown[depth / 32].push_back(*pixel_at(column, row));
            pm_buffer_deactivate();
            pm_buffer_destroy(handle);
        }
        EXPECT_TRUE(same_bytes(shown[1], shown[0])) << width << " x " << height << " at " << x << ", " << y;
    }
}

// ---- The codec's decoding --------------------------------------------------------

// pm_pcx_decode reads what a load reads, in every format: every layout with
// and without pcx_all_layouts (greyscale, a header palette only, pads, data
// cut short), the pages of a DCX file and what pm_load_pcx takes of it, and
// random headers over random data.
TEST_F(PcxLoad, TheCodecDecodesWhatALoadShows)
{
    std::mt19937 random(20261209);
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    std::vector<bytes> pages;
    for (const pcx_format format :
         {pcx_format::mono, pcx_format::planar16, pcx_format::indexed8, pcx_format::planar24, pcx_format::packed4,
          pcx_format::packed2, pcx_format::planar4, pcx_format::planar8, pcx_format::planar32})
        for (int32_t round = 0; round < 6; ++round) {
            SCOPED_TRACE("format " + std::to_string(int(format)) + ", round " + std::to_string(round));
            bytes file = random_picture_file(random, format, pick(1, 70), pick(1, 9), pick(0, 2) ? 0 : pick(0, 6));
            if (round == 1)
                file[68] = 2; // PaletteInfo: greyscale
            if (round == 2)
                file[1] = 3; // a version without a trailer palette
            for (const int32_t flags : {0, int32_t(pcx_all_layouts)})
                EXPECT_TRUE(pixmora_test::codec_agrees_with_load(file, flags, -1)) << "flags " << flags;
            pages.push_back(file);
        }
    const bytes container = dcx_file({pages[3], pages[20], pages[40]});
    for (const int32_t flags : {0, int32_t(pcx_all_layouts)})
        for (int32_t page = -2; page <= 3; ++page)
            EXPECT_TRUE(pixmora_test::codec_agrees_with_load(container, flags, page)) << "flags " << flags;
    for (int32_t round = 0; round < 200; ++round)
        EXPECT_TRUE(pixmora_test::codec_agrees_with_load(random_header_file(random), pick(0, 1) * pcx_all_layouts,
                                                         pick(-1, 0)))
            << "random header, round " << round;
}

} // namespace
