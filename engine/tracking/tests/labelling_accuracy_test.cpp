// End-to-end accuracy of identification and solver together: the scene's
// pixels become blobs, are filtered, sorted by area, labelled and solved, and
// the pose is compared with the ground truth (no noise, no smoothing), over
// the envelope yaw +-60, pitch +-40, roll +-30 degrees, x, y +-100 mm,
// z +-150 mm for every clip location. Counted are the frames whose three
// markers are in view and apart.
//
// The frames missed are those after the clip comes back into view (or its
// markers apart again) where the three points fit more than one head pose
// within reach, and the label tracker starts on the wrong one until the
// frames after it tell them apart, or the wrong one ends; while the clip
// stays in view, the head is followed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/blob_identification.h"
#include "pose_accuracy_support.h"
#include "testing/test_blob.h"

namespace {

using testing_support::Blob;

struct Tally : accuracy::Tally {
    // Of the frames missed, those after a frame solved right since the clip
    // was last acquired: lost while following the head.
    int missedWhileFollowing = 0;
};

using Labelling = CThreePointPose::Labelling;
using simcam::scene::HeadPose;

constexpr int kRevision = 8;
constexpr double kHalfWidth = 320.0, kHalfHeight = 240.0;

class Road {
public:
    Road(int location, int rotation, Labelling labelling)
        : scene_(kRevision, location, rotation), rotation_(rotation)
    {
        accuracy::Prepare(solver_, kRevision, location, CThreePointPose::RootChoice::RestartFromPrevious);
        solver_.SetLabelling(labelling);
        Frame({}, nullptr); // capture at the neutral pose
    }

    // One frame; counted in `tally` when its markers are in view and apart.
    void Frame(const HeadPose& pose, Tally* tally)
    {
        simcam::scene::Projection p;
        scene_.Project(pose, p);
        if (!p.inView || p.separation < accuracy::kMinSeparation) {
            lost_ = true; // merged or missing blobs: the area check fails, the engine re-acquires
            solver_.MissedFrame();
            rightSinceAcquired_ = false;
            return;
        }
        // Blobs in a frame order that changes from frame to frame; areas fall
        // with depth as a marker disc's do.
        for (int i = 0; i < 3; ++i) {
            Blob& b = blobs_[(i + order_) % 3];
            const double depth = p.markers[i][1];
            b.area = float(8.0e7 / (depth * depth));
            b.width = b.area / 10.0f;
            b.height = 10;
            b.x = p.pixels[i].x;
            b.y = p.pixels[i].y;
        }
        order_ = (order_ + 1) % 3;
        for (int i = 0; i < 3; ++i) table_[i] = &blobs_[i];
        const std::span<Blob*> table(table_);
        FilterObjects(table, kRevision, solver_.GetModel().Location);
        std::array<ImagePoint, 3> points{};
        IdentifyPoints(std::span<Blob* const>(table), rotation_, kHalfWidth, kHalfHeight, solver_, points);
        ASSERT_TRUE(CheckAreas(std::span<Blob* const>(table)));
        if (lost_) solver_.SetReinitialise();
        lost_ = false;
        solver_.Undistort(points);
        PoseSolution s;
        const bool ok = solver_.SolvePose(points, 1.0, s);
        if (!ok) lost_ = true;
        if (!tally) return;
        const simcam::scene::Truth t = scene_.TruthOf(pose);
        ++tally->eligible;
        const double angle =
            ok ? std::max({std::fabs(s.yaw - t.yaw), std::fabs(s.pitch - t.pitch), std::fabs(s.roll - t.roll)})
               : INFINITY;
        const double position =
            ok ? std::max({std::fabs(s.x - t.x), std::fabs(s.y - t.y), std::fabs(s.z - t.z)}) : INFINITY;
        if (angle <= accuracy::kAngleLimit && position <= accuracy::kPositionLimit) {
            ++tally->good;
            rightSinceAcquired_ = true;
        } else if (rightSinceAcquired_) {
            ++tally->missedWhileFollowing;
        }
        tally->worstAngle = std::max(tally->worstAngle, angle);
        tally->worstPosition = std::max(tally->worstPosition, position);
    }

private:
    CThreePointPose solver_;
    simcam::scene::SceneProjector scene_;
    int rotation_;
    std::array<Blob, 3> blobs_{};
    std::array<Blob*, 3> table_{};
    int order_ = 0;
    bool lost_ = false;
    bool rightSinceAcquired_ = false;
};

// Random poses over the envelope, each reached from the one before by a
// 25-frame move (half a second at 50 frames a second).
Tally RunSample(int location, int rotation, Labelling labelling, int poses, std::uint64_t seed)
{
    Road road(location, rotation, labelling);
    std::mt19937_64 random(seed);
    HeadPose from{};
    Tally tally;
    constexpr int kSteps = 25;
    for (int n = 0; n < poses; ++n) {
        const HeadPose to = simcam::scene::SamplePose(random);
        for (int s = 1; s <= kSteps; ++s) {
            const double k = double(s) / kSteps;
            HeadPose p;
            p.yaw = from.yaw + k * (to.yaw - from.yaw);
            p.pitch = from.pitch + k * (to.pitch - from.pitch);
            p.roll = from.roll + k * (to.roll - from.roll);
            p.x = from.x + k * (to.x - from.x);
            p.y = from.y + k * (to.y - from.y);
            p.z = from.z + k * (to.z - from.z);
            road.Frame(p, &tally);
        }
        from = to;
    }
    return tally;
}

Tally RunTrajectory(int location, Labelling labelling)
{
    Road road(location, 0, labelling);
    Tally tally;
    const simcam::scene::Trajectory trajectory;
    for (int f = 1; f < 1500; ++f) road.Frame(trajectory.At(f / 25.0), &tally); // 25 frames a second
    return tally;
}

} // namespace

