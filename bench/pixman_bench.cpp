// pixman's side: 8-bit alpha-only (PIXMAN_a8) images for scaling and
// rectangle copies, which move bytes as our indices do, and a colour-indexed
// image (PIXMAN_c8 with the benchmark palette) composited onto x8r8g8b8 for
// presentation. Scaling is a transform with the NEAREST filter; every
// composite is OP_SRC.
#include <pixman.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/pcx_data.h"

namespace {

using bench::extent;

struct image_deleter {
    void operator()(pixman_image_t *image) const { pixman_image_unref(image); }
};
using image_ptr = std::unique_ptr<pixman_image_t, image_deleter>;

// Rows of a pixman image are whole 32-bit words.
int stride_of(int32_t width, int32_t bytes_per_pixel)
{
    return (width * bytes_per_pixel + 3) / 4 * 4;
}

// An image of the format holding the benchmark picture's indices (8-bit
// formats) or nothing in particular (others).
image_ptr make_image(pixman_format_code_t format, extent size)
{
    const int32_t bytes = PIXMAN_FORMAT_BPP(format) / 8;
    image_ptr image(pixman_image_create_bits(format, size.width, size.height, nullptr, stride_of(size.width, bytes)));
    if (image && bytes == 1) {
        const std::vector<uint8_t> pixels = bench::picture(size);
        auto *row = reinterpret_cast<uint8_t *>(pixman_image_get_data(image.get()));
        const int stride = pixman_image_get_stride(image.get());
        for (int32_t y = 0; y < size.height; ++y, row += stride)
            std::memcpy(row, pixels.data() + static_cast<size_t>(y) * size.width, static_cast<size_t>(size.width));
    }
    return image;
}

// Destination pixel (x, y) samples the source at (x * from / to, ...).
void set_scale(pixman_image_t *source, extent from, extent to)
{
    if (from.width == to.width && from.height == to.height)
        return; // a plain copy
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(static_cast<double>(from.width) / to.width),
                                pixman_double_to_fixed(static_cast<double>(from.height) / to.height));
    pixman_image_set_transform(source, &transform);
    pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
}

void scale(benchmark::State &state, extent from, extent to)
{
    image_ptr source = make_image(PIXMAN_a8, from);
    image_ptr destination = make_image(PIXMAN_a8, to);
    if (!source || !destination) {
        state.SkipWithError("pixman image creation failed");
        return;
    }
    set_scale(source.get(), from, to);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, destination.get(), 0, 0, 0, 0, 0, 0,
                                 to.width, to.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{to.width} * to.height);
}

void copy_region(benchmark::State &state)
{
    const extent r = bench::copy_rect;
    image_ptr panorama = make_image(PIXMAN_a8, bench::copy_source);
    image_ptr view = make_image(PIXMAN_a8, r);
    if (!panorama || !view) {
        state.SkipWithError("pixman image creation failed");
        return;
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, panorama.get(), nullptr, view.get(), bench::copy_src_x, 0, 0, 0, 0,
                                 0, r.width, r.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{r.width} * r.height);
}

void present(benchmark::State &state, extent target)
{
    const extent view_size = bench::present_source;
    image_ptr view = make_image(PIXMAN_c8, view_size);
    image_ptr window = make_image(PIXMAN_x8r8g8b8, target);
    if (!view || !window) {
        state.SkipWithError("pixman image creation failed");
        return;
    }
    // The palette; the reverse map (colour to index) is only for writing c8.
    auto palette = std::make_unique<pixman_indexed_t>();
    palette->color = 1;
    for (int32_t i = 0; i < 256; ++i) {
        uint8_t r, g, b;
        bench::palette_colour(i, r, g, b);
        palette->rgba[i] = 0xFF000000u | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
    }
    pixman_image_set_indexed(view.get(), palette.get());
    set_scale(view.get(), view_size, target);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, view.get(), nullptr, window.get(), 0, 0, 0, 0, 0, 0, target.width,
                                 target.height);
        benchmark::ClobberMemory();
    }
    bench::set_pixels(state, int64_t{target.width} * target.height);
}

const bool registered = [] {
    bench::add_scale_cases("pixman", scale);
    bench::add("copy_region", "pixman", copy_region);
    for (const extent target : bench::present_sizes)
        benchmark::RegisterBenchmark((bench::present_name(target) + "/pixman").c_str(),
                                     [target](benchmark::State &state) { present(state, target); });
    return true;
}();

} // namespace
