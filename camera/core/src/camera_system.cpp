#include "camera/camera_system.h"

#include "camera/settings.h"

namespace Orvane {

CameraSystem::CameraSystem(int cameraNumber)
    : cameraNumber_(cameraNumber),
      packetBuffer_(PacketBufferItems),
      frameBuffer_(0),
      coordinateBuffer_(CoordinateBufferItems)
{
    for (int i = 0; i < FrameBufferItems; ++i)
        frameBuffer_.Emplace(Settings::GetMaxNumberOfObjects(), Frame::DefaultObjectGrowth);
}

CameraSystem::~CameraSystem() = default;

void CameraSystem::AttachConfiguration(CameraConfigurationData* configuration)
{
    configuration_ = configuration != nullptr ? configuration : &ownConfiguration_;
}

void CameraSystem::AttachStatusLights(StatusLightPort* port) { lights_.store(port, std::memory_order_release); }

void CameraSystem::SendLight(void (StatusLightPort::*command)())
{
    if (StatusLightPort* port = lights_.load(std::memory_order_acquire))
        (port->*command)();
}

void CameraSystem::StatusGreenOn()
{
    SendLight(&StatusLightPort::StatusOn);
    greenOn_.store(true, std::memory_order_release);
}

void CameraSystem::StatusGreenOff()
{
    SendLight(&StatusLightPort::StatusOff);
    greenOn_.store(false, std::memory_order_release);
}

void CameraSystem::StatusRedOn()
{
    SendLight(&StatusLightPort::StatusRedOn);
    redOn_.store(true, std::memory_order_release);
}

void CameraSystem::StatusRedOff()
{
    SendLight(&StatusLightPort::StatusRedOff);
    redOn_.store(false, std::memory_order_release);
}

TrackedCoordinate* CameraSystem::TakeCoordinateFor(const Frame& frame)
{
    const std::uint64_t wanted = frame.sequence;
    for (;;) {
        TrackedCoordinate* c = coordinateBuffer_.TakeFilledIf(
            [wanted](const TrackedCoordinate& t) { return wanted == 0 || t.frameSequence <= wanted; });
        if (c == nullptr)
            return nullptr;
        if (wanted == 0 || c->frameSequence == wanted || c->frameSequence == 0)
            return c;
        // An older frame's coordinate: its frame has gone by.
        coordinateBuffer_.GiveBack(c);
    }
}

} // namespace Orvane
