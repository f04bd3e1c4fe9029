#include <gtest/gtest.h>

#include <cmath>

#include "simcam/scene/scene.h"

using namespace simcam::scene;

namespace {
double Distance(const Vec3& a, const Vec3& b)
{
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}
} // namespace

TEST(Scene, ClipKeepsItsDistancesAtEveryPose)
{
    const double d[5][3] = {{113, 113, 68}, {50.07, 94.12, 111.41}, {50.07, 94.12, 111.41}, {101, 92, 155},
                            {112, 106.5, 179.3}};
    for (int loc = 0; loc <= 4; ++loc) {
        SceneProjector scene(8, loc);
        Projection p;
        scene.Project({33, -21, 12, 40, -60, 90}, p);
        EXPECT_NEAR(Distance(p.markers[0], p.markers[1]), d[loc][0], 1e-4) << loc;
        EXPECT_NEAR(Distance(p.markers[0], p.markers[2]), d[loc][1], 1e-4) << loc;
        EXPECT_NEAR(Distance(p.markers[1], p.markers[2]), d[loc][2], 1e-4) << loc;
        // The head point moves by the pose's offset, whatever the rotation.
        const Truth neutral = scene.TruthOf({});
        const Truth moved = scene.TruthOf({33, -21, 12, 40, -60, 90});
        EXPECT_NEAR(moved.x - neutral.x, 40, 1e-12);
        EXPECT_NEAR(moved.y - neutral.y, -60, 1e-12);
        EXPECT_NEAR(moved.z - neutral.z, 90, 1e-12);
    }
}

TEST(Scene, PinholeAndFrame)
{
    SceneProjector scene(8, 0);
    // On the axis: the frame centre.
    PixelPoint c = scene.ProjectPoint({0, 800, 0});
    EXPECT_DOUBLE_EQ(c.x, 320.0);
    EXPECT_DOUBLE_EQ(c.y, 240.0);
    // 10 mm across at 1 m: f * 10 / 1000 mm on the sensor, mirrored.
    const double px = double(4.9f) * 10.0 / 1000.0 * 640.0 / double(3.84f);
    PixelPoint o = scene.ProjectOriented({10, 1000, 0});
    EXPECT_NEAR(o.x, -px, 1e-12);
    PixelPoint q = scene.ProjectPoint({10, 1000, 0});
    EXPECT_NEAR(q.x, 320.0 + px, 1e-12);
    // Up in the world is up in the frame (smaller row).
    EXPECT_LT(scene.ProjectPoint({0, 1000, 20}).y, 240.0);
    // Revision 5's frame is 355 x 288.
    SceneProjector r5(5, 0);
    c = r5.ProjectPoint({0, 800, 0});
    EXPECT_DOUBLE_EQ(c.x, 177.5);
    EXPECT_DOUBLE_EQ(c.y, 144.0);
}

TEST(Scene, DistortionIsUndoneByTheRadialModel)
{
    for (int rev : {5, 9}) {
        SceneProjector scene(rev, 0);
        const Lens& l = scene.GetLens();
        for (const Vec3 p : {Vec3{120, 700, -80}, Vec3{-200, 650, 150}, Vec3{5, 900, 3}}) {
            const PixelPoint d = scene.ProjectOriented(p);
            const double u = d.x / l.fx, v = d.y / l.fy, r2 = u * u + v * v;
            const double s = 1.0 / (1.0 + l.k1 * r2 + l.k2 * r2 * r2);
            const double ux = -l.focal * p[0] / p[1] * l.modelWidth / l.sensorWidth;
            const double uy = -l.focal * p[2] / p[1] * l.modelHeight / l.sensorHeight;
            EXPECT_NEAR(s * d.x, ux, 1e-9) << rev;
            EXPECT_NEAR(s * d.y, uy, 1e-9) << rev;
            EXPECT_NE(d.x, ux);
        }
    }
}

TEST(Scene, CameraRotationTurnsTheFrame)
{
    SceneProjector upright(8, 3, 0), upsideDown(8, 3, 2), quarter(8, 3, 1);
    const Vec3 p{40, 700, 30};
    const PixelPoint a = upright.ProjectPoint(p), b = upsideDown.ProjectPoint(p), q = quarter.ProjectPoint(p);
    EXPECT_NEAR(a.x - 320, -(b.x - 320), 1e-12);
    EXPECT_NEAR(a.y - 240, -(b.y - 240), 1e-12);
    // The oriented coordinates do not depend on the rotation.
    EXPECT_EQ(upright.ProjectOriented(p).x, quarter.ProjectOriented(p).x);
    EXPECT_NE(a.x, q.x);
}

