#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/mman.h>
#include <chrono>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/frame/startup.h"
#include "app/frame/status_text.h"
#include "testing/other_user.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

class FakeSteps final : public IStartupSteps {
public:
    void SetWorkingFolder() override { log += "folder "; }
    void LoadSettings() override { log += "settings "; }
    void LoadLanguage() override { log += "language "; }
    bool SiblingRunning() override { log += "sibling "; return sibling; }
    void ReportSiblingRunning() override { log += "report "; }
    bool AlreadyRunning() override { log += "running "; return running; }
    void HandOver() override { log += "handover "; }
    bool RegisterWindowClass() override { log += "class "; return classOk; }
    void PublishClientLocation() override { log += "publish "; }
    bool CreateFrame() override { log += "frame "; return frameOk; }
    void ShowFrame() override { log += "show "; }
    // A stop that comes with the step `stopAt`.
    bool StopRequested() override { return !stopAt.empty() && log.find(stopAt) != std::string::npos; }

    bool sibling = false, running = false, classOk = true, frameOk = true;
    std::string stopAt;
    std::string log;
};

TEST(Startup, RunsStepsInOrderAndStopsAtEachGuard)
{
    struct Case {
        bool sibling, running, classOk, frameOk, result;
        const char* log;
    };
    const Case cases[] = {
        {false, false, true, true, true, "folder settings language sibling running class publish frame show "},
        {true, false, true, true, false, "folder settings language sibling report "},
        {true, true, true, true, false, "folder settings language sibling report "},
        {false, true, true, true, false, "folder settings language sibling running handover "},
        {false, false, false, true, false, "folder settings language sibling running class "},
        {false, false, true, false, false, "folder settings language sibling running class publish frame "},
    };
    for (const Case& c : cases) {
        FakeSteps s;
        s.sibling = c.sibling;
        s.running = c.running;
        s.classOk = c.classOk;
        s.frameOk = c.frameOk;
        EXPECT_EQ(RunStartup(s), c.result) << c.log;
        EXPECT_EQ(s.log, c.log);
    }
}

// A SIGTERM during start-up: the step under way ends, no later one runs.
TEST(Startup, AStopEndsStartupAfterTheStepUnderWay)
{
    const struct {
        const char* stopAt;
        const char* log;
    } cases[] = {
        {"settings", "folder settings "},
        {"language", "folder settings language "},
        {"publish", "folder settings language sibling running class publish "},
        {"frame", "folder settings language sibling running class publish frame "},
        {"show", "folder settings language sibling running class publish frame show "},
    };
    for (const auto& c : cases) {
        FakeSteps s;
        s.stopAt = c.stopAt;
        EXPECT_FALSE(RunStartup(s)) << c.stopAt;
        EXPECT_EQ(s.log, c.log);
    }
}

TEST(Startup, InstanceMutexTellsASecondHolderUntilClosed)
{
    testing_support::TempSession session;
    MutexHolder first(app_frame::kInstanceMutexName);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_FALSE(first.AlreadyExists());
    {
        // The lock is per thread, as a second process would see it.
        bool exists = false;
        std::thread([&] { exists = MutexHolder(app_frame::kInstanceMutexName).AlreadyExists(); }).join();
        EXPECT_TRUE(exists);
    }
    first.Close();
    first.Close();
    bool exists = true;
    std::thread([&] { exists = MutexHolder(app_frame::kInstanceMutexName).AlreadyExists(); }).join();
    EXPECT_FALSE(exists);
}

TEST(Startup, AnotherUsersSessionObjectsAreRefusedByName)
{
    ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS();
    struct Case {
        const char* what;
        std::string object;
    };
    for (const Case& c : {Case{"instance mutex", std::string(".mutex.") + app_frame::kInstanceMutexName},
                          Case{"window table", ".windows"},
                          // The client library's: games would meet them.
                          Case{"client section", ".OVClient"},
                          Case{"pose record mutex", ".mutex.OVClientMutex"},
                          Case{"command mutex", ".mutex.OVClientCommand"}}) {
        SCOPED_TRACE(c.what);
        testing_support::TempSession session;
        const std::string object = "/" + session.name() + c.object;
        ASSERT_TRUE(testing_support::makeSharedObjectAsOtherUser(object));
        MutexHolder instance(app_frame::kInstanceMutexName);
        const std::string refused = SessionObjectsRefused(instance);
        EXPECT_NE(refused.find("/dev/shm" + object), std::string::npos) << refused;
        EXPECT_NE(refused.find("belongs to user 65534"), std::string::npos) << refused;
    }
    testing_support::TempSession clean;
    MutexHolder instance(app_frame::kInstanceMutexName);
    EXPECT_EQ(SessionObjectsRefused(instance), "");
}

