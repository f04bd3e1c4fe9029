// X11 keyboard source: XInput2 raw key events for every key of the session,
// passive key grabs for the trapped combinations and a keyboard grab while
// everything is trapped. One thread owns the display connections; requests
// from other threads reach it as tasks through an eventfd.
//
// The grabs are held by a second connection of their own. While a client's
// grab is active the server hands that client the grabbed keys' raw events
// only through the grab, which a key grab does not pass on: it follows the
// focus instead, and with the focus in another program's window the release
// of a trapped key (and every key under the keyboard grab) would never
// arrive. Raw events of another client's grab reach the listening
// connection like any other.
#include "platform/keyboard_source.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>

namespace platform {
namespace {

constexpr std::uint32_t kVkF10 = 0x79;
constexpr std::uint32_t kVkLeftAlt = 0xA4;
constexpr std::uint32_t kVkRightAlt = 0xA5;
// How long heldModifiers() waits for the display thread.
constexpr auto kQueryWait = std::chrono::milliseconds(500);
// Longest quiet poll of the display thread; it also wakes for every task.
constexpr int kPollMs = 200;

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

unsigned int modifierMask(std::uint32_t bits)
{
    unsigned int mask = 0;
    if (bits & kModShift) mask |= ShiftMask;
    if (bits & kModCtrl) mask |= ControlMask;
    if (bits & kModAlt) mask |= Mod1Mask;
    return mask;
}

std::uint32_t heldFromKeymap(Display* d)
{
    char keys[32] = {};
    XQueryKeymap(d, keys);
    auto held = [&](KeySym sym) {
        const KeyCode kc = XKeysymToKeycode(d, sym);
        return kc != 0 && ((keys[kc / 8] >> (kc % 8)) & 1) != 0;
    };
    std::uint32_t bits = 0;
    if (held(XK_Shift_L) || held(XK_Shift_R)) bits |= kModShift;
    if (held(XK_Control_L) || held(XK_Control_R)) bits |= kModCtrl;
    if (held(XK_Alt_L) || held(XK_Alt_R)) bits |= kModAlt;
    return bits;
}

class X11KeyboardSource final : public KeyboardSource {
public:
    explicit X11KeyboardSource(std::string display) : name_(std::move(display)) {}
    ~X11KeyboardSource() override { stop(); }

    bool start(Handler handler) override
    {
        std::lock_guard control(control_);
        if (running_) return false;
        const char* name = name_.empty() ? nullptr : name_.c_str();
        Display* d = XOpenDisplay(name);
        if (d == nullptr) return false;
        Display* g = XOpenDisplay(name);
        auto fail = [&] {
            XCloseDisplay(d);
            if (g != nullptr) XCloseDisplay(g);
            return false;
        };
        if (g == nullptr) return fail();
        int opcode = 0, event = 0, error = 0;
        int major = 2, minor = 2;
        if (!XQueryExtension(d, "XInputExtension", &opcode, &event, &error) ||
            XIQueryVersion(d, &major, &minor) != Success)
            return fail();
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
        XSync(d, False);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) return fail();
        held_ = heldFromKeymap(d);
        display_ = d;
        grabber_ = g;
        opcode_ = opcode;
        handler_ = std::move(handler);
        stopping_ = false;
        altHeld_ = (held_ & kModAlt) != 0;
        running_ = true;
        thread_ = std::thread([this] { loop(); });
        return true;
    }

    void stop() override
    {
        std::lock_guard control(control_);
        if (!running_) return;
        stopping_ = true;
        wake();
        thread_.join();
        ::close(wake_);
        wake_ = -1;
        display_ = nullptr;
        grabber_ = nullptr;
        handler_ = nullptr;
        running_ = false;
    }

    bool running() const override
    {
        std::lock_guard control(control_);
        return running_;
    }

    void trapKeys(std::vector<TrappedKey> keys) override
    {
        post([this, keys = std::move(keys)] { regrab(keys); });
    }

    void trapAll(bool on) override
    {
        post([this, on] {
            Display* g = grabber_;
            if (on)
                XGrabKeyboard(g, DefaultRootWindow(g), True, GrabModeAsync, GrabModeAsync, CurrentTime);
            else
                XUngrabKeyboard(g, CurrentTime);
        });
    }

    std::uint32_t heldModifiers() override
    {
        auto answer = std::make_shared<std::promise<std::uint32_t>>();
        auto result = answer->get_future();
        // The grabs queued before are in place once this answers.
        if (!post([this, answer] {
                XSync(grabber_, False);
                answer->set_value(heldFromKeymap(display_));
            }))
            return held_.load();
        if (result.wait_for(kQueryWait) == std::future_status::ready) held_ = result.get();
        return held_.load();
    }

private:
    struct Grab {
        KeyCode code;
        unsigned int mask;
    };

