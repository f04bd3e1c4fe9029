// The simulated camera's side of the protocol and its transport behaviour.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "simcam/device.h"
#include "simcam/hub.h"
#include "testing/test_clock.h"

using namespace simcam;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes readReply(Device& d)
{
    ReadToken token;
    std::uint8_t buf[64];
    std::uint32_t n = 0;
    EXPECT_TRUE(d.read(Path::Reply, buf, n, token));
    return Bytes(buf, buf + n);
}

} // namespace

TEST(SimDevice, LedsOptionsVideoAndRegisters)
{
    Device d(Model{});
    d.write(Bytes{0x10, 0x80, 0x80});
    d.write(Bytes{0x10, 0x00, 0x20});
    EXPECT_EQ(d.leds(), 0x80);
    d.write(Bytes{0x10, 0x00, 0x02, 0x00, 0xD0});
    EXPECT_EQ(d.brightness(), 0xD0);
    d.write(Bytes{0x15, 120, 0, 1});
    EXPECT_EQ(d.threshold(), 120);
    EXPECT_TRUE(d.invert());
    EXPECT_TRUE(d.pulse());
    d.write(Bytes{0x14, 0x00});
    EXPECT_TRUE(d.videoOn());
    d.write(Bytes{0x19, 32, 16, 0x00, 0x32});
    EXPECT_EQ(d.reg(16, 32), 50);
    // A register read answers the last value written to that number, any bank.
    d.write(Bytes{0x1F, 32});
    EXPECT_EQ(readReply(d), (Bytes{6, 0x20, 32, 0, 0x00, 0x32}));
    d.write(Bytes{0x23, 144, 11, 7, 1, 0x3C});
    d.write(Bytes{0x24, 144, 11, 1, 0x3C});
    EXPECT_EQ(readReply(d), (Bytes{5, 0x60, 144, 11, 7}));
    d.write(Bytes{0x26, 144, 11, 0x01, 0x2C, 0x3C});
    d.write(Bytes{0x27, 144, 11, 0x14});
    EXPECT_EQ(readReply(d), (Bytes{6, 0x20, 144, 11, 0x01, 0x2C}));
    d.write(Bytes{0x42, 0x01, 0x02, 0x99});
    EXPECT_EQ(d.eeprom(0x0102), 0x99);
    EXPECT_EQ(d.frameCount(), 12u);
}

TEST(SimDevice, ConfigurationReplyLayouts)
{
    Model m;
    m.revision = 12;
    m.serial = 56203;
    m.hardwareInterface = 1;
    Device d(m);
    d.write(Bytes{0x17});
    Bytes r = readReply(d);
    ASSERT_EQ(r.size(), 21u);
    EXPECT_EQ(r[0], 21);
    EXPECT_EQ(r[1], 0x40);
    EXPECT_EQ((Bytes{r[4], r[5], r[6]}), (Bytes{0x00, 0xDB, 0x8B}));
    EXPECT_EQ(r[7], 12);
    EXPECT_EQ(r[20], 1);
    m.configHasInterface = false;
    Device shortBlock(m);
    shortBlock.write(Bytes{0x17});
    EXPECT_EQ(readReply(shortBlock).size(), 20u);
}

TEST(SimDevice, FpgaUploadAndStates)
{
    Model m;
    m.fpga = FpgaStart::Unconfigured;
    Device d(m);
    d.write(Bytes{0x1D});
    EXPECT_EQ(readReply(d), (Bytes{7, 0x20, 0, 0, 0, 0, 0}));
    d.write(Bytes{0x10, 0xF0, 0xF0});
    d.write(Bytes{0x1B});
    EXPECT_EQ(d.leds(), 0);
    d.write(Bytes{0x1C, 3, 1, 2, 3});
    d.write(Bytes{0x1D});  // ends the upload
    EXPECT_EQ(readReply(d), (Bytes{7, 0x20, 0, 1, 0x00, 0x06, 1}));
    EXPECT_EQ(d.fpga().image, (Bytes{1, 2, 3}));
    EXPECT_EQ(imageChecksum(Bytes{1, 2, 3}), 0x0006);
    d.write(Bytes{0x20});
    EXPECT_EQ(d.fpga().state, 2);

    Device never(m);
    never.neverRunning(true);
    never.checksumAlwaysWrong(true);
    never.write(Bytes{0x1B});
    never.write(Bytes{0x1C, 3, 1, 2, 3});
    never.write(Bytes{0x20});
    EXPECT_EQ(never.fpga().state, 1);
    EXPECT_NE(never.fpga().checksum, 0x0006);

    m.fpga = FpgaStart::NoUpload;
    Device none(m);
    EXPECT_EQ(none.fpga().state, 15);
}

