#include "tools/common/image_read.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include <pixmora/pixmora.h>

namespace tools {

image_kind recognise_image(const uint8_t *bytes, size_t size)
{
    if (size >= 8 && png_sig_cmp(bytes, 0, 8) == 0)
        return image_kind::png;
    if (size >= 2 && bytes[0] == 'P' && bytes[1] >= '0' && bytes[1] <= '9')
        return image_kind::netpbm;
    if (size >= 1 && bytes[0] == 0x0A)
        return image_kind::pcx;
    // A DCX file of PCX pages, which the library reads as well.
    if (size >= 4) {
        uint32_t first = 0;
        for (int shift = 0; shift < 32; shift += 8)
            first |= static_cast<uint32_t>(bytes[shift / 8]) << shift;
        if (first == PM_DCX_MAGIC)
            return image_kind::pcx;
    }
    return image_kind::unknown;
}

namespace {

// ---- PNG -----------------------------------------------------------------

struct png_source {
    const uint8_t *bytes;
    size_t size;
    size_t at;
};

// What one read needs and leaves behind. It lives outside the function that
// calls setjmp, so nothing of it is lost when libpng jumps back on an error.
struct png_reading {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_source source{};
    std::string message;
    std::vector<uint8_t> row; // a true-colour row as libpng gives it: RGB
};

// libpng's own limits: sides, and what one ancillary chunk (text, profile)
// may take, decompressed, and how many of them are kept.
constexpr png_uint_32 max_png_side = 1u << 20;
constexpr png_alloc_size_t max_png_chunk = 8u << 20;
constexpr png_uint_32 max_png_chunks = 1000;
// Deflate never makes more than 1032 bytes of one byte of its stream.
constexpr uint64_t max_inflation = 1032;

void read_png_bytes(png_structp png, png_bytep out, png_size_t length)
{
    auto *source = static_cast<png_source *>(png_get_io_ptr(png));
    if (length > source->size - source->at)
        png_error(png, "the file ends before the picture does");
    std::memcpy(out, source->bytes + source->at, length);
    source->at += length;
}

[[noreturn]] void png_failed(png_structp png, png_const_charp message)
{
    static_cast<png_reading *>(png_get_error_ptr(png))->message = message;
    std::longjmp(png_jmpbuf(png), 1);
}

void png_warned(png_structp, png_const_charp) {}

// Makes `store` hold at least `needed` of its `total` elements, doubling as
// rows arrive, so that a file whose data stops early never had the whole
// picture allocated.
template <typename T>
void grow_to(std::vector<T> &store, size_t needed, size_t total)
{
    if (store.size() < needed)
        store.resize(std::min(total, std::max(needed, 2 * store.size())));
}

// Reads the picture into image: paletted pictures' indices, grey levels or
// true colours. False after an error of libpng's (its text in
// reading.message) or one of ours. Only reading and image are written, never
// a local of this frame, so that a jump back from libpng leaves no local in
// doubt.
bool read_png_rows(png_reading &reading, decoded_image *image)
{
    if (setjmp(png_jmpbuf(reading.png)) != 0)
        return false;
    png_set_read_fn(reading.png, &reading.source, read_png_bytes);
    png_set_user_limits(reading.png, max_png_side, max_png_side);
    png_set_chunk_malloc_max(reading.png, max_png_chunk);
    png_set_chunk_cache_max(reading.png, max_png_chunks);
    png_read_info(reading.png, reading.info);
    const png_uint_32 width = png_get_image_width(reading.png, reading.info);
    const png_uint_32 height = png_get_image_height(reading.png, reading.info);
    if (static_cast<int64_t>(width) * height > max_decoded_pixels)
        png_error(reading.png, "the picture has too many pixels");
    // The stored rows (a filter byte and the packed samples) cannot be more
    // than the rest of the file inflates to.
    const uint64_t stored_row =
        (uint64_t{width} * png_get_channels(reading.png, reading.info) * png_get_bit_depth(reading.png, reading.info) +
         7) / 8 + 1;
    if (stored_row * height > max_inflation * (reading.source.size - reading.source.at) + max_inflation)
        png_error(reading.png, "the header claims more pixels than the data after it can hold");
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->palette.clear();
    image->indices.clear();
    image->levels.clear();
    image->pixels.clear();

    const int colour_type = png_get_color_type(reading.png, reading.info);
    const bool grey = (colour_type & PNG_COLOR_MASK_COLOR) == 0;
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(reading.png, reading.info, &palette, &count) == 0 || count < 1)
            png_error(reading.png, "the palette picture has no palette");
        for (int i = 0; i < std::min(count, 256); ++i)
            image->palette.push_back(static_cast<uint32_t>(palette[i].red) << 16 |
                                     static_cast<uint32_t>(palette[i].green) << 8 | palette[i].blue);
        png_set_packing(reading.png); // 1, 2 and 4-bit indices to one byte each
    } else {
        png_set_scale_16(reading.png);
        png_set_expand_gray_1_2_4_to_8(reading.png);
        png_set_strip_alpha(reading.png);
    }
    const int passes = png_set_interlace_handling(reading.png);
    png_read_update_info(reading.png, reading.info);

