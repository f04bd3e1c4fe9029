#include "camera/configuration_data.h"
#include "camera/exceptions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Orvane;

namespace {

// A configuration reply as the camera sends it: length byte, reply code,
// type, version, serial (big-endian), revision, options, then padding to
// `length` bytes; byte 20 (when present) is the hardware interface.
std::vector<std::uint8_t> Reply(int length, int type, int version, int revision, std::uint8_t interfaceByte = 1)
{
    std::vector<std::uint8_t> r(static_cast<std::size_t>(length), 0);
    r[0] = static_cast<std::uint8_t>(length);
    r[1] = 0x40;
    r[2] = static_cast<std::uint8_t>(type);
    r[3] = static_cast<std::uint8_t>(version);
    r[4] = 0x00;
    r[5] = 0xDB;
    r[6] = 0x8B;
    r[7] = static_cast<std::uint8_t>(revision);
    r[8] = 0x05;
    if (length > 20)
        r[20] = interfaceByte;
    return r;
}

} // namespace

TEST(ConfigurationDataTest, FreshBlockReturnsAtOnce)
{
    CameraConfigurationData c;
    EXPECT_EQ(c.GetState(), CameraConfigurationData::Invalid);
    EXPECT_EQ(c.GetModelType(), -1);
    EXPECT_EQ(c.GetModelVersion(), -1);
    EXPECT_EQ(c.GetHardwareRevision(), 0);
    EXPECT_EQ(c.GetDefaultThreshold(), 130);
}

TEST(ConfigurationDataTest, ParseTable)
{
    struct Case {
        int length;  // reply length L
        int type, version, revision;
        int wantThreshold;
        int wantInterface;
    } cases[] = {
        {20, 3, 0, 4, 140, 0},   // L = 20: no interface byte
        {21, 3, 0, 4, 140, 1},   // L = 21: interface from reply byte 20
        {21, 3, 1, 4, 130, 1},
        {21, 2, 0, 4, 130, 1},
        {21, 1, 0, 3, 100, 1},
        {21, 1, 0, 5, 140, 1},
        {21, 1, 0, 6, 140, 1},
        {21, 1, 0, 7, 140, 1},
        {21, 1, 0, 12, 140, 1},
        {21, 1, 0, 8, 120, 1},
        {21, 1, 0, 9, 150, 1},
        {21, 1, 0, 13, -1, 1},
        {9, 1, 0, 8, 120, 0},    // shortest accepted: block of 8 bytes
        {64, 1, 0, 9, 150, 1},   // longest accepted: one whole reply packet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "L=" << c.length << " rev=" << c.revision);
        const auto reply = Reply(c.length, c.type, c.version, c.revision);
        CameraConfigurationData block;
        block.SetWaitingState();
        block.SetHardwareOptionsLock(7);
        block.Parse(reply.data() + 1, reply[0] - 1);
        EXPECT_EQ(block.GetState(), CameraConfigurationData::Valid);
        EXPECT_EQ(block.GetModelType(), c.type);
        EXPECT_EQ(block.GetModelVersion(), c.version);
        EXPECT_EQ(block.GetSerialNumber(), 56203ul);
        EXPECT_EQ(block.GetHardwareRevision(), c.revision);
        EXPECT_EQ(block.GetHardwareOptions(), 5);
        EXPECT_EQ(block.GetHardwareOptionsLock(), 0);
        EXPECT_EQ(block.GetHardwareInterface(), c.wantInterface);
        EXPECT_EQ(block.GetDefaultThreshold(), c.wantThreshold);

        CameraConfigurationData viaReply;
        viaReply.ParseReply(reply);
        EXPECT_EQ(viaReply.GetHardwareRevision(), c.revision);
        EXPECT_EQ(viaReply.GetHardwareInterface(), c.wantInterface);
    }
}

