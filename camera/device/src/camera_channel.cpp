// The command channel: queues, framing, the send, reply and image threads,
// reply dispatch and the watchdog.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "camera/camera.h"
#include "camera/debug.h"
#include "camera/exceptions.h"
#include "camera/usbio.h"

namespace Orvane {

namespace usb = platform::usb;

namespace {

// Idle waits of the channel's threads end early when the camera goes away.
void idle(platform::Event& stop, unsigned ms)
{
    stop.wait(ms);
}

// An idle wait that also ends when there is work: its period is a ceiling.
void idle(platform::Event& stop, platform::Event& work, unsigned ms)
{
    platform::Event* events[] = {&stop, &work};
    platform::Event::waitMultiple(events, false, ms);
}

constexpr const char* kFrameTooLong = "Camera::WriteOutputBuffer - buffer number of bytes exceeds packet size.";

} // namespace

std::mutex Camera::m_MuliCameraLock;
std::map<int, Camera*> Camera::table_;
std::atomic<int> Camera::currentCameraNumber_{0};

int Camera::GetNextCameraNumber()
{
    return currentCameraNumber_.fetch_add(1);
}

void Camera::ResetCameraNumbers(int next)
{
    currentCameraNumber_.store(next);
}

namespace {

int resolveNumber(int n)
{
    return n < 0 ? Camera::GetNextCameraNumber() : n;
}

} // namespace

Camera::Camera(usb::Backend& backend, int cameraNumber, DoubleBuffer<CameraPacket>* packets, CameraTiming timing,
               platform::Clock& clock)
    : backend_(backend),
      timing_(timing),
      clock_(clock),
      driver_(OVUSB),
      cameraNumber_(resolveNumber(cameraNumber)),
      packets_(packets)
{
    int number = cameraNumber_.load();
    driver_ = number >= 1024 && number <= 2047 ? USBIO : OVUSB;
    sendScratch_.reserve(OutputBufferSize);
    for (int g = 0; g < 256; ++g)
        greyWeights_[static_cast<std::size_t>(g)] = g < 32 ? 0 : static_cast<int>((g - 32) * 1.1434977);
    DoShow();
    AddMe();
}

Camera::~Camera()
{
    // Every wait from here on ends by the shutdown time, and no reply is
    // waited for any more.
    BeginShutdown();
    CloseDebugWindow();
    // All four LEDs off, straight to the device.
    const unsigned char off[] = {DEVCTRL_LED_RAW, 0x00, 0xF0};
    if (deviceOpen_.load())
        SendCommandEx(off, 3, 0);
    DeleteMe();
    // A command still waiting for its reply (the configuration read, say)
    // is killed first, so that nothing below waits behind it.
    KillAwaiting();
    ShutdownWatchdogThread();
    if (started_.load())
        Stop();
    StopThreads();
    KillQueues();
    FreeFinishedCommands();
}

void Camera::BeginShutdown()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.shutdownMs);
    shutdownDeadline_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count());
    shuttingDown_.store(true);
    sendWake_.set();
    replyWake_.set();
    imageWake_.set();
}

void Camera::EndShutdown()
{
    stopEvent_.reset();
    // Cancelled starts outlast a driver switch.
    if (startsCancelled_.load())
        return;
    shuttingDown_.store(false);
    shutdownDeadline_.store(0);
}

void Camera::CancelStarts(bool cancel)
{
    startsCancelled_.store(cancel);
    if (cancel) {
        BeginShutdown();
        // The configuration read a start waits on ends with the kill.
        KillQueues();
    } else {
        shuttingDown_.store(false);
        shutdownDeadline_.store(0);
    }
}

bool Camera::WaitForConfiguration()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.configWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // In steps, so that a shutdown or cancel that begins meanwhile cuts
        // the wait short.
        const unsigned step = Bounded(static_cast<unsigned>(
            std::clamp<std::int64_t>(left.count(), 0, CameraConfigurationData::WaitStepMs)));
        if (config_.WaitValidFor(step))
            return true;
        if (step == 0)
            return false;
    }
}

