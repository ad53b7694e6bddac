// Replacing a file safely: the new contents go to a temporary file in the
// same folder, which is renamed over the old name only once every byte is
// written and flushed. A failure at any step leaves the old file as it was
// and removes nothing but the temporary file.
#include <atomic>
#include <cerrno>
#include <string>

#include "platform/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {

struct file_replacement {
    int fd = -1;
    std::string target;    // the file replaced, at the end of any links
    std::string temporary; // empty when writing in place
};

namespace {

// Links are followed at most this many times, as the kernel does.
constexpr int max_link_hops = 40;

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links from a name that does not exist yet to the path
// they lead to. False for a loop of links or one that cannot be read.
bool follow_links(const char *name, std::string *target)
{
    std::string path = name;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            *target = path;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof link)
            return false;
        const std::string next(link, static_cast<size_t>(length));
        path = next[0] == '/' ? next : folder_of(path) + "/" + next;
    }
    return false;
}

// Creates a new file beside target, named after it, with the permissions a
// new file gets (the process's umask applies). -1 on failure.
int create_temporary(const std::string &target, std::string *temporary)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // A short stem keeps the name within the file system's limit.
    const std::string stem = target.substr(slash == std::string::npos ? 0 : slash + 1, 64);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = folder + "." + stem + "." + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Opens name for writing in place, without waiting: a pipe that nobody reads
// is refused at once. -1 on failure.
int open_in_place(const char *name)
{
    const int fd = ::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// Where the new file goes: false when it must be written in place, as a
// device, a pipe, or a file that has no path of its own (an open file of
// /proc/self/fd, say) must be.
bool replaceable_path(const char *name, const struct stat &info, std::string *target)
{
    if (!S_ISREG(info.st_mode))
        return false;
    char resolved[PATH_MAX];
    struct stat found {};
    if (::realpath(name, resolved) == nullptr || ::stat(resolved, &found) != 0 || found.st_dev != info.st_dev ||
        found.st_ino != info.st_ino)
        return false;
    *target = resolved;
    return true;
}

} // namespace

file_replacement *file_replace_begin(const char *name)
{
    if (name == nullptr || *name == '\0')
        return nullptr;
    auto *file = new file_replacement;
    struct stat info {};
    const bool exists = ::stat(name, &info) == 0;
    if (exists && !replaceable_path(name, info, &file->target)) {
        file->fd = open_in_place(name);
    } else if (exists || (errno == ENOENT && follow_links(name, &file->target))) {
        file->fd = create_temporary(file->target, &file->temporary);
        // The new file keeps the old one's permissions.
        if (file->fd >= 0 && exists)
            (void)::fchmod(file->fd, info.st_mode & 07777);
    }
    if (file->fd < 0) {
        delete file;
        return nullptr;
    }
    return file;
}

bool file_replace_write(file_replacement *file, const void *data, uint32_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (size > 0) {
        const ssize_t n = ::write(file->fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<uint32_t>(n);
    }
    return true;
}

bool file_replace_finish(file_replacement *file)
{
    const bool in_place = file->temporary.empty();
    // Flushed before the rename, so that a crash leaves the old file or the
    // new one whole, never an empty one.
    bool ok = in_place || ::fsync(file->fd) == 0;
    ok = ::close(file->fd) == 0 && ok;
    if (!in_place) {
        if (ok)
            ok = ::rename(file->temporary.c_str(), file->target.c_str()) == 0;
        if (!ok)
            ::unlink(file->temporary.c_str());
    }
    delete file;
    return ok;
}

void file_replace_cancel(file_replacement *file)
{
    ::close(file->fd);
    if (!file->temporary.empty())
        ::unlink(file->temporary.c_str());
    delete file;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
