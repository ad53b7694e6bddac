// The codec calls with no library started: seeded pictures encoded in every
// layout from every format and decoded back, DCX files, and the refusals,
// which write nothing. The library's state stays as it was throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>

namespace {

using bytes = std::vector<uint8_t>;

struct sink {
    bytes out;
    int32_t calls_left = -1; // calls taken before the next is refused; -1 takes all
};

int32_t collect(void *context, const void *data, uint32_t size)
{
    auto *to = static_cast<sink *>(context);
    if (to->calls_left == 0)
        return 1;
    if (to->calls_left > 0)
        --to->calls_left;
    const auto *from = static_cast<const uint8_t *>(data);
    to->out.insert(to->out.end(), from, from + size);
    return 0;
}

int32_t bytes_of(int32_t format)
{
    return format == PM_PIXELS_INDEX8 ? 1 : format == PM_PIXELS_RGB8 ? 3 : 4;
}

// A picture in memory with the colours of its pixels, top row first.
struct picture {
    pm_picture view{};
    bytes pixels;
    bytes rgb; // per pixel

    picture(int32_t format, int32_t width, int32_t height, uint64_t pad)
    {
        view.format = format;
        view.width = width;
        view.height = height;
        view.stride = pad == 0 ? 0 : uint64_t(width * bytes_of(format)) + pad;
        const uint64_t stride = pad == 0 ? uint64_t(width * bytes_of(format)) : view.stride;
        pixels.assign(size_t(stride * uint64_t(height)), 0x5A);
        view.pixels = pixels.data();
    }
    size_t offset(int32_t x, int32_t y) const
    {
        const uint64_t stride = view.stride != 0 ? view.stride : uint64_t(view.width * bytes_of(view.format));
        return size_t(stride * uint64_t(y) + uint64_t(x * bytes_of(view.format)));
    }
    uint8_t *at(int32_t x, int32_t y) { return &pixels[offset(x, y)]; }
    uint8_t at(int32_t x, int32_t y) const { return pixels[offset(x, y)]; }
    size_t distinct() const
    {
        std::set<uint32_t> seen;
        for (size_t i = 0; i < rgb.size(); i += 3)
            seen.insert(uint32_t(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]));
        return seen.size();
    }
};

// A seeded picture of at most `colours` distinct colours (more than 256 only
// for RGB8 and RGBA8), rows sometimes padded.
picture random_picture(std::mt19937 &random, int32_t format, int32_t colours)
{
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    picture p(format, pick(1, 70), pick(1, 12), pick(0, 1) ? 0 : uint64_t(pick(1, 9)));
    bytes palette(size_t(3 * colours));
    for (int32_t i = 0; i < colours; ++i) // distinct: red and blue spell the index
        palette[size_t(3 * i)] = uint8_t(i), palette[size_t(3 * i + 1)] = uint8_t(pick(0, 255)),
                          palette[size_t(3 * i + 2)] = uint8_t(i >> 8);
    if (format == PM_PIXELS_INDEX8) {
        p.view.colours = colours;
        std::memcpy(p.view.palette, palette.data(), palette.size());
    }
    // Areas of one colour and noisy stretches.
    int32_t index = 0;
    for (int32_t y = 0; y < p.view.height; ++y)
        for (int32_t x = 0; x < p.view.width; ++x) {
            if (pick(0, 3) == 0)
                index = pick(0, colours - 1);
            uint8_t *pixel = p.at(x, y);
            const uint8_t *colour = &palette[size_t(3 * index)];
            if (format == PM_PIXELS_INDEX8)
                pixel[0] = uint8_t(index);
            else
                std::memcpy(pixel, colour, 3);
            if (format == PM_PIXELS_RGBA8)
                pixel[3] = uint8_t(pick(0, 255)); // ignored
            p.rgb.insert(p.rgb.end(), colour, colour + 3);
        }
    return p;
}

// Colours each layout holds; 0 for RGB planes, which hold any.
int32_t capacity_of(int32_t layout, int32_t format)
{
    switch (layout) {
    case pcx_layout_mono:
        return 2;
    case pcx_layout_cga4:
    case pcx_layout_planes4:
        return 4;
    case pcx_layout_planes8:
        return 8;
    case pcx_layout_packed16:
    case pcx_layout_ega16:
        return 16;
    case pcx_layout_vga256:
        return 256;
    case pcx_layout_auto:
        return format == PM_PIXELS_INDEX8 ? 256 : 0;
    default:
        return 0;
    }
}

