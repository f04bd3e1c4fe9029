// The slot request protocol shared by the key-state backends, and its fake.
#include "platform/devices/key_state_device.h"

#include <algorithm>

namespace platform::devices {

std::optional<std::uint32_t> KeySlotDevice::request(std::uint32_t code, std::span<const std::uint8_t> input)
{
    if (!isOpen()) return std::nullopt;
    std::lock_guard lock(mutex_);
    switch (code) {
    case kRequestStart:
        started_ = true;
        return 0;
    case kRequestStop:
        started_ = false;
        enabled_.fill(false);
        return 0;
    case kRequestKeyBlock:
        if (input.size() < kKeySlots) return std::nullopt;
        std::copy_n(input.begin(), kKeySlots, keys_.begin());
        return 0;
    default:
        break;
    }
    for (std::size_t slot = 0; slot < kSlotRequests.size(); ++slot) {
        const SlotRequests& r = kSlotRequests[slot];
        if (code == r.query) {
            const std::uint8_t key = keys_[slot];
            return (started_ && enabled_[slot] && key != 0 && keyDown(key)) ? 1u : 0u;
        }
        if (code == r.enable || code == r.disable) {
            enabled_[slot] = code == r.enable;
            return 0;
        }
        if (code == r.setKey) {
            if (input.size() < kKeySlots) return std::nullopt;
            keys_[slot] = input[slot];
            return 0;
        }
        if (code == r.unused) return 0;
    }
    return std::nullopt;
}

void KeySlotDevice::resetSlots()
{
    std::lock_guard lock(mutex_);
    started_ = false;
    keys_.fill(0);
    enabled_.fill(false);
}

bool FakeKeyStateDevice::open()
{
    std::lock_guard lock(mutex_);
    ++opens_;
    if (!available_) return false;
    open_ = true;
    return true;
}

void FakeKeyStateDevice::close()
{
    {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    resetSlots();
}

bool FakeKeyStateDevice::isOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

std::optional<std::uint32_t> FakeKeyStateDevice::request(std::uint32_t code, std::span<const std::uint8_t> input)
{
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(code);
    }
    return KeySlotDevice::request(code, input);
}

void FakeKeyStateDevice::setAvailable(bool available)
{
    std::lock_guard lock(mutex_);
    available_ = available;
}

void FakeKeyStateDevice::press(std::uint8_t key)
{
    std::lock_guard lock(mutex_);
    down_.insert(key);
}

void FakeKeyStateDevice::release(std::uint8_t key)
{
    std::lock_guard lock(mutex_);
    down_.erase(key);
}

std::vector<std::uint32_t> FakeKeyStateDevice::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeKeyStateDevice::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

int FakeKeyStateDevice::opens() const
{
    std::lock_guard lock(mutex_);
    return opens_;
}

bool FakeKeyStateDevice::keyDown(std::uint8_t key)
{
    std::lock_guard lock(mutex_);
    return down_.count(key) != 0;
}

} // namespace platform::devices
