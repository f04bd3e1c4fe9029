#pragma once
// One-minute runs of a head moving as a user's does, through the three-point
// road as the engine runs it (blobs filtered, identified and labelled, areas
// checked, undistorted, solved; a frame that cannot be used re-acquires),
// with each solved pose compared with the ground truth. Shared by the
// labelling tests and the accuracy benchmark.
//
// A run's head is scripted from its seed: smooth moves between random poses
// over the range users move in, now quick, now slow, with pauses between,
// seen with pixel noise. A frame counts when its three markers are in view
// and apart; it is right when it was solved within kAngleRight degrees and
// kPositionRight mm of the truth.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/blob_identification.h"
#include "engine/three_point_pose.h"
#include "simcam/scene/scene.h"
#include "testing/test_blob.h"

namespace label_runs {

using testing_support::Blob;

inline constexpr double kAngleRight = 5.0;     // degrees: noise stays well inside, another pose far outside
inline constexpr double kPositionRight = 20.0; // mm
inline constexpr double kMinSeparation = 12.0; // pixels: two marker discs and a gap
inline constexpr int kRevision = 8;

// The head of one run: from the neutral pose, moves of 0.4-2 s (eased in
// and out) to random poses, each followed by a pause of up to a second.
class Script {
public:
    explicit Script(std::uint64_t seed, double seconds = 60.0)
    {
        std::mt19937_64 random(seed);
        auto uniform = [&random](double lo, double hi) {
            return lo + (hi - lo) * (double(random() >> 11) * (1.0 / 9007199254740992.0));
        };
        keys_.push_back({0.0, {}});
        double t = 1.0; // still at the start: the capture
        keys_.push_back({t, {}});
        while (t < seconds) {
            t += uniform(0.4, 2.0);
            keys_.push_back({t, simcam::scene::SamplePose(random)});
            t += uniform(0.0, 1.0);
            keys_.push_back({t, keys_.back().pose});
        }
    }

    simcam::scene::HeadPose At(double t) const
    {
        const auto after = std::upper_bound(keys_.begin(), keys_.end(), t,
                                            [](double v, const Key& k) { return v < k.time; });
        if (after == keys_.begin()) return keys_.front().pose;
        if (after == keys_.end()) return keys_.back().pose;
        const Key& a = *(after - 1);
        const Key& b = *after;
        const double u = (t - a.time) / (b.time - a.time);
        const double k = u * u * (3.0 - 2.0 * u);
        auto mix = [k](double x, double y) { return x + k * (y - x); };
        return {mix(a.pose.yaw, b.pose.yaw), mix(a.pose.pitch, b.pose.pitch), mix(a.pose.roll, b.pose.roll),
                mix(a.pose.x, b.pose.x),     mix(a.pose.y, b.pose.y),         mix(a.pose.z, b.pose.z)};
    }

private:
    struct Key {
        double time;
        simcam::scene::HeadPose pose;
    };
    std::vector<Key> keys_;
};

struct RunResult {
    int frames = 0;       // markers in view and apart
    int right = 0;        // solved near the truth
    int unsolved = 0;     // not solved (nothing published)
    int longestWrong = 0; // consecutive counted frames not right
    double Rate() const { return frames > 0 ? double(right) / frames : 1.0; }
};

// The engine's three-point road over a run.
class Road {
public:
    Road(int location, std::uint64_t seed, double noise)
        : scene_(kRevision, location, 0), location_(location)
    {
        solver_.SetCameraIntrinsics(CameraModelForRevision(kRevision));
        solver_.SetModel(CHeadsetModel::ForLocation(location));
        solver_.SetCapture();
        scene_.SetNoise(noise, seed);
    }

    CThreePointPose& Solver() { return solver_; }
    // The last solved frame and its truth.
    const PoseSolution& Last() const { return last_; }
    const simcam::scene::Truth& LastTruth() const { return lastTruth_; }

