// Image transfer: the cursor, image sizes, capture and paste at every depth,
// region copies, and the clipping of rectangles that reach outside a buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/internal.h"
#include <pixmora/pixmora.h>
#include "support/library_fixture.h"

namespace {

using bytes = std::vector<uint8_t>;
using pixmora_test::LibraryTest;
using pixmora_test::make_buffer;
using pixmora_test::pixel_at;
using pixmora_test::start_library;

class TransferTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        start_library();
    }
};

// ---- buffer helpers ----------------------------------------------------------

// Byte column bx of row y (counted from the top) of a buffer.
uint8_t *slot_byte(int32_t handle, int64_t bx, int64_t y)
{
    return pm_state.slot_bits[handle] + (pm_state.slot_height[handle] - 1 - y) * pm_state.slot_stride[handle] + bx;
}

std::size_t slot_size(int32_t handle)
{
    return static_cast<std::size_t>(pm_state.slot_stride[handle]) * pm_state.slot_height[handle];
}

bytes snapshot(int32_t handle)
{
    const uint8_t *bits = pm_state.slot_bits[handle];
    return bytes(bits, bits + slot_size(handle));
}

void fill_random(int32_t handle, std::mt19937 &random)
{
    uint8_t *bits = pm_state.slot_bits[handle];
    for (std::size_t i = 0; i < slot_size(handle); ++i)
        bits[i] = static_cast<uint8_t>(random());
}

// Where two snapshots of a buffer first differ, as byte column and row.
std::string first_difference(int32_t handle, const bytes &got, const bytes &want)
{
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            const std::size_t stride = static_cast<std::size_t>(pm_state.slot_stride[handle]);
            std::ostringstream out;
            out << "first difference at byte column " << i % stride << " of row "
                << pm_state.slot_height[handle] - 1 - static_cast<int64_t>(i / stride) << ": got "
                << int{got[i]} << ", want " << int{want[i]};
            return out.str();
        }
    }
    return got.size() == want.size() ? "no difference" : "sizes differ";
}

std::string first_difference(const bytes &got, const bytes &want, int32_t width)
{
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            std::ostringstream out;
            out << "first difference at image column " << i % width << " of image row " << i / width << ": got "
                << int{got[i]} << ", want " << int{want[i]};
            return out.str();
        }
    }
    return got.size() == want.size() ? "no difference" : "sizes differ";
}

// ---- pixel formats -----------------------------------------------------------

// Entry i of pixel_lookup as a 4-byte entry (0, R, G, B) or a 16-bit one.
void set_entry(int32_t depth, int32_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t fill = 0)
{
    if (depth == 16) {
        pm::set_lookup16(index, pm::rgb565(r, g, b));
    } else {
        pm::set_lookup32(index, r, g, b);
        pm_state.pixel_lookup[4 * index] = fill;
    }
}

// The pixel a buffer of this depth holds for lookup entry i: B, G, R (, fill)
// from a 4-byte entry, the 16-bit entry as it is, or the index at 8 bits.
bytes pixel_for_entry(int32_t depth, int32_t index)
{
    const uint8_t *e = pm_state.pixel_lookup;
    switch (depth) {
    case 32: return {e[4 * index + 3], e[4 * index + 2], e[4 * index + 1], e[4 * index]};
    case 24: return {e[4 * index + 3], e[4 * index + 2], e[4 * index + 1]};
    case 16: return {e[2 * index], e[2 * index + 1]};
    default: return {static_cast<uint8_t>(index)};
    }
}

// What capture must give for a pixel: the lowest entry whose pixel form is
// exactly the pixel's bytes (at 24 bits only entries with a 0 fill byte
// qualify); 0 when none is.
uint8_t reference_index(int32_t depth, const uint8_t *pixel)
{
    const int32_t size = pm::bytes_per_pixel(depth);
    if (size == 1)
        return pixel[0];
    for (int32_t i = 0; i < 256; ++i) {
        if (depth == 24 && pm_state.pixel_lookup[4 * i] != 0)
            continue;
        if (std::memcmp(pixel_for_entry(depth, i).data(), pixel, static_cast<std::size_t>(size)) == 0)
            return static_cast<uint8_t>(i);
    }
    return 0;
}

