// The label tracker on hand-made candidates: what it follows, when it gives
// way, and where it starts.
#include <gtest/gtest.h>

#include <vector>

#include "engine/clip_labelling.h"

using namespace clip_labelling;

namespace {

constexpr std::array<int, 3> kSorted{0, 1, 2};
constexpr std::array<int, 3> kSwapped{0, 2, 1};
constexpr std::array<int, 3> kRotated{1, 2, 0};
constexpr std::array<double, 3> kStart{-700, -700, -700};

// A clip-sized triangle with its P0 at (x, 700, z).
Candidate At(double x, double z, std::array<int, 3> order, double angle = 10.0, double reach = 0.2)
{
    Candidate c;
    c.order = order;
    c.markers = {Vec3{x, 700, z}, Vec3{x + 60, 720, z}, Vec3{x + 30, 690, z + 50}};
    c.depths = {-700, -720, -690};
    c.angle = angle;
    c.reach = reach;
    return c;
}

SortingVerdict Sure(std::array<int, 3> order)
{
    return {order, 1.0};
}

// One frame: chooses, commits, and returns the chosen candidate's P0 x.
double Step(CLabelTracker& t, const std::vector<Candidate>& c, const SortingVerdict& s, bool captured = true)
{
    const int j = t.Choose(c, s, captured, kStart);
    EXPECT_GE(j, 0);
    t.Commit();
    return c[std::size_t(j)].markers[0][0];
}

} // namespace

TEST(LabelTracker, FollowsTheHeadAgainstASureSortingOnceSettled)
{
    CLabelTracker t;
    // Two tracks 100 mm apart, both moving 2 mm a frame; the sorting first
    // agrees with the one at 0, then, sure, with the other.
    for (int f = 0; f < 10; ++f)
        EXPECT_EQ(Step(t, {At(2.0 * f, 0, kSorted), At(100 + 2.0 * f, 0, kSwapped)}, Sure(kSorted)), 2.0 * f);
    for (int f = 10; f < 40; ++f) {
        EXPECT_EQ(Step(t, {At(2.0 * f, 0, kSorted), At(100 + 2.0 * f, 0, kSwapped)}, Sure(kSwapped)), 2.0 * f) << f;
        EXPECT_FALSE(t.Switched());
    }
}

TEST(LabelTracker, ANewTrackGivesWayToOneTheSortingSpeaksFor)
{
    CLabelTracker t;
    // Started on the candidate nearer the captured pose, which the sorting
    // does not take; within the first frames the sorting wins.
    Candidate wrong = At(0, 0, kSwapped, 5.0);
    Candidate right = At(100, 0, kSorted, 40.0);
    const SortingVerdict sorting = Sure(kSorted);
    CLabelTracker::Weights w;
    w.sorting = 0.0; // let the start go by the rotation alone
    t.SetWeights(w);
    EXPECT_EQ(Step(t, {wrong, right}, sorting), 0.0);
    int switchedAt = -1;
    for (int f = 1; f < w.settleFrames && switchedAt < 0; ++f) {
        if (Step(t, {At(f, 0, kSwapped, 5.0), At(100 + f, 0, kSorted, 40.0)}, sorting) == 100.0 + f) switchedAt = f;
    }
    ASSERT_GT(switchedAt, 0);
    EXPECT_TRUE(t.Switched());
    // And it stays there.
    for (int f = switchedAt + 1; f < 30; ++f)
        EXPECT_EQ(Step(t, {At(f, 0, kSwapped, 5.0), At(100 + f, 0, kSorted, 40.0)}, sorting), 100.0 + f);
}

TEST(LabelTracker, AFollowedTrackBeyondReachGivesWay)
{
    CLabelTracker t;
    for (int f = 0; f < 10; ++f) Step(t, {At(f, 0, kSorted), At(200 + f, 0, kRotated)}, Sure(kSorted));
    // The followed track leaves the reach while the other stays in it.
    EXPECT_EQ(Step(t, {At(10, 0, kSorted, 95.0, 1.05), At(210, 0, kRotated, 30.0, 0.5)}, Sure(kSorted)), 210.0);
    EXPECT_TRUE(t.Switched());
    // When every candidate is beyond reach, the one followed goes on.
    CLabelTracker u;
    for (int f = 0; f < 10; ++f) Step(u, {At(f, 0, kSorted), At(200 + f, 0, kRotated)}, Sure(kSorted));
    EXPECT_EQ(Step(u, {At(10, 0, kSorted, 95.0, 1.5), At(210, 0, kRotated, 30.0, 1.1)}, Sure(kSorted)), 10.0);
}