// Decodes a file in a format and compares its colours with the picture's;
// the first difference otherwise.
::testing::AssertionResult decodes_to(const bytes &file, int32_t page, int32_t format, const picture &p,
                                      pm_picture *decoded = nullptr)
{
    pm_picture out{};
    out.format = format;
    bytes pixels(size_t(p.view.width * p.view.height * bytes_of(format)));
    out.pixels = pixels.data();
    if (const int32_t result = pm_pcx_decode(file.data(), file.size(), pcx_all_layouts, page, &out); result != 0)
        return ::testing::AssertionFailure() << "decode gives " << result;
    if (out.width != p.view.width || out.height != p.view.height)
        return ::testing::AssertionFailure() << "decoded " << out.width << " x " << out.height;
    for (size_t i = 0; i < size_t(p.view.width * p.view.height); ++i) {
        const uint8_t *got = &pixels[i * size_t(bytes_of(format))];
        const uint8_t *colour = format == PM_PIXELS_INDEX8 ? out.palette + 3 * got[0] : got;
        if (!std::equal(colour, colour + 3, &p.rgb[3 * i]) || (format == PM_PIXELS_RGBA8 && got[3] != 255))
            return ::testing::AssertionFailure() << "first difference at pixel " << i % size_t(p.view.width) << ", "
                                                 << i / size_t(p.view.width);
    }
    if (decoded != nullptr) {
        *decoded = out;
        decoded->pixels = nullptr;
    }
    return ::testing::AssertionSuccess();
}

class PcxCodec : public ::testing::Test {
protected:
    void SetUp() override { std::memcpy(&state_before_, &pm_state, sizeof pm_state); }
    void TearDown() override
    {
        EXPECT_EQ(std::memcmp(&state_before_, &pm_state, sizeof pm_state), 0) << "the library's state changed";
    }

private:
    pm_state_record state_before_;
};

