#pragma once
// The running camera system: the Orvane::CameraSystem the engine sees (its
// buffers, configuration block and status lights), plus the parts that fill
// it: the packet processor thread, the trackable collection with its scorer
// and the configuration script, wired to the system's buffers, and Start and
// Stop over the camera.
#include "camera/camera_system.h"
#include "camera/config_script.h"
#include "camera/packet_processor.h"
#include "camera/system_camera.h"
#include "camera/trackables.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

namespace Orvane {

class CameraManager;

class CameraSystemFacade : public CameraSystem {
public:
    static constexpr int FirstManagedCamera = 1024;
    static constexpr int LastManagedCamera = 2047;

    struct Options {
        // Pause after stopping the processor and after stopping the camera.
        std::uint32_t stopPauseMs = 50;
        // Cameras the camera manager lists (numbers 1024.. index them). The
        // default asks the camera manager.
        std::function<int()> managedCameraCount;
        // Sleeps for the stop pauses (the system clock when null).
        platform::Clock* clock = nullptr;
        // The camera's LEDs, for applying a configuration script (none: the
        // script's score values are applied and the LEDs count as failed).
        CameraLedControl* leds = nullptr;
        // The camera manager to ask (null: the library's, made on first use).
        CameraManager* manager = nullptr;
    };

    // Makes the system's camera once the system's buffers exist (a device
    // camera queues its packets in GetPacketBuffer()).
    using CameraFactory = std::function<std::unique_ptr<SystemCamera>(CameraSystem& system)>;

    // The camera stays owned by the caller and must outlive the system.
    CameraSystemFacade(int cameraNumber, SystemCamera& camera);
    CameraSystemFacade(int cameraNumber, SystemCamera& camera, Options options);
    // The system owns the camera the factory makes and destroys it last;
    // throws OVRuntimeException when the factory makes none.
    CameraSystemFacade(int cameraNumber, const CameraFactory& makeCamera, Options options);
    // Stops when started, then joins every thread the system runs.
    ~CameraSystemFacade() override;

    // Starts the camera, then the processor thread. For a managed camera
    // number with no such managed camera: false, nothing started. When the
    // camera does not start: false, and the processor is stopped again.
    // Otherwise records the green flag (when true) and the illumination
    // flag (when true) in the script and switches the illumination LEDs.
    bool Start(bool greenStatus, bool illumination);
    // Stops the processor thread, then the camera.
    void Stop();
    // Picks the device: the manager's first camera (its path, given to the
    // camera while its device is not open), or the own driver's device 0
    // when the manager lists none.
    void ProbeForDevices();
    bool IsStopped() const { return stopped_.load(std::memory_order_acquire); }

    SystemCamera& GetCamera() { return camera_; }
    CameraPacketProcessor& GetPacketProcessor() { return processor_; }
    TrackableCollection& GetTrackables() { return collection_; }
    CameraConfigScript& GetConfiguration() { return script_; }
    void SetConfiguration(const CameraConfigScript& script) { script_ = script; }

    // The configuration script, over this system's own scorer (the one its
    // frames are scored with). Each returns whether it fully took.
    bool ReadConfigFile(std::string_view path) { return script_.ReadXml(path); }
    bool WriteConfigFile(std::string_view path);
    bool ApplyConfiguration();
    bool ApplyConfiguration(std::string_view path);
    bool ApplyConfiguration(const CameraConfigScript& script);

    int GetSwitchState() const { return camera_.GetSwitchState(); }
    void SetSwitchState(int state) { camera_.SetSwitchState(state); }
    bool IsTracking() const { return collection_.GetScorer().IsTracking(); }
    // Forwarded to the scorer.
    void SetScorerValues(int name, double min, double max, double best)
    {
        collection_.GetScorer().SetValues(name, min, max, best);
    }
    void SetScorerValues(int name, double min, double max, double best, double outOfRange)
    {
        collection_.GetScorer().SetValues(name, min, max, best, outOfRange);
    }
    double GetScorerMinValue(int name) const { return collection_.GetScorer().GetMinValue(name); }
    double GetScorerMaxValue(int name) const { return collection_.GetScorer().GetMaxValue(name); }
    double GetScorerBestValue(int name) const { return collection_.GetScorer().GetBestValue(name); }
    double GetScorerOutsideRangeValue(int name) const { return collection_.GetScorer().GetOutsideRangeValue(name); }
    double GetScorerWeight(int name) const { return collection_.GetScorer().GetWeight(name); }
    void SetScorerWeight(int name, double value) { collection_.GetScorer().SetWeight(name, value); }

    // Gives the library's camera manager (made now when there is none) the
    // main program's device-change window.
    static void RegisterNotificationWindow(std::function<void(unsigned, unsigned, long)> window);

    static bool GetScoringEnabled() { return TrackableCollection::GetScoringEnabled(); }
    static void SetScoringEnabled(bool value) { TrackableCollection::SetScoringEnabled(value); }

private:
    void Wire();
    CameraManager& Manager() const;
    // Scores a delivered frame. A frame delivered in the processor's spare
    // frame is never queued, so it queues no coordinate either.
    static void ScoreFrame(Frame* frame, void* system);

    std::unique_ptr<SystemCamera> ownedCamera_;  // destroyed after everything that uses it
    SystemCamera& camera_;
    Options options_;
    std::atomic<bool> stopped_{true};
    std::mutex runLock_;  // Start and Stop
    CameraConfigScript script_;
    CameraPacketProcessor processor_;
    TrackableCollection collection_;
};

} // namespace Orvane
