// The device camera as the camera system's camera.
#include "camera/device_camera.h"

#include "camera/debug.h"
#include "camera/exceptions.h"

namespace Orvane {

SystemCameraBinding::SystemCameraBinding(std::unique_ptr<Camera> camera) : camera_(std::move(camera))
{
    for (int g = 0; g < 256; ++g)
        weights_[static_cast<std::size_t>(g)] = camera_->GetGreyscaleWeight(g);
}

SystemCameraBinding::~SystemCameraBinding()
{
    // The camera stops before it goes; its destructor joins its threads.
    camera_->Stop();
}

bool SystemCameraBinding::StartCamera()
{
    std::string error;
    bool started = false;
    try {
        started = camera_->Start();
        if (!started)
            error = camera_->GetImageMissing() ? "no FPGA image for the camera" : "the camera did not start";
    } catch (const OVRuntimeException& e) {
        error = e.what();
    }
    if (!started)
        cDebug::ReportDebug(cDebug::Device, "Camera start failed: %s", error.c_str());
    std::lock_guard lock(lock_);
    lastError_ = error;
    return started;
}

void SystemCameraBinding::StopCamera()
{
    camera_->Stop();
}

void SystemCameraBinding::SetIlluminationLeds(bool on)
{
    camera_->SetIlluminationWanted(on);
    if (on)
        camera_->TurnLedOn();
    else
        camera_->TurnLedOff();
}

bool SystemCameraBinding::OpenUsbDevice()
{
    return camera_->IsUsbDeviceOpen() || camera_->OpenUsbDevice();
}

void SystemCameraBinding::UseOwnDevice(int index)
{
    camera_->SetOVDeviceIndex(index);
}

void SystemCameraBinding::UseUsbioDevice(const std::string& path)
{
    // Already there: switching again would stop and join every thread of
    // the camera for nothing (the camera thread probes on every retry).
    if (camera_->IsUSBIODriver() && camera_->GetUSBIODevicePath() == path)
        return;
    camera_->SetUSBIODevicePath(path);
}

// Frames longer than the output buffer are refused here, before a length is
// narrowed: the camera would refuse them anyway.
void SystemCameraBinding::SendCommand(std::span<const std::uint8_t> frame)
{
    if (frame.size() > static_cast<std::size_t>(Camera::OutputBufferSize))
        return;
    camera_->SendCommand(frame.data(), static_cast<int>(frame.size()), 0, 0, nullptr, nullptr, nullptr);
}

bool SystemCameraBinding::SendCommandBlocking(std::span<const std::uint8_t> frame)
{
    if (frame.size() > static_cast<std::size_t>(Camera::OutputBufferSize))
        return false;
    return camera_->SendCommandBlocking(frame.data(), static_cast<int>(frame.size()));
}

bool SystemCameraBinding::WriteUsbBuffer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > static_cast<std::size_t>(Camera::OutputBufferSize))
        return false;
    return camera_->WriteUsbBuffer(bytes.data(), static_cast<unsigned short>(bytes.size()));
}

int SystemCameraBinding::GetHardwareRevision() const
{
    auto& config = camera_->GetConfigurationData();
    return config.GetState() == CameraConfigurationData::Valid ? config.GetHardwareRevision() : 0;
}

int SystemCameraBinding::GetWindowWidth() const
{
    return camera_->GetActualWindow().Width();
}

int SystemCameraBinding::GetWindowHeight() const
{
    return camera_->GetActualWindow().Height();
}

std::string SystemCameraBinding::GetLastStartError() const
{
    std::lock_guard lock(lock_);
    return lastError_;
}

CameraSystemFacade::CameraFactory MakeDeviceCameraFactory(platform::usb::Backend& backend, int cameraNumber,
                                                          CameraTiming timing, std::filesystem::path imageFolder,
                                                          platform::Clock& clock)
{
    return [&backend, cameraNumber, timing, folder = std::move(imageFolder), &clock](CameraSystem& system) {
        auto camera = std::make_unique<Camera>(backend, cameraNumber, &system.GetPacketBuffer(), timing, clock);
        if (!folder.empty())
            camera->SetImageFolder(folder);
        return std::unique_ptr<SystemCamera>(
            std::make_unique<SystemCameraBinding>(std::move(camera)));
    };
}

} // namespace Orvane
