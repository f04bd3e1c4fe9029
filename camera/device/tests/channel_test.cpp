// The command channel: framing, LED cache, reply matching, image path,
// ordering, watchdog, read failures, bounded reads and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "camera/exceptions.h"
#include "camera_fixture.h"

using namespace camera_test;
using Orvane::Camera;
using Orvane::CameraPacket;
using Orvane::DoubleBuffer;

namespace {

int countFrames(const SimCamera& sim, std::uint8_t command)
{
    int n = 0;
    for (auto& f : sim.frames())
        n += f[0] == command;
    return n;
}

} // namespace

TEST(CameraChannel, FpgaDataIsChunkedByRevision)
{
    Bytes payload(130);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i);
    for (int rev : {6, 7, 12}) {
        SimCamera sim(revision(rev));
        sim.camera->SendCommand(payload.data(), 130, Camera::DEVCTRL_CONFIG_FPGA_DAT, 0, nullptr, nullptr, nullptr);
        sim.camera->Sync();
        auto frames = sim.frames();
        std::vector<std::size_t> sizes;
        for (auto& f : frames)
            sizes.push_back(f.size());
        if (rev == 6) {
            EXPECT_EQ(sizes, (std::vector<std::size_t>{62, 62, 12}));
            EXPECT_EQ((Bytes{frames[0][0], frames[0][1], frames[0][2]}), (Bytes{0x1C, 60, 0}));
            EXPECT_EQ((Bytes{frames[2][0], frames[2][1], frames[2][2]}), (Bytes{0x1C, 10, 120}));
        } else {
            EXPECT_EQ(sizes, (std::vector<std::size_t>{132})) << rev;
            EXPECT_EQ(frames[0][1], 130);
        }
    }
}

TEST(CameraChannel, FramingForms)
{
    SimCamera sim;
    Camera& k = *sim.camera;
    k.SendCommandEx(nullptr, 0, Camera::DEVCTRL_STATUS_GET);  // code without payload: one byte
    const unsigned char frame[] = {0x14, 0x00};
    k.SendCommandEx(frame, 2, 0);
    k.SendCommandEx(nullptr, 0, 0);  // empty: a write of zero bytes
    auto all = sim.device->frameBytes();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], (Bytes{0x1D}));
    EXPECT_EQ(all[1], (Bytes{0x14, 0x00}));
    EXPECT_TRUE(all[2].empty());
}

TEST(CameraChannel, OverlongFrameIsRefusedBeforeAnyCopy)
{
    SimCamera sim;
    Camera& k = *sim.camera;
    std::vector<unsigned char> big(4097, 0x10);
    try {
        k.SendCommandEx(big.data(), 4097, 0);
        FAIL() << "no exception";
    } catch (const Orvane::UsbWriteException& e) {
        EXPECT_STREQ(e.what(), "Camera::WriteOutputBuffer - buffer number of bytes exceeds packet size.");
    }
    EXPECT_THROW(k.WriteOutputBuffer(4097), Orvane::UsbWriteException);
    EXPECT_FALSE(k.WriteUsbBuffer(big.data(), 4097));
    // Queued, it is refused at once: the waiting caller wakes with failure.
    EXPECT_FALSE(k.SendCommandBlocking(big.data(), 4097));
    EXPECT_EQ(sim.device->frameCount(), 0u);
    EXPECT_EQ(k.GetLedCache(), 0);  // nothing of it was taken
    std::vector<unsigned char> full(4096, 0x13);
    EXPECT_TRUE(k.WriteUsbBuffer(full.data(), 4096));
    EXPECT_EQ(sim.device->frameBytes().back().size(), 4096u);
}

TEST(CameraChannel, LedCacheFollowsFrames)
{
    SimCamera sim;
    Camera& k = *sim.camera;
    const unsigned char a[] = {0x10, 0x80, 0x80}, b[] = {0x10, 0x00, 0x20}, shortLed[] = {0x10, 0xFF};
    k.SendCommandEx(a, 3, 0);
    k.SendCommandEx(b, 3, 0);
    EXPECT_EQ(k.GetLedCache(), 0x80);
    k.SendCommandEx(shortLed, 2, 0);  // too short to carry a mask: no change
    EXPECT_EQ(k.GetLedCache(), 0x80);
    k.SendCommandEx(nullptr, 0, Camera::DEVCTRL_RELOAD_CONFDATA);
    EXPECT_EQ(k.GetLedCache(), 0);
}

