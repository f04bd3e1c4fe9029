#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <future>
#include <thread>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "../src/wire.h"
#include "peer_process.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "testing/other_user.h"
#include "testing/temp_session.h"
#include "testing/test_clock.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// A window on a thread of its own, pumping until WM_QUIT.
class WindowThread {
public:
    explicit WindowThread(std::string title, WindowProc proc = {})
    {
        thread_ = std::thread([this, title, proc] {
            hwnd_ = createWindow({"TestClass", title, true}, [this, proc](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                if (m == WM_USER + 1)
                    return static_cast<LRESULT>(w) * 10 + l;
                if (m >= WM_USER + 10)
                    received_.fetch_add(1);
                return proc ? proc(h, m, w, l) : 0;
            });
            ready_.set();
            Msg msg;
            while (getMessage(msg) != 0)
                dispatchMessage(msg);
            destroyWindow(hwnd_);
        });
        ready_.wait(5000);
    }
    ~WindowThread()
    {
        postMessage(hwnd_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    int received() const { return received_.load(); }

private:
    Event ready_;
    std::atomic<HWND> hwnd_{0};
    std::atomic<int> received_{0};
    std::thread thread_;
};

class MessagesTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
};

TEST_F(MessagesTest, SendRunsOnOwnerThreadAndPostIsQueued)
{
    std::thread::id ownerId;
    WindowThread w("Owner", [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER + 2)
            ownerId = std::this_thread::get_id();
        return 7;
    });
    ASSERT_NE(w.hwnd(), 0u);
    EXPECT_EQ(sendMessage(w.hwnd(), WM_USER + 1, 4, 2), 42);
    EXPECT_EQ(sendMessage(w.hwnd(), WM_USER + 2, 0, 0), 7);
    EXPECT_NE(ownerId, std::this_thread::get_id());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(postMessage(w.hwnd(), WM_USER + 10, 0, 0));
    sendMessage(w.hwnd(), WM_NULL, 0, 0); // posts before it are not overtaken by much
    for (int i = 0; i < 200 && w.received() < 5; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(w.received(), 5);
}

TEST_F(MessagesTest, HandlesAreUniqueAndFoundByClassOrTitle)
{
    std::set<HWND> seen;
    for (int i = 0; i < 5; ++i) {
        const HWND h = createWindow({"Cls", "Temp", true}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle reused";
        EXPECT_TRUE(isWindow(h));
        EXPECT_EQ(findWindow(nullptr, "Temp"), h);
        EXPECT_EQ(findWindow("Cls", nullptr), h);
        EXPECT_EQ(findWindow("Other", "Temp"), 0u);
        EXPECT_TRUE(destroyWindow(h));
        EXPECT_FALSE(isWindow(h));
        EXPECT_EQ(findWindow(nullptr, "Temp"), 0u);
        EXPECT_FALSE(sendMessage(h, WM_USER + 1, 0, 0).has_value());
        EXPECT_FALSE(postMessage(h, WM_USER, 0, 0));
    }
    EXPECT_FALSE(isWindow(0));
    const HWND child = createWindow({"Cls", "Child", false}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    EXPECT_EQ(findWindow(nullptr, "Child"), 0u); // only top-level windows are found
    EXPECT_TRUE(isWindow(child));
    destroyWindow(child);
}

TEST_F(MessagesTest, SendToThreadThatEndsOrHangsFails)
{
    Event inHandler;
    Event release;
    std::thread owner;
    std::atomic<HWND> h{0};
    Event created;
    owner = std::thread([&] {
        h = createWindow({"C", "Slow", true}, [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
            if (m == WM_USER) {
                inHandler.set();
                release.wait(5000);
            }
            return 1;
        });
        created.set();
        Msg msg;
        // Handle exactly one sent message, then end the thread with a
        // second one still waiting.
        while (!inHandler.isSet())
            waitMessage(10ms);
        (void)msg;
    });
    created.wait(5000);
    std::thread first([&] { EXPECT_FALSE(sendMessage(h, WM_USER, 0, 0, 50ms).has_value()); });
    first.join(); // timed out while the owner is busy
    release.set();
    owner.join();
    EXPECT_FALSE(sendMessage(h, WM_USER + 1, 0, 0, 1000ms).has_value()); // owner thread is gone
    EXPECT_FALSE(isWindow(h));
}

TEST_F(MessagesTest, TimersFollowTheMessageClock)
{
    testing_support::TestClock clock;
    setMessageClock(&clock);
    const HWND h = createWindow({"C", "Timer", true}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_TRUE(setTimer(h, 7, 1000));
    Msg m;
    EXPECT_FALSE(peekMessage(m));
    clock.advanceMs(999);
    EXPECT_FALSE(peekMessage(m));
    clock.advanceMs(1);
    ASSERT_TRUE(peekMessage(m));
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_EQ(m.hwnd, h);
    EXPECT_FALSE(peekMessage(m)); // rearmed for another 1000 ms
    clock.advanceMs(1000);
    EXPECT_TRUE(waitMessage(1000ms));
    EXPECT_TRUE(killTimer(h, 7));
    EXPECT_FALSE(peekMessage(m));
    EXPECT_FALSE(killTimer(h, 7));
    destroyWindow(h);
    setMessageClock(nullptr);
}

// A thread whose loop polls descriptors (the GUI thread) learns of its
// queue's work from one descriptor; nothing of it needs a timer.
TEST_F(MessagesTest, TheQueueDescriptorTurnsReadableForPostsSendsAndTimers)
{
    // The queue of a thread of its own, so that no other test's messages are in it.
    std::thread owner([] {
        const int fd = queueWakeDescriptor();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(queueWakeDescriptor(), fd);
        auto readable = [fd](int ms = 0) {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, ms) == 1;
        };
        EXPECT_TRUE(readable()) << "what came before the descriptor is looked at";
        clearQueueWake();
        EXPECT_FALSE(readable());

        std::atomic<int> handled{0};
        const HWND h = createWindow({"WakeTest", "wake", false}, [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
            if (m == WM_USER + 8)
                handled.fetch_add(1);
            return 7;
        });
        ASSERT_NE(h, 0u);
        std::thread([h] { postMessage(h, WM_USER + 7, 0, 0); }).join();
        EXPECT_TRUE(readable());
        clearQueueWake();
        Msg m;
        ASSERT_TRUE(peekMessage(m));
        EXPECT_EQ(m.message, WM_USER + 7);
        EXPECT_FALSE(readable());

        std::optional<LRESULT> answer;
        std::thread sender([&] { answer = sendMessage(h, WM_USER + 8, 0, 0, 5000ms); });
        EXPECT_TRUE(readable(5000)) << "a send wakes the loop";
        clearQueueWake();
        EXPECT_FALSE(peekMessage(m));  // runs the sent message; nothing was posted
        sender.join();
        EXPECT_EQ(handled.load(), 1);
        EXPECT_EQ(answer, 7);

        EXPECT_FALSE(nextTimerDue().has_value());
        ASSERT_TRUE(setTimer(h, 3, 250));
        EXPECT_TRUE(readable()) << "a new timer changes how long the loop may sleep";
        clearQueueWake();
        const auto due = nextTimerDue();
        ASSERT_TRUE(due.has_value());
        EXPECT_GT(due->count(), 0);
        EXPECT_LE(due->count(), 250);
        ASSERT_TRUE(killTimer(h, 3));
        EXPECT_TRUE(readable());
        EXPECT_FALSE(nextTimerDue().has_value());
        destroyWindow(h);
    });
    owner.join();
}

TEST_F(MessagesTest, TheNextTimerIsDueOnTheMessageClock)
{
    testing_support::TestClock clock;
    setMessageClock(&clock);
    EXPECT_FALSE(messageClockIsSystem());
    std::thread owner([&] {
        const HWND h = createWindow({"WakeTest", "due", false}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        ASSERT_TRUE(setTimer(h, 4, 1000));
        ASSERT_TRUE(setTimer(h, 5, 3000));
        EXPECT_EQ(nextTimerDue(), 1000ms);
        clock.advanceMs(400);
        EXPECT_EQ(nextTimerDue(), 600ms);
        clock.advanceMs(700);
        EXPECT_EQ(nextTimerDue(), 0ms);
        Msg m;
        ASSERT_TRUE(peekMessage(m));
        EXPECT_EQ(m.wParam, 4u);
        EXPECT_EQ(nextTimerDue(), 1000ms);  // rearmed from now
        destroyWindow(h);
    });
    owner.join();
    setMessageClock(nullptr);
    EXPECT_TRUE(messageClockIsSystem());
}

// On the system clock a wait sleeps until the next timer is due; a sooner
// timer that another thread sets meanwhile ends that sleep in its time.
TEST_F(MessagesTest, ASoonerTimerSetDuringAWaitEndsIt)
{
    ASSERT_TRUE(messageClockIsSystem());
    std::thread owner([] {
        const HWND h = createWindow({"WakeTest", "sooner", false}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        ASSERT_TRUE(setTimer(h, 1, 60000));
        std::thread setter([h] {
            std::this_thread::sleep_for(50ms); // the owner is waiting by then
            setTimer(h, 2, 1);
        });
        // The wait ends for the sooner timer, long before its own time is up
        // (which a wait that slept on would find the timer at too).
        const auto start = std::chrono::steady_clock::now();
        const bool woke = waitMessage(1500ms);
        const auto waited = std::chrono::steady_clock::now() - start;
        setter.join();
        EXPECT_TRUE(woke);
        EXPECT_LT(waited, 1000ms);
        Msg m;
        ASSERT_TRUE(peekMessage(m));
        EXPECT_EQ(m.message, WM_TIMER);
        EXPECT_EQ(m.wParam, 2u);
        destroyWindow(h);
    });
    owner.join();
}

TEST_F(MessagesTest, QuitEndsGetMessageAndPostToNoWindowGoesToThisThread)
{
    EXPECT_TRUE(postMessage(0, WM_USER + 3, 1, 2));
    postQuitMessage(5);
    Msg m;
    ASSERT_EQ(getMessage(m), 1);
    EXPECT_EQ(m.message, WM_USER + 3);
    EXPECT_EQ(m.hwnd, 0u);
    EXPECT_EQ(dispatchMessage(m), 0);
    ASSERT_EQ(getMessage(m), 0);
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_FALSE(waitMessage(1ms));
}

TEST_F(MessagesTest, CrossProcessSendPostFindAndDeath)
{
    peer::Process server({IPC_PEER, "server", "PeerTitle"});
    const std::string line = server.readLine();
    ASSERT_FALSE(line.empty());
    const HWND remote = static_cast<HWND>(std::stoul(line));
    EXPECT_EQ(findWindow(nullptr, "PeerTitle"), remote);
    EXPECT_EQ(findWindow("PeerClass", nullptr), remote);
    EXPECT_EQ(windowTitle(remote), "PeerTitle");
    EXPECT_TRUE(isWindow(remote));
    EXPECT_EQ(sendMessage(remote, WM_USER + 1, 40, 2), 42);

    // The peer posts back to a window of ours.
    std::atomic<int> got{0};
    const HWND mine = createWindow({"C", "Mine", true}, [&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER + 3 && w == 77 && static_cast<HWND>(l) == remote)
            got.fetch_add(1);
        return 0;
    });
    EXPECT_EQ(sendMessage(remote, WM_USER + 2, 77, mine), 1);
    Msg m;
    for (int i = 0; i < 500 && got.load() == 0; ++i)
        if (waitMessage(10ms) && peekMessage(m))
            dispatchMessage(m);
    EXPECT_EQ(got.load(), 1);

    // A handler slower than the sender's patience: the send fails in time.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(sendMessage(remote, WM_USER + 4, 300, 0, 30ms).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 250ms);

    // The owner dies inside the handler: failure, not a result.
    EXPECT_FALSE(sendMessage(remote, WM_USER + 9, 0, 0).has_value());
    server.wait();
    EXPECT_FALSE(isWindow(remote));
    EXPECT_EQ(findWindow(nullptr, "PeerTitle"), 0u);
    EXPECT_FALSE(postMessage(remote, WM_USER, 0, 0));
    destroyWindow(mine);
}

TEST_F(MessagesTest, AHandlerKnowsTheProcessThatSentItsMessage)
{
    peer::Process server({IPC_PEER, "server", "PidPeer"});
    const HWND remote = static_cast<HWND>(std::stoul(server.readLine()));
    // The peer's handler sees this process.
    EXPECT_EQ(sendMessage(remote, WM_USER + 5, 0, 0), ::getpid());
    // Ours sees the peer for its message, and this process for one of ours.
    std::atomic<int> seen{-1};
    WindowThread w("PidOwner", [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER + 7)
            seen = messageSenderPid();
        return 7;
    });
    EXPECT_EQ(sendMessage(remote, WM_USER + 6, 0, w.hwnd()), 7);
    EXPECT_EQ(seen.load(), server.pid());
    EXPECT_EQ(sendMessage(w.hwnd(), WM_USER + 7, 0, 0), 7);
    EXPECT_EQ(seen.load(), ::getpid());
    // Outside a handler there is no sender.
    EXPECT_EQ(messageSenderPid(), 0);
}

TEST_F(MessagesTest, KilledOwnerLeavesNoLiveWindow)
{
    peer::Process server({IPC_PEER, "server", "Doomed"});
    const HWND remote = static_cast<HWND>(std::stoul(server.readLine()));
    ASSERT_TRUE(isWindow(remote));
    server.kill();
    EXPECT_FALSE(isWindow(remote));
    EXPECT_EQ(findWindow(nullptr, "Doomed"), 0u);
    EXPECT_FALSE(sendMessage(remote, WM_USER + 1, 0, 0, 500ms).has_value());
}

// What the other end of a connection did within `timeout`: the length of
// the frame it answered with, 0 when it closed the connection (with or
// without reading what was sent), -1 when it did neither.
ssize_t answerOf(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return -1;
    std::uint8_t frame[64];
    const ssize_t n = ::recv(fd, frame, sizeof frame, MSG_DONTWAIT);
    return n < 0 && errno == ECONNRESET ? 0 : n;
}

// A descriptor limit under which a process has exactly `free` unused
// descriptor numbers (new descriptors take the lowest free number, so only
// those below the limit count); {0, 0} when its descriptors cannot be read.
rlimit limitLeavingFree(int pid, int free)
{
    std::set<int> used;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        used.insert(std::stoi(entry.path().filename().string()));
    if (error || used.empty())
        return {0, 0};
    rlim_t limit = 0;
    for (int left = free; left > 0; ++limit)
        if (!used.contains(static_cast<int>(limit)))
            --left;
    return {limit, limit};
}

// CPU time (user + system) a process has used, in clock ticks.
long cpuTicks(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) // state .. cmajflt: utime is field 14
        fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

TEST_F(MessagesTest, AnotherUserReachesNoWindow)
{
    ORVANE_REQUIRE_OTHER_USER();
    WindowThread victim("Victim");
    ASSERT_NE(victim.hwnd(), 0u);
    const std::string socket = testing_support::messageSocketOf(::getpid(), session.name());
    ASSERT_FALSE(socket.empty());
    const HWND target = victim.hwnd();

    // The stranger guesses the handle and posts WM_QUIT and a message, then
    // tries a send: each connection is closed unread, and nothing answers.
    const int rc = testing_support::runAsOtherUser([&] {
        int result = 0;
        const std::pair<std::uint32_t, UINT> attempts[] = {
            {wire::kPost, WM_QUIT}, {wire::kPost, WM_USER + 10}, {wire::kSend, WM_USER + 1}};
        for (std::size_t i = 0; i < std::size(attempts); ++i) {
            const int fd = testing_support::connectToMessageSocket(socket);
            if (fd < 0)
                return 100;
            const wire::Request req{wire::kMagic, attempts[i].first, target, attempts[i].second, 4, 2};
            ::send(fd, &req, sizeof req, MSG_NOSIGNAL);
            if (answerOf(fd, 5000ms) != 0)
                result |= 1 << i;
            ::close(fd);
        }
        return result;
    });
    EXPECT_EQ(rc, 0) << "bit i set: attempt i was answered or left open";
    // The window's thread still runs (no WM_QUIT reached it) and saw nothing.
    EXPECT_EQ(sendMessage(target, WM_USER + 1, 4, 2, 2000ms), 42);
    EXPECT_EQ(victim.received(), 0);
}

TEST_F(MessagesTest, IdleConnectionsNeitherStarveSendsNorSpin)
{
    peer::Process server({IPC_PEER, "server", "Crowded"});
    const HWND remote = static_cast<HWND>(std::stoul(server.readLine()));
    ASSERT_NE(remote, 0u);
    // Few descriptors, so that idle connections could exhaust them: room for
    // 30 more, whatever the peer inherited from whoever started the tests.
    const rlimit few = limitLeavingFree(server.pid(), 30);
    ASSERT_GT(few.rlim_cur, 0u);
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
    const std::string socket = testing_support::messageSocketOf(server.pid(), session.name());
    ASSERT_FALSE(socket.empty());

    std::vector<int> idle;
    for (int i = 0; i < 200; ++i)
        if (const int fd = testing_support::connectToMessageSocket(socket, true); fd >= 0)
            idle.push_back(fd);
    ASSERT_GT(idle.size(), 40u);

    // A real send still gets through (in its own thread: on failure the
    // peer is killed, which ends the wait). It waits its turn behind the
    // crowd in the backlog, a second per batch the peer can hold; the time
    // allowed is far above that, for a loaded machine.
    auto send = std::async(std::launch::async, [&] { return sendMessage(remote, WM_USER + 1, 40, 2, 20000ms); });
    if (send.wait_for(25s) != std::future_status::ready)
        server.kill();
    EXPECT_EQ(send.get(), 42) << idle.size() << " idle connections were open";

    // Every idle connection is closed by the peer after its wait.
    std::size_t closed = 0;
    for (int fd : idle) {
        if (answerOf(fd, 5000ms) == 0)
            ++closed;
        ::close(fd);
    }
    EXPECT_EQ(closed, idle.size()) << "idle connections closed by the peer";
    idle.clear();

    // Nothing spins meanwhile: over a second with a crowd at the door, the
    // peer uses well under one core (a spinning listener would use all of
    // it; the bound leaves room for a loaded machine's accounting).
    for (int i = 0; i < 200; ++i)
        if (const int fd = testing_support::connectToMessageSocket(socket, true); fd >= 0)
            idle.push_back(fd);
    const long before = cpuTicks(server.pid());
    std::this_thread::sleep_for(1000ms);
    const long used = cpuTicks(server.pid()) - before;
    EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) * 6 / 10) << "ticks used in 1 s, of " << ::sysconf(_SC_CLK_TCK);
    for (int fd : idle)
        ::close(fd);
}

} // namespace
