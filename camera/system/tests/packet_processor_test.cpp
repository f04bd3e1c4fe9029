// The packet processor: cutting records into frames, the delivery rules for
// empty and corrupt frames, the spare frame, and the thread end to end from
// simulated camera packets to frames and tracked coordinates.
#include "system_fixture.h"

#include "simcam/imaging/render.h"
#include "testing/real_time.h"
#include "testing/test_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include <sched.h>

using Orvane::CameraPacketProcessor;
using Orvane::CameraSystem;
using Orvane::CameraSystemFacade;
using Orvane::Frame;
using Orvane::LineSegment;
using Orvane::PacketSync;
using testing_support::FakeSystemCamera;
using testing_support::QueuePacket;

namespace {

LineSegment Seg(int line, float start = 10.0f, float stop = 20.0f)
{
    return LineSegment(line, start, stop, stop - start + 1.0f);
}
LineSegment Eof()
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    return r;
}
LineSegment Option(int bits)
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    r.SetFrameOption(bits);
    return r;
}
LineSegment FrameId(int id)
{
    LineSegment r(0, 0.0f, 0.0f, 0.0f);
    r.SetFrameId(id);
    return r;
}

// A processor over a camera system's buffers, with no thread.
struct Bench {
    Bench() : processor(&system.GetPacketBuffer(), &system.GetFrameBuffer(), &camera)
    {
        processor.SetSequenceSource(&system);
    }
    // Segment counts of the queued frames, oldest first; gives them back.
    std::vector<int> Drain()
    {
        std::vector<int> counts;
        while (Frame* f = system.GetFrameBuffer().TakeFilled()) {
            counts.push_back(f->GetSegmentCount());
            system.GetFrameBuffer().GiveBack(f);
        }
        return counts;
    }
    CameraSystem system{0};
    FakeSystemCamera camera;
    CameraPacketProcessor processor;
};

struct CutCase {
    const char* name;
    std::vector<std::vector<LineSegment>> packets;
    std::vector<int> frames;  // segments of each queued frame
};

TEST(PacketProcessorCut, FramesEndWhereTheLinesDropBack)
{
    const int n = 40;
    const std::vector<CutCase> cases = {
        {"drop_within_packet", {{Seg(5), Seg(6), Seg(3), Eof()}}, {2, 1}},
        {"one_line_back_stays", {{Seg(n - 1), Seg(n), Seg(n - 1), Eof()}}, {3}},
        {"two_lines_back_ends", {{Seg(n - 1), Seg(n), Seg(n - 1), Seg(n - 2), Eof()}}, {3, 1}},
        {"below_first_line_ends", {{Seg(n), Seg(n - 1), Eof()}}, {1, 1}},
        {"restart_in_next_packet_stays", {{Seg(0, 5), Seg(1, 5), Seg(2, 5)}, {Seg(0, 30), Seg(1, 30), Eof()}}, {5}},
        {"equal_lines_stay", {{Seg(7, 1, 3), Seg(7, 10, 12), Seg(7, 20, 22), Eof()}}, {3}},
        {"eof_without_frame", {{Eof(), Eof()}}, {}},
    };
    for (const CutCase& c : cases) {
        Bench b;
        for (const auto& packet : c.packets)
            b.processor.CutRecords(packet, PacketSync{});
        EXPECT_EQ(b.Drain(), c.frames) << c.name;
    }
}

TEST(PacketProcessorCut, FrameIdOptionsTimeAndSequence)
{
    Bench b;
    PacketSync sync;
    sync.time = 1234.5;
    b.camera.switchState = 3;
    b.processor.CutRecords(std::vector<LineSegment>{FrameId(17), Option(Frame::OptionImage), Seg(4), Eof()}, sync);
    b.processor.CutRecords(std::vector<LineSegment>{FrameId(18), Seg(9), Eof()}, PacketSync{});
    Frame* f = b.system.GetFrameBuffer().TakeFilled();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetFrameId(), 17);
    EXPECT_TRUE(f->imagePresent);
    EXPECT_EQ(f->GetTime(), 1234.5);
    EXPECT_EQ(f->switchState, 3);
    EXPECT_EQ(f->GetObjectCount(), 1);
    EXPECT_EQ(f->GetSequence(), 1u);
    Frame* g = b.system.GetFrameBuffer().TakeFilled();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetFrameId(), 18);
    EXPECT_FALSE(g->imagePresent);
    EXPECT_EQ(g->GetSequence(), 2u);
}

