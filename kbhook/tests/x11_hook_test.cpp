// End to end under a private Xvfb: keys typed through XTest reach the hook
// through the X11 source and arrive as posted messages in a window's queue.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "kbhook/keysnare.h"
#include "kbhook/keysnare_services.h"
#include "platform/messages.h"
#include "testing/temp_session.h"

#include "../../platform/input/tests/xvfb_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>

namespace {

constexpr UINT kKeyMessage = 0x812C;

std::optional<platform::Msg> nextMessage(std::chrono::milliseconds within)
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    platform::Msg m;
    while (std::chrono::steady_clock::now() < deadline) {
        if (platform::peekMessage(m)) return m;
        platform::waitMessage(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

TEST(KeysnareX11, HotKeysFromRealKeyEventsReachTheWindowQueue)
{
    xvfb_test::XvfbDisplay server;
    if (!server.ready()) GTEST_SKIP() << "no Xvfb";
    testing_support::TempSession session;
    setenv("DISPLAY", server.name().c_str(), 1);

    const platform::HWND window = platform::createWindow({"KeysnareTest", "keys", false},
                                                         [](platform::HWND, UINT, WPARAM, LPARAM) { return 0; });
    ASSERT_NE(window, 0u);
    keysnare::reset();
    keysnare::useServices(nullptr, nullptr, nullptr);  // the X11 source and window messages
    SetKBhotKeys(0x7B, 1, 1, 0);
    SetKBhotKeys(0x0002007B, 1, 1, 0);
    ASSERT_TRUE(InstallKBhook(kKeysnareLowLevelHook, window, kKeyMessage));

    Display* typist = XOpenDisplay(server.name().c_str());
    ASSERT_NE(typist, nullptr);
    auto type = [&](KeySym sym, bool press) {
        XTestFakeKeyEvent(typist, XKeysymToKeycode(typist, sym), press ? True : False, CurrentTime);
        XSync(typist, False);
    };
    // F10 first: a system key without Alt must not spoil the unmodified F12.
    type(XK_F10, true);
    type(XK_F10, false);
    type(XK_F12, true);
    type(XK_F12, false);
    type(XK_Control_L, true);
    type(XK_F12, true);
    type(XK_F12, false);
    type(XK_Control_L, false);

    const LPARAM expected[][2] = {{0x100, 0x7B}, {0x101, 0x7B}, {0x100, 0x0002007B}, {0x101, 0x0002007B}};
    for (const auto& e : expected) {
        const auto m = nextMessage(std::chrono::seconds(5));
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->hwnd, window);
        EXPECT_EQ(m->message, kKeyMessage);
        EXPECT_EQ(static_cast<LPARAM>(m->wParam), e[0]);
        EXPECT_EQ(m->lParam, e[1]);
    }
    XCloseDisplay(typist);
    RemoveKBhook();
    keysnare::reset();
    platform::destroyWindow(window);
}

} // namespace
