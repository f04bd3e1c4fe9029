// A camera that hiccups comes back and quitting never hangs: destruction and
// driver switches end in bounded time whatever the camera is doing, a camera
// whose reader gives up is reported lost and starts again, opening an open
// device changes nothing, and every start sets the camera up again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "camera_fixture.h"
#include "simcam/hub.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using camera_test::Bytes;
using camera_test::eventually;

// Destruction and a switch end well under a second; the margin covers a
// slow (sanitised) run, the hangs this guards against lasted 10 s and more.
constexpr auto kShutdownBound = 1500ms;

simcam::Model noUpload(int revision = 7)
{
    simcam::Model m;
    m.revision = revision;
    m.fpga = simcam::FpgaStart::NoUpload;
    return m;
}

enum class State { Idle, Started, ConfigReadOutstanding, StartedReadOutstanding, Unplugged, WritesStalled, ReadsFailing };

const char* name(State s)
{
    switch (s) {
    case State::Idle: return "idle";
    case State::Started: return "started";
    case State::ConfigReadOutstanding: return "configuration read outstanding";
    case State::StartedReadOutstanding: return "started, read outstanding";
    case State::Unplugged: return "unplugged";
    case State::WritesStalled: return "writes stalled";
    case State::ReadsFailing: return "reads failing";
    }
    return "?";
}

// A camera with the camera's own timing (the watchdog at 5000 ms), so that a
// wait that is not bounded shows.
struct Rig {
    explicit Rig(int number)
    {
        if (number >= 1024) {
            path = hub.addGeneric(noUpload());
            device = hub.generic(path);
        } else {
            device = hub.addOwn(number, noUpload());
        }
        camera = std::make_unique<Orvane::Camera>(hub, number, &packets);
        if (number >= 1024)
            camera->SetUSBIODevicePath(path);
        other = hub.addGeneric(noUpload());
    }

    void Enter(State s)
    {
        auto idle = [&] {
            if (!camera->IsUSBIODriver())
                camera->OpenUsbDevice();
            camera->InitializeCameraCommunication();
            camera->ReadCameraData();
            camera->GetConfigurationData().WaitValid();
        };
        switch (s) {
        case State::Idle:
            idle();
            break;
        case State::ConfigReadOutstanding: {
            idle();
            device->dropReplies(1 << 30);
            Orvane::CameraConfigurationData copy;
            camera->GetCameraData(&copy);
            break;
        }
        default:
            ASSERT_TRUE(camera->Start());
            break;
        }
        switch (s) {
        case State::StartedReadOutstanding:
            device->dropReplies(1 << 30);
            camera->ReadCameraData();
            break;
        case State::Unplugged:
            if (camera->IsUSBIODriver())
                hub.unplugGeneric(path);
            else
                hub.unplugOwn(camera->GetCameraNumber());
            break;
        case State::WritesStalled:
            device->stallWrites(true);
            camera->ReadCameraData();
            break;
        case State::ReadsFailing:
            device->failReads(1 << 30);
            break;
        default:
            break;
        }
    }

    simcam::Hub hub;
    std::string path;
    std::string other;
    std::shared_ptr<simcam::Device> device;
    Orvane::DoubleBuffer<Orvane::CameraPacket> packets{4, 0x1000};
    std::unique_ptr<Orvane::Camera> camera;
};

const State kStates[] = {State::Idle,         State::Started,       State::ConfigReadOutstanding,
                         State::StartedReadOutstanding, State::Unplugged, State::WritesStalled,
                         State::ReadsFailing};

TEST(CameraShutdown, DestructionEndsInBoundedTimeInEveryState)
{
    for (int number : {0, 1024})
        for (State s : kStates) {
            SCOPED_TRACE(std::string(name(s)) + (number ? ", generic driver" : ", own driver"));
            Rig rig(number);
            rig.Enter(s);
            const auto begin = Clock::now();
            rig.camera.reset();
            EXPECT_LT(Clock::now() - begin, kShutdownBound);
        }
}

TEST(CameraShutdown, SwitchEndsInBoundedTimeAndReleasesWaitingReads)
{
    for (int number : {0, 1024})
        for (State s : kStates) {
            SCOPED_TRACE(std::string(name(s)) + (number ? ", generic driver" : ", own driver"));
            Rig rig(number);
            rig.Enter(s);
            // A register read from another thread, stuck behind the outstanding one.
            std::future<bool> read;
            if (s == State::ConfigReadOutstanding || s == State::StartedReadOutstanding)
                read = std::async(std::launch::async, [&] {
                    unsigned v = 0;
                    return rig.camera->FPGARegRead(32, &v);
                });
            const auto begin = Clock::now();
            EXPECT_TRUE(rig.camera->SetUSBIODevicePath(rig.other, false));
            EXPECT_LT(Clock::now() - begin, kShutdownBound);
            if (read.valid()) {
                ASSERT_EQ(read.wait_for(kShutdownBound), std::future_status::ready);
                EXPECT_FALSE(read.get());
            }
            EXPECT_FALSE(rig.camera->IsStarted());
        }
}

