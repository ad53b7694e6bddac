// What the PCX fuzz target does with one input, shared with the regression
// test that replays the corpus and every past finding.
//
// Each input is also decoded by the codec call, which must agree with the
// loader: the size it gives is inspection's, its result a load's into a
// 32-bit buffer of the picture's size, and its RGBA8 pixels what that buffer
// shows, alpha 255.
//
// An input is a PCX file (or a DCX file of them). Bytes of its header that
// the loader never reads choose how it is loaded: the buffer's depth and
// size, the load flags (pcx_all_layouts among them), the graphics cursor,
// the source (memory, or a file read in refills of a chosen size), and
// whether a page is asked for.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"
#include "fuzz/memory_file.h"

namespace pcx_fuzz {

constexpr int32_t depths[4] = {8, 16, 24, 32};

// Where the choices are read from: the Reserved byte and the end of the
// filler.
constexpr size_t flags_offset = 64;
constexpr size_t depth_offset = 116;
constexpr size_t width_offset = 117;
constexpr size_t height_offset = 118;
constexpr size_t source_offset = 119;
constexpr size_t refill_offset = 120; // two bytes, little-endian
constexpr size_t page_offset = 125;
constexpr size_t cursor_x_offset = 126;
constexpr size_t cursor_y_offset = 127;

struct load_setup {
    int32_t depth = 32;
    int32_t width = 32; // of the buffer
    int32_t height = 16;
    bool from_file = false;
    uint32_t refill = 0; // bytes per file read; 0 and sizes over 4096 mean 4096
    int32_t flags = 0;   // pcx_keep_palette, pcx_at_cursor, pcx_no_reduction, pcx_all_layouts
    int32_t cursor_x = 0;
    int32_t cursor_y = 0;
    // False: BytesPerLine is cut to at most 255 before the load. A scanline
    // of up to 255 planes of 65535 bytes is tens of megabytes to allocate and
    // decode per row, which would slow the fuzzer to a crawl if every input
    // could ask for it; only the inputs that set this ask for it.
    bool whole_line_length = true;
    int32_t page = -1; // pm_load_pcx_page's page; -1: pm_load_pcx
};

inline uint8_t byte_at(const uint8_t *data, size_t size, size_t offset)
{
    return size > offset ? data[offset] : 0;
}

// The setup an input asks for. Buffers stay small (at most 128 x 64) so that
// each run is quick; pictures still reach past them on every side.
inline load_setup setup_of(const uint8_t *data, size_t size)
{
    load_setup setup;
    setup.depth = depths[byte_at(data, size, depth_offset) & 3];
    setup.width = (byte_at(data, size, width_offset) & 127) + 1;
    setup.height = (byte_at(data, size, height_offset) & 63) + 1;
    setup.from_file = (byte_at(data, size, source_offset) & 2) != 0;
    setup.whole_line_length = (byte_at(data, size, source_offset) & 0x1C) == 0x1C;
    setup.refill = (byte_at(data, size, refill_offset) | uint32_t{byte_at(data, size, refill_offset + 1)} << 8) & 0x1FFF;
    setup.flags = byte_at(data, size, flags_offset) &
                  (pcx_keep_palette | pcx_at_cursor | pcx_no_reduction | pcx_all_layouts);
    if ((byte_at(data, size, source_offset) & 0x20) != 0)
        setup.page = byte_at(data, size, page_offset) & 3;
    setup.cursor_x = static_cast<int8_t>(byte_at(data, size, cursor_x_offset)) % 48;
    setup.cursor_y = static_cast<int8_t>(byte_at(data, size, cursor_y_offset)) % 48;
    if (setup.whole_line_length) { // every row decoded may be that long: few of them
        setup.height = std::min(setup.height, 4);
        setup.cursor_y = std::max(setup.cursor_y, -2);
    }
    return setup;
}

// The library started on the software display with the default palette, and
// an in-memory file that file loads read from.
struct session {
    int file = -1;
    std::string file_name;
};

inline session start_session()
{
    pm::soft::set_depth(32);
    pm_attach_dc(pm::soft::window_create(32, 16));
    pm_startup();
    pm_realize_palette(pm_create_default_palette());
    session made;
    made.file = fuzz::memory_file_open("pcx-fuzz-input", &made.file_name);
    return made;
}

inline void end_session(session &s)
{
    if (s.file >= 0)
        ::close(s.file);
    s.file = -1;
}

// True for every result a load may give.
inline bool load_result_known(int32_t result)
{
    return (result >= PM_PCX_OK && result <= PM_PCX_NO_MEMORY) || result == PM_PCX_NO_PAGE;
}

// What one load gave, and whether it kept the rules every load keeps.
struct load_outcome {
    int32_t result = -1;  // pm_load_pcx's (or pm_load_pcx_page's) result; -1 when no load was made
    bool input_block_restored = true;
    // Inspection of the same bytes gave the load's result, as it must for
    // every result but a file that cannot be opened and running out of memory.
    bool inspection_agrees = true;
    // How the codec's decoding differs from inspection and the loader; "".
    std::string codec_fault;
};

// Pictures of more pixels than this are held to the loader by their result
// and size only, so that every run stays quick.
constexpr int64_t codec_pixels_compared = int64_t{1} << 16;

// Decodes the input with pm_pcx_decode as RGBA8 and loads it from memory
// into a 32-bit buffer of the picture's size at (0, 0), with the same flags
// and page; "" when they agree with each other and with inspection. The load
// takes the picture's own colours (pcx_keep_palette is left out), and indices
// the picture gives no colour (past a 16-colour header palette), which a load
// shows in whatever colours the library's palette holds and the codec gives
// black, are black for it too: the palette is made black for the load and
// put back after it.
inline std::string check_codec(const uint8_t *data, size_t size, const load_setup &setup)
{
    pm_pcx_info info;
    const int32_t inspected =
        pm_pcx_inspect_memory(data, static_cast<uint32_t>(size), setup.flags, setup.page, 32, &info);
    pm_picture picture{};
    picture.format = PM_PIXELS_RGBA8;
    const int32_t sized = pm_pcx_decode(data, size, setup.flags, setup.page, &picture);
    const std::string sizes = std::to_string(picture.width) + " x " + std::to_string(picture.height);
    if (inspected != PM_PCX_OK) // no such page
        return sized == PM_PCX_NO_PAGE ? "" : "a page inspection lacks decodes with result " + std::to_string(sized);
    if (sized != info.verdict)
        return "decoding gives result " + std::to_string(sized) + ", inspection's verdict is " +
               std::to_string(info.verdict);
    if (sized != PM_PCX_OK)
        return "";
    if (picture.width != info.width || picture.height != info.height)
        return "decoding gives " + sizes + " pixels, inspection " + std::to_string(info.width) + " x " +
               std::to_string(info.height);
    if (int64_t{picture.width} * picture.height > codec_pixels_compared)
        return "";
    std::vector<uint8_t> rgba(4 * static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height), 0x5A);
    picture.pixels = rgba.data();
    const int32_t decoded = pm_pcx_decode(data, size, setup.flags, setup.page, &picture);
    pm_state.new_buffer_depth = 32;
    const int32_t buffer = pm_buffer_create(picture.width, picture.height);
    if (buffer < 0)
        return "";
    pm_buffer_activate(buffer);
    pm_move_cursor(0, 0);
    uint8_t saved[768];
    for (size_t i = 0; i < 256; ++i) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        saved[3 * i] = entry.peRed, saved[3 * i + 1] = entry.peGreen, saved[3 * i + 2] = entry.peBlue;
    }
    const uint8_t black[768] = {};
    pm_set_palette_entries(0, 256, black);
    pm_set_input_block(data, static_cast<uint32_t>(size));
    const int32_t flags = (setup.flags & ~pcx_keep_palette) | pcx_from_memory | pcx_at_cursor;
    const int32_t loaded = setup.page < 0 ? pm_load_pcx(nullptr, flags) : pm_load_pcx_page(nullptr, flags, setup.page);
    pm_set_input_block(nullptr, 0);
    pm_set_palette_entries(0, 256, saved);
    std::string fault;
    if (decoded != loaded)
        fault = "decoding gives result " + std::to_string(decoded) + ", a 32-bit load " + std::to_string(loaded);
    std::vector<uint8_t> shown(3 * static_cast<size_t>(picture.width));
    for (int32_t y = 0; fault.empty() && decoded == PM_PCX_OK && y < picture.height; ++y) {
        pm_read_row(0, y, picture.width, PM_ROW_RGB24, shown.data());
        const uint8_t *row = rgba.data() + 4 * static_cast<size_t>(picture.width) * static_cast<size_t>(y);
        for (int32_t x = 0; x < picture.width && fault.empty(); ++x) {
            const uint8_t *got = row + 4 * x, *want = shown.data() + 3 * x;
            if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != 255) {
                char text[128];
                std::snprintf(text, sizeof text, "pixel (%d, %d) of %s decodes as %02X%02X%02X alpha %d, loads as %02X%02X%02X",
                              x, y, sizes.c_str(), got[0], got[1], got[2], got[3], want[0], want[1], want[2]);
                fault = text;
            }
        }
    }
    pm_buffer_deactivate();
    pm_buffer_destroy(buffer);
    return fault;
}

