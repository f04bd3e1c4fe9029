#pragma once
// Binds the profile's device hot keys (mouse and controller buttons) to
// their actions, and turns the buttons' presses and releases into
// WM_HOTKEY_ACTION messages when polled. It also captures the next button
// pressed, for the hot-key entry dialog.
#include "input/HotKeys.h"
#include "input/InputDevices.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// wParam 0x100 pressed / 0x101 released, lParam the action index.
inline constexpr platform::UINT WM_HOTKEY_ACTION = 0x8130;

// How messages leave the map; platform::postMessage unless a test says otherwise.
using PostMessageFn = std::function<bool(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)>;

struct CActionMapEntry {
    std::int32_t action = -1;      // 0 Center, 1 Pause, 2 Precision
    Guid device{};                 // the device's instance id
    std::int32_t button = -1;      // 0-based button number
    std::int32_t systemKeyboard = 0;
    std::int32_t message = -1;     // posted for this binding

    friend bool operator==(const CActionMapEntry&, const CActionMapEntry&) = default;
};

class CActionMap {
public:
    // Devices from `source` (null: the default sources); messages through `post`.
    explicit CActionMap(std::unique_ptr<platform::devices::ButtonSource> source = nullptr, PostMessageFn post = nullptr);
    CActionMap(const CActionMap&) = delete;
    CActionMap& operator=(const CActionMap&) = delete;

    // Stores the owner (it receives the action messages) and lists the devices.
    std::int32_t Create(platform::HWND owner);
    std::int32_t ClearBindings();
    // Binds every key of indexes 0..2 that names a device; a set with fewer
    // keys has no more.
    void AddHotKeys(const CHotKeys& keys, platform::UINT message);
    void AddBinding(const CActionMapEntry& entry);
    // The first binding with the entry's button and device: its action is
    // copied into the entry and the result is 1; else 0.
    int FindEntry(CActionMapEntry& entry);
    // The next button pressed on any device is stored and (0, 0) posted to
    // window as message; that press is not dispatched.
    void BeginCapture(platform::HWND window, platform::UINT message);
    // Ends a capture that is still waiting, so that the next press is
    // dispatched again rather than posted to a window that is gone.
    void EndCapture();
    CActionMapEntry GetCapturedEntry();
    bool Capturing();
    // Lists the devices again and recounts their bindings.
    std::int32_t Refresh();
    // Reads every device's buffered button items and dispatches them; the
    // last failed read's result, or 0.
    std::int32_t Poll();

    // Whether a poll can do anything: a device is bound or a capture waits.
    // The event is set while that holds, so a poller can sleep until it does.
    bool Wanted();
    platform::Event& WantedEvent() { return wanted_; }
    // Samples every device and drops what it read: the buttons' state now
    // becomes what later polls compare with (after a time without polls,
    // so that a button held all along is not taken for a new press).
    void Rebase();

    std::vector<CActionMapEntry> Bindings();
    // Runs f on the device list under the map's lock.
    void WithDevices(const std::function<void(const std::vector<CInputDevice>&)>& f);

private:
    void recount();
    void updateWanted();  // under lock_

    PostMessageFn post_;
    platform::CriticalSection lock_;
    platform::HWND owner_ = 0;
    std::vector<CActionMapEntry> bindings_;
    bool capturing_ = false;
    CInputDevices devices_;
    CActionMapEntry capture_{};
    platform::HWND captureWindow_ = 0;
    platform::UINT captureMessage_ = 0;
    platform::Event wanted_{platform::Event::Reset::Manual};
};

// The poll thread: CActionMap::Poll every period (33 ms) of the clock, at
// the highest priority, until stopped. While the map has nothing to poll for
// (no device bound, no capture) the thread sleeps until it has: a program
// whose hot keys are all keyboard keys does not wake thirty times a second.
class CInputPoller {
public:
    static constexpr std::chrono::milliseconds kPeriod{33};

    explicit CInputPoller(CActionMap& map, platform::Clock& clock = platform::systemClock(),
                          std::chrono::milliseconds period = kPeriod);
    ~CInputPoller();
    CInputPoller(const CInputPoller&) = delete;
    CInputPoller& operator=(const CInputPoller&) = delete;

    // False when already running or the thread could not start.
    bool Start();
    // Stops and joins the thread; at most one period passes.
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    CActionMap& map_;
    platform::Clock& clock_;
    std::chrono::milliseconds period_;
    std::atomic<bool> stop_{false};
    platform::Event stopEvent_{platform::Event::Reset::Manual};
    platform::Thread thread_;
};