TEST(Startup, PublishesTheProgramFolderWithOneBackslash)
{
    testing_support::TempRegistry registry;
    auto store = registry.store();
    PublishClientLocation(*store, "/opt/vistrel/bin");
    platform::registry::Value v;
    ASSERT_EQ(store->queryValue(platform::registry::Root::CurrentUser, app_frame::kClientLocationKey, u"Path", v), 0);
    std::u16string path;
    ASSERT_EQ(store->queryString(platform::registry::Root::CurrentUser, app_frame::kClientLocationKey, u"Path", path), 0);
    EXPECT_EQ(path, u"/opt/vistrel/bin\\");
}

// The command line itself is read by platform::gui::ParseCommandLine
// (platform/gui/tests/program_start_test.cpp).
TEST(Startup, HelpAndVersionTextsNameTheProgram)
{
    EXPECT_EQ(VersionText("1.0"), "vistrel (Orvane head tracking) 1.0\n");
    EXPECT_EQ(HelpText().rfind("Usage: vistrel", 0), 0u);
}

TEST(StatusText, PanesFollowTheSystemState)
{
    StatusInputs in;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: No Device");
    in.devicePresent = true;
    in.configuring = true;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: Configuring");
    in.configuring = false;
    in.paused = true;
    in.targetLost = true;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: Disabled");
    in.paused = false;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: No Data");
    in.targetLost = false;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: Tracking");
    in.recording = true;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: RECORDING");
    in.recording = false;
    in.playback = true;
    EXPECT_EQ(StatusTexts(in)[0], u"Status: PLAYBACK");
    in.motionType = 1;
    in.centerKey = u"F9";
    in.pauseKey = u"F10";
    const auto t = StatusTexts(in);
    EXPECT_EQ(t[1], u"Tracking: Pendrix");
    EXPECT_EQ(t[2], u"Center: F9");
    EXPECT_EQ(t[3], u"Enable: F10");
    in.motionType = 0;
    EXPECT_EQ(StatusTexts(in)[1], u"Tracking: Dot");
}

// Starts the program; its error output goes to `errors` when one is given.
pid_t Start(const std::filesystem::path& errors = {})
{
    char* argv[] = {const_cast<char*>(VISTREL_PATH), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, VISTREL_PATH, &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the child's exit, at most `limit`; -1 when it did not end.
int WaitExit(pid_t pid, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(Program, StartsOnTheSimulatedCameraAndEndsCleanlyOnSigterm)
{
    testing_support::TempSession session;
    testing_support::TempDir dir{"vistrel-program"};
    setenv("ORVANE_REGISTRY", dir.file("registry.db").c_str(), 1);
    setenv("ORVANE_CAMERA", "sim", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The start-up news check asks a closed local port, so it ends at once
    // and never holds up the shutdown being timed.
    setenv("ORVANE_SERVICE_URL", "http://127.0.0.1:9", 1);
    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    platform::HWND window = 0;
    for (int i = 0; i < 400 && window == 0; ++i) {
        window = platform::findWindow(app_frame::kWindowClass, nullptr);
        if (window == 0)
            std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(window, 0u);

    // A second start hands over and ends at once.
    const pid_t second = Start();
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExit(second, 10s), 0);
    EXPECT_EQ(platform::findWindow(app_frame::kWindowClass, nullptr), window);

    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 10s), 0);
    EXPECT_EQ(platform::findWindow(app_frame::kWindowClass, nullptr), 0u);
    unsetenv("ORVANE_REGISTRY");
    unsetenv("ORVANE_SERVICE_URL");
}

TEST(Program, DoesNotStartOnAWindowTableAnotherUserMade)
{
    ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS();
    testing_support::TempSession session;
    testing_support::TempDir dir{"vistrel-refuses"};
    const std::string table = "/" + session.name() + ".windows";
    ASSERT_TRUE(testing_support::makeSharedObjectAsOtherUser(table));
    setenv("ORVANE_REGISTRY", dir.file("registry.db").c_str(), 1);
    setenv("ORVANE_CAMERA", "sim", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("ORVANE_SERVICE_URL", "http://127.0.0.1:9", 1);
    const pid_t pid = Start(dir.file("errors.txt"));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitExit(pid, 20s), 1);
    std::ifstream in(dir.file("errors.txt"));
    const std::string errors{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(errors.find("Vistrel cannot start. The shared object /dev/shm" + table + " belongs to user 65534"),
              std::string::npos)
        << errors;
    unsetenv("ORVANE_REGISTRY");
    unsetenv("ORVANE_SERVICE_URL");
}

} // namespace
