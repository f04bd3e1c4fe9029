// Frames that must not reach the published pose: points that are not
// numbers, rejected solves, degenerate clips, and a smoothing amount of 0.
// None may leave a value that is not a number behind, nor spoil the frames
// after it.
#include <cstring>
#include <limits>

#include "engine_fixture.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

class BadFramesTest : public EngineTest {
protected:
    void ExpectGoodAfterwards()
    {
        const HeadPose pose{.yaw = 15, .pitch = 5};
        Pass(pose);
        EXPECT_EQ(engine->GetTrackingState(), 0);
        const auto truth = scene.TruthOf(pose);
        const auto centre = scene.TruthOf(HeadPose{});
        EXPECT_NEAR(engine->RawAxes()[kPoseYaw], -(truth.yaw - centre.yaw) * 4095.75 / 45, 0.01);
        EXPECT_TRUE(Finite(engine->PublishedRecord()));
    }
};

TEST_F(BadFramesTest, ClipFramesThatCannotBeSolvedPublishNothing)
{
    Pass(HeadPose{});
    Pass(HeadPose{.yaw = 5});
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<Blob>> bad = {
        {{nan, 100}, {300, 200}, {350, 250}},        // a centre that is not a number
        {{inf, 100}, {300, 200}, {350, 250}},        // an infinite centre
        {{100, -inf}, {300, 200}, {350, 250}},
        {{300, 200}, {300, 200}, {300, 200}},        // three markers in one place
        {{100, 100}, {200, 200}, {300, 300}},        // three in a line
        {{300, 200}, {320, 200}},                     // only two markers
        {{300, 200, 100}, {320, 200, 10}, {350, 260, 100}}, // areas out of proportion
    };
    for (const auto& blobs : bad) {
        const OVPosePacket before = engine->PublishedRecord();
        const std::uint32_t published = engine->GetPublishCount();
        ASSERT_TRUE(Queue(blobs));
        engine->RunPass();
        EXPECT_TRUE(Finite(engine->PublishedRecord()));
        for (double v : engine->OutputAxes())
            EXPECT_TRUE(std::isfinite(v));
        if (engine->GetPublishCount() == published) {
            const OVPosePacket after = engine->PublishedRecord();
            EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        }
    }
    ExpectGoodAfterwards();
}

TEST_F(BadFramesTest, ABadFrameOnTheRecentreFrameDoesNotBecomeTheCentre)
{
    engine->Recenter();
    ASSERT_TRUE(Queue({{std::nan(""), 100}, {300, 200}, {350, 250}}));
    engine->RunPass();
    Pass(HeadPose{}); // this one is the centre
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    ExpectGoodAfterwards();
}

TEST_F(BadFramesTest, SmoothingAmountZeroAndDefaultSmoothingStayFinite)
{
    for (float smoothing : {0.0f, 25.0f}) {
        host.Edit([&](CEngineProfile& p) {
            p.SixDofSmoothing = 1;
            p.ImagerSmoothing = 1;
            p.ImagerThreshold = 0.0f;
            p.Smoothing = smoothing;
            p.TrueView = 1;
        });
        engine->Recenter();
        for (int i = 0; i < 30; ++i) {
            Pass(HeadPose{.yaw = (i % 7) * 4.0 - 12, .pitch = (i % 5) * 3.0, .x = i * 2.0});
            EXPECT_TRUE(Finite(engine->PublishedRecord())) << smoothing << " " << i;
        }
    }
    // One point, with the beta filter at amount 0.
    PlainProfile(host.profile, 0);
    host.Edit([](CEngineProfile& p) {
        p.SixDofSmoothing = 1;
        p.Smoothing = 0.0f;
    });
    engine->Recenter();
    for (int i = 0; i < 20; ++i) {
        Point(320 + i * 3, 240 - i * 2);
        EXPECT_TRUE(Finite(engine->PublishedRecord()));
    }
    EXPECT_NE(engine->OutputAxes()[kPoseYaw], 0.0);
}

TEST_F(BadFramesTest, OnePointIgnoresCoordinatesThatAreNotNumbers)
{
    PlainProfile(host.profile, 0);
    engine->Recenter();
    const double inf = std::numeric_limits<double>::infinity();
    for (Blob b : {Blob{std::nan(""), 240}, Blob{inf, 240}, Blob{320, -inf}}) {
        ASSERT_TRUE(Queue({b}, true, &b));
        engine->RunPass();
        EXPECT_EQ(engine->GetPublishCount(), 0u);
    }
    // The re-centre waited for the first usable point.
    Point(300, 240);
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    Point(320, 240);
    EXPECT_NEAR(engine->RawAxes()[kPoseYaw], 20.0 / 320 * 4095.75, 1e-9);
    EXPECT_TRUE(Finite(engine->PublishedRecord()));
}

} // namespace
