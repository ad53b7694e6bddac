// An independent reading of the demo's pictures and of what a frame shows,
// computed straight from the files, for comparison with the library's work.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace demo_test {

// A 256-colour picture: indices top row first, and its trailer palette.
struct picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t version = 0;
    int32_t planes = 0;
    int32_t bits = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> palette; // 768 bytes when a trailer was found
    uint8_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads a one-plane 8-bit picture; width 0 when the file is not one.
inline picture read_picture(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    picture out;
    if (bytes.size() < 128 + 769 || bytes[0] != 0x0A)
        return out;
    auto word = [&](size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
    out.version = bytes[1];
    out.bits = bytes[3];
    out.planes = bytes[65];
    int32_t width = word(8) - word(4) + 1;
    int32_t height = word(10) - word(6) + 1;
    int32_t line = word(66);
    if (out.bits != 8 || out.planes != 1 || width < 1 || height < 1 || line < width)
        return out;
    size_t data_end = bytes.size() - 769;
    if (bytes[data_end] == 0x0C)
        out.palette.assign(bytes.begin() + static_cast<std::ptrdiff_t>(data_end) + 1, bytes.end());
    std::vector<uint8_t> stream; // every decoded byte, scanlines back to back
    for (size_t at = 128; at < data_end && stream.size() < static_cast<size_t>(line) * height;) {
        uint8_t b = bytes[at++];
        if (b >= 0xC0 && at < data_end)
            stream.insert(stream.end(), b & 0x3F, bytes[at++]);
        else
            stream.push_back(b);
    }
    if (stream.size() < static_cast<size_t>(line) * height)
        return out;
    out.width = width;
    out.height = height;
    for (int32_t y = 0; y < height; ++y)
        out.pixels.insert(out.pixels.end(), stream.begin() + static_cast<std::ptrdiff_t>(y) * line,
                          stream.begin() + static_cast<std::ptrdiff_t>(y) * line + width);
    return out;
}

// Column c of the 1600-column panorama made from a 640-column sky.
inline int32_t panorama_source_column(int32_t c)
{
    if (c >= 1280)
        c -= 1280;
    return c < 640 ? c : 1279 - c;
}

// Draws a logo (indices top row first) into a 320-wide view at tenths / 10 of
// its size, centred, bottom row at bottom, index 0 transparent. Scaling picks
// source column floor(k n / m) when shrinking.
inline void draw_logo(std::vector<uint8_t> &view, const picture &logo, int32_t bottom, int32_t tenths)
{
    if (tenths <= 0)
        return;
    if (tenths > 10)
        tenths = 10;
    int32_t w = logo.width * tenths / 10;
    int32_t h = logo.height * tenths / 10;
    int32_t left = (320 - w) / 2;
    for (int32_t j = 0; j < h; ++j) {         // j-th row from the bottom
        int32_t source_row_from_bottom = j * logo.height / h;
        int32_t source_y = logo.height - 1 - source_row_from_bottom;
        for (int32_t k = 0; k < w; ++k) {
            uint8_t index = logo.at(k * logo.width / w, source_y);
            if (index != 0)
                view[static_cast<size_t>(bottom - j) * 320 + left + k] = index;
        }
    }
}

// The view's indices, top row first, once scroll_x has been reached.
inline std::vector<uint8_t> expected_view(const picture &sky, const picture &logo1, const picture &logo2,
                                          int32_t scroll_x)
{
    std::vector<uint8_t> view(320 * 200);
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 320; ++x)
            view[static_cast<size_t>(y) * 320 + x] = sky.at(panorama_source_column(scroll_x + x), y);
    if (scroll_x > 240) {
        draw_logo(view, logo1, 160, (scroll_x - 240) / 10);
        draw_logo(view, logo2, 80, 10);
    } else {
        draw_logo(view, logo2, 80, scroll_x / 10);
    }
    return view;
}

} // namespace demo_test
