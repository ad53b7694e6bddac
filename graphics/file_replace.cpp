// The public safe file replacement, over the platform's: a write that fails
// is remembered, so that a caller that goes on writing (an encoder that
// checks only at the end) still keeps the old file.
#include <cerrno>
#include <new>

#include <pixmora/pixmora.h>
#include "platform/platform.h"

struct pm_file_writer {
    pm::platform::file_replacement *file; // the platform's replacement under way
    bool failed;                          // a write failed: finishing keeps the old file
};

pm_file_writer *pm_file_replace_begin(const char *name, int32_t *result)
{
    int32_t outcome = PM_PCX_OK;
    auto *writer = new (std::nothrow) pm_file_writer{nullptr, false};
    if (writer == nullptr) {
        errno = ENOMEM;
        outcome = PM_PCX_NO_MEMORY;
    } else if ((writer->file = pm::platform::file_replace_begin(name)) == nullptr) {
        const int reason = errno;
        delete writer;
        writer = nullptr;
        errno = reason;
        outcome = reason == ENOMEM ? PM_PCX_NO_MEMORY : PM_PCX_OPEN_FAILED;
    }
    if (result != nullptr)
        *result = outcome;
    return writer;
}

int32_t pm_file_replace_write(pm_file_writer *file, const void *bytes, uint32_t size)
{
    if (file == nullptr || file->failed || (size > 0 && bytes == nullptr))
        return PM_PCX_WRITE_FAILED;
    if (size > 0 && !pm::platform::file_replace_write(file->file, bytes, size)) {
        file->failed = true;
        return PM_PCX_WRITE_FAILED;
    }
    return PM_PCX_OK;
}

int32_t pm_file_replace_finish(pm_file_writer *file)
{
    if (file == nullptr)
        return PM_PCX_WRITE_FAILED;
    if (file->failed) {
        // The failed write's reason stays for the caller.
        const int reason = errno;
        pm_file_replace_cancel(file);
        errno = reason;
        return PM_PCX_WRITE_FAILED;
    }
    const bool done = pm::platform::file_replace_finish(file->file);
    delete file;
    return done ? PM_PCX_OK : PM_PCX_WRITE_FAILED;
}

void pm_file_replace_cancel(pm_file_writer *file)
{
    if (file == nullptr)
        return;
    pm::platform::file_replace_cancel(file->file);
    delete file;
}
