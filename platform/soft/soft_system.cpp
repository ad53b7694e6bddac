// The kernel side of the platform on the software display: global memory,
// files, library loading, version and keyboard state.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/soft/soft_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pm::soft::detail {

void close_all_files(display_state &s)
{
    for (const auto &file : s.files)
        ::close(file.second);
    s.files.clear();
}

} // namespace pm::soft::detail

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {
using namespace pm::soft::detail;

namespace {

// Larger requests are refused rather than attempted.
constexpr uint64_t global_alloc_limit = uint64_t{1} << 30;

// Memory that GMEM_ZEROINIT does not clear holds this, so that code relying
// on zeroes it did not ask for shows up.
constexpr uint8_t uncleared_fill = 0xA5;

global_block *find_global(pm_hglobal block)
{
    auto &globals = state().globals;
    auto found = globals.find(key(block));
    return found == globals.end() ? nullptr : &found->second;
}

int *find_file(pm_hfile file)
{
    auto &files = state().files;
    auto found = files.find(key(file));
    return found == files.end() ? nullptr : &found->second;
}

} // namespace

// Shows the call to a test build; the key state itself goes nowhere.
void keyboard_state_set(const uint8_t state[256])
{
    (void)state;
    if (pm::soft::display_hooks *hooks = pm::soft::detail::state().hooks)
        hooks->keyboard_state_set();
}

// Version 6.1 of the NT family (bit 31 clear), build 7601.
uint32_t version()
{
    constexpr uint32_t major = 6;
    constexpr uint32_t minor = 1;
    constexpr uint32_t build = 7601;
    return (build << 16) | (minor << 8) | major;
}

// A new handle when a test build provides libraries, else null.
pm_hmodule library_load(const char *name)
{
    (void)name;
    display_state &s = state();
    if (s.hooks == nullptr || !s.hooks->library_may_be_loaded())
        return nullptr;
    void *module = s.new_handle();
    s.libraries.insert(key(module));
    return module;
}

// Every name is found in a loaded library, all at one stand-in address.
void *library_symbol(pm_hmodule module, const char *name)
{
    static char entry_point;
    (void)name;
    return state().libraries.contains(key(module)) ? &entry_point : nullptr;
}

// Shows every call to a test build, so that a handle freed twice shows.
void library_free(pm_hmodule module)
{
    display_state &s = state();
    if (s.hooks != nullptr)
        s.hooks->library_freed();
    s.libraries.erase(key(module));
}

// A block of size bytes, zero-filled with GMEM_ZEROINIT. A movable block gets
// a handle of its own; a fixed one's handle is its address, as on Windows.
// Null for sizes over 1 GiB, when a test build injects a failure, or when
// memory runs out.
pm_hglobal global_alloc(uint32_t flags, uint64_t size)
{
    display_state &s = state();
    if (s.hooks != nullptr && !s.hooks->global_block_may_be_allocated())
        return nullptr;
    if (size > global_alloc_limit)
        return nullptr;
    const auto bytes = static_cast<size_t>(std::max<uint64_t>(size, 1));
    c_memory memory(static_cast<uint8_t *>((flags & gmem_zeroinit) != 0 ? std::calloc(bytes, 1) : std::malloc(bytes)));
    if (!memory)
        return nullptr;
    if ((flags & gmem_zeroinit) == 0)
        std::memset(memory.get(), uncleared_fill, bytes);
    void *handle = (flags & gmem_moveable) != 0 ? s.new_handle() : memory.get();
    s.globals[key(handle)] = global_block{std::move(memory), size, 0};
    return handle;
}

// The block's address; null for an unknown handle.
void *global_lock(pm_hglobal block)
{
    global_block *found = find_global(block);
    if (found == nullptr)
        return nullptr;
    ++found->locks;
    return found->memory.get();
}

// Undoes one lock; the address stays valid until the block is freed.
void global_unlock(pm_hglobal block)
{
    if (global_block *found = find_global(block); found != nullptr && found->locks > 0)
        --found->locks;
}

// Frees a block, locked or not.
void global_free(pm_hglobal block)
{
    state().globals.erase(key(block));
}

// The size asked for; 0 for an unknown handle.
uint64_t global_size(pm_hglobal block)
{
    const global_block *found = find_global(block);
    return found != nullptr ? found->size : 0;
}

// Opens an existing regular file for reading; null otherwise. The open never
// blocks: a named pipe with no writer, or a device, is refused at once.
pm_hfile file_open_read(const char *name)
{
    if (name == nullptr)
        return nullptr;
    int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    // Reads of a regular file then behave as they would without the flag.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    display_state &s = state();
    void *handle = s.new_handle();
    s.files[key(handle)] = fd;
    return handle;
}

// Reads up to size bytes; *got receives how many (0 at the end of the file,
// which is no failure). False for an unknown handle or a read error.
bool file_read(pm_hfile file, void *buffer, uint32_t size, uint32_t *got)
{
    if (got != nullptr)
        *got = 0;
    const int *fd = find_file(file);
    if (fd == nullptr || (buffer == nullptr && size > 0))
        return false;
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = ::read(*fd, static_cast<uint8_t *>(buffer) + total, size - total);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
        if (got != nullptr)
            *got = total;
    }
    return true;
}

// Moves the file position; the new position, or -1 with the position
// unchanged for an unknown handle, a bad origin or a position before the start.
int64_t file_seek(pm_hfile file, int64_t offset, seek_origin origin)
{
    const int *fd = find_file(file);
    if (fd == nullptr)
        return -1;
    int whence;
    switch (origin) {
    case seek_origin::begin:
        whence = SEEK_SET;
        break;
    case seek_origin::current:
        whence = SEEK_CUR;
        break;
    case seek_origin::end:
        whence = SEEK_END;
        break;
    default:
        return -1;
    }
    off_t position = ::lseek(*fd, static_cast<off_t>(offset), whence);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

// Closes an open file; unknown handles are ignored.
void file_close(pm_hfile file)
{
    display_state &s = state();
    auto found = s.files.find(key(file));
    if (found == s.files.end())
        return;
    ::close(found->second);
    s.files.erase(found);
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
