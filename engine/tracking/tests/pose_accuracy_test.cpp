// Solver accuracy against the scene's ground truth, no noise and no smoothing,
// over the envelope yaw +-60, pitch +-40, roll +-30 degrees, x, y +-100 mm,
// z +-150 mm, for every clip location and the revisions with and without
// lens distortion. Counted are frames whose three markers are in view and apart.
#include <gtest/gtest.h>

#include <cstdio>

#include "pose_accuracy_support.h"

using Choice = CThreePointPose::RootChoice;

namespace {

struct Row {
    int revision;
    int location;
};

class PoseAccuracy : public ::testing::TestWithParam<Row> {};

std::string Name(const ::testing::TestParamInfo<Row>& info)
{
    return "rev" + std::to_string(info.param.revision) + "_loc" + std::to_string(info.param.location);
}

std::vector<Row> Rows()
{
    std::vector<Row> rows;
    for (int rev : {5, 7, 8, 9})
        for (int loc = 0; loc <= 4; ++loc) rows.push_back({rev, loc});
    return rows;
}

} // namespace

TEST_P(PoseAccuracy, ScriptedTrajectory)
{
    const Row r = GetParam();
    const auto t = accuracy::RunTrajectory(r.revision, r.location, Choice::RestartFromPrevious, 50.0);
    std::printf("trajectory rev %d loc %d: %d/%d within limits (%.5f), worst %.3g deg %.3g mm\n", r.revision,
                r.location, t.good, t.eligible, t.Rate(), t.worstAngle, t.worstPosition);
    EXPECT_GT(t.eligible, 1500); // most of the 3000 frames are usable
    EXPECT_GE(t.Rate(), 0.999);
}

TEST_P(PoseAccuracy, SampledPosesWithLostFrames)
{
    // Random poses over the envelope reached by 10-frame moves, every fourth
    // frame lost (so the solver re-acquires from the model's start depths).
    const Row r = GetParam();
    const auto before = accuracy::RunSample(r.revision, r.location, Choice::Continue, 150, 10, 7, 4);
    const auto after = accuracy::RunSample(r.revision, r.location, Choice::RestartFromPrevious, 150, 10, 7, 4);
    std::printf("sample rev %d loc %d: as built %d/%d (%.5f), restarting from the last good pose %d/%d (%.5f)\n",
                r.revision, r.location, before.good, before.eligible, before.Rate(), after.good, after.eligible,
                after.Rate());
    EXPECT_GT(after.eligible, 500);
    EXPECT_GE(after.Rate(), 0.999);
    EXPECT_GE(after.good, before.good);
}

INSTANTIATE_TEST_SUITE_P(Envelope, PoseAccuracy, ::testing::ValuesIn(Rows()), Name);

TEST(PoseAccuracyMend, SideMountedClipFailsAsBuiltAfterLostFrames)
{
    // The case the restart mends: a side-mounted clip far from its neutral
    // pose, where Newton from the model's start depths finds no solution.
    const auto before = accuracy::RunSample(8, 1, Choice::Continue, 300, 10, 7, 4);
    const auto after = accuracy::RunSample(8, 1, Choice::RestartFromPrevious, 300, 10, 7, 4);
    EXPECT_LT(before.Rate(), 0.999);
    EXPECT_EQ(after.good, after.eligible);
}

TEST(PoseAccuracyMend, ExactAtNeutralAndAtCapture)
{
    for (int loc = 0; loc <= 4; ++loc) {
        CThreePointPose solver;
        accuracy::Prepare(solver, 8, loc, Choice::RestartFromPrevious);
        simcam::scene::SceneProjector scene(8, loc);
        accuracy::Tally t;
        ASSERT_TRUE(accuracy::SolveProjected(solver, scene, {}, t));
        EXPECT_NEAR(solver.Solution().yaw, 0.0, 1e-9);
        EXPECT_NEAR(solver.Solution().pitch, 0.0, 1e-9);
        EXPECT_NEAR(solver.Solution().roll, 0.0, 1e-9);
        EXPECT_EQ(t.good, 1) << loc;
    }
}
