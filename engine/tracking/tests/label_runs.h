#pragma once
// One-minute runs of a moving head through the three-point road as the
// engine runs it (blobs filtered, identified and labelled, areas checked,
// undistorted, solved; a frame that cannot be used re-acquires), each frame
// time-stamped, with each solved pose compared with the ground truth. Shared
// by the labelling tests and the accuracy benchmark.
//
// A run's head starts still at the captured pose and then moves as its seed
// scripts it (Motion): through the simulated camera's scripted minute, or
// between random poses over the range users move in, seen with pixel noise.
// A frame counts when its three markers are in view and apart; it is right
// when it was solved within kAngleRight degrees and kPositionRight mm of the
// truth (a frame that gives no pose is not right).
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
// and out) to random poses over the whole range, each followed by a pause of
// up to a second. The quickest of these moves turn the head at up to about
// 600 degrees a second and carry it 400 mm in 0.4 s (1.5 m/s, 1.5 g): more
// than the fastest head turns and far more than a seated user leans. Paced,
// the same poses are reached no faster than kPacedTurn and kPacedMove at the
// peak of each move.
inline constexpr double kPacedTurn = 300.0; // degrees a second
inline constexpr double kPacedMove = 500.0; // mm a second

class Script {
public:
    explicit Script(std::uint64_t seed, double seconds = 60.0, bool paced = false)
    {
        std::mt19937_64 random(seed);
        auto uniform = [&random](double lo, double hi) {
            return lo + (hi - lo) * (double(random() >> 11) * (1.0 / 9007199254740992.0));
        };
        keys_.push_back({0.0, {}});
        double t = 1.0; // still at the start: the capture
        keys_.push_back({t, {}});
        while (t < seconds) {
            double move = uniform(0.4, 2.0);
            const simcam::scene::HeadPose from = keys_.back().pose;
            const simcam::scene::HeadPose to = simcam::scene::SamplePose(random);
            if (paced) {
                // An eased move peaks at 1.5 times its mean speed.
                const double turn = std::hypot(to.yaw - from.yaw, to.pitch - from.pitch, to.roll - from.roll);
                const double lean = std::hypot(to.x - from.x, to.y - from.y, to.z - from.z);
                move = std::max({move, 1.5 * turn / kPacedTurn, 1.5 * lean / kPacedMove});
            }
            t += move;
            keys_.push_back({t, to});
            t += uniform(0.0, 1.0);
            keys_.push_back({t, to});
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

    // One frame taken at `time` (s); `result` counts it when its markers are
    // in view and apart.
    void Frame(const simcam::scene::HeadPose& pose, double time, RunResult& result)
    {
        solver_.SetFrameTime(time);
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

// How a run's head moves: the script of its seed (Script, as it is or
// paced), or the simulated camera's scripted minute
// (simcam::scene::Trajectory) entered at a point the seed chooses. Each
// starts as a user does: the head still at the captured (neutral) pose,
// then moving; the scripted minute is reached by a move of kLeadIn seconds
// from there to its entry point.
enum class Motion { Random, Paced, Scripted };

inline constexpr double kLeadIn = 1.5;

// The scripted minute entered at `offset` seconds of it, `t` seconds after
// the capture: the move there from the neutral pose first.
inline simcam::scene::HeadPose Entered(double offset, double t)
{
    const simcam::scene::Trajectory trajectory;
    if (t >= kLeadIn) return trajectory.At(std::fmod(offset + t - kLeadIn, simcam::scene::Trajectory::kDuration));
    const simcam::scene::HeadPose to = trajectory.At(offset);
    const double u = t / kLeadIn;
    const double k = u * u * (3.0 - 2.0 * u);
    return {k * to.yaw, k * to.pitch, k * to.roll, k * to.x, k * to.y, k * to.z};
}

// Where the head of a run is `t` seconds after the capture.
inline simcam::scene::HeadPose PoseAt(Motion motion, const Script& script, std::uint64_t seed, double t)
{
    if (motion != Motion::Scripted) return script.At(t);
    return Entered(double(seed % 600) * 0.1, t);
}

// One run of `seconds` at `fps` frames a second with `noise` pixels of noise.
inline RunResult Run(int location, std::uint64_t seed, double seconds = 60.0, double fps = 100.0,
                     double noise = 0.2, Motion motion = Motion::Random)
{
    const Script script(seed, seconds, motion == Motion::Paced);
    Road road(location, seed, noise);
    RunResult result;
    road.Frame({}, -1.0 / fps, result); // the capture
    result = {};
    const int frames = int(seconds * fps);
    for (int f = 0; f < frames; ++f) {
        const double t = f / fps;
        road.Frame(PoseAt(motion, script, seed, t), t, result);
    }
    return result;
}

// A stretch of the scripted minute, from `from` to `to` seconds of it,
// reached from the captured pose as a user would (Entered); with `hold`, its
// pose at `from` held still until `to` - `from` seconds have passed. Counted
// are the frames after the move there, at 100 frames a second with 0.2 px
// of noise drawn from `seed`.
inline RunResult Stretch(int location, std::uint64_t seed, double from, double to, bool hold = false)
{
    constexpr double kFps = 100.0;
    Road road(location, seed, 0.2);
    RunResult result;
    road.Frame({}, -1.0 / kFps, result); // the capture
    const int frames = int((kLeadIn + (to - from)) * kFps);
    for (int f = 0; f < frames; ++f) {
        const double t = f / kFps;
        if (f == int(kLeadIn * kFps)) result = {};
        road.Frame(Entered(from, hold ? std::min(t, kLeadIn) : t), t, result);
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
