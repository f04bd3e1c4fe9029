#pragma once
// The mouse emulator's logic, apart from its dialog: the client link, the
// poll that turns two pose axes into relative mouse moves, the override
// pause after the user moves the mouse, the foreground gate and the meter
// timer. Everything runs on the dialog's thread from the timers of its
// TimerQueue, on an injected clock.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/ovclient.h"
#include "mouse/client.h"
#include "mouse/foreground.h"
#include "mouse/settings.h"
#include "mouse/timers.h"
#include "platform/clock.h"
#include "platform/pointer.h"
#include "platform/registry.h"

namespace vslmouse {

inline constexpr std::uintptr_t kPollTimer = 100;
inline constexpr std::uintptr_t kMeterTimer = 101;
inline constexpr std::uintptr_t kOverrideTimer = 102;
inline constexpr std::uint32_t kPollMs = 8;
inline constexpr std::uint32_t kMeterMs = 33;
inline constexpr std::uint16_t kProgramProfileId = 8501;
inline constexpr int kPanStep = 20;
inline constexpr int kFullScale = 0x3FFF;
inline constexpr std::int32_t kScreenCentre = 0x7FFF; // absolute moves are on 0..65535
inline constexpr std::uintptr_t kExtraInfo = 0x0BADC0DE;
inline constexpr int kUnchangedFrame = 5; // the poll's result when there is nothing new
inline constexpr int kInitFailedExitCode = 2;
inline constexpr std::u16string_view kInitFailedText = u"Unabled to initialize Vistrel.";
inline constexpr std::u16string_view kAxisNames[kAxisCount] = {u"Yaw", u"Pitch", u"Roll", u"X", u"Y", u"Z"};

// The pose record's value for an axis of the combo boxes' list.
float AxisValue(const OVPosePacket& record, int axis);

// Texts of the dialog.
std::u16string DelayText(int position);     // "%d.%d seconds"
std::u16string ThresholdText(int position); // "%d"
std::u16string AboutText();                 // "%s %s %d.%d  %s %d"

// Where a meter draws: the centre line, the marker for a value, and the
// auto-panning zones (left of leftZoneEnd and from rightZoneStart on).
struct MeterLayout {
    int centre = 0;
    int marker = 0;
    bool zones = false;
    int leftZoneEnd = 0;
    int rightZoneStart = 0;
};
MeterLayout LayoutMeter(float value, int width, bool autoPanning, int thresholdPercent);

// What the dialog shows for the emulator.
class EmulatorView {
public:
    virtual ~EmulatorView() = default;
    virtual void ShowMessage(std::u16string_view text) = 0;
    // The meters' values (X axis, Y axis), every 33 ms.
    virtual void UpdateMeters(float x, float y) = 0;
};

class MouseEmulator {
public:
    MouseEmulator(ClientBinding& client, platform::Pointer& pointer, ForegroundProbe& foreground,
                  platform::Clock& clock, platform::registry::Store& store, EmulatorView& view);

    // The settings as stored (before the dialog fills its controls).
    void LoadSettings();
    // The start once the controls are filled: zeroes the last record,
    // remembers the cursor, connects and starts the timers. 0, or the
    // dialog's exit code after the user was told the start failed.
    int OnInitDialog(OVWindow dialog);
    // Binds the library and registers; the first non-zero result.
    std::int32_t ConnectClient(OVWindow dialog);
    // Stops transmission and unregisters when connected; kills the timers.
    void OnDestroy();

    // Fires the due timers; the event loop calls it when TimeToNextTimer() ends.
    int RunTimers();
    std::optional<platform::Duration> TimeToNextTimer() const { return timers_.TimeToNext(); }
    void OnTimer(std::uintptr_t id);

    // One poll (timer 100): 0 after a new record, kUnchangedFrame when
    // there was none, or the client library's failure.
    int Poll();
    void MoveCursor(const OVPosePacket& last, const OVPosePacket& next);
    // Returns whether the event was sent.
    bool SendMouseMove(std::int32_t dx, std::int32_t dy, bool absolute);
    bool IsDirectInputForeground();
    // Timer 102.
    void EndOverride();

    // The dialog's controls.
    const MouseSettings& Settings() const { return settings_; }
    void SetXAxis(int axis);
    void SetYAxis(int axis);
    void SetAutoPanning(bool on) { settings_.autoPanning = on; }
    void SetThreshold(int percent);
    void SetOverrideDelay(int steps);
    void SaveSettings();

    bool Connected() const { return connected_; }
    bool Overriding() const { return override_; }
    const OVPosePacket& LastRecord() const { return last_; }
    const TimerQueue& Timers() const { return timers_; }

private:
    void RememberCursor();

    ClientBinding& client_;
    platform::Pointer& pointer_;
    ForegroundProbe& foreground_;
    platform::registry::Store& store_;
    EmulatorView& view_;
    TimerQueue timers_;

    MouseSettings settings_;
    OVPosePacket last_{};
    platform::CursorPoint cursor_{};
    bool override_ = false;
    bool connected_ = false;
    bool destroyed_ = false;
    std::uint64_t foregroundWindow_ = 0;
    bool foregroundResult_ = false;
};

} // namespace vslmouse
