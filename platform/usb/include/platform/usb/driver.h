#pragma once
// The two driver interfaces the camera library talks to: the camera's own
// driver (a device opened by index, with a read and a write I/O control) and
// the generic USB driver (devices enumerated by interface GUID, configured,
// bound to pipes, with overlapped reads and writes). Backends: the simulated
// camera and libusb. Numbers the camera library exposes keep their values.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sync.h"

namespace platform::usb {

// ---- Own driver -----------------------------------------------------------

inline constexpr std::uint32_t kOwnIoctlRead = 0x22204E;   // in: 4-byte path
inline constexpr std::uint32_t kOwnIoctlWrite = 0x222051;  // in: 4-byte 0, frame as out buffer
inline constexpr std::uint32_t kOwnReplyPath = 1;
inline constexpr std::uint32_t kOwnImagePath = 2;

// One open handle on an own-driver device. Several may be open on one device
// at once (the long-lived read handle, one per write, presence tests).
class OwnDriverHandle {
public:
    virtual ~OwnDriverHandle() = default;
    // One reply (path 1) or one image packet (path 2) per call, never joined
    // or split. An idle read blocks until data comes or the handle is
    // cancelled or closed; false is a failure (device gone, cancelled).
    virtual bool read(std::uint32_t path, std::span<std::uint8_t> out, std::uint32_t& returned) = 0;
    // Sends exactly one frame; a 0-byte frame is accepted and does nothing.
    virtual bool write(std::span<const std::uint8_t> frame, std::uint32_t& returned) = 0;
    // Wakes every read now blocked on this handle with failure.
    virtual void cancel() = 0;
    // Cancels and fails every later call; safe while another thread reads.
    virtual void close() = 0;
};

class OwnDriver {
public:
    virtual ~OwnDriver() = default;
    // nullptr when no device answers at that index.
    virtual std::shared_ptr<OwnDriverHandle> open(int index) = 0;
};

// The device name the own driver's devices carry, for messages and notices.
std::string ownDeviceName(int index);

// ---- Generic USB driver ---------------------------------------------------

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
    friend bool operator==(const Guid&, const Guid&) = default;
};

inline constexpr Guid kCameraInterfaceGuid1{0xA43C7161, 0xA181, 0x43E2, {0xA8, 0xAC, 0xE1, 0x16, 0xB3, 0x07, 0x0D, 0xAA}};
inline constexpr Guid kCameraInterfaceGuid2{0xFE62C6F1, 0xFA6B, 0x43C6, {0x89, 0x8D, 0x5E, 0xA5, 0xDA, 0x03, 0xE1, 0x3D}};

// I/O controls of the generic driver.
inline constexpr std::uint32_t kIoctlSetConfiguration = 0x80942024;
inline constexpr std::uint32_t kIoctlUnconfigure = 0x80942028;
inline constexpr std::uint32_t kIoctlGetConfigurationInfo = 0x80942050;
inline constexpr std::uint32_t kIoctlGetDriverInfo = 0x8094206C;
inline constexpr std::uint32_t kIoctlBind = 0x80942078;
inline constexpr std::uint32_t kIoctlResetPipe = 0x80942080;
inline constexpr std::uint32_t kIoctlAbortPipe = 0x80942084;

// Status codes the backends report (the driver's own numbers).
inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusPending = 0x00000103;  // request still in flight
inline constexpr std::uint32_t kStatusStall = 0xE0000004;
inline constexpr std::uint32_t kStatusOverrun = 0xE0000008;
inline constexpr std::uint32_t kStatusNoMemory = 0xE0000100;
inline constexpr std::uint32_t kStatusDeviceGone = 0xE0007000;
inline constexpr std::uint32_t kStatusCancelled = 0xE0010000;
inline constexpr std::uint32_t kStatusFailed = 0xE0001000;
inline constexpr std::uint32_t kStatusAlreadyConfigured = 0xE0001005;
inline constexpr std::uint32_t kStatusNotBound = 0xE0001009;
inline constexpr std::uint32_t kStatusDeviceRemoved = 0xE000100A;
inline constexpr std::uint32_t kStatusUnsupportedIoctl = 0xE000100B;
inline constexpr std::uint32_t kStatusTimeout = 0xE000100C;
inline constexpr std::uint32_t kStatusInvalidParameter = 0xE0001018;
inline constexpr std::uint32_t kStatusPoweredDown = 0xE000101B;
inline constexpr std::uint32_t kStatusExclusive = 0xE0001020;
// Win32 codes an open reports.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;

// One overlapped read or write. The backend completes it exactly once; the
// first completion wins, so a cancel racing a finished transfer is harmless.
class Request {
public:
    explicit Request(std::span<std::uint8_t> buffer) : buffer_(buffer) {}
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    std::span<std::uint8_t> buffer() const { return buffer_; }
    bool pending() const { return !completed_.load(std::memory_order_acquire); }
    std::uint32_t status() const { return pending() ? kStatusPending : status_; }
    std::uint32_t transferred() const { return pending() ? 0 : transferred_; }
    Event& doneEvent() { return done_; }
    // kWaitObject0 when complete, kWaitTimeout otherwise.
    std::uint32_t wait(std::uint32_t timeoutMs) { return done_.wait(timeoutMs); }

    // Returns false when the request was completed already.
    bool complete(std::uint32_t status, std::uint32_t transferred);
    // Makes a completed request pending again over `buffer`, so a pool can
    // reuse it without allocating. Only for a request that is not in flight.
    void rearm(std::span<std::uint8_t> buffer);

private:
    std::span<std::uint8_t> buffer_;
    std::mutex mutex_;
    std::atomic<bool> completed_{false};
    std::uint32_t status_ = kStatusPending;
    std::uint32_t transferred_ = 0;
    Event done_{Event::Reset::Manual};
};

