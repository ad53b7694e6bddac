// What the codec round-trip fuzz target does with one input, shared with the
// regression test that replays its corpus and past findings.
//
// The input makes a picture: its size, its pixel format, its row stride, how
// many colours it has and which, and its pixels. The picture is encoded in
// every layout and decoded back in every format:
//   - a layout that holds the picture's colours takes it, and one that does
//     not refuses it with PM_PCX_TOO_MANY_COLOURS before any byte;
//   - what a layout took decodes back to the same colours at every pixel, as
//     RGB8, as RGBA8 with alpha 255 and as INDEX8 through its palette (a
//     24-bit file is refused as INDEX8 with result 3);
//   - decoding writes nothing past a row's pixels into the stride's padding;
//   - a DCX file of the picture twice, in a layout the input picks, gives it
//     back as its second page and has no third;
//   - a stride too small is refused with PM_PCX_BAD_ARGUMENT and no byte.
// run() returns "" when every check held, else what went wrong first.
//
// The input's bytes, front to back: the DCX file's layout (0..8), the width
// less one and the height less one, the format (0 INDEX8, 1 RGB8, 2 RGBA8),
// the stride's padding (0: packed rows), the most colours (0: 2, 1: 4, 2: 16,
// 3: 256), the colours less one, three bytes per colour, for RGB8 and RGBA8
// whether the pixels are true colour instead (an odd byte), then the pixels,
// repeated to fill the picture.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "fuzz/choices.h"

