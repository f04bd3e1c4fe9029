#include "camera/camera_system_facade.h"

#include "camera/camera_manager.h"
#include "camera/exceptions.h"
#include "camera/usbio.h"

#include <chrono>
#include <string>
#include <utility>

namespace Orvane {

namespace {

bool IsByte(int v)
{
    return v >= 0 && v <= 0xFF;
}

} // namespace

// The green and red commands the base class sends, and the LEDs a
// configuration script switches, both carried to the camera's commands. The script's LEDs go through the system, so it remembers them.
class CameraSystemFacade::DevicePort final : public StatusLightPort, public CameraLedControl {
public:
    explicit DevicePort(CameraSystemFacade& system) : system_(system) {}

    void StatusOn() override { Send(&CameraCommands::StatusOn); }
    void StatusOff() override { Send(&CameraCommands::StatusOff); }
    void StatusRedOn() override { Send(&CameraCommands::StatusRedOn); }
    void StatusRedOff() override { Send(&CameraCommands::StatusRedOff); }

    bool SetIlluminationLeds(bool on) override
    {
        on ? system_.IlluminationLedOn() : system_.IlluminationLedOff();
        return system_.Commands() != nullptr;
    }
    bool SetGreenStatus(bool on) override
    {
        on ? system_.StatusGreenOn() : system_.StatusGreenOff();
        return system_.Commands() != nullptr;
    }
    bool SetRedStatus(bool on) override
    {
        on ? system_.StatusRedOn() : system_.StatusRedOff();
        return system_.Commands() != nullptr;
    }
    bool SetCaseLight(bool on) override
    {
        on ? system_.StatusCaseOn() : system_.StatusCaseOff();
        return system_.Commands() != nullptr;
    }
    bool Confirm(unsigned expectedBits) override
    {
        CameraCommands* camera = system_.Commands();
        return camera != nullptr && (camera->ReadLeds() & 0xF0u) == expectedBits;
    }

private:
    void Send(int (CameraCommands::*command)())
    {
        if (CameraCommands* camera = system_.Commands())
            (camera->*command)();
    }

    CameraSystemFacade& system_;
};

// The camera's generic-driver devices are opened through the camera manager
// (the present devices it knows), or by their paths when there is none.
class CameraSystemFacade::ManagerLocator final : public CameraDeviceLocator {
public:
    explicit ManagerLocator(CameraSystemFacade& system) : system_(system) {}

