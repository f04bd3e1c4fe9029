#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "engine/registry_model_override.h"
#include "engine/three_point_pose.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "simcam/scene/scene.h"
#include "testing/temp_registry.h"

namespace {

std::array<ImagePoint, 3> Points(simcam::scene::SceneProjector& scene, const simcam::scene::HeadPose& pose)
{
    simcam::scene::Projection p;
    scene.Project(pose, p);
    std::array<ImagePoint, 3> pts;
    for (int i = 0; i < 3; ++i) pts[i] = {p.oriented[i].x, p.oriented[i].y};
    return pts;
}

class TableSource : public IModelOverrideSource {
public:
    std::map<std::string, std::uint32_t> values;
    std::optional<std::uint32_t> ReadDword(std::string_view name) const override
    {
        auto it = values.find(std::string(name));
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

} // namespace

TEST(CameraModel, ByRevision)
{
    const CameraModel r5 = CameraModelForRevision(5);
    EXPECT_EQ(r5.imageWidth, 355.0f);
    EXPECT_EQ(r5.imageHeight, 290.0f);
    EXPECT_EQ(r5.focalLength, 2.1f);
    EXPECT_TRUE(r5.distortion);
    EXPECT_EQ(r5.fy, 426.0f);
    EXPECT_EQ(r5.k1, -0.373921f);
    const CameraModel r8 = CameraModelForRevision(8);
    EXPECT_EQ(r8.imageWidth, 640.0f);
    EXPECT_EQ(r8.focalLength, 4.9f);
    EXPECT_FALSE(r8.distortion);
    const CameraModel r9 = CameraModelForRevision(9);
    EXPECT_EQ(r9.focalLength, 3.99f);
    EXPECT_EQ(r9.k2, -0.684426f);
    for (int rev : {0, 6, 7, 12}) {
        const CameraModel m = CameraModelForRevision(rev);
        EXPECT_EQ(m.imageWidth, 355.0f);
        EXPECT_EQ(m.sensorHeight, 1.8f);
        EXPECT_EQ(m.focalLength, 3.7f);
        EXPECT_FALSE(m.distortion);
    }
    CThreePointPose solver;
    solver.SetCameraIntrinsics(r9);
    EXPECT_EQ(solver.GetCameraIntrinsics().k1, r9.k1);
}

TEST(HeadsetModel, ByLocation)
{
    struct Case {
        int location, sorting;
        double d01, d02, d12, del0, tx, tz;
        int p0OnTop; // 1 when P0 starts farther than both others
    } cases[] = {
        {0, 0, 113, 113, 68, -716, 0, -200, 1},
        {1, 2, 50.06999969482422, 94.12000274658203, 111.41000366210938, -771, -50, 130, 1},
        {2, 2, 50.06999969482422, 94.12000274658203, 111.41000366210938, -771, -50, 130, 1},
        {3, 3, 101, 92, 155, -710, 85, -100, 0},
        {4, 3, 112, 106.5, 179.3000030517578, -710, 85, -100, 0},
        {7, 0, 113, 113, 68, -716, 0, -200, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        const CHeadsetModel m = CHeadsetModel::ForLocation(c.location);
        EXPECT_EQ(m.Location, c.location);
        EXPECT_EQ(m.Sorting, c.sorting);
        EXPECT_EQ(m.Dist01, c.d01);
        EXPECT_EQ(m.Dist02, c.d02);
        EXPECT_EQ(m.Dist12, c.d12);
        EXPECT_EQ(m.Del0, c.del0);
        EXPECT_EQ(m.TX, c.tx);
        EXPECT_EQ(m.TZ, c.tz);
        EXPECT_EQ(m.Distol, (c.d01 + c.d02) * 0.5);
        EXPECT_EQ(m.DistCenter, 100.0);
        EXPECT_EQ(m.DistBack, 25.0);
        EXPECT_EQ(m.pivot[2], c.tz);
        EXPECT_EQ(m.P0OnTop, c.p0OnTop);
    }
}

TEST(ModelOverride, OnlyWithTheAccessCode)
{
    const CHeadsetModel builtIn = CHeadsetModel::ForLocation(0);
    TableSource source;
    source.values = {{"Dist01", 90}, {"Dist02", 95}, {"Dist12", 70}, {"Location", 3}, {"DistCenter", 7},
                     {"DistBack", 9}, {"Distol", 1}, {"P0OnTop", 1}};
    CHeadsetModel m = LoadModelOverride(source); // code absent
    EXPECT_EQ(m.Dist01, builtIn.Dist01);
    EXPECT_EQ(m.Location, 0);
    source.values["PendrixOverride"] = kPendrixOverrideCode + 1;
    m = LoadModelOverride(source);
    EXPECT_EQ(m.Dist12, builtIn.Dist12);

    source.values["PendrixOverride"] = kPendrixOverrideCode;
    m = LoadModelOverride(source);
    EXPECT_EQ(m.Dist01, 90.0);
    EXPECT_EQ(m.Dist02, 95.0);
    EXPECT_EQ(m.Dist12, 70.0);
    EXPECT_EQ(m.Location, 3);
    // Finish recomputes the rest; the start depths and sorting stay location 0's.
    EXPECT_EQ(m.Distol, 92.5);
    EXPECT_EQ(m.DistCenter, 100.0);
    EXPECT_EQ(m.DistBack, 25.0);
    EXPECT_EQ(m.P0OnTop, 1); // from location 0's start depths, not the registry
    EXPECT_EQ(m.Sorting, 0);
    EXPECT_EQ(m.Del0, builtIn.Del0);

    CThreePointPose solver;
    const CHeadsetModel applied = solver.ApplyModel(m);
    EXPECT_EQ(applied.Dist12, 70.0);
    EXPECT_EQ(solver.GetModel().Location, 3);
}

TEST(ModelOverride, FromTheRegistry)
{
    testing_support::TempRegistry registry;
    auto store = registry.store();
    const CRegistryModelOverride source(store);
    EXPECT_FALSE(source.ReadDword("PendrixOverride")); // key missing
    EXPECT_EQ(LoadModelOverride(source).Dist01, 113.0);

    using platform::registry::Root;
    ASSERT_EQ(store->createKey(Root::LocalMachine, kPendrixOverrideKey), platform::registry::kSuccess);
    store->setDword(Root::LocalMachine, kPendrixOverrideKey, "Dist01", 120);
    EXPECT_EQ(LoadModelOverride(source).Dist01, 113.0);
    store->setDword(Root::LocalMachine, "software\\orvane\\VISTREL\\pendrix", "PendrixOverride", kPendrixOverrideCode);
    EXPECT_EQ(LoadModelOverride(source).Dist01, 120.0);
    // A value of another type counts as absent.
    store->setString(Root::LocalMachine, kPendrixOverrideKey, "Dist02", u"99");
    EXPECT_EQ(LoadModelOverride(source).Dist02, 113.0);
}

TEST(Undistort, PerRevision)
{
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(8));
    std::array<ImagePoint, 3> pts = {{{100, -50}, {0, 0}, {-300, 200}}};
    auto copy = pts;
    solver.Undistort(pts);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pts[i].x, copy[i].x);

