// Encoding a picture as a PCX file (run-length encoded): the header, each
// row split into planes or packed from palette slots and encoded, and the
// trailer palette, gathered into calls of the write callback.
#include "graphics/pcx/encode.h"

#include <cstring>

#include "graphics/pixel_format.h"
#include "graphics/pcx/format.h"

namespace pm {
namespace {

// The version of a picture whose colours are all in its header: readers
// look for a trailer only in version 5, and the end of the data could pass
// for one.
constexpr uint8_t pcx_version_header_palette = 2;

// The 128-byte header; the 16 header colours are the picture's own palette,
// or the first colours of the given palette.
void pcx_build_header(uint8_t header[pcx_header_size], const pcx_encoding &encoding)
{
    pcx_header_layout fields{};
    fields.manufacturer = pcx_manufacturer;
    const bool header_palette = encoding.colours != nullptr && !encoding.shape.trailer;
    fields.version = header_palette ? pcx_version_header_palette : pcx_version_trailer;
    fields.encoding = pcx_encoding_run_length;
    fields.bits_per_pixel = static_cast<uint8_t>(encoding.shape.bits_per_pixel); // per plane
    fields.x_max = pcx_le16(static_cast<uint16_t>(encoding.rows.width - 1));
    fields.y_max = pcx_le16(static_cast<uint16_t>(encoding.rows.height - 1));
    fields.h_dpi = pcx_le16(72);
    fields.v_dpi = pcx_le16(72);
    std::memcpy(fields.colormap, encoding.colours != nullptr ? encoding.colours->rgb() : encoding.palette,
                sizeof fields.colormap);
    fields.planes = static_cast<uint8_t>(encoding.shape.planes);
    fields.bytes_per_line = pcx_le16(static_cast<uint16_t>(encoding.bytes_per_line));
    fields.palette_info = pcx_le16(1); // colour
    std::memcpy(header, &fields, sizeof fields);
}

// Splits one row into the planes of a scanline: indices as they are (one
// plane of 8 bits), or red, green and blue planes. Pad bytes stay as the
// caller cleared them.
using pcx_row_splitter = void (*)(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line,
                                  const uint8_t *palette);

void pcx_split_indices(const uint8_t *source, uint8_t *line, int32_t width, int32_t, const uint8_t *)
{
    std::memcpy(line, source, static_cast<size_t>(width));
}

// Indexed pixels as RGB planes: the colours of their indices.
void pcx_split_indexed_rgb(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line,
                           const uint8_t *palette)
{
    uint8_t *red = line;
    uint8_t *green = line + bytes_per_line;
    uint8_t *blue = line + 2 * bytes_per_line;
    for (int32_t k = 0; k < width; ++k) {
        const uint8_t *entry = palette + 3 * source[k];
        red[k] = entry[0];
        green[k] = entry[1];
        blue[k] = entry[2];
    }
}

// 16-bit pixels are widened from 5-6-5 by repeating their top bits, so that
// loading the picture into a 16-bit buffer gives back the same pixels.
void pcx_split_565(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line, const uint8_t *)
{
    uint8_t *red = line;
    uint8_t *green = line + bytes_per_line;
    uint8_t *blue = line + 2 * bytes_per_line;
    for (int32_t k = 0; k < width; ++k) {
        const rgb8 colour = widen565(static_cast<uint16_t>(source[2 * k] | source[2 * k + 1] << 8));
        red[k] = colour.r;
        green[k] = colour.g;
        blue[k] = colour.b;
    }
}

// Pixels of Bytes bytes whose red, green and blue lie at Red, 1 and 2 - Red.
template <int32_t Bytes, int32_t Red>
void pcx_split_colours(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line, const uint8_t *)
{
    uint8_t *red = line;
    uint8_t *green = line + bytes_per_line;
    uint8_t *blue = line + 2 * bytes_per_line;
    for (int32_t k = 0; k < width; ++k) {
        const uint8_t *pixel = source + Bytes * k;
        red[k] = pixel[Red];
        green[k] = pixel[1];
        blue[k] = pixel[2 - Red];
    }
}

pcx_row_splitter pcx_choose_splitter(pcx_pixel_kind kind, int32_t planes)
{
    switch (kind) {
    case pcx_pixel_kind::index8:
        return planes == 3 ? pcx_split_indexed_rgb : pcx_split_indices;
    case pcx_pixel_kind::rgb565:
        return pcx_split_565;
    case pcx_pixel_kind::bgr24:
        return pcx_split_colours<3, 2>;
    case pcx_pixel_kind::bgrx32:
        return pcx_split_colours<4, 2>;
    case pcx_pixel_kind::rgb24:
        return pcx_split_colours<3, 0>;
    case pcx_pixel_kind::rgba32:
        return pcx_split_colours<4, 0>;
    }
    return pcx_split_indices;
}

// Run-length encodes count bytes into out; returns the bytes written (at most
// 2 x count). A run is written as 0xC0 | length followed by the value, at most
// 63 long; a single byte below 0xC0 stands for itself, a single byte of 0xC0
// or more is written as a run of 1. Runs end at count, so a caller that
// encodes plane by plane never lets a run cross a plane or a scanline.
int32_t pcx_encode_run_length(const uint8_t *in, int32_t count, uint8_t *out)
{
    int32_t written = 0;
    int32_t i = 0;
    while (i < count) {
        const uint8_t value = in[i];
        int32_t run = 1;
        while (run < pcx_max_run && i + run < count && in[i + run] == value)
            ++run;
        // The marker is always stored and kept only when needed, so that
        // noisy rows do not pay for a mispredicted branch per byte.
        out[written] = static_cast<uint8_t>(0xC0 | run);
        written += run > 1 || value >= 0xC0 ? 1 : 0;
        out[written++] = value;
        i += run;
    }
    return written;
}

// Bytes on their way to the callback, gathered into calls of at most
// pcx_staging_size; a larger piece is handed over as it is.
constexpr uint32_t pcx_staging_size = 64 * 1024;
struct pcx_output {
    pcx_write_fn write;
    void *context;
    uint8_t *staging;
    uint32_t used;