TEST(ConfigurationDataTest, ShortLongAndLyingRepliesAreRefused)
{
    // Each block is given exactly its own bytes (a heap copy), so a read past
    // its end shows under the address sanitizer.
    for (int blockLength : {1, 2, 7, 64, 200}) {
        SCOPED_TRACE(blockLength);
        std::vector<std::uint8_t> block(static_cast<std::size_t>(blockLength), 0x09);
        CameraConfigurationData c;
        c.SetWaitingState();
        EXPECT_THROW(c.Parse(block.data(), blockLength), NoCameraDataException);
        EXPECT_EQ(c.GetState(), CameraConfigurationData::Invalid) << "waiters end";
        EXPECT_EQ(c.GetHardwareRevision(), 0);
        EXPECT_EQ(c.GetModelType(), -1);
    }
    {
        std::vector<std::uint8_t> nonEmpty(4, 0);
        CameraConfigurationData c;
        EXPECT_THROW(c.Parse(nonEmpty.data(), 0), NoCameraDataException);
        EXPECT_THROW(c.Parse(nonEmpty.data(), -5), NoCameraDataException);
    }
    // A reply whose length byte claims more than was received.
    auto reply = Reply(21, 3, 0, 8);
    reply.resize(12);
    CameraConfigurationData c;
    EXPECT_THROW(c.ParseReply(reply), NoCameraDataException);
    EXPECT_THROW(c.ParseReply({}), NoCameraDataException);
    std::vector<std::uint8_t> zeroLength{0x00, 0x40};
    EXPECT_THROW(c.ParseReply(zeroLength), NoCameraDataException);
    EXPECT_EQ(c.GetState(), CameraConfigurationData::Invalid);
}

TEST(ConfigurationDataTest, KilledReadBlanksTheBlock)
{
    const auto reply = Reply(21, 3, 0, 8);
    CameraConfigurationData c;
    c.Parse(reply.data() + 1, 20);
    c.SetWaitingState();
    c.Parse(nullptr, 0);
    EXPECT_EQ(c.GetState(), CameraConfigurationData::Invalid);
    EXPECT_EQ(c.GetHardwareRevision(), 0);
    EXPECT_EQ(c.GetModelType(), -1);
    EXPECT_EQ(c.GetDefaultThreshold(), 130);
}

TEST(ConfigurationDataTest, GetterWaitsForTheReply)
{
    const auto reply = Reply(21, 3, 0, 9);
    CameraConfigurationData c;
    c.SetWaitingState();
    std::atomic<bool> returned{false};
    std::atomic<int> revision{-5};
    std::thread reader([&] {
        revision = c.GetHardwareRevision();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned.load()) << "a getter waits while a read is under way";
    c.Parse(reply.data() + 1, 20);
    reader.join();
    EXPECT_EQ(revision.load(), 9);
    EXPECT_TRUE(c.WaitValidFor(0));

    CameraConfigurationData pending;
    pending.SetWaitingState();
    EXPECT_FALSE(pending.WaitValidFor(5));
}

TEST(ConfigurationDataTest, CopyWaitsAndTakesStateAssignmentDoesNeither)
{
    const auto reply = Reply(21, 3, 0, 8);
    CameraConfigurationData source;
    source.SetWaitingState();
    std::thread parser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        source.Parse(reply.data() + 1, 20);
    });
    const CameraConfigurationData copy(source);  // waits for the parse
    parser.join();
    EXPECT_EQ(copy.GetState(), CameraConfigurationData::Valid);
    EXPECT_EQ(copy.GetHardwareRevision(), 8);

    CameraConfigurationData target;
    target.SetWaitingState();
    CameraConfigurationData waitingSource;
    waitingSource.SetWaitingState();
    waitingSource.SetHardwareRevision(12);
    target = waitingSource;  // must not wait
    EXPECT_EQ(target.GetState(), CameraConfigurationData::Waiting) << "state is not copied";
    target.SetValidState();
    EXPECT_EQ(target.GetHardwareRevision(), 12);
    CameraConfigurationData& alias = target;
    target = alias;
    EXPECT_EQ(target.GetHardwareRevision(), 12);
}
