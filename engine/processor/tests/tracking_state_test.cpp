// The frame loop's bookkeeping and the tracking state machine, one pass at a
// time with the test clock.
#include "engine_fixture.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

class TrackingStateTest : public EngineTest {};

TEST_F(TrackingStateTest, WithoutDataTheLightGoesOutAfterMoreThan3000ms)
{
    camera.StatusGreenOn();
    // Each pass without a frame is one wake of the worker's frame wait.
    struct Step {
        long long advanceMs;
        int state;
        bool green;
    };
    const Step steps[] = {{1000, 1, true}, {1000, 1, true}, {1000, 1, true}, {1, 2, false}, {1000, 2, false}};
    for (const Step& s : steps) {
        clock.advanceMs(s.advanceMs);
        engine->RunPass();
        EXPECT_EQ(engine->GetTrackingState(), s.state);
        EXPECT_EQ(camera.IsStatusGreenOn(), s.green);
    }
    // One zero pose was published when the light went out; posts on each change only.
    EXPECT_EQ(engine->GetPublishCount(), 1u);
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    EXPECT_EQ(host.CountMain(WM_UPDATE_STATUS), 2);

    // The first tracked frame lights it again.
    Pass(HeadPose{});
    EXPECT_EQ(engine->GetTrackingState(), 0);
    EXPECT_TRUE(camera.IsStatusGreenOn());
    EXPECT_EQ(host.CountMain(WM_UPDATE_STATUS), 3);
}

TEST_F(TrackingStateTest, ATrackedFrameWithinTheLimitKeepsTheLightOn)
{
    camera.StatusGreenOn();
    clock.advanceMs(1000);
    engine->RunPass(); // lost
    clock.advanceMs(1500);
    Pass(HeadPose{}); // tracked again within 3000 ms
    EXPECT_EQ(engine->GetTrackingState(), 0);
    clock.advanceMs(2900);
    engine->RunPass();
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 1);
    clock.advanceMs(100);
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 1) << "3000 ms exactly is not more than 3000 ms";
    clock.advanceMs(1);
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 2);
}

TEST_F(TrackingStateTest, FramesAndCoordinatesGoBackOnTheNextPassAndNoPairMeansNoTracking)
{
    auto& frames = camera.GetFrameBuffer();
    auto& coords = camera.GetTrackedCoordBuffer();
    for (int i = 0; i < 20; ++i) {
        Pass(HeadPose{});
        EXPECT_TRUE(engine->HasHeldFrame());
        EXPECT_EQ(frames.GetFreeCount(), Orvane::CameraSystem::FrameBufferItems - 1);
        EXPECT_EQ(coords.GetFreeCount(), Orvane::CameraSystem::CoordinateBufferItems - 1);
    }
    EXPECT_EQ(engine->GetFrameCount(), 20u);

    // A frame without its coordinate is given straight back and is not tracked.
    ASSERT_TRUE(Queue(ClipBlobs(HeadPose{}), false));
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 1);
    EXPECT_FALSE(engine->HasHeldFrame());
    EXPECT_EQ(frames.GetFreeCount(), Orvane::CameraSystem::FrameBufferItems);
    EXPECT_EQ(coords.GetFreeCount(), Orvane::CameraSystem::CoordinateBufferItems);
    EXPECT_EQ(engine->GetFrameCount(), 20u);

    engine->Stop();
    EXPECT_EQ(frames.GetFreeCount(), Orvane::CameraSystem::FrameBufferItems);
}

TEST_F(TrackingStateTest, OnePointCountsEveryFrameWithACoordinateAsTracked)
{
    PlainProfile(host.profile, 0);
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 1);
    // No object at all, and a coordinate that is not a number: still tracked.
    ASSERT_TRUE(Queue({}, true));
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 0);
    const Blob nan{std::nan(""), std::nan("")};
    ASSERT_TRUE(Queue({nan}, true, &nan));
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 0);
    EXPECT_TRUE(Finite(engine->PublishedRecord()));
}

