// The encoders' bytes for small images, checked against the packet layouts
// directly (not through the decoder).
#include "simcam/imaging/packets.h"

#include <gtest/gtest.h>

using namespace simcam::imaging;

namespace {

Image Blank(int w, int h)
{
    Image img;
    img.width = w;
    img.height = h;
    img.pixels.assign(static_cast<std::size_t>(w) * h, 0);
    return img;
}

TEST(PacketEncoderTest, HeaderFooterAndSegmentRecord)
{
    Image img = Blank(8, 3);
    img.pixels[1 * 8 + 2] = img.pixels[1 * 8 + 3] = 200;  // pixels 2..3 of line 1
    PacketParams p;
    p.revision = 7;
    p.width = 8;
    p.height = 3;
    p.frameId = 0x21;
    p.optionFlags = 0x01;
    const Bytes b = EncodePacket(img, p);
    ASSERT_EQ(b.size(), 4u + 4u + 8u);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[1], 0x00);
    EXPECT_EQ(b[2], 0x01 ^ 0x00 ^ 0x21 ^ 0xAA);
    EXPECT_EQ(b[3], 0x21);
    // Half-pixels 4 (pixel 2) to 6 (pixel 3) lit, 7 (between 3 and 4) at
    // half brightness = 100 < 128: S = 4, T = 7.
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(b[5], 4);
    EXPECT_EQ(b[6], 7);
    EXPECT_EQ(b[7], 0);
    EXPECT_EQ(b[10], 0x0F ^ 0x21);  // footer check
    EXPECT_EQ(b[11], 0x21);         // footer frame id
}

TEST(PacketEncoderTest, Revision9CountAndFaults)
{
    Image img = Blank(640, 480);
    img.pixels[300 * 640 + 5] = 255;
    PacketParams p;
    p.revision = 9;
    p.mode = kModeRev9Segments;
    p.frameId = 3;
    Bytes b = EncodePacket(img, p);
    ASSERT_EQ(b.size(), 4u + 4u + 4u + 4u);
    EXPECT_EQ(b[0] | b[1] | b[2] | b[3], 0);  // header word 0
    EXPECT_EQ(b[4], 3);
    EXPECT_EQ(b[7], 3 ^ 0 ^ 0 ^ 0xAA);
    EXPECT_EQ(b[8], 300 & 0xFF);
    EXPECT_EQ(b[9], 10);
    EXPECT_EQ(b[10], 10);
    EXPECT_EQ(b[11], 0x20);                   // line bit 8
    EXPECT_EQ(b[15], 4);                      // count = data - 8

    p.faults.highHeaderBits = true;
    b = EncodePacket(img, p);
    EXPECT_NE((b[0] | b[1] << 8) & 0xF800, 0);
    p.faults = {.badCount = true, .truncate = 2};
    b = EncodePacket(img, p);
    EXPECT_EQ(b.size(), 14u);
}

TEST(PacketEncoderTest, BlocksAndRuns)
{
    Image img = Blank(355, 290);
    img.pixels[10 * 355 + 0] = 255;
    PacketParams p;
    p.revision = 4;
    p.width = 355;
    p.height = 290;
    p.switchBits = 0x0C;
    Bytes b = EncodePacket(img, p);
    ASSERT_EQ(b.size(), 4u + 64u);
    EXPECT_EQ(b[4], 2 + 2 * 4);       // one record and the end record
    EXPECT_EQ(b[5], 0x1C);
    EXPECT_EQ(b[6], 10 + 12);
    EXPECT_EQ(b[7], 42);
    EXPECT_EQ(b[8], 42);

    img = Blank(640, 480);
    img.pixels[2 * 640 + 300] = 90;
    img.pixels[2 * 640 + 301] = 200;
    p = {};
    p.mode = kModeGreyscaleRuns;
    p.threshold = 100;
    b = EncodePacket(img, p);
    // threshold, 3 zero bytes, x 300 = 44 + 256, line 2, high bits 1, pixels, 0, footer
    const Bytes expected = {100, 0, 0, 0, 44, 2, 1, 90, 200, 0};
    ASSERT_EQ(b.size(), 4u + expected.size() + 8u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.begin() + 4));
}

} // namespace