// A lookup table drawn from a few colours, so that most colours stand at
// several indices, and some 4-byte entries with a non-zero fill byte.
void random_lookup(int32_t depth, std::mt19937 &random)
{
    for (int32_t i = 0; i < 256; ++i) {
        const auto colour = static_cast<uint32_t>(random() % 24);
        const auto fill = static_cast<uint8_t>(random() % 16 == 0 ? 1 + random() % 255 : 0);
        set_entry(depth, i, static_cast<uint8_t>(colour * 10), static_cast<uint8_t>(255 - colour * 8),
                  static_cast<uint8_t>(colour * 40), fill);
    }
}

// Fills a buffer with pixels of table entries, and now and then bytes that
// match no entry.
void fill_with_entries(int32_t handle, int32_t depth, std::mt19937 &random)
{
    const int32_t size = pm::bytes_per_pixel(depth);
    const int32_t columns = pm_state.slot_stride[handle] / size;
    for (int32_t y = 0; y < pm_state.slot_height[handle]; ++y) {
        for (int32_t x = 0; x < columns; ++x) {
            uint8_t *pixel = slot_byte(handle, static_cast<int64_t>(x) * size, y);
            if (random() % 8 == 0) {
                for (int32_t i = 0; i < size; ++i)
                    pixel[i] = static_cast<uint8_t>(random());
            } else {
                const bytes value = pixel_for_entry(depth, static_cast<int32_t>(random() % 256));
                std::memcpy(pixel, value.data(), value.size());
            }
        }
    }
}

const int32_t every_depth[] = {8, 16, 24, 32};

// ---- cursor and image size ---------------------------------------------------

TEST_F(TransferTest, CursorKeepsAnyPosition)
{
    EXPECT_EQ(pm_move_cursor(-7, 123456), 0);
    EXPECT_EQ(pm_state.cursor_x, -7);
    EXPECT_EQ(pm_state.cursor_y, 123456);
}

TEST_F(TransferTest, ImageSizeFollowsTheActiveDepth)
{
    EXPECT_EQ(pm_image_size(264, 40), 10560u) << "before any buffer was activated";
    const uint32_t want[] = {10560, 21120, 31680, 31680};
    for (int d = 0; d < 4; ++d) {
        make_buffer(8, 2, every_depth[d]);
        EXPECT_EQ(pm_image_size(264, 40), want[d]) << every_depth[d] << " bits";
    }
    pm_buffer_deactivate();
    EXPECT_EQ(pm_image_size(264, 40), 31680u) << "after deactivation: the last active depth";
}

TEST_F(TransferTest, ImageSizeOfEmptyOrHugeImages)
{
    EXPECT_EQ(pm_image_size(0, 40), 0u);
    EXPECT_EQ(pm_image_size(264, -1), 0u);
    EXPECT_EQ(pm_image_size(-264, -40), 0u);
    EXPECT_EQ(pm_image_size(65536, 65536), UINT32_MAX) << "a size past 32 bits must not wrap";
    make_buffer(8, 2, 24);
    EXPECT_EQ(pm_image_size(40000, 40000), UINT32_MAX);
}

// ---- capture -----------------------------------------------------------------

// An 8-bit buffer whose pixel (x, y) is x + 16 y.
int32_t numbered_buffer(int32_t width, int32_t height)
{
    const int32_t handle = make_buffer(width, height, 8);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            *pixel_at(x, y) = static_cast<uint8_t>(x + 16 * y);
    return handle;
}

TEST_F(TransferTest, CaptureStartsAtTheCursorAndGoesUp)
{
    numbered_buffer(8, 6);
    pm_move_cursor(2, 4);
    bytes image(6, 0xEE);
    EXPECT_EQ(pm_capture_image(image.data(), 3, 2), 0);
    EXPECT_EQ(image, (bytes{0x42, 0x43, 0x44, 0x32, 0x33, 0x34}));

    // The top-left corner, bottom row first.
    pm_move_cursor(0, 2);
    bytes corner(12, 0xEE);
    pm_capture_image(corner.data(), 4, 3);
    EXPECT_EQ(corner, (bytes{0x20, 0x21, 0x22, 0x23, 0x10, 0x11, 0x12, 0x13, 0x00, 0x01, 0x02, 0x03}));
}

