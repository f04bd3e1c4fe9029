#include "mouse/emulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vslmouse {
namespace {

// Pose record slots: 0 roll, 1 pitch, 2 yaw, 3 x, 4 y, 5 z.
constexpr int kSlotOfAxis[kAxisCount] = {2, 1, 0, 3, 4, 5};

// A step of the cursor from a float, truncated toward zero. A corrupt
// record (not finite, or far out of range) must not make the conversion
// undefined nor throw the cursor further than the axis's whole range.
std::int32_t Truncate(double v)
{
    if (!std::isfinite(v))
        return 0;
    constexpr double limit = 2 * kFullScale + 1;
    return static_cast<std::int32_t>(std::clamp(v, -limit, limit));
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

} // namespace

float AxisValue(const OVPosePacket& record, int axis)
{
    return axis >= 0 && axis < kAxisCount ? record.value[kSlotOfAxis[axis]] : 0.0f;
}

std::u16string DelayText(int position)
{
    return Ascii(std::to_string(position / 10) + "." + std::to_string(position % 10) + " seconds");
}

std::u16string ThresholdText(int position) { return Ascii(std::to_string(position)); }

std::u16string AboutText()
{
    return Ascii(std::string(kApplicationTitle) + " Version " + std::to_string(4) + "." + std::to_string(1) +
                 "  Build " + std::to_string(37));
}

MeterLayout LayoutMeter(float value, int width, bool autoPanning, int thresholdPercent)
{
    MeterLayout m;
    if (width <= 0)
        return m;
    const int half = width / 2;
    m.centre = half;
    const double v = std::isfinite(value) ? std::clamp(static_cast<double>(value), -16383.0, 16383.0) : 0.0;
    m.marker = std::clamp(half + static_cast<int>(v / 16383.0 * half), 0, width - 1);
    m.zones = autoPanning;
    if (autoPanning) {
        const int reach = half * thresholdPercent / 100;
        m.leftZoneEnd = half - reach;
        m.rightZoneStart = half + reach;
    }
    return m;
}

MouseEmulator::MouseEmulator(ClientBinding& client, platform::Pointer& pointer, ForegroundProbe& foreground,
                             platform::Clock& clock, platform::registry::Store& store, EmulatorView& view)
    : client_(client), pointer_(pointer), foreground_(foreground), store_(store), view_(view), timers_(clock)
{
}

void MouseEmulator::LoadSettings() { settings_ = vslmouse::LoadSettings(store_); }

int MouseEmulator::OnInitDialog(OVWindow dialog)
{
    destroyed_ = false;
    last_ = {};
    RememberCursor();
    if (ConnectClient(dialog) != OV_OK) {
        view_.ShowMessage(kInitFailedText);
        return kInitFailedExitCode;
    }
    timers_.Set(kMeterTimer, kMeterMs);
    return 0;
}

std::int32_t MouseEmulator::ConnectClient(OVWindow dialog)
{
    std::int32_t rc = client_.BindClient(store_, [this](std::u16string_view text) { view_.ShowMessage(text); });
    if (rc != OV_OK)
        return rc;
    rc = client_.RegisterWindowHandle(dialog);
    if (rc != OV_OK)
        return rc;
    connected_ = true;
    std::uint16_t version = 0;
    client_.QueryVersion(&version);
    client_.RequestData(OV_AXIS_ALL);
    rc = client_.RegisterProgramProfileID(kProgramProfileId);
    if (rc != OV_OK)
        return rc;
    rc = client_.StartDataTransmission();
    if (rc != OV_OK)
        return rc;
    timers_.Set(kPollTimer, kPollMs);
    return OV_OK;
}

void MouseEmulator::OnDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (connected_) {
        client_.StopDataTransmission();
        client_.UnregisterWindowHandle();
        connected_ = false;
    }
    timers_.Kill(kPollTimer);
    timers_.Kill(kMeterTimer);
    timers_.Kill(kOverrideTimer);
}

int MouseEmulator::RunTimers()
{
    return timers_.RunDue([this](std::uintptr_t id) { OnTimer(id); });
}

void MouseEmulator::OnTimer(std::uintptr_t id)
{
    switch (id) {
    case kPollTimer:
        Poll();
        break;
    case kMeterTimer:
        view_.UpdateMeters(AxisValue(last_, settings_.xAxis), AxisValue(last_, settings_.yAxis));
        break;
    case kOverrideTimer:
        EndOverride();
        break;
    default:
        break;
    }
}

