#include "camera/camera_manager.h"

#include "camera/camera_system_facade.h"
#include "camera/debug.h"
#include "camera/device_camera.h"
#include "camera/usbio.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <exception>

namespace Orvane {

namespace {

namespace usb = platform::usb;

constexpr std::array<usb::Guid, 2> kGuids = {usb::kCameraInterfaceGuid1, usb::kCameraInterfaceGuid2};

std::atomic<usb::Backend*> defaultBackend{nullptr};

usb::Backend& DefaultBackend()
{
    if (usb::Backend* b = defaultBackend.load(std::memory_order_acquire))
        return *b;
    static usb::NullBackend none;
    return none;
}

} // namespace

void CameraManager::SetDefaultBackend(usb::Backend* backend)
{
    defaultBackend.store(backend, std::memory_order_release);
}

CameraManager::CameraManager() : CameraManager(DefaultBackend()) {}

CameraManager::CameraManager(usb::Backend& backend) : CameraManager(backend.genericDriver(), backend.notices())
{
    backend_ = &backend;
}

CameraManager::CameraManager(usb::GenericDriver& driver, usb::DeviceNotices& notices)
    : driver_(driver), notices_(notices)
{
    gate_->manager = this;
    std::weak_ptr<Gate> weak = gate_;
    subscription_ = notices_.subscribe([weak](const usb::DeviceNotice& notice) {
        std::shared_ptr<Gate> gate = weak.lock();
        if (!gate)
            return;
        std::lock_guard lock(gate->lock);
        if (gate->manager != nullptr)
            gate->manager->HandleNotice(notice);
    });
    // Notices count only from here on, as the first scan sees the devices.
    constructed_.store(true, std::memory_order_release);
    ScanForDevices();
}

CameraManager::~CameraManager()
{
    constructed_.store(false, std::memory_order_release);
    notices_.unsubscribe(subscription_);
    {
        // A notice being handled on the notificator thread finishes first.
        std::lock_guard lock(gate_->lock);
        gate_->manager = nullptr;
    }
    std::lock_guard lock(cameraLock_);
    cameras_.clear();
    systems_.clear();
}

bool CameraManager::SamePath(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void CameraManager::UpdateDeviceList()
{
    std::vector<DeviceSet> sets;
    if (driver_.enumerationAvailable()) {
        for (const usb::Guid& guid : kGuids)
            sets.push_back({guid, driver_.devicePaths(guid)});
    }
    std::lock_guard lock(deviceLock_);
    deviceSets_ = std::move(sets);
}

void CameraManager::ScanForDevices()
{
    UpdateDeviceList();
    std::vector<DeviceSet> sets;
    {
        std::lock_guard lock(deviceLock_);
        sets = deviceSets_;
    }
    if (sets.empty()) {
        std::lock_guard lock(cameraLock_);
        cameras_.clear();
        return;
    }
    for (const DeviceSet& set : sets) {
        const int count = std::min<int>(static_cast<int>(set.paths.size()), MaxInterfaceIndex + 1);
        for (int index = 0; index < count; ++index) {
            const std::string& path = set.paths[static_cast<std::size_t>(index)];
            std::uint32_t error = 0;
            std::shared_ptr<usb::GenericHandle> handle = driver_.open(path, error);
            if (!handle)
                continue;  // this interface only
            usb::DriverInformation info{};
            std::uint32_t returned = 0;
            const std::uint32_t status = handle->ioControl(
                usb::kIoctlGetDriverInfo, {},
                std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(&info), sizeof info), returned);
            handle.reset();
            if (status != usb::kStatusSuccess)
                break;  // not the driver we talk to: the rest of this set neither
            AddPresentCamera(path);
        }
    }
}

int CameraManager::AddCamera(std::string_view path)
{
    if (path.empty())
        return -1;
    std::lock_guard lock(cameraLock_);
    int number = FirstCameraNumber;
    for (;;) {
        const bool taken = std::any_of(cameras_.begin(), cameras_.end(),
                                       [number](const CameraManagerCamera& c) { return c.GetDeviceIndex() == number; });
        if (!taken)
            break;
        ++number;
    }
    cameras_.emplace_back(number, path);
    return number;
}

void CameraManager::AddPresentCamera(std::string_view path)
{
    std::lock_guard lock(cameraLock_);
    const std::string_view kept = path.substr(0, std::min(path.size(), CameraManagerCamera::MaxPath));
    for (const CameraManagerCamera& c : cameras_)
        if (SamePath(c.GetDevicePath(), kept))
            return;
    AddCamera(path);
}

bool CameraManager::RemoveCamera(std::string_view path)
{
    std::lock_guard lock(cameraLock_);
    auto at = std::find_if(cameras_.begin(), cameras_.end(),
                           [&](const CameraManagerCamera& c) { return SamePath(c.GetDevicePath(), path); });
    if (at == cameras_.end())
        return false;
    cameras_.erase(at);
    return true;
}

int CameraManager::GetCameraCount() const
{
    std::lock_guard lock(cameraLock_);
    return static_cast<int>(cameras_.size());
}

bool CameraManager::Initialize(CameraManagerCamera& entry, bool start)
{
    if (entry.GetCameraSystem() != nullptr)
        return true;
    SystemFactory factory;
    {
        std::lock_guard lock(hookLock_);
        factory = factory_;
    }
    if (!factory && backend_ != nullptr) {
        // The camera system of the entry's number, its camera given the
        // entry's path (and started when asked) through this manager.
        factory = [this](const CameraManagerCamera& e, bool run) -> std::unique_ptr<CameraSystem> {
            CameraSystemFacade::Options options;
            options.manager = this;
            auto system = std::make_unique<CameraSystemFacade>(
                e.GetDeviceIndex(), MakeDeviceCameraFactory(*backend_, e.GetDeviceIndex()), options);
            if (Camera* camera = system->GetCamera().GetDevice())
                camera->SetUSBIODevicePath(e.GetDevicePath(), run);
            return system;
        };
    }
    if (!factory)
        return false;
    std::unique_ptr<CameraSystem> system = factory(entry, start);
    if (!system)
        return false;
    entry.SetCameraSystem(system.get());
    systems_.push_back(std::move(system));
    return true;
}

bool CameraManager::GetCamera(int index, CameraManagerCamera& out, bool initialise, bool start)
{
    try {
        std::lock_guard lock(cameraLock_);
        if (index < 0 || index >= static_cast<int>(cameras_.size()))
            return false;
        CameraManagerCamera& entry = cameras_[static_cast<std::size_t>(index)];
        if (initialise && !Initialize(entry, start))
            return false;
        out = entry;
        return true;
    } catch (const std::exception& e) {
        cDebug::ReportDebug(cDebug::Device, "CameraManager::GetCamera - %s", e.what());
        return false;
    }
}

std::vector<CameraManagerCamera> CameraManager::GetCameras() const
{
    std::lock_guard lock(cameraLock_);
    return cameras_;
}

bool CameraManager::FindDevice(std::string_view path, std::string& resolved) const
{
    std::lock_guard lock(deviceLock_);
    for (const DeviceSet& set : deviceSets_)
        for (const std::string& p : set.paths)
            if (SamePath(p, path)) {
                resolved = p;
                return true;
            }
    return false;
}

bool CameraManager::FindPresentDevice(std::string_view path, std::string& resolved)
{
    if (FindDevice(path, resolved))
        return true;
    UpdateDeviceList();
    return FindDevice(path, resolved);
}

bool CameraManager::GetCameraDevice(std::string_view path, CUsbIo& io)
{
    std::string resolved;
    return FindPresentDevice(path, resolved) && io.OpenPath(resolved) == 0;
}

bool CameraManager::BindPipe(std::string_view path, std::uint8_t endpoint, CUsbIoThread& thread)
{
    std::string resolved;
    return FindPresentDevice(path, resolved) && thread.AttachToPath(resolved, endpoint) == 0;
}

void CameraManager::NotifyDeviceChange()
{
    DeviceChangeHook hook;
    {
        std::lock_guard lock(hookLock_);
        hook = hook_;
    }
    if (hook)
        hook(WM_DEVICECHANGE_, 0, 0);
}

void CameraManager::RegisterListener(CameraManagerListener* listener)
{
    std::lock_guard lock(listenerLock_);
    listeners_.push_back(listener);
}

void CameraManager::UnregisterListener(CameraManagerListener* listener)
{
    std::lock_guard lock(listenerLock_);
    auto at = std::find(listeners_.begin(), listeners_.end(), listener);
    if (at != listeners_.end())
        listeners_.erase(at);
}

void CameraManager::SetDeviceChangeNotification(DeviceChangeHook hook)
{
    std::lock_guard lock(hookLock_);
    hook_ = std::move(hook);
}

void CameraManager::SetSystemFactory(SystemFactory factory)
{
    std::lock_guard lock(hookLock_);
    factory_ = std::move(factory);
}

bool CameraManager::RemoveCameraSystem(CameraSystem* system)
{
    if (system == nullptr)
        return false;
    std::unique_ptr<CameraSystem> doomed;
    {
        std::lock_guard lock(cameraLock_);
        auto entry = std::find_if(cameras_.begin(), cameras_.end(),
                                  [system](const CameraManagerCamera& c) { return c.GetCameraSystem() == system; });
        if (entry == cameras_.end())
            return false;
        entry->SetCameraSystem(nullptr);
        auto owned = std::find_if(systems_.begin(), systems_.end(),
                                  [system](const std::unique_ptr<CameraSystem>& s) { return s.get() == system; });
        if (owned != systems_.end()) {
            doomed = std::move(*owned);
            systems_.erase(owned);
        }
    }
    // Destroyed outside the list lock: it joins its threads.
    doomed.reset();
    return true;
}

void CameraManager::HandleNotice(const usb::DeviceNotice& notice)
{
    if (!constructed_.load(std::memory_order_acquire))
        return;
    // Only interface notices of the cameras' generic-driver GUIDs count.
    if (notice.ownIndex >= 0 || notice.path.empty() ||
        std::find(kGuids.begin(), kGuids.end(), notice.guid) == kGuids.end())
        return;
    const bool arrival = notice.kind == usb::DeviceNotice::Kind::Arrival;
    if (arrival)
        AddPresentCamera(notice.path);
    else
        RemoveCamera(notice.path);
    UpdateDeviceList();
    {
        std::lock_guard lock(listenerLock_);
        // Indexed: a listener may unregister itself (or another) while called.
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            CameraManagerListener* l = listeners_[i];
            if (arrival)
                l->CameraArrived(notice.path);
            else
                l->CameraRemoved(notice.path);
            if (i < listeners_.size() && listeners_[i] != l)
                --i;
        }
    }
    NotifyDeviceChange();
}

} // namespace Orvane
