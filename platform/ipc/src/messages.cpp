#include "platform/messages.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/session.h"
#include "platform/shared.h"
#include "wire.h"

namespace platform {

namespace {

// ---- the session window table (shared memory) ---------------------------------

constexpr std::size_t kTableEntries = 256;
constexpr auto kTableLockWait = std::chrono::milliseconds(1000);
constexpr HWND kFirstHandle = 0x00010000;

struct TableEntry {
    std::uint32_t handle; // 0: free
    std::int32_t pid;
    std::uint64_t startTime; // guards against a reused pid
    std::uint32_t topLevel;
    char className[64];
    char title[128];
    char socket[100]; // abstract socket name of the owner, without the leading 0
};

struct TableBlock {
    pthread_mutex_t mutex;
    std::uint32_t nextHandle;
    std::uint32_t reserved;
    TableEntry entries[kTableEntries];
};

void copyText(char* dst, std::size_t cap, const std::string& src)
{
    const std::size_t n = std::min(cap - 1, src.size());
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// Start time of a process (clock ticks since boot) and whether it still
// runs; a zombie counts as dead.
bool processStart(int pid, std::uint64_t& start)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    const char* p = std::strrchr(buf, ')');
    if (p == nullptr)
        return false;
    p += 2; // state
    if (*p == 'Z' || *p == 'X')
        return false;
    // Field 22 (starttime) is the 20th after the state.
    for (int field = 0; field < 19 && *p != '\0'; ++field) {
        p = std::strchr(p, ' ');
        if (p == nullptr)
            return false;
        ++p;
    }
    start = std::strtoull(p, nullptr, 10);
    return true;
}

// Life of other processes, asked on every find (a client looks for the
// command window on each pose read): a process once checked by its start
// time is then watched through a pidfd, which reports its exit at the cost
// of one poll.
class ProcessWatch {
public:
    bool alive(int pid, std::uint64_t startTime)
    {
        std::lock_guard lock(mutex_);
        auto it = watched_.find(pid);
        if (it != watched_.end()) {
            if (it->second.startTime == startTime) {
                pollfd p{it->second.fd, POLLIN, 0};
                if (::poll(&p, 1, 0) == 0)
                    return true;
            }
            ::close(it->second.fd);
            watched_.erase(it);
        }
        std::uint64_t start = 0;
        if (!processStart(pid, start) || start != startTime)
            return false;
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (fd < 0)
            return true; // no pidfd here: the start time check stands
        // The pid could have been reused between the check and the open.
        if (!processStart(pid, start) || start != startTime) {
            ::close(fd);
            return false;
        }
        watched_[pid] = Watched{startTime, fd};
        return true;
    }
    ~ProcessWatch()
    {
        for (auto& [pid, w] : watched_)
            ::close(w.fd);
    }

private:
    struct Watched {
        std::uint64_t startTime;
        int fd;
    };
    std::mutex mutex_;
    std::unordered_map<int, Watched> watched_;
};

bool ownerAlive(const TableEntry& e)
{
    if (e.pid == ::getpid())
        return true;
    static ProcessWatch watch;
    return watch.alive(e.pid, e.startTime);
}

class WindowTable {
public:
    static WindowTable* current() { return forSession(currentSession()); }
    static WindowTable* forSession(const std::string& session)
    {
        static std::mutex mutex;
        static std::map<std::string, std::unique_ptr<WindowTable>, std::less<>> tables;
        std::lock_guard lock(mutex);
        auto it = tables.find(session);
        if (it != tables.end())
            return it->second.get();
        auto section = SharedSection::openObject("/" + session + ".windows", sizeof(TableBlock),
                                                 [](void* bytes, std::size_t) {
                                                     auto* block = static_cast<TableBlock*>(bytes);
                                                     initRobustMutex(&block->mutex);
                                                     block->nextHandle = kFirstHandle;
                                                 });
        if (!section)
            return nullptr;
        auto table = std::unique_ptr<WindowTable>(new WindowTable(std::move(section)));
        WindowTable* raw = table.get();
        tables.emplace(session, std::move(table));
        return raw;
    }

