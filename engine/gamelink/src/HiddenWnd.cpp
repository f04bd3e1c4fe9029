#include "engine/HiddenWnd.h"

CHiddenWnd::~CHiddenWnd() { DestroyWindow(); }

bool CHiddenWnd::Create()
{
    if (hwnd_ != 0)
        return false;
    hwnd_ = platform::createWindow({kClassName, kTitle, true},
                                   [this](platform::HWND, platform::UINT m, platform::WPARAM w,
                                          platform::LPARAM l) -> platform::LRESULT { return WindowProc(m, w, l); });
    return hwnd_ != 0;
}

void CHiddenWnd::DestroyWindow()
{
    if (hwnd_ != 0) {
        platform::destroyWindow(hwnd_);
        hwnd_ = 0;
    }
}

platform::LRESULT CHiddenWnd::WindowProc(platform::UINT, platform::WPARAM, platform::LPARAM) { return 0; }
