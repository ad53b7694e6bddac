#include "bench/pcx_data.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include <unistd.h>

#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr extent sky_size{640, 200};

// Shared samples beside the source tree, used when present.
struct sample {
    const char *name;
    const char *file;
    bool planar24;
};
constexpr sample samples[] = {
    {"mysha256", "allegro5-mysha.pcx", false},
    {"mask24", "allegro5-mask.pcx", true},
};

fs::path samples_dir()
{
    return fs::path(PIXMORA_SOURCE_DIR).parent_path() / "shared" / "pcx-samples";
}

std::vector<uint8_t> read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Brightness of the sky at (x, y), 0..255: light towards the horizon (the
// bottom), with soft cloud bands and a little grain, like a photograph.
int32_t sky_level(int32_t x, int32_t y, std::mt19937 &grain)
{
    const double gradient = 30.0 + 190.0 * y / (sky_size.height - 1);
    const double clouds = 18.0 * std::sin(x / 41.0 + y / 17.0) * std::sin(x / 97.0 - y / 29.0);
    const double noise = static_cast<double>(grain() % 7) - 3.0;
    return std::clamp(static_cast<int32_t>(gradient + clouds + noise), 0, 255);
}

// The picture in the active buffer written as a PCX file and read back.
std::vector<uint8_t> save_active(extent size)
{
    const fs::path file = fs::temp_directory_path() / ("pixmora-bench-" + std::to_string(::getpid()) + ".pcx");
    std::vector<uint8_t> bytes;
    if (pm_save_pcx(file.string().c_str(), 0, size.width - 1, 0, size.height - 1) == 0)
        bytes = read_file(file);
    std::error_code ignored;
    fs::remove(file, ignored);
    return bytes;
}

struct made_picture {
    std::vector<uint8_t> bytes;
    pcx_expected expected;
};

// 256 colours with a blue gradient palette, saved with its trailer palette.
made_picture make_sky256()
{
    active_buffer buffer(sky_size, 8);
    if (!buffer.ok())
        return {};
    made_picture made;
    uint8_t rgb[768];
    for (int32_t i = 0; i < 256; ++i) {
        rgb[3 * i] = static_cast<uint8_t>(40 + i * 170 / 255);
        rgb[3 * i + 1] = static_cast<uint8_t>(80 + i * 150 / 255);
        rgb[3 * i + 2] = static_cast<uint8_t>(180 + i * 75 / 255);
    }
    pm_set_palette_entries(0, 256, rgb);
    std::mt19937 grain(1);
    for (int32_t y = 0; y < sky_size.height; ++y) {
        uint8_t *row = buffer.row(y);
        for (int32_t x = 0; x < sky_size.width; ++x) {
            row[x] = static_cast<uint8_t>(sky_level(x, y, grain));
            made.expected.indices.push_back(row[x]);
            const uint8_t *colour = rgb + 3 * row[x];
            made.expected.colours.push_back(uint32_t{colour[0]} << 16 | uint32_t{colour[1]} << 8 | colour[2]);
        }
    }
    made.bytes = save_active(sky_size);
    return made;
}

// Full colour: each channel has its own grain, so runs are rare, as in a
// scanned picture; saved as three planes of 8 bits.
made_picture make_sky24()
{
    active_buffer buffer(sky_size, 32);
    if (!buffer.ok())
        return {};
    made_picture made;
    std::mt19937 grain(2);
    for (int32_t y = 0; y < sky_size.height; ++y) {
        uint8_t *row = buffer.row(y);
        for (int32_t x = 0; x < sky_size.width; ++x) {
            const int32_t level = sky_level(x, y, grain);
            row[4 * x] = static_cast<uint8_t>(std::min(255, 170 + level / 3 + static_cast<int32_t>(grain() % 5)));
            row[4 * x + 1] = static_cast<uint8_t>(60 + level * 150 / 255 + static_cast<int32_t>(grain() % 5));
            row[4 * x + 2] = static_cast<uint8_t>(30 + level * 170 / 255 + static_cast<int32_t>(grain() % 5));
            row[4 * x + 3] = 0;
            made.expected.colours.push_back(uint32_t{row[4 * x + 2]} << 16 | uint32_t{row[4 * x + 1]} << 8 |
                                            row[4 * x]);
        }
    }
    made.bytes = save_active(sky_size);
    return made;
}

// 16 colours (entries 10..25, as a loaded 16-colour picture has them),
// saved in a layout of 16 colours: four planes of one bit, or one plane of
// 4 bits.
made_picture make_sky16(int32_t layout)
{
    active_buffer buffer(sky_size, 8);
    if (!buffer.ok())
        return {};
    made_picture made;
    uint8_t rgb[48];
    for (int32_t i = 0; i < 16; ++i) {
        rgb[3 * i] = static_cast<uint8_t>(40 + i * 11);
        rgb[3 * i + 1] = static_cast<uint8_t>(80 + i * 10);
        rgb[3 * i + 2] = static_cast<uint8_t>(180 + i * 5);
    }
    pm_set_palette_entries(10, 16, rgb);
    std::mt19937 grain(3);
    for (int32_t y = 0; y < sky_size.height; ++y) {
        uint8_t *row = buffer.row(y);
        for (int32_t x = 0; x < sky_size.width; ++x) {
            // Every colour shows, first in the top row, so that the saved
            // palette keeps the entries' order.
            const int32_t level = sky_level(x, y, grain) / 16;
            const int32_t colour = y == 0 && x < 16 ? x : level;
            row[x] = static_cast<uint8_t>(10 + colour);
            made.expected.indices.push_back(row[x]);
            const uint8_t *c = rgb + 3 * colour;
            made.expected.colours.push_back(uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2]);
        }
    }
    uint32_t size = 0;
    const int32_t right = sky_size.width - 1, bottom = sky_size.height - 1;
    if (pm_save_pcx_memory(nullptr, 0, &size, layout, 0, right, 0, bottom) != 0)
        return {};
    made.bytes.resize(size);
    if (pm_save_pcx_memory(made.bytes.data(), size, &size, layout, 0, right, 0, bottom) != 0)
        made.bytes.clear();
    return made;
}

