#pragma once
// A clock that moves only when told to. sleepFor() advances it at once, so a
// loop that sleeps 1000 ms runs in no time; advance() moves it from a test.
#include <atomic>

#include "platform/clock.h"

namespace testing_support {

class TestClock final : public platform::Clock {
public:
    explicit TestClock(platform::Duration start = std::chrono::hours(1)) : now_(start.count()) {}

    platform::Duration now() const override { return platform::Duration(now_.load()); }
    void sleepFor(platform::Duration d) override
    {
        if (d > platform::Duration::zero())
            advance(d);
        sleeps_.fetch_add(1);
    }

    void advance(platform::Duration d) { now_.fetch_add(d.count()); }
    void advanceMs(long long ms) { advance(std::chrono::milliseconds(ms)); }
    void set(platform::Duration t) { now_.store(t.count()); }
    int sleeps() const { return sleeps_.load(); }

private:
    std::atomic<long long> now_;
    std::atomic<int> sleeps_{0};
};

} // namespace testing_support
