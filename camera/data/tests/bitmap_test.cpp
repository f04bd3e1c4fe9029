// Bitmap drawing and frame rasterising.
#include "camera/bitmap.h"

#include <gtest/gtest.h>

#include <vector>

using Orvane::BitMap;
using Orvane::RasterSettings;

namespace {

TEST(BitMapTest, PixelEncodingsAndClipping)
{
    BitMap b16(4, 3, 0, BitMap::Depth16);
    EXPECT_EQ(b16.GetSize(), 24u);
    b16.PutPixel(1, 1, 0xFFFFFF);
    EXPECT_EQ(b16.GetPixel(1, 1), 0xF8FCF8u);
    b16.PutPixel(0, 0, 0xFF0000);
    EXPECT_EQ(b16.GetBits()[0], 0x1F);
    EXPECT_EQ(b16.GetBits()[1], 0x00);
    b16.PutPixel(-1, 0, 0xFFFFFF);
    b16.PutPixel(4, 0, 0xFFFFFF);
    EXPECT_EQ(b16.GetPixel(4, 0), 0u);

    BitMap b32(2, 2, 0, BitMap::Depth32);
    b32.PutPixel(0, 0, 0x102030);
    EXPECT_EQ(b32.GetBits()[0], 0x10);
    EXPECT_EQ(b32.GetBits()[3], 255);
    EXPECT_EQ(b32.GetPixel(0, 0), 0x101010u);  // the first byte, replicated
    b32.WriteLineSegment(1, 0, 1, 0x102030);
    EXPECT_EQ(b32(1, 1)[3], 0);

    BitMap dib;
    dib.Initialize(3, 2, 0, BitMap::Depth24, nullptr, true);
    EXPECT_EQ(dib.GetSize(), 24u);  // rows of 9 bytes rounded to 12
    dib.WriteLineSegmentDIB(0, 0, 2, 0xABCDEF);
    EXPECT_EQ(dib.GetBits()[12], 0xAB);  // line 0 is the bottom row
    EXPECT_EQ(dib.GetBits()[0], 0);

    BitMap copy = b16;
    EXPECT_EQ(copy.GetBits(), b16.GetBits());
}

TEST(BitMapTest, LinesSpansAndText)
{
    BitMap b(12, 4, 0, BitMap::Depth8);
    b.HorizontalLine(10, 1, 2, 7);
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(b.GetPixel(x, 1), (x >= 2 && x <= 10) ? 7u : 0u) << x;
    b.HorizontalLine(8, 2, 40, 9);
    EXPECT_EQ(b.GetPixel(11, 2), 9u);
    b.HorizontalLine(0, 9, 5, 9);  // outside: nothing

    const std::uint8_t grey[] = {1, 2, 3, 4, 5, 6};
    b.HorizontalLineFrom8BitSource(-2, 3, 3, grey);
    EXPECT_EQ(b.GetPixel(0, 3), 3u);  // the left clip shifts the source
    EXPECT_EQ(b.GetPixel(3, 3), 6u);

    b.Line(0, 0, 3, 3, 5);
    EXPECT_EQ(b.GetPixel(0, 0), 5u);
    EXPECT_EQ(b.GetPixel(3, 3), 5u);

    BitMap upper(20, 8, 0, BitMap::Depth8), lower(20, 8, 0, BitMap::Depth8);
    upper.Print(0, 0, "AB");
    lower.Print(0, 0, "ab");
    EXPECT_EQ(std::vector<std::uint8_t>(upper.GetBits(), upper.GetBits() + upper.GetSize()),
              std::vector<std::uint8_t>(lower.GetBits(), lower.GetBits() + lower.GetSize()));
    int white = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 20; ++x)
            white += upper.GetPixel(x, y) == 0xFF;
    EXPECT_GT(white, 20);
}

TEST(BitMapTest, CirclesAndResize)
{
    BitMap b(21, 21, 0, BitMap::Depth8);
    b.Circle(10, 10, 5, 1);
    EXPECT_EQ(b.GetPixel(10, 5), 1u);
    EXPECT_EQ(b.GetPixel(15, 10), 1u);
    EXPECT_EQ(b.GetPixel(10, 10), 0u);
    b.FillCircle(10, 10, 5, 2);
    EXPECT_EQ(b.GetPixel(10, 10), 2u);
    EXPECT_EQ(b.GetPixel(0, 0), 0u);

    BitMap wide(40, 10, 0, BitMap::Depth8);
    wide.PutPixel(39, 9, 8);
    BitMap small(4, 5, 0, BitMap::Depth8);
    small.Resize(wide);  // aspect ratios differ: rows follow the heights
    EXPECT_EQ(small.GetPixel(3, 4), 0u);
    BitMap empty;
    small.Resize(empty);
}

