// SIGTERM and SIGINT, as a session's end, a service manager or Ctrl-C send
// them, end the program in order whenever they come: while it starts, while
// a message box waits for an answer, and while it runs.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"
#include "testing/xvfb_server.h"

// Last: Xlib's macros (Status, ...) would clash with the headers above.
#include "testing/x_typist.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kDamagedSettings = "<Settings>\r\n  <CameraRotation>2</Camera<otation>\r\n</Settings>\r\n";

// Whether process `pid` catches `signal` (its handler is in place).
bool Catches(pid_t pid, int signal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0;
    return false;
}

// The damaged settings' message waits for the user on a screen; a SIGTERM
// then cancels it and ends the program before it goes any further.
TEST(StopSignals, ATermWhileAMessageBoxWaitsEndsTheProgram)
{
    testing_support::XvfbServer x;
    if (!x.ready())
        GTEST_SKIP() << "no Xvfb";
    auto options = testing_support::ProgramOptions();
    options.display = x.name();
    options.files = {{"settings.xml", kDamagedSettings}};
    options.waitReady = false;
    // On an X display Qt brings in D-Bus, whose library keeps allocations
    // the leak checker of a sanitizer build counts against the program.
    testing_support::TempDir scratch{"stop-signals"};
    std::ofstream(scratch.file("lsan.supp")) << "leak:libdbus-1.so\n";
    options.env.emplace_back("LSAN_OPTIONS", "suppressions=" + scratch.file("lsan.supp").string());
    testing_support::VistrelProcess program(options);
    {
        testing_support::XTypist screen(x.name());
        ASSERT_TRUE(screen.ok());
        ASSERT_TRUE(testing_support::WaitUntil(
            [&] { return screen.TopLevel(program.pid()) != 0 || !program.running(); }, 60s))
            << program.output();
    }
    ASSERT_TRUE(program.running()) << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    // It went no further than the box: no window of its own was made.
    EXPECT_EQ(program.output().find("camera running"), std::string::npos) << program.output();
}

// A stop at any moment of the start, from the first instant the program can
// hear it: it ends with status 0 each time (never killed by the signal, never
// left waiting), with damaged files or without.
TEST(StopSignals, ATermOrAnIntAtAnyMomentOfTheStartEndsTheProgramCleanly)
{
    // How long a start takes, from the handler to the program being up.
    Clock::duration start{};
    {
        testing_support::VistrelProcess program(testing_support::ProgramOptions());
        ASSERT_TRUE(program.ready()) << program.output();
        EXPECT_EQ(program.stop(), 0) << program.output();
    }
    {
        auto options = testing_support::ProgramOptions();
        options.waitReady = false;
        testing_support::VistrelProcess program(options);
        ASSERT_TRUE(testing_support::WaitUntil([&] { return Catches(program.pid(), SIGTERM); }, 60s));
        const auto caught = Clock::now();
        ASSERT_TRUE(testing_support::WaitUntil(
            [&] { return program.output().find("vistrel: camera") != std::string::npos || !program.running(); },
            60s));
        start = Clock::now() - caught;
        EXPECT_EQ(program.stop(), 0) << program.output();
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<long long> delay(
        0, std::chrono::duration_cast<std::chrono::microseconds>(start).count() * 5 / 4);
    const auto end = Clock::now() + 60s;
    int rounds = 0;
    for (; rounds < 24 && Clock::now() < end; ++rounds) {
        SCOPED_TRACE("round " + std::to_string(rounds));
        auto options = testing_support::ProgramOptions();
        options.waitReady = false;
        if (rounds % 2 == 0)
            options.files = {{"settings.xml", kDamagedSettings},
                             {"Profiles/Cut.xml", std::string("<\0?\0x\0m\0l\0 \0v\0e", 15)}};
        const int signal = rounds % 3 == 0 ? SIGINT : SIGTERM;
        testing_support::VistrelProcess program(options);
        ASSERT_TRUE(
            testing_support::WaitUntil([&] { return Catches(program.pid(), signal) || !program.running(); }, 60s));
        ASSERT_TRUE(program.running()) << program.output();
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ASSERT_TRUE(program.signal(signal)) << program.output();
        ASSERT_TRUE(testing_support::WaitUntil([&] { return !program.running(); }, 20s)) << program.output();
        ASSERT_EQ(program.stop(), 0) << program.output();
    }
    EXPECT_GE(rounds, 6);
    std::printf("stops during the start: %d, each within %lld ms of the handler\n", rounds,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(start).count() * 5 / 4));
}

} // namespace
