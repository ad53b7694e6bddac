// pixmora-convert's PCX input: the library's inspection and verdict, this
// program's own size limit on top, and the load into a buffer or the
// decoding into memory. Conversion and --info both take their verdict from
// judge_pcx, so they cannot disagree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "tools/convert/convert.h"

namespace convert {
namespace {

// The library's refusal in the header's terms.
std::string refusal_text(const pm_pcx_info &info)
{
    const auto number = [](int64_t value) { return std::to_string(value); };
    switch (info.reason) {
    case PM_PCX_REASON_SHORT:
        if (info.page_offset >= info.size && info.page_offset > 0)
            return "page " + number(info.page) + " is listed at byte " +
                   number(static_cast<int64_t>(info.page_offset)) + ", at or past the end of the file";
        return info.page_offset > 0 ? "the page is shorter than a 128-byte header"
                                    : "the file is shorter than a 128-byte header";
    case PM_PCX_REASON_MANUFACTURER: {
        char text[64];
        std::snprintf(text, sizeof text, "the first byte is 0x%02X, not 0x0A", info.manufacturer);
        return text;
    }
    case PM_PCX_REASON_WINDOW:
        return "the header window is " + number(info.width) + " x " + number(info.height) +
               " pixels (Xmax or Ymax before Xmin or Ymin)";
    case PM_PCX_REASON_NO_PLANES:
        return "the header gives no planes (NPlanes 0)";
    case PM_PCX_REASON_NO_LINE:
        return "the header's BytesPerLine is 0";
    case PM_PCX_REASON_LINE_TOO_SHORT:
        return "the header's BytesPerLine " + number(info.bytes_per_line) + " is too small for rows of " +
               number(info.width) + " pixels";
    case PM_PCX_REASON_NO_CONVERTER:
        return "no converter reads " + number(info.bits_per_pixel) + " bits a pixel in " + number(info.planes) +
               " plane(s)";
    case PM_PCX_REASON_DEPTH:
        return "a picture of " + layout_text(info) + " has no converter into a buffer of " + number(info.depth) +
               " bits";
    case PM_PCX_REASON_TOO_MANY_PIXELS:
        // The library's limit is the tools' own for every format.
        return "the header window is " + number(info.width) + " x " + number(info.height) + " pixels, more than " +
               number(tools::max_decoded_pixels) + " in all";
    default:
        return pm_pcx_reason_text(info.reason);
    }
}

constexpr uint64_t pcx_header_bytes = 128;

// The most scanline bytes that `data` bytes of run-length data decode to: a
// run of at most 63 bytes takes two, and one run more is allowed for.
uint64_t most_decoded(uint64_t data)
{
    return 63 * (data / 2 + 1);
}

} // namespace

std::string layout_text(const pm_pcx_info &info)
{
    const std::string planes = std::to_string(info.planes) + (info.planes == 1 ? " plane" : " planes");
    if (info.colours == 1 << 24)
        return "24-bit colour in " + planes;
    if (info.colours == 0)
        return "a format no converter reads";
    if (info.planes == 1 && info.bits_per_pixel > 1 && info.bits_per_pixel < 8)
        return std::to_string(info.colours) + " colours in one plane of " + std::to_string(info.bits_per_pixel) +
               " bits";
    return std::to_string(info.colours) + " colours" + (info.planes > 1 ? " in " + planes : "");
}

pcx_judgement judge_pcx(const input_data &input, int32_t depth, int32_t page)
{
    pcx_judgement judgement;
    int32_t inspected = PM_PCX_OK;
    if (!input.path.empty())
        inspected = pm_pcx_inspect_file(input.path.c_str(), pcx_flags, page, depth, &judgement.info);
    else
        inspected = pm_pcx_inspect_memory(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()), pcx_flags,
                                          page, depth, &judgement.info);
    if (inspected == PM_PCX_INVALID) { // the arguments are right: the page is not there
        judgement.result = PM_PCX_NO_PAGE;
        judgement.why = "it has no page " + std::to_string(page);
        return judgement;
    }
    if (inspected != PM_PCX_OK) {
        judgement.result = inspected;
        judgement.why = "it cannot be opened";
        return judgement;
    }
    const pm_pcx_info &info = judgement.info;
    judgement.result = info.verdict;
    if (info.verdict != PM_PCX_OK) {
        judgement.why = refusal_text(info);
        return judgement;
    }
    if (info.width > max_side || info.height > max_side) {
        judgement.result = PM_PCX_INVALID;
        judgement.too_large = true;
        judgement.why = "the header window is " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                        " pixels; each side must be 1.." + std::to_string(max_side);
        return judgement;
    }
    // The loader repeats the last scanline when the data runs out, so a
    // header alone makes a whole picture; this program holds the whole
    // picture, so it takes none that claims more scanline bytes than the
    // data after the header can decode to, as its PNG reader does.
    const uint64_t data = info.size - std::min<uint64_t>(info.size, info.page_offset + pcx_header_bytes);
    const uint64_t claimed = uint64_t{info.planes} * info.bytes_per_line * static_cast<uint64_t>(info.height);
    if (claimed > most_decoded(data)) {
        judgement.result = PM_PCX_INVALID;
        judgement.too_large = true;
        judgement.why = "the header claims " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                        " pixels, " + std::to_string(claimed) + " bytes of scanlines, more than the " +
                        std::to_string(data) + " bytes after it can decode to";
    }
    return judgement;
}

