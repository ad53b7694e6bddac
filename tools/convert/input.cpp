// pixmora-convert's input: the bytes of a file or of standard input, and the
// library buffer a picture goes into.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/convert/convert.h"

namespace convert {
namespace {

// No input, a file or standard input, may hold more: the library takes a
// memory picture of at most 4 GiB - 1, and the tools no more than 2 GiB.
constexpr size_t max_input = size_t{1} << 31;
// Bytes that tell any input's format (a PCX header's length).
constexpr size_t first_bytes = 128;

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
int32_t read_input(const std::string &name, bool whole_pcx, input_data *input, std::string *why)
{
    if (name == "-") {
        input->name = "standard input";
        if (!read_all(STDIN_FILENO, &input->bytes, max_input)) {
            *why = errno == EFBIG ? "it holds more than 2 GiB" : std::strerror(errno);
            return PM_PCX_OPEN_FAILED;
        }
        input->size = input->bytes.size();
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
    // The first bytes tell the format; a PCX file that the library reads
    // itself is not read on.
    input->bytes.resize(first_bytes);
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
    if (whole_pcx || tools::recognise_image(input->bytes.data(), got) != tools::image_kind::pcx) {
        input->bytes.reserve(static_cast<size_t>(info.st_size)); // read in one allocation
        read = read_all(file, &input->bytes, max_input);
    }
    const int reason = errno;
    ::close(file);
    if (!read) {
        *why = reason == EFBIG ? "it holds more than 2 GiB" : std::strerror(reason);
        return PM_PCX_OPEN_FAILED;
    }
    return PM_PCX_OK;
}

} // namespace

bool read_or_say(const options &opts, bool whole_pcx, input_data *input)
{
    std::string why;
    const int32_t result = read_input(opts.input, whole_pcx, input, &why);
    if (result != PM_PCX_OK)
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", opts.input.c_str(), why.c_str(),
                     result, pm_pcx_result_text(result));
    return result == PM_PCX_OK;
}

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

} // namespace convert
