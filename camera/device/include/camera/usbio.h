#pragma once
// The camera library's classes over the generic USB driver: a device handle
// with synchronous I/O controls and enumeration, a handle bound to a pipe,
// and pipe worker threads with a buffer pool (reader, writer, and the reader
// that delivers to a camera).
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/usb/driver.h"

namespace Orvane {
class Camera;
}

// Result codes of the class library (the driver's numbering).
inline constexpr unsigned USBIO_ERR_SUCCESS = 0x00000000;
inline constexpr unsigned USBIO_ERR_NO_MEMORY = 0xE0000100;
inline constexpr unsigned USBIO_ERR_FAILED = 0xE0001000;
inline constexpr unsigned USBIO_ERR_ALREADY_CONFIGURED = 0xE0001005;
inline constexpr unsigned USBIO_ERR_TIMEOUT = 0xE000100C;
inline constexpr unsigned USBIO_ERR_DEVICE_POWERED_DOWN = 0xE000101B;
inline constexpr unsigned USBIO_ERR_VERSION_MISMATCH = 0xE000101C;
inline constexpr unsigned USBIO_ERR_EXTRA_EVENT = 0xE000101E;
inline constexpr unsigned USBIO_ERR_DEVICE_NOT_FOUND = 0xE0001100;
inline constexpr unsigned USBIO_ERR_DEVICE_NOT_OPEN = 0xE0001102;
inline constexpr unsigned USBIO_ERR_NO_SUCH_DEVICE_INSTANCE = 0xE0001104;
inline constexpr unsigned USBIO_ERR_INVALID_PARAMETER = 0xE0001105;
inline constexpr unsigned USBIO_ERR_LOAD_SETUP_API_FAILED = 0xE0001106;
inline constexpr unsigned USBIO_ERR_DEVICE_ALREADY_OPENED = 0xE0001107;

// A snapshot of the present interfaces of one GUID (the device-information
// set of the enumeration).
struct CUsbIoDeviceSet {
    platform::usb::Guid guid;
    std::vector<std::string> paths;
};

class CUsbIo {
public:
    explicit CUsbIo(platform::usb::GenericDriver& driver);
    virtual ~CUsbIo();
    CUsbIo(const CUsbIo&) = delete;
    CUsbIo& operator=(const CUsbIo&) = delete;

    // Null when enumeration is not available or the GUID is null.
    static std::unique_ptr<CUsbIoDeviceSet> CreateDeviceList(platform::usb::GenericDriver& driver,
                                                             const platform::usb::Guid* guid);

    // Opens interface `index` of `guid` in `set`, or "\\.\USBIO_Device<index>"
    // without a set. 0 or a result code.
    unsigned OpenDevice(int index, const CUsbIoDeviceSet* set, const platform::usb::Guid* guid);
    // Opens a known device path.
    unsigned OpenPath(const std::string& path);
    void CloseDevice();
    bool IsOpen() const;
    const std::string& GetDevicePathName() const { return devicePath_; }

    unsigned SendIoControl(unsigned code, const void* in, unsigned inSize, void* out, unsigned outSize,
                           unsigned* bytesReturned);

    unsigned SetConfiguration(const platform::usb::ConfigurationRequest& request);
    unsigned Unconfigure();
    unsigned GetConfigurationInfo(platform::usb::ConfigurationInformation& info);
    unsigned GetDriverInfo(platform::usb::DriverInformation& info);
    unsigned ResetPipe();
    unsigned AbortPipe();

    // "Error code 0x%08X: %s", cut to `size` and always terminated.
    static char* FormatErrorText(char* buffer, int size, unsigned code);
    // The table's text for `code`, or null when it has none.
    static const char* ErrorText(unsigned code);

protected:
    std::shared_ptr<platform::usb::GenericHandle> Handle() const;
    platform::usb::GenericDriver& driver_;

private:
    unsigned OpenResolvedPath(const std::string& path);

    mutable std::mutex handleMutex_;
    std::shared_ptr<platform::usb::GenericHandle> handle_;
    platform::CriticalSection ioLock_;  // serialises the I/O controls of one handle
    std::string devicePath_;
};