// Colour C stands at entries 5 and 9 only; each test pixel's answer is fixed.
TEST_F(TransferTest, CaptureFindsTheLowestMatchingEntry)
{
    for (int32_t depth : {16, 24, 32}) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        make_buffer(8, 1, depth);
        for (int32_t i = 0; i < 256; ++i)
            set_entry(depth, i, static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 0x40);
        set_entry(depth, 5, 0xF8, 0x10, 0x08);
        set_entry(depth, 9, 0xF8, 0x10, 0x08);
        const bytes colour = pixel_for_entry(depth, 5);
        const bytes unknown = depth == 16 ? bytes{0x00, 0x00} : bytes(static_cast<std::size_t>(depth / 8), 0x01);

        const bytes row[] = {colour, unknown, pixel_for_entry(depth, 0), colour, pixel_for_entry(depth, 200),
                             pixel_for_entry(depth, 200), colour, unknown};
        for (int32_t x = 0; x < 8; ++x)
            std::memcpy(pixel_at(x, 0), row[x].data(), row[x].size());
        pm_move_cursor(0, 0);
        bytes image(8, 0xEE);
        pm_capture_image(image.data(), 8, 1);
        EXPECT_EQ(image, (bytes{5, 0, 0, 5, 200, 200, 5, 0}));
    }
}

TEST_F(TransferTest, Capture32BitNeedsAZeroFourthByte)
{
    make_buffer(4, 1, 32);
    set_entry(32, 0, 1, 2, 3);
    set_entry(32, 7, 0x11, 0x22, 0x33);
    const uint8_t pixels[] = {0x33, 0x22, 0x11, 0x00, 0x33, 0x22, 0x11, 0x80, 0x33, 0x22, 0x11, 0x00};
    std::memcpy(pixel_at(0, 0), pixels, sizeof pixels);
    pm_move_cursor(0, 0);
    bytes image(3, 0xEE);
    pm_capture_image(image.data(), 3, 1);
    EXPECT_EQ(image, (bytes{7, 0, 7}));
}

// Many colours at several indices, against a plain search of the whole table.
TEST_F(TransferTest, CaptureMatchesAPlainSearch)
{
    std::mt19937 random(55);
    for (int32_t depth : every_depth) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        const int32_t handle = make_buffer(40, 30, depth);
        random_lookup(depth, random);
        fill_with_entries(handle, depth, random);
        bytes want;
        for (int32_t y = 29; y >= 0; --y)
            for (int32_t x = 0; x < 40; ++x)
                want.push_back(reference_index(depth, pixel_at(x, y)));
        pm_move_cursor(0, 29);
        bytes image(40 * 30, 0xEE);
        pm_capture_image(image.data(), 40, 30);
        EXPECT_EQ(image, want) << first_difference(image, want, 40);
    }
}

// ---- paste -------------------------------------------------------------------

TEST_F(TransferTest, PasteSkipsIndexZero)
{
    for (int32_t depth : every_depth) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        const int32_t handle = make_buffer(8, 4, depth);
        set_entry(depth, 7, 0x12, 0x34, 0x56);
        set_entry(depth, 9, 0xAA, 0xBB, 0xCC);
        std::memset(pm_state.slot_bits[handle], 0xE5, slot_size(handle));
        const bytes before = snapshot(handle);

        const bytes zeros(6, 0);
        pm_move_cursor(1, 2);
        pm_paste_image(zeros.data(), 3, 2);
        EXPECT_EQ(snapshot(handle), before) << "an image of zeros changes nothing";

        const bytes image = {7, 0, 9};
        EXPECT_EQ(pm_paste_image(image.data(), 3, 1), 0);
        bytes want = before;
        const int32_t size = pm::bytes_per_pixel(depth);
        const bytes seven = pixel_for_entry(depth, 7), nine = pixel_for_entry(depth, 9);
        std::memcpy(want.data() + (pixel_at(1, 2) - pm_state.active_bits), seven.data(), seven.size());
        std::memcpy(want.data() + (pixel_at(3, 2) - pm_state.active_bits), nine.data(), nine.size());
        const bytes got = snapshot(handle);
        EXPECT_EQ(got, want) << first_difference(handle, got, want);
        EXPECT_EQ(bytes(pixel_at(1, 2), pixel_at(1, 2) + size),
                  (depth == 32   ? bytes{0x56, 0x34, 0x12, 0x00}
                   : depth == 24 ? bytes{0x56, 0x34, 0x12}
                   : depth == 16 ? bytes{0xAA, 0x11}
                                 : bytes{7}));
    }
}

