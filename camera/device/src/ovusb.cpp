#include "camera/ovusb.h"

#include <chrono>

#include "camera/camera.h"

namespace Orvane {

std::string OvusbDeviceName(int index)
{
    return platform::usb::ownDeviceName(index);
}

int CountOvusbDevices(platform::usb::OwnDriver& driver, platform::Clock& clock)
{
    int count = 0;
    while (auto handle = driver.open(count)) {
        handle->close();
        clock.sleepFor(std::chrono::milliseconds(30));
        ++count;
    }
    return count;
}

bool Camera::IsDevicePresent()
{
    if (driver_ == USBIO) {
        std::uint32_t error = 0;
        auto handle = backend_.genericDriver().open(GetUSBIODevicePath(), error);
        return handle != nullptr;
    }
    clock_.sleepFor(std::chrono::milliseconds(400));
    if (auto h = backend_.ownDriver().open(cameraNumber_.load())) {
        h->close();
        return true;
    }
    clock_.sleepFor(std::chrono::milliseconds(500));
    if (auto h = backend_.ownDriver().open(cameraNumber_.load())) {
        h->close();
        return true;
    }
    return false;
}

} // namespace Orvane
