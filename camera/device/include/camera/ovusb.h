#pragma once
// The camera's own driver: device names and counting.
#include <string>

#include "platform/clock.h"
#include "platform/usb/driver.h"

namespace Orvane {

// "\\.\ovusb-<index>".
std::string OvusbDeviceName(int index);

// Opens index 0, 1, ... and stops at the first that fails; each opened
// device is closed again and given 30 ms before the next.
int CountOvusbDevices(platform::usb::OwnDriver& driver, platform::Clock& clock = platform::systemClock());

} // namespace Orvane
