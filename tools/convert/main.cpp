// pixmora-convert: converts between PCX, PNG and PPM through the library on
// the software display. Every picture passes through one library buffer: a
// PCX picture is loaded into it with pm_load_pcx, a PNG or netpbm picture is
// put into it pixel by pixel (a PNG's palette becoming the library's), and
// the buffer is then saved with pm_save_pcx or written as PNG or PPM in the
// colours it shows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <pixmora/pixmora.h>
#include "graphics/pcx_format.h"
#include "tools/common/active_pixels.h"
#include "tools/common/headless_session.h"
#include "tools/common/image_read.h"
#include "tools/common/image_write.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_bad_input = 1;
constexpr int exit_usage = 2;
constexpr int exit_no_output = 3;

// Larger pictures are refused before any buffer is made.
constexpr int32_t max_side = 32768;
// No input, a file or standard input, may hold more: the library takes a
// memory picture of at most 4 GiB - 1, and the tools no more than 2 GiB.
constexpr size_t max_input = size_t{1} << 31;

const char usage_text[] =
    "usage: pixmora-convert [--depth 8|16|24|32] [--to pcx|png|ppm] INPUT OUTPUT\n"
    "       pixmora-convert --info [--depth 8|16|24|32] FILE\n"
    "       pixmora-convert --help | --version\n"
    "\n"
    "Converts a PCX, PNG, PPM, PGM or PAM picture into a PCX, PNG or PPM one.\n"
    "The input's format is recognised by its first bytes, whatever its name; the\n"
    "output's follows OUTPUT's extension (.pcx, .png or .ppm) unless --to names\n"
    "it. '-' as INPUT reads standard input, and as OUTPUT writes standard\n"
    "output, which needs --to.\n"
    "\n"
    "The picture passes through one library buffer of the given depth, as large\n"
    "as the picture, and the output holds what that buffer holds:\n"
    "  - a PCX picture is loaded into it (default depth 32). At depth 8 the\n"
    "    file's palette indices are kept (no colour reduction) and shown through\n"
    "    the library's palette, whose entries 0..9 and 246..255 keep their own\n"
    "    colours; a 24-bit picture cannot be loaded at depth 8;\n"
    "  - a paletted PNG is put in as its palette indices with its palette\n"
    "    (default depth 8), any other picture as true colours (default 32);\n"
    "  - at depth 8 a true-colour picture of at most 256 distinct colours takes\n"
    "    them as its palette, in the order they first appear; one of more colours\n"
    "    is refused (nothing reduces colours);\n"
    "  - depth 16 keeps 5-6-5 bits of every colour; 24 and 32 keep 8 bits a\n"
    "    channel. Transparency is dropped.\n"
    "An 8-bit buffer is saved as a 256-colour PCX with its palette after the\n"
    "data, a deeper one as a 24-bit PCX; PNG and PPM output is true colour.\n"
    "\n"
    "--info prints the fields of a PCX file's header, what palette it carries,\n"
    "and whether the library's loader takes it into a buffer of the given depth\n"
    "(default 32), or why it refuses it ('-' reads standard input).\n"
    "\n"
    "Exit status: 0 written (--info: the loader takes the file); 1 the input\n"
    "cannot be read, or the library or this program refuses it; 2 bad usage;\n"
    "3 the buffer or the output cannot be made.\n";

enum class output_format { none, pcx, png, ppm };

struct options {
    std::string input;
    std::string output;
    int32_t depth = 0; // 0: by the input
    output_format to = output_format::none;
    bool info = false; // describe the input, a PCX file, instead
};

enum class parse_result { run, help, version, bad };

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

output_format format_named(const std::string &name)
{
    const std::string word = lower(name);
    return word == "pcx" ? output_format::pcx
         : word == "png" ? output_format::png
         : word == "ppm" ? output_format::ppm
                         : output_format::none;
}

// The format a file name's extension names; none for any other.
output_format format_of_path(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return output_format::none;
    return format_named(path.substr(dot + 1));
}

bool parse_depth(const std::string &text, int32_t *depth)
{
    if (text == "8" || text == "16" || text == "24" || text == "32") {
        *depth = static_cast<int32_t>(std::stoi(text));
        return true;
    }
    return false;
}

