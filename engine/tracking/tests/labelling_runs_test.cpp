// The label tracker on the engine's three-point road, in scenes of the
// simulated camera's scripted head with 0.2 px of noise, at 100 frames a
// second with time stamps:
// - one-minute runs (each entered at a point its seed chooses, after a
//   capture at the neutral pose and a move there as a user makes it): at
//   least 99.9 % of the frames right (within 5 degrees and 20 mm) at every
//   clip location, and never more than 10 wrong in a row;
// - a head held where the solve scatters past the edge of the range users
//   move in: it is followed there, never left for another pose;
// - the clip back in view after seconds out of it, where its points fit a
//   mirror image of the head as well: a wrong start is given up within a
//   few frames.
// bench/engine's LabellingReport gives the same table over 20 runs a
// location with random seeds, and for heads moving between random poses.
#include <gtest/gtest.h>

#include <cstdio>

#include "label_runs.h"

namespace {

class LabellingRuns : public ::testing::TestWithParam<int> {};

TEST_P(LabellingRuns, ScriptedMinutes)
{
    const int location = GetParam();
    std::vector<std::uint64_t> seeds;
    for (std::uint64_t seed = 1; seed <= 10; ++seed)
        seeds.push_back(seed * 7919);
    const label_runs::LocationSummary s = label_runs::RunMany(location, seeds, 10, label_runs::Motion::Scripted);
    std::printf("location %d: %d runs, %ld of %ld frames right (%.3f %%), longest wrong run %d\n", location, s.runs,
                s.right, s.frames, 100.0 * s.Rate(), s.longestWrong);
    EXPECT_GT(s.frames, 10 * 3000);
    EXPECT_GE(s.Rate(), 0.999);
    EXPECT_LE(s.longestWrong, 10);
}

INSTANTIATE_TEST_SUITE_P(Locations, LabellingRuns, ::testing::Values(0, 1, 2, 3, 4));

TEST(LabellingScenes, AHeadAtTheEdgeOfTheRangeIsNotLeftForAnotherPose)
{
    // The clip on the side of a headset (location 1), the head turned to
    // yaw 50, pitch -37, roll 30 and 150 mm further from the camera (13 s
    // into the scripted minute), held there for 5 s: the solve
    // scatters beyond the reach of the captured pose now and then, while a
    // wrongly labelled pose 35 mm away stays inside it.
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        const label_runs::RunResult r = label_runs::Stretch(1, seed * 7919, 13.05, 18.05, true);
        EXPECT_EQ(r.frames, 500) << seed;
        EXPECT_EQ(r.right, r.frames) << seed;
    }
}

TEST(LabellingScenes, AWrongStartIsGivenUpWithinAFewFrames)
{
    // The clip on a cap (location 0) leaves the view 37.7 s into the scripted
    // minute and comes back 4.4 s later at yaw 43, roll 18, where its points
    // fit a head at yaw -50 as well; the sorting speaks for that one.
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        const label_runs::RunResult r = label_runs::Stretch(0, seed * 7919, 37.5, 45.0);
        EXPECT_GT(r.frames, 250) << seed;
        EXPECT_LE(r.frames - r.right, 4) << seed;
        EXPECT_LE(r.longestWrong, 4) << seed;
    }
}

} // namespace