TEST(Scene, NoiseIsDeterministicForASeed)
{
    SceneProjector a(8, 3), b(8, 3), c(8, 3), clean(8, 3);
    a.SetNoise(0.2, 42);
    b.SetNoise(0.2, 42);
    c.SetNoise(0.2, 43);
    double sum = 0, sum2 = 0;
    const int n = 4000;
    for (int i = 0; i < n; ++i) {
        const Vec3 p{10.0 + i * 0.01, 700, -20};
        const PixelPoint pa = a.ProjectPoint(p), pb = b.ProjectPoint(p), pc = c.ProjectPoint(p);
        ASSERT_EQ(pa.x, pb.x);
        ASSERT_EQ(pa.y, pb.y);
        ASSERT_NE(pa.x, pc.x);
        const double e = pa.x - clean.ProjectPoint(p).x;
        sum += e;
        sum2 += e * e;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.02);
    EXPECT_NEAR(std::sqrt(sum2 / n), 0.2, 0.02);
}

TEST(Scene, ViewAndSeparation)
{
    SceneProjector scene(8, 3);
    Projection p;
    scene.Project({}, p);
    EXPECT_TRUE(p.inView);
    EXPECT_GT(p.separation, 20.0);
    scene.Project({0, 0, 0, 2000, 0, 0}, p); // far to the side
    EXPECT_FALSE(p.inView);
    scene.Project({0, 0, 0, 0, 0, -2000}, p); // behind the lens
    EXPECT_FALSE(p.inView);
}

TEST(Trajectory, EnvelopeStillPhasesAndContinuity)
{
    Trajectory t;
    HeadPose extreme{};
    HeadPose previous = t.At(0);
    double largestStep = 0;
    for (int f = 0; f <= 6000; ++f) {
        const HeadPose p = t.At(f / 100.0);
        ASSERT_LE(std::fabs(p.yaw), 60.0);
        ASSERT_LE(std::fabs(p.pitch), 40.0);
        ASSERT_LE(std::fabs(p.roll), 30.0);
        ASSERT_LE(std::fabs(p.x), 100.0);
        ASSERT_LE(std::fabs(p.y), 100.0);
        ASSERT_LE(std::fabs(p.z), 150.0);
        extreme.yaw = std::fmax(extreme.yaw, std::fabs(p.yaw));
        extreme.z = std::fmax(extreme.z, std::fabs(p.z));
        largestStep = std::fmax(largestStep, std::fabs(p.yaw - previous.yaw));
        previous = p;
    }
    EXPECT_GT(extreme.yaw, 55.0); // the envelope is swept
    EXPECT_GT(extreme.z, 130.0);
    EXPECT_LT(largestStep, 0.5); // degrees per 10 ms
    // Still at neutral first, still off-centre around 30 s.
    EXPECT_EQ(t.At(2.0).yaw, 0.0);
    EXPECT_EQ(t.At(29.0).yaw, t.At(31.0).yaw);
    EXPECT_NE(t.At(29.0).yaw, 0.0);
    EXPECT_EQ(t.At(58.0).x, 0.0);
}

TEST(Trajectory, SampleIsDeterministicAndInside)
{
    std::mt19937_64 a(5), b(5);
    for (int i = 0; i < 1000; ++i) {
        const HeadPose p = SamplePose(a), q = SamplePose(b);
        ASSERT_EQ(p.yaw, q.yaw);
        ASSERT_LE(std::fabs(p.pitch), 40.0);
        ASSERT_LE(std::fabs(p.z), 150.0);
    }
}

TEST(Rotation, AxesOfTheConvention)
{
    // Yaw turns about the vertical axis (component 2), pitch about across (1),
    // roll about depth (0).
    const Mat3 y = RotationOf(30, 0, 0), p = RotationOf(0, 30, 0), r = RotationOf(0, 0, 30);
    EXPECT_DOUBLE_EQ(y[2][2], 1.0);
    EXPECT_DOUBLE_EQ(p[1][1], 1.0);
    EXPECT_DOUBLE_EQ(r[0][0], 1.0);
    EXPECT_NEAR(r[1][2], std::sin(30 * std::acos(-1.0) / 180), 1e-15);
}

TEST(Scene, SingleMarkerFollowsTheHead)
{
    SceneProjector scene(8, 0), clip(8, 0);
    bool inView = false;
    const PixelPoint still = scene.ProjectSingle({}, &inView);
    EXPECT_TRUE(inView);
    Projection p;
    clip.Project({}, p);
    EXPECT_DOUBLE_EQ(still.x, p.pixels[0].x);
    EXPECT_DOUBLE_EQ(still.y, p.pixels[0].y);
    // Across points to larger columns of the frame.
    const PixelPoint moved = scene.ProjectSingle({0, 0, 0, 30, 0, 0}, &inView);
    EXPECT_GT(moved.x, still.x);
    scene.ProjectSingle({0, 0, 0, 5000, 0, 0}, &inView);
    EXPECT_FALSE(inView);
}
