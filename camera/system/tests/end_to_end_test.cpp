// The whole road of a camera frame: the simulated camera streams the scene,
// the camera system turns its packets into frames and coordinates, the
// engine computes and publishes the pose, and a game client in another
// process reads it. Unplugging stops the stream; after a replug a restart
// resumes tracking; stopping joins every thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "../../../engine/processor/tests/engine_fixture.h"
#include "camera/camera_system_facade.h"
#include "camera/device_camera.h"
#include "simcam/hub.h"
#include "simcam/scene_source.h"
#include "testing/camera_timing.h"
#include "testing/temp_dir.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"
#include "testing/test_clock.h"

#ifdef OVCLIENT_DIR
#include "testing/client_process.h"
#endif

namespace {

using namespace std::chrono_literals;
using simcam::scene::HeadPose;

constexpr int kRevision = 8;
constexpr int kLocation = 1;
constexpr double kAngleRaw = 4095.75;
constexpr double kPositionRaw = 4914.900195300579;

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        simcam::Model m;
        m.revision = kRevision;
        m.fpga = simcam::FpgaStart::Unconfigured;
        device = hub.addOwn(0, m);
        {
            std::ofstream out(dir.file("camera.bit"), std::ios::binary);
            for (int i = 0; i < 400; ++i)
                out.put(static_cast<char>(i * 7 + 3));
        }
        source = std::make_shared<simcam::SceneImageSource>(
            kRevision, kLocation,
            [this](double) {
                std::lock_guard lock(poseLock);
                return pose;
            },
            simcam::SceneImageSource::Pacing::Stepped);
        source->SetMarkerRadius(6.0);
        device->setImageSource(source);

        Orvane::CameraSystemFacade::Options options;
        options.stopPauseMs = 0;
        options.clock = &clock;
        system = std::make_unique<Orvane::CameraSystemFacade>(
            0, Orvane::MakeDeviceCameraFactory(hub, 0, testing_support::FastCameraTiming(), dir.path(), clock), options);

        engine_test::PlainProfile(host.profile);
        CCameraDataProcessor::Options o;
        o.clock = &clock;
        o.frameWaitMs = 20;
        o.poseFile = dir.file("vistrel.tdf");
        o.registry = registry.store();
#ifdef OVCLIENT_DIR
        auto store = registry.store();
        const std::string folder = OVCLIENT_DIR;
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey,
                                   CVSLEnhanced::kLocationValue, std::u16string(folder.begin(), folder.end()) + u"\\"),
                  0);
