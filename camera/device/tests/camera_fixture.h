#pragma once
// A camera on a simulated device, with the channel's timing shortened.
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "simcam/hub.h"

namespace camera_test {

using Bytes = std::vector<std::uint8_t>;

inline Orvane::CameraTiming fastTiming()
{
    Orvane::CameraTiming t;
    t.watchdogMs = 150;
    t.statusPolls = 400;
    t.threadStartMs = 1;
    t.sendIdleMs = 1;
    t.readerIdleMs = 1;
    t.imageIdleMs = 5;
    t.usbioWriteTimeoutMs = 50;
    t.syncReadLimitMs = 3000;
    return t;
}

// Waits (bounded) until `done` holds.
template <class F>
bool eventually(F&& done, int ms = 3000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct SimCamera {
    explicit SimCamera(simcam::Model model = {}, Orvane::CameraTiming timing = fastTiming(), int number = 0,
                       Orvane::DoubleBuffer<Orvane::CameraPacket>* packets = nullptr)
    {
        if (number >= 1024) {
            path = hub.addGeneric(model);
            device = hub.generic(path);
            camera = std::make_unique<Orvane::Camera>(hub, number, packets, timing);
            camera->SetUSBIODevicePath(path);
        } else {
            device = hub.addOwn(number, model);
            camera = std::make_unique<Orvane::Camera>(hub, number, packets, timing);
            camera->OpenUsbDevice();
        }
        camera->InitializeCameraCommunication();
        camera->ReadCameraData();
        camera->GetConfigurationData().WaitValid();
        camera->Sync();
        device->clearLog();
    }

    // Frames written since the log was cleared, without the empty frames of
    // the blocking helpers.
    std::vector<Bytes> frames() const
    {
        std::vector<Bytes> out;
        for (auto& f : device->frameBytes())
            if (!f.empty())
                out.push_back(f);
        return out;
    }

    simcam::Hub hub;
    std::string path;
    std::shared_ptr<simcam::Device> device;
    std::unique_ptr<Orvane::Camera> camera;
};

inline simcam::Model revision(int r)
{
    simcam::Model m;
    m.revision = r;
    return m;
}

} // namespace camera_test
