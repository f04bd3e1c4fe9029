#include "platform/usb/driver.h"

#include <algorithm>
#include <cstdlib>

namespace platform::usb {

std::string ownDeviceName(int index)
{
    return "\\\\.\\ovusb-" + std::to_string(index);
}

bool Request::complete(std::uint32_t status, std::uint32_t transferred)
{
    {
        std::lock_guard lock(mutex_);
        if (completed_.load(std::memory_order_relaxed))
            return false;
        status_ = status;
        transferred_ = std::min<std::uint32_t>(transferred, static_cast<std::uint32_t>(buffer_.size()));
        completed_.store(true, std::memory_order_release);
    }
    done_.set();
    return true;
}

void Request::rearm(std::span<std::uint8_t> buffer)
{
    std::lock_guard lock(mutex_);
    buffer_ = buffer;
    status_ = kStatusPending;
    transferred_ = 0;
    done_.reset();
    completed_.store(false, std::memory_order_release);
}

int NoticeList::subscribe(Listener listener)
{
    std::lock_guard lock(mutex_);
    int id = nextId_++;
    listeners_.emplace_back(id, std::make_shared<Listener>(std::move(listener)));
    return id;
}

void NoticeList::unsubscribe(int id)
{
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void NoticeList::raise(const DeviceNotice& notice)
{
    std::vector<std::shared_ptr<Listener>> copy;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : listeners_)
            copy.push_back(entry.second);
    }
    for (auto& listener : copy)
        (*listener)(notice);
}

bool parseBackendChoice(std::string_view text, BackendChoice& out)
{
    if (text == "sim")
        out = BackendChoice::Sim;
    else if (text == "usb")
        out = BackendChoice::Usb;
    else if (text == "auto")
        out = BackendChoice::Auto;
    else
        return false;
    return true;
}

std::unique_ptr<Backend> makeBackend(BackendChoice choice, const BackendFactory& simulator,
                                     const BackendFactory& usb)
{
    std::unique_ptr<Backend> made;
    switch (choice) {
    case BackendChoice::Sim:
        made = simulator ? simulator() : nullptr;
        break;
    case BackendChoice::Usb:
        made = usb ? usb() : nullptr;
        break;
    case BackendChoice::Auto:
        made = usb ? usb() : nullptr;
        if (made && !made->anyCameraPresent())
            made.reset();
        break;
    }
    if (!made)
        made = std::make_unique<NullBackend>();
    return made;
}

BackendChoice backendChoiceFromEnvironment(BackendChoice whenUnset)
{
    BackendChoice choice = whenUnset;
    if (const char* value = std::getenv("ORVANE_CAMERA"))
        parseBackendChoice(value, choice);
    return choice;
}

} // namespace platform::usb