TEST(PacketProcessorDelivery, EmptyAndCorruptFramesFollowTheSendingOptions)
{
    struct Case {
        const char* name;
        bool empty;
        bool corrupt;
        int options;
        bool delivered;
    };
    const std::vector<Case> cases = {
        {"plain", false, false, 0, true},
        {"empty", true, false, 0, false},
        {"empty_wanted", true, false, 0x1, true},
        {"corrupt", false, true, 0, false},
        {"corrupt_wanted", false, true, 0x2, true},
        {"corrupt_only_empty_wanted", false, true, 0x1, false},
        {"corrupt_empty_empty_wanted", true, true, 0x1, true},
        {"corrupt_empty_corrupt_wanted", true, true, 0x2, true},
    };
    for (const Case& c : cases) {
        Bench b;
        b.camera.sendingOptions = c.options;
        std::vector<LineSegment> records = {FrameId(1)};
        if (c.corrupt)
            records.push_back(Option(Frame::OptionCorrupt));
        if (!c.empty)
            records.push_back(Seg(3));
        records.push_back(Eof());
        b.processor.CutRecords(records, PacketSync{});
        EXPECT_EQ(b.system.GetFrameBuffer().GetFilledCount(), c.delivered ? 1 : 0) << c.name;
        EXPECT_EQ(b.processor.GetStats().heldBack, c.delivered ? 0u : 1u) << c.name;
        // A held-back frame stays the frame in progress, reset: the next
        // records fill it and it is the one queued, with nothing left over.
        b.camera.sendingOptions = 0;
        b.processor.CutRecords(std::vector<LineSegment>{Seg(8), Eof()}, PacketSync{});
        const std::vector<int> counts = b.Drain();
        EXPECT_EQ(counts.back(), 1) << c.name;
        b.processor.Stop();
        EXPECT_EQ(b.system.GetFrameBuffer().GetFreeCount(), CameraSystem::FrameBufferItems) << c.name;
    }
}

void CountRuns(Frame*, void* count)
{
    ++*static_cast<int*>(count);
}

TEST(PacketProcessorDelivery, CallbacksRunInOrderAndCanBeRemoved)
{
    Bench b;
    static std::vector<int> order;
    order.clear();
    auto first = [](Frame*, void*) { order.push_back(1); };
    auto second = [](Frame*, void*) { order.push_back(2); };
    EXPECT_FALSE(b.processor.AddNewFrameCallback(nullptr, nullptr));
    EXPECT_TRUE(b.processor.AddNewFrameCallback(first, nullptr));
    EXPECT_TRUE(b.processor.AddNewFrameCallback(second, nullptr));
    b.processor.CutRecords(std::vector<LineSegment>{Seg(1), Eof()}, PacketSync{});
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    b.processor.RemoveNewFrameCallback(first);
    b.processor.CutRecords(std::vector<LineSegment>{Seg(1), Eof()}, PacketSync{});
    EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
}

// The consumer holds every frame: frames go to the spare frame, still reach
// the callbacks and the scorer, but neither they nor a coordinate are queued.
TEST(PacketProcessorDelivery, SpareFrameReachesCallbacksButIsNeverQueued)
{
    FakeSystemCamera camera;
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, {.stopPauseMs = 50, .managedCameraCount = {}, .clock = &clock});
    int runs = 0;
    system.GetPacketProcessor().AddNewFrameCallback(&CountRuns, &runs);
    std::vector<Frame*> held;
    while (Frame* f = system.GetFrameBuffer().TakeFree())
        held.push_back(f);
    ASSERT_EQ(held.size(), 5u);
    for (int i = 0; i < 300; ++i)
        system.GetPacketProcessor().CutRecords(
            std::vector<LineSegment>{Seg(100, 300, 306), Seg(101, 300, 306), Seg(102, 300, 306), Eof()}, PacketSync{});
    EXPECT_EQ(runs, 300);
    EXPECT_EQ(system.GetPacketProcessor().GetStats().spareDelivered, 300u);
    EXPECT_EQ(system.GetFrameBuffer().GetFilledCount(), 0);
    EXPECT_EQ(system.GetTrackedCoordBuffer().GetFilledCount(), 0);
    EXPECT_TRUE(system.GetTrackables().GetNumberOfObjects() > 0);
    EXPECT_TRUE(system.GetTrackables().IsTracking());  // so a coordinate would have been queued
    for (Frame* f : held)
        system.GetFrameBuffer().GiveBack(f);
}

// Takes the next queued frame within a bounded wait.
Frame* NextFrame(CameraSystem& system)
{
    for (int i = 0; i < 200; ++i) {
        if (system.GetFrameBuffer().Wait(25) == platform::kWaitObject0)
            if (Frame* f = system.GetFrameBuffer().TakeFilled())
                return f;
    }
    return nullptr;
}