// An open handle on a generic-driver device. I/O controls follow the
// driver's layouts; reads and writes go to the pipe the handle is bound to.
class GenericHandle {
public:
    virtual ~GenericHandle() = default;
    virtual std::uint32_t ioControl(std::uint32_t code, std::span<const std::uint8_t> in,
                                    std::span<std::uint8_t> out, std::uint32_t& returned) = 0;
    // Queues a transfer; the request completes later (or at once on error).
    virtual void submitRead(std::shared_ptr<Request> request) = 0;
    virtual void submitWrite(std::shared_ptr<Request> request) = 0;
    // Completes every pending request of this handle with kStatusCancelled.
    virtual void cancelIo() = 0;
};

class GenericDriver {
public:
    virtual ~GenericDriver() = default;
    // False stands for "device enumeration is not available".
    virtual bool enumerationAvailable() const = 0;
    // Device paths of the present interfaces of `guid`, in a stable order.
    virtual std::vector<std::string> devicePaths(const Guid& guid) = 0;
    // nullptr with `error` set (kErrorFileNotFound when there is no such path).
    virtual std::shared_ptr<GenericHandle> open(std::string_view path, std::uint32_t& error) = 0;
};

// Layouts of the generic driver's I/O control blocks (little-endian).
struct InterfaceSetting {
    std::uint16_t interfaceIndex;
    std::uint16_t alternateSetting;
    std::uint32_t maximumTransferSize;
};
struct ConfigurationRequest {
    std::uint16_t configurationIndex;
    std::uint16_t numberOfInterfaces;
    InterfaceSetting interfaces[32];
};
static_assert(sizeof(ConfigurationRequest) == 260);

struct PipeInformation {
    std::uint32_t pipeType;
    std::uint32_t maximumTransferSize;
    std::uint16_t maximumPacketSize;
    std::uint8_t endpointAddress;
    std::uint8_t interval;
    std::uint8_t interfaceNumber;
    std::uint8_t reserved[3];
};
static_assert(sizeof(PipeInformation) == 16);
struct InterfaceInformation {
    std::uint8_t bytes[8];
};
struct ConfigurationInformation {
    std::uint32_t numberOfInterfaces;
    std::uint32_t numberOfPipes;
    InterfaceInformation interfaces[32];
    PipeInformation pipes[32];
};
static_assert(sizeof(ConfigurationInformation) == 776);

struct DriverInformation {
    std::uint16_t apiVersion;
    std::uint16_t driverVersion;
    std::uint32_t buildNumber;
    std::uint32_t flags;
};
static_assert(sizeof(DriverInformation) == 12);

// ---- Arrival and removal notices ------------------------------------------

struct DeviceNotice {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    std::string path;   // generic-driver device path, or the own device name
    Guid guid{};        // interface GUID for generic-driver devices
    int ownIndex = -1;  // own-driver index, else -1
};

class DeviceNotices {
public:
    using Listener = std::function<void(const DeviceNotice&)>;
    virtual ~DeviceNotices() = default;
    virtual int subscribe(Listener listener) = 0;
    virtual void unsubscribe(int id) = 0;
};

// A listener list for backends. Listeners run on the thread that raises the
// notice, outside the list's lock, so a listener may unsubscribe itself.
class NoticeList final : public DeviceNotices {
public:
    int subscribe(Listener listener) override;
    void unsubscribe(int id) override;
    void raise(const DeviceNotice& notice);

private:
    std::mutex mutex_;
    int nextId_ = 1;
    std::vector<std::pair<int, std::shared_ptr<Listener>>> listeners_;
};

// ---- Backends -------------------------------------------------------------

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::string_view name() const = 0;
    virtual OwnDriver& ownDriver() = 0;
    virtual GenericDriver& genericDriver() = 0;
    virtual DeviceNotices& notices() = 0;
    // Whether any camera answers right now (either driver).
    virtual bool anyCameraPresent() = 0;
};

// A backend with no devices: what "auto" gives when no camera is found.
class NullBackend final : public Backend {
public:
    std::string_view name() const override { return "none"; }
    OwnDriver& ownDriver() override { return own_; }
    GenericDriver& genericDriver() override { return generic_; }
    DeviceNotices& notices() override { return notices_; }
    bool anyCameraPresent() override { return false; }

private:
    struct NoOwn final : OwnDriver {
        std::shared_ptr<OwnDriverHandle> open(int) override { return nullptr; }
    } own_;
    struct NoGeneric final : GenericDriver {
        bool enumerationAvailable() const override { return true; }
        std::vector<std::string> devicePaths(const Guid&) override { return {}; }
        std::shared_ptr<GenericHandle> open(std::string_view, std::uint32_t& error) override
        {
            error = kErrorFileNotFound;
            return nullptr;
        }
    } generic_;
    NoticeList notices_;
};

enum class BackendChoice { Sim, Usb, Auto };

// "sim", "usb" or "auto" (case-sensitive); anything else is rejected.
bool parseBackendChoice(std::string_view text, BackendChoice& out);

using BackendFactory = std::function<std::unique_ptr<Backend>()>;

// Builds the backend for `choice`: the simulator, libusb, or libusb when it
// finds a camera and else a backend with no devices.
std::unique_ptr<Backend> makeBackend(BackendChoice choice, const BackendFactory& simulator,
                                     const BackendFactory& usb);

// The choice ORVANE_CAMERA names; `whenUnset` when it is unset or unknown.
BackendChoice backendChoiceFromEnvironment(BackendChoice whenUnset = BackendChoice::Sim);

} // namespace platform::usb
