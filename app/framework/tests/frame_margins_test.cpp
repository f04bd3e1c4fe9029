// A window manager may frame a window without moving or resizing it: it
// tells the frame's size on the window (_NET_FRAME_EXTENTS) and keeps the
// client area where it was. The widget then hears of no geometry change;
// these tests play such a window manager on a private X server and check
// that the placer and the saved position see the frame all the same.
#include <gtest/gtest.h>

// Qt before Xlib, whose macros (Bool, Status) clash with Qt's names.
#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/frame_placer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "testing/xvfb_server.h"

using namespace std::chrono_literals;

namespace {

// A private X server whose root says the window manager tells frame
// extents, and no window manager that would reparent or move anything.
class ExtentsOnlyDesktop : public ::testing::Environment {
public:
    void SetUp() override
    {
        server_ = std::make_unique<testing_support::XvfbServer>("800x600x24");
        if (!server_->ready())
            return;
        Display* d = XOpenDisplay(server_->name().c_str());
        if (d == nullptr)
            return;
        Atom supported = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
        XChangeProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTED", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(&supported), 1);
        XSync(d, False);
        XCloseDisplay(d);
        ::setenv("DISPLAY", server_->name().c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        ready_ = true;
    }
    void TearDown() override
    {
        app_.reset();
        server_.reset();
    }
    static bool Ready() { return ready_; }

private:
    std::unique_ptr<testing_support::XvfbServer> server_;
    std::unique_ptr<QApplication> app_;
    int argc_ = 1;
    char name_[16] = "frame_margins";
    char* argv_[2] = {name_, nullptr};
    static inline bool ready_ = false;
};

const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new ExtentsOnlyDesktop);

class FrameMarginsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ExtentsOnlyDesktop::Ready())
            GTEST_SKIP() << "no Xvfb here";
    }

    template <typename F>
    static bool WaitFor(F done, std::chrono::milliseconds limit = 10s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // Shows `w` at `at` and waits until it is on the screen, unframed.
    static bool ShowUnframed(QWidget& w, QPoint at)
    {
        w.resize(200, 120);
        w.move(at);
        w.show();
        return WaitFor([&] { return w.windowHandle() != nullptr && w.windowHandle()->isExposed(); }) &&
               w.frameGeometry() == w.geometry();
    }

    // What the window manager does: tells the frame, moves nothing; then
    // waits until the native window has heard of it.
    static bool FrameWithoutMoving(QWidget& w)
    {
        Display* d = XOpenDisplay(nullptr);
        if (d == nullptr)
            return false;
        long extents[4] = {kLeft, kRight, kTop, kBottom};
        XChangeProperty(d, static_cast<::Window>(w.winId()), XInternAtom(d, "_NET_FRAME_EXTENTS", False),
                        XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(extents), 4);
        XSync(d, False);
        XCloseDisplay(d);
        return WaitFor([&] { return w.windowHandle()->frameMargins() == QMargins(kLeft, kTop, kRight, kBottom); });
    }

    static constexpr int kLeft = 1, kRight = 1, kTop = 20, kBottom = 5;
};

TEST_F(FrameMarginsTest, TheSavedCornerIsTheFramesOnceTheWindowManagerToldIt)
{
    QWidget w;
    ASSERT_TRUE(ShowUnframed(w, {100, 100}));
    const QPoint client = w.geometry().topLeft();
    ASSERT_TRUE(FrameWithoutMoving(w));
    EXPECT_EQ(app::NormalFrameTopLeft(w), client - QPoint(kLeft, kTop));
    EXPECT_EQ(w.frameGeometry().topLeft(), client - QPoint(kLeft, kTop)) << "the widget's frame is current after it";
    EXPECT_EQ(w.geometry().topLeft(), client) << "nothing moved";
}

TEST_F(FrameMarginsTest, APlacerWatchingTheWindowSeesTheFrame)
{
    QWidget w;
    auto* placer = new app::CFramePlacer(&w, std::nullopt);
    placer->Watch();
    ASSERT_TRUE(ShowUnframed(w, {150, 120}));
    const QPoint client = w.geometry().topLeft();
    ASSERT_TRUE(FrameWithoutMoving(w));
    // The placer looks again while the frame is unknown, and stops once it
    // has seen the frame in place.
    ASSERT_TRUE(WaitFor([&] { return !placer->Active(); }, 15s));
    EXPECT_EQ(w.frameGeometry().topLeft(), client - QPoint(kLeft, kTop));
    EXPECT_EQ(placer->Corrections(), 0) << "a window framed where it is stays there";
}

} // namespace
