// Writing a rectangle of the active buffer as a PCX picture (version 5,
// run-length encoded). An 8-bit buffer becomes a 256-colour picture with the
// current palette as its trailer; a deeper buffer becomes three planes of
// 8 bits (red, green, blue). Every save hands its bytes to a write callback:
// the caller's, one that fills memory, or one that writes a file through the
// safe replacement.
#include <cstdint>
#include <cstring>

#include "graphics/internal.h"
#include "graphics/pcx_format.h"
#include "graphics/pcx_save_layouts.h"
#include <pixmora/pixmora.h>
#include "platform/platform.h"

namespace {

using namespace pm;

// BytesPerLine is a 16-bit field and must be even, so 65534 columns at most.
constexpr int32_t pcx_max_width = 65534;
// Ymax is a 16-bit field.
constexpr int32_t pcx_max_height = 65536;

// The version of a picture whose colours are all in its header: readers
// look for a trailer only in version 5, and the end of the data could pass
// for one.
constexpr uint8_t pcx_version_header_palette = 2;

// The rectangle and format of one save.
struct pcx_save_layout {
    int32_t min_x;
    int32_t min_y;
    int32_t width;
    int32_t height;
    pcx_layout_shape shape;
    int32_t planes;         // shape.planes
    int32_t bytes_per_line; // the row's bytes in one plane, rounded up to even
    const pcx_colour_table *colours; // the palette of a layout that holds one; else null
};

// The 128-byte header; the 16 header colours are the picture's own palette,
// or the first palette entries.
void pcx_build_header(uint8_t header[pcx_header_size], const pcx_save_layout &layout)
{
    pcx_header_layout fields{};
    fields.manufacturer = pcx_manufacturer;
    const bool header_palette = layout.colours != nullptr && !layout.shape.trailer;
    fields.version = header_palette ? pcx_version_header_palette : pcx_version_trailer;
    fields.encoding = pcx_encoding_run_length;
    fields.bits_per_pixel = static_cast<uint8_t>(layout.shape.bits_per_pixel); // per plane
    fields.x_max = pcx_le16(static_cast<uint16_t>(layout.width - 1));
    fields.y_max = pcx_le16(static_cast<uint16_t>(layout.height - 1));
    fields.h_dpi = pcx_le16(72);
    fields.v_dpi = pcx_le16(72);
    for (int32_t i = 0; i < 16; ++i) {
        if (layout.colours != nullptr) {
            std::memcpy(fields.colormap + 3 * i, layout.colours->rgb() + 3 * i, 3);
            continue;
        }
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        fields.colormap[3 * i] = entry.peRed;
        fields.colormap[3 * i + 1] = entry.peGreen;
        fields.colormap[3 * i + 2] = entry.peBlue;
    }
    fields.planes = static_cast<uint8_t>(layout.planes);
    fields.bytes_per_line = pcx_le16(static_cast<uint16_t>(layout.bytes_per_line));
    fields.palette_info = pcx_le16(1); // colour
    std::memcpy(header, &fields, sizeof fields);
}

// Splits one buffer row into the planes of a scanline. Pad bytes stay as the
// caller cleared them.
template <int32_t Depth> void pcx_split_row(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line);

template <> void pcx_split_row<8>(const uint8_t *source, uint8_t *line, int32_t width, int32_t)
{
    std::memcpy(line, source, static_cast<size_t>(width));
}

// An 8-bit buffer's pixels as RGB planes: the colours of their indices.
void pcx_split_indexed_rgb(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line)
{
    uint8_t *red = line;
    uint8_t *green = line + bytes_per_line;
    uint8_t *blue = line + 2 * bytes_per_line;
    for (int32_t k = 0; k < width; ++k) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[source[k]];
        red[k] = entry.peRed;
        green[k] = entry.peGreen;
        blue[k] = entry.peBlue;
    }
}

// 16-bit pixels are widened from 5-6-5 by repeating their top bits, so that
// loading the picture into a 16-bit buffer gives back the same pixels.
template <> void pcx_split_row<16>(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line)
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

// 24- and 32-bit pixels hold blue, green, red (and a fill byte).
template <int32_t Bytes> void pcx_split_bgr(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line)
{
    uint8_t *red = line;
    uint8_t *green = line + bytes_per_line;
    uint8_t *blue = line + 2 * bytes_per_line;
    for (int32_t k = 0; k < width; ++k) {
        const uint8_t *pixel = source + Bytes * k;
        blue[k] = pixel[0];
        green[k] = pixel[1];
        red[k] = pixel[2];
    }
}

template <> void pcx_split_row<24>(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line)
{
    pcx_split_bgr<3>(source, line, width, bytes_per_line);
}

template <> void pcx_split_row<32>(const uint8_t *source, uint8_t *line, int32_t width, int32_t bytes_per_line)
{
    pcx_split_bgr<4>(source, line, width, bytes_per_line);
}

using pcx_row_splitter = void (*)(const uint8_t *, uint8_t *, int32_t, int32_t);

