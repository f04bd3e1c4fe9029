// Camera start-up against the simulated camera: the FPGA check and upload
// for each revision that is set up differently, read back from the
// camera's frame log and state, and the start-up faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "camera/exceptions.h"
#include "camera_fixture.h"
#include "simcam/hub.h"
#include "testing/temp_dir.h"
#include "testing/test_clock.h"

namespace {

using camera_test::Bytes;

Orvane::CameraTiming startTiming()
{
    auto t = camera_test::fastTiming();
    t.configWaitMs = 1500;
    t.fpgaRunningReads = 20;
    t.fpgaRunningPollMs = 1;
    t.stopSettleMs = 1;
    return t;
}

Bytes testImage(std::size_t n = 700)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
    return b;
}

struct Rig {
    explicit Rig(simcam::Model model, Orvane::CameraTiming timing = startTiming())
    {
        device = hub.addOwn(0, model);
        camera = std::make_unique<Orvane::Camera>(hub, 0, nullptr, timing, clock);
        camera->SetImageFolder(folder.path());
    }
    void writeImage(const char* name, const Bytes& image)
    {
        std::ofstream out(folder.file(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    std::vector<Bytes> frames(std::uint8_t code) const
    {
        std::vector<Bytes> out;
        for (auto& f : device->frameBytes())
            if (!f.empty() && f[0] == code)
                out.push_back(f);
        return out;
    }
    // Index of the first (or last) frame with this code in the log, -1 when none.
    long position(std::uint8_t code, bool last = false) const
    {
        auto all = device->frameBytes();
        long found = -1;
        for (std::size_t i = 0; i < all.size(); ++i)
            if (!all[i].empty() && all[i][0] == code) {
                found = static_cast<long>(i);
                if (!last)
                    break;
            }
        return found;
    }

    testing_support::TempDir folder{"camera-start"};
    testing_support::TestClock clock;
    simcam::Hub hub;
    std::shared_ptr<simcam::Device> device;
    std::unique_ptr<Orvane::Camera> camera;
};

simcam::Model unconfigured(int revision, std::uint32_t serial = 60000, int options = 0)
{
    simcam::Model m;
    m.revision = revision;
    m.serial = serial;
    m.options = options;
    m.fpga = simcam::FpgaStart::Unconfigured;
    return m;
}

TEST(CameraStartTest, ImageChecksumAndWeights)
{
    const unsigned char three[] = {1, 2, 3};
    EXPECT_EQ(Orvane::Camera::CalcImageChecksum(three), 0x0006);
    EXPECT_EQ(Orvane::Camera::CalcImageChecksum({three, 1}), 0x0011);
    EXPECT_EQ(Orvane::Camera::CalcImageChecksum({three, 2}), 0x0033);
    Bytes image = testImage();
    EXPECT_EQ(Orvane::Camera::CalcImageChecksum(image), simcam::imageChecksum(image));

    simcam::Hub hub;
    Orvane::Camera camera(hub, 3);
    EXPECT_EQ(camera.GetGreyscaleWeight(31), 0);
    EXPECT_EQ(camera.GetGreyscaleWeight(32), 0);
    EXPECT_EQ(camera.GetGreyscaleWeight(33), 1);
    EXPECT_EQ(camera.GetGreyscaleWeight(255), 254);  // 223 x 1.1434977 = 254.99
    EXPECT_EQ(camera.GetSwitchState(), 12);
    EXPECT_STREQ(Orvane::Camera::ImageFileName(12), "camerarev12.bit");
    EXPECT_STREQ(Orvane::Camera::ImageFileName(13), "camerarev13.bit");
    EXPECT_STREQ(Orvane::Camera::ImageFileName(9), "camera.bit");
}

TEST(CameraStartTest, NumberingAndDriverChoice)
{
    simcam::Hub hub;
    Orvane::Camera::ResetCameraNumbers(5);
    Orvane::Camera a(hub, -1);
    Orvane::Camera b(hub, -1);
    EXPECT_EQ(a.GetCameraNumber(), 5);
    EXPECT_EQ(b.GetCameraNumber(), 6);
    EXPECT_EQ(a.GetDriver(), Orvane::Camera::OVUSB);
    Orvane::Camera generic(hub, 1500);
    EXPECT_EQ(generic.GetDriver(), Orvane::Camera::USBIO);
    // No device path yet: nothing opens, the start fails.
    EXPECT_FALSE(generic.Start());
    EXPECT_FALSE(generic.IsStarted());
    Orvane::Camera::ResetCameraNumbers();
}

struct RevisionCase {
    int revision;
    std::uint32_t serial;
    int options;
    const char* file;
    std::size_t chunk;
    int threshold;  // after the start
};

class CameraRevisionStartTest : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(CameraRevisionStartTest, UploadsTheImageAndSetsTheRevisionUp)
{
    const auto& c = GetParam();
    Rig rig(unconfigured(c.revision, c.serial, c.options));
    Bytes image = testImage();
    rig.writeImage(c.file, image);

    ASSERT_TRUE(rig.camera->Start());
    EXPECT_TRUE(rig.camera->IsStarted());
    EXPECT_FALSE(rig.camera->IsStopped());
    ASSERT_TRUE(rig.camera->Sync());

    auto fpga = rig.device->fpga();
    EXPECT_TRUE(fpga.configured);
    EXPECT_EQ(fpga.state, 2);
    EXPECT_EQ(fpga.image, image);
    EXPECT_EQ(fpga.checksum, simcam::imageChecksum(image));

    // Status first, then init, the image in chunks, then the reload.
    auto data = rig.frames(0x1C);
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.front().size(), c.chunk + 2);
    EXPECT_EQ(rig.frames(0x1B).size(), 1u);
    EXPECT_LT(rig.position(0x1D), rig.position(0x1B));
    EXPECT_LT(rig.position(0x1B), rig.position(0x1C));
    EXPECT_LT(rig.position(0x1C, true), rig.position(0x20));
    EXPECT_LT(rig.position(0x17), rig.position(0x1B));

    EXPECT_EQ(rig.device->threshold(), c.threshold);
    EXPECT_TRUE(rig.device->videoOn());
    if (c.revision == 7 || c.revision == 12) {
        EXPECT_EQ(rig.device->reg(16, 19), 0);
    }
    if (c.revision == 6 || c.revision == 7 || c.revision == 12) {
        EXPECT_EQ(rig.device->reg(15, 20), 0);
    }
    if (c.revision == 6 || c.revision == 7 || c.revision == 8 || c.revision == 12) {
        EXPECT_EQ(rig.device->reg(16, 5), 4096);
    }
    if (c.revision == 6) {
        EXPECT_EQ(rig.device->reg(15, 7), static_cast<int>(c.serial % 100 == 0 ? 99 : c.serial % 100));
    }
    if (c.revision == 7) {
        EXPECT_EQ(rig.device->i2c(112, 0), c.serial <= 56203 ? 23 : -1);
    }
    auto window = rig.camera->GetActualWindow();
    bool large = c.revision == 7 || c.revision == 8 || c.revision == 9 || c.revision == 12;
    EXPECT_EQ(window.left, large ? 1 : 98);
    EXPECT_EQ(window.bottom, large ? 480 : 302);

    rig.camera->Stop();
    EXPECT_TRUE(rig.camera->IsStopped());
    EXPECT_FALSE(rig.camera->IsStarted());
    EXPECT_FALSE(rig.device->videoOn());
    EXPECT_EQ(rig.device->leds() & 0xF0, 0);
}

INSTANTIATE_TEST_SUITE_P(Revisions, CameraRevisionStartTest,
                         ::testing::Values(RevisionCase{6, 1234, 0, "camera.bit", 60, 135},
                                           RevisionCase{6, 1200, 0, "camera.bit", 60, 135},
                                           RevisionCase{7, 50000, 0, "camera.bit", 255, 120},
                                           RevisionCase{7, 56204, 0, "camera.bit", 255, 120},
                                           RevisionCase{8, 60000, 4, "camera.bit", 60, 120},
                                           RevisionCase{9, 60000, 0, "camera.bit", 60, 150},
                                           RevisionCase{12, 60000, 0, "camerarev12.bit", 255, 120}),
                         [](const auto& info) {
                             return "Rev" + std::to_string(info.param.revision) + "Serial" +
                                    std::to_string(info.param.serial);
                         });

TEST(CameraStartTest, MatchingFpgaIsNotUploaded)
{
    Bytes image = testImage();
    simcam::Model m;
    m.revision = 7;
    m.fpga = simcam::FpgaStart::Running;
    m.fpgaChecksum = simcam::imageChecksum(image);
    Rig rig(m);
    rig.writeImage("camera.bit", image);
    ASSERT_TRUE(rig.camera->Start());
    EXPECT_TRUE(rig.frames(0x1B).empty());
    EXPECT_TRUE(rig.frames(0x1C).empty());
    EXPECT_TRUE(rig.frames(0x20).empty());
}

TEST(CameraStartTest, NoUploadWantedGetsNoUploadAndNoSetUp)
{
    simcam::Model m;
    m.revision = 8;
    m.fpga = simcam::FpgaStart::NoUpload;
    Rig rig(m);  // no image file at all
    ASSERT_TRUE(rig.camera->Start());
    EXPECT_TRUE(rig.frames(0x1B).empty());
    EXPECT_TRUE(rig.frames(0x20).empty());
    EXPECT_EQ(rig.device->fpga().state, 15);
}

TEST(CameraStartTest, RunningProgramStillGetsTheRevisionsClosingSteps)
{
    // A revision-6 camera that wants no upload leaves the FPGA check at once,
    // but still gets the steps that follow it: its id and threshold 135.
    struct Case {
        std::uint32_t serial;
        int id;
    };
    for (const Case c : {Case{1234, 34}, Case{1200, 99}}) {
        SCOPED_TRACE(c.serial);
        simcam::Model m;
        m.revision = 6;
        m.serial = c.serial;
        m.fpga = simcam::FpgaStart::NoUpload;
        Rig rig(m);
        ASSERT_TRUE(rig.camera->Start());
        ASSERT_TRUE(rig.camera->Sync());
        EXPECT_TRUE(rig.frames(0x1B).empty());
        EXPECT_TRUE(rig.frames(0x20).empty());
        EXPECT_EQ(rig.device->reg(15, 7), c.id);
        EXPECT_EQ(rig.device->threshold(), 135);
        EXPECT_EQ(rig.device->reg(15, 3), 0) << "video type set";
        EXPECT_TRUE(rig.device->videoOn()) << "and the video is on again afterwards";
    }
}

TEST(CameraStartTest, MissingImageLeavesTheFpgaAloneAndStartsOnceThereIsOne)
{
    simcam::Model m;
    m.revision = 12;
    m.fpga = simcam::FpgaStart::Running;
    m.fpgaChecksum = 0x1234;
    Rig rig(m);
    rig.writeImage("camera.bit", testImage());  // not the revision's file

    EXPECT_FALSE(rig.camera->Start());
    EXPECT_FALSE(rig.camera->IsStarted());
    EXPECT_TRUE(rig.camera->IsStopped());
    EXPECT_TRUE(rig.camera->GetImageMissing());
    EXPECT_NE(rig.camera->GetLastImageError(), 0u);
    EXPECT_TRUE(rig.frames(0x1B).empty());
    EXPECT_TRUE(rig.frames(0x1C).empty());
    auto fpga = rig.device->fpga();
    EXPECT_EQ(fpga.state, 2);
    EXPECT_EQ(fpga.checksum, 0x1234);
    EXPECT_FALSE(rig.camera->IsUsbDeviceOpen());

    Bytes image = testImage(333);
    rig.writeImage("camerarev12.bit", image);
    ASSERT_TRUE(rig.camera->Start());
    EXPECT_FALSE(rig.camera->GetImageMissing());
    EXPECT_EQ(rig.device->fpga().checksum, simcam::imageChecksum(image));
    EXPECT_EQ(rig.device->fpga().state, 2);
}

TEST(CameraStartTest, BadChecksumFailsAfterTwoRounds)
{
    Rig rig(unconfigured(7));
    rig.writeImage("camera.bit", testImage());
    rig.device->checksumAlwaysWrong(true);
    EXPECT_FALSE(rig.camera->Start());
    EXPECT_FALSE(rig.camera->IsStarted());
    EXPECT_EQ(rig.frames(0x1B).size(), 2u);
    EXPECT_TRUE(rig.frames(0x20).empty());
    EXPECT_FALSE(rig.camera->IsUsbDeviceOpen());
}

TEST(CameraStartTest, FpgaThatNeverRunsFailsTheStartInBoundedTime)
{
    Rig rig(unconfigured(8));
    rig.writeImage("camera.bit", testImage());
    rig.device->neverRunning(true);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(rig.camera->Start());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_FALSE(rig.camera->IsStarted());
    EXPECT_FALSE(rig.camera->IsUsbDeviceOpen());
    // The image took, so the second round only asks for the reload again.
    EXPECT_EQ(rig.frames(0x1B).size(), 1u);
    EXPECT_GE(rig.frames(0x20).size(), 2u);

    rig.device->neverRunning(false);
    EXPECT_TRUE(rig.camera->Start());
}

TEST(CameraStartTest, CameraThatNeverAnswersFailsTheStartCleanly)
{
    auto timing = startTiming();
    timing.configWaitMs = 300;
    Rig rig(unconfigured(7), timing);
    rig.writeImage("camera.bit", testImage());
    rig.device->stallWrites(true);
    EXPECT_THROW(rig.camera->Start(), Orvane::NoCameraDataException);
    EXPECT_FALSE(rig.camera->IsStarted());
    EXPECT_TRUE(rig.camera->IsStopped());
    rig.device->stallWrites(false);
}

TEST(CameraStartTest, UnpluggedCameraDoesNotStart)
{
    Rig rig(unconfigured(7));
    rig.hub.unplugOwn(0);
    EXPECT_FALSE(rig.camera->Start());
    EXPECT_FALSE(rig.camera->IsStarted());
    rig.camera->Stop();  // not started: nothing happens
    EXPECT_TRUE(rig.camera->IsStopped());
}

} // namespace