// A DCX file of dcx_pages copies of the 4-bit picture.
made_picture make_sky16_pages()
{
    made_picture page = make_sky16(pcx_layout_packed16);
    if (page.bytes.empty())
        return {};
    made_picture made;
    made.expected = page.expected;
    const uint32_t directory = 4 * (dcx_pages + 2);
    auto put = [&made](uint32_t value) {
        for (int32_t i = 0; i < 4; ++i)
            made.bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    put(0x3ADE68B1);
    for (int32_t i = 0; i < dcx_pages; ++i)
        put(directory + static_cast<uint32_t>(i * page.bytes.size()));
    put(0);
    for (int32_t i = 0; i < dcx_pages; ++i)
        made.bytes.insert(made.bytes.end(), page.bytes.begin(), page.bytes.end());
    return made;
}

made_picture make(const std::string &name)
{
    if (name == "sky256")
        return make_sky256();
    if (name == "sky24")
        return make_sky24();
    if (name == "sky16planes")
        return make_sky16(pcx_layout_ega16);
    if (name == "sky16packed")
        return make_sky16(pcx_layout_packed16);
    if (name == "sky16pages")
        return make_sky16_pages();
    for (const sample &s : samples)
        if (name == s.name)
            return {read_file(samples_dir() / s.file), {}};
    return {};
}

// Pillow reads the pictures from files: with PIXMORA_BENCH_PCX_DIR set, each
// one is also written there as <name>.pcx.
void keep_for_peers(const std::string &name, const std::vector<uint8_t> &bytes)
{
    const char *dir = std::getenv("PIXMORA_BENCH_PCX_DIR");
    if (dir == nullptr || *dir == '\0' || bytes.empty())
        return;
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::ofstream out(fs::path(dir) / (name + ".pcx"), std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const made_picture &made(const std::string &name)
{
    static std::map<std::string, made_picture> pictures;
    auto found = pictures.find(name);
    if (found == pictures.end()) {
        found = pictures.emplace(name, make(name)).first;
        keep_for_peers(name, found->second.bytes);
    }
    return found->second;
}

} // namespace

std::vector<pcx_picture> pcx_pictures()
{
    std::vector<pcx_picture> pictures{{"sky256", false}, {"sky24", true}};
    std::error_code ignored;
    for (const sample &s : samples)
        if (fs::is_regular_file(samples_dir() / s.file, ignored))
            pictures.push_back({s.name, s.planar24});
    return pictures;
}

std::vector<std::string> pcx_operations(const pcx_picture &picture)
{
    std::vector<std::string> operations;
    if (!picture.planar24)
        operations.push_back("pcx_" + picture.name + "_8");
    operations.push_back("pcx_" + picture.name + "_32");
    return operations;
}

const std::vector<uint8_t> &pcx_bytes(const std::string &name)
{
    return made(name).bytes;
}

const pcx_expected &pcx_expected_pixels(const std::string &name)
{
    return made(name).expected;
}

extent pcx_extent(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() < 128)
        return {0, 0};
    auto word = [&bytes](size_t at) { return static_cast<int32_t>(bytes[at] | bytes[at + 1] << 8); };
    return {word(8) - word(4) + 1, word(10) - word(6) + 1};
}

active_buffer::active_buffer(extent size, int32_t depth)
{
    start_pixmora();
    pm_state.new_buffer_depth = depth;
    handle_ = pm_buffer_create(size.width, size.height);
    if (handle_ >= 0)
        pm_buffer_activate(handle_);
}

active_buffer::~active_buffer()
{
    if (handle_ < 0)
        return;
    pm_buffer_deactivate();
    pm_buffer_destroy(handle_);
}

uint8_t *active_buffer::row(int32_t y) const
{
    const auto from_bottom = static_cast<size_t>(pm_state.active_max_y - y);
    return pm_state.active_bits + from_bottom * static_cast<size_t>(pm_state.active_stride);
}

void start_pixmora()
{
    if (pm_state.started)
        return;
    pm::soft::set_depth(32);
    pm_attach_dc(pm::soft::window_create(640, 400));
    pm_startup();
}

} // namespace bench
