// The key-state device over XQueryKeymap: key codes are X key codes, and a
// virtual key maps through its keysym.
#include "platform/devices/key_state_device.h"
#include "platform/keyboard_source.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace platform::devices {
namespace {

class X11KeyStateDevice final : public KeySlotDevice {
public:
    explicit X11KeyStateDevice(std::string display) : name_(std::move(display)) {}
    ~X11KeyStateDevice() override { close(); }

    bool open() override
    {
        std::lock_guard lock(mutex_);
        if (display_) return true;
        display_ = XOpenDisplay(name_.empty() ? nullptr : name_.c_str());
        return display_ != nullptr;
    }

    void close() override
    {
        {
            std::lock_guard lock(mutex_);
            if (display_) XCloseDisplay(display_);
            display_ = nullptr;
        }
        resetSlots();
    }

    bool isOpen() const override
    {
        std::lock_guard lock(mutex_);
        return display_ != nullptr;
    }

    std::uint8_t keyFromVk(std::uint32_t vk) override
    {
        std::lock_guard lock(mutex_);
        const unsigned long sym = keysymFromVk(vk & 0xFFFF);
        if (!display_ || sym == 0) return 0;
        return static_cast<std::uint8_t>(XKeysymToKeycode(display_, sym));
    }

    std::uint32_t vkFromKey(std::uint8_t key) override
    {
        std::lock_guard lock(mutex_);
        if (!display_ || key == 0) return 0;
        return vkFromKeysym(XkbKeycodeToKeysym(display_, key, 0, 0));
    }

protected:
    bool keyDown(std::uint8_t key) override
    {
        std::lock_guard lock(mutex_);
        if (!display_) return false;
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        return (static_cast<unsigned char>(keys[key / 8]) >> (key % 8)) & 1;
    }

private:
    std::string name_;
    mutable std::mutex mutex_;
    Display* display_ = nullptr;
};

} // namespace

std::unique_ptr<KeyStateDevice> makeX11KeyStateDevice(std::string display)
{
    return std::make_unique<X11KeyStateDevice>(std::move(display));
}

} // namespace platform::devices
