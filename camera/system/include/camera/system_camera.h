#pragma once
// What the camera system needs of its camera device: the facts the data path
// reads, plus start, stop and the illumination LEDs. The device layer's
// camera binds to it through SystemCameraBinding; tests use a plain double.
#include "camera/data_camera.h"

#include <string>

namespace Orvane {

class Camera;
class CameraCommands;

class SystemCamera : public DataPathCamera {
public:
    // Starts the camera's threads and image path; false when it did not start.
    virtual bool StartCamera() = 0;
    virtual void StopCamera() = 0;
    virtual bool IsCameraStarted() const = 0;
    virtual void SetIlluminationLeds(bool on) = 0;
    // Device selection, for probing: the own driver's device `index`, or a
    // generic-driver device by path. A camera with one fixed device ignores
    // them.
    virtual bool IsUsbDeviceOpen() const { return false; }
    // Opens the selected device when it is closed; whether it is open.
    virtual bool OpenUsbDevice() { return IsUsbDeviceOpen(); }
    virtual void UseOwnDevice(int /*index*/) {}
    virtual void UseUsbioDevice(const std::string& /*path*/) {}
    // The device object frames name as their camera (null for doubles).
    virtual Camera* GetDevice() { return nullptr; }
    // The camera operations the system forwards (null: nothing to send to).
    virtual CameraCommands* GetCommands() { return nullptr; }
};

} // namespace Orvane
