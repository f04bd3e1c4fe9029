#pragma once
// Makes moved and sized windows stick to the screen edges and to each other.
//
// Fed by the windows it serves with the desktop's move and size messages
// (WM_ENTERSIZEMOVE, WM_MOVING, WM_SIZING, WM_EXITSIZEMOVE; the proposed
// rectangle travels behind lParam as a Rect*) or with the typed calls.
// All windows live on the GUI thread, so the snapper needs no lock.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "app/geometry.h"
#include "platform/messages.h"

namespace app {

inline constexpr platform::UINT WM_SIZING = 0x0214;
inline constexpr platform::UINT WM_MOVING = 0x0216;
inline constexpr platform::UINT WM_ENTERSIZEMOVE = 0x0231;
inline constexpr platform::UINT WM_EXITSIZEMOVE = 0x0232;

inline constexpr int kFrameSnapDistance = 10;

// A window the snapper can see.
class SnapWindow {
public:
    virtual ~SnapWindow() = default;
    virtual Rect SnapRect() const = 0;   // current window rectangle
    virtual bool SnapVisible() const = 0;
};

// A line that edges may stick to: x = at (top..bottom extent) for a vertical
// line, y = at (left..right extent) for a horizontal one.
struct SnapLine {
    int at = 0;
    int from = 0;
    int to = 0;
};

// The snapping rule itself. `current` is the window's rectangle now,
// `proposed` where it is about to go; the result is `proposed` with each
// edge moved onto the nearest line within `distance`.
Rect SnapRect(const Rect& current, const Rect& proposed, std::span<const SnapLine> vertical,
              std::span<const SnapLine> horizontal, int distance);

class CSnapper {
public:
    using WorkArea = std::function<Rect()>;
    using Cursor = std::function<Point()>;

    CSnapper(int distance, WorkArea workArea, Cursor cursor);

    void AddWindow(SnapWindow* window);
    void RemoveWindow(SnapWindow* window);
    const std::vector<SnapWindow*>& Windows() const { return windows_; }
    int Distance() const { return distance_; }

    // Feeds one message of `window`; WM_MOVING and WM_SIZING may change the
    // Rect behind lParam. Returns 0.
    platform::LRESULT OnMessage(SnapWindow* window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam);

    void EnterSizeMove(SnapWindow* window);
    void Moving(SnapWindow* window, Rect& proposed);
    void Sizing(SnapWindow* window, Rect& proposed);
    void ExitSizeMove(SnapWindow* window);

    // The lines a window may stick to: the work area's edges, then every
    // other registered, visible window's edges.
    void Lines(const SnapWindow* window, std::vector<SnapLine>& vertical, std::vector<SnapLine>& horizontal) const;

private:
    void snap(SnapWindow* window, Rect& proposed) const;

    int distance_;
    WorkArea workArea_;
    Cursor cursor_;
    SnapWindow* moving_ = nullptr;
    Point startCursor_;
    Point startTopLeft_;
    std::vector<SnapWindow*> windows_;
};

} // namespace app
