// PCX pictures that other programs wrote: each well-formed one, loaded into a
// 32-bit buffer, must show the same colours as netpbm's pcxtoppm decodes; the
// malformed ones must be refused without harm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "graphics/pcx.h"
#include "support/codec_agreement.h"
#include "support/library_fixture.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;
using pixmora_test::make_buffer;
using pixmora_test::pixel_at;

// Files built to break readers: BytesPerLine below the width, and 0.
const std::set<std::string> malformed = {"pillow-01r_00.pcx", "pillow-ossfuzz-4836216264589312.pcx"};

bytes read_all(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct image {
    int32_t width = 0, height = 0;
    bytes rgb; // top row first
};

// Reads one token of a PPM header, skipping white space and comments.
bool ppm_number(const bytes &file, size_t &at, int32_t &value)
{
    while (at < file.size() && (std::isspace(file[at]) || file[at] == '#')) {
        if (file[at] == '#')
            while (at < file.size() && file[at] != '\n')
                ++at;
        else
            ++at;
    }
    if (at >= file.size() || !std::isdigit(file[at]))
        return false;
    value = 0;
    while (at < file.size() && std::isdigit(file[at]))
        value = value * 10 + (file[at++] - '0');
    return true;
}

// A binary 8-bit PPM (P6), as pcxtoppm writes it.
bool parse_ppm(const bytes &file, image &out)
{
    size_t at = 2;
    int32_t maxval = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6' || !ppm_number(file, at, out.width) ||
        !ppm_number(file, at, out.height) || !ppm_number(file, at, maxval) || maxval != 255)
        return false;
    ++at; // the single white-space byte before the samples
    const size_t size = size_t(out.width) * size_t(out.height) * 3;
    if (file.size() < at + size)
        return false;
    out.rgb.assign(file.begin() + long(at), file.begin() + long(at + size));
    return true;
}

// Decodes a file with pcxtoppm; false if the tool failed.
bool reference_decode(const fs::path &pcx, image &out)
{
    // Named by process too: other test runs on the machine decode the same samples.
    const fs::path ppm = fs::temp_directory_path() /
                         ("pixmora_sample_" + std::to_string(::getpid()) + "_" + pcx.stem().string() + ".ppm");
    const std::string command = "pcxtoppm '" + pcx.string() + "' > '" + ppm.string() + "' 2>/dev/null";
    const bool ran = std::system(command.c_str()) == 0;
    const bool parsed = ran && parse_ppm(read_all(ppm), out);
    fs::remove(ppm);
    return parsed;
}

bool have_pcxtoppm()
{
    return std::system("command -v pcxtoppm > /dev/null 2>&1") == 0;
}

class PcxSamples : public pixmora_test::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        dir_ = pixmora_test::samples_dir();
        if (dir_.empty())
            GTEST_SKIP() << "the PCX samples are not beside the repository";
        pixmora_test::start_library(32);
        pm_realize_palette(pm_create_default_palette());
    }
    std::vector<fs::path> samples() const
    {
        std::vector<fs::path> found;
        for (const auto &entry : fs::directory_iterator(dir_))
            if (entry.path().extension() == ".pcx")
                found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string dir_;
};

TEST_F(PcxSamples, WellFormedPicturesMatchTheReferenceDecoder)
{
    if (!have_pcxtoppm())
        GTEST_SKIP() << "pcxtoppm (netpbm) is not installed";
    int32_t compared = 0;
    for (const fs::path &path : samples()) {
        if (malformed.count(path.filename().string()) != 0)
            continue;
        SCOPED_TRACE(path.filename().string());
        image reference;
        ASSERT_TRUE(reference_decode(path, reference));
        const pm::pcx_picture header = pm::pcx_parse_header(read_all(path).data());
        ASSERT_EQ(header.width, reference.width);
        ASSERT_EQ(header.height, reference.height);

        const int32_t handle = make_buffer(header.width, header.height, 32);
        pm_move_cursor(0, 0);
        ASSERT_EQ(pm_load_pcx(path.string().c_str(), pcx_at_cursor), 0);
        for (int32_t y = 0; y < header.height; ++y)
            for (int32_t x = 0; x < header.width; ++x) {
                const uint8_t *want = &reference.rgb[size_t(3 * (y * header.width + x))];
                const uint8_t *got = pixel_at(x, y);
                ASSERT_TRUE(got[2] == want[0] && got[1] == want[1] && got[0] == want[2] && got[3] == 0)
                    << "first difference at (" << x << ", " << y << "): got RGB " << int(got[2]) << ' ' << int(got[1])
                    << ' ' << int(got[0]) << " (fill " << int(got[3]) << "), expected " << int(want[0]) << ' '
                    << int(want[1]) << ' ' << int(want[2]);
            }
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST_F(PcxSamples, MalformedPicturesAreRefusedAndRefusedFormatsGiveThree)
{
    for (const fs::path &path : samples()) {
        SCOPED_TRACE(path.filename().string());
        const bytes file = read_all(path);
        const int32_t handle = make_buffer(64, 64, 8);
        pm_set_input_block(file.data(), uint32_t(file.size()));
        const int32_t from_memory = pm_load_pcx(nullptr, pcx_from_memory | pcx_at_cursor);
        const int32_t from_file = pm_load_pcx(path.string().c_str(), pcx_at_cursor);
        EXPECT_EQ(from_memory, from_file);
        const pm::pcx_picture header = pm::pcx_parse_header(file.data());
        if (malformed.count(path.filename().string()) != 0)
            EXPECT_EQ(from_file, 2); // not a readable picture
        else if (header.format == pm::pcx_format::planar24)
            EXPECT_EQ(from_file, 3); // 24-bit colours do not fit an 8-bit buffer
        else
            EXPECT_EQ(from_file, 0);
        pm_buffer_deactivate();
        pm_buffer_destroy(handle);
    }
}

// The codec reads each sample as a load does, with and without the added
// layouts, as the picture pm_load_pcx reads and as page 0.
TEST_F(PcxSamples, TheCodecDecodesWhatALoadShows)
{
    for (const fs::path &path : samples())
        for (const int32_t flags : {0, int32_t(pcx_all_layouts)})
            for (const int32_t page : {-1, 0})
                EXPECT_TRUE(pixmora_test::codec_agrees_with_load(read_all(path), flags, page))
                    << path.filename().string() << ", flags " << flags;
}

} // namespace
