#pragma once
// Binds the device layer's camera to the camera system: Orvane::Camera seen
// through SystemCamera (and so DataPathCamera). The camera keeps its own
// blocking mask.
#include <memory>
#include <mutex>
#include <string>

#include "camera/camera.h"
#include "camera/camera_commands.h"
#include "camera/camera_system_facade.h"
#include "camera/system_camera.h"

namespace Orvane {

class SystemCameraBinding final : public SystemCamera, public CameraCommands {
public:
    // The binding owns its camera.
    explicit SystemCameraBinding(std::unique_ptr<Camera> camera);
    ~SystemCameraBinding() override;


    // ---- SystemCamera ----
    // A start that fails (no device, no configuration, no FPGA image, an
    // FPGA that never runs) returns false with the camera stopped.
    bool StartCamera() override;
    void StopCamera() override;
    bool IsCameraStarted() const override { return camera_->IsStarted(); }
    void SetIlluminationLeds(bool on) override;
    bool IsUsbDeviceOpen() const override { return camera_->IsUsbDeviceOpen(); }
    bool OpenUsbDevice() override;
    // Both stop the camera and its threads first when they switch devices.
    void UseOwnDevice(int index) override;
    void UseUsbioDevice(const std::string& path) override;
    Camera* GetDevice() override { return camera_.get(); }
    CameraCommands* GetCommands() override { return this; }

    // ---- DataPathCamera ----
    int GetHardwareRevision() const override;
    int GetWindowWidth() const override;
    int GetWindowHeight() const override;
    int GetThreshold() const override { return camera_->GetThresholdValue(); }
    int GetFrameSendingOptions() const override { return camera_->GetSendFrameOption(); }
    int GetDisplayOptions() const override { return camera_->GetTextOverlayOption(); }
    int GetObjectCap() const override { return camera_->GetObjectCap(); }
    const WeightTable& GetGreyscaleWeights() const override { return weights_; }
    int GetSwitchState() const override { return camera_->GetSwitchState(); }
    void SetSwitchState(int state) override { camera_->SetSwitchState(state); }

    // ---- CameraCommands ----
    int SetCameraOptions(int threshold, bool invert, bool pulse) override
    {
        return camera_->SetCameraOptions(threshold, invert, pulse);
    }
    int StatusOn() override { return camera_->StatusOn(); }
    int StatusOff() override { return camera_->StatusOff(); }
    int StatusRedOn() override { return camera_->StatusRedOn(); }
    int StatusRedOff() override { return camera_->StatusRedOff(); }
    int StatusCaseOn() override { return camera_->StatusCaseOn(); }
    int StatusCaseOff() override { return camera_->StatusCaseOff(); }
    int TurnVideoOn() override { return camera_->TurnVideoOn(); }
    int TurnVideoOff() override { return camera_->TurnVideoOff(); }
    int SetIRLEDBrightness(int brightness) override { return camera_->SetIRLEDBrightness(brightness); }
    int WriteEEPROM16Data(int high, int low, int data) override { return camera_->WriteEEPROM16Data(high, low, data); }
    int ReadEEPROM16Data(int high, int low, int data) override { return camera_->ReadEEPROM16Data(high, low, data); }
    int Unlock(unsigned char lock) override { return camera_->Unlock(lock); }
    int WriteI2CData(int device, int reg, int data) override { return camera_->WriteI2CData(device, reg, data); }
    bool ReadI2CData(int device, int reg, unsigned& value) override
    {
        return camera_->ReadI2CData(device, reg, &value);
    }
    unsigned char ReadLeds() override { return camera_->ReadLeds(); }
    void SendCommand(std::span<const std::uint8_t> frame) override;
    bool SendCommandBlocking(std::span<const std::uint8_t> frame) override;
    bool WriteUsbBuffer(std::span<const std::uint8_t> bytes) override;
    bool IsDevicePresent() override { return camera_->IsDevicePresent(); }
    void CloseUsbDevice() override { camera_->CloseUsbDevice(); }
    Camera::UsbDevice GetUsbDevice() const override { return camera_->GetUsbDevice(); }
    void SetWantEmptyFrames(bool on) override { camera_->SetWantEmptyFrames(on); }
    void SetDeConfigure(bool on) override { camera_->SetDeConfigure(on); }
    void CaptureNextPacket(unsigned replyCode, DoubleBuffer<RawPacket>* raw) override
    {
        camera_->CaptureNextPacket(replyCode, raw);
    }
    DoubleBuffer<CameraPacket>* GetPacketBufferQueue() override { return camera_->GetPacketBufferQueue(); }
    void SetPacketBuffer(DoubleBuffer<CameraPacket>* packets) override { camera_->SetPacketBuffer(packets); }

    Camera& GetCamera() { return *camera_; }
    // Why the last start failed ("" after a successful one).
    std::string GetLastStartError() const;

private:
    std::unique_ptr<Camera> camera_;
    WeightTable weights_{};
    mutable std::mutex lock_;
    std::string lastError_;
};

// A facade camera factory: a device camera of `cameraNumber` on `backend`
// that queues its packets in the system's packet buffer and reads its FPGA
// images from `imageFolder` (empty: where the program's files resolve). The
// system's configuration block follows the camera's (the facade sees to it).
CameraSystemFacade::CameraFactory MakeDeviceCameraFactory(platform::usb::Backend& backend, int cameraNumber,
                                                          CameraTiming timing = {},
                                                          std::filesystem::path imageFolder = {},
                                                          platform::Clock& clock = platform::systemClock());

} // namespace Orvane
