// The camera's hidden debug window and its thread.
#include <chrono>

#include "camera/camera.h"

namespace Orvane {

namespace {

constexpr platform::UINT kPaint = 0x000F;  // WM_PAINT
// The longest the window thread sleeps between looks at the close request.
// A close posts WM_CLOSE, which wakes it at once: the thread stores its
// window before it looks at the request, and the closer sets the request
// before it looks for the window, so one of the two always sees the other.
// The bound only keeps the wait a bounded one.
constexpr std::chrono::milliseconds kCloseSlice{1000};

} // namespace

void Camera::DoShow()
{
    std::lock_guard lock(windowLock_);
    if (windowThread_.joinable() || windowClosing_.load())
        return;
    windowThread_.start([this] { DoShowWin(); }, platform::ThreadPriority::Normal, "camera-window");
}

platform::HWND Camera::InitInstance()
{
    platform::WindowDesc desc;
    desc.className = DebugWindowClass;
    desc.title = DebugWindowTitle;
    desc.topLevel = false;  // hidden: not one of the windows others look for
    return platform::createWindow(desc, [this](platform::HWND hwnd, platform::UINT message, platform::WPARAM w,
                                               platform::LPARAM l) { return WndProc(hwnd, message, w, l); });
}

int Camera::DoShowWin()
{
    if (windowClosing_.load())
        return 0;
    const platform::HWND hwnd = InitInstance();
    if (hwnd == 0)
        return 0;
    window_.store(hwnd);
    platform::Msg msg;
    for (;;) {
        while (platform::peekMessage(msg)) {
            if (msg.message == platform::WM_QUIT) {
                window_.store(0);
                return static_cast<int>(msg.wParam);
            }
            platform::dispatchMessage(msg);
        }
        // A close asked for while no message could reach the window.
        if (windowClosing_.load() && !platform::destroyWindow(hwnd)) {
            window_.store(0);
            return 0;
        }
        platform::waitMessage(kCloseSlice);
    }
}

platform::LRESULT Camera::WndProc(platform::HWND hwnd, platform::UINT message, platform::WPARAM, platform::LPARAM)
{
    switch (message) {
    case platform::WM_DESTROY:
        platform::postQuitMessage(0);
        return 0;
    case platform::WM_CLOSE:
        // What the default handling of a close does: the window goes.
        platform::destroyWindow(hwnd);
        return 0;
    case kPaint:  // nothing is drawn
    default:
        return 0;
    }
}

void Camera::CloseDebugWindow()
{
    std::lock_guard lock(windowLock_);
    windowClosing_.store(true);
    if (const platform::HWND hwnd = window_.load())
        platform::postMessage(hwnd, platform::WM_CLOSE, 0, 0);
    windowThread_.join();
}

} // namespace Orvane
