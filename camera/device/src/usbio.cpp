#include "camera/usbio.h"

#include <cstdio>
#include <cstring>

#include "camera/camera.h"
#include "camera/debug.h"

namespace usb = platform::usb;

namespace {

struct ErrorRow {
    unsigned code;
    const char* text;
};

constexpr ErrorRow kErrorTexts[] = {
    {0x00000000, "No error."},
    {0xE0000001, "HC Error: Wrong CRC."},
    {0xE0000002, "HC Error: Wrong bit stuffing."},
    {0xE0000003, "HC Error: Data toggle mismatch."},
    {0xE0000004, "HC Error: stall PID."},
    {0xE0000005, "HC Error: Device not responding."},
    {0xE0000006, "HC Error: PID check failed."},
    {0xE0000007, "HC Error: Unexpected PID."},
    {0xE0000008, "HC Error: Data Overrun."},
    {0xE0000009, "HC Error: Data Underrun."},
    {0xE000000A, "HC Error: Reserved1."},
    {0xE000000B, "HC Error: Reserved2."},
    {0xE000000C, "HC Error: Buffer Overrun."},
    {0xE000000D, "HC Error: Buffer Underrun."},
    {0xE000000F, "HC Error: Not accessed."},
    {0xE0000010, "HC Error: FIFO error."},
    {0xE0000011, "HC Error: XACT error."},
    {0xE0000012, "HC Error: Babble detected."},
    {0xE0000013, "HC Error: Data buffer error."},
    {0xE0000030, "USBD Error: Endpoint halted."},
    {0xE0000100, "USBD Error: No system memory."},
    {0xE0000200, "USBD Error: Invalid URB function."},
    {0xE0000300, "USBD Error: Invalid parameter."},
    {0xE0000400, "USBD Error: Busy."},
    {0xE0000500, "USBD Error: Request failed."},
    {0xE0000600, "USBD Error: Invalid pipe handle."},
    {0xE0000700, "USBD Error: No bandwidth available."},
    {0xE0000800, "USBD Error: Internal HC error."},
    {0xE0000900, "USBD Error: Short transfer."},
    {0xE0000A00, "USBD Error: Bad start frame."},
    {0xE0000B00, "USBD Error: Isochronous request failed."},
    {0xE0000C00, "USBD Error: Frame control owned."},
    {0xE0000D00, "USBD Error: Frame control not owned."},
    {0xE0000E00, "USBD Error: Not supported."},
    {0xE0000F00, "USBD Error: Invalid configuration descriptor."},
    {0xE8001000, "USBD Error: Insufficient resources."},
    {0xE0002000, "USBD Error: Set configuration failed."},
    {0xE0003000, "USBD Error: Buffer too small."},
    {0xE0004000, "USBD Error: Interface not found."},
    {0xE0005000, "USBD Error: Invalid pipe flags."},
    {0xE0006000, "USBD Error: Timeout."},
    {0xE0007000, "USBD Error: Device gone."},
    {0xE0008000, "USBD Error: Status not mapped."},
    {0xE0010000, "USBD Error: cancelled."},
    {0xE0020000, "USBD Error: ISO not accessed by hardware."},
    {0xE0030000, "USBD Error: ISO TD error."},
    {0xE0040000, "USBD Error: ISO NA late USB port."},
    {0xE0050000, "USBD Error: ISO not accessed, submitted too late."},
    {0xE0001000, "Operation failed."},
    {0xE0001001, "Input buffer too small."},
    {0xE0001002, "Output buffer too small."},
    {0xE0001003, "Out of memory."},
    {0xE0001004, "There are pending requests."},
    {0xE0001005, "USB device is already configured."},
    {0xE0001006, "USB device is not configured."},
    {0xE0001007, "There are open pipes."},
    {0xE0001008, "Either handle or pipe is already bound."},
    {0xE0001009, "Handle is not bound to a pipe."},
    {0xE000100A, "Device is removed."},
    {0xE000100B, "Control code is not supported."},
    {0xE000100C, "The request has been timed out."},
    {0xE000100D, "Invalid recipient."},
    {0xE000100E, "Invalid pipe type or invalid request type."},
    {0xE000100F, "Invalid I/O control code."},
    {0xE0001010, "Invalid direction of read/write operation."},
    {0xE0001011, "Too much ISO packets."},
    {0xE0001012, "Request pool empty."},
    {0xE0001013, "Pipe not found."},
    {0xE0001014, "Invalid ISO packet."},
    {0xE0001015, "Out of address space. Not enough system resources."},
    {0xE0001016, "Interface not found."},
    {0xE0001017, "Invalid device state (stopped or power down)."},
    {0xE0001018, "Invalid parameter."},
    {0xE000101A, "Power state not allowed. Set to D0 first."},
    {0xE000101B, "Device powered down."},
    {0xE000101C, "API Version does not match."},
    {0xE000101D, "Set configuration failed."},
    {0xE000101F, "Invalid process."},
    {0xE0001020, "The device is acquired by another process for exclusive use."},
    {0xE0001021, "A different process has opened the device."},
    {0xE0001100, "Device not found or acquired for exclusive use."},
    {0xE0001102, "Device not open."},
    {0xE0001104, "No such device instance."},
    {0xE0001105, "An invalid parameter was passed."},
    {0xE0001107, "The handle is already opened."},
};
static_assert(std::size(kErrorTexts) == 85);

} // namespace

