// Hand-made packets, a few bytes each, for every format and fault.
#include "data_fixture.h"

#include "platform/debug.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

using Orvane::FixedDataPathCamera;
using Orvane::LineSegment;
using testing_support::RecordingSink;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& d, std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes)
        d.push_back(b);
}

struct Rec {
    int line;  // -1 id, -2 option, -3 end of frame
    float start = 0, stop = 0, width = 0;
    int value = 0;  // id, option bits or accumulated intensity
    int accX = 0;
};

constexpr int kEof = -3;

class DecoderTest : public ::testing::Test {
protected:
    std::vector<Rec> Decode(std::array<std::uint8_t, 4> header, const Bytes& data)
    {
        Orvane::PacketDecoder decoder(camera);
        return Decode(decoder, header, data);
    }

    std::vector<Rec> Decode(Orvane::PacketDecoder& decoder, std::array<std::uint8_t, 4> header, const Bytes& data)
    {
        Orvane::PacketSync s;
        accumulator.Clear();
        decoder.Consume(header, data, s, accumulator, sink);
        sync = s;
        stats = decoder.GetStats();
        std::vector<Rec> out;
        for (const LineSegment& r : accumulator.Records()) {
            if (r.IsFrameId())
                out.push_back({-1, 0, 0, 0, r.GetFrameId()});
            else if (r.IsFrameOption())
                out.push_back({-2, 0, 0, 0, r.GetFrameOption()});
            else if (r.IsEOF())
                out.push_back({kEof});
            else
                out.push_back({r.line, r.start, r.stop, r.width, r.accumulatedIntensity, r.accumulatedX});
        }
        return out;
    }

    static std::array<std::uint8_t, 4> Header(std::uint8_t flags, std::uint8_t mode, std::uint8_t id)
    {
        return {flags, mode, static_cast<std::uint8_t>(flags ^ mode ^ id ^ 0xAA), id};
    }
    static void Footer(Bytes& d, std::uint8_t id = 0)
    {
        Put(d, {0, 0, static_cast<std::uint8_t>(id ^ 0x0F), id, 0, 0, 0, 0});
    }
    static Bytes Rev9(std::uint8_t id, std::uint8_t mode, Bytes records)
    {
        Bytes d = {id, 0, mode, static_cast<std::uint8_t>(id ^ mode ^ 0xAA)};
        for (std::uint8_t b : records)
            d.push_back(b);
        const auto n = static_cast<std::uint32_t>(records.size());
        Put(d, {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                           static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        return d;
    }

    FixedDataPathCamera camera{6, 353, 289};
    Orvane::SegmentAccumulator accumulator;
    RecordingSink sink;
    Orvane::PacketSync sync;
    Orvane::PacketDecoder::Stats stats;
};

void ExpectSegment(const Rec& r, int line, float start, float stop, float width)
{
    EXPECT_EQ(r.line, line);
    EXPECT_FLOAT_EQ(r.start, start);
    EXPECT_FLOAT_EQ(r.stop, stop);
    EXPECT_FLOAT_EQ(r.width, width);
}

TEST_F(DecoderTest, SegmentRecordsOfRevision6)
{
    // line 300 = 44 + 256 (b3.2); start 101 / 2; stop 120 / 2 - 0.5.
    Bytes d = {44, 101, 120, 0x04, 1, 2, 3, 0xFF};
    Footer(d);
    auto r = Decode(Header(0, 0, 7), d);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].line, -1);
    EXPECT_EQ(r[0].value, 7);
    ExpectSegment(r[1], 300, 50.5f, 59.5f, 9.5f);
    // Every high bit: line + 768, start and stop + 1792.
    ExpectSegment(r[2], 1 + 768, (2 + 1792) / 2.0f, (3 + 1792) / 2.0f - 0.5f, 0.5f);
    EXPECT_EQ(r[3].line, kEof);
}