TEST_F(TransferTest, CaptureThenPasteLeaves8BitBufferAlone)
{
    std::mt19937 random(8);
    const int32_t handle = make_buffer(20, 16, 8);
    fill_random(handle, random);
    const bytes before = snapshot(handle);
    pm_move_cursor(3, 10);
    bytes image(9 * 7);
    pm_capture_image(image.data(), 9, 7);
    pm_paste_image(image.data(), 9, 7);
    const bytes after = snapshot(handle);
    EXPECT_EQ(after, before) << first_difference(handle, after, before);
}

// A deep buffer whose entries are all different gives back what was pasted.
TEST_F(TransferTest, PasteThenCaptureRoundTrips)
{
    std::mt19937 random(9);
    for (int32_t depth : {16, 24, 32}) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        make_buffer(16, 16, depth);
        for (int32_t i = 0; i < 256; ++i)
            set_entry(depth, i, static_cast<uint8_t>(i & 0xF0), static_cast<uint8_t>(i << 4), 0x18);
        bytes image(16 * 16);
        for (uint8_t &index : image)
            index = static_cast<uint8_t>(1 + random() % 255);
        pm_move_cursor(0, 15);
        pm_paste_image(image.data(), 16, 16);
        bytes back(image.size(), 0);
        pm_capture_image(back.data(), 16, 16);
        EXPECT_EQ(back, image) << first_difference(back, image, 16);
    }
}

// ---- refusals and clipping of capture and paste ----------------------------

TEST_F(TransferTest, CaptureAndPasteRefuseEmptyImagesAndNoBuffer)
{
    const int32_t handle = make_buffer(8, 8, 8);
    std::memset(pm_state.slot_bits[handle], 0x33, slot_size(handle));
    const bytes before = snapshot(handle);
    const bytes ones(64, 1);
    bytes image(64, 0xEE);
    pm_move_cursor(2, 5);
    const int32_t sizes[][2] = {{0, 3}, {3, 0}, {-1, 3}, {3, -8}, {INT32_MIN, INT32_MIN}};
    for (const auto &size : sizes) {
        EXPECT_EQ(pm_capture_image(image.data(), size[0], size[1]), 0);
        EXPECT_EQ(pm_paste_image(ones.data(), size[0], size[1]), 0);
    }
    pm_buffer_deactivate();
    EXPECT_EQ(pm_capture_image(image.data(), 3, 3), 0);
    EXPECT_EQ(pm_paste_image(ones.data(), 3, 3), 0);
    EXPECT_EQ(image, bytes(64, 0xEE));
    EXPECT_EQ(snapshot(handle), before);
}

// Rectangles reaching past any edge: only the part inside the buffer is read
// or written, and image bytes of pixels outside stay as they were. The image
// arrays are exactly width x height, so a stray access shows under the
// sanitizers.
TEST_F(TransferTest, CaptureAndPasteClipToTheBuffer)
{
    std::mt19937 random(77);
    const int32_t width = 12, height = 9;
    for (int32_t depth : every_depth) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        const int32_t handle = make_buffer(width, height, depth);
        const int32_t size = pm::bytes_per_pixel(depth);
        random_lookup(depth, random);
        for (int round = 0; round < 150; ++round) {
            fill_with_entries(handle, depth, random);
            const auto x = static_cast<int32_t>(random() % 40) - 18;
            const auto y = static_cast<int32_t>(random() % 40) - 14;
            const auto w = static_cast<int32_t>(1 + random() % 24);
            const auto h = static_cast<int32_t>(1 + random() % 24);
            SCOPED_TRACE("cursor (" + std::to_string(x) + ", " + std::to_string(y) + "), image " + std::to_string(w) +
                         " x " + std::to_string(h));
            pm_move_cursor(x, y);
            const auto inside = [&](int32_t k, int32_t c) {
                return x + c >= 0 && x + c < width && y - k >= 0 && y - k < height;
            };

            bytes captured(static_cast<std::size_t>(w) * h, 0xEE), want = captured;
            for (int32_t k = 0; k < h; ++k)
                for (int32_t c = 0; c < w; ++c)
                    if (inside(k, c))
                        want[static_cast<std::size_t>(k) * w + c] = reference_index(depth, pixel_at(x + c, y - k));
            pm_capture_image(captured.data(), w, h);
            ASSERT_EQ(captured, want) << first_difference(captured, want, w);

            bytes image(static_cast<std::size_t>(w) * h);
            for (uint8_t &index : image)
                index = static_cast<uint8_t>(random() % 3 == 0 ? 0 : random());
            bytes buffer = snapshot(handle);
            for (int32_t k = 0; k < h; ++k) {
                for (int32_t c = 0; c < w; ++c) {
                    const uint8_t index = image[static_cast<std::size_t>(k) * w + c];
                    if (index != 0 && inside(k, c)) {
                        const bytes pixel = pixel_for_entry(depth, index);
                        std::memcpy(buffer.data() + (pixel_at(x + c, y - k) - pm_state.active_bits), pixel.data(),
                                    static_cast<std::size_t>(size));
                    }
                }
            }
            pm_paste_image(image.data(), w, h);
            const bytes got = snapshot(handle);
            ASSERT_EQ(got, buffer) << first_difference(handle, got, buffer);
        }
    }
}

