#pragma once
// What the camera system needs of its camera device: the facts the data path
// reads, plus start, stop and the illumination LEDs. The device layer's
// camera binds to it through SystemCameraBinding; tests use a plain double.
#include "camera/data_camera.h"

namespace Orvane {

class Camera;

class SystemCamera : public DataPathCamera {
public:
    // Starts the camera's threads and image path; false when it did not start.
    virtual bool StartCamera() = 0;
    virtual void StopCamera() = 0;
    virtual bool IsCameraStarted() const = 0;
    virtual void SetIlluminationLeds(bool on) = 0;
    // The device object frames name as their camera (null for doubles).
    virtual Camera* GetDevice() { return nullptr; }
};

} // namespace Orvane