    // Runs `fn` on the block under its lock; false when the lock was not had.
    template <typename Fn>
    bool locked(Fn&& fn)
    {
        auto* block = static_cast<TableBlock*>(section_->data());
        if (!holds(lockRobustMutex(&block->mutex, kTableLockWait)))
            return false;
        fn(*block);
        ::pthread_mutex_unlock(&block->mutex);
        return true;
    }

private:
    explicit WindowTable(std::unique_ptr<SharedSection> s) : section_(std::move(s)) {}
    std::unique_ptr<SharedSection> section_;
};

// ---- queues ------------------------------------------------------------------------

struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::function<void(bool handled, LRESULT result)> complete;
    int senderPid; // the process that sent it
    bool done = false;

    SentMessage(HWND h, UINT m, WPARAM w, LPARAM l, std::function<void(bool, LRESULT)> c, int pid = ::getpid())
        : hwnd(h), message(m), wParam(w), lParam(l), complete(std::move(c)), senderPid(pid)
    {
    }
    SentMessage(const SentMessage&) = delete;
    SentMessage& operator=(const SentMessage&) = delete;

    void finish(bool handled, LRESULT result)
    {
        if (done)
            return;
        done = true;
        if (complete)
            complete(handled, result);
    }
    ~SentMessage() { finish(false, 0); }
};

struct Timer {
    HWND hwnd;
    std::uintptr_t id;
    Duration interval;
    Duration due;
};

std::atomic<Clock*> g_clock{nullptr};
Clock& messageClock()
{
    Clock* c = g_clock.load(std::memory_order_acquire);
    return c != nullptr ? *c : systemClock();
}

class ThreadQueue {
public:
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Msg> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    std::uint64_t timerChanges = 0; // a timer set or killed: a wait for the next one looks again
    bool closed = false;
    // Made by the owner thread on request (queueWakeDescriptor); written by
    // whoever gives the queue something, so a loop that polls it wakes.
    std::atomic<int> wakeFd{-1};

    ThreadQueue() = default;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;
    ~ThreadQueue()
    {
        if (const int fd = wakeFd.load(); fd >= 0)
            ::close(fd);
    }

    // When the next timer is due on the message clock (Duration::max() when
    // there is none); with the mutex held.
    Duration nextDue() const
    {
        Duration due = Duration::max();
        for (const Timer& t : timers)
            due = std::min(due, t.due);
        return due;
    }

    // Wakes the owner, waiting in waitMessage or in a loop over wakeFd.
    void notify()
    {
        cv.notify_all();
        if (const int fd = wakeFd.load(std::memory_order_acquire); fd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
        }
    }
    void post(const Msg& m)
    {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return;
            posted.push_back(m);
        }
        notify();
    }
    bool pushSent(std::shared_ptr<SentMessage> m)
    {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return false;
            sent.push_back(std::move(m));
        }
        notify();
        return true;
    }
};

struct LocalWindow {
    std::shared_ptr<WindowProc> proc;
    std::weak_ptr<ThreadQueue> queue;
    bool topLevel;
    std::string session; // the window table it is listed in
};

// Windows of this process (of this copy of the layer).
struct LocalWindows {
    std::mutex mutex;
    std::unordered_map<HWND, LocalWindow> map;
};
LocalWindows& locals()
{
    static LocalWindows w;
    return w;
}

std::optional<LocalWindow> findLocal(HWND h)
{
    auto& l = locals();
    std::lock_guard lock(l.mutex);
    auto it = l.map.find(h);
    if (it == l.map.end())
        return std::nullopt;
    return it->second;
}

void removeFromTable(HWND h, const std::string& session)
{
    if (WindowTable* t = WindowTable::forSession(session)) {
        t->locked([&](TableBlock& b) {
            for (auto& e : b.entries)
                if (e.handle == h)
                    std::memset(&e, 0, sizeof e);
        });
    }
}

bool destroyLocal(HWND h, bool onOwner);

struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    ~QueueHolder()
    {
        // The thread ends: its windows go, and senders still waiting on it
        // hear that their message was not handled.
        std::vector<HWND> mine;
        {
            auto& l = locals();
            std::lock_guard lock(l.mutex);
            for (auto& [h, w] : l.map)
                if (w.queue.lock() == queue)
                    mine.push_back(h);
        }
        for (HWND h : mine)
            destroyLocal(h, false);
        std::deque<std::shared_ptr<SentMessage>> pending;
        {
            std::lock_guard lock(queue->mutex);
            queue->closed = true;
            pending.swap(queue->sent);
            queue->posted.clear();
        }
        pending.clear();
    }
};

