#include "demo/program_path.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace demo {

uint32_t program_file_name(char *buffer, uint32_t size)
{
    if (size == 0)
        return 0;
#ifdef _WIN32
    // A path that does not fit is cut short, and the whole size returned.
    return GetModuleFileNameA(nullptr, buffer, size);
#else
    // The kernel names the running executable here. readlink cuts a longer
    // path short without saying so and does not terminate what it writes:
    // asking for the whole buffer, a result that fills it means the path
    // did not fit, since its terminating zero would not.
    ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length < 0)
        length = 0;
    if (static_cast<size_t>(length) >= size)
        return size;
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
#endif
}

bool fill_program_directory(char (&directory)[path_capacity], program_file_source source)
{
    directory[0] = '\0';
    uint32_t length = source(directory, path_capacity);
    if (length == 0 || length >= path_capacity) {
        directory[0] = '\0';
        return false;
    }
    directory[length] = '\0';
    for (uint32_t i = length; i-- > 0;) {
        if (directory[i] == path_separator) {
            directory[i + 1] = '\0';
            break;
        }
    }
    return true;
}

bool join_path(char (&path)[path_capacity], const char *directory, const char *name)
{
    size_t directory_length = std::strlen(directory);
    size_t name_length = std::strlen(name);
    if (directory_length + name_length >= static_cast<size_t>(path_capacity)) {
        path[0] = '\0';
        return false;
    }
    std::memcpy(path, directory, directory_length);
    std::memcpy(path + directory_length, name, name_length + 1);
    return true;
}

} // namespace demo