TEST_F(TrackingStateTest, PausedThreePointFramesAreTakenCountedAndHeldButChangeNothing)
{
    Pass(HeadPose{});
    const std::uint32_t published = engine->GetPublishCount();
    engine->SetPaused(true);
    clock.advanceMs(10000);
    for (int i = 0; i < 5; ++i)
        Pass(HeadPose{.yaw = 10});
    EXPECT_EQ(engine->GetTrackingState(), 0);
    EXPECT_EQ(engine->GetFrameCount(), 6u);
    EXPECT_TRUE(engine->HasHeldFrame());
    EXPECT_EQ(engine->GetPublishCount(), published);
    // While paused the 3000 ms rule publishes no zero pose.
    clock.advanceMs(1000);
    engine->RunPass();
    clock.advanceMs(4000);
    engine->RunPass();
    EXPECT_EQ(engine->GetTrackingState(), 2);
    EXPECT_EQ(engine->GetPublishCount(), published);
}

TEST_F(TrackingStateTest, RecentreWhilePausedPublishesZerosAtOnce)
{
    Pass(HeadPose{});
    Pass(HeadPose{.yaw = 20, .pitch = 10});
    EXPECT_NE(engine->OutputAxes()[kPoseYaw], 0.0);
    engine->SetPaused(true);
    const std::uint32_t published = engine->GetPublishCount();
    engine->Recenter();
    EXPECT_EQ(engine->GetPublishCount(), published + 1);
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(engine->PublishedRecord().value[i], 0.0f);
}

TEST_F(TrackingStateTest, RecentreWhileRunningTakesTheNextComputedFrameAsTheCentre)
{
    Pass(HeadPose{});
    Pass(HeadPose{.yaw = 20});
    const double turned = engine->RawAxes()[kPoseYaw];
    EXPECT_NEAR(turned, -20 * 4095.75 / 45, 0.01);
    engine->Recenter();
    Pass(HeadPose{.yaw = 20});
    EXPECT_NEAR(engine->RawAxes()[kPoseYaw], 0.0, 1e-6);
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    Pass(HeadPose{.yaw = 30});
    EXPECT_NEAR(engine->RawAxes()[kPoseYaw], -10 * 4095.75 / 45, 0.05);
}

TEST_F(TrackingStateTest, ProfileIdsAndClientGoneTellTheSheet)
{
    class Probe : public CCameraDataProcessor {
    public:
        using CCameraDataProcessor::CCameraDataProcessor;
        using CCameraDataProcessor::OnClientGone;
        using CCameraDataProcessor::OnProfileId;
    };
    CCameraDataProcessor::Options o;
    o.clock = &clock;
    o.frameWaitMs = 0;
    o.registry = registry.store();
    Probe probe(host, camera, o);

    EXPECT_EQ(probe.OnProfileId(0), 0);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(probe.OnProfileId(3901), 1);
    EXPECT_EQ(probe.GetRollSign(), -1.0);
    auto posts = host.Posts();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_TRUE(posts[0].toSheet && posts[0].message == WM_ACTIVE_GAME && posts[0].wParam == 3901);
    EXPECT_TRUE(posts[1].toSheet && posts[1].message == WM_GAME_STARTED && posts[1].wParam == 3901);
    EXPECT_TRUE(!posts[2].toSheet && posts[2].message == WM_UPDATE_STATUS);

    host.activeGame = 3901; // the sheet took it
    EXPECT_EQ(probe.OnProfileId(2302), 0);

    probe.OnClientGone();
    EXPECT_EQ(probe.GetRollSign(), -1.0) << "the roll sign stays until the next accepted id";
    posts = host.Posts();
    ASSERT_EQ(posts.size(), 6u);
    EXPECT_EQ(posts[3].message, WM_ACTIVE_GAME);
    EXPECT_EQ(posts[3].wParam, static_cast<platform::WPARAM>(-1));
    EXPECT_EQ(posts[4].message, WM_GAME_STARTED);
    EXPECT_EQ(host.caseLight, (std::vector<bool>{true, false}));

    host.activeGame = -1;
    EXPECT_EQ(probe.OnProfileId(2302), 1);
    EXPECT_EQ(probe.GetRollSign(), 1.0);
}

} // namespace
