// pm_save_pcx: the file it writes, checked with a decoder of its own, and
// round trips through the loader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "support/library_fixture.h"

// The address sanitizer, as GCC and clang tell it.
#ifdef __SANITIZE_ADDRESS__
#define SANITIZED_BUILD
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_BUILD
#endif
#endif

namespace {

using bytes = std::vector<uint8_t>;

// A saved picture taken apart: header fields, the decoded scanlines (planes x
// BytesPerLine bytes each, top row first) and the trailer, if any.
struct decoded_pcx {
    int manufacturer = 0, version = 0, encoding = 0, bits = 0;
    int x_min = 0, y_min = 0, x_max = 0, y_max = 0, h_dpi = 0, v_dpi = 0;
    int planes = 0, bytes_per_line = 0, palette_info = 0;
    bytes colormap;
    bytes scanlines;
    bytes trailer;
    std::string problem; // the first structural fault, empty when none
};

int le16(const bytes &data, size_t at)
{
    return data[at] | data[at + 1] << 8;
}

// Decodes one plane of one scanline, refusing runs that cross its end.
bool decode_plane(const bytes &data, size_t *at, size_t end, int length, bytes *out, std::string *problem)
{
    int filled = 0;
    while (filled < length) {
        if (*at >= end) {
            *problem = "data ends inside a scanline";
            return false;
        }
        const uint8_t byte = data[(*at)++];
        int count = 1;
        uint8_t value = byte;
        if (byte >= 0xC0) {
            count = byte & 0x3F;
            if (*at >= end || count == 0) {
                *problem = count == 0 ? "empty run" : "run without its value";
                return false;
            }
            value = data[(*at)++];
        }
        if (filled + count > length) {
            *problem = "run crosses the end of a plane";
            return false;
        }
        out->insert(out->end(), static_cast<size_t>(count), value);
        filled += count;
    }
    return true;
}

decoded_pcx decode_pcx(const bytes &data)
{
    decoded_pcx pcx;
    if (data.size() < 128) {
        pcx.problem = "shorter than a header";
        return pcx;
    }
    pcx.manufacturer = data[0];
    pcx.version = data[1];
    pcx.encoding = data[2];
    pcx.bits = data[3];
    pcx.x_min = le16(data, 4);
    pcx.y_min = le16(data, 6);
    pcx.x_max = le16(data, 8);
    pcx.y_max = le16(data, 10);
    pcx.h_dpi = le16(data, 12);
    pcx.v_dpi = le16(data, 14);
    pcx.colormap.assign(data.begin() + 16, data.begin() + 64);
    pcx.planes = data[65];
    pcx.bytes_per_line = le16(data, 66);
    pcx.palette_info = le16(data, 68);
    size_t end = data.size();
    if (pcx.planes == 1) {
        if (end < 128 + 769) {
            pcx.problem = "no room for a trailer";
            return pcx;
        }
        end -= 769;
        pcx.trailer.assign(data.begin() + static_cast<std::ptrdiff_t>(end), data.end());
    }
    size_t at = 128;
    for (int row = 0; row <= pcx.y_max - pcx.y_min; ++row)
        for (int plane = 0; plane < pcx.planes; ++plane)
            if (!decode_plane(data, &at, end, pcx.bytes_per_line, &pcx.scanlines, &pcx.problem)) {
                pcx.problem += " (row " + std::to_string(row) + ", plane " + std::to_string(plane) + ")";
                return pcx;
            }
    if (at != end)
        pcx.problem = std::to_string(end - at) + " bytes left over after the last scanline";
    return pcx;
}

bytes read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Index of the first byte where two arrays differ, or -1.
std::ptrdiff_t first_difference(const bytes &a, const bytes &b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<std::ptrdiff_t>(i);
    return a.size() == b.size() ? -1 : static_cast<std::ptrdiff_t>(n);
}

std::string hex(const bytes &data)
{
    std::string text;
    char cell[4];
    for (uint8_t byte : data) {
        std::snprintf(cell, sizeof cell, "%02X ", byte);
        text += cell;
    }
    return text;
}

class PcxSave : public pixmora_test::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        pixmora_test::start_library();
        pm_realize_palette(pm_create_default_palette());
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-'); // parameterised tests are named "Test/0"
        path_ = (std::filesystem::temp_directory_path() /
                 ("pixmora-save-" + std::to_string(::getpid()) + "-" + name + ".pcx"))
                    .string();
        std::filesystem::remove(path_);
    }
    void TearDown() override
    {
        std::filesystem::remove(path_);
        LibraryTest::TearDown();
    }

    // Sets the whole row y of the active 8-bit buffer, from column 0 on.
    static void fill_row(int32_t y, const bytes &values)
    {
        std::copy(values.begin(), values.end(), pixmora_test::pixel_at(0, y));
    }

    std::string path_;
};

TEST_F(PcxSave, RefusesWhatItCannotWrite)
{
    EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 0, 0, 0), 2) << "no active buffer";
    pixmora_test::make_buffer(10, 6, 8); // 12 columns after rounding
    struct refusal {
        const char *what;
        int32_t min_x, max_x, min_y, max_y;
    };
    const refusal refusals[] = {
        {"left of the buffer", -1, 3, 0, 3},   {"above the buffer", 0, 3, -1, 3},
        {"right of the buffer", 0, 12, 0, 3},  {"below the buffer", 0, 3, 0, 6},
        {"max_x before min_x", 4, 3, 0, 3},    {"max_y before min_y", 0, 3, 3, 2},
        {"wholly outside", 20, 30, 20, 30},
    };
    for (const refusal &r : refusals) {
        EXPECT_EQ(pm_save_pcx(path_.c_str(), r.min_x, r.max_x, r.min_y, r.max_y), 2) << r.what;
        EXPECT_FALSE(std::filesystem::exists(path_)) << r.what << ": a refused save created the file";
    }
    EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 11, 0, 5), 0) << "the whole buffer, padding columns included";

    const std::string no_dir = path_ + ".missing/picture.pcx";
    EXPECT_EQ(pm_save_pcx(no_dir.c_str(), 0, 3, 0, 3), 1);
    EXPECT_EQ(pm_save_pcx(nullptr, 0, 3, 0, 3), 1);

    std::filesystem::remove(path_);
    pm::soft::fail_next_global_allocs(1);
    EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 3, 0, 3), 4);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

struct stat stat_of(const std::string &path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// Names in the folder of path that a save may have left behind: its new
// file's (hidden) and the backup of a file written in place.
std::vector<std::string> leftovers(const std::string &path)
{
    const std::filesystem::path file(path);
    const std::string stem = file.filename().string().substr(0, 64) + ".";
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator(file.parent_path())) {
        const std::string name = entry.path().filename().string();
        const bool backup = name.rfind(stem, 0) == 0 && name.size() == stem.size() + 16 &&
                            name.substr(name.size() - 10) == ".pm-backup";
        if (name.rfind("." + stem, 0) == 0 || backup)
            found.push_back(entry.path().string());
    }
    return found;
}

void write_file(const std::string &path, const bytes &data)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
}

