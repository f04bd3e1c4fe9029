#pragma once
// Runs the solver over scene poses and counts the frames solved within the
// accuracy limits. Shared by the accuracy tests.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "engine/three_point_pose.h"
#include "simcam/scene/scene.h"

namespace accuracy {

inline constexpr double kMinSeparation = 12.0; // pixels: two marker discs and a gap
inline constexpr double kAngleLimit = 0.1;      // degrees
inline constexpr double kPositionLimit = 1.0;   // mm

struct Tally {
    int eligible = 0;
    int good = 0;
    double worstAngle = 0;
    double worstPosition = 0;
    double Rate() const { return eligible ? double(good) / eligible : 1.0; }
};

inline void Prepare(CThreePointPose& solver, int revision, int location, CThreePointPose::RootChoice choice)
{
    solver.SetCameraIntrinsics(CameraModelForRevision(revision));
    solver.SetModel(CHeadsetModel::ForLocation(location));
    solver.SetRootChoice(choice);
    solver.SetCapture();
}

// Solves one projected frame; false when the frame is not eligible.
inline bool SolveProjected(CThreePointPose& solver, simcam::scene::SceneProjector& scene,
                           const simcam::scene::HeadPose& pose, Tally& tally)
{
    simcam::scene::Projection p;
    scene.Project(pose, p);
    if (!p.inView || p.separation < kMinSeparation) {
        solver.SetReinitialise(); // the tracker re-acquires after a frame it could not use
        return false;
    }
    std::array<ImagePoint, 3> pts;
    for (int i = 0; i < 3; ++i) pts[i] = {p.oriented[i].x, p.oriented[i].y};
    solver.Undistort(pts);
    PoseSolution s;
    const bool ok = solver.SolvePose(pts, 1.0, s);
    const simcam::scene::Truth t = scene.TruthOf(pose);
    ++tally.eligible;
    const double angle = ok ? std::max({std::fabs(s.yaw - t.yaw), std::fabs(s.pitch - t.pitch), std::fabs(s.roll - t.roll)}) : INFINITY;
    const double position = ok ? std::max({std::fabs(s.x - t.x), std::fabs(s.y - t.y), std::fabs(s.z - t.z)}) : INFINITY;
    if (angle <= kAngleLimit && position <= kPositionLimit) ++tally.good;
    tally.worstAngle = std::max(tally.worstAngle, angle);
    tally.worstPosition = std::max(tally.worstPosition, position);
    return true;
}

// A scripted, continuous trajectory at `fps` frames per second.
inline Tally RunTrajectory(int revision, int location, CThreePointPose::RootChoice choice, double fps,
                           double reach = 1.0)
{
    CThreePointPose solver;
    Prepare(solver, revision, location, choice);
    simcam::scene::SceneProjector scene(revision, location);
    Tally neutral;
    SolveProjected(solver, scene, {}, neutral); // capture at the neutral pose
    Tally tally;
    simcam::scene::Trajectory trajectory(reach);
    const int frames = int(simcam::scene::Trajectory::kDuration * fps);
    for (int f = 1; f < frames; ++f) SolveProjected(solver, scene, trajectory.At(f / fps), tally);
    return tally;
}

// Random poses over the envelope with the tracking lost between any two
// (every frame starts over): how often the depth solve finds the true pose
// from the model's start depths alone.
inline Tally RunRestarts(int revision, int location, CThreePointPose::RootChoice choice, int poses,
                         std::uint64_t seed, double reach = 1.0)
{
    CThreePointPose solver;
    Prepare(solver, revision, location, choice);
    simcam::scene::SceneProjector scene(revision, location);
    Tally neutral;
    SolveProjected(solver, scene, {}, neutral);
    std::mt19937_64 random(seed);
    Tally tally;
    for (int n = 0; n < poses; ++n) {
        solver.SetReinitialise();
        SolveProjected(solver, scene, simcam::scene::SamplePose(random, reach), tally);
    }
    return tally;
}

// Independent poses, each reached by a short smooth move from the previous
// one (`steps` frames), as a head moves between them.
inline Tally RunSample(int revision, int location, CThreePointPose::RootChoice choice, int poses, int steps,
                       std::uint64_t seed, int dropEvery = 0)
{
    CThreePointPose solver;
    Prepare(solver, revision, location, choice);
    simcam::scene::SceneProjector scene(revision, location);
    Tally neutral;
    SolveProjected(solver, scene, {}, neutral);
    std::mt19937_64 random(seed);
    simcam::scene::HeadPose from{};
    Tally tally;
    for (int n = 0; n < poses; ++n) {
        const simcam::scene::HeadPose to = simcam::scene::SamplePose(random);
        for (int s = 1; s <= steps; ++s) {
            const double k = double(s) / steps;
            simcam::scene::HeadPose p;
            p.yaw = from.yaw + k * (to.yaw - from.yaw);
            p.pitch = from.pitch + k * (to.pitch - from.pitch);
            p.roll = from.roll + k * (to.roll - from.roll);
            p.x = from.x + k * (to.x - from.x);
            p.y = from.y + k * (to.y - from.y);
            p.z = from.z + k * (to.z - from.z);
            if (dropEvery > 0 && s % dropEvery == 0)
                solver.SetReinitialise(); // a frame lost on the way: re-acquire
            else
                SolveProjected(solver, scene, p, tally);
        }
        from = to;
    }
    return tally;
}

} // namespace accuracy