TEST_F(DecoderTest, ChecksAndShortPackets)
{
    platform::debug::Capture capture;
    Bytes good = {10, 20, 30, 0};
    Footer(good);
    auto header = Header(0, 0, 3);
    header[2] ^= 1;
    auto r = Decode(header, good);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].line, -1);
    EXPECT_EQ(r[1].line, kEof);
    EXPECT_EQ(stats.badHeader, 1u);
    EXPECT_TRUE(capture.contains("Bad header CRC on incoming data"));

    Bytes badFooter = good;
    badFooter[6] ^= 0x40;  // footer byte 2
    r = Decode(Header(0, 0, 3), badFooter);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].line, kEof);
    EXPECT_TRUE(capture.contains("Bad footer CRC on incoming data"));

    for (std::size_t n : {0u, 1u, 5u, 7u}) {
        r = Decode(Header(0, 0, 3), Bytes(good.begin(), good.begin() + static_cast<long>(n)));
        ASSERT_EQ(r.size(), 2u) << n;
        EXPECT_EQ(r[1].line, kEof);
        EXPECT_EQ(stats.shortPackets, 1u);
    }
}

TEST_F(DecoderTest, FrameIdAndSwitchStateByRevision)
{
    Bytes d;
    Footer(d, 9);
    camera.revision = 7;
    EXPECT_EQ(Decode(Header(0, 0, 1), d)[0].value, 9);  // footer byte 3
    camera.revision = 12;
    EXPECT_EQ(Decode(Header(0, 0, 1), d)[0].value, 9);
    camera.revision = 8;
    EXPECT_EQ(Decode(Header(3, 0, 1), d)[0].value, 1);  // header byte 3
    EXPECT_EQ(camera.switchState, 0xC);
    Decode(Header(1, 0, 1), d);
    EXPECT_EQ(camera.switchState, 0x8);
    camera.revision = 7;
    Decode(Header(2, 0, 1), d);
    EXPECT_EQ(camera.switchState, 0x8);  // only revision 8 reports switches here
}

TEST_F(DecoderTest, Revision9SegmentsWeightedAndUnknownModes)
{
    camera = FixedDataPathCamera(9, 640, 480);
    // line 10 + 256; start (200 + 256) / 2; stop (220 + 256) / 2; width + 1.
    auto r = Decode({}, Rev9(5, 0, {10, 200, 220, 0xE0}));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].value, 5);
    ExpectSegment(r[1], 266, 228.0f, 238.0f, 11.0f);
    EXPECT_EQ(r[2].line, kEof);

    // x 100, line 0, run 5, accumulated x 10, intensity 1000; then line 480
    // (= H, dropped) and x 638 + 5 > W (dropped).
    r = Decode({}, Rev9(6, 5,
                        {25, 0, 0, 40, 0, 5, 3, 232,  //
                         25, 60, 0, 40, 0, 5, 3, 232, //
                         159, 128, 0, 40, 0, 5, 3, 232}));
    ASSERT_EQ(r.size(), 3u);
    ExpectSegment(r[1], 0, 100.0f, 104.0f, 5.0f);
    EXPECT_EQ(r[1].value, 1000);
    EXPECT_EQ(r[1].accX, 10);
    EXPECT_EQ(sync.weighted, 1);

    r = Decode({}, Rev9(7, 7, {1, 2, 3, 4}));
    ASSERT_EQ(r.size(), 1u);  // only the frame id
    EXPECT_EQ(r[0].line, -1);

    Bytes bad = Rev9(8, 0, {10, 200, 220, 0xE0});
    bad.back() ^= 1;
    r = Decode({}, bad);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(stats.badCount, 1u);
    bad = Rev9(8, 0, {10, 200, 220, 0xE0});
    bad[3] ^= 1;
    EXPECT_EQ(Decode({}, bad).size(), 2u);
    EXPECT_EQ(stats.badHeader, 1u);
}