unsigned Camera::Bounded(unsigned ms) const
{
    if (!shuttingDown_.load())
        return ms;
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    const std::int64_t left = (shutdownDeadline_.load() - now) / 1'000'000;
    return left <= 0 ? 0u : static_cast<unsigned>(std::min<std::int64_t>(left, ms));
}

void Camera::StopThreads()
{
    sendRun_.store(false);
    replyRun_.store(false);
    imageRun_.store(false);
    stopEvent_.set();
    sendWake_.set();
    replyWake_.set();
    imageWake_.set();
    // Readers blocked in the transport are woken by the close, and whatever
    // waits on a queued command by the kill; only then are the threads
    // joined.
    CloseUsbDevice();
    KillQueues();
    sendThread_.join();
    replyThread_.join();
    imageThread_.join();
}

void Camera::SetLostHandler(std::function<void()> handler)
{
    std::lock_guard lock(lostLock_);
    lostHandler_ = std::move(handler);
}

void Camera::ReportLost(const char* why)
{
    if (!shuttingDown_.load() && deviceOpen_.exchange(false))
        NotifyLost(why);
}

void Camera::NotifyLost(const char* why)
{
    if (shuttingDown_.load())
        return;
    cDebug::ReportDebug(cDebug::Device, "Camera: device lost: %s", why);
    // Nothing waits on a device that is gone; the next start opens it again.
    KillQueues();
    std::lock_guard lock(lostLock_);
    if (lostHandler_)
        lostHandler_();
}

// ---- camera table ---------------------------------------------------------

void Camera::AddMe()
{
    std::lock_guard lock(m_MuliCameraLock);
    inTable_ = table_.emplace(cameraNumber_.load(), this).second;
}

void Camera::DeleteMe()
{
    std::lock_guard lock(m_MuliCameraLock);
    if (!inTable_)
        return;
    auto it = table_.find(cameraNumber_.load());
    if (it != table_.end() && it->second == this)
        table_.erase(it);
    inTable_ = false;
}

// ---- transport ------------------------------------------------------------

bool Camera::OpenUsbDevice()
{
    if (driver_ == USBIO) {
        // An open device is left as it is: its readers, LEDs and queues stay.
        if (deviceOpen_.load())
            return true;
        return OpenUSBIODevice();
    }
    CloseUsbDevice();
    auto handle = backend_.ownDriver().open(cameraNumber_.load());
    if (!handle) {
        // Closed now: what was queued for the device will never go out.
        KillQueues();
        return false;
    }
    {
        std::lock_guard lock(transportLock_);
        readHandle_ = std::move(handle);
    }
    readFailures_.store(0);
    deviceOpen_.store(true);
    sendWake_.set();
    replyWake_.set();
    imageWake_.set();
    return true;
}

void Camera::CloseUsbDevice()
{
    if (driver_ == USBIO) {
        CloseUSBIODevice();
        return;
    }
    std::shared_ptr<usb::OwnDriverHandle> old;
    {
        std::lock_guard lock(transportLock_);
        old.swap(readHandle_);
    }
    deviceOpen_.store(false);
    if (old) {
        old->cancel();
        old->close();
    }
}


std::string Camera::GetUSBIODevicePath() const
{
    std::lock_guard lock(transportLock_);
    return usbioPath_;
}

Camera::UsbDevice Camera::GetUsbDevice() const
{
    UsbDevice device;
    device.driver = driver_.load();
    device.index = cameraNumber_.load();
    if (device.driver == USBIO)
        device.path = GetUSBIODevicePath();
    device.open = deviceOpen_.load();
    return device;
}

