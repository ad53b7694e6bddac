// pixmora-convert, run as a program: its usage, its refusals, its pictures
// compared pixel for pixel with those of an independent converter (pcxtoppm
// from netpbm), and the PCX files it writes read back by the library.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "graphics/pcx/format.h"
#include "support/library_fixture.h"
#include "tools/common/active_pixels.h"
#include "tools/common/image_write.h"

// The address sanitizer, as GCC and clang tell it.
#ifdef __SANITIZE_ADDRESS__
#define SANITIZED_BUILD
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_BUILD
#endif
#endif

namespace {

namespace fs = std::filesystem;

// The well-formed samples; the other two are malformed on purpose.
const char *const supported_samples[] = {
    "allegro5-allegro.pcx", "allegro5-mysha.pcx", "allegro5-planet.pcx", "allegro5-mask.pcx",
    "exiftool-PCX.pcx",     "pillow-pil184.pcx",  "pillow-odd_stride.pcx", "pillow-p_4_planes.pcx",
};
const char *const malformed_samples[] = {"pillow-01r_00.pcx", "pillow-ossfuzz-4836216264589312.pcx"};

std::string quoted(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string read_text(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct run_result {
    int exit_code = -1; // -1 when the program did not exit normally (a crash)
    std::string out;
    std::string err;
};

class ConvertTool : public pixmora_test::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
#ifndef PIXMORA_CONVERT_PATH
        GTEST_SKIP() << "pixmora-convert is not built";
#else
        tool_ = PIXMORA_CONVERT_PATH;
#endif
        dir_ = fs::temp_directory_path() /
               ("pixmora-convert-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        if (!dir_.empty())
            fs::remove_all(dir_);
        LibraryTest::TearDown();
    }

    run_result run(const std::string &arguments) const
    {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command =
            quoted(tool_) + " " + arguments + " >" + quoted(out.string()) + " 2>" + quoted(err.string());
        const int status = std::system(command.c_str());
        run_result result;
        if (status != -1 && WIFEXITED(status))
            result.exit_code = WEXITSTATUS(status);
        result.out = read_text(out);
        result.err = read_text(err);
        return result;
    }

    // pcxtoppm's picture of a sample; false when it cannot make one.
    bool reference(const fs::path &sample, tools::rgb_image *image) const
    {
        const fs::path ppm = dir_ / "reference.ppm";
        const std::string command = "pcxtoppm " + quoted(sample.string()) + " >" + quoted(ppm.string()) + " 2>/dev/null";
        std::string error;
        return std::system(command.c_str()) == 0 && tools::read_image(ppm.string(), image, &error);
    }

    std::string tool_;
    fs::path dir_;
};

bool have_pcxtoppm()
{
    return std::system("command -v pcxtoppm >/dev/null 2>&1") == 0;
}

// "" when equal, else where and how the pictures first differ.
std::string compare(const tools::rgb_image &got, const tools::rgb_image &want)
{
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + " x " + std::to_string(got.height) + ", expected " +
               std::to_string(want.width) + " x " + std::to_string(want.height);
    for (size_t i = 0; i < got.pixels.size(); ++i)
        if (got.pixels[i] != want.pixels[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "pixel (%zu, %zu) is %06X, expected %06X", i % static_cast<size_t>(got.width),
                          i / static_cast<size_t>(got.width), got.pixels[i], want.pixels[i]);
            return text;
        }
    return "";
}

// What a 16-bit buffer makes of a colour: 5-6-5, widened by bit replication.
tools::rgb_image through_565(tools::rgb_image image)
{
    for (uint32_t &pixel : image.pixels) {
        const uint32_t r = pixel >> 19 & 0x1F, g = pixel >> 10 & 0x3F, b = pixel >> 3 & 0x1F;
        pixel = (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
    }
    return image;
}

// A PNG written by libpng's simplified writer in one of its formats
// (PNG_FORMAT_...); a colour-mapped one takes its palette as RGB triples.
bool write_png_file(const fs::path &path, int32_t width, int32_t height, uint32_t format,
                    const std::vector<uint8_t> &samples, const std::vector<uint8_t> &palette = {})
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = format;
    png.colormap_entries = static_cast<png_uint_32>(palette.size() / 3);
    return png_image_write_to_file(&png, path.c_str(), 0, samples.data(), 0,
                                   palette.empty() ? nullptr : palette.data()) != 0;
}

// A binary netpbm file: its header, then the samples, two bytes each
// (big-endian) when wide.
std::string netpbm_file(const std::string &header, const std::vector<uint32_t> &samples, bool wide)
{
    std::string bytes = header;
    for (uint32_t sample : samples) {
        if (wide)
            bytes += static_cast<char>(sample >> 8);
        bytes += static_cast<char>(sample);
    }
    return bytes;
}

// A PNG made by hand: its header's fields and its rows as stored (each with
// its filter byte), compressed as hard as zlib can.
std::string png_file(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type, uint8_t interlace,
                     const std::string &rows)
{
    const auto be32 = [](uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                           static_cast<char>(value)};
    };
    const auto chunk = [&](const std::string &type, const std::string &data) {
        const std::string covered = type + data;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(covered.data()), static_cast<uInt>(covered.size()));
        return be32(static_cast<uint32_t>(data.size())) + covered + be32(static_cast<uint32_t>(crc));
    };
    std::string header = be32(width) + be32(height);
    header += {static_cast<char>(bit_depth), static_cast<char>(colour_type), 0, 0, static_cast<char>(interlace)};
    std::string packed(compressBound(static_cast<uLong>(rows.size())), '\0');
    uLongf packed_size = static_cast<uLongf>(packed.size());
    compress2(reinterpret_cast<Bytef *>(packed.data()), &packed_size, reinterpret_cast<const Bytef *>(rows.data()),
              static_cast<uLong>(rows.size()), 9);
    packed.resize(packed_size);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", packed) + chunk("IEND", "");
}

// Loads a PCX file with the library, in this process, into a buffer of the
// given depth as large as its header window, and hands the active buffer to
// read(width, height). False when the header or the load is refused.
template <typename Reader> bool load_with_library(const fs::path &path, int32_t depth, int32_t flags, Reader read)
{
    const std::string bytes = read_text(path);
    if (bytes.size() < static_cast<size_t>(pm::pcx_header_size))
        return false;
    const pm::pcx_picture header = pm::pcx_parse_header(reinterpret_cast<const uint8_t *>(bytes.data()));
    if (!pm::pcx_readable(header))
        return false;
    const int32_t handle = pixmora_test::make_buffer(header.width, header.height, depth);
    pm_move_cursor(0, 0);
    const bool loaded = handle >= 0 && pm_load_pcx(path.c_str(), flags | pcx_at_cursor) == PM_PCX_OK;
    if (loaded)
        read(header.width, header.height);
    pm_buffer_deactivate();
    pm_buffer_destroy(handle);
    return loaded;
}

