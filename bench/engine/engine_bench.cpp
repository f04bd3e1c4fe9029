// Per-frame cost of the tracking core (blob filter, identification, area
// check, undistortion, three-point solve, axis smoothing) with a count of heap
// allocations per frame, the accuracy and jitter report of the solver over
// the scripted 60 s trajectory, and the labelling table: one-minute runs with
// random seeds per clip location and kind of motion, how many frames were
// right and the longest run of wrong ones.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "testing/heap_counter.h"
#include "engine/blob_identification.h"
#include "engine/smoothing_filter.h"
#include "engine/three_point_pose.h"
#include "compare.h"
#include "label_runs.h"
#include "reference_kalman.h"
#include "simcam/scene/scene.h"
#include "testing/test_blob.h"

namespace {

using namespace simcam::scene;
using testing_support::Blob;

constexpr int kRevision = 8;
constexpr double kFps = 100.0;
constexpr double kAxisWeights[6] = {90, 90, 90, 400, 300, 600}; // yaw, pitch, roll, x, y, z
constexpr double kSmoothing = 25.0;                            // the profile's default

// Prepared frames: the scene's markers as blobs (plus two small distractors),
// with the time stamps of the frames they were taken in.
struct Frames {
    std::vector<std::array<Blob, 5>> blobs;
    std::vector<double> times;
    explicit Frames(int location)
    {
        SceneProjector scene(kRevision, location);
        scene.SetNoise(0.2, 11);
        Trajectory t;
        for (int f = 0; f < int(Trajectory::kDuration * kFps); ++f) {
            Projection p;
            scene.Project(t.At(f / kFps), p);
            if (!p.inView || p.separation < 12.0) continue;
            std::array<Blob, 5> b{};
            for (int i = 0; i < 3; ++i) b[i] = {float(110 + 10 * i), 11, 11, p.pixels[i].x, p.pixels[i].y};
            b[3] = {12, 3, 4, 20, 20};
            b[4] = {40, 2, 9, 600, 400}; // too thin
            std::swap(b[0], b[4]);
            blobs.push_back(b);
            times.push_back(f / kFps);
        }
    }
};

// Bank: CSmoothingFilterBank, or ReferenceKalmanBank (the filter on OpenCV's
// general Kalman filter, today's code path before the fixed-size one).
template <class Bank = CSmoothingFilterBank>
struct Pipeline {
    CThreePointPose solver;
    std::array<Bank, 6> axes;
    std::array<Blob*, 5> table{};
    explicit Pipeline(int location)
    {
        solver.SetCameraIntrinsics(CameraModelForRevision(kRevision));
        solver.SetModel(CHeadsetModel::ForLocation(location));
        for (int i = 0; i < 6; ++i) {
            axes[i].SetParameters(float(kSmoothing * 0.002 * kAxisWeights[i]), 3.0f, 0.5f);
            axes[i].Reset(0, 0);
        }
    }
    // One frame of the three-point road, up to and including the axis smoothing.
    bool Run(std::array<Blob, 5>& frame, double time, bool smooth)
    {
        solver.SetFrameTime(time);
        for (int i = 0; i < 5; ++i) table[i] = &frame[i];
        FilterObjects<Blob>(table, kRevision, solver.GetModel().Location);
        if (!CheckAreas<Blob>(std::span<Blob* const>(table))) return false;
        std::array<ImagePoint, 3> pts{};
        IdentifyPoints<Blob>(std::span<Blob* const>(table), 0, 320, 240, solver, pts);
        solver.Undistort(pts);
        PoseSolution s;
        if (!solver.SolvePose(pts, 1.0, s)) return false;
        if (smooth) {
            const double v[6] = {s.yaw, s.pitch, s.roll, s.x, s.y, s.z};
            for (int i = 0; i < 6; ++i) axes[i].Filter(v[i], 0.0);
        }
        return true;
    }
};

template <class Bank = CSmoothingFilterBank>
void FrameCost(benchmark::State& state, bool smooth)
{
    const int location = int(state.range(0));
    Frames frames(location);
    Pipeline<Bank> pipeline(location);
    std::vector<std::array<Blob, 5>> work = frames.blobs;
    // Warm up: first solve captures, OpenCV sizes its work matrices. The
    // measured frames carry on from there, each pass over the minute a
    // minute later, so that time stamps only move on.
    const std::size_t warm = std::min<std::size_t>(50, work.size());
    for (std::size_t i = 0; i < warm; ++i) pipeline.Run(work[i], frames.times[i], smooth);
    std::size_t at = warm % work.size();
    double lap = 0.0;
    std::uint64_t frameCount = 0, solved = 0;
    const std::uint64_t before = testing_support::AllocationCount();
    for (auto _ : state) {
        std::array<Blob, 5> frame = frames.blobs[at];
        solved += pipeline.Run(frame, lap + frames.times[at], smooth);
        benchmark::DoNotOptimize(frame);
        if (++at == frames.blobs.size()) at = 0, lap += Trajectory::kDuration;
        ++frameCount;
    }
    const std::uint64_t allocations = testing_support::AllocationCount() - before;
    state.counters["allocs_per_frame"] = double(allocations) / double(frameCount);
    state.counters["solved"] = double(solved) / double(frameCount);
}

void IdentifyAndSolve(benchmark::State& state)
{
    FrameCost(state, false);
}
template <class Bank>
void IdentifySolveAndSmooth(benchmark::State& state, Bank*)
{
    FrameCost<Bank>(state, true);
}

BENCHMARK(IdentifyAndSolve)->DenseRange(0, 4)->Repetitions(5)->ReportAggregatesOnly(true);
// The whole frame with the six axis filters: today's filter and the fixed-size one.
BENCHMARK_CAPTURE(IdentifySolveAndSmooth, old, static_cast<ReferenceKalmanBank*>(nullptr))
    ->DenseRange(0, 4)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(IdentifySolveAndSmooth, new, static_cast<CSmoothingFilterBank*>(nullptr))
    ->DenseRange(0, 4)->Repetitions(5)->ReportAggregatesOnly(true);

// One filtered value (a yaw-like input), the cost the engine pays six times a frame.
template <class Bank>
void KalmanBank(benchmark::State& state, Bank*)
{
    Bank bank;
    bank.SetParameters(4.5f, 3.0f, 0.5f);
    bank.Reset(0, 0);
    double x = 0;
    const std::uint64_t before = testing_support::AllocationCount();
    std::uint64_t n = 0;
    for (auto _ : state) {
        x += 0.01;
        bank.Filter(std::sin(x) * 5.0, 0.0);
        benchmark::DoNotOptimize(bank.OutputX());
        ++n;
    }
    state.counters["allocs_per_call"] = double(testing_support::AllocationCount() - before) / double(n);
}
BENCHMARK_CAPTURE(KalmanBank, old, static_cast<ReferenceKalmanBank*>(nullptr))
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(KalmanBank, new, static_cast<CSmoothingFilterBank*>(nullptr))
    ->Repetitions(5)->ReportAggregatesOnly(true);

// Accuracy over the scripted trajectory (0.2 px noise, no smoothing) and the
// jitter at rest (still phases), raw and through the default axis smoothing.
void AccuracyReport(benchmark::State& state)
{
    for (auto _ : state) {
        std::printf("\nAccuracy and jitter, revision %d, 60 s scripted trajectory at %.0f fps, 0.2 px noise\n",
                    kRevision, kFps);
        std::printf("rms, max: error while moving; rest: std-dev at rest; rest~: the same through the default\n"
                    "axis smoothing (Kalman, smoothing 25)\n");
        std::printf("%-4s %-6s %10s %10s %10s %10s %10s %10s\n", "loc", "", "yaw deg", "pitch deg", "roll deg",
                    "x mm", "y mm", "z mm");
        for (int location = 0; location <= 4; ++location) {
            CThreePointPose solver;
            solver.SetCameraIntrinsics(CameraModelForRevision(kRevision));
            solver.SetModel(CHeadsetModel::ForLocation(location));
            SceneProjector scene(kRevision, location);
            scene.SetNoise(0.2, 1234);
            Trajectory t;
            std::array<CSmoothingFilterBank, 6> axes;
            for (int i = 0; i < 6; ++i) axes[i].SetParameters(float(kSmoothing * 0.002 * kAxisWeights[i]), 3.0f, 0.5f);
            double sum2[6] = {}, worst[6] = {};
            int moving = 0;
            // Still phases: [1, 5), [29, 32), [56, 60) s (the smoothing has
            // settled by then). Each sits at its own pose, so the spread is
            // pooled over the phases.
            struct Stat {
                double n = 0, sum = 0, sum2 = 0;
                void Add(double v) { n += 1, sum += v, sum2 += v * v; }
                double Squares() const { return n > 0 ? sum2 - sum * sum / n : 0.0; }
            };
            Stat raw[3][6], smoothed[3][6];
            int lost = 0;
            int labelsRight = 0, sortedRight = 0, eligible = 0;
            bool reset = true;
            for (int f = 0; f < int(Trajectory::kDuration * kFps); ++f) {
                const double time = f / kFps;
                const HeadPose pose = t.At(time);
                Projection p;
                scene.Project(pose, p);
                if (!p.inView || p.separation < 12.0) {
                    solver.SetReinitialise();
                    solver.MissedFrame();
                    ++lost;
                    continue;
                }
                solver.SetFrameTime(time);
                // The markers in another order, as blobs come; labelled by the
                // solver's label tracker, and by the sorting mode for comparison.
                const std::array<ImagePoint, 3> shuffled = {ImagePoint{p.oriented[2].x, p.oriented[2].y},
                                                            ImagePoint{p.oriented[0].x, p.oriented[0].y},
                                                            ImagePoint{p.oriented[1].x, p.oriented[1].y}};
                constexpr std::array<int, 3> kRight{1, 2, 0};
                std::array<int, 3> order{};
                solver.OrderMarkers(order, shuffled, 240.0);
                sortedRight += (order == kRight);
                solver.LabelMarkers(order, shuffled, 240.0);
                labelsRight += (order == kRight);
                ++eligible;
                std::array<ImagePoint, 3> pts{shuffled[order[0]], shuffled[order[1]], shuffled[order[2]]};
                solver.Undistort(pts);
                PoseSolution s;
                if (!solver.SolvePose(pts, 1.0, s)) {
                    ++lost;
                    continue;
                }
                const Truth tr = scene.TruthOf(pose);
                const Truth origin = scene.TruthOf({});
                // Positions relative to the neutral head point, as after a re-centre.
                const double e[6] = {s.yaw - tr.yaw, s.pitch - tr.pitch, s.roll - tr.roll,
                                     s.x - tr.x, s.y - tr.y, s.z - tr.z};
                const double v[6] = {s.yaw, s.pitch, s.roll, s.x - origin.x, s.y - origin.y, s.z - origin.z};
                for (int i = 0; i < 6; ++i) {
                    if (reset) axes[i].Reset(v[i], 0.0);
                    axes[i].Filter(v[i], 0.0);
                }
                reset = false;
                const int phase = (time >= 1.0 && time < 5.0) ? 0 : (time >= 29.0 && time < 32.0) ? 1 : time >= 56.0 ? 2 : -1;
                for (int i = 0; i < 6; ++i) {
                    sum2[i] += e[i] * e[i];
                    worst[i] = std::max(worst[i], std::fabs(e[i]));
                    if (phase >= 0) {
                        raw[phase][i].Add(v[i]);
                        smoothed[phase][i].Add(axes[i].OutputX());
                    }
                }
                ++moving;
            }
            auto row = [&](const char* what, auto value) {
                std::printf("%-4d %-6s", location, what);
                for (int i = 0; i < 6; ++i) std::printf(" %10.4f", value(i));
                std::printf("\n");
            };
            row("rms", [&](int i) { return std::sqrt(sum2[i] / std::max(moving, 1)); });
            row("max", [&](int i) { return worst[i]; });
            auto pooled = [](const Stat (&st)[3][6], int i) {
                double squares = 0, n = 0;
                for (int k = 0; k < 3; ++k) squares += st[k][i].Squares(), n += st[k][i].n;
                return n > 3 ? std::sqrt(squares / (n - 3)) : 0.0;
            };
            row("rest", [&](int i) { return pooled(raw, i); });
            row("rest~", [&](int i) { return pooled(smoothed, i); });
            std::printf("%-4d %-6s frames used %d, not usable %d; markers labelled right %.2f %% (by the sorting mode "
                        "alone %.1f %%)\n",
                        location, "", moving, lost, 100.0 * labelsRight / std::max(eligible, 1),
                        100.0 * sortedRight / std::max(eligible, 1));
            state.counters["loc" + std::to_string(location) + "_yaw_rms"] = std::sqrt(sum2[0] / std::max(moving, 1));
        }
    }
}
BENCHMARK(AccuracyReport)->Iterations(1);

// Per location, 20 one-minute runs at 100 frames a second with 0.2 px noise
// and seeds drawn at random (the first is printed; ORVANE_LABELLING_SEED
// sets it, to run the same seeds again): the simulated camera's scripted head
// entered at a point of its minute, heads moving between random poses over
// the whole range (leaving the view often, so that the clip is found again
// many times a minute; their quickest moves are faster than heads move), and
// the same poses reached at a head's pace. Goal: 99.9 % right, no run with
// more than 10 wrong frames in a row.
void LabellingReport(benchmark::State& state)
{
    constexpr int kRuns = 20;
    constexpr int kLimit = 10;
    for (auto _ : state) {
        const char* chosen = std::getenv("ORVANE_LABELLING_SEED");
        const std::uint64_t first = chosen != nullptr ? std::strtoull(chosen, nullptr, 10) : std::random_device{}();
        std::printf("\nLabelling, %d one-minute runs per location (seeds from %llu), revision %d, 100 fps, 0.2 px noise\n",
                    kRuns, static_cast<unsigned long long>(first), label_runs::kRevision);
        std::printf("%-9s %-4s %5s %9s %9s %9s %9s %12s %14s\n", "motion", "loc", "runs", "frames", "right", "right %",
                    "unsolved", "longest bad", "runs over 10");
        struct Kind {
            label_runs::Motion motion;
            const char* name;
        };
        for (const Kind kind : {Kind{label_runs::Motion::Scripted, "scripted"}, Kind{label_runs::Motion::Random, "random"},
                                Kind{label_runs::Motion::Paced, "paced"}}) {
            std::mt19937_64 random(first);
            for (int location = 0; location <= 4; ++location) {
                std::vector<std::uint64_t> seeds;
                for (int i = 0; i < kRuns; ++i) seeds.push_back(random());
                const label_runs::LocationSummary s = label_runs::RunMany(location, seeds, kLimit, kind.motion);
                std::printf("%-9s %-4d %5d %9ld %9ld %9.3f %9ld %12d %14d\n", kind.name, location, s.runs, s.frames,
                            s.right, 100.0 * s.Rate(), s.unsolved, s.longestWrong, s.runsOverLimit);
                state.counters[std::string(1, kind.name[0]) + "loc" + std::to_string(location) + "_right"] = s.Rate();
            }
        }
    }
}
BENCHMARK(LabellingReport)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    return bench::RunComparing(argc, argv);
}
