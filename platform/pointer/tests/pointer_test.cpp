#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

#include <unistd.h>

#include "platform/pointer.h"
#include "../../../testing/include/testing/xvfb_server.h"

using platform::CursorPoint;
using platform::MouseInput;
using platform::MOUSEEVENTF_ABSOLUTE;
using platform::MOUSEEVENTF_MOVE;

namespace {

TEST(FakePointerTest, MovesStayOnTheScreen)
{
    platform::FakePointer p(1024, 768);
    p.moveByHand(100, 100);
    const MouseInput moves[] = {{10, -20, 0, MOUSEEVENTF_MOVE, 0, 7},
                                {-500, 0, 0, MOUSEEVENTF_MOVE, 0, 7},
                                {0x7FFF, 0x7FFF, 0, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 7}};
    EXPECT_EQ(p.sendInput(std::span(moves, 1)), 1u);
    EXPECT_EQ(p.cursorPos(), (CursorPoint{110, 80}));
    p.sendInput(std::span(moves + 1, 1));
    EXPECT_EQ(p.cursorPos(), (CursorPoint{0, 80}));
    p.sendInput(std::span(moves + 2, 1));
    EXPECT_EQ(p.cursorPos(), (CursorPoint{511, 383}));
    EXPECT_EQ(p.events().size(), 3u);
    p.failReads(true);
    EXPECT_EQ(p.cursorPos(), std::nullopt);
}

class X11PointerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<testing_support::XvfbServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override
    {
        if (!server_->ready())
            GTEST_SKIP() << "Xvfb is not available";
        display_ = XOpenDisplay(server_->name().c_str());
        ASSERT_NE(display_, nullptr);
        // Relative motion exactly as sent.
        XChangePointerControl(display_, True, True, 1, 1, 0);
        XSync(display_, False);
    }
    void TearDown() override
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }
    static std::unique_ptr<testing_support::XvfbServer> server_;
    Display* display_ = nullptr;
};
std::unique_ptr<testing_support::XvfbServer> X11PointerTest::server_;

TEST_F(X11PointerTest, AbsoluteAndRelativeMoves)
{
    auto pointer = platform::openX11Pointer(server_->name().c_str());
    ASSERT_NE(pointer, nullptr);
    const MouseInput centre{0x7FFF, 0x7FFF, 0, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 0x0BADC0DE};
    EXPECT_EQ(pointer->sendInput(std::span(&centre, 1)), 1u);
    auto pos = pointer->cursorPos();
    ASSERT_TRUE(pos);
    EXPECT_NEAR(pos->x, 320, 1);
    EXPECT_NEAR(pos->y, 240, 1);

    const MouseInput steps[] = {{20, -10, 0, MOUSEEVENTF_MOVE, 0, 0}, {-5, 3, 0, MOUSEEVENTF_MOVE, 0, 0}};
    EXPECT_EQ(pointer->sendInput(steps), 2u);
    EXPECT_EQ(pointer->cursorPos(), (CursorPoint{pos->x + 15, pos->y - 7}));

    // The desktop sees the same cursor.
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rx, &ry, &wx, &wy, &mask);
    EXPECT_EQ((CursorPoint{rx, ry}), (CursorPoint{pos->x + 15, pos->y - 7}));
}

TEST_F(X11PointerTest, WindowInFrontAndItsProcess)
{
    auto focus = platform::openX11Focus(server_->name().c_str());
    ASSERT_NE(focus, nullptr);
    const Window top = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 100, 100, 0, 0, 0);
    const Window inner = XCreateSimpleWindow(display_, top, 0, 0, 50, 50, 0, 0, 0);
    const Atom pidAtom = XInternAtom(display_, "_NET_WM_PID", False);
    const unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display_, top, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(display_, top);
    XMapWindow(display_, inner);
    XSync(display_, False);

    // Without a window manager the input focus tells; the pid is on the
    // top-level above the focused child.
    XSetInputFocus(display_, inner, RevertToParent, CurrentTime);
    XSync(display_, False);
    EXPECT_EQ(focus->foregroundWindow(), inner);
    EXPECT_EQ(focus->windowProcess(inner), getpid());
    EXPECT_EQ(focus->windowProcess(top), getpid());

    // A window manager's active window comes first.
    const Window other = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
    const Atom active = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    const unsigned long otherId = other;
    XChangeProperty(display_, DefaultRootWindow(display_), active, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&otherId), 1);
    XSync(display_, False);
    EXPECT_EQ(focus->foregroundWindow(), other);
    EXPECT_EQ(focus->windowProcess(other), 0); // no pid on it

    // A window that is gone is no process, and no crash.
    XDestroyWindow(display_, other);
    XSync(display_, False);
    EXPECT_EQ(focus->windowProcess(other), 0);
    EXPECT_EQ(focus->windowProcess(0x7FFFFFF), 0);
    XDeleteProperty(display_, DefaultRootWindow(display_), active);
    XDestroyWindow(display_, top);
    XSync(display_, False);
}

TEST(X11PointerOpenTest, NoDisplayNoBackend)
{
    EXPECT_EQ(platform::openX11Pointer(":59999"), nullptr);
    EXPECT_EQ(platform::openX11Focus(":59999"), nullptr);
}

} // namespace
