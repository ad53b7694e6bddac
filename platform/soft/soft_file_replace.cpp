// Replacing a file safely. The file named is opened for writing first, so
// that the system checks the user's permission as for any write. Where a new
// file can take its place without changing what others see of it (its other
// names, owner, group, mode, access list and extended attributes), the new
// contents go to a private file in the same folder that is renamed over the
// old one once every byte is written and flushed. Otherwise the file is
// written in place, from contents prepared whole beforehand, and its old
// bytes are put back when the write fails. A failure at any step leaves the
// old file as it was, and errno says why.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<sys/xattr.h>) && defined(__linux__)
#include <sys/xattr.h>
#define PIXMORA_HAS_XATTR 1
#endif

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {

namespace {

enum class replace_route {
    new_file,    // nothing has the name yet: a new file, named when complete
    rename_over, // a new file renamed over the old one
    in_place,    // a regular file rewritten in place from the staged contents
    stream,      // a device, a pipe or a socket, written as the bytes come
};

// Keeps errno across calls made while cleaning up after a failure.
class errno_keeper {
public:
    errno_keeper() : saved_(errno) {}
    ~errno_keeper() { errno = saved_; }
    errno_keeper(const errno_keeper &) = delete;
    errno_keeper &operator=(const errno_keeper &) = delete;

private:
    int saved_;
};

void close_quietly(int fd)
{
    if (fd >= 0) {
        const errno_keeper keep;
        ::close(fd);
    }
}

} // namespace

struct file_replacement {
    replace_route route = replace_route::stream;
    int fd = -1;           // where the bytes go: the new file, or the file itself
    int old_file = -1;     // the file replaced, open for writing (rename_over, in_place)
    int old_reader = -1;   // the same, open for reading when allowed (in_place)
    struct stat old_info{}; // owner, group and mode of the file replaced
    std::string target;    // the path renamed to: the file at the end of any links
    std::string temporary; // the new file's name while it has one
    bool unnamed = false;  // the new file has no name until it is complete
    std::vector<uint8_t> staged; // the new contents of a file written in place

    ~file_replacement()
    {
        close_quietly(fd);
        close_quietly(old_file);
        close_quietly(old_reader);
    }
};

namespace {

// Links are followed at most this many times, as the kernel does.
constexpr int max_link_hops = 40;

// The one name a new file has while it is not complete, beside the file it
// replaces; a later save clears one left behind by a save that was killed.
constexpr const char *temporary_suffix = ".pm-save";

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string temporary_name(const std::string &target)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // A short stem keeps the name within the file system's limit.
    return folder + "." + target.substr(slash == std::string::npos ? 0 : slash + 1, 64) + temporary_suffix;
}

// Follows symbolic links from a name that does not exist yet to the path
// they lead to; a relative link is read in the folder of the link. False for
// a loop of links or one that cannot be read.
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
    errno = ELOOP;
    return false;
}

// The path of the file open as fd, at the end of any links from name; false
// when the file has no path of its own (deleted, or reached through an open
// file of /proc/self/fd whose name is gone).
bool path_of_open_file(const char *name, const struct stat &info, std::string *target)
{
    char resolved[PATH_MAX];
    struct stat found {};
    if (::realpath(name, resolved) == nullptr || ::stat(resolved, &found) != 0 || found.st_dev != info.st_dev ||
        found.st_ino != info.st_ino)
        return false;
    *target = resolved;
    return true;
}

// The permissions a new file gets: 0666 less the process's umask, read
// without changing it (umask() would, for every thread at once).
mode_t new_file_mode()
{
    mode_t mask = 022;
    if (std::FILE *status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
                break;
            }
        std::fclose(status);
    }
    return 0666 & ~mask;
}

// Removes a temporary name left behind by a save that was killed. True when
// the name is free; false while another save holds the file (it keeps a
// lock on it from creation to rename).
bool clear_stale(const std::string &name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close_quietly(fd);
        errno = EEXIST;
        return false;
    }
    close_quietly(fd);
    return ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

