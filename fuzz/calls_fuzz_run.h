// What the call-sequence fuzz target does with one input, shared with the
// regression test that replays its corpus and past findings.
//
// The input picks a display depth and window size, then a sequence of library
// calls with hostile arguments. Each result is checked against the values the
// header documents; loads, saves and the final cleanup are checked further:
//   - a refused load changes no pixel and no palette entry;
//   - the input block is back where it was after every load;
//   - a rectangle saved and loaded back over itself changes nothing;
//   - after the cleanup the display holds nothing it did not hold before.
// run() returns "" when every check held, else what went wrong first.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "platform/platform.h"
#include "platform/soft/soft_display.h"
#include "platform/soft/testing/soft_testing.h"
#include "fuzz/choices.h"
#include "fuzz/memory_file.h"

namespace calls_fuzz {

using fuzz::choices;

// Files the loads and saves use, made once per process: an in-memory file,
// a named pipe with no writer, and a name that does not exist.
struct files {
    int memory_file = -1;
    std::string memory_name;
    std::filesystem::path dir;
    std::string pipe_name;
    std::string missing_name;

    files()
    {
        memory_file = fuzz::memory_file_open("calls-fuzz-file", &memory_name);
        dir = std::filesystem::temp_directory_path() / ("pixmora-calls-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        pipe_name = (dir / "pipe.pcx").string();
        ::mkfifo(pipe_name.c_str(), 0600);
        missing_name = (dir / "missing.pcx").string();
    }
    ~files()
    {
        if (memory_file >= 0)
            ::close(memory_file);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    files(const files &) = delete;
    files &operator=(const files &) = delete;
};

inline files &shared_files()
{
    static files made;
    return made;
}

// The record as the program loaded it, to start every run from.
inline const pm_state_record &initial_state()
{
    static const pm_state_record *copy = [] {
        auto *state = new pm_state_record;
        std::memcpy(static_cast<void *>(state), &pm_state, sizeof pm_state);
        return state;
    }();
    return *copy;
}

class run_state {
public:
    explicit run_state(const uint8_t *data, size_t size) : in_(data, size) {}

    std::string run()
    {
        files &f = shared_files();
        std::memcpy(static_cast<void *>(&pm_state), &initial_state(), sizeof pm_state);
        pm_state.input_block = pm_state.read_buffer;
        pm::soft::reset();
        const int32_t objects = pm::soft::live_objects(), dcs = pm::soft::live_memory_dcs();
        const int32_t globals = pm::soft::live_global_blocks(), open = pm::soft::open_files();

        static const int32_t display_depths[] = {1, 4, 8, 15, 16, 24, 32};
        display_depth_ = in_.PickValueInArray(display_depths);
        pm::soft::set_depth(display_depth_);
        window_ = pm::soft::window_create(in_.ConsumeIntegralInRange<int32_t>(0, 48),
                                      in_.ConsumeIntegralInRange<int32_t>(0, 48));
        pm_attach_dc(window_);
        check(pm_startup() == 0, "pm_startup");
        pm_hpalette palette = pm_create_default_palette();
        check(palette != nullptr, "pm_create_default_palette");
        check(pm_realize_palette(palette) == 0, "pm_realize_palette");

        for (int step = 0; step < 64 && in_.remaining_bytes() > 0 && failure_.empty(); ++step)
            one_call(f);

        // The cleanup a program makes before it ends.
        pm_buffer_deactivate();
        pm_buffer_destroy(-1);
        pm_shutdown();
        pm::platform::object_delete(palette);
        pm::soft::window_destroy(window_);
        check(pm::soft::live_objects() == objects, "bitmaps or palettes left after the cleanup");
        check(pm::soft::live_memory_dcs() == dcs, "memory contexts left after the cleanup");
        check(pm::soft::live_global_blocks() == globals, "global blocks left after the cleanup");
        check(pm::soft::open_files() == open, "files left open after the cleanup");
        return failure_;
    }

private:
    void check(bool held, const std::string &what)
    {
        if (!held && failure_.empty())
            failure_ = what;
    }

    // Arguments: mostly small, sometimes at the edges of their type.
    int32_t any_int(int32_t low, int32_t high)
    {
        static const int32_t edges[] = {INT32_MIN, INT32_MIN + 1, -65536, -32800, -1, 0, 1, 255, 256,
                                        4095, 4096, 32767, 32799, 32800, 65536, INT32_MAX - 1, INT32_MAX};
        if (in_.ConsumeIntegralInRange<uint8_t>(0, 7) == 0)
            return in_.PickValueInArray(edges);
        return in_.ConsumeIntegralInRange<int32_t>(low, high);
    }
    int32_t any_handle()
    {
        if (in_.ConsumeBool())
            return any_int(-2, 258);
        return in_.ConsumeIntegralInRange<int32_t>(0, 3); // the first slots, the likely ones in use
    }
    int32_t coordinate()
    {
        return any_int(-8, (pm_state.active_index >= 0 ? pm_state.active_width : 32) + 8);
    }

    // An array of count bytes from the input (the rest zero); never empty,
    // so that its address is always real.
    std::vector<uint8_t> bytes(size_t count)
    {
        std::vector<uint8_t> made = in_.ConsumeBytes<uint8_t>(count);
        made.resize(count == 0 ? 1 : count, 0);
        if (count == 0)
            made.shrink_to_fit();
        return made;
    }

    static bool image_fits(int32_t width, int32_t height, size_t limit)
    {
        return width >= 1 && height >= 1 && static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= limit;
    }

    void sync_slots()
    {
        for (int32_t i = 0; i < PM_SLOTS; ++i)
            used_[static_cast<size_t>(i)] = pm_state.slot_bits[i] != nullptr;
    }

    // The active buffer's pixels and the palette, to see that a refused load
    // changes neither.
    struct picture_state {
        std::vector<uint8_t> pixels;
        std::vector<uint8_t> palette;
        bool operator==(const picture_state &other) const
        {
            return pixels == other.pixels && palette == other.palette;
        }
    };
    static picture_state take_picture(bool colour_bytes_only = false)
    {
        picture_state taken;
        if (pm_state.active_index >= 0) {
            const size_t length = static_cast<size_t>(pm_state.active_stride) * static_cast<size_t>(pm_state.active_height);
            taken.pixels.assign(pm_state.active_bits, pm_state.active_bits + length);
            // A 32-bit pixel's fourth byte is not kept by a saved picture.
            if (colour_bytes_only && pm_state.active_depth == 32)
                for (size_t i = 3; i < length; i += 4)
                    taken.pixels[i] = 0;
        }
        const auto *entries = reinterpret_cast<const uint8_t *>(pm_state.logical_palette.palPalEntry);
        taken.palette.assign(entries, entries + sizeof pm_state.logical_palette.palPalEntry);
        return taken;
    }

    // A picture to load: raw input bytes, or a header made well enough to be
    // read, with the data from the input.
    std::vector<uint8_t> picture()
    {
        if (in_.ConsumeBool())
            return bytes(in_.ConsumeIntegralInRange<size_t>(0, 1024));
        std::vector<uint8_t> made(128, 0);
        static const uint8_t layouts[][2] = {{1, 1}, {1, 4}, {8, 1}, {8, 3}, {1, 3}, {4, 1}, {2, 1}};
        const uint8_t *layout = layouts[in_.ConsumeIntegralInRange<size_t>(0, std::size(layouts) - 1)];
        const int32_t width = in_.ConsumeIntegralInRange<int32_t>(1, 80);
        const int32_t height = in_.ConsumeIntegralInRange<int32_t>(1, 60);
        const int32_t x = in_.ConsumeIntegralInRange<int32_t>(-4, 40), y = in_.ConsumeIntegralInRange<int32_t>(-4, 40);
        made[0] = 0x0A;
        made[1] = 5;
        made[2] = 1;
        made[3] = layout[0];
        auto put16 = [&](size_t at, int32_t value) {
            made[at] = static_cast<uint8_t>(value);
            made[at + 1] = static_cast<uint8_t>(value >> 8);
        };
        put16(4, x);
        put16(6, y);
        put16(8, x + width - 1);
        put16(10, y + height - 1);
        made[65] = layout[1];
        const int32_t line = (width * layout[0] + 7) / 8;
        put16(66, line + (line & 1) + in_.ConsumeIntegralInRange<int32_t>(-2, 2));
        const std::vector<uint8_t> data = bytes(in_.ConsumeIntegralInRange<size_t>(0, 1200));
        made.insert(made.end(), data.begin(), data.end());
        if (in_.ConsumeBool()) { // a trailer palette
            made.push_back(0x0C);
            const std::vector<uint8_t> colours = bytes(768);
            made.insert(made.end(), colours.begin(), colours.end());
        }
        return made;
    }

    void load(files &f)
    {
        const int32_t flags = in_.ConsumeIntegralInRange<int32_t>(0, 15);
        const std::vector<uint8_t> data = picture();
        const int source = in_.ConsumeIntegralInRange<int>(0, 3);
        if (in_.ConsumeBool())
            pm::soft::fail_next_global_allocs(1);
        const picture_state before = take_picture();
        int32_t result;
        if (source == 0 || (flags & pcx_from_memory) != 0) {
            pm_set_input_block(data.data(), static_cast<uint32_t>(data.size()));
            result = pm_load_pcx(nullptr, flags | pcx_from_memory);
            check(pm_state.input_block == data.data() && pm_state.input_block_size == data.size(),
                  "the input block moved in a memory load");
        } else {
            const char *name = f.missing_name.c_str();
            if (source == 1)
                name = f.pipe_name.c_str();
            else if (source == 2 && fuzz::memory_file_fill(f.memory_file, data.data(), data.size()))
                name = f.memory_name.c_str();
            const uint32_t refill = static_cast<uint32_t>(any_int(0, 300));
            pm_set_input_block(pm_state.read_buffer, refill);
            result = pm_load_pcx(name, flags);
            check(pm_state.input_block == pm_state.read_buffer && pm_state.input_block_size == refill,
                  "the input block moved in a file load");
            if (name != f.memory_name.c_str())
                check(result == (pm_state.active_index >= 0 ? PM_PCX_OPEN_FAILED : PM_PCX_OK), "a load of no file gave " + std::to_string(result));
        }
        pm::soft::fail_next_global_allocs(0);
        pm_set_input_block(nullptr, 0);
        check(result >= PM_PCX_OK && result <= PM_PCX_NO_MEMORY, "pm_load_pcx gave " + std::to_string(result));
        check(pm_pcx_result_text(result) != nullptr && pm_pcx_result_text(any_int(-8, 8)) != nullptr,
              "pm_pcx_result_text gave null");
        if (result != 0)
            check(take_picture() == before, "a refused load (" + std::to_string(result) + ") changed the picture");
    }

    void save_and_load_back(files &f)
    {
        const int32_t min_x = coordinate(), max_x = coordinate();
        const int32_t min_y = coordinate(), max_y = coordinate();
        const int32_t result = pm_save_pcx(f.memory_name.c_str(), min_x, max_x, min_y, max_y);
        const bool inside = pm_state.active_index >= 0 && min_x >= 0 && min_x <= max_x &&
                            max_x < pm_state.active_width && min_y >= 0 && min_y <= max_y &&
                            max_y < pm_state.active_height;
        check(result == (inside ? PM_PCX_OK : PM_PCX_INVALID), "pm_save_pcx gave " + std::to_string(result));
        if (result != 0)
            return;
        const picture_state before = take_picture(true);
        pm_move_cursor(min_x, min_y);
        pm_set_input_block(nullptr, 0);
        const int32_t loaded = pm_load_pcx(f.memory_name.c_str(), pcx_at_cursor | pcx_keep_palette);
        check(loaded == 0, "loading a saved rectangle gave " + std::to_string(loaded));
        check(take_picture(true) == before, "a saved rectangle loaded over itself changed the picture");
    }

    void one_call(files &f)
    {
        switch (in_.ConsumeIntegralInRange<int>(0, 17)) {
        case 0: {
            static const int32_t buffer_depths[] = {8, 16, 24, 32, 8, 16, 24, 32, 0, 1, 4, 12, 15, 64, -8};
            const int32_t depth = in_.PickValueInArray(buffer_depths);
            const int32_t width = any_int(-2, 48), height = any_int(-2, 48);
            const bool failing = in_.ConsumeIntegralInRange<int>(0, 15) == 0;
            const bool valid_depth = depth == 8 || depth == 16 || depth == 24 || depth == 32;
            const int64_t row = (int64_t{width} + 3) / 4 * 4 * (valid_depth ? depth / 8 : 1);
            const bool valid_size = width >= 1 && height >= 1 && row <= INT32_MAX && row * height <= INT32_MAX;
            // A buffer the library would make, but too large to fuzz quickly.
            if (valid_depth && valid_size && row * height > (1 << 20))
                break;
            if (failing)
                (in_.ConsumeBool() ? pm::soft::fail_next_dib_sections : pm::soft::fail_next_global_allocs)(1);
            const int32_t before = pm_state.new_buffer_depth;
            const int32_t set = pm_set_new_buffer_depth(depth);
            check(set == (valid_depth ? 0 : -1) && pm_state.new_buffer_depth == (valid_depth ? depth : before),
                  "pm_set_new_buffer_depth gave " + std::to_string(set));
            pm_state.new_buffer_depth = depth; // written directly, as callers may
            const int32_t handle = pm_buffer_create(width, height);
            pm::soft::fail_next_dib_sections(0);
            pm::soft::fail_next_global_allocs(0);
            const bool valid = valid_depth && valid_size;
            int32_t free_slots = 0;
            for (bool slot : used_)
                free_slots += slot ? 0 : 1;
            if (free_slots == 0)
                check(handle == PM_BUFFER_NO_FREE_SLOT, "pm_buffer_create with no slot free gave " + std::to_string(handle));
            else if (handle >= 0)
                check(handle < PM_SLOTS && !used_[static_cast<size_t>(handle)] && pm_state.slot_bits[handle] != nullptr,
                      "pm_buffer_create gave a slot in use: " + std::to_string(handle));
            else
                check(handle == PM_BUFFER_CANNOT_CREATE && (!valid || failing), "pm_buffer_create gave " + std::to_string(handle));
            break;
        }
        case 1: {
            const int32_t handle = any_handle();
            const int32_t result = pm_buffer_activate(handle);
            const int32_t expected = handle < 0 || handle >= PM_SLOTS            ? PM_BUFFER_BAD_HANDLE
                                     : used_[static_cast<size_t>(handle)] ? 0
                                                                          : PM_BUFFER_FREE_SLOT;
            check(result == expected, "pm_buffer_activate gave " + std::to_string(result));
            if (result == 0)
                check(pm_state.active_index == handle, "pm_buffer_activate did not activate");
            break;
        }
        case 2:
            check(pm_buffer_deactivate() == 0 && pm_state.active_index == -1, "pm_buffer_deactivate");
            break;
        case 3: {
            const int32_t handle = any_handle();
            const int32_t active = pm_state.active_index;
            check(pm_buffer_destroy(handle) == 0, "pm_buffer_destroy");
            for (int32_t i = 0; i < PM_SLOTS; ++i) {
                const bool expected = used_[static_cast<size_t>(i)] &&
                                      !((handle == i || (handle < 0 && active < 0)) && i != active);
                check((pm_state.slot_bits[i] != nullptr) == expected, "pm_buffer_destroy freed the wrong slots");
            }
            break;
        }
        case 4: {
            const int32_t first = any_int(-2, 258), count = any_int(-2, 258);
            const bool null = in_.ConsumeIntegralInRange<int>(0, 7) == 0;
            const std::vector<uint8_t> rgb = bytes(count >= 0 && count <= 256 ? static_cast<size_t>(count) * 3 : 3);
            check(pm_set_palette_entries(first, count, null ? nullptr : rgb.data()) == 0, "pm_set_palette_entries");
            break;
        }
        case 5:
            load(f);
            break;
        case 6:
            save_and_load_back(f);
            break;
        case 7: {
            const int32_t values[8] = {any_int(-8, 56), any_int(-8, 56), any_int(-8, 56), any_int(-8, 56),
                                       any_int(-8, 56), any_int(-8, 56), any_handle(), any_handle()};
            check(pm_copy_region(values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                                 values[7]) == 0,
                  "pm_copy_region");
            break;
        }
        case 8:
        case 9: {
            const int32_t width = any_int(-2, 40), height = any_int(-2, 40);
            std::vector<uint8_t> image = bytes(image_fits(width, height, 1 << 16) ? size_t(width) * size_t(height) : 0);
            if (!image_fits(width, height, 1 << 16) && width >= 1 && height >= 1)
                break; // the caller's array must hold width x height bytes
            pm_move_cursor(coordinate(), coordinate());
            const int32_t result = in_.ConsumeBool() ? pm_capture_image(image.data(), width, height)
                                                     : pm_paste_image(in_.ConsumeBool() ? image.data() : nullptr, width, height);
            check(result == 0, "pm_capture_image or pm_paste_image");
            break;
        }
        case 10: {
            const int32_t width = any_int(-1, 24), height = any_int(-1, 24);
            const int32_t new_width = any_int(-1, 64), new_height = any_int(-1, 64);
            const bool fits = image_fits(width, height, 1 << 16) && image_fits(new_width, new_height, 1 << 16);
            if (!fits && width >= 1 && height >= 1 && new_width >= 1 && new_height >= 1)
                break;
            std::vector<uint8_t> source = bytes(fits ? size_t(width) * size_t(height) : 0);
            std::vector<uint8_t> destination(fits ? size_t(new_width) * size_t(new_height) : 1);
            check(pm_scale_image(source.data(), destination.data(), width, height, new_width, new_height) == 0,
                  "pm_scale_image");
            break;
        }
        case 11: {
            int32_t v[8];
            for (int32_t &value : v)
                value = any_int(-8, 64);
            check(pm_present(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]) == 0, "pm_present");
            break;
        }
        case 12: {
            std::vector<uint8_t> rgb = bytes(768);
            const int32_t first = any_int(-2, 258), count = any_int(-2, 258);
            check(pm_reduce_colours(first, count, in_.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : rgb.data()) == 0,
                  "pm_reduce_colours");
            break;
        }
        case 13:
            check(pm_move_cursor(any_int(-64, 64), any_int(-64, 64)) == 0, "pm_move_cursor");
            break;
        case 14: {
            const int32_t width = any_int(-2, 100), height = any_int(-2, 100);
            const uint64_t per_pixel = pm_state.active_depth >= 24 ? 3 : pm_state.active_depth == 16 ? 2 : 1;
            uint64_t expected = 0;
            if (width >= 1 && height >= 1)
                expected = std::min<uint64_t>(uint64_t(width) * uint64_t(height) * per_pixel, 0xFFFFFFFFu);
            check(pm_image_size(width, height) == expected, "pm_image_size");
            break;
        }
        case 15:
            check(pm_select_stock_font(any_int(-1, 20)) == 0, "pm_select_stock_font");
            check(pm_display_depth() == (display_depth_ == 15 ? 16 : display_depth_), "pm_display_depth");
            break;
        case 16:
            check(pm_buffer_sync_colour_table() == 0 && pm_startup() == 0, "pm_buffer_sync_colour_table or pm_startup");
            break;
        case 17:
            pm::soft::window_resize(window_, in_.ConsumeIntegralInRange<int32_t>(0, 48), in_.ConsumeIntegralInRange<int32_t>(0, 48));
            break;
        }
        sync_slots();
    }

    choices in_;
    int32_t display_depth_ = 32;
    pm_hdc window_ = nullptr;
    std::array<bool, PM_SLOTS> used_{};
    std::string failure_;
};

// Runs one input; "" when every check held.
inline std::string run(const uint8_t *data, size_t size)
{
    run_state state(data, size);
    return state.run();
}

} // namespace calls_fuzz