    bool GetCameraDevice(std::string_view path, CUsbIo& io) override
    {
        if (CameraManager* manager = system_.KnownManager())
            return manager->GetCameraDevice(path, io);
        return io.OpenPath(std::string(path)) == 0;
    }
    bool BindPipe(std::string_view path, std::uint8_t endpoint, CUsbIoThread& thread) override
    {
        if (CameraManager* manager = system_.KnownManager())
            return manager->BindPipe(path, endpoint, thread);
        return thread.AttachToPath(std::string(path), endpoint) == 0;
    }

private:
    CameraSystemFacade& system_;
};

CameraSystemFacade::CameraSystemFacade(int cameraNumber, SystemCamera& camera)
    : CameraSystemFacade(cameraNumber, camera, Options{})
{
}

namespace {

std::unique_ptr<SystemCamera> MadeCamera(const CameraSystemFacade::CameraFactory& make, CameraSystem& system)
{
    std::unique_ptr<SystemCamera> camera = make ? make(system) : nullptr;
    if (!camera)
        throw OVRuntimeException(std::string("CameraSystem - no camera could be made."));
    return camera;
}

} // namespace

CameraSystemFacade::CameraSystemFacade(int cameraNumber, const CameraFactory& makeCamera, Options options)
    : CameraSystem(cameraNumber), ownedCamera_(MadeCamera(makeCamera, *this)), camera_(*ownedCamera_),
      port_(std::make_unique<DevicePort>(*this)), locator_(std::make_unique<ManagerLocator>(*this)),
      options_(std::move(options))
{
    Wire();
}

CameraSystemFacade::CameraSystemFacade(int cameraNumber, SystemCamera& camera, Options options)
    : CameraSystem(cameraNumber), camera_(camera), port_(std::make_unique<DevicePort>(*this)),
      locator_(std::make_unique<ManagerLocator>(*this)), options_(std::move(options))
{
    Wire();
}

void CameraSystemFacade::Wire()
{
    processor_.SetPacketBuffer(&GetPacketBuffer());
    processor_.SetFrameBuffer(&GetFrameBuffer());
    processor_.SetCamera(&camera_);
    processor_.SetFrameCamera(camera_.GetDevice());
    processor_.SetSequenceSource(this);
    collection_.SetTrackedCoordBuffer(&GetTrackedCoordBuffer());
    processor_.AddNewFrameCallback(&CameraSystemFacade::ScoreFrame, this);
    AttachStatusLights(port_.get());
    if (Camera* device = camera_.GetDevice()) {
        // The system's block follows the camera's without waiting on it.
        device->SetConfigurationMirror(&GetConfigurationData());
        device->SetDeviceLocator(locator_.get());
        // A camera that finds itself lost says so the way a device notice
        // does, so that the program's camera thread restarts it.
        device->SetLostHandler([this] {
            if (CameraManager* manager = KnownManager())
                manager->NotifyDeviceChange();
        });
    }
}

CameraSystemFacade::~CameraSystemFacade()
{
    if (!IsStopped())
        Stop();
    // A failed start may have left nothing running; joining again is harmless.
    processor_.Stop();
    AttachStatusLights(nullptr);
    if (Camera* device = camera_.GetDevice()) {
        device->SetLostHandler(nullptr);
        device->SetConfigurationMirror(nullptr);
        device->SetDeviceLocator(nullptr);
    }
}

CameraManager* CameraSystemFacade::KnownManager() const
{
    if (options_.manager != nullptr)
        return options_.manager;
    return CameraManager::IsActive() ? &CameraManager::X() : nullptr;
}

void CameraSystemFacade::RegisterNotificationWindow(std::function<void(unsigned, unsigned, long)> window)
{
    CameraManager::X().SetDeviceChangeNotification(std::move(window));
}

void CameraSystemFacade::SetConfiguration(const CameraConfigScript& script)
{
    std::lock_guard lock(scriptLock_);
    script_ = script;
}

bool CameraSystemFacade::ReadConfigFile(std::string_view path)
{
    std::lock_guard lock(scriptLock_);
    return script_.ReadXml(path);
}

bool CameraSystemFacade::WriteConfigFile(std::string_view path)
{
    std::lock_guard lock(scriptLock_);
    script_.GetScorerConfig(collection_.GetScorer());
    return script_.WriteXml(path);
}

bool CameraSystemFacade::ApplyConfiguration(const CameraConfigScript& script)
{
    CameraLedControl& leds = options_.leds != nullptr ? *options_.leds : *port_;
    return Orvane::ApplyConfiguration(script, collection_.GetScorer(), leds);
}

bool CameraSystemFacade::ApplyConfiguration()
{
    // Applied from a copy: the LED read-back waits on the camera, and I2C
    // writes from other threads must not wait that long for the script.
    CameraConfigScript script;
    {
        std::lock_guard lock(scriptLock_);
        script = script_;
    }
    return ApplyConfiguration(script);
}

bool CameraSystemFacade::ApplyConfiguration(std::string_view path)
{
    CameraConfigScript script;
    {
        std::lock_guard lock(scriptLock_);
        if (!script_.ReadXml(path))
            return false;
        script = script_;
    }
    return ApplyConfiguration(script);
}

void CameraSystemFacade::ScoreFrame(Frame* frame, void* system)
{
    auto& self = *static_cast<CameraSystemFacade*>(system);
    if (!self.processor_.IsSpareFrame(frame)) {
        TrackableCollection::NewFrameCallback(frame, &self.collection_);
        return;
    }
    // Both run on the processor thread: nothing else reads the pointer.
    self.collection_.SetTrackedCoordBuffer(nullptr);
    TrackableCollection::NewFrameCallback(frame, &self.collection_);
    self.collection_.SetTrackedCoordBuffer(&self.GetTrackedCoordBuffer());
}

bool CameraSystemFacade::Start(bool greenStatus, bool illumination)
{
    std::lock_guard lock(runLock_);
    const int number = GetCameraNumber();
    if (number >= FirstManagedCamera && number <= LastManagedCamera) {
        const int known = options_.managedCameraCount ? options_.managedCameraCount() : Manager().GetCameraCount();
        if (number - FirstManagedCamera >= known)
            return false;
        if (camera_.IsCameraStarted())
            return true;
    }
    const bool started = camera_.StartCamera();
    processor_.Start();
    if (!started) {
        // Nothing would stop the thread again: the system counts as stopped.
        processor_.Stop();
        return false;
    }
    stopped_.store(false, std::memory_order_release);
    {
        std::lock_guard script(scriptLock_);
        if (greenStatus)
            script_.SetGreenStatusLedOn(true);
        if (illumination)
            script_.SetIlluminationLedsOn(true);
    }
    illumination ? IlluminationLedOn() : IlluminationLedOff();
    return true;
}

CameraManager& CameraSystemFacade::Manager() const
{
    return options_.manager ? *options_.manager : CameraManager::X();
}

void CameraSystemFacade::ProbeForDevices()
{
    CameraManagerCamera first;
    if (!Manager().GetCamera(0, first)) {
        camera_.UseOwnDevice(0);
        SetCameraNumber(0);
        return;
    }
    if (!camera_.IsUsbDeviceOpen())
        camera_.UseUsbioDevice(first.GetDevicePath());
}

void CameraSystemFacade::Stop()
{
    std::lock_guard lock(runLock_);
    platform::Clock& clock = options_.clock ? *options_.clock : platform::systemClock();
    stopped_.store(true, std::memory_order_release);
    processor_.Stop();
    clock.sleepFor(std::chrono::milliseconds(options_.stopPauseMs));
    camera_.StopCamera();
    clock.sleepFor(std::chrono::milliseconds(options_.stopPauseMs));
}

// ---- camera operations ----------------------------------------------------

int CameraSystemFacade::SetCameraOptions(int threshold, bool invert, bool pulse)
{
    if (!IsByte(threshold))
        return -1;
    {
        std::lock_guard lock(optionsLock_);
        cameraOptions_ = {threshold, invert, pulse};
    }
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->SetCameraOptions(threshold, invert, pulse) : -1;
}

CameraSystemFacade::CameraOptions CameraSystemFacade::GetCameraOptions() const
{
    std::lock_guard lock(optionsLock_);
    return cameraOptions_;
}

void CameraSystemFacade::IlluminationLedOn()
{
    camera_.SetIlluminationLeds(true);
    illuminationOn_.store(true, std::memory_order_release);
}

void CameraSystemFacade::IlluminationLedOff()
{
    camera_.SetIlluminationLeds(false);
    illuminationOn_.store(false, std::memory_order_release);
}

void CameraSystemFacade::StatusCaseOn()
{
    if (CameraCommands* camera = Commands())
        camera->StatusCaseOn();
    caseOn_.store(true, std::memory_order_release);
}

void CameraSystemFacade::StatusCaseOff()
{
    if (CameraCommands* camera = Commands())
        camera->StatusCaseOff();
    caseOn_.store(false, std::memory_order_release);
}

int CameraSystemFacade::TurnVideoOn()
{
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->TurnVideoOn() : -1;
}

int CameraSystemFacade::TurnVideoOff()
{
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->TurnVideoOff() : -1;
}

int CameraSystemFacade::SetIRLEDBrightness(int brightness)
{
    CameraCommands* camera = Commands();
    return camera != nullptr && IsByte(brightness) ? camera->SetIRLEDBrightness(brightness) : -1;
}

int CameraSystemFacade::WriteEEPROM16Data(int addressHigh, int addressLow, int data)
{
    CameraCommands* camera = Commands();
    if (camera == nullptr || !IsByte(addressHigh) || !IsByte(addressLow) || !IsByte(data))
        return -1;
    return camera->WriteEEPROM16Data(addressHigh, addressLow, data);
}

int CameraSystemFacade::ReadEEPROM16Data(int addressHigh, int addressLow, int data)
{
    CameraCommands* camera = Commands();
    if (camera == nullptr || !IsByte(addressHigh) || !IsByte(addressLow) || !IsByte(data))
        return -1;
    return camera->ReadEEPROM16Data(addressHigh, addressLow, data);
}

bool CameraSystemFacade::SendCommandBlocking(std::span<const std::uint8_t> frame)
{
    CameraCommands* camera = Commands();
    return camera != nullptr && camera->SendCommandBlocking(frame);
}

int CameraSystemFacade::Unlock(unsigned char lock)
{
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->Unlock(lock) : -1;
}

int CameraSystemFacade::WriteI2CData(int device, int reg, int data)
{
    CameraCommands* camera = Commands();
    if (camera == nullptr || !IsByte(device) || !IsByte(reg) || !IsByte(data))
        return -1;
    const int result = camera->WriteI2CData(device, reg, data);
    if (result >= 0) {
        std::lock_guard lock(scriptLock_);
        script_.AddI2cCommand({static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(reg),
                               static_cast<std::uint8_t>(data)});
    }
    return result;
}

int CameraSystemFacade::ReadI2CData(int device, int reg, unsigned& value)
{
    value = 0;
    CameraCommands* camera = Commands();
    if (camera == nullptr || !IsByte(device) || !IsByte(reg))
        return 0;
    if (camera->ReadI2CData(device, reg, value))
        return 1;
    value = 0;
    return 0;
}

bool CameraSystemFacade::SendCommand(std::span<const std::uint8_t> frame)
{
    CameraCommands* camera = Commands();
    if (camera == nullptr || frame.size() > static_cast<std::size_t>(Camera::OutputBufferSize))
        return false;
    camera->SendCommand(frame);
    return true;
}

bool CameraSystemFacade::IsDevicePresent()
{
    CameraCommands* camera = Commands();
    return camera != nullptr && camera->IsDevicePresent();
}

void CameraSystemFacade::CloseUsbDevice()
{
    if (CameraCommands* camera = Commands())
        camera->CloseUsbDevice();
}

bool CameraSystemFacade::WriteUsbBuffer(std::span<const std::uint8_t> bytes)
{
    CameraCommands* camera = Commands();
    return camera != nullptr && camera->WriteUsbBuffer(bytes);
}

Camera::UsbDevice CameraSystemFacade::GetUsbDevice()
{
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->GetUsbDevice() : Camera::UsbDevice{};
}

void CameraSystemFacade::SetWantEmptyFrames(bool on)
{
    if (CameraCommands* camera = Commands())
        camera->SetWantEmptyFrames(on);
}

void CameraSystemFacade::SetDeConfigure(bool on)
{
    if (CameraCommands* camera = Commands())
        camera->SetDeConfigure(on);
}

void CameraSystemFacade::CaptureNextPacket(unsigned replyCode, DoubleBuffer<RawPacket>* raw)
{
    if (CameraCommands* camera = Commands())
        camera->CaptureNextPacket(replyCode, raw);
}

CameraSystemFacade::PacketBuffer* CameraSystemFacade::GetPacketBufferQueue()
{
    CameraCommands* camera = Commands();
    return camera != nullptr ? camera->GetPacketBufferQueue() : &GetPacketBuffer();
}

void CameraSystemFacade::SetPacketBuffer(PacketBuffer* packets)
{
    if (CameraCommands* camera = Commands())
        camera->SetPacketBuffer(packets);
}

} // namespace Orvane
