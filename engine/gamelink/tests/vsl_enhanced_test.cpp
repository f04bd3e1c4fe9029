#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "testing/client_process.h"
#include "engine/VSLEnhanced.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "testing/xvfb_server.h"

#include <xcb/xcb.h>

using namespace std::chrono_literals;
using testing_support::ClientProcess;

namespace {

const std::string kLibrary = OVCLIENT_LIBRARY;
const std::string kBin = OVCLIENT_BIN;

// The engine's side in small: records what the link tells it, refuses id 0
// (as the engine does) and ids in `refused`.
class TestLink : public CVSLEnhanced {
public:
    using CVSLEnhanced::CVSLEnhanced;
    ~TestLink() override { Stop(); }

    std::atomic<int> gone{0}, recenters{0}, command1040{0};
    std::atomic<std::uint32_t> refuse{0};
    std::mutex mutex;
    std::vector<std::uint32_t> ids;

    std::vector<std::uint32_t> profileIds()
    {
        std::lock_guard lock(mutex);
        return ids;
    }

protected:
    std::int32_t OnProfileId(std::uint32_t id) override
    {
        {
            std::lock_guard lock(mutex);
            ids.push_back(id);
        }
        return id != 0 && id != refuse.load() ? 1 : 0;
    }
    void OnClientGone() override { gone.fetch_add(1); }
    void OnRecenter() override { recenters.fetch_add(1); }
    void OnCommand1040() override { command1040.fetch_add(1); }
};

class GameLinkTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempRegistry registry;

    void SetUp() override { setLocation(OVCLIENT_DIR); }
    void setLocation(const std::string& folder)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
        // The main program writes the folder with a trailing separator.
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey,
                                   CVSLEnhanced::kLocationValue, std::u16string(folder.begin(), folder.end()) + u"\\"),
                  0);
    }
    ClientProcess spawn(const std::string& exe) { return ClientProcess(kBin + "/" + exe, kLibrary); }

    // Frame counter and first slots as a client process reads them.
    static std::vector<double> fields(const std::string& line) { return testing_support::Fields(line); }
};

TEST_F(GameLinkTest, WithoutTheLibraryTheEngineRunsAndClientsHearOne)
{
    setLocation("/nonexistent-folder");
    TestLink link(registry.store());
    link.Start();
    EXPECT_FALSE(link.IsLibraryLoaded());
    EXPECT_EQ(link.CommandWindow(), 0u);
    EXPECT_EQ(link.PublishPose(1, 2, 3, 4, 5, 6), 1);
    OVPosePacket rec{};
    EXPECT_EQ(link.SetData(rec), OV_NOT_BOUND);
    EXPECT_EQ(link.SetClientParameter(0, 1), 0);
    EXPECT_EQ(platform::findWindow(nullptr, "Orvane"), 0u);
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    EXPECT_EQ(c.ask("regwin 5"), "1");
    link.Stop();
}

TEST_F(GameLinkTest, StartSetsVersionAndTrackingAndStopEndsTheThread)
{
    TestLink link(registry.store());
    link.SetStopWait(500ms);
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());
    ASSERT_NE(link.CommandWindow(), 0u);
    EXPECT_EQ(platform::findWindow(nullptr, "Orvane"), link.CommandWindow());
    EXPECT_EQ(link.CursorFlag(), 1);
    std::uint16_t v = 0;
    EXPECT_EQ(link.QueryVersion(&v), 0);
    EXPECT_EQ(v, 0x400);
    {
        ClientProcess c = spawn("Other.exe");
        ASSERT_TRUE(c.ready());
        EXPECT_EQ(c.ask("version"), "0 1024");
        EXPECT_EQ(c.ask("getparam 0"), "0 1");
    }
    const auto t0 = std::chrono::steady_clock::now();
    link.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(link.ThreadExitCode(), CVSLEnhanced::kThreadExitCode);
    EXPECT_EQ(platform::findWindow(nullptr, "Orvane"), 0u);
}

