// pixmora-convert's output by format: PCX saved from the buffer or encoded
// from a decoded picture by the library, to a file or through a callback
// straight to standard output; PNG and PPM written by the tools' writers in
// the colours the buffer shows, or from the decoded picture where it lies.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/common/active_pixels.h"
#include "tools/common/image_write.h"
#include "tools/convert/convert.h"

namespace convert {
namespace {

// The top-left width x height pixels of the active buffer, top row first.
tools::rgb_image capture_picture(int32_t width, int32_t height)
{
    tools::rgb_image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y)
        tools::read_active_row(y, width, image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
    return image;
}

// The library's write callback onto a stream; the stream's error stays for
// the caller's message.
int32_t write_to_stream(void *context, const void *bytes, uint32_t size)
{
    return std::fwrite(bytes, 1, size, static_cast<std::FILE *>(context)) == size ? 0 : 1;
}

// Says why a PCX output could not be written; the exit status.
int say_pcx_failure(const std::string &output, int32_t result, int reason)
{
    const std::string target = output == "-" ? "to standard output" : output;
    std::fprintf(stderr, "pixmora-convert: cannot write %s: result %d: %s%s%s%s\n", target.c_str(), result,
                 pm_pcx_result_text(result), result == PM_PCX_TOO_MANY_COLOURS ? " (choose a layout of more colours)" : "",
                 reason != 0 && result != PM_PCX_TOO_MANY_COLOURS ? ": " : "",
                 reason != 0 && result != PM_PCX_TOO_MANY_COLOURS ? std::strerror(reason) : "");
    return exit_no_output;
}

// Saves the active buffer's top-left width x height pixels with the library,
// in the chosen layout: a file through the library's safe replacement, so
// that a failed save or a picture the layout cannot hold leaves what the file
// held; standard output straight through the callback.
int write_pcx(const std::string &output, int32_t layout, int32_t width, int32_t height)
{
    errno = 0;
    int32_t result = PM_PCX_OK;
    if (output == "-") {
        result = pm_save_pcx_to(write_to_stream, stdout, layout, 0, width - 1, 0, height - 1);
        if (result == PM_PCX_OK && std::fflush(stdout) != 0)
            result = PM_PCX_WRITE_FAILED;
    } else {
        result = pm_save_pcx_file(output.c_str(), layout, 0, width - 1, 0, height - 1);
    }
    return result == PM_PCX_OK ? exit_ok : say_pcx_failure(output, result, errno);
}

int32_t write_to_file(void *context, const void *bytes, uint32_t size)
{
    return pm_file_replace_write(static_cast<pm_file_writer *>(context), bytes, size);
}

// Encodes a decoded picture in the chosen layout, as write_pcx saves a
// buffer: a file through the safe replacement, standard output straight.
// The default layout is the one a 32-bit buffer is saved in.
int encode_pcx(const std::string &output, int32_t layout, const rgb_picture &decoded)
{
    pm_picture picture{};
    picture.width = decoded.width;
    picture.height = decoded.height;
    picture.format = PM_PIXELS_RGB8;
    picture.pixels = const_cast<uint8_t *>(decoded.rgb.data()); // only read by the encoder
    if (layout == pcx_layout_auto)
        layout = pcx_layout_rgb24;
    errno = 0;
    int32_t result = PM_PCX_OK;
    if (output == "-") {
        result = pm_pcx_encode(&picture, layout, write_to_stream, stdout);
        if (result == PM_PCX_OK && std::fflush(stdout) != 0)
            result = PM_PCX_WRITE_FAILED;
        return result == PM_PCX_OK ? exit_ok : say_pcx_failure(output, result, errno);
    }
    pm_file_writer *file = pm_file_replace_begin(output.c_str(), &result);
    if (file == nullptr)
        return say_pcx_failure(output, result, errno);
    result = pm_pcx_encode(&picture, layout, write_to_file, file);
    if (result != PM_PCX_OK) {
        const int reason = errno;
        pm_file_replace_cancel(file);
        return say_pcx_failure(output, result, reason);
    }
    errno = 0;
    result = pm_file_replace_finish(file);
    return result == PM_PCX_OK ? exit_ok : say_pcx_failure(output, result, errno);
}

// Writes PNG or PPM from the rows given; an exit status.
template <typename Picture> int write_true_colour(const options &opts, const Picture &picture)
{
    const tools::image_format format = opts.to == tools::named_format::png ? tools::image_format::png
                                                                     : tools::image_format::ppm;
    std::string error;
    bool written = false;
    if (opts.output == "-")
        written = tools::write_image(stdout, format, picture, &error);
    else if (format == tools::image_format::png)
        written = tools::write_png(opts.output, picture, &error);
    else
        written = tools::write_ppm(opts.output, picture, &error);
    if (!written) {
        std::fprintf(stderr, "pixmora-convert: %s\n", error.c_str());
        return exit_no_output;
    }
    return exit_ok;
}

} // namespace

int write_output(const options &opts, int32_t width, int32_t height)
{
    if (opts.to == tools::named_format::pcx)
        return write_pcx(opts.output, opts.layout, width, height);
    return write_true_colour(opts, capture_picture(width, height));
}

int write_output(const options &opts, const rgb_picture &picture)
{
    if (opts.to == tools::named_format::pcx)
        return encode_pcx(opts.output, opts.layout, picture);
    tools::rgb_rows rows;
    rows.width = picture.width;
    rows.height = picture.height;
    rows.bytes = picture.rgb.data();
    rows.stride = 3 * static_cast<size_t>(picture.width);
    return write_true_colour(opts, rows);
}

} // namespace convert