    solver.SetCameraIntrinsics(CameraModelForRevision(9));
    solver.Undistort(pts);
    const double fx = 630, k1 = double(0.0614822f), k2 = double(-0.684426f);
    for (int i = 0; i < 3; ++i) {
        const double u = copy[i].x / fx, v = copy[i].y / fx, r2 = u * u + v * v;
        const double s = 1.0 / (1.0 + k1 * r2 + k2 * r2 * r2);
        EXPECT_NEAR(pts[i].x, copy[i].x * s, 1e-9);
        EXPECT_NEAR(pts[i].y, copy[i].y * s, 1e-9);
    }
    EXPECT_EQ(pts[1].x, 0.0);
}

TEST(ThreePointPose, CaptureMakesTheZeroAndRecentreMovesIt)
{
    simcam::scene::SceneProjector scene(8, 3);
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(8));
    solver.SetModel(CHeadsetModel::ForLocation(3));
    PoseSolution s;
    ASSERT_TRUE(solver.SolvePose(Points(scene, {}), 1.0, s));
    EXPECT_NEAR(s.yaw, 0.0, 1e-9);
    const simcam::scene::HeadPose turned{20, -10, 5, 30, -20, 40};
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), 1.0, s));
    EXPECT_NEAR(s.yaw, 20, 1e-6);
    EXPECT_NEAR(s.pitch, -10, 1e-6);
    EXPECT_NEAR(s.roll, 5, 1e-6);
    const auto truth = scene.TruthOf(turned);
    EXPECT_NEAR(s.x, truth.x, 1e-6);
    EXPECT_NEAR(s.y, truth.y, 1e-6);
    EXPECT_NEAR(s.z, truth.z, 1e-6);
    // The roll sign applies to the reported roll only.
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), -1.0, s));
    EXPECT_NEAR(s.roll, -5, 1e-6);
    EXPECT_NEAR(s.yaw, 20, 1e-6);

    solver.SetCapture();
    EXPECT_TRUE(solver.ReinitialiseFlag());
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), 1.0, s));
    EXPECT_NEAR(s.yaw, 0.0, 1e-9);
    EXPECT_FALSE(solver.CaptureFlag());
    ASSERT_TRUE(solver.SolvePose(Points(scene, {25, -10, 5, 30, -20, 40}), 1.0, s));
    EXPECT_NEAR(s.yaw, 5.0, 0.5); // relative to the new capture
}

