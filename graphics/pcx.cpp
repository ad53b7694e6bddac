// Loading PCX pictures into the active buffer, from a file or from memory.
//
// The road of one picture, in the order of this file's private part: read
// the header and check it, place the picture and cut it against the buffer,
// decode the run-length scanlines one by one and convert each into a buffer
// row, top row first, with the row converter picked once for (source format,
// buffer depth); then the palette. The decoding and palette workers that
// graphics/pcx.h shares with the tests follow it. The picture's palette is applied before the
// pixels in 16-, 24- and 32-bit buffers (their pixels go through
// pixel_lookup) and after them in 8-bit buffers (colour reduction must see
// the pixels).
#include "graphics/pcx.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "graphics/internal.h"
#include "graphics/kernels.h"
#include "graphics/pcx_layouts.h"
#include "graphics/pcx_windows.h"
#include <pixmora/pixmora.h>
#include "platform/platform.h"

namespace pm {
namespace {

// ---- Header -------------------------------------------------------------------

// What a load holds while it runs; released and restored on every return.
class pcx_load_scope {
public:
    pcx_load_scope() : saved_input_block_(pm_state.input_block) {}
    ~pcx_load_scope()
    {
        if (scanline_block_ != nullptr) {
            pm::platform::global_unlock(scanline_block_);
            pm::platform::global_free(scanline_block_);
        }
        if (file_opened_) {
            pm::platform::file_close(pm_state.file_handle);
            pm_state.file_handle = nullptr;
        }
        pm_state.input_block = saved_input_block_;
    }
    pcx_load_scope(const pcx_load_scope &) = delete;
    pcx_load_scope &operator=(const pcx_load_scope &) = delete;

    // Opens the picture's file into file_handle; false when it cannot be opened.
    bool open_file(const char *name)
    {
        pm_state.file_handle = name != nullptr ? pm::platform::file_open_read(name) : nullptr;
        file_opened_ = pm_state.file_handle != nullptr;
        return file_opened_;
    }

