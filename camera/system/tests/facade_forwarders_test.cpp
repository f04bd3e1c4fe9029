// The camera operations the main program reaches through the camera system,
// read back from the simulated camera: LEDs and the states the system
// remembers, options, video, I2C with its script record, EEPROM, raw
// commands, the device and the buffers; refused arguments send nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device_rig.h"
#include "system_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using device_rig::Rig;
using Orvane::CameraSystemFacade;

struct Started : Rig {
    Started() : Rig(simcam::FpgaStart::Running)
    {
        EXPECT_TRUE(system->Start(false, false));
        sync();
        device->clearLog();
    }
    // Returns once every command queued before it has been sent.
    void sync() { ASSERT_TRUE(system->SendCommandBlocking({})); }
    bool sent(const Bytes& frame) const
    {
        const auto all = device->frameBytes();
        return std::find(all.begin(), all.end(), frame) != all.end();
    }
};

TEST(FacadeForwarders, LightsReachTheCameraAndAreRemembered)
{
    Started rig;
    auto& system = *rig.system;
    system.IlluminationLedOn();
    system.StatusCaseOn();
    system.StatusGreenOn();
    system.StatusRedOn();
    rig.sync();
    EXPECT_EQ(rig.device->leds() & 0xF0, 0xF0) << "green and red reach the camera too";
    EXPECT_TRUE(system.IsIlluminationOn());
    EXPECT_TRUE(system.IsStatusCaseOn());
    EXPECT_TRUE(system.IsStatusGreenOn());
    EXPECT_TRUE(system.IsStatusRedOn());
    EXPECT_TRUE(rig.binding->GetCamera().GetIlluminationWanted()) << "a restart turns them on again";

    system.IlluminationLedOff();
    system.StatusCaseOff();
    system.StatusGreenOff();
    system.StatusRedOff();
    rig.sync();
    EXPECT_EQ(rig.device->leds() & 0xF0, 0x00);
    EXPECT_FALSE(system.IsIlluminationOn());
    EXPECT_FALSE(system.IsStatusCaseOn());
    EXPECT_FALSE(system.IsStatusGreenOn());
    EXPECT_FALSE(system.IsStatusRedOn());

    // Start's illumination flag goes through the same remembered path.
    system.Stop();
    ASSERT_TRUE(system.Start(false, true));
    rig.sync();
    EXPECT_TRUE(system.IsIlluminationOn());
    EXPECT_EQ(rig.device->leds() & 0x80, 0x80);
}

TEST(FacadeForwarders, OptionsVideoBrightnessAndLock)
{
    Started rig;
    auto& system = *rig.system;
    EXPECT_EQ(system.SetCameraOptions(140, true, true), 0);
    EXPECT_EQ(system.TurnVideoOff(), 0);
    EXPECT_EQ(system.SetIRLEDBrightness(0xD0), 0);
    EXPECT_EQ(system.Unlock(1), 0);
    rig.sync();
    EXPECT_EQ(rig.device->threshold(), 140);
    EXPECT_TRUE(rig.device->invert());
    EXPECT_TRUE(rig.device->pulse());
    EXPECT_FALSE(rig.device->videoOn());
    EXPECT_EQ(rig.device->brightness(), 0xD0);
    EXPECT_EQ(rig.device->lockBytes(), (Bytes{0x4F, 0x56, 0x4C, 1}));
    const auto options = system.GetCameraOptions();
    EXPECT_EQ(options.threshold, 140);
    EXPECT_TRUE(options.invert);
    EXPECT_TRUE(options.pulse);
    EXPECT_EQ(rig.binding->GetThreshold(), 140) << "the decoder's threshold follows";
    EXPECT_EQ(system.TurnVideoOn(), 0);
    rig.sync();
    EXPECT_TRUE(rig.device->videoOn());

    // Values that do not fit their byte are refused, not cut.
    rig.device->clearLog();
    for (int bad : {-1, 256, 396}) {
        EXPECT_EQ(system.SetCameraOptions(bad, false, false), -1) << bad;
        EXPECT_EQ(system.SetIRLEDBrightness(bad), -1) << bad;
    }
    rig.sync();
    EXPECT_EQ(rig.device->threshold(), 140);
    EXPECT_EQ(system.GetCameraOptions().threshold, 140);
    EXPECT_EQ(rig.device->frameCount(), 1u) << "only the sync frame";
}

