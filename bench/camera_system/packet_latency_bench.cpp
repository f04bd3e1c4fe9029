// One encoded camera packet queued in the packet buffer until its tracked
// coordinate is queued in the coordinate buffer, through the running packet
// processor thread: median and 99th-percentile latency, and heap allocations
// made by the whole program while frames flow (the frame road should make
// none).
#include "testing/heap_counter.h"
#include "camera/camera_system_facade.h"
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

class BenchCamera final : public Orvane::SystemCamera {
public:
    BenchCamera(int revision, int width, int height)
        : revision_(revision), width_(width), height_(height), weights_(Orvane::DefaultGreyscaleWeights())
    {
    }
    int GetHardwareRevision() const override { return revision_; }
    int GetWindowWidth() const override { return width_; }
    int GetWindowHeight() const override { return height_; }
    int GetThreshold() const override { return 128; }
    int GetFrameSendingOptions() const override { return 0; }
    int GetDisplayOptions() const override { return 0; }
    int GetObjectCap() const override { return 500; }
    const WeightTable& GetGreyscaleWeights() const override { return weights_; }
    int GetSwitchState() const override { return 0; }
    void SetSwitchState(int) override {}
    bool StartCamera() override { return true; }
    void StopCamera() override {}
    bool IsCameraStarted() const override { return false; }
    void SetIlluminationLeds(bool) override {}

private:
    int revision_, width_, height_;
    WeightTable weights_;
};

void Queue(Orvane::CameraSystem& system, const simcam::imaging::Bytes& encoded)
{
    Orvane::CameraPacket* p = nullptr;
    while ((p = system.GetPacketBuffer().TakeFree()) == nullptr) {
    }
    const auto split = simcam::imaging::Split(encoded);
    p->SetHeader(split.header);
    p->SetNumBytesInPacket(static_cast<std::uint32_t>(split.data.size()));
    std::memcpy(p->GetBuffer(), split.data.data(), split.data.size());
    system.GetPacketBuffer().Append(p);
}

// Waits (bounded) for the coordinate of the frame just queued; false on time-out.
bool TakeResult(Orvane::CameraSystem& system)
{
    for (int i = 0; i < 100; ++i) {
        if (Orvane::Frame* f = system.GetFrameBuffer().TakeFilled()) {
            // The coordinate is queued before the frame, so it is there now
            // (or this frame was not tracked).
            Orvane::TrackedCoordinate* t = system.TakeCoordinateFor(*f);
            system.GetFrameBuffer().GiveBack(f);
            if (t != nullptr) {
                system.GetTrackedCoordBuffer().GiveBack(t);
                return true;
            }
            return false;
        }
        system.GetFrameBuffer().Wait(20);
    }
    return false;
}

void PacketToCoordinate(benchmark::State& state, int revision, int markers)
{
    const int width = 640, height = 480;
    BenchCamera camera(revision, width, height);
    Orvane::CameraSystemFacade system(0, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = nullptr});
    std::vector<simcam::imaging::Disc> discs = {{320.3, 240.6, 6.0, 255}, {200.2, 180.4, 5.0, 255}, {440.7, 190.1, 5.0, 255}};
    discs.resize(static_cast<std::size_t>(markers));
    simcam::imaging::PacketParams params;
    params.revision = revision;
    params.width = width;
    params.height = height;
    params.mode = 0;
    const auto encoded = simcam::imaging::EncodePacket(simcam::imaging::Render(discs, width, height), params);
    system.Start(false, false);
    for (int i = 0; i < 300; ++i) {  // until tracking has settled
        Queue(system, encoded);
        TakeResult(system);
    }
    std::vector<double> samples;
    samples.reserve(1 << 20);
    long long untracked = 0;
    const std::uint64_t before = testing_support::AllocationCount();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Queue(system, encoded);
        const bool tracked = TakeResult(system);
        const auto t1 = std::chrono::steady_clock::now();
        if (!tracked)
            ++untracked;
        if (samples.size() < samples.capacity())
            samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    const std::uint64_t allocations = testing_support::AllocationCount() - before;
    system.Stop();
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
    state.counters["allocations"] = static_cast<double>(allocations);
    state.counters["untracked"] = static_cast<double>(untracked);
    state.SetItemsProcessed(state.iterations());
}

void BM_Rev7OneMarker(benchmark::State& state) { PacketToCoordinate(state, 7, 1); }
void BM_Rev7ThreeMarkers(benchmark::State& state) { PacketToCoordinate(state, 7, 3); }
void BM_Rev12ThreeMarkers(benchmark::State& state) { PacketToCoordinate(state, 12, 3); }

} // namespace

BENCHMARK(BM_Rev7OneMarker)->UseRealTime();
BENCHMARK(BM_Rev7ThreeMarkers)->UseRealTime();
BENCHMARK(BM_Rev12ThreeMarkers)->UseRealTime();
