// Starting and stopping the camera system: the order of camera and
// processor, the failed start, managed camera numbers, and start/stop
// cycles while packets flow.
#include "system_fixture.h"

#include "camera/camera_manager.h"
#include "simcam/imaging/render.h"
#include "testing/temp_dir.h"
#include "testing/test_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using Orvane::CameraSystem;
using Orvane::CameraSystemFacade;
using testing_support::FakeSystemCamera;

namespace {

CameraSystemFacade::Options Fast(testing_support::TestClock& clock, int managed = 0)
{
    return {.stopPauseMs = 50, .managedCameraCount = [managed] { return managed; }, .clock = &clock};
}

TEST(CameraSystemFacade, StartThenStop)
{
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, Fast(clock));
    EXPECT_TRUE(system.IsStopped());
    ASSERT_TRUE(system.Start(false, false));
    EXPECT_FALSE(system.IsStopped());
    EXPECT_TRUE(system.GetPacketProcessor().IsThreadRunning());
    EXPECT_EQ(camera.illumination.load(), 0);
    EXPECT_FALSE(system.GetConfiguration().GetGreenStatusLedOn());
    const auto before = clock.now();
    system.Stop();
    EXPECT_TRUE(system.IsStopped());
    EXPECT_FALSE(system.GetPacketProcessor().IsThreadRunning());
    EXPECT_FALSE(camera.IsCameraStarted());
    EXPECT_EQ(clock.now() - before, std::chrono::milliseconds(100));
}

TEST(CameraSystemFacade, FailedStartLeavesNothingRunning)
{
    FakeSystemCamera camera;
    camera.startSucceeds = false;
    testing_support::TestClock clock;
    {
        CameraSystemFacade system(0, camera, Fast(clock));
        EXPECT_FALSE(system.Start(true, true));
        EXPECT_EQ(camera.starts.load(), 1);
        EXPECT_TRUE(system.IsStopped());
        EXPECT_FALSE(system.GetPacketProcessor().IsThreadRunning());
        EXPECT_EQ(camera.illumination.load(), -1);
        EXPECT_FALSE(system.GetConfiguration().GetGreenStatusLedOn());
        // A second try works once the camera does.
        camera.startSucceeds = true;
        EXPECT_TRUE(system.Start(true, true));
    }
    EXPECT_EQ(camera.stops.load(), 1);  // the destructor stopped the started system
}

TEST(CameraSystemFacade, DestructionAfterFailedStartJoins)
{
    FakeSystemCamera camera;
    camera.startSucceeds = false;
    testing_support::TestClock clock;
    auto system = std::make_unique<CameraSystemFacade>(0, camera, Fast(clock));
    EXPECT_FALSE(system->Start(false, false));
    testing_support::QueuePacket(system->GetPacketBuffer(), simcam::imaging::EncodePacket(
        simcam::imaging::Render(std::vector<simcam::imaging::Disc>{{100, 100, 4, 255}}, 640, 480), {}));
    system.reset();  // no thread left behind (the sanitizers would say)
    EXPECT_EQ(camera.stops.load(), 0);
}

TEST(CameraSystemFacade, ManagedCameraNumbersMustBeListed)
{
    struct Case {
        int number;
        int managed;
        bool starts;
    };
    for (const Case& c : {Case{1030, 2, false}, Case{1024, 0, false}, Case{1025, 2, true}, Case{1024, 1, true},
                          Case{2047, 1, false}, Case{0, 0, true}, Case{2048, 0, true}}) {
        FakeSystemCamera camera;
        testing_support::TestClock clock;
        CameraSystemFacade system(c.number, camera, Fast(clock, c.managed));
        EXPECT_EQ(system.Start(false, false), c.starts) << c.number;
        EXPECT_EQ(camera.starts.load(), c.starts ? 1 : 0) << c.number;
        EXPECT_EQ(system.GetPacketProcessor().IsThreadRunning(), c.starts) << c.number;
    }
}

TEST(CameraSystemFacade, ManagedCameraAlreadyStartedIsTrueAtOnce)
{
    FakeSystemCamera camera;
    camera.started = true;
    testing_support::TestClock clock;
    CameraSystemFacade system(1024, camera, Fast(clock, 1));
    EXPECT_TRUE(system.Start(true, true));
    EXPECT_EQ(camera.starts.load(), 0);
}

