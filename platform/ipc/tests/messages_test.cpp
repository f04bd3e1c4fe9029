#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "peer_process.h"
#include "platform/messages.h"
#include "platform/sync.h"
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

} // namespace