// The program quits while a start waits for a configuration block that never
// comes: cancelling the starts from another thread ends that start at once,
// a later start fails without waiting, and lifting the cancel lets the
// camera start again once it answers.
TEST(CameraShutdown, CancelEndsAStartWaitingForItsConfiguration)
{
    for (int number : {0, 1024}) {
        SCOPED_TRACE(number ? "generic driver" : "own driver");
        Rig rig(number);
        rig.device->dropReplies(1 << 30);
        auto start = std::async(std::launch::async, [&] { return rig.camera->Start(); });
        ASSERT_TRUE(eventually([&] { return rig.device->frameCount() > 0 && rig.camera->GetConfigurationData().GetState() ==
                                                                      Orvane::CameraConfigurationData::Waiting; }));
        const auto begin = Clock::now();
        rig.camera->CancelStarts(true);
        ASSERT_EQ(start.wait_for(kShutdownBound), std::future_status::ready);
        EXPECT_LT(Clock::now() - begin, kShutdownBound);
        bool started = true;
        try {
            started = start.get();
        } catch (const Orvane::OVRuntimeException&) {
            started = false;
        }
        EXPECT_FALSE(started);
        EXPECT_FALSE(rig.camera->Start());

        rig.device->dropReplies(0);
        rig.camera->CancelStarts(false);
        EXPECT_TRUE(rig.camera->Start());
        const auto destroyed = Clock::now();
        rig.camera.reset();
        EXPECT_LT(Clock::now() - destroyed, kShutdownBound);
    }
}

// A reader that gives up reports the camera lost (once), the device then
// counts as closed, and a start brings the packets back. Failures the
// reader outlives, and failed image reads on the own driver, which are
// ignored there, report nothing and the packets keep coming.
TEST(CameraRecovery, ReadersThatGiveUpReportTheCameraLost)
{
    struct Case {
        int number;
        simcam::Path path;
        int failures;
        bool lost;
    };
    for (const Case c : {Case{1024, simcam::Path::Image, 3, false}, Case{1024, simcam::Path::Image, 4, true},
                         Case{1024, simcam::Path::Reply, 4, true}, Case{0, simcam::Path::Reply, 5, true},
                         Case{0, simcam::Path::Image, 20, false}}) {
        SCOPED_TRACE(std::to_string(c.number) + (c.path == simcam::Path::Image ? " image " : " reply ") +
                     std::to_string(c.failures));
        Rig rig(c.number);
        std::atomic<int> lost{0};
        rig.camera->SetLostHandler([&] { ++lost; });
        ASSERT_TRUE(rig.camera->Start());
        auto packetsFlow = [&] {
            return eventually([&] {
                rig.device->pushImagePacket({0x00, 0x01, 0x02, 0x03, 0x10, 0x20});
                if (rig.packets.Wait(5) != platform::kWaitObject0)
                    return false;
                while (Orvane::CameraPacket* p = rig.packets.TakeFilled())
                    rig.packets.GiveBack(p);
                return true;
            });
        };
        ASSERT_TRUE(packetsFlow());
        rig.device->failReads(c.failures, c.path);
        if (c.lost) {
            ASSERT_TRUE(eventually([&] { return lost.load() > 0; }));
            EXPECT_FALSE(rig.camera->IsUsbDeviceOpen());
            if (rig.camera->IsUSBIODriver()) {
                EXPECT_FALSE(rig.camera->IsDevicePresent()) << "the reply reader's check";
            }
            ASSERT_TRUE(rig.camera->Start());
        } else {
            ASSERT_TRUE(eventually([&] { return packetsFlow(); }));
        }
        EXPECT_TRUE(packetsFlow());
        EXPECT_EQ(lost.load(), c.lost ? 1 : 0);
    }
}