    // A zero-filled scanline buffer with its spare bytes; null when out of memory.
    uint8_t *allocate_scanline(int32_t length)
    {
        const uint64_t size = static_cast<uint64_t>(length) + pcx_scanline_spare;
        scanline_block_ = pm::platform::global_alloc(pm::platform::gmem_zeroinit, size);
        if (scanline_block_ == nullptr)
            return nullptr;
        return static_cast<uint8_t *>(pm::platform::global_lock(scanline_block_));
    }

private:
    uint8_t *saved_input_block_;
    bool file_opened_ = false;
    pm_hglobal scanline_block_ = nullptr;
};

// Which picture of the input a load reads: pm_load_pcx's (the input itself,
// or with pcx_all_layouts the first page of a DCX file), or a page of a DCX
// file, where a plain picture is page 0.
struct pcx_page_choice {
    bool any_container; // a DCX file is read as one
    int32_t page;
};

pcx_page_choice pcx_page_of(int32_t flags, int32_t page)
{
    if (page < 0)
        return {(flags & pcx_all_layouts) != 0, 0};
    return {true, page};
}

// Reads one file read's worth; the byte count, 0 when the read fails.
uint32_t pcx_file_read(void *buffer, uint32_t size)
{
    uint32_t got = 0;
    if (!pm::platform::file_read(pm_state.file_handle, buffer, size, &got))
        got = 0;
    got = std::min(got, size);
    pm_state.bytes_read = got;
    return got;
}

// The header of a page of the DCX file open in file_handle, whose first
// `got` bytes stand in pcx_header; sets where the page lies. Returns 0, or
// the result that ends the load.
int32_t pcx_open_file_page(int32_t page, uint32_t got, pcx_stream &stream)
{
    uint8_t bytes[dcx_directory_size];
    std::memcpy(bytes, pm_state.pcx_header, got);
    got += pcx_file_read(bytes + got, static_cast<uint32_t>(dcx_directory_size) - got);
    const int64_t file_size = pm::platform::file_seek(pm_state.file_handle, 0, pm::platform::seek_origin::end);
    uint64_t start = 0, end = 0;
    if (!dcx_page_span(dcx_read_directory(bytes, got), page, static_cast<uint64_t>(std::max<int64_t>(file_size, 0)),
                       start, end))
        return PM_PCX_NO_PAGE;
    if (end - start < static_cast<uint64_t>(pcx_header_size) ||
        pm::platform::file_seek(pm_state.file_handle, static_cast<int64_t>(start), pm::platform::seek_origin::begin) !=
            static_cast<int64_t>(start) ||
        pcx_file_read(pm_state.pcx_header, pcx_header_size) < static_cast<uint32_t>(pcx_header_size))
        return PM_PCX_INVALID;
    stream.file_start = static_cast<int64_t>(start);
    stream.file_end = static_cast<int64_t>(end);
    stream.file_left = end - start - pcx_header_size;
    return PM_PCX_OK;
}

// Reads the header into pcx_header and sets up the stream. Returns 0, or the
// result that ends the load.
int32_t pcx_open(const char *name, int32_t flags, pcx_page_choice choice, pcx_stream &stream,
                 pcx_load_scope &scope)
{
    stream = pcx_stream{};
    if ((flags & pcx_from_memory) != 0) {
        const uint8_t *picture = pm_state.input_block;
        uint64_t size = picture != nullptr ? pm_state.input_block_size : 0;
        if (choice.any_container && dcx_is_container(picture, size)) {
            uint64_t start = 0, end = 0;
            if (!dcx_page_span(dcx_read_directory(picture, size), choice.page, size, start, end))
                return PM_PCX_NO_PAGE;
            picture += start;
            size = end - start;
        } else if (choice.page != 0) {
            return PM_PCX_NO_PAGE;
        }
        if (size < static_cast<uint64_t>(pcx_header_size))
            return PM_PCX_INVALID;
        stream.picture = picture;
        stream.picture_size = static_cast<uint32_t>(size);
        std::memcpy(pm_state.pcx_header, stream.picture, pcx_header_size);
        pm_state.input_block = const_cast<uint8_t *>(picture) + pcx_header_size;
        stream.position = pm_state.input_block;
        stream.left = stream.picture_size - pcx_header_size;
        return PM_PCX_OK;
    }
    // Whatever the input block describes, file data always goes to read_buffer.
    pm_state.input_block = pm_state.read_buffer;
    if (!scope.open_file(name))
        return PM_PCX_OPEN_FAILED;
    const uint32_t got = pcx_file_read(pm_state.pcx_header, pcx_header_size);
    if (choice.any_container && dcx_is_container(pm_state.pcx_header, got)) {
        if (const int32_t opened = pcx_open_file_page(choice.page, got, stream); opened != PM_PCX_OK)
            return opened;
    } else if (choice.page != 0) {
        return PM_PCX_NO_PAGE;
    } else if (got < static_cast<uint32_t>(pcx_header_size)) {
        return PM_PCX_INVALID;
    }
    stream.position = pm_state.read_buffer;
    stream.left = 0; // the first decode begins with a refill
    return PM_PCX_OK;
}

// ---- Placement and cutting ------------------------------------------------------

// The part of the picture that lies inside the buffer.
struct pcx_placement {
    int32_t left;         // buffer column of the first pixel drawn
    int32_t top;          // buffer row (from the top) of the first row drawn
    int32_t first_column; // picture columns left of the buffer: decoded, not drawn
    int32_t columns;      // pixels drawn per row
    int32_t first_row;    // picture rows above the buffer: decoded, not drawn
    int32_t rows;         // rows drawn
};

// Cuts the span [start, start + length) to [0, limit). False when nothing is left.
bool pcx_cut_span(int64_t start, int64_t length, int64_t limit, int32_t &first, int32_t &count, int32_t &skipped)
{
    const int64_t low = std::max<int64_t>(start, 0);
    const int64_t high = std::min<int64_t>(start + length, limit);
    if (high <= low)
        return false;
    first = static_cast<int32_t>(low);
    count = static_cast<int32_t>(high - low);
    skipped = static_cast<int32_t>(low - start);
    return true;
}

// Places the picture at its header window or at the cursor. False when no
// pixel of it lies within the buffer.
bool pcx_place(const pcx_picture &picture, int32_t flags, pcx_placement &place)
{
    const bool at_cursor = (flags & pcx_at_cursor) != 0;
    const int64_t x = at_cursor ? pm_state.cursor_x : picture.x_min;
    const int64_t y = at_cursor ? pm_state.cursor_y : picture.y_min;
    return pcx_cut_span(x, picture.width, pm_state.active_width, place.left, place.columns, place.first_column) &&
           pcx_cut_span(y, picture.height, pm_state.active_height, place.top, place.rows, place.first_row);
}

// ---- Decoding -----------------------------------------------------------------

// Tokens are stored as whole 8-byte words where the data allows: the bytes a
// word writes past a token are decoded again by the tokens that follow.
constexpr bool pcx_words_little_endian = std::endian::native == std::endian::little;

// Photographs decode to many stretches of one or two bytes, for which a
// library call costs more than the bytes.
inline void pcx_copy_bytes(uint8_t *out, const uint8_t *in, uint32_t count)
{
    if (count > 8) {
        std::memcpy(out, in, count);
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        out[i] = in[i];
}

// Stores exactly `count` bytes of one value: runs longer than a word as
// words, the last one ending with the run, so that nothing past it is touched.
inline void pcx_fill_bytes(uint8_t *out, uint8_t value, uint32_t count)
{
    if (count <= 8) {
        for (uint32_t i = 0; i < count; ++i)
            out[i] = value;
        return;
    }
    const uint64_t word = 0x0101010101010101u * value;
    for (uint32_t i = 0; i + 8 < count; i += 8)
        std::memcpy(out + i, &word, 8);
    std::memcpy(out + count - 8, &word, 8);
}

// Scanlines decoded one token at a time after a piece of long runs: pictures
// with areas of one colour have them row after row.
constexpr int32_t pcx_long_run_rows = 16;

// ---- Conversion ---------------------------------------------------------------

// A row converter (pcx_row_converter, graphics/kernels.h) per source format
// and buffer depth; those into 32 bits come from the kernel table.

int32_t pcx_destination_bytes(int32_t depth)
{
    switch (depth) {
    case 8:
        return 1;
    case 16:
        return 2;
    case 24:
        return 3;
    default:
        return 4; // any other depth is handled as 32 bits
    }
}

// Index readers: the palette index of picture column k.
struct pcx_mono_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t)
    {
        return static_cast<uint8_t>((scanline[k >> 3] >> (7 - (k & 7))) & 1);
    }
};

// Four bit planes, plane 0 giving the lowest bit of the index.
struct pcx_planar16_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t bytes_per_line)
    {
        const uint8_t *byte = scanline + (k >> 3);
        const int32_t shift = 7 - (k & 7);
        return static_cast<uint8_t>(((byte[0] >> shift) & 1) | (((byte[bytes_per_line] >> shift) & 1) << 1) |
                                    (((byte[2 * bytes_per_line] >> shift) & 1) << 2) |
                                    (((byte[3 * bytes_per_line] >> shift) & 1) << 3));
    }
};

