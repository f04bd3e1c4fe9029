#pragma once
// The main frame's four monitor-window slots: 0 gauges, 1 camera image
// ("tracking"), 2 3D heads, 3 unused. A slot is empty or holds one open
// window; the re-open flags say which windows come back when the frame is
// shown again or a game ends. Qt-free: the windows come from a factory.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/app_profile.h"
#include "platform/messages.h"

namespace app {

inline constexpr int kSlotGauges = 0;
inline constexpr int kSlotTracking = 1;
inline constexpr int kSlotHeads = 2;
inline constexpr int kSlotCount = 4;

// One open monitor window, as the slots see it.
class IMonitorWindow {
public:
    virtual ~IMonitorWindow() = default;
    // The id the window's destroy notice carries (WM_MODELESS_DESTROYED).
    virtual std::uintptr_t Id() const = 0;
    // Brings it to the front without moving or sizing it.
    virtual void Raise() = 0;
    // Closes it (its own modal children as Cancel) and lets it go.
    virtual void Stop() = 0;
    // A private message for the window; true when it took it.
    virtual bool Message(platform::UINT message, platform::WPARAM wParam) = 0;
};

class IMonitorFactory {
public:
    virtual ~IMonitorFactory() = default;
    // Opens the window of a slot; null when it cannot be made.
    virtual std::unique_ptr<IMonitorWindow> Open(int slot) = 0;
};

class CMonitorSlots {
public:
    // `frameShown`: whether the frame is visible and not minimised.
    CMonitorSlots(IMonitorFactory& factory, CAppProfile& profile, std::function<bool()> frameShown);
    ~CMonitorSlots();
    CMonitorSlots(const CMonitorSlots&) = delete;
    CMonitorSlots& operator=(const CMonitorSlots&) = delete;

    // Opens the slot's window, or raises it when it is open. Slot 3 and
    // slots out of range do nothing.
    void CreateChildWindow(int slot);
    void CloseChildWindow(int slot);
    // Closes every slot; with `remember`, open ones are marked for re-opening.
    void CloseChildWindows(bool remember);
    // Opens every marked slot and clears all marks; unless forced, nothing
    // happens while the frame is hidden or minimised.
    void ShowChildWindows(bool force);
    // A window closed by its user: its slot is emptied.
    void OnModelessDestroyed(std::uintptr_t id);
    // The View menu: opens a closed slot, closes an open one.
    void Toggle(int slot);

    bool IsOpen(int slot) const;
    bool ReopenFlag(int slot) const;
    // Sends a private message to the slot's open window; false when closed.
    bool Message(int slot, platform::UINT message, platform::WPARAM wParam);

    // "windows"/"0".."3": the marks from the last exit.
    void LoadReopenFlags();
    // Writes which slots are open now.
    void SaveOpenWindows();

    static constexpr const char* kSection = "windows";

private:
    static bool Valid(int slot) { return slot >= 0 && slot < kSlotCount; }

    IMonitorFactory& factory_;
    CAppProfile& profile_;
    std::function<bool()> frameShown_;
    std::array<std::unique_ptr<IMonitorWindow>, kSlotCount> windows_;
    std::array<bool, kSlotCount> reopen_{};
};

} // namespace app