    // Indices and grey levels are one byte a pixel, read in place; true
    // colour comes as RGB through `row`.
    const bool bytes = image->paletted() || grey;
    const size_t row_bytes = png_get_rowbytes(reading.png, reading.info);
    if (row_bytes != (bytes ? 1u : 3u) * width)
        png_error(reading.png, "unexpected row size after conversion");
    std::vector<uint8_t> &one_byte = image->paletted() ? image->indices : image->levels;
    const size_t total = size_t{width} * height;
    if (!bytes)
        reading.row.resize(row_bytes);
    // An interlaced picture's later passes fill in rows of earlier ones: it
    // is made whole at once (its size is bounded by the data, as above).
    if (passes > 1 && bytes)
        one_byte.resize(total);
    else if (passes > 1)
        image->pixels.resize(total);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            const size_t first = size_t{y} * width;
            if (bytes) {
                grow_to(one_byte, first + width, total);
                png_read_row(reading.png, one_byte.data() + first, nullptr);
                continue;
            }
            grow_to(image->pixels, first + width, total);
            uint32_t *pixels = image->pixels.data() + first;
            uint8_t *rgb = reading.row.data();
            if (pass > 0)
                for (png_uint_32 x = 0; x < width; ++x) {
                    rgb[3 * x] = static_cast<uint8_t>(pixels[x] >> 16);
                    rgb[3 * x + 1] = static_cast<uint8_t>(pixels[x] >> 8);
                    rgb[3 * x + 2] = static_cast<uint8_t>(pixels[x]);
                }
            png_read_row(reading.png, rgb, nullptr);
            for (png_uint_32 x = 0; x < width; ++x)
                pixels[x] = static_cast<uint32_t>(rgb[3 * x]) << 16 | static_cast<uint32_t>(rgb[3 * x + 1]) << 8 |
                            rgb[3 * x + 2];
        }
    return true;
}

// ---- netpbm --------------------------------------------------------------

struct text_reader {
    const uint8_t *bytes;
    size_t size;
    size_t at;

    static bool space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    // Skips white space and '#' comments up to the end of their line.
    void skip_space()
    {
        while (at < size && (space(bytes[at]) || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < size && bytes[at] != '\n' && bytes[at] != '\r')
                    ++at;
            else
                ++at;
        }
    }
    // A decimal number after white space and comments, of any count of
    // digits but at most largest_number, as netpbm reads one; false when
    // there is none, or when it is larger (too_large then says so).
    bool number(int64_t *value)
    {
        skip_space();
        const size_t start = at;
        int64_t result = 0;
        too_large = false;
        for (; at < size && bytes[at] >= '0' && bytes[at] <= '9'; ++at) {
            result = result * 10 + (bytes[at] - '0');
            if (result > largest_number) {
                too_large = true;
                result = largest_number + 1; // stays in range whatever follows
            }
        }
        *value = result;
        return at > start && !too_large;
    }
    static constexpr int64_t largest_number = 2147483647;
    bool too_large = false; // the last number read was over largest_number
    // A word of the P7 header: letters, digits and '_'.
    std::string word()
    {
        skip_space();
        const size_t start = at;
        while (at < size && !space(bytes[at]) && bytes[at] != '#')
            ++at;
        return std::string(reinterpret_cast<const char *>(bytes) + start, at - start);
    }
};

// How a P7 picture's channels are to be read.
struct pam_layout {
    int64_t width = 0;
    int64_t height = 0;
    int64_t depth = 0;
    int64_t maxval = 0;
    std::string tuple_type;
};

