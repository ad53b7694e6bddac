// Shared set-up of the demo's tests: a fresh library, software display,
// shell and animation, with the program file placed beside the pictures the
// build generated.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo/animation.h"
#include "demo/shell.h"
#include "support/library_fixture.h"

namespace demo_test {

// The program file the tests pretend to be: in the directory of the pictures.
inline uint32_t program_beside_pictures(char *buffer, uint32_t size)
{
    int written = std::snprintf(buffer, size, "%s/demo-test", PIXMORA_DEMO_DIR);
    if (written < 0 || static_cast<uint32_t>(written) >= size)
        return 0;
    return static_cast<uint32_t>(written);
}

inline std::string picture_path(const char *name)
{
    return std::string(PIXMORA_DEMO_DIR) + "/" + name;
}

class DemoTest : public pixmora_test::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        demo::reset_animation();
        demo::reset_shell();
        demo::shell.program_file = program_beside_pictures;
    }
    void TearDown() override
    {
        demo::reset_animation();
        demo::reset_shell();
        LibraryTest::TearDown();
    }
};

} // namespace demo_test