// Every format into every layout: a picture with more colours than the
// layout holds is refused before any byte; any other decodes back to its
// colours, and INDEX8 pictures whose indices the layout holds to their
// indices and palette. A monochrome picture's two colours are in its
// header. The same pictures as the pages of DCX files give the same bytes.
TEST_F(PcxCodec, EveryFormatRoundTripsThroughEveryLayout)
{
    std::mt19937 random(20261210);
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    const int32_t colour_counts[] = {1, 2, 3, 4, 5, 8, 9, 16, 17, 100, 256, 300};
    for (int32_t round = 0; round < 40; ++round) {
        std::vector<picture> pictures;
        for (const int32_t format : {PM_PIXELS_INDEX8, PM_PIXELS_RGB8, PM_PIXELS_RGBA8}) {
            const int32_t colours = colour_counts[pick(0, format == PM_PIXELS_INDEX8 ? 10 : 11)];
            pictures.push_back(random_picture(random, format, colours));
        }
        for (int32_t layout = pcx_layout_auto; layout <= pcx_layout_rgb24; ++layout) {
            std::vector<bytes> files;
            for (const picture &p : pictures) {
                const int32_t format = p.view.format;
                SCOPED_TRACE("round " + std::to_string(round) + ", layout " + std::to_string(layout) + ", format " +
                             std::to_string(format) + ", " + std::to_string(p.distinct()) + " colours");
                const int32_t capacity = capacity_of(layout, format);
                const bool kept = format == PM_PIXELS_INDEX8 && capacity != 0 && p.view.colours <= capacity;
                const bool fits = capacity == 0 || kept || int32_t(p.distinct()) <= capacity;
                sink to;
                const int32_t result = pm_pcx_encode(&p.view, layout, collect, &to);
                if (!fits) {
                    EXPECT_EQ(result, PM_PCX_TOO_MANY_COLOURS);
                    EXPECT_TRUE(to.out.empty()) << "bytes written before the refusal";
                    continue;
                }
                ASSERT_EQ(result, 0);
                files.push_back(to.out);
                EXPECT_TRUE(decodes_to(to.out, -1, PM_PIXELS_RGBA8, p));
                EXPECT_TRUE(decodes_to(to.out, 0, PM_PIXELS_RGB8, p));
                if (layout == pcx_layout_mono && p.distinct() == 2) {
                    std::set<bytes> header = {bytes(&to.out[16], &to.out[19]), bytes(&to.out[19], &to.out[22])};
                    std::set<bytes> colours = {bytes(&p.rgb[0], &p.rgb[3])};
                    for (size_t i = 3; i < p.rgb.size() && colours.size() < 2; i += 3)
                        colours.insert(bytes(&p.rgb[i], &p.rgb[i + 3]));
                    EXPECT_EQ(header, colours) << "the header palette";
                }
                if (format != PM_PIXELS_INDEX8)
                    continue;
                pm_picture indexed{};
                if (capacity == 0) { // RGB planes have no indices
                    indexed.format = PM_PIXELS_INDEX8;
                    EXPECT_EQ(pm_pcx_decode(to.out.data(), to.out.size(), pcx_all_layouts, -1, &indexed), 3);
                    continue;
                }
                ASSERT_TRUE(decodes_to(to.out, -1, PM_PIXELS_INDEX8, p, &indexed));
                if (kept) {
                    picture again(PM_PIXELS_INDEX8, p.view.width, p.view.height, 0);
                    again.view.pixels = again.pixels.data();
                    ASSERT_EQ(pm_pcx_decode(to.out.data(), to.out.size(), pcx_all_layouts, -1, &again.view), 0);
                    for (int32_t y = 0; y < p.view.height; ++y)
                        for (int32_t x = 0; x < p.view.width; ++x)
                            ASSERT_EQ(again.pixels[again.offset(x, y)], p.at(x, y)) << x << ", " << y;
                    EXPECT_EQ(std::memcmp(again.view.palette, p.view.palette, size_t(3 * p.view.colours)), 0);
                }
            }
            if (files.size() != pictures.size())
                continue;
            // The pictures as the pages of one DCX file.
            std::vector<pm_picture> views;
            for (const picture &p : pictures)
                views.push_back(p.view);
            sink to;
            ASSERT_EQ(pm_dcx_encode(views.data(), int32_t(views.size()), layout, collect, &to), 0);
            const size_t directory = 4 + 4 * (views.size() + 1);
            size_t at = directory;
            for (size_t i = 0; i < files.size(); ++i) {
                const uint32_t offset = uint32_t(to.out[4 + 4 * i] | to.out[5 + 4 * i] << 8 |
                                                 to.out[6 + 4 * i] << 16 | uint32_t(to.out[7 + 4 * i]) << 24);
                EXPECT_EQ(offset, at) << "page " << i;
                EXPECT_TRUE(std::equal(files[i].begin(), files[i].end(), to.out.begin() + long(at))) << "page " << i;
                EXPECT_TRUE(decodes_to(to.out, int32_t(i), PM_PIXELS_RGBA8, pictures[i])) << "page " << i;
                at += files[i].size();
            }
            EXPECT_EQ(at, to.out.size());
        }
    }
}

