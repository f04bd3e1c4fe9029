// The camera operations: frames per operation and hardware revision, the
// synchronous reads, defaults and multi-camera control.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "camera/camera.h"
#include "camera/debug.h"
#include "camera/exceptions.h"

namespace Orvane {

// What a synchronous read waits on. The command co-owns it, so a reply or
// kill that comes after the caller gave up writes here, not into the
// caller's stack.
struct Camera::Waiter {
    std::atomic<unsigned char> done{0};
    std::atomic<int> result{0};
    std::array<unsigned char, 8> bytes{};
    int count = 0;
    _OV_RESERVED status{};
    // Set with the done flag: the caller wakes at once instead of at its
    // next poll.
    platform::Event finished{platform::Event::Reset::Manual};
};

Camera::Waiter* Camera::WaiterOf(Command* command)
{
    // Only a Transact command carries its waiter as both user data and keep-alive.
    if (command->keepAlive && command->keepAlive.get() == command->userData)
        return static_cast<Waiter*>(command->userData);
    return nullptr;
}

void Camera::Done(Command* command)
{
    if (command->doneFlag)
        command->doneFlag->store(1, std::memory_order_release);
    if (Waiter* w = WaiterOf(command))
        w->finished.set();
}

namespace {

constexpr int kNoLockWrite[2] = {0x00, 0x00};
constexpr int kSafeWrite[2] = {0x01, 0x3C};

} // namespace

void Camera::Sleep(unsigned ms)
{
    clock_.sleepFor(std::chrono::milliseconds(ms));
}

int Camera::Revision()
{
    return config_.GetHardwareRevision();
}

bool Camera::RevisionIn(std::initializer_list<int> revisions)
{
    int r = Revision();
    return std::find(revisions.begin(), revisions.end(), r) != revisions.end();
}

int Camera::Send(std::initializer_list<unsigned char> frame)
{
    SendCommand(frame.begin(), static_cast<int>(frame.size()), 0, 0, nullptr, nullptr, nullptr);
    return 0;
}

bool Camera::Transact(const unsigned char* frame, int length, unsigned char framing, unsigned reply,
                      Command::Callback callback, unsigned pollMs, unsigned maxPolls, std::shared_ptr<Waiter>& waiter)
{
    waiter = std::make_shared<Waiter>();
    Waiter* w = waiter.get();
    SendCommand(frame, length, framing, reply, callback, &w->done, w, waiter);
    pollMs = std::max(1u, pollMs);
    // The polls' total is the wait's bound; the callback ends it at once.
    const unsigned limitMs = maxPolls ? maxPolls * pollMs : std::max(pollMs, timing_.syncReadLimitMs);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (w->done.load(std::memory_order_acquire))
            return w->result.load() != 0;
        // Bounded: on time-out, on the way out, or when the device has
        // closed under a queued command, the command is withdrawn before the
        // caller leaves.
        const bool over = std::chrono::steady_clock::now() >= deadline || (ShuttingDown() && Bounded(pollMs) == 0);
        if ((over || !deviceOpen_.load()) && Withdraw(w))
            return false;
        w->finished.wait(ShuttingDown() ? std::max(1u, Bounded(pollMs)) : pollMs);
    }
}

// ---- callbacks ------------------------------------------------------------

void Camera::NotifyGeneric(Command* command, int result)
{
    if (Waiter* w = WaiterOf(command))
        w->result.store(result);
    Done(command);
}

void Camera::NotifyReadLeds(Command* command, int result)
{
    ledState_.store(ledCache_.load());
    if (Waiter* w = WaiterOf(command)) {
        w->bytes[0] = ledState_.load();
        w->result.store(result);
    }
    Done(command);
}

void Camera::NotifyCameraStatus(Command* command, int result)
{
    // A short reply is taken as no reply: a zero record, as for a kill.
    _OV_RESERVED record{};
    bool ok = result == 1 && command->reply && command->replyLength >= 7;
    if (ok)
        std::memcpy(&record, command->reply.get() + 2, sizeof record);
    {
        std::lock_guard lock(statusLock_);
        lastStatus_ = record;
    }
    if (Waiter* w = WaiterOf(command)) {
        w->status = record;
        w->result.store(ok ? 1 : 0);
    }
    Done(command);
}

void Camera::NotifyRegRead(Command* command, int result)
{
    if (Waiter* w = WaiterOf(command)) {
        w->bytes.fill(0);
        w->count = 0;
        if (result == 1 && command->reply) {
            w->count = std::min<int>(command->replyLength, static_cast<int>(w->bytes.size()));
            std::memcpy(w->bytes.data(), command->reply.get(), static_cast<std::size_t>(w->count));
        }
        w->result.store(result == 1 ? 1 : 0);
    }
    Done(command);
}

