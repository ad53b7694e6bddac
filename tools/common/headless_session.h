// The library started on the software display, as the converter and the
// viewer run it: a 1 x 1 window at 32 bits with the default palette realized,
// so that 8-bit loads have colours to show, and at most one buffer.
#pragma once

#include <cstdint>

#include <pixmora/pixmora.h>

namespace tools {

class headless_session {
public:
    headless_session();
    // Destroys the buffer, shuts the library down and frees the palette and
    // the window.
    ~headless_session();
    headless_session(const headless_session &) = delete;
    headless_session &operator=(const headless_session &) = delete;

    int32_t buffer = -1; // the caller's buffer, destroyed with the session

private:
    pm_hdc dc_ = nullptr;
    pm_hpalette palette_ = nullptr;
};

} // namespace tools
