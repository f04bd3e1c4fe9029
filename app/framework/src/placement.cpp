#include "app/placement.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace app {

namespace {

long long distanceSquared(const Rect& r, Point p)
{
    // Distance to the nearest pixel of the rectangle (0 inside).
    const long long dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - (r.right - 1) : 0);
    const long long dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - (r.bottom - 1) : 0);
    return dx * dx + dy * dy;
}

} // namespace

std::optional<Monitor> NearestMonitor(std::span<const Monitor> monitors, Point p)
{
    std::optional<Monitor> best;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (const Monitor& m : monitors) {
        const long long d = distanceSquared(m.area, p);
        if (d < bestDistance) {
            bestDistance = d;
            best = m;
        }
    }
    return best;
}

Point ClampToWorkArea(Point p, const Rect& work, int width, int height)
{
    p.x = std::max(std::min(p.x, work.right - width), work.left);
    p.y = std::max(std::min(p.y, work.bottom - height), work.top);
    return p;
}

LoadedPlacement LoadPlacement(const CAppProfile& profile, std::string_view section,
                              std::span<const Monitor> monitors, int width, int height)
{
    LoadedPlacement out;
    out.position.x = profile.GetProfileInt(section, "xpos", kDefaultPlacementPos);
    out.position.y = profile.GetProfileInt(section, "ypos", kDefaultPlacementPos);
    if (auto m = NearestMonitor(monitors, out.position))
        out.position = ClampToWorkArea(out.position, m->workArea, width, height);
    out.showCommand = profile.GetProfileInt(section, "showcmd", SW_SHOW);
    return out;
}

int SavedShowCommand(const WindowPlacement& placement)
{
    if (!placement.visible && (placement.showCommand & 2) == 0)
        return SW_HIDE;
    return placement.showCommand;
}

void SavePlacement(CAppProfile& profile, std::string_view section, const WindowPlacement& placement,
                   std::span<const CAppProfile::IntEntry> more)
{
    // One placement is one change: never a new position with an old state
    // or an old size.
    std::vector<CAppProfile::IntEntry> entries = {
        {section, "xpos", placement.normalTopLeft.x},
        {section, "ypos", placement.normalTopLeft.y},
        {section, "showcmd", SavedShowCommand(placement)},
    };
    entries.insert(entries.end(), more.begin(), more.end());
    profile.WriteProfileInts(entries);
}

} // namespace app