// A save that cannot be finished reports 5 and leaves whatever the name held
// as it was: the old picture, a link and what it leads to, whether the file
// is replaced by a new one or (with a second name) written in place and its
// old bytes put back. Nothing but its own temporary file is ever removed.
TEST_F(PcxSave, AFailedSaveLeavesTheOldFile)
{
    pixmora_test::make_buffer(64, 64, 8);
    std::iota(pm_state.active_bits, pm_state.active_bits + 64 * 64, uint8_t{0});
    const bytes old_picture(40000, 0x5A);
    const std::string second_name = path_ + ".second";
    for (const bool hard_linked : {false, true}) {
        SCOPED_TRACE(hard_linked ? "a file with a second name" : "a file with one name");
        write_file(path_, old_picture);
        if (hard_linked)
            std::filesystem::create_hard_link(path_, second_name);
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1000; // the header and a few rows
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        errno = 0;
        const int32_t result = pm_save_pcx(path_.c_str(), 0, 63, 0, 63);
        const int reason = errno;
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(result, 5);
        EXPECT_EQ(reason, EFBIG) << "errno is left saying why";
        EXPECT_TRUE(read_file(path_) == old_picture) << "the old file was lost";
        EXPECT_EQ(leftovers(path_), std::vector<std::string>{});
        std::filesystem::remove(second_name);
    }

    // The new file is closed, checked, before its rename: a close that
    // fails (as a network file system may report a failed write only then)
    // keeps the old file, or makes none.
    for (const bool existed : {true, false}) {
        SCOPED_TRACE(existed ? "a file replaced" : "a new file");
        std::filesystem::remove(path_);
        if (existed)
            write_file(path_, old_picture);
        pm::soft::fail_next_new_file_closes(1);
        EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 63, 0, 63), 5);
        EXPECT_EQ(std::filesystem::exists(path_), existed);
        EXPECT_TRUE(!existed || read_file(path_) == old_picture) << "the old file was lost";
        EXPECT_EQ(leftovers(path_), std::vector<std::string>{});
    }

    // A file whose owner, group or mode did not carry over to the new file
    // (a file system that takes the change without keeping it) is written in
    // place: the same file, with the new picture.
    for (const uint32_t spoiled : {1u, 2u, 4u}) {
        write_file(path_, old_picture);
        const ino_t inode = stat_of(path_).st_ino;
        pm::soft::spoil_next_carry_over(spoiled);
        EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 63, 0, 63), 0);
        EXPECT_EQ(stat_of(path_).st_ino, inode) << "replaced by a new file, with only " << spoiled << " not kept";
        EXPECT_EQ(decode_pcx(read_file(path_)).x_max, 63);
    }

    // Nothing saved in place (a file with a second name) empties both
    // names; no bytes from nowhere are a write of nothing.
    std::filesystem::create_hard_link(path_, second_name);
    pm_file_writer *empty = pm_file_replace_begin(path_.c_str(), nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(pm_file_replace_write(empty, nullptr, 0), 0);
    EXPECT_EQ(pm_file_replace_finish(empty), 0);
    EXPECT_EQ(std::filesystem::file_size(second_name), 0u);
    std::filesystem::remove(second_name);
    write_file(path_, old_picture);

    // Through a link: the file it leads to is replaced, keeping its
    // permissions, and the link stays.
    const std::string link = path_ + ".link";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(std::filesystem::path(path_).filename(), link);
    const auto permissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                             std::filesystem::perms::group_read;
    std::filesystem::permissions(path_, permissions);
    ASSERT_EQ(pm_save_pcx(link.c_str(), 0, 63, 0, 63), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(decode_pcx(read_file(path_)).x_max, 63);
    EXPECT_EQ(std::filesystem::status(path_).permissions(), permissions);

    // A device is written in place and stays one, and so is an open file
    // whose name is gone.
    ASSERT_EQ(pm_save_pcx("/dev/null", 0, 63, 0, 63), 0);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    const int unnamed = ::open(second_name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(unnamed, 0);
    ::unlink(second_name.c_str());
    ASSERT_EQ(pm_save_pcx(("/proc/self/fd/" + std::to_string(unnamed)).c_str(), 0, 63, 0, 63), 0);
    uint8_t header[128] = {};
    EXPECT_EQ(::pread(unnamed, header, sizeof header, 0), 128);
    EXPECT_EQ(header[0], 0x0A) << "the open file without a name did not get the picture";
    // It is written in place from contents staged whole, not as the bytes
    // come: a save that fails keeps its old bytes.
    ASSERT_EQ(::ftruncate(unnamed, 0), 0);
    ASSERT_EQ(::pwrite(unnamed, old_picture.data(), old_picture.size(), 0), ssize_t(old_picture.size()));
    {
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1000;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const int32_t result = pm_save_pcx(("/proc/self/fd/" + std::to_string(unnamed)).c_str(), 0, 63, 0, 63);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(result, 5);
    }
    bytes kept(old_picture.size() + 1);
    EXPECT_EQ(::pread(unnamed, kept.data(), kept.size(), 0), ssize_t(old_picture.size()));
    kept.pop_back();
    EXPECT_TRUE(kept == old_picture) << "the open file without a name lost its old bytes";
    ::close(unnamed);

    // A link to a device that refuses every byte: reported, and the link stays.
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/full", link);
    EXPECT_EQ(pm_save_pcx(link.c_str(), 0, 63, 0, 63), 5);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);
}

// The same on a file system that is really full, where one is to be had: a
// small memory file system mounted for the test (root only).
TEST_F(PcxSave, AFullDiskKeepsTheOldFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const std::string folder = path_ + ".disk";
    std::filesystem::create_directory(folder);
    const std::string mount = "mount -t tmpfs -o size=128k tmpfs '" + folder + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0) {
        std::filesystem::remove(folder);
        GTEST_SKIP() << "no small file system could be mounted here";
    }
    const std::string picture = folder + "/picture.pcx";
    pixmora_test::make_buffer(200, 200, 8);
    std::iota(pm_state.active_bits, pm_state.active_bits + 200 * 200, uint8_t{0});
    ASSERT_EQ(pm_save_pcx(picture.c_str(), 0, 199, 0, 99), 0);
    const bytes before = read_file(picture);
    // Fill what is left, then save a larger picture over the first: replaced
    // by a new file, then (with a second name) written in place.
    write_file(folder + "/filler", bytes(128 * 1024, 0));
    EXPECT_EQ(pm_save_pcx(picture.c_str(), 0, 199, 0, 199), 5);
    EXPECT_TRUE(read_file(picture) == before) << "the old picture was lost";
    EXPECT_EQ(leftovers(picture), std::vector<std::string>{});
    std::filesystem::create_hard_link(picture, folder + "/second.pcx");
    EXPECT_EQ(pm_save_pcx(picture.c_str(), 0, 199, 0, 199), 5);
    EXPECT_TRUE(read_file(picture) == before && read_file(folder + "/second.pcx") == before)
        << "the old picture written in place was lost";
    const std::string unmount = "umount '" + folder + "'";
    EXPECT_EQ(std::system(unmount.c_str()), 0);
    std::filesystem::remove(folder);
}

