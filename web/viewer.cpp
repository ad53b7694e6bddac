// The PCX viewer's program: the page hands it a file's bytes; it decodes them
// from memory with the library on the software display into a buffer of the
// picture's size and chosen depth, exactly as pixmora-convert does, and gives
// back the pixels, the header fields and palette as the library's inspection
// describes them, or the loader's result. A picture saved as PCX is written
// into memory for the page to download. In the picture's own colours the
// page decodes through the pixmora package, and asks here only for the
// header fields and whether the viewer shows a picture of that size.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <emscripten.h>

#include <pixmora/pixmora.h>
#include "tools/common/active_pixels.h"
#include "tools/common/headless_session.h"

namespace {

// Pictures larger than this are refused before any buffer is made: the page
// holds the buffer and its RGBA copy in at most 1 GiB.
constexpr int32_t max_side = 32768;
constexpr int64_t max_pixels = 32 * 1024 * 1024;

// What viewer_open reports beyond the loader's own results.
constexpr int32_t result_too_large = -1;
constexpr int32_t result_no_buffer = -2;

struct viewer_state {
    // The library, started afresh for every picture, so that each load sees
    // the default palette as the converter's does.
    std::optional<tools::headless_session> library;
    std::vector<uint8_t> input;   // the file's bytes, written by the page
    std::vector<uint8_t> rgba;    // the decoded picture, top row first
    std::vector<uint8_t> saved;   // the last picture saved as PCX
    int32_t width = 0;
    int32_t height = 0;
    std::string header_json;      // the header fields, for the page
    std::string message;          // the last result in words
    double load_ms = 0;           // the last load's time
};
viewer_state viewer;

const char *palette_text(int32_t kind)
{
    switch (kind) {
    case PM_PCX_PALETTE_HEADER: return "16 colours in the header";
    case PM_PCX_PALETTE_TRAILER: return "256 colours after the data";
    case PM_PCX_PALETTE_GREY: return "256 greys (greyscale, no trailer)";
    default: return "none: 24-bit colour";
    }
}

void append_colours(std::string &json, const uint8_t *rgb, int32_t count)
{
    json += "\"palette\":[";
    for (int32_t i = 0; i < count; ++i) {
        char colour[12];
        std::snprintf(colour, sizeof colour, "%s\"#%02x%02x%02x\"", i > 0 ? "," : "", rgb[3 * i], rgb[3 * i + 1],
                      rgb[3 * i + 2]);
        json += colour;
    }
    json += "]";
}

// The header's fields and the palette the file carries, as JSON; "null"
// without a whole header.
std::string describe_header(const pm_pcx_info &info)
{
    if (!info.header_present)
        return "null";
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"manufacturer\":%d,\"version\":%d,\"encoding\":%d,\"bitsPerPixel\":%d,\"planes\":%d,"
                  "\"xMin\":%d,\"yMin\":%d,\"xMax\":%d,\"yMax\":%d,\"width\":%d,\"height\":%d,"
                  "\"bytesPerLine\":%d,\"paletteInfo\":%d,\"dpi\":[%d,%d],\"paletteKind\":\"%s\","
                  "\"pageCount\":%d,\"page\":%d,",
                  info.manufacturer, info.version, info.encoding, info.bits_per_pixel, info.planes, info.x_min,
                  info.y_min, info.x_max, info.y_max, info.width, info.height, info.bytes_per_line, info.palette_info,
                  info.h_dpi, info.v_dpi, palette_text(info.palette_kind), info.page_count, info.page);
    std::string json = text;
    // A two-colour picture shows the two header colours it uses.
    const bool two_colours = info.palette_kind == PM_PCX_PALETTE_HEADER && info.bits_per_pixel == 1 && info.planes == 1;
    append_colours(json, info.palette, two_colours ? 2 : info.palette_count);
    json += "}";
    return json;
}

void keep_pixels()
{
    const size_t count = static_cast<size_t>(viewer.width) * static_cast<size_t>(viewer.height);
    std::vector<uint32_t> row(static_cast<size_t>(viewer.width));
    viewer.rgba.assign(count * 4, 0);
    uint8_t *out = viewer.rgba.data();
    for (int32_t y = 0; y < viewer.height; ++y) {
        tools::read_active_row(y, viewer.width, row.data());
        for (uint32_t pixel : row) {
            *out++ = static_cast<uint8_t>(pixel >> 16);
            *out++ = static_cast<uint8_t>(pixel >> 8);
            *out++ = static_cast<uint8_t>(pixel);
            *out++ = 0xFF;
        }
    }
}

// Forgets the last picture, then describes page `page` of the input for a
// buffer of `depth` bits into header_json, and checks that the viewer shows
// a picture of its size: 0 with *width and *height the size to decode (1 x 1
// for a picture the loader refuses, so that the loader itself gives its
// result), PM_PCX_NO_PAGE or result_too_large with the message set.
int32_t describe_picture(int32_t depth, int32_t page, int32_t *width, int32_t *height)
{
    viewer.library.reset();
    viewer.rgba.clear();
    viewer.width = 0;
    viewer.height = 0;
    pm_pcx_info info{};
    if (pm_pcx_inspect_memory(viewer.input.data(), static_cast<uint32_t>(viewer.input.size()), pcx_all_layouts, page,
                              depth, &info) != PM_PCX_OK) {
        viewer.header_json = "null";
        viewer.message = pm_pcx_result_text(PM_PCX_NO_PAGE);
        return PM_PCX_NO_PAGE;
    }
    viewer.header_json = describe_header(info);

    const bool taken = info.verdict == PM_PCX_OK;
    *width = taken ? info.width : 1;
    *height = taken ? info.height : 1;
    if (*width > max_side || *height > max_side || static_cast<int64_t>(*width) * *height > max_pixels) {
        viewer.message = "the picture is " + std::to_string(*width) + " x " + std::to_string(*height) +
                         " pixels, more than the viewer shows (" + std::to_string(max_side) + " a side, " +
                         std::to_string(max_pixels / (1024 * 1024)) + " million pixels)";
        return result_too_large;
    }
    viewer.message = pm_pcx_result_text(PM_PCX_OK);
    return 0;
}

