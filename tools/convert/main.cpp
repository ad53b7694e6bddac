// pixmora-convert: loads a PCX picture with the library, on the software
// display, into a buffer of a chosen depth, and writes what the buffer then
// holds as PNG or PPM in true colours.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <pixmora/pixmora.h>
#include "graphics/pcx_format.h"
#include "platform/soft/soft_display.h"
#include "tools/common/active_pixels.h"
#include "tools/common/headless_session.h"
#include "tools/common/image_write.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_bad_input = 1;
constexpr int exit_usage = 2;
constexpr int exit_no_output = 3;

// Larger header windows are refused before any buffer is made.
constexpr int32_t max_side = 32768;

const char usage_text[] =
    "usage: pixmora-convert INPUT.pcx OUTPUT.png|OUTPUT.ppm [--depth 8|16|24|32]\n"
    "\n"
    "Loads INPUT.pcx into a library buffer of the given depth (default 32) as\n"
    "large as the picture's header window, placed at the top-left corner, and\n"
    "writes the buffer's pixels as OUTPUT in true colours, top row first. The\n"
    "output format follows OUTPUT's extension: .png or .ppm.\n"
    "\n"
    "Depth 8 keeps the file's palette indices (no colour reduction) and shows\n"
    "them through the library's palette; depth 16 stores 5-6-5 pixels, which are\n"
    "widened back to 8 bits per channel by repeating their top bits; depths 24\n"
    "and 32 keep 8 bits per channel. A 24-bit picture cannot be loaded at depth 8.\n"
    "\n"
    "Exit status: 0 written; 1 the input cannot be read or the library refuses it;\n"
    "2 bad usage; 3 the buffer or the output cannot be made.\n";

struct options {
    std::string input;
    std::string output;
    int32_t depth = 32;
};

enum class parse_result { run, help, bad };

bool parse_depth(const std::string &text, int32_t *depth)
{
    if (text == "8" || text == "16" || text == "24" || text == "32") {
        *depth = static_cast<int32_t>(std::stoi(text));
        return true;
    }
    return false;
}

bool has_image_extension(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string extension = path.substr(path.size() - 4);
    for (char &c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == ".png" || extension == ".ppm";
}

parse_result parse_arguments(int argc, char **argv, options *parsed, std::string *error)
{
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return parse_result::help;
        if (argument == "--depth" || argument.rfind("--depth=", 0) == 0) {
            const bool joined = argument.size() > 7;
            if (!joined && i + 1 >= argc) {
                *error = "--depth needs a value";
                return parse_result::bad;
            }
            const std::string value = joined ? argument.substr(8) : argv[++i];
            if (!parse_depth(value, &parsed->depth)) {
                *error = "depth must be 8, 16, 24 or 32, not '" + value + "'";
                return parse_result::bad;
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            *error = "unknown option '" + argument + "'";
            return parse_result::bad;
        } else if (positional < 2) {
            (positional++ == 0 ? parsed->input : parsed->output) = argument;
        } else {
            *error = "too many arguments";
            return parse_result::bad;
        }
    }
    if (positional < 2) {
        *error = "an input and an output file are needed";
        return parse_result::bad;
    }
    if (!has_image_extension(parsed->output)) {
        *error = "the output name must end in .png or .ppm";
        return parse_result::bad;
    }
    return parse_result::run;
}

// Why a header the loader would refuse is unreadable, in the header's terms.
std::string header_fault_text(pm::pcx_header_fault fault, const pm::pcx_picture &picture)
{
    switch (fault) {
    case pm::pcx_header_fault::window:
        return "the header window is " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
               " pixels (Xmax or Ymax before Xmin or Ymin)";
    case pm::pcx_header_fault::no_planes:
        return "the header gives no planes (NPlanes 0)";
    case pm::pcx_header_fault::bytes_per_line:
        return "the header's BytesPerLine is 0";
    case pm::pcx_header_fault::line_too_short:
        return "the header's BytesPerLine " + std::to_string(picture.bytes_per_line) +
               " is too small for rows of " + std::to_string(picture.width) + " pixels";
    case pm::pcx_header_fault::none:
        break;
    }
    return "the header is readable";
}

// Reads the 128-byte header to learn the picture's size. Returns 0, or the
// loader's result for the same trouble (cannot open, not a picture) with
// *why saying what exactly is wrong.
int32_t read_header_window(const std::string &path, int32_t *width, int32_t *height, std::string *why)
{
    // Opened without blocking, so that a named pipe or a device is refused at
    // once instead of waiting for a writer.
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        *why = std::strerror(errno);
        return PM_PCX_OPEN_FAILED;
    }
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool directory = S_ISDIR(info.st_mode);
        ::close(file);
        *why = directory ? "it is a directory, not a file" : "it is not a regular file";
        return PM_PCX_OPEN_FAILED;
    }
    uint8_t header[pm::pcx_header_size];
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::read(file, header + got, sizeof header - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(file);
    if (got != sizeof header) {
        *why = "the file is shorter than a 128-byte header";
        return PM_PCX_INVALID;
    }
    if (header[0] != pm::pcx_manufacturer) {
        *why = "the first byte is not 0x0A";
        return PM_PCX_INVALID;
    }
    const pm::pcx_picture picture = pm::pcx_parse_header(header);
    if (const pm::pcx_header_fault fault = pm::pcx_check_header(picture); fault != pm::pcx_header_fault::none) {
        *why = header_fault_text(fault, picture);
        return PM_PCX_INVALID;
    }
    *width = picture.width;
    *height = picture.height;
    if (*width > max_side || *height > max_side) {
        *why = "the header window is " + std::to_string(*width) + " x " + std::to_string(*height) +
               " pixels; each side must be 1.." + std::to_string(max_side);
        return PM_PCX_INVALID;
    }
    return PM_PCX_OK;
}

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