// ---- CUsbIo ---------------------------------------------------------------

CUsbIo::CUsbIo(usb::GenericDriver& driver) : driver_(driver) {}

CUsbIo::~CUsbIo()
{
    CloseDevice();
}

std::unique_ptr<CUsbIoDeviceSet> CUsbIo::CreateDeviceList(usb::GenericDriver& driver, const usb::Guid* guid)
{
    if (!guid || !driver.enumerationAvailable())
        return nullptr;
    auto set = std::make_unique<CUsbIoDeviceSet>();
    set->guid = *guid;
    set->paths = driver.devicePaths(*guid);
    return set;
}

unsigned CUsbIo::OpenDevice(int index, const CUsbIoDeviceSet* set, const usb::Guid* guid)
{
    if (IsOpen())
        return USBIO_ERR_DEVICE_ALREADY_OPENED;
    std::string path;
    if (set) {
        if (!guid)
            return USBIO_ERR_INVALID_PARAMETER;
        if (!driver_.enumerationAvailable())
            return USBIO_ERR_LOAD_SETUP_API_FAILED;
        if (!(set->guid == *guid) || index < 0 || static_cast<std::size_t>(index) >= set->paths.size())
            return USBIO_ERR_NO_SUCH_DEVICE_INSTANCE;
        path = set->paths[static_cast<std::size_t>(index)];
    } else {
        path = "\\\\.\\USBIO_Device" + std::to_string(index);
    }
    return OpenResolvedPath(path);
}

unsigned CUsbIo::OpenPath(const std::string& path)
{
    if (IsOpen())
        return USBIO_ERR_DEVICE_ALREADY_OPENED;
    return OpenResolvedPath(path);
}

unsigned CUsbIo::OpenResolvedPath(const std::string& path)
{
    std::uint32_t error = 0;
    auto handle = driver_.open(path, error);
    if (!handle)
        return error == usb::kErrorFileNotFound ? USBIO_ERR_DEVICE_NOT_FOUND : (error ? error : USBIO_ERR_FAILED);
    {
        std::lock_guard lock(handleMutex_);
        handle_ = std::move(handle);
        devicePath_ = path;
    }
    usb::DriverInformation info{};
    unsigned status = GetDriverInfo(info);
    if (status == 0 && ((info.apiVersion >> 8) != 0x02 || (info.apiVersion & 0xFF) < 0x30))
        status = USBIO_ERR_VERSION_MISMATCH;
    if (status != 0)
        CloseDevice();
    return status;
}

void CUsbIo::CloseDevice()
{
    std::shared_ptr<usb::GenericHandle> old;
    {
        std::lock_guard lock(handleMutex_);
        old.swap(handle_);
        devicePath_.clear();
    }
    if (old)
        old->cancelIo();
}

bool CUsbIo::IsOpen() const
{
    std::lock_guard lock(handleMutex_);
    return handle_ != nullptr;
}

