// The test double of the button source.
#include "buffered_device.h"

namespace platform::devices {

struct FakeButtonSource::State {
    std::mutex mutex;
    DeviceInstance instance;
    std::vector<bool> buttons;
    bool attached = true;
    std::int32_t readResult = kOk;
    int acquires = 0;
    int reads = 0;
};

namespace {

class FakeButtonDevice final : public BufferedButtonDevice {
public:
    explicit FakeButtonDevice(std::shared_ptr<FakeButtonSource::State> state, DeviceInstance instance)
        : BufferedButtonDevice(std::move(instance)), state_(std::move(state))
    {
    }

    std::int32_t acquire() override
    {
        {
            std::lock_guard lock(state_->mutex);
            ++state_->acquires;
        }
        return BufferedButtonDevice::acquire();
    }

    std::int32_t read(std::span<ButtonItem> out, std::size_t& count) override
    {
        std::int32_t result;
        {
            std::lock_guard lock(state_->mutex);
            ++state_->reads;
            result = state_->readResult;
        }
        if (result != kOk) {
            count = 0;
            return result;
        }
        return BufferedButtonDevice::read(out, count);
    }

protected:
    bool sample(std::vector<bool>& down) override
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->attached) return false;
        down = state_->buttons;
        return true;
    }

private:
    std::shared_ptr<FakeButtonSource::State> state_;
};

} // namespace

std::size_t FakeButtonSource::attach(DeviceInstance instance, int buttons)
{
    auto state = std::make_shared<State>();
    state->instance = std::move(instance);
    state->buttons.assign(static_cast<std::size_t>(buttons > 0 ? buttons : 0), false);
    devices_.push_back(std::move(state));
    return devices_.size() - 1;
}

void FakeButtonSource::detach(std::size_t index)
{
    std::lock_guard lock(devices_.at(index)->mutex);
    devices_[index]->attached = false;
}

void FakeButtonSource::setButton(std::size_t index, int button, bool down)
{
    State& s = *devices_.at(index);
    std::lock_guard lock(s.mutex);
    if (button >= 0 && static_cast<std::size_t>(button) < s.buttons.size()) s.buttons[static_cast<std::size_t>(button)] = down;
}

void FakeButtonSource::failReads(std::size_t index, std::int32_t result)
{
    State& s = *devices_.at(index);
    std::lock_guard lock(s.mutex);
    s.readResult = result;
}

int FakeButtonSource::acquires(std::size_t index) const
{
    State& s = *devices_.at(index);
    std::lock_guard lock(s.mutex);
    return s.acquires;
}

int FakeButtonSource::reads(std::size_t index) const
{
    State& s = *devices_.at(index);
    std::lock_guard lock(s.mutex);
    return s.reads;
}

void FakeButtonSource::enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add)
{
    for (const auto& state : devices_) {
        DeviceInstance instance;
        {
            std::lock_guard lock(state->mutex);
            if (!state->attached) continue;
            instance = state->instance;
        }
        add(std::make_unique<FakeButtonDevice>(state, std::move(instance)));
    }
}

} // namespace platform::devices
