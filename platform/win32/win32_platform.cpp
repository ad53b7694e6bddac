// The platform layer on Windows: every operation is the GDI, USER32 or
// KERNEL32 call it is named after, with the same arguments; only library
// loading keeps to the system folder.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {
namespace {

HDC dc_of(pm_hdc dc) { return static_cast<HDC>(dc); }

static_assert(sizeof(pm_paletteentry) == sizeof(PALETTEENTRY));
static_assert(sizeof(text_metric) <= sizeof(TEXTMETRICA));

} // namespace

pm_hdc screen_dc_get() { return GetDC(nullptr); }
void screen_dc_release(pm_hdc dc) { ReleaseDC(nullptr, dc_of(dc)); }
int32_t device_caps(pm_hdc dc, int32_t index) { return GetDeviceCaps(dc_of(dc), index); }

uint32_t system_palette_entries(pm_hdc dc, uint32_t first, uint32_t count, pm_paletteentry *entries)
{
    return GetSystemPaletteEntries(dc_of(dc), first, count, reinterpret_cast<PALETTEENTRY *>(entries));
}

pm_hdc memory_dc_create() { return CreateCompatibleDC(nullptr); }
void memory_dc_delete(pm_hdc dc) { DeleteDC(dc_of(dc)); }
pm_hgdiobj select_object(pm_hdc dc, pm_hgdiobj object) { return SelectObject(dc_of(dc), static_cast<HGDIOBJ>(object)); }
void object_delete(pm_hgdiobj object) { DeleteObject(static_cast<HGDIOBJ>(object)); }

pm_hbitmap dib_section_create(pm_hdc dc, const void *header, int32_t usage, uint8_t **bits)
{
    void *pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc_of(dc), static_cast<const BITMAPINFO *>(header), static_cast<UINT>(usage),
                                      &pixels, nullptr, 0);
    *bits = static_cast<uint8_t *>(pixels);
    return bitmap;
}

int32_t stretch_mode_set(pm_hdc dc, int32_t mode) { return SetStretchBltMode(dc_of(dc), mode); }

int32_t stretch_dib(pm_hdc dc, int32_t dst_x, int32_t dst_y, int32_t dst_width, int32_t dst_height, int32_t src_x,
                    int32_t src_y, int32_t src_width, int32_t src_height, const void *bits, const void *header,
                    int32_t usage, uint32_t rop)
{
    return StretchDIBits(dc_of(dc), dst_x, dst_y, dst_width, dst_height, src_x, src_y, src_width, src_height, bits,
                         static_cast<const BITMAPINFO *>(header), static_cast<UINT>(usage), rop);
}

pm_hpalette palette_create(const pm_logpalette *palette)
{
    return CreatePalette(reinterpret_cast<const LOGPALETTE *>(palette));
}

pm_hpalette palette_select(pm_hdc dc, pm_hpalette palette, int32_t background)
{
    return SelectPalette(dc_of(dc), static_cast<HPALETTE>(palette), background);
}

uint32_t palette_realize(pm_hdc dc) { return RealizePalette(dc_of(dc)); }

int32_t palette_animate(pm_hpalette palette, uint32_t first, uint32_t count, const pm_paletteentry *entries)
{
    return AnimatePalette(static_cast<HPALETTE>(palette), first, count,
                          reinterpret_cast<const PALETTEENTRY *>(entries));
}

pm_hgdiobj stock_object(int32_t index) { return GetStockObject(index); }

int32_t text_metrics(pm_hdc dc, text_metric *metrics)
{
    // The caller's place holds the whole record (the library passes its
    // scratch area).
    return GetTextMetricsA(dc_of(dc), reinterpret_cast<TEXTMETRICA *>(metrics));
}

void keyboard_state_set(const uint8_t state[256]) { SetKeyboardState(const_cast<BYTE *>(state)); }
uint32_t version() { return GetVersion(); }