// An option's value, written "--name value" or "--name=value"; false when it
// has none.
bool option_value(int argc, char **argv, int *i, const std::string &name, std::string *value)
{
    const std::string argument = argv[*i];
    if (argument.size() > name.size()) {
        *value = argument.substr(name.size() + 1);
        return true;
    }
    if (*i + 1 >= argc)
        return false;
    *value = argv[++*i];
    return true;
}

parse_result parse_arguments(int argc, char **argv, options *parsed, std::string *error)
{
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto is_option = [&argument](const char *name) {
            return argument == name || argument.rfind(std::string(name) + "=", 0) == 0;
        };
        if (argument == "--help" || argument == "-h")
            return parse_result::help;
        if (argument == "--version")
            return parse_result::version;
        if (argument == "--info") {
            parsed->info = true;
        } else if (is_option("--depth")) {
            std::string value;
            if (!option_value(argc, argv, &i, "--depth", &value)) {
                *error = "--depth needs a value";
                return parse_result::bad;
            }
            if (!parse_depth(value, &parsed->depth)) {
                *error = "depth must be 8, 16, 24 or 32, not '" + value + "'";
                return parse_result::bad;
            }
        } else if (is_option("--to")) {
            std::string value;
            if (!option_value(argc, argv, &i, "--to", &value)) {
                *error = "--to needs a value";
                return parse_result::bad;
            }
            parsed->to = format_named(value);
            if (parsed->to == output_format::none) {
                *error = "--to must be pcx, png or ppm, not '" + value + "'";
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
    if (parsed->info) {
        if (positional != 1 || parsed->to != output_format::none) {
            *error = "--info takes one file, and no output";
            return parse_result::bad;
        }
        return parse_result::run;
    }
    if (positional < 2) {
        *error = "an input and an output file are needed";
        return parse_result::bad;
    }
    if (parsed->to == output_format::none) {
        if (parsed->output == "-") {
            *error = "writing to standard output (-) needs --to pcx, png or ppm";
            return parse_result::bad;
        }
        parsed->to = format_of_path(parsed->output);
        if (parsed->to == output_format::none) {
            *error = "the output name must end in .pcx, .png or .ppm, or --to must name the format";
            return parse_result::bad;
        }
    }
    return parse_result::run;
}

// ---- Input ----------------------------------------------------------------

// The input's bytes: all of them, except for a PCX file, of which only the
// header is read here (the library reads the file itself).
struct input_data {
    std::string name;           // for messages: the file's name or "standard input"
    std::string path;           // the file; empty for standard input
    std::vector<uint8_t> bytes;
    uint64_t size = 0;          // bytes in the whole input
    int32_t trailer_marker = -1; // the byte where a PCX trailer would start; -1 when too short for one
};

bool read_all(int file, std::vector<uint8_t> *bytes, size_t limit)
{
    uint8_t block[65536];
    for (;;) {
        const ssize_t n = ::read(file, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (static_cast<size_t>(n) > limit - bytes->size()) {
            errno = EFBIG;
            return false;
        }
        bytes->insert(bytes->end(), block, block + n);
    }
}

// Reads the input; 0, or PM_PCX_OPEN_FAILED with *why saying what is wrong.
int32_t read_input(const std::string &name, input_data *input, std::string *why)
{
    if (name == "-") {
        input->name = "standard input";
        if (!read_all(STDIN_FILENO, &input->bytes, max_input)) {
            *why = errno == EFBIG ? "it holds more than 2 GiB" : std::strerror(errno);
            return PM_PCX_OPEN_FAILED;
        }
        input->size = input->bytes.size();
        if (input->size >= pm::pcx_header_size + pm::pcx_trailer_size)
            input->trailer_marker = input->bytes[input->size - pm::pcx_trailer_size];
        return PM_PCX_OK;
    }
    input->name = name;
    input->path = name;
    // Opened without blocking, so that a named pipe or a device is refused at
    // once instead of waiting for a writer.
    const int file = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        *why = std::strerror(errno);
        return PM_PCX_OPEN_FAILED;
    }
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool directory = S_ISDIR(info.st_mode);
        ::close(file);
        *why = directory ? "it is a directory, not a file" : "it is not a regular file (- reads standard input)";
        return PM_PCX_OPEN_FAILED;
    }
    if (static_cast<uint64_t>(info.st_size) > max_input) {
        ::close(file);
        *why = "it holds more than 2 GiB";
        return PM_PCX_OPEN_FAILED;
    }
    // The header tells the format; only a picture that is not PCX is read on.
    input->bytes.resize(pm::pcx_header_size);
    size_t got = 0;
    while (got < input->bytes.size()) {
        const ssize_t n = ::read(file, input->bytes.data() + got, input->bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    input->bytes.resize(got);
    bool read = true;
    input->size = static_cast<uint64_t>(info.st_size);
    if (tools::recognise_image(input->bytes.data(), got) != tools::image_kind::pcx) {
        input->bytes.reserve(static_cast<size_t>(info.st_size)); // read in one allocation
        read = read_all(file, &input->bytes, max_input);
    } else if (input->size >= pm::pcx_header_size + pm::pcx_trailer_size) {
        uint8_t marker = 0;
        if (::pread(file, &marker, 1, static_cast<off_t>(input->size - pm::pcx_trailer_size)) == 1)
            input->trailer_marker = marker;
    }
    const int reason = errno;
    ::close(file);
    if (!read) {
        *why = reason == EFBIG ? "it holds more than 2 GiB" : std::strerror(reason);
        return PM_PCX_OPEN_FAILED;
    }
    return PM_PCX_OK;
}

// ---- PCX input ------------------------------------------------------------

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

// The picture's size from its header. Returns 0, or the loader's result for
// the same trouble (not a picture) with *why saying what exactly is wrong.
int32_t read_header_window(const std::vector<uint8_t> &bytes, int32_t *width, int32_t *height, std::string *why)
{
    if (bytes.size() < static_cast<size_t>(pm::pcx_header_size)) {
        *why = "the file is shorter than a 128-byte header";
        return PM_PCX_INVALID;
    }
    const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
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

// ---- The buffer -------------------------------------------------------------

// Makes and activates a buffer; false, having said why, when it cannot be made.
bool make_buffer(tools::headless_session &session, int32_t width, int32_t height, int32_t depth)
{
    pm_set_new_buffer_depth(depth);
    session.buffer = pm_buffer_create(width, height);
    if (session.buffer < 0) {
        std::fprintf(stderr, "pixmora-convert: cannot create a %d x %d buffer of %d bits (result %d)\n", width, height,
                     depth, session.buffer);
        return false;
    }
    pm_buffer_activate(session.buffer);
    return true;
}

// Loads a PCX input into a new buffer of the given depth. Returns an exit
// status, having said what went wrong.
int load_pcx(const input_data &input, int32_t depth, tools::headless_session &session, int32_t *width,
             int32_t *height)
{
    std::string why;
    const int32_t header_result = read_header_window(input.bytes, width, height, &why);
    if (header_result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", input.name.c_str(), why.c_str(),
                     header_result, pm_pcx_result_text(header_result));
        return exit_bad_input;
    }
    if (!make_buffer(session, *width, *height, depth))
        return exit_no_output;
    pm_move_cursor(0, 0);
    // At 8 bits the file's indices are kept as they are, so that they show
    // the picture's own trailer colours rather than a reduced palette.
    int32_t flags = depth == 8 ? pcx_at_cursor | pcx_no_reduction : pcx_at_cursor;
    int32_t result = 0;
    if (input.path.empty()) {
        pm_set_input_block(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()));
        result = pm_load_pcx("", flags | pcx_from_memory);
        pm_set_input_block(nullptr, 0);
    } else {
        result = pm_load_pcx(input.path.c_str(), flags);
    }
    if (result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot load %s at %d bits: result %d: %s\n", input.name.c_str(), depth,
                     result, pm_pcx_result_text(result));
        return exit_bad_input;
    }
    return exit_ok;
}

// ---- PNG and netpbm input ---------------------------------------------------

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

// Row y (counted from the top) of the active buffer.
uint8_t *active_row(int32_t y)
{
    return pm_state.active_bits + static_cast<std::ptrdiff_t>(pm_state.active_max_y - y) * pm_state.active_stride;
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
        std::memcpy(active_row(y), indices.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                    static_cast<size_t>(width));
}

// Puts true colours into the active 16, 24 or 32-bit buffer.
void store_colours(const tools::decoded_image &image)
{
    const int32_t depth = pm_state.active_depth;
    for (int32_t y = 0; y < image.height; ++y) {
        uint8_t *out = active_row(y);
        const size_t first = static_cast<size_t>(y) * static_cast<size_t>(image.width);
        for (int32_t x = 0; x < image.width; ++x) {
            const uint32_t colour = image.colour(first + static_cast<size_t>(x));
            const uint32_t r = colour >> 16 & 0xFF, g = colour >> 8 & 0xFF, b = colour & 0xFF;
            if (depth == 16) {
                const uint32_t value = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
                *out++ = static_cast<uint8_t>(value);
                *out++ = static_cast<uint8_t>(value >> 8);
                continue;
            }
            *out++ = static_cast<uint8_t>(b);
            *out++ = static_cast<uint8_t>(g);
            *out++ = static_cast<uint8_t>(r);
            if (depth == 32)
                *out++ = 0;
        }
    }
}

// Decodes a PNG or netpbm input and puts it into a new buffer: of the given
// depth, or by default 8 bits for a paletted picture and 32 for any other.
// Returns an exit status, having said what went wrong.
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

// ---- Output -----------------------------------------------------------------

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

// A folder of its own for a file on its way to standard output, removed with
// whatever is in it.
class scratch_folder {
public:
    scratch_folder()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pixmora-convert.XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~scratch_folder()
    {
        if (!path_.empty()) {
            std::remove(file().c_str());
            ::rmdir(path_.c_str());
        }
    }
    scratch_folder(const scratch_folder &) = delete;
    scratch_folder &operator=(const scratch_folder &) = delete;

    bool made() const { return !path_.empty(); }
    std::string file() const { return path_ + "/picture.pcx"; }

private:
    std::string path_;
};

// Copies a file to standard output; false, with *why, when a read or write fails.
bool copy_to_standard_output(const std::string &path, std::string *why)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    char block[65536];
    size_t got = 0;
    bool copied = true;
    errno = 0;
    while (copied && (got = std::fread(block, 1, sizeof block, file)) > 0)
        copied = std::fwrite(block, 1, got, stdout) == got;
    copied = copied && !std::ferror(file) && std::fflush(stdout) == 0;
    const int reason = errno;
    std::fclose(file);
    if (!copied)
        *why = reason != 0 ? std::strerror(reason) : "write failed";
    return copied;
}

