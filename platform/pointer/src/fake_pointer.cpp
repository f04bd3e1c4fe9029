#include <algorithm>

#include "platform/pointer.h"

namespace platform {

std::uint32_t FakePointer::sendInput(std::span<const MouseInput> events)
{
    std::lock_guard lock(mutex_);
    for (const MouseInput& e : events) {
        events_.push_back(e);
        if ((e.flags & MOUSEEVENTF_MOVE) == 0)
            continue;
        if ((e.flags & MOUSEEVENTF_ABSOLUTE) != 0) {
            cursor_.x = static_cast<int>(static_cast<long long>(e.dx) * width_ / 65536);
            cursor_.y = static_cast<int>(static_cast<long long>(e.dy) * height_ / 65536);
        } else {
            cursor_.x += e.dx;
            cursor_.y += e.dy;
        }
        clamp();
    }
    return static_cast<std::uint32_t>(events.size());
}

std::optional<CursorPoint> FakePointer::cursorPos()
{
    std::lock_guard lock(mutex_);
    if (failReads_)
        return std::nullopt;
    return cursor_;
}

void FakePointer::moveByHand(int x, int y)
{
    std::lock_guard lock(mutex_);
    cursor_ = {x, y};
    clamp();
}

void FakePointer::failReads(bool fail)
{
    std::lock_guard lock(mutex_);
    failReads_ = fail;
}

std::vector<MouseInput> FakePointer::events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

void FakePointer::clearEvents()
{
    std::lock_guard lock(mutex_);
    events_.clear();
}

void FakePointer::clamp()
{
    cursor_.x = std::clamp(cursor_.x, 0, width_ - 1);
    cursor_.y = std::clamp(cursor_.y, 0, height_ - 1);
}

void FakeWindowFocus::setForeground(std::uint64_t window, int pid)
{
    std::lock_guard lock(mutex_);
    window_ = window;
    pid_ = pid;
}

std::uint64_t FakeWindowFocus::foregroundWindow()
{
    std::lock_guard lock(mutex_);
    ++queries_;
    return window_;
}

int FakeWindowFocus::windowProcess(std::uint64_t window)
{
    std::lock_guard lock(mutex_);
    return window != 0 && window == window_ ? pid_ : 0;
}

int FakeWindowFocus::foregroundQueries() const
{
    std::lock_guard lock(mutex_);
    return queries_;
}

} // namespace platform