std::shared_ptr<usb::GenericHandle> CUsbIo::Handle() const
{
    std::lock_guard lock(handleMutex_);
    return handle_;
}

unsigned CUsbIo::SendIoControl(unsigned code, const void* in, unsigned inSize, void* out, unsigned outSize,
                               unsigned* bytesReturned)
{
    auto handle = Handle();
    if (bytesReturned)
        *bytesReturned = 0;
    if (!handle)
        return USBIO_ERR_DEVICE_NOT_OPEN;
    std::lock_guard lock(ioLock_);
    std::uint32_t returned = 0;
    unsigned status = handle->ioControl(
        code, std::span(static_cast<const std::uint8_t*>(in), in ? inSize : 0u),
        std::span(static_cast<std::uint8_t*>(out), out ? outSize : 0u), returned);
    if (bytesReturned)
        *bytesReturned = returned;
    return status;
}

unsigned CUsbIo::SetConfiguration(const usb::ConfigurationRequest& request)
{
    return SendIoControl(usb::kIoctlSetConfiguration, &request, sizeof request, nullptr, 0, nullptr);
}

unsigned CUsbIo::Unconfigure()
{
    return SendIoControl(usb::kIoctlUnconfigure, nullptr, 0, nullptr, 0, nullptr);
}

unsigned CUsbIo::GetConfigurationInfo(usb::ConfigurationInformation& info)
{
    info = {};
    return SendIoControl(usb::kIoctlGetConfigurationInfo, nullptr, 0, &info, sizeof info, nullptr);
}

unsigned CUsbIo::GetDriverInfo(usb::DriverInformation& info)
{
    info = {};
    return SendIoControl(usb::kIoctlGetDriverInfo, nullptr, 0, &info, sizeof info, nullptr);
}

unsigned CUsbIo::ResetPipe()
{
    return SendIoControl(usb::kIoctlResetPipe, nullptr, 0, nullptr, 0, nullptr);
}

unsigned CUsbIo::AbortPipe()
{
    return SendIoControl(usb::kIoctlAbortPipe, nullptr, 0, nullptr, 0, nullptr);
}

const char* CUsbIo::ErrorText(unsigned code)
{
    for (const auto& row : kErrorTexts)
        if (row.code == code)
            return row.text;
    return nullptr;
}

char* CUsbIo::FormatErrorText(char* buffer, int size, unsigned code)
{
    if (!buffer || size <= 0)
        return buffer;
    const char* text = ErrorText(code);
    std::snprintf(buffer, static_cast<std::size_t>(size), "Error code 0x%08X: %s", code,
                  text ? text : "Windows system error code.");
    return buffer;
}

// ---- CUsbIoPipe -----------------------------------------------------------

unsigned CUsbIoPipe::Bind(std::uint8_t endpoint)
{
    return SendIoControl(usb::kIoctlBind, &endpoint, 1, nullptr, 0, nullptr);
}

void CUsbIoPipe::SubmitRead(const std::shared_ptr<usb::Request>& r)
{
    if (auto h = Handle())
        h->submitRead(r);
    else
        r->complete(USBIO_ERR_DEVICE_NOT_OPEN, 0);
}

void CUsbIoPipe::SubmitWrite(const std::shared_ptr<usb::Request>& r)
{
    if (auto h = Handle())
        h->submitWrite(r);
    else
        r->complete(USBIO_ERR_DEVICE_NOT_OPEN, 0);
}

void CUsbIoPipe::CancelIo()
{
    if (auto h = Handle())
        h->cancelIo();
}

// ---- CUsbIoBufPool --------------------------------------------------------

