// One-minute runs of the simulated camera's scripted head (entered at a
// point each seed chooses, 0.2 px noise) through the engine's three-point
// road. The goal is at least 99.9 % of the frames right and never more than
// 10 wrong in a row. The clip on a cap (location 0) does not reach it: after
// the clip comes back into view its three points fit two poses about ten
// degrees apart, and the tracker may start on the wrong one; its floor below
// is what it does, so that it keeps from getting worse. bench/engine reports
// 20 runs a location with random seeds, where the long arrow clip (location
// 4) also falls short now and then.
#include <gtest/gtest.h>

#include <cstdio>

#include "label_runs.h"

namespace {

struct Expect {
    double rate;
    int longestWrong;
};

constexpr Expect kExpect[5] = {{0.99, 120}, {0.999, 10}, {0.999, 10}, {0.999, 10}, {0.999, 10}};

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
    EXPECT_GE(s.Rate(), kExpect[location].rate);
    EXPECT_LE(s.longestWrong, kExpect[location].longestWrong);
}

INSTANTIATE_TEST_SUITE_P(Locations, LabellingRuns, ::testing::Values(0, 1, 2, 3, 4));

} // namespace
