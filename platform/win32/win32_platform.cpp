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
#include "platform/win32/win32_testing.h"

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {

replace_file_call replace_file_stand_in = nullptr;

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
    HANDLE file = INVALID_HANDLE_VALUE; // where the bytes go: the new file, the staging file (in_place), or the file itself
    HANDLE old = INVALID_HANDLE_VALUE;  // the file written in place, open for reading and writing
    DWORD old_attributes = 0;           // the attributes the new file takes
    std::wstring target;                // the file replaced, at the end of any links; empty when it has none
    std::wstring temporary;             // a name this save made for the new file, while it has one
    uint64_t staged = 0;                // the bytes staged so far (in_place)

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

// A save's own names, beside the file it replaces: ".<name>.XXXXXX.pm-save"
// for the new file while it is not complete, "<name>.XXXXXX.pm-backup" for
// the old bytes while the file is written in place. Each has a random part
// and is made with CREATE_NEW, so that saves side by side never open,
// replace or delete each other's files.
constexpr size_t name_stem = 64;
constexpr int name_attempts = 100;

// The part of a save's own name before its random part.
std::wstring name_prefix(const std::wstring &target, const wchar_t *leading)
{
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    return folder + leading + target.substr(slash == std::wstring::npos ? 0 : slash + 1, name_stem) + L".";
}

// Six random letters and digits: the clock, the process and a count, mixed.
std::wstring random_part()
{
    static uint64_t count = 0;
    LARGE_INTEGER clock{};
    QueryPerformanceCounter(&clock);
    uint64_t bits = static_cast<uint64_t>(clock.QuadPart) ^ static_cast<uint64_t>(GetCurrentProcessId()) << 40 ^
                    ++count * 0x9E3779B97F4A7C15u;
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u; // splitmix64's finish
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
    bits ^= bits >> 31;
    static const wchar_t symbols[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring part;
    for (int i = 0; i < 6; ++i, bits /= 62)
        part += symbols[bits % 62];
    return part;
}

// Creates a file of this save's own, prefix + a random part + suffix; a
// name that is taken is never opened, and another is tried.
HANDLE create_own_file(const std::wstring &prefix, const wchar_t *suffix, DWORD share, std::wstring *name)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        const std::wstring candidate = prefix + random_part() + suffix;
        HANDLE file = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *name = candidate;
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// A file without a lasting name in the temporary folder, gone when closed
// (or when the program ends), for bytes kept while a file is written in
// place.
HANDLE open_scratch()
{
    std::vector<wchar_t> folder(MAX_PATH + 1);
    const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size())
        return INVALID_HANDLE_VALUE;
    const std::wstring prefix = std::wstring(folder.data(), length) + L".pixmora-";
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        const std::wstring candidate = prefix + random_part() + L".pm-save";
        HANDLE file = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
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

// Creates the new file beside the target under a name of this save's own,
// open to nobody else.
bool create_new_file(file_replacement *file)
{
    file->file = create_own_file(name_prefix(file->target, L"."), L".pm-save", 0, &file->temporary);
    return file->file != INVALID_HANDLE_VALUE;
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
//   a disk file with more than one name (a hard       in place: new contents staged in a file in
//     link), or none we can find, or a folder the       the temporary folder, old bytes copied to
//     user may not write                                a backup beside it (else to the temporary
//                                                       folder), then the new written over the
//                                                       old; the old bytes put back when that fails
//   such a file the user may not read, or whose       refused; the file is untouched
//     old bytes cannot be kept
//
// The new file and the backup have names of the save's own
// (".<name>.XXXXXX.pm-save", "<name>.XXXXXX.pm-backup"). A killed save may
// leave the first, which no later save touches; the backup is named only
// once complete, and is left only by a save killed while it writes in place.
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
    const bool has_path = path_of_open_file(old, &file->target);
    if (GetFileInformationByHandle(old, &info) && info.nNumberOfLinks == 1 && has_path && create_new_file(file)) {
        file->route = replace_route::rename_over;
        file->old_attributes = info.dwFileAttributes;
        close_handle(&file->old);
        return true;
    }
    if (!has_path)
        file->target.clear();
    // Written in place only where the old bytes can be kept.
    file->route = replace_route::in_place;
    if (!readable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    file->file = open_scratch();
    return file->file != INVALID_HANDLE_VALUE;
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

// Reads or writes size bytes at offset, all of them; false on failure.
bool read_at(HANDLE file, uint8_t *bytes, DWORD size, uint64_t offset, DWORD *got)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(file, bytes, size, got, &at) != 0;
}

bool write_at(HANDLE file, const uint8_t *bytes, DWORD size, uint64_t offset)
{
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(file, bytes, size, &written, &at) || written == 0)
            return false;
        bytes += written;
        size -= written;
        offset += written;
    }
    return true;
}

// Copies [begin, end) of from to the same places in to; *reached, when
// given, is raised to the end of each block before it is written.
bool copy_range(HANDLE from, HANDLE to, uint64_t begin, uint64_t end, uint64_t *reached = nullptr)
{
    std::vector<uint8_t> block(64 * 1024);
    for (uint64_t at = begin; at < end;) {
        const DWORD want = static_cast<DWORD>(end - at < block.size() ? end - at : block.size());
        DWORD got = 0;
        if (!read_at(from, block.data(), want, at, &got))
            return false;
        if (got == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        if (reached != nullptr && *reached < at + got)
            *reached = at + got;
        if (!write_at(to, block.data(), got, at))
            return false;
        at += got;
    }
    return true;
}

// Gives the file the length size.
bool set_length(HANDLE file, uint64_t size)
{
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The old bytes of a file written in place, kept until the write is done.
struct kept_bytes {
    HANDLE file = INVALID_HANDLE_VALUE; // a copy of the file's bytes
    std::wstring name;                  // its name beside the file, or empty when it has none

    ~kept_bytes() { close_handle(&file); }
    // Closes the copy and removes its name: the old bytes are no longer needed.
    void drop()
    {
        close_handle(&file);
        if (!name.empty()) {
            const DWORD error = GetLastError();
            DeleteFileW(name.c_str());
            SetLastError(error);
        }
    }
};

// Copies size bytes of from into a flushed backup beside target, made under
// a name of the save's own and given its backup name only once complete.
bool keep_beside(HANDLE from, uint64_t size, const std::wstring &target, kept_bytes *kept)
{
    std::wstring temporary;
    HANDLE file = create_own_file(name_prefix(target, L"."), L".pm-save",
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, &temporary);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool named = copy_range(from, file, 0, size) && FlushFileBuffers(file);
    for (int attempt = 0; named && attempt < name_attempts; ++attempt) {
        const std::wstring candidate = name_prefix(target, L"") + random_part() + L".pm-backup";
        if (MoveFileExW(temporary.c_str(), candidate.c_str(), MOVEFILE_WRITE_THROUGH)) {
            kept->file = file;
            kept->name = candidate;
            return true;
        }
        named = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
    }
    const DWORD error = GetLastError();
    close_handle(&file);
    DeleteFileW(temporary.c_str());
    SetLastError(error);
    return false;
}

// Keeps the file's old bytes before any is overwritten: beside it where the
// folder allows, else in the temporary folder. False when they cannot be
// kept anywhere; then nothing may be written.
bool keep_old_bytes(const file_replacement &file, uint64_t size, kept_bytes *kept)
{
    if (!file.target.empty() && keep_beside(file.old, size, file.target, kept))
        return true;
    kept->file = open_scratch();
    return kept->file != INVALID_HANDLE_VALUE && copy_range(file.old, kept->file, 0, size);
}

// Writes the staged contents over the file's own, flushed; *touched covers
// every byte that may have changed.
bool write_in_place(const file_replacement &file, uint64_t *touched)
{
    return copy_range(file.file, file.old, 0, file.staged, touched) && set_length(file.old, file.staged) &&
           FlushFileBuffers(file.old);
}

// Puts the kept old bytes back over what a failed write may have changed.
bool put_back(HANDLE file, HANDLE kept, uint64_t old_size, uint64_t touched)
{
    return set_length(file, old_size) && copy_range(kept, file, 0, touched < old_size ? touched : old_size) &&
           FlushFileBuffers(file);
}

// Writes the staged contents over the file's own, its old bytes kept first
// and put back when that fails. The backup goes once the new bytes (or the
// old ones put back) are flushed; when the old bytes cannot be put back it
// stays, and holds them.
bool finish_in_place(file_replacement *file)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file->old, &size))
        return false;
    const auto old_size = static_cast<uint64_t>(size.QuadPart);
    kept_bytes kept;
    if (!keep_old_bytes(*file, old_size, &kept))
        return false;
    uint64_t touched = 0;
    if (write_in_place(*file, &touched)) {
        kept.drop();
        return true;
    }
    const DWORD error = GetLastError();
    if (put_back(file->old, kept.file, old_size, touched))
        kept.drop();
    SetLastError(error);
    return false;
}