// Runs what in a child process as the user nobody (uid and gid 65534), in
// folder; its exit status, or -1 when it did not exit.
int as_nobody(const std::string &folder, const std::function<int()> &what)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                             ::setresuid(65534, 65534, 65534) == 0 && ::chdir(folder.c_str()) == 0;
        ::_exit(dropped ? what() : 99);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> names_in(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What another user sees of a save: a file that user may not write is
// refused, and every other file keeps what it was (its other names, owner,
// group, mode and access list) while showing the new picture. CI runs as
// root, so each save runs in a child process as nobody.
TEST_F(PcxSave, KeepsWhatTheFileWasForAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "saving as another user needs root";
    const bool have_acl = std::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") == 0;
    pixmora_test::make_buffer(50, 40, 8);
    std::iota(pm_state.active_bits, pm_state.active_bits + 50 * 40, uint8_t{7});
    ASSERT_EQ(pm_save_pcx(path_.c_str(), 0, 49, 0, 39), 0);
    const bytes picture = read_file(path_);
    const bytes old(500, 0x33);
    const uid_t nobody = 65534;

    struct user_case {
        const char *what;
        bool folder_writable;              // by nobody
        std::function<void(const std::string &)> prepare; // as root, in the folder
        const char *saved;                 // the name nobody saves, in the folder
        int result;
        std::vector<std::string> names;    // what the folder holds afterwards
        std::function<void(const std::string &)> check;
    };
    const auto plain = [&](const char *name, uid_t owner, gid_t group, mode_t mode) {
        return [=](const std::string &folder) {
            write_file(folder + "/" + name, old);
            ASSERT_EQ(::chown((folder + "/" + name).c_str(), owner, group), 0);
            ASSERT_EQ(::chmod((folder + "/" + name).c_str(), mode), 0);
        };
    };
    const auto owned = [&](const std::string &path, uid_t owner, gid_t group, mode_t mode) {
        const struct stat info = stat_of(path);
        EXPECT_EQ(info.st_uid, owner);
        EXPECT_EQ(info.st_gid, group);
        EXPECT_EQ(info.st_mode & 07777, mode);
    };
    const user_case cases[] = {
        {"a read-only file is refused, untouched", true, plain("f.pcx", nobody, nobody, 0444), "f.pcx", 1,
         {"f.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(read_file(folder + "/f.pcx") == old);
             owned(folder + "/f.pcx", nobody, nobody, 0444);
         }},
        {"a new file", true, [](const std::string &) {}, "f.pcx", 0, {"f.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(read_file(folder + "/f.pcx") == picture);
             owned(folder + "/f.pcx", nobody, nobody, 0640);
         }},
        {"a new file in a folder nobody may write is refused", false, [](const std::string &) {}, "f.pcx", 1, {},
         [](const std::string &) {}},
        {"a plain file keeps its mode, and a name left by a killed save is left alone", true,
         [&](const std::string &folder) {
             plain("f.pcx", nobody, nobody, 0604)(folder);
             plain(".f.pcx.pm-save", nobody, nobody, 0600)(folder);
         },
         "f.pcx", 0, {".f.pcx.pm-save", "f.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(read_file(folder + "/f.pcx") == picture);
             EXPECT_TRUE(read_file(folder + "/.f.pcx.pm-save") == old);
             owned(folder + "/f.pcx", nobody, nobody, 0604);
         }},
        {"every name of a hard link shows the new picture", true,
         [&](const std::string &folder) {
             plain("a.pcx", nobody, nobody, 0644)(folder);
             std::filesystem::create_hard_link(folder + "/a.pcx", folder + "/b.pcx");
         },
         "a.pcx", 0, {"a.pcx", "b.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(read_file(folder + "/a.pcx") == picture);
             EXPECT_TRUE(read_file(folder + "/b.pcx") == picture) << "the second name shows the old picture";
             EXPECT_EQ(stat_of(folder + "/a.pcx").st_ino, stat_of(folder + "/b.pcx").st_ino);
         }},
        {"a file of root:nogroup 0664 keeps its owner, group and mode", true, plain("f.pcx", 0, nobody, 0664),
         "f.pcx", 0, {"f.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(read_file(folder + "/f.pcx") == picture);
             owned(folder + "/f.pcx", 0, nobody, 0664);
         }},
        {"a writable file in a folder nobody may write is written in place", false,
         plain("f.pcx", nobody, nobody, 0644), "f.pcx", 0, {"f.pcx"},
         [&](const std::string &folder) { EXPECT_TRUE(read_file(folder + "/f.pcx") == picture); }},
        {"a dangling relative link in the folder . is followed there", true,
         [](const std::string &folder) { std::filesystem::create_symlink("target.pcx", folder + "/link.pcx"); },
         "./link.pcx", 0, {"link.pcx", "target.pcx"},
         [&](const std::string &folder) {
             EXPECT_TRUE(std::filesystem::is_symlink(folder + "/link.pcx"));
             EXPECT_TRUE(read_file(folder + "/target.pcx") == picture);
         }},
    };
    const std::string top = path_ + ".users";
    std::filesystem::create_directory(top);
    ASSERT_EQ(::chmod(top.c_str(), 0755), 0);
    if (as_nobody(top, [] { return 0; }) != 0) {
        std::filesystem::remove_all(top);
        GTEST_SKIP() << "nobody cannot reach the temporary folder " << top;
    }
    int index = 0;
    for (const user_case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = top + "/" + std::to_string(index++);
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
        if (c.folder_writable) {
            ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
        }
        c.prepare(folder);
        const std::string saved = c.saved;
        EXPECT_EQ(as_nobody(folder,
                            [&] {
                                ::umask(027);
                                return pm_save_pcx(saved.c_str(), 0, 49, 0, 39);
                            }),
                  c.result);
        EXPECT_EQ(names_in(folder), c.names);
        c.check(folder);
    }

    // An access list is carried over to the new file (or the file is
    // written in place).
    if (!have_acl) {
        std::printf("Not tried: the access list case, as setfacl and getfacl are missing (package acl)\n");
    } else {
        const std::string folder = top + "/acl";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
        plain("f.pcx", nobody, nobody, 0640)(folder);
        const std::string file = folder + "/f.pcx";
        if (std::system(("setfacl -m u:daemon:rw '" + file + "' 2>/dev/null").c_str()) != 0) {
            std::printf("Not tried: the access list case, as this file system has no access lists\n");
        } else {
            EXPECT_EQ(as_nobody(folder, [] { return pm_save_pcx("f.pcx", 0, 49, 0, 39); }), 0);
            EXPECT_TRUE(read_file(file) == picture);
            EXPECT_EQ(std::system(("getfacl -c '" + file + "' 2>/dev/null | grep -qx 'user:daemon:rw-'").c_str()), 0)
                << "the access list was lost";
        }
    }
    std::filesystem::remove_all(top);
}

// A save under way is private, and a save killed before it is finished
// leaves the old file and nothing else, both for a file replaced and for a
// new one. Where the file system makes no file without a name (and as if it
// made none), the killed save leaves its own name, which no later save
// touches: a save whose first random name is taken takes another.
TEST_F(PcxSave, AnUnfinishedSaveIsPrivateAndLeavesNothing)
{
    const std::string folder = path_ + ".killed";
    std::filesystem::create_directory(folder);
    const bytes old(300, 0x44);
    write_file(folder + "/f.pcx", old);
    ASSERT_EQ(::chmod((folder + "/f.pcx").c_str(), 0666), 0);
    const std::string canonical = std::filesystem::canonical(folder).string();
    const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool unnamed_files = probe >= 0; // the file system makes files without a name
    if (probe >= 0)
        ::close(probe);
    for (const bool unnamed : {true, false})
        for (const char *name : {"f.pcx", "g.pcx"}) {
            if (unnamed && !unnamed_files)
                continue;
            SCOPED_TRACE(std::string(name) + (unnamed ? ", files without a name" : ", every file named"));
            pm::soft::refuse_unnamed_files(!unnamed);
            pm::soft::fix_next_file_names(0, 1); // the child's name: "AAAAAA"
            const std::string path = folder + "/" + name;
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::umask(0);
                int32_t result = 0;
                pm_file_writer *file = pm_file_replace_begin(path.c_str(), &result);
                const bytes part(70000, 0x11);
                const bool written = file != nullptr && pm_file_replace_write(file, part.data(), 70000) == 0;
                (void)!::write(ready[1], written ? "y" : "n", 1);
                ::pause();
                ::_exit(0);
            }
            ::close(ready[1]);
            char answer = 0;
            EXPECT_EQ(::read(ready[0], &answer, 1), 1);
            ::close(ready[0]);
            EXPECT_EQ(answer, 'y');
            // Every file the child holds open in the folder, other than the old
            // file, is the new one: nobody but its owner may open it.
            const std::string fds = "/proc/" + std::to_string(child) + "/fd";
            int new_files = 0;
            for (const auto &entry : std::filesystem::directory_iterator(fds)) {
                std::error_code failed;
                const std::string target = std::filesystem::read_symlink(entry.path(), failed).string();
                if (failed || target.rfind(canonical + "/", 0) != 0 || target == canonical + "/f.pcx")
                    continue;
                ++new_files;
                struct stat info {};
                ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
                EXPECT_EQ(info.st_mode & 077, 0u) << target << " may be opened by others";
            }
            EXPECT_EQ(new_files, 1);
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            EXPECT_TRUE(read_file(folder + "/f.pcx") == old);
            if (unnamed) {
                EXPECT_EQ(names_in(folder), std::vector<std::string>{"f.pcx"});
                continue;
            }
            const std::string left = "." + std::string(name) + ".AAAAAA.pm-save";
            EXPECT_EQ(names_in(folder), (std::vector<std::string>{left, "f.pcx"}));
            pm::soft::fix_next_file_names(0, 1);
            pm_file_writer *next = pm_file_replace_begin(path.c_str(), nullptr);
            ASSERT_NE(next, nullptr);
            EXPECT_EQ(pm_file_replace_write(next, "next", 4), 0);
            EXPECT_EQ(pm_file_replace_finish(next), 0);
            EXPECT_TRUE(read_file(path) == bytes({'n', 'e', 'x', 't'}));
            EXPECT_TRUE(read_file(folder + "/" + left) == bytes(70000, 0x11)) << "another save's file was touched";
            std::filesystem::remove(folder + "/" + left);
            std::filesystem::remove(folder + "/g.pcx");
            write_file(folder + "/f.pcx", old);
            EXPECT_EQ(names_in(folder), std::vector<std::string>{"f.pcx"});
        }
    pm::soft::refuse_unnamed_files(false);
    std::filesystem::remove_all(folder);
}