TEST(FacadeForwarders, I2CWritesAreSentAndRecordedInTheScript)
{
    Started rig;
    auto& system = *rig.system;
    const std::size_t before = system.GetConfiguration().GetI2cCommands().size();
    EXPECT_EQ(system.WriteI2CData(0x90, 0x0B, 0x2A), 0);
    rig.sync();
    EXPECT_EQ(rig.device->i2c(0x90, 0x0B), 0x2A);
    ASSERT_EQ(system.GetConfiguration().GetI2cCommands().size(), before + 1);
    EXPECT_EQ(system.GetConfiguration().GetI2cCommands().back(),
              (Orvane::CameraConfigScript::I2cCommand{0x90, 0x0B, 0x2A}));
    unsigned value = 99;
    EXPECT_EQ(system.ReadI2CData(0x90, 0x0B, value), 1);
    EXPECT_EQ(value, 0x2Au);

    // The record reaches the script's file.
    const testing_support::TempDir dir{"facade-i2c"};
    const std::string path = dir.file("camera.xml").string();
    ASSERT_TRUE(system.WriteConfigFile(path));
    Orvane::CameraConfigScript read;
    ASSERT_TRUE(read.ReadXml(path));
    EXPECT_EQ(read.GetI2cCommands(), system.GetConfiguration().GetI2cCommands());

    // A register number cut to its byte would write another register.
    struct Case {
        int device, reg, data;
    };
    for (const Case& c : {Case{0x190, 0x0B, 1}, Case{0x90, 256 + 0x0B, 1}, Case{0x90, 0x0B, 0x12A}, Case{-1, 0, 0}})
        EXPECT_EQ(system.WriteI2CData(c.device, c.reg, c.data), -1) << c.device << " " << c.reg << " " << c.data;
    for (const Case& c : {Case{0x190, 0x0B, 0}, Case{0x90, 256 + 0x0B, 0}, Case{0x90, -1, 0}}) {
        value = 99;
        EXPECT_EQ(system.ReadI2CData(c.device, c.reg, value), 0) << c.device << " " << c.reg;
        EXPECT_EQ(value, 0u);
    }
    rig.sync();
    EXPECT_EQ(rig.device->i2c(0x90, 0x0B), 0x2A);
    EXPECT_EQ(system.GetConfiguration().GetI2cCommands().size(), before + 1);
}

TEST(FacadeForwarders, EepromAndRawCommands)
{
    Started rig;
    auto& system = *rig.system;
    EXPECT_EQ(system.WriteEEPROM16Data(0x01, 0x20, 0x55), 0);
    EXPECT_EQ(system.ReadEEPROM16Data(0x01, 0x20, 0), 0);
    EXPECT_EQ(system.WriteEEPROM16Data(0x100, 0x20, 0x66), -1);
    EXPECT_TRUE(system.SendCommand(Bytes{0x1E, 0x01, 7}));
    rig.sync();
    EXPECT_EQ(rig.device->eeprom(0x0120), 0x55);
    EXPECT_TRUE(rig.sent(Bytes{0x43, 0x01, 0x20}));
    EXPECT_EQ(rig.device->numeric(), 7);

    EXPECT_TRUE(system.WriteUsbBuffer(Bytes{0x1E, 0x02, 0x00}));
    EXPECT_EQ(rig.device->numeric(), 0);
    const Bytes tooLong(Orvane::Camera::OutputBufferSize + 1, 0x13);
    EXPECT_FALSE(system.SendCommand(tooLong));
    EXPECT_FALSE(system.SendCommandBlocking(tooLong));
    EXPECT_FALSE(system.WriteUsbBuffer(tooLong));
    const Bytes tooLongForAWord(0x10001, 0x13);
    EXPECT_FALSE(system.WriteUsbBuffer(tooLongForAWord)) << "a length past 16 bits must not wrap";
}

