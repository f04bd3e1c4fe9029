#include "camera/ovusb.h"

#include <chrono>

#include "camera/camera.h"
#include "camera/usbio.h"

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
        // The reply reader's device check: its thread still runs and its
        // device still answers. A reader that gave up, or a device that went
        // (a replug gives a new device), closes the camera's device.
        std::shared_ptr<CameraUSBIOReader> reader;
        {
            std::lock_guard lock(transportLock_);
            reader = replyReader_;
        }
        platform::usb::DriverInformation info{};
        const bool answers = reader && reader->IsRunning() && reader->GetDriverInfo(info) == 0;
        if (!answers || !deviceOpen_.load())
            CloseUsbDevice();
        return deviceOpen_.load();
    }
    // On the way out (destruction, a driver switch) one try, without the pauses.
    const bool pause = !ShuttingDown();
    if (pause)
        clock_.sleepFor(std::chrono::milliseconds(400));
    if (auto h = backend_.ownDriver().open(cameraNumber_.load())) {
        h->close();
        return true;
    }
    if (!pause)
        return false;
    clock_.sleepFor(std::chrono::milliseconds(500));
    if (auto h = backend_.ownDriver().open(cameraNumber_.load())) {
        h->close();
        return true;
    }
    return false;
}

} // namespace Orvane
