// The Windows platform layer against real GDI, USER32 and KERNEL32 (run under
// Wine in CI): every operation it passes through is called at least once and
// its result checked, directly or through the library operation that relies
// on it. What GDI draws is compared with what the software display draws for
// the same call.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_testing.h"
#include "support/initial_state.h"
#include "win32_reference.h"

namespace {

constexpr int32_t surface_width = 203; // odd sizes keep rows unpadded and scales uneven
constexpr int32_t surface_height = 131;
constexpr uint32_t surface_fill = 0x00123456;

std::string temp_path(const char *name)
{
    char dir[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, dir);
    return std::string(dir, length) + name;
}

std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ReplaceFileW's stand-in: fails with injected_replace_error, leaving the
// files as Microsoft documents for that error; with injected_move_failure,
// the name is then taken by a folder, which no file can be moved over.
DWORD injected_replace_error = 0;
bool injected_move_failure = false;
BOOL WINAPI failing_replace(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID)
{
    if (injected_replace_error == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        DeleteFileW(replaced);
    if (injected_replace_error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        MoveFileW(replaced, (std::wstring(replaced) + L".moved").c_str());
    if (injected_move_failure)
        CreateDirectoryW(replaced, nullptr);
    SetLastError(injected_replace_error);
    return FALSE;
}

// The library attached to a memory context that holds a 32-bit top-down
// section, so that what a presentation draws can be read back exactly.
class Win32PlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pixmora_test::restore_initial_state();

        target_ = CreateCompatibleDC(nullptr);
        ASSERT_NE(target_, nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = surface_width;
        info.bmiHeader.biHeight = -surface_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *bits = nullptr;
        surface_bitmap_ = CreateDIBSection(target_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(surface_bitmap_, nullptr);
        surface_ = static_cast<uint32_t *>(bits);
        previous_bitmap_ = SelectObject(target_, surface_bitmap_);

        pm_attach_dc(target_);
        palette_ = pm_create_default_palette();
        pm_realize_palette(palette_);
        pm_startup();
    }

    void TearDown() override
    {
        pm_buffer_deactivate();
        pm_buffer_destroy(-1);
        pm_shutdown();
        SelectObject(target_, previous_bitmap_);
        DeleteObject(surface_bitmap_);
        DeleteObject(palette_);
        DeleteDC(target_);
    }

    void clear_surface() { std::fill_n(surface_, surface_width * surface_height, surface_fill); }
    std::vector<uint32_t> surface() const
    {
        GdiFlush();
        std::vector<uint32_t> pixels(surface_, surface_ + surface_width * surface_height);
        for (uint32_t &pixel : pixels)
            pixel &= 0x00FFFFFF;
        return pixels;
    }

    // A buffer of the given depth, made active.
    static int32_t make_buffer(int32_t width, int32_t height, int32_t depth)
    {
        pm_state.new_buffer_depth = depth;
        int32_t handle = pm_buffer_create(width, height);
        EXPECT_GE(handle, 0) << width << " x " << height << " at " << depth << " bits";
        pm_buffer_activate(handle);
        return handle;
    }

    HDC target_ = nullptr;
    HBITMAP surface_bitmap_ = nullptr;
    HGDIOBJ previous_bitmap_ = nullptr;
    uint32_t *surface_ = nullptr;
    pm_hpalette palette_ = nullptr;
};

// Reports the first pixel where GDI and the software display differ.
void expect_same_surface(const std::vector<uint32_t> &gdi, const std::vector<uint32_t> &soft, const std::string &what)
{
    ASSERT_EQ(gdi.size(), soft.size());
    for (size_t i = 0; i < gdi.size(); ++i) {
        if (gdi[i] != soft[i]) {
            ADD_FAILURE() << what << ": pixel (" << i % surface_width << ", " << i / surface_width << ") is "
                          << std::hex << gdi[i] << " through GDI, " << soft[i] << " on the software display";
            return;
        }
    }
}

// Start-up: the screen context and its depth, the memory context, the NT
// version bit, the keyboard state, the stock font and its metrics, and the
// video-file library with its entry points; shut-down gives them back.
TEST_F(Win32PlatformTest, StartupReachesTheDisplayFontKeyboardAndVideoLibrary)
{
    HDC screen = GetDC(nullptr);
    const int32_t depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    pm_hdc platform_screen = pm::platform::screen_dc_get();
    ASSERT_NE(platform_screen, nullptr);
    EXPECT_EQ(pm::platform::device_caps(platform_screen, pm::platform::caps_bits_pixel) *
                  pm::platform::device_caps(platform_screen, pm::platform::caps_planes),
              depth);
    pm::platform::screen_dc_release(platform_screen);
    EXPECT_EQ(pm_display_depth(), depth == 15 ? 16 : depth);
    EXPECT_EQ(pm_state.palette_index_mode, depth <= 8 ? 1 : 0);

    EXPECT_EQ(GetObjectType(static_cast<HGDIOBJ>(pm_state.memory_dc)), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(pm_state.platform_is_nt, 1);

    BYTE keys[256];
    ASSERT_TRUE(GetKeyboardState(keys));
    EXPECT_EQ(std::memcmp(keys, pm_state.keyboard_state, sizeof keys), 0);
    uint8_t pressed[256] = {};
    pressed[VK_F5] = 0x80;
    pm::platform::keyboard_state_set(pressed);
    ASSERT_TRUE(GetKeyboardState(keys));
    EXPECT_EQ(keys[VK_F5], 0x80);
    pm::platform::keyboard_state_set(pm_state.keyboard_state);

    EXPECT_EQ(pm_state.stock_font, GetStockObject(OEM_FIXED_FONT));
    EXPECT_EQ(GetCurrentObject(target_, OBJ_FONT), pm_state.stock_font);
    TEXTMETRICA metrics{};
    ASSERT_TRUE(GetTextMetricsA(target_, &metrics));
    EXPECT_GT(metrics.tmHeight, 0);
    EXPECT_EQ(pm_state.font_line_height, metrics.tmHeight + metrics.tmExternalLeading);
    EXPECT_EQ(pm_state.font_average_width, metrics.tmAveCharWidth);

    ASSERT_NE(pm_state.video_library, nullptr);
    HMODULE video = GetModuleHandleA("AVIFIL32.DLL");
    EXPECT_EQ(pm_state.video_library, video);
    for (const pm_entry_point &point : pm_state.video_entry_points)
        EXPECT_EQ(point.address, reinterpret_cast<void *>(GetProcAddress(video, point.name))) << point.name;
    EXPECT_NE(pm_state.video_entry_points[0].address, nullptr);
    EXPECT_EQ(pm::platform::library_symbol(pm_state.video_library, "NoSuchEntryPoint"), nullptr);

    const pm_hdc memory = pm_state.memory_dc;
    pm_shutdown();
    EXPECT_EQ(GetObjectType(static_cast<HGDIOBJ>(memory)), 0u);
    EXPECT_EQ(GetModuleHandleA("AVIFIL32.DLL"), nullptr);
    EXPECT_EQ(GetCurrentObject(target_, OBJ_PAL), pm_state.first_previous_palette);
}

// The default palette is selected and realized in the window's context; set
// entries reach the realized palette object (reserved entries animated).
TEST_F(Win32PlatformTest, PaletteEntriesReadBackFromTheRealizedPalette)
{
    EXPECT_EQ(GetObjectType(palette_), static_cast<DWORD>(OBJ_PAL));
    EXPECT_EQ(GetCurrentObject(target_, OBJ_PAL), palette_);
    EXPECT_EQ(pm_state.palette_handle, palette_);
    EXPECT_NE(pm_state.first_previous_palette, nullptr);
    EXPECT_NE(pm::platform::palette_realize(target_), GDI_ERROR);

    make_buffer(8, 8, 8);
    std::mt19937 random(9);
    std::vector<uint8_t> rgb(236 * 3);
    for (uint8_t &value : rgb)
        value = static_cast<uint8_t>(random());
    pm_set_palette_entries(10, 236, rgb.data());

    PALETTEENTRY realized[256];
    ASSERT_EQ(GetPaletteEntries(static_cast<HPALETTE>(palette_), 0, 256, realized), 256u);
    for (int i = 0; i < 256; ++i) {
        const pm_paletteentry &logical = pm_state.logical_palette.palPalEntry[i];
        EXPECT_EQ(realized[i].peRed, logical.peRed) << "entry " << i;
        EXPECT_EQ(realized[i].peGreen, logical.peGreen) << "entry " << i;
        EXPECT_EQ(realized[i].peBlue, logical.peBlue) << "entry " << i;
    }
    EXPECT_EQ(realized[77].peRed, rgb[3 * 67]);
    EXPECT_EQ(realized[77].peBlue, rgb[3 * 67 + 2]);

    // The display's reserved colours: a true-colour display has none to give.
    pm_paletteentry system[10];
    pm_hdc screen = pm::platform::screen_dc_get();
    const uint32_t reserved = pm::platform::system_palette_entries(screen, 0, 10, system);
    const bool palette_display = (GetDeviceCaps(static_cast<HDC>(screen), RASTERCAPS) & RC_PALETTE) != 0;
    pm::platform::screen_dc_release(screen);
    EXPECT_EQ(reserved, palette_display ? 10u : 0u);
}

// Global memory blocks and files, directly: what is written is read back, a
// missing file and an impossible block are refused.
TEST_F(Win32PlatformTest, GlobalMemoryAndFiles)
{
    pm_hglobal block = pm::platform::global_alloc(pm::platform::gmem_moveable | pm::platform::gmem_zeroinit, 1000);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(pm::platform::global_size(block), 1000u);
    auto *memory = static_cast<uint8_t *>(pm::platform::global_lock(block));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(memory[0] | memory[999], 0);
    memory[999] = 7;
    pm::platform::global_unlock(block);
    EXPECT_EQ(static_cast<uint8_t *>(pm::platform::global_lock(block))[999], 7);
    pm::platform::global_unlock(block);
    pm::platform::global_free(block);
    EXPECT_EQ(pm::platform::global_alloc(pm::platform::gmem_moveable, ~uint64_t{0}), nullptr); // more than any address space

    const std::string path = temp_path("pixmora-platform-file.bin");
    const char text[] = "0123456789abcdef";
    FILE *out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(text, 1, 16, out);
    std::fclose(out);

    pm_hfile file = pm::platform::file_open_read(path.c_str());
    ASSERT_NE(file, nullptr);
    char got[16] = {};
    uint32_t count = 0;
    EXPECT_TRUE(pm::platform::file_read(file, got, 10, &count));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::memcmp(got, text, 10), 0);
    EXPECT_EQ(pm::platform::file_seek(file, -4, pm::platform::seek_origin::end), 12);
    EXPECT_EQ(pm::platform::file_seek(file, 1, pm::platform::seek_origin::current), 13);
    EXPECT_TRUE(pm::platform::file_read(file, got, 16, &count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::memcmp(got, "def", 3), 0);
    EXPECT_EQ(pm::platform::file_seek(file, -1, pm::platform::seek_origin::begin), -1);
    pm::platform::file_close(file);

    // A replacement given up leaves the old file; one finished takes its
    // place. Neither leaves a temporary file in the folder.
    const std::string folder = temp_path("pixmora-platform-replace");
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string replaced = folder + "\\picture.bin";
    ASSERT_TRUE(CopyFileA(path.c_str(), replaced.c_str(), FALSE));
    const auto files_in_folder = [&] {
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        int32_t files = 0;
        if (search != INVALID_HANDLE_VALUE) {
            do
                files += found.cFileName[0] != '.' ? 1 : 0;
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return files;
    };
    pm::platform::file_replacement *replacement = pm::platform::file_replace_begin(replaced.c_str());
    ASSERT_NE(replacement, nullptr);
    EXPECT_TRUE(pm::platform::file_replace_write(replacement, "new", 3));
    pm::platform::file_replace_cancel(replacement);
    EXPECT_EQ(file_bytes(replaced).size(), 16u);
    EXPECT_EQ(files_in_folder(), 1);
    replacement = pm::platform::file_replace_begin(replaced.c_str());
    ASSERT_NE(replacement, nullptr);
    EXPECT_TRUE(pm::platform::file_replace_write(replacement, "new", 3));
    EXPECT_TRUE(pm::platform::file_replace_finish(replacement));
    EXPECT_EQ(file_bytes(replaced), (std::vector<uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(files_in_folder(), 1);

    // What Wine shows of what a replacement keeps: a read-only file is
    // refused untouched, a finished replacement keeps the old file's
    // attributes, every name of a hard link shows the new contents, a long
    // path is followed, and NUL takes the bytes in place.
    const auto replace_with = [](const std::string &name, const char *contents) {
        pm::platform::file_replacement *writer = pm::platform::file_replace_begin(name.c_str());
        return writer != nullptr &&
               pm::platform::file_replace_write(writer, contents, static_cast<uint32_t>(std::strlen(contents))) &&
               pm::platform::file_replace_finish(writer);
    };
    ASSERT_TRUE(SetFileAttributesA(replaced.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(pm::platform::file_replace_begin(replaced.c_str()), nullptr) << "a read-only file was not refused";
    EXPECT_EQ(file_bytes(replaced), (std::vector<uint8_t>{'n', 'e', 'w'}));
    ASSERT_TRUE(SetFileAttributesA(replaced.c_str(), FILE_ATTRIBUTE_HIDDEN));
    // A name a killed save left behind is another save's: left alone.
    const std::string stale = folder + "\\.picture.bin.pm-save";
    std::fclose(std::fopen(stale.c_str(), "wb"));
    EXPECT_TRUE(replace_with(replaced, "kept"));
    EXPECT_NE(GetFileAttributesA(stale.c_str()), INVALID_FILE_ATTRIBUTES) << "another save's file was deleted";
    DeleteFileA(stale.c_str());
    EXPECT_EQ(file_bytes(replaced), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
    EXPECT_NE(GetFileAttributesA(replaced.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u) << "the attributes were lost";
    ASSERT_TRUE(SetFileAttributesA(replaced.c_str(), FILE_ATTRIBUTE_NORMAL));
    const std::string second = folder + "\\second.bin";
    if (CreateHardLinkA(second.c_str(), replaced.c_str(), nullptr)) {
        EXPECT_TRUE(replace_with(replaced, "both"));
        EXPECT_EQ(file_bytes(second), (std::vector<uint8_t>{'b', 'o', 't', 'h'})) << "the second name shows the old file";
        DeleteFileA(second.c_str());
    }
    EXPECT_EQ(files_in_folder(), 1);

    // ReplaceFileW's own failures, injected as Microsoft documents them:
    // after 1175 the old file is as it was; after 1176 (the old file gone)
    // and 1177 (the old file under another name) the new file is moved into
    // place, and when that fails too it stays under its temporary name,
    // never deleted, and the failure is reported.
    const auto names_in_folder = [&] {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do
                if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
                    names.push_back(found.cFileName);
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return names;
    };
    for (const DWORD code : {ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_UNABLE_TO_MOVE_REPLACEMENT,
                             ERROR_UNABLE_TO_MOVE_REPLACEMENT_2})
        for (const bool move_fails : {false, true}) {
            if (code == ERROR_UNABLE_TO_REMOVE_REPLACED && move_fails)
                continue;
            SCOPED_TRACE("ReplaceFileW failing with " + std::to_string(code) + (move_fails ? ", the move too" : ""));
            std::ofstream(replaced, std::ios::binary | std::ios::trunc) << "old";
            injected_replace_error = code;
            injected_move_failure = move_fails;
            pm::platform::replace_file_stand_in = &failing_replace;
            const bool done = replace_with(replaced, "new");
            pm::platform::replace_file_stand_in = nullptr;
            const bool moved = code != ERROR_UNABLE_TO_REMOVE_REPLACED && !move_fails;
            EXPECT_EQ(done, moved);
            if (code == ERROR_UNABLE_TO_REMOVE_REPLACED) {
                EXPECT_EQ(file_bytes(replaced), (std::vector<uint8_t>{'o', 'l', 'd'})) << "the old file was lost";
            }
            if (moved) {
                EXPECT_EQ(file_bytes(replaced), (std::vector<uint8_t>{'n', 'e', 'w'})) << "the new file was lost";
            }
            std::vector<std::string> kept;
            for (const std::string &name : names_in_folder())
                if (name.rfind(".picture.bin.", 0) == 0)
                    kept.push_back(name);
            ASSERT_EQ(kept.size(), move_fails ? 1u : 0u) << "the new file was deleted, or left behind";
            if (move_fails) {
                EXPECT_EQ(file_bytes(folder + "\\" + kept[0]), (std::vector<uint8_t>{'n', 'e', 'w'}));
                DeleteFileA((folder + "\\" + kept[0]).c_str());
                RemoveDirectoryA(replaced.c_str());
            }
            DeleteFileA((replaced + ".moved").c_str());
            EXPECT_EQ(names_in_folder().size(), moved || code == ERROR_UNABLE_TO_REMOVE_REPLACED ? 1u : 0u);
        }
    std::ofstream(replaced, std::ios::binary | std::ios::trunc) << "both";
    EXPECT_TRUE(replace_with("NUL", "nothing"));
    const char pipe_name[] = "\\\\.\\pipe\\pixmora-file-replace";
    HANDLE pipe = CreateNamedPipeA(pipe_name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(replace_with(pipe_name, "piped"));
    char piped[8] = {};
    DWORD piped_length = 0;
    EXPECT_TRUE(ReadFile(pipe, piped, sizeof piped, &piped_length, nullptr));
    EXPECT_EQ(std::string(piped, piped_length), "piped") << "a pipe is written in place";
    CloseHandle(pipe);
    // A long path (in the long form) and, where the system makes symbolic
    // links, a dangling one that leads there, relative to its folder.
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr), 0u);
    std::string deep = std::string("\\\\?\\") + full;
    std::vector<std::wstring> made;
    while (deep.size() < MAX_PATH + 20) {
        deep += "\\" + std::string(60, 'd');
        made.emplace_back(deep.begin(), deep.end());
        ASSERT_TRUE(CreateDirectoryW(made.back().c_str(), nullptr)) << deep;
    }
    const std::string long_name = deep + "\\picture.bin";
    const std::wstring long_wide(long_name.begin(), long_name.end());
    const auto long_contents = [&] {
        HANDLE long_file = CreateFileW(long_wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        char contents[16] = {};
        DWORD length = 0;
        ReadFile(long_file, contents, sizeof contents, &length, nullptr);
        CloseHandle(long_file);
        return std::string(contents, length);
    };
    EXPECT_TRUE(replace_with(long_name, "long"));
    EXPECT_TRUE(replace_with(long_name, "longer"));
    EXPECT_EQ(long_contents(), "longer");
    DeleteFileW(long_wide.c_str());
    const std::string link = folder + "\\link.bin";
    const std::string relative = std::string(deep.begin() + static_cast<std::ptrdiff_t>(std::strlen(full) + 5),
                                             deep.end()) + "\\picture.bin";
    // Wine 8 reports links made that are not there.
    const bool linked = (CreateSymbolicLinkA(link.c_str(), relative.c_str(), 0x2 /* unprivileged */) ||
                         CreateSymbolicLinkA(link.c_str(), relative.c_str(), 0)) &&
                        GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (linked) {
        EXPECT_TRUE(replace_with(link, "linked"));
        EXPECT_EQ(long_contents(), "linked") << "the dangling link was not followed";
        EXPECT_NE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link was replaced";
        DeleteFileA(link.c_str());
        DeleteFileW(long_wide.c_str());
    } else {
        std::printf("Not tried: dangling links, as this system makes no symbolic links\n");
    }
    for (auto at = made.rbegin(); at != made.rend(); ++at)
        RemoveDirectoryW(at->c_str());

    DeleteFileA(replaced.c_str());
    RemoveDirectoryA(folder.c_str());
    std::remove(path.c_str());

    EXPECT_EQ(pm::platform::file_open_read(path.c_str()), nullptr);
    make_buffer(8, 8, 8);
    EXPECT_EQ(pm_load_pcx(path.c_str(), 0), 1);
}

// Per buffer depth: the bitmap section GDI made, a 256-colour PCX loaded from
// a file and from memory, and presentations of it through GDI at 2x, at
// uneven scales and cut by the surface's edges, each compared with the
// software display.
class Win32DepthTest : public Win32PlatformTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(Win32DepthTest, BuffersLoadAndPresentAsTheSoftwareDisplayDoes)
{
    const int32_t depth = GetParam();
    constexpr int32_t width = 60, height = 41; // 60 is a multiple of 4: no width rounding

    // The picture: an 8-bit buffer of seeded indices and colours, saved.
    std::mt19937 random(static_cast<uint32_t>(depth));
    const int32_t source = make_buffer(width, height, 8);
    ASSERT_GE(source, 0);
    std::vector<uint8_t> rgb(256 * 3);
    for (uint8_t &value : rgb)
        value = static_cast<uint8_t>(random());
    pm_set_palette_entries(0, 256, rgb.data());
    for (int32_t i = 0; i < pm_state.active_stride * height; ++i)
        pm_state.active_bits[i] = static_cast<uint8_t>(random());
    const std::vector<uint8_t> indices(pm_state.active_bits, pm_state.active_bits + width * height);
    const std::string path = temp_path("pixmora-platform-picture.pcx");
    ASSERT_EQ(pm_save_pcx(path.c_str(), 0, width - 1, 0, height - 1), 0);
    const std::vector<uint8_t> picture = file_bytes(path);
    pm_buffer_deactivate();
    pm_buffer_destroy(source);

    const int32_t from_memory = make_buffer(width, height, depth);
    ASSERT_GE(from_memory, 0);
    pm_set_input_block(picture.data(), static_cast<uint32_t>(picture.size()));
    ASSERT_EQ(pm_load_pcx(nullptr, pcx_from_memory | pcx_no_reduction), 0);
    pm_set_input_block(nullptr, 0);
    const std::vector<uint8_t> memory_pixels(pm_state.active_bits,
                                             pm_state.active_bits + pm_state.active_stride * height);
    const int32_t from_file = make_buffer(width, height, depth);
    ASSERT_GE(from_file, 0);
    ASSERT_EQ(pm_load_pcx(path.c_str(), pcx_no_reduction), 0);
    std::remove(path.c_str());

    // The section GDI made, selected into the library's memory context.
    BITMAP section{};
    ASSERT_EQ(GetObjectA(static_cast<HGDIOBJ>(pm_state.slot_bitmap[from_file]), sizeof section, &section),
              static_cast<int>(sizeof section));
    EXPECT_EQ(section.bmBitsPixel, depth);
    EXPECT_EQ(section.bmWidth, width);
    EXPECT_EQ(section.bmHeight, height);
    EXPECT_EQ(section.bmBits, pm_state.active_bits);
    EXPECT_EQ(GetCurrentObject(static_cast<HDC>(pm_state.memory_dc), OBJ_BITMAP), pm_state.slot_bitmap[from_file]);

    // Both loads give the same pixels; at 8 bits they are the saved indices.
    EXPECT_EQ(std::vector<uint8_t>(pm_state.active_bits, pm_state.active_bits + pm_state.active_stride * height),
              memory_pixels);
    if (depth == 8) {
        EXPECT_EQ(std::vector<uint8_t>(pm_state.active_bits, pm_state.active_bits + width * height), indices);
    }

    // The whole buffer at 2x, as the library presents it.
    clear_surface();
    pm_present(0, width - 1, 0, height - 1, 0, 2 * width - 1, 0, 2 * height - 1);
    const std::vector<uint32_t> presented = surface();
    expect_same_surface(presented,
                        reference::stretch(surface_width, surface_height, surface_fill,
                                           {0, 0, 2 * width, 2 * height, 0, 0, width, height}, pm_state.active_bits,
                                           pm_state.active_header, pm_state.palette_index_mode),
                        "2x presentation");
    // Away from 16 bits every colour is exact: pixel (2x, 2y) shows the
    // saved picture's colour at (x, y).
    if (depth != 16) {
        const int32_t x = 17, y = 5;
        const uint8_t index = indices[static_cast<size_t>((height - 1 - y) * width + x)];
        const uint32_t colour = (uint32_t{rgb[3 * index]} << 16) | (uint32_t{rgb[3 * index + 1]} << 8) |
                                rgb[3 * index + 2];
        EXPECT_EQ(presented[static_cast<size_t>(2 * y * surface_width + 2 * x)], colour);
    }

    // Directly through the platform, at uneven scales, from part of the
    // buffer, and cut by the surface's edges.
    EXPECT_NE(pm::platform::stretch_mode_set(target_, pm::platform::stretch_color_on_color), 0);
    const reference::stretch_call calls[] = {
        {3, 2, 97, 64, 0, 0, width, height},             // 1.62 x 1.56
        {0, 0, 37, 29, 0, 0, width, height},             // shrinking
        {5, 7, 150, 111, 11, 6, 40, 30},                 // part of the buffer, 3.75 x 3.7
        {-13, -9, 250, 170, 2, 3, 51, 35},               // past every edge of the surface
        {40, 20, 61, 23, 7, 0, 53, 41},                  // shrinking one axis, growing the other
    };
    for (const reference::stretch_call &call : calls) {
        clear_surface();
        // GDI reports the bitmap's height, the software display the
        // rectangle's; nothing relies on more than success.
        EXPECT_GT(pm::platform::stretch_dib(target_, call.dst_x, call.dst_y, call.dst_width, call.dst_height,
                                        call.src_x, call.src_y, call.src_width, call.src_height,
                                        pm_state.active_bits, pm_state.active_header, pm_state.palette_index_mode,
                                        pm::platform::rop_src_copy),
                  0);
        expect_same_surface(surface(),
                            reference::stretch(surface_width, surface_height, surface_fill, call,
                                               pm_state.active_bits, pm_state.active_header,
                                               pm_state.palette_index_mode),
                            "stretch to " + std::to_string(call.dst_width) + " x " +
                                std::to_string(call.dst_height) + " from " + std::to_string(call.src_width) +
                                " x " + std::to_string(call.src_height));
    }

    // Destroying the buffer deletes its section.
    const HGDIOBJ bitmap = static_cast<HGDIOBJ>(pm_state.slot_bitmap[from_memory]);
    pm_buffer_destroy(from_memory);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}

INSTANTIATE_TEST_SUITE_P(Depths, Win32DepthTest, ::testing::Values(8, 16, 24, 32),
                         [](const ::testing::TestParamInfo<int32_t> &depth) {
                             return std::to_string(depth.param) + "bits";
                         });

} // namespace
