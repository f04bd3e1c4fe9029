#pragma once
// Camera systems over the camera's own driver, by device index. Exported
// with the library; the suite itself goes through the camera manager.
#include "camera/camera_system_facade.h"
#include "platform/clock.h"
#include "platform/usb/driver.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace Orvane {

class CameraCollection {
public:
    static constexpr int ProbePauseMs = 30;

    // Makes the camera system for own-driver device `number` and queues its
    // configuration read; it may throw (no such camera).
    using SystemFactory = std::function<std::unique_ptr<CameraSystemFacade>(int number)>;

    CameraCollection(platform::usb::OwnDriver& driver, SystemFactory factory,
                     platform::Clock& clock = platform::systemClock());
    CameraCollection(const CameraCollection&) = delete;
    CameraCollection& operator=(const CameraCollection&) = delete;
    // Stops and destroys every system.
    ~CameraCollection();

    // Walks the device indices from 0: a listed system has its device opened
    // when closed; an unlisted index whose device opens gets a system. The
    // result, also kept as the device count, is the first index that failed.
    int QueryDevices();
    // Starts the system under `n` with (true, true); with no devices known
    // and none found, a system numbered 0 is made under `n` first. False
    // when there is no system under `n`.
    bool Start(int n);
    void Start();
    bool Stop(int n);
    void Stop();
    int AddCamera(int n, std::unique_ptr<CameraSystemFacade> system);
    int NumberOfDevices() const;
    CameraSystemFacade* Get(int n);
    void ClearCameraCollection();

private:
    platform::usb::OwnDriver& driver_;
    SystemFactory factory_;
    platform::Clock& clock_;
    mutable std::recursive_mutex lock_;
    std::map<int, std::unique_ptr<CameraSystemFacade>> systems_;
    int count_ = 0;
};

} // namespace Orvane