QueueHolder& holder()
{
    thread_local QueueHolder h;
    return h;
}
ThreadQueue& currentQueue() { return *holder().queue; }
std::shared_ptr<ThreadQueue> currentQueueShared() { return holder().queue; }

// ---- the process's message socket ---------------------------------------------

// Connections a process keeps open at once: those whose request is not read
// yet and those whose send awaits its answer. Commands come one at a time
// from each client, so this is far above any real use.
constexpr std::size_t kMaxConnections = 64;
// How long an accepted connection may sit without its (whole) request.
constexpr auto kRequestWait = std::chrono::milliseconds(1000);
// After accept fails for want of descriptors or memory, the listener is left
// alone this long instead of being polled (it stays readable: polling it at
// once again would spin).
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

// Peer credentials of a connected socket; nullopt when the kernel gives none.
std::optional<ucred> peerCredentials(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return std::nullopt;
    return cred;
}

class Receiver {
public:
    static Receiver& instance()
    {
        static Receiver r;
        return r;
    }

    // The abstract socket name this process answers on in the current
    // session, binding it on first use; empty when that fails.
    std::string endpoint()
    {
        const std::string session = sessionName();
        std::lock_guard lock(mutex_);
        auto it = names_.find(session);
        if (it != names_.end())
            return it->second;
        char tag[32];
        std::snprintf(tag, sizeof tag, ".ipc.%d.%lx", ::getpid(),
                      static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this) & 0xffffff));
        std::string name = session + tag;
        if (name.size() >= sizeof(TableEntry::socket))
            name = "orvane" + std::string(tag);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return {};
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path + 1, name.data(), name.size());
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 64) != 0) {
            ::close(fd);
            return {};
        }
        listeners_.push_back(fd);
        names_.emplace(session, name);
        if (!thread_.joinable()) {
            wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            thread_ = std::thread([this] { run(); });
        } else {
            wakeUp();
        }
        return name;
    }

    ~Receiver()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        if (thread_.joinable()) {
            wakeUp();
            thread_.join();
        }
        for (int fd : listeners_)
            ::close(fd);
        if (wake_ >= 0)
            ::close(wake_);
    }

private:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        int fd;
        Clock::time_point since;
        int peerPid; // from the peer credentials
    };

    void wakeUp()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    }

    void run()
    {
        std::deque<Pending> pending; // accepted, request not yet read
        Clock::time_point acceptPausedUntil{};
        for (;;) {
            const auto now = Clock::now();
            // A connection that did not bring its request in time goes.
            while (!pending.empty() && now - pending.front().since >= kRequestWait) {
                ::close(pending.front().fd);
                pending.pop_front();
            }
            const bool accepting = now >= acceptPausedUntil;
            std::vector<pollfd> fds;
            {
                std::lock_guard lock(mutex_);
                if (stop_)
                    break;
                fds.push_back({wake_, POLLIN, 0});
                if (accepting)
                    for (int fd : listeners_)
                        fds.push_back({fd, POLLIN, 0});
            }
            const std::size_t firstPending = fds.size();
            for (const Pending& p : pending)
                fds.push_back({p.fd, POLLIN, 0});
            // Sleep until something happens, the oldest connection's time
            // is up or the listener may be polled again.
            auto until = now + std::chrono::milliseconds(1000);
            if (!pending.empty())
                until = std::min(until, pending.front().since + kRequestWait);
            if (!accepting)
                until = std::min(until, acceptPausedUntil);
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
            if (::poll(fds.data(), fds.size(), static_cast<int>(wait)) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN) {
                std::uint64_t v;
                [[maybe_unused]] ssize_t n = ::read(wake_, &v, sizeof v);
            }
            // Serve what arrived; the rest keep their order (oldest first).
            std::deque<Pending> still;
            for (std::size_t i = firstPending; i < fds.size(); ++i) {
                const Pending& p = pending[i - firstPending];
                if (fds[i].revents == 0)
                    still.push_back(p);
                else
                    serve(p);
            }
            pending.swap(still);
            for (std::size_t i = 1; i < firstPending; ++i) {
                if ((fds[i].revents & POLLIN) != 0 && !acceptAll(fds[i].fd, pending))
                    acceptPausedUntil = Clock::now() + kAcceptPause;
            }
        }
        for (const Pending& p : pending)
            ::close(p.fd);
    }

    // Accepts every waiting connection of a listener. Peers of another user
    // are closed at once; when the process has its fill of connections, the
    // oldest unread one makes room. False when accept failed for want of
    // resources (the caller pauses the listener).
    bool acceptAll(int listener, std::deque<Pending>& pending)
    {
        for (;;) {
            const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            const auto cred = peerCredentials(c);
            if (!cred || cred->uid != ::geteuid()) {
                ::close(c);
                continue;
            }
            if (pending.size() + inFlight_->load() >= kMaxConnections) {
                if (pending.empty()) {
                    ::close(c);
                    continue;
                }
                ::close(pending.front().fd);
                pending.pop_front();
            }
            pending.push_back({c, Clock::now(), static_cast<int>(cred->pid)});
        }
    }

    // Reads the request of a connection and hands it to the window's owner;
    // a send keeps the connection until the owner answers.
    void serve(const Pending& p)
    {
        const int fd = p.fd;
        std::uint8_t frame[wire::kMaxFrame];
        const ssize_t n = ::recv(fd, frame, sizeof frame, MSG_TRUNC | MSG_DONTWAIT);
        const auto req = n > 0 && static_cast<std::size_t>(n) <= sizeof frame
                             ? wire::parseRequest(std::span<const std::uint8_t>(frame, static_cast<std::size_t>(n)))
                             : std::nullopt;
        if (!req) {
            ::close(fd);
            return;
        }
        auto w = findLocal(req->hwnd);
        auto queue = w ? w->queue.lock() : nullptr;
        if (req->kind == wire::kPost) {
            if (queue)
                queue->post({req->hwnd, req->message, static_cast<WPARAM>(req->wParam),
                             static_cast<LPARAM>(req->lParam)});
            ::close(fd);
            return;
        }
        inFlight_->fetch_add(1);
        auto reply = [fd, inFlight = inFlight_](bool handled, LRESULT result) {
            const wire::Reply r{wire::kMagic, handled ? 1u : 0u, static_cast<std::int64_t>(result)};
            // The sender waits for this in a poll; a full buffer means it is gone.
            [[maybe_unused]] ssize_t s = ::send(fd, &r, sizeof r, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            inFlight->fetch_sub(1);
        };
        auto sent = std::make_shared<SentMessage>(req->hwnd, req->message, static_cast<WPARAM>(req->wParam),
                                                  static_cast<LPARAM>(req->lParam), reply, p.peerPid);
        if (!queue || !queue->pushSent(sent))
            sent->finish(false, 0);
    }

    std::mutex mutex_;
    std::map<std::string, std::string> names_;
    std::vector<int> listeners_;
    int wake_ = -1;
    bool stop_ = false;
    // Sends handed to an owner thread and not answered yet; shared with the
    // answers, which may come after this object is gone at exit.
    std::shared_ptr<std::atomic<std::size_t>> inFlight_ = std::make_shared<std::atomic<std::size_t>>(0);
    std::thread thread_;
};

struct RemoteTarget {
    int pid = 0;
    std::string socket;
};

std::optional<RemoteTarget> lookupRemote(HWND h)
{
    WindowTable* t = WindowTable::current();
    if (t == nullptr)
        return std::nullopt;
    std::optional<RemoteTarget> out;
    t->locked([&](TableBlock& b) {
        for (auto& e : b.entries)
            if (e.handle == h && ownerAlive(e)) {
                out = RemoteTarget{e.pid, e.socket};
                return;
            }
    });
    return out;
}

