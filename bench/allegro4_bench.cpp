// Allegro 4's side, a program of its own (Allegro 4 and Allegro 5 do not
// share one): 8-bit memory bitmaps scaled with stretch_blit and copied with
// blit, an 8-bit sprite drawn onto a 32-bit bitmap with draw_sprite (index 0
// is its mask colour), presentation as blit to 32 bits then stretch_blit,
// and load_pcx_pf decoding the PCX pictures that pixmora_bench wrote to
// PIXMORA_BENCH_PCX_DIR, read from memory. Making and destroying the decoded
// bitmap is part of its load.
#define ALLEGRO_NO_MAGIC_MAIN
#include <allegro.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_data.h"

namespace {

using bench::extent;

bool start_allegro()
{
    static const bool started = [] {
        if (install_allegro(SYSTEM_NONE, &errno, nullptr) != 0)
            return false;
        PALETTE palette;
        for (int32_t i = 0; i < 256; ++i) {
            uint8_t r, g, b;
            bench::palette_colour(i, r, g, b);
            // Allegro's palette entries have 6 bits per channel.
            palette[i].r = static_cast<unsigned char>(r >> 2);
            palette[i].g = static_cast<unsigned char>(g >> 2);
            palette[i].b = static_cast<unsigned char>(b >> 2);
        }
        select_palette(palette);
        return true;
    }();
    return started;
}

// A memory bitmap of the depth; at 8 bits it holds the benchmark picture.
BITMAP *make_bitmap(int depth, extent size)
{
    if (!start_allegro())
        return nullptr;
    BITMAP *bitmap = create_bitmap_ex(depth, size.width, size.height);
    if (bitmap != nullptr && depth == 8) {
        const std::vector<uint8_t> pixels = bench::picture(size);
        for (int32_t y = 0; y < size.height; ++y)
            std::memcpy(bitmap->line[y], pixels.data() + static_cast<size_t>(y) * size.width,
                        static_cast<size_t>(size.width));
    } else if (bitmap != nullptr) {
        clear_bitmap(bitmap);
    }
    return bitmap;
}

struct bitmaps {
    std::vector<BITMAP *> list;
    ~bitmaps()
    {
        for (BITMAP *bitmap : list)
            if (bitmap != nullptr)
                destroy_bitmap(bitmap);
    }
    BITMAP *add(int depth, extent size) { return list.emplace_back(make_bitmap(depth, size)); }
};

// Equal sizes are a blit, the call an application makes for a copy.
void scale(benchmark::State &state, extent from, extent to)
{
    bitmaps made;
    BITMAP *source = made.add(8, from);
    BITMAP *destination = made.add(8, to);
    if (source == nullptr || destination == nullptr) {
        state.SkipWithError("Allegro 4 bitmaps unavailable");
        return;
    }
    const bool same = from.width == to.width && from.height == to.height;
    for (auto _ : state) {
        if (same)
            blit(source, destination, 0, 0, 0, 0, to.width, to.height);
        else
            stretch_blit(source, destination, 0, 0, from.width, from.height, 0, 0, to.width, to.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{to.width} * to.height);
}

void copy_region(benchmark::State &state)
{
    bitmaps made;
    BITMAP *panorama = made.add(8, bench::copy_source);
    BITMAP *view = made.add(8, bench::copy_rect);
    if (panorama == nullptr || view == nullptr) {
        state.SkipWithError("Allegro 4 bitmaps unavailable");
        return;
    }
    const extent r = bench::copy_rect;
    for (auto _ : state) {
        blit(panorama, view, bench::copy_src_x, 0, 0, 0, r.width, r.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{r.width} * r.height);
}

void paste_8to32(benchmark::State &state)
{
    bitmaps made;
    BITMAP *image = made.add(8, bench::paste_image);
    BITMAP *target = made.add(32, bench::paste_target);
    if (image == nullptr || target == nullptr) {
        state.SkipWithError("Allegro 4 bitmaps unavailable");
        return;
    }
    for (auto _ : state) {
        draw_sprite(target, image, bench::paste_x, bench::paste_y);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{bench::paste_image.width} * bench::paste_image.height);
}

void present(benchmark::State &state, extent target)
{
    const extent view_size = bench::present_source;
    bitmaps made;
    BITMAP *view = made.add(8, view_size);
    BITMAP *colours = made.add(32, view_size);
    BITMAP *window = made.add(32, target);
    if (view == nullptr || colours == nullptr || window == nullptr) {
        state.SkipWithError("Allegro 4 bitmaps unavailable");
        return;
    }
    for (auto _ : state) {
        blit(view, colours, 0, 0, 0, 0, view_size.width, view_size.height);
        stretch_blit(colours, window, 0, 0, view_size.width, view_size.height, 0, 0, target.width, target.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{target.width} * target.height);
}

// ---- PCX decoding from memory ------------------------------------------------

struct memory_file {
    const std::vector<uint8_t> *bytes;
    size_t at;
};

int memory_close(void *)
{
    return 0;
}
int memory_getc(void *data)
{
    auto *file = static_cast<memory_file *>(data);
    return file->at < file->bytes->size() ? (*file->bytes)[file->at++] : EOF;
}
int memory_ungetc(int c, void *data)
{
    auto *file = static_cast<memory_file *>(data);
    if (file->at == 0)
        return EOF;
    --file->at;
    return c;
}
long memory_read(void *to, long n, void *data)
{
    auto *file = static_cast<memory_file *>(data);
    const size_t count = std::min(static_cast<size_t>(n), file->bytes->size() - file->at);
    std::memcpy(to, file->bytes->data() + file->at, count);
    file->at += count;
    return static_cast<long>(count);
}
int memory_putc(int, void *)
{
    return EOF;
}
long memory_write(const void *, long, void *)
{
    return 0;
}
int memory_seek(void *data, int offset)
{
    auto *file = static_cast<memory_file *>(data);
    if (offset < 0 || file->at + static_cast<size_t>(offset) > file->bytes->size())
        return -1;
    file->at += static_cast<size_t>(offset);
    return 0;
}
int memory_eof(void *data)
{
    auto *file = static_cast<memory_file *>(data);
    return file->at >= file->bytes->size();
}
int memory_error(void *)
{
    return 0;
}
const PACKFILE_VTABLE memory_vtable = {memory_close, memory_getc,  memory_ungetc, memory_read, memory_putc,
                                       memory_write, memory_seek, memory_eof,    memory_error};

// depth 8 keeps the picture as it is (8 bits for 256 colours, 24 for three
// planes); depth 32 converts it to 32 bits, as our 32-bit buffers hold it.
void decode(benchmark::State &state, const std::vector<uint8_t> &bytes, int depth)
{
    if (!start_allegro()) {
        state.SkipWithError("Allegro 4 unavailable");
        return;
    }
    set_color_depth(depth);
    set_color_conversion(depth == 8 ? COLORCONV_NONE : COLORCONV_TOTAL);
    RGB palette[256];
    for (auto _ : state) {
        memory_file file{&bytes, 0};
        PACKFILE *input = pack_fopen_vtable(&memory_vtable, &file);
        BITMAP *bitmap = input != nullptr ? load_pcx_pf(input, palette) : nullptr;
        if (input != nullptr)
            pack_fclose(input);
        if (bitmap == nullptr) {
            state.SkipWithError("load_pcx_pf failed");
            break;
        }
        benchmark::DoNotOptimize(bitmap);
        destroy_bitmap(bitmap);
    }
}

// load_pcx from the file itself, through Allegro's own buffered reading
// (the file stays in the page cache); listed as "allegro4-file".
void decode_file(benchmark::State &state, const std::string &path, int depth)
{
    if (!start_allegro()) {
        state.SkipWithError("Allegro 4 unavailable");
        return;
    }
    set_color_depth(depth);
    set_color_conversion(depth == 8 ? COLORCONV_NONE : COLORCONV_TOTAL);
    RGB palette[256];
    for (auto _ : state) {
        BITMAP *bitmap = load_pcx(path.c_str(), palette);
        if (bitmap == nullptr) {
            state.SkipWithError("load_pcx failed");
            break;
        }
        benchmark::DoNotOptimize(bitmap);
        destroy_bitmap(bitmap);
    }
}

// Every picture pixmora_bench wrote, under the operations of our two buffer
// depths (a three-plane picture only at 32 bits).
void add_pictures()
{
    const char *directory = std::getenv("PIXMORA_BENCH_PCX_DIR");
    std::error_code error;
    if (directory == nullptr || !std::filesystem::is_directory(directory, error))
        return;
    static std::vector<std::vector<uint8_t>> pictures; // kept for the whole run
    pictures.reserve(64);
    for (const auto &entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() != ".pcx" || pictures.size() == pictures.capacity())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> &bytes = pictures.emplace_back(std::istreambuf_iterator<char>(in),
                                                                  std::istreambuf_iterator<char>());
        if (bytes.size() < 128)
            continue;
        const std::string name = "pcx_" + entry.path().stem().string();
        const std::string path = entry.path().string();
        const bool planar24 = bytes[65] == 3;
        for (const int depth : {8, 32}) {
            if (planar24 && depth == 8)
                continue;
            const std::string operation = name + "_" + std::to_string(depth);
            benchmark::RegisterBenchmark((operation + "/allegro4").c_str(),
                                         [&bytes, depth](benchmark::State &state) { decode(state, bytes, depth); });
            benchmark::RegisterBenchmark((operation + "/allegro4-file").c_str(),
                                         [path, depth](benchmark::State &state) { decode_file(state, path, depth); });
        }
    }
}

const bool registered = [] {
    bench::add_scale_cases("allegro4", scale);
    bench::add("copy_region", "allegro4", copy_region);
    bench::add("paste_8to32", "allegro4", paste_8to32);
    for (const extent target : bench::present_sizes)
        benchmark::RegisterBenchmark((bench::present_name(target) + "/allegro4").c_str(),
                                     [target](benchmark::State &state) { present(state, target); });
    add_pictures();
    return true;
}();

} // namespace