struct pcx_indexed8_source {
    static uint8_t index(const uint8_t *scanline, int32_t k, int32_t) { return scanline[k]; }
};

// The pixel of every palette index in the buffer's byte order, taken from
// pixel_lookup once per load (after the palette step), so that converting an
// index costs one table read: the 16-bit entry as it is; the 4-byte entry,
// which lies in memory as fill, R, G, B, reversed into B, G, R, fill.
void pcx_load_pixels(uint32_t (&pixels)[256], int32_t bytes)
{
    for (int32_t i = 0; i < 256; ++i) {
        uint32_t entry = 0;
        if (bytes == 2) {
            std::memcpy(&entry, pm_state.pixel_lookup + 2 * i, 2);
            pixels[i] = entry;
            continue;
        }
        const uint8_t *lookup = pm_state.pixel_lookup + 4 * i;
        const uint8_t pixel[4] = {lookup[3], lookup[2], lookup[1], lookup[0]};
        std::memcpy(&pixels[i], pixel, 4);
    }
}

template <int32_t Bytes> inline void pcx_put_index(uint8_t *pixel, uint8_t index, const uint32_t *pixels)
{
    if constexpr (Bytes == 1)
        *pixel = static_cast<uint8_t>(index + pcx_static_colours);
    else
        std::memcpy(pixel, &pixels[index], Bytes);
}