// Connects to the owner's socket; -1 when that fails or does not end
// within `timeout`, or when the socket is not held by the owner process
// the table names, of this user (a name taken over by another process).
int connectTo(const RemoteTarget& target, std::chrono::milliseconds timeout)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // The send time-out bounds connect (a peer whose backlog is full) and
    // the request's send alike.
    const auto ms = std::max<std::int64_t>(timeout.count(), 1);
    const timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t n = std::min(target.socket.size(), sizeof addr.sun_path - 2);
    std::memcpy(addr.sun_path + 1, target.socket.data(), n);
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
    } while (rc != 0 && errno == EINTR);
    const auto cred = rc == 0 ? peerCredentials(fd) : std::nullopt;
    if (!cred || cred->uid != ::geteuid() || cred->pid != target.pid) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<LRESULT> remoteCall(HWND h, std::uint32_t kind, UINT message, WPARAM wParam,
                                  LPARAM lParam, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    };
    auto target = lookupRemote(h);
    if (!target)
        return std::nullopt;
    const int fd = connectTo(*target, left());
    if (fd < 0)
        return std::nullopt;
    const wire::Request req{wire::kMagic, kind, h, message, static_cast<std::uint64_t>(wParam),
                            static_cast<std::int64_t>(lParam)};
    if (::send(fd, &req, sizeof req, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof req)) {
        ::close(fd);
        return std::nullopt;
    }
    if (kind == wire::kPost) {
        ::close(fd);
        return 0;
    }
    std::optional<LRESULT> out;
    for (;;) {
        const auto ms = left().count();
        if (ms < 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(ms) + 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        std::uint8_t frame[wire::kMaxFrame];
        const ssize_t n = ::recv(fd, frame, sizeof frame, MSG_TRUNC | MSG_DONTWAIT);
        if (n > 0 && static_cast<std::size_t>(n) <= sizeof frame)
            if (const auto reply = wire::parseReply(std::span<const std::uint8_t>(frame, static_cast<std::size_t>(n)));
                reply && reply->handled != 0)
                out = static_cast<LRESULT>(reply->result);
        break; // answer, or end of connection: the owner is gone
    }
    ::close(fd);
    return out;
}

// The sender of the sent message whose procedure runs on this thread.
thread_local int t_senderPid = 0;

// Handles every sent message waiting in `q`, on its owner thread.
void runSent(ThreadQueue& q)
{
    for (;;) {
        std::shared_ptr<SentMessage> m;
        {
            std::lock_guard lock(q.mutex);
            if (q.sent.empty())
                return;
            m = std::move(q.sent.front());
            q.sent.pop_front();
        }
        auto w = findLocal(m->hwnd);
        if (w) {
            const int outer = t_senderPid;
            t_senderPid = m->senderPid;
            const LRESULT result = (*w->proc)(m->hwnd, m->message, m->wParam, m->lParam);
            t_senderPid = outer;
            m->finish(true, result);
        } else {
            m->finish(false, 0);
        }
    }
}

// Takes the next posted or due timer message. Caller holds q.mutex.
bool takeLocked(ThreadQueue& q, Msg& out, bool remove)
{
    if (!q.posted.empty()) {
        out = q.posted.front();
        if (remove)
            q.posted.pop_front();
        return true;
    }
    if (!q.timers.empty()) {
        const Duration now = messageClock().now();
        for (auto& t : q.timers)
            if (now >= t.due) {
                out = Msg{t.hwnd, WM_TIMER, t.id, 0};
                if (remove)
                    t.due = now + t.interval;
                return true;
            }
    }
    return false;
}

bool destroyLocal(HWND h, bool onOwner)
{
    LocalWindow w;
    {
        auto& l = locals();
        std::lock_guard lock(l.mutex);
        auto it = l.map.find(h);
        if (it == l.map.end())
            return false;
        w = it->second;
    }
    if (onOwner)
        (*w.proc)(h, WM_DESTROY, 0, 0);
    {
        auto& l = locals();
        std::lock_guard lock(l.mutex);
        l.map.erase(h);
    }
    if (auto q = w.queue.lock()) {
        std::lock_guard lock(q->mutex);
        std::erase_if(q->timers, [h](const Timer& t) { return t.hwnd == h; });
    }
    removeFromTable(h, w.session);
    return true;
}

} // namespace

// ---- public operations -------------------------------------------------------------

bool openWindowTable() { return WindowTable::current() != nullptr; }

