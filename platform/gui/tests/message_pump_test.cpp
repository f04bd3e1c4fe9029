// The GUI thread's queue is served from Qt's event loop.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "platform/gui/message_pump.h"
#include "platform/messages.h"
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
    gui::MessagePump pump(std::chrono::milliseconds(1000));
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

} // namespace