// ---- region copy -------------------------------------------------------------

TEST_F(TransferTest, CopyWholePicture)
{
    std::mt19937 random(320);
    const int32_t a = make_buffer(320, 200, 8);
    const int32_t b = make_buffer(320, 200, 8);
    fill_random(a, random);
    fill_random(b, random);
    EXPECT_EQ(pm_copy_region(0, 319, 0, 199, 0, 199, a, b), 0);
    const bytes got = snapshot(b), want = snapshot(a);
    EXPECT_EQ(got, want) << first_difference(b, got, want);
}

TEST_F(TransferTest, CopyPutsTheBottomRowAtDstY)
{
    std::mt19937 random(4);
    const int32_t source = make_buffer(8, 6, 8);
    const int32_t target = make_buffer(8, 6, 8);
    fill_random(source, random);
    fill_random(target, random);
    bytes want = snapshot(target);
    pm_copy_region(1, 3, 1, 2, 5, 4, source, target);
    // Source row 2 lands on row 4 and row 1 on row 3, columns 1..3 on 5..7.
    for (int32_t row : {1, 2})
        for (int32_t column = 1; column <= 3; ++column)
            want[static_cast<std::size_t>(5 - (row + 2)) * 8 + column + 4] = *slot_byte(source, column, row);
    const bytes got = snapshot(target);
    EXPECT_EQ(got, want) << first_difference(target, got, want);
}

TEST_F(TransferTest, CopyMirrorsColumnsWithinOneBuffer)
{
    std::mt19937 random(1280);
    const int32_t panorama = make_buffer(1600, 200, 8);
    fill_random(panorama, random);
    for (int32_t i : {0, 7, 319}) {
        pm_copy_region(i, i, 0, 199, 1279 - i, 199, panorama, panorama);
        for (int32_t y = 0; y < 200; ++y)
            ASSERT_EQ(*slot_byte(panorama, 1279 - i, y), *slot_byte(panorama, i, y)) << "column " << i << " row " << y;
    }
}

// Overlapping copies within one buffer move the rectangle as it stood, in
// every direction: each source row is read before it is overwritten.
TEST_F(TransferTest, CopyWithinOneBufferMovesInEveryDirection)
{
    const struct {
        const char *what;
        int32_t x0, x1, y0, y1, dx, dy;
    } cases[] = {
        {"up", 0, 3, 2, 5, 0, 4}, // rows 2..5 to 1..4
        {"down", 0, 3, 1, 4, 0, 5},
        {"left", 2, 6, 0, 7, 1, 7},
        {"right", 1, 5, 0, 7, 2, 7},
        {"up and right", 1, 5, 3, 6, 3, 4},
        {"down and left", 2, 6, 1, 5, 0, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t h = make_buffer(8, 8, 8);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x)
                *slot_byte(h, x, y) = static_cast<uint8_t>(16 * y + x);
        const bytes before = snapshot(h);
        bytes want = before;
        for (int32_t y = c.y0; y <= c.y1; ++y)
            for (int32_t x = c.x0; x <= c.x1; ++x)
                want[static_cast<std::size_t>(7 - (y + c.dy - c.y1)) * 8 + (x + c.dx - c.x0)] =
                    static_cast<uint8_t>(16 * y + x);
        pm_copy_region(c.x0, c.x1, c.y0, c.y1, c.dx, c.dy, h, h);
        const bytes got = snapshot(h);
        EXPECT_EQ(got, want) << first_difference(h, got, want);
        pm_buffer_deactivate();
        pm_buffer_destroy(h);
    }
}

