// The keyboard hook: hot-key matching, capture of every key and typing
// notices over the events of a keyboard source.
//
// Two locks: `control` orders the exports that start and stop the source
// (and is never taken by the source's thread); `state` guards the section,
// the records and the modifier bits, and is what every procedure holds.
// Source calls are made without `state`, so a handler waiting for it never
// blocks a stop.
#include "kbhook/keysnare.h"
#include "kbhook/keysnare_services.h"

#include "platform/messages.h"

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace keysnare {
namespace {

constexpr UINT kNone = 0xFFFFFFFF;
constexpr std::uintptr_t kNoTimer = 0xFFFFFFFF;
constexpr UINT kDefaultIdleMs = 250;
constexpr std::uint32_t kAlt = platform::kModAlt;
constexpr std::uint32_t kCtrl = platform::kModCtrl;
constexpr std::uint32_t kShift = platform::kModShift;
constexpr LRESULT kSwallow = -1;
constexpr LRESULT kPass = 0;
constexpr int kHcAction = 0;

class PostedMessages final : public MessageSink {
public:
    bool post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return platform::postMessage(hwnd, message, wParam, lParam);
    }
};

// One thread that runs due callbacks; waits are bounded by the next
// deadline and end at once on destruction.
class ThreadTimer final : public IdleTimer {
public:
    ~ThreadTimer() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    std::uintptr_t start(std::chrono::milliseconds delay, Callback callback) override
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        if (++next_ == kNoTimer) next_ = 1;
        pending_[next_] = {std::chrono::steady_clock::now() + delay, std::move(callback)};
        wake_.notify_all();
        return next_;
    }

    void cancel(std::uintptr_t id) override
    {
        std::lock_guard lock(mutex_);
        pending_.erase(id);
        wake_.notify_all();
    }

private:
    struct Entry {
        std::chrono::steady_clock::time_point due;
        Callback callback;
    };

    void run()
    {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            auto first = pending_.end();
            for (auto it = pending_.begin(); it != pending_.end(); ++it) {
                if (first == pending_.end() || it->second.due < first->second.due) first = it;
            }
            if (first == pending_.end()) {
                wake_.wait(lock);
                continue;
            }
            if (std::chrono::steady_clock::now() < first->second.due) {
                wake_.wait_until(lock, first->second.due);
                continue;
            }
            const std::uintptr_t id = first->first;
            Callback cb = std::move(first->second.callback);
            pending_.erase(first);
            lock.unlock();
            cb(id);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uintptr_t, Entry> pending_;
    std::uintptr_t next_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

struct HotKey {
    std::uint32_t vk;
    std::int32_t post;
    std::int32_t swallow;
    std::uint32_t modifiers;
    std::int32_t down;
    std::int32_t anyModifiers;
};

enum class Kind { None, HotKeysLowLevel, HotKeysThread, CaptureLowLevel, CaptureThread, Forward };

struct Section {
    bool hooked = false;
    HWND target = 0;
    UINT keyMessage = kNone;
    UINT typingStart = kNone;
    UINT typingStop = kNone;
    UINT idleMs = kDefaultIdleMs;
    std::uintptr_t typingTimer = kNoTimer;
    std::uint32_t modifiers = 0;
};

class Library {
public:
    std::mutex control;
    std::mutex state;

    // ---- guarded by state ----
    Section sec;
    Kind kind = Kind::None;
    std::vector<HotKey> keys;
    std::bitset<256> downKeys;  // for the thread form's previous-state bit
    std::bitset<256> capturePressed;  // keys pressed since the capture began

    // ---- services (changed under control) ----
    platform::KeyboardSource* source() { return sourceOverride ? sourceOverride : defaultSource(); }
    MessageSink* sink() { return sinkOverride ? sinkOverride : &windowMessages(); }
    IdleTimer* timer() { return timerOverride ? timerOverride : defaultTimer(); }
    platform::KeyboardSource* sourceOverride = nullptr;
    MessageSink* sinkOverride = nullptr;
    IdleTimer* timerOverride = nullptr;

    platform::KeyboardSource* defaultSource()
    {
        if (!x11_) x11_ = platform::makeX11KeyboardSource();
        return x11_.get();
    }
    IdleTimer* defaultTimer()
    {
        std::call_once(timerOnce_, [this] { threadTimer_ = std::make_unique<ThreadTimer>(); });
        return threadTimer_.get();
    }

private:
    std::unique_ptr<platform::KeyboardSource> x11_;
    std::once_flag timerOnce_;
    std::unique_ptr<ThreadTimer> threadTimer_;
};

Library& lib()
{
    static Library instance;
    return instance;
}

// ---- procedures (state held) -------------------------------------------------

bool isModifier(std::uint32_t vk, std::uint32_t& bit)
{
    switch (vk) {
    case 16: case 160: case 161: bit = kShift; return true;
    case 17: case 162: case 163: bit = kCtrl; return true;
    case 18: case 164: case 165: bit = kAlt; return true;
    default: return false;
    }
}

// Sets or clears a modifier's bit; true when vk is a modifier.
bool updateModifiers(Library& l, std::uint32_t vk, UINT message)
{
    std::uint32_t bit = 0;
    if (!isModifier(vk, bit)) return false;
    if (message == platform::kKeyDown)
        l.sec.modifiers |= bit;
    else
        l.sec.modifiers &= ~bit;
    return true;
}

// System key messages become plain ones. The Alt bit comes only from an Alt
// key's own event: a system key-down without Alt held (F10) must not leave
// the bit set and stop every unmodified hot key from matching.
UINT translateSysKey(UINT message)
{
    if (message == platform::kSysKeyDown) return platform::kKeyDown;
    if (message == platform::kSysKeyUp) return platform::kKeyUp;
    return message;
}

int findHotKey(const Library& l, std::uint32_t vk, std::uint32_t modifiers)
{
    for (std::size_t k = 0; k < l.keys.size(); ++k) {
        const HotKey& h = l.keys[k];
        if (h.vk == vk && (h.modifiers == modifiers || h.anyModifiers)) return static_cast<int>(k);
    }
    return -1;
}

int findDownHotKey(const Library& l, std::uint32_t vk)
{
    for (std::size_t k = 0; k < l.keys.size(); ++k) {
        if (l.keys[k].vk == vk && l.keys[k].down) return static_cast<int>(k);
    }
    return -1;
}

void postKey(Library& l, UINT message, std::uint32_t vk, std::uint32_t modifiers)
{
    const std::uint32_t packed = (vk & 0xFFFF) | (modifiers << 16);
    l.sink()->post(l.sec.target, l.sec.keyMessage, message, static_cast<LPARAM>(packed));
}

void typingTimerFired(std::uintptr_t id);

// After every key a hot-key procedure passed on.
void typingNotice(Library& l)
{
    if (l.sec.typingStart == kNone) return;
    if (l.sec.typingTimer == kNoTimer)
        l.sink()->post(l.sec.target, l.sec.typingStart, 0, 0);
    else
        l.timer()->cancel(l.sec.typingTimer);
    l.sec.typingTimer = l.timer()->start(std::chrono::milliseconds(l.sec.idleMs), typingTimerFired);
}

void typingTimerFired(std::uintptr_t id)
{
    Library& l = lib();
    std::lock_guard lock(l.state);
    // A timer replaced or stopped meanwhile has nothing to say.
    if (l.sec.typingTimer != id) return;
    l.sec.typingTimer = kNoTimer;
    if (l.sec.typingStop != kNone) l.sink()->post(l.sec.target, l.sec.typingStop, 0, 0);
}

LRESULT lowLevelHotKeys(Library& l, int code, WPARAM wParam, LPARAM lParam)
{
    if (code < 0 || lParam == 0) return kPass;
    const auto* ev = reinterpret_cast<const KeysnareLowLevelEvent*>(lParam);
    const std::uint32_t vk = ev->vkCode;
    const UINT message = translateSysKey(static_cast<UINT>(wParam));
    if (!updateModifiers(l, vk, message)) {
        int index = -1;
        bool alreadyDown = false;
        if (message == platform::kKeyDown) {
            index = findHotKey(l, vk, l.sec.modifiers);
            alreadyDown = index >= 0 && l.keys[static_cast<std::size_t>(index)].down;
        } else {
            index = findDownHotKey(l, vk);
        }
        if (index >= 0 && l.keys[static_cast<std::size_t>(index)].post) {
            HotKey& h = l.keys[static_cast<std::size_t>(index)];
            if (!alreadyDown) {
                h.down = message == platform::kKeyDown;
                postKey(l, message, vk, h.modifiers);
            }
            return h.swallow ? kSwallow : kPass;
        }
    }
    typingNotice(l);
    return kPass;
}

UINT threadMessage(LPARAM flags)
{
    return (static_cast<std::uint64_t>(flags) & 0x80000000u) ? platform::kKeyUp : platform::kKeyDown;
}

LRESULT threadHotKeys(Library& l, int code, WPARAM wParam, LPARAM lParam)
{
    if (code < 0) return kPass;
    const auto vk = static_cast<std::uint32_t>(wParam);
    const UINT message = threadMessage(lParam);
    if (!updateModifiers(l, vk, message)) {
        int index = -1;
        if (message == platform::kKeyDown) {
            index = findHotKey(l, vk, l.sec.modifiers);
            // An auto-repeated press of a held hot key passes on.
            if (index >= 0 && l.keys[static_cast<std::size_t>(index)].down) index = -1;
        } else {
            index = findDownHotKey(l, vk);
        }
        if (index >= 0 && l.keys[static_cast<std::size_t>(index)].post) {
            HotKey& h = l.keys[static_cast<std::size_t>(index)];
            postKey(l, message, vk, h.modifiers);
            h.down = message == platform::kKeyDown;
            return h.swallow ? kSwallow : kPass;
        }
    }
    typingNotice(l);
    return kPass;
}

LRESULT capture(Library& l, std::uint32_t vk, UINT message)
{
    if (!updateModifiers(l, vk, message) && message == platform::kKeyUp) postKey(l, platform::kKeyUp, vk, l.sec.modifiers);
    return kSwallow;
}

LRESULT captureLowLevel(Library& l, int code, WPARAM wParam, LPARAM lParam)
{
    if (code < 0 || lParam == 0) return kPass;
    const auto* ev = reinterpret_cast<const KeysnareLowLevelEvent*>(lParam);
    return capture(l, ev->vkCode, translateSysKey(static_cast<UINT>(wParam)));
}

LRESULT captureThread(Library& l, int code, WPARAM wParam, LPARAM lParam)
{
    if (code < 0) return kPass;
    return capture(l, static_cast<std::uint32_t>(wParam), threadMessage(lParam));
}

// ---- the source's events -------------------------------------------------------

// The thread hook's form of an event: the generic modifier code and the
// keystroke flags (repeat 1, scan code, Alt context, previous state, release).
std::uint32_t genericVk(std::uint32_t vk)
{
    if (vk == 160 || vk == 161) return 16;
    if (vk == 162 || vk == 163) return 17;
    if (vk == 164 || vk == 165) return 18;
    return vk;
}

LPARAM threadFlags(Library& l, const platform::KeyEvent& e, bool up)
{
    std::uint32_t flags = 1 | ((e.scanCode & 0xFF) << 16);
    if (l.sec.modifiers & kAlt) flags |= 1u << 29;
    const std::size_t slot = e.vk & 0xFF;
    if (l.downKeys[slot]) flags |= 1u << 30;
    if (up) flags |= 1u << 31;
    l.downKeys[slot] = !up;
    return static_cast<LPARAM>(flags);
}

// A capture takes a key on its release, so the release of a key that was
// already down when the capture began (the Enter that pressed the button
// opening the entry dialog) would be taken without the user choosing it: it
// is kept from the procedure, and from other programs.
bool pressedDuringCapture(Library& l, const platform::KeyEvent& e, bool up)
{
    std::uint32_t bit = 0;
    if (isModifier(e.vk, bit)) return true;
    const std::size_t slot = e.vk & 0xFF;
    if (!up) {
        l.capturePressed[slot] = true;
        return true;
    }
    const bool pressed = l.capturePressed[slot];
    l.capturePressed[slot] = false;
    return pressed;
}

bool onKeyEvent(const platform::KeyEvent& e)
{
    Library& l = lib();
    std::lock_guard lock(l.state);
    const bool up = e.message == platform::kKeyUp || e.message == platform::kSysKeyUp;
    if ((l.kind == Kind::CaptureLowLevel || l.kind == Kind::CaptureThread) && !pressedDuringCapture(l, e, up)) {
        threadFlags(l, e, up);  // the thread form's key state follows every event
        return true;
    }
    KeysnareLowLevelEvent ll{e.vk, e.scanCode, up ? 0x80u : 0u, e.time, 0};
    const auto llParam = reinterpret_cast<LPARAM>(&ll);
    LRESULT r = kPass;
    switch (l.kind) {
    case Kind::HotKeysLowLevel: r = lowLevelHotKeys(l, kHcAction, e.message, llParam); break;
    case Kind::CaptureLowLevel: r = captureLowLevel(l, kHcAction, e.message, llParam); break;
    case Kind::HotKeysThread: r = threadHotKeys(l, kHcAction, genericVk(e.vk), threadFlags(l, e, up)); break;
    case Kind::CaptureThread: r = captureThread(l, kHcAction, genericVk(e.vk), threadFlags(l, e, up)); break;
    case Kind::Forward: {
        const LPARAM flags = threadFlags(l, e, up);
        l.sink()->post(l.sec.target, l.sec.keyMessage, genericVk(e.vk), flags);
        break;
    }
    case Kind::None: break;
    }
    return r != kPass;
}

std::vector<platform::TrappedKey> trappedKeys(const Library& l)
{
    std::vector<platform::TrappedKey> out;
    for (const HotKey& h : l.keys) {
        if (h.post && h.swallow) out.push_back({h.vk, h.modifiers, h.anyModifiers != 0});
    }
    return out;
}

// ---- hook lifecycle (control held) --------------------------------------------------

void removeHook(Library& l)
{
    platform::KeyboardSource* src = l.source();
    if (src->running()) src->stop();
    std::lock_guard lock(l.state);
    l.kind = Kind::None;
    l.sec.keyMessage = kNone;
    l.sec.target = 0;
    l.sec.hooked = false;
}

bool setHook(Library& l, Kind kind, HWND target, UINT message)
{
    {
        std::lock_guard lock(l.state);
        l.sec.keyMessage = message;
        l.sec.target = target;
        l.kind = kind;
    }
    platform::KeyboardSource* src = l.source();
    if (!src->start(onKeyEvent)) {
        std::lock_guard lock(l.state);
        l.kind = Kind::None;
        return false;
    }
    // Releases missed while no hook ran leave the bits and the held flags
    // stale: take the modifiers from the real key state, forget held keys.
    const std::uint32_t held = src->heldModifiers();
    std::vector<platform::TrappedKey> trap;
    {
        std::lock_guard lock(l.state);
        l.sec.modifiers = held;
        for (HotKey& h : l.keys) h.down = 0;
        l.downKeys.reset();
        l.capturePressed.reset();
        l.sec.hooked = true;
        if (kind == Kind::HotKeysLowLevel || kind == Kind::HotKeysThread) trap = trappedKeys(l);
    }
    if (kind == Kind::CaptureLowLevel || kind == Kind::CaptureThread)
        src->trapAll(true);
    else if (!trap.empty())
        src->trapKeys(std::move(trap));
    return true;
}

bool isHotKeyKind(Kind k) { return k == Kind::HotKeysLowLevel || k == Kind::HotKeysThread; }

} // namespace

MessageSink& windowMessages()
{
    static PostedMessages sink;
    return sink;
}

void useServices(platform::KeyboardSource* source, MessageSink* sink, IdleTimer* timer)
{
    Library& l = lib();
    std::lock_guard control(l.control);
    removeHook(l);
    std::lock_guard lock(l.state);
    if (l.sec.typingTimer != kNoTimer) l.timer()->cancel(l.sec.typingTimer);
    l.sec.typingTimer = kNoTimer;
    l.sourceOverride = source;
    l.sinkOverride = sink;
    l.timerOverride = timer;
}

void reset()
{
    Library& l = lib();
    std::lock_guard control(l.control);
    removeHook(l);
    std::lock_guard lock(l.state);
    if (l.sec.typingTimer != kNoTimer) l.timer()->cancel(l.sec.typingTimer);
    l.sec = Section{};
    l.keys.clear();
    l.downKeys.reset();
    l.capturePressed.reset();
}

SectionView section()
{
    Library& l = lib();
    std::lock_guard lock(l.state);
    return {l.sec.hooked,      l.sec.target,      l.sec.keyMessage, l.sec.typingStart,
            l.sec.typingStop,  l.sec.idleMs,      l.sec.typingTimer, l.sec.modifiers};
}

} // namespace keysnare

