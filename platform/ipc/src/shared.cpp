#include "platform/shared.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/session.h"
#include "platform/debug.h"
#include "platform/sync.h"

namespace platform {

namespace {

// The control block sits after the caller's bytes, so a section keeps the
// exact layout its users agreed on from offset 0.
enum : std::uint32_t { kUninitialised = 0, kInitialising = 1, kReady = 2 };
constexpr std::size_t kControlSize = 64;
constexpr auto kInitWait = std::chrono::milliseconds(2000);

std::size_t controlOffset(std::size_t size) { return (size + 63) / 64 * 64; }

thread_local std::string t_error;

// Records why a named object is not used, and says so on the debug output.
void refuse(const std::string& objectName, const std::string& why)
{
    t_error = "The shared object /dev/shm" + objectName + " " + why + "; it is not used.";
    debug::output(t_error);
}

timespec monotonicDeadline(std::chrono::milliseconds timeout)
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = timeout.count() < 0 ? 0 : timeout.count();
    ts.tv_sec += static_cast<time_t>(ms / 1000);
    ts.tv_nsec += static_cast<long>((ms % 1000) * 1'000'000);
    if (ts.tv_nsec >= 1'000'000'000) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1'000'000'000;
    }
    return ts;
}

} // namespace

std::unique_ptr<SharedSection> SharedSection::open(std::string_view name, std::size_t size,
                                                   const Initialiser& init)
{
    return openObject(sessionObjectName(name), size, init);
}

