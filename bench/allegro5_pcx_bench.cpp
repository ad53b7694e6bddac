// Allegro 5's side of PCX decoding: al_load_bitmap_f with ".pcx" from a
// memory file into a memory bitmap of its default format (32 bits with
// alpha), without a display. Making and destroying the bitmap is part of its
// load.
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>

#include "bench/pcx_data.h"

namespace {

bool start_allegro()
{
    static const bool started = al_install_system(ALLEGRO_VERSION_INT, nullptr) && al_init_image_addon();
    return started;
}

void decode(benchmark::State &state, const std::string &name)
{
    const std::vector<uint8_t> &bytes = bench::pcx_bytes(name);
    const bench::extent size = bench::pcx_extent(bytes);
    if (bytes.empty() || !start_allegro()) {
        state.SkipWithError("picture or Allegro image add-on unavailable");
        return;
    }
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ANY_WITH_ALPHA);
    // The memory file only reads; it takes a writable pointer for "w" modes.
    void *data = const_cast<uint8_t *>(bytes.data());
    for (auto _ : state) {
        ALLEGRO_FILE *input = al_open_memfile(data, static_cast<int64_t>(bytes.size()), "r");
        ALLEGRO_BITMAP *bitmap = input != nullptr ? al_load_bitmap_f(input, ".pcx") : nullptr;
        if (input != nullptr)
            al_fclose(input);
        if (bitmap == nullptr) {
            state.SkipWithError("al_load_bitmap_f failed");
            break;
        }
        benchmark::DoNotOptimize(bitmap);
        al_destroy_bitmap(bitmap);
    }
    bench::set_pixels(state, int64_t{size.width} * size.height);
}

const bool registered = [] {
    for (const bench::pcx_picture &picture : bench::pcx_pictures())
        for (const std::string &operation : bench::pcx_operations(picture)) {
            const std::string name = picture.name;
            benchmark::RegisterBenchmark((operation + "/allegro5").c_str(),
                                         [name](benchmark::State &state) { decode(state, name); });
        }
    return true;
}();

} // namespace