class CUsbIoPipe : public CUsbIo {
public:
    using CUsbIo::CUsbIo;
    // Binds this handle to `endpoint`.
    unsigned Bind(std::uint8_t endpoint);
    void SubmitRead(const std::shared_ptr<platform::usb::Request>& r);
    void SubmitWrite(const std::shared_ptr<platform::usb::Request>& r);
    void CancelIo();
};

struct CUsbIoBuf {
    unsigned NumberOfBytesToTransfer = 0;
    unsigned BytesTransferred = 0;
    unsigned Status = 0;
    bool OperationFinished = false;
    std::uint8_t* Buffer = nullptr;
    unsigned Size = 0;
    std::shared_ptr<platform::usb::Request> request;  // the overlapped request, reused
    CUsbIoBuf* Next = nullptr;
};

// Free buffers sharing one block of size x count bytes.
class CUsbIoBufPool {
public:
    bool Allocate(unsigned size, unsigned count);
    void Free();
    CUsbIoBuf* Get();
    void Put(CUsbIoBuf* buf);
    unsigned CurrentCount() const { return count_.load(); }
    bool Empty() const { return buffers_.empty(); }

private:
    std::mutex mutex_;
    std::vector<std::uint8_t> block_;
    std::vector<std::unique_ptr<CUsbIoBuf>> buffers_;
    CUsbIoBuf* head_ = nullptr;
    std::atomic<unsigned> count_{0};
};

class CUsbIoThread : public CUsbIoPipe {
public:
    explicit CUsbIoThread(platform::usb::GenericDriver& driver);
    ~CUsbIoThread() override;

    unsigned AttachToEndpoint(int index, std::uint8_t endpoint, const CUsbIoDeviceSet* set,
                              const platform::usb::Guid* guid);
    unsigned AttachToPath(const std::string& path, std::uint8_t endpoint);
    bool CreateBufferPool(unsigned size, unsigned count);
    void FreeBufferPool();
    bool RunThread(unsigned maxErrors = 3);
    bool StopThread();
    // Started and not yet ended (by StopThread or by its own errors).
    bool IsRunning() const { return running_.load() && !exited_.isSet(); }
    unsigned WriteBlocking(std::uint8_t* data, unsigned& size, unsigned timeoutMs);
    unsigned AwaitBuffer(CUsbIoBuf* buf, unsigned timeoutMs, platform::Event* extra = nullptr);

protected:
    virtual void ProcessBuffer(CUsbIoBuf*) {}
    virtual void ProcessData(CUsbIoBuf* buf);  // prepares a buffer before it is queued
    virtual void BufErrorHandler(CUsbIoBuf*) {}
    virtual void OnThreadExit() {}
    virtual void ThreadRoutine() = 0;
    virtual void TerminateThread();
    enum class Direction { In, Out };
    // The reader's and the writer's routine.
    void RunPipe(Direction direction);

    int priority_ = 2;
    unsigned maxErrorCount_ = 3;
    CUsbIoBufPool pool_;
    std::atomic<bool> terminate_{false};
    std::deque<CUsbIoBuf*> inFlight_;

private:
    platform::Thread thread_;
    std::atomic<bool> running_{false};
    platform::Event exited_{platform::Event::Reset::Manual};
};

class CUsbIoReader : public CUsbIoThread {
public:
    using CUsbIoThread::CUsbIoThread;
    ~CUsbIoReader() override;

protected:
    void ThreadRoutine() override;
};

class CUsbIoWriter : public CUsbIoThread {
public:
    using CUsbIoThread::CUsbIoThread;
    ~CUsbIoWriter() override;

protected:
    void ThreadRoutine() override;
};

// Hands every good buffer to its camera.
class CameraUSBIOReader : public CUsbIoReader {
public:
    using CUsbIoReader::CUsbIoReader;
    ~CameraUSBIOReader() override;
    void SetTarget(int endpointId, Orvane::Camera* camera);

protected:
    void ThreadRoutine() override;
    void ProcessBuffer(CUsbIoBuf* buf) override;
    // A reader that gave up on its own (not stopped) reports its camera lost.
    void OnThreadExit() override;

private:
    std::atomic<int> endpointId_{0};
    std::atomic<Orvane::Camera*> camera_{nullptr};
    // The reader heads the frame road: it keeps to one processor, where the
    // packet processor and the engine then follow it. Its thread's alone.
    platform::ProcessorFollower follower_;
};