void Camera::NotifyROMConfig(Command* command, int result)
{
    // The block is read aside and published last, so that whoever waited
    // for it finds the window, the blocking mask and the threshold made.
    CameraConfigurationData read;
    if (result == 1 && command->reply) {
        try {
            read.ParseReply(std::span<const std::uint8_t>(command->reply.get(),
                                                          static_cast<std::size_t>(command->replyLength)));
        } catch (const OVRuntimeException& e) {
            cDebug::ReportDebug(cDebug::Device, "Camera: configuration data refused: %s", e.what());
        }
    }
    if (read.GetState() == CameraConfigurationData::Valid) {
        const int revision = read.GetHardwareRevision();
        const bool large = revision == 7 || revision == 8 || revision == 9 || revision == 12;
        windowX_.store(large ? 1 : 98);
        windowXEnd_.store(large ? 640 : 450);
        windowY_.store(large ? 1 : 14);
        windowYEnd_.store(large ? 480 : 302);
        CalculateActualWindowSize();
        InitializeBlocking(revision);
        threshold_.store(read.GetDefaultThreshold());
        config_ = read;
        config_.SetValidState();
        if (driver_ == USBIO)
            StartUSBIOImageReader();
    } else {
        config_.SetInvalidState();
    }
    PublishConfiguration();
    if (Waiter* w = WaiterOf(command))
        w->result.store(result);
    Done(command);
}

void Camera::SetConfigurationMirror(CameraConfigurationData* mirror)
{
    std::lock_guard lock(mirrorLock_);
    mirror_ = mirror;
    if (mirror_ != nullptr && config_.GetState() != CameraConfigurationData::Waiting) {
        *mirror_ = config_;
        config_.GetState() == CameraConfigurationData::Valid ? mirror_->SetValidState() : mirror_->SetInvalidState();
    }
}

void Camera::PublishConfiguration()
{
    std::lock_guard lock(mirrorLock_);
    if (mirror_ == nullptr)
        return;
    if (config_.GetState() == CameraConfigurationData::Valid) {
        *mirror_ = config_;
        mirror_->SetValidState();
    } else {
        mirror_->SetInvalidState();
    }
}

void Camera::CalculateActualWindowSize()
{
    int k = 0;
    int d = greyDecimation_.load();
    if (videoTypeBit_.load() & 1)
        k = d == 2 ? 1 : d == 4 ? 2 : 0;
    int xs = windowX_.load(), xe = windowXEnd_.load(), ys = windowY_.load(), ye = windowYEnd_.load();
    if (k) {
        actualLeft_.store(xs >> k);
        actualTop_.store(ys >> k);
        actualRight_.store(((xe + 1) >> k) - 1);
        actualBottom_.store(((ye + 1) >> k) - 1);
    } else {
        actualLeft_.store(xs);
        actualTop_.store(ys);
        actualRight_.store(xe);
        actualBottom_.store(ye);
    }
}

// ---- blocking helpers -----------------------------------------------------

bool Camera::SendCommandBlocking(const unsigned char* payload, int length)
{
    std::shared_ptr<Waiter> w;
    return Transact(payload, length, 0, 0, &Camera::NotifyGeneric, timing_.blockingPollMs, 0, w);
}

bool Camera::Sync()
{
    return SendCommandBlocking(nullptr, 0);
}

unsigned char Camera::ReadLeds()
{
    std::shared_ptr<Waiter> w;
    Transact(nullptr, 0, 0, 0, &Camera::NotifyReadLeds, timing_.blockingPollMs, 0, w);
    return ledState_.load();
}

bool Camera::ReadCameraStatus(_OV_RESERVED* status)
{
    std::shared_ptr<Waiter> w;
    bool ok = Transact(nullptr, 0, DEVCTRL_STATUS_GET, 0x20, &Camera::NotifyCameraStatus, timing_.statusPollMs,
                       timing_.statusPolls, w);
    if (!w->done.load(std::memory_order_acquire)) {
        // Given up: the command is withdrawn; the caller's record stays as it was.
        CloseUsbDevice();
        return false;
    }
    if (status)
        *status = w->status;
    return ok;
}

_OV_RESERVED Camera::GetLastStatus() const
{
    std::lock_guard lock(statusLock_);
    return lastStatus_;
}

int Camera::ReadCameraData()
{
    config_.SetWaitingState();
    const unsigned char frame[] = {DEVCTRL_READ_CONFDATA};
    SendCommand(frame, 1, 0, CameraConfigurationData::ReplyCode, &Camera::NotifyROMConfig, nullptr, nullptr);
    return 0;
}

void Camera::GetCameraData(CameraConfigurationData* out)
{
    ReadCameraData();
    if (out)
        *out = config_;
}

