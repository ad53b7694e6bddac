// The library through its public headers alone, linked as its users link it:
// in a shared build these run against the shared library, where pm_state is
// one object that the program and the library must both reach, and every
// call crosses into the library's exports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <pixmora/pixmora.h>

// tests/support/c_header_check.c, compiled as C into this program.
extern "C" int32_t pixmora_c_header_check(void);

namespace {

class PublicApiTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        pm_buffer_deactivate();
        pm_buffer_destroy(-1);
        pm_shutdown();
        pm_state.new_buffer_depth = 8;
    }
};

// Byte of pixel (x, y) of the active 8-bit buffer, y counted from the top.
uint8_t &active_pixel(int32_t x, int32_t y)
{
    return pm_state.active_bits[(pm_state.active_max_y - y) * pm_state.active_stride + x];
}

TEST_F(PublicApiTest, TheProgramAndTheLibrarySeeOneState)
{
    ASSERT_EQ(pm_startup(), 0);
    EXPECT_EQ(pm_state.started, 1);
    EXPECT_EQ(pm_delete_palette(nullptr), -1);
    // Written here, read by the library.
    pm_state.new_buffer_depth = 16;
    const int32_t deep = pm_buffer_create(6, 3);
    ASSERT_GE(deep, 0);
    EXPECT_EQ(pm_state.slot_depth[deep], 16);
    EXPECT_EQ(pm_state.slot_width[deep], 8);

    // Written by the library, read here.
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    EXPECT_EQ(pm_state.new_buffer_depth, 8);
    const int32_t indexed = pm_buffer_create(8, 4);
    ASSERT_GE(indexed, 0);
    ASSERT_EQ(pm_buffer_activate(indexed), 0);
    EXPECT_EQ(pm_state.active_index, indexed);
    EXPECT_EQ(pm_state.active_depth, 8);
    ASSERT_NE(pm_state.active_bits, nullptr);
    EXPECT_EQ(pm_state.active_bits, pm_state.slot_bits[indexed]);
    pm_move_cursor(1, 3);
    EXPECT_EQ(pm_state.cursor_x, 1);
    EXPECT_EQ(pm_state.cursor_y, 3);

    // The cursor set here places what the library draws.
    pm_state.cursor_x = 5;
    pm_state.cursor_y = 2;
    const uint8_t dot = 7;
    ASSERT_EQ(pm_paste_image(&dot, 1, 1), 0);
    EXPECT_EQ(active_pixel(5, 2), 7);
    EXPECT_EQ(active_pixel(1, 3), 0);
}

TEST_F(PublicApiTest, TheHeadersServeAPlainCProgram)
{
    ASSERT_EQ(pm_startup(), 0);
    // The C side sets the depth through pm_state and creates a 320 x 200
    // buffer; it returns the handle, 0, plus active_index, -1.
    ASSERT_EQ(pixmora_c_header_check(), -1);
    EXPECT_EQ(pm_state.slot_depth[0], 8);
    EXPECT_EQ(pm_state.slot_width[0], 320);
    EXPECT_EQ(pm_state.slot_height[0], 200);
}

TEST_F(PublicApiTest, APictureSavedByTheLibraryLoadsBackTheSame)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-api-" + std::to_string(getpid()) + ".pcx");
    ASSERT_EQ(pm_startup(), 0);
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    const int32_t source = pm_buffer_create(12, 5);
    const int32_t copy = pm_buffer_create(12, 5);
    ASSERT_GE(source, 0);
    ASSERT_GE(copy, 0);

    ASSERT_EQ(pm_buffer_activate(source), 0);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 12; ++x)
            active_pixel(x, y) = static_cast<uint8_t>(x * 21 + y * 7 + 3);
    ASSERT_EQ(pm_save_pcx(file.c_str(), 0, 11, 0, 4), PM_PCX_OK);

    ASSERT_EQ(pm_buffer_activate(copy), 0);
    const int32_t loaded = pm_load_pcx(file.c_str(), pcx_keep_palette);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    ASSERT_EQ(loaded, PM_PCX_OK) << pm_pcx_result_text(loaded);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 12; ++x)
            ASSERT_EQ(active_pixel(x, y), static_cast<uint8_t>(x * 21 + y * 7 + 3)) << x << ", " << y;
}

