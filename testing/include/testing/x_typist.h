#pragma once
// A user's hands on an X server for tests: keys and buttons pressed through
// XTest, the pointer moved, and a program's top-level window found by its
// process and title and given the keyboard focus (there is no window manager
// on a test's private server to do it). Header-only, as xvfb_server.h: the
// programs that use it link X11 and Xtst themselves, and include gtest (and
// Qt) before it, as the X11 macros (None, Bool, ...) break them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace testing_support {

class XTypist {
public:
    // A window that goes while it is looked at is no error here: the
    // default handler would end the test program.
    explicit XTypist(const std::string& display)
        : display_(XOpenDisplay(display.c_str())), previous_(XSetErrorHandler(IgnoreError))
    {
    }
    ~XTypist()
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
        XSetErrorHandler(previous_);
    }
    XTypist(const XTypist&) = delete;
    XTypist& operator=(const XTypist&) = delete;

    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }

    void Key(KeySym sym, bool press)
    {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, sym), press ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void Tap(KeySym sym)
    {
        Key(sym, true);
        Key(sym, false);
    }
    // Holds the modifiers around a tap, as a player's fingers do.
    void Chord(const std::vector<KeySym>& modifiers, KeySym sym)
    {
        for (KeySym m : modifiers)
            Key(m, true);
        Tap(sym);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
            Key(*it, false);
    }
    // Lower-case letters and digits, one tap each.
    void Type(std::string_view text)
    {
        for (char c : text)
            Tap(XStringToKeysym(std::string(1, c).c_str()));
    }
    void Button(unsigned int button, bool press)
    {
        XTestFakeButtonEvent(display_, button, press ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void MoveTo(int x, int y)
    {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XSync(display_, False);
    }
    // The top-level window under the pointer, as the server sees it now
    // (0 over the bare root).
    Window TopLevelUnderPointer()
    {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rx, &ry, &wx, &wy, &mask))
            return 0;
        return child;
    }

    // Whether another client holds the pointer or the keyboard grabbed now
    // (a probe grab of ours is refused then; one that succeeds is let go).
    bool PointerGrabbed()
    {
        const int r = XGrabPointer(display_, DefaultRootWindow(display_), False, 0, GrabModeAsync, GrabModeAsync,
                                   0, 0, CurrentTime);
        if (r == GrabSuccess)
            XUngrabPointer(display_, CurrentTime);
        XSync(display_, False);
        return r == AlreadyGrabbed;
    }
    bool KeyboardGrabbed()
    {
        const int r = XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync,
                                    CurrentTime);
        if (r == GrabSuccess)
            XUngrabKeyboard(display_, CurrentTime);
        XSync(display_, False);
        return r == AlreadyGrabbed;
    }

    // The mapped top-level window of process `pid` with this title (any
    // title when none is given); 0 when there is none (yet).
    Window TopLevel(pid_t pid, std::optional<std::string_view> title = std::nullopt)
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) == 0)
            return 0;
        Window found = 0;
        for (unsigned int i = 0; i < count && found == 0; ++i)
            if (Pid(children[i]) == pid && (!title || Title(children[i]) == *title) && Viewable(children[i]))
                found = children[i];
        if (children != nullptr)
            XFree(children);
        return found;
    }
    void Focus(Window window)
    {
        XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
        XSync(display_, False);
    }
    bool HasFocus(Window window)
    {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        return focus == window;
    }

private:
    static int IgnoreError(Display*, XErrorEvent*) { return 0; }

    pid_t Pid(Window w)
    {
        const Atom property = XInternAtom(display_, "_NET_WM_PID", True);
        if (property == 0)
            return -1;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        pid_t pid = -1;
        if (XGetWindowProperty(display_, w, property, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                               &data) == Success &&
            data != nullptr && format == 32 && items == 1)
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        if (data != nullptr)
            XFree(data);
        return pid;
    }
    std::string Title(Window w)
    {
        XTextProperty text{};
        std::string title;
        if (XGetWMName(display_, w, &text) != 0 && text.value != nullptr)
            title.assign(reinterpret_cast<const char*>(text.value), text.nitems);
        if (text.value != nullptr)
            XFree(text.value);
        return title;
    }
    bool Viewable(Window w)
    {
        XWindowAttributes a{};
        return XGetWindowAttributes(display_, w, &a) != 0 && a.map_state == IsViewable;
    }

    Display* display_;
    XErrorHandler previous_;
};

} // namespace testing_support
