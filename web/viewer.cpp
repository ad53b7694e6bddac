// The PCX viewer's program: the page hands it a file's bytes; it decodes them
// from memory with the library on the software display into a buffer of the
// picture's size and chosen depth, exactly as pixmora-convert does, and gives
// back the pixels, the header fields and palette, or the loader's result.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <emscripten.h>

#include <pixmora/pixmora.h>
#include "graphics/pcx.h"
#include "platform/soft/soft_display.h"
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

// Where a saved picture is written before the page downloads it.
constexpr char saved_path[] = "/saved.pcx";

struct viewer_state {
    // The library, started afresh (with the software display reset) for every
    // picture, so that each load sees the default palette as the converter's does.
    std::optional<tools::headless_session> library;
    std::vector<uint8_t> input;   // the file's bytes, written by the page
    std::vector<uint8_t> rgba;    // the decoded picture, top row first
    int32_t width = 0;
    int32_t height = 0;
    std::string header_json;      // the header fields, for the page
    std::string message;          // the last result in words
    double load_ms = 0;           // the last load's time
};
viewer_state viewer;

// Where the picture's colours come from, as the loader takes them.
enum class palette_source { none, header, trailer };

palette_source find_palette(const pm::pcx_picture &picture, const std::vector<uint8_t> &bytes)
{
    if (picture.planes == 3)
        return palette_source::none;
    const size_t size = bytes.size();
    if (picture.version == pm::pcx_version_trailer && size >= pm::pcx_header_size + pm::pcx_trailer_size &&
        bytes[size - pm::pcx_trailer_size] == pm::pcx_trailer_marker)
        return palette_source::trailer;
    return palette_source::header;
}

const char *palette_text(palette_source source)
{
    switch (source) {
    case palette_source::none: return "none: 24-bit colour";
    case palette_source::header: return "16 colours in the header";
    case palette_source::trailer: return "256 colours after the data";
    }
    return "";
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
std::string describe_header(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() < static_cast<size_t>(pm::pcx_header_size))
        return "null";
    pm::pcx_header_layout fields;
    std::memcpy(&fields, bytes.data(), sizeof fields);
    const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
    const palette_source source = find_palette(picture, bytes);
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"manufacturer\":%d,\"version\":%d,\"encoding\":%d,\"bitsPerPixel\":%d,\"planes\":%d,"
                  "\"xMin\":%d,\"yMin\":%d,\"xMax\":%d,\"yMax\":%d,\"width\":%d,\"height\":%d,"
                  "\"bytesPerLine\":%d,\"paletteInfo\":%d,\"dpi\":[%d,%d],\"paletteKind\":\"%s\",",
                  fields.manufacturer, fields.version, fields.encoding, fields.bits_per_pixel, fields.planes,
                  pm::pcx_le16(fields.x_min), pm::pcx_le16(fields.y_min), pm::pcx_le16(fields.x_max),
                  pm::pcx_le16(fields.y_max), picture.width, picture.height, picture.bytes_per_line,
                  pm::pcx_le16(fields.palette_info), pm::pcx_le16(fields.h_dpi), pm::pcx_le16(fields.v_dpi), palette_text(source));
    std::string json = text;
    if (source == palette_source::none)
        append_colours(json, nullptr, 0);
    else if (source == palette_source::trailer)
        append_colours(json, bytes.data() + bytes.size() - pm::pcx_trailer_size + 1, 256);
    else
        append_colours(json, fields.colormap, picture.bits_per_pixel == 1 && picture.planes == 1 ? 2 : 16);
    json += "}";
    return json;
}

// The picture's size from its header when it can be decoded; 1 x 1 otherwise,
// so that the loader itself gives its result for an unreadable file.
void buffer_size(const std::vector<uint8_t> &bytes, int32_t *width, int32_t *height)
{
    *width = 1;
    *height = 1;
    if (bytes.size() < static_cast<size_t>(pm::pcx_header_size) || bytes[0] != pm::pcx_manufacturer)
        return;
    const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
    if (!pm::pcx_readable(picture))
        return;
    *width = picture.width;
    *height = picture.height;
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

int32_t open_picture(int32_t depth)
{
    viewer.library.reset();
    viewer.rgba.clear();
    viewer.width = 0;
    viewer.height = 0;
    viewer.header_json = describe_header(viewer.input);

    int32_t width = 0;
    int32_t height = 0;
    buffer_size(viewer.input, &width, &height);
    if (width > max_side || height > max_side || static_cast<int64_t>(width) * height > max_pixels) {
        viewer.message = "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels, more than the viewer shows (" + std::to_string(max_side) + " a side, " +
                         std::to_string(max_pixels / (1024 * 1024)) + " million pixels)";
        return result_too_large;
    }

    pm::soft::reset();
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
    pm_set_input_block(viewer.input.data(), static_cast<uint32_t>(viewer.input.size()));
    // At 8 bits the file's indices are kept, showing the picture's own
    // trailer colours rather than a reduced palette.
    const int32_t flags = pcx_from_memory | pcx_at_cursor | (depth == 8 ? pcx_no_reduction : 0);
    const double started = emscripten_get_now();
    const int32_t result = pm_load_pcx("", flags);
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

// Decodes the input into a buffer of depth 8, 16, 24 or 32 bits: the
// loader's result (0 shown), -1 a picture too large for the viewer, -2 no
// buffer of that size and depth.
EMSCRIPTEN_KEEPALIVE int32_t viewer_open(int32_t depth)
{
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32)
        depth = 32;
    return open_picture(depth);
}

EMSCRIPTEN_KEEPALIVE const char *viewer_message() { return viewer.message.c_str(); }
// How long the last picture's load (pm_load_pcx alone) took, in milliseconds.
EMSCRIPTEN_KEEPALIVE double viewer_load_ms() { return viewer.load_ms; }
EMSCRIPTEN_KEEPALIVE const char *viewer_header() { return viewer.header_json.c_str(); }
EMSCRIPTEN_KEEPALIVE int32_t viewer_width() { return viewer.width; }
EMSCRIPTEN_KEEPALIVE int32_t viewer_height() { return viewer.height; }
EMSCRIPTEN_KEEPALIVE const uint8_t *viewer_pixels() { return viewer.rgba.data(); }

// Writes the shown picture with pm_save_pcx to viewer_saved_path() in the
// virtual file system: its result, PM_PCX_INVALID when nothing is shown.
EMSCRIPTEN_KEEPALIVE int32_t viewer_save_pcx()
{
    if (viewer.width == 0)
        return PM_PCX_INVALID;
    return pm_save_pcx(saved_path, 0, viewer.width - 1, 0, viewer.height - 1);
}

EMSCRIPTEN_KEEPALIVE const char *viewer_saved_path() { return saved_path; }
EMSCRIPTEN_KEEPALIVE const char *viewer_result_text(int32_t result) { return pm_pcx_result_text(result); }

} // extern "C"
