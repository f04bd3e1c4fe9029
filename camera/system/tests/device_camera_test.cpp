// The device camera in the camera system: the system starts a camera on the
// simulated device (FPGA upload included), its image packets come out of the
// system's frame buffer, and failed starts leave nothing running.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "../../device/tests/camera_fixture.h"
#include "device_rig.h"

namespace {

using Orvane::CameraSystem;
using Orvane::CameraSystemFacade;

using device_rig::Rig;

TEST(DeviceCameraTest, SystemStartsTheCameraAndItsPacketsBecomeFrames)
{
    Rig rig;
    ASSERT_TRUE(rig.system->Start(true, false));
    EXPECT_TRUE(rig.binding->IsCameraStarted());
    EXPECT_TRUE(rig.system->GetPacketProcessor().IsThreadRunning());
    EXPECT_EQ(rig.device->fpga().state, 2);
    EXPECT_EQ(rig.binding->GetHardwareRevision(), 7);
    EXPECT_EQ(rig.binding->GetWindowWidth(), 640);
    EXPECT_EQ(rig.binding->GetWindowHeight(), 480);
    EXPECT_EQ(rig.binding->GetCamera().BlockingMaskWidth(), 214);
    EXPECT_TRUE(rig.frameArrives());

    rig.system->Stop();
    EXPECT_FALSE(rig.binding->IsCameraStarted());
    EXPECT_FALSE(rig.system->GetPacketProcessor().IsThreadRunning());
    EXPECT_FALSE(rig.device->videoOn());
}

// Cells set and sent stay set through a re-read of the configuration; a
// restart (which may load the FPGA again) begins with an empty mask.
TEST(DeviceCameraTest, BlockingMaskSurvivesAReReadButNotARestart)
{
    Rig rig;
    ASSERT_TRUE(rig.system->Start(false, false));
    Orvane::Camera& camera = rig.binding->GetCamera();
    camera.AddBlockingRectangle(57, 6, 57, 6);
    EXPECT_EQ(camera.UpdateBlockingMask(), 159);
    camera.EnableBlockingMask();
    ASSERT_TRUE(camera.Sync());
    EXPECT_EQ(rig.device->reg(16, 21), 0x8000);
    EXPECT_EQ(rig.device->reg(16, 22), 0x0000);

    std::vector<std::uint8_t> cells(214 * 160);
    camera.GetCameraData(nullptr);
    camera.GetConfigurationData().WaitValid();
    ASSERT_EQ(camera.GetBlockingMask(cells), cells.size());
    EXPECT_EQ(cells[2 * 214 + 19], 1) << "a re-read keeps the cell";

    rig.system->Stop();
    ASSERT_TRUE(rig.system->Start(false, false));
    ASSERT_EQ(camera.GetBlockingMask(cells), cells.size());
    EXPECT_EQ(cells[2 * 214 + 19], 0) << "a restart begins afresh";
}

TEST(DeviceCameraTest, MissingImageFailsTheStartAndStartsOnceItIsThere)
{
    Rig rig(simcam::FpgaStart::Unconfigured, false);
    EXPECT_FALSE(rig.system->Start(true, true));
    EXPECT_FALSE(rig.binding->IsCameraStarted());
    EXPECT_FALSE(rig.system->GetPacketProcessor().IsThreadRunning());
    EXPECT_FALSE(rig.binding->GetLastStartError().empty());
    EXPECT_TRUE(rig.device->fpga().image.empty());

    rig.writeImage();
    ASSERT_TRUE(rig.system->Start(true, true));
    EXPECT_TRUE(rig.binding->GetLastStartError().empty());
    EXPECT_TRUE(rig.frameArrives());
}

TEST(DeviceCameraTest, CameraThatNeverRunsFailsAndDestructionJoins)
{
    Rig rig;
    rig.device->neverRunning(true);
    EXPECT_FALSE(rig.system->Start(false, false));
    EXPECT_FALSE(rig.system->GetPacketProcessor().IsThreadRunning());
    rig.system.reset();  // joins the processor and the camera's threads
}

TEST(DeviceCameraTest, UnplugAndReplugResumeAfterARestart)
{
    Rig rig;
    ASSERT_TRUE(rig.system->Start(false, false));
    ASSERT_TRUE(rig.frameArrives());
    rig.hub.unplugOwn(0);
    rig.system->Stop();
    EXPECT_FALSE(rig.system->Start(false, false));
    rig.hub.replugOwn(0);
    ASSERT_TRUE(rig.system->Start(false, false));
    EXPECT_EQ(rig.device->fpga().state, 2);
    EXPECT_TRUE(rig.frameArrives());
}

} // namespace

namespace {

// The system's configuration block follows the camera's: a restart that
// fails leaves it invalid rather than showing the camera that was, and a
// read under way never makes its readers wait.
TEST(DeviceCameraTest, SystemBlockFollowsEveryConfigurationReadWithoutWaiting)
{
    Rig rig(simcam::FpgaStart::NoUpload);
    ASSERT_TRUE(rig.system->Start(false, false));
    Orvane::CameraConfigurationData& block = rig.system->GetConfigurationData();
    EXPECT_EQ(block.GetState(), Orvane::CameraConfigurationData::Valid);
    EXPECT_EQ(block.GetHardwareRevision(), 7);

    rig.system->Stop();
    rig.device->dropReplies(1 << 30);
    auto restart = std::async(std::launch::async, [&] { return rig.system->Start(false, false); });
    ASSERT_TRUE(camera_test::eventually([&] {
        for (const auto& f : rig.device->frameBytes())
            if (f == std::vector<std::uint8_t>{0x17})
                return true;
        return false;
    }));
    EXPECT_NE(block.GetState(), Orvane::CameraConfigurationData::Waiting);
    EXPECT_EQ(block.GetHardwareRevision(), 7) << "the last values while the read is under way";
    EXPECT_FALSE(restart.get());
    EXPECT_EQ(block.GetState(), Orvane::CameraConfigurationData::Invalid);
    EXPECT_EQ(block.GetHardwareRevision(), 0) << "not the camera that was";

    rig.device->dropReplies(0);
    ASSERT_TRUE(rig.system->Start(false, false));
    EXPECT_EQ(block.GetHardwareRevision(), 7);
}

} // namespace