bool CUsbIoBufPool::Allocate(unsigned size, unsigned count)
{
    std::lock_guard lock(mutex_);
    if (!buffers_.empty() || size == 0 || count == 0)
        return false;
    try {
        block_.assign(static_cast<std::size_t>(size) * count, 0);
        for (unsigned i = 0; i < count; ++i) {
            auto buf = std::make_unique<CUsbIoBuf>();
            buf->Buffer = block_.data() + static_cast<std::size_t>(i) * size;
            buf->Size = size;
            buf->request = std::make_shared<usb::Request>(std::span(buf->Buffer, size));
            buf->request->complete(0, 0);  // idle until first queued
            buf->Next = head_;
            head_ = buf.get();
            buffers_.push_back(std::move(buf));
        }
    } catch (const std::bad_alloc&) {
        buffers_.clear();
        block_.clear();
        head_ = nullptr;
        return false;
    }
    count_.store(count);
    return true;
}

void CUsbIoBufPool::Free()
{
    std::lock_guard lock(mutex_);
    head_ = nullptr;
    buffers_.clear();
    block_.clear();
    count_.store(0);
}

CUsbIoBuf* CUsbIoBufPool::Get()
{
    std::lock_guard lock(mutex_);
    CUsbIoBuf* b = head_;
    if (b) {
        head_ = b->Next;
        b->Next = nullptr;
        count_.fetch_sub(1);
    }
    return b;
}

void CUsbIoBufPool::Put(CUsbIoBuf* buf)
{
    std::lock_guard lock(mutex_);
    buf->Next = head_;
    head_ = buf;
    count_.fetch_add(1);
}

// ---- CUsbIoThread ---------------------------------------------------------

CUsbIoThread::CUsbIoThread(usb::GenericDriver& driver) : CUsbIoPipe(driver) {}

CUsbIoThread::~CUsbIoThread()
{
    StopThread();
}

unsigned CUsbIoThread::AttachToEndpoint(int index, std::uint8_t endpoint, const CUsbIoDeviceSet* set,
                                        const usb::Guid* guid)
{
    if (!IsOpen()) {
        unsigned status = OpenDevice(index, set, guid);
        if (status != 0)
            return status;
    }
    return Bind(endpoint);
}

unsigned CUsbIoThread::AttachToPath(const std::string& path, std::uint8_t endpoint)
{
    if (!IsOpen()) {
        unsigned status = OpenPath(path);
        if (status != 0)
            return status;
    }
    return Bind(endpoint);
}

bool CUsbIoThread::CreateBufferPool(unsigned size, unsigned count)
{
    return pool_.Allocate(size, count);
}

void CUsbIoThread::FreeBufferPool()
{
    if (!running_.load())
        pool_.Free();
}

bool CUsbIoThread::RunThread(unsigned maxErrors)
{
    if (running_.load() && !exited_.isSet())
        return false;
    if (thread_.joinable())
        thread_.join();
    maxErrorCount_ = maxErrors;
    terminate_.store(false);
    exited_.reset();
    running_.store(true);
    thread_.start(
        [this] {
            ThreadRoutine();
            OnThreadExit();
            exited_.set();
        },
        platform::ThreadPriority::Highest, "usbio-pipe");
    return true;
}

bool CUsbIoThread::StopThread()
{
    if (!running_.exchange(false)) {
        if (thread_.joinable())
            thread_.join();
        return true;
    }
    terminate_.store(true);
    // Abort until the routine has seen the flag: a request it queued just
    // after an abort would otherwise stay in flight.
    do
        TerminateThread();
    while (exited_.wait(20) == platform::kWaitTimeout);
    thread_.join();
    return true;
}

void CUsbIoThread::ProcessData(CUsbIoBuf* buf)
{
    buf->NumberOfBytesToTransfer = buf->Size;
    buf->BytesTransferred = 0;
}

void CUsbIoThread::TerminateThread()
{
    AbortPipe();
}

unsigned CUsbIoThread::WriteBlocking(std::uint8_t* data, unsigned& size, unsigned timeoutMs)
{
    auto request = std::make_shared<usb::Request>(std::span(data, size));
    SubmitWrite(request);
    unsigned status;
    if (request->wait(timeoutMs) == platform::kWaitTimeout) {
        CancelIo();
        request->wait(platform::kInfinite);
        status = USBIO_ERR_TIMEOUT;
    } else {
        status = request->status();
    }
    size = request->transferred();
    return status;
}