// Rendered markers, encoded as the camera sends them, through the thread:
// each frame's objects sit on the markers' centres, and every queued
// coordinate is the centre of one marker and carries its frame's number.
TEST(PacketProcessorThread, PacketsBecomeFramesAndCoordinatesOnTheMarkers)
{
    struct Case {
        int revision, width, height;
        std::uint8_t mode;
    };
    for (const Case& c : {Case{7, 640, 480, simcam::imaging::kModeSegments}, Case{9, 640, 480, simcam::imaging::kModeRev9Segments},
                          Case{6, 353, 289, simcam::imaging::kModeSegments}}) {
        FakeSystemCamera camera(c.revision, c.width, c.height);
        testing_support::TestClock clock;
        CameraSystemFacade system(0, camera, {.stopPauseMs = 50, .managedCameraCount = {}, .clock = &clock});
        ASSERT_TRUE(system.Start(true, true));
        EXPECT_EQ(camera.illumination.load(), 1);
        EXPECT_TRUE(system.GetConfiguration().GetGreenStatusLedOn());
        const std::vector<simcam::imaging::Disc> discs = {
            {c.width * 0.3 + 0.37, c.height * 0.4 + 0.21, 5.0, 255}, {c.width * 0.7 + 0.11, c.height * 0.6 + 0.63, 6.0, 255}};
        const auto image = simcam::imaging::Render(discs, c.width, c.height);
        int coordinates = 0;
        for (int k = 0; k < 40; ++k) {
            simcam::imaging::PacketParams p;
            p.revision = c.revision;
            p.width = c.width;
            p.height = c.height;
            p.mode = c.mode;
            p.frameId = static_cast<std::uint8_t>(k + 1);
            ASSERT_TRUE(QueuePacket(system.GetPacketBuffer(), simcam::imaging::EncodePacket(image, p), 10.0 * k));
            Frame* f = NextFrame(system);
            ASSERT_NE(f, nullptr) << "revision " << c.revision << " frame " << k;
            ASSERT_EQ(f->GetObjectCount(), 2);
            for (const auto& d : discs) {
                double best = 1e9;
                for (auto& o : f->GetObjects())
                    best = std::min(best, std::hypot(o.GetCenterMassX() - d.x, o.GetCenterMassY() - d.y));
                EXPECT_LT(best, 0.2);
            }
            EXPECT_EQ(f->GetTime(), 10.0 * k);
            if (Orvane::TrackedCoordinate* t = system.TakeCoordinateFor(*f)) {
                ++coordinates;
                EXPECT_EQ(t->frameSequence, f->GetSequence());
                double best = 1e9;
                for (const auto& d : discs)
                    best = std::min(best, std::hypot(t->x() - d.x, t->y() - d.y));
                EXPECT_LT(best, 0.2);
                system.GetTrackedCoordBuffer().GiveBack(t);
            }
            system.GetFrameBuffer().GiveBack(f);
        }
        EXPECT_GT(coordinates, 0) << "revision " << c.revision;
        system.Stop();
        EXPECT_FALSE(system.GetPacketProcessor().IsThreadRunning());
        EXPECT_EQ(system.GetPacketBuffer().GetFreeCount(), CameraSystem::PacketBufferItems);
    }
}

// The processor thread runs where the camera's receiving thread hands it its
// packets (when it runs at real-time priority, which the kernel would
// otherwise spread to an idle processor): the frame it queues then comes
// from that processor.
TEST(PacketProcessorThread, FollowsTheThreadThatQueuesItsPackets)
{
    if (!testing_support::RealTimePermitted())
        GTEST_SKIP() << "real-time scheduling is not permitted here";
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            cpus.push_back(cpu);
    FakeSystemCamera camera(7, 640, 480);
    testing_support::TestClock clock;
    CameraSystemFacade system(0, camera, {.stopPauseMs = 0, .managedCameraCount = {}, .clock = &clock});
    ASSERT_TRUE(system.Start(true, true));
    const std::vector<simcam::imaging::Disc> disc = {{200.5, 150.5, 5.0, 255}};
    const auto image = simcam::imaging::Render(disc, 640, 480);
    // From the last processor, then from the first: the thread follows each time.
    for (int cpu : {cpus.back(), cpus.front()}) {
        SCOPED_TRACE(cpu);
        std::thread([&] {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
            simcam::imaging::PacketParams p;
            ASSERT_TRUE(QueuePacket(system.GetPacketBuffer(), simcam::imaging::EncodePacket(image, p)));
        }).join();
        Frame* f = NextFrame(system);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(system.GetFrameBuffer().ProducerProcessor(), cpu);
        if (Orvane::TrackedCoordinate* t = system.TakeCoordinateFor(*f))
            system.GetTrackedCoordBuffer().GiveBack(t);
        system.GetFrameBuffer().GiveBack(f);
    }
    system.Stop();
}

} // namespace