bool Camera::OpenUSBIODevice()
{
    // What a lost device left behind goes first.
    CloseUSBIODevice();
    std::string path = GetUSBIODevicePath();
    if (path.empty())
        return false;
    auto& driver = backend_.genericDriver();
    auto writer = std::make_shared<CUsbIoWriter>(driver);
    auto reply = std::make_shared<CameraUSBIOReader>(driver);
    CameraDeviceLocator* locator = locator_.load();
    if (locator ? !locator->GetCameraDevice(path, *writer) : writer->OpenPath(path) != 0)
        return false;
    usb::ConfigurationRequest request{};
    request.configurationIndex = 0;
    request.numberOfInterfaces = 1;
    request.interfaces[0] = {0, 0, 4096};
    unsigned status = writer->SetConfiguration(request);
    usb::ConfigurationInformation info{};
    bool ok = (status == 0 || status == USBIO_ERR_ALREADY_CONFIGURED) && writer->GetConfigurationInfo(info) == 0 &&
              info.numberOfPipes >= 2;
    // Any failure here fails the open: a half-bound camera would look open.
    ok = ok && writer->Bind(info.pipes[0].endpointAddress) == 0;
    const std::uint8_t replyEndpoint = info.pipes[1].endpointAddress;
    ok = ok && (locator ? locator->BindPipe(path, replyEndpoint, *reply)
                        : reply->AttachToPath(path, replyEndpoint) == 0);
    ok = ok && reply->CreateBufferPool(0x4000, 4);
    if (ok) {
        reply->SetTarget(1, this);
        ok = reply->RunThread(3);
    }
    if (!ok) {
        reply.reset();
        writer->Unconfigure();
        return false;
    }
    {
        std::lock_guard lock(transportLock_);
        writer_ = std::move(writer);
        replyReader_ = std::move(reply);
        imageEndpoint_ = info.numberOfPipes >= 3 ? info.pipes[2].endpointAddress : 0;
    }
    deviceOpen_.store(true);
    sendWake_.set();
    return true;
}

void Camera::StartUSBIOImageReader()
{
    std::string path;
    std::uint8_t endpoint;
    {
        std::lock_guard lock(transportLock_);
        if (!writer_ || imageReader_ || imageEndpoint_ == 0)
            return;
        path = usbioPath_;
        endpoint = imageEndpoint_;
    }
    auto reader = std::make_shared<CameraUSBIOReader>(backend_.genericDriver());
    unsigned size = config_.GetHardwareInterface() == 1 ? 0x8000u : 317440u;
    CameraDeviceLocator* locator = locator_.load();
    const bool bound = locator ? locator->BindPipe(path, endpoint, *reader) : reader->AttachToPath(path, endpoint) == 0;
    if (!bound || !reader->CreateBufferPool(size, 4))
        return;
    reader->SetTarget(2, this);
    if (!reader->RunThread(3))
        return;
    std::lock_guard lock(transportLock_);
    if (!imageReader_)
        imageReader_ = std::move(reader);
}

void Camera::CloseUSBIODevice()
{
    bool open;
    {
        std::lock_guard lock(transportLock_);
        open = writer_ != nullptr;
    }
    if (open) {
        // All LEDs off, through the send step, so that the LED cache (what
        // ReadLeds reports) agrees with the camera.
        const unsigned char off[] = {DEVCTRL_LED_RAW, 0x00, 0xF0};
        SendCommandEx(off, 3, 0);
    }
    std::shared_ptr<CUsbIoWriter> writer;
    std::shared_ptr<CameraUSBIOReader> reply, image;
    {
        std::lock_guard lock(transportLock_);
        writer.swap(writer_);
        reply.swap(replyReader_);
        image.swap(imageReader_);
    }
    deviceOpen_.store(false);
    if (reply)
        reply->StopThread();
    if (image)
        image->StopThread();
}

void Camera::InitializeCameraCommunication()
{
    std::lock_guard lock(threadsLock_);
    if (driver_ == USBIO && !deviceOpen_.load())
        OpenUsbDevice();
    if (!sendRun_.load()) {
        sendThread_.join();
        sendRun_.store(true);
        sendThread_.start([this] { SendThread(); }, platform::ThreadPriority::Highest, "camera-send");
    }
    if (driver_ == OVUSB) {
        if (!replyRun_.load()) {
            replyThread_.join();
            replyRun_.store(true);
            replyThread_.start([this] { ReceiveThread(); }, platform::ThreadPriority::Normal, "camera-reply");
        }
        if (!imageRun_.load()) {
            imageThread_.join();
            imageRun_.store(true);
            imageThread_.start([this] { Receive2Thread(); }, platform::ThreadPriority::Highest, "camera-image");
        }
    }
    if (!watchdogStarted_) {
        watchdogStarted_ = true;
        watchdogState_.store(WatchdogIdle);
        watchdogThread_.start([this] { WatchdogThread(); }, platform::ThreadPriority::TimeCritical,
                              "camera-watchdog");
    }
}

