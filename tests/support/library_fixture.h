// Test fixture: every test starts from the library's program-load state and
// a fresh software display.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <pixmora/pixmora.h>
#include "platform/soft/soft_display.h"
#include "platform/soft/testing/soft_testing.h"

namespace pixmora_test {

// Puts pm_state back to its values at program load and the software display
// to its initial state (32 bits per pixel, no windows, empty call record).
void reset_library();

// The usual set-up of an application: a display of the given depth, a window
// of client_width x client_height whose context is attached, and a started
// library. Returns the window's context.
pm_hdc start_library(int32_t display_depth = 32, int32_t client_width = 640,
                     int32_t client_height = 400);

// Creates and activates a buffer of the given depth; returns its handle.
int32_t make_buffer(int32_t width, int32_t height, int32_t depth = 8);

// Address of pixel (x, y) of the active buffer (y counted from the top).
uint8_t *pixel_at(int32_t x, int32_t y);

// Path of a file under the source tree or the shared samples beside the repo.
std::string source_path(const std::string &relative);
std::string samples_dir(); // the shared PCX samples; empty if not present

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { reset_library(); }
    void TearDown() override { reset_library(); }
};

// Equal byte for byte; otherwise says where the first difference lies.
::testing::AssertionResult same_bytes(const std::vector<uint8_t> &expected, const std::vector<uint8_t> &actual);

} // namespace pixmora_test
