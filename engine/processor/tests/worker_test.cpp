// The engine on its own worker thread: stopping, the monitor windows
// reading while frames run, and the whole road from camera buffers to the
// record a game client reads through the client library.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <sched.h>

#include "testing/client_process.h"
#include "engine_fixture.h"
#include "testing/real_time.h"
#include "testing/temp_session.h"

using namespace engine_test;
using namespace std::chrono_literals;
using simcam::scene::HeadPose;

namespace {

class WorkerTest : public EngineTest {
protected:
    // Feeds frames of the clip while `running`, as fast as the engine frees them.
    void Feed(std::atomic<bool>& running, std::atomic<int>& fed, double yawStep = 0.5)
    {
        int i = 0;
        while (running.load()) {
            const HeadPose pose{.yaw = std::sin(i * yawStep) * 20, .pitch = std::cos(i * 0.3) * 10, .x = (i % 20) * 2.0};
            if (Queue(ClipBlobs(pose))) {
                ++i;
                fed.fetch_add(1);
            }
            std::this_thread::sleep_for(1ms);
        }
    }
};

TEST_F(WorkerTest, StopWakesTheWaitingWorkerAndGivesTheFrameBack)
{
    engine = MakeEngine(50);
    ASSERT_EQ(engine->Start(), 0u);
    EXPECT_TRUE(engine->IsRunning());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Queue(ClipBlobs(HeadPose{.yaw = i * 1.0})));
        std::this_thread::sleep_for(5ms);
    }
    for (int i = 0; i < 200 && engine->GetFrameCount() < 3; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(engine->GetFrameCount(), 3u);
    EXPECT_TRUE(engine->HasHeldFrame());
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->Stop(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_EQ(engine->GetWorkerExitCode(), CCameraDataProcessor::kWorkerExitCode);
    EXPECT_FALSE(engine->HasHeldFrame());
    EXPECT_EQ(camera.GetFrameBuffer().GetFreeCount(), Orvane::CameraSystem::FrameBufferItems);
    EXPECT_EQ(camera.GetTrackedCoordBuffer().GetFreeCount(), Orvane::CameraSystem::CoordinateBufferItems);
}

// The processors a thread of this process named `name` may run on (empty
// when there is no such thread).
std::vector<int> AllowedProcessorsOf(const std::string& name)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::ifstream in(entry.path() / "comm");
        std::getline(in, comm);
        if (comm != name)
            continue;
        cpu_set_t set;
        if (sched_getaffinity(std::stoi(entry.path().filename().string()), sizeof set, &set) != 0)
            return {};
        std::vector<int> out;
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &set))
                out.push_back(cpu);
        return out;
    }
    return {};
}

