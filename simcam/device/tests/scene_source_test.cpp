// The scene stream: pacing by the frame-rate register or by steps, and
// packets that carry the projected markers.
#include <gtest/gtest.h>

#include <chrono>

#include "simcam/imaging/packets.h"
#include "simcam/scene_source.h"
#include "testing/test_clock.h"

namespace {

using namespace std::chrono_literals;

simcam::StreamState state(int frameRate = 0)
{
    simcam::StreamState s;
    s.revision = 8;
    s.threshold = 120;
    s.frameRateRegister = frameRate;
    return s;
}

TEST(SceneImageSource, FrameRatePacing)
{
    testing_support::TestClock clock;
    simcam::SceneImageSource source(8, 1, [](double) { return simcam::scene::HeadPose{}; },
                                    simcam::SceneImageSource::Pacing::FrameRate, clock);
    std::vector<std::uint8_t> packet;
    EXPECT_TRUE(source.nextPacket(state(50), packet));
    EXPECT_FALSE(source.nextPacket(state(50), packet));
    clock.advance(19ms);
    EXPECT_FALSE(source.nextPacket(state(50), packet));
    clock.advance(1ms);
    EXPECT_TRUE(source.nextPacket(state(50), packet));
    // Far behind: one frame, not a burst.
    clock.advance(1s);
    EXPECT_TRUE(source.nextPacket(state(50), packet));
    EXPECT_FALSE(source.nextPacket(state(50), packet));
    EXPECT_EQ(source.FramesSent(), 3);
    EXPECT_DOUBLE_EQ(simcam::SceneImageSource::FramesPerSecond(0), 100.0);
}

TEST(SceneImageSource, SteppedFramesFollowThePose)
{
    testing_support::TestClock clock;
    double yaw = 0;
    simcam::SceneImageSource source(8, 1, [&](double) { return simcam::scene::HeadPose{.yaw = yaw}; },
                                    simcam::SceneImageSource::Pacing::Stepped, clock);
    std::vector<std::uint8_t> packet;
    EXPECT_FALSE(source.nextPacket(state(), packet));
    source.Step(2);
    yaw = 7;
    EXPECT_TRUE(source.nextPacket(state(), packet));
    EXPECT_DOUBLE_EQ(source.LastPose().yaw, 7.0);
    auto split = simcam::imaging::Split(packet);
    EXPECT_GT(split.data.size(), 0u);
    EXPECT_TRUE(source.nextPacket(state(), packet));
    EXPECT_FALSE(source.nextPacket(state(), packet));
}

} // namespace
