#pragma once
// Binds the device layer's camera to the camera system: Orvane::Camera seen
// through SystemCamera (and so DataPathCamera). The camera keeps its own
// blocking mask.
#include <memory>
#include <mutex>
#include <string>

#include "camera/camera.h"
#include "camera/camera_system_facade.h"
#include "camera/system_camera.h"

namespace Orvane {

class SystemCameraBinding final : public SystemCamera {
public:
    // The binding owns its camera. A successful start copies the camera's
    // configuration block into `systemConfig` (the system's, which the
    // engine reads), when given.
    explicit SystemCameraBinding(std::unique_ptr<Camera> camera, CameraConfigurationData* systemConfig = nullptr);
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

    Camera& GetCamera() { return *camera_; }
    // Why the last start failed ("" after a successful one).
    std::string GetLastStartError() const;

private:
    std::unique_ptr<Camera> camera_;
    CameraConfigurationData* systemConfig_;
    WeightTable weights_{};
    mutable std::mutex lock_;
    std::string lastError_;
};

// A facade camera factory: a device camera of `cameraNumber` on `backend`
// that queues its packets in the system's packet buffer, reads its FPGA
// images from `imageFolder` (empty: the working folder) and fills the
// system's configuration block when it starts.
CameraSystemFacade::CameraFactory MakeDeviceCameraFactory(platform::usb::Backend& backend, int cameraNumber,
                                                          CameraTiming timing = {},
                                                          std::filesystem::path imageFolder = {},
                                                          platform::Clock& clock = platform::systemClock());

} // namespace Orvane