namespace codec_fuzz {

constexpr int32_t layouts[] = {pcx_layout_auto,     pcx_layout_mono,   pcx_layout_cga4,
                               pcx_layout_packed16, pcx_layout_vga256, pcx_layout_planes4,
                               pcx_layout_planes8,  pcx_layout_ega16,  pcx_layout_rgb24};
constexpr int32_t formats[] = {PM_PIXELS_INDEX8, PM_PIXELS_RGB8, PM_PIXELS_RGBA8};
constexpr uint32_t any_number = UINT32_MAX;

inline uint32_t bytes_per_pixel(int32_t format)
{
    return format == PM_PIXELS_INDEX8 ? 1 : format == PM_PIXELS_RGB8 ? 3 : 4;
}

// How many colours a layout holds; automatic takes an indexed picture as
// 256 colours and any other as 24-bit colour.
inline uint32_t capacity(int32_t layout, int32_t format)
{
    switch (layout) {
    case pcx_layout_auto:
        return format == PM_PIXELS_INDEX8 ? 256 : any_number;
    case pcx_layout_mono:
        return 2;
    case pcx_layout_cga4:
    case pcx_layout_planes4:
        return 4;
    case pcx_layout_planes8:
        return 8;
    case pcx_layout_packed16:
    case pcx_layout_ega16:
        return 16;
    case pcx_layout_vga256:
        return 256;
    default:
        return any_number;
    }
}

// A picture made from the input, in memory of its own, with every pixel's
// colour (0x00RRGGBB) beside it.
struct made_picture {
    pm_picture picture{};
    std::vector<uint8_t> memory;
    std::vector<uint32_t> colours;
    size_t distinct_colours = 0;
};

inline uint64_t row_bytes(const pm_picture &picture)
{
    return picture.stride != 0 ? picture.stride : uint64_t{bytes_per_pixel(picture.format)} * uint64_t(picture.width);
}

inline made_picture make_picture(fuzz::choices &in)
{
    made_picture made;
    pm_picture &picture = made.picture;
    picture.width = in.ConsumeIntegralInRange<int32_t>(1, 96);
    picture.height = in.ConsumeIntegralInRange<int32_t>(1, 48);
    picture.format = in.PickValueInArray(formats);
    const uint32_t pixel_bytes = bytes_per_pixel(picture.format);
    const uint8_t padding = in.ConsumeIntegralInRange<uint8_t>(0, 8); // 0: packed rows
    picture.stride = padding == 0 ? 0 : uint64_t{pixel_bytes} * uint64_t(picture.width) + padding - 1;
    // Few colours as often as many, so that every layout is tried with
    // pictures it holds and pictures it does not.
    const uint32_t most[] = {2, 4, 16, 256};
    const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(1, in.PickValueInArray(most));
    std::vector<uint32_t> palette(count);
    for (uint32_t &colour : palette)
        colour = in.ConsumeIntegralInRange<uint32_t>(0, 0xFFFFFF);
    if (picture.format == PM_PIXELS_INDEX8) {
        picture.colours = static_cast<int32_t>(count);
        for (uint32_t i = 0; i < count; ++i)
            for (int c = 0; c < 3; ++c)
                picture.palette[3 * i + static_cast<uint32_t>(c)] = static_cast<uint8_t>(palette[i] >> (16 - 8 * c));
    }
    const bool true_colour = picture.format != PM_PIXELS_INDEX8 && in.ConsumeBool(); // not from the palette
    const std::vector<uint8_t> source = in.ConsumeBytes<uint8_t>(in.remaining_bytes());
    const auto next = [&source](size_t i) { return source.empty() ? uint8_t{0} : source[i % source.size()]; };

    made.memory.assign(static_cast<size_t>(row_bytes(picture)) * static_cast<size_t>(picture.height), 0x5A);
    std::set<uint32_t> colours;
    size_t taken = 0;
    for (int32_t y = 0; y < picture.height; ++y) {
        uint8_t *row = made.memory.data() + static_cast<size_t>(row_bytes(picture)) * static_cast<size_t>(y);
        for (int32_t x = 0; x < picture.width; ++x) {
            uint8_t *pixel = row + static_cast<size_t>(pixel_bytes) * static_cast<size_t>(x);
            uint32_t colour = 0;
            if (true_colour) {
                for (int c = 0; c < 3; ++c)
                    colour = colour << 8 | next(taken++);
            } else {
                const uint8_t index = static_cast<uint8_t>(next(taken++) % count);
                colour = palette[index];
                if (picture.format == PM_PIXELS_INDEX8)
                    pixel[0] = index;
            }
            if (picture.format != PM_PIXELS_INDEX8) {
                pixel[0] = static_cast<uint8_t>(colour >> 16);
                pixel[1] = static_cast<uint8_t>(colour >> 8);
                pixel[2] = static_cast<uint8_t>(colour);
                if (picture.format == PM_PIXELS_RGBA8)
                    pixel[3] = next(taken++); // ignored by the encoder
            }
            made.colours.push_back(colour);
            colours.insert(colour);
        }
    }
    picture.pixels = made.memory.data();
    made.distinct_colours = colours.size();
    return made;
}

inline int32_t append_bytes(void *context, const void *bytes, uint32_t size)
{
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    out->insert(out->end(), static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + size);
    return 0;
}

// Decodes `file` (page `page`) in `format` with the original's stride, and
// checks its size, its colours and the stride's padding; "" when all hold.
inline std::string check_decoding(const std::vector<uint8_t> &file, int32_t page, int32_t format,
                                  const made_picture &made, bool true_colour_file)
{
    pm_picture decoded{};
    decoded.format = format;
    const uint32_t pixel_bytes = bytes_per_pixel(format);
    const uint64_t packed = uint64_t{pixel_bytes} * uint64_t(made.picture.width);
    decoded.stride = made.picture.stride == 0 ? 0 : packed + made.picture.stride % 8; // padded as the original
    const uint64_t row = decoded.stride != 0 ? decoded.stride : packed;
    std::vector<uint8_t> memory(static_cast<size_t>(row) * static_cast<size_t>(made.picture.height), 0xA5);
    decoded.pixels = memory.data();
    const int32_t result = pm_pcx_decode(file.data(), file.size(), pcx_all_layouts, page, &decoded);
    const std::string as = " decoded as format " + std::to_string(format);
    if (format == PM_PIXELS_INDEX8 && true_colour_file)
        return result == PM_PCX_UNSUPPORTED ? "" : "a 24-bit file" + as + " gives result " + std::to_string(result);
    if (result != PM_PCX_OK)
        return "result " + std::to_string(result) + as;
    if (decoded.width != made.picture.width || decoded.height != made.picture.height)
        return "size " + std::to_string(decoded.width) + " x " + std::to_string(decoded.height) + as;
    if (format == PM_PIXELS_INDEX8 && (decoded.colours < 1 || decoded.colours > 256))
        return std::to_string(decoded.colours) + " colours" + as;
    for (int32_t y = 0; y < decoded.height; ++y) {
        const uint8_t *line = memory.data() + static_cast<size_t>(row) * static_cast<size_t>(y);
        for (int32_t x = 0; x < decoded.width; ++x) {
            const uint8_t *pixel = line + static_cast<size_t>(pixel_bytes) * static_cast<size_t>(x);
            uint32_t colour = 0;
            bool valid = true;
            if (format == PM_PIXELS_INDEX8) {
                valid = pixel[0] < decoded.colours;
                const uint8_t *entry = decoded.palette + 3 * pixel[0];
                colour = uint32_t{entry[0]} << 16 | uint32_t{entry[1]} << 8 | entry[2];
            } else {
                colour = uint32_t{pixel[0]} << 16 | uint32_t{pixel[1]} << 8 | pixel[2];
                valid = format == PM_PIXELS_RGB8 || pixel[3] == 255;
            }
            const uint32_t want = made.colours[static_cast<size_t>(y) * static_cast<size_t>(decoded.width) +
                                               static_cast<size_t>(x)];
            if (!valid || colour != want) {
                char text[120];
                std::snprintf(text, sizeof text, "pixel (%d, %d) is %06X%s, was %06X", x, y, colour,
                              valid ? "" : " (index past the colours or alpha not 255)", want);
                return text + as;
            }
        }
        for (uint64_t i = packed; i < row; ++i)
            if (line[i] != 0xA5)
                return "row " + std::to_string(y) + "'s padding written" + as;
    }
    return "";
}

inline std::string run(const uint8_t *data, size_t size)
{
    fuzz::choices in(data, size);
    const int32_t dcx_layout = in.PickValueInArray(layouts);
    const made_picture made = make_picture(in);
    const pm_picture &picture = made.picture;
    const std::string what = std::to_string(picture.width) + " x " + std::to_string(picture.height) + " format " +
                             std::to_string(picture.format) + " stride " + std::to_string(picture.stride) + ", " +
                             std::to_string(made.distinct_colours) + " colours: ";
    for (const int32_t layout : layouts) {
        const std::string in_layout = what + "layout " + std::to_string(layout) + ": ";
        std::vector<uint8_t> file;
        const int32_t result = pm_pcx_encode(&picture, layout, append_bytes, &file);
        const uint32_t holds = capacity(layout, picture.format);
        // An indexed picture whose entries do not fit is held by its distinct
        // colours, as any other.
        const bool fits = made.distinct_colours <= holds;
        if (result == PM_PCX_TOO_MANY_COLOURS) {
            if (fits)
                return in_layout + "refused a picture it holds";
            if (!file.empty())
                return in_layout + "refused after writing " + std::to_string(file.size()) + " bytes";
            continue;
        }
        if (result != PM_PCX_OK)
            return in_layout + "encoding gives result " + std::to_string(result);
        if (made.distinct_colours > holds)
            return in_layout + "took more colours than it holds";
        const bool true_colour_file = layout == pcx_layout_rgb24 || holds == any_number;
        for (const int32_t format : formats)
            if (const std::string fault = check_decoding(file, -1, format, made, true_colour_file); !fault.empty())
                return in_layout + fault;
    }

    const pm_picture pages[2] = {picture, picture};
    std::vector<uint8_t> dcx;
    const int32_t result = pm_dcx_encode(pages, 2, dcx_layout, append_bytes, &dcx);
    const std::string in_dcx = what + "DCX file in layout " + std::to_string(dcx_layout) + ": ";
    const uint32_t holds = capacity(dcx_layout, picture.format);
    if (result == PM_PCX_OK) {
        if (const std::string fault = check_decoding(dcx, 1, PM_PIXELS_RGB8, made, false); !fault.empty())
            return in_dcx + "page 1: " + fault;
        pm_picture third{};
        third.format = PM_PIXELS_RGB8;
        if (const int32_t missing = pm_pcx_decode(dcx.data(), dcx.size(), pcx_all_layouts, 2, &third);
            missing != PM_PCX_NO_PAGE)
            return in_dcx + "page 2 gives result " + std::to_string(missing);
    } else if (result != PM_PCX_TOO_MANY_COLOURS || made.distinct_colours <= holds) {
        return in_dcx + "result " + std::to_string(result);
    }

    // A stride shorter than a row's pixels is refused before any byte.
    const uint64_t packed = uint64_t{bytes_per_pixel(picture.format)} * uint64_t(picture.width);
    if (packed > 1) {
        pm_picture narrow = picture;
        narrow.stride = packed - 1;
        std::vector<uint8_t> file;
        const int32_t refused = pm_pcx_encode(&narrow, pcx_layout_auto, append_bytes, &file);
        if (refused != PM_PCX_BAD_ARGUMENT || !file.empty())
            return what + "a stride of " + std::to_string(narrow.stride) + " gives result " + std::to_string(refused) +
                   " and " + std::to_string(file.size()) + " bytes";
    }
    return "";
}

} // namespace codec_fuzz
