#pragma once
// The attached mice and game controllers whose buttons can be hot keys.
// Keyboards and device-control entries are left out: keyboards belong to
// the keyboard detector.
#include "input/HotKeys.h"
#include "platform/devices/button_device.h"
#include "platform/messages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr std::int32_t kInputOk = 0;
inline constexpr std::int32_t kInputOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);  // E_OUTOFMEMORY
inline constexpr std::int32_t kInputInvalidArg = static_cast<std::int32_t>(0x80070057u);   // E_INVALIDARG

// A device id in the profile files' Guid form, and back.
Guid GuidFromDeviceId(const platform::devices::DeviceId& id);
platform::devices::DeviceId DeviceIdFromGuid(const Guid& guid);

// One attached device.
struct CInputDevice {
    std::unique_ptr<platform::devices::ButtonDevice> device;
    std::uint32_t enumerated = 1;   // added by enumeration
    std::uint32_t secondFlag = 0;
    Guid instance{};                // identifies the device; bindings name it
    Guid product{};
    std::uint32_t devType = 0;      // low byte: platform::devices::kType...
    std::u16string name;
    std::uint32_t bindings = 0;     // action bindings on this device; 0: never dispatched
};

// Mice and game controllers of the sources the program uses: SDL2
// joysticks and the X11 pointer.
std::unique_ptr<platform::devices::ButtonSource> makeDefaultButtonSource();

class CInputDevices {
public:
    // Devices come from `source`; null uses makeDefaultButtonSource().
    explicit CInputDevices(std::unique_ptr<platform::devices::ButtonSource> source = nullptr);
    CInputDevices(const CInputDevices&) = delete;
    CInputDevices& operator=(const CInputDevices&) = delete;

    // Releases every device and stores the window; 0.
    std::int32_t Attach(platform::HWND window);
    // Releases every device and lists the attached ones again; 0.
    std::int32_t Enumerate();
    // Both out-pointers required, else E_INVALIDARG. The array stays valid
    // until the next Attach or Enumerate.
    std::int32_t GetDevices(CInputDevice** array, int* count);

    std::vector<CInputDevice>& devices() { return devices_; }
    const std::vector<CInputDevice>& devices() const { return devices_; }
    platform::HWND window() const { return window_; }

private:
    void add(std::unique_ptr<platform::devices::ButtonDevice> device);

    std::unique_ptr<platform::devices::ButtonSource> source_;
    platform::HWND window_ = 0;
    std::vector<CInputDevice> devices_;
};
