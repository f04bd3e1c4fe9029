#include "simcam/scene/scene.h"

#include <cmath>
#include <numbers>

namespace simcam::scene {
namespace {

constexpr double kRadians = std::numbers::pi / 180.0;

Vec3 Mul(const Mat3& m, const Vec3& v)
{
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2], m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

Mat3 Mul(const Mat3& a, const Mat3& b)
{
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}

Vec3 Add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 Sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

constexpr Mat3 kIdentity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

struct ClipTable {
    double d01, d02, d12;
    double start0, start1, start2; // the tracker's start depths: which side P1 and P2 lie on
    Vec3 pivot;
};

ClipTable TableFor(int location)
{
    switch (location) {
    case 1:
    case 2: return {double(50.07f), double(94.12f), double(111.41f), -771, -747, -703, {-50, -25, 130}};
    case 3: return {101, 92, 155, -710, -760, -760, {85, 0, -100}};
    case 4: return {112, 106.5, double(179.3f), -710, -760, -760, {85, 0, -100}};
    default: return {113, 113, 68, -716, -600, -600, {0, 0, -200}};
    }
}

// Smooth 0 -> 1 over [a, b].
double Ramp(double t, double a, double b)
{
    if (t <= a) return 0.0;
    if (t >= b) return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (t - a) / (b - a));
}

} // namespace

Lens LensForRevision(int revision)
{
    Lens l{355, 290, 2.2, 1.8, double(3.7f), false, 0, 0, 0, 0, 256, 256};
    switch (revision) {
    case 5:
        l = {355, 290, double(2.2f), double(1.8f), double(2.1f), true, 425, 426, double(-0.373921f), double(0.419047f), 355, 288};
        break;
    case 8: l = {640, 480, double(3.84f), double(2.88f), double(4.9f), false, 0, 0, 0, 0, 640, 480}; break;
    case 9:
        l = {640, 480, double(3.84f), double(2.88f), double(3.99f), true, 630, 630, double(0.0614822f), double(-0.684426f), 640, 480};
        break;
    default:
        l.sensorWidth = double(2.2f);
        l.sensorHeight = double(1.8f);
        if (revision == 4) l.frameWidth = 355, l.frameHeight = 290;
        if (revision == 6) l.frameWidth = 355, l.frameHeight = 288;
        if (revision == 7 || revision == 12) l.frameWidth = 640, l.frameHeight = 480;
        break;
    }
    return l;
}

Clip ClipForLocation(int location)
{
    const ClipTable t = TableFor(location);
    // Triangle with P1-P2 along the across axis and P0 at the origin: the
    // foot of P0's altitude splits P1-P2 at `along` from P1.
    const double cosAtP1 = (t.d01 * t.d01 + t.d12 * t.d12 - t.d02 * t.d02) / (2.0 * t.d01 * t.d12);
    const double along = t.d01 * cosAtP1;
    const double altitude = t.d01 * std::sqrt(1.0 - cosAtP1 * cosAtP1);
    // P1 and P2 lie behind P0 (farther from the camera) when they start deeper.
    const double side1 = t.start1 < t.start0 ? 1.0 : -1.0;
    const double side2 = t.start2 < t.start0 ? 1.0 : -1.0;
    Clip c;
    c.markers[0] = {0, 0, 0};
    c.markers[1] = {side1 * altitude, along, 0};
    c.markers[2] = {side2 * altitude, along - t.d12, 0};
    c.pivot = t.pivot;
    return c;
}

