#pragma once
// The program's sheet over the simulated camera, for the sheet's and the
// main frame's tests: a camera of revision 8 that starts unconfigured on a
// simulated hub, the FPGA image it loads from the program folder, and the
// sheet's configuration on short waits. Header only: the tests that use it
// link the sheet and the simulated camera themselves.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "app/snap_property_sheet.h"
#include "camera/camera_manager.h"
#include "camera/device_camera.h"
#include "simcam/hub.h"

namespace testing_support {

// Writes the FPGA image into `folder`, adds the camera to `hub` and makes
// the hub the camera manager's backend; the camera's device path.
inline std::string AttachSimulatedCamera(simcam::Hub& hub, const std::filesystem::path& folder)
{
    {
        std::ofstream out(folder / "camera.bit", std::ios::binary);
        for (int i = 0; i < 400; ++i)
            out.put(static_cast<char>(i * 7 + 3));
    }
    simcam::Model m;
    m.revision = 8;
    m.fpga = simcam::FpgaStart::Unconfigured;
    std::string path = hub.addGeneric(m);
    Orvane::CameraManager::SetDefaultBackend(&hub);
    return path;
}

// Ends the camera manager and lets go of the hub (once the sheet is gone).
inline void DetachSimulatedCamera()
{
    Orvane::CameraManager::DestroyInstance();
    Orvane::CameraManager::SetDefaultBackend(nullptr);
}

// The sheet on `hub`'s camera with `timing` (taken now), its pose file in
// `folder`, no view library, the camera thread and engine on short waits,
// and the catalogue parsed from the text `catalogue`. Keyboard, buttons,
// service and the questions are the caller's.
inline CSnapPropertySheet::Config SimulatedSheetConfig(simcam::Hub& hub, const std::filesystem::path& folder,
                                                       const std::shared_ptr<platform::registry::Store>& registry,
                                                       const Orvane::CameraTiming& timing, std::string catalogue)
{
    CSnapPropertySheet::Config c;
    c.registry = registry;
    c.makeCameraSystem = [&hub, folder, timing] {
        Orvane::CameraSystemFacade::Options o;
        o.stopPauseMs = 0;
        return std::make_unique<Orvane::CameraSystemFacade>(
            CSnapPropertySheet::kCameraNumber,
            Orvane::MakeDeviceCameraFactory(hub, CSnapPropertySheet::kCameraNumber, timing, folder,
                                            platform::systemClock()),
            o);
    };
    c.engine.frameWaitMs = 20;
    c.engine.poseFile = folder / "vistrel.tdf";
    c.engine.registry = registry;
    c.cameraThread.viewsModule = "NoViewsHere.dll";
    c.cameraThread.retryMs = 5;
    c.cameraThread.waitSliceMs = 50;
    c.cameraThread.pollStepMs = 5;
    c.loadCatalogue = [xml = std::move(catalogue)](CGameList& games) {
        games.Parse(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
        return 0;
    };
    return c;
}

// Runs `pump` until `condition` holds, some 3 s at the most; the
// condition's last value.
template <typename Pump, typename Condition>
bool PumpUntil(Pump&& pump, Condition&& condition)
{
    for (int i = 0; i < 1500; ++i) {
        pump();
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

} // namespace testing_support
