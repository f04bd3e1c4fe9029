#include "camera/camera_collection.h"

#include "camera/debug.h"

#include <chrono>
#include <exception>
#include <utility>

namespace Orvane {

CameraCollection::CameraCollection(platform::usb::OwnDriver& driver, SystemFactory factory, platform::Clock& clock)
    : driver_(driver), factory_(std::move(factory)), clock_(clock)
{
}

CameraCollection::~CameraCollection()
{
    ClearCameraCollection();
}

int CameraCollection::QueryDevices()
{
    std::lock_guard lock(lock_);
    int n = 0;
    // Own-driver camera numbers end where the generic driver's begin.
    for (; n < CameraSystemFacade::FirstManagedCamera; ++n) {
        auto at = systems_.find(n);
        if (at != systems_.end()) {
            if (!at->second->GetCamera().IsUsbDeviceOpen())
                at->second->GetCamera().OpenUsbDevice();
            continue;
        }
        if (!driver_.open(n))
            break;  // the handle is closed again at once
        clock_.sleepFor(std::chrono::milliseconds(ProbePauseMs));
        try {
            std::unique_ptr<CameraSystemFacade> system = factory_ ? factory_(n) : nullptr;
            if (system)
                systems_.emplace(n, std::move(system));
        } catch (const std::exception& e) {
            cDebug::ReportDebug(cDebug::Device, "CameraCollection::QueryDevices - camera %d: %s", n, e.what());
        }
    }
    count_ = n;
    return n;
}

bool CameraCollection::Start(int n)
{
    std::lock_guard lock(lock_);
    if (count_ == 0 && QueryDevices() == 0 && factory_ && systems_.find(n) == systems_.end()) {
        try {
            if (std::unique_ptr<CameraSystemFacade> system = factory_(0))
                systems_.emplace(n, std::move(system));
        } catch (const std::exception& e) {
            cDebug::ReportDebug(cDebug::Device, "CameraCollection::Start - %s", e.what());
        }
    }
    auto at = systems_.find(n);
    if (at == systems_.end())
        return false;
    at->second->Start(true, true);
    return true;
}

void CameraCollection::Start()
{
    std::lock_guard lock(lock_);
    for (auto& [n, system] : systems_)
        system->Start(true, true);
}

bool CameraCollection::Stop(int n)
{
    std::lock_guard lock(lock_);
    auto at = systems_.find(n);
    if (at == systems_.end())
        return false;
    at->second->Stop();
    return true;
}

void CameraCollection::Stop()
{
    std::lock_guard lock(lock_);
    for (auto& [n, system] : systems_)
        system->Stop();
}

int CameraCollection::AddCamera(int n, std::unique_ptr<CameraSystemFacade> system)
{
    std::lock_guard lock(lock_);
    if (system)
        systems_[n] = std::move(system);
    return 0;
}

int CameraCollection::NumberOfDevices() const
{
    std::lock_guard lock(lock_);
    return count_;
}

CameraSystemFacade* CameraCollection::Get(int n)
{
    std::lock_guard lock(lock_);
    auto at = systems_.find(n);
    return at == systems_.end() ? nullptr : at->second.get();
}

void CameraCollection::ClearCameraCollection()
{
    std::lock_guard lock(lock_);
    for (auto& [n, system] : systems_)
        if (!system->IsStopped())
            system->Stop();
    systems_.clear();
}

} // namespace Orvane