TEST(SimDevice, OneReplyPerReadAndReplyFaults)
{
    Device d(Model{});
    d.write(Bytes{0x1D});
    d.write(Bytes{0x1F, 1});
    EXPECT_EQ(readReply(d).size(), 7u);
    EXPECT_EQ(readReply(d).size(), 6u);

    d.dropReplies(1);
    d.write(Bytes{0x1D});
    d.duplicateReplies(1);
    d.write(Bytes{0x1F, 1});
    EXPECT_EQ(readReply(d)[1], 0x20);
    EXPECT_EQ(readReply(d)[1], 0x20);
    d.wrongReplyCode(1);
    d.write(Bytes{0x1D});
    EXPECT_EQ(readReply(d)[1], 0x50);

    d.failReads(2);
    ReadToken token;
    std::uint8_t buf[8];
    std::uint32_t n = 0;
    EXPECT_FALSE(d.read(Path::Reply, buf, n, token));
    EXPECT_FALSE(d.read(Path::Reply, buf, n, token));
}

TEST(SimDevice, DelayedRepliesFollowTheClock)
{
    testing_support::TestClock clock;
    Device d(Model{}, clock);
    d.delayReplies(std::chrono::milliseconds(500));
    d.write(Bytes{0x1D});
    std::thread mover([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        clock.advanceMs(500);
    });
    Bytes r = readReply(d);
    mover.join();
    EXPECT_EQ(r.size(), 7u);
}

TEST(SimDevice, IdleReadBlocksUntilCancelCloseOrUnplug)
{
    Device d(Model{});
    for (int how = 0; how < 3; ++how) {
        ReadToken token;
        std::atomic<bool> done{false};
        bool result = true;
        std::thread reader([&] {
            std::uint8_t buf[8];
            std::uint32_t n = 0;
            result = d.read(Path::Reply, buf, n, token);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(done.load());  // idle: still blocked, not failed
        if (how == 0)
            token.cancels.fetch_add(1);
        else if (how == 1)
            token.closed = true;
        else
            d.unplug();
        d.wakeReaders();
        reader.join();
        EXPECT_FALSE(result);
    }
    d.replug();
    EXPECT_TRUE(d.plugged());
}

TEST(SimDevice, ImagesTakeTheirRevisionsPath)
{
    struct Source : ImageSource {
        int asked = 0;
        bool nextPacket(const StreamState& s, std::vector<std::uint8_t>& p) override
        {
            ++asked;
            p = {0, 0, 0xAA, static_cast<std::uint8_t>(s.revision), 1, 2};
            return true;
        }
    };
    Device d(Model{});  // revision 7: image path
    auto source = std::make_shared<Source>();
    d.setImageSource(source);
    d.write(Bytes{0x14, 0x00});
    ReadToken token;
    std::uint8_t buf[16];
    std::uint32_t n = 0;
    ASSERT_TRUE(d.read(Path::Image, buf, n, token));
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(buf[3], 7);
    d.pushImagePacket({9, 9, 9, 9, 9});
    ASSERT_TRUE(d.read(Path::Image, buf, n, token));
    EXPECT_EQ(n, 5u);

    Model m9;
    m9.revision = 9;
    Device r9(m9);
    r9.pushImagePacket({1, 0x10, 0, 0});
    EXPECT_EQ(readReply(r9), (Bytes{1, 0x10, 0, 0}));
}

TEST(SimHub, OwnDriverOpensCountAndUnplug)
{
    Hub hub;
    auto d0 = hub.addOwn(0);
    hub.addOwn(1);
    auto& own = hub.ownDriver();
    EXPECT_TRUE(own.open(0));
    EXPECT_TRUE(own.open(1));
    EXPECT_FALSE(own.open(2));
    EXPECT_EQ(d0->opens(), 1);
    std::vector<platform::usb::DeviceNotice> seen;
    hub.notices().subscribe([&](const auto& n) { seen.push_back(n); });
    hub.unplugOwn(1);
    EXPECT_FALSE(own.open(1));
    hub.replugOwn(1);
    EXPECT_TRUE(own.open(1));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, platform::usb::DeviceNotice::Kind::Removal);
    EXPECT_EQ(seen[1].ownIndex, 1);

    auto h = own.open(0);
    std::uint32_t n = 0;
    EXPECT_TRUE(h->write(Bytes{0x1D}, n));
    EXPECT_EQ(n, 1u);
    std::uint8_t buf[64];
    EXPECT_TRUE(h->read(platform::usb::kOwnReplyPath, buf, n));
    EXPECT_EQ(n, 7u);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        h->cancel();
    });
    EXPECT_FALSE(h->read(platform::usb::kOwnReplyPath, buf, n));
    closer.join();
}