// ---- LEDs and simple frames -----------------------------------------------

int Camera::LedRaw(unsigned char value, unsigned char mask)
{
    return Send({DEVCTRL_LED_RAW, value, mask});
}

int Camera::TurnLedOn() { return LedRaw(0x80, 0x80); }
int Camera::TurnLedOff() { return LedRaw(0x00, 0x80); }
int Camera::StatusOn() { return LedRaw(0x20, 0x20); }
int Camera::StatusOff() { return LedRaw(0x00, 0x20); }
int Camera::StatusCaseOn() { return LedRaw(0x40, 0x40); }
int Camera::StatusCaseOff() { return LedRaw(0x00, 0x40); }
int Camera::StatusRedOn() { return LedRaw(0x10, 0x10); }
int Camera::StatusRedOff() { return LedRaw(0x00, 0x10); }

int Camera::SetIRLEDBrightness(int b)
{
    return Send({DEVCTRL_LED_RAW, 0x00, 0x02, 0x00, static_cast<unsigned char>(b)});
}

int Camera::TurnNumericOn(int n)
{
    return Send({DEVCTRL_LED_NUMERIC, 0x01, static_cast<unsigned char>(n)});
}

int Camera::TurnNumericOff()
{
    return Send({DEVCTRL_LED_NUMERIC, 0x02, 0x00});
}

int Camera::ShutDown()
{
    return Send({DEVCTRL_DUMMY_PACKET});
}

int Camera::ResetFiFo()
{
    if (config_.GetState() == CameraConfigurationData::Valid && Revision() == 9)
        Sleep(50);
    return Send({DEVCTRL_FLUSH_FIFO});
}

int Camera::TurnVideoOn() { return Send({DEVCTRL_SET_VIDEO_SUPPRESSION, 0x00}); }
int Camera::TurnVideoOff() { return Send({DEVCTRL_SET_VIDEO_SUPPRESSION, 0x01}); }

int Camera::SetCameraOptions(int threshold, bool invert, bool pulse)
{
    threshold_.store(threshold & 0xFF);
    invert_.store(invert);
    pulse_.store(pulse);
    return Send({DEVCTRL_CONFIG_CPLD_OPTIONS, static_cast<unsigned char>(threshold), static_cast<unsigned char>(invert ? 0 : 1),
                 static_cast<unsigned char>(pulse ? 1 : 0)});
}

int Camera::InitFpgaForConfig() { return Send({DEVCTRL_CONFIG_FPGA_INIT}); }
int Camera::SendFpgaRerunConfigScript() { return Send({DEVCTRL_RELOAD_CONFDATA}); }

int Camera::Unlock(unsigned char lock)
{
    // The code is put together here rather than kept as one constant.
    unsigned char code[3];
    code[0] = UnlockByte0;
    code[1] = UnlockByte1;
    code[2] = UnlockByte2;
    return Send({DEVCTRL_CONFIG_SETLOCK, code[0], code[1], code[2], lock});
}

// ---- registers, I2C, EEPROM -----------------------------------------------

int Camera::FPGARegWrite(int reg, int bank, unsigned value)
{
    return Send({DEVCTRL_CONFIG_FPGA_REG, static_cast<unsigned char>(reg), static_cast<unsigned char>(bank),
                 static_cast<unsigned char>((value >> 8) & 0xFF), static_cast<unsigned char>(value & 0xFF)});
}

bool Camera::FPGARegRead(int reg, unsigned* out)
{
    const unsigned char frame[] = {DEVCTRL_CONFIG_FPGA_REG_READ, static_cast<unsigned char>(reg)};
    std::shared_ptr<Waiter> w;
    bool ok = Transact(frame, 2, 0, 0x20, &Camera::NotifyRegRead, timing_.registerPollMs, 0, w) && w->count >= 6;
    if (out)
        *out = ok ? (static_cast<unsigned>(w->bytes[4]) << 8) | w->bytes[5] : 0;
    return ok;
}

int Camera::WriteI2CData(int dev, int reg, int data)
{
    SetI2CAddress(dev);
    SetI2CSubAddress(reg);
    SetI2CData(data);
    return WriteI2CData();
}

int Camera::WriteI2CData()
{
    return Send({DEVCTRL_I2C_WRITE, static_cast<unsigned char>(GetI2CAddress()),
                 static_cast<unsigned char>(GetI2CSubAddress()), static_cast<unsigned char>(GetI2CData())});
}

int Camera::WriteI2CDataNoLock()
{
    return Send({DEVCTRL_I2C_WRITE_NOLOCK, static_cast<unsigned char>(GetI2CAddress()),
                 static_cast<unsigned char>(GetI2CSubAddress()), static_cast<unsigned char>(GetI2CData()),
                 kNoLockWrite[0], kNoLockWrite[1]});
}