int MouseEmulator::Poll()
{
    std::int32_t parameter[3] = {0, 0, 0};
    for (std::int32_t i = 0; i < 3; ++i)
        client_.GetParameter(i, &parameter[i]);
    OVPosePacket record{};
    if (const std::int32_t rc = client_.GetData(&record); rc != OV_OK)
        return rc;
    if (record.status != 0 || record.frame == last_.frame)
        return kUnchangedFrame;
    if (parameter[2] != 0) {
        // The engine asks for the cursor in the middle of the screen.
        client_.SetParameter(2, 0);
        SendMouseMove(kScreenCentre, kScreenCentre, true);
    } else {
        MoveCursor(last_, record);
    }
    last_ = record;
    return 0;
}

void MouseEmulator::MoveCursor(const OVPosePacket& last, const OVPosePacket& next)
{
    const double lastX = AxisValue(last, settings_.xAxis);
    const double newX = AxisValue(next, settings_.xAxis);
    const double lastY = AxisValue(last, settings_.yAxis);
    const double newY = AxisValue(next, settings_.yAxis);
    const double sign = settings_.yAxis == kPitch ? -1.0 : 1.0;
    const double scaling = settings_.scaling;

    std::int32_t dx = 0;
    if (settings_.autoPanning && std::fabs(newX) > settings_.autoPanningThreshold * kFullScale / 100)
        dx = newX > 0 ? -kPanStep : kPanStep;
    else
        dx = Truncate((lastX - newX) / scaling);
    const std::int32_t dy = Truncate((lastY - newY) * sign / scaling);

    const auto pos = pointer_.cursorPos();
    if (pos && *pos != cursor_) {
        // The user has moved the mouse: pause until the delay passes
        // without another hand move.
        override_ = true;
        cursor_ = *pos;
        timers_.Set(kOverrideTimer, static_cast<std::uint32_t>(settings_.mouseOverrideDelay) * 100);
    } else if (!override_) {
        SendMouseMove(dx, dy, false);
    }
}

bool MouseEmulator::SendMouseMove(std::int32_t dx, std::int32_t dy, bool absolute)
{
    platform::MouseInput input;
    input.dx = dx;
    input.dy = dy;
    input.mouseData = 0;
    input.flags = platform::MOUSEEVENTF_MOVE | (absolute ? platform::MOUSEEVENTF_ABSOLUTE : 0);
    input.time = 0;
    input.extraInfo = kExtraInfo;
    const std::uint64_t window = foreground_.ForegroundWindow();
    if (!foregroundResult_ || window != foregroundWindow_) {
        foregroundWindow_ = window;
        foregroundResult_ = IsDirectInputModuleList(foreground_.ModuleNames(window));
    }
    if (!foregroundResult_ && !settings_.alwaysSend)
        return false;
    pointer_.sendInput(std::span<const platform::MouseInput>(&input, 1));
    // The program's own move is not a move of the user's.
    RememberCursor();
    return true;
}

bool MouseEmulator::IsDirectInputForeground()
{
    return IsDirectInputModuleList(foreground_.ModuleNames(foreground_.ForegroundWindow()));
}

void MouseEmulator::EndOverride()
{
    timers_.Kill(kOverrideTimer);
    RememberCursor();
    override_ = false;
}

void MouseEmulator::RememberCursor()
{
    if (auto pos = pointer_.cursorPos())
        cursor_ = *pos;
}

void MouseEmulator::SetXAxis(int axis)
{
    if (axis >= 0 && axis < kAxisCount)
        settings_.xAxis = axis;
}

void MouseEmulator::SetYAxis(int axis)
{
    if (axis >= 0 && axis < kAxisCount)
        settings_.yAxis = axis;
}

void MouseEmulator::SetThreshold(int percent)
{
    settings_.autoPanningThreshold = std::clamp(percent, kThresholdMin, kThresholdMax);
}

void MouseEmulator::SetOverrideDelay(int steps) { settings_.mouseOverrideDelay = std::clamp(steps, kDelayMin, kDelayMax); }

void MouseEmulator::SaveSettings() { vslmouse::SaveSettings(store_, settings_); }

} // namespace vslmouse