TEST_F(DecoderTest, BlocksOfRevisions3And4)
{
    camera = FixedDataPathCamera(4, 355, 290);
    // Line 20 - 12; start 30 - 42 clamps to 0; stop 60 - 42; then an
    // all-zero end-of-frame record.
    Bytes block(64, 0);
    block[0] = 10;
    block[1] = 0x14;
    block[2] = 20, block[3] = 30, block[4] = 60, block[5] = 0;
    auto r = Decode(Header(0, 0, 4), block);
    ASSERT_EQ(r.size(), 3u);
    ExpectSegment(r[1], 8, 0.0f, 18.0f, 19.0f);
    EXPECT_EQ(r[2].line, kEof);
    EXPECT_EQ(camera.switchState, 0x04);

    // A used length past the block: dropped, counted, frame ended.
    block[0] = 200;
    r = Decode(Header(0, 0, 4), block);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].line, kEof);
    EXPECT_EQ(stats.malformed, 1u);

    camera = FixedDataPathCamera(3, 256, 256);
    Bytes b3(64 + 10, 0);  // a partial block after the first is not read
    b3[0] = 8;
    b3[1] = 0x10;
    b3[2] = 5, b3[3] = 10, b3[4] = 20, b3[5] = 6, b3[6] = 11, b3[7] = 19;
    b3[64] = 64, b3[65] = 0x10;
    r = Decode(Header(0, 0, 2), b3);
    ASSERT_EQ(r.size(), 3u);
    ExpectSegment(r[1], 5, 10.0f, 20.0f, 11.0f);
    ExpectSegment(r[2], 6, 11.0f, 19.0f, 9.0f);
}

TEST_F(DecoderTest, BlocksOfRevision5)
{
    camera = FixedDataPathCamera(5, 355, 288);
    Bytes block(64, 0);
    block[0] = 2 + 3 * 4;
    block[1] = 0x18;
    // line 20 + 256 - 11; start (100 - 74) / 2; stop (16 + 256 - 74) / 2.
    block[2] = 20, block[3] = 100, block[4] = 0x10, block[5] = 0x60;
    // start (50 - 74) / 2 is negative: clamped to 0; stop (200 - 74) / 2.
    block[6] = 1, block[7] = 50, block[8] = 200, block[9] = 0;
    // line 5 - 11 clamps to 0, start 150 > stop 140: dropped.
    block[10] = 5, block[11] = 150 + 74, block[12] = 140 + 74, block[13] = 0;
    auto r = Decode(Header(0, 0, 4), block);
    ASSERT_EQ(r.size(), 3u);  // no end record in the blocks: the frame goes on
    ExpectSegment(r[1], 265, 13.0f, 99.0f, 87.0f);
    ExpectSegment(r[2], 0, 0.0f, 63.0f, 64.0f);
    EXPECT_EQ(camera.switchState, 0x08);
}

TEST_F(DecoderTest, Revision9GreyscaleRuns)
{
    camera = FixedDataPathCamera(9, 640, 480);
    // A run at (5, 2); a header naming line 480, x 640 passed over by its
    // 3 bytes; a run at (1, 3).
    auto r = Decode({}, Rev9(6, 4, {5, 2, 0, 7, 8, 0, 0x80, 0xE0, 0x06, 1, 3, 0, 9, 0}));
    ASSERT_EQ(r.size(), 0u);  // delivered at once
    ASSERT_EQ(sink.delivered, 1);
    const auto& img = sink.frame.image;
    EXPECT_EQ(img[2 * 640 + 5], 7);
    EXPECT_EQ(img[2 * 640 + 6], 8);
    EXPECT_EQ(img[3 * 640 + 1], 9);
    EXPECT_TRUE(sink.frame.imagePresent);
    EXPECT_EQ(sink.frame.frameId, 6);

    // A run that reaches the count unterminated drops the packet.
    sink.inProgress = false;
    r = Decode({}, Rev9(6, 4, {5, 2, 0, 7, 8}));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].line, kEof);
    EXPECT_EQ(sink.delivered, 1);
}