int convert(const options &opts)
{
    int32_t width = 0;
    int32_t height = 0;
    std::string why;
    const int32_t header_result = read_header_window(opts.input, &width, &height, &why);
    if (header_result != 0) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", opts.input.c_str(), why.c_str(),
                     header_result, pm_pcx_result_text(header_result));
        return exit_bad_input;
    }

    tools::headless_session session;
    pm_set_new_buffer_depth(opts.depth);
    session.buffer = pm_buffer_create(width, height);
    if (session.buffer < 0) {
        std::fprintf(stderr, "pixmora-convert: cannot create a %d x %d buffer of %d bits (result %d)\n", width, height,
                     opts.depth, session.buffer);
        return exit_no_output;
    }
    pm_buffer_activate(session.buffer);
    pm_move_cursor(0, 0);
    // At 8 bits the file's indices are kept as they are, so that they show
    // the picture's own trailer colours rather than a reduced palette.
    const int32_t flags = opts.depth == 8 ? pcx_at_cursor | pcx_no_reduction : pcx_at_cursor;
    const int32_t result = pm_load_pcx(opts.input.c_str(), flags);
    if (result != 0) {
        std::fprintf(stderr, "pixmora-convert: cannot load %s at %d bits: result %d: %s\n", opts.input.c_str(),
                     opts.depth, result, pm_pcx_result_text(result));
        return exit_bad_input;
    }

    std::string error;
    if (!tools::write_image(opts.output, capture_picture(width, height), &error)) {
        std::fprintf(stderr, "pixmora-convert: %s\n", error.c_str());
        return exit_no_output;
    }
    return exit_ok;
}

} // namespace

int main(int argc, char **argv)
{
    options opts;
    std::string error;
    switch (parse_arguments(argc, argv, &opts, &error)) {
    case parse_result::help:
        std::fputs(usage_text, stdout);
        return exit_ok;
    case parse_result::bad:
        std::fprintf(stderr, "pixmora-convert: %s (see --help)\n", error.c_str());
        return exit_usage;
    case parse_result::run:
        break;
    }
    return convert(opts);
}