template <int32_t Bytes> void pcx_put_rgb(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue);
template <> inline void pcx_put_rgb<2>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    const uint16_t value = rgb565(red, green, blue);
    pixel[0] = static_cast<uint8_t>(value & 0xFF); // 16-bit pixels are little-endian
    pixel[1] = static_cast<uint8_t>(value >> 8);
}
template <> inline void pcx_put_rgb<3>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}
template <> inline void pcx_put_rgb<4>(uint8_t *pixel, uint8_t red, uint8_t green, uint8_t blue)
{
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
    pixel[3] = 0;
}

template <typename Source, int32_t Bytes>
void pcx_convert_indexed(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                         const uint32_t *pixels)
{
    for (int32_t k = first, end = first + count; k < end; ++k, row += Bytes)
        pcx_put_index<Bytes>(row, Source::index(scanline, k, bytes_per_line), pixels);
}

// A 256-colour picture in an 8-bit buffer keeps its indices: one copy per row.
void pcx_copy_indexed8(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t,
                       const uint32_t *)
{
    std::memcpy(row, scanline + first, static_cast<size_t>(count));
}

template <int32_t Bytes>
void pcx_convert_planar24(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count, int32_t bytes_per_line,
                          const uint32_t *)
{
    const uint8_t *red = scanline + first;
    const uint8_t *green = red + bytes_per_line;
    const uint8_t *blue = green + bytes_per_line;
    for (int32_t k = 0; k < count; ++k, row += Bytes)
        pcx_put_rgb<Bytes>(row, red[k], green[k], blue[k]);
}

template <int32_t Bytes> pcx_row_converter pcx_converter_for(pcx_format format)
{
    switch (format) {
    case pcx_format::planar16:
        return &pcx_convert_indexed<pcx_planar16_source, Bytes>;
    case pcx_format::planar24:
    case pcx_format::planar32: // the fourth plane is dropped
        if constexpr (Bytes == 1) {
            return nullptr; // an 8-bit buffer cannot hold 24-bit colours
        } else if constexpr (Bytes == 4) {
            return kernels().pcx_planar24_to_32;
        } else {
            return &pcx_convert_planar24<Bytes>;
        }
    case pcx_format::indexed8:
        if constexpr (Bytes == 1)
            return &pcx_copy_indexed8;
        else if constexpr (Bytes == 4)
            return kernels().pcx_indexed8_to_32;
        else
            return &pcx_convert_indexed<pcx_indexed8_source, Bytes>;
    case pcx_format::mono:
        return &pcx_convert_indexed<pcx_mono_source, Bytes>;
    case pcx_format::packed4:
    case pcx_format::packed2:
    case pcx_format::planar4:
    case pcx_format::planar8:
        return pcx_layout_converter(format, Bytes);
    case pcx_format::none:
        break;
    }
    return nullptr;
}

// The one choice of converter per load; null when the pair has none.
pcx_row_converter pcx_choose_converter(pcx_format format, int32_t depth)
{
    switch (pcx_destination_bytes(depth)) {
    case 1:
        return pcx_converter_for<1>(format);
    case 2:
        return pcx_converter_for<2>(format);
    case 3:
        return pcx_converter_for<3>(format);
    default:
        return pcx_converter_for<4>(format);
    }
}

// ---- Rows -----------------------------------------------------------------------

// How far past a picture's width decoding straight into a buffer row may
// write and read: the pad bytes of a scanline (at most pcx_direct_pad) and
// the decoder's spare bytes.
constexpr int32_t pcx_direct_pad = 16;
constexpr int32_t pcx_direct_reach = pcx_direct_pad + pcx_scanline_spare;

