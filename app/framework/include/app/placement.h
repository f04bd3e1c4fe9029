#pragma once
// Where a top-level window opens and what is kept of it: "xpos", "ypos" and
// "showcmd" in the application profile's section named after the window.
#include <optional>
#include <span>
#include <string_view>

#include "app/app_profile.h"
#include "app/geometry.h"

namespace app {

// Show commands with the desktop's numbers.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_RESTORE = 9;

inline constexpr int kDefaultPlacementPos = 30;

// The monitor whose area contains `p`, else the one nearest to it.
std::optional<Monitor> NearestMonitor(std::span<const Monitor> monitors, Point p);

// A window's top-left corner such that the whole window (width x height)
// lies on the work area: past the right (bottom) edge it moves back until
// its right (bottom) edge meets it, then left of (above) the area it moves to
// the left (top) edge, so that a window larger than the area keeps its title
// bar on screen. A window that fits where it is stays.
Point ClampToWorkArea(Point p, const Rect& workArea, int width, int height);

struct LoadedPlacement {
    Point position;
    int showCommand = SW_SHOW;
};

// "xpos"/"ypos" (default 30 each) clamped onto the nearest monitor's work
// area (unchanged when no monitor is known), and "showcmd" (default 5).
// The position is the window frame's top-left corner.
LoadedPlacement LoadPlacement(const CAppProfile& profile, std::string_view section,
                              std::span<const Monitor> monitors, int width, int height);

// What a window's placement says of it.
struct WindowPlacement {
    Point normalTopLeft; // top-left of the normal (restored) position
    int showCommand = SW_SHOWNORMAL; // 1 normal, 2 minimised, 3 maximised
    bool visible = true;
};

// The stored "showcmd": 0 for a hidden window whose show command has the
// bit of value 2 clear, else the show command.
int SavedShowCommand(const WindowPlacement& placement);

// Writes "xpos", "ypos" and "showcmd", and the `more` values of the same
// save (a window's size), as one change: all of them or none.
void SavePlacement(CAppProfile& profile, std::string_view section, const WindowPlacement& placement,
                   std::span<const CAppProfile::IntEntry> more = {});

} // namespace app
