// Writing true-colour pictures for the tools: PNG (through libpng) and PPM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tools {

// A true-colour picture: width x height pixels 0x00RRGGBB, top row first.
struct rgb_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// A true-colour picture held elsewhere as packed bytes R, G, B: row y
// (counted from the top) starts at bytes + y * stride. The writers read it
// where it lies, so that a large picture is never copied.
struct rgb_rows {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t *bytes = nullptr;
    size_t stride = 0;
};

enum class image_format { png, ppm };

// The formats the tools write, as a name gives them.
enum class named_format { none, pcx, png, ppm };
// By a word such as "png" or "PCX".
named_format format_of_word(const std::string &word);
// By a file name's extension (".png", any case); none without one.
named_format format_of_extension(const std::string &path);

// Writes the picture as PNG (8-bit RGB), replacing the file through the
// library's safe replacement (pm_file_replace_begin): on failure whatever the
// name held is left as it was, and false is returned with the reason in *error.
bool write_png(const std::string &path, const rgb_image &image, std::string *error);
// Writes the picture as binary PPM (P6, maxval 255), in the same way.
bool write_ppm(const std::string &path, const rgb_image &image, std::string *error);
// The same, from packed RGB rows.
bool write_png(const std::string &path, const rgb_rows &image, std::string *error);
bool write_ppm(const std::string &path, const rgb_rows &image, std::string *error);
// Writes by the file name's extension: ".png" or ".ppm" (case-insensitive).
bool write_image(const std::string &path, const rgb_image &image, std::string *error);
// Writes the picture in the given format to an open stream (such as standard
// output) and flushes it; false, saying why, when a write fails.
bool write_image(std::FILE *stream, image_format format, const rgb_image &image, std::string *error);
bool write_image(std::FILE *stream, image_format format, const rgb_rows &image, std::string *error);
// Reads a PNG, or a binary PPM, PGM or PAM, back in true colours (tests and
// comparisons); false on failure.
bool read_image(const std::string &path, rgb_image *image, std::string *error);

} // namespace tools
