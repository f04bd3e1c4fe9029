#pragma once
// Time as the suite sees it: a monotonic clock and a sleeper, both passed in,
// so that rules measured in seconds can be tested in microseconds.
#include <chrono>
#include <cstdint>

namespace platform {

using Duration = std::chrono::nanoseconds;

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time since an arbitrary epoch.
    virtual Duration now() const = 0;
    // Waits for `d` of this clock's time (a test clock just advances).
    virtual void sleepFor(Duration d) = 0;

    // Milliseconds, wrapping at 2^32 like the system tick count.
    std::uint32_t tickCount() const;
    // High-resolution counter and its frequency in counts per second.
    std::int64_t performanceCounter() const;
    static constexpr std::int64_t performanceFrequency() { return 1'000'000'000; }
};

// The real monotonic clock; stateless, shared by everyone.
class SystemClock final : public Clock {
public:
    Duration now() const override;
    void sleepFor(Duration d) override;
};
Clock& systemClock();

// Convenience wrappers over the system clock.
std::uint32_t TickCount();
std::int64_t PerformanceCounter();

} // namespace platform
