// The PCX file format as the loader, the writer, the codec and the tools
// share it: the 128-byte header's layout, the format's constants and
// results, what the loader takes from a header and requires of it, and the
// DCX directory. Like everything in graphics/pcx/ it knows nothing of the
// library's state.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pm {

constexpr int32_t pcx_header_size = 128;
constexpr int32_t pcx_trailer_size = 769; // the marker byte and 256 RGB triples
constexpr uint8_t pcx_manufacturer = 0x0A;
constexpr uint8_t pcx_trailer_marker = 0x0C;
constexpr uint8_t pcx_version_trailer = 5; // the version whose pictures may end in a trailer palette
constexpr uint8_t pcx_encoding_run_length = 1;
constexpr int32_t pcx_max_run = 63; // a run byte holds its count in its low six bits

// The results of the format's stages and the reasons of a refusal, with the
// values of the public PM_PCX_ ones (graphics/pcx_codec.cpp holds them equal).
struct pcx_result {
    static constexpr int32_t ok = 0;
    static constexpr int32_t open_failed = 1;
    static constexpr int32_t invalid = 2;
    static constexpr int32_t unsupported = 3;
    static constexpr int32_t no_memory = 4;
    static constexpr int32_t write_failed = 5;
    static constexpr int32_t no_page = 6;
    static constexpr int32_t too_many_colours = 7;
    static constexpr int32_t bad_argument = 8;
};
struct pcx_reason {
    static constexpr int32_t none = 0;
    static constexpr int32_t short_header = 1;
    static constexpr int32_t manufacturer = 2;
    static constexpr int32_t window = 3;
    static constexpr int32_t no_planes = 4;
    static constexpr int32_t no_line = 5;
    static constexpr int32_t line_too_short = 6;
    static constexpr int32_t no_converter = 7;
    static constexpr int32_t depth = 8;
};

// The 128 header bytes as they lie in the file. Multi-byte fields are
// little-endian; read and write them through pcx_le16.
#pragma pack(push, 1)
struct pcx_header_layout {
    uint8_t manufacturer;   // 0x0A
    uint8_t version;        // 5 means a trailer palette may follow the data
    uint8_t encoding;       // not read: the data is always run-length decoded
    uint8_t bits_per_pixel; // per plane
    uint16_t x_min;         // the picture's window, inclusive
    uint16_t y_min;
    uint16_t x_max;
    uint16_t y_max;
    uint16_t h_dpi;
    uint16_t v_dpi;
    uint8_t colormap[48];    // the header palette: 16 RGB triples
    uint8_t reserved;
    uint8_t planes;          // NPlanes
    uint16_t bytes_per_line; // bytes of one plane of one scanline
    uint16_t palette_info;
    uint16_t h_screen_size;
    uint16_t v_screen_size;
    uint8_t filler[54];
};
#pragma pack(pop)
static_assert(sizeof(pcx_header_layout) == pcx_header_size);
static_assert(offsetof(pcx_header_layout, colormap) == 16);
static_assert(offsetof(pcx_header_layout, planes) == 65);
static_assert(offsetof(pcx_header_layout, bytes_per_line) == 66);

// A 16-bit header field to or from the host's byte order.
constexpr uint16_t pcx_le16(uint16_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        return static_cast<uint16_t>((value >> 8) | (value << 8));
    return value;
}

// PaletteInfo 2: the picture's 256 colours are greys.
constexpr uint16_t pcx_palette_info_grey = 2;

// The source formats that have row converters, in the order they are tested.
// The first four are read by every load; the rest only with pcx_all_layouts,
// which takes them out of the four that their NPlanes or BitsPerPixel would
// otherwise put them in.
enum class pcx_format {
    planar16, // NPlanes 4: four planes of one bit per pixel
    planar24, // NPlanes 3: red, green and blue planes of one byte per pixel
    indexed8, // BitsPerPixel 8: one byte per pixel in plane 0
    mono,     // BitsPerPixel 1: one bit per pixel in plane 0
    packed4,  // one plane of 4 bits per pixel, the high nibble first
    packed2,  // one plane of 2 bits per pixel, the high bits first
    planar4,  // 2 planes of one bit per pixel: 4 colours
    planar8,  // 3 planes of one bit per pixel: 8 colours
    planar32, // 4 planes of 8 bits: red, green, blue, and a fourth that is dropped
    none      // anything else
};

// What the loader takes from a header.
struct pcx_picture {
    int32_t version;
    int32_t bits_per_pixel;
    int32_t planes;
    int32_t bytes_per_line;
    int32_t x_min;
    int32_t y_min;
    int32_t width;  // Xmax - Xmin + 1; 0 or less for a bad window
    int32_t height; // Ymax - Ymin + 1
    int32_t palette_info;
    bool all_layouts; // read as a load with pcx_all_layouts reads it
    pcx_format format;
};

// The layouts that only pcx_all_layouts reads; none for any other pair.
inline pcx_format pcx_classify_more(int32_t planes, int32_t bits_per_pixel)
{
    if (planes == 1 && bits_per_pixel == 4)
        return pcx_format::packed4;
    if (planes == 1 && bits_per_pixel == 2)
        return pcx_format::packed2;
    if (planes == 2 && bits_per_pixel == 1)
        return pcx_format::planar4;
    if (planes == 3 && bits_per_pixel == 1)
        return pcx_format::planar8;
    if (planes == 4 && bits_per_pixel == 8)
        return pcx_format::planar32;
    return pcx_format::none;
}

