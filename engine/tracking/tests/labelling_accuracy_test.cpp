// End-to-end accuracy of identification and solver together: the scene's
// pixels become blobs, are filtered, sorted by area, labelled and solved, and
// the pose is compared with the ground truth (no noise, no smoothing), over
// the envelope yaw +-60, pitch +-40, roll +-30 degrees, x, y +-100 mm,
// z +-150 mm for every clip location. Counted are the frames whose three
// markers are in view and apart.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "engine/blob_identification.h"
#include "pose_accuracy_support.h"

namespace {

using Labelling = CThreePointPose::Labelling;
using simcam::scene::HeadPose;

constexpr int kRevision = 8;
constexpr double kHalfWidth = 320.0, kHalfHeight = 240.0;

struct Blob {
    float area = 0;
    float width = 1;
    unsigned height = 1;
    double x = 0, y = 0;
    float GetArea() const { return area; }
    void SetArea(float a) { area = a; }
    float GetWidth() const { return width; }
    unsigned GetHeight() const { return height; }
    double GetX() const { return x; }
    double GetY() const { return y; }
};

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
    void Frame(const HeadPose& pose, accuracy::Tally* tally)
    {
        simcam::scene::Projection p;
        scene_.Project(pose, p);
        if (!p.inView || p.separation < accuracy::kMinSeparation) {
            lost_ = true; // merged or missing blobs: the area check fails, the engine re-acquires
            solver_.MissedFrame();
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
        const std::array<ImagePoint, 3> labelled = points;
        solver_.Undistort(points);
        PoseSolution s;
        const bool ok = solver_.SolvePose(points, 1.0, s);
        if (ok) {
            const auto& o = solver_.LastOrder();
            solver_.KeepLabels(std::array<ImagePoint, 3>{labelled[o[0]], labelled[o[1]], labelled[o[2]]});
        }
        else lost_ = true;
        if (!tally) return;
        const simcam::scene::Truth t = scene_.TruthOf(pose);
        ++tally->eligible;
        const double angle =
            ok ? std::max({std::fabs(s.yaw - t.yaw), std::fabs(s.pitch - t.pitch), std::fabs(s.roll - t.roll)})
               : INFINITY;
        const double position =
            ok ? std::max({std::fabs(s.x - t.x), std::fabs(s.y - t.y), std::fabs(s.z - t.z)}) : INFINITY;
        if (angle <= accuracy::kAngleLimit && position <= accuracy::kPositionLimit) ++tally->good;
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
};

// Random poses over the envelope, each reached from the one before by a
// 25-frame move (half a second at 50 frames a second).
accuracy::Tally RunSample(int location, int rotation, Labelling labelling, int poses, std::uint64_t seed)
{
    Road road(location, rotation, labelling);
    std::mt19937_64 random(seed);
    HeadPose from{};
    accuracy::Tally tally;
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

accuracy::Tally RunTrajectory(int location, Labelling labelling)
{
    Road road(location, 0, labelling);
    accuracy::Tally tally;
    const simcam::scene::Trajectory trajectory;
    for (int f = 1; f < 1500; ++f) road.Frame(trajectory.At(f / 25.0), &tally); // 25 frames a second
    return tally;
}

} // namespace

// Rates reached with the labelling that follows the previous frames, as
// measured on these samples (the 99.9 % goal is not reached yet; these keep
// what is there from getting worse).
struct Floor {
    double sample, trajectory;
};
constexpr Floor kFloors[5] = {{0.73, 0.65}, {0.985, 0.98}, {0.985, 0.98}, {0.995, 0.97}, {0.995, 0.925}};

class LabellingAccuracy : public ::testing::TestWithParam<int> {};

TEST_P(LabellingAccuracy, SampledEnvelope)
{
    const int location = GetParam();
    const auto specified = RunSample(location, 0, Labelling::Specified, 100, 11);
    const auto mended = RunSample(location, 0, Labelling::NearestPrevious, 100, 11);
    std::printf("location %d sample: sorting alone %d/%d (%.4f), following the previous frames %d/%d (%.4f)\n",
                location, specified.good, specified.eligible, specified.Rate(), mended.good, mended.eligible,
                mended.Rate());
    EXPECT_GT(mended.eligible, 1000);
    EXPECT_GE(mended.Rate(), specified.Rate());
    EXPECT_GE(mended.Rate(), kFloors[location].sample);
}

TEST_P(LabellingAccuracy, ScriptedTrajectory)
{
    const int location = GetParam();
    const auto specified = RunTrajectory(location, Labelling::Specified);
    const auto mended = RunTrajectory(location, Labelling::NearestPrevious);
    std::printf("location %d trajectory: sorting alone %d/%d (%.4f), following the previous frames %d/%d (%.4f)\n",
                location, specified.good, specified.eligible, specified.Rate(), mended.good, mended.eligible,
                mended.Rate());
    EXPECT_GT(mended.eligible, 600);
    EXPECT_GE(mended.Rate(), specified.Rate());
    EXPECT_GE(mended.Rate(), kFloors[location].trajectory);
}

TEST_P(LabellingAccuracy, EveryCameraRotation)
{
    // The labelling works on oriented points: a turned camera changes nothing
    // but which poses stay in the frame.
    const int location = GetParam();
    for (int rotation = 1; rotation < 4; ++rotation) {
        const auto specified = RunSample(location, rotation, Labelling::Specified, 100, 5);
        const auto mended = RunSample(location, rotation, Labelling::NearestPrevious, 100, 5);
        EXPECT_GT(mended.eligible, 100) << "rotation " << rotation;
        std::printf("location %d rotation %d: sorting alone %.4f, following %.4f\n", location, rotation, specified.Rate(), mended.Rate());
        EXPECT_GE(mended.Rate(), specified.Rate()) << "rotation " << rotation;
    }
}

INSTANTIATE_TEST_SUITE_P(Locations, LabellingAccuracy, ::testing::Values(0, 1, 2, 3, 4));

TEST(LabellingFollow, KeepsTheArrowClipPastWhereItsSortingFails)
{
    // Sorted by x, the arrow clip of location 3 has P0 in the middle only up
    // to a yaw of about 52 degrees; a head turning on to 60 keeps its labels.
    for (const Labelling labelling : {Labelling::Specified, Labelling::NearestPrevious}) {
        Road road(3, 0, labelling);
        accuracy::Tally early, late;
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
