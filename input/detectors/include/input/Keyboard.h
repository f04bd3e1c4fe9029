#pragma once
// Keyboard detectors: watch the whole session's keyboard for the profile's
// three keyboard hot keys and post their presses (wParam 0x100) and releases
// (0x101) to one window as WM_HOTKEY_KEY, or capture every key for the
// hot-key entry dialog. Two kinds stand behind one interface: one over the
// Keysnare hook library, one polling a key-state device every 10 ms.
#include "input/HotKeys.h"
#include "platform/clock.h"
#include "platform/devices/key_state_device.h"
#include "platform/messages.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// lParam: the key as HotKeyAndModifiers (the key-state detector posts the
// virtual key alone).
inline constexpr platform::UINT WM_HOTKEY_KEY = 0x812C;

class CKeyboard {
public:
    virtual ~CKeyboard() = default;
    virtual bool Install(platform::HWND target, platform::UINT message) = 0;
    virtual void Uninstall() = 0;
    virtual void SetHotKeys(const CHotKeys& keys) = 0;
    virtual void SetHotKey(std::uint32_t code, int enable, int trap, int index) = 0;
    // Capture: every key release is reported and no key reaches any program.
    virtual bool FilterAllKeys(platform::HWND target, platform::UINT message) = 0;
    virtual bool StartTypingHook(platform::UINT startMessage, platform::UINT stopMessage, platform::UINT idleMs) = 0;
    virtual bool StopTypingHook() = 0;

    // Detector classes of the systems the detectors were made for: 0 (95),
    // 1 (98), 2 (Me), 3 (NT 4), 4 and 5 (2000 and later); -1 for others.
    static int GetWindowsVersionClass(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);
    // The detector for a class: the hook detector for 4 and 5, the key-state
    // detector for 1 and 2, none otherwise (the program then runs without
    // keyboard hot keys).
    static std::unique_ptr<CKeyboard> CreateForVersionClass(int versionClass);
    // The detector of this system: the hook detector.
    static std::unique_ptr<CKeyboard> Create();
};

// Over the Keysnare hook library's low-level hook.
class CW2Kkeyboard final : public CKeyboard {
public:
    struct Watched {
        std::uint32_t code = 0;  // HotKeyAndModifiers
        int post = 0;
        int trap = 0;
    };

    CW2Kkeyboard() = default;
    ~CW2Kkeyboard() override;
    CW2Kkeyboard(const CW2Kkeyboard&) = delete;
    CW2Kkeyboard& operator=(const CW2Kkeyboard&) = delete;

    bool Install(platform::HWND target, platform::UINT message) override;
    void Uninstall() override;
    void SetHotKeys(const CHotKeys& keys) override;
    void SetHotKey(std::uint32_t code, int enable, int trap, int index) override;
    bool FilterAllKeys(platform::HWND target, platform::UINT message) override;
    bool StartTypingHook(platform::UINT startMessage, platform::UINT stopMessage, platform::UINT idleMs) override;
    bool StopTypingHook() override;

    const std::array<Watched, 3>& watched() const { return watched_; }

private:
    std::array<Watched, 3> watched_{};
};

// Polls a key-state device every 10 ms on its own thread; capture goes
// through the hook library's thread hook.
class CW9xkeyboard final : public CKeyboard {
public:
    using PostFn = std::function<bool(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)>;
    static constexpr std::chrono::milliseconds kPeriod{10};
    static constexpr int kThreadExitCode = 99;

    // null device: the X11 key-state device; null post: platform::postMessage.
    explicit CW9xkeyboard(std::unique_ptr<platform::devices::KeyStateDevice> device = nullptr,
                          platform::Clock& clock = platform::systemClock(), PostFn post = nullptr);
    ~CW9xkeyboard() override;
    CW9xkeyboard(const CW9xkeyboard&) = delete;
    CW9xkeyboard& operator=(const CW9xkeyboard&) = delete;

    bool Install(platform::HWND target, platform::UINT message) override;
    void Uninstall() override;
    void SetHotKeys(const CHotKeys& keys) override;
    void SetHotKey(std::uint32_t code, int enable, int trap, int index) override;
    bool FilterAllKeys(platform::HWND target, platform::UINT message) override;
    bool StartTypingHook(platform::UINT, platform::UINT, platform::UINT) override { return false; }
    bool StopTypingHook() override { return false; }

    bool Installed() const;
    // The polling thread's exit code once it has ended, else 0.
    int ThreadExitCode() const { return exitCode_.load(); }
    // Device slot of a hot-key index (0 -> 5, 1 -> 3, 2 -> 7), -1 for others.
    static int SlotOfIndex(int index);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<int> exitCode_{0};
};
