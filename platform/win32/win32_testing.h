// What a test of the Windows layer may put in place of a system call, to
// reach failures that a real system shows only now and then (a virus
// scanner holding a fresh file open while it is put in place). Null outside
// tests: the layer calls the system's own.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

namespace pm::platform::inline PIXMORA_PLATFORM_LAYER {

// ReplaceFileW's stand-in.
using replace_file_call = BOOL(WINAPI *)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                                         LPVOID exclude, LPVOID reserved);
extern replace_file_call replace_file_stand_in;

} // namespace pm::platform::inline PIXMORA_PLATFORM_LAYER