// The colours of a PCX file as a 32-bit buffer shows them.
tools::rgb_image library_colours(const fs::path &path)
{
    tools::rgb_image image;
    load_with_library(path, 32, 0, [&image](int32_t width, int32_t height) {
        image.width = width;
        image.height = height;
        image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        for (int32_t y = 0; y < height; ++y)
            tools::read_active_row(y, width, image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
    });
    return image;
}

// The palette indices of an 8-bit PCX file, as the file holds them.
std::vector<uint8_t> library_indices(const fs::path &path)
{
    std::vector<uint8_t> indices;
    load_with_library(path, 8, pcx_keep_palette, [&indices](int32_t width, int32_t height) {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                indices.push_back(*pixmora_test::pixel_at(x, y));
    });
    return indices;
}

TEST_F(ConvertTool, ExplainsItselfAndRefusesBadUsage)
{
    const run_result help = run("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("usage: pixmora-convert"), std::string::npos) << help.out;
    for (const char *option : {"--depth", "--to", "--info", "--version", "--page", "--layout", "mono", "cga4",
                               "planes4", "planes8", "ega16", "packed16", "vga256", "rgb24"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option << " in " << help.out;
    const run_result version = run("--version");
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "pixmora-convert (Pixmora) " + std::to_string(PIXMORA_VERSION_MAJOR) + "." +
                               std::to_string(PIXMORA_VERSION_MINOR) + "." + std::to_string(PIXMORA_VERSION_PATCH) +
                               "\n");

    // Standard output that cannot be written is a failure, said on standard
    // error, for the answers that only print too.
    pixmora_test::start_library();
    pixmora_test::make_buffer(4, 2, 8);
    ASSERT_EQ(pm_save_pcx((dir_ / "small.pcx").c_str(), 0, 3, 0, 1), PM_PCX_OK);
    const std::string &tool = tool_;
    if (fs::exists("/dev/full"))
        for (const std::string &arguments : {std::string("--help"), std::string("--version"),
                                             "--info " + quoted((dir_ / "small.pcx").string())}) {
            const fs::path err = dir_ / "full.txt";
            const int status =
                std::system((quoted(tool) + " " + arguments + " >/dev/full 2>" + quoted(err.string())).c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << arguments;
            EXPECT_NE(read_text(err).find("write error: No space left on device"), std::string::npos) << arguments;
        }

    const std::string in = quoted((dir_ / "in.pcx").string());
    const std::string out = quoted((dir_ / "out.png").string());
    const std::string jpg = quoted((dir_ / "out.jpg").string());
    const std::string bad[] = {"", in, "--depth 32", "--depth", "--frobnicate", in + " " + out + " --depth 12",
                               in + " " + out + " --depth", in + " " + out + " extra", in + " " + jpg,
                               in + " -", in + " " + out + " --to gif", in + " " + out + " --to", "--info",
                               "--info " + in + " " + out, "--info " + in + " --to png", in + " " + out + " --page x",
                               in + " " + out + " --page 1023", in + " " + out + " --layout fancy",
                               in + " " + out + " --layout mono", "--info " + in + " --layout ega16"};
    for (const std::string &arguments : bad) {
        const run_result result = run(arguments);
        EXPECT_EQ(result.exit_code, 2) << "arguments: " << arguments;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << arguments << ": " << result.err;
    }
}

TEST_F(ConvertTool, ReportsPicturesItCannotRead)
{
    struct bad_input {
        const char *what;
        std::string bytes; // the file's content; "missing" means no file, "fifo" a named pipe
        int32_t depth;
        const char *message; // part of what it must say
    };
    std::string header(128, '\0');
    header[0] = 0x0A;
    std::string wrong_first = header;
    wrong_first[0] = 0x0B;
    std::string bad_window = header;
    bad_window[4] = 5; // Xmin 5 > Xmax 0
    std::string huge = header;
    huge[3] = 8;
    huge[65] = 1;
    huge[8] = '\x3F', huge[9] = '\x9C';   // Xmax 39999: 40000 columns
    huge[66] = '\x40', huge[67] = '\x9C'; // BytesPerLine 40000
    std::string short_line = header;
    short_line[3] = 8;   // BitsPerPixel
    short_line[8] = 9;   // Xmax 9: 10 columns
    short_line[65] = 1;  // NPlanes
    short_line[66] = 4;  // BytesPerLine 4
    std::string no_planes = short_line;
    no_planes[65] = 0;
    const bad_input inputs[] = {
        {"no such file", "missing", 32, "result 1"},
        {"a directory", "directory", 32, "directory"},
        {"no planes", no_planes + std::string(200, '\0'), 32, "no planes"},
        {"BytesPerLine below the width", short_line + std::string(200, '\0'), 32, "BytesPerLine 4 is too small"},
        {"a named pipe with no writer", "fifo", 32, "result 1"},
        {"shorter than a header", std::string(60, '\x0A'), 32, "result 2"},
        {"first byte not 0x0A", wrong_first, 32, "result 2"},
        {"window ends before it starts", bad_window, 32, "header window"},
        {"window too large", huge, 32, "header window"},
    };
    for (const bad_input &input : inputs) {
        const fs::path in = dir_ / "in.pcx";
        fs::remove(in);
        if (input.bytes == "directory")
            fs::create_directory(in);
        else if (input.bytes == "fifo")
            ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
        else if (input.bytes != "missing")
            std::ofstream(in, std::ios::binary) << input.bytes;
        const run_result result =
            run(quoted(in.string()) + " " + quoted((dir_ / "out.png").string()) + " --depth " + std::to_string(input.depth));
        EXPECT_EQ(result.exit_code, 1) << input.what;
        EXPECT_NE(result.err.find(input.message), std::string::npos) << input.what << ": " << result.err;
        EXPECT_FALSE(fs::exists(dir_ / "out.png")) << input.what;
    }
}

// A 24-bit picture has no converter for an 8-bit buffer: the loader's
// result 3 is passed on with its meaning.
TEST_F(ConvertTool, PassesOnTheLoadersRefusal)
{
    pixmora_test::start_library();
    pixmora_test::make_buffer(8, 4, 24);
    const fs::path in = dir_ / "rgb.pcx";
    ASSERT_EQ(pm_save_pcx(in.string().c_str(), 0, 7, 0, 3), 0);
    const run_result at8 = run(quoted(in.string()) + " " + quoted((dir_ / "out.png").string()) + " --depth 8");
    EXPECT_EQ(at8.exit_code, 1);
    EXPECT_NE(at8.err.find("result 3"), std::string::npos) << at8.err;
    EXPECT_EQ(run(quoted(in.string()) + " " + quoted((dir_ / "out.png").string()) + " --depth=24").exit_code, 0);
}

// An output that cannot be written is reported with the system's reason.
TEST_F(ConvertTool, FailedWriteSaysWhy)
{
    pixmora_test::start_library();
    pixmora_test::make_buffer(8, 4, 32);
    const fs::path in = dir_ / "small.pcx";
    ASSERT_EQ(pm_save_pcx(in.string().c_str(), 0, 7, 0, 3), 0);
    for (const char *name : {"out.png", "out.ppm", "out.pcx"}) {
        const run_result result = run(quoted(in.string()) + " " + quoted((dir_ / "no-such-directory" / name).string()));
        EXPECT_EQ(result.exit_code, 3) << name;
        EXPECT_NE(result.err.find(std::strerror(ENOENT)), std::string::npos) << name << ": " << result.err;
    }
    // A write that fails midway, here at a file size limit of a few
    // kilobytes, leaves an existing output as it was, whatever its format.
    pixmora_test::make_buffer(200, 200, 32);
    std::mt19937 random(5);
    for (int32_t i = 0; i < 200 * 200 * 4; ++i)
        pm_state.active_bits[i] = static_cast<uint8_t>(random());
    const fs::path noise = dir_ / "noise.pcx";
    ASSERT_EQ(pm_save_pcx(noise.string().c_str(), 0, 199, 0, 199), 0);
    const std::string &tool = tool_;
    for (const char *name : {"keep.png", "keep.ppm", "keep.pcx"}) {
        const fs::path kept = dir_ / name;
        write_bytes(kept, "the old picture");
        const std::string command = "ulimit -f 8 && exec " + quoted(tool) + " " + quoted(noise.string()) + " " +
                                    quoted(kept.string()) + " 2>" + quoted((dir_ / "stderr.txt").string());
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << name << ": status " << status;
        EXPECT_NE(read_text(dir_ / "stderr.txt").find(std::strerror(EFBIG)), std::string::npos)
            << name << ": " << read_text(dir_ / "stderr.txt");
        EXPECT_EQ(read_text(kept), "the old picture") << name;
    }
}

TEST_F(ConvertTool, MatchesPcxtoppmOnEverySupportedSample)
{
    const std::string samples = pixmora_test::samples_dir();
    if (samples.empty() || !have_pcxtoppm())
        GTEST_SKIP() << "needs the shared PCX samples and pcxtoppm";
    for (const char *name : supported_samples) {
        const fs::path sample = fs::path(samples) / name;
        tools::rgb_image want;
        ASSERT_TRUE(reference(sample, &want)) << name << ": pcxtoppm failed";
        for (const char *depth : {"32", "24", "16"}) {
            SCOPED_TRACE(std::string(name) + " at depth " + depth);
            const fs::path png = dir_ / "out.png";
            fs::remove(png);
            const run_result result = run(quoted(sample.string()) + " " + quoted(png.string()) + " --depth " + depth);
            ASSERT_EQ(result.exit_code, 0) << result.err;
            tools::rgb_image got;
            std::string error;
            ASSERT_TRUE(tools::read_image(png.string(), &got, &error)) << error;
            EXPECT_EQ(compare(got, std::string(depth) == "16" ? through_565(want) : want), "");
        }
    }
}

// At 8 bits monochrome and 16-colour pictures take entries 10..25 from their
// header colours, so they too look as the reference shows them.
TEST_F(ConvertTool, ShowsFewColourPicturesAt8Bits)
{
    const std::string samples = pixmora_test::samples_dir();
    if (samples.empty() || !have_pcxtoppm())
        GTEST_SKIP() << "needs the shared PCX samples and pcxtoppm";
    for (const char *name : {"pillow-pil184.pcx", "pillow-p_4_planes.pcx"}) {
        const fs::path sample = fs::path(samples) / name;
        tools::rgb_image want, got;
        ASSERT_TRUE(reference(sample, &want)) << name;
        const fs::path ppm = dir_ / "out.ppm";
        const run_result result = run(quoted(sample.string()) + " " + quoted(ppm.string()) + " --depth 8");
        ASSERT_EQ(result.exit_code, 0) << name << ": " << result.err;
        std::string error;
        ASSERT_TRUE(tools::read_image(ppm.string(), &got, &error)) << error;
        EXPECT_EQ(compare(got, want), "") << name;
    }
}

TEST_F(ConvertTool, SurvivesMalformedSamples)
{
    const std::string samples = pixmora_test::samples_dir();
    if (samples.empty())
        GTEST_SKIP() << "needs the shared PCX samples";
    for (const char *name : malformed_samples)
        for (const char *depth : {"8", "16", "24", "32"}) {
            const run_result result = run(quoted((fs::path(samples) / name).string()) + " " +
                                          quoted((dir_ / "out.png").string()) + " --depth " + depth);
            EXPECT_TRUE(result.exit_code == 0 || result.exit_code == 1)
                << name << " at depth " << depth << ": exit " << result.exit_code << " " << result.err;
        }
}

// A paletted PNG becomes an 8-bit PCX whose trailer holds the PNG's colours
// at the PNG's indices (black after them) and whose pixels keep their
// indices, from a palette of one colour (1-bit pixels) to one of 256.
TEST_F(ConvertTool, PalettedPngKeepsItsPaletteAndIndices)
{
    pixmora_test::start_library();
    std::mt19937 random(7);
    const int32_t width = 13, height = 5; // an odd width: rows are padded in the file
    for (int32_t colours : {1, 2, 3, 16, 17, 256}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        std::vector<uint8_t> palette(3 * static_cast<size_t>(colours)), indices(width * height);
        for (uint8_t &channel : palette)
            channel = static_cast<uint8_t>(random());
        for (uint8_t &index : indices)
            index = static_cast<uint8_t>(random() % static_cast<uint32_t>(colours));
        const fs::path png = dir_ / "in.png", pcx = dir_ / "out.pcx";
        ASSERT_TRUE(write_png_file(png, width, height, PNG_FORMAT_RGB_COLORMAP, indices, palette));
        const run_result result = run(quoted(png.string()) + " " + quoted(pcx.string()));
        ASSERT_EQ(result.exit_code, 0) << result.err;

        const std::string file = read_text(pcx);
        ASSERT_GE(file.size(), static_cast<size_t>(pm::pcx_header_size + pm::pcx_trailer_size));
        const pm::pcx_picture header = pm::pcx_parse_header(reinterpret_cast<const uint8_t *>(file.data()));
        EXPECT_EQ(header.bits_per_pixel, 8);
        EXPECT_EQ(header.planes, 1);
        const std::string trailer = file.substr(file.size() - pm::pcx_trailer_size);
        EXPECT_EQ(static_cast<uint8_t>(trailer[0]), pm::pcx_trailer_marker);
        EXPECT_EQ(trailer.substr(1, palette.size()), std::string(palette.begin(), palette.end()));
        EXPECT_EQ(trailer.substr(1 + palette.size()), std::string(768 - palette.size(), '\0'));
        EXPECT_EQ(library_indices(pcx), indices);
    }
}

// Every true-colour input, and a paletted PNG at a depth above 8, becomes a
// 24-bit PCX; at depth 8 the picture's few colours become the palette.
TEST_F(ConvertTool, WritesPcxOfEveryInputAtEveryDepth)
{
    pixmora_test::start_library();
    std::mt19937 random(11);
    const int32_t width = 11, height = 6;
    const size_t count = width * height;
    const auto picture = [&](auto pixel) {
        tools::rgb_image image{width, height, {}};
        for (size_t i = 0; i < count; ++i)
            image.pixels.push_back(pixel(i));
        return image;
    };
    // 40 colours, 16 grey levels, random alpha, and the same colours in a PNG palette.
    std::vector<uint32_t> colours(40), levels(count), alpha(count), wide(3 * count);
    for (uint32_t &colour : colours)
        colour = random() & 0xFFFFFF;
    std::vector<uint8_t> indices(count), palette;
    for (size_t i = 0; i < count; ++i) {
        indices[i] = static_cast<uint8_t>(random() % colours.size());
        levels[i] = random() % 16;
        alpha[i] = random() & 0xFF;
    }
    for (uint32_t &sample : wide)
        sample = static_cast<uint32_t>(random() % 1001);
    for (uint32_t colour : colours)
        palette.insert(palette.end(), {uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)});
    const tools::rgb_image coloured = picture([&](size_t i) { return colours[indices[i]]; });
    const tools::rgb_image grey = picture([&](size_t i) { return levels[i] * 17 * 0x010101u; });
    const tools::rgb_image scaled = picture([&](size_t i) {
        uint32_t pixel = 0;
        for (size_t c = 0; c < 3; ++c)
            pixel = pixel << 8 | static_cast<uint32_t>(std::lround(wide[3 * i + c] * 255.0 / 1000.0));
        return pixel;
    });
    std::vector<uint32_t> rgb, rgba, grey8, grey_alpha;
    std::vector<uint8_t> rgb8, rgba8, grey_bytes;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = coloured.pixels[i];
        for (uint32_t channel : {pixel >> 16, pixel >> 8 & 0xFF, pixel & 0xFF}) {
            rgb.push_back(channel);
            rgba.push_back(channel);
        }
        rgba.push_back(alpha[i]);
        grey8.push_back(levels[i] * 17);
        grey_alpha.insert(grey_alpha.end(), {levels[i], alpha[i] >> 4});
    }
    rgb8.assign(rgb.begin(), rgb.end());
    rgba8.assign(rgba.begin(), rgba.end());
    grey_bytes.assign(grey8.begin(), grey8.end());

    struct input {
        const char *name;
        const tools::rgb_image &want;
        bool paletted;
    };
    const std::string size = "11 6\n";
    write_bytes(dir_ / "rgb.ppm", netpbm_file("P6\n" + size + "255\n", rgb, false));
    write_bytes(dir_ / "wide.ppm", netpbm_file("P6 # maxval 1000\n" + size + "1000\n", wide, true));
    write_bytes(dir_ / "grey.pgm", netpbm_file("P5\n" + size + "255\n", grey8, false));
    write_bytes(dir_ / "rgba.pam",
                netpbm_file("P7\nWIDTH 11\nHEIGHT 6\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", rgba, false));
    write_bytes(dir_ / "grey.pam", netpbm_file("P7\nWIDTH 11\nHEIGHT 6\nDEPTH 2\nMAXVAL 15\n"
                                               "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n", grey_alpha, false));
    // The plain forms: numbers between white space and comments, PBM bits
    // side by side; PBM's 1 is black, and its binary rows are padded to bytes.
    const auto plain = [](std::string text, const std::vector<uint32_t> &samples) {
        for (size_t i = 0; i < samples.size(); ++i)
            text += std::to_string(samples[i]) + (i % 7 == 6 ? "\n# seven\n" : i % 2 ? "\t" : " ");
        return text;
    };
    const tools::rgb_image black_white = picture([&](size_t i) { return levels[i] & 1 ? 0u : 0xFFFFFFu; });
    std::string plain_bits = "P1\n11 6\n", packed_bits = "P4 11 6\n";
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; x += 8) {
            uint8_t byte = 0;
            for (int32_t bit = 0; bit < 8 && x + bit < width; ++bit)
                byte |= static_cast<uint8_t>((levels[size_t(y * width + x + bit)] & 1) << (7 - bit));
            packed_bits += static_cast<char>(byte);
        }
    for (size_t i = 0; i < count; ++i)
        plain_bits += levels[i] & 1 ? "1" : "0";
    write_bytes(dir_ / "rgb_plain.ppm", plain("P3 # plain\n" + size + "255\n", rgb));
    write_bytes(dir_ / "grey_plain.pgm", plain("P2\n" + size + "255\n", grey8));
    write_bytes(dir_ / "plain.pbm", plain_bits);
    write_bytes(dir_ / "packed.pbm", packed_bits);
    ASSERT_TRUE(write_png_file(dir_ / "rgb.png", width, height, PNG_FORMAT_RGB, rgb8));
    ASSERT_TRUE(write_png_file(dir_ / "rgba.png", width, height, PNG_FORMAT_RGBA, rgba8));
    ASSERT_TRUE(write_png_file(dir_ / "grey.png", width, height, PNG_FORMAT_GRAY, grey_bytes));
    ASSERT_TRUE(write_png_file(dir_ / "palette.png", width, height, PNG_FORMAT_RGB_COLORMAP, indices, palette));
    const input inputs[] = {
        {"rgb.ppm", coloured, false},  {"wide.ppm", scaled, false}, {"grey.pgm", grey, false},
        {"rgba.pam", coloured, false}, {"grey.pam", grey, false},   {"rgb.png", coloured, false},
        {"rgba.png", coloured, false}, {"grey.png", grey, false},   {"palette.png", coloured, true},
        {"rgb_plain.ppm", coloured, false}, {"grey_plain.pgm", grey, false},
        {"plain.pbm", black_white, false},  {"packed.pbm", black_white, false},
    };
    for (const input &in : inputs)
        for (const char *depth : {"", "32", "24", "16", "8"}) {
            SCOPED_TRACE(std::string(in.name) + " at depth '" + depth + "'");
            const fs::path pcx = dir_ / "out.pcx";
            fs::remove(pcx);
            const run_result result = run(quoted((dir_ / in.name).string()) + " " + quoted(pcx.string()) +
                                          (*depth != '\0' ? std::string(" --depth ") + depth : ""));
            ASSERT_EQ(result.exit_code, 0) << result.err;
            const std::string file = read_text(pcx);
            ASSERT_GE(file.size(), static_cast<size_t>(pm::pcx_header_size));
            const bool eight = std::string(depth) == "8" || (*depth == '\0' && in.paletted);
            EXPECT_EQ(pm::pcx_parse_header(reinterpret_cast<const uint8_t *>(file.data())).planes, eight ? 1 : 3);
            EXPECT_EQ(compare(library_colours(pcx), std::string(depth) == "16" ? through_565(in.want) : in.want), "");
        }
}

// Reading takes memory as the data arrives: a small file that claims a
// large picture allocates nothing for it, no input of at most 1 KB takes
// 64 MB, and a real picture takes about two copies of itself (the decoded
// picture and the library's buffer) beyond the program's own needs. Peak
// memory is the converter's largest resident size, as the kernel counts it.
TEST_F(ConvertTool, TakesMemoryInProportionToItsInput)
{
#ifdef SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizers' own memory hides the converter's";
#endif
    // The converter's exit code and peak resident size in KiB, converting
    // `input` to a PCX file.
    const auto peak = [&](const std::string &input, long *kib) {
        write_bytes(dir_ / "in.dat", input);
        const std::string in = (dir_ / "in.dat").string(), out = (dir_ / "out.pcx").string();
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl(tool_.c_str(), tool_.c_str(), in.c_str(), out.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage {};
        if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
            return -1;
        *kib = usage.ru_maxrss;
        return WEXITSTATUS(status);
    };
    const auto rows = [](uint32_t count, size_t bytes, const std::function<char(size_t)> &byte) {
        std::string stored;
        for (uint32_t y = 0; y < count; ++y) {
            stored += '\0';
            for (size_t x = 0; x < bytes; ++x)
                stored += byte(y * bytes + x);
        }
        return stored;
    };
    const auto zero = [](size_t) { return '\0'; };
    std::mt19937 random(24);
    const auto noise = [&](size_t) { return static_cast<char>(random()); };
    const uint32_t side = 2700, width = 1200, height = 800;
    const struct {
        const char *what;
        std::string bytes;
        int exit_code;
    } inputs[] = {
        {"a tiny netpbm file", "P6 1 1 255\n\1\2\3", 0},
        {"a PNG that claims 16384 x 16384 pixels", png_file(16384, 16384, 8, 2, 0, std::string(100, '\0')), 1},
        {"the same, interlaced", png_file(16384, 16384, 8, 2, 1, std::string(100, '\0')), 1},
        {"a netpbm file that claims 16384 x 16384 pixels", "P6 16384 16384 255\n" + std::string(100, '\0'), 1},
        {"a blank 1-bit PNG as large as 1 KB holds", png_file(side, side, 1, 0, 0, rows(side, side / 8 + 1, zero)), 0},
        {"a real picture", png_file(width, height, 8, 2, 0, rows(height, 3 * width, noise)), 0},
    };
    long baseline = 0;
    for (const auto &input : inputs) {
        SCOPED_TRACE(input.what);
        long kib = 0;
        ASSERT_EQ(peak(input.bytes, &kib), input.exit_code);
        if (baseline == 0)
            baseline = kib;
        if (input.bytes.size() <= 1024)
            EXPECT_LT(kib, 64 * 1024) << input.bytes.size() << " bytes";
        else // the input's bytes and two copies of 4 bytes a pixel, and a quarter more
            EXPECT_LT(kib - baseline, long(input.bytes.size() + 2 * 4 * width * height) * 5 / 4 / 1024);
    }
}

// Pictures that cannot be read, or not at the depth asked for, are refused
// with a reason and leave no output.
TEST_F(ConvertTool, RefusesPicturesItCannotConvert)
{
    std::vector<uint32_t> many;
    for (uint32_t colour = 0; colour < 257; ++colour)
        many.insert(many.end(), {colour >> 8, colour & 0xFF, 0});
    const std::string png_signature = "\x89PNG\r\n\x1a\n";
    struct bad_input {
        std::string bytes;
        const char *arguments;
        const char *message; // words its message must hold
    };
    const bad_input inputs[] = {
        {netpbm_file("P6 257 1 255\n", many, false), "--depth 8", "more than 256 colours"},
        {netpbm_file("P6 257 1 255\n", many, false).substr(0, 300), "", "cut short"},
        {netpbm_file("P6 40000 1 255\n", std::vector<uint32_t>(120000, 0), false), "", "1..32768"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n\1\2\3\4", "", "TUPLTYPE CMYK"},
        {"P6\n1 1\n0\n\1\2\3", "", "maxval 0"},
        // netpbm's own rules, refused in netpbm's terms.
        {"P62 1 255\n\1\2\3\4\5\6", "", "PPM magic number P6 is not followed by white space"},
        {"P5\n2 1\n10\n\12\13", "", "PGM sample of 11 is over the maxval of 10"},
        {"P3\n1 1\n255\n1 2", "", "PPM raster is cut short"},
        {"P3\n2 1\n255\n1 2 3 4 x 6 ", "", "PPM raster is cut short or holds something other than a number"},
        {"P1\n2 2\n0 1 2 0", "", "PBM raster holds something other than 0 and 1"},
        {"P4\n9 2\n\1\2\3", "", "PBM raster is cut short"},
        {"P2 1", "", "PGM header's width, height or maxval is missing"},
        {"P9\n1 1\n", "", "not a netpbm picture"},
        {png_signature + std::string(30, '\0'), "", "cannot read"},
        {"GIF89a", "", "result 2"},
        {"", "", "empty"},
    };
    for (const bad_input &input : inputs) {
        const fs::path in = dir_ / "in.dat", out = dir_ / "out.pcx";
        write_bytes(in, input.bytes);
        const run_result result = run(quoted(in.string()) + " " + quoted(out.string()) + " " + input.arguments);
        EXPECT_EQ(result.exit_code, 1) << input.message;
        EXPECT_NE(result.err.find(input.message), std::string::npos) << input.message << ": " << result.err;
        EXPECT_FALSE(fs::exists(out)) << input.message;
    }
}

// '-' reads standard input and writes standard output (pipes both ways),
// giving the very bytes that files give.
TEST_F(ConvertTool, ReadsStandardInputAndWritesStandardOutput)
{
    pixmora_test::start_library();
    pixmora_test::make_buffer(9, 5, 8);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 9; ++x)
            *pixmora_test::pixel_at(x, y) = static_cast<uint8_t>(x * 29 + y * 7);
    ASSERT_EQ(pm_save_pcx((dir_ / "in.pcx").c_str(), 0, 8, 0, 4), PM_PCX_OK);
    ASSERT_EQ(run(quoted((dir_ / "in.pcx").string()) + " " + quoted((dir_ / "in.png").string())).exit_code, 0);
    ASSERT_EQ(run(quoted((dir_ / "in.pcx").string()) + " " + quoted((dir_ / "in.ppm").string())).exit_code, 0);
    for (const char *input : {"in.pcx", "in.png", "in.ppm"})
        for (const char *format : {"pcx", "png", "ppm"}) {
            SCOPED_TRACE(std::string(input) + " to " + format);
            const fs::path in = dir_ / input, file = dir_ / (std::string("file.") + format), piped = dir_ / "piped";
            ASSERT_EQ(run(quoted(in.string()) + " " + quoted(file.string())).exit_code, 0);
            const std::string &tool = tool_;
            // No temporary folder is needed on the way: TMPDIR names none.
            const std::string command = "cat " + quoted(in.string()) + " | TMPDIR=" + quoted((dir_ / "none").string()) +
                                        " " + quoted(tool) + " - - --to " + format + " | cat >" + quoted(piped.string());
            ASSERT_EQ(std::system(command.c_str()), 0);
            const std::string want = read_text(file);
            EXPECT_FALSE(want.empty());
            EXPECT_TRUE(read_text(piped) == want);
        }
}

// The value of a field of --info's output ("Name:   value"); "" when missing.
std::string info_field(const std::string &out, const std::string &name)
{
    const std::string lines = "\n" + out;
    const size_t at = lines.find("\n" + name + ":");
    if (at == std::string::npos)
        return "";
    const size_t start = lines.find_first_not_of(' ', at + name.size() + 2);
    return lines.substr(start, lines.find('\n', start) - start);
}

TEST_F(ConvertTool, InfoShowsTheHeaderAndTheLoadersVerdict)
{
    pixmora_test::start_library();
    pixmora_test::make_buffer(9, 5, 8);
    ASSERT_EQ(pm_save_pcx((dir_ / "paletted.pcx").c_str(), 0, 8, 0, 4), PM_PCX_OK);
    pixmora_test::make_buffer(6, 2, 24);
    ASSERT_EQ(pm_save_pcx((dir_ / "rgb.pcx").c_str(), 0, 5, 0, 1), PM_PCX_OK);
    std::string old_version = read_text(dir_ / "paletted.pcx");
    old_version[1] = 3;
    write_bytes(dir_ / "version3.pcx", old_version);
    std::string short_line(pm::pcx_header_size, '\0');
    short_line[0] = 0x0A, short_line[3] = 8, short_line[8] = 9, short_line[65] = 1, short_line[66] = 4;
    write_bytes(dir_ / "short.pcx", short_line + std::string(200, '\0'));
    std::vector<uint8_t> noise(32 * 32);
    std::mt19937 random(3);
    for (uint8_t &grey : noise)
        grey = static_cast<uint8_t>(random());
    ASSERT_TRUE(write_png_file(dir_ / "picture.png", 32, 32, PNG_FORMAT_GRAY, noise));
    write_bytes(dir_ / "cut.pcx", short_line.substr(0, 100));

    struct info_case {
        std::string arguments;
        int exit_code;
        std::vector<std::pair<const char *, std::string>> fields;
    };
    const auto path = [this](const char *name) { return quoted((dir_ / name).string()); };
    const std::string loaded = "takes it at 32 bits";
    const std::string size = std::to_string(fs::file_size(dir_ / "paletted.pcx")) + " bytes";
    const info_case cases[] = {
        {path("paletted.pcx"), 0,
         {{"File", (dir_ / "paletted.pcx").string() + ", " + size},
          {"Manufacturer", "10"}, {"Version", "5"}, {"Encoding", "1 (run-length)"}, {"Bits per pixel", "8 (per plane)"},
          {"Planes", "1"}, {"Window", "0, 0 .. 8, 4 (9 x 5)"}, {"BytesPerLine", "10"}, {"Resolution", "72 x 72 dpi"},
          {"PaletteInfo", "1 (colour or black and white)"}, {"Palette", "256 colours after the data"},
          {"Trailer palette", "present"}, {"Picture", "9 x 5 pixels, 256 colours"}, {"Loader", loaded}}},
        {"- <" + path("paletted.pcx"), 0,
         {{"File", "standard input, " + size},
          {"Trailer palette", "present"}, {"Loader", loaded}}},
        {path("version3.pcx"), 0,
         {{"Version", "3"}, {"Palette", "16 colours in the header"},
          {"Trailer palette", "present, not used before version 5"}, {"Loader", loaded}}},
        {path("rgb.pcx"), 0, {{"Planes", "3"}, {"Palette", "none: 24-bit colour"}, {"Trailer palette", "absent"},
                              {"Picture", "6 x 2 pixels, 24-bit colour in 3 planes"}, {"Loader", loaded}}},
        {path("rgb.pcx") + " --depth 8", 1,
         {{"Loader", "refuses it at 8 bits: result 3: no converter for this format and depth (a picture of "
                     "24-bit colour in 3 planes has no converter into a buffer of 8 bits)"}}},
        {path("short.pcx"), 1,
         {{"BytesPerLine", "4"}, {"Window", "0, 0 .. 9, 0 (10 x 1)"},
          {"Loader", "refuses it at 32 bits: result 2: not a readable picture (the header's BytesPerLine 4 is too "
                     "small for rows of 10 pixels)"}}},
        {path("cut.pcx"), 1,
         {{"Header", "none: the file is shorter than 128 bytes"},
          {"Loader", "refuses it at 32 bits: result 2: not a readable picture (the file is shorter than a 128-byte "
                     "header)"}}},
        {path("picture.png"), 1,
         {{"Manufacturer", "137 (a PCX file has 10; this is a PNG picture)"}, {"Version", ""},
          {"Loader", "refuses it at 32 bits: result 2: not a readable picture (the first byte is 0x89, not 0x0A)"}}},
    };
    for (const info_case &c : cases) {
        const run_result result = run("--info " + c.arguments);
        EXPECT_EQ(result.exit_code, c.exit_code) << c.arguments << ": " << result.err;
        for (const auto &[name, value] : c.fields)
            EXPECT_EQ(info_field(result.out, name), value) << c.arguments << ", field " << name;
    }
}

// Every sample goes PCX -> PNG -> PCX -> PNG; both PNGs must hold the same
// pixels. The malformed samples are refused at the first step.
TEST_F(ConvertTool, RoundTripsEverySampleThroughPngAndPcx)
{
    const std::string samples = pixmora_test::samples_dir();
    if (samples.empty())
        GTEST_SKIP() << "needs the shared PCX samples";
    std::vector<fs::path> found;
    for (const auto &entry : fs::directory_iterator(samples))
        if (entry.path().extension() == ".pcx")
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    int32_t loaded = 0, exact = 0;
    for (const fs::path &sample : found) {
        const std::string name = sample.filename().string();
        SCOPED_TRACE(name);
        const fs::path first = dir_ / "first.png", pcx = dir_ / "again.pcx", second = dir_ / "second.png";
        const run_result to_png = run(quoted(sample.string()) + " " + quoted(first.string()));
        const bool malformed =
            std::find_if(std::begin(malformed_samples), std::end(malformed_samples),
                         [&name](const char *bad) { return name == bad; }) != std::end(malformed_samples);
        EXPECT_EQ(to_png.exit_code, malformed ? 1 : 0) << to_png.err;
        if (to_png.exit_code != 0)
            continue;
        ++loaded;
        ASSERT_EQ(run(quoted(first.string()) + " " + quoted(pcx.string())).exit_code, 0);
        ASSERT_EQ(run(quoted(pcx.string()) + " " + quoted(second.string())).exit_code, 0);
        tools::rgb_image before, after;
        std::string error;
        ASSERT_TRUE(tools::read_image(first.string(), &before, &error)) << error;
        ASSERT_TRUE(tools::read_image(second.string(), &after, &error)) << error;
        const std::string difference = compare(after, before);
        EXPECT_EQ(difference, "");
        exact += difference.empty() ? 1 : 0;
    }
    std::printf("round trip: %zu samples, %d loaded, %d the same after PCX -> PNG -> PCX -> PNG\n", found.size(),
                loaded, exact);
    EXPECT_EQ(loaded, static_cast<int32_t>(std::size(supported_samples)));
}

// --info's exit status and conversion's agree, at 8 and 32 bits, on every
// sample and on edge cases around the loader's and this program's limits.
TEST_F(ConvertTool, InfoAndConversionAgree)
{
    std::vector<fs::path> inputs;
    if (const std::string samples = pixmora_test::samples_dir(); !samples.empty())
        for (const auto &entry : fs::directory_iterator(samples))
            if (entry.path().extension() == ".pcx")
                inputs.push_back(entry.path());
    // 256-colour pictures of one run-length encoded colour, w x 1 pixels.
    const auto one_row = [this, &inputs](const std::string &name, int32_t width, int32_t bytes_per_line, uint8_t planes) {
        std::string file(pm::pcx_header_size, '\0');
        file[0] = 0x0A, file[1] = 5, file[2] = 1, file[3] = 8, file[65] = char(planes);
        file[8] = char((width - 1) & 0xFF), file[9] = char((width - 1) >> 8);
        file[66] = char(bytes_per_line & 0xFF), file[67] = char(bytes_per_line >> 8);
        for (int32_t left = bytes_per_line * planes; left > 0; left -= 63)
            file += {char(0xC0 | std::min(left, 63)), '\x21'};
        write_bytes(dir_ / name, file);
        inputs.push_back(dir_ / name);
    };
    one_row("wide-40000.pcx", 40000, 40000, 1);
    one_row("wide-32768.pcx", 32768, 32768, 1);
    one_row("short-line.pcx", 10, 4, 1);
    one_row("rgb.pcx", 6, 6, 3);
    one_row("two-planes.pcx", 6, 6, 2);
    int32_t refused = 0;
    for (const fs::path &input : inputs)
        for (const int32_t depth : {8, 32}) {
            SCOPED_TRACE(input.filename().string() + " at " + std::to_string(depth));
            const std::string arguments = quoted(input.string()) + " --depth " + std::to_string(depth);
            const run_result info = run("--info " + arguments);
            const run_result converted = run(arguments + " " + quoted((dir_ / "out.png").string()));
            EXPECT_TRUE(info.exit_code == 0 || info.exit_code == 1) << info.err;
            EXPECT_EQ(converted.exit_code, info.exit_code) << info.out << converted.err;
            refused += info.exit_code;
        }
    EXPECT_GE(refused, 5); // the generated refusals, at least
    const run_result wide = run("--info " + quoted((dir_ / "wide-40000.pcx").string()));
    EXPECT_EQ(info_field(wide.out, "Loader"), "takes it at 32 bits");
    EXPECT_EQ(info_field(wide.out, "Converter"),
              "refuses it: the header window is 40000 x 1 pixels; each side must be 1..32768");
}

} // namespace

namespace {

// A header field of a PCX file: a byte, or a little-endian 16-bit number.
int pcx_byte(const std::string &file, size_t at) { return static_cast<uint8_t>(file[at]); }
int pcx_word(const std::string &file, size_t at) { return pcx_byte(file, at) | pcx_byte(file, at + 1) << 8; }

// ImageMagick's decoding of a picture file; false when it fails.
bool imagemagick_decode(const fs::path &picture, const fs::path &dir, tools::rgb_image *image)
{
    const fs::path ppm = dir / "imagemagick.ppm";
    const std::string command = "convert " + quoted(picture.string()) + " -depth 8 " + quoted("ppm:" + ppm.string()) +
                                " 2>/dev/null";
    std::string error;
    return std::system(command.c_str()) == 0 && tools::read_image(ppm.string(), image, &error);
}

} // namespace

// A paletted PNG of 12 colours written in every layout: the layouts that
// hold 12 colours give their planes, bits and an even BytesPerLine, and
// ImageMagick reads the same pixels back; the smaller ones refuse it and
// leave the output as it was.
TEST_F(ConvertTool, WritesEveryLayoutOrRefusesOneTooSmall)
{
    if (std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const int32_t width = 13, height = 7, colours = 12;
    std::vector<uint8_t> palette(3 * colours), indices(width * height);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = static_cast<uint8_t>(i * 53 + 7);
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<uint8_t>((i * 5 + i / width) % colours);
    const fs::path png = dir_ / "in.png", pcx = dir_ / "out.pcx";
    ASSERT_TRUE(write_png_file(png, width, height, PNG_FORMAT_RGB_COLORMAP, indices, palette));
    tools::rgb_image source;
    ASSERT_TRUE(imagemagick_decode(png, dir_, &source));
    const struct {
        const char *name;
        int bits, planes;
        bool holds;
    } layouts[] = {
        {"packed16", 4, 1, true}, {"ega16", 1, 4, true},    {"vga256", 8, 1, true},   {"rgb24", 8, 3, true},
        {"mono", 1, 1, false},    {"cga4", 2, 1, false},    {"planes4", 1, 2, false}, {"planes8", 1, 3, false},
    };
    for (const auto &l : layouts) {
        SCOPED_TRACE(l.name);
        write_bytes(pcx, "kept");
        const run_result result = run("--layout " + std::string(l.name) + " " + quoted(png.string()) + " " +
                                      quoted(pcx.string()));
        const std::string file = read_text(pcx);
        if (!l.holds) {
            EXPECT_EQ(result.exit_code, 3);
            EXPECT_NE(result.err.find("more colours than the layout holds"), std::string::npos) << result.err;
            EXPECT_EQ(file, "kept");
            continue;
        }
        ASSERT_EQ(result.exit_code, 0) << result.err;
        ASSERT_GE(file.size(), 128u);
        EXPECT_EQ(pcx_byte(file, 3), l.bits);
        EXPECT_EQ(pcx_byte(file, 65), l.planes);
        EXPECT_EQ(pcx_word(file, 66), ((width * l.bits + 7) / 8 + 1) & ~1); // even BytesPerLine
        tools::rgb_image shown;
        ASSERT_TRUE(imagemagick_decode(pcx, dir_, &shown));
        EXPECT_EQ(compare(shown, source), "");
    }
}

// A DCX file of two pages: --info counts them and describes the page asked
// for, --page converts it, and a page it lacks is refused.
TEST_F(ConvertTool, ReadsThePagesOfADcxFile)
{
    pixmora_test::start_library();
    std::string pages[2];
    for (int32_t page = 0; page < 2; ++page) {
        const int32_t width = 5 + 4 * page;
        pixmora_test::make_buffer(width, 3, 32);
        for (int32_t y = 0; y < 3; ++y) {
            std::vector<uint8_t> rgb(3 * static_cast<size_t>(width));
            for (size_t i = 0; i < rgb.size(); ++i)
                rgb[i] = static_cast<uint8_t>(i * 31 + y * 70 + page * 100);
            ASSERT_EQ(pm_write_row(0, y, width, PM_ROW_RGB24, rgb.data()), 0);
        }
        const fs::path one = dir_ / ("page" + std::to_string(page) + ".pcx");
        ASSERT_EQ(pm_save_pcx(one.c_str(), 0, width - 1, 0, 2), PM_PCX_OK);
        pages[page] = read_text(one);
        pm_buffer_deactivate();
    }
    std::string dcx(16, '\0');
    const uint32_t offsets[4] = {0x3ADE68B1u, 16, static_cast<uint32_t>(16 + pages[0].size()), 0};
    for (size_t i = 0; i < 16; ++i)
        dcx[i] = static_cast<char>(offsets[i / 4] >> (8 * (i % 4)));
    dcx += pages[0] + pages[1];
    const fs::path file = dir_ / "two.dcx";
    write_bytes(file, dcx);

    const run_result info = run("--info --page 1 " + quoted(file.string()));
    ASSERT_EQ(info.exit_code, 0) << info.err;
    EXPECT_EQ(info_field(info.out, "Pages"), "2 (DCX); page 1 at byte " + std::to_string(16 + pages[0].size()));
    EXPECT_EQ(info_field(info.out, "Window"), "0, 0 .. 8, 2 (9 x 3)");
    for (int32_t page = 0; page < 2; ++page) {
        const fs::path png = dir_ / "page.png", alone = dir_ / "alone.png";
        ASSERT_EQ(run("--page " + std::to_string(page) + " " + quoted(file.string()) + " " + quoted(png.string()))
                      .exit_code,
                  0);
        ASSERT_EQ(run(quoted((dir_ / ("page" + std::to_string(page) + ".pcx")).string()) + " " +
                      quoted(alone.string()))
                      .exit_code,
                  0);
        tools::rgb_image got, want;
        std::string error;
        ASSERT_TRUE(tools::read_image(png.string(), &got, &error)) << error;
        ASSERT_TRUE(tools::read_image(alone.string(), &want, &error)) << error;
        EXPECT_EQ(compare(got, want), "") << "page " << page;
    }
    const run_result missing = run("--page 2 " + quoted(file.string()) + " " + quoted((dir_ / "x.png").string()));
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("no page 2"), std::string::npos) << missing.err;
    const run_result not_pcx =
        run("--page 1 " + quoted((dir_ / "alone.png").string()) + " " + quoted((dir_ / "x.png").string()));
    EXPECT_EQ(not_pcx.exit_code, 2) << not_pcx.err;
}