// Decodes one scanline of a 256-colour picture straight into its 8-bit
// buffer row, which then holds the scanline. The decoder writes past the
// picture's width (pad bytes, the end of a run crossing into the next
// scanline, the reach of word stores), so the bytes there are kept aside
// and put back; a run's excess goes to the start of `scanline`, where the
// next scanline takes its carried bytes from. When the input ends, the rest
// of the row repeats `previous`, the last scanline.
void pcx_decode_into_row(pcx_stream &stream, uint8_t *row, int32_t width, int32_t length, uint8_t *scanline,
                         const uint8_t *previous)
{
    uint8_t *after = row + width;
    uint8_t kept[pcx_direct_reach];
    std::memcpy(kept, after, sizeof kept);
    std::memcpy(row, scanline, static_cast<size_t>(stream.carry));
    const int32_t decoded = pcx_decode_scanline(stream, row, length);
    std::memcpy(scanline, row + length, static_cast<size_t>(stream.carry));
    std::memcpy(after, kept, sizeof kept); // may be the start of `previous`
    if (decoded < width)
        std::memcpy(row + decoded, previous + decoded, static_cast<size_t>(width - decoded));
}

// Decodes the picture's rows down to the last one drawn and converts those
// inside the buffer. Rows above the buffer are decoded and dropped so that
// the stream stays in step.
void pcx_draw_rows(pcx_stream &stream, const pcx_picture &picture, const pcx_placement &place,
                   pcx_row_converter convert, uint8_t *scanline, const uint32_t *pixels)
{
    const int32_t length = picture.planes * picture.bytes_per_line;
    const int32_t bytes = pcx_destination_bytes(pm_state.active_depth);
    const bool direct = convert == &pcx_copy_indexed8 && place.first_column == 0 &&
                        place.columns == picture.width && length - picture.width <= pcx_direct_pad;
    const uint8_t *const bits_end =
        pm_state.active_bits + static_cast<std::ptrdiff_t>(pm_state.active_stride) * pm_state.active_height;
    const uint8_t *previous = scanline; // where the last scanline's bytes lie
    const int32_t last_row = place.first_row + place.rows;
    for (int32_t r = 0; r < last_row; ++r) {
        uint8_t *row = nullptr;
        if (r >= place.first_row)
            row = pixel_address(pm_state.active_bits, pm_state.active_max_y, pm_state.active_stride, place.left,
                                place.top + (r - place.first_row), bytes);
        // Only rows whose reach stays inside the buffer's memory; the top
        // one, which comes first, may not.
        if (direct && row != nullptr && bits_end - row >= picture.width + pcx_direct_reach) {
            pcx_decode_into_row(stream, row, picture.width, length, scanline, previous);
            previous = row;
            continue;
        }
        if (previous != scanline) {
            std::memcpy(scanline + stream.carry, previous + stream.carry,
                        static_cast<size_t>(std::max(0, picture.width - stream.carry)));
            previous = scanline;
        }
        pcx_decode_scanline(stream, scanline, length);
        if (row != nullptr)
            convert(scanline, row, place.first_column, place.columns, picture.bytes_per_line, pixels);
        if (stream.carry > 0)
            std::memmove(scanline, scanline + length, static_cast<size_t>(stream.carry));
    }
}

// ---- Palette ------------------------------------------------------------------

// Reads the last 769 bytes of the picture into scratch_area and tells whether
// they are a trailer palette. A trailer that would reach into the header is
// not looked for, so nothing outside a memory block is ever read.
bool pcx_read_trailer(const pcx_stream &stream)
{
    uint8_t *trailer = pm_state.scratch_area;
    if (stream.picture != nullptr) {
        if (stream.picture_size < static_cast<uint32_t>(pcx_header_size + pcx_trailer_size))
            return false;
        std::memcpy(trailer, stream.picture + (stream.picture_size - pcx_trailer_size), pcx_trailer_size);
        return trailer[0] == pcx_trailer_marker;
    }
    bool at_trailer = false;
    if (stream.file_end < 0) {
        at_trailer = pm::platform::file_seek(pm_state.file_handle, -pcx_trailer_size, pm::platform::seek_origin::end) >=
                     pcx_header_size;
    } else { // a page, which ends before the file
        const int64_t at = stream.file_end - pcx_trailer_size;
        at_trailer = at >= stream.file_start + pcx_header_size &&
                     pm::platform::file_seek(pm_state.file_handle, at, pm::platform::seek_origin::begin) == at;
    }
    const bool whole = at_trailer && pcx_file_read(trailer, pcx_trailer_size) == static_cast<uint32_t>(pcx_trailer_size);
    // Back to the data, which the decoder may not have begun to read.
    pm::platform::file_seek(pm_state.file_handle, stream.file_start + pcx_header_size, pm::platform::seek_origin::begin);
    return whole && trailer[0] == pcx_trailer_marker;
}

