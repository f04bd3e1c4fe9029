// X11 backends: XTest fake motion for the synthetic moves, XQueryPointer for
// the cursor, _NET_ACTIVE_WINDOW (or the input focus) and _NET_WM_PID for
// the window in front and its process.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <mutex>

#include "platform/pointer.h"

namespace platform {
namespace {

// A window may vanish between finding and asking it; Xlib's default error
// handler would end the program. Errors are caught while a query runs and
// the previous handler is put back afterwards.
std::mutex& errorMutex()
{
    static std::mutex m;
    return m;
}
thread_local bool t_failed = false;
int recordError(Display*, XErrorEvent*)
{
    t_failed = true;
    return 0;
}

class TrapErrors {
public:
    explicit TrapErrors(Display* d) : display_(d), lock_(errorMutex())
    {
        XSync(display_, False);
        t_failed = false;
        previous_ = XSetErrorHandler(recordError);
    }
    ~TrapErrors()
    {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    TrapErrors(const TrapErrors&) = delete;
    TrapErrors& operator=(const TrapErrors&) = delete;
    bool failed()
    {
        XSync(display_, False);
        return t_failed;
    }

private:
    Display* display_;
    std::lock_guard<std::mutex> lock_;
    int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

class X11Pointer final : public Pointer {
public:
    explicit X11Pointer(DisplayPtr display) : display_(std::move(display)) {}

    std::uint32_t sendInput(std::span<const MouseInput> events) override
    {
        std::lock_guard lock(mutex_);
        Display* d = display_.get();
        const int screen = DefaultScreen(d);
        const long long width = DisplayWidth(d, screen);
        const long long height = DisplayHeight(d, screen);
        std::uint32_t sent = 0;
        for (const MouseInput& e : events) {
            if ((e.flags & MOUSEEVENTF_MOVE) != 0) {
                const bool ok =
                    (e.flags & MOUSEEVENTF_ABSOLUTE) != 0
                        ? XTestFakeMotionEvent(d, screen, static_cast<int>(e.dx * width / 65536),
                                               static_cast<int>(e.dy * height / 65536), CurrentTime)
                        : XTestFakeRelativeMotionEvent(d, e.dx, e.dy, CurrentTime);
                if (!ok)
                    break;
            }
            ++sent;
        }
        // The server has moved the cursor when this returns, so a position
        // read next sees the move.
        XSync(d, False);
        return sent;
    }

    std::optional<CursorPoint> cursorPos() override
    {
        std::lock_guard lock(mutex_);
        Display* d = display_.get();
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
            return std::nullopt;
        return CursorPoint{rootX, rootY};
    }

private:
    std::mutex mutex_;
    DisplayPtr display_;
};

class X11Focus final : public WindowFocus {
public:
    explicit X11Focus(DisplayPtr display)
        : display_(std::move(display)),
          activeAtom_(XInternAtom(display_.get(), "_NET_ACTIVE_WINDOW", False)),
          pidAtom_(XInternAtom(display_.get(), "_NET_WM_PID", False))
    {
    }

    std::uint64_t foregroundWindow() override
    {
        std::lock_guard lock(mutex_);
        Display* d = display_.get();
        TrapErrors trap(d);
        // A window manager names the active window; without one the input
        // focus is the window in front.
        if (auto active = cardinal(DefaultRootWindow(d), activeAtom_, XA_WINDOW); active && *active != 0)
            return *active;
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        if (trap.failed() || focus == None || focus == PointerRoot)
            return 0;
        return focus;
    }

    int windowProcess(std::uint64_t window) override
    {
        std::lock_guard lock(mutex_);
        Display* d = display_.get();
        TrapErrors trap(d);
        // The focus may rest on a child window; the pid sits on the top-level.
        Window w = static_cast<Window>(window);
        for (int depth = 0; w != 0 && depth < 64; ++depth) {
            if (auto pid = cardinal(w, pidAtom_, XA_CARDINAL); pid && *pid != 0)
                return static_cast<int>(*pid);
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(d, w, &root, &parent, &children, &count) || trap.failed())
                return 0;
            if (children != nullptr)
                XFree(children);
            if (parent == root)
                return 0;
            w = parent;
        }
        return 0;
    }

private:
    // A 32-bit property of one item.
    std::optional<unsigned long> cardinal(Window w, Atom property, Atom type)
    {
        Atom actual = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        const int rc = XGetWindowProperty(display_.get(), w, property, 0, 1, False, type, &actual, &format, &items,
                                          &after, &data);
        std::optional<unsigned long> value;
        if (rc == Success && data != nullptr && actual == type && format == 32 && items == 1)
            value = *reinterpret_cast<unsigned long*>(data);
        if (data != nullptr)
            XFree(data);
        return value;
    }

    std::mutex mutex_;
    DisplayPtr display_;
    Atom activeAtom_;
    Atom pidAtom_;
};

DisplayPtr openDisplay(const char* name) { return DisplayPtr(XOpenDisplay(name)); }

} // namespace

std::unique_ptr<Pointer> openX11Pointer(const char* display)
{
    DisplayPtr d = openDisplay(display);
    if (!d)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d.get(), &event, &error, &major, &minor))
        return nullptr;
    return std::make_unique<X11Pointer>(std::move(d));
}

std::unique_ptr<WindowFocus> openX11Focus(const char* display)
{
    DisplayPtr d = openDisplay(display);
    if (!d)
        return nullptr;
    return std::make_unique<X11Focus>(std::move(d));
}

} // namespace platform