unsigned CUsbIoThread::AwaitBuffer(CUsbIoBuf* buf, unsigned timeoutMs, platform::Event* extra)
{
    if (!buf->request->pending())
        return buf->request->status();
    platform::Event* events[2] = {&buf->request->doneEvent(), extra};
    std::uint32_t r = platform::Event::waitMultiple(std::span(events, extra ? 2 : 1), false, timeoutMs);
    if (r == platform::kWaitTimeout)
        return USBIO_ERR_TIMEOUT;
    if (extra && r == platform::kWaitObject0 + 1)
        return USBIO_ERR_EXTRA_EVENT;
    return buf->request->status();
}

// ---- reader and writer ----------------------------------------------------

// The pipe loop of both directions: keep the pool's buffers queued, take
// them back oldest first, and cancel what is still in flight at the end. A
// reader stops queueing for the round at a finished or empty buffer and
// hands each completed one on; a writer's finished buffer ends the run.
void CUsbIoThread::RunPipe(Direction direction)
{
    const bool reading = direction == Direction::In;
    if (pool_.Empty())
        return;
    unsigned errors = 0;
    bool finished = false;
    while (!terminate_.load() && errors <= maxErrorCount_ && !finished) {
        while (CUsbIoBuf* buf = pool_.Get()) {
            ProcessData(buf);
            if (buf->OperationFinished || (reading && buf->NumberOfBytesToTransfer == 0)) {
                pool_.Put(buf);
                finished = !reading;
                break;
            }
            buf->request->rearm(std::span(buf->Buffer, buf->NumberOfBytesToTransfer));
            if (reading)
                SubmitRead(buf->request);
            else
                SubmitWrite(buf->request);
            inFlight_.push_back(buf);
        }
        if (inFlight_.empty())
            break;
        CUsbIoBuf* buf = inFlight_.front();
        buf->request->wait(platform::kInfinite);
        buf->Status = buf->request->status();
        buf->BytesTransferred = buf->request->transferred();
        if (buf->Status != 0) {
            BufErrorHandler(buf);
            if (buf->Status != USBIO_ERR_DEVICE_POWERED_DOWN)
                ++errors;
        } else {
            errors = 0;
        }
        inFlight_.pop_front();
        if (reading)
            ProcessBuffer(buf);
        pool_.Put(buf);
    }
    while (!inFlight_.empty()) {
        CUsbIoBuf* buf = inFlight_.front();
        inFlight_.pop_front();
        while (buf->request->wait(20) == platform::kWaitTimeout)
            CancelIo();
        pool_.Put(buf);
    }
}

CUsbIoReader::~CUsbIoReader()
{
    StopThread();
}

void CUsbIoReader::ThreadRoutine()
{
    RunPipe(Direction::In);
}

CUsbIoWriter::~CUsbIoWriter()
{
    StopThread();
}

void CUsbIoWriter::ThreadRoutine()
{
    RunPipe(Direction::Out);
}

// ---- CameraUSBIOReader ----------------------------------------------------

CameraUSBIOReader::~CameraUSBIOReader()
{
    StopThread();
}

void CameraUSBIOReader::SetTarget(int endpointId, Orvane::Camera* camera)
{
    endpointId_.store(endpointId);
    camera_.store(camera);
}

void CameraUSBIOReader::OnThreadExit()
{
    if (terminate_.load())
        return;
    if (Orvane::Camera* camera = camera_.load())
        camera->ReportLost(endpointId_.load() == 1 ? "the reply reader gave up after its read errors"
                                                   : "the image reader gave up after its read errors");
}

void CameraUSBIOReader::ThreadRoutine()
{
    follower_ = {};  // each run of the thread settles anew
    CUsbIoReader::ThreadRoutine();
}

void CameraUSBIOReader::ProcessBuffer(CUsbIoBuf* buf)
{
    if (buf->Status != 0) {
        char text[256];
        FormatErrorText(text, sizeof text, buf->Status);
        Orvane::cDebug::ReportDebug(Orvane::cDebug::Device, "CameraUSBIOReader: %s", text);
        return;
    }
    follower_.settle();
    if (Orvane::Camera* camera = camera_.load())
        camera->IncomingUSBIOData(endpointId_.load(), buf->Buffer, buf->BytesTransferred);
}