std::string file_text(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The safe file replacement: the new contents appear only when finished, a
// cancelled or failed replacement leaves the old file, and a failed write
// is remembered until the end.
TEST_F(PublicApiTest, AReplacedFileChangesOnlyWhenFinished)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-replace-" + std::to_string(getpid()) + ".bin");
    std::ofstream(file, std::ios::binary) << "old";
    int32_t result = -1;
    for (const bool finish : {false, true}) {
        pm_file_writer *writer = pm_file_replace_begin(file.c_str(), &result);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(result, PM_PCX_OK);
        EXPECT_EQ(pm_file_replace_write(writer, "new", 3), PM_PCX_OK);
        EXPECT_EQ(file_text(file), "old");
        if (finish)
            EXPECT_EQ(pm_file_replace_finish(writer), PM_PCX_OK);
        else
            pm_file_replace_cancel(writer);
        EXPECT_EQ(file_text(file), finish ? "new" : "old");
    }
    std::filesystem::remove(file);

    const std::string missing = file.string() + ".missing/picture.bin";
    EXPECT_EQ(pm_file_replace_begin(missing.c_str(), &result), nullptr);
    EXPECT_EQ(result, PM_PCX_OPEN_FAILED);
    EXPECT_EQ(pm_file_replace_begin(nullptr, nullptr), nullptr);

    pm_file_writer *full = pm_file_replace_begin("/dev/full", &result);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(pm_file_replace_write(full, "x", 1), PM_PCX_WRITE_FAILED);
    EXPECT_EQ(pm_file_replace_write(full, "", 0), PM_PCX_WRITE_FAILED) << "a failed write is forgotten";
    EXPECT_EQ(pm_file_replace_finish(full), PM_PCX_WRITE_FAILED);
    EXPECT_STRNE(pm_pcx_result_text(PM_PCX_WRITE_FAILED), pm_pcx_result_text(PM_PCX_OPEN_FAILED));
}

// A PCX picture: a header with the given fields, the run-length data (one
// run per 63 bytes of `value`, enough for every scanline) and, when asked,
// a trailer of 256 colours whose triple i is i, i, 255 - i.
std::vector<uint8_t> pcx_file(uint8_t version, uint8_t bits, uint8_t planes, uint16_t x_max, uint16_t y_max,
                              uint16_t bytes_per_line, bool trailer, uint8_t value = 0x21)
{
    std::vector<uint8_t> file(128, 0);
    file[0] = 0x0A, file[1] = version, file[2] = 1, file[3] = bits;
    file[8] = uint8_t(x_max), file[9] = uint8_t(x_max >> 8), file[10] = uint8_t(y_max), file[11] = uint8_t(y_max >> 8);
    for (int i = 0; i < 48; ++i)
        file[size_t(16 + i)] = uint8_t(200 + i);
    file[65] = planes, file[66] = uint8_t(bytes_per_line), file[67] = uint8_t(bytes_per_line >> 8);
    for (uint64_t left = uint64_t(planes) * bytes_per_line * (y_max + 1u); left > 0;) {
        const auto run = uint8_t(left < 63 ? left : 63);
        file.push_back(uint8_t(0xC0 | run));
        file.push_back(value);
        left -= run;
    }
    if (trailer) {
        file.push_back(0x0C);
        for (int i = 0; i < 256; ++i)
            file.insert(file.end(), {uint8_t(i), uint8_t(i), uint8_t(255 - i)});
    }
    return file;
}

