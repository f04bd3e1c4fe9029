#pragma once
// Buttons of mice and game controllers, read as buffered press and release
// items the way the hot-key poller wants them: each item names a button by
// its byte offset in the device's data format and carries 0x80 (pressed) or
// 0 (released). Backends: SDL2 joysticks, the X11 pointer, and a fake.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace platform::devices {

// A 16-byte device id in the byte order of the Windows GUID structure
// (Data1, Data2 and Data3 little-endian, then the eight Data4 bytes).
using DeviceId = std::array<std::uint8_t, 16>;

// The system mouse's well-known id, as profile files store it.
inline constexpr DeviceId kSystemMouseId{0x60, 0x2B, 0x1D, 0x6F, 0xA0, 0xD5, 0xCF, 0x11,
                                         0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};

// Device kinds by their DirectInput type bytes.
inline constexpr std::uint8_t kTypeDeviceCtrl = 0x19;
inline constexpr std::uint8_t kTypeMouse = 0x12;
inline constexpr std::uint8_t kTypeKeyboard = 0x13;
inline constexpr std::uint8_t kTypeJoystick = 0x14;
inline constexpr std::uint8_t kTypeGamepad = 0x15;

// Where button 0 lies in each data format.
inline constexpr std::uint32_t kMouseButtonOffset = 12;     // after three 32-bit axes
inline constexpr std::uint32_t kJoystickButtonOffset = 48;  // after the axes, sliders and hats

inline constexpr std::uint32_t kPressed = 0x80;

// Results by their Windows numbers.
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kErrorNotAcquired = static_cast<std::int32_t>(0x8007000Cu);
inline constexpr std::int32_t kErrorInputLost = static_cast<std::int32_t>(0x8007001Eu);
inline constexpr std::int32_t kErrorInvalidArg = static_cast<std::int32_t>(0x80070057u);

struct DeviceInstance {
    DeviceId instance{};  // identifies this device
    DeviceId product{};
    std::uint32_t devType = 0;  // low byte: one of the kType values
    std::string name;           // UTF-8
};

enum class DataFormat { Mouse, Joystick };

struct ButtonItem {
    std::uint32_t offset = 0;  // byte offset of the button in the data format
    std::uint32_t data = 0;    // kPressed or 0
};

class ButtonDevice {
public:
    virtual ~ButtonDevice() = default;
    virtual const DeviceInstance& instance() const = 0;
    virtual std::int32_t setDataFormat(DataFormat format) = 0;
    // Most items kept between reads; older ones are dropped first.
    virtual std::int32_t setBufferSize(std::uint32_t items) = 0;
    virtual std::int32_t acquire() = 0;
    // Samples the device's buttons into its buffer.
    virtual std::int32_t poll() = 0;
    // Moves up to out.size() buffered items into out, oldest first; `count`
    // gets their number.
    virtual std::int32_t read(std::span<ButtonItem> out, std::size_t& count) = 0;
};

// Lists the attached devices.
class ButtonSource {
public:
    virtual ~ButtonSource() = default;
    // One call per attached device, each with a freshly made device.
    virtual void enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add) = 0;
};

// SDL2 joysticks (and game controllers). The instance id is the SDL GUID;
// a second attached device with the same GUID gets its ordinal mixed into
// the last byte so that bindings can tell them apart.
std::unique_ptr<ButtonSource> makeSdlButtonSource();
// The X11 pointer's buttons as the system mouse (left, right, middle); no
// device when no display can be opened. Empty `display`: $DISPLAY.
std::unique_ptr<ButtonSource> makeX11MouseSource(std::string display = {});
// Every device of each source in turn.
std::unique_ptr<ButtonSource> makeCombinedSource(std::vector<std::unique_ptr<ButtonSource>> sources);

// The test double: devices whose button states the test sets; poll() turns
// changes into items like the real backends.
class FakeButtonSource final : public ButtonSource {
public:
    struct State;
    // Adds an attached device with `buttons` buttons; returns its index.
    std::size_t attach(DeviceInstance instance, int buttons);
    void detach(std::size_t index);
    void setButton(std::size_t index, int button, bool down);
    // The device's read() fails with `result` until set back to kOk.
    void failReads(std::size_t index, std::int32_t result);
    // How often each device was acquired, polled and read.
    int acquires(std::size_t index) const;
    int reads(std::size_t index) const;

    void enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add) override;

private:
    std::vector<std::shared_ptr<State>> devices_;
};

} // namespace platform::devices