TEST(CameraChannel, RepliesMatchOnlyTheAwaitingCode)
{
    DoubleBuffer<CameraPacket> packets;
    packets.Emplace(64u);
    SimCamera sim(simcam::Model{}, fastTiming(), 0, &packets);
    sim.device->dropReplies(1);
    auto read = std::async(std::launch::async, [&] {
        unsigned v = 0;
        bool ok = sim.camera->FPGARegRead(1, &v);
        return std::pair(ok, v);
    });
    ASSERT_TRUE(eventually([&] { return countFrames(sim, 0x1F) == 1; }));
    sim.device->pushReply({5, 0x10, 0xAA, 0xBB, 0xCC});  // image data on the reply path
    sim.device->pushReply({6, 0x50, 0, 0, 0, 0});         // unmatched: dropped
    sim.device->pushReply({6, 0x2F, 1, 0, 0x12, 0x34});   // low nibble ignored
    auto [ok, v] = read.get();
    EXPECT_TRUE(ok);
    EXPECT_EQ(v, 0x1234u);
    ASSERT_EQ(packets.GetFilledCount(), 1);
    CameraPacket* p = packets.TakeFilled();
    EXPECT_EQ(p->GetNumBytesInPacket(), 5u);
    EXPECT_EQ(p->GetHeader(), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(p->GetBuffer()[2], 0xAA);
    packets.GiveBack(p);
}

TEST(CameraChannel, RawCaptureTakesTheArmedCode)
{
    DoubleBuffer<Orvane::RawPacket> raw(1);
    SimCamera sim;
    sim.camera->CaptureNextPacket(0x50, &raw);
    unsigned char reply[] = {4, 0x52, 7, 8};
    sim.camera->ProcessIncomingCommunication(reply, 4);
    sim.camera->ProcessIncomingCommunication(reply, 4);  // disarmed: dropped
    ASSERT_EQ(raw.GetFilledCount(), 1);
    auto* item = raw.TakeFilled();
    EXPECT_EQ(item->bytes[1], 0x52);
    EXPECT_EQ(item->bytes[4], 0);
    raw.GiveBack(item);
    unsigned char one[] = {0x20};
    sim.camera->ProcessIncomingCommunication(one, 1);  // too short to carry a code
}

TEST(CameraChannel, ImagePathFiltering)
{
    DoubleBuffer<CameraPacket> packets;
    packets.Emplace(0x100u);
    packets.Emplace(0x100u);
    SimCamera sim(simcam::Model{}, fastTiming(), 0, &packets);
    struct Row {
        Bytes data;
        bool kept;
    };
    const Row rows[] = {
        {{1, 2, 3}, false},
        {{1, 0, 0, 0}, false},
        {{0x00, 0x08, 0, 0, 9, 9}, false},  // header bit 0x0800
        {{0x00, 0x80, 0, 0, 9, 9}, false},  // header bit 0x8000
        {{0x05, 0x07, 0xAA, 0x01, 9, 8, 7}, true},
    };
    for (const auto& row : rows) {
        Bytes copy = row.data;
        sim.camera->ProcessIncomingData(copy.data(), copy.size());
        EXPECT_EQ(packets.GetFilledCount(), row.kept ? 1 : 0);
    }
    CameraPacket* p = packets.TakeFilled();
    EXPECT_EQ(p->GetNumBytesInPacket(), 3u);
    EXPECT_EQ(p->GetHeader(), (std::array<std::uint8_t, 4>{0x05, 0x07, 0xAA, 0x01}));
    EXPECT_EQ(p->GetBuffer()[0], 9);
    packets.GiveBack(p);
    // A full buffer drops silently.
    Bytes good{0, 0, 0, 0, 1};
    for (int i = 0; i < 4; ++i)
        sim.camera->ProcessIncomingData(good.data(), good.size());
    EXPECT_EQ(packets.GetFilledCount(), 2);
}

TEST(CameraChannel, ImagePacketsFlowFromTheImagePath)
{
    DoubleBuffer<CameraPacket> packets;
    for (int i = 0; i < 4; ++i)
        packets.Emplace(0x1000u);
    SimCamera sim(simcam::Model{}, fastTiming(), 0, &packets);
    sim.camera->SetStarted(true);
    sim.device->pushImagePacket({0x00, 0x01, 0xAB, 0x05, 1, 2, 3, 4});
    ASSERT_EQ(packets.Wait(3000), platform::kWaitObject0);
    CameraPacket* p = packets.TakeFilled();
    EXPECT_EQ(p->GetNumBytesInPacket(), 4u);
    packets.GiveBack(p);
}

TEST(CameraChannel, OnlyOneCommandAwaitsAtATime)
{
    auto timing = fastTiming();
    timing.watchdogMs = 400;
    timing.statusPolls = 2000;  // the status read outlasts the first read's resend
    SimCamera sim(simcam::Model{}, timing);
    sim.device->dropReplies(1);
    auto first = std::async(std::launch::async, [&] {
        unsigned v;
        return sim.camera->FPGARegRead(1, &v);
    });
    ASSERT_TRUE(eventually([&] { return countFrames(sim, 0x1F) == 1; }));
    auto second = std::async(std::launch::async, [&] {
        _OV_RESERVED s{};
        return sim.camera->ReadCameraStatus(&s);
    });
    // A no-reply command is held back as well: everything queues behind.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(countFrames(sim, 0x1D), 0);
    EXPECT_TRUE(first.get());   // resent once, then answered
    EXPECT_TRUE(second.get());
    EXPECT_EQ(countFrames(sim, 0x1F), 2);
    EXPECT_EQ(countFrames(sim, 0x1D), 1);
}

TEST(CameraChannel, SecondLossKillsTheQueueAndShutsDown)
{
    for (int number : {0, 1024}) {
        SimCamera sim(simcam::Model{}, fastTiming(), number);
        sim.device->dropReplies(2);
        auto start = std::chrono::steady_clock::now();
        unsigned v = 7;
        EXPECT_FALSE(sim.camera->FPGARegRead(1, &v)) << number;
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(2 * 150 - 20)) << number;
        EXPECT_EQ(v, 0u);
        EXPECT_TRUE(eventually([&] { return countFrames(sim, 0x13) == 1; })) << number;
        EXPECT_EQ(countFrames(sim, 0x1F), 2) << number;
        std::vector<platform::Duration> sent;
        for (const auto& f : sim.device->frames())
            if (!f.bytes.empty() && f.bytes[0] == 0x1F)
                sent.push_back(f.at);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_GE(sent[1] - sent[0], std::chrono::milliseconds(140)) << number;  // one watchdog wait apart
        // The channel works again afterwards.
        EXPECT_TRUE(sim.camera->FPGARegRead(1, &v));
        EXPECT_EQ(v, 1u);
    }
}