// The destination's pixel size serves both sides: an 8-bit source into a
// 32-bit buffer gives 4 source bytes per pixel, from byte 4 src_min_x on.
TEST_F(TransferTest, CopyUsesTheDestinationPixelSize)
{
    std::mt19937 random(32);
    const int32_t source = make_buffer(16, 4, 8);
    const int32_t target = make_buffer(8, 4, 32);
    fill_random(source, random);
    fill_random(target, random);
    bytes want = snapshot(target);
    pm_copy_region(1, 2, 0, 3, 0, 3, source, target);
    for (int32_t y = 0; y < 4; ++y)
        std::memcpy(want.data() + (3 - y) * 32, slot_byte(source, 4, y), 8);
    const bytes got = snapshot(target);
    EXPECT_EQ(got, want) << first_difference(target, got, want);
}

TEST_F(TransferTest, CopyRefusesBadHandlesAndReversedBounds)
{
    std::mt19937 random(256);
    const int32_t a = make_buffer(8, 8, 8);
    const int32_t b = make_buffer(8, 8, 8);
    const int32_t freed = make_buffer(8, 8, 8);
    pm_buffer_activate(a);
    pm_buffer_destroy(freed);
    fill_random(a, random);
    fill_random(b, random);
    const bytes a_before = snapshot(a), b_before = snapshot(b);
    const int32_t calls[][8] = {
        {0, 3, 0, 3, 0, 3, 256, b}, {0, 3, 0, 3, 0, 3, -1, b},    {0, 3, 0, 3, 0, 3, freed, b},
        {0, 3, 0, 3, 0, 3, a, 256}, {0, 3, 0, 3, 0, 3, a, -1},    {0, 3, 0, 3, 0, 3, a, freed},
        {3, 0, 0, 3, 0, 3, a, b},   {0, 3, 3, 0, 0, 3, a, b},     {0, 3, 0, 3, 0, 3, INT32_MIN, INT32_MAX},
    };
    for (const auto &c : calls) {
        EXPECT_EQ(pm_copy_region(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]), 0);
        EXPECT_EQ(snapshot(a), a_before) << "handles " << c[6] << ", " << c[7];
        EXPECT_EQ(snapshot(b), b_before) << "handles " << c[6] << ", " << c[7];
    }
}

// Rectangles partly or wholly outside either buffer, between buffers of all
// depth pairs, against a byte-by-byte model: a byte moves when both its
// source and its destination position lie inside their buffers.
TEST_F(TransferTest, CopyClipsBothRectangles)
{
    std::mt19937 random(1600);
    for (int32_t source_depth : every_depth) {
        for (int32_t target_depth : every_depth) {
            SCOPED_TRACE(std::to_string(source_depth) + " to " + std::to_string(target_depth) + " bits");
            // Wide enough for rows of every vector copy's length and tail.
            const int32_t source = make_buffer(44, 7, source_depth);
            const int32_t target = make_buffer(40, 10, target_depth);
            const int64_t b = pm::bytes_per_pixel(target_depth);
            for (int round = 0; round < 60; ++round) {
                fill_random(source, random);
                fill_random(target, random);
                const auto range = [&](int32_t span) { return static_cast<int32_t>(random() % span) - span / 3; };
                const int32_t x0 = range(60), x1 = x0 + static_cast<int32_t>(random() % 44);
                const int32_t y0 = range(24), y1 = y0 + static_cast<int32_t>(random() % 14);
                const int32_t dx = range(60), dy = range(30);
                SCOPED_TRACE("columns " + std::to_string(x0) + ".." + std::to_string(x1) + ", rows " +
                             std::to_string(y0) + ".." + std::to_string(y1) + " to (" + std::to_string(dx) + ", " +
                             std::to_string(dy) + ")");
                bytes want = snapshot(target);
                for (int64_t y = y0; y <= y1; ++y) {
                    const int64_t ty = y + dy - y1;
                    for (int64_t s = x0 * b; s <= x1 * b + b - 1; ++s) {
                        const int64_t t = s + (dx - x0) * b;
                        if (y < 0 || y >= 7 || s < 0 || s >= pm_state.slot_stride[source] || ty < 0 || ty >= 10 ||
                            t < 0 || t >= pm_state.slot_stride[target])
                            continue;
                        want[static_cast<std::size_t>((9 - ty) * pm_state.slot_stride[target] + t)] =
                            *slot_byte(source, s, y);
                    }
                }
                pm_copy_region(x0, x1, y0, y1, dx, dy, source, target);
                const bytes got = snapshot(target);
                ASSERT_EQ(got, want) << first_difference(target, got, want);
            }
            pm_buffer_deactivate();
            pm_buffer_destroy(-1);
        }
    }
}

} // namespace
