#include "tools/common/image_write.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <pixmora/pixmora.h>
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

// One row of pixels as packed bytes R, G, B.
void pack_row(const rgb_image &image, int32_t y, uint8_t *bytes)
{
    const uint32_t *pixels = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width);
    for (int32_t x = 0; x < image.width; ++x) {
        bytes[3 * x] = static_cast<uint8_t>(pixels[x] >> 16);
        bytes[3 * x + 1] = static_cast<uint8_t>(pixels[x] >> 8);
        bytes[3 * x + 2] = static_cast<uint8_t>(pixels[x]);
    }
}

// The rows an encoder writes, as packed bytes R, G, B, top row first: an
// rgb_image's pixels packed one row at a time, or rgb_rows read where they lie.
class row_source {
public:
    explicit row_source(const rgb_image &image) : image_(&image), width(image.width), height(image.height) {}
    explicit row_source(const rgb_rows &rows) : rows_(&rows), width(rows.width), height(rows.height) {}

    bool valid() const
    {
        if (width <= 0 || height <= 0)
            return false;
        if (image_ != nullptr)
            return static_cast<int64_t>(width) * height == static_cast<int64_t>(image_->pixels.size());
        return rows_->bytes != nullptr && rows_->stride >= 3 * static_cast<size_t>(width);
    }
    // Row y; valid until the next call.
    const uint8_t *row(int32_t y)
    {
        if (rows_ != nullptr)
            return rows_->bytes + static_cast<size_t>(y) * rows_->stride;
        packed_.resize(3 * static_cast<size_t>(width));
        pack_row(*image_, y, packed_.data());
        return packed_.data();
    }

private:
    const rgb_image *image_ = nullptr;
    const rgb_rows *rows_ = nullptr;
    std::vector<uint8_t> packed_;

public:
    const int32_t width;
    const int32_t height;
};

// Where encoded bytes go, gathered into large writes: a function of the
// library's write-callback shape (0 when every byte was taken) and its
// context. The first failure is kept, with the system's reason.
class byte_output {
public:
    using sink = int32_t (*)(void *context, const void *bytes, uint32_t size);
    byte_output(sink write, void *context) : write_(write), context_(context) { gathered_.reserve(capacity); }

    bool put(const uint8_t *bytes, size_t size)
    {
        while (ok_ && size > 0) {
            const size_t room = capacity - gathered_.size();
            const size_t part = size < room ? size : room;
            gathered_.insert(gathered_.end(), bytes, bytes + part);
            bytes += part;
            size -= part;
            if (gathered_.size() == capacity)
                flush();
        }
        return ok_;
    }
    bool flush()
    {
        if (ok_ && !gathered_.empty()) {
            errno = 0;
            ok_ = write_(context_, gathered_.data(), static_cast<uint32_t>(gathered_.size())) == 0;
            reason_ = ok_ ? 0 : errno;
        }
        gathered_.clear();
        return ok_;
    }
    // The system's reason for the failed write; 0 when it gave none.
    int reason() const { return reason_; }

private:
    static constexpr size_t capacity = 64 * 1024;
    sink write_;
    void *context_;
    std::vector<uint8_t> gathered_;
    bool ok_ = true;
    int reason_ = 0;
};

void png_put(png_structp png, png_bytep data, size_t length)
{
    if (!static_cast<byte_output *>(png_get_io_ptr(png))->put(data, length))
        png_error(png, "write failed");
}

void png_flush_nothing(png_structp) {}

