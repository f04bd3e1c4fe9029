#pragma once
// Synchronisation primitives with the semantics the suite's threads expect:
// manual- and auto-reset events with the classic wait results, a recursive
// lock for critical sections, and threads with a best-effort priority.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace platform {

inline constexpr std::uint32_t kWaitObject0 = 0;    // the (first) object was signalled
inline constexpr std::uint32_t kWaitTimeout = 258;  // the wait timed out
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset mode = Reset::Manual, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // Returns kWaitObject0 when signalled (an auto-reset event is then
    // cleared) or kWaitTimeout after `timeoutMs` (kInfinite waits for ever).
    std::uint32_t wait(std::uint32_t timeoutMs);

    // Waits for any (waitAll = false) or all of `events`. Returns
    // kWaitObject0 + index of the signalled event (the lowest when several
    // are), kWaitObject0 when all are, or kWaitTimeout.
    static std::uint32_t waitMultiple(std::span<Event* const> events, bool waitAll,
                                      std::uint32_t timeoutMs);

private:
    struct Waiter;
    bool tryConsumeLocked();
    void addWaiter(Waiter* w);
    void removeWaiter(Waiter* w);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Reset mode_;
    bool signalled_;
    std::vector<Waiter*> waiters_;  // multi-object waits parked on this event
};

// A recursive lock, as a critical section is. Satisfies Lockable, so
// std::lock_guard and std::unique_lock work with it.
class CriticalSection {
public:
    void lock() { mutex_.lock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

enum class ThreadPriority : int {
    Idle = -15,
    Lowest = -2,
    BelowNormal = -1,
    Normal = 0,
    AboveNormal = 1,
    Highest = 2,
    TimeCritical = 15,
};

// A joinable thread that is always joined: the destructor joins. Priority is
// best effort (real-time scheduling where permitted, else a nice value for
// the thread, else unchanged); it never fails the start.
class Thread {
public:
    Thread() = default;
    explicit Thread(std::function<void()> body, ThreadPriority priority = ThreadPriority::Normal,
                    std::string name = {});
    ~Thread();
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void start(std::function<void()> body, ThreadPriority priority = ThreadPriority::Normal,
               std::string name = {});
    bool joinable() const { return thread_.joinable(); }
    void join();
    bool isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }
    std::thread::id id() const { return thread_.get_id(); }

    // Applies a priority to the calling thread; returns whether anything changed.
    static bool setCurrentPriority(ThreadPriority priority);

private:
    std::thread thread_;
};

// Starts the threads of an object that is given one, so that a test can
// refuse a chosen thread. start throws std::system_error, as std::thread
// does, when no thread can be made.
class ThreadStarter {
public:
    virtual ~ThreadStarter() = default;
    virtual void start(Thread& thread, std::function<void()> body, ThreadPriority priority, std::string name) = 0;
};

// Thread::start itself.
ThreadStarter& systemThreadStarter();

// The processor the calling thread runs on; -1 when the system does not say.
int currentProcessor();

// Keeps the consumer of a hand-over chain on its producer's processor.
//
// A thread woken on a processor that sleeps costs that processor's wake-up
// (tens of microseconds on a laptop in a deep idle state or in a virtual
// machine) in latency and in time; woken on the processor its producer runs
// on, it costs a switch there. The kernel keeps ordinary threads near their
// waker by itself, but spreads real-time threads over idle processors, so a
// chain of real-time threads pays a remote wake-up at every link. A consumer
// calls follow() with its producer's processor each time it is handed work;
// while it runs at real-time priority it is then moved to that processor
// (a system call only when the producer has moved), and the next hand-over
// wakes it there. Ordinary threads are left where the kernel puts them.
//
// One processor is enough for the chain only while it keeps up: a consumer
// that finds work piling up (follow's `behind`) goes back to every processor
// it may use and stays there for a while, so that the links run side by side
// again on a slow or busy machine.
//
// ORVANE_FRAME_CPU=free turns it off (every follower of the process, read
// when a follower first runs).
class ProcessorFollower {
public:
    // Hand-overs a follower that fell behind stays spread out for.
    static constexpr int kSpreadHandovers = 200;

    // Moves the calling thread to `producer` (a processor number, -1 for
    // none) when that applies; returns whether the thread is kept there now.
    // `behind`: more work waits than was just taken.
    bool follow(int producer, bool behind = false);
    // For the head of a chain, which has no producer of its own to follow:
    // keeps the calling thread on the processor it runs on now, the first
    // time, so that the threads after it have a place to follow.
    bool settle() { return kept_ >= 0 || follow(currentProcessor()); }
    // The processor this follower last kept its thread on, -1 for none.
    int kept() const { return kept_; }

    // Whether followers are on for this process (the environment's choice).
    static bool enabled();

private:
    int kept_ = -1;
    int state_ = -1;   // -1 undecided, 0 off for this thread, 1 on
    int spread_ = 0;   // hand-overs left to stay spread out
    std::array<std::uint64_t, 16> allowed_{};  // the thread's own processors, as first found
};

} // namespace platform