TEST(RasterTest, FrameWithObjectSegmentsAndInfo)
{
    Orvane::Frame frame;
    frame.frameId = 7;
    frame.SetObjectCount(2);
    auto& disc = frame.objects[0];
    disc.area = 50.0f;
    disc.xTotal = 20.0f * 50.0f;
    disc.yTotal = 60.0f * 50.0f;
    disc.rank = 1;
    Orvane::LineSegment a(30, 40.0f, 44.0f, 5.0f), b(31, 41.0f, 43.0f, 3.0f);
    frame.AddSegment(a);
    frame.AddSegment(b);
    auto& blob = frame.objects[1];
    blob.AddScanLine(&frame.segments[0]);
    blob.AddScanLine(&frame.segments[1]);
    blob.rank = 2;

    std::vector<std::uint8_t> pixels(100 * 80, 0xEE);
    RasterSettings s;
    s.displayOptions = RasterSettings::InfoText;
    Orvane::RasterizeFrame(frame, pixels.data(), 100, 80, 8, s);
    BitMap view(100, 80, 0, BitMap::Depth8, pixels.data());
    EXPECT_EQ(view.GetPixel(20, 60), s.highlightColour & 0xFF);   // rank 1: filled disc
    EXPECT_EQ(view.GetPixel(20 + 3, 60), 0xFFu);                   // radius 3 ring in white
    EXPECT_EQ(view.GetPixel(42, 30), s.normalColour & 0xFF);       // segment span
    EXPECT_EQ(view.GetPixel(40, 31), 0u);                          // background cleared
    int text = 0;
    for (int y = 5; y < 12; ++y)
        for (int x = 5; x < 60; ++x)
            text += view.GetPixel(x, y) == 0xFF;
    EXPECT_GT(text, 30);  // "Segment Mode"
}

// Objects whose centre is not a number (no area) or lies far off any bitmap
// are neither drawn nor labelled.
TEST(RasterTest, ObjectsWithoutAUsableCentreAreLeftOut)
{
    Orvane::Frame frame;
    frame.SetObjectCount(3);
    frame.objects[1].area = 1.0f;
    frame.objects[1].xTotal = 1e30f;
    frame.objects[1].yTotal = 10.0f;
    frame.objects[2].area = 1.0f;
    frame.objects[2].xTotal = 10.0f;
    frame.objects[2].yTotal = -3e9f;
    RasterSettings s;
    s.displayOptions = RasterSettings::ObjectNumbers | RasterSettings::Outlined;
    BitMap drawn(120, 60, 0, BitMap::Depth8), expected(120, 60, 0, BitMap::Depth8);
    Orvane::RasterizeFrame(frame, drawn, s);
    EXPECT_EQ(std::vector<std::uint8_t>(drawn.GetBits(), drawn.GetBits() + drawn.GetSize()),
              std::vector<std::uint8_t>(expected.GetBits(), expected.GetBits() + expected.GetSize()));
}

TEST(RasterTest, InfoTextOfAnEmptyCorruptFrame)
{
    Orvane::Frame frame;
    frame.frameId = 7;
    frame.corrupt = true;
    RasterSettings s;
    s.displayOptions = RasterSettings::InfoText;
    s.processingMode = RasterSettings::HardwareObjects;
    BitMap drawn(120, 60, 0, BitMap::Depth8), expected(120, 60, 0, BitMap::Depth8);
    Orvane::RasterizeFrame(frame, drawn, s);
    expected.Print(5, 5, "Hardware Object Mode");
    expected.Print(5, 12, "FrameID 007");
    expected.Print(5, 19, "000 Objects");
    expected.Print(5, 33, "Empty Frame");
    expected.Print(5, 40, "Corrupt Frame");
    EXPECT_EQ(std::vector<std::uint8_t>(drawn.GetBits(), drawn.GetBits() + drawn.GetSize()),
              std::vector<std::uint8_t>(expected.GetBits(), expected.GetBits() + expected.GetSize()));
}

} // namespace
