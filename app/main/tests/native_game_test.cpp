// Native games written in C hold the link as long as they live: the real
// vistrel on an X display, and a C game linked against the client library
// that registers its X11 window, then one that registers a handle the
// program cannot check (its process stands for it). Each reads well past the
// watchdog's 500 frames, faster than the camera, and sees every frame the
// program publishes. The first closes its window and is dropped within a
// second while it still runs (the window, not the process, holds the link);
// the second ends without unregistering and is dropped within a second. Each
// time the next game registers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <string>
#include <vector>

#include "testing/client_process.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ClientProcess;
using testing_support::VistrelProcess;
using testing_support::WaitUntil;

constexpr int kWatchdogFrames = 500;

// How long after the game's end (the end of its window when `closeWindow`,
// else of its process) the next game can register.
std::chrono::milliseconds TimeUntilTheNextGameRegisters(ClientProcess& game, ClientProcess& next, bool closeWindow)
{
    if (closeWindow) {
        EXPECT_EQ(game.ask("close"), "closed");
    } else {
        game.tell("exit");
        EXPECT_EQ(game.wait(10s), 0);
    }
    const auto ended = std::chrono::steady_clock::now();
    std::string answer;
    WaitUntil([&] { return (answer = next.ask("regwin")) == "0"; }, 20s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - ended);
    EXPECT_EQ(answer, "0");
    EXPECT_EQ(next.ask("unreg"), "0");
    return took;
}

TEST(NativeGame, HoldsTheLinkWhileItLivesAndFreesItWhenItEnds)
{
#if defined(__SANITIZE_THREAD__)
    // Hundreds of frames through a program many times slower: minutes. The
    // threads it runs are checked by the other program tests.
    GTEST_SKIP() << "too slow under the thread checker";
#endif
    testing_support::XvfbServer xvfb;
    if (!xvfb.ready())
        GTEST_SKIP() << "Xvfb is not available";
    auto options = testing_support::ProgramOptions();
    options.display = xvfb.name();
    // A head that stays in view: every camera frame is a published frame.
    options.scene = "motion still\n";
    VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    ::setenv("DISPLAY", xvfb.name().c_str(), 1); // for the games

    ClientProcess next(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(next.ready());

    struct Case {
        const char* name;
        bool x11Window;
    };
    for (const Case c : {Case{"its X11 window", true}, Case{"a handle nobody knows", false}}) {
        SCOPED_TRACE(c.name);
        ClientProcess game(OV_C_GAME, "");
        ASSERT_TRUE(game.ready());
        if (c.x11Window) {
            const std::string window = game.ask("window");
            ASSERT_NE(window, "0");
            ASSERT_EQ(game.ask("regwin"), "0");
        } else {
            ASSERT_EQ(game.ask("regwin 0"), "0");
        }
        // A second game meanwhile waits its turn.
        EXPECT_EQ(next.ask("regwin"), "7");
        ASSERT_EQ(game.ask("request 119"), "0");
        // The previous game's end reaches the main window by a posted
        // message; until then the id is refused (and stays free to retry).
        ASSERT_TRUE(WaitUntil([&] { return game.ask("profile 2302") == "0"; }, 20s));
        ASSERT_EQ(game.ask("start"), "0");

        // frames (by the counter's differences), missed, lost, longest wait
        // for a new one (ms), last result
        const std::vector<double> read = testing_support::Fields(game.ask("read " + std::to_string(kWatchdogFrames + 100), 150s));
        ASSERT_EQ(read.size(), 5u) << program.output();
        EXPECT_GE(read[0], kWatchdogFrames + 100);
        // While the game reads faster than the camera's frames come, it sees
        // every value of the frame counter the program publishes: none lost.
        // A value it missed while it was not scheduled, or in the program's
        // catch-up after a pause of its own (a loaded machine), still counts
        // by the counter's step; and never a pause that a dropped game would
        // see.
        EXPECT_EQ(read[2], 0) << "frames the program published over the game's head";
        EXPECT_LT(read[3], 1000) << "the game waited that long for a frame";
        EXPECT_EQ(read[4], 0);
        std::printf("%s: %.0f frames, %.0f missed on a loaded machine, %.0f lost, longest wait %.0f ms\n",
                    c.name, read[0], read[1], read[2], read[3]);

        EXPECT_LT(TimeUntilTheNextGameRegisters(game, next, c.x11Window), 1000ms);
        if (c.x11Window) {
            // Dropped for its window: the game itself still runs.
            EXPECT_EQ(::kill(game.pid(), 0), 0);
            game.tell("exit");
            EXPECT_EQ(game.wait(10s), 0);
        }
    }
    ::unsetenv("DISPLAY");
    EXPECT_EQ(program.stop(), 0) << program.output();
}

} // namespace