inline pcx_format pcx_classify(int32_t planes, int32_t bits_per_pixel, bool all_layouts = false)
{
    if (all_layouts) {
        if (const pcx_format more = pcx_classify_more(planes, bits_per_pixel); more != pcx_format::none)
            return more;
    }
    if (planes == 4)
        return pcx_format::planar16;
    if (planes == 3)
        return pcx_format::planar24;
    if (bits_per_pixel == 8)
        return pcx_format::indexed8;
    if (bits_per_pixel == 1)
        return pcx_format::mono;
    return pcx_format::none;
}

// The header's picture as a load with (all_layouts) or without
// pcx_all_layouts reads it.
inline pcx_picture pcx_parse_header(const uint8_t header[pcx_header_size], bool all_layouts = false)
{
    pcx_header_layout fields;
    std::memcpy(&fields, header, sizeof fields);
    pcx_picture picture{};
    picture.version = fields.version;
    picture.bits_per_pixel = fields.bits_per_pixel;
    picture.planes = fields.planes;
    picture.bytes_per_line = pcx_le16(fields.bytes_per_line);
    picture.x_min = pcx_le16(fields.x_min);
    picture.y_min = pcx_le16(fields.y_min);
    picture.width = pcx_le16(fields.x_max) - picture.x_min + 1;
    picture.height = pcx_le16(fields.y_max) - picture.y_min + 1;
    picture.palette_info = pcx_le16(fields.palette_info);
    picture.all_layouts = all_layouts;
    picture.format = pcx_classify(picture.planes, picture.bits_per_pixel, all_layouts);
    return picture;
}

// Why a header that starts with the manufacturer byte cannot be decoded
// safely; none when it can (a format without a converter is not a fault of
// the header).
enum class pcx_header_fault {
    none,
    window,            // Xmax < Xmin or Ymax < Ymin
    no_planes,         // NPlanes 0
    bytes_per_line,    // BytesPerLine 0
    line_too_short     // BytesPerLine too small for a row of the window's width
};

inline pcx_header_fault pcx_check_header(const pcx_picture &picture)
{
    if (picture.width < 1 || picture.height < 1)
        return pcx_header_fault::window;
    if (picture.planes < 1)
        return pcx_header_fault::no_planes;
    if (picture.bytes_per_line < 1)
        return pcx_header_fault::bytes_per_line;
    switch (picture.format) {
    case pcx_format::planar16:
    case pcx_format::mono:
    case pcx_format::planar4:
    case pcx_format::planar8:
        if (picture.bytes_per_line < (picture.width + 7) / 8)
            return pcx_header_fault::line_too_short;
        break;
    case pcx_format::packed4:
        if (picture.bytes_per_line < (picture.width + 1) / 2)
            return pcx_header_fault::line_too_short;
        break;
    case pcx_format::packed2:
        if (picture.bytes_per_line < (picture.width + 3) / 4)
            return pcx_header_fault::line_too_short;
        break;
    case pcx_format::planar24:
    case pcx_format::indexed8:
    case pcx_format::planar32:
        if (picture.bytes_per_line < picture.width)
            return pcx_header_fault::line_too_short;
        break;
    case pcx_format::none:
        break;
    }
    return pcx_header_fault::none;
}

// False when the picture cannot be decoded safely.
inline bool pcx_readable(const pcx_picture &picture)
{
    return pcx_check_header(picture) == pcx_header_fault::none;
}

// ---- DCX: PCX pictures as the pages of one file ---------------------------------

// A DCX file starts with this number (little-endian), then the file offsets
// of up to 1023 pages, each a whole PCX picture, ended by an offset of 0.
constexpr uint32_t dcx_magic = 0x3ADE68B1;
constexpr int32_t dcx_max_pages = 1023;
constexpr int32_t dcx_directory_size = 4 + 4 * (dcx_max_pages + 1);

inline uint32_t dcx_le32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// True when the `size` bytes at `bytes` begin as a DCX file does.
inline bool dcx_is_container(const uint8_t *bytes, uint64_t size)
{
    return size >= 4 && dcx_le32(bytes) == dcx_magic;
}

// The page offsets of a DCX file, in the order of its directory.
struct dcx_directory {
    int32_t pages = 0;
    uint32_t offsets[dcx_max_pages] = {};
};

// The directory of a DCX file from its first `size` bytes (beyond
// dcx_directory_size none are looked at): the offsets before the first 0,
// the directory's end or the end of the bytes, whichever comes first.
inline dcx_directory dcx_read_directory(const uint8_t *bytes, uint64_t size)
{
    dcx_directory directory;
    const uint64_t available = size < static_cast<uint64_t>(dcx_directory_size) ? size : dcx_directory_size;
    for (uint64_t at = 4; at + 4 <= available && directory.pages < dcx_max_pages; at += 4) {
        const uint32_t offset = dcx_le32(bytes + at);
        if (offset == 0)
            break;
        directory.offsets[directory.pages++] = offset;
    }
    return directory;
}

// The bytes [start, end) of page `page` in a DCX file of file_size bytes:
// from its offset to the nearest offset of another page beyond it, else to
// the end of the file; empty when the offset lies at or past the end. False
// when the directory has no such page.
inline bool dcx_page_span(const dcx_directory &directory, int32_t page, uint64_t file_size, uint64_t &start,
                          uint64_t &end)
{
    if (page < 0 || page >= directory.pages)
        return false;
    start = directory.offsets[page] < file_size ? directory.offsets[page] : file_size;
    end = file_size;
    for (int32_t i = 0; i < directory.pages; ++i)
        if (directory.offsets[i] > start && directory.offsets[i] < end)
            end = directory.offsets[i];
    return true;
}

} // namespace pm
