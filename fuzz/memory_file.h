// A file held in memory (memfd) that the loader opens by name like any other,
// so the fuzz targets reach the file source without touching the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Opens an empty memory file; its descriptor, or -1. *name is set to the
// path that opens it.
inline int memory_file_open(const char *label, std::string *name)
{
    const int file = ::memfd_create(label, MFD_CLOEXEC);
    if (file >= 0)
        *name = "/proc/self/fd/" + std::to_string(file);
    return file;
}

// Makes the file hold exactly size bytes of data; false when it cannot.
inline bool memory_file_fill(int file, const uint8_t *data, size_t size)
{
    if (file < 0 || ::ftruncate(file, 0) != 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(file, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace fuzz
