#pragma once
// Shared pieces of the engine tests: a host standing for the main sheet, a
// camera system whose buffers the test fills with frames made from the
// scene projector, and helpers to run the engine one pass at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

#include "camera/camera_system.h"
#include "engine/CameraDataProcessor.h"
#include "simcam/scene/scene.h"
#include "testing/queued_frame.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/test_clock.h"

namespace engine_test {

struct Posted {
    bool toSheet;
    platform::UINT message;
    platform::WPARAM wParam;
};

class FakeHost : public IEngineHost {
public:
    FakeHost()
    {
        CProfile defaults;
        CopyEngineProfile(defaults, profile);
        limits = FullRangeLimits();
    }

    void CopyProfile(CEngineProfile& out) override
    {
        std::lock_guard lock(mutex);
        out = profile;
    }
    std::int32_t CameraRotation() override { return rotation; }
    void CopyGameLimits(CEngineLimits& out) override
    {
        std::lock_guard lock(mutex);
        out = limits;
    }
    std::int32_t ActiveGameId() override { return activeGame; }
    bool CaseStatusLightOption() override { return caseOption; }
    void SetCaseLight(bool on) override
    {
        std::lock_guard lock(mutex);
        caseLight.push_back(on);
    }
    void PostToSheet(platform::UINT m, platform::WPARAM w, platform::LPARAM) override
    {
        std::lock_guard lock(mutex);
        posts.push_back({true, m, w});
    }
    void PostToMainWindow(platform::UINT m, platform::WPARAM w, platform::LPARAM) override
    {
        {
            std::lock_guard lock(mutex);
            posts.push_back({false, m, w});
        }
        if (onMainPost)
            onMainPost(m);
    }

    int CountMain(platform::UINT m)
    {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const Posted& p : posts)
            n += (!p.toSheet && p.message == m) ? 1 : 0;
        return n;
    }
    std::vector<Posted> Posts()
    {
        std::lock_guard lock(mutex);
        return posts;
    }
    void Edit(const std::function<void(CEngineProfile&)>& change)
    {
        std::lock_guard lock(mutex);
        change(profile);
    }

    std::mutex mutex;
    CEngineProfile profile;
    CEngineLimits limits;
    std::atomic<std::int32_t> rotation{0};
    std::atomic<std::int32_t> activeGame{-1};
    std::atomic<bool> caseOption{true};
    std::vector<bool> caseLight;
    std::vector<Posted> posts;
    // Runs on the posting thread, in the middle of the engine's frame.
    std::function<void(platform::UINT)> onMainPost;
};

// A profile whose output is computable by hand: no smoothing, no
// translation compensation, every axis enabled with the linear curve.
inline void PlainProfile(CEngineProfile& p, std::int32_t motionType = 1)
{
    CProfile profile;
    for (auto& axis : profile.Axes) {
        axis.Enabled = 1;
        axis.Inverted = 0;
        axis.SetCurveType(kCurveLinear);
    }
    profile.MotionType = motionType;
    profile.SixDofSmoothing = 0;
    profile.TrueView = 0;
    CopyEngineProfile(profile, p);
}

using Blob = testing_support::FrameBlob;

class EngineTest : public ::testing::Test {
    double nextFrameTime_ = 0.0;

protected:
    static constexpr int kRevision = 8; // 640 x 480, no distortion
    static constexpr int kLocation = 1;

    testing_support::TempRegistry registry;
    testing_support::TempDir dir{"engine-processor"};
    testing_support::TestClock clock;
    FakeHost host;
    Orvane::CameraSystem camera;
    std::unique_ptr<CCameraDataProcessor> engine;
    // What MakeEngine gives the next engine (null: the system's).
    platform::ThreadStarter* threads = nullptr;
    CPoseFileWriter::FileSync poseFileSync = nullptr;
    simcam::scene::SceneProjector scene{kRevision, kLocation, 0};

    void SetUp() override
    {
        camera.GetConfigurationData().SetHardwareRevision(kRevision);
        camera.GetConfigurationData().SetValidState();
        PlainProfile(host.profile);
        engine = MakeEngine();
    }
    void TearDown() override { engine.reset(); }

    std::unique_ptr<CCameraDataProcessor> MakeEngine(std::uint32_t frameWaitMs = 0)
    {
        CCameraDataProcessor::Options o;
        o.clock = &clock;
        o.frameWaitMs = frameWaitMs;
        o.poseFile = dir.file("vistrel.tdf");
        o.registry = registry.store();
        o.threads = threads;
        o.poseFileSync = poseFileSync;
        auto e = std::make_unique<CCameraDataProcessor>(host, camera, o);
        e->ApplyModel(CHeadsetModel::ForLocation(kLocation));
        e->SetupCamera();
        return e;
    }

    // Frames are stamped as the camera stamps them; unless a test gives a
    // time, each comes kFrameGap after the one before, long enough for a
    // head to get to any pose a test puts it in.
    static constexpr double kFrameGap = 0.5; // s

    // Queues one frame with the given blobs and, when `coordinate`, a tracked
    // coordinate at the first blob (or at `at`), taken at `seconds`.
    bool Queue(const std::vector<Blob>& blobs, bool coordinate = true, const Blob* at = nullptr,
               std::optional<double> seconds = std::nullopt)
    {
        const double taken = seconds.value_or(nextFrameTime_);
        nextFrameTime_ = taken + kFrameGap;
        const Blob origin{0, 0};
        const Blob* c = !coordinate ? nullptr : at != nullptr ? at : blobs.empty() ? &origin : &blobs[0];
        return testing_support::QueueFrame(camera, blobs, c, taken * double(platform::Clock::performanceFrequency()));
    }

    std::vector<Blob> ClipBlobs(const simcam::scene::HeadPose& pose)
    {
        simcam::scene::Projection p;
        scene.Project(pose, p);
        EXPECT_TRUE(p.inView);
        std::vector<Blob> blobs;
        for (const auto& px : p.pixels)
            blobs.push_back({px.x, px.y});
        return blobs;
    }

    // One frame of the clip at `pose` (taken at `seconds`, or kFrameGap
    // after the frame before) through one pass of the engine.
    void Pass(const simcam::scene::HeadPose& pose, std::optional<double> seconds = std::nullopt)
    {
        ASSERT_TRUE(Queue(ClipBlobs(pose), true, nullptr, seconds));
        engine->RunPass();
    }

    void Point(double x, double y)
    {
        ASSERT_TRUE(Queue({Blob{x, y}}));
        engine->RunPass();
    }
};

// Points the registry at the client library's folder, as the main program does.
inline void PublishClientFolder(testing_support::TempRegistry& registry, const std::string& folder)
{
    auto store = registry.store();
    ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
    ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey,
                               CVSLEnhanced::kLocationValue, std::u16string(folder.begin(), folder.end()) + u"\\"),
              0);
}

inline bool Finite(const OVPosePacket& r)
{
    for (float v : r.value)
        if (!std::isfinite(v))
            return false;
    return true;
}

} // namespace engine_test
