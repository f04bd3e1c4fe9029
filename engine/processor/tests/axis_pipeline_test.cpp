// The axis output pipeline: response curves, centring, clamps, limits,
// inversion, enable flags and translation compensation, driven with clip
// and single-point frames made from the scene projector.
#include "engine_fixture.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

constexpr double kAngleRaw = 4095.75;
constexpr double kPositionRaw = 4914.900195300579;
constexpr double kThree = static_cast<double>(0.002f);
constexpr double kOne = static_cast<double>(0.004f);

CEngineProfile TableProfile(std::int32_t motionType)
{
    CEngineProfile p;
    p.MotionType = motionType;
    for (auto& a : p.Axes)
        for (int i = 0; i < 15; ++i)
            a.Table[static_cast<std::size_t>(i)] = 10 * i + 3;
    return p;
}

TEST(ResponseCurve, KnotsMidpointsClampAndExtrapolation)
{
    const CEngineProfile three = TableProfile(1);
    const CEngineProfile one = TableProfile(0);
    auto t = [](int i) { return 10.0 * i + 3; };
    struct Case {
        const CEngineProfile* profile;
        double value;
        int axis;
        double expected;
    };
    const Case cases[] = {
        {&three, 45.0, 0, 16383 * t(14) * kThree},             // v = 50: the last entry
        {&three, 60.0, 1, 16383 * t(14) * kThree},             // clamped above the range
        {&three, -45.0, 2, -16383 * t(0) * kThree},            // v = -50: the first entry
        {&three, 22.5, 0, 16383 * 0.5 * (t(11) + t(12)) * kThree}, // v = 25: half way 20..30
        {&three, 100.0, 3, 16383 * 0.5 * (t(11) + t(12)) * kThree}, // x range 200
        {&three, 150.0, 4, 16383 * t(14) * kThree},            // y range 150
        {&three, 3.0, 5, 16383 * (0.75 * t(7) + 0.25 * t(8)) * kThree}, // z range 300: v = 0.5, knots 0..2
        {&three, 0.0, 0, -16383 * t(7) * kThree},              // v = 0 takes the negative sign
        // No lower clamp: v = -200/3 extrapolates the first segment.
        {&three, -60.0, 0, -16383 * ((10 - 50.0 / 3) / 10 * t(0) + (50.0 / 3) / 10 * t(1)) * kThree},
        {&one, kAngleRaw, 0, 16383 * t(14) * kOne},
        {&one, -kAngleRaw / 2, 1, -16383 * 0.5 * (t(2) + t(3)) * kOne}, // v = -25: half way -30..-20
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_NEAR(CCameraDataProcessor::ComputeAxis(*c.profile, c.value, c.axis), c.expected, 1e-9);
    }
}

class AxisPipelineTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        Pass(HeadPose{}); // the first computed frame is the centre
    }
};

TEST_F(AxisPipelineTest, TheRecentreFrameOutputsZeroAndLaterFramesAreRelativeToIt)
{
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    EXPECT_EQ(engine->RawAxes(), CPoseAxes{});
    const HeadPose pose{.yaw = 12, .pitch = -8, .roll = 5, .x = 30, .y = -20, .z = 40};
    Pass(pose);
    const auto truth = scene.TruthOf(pose);
    const auto centre = scene.TruthOf(HeadPose{});
    const CPoseAxes raw = engine->RawAxes();
    EXPECT_NEAR(raw[kPoseYaw], -(truth.yaw - centre.yaw) * kAngleRaw / 45, 0.01);
    EXPECT_NEAR(raw[kPosePitch], -(truth.pitch - centre.pitch) * kAngleRaw / 45, 0.01);
    EXPECT_NEAR(raw[kPoseRoll], (truth.roll - centre.roll) * kAngleRaw / 45, 0.01);
    EXPECT_NEAR(raw[kPoseX], (truth.x - centre.x) / 200 * kPositionRaw, 0.05);
    EXPECT_NEAR(raw[kPoseY], (truth.y - centre.y) / 150 * kPositionRaw, 0.05);
    EXPECT_NEAR(raw[kPoseZ], (truth.z - centre.z) / 300 * kPositionRaw, 0.05);

    // The published record holds the output axes in its own slot order.
    const CPoseAxes out = engine->OutputAxes();
    const OVPosePacket record = engine->PublishedRecord();
    EXPECT_EQ(record.value[0], static_cast<float>(out[kPoseRoll]));
    EXPECT_EQ(record.value[1], static_cast<float>(out[kPosePitch]));
    EXPECT_EQ(record.value[2], static_cast<float>(out[kPoseYaw]));
    EXPECT_EQ(record.value[3], static_cast<float>(out[kPoseX]));
    EXPECT_EQ(record.value[4], static_cast<float>(out[kPoseY]));
    EXPECT_EQ(record.value[5], static_cast<float>(out[kPoseZ]));
    for (int i = 6; i < 15; ++i)
        EXPECT_EQ(record.value[i], 0.0f);
    // Each output is the curve of its centred value.
    EXPECT_NEAR(out[kPoseYaw], CCameraDataProcessor::ComputeAxis(host.profile, raw[kPoseYaw] * 45 / kAngleRaw, 0), 1e-6);
    EXPECT_NEAR(out[kPoseZ], CCameraDataProcessor::ComputeAxis(host.profile, raw[kPoseZ] * 300 / kPositionRaw, 5), 1e-6);
}

