// Replacing a file safely. The file named is opened for writing first, so
// that the system checks the user's permission as for any write. Where a new
// file can take its place without changing what others see of it (its other
// names, owner, group, mode, access list and extended attributes), the new
// contents go to a private file in the same folder that is renamed over the
// old one once every byte is written and flushed. Otherwise the file is
// written in place: the new contents are staged whole in a file without a
// name, the old bytes are copied to a backup first, and they are put back
// when the write fails. A failure at any step leaves the old file as it
// was, and errno says why.
//
// Every name a save makes is its own: a random part, created with O_EXCL
// (as mkostemp does), so that saves side by side never open, rename or
// remove each other's files, and a save never removes a name it did not
// make.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/soft/soft_state.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<sys/xattr.h>) && defined(__linux__)
#include <sys/xattr.h>
#define PIXMORA_HAS_XATTR 1
#endif
#if __has_include(<sys/random.h>) && defined(__linux__)
#include <sys/random.h>
#define PIXMORA_HAS_GETRANDOM 1
#endif
#if __has_include(<sys/mman.h>) && defined(__linux__)
#include <sys/mman.h>
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

// Removes a name this save made, keeping errno.
void remove_own_name(std::string *name)
{
    if (!name->empty()) {
        const errno_keeper keep;
        ::unlink(name->c_str());
        name->clear();
    }
}

// The test build's hooks; null in the library.
pm::soft::display_hooks *hooks()
{
    return pm::soft::detail::state().hooks;
}

} // namespace

struct file_replacement {
    replace_route route = replace_route::stream;
    int fd = -1;            // where the bytes go: the new file, the staging file (in_place), or the file itself
    int old_file = -1;      // the file replaced, open for writing (rename_over, in_place)
    int old_reader = -1;    // the same, open for reading (in_place)
    struct stat old_info{}; // owner, group and mode of the file replaced
    std::string target;     // the path renamed to: the file at the end of any links; empty when it has none
    std::string temporary;  // a name this save made for the new file, while it has one
    bool unnamed = false;   // the new file has no name until it is complete
    off_t staged = 0;       // the bytes staged so far (in_place)

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

// A save's own names, beside the file it replaces: ".<name>.XXXXXX.pm-save"
// for the new file while it is not complete (hidden), and
// "<name>.XXXXXX.pm-backup" for the old bytes while the file is written in
// place (shown, so that a user finds it after a crash). The name is cut to
// its first characters, so that the whole stays within the file system's
// limit.
constexpr const char *temporary_suffix = ".pm-save";
constexpr const char *backup_suffix = ".pm-backup";
constexpr size_t name_stem = 64;
// Tries at a free random name before giving up (EEXIST).
constexpr int name_attempts = 100;

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The part of a save's own name before its random part: the folder of
// target, then leading, the start of target's name and a dot.
std::string name_prefix(const std::string &target, const char *leading)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    return folder + leading + target.substr(slash == std::string::npos ? 0 : slash + 1, name_stem) + ".";
}

// 64 bits that no other process will draw: the system's random numbers, or
// where those are missing the clock, the process and a count, mixed.
uint64_t random_bits()
{
    uint64_t bits = 0;
#ifdef PIXMORA_HAS_GETRANDOM
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
#endif
    static uint64_t count = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 30 ^
           static_cast<uint64_t>(::getpid()) << 42 ^ ++count * 0x9E3779B97F4A7C15u;
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u; // splitmix64's finish
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
    return bits ^ bits >> 31;
}

// Six random letters and digits, as mkostemp makes them (a test build may
// choose them).
std::string random_part()
{
    uint64_t bits = 0;
    pm::soft::display_hooks *test = hooks();
    if (test == nullptr || !test->file_name_bits_given(&bits))
        bits = random_bits();
    static const char symbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string part;
    for (int i = 0; i < 6; ++i, bits /= 62)
        part += symbols[bits % 62];
    return part;
}

