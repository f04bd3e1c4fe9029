#include "app/snapper.h"

#include <algorithm>
#include <cstdlib>

namespace app {

namespace {

constexpr long long kFar = 1LL << 30;

struct Candidate {
    long long pos;
    long long distance(int edge) const { return std::llabs(pos - edge); }
};

bool within(int edge, const SnapLine& line) { return edge >= line.from + 1 && edge <= line.to + 1; }

// Offers the lines of one axis to its two edges (low: left/top, high:
// right/bottom); `otherLow`/`otherHigh` are the edges of the other axis.
void offer(std::span<const SnapLine> lines, int lowNow, int highNow, int low, int high, int otherLow,
           int otherHigh, Candidate& cLow, Candidate& cHigh)
{
    const bool lowMoves = lowNow != low;
    const bool highMoves = highNow != high;
    const bool sizing = (low - lowNow) != (high - highNow);
    const int size = high - low;
    for (const SnapLine& line : lines) {
        if (sizing) {
            if (lowMoves && std::llabs(static_cast<long long>(line.at) - low) < cLow.distance(low))
                cLow.pos = line.at;
            if (highMoves && std::llabs(static_cast<long long>(line.at) - high) < cHigh.distance(high))
                cHigh.pos = line.at;
            continue;
        }
        const bool overlaps = within(otherLow, line) || within(otherHigh, line);
        const long long toLow = std::llabs(static_cast<long long>(line.at) - low);
        const long long toHigh = std::llabs(static_cast<long long>(line.at) - high);
        if (toLow <= toHigh) {
            if (overlaps && toLow < cLow.distance(low)) {
                cLow.pos = line.at;
                cHigh.pos = static_cast<long long>(line.at) + size;
            }
        } else if (overlaps && toHigh < cHigh.distance(high)) {
            cHigh.pos = line.at;
            cLow.pos = static_cast<long long>(line.at) - size;
        }
    }
}

int settle(const Candidate& c, int edge, int distance)
{
    return c.distance(edge) > distance ? edge : static_cast<int>(c.pos);
}

} // namespace

Rect SnapRect(const Rect& current, const Rect& proposed, std::span<const SnapLine> vertical,
              std::span<const SnapLine> horizontal, int distance)
{
    Candidate left{proposed.left + kFar};
    Candidate right{proposed.right + kFar};
    Candidate top{proposed.top + kFar};
    Candidate bottom{proposed.bottom + kFar};
    offer(vertical, current.left, current.right, proposed.left, proposed.right, proposed.top, proposed.bottom,
          left, right);
    offer(horizontal, current.top, current.bottom, proposed.top, proposed.bottom, proposed.left,
          proposed.right, top, bottom);
    return Rect{settle(left, proposed.left, distance), settle(top, proposed.top, distance),
                settle(right, proposed.right, distance), settle(bottom, proposed.bottom, distance)};
}

CSnapper::CSnapper(int distance, WorkArea workArea, Cursor cursor)
    : distance_(distance), workArea_(std::move(workArea)), cursor_(std::move(cursor))
{
    windows_.reserve(10);
}

void CSnapper::AddWindow(SnapWindow* window)
{
    if (window != nullptr && std::find(windows_.begin(), windows_.end(), window) == windows_.end())
        windows_.push_back(window);
}

void CSnapper::RemoveWindow(SnapWindow* window)
{
    std::erase(windows_, window);
    if (moving_ == window)
        moving_ = nullptr;
}

platform::LRESULT CSnapper::OnMessage(SnapWindow* window, platform::UINT message, platform::WPARAM,
                                      platform::LPARAM lParam)
{
    auto* rect = reinterpret_cast<Rect*>(lParam);
    switch (message) {
    case WM_ENTERSIZEMOVE:
        EnterSizeMove(window);
        break;
    case WM_EXITSIZEMOVE:
        ExitSizeMove(window);
        break;
    case WM_MOVING:
        if (rect != nullptr)
            Moving(window, *rect);
        break;
    case WM_SIZING:
        if (rect != nullptr)
            Sizing(window, *rect);
        break;
    default:
        break;
    }
    return 0;
}

void CSnapper::EnterSizeMove(SnapWindow* window)
{
    moving_ = window;
    startCursor_ = cursor_ ? cursor_() : Point{};
    const Rect r = window != nullptr ? window->SnapRect() : Rect{};
    startTopLeft_ = {r.left, r.top};
}

void CSnapper::ExitSizeMove(SnapWindow*) { moving_ = nullptr; }

void CSnapper::Moving(SnapWindow* window, Rect& proposed)
{
    if (window == nullptr)
        return;
    if (window == moving_ && cursor_) {
        // Follow the cursor from where the drag began, so that a window
        // held at a line moves off it as soon as the cursor goes far enough.
        const Point now = cursor_();
        const Point offset{now.x - startCursor_.x, now.y - startCursor_.y};
        if (offset.x != 0 || offset.y != 0) {
            const int w = proposed.width();
            const int h = proposed.height();
            proposed.left = startTopLeft_.x + offset.x;
            proposed.top = startTopLeft_.y + offset.y;
            proposed.right = proposed.left + w;
            proposed.bottom = proposed.top + h;
        }
    }
    snap(window, proposed);
}

void CSnapper::Sizing(SnapWindow* window, Rect& proposed)
{
    if (window != nullptr)
        snap(window, proposed);
}

void CSnapper::Lines(const SnapWindow* window, std::vector<SnapLine>& vertical,
                     std::vector<SnapLine>& horizontal) const
{
    vertical.clear();
    horizontal.clear();
    const Rect work = workArea_ ? workArea_() : Rect{};
    vertical.push_back({0, work.top, work.bottom});
    vertical.push_back({work.right, work.top, work.bottom});
    horizontal.push_back({0, work.left, work.right});
    horizontal.push_back({work.bottom, work.left, work.right});
    for (const SnapWindow* other : windows_) {
        if (other == window || !other->SnapVisible())
            continue;
        const Rect r = other->SnapRect();
        horizontal.push_back({r.top, r.left, r.right});
        horizontal.push_back({r.bottom, r.left, r.right});
        vertical.push_back({r.left, r.top, r.bottom});
        vertical.push_back({r.right, r.top, r.bottom});
    }
}

void CSnapper::snap(SnapWindow* window, Rect& proposed) const
{
    std::vector<SnapLine> vertical;
    std::vector<SnapLine> horizontal;
    Lines(window, vertical, horizontal);
    proposed = SnapRect(window->SnapRect(), proposed, vertical, horizontal, distance_);
}

} // namespace app