pcx_row_splitter pcx_choose_splitter(int32_t depth, int32_t planes)
{
    switch (depth) {
    case 8:
        return planes == 3 ? pcx_split_indexed_rgb : pcx_split_row<8>;
    case 16:
        return pcx_split_row<16>;
    case 24:
        return pcx_split_row<24>;
    default:
        return pcx_split_row<32>;
    }
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

// Validates the rectangle against the active buffer; false when it is empty,
// leaves the buffer or cannot be described by a PCX header. The layout's
// shape is already in place.
bool pcx_plan_save(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y, pcx_save_layout *layout)
{
    if (pm_state.active_index < 0)
        return false;
    if (min_x < 0 || min_y < 0 || min_x > max_x || min_y > max_y)
        return false;
    if (max_x >= pm_state.active_width || max_y >= pm_state.active_height)
        return false;
    const int32_t width = max_x - min_x + 1;
    const int32_t height = max_y - min_y + 1;
    if (width > pcx_max_width || height > pcx_max_height)
        return false;
    layout->min_x = min_x;
    layout->min_y = min_y;
    layout->width = width;
    layout->height = height;
    layout->planes = layout->shape.planes;
    const int32_t row_bytes = (width * layout->shape.bits_per_pixel + 7) / 8;
    layout->bytes_per_line = (row_bytes + 1) & ~1;
    return true;
}

// The 769-byte trailer: the marker, then the picture's 256 colours, or all
// 256 palette colours.
void pcx_build_trailer(uint8_t trailer[pcx_trailer_size], const pcx_colour_table *colours)
{
    trailer[0] = pcx_trailer_marker;
    if (colours != nullptr) {
        std::memcpy(trailer + 1, colours->rgb(), 768);
        return;
    }
    for (int32_t i = 0; i < 256; ++i) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        trailer[1 + 3 * i] = entry.peRed;
        trailer[2 + 3 * i] = entry.peGreen;
        trailer[3 + 3 * i] = entry.peBlue;
    }
}

// Bytes on their way to the callback, gathered into calls of at most
// pcx_staging_size; a larger piece is handed over as it is.
constexpr uint32_t pcx_staging_size = 64 * 1024;
struct pcx_output {
    pm_write_fn write;
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
bool pcx_write_rows(pcx_output &out, const pcx_save_layout &layout, uint8_t *line, uint8_t *encoded)
{
    const int32_t depth = pm_state.active_depth;
    const pcx_row_splitter split = pcx_choose_splitter(depth, layout.planes);
    const int32_t bpp = bytes_per_pixel(depth);
    // A palette layout's slots of one row lie after the encoded bytes.
    uint8_t *slots = encoded + 2 * layout.planes * layout.bytes_per_line;
    for (int32_t row = 0; row < layout.height; ++row) {
        const uint8_t *source = pixel_address(pm_state.active_bits, pm_state.active_max_y, pm_state.active_stride,
                                                  layout.min_x, layout.min_y + row, bpp);
        if (layout.colours != nullptr) {
            layout.colours->slots(source, layout.width, slots);
            pcx_pack_slots(slots, layout.width, layout.shape, layout.bytes_per_line, line);
        } else {
            split(source, line, layout.width, layout.bytes_per_line);
        }
        int32_t size = 0;
        for (int32_t plane = 0; plane < layout.planes; ++plane)
            size += pcx_encode_run_length(line + plane * layout.bytes_per_line, layout.bytes_per_line, encoded + size);
        if (!out.put(encoded, static_cast<uint32_t>(size)))
            return false;
    }
    return true;
}

// Writes header, rows and (for 8 bits) the trailer; false when a write fails.
bool pcx_write_file(pcx_output &out, const pcx_save_layout &layout, uint8_t *line, uint8_t *encoded)
{
    uint8_t header[pcx_header_size];
    pcx_build_header(header, layout);
    if (!out.put(header, sizeof header))
        return false;
    if (!pcx_write_rows(out, layout, line, encoded))
        return false;
    if (layout.shape.trailer) {
        uint8_t trailer[pcx_trailer_size];
        pcx_build_trailer(trailer, layout.colours);
        if (!out.put(trailer, sizeof trailer))
            return false;
    }
    return out.flush();
}

// Saves the planned rectangle through write: PM_PCX_OK, PM_PCX_NO_MEMORY, or
// PM_PCX_WRITE_FAILED once write refuses bytes.
int32_t pcx_save_through(pm_write_fn write, void *context, const pcx_save_layout &layout)
{
    // One block: the split scanline, room for its encoding, which is at most
    // twice as long (every byte a run of 1), a row's palette slots, and the
    // bytes gathered for the next write.
    const uint64_t line_size = static_cast<uint64_t>(layout.planes) * static_cast<uint64_t>(layout.bytes_per_line);
    const uint64_t slots_size = static_cast<uint64_t>(layout.width);
    pm_hglobal block =
        pm::platform::global_alloc(pm::platform::gmem_zeroinit, 3 * line_size + slots_size + pcx_staging_size);
    if (block == nullptr)
        return PM_PCX_NO_MEMORY;
    auto *line = static_cast<uint8_t *>(pm::platform::global_lock(block));
    int32_t result = PM_PCX_NO_MEMORY;
    if (line != nullptr) {
        pcx_output out{write, context, line + 3 * line_size + slots_size, 0};
        result = pcx_write_file(out, layout, line, line + line_size) ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
    }
    pm::platform::global_unlock(block);
    pm::platform::global_free(block);
    return result;
}

// The checks every save makes first, the colours of a palette layout
// included: 0, or its result. `colours` holds the palette of a layout that
// has one.
int32_t pcx_check_save(int32_t layout, int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                       pcx_save_layout *plan, pcx_colour_table &colours)
{
    const bool known = pcx_layout_shape_of(layout, pm_state.active_depth, plan->shape);
    if (!known)
        pcx_layout_shape_of(pcx_layout_auto, pm_state.active_depth, plan->shape);
    if (!pcx_plan_save(min_x, max_x, min_y, max_y, plan))
        return PM_PCX_INVALID;
    if (!known)
        return PM_PCX_UNSUPPORTED;
    plan->colours = nullptr;
    if (plan->shape.capacity == 0)
        return PM_PCX_OK;
    if (!colours.collect(plan->min_x, plan->min_y, plan->width, plan->height, plan->shape.capacity))
        return PM_PCX_TOO_MANY_COLOURS;
    if (layout == pcx_layout_mono)
        colours.order_lighter_last();
    plan->colours = &colours;
    return PM_PCX_OK;
}

// A memory save: the bytes that fit, and the count of them all.
struct pcx_memory_sink {
    uint8_t *buffer;
    uint32_t capacity;
    uint64_t total;
};

int32_t pcx_write_memory(void *context, const void *bytes, uint32_t size)
{
    auto *sink = static_cast<pcx_memory_sink *>(context);
    if (sink->total < sink->capacity) {
        const uint64_t room = sink->capacity - sink->total;
        std::memcpy(sink->buffer + sink->total, bytes, static_cast<size_t>(size < room ? size : room));
    }
    sink->total += size;
    return 0;
}

int32_t pcx_write_replacement(void *context, const void *bytes, uint32_t size)
{
    return pm_file_replace_write(static_cast<pm_file_writer *>(context), bytes, size);
}

} // namespace