// Saves the active buffer's top-left width x height pixels with the library.
int write_pcx(const std::string &output, int32_t width, int32_t height)
{
    const bool to_standard_output = output == "-";
    scratch_folder folder;
    if (to_standard_output && !folder.made()) {
        std::fprintf(stderr, "pixmora-convert: cannot make a temporary folder: %s\n", std::strerror(errno));
        return exit_no_output;
    }
    const std::string target = to_standard_output ? folder.file() : output;
    errno = 0;
    const int32_t result = pm_save_pcx(target.c_str(), 0, width - 1, 0, height - 1);
    if (result != PM_PCX_OK) {
        const int reason = errno;
        std::fprintf(stderr, "pixmora-convert: cannot write %s: result %d: %s%s%s\n",
                     to_standard_output ? "the picture for standard output" : target.c_str(), result,
                     pm_pcx_result_text(result), reason != 0 ? ": " : "", reason != 0 ? std::strerror(reason) : "");
        return exit_no_output;
    }
    std::string why;
    if (to_standard_output && !copy_to_standard_output(target, &why)) {
        std::fprintf(stderr, "pixmora-convert: cannot write to standard output: %s\n", why.c_str());
        return exit_no_output;
    }
    return exit_ok;
}

int write_output(const options &opts, int32_t width, int32_t height)
{
    if (opts.to == output_format::pcx)
        return write_pcx(opts.output, width, height);
    const tools::image_format format = opts.to == output_format::png ? tools::image_format::png
                                                                     : tools::image_format::ppm;
    const tools::rgb_image picture = capture_picture(width, height);
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

// ---- --info ----------------------------------------------------------------

const char *format_text(pm::pcx_format format)
{
    switch (format) {
    case pm::pcx_format::planar16: return "16 colours in 4 planes";
    case pm::pcx_format::planar24: return "24-bit colour in 3 planes";
    case pm::pcx_format::indexed8: return "256 colours";
    case pm::pcx_format::mono: return "2 colours";
    case pm::pcx_format::none: break;
    }
    return "a format no converter reads";
}

// Why the loader refuses a picture with the given result, as far as this
// program can tell from the header.
std::string refusal_reason(const input_data &input, int32_t result, int32_t depth)
{
    const std::vector<uint8_t> &bytes = input.bytes;
    if (result == PM_PCX_INVALID) {
        if (bytes.size() < static_cast<size_t>(pm::pcx_header_size))
            return "the file is shorter than a 128-byte header";
        if (bytes[0] != pm::pcx_manufacturer) {
            char text[64];
            std::snprintf(text, sizeof text, "the first byte is 0x%02X, not 0x0A", bytes[0]);
            return text;
        }
        const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
        return header_fault_text(pm::pcx_check_header(picture), picture);
    }
    if (result == PM_PCX_UNSUPPORTED && bytes.size() >= static_cast<size_t>(pm::pcx_header_size)) {
        const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
        if (picture.format == pm::pcx_format::none)
            return "no converter reads " + std::to_string(picture.bits_per_pixel) + " bits a pixel in " +
                   std::to_string(picture.planes) + " plane(s)";
        return std::string("a picture of ") + format_text(picture.format) + " has no converter into a buffer of " +
               std::to_string(depth) + " bits";
    }
    return "";
}

// Loads the input into a buffer of the given depth, as large as the picture
// up to 1024 pixels a side (1 x 1 when the header says no size), and gives
// the loader's result; -1 when no buffer can be made.
int32_t try_loading(const input_data &input, int32_t depth)
{
    int32_t width = 1;
    int32_t height = 1;
    if (input.bytes.size() >= static_cast<size_t>(pm::pcx_header_size) && input.bytes[0] == pm::pcx_manufacturer) {
        const pm::pcx_picture picture = pm::pcx_parse_header(input.bytes.data());
        if (pm::pcx_readable(picture)) {
            width = std::min(picture.width, 1024);
            height = std::min(picture.height, 1024);
        }
    }
    tools::headless_session session;
    if (!make_buffer(session, width, height, depth))
        return -1;
    pm_move_cursor(0, 0);
    const int32_t flags = depth == 8 ? pcx_at_cursor | pcx_no_reduction : pcx_at_cursor;
    if (!input.path.empty())
        return pm_load_pcx(input.path.c_str(), flags);
    pm_set_input_block(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()));
    const int32_t result = pm_load_pcx("", flags | pcx_from_memory);
    pm_set_input_block(nullptr, 0);
    return result;
}

