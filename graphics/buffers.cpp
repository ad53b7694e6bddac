// Virtual buffers: the slot table, creation, activation and destruction.

#include <cstring>

#include "graphics/internal.h"
#include "platform/platform.h"

namespace {

constexpr int32_t bitmap_header_size = 40;
constexpr int32_t v4_header_size = 108;
constexpr int32_t colour_table_bytes = 256 * 4;
constexpr int32_t index_table_bytes = 256 * 2;

// The block an 8-bit buffer's header lives in always has room for the full
// colour table: a buffer created with palette indices gets colours instead
// once a deeper buffer turns palette index mode off, and the block cannot
// move or grow during the buffer's life.
constexpr int32_t header_block_size(int32_t depth)
{
    switch (depth) {
    case 8:
        return bitmap_header_size + colour_table_bytes;
    case 16:
    case 32:
        return v4_header_size; // room for a V4 header, or a plain one and its masks
    default:
        return bitmap_header_size;
    }
}

bool valid_depth(int32_t depth) { return depth == 8 || depth == 16 || depth == 24 || depth == 32; }

int32_t lowest_free_slot()
{
    for (int32_t slot = 0; slot < PM_SLOTS; ++slot)
        if (pm_state.slot_bits[slot] == nullptr)
            return slot;
    return -1;
}

void write_u32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

void write_identity_index_table(uint8_t *table)
{
    for (uint16_t i = 0; i < 256; ++i)
        std::memcpy(table + 2 * i, &i, 2);
}

void write_colour_table(uint8_t *table) { std::memcpy(table, pm_state.colour_table, colour_table_bytes); }

// Fills a zeroed header block for a buffer of its own depth and table form.
void fill_header(uint8_t *block, int32_t width, int32_t height, int32_t depth)
{
    pm_bitmapinfoheader header{};
    header.biSize = bitmap_header_size;
    header.biWidth = width;
    header.biHeight = height; // positive: rows are stored bottom-up
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(depth);
    header.biCompression = pm::platform::bi_rgb;

    uint8_t *after = block + bitmap_header_size;
    switch (depth) {
    case 32:
    case 16:
        header.biCompression = pm::platform::bi_bitfields;
        // The NT family takes the masks after a plain header; older systems
        // read them as the mask fields of a V4 header.
        if (!pm_state.platform_is_nt && pm_state.header_size == v4_header_size)
            header.biSize = v4_header_size;
        if (depth == 32) {
            write_u32(after, 0x00FF0000);
            write_u32(after + 4, 0x0000FF00);
            write_u32(after + 8, 0x000000FF);
            write_u32(after + 12, 0xFF000000);
        } else {
            write_u32(after, 0xF800);
            write_u32(after + 4, 0x07E0);
            write_u32(after + 8, 0x001F);
        }
        break;
    case 8:
        if (pm_state.palette_index_mode)
            write_identity_index_table(after);
        else
            write_colour_table(after);
        break;
    default:
        break;
    }
    std::memcpy(block, &header, sizeof header);
}

void rebuild_lookup16()
{
    for (int32_t i = 0; i < 256; ++i) {
        const pm_paletteentry &e = pm_state.logical_palette.palPalEntry[i];
        pm::set_lookup16(i, pm::rgb565(e.peRed, e.peGreen, e.peBlue));
    }
}

void rebuild_lookup32()
{
    for (int32_t i = 0; i < 256; ++i) {
        const pm_paletteentry &e = pm_state.logical_palette.palPalEntry[i];
        pm::set_lookup32(i, e.peRed, e.peGreen, e.peBlue);
    }
}

void free_slot(int32_t slot)
{
    // The slot is marked free before its objects are released.
    uint8_t *bits = pm_state.slot_bits[slot];
    pm_state.slot_bits[slot] = nullptr;
    if (bits == nullptr)
        return;
    pm::platform::object_delete(pm_state.slot_bitmap[slot]);
    pm::platform::global_unlock(pm_state.slot_header_block[slot]);
    pm::platform::global_free(pm_state.slot_header_block[slot]);
}

} // namespace