// Rates the label tracker reaches on these samples (measured: location 0
// 0.9994 sample, 0.9991 trajectory, 0.952 turned camera; 1-2 0.986, 1.0,
// 1.0; 3 0.9994, 1.0, 0.996; 4 1.0, 0.999, 0.998), a little below, so that
// they keep from getting worse. The sample's moves are no head's: each goes
// at one speed (up to 240 degrees and 600 mm a second) and turns about at
// once, without a pause, and the frames carry no time stamps. The tracker
// judges the start after a gap by how a head moves (where it was heading,
// how far it got, how fast it turns), and at locations 1-2 one return into
// view there, after the head turned 38 degrees in 0.2 s, is taken for a pose
// near where the head was seen last and followed for 24 frames (the tracker
// before got 0.999 there; it missed many more frames at the other
// locations).
struct Floor {
    double sample, trajectory, rotated;
};
constexpr Floor kFloors[5] = {
    {0.995, 0.995, 0.94}, {0.985, 0.999, 0.999}, {0.985, 0.999, 0.999}, {0.995, 0.999, 0.99}, {0.995, 0.999, 0.99}};

void Report(const char* what, int location, const Tally& specified, const Tally& tracked)
{
    std::printf("location %d %s: sorting alone %d/%d (%.4f); tracked %d/%d (%.4f), of the %d missed %d while "
                "following\n",
                location, what, specified.good, specified.eligible, specified.Rate(), tracked.good, tracked.eligible,
                tracked.Rate(), tracked.eligible - tracked.good, tracked.missedWhileFollowing);
}

class LabellingAccuracy : public ::testing::TestWithParam<int> {};

TEST_P(LabellingAccuracy, SampledEnvelope)
{
    const int location = GetParam();
    const auto specified = RunSample(location, 0, Labelling::Specified, 100, 11);
    const auto tracked = RunSample(location, 0, Labelling::Tracked, 100, 11);
    Report("sample", location, specified, tracked);
    EXPECT_GT(tracked.eligible, 1000);
    EXPECT_GE(tracked.Rate(), specified.Rate());
    EXPECT_GE(tracked.Rate(), kFloors[location].sample);
    // What is missed is missed on acquiring the clip, not while following it
    // (but for a level clip, whose sorting is often wrong, just after an
    // acquisition).
    EXPECT_LE(tracked.missedWhileFollowing, tracked.eligible / 50);
}

TEST_P(LabellingAccuracy, ScriptedTrajectory)
{
    const int location = GetParam();
    const auto specified = RunTrajectory(location, Labelling::Specified);
    const auto tracked = RunTrajectory(location, Labelling::Tracked);
    Report("trajectory", location, specified, tracked);
    EXPECT_GT(tracked.eligible, 600);
    EXPECT_GE(tracked.Rate(), specified.Rate());
    EXPECT_GE(tracked.Rate(), kFloors[location].trajectory);
}

TEST_P(LabellingAccuracy, EveryCameraRotation)
{
    // The labelling works on oriented points: a turned camera changes nothing
    // but which poses stay in the frame.
    const int location = GetParam();
    for (int rotation = 1; rotation < 4; ++rotation) {
        const auto specified = RunSample(location, rotation, Labelling::Specified, 100, 5);
        const auto tracked = RunSample(location, rotation, Labelling::Tracked, 100, 5);
        EXPECT_GT(tracked.eligible, 100) << "rotation " << rotation;
        const std::string what = "rotation " + std::to_string(rotation);
        Report(what.c_str(), location, specified, tracked);
        EXPECT_GE(tracked.Rate(), specified.Rate()) << what;
        EXPECT_GE(tracked.Rate(), kFloors[location].rotated) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Locations, LabellingAccuracy, ::testing::Values(0, 1, 2, 3, 4));

TEST(LabellingFollow, KeepsTheArrowClipPastWhereItsSortingFails)
{
    // Sorted by x, the arrow clip of location 3 has P0 in the middle only up
    // to a yaw of about 52 degrees; a head turning on to 60 keeps its labels.
    for (const Labelling labelling : {Labelling::Specified, Labelling::Tracked}) {
        Road road(3, 0, labelling);
        Tally early, late;
        for (int step = 1; step <= 60; ++step) {
            const HeadPose pose{-double(step), 0, 0, 0, 0, 0};
            road.Frame(pose, step <= 45 ? &early : &late);
        }
        EXPECT_EQ(early.good, early.eligible);
        ASSERT_GT(late.eligible, 10);
        if (labelling == Labelling::Specified)
            EXPECT_LT(late.good, late.eligible);
        else
            EXPECT_EQ(late.good, late.eligible);
    }
}
