// The program at rest: the real `vistrel`, headless, with no camera (the
// camera backend finds none), no game and its game view library loaded, as
// a laptop runs it all day. After it has settled, counts over a few seconds
// how often each of its threads wakes (voluntary and involuntary context
// switches, /proc/PID/task/TID/status) and how much processor time they take
// (/proc/PID/task/TID/schedstat). Each thread's share is printed, so that
// every remaining wake-up source can be named.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "../common/threads.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;

void BM_IdleProgram(benchmark::State& state)
{
    const auto window = std::chrono::seconds(state.range(0));
    double wakeups = 0, cpuShare = 0;
    std::map<std::string, std::pair<double, double>> byThread;  // wake-ups/s, ms/s
    for (auto _ : state) {
        auto options = testing_support::ProgramOptions();
        // No camera: the backend that looks for real ones finds none here.
        options.env.emplace_back("ORVANE_CAMERA", "auto");
        options.viewLibrary = true;
        testing_support::VistrelProcess program(options);
        if (!program.ready()) {
            state.SkipWithError("the program did not come up");
            return;
        }
        // Start-up's own work (the first camera probes, Qt's thread pool
        // winding down) is over by then.
        std::this_thread::sleep_for(std::chrono::seconds(state.range(1)));
        const auto before = bench::ThreadsOf(std::to_string(program.pid()));
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(window);
        const auto after = bench::ThreadsOf(std::to_string(program.pid()));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        for (const auto& [tid, use] : after) {
            const auto b = before.find(tid);
            const double sw = static_cast<double>(use.switches - (b != before.end() ? b->second.switches : 0));
            const double ns = static_cast<double>(use.cpuNs - (b != before.end() ? b->second.cpuNs : 0));
            wakeups += sw / seconds;
            cpuShare += ns / seconds;
            auto& t = byThread[use.name + " (" + std::to_string(tid) + ")"];
            t.first += sw / seconds;
            t.second += ns / seconds / 1e6;
        }
        program.stop();
    }
    state.counters["wakeups_per_s"] = wakeups;
    state.counters["core_percent"] = cpuShare / 1e9 * 100.0;
    for (const auto& [name, use] : byThread)
        if (use.first > 0 || use.second > 0.001)
            std::fprintf(stderr, "  %-28s %6.1f wake-ups/s %7.3f ms/s\n", name.c_str(), use.first, use.second);
}

} // namespace

// Ten seconds of rest after twenty of settling.
BENCHMARK(BM_IdleProgram)->Args({10, 20})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