int Camera::WriteI2CDataNoLockSafe()
{
    return Send({DEVCTRL_I2C_WRITE_NOLOCK, static_cast<unsigned char>(GetI2CAddress()),
                 static_cast<unsigned char>(GetI2CSubAddress()), static_cast<unsigned char>(GetI2CData()),
                 kSafeWrite[0], kSafeWrite[1]});
}

int Camera::WriteI2CDataU16NoLockSafe()
{
    return Send({DEVCTRL_I2C_WRITE_U16_NOLOCK, static_cast<unsigned char>(GetI2CAddress()),
                 static_cast<unsigned char>(GetI2CSubAddress()), static_cast<unsigned char>(GetI2CData()),
                 static_cast<unsigned char>(GetI2CData2()), 0x3C});
}

namespace {

bool i2cValue(bool ok, int count, const std::array<unsigned char, 8>& b, unsigned* out)
{
    ok = ok && count >= 5;
    if (out)
        *out = ok ? b[4] : 0;
    return ok;
}

} // namespace

bool Camera::ReadI2CData(int dev, int reg, unsigned* out)
{
    const unsigned char frame[] = {DEVCTRL_I2C_READ, static_cast<unsigned char>(dev), static_cast<unsigned char>(reg)};
    std::shared_ptr<Waiter> w;
    bool ok = Transact(frame, 3, 0, 0x60, &Camera::NotifyRegRead, timing_.registerPollMs, 0, w);
    return i2cValue(ok, w->count, w->bytes, out);
}

bool Camera::ReadI2CDataNoLock(int dev, int reg, unsigned* out)
{
    const unsigned char frame[] = {DEVCTRL_I2C_READ_NOLOCK, static_cast<unsigned char>(dev),
                                   static_cast<unsigned char>(reg), 0x00, 0x00};
    std::shared_ptr<Waiter> w;
    bool ok = Transact(frame, 5, 0, 0x60, &Camera::NotifyRegRead, timing_.registerPollMs, 0, w);
    return i2cValue(ok, w->count, w->bytes, out);
}

bool Camera::ReadI2CDataNoLockSafe(int dev, int reg, unsigned* out)
{
    const unsigned char frame[] = {DEVCTRL_I2C_READ_NOLOCK, static_cast<unsigned char>(dev),
                                   static_cast<unsigned char>(reg), 0x01, 0x3C};
    std::shared_ptr<Waiter> w;
    bool ok = Transact(frame, 5, 0, 0x60, &Camera::NotifyRegRead, timing_.registerPollMs, 0, w);
    return i2cValue(ok, w->count, w->bytes, out);
}

bool Camera::ReadI2CDataU16NoLockSafe(int dev, int reg, unsigned* out)
{
    const unsigned char frame[] = {DEVCTRL_I2C_READ_U16_NOLOCK, static_cast<unsigned char>(dev),
                                   static_cast<unsigned char>(reg), 0x14};
    std::shared_ptr<Waiter> w;
    // The 16-bit value comes in reply bytes 4-5, high byte first.
    bool ok = Transact(frame, 4, 0, 0x20, &Camera::NotifyRegRead, timing_.registerPollMs, 0, w) && w->count >= 6;
    if (out)
        *out = ok ? (static_cast<unsigned>(w->bytes[4]) << 8) | w->bytes[5] : 0;
    return ok;
}

int Camera::WriteEEPROM16Data(int high, int low, int data)
{
    SetEEPROM16HAddressHigh(high);
    SetEEPROM16HAddressLow(low);
    SetEEPROM16Data(data);
    return WriteEEPROM16Data();
}

int Camera::WriteEEPROM16Data()
{
    return Send({DEVCTRL_EEPROM_WRITE_16, static_cast<unsigned char>(GetEEPROM16AddressHigh()),
                 static_cast<unsigned char>(GetEEPROM16AddressLow()), static_cast<unsigned char>(GetEEPROM16Data())});
}

int Camera::ReadEEPROM16Data(int high, int low, int data)
{
    SetEEPROM16HAddressHigh(high);
    SetEEPROM16HAddressLow(low);
    SetEEPROM16Data(data);
    return ReadEEPROM16Data();
}

int Camera::ReadEEPROM16Data()
{
    return Send({DEVCTRL_EEPROM_READ_BULK_16, static_cast<unsigned char>(GetEEPROM16AddressHigh()),
                 static_cast<unsigned char>(GetEEPROM16AddressLow())});
}

int Camera::RegRead(int reg)
{
    unsigned v = 0;
    return FPGARegRead(reg, &v) ? static_cast<int>(v) : -1;
}

