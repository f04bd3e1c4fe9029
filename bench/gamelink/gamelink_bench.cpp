// Pose reads (OV_GetData) from a client process while the publisher writes
// at 1000 Hz, and command round trips to the publisher's command window.
// Each benchmark reports the median and 99th percentile of single calls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client/ovclient.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

extern char** environ;

namespace {

// A session, a registry naming the library's folder, and the publisher.
class Publisher {
public:
    Publisher()
    {
        auto store = registry_.store();
        store->createKey(platform::registry::Root::CurrentUser, "Software\\Orvane\\ORVANE\\OVClient Location");
        const std::string dir = OVCLIENT_DIR;
        store->setString(platform::registry::Root::CurrentUser, "Software\\Orvane\\ORVANE\\OVClient Location", "Path",
                         std::u16string(dir.begin(), dir.end()));
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t fa;
        ::posix_spawn_file_actions_init(&fa);
        ::posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        ::posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        ::posix_spawn_file_actions_addclose(&fa, in[1]);
        ::posix_spawn_file_actions_addclose(&fa, out[0]);
        char* argv[] = {const_cast<char*>(GAMELINK_PUBLISHER), nullptr};
        ::posix_spawn(&pid_, GAMELINK_PUBLISHER, &fa, nullptr, argv, environ);
        ::posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        toChild_ = in[1];
        pollfd p{out[0], POLLIN, 0};
        char buf[16] = {};
        ready_ = ::poll(&p, 1, 5000) > 0 && ::read(out[0], buf, sizeof buf) > 0;
        ::close(out[0]);
    }
    ~Publisher()
    {
        ::close(toChild_);
        int st = 0;
        for (int i = 0; i < 2000 && ::waitpid(pid_, &st, WNOHANG) == 0; ++i)
            ::usleep(1000);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, WNOHANG);
    }
    bool ready() const { return ready_; }

private:
    testing_support::TempSession session_;
    testing_support::TempRegistry registry_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    bool ready_ = false;
};

void reportPercentiles(benchmark::State& state, std::vector<double>& ns)
{
    if (ns.empty())
        return;
    std::sort(ns.begin(), ns.end());
    state.counters["p50_us"] = ns[ns.size() / 2] / 1000.0;
    state.counters["p99_us"] = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0;
    state.counters["max_us"] = ns.back() / 1000.0;
}

void BM_GetDataWhilePublishing(benchmark::State& state)
{
    Publisher publisher;
    auto lib = platform::Module::load(OVCLIENT_LIBRARY);
    if (!publisher.ready() || !lib) {
        state.SkipWithError("publisher or library not available");
        return;
    }
    auto getData = lib->function<OV_GetData_t>("OV_GetData");
    std::vector<double> ns;
    ns.reserve(1 << 20);
    OVPosePacket p{};
    std::int64_t failures = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int r = getData(&p);
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(p);
        failures += r != 0;
        if (ns.size() < ns.capacity())
            ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    state.counters["failures"] = static_cast<double>(failures);
    reportPercentiles(state, ns);
}
BENCHMARK(BM_GetDataWhilePublishing)->MinTime(1.0)->UseRealTime();

void BM_CommandRoundTrip(benchmark::State& state)
{
    Publisher publisher;
    auto lib = platform::Module::load(OVCLIENT_LIBRARY);
    if (!publisher.ready() || !lib) {
        state.SkipWithError("publisher or library not available");
        return;
    }
    // A data request: handled on the command thread, no side effects.
    auto request = lib->function<OV_Command16_t>("OV_RequestData");
    std::vector<double> ns;
    ns.reserve(1 << 18);
    std::int64_t failures = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int r = request(119);
        const auto t1 = std::chrono::steady_clock::now();
        failures += r != 0;
        if (ns.size() < ns.capacity())
            ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    state.counters["failures"] = static_cast<double>(failures);
    reportPercentiles(state, ns);
}
BENCHMARK(BM_CommandRoundTrip)->MinTime(1.0)->UseRealTime();

} // namespace