// Every case at every depth: the inspection's verdict is what a load into a
// small buffer gives (wherever the picture lands), and a file is described
// as its bytes in memory are.
TEST_F(PublicApiTest, InspectionGivesTheLoadersVerdict)
{
    const std::vector<uint8_t> paletted = pcx_file(5, 8, 1, 8, 4, 10, true);
    std::vector<uint8_t> not_pcx = paletted;
    not_pcx[0] = 0x0B;
    std::vector<uint8_t> reversed = paletted;
    reversed[4] = 9; // Xmin 9 > Xmax 8
    const struct {
        const char *what;
        std::vector<uint8_t> bytes;
        int32_t verdict_8, verdict_32, reason_8, reason_32;
        int32_t palette_kind, colours;
    } cases[] = {
        {"256 colours with a trailer", paletted, 0, 0, 0, 0, PM_PCX_PALETTE_TRAILER, 256},
        {"256 colours, version 3", pcx_file(3, 8, 1, 8, 4, 10, true), 0, 0, 0, 0, PM_PCX_PALETTE_HEADER, 256},
        {"24-bit colour", pcx_file(5, 8, 3, 5, 1, 6, false), 3, 0, PM_PCX_REASON_DEPTH, 0, PM_PCX_PALETTE_NONE,
         1 << 24},
        {"16 colours in 4 planes", pcx_file(5, 1, 4, 9, 2, 2, false), 0, 0, 0, 0, PM_PCX_PALETTE_HEADER, 16},
        {"2 colours", pcx_file(5, 1, 1, 9, 2, 2, false), 0, 0, 0, 0, PM_PCX_PALETTE_HEADER, 2},
        {"one plane of 4 bits", pcx_file(5, 4, 1, 9, 2, 6, false), 3, 3, PM_PCX_REASON_NO_CONVERTER,
         PM_PCX_REASON_NO_CONVERTER, PM_PCX_PALETTE_HEADER, 0},
        {"shorter than a header", std::vector<uint8_t>(paletted.begin(), paletted.begin() + 100), 2, 2,
         PM_PCX_REASON_SHORT, PM_PCX_REASON_SHORT, PM_PCX_PALETTE_NONE, 0},
        {"first byte 0x0B", not_pcx, 2, 2, PM_PCX_REASON_MANUFACTURER, PM_PCX_REASON_MANUFACTURER,
         PM_PCX_PALETTE_TRAILER, 256},
        {"window reversed", reversed, 2, 2, PM_PCX_REASON_WINDOW, PM_PCX_REASON_WINDOW, PM_PCX_PALETTE_TRAILER, 256},
        {"no planes", pcx_file(5, 8, 0, 8, 4, 10, false), 2, 2, PM_PCX_REASON_NO_PLANES, PM_PCX_REASON_NO_PLANES,
         PM_PCX_PALETTE_HEADER, 256},
        {"BytesPerLine 0", pcx_file(5, 8, 1, 8, 4, 0, false), 2, 2, PM_PCX_REASON_NO_LINE, PM_PCX_REASON_NO_LINE,
         PM_PCX_PALETTE_HEADER, 256},
        {"BytesPerLine below the width", pcx_file(5, 8, 1, 8, 4, 4, false), 2, 2, PM_PCX_REASON_LINE_TOO_SHORT,
         PM_PCX_REASON_LINE_TOO_SHORT, PM_PCX_PALETTE_HEADER, 256},
        // Wider than any converter's limit used to be: the loader takes it,
        // and so must inspection.
        {"40000 x 1", pcx_file(5, 8, 1, 39999, 0, 40000, true), 0, 0, 0, 0, PM_PCX_PALETTE_TRAILER, 256},
    };
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-inspect-" + std::to_string(getpid()) + ".pcx");
    ASSERT_EQ(pm_startup(), 0);
    std::set<std::string> reason_texts;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::FILE *out = std::fopen(file.c_str(), "wb");
            ASSERT_NE(out, nullptr);
            ASSERT_EQ(std::fwrite(c.bytes.data(), 1, c.bytes.size(), out), c.bytes.size());
            std::fclose(out);
        }
        for (const int32_t depth : {8, 16, 24, 32}) {
            SCOPED_TRACE(depth);
            pm_pcx_info memory{}, stored{};
            ASSERT_EQ(pm_pcx_inspect_memory(c.bytes.data(), uint32_t(c.bytes.size()), 0, 0, depth, &memory), PM_PCX_OK);
            ASSERT_EQ(pm_pcx_inspect_file(file.c_str(), 0, 0, depth, &stored), PM_PCX_OK);
            EXPECT_EQ(std::memcmp(&memory, &stored, sizeof memory), 0);
            EXPECT_EQ(memory.size, c.bytes.size());
            EXPECT_EQ(memory.verdict, depth == 8 ? c.verdict_8 : c.verdict_32);
            EXPECT_EQ(memory.reason, depth == 8 ? c.reason_8 : c.reason_32);
            EXPECT_EQ(memory.palette_kind, c.palette_kind);
            EXPECT_EQ(memory.colours, c.colours);
            reason_texts.insert(pm_pcx_reason_text(memory.reason));
            // The load, into a 2 x 2 buffer of that depth with the picture
            // at its header window and at the cursor.
            ASSERT_EQ(pm_set_new_buffer_depth(depth), 0);
            const int32_t handle = pm_buffer_create(2, 2);
            ASSERT_EQ(pm_buffer_activate(handle), 0);
            pm_set_input_block(c.bytes.data(), uint32_t(c.bytes.size()));
            EXPECT_EQ(pm_load_pcx(nullptr, pcx_from_memory), memory.verdict);
            pm_move_cursor(5, 5);
            EXPECT_EQ(pm_load_pcx(file.c_str(), pcx_at_cursor), memory.verdict);
            // With every layout read, the verdict is the load's too.
            pm_pcx_info all{};
            ASSERT_EQ(pm_pcx_inspect_file(file.c_str(), pcx_all_layouts, 0, depth, &all), PM_PCX_OK);
            EXPECT_EQ(pm_load_pcx(file.c_str(), pcx_at_cursor | pcx_all_layouts), all.verdict);
            EXPECT_EQ(all.colours, std::string(c.what) == "one plane of 4 bits" ? 16 : c.colours);
            pm_set_input_block(nullptr, 0);
            pm_buffer_deactivate();
            pm_buffer_destroy(handle);
        }
    }
    EXPECT_EQ(reason_texts.size(), 9u); // every reason met, each with its own text
    EXPECT_STREQ(pm_pcx_reason_text(99), pm_pcx_reason_text(-1));

    pm_pcx_info info{};
    EXPECT_EQ(pm_pcx_inspect_memory(paletted.data(), uint32_t(paletted.size()), 0, 0, 8, &info), PM_PCX_OK);
    EXPECT_EQ(info.page_count, 1);
    EXPECT_EQ(info.width, 9);
    EXPECT_EQ(info.height, 5);
    EXPECT_EQ(info.bytes_per_line, 10);
    EXPECT_EQ(info.trailer_present, 1);
    EXPECT_EQ(info.palette_count, 256);
    EXPECT_EQ(info.palette[3 * 7 + 2], 248); // trailer triple 7 is 7, 7, 248
    EXPECT_EQ(info.colormap[0], 200);
    const struct {
        const void *picture;
        uint32_t size;
        int32_t page, depth;
        pm_pcx_info *out;
    } refused[] = {
        {paletted.data(), 128, 0, 12, &info}, {paletted.data(), 128, 1, 8, &info},
        {nullptr, 128, 0, 8, &info},          {paletted.data(), 128, 0, 8, nullptr},
    };
    for (const auto &r : refused)
        EXPECT_EQ(pm_pcx_inspect_memory(r.picture, r.size, 0, r.page, r.depth, r.out), PM_PCX_INVALID);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    EXPECT_EQ(pm_pcx_inspect_file(file.c_str(), 0, 0, 8, &info), PM_PCX_OPEN_FAILED);
}

