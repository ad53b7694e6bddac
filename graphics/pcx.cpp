// Loading PCX pictures into the active buffer, from a file or from memory:
// what a load holds while it runs, reading the header, the road of one
// picture through the loader's stages (graphics/pcx.h), and the C entries.
// The picture's palette is applied before the pixels in 16-, 24- and 32-bit
// buffers (their pixels go through pixel_lookup) and after them in 8-bit
// buffers (colour reduction must see the pixels).
#include "graphics/pcx.h"

#include <algorithm>
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

// One read of the file open in file_handle; the byte count, 0 when the
// read fails.
uint32_t pcx_file_read(void *buffer, uint32_t size)
{
    uint32_t got = 0;
    if (!pm::platform::file_read(pm_state.file_handle, buffer, size, &got))
        got = 0;
    got = std::min(got, size);
    pm_state.bytes_read = got;
    return got;
}

// The memory picture of a load: the input block, or the chosen page of the
// DCX file it holds. Returns 0, or the result that ends the load.
int32_t pcx_input_block_page(pcx_page_choice choice, const uint8_t *&picture, uint64_t &size)
{
    picture = pm_state.input_block;
    size = picture != nullptr ? pm_state.input_block_size : 0;
    return pcx_memory_page(picture, size, choice.any_container, choice.page);
}

// Gives a file load its next block: read_buffer filled from file_handle, at
// most min(input_block_size, 4096) bytes at a time and never past the
// picture's data.
uint32_t pcx_refill_from_file(pcx_stream &stream)
{
    // input_block_size may describe a caller's memory block; read_buffer's
    // own size bounds what one read may bring.
    uint32_t size = pm_state.input_block_size;
    if (size == 0 || size > static_cast<uint32_t>(PM_READ_BUFFER_SIZE))
        size = PM_READ_BUFFER_SIZE;
    size = static_cast<uint32_t>(std::min<uint64_t>(size, stream.file_left));
    uint32_t got = 0;
    if (size != 0)
        got = pcx_file_read(pm_state.read_buffer, size);
    stream.file_left -= got;
    stream.position = pm_state.read_buffer;
    stream.left = got;
    return got;
}

// Reads the header of a page of the DCX file open in file_handle, whose first
// `got` bytes stand in pcx_header, and sets where the page lies. Returns 0
// with the header bytes there were, or the result that ends the load.
int32_t pcx_file_page(int32_t page, uint32_t got, pcx_stream &stream, uint32_t &header_bytes)
{
    uint8_t head[dcx_directory_size];
    std::memcpy(head, pm_state.pcx_header, got);
    got += pcx_file_read(head + got, static_cast<uint32_t>(dcx_directory_size) - got);
    const int64_t file_size = pm::platform::file_seek(pm_state.file_handle, 0, pm::platform::seek_origin::end);
    uint64_t start = 0, end = 0;
    if (!dcx_page_span(dcx_read_directory(head, got), page, static_cast<uint64_t>(std::max<int64_t>(file_size, 0)),
                       start, end))
        return PM_PCX_NO_PAGE;
    header_bytes = 0;
    if (pm::platform::file_seek(pm_state.file_handle, static_cast<int64_t>(start), pm::platform::seek_origin::begin) ==
        static_cast<int64_t>(start))
        header_bytes = pcx_file_read(pm_state.pcx_header,
                                     static_cast<uint32_t>(std::min<uint64_t>(end - start, pcx_header_size)));
    stream.file_start = static_cast<int64_t>(start);
    stream.file_end = static_cast<int64_t>(end);
    stream.file_left = end - start - header_bytes;
    return PM_PCX_OK;
}

// Reads the header into pcx_header and sets up the stream. Returns 0 with the
// header bytes there were (fewer than 128 when the input is that short), or
// the result that ends the load.
int32_t pcx_open(const char *name, int32_t flags, pcx_page_choice choice, pcx_stream &stream, pcx_load_scope &scope,
                 uint32_t &header_bytes)
{
    stream = pcx_stream{};
    header_bytes = 0;
    if ((flags & pcx_from_memory) != 0) {
        const uint8_t *picture = nullptr;
        uint64_t size = 0;
        if (const int32_t chosen = pcx_input_block_page(choice, picture, size); chosen != PM_PCX_OK)
            return chosen;
        if (size < static_cast<uint64_t>(pcx_header_size)) {
            header_bytes = static_cast<uint32_t>(size);
            return PM_PCX_OK;
        }
        stream = pcx_memory_stream(picture, static_cast<uint32_t>(size));
        std::memcpy(pm_state.pcx_header, stream.picture, pcx_header_size);
        header_bytes = pcx_header_size;
        pm_state.input_block = const_cast<uint8_t *>(stream.position);
        return PM_PCX_OK;
    }
    // Whatever the input block describes, file data always goes to read_buffer.
    pm_state.input_block = pm_state.read_buffer;
    if (!scope.open_file(name))
        return PM_PCX_OPEN_FAILED;
    header_bytes = pcx_file_read(pm_state.pcx_header, pcx_header_size);
    if (choice.any_container && dcx_is_container(pm_state.pcx_header, header_bytes)) {
        if (const int32_t chosen = pcx_file_page(choice.page, header_bytes, stream, header_bytes);
            chosen != PM_PCX_OK)
            return chosen;
    } else if (choice.page != 0) {
        return PM_PCX_NO_PAGE;
    }
    stream.position = pm_state.read_buffer;
    stream.left = 0; // the first decode begins with a refill
    stream.refill = pcx_refill_from_file;
    return PM_PCX_OK;
}

// ---- The load -----------------------------------------------------------------

int32_t pcx_load(const char *name, int32_t flags, pcx_page_choice choice, pcx_load_scope &scope)
{
    pcx_stream stream;
    uint32_t header_bytes = 0;
    if (const int32_t opened = pcx_open(name, flags, choice, stream, scope, header_bytes); opened != PM_PCX_OK)
        return opened;
    // Judged before placement, so that the verdict does not depend on where
    // the picture lands, and inspection gives the same one.
    const pcx_verdict verdict =
        pcx_judge(pm_state.pcx_header, header_bytes, pm_state.active_depth, (flags & pcx_all_layouts) != 0);
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
    } else {
        for (uint32_t i = 0; i < 256; ++i) // pictures of 16 colours or fewer stand clear of the static colours
            pixels[i] = i + pcx_static_colours;
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
    case PM_PCX_WRITE_FAILED:
        return "the bytes cannot be written";
    case PM_PCX_NO_PAGE:
        return "the file has no such page";
    case PM_PCX_TOO_MANY_COLOURS:
        return "more colours than the layout holds";
    case PM_PCX_BAD_ARGUMENT:
        return "a bad argument";
    default:
        return "unknown result";
    }
}