TEST_F(DecoderTest, GreyscaleRuns)
{
    camera = FixedDataPathCamera(7, 640, 480);
    Bytes d = {100, 0, 0, 0, 10, 5, 0, 50, 150, 200, 90, 120, 0};
    Footer(d);
    auto r = Decode(Header(0, 4, 1), d);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[1].line, -2);
    EXPECT_EQ(r[1].value, 4);
    ExpectSegment(r[2], 5, 11.0f, 12.0f, 2.0f);
    ExpectSegment(r[3], 5, 14.0f, 14.0f, 1.0f);
    EXPECT_EQ(r[4].line, kEof);
    EXPECT_EQ(sync.threshold, 100);
    ASSERT_TRUE(sink.inProgress);
    EXPECT_TRUE(sink.frame.maskOut);
    EXPECT_EQ(sink.frame.image[5 * 640 + 11], 150);
    EXPECT_EQ(sink.frame.image[5 * 640 + 15], 0);

    // A run not ended before the footer drops the packet.
    Bytes open = {100, 0, 0, 0, 10, 5, 0, 50, 150, 200, 90, 120};
    Footer(open);
    r = Decode(Header(0, 4, 1), open);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].line, kEof);
    EXPECT_EQ(stats.malformed, 1u);

    // A header with byte 2 above 7 ends decoding.
    Bytes bad = {100, 0, 0, 0, 10, 5, 8, 150, 0, 10, 6, 0, 150, 0};
    Footer(bad);
    r = Decode(Header(0, 4, 1), bad);
    ASSERT_EQ(r.size(), 3u);
}

TEST_F(DecoderTest, GreyscaleRunsStopAt1999Records)
{
    camera = FixedDataPathCamera(7, 640, 480);
    Bytes d = {100, 0, 0, 0};
    for (int line = 0; line < 450; ++line) {
        const std::uint8_t hi = static_cast<std::uint8_t>((line >> 8) << 2);
        for (int k = 0; k < 5; ++k)
            Put(d, {static_cast<std::uint8_t>(10 + 20 * k), static_cast<std::uint8_t>(line), hi, 200, 0});
    }
    Footer(d);
    auto r = Decode(Header(0, 4, 1), d);
    EXPECT_EQ(r.size(), 2000u);
    EXPECT_EQ(r.back().line, kEof);
}

TEST_F(DecoderTest, FullGreyscale)
{
    platform::debug::Capture capture;
    camera = FixedDataPathCamera(7, 8, 4);
    camera.threshold = 100;
    Bytes d = {0, 0, 0, 0, 0, 0, 200, 200,  //
               0, 150, 0, 0, 0, 0, 0, 0,    //
               0, 0, 0, 0, 0, 0, 0, 0,      //
               255, 255, 255, 255, 255, 255, 255, 255};
    Footer(d, 2);
    camera.frameSendingOptions = Orvane::DataPathCamera::SegmentGreyscaleFrames;
    auto r = Decode(Header(0, 1, 2), d);
    ASSERT_EQ(r.size(), 5u);  // id, option, two runs, end (the last row is not cut)
    ExpectSegment(r[2], 0, 6.0f, 7.0f, 2.0f);
    ExpectSegment(r[3], 1, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(sink.frame.imageHeight, 3);
    EXPECT_TRUE(sink.frame.imagePresent);
    EXPECT_EQ(sync.threshold, 100);

    camera.frameSendingOptions = 0;
    sink.inProgress = false;
    r = Decode(Header(0, 1, 2), d);
    EXPECT_TRUE(r.empty());  // delivered at once
    EXPECT_EQ(sink.delivered, 1);
    EXPECT_EQ(sink.frame.frameId, 2);

    d.resize(36);
    r = Decode(Header(0, 1, 2), d);
    EXPECT_EQ(r.size(), 2u);  // fails the footer check first
    Bytes shortened(d.begin(), d.begin() + 28);
    Footer(shortened, 2);
    r = Decode(Header(0, 1, 2), shortened);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].line, kEof);
    EXPECT_TRUE(capture.contains("Received 36 bytes via USB (expected 40)"));
}

TEST_F(DecoderTest, Revision9Subsampled)
{
    platform::debug::Capture capture;
    camera = FixedDataPathCamera(9, 128, 6);
    // 2 x 2 samples; the first carries column phase 3 and row phase 1.
    auto r = Decode({}, Rev9(4, 3, {0x43, 20, 30, 40}));
    EXPECT_TRUE(r.empty());
    ASSERT_EQ(sink.delivered, 1);
    const auto& img = sink.frame.image;
    EXPECT_EQ(img[1 * 128 + 3], 0x43);
    EXPECT_EQ(img[1 * 128 + 67], 20);
    EXPECT_EQ(img[4 * 128 + 3], 30);
    EXPECT_EQ(img[4 * 128 + 67], 40);

    r = Decode({}, Rev9(4, 3, {0x43, 20, 30}));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[2].value, 2);  // corrupt
    EXPECT_TRUE(capture.contains("Received 11 bytes via USB (expected 12)"));
}

