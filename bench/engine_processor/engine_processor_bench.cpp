// Per-frame work of the tracking engine: one pass from taking a queued frame
// (three clip markers, or one point) out of the camera system's buffer to the
// published pose record. Timed per pass (manual time; report the median of
// the repetitions); "allocs_per_frame" counts every operator new during the
// timed passes and must stay 0.
#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "testing/heap_counter.h"
#include "camera/camera_system.h"
#include "engine/CameraDataProcessor.h"
#include "simcam/scene/scene.h"
#include "testing/queued_frame.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"

namespace {

class BenchHost : public IEngineHost {
public:
    explicit BenchHost(bool smoothing, std::int32_t motionType)
    {
        CProfile p;
        for (auto& a : p.Axes) {
            a.Enabled = 1;
            a.SetCurveType(kCurveSmooth);
        }
        p.MotionType = motionType;
        p.SixDofSmoothing = smoothing ? 1 : 0;
        p.TrueView = smoothing ? 1 : 0;
        CopyEngineProfile(p, profile_);
        limits_ = FullRangeLimits();
    }
    void CopyProfile(CEngineProfile& out) override
    {
        std::lock_guard lock(mutex_);
        out = profile_;
    }
    std::int32_t CameraRotation() override { return 0; }
    void CopyGameLimits(CEngineLimits& out) override
    {
        std::lock_guard lock(mutex_);
        out = limits_;
    }
    std::int32_t ActiveGameId() override { return -1; }
    bool CaseStatusLightOption() override { return false; }
    void SetCaseLight(bool) override {}
    void PostToSheet(platform::UINT, platform::WPARAM, platform::LPARAM) override {}
    void PostToMainWindow(platform::UINT, platform::WPARAM, platform::LPARAM) override {}

private:
    std::mutex mutex_;
    CEngineProfile profile_;
    CEngineLimits limits_;
};

using testing_support::FrameBlob;

void EnginePass(benchmark::State& state, bool smoothing, bool threePoint)
{
    testing_support::TempRegistry registry;
    testing_support::TempDir dir("engine-bench");
    BenchHost host(smoothing, threePoint ? 1 : 0);
    Orvane::CameraSystem camera;
    camera.GetConfigurationData().SetHardwareRevision(8);
    camera.GetConfigurationData().SetValidState();
    CCameraDataProcessor::Options o;
    o.frameWaitMs = 0;
    o.poseFile = dir.file("vistrel.tdf");
    o.registry = registry.store();
    CCameraDataProcessor engine(host, camera, o);
    engine.ApplyModel(CHeadsetModel::ForLocation(1));
    engine.SetupCamera();

    // The frames of a scripted movement, made up front.
    simcam::scene::SceneProjector scene(8, 1, 0);
    simcam::scene::Trajectory trajectory(0.4);
    std::vector<std::vector<FrameBlob>> frames;
    for (int i = 0; i < 1000; ++i) {
        simcam::scene::Projection p;
        scene.Project(trajectory.At(i * 0.01), p);
        if (threePoint)
            frames.push_back({{p.pixels[0].x, p.pixels[0].y}, {p.pixels[1].x, p.pixels[1].y}, {p.pixels[2].x, p.pixels[2].y}});
        else
            frames.push_back({{p.pixels[0].x, p.pixels[0].y}});
    }
    for (int i = 0; i < 50; ++i) { // warm up: buffers, filters, the solver's start
        const auto& frame = frames[static_cast<std::size_t>(i)];
        testing_support::QueueFrame(camera, frame, &frame[0]);
        engine.RunPass();
    }

    std::size_t next = 0;
    std::uint64_t allocations = 0, passes = 0;
    const std::uint32_t published = engine.GetPublishCount();
    for (auto _ : state) {
        testing_support::QueueFrame(camera, frames[next], &frames[next][0]);
        next = (next + 1) % frames.size();
        const std::uint64_t before = testing_support::AllocationCount();
        const auto t0 = std::chrono::steady_clock::now();
        engine.RunPass();
        const auto t1 = std::chrono::steady_clock::now();
        allocations += testing_support::AllocationCount() - before;
        ++passes;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["allocs_per_frame"] = passes ? double(allocations) / double(passes) : 0.0;
    state.counters["published_per_frame"] =
        passes ? double(engine.GetPublishCount() - published) / double(passes) : 0.0;
}

void BM_ThreePointPlain(benchmark::State& s) { EnginePass(s, false, true); }
void BM_ThreePointSmoothed(benchmark::State& s) { EnginePass(s, true, true); }
void BM_OnePointSmoothed(benchmark::State& s) { EnginePass(s, true, false); }

BENCHMARK(BM_ThreePointPlain)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreePointSmoothed)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OnePointSmoothed)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

} // namespace
