#pragma once
// The desktop's top-level windows as an X11 client sees them: the two names
// of WM_CLASS, the title and the owner's pid (_NET_WM_PID). Games running
// under a compatibility layer show their windows here too.
//
// One connection serves every call and is made again only after it broke,
// so listing the windows costs one round trip to the server. Whether a
// window still lives is learnt from its DestroyNotify event (the window is
// watched from the first question on), so asking costs no round trip.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct TopLevelWindow {
    std::uint32_t id = 0;
    std::string instanceName; // WM_CLASS, first string
    std::string className;    // WM_CLASS, second string
    std::u16string title;     // _NET_WM_NAME, else WM_NAME
    std::uint32_t pid = 0;    // 0 when the window does not say
};

class X11Windows {
public:
    // `display` empty: $DISPLAY. Nothing is connected until first used.
    explicit X11Windows(std::string display = {});
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    // Every top-level window, the topmost first; empty when no X server can
    // be reached.
    std::vector<TopLevelWindow> list();
    // False once the window has been destroyed (or cannot be reached).
    bool exists(std::uint32_t id);
    // Stops watching a window that is of no more interest.
    void forget(std::uint32_t id);

private:
    struct Connection;
    Connection* connection();

    std::string display_;
    std::unique_ptr<Connection> connection_;
};

} // namespace platform
