// The system mouse through the X pointer's button mask. X numbers the
// buttons left 1, middle 2, right 3; the hot keys count left 0, right 1,
// middle 2.
#include "buffered_device.h"

#include <X11/Xlib.h>

namespace platform::devices {
namespace {

class X11MouseDevice final : public BufferedButtonDevice {
public:
    X11MouseDevice(Display* display, DeviceInstance instance) : BufferedButtonDevice(std::move(instance)), display_(display) {}
    ~X11MouseDevice() override { XCloseDisplay(display_); }

protected:
    bool sample(std::vector<bool>& down) override
    {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rx, &ry, &wx, &wy, &mask);
        down = {(mask & Button1Mask) != 0, (mask & Button3Mask) != 0, (mask & Button2Mask) != 0};
        return true;
    }

private:
    Display* display_;
};

class X11MouseSource final : public ButtonSource {
public:
    explicit X11MouseSource(std::string display) : name_(std::move(display)) {}

    void enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add) override
    {
        Display* display = XOpenDisplay(name_.empty() ? nullptr : name_.c_str());
        if (!display) return;
        DeviceInstance instance;
        instance.instance = kSystemMouseId;
        instance.product = kSystemMouseId;
        instance.devType = kTypeMouse;
        instance.name = "Mouse";
        add(std::make_unique<X11MouseDevice>(display, std::move(instance)));
    }

private:
    std::string name_;
};

class CombinedSource final : public ButtonSource {
public:
    explicit CombinedSource(std::vector<std::unique_ptr<ButtonSource>> sources) : sources_(std::move(sources)) {}
    void enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add) override
    {
        for (auto& source : sources_)
            if (source) source->enumerate(add);
    }

private:
    std::vector<std::unique_ptr<ButtonSource>> sources_;
};

} // namespace

std::unique_ptr<ButtonSource> makeX11MouseSource(std::string display)
{
    return std::make_unique<X11MouseSource>(std::move(display));
}

std::unique_ptr<ButtonSource> makeCombinedSource(std::vector<std::unique_ptr<ButtonSource>> sources)
{
    return std::make_unique<CombinedSource>(std::move(sources));
}

} // namespace platform::devices