void print_field(const char *name, const std::string &value)
{
    std::printf("%-17s%s\n", (std::string(name) + ":").c_str(), value.c_str());
}

// The header's fields, as the web viewer shows them, and the palette the
// file carries.
void print_header(const input_data &input)
{
    const std::vector<uint8_t> &bytes = input.bytes;
    pm::pcx_header_layout fields;
    std::memcpy(&fields, bytes.data(), sizeof fields);
    const pm::pcx_picture picture = pm::pcx_parse_header(bytes.data());
    const auto number = [](int value) { return std::to_string(value); };
    if (fields.manufacturer != pm::pcx_manufacturer) {
        const tools::image_kind kind = tools::recognise_image(bytes.data(), bytes.size());
        print_field("Manufacturer", number(fields.manufacturer) + " (a PCX file has 10" +
                                        (kind == tools::image_kind::png      ? "; this is a PNG picture)"
                                         : kind == tools::image_kind::netpbm ? "; this is a netpbm picture)"
                                                                              : ")"));
        return;
    }
    print_field("Manufacturer", number(fields.manufacturer));
    print_field("Version", number(fields.version));
    print_field("Encoding", number(fields.encoding) + (fields.encoding == pm::pcx_encoding_run_length
                                                           ? " (run-length)"
                                                           : " (read as run-length all the same)"));
    print_field("Bits per pixel", number(fields.bits_per_pixel) + " (per plane)");
    print_field("Planes", number(fields.planes));
    print_field("Window", number(pm::pcx_le16(fields.x_min)) + ", " + number(pm::pcx_le16(fields.y_min)) + " .. " +
                              number(pm::pcx_le16(fields.x_max)) + ", " + number(pm::pcx_le16(fields.y_max)) + " (" +
                              number(picture.width) + " x " + number(picture.height) + ")");
    print_field("BytesPerLine", number(picture.bytes_per_line));
    print_field("Resolution", number(pm::pcx_le16(fields.h_dpi)) + " x " + number(pm::pcx_le16(fields.v_dpi)) + " dpi");
    const int palette_info = pm::pcx_le16(fields.palette_info);
    print_field("PaletteInfo", number(palette_info) + (palette_info == 1   ? " (colour or black and white)"
                                                        : palette_info == 2 ? " (greyscale)"
                                                                            : ""));
    // Where the loader takes the colours from: a trailer only after a
    // version-5 picture that has no planes of its own colours.
    const bool marker = input.trailer_marker == pm::pcx_trailer_marker;
    const bool trailer_used = marker && picture.planes != 3 && picture.version == pm::pcx_version_trailer;
    print_field("Palette", picture.planes == 3 ? "none: 24-bit colour"
                           : trailer_used      ? "256 colours after the data"
                                               : "16 colours in the header");
    print_field("Trailer palette", !marker                ? "absent"
                                   : trailer_used         ? "present"
                                   : picture.planes == 3  ? "present, not used by a 24-bit picture"
                                                          : "present, not used before version 5");
    if (pm::pcx_check_header(picture) == pm::pcx_header_fault::window)
        print_field("Picture", "none: the window ends before it starts");
    else
        print_field("Picture", number(picture.width) + " x " + number(picture.height) + " pixels, " +
                                   format_text(picture.format));
}

