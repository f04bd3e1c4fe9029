#pragma once
// Named objects shared between processes of one session: sections of shared
// memory, mutexes and events. Each lives in a POSIX shared-memory object
// named after the session (platform/session.h). Objects outlive the
// processes that made them (until removed or the machine restarts), as a
// late-coming process must find what an earlier one set up.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Every object is made with mode 0600 (exclusive create). An object that
// exists already is used only when it belongs to this user and has exactly
// the size this build gives it; otherwise the open fails, and
// sharedObjectError() says which object and why.

// Why the last open of a named object on this thread failed, naming the
// object (empty after a success).
const std::string& sharedObjectError();

// A named section of shared memory. The first process to map it runs the
// initialiser (on zero-filled bytes) before anyone else sees the section;
// later ones wait, bounded, until that is done.
class SharedSection {
public:
    using Initialiser = std::function<void(void* bytes, std::size_t size)>;

    // Opens or creates section `name` of `size` bytes in the current session.
    // Returns null when the object cannot be created or mapped.
    static std::unique_ptr<SharedSection> open(std::string_view name, std::size_t size,
                                               const Initialiser& init = {});
    // Same with the full shared-memory name (already carrying the session).
    static std::unique_ptr<SharedSection> openObject(const std::string& objectName,
                                                     std::size_t size, const Initialiser& init = {});
    // Removes the name (mappings stay valid); for tests and cleanup.
    static bool remove(std::string_view name);

    ~SharedSection();
    SharedSection(const SharedSection&) = delete;
    SharedSection& operator=(const SharedSection&) = delete;

    void* data() const { return data_; }
    std::size_t size() const { return size_; }
    const std::string& objectName() const { return objectName_; }
    // Whether this process ran the initialiser.
    bool created() const { return created_; }

private:
    SharedSection(std::string objectName, void* map, std::size_t mapSize, std::size_t size,
                  bool created)
        : objectName_(std::move(objectName)), map_(map), mapSize_(mapSize), data_(map),
          size_(size), created_(created)
    {
    }

    std::string objectName_;
    void* map_;
    std::size_t mapSize_;
    void* data_;
    std::size_t size_;
    bool created_;
};

enum class LockResult {
    Acquired,  // the lock is held
    Abandoned, // held, but the previous holder died holding it (now made consistent)
    Timeout,   // not acquired within the time given
    Failed,    // the mutex is unusable
};

inline bool holds(LockResult r) { return r == LockResult::Acquired || r == LockResult::Abandoned; }

// A named mutex: a robust process-shared pthread mutex in its own section.
// A holder that dies leaves it recoverable: the next locker gets Abandoned
// and owns it. Waits are timed on CLOCK_MONOTONIC and never unbounded.
class NamedMutex {
public:
    static std::unique_ptr<NamedMutex> open(std::string_view name);
    static std::unique_ptr<NamedMutex> openObject(const std::string& objectName);

    LockResult lock(std::chrono::milliseconds timeout);
    void unlock();

private:
    explicit NamedMutex(std::unique_ptr<SharedSection> section) : section_(std::move(section)) {}
    std::unique_ptr<SharedSection> section_;
};

// RAII holder over a NamedMutex.
class NamedLock {
public:
    NamedLock(NamedMutex& mutex, std::chrono::milliseconds timeout)
        : mutex_(mutex), result_(mutex.lock(timeout))
    {
    }
    ~NamedLock()
    {
        if (holds(result_))
            mutex_.unlock();
    }
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    bool owns() const { return holds(result_); }
    LockResult result() const { return result_; }

private:
    NamedMutex& mutex_;
    LockResult result_;
};

// A named event, manual or auto reset, shared between processes. The mode
// is fixed by whoever creates it first.
class NamedEvent {
public:
    static std::unique_ptr<NamedEvent> open(std::string_view name, bool manualReset,
                                            bool initiallySet = false);

    void set();
    void reset();
    // kWaitObject0 (0) when signalled, kWaitTimeout (258) after `timeout`.
    std::uint32_t wait(std::chrono::milliseconds timeout);

private:
    explicit NamedEvent(std::unique_ptr<SharedSection> section) : section_(std::move(section)) {}
    std::unique_ptr<SharedSection> section_;
};

// Low-level helpers shared with the window table: a robust, process-shared
// mutex placed in shared memory, and its timed lock.
void initRobustMutex(void* pthreadMutex);
LockResult lockRobustMutex(void* pthreadMutex, std::chrono::milliseconds timeout);

} // namespace platform