int load_pcx(const input_data &input, int32_t depth, int32_t page, tools::headless_session &session,
             int32_t *width, int32_t *height)
{
    const pcx_judgement judgement = judge_pcx(input, depth, page);
    if (judgement.result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s at %d bits: %s (result %d: %s)\n", input.name.c_str(),
                     depth, judgement.why.c_str(), judgement.result, pm_pcx_result_text(judgement.result));
        return exit_bad_input;
    }
    *width = judgement.info.width;
    *height = judgement.info.height;
    if (!make_buffer(session, *width, *height, depth))
        return exit_no_output;
    pm_move_cursor(0, 0);
    // At 8 bits the file's indices are kept as they are, so that they show
    // the picture's own trailer colours rather than a reduced palette.
    const int32_t flags = pcx_flags | (depth == 8 ? pcx_at_cursor | pcx_no_reduction : pcx_at_cursor);
    int32_t result = 0;
    if (input.path.empty()) {
        pm_set_input_block(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()));
        result = pm_load_pcx_page("", flags | pcx_from_memory, page);
        pm_set_input_block(nullptr, 0);
    } else {
        result = pm_load_pcx_page(input.path.c_str(), flags, page);
    }
    if (result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot load %s at %d bits: result %d: %s\n", input.name.c_str(), depth,
                     result, pm_pcx_result_text(result));
        return exit_bad_input;
    }
    return exit_ok;
}

int decode_pcx(const input_data &input, int32_t page, rgb_picture *picture)
{
    // The codec call's true colours are those of a 32-bit buffer, so it
    // takes what a load at 32 bits takes.
    const pcx_judgement judgement = judge_pcx(input, 32, page);
    if (judgement.result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot read %s: %s (result %d: %s)\n", input.name.c_str(),
                     judgement.why.c_str(), judgement.result, pm_pcx_result_text(judgement.result));
        return exit_bad_input;
    }
    // The decoder's own size, asked for without pixels, is the memory's.
    pm_picture decoded{};
    decoded.format = PM_PIXELS_RGB8;
    int32_t result = pm_pcx_decode(input.bytes.data(), input.bytes.size(), pcx_flags, page, &decoded);
    if (result == PM_PCX_OK) {
        picture->width = decoded.width;
        picture->height = decoded.height;
        try {
            picture->rgb.resize(3 * static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height));
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "pixmora-convert: cannot hold a %d x %d picture: out of memory\n", decoded.width,
                         decoded.height);
            return exit_no_output;
        }
        decoded.pixels = picture->rgb.data();
        result = pm_pcx_decode(input.bytes.data(), input.bytes.size(), pcx_flags, page, &decoded);
    }
    if (result != PM_PCX_OK) {
        std::fprintf(stderr, "pixmora-convert: cannot decode %s: result %d: %s\n", input.name.c_str(), result,
                     pm_pcx_result_text(result));
        return result == PM_PCX_NO_MEMORY ? exit_no_output : exit_bad_input;
    }
    return exit_ok;
}

} // namespace convert
