#pragma once
// A clock whose sleepFor() waits until the test lets one period pass, so a
// polling thread runs exactly as many rounds as the test asks for and no
// real time goes by. release() lets every sleep through (for shutdown).
#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace input_test {

class StepClock final : public platform::Clock {
public:
    platform::Duration now() const override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void sleepFor(platform::Duration d) override
    {
        std::unique_lock lock(mutex_);
        ++sleeps_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return allowed_ > 0 || released_; });
        if (allowed_ > 0) --allowed_;
        now_ += d;
    }

    // Lets one sleep end and waits until the sleeper is back in its next sleep.
    bool step()
    {
        std::unique_lock lock(mutex_);
        const int target = sleeps_ + 1;
        ++allowed_;
        changed_.notify_all();
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return sleeps_ >= target; });
    }

    // Lets one sleep end without waiting for the sleeper's next one.
    void allow()
    {
        std::lock_guard lock(mutex_);
        ++allowed_;
        changed_.notify_all();
    }

    // Waits until the sleeper has entered `n` sleeps in all.
    bool waitSleeps(int n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return sleeps_ >= n; });
    }

    void release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    int sleeps() const
    {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    platform::Duration now_{std::chrono::hours(1)};
    int sleeps_ = 0;
    int allowed_ = 0;
    bool released_ = false;
};

} // namespace input_test
