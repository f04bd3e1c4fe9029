// The scene as the simulated camera's image stream.
#include "simcam/scene_source.h"

#include <algorithm>
#include <chrono>

#include "simcam/imaging/render.h"

namespace simcam {

SceneImageSource::SceneImageSource(int hardwareRevision, int location,
                                   std::function<scene::HeadPose(double seconds)> pose, Pacing pacing,
                                   platform::Clock& clock)
    : projector_(hardwareRevision, location, 0), pose_(std::move(pose)), pacing_(pacing), clock_(clock),
      start_(clock.now())
{
    discs_.reserve(3);
}

void SceneImageSource::Step(int n)
{
    std::lock_guard lock(lock_);
    steps_ += n;
}

int SceneImageSource::PendingSteps() const
{
    std::lock_guard lock(lock_);
    return steps_;
}

scene::HeadPose SceneImageSource::LastPose() const
{
    std::lock_guard lock(lock_);
    return last_;
}

int SceneImageSource::FramesSent() const
{
    std::lock_guard lock(lock_);
    return sent_;
}

void SceneImageSource::SetMarkerRadius(double r)
{
    std::lock_guard lock(lock_);
    radius_ = r;
}

void SceneImageSource::SetNoise(double sigmaPixels, std::uint64_t seed)
{
    std::lock_guard lock(lock_);
    projector_.SetNoise(sigmaPixels, seed);
}

void SceneImageSource::SetDefaultFrameRate(double fps)
{
    std::lock_guard lock(lock_);
    if (fps > 0.0)
        defaultRate_ = fps;
}

double SceneImageSource::FramesPerSecond(int frameRateRegister, double defaultRate)
{
    // The register counts frames per second; 0 leaves the camera's default.
    return frameRateRegister > 0 ? static_cast<double>(frameRateRegister) : defaultRate;
}

platform::Duration SceneImageSource::retryAfter() const
{
    using namespace std::chrono_literals;
    std::lock_guard lock(lock_);
    if (pacing_ == Pacing::Stepped || first_)
        return 1ms;
    return std::clamp<platform::Duration>(next_ - clock_.now(), platform::Duration::zero(), 50ms);
}

bool SceneImageSource::nextPacket(const StreamState& state, std::vector<std::uint8_t>& packet)
{
    std::lock_guard lock(lock_);
    const platform::Duration now = clock_.now();
    if (pacing_ == Pacing::Stepped) {
        if (steps_ <= 0)
            return false;
        --steps_;
    } else {
        if (!first_ && now < next_)
            return false;
        const auto interval = std::chrono::duration_cast<platform::Duration>(
            std::chrono::duration<double>(1.0 / FramesPerSecond(state.frameRateRegister, defaultRate_)));
        next_ = (first_ ? now : next_) + interval;
        if (next_ < now)
            next_ = now + interval;  // behind: no burst of stale frames
        first_ = false;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    last_ = pose_(seconds);
    scene::Projection projection;
    projector_.Project(last_, projection);

    const bool large = state.revision == 7 || state.revision == 8 || state.revision == 9 || state.revision == 12;
    imaging::PacketParams params;
    params.revision = state.revision;
    params.width = large ? 640 : 353;
    params.height = large ? 480 : 289;
    params.threshold = state.threshold > 0 ? state.threshold : 128;
    params.frameId = frameId_++;
    discs_.clear();
    if (projection.inView)
        for (const auto& p : projection.pixels)
            discs_.push_back({p.x, p.y, radius_, 255});
    packet = imaging::EncodePacket(canvas_.Draw(discs_, params.width, params.height), params);
    ++sent_;
    return true;
}

} // namespace simcam