HWND createWindow(const WindowDesc& desc, WindowProc proc)
{
    if (!proc)
        return 0;
    WindowTable* table = WindowTable::current();
    if (table == nullptr)
        return 0;
    const std::string endpoint = Receiver::instance().endpoint();
    if (endpoint.empty())
        return 0;
    std::uint64_t start = 0;
    processStart(::getpid(), start);
    HWND handle = 0;
    table->locked([&](TableBlock& b) {
        TableEntry* slot = nullptr;
        for (auto& e : b.entries) {
            if (e.handle == 0 || !ownerAlive(e)) {
                slot = &e;
                break;
            }
        }
        if (slot == nullptr || b.nextHandle == 0)
            return;
        handle = b.nextHandle++;
        std::memset(slot, 0, sizeof *slot);
        slot->handle = handle;
        slot->pid = ::getpid();
        slot->startTime = start;
        slot->topLevel = desc.topLevel ? 1 : 0;
        copyText(slot->className, sizeof slot->className, desc.className);
        copyText(slot->title, sizeof slot->title, desc.title);
        copyText(slot->socket, sizeof slot->socket, endpoint);
    });
    if (handle == 0)
        return 0;
    auto& l = locals();
    std::lock_guard lock(l.mutex);
    l.map[handle] = LocalWindow{std::make_shared<WindowProc>(std::move(proc)), currentQueueShared(),
                                desc.topLevel, sessionName()};
    return handle;
}

bool destroyWindow(HWND hwnd)
{
    auto w = findLocal(hwnd);
    if (!w)
        return false;
    const bool onOwner = w->queue.lock().get() == &currentQueue();
    return destroyLocal(hwnd, onOwner);
}

bool isWindow(HWND hwnd)
{
    // Runs on every frame (the watchdog): no copies, no allocation.
    if (hwnd == 0)
        return false;
    {
        auto& l = locals();
        std::lock_guard lock(l.mutex);
        if (l.map.count(hwnd) != 0)
            return true;
    }
    WindowTable* t = WindowTable::current();
    bool alive = false;
    if (t != nullptr) {
        t->locked([&](TableBlock& b) {
            for (auto& e : b.entries)
                if (e.handle == hwnd) {
                    alive = ownerAlive(e);
                    return;
                }
        });
    }
    return alive;
}

HWND findWindow(const char* className, const char* title)
{
    WindowTable* t = WindowTable::current();
    if (t == nullptr)
        return 0;
    HWND found = 0;
    t->locked([&](TableBlock& b) {
        for (auto& e : b.entries) {
            if (e.handle == 0 || e.topLevel == 0)
                continue;
            if (className != nullptr && std::strcmp(e.className, className) != 0)
                continue;
            if (title != nullptr && std::strcmp(e.title, title) != 0)
                continue;
            if (!ownerAlive(e)) {
                std::memset(&e, 0, sizeof e); // its process died without tidying up
                continue;
            }
            found = e.handle;
            return;
        }
    });
    return found;
}

std::string windowTitle(HWND hwnd)
{
    std::string out;
    if (WindowTable* t = WindowTable::current()) {
        t->locked([&](TableBlock& b) {
            for (auto& e : b.entries)
                if (e.handle == hwnd && hwnd != 0 && ownerAlive(e))
                    out = e.title;
        });
    }
    return out;
}

bool postMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == 0) {
        currentQueue().post({0, message, wParam, lParam});
        return true;
    }
    if (auto w = findLocal(hwnd)) {
        auto q = w->queue.lock();
        if (!q)
            return false;
        q->post({hwnd, message, wParam, lParam});
        return true;
    }
    return remoteCall(hwnd, wire::kPost, message, wParam, lParam, kDefaultSendTimeout).has_value();
}