// ---- queues ---------------------------------------------------------------

void Camera::SendCommand(const unsigned char* payload, int length, unsigned char framingCode,
                         unsigned int expectedReply, Command::Callback callback, std::atomic<unsigned char>* doneFlag,
                         void* userData, std::shared_ptr<void> keepAlive)
{
    auto command = std::make_unique<Command>();
    if (length > 0 && payload) {
        command->payload = std::make_unique<unsigned char[]>(static_cast<std::size_t>(length));
        std::memcpy(command->payload.get(), payload, static_cast<std::size_t>(length));
        command->payloadLength = length;
    }
    command->expectedReply = expectedReply & 0xF0;
    command->framingCode = framingCode;
    command->callback = callback;
    command->doneFlag = doneFlag;
    command->userData = userData;
    command->keepAlive = std::move(keepAlive);
    // A complete frame that cannot fit the output buffer is refused here,
    // so it never reaches the send thread. On the way out no reply is
    // waited for.
    if (!deviceOpen_.load() || (framingCode == 0 && length > OutputBufferSize) ||
        (command->expectedReply != 0 && shuttingDown_.load())) {
        KillCommand(std::move(command));
        return;
    }
    {
        std::lock_guard lock(pendingLock_);
        pending_.push_back(std::move(command));
    }
    sendWake_.set();
}

void Camera::KillCommand(std::unique_ptr<Command> command)
{
    std::lock_guard lock(killedLock_);
    command->reply.reset();
    command->replyLength = 0;
    if (command->callback)
        (this->*command->callback)(command.get(), 0);
    killed_.push_back(std::move(command));
}

void Camera::KillAwaiting()
{
    {
        std::lock_guard lock(awaitingLock_);
        while (!awaiting_.empty()) {
            auto c = std::move(awaiting_.front());
            awaiting_.pop_front();
            KillCommand(std::move(c));
        }
    }
    sendWake_.set();
}

void Camera::KillQueues()
{
    KillAwaiting();
    std::lock_guard lock(pendingLock_);
    while (!pending_.empty()) {
        auto c = std::move(pending_.front());
        pending_.pop_front();
        KillCommand(std::move(c));
    }
}

void Camera::CompleteCommand(std::unique_ptr<Command> command, int result)
{
    if (command->callback)
        (this->*command->callback)(command.get(), result);
    std::lock_guard lock(completedLock_);
    completed_.push_back(std::move(command));
}

void Camera::FreeFinishedCommands()
{
    Queue dead;
    {
        std::lock_guard lock(killedLock_);
        dead.swap(killed_);
    }
    dead.clear();
    {
        std::lock_guard lock(completedLock_);
        dead.swap(completed_);
    }
}

bool Camera::Withdraw(const void* keepAlive)
{
    std::unique_ptr<Command> found;
    {
        std::lock_guard awaitLock(awaitingLock_);
        auto it = std::find_if(awaiting_.begin(), awaiting_.end(),
                               [&](const auto& c) { return c->keepAlive.get() == keepAlive; });
        if (it != awaiting_.end()) {
            found = std::move(*it);
            awaiting_.erase(it);
            WatchdogEventComplete();
        } else {
            std::lock_guard pendLock(pendingLock_);
            auto p = std::find_if(pending_.begin(), pending_.end(),
                                  [&](const auto& c) { return c->keepAlive.get() == keepAlive; });
            if (p != pending_.end()) {
                found = std::move(*p);
                pending_.erase(p);
            }
        }
    }
    if (!found)
        return false;
    sendWake_.set();
    // The caller has given up; the command ends without its callback.
    std::lock_guard lock(killedLock_);
    killed_.push_back(std::move(found));
    return true;
}

// ---- framing --------------------------------------------------------------