TEST(CameraSystemFacade, DefaultCountComesFromTheCameraManager)
{
    Orvane::CameraManager::DestroyInstance();
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(1024, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock});
    EXPECT_FALSE(system.Start(false, false));  // the default backend lists no camera
    EXPECT_TRUE(Orvane::CameraManager::IsActive());
    int posted = 0;
    CameraSystemFacade::RegisterNotificationWindow([&](unsigned, unsigned, long) { ++posted; });
    platform::usb::DeviceNotice arrival;
    arrival.path = "/dev/cam";
    arrival.guid = platform::usb::kCameraInterfaceGuid2;
    Orvane::CameraManager::X().HandleNotice(arrival);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(system.Start(false, false));  // 1024 is listed now
    Orvane::CameraManager::DestroyInstance();
    EXPECT_FALSE(Orvane::CameraManager::IsActive());
}

// Start and stop while a producer keeps queueing packets and a consumer
// keeps taking frames: every packet and frame ends up back on a list.
TEST(CameraSystemFacade, ProcessorRestartsAfterLeavingOnItsOwn)
{
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, Fast(clock));
    ASSERT_TRUE(system.Start(false, false));
    system.GetPacketProcessor().SetKeepRunning(false);
    for (int i = 0; i < 1000 && system.GetPacketProcessor().IsThreadRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(system.GetPacketProcessor().IsThreadRunning());
    ASSERT_TRUE(system.GetPacketProcessor().Start());
    EXPECT_TRUE(system.GetPacketProcessor().IsThreadRunning());
    system.SetScorerValues(Orvane::TrackableScorer::ObjectMass, 1.0, 90.0, 20.0, 0.25);
    EXPECT_EQ(system.GetScorerMaxValue(Orvane::TrackableScorer::ObjectMass), 90.0);
    EXPECT_EQ(system.GetScorerOutsideRangeValue(Orvane::TrackableScorer::ObjectMass), 0.25);
}

TEST(CameraSystemFacade, StartStopCyclesWhilePacketsFlow)
{
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, Fast(clock));
    const auto packet = simcam::imaging::EncodePacket(
        simcam::imaging::Render(std::vector<simcam::imaging::Disc>{{200.5, 150.5, 5, 255}}, 640, 480), {});
    std::atomic<bool> done{false};
    std::thread producer([&] {
        while (!done.load()) {
            if (!testing_support::QueuePacket(system.GetPacketBuffer(), packet))
                std::this_thread::yield();
        }
    });
    std::thread consumer([&] {
        while (!done.load()) {
            if (system.GetFrameBuffer().Wait(5) == platform::kWaitObject0)
                if (Orvane::Frame* f = system.GetFrameBuffer().TakeFilled())
                    system.GetFrameBuffer().GiveBack(f);
            if (Orvane::TrackedCoordinate* t = system.GetTrackedCoordBuffer().TakeFilled())
                system.GetTrackedCoordBuffer().GiveBack(t);
        }
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(system.Start(true, true));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        system.Stop();
    }
    done = true;
    producer.join();
    consumer.join();
    while (Orvane::Frame* f = system.GetFrameBuffer().TakeFilled())
        system.GetFrameBuffer().GiveBack(f);
    EXPECT_EQ(system.GetFrameBuffer().GetFreeCount(), CameraSystem::FrameBufferItems);
    EXPECT_GT(system.GetPacketProcessor().GetStats().queued, 0u);
}

} // namespace

namespace {

struct FakeLeds final : Orvane::CameraLedControl {
    bool SetIlluminationLeds(bool on) override { return set(Illumination, on); }
    bool SetGreenStatus(bool on) override { return set(Green, on); }
    bool SetRedStatus(bool on) override { return set(Red, on); }
    bool SetCaseLight(bool on) override { return set(Case, on); }
    bool Confirm(unsigned expected) override { return bits == expected; }
    bool set(unsigned bit, bool on)
    {
        bits = on ? (bits | bit) : (bits & ~bit);
        return true;
    }
    unsigned bits = 0;
};

// Applying a script changes the scorer this system scores its frames with,
// and writing saves that scorer.
TEST(CameraSystemFacade, ConfigurationScriptActsOnTheSystemsOwnScorer)
{
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    FakeLeds leds;
    CameraSystemFacade system(0, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock, .leds = &leds});
    Orvane::CameraConfigScript script;
    script.GetObjectMassScore().max = 777.0;
    script.GetObjectMassScore().weight = 0.5;
    script.SetIlluminationLedsOn(true);
    EXPECT_TRUE(system.ApplyConfiguration(script));
    EXPECT_EQ(system.GetScorerMaxValue(Orvane::TrackableScorer::ObjectMass), 777.0);
    EXPECT_EQ(system.GetScorerWeight(Orvane::TrackableScorer::ObjectMass), 0.5);
    EXPECT_EQ(leds.bits, Orvane::CameraLedControl::Illumination);