// What ReplaceFileW leaves when it fails, as Microsoft documents it for a
// call without a backup name:
//   ERROR_UNABLE_TO_REMOVE_REPLACED (1175)     both files keep their names: the old file is as it was
//   ERROR_UNABLE_TO_MOVE_REPLACEMENT (1176)    the old file no longer exists; the new one keeps its
//                                                temporary name
//   ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 (1177)  the old file is kept under another name; the new one,
//                                                with the old one's streams and attributes, keeps its
//                                                temporary name
//   any other                                  both files keep their names
// After 1176 and 1177 nothing has the name: the new file is moved there.
// When that fails too it stays under its temporary name, the only copy of
// anything left, and is never deleted; the failure is reported.
bool after_failed_replace(file_replacement *file)
{
    const DWORD error = GetLastError();
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        return false;
    const bool moved = MoveFileExW(file->temporary.c_str(), file->target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    file->temporary.clear();
    return moved;
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
    const replace_file_call replace = replace_file_stand_in != nullptr ? replace_file_stand_in : &ReplaceFileW;
    return replace(file->target.c_str(), file->temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                   nullptr) != 0 ||
           after_failed_replace(file);
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
    if (!write_at(file->file, bytes, size, file->staged)) {
        errno_from_last_error();
        return false;
    }
    file->staged += size;
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