// Loads the input into a fresh buffer as setup says, then destroys the
// buffer. The input block is left at read_buffer.
inline load_outcome load(const session &s, const uint8_t *data, size_t size, const load_setup &setup)
{
    load_outcome outcome;
    constexpr size_t line_length_high = 67; // high byte of BytesPerLine
    std::unique_ptr<uint8_t[]> cut;
    if (!setup.whole_line_length && size > line_length_high && data[line_length_high] != 0) {
        // An exact-size copy, so that a read past its end is still caught.
        cut.reset(new uint8_t[size]);
        std::memcpy(cut.get(), data, size);
        cut[line_length_high] = 0;
        data = cut.get();
    }
    if (setup.from_file && !fuzz::memory_file_fill(s.file, data, size))
        return outcome;
    pm_state.new_buffer_depth = setup.depth;
    const int32_t buffer = pm_buffer_create(setup.width, setup.height);
    if (buffer < 0)
        return outcome;
    pm_buffer_activate(buffer);
    pm_move_cursor(setup.cursor_x, setup.cursor_y);
    if (setup.from_file) {
        pm_set_input_block(pm_state.read_buffer, setup.refill);
        outcome.result = setup.page < 0 ? pm_load_pcx(s.file_name.c_str(), setup.flags)
                                        : pm_load_pcx_page(s.file_name.c_str(), setup.flags, setup.page);
        outcome.input_block_restored =
            pm_state.input_block == pm_state.read_buffer && pm_state.input_block_size == setup.refill;
    } else {
        pm_set_input_block(data, static_cast<uint32_t>(size));
        outcome.result = setup.page < 0 ? pm_load_pcx(nullptr, setup.flags | pcx_from_memory)
                                        : pm_load_pcx_page(nullptr, setup.flags | pcx_from_memory, setup.page);
        outcome.input_block_restored =
            pm_state.input_block == data && pm_state.input_block_size == static_cast<uint32_t>(size);
    }
    pm_set_input_block(nullptr, 0);
    pm_buffer_deactivate();
    pm_buffer_destroy(buffer);
    pm_pcx_info info;
    // Inspection has no verdict for a page the input lacks, which a load
    // refuses as PM_PCX_NO_PAGE.
    const int32_t inspected = pm_pcx_inspect_memory(data, static_cast<uint32_t>(size), setup.flags, setup.page,
                                                    setup.depth, &info);
    if (inspected != PM_PCX_OK)
        outcome.inspection_agrees = outcome.result == PM_PCX_NO_PAGE;
    else if (outcome.result >= 0 && outcome.result != PM_PCX_OPEN_FAILED && outcome.result != PM_PCX_NO_MEMORY)
        outcome.inspection_agrees = info.verdict == outcome.result;
    outcome.codec_fault = check_codec(data, size, setup);
    return outcome;
}

} // namespace pcx_fuzz