// What saver takes saver's k-th save: a header that names both and the
// length, then bytes that follow from them; every save's bytes differ.
bytes save_bytes(uint32_t saver, uint32_t k)
{
    const uint32_t length = 6000 + 1000 * ((saver + k) % 7);
    bytes data(length);
    std::mt19937 random(saver * 1000 + k);
    for (uint8_t &b : data)
        b = static_cast<uint8_t>(random());
    const uint32_t header[3] = {saver, k, length};
    std::memcpy(data.data(), header, sizeof header);
    return data;
}

// True when data is one whole save's bytes (of saver, when it is not -1).
bool one_whole_save(const bytes &data, int64_t saver = -1)
{
    uint32_t header[3] = {};
    if (data.size() < sizeof header)
        return false;
    std::memcpy(header, data.data(), sizeof header);
    if ((saver >= 0 && header[0] != saver) || header[0] >= 8 || header[1] >= 1000)
        return false;
    return data == save_bytes(header[0], header[1]);
}

// Saves data into name in four parts through the public calls, giving the
// processor away between them so that saves side by side interleave. The
// result of finishing, or of the step that failed.
int32_t save_in_parts(const std::string &name, const bytes &data)
{
    int32_t result = 0;
    pm_file_writer *file = pm_file_replace_begin(name.c_str(), &result);
    if (file == nullptr)
        return result;
    const size_t part = data.size() / 4 + 1;
    for (size_t at = 0; at < data.size(); at += part) {
        ::sched_yield();
        if ((result = pm_file_replace_write(file, data.data() + at, uint32_t(std::min(part, data.size() - at)))) != 0) {
            pm_file_replace_cancel(file);
            return result;
        }
    }
    return pm_file_replace_finish(file);
}