TEST(ThreePointPose, RejectedFrameKeepsTheCapturePending)
{
    simcam::scene::SceneProjector scene(8, 1);
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(8));
    solver.SetModel(CHeadsetModel::ForLocation(1));
    PoseSolution s;
    // Coinciding markers: no triad, no solution.
    const std::array<ImagePoint, 3> degenerate = {{{10, 10}, {10, 10}, {10, 10}}};
    EXPECT_FALSE(solver.SolvePose(degenerate, 1.0, s));
    EXPECT_TRUE(std::isnan(s.yaw));
    EXPECT_TRUE(solver.CaptureFlag());
    EXPECT_TRUE(solver.ReinitialiseFlag());
    // Not a number in, not a number out, rejected.
    const std::array<ImagePoint, 3> bad = {{{NAN, 0}, {1, 2}, {3, 4}}};
    EXPECT_FALSE(solver.SolvePose(bad, 1.0, s));
    // The next good frame becomes the zero, not the failed one.
    const simcam::scene::HeadPose pose{10, 0, 0, 0, 0, 0};
    ASSERT_TRUE(solver.SolvePose(Points(scene, pose), 1.0, s));
    EXPECT_NEAR(s.yaw, 0.0, 1e-9);
    EXPECT_FALSE(solver.CaptureFlag());
    ASSERT_TRUE(solver.SolvePose(Points(scene, {}), 1.0, s));
    EXPECT_NEAR(s.yaw, -10.0, 1e-6);
}

TEST(ThreePointPose, LocationThreeInvertCheck)
{
    // Solved with P0 farther from the camera than both other markers: the
    // check writes its line and the next frame starts from the model again.
    simcam::scene::SceneProjector scene(8, 3);
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(8));
    solver.SetModel(CHeadsetModel::ForLocation(3));
    PoseSolution s;
    ASSERT_TRUE(solver.SolvePose(Points(scene, {}), 1.0, s));
    platform::debug::Capture capture;
    // Turned so far that P1 and P2 come nearer the camera than P0.
    bool fired = false;
    for (double yaw = 0; yaw <= 180 && !fired; yaw += 5) {
        solver.SolvePose(Points(scene, {yaw, 0, 0, 0, 0, 0}), 1.0, s);
        fired = capture.contains("P0 on bottom: invert condition detected!");
        if (!fired) {
            EXPECT_FALSE(solver.ReinitialiseFlag()) << yaw;
        }
    }
    ASSERT_TRUE(fired);
    EXPECT_TRUE(solver.ReinitialiseFlag());
    EXPECT_GT(s.markers[0][1], s.markers[1][1]);
    EXPECT_GT(s.markers[0][1], s.markers[2][1]);
}

