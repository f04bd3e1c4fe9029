#include "camera/camera_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace Orvane;

namespace {

class FakeLights : public StatusLightPort {
public:
    void StatusOn() override { commands.push_back("green on"); }
    void StatusOff() override { commands.push_back("green off"); }
    void StatusRedOn() override { commands.push_back("red on"); }
    void StatusRedOff() override { commands.push_back("red off"); }
    std::vector<std::string> commands;
};

// Queues a frame as the packet processor does and, when tracked, its coordinate.
Frame* Deliver(CameraSystem& system, bool tracked, double x = 0.0)
{
    Frame* f = system.GetFrameBuffer().TakeFree();
    if (f == nullptr)
        return nullptr;
    f->Clear();
    f->sequence = system.NextFrameSequence();
    if (tracked) {
        if (TrackedCoordinate* c = system.GetTrackedCoordBuffer().TakeFree()) {
            *c = TrackedCoordinate{x, x + 1.0, f->sequence};
            system.GetTrackedCoordBuffer().Append(c);
        }
    }
    system.GetFrameBuffer().Append(f);
    return f;
}

} // namespace

TEST(CameraSystemTest, BuffersAndConfiguration)
{
    CameraSystem system(1030);
    EXPECT_EQ(system.GetCameraNumber(), 1030);
    EXPECT_EQ(system.GetPacketBuffer().GetFreeCount(), 30);
    EXPECT_EQ(system.GetFrameBuffer().GetFreeCount(), 5);
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFreeCount(), 5);
    Frame* f = system.GetFrameBuffer().TakeFree();
    EXPECT_EQ(f->GetObjectCapacity(), 400);
    EXPECT_EQ(f->objectGrowth, 400);
    system.GetFrameBuffer().GiveBack(f);

    EXPECT_EQ(system.GetConfigurationData().GetHardwareRevision(), 0) << "never read: returns at once";
    CameraConfigurationData cameraBlock;
    cameraBlock.SetHardwareRevision(9);
    system.AttachConfiguration(&cameraBlock);
    EXPECT_EQ(&system.GetConfigurationData(), &cameraBlock);
    EXPECT_EQ(system.GetConfigurationData().GetHardwareRevision(), 9);
    system.AttachConfiguration(nullptr);
    EXPECT_EQ(system.GetConfigurationData().GetHardwareRevision(), 0);
}

TEST(CameraSystemTest, StatusLightsSendAndRemember)
{
    CameraSystem system;
    // No device: the command is dropped, the state still changes.
    system.StatusGreenOn();
    system.StatusRedOn();
    EXPECT_TRUE(system.IsStatusGreenOn());
    EXPECT_TRUE(system.IsStatusRedOn());

    FakeLights lights;
    system.AttachStatusLights(&lights);
    system.StatusGreenOff();
    system.StatusRedOff();
    system.StatusRedOn();
    system.StatusGreenOn();
    EXPECT_EQ(lights.commands, (std::vector<std::string>{"green off", "red off", "red on", "green on"}));
    EXPECT_TRUE(system.IsStatusGreenOn());
    system.StatusGreenOff();
    EXPECT_FALSE(system.IsStatusGreenOn());
    EXPECT_TRUE(system.IsStatusRedOn());
    system.AttachStatusLights(nullptr);
}

TEST(CameraSystemTest, FramesWithoutTrackingLeaveCoordinatesEmpty)
{
    CameraSystem system;
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(Deliver(system, false), nullptr);
    EXPECT_EQ(system.GetFrameBuffer().GetFilledCount(), 3);
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFilledCount(), 0);
    Frame* f = system.GetFrameBuffer().TakeFilled();
    EXPECT_EQ(system.TakeCoordinateFor(*f), nullptr);
    system.GetFrameBuffer().GiveBack(f);
}

TEST(CameraSystemTest, CoordinatesPairWithTheirOwnFrame)
{
    CameraSystem system;
    Deliver(system, true, 10.0);   // frame 1, coordinate 1
    Deliver(system, false);        // frame 2, nothing tracked
    Deliver(system, true, 30.0);   // frame 3, coordinate 3

    // The reader fell behind and skips frame 1: its coordinate is dropped.
    system.GetFrameBuffer().GiveBack(system.GetFrameBuffer().TakeFilled());
    Frame* f2 = system.GetFrameBuffer().TakeFilled();
    EXPECT_EQ(system.TakeCoordinateFor(*f2), nullptr) << "frame 2 had none";
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFilledCount(), 1) << "frame 3's stays queued";
    Frame* f3 = system.GetFrameBuffer().TakeFilled();
    TrackedCoordinate* c3 = system.TakeCoordinateFor(*f3);
    ASSERT_NE(c3, nullptr);
    EXPECT_EQ(c3->x(), 30.0);
    EXPECT_EQ(c3->frameSequence, f3->sequence);
    system.GetTrackedCoordBuffer().GiveBack(c3);
    system.GetFrameBuffer().GiveBack(f2);
    system.GetFrameBuffer().GiveBack(f3);
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFreeCount(), 5);
    EXPECT_EQ(system.GetFrameBuffer().GetFreeCount(), 5);
}

TEST(CameraSystemTest, ConsumerHoldingOneOfEachNeverExhaustsTheBuffers)
{
    CameraSystem system;
    constexpr int kFrames = 5000;
    std::atomic<int> dropped{0};
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (int i = 0; i < kFrames && !stop; ++i) {
            while (!stop && Deliver(system, i % 3 != 0, i) == nullptr) {
                dropped.fetch_add(1);
                std::this_thread::yield();
            }
        }
    });
    Frame* heldFrame = nullptr;
    TrackedCoordinate* heldCoord = nullptr;
    int taken = 0;
    int paired = 0;
    while (taken < kFrames) {
        if (system.GetFrameBuffer().Wait(1000) != platform::kWaitObject0)
            break;
        Frame* f = system.GetFrameBuffer().TakeFilled();
        if (f == nullptr)
            continue;
        TrackedCoordinate* c = system.TakeCoordinateFor(*f);
        if (c != nullptr) {
            ASSERT_EQ(c->frameSequence, f->sequence);
            ++paired;
        }
        if (heldFrame != nullptr)
            system.GetFrameBuffer().GiveBack(heldFrame);
        if (heldCoord != nullptr)
            system.GetTrackedCoordBuffer().GiveBack(heldCoord);
        heldFrame = f;
        heldCoord = c;
        ++taken;
    }
    stop = true;
    producer.join();
    EXPECT_EQ(taken, kFrames);
    EXPECT_GT(paired, 0);
    system.GetFrameBuffer().GiveBack(heldFrame);
    if (heldCoord != nullptr)
        system.GetTrackedCoordBuffer().GiveBack(heldCoord);
    EXPECT_EQ(system.GetFrameBuffer().GetFreeCount(), 5);
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFreeCount(), 5);
}