int Camera::I2cRead(int dev, int reg, bool safe)
{
    unsigned v = 0;
    bool ok = safe ? ReadI2CDataNoLockSafe(dev, reg, &v) : ReadI2CDataNoLock(dev, reg, &v);
    return ok ? static_cast<int>(v) : -1;
}

// ---- revision-checked settings --------------------------------------------

namespace {

// Frames of the I2C writes the settings make, with explicit bytes so that
// concurrent callers never share the staged bytes.
struct I2cFrame {
    static std::array<unsigned char, 6> noLock(int dev, int reg, int data)
    {
        return {Camera::DEVCTRL_I2C_WRITE_NOLOCK, static_cast<unsigned char>(dev), static_cast<unsigned char>(reg),
                static_cast<unsigned char>(data), 0x00, 0x00};
    }
    static std::array<unsigned char, 6> safe(int dev, int reg, int data)
    {
        return {Camera::DEVCTRL_I2C_WRITE_NOLOCK, static_cast<unsigned char>(dev), static_cast<unsigned char>(reg),
                static_cast<unsigned char>(data), 0x01, 0x3C};
    }
};

} // namespace

int Camera::SetVideoType(int v, bool)
{
    if (!RevisionIn({6, 7, 8, 9, 12}))
        return -1;
    int revision = Revision();
    TurnVideoOff();
    if (revision == 9 && v == 1)
        v = 3;
    FPGARegWrite(3, revision == 9 ? 16 : 15, static_cast<unsigned>(v));
    videoType_.store(v);
    videoTypeBit_.store(v & 1);
    CalculateActualWindowSize();
    ResetFiFo();
    if (videoWanted_.load())
        TurnVideoOn();
    return 0;
}

int Camera::SetExposure(int x, bool)
{
    auto send = [this](const std::array<unsigned char, 6>& f) {
        SendCommand(f.data(), static_cast<int>(f.size()), 0, 0, nullptr, nullptr, nullptr);
    };
    switch (Revision()) {
    case 6:
        send(I2cFrame::noLock(64, 28, x & 0xFF));
        send(I2cFrame::noLock(64, 29, (x >> 8) & 0xFF));
        send(I2cFrame::noLock(64, 0, ((frameRateCode_.load() << 3) & 0xFF) | 0x84));
        return 0;
    case 7:
    case 8:
        send(I2cFrame::safe(144, 11, (x >> 8) & 0xFF));
        send(I2cFrame::safe(144, 240, x & 0xFF));
        return 0;
    case 9:
        send(I2cFrame::noLock(66, 8, (x >> 8) & 0xFF));
        send(I2cFrame::noLock(66, 16, x & 0xFF));
        return 0;
    case 12:
        return Send({DEVCTRL_I2C_WRITE_U16_NOLOCK, 144, 11, static_cast<unsigned char>((x >> 8) & 0xFF),
                     static_cast<unsigned char>(x & 0xFF), 0x3C});
    default:
        return -1;
    }
}

int Camera::GetExposure(bool)
{
    int high = -1, low = -1;
    switch (Revision()) {
    case 6:
        low = I2cRead(64, 28, false);
        high = I2cRead(64, 29, false);
        break;
    case 7:
    case 8:
        high = I2cRead(144, 11, true);
        low = I2cRead(144, 240, true);
        break;
    case 9:
        high = I2cRead(66, 8, true);
        low = I2cRead(66, 16, true);
        break;
    case 12: {
        unsigned v = 0;
        return ReadI2CDataU16NoLockSafe(144, 11, &v) ? static_cast<int>(v) : -1;
    }
    default:
        return -1;
    }
    if (high < 0 || low < 0)
        return -1;
    return (high << 8) | low;
}

int Camera::SetFrameRate(int f, bool)
{
    switch (Revision()) {
    case 9:
        if (f > 100)
            return 0;
        frameRateCode_.store(f > 50 ? 1 : f >= 26 ? 2 : 3);
        return 0;
    case 7:
    case 8:
    case 12:
        if (f <= 100) {
            int code = f > 50 ? 100 : f < 26 ? 25 : 50;
            frameRateCode_.store(code);
            FPGARegWrite(32, 16, static_cast<unsigned>(code));
        }
        return 0;
    case 6: {
        if (f > 100 || f < 0)
            return 0;  // outside the code table: ignored
        int code = f >= 67 ? 0 : f >= 51 ? 1 : f >= 41 ? 2 : f >= 34 ? 3 : f >= 21 ? 4 : f >= 17 ? 5
                 : f >= 14 ? 6 : f >= 11 ? 7 : f >= 7 ? 8 : f >= 4 ? 9 : 10;
        frameRateCode_.store(code);
        auto frame = I2cFrame::noLock(64, 0, ((code | 0x10) << 3) & 0xFF);
        SendCommand(frame.data(), static_cast<int>(frame.size()), 0, 0, nullptr, nullptr, nullptr);
        return 0;
    }
    default:
        return -1;
    }
}

