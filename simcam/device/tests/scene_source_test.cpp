// The scene stream: pacing by the frame-rate register or by steps, and
// packets that carry the projected markers.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "simcam/imaging/packets.h"
#include "simcam/scene/scene.h"
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
    // The reader is told to come back when the next frame is due, not sooner.
    EXPECT_EQ(source.retryAfter(), 20ms);
    clock.advance(15ms);
    EXPECT_EQ(source.retryAfter(), 5ms);
    clock.advance(4ms);
    EXPECT_FALSE(source.nextPacket(state(50), packet));
    clock.advance(1ms);
    EXPECT_TRUE(source.nextPacket(state(50), packet));
    // Far behind: one frame, not a burst.
    clock.advance(1s);
    EXPECT_TRUE(source.nextPacket(state(50), packet));
    EXPECT_FALSE(source.nextPacket(state(50), packet));
    EXPECT_EQ(source.FramesSent(), 3);
    EXPECT_DOUBLE_EQ(simcam::SceneImageSource::FramesPerSecond(0), 100.0);

    // A scene's own rate while the register is unset: 120 a second, 8.3 ms apart.
    source.SetDefaultFrameRate(120.0);
    clock.advance(1s);
    EXPECT_TRUE(source.nextPacket(state(0), packet));
    clock.advance(8ms);
    EXPECT_FALSE(source.nextPacket(state(0), packet));
    clock.advance(500us);
    EXPECT_TRUE(source.nextPacket(state(0), packet));
}

TEST(SceneImageSource, SteppedFramesFollowThePose)
{
    testing_support::TestClock clock;
    double yaw = 0;
    simcam::SceneImageSource source(8, 1, [&](double) { return simcam::scene::HeadPose{.yaw = yaw}; },
                                    simcam::SceneImageSource::Pacing::Stepped, clock);
    std::vector<std::uint8_t> packet;
    EXPECT_FALSE(source.nextPacket(state(), packet));
    EXPECT_EQ(source.retryAfter(), 1ms);  // a step comes whenever the test makes one
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

namespace {

// FNV-1a over every packet of a run, with the byte count: two runs that
// stream the same bytes give the same pair.
struct StreamDigest {
    std::uint64_t hash = 1469598103934665603ull;
    std::uint64_t bytes = 0;
    void Add(const std::vector<std::uint8_t>& packet)
    {
        for (std::uint8_t b : packet) hash = (hash ^ b) * 1099511628211ull;
        bytes += packet.size();
    }
};

} // namespace

// The frames the simulated camera streams for a seed are the bytes it
// streamed when this table was recorded: the scripted head movement at 120
// frames a second, per revision (packet family and image size), clip
// location, marker size and noise, with markers entering and leaving the view.
TEST(SceneImageSource, StreamsTheRecordedBytesForASeed)
{
    const struct {
        int revision, location, threshold;
        double radius, noise;
        std::uint64_t seed;
        std::uint64_t hash, bytes;  // recorded
    } cases[] = {
        {8, 1, 120, 4.0, 0.2, 11, 0x3ec0322a26092022ull, 130732},
        {7, 0, 128, 4.0, 0.0, 1, 0x5f3998f0fa99fbe5ull, 124724},
        {12, 2, 100, 6.0, 0.5, 5, 0x02efac6481a81959ull, 189016},
        {6, 3, 128, 3.0, 0.2, 7, 0x25bafe52dbbc7bf6ull, 87212},
        {9, 4, 128, 4.0, 0.2, 3, 0xc5b0bb3bc653d419ull, 129564},
        {5, 1, 90, 2.5, 0.3, 9, 0x0fb76ddff2f1fb65ull, 158400},
        {8, 2, 200, 12.0, 0.0, 2, 0x330d53d205bdbae6ull, 353184},
    };
    const simcam::scene::Trajectory trajectory;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "revision " << c.revision << ", location " << c.location);
        testing_support::TestClock clock;
        int frame = 0;
        simcam::SceneImageSource source(
            c.revision, c.location, [&](double) { return trajectory.At(frame / 120.0); },
            simcam::SceneImageSource::Pacing::Stepped, clock);
        source.SetMarkerRadius(c.radius);
        source.SetNoise(c.noise, c.seed);
        simcam::StreamState s;
        s.revision = c.revision;
        s.threshold = c.threshold;
        StreamDigest digest;
        std::vector<std::uint8_t> packet;
        for (frame = 0; frame < 1200; ++frame) {
            source.Step();
            ASSERT_TRUE(source.nextPacket(s, packet));
            digest.Add(packet);
        }
        EXPECT_EQ(digest.hash, c.hash);
        EXPECT_EQ(digest.bytes, c.bytes);
    }
}
