// A camera system over a device camera on a simulated revision-7 camera
// (own driver, device 0), with the camera's timing shortened.
#pragma once

#include <fstream>
#include <memory>
#include <vector>

#include "camera/camera_system_facade.h"
#include "camera/device_camera.h"
#include "simcam/hub.h"
#include "simcam/imaging/packets.h"
#include "simcam/imaging/render.h"
#include "testing/camera_timing.h"
#include "testing/temp_dir.h"
#include "testing/test_clock.h"

namespace device_rig {

using Orvane::CameraSystem;
using Orvane::CameraSystemFacade;

struct Rig {
    explicit Rig(simcam::FpgaStart start = simcam::FpgaStart::Unconfigured, bool withImage = true)
    {
        simcam::Model m;
        m.revision = 7;
        m.fpga = start;
        device = hub.addOwn(0, m);
        if (withImage)
            writeImage();
        CameraSystemFacade::Options options;
        options.stopPauseMs = 0;
        options.clock = &clock;
        system = std::make_unique<CameraSystemFacade>(
            0,
            [this](CameraSystem& s) {
                auto camera =
                    std::make_unique<Orvane::Camera>(hub, 0, &s.GetPacketBuffer(), testing_support::FastCameraTiming(), clock);
                camera->SetImageFolder(folder.path());
                auto bound = std::make_unique<Orvane::SystemCameraBinding>(std::move(camera));
                binding = bound.get();
                return bound;
            },
            options);
    }
    void writeImage()
    {
        std::ofstream out(folder.file("camera.bit"), std::ios::binary);
        for (int i = 0; i < 500; ++i)
            out.put(static_cast<char>(i * 13));
    }
    // Waits (bounded) for a frame out of the system; true when one came.
    bool frameArrives()
    {
        auto& frames = system->GetFrameBuffer();
        for (int i = 0; i < 200; ++i) {
            device->pushImagePacket(simcam::imaging::EncodePacket(
                simcam::imaging::Render(std::vector<simcam::imaging::Disc>{{200.5, 150.5, 5, 255}}, 640, 480), {}));
            if (frames.Wait(10) == platform::kWaitObject0)
                if (Orvane::Frame* f = frames.TakeFilled()) {
                    frames.GiveBack(f);
                    return true;
                }
        }
        return false;
    }

    testing_support::TempDir folder{"device-camera"};
    testing_support::TestClock clock;
    simcam::Hub hub;
    std::shared_ptr<simcam::Device> device;
    Orvane::SystemCameraBinding* binding = nullptr;
    std::unique_ptr<CameraSystemFacade> system;
};

} // namespace device_rig