TEST(CameraChannel, FiveReadFailuresCloseTheDevice)
{
    SimCamera sim;
    sim.camera->SetStarted(true);
    sim.device->failReads(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(sim.camera->IsUsbDeviceOpen());
    unsigned v;
    EXPECT_TRUE(sim.camera->FPGARegRead(1, &v));  // a good read resets the count
    sim.device->failReads(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(sim.camera->IsUsbDeviceOpen());
    sim.device->failReads(1);
    ASSERT_TRUE(eventually([&] { return !sim.camera->IsUsbDeviceOpen(); }));
    // Closed: queued operations complete at once without effect.
    EXPECT_FALSE(sim.camera->Sync());
    EXPECT_FALSE(sim.camera->FPGARegRead(1, &v));
    // Reopened with a fresh count: a single failure does not close it again.
    ASSERT_TRUE(sim.camera->OpenUsbDevice());
    sim.device->failReads(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(sim.camera->IsUsbDeviceOpen());
    EXPECT_TRUE(sim.camera->FPGARegRead(1, &v));
}

TEST(CameraChannel, TimedOutReadsWithdrawTheirCommand)
{
    auto timing = fastTiming();
    timing.watchdogMs = 60000;  // the read's own bound comes first
    timing.syncReadLimitMs = 100;
    timing.statusPolls = 50;
    SimCamera sim(simcam::Model{}, timing);
    sim.camera->SetStarted(true);  // the reply path is read all the time
    sim.device->dropReplies(1);
    unsigned v = 5;
    EXPECT_FALSE(sim.camera->FPGARegRead(1, &v));
    // The late reply finds nothing awaiting and is dropped; the next read is
    // answered normally.
    sim.device->pushReply({6, 0x20, 1, 0, 0x55, 0x55});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(sim.camera->FPGARegRead(1, &v));
    EXPECT_EQ(v, 1u);

    // A status read that times out closes the device and leaves the record.
    sim.device->delayReplies(std::chrono::milliseconds(300));
    _OV_RESERVED s{9, 9, {9, 9}, 9};
    EXPECT_FALSE(sim.camera->ReadCameraStatus(&s));
    EXPECT_EQ(s.configured, 9);
    EXPECT_FALSE(sim.camera->IsUsbDeviceOpen());
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
}

TEST(CameraChannel, CommandsOnAClosedDeviceCompleteAtOnce)
{
    simcam::Hub hub;
    hub.addOwn(3);
    Camera k(hub, 3, nullptr, fastTiming());
    k.InitializeCameraCommunication();
    EXPECT_FALSE(k.IsUsbDeviceOpen());
    EXPECT_FALSE(k.Sync());
    EXPECT_EQ(k.ReadLeds(), 0);
    _OV_RESERVED s{1, 1, {1, 1}, 1};
    EXPECT_FALSE(k.ReadCameraStatus(&s));
    EXPECT_EQ(s.configured, 0);  // a killed status read gives a zero record
}

// The channel's threads are woken by what they wait for: with every idle
// period at a minute, commands still go out and replies come back within the
// synchronous reads' own bound, also after the device was closed and opened
// again. (A thread that only looked every idle period would miss the bound.)
TEST(CameraChannel, QueuedCommandsAndAnOpenedDeviceWakeTheThreads)
{
    Orvane::CameraTiming slow = fastTiming();
    slow.sendIdleMs = 60000;
    slow.readerIdleMs = 60000;
    slow.closedIdleMs = 60000;
    slow.imageIdleMs = 60000;
    slow.syncReadLimitMs = 5000;
    for (int number : {0, 1024}) {
        SCOPED_TRACE(number);
        simcam::Hub hub;
        std::string path;
        if (number >= 1024)
            path = hub.addGeneric();
        else
            hub.addOwn(number);
        Camera camera(hub, number, nullptr, slow);
        if (number >= 1024)
            camera.SetUSBIODevicePath(path);
        camera.InitializeCameraCommunication();
        // The threads are asleep on the closed device when it opens.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(camera.OpenUsbDevice());
        camera.ReadCameraData();
        ASSERT_TRUE(camera.GetConfigurationData().WaitValidFor(5000));
        for (int i = 0; i < 20; ++i) {
            unsigned v = 0;
            ASSERT_TRUE(camera.FPGARegRead(1, &v)) << i;
        }
        EXPECT_TRUE(camera.Sync());
        if (number < 1024) {
            // Closed, the threads sleep the closed-device period; the next
            // open wakes them.
            camera.CloseUsbDevice();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ASSERT_TRUE(camera.OpenUsbDevice());
            unsigned v = 0;
            EXPECT_TRUE(camera.FPGARegRead(1, &v));
        }
    }
}

TEST(CameraChannel, OwnDriverOpensTheDeviceForEveryWrite)
{
    SimCamera sim(simcam::Model{}, fastTiming(), 3);
    int before = sim.device->opens();
    sim.camera->TurnLedOn();
    sim.camera->TurnLedOff();
    sim.camera->Sync();
    EXPECT_EQ(sim.device->opens() - before, 3);  // two frames and the empty one
    sim.camera->CloseUsbDevice();
    const unsigned char f[] = {0x13};
    EXPECT_TRUE(sim.camera->WriteUsbBuffer(f, 1));
}

TEST(CameraChannel, ShutdownReturnsWhileReadsAreBlocked)
{
    auto sim = std::make_unique<SimCamera>();
    sim->camera->SetStarted(true);  // both readers now block in idle reads
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto device = sim->device;
    auto start = std::chrono::steady_clock::now();
    sim->camera.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    auto frames = device->frameBytes();
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(frames.front(), (Bytes{0x10, 0x00, 0xF0}));
    EXPECT_EQ(frames.back(), (Bytes{0x13}));
}

TEST(CameraChannel, DeconfiguresRevisionNineOnTheWayOut)
{
    simcam::Model m = revision(9);
    auto sim = std::make_unique<SimCamera>(m);
    auto device = sim->device;
    sim->camera.reset();
    std::vector<Bytes> tail;
    for (auto& f : device->frameBytes())
        if (!f.empty())
            tail.push_back(f);
    ASSERT_GE(tail.size(), 5u);
    EXPECT_EQ(std::vector<Bytes>(tail.end() - 5, tail.end()),
              (std::vector<Bytes>{{0x13}, {0x13}, {0x13}, {0x1B}, {0x13}}));
}