void postQuitMessage(int exitCode)
{
    currentQueue().post({0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

std::optional<LRESULT> sendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   std::chrono::milliseconds timeout)
{
    if (hwnd == 0)
        return std::nullopt;
    auto w = findLocal(hwnd);
    if (!w)
        return remoteCall(hwnd, wire::kSend, message, wParam, lParam, timeout);
    auto q = w->queue.lock();
    if (!q)
        return std::nullopt;
    if (q.get() == &currentQueue()) {
        const int outer = t_senderPid;
        t_senderPid = ::getpid();
        const LRESULT result = (*w->proc)(hwnd, message, wParam, lParam);
        t_senderPid = outer;
        return result;
    }

    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool handled = false;
        LRESULT result = 0;
    };
    auto state = std::make_shared<State>();
    auto sent = std::make_shared<SentMessage>(hwnd, message, wParam, lParam,
                                                          [state](bool handled, LRESULT result) {
                                                              std::lock_guard lock(state->mutex);
                                                              state->done = true;
                                                              state->handled = handled;
                                                              state->result = result;
                                                              state->cv.notify_all();
                                                          });
    if (!q->pushSent(sent)) {
        sent->done = true;
        return std::nullopt;
    }
    sent.reset();
    std::unique_lock lock(state->mutex);
    if (!state->cv.wait_for(lock, timeout, [&] { return state->done; }) || !state->handled)
        return std::nullopt;
    return state->result;
}

int messageSenderPid() { return t_senderPid; }

bool peekMessage(Msg& out, bool remove)
{
    ThreadQueue& q = currentQueue();
    runSent(q);
    std::lock_guard lock(q.mutex);
    return takeLocked(q, out, remove);
}

bool waitMessage(std::chrono::milliseconds timeout)
{
    ThreadQueue& q = currentQueue();
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        runSent(q);
        std::unique_lock lock(q.mutex);
        Msg m;
        if (takeLocked(q, m, false))
            return true;
        if (!q.sent.empty())
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return false;
        auto slice = until - now;
        if (!q.timers.empty()) {
            // On the system clock, sleep until the next one is due (setting or
            // killing a timer wakes the wait); a test clock moves by itself,
            // so then look again at least every 10 ms.
            std::chrono::steady_clock::duration next = std::chrono::milliseconds(10);
            if (messageClockIsSystem())
                next = std::chrono::duration_cast<std::chrono::steady_clock::duration>(q.nextDue() -
                                                                                       messageClock().now()) +
                       std::chrono::microseconds(100);
            slice = std::min(slice, next);
        }
        const std::uint64_t timerChanges = q.timerChanges;
        q.cv.wait_for(lock, slice,
                      [&] { return !q.posted.empty() || !q.sent.empty() || q.timerChanges != timerChanges; });
    }
}

int getMessage(Msg& out)
{
    for (;;) {
        if (peekMessage(out, true))
            return out.message == WM_QUIT ? 0 : 1;
        waitMessage(std::chrono::milliseconds(1000));
    }
}

int queueWakeDescriptor()
{
    ThreadQueue& q = currentQueue();
    int fd = q.wakeFd.load(std::memory_order_acquire);
    if (fd < 0) {
        fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0)
            return -1;
        q.wakeFd.store(fd, std::memory_order_release);
        // What came before the descriptor existed is not lost: look now.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
    return fd;
}

void clearQueueWake()
{
    if (const int fd = currentQueue().wakeFd.load(std::memory_order_acquire); fd >= 0) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    }
}

std::optional<std::chrono::milliseconds> nextTimerDue()
{
    ThreadQueue& q = currentQueue();
    std::lock_guard lock(q.mutex);
    if (q.timers.empty())
        return std::nullopt;
    const Duration left = q.nextDue() - messageClock().now();
    if (left <= Duration::zero())
        return std::chrono::milliseconds(0);
    // Rounded up: a loop woken before the due time would only find nothing.
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

bool messageClockIsSystem() { return g_clock.load(std::memory_order_acquire) == nullptr; }

LRESULT dispatchMessage(const Msg& msg)
{
    if (msg.hwnd == 0)
        return 0;
    auto w = findLocal(msg.hwnd);
    if (!w)
        return 0;
    return (*w->proc)(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

bool setTimer(HWND hwnd, std::uintptr_t id, std::uint32_t elapseMs)
{
    auto w = findLocal(hwnd);
    auto q = w ? w->queue.lock() : nullptr;
    if (!q)
        return false;
    const Duration interval = std::chrono::milliseconds(std::max<std::uint32_t>(elapseMs, 1));
    {
        std::lock_guard lock(q->mutex);
        const Duration due = messageClock().now() + interval;
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        if (it != q->timers.end()) {
            it->interval = interval;
            it->due = due;
        } else {
            q->timers.push_back({hwnd, id, interval, due});
        }
        ++q->timerChanges;
    }
    q->notify();
    return true;
}

bool killTimer(HWND hwnd, std::uintptr_t id)
{
    auto w = findLocal(hwnd);
    auto q = w ? w->queue.lock() : nullptr;
    if (!q)
        return false;
    bool killed;
    {
        std::lock_guard lock(q->mutex);
        const auto before = q->timers.size();
        std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        killed = q->timers.size() != before;
        if (killed)
            ++q->timerChanges;
    }
    // A loop that sleeps until this timer's time looks again.
    if (killed)
        q->notify();
    return killed;
}

void setMessageClock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

} // namespace platform