void Camera::SendCommandEx(const unsigned char* payload, int length, unsigned char framingCode)
{
    std::lock_guard send(sendLock_);
    if (!payload)
        length = 0;
    // Checked before anything of the frame is taken or copied.
    if (framingCode == 0 && length > OutputBufferSize)
        throw UsbWriteException(kFrameTooLong);
    unsigned char effective = framingCode;
    if (framingCode != DEVCTRL_CONFIG_FPGA_DAT && length > 0)
        effective = payload[0] != 0 ? payload[0] : framingCode;
    int chunk = 60;
    if (effective == DEVCTRL_LED_RAW && length >= 3) {
        unsigned char cache = ledCache_.load();
        ledCache_.store(static_cast<unsigned char>((cache & ~payload[2]) | (payload[1] & payload[2])));
    } else if (effective == DEVCTRL_CONFIG_FPGA_INIT || effective == DEVCTRL_RELOAD_CONFDATA) {
        ledCache_.store(0);
    } else if (effective == DEVCTRL_CONFIG_FPGA_DAT) {
        ledCache_.store(0);
        // Bounded: the send thread must stay stoppable.
        WaitForConfiguration();
        int revision = config_.GetState() == CameraConfigurationData::Valid ? config_.GetHardwareRevision() : 0;
        if (revision == 7 || revision == 12)
            chunk = 255;
    }
    std::lock_guard out(outputLock_);
    if (framingCode == 0) {
        if (length > 0)
            std::memcpy(output_.data(), payload, static_cast<std::size_t>(length));
        WriteOutputBuffer(length);
        return;
    }
    if (length == 0) {
        output_[0] = framingCode;
        WriteOutputBuffer(1);
        return;
    }
    for (int at = 0; at < length;) {
        int n = std::min(chunk, length - at);
        output_[0] = framingCode;
        output_[1] = static_cast<unsigned char>(n);
        std::memcpy(output_.data() + 2, payload + at, static_cast<std::size_t>(n));
        WriteOutputBuffer(n + 2);
        at += n;
    }
}

bool Camera::WriteUsbBuffer(const unsigned char* bytes, unsigned short length)
{
    std::lock_guard send(sendLock_);
    if (length > OutputBufferSize || (!bytes && length > 0))
        return false;
    std::lock_guard out(outputLock_);
    if (length > 0)
        std::memcpy(output_.data(), bytes, length);
    // The generic driver's count is the frame's length whatever went out;
    // whether it did is the transport's own result.
    return WriteOutputBuffer(length) == length && lastWriteOk_;
}

unsigned long Camera::WriteOutputBuffer(int n)
{
    if (n > OutputBufferSize)
        throw UsbWriteException(kFrameTooLong);
    if (n < 0)
        return 0;
    return driver_ == USBIO ? WriteUSBIOOutputBuffer(n) : WriteOVUSBOutputBuffer(n);
}

unsigned long Camera::WriteOVUSBOutputBuffer(int n)
{
    // The own driver takes each frame on a handle opened for it.
    auto handle = backend_.ownDriver().open(cameraNumber_.load());
    lastWriteOk_ = false;
    if (!handle)
        return 0;
    std::uint32_t written = 0;
    lastWriteOk_ = handle->write(std::span<const std::uint8_t>(output_.data(), static_cast<std::size_t>(n)), written);
    handle->close();
    return written;
}

unsigned long Camera::WriteUSBIOOutputBuffer(int n)
{
    std::shared_ptr<CUsbIoWriter> writer;
    {
        std::lock_guard lock(transportLock_);
        writer = writer_;
    }
    lastWriteOk_ = false;
    if (!writer)
        return 0;
    unsigned size = static_cast<unsigned>(n);
    // On the way out the writes share the shutdown time.
    unsigned status = writer->WriteBlocking(output_.data(), size, Bounded(timing_.usbioWriteTimeoutMs));
    if (status != 0) {
        char text[256];
        CUsbIo::FormatErrorText(text, sizeof text, status);
        cDebug::ReportDebug(cDebug::Device, "Camera::WriteUSBIOOutputBuffer: %s", text);
        writer->ResetPipe();
    } else {
        lastWriteOk_ = true;
    }
    return static_cast<unsigned long>(n);
}

// ---- threads --------------------------------------------------------------