// Creates a file of this save's own, prefix + a random part + suffix, with
// O_EXCL: a name that is taken is never opened, and another is tried. The
// file is readable by its owner only. -1 on failure.
int create_own_file(const std::string &prefix, const char *suffix, int access, std::string *name)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        const std::string candidate = prefix + random_part() + suffix;
        const int fd = ::open(candidate.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0) {
            *name = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// True when open_unnamed failed because the file system (or kernel) makes no
// file without a name, rather than for a reason a named file shares.
bool no_unnamed_files(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Opens a new file without a name in folder, readable by its owner only:
// a save killed before naming it leaves nothing. -1, with errno, where the
// file system cannot make one (no_unnamed_files) or the folder refuses.
int open_unnamed(const std::string &folder, int access)
{
#ifdef O_TMPFILE
    pm::soft::display_hooks *test = hooks();
    if (test == nullptr || test->unnamed_file_may_be_made())
        return ::open(folder.c_str(), O_TMPFILE | access | O_CLOEXEC, 0600);
#else
    (void)folder;
    (void)access;
#endif
    errno = EOPNOTSUPP;
    return -1;
}

// Gives the file without a name open as fd a name of this save's own,
// prefix + a random part + suffix. False on failure.
bool link_own_name(int fd, const std::string &prefix, const char *suffix, std::string *name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        const std::string candidate = prefix + random_part() + suffix;
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            *name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Renames a file of this save's own to prefix + a random part + suffix,
// never over a name that is taken where the system can refuse that. False
// on failure.
bool rename_to_own_name(const std::string &from, const std::string &prefix, const char *suffix, std::string *name)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        const std::string candidate = prefix + random_part() + suffix;
#if defined(RENAME_NOREPLACE) && defined(__linux__)
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            *name = candidate;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
#endif
        // Without that refusal a random name of six characters is taken
        // about once in 5 * 10^10 tries.
        if (::rename(from.c_str(), candidate.c_str()) != 0)
            return false;
        *name = candidate;
        return true;
    }
    return false;
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

// Creates the new file in the folder of target, readable by its owner only,
// with no name where the file system allows (so that a killed save leaves
// nothing), else under a name of this save's own. False on failure.
bool create_new_file(file_replacement *file)
{
    file->fd = open_unnamed(folder_of(file->target), O_WRONLY);
    if (file->fd >= 0) {
        file->unnamed = true;
        return true;
    }
    // Older kernels and some file systems cannot make a file without a name.
    if (!no_unnamed_files(errno))
        return false;
    file->fd = create_own_file(name_prefix(file->target, "."), temporary_suffix, O_WRONLY, &file->temporary);
    return file->fd >= 0;
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
    // Some file systems take a change of owner or mode without keeping it;
    // a test build shows the check such a file system.
    uint32_t owner = now.st_uid, group = now.st_gid, mode = now.st_mode & 07777;
    if (pm::soft::display_hooks *test = hooks())
        test->carried_over(&owner, &group, &mode);
    if (owner != old.st_uid || group != old.st_gid || mode != (old.st_mode & 07777))
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

// The temporary folder: TMPDIR, else /tmp.
std::string temporary_folder()
{
    const char *folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// A file without a name, for bytes kept while a file is written in place:
// in folder (unless empty), else in the temporary folder, else in memory
// that the system may swap out. Files without a name where the file system
// makes them, else a file of this save's own removed at once. -1, with the
// last reason, when none can be made.
int open_scratch(const std::string &folder)
{
    for (const std::string &place : {folder, temporary_folder()}) {
        if (place.empty())
            continue;
        int fd = open_unnamed(place, O_RDWR);
        if (fd < 0 && no_unnamed_files(errno)) {
            std::string name;
            fd = create_own_file(place + "/.pixmora-", temporary_suffix, O_RDWR, &name);
            remove_own_name(&name);
        }
        if (fd >= 0)
            return fd;
    }
#ifdef MFD_CLOEXEC
    return ::memfd_create("pixmora-save", MFD_CLOEXEC);
#else
    return -1;
#endif
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
//   any other regular file: more than one name (a     in place: new contents staged whole in a
//     hard link), another owner or group, an access     file without a name (in the folder, the
//     list or attribute that cannot be copied, no       temporary folder or memory), old bytes
//     path of its own, or a folder the user may not     copied to a backup first (holes kept),
//     write                                             then the new written over the old; the
//                                                       old bytes put back when that fails
//   such a file the user may not read, or whose       refused; the file is untouched
//     old bytes cannot be kept anywhere
//
// A new file is made without a name where the file system allows, else
// under a name of this save's own (".<name>.XXXXXX.pm-save", random, made
// with O_EXCL); it gets such a name just before its rename either way.
// Saves side by side, into one file or into files whose names begin alike,
// never touch each other's files: each publishes its own bytes or fails.
// The backup of a file written in place is "<name>.XXXXXX.pm-backup" beside
// it where the folder may be written (else a file without a name), named
// only once complete and removed once the new bytes are flushed.
//
//   the save is killed                                what is left
//   with files without a name                         the old file (or the new one), nothing else
//   without them (the name made with O_EXCL)          also that name, ".<name>.XXXXXX.pm-save":
//                                                       left alone, as no later save can tell it
//                                                       from one under way; remove it by hand
//   while writing in place                            a mixed file, and beside it the complete
//                                                       backup of its old bytes (when the folder
//                                                       may be written)
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
    const bool has_path = path_of_open_file(name, file->old_info, &file->target);
    if (has_path && file->old_info.st_nlink == 1 && create_new_file(file) && carry_over(*file))
        return true;
    // The new file cannot take the old one's place unseen: write in place,
    // but only where the old bytes can be kept.
    close_quietly(file->fd);
    file->fd = -1;
    file->unnamed = false;
    remove_own_name(&file->temporary);
    file->route = replace_route::in_place;
    file->old_reader = reopen_for_reading(file->old_file);
    if (file->old_reader < 0)
        return false;
    file->fd = open_scratch(has_path ? folder_of(file->target) : std::string());
    return file->fd >= 0;
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

// Bytes are copied between files through a buffer of this size.
constexpr size_t copy_block = 64 * 1024;

// Copies the bytes of from in [begin, end) to the same places in to. When
// reached is given, it is raised to the end of each block before the block
// is written, so that it always covers every byte of to that may have
// changed. False on failure (a read that ends early too).
bool copy_bytes(int from, int to, off_t begin, off_t end, off_t *reached = nullptr)
{
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[copy_block]);
    if (!block) {
        errno = ENOMEM;
        return false;
    }
    for (off_t at = begin; at < end;) {
        const size_t want = static_cast<size_t>(std::min<off_t>(end - at, static_cast<off_t>(copy_block)));
        const ssize_t got = ::pread(from, block.get(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        if (reached != nullptr)
            *reached = std::max(*reached, at + got);
        if (!write_all(to, block.get(), static_cast<size_t>(got), at, true))
            return false;
        at += got;
    }
    return true;
}

// Makes [begin, end) of fd a hole again where the file system can, else
// zeros.
bool clear_range(int fd, off_t begin, off_t end)
{
    if (begin >= end)
        return true;
#if defined(FALLOC_FL_PUNCH_HOLE) && defined(__linux__)
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, begin, end - begin) == 0)
        return true;
#endif
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<off_t>(end - begin, copy_block)), 0);
    for (off_t at = begin; at < end; at += static_cast<off_t>(zeros.size()))
        if (!write_all(fd, zeros.data(), static_cast<size_t>(std::min<off_t>(end - at, zeros.size())), at, true))
            return false;
    return true;
}

// Copies [begin, end) of from to the same places in to, holes and all: only
// the data that from holds is read and written, so that the copy of a
// sparse file stays sparse and costs what its data does. Where from has a
// hole, to gets one too when clear_holes (else it is left alone, as in a
// new file). False on failure.
bool copy_data(int from, int to, off_t begin, off_t end, bool clear_holes)
{
    for (off_t at = begin; at < end;) {
        off_t data = at, hole = end;
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
        data = ::lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            data = end; // nothing but a hole to the end
        else if (data < 0 && errno == EINVAL)
            data = at; // the file system shows no holes: all data
        else if (data < 0)
            return false;
        if (data < end) {
            hole = ::lseek(from, data, SEEK_HOLE);
            if (hole < 0)
                hole = end;
        }
        data = std::min(data, end);
        hole = data < end && hole > data ? std::min(hole, end) : end;
#endif
        if (clear_holes && !clear_range(to, at, data))
            return false;
        if (!copy_bytes(from, to, data, hole))
            return false;
        at = hole;
    }
    return true;
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

// The old bytes of a file written in place, kept until the write is done.
struct kept_bytes {
    int fd = -1;      // a copy of the file's bytes, holes kept
    std::string name; // its name beside the file, or empty when it has none

    ~kept_bytes() { close_quietly(fd); }
};

// Copies the first size bytes of from to fd, flushed, sized as from.
bool fill_copy(int from, int fd, off_t size)
{
    return copy_data(from, fd, 0, size, false) && ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
}

// Keeps a flushed copy of the file's size old bytes beside target, where
// the folder may be written: made without a name (or under a name of this
// save's own) and given its backup name only once complete, so that a
// backup that exists is always whole. False, with errno, when it cannot.
bool keep_beside(int from, off_t size, const std::string &target, kept_bytes *kept)
{
    const std::string backup = name_prefix(target, "");
    std::string temporary;
    int fd = open_unnamed(folder_of(target), O_RDWR);
    const bool unnamed = fd >= 0;
    if (fd < 0 && no_unnamed_files(errno))
        fd = create_own_file(name_prefix(target, "."), temporary_suffix, O_RDWR, &temporary);
    if (fd < 0)
        return false;
    const bool named = fill_copy(from, fd, size) &&
                       (unnamed ? link_own_name(fd, backup, backup_suffix, &kept->name)
                                : rename_to_own_name(temporary, backup, backup_suffix, &kept->name));
    if (!named) {
        remove_own_name(&temporary);
        close_quietly(fd);
        return false;
    }
    kept->fd = fd;
    (void)flush_folder(target);
    return true;
}

// Keeps the file's old bytes before any is overwritten: beside it where
// possible, else in a file without a name. False, with errno, when they
// cannot be kept anywhere; then nothing may be written.
bool keep_old_bytes(const file_replacement &file, off_t size, kept_bytes *kept)
{
    if (!file.target.empty() && keep_beside(file.old_reader, size, file.target, kept))
        return true;
    kept->fd = open_scratch(std::string());
    if (kept->fd >= 0 && fill_copy(file.old_reader, kept->fd, size))
        return true;
    const errno_keeper keep;
    close_quietly(kept->fd);
    kept->fd = -1;
    return false;
}

// Writes the staged contents over the file's own, flushed. *touched covers
// every byte that may have changed; *cut tells that the file may have been
// cut shorter. Room for the new contents is asked for first, so that a full
// disk usually stops the save before a byte has changed.
bool write_in_place(const file_replacement &file, off_t old_size, off_t *touched, bool *cut)
{
    const off_t size = file.staged;
#ifdef __linux__
    // Nothing to reserve for an empty file (and fallocate refuses a length of 0).
    if (size > 0) {
        if (::fallocate(file.old_file, FALLOC_FL_KEEP_SIZE, 0, size) == 0)
            *touched = size; // holes in that range may now be allocated
        else if (errno != EOPNOTSUPP && errno != ENOSYS)
            return false;
    }
#endif
    if (!copy_bytes(file.fd, file.old_file, 0, size, touched))
        return false;
    *cut = size < old_size;
    return ::ftruncate(file.old_file, size) == 0 && ::fsync(file.old_file) == 0;
}

// Puts the kept old bytes back over what a failed write may have changed:
// the length, and the bytes up to touched (all of them after a cut), with
// holes where the old file had holes, so that only what was overwritten is
// written again. False on failure.
bool put_back(int file, int kept, off_t old_size, off_t touched, bool cut)
{
    struct stat now {};
    if (::fstat(file, &now) != 0 || (now.st_size != old_size && ::ftruncate(file, old_size) != 0))
        return false;
    const off_t end = cut ? old_size : std::min(touched, old_size);
    return copy_data(kept, file, 0, end, true) && ::fsync(file) == 0;
}

// Writes the staged contents over the file's own, its old bytes kept first
// and put back when that fails. The backup beside the file goes once the
// new bytes (or the old ones put back) are flushed; when the old bytes
// cannot be put back it stays, and holds them.
bool finish_in_place(file_replacement *file)
{
    struct stat old {};
    if (::fstat(file->old_reader, &old) != 0)
        return false;
    kept_bytes kept;
    if (!keep_old_bytes(*file, old.st_size, &kept))
        return false;
    off_t touched = 0;
    bool cut = false;
    if (write_in_place(*file, old.st_size, &touched, &cut)) {
        remove_own_name(&kept.name);
        return true;
    }
    const errno_keeper keep;
    if (put_back(file->old_file, kept.fd, old.st_size, touched, cut))
        remove_own_name(&kept.name);
    return false;
}

// Closes the new file, checked: some file systems report a failed write
// only then, so this comes before the rename (a test build may make it fail).
bool close_new_file(file_replacement *file)
{
    const int fd = file->fd;
    file->fd = -1;
    pm::soft::display_hooks *test = hooks();
    if (::close(fd) != 0)
        return false;
    if (test != nullptr && !test->new_file_may_be_closed()) {
        errno = EIO;
        return false;
    }
    return true;
}

// Puts the flushed new file in place of the old one (or at a new name): it
// gets a name of this save's own if it has none yet, is closed, and is
// renamed; the rename is the last step, so that any failure leaves the old
// file.
bool put_in_place(file_replacement *file)
{
    const mode_t mode = file->route == replace_route::new_file ? new_file_mode() : file->old_info.st_mode & 07777;
    if (::fchmod(file->fd, mode) != 0 || ::fsync(file->fd) != 0)
        return false;
    if (file->unnamed &&
        !link_own_name(file->fd, name_prefix(file->target, "."), temporary_suffix, &file->temporary))
        return false;
    if (!close_new_file(file) || ::rename(file->temporary.c_str(), file->target.c_str()) != 0)
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
        remove_own_name(&file->temporary);
        return nullptr;
    }
    return file.release();
}

bool file_replace_write(file_replacement *file, const void *data, uint32_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (file->route != replace_route::in_place)
        return write_all(file->fd, bytes, size, 0, false);
    if (!write_all(file->fd, bytes, size, file->staged, true))
        return false;
    file->staged += size;
    return true;
}

bool file_replace_finish(file_replacement *file)
{
    std::unique_ptr<file_replacement> owned(file);
    bool ok = false;
    switch (file->route) {
    case replace_route::stream:
        // Some devices report a failed write only when closed.
        ok = ::close(file->fd) == 0;
        file->fd = -1;
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
    if (!ok)
        remove_own_name(&file->temporary);
    return ok;
}

void file_replace_cancel(file_replacement *file)
{
    remove_own_name(&file->temporary);
    delete file;
}

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
