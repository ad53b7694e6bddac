// pixmora-convert: converts between PCX, PNG and PPM with the library.
// Without --depth a PCX picture is decoded with pm_pcx_decode into this
// program's memory and written from there (pm_pcx_encode for PCX), touching
// no library state. Every other picture passes through one library buffer on
// the software display: a PCX picture is loaded into it with
// pm_load_pcx_page, a PNG or netpbm picture is put into it row by row (a
// PNG's palette becoming the library's), and the buffer is then saved with
// the library's PCX writer or written as PNG or PPM in the colours it shows.
// The parts are listed in convert.h.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/convert/convert.h"

namespace convert {
namespace {

int convert_picture(const options &opts)
{
    input_data input;
    if (!read_or_say(opts, opts.depth == 0, &input))
        return exit_bad_input;
    const tools::image_kind kind = tools::recognise_image(input.bytes.data(), input.bytes.size());
    if (kind == tools::image_kind::unknown) {
        const std::string first = input.bytes.empty() ? std::string("it is empty") : "the first byte is not 0x0A";
        std::fprintf(stderr,
                     "pixmora-convert: cannot read %s: not a PNG, PPM, PGM or PAM picture, and %s (result %d: %s)\n",
                     input.name.c_str(), first.c_str(), PM_PCX_INVALID, pm_pcx_result_text(PM_PCX_INVALID));
        return exit_bad_input;
    }

    if (kind == tools::image_kind::pcx && opts.depth == 0) {
        rgb_picture picture;
        const int status = decode_pcx(input, opts.page, &picture);
        return status != exit_ok ? status : write_output(opts, picture);
    }

    tools::headless_session session;
    int32_t depth = opts.depth;
    int32_t width = 0;
    int32_t height = 0;
    int status = exit_ok;
    if (kind == tools::image_kind::pcx) {
        status = load_pcx(input, depth, opts.page, session, &width, &height);
    } else if (opts.page != 0) {
        std::fprintf(stderr, "pixmora-convert: %s has no pages: --page is for PCX and DCX files (see --help)\n",
                     input.name.c_str());
        return exit_usage;
    } else {
        status = put_picture(input, kind, &depth, session, &width, &height);
    }
    if (status != exit_ok)
        return status;
    return write_output(opts, width, height);
}

// What went to standard output must have reached it: a full disk or a closed
// pipe turns a text answer into a failure, as it does for any other output.
int finish_standard_output(int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int reason = errno;
    std::fprintf(stderr, "pixmora-convert: write error%s%s\n", reason != 0 ? ": " : "",
                 reason != 0 ? std::strerror(reason) : "");
    return exit_bad_input;
}

int run(int argc, char **argv)
{
    options opts;
    std::string error;
    switch (parse_arguments(argc, argv, &opts, &error)) {
    case parse_result::help:
        std::fputs(usage_text, stdout);
        return finish_standard_output(exit_ok);
    case parse_result::version:
        std::printf("pixmora-convert (Pixmora) %d.%d.%d\n", PIXMORA_VERSION_MAJOR, PIXMORA_VERSION_MINOR,
                    PIXMORA_VERSION_PATCH);
        return finish_standard_output(exit_ok);
    case parse_result::bad:
        std::fprintf(stderr, "pixmora-convert: %s (see --help)\n", error.c_str());
        return exit_usage;
    case parse_result::run:
        break;
    }
    if (opts.info)
        return finish_standard_output(show_info(opts));
    // A reader that stops early makes writes fail (EPIPE), which is reported,
    // rather than end the program without a word.
    if (opts.output == "-")
        std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) makes writes fail (EFBIG) rather than end
    // the program, so that the failure is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    return convert_picture(opts);
}

} // namespace
} // namespace convert

int main(int argc, char **argv)
{
    return convert::run(argc, argv);
}