int Camera::GetFrameRate(bool)
{
    switch (Revision()) {
    case 6: {
        int v = I2cRead(64, 0, false);
        if (v < 0)
            return -1;
        int code = (v >> 3) & 0xF;
        frameRateCode_.store(code);
        static constexpr int rates[] = {100, 66, 50, 40, 33, 20, 16, 13, 10, 6, 3};
        return code <= 10 ? rates[code] : -1;
    }
    case 7:
    case 8:
    case 12:
        return RegRead(32);
    default:
        return -1;
    }
}

int Camera::SetIntensity(int i, bool)
{
    switch (Revision()) {
    case 6:
        if (i < 1 || i > 12)
            return -1;
        return FPGARegWrite(4, 15, static_cast<unsigned>(i));
    case 7:
    case 8:
    case 12:
        if (i < 1 || i > 15)
            return -1;
        return FPGARegWrite(4, 15, static_cast<unsigned>(i));
    case 9:
        if (i < 1 || i > 15)
            return -1;
        return SetIRLEDBrightness(i << 4);
    default:
        return -1;
    }
}

int Camera::GetIntensity(bool)
{
    switch (Revision()) {
    case 9: return 10;
    case 6:
    case 7:
    case 8:
    case 12: return RegRead(4);
    default: return -1;
    }
}

int Camera::SetResetFrameCount()
{
    if (!RevisionIn({6, 7, 8, 12}))
        return -1;
    return FPGARegWrite(6, 15, 1);
}

int Camera::SetCameraId(int id, bool)
{
    if (!RevisionIn({6, 7, 8, 12}))
        return -1;
    if (id >= 0 && id < 100)
        FPGARegWrite(7, 15, static_cast<unsigned>(id));
    return 0;
}

int Camera::SetMinimumSegmentLength(int n, bool)
{
    if (!RevisionIn({6, 7, 8, 9, 12}))
        return -1;
    return Revision() == 9 ? FPGARegWrite(6, 16, static_cast<unsigned>(n)) : FPGARegWrite(14, 15, static_cast<unsigned>(n));
}

int Camera::SetMaximumSegmentLength(int n, bool)
{
    if (!RevisionIn({6, 7, 8, 9, 12}))
        return -1;
    return Revision() == 9 ? FPGARegWrite(7, 16, static_cast<unsigned>(n)) : FPGARegWrite(15, 15, static_cast<unsigned>(n));
}

namespace {

int setExtent(Camera& c, bool applies, int reg, std::atomic<int>& store, int v)
{
    if (!applies)
        return -1;
    c.FPGARegWrite(reg, 15, static_cast<unsigned>(v));
    store.store(v);
    return 0;
}

} // namespace

int Camera::SetWindowExtentsX(int v, bool)
{
    int r = setExtent(*this, RevisionIn({6, 7, 8, 12}), 8, windowX_, v);
    if (r == 0) {
        CalculateActualWindowSize();
        ClearFrameBuffer();
    }
    return r;
}

int Camera::SetWindowExtentsXEnd(int v, bool)
{
    int r = setExtent(*this, RevisionIn({6, 7, 8, 12}), 9, windowXEnd_, v);
    if (r == 0) {
        CalculateActualWindowSize();
        ClearFrameBuffer();
    }
    return r;
}

int Camera::SetWindowExtentsY(int v, bool)
{
    int r = setExtent(*this, RevisionIn({6, 7, 8, 12}), 10, windowY_, v);
    if (r == 0) {
        CalculateActualWindowSize();
        ClearFrameBuffer();
    }
    return r;
}

int Camera::SetWindowExtentsYEnd(int v, bool)
{
    int r = setExtent(*this, RevisionIn({6, 7, 8, 12}), 11, windowYEnd_, v);
    if (r == 0) {
        CalculateActualWindowSize();
        ClearFrameBuffer();
    }
    return r;
}

int Camera::SetFrameDecimation(int n, bool)
{
    if (!RevisionIn({6, 7, 8, 12}))
        return -1;
    return FPGARegWrite(12, 15, static_cast<unsigned>(n));
}

int Camera::GetCameraId(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(7) : -1; }

int Camera::GetVideoType(bool)
{
    if (!RevisionIn({6, 7, 8, 12}))
        return -1;
    int v = RegRead(3);
    if (v < 0)
        return -1;
    videoType_.store(v);
    videoTypeBit_.store(v & 1);
    return v & 1;
}