// ---- The load -----------------------------------------------------------------

int32_t pcx_load(const char *name, int32_t flags, pcx_page_choice choice, pcx_load_scope &scope)
{
    pcx_stream stream;
    if (const int32_t opened = pcx_open(name, flags, choice, stream, scope); opened != PM_PCX_OK)
        return opened;
    if (pm_state.pcx_header[0] != pcx_manufacturer)
        return PM_PCX_INVALID;
    const pcx_picture picture = pcx_parse_header(pm_state.pcx_header, (flags & pcx_all_layouts) != 0);
    if (!pcx_readable(picture))
        return PM_PCX_INVALID;

    pcx_placement place{};
    if (!pcx_place(picture, flags, place))
        return PM_PCX_OK;
    const pcx_row_converter convert = pcx_choose_converter(picture.format, pm_state.active_depth);
    if (convert == nullptr)
        return PM_PCX_UNSUPPORTED;
    uint8_t *scanline = scope.allocate_scanline(picture.planes * picture.bytes_per_line);
    if (scanline == nullptr)
        return PM_PCX_NO_MEMORY;

    const bool indexed_buffer = pm_state.active_depth == 8;
    uint32_t pixels[256];
    if (!indexed_buffer) {
        pcx_apply_palette(stream, picture, flags);
        pcx_load_pixels(pixels, pcx_destination_bytes(pm_state.active_depth));
    }
    pcx_draw_rows(stream, picture, place, convert, scanline, pixels);
    if (indexed_buffer)
        pcx_apply_palette(stream, picture, flags);
    return PM_PCX_OK;
}

} // namespace

// ---- Row converters of the kernel table ----------------------------------------

// The scalar references: pixel by pixel.
void pcx_indexed8_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels)
{
    pcx_convert_indexed<pcx_indexed8_source, 4>(scanline, row, first, count, bytes_per_line, pixels);
}

void pcx_planar24_to_32_scalar(const uint8_t *scanline, uint8_t *row, int32_t first, int32_t count,
                               int32_t bytes_per_line, const uint32_t *pixels)
{
    pcx_convert_planar24<4>(scanline, row, first, count, bytes_per_line, pixels);
}

// ---- Decoding, shared through pcx.h -------------------------------------------

uint32_t pcx_refill_input(pcx_stream &stream)
{
    if (stream.picture != nullptr || stream.exhausted) {
        stream.exhausted = true;
        return 0;
    }
    // input_block_size may describe a caller's memory block; read_buffer's
    // own size bounds what one read may bring, and a page's end what a page
    // may.
    uint32_t size = pm_state.input_block_size;
    if (size == 0 || size > static_cast<uint32_t>(PM_READ_BUFFER_SIZE))
        size = PM_READ_BUFFER_SIZE;
    size = static_cast<uint32_t>(std::min<uint64_t>(size, stream.file_left));
    const uint32_t got = size != 0 ? pcx_file_read(pm_state.read_buffer, size) : 0;
    stream.file_left -= got;
    stream.position = pm_state.read_buffer;
    stream.left = got;
    stream.exhausted = got == 0;
    return got;
}

