#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::chrono::steady_clock::time_point deadlineFor(std::uint32_t timeoutMs)
{
    return SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
}

} // namespace

// A multi-object wait parks one of these on every event it waits for; a set()
// on any of them wakes it to re-check.
struct Event::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool woken = false;

    void wake()
    {
        {
            std::lock_guard lock(mutex);
            woken = true;
        }
        cv.notify_all();
    }
};

Event::Event(Reset mode, bool initiallySet) : mode_(mode), signalled_(initiallySet) {}

Event::~Event() = default;

void Event::set()
{
    std::lock_guard lock(mutex_);
    signalled_ = true;
    if (mode_ == Reset::Auto)
        cv_.notify_one();
    else
        cv_.notify_all();
    // Woken under our lock: a parked waiter leaves only through removeWaiter(),
    // which takes this lock, so it cannot be gone while we touch it. Waiters
    // never hold their own mutex while taking an event's, so the order is safe.
    for (Waiter* w : waiters_)
        w->wake();
}

void Event::reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::isSet() const
{
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool Event::tryConsumeLocked()
{
    if (!signalled_)
        return false;
    if (mode_ == Reset::Auto)
        signalled_ = false;
    return true;
}

std::uint32_t Event::wait(std::uint32_t timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_until(lock, deadlineFor(timeoutMs), [this] { return signalled_; })) {
        return kWaitTimeout;
    }
    tryConsumeLocked();
    return kWaitObject0;
}

void Event::addWaiter(Waiter* w)
{
    std::lock_guard lock(mutex_);
    waiters_.push_back(w);
}

void Event::removeWaiter(Waiter* w)
{
    std::lock_guard lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), w), waiters_.end());
}

std::uint32_t Event::waitMultiple(std::span<Event* const> events, bool waitAll, std::uint32_t timeoutMs)
{
    if (events.empty())
        return kWaitFailed;
    Waiter waiter;
    for (Event* e : events)
        e->addWaiter(&waiter);
    struct Unpark {
        std::span<Event* const> events;
        Waiter* waiter;
        ~Unpark()
        {
            for (Event* e : events)
                e->removeWaiter(waiter);
        }
    } unpark{events, &waiter};

    const auto deadline = deadlineFor(timeoutMs == kInfinite ? 0 : timeoutMs);
    for (;;) {
        {
            std::lock_guard wl(waiter.mutex);
            waiter.woken = false;
        }
        if (waitAll) {
            // Take all at once or none: lock every event in address order.
            std::vector<Event*> order(events.begin(), events.end());
            std::sort(order.begin(), order.end());
            order.erase(std::unique(order.begin(), order.end()), order.end());
            std::vector<std::unique_lock<std::mutex>> locks;
            locks.reserve(order.size());
            for (Event* e : order)
                locks.emplace_back(e->mutex_);
            const bool all = std::all_of(order.begin(), order.end(), [](Event* e) { return e->signalled_; });
            if (all) {
                for (Event* e : order)
                    e->tryConsumeLocked();
                return kWaitObject0;
            }
        } else {
            for (std::size_t i = 0; i < events.size(); ++i) {
                std::lock_guard lock(events[i]->mutex_);
                if (events[i]->tryConsumeLocked())
                    return kWaitObject0 + static_cast<std::uint32_t>(i);
            }
        }
        std::unique_lock wl(waiter.mutex);
        if (timeoutMs == kInfinite) {
            waiter.cv.wait(wl, [&] { return waiter.woken; });
        } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.woken; })) {
            wl.unlock();
            // One last look: a set() may have raced the deadline.
            if (!waitAll) {
                for (std::size_t i = 0; i < events.size(); ++i) {
                    std::lock_guard lock(events[i]->mutex_);
                    if (events[i]->tryConsumeLocked())
                        return kWaitObject0 + static_cast<std::uint32_t>(i);
                }
            }
            return kWaitTimeout;
        }
    }
}

Thread::Thread(std::function<void()> body, ThreadPriority priority, std::string name)
{
    start(std::move(body), priority, std::move(name));
}

Thread::~Thread() { join(); }

Thread& Thread::operator=(Thread&& other) noexcept
{
    if (this != &other) {
        join();
        thread_ = std::move(other.thread_);
    }
    return *this;
}

void Thread::start(std::function<void()> body, ThreadPriority priority, std::string name)
{
    join();
    thread_ = std::thread([body = std::move(body), priority, name = std::move(name)] {
        if (!name.empty())
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        if (priority != ThreadPriority::Normal)
            setCurrentPriority(priority);
        body();
    });
}

namespace {

class SystemThreadStarter final : public ThreadStarter {
public:
    void start(Thread& thread, std::function<void()> body, ThreadPriority priority, std::string name) override
    {
        thread.start(std::move(body), priority, std::move(name));
    }
};

} // namespace

ThreadStarter& systemThreadStarter()
{
    static SystemThreadStarter starter;
    return starter;
}

void Thread::join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool Thread::setCurrentPriority(ThreadPriority priority)
{
    const int level = static_cast<int>(priority);
    if (level > 0) {
        // Real-time scheduling needs privileges most desktops do not grant.
        sched_param param{};
        param.sched_priority = level >= 15 ? 20 : 10 + level;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
            return true;
    }
    // Per-thread nice value: lowering it needs CAP_SYS_NICE, raising never fails.
    const int nice = level >= 15 ? -10 : (level <= -15 ? 19 : -level * 5);
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, tid, nice) == 0;
}

int currentProcessor()
{
    return ::sched_getcpu();
}

bool ProcessorFollower::enabled()
{
    const char* v = std::getenv("ORVANE_FRAME_CPU");
    return v == nullptr || std::strcmp(v, "free") != 0;
}

bool ProcessorFollower::follow(int producer, bool behind)
{
    static_assert(sizeof(cpu_set_t) == sizeof(allowed_));
    if (state_ < 0) {
        int policy = SCHED_OTHER;
        sched_param param{};
        const bool realTime = pthread_getschedparam(pthread_self(), &policy, &param) == 0 &&
                              (policy == SCHED_FIFO || policy == SCHED_RR);
        cpu_set_t own;
        state_ = realTime && enabled() && ::sched_getaffinity(0, sizeof own, &own) == 0 ? 1 : 0;
        if (state_ == 1)
            std::memcpy(allowed_.data(), &own, sizeof own);
    }
    if (state_ == 0)
        return false;
    if (behind) {
        // Not keeping up on one processor: back to all of them for a while.
        if (kept_ >= 0) {
            cpu_set_t own;
            std::memcpy(&own, allowed_.data(), sizeof own);
            ::sched_setaffinity(0, sizeof own, &own);
            kept_ = -1;
        }
        spread_ = kSpreadHandovers;
        return false;
    }
    if (spread_ > 0) {
        --spread_;
        return false;
    }
    if (producer < 0 || producer >= CPU_SETSIZE)
        return false;
    if (producer == kept_)
        return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(producer, &set);
    // A processor taken away from the process (hot-unplug, a changed
    // cpuset) refuses the move: the thread stays where it may run.
    if (::sched_setaffinity(0, sizeof set, &set) != 0)
        return false;
    kept_ = producer;
    return true;
}

} // namespace platform
