#include "buffered_device.h"

#include <algorithm>

namespace platform::devices {

BufferedButtonDevice::BufferedButtonDevice(DeviceInstance instance) : instance_(std::move(instance)) {}

std::int32_t BufferedButtonDevice::setDataFormat(DataFormat format)
{
    std::lock_guard lock(mutex_);
    base_ = format == DataFormat::Mouse ? kMouseButtonOffset : kJoystickButtonOffset;
    return kOk;
}

std::int32_t BufferedButtonDevice::setBufferSize(std::uint32_t items)
{
    std::lock_guard lock(mutex_);
    // A huge request means "as many as fit"; keep a sane bound on memory.
    capacity_ = std::min<std::size_t>(items, 4096);
    return kOk;
}

std::int32_t BufferedButtonDevice::acquire()
{
    std::lock_guard lock(mutex_);
    acquired_ = true;
    return kOk;
}

std::int32_t BufferedButtonDevice::poll()
{
    std::lock_guard lock(mutex_);
    if (!acquired_) return kErrorNotAcquired;
    std::vector<bool> down;
    if (!sample(down)) {
        acquired_ = false;
        return kErrorInputLost;
    }
    // The first sample only sets the baseline: buttons already held when the
    // device was opened are not reported as new presses.
    if (sampled_) {
        const std::size_t n = std::max(down.size(), last_.size());
        for (std::size_t i = 0; i < n; ++i) {
            const bool now = i < down.size() && down[i];
            const bool before = i < last_.size() && last_[i];
            if (now == before) continue;
            if (capacity_ == 0) continue;
            if (items_.size() >= capacity_) items_.pop_front();
            items_.push_back({base_ + static_cast<std::uint32_t>(i), now ? kPressed : 0u});
        }
    }
    sampled_ = true;
    last_ = std::move(down);
    return kOk;
}

std::int32_t BufferedButtonDevice::read(std::span<ButtonItem> out, std::size_t& count)
{
    std::lock_guard lock(mutex_);
    count = 0;
    if (!acquired_) return kErrorNotAcquired;
    while (count < out.size() && !items_.empty()) {
        out[count++] = items_.front();
        items_.pop_front();
    }
    return kOk;
}

} // namespace platform::devices