unsigned Camera::SendThread()
{
    idle(stopEvent_, timing_.threadStartMs);
    bool sent = false;
    while (sendRun_.load()) {
        // A queued command, a freed awaiting slot or an opened device ends
        // the wait at once: the 1 and 50 ms are the longest it lasts. A
        // closed device has nothing to send to until it opens, which wakes
        // the thread; meanwhile it sleeps the longer closed-device period.
        const bool open = deviceOpen_.load();
        idle(stopEvent_, sendWake_, !open ? timing_.closedIdleMs : sent ? timing_.sendBusyMs : timing_.sendIdleMs);
        sent = false;
        if (!deviceOpen_.load())
            continue;
        std::unique_ptr<Command> owned;  // set for a command that expects no reply
        std::unique_ptr<Command> refused;
        Command* command = nullptr;
        unsigned char framing = 0;
        {
            std::lock_guard awaitLock(awaitingLock_);
            if (awaiting_.empty()) {
                std::lock_guard pendLock(pendingLock_);
                if (!pending_.empty()) {
                    owned = std::move(pending_.front());
                    pending_.pop_front();
                    if (owned->expectedReply != 0 && shuttingDown_.load()) {
                        // On the way out no reply is waited for.
                        refused = std::move(owned);
                    } else {
                        command = owned.get();
                        sendScratch_.assign(command->payload.get(), command->payload.get() + command->payloadLength);
                        framing = command->framingCode;
                        if (command->expectedReply != 0) {
                            awaiting_.push_back(std::move(owned));
                            // Watched on either driver, so no reply-expecting command waits for ever.
                            NotifyWatchdogThread();
                            replyWake_.set();
                        }
                    }
                }
            }
        }
        if (refused) {
            KillCommand(std::move(refused));
            sent = true;  // look at the queue again soon
            continue;
        }
        if (!command)
            continue;
        sent = true;
        try {
            SendCommandEx(sendScratch_.data(), static_cast<int>(sendScratch_.size()), framing);
        } catch (const OVRuntimeException& e) {
            cDebug::ReportDebug(cDebug::Device, "Camera::SendThread: %s", e.what());
        }
        if (owned)
            CompleteCommand(std::move(owned), -1);
    }
    for (int i = 0; i < 3; ++i)
        SendCommandEx(nullptr, 0, DEVCTRL_DUMMY_PACKET);
    if (deConfigure_.load() && config_.GetState() == CameraConfigurationData::Valid) {
        int revision = config_.GetHardwareRevision();
        if (revision == 5 || revision == 9)
            SendCommandEx(nullptr, 0, DEVCTRL_CONFIG_FPGA_INIT);
    }
    SendCommandEx(nullptr, 0, DEVCTRL_DUMMY_PACKET);
    return 0;
}

unsigned Camera::ReceiveThread()
{
    idle(stopEvent_, timing_.threadStartMs);
    std::vector<unsigned char> buffer(ReplyBufferSize);
    while (replyRun_.load()) {
        // Both idle waits end as soon as there is something to read for: an
        // opened device, a start and a command that awaits its reply each
        // wake the thread, so it sleeps the closed-device period meanwhile.
        if (!deviceOpen_.load()) {
            idle(stopEvent_, replyWake_, timing_.closedIdleMs);
            continue;
        }
        bool waiting;
        {
            std::lock_guard lock(awaitingLock_);
            waiting = !awaiting_.empty();
        }
        if (!started_.load() && !waiting) {
            idle(stopEvent_, replyWake_, timing_.closedIdleMs);
            continue;
        }
        if (waiting)
            NotifyWatchdogThread();
        std::shared_ptr<usb::OwnDriverHandle> handle;
        {
            std::lock_guard lock(transportLock_);
            handle = readHandle_;
        }
        std::uint32_t got = 0;
        if (handle && handle->read(usb::kOwnReplyPath, buffer, got)) {
            readFailures_.store(0);
            if (got > 0)
                ProcessIncomingCommunication(buffer.data(), got);
            continue;
        }
        if (!replyRun_.load())
            break;
        if (readFailures_.fetch_add(1) + 1 >= 5) {
            cDebug::ReportDebug(cDebug::Device, "Camera::ReceiveThread: five read failures, closing the device");
            // Closed, the camera is lost until a start opens it again: say so.
            const bool wasOpen = deviceOpen_.load();
            CloseUsbDevice();
            readFailures_.store(0);
            if (wasOpen)
                NotifyLost("five reply reads failed");
        } else {
            idle(stopEvent_, timing_.readerIdleMs);
        }
    }
    return 0;
}

