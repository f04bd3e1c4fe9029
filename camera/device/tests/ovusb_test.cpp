// Own-driver device counting and presence, and the duplicated-reply
// weakness of a protocol without sequence numbers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "camera/ovusb.h"
#include "camera_fixture.h"
#include "testing/test_clock.h"

using namespace camera_test;

TEST(Ovusb, CountingStopsAtTheFirstMissingIndex)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    hub.addOwn(0);
    hub.addOwn(1);
    hub.addOwn(3);
    EXPECT_EQ(Orvane::CountOvusbDevices(hub.ownDriver(), clock), 2);
    EXPECT_EQ(clock.sleeps(), 2);
    hub.unplugOwn(1);
    EXPECT_EQ(Orvane::CountOvusbDevices(hub.ownDriver(), clock), 1);
    EXPECT_EQ(Orvane::OvusbDeviceName(3), "\\\\.\\ovusb-3");
}

TEST(Ovusb, PresenceTriesTwice)
{
    testing_support::TestClock clock;
    simcam::Hub hub(clock);
    auto device = hub.addOwn(2);
    Orvane::Camera camera(hub, 2, nullptr, fastTiming(), clock);
    auto before = clock.now();
    EXPECT_TRUE(camera.IsDevicePresent());
    EXPECT_EQ(clock.now() - before, std::chrono::milliseconds(400));
    device->unplug();
    before = clock.now();
    EXPECT_FALSE(camera.IsDevicePresent());
    EXPECT_EQ(clock.now() - before, std::chrono::milliseconds(900));
}

TEST(Ovusb, DuplicatedReplyAnswersTheNextCommandOfTheSameCode)
{
    // Replies carry no sequence number: a duplicate of one register read's
    // reply is taken as the reply of the next read.
    SimCamera sim;
    sim.device->setReg(15, 2, 0x22);
    sim.device->setReg(15, 3, 0x33);
    sim.device->duplicateReplies(1);
    unsigned v = 0;
    EXPECT_TRUE(sim.camera->FPGARegRead(2, &v));
    EXPECT_EQ(v, 0x22u);
    EXPECT_TRUE(sim.camera->FPGARegRead(3, &v));
    EXPECT_EQ(v, 0x22u);
}

TEST(Ovusb, BackendFromTheEnvironment)
{
    setenv("ORVANE_CAMERA", "sim", 1);
    auto sim = simcam::makeSystemBackend();
    EXPECT_EQ(sim->name(), "sim");
    EXPECT_EQ(sim->genericDriver().devicePaths(platform::usb::kCameraInterfaceGuid1).size(), 1u);
    setenv("ORVANE_CAMERA", "auto", 1);
    unsetenv("ORVANE_USB_IDS");
    auto none = simcam::makeSystemBackend();  // no camera ids known: nothing found
    EXPECT_EQ(none->name(), "none");
    unsetenv("ORVANE_CAMERA");
}