using keysnare::lib;

extern "C" {

bool InstallKBhook(int idHook, HWND target, UINT keyMessage)
{
    auto& l = lib();
    std::lock_guard control(l.control);
    removeHook(l);
    return setHook(l, idHook == kKeysnareLowLevelHook ? keysnare::Kind::HotKeysLowLevel : keysnare::Kind::HotKeysThread,
                   target, keyMessage);
}

void RemoveKBhook()
{
    auto& l = lib();
    std::lock_guard control(l.control);
    removeHook(l);
}

void SetKBhotKeys(unsigned long keyAndModifiers, int post, int swallow, int anyModifiers)
{
    auto& l = lib();
    std::lock_guard control(l.control);
    const auto vk = static_cast<std::uint32_t>(keyAndModifiers & 0xFFFF);
    const auto mods = static_cast<std::uint32_t>((keyAndModifiers >> 16) & 0xFFFF);
    std::vector<platform::TrappedKey> trap;
    bool retrap = false;
    {
        std::lock_guard lock(l.state);
        // Looked up with the record's own modifiers, never by rewriting the
        // live modifier bits that the procedures read.
        const int index = findHotKey(l, vk, mods);
        if (index >= 0) {
            keysnare::HotKey& h = l.keys[static_cast<std::size_t>(index)];
            h.post = post;
            h.swallow = swallow;
            h.modifiers = mods;
            h.anyModifiers = anyModifiers;
        } else {
            const keysnare::HotKey h{vk, post, swallow, mods, 0, anyModifiers};
            if (anyModifiers)
                l.keys.insert(l.keys.begin(), h);
            else
                l.keys.push_back(h);
        }
        retrap = l.sec.hooked && isHotKeyKind(l.kind);
        if (retrap) trap = trappedKeys(l);
    }
    if (retrap) l.source()->trapKeys(std::move(trap));
}

void ClearKBhotKeys()
{
    auto& l = lib();
    std::lock_guard control(l.control);
    bool retrap = false;
    {
        std::lock_guard lock(l.state);
        l.keys.clear();
        retrap = l.sec.hooked && isHotKeyKind(l.kind);
    }
    if (retrap) l.source()->trapKeys({});
}

void SplitHotKeyAndModifiers(unsigned packed, unsigned* key, unsigned* modifiers)
{
    if (key) *key = packed & 0xFFFF;
    if (modifiers) *modifiers = packed >> 16;
}

bool FilterAllKeys(int idHook, HWND target, UINT keyMessage)
{
    auto& l = lib();
    std::lock_guard control(l.control);
    removeHook(l);
    return setHook(l, idHook == kKeysnareLowLevelHook ? keysnare::Kind::CaptureLowLevel : keysnare::Kind::CaptureThread,
                   target, keyMessage);
}

bool StartTypingHook(UINT startMessage, UINT stopMessage, UINT idleMs)
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    l.sec.typingStart = startMessage;
    l.sec.typingStop = stopMessage;
    l.sec.idleMs = idleMs;
    return true;
}

bool StopTypingHook()
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    l.sec.typingStart = keysnare::kNone;
    l.sec.typingStop = keysnare::kNone;
    return true;
}

LRESULT LowLevelKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    return lowLevelHotKeys(l, code, wParam, lParam);
}

LRESULT KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    return threadHotKeys(l, code, wParam, lParam);
}

LRESULT FilterAllKeyboardHookProcLL(int code, WPARAM wParam, LPARAM lParam)
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    return captureLowLevel(l, code, wParam, lParam);
}

LRESULT FilterAllKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    auto& l = lib();
    std::lock_guard lock(l.state);
    return captureThread(l, code, wParam, lParam);
}

int KeyboardHook_Start(HWND target, UINT message)
{
    auto& l = lib();
    std::lock_guard control(l.control);
    {
        std::lock_guard lock(l.state);
        if (l.sec.hooked) return 0;
    }
    return setHook(l, keysnare::Kind::Forward, target, message) ? 1 : 0;
}

int KeyboardHook_Stop()
{
    auto& l = lib();
    std::lock_guard control(l.control);
    {
        std::lock_guard lock(l.state);
        if (!l.sec.hooked) return 1;
    }
    removeHook(l);
    return 1;
}

} // extern "C"