    // A folder of its own: builds running side by side share the temp folder.
    const testing_support::TempDir dir{"facade-config"};
    const std::string path = dir.file("camera_system_facade_config.xml").string();
    ASSERT_TRUE(system.WriteConfigFile(path));
    CameraSystemFacade other(0, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock, .leds = &leds});
    EXPECT_TRUE(other.ApplyConfiguration(path));
    EXPECT_EQ(other.GetScorerMaxValue(Orvane::TrackableScorer::ObjectMass), 777.0);
    EXPECT_FALSE(other.ApplyConfiguration(path + ".missing"));

    // Without LED control the scores still take, and the result says the LEDs did not.
    CameraSystemFacade bare(0, camera, Fast(clock));
    EXPECT_FALSE(bare.ApplyConfiguration(script));
    EXPECT_EQ(bare.GetScorerMaxValue(Orvane::TrackableScorer::ObjectMass), 777.0);
}

} // namespace

namespace {

TEST(CameraSystemFacade, OwnsTheCameraItsFactoryMakes)
{
    testing_support::TestClock clock;
    CameraSystem* seen = nullptr;
    int stops = 0;
    struct Counted final : FakeSystemCamera {
        explicit Counted(int& stops) : stops(stops) {}
        ~Counted() override { stops += 100; }
        void StopCamera() override
        {
            ++stops;
            FakeSystemCamera::StopCamera();
        }
        int& stops;
    };
    {
        CameraSystemFacade system(
            3,
            [&](CameraSystem& s) {
                seen = &s;
                return std::make_unique<Counted>(stops);
            },
            Fast(clock));
        EXPECT_EQ(seen, &system);
        ASSERT_TRUE(system.Start(false, true));
    }
    EXPECT_EQ(stops, 101);  // stopped, then destroyed with the system
    EXPECT_THROW(CameraSystemFacade(0, CameraSystemFacade::CameraFactory{}, Fast(clock)), Orvane::OVRuntimeException);
    EXPECT_THROW(CameraSystemFacade(0, [](CameraSystem&) { return std::unique_ptr<Orvane::SystemCamera>(); }, Fast(clock)),
                 Orvane::OVRuntimeException);
}

} // namespace

namespace {

TEST(CameraSystemFacade, ProbePicksTheManagersFirstCameraOrTheOwnDriver)
{
    struct Probed final : FakeSystemCamera {
        bool IsUsbDeviceOpen() const override { return open; }
        void UseOwnDevice(int index) override { choice = "own" + std::to_string(index); }
        void UseUsbioDevice(const std::string& path) override { choice = path; }
        bool open = false;
        std::string choice;
    } camera;
    platform::usb::NullBackend backend;
    Orvane::CameraManager manager(backend.genericDriver(), backend.notices());
    testing_support::TestClock clock;
    CameraSystemFacade system(1024, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock, .manager = &manager});
    system.ProbeForDevices();
    EXPECT_EQ(camera.choice, "own0");
    EXPECT_EQ(system.GetCameraNumber(), 0); // the own driver's camera 0
    system.SetCameraNumber(1024);
    EXPECT_FALSE(system.Start(false, false));  // 1024 is not listed
    manager.AddCamera("/dev/first");
    manager.AddCamera("/dev/second");
    system.ProbeForDevices();
    EXPECT_EQ(camera.choice, "/dev/first");
    camera.choice.clear();
    camera.open = true;
    system.ProbeForDevices();
    EXPECT_EQ(camera.choice, "");  // an open device is kept
    EXPECT_TRUE(system.Start(false, false));
}

} // namespace