#endif
        engine = std::make_unique<CCameraDataProcessor>(host, *system, o);
        engine->ApplyModel(CHeadsetModel::ForLocation(kLocation));
    }

    void TearDown() override
    {
        if (engine)
            engine->Stop();
        engine.reset();
        system.reset();
    }

    void SetPose(const HeadPose& p)
    {
        std::lock_guard lock(poseLock);
        pose = p;
    }

    // Streams frames of `p` until the engine has taken in `count` frames
    // drawn after the pose changed. Counting publishes is not enough: frames
    // of the earlier pose may still be on their way (a slow build lets several
    // pile up), and a lost camera publishes a zero pose without any frame.
    bool Publish(const HeadPose& p, std::uint32_t count)
    {
        SetPose(p);
        // The source draws the pose of the moment: from here on every frame shows `p`.
        const int first = source->FramesSent();
        const int last = first + static_cast<int>(count) - 1;
        const std::uint32_t start = engine->GetPublishCount();
        Orvane::Frame held;
        // The engine lets go of its frame just before it takes the next one:
        // once seen, the frame stays reached.
        const auto reached = [&] {
            if (engine->GetPublishCount() < start + count || !engine->CopyHeldFrame(held) || held.frameId < 0)
                return false;
            // Frame ids count round in a byte.
            return static_cast<std::int8_t>(static_cast<std::uint8_t>(held.frameId - last)) >= 0;
        };
        for (int i = 0; i < 2000; ++i) {
            if (reached())
                return true;
            if (source->PendingSteps() == 0)
                source->Step();
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    void ExpectFollows(const HeadPose& p)
    {
        const auto truth = scene.TruthOf(p);
        const auto centre = scene.TruthOf(HeadPose{});
        const CPoseAxes raw = engine->RawAxes();
        // Drawn and decoded markers: a pixel's worth of slack.
        EXPECT_NEAR(raw[kPoseYaw], -(truth.yaw - centre.yaw) * kAngleRaw / 45, 0.03 * kAngleRaw);
        EXPECT_NEAR(raw[kPosePitch], -(truth.pitch - centre.pitch) * kAngleRaw / 45, 0.03 * kAngleRaw);
        EXPECT_NEAR(raw[kPoseX], (truth.x - centre.x) / 200 * kPositionRaw, 0.03 * kPositionRaw);
        const CPoseAxes out = engine->OutputAxes();
        EXPECT_NEAR(out[kPoseYaw], CCameraDataProcessor::ComputeAxis(host.profile, raw[kPoseYaw] * 45 / kAngleRaw, 0),
                    1e-6);
        EXPECT_EQ(engine->PublishedRecord().value[2], static_cast<float>(out[kPoseYaw]));
    }

    testing_support::TempRegistry registry;
    testing_support::TempSession session;
    testing_support::TempDir dir{"end-to-end"};
    testing_support::TestClock clock;
    engine_test::FakeHost host;
    simcam::Hub hub;
    std::shared_ptr<simcam::Device> device;
    std::mutex poseLock;
    HeadPose pose{};
    std::shared_ptr<simcam::SceneImageSource> source;
    simcam::scene::SceneProjector scene{kRevision, kLocation, 0};
    std::unique_ptr<Orvane::CameraSystemFacade> system;
    std::unique_ptr<CCameraDataProcessor> engine;
};

TEST_F(EndToEndTest, PoseFollowsTheSceneAndResumesAfterReplug)
{
    ASSERT_TRUE(system->Start(true, true));
    engine->SetupCamera();
    ASSERT_EQ(engine->Start(), 0u);

    // The first computed frame is the centre.
    ASSERT_TRUE(Publish(HeadPose{}, 1));
    const HeadPose turned{.yaw = 12, .pitch = -6, .x = 20};
    ASSERT_TRUE(Publish(turned, 5));
    ExpectFollows(turned);
    EXPECT_LT(engine->PublishedRecord().value[2], 0.0f) << "yawing to the left gives a negative published yaw";

#ifdef OVCLIENT_DIR
    {
        testing_support::ClientProcess game(std::string(OVCLIENT_BIN) + "/Other.exe", OVCLIENT_LIBRARY);
        ASSERT_TRUE(game.ready());
        game.ask("window");
        ASSERT_EQ(game.ask("regwin"), "0");
        ASSERT_EQ(game.ask("profile 2302"), "0");
        ASSERT_EQ(game.ask("start"), "0");
        ASSERT_TRUE(Publish(turned, 3));
        std::vector<double> f;
        OVPosePacket mine{};
        for (int i = 0; i < 200; ++i) {
            mine = engine->PublishedRecord();
            std::istringstream in(game.ask("getdata"));
            f.clear();
            for (double v; in >> v;)
                f.push_back(v);
            if (f.size() == 19u && f[2] == mine.frame)
                break;
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(f.size(), 19u);
        EXPECT_EQ(f[2], mine.frame);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(f[static_cast<std::size_t>(4 + i)], mine.value[i], 1e-3 * (1 + std::fabs(mine.value[i])));
        EXPECT_EQ(game.ask("unreg"), "0");
    }
#endif

    // Unplugged: nothing more is published.
    hub.unplugOwn(0);
    for (int i = 0; i < 1500 && system->GetCamera().IsUsbDeviceOpen(); ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(system->GetCamera().IsUsbDeviceOpen());
    std::this_thread::sleep_for(20ms);
    const std::uint32_t before = engine->GetPublishCount();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(engine->GetPublishCount(), before + 1);
    EXPECT_FALSE(system->GetCamera().IsUsbDeviceOpen());

    // Replugged (FPGA power-cycled): a restart uploads again and tracking resumes.
    hub.replugOwn(0);
    system->Stop();
    ASSERT_TRUE(system->Start(true, true));
    EXPECT_EQ(device->fpga().state, 2);
    // Tracking picks up again; re-centred on the neutral pose.
    ASSERT_TRUE(Publish(HeadPose{}, 2));
    engine->Recenter();
    ASSERT_TRUE(Publish(HeadPose{}, 2));
    const HeadPose other{.yaw = -8, .pitch = 4, .x = -15};
    ASSERT_TRUE(Publish(other, 5));
    ExpectFollows(other);

    // Stop joins the processor, the camera's threads and the engine's worker.
    EXPECT_EQ(engine->Stop(), 0u);
    system->Stop();
    EXPECT_FALSE(system->GetPacketProcessor().IsThreadRunning());
    EXPECT_FALSE(system->GetCamera().IsCameraStarted());
    engine.reset();
    system.reset();
}

} // namespace