void png_fail(png_structp png, png_const_charp message)
{
    *static_cast<std::string *>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void png_warn(png_structp, png_const_charp) {}

// Encodes the picture as an 8-bit RGB PNG, row by row; false, saying why,
// when libpng fails (a failed write included).
bool encode_png(row_source &image, byte_output &out, std::string *why)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, png_fail, png_warn);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        *why = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, png_put, png_flush_nothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < image.height; ++y)
        png_write_row(png, image.row(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out.flush();
}

// Encodes the picture as a binary PPM (P6, maxval 255).
bool encode_ppm(row_source &image, byte_output &out)
{
    const std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    bool ok = out.put(reinterpret_cast<const uint8_t *>(header.data()), header.size());
    for (int32_t y = 0; ok && y < image.height; ++y)
        ok = out.put(image.row(y), 3 * static_cast<size_t>(image.width));
    return ok && out.flush();
}

bool encode(image_format format, row_source &image, byte_output &out, std::string *why)
{
    return format == image_format::png ? encode_png(image, out, why) : encode_ppm(image, out);
}

// The reason a write failed, as the system words it.
std::string reason_text(const byte_output &out, const std::string &why)
{
    if (out.reason() != 0)
        return std::strerror(out.reason());
    return why.empty() ? "write failed" : why;
}

int32_t stream_write(void *context, const void *bytes, uint32_t size)
{
    auto *stream = static_cast<std::FILE *>(context);
    return std::fwrite(bytes, 1, size, stream) == size ? 0 : 1;
}

int32_t file_write(void *context, const void *bytes, uint32_t size)
{
    return pm_file_replace_write(static_cast<pm_file_writer *>(context), bytes, size);
}

// Writes the picture to the file path through the library's safe
// replacement, so that a write that fails leaves whatever the name held.
bool write_to_path(const std::string &path, image_format format, row_source image, std::string *error)
{
    if (!image.valid()) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    int32_t result = PM_PCX_OK;
    pm_file_writer *file = pm_file_replace_begin(path.c_str(), &result);
    if (file == nullptr) {
        set_error(error, "cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    byte_output out(file_write, file);
    std::string why;
    if (!encode(format, image, out, &why)) {
        // The encoder may have stopped without a failed write: giving up
        // keeps the old file either way.
        const int reason = errno;
        pm_file_replace_cancel(file);
        errno = reason;
        set_error(error, "cannot write " + path + ": " + reason_text(out, why));
        return false;
    }
    errno = 0;
    if (pm_file_replace_finish(file) != PM_PCX_OK) {
        const int reason = errno;
        set_error(error, "cannot write " + path + ": " + (reason != 0 ? std::strerror(reason) : "write failed"));
        return false;
    }
    return true;
}

// Writes the picture in the given format to an open stream and flushes it.
bool write_to_stream(std::FILE *stream, image_format format, row_source image, std::string *error)
{
    if (!image.valid()) {
        set_error(error, "picture has no pixels or a wrong pixel count");
        return false;
    }
    byte_output out(stream_write, stream);
    std::string why;
    bool written = encode(format, image, out, &why);
    errno = 0;
    if (written && (std::fflush(stream) != 0 || std::ferror(stream) != 0)) {
        written = false;
        why = errno != 0 ? std::strerror(errno) : "write failed";
    }
    if (!written) {
        set_error(error, "cannot write the picture: " + reason_text(out, why));
        return false;
    }
    return true;
}

} // namespace

bool write_png(const std::string &path, const rgb_image &image, std::string *error)
{
    return write_to_path(path, image_format::png, row_source(image), error);
}

bool write_ppm(const std::string &path, const rgb_image &image, std::string *error)
{
    return write_to_path(path, image_format::ppm, row_source(image), error);
}

bool write_png(const std::string &path, const rgb_rows &image, std::string *error)
{
    return write_to_path(path, image_format::png, row_source(image), error);
}

bool write_ppm(const std::string &path, const rgb_rows &image, std::string *error)
{
    return write_to_path(path, image_format::ppm, row_source(image), error);
}

named_format format_of_word(const std::string &word)
{
    std::string lower = word;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "pcx" ? named_format::pcx
         : lower == "png" ? named_format::png
         : lower == "ppm" ? named_format::ppm
                          : named_format::none;
}

named_format format_of_extension(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return named_format::none;
    return format_of_word(path.substr(dot + 1));
}

bool write_image(const std::string &path, const rgb_image &image, std::string *error)
{
    const named_format format = format_of_extension(path);
    if (format == named_format::png)
        return write_png(path, image, error);
    if (format == named_format::ppm)
        return write_ppm(path, image, error);
    set_error(error, path + ": the name must end in .png or .ppm");
    return false;
}

bool write_image(std::FILE *stream, image_format format, const rgb_image &image, std::string *error)
{
    return write_to_stream(stream, format, row_source(image), error);
}

bool write_image(std::FILE *stream, image_format format, const rgb_rows &image, std::string *error)
{
    return write_to_stream(stream, format, row_source(image), error);
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