Mounting NeutralMounting(int location)
{
    switch (location) {
    case 1:
    case 2:
        // On the side of a headset: the clip's across axis points up.
        return {{{{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}}, {0, 771, 0}};
    case 3:
    case 4: return {kIdentity, {0, 710, -150}};
    default: return {kIdentity, {0, 716, -100}};
    }
}

Mat3 RotationOf(double yawDeg, double pitchDeg, double rollDeg)
{
    const double y = yawDeg * kRadians, p = pitchDeg * kRadians, r = -rollDeg * kRadians;
    const Mat3 rx{{{1, 0, 0}, {0, std::cos(r), -std::sin(r)}, {0, std::sin(r), std::cos(r)}}};
    const Mat3 ry{{{std::cos(p), 0, std::sin(p)}, {0, 1, 0}, {-std::sin(p), 0, std::cos(p)}}};
    const Mat3 rz{{{std::cos(y), -std::sin(y), 0}, {std::sin(y), std::cos(y), 0}, {0, 0, 1}}};
    return Mul(rx, Mul(ry, rz));
}

SceneProjector::SceneProjector(int hardwareRevision, int location, int cameraRotation)
    : lens_(LensForRevision(hardwareRevision)), clip_(ClipForLocation(location)),
      mounting_(NeutralMounting(location)), location_(location), rotation_(cameraRotation & 3)
{
}

void SceneProjector::SetNoise(double sigmaPixels, std::uint64_t seed)
{
    noise_ = sigmaPixels;
    random_.seed(seed);
    gauss_.reset();
}

void SceneProjector::Distort(double& x, double& y) const
{
    if (!lens_.distorted) return;
    // The lens moves a point radially: find the scale lambda with
    // lambda = 1 + k1 r2 + k2 r2^2 at the distorted radius r2 = lambda^2 rho2.
    const double u = x / lens_.fx, v = y / lens_.fy;
    const double rho2 = u * u + v * v;
    double lambda = 1.0;
    for (int i = 0; i < 60; ++i) {
        const double r2 = lambda * lambda * rho2;
        const double g = 1.0 + lens_.k1 * r2 + lens_.k2 * r2 * r2 - lambda;
        const double dg = 2.0 * lens_.k1 * lambda * rho2 + 4.0 * lens_.k2 * lambda * lambda * lambda * rho2 * rho2 - 1.0;
        const double step = g / dg;
        lambda -= step;
        if (std::fabs(step) < 1e-16) break;
    }
    x *= lambda;
    y *= lambda;
}

PixelPoint SceneProjector::ToPixel(double ox, double oy) const
{
    double dx = 0, dy = 0;
    switch (rotation_) {
    case 1: dx = -oy, dy = -ox; break;
    case 2: dx = ox, dy = -oy; break;
    case 3: dx = oy, dy = ox; break;
    default: dx = -ox, dy = oy; break;
    }
    return {lens_.frameWidth * 0.5 + dx, lens_.frameHeight * 0.5 + dy};
}

PixelPoint SceneProjector::ProjectOriented(const Vec3& p)
{
    // Pinhole: the image is mirrored through the lens, the sensor's pixel
    // pitch is sensor size / pixel grid.
    double ox = -lens_.focal * p[0] / p[1] * lens_.modelWidth / lens_.sensorWidth;
    double oy = -lens_.focal * p[2] / p[1] * lens_.modelHeight / lens_.sensorHeight;
    Distort(ox, oy);
    if (noise_ > 0.0) {
        ox += noise_ * gauss_(random_);
        oy += noise_ * gauss_(random_);
    }
    return {ox, oy};
}

PixelPoint SceneProjector::ProjectPoint(const Vec3& p)
{
    const PixelPoint o = ProjectOriented(p);
    return ToPixel(o.x, o.y);
}

void SceneProjector::Project(const HeadPose& pose, Projection& out)
{
    const Mat3 r = Mul(RotationOf(pose.yaw, pose.pitch, pose.roll), mounting_.rotation);
    const Vec3 p0Clip{mounting_.p0[1], mounting_.p0[0], mounting_.p0[2]};
    const Vec3 neutralHead = Add(p0Clip, Mul(mounting_.rotation, clip_.pivot));
    const Vec3 head = Add(neutralHead, Vec3{pose.z, pose.x, pose.y});
    out.inView = true;
    for (int i = 0; i < 3; ++i) {
        const Vec3 m = Add(head, Mul(r, Sub(clip_.markers[i], clip_.pivot)));
        out.markers[i] = {m[1], m[0], m[2]};
        if (!(out.markers[i][1] > 1.0)) {
            out.inView = false;
            out.oriented[i] = out.pixels[i] = {};
            continue;
        }
        const PixelPoint o = ProjectOriented(out.markers[i]);
        out.oriented[i] = o;
        out.pixels[i] = ToPixel(o.x, o.y);
        const PixelPoint& px = out.pixels[i];
        if (!(px.x >= kMargin && px.x <= lens_.frameWidth - 1.0 - kMargin && px.y >= kMargin &&
              px.y <= lens_.frameHeight - 1.0 - kMargin))
            out.inView = false;
    }
    out.separation = INFINITY;
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            out.separation = std::fmin(out.separation, std::hypot(out.pixels[i].x - out.pixels[j].x,
                                                                  out.pixels[i].y - out.pixels[j].y));
}

PixelPoint SceneProjector::ProjectSingle(const HeadPose& pose, bool* inView)
{
    Projection p;
    Project(pose, p);
    const PixelPoint& px = p.pixels[0];
    const bool visible = p.markers[0][1] > 1.0 && px.x >= kMargin && px.x <= lens_.frameWidth - 1.0 - kMargin &&
                         px.y >= kMargin && px.y <= lens_.frameHeight - 1.0 - kMargin;
    if (inView) *inView = visible;
    return px;
}

Truth SceneProjector::TruthOf(const HeadPose& pose) const
{
    const Vec3 p0Clip{mounting_.p0[1], mounting_.p0[0], mounting_.p0[2]};
    const Vec3 neutralHead = Add(p0Clip, Mul(mounting_.rotation, clip_.pivot));
    return {pose.yaw, pose.pitch, pose.roll, neutralHead[1] + pose.x, neutralHead[2] + pose.y, neutralHead[0] + pose.z};
}

HeadPose Trajectory::At(double t) const
{
    // Still at the neutral pose for 5 s, then moving; held still at an
    // off-centre pose from 28 to 32 s; back to neutral and still from 55 s.
    const double envelope = Ramp(t, 5.0, 8.0) * (1.0 - Ramp(t, 52.0, 55.0));
    const double tau = t < 28.0 ? t : (t < 32.0 ? 28.0 : t - 4.0);
    auto wave = [tau](double period, double phase) {
        return std::sin(2.0 * std::numbers::pi * tau / period + phase);
    };
    const double k = envelope * reach_;
    HeadPose p;
    p.yaw = k * 60.0 * wave(11.3, 0.0);
    p.pitch = k * 40.0 * wave(7.9, 1.0);
    p.roll = k * 30.0 * wave(13.7, 2.0);
    p.x = k * 100.0 * wave(9.1, 0.5);
    p.y = k * 100.0 * wave(6.7, 1.5);
    p.z = k * 150.0 * wave(15.3, 2.5);
    return p;
}

HeadPose SamplePose(std::mt19937_64& random, double reach)
{
    // Own uniform mapping so the sample is the same with every standard library.
    auto uniform = [&random](double half) {
        const double u = double(random() >> 11) * (1.0 / 9007199254740992.0);
        return (2.0 * u - 1.0) * half;
    };
    HeadPose p;
    p.yaw = uniform(60.0 * reach);
    p.pitch = uniform(40.0 * reach);
    p.roll = uniform(30.0 * reach);
    p.x = uniform(100.0 * reach);
    p.y = uniform(100.0 * reach);
    p.z = uniform(150.0 * reach);
    return p;
}

} // namespace simcam::scene
