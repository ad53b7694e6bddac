// Writing a rectangle of the active buffer as a PCX picture (version 5,
// run-length encoded). An 8-bit buffer becomes a 256-colour picture with the
// current palette as its trailer; a deeper buffer becomes three planes of
// 8 bits (red, green, blue). Every save hands its bytes to a write callback:
// the caller's, one that fills memory, or one that writes a file through the
// safe replacement.
#include <cstdint>
#include <cstring>

#include "graphics/internal.h"
#include "graphics/pcx/encode.h"
#include <pixmora/pixmora.h>
#include "platform/platform.h"

namespace {

using namespace pm;

// The pixels of columns min_x..max_x, rows min_y..max_y of the active
// buffer, which lies bottom-up in memory, and the palette as RGB triples.
struct pcx_buffer_picture {
    pcx_encoding encoding{};
    uint8_t palette[768];
};

pcx_pixel_kind pcx_buffer_pixel_kind(int32_t depth)
{
    switch (depth) {
    case 8:
        return pcx_pixel_kind::index8;
    case 16:
        return pcx_pixel_kind::rgb565;
    case 24:
        return pcx_pixel_kind::bgr24;
    default:
        return pcx_pixel_kind::bgrx32;
    }
}

// Validates the rectangle against the active buffer and describes it; false
// when it is empty, leaves the buffer or cannot be described by a PCX
// header. The layout's shape is already in place.
bool pcx_plan_save(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y, pcx_buffer_picture &picture)
{
    if (pm_state.active_index < 0)
        return false;
    if (min_x < 0 || min_y < 0 || min_x > max_x || min_y > max_y)
        return false;
    if (max_x >= pm_state.active_width || max_y >= pm_state.active_height)
        return false;
    const int32_t depth = pm_state.active_depth;
    for (int32_t i = 0; i < 256; ++i) {
        const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
        picture.palette[3 * i] = entry.peRed;
        picture.palette[3 * i + 1] = entry.peGreen;
        picture.palette[3 * i + 2] = entry.peBlue;
    }
    pcx_pixel_rows &rows = picture.encoding.rows;
    rows.kind = pcx_buffer_pixel_kind(depth);
    rows.first = pixel_address(pm_state.active_bits, pm_state.active_max_y, pm_state.active_stride, min_x, min_y,
                               bytes_per_pixel(depth));
    rows.stride = -static_cast<std::ptrdiff_t>(pm_state.active_stride); // the next row down lies lower in memory
    rows.width = max_x - min_x + 1;
    rows.height = max_y - min_y + 1;
    rows.palette = picture.palette;
    picture.encoding.palette = picture.palette;
    return pcx_plan_encoding(picture.encoding);
}

// Saves the planned picture through write: PM_PCX_OK, PM_PCX_NO_MEMORY, or
// PM_PCX_WRITE_FAILED once write refuses bytes.
int32_t pcx_save_through(pm_write_fn write, void *context, const pcx_encoding &encoding)
{
    pm_hglobal block = pm::platform::global_alloc(pm::platform::gmem_zeroinit, pcx_encoding_work_size(encoding));
    if (block == nullptr)
        return PM_PCX_NO_MEMORY;
    auto *work = static_cast<uint8_t *>(pm::platform::global_lock(block));
    int32_t result = PM_PCX_NO_MEMORY;
    if (work != nullptr)
        result = pcx_encode(encoding, work, write, context) ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
    pm::platform::global_unlock(block);
    pm::platform::global_free(block);
    return result;
}

// The checks every save makes first, the colours of a palette layout
// included: 0, or its result. `colours` holds the palette of a layout that
// has one.
int32_t pcx_check_save(int32_t layout, int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y,
                       pcx_buffer_picture &picture, pcx_colour_table &colours)
{
    const bool indexed = pm_state.active_depth == 8;
    pcx_layout_shape &shape = picture.encoding.shape;
    const bool known = pcx_layout_shape_of(layout, indexed, shape);
    if (!known)
        pcx_layout_shape_of(pcx_layout_auto, indexed, shape);
    if (!pcx_plan_save(min_x, max_x, min_y, max_y, picture))
        return PM_PCX_INVALID;
    if (!known)
        return PM_PCX_UNSUPPORTED;
    if (!pcx_gather_colours(picture.encoding, layout == pcx_layout_mono, 0, colours))
        return PM_PCX_TOO_MANY_COLOURS;
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
    pcx_buffer_picture plan;
    pcx_colour_table colours;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (name == nullptr)
        return PM_PCX_OPEN_FAILED;
    int32_t result = PM_PCX_OK;
    pm_file_writer *file = pm_file_replace_begin(name, &result);
    if (file == nullptr)
        return result;
    result = pcx_save_through(pcx_write_replacement, file, plan.encoding);
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
    pcx_buffer_picture plan;
    pcx_colour_table colours;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (write == nullptr)
        return PM_PCX_WRITE_FAILED;
    return pcx_save_through(write, context, plan.encoding);
}

// Saves a rectangle of the active buffer as a PCX picture into memory, or
// gives its length.
int32_t pm_save_pcx_memory(void *buffer, uint32_t capacity, uint32_t *size, int32_t layout, int32_t min_x,
                           int32_t max_x, int32_t min_y, int32_t max_y)
{
    pcx_buffer_picture plan;
    pcx_colour_table colours;
    if (size == nullptr)
        return PM_PCX_INVALID;
    if (const int32_t checked = pcx_check_save(layout, min_x, max_x, min_y, max_y, plan, colours);
        checked != PM_PCX_OK)
        return checked;
    if (buffer == nullptr)
        capacity = 0;
    pcx_memory_sink sink{static_cast<uint8_t *>(buffer), capacity, 0};
    const int32_t result = pcx_save_through(pcx_write_memory, &sink, plan.encoding);
    *size = sink.total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sink.total);
    if (result != PM_PCX_OK)
        return result;
    const bool asked_length = buffer == nullptr && capacity == 0;
    return asked_length || sink.total <= capacity ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
}
