// The label tracker on hand-made candidates: what it follows, how far a head
// can get between frames, when it gives way, and where it starts.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/clip_labelling.h"

using namespace clip_labelling;

namespace {

constexpr std::array<int, 3> kSorted{0, 1, 2};
constexpr std::array<int, 3> kSwapped{0, 2, 1};
constexpr std::array<int, 3> kRotated{1, 2, 0};
constexpr std::array<double, 3> kStart{-700, -700, -700};

// The clip of these candidates: its triad as the triangle lies at rest, its
// head point 100 mm below P0.
const ClipFrame kClip{TriadOfMarkers({Vec3{0, 700, 0}, Vec3{60, 720, 0}, Vec3{30, 690, 50}}), {0, 0, -100}};

// A clip-sized triangle with its P0 at (x, 700, z), turned by `turn`
// degrees about the vertical through P0; `angle` degrees from the captured
// pose (a pose that far off is as unlikely as the squared angle over 40
// degrees squared) and `reach` of a head's reach from it.
Candidate At(double x, double z, std::array<int, 3> order, double angle = 10.0, double reach = 0.2,
             double turn = 0.0)
{
    Candidate c;
    c.order = order;
    const double a = turn / 57.29577951308232;
    const auto turned = [&](double dx, double dy, double dz) {
        return Vec3{x + dx * std::cos(a) - dy * std::sin(a), 700 + dx * std::sin(a) + dy * std::cos(a), z + dz};
    };
    c.markers = {turned(0, 0, 0), turned(60, 20, 0), turned(30, -10, 50)};
    c.depths = {-700, -720, -690};
    Assess(std::span<Candidate>(&c, 1), kClip, nullptr, Reach{});
    c.angle = angle;
    c.reach = reach;
    c.spread = (angle / 40.0) * (angle / 40.0);
    return c;
}

SortingVerdict Sure(std::array<int, 3> order)
{
    return {order, 1.0};
}

// One frame (at `time` seconds, or without a time stamp): chooses,
// commits, and returns the chosen candidate's P0 x.
double Step(CLabelTracker& t, const std::vector<Candidate>& c, const SortingVerdict& s, bool captured = true,
            double time = CLabelTracker::kNoTime)
{
    const int j = t.Choose(c, s, captured, kStart, time);
    EXPECT_GE(j, 0);
    if (j < 0) return NAN;
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

TEST(LabelTracker, AFollowedTrackNeverJumpsBeyondAHeadsReach)
{
    // 100 frames a second. The followed track leaves the reach of the
    // captured pose a little (as a solve at the edge of the range scatters)
    // while another candidate 200 mm away stays well in it: a head cannot
    // get there in 10 ms, the track goes on.
    CLabelTracker t;
    for (int f = 0; f < 10; ++f) Step(t, {At(f, 0, kSorted), At(200 + f, 0, kRotated)}, Sure(kSorted), true, f * 0.01);
    EXPECT_EQ(Step(t, {At(10, 0, kSorted, 95.0, 1.05), At(210, 0, kRotated, 30.0, 0.5)}, Sure(kSorted), true, 0.1),
              10.0);
    EXPECT_FALSE(t.Switched());
    // Far beyond it, the track is given up, but there is no jump: the frame
    // gives no pose while no candidate is within reach of where the head was.
    const std::vector<Candidate> beyond{At(11, 0, kSorted, 140.0, 1.6), At(211, 0, kRotated, 30.0, 0.5)};
    EXPECT_EQ(t.Choose(beyond, Sure(kSorted), true, kStart, 0.11), -1);
    EXPECT_TRUE(t.Refused());
    t.Miss();
    // Once a head could have got there, the other is taken.
    double time = 0.12;
    int j = -1;
    for (; j < 0 && time < 1.0; time += 0.01) {
        j = t.Choose(beyond, Sure(kSorted), true, kStart, time);
        if (j < 0) t.Miss();
    }
    ASSERT_EQ(j, 1);
    // 200 mm at 2 m/s with 35 mm of scatter: not before 80 ms after the head was last seen.
    EXPECT_GE(time - 0.01, 0.1 + 0.08);
    EXPECT_TRUE(t.Switched());
}

TEST(LabelTracker, AFrameWithNoFitGivesNoPoseWhileAHeadIsFollowed)
{
    CLabelTracker t;
    EXPECT_EQ(t.Choose({}, Sure(kSorted), true, kStart, 0.0), -1);
    EXPECT_FALSE(t.Refused()); // nothing followed: the solve may try
    for (int f = 0; f < 10; ++f) Step(t, {At(0, 0, kSorted)}, Sure(kSorted), true, f * 0.01);
    EXPECT_EQ(t.Choose({}, Sure(kSorted), true, kStart, 0.1), -1);
    EXPECT_TRUE(t.Refused());
}

TEST(LabelTracker, ATurnFasterThanAHeadIsNoContinuation)
{
    // The followed head is still; a candidate at the same place turned by
    // 40 degrees is the only one in the next frame. 10 ms later that is
    // beyond any head; 100 ms later it is not.
    for (const double dt : {0.01, 0.1}) {
        CLabelTracker t;
        for (int f = 0; f < 10; ++f) Step(t, {At(0, 0, kSorted)}, Sure(kSorted), true, f * 0.01);
        const std::vector<Candidate> turned{At(0, 0, kSorted, 10.0, 0.2, 40.0)};
        const int j = t.Choose(turned, Sure(kSorted), true, kStart, 0.09 + dt);
        EXPECT_EQ(j, dt < 0.05 ? -1 : 0) << dt;
        EXPECT_EQ(t.Refused(), dt < 0.05) << dt;
    }
    // Without time stamps, a frame is taken to last Weights::frameTime.
    CLabelTracker t;
    for (int f = 0; f < 10; ++f) Step(t, {At(0, 0, kSorted)}, Sure(kSorted));
    EXPECT_EQ(t.Choose(std::vector<Candidate>{At(0, 0, kSorted, 10.0, 0.2, 40.0)}, Sure(kSorted), true, kStart), -1);
    EXPECT_EQ(t.Choose(std::vector<Candidate>{At(0, 0, kSorted, 10.0, 0.2, 15.0)}, Sure(kSorted), true, kStart), 0);
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
    // Two tracks 30 mm apart, 100 frames a second, then frames missed for a
    // while: followed within Weights::followTime, started afresh after it
    // (where the smaller rotation wins).
    const CLabelTracker::Weights w;
    for (const double missed : {w.followTime - 0.005, w.followTime + 0.005}) {
        CLabelTracker t;
        t.SetWeights([] {
            CLabelTracker::Weights x;
            x.sorting = x.lastSeen = x.offTurn = x.offMove = 0.0;
            return x;
        }());
        for (int f = 0; f < 10; ++f)
            Step(t, {At(f, 0, kSorted, 30.0), At(30 + f, 0, kRotated, 10.0)}, Sure(kSorted), true, f * 0.01);
        t.Miss();
        const double x = Step(t, {At(10, 0, kSorted, 30.0), At(40, 0, kRotated, 10.0)}, Sure(kSorted), true,
                              0.09 + missed);
        EXPECT_EQ(x, missed <= w.followTime ? 10.0 : 40.0) << missed;
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

TEST(LabelTracker, OfTwoStartsTheOneTurningLikeAHeadIsKept)
{
    // Two fits of the same labelling, equally likely at first; one stays
    // still, the other (tried first) turns 3 degrees a frame at 100 frames
    // a second. Within the first frames the still one is taken and kept.
    CLabelTracker t;
    const CLabelTracker::Weights w = t.GetWeights();
    int first = -1;
    for (int f = 0; f < 3 * w.settleFrames; ++f) {
        const std::vector<Candidate> c{At(200, 0, kSorted, 20.0, 0.2, 3.0 * f), At(0, 0, kSorted, 20.0)};
        const double x = Step(t, c, Sure(kSorted), true, f * 0.01);
        if (x == 0.0 && first < 0) first = f;
        if (first >= 0) {
            EXPECT_EQ(x, 0.0) << f;
        }
    }
    EXPECT_GE(first, 0);
    EXPECT_LT(first, w.settleFrames);
}

TEST(LabelTracker, BackInViewTheHeadIsWhereItWasHeading)
{
    // A head turning 1 degree a frame at 100 frames a second leaves the view
    // for 50 ms; back in view, one fit lies where it was heading, the other
    // (as likely otherwise) where it was last seen.
    CLabelTracker t;
    for (int f = 0; f < 20; ++f) Step(t, {At(0, 0, kSorted, 20.0, 0.2, f)}, Sure(kSorted), true, f * 0.01);
    for (int f = 20; f < 25; ++f) t.Miss();
    const std::vector<Candidate> back{At(0, 0, kSorted, 20.0, 0.2, 19.0), At(0, 0, kSorted, 20.0, 0.2, 25.0)};
    EXPECT_EQ(t.Choose(back, Sure(kSorted), true, kStart, 0.25), 1);
}

TEST(LabelTracker, TimeStampsThatStartOverCountFromWhereTheyStood)
{
    // A clock that starts over (a new epoch) between two frames: the head,
    // turning a degree a frame, is followed on, and the stamps after it
    // still tell a frame from a gap: 40 degrees are beyond a head in 10 ms,
    // not in 100.
    CLabelTracker t;
    for (int f = 0; f < 10; ++f) Step(t, {At(0, 0, kSorted, 20.0, 0.2, f)}, Sure(kSorted), true, 100.0 + f * 0.01);
    for (int f = 10; f < 20; ++f)
        EXPECT_EQ(Step(t, {At(0, 0, kSorted, 20.0, 0.2, f)}, Sure(kSorted), true, (f - 10) * 0.01), 0.0) << f;
    EXPECT_FALSE(t.Switched());
    const std::vector<Candidate> turned{At(0, 0, kSorted, 20.0, 0.2, 59.0)};
    EXPECT_EQ(t.Choose(turned, Sure(kSorted), true, kStart, 0.10), -1);
    EXPECT_TRUE(t.Refused());
    t.Miss();
    EXPECT_EQ(t.Choose(turned, Sure(kSorted), true, kStart, 0.19), 0);
    EXPECT_FALSE(t.Refused());
}
