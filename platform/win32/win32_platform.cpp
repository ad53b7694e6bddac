// The platform layer on Windows: every operation is the GDI, USER32 or
// KERNEL32 call it is named after, with the same arguments; only library
// loading keeps to the system folder.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <winioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

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

namespace {

enum class replace_route {
    new_file,    // nothing has the name yet: a new file, moved there when complete
    rename_over, // a new file put in the old one's place by ReplaceFileW
    in_place,    // a disk file rewritten in place from the staged contents
    stream,      // a device (NUL, CON) or a pipe, written as the bytes come
};

// Says why a call failed in errno as well, for callers that report it.
void errno_from_last_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        errno = ENOMEM;
        break;
    default:
        errno = EIO;
    }
}

void close_handle(HANDLE *handle)
{
    if (*handle != INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(*handle);
        SetLastError(error);
    }
    *handle = INVALID_HANDLE_VALUE;
}

} // namespace

struct file_replacement {
    replace_route route = replace_route::stream;
    HANDLE file = INVALID_HANDLE_VALUE; // where the bytes go: the new file, or the file itself
    HANDLE old = INVALID_HANDLE_VALUE;  // the file written in place
    bool old_readable = false;          // its old bytes can be read back
    DWORD old_attributes = 0;           // the attributes the new file takes
    std::wstring target;                // the file replaced, at the end of any links
    std::wstring temporary;             // the new file beside it
    std::vector<uint8_t> staged;        // the new contents of a file written in place

    ~file_replacement()
    {
        close_handle(&file);
        close_handle(&old);
    }
};

namespace {

// Links are followed at most this many times.
constexpr int max_link_hops = 40;

// Paths are handled in UTF-16 from the start, so that the long form
// (\\?\C:\...) works at any length.
std::wstring widen(const char *name)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

std::wstring folder_of(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// The one name a new file has while it is not complete, beside the file it
// replaces. It is held open without sharing until then, so a later save can
// remove it only when the save that made it is gone.
std::wstring temporary_name(const std::wstring &target)
{
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    return folder + L"." + target.substr(slash == std::wstring::npos ? 0 : slash + 1, 64) + L".pm-save";
}

// The path of an open file, at the end of any links, in the long form
// (\\?\C:\...) that every call takes at any length; false when it has none.
bool path_of_open_file(HANDLE file, std::wstring *path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            path->assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length + 1);
    }
}

// A symbolic link's reparse data: the fields of REPARSE_DATA_BUFFER that a
// link uses (the driver kit's header declares them).
struct symbolic_link_data {
    DWORD tag;
    WORD data_length;
    WORD reserved;
    WORD substitute_offset;
    WORD substitute_length;
    WORD print_offset;
    WORD print_length;
    DWORD flags; // 1: relative to the link's folder
    WCHAR names[1];
};
constexpr DWORD symbolic_link_relative = 1;

// Where the symbolic link path leads, one step; false when it is no link.
bool read_link(const std::wstring &path, std::wstring *next)
{
    HANDLE link = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const BOOL read = DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                      static_cast<DWORD>(data.size()), &got, nullptr);
    close_handle(&link);
    const auto *reparse = reinterpret_cast<const symbolic_link_data *>(data.data());
    const size_t names_at = offsetof(symbolic_link_data, names);
    if (!read || got < names_at || reparse->tag != IO_REPARSE_TAG_SYMLINK ||
        names_at + reparse->print_offset + reparse->print_length > got)
        return false;
    const WCHAR *name = reparse->names + reparse->print_offset / sizeof(WCHAR);
    const std::wstring found(name, reparse->print_length / sizeof(WCHAR));
    *next = (reparse->flags & symbolic_link_relative) != 0 ? folder_of(path) + L"\\" + found : found;
    return true;
}

// Follows symbolic links from a name that does not lead to a file yet to the
// path at their end.
bool follow_links(const std::wstring &name, std::wstring *target)
{
    std::wstring path = name;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        std::wstring next;
        if (!read_link(path, &next)) {
            *target = path;
            return true;
        }
        path = next;
    }
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return false;
}

// Creates the new file under the one temporary name, open to nobody else; a
// name left by a save that is gone is removed first.
bool create_new_file(file_replacement *file)
{
    file->temporary = temporary_name(file->target);
    for (int attempt = 0; attempt < 2; ++attempt) {
        file->file = CreateFileW(file->temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file->file != INVALID_HANDLE_VALUE)
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS || !DeleteFileW(file->temporary.c_str()))
            break;
    }
    file->temporary.clear();
    return false;
}

// Opens an existing file for writing, so that the system checks the user's
// permission; for reading too where allowed. A file with the read-only
// attribute is refused even where the system would let its user write it
// (Wine run by root).
HANDLE open_for_writing(const std::wstring &name, bool *readable)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    *readable = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        close_handle(&file);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return file;
}