// Bad arguments, refusals and failures: each gives its result and writes
// nothing, neither to the caller's picture nor through the callback.
TEST_F(PcxCodec, RefusalsWriteNothing)
{
    std::mt19937 random(20261211);
    picture p = random_picture(random, PM_PIXELS_RGB8, 5);
    sink to;
    ASSERT_EQ(pm_pcx_encode(&p.view, pcx_layout_ega16, collect, &to), 0);
    const bytes file = to.out;
    const bytes planes_file = [&] {
        sink planes;
        EXPECT_EQ(pm_pcx_encode(&p.view, pcx_layout_rgb24, collect, &planes), 0);
        return planes.out;
    }();

    // Decoding: the picture's fields and pixels stay as they were.
    const struct {
        const char *what;
        const bytes *file;
        int32_t format, page;
        uint64_t stride;
        int32_t result;
    } decodes[] = {
        {"format 0", &file, 0, -1, 0, PM_PCX_BAD_ARGUMENT},
        {"format 4", &file, 4, -1, 0, PM_PCX_BAD_ARGUMENT},
        {"a stride a byte too small", &file, PM_PIXELS_RGBA8, -1, uint64_t(4 * p.view.width - 1),
         PM_PCX_BAD_ARGUMENT},
        {"page -2", &file, PM_PIXELS_RGBA8, -2, 0, PM_PCX_NO_PAGE},
        {"page 1 of a plain picture", &file, PM_PIXELS_RGBA8, 1, 0, PM_PCX_NO_PAGE},
        {"indices of colour planes", &planes_file, PM_PIXELS_INDEX8, -1, 0, PM_PCX_UNSUPPORTED},
    };
    for (const auto &c : decodes) {
        SCOPED_TRACE(c.what);
        bytes pixels(size_t(4 * p.view.width * p.view.height), 0x77);
        pm_picture out{};
        std::memset(&out, 0x33, sizeof out);
        out.format = c.format;
        out.stride = c.stride;
        out.pixels = pixels.data();
        const pm_picture before = out;
        EXPECT_EQ(pm_pcx_decode(c.file->data(), c.file->size(), 0, c.page, &out), c.result);
        EXPECT_EQ(std::memcmp(&before, &out, sizeof out), 0);
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x77), long(pixels.size()));
    }
    EXPECT_EQ(pm_pcx_decode(file.data(), file.size(), 0, -1, nullptr), PM_PCX_BAD_ARGUMENT);
    pm_picture out{};
    out.format = PM_PIXELS_RGBA8;
    EXPECT_EQ(pm_pcx_decode(nullptr, 5, 0, -1, &out), PM_PCX_BAD_ARGUMENT);
    EXPECT_EQ(pm_pcx_decode(file.data(), 127, 0, -1, &out), PM_PCX_INVALID);
    // A page longer than 32-bit lengths reach; with no DCX pages to look for, its length alone refuses it.
    EXPECT_EQ(pm_pcx_decode(file.data(), uint64_t{1} << 32, 0, -1, &out), PM_PCX_BAD_ARGUMENT);
    // A size query fills the size, the colours and the palette a whole
    // decoding gives, in any format.
    std::memset(out.palette, 0x44, sizeof out.palette);
    out.format = PM_PIXELS_RGBA8;
    ASSERT_EQ(pm_pcx_decode(file.data(), file.size(), 0, -1, &out), 0);
    EXPECT_EQ(out.width, p.view.width);
    EXPECT_EQ(out.height, p.view.height);
    EXPECT_EQ(out.colours, 16);
    pm_picture whole{};
    whole.format = PM_PIXELS_INDEX8;
    std::vector<uint8_t> indices(size_t(out.width) * size_t(out.height));
    whole.pixels = indices.data();
    ASSERT_EQ(pm_pcx_decode(file.data(), file.size(), 0, -1, &whole), 0);
    EXPECT_EQ(std::memcmp(out.palette, whole.palette, sizeof out.palette), 0);

    // Encoding.
    picture indexed = random_picture(random, PM_PIXELS_INDEX8, 3);
    const struct {
        const char *what;
        std::function<void(pm_picture &)> change;
        int32_t layout, result;
    } encodes[] = {
        {"no pixels", [](pm_picture &v) { v.pixels = nullptr; }, 0, PM_PCX_BAD_ARGUMENT},
        {"format 4", [](pm_picture &v) { v.format = 4; }, 0, PM_PCX_BAD_ARGUMENT},
        {"width 0", [](pm_picture &v) { v.width = 0; }, 0, PM_PCX_BAD_ARGUMENT},
        {"height -1", [](pm_picture &v) { v.height = -1; }, 0, PM_PCX_BAD_ARGUMENT},
        {"wider than a header holds",
         [](pm_picture &v) {
             static bytes wide(65535, 1);
             v.width = 65535, v.height = 1, v.pixels = wide.data();
         },
         0, PM_PCX_BAD_ARGUMENT},
        {"a stride a byte too small", [](pm_picture &v) { v.stride = uint64_t(v.width - 1); }, 0,
         PM_PCX_BAD_ARGUMENT},
        {"no colours", [](pm_picture &v) { v.colours = 0; }, 0, PM_PCX_BAD_ARGUMENT},
        {"257 colours", [](pm_picture &v) { v.colours = 257; }, 0, PM_PCX_BAD_ARGUMENT},
        {"an index past the colours", [](pm_picture &v) { static_cast<uint8_t *>(v.pixels)[0] = 3; }, 0,
         PM_PCX_BAD_ARGUMENT},
        {"layout -1", [](pm_picture &) {}, -1, PM_PCX_BAD_ARGUMENT},
        {"layout 9", [](pm_picture &) {}, 9, PM_PCX_BAD_ARGUMENT},
        {"three colours in two", [](pm_picture &v) { static_cast<uint8_t *>(v.pixels)[0] = 0, static_cast<uint8_t *>(v.pixels)[1] = 2; },
         pcx_layout_mono, PM_PCX_TOO_MANY_COLOURS},
    };
    for (const auto &c : encodes) {
        SCOPED_TRACE(c.what);
        picture changed = indexed;
        changed.view.pixels = changed.pixels.data();
        changed.view.stride = 0;
        changed.view.colours = 3;
        std::fill(changed.pixels.begin(), changed.pixels.end(), 1);
        c.change(changed.view);
        sink nothing;
        EXPECT_EQ(pm_pcx_encode(&changed.view, c.layout, collect, &nothing), c.result);
        EXPECT_EQ(pm_dcx_encode(&changed.view, 1, c.layout, collect, &nothing), c.result);
        EXPECT_TRUE(nothing.out.empty());
    }
    sink nothing;
    EXPECT_EQ(pm_pcx_encode(nullptr, 0, collect, &nothing), PM_PCX_BAD_ARGUMENT);
    EXPECT_EQ(pm_pcx_encode(&p.view, 0, nullptr, nullptr), PM_PCX_BAD_ARGUMENT);
    EXPECT_EQ(pm_dcx_encode(nullptr, 1, 0, collect, &nothing), PM_PCX_BAD_ARGUMENT);
    EXPECT_EQ(pm_dcx_encode(&p.view, 0, 0, collect, &nothing), PM_PCX_BAD_ARGUMENT);
    EXPECT_EQ(pm_dcx_encode(&p.view, 1, 0, nullptr, nullptr), PM_PCX_BAD_ARGUMENT);
    EXPECT_TRUE(nothing.out.empty());

    // A write refused stops the encoding at once: the picture's one write,
    // a DCX file's directory or its page.
    sink refusing;
    refusing.calls_left = 0;
    EXPECT_EQ(pm_pcx_encode(&p.view, 0, collect, &refusing), PM_PCX_WRITE_FAILED);
    for (const int32_t calls : {0, 1}) {
        refusing.calls_left = calls;
        EXPECT_EQ(pm_dcx_encode(&p.view, 1, 0, collect, &refusing), PM_PCX_WRITE_FAILED);
    }
}

