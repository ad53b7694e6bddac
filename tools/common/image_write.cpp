#include "tools/common/image_write.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/common/image_read.h"

namespace tools {
namespace {

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

// libpng's description of an 8-bit RGB picture of the image's size.
png_image rgb_png(const rgb_image &image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    return png;
}

} // namespace

bool write_png(const std::string &path, const rgb_image &image, std::string *error)
{
    if (!valid_geometry(image)) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    png_image png = rgb_png(image);
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

bool write_image(std::FILE *stream, image_format format, const rgb_image &image, std::string *error)
{
    if (!valid_geometry(image)) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    const std::vector<uint8_t> bytes = packed_rgb(image);
    errno = 0;
    bool written = false;
    if (format == image_format::png) {
        png_image png = rgb_png(image);
        written = png_image_write_to_stdio(&png, stream, 0, bytes.data(), 0, nullptr) != 0;
    } else {
        written = std::fprintf(stream, "P6\n%d %d\n255\n", image.width, image.height) > 0 &&
                  std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    }
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0)
        written = false;
    if (!written) {
        const int reason = errno;
        set_error(error,
                  std::string("cannot write the picture: ") + (reason != 0 ? std::strerror(reason) : "write failed"));
        return false;
    }
    return true;
}

bool read_image(const std::string &path, rgb_image *image, std::string *error)
{
    file_ptr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        set_error(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0)
        bytes.insert(bytes.end(), block, block + got);
    decoded_image decoded;
    std::string why;
    bool read = false;
    switch (recognise_image(bytes.data(), bytes.size())) {
    case image_kind::png:
        read = decode_png(bytes.data(), bytes.size(), &decoded, &why);
        break;
    case image_kind::netpbm:
        read = decode_netpbm(bytes.data(), bytes.size(), &decoded, &why);
        break;
    default:
        why = "not a PNG, PPM, PGM or PAM picture";
    }
    if (!read) {
        set_error(error, path + ": " + why);
        return false;
    }
    image->width = decoded.width;
    image->height = decoded.height;
    image->pixels.resize(static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height));
    for (size_t i = 0; i < image->pixels.size(); ++i)
        image->pixels[i] = decoded.colour(i);
    return true;
}

} // namespace tools
