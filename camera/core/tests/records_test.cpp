#include "camera/camera_object.h"
#include "camera/camera_packet.h"
#include "camera/frame.h"
#include "camera/line_segment.h"

#include "testing/test_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

using namespace Orvane;

TEST(LineSegmentTest, MarkerRecords)
{
    LineSegment s(5, 10.0f, 12.0f, 3.0f);
    EXPECT_EQ(s.next, nullptr);
    EXPECT_EQ(s.owner, nullptr);
    EXPECT_FALSE(s.IsEOF());
    EXPECT_EQ(s.GetFrameOption(), 0) << "not an option record";
    s.SetFrameOption(0x6);
    EXPECT_TRUE(s.IsFrameOption());
    EXPECT_EQ(s.GetFrameOption(), 0x6);
    s.SetFrameId(77);
    EXPECT_TRUE(s.IsFrameId());
    EXPECT_EQ(s.GetFrameOption(), 0);
    EXPECT_EQ(s.GetFrameId(), 77);
    s.Clear();
    EXPECT_TRUE(s.IsEOF());
    EXPECT_EQ(s.GetWidth(), 0.0f);
}

TEST(ObjectGeometryTest, CentreCacheAndScanLines)
{
    CameraObject fresh;
    EXPECT_TRUE(std::isnan(fresh.GetCenterMassX())) << "0 / 0 on a fresh object";
    EXPECT_TRUE(std::isnan(fresh.GetCenterMassX())) << "NaN is not negative, so it stays cached";

    CameraObject o;
    o.UpdateGeometryWithScanLine(LineSegment(4, 10.0f, 12.0f, 3.0f));
    o.UpdateGeometryWithScanLine(LineSegment(5, 9.0f, 13.0f, 5.0f));
    EXPECT_FLOAT_EQ(o.GetArea(), 8.0f);
    EXPECT_EQ(o.GetTopEdge(), 4);
    EXPECT_EQ(o.GetBottomEdge(), 5) << "no +1 when a scan line is added";
    EXPECT_FLOAT_EQ(o.GetLeftEdge(), 9.0f);
    EXPECT_FLOAT_EQ(o.GetRightEdge(), 13.0f);
    EXPECT_FLOAT_EQ(o.GetWidth(), 4.0f);
    EXPECT_EQ(o.GetHeight(), 1u);
    EXPECT_DOUBLE_EQ(o.GetCenterMassX(), (3.0 * 11.0 + 5.0 * 11.0) / 8.0);
    EXPECT_DOUBLE_EQ(o.GetCenterMassY(), (3.0 * 4 + 5.0 * 5) / 8.0);
    EXPECT_DOUBLE_EQ(o.GetRadius(), std::sqrt(8.0 / std::numbers::pi));

    // An object whose centre is exactly 0 keeps it; a negative cache is
    // recomputed on every call.
    CameraObject zero;
    zero.UpdateGeometryWithScanLine(LineSegment(0, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(zero.GetCenterMassX(), 0.0);
    zero.xTotal = 5.0f;
    EXPECT_EQ(zero.GetCenterMassX(), 0.0) << "cached";
    CameraObject negative;
    negative.area = 1.0f;
    negative.xTotal = -2.0f;
    EXPECT_EQ(negative.GetCenterMassX(), -2.0);
    negative.xTotal = -3.0f;
    EXPECT_EQ(negative.GetCenterMassX(), -3.0) << "negative cache is recomputed";
}

TEST(CameraObjectTest, CopyAssignmentAndClearKeepTheirFields)
{
    LineSegment a(1, 0, 1, 2), b(2, 0, 1, 2);
    CameraObject src;
    src.AddScanLine(&a);
    src.AddScanLine(&b);
    src.UpdateGeometryWithScanLine(a);
    src.score = 2.5;
    src.rank = 3;
    src.tracked = true;
    src.staticCount = 9;
    CameraObject other;
    src.mergedInto = &other;
    src.partial = true;
    src.aggregated = true;

    const CameraObject copy(src);
    EXPECT_EQ(copy.score, 2.5);
    EXPECT_EQ(copy.rank, 3);
    EXPECT_TRUE(copy.tracked);
    EXPECT_EQ(copy.staticCount, 9);
    EXPECT_EQ(copy.GetSegmentHead(), &a);
    EXPECT_EQ(copy.GetSegmentTail(), &b);
    EXPECT_FLOAT_EQ(copy.GetArea(), 2.0f);
    EXPECT_EQ(copy.mergedInto, nullptr);
    EXPECT_FALSE(copy.partial);
    EXPECT_FALSE(copy.aggregated);

    CameraObject dst;
    CameraObject elsewhere;
    dst.tracked = false;
    dst.mergedInto = &elsewhere;
    dst.partial = false;
    dst.aggregated = true;
    dst = src;
    EXPECT_EQ(dst.score, 2.5);
    EXPECT_EQ(dst.rank, 3);
    EXPECT_EQ(dst.staticCount, 9);
    EXPECT_EQ(dst.GetSegmentHead(), &a);
    EXPECT_FALSE(dst.tracked) << "assignment leaves the tracked flag";
    EXPECT_EQ(dst.mergedInto, &elsewhere);
    EXPECT_FALSE(dst.partial);
    EXPECT_TRUE(dst.aggregated);

    src.Clear();
    EXPECT_TRUE(src.tracked) << "Clear keeps the tracked flag";
    EXPECT_TRUE(src.IsEmpty());
    EXPECT_EQ(src.score, 0.0);
    EXPECT_EQ(src.rank, 0);
    EXPECT_EQ(src.mergedInto, nullptr);
    EXPECT_FALSE(src.partial);
    EXPECT_FALSE(src.aggregated);
    EXPECT_EQ(src.GetLeftEdge(), -1.0f);
    EXPECT_EQ(src.GetTopEdge(), -1);
}

TEST(CameraObjectTest, SegmentListAndStaticCount)
{
    LineSegment s[3] = {LineSegment(1, 0, 1, 2), LineSegment(2, 0, 1, 2), LineSegment(3, 0, 1, 2)};
    CameraObject o;
    for (auto& seg : s)
        o.AddScanLine(&seg);
    EXPECT_EQ(s[1].owner, &o);
    EXPECT_EQ(o.GetLineSegment(0), &s[0]);
    EXPECT_EQ(o.GetLineSegment(2), &s[2]);
    EXPECT_EQ(o.GetLineSegment(3), nullptr);
    EXPECT_EQ(o.GetLineSegment(10), nullptr);
    o.DecrementStaticCount();
    EXPECT_EQ(o.GetStaticCount(), 0) << "stops at 0";
    o.IncrementStaticCount();
    o.IncrementStaticCount();
    o.DecrementStaticCount();
    EXPECT_EQ(o.GetStaticCount(), 1);
}

TEST(FrameTest, LimitsClearAndEmpty)
{
    auto f = std::make_unique<Frame>();
    EXPECT_EQ(f->GetObjectCapacity(), 400);
    for (int i = 0; i < Frame::MaxSegments + 5; ++i)
        f->AddSegment(LineSegment(i, 1, 2, 2));
    EXPECT_EQ(f->GetSegmentCount(), Frame::MaxSegments) << "segments past 2000 are ignored";
    EXPECT_EQ(f->segments[Frame::MaxSegments - 1].line, Frame::MaxSegments - 1);
    CameraObject a, b;
    for (int i = 0; i < Frame::MaxMergePairs + 1; ++i)
        f->AddMergePair(&a, &b);
    EXPECT_EQ(f->mergePairCount, Frame::MaxMergePairs);

    f->frameId = 9;
    f->time = 5.0;
    f->imagePresent = f->weighted = f->corrupt = true;
    f->Clear();
    EXPECT_EQ(f->frameId, -1);
    EXPECT_EQ(f->time, 0.0);
    EXPECT_EQ(f->GetSegmentCount(), 0);
    EXPECT_EQ(f->mergePairCount, 0);
    EXPECT_FALSE(f->imagePresent || f->weighted || f->corrupt);

    struct Case {
        int objects;
        bool image;
        bool maskOut;
        bool empty;
    } cases[] = {{0, false, false, true}, {0, true, false, false}, {0, true, true, true}, {1, false, false, false}};
    for (const Case& c : cases) {
        f->SetObjectCount(c.objects);
        f->imagePresent = c.image;
        f->maskOut = c.maskOut;
        EXPECT_EQ(f->IsEmpty(), c.empty) << c.objects << c.image << c.maskOut;
    }

    f->SetObjectCount(401);
    EXPECT_EQ(f->GetObjectCapacity(), 800) << "grows by the growth step";
    EXPECT_EQ(f->GetObjects().size(), 401u);
}

TEST(FrameTest, CopyRebasesEveryPointerIntoTheCopy)
{
    auto src = std::make_unique<Frame>();
    src->AddSegment(LineSegment(3, 1, 4, 4));
    src->AddSegment(LineSegment(4, 1, 4, 4));
    src->SetObjectCount(2);
    src->objects[0].AddScanLine(&src->segments[0]);
    src->objects[0].AddScanLine(&src->segments[1]);
    src->objects[1].mergedInto = &src->objects[0];
    src->AddMergePair(&src->objects[0], &src->objects[1]);
    src->pointerTable.push_back(&src->objects[1]);
    src->SetImageSize(4, 2);
    src->image[5] = 200;
    src->imagePresent = true;
    src->sequence = 12;

    auto copy = std::make_unique<Frame>(*src);
    EXPECT_EQ(copy->objects[0].GetSegmentHead(), &copy->segments[0]);
    EXPECT_EQ(copy->objects[0].GetSegmentTail(), &copy->segments[1]);
    EXPECT_EQ(copy->segments[0].next, &copy->segments[1]);
    EXPECT_EQ(copy->segments[1].owner, &copy->objects[0]);
    EXPECT_EQ(copy->objects[1].mergedInto, &copy->objects[0]);
    EXPECT_EQ(copy->mergePairs[0].second, &copy->objects[1]);
    ASSERT_EQ(copy->pointerTable.size(), 1u);
    EXPECT_EQ(copy->pointerTable[0], &copy->objects[1]);
    EXPECT_EQ(copy->GetImageSize(), 8u);
    EXPECT_EQ(copy->image[5], 200);
    EXPECT_EQ(copy->sequence, 12u);

    // Assignment into a used frame, then recycling the source, leaves the copy intact.
    auto target = std::make_unique<Frame>();
    *target = *src;
    src->Clear();
    src->segments[0].Clear();
    src->objects[0].Clear();
    EXPECT_EQ(target->objects[0].GetLineSegment(1), &target->segments[1]);
    EXPECT_EQ(target->objects[0].GetLineSegment(1)->GetLineNumber(), 4);
}

TEST(CameraPacketTest, BufferIsKeptWhenLargeEnoughAndTimeStamped)
{
    testing_support::TestClock clock;
    CameraPacket p;
    p.SetNumBytesInPacket(100, clock);
    EXPECT_EQ(p.GetBufferCapacity(), 1124u);
    EXPECT_EQ(p.GetBuffer()[0], CameraPacket::FreshMarker);
    EXPECT_EQ(p.GetTimeStamp(), static_cast<double>(clock.performanceCounter()));
    const std::uint8_t* first = p.GetBuffer();

    clock.advanceMs(3);
    p.SetNumBytesInPacket(1124, clock);
    EXPECT_EQ(p.GetBuffer(), first) << "kept: it holds n bytes";
    EXPECT_EQ(p.GetTimeStamp(), static_cast<double>(clock.performanceCounter()));
    p.SetNumBytesInPacket(0, clock);
    EXPECT_EQ(p.GetBuffer(), first) << "emptying a packet keeps its buffer";
    p.SetNumBytesInPacket(1125, clock);
    EXPECT_NE(p.GetBufferCapacity(), 1124u);
    EXPECT_EQ(p.GetBufferCapacity(), 1125u + 1024u);
    EXPECT_EQ(p.GetData().size(), 1125u);

    CameraPacket moved(std::move(p));
    EXPECT_EQ(moved.GetNumBytesInPacket(), 1125u);
    moved.FreeBuffer();
    EXPECT_EQ(moved.GetBuffer(), nullptr);
    EXPECT_TRUE(moved.GetData().empty());

    RawPacket raw;
    EXPECT_EQ(RawPacket::PacketSize(), 64u);
    for (auto b : raw.bytes)
        EXPECT_EQ(b, 0);
}