// The worker runs at real-time priority where that is permitted; it then
// keeps to the processor its frames come from, so that the next frame wakes
// it there rather than on a sleeping processor elsewhere.
TEST_F(WorkerTest, TheWorkerFollowsTheThreadThatQueuesItsFrames)
{
    engine = MakeEngine(50);
    ASSERT_EQ(engine->Start(), 0u);
    if (!testing_support::RealTimePermitted())
        GTEST_SKIP() << "real-time scheduling is not permitted here";
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int last = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            last = cpu;
    const std::uint32_t before = engine->GetFrameCount();
    std::thread([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        ASSERT_TRUE(Queue(ClipBlobs(HeadPose{})));
    }).join();
    for (int i = 0; i < 400 && engine->GetFrameCount() == before; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_GT(engine->GetFrameCount(), before);
    // The thread's name as the system shows it: at most 15 characters.
    EXPECT_EQ(AllowedProcessorsOf("tracking engine"), std::vector<int>{last});
    EXPECT_EQ(engine->Stop(), 0u);
}

TEST_F(WorkerTest, StopDuringPlaybackIsPrompt)
{
    // Records a second apart: the worker sleeps between them.
    std::vector<std::uint8_t> bytes;
    const auto h = PoseFileHeader();
    bytes.assign(h.begin(), h.end());
    for (std::uint32_t t = 0; t < 10; ++t) {
        PoseRecord r;
        r.tick = t * 1000;
        const auto b = EncodePoseRecord(r);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    {
        std::ofstream out(dir.file("vistrel.tdf"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    CCameraDataProcessor::Options o;
    o.frameWaitMs = 50;
    o.poseFile = dir.file("vistrel.tdf");
    o.registry = registry.store();
    engine = std::make_unique<CCameraDataProcessor>(host, camera, o); // the real clock
    engine->StartPlayback();
    ASSERT_EQ(engine->Start(), 0u);
    for (int i = 0; i < 200 && engine->GetPublishCount() < 1; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(engine->GetPublishCount(), 1u);
    const auto before = std::chrono::steady_clock::now();
    engine->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST_F(WorkerTest, MonitorsReadWhileTheWorkerRunsAndSwitchesComeFromOtherThreads)
{
    host.Edit([](CEngineProfile& p) {
        p.SixDofSmoothing = 1;
        p.TrueView = 1;
    });
    engine = MakeEngine(20);
    ASSERT_EQ(engine->Start(), 0u);
    std::atomic<bool> running{true};
    std::atomic<int> fed{0}, reads{0}, copies{0};
    std::atomic<bool> sawNan{false};
    std::thread feeder([&] { Feed(running, fed); });
    std::thread monitor([&] {
        Orvane::Frame copy;
        while (running.load()) {
            for (double v : engine->RawAxes())
                sawNan = sawNan || !std::isfinite(v);
            for (double v : engine->OutputAxes())
                sawNan = sawNan || !std::isfinite(v);
            sawNan = sawNan || !Finite(engine->PublishedRecord());
            if (engine->CopyHeldFrame(copy))
                copies.fetch_add(1);
            reads.fetch_add(1);
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread sheet([&] {
        for (int i = 0; running.load(); ++i) {
            engine->SetPrecision(i % 3 == 0);
            if (i % 5 == 0)
                engine->Recenter();
            engine->SetPaused(i % 7 == 3);
            host.Edit([i](CEngineProfile& p) { p.Smoothing = static_cast<float>(i % 50); });
            if (i % 11 == 0)
                engine->ApplyModel(CHeadsetModel::ForLocation(kLocation));
            std::this_thread::sleep_for(3ms);
        }
    });
    for (int i = 0; i < 400 && engine->GetFrameCount() < 60; ++i)
        std::this_thread::sleep_for(5ms);
    running = false;
    feeder.join();
    monitor.join();
    sheet.join();
    engine->SetPaused(false);
    EXPECT_GE(engine->GetFrameCount(), 60u);
    EXPECT_GT(engine->GetPublishCount(), 0u);
    EXPECT_GT(copies.load(), 0);
    EXPECT_FALSE(sawNan.load());
    engine->Stop();
    EXPECT_EQ(camera.GetFrameBuffer().GetFreeCount() + camera.GetFrameBuffer().GetFilledCount(),
              Orvane::CameraSystem::FrameBufferItems);
}

#ifdef OVCLIENT_DIR
class GameClientTest : public WorkerTest {
protected:
    testing_support::TempSession session;

    void SetUp() override
    {
        WorkerTest::SetUp();
        PublishClientFolder(registry, OVCLIENT_DIR);
    }
    static std::vector<double> Fields(const std::string& line) { return testing_support::ClientProcess::numbers(line); }
};

TEST_F(GameClientTest, AClientReadsTheEnginePoseAndRecentresIt)
{
    engine = MakeEngine(20);
    ASSERT_EQ(engine->Start(), 0u);
    ASSERT_TRUE(engine->IsLibraryLoaded());
    testing_support::ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
    ASSERT_TRUE(game.ready());
    game.ask("window");
    ASSERT_EQ(game.ask("regwin"), "0");
    ASSERT_EQ(game.ask("profile 2302"), "0");
    ASSERT_EQ(game.ask("start"), "0");
    EXPECT_EQ(game.ask("getparam 1"), "0 0");

    // The first computed frame is the centre.
    ASSERT_TRUE(Queue(ClipBlobs(HeadPose{})));
    for (int i = 0; i < 400 && engine->GetPublishCount() < 1; ++i)
        std::this_thread::sleep_for(2ms);
    // A steady pose: the client must read what the engine published.
    const HeadPose pose{.yaw = 12, .pitch = -6, .x = 20};
    const std::uint32_t start = engine->GetPublishCount();
    for (int i = 0; i < 400 && engine->GetPublishCount() < start + 10; ++i) {
        Queue(ClipBlobs(pose));
        std::this_thread::sleep_for(2ms);
    }
    // Once the queue has drained, the client sees what the engine last published.
    OVPosePacket mine{};
    std::vector<double> f;
    for (int i = 0; i < 200; ++i) {
        mine = engine->PublishedRecord();
        f = Fields(game.ask("getdata"));
        const OVPosePacket again = engine->PublishedRecord();
        if (camera.GetFrameBuffer().GetFilledCount() == 0 && f.size() == 19u && f[2] == mine.frame &&
            std::memcmp(&mine, &again, sizeof mine) == 0)
            break;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(f.size(), 19u);
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[2], mine.frame);
    EXPECT_GT(f[2], 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(f[static_cast<std::size_t>(4 + i)], mine.value[i], 1e-3 * (1 + std::fabs(mine.value[i]))) << i;
    EXPECT_LT(f[4 + 2], -100.0) << "yawing to the left gives a negative published yaw";

    // Re-centre from the game: the next frame is the centre and raises parameter 2.
    ASSERT_EQ(game.ask("setparam 2 0"), "0");
    EXPECT_EQ(game.ask("recenter"), "0");
    const std::uint32_t now = engine->GetPublishCount();
    for (int i = 0; i < 400 && engine->GetPublishCount() < now + 3; ++i) {
        Queue(ClipBlobs(pose));
        std::this_thread::sleep_for(2ms);
    }
    for (int i = 0; i < 200; ++i) {
        mine = engine->PublishedRecord();
        f = Fields(game.ask("getdata"));
        if (camera.GetFrameBuffer().GetFilledCount() == 0 && f.size() == 19u && f[2] == mine.frame)
            break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(game.ask("getparam 2"), "0 1");
    ASSERT_EQ(f.size(), 19u);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(f[static_cast<std::size_t>(4 + i)], 0.0, 1.0) << i;

    // Pausing tells the client.
    engine->SetPaused(true);
    EXPECT_EQ(game.ask("getparam 1"), "0 1");
    engine->SetPaused(false);
    EXPECT_EQ(game.ask("unreg"), "0");
    engine->Stop();
}
#endif

} // namespace