    bool post(std::function<void()> task)
    {
        std::lock_guard control(control_);
        if (!running_) return false;
        {
            std::lock_guard lock(tasksMutex_);
            tasks_.push_back(std::move(task));
        }
        wake();
        return true;
    }

    void wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
    }

    void regrab(const std::vector<TrappedKey>& keys)
    {
        Display* d = grabber_;
        const Window root = DefaultRootWindow(d);
        auto* old = XSetErrorHandler(ignoreErrors);
        for (const Grab& g : grabs_) XUngrabKey(d, g.code, g.mask, root);
        grabs_.clear();
        // Caps Lock and Num Lock must not keep a trapped key from matching.
        const unsigned int locks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
        for (const TrappedKey& k : keys) {
            const KeySym sym = keysymFromVk(k.vk);
            const KeyCode code = sym != 0 ? XKeysymToKeycode(d, sym) : 0;
            if (code == 0) continue;
            if (k.anyModifiers) {
                XGrabKey(d, code, AnyModifier, root, True, GrabModeAsync, GrabModeAsync);
                grabs_.push_back({code, AnyModifier});
                continue;
            }
            for (unsigned int lock : locks) {
                const unsigned int m = modifierMask(k.modifiers) | lock;
                XGrabKey(d, code, m, root, True, GrabModeAsync, GrabModeAsync);
                grabs_.push_back({code, m});
            }
        }
        // A combination another client holds already cannot be trapped; the
        // key is still reported.
        XSync(d, False);
        XSetErrorHandler(old);
    }

    void runTasks()
    {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard lock(tasksMutex_);
            tasks.swap(tasks_);
        }
        for (auto& t : tasks) t();
        if (!tasks.empty()) {
            XFlush(display_);
            XFlush(grabber_);
        }
    }

    void handle(Display* d, XEvent& e)
    {
        if (e.type != GenericEvent || e.xcookie.extension != opcode_ || !XGetEventData(d, &e.xcookie)) return;
        if (e.xcookie.evtype == XI_RawKeyPress || e.xcookie.evtype == XI_RawKeyRelease) {
            const auto* raw = static_cast<const XIRawEvent*>(e.xcookie.data);
            const bool press = e.xcookie.evtype == XI_RawKeyPress;
            const KeySym sym = XkbKeycodeToKeysym(d, static_cast<KeyCode>(raw->detail), 0, 0);
            const std::uint32_t vk = vkFromKeysym(sym);
            if (vk != 0) {
                const bool isAlt = vk == kVkLeftAlt || vk == kVkRightAlt;
                KeyEvent ev;
                ev.vk = vk;
                ev.scanCode = raw->detail >= 8 ? static_cast<std::uint32_t>(raw->detail - 8) : 0;
                ev.time = static_cast<std::uint32_t>(raw->time);
                // System keys as the hook code knows them: with Alt held, the Alt
                // key's own press, and F10.
                if (press) {
                    ev.message = (altHeld_ || isAlt || vk == kVkF10) ? kSysKeyDown : kKeyDown;
                    if (isAlt) altHeld_ = true;
                } else {
                    if (isAlt) altHeld_ = false;
                    ev.message = (!isAlt && (altHeld_ || vk == kVkF10)) ? kSysKeyUp : kKeyUp;
                }
                handler_(ev);
            }
        }
        XFreeEventData(d, &e.xcookie);
    }

    void loop()
    {
        Display* d = display_;
        Display* g = grabber_;
        pollfd fds[3] = {{ConnectionNumber(d), POLLIN, 0}, {ConnectionNumber(g), POLLIN, 0}, {wake_, POLLIN, 0}};
        while (!stopping_) {
            runTasks();
            while (XPending(d) > 0) {
                XEvent e;
                XNextEvent(d, &e);
                handle(d, e);
            }
            // The grabs' own key events: the raw events above report them.
            while (XPending(g) > 0) {
                XEvent e;
                XNextEvent(g, &e);
            }
            if (stopping_) break;
            ::poll(fds, 3, kPollMs);
            if (fds[2].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
            }
        }
        {
            std::lock_guard lock(tasksMutex_);
            tasks_.clear();
        }
        regrab({});
        XUngrabKeyboard(g, CurrentTime);
        XCloseDisplay(g);
        XCloseDisplay(d);
    }

    const std::string name_;
    mutable std::mutex control_;
    bool running_ = false;
    std::thread thread_;
    Display* display_ = nullptr;  // raw events and key state
    Display* grabber_ = nullptr;  // the grabs
    int opcode_ = 0;
    int wake_ = -1;
    Handler handler_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint32_t> held_{0};
    bool altHeld_ = false;  // display thread only
    std::mutex tasksMutex_;
    std::vector<std::function<void()>> tasks_;
    std::vector<Grab> grabs_;  // display thread only
};

} // namespace

std::unique_ptr<KeyboardSource> makeX11KeyboardSource(std::string display)
{
    return std::make_unique<X11KeyboardSource>(std::move(display));
}

} // namespace platform
