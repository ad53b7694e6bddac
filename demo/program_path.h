// Finding the program's directory and joining it with a file name, in the
// fixed 256-byte buffers the demo keeps its paths in.
#pragma once

#include <cstdint>

namespace demo {

constexpr int32_t path_capacity = 256; // bytes of a path buffer, terminating zero included

#ifdef _WIN32
constexpr char path_separator = '\\';
#else
constexpr char path_separator = '/';
#endif

// Writes the path of the running program file into buffer with a
// terminating zero and returns its number of characters; returns 0 when the
// path is not known, and size or more when it does not fit (the buffer then
// holds no usable path: a path cut short names another folder).
using program_file_source = uint32_t (*)(char *buffer, uint32_t size);
uint32_t program_file_name(char *buffer, uint32_t size);

// Fills directory from source, then ends it just after its last separator,
// so that it keeps the separator. Without a separator it keeps the path.
// False, with directory empty, when source does not know the path or it
// does not fit.
bool fill_program_directory(char (&directory)[path_capacity], program_file_source source);

// path = directory followed by name. False, with path empty, when the two
// do not fit in the buffer.
bool join_path(char (&path)[path_capacity], const char *directory, const char *name);

} // namespace demo
