// The library's kernel table: every instruction set the processor offers,
// one at a time, against the scalar references on the same seeded inputs,
// byte for byte, including the bytes around what a kernel should write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "graphics/kernels/kernels.h"
#include "graphics/pcx.h"
#include "graphics/scaling.h"
#include "support/library_fixture.h"

namespace {

using bytes = std::vector<uint8_t>;
using pixmora_test::same_bytes;

// A seeded run-length stream of the shapes the token windows must sort out:
// data bytes, runs of every count and value, runs of none, the short runs
// of bright values that photographs give, and long stretches of bytes of
// 0xC0 and over, whose tokens depend on where the stretch began.
bytes random_token_stream(std::mt19937 &random, size_t size)
{
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    bytes out;
    while (out.size() < size) {
        const int32_t kind = pick(0, 5);
        for (int32_t n = pick(1, 80); n > 0; --n) {
            if (kind == 0) {
                out.push_back(uint8_t(pick(0, 0xBF)));
            } else if (kind == 1) {
                out.push_back(uint8_t(0xC0 | pick(0, 63)));
                out.push_back(uint8_t(pick(0, 255)));
                n = std::min(n, pick(0, 3));
            } else if (kind == 2) {
                out.push_back(uint8_t(0xC0 | pick(0, 3)));
                out.push_back(uint8_t(pick(0xC0, 0xFF)));
            } else if (kind == 3) {
                out.push_back(uint8_t(pick(0xC0, 0xFF)));
            } else if (kind == 4) {
                out.push_back(0xC0);
                out.push_back(uint8_t(pick(0, 255)));
            } else {
                out.push_back(uint8_t(pick(0, 2) == 0 ? 0xC0 | pick(0, 63) : pick(0, 255)));
            }
        }
    }
    out.resize(size);
    return out;
}

// `count` scanlines of `length` bytes decoded from a memory stream as the
// loader decodes them, one after the other, each followed by its carry.
bytes decode_lines(const bytes &encoded, int32_t length, int32_t count)
{
    pm::pcx_stream stream{};
    stream.picture = encoded.data();
    stream.picture_size = uint32_t(encoded.size());
    stream.position = encoded.data();
    stream.left = uint32_t(encoded.size());
    bytes scanline(size_t(length + pm::pcx_scanline_spare), 0), out;
    for (int32_t i = 0; i < count; ++i) {
        pm::pcx_decode_scanline(stream, scanline.data(), length);
        out.insert(out.end(), scanline.begin(), scanline.begin() + length);
        out.push_back(uint8_t(stream.carry));
        std::memmove(scanline.data(), scanline.data() + length, size_t(stream.carry));
    }
    return out;
}

// A PCX file of `planes` 8-bit planes with the given run-length data.
bytes pcx_file(int32_t width, int32_t height, int32_t planes, const bytes &data)
{
    pm::pcx_header_layout h{};
    h.manufacturer = pm::pcx_manufacturer;
    h.encoding = pm::pcx_encoding_run_length;
    h.bits_per_pixel = 8;
    h.x_max = pm::pcx_le16(uint16_t(width - 1));
    h.y_max = pm::pcx_le16(uint16_t(height - 1));
    h.planes = uint8_t(planes);
    h.bytes_per_line = pm::pcx_le16(uint16_t(width));
    bytes file(sizeof h);
    std::memcpy(file.data(), &h, sizeof h);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

class GraphicsKernels : public pixmora_test::LibraryTest {
protected:
    void TearDown() override
    {
        pm::kernels_select(pm::cpu::allowed());
        std::filesystem::remove(path_);
        LibraryTest::TearDown();
    }
    // What `run` gives with the scalar references, and with `set`'s kernels.
    ::testing::AssertionResult same_as_scalar(pm::cpu::sets set, const std::function<bytes()> &run)
    {
        pm::kernels_select(0);
        const bytes reference = run();
        pm::kernels_select(set);
        return same_bytes(reference, run());
    }
    const std::string path_ = (std::filesystem::temp_directory_path() / "pixmora_kernels_test.pcx").string();
};

TEST_F(GraphicsKernels, EverySetGivesTheScalarReferencesBytes)
{
    std::vector<pm::cpu::sets> offered;
    for (pm::cpu::sets set = 1; set <= pm::cpu::every; set <<= 1)
        if ((set & pm::cpu::detected()) != 0 && pm::kernels_select(set) == set)
            offered.push_back(set);
    if (offered.empty())
        GTEST_SKIP() << "this build has no kernels for this processor";
    pixmora_test::start_library(32);

    std::mt19937 random(20260512);
    auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    // Lengths around the vector widths, and now and then around a limit.
    auto length_near = [&](int32_t limit) { return pick(0, 3) == 0 ? limit + pick(-20, 20) : pick(0, 100); };
    auto noise = [&](size_t size) {
        bytes out(size);
        for (uint8_t &b : out)
            b = uint8_t(random());
        return out;
    };
    for (const pm::cpu::sets set : offered) {
        SCOPED_TRACE(pm::cpu::name(set));
        for (int32_t round = 0; round < 150; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));

            // Rectangle rows: lengths either side of one and two stores and of
            // the longest copied in line; the destination's bytes around the
            // rows show any store past them.
            {
                const auto length = size_t(std::max(0, length_near(2048)));
                const int64_t count = pick(1, 4), from_stride = int64_t(length) + pick(0, 40),
                              to_stride = int64_t(length) + pick(0, 40);
                const size_t from_at = size_t(pick(0, 31)), to_at = size_t(pick(1, 31));
                const bytes from = noise(size_t(from_stride * count) + 32);
                const auto copy = [&] {
                    bytes to(size_t(to_stride * count) + 64, 0xEE);
                    pm::kernels().copy_rows(from.data() + from_at, from_stride, to.data() + to_at, to_stride, length,
                                            count);
                    return to;
                };
                EXPECT_TRUE(same_as_scalar(set, copy)) << "copy_rows of " << count << " x " << length;
            }

            // Step masks: counts around multiples of 32 steps, and lengths
            // either side of 2^15.
            {
                const int32_t longer = pick(0, 4) == 0 ? pick(INT16_MAX - 40, INT16_MAX + 40) : pick(2, 200);
                const int32_t shorter = pick(1, longer);
                const auto build = [&] {
                    bytes mask(size_t(pm::step_mask_bytes(longer)) + 8, 0xEE);
                    pm::build_step_mask(longer, shorter, longer, mask.data());
                    return mask;
                };
                EXPECT_TRUE(same_as_scalar(set, build)) << "step mask " << shorter << " / " << longer;
            }

            // Scaling rows: ratios whose blocks of 8 or 16 columns span up to
            // 32 bytes, widths that end blocks at a row's end, output rows
            // either side of a column chunk, and rows made in batches and alone.
            {
                const int32_t width = pick(0, 3) == 0 ? pick(1, 40) : pick(1, 400);
                const int32_t chunk = pm::scale_column_chunk;
                const int32_t new_width =
                    pick(0, 5) == 0 ? pick(chunk - 20, chunk + 20) : std::max(1, width * pick(4, 64) / 16);
                const int32_t height = pick(1, 6), new_height = pick(1, 9);
                const bytes source = noise(size_t(width * height));
                const auto scale = [&] {
                    bytes out(size_t(new_width * new_height) + 32, 0xEE);
                    pm_scale_image(source.data(), out.data(), width, height, new_width, new_height);
                    return out;
                };
                EXPECT_TRUE(same_as_scalar(set, scale)) << "scaling " << width << " x " << height << " to " << new_width << " x " << new_height;
            }

            // PCX rows into 32 bits, from any first column: indices with
            // stretches of one value, and three planes.
            {
                const int32_t first = pick(0, 20), count = length_near(pm::scale_column_chunk);
                const int32_t bytes_per_line = first + count + pick(0, 5);
                bytes scanline = noise(size_t(3 * bytes_per_line + 16));
                for (size_t i = 1; i < scanline.size(); ++i)
                    if (pick(0, 2) != 0)
                        scanline[i] = scanline[i - 1];
                std::vector<uint32_t> pixels(256);
                for (uint32_t &pixel : pixels)
                    pixel = uint32_t(random());
                for (const bool planar : {false, true}) {
                    const auto convert = [&] {
                        bytes row(size_t(4 * count) + 40, 0xEE);
                        const pm::graphics_kernels &k = pm::kernels();
                        (planar ? k.pcx_planar24_to_32 : k.pcx_indexed8_to_32)(scanline.data(), row.data() + 4, first,
                                                                               count, bytes_per_line, pixels.data());
                        return row;
                    };
                    EXPECT_TRUE(same_as_scalar(set, convert)) << (planar ? "planes" : "indices") << " from " << first << ", " << count << " pixels";
                }
            }

            // PCX scanlines: the token windows against one token at a time,
            // on streams cut anywhere, scanline by scanline (carries
            // included); then whole pictures loaded from memory and from a
            // file read in small blocks, at 8 bits straight into the rows
            // and at 32 bits through the scanline.
            {
                const bytes stream = random_token_stream(random, size_t(pick(0, 3000)));
                const int32_t length = pick(0, 3) == 0 ? pick(1, 2500) : pick(1, 300);
                const int32_t lines = int32_t(2 * stream.size()) / length + 2;
                const auto decode = [&] { return decode_lines(stream, length, lines); };
                EXPECT_TRUE(same_as_scalar(set, decode)) << "scanlines of " << length;

                const bool planar = pick(0, 2) == 0;
                const int32_t width = pick(1, planar ? 500 : 1500), height = pick(1, 8);
                const int32_t depth = planar || pick(0, 3) == 0 ? 32 : 8;
                const int32_t handle =
                    pixmora_test::make_buffer(width + pick(0, 1) * pick(0, 9), height + pick(0, 3), depth);
                const bytes file = pcx_file(width, height, planar ? 3 : 1, stream);
                std::ofstream(path_, std::ios::binary)
                    .write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
                const auto block = uint32_t(pick(0, 3) == 0 ? pick(1, 700) : pick(80, 200));
                bytes elsewhere(16); // a caller's block, whose size bounds the file's reads
                for (const bool from_file : {false, true}) {
                    const auto load = [&] {
                        const size_t size = size_t(pm_state.active_stride) * size_t(pm_state.active_height);
                        std::memset(pm_state.active_bits, 0x5A, size);
                        pm_move_cursor(0, 0);
                        pm_set_input_block(from_file ? elsewhere.data() : file.data(),
                                           from_file ? block : uint32_t(file.size()));
                        const int32_t flags = pcx_at_cursor | pcx_keep_palette | (from_file ? 0 : pcx_from_memory);
                        EXPECT_EQ(pm_load_pcx(from_file ? path_.c_str() : nullptr, flags), 0);
                        return bytes(pm_state.active_bits, pm_state.active_bits + size);
                    };
                    EXPECT_TRUE(same_as_scalar(set, load)) << width << " x " << height << (planar ? " planes" : " indices") << " at " << depth
                        << " bits from " << (from_file ? "a file read in blocks of " + std::to_string(block) : "memory");
                }
                pm_buffer_deactivate();
                pm_buffer_destroy(handle);
            }
            if (HasFailure())
                return;
        }
    }
}

} // namespace