unsigned Camera::Receive2Thread()
{
    // Stays stoppable while a configuration read is under way: every wait
    // for the block is a bounded one, and a stop kills the read.
    while (imageRun_.load() && !config_.WaitValidFor(100)) {
    }
    std::vector<unsigned char> buffer(ImageBufferSize);
    // The head of the frame road: it keeps to one processor, where the packet
    // processor and the engine then follow it.
    platform::ProcessorFollower follower;
    idle(stopEvent_, timing_.threadStartMs);
    while (imageRun_.load()) {
        if (!config_.WaitValidFor(timing_.readerIdleMs))
            continue;
        int revision = config_.GetHardwareRevision();
        if (revision != 6 && revision != 7 && revision != 8 && revision != 12) {
            idle(stopEvent_, timing_.imageIdleMs);
            continue;
        }
        // An opened device and a start wake the thread.
        if (!deviceOpen_.load() || !started_.load()) {
            idle(stopEvent_, imageWake_, timing_.closedIdleMs);
            continue;
        }
        std::shared_ptr<usb::OwnDriverHandle> handle;
        {
            std::lock_guard lock(transportLock_);
            handle = readHandle_;
        }
        // The read size follows the camera's hardware interface.
        const std::size_t size = config_.GetHardwareInterface() == 1 ? 0x8000u : buffer.size();
        std::uint32_t got = 0;
        if (handle && handle->read(usb::kOwnImagePath, std::span(buffer.data(), size), got)) {
            follower.settle();
            ProcessIncomingData(buffer.data(), got);
        }
    }
    return 0;
}

// ---- dispatch -------------------------------------------------------------

void Camera::ProcessIncomingCommunication(unsigned char* buffer, unsigned long length)
{
    if (!buffer || length < 2)
        return;  // no reply code to read
    const unsigned code = buffer[1] & 0xF0u;
    std::unique_ptr<Command> matched;
    {
        std::lock_guard lock(awaitingLock_);
        if (!awaiting_.empty() && awaiting_.front()->expectedReply == code) {
            WatchdogEventComplete();
            matched = std::move(awaiting_.front());
            awaiting_.pop_front();
        }
    }
    if (matched)
        sendWake_.set();  // the next command may go
    if (matched) {
        matched->reply = std::make_unique<unsigned char[]>(length);
        std::memcpy(matched->reply.get(), buffer, length);
        matched->replyLength = static_cast<int>(length);
        CompleteCommand(std::move(matched), 1);
        return;
    }
    unsigned armed = rawCode_.load();
    if (armed != 0 && armed == code && buffer[1] > 15 && rawCode_.compare_exchange_strong(armed, 0)) {
        if (DoubleBuffer<RawPacket>* raw = raw_.load()) {
            if (RawPacket* item = raw->TakeFree()) {
                item->bytes.fill(0);
                std::memcpy(item->data(), buffer, std::min<std::size_t>(length, RawPacket::Size));
                raw->Append(item);
            }
        }
        return;
    }
    if (code == 0x10) {
        if (DoubleBuffer<CameraPacket>* packets = packets_.load()) {
            if (CameraPacket* p = packets->TakeFree()) {
                const std::uint8_t blank[CameraPacket::HeaderSize] = {0, 0, 0, 0};
                p->SetHeader(blank);
                p->SetNumBytesInPacket(static_cast<std::uint32_t>(length), clock_);
                std::memcpy(p->GetBuffer(), buffer, length);
                packets->Append(p);
            }
        }
    }
}