bool read_pam_header(text_reader &in, pam_layout *layout, std::string *why)
{
    for (;;) {
        const std::string key = in.word();
        if (key.empty()) {
            *why = "the P7 header has no ENDHDR";
            return false;
        }
        if (key == "ENDHDR")
            break;
        int64_t *number = key == "WIDTH" ? &layout->width
                        : key == "HEIGHT" ? &layout->height
                        : key == "DEPTH"  ? &layout->depth
                        : key == "MAXVAL" ? &layout->maxval
                                          : nullptr;
        if (number != nullptr) {
            if (!in.number(number)) {
                *why = "the P7 header's " + key +
                       (in.too_large ? " is over " + std::to_string(in.largest_number) : " is not a number");
                return false;
            }
        } else if (key == "TUPLTYPE") {
            // The rest of the line, and further TUPLTYPE lines, add words.
            while (in.at < in.size && (in.bytes[in.at] == ' ' || in.bytes[in.at] == '\t'))
                ++in.at;
            const size_t start = in.at;
            while (in.at < in.size && in.bytes[in.at] != '\n')
                ++in.at;
            std::string value(reinterpret_cast<const char *>(in.bytes) + start, in.at - start);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\t'))
                value.pop_back();
            layout->tuple_type += (layout->tuple_type.empty() ? "" : " ") + value;
        } else {
            std::string shown = key.substr(0, 24);
            for (char &c : shown)
                c = c >= ' ' && c <= '~' ? c : '?';
            *why = "the P7 header holds an unknown field '" + shown + "'";
            return false;
        }
    }
    // ENDHDR ends its line.
    if (in.at < in.size && in.bytes[in.at] == '\r')
        ++in.at;
    if (in.at >= in.size || in.bytes[in.at] != '\n') {
        *why = "ENDHDR is not followed by a new line";
        return false;
    }
    ++in.at;
    return true;
}

// The number of colour channels (1 grey, 3 RGB) and whether an alpha channel
// follows them, for a P7 picture's TUPLTYPE and DEPTH.
bool pam_channels(const pam_layout &layout, int64_t *colour_channels, std::string *why)
{
    struct known_type {
        const char *name;
        int64_t depth;
        int64_t colour_channels;
    };
    static const known_type types[] = {
        {"RGB", 3, 3},           {"RGB_ALPHA", 4, 3},           {"GRAYSCALE", 1, 1},
        {"GRAYSCALE_ALPHA", 2, 1}, {"BLACKANDWHITE", 1, 1}, {"BLACKANDWHITE_ALPHA", 2, 1},
    };
    if (layout.tuple_type.empty()) {
        if (layout.depth < 1 || layout.depth > 4) {
            *why = "a P7 picture without TUPLTYPE must have DEPTH 1 to 4, not " + std::to_string(layout.depth);
            return false;
        }
        *colour_channels = layout.depth >= 3 ? 3 : 1;
        return true;
    }
    for (const known_type &type : types)
        if (layout.tuple_type == type.name) {
            if (layout.depth != type.depth) {
                *why = "TUPLTYPE " + layout.tuple_type + " needs DEPTH " + std::to_string(type.depth) + ", not " +
                       std::to_string(layout.depth);
                return false;
            }
            *colour_channels = type.colour_channels;
            return true;
        }
    *why = "TUPLTYPE " + layout.tuple_type + " is not one this reader takes (RGB, RGB_ALPHA, GRAYSCALE, "
           "GRAYSCALE_ALPHA, BLACKANDWHITE, BLACKANDWHITE_ALPHA)";
    return false;
}

} // namespace

bool decode_png(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error)
{
    png_reading reading;
    reading.source = png_source{bytes, size, 0};
    reading.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reading, png_failed, png_warned);
    if (reading.png != nullptr)
        reading.info = png_create_info_struct(reading.png);
    if (reading.info == nullptr) {
        png_destroy_read_struct(&reading.png, nullptr, nullptr);
        *error = "out of memory";
        return false;
    }
    const bool read = read_png_rows(reading, image);
    png_destroy_read_struct(&reading.png, &reading.info, nullptr);
    if (!read) {
        *error = reading.message.empty() ? "not a readable PNG picture" : reading.message;
        *image = decoded_image{};
        return false;
    }
    return true;
}

