#include "app/frame/status_lines.h"

#include <algorithm>
#include <utility>

std::string CStatusLines::Line(bool cameraRunning, bool tracked)
{
    if (!cameraRunning)
        return "vistrel: camera stopped";
    return tracked ? "vistrel: camera running, head tracked" : "vistrel: camera running, head lost";
}

void CStatusLines::Update(bool cameraRunning, bool tracked)
{
    current_ = Line(cameraRunning, tracked);
    Flush();
}

std::optional<std::chrono::milliseconds> CStatusLines::Due() const
{
    if (current_.empty() || current_ == last_)
        return std::nullopt;
    const platform::Duration left = lastTime_ + kSpacing - clock_.now();
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(left));
}

void CStatusLines::Flush()
{
    if (const auto due = Due(); due && due->count() == 0)
        Write();
}

void CStatusLines::Finish(bool cameraRunning, bool tracked)
{
    if (Due())
        Write();
    current_ = Line(cameraRunning, tracked);
    if (current_ != last_)
        Write();
}

void CStatusLines::Write()
{
    last_ = current_;
    lastTime_ = clock_.now();
    write_(last_);
}