// Saves side by side each publish their own bytes or fail, and leave
// nothing: eight processes saving 100 times each into eight files whose
// names begin with the same 100 characters (each reads its file back after
// every save), then eight saving into one file that the test reads all the
// while. Once with files without a name, once as on a file system that
// makes none, in the temporary folder and (root only) on a memory file
// system.
TEST_F(PcxSave, SavesSideBySideKeepTheirOwnBytes)
{
    const std::string top = path_ + ".side";
    std::filesystem::create_directory(top);
    std::vector<std::string> folders = {top + "/disk"};
    std::filesystem::create_directory(folders[0]);
    const std::string memory = top + "/memory";
    std::filesystem::create_directory(memory);
    if (::geteuid() == 0 && std::system(("mount -t tmpfs -o size=64m tmpfs '" + memory + "' 2>/dev/null").c_str()) == 0)
        folders.push_back(memory);
    else
        std::printf("Not tried: a memory file system, as mounting one needs root\n");
    const std::string common(100, 'n');
    // Runs saves(saver) in eight processes at once; their exit statuses.
    const auto side_by_side = [](const std::function<int(uint32_t)> &saves, const std::function<void()> &meanwhile) {
        std::vector<pid_t> children;
        for (uint32_t saver = 0; saver < 8; ++saver) {
            const pid_t child = ::fork();
            if (child == 0)
                ::_exit(saves(saver));
            children.push_back(child);
        }
        meanwhile();
        std::vector<int> statuses;
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        return statuses;
    };
    for (const std::string &folder : folders)
        for (const bool unnamed : {true, false}) {
            SCOPED_TRACE(folder + (unnamed ? ", files without a name" : ", every file named"));
            pm::soft::refuse_unnamed_files(!unnamed);
            const auto file_of = [&](uint32_t saver) { return folder + "/" + common + "_" + char('A' + saver) + ".pcx"; };
            // 1: the status of the first save that failed (10 + its result)
            // or that did not read back its own bytes (2).
            const std::vector<int> own = side_by_side(
                [&](uint32_t saver) {
                    for (uint32_t k = 0; k < 100; ++k) {
                        const bytes data = save_bytes(saver, k);
                        if (const int32_t result = save_in_parts(file_of(saver), data); result != 0)
                            return 10 + result;
                        if (read_file(file_of(saver)) != data)
                            return 2;
                    }
                    return 0;
                },
                [] {});
            EXPECT_EQ(own, std::vector<int>(8, 0)) << "10 + a save's result, or 2: a save published other bytes";
            for (uint32_t saver = 0; saver < 8; ++saver) {
                EXPECT_TRUE(read_file(file_of(saver)) == save_bytes(saver, 99)) << file_of(saver);
                std::filesystem::remove(file_of(saver));
            }
            EXPECT_EQ(names_in(folder).size(), 0u) << "a save left a file behind";

            // 2: into one file, read whole all the while: always one
            // complete save's bytes, with the file's own mode.
            const std::string one = folder + "/one.pcx";
            write_file(one, save_bytes(0, 999));
            ASSERT_EQ(::chmod(one.c_str(), 0644), 0);
            int reads = 0;
            std::string broken;
            const std::vector<int> shared = side_by_side(
                [&](uint32_t saver) {
                    for (uint32_t k = 0; k < 25; ++k)
                        if (const int32_t result = save_in_parts(one, save_bytes(saver, k)); result != 0)
                            return 10 + result;
                    return 0;
                },
                [&] {
                    for (int i = 0; i < 400 && broken.empty(); ++i, ++reads) {
                        const int fd = ::open(one.c_str(), O_RDONLY | O_CLOEXEC);
                        struct stat info {};
                        bytes data(20000);
                        const ssize_t got = fd < 0 ? -1 : ::read(fd, data.data(), data.size());
                        if (fd < 0 || ::fstat(fd, &info) != 0 || got < 0)
                            broken = "the file could not be read: " + std::string(std::strerror(errno));
                        else if ((info.st_mode & 07777) != 0644)
                            broken = "the file was seen with mode " + std::to_string(info.st_mode & 07777);
                        else if (data.resize(size_t(got)); !one_whole_save(data))
                            broken = "the file was seen holding " + std::to_string(got) + " bytes of no one save";
                        if (fd >= 0)
                            ::close(fd);
                    }
                });
            EXPECT_EQ(shared, std::vector<int>(8, 0)) << "10 + a save's result";
            EXPECT_EQ(broken, "") << "after " << reads << " reads";
            EXPECT_TRUE(one_whole_save(read_file(one)));
            EXPECT_EQ(names_in(folder), std::vector<std::string>{"one.pcx"});
            std::filesystem::remove(one);
        }
    pm::soft::refuse_unnamed_files(false);
    if (folders.size() > 1) {
        EXPECT_EQ(std::system(("umount '" + memory + "'").c_str()), 0);
    }
    std::filesystem::remove_all(top);
}

// Runs what in a child process; its exit status, or 128 + the signal that
// ended it.
int in_child(const std::function<int()> &what)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(what());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// length bytes that follow from seed, written to name in blocks.
void write_pattern(const std::string &name, uint8_t seed, size_t length)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    bytes block(64 * 1024);
    for (size_t at = 0; at < length; at += block.size()) {
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<uint8_t>((at + i) * 131 + seed + ((at + i) >> 12));
        out.write(reinterpret_cast<const char *>(block.data()), std::streamsize(std::min(block.size(), length - at)));
    }
}

// In a child: begins replacing name, limits the memory the process may
// take to what it holds plus memory_room (unless 0), stages length bytes of
// the pattern of seed, limits the files it may write to file_limit bytes
// (unless 0; SIGXFSZ ignored unless killed), and finishes. The result.
int save_pattern_in_child(const std::string &name, uint8_t seed, size_t length, size_t memory_room,
                          rlim_t file_limit, bool killed = false)
{
    return in_child([&] {
        int32_t result = 0;
        pm_file_writer *file = pm_file_replace_begin(name.c_str(), &result);
        if (file == nullptr)
            return 10 + result;
        if (memory_room != 0) {
            std::ifstream status("/proc/self/status");
            std::string line;
            rlim_t held = 0;
            while (std::getline(status, line))
                if (line.rfind("VmSize:", 0) == 0)
                    held = static_cast<rlim_t>(std::strtoull(line.c_str() + 7, nullptr, 10)) * 1024;
            const rlimit memory{held + memory_room, held + memory_room};
            if (held == 0 || setrlimit(RLIMIT_AS, &memory) != 0)
                return 20;
        }
        bytes block(64 * 1024);
        for (size_t at = 0; at < length; at += block.size()) {
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<uint8_t>((at + i) * 131 + seed + ((at + i) >> 12));
            if ((result = pm_file_replace_write(file, block.data(), uint32_t(std::min(block.size(), length - at)))) != 0)
                return 30 + result;
        }
        if (file_limit != 0) {
            const rlimit no_core{0, 0}, files{file_limit, file_limit};
            std::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
            if (setrlimit(RLIMIT_CORE, &no_core) != 0 || setrlimit(RLIMIT_FSIZE, &files) != 0)
                return 21;
        }
        return int(pm_file_replace_finish(file));
    });
}

// A file written in place (here, one with a second name) has its new bytes
// staged, and its old ones kept, in files rather than in memory: a save
// larger than the memory the process may still take works, and a save that
// cannot keep the old bytes (its copy passes a file size limit) is refused
// before a byte changes. A sparse file's old bytes put back leave its holes
// holes.
TEST_F(PcxSave, WritesInPlaceOnlyWithTheOldBytesKept)
{
    const std::string second = path_ + ".second";
    constexpr size_t size = 16u << 20;
    write_pattern(path_, 1, size);
    std::filesystem::create_hard_link(path_, second);
#ifndef SANITIZED_BUILD // the address sanitizer cannot run under a limit of memory
    EXPECT_EQ(save_pattern_in_child(path_, 2, size, 8u << 20, 0), 0) << "16 MB saved with 8 MB of memory to spare";
    write_pattern(second + ".expected", 2, size);
    EXPECT_TRUE(read_file(path_) == read_file(second + ".expected"));
    std::filesystem::remove(second + ".expected");
    const size_t memory_room = 8u << 20;
#else
    const size_t memory_room = 0;
#endif
    const bytes before = read_file(second);
    const int result = save_pattern_in_child(path_, 3, 2u << 20, memory_room, 1u << 20);
    EXPECT_TRUE(result == 5 || result == 4) << result;
    EXPECT_TRUE(read_file(second) == before) << "the old bytes were not kept";
    EXPECT_EQ(leftovers(path_), std::vector<std::string>{});

    // A sparse file of 8 MB, with 64 KB of data at its start and in its
    // middle: a save of 12 MB that stops at 9 MB puts back the data and the
    // holes.
    write_pattern(path_, 4, 0);
    {
        const int fd = ::open(path_.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const bytes data(64 * 1024, 0x77);
        EXPECT_EQ(::pwrite(fd, data.data(), data.size(), 0), ssize_t(data.size()));
        EXPECT_EQ(::pwrite(fd, data.data(), data.size(), 4 << 20), ssize_t(data.size()));
        EXPECT_EQ(::ftruncate(fd, 8 << 20), 0);
        ::close(fd);
    }
    const bytes sparse = read_file(path_);
    const blkcnt_t blocks = stat_of(path_).st_blocks;
    if (blocks * 512 >= 4 << 20) {
        std::printf("Not tried: the sparse file, as this file system has no holes\n");
    } else {
        EXPECT_EQ(save_pattern_in_child(path_, 5, 12u << 20, 0, 9u << 20), 5);
        EXPECT_TRUE(read_file(path_) == sparse) << "the sparse file's bytes were not put back";
        EXPECT_LE(stat_of(path_).st_blocks, blocks + 64) << "the holes were filled: " << blocks << " blocks before";
        EXPECT_EQ(leftovers(path_), std::vector<std::string>{});
    }
    std::filesystem::remove(second);
}

// A save killed while it writes a file in place leaves the file mixed, and
// beside it the whole of its old bytes in a backup named after it, to copy
// back over it; with files without a name and without.
TEST_F(PcxSave, AKilledInPlaceSaveLeavesABackupOfTheOldBytes)
{
    const std::string folder = path_ + ".backup";
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "files without a name" : "every file named");
        pm::soft::refuse_unnamed_files(!unnamed);
        std::filesystem::create_directory(folder);
        write_pattern(folder + "/f.pcx", 1, 256 * 1024);
        const bytes old = read_file(folder + "/f.pcx");
        std::filesystem::create_hard_link(folder + "/f.pcx", folder + "/g.pcx");
        // Killed by SIGXFSZ when the new bytes pass 512 KB.
        EXPECT_EQ(save_pattern_in_child(folder + "/f.pcx", 2, 1u << 20, 0, 512 * 1024, true), 128 + SIGXFSZ);
        const std::vector<std::string> names = names_in(folder);
        ASSERT_EQ(names.size(), 3u);
        EXPECT_EQ(names[0], "f.pcx");
        const std::string backup = names[1];
        EXPECT_TRUE(backup.size() == 22 && backup.rfind("f.pcx.", 0) == 0 && backup.substr(12) == ".pm-backup")
            << backup;
        EXPECT_TRUE(read_file(folder + "/" + backup) == old) << "the backup does not hold the old bytes";
        EXPECT_NE(first_difference(read_file(folder + "/g.pcx"), old), -1) << "the save was not killed midway";
        std::filesystem::remove_all(folder);
    }
    pm::soft::refuse_unnamed_files(false);
}

