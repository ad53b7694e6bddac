// The buffer object: owns one virtual buffer of the library for exactly its
// own lifetime, and carries the library's start-up and shut-down with it.
#pragma once

#include <cstdint>

namespace demo {

class buffer_object {
public:
    // Starts the library first when start_library is non-zero, then creates
    // a buffer of width x height, activates it and brings its colour table in
    // step with the palette, so the new buffer is active on return.
    buffer_object(int32_t width, int32_t height, int32_t start_library);
    // Deactivates, destroys the buffer and asks the library to shut down; the
    // library only goes down when no buffer is left. A buffer whose creation
    // failed is not passed to the destruction, which would read its negative
    // code as "every buffer".
    ~buffer_object();

    buffer_object(const buffer_object &) = delete;
    buffer_object &operator=(const buffer_object &) = delete;

    // The library's handle of the buffer, or the negative code of a failed creation.
    int32_t handle() const { return handle_; }

private:
    int32_t handle_;
};

} // namespace demo
