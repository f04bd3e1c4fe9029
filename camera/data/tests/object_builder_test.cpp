// Joining segments into objects: touching rules, merging, limits,
// refinement from the image and masking out.
#include "camera/object_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

using Orvane::FixedDataPathCamera;
using Orvane::Frame;
using Orvane::LineSegment;
using Orvane::ObjectBuilder;

namespace {

class BuilderTest : public ::testing::Test {
protected:
    void Add(int line, int start, int stop)
    {
        LineSegment s(line, static_cast<float>(start), static_cast<float>(stop), static_cast<float>(stop - start + 1));
        s.accumulatedX = 0;
        s.accumulatedIntensity = 0;
        frame.AddSegment(s);
    }

    FixedDataPathCamera camera{7, 640, 480};
    ObjectBuilder builder{camera};
    Frame frame;
};

TEST_F(BuilderTest, UShapeIsOneObject)
{
    // Two strokes joined by a bar on their bottom line.
    for (int line = 10; line < 15; ++line) {
        Add(line, 10, 12);
        Add(line, 20, 22);
    }
    Add(15, 10, 22);
    builder.Build(frame, 0);
    ASSERT_EQ(frame.objectCount, 1);
    EXPECT_EQ(frame.mergePairCount, 1);
    auto& o = frame.objects[0];
    EXPECT_FLOAT_EQ(o.GetArea(), 5 * 3 * 2 + 13);
    EXPECT_FLOAT_EQ(o.GetLeftEdge(), 10.0f);
    EXPECT_FLOAT_EQ(o.GetRightEdge(), 23.0f);  // last pixel + 1
    EXPECT_EQ(o.GetTopEdge(), 10);
    EXPECT_EQ(o.GetBottomEdge(), 16);
    int segments = 0;
    for (LineSegment* s = o.GetSegmentHead(); s != nullptr; s = s->next) {
        EXPECT_EQ(s->owner, &o);
        ++segments;
    }
    EXPECT_EQ(segments, 11);
}

TEST_F(BuilderTest, TouchingNeedsAdjacentLinesAndOverlap)
{
    Add(3, 10, 20);
    Add(5, 10, 20);   // a line gap: separate
    Add(6, 21, 25);   // touches nothing on line 5 (starts after 20)
    Add(7, 25, 30);   // touches line 6 at 25
    builder.Build(frame, 0);
    ASSERT_EQ(frame.objectCount, 3);
    EXPECT_DOUBLE_EQ(frame.objects[0].GetCenterMassY(), 3.0);
    EXPECT_DOUBLE_EQ(frame.objects[1].GetCenterMassY(), 5.0);
    EXPECT_EQ(frame.objects[2].GetTopEdge(), 6);
}

TEST_F(BuilderTest, The401stObjectIsDroppedAndTheImageErased)
{
    for (int i = 0; i < 401; ++i)
        Add(2 * (i / 100), 6 * (i % 100), 6 * (i % 100) + 2);
    frame.imagePresent = true;
    frame.maskOut = true;
    frame.SetImageSize(640, 480);
    std::fill(frame.image.begin(), frame.image.end(), std::uint8_t{255});
    camera.objectCap = 1000;
    builder.Build(frame, 200);
    EXPECT_TRUE(builder.Overflowed());
    EXPECT_EQ(frame.objectCount, 400);
    for (std::uint8_t v : frame.image)
        ASSERT_EQ(v, 0);
}

TEST_F(BuilderTest, ObjectCapCountsPartialObjects)
{
    camera.objectCap = 2;
    Add(1, 0, 2);
    Add(1, 10, 12);
    Add(1, 20, 22);
    builder.Build(frame, 0);
    EXPECT_EQ(frame.objectCount, 2);
}

TEST_F(BuilderTest, RefinementAndMaskOut)
{
    // A 3 x 3 block of 200 with a dim rim of 50 around it; threshold 100.
    frame.SetImageSize(64, 32);
    frame.imagePresent = true;
    frame.maskOut = true;
    auto px = [&](int x, int y) -> std::uint8_t& { return frame.image[static_cast<std::size_t>(y) * 64 + x]; };
    for (int y = 9; y <= 13; ++y)
        for (int x = 19; x <= 23; ++x)
            px(x, y) = (y >= 10 && y <= 12 && x >= 20 && x <= 22) ? 200 : 50;
    px(40, 20) = 60;  // dim and far from any lit pixel: never counted
    for (int y = 10; y <= 12; ++y)
        Add(y, 20, 22);
    builder.Build(frame, 100);
    ASSERT_EQ(frame.objectCount, 1);
    auto& o = frame.objects[0];
    EXPECT_NEAR(o.GetCenterMassX(), 21.0, 1e-9);
    EXPECT_NEAR(o.GetCenterMassY(), 11.0, 1e-9);
    const auto w = Orvane::DefaultGreyscaleWeights();
    EXPECT_NEAR(o.GetArea(), (9.0 * w[200] + 16.0 * w[50]) / 255.0, 1e-4);
    // The object's box (grown by 2) is erased; the far pixel stays.
    EXPECT_EQ(px(21, 11), 0);
    EXPECT_EQ(px(19, 9), 0);
    EXPECT_EQ(px(40, 20), 60);
}

TEST_F(BuilderTest, RefinedObjectWithOnlyZeroPixelsIsRemoved)
{
    frame.SetImageSize(64, 32);
    frame.imagePresent = true;
    camera.frameSendingOptions = Orvane::DataPathCamera::RefineAlways;
    Add(10, 20, 22);
    Add(20, 40, 42);
    auto px = [&](int x, int y) -> std::uint8_t& { return frame.image[static_cast<std::size_t>(y) * 64 + x]; };
    px(41, 20) = 255;
    builder.Build(frame, 100);
    ASSERT_EQ(frame.objectCount, 1);
    EXPECT_NEAR(frame.objects[0].GetCenterMassX(), 41.0, 1e-9);
    EXPECT_EQ(px(41, 20), 255);  // not a mask-out image: kept
}

TEST_F(BuilderTest, WeightedSegments)
{
    frame.weighted = true;
    LineSegment s(4, 10.0f, 12.0f, 3.0f);
    // Pixels 10, 11, 12 with intensities 100, 200, 100: x sum from the start.
    s.accumulatedIntensity = 400;
    s.accumulatedX = 200 * 1 + 100 * 2;
    frame.AddSegment(s);
    builder.Build(frame, 0);
    ASSERT_EQ(frame.objectCount, 1);
    EXPECT_DOUBLE_EQ(frame.objects[0].GetCenterMassX(), 11.0);
    EXPECT_DOUBLE_EQ(frame.objects[0].GetCenterMassY(), 4.0);
    EXPECT_NEAR(frame.objects[0].GetArea(), 400.0 / 255.0, 1e-5);
}

} // namespace
