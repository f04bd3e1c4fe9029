// Moving a camera between the two drivers: everything on the old device
// stops and its threads are joined before the switch, the new device is
// set up when asked, and bad arguments change nothing.
#include <gtest/gtest.h>

#include <chrono>

#include "camera_fixture.h"
#include "simcam/hub.h"
#include "testing/test_clock.h"

namespace {

using camera_test::Bytes;

Orvane::CameraTiming switchTiming()
{
    auto t = camera_test::fastTiming();
    t.configWaitMs = 1500;
    t.stopSettleMs = 1;
    return t;
}

// FPGA state 15: the camera needs no image and gets no revision set-up.
simcam::Model noUpload(std::uint32_t serial)
{
    simcam::Model m;
    m.revision = 7;
    m.serial = serial;
    m.fpga = simcam::FpgaStart::NoUpload;
    return m;
}

bool hasFrame(const simcam::Device& device, const Bytes& frame)
{
    for (const auto& f : device.frameBytes())
        if (f == frame)
            return true;
    return false;
}

TEST(CameraDriverSwitch, OwnDriverToGenericStopsTheOldDeviceAndSetsUpTheNew)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    auto own = hub.addOwn(0, noUpload(1000));
    const std::string path = hub.addGeneric(noUpload(2000));
    auto generic = hub.generic(path);
    Orvane::Camera camera(hub, 0, nullptr, switchTiming(), clock);
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(camera.GetConfigurationData().GetSerialNumber(), 1000u);
    ASSERT_TRUE(camera.Sync());
    own->clearLog();

    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera.SetUSBIODevicePath(path, true));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3)) << "joins do not hang on a blocked reader";

    // The old camera was stopped (video off) and hears nothing more.
    EXPECT_TRUE(hasFrame(*own, Bytes{0x14, 0x01}));
    EXPECT_FALSE(own->videoOn());
    own->clearLog();
    EXPECT_EQ(camera.GetDriver(), Orvane::Camera::USBIO);
    EXPECT_EQ(camera.GetUSBIODevicePath(), path);
    const auto device = camera.GetUsbDevice();
    EXPECT_EQ(device.driver, Orvane::Camera::USBIO);
    EXPECT_EQ(device.path, path);
    EXPECT_TRUE(device.open);
    EXPECT_FALSE(camera.IsStarted()) << "initialising is not starting";
    EXPECT_TRUE(camera.IsUsbDeviceOpen());
    EXPECT_EQ(camera.GetConfigurationData().GetSerialNumber(), 2000u);
    unsigned value = 0;
    EXPECT_TRUE(camera.FPGARegRead(32, &value));  // answered, so all before it was sent
    EXPECT_EQ(value, 100u);
    EXPECT_TRUE(generic->videoOn());
    EXPECT_TRUE(own->frameBytes().empty());
}

TEST(CameraDriverSwitch, PathOnlyStopsAndKeepsItForTheNextStart)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    hub.addOwn(0, noUpload(1000));
    const std::string path = hub.addGeneric(noUpload(2000));
    Orvane::Camera camera(hub, 0, nullptr, switchTiming(), clock);
    ASSERT_TRUE(camera.Start());

    ASSERT_TRUE(camera.SetUSBIODevicePath(path));
    EXPECT_FALSE(camera.IsStarted());
    EXPECT_FALSE(camera.IsUsbDeviceOpen());
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(camera.GetConfigurationData().GetSerialNumber(), 2000u);

    // A path that names no device: set up fails, nothing hangs.
    EXPECT_FALSE(camera.SetUSBIODevicePath("no such device", true));
    EXPECT_FALSE(camera.IsUsbDeviceOpen());
}

TEST(CameraDriverSwitch, TooLongPathIsRefusedBeforeAnythingStops)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    hub.addOwn(0, noUpload(1000));
    Orvane::Camera camera(hub, 0, nullptr, switchTiming(), clock);
    ASSERT_TRUE(camera.Start());
    EXPECT_TRUE(camera.SetUSBIODevicePath(std::string(Orvane::Camera::MaxDevicePathLength, 'p')));
    ASSERT_TRUE(camera.SetOVDeviceIndex(0));
    ASSERT_TRUE(camera.Start());
    EXPECT_FALSE(camera.SetUSBIODevicePath(std::string(Orvane::Camera::MaxDevicePathLength + 1, 'p'), true));
    EXPECT_TRUE(camera.IsStarted());
    EXPECT_EQ(camera.GetDriver(), Orvane::Camera::OVUSB);
}

TEST(CameraDriverSwitch, GenericToOwnDriverIndex)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    const std::string path = hub.addGeneric(noUpload(2000));
    hub.addOwn(3, noUpload(3000));
    Orvane::Camera camera(hub, 1500, nullptr, switchTiming(), clock);
    camera.SetUSBIODevicePath(path);
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(camera.GetConfigurationData().GetSerialNumber(), 2000u);

    for (int bad : {-1, 1024, 1500})
        EXPECT_FALSE(camera.SetOVDeviceIndex(bad)) << bad;
    EXPECT_TRUE(camera.IsStarted());

    ASSERT_TRUE(camera.SetOVDeviceIndex(3));
    EXPECT_EQ(camera.GetDriver(), Orvane::Camera::OVUSB);
    EXPECT_EQ(camera.GetCameraNumber(), 3);
    EXPECT_FALSE(camera.IsStarted());
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(camera.GetConfigurationData().GetSerialNumber(), 3000u);
    // The same index again changes nothing: the started camera runs on.
    ASSERT_TRUE(camera.SetOVDeviceIndex(3));
    EXPECT_TRUE(camera.IsStarted());
    EXPECT_TRUE(camera.Sync());
}

} // namespace
