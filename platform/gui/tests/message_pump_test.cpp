// The GUI thread's queue is served from Qt's event loop.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "platform/gui/message_pump.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "testing/temp_session.h"

namespace {

using namespace platform;

class MessagePumpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "message_pump_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    testing_support::TempSession session_;
};

TEST_F(MessagePumpTest, PostsFromAWorkerAreDispatchedOnTheGuiThread)
{
    gui::MessagePump pump;
    const auto guiThread = std::this_thread::get_id();
    int received = 0;
    bool onGuiThread = true;
    const HWND hwnd = createWindow({"PumpTest", "pump", false}, [&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_APP + 1) {
            received += static_cast<int>(w);
            onGuiThread = onGuiThread && std::this_thread::get_id() == guiThread;
        }
        return 0;
    });
    ASSERT_NE(hwnd, 0u);

    std::thread worker([hwnd] {
        for (int i = 0; i < 10; ++i)
            postMessage(hwnd, WM_APP + 1, 1, 0);
    });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == 10; }, 2000));
    EXPECT_TRUE(onGuiThread);
    destroyWindow(hwnd);
}

TEST_F(MessagePumpTest, SendsFromAWorkerGetTheProcedureResult)
{
    gui::MessagePump pump;
    const HWND hwnd = createWindow({"PumpTest", "send", false},
                                   [](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
                                       return m == WM_APP + 2 ? static_cast<LRESULT>(w * 2) : 0;
                                   });
    ASSERT_NE(hwnd, 0u);
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = sendMessage(hwnd, WM_APP + 2, 21, 0, std::chrono::milliseconds(3000)).value_or(-2);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 4000));
    worker.join();
    EXPECT_EQ(result.load(), 42);
    destroyWindow(hwnd);
}

TEST_F(MessagePumpTest, QuitEndsTheQtLoopWithItsCode)
{
    gui::MessagePump pump;
    QTimer::singleShot(0, [] { postQuitMessage(7); });
    // A guard so that a broken pump cannot hang the test.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(3000);
    EXPECT_EQ(QCoreApplication::exec(), 7);
    EXPECT_TRUE(pump.quitSeen());
}

TEST_F(MessagePumpTest, PumpNowTakesAtMostTheLimit)
{
    gui::MessagePump pump;
    int received = 0;
    const HWND hwnd = createWindow({"PumpTest", "limit", false}, [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_APP + 3)
            ++received;
        return 0;
    });
    ASSERT_NE(hwnd, 0u);
    for (int i = 0; i < 5; ++i)
        postMessage(hwnd, WM_APP + 3, 0, 0);
    EXPECT_EQ(pump.pumpNow(3), 3);
    EXPECT_EQ(received, 3);
    EXPECT_EQ(pump.pumpNow(), 2);
    EXPECT_EQ(received, 5);
    destroyWindow(hwnd);
}

// Runs the Qt loop until `done` is called or `guardMs` passes; false when
// the guard ended it.
bool RunLoop(int guardMs)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(guardMs);
    return QCoreApplication::exec() == 0;
}

TEST_F(MessagePumpTest, ALoopWithNothingToDoSleepsUntilAWorkerPosts)
{
    gui::MessagePump pump;
    const HWND hwnd = createWindow({"PumpTest", "sleep", false}, [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_APP + 4)
            QCoreApplication::exit(0);
        return 0;
    });
    ASSERT_NE(hwnd, 0u);
    pump.pumpNow();
    // The loop wakes only for the worker's post (and the odd event of Qt's
    // own), not on a timer of its own: count how often it wakes meanwhile.
    int wakes = 0;
    const auto counter = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                          [&] { ++wakes; });
    Event release(Event::Reset::Manual);
    std::thread worker([&] {
        release.wait(5000);
        postMessage(hwnd, WM_APP + 4, 0, 0);
    });
    // Released once the loop is asleep in its first wait.
    QTimer::singleShot(300, [&] { release.set(); });
    const bool posted = RunLoop(5000);
    QObject::disconnect(counter);
    release.set();
    worker.join();
    EXPECT_TRUE(posted) << "the post did not wake the loop";
    // A pump on a timer of its own would have woken some sixty times.
    EXPECT_LT(wakes, 10);
    destroyWindow(hwnd);
}

TEST_F(MessagePumpTest, WindowTimersTickInTheLoop)
{
    gui::MessagePump pump;
    int ticks = 0;
    const HWND hwnd = createWindow({"PumpTest", "timer", false}, [&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_TIMER && w == 5 && ++ticks == 3) {
            killTimer(h, 5);
            QCoreApplication::exit(0);
        }
        return 0;
    });
    ASSERT_NE(hwnd, 0u);
    ASSERT_TRUE(setTimer(hwnd, 5, 20));
    EXPECT_TRUE(RunLoop(5000));
    EXPECT_EQ(ticks, 3);
    // A timer set from the loop's own thread while it sleeps on a long one
    // takes over: the short one fires first.
    int which = 0;
    const HWND other = createWindow({"PumpTest", "timers", false}, [&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_TIMER) {
            which = static_cast<int>(w);
            killTimer(h, w);
            QCoreApplication::exit(0);
        }
        return 0;
    });
    ASSERT_TRUE(setTimer(other, 1, 60000));
    QTimer::singleShot(50, [&] { setTimer(other, 2, 10); });
    EXPECT_TRUE(RunLoop(5000));
    EXPECT_EQ(which, 2);
    killTimer(other, 1);
    destroyWindow(other);
    destroyWindow(hwnd);
}

TEST_F(MessagePumpTest, MoreThanOneTurnsWorthIsTakenWithoutANewPost)
{
    gui::MessagePump pump;
    int received = 0;
    const HWND hwnd = createWindow({"PumpTest", "many", false}, [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_APP + 5 && ++received == 600)
            QCoreApplication::exit(0);
        return 0;
    });
    ASSERT_NE(hwnd, 0u);
    std::thread worker([hwnd] {
        for (int i = 0; i < 600; ++i)
            postMessage(hwnd, WM_APP + 5, 0, 0);
    });
    worker.join();
    EXPECT_TRUE(RunLoop(5000));
    EXPECT_EQ(received, 600);
    destroyWindow(hwnd);
}

} // namespace
