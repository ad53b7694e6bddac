// pixmora-convert --info: a PCX file's header and palette as the library
// describes them, and the verdict that conversion would give.
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/convert/convert.h"

namespace convert {
namespace {

void print_field(const char *name, const std::string &value)
{
    std::printf("%-17s%s\n", (std::string(name) + ":").c_str(), value.c_str());
}

std::string number(int64_t value)
{
    return std::to_string(value);
}

// The header's fields, as the web viewer shows them, and the palette the
// file carries.
void print_header(const input_data &input, const pm_pcx_info &info)
{
    if (info.manufacturer != 0x0A) {
        const tools::image_kind kind = tools::recognise_image(input.bytes.data(), input.bytes.size());
        print_field("Manufacturer", number(info.manufacturer) + " (a PCX file has 10" +
                                        (kind == tools::image_kind::png      ? "; this is a PNG picture)"
                                         : kind == tools::image_kind::netpbm ? "; this is a netpbm picture)"
                                                                              : ")"));
        return;
    }
    print_field("Manufacturer", number(info.manufacturer));
    print_field("Version", number(info.version));
    print_field("Encoding", number(info.encoding) +
                                (info.encoding == 1 ? " (run-length)" : " (read as run-length all the same)"));
    print_field("Bits per pixel", number(info.bits_per_pixel) + " (per plane)");
    print_field("Planes", number(info.planes));
    print_field("Window", number(info.x_min) + ", " + number(info.y_min) + " .. " + number(info.x_max) + ", " +
                              number(info.y_max) + " (" + number(info.width) + " x " + number(info.height) + ")");
    print_field("BytesPerLine", number(info.bytes_per_line));
    print_field("Resolution", number(info.h_dpi) + " x " + number(info.v_dpi) + " dpi");
    print_field("PaletteInfo", number(info.palette_info) + (info.palette_info == 1   ? " (colour or black and white)"
                                                            : info.palette_info == 2 ? " (greyscale)"
                                                                                     : ""));
    print_field("Palette", info.palette_kind == PM_PCX_PALETTE_TRAILER  ? "256 colours after the data"
                           : info.palette_kind == PM_PCX_PALETTE_HEADER ? "16 colours in the header"
                           : info.palette_kind == PM_PCX_PALETTE_GREY   ? "256 greys (greyscale, no trailer)"
                                                                        : "none: 24-bit colour");
    print_field("Trailer palette", !info.trailer_present                           ? "absent"
                                   : info.palette_kind == PM_PCX_PALETTE_TRAILER ? "present"
                                   : info.palette_kind == PM_PCX_PALETTE_NONE    ? "present, not used by a 24-bit picture"
                                   : info.version == 5 ? "present, not used by a layout of header colours"
                                                       : "present, not used before version 5");
    if (info.width < 1 || info.height < 1)
        print_field("Picture", "none: the window ends before it starts");
    else
        print_field("Picture", number(info.width) + " x " + number(info.height) + " pixels, " + layout_text(info));
}

} // namespace

int show_info(const options &opts)
{
    input_data input;
    if (!read_or_say(opts, false, &input))
        return exit_bad_input;
    const int32_t depth = opts.depth == 0 ? 32 : opts.depth;
    const pcx_judgement judgement = judge_pcx(input, depth, opts.page);
    if (judgement.result == PM_PCX_OPEN_FAILED || judgement.result == PM_PCX_NO_PAGE) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", opts.input.c_str(),
                     judgement.why.c_str(), judgement.result, pm_pcx_result_text(judgement.result));
        return exit_bad_input;
    }
    const pm_pcx_info &info = judgement.info;
    print_field("File", input.name + ", " + number(static_cast<int64_t>(info.size)) + " bytes");
    print_field("Pages", number(info.page_count) + (info.page_count > 1 || info.page_offset != 0
                                                        ? " (DCX); page " + number(info.page) + " at byte " +
                                                              number(static_cast<int64_t>(info.page_offset))
                                                        : ""));
    if (info.header_present)
        print_header(input, info);
    else
        print_field("Header", info.page_offset >= info.size && info.page_offset > 0
                                  ? "none: the page starts at or past the end of the file"
                                  : info.page_offset > 0 ? "none: the page is shorter than 128 bytes"
                                                         : "none: the file is shorter than 128 bytes");
    const std::string at = " at " + number(depth) + " bits";
    if (info.verdict != PM_PCX_OK) {
        print_field("Loader", "refuses it" + at + ": result " + number(info.verdict) + ": " +
                                  pm_pcx_result_text(info.verdict) + " (" + judgement.why + ")");
        return exit_bad_input;
    }
    print_field("Loader", "takes it" + at);
    if (judgement.too_large) {
        print_field("Converter", "refuses it: " + judgement.why);
        return exit_bad_input;
    }
    return exit_ok;
}

} // namespace convert
