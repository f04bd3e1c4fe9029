#pragma once
// Window-style timers on an injected clock: each timer has an id and a
// period; the owner calls RunDue() from its event loop (or a test after
// moving its clock). A late timer fires once, not once per missed period,
// and a period of 0 is taken as 1 ms, so that no timer spins.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "platform/clock.h"

namespace vslmouse {

inline constexpr std::uint32_t kMinimumTimerMs = 1;

class TimerQueue {
public:
    explicit TimerQueue(platform::Clock& clock) : clock_(clock) {}

    // Starts a timer, or restarts it when it runs already.
    void Set(std::uintptr_t id, std::uint32_t periodMs);
    void Kill(std::uintptr_t id);
    bool IsSet(std::uintptr_t id) const { return timers_.count(id) != 0; }
    std::optional<std::uint32_t> Period(std::uintptr_t id) const;

    // Fires every due timer once, earliest first; `fire` may set and kill
    // timers. Returns how many fired.
    int RunDue(const std::function<void(std::uintptr_t)>& fire);
    // Time until the next timer is due (zero when one is due); nothing when
    // no timer runs.
    std::optional<platform::Duration> TimeToNext() const;

private:
    struct Timer {
        platform::Duration period;
        platform::Duration due;
    };
    platform::Clock& clock_;
    std::map<std::uintptr_t, Timer> timers_;
};

} // namespace vslmouse
