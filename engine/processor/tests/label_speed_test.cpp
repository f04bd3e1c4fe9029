// The engine labels the clip's markers by its frames' own time stamps: a
// turn no head makes between two frames is not published, the same turn
// over a longer time is.
#include "engine_fixture.h"

using namespace engine_test;
using simcam::scene::HeadPose;

namespace {

class LabelSpeedTest : public EngineTest {};

TEST_F(LabelSpeedTest, ATurnFasterThanAHeadIsNotPublished)
{
    for (const double gap : {0.01, 0.3}) {
        engine = MakeEngine();
        // 100 frames a second at yaw 10; the first is the centre.
        for (int f = 0; f < 20; ++f) Pass(HeadPose{.yaw = 10}, f * 0.01);
        ASSERT_EQ(engine->GetTrackingState(), CCameraDataProcessor::kTracked) << gap;
        const CPoseAxes before = engine->RawAxes();
        const std::uint32_t published = engine->GetPublishCount();
        // 40 degrees further: 4000 degrees a second, or 130.
        Pass(HeadPose{.yaw = 50}, 0.19 + gap);
        if (gap < 0.1) {
            EXPECT_EQ(engine->GetPublishCount(), published);
            EXPECT_EQ(engine->RawAxes(), before);
        } else {
            EXPECT_GT(engine->GetPublishCount(), published);
            EXPECT_NEAR(engine->RawAxes()[kPoseYaw], -40.0 * 4095.75 / 45, 0.5 * 4095.75 / 45);
        }
    }
}

} // namespace
