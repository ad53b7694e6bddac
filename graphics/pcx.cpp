// Loading PCX pictures into the active buffer, from a file or from memory:
// what a load holds while it runs, reading the header, the road of one
// picture through the loader's stages (graphics/pcx.h), and the C entries.
// The picture's palette is applied before the pixels in 16-, 24- and 32-bit
// buffers (their pixels go through pixel_lookup) and after them in 8-bit
// buffers (colour reduction must see the pixels).
#include "graphics/pcx.h"

#include <cstring>

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

// Reads the header into pcx_header and sets up the stream. Returns 0 with the
// header bytes there were (fewer than 128 when the input is that short), or
// the result that ends the load.
int32_t pcx_open(const char *name, int32_t flags, pcx_stream &stream, pcx_load_scope &scope, uint32_t &header_bytes)
{
    stream = pcx_stream{};
    header_bytes = 0;
    if ((flags & pcx_from_memory) != 0) {
        if (pm_state.input_block == nullptr || pm_state.input_block_size < static_cast<uint32_t>(pcx_header_size)) {
            header_bytes = pm_state.input_block == nullptr ? 0 : pm_state.input_block_size;
            return PM_PCX_OK;
        }
        stream.picture = pm_state.input_block;
        stream.picture_size = pm_state.input_block_size;
        std::memcpy(pm_state.pcx_header, stream.picture, pcx_header_size);
        header_bytes = pcx_header_size;
        pm_state.input_block += pcx_header_size;
        stream.position = pm_state.input_block;
        stream.left = stream.picture_size - pcx_header_size;
        return PM_PCX_OK;
    }
    // Whatever the input block describes, file data always goes to read_buffer.
    pm_state.input_block = pm_state.read_buffer;
    if (!scope.open_file(name))
        return PM_PCX_OPEN_FAILED;
    uint32_t got = 0;
    if (!pm::platform::file_read(pm_state.file_handle, pm_state.pcx_header, pcx_header_size, &got))
        got = 0;
    pm_state.bytes_read = got;
    header_bytes = got;
    stream.position = pm_state.read_buffer;
    stream.left = 0; // the first decode begins with a refill
    return PM_PCX_OK;
}

// ---- The load -----------------------------------------------------------------

int32_t pcx_load(const char *name, int32_t flags, pcx_load_scope &scope)
{
    pcx_stream stream;
    uint32_t header_bytes = 0;
    if (const int32_t opened = pcx_open(name, flags, stream, scope, header_bytes); opened != PM_PCX_OK)
        return opened;
    // Judged before placement, so that the verdict does not depend on where
    // the picture lands, and inspection gives the same one.
    const pcx_verdict verdict = pcx_judge(pm_state.pcx_header, header_bytes, pm_state.active_depth);
    if (verdict.result != PM_PCX_OK)
        return verdict.result;
    const pcx_picture &picture = verdict.picture;

    pcx_placement place{};
    if (!pcx_place(picture, flags, place))
        return PM_PCX_OK;
    uint8_t *scanline = scope.allocate_scanline(picture.planes * picture.bytes_per_line);
    if (scanline == nullptr)
        return PM_PCX_NO_MEMORY;

    const bool indexed_buffer = pm_state.active_depth == 8;
    uint32_t pixels[256];
    if (!indexed_buffer) {
        pcx_apply_palette(stream, picture, flags);
        pcx_load_pixels(pixels, pcx_destination_bytes(pm_state.active_depth));
    }
    pcx_draw_rows(stream, picture, place, verdict.convert, scanline, pixels);
    if (indexed_buffer)
        pcx_apply_palette(stream, picture, flags);
    return PM_PCX_OK;
}

} // namespace

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
    return pm::pcx_load(name, flags, scope);
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
    case PM_PCX_WRITE_FAILED:
        return "the bytes cannot be written";
    default:
        return "unknown result";
    }
}