// Rows written and read in both formats at every depth, with what each
// depth refuses: indices only in and out of 8 bits, colours only into deeper
// buffers, spans only wholly inside.
TEST_F(PublicApiTest, RowsInStatedFormats)
{
    ASSERT_EQ(pm_startup(), 0);
    const uint8_t colours[] = {255, 130, 8, 100, 100, 100, 0, 1, 2};
    const struct {
        int32_t depth;
        std::vector<uint8_t> read_back; // the colours above as the buffer gives them back
    } depths[] = {
        {16, {255, 130, 8, 99, 101, 99, 0, 0, 0}}, // 5-6-5 keeps the top bits, widened by repeating them
        {24, {255, 130, 8, 100, 100, 100, 0, 1, 2}},
        {32, {255, 130, 8, 100, 100, 100, 0, 1, 2}},
    };
    for (const auto &d : depths) {
        SCOPED_TRACE(d.depth);
        ASSERT_EQ(pm_set_new_buffer_depth(d.depth), 0);
        const int32_t handle = pm_buffer_create(5, 3);
        ASSERT_EQ(pm_buffer_activate(handle), 0);
        ASSERT_EQ(pm_write_row(2, 1, 3, PM_ROW_RGB24, colours), 0);
        uint8_t row[15] = {};
        ASSERT_EQ(pm_read_row(0, 1, 5, PM_ROW_RGB24, row), 0);
        EXPECT_EQ(std::vector<uint8_t>(row + 6, row + 15), d.read_back);
        EXPECT_EQ(std::vector<uint8_t>(row, row + 6), std::vector<uint8_t>(6, 0)); // left of the span: untouched
        EXPECT_EQ(pm_read_row(0, 1, 5, PM_ROW_INDEX8, row), -1);
        EXPECT_EQ(pm_write_row(0, 1, 5, PM_ROW_INDEX8, row), -1);
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }

    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    const int32_t handle = pm_buffer_create(5, 3);
    ASSERT_EQ(pm_buffer_activate(handle), 0);
    const uint8_t entry[] = {11, 22, 33};
    pm_set_palette_entries(40, 1, entry);
    const uint8_t indices[] = {40, 7, 40};
    ASSERT_EQ(pm_write_row(1, 2, 3, PM_ROW_INDEX8, indices), 0);
    EXPECT_EQ(active_pixel(1, 2), 40);
    EXPECT_EQ(active_pixel(2, 2), 7);
    uint8_t back[3] = {}, rgb[3] = {};
    ASSERT_EQ(pm_read_row(1, 2, 3, PM_ROW_INDEX8, back), 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), std::vector<uint8_t>(indices, indices + 3));
    ASSERT_EQ(pm_read_row(3, 2, 1, PM_ROW_RGB24, rgb), 0);
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 3), std::vector<uint8_t>(entry, entry + 3));
    EXPECT_EQ(pm_write_row(0, 0, 1, PM_ROW_RGB24, entry), -1); // an 8-bit buffer holds no colours of its own
    const struct {
        int32_t x, y, width, format;
        bool null;
    } refused[] = {
        {-1, 0, 2, PM_ROW_INDEX8, false}, {7, 0, 2, PM_ROW_INDEX8, false}, {0, 3, 1, PM_ROW_INDEX8, false},
        {0, -1, 1, PM_ROW_INDEX8, false}, {0, 0, 0, PM_ROW_INDEX8, false}, {0, 0, 1, 0, false}, // (5 is 8 wide)
        {0, 0, 1, 3, false},              {0, 0, 1, PM_ROW_INDEX8, true},
    };
    uint8_t scratch[16] = {};
    for (const auto &r : refused) {
        EXPECT_EQ(pm_read_row(r.x, r.y, r.width, r.format, r.null ? nullptr : scratch), -1) << r.x << ", " << r.y;
        EXPECT_EQ(pm_write_row(r.x, r.y, r.width, r.format, r.null ? nullptr : scratch), -1) << r.x << ", " << r.y;
    }
    pm_buffer_deactivate();
    EXPECT_EQ(pm_read_row(0, 0, 1, PM_ROW_INDEX8, scratch), -1);
    EXPECT_EQ(pm_write_row(0, 0, 1, PM_ROW_INDEX8, scratch), -1);
}