TEST(SimHub, GenericDriverPipesAndControls)
{
    namespace usb = platform::usb;
    Hub hub;
    Model two;
    two.pipes = 2;
    std::string p1 = hub.addGeneric();
    std::string p2 = hub.addGeneric(two, usb::kCameraInterfaceGuid2);
    auto& g = hub.genericDriver();
    EXPECT_EQ(g.devicePaths(usb::kCameraInterfaceGuid1), std::vector<std::string>{p1});
    EXPECT_EQ(g.devicePaths(usb::kCameraInterfaceGuid2), std::vector<std::string>{p2});
    std::uint32_t error = 0;
    EXPECT_FALSE(g.open("nothing", error));
    EXPECT_EQ(error, usb::kErrorFileNotFound);
    auto writer = g.open(p1, error);
    auto reader = g.open(p1, error);
    ASSERT_TRUE(writer && reader);
    usb::ConfigurationRequest req{};
    std::uint32_t ret = 0;
    auto reqBytes = std::span(reinterpret_cast<const std::uint8_t*>(&req), sizeof req);
    EXPECT_EQ(writer->ioControl(usb::kIoctlSetConfiguration, reqBytes, {}, ret), 0u);
    EXPECT_EQ(reader->ioControl(usb::kIoctlSetConfiguration, reqBytes, {}, ret), usb::kStatusAlreadyConfigured);
    usb::ConfigurationInformation info{};
    auto infoBytes = std::span(reinterpret_cast<std::uint8_t*>(&info), sizeof info);
    EXPECT_EQ(writer->ioControl(usb::kIoctlGetConfigurationInfo, {}, infoBytes, ret), 0u);
    EXPECT_EQ(info.numberOfPipes, 3u);
    EXPECT_EQ(info.pipes[2].endpointAddress, 0x82);

    std::uint8_t out = 0x01, in = 0x81;
    writer->ioControl(usb::kIoctlBind, std::span(&out, 1), {}, ret);
    reader->ioControl(usb::kIoctlBind, std::span(&in, 1), {}, ret);
    std::vector<std::uint8_t> buf(64);
    auto read = std::make_shared<usb::Request>(buf);
    reader->submitRead(read);
    EXPECT_EQ(read->wait(20), platform::kWaitTimeout);  // idle: pending
    std::uint8_t frame[] = {0x1D};
    auto write = std::make_shared<usb::Request>(std::span(frame));
    writer->submitWrite(write);
    EXPECT_EQ(write->status(), 0u);
    ASSERT_EQ(read->wait(2000), platform::kWaitObject0);
    EXPECT_EQ(read->transferred(), 7u);

    auto pending = std::make_shared<usb::Request>(buf);
    reader->submitRead(pending);
    reader->ioControl(usb::kIoctlAbortPipe, {}, {}, ret);
    ASSERT_EQ(pending->wait(2000), platform::kWaitObject0);
    EXPECT_EQ(pending->status(), usb::kStatusCancelled);

    hub.generic(p1)->stallWrites(true);
    auto stalled = std::make_shared<usb::Request>(std::span(frame));
    writer->submitWrite(stalled);
    EXPECT_EQ(stalled->wait(10), platform::kWaitTimeout);
    writer->cancelIo();
    EXPECT_EQ(stalled->status(), usb::kStatusCancelled);

    auto gone = std::make_shared<usb::Request>(buf);
    reader->submitRead(gone);
    hub.unplugGeneric(p1);
    ASSERT_EQ(gone->wait(2000), platform::kWaitObject0);
    EXPECT_EQ(gone->status(), usb::kStatusDeviceRemoved);
    EXPECT_TRUE(g.devicePaths(usb::kCameraInterfaceGuid1).empty());
}