    // One frame; `result` counts it when its markers are in view and apart.
    void Frame(const simcam::scene::HeadPose& pose, RunResult& result)
    {
        simcam::scene::Projection p;
        scene_.Project(pose, p);
        if (!p.inView || p.separation < kMinSeparation) {
            // Merged or missing blobs: the area check fails, the engine re-acquires.
            solver_.MissedFrame();
            lost_ = true;
            return;
        }
        // Blobs come in a frame order that changes; areas fall with depth.
        for (int i = 0; i < 3; ++i) {
            Blob& b = blobs_[std::size_t((i + order_) % 3)];
            const double depth = p.markers[std::size_t(i)][1];
            b.area = float(8.0e7 / (depth * depth));
            b.width = b.area / 10.0f;
            b.height = 10;
            b.x = p.pixels[std::size_t(i)].x;
            b.y = p.pixels[std::size_t(i)].y;
        }
        order_ = (order_ + 1) % 3;
        for (std::size_t i = 0; i < 3; ++i) table_[i] = &blobs_[i];
        const std::span<Blob*> table(table_);
        FilterObjects(table, kRevision, location_);
        std::array<ImagePoint, 3> points{};
        const double halfWidth = scene_.GetLens().frameWidth / 2, halfHeight = scene_.GetLens().frameHeight / 2;
        IdentifyPoints(std::span<Blob* const>(table), 0, halfWidth, halfHeight, solver_, points);
        ++result.frames;
        if (!CheckAreas(std::span<Blob* const>(table))) {
            solver_.MissedFrame();
            lost_ = true;
            Wrong(result, true);
            return;
        }
        if (lost_) solver_.SetReinitialise();
        lost_ = false;
        solver_.Undistort(points);
        PoseSolution s;
        if (!solver_.SolvePose(points, 1.0, s)) {
            lost_ = true;
            Wrong(result, true);
            return;
        }
        const simcam::scene::Truth t = scene_.TruthOf(pose);
        last_ = s;
        lastTruth_ = t;
        const double angle = std::max({std::fabs(s.yaw - t.yaw), std::fabs(s.pitch - t.pitch), std::fabs(s.roll - t.roll)});
        const double position = std::max({std::fabs(s.x - t.x), std::fabs(s.y - t.y), std::fabs(s.z - t.z)});
        if (angle <= kAngleRight && position <= kPositionRight) {
            ++result.right;
            wrongRun_ = 0;
        } else {
            Wrong(result, false);
        }
    }

private:
    void Wrong(RunResult& result, bool unsolved)
    {
        result.unsolved += unsolved ? 1 : 0;
        result.longestWrong = std::max(result.longestWrong, ++wrongRun_);
    }

    CThreePointPose solver_;
    simcam::scene::SceneProjector scene_;
    int location_;
    std::array<Blob, 3> blobs_{};
    std::array<Blob*, 3> table_{};
    int order_ = 0;
    bool lost_ = false;
    int wrongRun_ = 0;
    PoseSolution last_{};
    simcam::scene::Truth lastTruth_{};
};

// How a run's head moves: the script of its seed (Script), or the
// simulated camera's scripted minute (simcam::scene::Trajectory) entered at
// a point the seed chooses, after a capture at the neutral pose.
enum class Motion { Random, Scripted };

// One run of `seconds` at `fps` frames a second with `noise` pixels of noise.
inline RunResult Run(int location, std::uint64_t seed, double seconds = 60.0, double fps = 100.0,
                     double noise = 0.2, Motion motion = Motion::Random)
{
    const Script script(seed, seconds);
    const simcam::scene::Trajectory trajectory;
    const double offset = double(seed % 600) * 0.1;
    Road road(location, seed, noise);
    RunResult result;
    road.Frame({}, result); // the capture
    result = {};
    const int frames = int(seconds * fps);
    for (int f = 0; f < frames; ++f) {
        const double t = f / fps;
        road.Frame(motion == Motion::Random
                       ? script.At(t)
                       : trajectory.At(std::fmod(offset + t, simcam::scene::Trajectory::kDuration)),
                   result);
    }
    return result;
}

// Runs of every location summed: runs, frames, right frames, the longest
// wrong stretch of any run and how many runs had more than `limit` in a row.
struct LocationSummary {
    int runs = 0;
    long frames = 0;
    long right = 0;
    long unsolved = 0;
    int longestWrong = 0;
    int runsOverLimit = 0;
    double Rate() const { return frames > 0 ? double(right) / double(frames) : 1.0; }
};

inline LocationSummary RunMany(int location, const std::vector<std::uint64_t>& seeds, int limit,
                               Motion motion = Motion::Random, double seconds = 60.0, double fps = 100.0)
{
    LocationSummary s;
    for (const std::uint64_t seed : seeds) {
        const RunResult r = Run(location, seed, seconds, fps, 0.2, motion);
        ++s.runs;
        s.frames += r.frames;
        s.right += r.right;
        s.unsolved += r.unsolved;
        s.longestWrong = std::max(s.longestWrong, r.longestWrong);
        s.runsOverLimit += r.longestWrong > limit ? 1 : 0;
    }
    return s;
}

} // namespace label_runs