bool decode_netpbm(const uint8_t *bytes, size_t size, decoded_image *image, std::string *error)
{
    if (size < 2 || bytes[0] != 'P' || bytes[1] < '1' || bytes[1] > '7') {
        *error = "not a netpbm picture (its magic number is none of P1 to P7)";
        return false;
    }
    const char kind = static_cast<char>(bytes[1]);
    const std::string magic = std::string("P") + kind;
    const std::string format = kind == '1' || kind == '4' ? "PBM" : kind == '2' || kind == '5' ? "PGM"
                             : kind == '7'                ? "PAM"
                                                          : "PPM";
    if (size < 3 || !text_reader::space(bytes[2])) {
        *error = "the " + format + " magic number " + magic + " is not followed by white space";
        return false;
    }
    text_reader in{bytes, size, 2};
    pam_layout layout;
    int64_t colour_channels = kind == '1' || kind == '2' || kind == '4' || kind == '5' ? 1 : 3;
    const bool plain = kind <= '3';
    const bool bits = kind == '1' || kind == '4';
    if (kind == '7') {
        if (!read_pam_header(in, &layout, error) || !pam_channels(layout, &colour_channels, error))
            return false;
    } else {
        layout.depth = colour_channels;
        layout.maxval = 1;
        if (!in.number(&layout.width) || !in.number(&layout.height) || (!bits && !in.number(&layout.maxval))) {
            *error = "the " + format + " header's width, height" + (bits ? "" : " or maxval") +
                     (in.too_large ? " is over " + std::to_string(in.largest_number) : " is missing or not a number");
            return false;
        }
        // In the binary forms one white-space byte ends the header. A
        // comment may come before it, which netpbm reads as the end of its
        // line.
        if (!plain) {
            if (in.at < size && bytes[in.at] == '#')
                while (in.at < size && bytes[in.at] != '\n' && bytes[in.at] != '\r')
                    ++in.at;
            if (in.at >= size || !in.space(bytes[in.at])) {
                *error = "the " + format + " header does not end in white space";
                return false;
            }
            ++in.at;
        }
    }
    if (layout.width < 1 || layout.height < 1 || layout.width * layout.height > max_decoded_pixels) {
        *error = "the " + format + " picture is " + std::to_string(layout.width) + " x " +
                 std::to_string(layout.height) + " pixels; this reader takes 1 to " +
                 std::to_string(max_decoded_pixels) + " pixels";
        return false;
    }
    if (layout.maxval < 1 || layout.maxval > 65535) {
        *error = "the " + format + " maxval " + std::to_string(layout.maxval) + " is not in 1..65535";
        return false;
    }
    const size_t count = static_cast<size_t>(layout.width * layout.height);
    const size_t channels = static_cast<size_t>(layout.depth);
    const size_t samples = count * channels;
    const size_t left = size - in.at;
    // What the raster takes at least, checked before anything is allocated:
    // plain bits one character each, plain samples a digit and a separator
    // (but the last), binary bits 8 to a byte with each row padded to a byte,
    // binary samples one or two bytes.
    const size_t sample_bytes = layout.maxval > 255 ? 2 : 1;
    const size_t row_bytes = (static_cast<size_t>(layout.width) + 7) / 8;
    const size_t least = kind == '1'  ? samples
                       : plain        ? 2 * samples - 1
                       : kind == '4' ? row_bytes * static_cast<size_t>(layout.height)
                                      : samples * sample_bytes;
    if (left < least) {
        *error = "the " + format + " raster is cut short";
        return false;
    }
    image->width = static_cast<int32_t>(layout.width);
    image->height = static_cast<int32_t>(layout.height);
    image->palette.clear();
    image->indices.clear();
    image->levels.clear();
    image->pixels.assign(count, 0);
    const uint8_t *data = bytes + in.at;
    // The next sample, as it stands in the file; false when it is missing or
    // over maxval, with *error saying so.
    size_t next = 0; // samples read
    const auto read_sample = [&](uint32_t *value) {
        const size_t index = next++;
        int64_t raw = 0;
        if (kind == '1') {
            in.skip_space();
            if (in.at >= size || (bytes[in.at] != '0' && bytes[in.at] != '1')) {
                *error = "the PBM raster holds something other than 0 and 1 where a pixel should be";
                return false;
            }
            raw = bytes[in.at++] - '0';
        } else if (plain) {
            if (!in.number(&raw)) {
                *error = in.too_large ? "a " + format + " sample of more than " + std::to_string(in.largest_number) +
                                            " is over the maxval of " + std::to_string(layout.maxval)
                                      : "the " + format + " raster is cut short or holds something other than a number";
                return false;
            }
        } else if (kind == '4') {
            const size_t x = index % static_cast<size_t>(layout.width), y = index / static_cast<size_t>(layout.width);
            raw = data[y * row_bytes + x / 8] >> (7 - x % 8) & 1;
        } else {
            const size_t at = index * sample_bytes;
            raw = sample_bytes == 2 ? data[at] << 8 | data[at + 1] : data[at];
        }
        if (raw > layout.maxval) {
            *error = "a " + format + " sample of " + std::to_string(raw) + " is over the maxval of " +
                     std::to_string(layout.maxval);
            return false;
        }
        // PBM's 1 is black; every other format's maxval is full intensity.
        const int64_t level = bits ? 1 - raw : raw;
        *value = static_cast<uint32_t>((level * 255 + layout.maxval / 2) / layout.maxval);
        return true;
    };
    for (size_t i = 0; i < count; ++i) {
        uint32_t channel[4] = {};
        for (size_t c = 0; c < channels; ++c)
            if (!read_sample(&channel[std::min<size_t>(c, 3)]))
                return false;
        image->pixels[i] = colour_channels == 1 ? channel[0] * 0x010101u
                                                : channel[0] << 16 | channel[1] << 8 | channel[2];
    }
    return true;
}

} // namespace tools
