#pragma once
// What stands for a game's window when the game registers a handle that the
// message layer does not know: an X11 window, watched for its destruction on
// the display DISPLAY names, or, when there is none to check, the process
// that registered it, watched through a pidfd. alive() never blocks and does
// not allocate: the tracking engine asks it on every camera frame.
#include <cstdint>
#include <memory>

namespace platform::life {

class Watch {
public:
    virtual ~Watch() = default;
    // False once the window was destroyed (or its display went away), or
    // the process ended. Never true again after that.
    virtual bool alive() const = 0;
};

// Watches the X11 window `id` on the display of DISPLAY; null when there is
// no display to reach, `id` names no window on it, or names a root window
// (which never goes away and stands for no game).
std::unique_ptr<Watch> watchX11Window(std::uint32_t id);

// Watches the process `pid`; null when it does not run.
std::unique_ptr<Watch> watchProcess(int pid);

} // namespace platform::life