TEST_F(DecoderTest, HardwareObjects)
{
    camera = FixedDataPathCamera(7, 640, 480);
    auto record = [](std::uint32_t x, std::uint32_t y, std::uint32_t a) {
        return Bytes{static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x >> 16),
                     static_cast<std::uint8_t>(y >> 16), static_cast<std::uint8_t>(x),
                     static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y >> 8),
                     static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(a >> 8)};
    };
    auto packet = [&](std::uint8_t linkA, std::uint8_t linkB) {
        Bytes d = {2, 0, 1, 0};
        for (auto b : record(400, 100, 10)) d.push_back(b);   // centre (20, 10)
        for (auto b : record(800, 300, 10)) d.push_back(b);   // centre (40, 30)
        Put(d, {0, 0, linkA, linkB});
        Footer(d);
        return d;
    };
    Decode(Header(0, 2, 1), packet(1, 2));
    ASSERT_EQ(sink.delivered, 1);
    ASSERT_EQ(sink.lastObjects.size(), 1u);
    EXPECT_DOUBLE_EQ(sink.lastObjects[0].GetCenterMassX(), 30.0);
    EXPECT_DOUBLE_EQ(sink.lastObjects[0].GetCenterMassY(), 20.0);
    EXPECT_FLOAT_EQ(sink.lastObjects[0].GetArea(), 10.0f);

    // A link naming an object the packet does not hold is skipped.
    Orvane::PacketDecoder decoder(camera);
    Decode(decoder, Header(0, 2, 1), packet(1, 5));
    EXPECT_EQ(sink.lastObjects.size(), 2u);
    EXPECT_EQ(stats.malformed, 1u);

    Bytes wrong = packet(1, 2);
    wrong.insert(wrong.begin() + 10, 0);
    Decode(decoder, Header(0, 2, 1), wrong);
    EXPECT_TRUE(sink.lastObjects.empty());
    EXPECT_EQ(stats.wrongLength, 1u);
}

TEST_F(DecoderTest, FloodKeepsTheEndOfFrame)
{
    camera = FixedDataPathCamera(7, 640, 480);
    Orvane::SegmentAccumulator small(64);
    Bytes d;
    for (int i = 0; i < 500; ++i)
        Put(d, {static_cast<std::uint8_t>(i), 2, 40, 0});
    Footer(d);
    Orvane::PacketDecoder decoder(camera);
    Orvane::PacketSync s;
    decoder.Consume(Header(0, 0, 1), d, s, small, sink);
    ASSERT_EQ(small.Size(), 61u);
    EXPECT_TRUE(small.Records().back().IsEOF());
    EXPECT_GT(small.Dropped(), 0u);
}

} // namespace

namespace {

TEST(DecoderPacketTest, ConsumesAStoredPacketAndEmptiesIt)
{
    FixedDataPathCamera camera(6, 353, 289);
    Orvane::PacketDecoder decoder(camera);
    Orvane::SegmentAccumulator acc;
    RecordingSink sink;
    Orvane::CameraPacket packet(64);
    const std::uint8_t bytes[] = {10, 20, 30, 0, 0, 0, 0x0F, 0, 0, 0, 0, 0};
    packet.SetNumBytesInPacket(sizeof bytes);
    std::copy(std::begin(bytes), std::end(bytes), packet.GetBuffer());
    const std::array<std::uint8_t, 4> header = {0, 0, 0xAA ^ 4, 4};
    packet.SetHeader(header);
    packet.SetTimeStamp(1234.0);
    Orvane::PacketSync sync;
    decoder.Consume(packet, sync, acc, sink);
    EXPECT_EQ(sync.time, 1234.0);
    ASSERT_EQ(acc.Size(), 3u);
    EXPECT_EQ(acc.Records()[1].line, 10);
    EXPECT_EQ(packet.GetNumBytesInPacket(), 0u);
}

} // namespace