TEST(ThreePointPose, IterationsAreBounded)
{
    simcam::scene::SceneProjector scene(9, 0);
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(9));
    PoseSolution s;
    auto pts = Points(scene, {});
    solver.Undistort(pts);
    ASSERT_TRUE(solver.SolvePose(pts, 1.0, s));
    EXPECT_LE(solver.LastIterations(), 10);
    EXPECT_GE(solver.LastIterations(), 1);
}

TEST(ThreePointPose, AModelMovesTheZeroOnlyWhenItChanges)
{
    simcam::scene::SceneProjector scene(8, 1);
    CThreePointPose solver;
    solver.SetCameraIntrinsics(CameraModelForRevision(8));
    solver.SetModel(CHeadsetModel::ForLocation(1));
    PoseSolution s;
    ASSERT_TRUE(solver.SolvePose(Points(scene, {}), 1.0, s)); // the capture
    const simcam::scene::HeadPose turned{20, -10, 5, 30, -20, 40};
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), 1.0, s));
    ASSERT_NEAR(s.yaw, 20, 1e-6);

    // The same model again: no change, the zero stays where it was captured.
    EXPECT_FALSE(solver.SetModel(CHeadsetModel::ForLocation(1)));
    solver.ApplyModel(CHeadsetModel::ForLocation(1));
    EXPECT_FALSE(solver.CaptureFlag());
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), 1.0, s));
    EXPECT_NEAR(s.yaw, 20, 1e-6);
    EXPECT_NEAR(s.pitch, -10, 1e-6);
    EXPECT_NEAR(s.roll, 5, 1e-6);

    // Another model (the pivot left out): the next solved frame captures.
    CHeadsetModel other = CHeadsetModel::ForLocation(1);
    other.TX = other.TY = other.TZ = 0;
    solver.ApplyModel(other);
    EXPECT_TRUE(solver.CaptureFlag());
    ASSERT_TRUE(solver.SolvePose(Points(scene, turned), 1.0, s));
    EXPECT_NEAR(s.yaw, 0, 1e-9);
    EXPECT_NEAR(s.pitch, 0, 1e-9);
    EXPECT_NEAR(s.roll, 0, 1e-9);
    // As a solver that was given that model and captured there.
    CThreePointPose fresh;
    fresh.SetCameraIntrinsics(CameraModelForRevision(8));
    fresh.SetModel(other);
    PoseSolution f;
    ASSERT_TRUE(fresh.SolvePose(Points(scene, turned), 1.0, f));
    ASSERT_TRUE(fresh.SolvePose(Points(scene, {}), 1.0, f));
    ASSERT_TRUE(solver.SolvePose(Points(scene, {}), 1.0, s));
    EXPECT_NEAR(s.yaw, f.yaw, 1e-6);
    EXPECT_NEAR(s.pitch, f.pitch, 1e-6);
    EXPECT_NEAR(s.roll, f.roll, 1e-6);
    EXPECT_LT(s.yaw, -15.0);

    // A re-centre asked for before the same model stays asked for.
    solver.SetCapture();
    solver.ApplyModel(other);
    EXPECT_TRUE(solver.CaptureFlag());
}

TEST(ThreePointPose, ResultCheck)
{
    struct Case {
        PoseSolution s;
        bool accepted;
    };
    auto with = [](auto set) {
        PoseSolution s;
        set(s);
        return s;
    };
    const Case cases[] = {
        {with([](PoseSolution&) {}), true},
        {with([](PoseSolution& s) { s.yaw = 360; }), true},
        {with([](PoseSolution& s) { s.yaw = 361; }), false},
        {with([](PoseSolution& s) { s.pitch = -400; }), true}, // only the upper bound of an angle
        {with([](PoseSolution& s) { s.roll = NAN; }), false},
        {with([](PoseSolution& s) { s.x = 10000; }), true},
        {with([](PoseSolution& s) { s.y = 10001; }), false},
        {with([](PoseSolution& s) { s.z = -10000; }), true},
        {with([](PoseSolution& s) { s.x = -10001; }), false}, // as far off as +10001
        {with([](PoseSolution& s) { s.z = INFINITY; }), false},
        {with([](PoseSolution& s) { s.y = NAN; }), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CThreePointPose::ResultAcceptable(cases[i].s), cases[i].accepted) << "case " << i;
}
