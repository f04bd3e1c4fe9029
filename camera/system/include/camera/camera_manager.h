#pragma once
// The library's registry of cameras on the generic USB driver: it finds the
// present devices by their interface GUIDs, numbers them from 1024 up, and
// keeps the list current from the driver layer's arrival and removal
// notices, which it passes on to its listeners and, as a device-change
// message, to the main program.
#include "camera/camera.h"
#include "camera/camera_system.h"
#include "platform/usb/driver.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Orvane {

// One process-wide instance of T, made on first use. Creation and
// destruction are serialised; a reference from X stays valid until
// DestroyInstance.
template <class T>
class Singleton {
public:
    static T& X()
    {
        std::lock_guard lock(m_lock);
        if (m_instance.load(std::memory_order_acquire) == nullptr)
            m_instance.store(new T(), std::memory_order_release);  // a throwing constructor leaves it null
        return *m_instance.load(std::memory_order_acquire);
    }
    static bool IsActive() { return m_instance.load(std::memory_order_acquire) != nullptr; }
    static void DestroyInstance()
    {
        std::lock_guard lock(m_lock);
        T* instance = m_instance.exchange(nullptr, std::memory_order_acq_rel);
        delete instance;
    }

protected:
    Singleton() = default;
    virtual ~Singleton() = default;

private:
    Singleton(const Singleton&);

    static inline std::atomic<T*> m_instance{nullptr};
    static inline std::mutex m_lock;
};

class CameraManagerCamera {
public:
    static constexpr std::size_t MaxPath = 256;

    CameraManagerCamera() = default;
    CameraManagerCamera(int number, std::string_view path)
        : number_(number), path_(path.substr(0, std::min(path.size(), MaxPath)))
    {
    }

    int GetDeviceIndex() const { return number_; }
    const std::string& GetDevicePath() const { return path_; }
    // Null until the camera is initialised. The manager owns the system.
    CameraSystem* GetCameraSystem() const { return system_; }
    void SetCameraSystem(CameraSystem* system) { system_ = system; }

private:
    int number_ = 0;
    std::string path_;
    CameraSystem* system_ = nullptr;
};

class CameraManagerListener {
public:
    virtual ~CameraManagerListener() = default;
    virtual void CameraArrived(std::string_view path) = 0;
    virtual void CameraRemoved(std::string_view path) = 0;
};

class CameraManager : public Singleton<CameraManager>, public CameraDeviceLocator {
public:
    static constexpr int FirstCameraNumber = 1024;
    static constexpr int MaxInterfaceIndex = 62;
    static constexpr unsigned WM_DEVICECHANGE_ = 0x0219;
    static constexpr unsigned DBT_DEVICEARRIVAL_ = 0x8000;
    static constexpr unsigned DBT_DEVICEREMOVECOMPLETE_ = 0x8004;

    // The main program's device-change window: (message, wParam, lParam).
    using DeviceChangeHook = std::function<void(unsigned message, unsigned wParam, long lParam)>;
    // Makes the camera system of an entry (number and path); `start` asks
    // the camera to start once it has its path. Without one, a manager made
    // over a backend makes a camera system over a device camera on it.
    using SystemFactory = std::function<std::unique_ptr<CameraSystem>(const CameraManagerCamera& entry, bool start)>;

    // The driver backend the singleton's X uses (none set: a backend with
    // no devices). The backend must outlive the manager made from it.
    static void SetDefaultBackend(platform::usb::Backend* backend);

    // Scans the present devices and subscribes to the notices.
    CameraManager();
    explicit CameraManager(platform::usb::Backend& backend);
    CameraManager(platform::usb::GenericDriver& driver, platform::usb::DeviceNotices& notices);
    CameraManager(const CameraManager&) = delete;
    CameraManager& operator=(const CameraManager&) = delete;
    // Unsubscribes and waits for a notice being handled. The camera systems
    // still held are destroyed.
    ~CameraManager() override;

    void ScanForDevices();
    void UpdateDeviceList();
    // Lists the path under the lowest free number from 1024 up and returns
    // that number (-1 for an empty path). The list is not searched for the
    // path first: a path can be listed twice.
    int AddCamera(std::string_view path);
    // Removes the first entry with this path (compared without case); its
    // camera system stays alive until RemoveCameraSystem.
    bool RemoveCamera(std::string_view path);
    int GetCameraCount() const;
    // False for an index outside the list (it may shrink at any time) or
    // when the camera system could not be made.
    bool GetCamera(int index, CameraManagerCamera& out, bool initialise = false, bool start = false);
    // A consistent copy of the whole list (entry by entry, GetCamera may see
    // the list change between calls).
    std::vector<CameraManagerCamera> GetCameras() const;
    // The present device whose path equals `path` without regard to case:
    // its path as the driver spells it, in `resolved`.
    bool FindDevice(std::string_view path, std::string& resolved) const;
    // Opens `io` on the present device with this path (compared without
    // case); false when none has it or the open fails.
    bool GetCameraDevice(std::string_view path, CUsbIo& io) override;
    // Binds `thread`'s handle (opened on the device first when needed) to
    // `endpoint` of the present device with this path.
    bool BindPipe(std::string_view path, std::uint8_t endpoint, CUsbIoThread& thread) override;
    // Posts a device change to the main program's window, as a notice
    // does: for a camera that found itself lost.
    void NotifyDeviceChange();

    void RegisterListener(CameraManagerListener* listener);
    void UnregisterListener(CameraManagerListener* listener);
    void SetDeviceChangeNotification(DeviceChangeHook hook);
    void SetSystemFactory(SystemFactory factory);
    bool RemoveCameraSystem(CameraSystem* system);

    // One arrival or removal notice, as the notificator delivers it.
    void HandleNotice(const platform::usb::DeviceNotice& notice);

    platform::usb::GenericDriver& GetDriver() { return driver_; }

private:
    struct DeviceSet {
        platform::usb::Guid guid;
        std::vector<std::string> paths;
    };
    // The notice subscription's view of the manager; cleared, under its
    // lock, before the manager goes.
    struct Gate {
        std::mutex lock;
        CameraManager* manager = nullptr;
    };

    static bool SamePath(std::string_view a, std::string_view b);
    // A scan or an arrival notice lists a device once: a path already
    // listed (compared without case) is not listed again, so that a repeated
    // notice or a second scan leaves no entry behind at the removal.
    void AddPresentCamera(std::string_view path);
    bool Initialize(CameraManagerCamera& entry, bool start);
    // FindDevice, looking at the present devices afresh when the last list
    // does not have the path.
    bool FindPresentDevice(std::string_view path, std::string& resolved);

    platform::usb::Backend* backend_ = nullptr;  // for the default camera systems
    platform::usb::GenericDriver& driver_;
    platform::usb::DeviceNotices& notices_;
    std::atomic<bool> constructed_{false};
    mutable std::mutex hookLock_;
    DeviceChangeHook hook_;
    SystemFactory factory_;
    mutable std::recursive_mutex cameraLock_;
    std::vector<CameraManagerCamera> cameras_;
    std::vector<std::unique_ptr<CameraSystem>> systems_;  // made by Initialize
    std::recursive_mutex listenerLock_;                   // a listener may unregister itself
    std::vector<CameraManagerListener*> listeners_;
    mutable std::mutex deviceLock_;
    std::vector<DeviceSet> deviceSets_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    int subscription_ = 0;
};

} // namespace Orvane
