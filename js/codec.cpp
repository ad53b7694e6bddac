// The WebAssembly side of the npm package: the library's codec calls, and
// around them only what JavaScript cannot do itself. Encoders hand their
// bytes to a callback, and a JavaScript function cannot stand in a C
// function pointer, so the bytes are gathered here into memory that grows
// as they come. The records are read and written by the wrapper at the
// offsets pinned below; a header that moves a field fails this build rather
// than the wrapper's reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <pixmora/pixmora.h>

static_assert(offsetof(pm_picture, width) == 0 && offsetof(pm_picture, height) == 4);
static_assert(offsetof(pm_picture, format) == 8 && offsetof(pm_picture, colours) == 12);
static_assert(offsetof(pm_picture, stride) == 16 && offsetof(pm_picture, pixels) == 24);
static_assert(offsetof(pm_picture, palette) == 28 && sizeof(pm_picture) == 832);
static_assert(offsetof(pm_pcx_info, page_count) == 8 && offsetof(pm_pcx_info, page) == 12);
static_assert(offsetof(pm_pcx_info, page_offset) == 16 && offsetof(pm_pcx_info, header_present) == 24);
static_assert(offsetof(pm_pcx_info, manufacturer) == 28 && offsetof(pm_pcx_info, x_min) == 32);
static_assert(offsetof(pm_pcx_info, h_dpi) == 40 && offsetof(pm_pcx_info, planes) == 44);
static_assert(offsetof(pm_pcx_info, bytes_per_line) == 46 && offsetof(pm_pcx_info, colormap) == 54);
static_assert(offsetof(pm_pcx_info, width) == 104 && offsetof(pm_pcx_info, colours) == 112);
static_assert(offsetof(pm_pcx_info, palette_count) == 124 && offsetof(pm_pcx_info, palette) == 128);
static_assert(offsetof(pm_pcx_info, depth) == 896 && offsetof(pm_pcx_info, reason) == 904);
static_assert(sizeof(pm_pcx_info) == 944);

namespace {

// Bytes written by an encoder, in memory of the module's heap.
struct sink {
    uint8_t *bytes;
    uint32_t size;
    uint32_t capacity;
    int32_t out_of_memory;
};
static_assert(sizeof(sink) == 16);

int32_t gather(void *context, const void *bytes, uint32_t size)
{
    sink &out = *static_cast<sink *>(context);
    if (size > UINT32_MAX - out.size) {
        out.out_of_memory = 1;
        return 1;
    }
    if (out.size + size > out.capacity) {
        uint32_t capacity = out.capacity < 4096 ? 4096 : out.capacity;
        while (capacity < out.size + size)
            capacity = capacity > UINT32_MAX / 2 ? UINT32_MAX : capacity * 2;
        void *grown = std::realloc(out.bytes, capacity);
        if (grown == nullptr) {
            out.out_of_memory = 1;
            return 1;
        }
        out.bytes = static_cast<uint8_t *>(grown);
        out.capacity = capacity;
    }
    std::memcpy(out.bytes + out.size, bytes, size);
    out.size += size;
    return 0;
}

// An encoder's result, with running out of room for its bytes reported as
// running out of memory (it is not a write that failed).
int32_t finished(sink *out, int32_t result)
{
    if (out->out_of_memory)
        result = PM_PCX_NO_MEMORY;
    if (result != PM_PCX_OK) {
        std::free(out->bytes);
        *out = sink{};
    }
    return result;
}

} // namespace

extern "C" {

// pm_pcx_decode with a 32-bit size: JavaScript passes 64-bit integers only
// as BigInt, and no input in this memory is larger.
int32_t pmjs_decode(const void *data, uint32_t size, int32_t flags, int32_t page, pm_picture *picture)
{
    return pm_pcx_decode(data, size, flags, page, picture);
}

int32_t pmjs_pcx_encode(const pm_picture *picture, int32_t layout, sink *out)
{
    *out = sink{};
    return finished(out, pm_pcx_encode(picture, layout, gather, out));
}

int32_t pmjs_dcx_encode(const pm_picture *pages, int32_t count, int32_t layout, sink *out)
{
    *out = sink{};
    return finished(out, pm_dcx_encode(pages, count, layout, gather, out));
}

} // extern "C"
