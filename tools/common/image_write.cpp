#include "tools/common/image_write.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tools {
namespace {

// Pictures larger than this are refused on reading, so that a damaged
// header cannot make us allocate without bound.
constexpr int64_t max_pixels = int64_t{1} << 28;

struct file_closer {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

void set_error(std::string *error, const std::string &message)
{
    if (error != nullptr)
        *error = message;
}

bool valid_geometry(const rgb_image &image)
{
    return image.width > 0 && image.height > 0 &&
           static_cast<int64_t>(image.width) * image.height == static_cast<int64_t>(image.pixels.size());
}

// The pixels as packed bytes R, G, B, top row first.
std::vector<uint8_t> packed_rgb(const rgb_image &image)
{
    std::vector<uint8_t> bytes(image.pixels.size() * 3);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const uint32_t pixel = image.pixels[i];
        bytes[3 * i] = static_cast<uint8_t>(pixel >> 16);
        bytes[3 * i + 1] = static_cast<uint8_t>(pixel >> 8);
        bytes[3 * i + 2] = static_cast<uint8_t>(pixel);
    }
    return bytes;
}

void unpack_rgb(const uint8_t *bytes, rgb_image *image)
{
    for (size_t i = 0; i < image->pixels.size(); ++i)
        image->pixels[i] = static_cast<uint32_t>(bytes[3 * i]) << 16 | static_cast<uint32_t>(bytes[3 * i + 1]) << 8 |
                           bytes[3 * i + 2];
}

std::string lower_extension(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// Skips white space and '#' comments between the fields of a PPM header.
void skip_ppm_space(std::FILE *file)
{
    int c = std::fgetc(file);
    while (c != EOF) {
        if (c == '#') {
            while (c != EOF && c != '\n')
                c = std::fgetc(file);
        } else if (!std::isspace(c)) {
            std::ungetc(c, file);
            return;
        }
        c = std::fgetc(file);
    }
}

bool read_ppm_number(std::FILE *file, int64_t *value)
{
    skip_ppm_space(file);
    int64_t number = 0;
    int digits = 0;
    int c = std::fgetc(file);
    while (c != EOF && std::isdigit(c) && digits < 10) {
        number = number * 10 + (c - '0');
        ++digits;
        c = std::fgetc(file);
    }
    if (c != EOF)
        std::ungetc(c, file);
    *value = number;
    return digits > 0 && digits < 10;
}

// Scales samples of maxval (1..65535, two bytes each above 255) to 0..255.
bool read_ppm_samples(std::FILE *file, int64_t maxval, rgb_image *image)
{
    const size_t samples = image->pixels.size() * 3;
    const size_t sample_bytes = maxval > 255 ? 2 : 1;
    std::vector<uint8_t> raw(samples * sample_bytes);
    if (std::fread(raw.data(), 1, raw.size(), file) != raw.size())
        return false;
    std::vector<uint8_t> bytes(samples);
    for (size_t i = 0; i < samples; ++i) {
        const int64_t value = sample_bytes == 2 ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
        bytes[i] = static_cast<uint8_t>(std::min<int64_t>(255, (value * 255 + maxval / 2) / maxval));
    }
    unpack_rgb(bytes.data(), image);
    return true;
}

bool read_ppm(const std::string &path, rgb_image *image, std::string *error)
{
    file_ptr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        set_error(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    char magic[2] = {};
    int64_t width = 0, height = 0, maxval = 0;
    if (std::fread(magic, 1, 2, file.get()) != 2 || magic[0] != 'P' || magic[1] != '6' ||
        !read_ppm_number(file.get(), &width) || !read_ppm_number(file.get(), &height) ||
        !read_ppm_number(file.get(), &maxval) || width < 1 || height < 1 || maxval < 1 || maxval > 65535 ||
        width * height > max_pixels) {
        set_error(error, path + ": not a binary PPM picture this reader accepts");
        return false;
    }
    std::fgetc(file.get()); // the single white-space byte before the samples
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->pixels.assign(static_cast<size_t>(width * height), 0);
    if (!read_ppm_samples(file.get(), maxval, image)) {
        set_error(error, path + ": the picture data is cut short");
        return false;
    }
    return true;
}

bool read_png(const std::string &path, rgb_image *image, std::string *error)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        set_error(error, path + ": " + png.message);
        return false;
    }
    if (static_cast<int64_t>(png.width) * png.height > max_pixels) {
        png_image_free(&png);
        set_error(error, path + ": picture too large");
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
        set_error(error, path + ": " + png.message);
        png_image_free(&png);
        return false;
    }
    image->width = static_cast<int32_t>(png.width);
    image->height = static_cast<int32_t>(png.height);
    image->pixels.assign(static_cast<size_t>(png.width) * png.height, 0);
    unpack_rgb(bytes.data(), image);
    return true;
}

} // namespace

bool write_png(const std::string &path, const rgb_image &image, std::string *error)
{
    if (!valid_geometry(image)) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    const std::vector<uint8_t> bytes = packed_rgb(image);
    errno = 0;
    if (!png_image_write_to_file(&png, path.c_str(), 0, bytes.data(), 0, nullptr)) {
        // The writer's message may already be the system's reason; when it
        // is not, errno adds it.
        const std::string message = png.message;
        const std::string reason = errno != 0 ? std::strerror(errno) : "";
        const bool says_why = reason.empty() || message.find(reason) != std::string::npos;
        set_error(error, "cannot write " + path + ": " + message + (says_why ? "" : " (" + reason + ")"));
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool write_ppm(const std::string &path, const rgb_image &image, std::string *error)
{
    if (!valid_geometry(image)) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    file_ptr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        set_error(error, "cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    const std::vector<uint8_t> bytes = packed_rgb(image);
    errno = 0;
    const bool written = std::fprintf(file.get(), "P6\n%d %d\n255\n", image.width, image.height) > 0 &&
                         std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        const int reason = errno;
        set_error(error, "cannot write " + path + ": " + (reason != 0 ? std::strerror(reason) : "write failed"));
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool write_image(const std::string &path, const rgb_image &image, std::string *error)
{
    const std::string extension = lower_extension(path);
    if (extension == ".png")
        return write_png(path, image, error);
    if (extension == ".ppm")
        return write_ppm(path, image, error);
    set_error(error, path + ": the name must end in .png or .ppm");
    return false;
}

bool read_image(const std::string &path, rgb_image *image, std::string *error)
{
    file_ptr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        set_error(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    unsigned char signature[8] = {};
    const size_t got = std::fread(signature, 1, sizeof signature, file.get());
    file.reset();
    if (got == sizeof signature && png_sig_cmp(signature, 0, sizeof signature) == 0)
        return read_png(path, image, error);
    return read_ppm(path, image, error);
}

} // namespace tools