int32_t pcx_decode_scanline(pcx_stream &stream, uint8_t *scanline, int32_t length)
{
    int32_t need = length - stream.carry;
    if (need <= 0) {
        stream.carry = -need; // the carried bytes fill this scanline too
        return length;
    }
    uint8_t *out = scanline + stream.carry;
    // Most tokens decode to a few bytes and are stored as one 8-byte word,
    // which may reach up to 8 bytes past them. The tokens that follow decode
    // those bytes again, unless the input ends first. So `kept` holds the
    // bytes [out, out + 8) as they were before this scanline's stores, to be
    // put back if the input ends. No store ever reaches out + 8, so the bytes
    // from there on are still as they were and refresh `kept` as out moves.
    uint64_t kept = 0;
    if (pcx_words_little_endian)
        std::memcpy(&kept, out, 8);
    auto advance = [&](uint32_t count) {
        if (pcx_words_little_endian && count != 0) {
            if (count >= 8) {
                std::memcpy(&kept, out + count, 8);
            } else {
                uint64_t next;
                std::memcpy(&next, out + 8, 8);
                kept = kept >> (8 * count) | next << (64 - 8 * count);
            }
        }
        out += count;
        need -= static_cast<int32_t>(count);
    };
    // The input position lives in locals while decoding: stores into the
    // scanline could otherwise alias the stream and force reloads per byte.
    const uint8_t *in = stream.position;
    uint32_t left = stream.left;
    auto refill = [&] {
        stream.position = in;
        stream.left = 0;
        left = pcx_refill_input(stream);
        in = stream.position;
        return left != 0;
    };
    // A run: a count of 0 stores nothing; a run may pass the end of the
    // scanline by up to 62 bytes, which the spare bytes take.
    auto store_run = [&](uint32_t count, uint8_t value) {
        if (pcx_words_little_endian && count <= 8) {
            const uint64_t word = 0x0101010101010101u * value;
            std::memcpy(out, &word, 8);
        } else {
            pcx_fill_bytes(out, value, count);
        }
        advance(count);
    };
    // Token windows (a kernel, where the table has one) decode the middle of
    // the scanline, a piece at a time. Long runs decode as fast one at a time
    // and save nothing, so once a piece decodes to many times its input the
    // rest of the scanline, and the next pcx_long_run_rows scanlines, are left
    // to the loop below, which is also what the windows must agree with.
    pcx_windows_decoder windows = nullptr;
    if (stream.long_run_rows > 0)
        --stream.long_run_rows;
    else if (pcx_words_little_endian)
        windows = kernels().pcx_windows;
    bool ended = false;
    while (need > 0) {
        if (windows != nullptr && left >= pcx_window_input && need >= pcx_window_least) {
            const pcx_piece piece = pcx_decode_piece(windows, {in, left, out}, need, kept);
            const std::ptrdiff_t taken = piece.place.in - in;
            const std::ptrdiff_t decoded = piece.place.out - out;
            if (decoded > 4 * taken) {
                windows = nullptr;
                stream.long_run_rows = pcx_long_run_rows;
            }
            in = piece.place.in;
            left = piece.place.left;
            out = piece.place.out;
            kept = piece.kept;
            need -= static_cast<int32_t>(decoded);
            if (taken != 0)
                continue;
        }
        // Take the next token: a data byte below 0xC0, or a run (count in
        // the low six bits, then the value).
        if (left == 0 && !refill()) {
            ended = true;
            break;
        }
        const uint8_t token = *in;
        if (token < 0xC0) {
            // A stretch of data bytes. With 8 input bytes at hand, one word
            // holds the stretch up to its first run byte (both top bits set).
            if (pcx_words_little_endian && left >= 8) {
                uint64_t word;
                std::memcpy(&word, in, 8);
                const uint64_t run_bytes = word & (word << 1) & 0x8080808080808080u;
                uint32_t literal = run_bytes != 0 ? static_cast<uint32_t>(std::countr_zero(run_bytes)) >> 3 : 8;
                literal = std::min(literal, static_cast<uint32_t>(need));
                std::memcpy(out, &word, 8);
                advance(literal);
                in += literal;
                left -= literal;
                // A stretch shorter than a word that leaves the scanline
                // unfinished stops at a run byte: take that run now, while
                // its kind is known, rather than branch on it again.
                if (literal < 8 && need > 0 && left >= 2) {
                    store_run(in[0] & 0x3Fu, in[1]);
                    in += 2;
                    left -= 2;
                }
                continue;
            }
            const uint32_t limit = std::min(left, static_cast<uint32_t>(need));
            uint32_t literal = 1;
            while (literal < limit && in[literal] < 0xC0)
                ++literal;
            pcx_copy_bytes(out, in, literal);
            advance(literal);
            in += literal;
            left -= literal;
            continue;
        }
        const auto count = static_cast<uint32_t>(token & 0x3F);
        ++in;
        --left;
        if (left == 0 && !refill()) {
            ended = true;
            break;
        }
        const uint8_t value = *in++;
        --left;
        store_run(count, value);
    }
    const int32_t decoded = static_cast<int32_t>(out - scanline);
    if (ended && pcx_words_little_endian) {
        // Put back what words wrote past the last decoded byte.
        const auto reach = std::min<std::ptrdiff_t>(8, length - decoded);
        std::memcpy(out, &kept, static_cast<size_t>(reach));
    }
    stream.position = in;
    stream.left = left;
    // When the input ended early the rest of the scanline keeps what the
    // buffer held, and nothing is carried.
    stream.carry = need < 0 ? -need : 0;
    return std::min(decoded, length);
}