TEST_F(GameLinkTest, RegistrationPublishingAndTransmission)
{
    TestLink link(registry.store());
    link.Start();
    ClientProcess first = spawn("Other.exe");
    ClientProcess second = spawn("Other.exe");
    ASSERT_TRUE(first.ready() && second.ready());
    const auto firstWindow = static_cast<platform::HWND>(std::stoul(first.ask("window")));
    second.ask("window");

    EXPECT_EQ(first.ask("regwin"), "0");
    EXPECT_EQ(link.ClientWindow(), firstWindow);
    EXPECT_EQ(second.ask("regwin"), "7"); // the first stays
    EXPECT_EQ(link.ClientWindow(), firstWindow);
    EXPECT_EQ(first.ask("request 119"), "0");
    EXPECT_EQ(link.RequestFlags(), 119u);

    EXPECT_EQ(first.ask("profile 0"), "8"); // refused; the id stays free
    link.PublishPose(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(fields(first.ask("getdata")), std::vector<double>(19, 0.0)); // nothing published
    EXPECT_EQ(first.ask("profile 2302"), "0");
    EXPECT_EQ(link.ProfileId(), 2302u);
    EXPECT_EQ(second.ask("profile 2303"), "7");

    link.PublishPose(10, 20, 30, 40, 50, 60);
    auto f = fields(first.ask("getdata"));
    ASSERT_EQ(f.size(), 19u);
    EXPECT_EQ(f[0], 0);  // result
    EXPECT_EQ(f[2], 0);  // counter unchanged before transmission
    EXPECT_EQ(std::vector<double>(f.begin() + 4, f.begin() + 10), (std::vector<double>{40, 50, 60, 10, 20, 30}));

    EXPECT_EQ(first.ask("start"), "0");
    EXPECT_EQ(link.Transmitting(), 1);
    link.PublishPose(0, 0, 0, 0, 0, 0);
    link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(fields(first.ask("getdata"))[2], 2);
    EXPECT_EQ(first.ask("stop"), "0");
    link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(fields(first.ask("getdata"))[2], 2);

    EXPECT_EQ(first.ask("cursoroff"), "0");
    EXPECT_EQ(link.CursorFlag(), 0);
    EXPECT_EQ(first.ask("cursoron"), "0");
    EXPECT_EQ(link.CursorFlag(), 1);
    EXPECT_EQ(first.ask("recenter"), "0");
    EXPECT_EQ(link.recenters.load(), 1);

    EXPECT_EQ(first.ask("unreg"), "0");
    EXPECT_EQ(link.gone.load(), 1);
    EXPECT_EQ(link.ClientWindow(), 0u);
    EXPECT_EQ(link.ProfileId(), 0u);
    EXPECT_EQ(link.ProfileAccepted(), 0);
    EXPECT_EQ(link.RequestFlags(), 0u);
    // Now the other client may have the link.
    EXPECT_EQ(second.ask("regwin"), "0");
    EXPECT_EQ(second.ask("profile 2303"), "0");
    EXPECT_EQ(link.profileIds(), (std::vector<std::uint32_t>{0, 2302, 2303}));
}

TEST_F(GameLinkTest, ExecutableNamesRegisterTheirIds)
{
    TestLink link(registry.store());
    link.Start();
    {
        ClientProcess trainz = spawn("Trainz.exe");
        ASSERT_TRUE(trainz.ready());
        trainz.ask("window");
        EXPECT_EQ(trainz.ask("regwin"), "0");
        EXPECT_EQ(trainz.ask("start"), "0"); // registers 4701 first
        EXPECT_EQ(link.ProfileId(), 4701u);
        EXPECT_EQ(link.Transmitting(), 1);
        EXPECT_EQ(trainz.ask("unreg"), "0");
    }
    link.refuse = 4701;
    {
        // A refused automatic registration does not change the start's result.
        ClientProcess trainz = spawn("Trainz.exe");
        ASSERT_TRUE(trainz.ready());
        EXPECT_EQ(trainz.ask("start"), "0");
        EXPECT_EQ(link.ProfileId(), 0u);
    }
    {
        ClientProcess lockOn = spawn("LockOn.exe");
        ASSERT_TRUE(lockOn.ready());
        EXPECT_EQ(lockOn.ask("profile 0"), "0");
        EXPECT_EQ(link.ProfileId(), OV_LOCKON_PROFILE);
    }
    EXPECT_EQ(link.profileIds(), (std::vector<std::uint32_t>{4701, 4701, 1002}));
}

TEST_F(GameLinkTest, FrameCounterWrapsTo1After32766)
{
    TestLink link(registry.store());
    link.Start();
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    c.ask("window");
    ASSERT_EQ(c.ask("regwin"), "0");
    ASSERT_EQ(c.ask("profile 2302"), "0");
    ASSERT_EQ(c.ask("start"), "0");
    for (int i = 0; i < 32765; ++i)
        link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(link.PoseRecord().frame, 32765);
    link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(fields(c.ask("getdata"))[2], 32766);
    link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(fields(c.ask("getdata"))[2], 1);
    link.PublishPose(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(link.PoseRecord().frame, 2);
}

TEST_F(GameLinkTest, WatchdogDropsAClientWhoseWindowDiedAfterMoreThan500Checks)
{
    TestLink link(registry.store());
    link.Start();
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    c.ask("window");
    ASSERT_EQ(c.ask("regwin"), "0");
    ASSERT_EQ(c.ask("profile 2302"), "0");
    ASSERT_EQ(c.ask("start"), "0");
    for (int i = 0; i < 600; ++i)
        link.CheckClientWindow(); // alive: never counts
    EXPECT_EQ(link.MissCount(), 0u);
    c.kill(); // exits without unregistering

    for (int i = 0; i < 499; ++i)
        link.CheckClientWindow();
    link.PublishPose(0, 0, 0, 0, 0, 0); // the 500th check
    EXPECT_EQ(link.MissCount(), 500u);
    EXPECT_NE(link.ClientWindow(), 0u);
    EXPECT_EQ(link.gone.load(), 0);
    link.CheckClientWindow();
    EXPECT_EQ(link.ClientWindow(), 0u);
    EXPECT_EQ(link.ProfileId(), 0u);
    EXPECT_EQ(link.Transmitting(), 0);
    EXPECT_EQ(link.CursorFlag(), 1);
    EXPECT_EQ(link.gone.load(), 1);
    link.CheckClientWindow();
    EXPECT_EQ(link.gone.load(), 1);

    ClientProcess next = spawn("Other.exe");
    ASSERT_TRUE(next.ready());
    EXPECT_EQ(next.ask("regwin 77"), "0");
}

TEST_F(GameLinkTest, AHandleNobodyKnowsStandsForTheGamesProcess)
{
    // A game without a window of ours or of the display: its process holds
    // the link, and its end frees it at the next check.
    TestLink link(registry.store());
    link.Start();
    for (const char* handle : {"0", "77"}) {
        SCOPED_TRACE(handle);
        ClientProcess c = spawn("Other.exe");
        ASSERT_TRUE(c.ready());
        ASSERT_EQ(c.ask(std::string("regwin ") + handle), "0");
        EXPECT_TRUE(link.ClientRegistered());
        EXPECT_EQ(link.RegisteredKind(), CVSLEnhanced::ClientKind::Process);
        ASSERT_EQ(c.ask("profile 2302"), "0");
        ASSERT_EQ(c.ask("start"), "0");
        // Data reaches it frame after frame, far past the watchdog's 500.
        const int before = link.PoseRecord().frame;
        for (int i = 1; i <= 600; ++i)
            link.PublishPose(static_cast<float>(i), 0, 0, 0, 0, 0);
        auto f = fields(c.ask("getdata"));
        ASSERT_EQ(f.size(), 19u);
        EXPECT_EQ(f[2], before + 600);
        EXPECT_EQ(f[7], 600);
        EXPECT_EQ(link.MissCount(), 0u);

        const int goneBefore = link.gone.load();
        c.kill(); // exits without unregistering
        link.CheckClientWindow();
        EXPECT_FALSE(link.ClientRegistered());
        EXPECT_EQ(link.ProfileId(), 0u);
        EXPECT_EQ(link.gone.load(), goneBefore + 1);
    }
    // The next game registers at once.
    ClientProcess next = spawn("Other.exe");
    ASSERT_TRUE(next.ready());
    EXPECT_EQ(next.ask("regwin 0"), "0");
    EXPECT_EQ(next.ask("unreg"), "0");
    EXPECT_FALSE(link.ClientRegistered());
}

TEST_F(GameLinkTest, AClientWhoseProcessIsUnknownIsDroppedByTheWatchdogsRule)
{
    // A registration that came without its sender (posted, not sent): no
    // window to check and no process to watch. The link neither drops the
    // game at the first check nor keeps it for ever: the watchdog's rule,
    // more than 500 checks without its window.
    TestLink link(registry.store());
    link.Start();
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    ASSERT_EQ(c.ask("postreg 77"), "posted");
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!link.ClientRegistered() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(link.ClientRegistered());
    EXPECT_EQ(link.ClientWindow(), 77u);
    EXPECT_EQ(link.RegisteredKind(), CVSLEnhanced::ClientKind::Unchecked);
    ASSERT_EQ(c.ask("profile 2302"), "0");
    ASSERT_EQ(c.ask("start"), "0");

    const int before = link.PoseRecord().frame;
    for (int i = 1; i <= 500; ++i)
        link.PublishPose(static_cast<float>(i), 0, 0, 0, 0, 0);
    // Every one of those frames reached it.
    auto f = fields(c.ask("getdata"));
    ASSERT_EQ(f.size(), 19u);
    EXPECT_EQ(f[2], before + 500);
    EXPECT_EQ(f[7], 500);
    EXPECT_TRUE(link.ClientRegistered());
    EXPECT_EQ(link.MissCount(), 500u);
    EXPECT_EQ(link.gone.load(), 0);
    link.CheckClientWindow();
    EXPECT_FALSE(link.ClientRegistered());
    EXPECT_EQ(link.ProfileId(), 0u);
    EXPECT_EQ(link.gone.load(), 1);
}

TEST_F(GameLinkTest, AnX11WindowIsWatchedOnTheDisplay)
{
    testing_support::XvfbServer xvfb;
    if (!xvfb.ready())
        GTEST_SKIP() << "Xvfb is not available";
    ::setenv("DISPLAY", xvfb.name().c_str(), 1);
    xcb_connection_t* x = xcb_connect(xvfb.name().c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const std::uint32_t window = xcb_generate_id(x);
    xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 64, 48, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    TestLink link(registry.store());
    link.Start();
    ASSERT_TRUE(platform::sendMessage(link.CommandWindow(), OV_COMMAND_MESSAGE, OV_CMD_REGISTER_WINDOW, window));
    EXPECT_EQ(link.ClientWindow(), window);
    EXPECT_EQ(link.RegisteredKind(), CVSLEnhanced::ClientKind::X11Window);
    for (int i = 0; i < 600; ++i)
        link.CheckClientWindow();
    EXPECT_TRUE(link.ClientRegistered());
    EXPECT_EQ(link.gone.load(), 0);

    xcb_destroy_window(x, window);
    xcb_flush(x);
    // Dropped at the first check that sees the window gone.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (link.ClientRegistered() && std::chrono::steady_clock::now() < end) {
        link.CheckClientWindow();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(link.ClientRegistered());
    EXPECT_EQ(link.gone.load(), 1);
    EXPECT_EQ(link.MissCount(), 0u);
    link.Stop();
    xcb_disconnect(x);
    ::unsetenv("DISPLAY");
}

TEST_F(GameLinkTest, Command1040PostsToTheClientWindowAndAltMessageIsACommand)
{
    TestLink link(registry.store());
    link.Start();
    std::mutex mutex;
    std::vector<std::pair<platform::WPARAM, platform::LPARAM>> got;
    const platform::HWND mine = platform::createWindow(
        {"C", "client", true}, [&](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
            if (m == OV_COMMAND_MESSAGE) {
                std::lock_guard lock(mutex);
                got.emplace_back(w, l);
            }
            return 0;
        });
    const platform::HWND server = link.CommandWindow();
    ASSERT_TRUE(platform::sendMessage(server, OV_COMMAND_MESSAGE_ALT, OV_CMD_REGISTER_WINDOW, mine));
    EXPECT_EQ(link.ClientWindow(), mine);
    ASSERT_TRUE(platform::sendMessage(server, OV_COMMAND_MESSAGE, OV_CMD_1040, 3));
    EXPECT_EQ(link.command1040.load(), 1);
    platform::Msg m;
    for (int i = 0; i < 200; ++i) {
        if (platform::waitMessage(5ms) && platform::peekMessage(m))
            platform::dispatchMessage(m);
        std::lock_guard lock(mutex);
        if (got.size() == 2)
            break;
    }
    const std::vector<std::pair<platform::WPARAM, platform::LPARAM>> expected{{8, 0x104}, {8, 0x200}};
    EXPECT_EQ(got, expected);
    // Unknown codes do nothing.
    ASSERT_TRUE(platform::sendMessage(server, OV_COMMAND_MESSAGE, 9999, 0));
    EXPECT_EQ(link.ClientWindow(), mine);
    platform::destroyWindow(mine);
}

// A held pose mutex costs a publish at most its wait; a client stopped
// (SIGSTOP) while holding it costs one wait, not one per frame.
TEST_F(GameLinkTest, PublishingNeverStallsOnAHeldMutex)
{
    TestLink link(registry.store());
    link.Start();
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    c.ask("window");
    ASSERT_EQ(c.ask("regwin"), "0");
    ASSERT_EQ(c.ask("profile 2302"), "0");
    // A client stopped (SIGSTOP) while it holds the pose mutex.
    ClientProcess frozen = spawn("Other.exe");
    ASSERT_TRUE(frozen.ready());
    ASSERT_EQ(frozen.ask("hold"), "held");
    ASSERT_EQ(::kill(frozen.pid(), SIGSTOP), 0);

    // Forty frames: a 25 ms wait each would take a second at least; the
    // first waits, the others only try the lock.
    constexpr int kFrames = 40;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i)
        link.PublishPose(1, 1, 1, 1, 1, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kFrames * 25ms);

    // The stopped client dies holding it: the next try recovers it and copies.
    frozen.kill();
    link.PublishPose(2, 2, 2, 2, 2, 2);
    EXPECT_EQ(fields(c.ask("getdata"))[4], 2);

    // Copies succeed again, so the next held mutex is waited for again.
    ClientProcess slow = spawn("Other.exe");
    ASSERT_TRUE(slow.ready());
    ASSERT_EQ(slow.ask("hold"), "held");
    const auto t1 = std::chrono::steady_clock::now();
    link.PublishPose(3, 3, 3, 3, 3, 3);
    EXPECT_GE(std::chrono::steady_clock::now() - t1, 20ms);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 250ms);
    slow.kill();
}

} // namespace

namespace {

TEST_F(GameLinkTest, PublishingFromTwoThreadsKeepsTheCounterWhole)
{
    // The worker publishes while a paused re-centre publishes from the
    // command thread: every frame counts once.
    TestLink link(registry.store());
    link.Start();
    ASSERT_TRUE(platform::sendMessage(link.CommandWindow(), OV_COMMAND_MESSAGE, OV_CMD_START_DATA, 0));
    std::thread other([&] {
        for (int i = 0; i < 2000; ++i)
            link.PublishPose(1, 1, 1, 1, 1, 1);
    });
    for (int i = 0; i < 2000; ++i)
        link.PublishPose(2, 2, 2, 2, 2, 2);
    other.join();
    EXPECT_EQ(link.PoseRecord().frame, 4000);
}

} // namespace
