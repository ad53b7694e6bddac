// pixmora-convert, run as a program: its usage, its refusals, and its
// pictures compared pixel for pixel with those of an independent converter
// (pcxtoppm from netpbm).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/library_fixture.h"
#include "tools/common/image_write.h"

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

TEST_F(ConvertTool, ExplainsItselfAndRefusesBadUsage)
{
    const run_result help = run("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("usage: pixmora-convert"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--depth"), std::string::npos) << help.out;

    const std::string in = quoted((dir_ / "in.pcx").string());
    const std::string out = quoted((dir_ / "out.png").string());
    const char *const bad[] = {"", in.c_str(), "--depth 32", "--depth", "--frobnicate"};
    for (const char *arguments : bad)
        EXPECT_EQ(run(arguments).exit_code, 2) << "arguments: " << arguments;
    EXPECT_EQ(run(in + " " + out + " --depth 12").exit_code, 2);
    EXPECT_EQ(run(in + " " + out + " --depth").exit_code, 2);
    EXPECT_EQ(run(in + " " + out + " extra").exit_code, 2);
    EXPECT_EQ(run(in + " " + quoted((dir_ / "out.jpg").string())).exit_code, 2);
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
    for (const char *name : {"out.png", "out.ppm"}) {
        const run_result result = run(quoted(in.string()) + " " + quoted((dir_ / "no-such-directory" / name).string()));
        EXPECT_EQ(result.exit_code, 3) << name;
        EXPECT_NE(result.err.find(std::strerror(ENOENT)), std::string::npos) << name << ": " << result.err;
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

} // namespace