// A named pipe is written in place and blocking: a reader slower than the
// save gets every byte of a picture larger than the pipe holds.
TEST_F(PcxSave, WritesAllOfAPictureIntoAPipeWithASlowReader)
{
    const std::string fifo = path_ + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    pixmora_test::make_buffer(400, 200, 8);
    std::mt19937 random(99);
    for (int32_t i = 0; i < 400 * 200; ++i)
        pm_state.active_bits[i] = static_cast<uint8_t>(random());
    ASSERT_EQ(pm_save_pcx(path_.c_str(), 0, 399, 0, 199), 0);
    const bytes picture = read_file(path_);
    ASSERT_GT(picture.size(), 65536u);

    // The pipe is full before the save begins, so its first write must wait
    // for the reader.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GE(filler, 0);
    size_t filled = 0;
    const bytes block(4096, 0xEE);
    for (ssize_t n = 0; (n = ::write(filler, block.data(), block.size())) > 0;)
        filled += static_cast<size_t>(n);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(pm_save_pcx(fifo.c_str(), 0, 399, 0, 199));
    ::close(filler);
    // The reader starts once the saving child waits on the full pipe (or has
    // given up).
    for (;;) {
        std::ifstream stat_file("/proc/" + std::to_string(child) + "/stat");
        std::string pid, command, state;
        stat_file >> pid >> command >> state;
        if (state != "R")
            break;
        ::sched_yield();
    }
    ASSERT_EQ(::fcntl(reader, F_SETFL, 0), 0);
    bytes got;
    uint8_t chunk[4096];
    for (ssize_t n = 0; (n = ::read(reader, chunk, sizeof chunk)) > 0;)
        got.insert(got.end(), chunk, chunk + n);
    ::close(reader);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save into the pipe failed";
    ASSERT_EQ(got.size(), filled + picture.size());
    EXPECT_TRUE(bytes(got.begin() + static_cast<std::ptrdiff_t>(filled), got.end()) == picture);
    std::filesystem::remove(fifo);
}

// BytesPerLine is a 16-bit field that must be even: 65534 columns at most.
TEST_F(PcxSave, RefusesRowsTooWideForTheHeader)
{
    pixmora_test::make_buffer(65536, 1, 8);
    EXPECT_EQ(pm_save_pcx(path_.c_str(), 0, 65534, 0, 0), 2);
    EXPECT_FALSE(std::filesystem::exists(path_));
    ASSERT_EQ(pm_save_pcx(path_.c_str(), 1, 65534, 0, 0), 0);
    EXPECT_EQ(decode_pcx(read_file(path_)).bytes_per_line, 65534);
}

TEST_F(PcxSave, WritesTheHeaderAndTrailerOfA256ColourPicture)
{
    pixmora_test::make_buffer(8, 4, 8);
    uint8_t colours[3 * 256];
    for (int i = 0; i < 3 * 256; ++i)
        colours[i] = static_cast<uint8_t>(i * 7 + 3);
    pm_set_palette_entries(0, 256, colours);

    ASSERT_EQ(pm_save_pcx(path_.c_str(), 2, 6, 1, 3), 0);
    const decoded_pcx pcx = decode_pcx(read_file(path_));
    ASSERT_EQ(pcx.problem, "");
    EXPECT_EQ(pcx.manufacturer, 0x0A);
    EXPECT_EQ(pcx.version, 5);
    EXPECT_EQ(pcx.encoding, 1);
    EXPECT_EQ(pcx.bits, 8);
    EXPECT_EQ(pcx.x_min, 0);
    EXPECT_EQ(pcx.y_min, 0);
    EXPECT_EQ(pcx.x_max, 4);
    EXPECT_EQ(pcx.y_max, 2);
    EXPECT_EQ(pcx.h_dpi, 72);
    EXPECT_EQ(pcx.v_dpi, 72);
    EXPECT_EQ(pcx.planes, 1);
    EXPECT_EQ(pcx.bytes_per_line, 6) << "BytesPerLine is the width rounded up to even";
    EXPECT_EQ(pcx.palette_info, 1);
    EXPECT_EQ(first_difference(pcx.colormap, bytes(colours, colours + 48)), -1) << "header colours";
    const bytes raw = read_file(path_);
    EXPECT_EQ(raw[64], 0) << "reserved byte";
    EXPECT_EQ(first_difference(bytes(raw.begin() + 74, raw.begin() + 128), bytes(54, 0)), -1) << "filler";
    ASSERT_EQ(pcx.trailer.size(), 769u);
    EXPECT_EQ(pcx.trailer[0], 0x0C);
    EXPECT_EQ(first_difference(bytes(pcx.trailer.begin() + 1, pcx.trailer.end()), bytes(colours, colours + 768)),
              -1)
        << "trailer colours";
}

