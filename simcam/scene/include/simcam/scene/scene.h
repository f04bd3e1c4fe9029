#pragma once
// The simulated camera's scene: a head carrying the three-point clip (or one
// marker), seen through the lens of a camera hardware revision, projected to
// sub-pixel image positions. Shared by the simulated camera, the tests and
// the benchmarks, which read its ground truth.
//
// Camera space, mm: across (image right as the camera sees it), depth (away
// from the lens, > 0) and vertical (up). Clip space lists its components as
// (depth, across, vertical).
//
// A head pose is relative to the clip location's neutral mounting: the head
// turns about its pivot by R = Rx(-roll) Ry(pitch) Rz(yaw) (axis 0 depth,
// 1 across, 2 vertical, applied in camera space) and the pivot moves by
// (x across, y vertical, z depth). That is the pose the tracker reports after
// a capture at the neutral pose.
#include <array>
#include <cstdint>
#include <random>

namespace simcam::scene {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>; // rows

struct HeadPose {
    double yaw = 0, pitch = 0, roll = 0; // degrees
    double x = 0, y = 0, z = 0;          // mm
};

// What the lens and sensor of a hardware revision do.
struct Lens {
    double modelWidth, modelHeight;   // pixel grid the sensor size refers to
    double sensorWidth, sensorHeight; // mm
    double focal;                     // mm
    bool distorted;
    double fx, fy, k1, k2;
    double frameWidth, frameHeight; // pixels the camera delivers
};
Lens LensForRevision(int hardwareRevision);

// The clip of a mounting location on its head, in clip space.
struct Clip {
    std::array<Vec3, 3> markers; // P0, P1, P2
    Vec3 pivot;                  // head point, from P0
};
Clip ClipForLocation(int location);

// Where the clip sits at the neutral pose: its rotation and P0 (camera space).
struct Mounting {
    Mat3 rotation; // clip space -> clip-ordered camera space
    Vec3 p0;       // camera space
};
Mounting NeutralMounting(int location);

struct PixelPoint {
    double x = 0, y = 0; // pixel centres at integer coordinates
};

struct Projection {
    std::array<PixelPoint, 3> pixels{};     // P0, P1, P2 in the camera's frame
    std::array<PixelPoint, 3> oriented{};   // as the tracker orients the pixels: from the centre, rotation removed
    std::array<Vec3, 3> markers{};          // camera space
    bool inView = false;                    // all in front, inside the frame with a margin
    double separation = 0;                  // smallest pixel distance between two markers
};

struct Truth {
    double yaw, pitch, roll; // degrees, as the tracker reports them
    double x, y, z;          // head point: across, vertical, depth (mm)
};

class SceneProjector {
public:
    SceneProjector(int hardwareRevision, int location, int cameraRotation = 0);

    // Gaussian pixel noise of the given standard deviation, deterministic for the seed.
    void SetNoise(double sigmaPixels, std::uint64_t seed);

    // Projects the three clip markers for a pose.
    void Project(const HeadPose& pose, Projection& out);
    // Projects one marker at a camera-space position to the frame's pixels.
    PixelPoint ProjectPoint(const Vec3& cameraPoint);
    // The same, as the tracker orients it (from the image centre, camera rotation removed).
    PixelPoint ProjectOriented(const Vec3& cameraPoint);

    // The single-marker scene: one marker where the clip's P0 sits, moving
    // with the head. Returns its pixel; `inView` tells whether it is in the frame.
    PixelPoint ProjectSingle(const HeadPose& pose, bool* inView = nullptr);

    Truth TruthOf(const HeadPose& pose) const;
    const Lens& GetLens() const { return lens_; }
    const Clip& GetClip() const { return clip_; }
    int Location() const { return location_; }

    static constexpr double kMargin = 3.0; // pixels kept clear of the frame border

private:
    void Distort(double& x, double& y) const;
    PixelPoint ToPixel(double ox, double oy) const;

    Lens lens_;
    Clip clip_;
    Mounting mounting_;
    int location_;
    int rotation_;
    double noise_ = 0.0;
    std::mt19937_64 random_{1};
    std::normal_distribution<double> gauss_{0.0, 1.0};
};

// Scripted head movement over time: smooth, continuous, sweeping the envelope
// yaw +-60, pitch +-40, roll +-30 degrees, x and y +-100 mm, z +-150 mm
// (scaled by `reach`), with still phases.
class Trajectory {
public:
    explicit Trajectory(double reach = 1.0) : reach_(reach) {}
    HeadPose At(double seconds) const;
    static constexpr double kDuration = 60.0;

private:
    double reach_;
};

// A deterministic sample of poses spread over the envelope (uniform in each axis).
HeadPose SamplePose(std::mt19937_64& random, double reach = 1.0);

Mat3 RotationOf(double yawDeg, double pitchDeg, double rollDeg);

} // namespace simcam::scene
