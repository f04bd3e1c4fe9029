#pragma once
// An invisible top-level window, found by other processes by its title.
#include "platform/messages.h"

class CHiddenWnd {
public:
    static constexpr const char* kTitle = "Orvane";
    static constexpr const char* kClassName = "OrvaneHiddenWnd";

    CHiddenWnd() = default;
    virtual ~CHiddenWnd();
    CHiddenWnd(const CHiddenWnd&) = delete;
    CHiddenWnd& operator=(const CHiddenWnd&) = delete;

    // Creates the window on the calling thread, which then owns it and must
    // pump its messages. False when it cannot be created or exists already.
    bool Create();
    // Destroys the window (on its owner thread).
    void DestroyWindow();
    platform::HWND GetSafeHwnd() const { return hwnd_; }

protected:
    // Every message of the window; the base answers 0.
    virtual platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam,
                                         platform::LPARAM lParam);

private:
    platform::HWND hwnd_ = 0;
};