TEST(FacadeForwarders, DeviceAndBuffers)
{
    Started rig;
    auto& system = *rig.system;
    const auto device = system.GetUsbDevice();
    EXPECT_EQ(device.driver, Orvane::Camera::OVUSB);
    EXPECT_EQ(device.index, 0);
    EXPECT_TRUE(device.open);
    EXPECT_TRUE(system.IsUsbDeviceOpen());
    EXPECT_TRUE(system.IsDevicePresent());
    system.CloseUsbDevice();
    EXPECT_FALSE(system.IsUsbDeviceOpen());
    EXPECT_FALSE(system.GetUsbDevice().open);
    EXPECT_TRUE(system.OpenUsbDevice());

    // The camera's packets go to the system's buffer unless sent elsewhere.
    EXPECT_EQ(&system.GetCameraPacketBuffer(), &system.GetPacketBuffer());
    EXPECT_EQ(system.GetPacketBufferQueue(), &system.GetPacketBuffer());
    CameraSystemFacade::PacketBuffer other(2);
    system.SetPacketBuffer(&other);
    EXPECT_EQ(system.GetPacketBufferQueue(), &other);
    system.SetPacketBuffer(&system.GetPacketBuffer());

    system.SetWantEmptyFrames(true);
    EXPECT_TRUE(rig.binding->GetCamera().GetWantEmptyFrames());
    system.SetWantEmptyFrames(false);
    EXPECT_FALSE(rig.binding->GetCamera().GetWantEmptyFrames());

    // An unmatched reply with the armed code lands in the raw buffer.
    Orvane::DoubleBuffer<Orvane::RawPacket> raw(1);
    system.CaptureNextPacket(0x30, &raw);
    rig.device->pushReply({4, 0x30, 0xAB, 0xCD});
    ASSERT_EQ(raw.Wait(3000), platform::kWaitObject0);
    Orvane::RawPacket* p = raw.TakeFilled();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data()[2], 0xAB);
    raw.GiveBack(p);

    // The system's number is only stored; the camera keeps its device.
    system.SetCameraNumber(5);
    EXPECT_EQ(system.GetCameraNumber(), 5);
    EXPECT_EQ(rig.binding->GetCamera().GetCameraNumber(), 0);

    Orvane::CameraConfigurationData block;
    block.SetSerialNumber(4242);
    block.SetHardwareRevision(12);
    system.SetConfigurationData(block);
    EXPECT_EQ(system.GetConfigurationData().GetSerialNumber(), 4242u);
    EXPECT_EQ(system.GetConfigurationData().GetHardwareRevision(), 12);
}

// A script applied without LED control of its own switches the camera's
// LEDs through the system, which then remembers them.
TEST(FacadeForwarders, ScriptLedsGoThroughTheSystem)
{
    Started rig;
    auto& system = *rig.system;
    Orvane::CameraConfigScript script;
    script.SetIlluminationLedsOn(true);
    script.SetCaseLightOn(true);
    EXPECT_TRUE(system.ApplyConfiguration(script));
    EXPECT_EQ(rig.device->leds() & 0xF0, 0xC0);
    EXPECT_TRUE(system.IsIlluminationOn());
    EXPECT_TRUE(system.IsStatusCaseOn());
    EXPECT_FALSE(system.IsStatusGreenOn());
}

// Without a device camera nothing is sent; the states are still remembered
// and nothing is recorded for writes that went nowhere.
TEST(FacadeForwarders, WithoutADeviceNothingIsSent)
{
    testing_support::FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock});
    EXPECT_EQ(system.SetCameraOptions(150, false, true), -1);
    EXPECT_EQ(system.GetCameraOptions().threshold, 150);
    system.StatusCaseOn();
    EXPECT_TRUE(system.IsStatusCaseOn());
    system.IlluminationLedOn();
    EXPECT_EQ(camera.illumination.load(), 1);
    EXPECT_TRUE(system.IsIlluminationOn());
    EXPECT_EQ(system.WriteI2CData(1, 2, 3), -1);
    EXPECT_TRUE(system.GetConfiguration().GetI2cCommands().empty());
    unsigned value = 7;
    EXPECT_EQ(system.ReadI2CData(1, 2, value), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(system.TurnVideoOn(), -1);
    EXPECT_FALSE(system.SendCommand(Bytes{0x13}));
    EXPECT_FALSE(system.SendCommandBlocking({}));
    EXPECT_FALSE(system.IsDevicePresent());
    EXPECT_FALSE(system.GetUsbDevice().open);
    EXPECT_EQ(system.GetPacketBufferQueue(), &system.GetPacketBuffer());
}

} // namespace