// Creates the new file in the folder of target, readable by its owner only,
// with no name where the file system allows (so that a killed save leaves
// nothing), else under the one temporary name. False on failure.
bool create_new_file(file_replacement *file)
{
#ifdef O_TMPFILE
    file->fd = ::open(folder_of(file->target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (file->fd >= 0) {
        file->unnamed = true;
        return true;
    }
    // Older kernels and some file systems cannot make a file without a name.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
#endif
    file->temporary = temporary_name(file->target);
    for (int attempt = 0; attempt < 2; ++attempt) {
        file->fd = ::open(file->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file->fd >= 0) {
            (void)::flock(file->fd, LOCK_EX | LOCK_NB);
            return true;
        }
        if (errno != EEXIST || !clear_stale(file->temporary))
            break;
    }
    file->temporary.clear();
    return false;
}

#ifdef PIXMORA_HAS_XATTR
// The names of a file's extended attributes, each ended by a zero; false
// when they cannot be read. None where the file system has none.
bool attribute_names(int fd, std::vector<char> *names)
{
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    names->resize(static_cast<size_t>(size));
    const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, names->data(), names->size());
    if (got < 0)
        return false;
    names->resize(static_cast<size_t>(got));
    return true;
}

bool has_name(const std::vector<char> &names, const char *name)
{
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1)
        if (std::strcmp(names.data() + at, name) == 0)
            return true;
    return false;
}

// Gives to the new file exactly the extended attributes of the old one: its
// access list (system.posix_acl_access), security labels and user
// attributes. False when one of them cannot be read or set.
bool copy_attributes(int from, int to)
{
    std::vector<char> names, present;
    if (!attribute_names(from, &names) || !attribute_names(to, &present))
        return false;
    // What the folder gave the new file (a default access list) but the old
    // file lacks goes first.
    for (size_t at = 0; at < present.size(); at += std::strlen(present.data() + at) + 1)
        if (!has_name(names, present.data() + at) && ::fremovexattr(to, present.data() + at) != 0)
            return false;
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char *name = names.data() + at;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            return false;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(from, name, value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0)
            return false;
    }
    return true;
}
#else
bool copy_attributes(int, int) { return true; }
#endif