void Camera::ProcessIncomingData(unsigned char* buffer, unsigned long length)
{
    if (!buffer || length <= 3)
        return;
    std::uint32_t header = static_cast<std::uint32_t>(buffer[0]) | (static_cast<std::uint32_t>(buffer[1]) << 8) |
                           (static_cast<std::uint32_t>(buffer[2]) << 16) |
                           (static_cast<std::uint32_t>(buffer[3]) << 24);
    if ((header & 0xF800u) != 0 || length == 4)
        return;
    DoubleBuffer<CameraPacket>* packets = packets_.load();
    if (!packets)
        return;
    CameraPacket* p = packets->TakeFree();
    if (!p)
        return;
    p->SetHeader(std::span<const std::uint8_t, CameraPacket::HeaderSize>(buffer, CameraPacket::HeaderSize));
    p->SetNumBytesInPacket(static_cast<std::uint32_t>(length - 4), clock_);
    std::memcpy(p->GetBuffer(), buffer + 4, length - 4);
    packets->Append(p);
}

void Camera::IncomingUSBIOData(int pipe, void* buffer, unsigned long length)
{
    if (length == 0 || !buffer)
        return;
    if (pipe == 1)
        ProcessIncomingCommunication(static_cast<unsigned char*>(buffer), length);
    else if (pipe == 2)
        ProcessIncomingData(static_cast<unsigned char*>(buffer), length);
}

void Camera::CaptureNextPacket(unsigned int replyCode, DoubleBuffer<RawPacket>* raw)
{
    raw_.store(raw);
    rawCode_.store(replyCode & 0xF0u);
}

// ---- watchdog -------------------------------------------------------------

// The watchdog's state moves only by compare-exchange and never leaves
// WatchdogShutdown, so no late notice re-arms a watchdog being shut down.
bool Camera::MoveWatchdogState(int to)
{
    int state = watchdogState_.load();
    while (state != WatchdogShutdown)
        if (watchdogState_.compare_exchange_weak(state, to))
            return true;
    return false;
}

void Camera::NotifyWatchdogThread()
{
    int state = watchdogState_.load();
    while (state != WatchdogArmed) {
        if (state == WatchdogShutdown)
            return;
        if (watchdogState_.compare_exchange_weak(state, WatchdogArmed)) {
            // A reply event left from an earlier command must not end this wait.
            replyEvent_.reset();
            break;
        }
    }
    armEvent_.set();
}

void Camera::WatchdogEventComplete()
{
    MoveWatchdogState(WatchdogReply);
    replyEvent_.set();
}

unsigned Camera::WatchdogThread()
{
    platform::Event* const armed[] = {&armEvent_, &watchdogStop_};
    platform::Event* const answered[] = {&replyEvent_, &watchdogStop_};
    while (watchdogState_.load() != WatchdogShutdown) {
        platform::Event::waitMultiple(armed, false, platform::kInfinite);
        if (watchdogState_.load() == WatchdogArmed) {
            // A shutdown ends the wait for the reply too.
            if (platform::Event::waitMultiple(answered, false, timing_.watchdogMs) != platform::kWaitTimeout)
                continue;
            std::unique_lock lock(awaitingLock_);
            if (watchdogState_.load() != WatchdogArmed)
                continue;
            if (!awaiting_.empty() && !awaiting_.front()->resent) {
                Command* c = awaiting_.front().get();
                c->resent = true;
                cDebug::ReportDebug(cDebug::Device, "Camera watchdog: no reply, sending the command again");
                // Re-armed before the write, so a quick reply is not missed.
                if (!MoveWatchdogState(WatchdogIdle))
                    continue;
                NotifyWatchdogThread();
                try {
                    SendCommandEx(c->payload.get(), c->payloadLength, c->framingCode);
                } catch (const OVRuntimeException&) {
                }
                continue;
            }
            bool lost = !awaiting_.empty();
            lock.unlock();
            WatchdogEventComplete();
            if (lost) {
                // Nothing awaits after a time-out only when a reply raced in; then there is nothing to kill.
                cDebug::ReportDebug(cDebug::Device, "Camera watchdog: reply lost twice, shutting the camera down");
                KillQueues();
                ShutDown();
            }
        }
        FreeFinishedCommands();
    }
    FreeFinishedCommands();
    return 0;
}

void Camera::ShutdownWatchdogThread()
{
    if (!watchdogStarted_)
        return;
    // The state first: whatever the thread wakes from, it sees the shutdown.
    watchdogState_.store(WatchdogShutdown);
    watchdogStop_.set();
    watchdogThread_.join();
    watchdogStop_.reset();
    watchdogStarted_ = false;
}

} // namespace Orvane
