#pragma once
// The emulator's settings in the user's registry section
// HKCU "Software\Orvane\Vistrel Mouse Emulation\Config", integer values.
#include <cstdint>

#include "platform/registry.h"

namespace vslmouse {

inline constexpr const char* kApplicationTitle = "Vistrel Mouse Emulation";
inline constexpr const char* kSettingsKey = "Software\\Orvane\\Vistrel Mouse Emulation\\Config";

// Axis list of both combo boxes.
enum Axis : int { kYaw = 0, kPitch = 1, kRoll = 2, kX = 3, kY = 4, kZ = 5 };
inline constexpr int kAxisCount = 6;

inline constexpr int kThresholdMin = 5;
inline constexpr int kThresholdMax = 95;
inline constexpr int kDelayMin = 0;
inline constexpr int kDelayMax = 10;
// "MovementType" holding this switches on sending whatever program is in front.
inline constexpr std::uint32_t kAlwaysSendCode = 47219386;

struct MouseSettings {
    int xAxis = kYaw;
    int yAxis = kPitch;
    bool autoPanning = false;
    int autoPanningThreshold = 50; // percent of full scale
    int mouseOverrideDelay = 0;    // steps of 100 ms
    int scaling = 5;               // divisor of the axis change; read only
    bool alwaysSend = false;       // from "MovementType"; read only

    bool operator==(const MouseSettings&) const = default;
};

// Missing values keep their defaults. Values the emulator cannot use are
// mended: an axis outside the list takes its default, the threshold and
// delay are held in their sliders' ranges, and a scaling below 1 (a divisor)
// becomes 5.
MouseSettings LoadSettings(platform::registry::Store& store);
// Writes the values the dialog changes (not "Scaling" or "MovementType").
platform::registry::Status SaveSettings(platform::registry::Store& store, const MouseSettings& settings);

} // namespace vslmouse
