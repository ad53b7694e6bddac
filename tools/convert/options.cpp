// pixmora-convert's options and its usage text.
#include <string>

#include "tools/common/image_write.h"
#include "tools/convert/convert.h"

namespace convert {

const char usage_text[] =
    "usage: pixmora-convert [--depth 8|16|24|32] [--page N] [--to pcx|png|ppm] [--layout NAME] INPUT OUTPUT\n"
    "       pixmora-convert --info [--depth 8|16|24|32] [--page N] FILE\n"
    "       pixmora-convert --help | --version\n"
    "\n"
    "Converts a PCX, PNG, PPM, PGM or PAM picture into a PCX, PNG or PPM one.\n"
    "The input's format is recognised by its first bytes, whatever its name; the\n"
    "output's follows OUTPUT's extension (.pcx, .png or .ppm) unless --to names\n"
    "it. '-' as INPUT reads standard input, and as OUTPUT writes standard\n"
    "output, which needs --to.\n"
    "\n"
    "Without --depth a PCX picture is decoded straight into this program's\n"
    "memory, in the colours a 32-bit buffer shows, with no library buffer.\n"
    "Any other picture passes through one library buffer of the given depth, as\n"
    "large as the picture, and the output holds what that buffer holds:\n"
    "  - a PCX picture is loaded into it with --depth. At depth 8 the\n"
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
    "PCX input is read in every layout: one plane of 1, 2, 4 or 8 bits, 1 to 4\n"
    "planes of 1 bit, 3 or 4 planes of 8 bits (a fourth, alpha, is dropped).\n"
    "A DCX file holds pages of PCX pictures: --page N picks one (0, the first,\n"
    "by default).\n"
    "\n"
    "An 8-bit buffer is saved as a 256-colour PCX with its palette after the\n"
    "data, a deeper one or a decoded PCX picture as a 24-bit PCX; PNG and PPM\n"
    "output is true colour.\n"
    "--layout saves a PCX in the layout named instead, refusing a picture with\n"
    "more colours than it holds (nothing is reduced):\n"
    "  mono      one plane of 1 bit, 2 colours (the lighter one is the set bit)\n"
    "  cga4      one plane of 2 bits, 4 colours\n"
    "  planes4   2 planes of 1 bit, 4 colours\n"
    "  planes8   3 planes of 1 bit, 8 colours\n"
    "  ega16     4 planes of 1 bit, 16 colours\n"
    "  packed16  one plane of 4 bits, 16 colours\n"
    "  vga256    one plane of 8 bits and a palette after the data, 256 colours\n"
    "  rgb24     3 planes of 8 bits, true colour\n"
    "\n"
    "--info prints the fields of a PCX file's header, what palette it carries,\n"
    "and whether the library's loader takes it into a buffer of the given depth\n"
    "(default 32), or why it refuses it ('-' reads standard input); for a DCX\n"
    "file, how many pages it has and those fields of the page chosen.\n"
    "\n"
    "Exit status: 0 written (--info: the picture would be converted); 1 the\n"
    "input cannot be read, or the library or this program refuses it; 2 bad usage;\n"
    "3 the buffer or the output cannot be made.\n";

namespace {

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

struct layout_name {
    const char *name;
    int32_t layout;
};
constexpr layout_name layout_names[] = {
    {"mono", pcx_layout_mono},       {"cga4", pcx_layout_cga4},         {"planes4", pcx_layout_planes4},
    {"planes8", pcx_layout_planes8}, {"ega16", pcx_layout_ega16},       {"packed16", pcx_layout_packed16},
    {"vga256", pcx_layout_vga256},   {"rgb24", pcx_layout_rgb24},
};

bool parse_layout(const std::string &text, int32_t *layout)
{
    for (const layout_name &known : layout_names)
        if (lower(text) == known.name) {
            *layout = known.layout;
            return true;
        }
    return false;
}

// A page number: digits only, 0 to 1022 (a DCX file has at most 1023 pages).
bool parse_page(const std::string &text, int32_t *page)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *page = static_cast<int32_t>(std::stoi(text));
    return *page <= 1022;
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

} // namespace

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
        } else if (is_option("--page")) {
            std::string value;
            if (!option_value(argc, argv, &i, "--page", &value)) {
                *error = "--page needs a value";
                return parse_result::bad;
            }
            if (!parse_page(value, &parsed->page)) {
                *error = "page must be a number from 0 to 1022, not '" + value + "'";
                return parse_result::bad;
            }
        } else if (is_option("--layout")) {
            std::string value;
            if (!option_value(argc, argv, &i, "--layout", &value)) {
                *error = "--layout needs a value";
                return parse_result::bad;
            }
            if (!parse_layout(value, &parsed->layout)) {
                *error = "layout must be mono, cga4, planes4, planes8, ega16, packed16, vga256 or rgb24, not '" +
                         value + "'";
                return parse_result::bad;
            }
            parsed->layout_given = true;
        } else if (is_option("--to")) {
            std::string value;
            if (!option_value(argc, argv, &i, "--to", &value)) {
                *error = "--to needs a value";
                return parse_result::bad;
            }
            parsed->to = tools::format_of_word(value);
            if (parsed->to == tools::named_format::none) {
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
        if (positional != 1 || parsed->to != tools::named_format::none || parsed->layout_given) {
            *error = "--info takes one file, and no output or layout";
            return parse_result::bad;
        }
        return parse_result::run;
    }
    if (positional < 2) {
        *error = "an input and an output file are needed";
        return parse_result::bad;
    }
    if (parsed->to == tools::named_format::none) {
        if (parsed->output == "-") {
            *error = "writing to standard output (-) needs --to pcx, png or ppm";
            return parse_result::bad;
        }
        parsed->to = tools::format_of_extension(parsed->output);
        if (parsed->to == tools::named_format::none) {
            *error = "the output name must end in .pcx, .png or .ppm, or --to must name the format";
            return parse_result::bad;
        }
    }
    if (parsed->layout_given && parsed->to != tools::named_format::pcx) {
        *error = "--layout is for PCX output";
        return parse_result::bad;
    }
    return parse_result::run;
}

} // namespace convert
