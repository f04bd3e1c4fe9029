#pragma once
// The running camera system: the Orvane::CameraSystem the engine sees (its
// buffers, configuration block and status lights), plus the parts that fill
// it: the packet processor thread, the trackable collection with its scorer
// and the configuration script, wired to the system's buffers, Start and
// Stop over the camera, and the camera operations the main program reaches
// through the system (LEDs, options, video, I2C, EEPROM, raw commands),
// with the LED and option states the system remembers.
#include "camera/camera_commands.h"
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
#include <span>
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
    // The script itself, for the thread that owns the set-up; the system's
    // own uses (I2C writes, start flags, files) go through a lock.
    CameraConfigScript& GetConfiguration() { return script_; }
    void SetConfiguration(const CameraConfigScript& script);
    // Copies the block's values (not its read state) into the system's
    // configuration block, the one the engine reads.
    void SetConfigurationData(const CameraConfigurationData& data) { GetConfigurationData() = data; }

    // ---- camera operations the system forwards ----
    // Each goes to the camera's commands (GetCamera().GetCommands(), the
    // device camera), as do the green and red status lights of the base.
    // With none (a camera double) nothing is sent: int results are -1, bool
    // results false. Byte-sized arguments outside 0-255 are refused the same
    // way, before anything is sent, remembered or recorded: a register
    // number cut to its low byte would name another register.
    struct CameraOptions {
        int threshold = 116;  // the camera's own until options are set
        bool invert = false;
        bool pulse = false;
    };
    // Remembers the three values, then sets them on the camera.
    int SetCameraOptions(int threshold, bool invert, bool pulse);
    CameraOptions GetCameraOptions() const;
    // The illumination LEDs; the state is remembered, and the camera wants
    // it again after a restart.
    void IlluminationLedOn();
    void IlluminationLedOff();
    bool IsIlluminationOn() const { return illuminationOn_.load(std::memory_order_acquire); }
    // The case light; remembered like the status lights.
    void StatusCaseOn();
    void StatusCaseOff();
    bool IsStatusCaseOn() const { return caseOn_.load(std::memory_order_acquire); }
    int TurnVideoOn();
    int TurnVideoOff();
    int SetIRLEDBrightness(int brightness);
    int WriteEEPROM16Data(int addressHigh, int addressLow, int data);
    int ReadEEPROM16Data(int addressHigh, int addressLow, int data);
    // Queues the frame and waits (bounded) until it is sent; false when it
    // was not.
    bool SendCommandBlocking(std::span<const std::uint8_t> frame);
    int Unlock(unsigned char lock);
    bool OpenUsbDevice() { return camera_.OpenUsbDevice(); }
    // An I2C register write. Once the camera has taken it, the write is
    // added to the configuration script as well.
    int WriteI2CData(int device, int reg, int data);
    // 1 with the register's value in `value`, 0 (value 0) when the read
    // failed or was refused.
    int ReadI2CData(int device, int reg, unsigned& value);
    // Queues a complete frame that expects no reply; false when there is no
    // camera to send to or the frame is longer than its output buffer.
    bool SendCommand(std::span<const std::uint8_t> frame);

    bool IsUsbDeviceOpen() const { return camera_.IsUsbDeviceOpen(); }
    bool IsDevicePresent();
    void CloseUsbDevice();
    // Writes the bytes straight to the device, past the command queue.
    bool WriteUsbBuffer(std::span<const std::uint8_t> bytes);
    // The device the camera talks to (closed, on the own driver, without one).
    Camera::UsbDevice GetUsbDevice();
    void SetWantEmptyFrames(bool on);
    void SetDeConfigure(bool on);
    // The next unmatched reply with this reply code goes to `raw` (0 disarms).
    void CaptureNextPacket(unsigned replyCode, DoubleBuffer<RawPacket>* raw);

    // The system's packet buffer, which the processor decodes from.
    PacketBuffer& GetCameraPacketBuffer() { return GetPacketBuffer(); }
    // Where the camera queues its packets (the system's packet buffer unless
    // SetPacketBuffer sent them elsewhere).
    PacketBuffer* GetPacketBufferQueue();
    void SetPacketBuffer(PacketBuffer* packets);

    // The configuration script, over this system's own scorer (the one its
    // frames are scored with). Each returns whether it fully took.
    bool ReadConfigFile(std::string_view path);
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
    class DevicePort;
    class ManagerLocator;

    void Wire();
    CameraManager& Manager() const;
    // The manager to open devices through and tell of a lost camera: the
    // one in the options, else the library's when it exists (null: none).
    CameraManager* KnownManager() const;
    CameraCommands* Commands() { return camera_.GetCommands(); }
    // Scores a delivered frame. A frame delivered in the processor's spare
    // frame is never queued, so it queues no coordinate either.
    static void ScoreFrame(Frame* frame, void* system);

    std::unique_ptr<SystemCamera> ownedCamera_;  // destroyed after everything that uses it
    SystemCamera& camera_;
    // The status lights and the script's LED control, over the camera.
    std::unique_ptr<DevicePort> port_;
    std::unique_ptr<ManagerLocator> locator_;
    Options options_;
    std::atomic<bool> stopped_{true};
    std::mutex runLock_;  // Start and Stop
    mutable std::mutex optionsLock_;
    CameraOptions cameraOptions_{};
    std::atomic<bool> illuminationOn_{false};
    std::atomic<bool> caseOn_{false};
    std::mutex scriptLock_;
    CameraConfigScript script_;
    CameraPacketProcessor processor_;
    TrackableCollection collection_;
};

} // namespace Orvane
