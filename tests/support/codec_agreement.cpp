#include "support/codec_agreement.h"

#include <algorithm>
#include <string>

#include "support/library_fixture.h"

namespace pixmora_test {
namespace {

int32_t bytes_of(int32_t format)
{
    return format == PM_PIXELS_INDEX8 ? 1 : format == PM_PIXELS_RGB8 ? 3 : 4;
}

const char *name_of(int32_t format)
{
    return format == PM_PIXELS_INDEX8 ? "INDEX8" : format == PM_PIXELS_RGB8 ? "RGB8" : "RGBA8";
}

} // namespace

::testing::AssertionResult codec_agrees_with_load(const std::vector<uint8_t> &file, int32_t flags, int32_t page)
{
    std::vector<uint8_t> rgba; // the RGBA8 decoding, for INDEX8's palette
    for (const int32_t format : {PM_PIXELS_RGBA8, PM_PIXELS_RGB8, PM_PIXELS_INDEX8}) {
        auto failure = [&] { return ::testing::AssertionFailure() << name_of(format) << ", page " << page << ": "; };
        pm_picture size{};
        size.format = format;
        const int32_t asked = pm_pcx_decode(file.data(), file.size(), flags, page, &size);
        const bool indexed = format == PM_PIXELS_INDEX8;
        const int32_t handle = asked == 0 ? make_buffer(size.width, size.height, indexed ? 8 : 32)
                                          : make_buffer(1, 1, indexed ? 8 : 32);
        if (handle < 0)
            return failure() << "no buffer";
        if (!indexed) {
            const uint8_t black[768] = {};
            pm_set_palette_entries(0, 256, black);
        }
        pm_move_cursor(0, 0);
        pm_set_input_block(file.data(), uint32_t(file.size()));
        const int32_t load_flags = flags | pcx_from_memory | pcx_at_cursor | (indexed ? pcx_no_reduction : 0);
        const int32_t loaded =
            page == -1 ? pm_load_pcx(nullptr, load_flags) : pm_load_pcx_page(nullptr, load_flags, page);
        auto done = [&](::testing::AssertionResult result) {
            pm_buffer_deactivate();
            pm_buffer_destroy(handle);
            return result;
        };
        if (loaded != asked)
            return done(failure() << "the load gives " << loaded << ", the size query " << asked);
        if (asked != 0) {
            done(::testing::AssertionSuccess());
            continue;
        }
        // Rows 3 bytes longer than the pixels, to hold the stride.
        const int32_t width = size.width, height = size.height, bytes = bytes_of(format);
        const size_t stride = size_t(width * bytes + 3);
        std::vector<uint8_t> pixels(stride * size_t(height), 0xEE);
        pm_picture picture{};
        picture.format = format;
        picture.stride = stride;
        picture.pixels = pixels.data();
        if (const int32_t decoded = pm_pcx_decode(file.data(), file.size(), flags, page, &picture); decoded != 0)
            return done(failure() << "decode gives " << decoded);
        if (picture.width != width || picture.height != height || picture.colours != size.colours)
            return done(failure() << "the size differs from the size query's");
        std::vector<uint8_t> shown(size_t(3 * width));
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t *row = &pixels[size_t(y) * stride];
            if (!indexed)
                pm_read_row(0, y, width, PM_ROW_RGB24, shown.data());
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t *got = row + bytes * x;
                bool same = true;
                if (indexed) {
                    const int32_t offset = picture.colours <= 16 ? 10 : 0;
                    const uint8_t *colour = &rgba[size_t(4 * (y * width + x))];
                    same = *pixel_at(x, y) == uint8_t(got[0] + offset) && got[0] < picture.colours &&
                           std::equal(colour, colour + 3, picture.palette + 3 * got[0]);
                } else {
                    same = std::equal(got, got + 3, &shown[size_t(3 * x)]) && (bytes == 3 || got[3] == 255);
                }
                if (!same)
                    return done(failure() << "first difference at (" << x << ", " << y << ")");
            }
            if (row[width * bytes] != 0xEE)
                return done(failure() << "row " << y << " written past its pixels");
            if (format == PM_PIXELS_RGBA8)
                rgba.insert(rgba.end(), row, row + 4 * width);
        }
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
    return ::testing::AssertionSuccess();
}

} // namespace pixmora_test
