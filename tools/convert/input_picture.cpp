// pixmora-convert's PNG and netpbm input: decoded by the tools' readers and
// put into a library buffer row by row, as indices with the picture's
// palette or as true colours.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/convert/convert.h"

namespace convert {
namespace {

// The picture's colours as palette indices: its own, or at most 256 distinct
// colours numbered in the order they first appear. False when it has more.
bool index_colours(const tools::decoded_image &image, std::vector<uint8_t> *indices, std::vector<uint32_t> *palette)
{
    if (image.paletted()) {
        *indices = image.indices;
        *palette = image.palette;
        return true;
    }
    std::unordered_map<uint32_t, uint8_t> numbers;
    indices->resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    palette->clear();
    for (size_t i = 0; i < indices->size(); ++i) {
        const uint32_t colour = image.colour(i);
        auto found = numbers.find(colour);
        if (found == numbers.end()) {
            if (palette->size() == 256)
                return false;
            found = numbers.emplace(colour, static_cast<uint8_t>(palette->size())).first;
            palette->push_back(colour);
        }
        (*indices)[i] = found->second;
    }
    return true;
}

// Puts indices into the active 8-bit buffer and makes the palette the
// library's: its colours from entry 0 on, black after them, so that a saved
// picture's trailer holds exactly these colours at these indices.
void store_indexed(int32_t width, int32_t height, const std::vector<uint8_t> &indices,
                   const std::vector<uint32_t> &palette)
{
    uint8_t rgb[3 * 256] = {};
    for (size_t i = 0; i < palette.size() && i < 256; ++i) {
        rgb[3 * i] = static_cast<uint8_t>(palette[i] >> 16);
        rgb[3 * i + 1] = static_cast<uint8_t>(palette[i] >> 8);
        rgb[3 * i + 2] = static_cast<uint8_t>(palette[i]);
    }
    pm_set_palette_entries(0, 256, rgb);
    for (int32_t y = 0; y < height; ++y)
        pm_write_row(0, y, width, PM_ROW_INDEX8, indices.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
}

// Puts true colours into the active 16, 24 or 32-bit buffer.
void store_colours(const tools::decoded_image &image)
{
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(image.width));
    for (int32_t y = 0; y < image.height; ++y) {
        const size_t first = static_cast<size_t>(y) * static_cast<size_t>(image.width);
        for (size_t x = 0; x < static_cast<size_t>(image.width); ++x) {
            const uint32_t colour = image.colour(first + x);
            rgb[3 * x] = static_cast<uint8_t>(colour >> 16);
            rgb[3 * x + 1] = static_cast<uint8_t>(colour >> 8);
            rgb[3 * x + 2] = static_cast<uint8_t>(colour);
        }
        pm_write_row(0, y, image.width, PM_ROW_RGB24, rgb.data());
    }
}

} // namespace

int put_picture(const input_data &input, tools::image_kind kind, int32_t *depth, tools::headless_session &session,
                int32_t *width, int32_t *height)
{
    tools::decoded_image image;
    std::string why;
    const bool decoded = kind == tools::image_kind::png
                             ? tools::decode_png(input.bytes.data(), input.bytes.size(), &image, &why)
                             : tools::decode_netpbm(input.bytes.data(), input.bytes.size(), &image, &why);
    if (!decoded) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s\n", input.name.c_str(), why.c_str());
        return exit_bad_input;
    }
    if (image.width > max_side || image.height > max_side) {
        std::fprintf(stderr,
                     "pixmora-convert: cannot read %s: the picture is %d x %d pixels; each side must be 1..%d\n",
                     input.name.c_str(), image.width, image.height, max_side);
        return exit_bad_input;
    }
    if (*depth == 0)
        *depth = image.paletted() ? 8 : 32;
    std::vector<uint8_t> indices;
    std::vector<uint32_t> palette;
    if (*depth == 8 && !index_colours(image, &indices, &palette)) {
        std::fprintf(stderr,
                     "pixmora-convert: %s has more than 256 colours; depth 8 keeps colours exactly and does not "
                     "reduce them: use --depth 16, 24 or 32\n",
                     input.name.c_str());
        return exit_bad_input;
    }
    *width = image.width;
    *height = image.height;
    if (!make_buffer(session, image.width, image.height, *depth))
        return exit_no_output;
    if (*depth == 8)
        store_indexed(image.width, image.height, indices, palette);
    else
        store_colours(image);
    return exit_ok;
}

} // namespace convert