// Reads the input whole; false, said on standard error, when it cannot be read.
bool read_or_say(const options &opts, input_data *input)
{
    std::string why;
    const int32_t result = read_input(opts.input, input, &why);
    if (result != PM_PCX_OK)
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", opts.input.c_str(), why.c_str(),
                     result, pm_pcx_result_text(result));
    return result == PM_PCX_OK;
}

// Prints what the header says and the loader's verdict; 0 when the loader
// takes the picture, 1 when it refuses it or it cannot be read.
int show_info(const options &opts)
{
    input_data input;
    if (!read_or_say(opts, &input))
        return exit_bad_input;
    print_field("File", input.name + ", " + std::to_string(input.size) + " bytes");
    if (input.bytes.size() >= static_cast<size_t>(pm::pcx_header_size))
        print_header(input);
    else
        print_field("Header", "none: the file is shorter than 128 bytes");
    const int32_t depth = opts.depth == 0 ? 32 : opts.depth;
    const int32_t result = try_loading(input, depth);
    if (result < 0)
        return exit_no_output;
    const std::string at = " at " + std::to_string(depth) + " bits";
    if (result == PM_PCX_OK) {
        print_field("Loader", "takes it" + at);
        return exit_ok;
    }
    const std::string reason = refusal_reason(input, result, depth);
    print_field("Loader", "refuses it" + at + ": result " + std::to_string(result) + ": " +
                              pm_pcx_result_text(result) + (reason.empty() ? "" : " (" + reason + ")"));
    return exit_bad_input;
}

