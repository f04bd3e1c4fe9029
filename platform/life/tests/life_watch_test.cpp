#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "platform/life_watch.h"
#include "testing/xvfb_server.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using platform::life::watchProcess;
using platform::life::watchX11Window;

bool Eventually(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// DISPLAY for the time of one test.
class DisplayEnv {
public:
    explicit DisplayEnv(const char* value)
    {
        if (const char* old = std::getenv("DISPLAY"))
            old_ = old, had_ = true;
        if (value != nullptr)
            ::setenv("DISPLAY", value, 1);
        else
            ::unsetenv("DISPLAY");
    }
    ~DisplayEnv()
    {
        if (had_)
            ::setenv("DISPLAY", old_.c_str(), 1);
        else
            ::unsetenv("DISPLAY");
    }

private:
    std::string old_;
    bool had_ = false;
};

// A client of the display with one window of its own.
struct X11Client {
    explicit X11Client(const std::string& display) : c(xcb_connect(display.c_str(), nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        root = screen->root;
        window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 64, 48, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, 0, nullptr);
        xcb_map_window(c, window);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip: it exists now
    }
    ~X11Client()
    {
        if (c != nullptr)
            xcb_disconnect(c);
    }
    void destroy()
    {
        xcb_destroy_window(c, window);
        xcb_flush(c);
    }
    void disconnect()
    {
        xcb_disconnect(c);
        c = nullptr;
    }
    xcb_connection_t* c;
    std::uint32_t root = 0;
    std::uint32_t window = 0;
};

TEST(LifeWatch, AProcessIsAliveUntilItEnds)
{
    pid_t child = -1;
    char sleepName[] = "sleep", seconds[] = "30";
    char* argv[] = {sleepName, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    auto watch = watchProcess(child);
    ASSERT_NE(watch, nullptr);
    EXPECT_TRUE(watch->alive());
    EXPECT_TRUE(watch->alive()); // asking changes nothing
    ::kill(child, SIGKILL);
    // Ended is ended, whether or not its parent has reaped it yet.
    EXPECT_TRUE(Eventually([&] { return !watch->alive(); }));
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_FALSE(watch->alive());

    EXPECT_NE(watchProcess(::getpid()), nullptr);
    EXPECT_EQ(watchProcess(child), nullptr); // reaped: no such process
    EXPECT_EQ(watchProcess(0), nullptr);
    EXPECT_EQ(watchProcess(-1), nullptr);
}

TEST(LifeWatch, WithoutADisplayNoX11WindowIsKnown)
{
    DisplayEnv none(nullptr);
    EXPECT_EQ(watchX11Window(0x200001), nullptr);
    DisplayEnv unreachable(":987654");
    EXPECT_EQ(watchX11Window(0x200001), nullptr);
}

TEST(LifeWatch, AnX11WindowIsAliveUntilDestroyedOrItsClientLeaves)
{
    testing_support::XvfbServer xvfb;
    if (!xvfb.ready())
        GTEST_SKIP() << "Xvfb is not available";
    DisplayEnv display(xvfb.name().c_str());

    X11Client game(xvfb.name());
    auto watch = watchX11Window(game.window);
    ASSERT_NE(watch, nullptr);
    EXPECT_TRUE(watch->alive());
    game.destroy();
    EXPECT_TRUE(Eventually([&] { return !watch->alive(); }));

    // A game that exits takes its windows with it.
    X11Client other(xvfb.name());
    auto second = watchX11Window(other.window);
    ASSERT_NE(second, nullptr);
    other.disconnect();
    EXPECT_TRUE(Eventually([&] { return !second->alive(); }));

    // Numbers that are no game's window.
    X11Client third(xvfb.name());
    EXPECT_EQ(watchX11Window(third.window + 1000), nullptr);
    EXPECT_EQ(watchX11Window(third.root), nullptr);
    EXPECT_EQ(watchX11Window(0), nullptr);
    EXPECT_EQ(watchX11Window(12345), nullptr);
    // A watch ends at once even while its window lives.
    auto third1 = watchX11Window(third.window);
    ASSERT_NE(third1, nullptr);
    third1.reset();
}

} // namespace
