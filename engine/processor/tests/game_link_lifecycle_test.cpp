// The engine's link to games as the program starts and stops: a thread that
// cannot be made is an error Start returns, and the pose record in the
// client library's shared section never outlives the program that wrote it.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "testing/client_process.h"
#include "engine_fixture.h"
#include "platform/messages.h"
#include "platform/modules.h"
#include "testing/temp_session.h"

using namespace engine_test;
using namespace std::chrono_literals;
using simcam::scene::HeadPose;

namespace {

class GameLinkLifecycleTest : public EngineTest {
protected:
    testing_support::TempSession session;

    void SetUp() override
    {
        EngineTest::SetUp();
        PublishClientFolder(registry, OVCLIENT_DIR);
    }
    static std::vector<double> Fields(const std::string& line) { return testing_support::ClientProcess::numbers(line); }
    static void ExpectZeroRecord(const std::vector<double>& f, const char* when)
    {
        ASSERT_EQ(f.size(), 19u) << when;
        EXPECT_EQ(f[0], 0) << when << ": read";
        for (std::size_t i = 1; i < f.size(); ++i)
            EXPECT_EQ(f[i], 0) << when << ", field " << i;
    }
};

// New threads get a stack no machine can give while one of these lives.
class ThreadsCannotStart {
public:
    ThreadsCannotStart()
    {
        pthread_getattr_default_np(&saved_);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 46);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~ThreadsCannotStart()
    {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }

private:
    pthread_attr_t saved_;
};

TEST_F(GameLinkLifecycleTest, AThreadThatCannotBeMadeIsTheErrorStartReturnsAndNothingRuns)
{
    {
        // Whether this machine refuses such a stack at all.
        ThreadsCannotStart refuse;
        bool started = true;
        try {
            std::thread probe([] {});
            probe.join();
        } catch (const std::system_error&) {
            started = false;
        }
        if (started)
            GTEST_SKIP() << "threads start even with a 64 TiB stack here";
    }
    std::uint32_t result = 0;
    {
        ThreadsCannotStart refuse;
        result = engine->Start(); // the command thread is the first it makes
    }
    EXPECT_NE(result, 0u);
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_EQ(engine->CommandWindow(), 0u);
    EXPECT_EQ(platform::findWindow(nullptr, "Orvane"), 0u);
    // With threads to be had again, the engine starts as ever.
    ASSERT_EQ(engine->Start(), 0u);
    EXPECT_TRUE(engine->IsRunning());
    EXPECT_NE(engine->CommandWindow(), 0u);
    engine->Stop();
}

// Makes threads, but refuses the one with this number (1 the first one
// asked for), as a system out of threads would.
class RefusingStarter final : public platform::ThreadStarter {
public:
    explicit RefusingStarter(int refused) : refused_(refused) {}
    void start(platform::Thread& thread, std::function<void()> body, platform::ThreadPriority priority,
               std::string name) override
    {
        names.push_back(name);
        if (static_cast<int>(names.size()) == refused_)
            throw std::system_error(EAGAIN, std::generic_category(), "no thread for " + name);
        ++running;
        try {
            platform::systemThreadStarter().start(
                thread,
                [this, body = std::move(body)] {
                    body();
                    --running;
                },
                priority, std::move(name));
        } catch (...) {
            --running;
            throw;
        }
    }
    std::vector<std::string> names;
    // Threads started whose work has not ended.
    std::atomic<int> running{0};

private:
    int refused_;
};

// Either of Start's two threads refused: Start returns the system's error,
// whichever thread started before it has ended, and no command window is
// left for games to find. With threads to be had again the engine starts.
TEST_F(GameLinkLifecycleTest, EitherThreadRefusedIsTheErrorStartReturnsAndNothingIsLeftRunning)
{
    const struct {
        int refused;
        const char* thread;
    } cases[] = {{1, "command window"}, {2, "tracking engine"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.thread);
        RefusingStarter starter(c.refused);
        threads = &starter;
        engine = MakeEngine(20);
        EXPECT_EQ(engine->Start(), static_cast<std::uint32_t>(EAGAIN));
        ASSERT_EQ(starter.names.size(), static_cast<std::size_t>(c.refused));
        EXPECT_EQ(starter.names.back(), c.thread);
        EXPECT_FALSE(engine->IsRunning());
        EXPECT_EQ(starter.running.load(), 0) << "a thread that started has ended";
        EXPECT_EQ(engine->CommandWindow(), 0u);
        EXPECT_EQ(platform::findWindow(nullptr, "Orvane"), 0u);
        // A game finds no program.
        testing_support::ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
        ASSERT_TRUE(game.ready());
        EXPECT_EQ(game.ask("regwin"), std::to_string(OV_NO_SERVER));

        threads = nullptr;
        ASSERT_EQ(engine->Start(), 0u);
        EXPECT_TRUE(engine->IsRunning());
        EXPECT_NE(engine->CommandWindow(), 0u);
        EXPECT_EQ(game.ask("regwin"), "0");
        EXPECT_EQ(game.ask("unreg"), "0");
        engine->Stop();
        engine.reset();
    }
}

TEST_F(GameLinkLifecycleTest, ThePoseRecordIsZeroWhenTheProgramStartsAndWhenItStops)
{
    engine = MakeEngine(20);
    ASSERT_EQ(engine->Start(), 0u);
    testing_support::ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(game.ready());
    game.ask("window");
    ASSERT_EQ(game.ask("regwin"), "0");
    ASSERT_EQ(game.ask("profile 2302"), "0");
    ASSERT_EQ(game.ask("start"), "0");
    Queue(ClipBlobs(HeadPose{}));
    std::vector<double> f;
    for (int i = 0; i < 400; ++i) {
        Queue(ClipBlobs(HeadPose{.yaw = 15, .x = 20}));
        f = Fields(game.ask("getdata"));
        if (f.size() == 19u && f[2] > 2 && f[4 + 2] != 0)
            break;
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(f.size(), 19u);
    ASSERT_GT(f[2], 2) << "frames published";
    ASSERT_NE(f[4 + 2], 0) << "a turned head";

    // The program stops (without the game unregistering). While no program
    // runs the library has no window to read through: a window of that
    // title stands in for one, so the section can be read as it was left.
    engine.reset();
    EXPECT_EQ(Fields(game.ask("getdata")).at(0), OV_NO_SERVER);
    {
        platform::Event made;
        std::atomic<platform::HWND> standIn{0};
        std::thread owner([&] {
            standIn = platform::createWindow({"StandIn", "Orvane", true},
                                             [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)
                                                 -> platform::LRESULT { return 0; });
            made.set();
            platform::Msg m;
            while (platform::getMessage(m) != 0)
                platform::dispatchMessage(m);
            platform::destroyWindow(standIn.load());
        });
        made.wait(5000);
        ExpectZeroRecord(Fields(game.ask("getdata")), "after the program stopped");
        // A program that died leaves its pose: the next one clears it.
        auto library = platform::Module::load(OVCLIENT_LIBRARY);
        ASSERT_TRUE(library.has_value());
        const auto setData = library->function<OVPriv_SetData_t>("OVPriv_SetData");
        ASSERT_NE(setData, nullptr);
        OVPosePacket stale{};
        stale.frame = 1234;
        stale.value[2] = 5000.0f;
        ASSERT_EQ(setData(&stale), OV_OK);
        EXPECT_EQ(Fields(game.ask("getdata")).at(2), 1234);
        platform::postMessage(standIn.load(), platform::WM_QUIT, 0, 0);
        owner.join();
    }
    engine = MakeEngine(20);
    ASSERT_EQ(engine->Start(), 0u);
    ExpectZeroRecord(Fields(game.ask("getdata")), "after the program started again");
    engine->Stop();
}

} // namespace