int convert(const options &opts)
{
    input_data input;
    if (!read_or_say(opts, &input))
        return exit_bad_input;
    const tools::image_kind kind = tools::recognise_image(input.bytes.data(), input.bytes.size());
    if (kind == tools::image_kind::unknown) {
        const std::string first = input.bytes.empty() ? std::string("it is empty") : "the first byte is not 0x0A";
        std::fprintf(stderr,
                     "pixmora-convert: cannot read %s: not a PNG, PPM, PGM or PAM picture, and %s (result %d: %s)\n",
                     input.name.c_str(), first.c_str(), PM_PCX_INVALID, pm_pcx_result_text(PM_PCX_INVALID));
        return exit_bad_input;
    }

    tools::headless_session session;
    int32_t depth = opts.depth;
    int32_t width = 0;
    int32_t height = 0;
    int status = exit_ok;
    if (kind == tools::image_kind::pcx) {
        depth = depth == 0 ? 32 : depth;
        status = load_pcx(input, depth, session, &width, &height);
    } else {
        status = put_picture(input, kind, &depth, session, &width, &height);
    }
    if (status != exit_ok)
        return status;
    return write_output(opts, width, height);
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
    case parse_result::version:
        std::printf("pixmora-convert (Pixmora) %d.%d.%d\n", PIXMORA_VERSION_MAJOR, PIXMORA_VERSION_MINOR,
                    PIXMORA_VERSION_PATCH);
        return exit_ok;
    case parse_result::bad:
        std::fprintf(stderr, "pixmora-convert: %s (see --help)\n", error.c_str());
        return exit_usage;
    case parse_result::run:
        break;
    }
    // A reader that stops early makes writes fail (EPIPE) rather than end the
    // program, so that a temporary file is still removed.
    if (opts.output == "-")
        std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) makes writes fail (EFBIG) rather than end
    // the program, so that the failure is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    return opts.info ? show_info(opts) : convert(opts);
}
