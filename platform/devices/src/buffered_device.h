#pragma once
// A button device that samples its buttons on poll() and keeps the changes
// as buffered items, the common part of every backend.
#include "platform/devices/button_device.h"

#include <deque>

namespace platform::devices {

class BufferedButtonDevice : public ButtonDevice {
public:
    explicit BufferedButtonDevice(DeviceInstance instance);

    const DeviceInstance& instance() const override { return instance_; }
    std::int32_t setDataFormat(DataFormat format) override;
    std::int32_t setBufferSize(std::uint32_t items) override;
    std::int32_t acquire() override;
    std::int32_t poll() override;
    std::int32_t read(std::span<ButtonItem> out, std::size_t& count) override;

protected:
    // Fills `down` with the state of every button; false when the device is gone.
    virtual bool sample(std::vector<bool>& down) = 0;

private:
    DeviceInstance instance_;
    std::mutex mutex_;
    std::uint32_t base_ = kJoystickButtonOffset;
    std::size_t capacity_ = 0;  // no buffer until set, as with a fresh device
    bool acquired_ = false;
    bool sampled_ = false;
    std::vector<bool> last_;
    std::deque<ButtonItem> items_;
};

} // namespace platform::devices