int Camera::GetFrameDecimation(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(12) : -1; }
int Camera::GetMinimumSegmentLength(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(14) : -1; }
int Camera::GetMaximumSegmentLength(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(15) : -1; }
int Camera::GetWindowExtentsX(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(8) : -1; }
int Camera::GetWindowExtentsXEnd(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(9) : -1; }
int Camera::GetWindowExtentsY(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(10) : -1; }
int Camera::GetWindowExtentsYEnd(bool) { return RevisionIn({6, 7, 8, 12}) ? RegRead(11) : -1; }

// ---- unchecked settings ---------------------------------------------------

void Camera::SensorClockForceEnable(bool on)
{
    if (!RevisionIn({7, 12}))
        return;
    unsigned char c = controlRegister_.load();
    c = static_cast<unsigned char>(on ? (c | 0x01) : (c & ~0x01));
    controlRegister_.store(c);
    FPGARegWrite(20, 15, c);
}

void Camera::SetSyncMode(int m)
{
    if (!RevisionIn({7, 12}))
        return;
    unsigned char c = static_cast<unsigned char>((controlRegister_.load() & ~0x06) | ((m << 1) & 0x06));
    controlRegister_.store(c);
    FPGARegWrite(20, 15, c);
}

int Camera::GetSyncMode() const
{
    return (controlRegister_.load() >> 1) & 3;
}

void Camera::TriggerSnapshot()
{
    FPGARegWrite(20, 15, controlRegister_.load() | 0x08u);
}

void Camera::ResetSnapshotID()
{
    FPGARegWrite(20, 15, controlRegister_.load() | 0x10u);
}

void Camera::SetShutterDelay(int d)
{
    if (!RevisionIn({7, 12}))
        return;
    shutterDelay_.store(d);
    FPGARegWrite(19, 15, static_cast<unsigned>(d));
}

void Camera::SetGrayscaleDecimation(int d)
{
    if (!RevisionIn({7, 8, 12}))
        return;
    FPGARegWrite(24, 15, static_cast<unsigned>(d));
    greyDecimation_.store(d);
    CalculateActualWindowSize();
}

// ---- defaults -------------------------------------------------------------

int Camera::GetFrameRateDefault() { return RevisionIn({6, 7, 8, 9, 12}) ? 100 : -1; }

int Camera::GetExposureDefault()
{
    switch (Revision()) {
    case 6: return 399;
    case 7: return 55;
    case 8: return config_.GetHardwareOptions() == 4 ? 50 : 30;
    case 9: return 479;
    case 12: return 26;
    default: return -1;
    }
}

int Camera::GetIntensityDefault()
{
    switch (Revision()) {
    case 6: return 12;
    case 7:
    case 8:
    case 12: return 15;
    case 9: return 10;
    default: return -1;
    }
}

int Camera::GetCameraIdDefault() { return RevisionIn({6, 7, 8, 12}) ? 0 : -1; }
int Camera::GetFrameDecimationDefault() { return RevisionIn({6, 7, 8, 12}) ? 0 : -1; }
int Camera::GetMinimumSegmentLengthDefault() { return RevisionIn({6, 7, 8, 9, 12}) ? 0 : -1; }
int Camera::GetVideoTypeDefault() { return RevisionIn({6, 7, 8, 9, 12}) ? 0 : -1; }
int Camera::GetMaximumSegmentLengthDefault() { return RevisionIn({6, 7, 8, 9, 12}) ? 511 : -1; }
int Camera::GetWindowExtentsXDefault() { return RevisionIn({6, 7, 8, 12}) ? 74 : -1; }
int Camera::GetWindowExtentsXEndDefault() { return RevisionIn({6, 7, 8, 12}) ? 427 : -1; }
int Camera::GetWindowExtentsYDefault() { return RevisionIn({6, 7, 8, 12}) ? 11 : -1; }
int Camera::GetWindowExtentsYEndDefault() { return RevisionIn({6, 7, 8, 12}) ? 299 : -1; }

bool Camera::ValidDaxtel6() { return Revision() == 6; }
bool Camera::ValidDaxtel7() { return Revision() == 7; }
bool Camera::ValidRev8() { return Revision() == 8; }
bool Camera::ValidRev9() { return Revision() == 9; }
bool Camera::ValidRev12() { return Revision() == 12; }
bool Camera::ValidRev13() { return Revision() == 13; }

// ---- multi-camera ---------------------------------------------------------

template <class F>
void Camera::ForEachCamera(F&& f)
{
    for (auto& [number, camera] : table_)
        f(*camera);
}

void Camera::SetMultiCamera(bool)
{
    std::lock_guard lock(m_MuliCameraLock);
    ForEachCamera([](Camera& c) { c.FPGARegWrite(20, 15, 0); });
}