// How a save reaches the file named, decided once before any byte is
// written. False, with the system's reason, when the save is refused.
//
//   the name leads to                                 the save
//   nothing (or a dangling link: the path at its end) new file, moved there when complete
//   a file the user may not write (the read-only      refused; the file is untouched
//     attribute, an access list, in use)
//   a device (NUL, CON) or a pipe                     written in place as the bytes come
//   a disk file with one name and a path              new file beside it, put in its place by
//                                                       ReplaceFileW (attributes, access list,
//                                                       streams and identity kept)
//   a disk file with more than one name (a hard       in place: new contents staged whole, then
//     link), or none we can find, or a folder the       written over the old ones; the old bytes
//     user may not write                                are put back when that fails
bool plan_replacement(const std::wstring &name, file_replacement *file)
{
    bool readable = false;
    HANDLE old = open_for_writing(name, &readable);
    if (old == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return false;
        file->route = replace_route::new_file;
        return follow_links(name, &file->target) && create_new_file(file);
    }
    file->old = old;
    if (GetFileType(old) != FILE_TYPE_DISK) {
        file->route = replace_route::stream;
        file->file = old;
        file->old = INVALID_HANDLE_VALUE;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(old, &info) && info.nNumberOfLinks == 1 &&
        path_of_open_file(old, &file->target) && create_new_file(file)) {
        file->route = replace_route::rename_over;
        file->old_attributes = info.dwFileAttributes;
        close_handle(&file->old);
        return true;
    }
    file->route = replace_route::in_place;
    file->old_readable = readable;
    return true;
}

bool write_all(HANDLE file, const uint8_t *bytes, size_t size)
{
    while (size > 0) {
        const DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, part, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

// Puts contents into the file from its start and cuts it there, flushed.
bool overwrite(HANDLE file, const std::vector<uint8_t> &contents)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && write_all(file, contents.data(), contents.size()) &&
           SetEndOfFile(file) && FlushFileBuffers(file);
}

// The whole of the file from its start; false when it cannot be read.
bool read_whole(HANDLE file, std::vector<uint8_t> *bytes)
{
    LARGE_INTEGER size{}, start{};
    if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    bytes->resize(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (got < bytes->size()) {
        const DWORD want = bytes->size() - got > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes->size() - got);
        DWORD read = 0;
        if (!ReadFile(file, bytes->data() + got, want, &read, nullptr) || read == 0)
            return false;
        got += read;
    }
    return true;
}

// Writes the staged contents over the file's own, and its old bytes back
// when that fails.
bool finish_in_place(file_replacement *file)
{
    std::vector<uint8_t> old;
    bool keep_old = false;
    try {
        keep_old = file->old_readable && read_whole(file->old, &old);
    } catch (const std::bad_alloc &) {
        keep_old = false;
    }
    if (overwrite(file->old, file->staged))
        return true;
    const DWORD error = GetLastError();
    if (keep_old)
        (void)overwrite(file->old, old);
    SetLastError(error);
    return false;
}

// Puts the flushed, closed new file in the old one's place (or at a new name).
bool put_in_place(file_replacement *file)
{
    if (!FlushFileBuffers(file->file))
        return false;
    close_handle(&file->file);
    if (file->route == replace_route::new_file)
        return MoveFileExW(file->temporary.c_str(), file->target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    // ReplaceFileW keeps the old file's attributes, access list, streams and
    // identity; the attributes are given to the new file as well, for file
    // systems where it cannot.
    SetFileAttributesW(file->temporary.c_str(), file->old_attributes == 0 ? FILE_ATTRIBUTE_NORMAL : file->old_attributes);
    return ReplaceFileW(file->target.c_str(), file->temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr) != 0;
}

} // namespace

file_replacement *file_replace_begin(const char *name)
{
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        errno_from_last_error();
        return nullptr;
    }
    std::unique_ptr<file_replacement> file(new (std::nothrow) file_replacement);
    if (!file) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!plan_replacement(widen(name), file.get())) {
        errno_from_last_error();
        return nullptr;
    }
    return file.release();
}

bool file_replace_write(file_replacement *file, const void *data, uint32_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (file->route != replace_route::in_place) {
        if (write_all(file->file, bytes, size))
            return true;
        errno_from_last_error();
        return false;
    }
    try {
        file->staged.insert(file->staged.end(), bytes, bytes + size);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

bool file_replace_finish(file_replacement *file)
{
    std::unique_ptr<file_replacement> owned(file);
    bool ok = true;
    switch (file->route) {
    case replace_route::stream:
        break;
    case replace_route::in_place:
        ok = finish_in_place(file);
        break;
    case replace_route::new_file:
    case replace_route::rename_over:
        ok = put_in_place(file);
        break;
    }
    if (!ok) {
        errno_from_last_error();
        close_handle(&file->file);
        if (!file->temporary.empty())
            DeleteFileW(file->temporary.c_str());
    }
    return ok;
}

void file_replace_cancel(file_replacement *file)
{
    close_handle(&file->file);
    if (!file->temporary.empty())
        DeleteFileW(file->temporary.c_str());
    delete file;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