int32_t pm_buffer_create(int32_t width, int32_t height)
{
    // Before start-up, or after the shut-down that took effect, the slot
    // table is not the library's to fill: the next start-up clears it.
    if (!pm_state.started)
        return PM_BUFFER_CANNOT_CREATE;
    const int32_t slot = lowest_free_slot();
    if (slot < 0)
        return PM_BUFFER_NO_FREE_SLOT;

    const int32_t depth = pm_state.new_buffer_depth;
    if (!valid_depth(depth) || width < 1 || height < 1 || width > INT32_MAX - 3)
        return PM_BUFFER_CANNOT_CREATE;
    width = (width + 3) & ~3;
    const int64_t stride = pm::checked_mul(width, depth / 8);
    if (stride < 0 || pm::checked_mul(stride, height) < 0)
        return PM_BUFFER_CANNOT_CREATE;

    const int32_t block_size = header_block_size(depth);
    pm_hglobal block = pm::platform::global_alloc(pm::platform::gmem_moveable | pm::platform::gmem_zeroinit,
                                              static_cast<uint64_t>(block_size));
    if (block == nullptr)
        return PM_BUFFER_CANNOT_CREATE;
    auto *header = static_cast<uint8_t *>(pm::platform::global_lock(block));
    if (header == nullptr) {
        pm::platform::global_free(block);
        return PM_BUFFER_CANNOT_CREATE;
    }
    fill_header(header, width, height, depth);

    uint8_t *bits = nullptr;
    pm_hbitmap bitmap = pm::platform::dib_section_create(pm_state.window_dc, header, pm_state.palette_index_mode, &bits);
    if (bitmap == nullptr || bits == nullptr) {
        pm::platform::object_delete(bitmap);
        pm::platform::global_unlock(block);
        pm::platform::global_free(block);
        return PM_BUFFER_CANNOT_CREATE;
    }

    pm_state.slot_bitmap[slot] = bitmap;
    pm_state.slot_header_block[slot] = block;
    pm_state.slot_header[slot] = header;
    pm_state.slot_bits[slot] = bits;
    pm_state.slot_depth[slot] = depth;
    pm_state.slot_stride[slot] = static_cast<int32_t>(stride);
    pm_state.slot_width[slot] = width;
    pm_state.slot_height[slot] = height;
    pm_state.slot_max_x[slot] = width - 1;
    pm_state.slot_max_y[slot] = height - 1;
    pm_state.slot_min_x[slot] = 0;
    pm_state.slot_min_y[slot] = 0;
    return slot;
}

int32_t pm_set_new_buffer_depth(int32_t depth)
{
    if (!valid_depth(depth))
        return -1;
    pm_state.new_buffer_depth = depth;
    return 0;
}

int32_t pm_buffer_activate(int32_t handle)
{
    if (static_cast<uint32_t>(handle) >= PM_SLOTS)
        return PM_BUFFER_BAD_HANDLE;
    if (pm_state.slot_bits[handle] == nullptr)
        return PM_BUFFER_FREE_SLOT;

    if (pm_state.slot_bitmap[handle] != nullptr) {
        pm_hgdiobj previous = pm::platform::select_object(pm_state.memory_dc, pm_state.slot_bitmap[handle]);
        if (pm_state.saved_bitmap == nullptr)
            pm_state.saved_bitmap = previous;
    }

    pm_state.active_index = handle;
    pm_state.active_depth = pm_state.slot_depth[handle];
    pm_state.active_stride = pm_state.slot_stride[handle];
    pm_state.active_width = pm_state.slot_width[handle];
    pm_state.active_height = pm_state.slot_height[handle];
    pm_state.active_max_y = pm_state.slot_height[handle] - 1;
    pm_state.clip_min_x = pm_state.slot_min_x[handle];
    pm_state.clip_max_x = pm_state.slot_max_x[handle];
    pm_state.clip_min_y = pm_state.slot_min_y[handle];
    pm_state.clip_max_y = pm_state.slot_max_y[handle];
    pm_state.active_header = pm_state.slot_header[handle];
    pm_state.active_bits = pm_state.slot_bits[handle];

    auto *table = static_cast<uint8_t *>(pm_state.active_header) + bitmap_header_size;
    switch (pm_state.active_depth) {
    case 8:
        pm_state.header_size = bitmap_header_size;
        pm_state.header_alloc_size = pm_state.palette_index_mode ? bitmap_header_size + index_table_bytes
                                                                 : bitmap_header_size + colour_table_bytes;
        if (!pm_state.palette_index_mode)
            write_colour_table(table);
        break;
    case 16:
        pm_state.header_size = v4_header_size;
        pm_state.header_alloc_size = v4_header_size;
        pm_state.palette_index_mode = 0;
        rebuild_lookup16();
        break;
    case 24:
        pm_state.header_size = bitmap_header_size;
        pm_state.header_alloc_size = bitmap_header_size;
        pm_state.palette_index_mode = 0;
        rebuild_lookup32();
        break;
    default: // 32
        pm_state.header_size = v4_header_size;
        pm_state.header_alloc_size = v4_header_size;
        pm_state.palette_index_mode = 0;
        rebuild_lookup32();
        break;
    }
    return 0;
}

int32_t pm_buffer_deactivate()
{
    pm_state.active_index = -1;
    // With nothing remembered (no activation since the last deactivation)
    // the memory context keeps what it holds.
    if (pm_state.saved_bitmap != nullptr)
        pm::platform::select_object(pm_state.memory_dc, pm_state.saved_bitmap);
    pm_state.saved_bitmap = nullptr;
    return 0;
}

int32_t pm_buffer_destroy(int32_t handle)
{
    if (handle >= 0) {
        if (handle >= PM_SLOTS || handle == pm_state.active_index)
            return 0;
        free_slot(handle);
        return 0;
    }
    if (pm_state.active_index >= 0)
        return 0;
    for (int32_t slot = 0; slot < PM_SLOTS; ++slot)
        free_slot(slot);
    return 0;
}

int32_t pm_buffer_sync_colour_table()
{
    if (pm_state.active_index == -1 || pm_state.active_depth != 8)
        return 0;
    auto *table = static_cast<uint8_t *>(pm_state.active_header) + bitmap_header_size;
    if (pm_state.palette_index_mode)
        write_identity_index_table(table);
    else
        write_colour_table(table);
    return 0;
}
