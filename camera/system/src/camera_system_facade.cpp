#include "camera/camera_system_facade.h"

#include "camera/camera_manager.h"
#include "camera/exceptions.h"

#include <chrono>
#include <string>
#include <utility>

namespace Orvane {

CameraSystemFacade::CameraSystemFacade(int cameraNumber, SystemCamera& camera)
    : CameraSystemFacade(cameraNumber, camera, Options{})
{
}

namespace {

std::unique_ptr<SystemCamera> MadeCamera(const CameraSystemFacade::CameraFactory& make, CameraSystem& system)
{
    std::unique_ptr<SystemCamera> camera = make ? make(system) : nullptr;
    if (!camera)
        throw OVRuntimeException(std::string("CameraSystem - no camera could be made."));
    return camera;
}

} // namespace

CameraSystemFacade::CameraSystemFacade(int cameraNumber, const CameraFactory& makeCamera, Options options)
    : CameraSystem(cameraNumber), ownedCamera_(MadeCamera(makeCamera, *this)), camera_(*ownedCamera_),
      options_(std::move(options))
{
    Wire();
}

CameraSystemFacade::CameraSystemFacade(int cameraNumber, SystemCamera& camera, Options options)
    : CameraSystem(cameraNumber), camera_(camera), options_(std::move(options))
{
    Wire();
}

void CameraSystemFacade::Wire()
{
    processor_.SetPacketBuffer(&GetPacketBuffer());
    processor_.SetFrameBuffer(&GetFrameBuffer());
    processor_.SetCamera(&camera_);
    processor_.SetFrameCamera(camera_.GetDevice());
    processor_.SetSequenceSource(this);
    collection_.SetTrackedCoordBuffer(&GetTrackedCoordBuffer());
    processor_.AddNewFrameCallback(&CameraSystemFacade::ScoreFrame, this);
}

CameraSystemFacade::~CameraSystemFacade()
{
    if (!IsStopped())
        Stop();
    // A failed start may have left nothing running; joining again is harmless.
    processor_.Stop();
}

void CameraSystemFacade::RegisterNotificationWindow(std::function<void(unsigned, unsigned, long)> window)
{
    CameraManager::X().SetDeviceChangeNotification(std::move(window));
}

bool CameraSystemFacade::WriteConfigFile(std::string_view path)
{
    script_.GetScorerConfig(collection_.GetScorer());
    return script_.WriteXml(path);
}

bool CameraSystemFacade::ApplyConfiguration(const CameraConfigScript& script)
{
    if (options_.leds == nullptr) {
        script.SetScorerValues(collection_.GetScorer());
        return false;
    }
    return Orvane::ApplyConfiguration(script, collection_.GetScorer(), *options_.leds);
}

bool CameraSystemFacade::ApplyConfiguration()
{
    return ApplyConfiguration(script_);
}

bool CameraSystemFacade::ApplyConfiguration(std::string_view path)
{
    if (!script_.ReadXml(path))
        return false;
    return ApplyConfiguration(script_);
}

void CameraSystemFacade::ScoreFrame(Frame* frame, void* system)
{
    auto& self = *static_cast<CameraSystemFacade*>(system);
    if (!self.processor_.IsSpareFrame(frame)) {
        TrackableCollection::NewFrameCallback(frame, &self.collection_);
        return;
    }
    // Both run on the processor thread: nothing else reads the pointer.
    self.collection_.SetTrackedCoordBuffer(nullptr);
    TrackableCollection::NewFrameCallback(frame, &self.collection_);
    self.collection_.SetTrackedCoordBuffer(&self.GetTrackedCoordBuffer());
}

bool CameraSystemFacade::Start(bool greenStatus, bool illumination)
{
    std::lock_guard lock(runLock_);
    const int number = GetCameraNumber();
    if (number >= FirstManagedCamera && number <= LastManagedCamera) {
        const int known = options_.managedCameraCount ? options_.managedCameraCount() : Manager().GetCameraCount();
        if (number - FirstManagedCamera >= known)
            return false;
        if (camera_.IsCameraStarted())
            return true;
    }
    const bool started = camera_.StartCamera();
    processor_.Start();
    if (!started) {
        // Nothing would stop the thread again: the system counts as stopped.
        processor_.Stop();
        return false;
    }
    stopped_.store(false, std::memory_order_release);
    if (greenStatus)
        script_.SetGreenStatusLedOn(true);
    if (illumination) {
        script_.SetIlluminationLedsOn(true);
        camera_.SetIlluminationLeds(true);
    } else {
        camera_.SetIlluminationLeds(false);
    }
    return true;
}

CameraManager& CameraSystemFacade::Manager() const
{
    return options_.manager ? *options_.manager : CameraManager::X();
}

void CameraSystemFacade::ProbeForDevices()
{
    CameraManagerCamera first;
    if (!Manager().GetCamera(0, first)) {
        camera_.UseOwnDevice(0);
        return;
    }
    if (!camera_.IsUsbDeviceOpen())
        camera_.UseUsbioDevice(first.GetDevicePath());
}

void CameraSystemFacade::Stop()
{
    std::lock_guard lock(runLock_);
    platform::Clock& clock = options_.clock ? *options_.clock : platform::systemClock();
    stopped_.store(true, std::memory_order_release);
    processor_.Stop();
    clock.sleepFor(std::chrono::milliseconds(options_.stopPauseMs));
    camera_.StopCamera();
    clock.sleepFor(std::chrono::milliseconds(options_.stopPauseMs));
}

} // namespace Orvane
