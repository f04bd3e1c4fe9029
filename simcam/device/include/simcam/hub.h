#pragma once
// The simulated cameras behind both driver interfaces: own-driver devices by
// index and generic-driver devices by interface GUID and path, with plug and
// unplug raising arrival and removal notices.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb/driver.h"
#include "simcam/control.h"
#include "simcam/device.h"
#include "simcam/scene_file.h"
#include "simcam/scene_source.h"

namespace simcam {

class Hub final : public platform::usb::Backend {
public:
    explicit Hub(platform::Clock& clock = platform::systemClock());
    ~Hub() override;

    // Adds a camera on the own driver at `index`.
    std::shared_ptr<Device> addOwn(int index, Model model = {});
    // Adds a camera on the generic driver; returns its device path.
    std::string addGeneric(Model model = {}, const platform::usb::Guid& guid = platform::usb::kCameraInterfaceGuid1);
    std::shared_ptr<Device> own(int index) const;
    std::shared_ptr<Device> generic(const std::string& path) const;

    // Unplug and replug raise removal and arrival notices.
    void unplugOwn(int index);
    void replugOwn(int index);
    void unplugGeneric(const std::string& path);
    void replugGeneric(const std::string& path);
    void setEnumerationAvailable(bool on);
    // Takes commands for the generic camera at `path` from `fifo` until
    // destruction (simcam/control.h); false, with the reason in `error`, when
    // the FIFO cannot be used.
    bool listenForControl(const std::string& path, const std::filesystem::path& fifo, std::string& error);

    platform::Clock& clock() { return clock_; }

    std::string_view name() const override { return "sim"; }
    platform::usb::OwnDriver& ownDriver() override;
    platform::usb::GenericDriver& genericDriver() override;
    platform::usb::DeviceNotices& notices() override { return notices_; }
    bool anyCameraPresent() override;

private:
    struct GenericEntry {
        std::string path;
        platform::usb::Guid guid;
        std::shared_ptr<Device> device;
    };
    class OwnSide;
    class GenericSide;

    platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<Device>> own_;
    std::vector<GenericEntry> generic_;
    int nextSerial_ = 1;
    bool enumeration_ = true;
    platform::usb::NoticeList notices_;
    std::unique_ptr<OwnSide> ownSide_;
    std::unique_ptr<GenericSide> genericSide_;
    std::unique_ptr<ControlFifo> control_;
};

// The backend ORVANE_CAMERA selects (`whenUnset` without it); "sim" gives a
// hub with one camera on the generic driver that needs no FPGA image and
// shows the scene of the file ORVANE_SIMCAM_SCENE names (the default scene
// without it); with ORVANE_SIMCAM_CONTROL, it takes faults from that FIFO.
std::unique_ptr<platform::usb::Backend> makeSystemBackend(
    platform::usb::BackendChoice whenUnset = platform::usb::BackendChoice::Sim);

// The image source of a scene as the settings describe it, paced by the
// camera's frame rate on the system clock.
std::shared_ptr<SceneImageSource> MakeSceneSource(const SceneSettings& settings);

} // namespace simcam
