// A camera double for the camera system and helpers that queue encoded
// packets in the packet buffer, as the camera's receive side does.
#pragma once

#include "camera/camera_system_facade.h"
#include "simcam/imaging/packets.h"

#include <atomic>
#include <cstring>

namespace testing_support {

class FakeSystemCamera : public Orvane::SystemCamera {
public:
    FakeSystemCamera(int revision = 7, int width = 640, int height = 480)
        : revision(revision), width(width), height(height), weights(Orvane::DefaultGreyscaleWeights())
    {
    }

    int GetHardwareRevision() const override { return revision; }
    int GetWindowWidth() const override { return width; }
    int GetWindowHeight() const override { return height; }
    int GetThreshold() const override { return 128; }
    int GetFrameSendingOptions() const override { return sendingOptions.load(); }
    int GetDisplayOptions() const override { return 0; }
    int GetObjectCap() const override { return 500; }
    const WeightTable& GetGreyscaleWeights() const override { return weights; }
    int GetSwitchState() const override { return switchState.load(); }
    void SetSwitchState(int state) override { switchState.store(state); }

    bool StartCamera() override
    {
        ++starts;
        if (!startSucceeds)
            return false;
        started.store(true);
        return true;
    }
    void StopCamera() override
    {
        ++stops;
        started.store(false);
    }
    bool IsCameraStarted() const override { return started.load(); }
    void SetIlluminationLeds(bool on) override { illumination.store(on ? 1 : 0); }

    int revision, width, height;
    WeightTable weights;
    std::atomic<int> sendingOptions{0};
    std::atomic<int> switchState{0};
    std::atomic<bool> started{false};
    bool startSucceeds = true;
    std::atomic<int> starts{0}, stops{0};
    std::atomic<int> illumination{-1};
};

// Copies an encoded buffer (header word, then data) into a free packet and
// queues it; false when no packet is free.
inline bool QueuePacket(Orvane::CameraSystem::PacketBuffer& buffer, std::span<const std::uint8_t> encoded,
                        double time = 0.0)
{
    Orvane::CameraPacket* p = buffer.TakeFree();
    if (p == nullptr)
        return false;
    const auto split = simcam::imaging::Split(encoded);
    p->SetHeader(split.header);
    p->SetNumBytesInPacket(static_cast<std::uint32_t>(split.data.size()));
    if (!split.data.empty())
        std::memcpy(p->GetBuffer(), split.data.data(), split.data.size());
    p->SetTimeStamp(time);
    buffer.Append(p);
    return true;
}

} // namespace testing_support