// Exact encodings of single rows, including the pad byte of odd widths.
TEST_F(PcxSave, EncodesRunsWithinEachScanline)
{
    struct encoding_case {
        const char *what;
        bytes row;
        bytes expected;
    };
    const encoding_case cases[] = {
        {"plain bytes, odd width padded with 0", {0x01, 0x02, 0x03}, {0x01, 0x02, 0x03, 0x00}},
        {"a lone byte of 0xC0 or more is a run of 1", {0xC0, 0x3F, 0xFF, 0xBF}, {0xC1, 0xC0, 0x3F, 0xC1, 0xFF, 0xBF}},
        {"pairs become runs", {0x05, 0x05, 0xC7, 0xC7}, {0xC2, 0x05, 0xC2, 0xC7}},
        {"trailing zeros run into the pad byte", {0x09, 0x00, 0x00}, {0x09, 0xC3, 0x00}},
        {"64 equal bytes: a run of 63 and one of 1", bytes(64, 0xC8), {0xFF, 0xC8, 0xC1, 0xC8}},
        {"127 equal bytes: two runs of 63, a plain byte, the pad", bytes(127, 0x11), {0xFF, 0x11, 0xFF, 0x11, 0x11, 0x00}},
    };
    for (const encoding_case &c : cases) {
        SCOPED_TRACE(c.what);
        pixmora_test::reset_library();
        pixmora_test::start_library();
        const auto width = static_cast<int32_t>(c.row.size());
        pixmora_test::make_buffer(width, 1, 8);
        fill_row(0, c.row);
        ASSERT_EQ(pm_save_pcx(path_.c_str(), 0, width - 1, 0, 0), 0);
        const bytes file = read_file(path_);
        ASSERT_GE(file.size(), 128u + 769u);
        const bytes data(file.begin() + 128, file.end() - 769);
        EXPECT_EQ(first_difference(data, c.expected), -1) << "written " << hex(data) << "\nexpected " << hex(c.expected);
    }
}

TEST_F(PcxSave, NoRunCrossesAScanlineOrAPlane)
{
    // Every row and plane holds the same byte, which invites runs across
    // their ends; at 24 bits the three planes of a grey row are equal too.
    for (int32_t depth : {8, 24}) {
        SCOPED_TRACE(depth);
        pixmora_test::reset_library();
        pixmora_test::start_library();
        pixmora_test::make_buffer(20, 5, depth);
        std::fill(pm_state.active_bits, pm_state.active_bits + pm_state.active_stride * 5, uint8_t{0x77});
        ASSERT_EQ(pm_save_pcx(path_.c_str(), 0, 16, 0, 4), 0);
        const decoded_pcx pcx = decode_pcx(read_file(path_));
        EXPECT_EQ(pcx.problem, "");
        const int planes = depth == 8 ? 1 : 3;
        ASSERT_EQ(pcx.scanlines.size(), static_cast<size_t>(5 * planes * 18));
        for (size_t i = 0; i < pcx.scanlines.size(); ++i) {
            const bool pad = i % 18 == 17;
            ASSERT_EQ(pcx.scanlines[i], pad ? 0 : 0x77) << "decoded byte " << i;
        }
    }
}

// 16-bit pixels become 8-bit channels by repeating their top bits.
TEST_F(PcxSave, Widens565PixelsByBitReplication)
{
    pixmora_test::make_buffer(4, 1, 16);
    // 0xFFFF, 0xF800, 0x0821 and 0x8410, little-endian.
    const uint8_t pixels[8] = {0xFF, 0xFF, 0x00, 0xF8, 0x21, 0x08, 0x10, 0x84};
    std::memcpy(pixmora_test::pixel_at(0, 0), pixels, sizeof pixels);
    ASSERT_EQ(pm_save_pcx(path_.c_str(), 0, 3, 0, 0), 0);
    const decoded_pcx pcx = decode_pcx(read_file(path_));
    ASSERT_EQ(pcx.problem, "");
    EXPECT_EQ(pcx.planes, 3);
    EXPECT_TRUE(pcx.trailer.empty());
    // red plane, green plane, blue plane
    const bytes expected = {0xFF, 0xFF, 0x08, 0x84, 0xFF, 0x00, 0x04, 0x82, 0xFF, 0x00, 0x08, 0x84};
    EXPECT_EQ(first_difference(pcx.scanlines, expected), -1)
        << "written " << hex(pcx.scanlines) << "\nexpected " << hex(expected);
}

// Save a rectangle, load it into a fresh buffer of the same depth at (0, 0):
// the pixels (and at 8 bits the palette) come back unchanged.
class PcxSaveRoundTrip : public PcxSave, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PcxSaveRoundTrip, GivesBackThePixels)
{
    const int32_t depth = GetParam();
    const int32_t bpp = depth / 8;
    std::mt19937 random(1234u + static_cast<unsigned>(depth));
    const int32_t source = pixmora_test::make_buffer(71, 37, depth);
    for (int32_t i = 0; i < pm_state.active_stride * pm_state.active_height; ++i) {
        // Long stretches of equal bytes as well as noise, so runs of every
        // length occur; the fill byte of 32-bit pixels stays 0.
        const bool noise = (i / 97) % 2 == 0;
        const auto value = static_cast<uint8_t>(noise ? random() : (i / 300) * 37);
        pm_state.active_bits[i] = depth == 32 && i % 4 == 3 ? 0 : value;
    }
    uint8_t colours[3 * 256];
    for (uint8_t &c : colours)
        c = static_cast<uint8_t>(random());
    pm_set_palette_entries(0, 256, colours);

    const int32_t min_x = 3, max_x = 69, min_y = 2, max_y = 36; // odd width: 67
    ASSERT_EQ(pm_save_pcx(path_.c_str(), min_x, max_x, min_y, max_y), 0);
    const int32_t width = max_x - min_x + 1, height = max_y - min_y + 1;

    const int32_t target = pixmora_test::make_buffer(width, height, depth);
    uint8_t grey[3 * 256] = {};
    pm_set_palette_entries(0, 256, grey);
    pm_move_cursor(0, 0);
    ASSERT_EQ(pm_load_pcx(path_.c_str(), pcx_at_cursor | pcx_no_reduction), 0);

    pm_buffer_activate(source);
    bytes saved, loaded;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = pixmora_test::pixel_at(min_x, min_y + y);
        saved.insert(saved.end(), row, row + width * bpp);
    }
    pm_buffer_activate(target);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = pixmora_test::pixel_at(0, y);
        loaded.insert(loaded.end(), row, row + width * bpp);
    }
    const std::ptrdiff_t at = first_difference(saved, loaded);
    EXPECT_EQ(at, -1) << "first difference at pixel (" << at / bpp % width << ", " << at / bpp / width << ")";

    if (depth == 8) {
        // Without reduction an 8-bit load takes entries 10..245 from the trailer.
        for (int32_t i = 10; i < 246; ++i) {
            const pm_paletteentry &entry = pm_state.logical_palette.palPalEntry[i];
            ASSERT_EQ(bytes({entry.peRed, entry.peGreen, entry.peBlue}),
                      bytes(colours + 3 * i, colours + 3 * i + 3))
                << "palette entry " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, PcxSaveRoundTrip, ::testing::Values(8, 16, 24, 32));

} // namespace

