// The SDL2 port without a screen, on SDL's dummy video driver.
#include <csignal>
#include <cstdlib>

#include "demo/ports/sdl2_port.h"
#include "tests/demo/demo_fixture.h"

namespace {

using Sdl2PortTest = demo_test::DemoTest;

TEST_F(Sdl2PortTest, TerminateAndHangUpEndThroughTheDestroyHandler)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    for (int signal : {SIGTERM, SIGHUP}) {
        demo::reset_shell();
        demo::sdl2_port port("test", 64, 40);
        demo::shell.port = &port;
        ASSERT_TRUE(port.open()) << port.error();
        std::raise(signal);
        for (int i = 0; i < 100 && !demo::shell.quit_posted; ++i)
            port.dispatch_waiting_event();
        EXPECT_TRUE(demo::shell.quit_posted) << "signal " << signal;
        EXPECT_EQ(demo::shell.quit_code, 0);
    }
    unsetenv("SDL_VIDEODRIVER");
}

} // namespace