// From the system folder only: a library of the same name beside the program
// (searched first by LoadLibraryA) would run its code inside the program.
// Windows from before the search flag (Vista and 7 without the update that
// brought it) refuses the flag as an invalid parameter; there the library's
// full path in the system folder is loaded instead, never a plain search.
pm_hmodule library_load(const char *name)
{
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    char path[MAX_PATH];
    const UINT folder_length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t name_length = std::strlen(name);
    if (folder_length == 0 || folder_length + 1 + name_length >= MAX_PATH)
        return nullptr;
    path[folder_length] = '\\';
    std::memcpy(path + folder_length + 1, name, name_length + 1);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void *library_symbol(pm_hmodule module, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void library_free(pm_hmodule module) { FreeLibrary(static_cast<HMODULE>(module)); }

pm_hglobal global_alloc(uint32_t flags, uint64_t size) { return GlobalAlloc(flags, static_cast<SIZE_T>(size)); }
void *global_lock(pm_hglobal block) { return GlobalLock(static_cast<HGLOBAL>(block)); }
void global_unlock(pm_hglobal block) { GlobalUnlock(static_cast<HGLOBAL>(block)); }
void global_free(pm_hglobal block) { GlobalFree(static_cast<HGLOBAL>(block)); }
uint64_t global_size(pm_hglobal block) { return GlobalSize(static_cast<HGLOBAL>(block)); }

pm_hfile file_open_read(const char *name)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool file_read(pm_hfile file, void *buffer, uint32_t size, uint32_t *got)
{
    DWORD count = 0;
    const BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, size, &count, nullptr);
    *got = ok ? count : 0;
    return ok != 0;
}

int64_t file_seek(pm_hfile file, int64_t offset, seek_origin origin)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(static_cast<HANDLE>(file), distance, &position, static_cast<DWORD>(origin)))
        return -1;
    return position.QuadPart;
}

void file_close(pm_hfile file) { CloseHandle(static_cast<HANDLE>(file)); }

struct file_replacement {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string target;    // the file replaced, at the end of any links
    std::string temporary; // a new file in the target's folder
};

namespace {

// The path an existing file's links lead to; the name itself when it does
// not exist yet or the path cannot be had.
std::string final_path(const char *name)
{
    HANDLE existing = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing == INVALID_HANDLE_VALUE)
        return name;
    char path[MAX_PATH];
    const DWORD length = GetFinalPathNameByHandleA(existing, path, sizeof path, FILE_NAME_NORMALIZED);
    CloseHandle(existing);
    if (length == 0 || length >= sizeof path)
        return name;
    // The answer is a long path (\\?\C:\... or \\?\UNC\server\...); the
    // ordinary form suits every call that follows.
    std::string found(path, length);
    if (found.rfind("\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + found.substr(8);
    if (found.rfind("\\\\?\\", 0) == 0)
        return found.substr(4);
    return found;
}

} // namespace

file_replacement *file_replace_begin(const char *name)
{
    if (name == nullptr || *name == '\0')
        return nullptr;
    auto *file = new file_replacement;
    file->target = final_path(name);
    const size_t slash = file->target.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string(".") : file->target.substr(0, slash + 1);
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), "pm", 0, temporary) == 0) {
        delete file;
        return nullptr;
    }
    file->temporary = temporary;
    file->file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file->file == INVALID_HANDLE_VALUE) {
        DeleteFileA(temporary);
        delete file;
        return nullptr;
    }
    return file;
}

bool file_replace_write(file_replacement *file, const void *data, uint32_t size)
{
    DWORD written = 0;
    return WriteFile(file->file, data, size, &written, nullptr) != 0 && written == size;
}

bool file_replace_finish(file_replacement *file)
{
    bool ok = FlushFileBuffers(file->file) != 0;
    ok = CloseHandle(file->file) != 0 && ok;
    if (ok)
        ok = MoveFileExA(file->temporary.c_str(), file->target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok)
        DeleteFileA(file->temporary.c_str());
    delete file;
    return ok;
}

void file_replace_cancel(file_replacement *file)
{
    CloseHandle(file->file);
    DeleteFileA(file->temporary.c_str());
    delete file;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