namespace {

// A colour per palette slot, all distinct at every depth (their top three
// bits per channel survive 5-6-5).
bytes slot_colour(int32_t i)
{
    return {uint8_t((i & 7) << 5 | 0x10), uint8_t(((i >> 3) & 7) << 5), uint8_t(((i >> 6) & 7) << 5 | 0x08)};
}

int32_t collect_bytes(void *context, const void *data, uint32_t size)
{
    auto *out = static_cast<bytes *>(context);
    out->insert(out->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    return 0;
}

// The active buffer's colours, RGB per pixel, top row first.
bytes buffer_colours(int32_t width, int32_t height)
{
    bytes out(size_t(3 * width * height));
    for (int32_t y = 0; y < height; ++y)
        EXPECT_EQ(pm_read_row(0, y, width, PM_ROW_RGB24, &out[size_t(3 * width * y)]), 0);
    return out;
}

// ImageMagick's decoding of a picture, RGB per pixel; empty when it fails.
bytes imagemagick_rgb(const bytes &file, const std::string &stem)
{
    const auto dir = std::filesystem::temp_directory_path();
    const auto in = dir / (stem + ".pcx"), out = dir / (stem + ".rgb");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    const std::string command = "convert '" + in.string() + "' -depth 8 'rgb:" + out.string() + "' 2>/dev/null";
    bytes shown;
    if (std::system(command.c_str()) == 0)
        shown = read_file(out.string());
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return shown;
}

} // namespace

// Every layout from every depth: a picture of as many colours as the layout
// holds is written with the layout's planes, bits and an even BytesPerLine,
// loads back (with every layout read) to the same colours, and shows them
// in ImageMagick too (not for one bit, which it shows inverted); one colour
// more is refused before any byte is handed over.
TEST_F(PcxSave, EveryLayoutFromEveryDepthReadsBackTheSameColours)
{
    const bool have_convert = std::system("command -v convert > /dev/null 2>&1") == 0;
    const struct {
        int32_t layout, bits, planes, capacity, version;
    } layouts[] = {
        {pcx_layout_mono, 1, 1, 2, 2},      {pcx_layout_cga4, 2, 1, 4, 2},    {pcx_layout_packed16, 4, 1, 16, 2},
        {pcx_layout_vga256, 8, 1, 256, 5},  {pcx_layout_planes4, 1, 2, 4, 2}, {pcx_layout_planes8, 1, 3, 8, 2},
        {pcx_layout_ega16, 1, 4, 16, 2},    {pcx_layout_rgb24, 8, 3, 0, 5},
    };
    constexpr int32_t width = 37, height = 9; // odd; 333 pixels hold 257 colours
    for (const auto &l : layouts)
        for (const int32_t depth : {8, 16, 24, 32})
            for (const bool one_too_many : {false, true}) {
                // 256 colours always fit an 8-bit buffer's own trailer.
                if (one_too_many && (l.capacity == 0 || (l.capacity == 256 && depth == 8)))
                    continue;
                SCOPED_TRACE("layout " + std::to_string(l.layout) + " at " + std::to_string(depth) + " bits" +
                             (one_too_many ? ", one colour too many" : ""));
                const int32_t colours = one_too_many ? l.capacity + 1 : l.capacity != 0 ? l.capacity : 200;
                const int32_t source = pixmora_test::make_buffer(width, height, depth);
                if (depth == 8) { // indices 10 on, as a loaded picture has them
                    for (int32_t i = 0; i < std::min(colours, 236); ++i)
                        pm_set_palette_entries(10 + i, 1, slot_colour(i).data());
                }
                for (int32_t y = 0; y < height; ++y) {
                    bytes row;
                    for (int32_t x = 0; x < width; ++x) {
                        const int32_t slot = (x + width * y) % colours;
                        if (depth == 8)
                            row.push_back(uint8_t(10 + slot % 236));
                        else
                            for (uint8_t c : slot_colour(slot))
                                row.push_back(c);
                    }
                    ASSERT_EQ(pm_write_row(0, y, width, depth == 8 ? PM_ROW_INDEX8 : PM_ROW_RGB24, row.data()), 0);
                }
                const bytes original = buffer_colours(width, height);
                bytes file;
                const int32_t result = pm_save_pcx_to(collect_bytes, &file, l.layout, 0, width - 1, 0, height - 1);
                // A file save in the layout writes the same bytes, or leaves the old file.
                const bytes old_file(5, 0x5A);
                write_file(path_, old_file);
                EXPECT_EQ(pm_save_pcx_file(path_.c_str(), l.layout, 0, width - 1, 0, height - 1), result);
                EXPECT_TRUE(read_file(path_) == (one_too_many ? old_file : file));
                if (one_too_many) {
                    EXPECT_EQ(result, PM_PCX_TOO_MANY_COLOURS);
                    EXPECT_TRUE(file.empty());
                    pm_buffer_deactivate();
                    pm_buffer_destroy(source);
                    continue;
                }
                ASSERT_EQ(result, 0);
                ASSERT_GE(file.size(), 128u);
                const int32_t bytes_per_line = file[66] | file[67] << 8;
                EXPECT_EQ(file[1], l.version);
                EXPECT_EQ(file[3], l.bits);
                EXPECT_EQ(file[65], l.planes);
                EXPECT_EQ(bytes_per_line % 2, 0);
                EXPECT_EQ(bytes_per_line, ((width * l.bits + 7) / 8 + 1) & ~1);

                // 24-bit colour loads into deeper buffers only.
                const int32_t target = pixmora_test::make_buffer(width, height, l.planes == 3 && depth == 8 ? 32 : depth);
                pm_set_input_block(file.data(), uint32_t(file.size()));
                ASSERT_EQ(pm_load_pcx(nullptr, pcx_from_memory | pcx_all_layouts | pcx_no_reduction), 0);
                pm_set_input_block(nullptr, 0);
                const bytes loaded = buffer_colours(width, height);
                const std::ptrdiff_t at = first_difference(original, loaded);
                EXPECT_EQ(at, -1) << "first difference at pixel (" << at / 3 % width << ", " << at / 3 / width << ")";
                if (have_convert && depth == 32 && l.bits * l.planes > 1) {
                    const bytes shown = imagemagick_rgb(file, "pixmora-layout-" + std::to_string(::getpid()));
                    const std::ptrdiff_t seen = first_difference(original, shown);
                    EXPECT_EQ(seen, -1) << "ImageMagick: first difference at pixel (" << seen / 3 % width << ", "
                                        << seen / 3 / width << ")";
                }
                pm_buffer_deactivate();
                pm_buffer_destroy(target);
                pm_buffer_destroy(source);
            }
    // In one bit the lighter colour is the set bit: dark grey over pure
    // blue, whose order the sign of the luma's blue weight decides.
    pixmora_test::make_buffer(2, 1, 32);
    const uint8_t blue_grey[] = {0, 0, 255, 60, 60, 60};
    ASSERT_EQ(pm_write_row(0, 0, 2, PM_ROW_RGB24, blue_grey), 0);
    bytes mono;
    ASSERT_EQ(pm_save_pcx_to(collect_bytes, &mono, pcx_layout_mono, 0, 1, 0, 0), 0);
    ASSERT_GT(mono.size(), 128u);
    EXPECT_TRUE(bytes(mono.begin() + 16, mono.begin() + 22) == bytes(blue_grey, blue_grey + 6));
    EXPECT_EQ(mono[128], 0x40) << "the grey pixel's bit alone is set";
}