TEST(CameraLife, DestructionStopsAStartedCamera)
{
    for (int number : {0, 1024}) {
        SCOPED_TRACE(number);
        Rig rig(number);
        ASSERT_TRUE(rig.camera->Start());
        rig.camera->TurnLedOn();
        ASSERT_TRUE(rig.camera->Sync());
        ASSERT_TRUE(rig.device->videoOn());
        rig.camera.reset();
        EXPECT_FALSE(rig.device->videoOn()) << "video off on the way out";
        EXPECT_EQ(rig.device->leds(), 0);
    }
}

TEST(CameraLife, EveryStartRunsTheWholeInitialisation)
{
    Rig rig(1024);
    ASSERT_TRUE(rig.camera->Start());
    ASSERT_TRUE(rig.camera->Sync());
    rig.device->clearLog();
    // The camera lost its set-up behind the library's back (a power dip).
    rig.device->replug();
    ASSERT_TRUE(rig.camera->Start());
    ASSERT_TRUE(rig.camera->Sync());
    int reads = 0, videoOn = 0;
    for (const Bytes& f : rig.device->frameBytes()) {
        reads += f == Bytes{0x17};
        videoOn += f == Bytes{0x14, 0x00};
    }
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(videoOn, 1);
    EXPECT_TRUE(rig.device->videoOn());
}

TEST(CameraOpen, OpeningAnOpenGenericDeviceChangesNothing)
{
    Rig rig(1024);
    ASSERT_TRUE(rig.camera->Start());
    rig.camera->TurnLedOn();
    ASSERT_EQ(rig.camera->ReadLeds() & 0x80, 0x80);
    const int opens = rig.device->opens();
    rig.device->clearLog();

    EXPECT_TRUE(rig.camera->OpenUsbDevice());
    EXPECT_TRUE(rig.camera->IsUsbDeviceOpen());
    EXPECT_EQ(rig.device->opens(), opens) << "no new handle";
    EXPECT_TRUE(rig.device->frameBytes().empty()) << "nothing written, the LEDs stay on";
    EXPECT_EQ(rig.device->leds() & 0x80, 0x80);
    EXPECT_EQ(rig.camera->ReadLeds(), rig.device->leds());
    unsigned v = 0;
    EXPECT_TRUE(rig.camera->FPGARegRead(32, &v)) << "the reply reader still runs";
}

TEST(CameraOpen, ClosingTurnsTheLedsOffInWhatReadLedsReports)
{
    Rig rig(1024);
    ASSERT_TRUE(rig.camera->Start());
    rig.camera->TurnLedOn();
    rig.camera->StatusCaseOn();
    ASSERT_EQ(rig.camera->ReadLeds() & 0xC0, 0xC0);
    rig.camera->CloseUsbDevice();
    EXPECT_EQ(rig.device->leds(), 0);
    EXPECT_EQ(rig.camera->ReadLeds(), 0);
}

TEST(CameraOpen, FailedOwnDriverOpenLeavesNothingWaiting)
{
    Rig rig(0);
    rig.camera->OpenUsbDevice();
    rig.camera->InitializeCameraCommunication();
    rig.camera->ReadCameraData();
    rig.camera->GetConfigurationData().WaitValid();
    // A read that never gets its answer, then the device cannot be opened again.
    rig.device->dropReplies(1 << 30);
    auto read = std::async(std::launch::async, [&] {
        unsigned v = 0;
        return rig.camera->FPGARegRead(32, &v);
    });
    ASSERT_TRUE(eventually([&] { return rig.device->frameCount() > 0; }));
    rig.device->failOpen(true);
    EXPECT_FALSE(rig.camera->OpenUsbDevice());
    EXPECT_FALSE(rig.camera->IsUsbDeviceOpen());
    ASSERT_EQ(read.wait_for(kShutdownBound), std::future_status::ready) << "the read ends with the device";
    EXPECT_FALSE(read.get());
    const auto begin = Clock::now();
    EXPECT_FALSE(rig.camera->SendCommandBlocking(nullptr, 0));
    EXPECT_LT(Clock::now() - begin, kShutdownBound);
}

TEST(CameraChannel, FailedGenericWriteStillCountsTheFrameButIsNotReportedWritten)
{
    auto timing = camera_test::fastTiming();
    camera_test::SimCamera sim(simcam::Model{}, timing, 1024);
    sim.device->stallWrites(true);
    EXPECT_EQ(sim.camera->WriteOutputBuffer(3), 3u) << "the frame's length, whatever was transferred";
    const unsigned char frame[] = {0x13};
    EXPECT_FALSE(sim.camera->WriteUsbBuffer(frame, 1)) << "a raw write says when it did not go out";
    sim.device->stallWrites(false);
    EXPECT_TRUE(sim.camera->WriteUsbBuffer(frame, 1));
}

} // namespace