TEST(LabelTracker, StartsFromTheSortingTheCaptureAndWhereTheHeadWasSeen)
{
    struct Case {
        const char* what;
        std::vector<Candidate> candidates;
        SortingVerdict sorting;
        bool captured;
        double expected;
    };
    Candidate nearStart = At(0, 0, kSorted);
    Candidate farStart = At(50, 0, kSorted);
    farStart.depths = {-900, -920, -880};
    const Case cases[] = {
        {"the sorting's labelling wins a tie", {At(0, 0, kSwapped), At(50, 0, kSorted)}, Sure(kSorted), true, 50},
        {"an unsure sorting leaves it to the rotation",
         {At(0, 0, kSwapped, 10.0), At(50, 0, kSorted, 60.0)},
         {kSorted, 0.0},
         true,
         0},
        {"a sure sorting outweighs a little rotation",
         {At(0, 0, kSwapped, 20.0), At(50, 0, kSorted, 30.0)},
         Sure(kSorted),
         true,
         50},
        {"out of reach is not taken while another is in reach",
         {At(0, 0, kSorted, 10.0, 1.3), At(50, 0, kSwapped, 80.0, 0.9)},
         Sure(kSorted),
         true,
         50},
        {"before any capture, the sorting's solution nearest the start depths",
         {farStart, nearStart, At(100, 0, kSwapped)},
         Sure(kSorted),
         false,
         0},
    };
    for (const Case& c : cases) {
        CLabelTracker t;
        const int j = t.Choose(c.candidates, c.sorting, c.captured, kStart);
        ASSERT_GE(j, 0) << c.what;
        EXPECT_EQ(c.candidates[std::size_t(j)].markers[0][0], c.expected) << c.what;
        EXPECT_TRUE(t.Switched()) << c.what;
    }
    CLabelTracker t;
    EXPECT_EQ(t.Choose({}, Sure(kSorted), true, kStart), -1);
}

TEST(LabelTracker, OldTracksAreNotFollowed)
{
    const CLabelTracker::Weights w;
    for (const int missed : {w.followFrames, w.followFrames + 1}) {
        CLabelTracker t;
        t.SetWeights([] { CLabelTracker::Weights x; x.sorting = 0.0; x.lastSeen = 0.0; return x; }());
        for (int f = 0; f < 10; ++f) Step(t, {At(f, 0, kSorted, 30.0), At(200 + f, 0, kRotated, 10.0)}, Sure(kSorted));
        for (int m = 0; m < missed; ++m) t.Miss();
        // Followed while recent; after that the start takes the smaller rotation.
        const double x = Step(t, {At(10, 0, kSorted, 30.0), At(210, 0, kRotated, 10.0)}, Sure(kSorted));
        EXPECT_EQ(x, missed <= w.followFrames ? 10.0 : 210.0) << missed;
    }
    CLabelTracker t;
    Step(t, {At(0, 0, kSorted)}, Sure(kSorted));
    t.Forget();
    t.Choose(std::vector<Candidate>{At(1, 0, kSorted)}, Sure(kSorted), true, kStart);
    EXPECT_TRUE(t.Switched());
}

TEST(LabelTracker, FollowsAMovingHeadAtItsSpeed)
{
    // 30 mm a frame; from the third frame on, another candidate lies 5 mm
    // from where the head was last: where its speed carries it wins.
    CLabelTracker t;
    EXPECT_EQ(Step(t, {At(0, 0, kSorted)}, {kSorted, 0.0}), 0.0);
    EXPECT_EQ(Step(t, {At(30, 0, kSorted)}, {kSorted, 0.0}), 30.0);
    for (int f = 2; f < 20; ++f) {
        const double x = 30.0 * f;
        EXPECT_EQ(Step(t, {At(x - 25, 0, kSwapped), At(x, 0, kSorted)}, {kSorted, 0.0}), x) << f;
    }
}
