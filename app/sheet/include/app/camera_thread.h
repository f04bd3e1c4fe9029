#pragma once
// The thread that keeps the camera going: it notices the camera coming and
// going, starts and restarts the camera system, serves the LED and status
// read requests for the pages, and loads and unloads the game view library.
// It sleeps on an auto-reset wake event between passes.
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/messages.h"
#include "platform/modules.h"
#include "platform/sync.h"

// What the thread needs of the camera system.
class ICameraControl {
public:
    virtual ~ICameraControl() = default;
    virtual void RegisterNotificationWindow() = 0;
    virtual void ProbeForDevices() = 0;
    virtual bool Start(bool greenStatus, bool illumination) = 0;
    virtual void Stop() = 0;
    // From another thread: a start under way ends soon, and later ones fail
    // at once, until lifted with false (the thread is being stopped).
    virtual void CancelStarts(bool cancel) = 0;
    virtual bool IsDevicePresent() = 0;
    virtual bool IsUsbDeviceOpen() = 0;
    virtual void SetCameraNumber(int number) = 0;
    // Whether the camera's driver sees a device; may update the number.
    virtual bool QueryUsbDriver(int& cameraNumber) = 0;
    virtual unsigned char ReadLeds() = 0;
    // Reads the configuration data; returns the hardware revision.
    virtual int ReadConfiguration() = 0;
    virtual bool ReadCameraStatus(std::array<std::uint8_t, 5>& status) = 0;
};

// What the thread tells the rest of the program; called on the thread.
class ICameraThreadHost {
public:
    virtual ~ICameraThreadHost() = default;
    // Posts WM_NOTIFY_PAGES with the code to the sheet.
    virtual void PostNotifyPages(platform::UINT code) = 0;
    // Posts WM_UPDATE_STATUS to the main window.
    virtual void PostUpdateStatus() = 0;
    // After each successful start: camera options, engine camera model.
    virtual void OnCameraStarted() = 0;
    // After the first start of the process: the one-shot re-centre timer.
    virtual void SetRecenterTimer() = 0;
};

class CCameraThread {
public:
    static constexpr platform::UINT kReadLeds = 1;
    static constexpr platform::UINT kReadStatus = 2;

    struct Options {
        // Loaded from an installed update in `workFolder` when there is one
        // (see ViewLibraryFile), else as the module loader finds it.
        std::string viewsModule = "VSLViews.dll";
        std::filesystem::path workFolder{"."};
        // Pause before retrying a start the driver says should work.
        std::uint32_t retryMs = 100;
        // Slice of the wait between passes (the wake event ends it early).
        std::uint32_t waitSliceMs = 1000;
        // Poll step of the user-interface side's waits.
        std::uint32_t pollStepMs = 100;
    };

    CCameraThread(ICameraControl& camera, ICameraThreadHost& host);
    CCameraThread(ICameraControl& camera, ICameraThreadHost& host, Options options);
    ~CCameraThread();
    CCameraThread(const CCameraThread&) = delete;
    CCameraThread& operator=(const CCameraThread&) = delete;

    // Sets the run flag and starts the thread.
    void Start();
    // Restart request := 1 and wakes the thread.
    void Wake();
    // Ends and joins the thread (views unloaded first).
    void Stop();
    // Views wanted or not; returns once an unload has taken place.
    void SetViewsEnabled(bool enabled);
    void RequestRead(unsigned bits) { readRequests_.fetch_or(bits); }

    unsigned GetViewsVersion() const { return viewsVersion_.load(); }
    bool ViewsLoaded() const { return viewsLoaded_.load(); }
    bool DevicePresent() const { return present_.load(); }
    bool Configuring() const { return configuring_.load(); }
    bool CameraStarted() const { return started_.load(); }
    bool Running() const { return running_.load(); }
    bool RunFlag() const { return run_.load(); }
    unsigned char LastLedState() const { return leds_.load(); }
    std::array<std::uint8_t, 5> CameraStatus() const;
    int HardwareRevision() const { return revision_.load(); }
    // Whether the next start is the process's first (the re-centre timer).
    void SetFirstStartPending(bool pending) { firstStart_.store(pending); }
    // Power notices: suspend stops the camera; resume stops and starts it,
    // and leaves a start that failed to the thread's next pass.
    void Suspend();
    void Resume();

private:
    void Body();
    // Reads whether the device is there and open; on a change tells the
    // pages and the status bar. A started camera that is not there is
    // stopped.
    void UpdatePresence();
    void ServeViews();
    void UnloadViews();

    ICameraControl& camera_;
    ICameraThreadHost& host_;
    Options options_;
    platform::Event wake_{platform::Event::Reset::Auto};
    std::atomic<bool> run_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> viewsEnabled_{false};
    std::atomic<bool> viewsLoaded_{false};
    std::atomic<bool> restart_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> present_{false};
    std::atomic<bool> configuring_{false};
    std::atomic<bool> firstStart_{true};
    std::atomic<unsigned> readRequests_{0};
    std::atomic<unsigned char> leds_{0};
    std::atomic<unsigned> viewsVersion_{0};
    std::atomic<int> revision_{0};
    mutable platform::CriticalSection statusLock_;
    std::array<std::uint8_t, 5> status_{};
    // Touched on the thread only.
    std::optional<platform::Module> views_;
    int (*viewsStop_)() = nullptr;
    platform::Thread thread_;
};