// Gives the new file the old one's owner, group, extended attributes and
// mode, and checks that each one took. The mode is then narrowed to the
// owner until the file is complete (finish puts it back), so that nobody
// else can open the new file and keep a handle to what is written later.
// False when any of it cannot be carried over.
bool carry_over(const file_replacement &file)
{
    const struct stat &old = file.old_info;
    struct stat now {};
    if (::fstat(file.fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(file.fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (!copy_attributes(file.old_file, file.fd) || ::fchmod(file.fd, old.st_mode & 07777) != 0 ||
        ::fstat(file.fd, &now) != 0)
        return false;
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid || (now.st_mode & 07777) != (old.st_mode & 07777))
        return false;
    return ::fchmod(file.fd, old.st_mode & 07700) == 0;
}

// Opens the file again for reading, to keep its old bytes; -1 when the
// user may not read it.
int reopen_for_reading(int fd)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

// Opens an existing file for writing without truncating it, so that the
// system checks the user's permission; a pipe that nobody reads is refused
// at once rather than waited for, and is written blocking afterwards.
int open_for_writing(const char *name)
{
    const int fd = ::open(name, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            close_quietly(fd);
            return -1;
        }
    }
    return fd;
}

// How a save reaches the file named, decided once before any byte is
// written. False, with errno, when the save is refused.
//
//   the name leads to                                 the save
//   nothing (or a dangling link: the path at its end) new file, named when complete
//   something the user may not write (a read-only     refused; the file is untouched
//     file, a folder, a pipe nobody reads, ...)
//   nothing, in a folder the user may not write       refused
//   a device, a pipe or a socket                      written in place as the bytes come
//   a regular file with one name and a path, whose    new file with the old one's owner, group,
//     owner, group, mode and extended attributes        mode and attributes, renamed over it
//     a new file can take
//   any other regular file: more than one name (a     in place: new contents staged whole, then
//     hard link), another owner or group, an access     written over the old ones; the old bytes
//     list or attribute that cannot be copied, no       are put back when that fails (when the
//     path of its own, or a folder the user may not     user may read them)
//     write
bool plan_replacement(const char *name, file_replacement *file)
{
    file->old_file = open_for_writing(name);
    if (file->old_file < 0) {
        if (errno != ENOENT)
            return false;
        file->route = replace_route::new_file;
        return follow_links(name, &file->target) && create_new_file(file);
    }
    if (::fstat(file->old_file, &file->old_info) != 0)
        return false;
    if (!S_ISREG(file->old_info.st_mode)) {
        file->route = replace_route::stream;
        file->fd = file->old_file;
        file->old_file = -1;
        return true;
    }
    file->route = replace_route::rename_over;
    if (file->old_info.st_nlink == 1 && path_of_open_file(name, file->old_info, &file->target) &&
        create_new_file(file) && carry_over(*file))
        return true;
    // The new file cannot take the old one's place unseen: write in place.
    close_quietly(file->fd);
    file->fd = -1;
    if (!file->temporary.empty()) {
        const errno_keeper keep;
        ::unlink(file->temporary.c_str());
        file->temporary.clear();
    }
    file->route = replace_route::in_place;
    file->old_reader = reopen_for_reading(file->old_file);
    return true;
}

bool write_all(int fd, const uint8_t *bytes, size_t size, off_t offset, bool positioned)
{
    while (size > 0) {
        const ssize_t n = positioned ? ::pwrite(fd, bytes, size, offset) : ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// The whole of a file open for reading; false when it cannot be read.
bool read_whole(int fd, std::vector<uint8_t> *bytes)
{
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return false;
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t got = 0;
    while (got < bytes->size()) {
        const ssize_t n = ::pread(fd, bytes->data() + got, bytes->size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Puts contents into the file from its start and cuts it there, flushed.
bool overwrite(int fd, const std::vector<uint8_t> &contents)
{
    return write_all(fd, contents.data(), contents.size(), 0, true) &&
           ::ftruncate(fd, static_cast<off_t>(contents.size())) == 0 && ::fsync(fd) == 0;
}

// Writes the staged contents over the file's own, and its old bytes back
// when that fails. Room for the new contents is asked for first, so that a
// full disk usually stops the save before a byte has changed.
bool finish_in_place(file_replacement *file)
{
    std::vector<uint8_t> old;
    bool keep_old = false;
    try {
        keep_old = read_whole(file->old_reader, &old);
    } catch (const std::bad_alloc &) {
        keep_old = false;
    }
#ifdef __linux__
    if (::fallocate(file->old_file, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(file->staged.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
#endif
    if (overwrite(file->old_file, file->staged))
        return true;
    const errno_keeper keep;
    if (keep_old)
        (void)overwrite(file->old_file, old);
    return false;
}

// Flushes the folder that holds path, so that a rename in it survives a
// power cut.
bool flush_folder(const std::string &path)
{
    const int folder = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    const bool flushed = ::fsync(folder) == 0 || errno == EINVAL;
    close_quietly(folder);
    return flushed;
}

// Gives the complete new file a name: the target itself for a new file,
// else the temporary name, from which it is renamed.
bool name_new_file(file_replacement *file, const std::string &name)
{
#ifdef O_TMPFILE
    const std::string self = "/proc/self/fd/" + std::to_string(file->fd);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST || name == file->target || !clear_stale(name))
            return false;
    }
#else
    (void)file;
    (void)name;
#endif
    return false;
}

// Puts the flushed new file in place of the old one (or at a new name).
bool put_in_place(file_replacement *file)
{
    const mode_t mode = file->route == replace_route::new_file ? new_file_mode() : file->old_info.st_mode & 07777;
    if (::fchmod(file->fd, mode) != 0 || ::fsync(file->fd) != 0)
        return false;
    if (file->unnamed) {
        if (file->route == replace_route::new_file)
            return name_new_file(file, file->target);
        file->temporary = temporary_name(file->target);
        if (!name_new_file(file, file->temporary)) {
            file->temporary.clear();
            return false;
        }
    }
    if (::rename(file->temporary.c_str(), file->target.c_str()) != 0)
        return false;
    file->temporary.clear();
    return true;
}

} // namespace

file_replacement *file_replace_begin(const char *name)
{
    if (name == nullptr || *name == '\0') {
        errno = ENOENT;
        return nullptr;
    }
    std::unique_ptr<file_replacement> file(new (std::nothrow) file_replacement);
    if (!file) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!plan_replacement(name, file.get())) {
        if (!file->temporary.empty()) {
            const errno_keeper keep;
            ::unlink(file->temporary.c_str());
        }
        return nullptr;
    }
    return file.release();
}

bool file_replace_write(file_replacement *file, const void *data, uint32_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (file->route != replace_route::in_place)
        return write_all(file->fd, bytes, size, 0, false);
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
    bool ok = false;
    switch (file->route) {
    case replace_route::stream:
        ok = true;
        break;
    case replace_route::in_place:
        ok = finish_in_place(file);
        break;
    case replace_route::new_file:
    case replace_route::rename_over:
        // Once renamed, the new file is what the name holds: a folder that
        // cannot be flushed does not make the save a failure.
        ok = put_in_place(file);
        if (ok) {
            const errno_keeper keep;
            (void)flush_folder(file->target);
        }
        break;
    }
    // Some file systems report a failed write only when the file is closed.
    for (int *fd : {&file->fd, &file->old_file}) {
        if (*fd >= 0)
            ok = ::close(*fd) == 0 && ok;
        *fd = -1;
    }
    if (!ok && !file->temporary.empty()) {
        const errno_keeper keep;
        ::unlink(file->temporary.c_str());
    }
    return ok;
}

void file_replace_cancel(file_replacement *file)
{
    if (!file->temporary.empty()) {
        const errno_keeper keep;
        ::unlink(file->temporary.c_str());
    }
    delete file;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
