#include "mouse/timers.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace vslmouse {

void TimerQueue::Set(std::uintptr_t id, std::uint32_t periodMs)
{
    const platform::Duration period = std::chrono::milliseconds(std::max(periodMs, kMinimumTimerMs));
    timers_[id] = Timer{period, clock_.now() + period};
}

void TimerQueue::Kill(std::uintptr_t id) { timers_.erase(id); }

std::optional<std::uint32_t> TimerQueue::Period(std::uintptr_t id) const
{
    auto it = timers_.find(id);
    if (it == timers_.end())
        return std::nullopt;
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(it->second.period).count());
}

int TimerQueue::RunDue(const std::function<void(std::uintptr_t)>& fire)
{
    const platform::Duration now = clock_.now();
    std::vector<std::pair<platform::Duration, std::uintptr_t>> due;
    for (const auto& [id, t] : timers_)
        if (t.due <= now)
            due.emplace_back(t.due, id);
    std::sort(due.begin(), due.end());
    int fired = 0;
    for (const auto& [when, id] : due) {
        auto it = timers_.find(id);
        // Killed or restarted by an earlier handler in this round.
        if (it == timers_.end() || it->second.due != when)
            continue;
        it->second.due = now + it->second.period;
        ++fired;
        fire(id);
    }
    return fired;
}

std::optional<platform::Duration> TimerQueue::TimeToNext() const
{
    if (timers_.empty())
        return std::nullopt;
    platform::Duration next = timers_.begin()->second.due;
    for (const auto& [id, t] : timers_)
        next = std::min(next, t.due);
    return std::max(next - clock_.now(), platform::Duration::zero());
}

} // namespace vslmouse
