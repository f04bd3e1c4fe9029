// Command round trip to the simulated camera, with the camera's own timings:
// a register read queued, sent by the send thread, answered, matched and
// handed back to the caller. Reports the median and the 99th percentile,
// for reads back to back and for reads that find the channel idle (the send
// thread asleep in its 50 ms idle wait, which a queued command ends at once).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "simcam/hub.h"

namespace {

void roundTrip(benchmark::State& state, int number, std::chrono::milliseconds pause = {})
{
    simcam::Hub hub;
    std::string path;
    if (number >= 1024)
        path = hub.addGeneric();
    else
        hub.addOwn(number);
    Orvane::Camera camera(hub, number, nullptr);
    if (number >= 1024)
        camera.SetUSBIODevicePath(path);
    else
        camera.OpenUsbDevice();
    camera.InitializeCameraCommunication();
    camera.ReadCameraData();
    camera.GetConfigurationData().WaitValid();
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(state.max_iterations));
    int failed = 0;
    for (auto _ : state) {
        if (pause.count() > 0) {
            state.PauseTiming();
            std::this_thread::sleep_for(pause);
            state.ResumeTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        unsigned v = 0;
        const bool ok = camera.FPGARegRead(32, &v);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        failed += ok ? 0 : 1;
        benchmark::DoNotOptimize(v);
    }
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        state.counters["median_us"] = us[us.size() / 2];
        state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
        state.counters["max_us"] = us.back();
    }
    state.counters["failed"] = failed;
}

// The own driver: a reply thread reads the reply path.
void BM_RoundTripOwnDriver(benchmark::State& state)
{
    roundTrip(state, 0);
}

// The generic driver: the reply pipe's reader delivers.
void BM_RoundTripGenericDriver(benchmark::State& state)
{
    roundTrip(state, 1024);
}

// The same after 20 ms without commands: the send thread sleeps in its idle wait.
void BM_RoundTripOwnDriverFromIdle(benchmark::State& state)
{
    roundTrip(state, 0, std::chrono::milliseconds(20));
}

void BM_RoundTripGenericDriverFromIdle(benchmark::State& state)
{
    roundTrip(state, 1024, std::chrono::milliseconds(20));
}

} // namespace

BENCHMARK(BM_RoundTripOwnDriverFromIdle)->Iterations(200)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RoundTripGenericDriverFromIdle)->Iterations(200)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RoundTripOwnDriver)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTripGenericDriver)->Iterations(1000)->Unit(benchmark::kMicrosecond);