    bool hand_over(const uint8_t *bytes, uint32_t size) { return write(context, bytes, size) == 0; }
    bool flush()
    {
        const uint32_t size = used;
        used = 0;
        return size == 0 || hand_over(staging, size);
    }
    bool put(const uint8_t *bytes, uint32_t size)
    {
        if (size > pcx_staging_size - used && !flush())
            return false;
        if (size >= pcx_staging_size)
            return hand_over(bytes, size);
        std::memcpy(staging + used, bytes, size);
        used += size;
        return true;
    }
};

// Encodes and writes every row, top row first; false when a write fails.
bool pcx_write_rows(pcx_output &out, const pcx_encoding &encoding, uint8_t *line, uint8_t *encoded)
{
    const int32_t planes = encoding.shape.planes;
    const int32_t bytes_per_line = encoding.bytes_per_line;
    const pcx_row_splitter split = pcx_choose_splitter(encoding.rows.kind, planes);
    // A palette layout's slots of one row lie after the encoded bytes.
    uint8_t *slots = encoded + 2 * planes * bytes_per_line;
    for (int32_t row = 0; row < encoding.rows.height; ++row) {
        const uint8_t *source = encoding.rows.row(row);
        if (encoding.colours != nullptr) {
            encoding.colours->slots(source, encoding.rows.width, slots);
            pcx_pack_slots(slots, encoding.rows.width, encoding.shape, bytes_per_line, line);
        } else {
            split(source, line, encoding.rows.width, bytes_per_line, encoding.palette);
        }
        int32_t size = 0;
        for (int32_t plane = 0; plane < planes; ++plane)
            size += pcx_encode_run_length(line + plane * bytes_per_line, bytes_per_line, encoded + size);
        if (!out.put(encoded, static_cast<uint32_t>(size)))
            return false;
    }
    return true;
}

uint64_t pcx_line_size(const pcx_encoding &encoding)
{
    return static_cast<uint64_t>(encoding.shape.planes) * static_cast<uint64_t>(encoding.bytes_per_line);
}

} // namespace

bool pcx_plan_encoding(pcx_encoding &encoding)
{
    const int32_t width = encoding.rows.width;
    const int32_t height = encoding.rows.height;
    if (width < 1 || height < 1 || width > pcx_max_width || height > pcx_max_height)
        return false;
    const int32_t row_bytes = (width * encoding.shape.bits_per_pixel + 7) / 8;
    encoding.bytes_per_line = (row_bytes + 1) & ~1;
    return true;
}

bool pcx_gather_colours(pcx_encoding &encoding, bool mono, int32_t kept_indices, pcx_colour_table &colours)
{
    encoding.colours = nullptr;
    const int32_t capacity = encoding.shape.capacity;
    if (capacity == 0)
        return true;
    if (encoding.rows.kind == pcx_pixel_kind::index8 && kept_indices > 0 && kept_indices <= capacity) {
        colours.keep_indices(encoding.rows.palette, kept_indices);
    } else {
        if (!colours.collect(encoding.rows, capacity))
            return false;
        if (mono)
            colours.order_lighter_last();
    }
    encoding.colours = &colours;
    return true;
}

// The working memory: the split scanline, room for its encoding, which is
// at most twice as long (every byte a run of 1), a row's palette slots, and
// the bytes gathered for the next write.
uint64_t pcx_encoding_work_size(const pcx_encoding &encoding)
{
    return 3 * pcx_line_size(encoding) + static_cast<uint64_t>(encoding.rows.width) + pcx_staging_size;
}

bool pcx_encode(const pcx_encoding &encoding, uint8_t *work, pcx_write_fn write, void *context)
{
    const uint64_t line_size = pcx_line_size(encoding);
    uint8_t *line = work;
    uint8_t *encoded = work + line_size;
    pcx_output out{write, context, work + 3 * line_size + encoding.rows.width, 0};

    uint8_t header[pcx_header_size];
    pcx_build_header(header, encoding);
    if (!out.put(header, sizeof header))
        return false;
    if (!pcx_write_rows(out, encoding, line, encoded))
        return false;
    if (encoding.shape.trailer) {
        // The marker, then the picture's 256 colours, or the palette's.
        uint8_t trailer[pcx_trailer_size];
        trailer[0] = pcx_trailer_marker;
        std::memcpy(trailer + 1, encoding.colours != nullptr ? encoding.colours->rgb() : encoding.palette, 768);
        if (!out.put(trailer, sizeof trailer))
            return false;
    }
    return out.flush();
}

} // namespace pm
