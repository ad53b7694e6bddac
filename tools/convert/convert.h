// pixmora-convert's parts, one file each: the options (options.cpp), the
// input's bytes (input.cpp), PCX input and the one verdict on it that both
// conversion and --info give (input_pcx.cpp), PNG and netpbm input
// (input_picture.cpp), the output by format (output.cpp) and the --info
// printer (info.cpp). Everything goes through the library's public calls.
//
// A picture takes one of two roads. Without --depth a PCX picture is decoded
// by the codec call into this program's memory as RGB triples and written
// from there: no library state, one copy of the picture. Every other
// conversion passes through one library buffer of a depth, as large as the
// picture, on a headless session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "tools/common/headless_session.h"
#include "tools/common/image_read.h"
#include "tools/common/image_write.h"

namespace convert {

constexpr int exit_ok = 0;
constexpr int exit_bad_input = 1;
constexpr int exit_usage = 2;
constexpr int exit_no_output = 3;

// Larger pictures are refused before any buffer is made.
constexpr int32_t max_side = 32768;

// ---- Options ------------------------------------------------------------------

struct options {
    std::string input;
    std::string output;
    int32_t depth = 0; // 0: by the input
    tools::named_format to = tools::named_format::none;
    bool info = false; // describe the input, a PCX file, instead
    int32_t page = 0;  // the page of a DCX file
    int32_t layout = pcx_layout_auto; // of a PCX output
    bool layout_given = false;
};

// PCX pictures are read in every layout the library knows, and DCX files
// are pages of them.
constexpr int32_t pcx_flags = pcx_all_layouts;

enum class parse_result { run, help, version, bad };

extern const char usage_text[];

parse_result parse_arguments(int argc, char **argv, options *parsed, std::string *error);

// ---- Input ------------------------------------------------------------------

// The input's bytes: all of them, except for a PCX file loaded into a
// buffer, of which only the header is read here (the library reads the file
// itself).
struct input_data {
    std::string name;           // for messages: the file's name or "standard input"
    std::string path;           // the file; empty for standard input
    std::vector<uint8_t> bytes;
    uint64_t size = 0;          // bytes in the whole input
};

// Reads the input, a PCX file whole only when `whole_pcx`; false, said on
// standard error, when it cannot be read.
bool read_or_say(const options &opts, bool whole_pcx, input_data *input);

// Makes and activates a buffer; false, having said why, when it cannot be made.
bool make_buffer(tools::headless_session &session, int32_t width, int32_t height, int32_t depth);

// What this program makes of a PCX input at a depth: the library's
// description and verdict, and whether the program takes it, which --info
// and conversion both ask here.
struct pcx_judgement {
    pm_pcx_info info{};
    int32_t result = PM_PCX_OK; // the library's verdict, or PM_PCX_INVALID for the program's own limit
    std::string why;            // a refusal in the header's terms; empty when taken
    bool too_large = false;     // refused by the program's size limit, not by the library
};
pcx_judgement judge_pcx(const input_data &input, int32_t depth, int32_t page);

// The picture's layout in words, from the colours a pixel can take and its
// planes: "256 colours", "16 colours in 4 planes", "24-bit colour in 3 planes".
std::string layout_text(const pm_pcx_info &info);

// Loads a PCX input into a new buffer of the given depth. Returns an exit
// status, having said what went wrong.
int load_pcx(const input_data &input, int32_t depth, int32_t page, tools::headless_session &session,
             int32_t *width, int32_t *height);

// A PCX input (read whole) decoded without a buffer: pixels as packed RGB
// triples, in memory of this program's own.
struct rgb_picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

// Decodes page `page` of a PCX input with pm_pcx_decode, after the same
// verdict as a load into a 32-bit buffer (which shows the same colours).
// Returns an exit status, having said what went wrong.
int decode_pcx(const input_data &input, int32_t page, rgb_picture *picture);

// Decodes a PNG or netpbm input and puts it into a new buffer: of the given
// depth, or by default 8 bits for a paletted picture and 32 for any other.
int put_picture(const input_data &input, tools::image_kind kind, int32_t *depth, tools::headless_session &session,
                int32_t *width, int32_t *height);

// ---- Output -----------------------------------------------------------------

// Writes the active buffer's top-left width x height pixels in the chosen
// format; an exit status.
int write_output(const options &opts, int32_t width, int32_t height);
// Writes a decoded picture in the chosen format, a PCX one with
// pm_pcx_encode; the same bytes as the buffer's road at 32 bits.
int write_output(const options &opts, const rgb_picture &picture);

// ---- --info ------------------------------------------------------------------

// Prints what the header says and the verdict; 0 when the picture would be
// converted, 1 when it would not or cannot be read.
int show_info(const options &opts);

} // namespace convert