// Collects what a save hands over; refuses from the call numbered fail_at on.
struct collector {
    std::vector<uint8_t> bytes;
    int32_t calls = 0;
    int32_t fail_at = -1;
};

int32_t collect(void *context, const void *bytes, uint32_t size)
{
    auto *into = static_cast<collector *>(context);
    if (into->calls++ == into->fail_at)
        return 1;
    const auto *first = static_cast<const uint8_t *>(bytes);
    into->bytes.insert(into->bytes.end(), first, first + size);
    return 0;
}

// A picture saved through a callback, into memory and into a file is the
// same at every depth, loads back as it was, and a callback that refuses or a
// buffer that is too small ends the save with PM_PCX_WRITE_FAILED.
TEST_F(PublicApiTest, SavesThroughACallbackAndIntoMemory)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("pixmora-public-save-" + std::to_string(getpid()) + ".pcx");
    ASSERT_EQ(pm_startup(), 0);
    constexpr int32_t width = 400, height = 200; // noise: longer than one 64 KiB hand-over at every depth
    for (const int32_t depth : {8, 16, 24, 32}) {
        SCOPED_TRACE(depth);
        ASSERT_EQ(pm_set_new_buffer_depth(depth), 0);
        const int32_t source = pm_buffer_create(width, height), copy = pm_buffer_create(width, height);
        ASSERT_EQ(pm_buffer_activate(source), 0);
        const int32_t format = depth == 8 ? PM_ROW_INDEX8 : PM_ROW_RGB24;
        const int32_t row_bytes = depth == 8 ? width : 3 * width;
        std::vector<uint8_t> row(static_cast<size_t>(row_bytes)), rows;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t i = 0; i < row_bytes; ++i)
                row[size_t(i)] = i % 50 < 10 ? 0x33 : uint8_t((uint32_t(i) * 2654435761u + uint32_t(y) * 40503u) >> 13);
            ASSERT_EQ(pm_write_row(0, y, width, format, row.data()), 0);
            ASSERT_EQ(pm_read_row(0, y, width, format, row.data()), 0);
            rows.insert(rows.end(), row.begin(), row.end());
        }
        ASSERT_EQ(pm_save_pcx(file.c_str(), 0, width - 1, 0, height - 1), PM_PCX_OK);
        std::vector<uint8_t> stored(size_t(std::filesystem::file_size(file)));
        std::FILE *in = std::fopen(file.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(std::fread(stored.data(), 1, stored.size(), in), stored.size());
        std::fclose(in);

        collector through;
        ASSERT_EQ(pm_save_pcx_to(collect, &through, pcx_layout_auto, 0, width - 1, 0, height - 1), PM_PCX_OK);
        EXPECT_TRUE(through.bytes == stored);
        EXPECT_GE(through.calls, 2);
        EXPECT_GT(stored.size(), size_t(128));
        uint32_t size = 0;
        ASSERT_EQ(pm_save_pcx_memory(nullptr, 0, &size, pcx_layout_auto, 0, width - 1, 0, height - 1), PM_PCX_OK);
        ASSERT_EQ(size, stored.size());
        std::vector<uint8_t> memory(size + 5, 0xEE);
        ASSERT_EQ(pm_save_pcx_memory(memory.data(), uint32_t(memory.size()), &size, pcx_layout_auto, 0, width - 1, 0,
                                     height - 1),
                  PM_PCX_OK);
        EXPECT_TRUE(std::vector<uint8_t>(memory.begin(), memory.begin() + size) == stored);
        EXPECT_EQ(memory[size], 0xEE);
        // Too small: the bytes that fit, and the length needed.
        std::vector<uint8_t> small(100, 0xEE);
        size = 0;
        EXPECT_EQ(pm_save_pcx_memory(small.data(), 99, &size, pcx_layout_auto, 0, width - 1, 0, height - 1),
                  PM_PCX_WRITE_FAILED);
        EXPECT_EQ(size, stored.size());
        EXPECT_TRUE(std::equal(small.begin(), small.begin() + 99, stored.begin()));
        EXPECT_EQ(small[99], 0xEE);
        // A callback that refuses its first or second piece: nothing is handed over after it.
        for (const int32_t fail_at : {0, 1}) {
            collector refusing;
            refusing.fail_at = fail_at;
            EXPECT_EQ(pm_save_pcx_to(collect, &refusing, pcx_layout_auto, 0, width - 1, 0, height - 1),
                      PM_PCX_WRITE_FAILED);
            EXPECT_EQ(refusing.calls, fail_at + 1);
        }

        // The codec reads the same rows from the file, and writes them as a
        // file that gives them back.
        pm_picture picture{};
        picture.format = depth == 8 ? PM_PIXELS_INDEX8 : PM_PIXELS_RGB8;
        std::vector<uint8_t> decoded(rows.size());
        picture.pixels = decoded.data();
        ASSERT_EQ(pm_pcx_decode(stored.data(), stored.size(), 0, -1, &picture), PM_PCX_OK);
        EXPECT_TRUE(decoded == rows);
        collector encoded;
        ASSERT_EQ(pm_pcx_encode(&picture, pcx_layout_auto, collect, &encoded), PM_PCX_OK);
        std::fill(decoded.begin(), decoded.end(), 0);
        ASSERT_EQ(pm_pcx_decode(encoded.bytes.data(), encoded.bytes.size(), 0, -1, &picture), PM_PCX_OK);
        EXPECT_TRUE(decoded == rows);

        // Loaded back from memory, the rows are as they were.
        ASSERT_EQ(pm_buffer_activate(copy), 0);
        pm_set_input_block(memory.data(), size);
        ASSERT_EQ(pm_load_pcx(nullptr, pcx_from_memory | pcx_no_reduction | (depth == 8 ? pcx_keep_palette : 0)),
                  PM_PCX_OK);
        pm_set_input_block(nullptr, 0);
        std::vector<uint8_t> loaded;
        for (int32_t y = 0; y < height; ++y) {
            ASSERT_EQ(pm_read_row(0, y, width, format, row.data()), 0);
            loaded.insert(loaded.end(), row.begin(), row.end());
        }
        EXPECT_TRUE(loaded == rows);
        pm_buffer_deactivate();
        pm_buffer_destroy(copy);
        pm_buffer_destroy(source);
    }

    // Refusals, checked in this order: the rectangle, then the layout, then the receiver.
    ASSERT_EQ(pm_set_new_buffer_depth(8), 0);
    const int32_t handle = pm_buffer_create(8, 8);
    collector unused;
    uint32_t size = 0;
    EXPECT_EQ(pm_save_pcx_to(collect, &unused, pcx_layout_auto, 0, 3, 0, 3), PM_PCX_INVALID); // no active buffer
    ASSERT_EQ(pm_buffer_activate(handle), 0);
    EXPECT_EQ(pm_save_pcx_to(collect, &unused, pcx_layout_auto, 0, 8, 0, 3), PM_PCX_INVALID);
    EXPECT_EQ(pm_save_pcx_to(collect, &unused, 1000, 0, 8, 0, 3), PM_PCX_INVALID);
    EXPECT_EQ(pm_save_pcx_to(collect, &unused, 1000, 0, 3, 0, 3), PM_PCX_UNSUPPORTED);
    EXPECT_EQ(pm_save_pcx_to(collect, &unused, -1, 0, 3, 0, 3), PM_PCX_UNSUPPORTED);
    EXPECT_EQ(pm_save_pcx_to(nullptr, &unused, pcx_layout_auto, 0, 3, 0, 3), PM_PCX_WRITE_FAILED);
    EXPECT_EQ(pm_save_pcx_memory(nullptr, 0, nullptr, pcx_layout_auto, 0, 3, 0, 3), PM_PCX_INVALID);
    EXPECT_EQ(pm_save_pcx_memory(nullptr, 0, &size, 1000, 0, 3, 0, 3), PM_PCX_UNSUPPORTED);
    EXPECT_EQ(unused.calls, 0);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

} // namespace
