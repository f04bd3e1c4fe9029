#pragma once
// Kills a process in the middle of saving, over and over, and lets the test
// look at what is on disk after each kill: the way a crash, a power cut or
// `kill -9` meets a save.
//
// Each round forks a child that runs `save(n)` for n = 0, 1, 2, ... without
// end; the parent waits a random time below `maxDelay` (drawn from `seed`),
// kills the child with SIGKILL, reaps it and runs `check()`. A zero
// `maxDelay` is measured first: twice the time a child takes to start and
// finish save(0) and save(1), so the kills fall all over the first saves,
// before, inside and after each. The child dies
// with the parent too. Rounds stop after `rounds` or at `deadline`,
// whichever comes first, so the loop is bounded in time.
#include <chrono>
#include <cstdint>
#include <functional>

namespace testing_support {

struct KillLoopOptions {
    int rounds = 300;
    std::chrono::microseconds maxDelay{0};
    std::chrono::seconds deadline{45};
    std::uint32_t seed = 1;
};

struct KillLoopResult {
    int kills = 0;       // rounds whose child was killed while saving
    int childFailed = 0; // rounds whose child ended by itself (a save threw or exited)
    std::chrono::microseconds maxDelay{0};
};

KillLoopResult RunKillLoop(const KillLoopOptions& options, const std::function<void(int n)>& save,
                           const std::function<void()>& check);

} // namespace testing_support