// Writes a rectangle of the active buffer as a PCX file of the given layout
// through the safe replacement: a save that fails, or a picture the layout
// cannot hold, leaves whatever the name held before as it was. Refuses (2)
// when no buffer is active or the rectangle is empty or not wholly inside the
// buffer; 1 when the file may not be written or cannot be created, 3 for an
// unknown layout, 7 for too many colours, 5 when a write fails; 4 when memory
// runs out.
int32_t pm_save_pcx_file(const char *name, int32_t layout, int32_t min_x, int32_t max_x, int32_t min_y,
                         int32_t max_y)
{
    pcx_save_layout plan{};
    pcx_colour_table colours;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, &plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (name == nullptr)
        return PM_PCX_OPEN_FAILED;
    int32_t result = PM_PCX_OK;
    pm_file_writer *file = pm_file_replace_begin(name, &result);
    if (file == nullptr)
        return result;
    result = pcx_save_through(pcx_write_replacement, file, plan);
    // The writer remembers a failed write: finishing then keeps the old file,
    // says so and leaves errno as the write set it.
    if (result == PM_PCX_OK || result == PM_PCX_WRITE_FAILED)
        return pm_file_replace_finish(file);
    pm_file_replace_cancel(file);
    return result;
}

// The same in the layout the buffer's depth chooses.
int32_t pm_save_pcx(const char *name, int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y)
{
    return pm_save_pcx_file(name, pcx_layout_auto, min_x, max_x, min_y, max_y);
}

// Hands a rectangle of the active buffer, as a PCX picture, to a write callback.
int32_t pm_save_pcx_to(pm_write_fn write, void *context, int32_t layout, int32_t min_x, int32_t max_x, int32_t min_y,
                       int32_t max_y)
{
    pcx_save_layout plan{};
    pcx_colour_table colours;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, &plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (write == nullptr)
        return PM_PCX_WRITE_FAILED;
    return pcx_save_through(write, context, plan);
}

// Saves a rectangle of the active buffer as a PCX picture into memory, or
// gives its length.
int32_t pm_save_pcx_memory(void *buffer, uint32_t capacity, uint32_t *size, int32_t layout, int32_t min_x,
                           int32_t max_x, int32_t min_y, int32_t max_y)
{
    pcx_save_layout plan{};
    pcx_colour_table colours;
    if (size == nullptr)
        return PM_PCX_INVALID;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, &plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (buffer == nullptr)
        capacity = 0;
    pcx_memory_sink sink{static_cast<uint8_t *>(buffer), capacity, 0};
    const int32_t result = pcx_save_through(pcx_write_memory, &sink, plan);
    *size = sink.total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sink.total);
    if (result != PM_PCX_OK)
        return result;
    const bool asked_length = buffer == nullptr && capacity == 0;
    return asked_length || sink.total <= capacity ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
}
