#pragma once
// One camera's results as the main program reaches them: the double buffers
// that carry finished frames and tracked coordinates to the tracking engine,
// the camera's configuration block, and its status lights.
//
// The buffers are the only road frames and coordinates take from the camera
// library's threads to the engine's thread. A frame and a coordinate are not
// queued in lockstep (a frame where nothing is tracked comes without one, and
// a coordinate is dropped when none is free), so each coordinate carries the
// sequence number of its frame: pair them with TakeCoordinateFor.
#include "camera/camera_packet.h"
#include "camera/configuration_data.h"
#include "camera/double_buffer.h"
#include "camera/frame.h"
#include "camera/tracked_coordinate.h"

#include <atomic>
#include <cstdint>

namespace Orvane {

// Where the status-light commands go: the camera's command channel. The
// commands have no reply; an implementation drops them while its device is
// not open.
class StatusLightPort {
public:
    virtual ~StatusLightPort() = default;
    virtual void StatusOn() = 0;      // green on:  [0x10][0x20][0x20]
    virtual void StatusOff() = 0;     // green off: [0x10][0x00][0x20]
    virtual void StatusRedOn() = 0;   // red on:    [0x10][0x10][0x10]
    virtual void StatusRedOff() = 0;  // red off:   [0x10][0x00][0x10]
};

class CameraSystem {
public:
    static constexpr int PacketBufferItems = 30;
    static constexpr int FrameBufferItems = 5;
    static constexpr int CoordinateBufferItems = 5;

    using PacketBuffer = DoubleBuffer<CameraPacket>;
    using FrameBuffer = DoubleBuffer<Frame>;
    using CoordinateBuffer = DoubleBuffer<TrackedCoordinate>;

    // Creates the three buffers: 30 packets, 5 frames of 400 objects (growth
    // 400) and 5 coordinate records.
    explicit CameraSystem(int cameraNumber = 0);
    CameraSystem(const CameraSystem&) = delete;
    CameraSystem& operator=(const CameraSystem&) = delete;
    virtual ~CameraSystem();

    int GetCameraNumber() const { return cameraNumber_.load(std::memory_order_acquire); }
    // Only stores the number; the camera keeps its own device.
    void SetCameraNumber(int number) { cameraNumber_.store(number, std::memory_order_release); }

    // The consumer waits on the frame buffer, takes the oldest frame, reads
    // it in place and gives it back when it takes the next one.
    FrameBuffer& GetFrameBuffer() { return frameBuffer_; }
    // Centres of the tracked object, one per frame in which it was tracked.
    CoordinateBuffer& GetTrackedCoordBuffer() { return coordinateBuffer_; }
    // Raw packets from the camera's image receive path to the decoder.
    PacketBuffer& GetPacketBuffer() { return packetBuffer_; }

    // The camera's configuration block; its getters wait while a read from
    // the camera is under way.
    CameraConfigurationData& GetConfigurationData() { return *configuration_; }
    const CameraConfigurationData& GetConfigurationData() const { return *configuration_; }

    // Switch the camera's green or red light and remember the state. They
    // report nothing: with no port, or a port whose device is not open, the
    // command is dropped and the remembered state changes all the same.
    // Callable from any thread.
    void StatusGreenOn();
    void StatusGreenOff();
    void StatusRedOn();
    void StatusRedOff();
    bool IsStatusGreenOn() const { return greenOn_.load(std::memory_order_acquire); }
    bool IsStatusRedOn() const { return redOn_.load(std::memory_order_acquire); }

    // Consumer helper: the queued coordinate computed for `frame`, or null.
    // Coordinates of earlier frames are given back on the way (they can
    // never be paired any more); a coordinate of a later frame stays queued.
    // A frame or coordinate without a number (0) pairs with the oldest
    // coordinate. The caller gives the returned record back as usual.
    TrackedCoordinate* TakeCoordinateFor(const Frame& frame);

    // The camera that owns the configuration block and carries out the
    // light commands. Both stay owned by the caller and must outlive this
    // system (or be detached first). A null block goes back to the system's
    // own.
    void AttachConfiguration(CameraConfigurationData* configuration);
    void AttachStatusLights(StatusLightPort* port);

    // Producer helper: the number for the next delivered frame (1, 2, ...).
    std::uint64_t NextFrameSequence() { return frameSequence_.fetch_add(1, std::memory_order_relaxed) + 1; }

private:
    void SendLight(void (StatusLightPort::*command)());

    std::atomic<int> cameraNumber_;
    PacketBuffer packetBuffer_;
    FrameBuffer frameBuffer_;
    CoordinateBuffer coordinateBuffer_;
    CameraConfigurationData ownConfiguration_;
    CameraConfigurationData* configuration_ = &ownConfiguration_;
    std::atomic<StatusLightPort*> lights_{nullptr};
    std::atomic<bool> greenOn_{false};
    std::atomic<bool> redOn_{false};
    std::atomic<std::uint64_t> frameSequence_{0};
};

} // namespace Orvane