std::unique_ptr<SharedSection> SharedSection::openObject(const std::string& objectName,
                                                         std::size_t size, const Initialiser& init)
{
    t_error.clear();
    const std::size_t mapSize = controlOffset(size) + kControlSize;
    // Made here, mode 0600 whatever the umask; or else an existing one,
    // used only when it is this user's and of the size agreed on.
    int fd = ::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
    } else if (errno == EEXIST) {
        fd = ::shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
    }
    if (fd < 0) {
        const int err = errno;
        refuse(objectName, err == EACCES ? "belongs to another user" : std::string("cannot be opened: ") + std::strerror(err));
        return nullptr;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        refuse(objectName, std::string("cannot be examined: ") + std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    if (st.st_uid != ::geteuid()) {
        refuse(objectName, "belongs to user " + std::to_string(st.st_uid) + ", not to this user (" +
                               std::to_string(::geteuid()) + ")");
        ::close(fd);
        return nullptr;
    }
    // A size of 0 is one just made (by us, or by another process of ours
    // that has not sized it yet); any other size must be ours exactly.
    if (st.st_size != 0 && static_cast<std::size_t>(st.st_size) != mapSize) {
        refuse(objectName, "has " + std::to_string(st.st_size) + " bytes where " + std::to_string(mapSize) +
                               " are expected");
        ::close(fd);
        return nullptr;
    }
    if (st.st_size == 0 && ::ftruncate(fd, static_cast<off_t>(mapSize)) != 0) {
        refuse(objectName, std::string("cannot be sized: ") + std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    void* map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) {
        refuse(objectName, std::string("cannot be mapped: ") + std::strerror(errno));
        return nullptr;
    }

    auto* state = reinterpret_cast<std::uint32_t*>(static_cast<char*>(map) + controlOffset(size));
    std::atomic_ref<std::uint32_t> word(*state);
    bool created = false;
    std::uint32_t expected = kUninitialised;
    if (word.compare_exchange_strong(expected, kInitialising, std::memory_order_acq_rel)) {
        if (init)
            init(map, size);
        word.store(kReady, std::memory_order_release);
        created = true;
    } else {
        // Another process is initialising; wait for it, bounded. A creator
        // that died half-way leaves the section to whoever comes next.
        const auto until = std::chrono::steady_clock::now() + kInitWait;
        while (word.load(std::memory_order_acquire) != kReady) {
            if (std::chrono::steady_clock::now() > until) {
                expected = kInitialising;
                if (word.compare_exchange_strong(expected, kInitialising)) {
                    if (init)
                        init(map, size);
                    word.store(kReady, std::memory_order_release);
                    created = true;
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    return std::unique_ptr<SharedSection>(new SharedSection(objectName, map, mapSize, size, created));
}

const std::string& sharedObjectError() { return t_error; }

bool SharedSection::remove(std::string_view name)
{
    return ::shm_unlink(sessionObjectName(name).c_str()) == 0;
}

SharedSection::~SharedSection() { ::munmap(map_, mapSize_); }

// ---- robust mutex -----------------------------------------------------------

void initRobustMutex(void* pthreadMutex)
{
    pthread_mutexattr_t attr;
    ::pthread_mutexattr_init(&attr);
    ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    ::pthread_mutex_init(static_cast<pthread_mutex_t*>(pthreadMutex), &attr);
    ::pthread_mutexattr_destroy(&attr);
}

LockResult lockRobustMutex(void* pthreadMutex, std::chrono::milliseconds timeout)
{
    auto* m = static_cast<pthread_mutex_t*>(pthreadMutex);
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer of this toolchain sees neither clocklock nor an
    // owner-dead timedlock; it does see trylock, so poll with it there.
    const auto until = std::chrono::steady_clock::now() + timeout;
    auto attempt = [&] {
        for (;;) {
            const int r = ::pthread_mutex_trylock(m);
            if (r != EBUSY)
                return r;
            if (std::chrono::steady_clock::now() >= until)
                return ETIMEDOUT;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    };
#else
    const timespec deadline = monotonicDeadline(timeout);
    auto attempt = [&] { return ::pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline); };
#endif
    int rc = attempt();
    while (rc == EINTR)
        rc = attempt();
    switch (rc) {
    case 0:
        return LockResult::Acquired;
    case EOWNERDEAD:
        // The holder died: the data it guarded is whatever it left, which
        // for our users is always a complete copy or an older one.
        ::pthread_mutex_consistent(m);
        return LockResult::Abandoned;
    case ETIMEDOUT:
        return LockResult::Timeout;
    default:
        return LockResult::Failed;
    }
}

std::unique_ptr<NamedMutex> NamedMutex::open(std::string_view name)
{
    return openObject(sessionObjectName("mutex." + std::string(name)));
}

std::unique_ptr<NamedMutex> NamedMutex::openObject(const std::string& objectName)
{
    auto section = SharedSection::openObject(objectName, sizeof(pthread_mutex_t),
                                             [](void* bytes, std::size_t) { initRobustMutex(bytes); });
    if (!section)
        return nullptr;
    return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(section)));
}

LockResult NamedMutex::lock(std::chrono::milliseconds timeout)
{
    return lockRobustMutex(section_->data(), timeout);
}

void NamedMutex::unlock() { ::pthread_mutex_unlock(static_cast<pthread_mutex_t*>(section_->data())); }

// ---- event ------------------------------------------------------------------

namespace {
struct EventBlock {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    std::uint32_t manual;
    std::uint32_t signalled;
};
} // namespace

std::unique_ptr<NamedEvent> NamedEvent::open(std::string_view name, bool manualReset,
                                             bool initiallySet)
{
    auto section = SharedSection::open("event." + std::string(name), sizeof(EventBlock),
                                       [&](void* bytes, std::size_t) {
                                           auto* b = static_cast<EventBlock*>(bytes);
                                           initRobustMutex(&b->mutex);
                                           pthread_condattr_t attr;
                                           ::pthread_condattr_init(&attr);
                                           ::pthread_condattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
                                           ::pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
                                           ::pthread_cond_init(&b->cond, &attr);
                                           ::pthread_condattr_destroy(&attr);
                                           b->manual = manualReset ? 1 : 0;
                                           b->signalled = initiallySet ? 1 : 0;
                                       });
    if (!section)
        return nullptr;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(section)));
}

void NamedEvent::set()
{
    auto* b = static_cast<EventBlock*>(section_->data());
    if (!holds(lockRobustMutex(&b->mutex, std::chrono::milliseconds(1000))))
        return;
    b->signalled = 1;
    ::pthread_cond_broadcast(&b->cond);
    ::pthread_mutex_unlock(&b->mutex);
}

void NamedEvent::reset()
{
    auto* b = static_cast<EventBlock*>(section_->data());
    if (!holds(lockRobustMutex(&b->mutex, std::chrono::milliseconds(1000))))
        return;
    b->signalled = 0;
    ::pthread_mutex_unlock(&b->mutex);
}

std::uint32_t NamedEvent::wait(std::chrono::milliseconds timeout)
{
    auto* b = static_cast<EventBlock*>(section_->data());
    const timespec deadline = monotonicDeadline(timeout);
    if (!holds(lockRobustMutex(&b->mutex, timeout)))
        return kWaitTimeout;
    while (b->signalled == 0) {
        const int rc = ::pthread_cond_timedwait(&b->cond, &b->mutex, &deadline);
        if (rc == EOWNERDEAD)
            ::pthread_mutex_consistent(&b->mutex);
        else if (rc == ETIMEDOUT)
            break;
        else if (rc != 0 && rc != EINTR)
            break;
    }
    const bool got = b->signalled != 0;
    if (got && b->manual == 0)
        b->signalled = 0;
    ::pthread_mutex_unlock(&b->mutex);
    return got ? kWaitObject0 : kWaitTimeout;
}

} // namespace platform