int32_t open_picture(int32_t depth, int32_t page)
{
    int32_t width = 0;
    int32_t height = 0;
    const int32_t described = describe_picture(depth, page, &width, &height);
    if (described != 0)
        return described;

    viewer.library.emplace();
    pm_set_new_buffer_depth(depth);
    viewer.library->buffer = pm_buffer_create(width, height);
    if (viewer.library->buffer < 0) {
        viewer.message = "no " + std::to_string(width) + " x " + std::to_string(height) + " buffer of " +
                         std::to_string(depth) + " bits can be made";
        viewer.library.reset();
        return result_no_buffer;
    }
    pm_buffer_activate(viewer.library->buffer);
    pm_move_cursor(0, 0);
    // An empty file is an empty picture, never the library's own read buffer
    // (which a null block stands for).
    static const uint8_t nothing = 0;
    pm_set_input_block(viewer.input.empty() ? &nothing : viewer.input.data(),
                       static_cast<uint32_t>(viewer.input.size()));
    // Every layout is read, and a DCX file's pages. At 8 bits the file's
    // indices are kept, showing the picture's own trailer colours rather
    // than a reduced palette.
    const int32_t flags = pcx_from_memory | pcx_at_cursor | pcx_all_layouts | (depth == 8 ? pcx_no_reduction : 0);
    const double started = emscripten_get_now();
    const int32_t result = pm_load_pcx_page("", flags, page);
    viewer.load_ms = emscripten_get_now() - started;
    pm_set_input_block(nullptr, 0);
    viewer.message = pm_pcx_result_text(result);
    if (result != PM_PCX_OK)
        return result;
    viewer.width = width;
    viewer.height = height;
    keep_pixels();
    return 0;
}

} // namespace

// The page's interface.
extern "C" {

// Room for a file of size bytes; the page writes the file there.
EMSCRIPTEN_KEEPALIVE uint8_t *viewer_input(uint32_t size)
{
    viewer.input.assign(size, 0);
    return viewer.input.data();
}

// Decodes page `page` of the input (0 for a PCX file; a page of a DCX file)
// into a buffer of depth 8, 16, 24 or 32 bits: the loader's result (0
// shown), -1 a picture too large for the viewer, -2 no buffer of that size
// and depth.
EMSCRIPTEN_KEEPALIVE int32_t viewer_open(int32_t depth, int32_t page)
{
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32)
        depth = 32;
    return open_picture(depth, page < 0 ? 0 : page);
}

// Describes page `page` of the input without decoding it, for the page's
// own decoding in the picture's own colours: 0, or as viewer_open, -1 a
// picture too large for the viewer, or PM_PCX_NO_PAGE. The header fields are
// then in viewer_header, the words in viewer_message.
EMSCRIPTEN_KEEPALIVE int32_t viewer_describe(int32_t page)
{
    int32_t width = 0;
    int32_t height = 0;
    return describe_picture(32, page < 0 ? 0 : page, &width, &height);
}

EMSCRIPTEN_KEEPALIVE const char *viewer_message() { return viewer.message.c_str(); }
// How long the last picture's load (pm_load_pcx alone) took, in milliseconds.
EMSCRIPTEN_KEEPALIVE double viewer_load_ms() { return viewer.load_ms; }
EMSCRIPTEN_KEEPALIVE const char *viewer_header() { return viewer.header_json.c_str(); }
EMSCRIPTEN_KEEPALIVE int32_t viewer_width() { return viewer.width; }
EMSCRIPTEN_KEEPALIVE int32_t viewer_height() { return viewer.height; }
EMSCRIPTEN_KEEPALIVE const uint8_t *viewer_pixels() { return viewer.rgba.data(); }

// Saves the shown picture as PCX into memory (viewer_saved, viewer_saved_size):
// the library's result, PM_PCX_INVALID when nothing is shown.
EMSCRIPTEN_KEEPALIVE int32_t viewer_save_pcx()
{
    viewer.saved.clear();
    if (viewer.width == 0)
        return PM_PCX_INVALID;
    const int32_t last_x = viewer.width - 1;
    const int32_t last_y = viewer.height - 1;
    uint32_t size = 0;
    int32_t result = pm_save_pcx_memory(nullptr, 0, &size, pcx_layout_auto, 0, last_x, 0, last_y);
    if (result != PM_PCX_OK)
        return result;
    viewer.saved.resize(size);
    result = pm_save_pcx_memory(viewer.saved.data(), size, &size, pcx_layout_auto, 0, last_x, 0, last_y);
    if (result != PM_PCX_OK)
        viewer.saved.clear();
    return result;
}

// The bytes of the last picture saved, and their count.
EMSCRIPTEN_KEEPALIVE const uint8_t *viewer_saved() { return viewer.saved.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t viewer_saved_size() { return static_cast<uint32_t>(viewer.saved.size()); }
EMSCRIPTEN_KEEPALIVE const char *viewer_result_text(int32_t result) { return pm_pcx_result_text(result); }

} // extern "C"
