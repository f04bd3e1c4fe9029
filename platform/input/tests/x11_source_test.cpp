// The X11 keyboard source against a private Xvfb, with keys typed through XTest.
// gtest before the X11 headers: their macros (None, Bool, ...) break it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/keyboard_source.h"

#include "../../../testing/include/testing/xvfb_server.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

testing_support::XvfbServer* server = nullptr;

class X11Source : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new testing_support::XvfbServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server->ready()) GTEST_SKIP() << "no Xvfb";
        typist = XOpenDisplay(server->name().c_str());
        ASSERT_NE(typist, nullptr);
        source = platform::makeX11KeyboardSource(server->name());
        ASSERT_TRUE(source->start([this](const platform::KeyEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
            arrived.notify_all();
            return false;
        }));
    }
    void TearDown() override
    {
        if (source) source->stop();
        if (typist) XCloseDisplay(typist);
    }

    void type(KeySym sym, bool press)
    {
        XTestFakeKeyEvent(typist, XKeysymToKeycode(typist, sym), press ? True : False, CurrentTime);
        XSync(typist, False);
    }
    std::vector<platform::KeyEvent> waitFor(std::size_t count)
    {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::seconds(5), [&] { return events.size() >= count; });
        return events;
    }
    // Another client's attempt to grab: BadAccess means the source holds it.
    static int lastError;
    static int recordError(Display*, XErrorEvent* e)
    {
        lastError = e->error_code;
        return 0;
    }
    bool otherClientCanGrab(KeySym sym, unsigned int mask)
    {
        Display* other = XOpenDisplay(server->name().c_str());
        auto* old = XSetErrorHandler(recordError);
        lastError = 0;
        const KeyCode code = XKeysymToKeycode(other, sym);
        XGrabKey(other, code, mask, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
        XSync(other, False);
        XSetErrorHandler(old);
        XCloseDisplay(other);
        return lastError == 0;
    }

    Display* typist = nullptr;
    std::unique_ptr<platform::KeyboardSource> source;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<platform::KeyEvent> events;
};

int X11Source::lastError = 0;

TEST_F(X11Source, ReportsKeysAsVirtualKeysWithSystemKeys)
{
    type(XK_F12, true);
    type(XK_F12, false);
    type(XK_F10, true);
    type(XK_F10, false);
    type(XK_Alt_L, true);
    type(XK_a, true);
    type(XK_a, false);
    type(XK_Alt_L, false);
    const auto got = waitFor(8);
    ASSERT_EQ(got.size(), 8u);
    const std::pair<std::uint32_t, std::uint32_t> expected[] = {
        {0x7B, platform::kKeyDown},    {0x7B, platform::kKeyUp},   {0x79, platform::kSysKeyDown},
        {0x79, platform::kSysKeyUp},   {0xA4, platform::kSysKeyDown}, {0x41, platform::kSysKeyDown},
        {0x41, platform::kSysKeyUp},   {0xA4, platform::kKeyUp},
    };
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(got[k].vk, expected[k].first) << k;
        EXPECT_EQ(got[k].message, expected[k].second) << k;
    }
}

TEST_F(X11Source, TrapsCombinationsAndTheWholeKeyboard)
{
    EXPECT_TRUE(otherClientCanGrab(XK_F12, ControlMask));
    source->trapKeys({{0x7B, platform::kModCtrl, false}});
    source->heldModifiers();  // a round trip: the grab is in place after it
    EXPECT_FALSE(otherClientCanGrab(XK_F12, ControlMask));
    EXPECT_FALSE(otherClientCanGrab(XK_F12, ControlMask | LockMask));
    EXPECT_TRUE(otherClientCanGrab(XK_F12, ShiftMask));
    source->trapKeys({});
    source->heldModifiers();
    EXPECT_TRUE(otherClientCanGrab(XK_F12, ControlMask | Mod2Mask));

    source->trapAll(true);
    source->heldModifiers();
    Display* other = XOpenDisplay(server->name().c_str());
    EXPECT_EQ(XGrabKeyboard(other, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync, CurrentTime),
              AlreadyGrabbed);
    source->trapAll(false);
    source->heldModifiers();
    EXPECT_EQ(XGrabKeyboard(other, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
    XUngrabKeyboard(other, CurrentTime);
    XCloseDisplay(other);
}

// A real desktop keeps the focus in some program's window. The release of
// a trapped key, and every key while the whole keyboard is trapped, must
// still be reported, press after press.
TEST_F(X11Source, TrappedKeysReportEveryEventWithTheFocusInAnotherWindow)
{
    const Window other = XCreateSimpleWindow(typist, DefaultRootWindow(typist), 0, 0, 50, 50, 0, 0, 0);
    XSelectInput(typist, other, StructureNotifyMask);
    XMapWindow(typist, other);
    XEvent mapped;
    do
        XWindowEvent(typist, other, StructureNotifyMask, &mapped);
    while (mapped.type != MapNotify);
    XSetInputFocus(typist, other, RevertToPointerRoot, CurrentTime);
    XSync(typist, False);

    source->trapKeys({{0x78, 0, false}});
    source->heldModifiers();
    for (int round = 0; round < 3; ++round) {
        type(XK_F9, true);
        type(XK_F9, false);
    }
    source->trapKeys({});
    source->trapAll(true);
    source->heldModifiers();
    type(XK_a, true);
    type(XK_a, false);
    source->trapAll(false);

    const auto got = waitFor(8);
    ASSERT_EQ(got.size(), 8u);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(got[k].vk, k < 6 ? 0x78u : 0x41u) << k;
        EXPECT_EQ(got[k].message, k % 2 == 0 ? platform::kKeyDown : platform::kKeyUp) << k;
    }
    XDestroyWindow(typist, other);
}

TEST_F(X11Source, HeldModifiersFromTheKeyState)
{
    EXPECT_EQ(source->heldModifiers(), 0u);
    type(XK_Shift_L, true);
    type(XK_Control_R, true);
    EXPECT_EQ(source->heldModifiers(), platform::kModShift | platform::kModCtrl);
    type(XK_Control_R, false);
    type(XK_Shift_L, false);
    EXPECT_EQ(source->heldModifiers(), 0u);
    source->stop();
    EXPECT_FALSE(source->running());
}

} // namespace
