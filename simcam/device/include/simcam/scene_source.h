#pragma once
// An image source that streams the scene: the head pose of the moment is
// projected onto the camera's sensor, the three markers are drawn as discs
// and encoded as the camera's packets. Frames come paced by the camera's
// frame-rate register, or one per step when a test steps them.
#include <functional>
#include <mutex>

#include "platform/clock.h"
#include "simcam/device.h"
#include "simcam/imaging/packets.h"
#include "simcam/scene/scene.h"

namespace simcam {

class SceneImageSource final : public ImageSource {
public:
    enum class Pacing { FrameRate, Stepped };

    // `pose` gives the head pose at a time since the source was made.
    SceneImageSource(int hardwareRevision, int location, std::function<scene::HeadPose(double seconds)> pose,
                     Pacing pacing = Pacing::FrameRate, platform::Clock& clock = platform::systemClock());

    // Stepped pacing: lets `n` more frames out.
    void Step(int n = 1);
    // Steps not yet taken by the camera.
    int PendingSteps() const;
    // The pose of the last frame sent and how many were sent.
    scene::HeadPose LastPose() const;
    int FramesSent() const;
    // Marker disc radius in pixels.
    void SetMarkerRadius(double r);
    // Gaussian noise of the marker centres (pixels), the same for a seed.
    void SetNoise(double sigmaPixels, std::uint64_t seed);

    bool nextPacket(const StreamState& state, std::vector<std::uint8_t>& packet) override;
    // Paced by the frame rate: until the next frame is due (at most 50 ms).
    platform::Duration retryAfter() const override;

    // Frames per second while the frame-rate register is 0 (100 unless set).
    void SetDefaultFrameRate(double fps);

    // Frames per second the camera streams at for a frame-rate register
    // value (0: the camera's default rate).
    static double FramesPerSecond(int frameRateRegister, double defaultRate = 100.0);

private:
    scene::SceneProjector projector_;
    std::function<scene::HeadPose(double)> pose_;
    Pacing pacing_;
    platform::Clock& clock_;
    platform::Duration start_{};
    mutable std::mutex lock_;
    platform::Duration next_{};
    bool first_ = true;
    int steps_ = 0;
    int sent_ = 0;
    double radius_ = 4.0;
    double defaultRate_ = 100.0;
    std::uint8_t frameId_ = 0;
    scene::HeadPose last_{};
    std::vector<imaging::Disc> discs_;
    imaging::Canvas canvas_;  // redraws only the discs' boxes from frame to frame
};

} // namespace simcam