// A DCX file holds up to 1023 pages, and a page that cannot be encoded
// refuses the whole file before its first byte.
TEST_F(PcxCodec, DcxFilesOfUpTo1023Pages)
{
    std::mt19937 random(20261212);
    std::vector<picture> pictures;
    for (int32_t i = 0; i < 1024; ++i)
        pictures.push_back(random_picture(random, PM_PIXELS_RGB8, 2));
    std::vector<pm_picture> views;
    for (picture &p : pictures)
        views.push_back(p.view);
    sink to;
    EXPECT_EQ(pm_dcx_encode(views.data(), 1024, pcx_layout_mono, collect, &to), PM_PCX_BAD_ARGUMENT);
    EXPECT_TRUE(to.out.empty());
    views[600].format = 0;
    EXPECT_EQ(pm_dcx_encode(views.data(), 1023, pcx_layout_mono, collect, &to), PM_PCX_BAD_ARGUMENT);
    EXPECT_TRUE(to.out.empty());
    views[600].format = PM_PIXELS_RGB8;
    ASSERT_EQ(pm_dcx_encode(views.data(), 1023, pcx_layout_mono, collect, &to), 0);
    for (const int32_t page : {0, 600, 1022}) {
        EXPECT_TRUE(decodes_to(to.out, page, PM_PIXELS_RGB8, pictures[size_t(page)])) << "page " << page;
    }
    pm_picture out{};
    out.format = PM_PIXELS_RGB8;
    EXPECT_EQ(pm_pcx_decode(to.out.data(), to.out.size(), 0, 1023, &out), PM_PCX_NO_PAGE);
}

} // namespace
