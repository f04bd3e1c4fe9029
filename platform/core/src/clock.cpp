#include "platform/clock.h"

#include <thread>

namespace platform {

std::uint32_t Clock::tickCount() const
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::int64_t Clock::performanceCounter() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now()).count();
}

Duration SystemClock::now() const
{
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleepFor(Duration d)
{
    if (d > Duration::zero())
        std::this_thread::sleep_for(d);
}

Clock& systemClock()
{
    static SystemClock clock;
    return clock;
}

std::uint32_t TickCount() { return systemClock().tickCount(); }
std::int64_t PerformanceCounter() { return systemClock().performanceCounter(); }

} // namespace platform
