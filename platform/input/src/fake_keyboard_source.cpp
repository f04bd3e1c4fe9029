#include "platform/keyboard_source.h"

#include <utility>

namespace platform {

bool FakeKeyboardSource::start(Handler handler)
{
    std::lock_guard lock(mutex_);
    if (!available_) return false;
    handler_ = std::move(handler);
    running_ = true;
    return true;
}

void FakeKeyboardSource::stop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
    handler_ = nullptr;
    trapped_.clear();
    all_ = false;
}

bool FakeKeyboardSource::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void FakeKeyboardSource::trapKeys(std::vector<TrappedKey> keys)
{
    std::lock_guard lock(mutex_);
    trapped_ = std::move(keys);
}

void FakeKeyboardSource::trapAll(bool on)
{
    std::lock_guard lock(mutex_);
    all_ = on;
}

std::uint32_t FakeKeyboardSource::heldModifiers()
{
    std::lock_guard lock(mutex_);
    return held_;
}

bool FakeKeyboardSource::feed(const KeyEvent& event)
{
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return false;
        handler = handler_;
    }
    // Called without the lock: the handler may change the trapped keys.
    return handler(event);
}

void FakeKeyboardSource::setAvailable(bool available)
{
    std::lock_guard lock(mutex_);
    available_ = available;
}

void FakeKeyboardSource::setHeldModifiers(std::uint32_t bits)
{
    std::lock_guard lock(mutex_);
    held_ = bits;
}

std::vector<TrappedKey> FakeKeyboardSource::trapped() const
{
    std::lock_guard lock(mutex_);
    return trapped_;
}

bool FakeKeyboardSource::trappingAll() const
{
    std::lock_guard lock(mutex_);
    return all_;
}

} // namespace platform