int Camera::QueryMaster(int)
{
    // The table is walked under its lock, so no camera leaves it meanwhile.
    std::lock_guard lock(m_MuliCameraLock);
    unsigned master = 0;
    if (!FPGARegRead(1, &master) || master == 0)
        return 0;
    ForEachCamera([this](Camera& c) {
        if (&c != this) {
            c.FPGARegWrite(20, 15, 1);
            c.FPGARegWrite(16, 15, 1);
        }
    });
    FPGARegWrite(16, 15, 0);
    Sleep(100);
    FPGARegWrite(6, 15, 0);
    if (Revision() == 7)
        FPGARegWrite(19, 16, 511);
    ForEachCamera([this](Camera& c) {
        if (&c != this)
            c.FPGARegWrite(6, 15, 1);
    });
    Sleep(100);
    FPGARegWrite(16, 15, 1);
    return 1;
}


// ---- thread procedures ----------------------------------------------------

namespace {

template <class F>
unsigned runOnce(void* camera, unsigned code, F&& f)
{
    try {
        f(*static_cast<Camera*>(camera));
        return code;
    } catch (const OVRuntimeException&) {
        return code - 1;
    }
}

} // namespace

unsigned Camera::LedOnThreadProc(void* c) { return runOnce(c, 21, [](Camera& k) { k.TurnLedOn(); }); }
unsigned Camera::LedOffThreadProc(void* c) { return runOnce(c, 23, [](Camera& k) { k.TurnLedOff(); }); }
unsigned Camera::ShutDownThreadProc(void* c) { return runOnce(c, 25, [](Camera& k) { k.ShutDown(); }); }
unsigned Camera::StatusOnThreadProc(void* c) { return runOnce(c, 27, [](Camera& k) { k.StatusOn(); }); }
unsigned Camera::StatusOffThreadProc(void* c) { return runOnce(c, 29, [](Camera& k) { k.StatusOff(); }); }
unsigned Camera::StatusCaseOnThreadProc(void* c) { return runOnce(c, 31, [](Camera& k) { k.StatusCaseOn(); }); }
unsigned Camera::StatusCaseOffThreadProc(void* c) { return runOnce(c, 33, [](Camera& k) { k.StatusCaseOff(); }); }
unsigned Camera::StatusRedOnThreadProc(void* c) { return runOnce(c, 35, [](Camera& k) { k.StatusRedOn(); }); }
unsigned Camera::StatusRedOffThreadProc(void* c) { return runOnce(c, 37, [](Camera& k) { k.StatusRedOff(); }); }
unsigned Camera::ResetFiFoThreadProc(void* c) { return runOnce(c, 39, [](Camera& k) { k.ResetFiFo(); }); }
unsigned Camera::VideoOnThreadProc(void* c) { return runOnce(c, 41, [](Camera& k) { k.TurnVideoOn(); }); }
unsigned Camera::VideoOffThreadProc(void* c) { return runOnce(c, 43, [](Camera& k) { k.TurnVideoOff(); }); }
unsigned Camera::SetCameraOptionsThreadProc(void* c)
{
    return runOnce(c, 47, [](Camera& k) { k.SetCameraOptions(k.GetThresholdValue(), k.InvertVideo(), k.PulseLed()); });
}
unsigned Camera::WriteI2CDataThreadProc(void* c) { return runOnce(c, 49, [](Camera& k) { k.WriteI2CData(); }); }
unsigned Camera::WriteEEPROM16DataThreadProc(void* c)
{
    return runOnce(c, 53, [](Camera& k) { k.WriteEEPROM16Data(); });
}
unsigned Camera::ReadEEPROM16DataThreadProc(void* c)
{
    return runOnce(c, 55, [](Camera& k) { k.ReadEEPROM16Data(); });
}

// ---- drawing --------------------------------------------------------------

RasterSettings Camera::GetRasterSettings() const
{
    RasterSettings settings;
    settings.colourScheme = rasterColor_.load();
    settings.normalColour = static_cast<std::uint32_t>(nonTrackedColor_.load());
    settings.highlightColour = static_cast<std::uint32_t>(trackedColor_.load());
    settings.processingMode = videoType_.load();
    settings.displayOptions = textOverlay_.load();
    return settings;
}

void Camera::RasterizeFrame(Frame& frame, BitMap& bitmap) const
{
    Orvane::RasterizeFrame(frame, bitmap, GetRasterSettings());
}

void Camera::RasterizeFrame(Frame& frame, int width, int height, int bytesPerLine, int depth,
                            std::uint8_t* bytes) const
{
    if (bytes == nullptr || width <= 0 || height <= 0)
        return;
    BitMap bitmap;
    bitmap.Initialize(width, height, bytesPerLine, BitMap::DepthFor(depth), bytes, false);
    Orvane::RasterizeFrame(frame, bitmap, GetRasterSettings());
}

} // namespace Orvane
