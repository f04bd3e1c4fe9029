// Command round trip to the simulated camera: a register read queued, sent
// by the send thread, answered, matched and handed back to the caller.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "camera/camera.h"
#include "simcam/hub.h"

namespace {

void roundTrip(benchmark::State& state, Orvane::CameraTiming timing, int number)
{
    simcam::Hub hub;
    std::string path;
    if (number >= 1024)
        path = hub.addGeneric();
    else
        hub.addOwn(number);
    Orvane::Camera camera(hub, number, nullptr, timing);
    if (number >= 1024)
        camera.SetUSBIODevicePath(path);
    else
        camera.OpenUsbDevice();
    camera.InitializeCameraCommunication();
    camera.ReadCameraData();
    camera.GetConfigurationData().WaitValid();
    std::vector<double> us;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        unsigned v = 0;
        bool ok = camera.FPGARegRead(32, &v);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(ok);
    }
    std::sort(us.begin(), us.end());
    if (!us.empty())
        state.counters["median_us"] = us[us.size() / 2];
}

// The camera's own timing: the send thread polls its queue every 50 ms when idle.
void BM_RoundTripOwnDriverDefaultTiming(benchmark::State& state)
{
    roundTrip(state, {}, 0);
}

// The channel itself, with the idle polls at 1 ms.
void BM_RoundTripOwnDriverFastPoll(benchmark::State& state)
{
    Orvane::CameraTiming t;
    t.sendIdleMs = 1;
    t.readerIdleMs = 1;
    t.threadStartMs = 1;
    roundTrip(state, t, 0);
}

void BM_RoundTripGenericDriverFastPoll(benchmark::State& state)
{
    Orvane::CameraTiming t;
    t.sendIdleMs = 1;
    t.threadStartMs = 1;
    roundTrip(state, t, 1024);
}

} // namespace

BENCHMARK(BM_RoundTripOwnDriverDefaultTiming)->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTripOwnDriverFastPoll)->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTripGenericDriverFastPoll)->Iterations(200)->Unit(benchmark::kMicrosecond);