TEST_F(AxisPipelineTest, ARecentreAskedForWhileAFrameIsSolvedTakesReferenceAndCentreFromOneFrame)
{
    const HeadPose turned{.yaw = 12, .pitch = -6, .x = 20};
    Pass(turned);
    ASSERT_TRUE(Queue({})); // no markers: tracking is lost
    engine->RunPass();
    // The next good frame posts its status change after the solve: the
    // re-centre arrives half way through that frame.
    bool asked = false;
    host.onMainPost = [&](platform::UINT) {
        if (!asked) {
            asked = true;
            engine->Recenter();
        }
    };
    Pass(turned);
    host.onMainPost = nullptr;
    ASSERT_TRUE(asked);
    Pass(turned);
    const HeadPose other{.yaw = -8, .pitch = 4, .x = -15};
    Pass(other);
    const CPoseAxes raw = engine->RawAxes();
    // The same as a re-centre asked for between frames at `turned`.
    engine->Recenter();
    Pass(turned);
    EXPECT_EQ(engine->RawAxes(), CPoseAxes{});
    Pass(other);
    const CPoseAxes clean = engine->RawAxes();
    for (int a : {kPoseYaw, kPosePitch, kPoseRoll, kPoseX, kPoseY, kPoseZ})
        EXPECT_NEAR(raw[static_cast<std::size_t>(a)], clean[static_cast<std::size_t>(a)], 1e-6) << "axis " << a;
    EXPECT_GT(raw[kPoseYaw], 0.0) << "turning right from the centre";
}

TEST_F(AxisPipelineTest, AnglesBeyond45DegreesClampToFullRaw)
{
    engine->Recenter();
    Pass(HeadPose{.yaw = -28});
    Pass(HeadPose{.yaw = 28}); // 56 degrees from the centre
    EXPECT_EQ(engine->RawAxes()[kPoseYaw], -kAngleRaw);
    // The linear curve's first entry overshoots full scale; the game's limits hold it.
    EXPECT_EQ(engine->OutputAxes()[kPoseYaw], std::max(-16383.0, -16383 * host.profile.Axes[0].Table[0] * kThree));
    EXPECT_LT(engine->OutputAxes()[kPoseYaw], 0.0);
}

TEST_F(AxisPipelineTest, LimitsInversionAndEnableFlags)
{
    host.limits[CGameInfo::Yaw] = {-8000.0f, 8000.0f, 1};
    host.Edit([](CEngineProfile& p) {
        p.Axes[CProfileAxis::Pitch].Inverted = 1;
        p.Axes[CProfileAxis::Roll].Enabled = 0;
    });
    std::mt19937_64 random(7);
    for (int i = 0; i < 60; ++i) {
        const HeadPose pose{.yaw = (i % 2 ? 1 : -1) * (10.0 + i % 20), .pitch = 10, .roll = 10};
        Pass(pose);
        const CPoseAxes out = engine->OutputAxes();
        EXPECT_LE(std::fabs(out[kPoseYaw]), 8000.0);
        EXPECT_EQ(out[kPoseRoll], 0.0);
        EXPECT_EQ(engine->PublishedRecord().value[0], 0.0f);
        // Pitch 10 degrees down from the centre gives a negative centred pitch; inverted it is positive.
        EXPECT_GT(out[kPosePitch], 0.0);
    }
    Pass(HeadPose{.yaw = 30});
    EXPECT_EQ(std::fabs(engine->OutputAxes()[kPoseYaw]), 8000.0);
}