// ---- Palette, shared through pcx.h --------------------------------------------

void pcx_set_palette_run(const uint8_t *rgb, int32_t colours)
{
    if (pm_state.active_depth > 8) {
        pm_set_palette_entries(0, colours, rgb);
        return;
    }
    if (colours == 256) // the trailer's triples keep their indices, 10..245
        pm_set_palette_entries(pcx_static_colours, 236, rgb + 3 * pcx_static_colours);
    else // monochrome and 16-colour pixels were stored as index + 10
        pm_set_palette_entries(pcx_static_colours, colours, rgb);
}

void pcx_apply_palette(const pcx_stream &stream, const pcx_picture &picture, int32_t flags)
{
    if ((flags & pcx_keep_palette) != 0 || picture.format == pcx_format::planar24 ||
        picture.format == pcx_format::planar32)
        return;
    uint8_t *rgb = pm_state.scratch_area + 1;
    bool full = !pcx_header_palette_only(picture.format) && picture.version == pcx_version_trailer &&
                pcx_read_trailer(stream);
    // A greyscale picture without a trailer stands for the grey ramp.
    if (!full && (flags & pcx_all_layouts) != 0 && picture.format == pcx_format::indexed8 &&
        picture.palette_info == pcx_palette_info_grey) {
        for (int32_t i = 0; i < 256; ++i)
            std::memset(rgb + 3 * i, i, 3);
        full = true;
    }
    if (full) {
        if ((flags & pcx_no_reduction) == 0)
            pm_reduce_colours(pcx_static_colours, 236, rgb);
        pcx_set_palette_run(rgb, 256);
        return;
    }
    pcx_set_palette_run(pm_state.pcx_header + offsetof(pcx_header_layout, colormap), 16);
}

} // namespace pm

// Points the input block at a caller's picture for pcx_from_memory loads; a
// null picture puts back read_buffer and 4096 bytes. Always 0.
int32_t pm_set_input_block(const void *picture, uint32_t size)
{
    if (picture == nullptr) {
        pm_state.input_block = pm_state.read_buffer;
        pm_state.input_block_size = PM_READ_BUFFER_SIZE;
        return 0;
    }
    // The field is not const because file loads read into it; a memory
    // picture is only ever read.
    pm_state.input_block = const_cast<uint8_t *>(static_cast<const uint8_t *>(picture));
    pm_state.input_block_size = size;
    return 0;
}

// Loads a PCX picture into the active buffer; refuses with the results
// documented in pixmora.h.
int32_t pm_load_pcx(const char *name, int32_t flags)
{
    if (pm_state.active_index < 0)
        return 0;
    pm::pcx_load_scope scope;
    return pm::pcx_load(name, flags, pm::pcx_page_of(flags, -1), scope);
}

// Loads one page of a DCX file (a plain picture being page 0).
int32_t pm_load_pcx_page(const char *name, int32_t flags, int32_t page)
{
    if (pm_state.active_index < 0)
        return 0;
    if (page < 0)
        return PM_PCX_NO_PAGE;
    pm::pcx_load_scope scope;
    return pm::pcx_load(name, flags, pm::pcx_page_of(flags, page), scope);
}

// A short English text per PCX result; one fixed text for anything else.
const char *pm_pcx_result_text(int32_t result)
{
    switch (result) {
    case PM_PCX_OK:
        return "done";
    case PM_PCX_OPEN_FAILED:
        return "the file cannot be opened";
    case PM_PCX_INVALID:
        return "not a readable picture";
    case PM_PCX_UNSUPPORTED:
        return "no converter for this format and depth";
    case PM_PCX_NO_MEMORY:
        return "out of memory";
    case PM_PCX_NO_PAGE:
        return "the file has no such page";
    default:
        return "unknown result";
    }
}