TEST_F(AxisPipelineTest, TranslationCompensationWithoutRotationFollowsTheMeasurement)
{
    host.Edit([](CEngineProfile& p) { p.TrueView = 1; });
    engine->Recenter();
    Pass(HeadPose{});
    for (double x : {10.0, 25.0, 40.0, 15.0}) {
        Pass(HeadPose{.x = x, .y = x / 2, .z = -x});
        const CPoseAxes out = engine->OutputAxes();
        const CPoseAxes pre = engine->PreCompensationAxes();
        for (int a : {kPoseX, kPoseY, kPoseZ})
            EXPECT_NEAR(out[a], pre[a], 1.0) << a;
        EXPECT_GT(out[kPoseX], 0.0);
    }
}

TEST_F(AxisPipelineTest, OnePointScalesByTheHalfWidthOnBothAxes)
{
    PlainProfile(host.profile, 0);
    engine->Recenter();
    Point(320, 240);
    EXPECT_EQ(engine->OutputAxes(), CPoseAxes{});
    Point(320, 0); // 240 pixels above the centre
    EXPECT_DOUBLE_EQ(std::fabs(engine->RawAxes()[kPosePitch]), 3071.8125);
    Point(0, 240); // the left border of the picture
    const CPoseAxes raw = engine->RawAxes();
    EXPECT_DOUBLE_EQ(raw[kPoseYaw], -kAngleRaw);
    EXPECT_EQ(raw[kPoseX], 0.0);
    EXPECT_EQ(raw[kPoseRoll], 0.0);
    const CPoseAxes out = engine->OutputAxes();
    EXPECT_DOUBLE_EQ(out[kPoseYaw], std::max(-16383.0, CCameraDataProcessor::ComputeAxis(host.profile, -kAngleRaw, 0)));
    EXPECT_EQ(out[kPoseX], 0.0);
    EXPECT_EQ(out[kPoseZ], 0.0);
}

} // namespace

namespace {

TEST_F(AxisPipelineTest, AnUpsideDownCameraGivesTheSamePose)
{
    simcam::scene::SceneProjector turned(kRevision, kLocation, 2);
    host.rotation = 2;
    engine->Recenter();
    auto pass = [&](const HeadPose& pose) {
        simcam::scene::Projection p;
        turned.Project(pose, p);
        ASSERT_TRUE(p.inView);
        ASSERT_TRUE(Queue({{p.pixels[0].x, p.pixels[0].y}, {p.pixels[1].x, p.pixels[1].y}, {p.pixels[2].x, p.pixels[2].y}}));
        engine->RunPass();
    };
    pass(HeadPose{});
    const HeadPose pose{.yaw = 10, .pitch = 5, .roll = -4, .x = 15};
    pass(pose);
    const auto truth = scene.TruthOf(pose);
    const auto centre = scene.TruthOf(HeadPose{});
    EXPECT_NEAR(engine->RawAxes()[kPoseYaw], -(truth.yaw - centre.yaw) * kAngleRaw / 45, 0.01);
    EXPECT_NEAR(engine->RawAxes()[kPoseRoll], (truth.roll - centre.roll) * kAngleRaw / 45, 0.01);
    EXPECT_NEAR(engine->RawAxes()[kPoseX], (truth.x - centre.x) / 200 * kPositionRaw, 0.05);
}

TEST_F(AxisPipelineTest, WithManyObjectsTheFirstThreeAreTheMarkersAndTheTableGrows)
{
    const HeadPose pose{.yaw = 8};
    std::vector<Blob> blobs = ClipBlobs(pose);
    // Larger blobs behind the markers: with 30 objects or more nothing is sorted.
    for (int i = 0; i < 447; ++i)
        blobs.push_back({5.0 + (i % 40) * 15, 5.0 + (i / 40) * 40, 300.0f, 12.0f, 12});
    ASSERT_TRUE(Queue(blobs));
    engine->RunPass();
    const auto truth = scene.TruthOf(pose);
    const auto centre = scene.TruthOf(HeadPose{});
    EXPECT_NEAR(engine->RawAxes()[kPoseYaw], -(truth.yaw - centre.yaw) * kAngleRaw / 45, 0.01);
    Orvane::Frame copy;
    ASSERT_TRUE(engine->CopyHeldFrame(copy));
    EXPECT_EQ(copy.GetObjectCount(), 450);
    EXPECT_EQ(copy.pointerTable.size(), 450u);
}

} // namespace
