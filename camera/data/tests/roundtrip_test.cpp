// Scenes rendered by the simulated camera, encoded for each hardware
// revision and packet mode, decoded and built: the objects' centres are the
// rendered markers' centres.
#include "data_fixture.h"

#include "camera/settings.h"
#include "camera/trackables.h"
#include "simcam/imaging/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace simcam::imaging;
using testing_support::Pipeline;

namespace {

struct Case {
    std::string name;
    int revision;
    int width;
    int height;
    std::uint8_t mode;
    int sendingOptions = 0;
    bool split = false;
    // Formats that carry only thresholded runs quantise each run's ends to
    // a pixel (or half a pixel), so a centre computed from them is only as
    // good as that: a fifth of a pixel. Formats that carry grey levels hold
    // a tenth.
    bool binary = false;
};

std::vector<Case> Cases()
{
    return {
        {"rev6_segments", 6, 353, 289, kModeSegments, 0, false, true},
        {"rev7_segments", 7, 640, 480, kModeSegments, 0, false, true},
        {"rev8_segments", 8, 640, 480, 3, 0, false, true},
        {"rev12_segments", 12, 640, 480, kModeSegments, 0, false, true},
        {"rev7_grey_cut", 7, 640, 480, kModeGreyscale, Orvane::DataPathCamera::SegmentGreyscaleFrames, false, true},
        {"rev6_grey_cut", 6, 353, 289, kModeGreyscale, Orvane::DataPathCamera::SegmentGreyscaleFrames, false, true},
        {"rev7_grey_refined", 7, 640, 480, kModeGreyscale,
         Orvane::DataPathCamera::SegmentGreyscaleFrames | Orvane::DataPathCamera::RefineAlways},
        {"rev7_objects", 7, 640, 480, kModeHardwareObjects},
        {"rev12_objects_split", 12, 640, 480, kModeHardwareObjects, 0, true},
        {"rev6_runs", 6, 353, 289, kModeGreyscaleRuns},
        {"rev8_runs", 8, 640, 480, kModeGreyscaleRuns},
        {"rev9_segments", 9, 640, 480, kModeRev9Segments, 0, false, true},
        {"rev9_weighted", 9, 640, 480, kModeRev9Weighted},
        {"rev3_blocks", 3, 256, 256, 0, 0, false, true},
        {"rev4_blocks", 4, 355, 290, 0, 0, false, true},
        {"rev5_blocks", 5, 355, 288, 0, 0, false, true},
    };
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, CentresWithinATenthOfAPixel)
{
    const Case& c = GetParam();
    Orvane::FixedDataPathCamera camera(c.revision, c.width, c.height);
    camera.frameSendingOptions = c.sendingOptions;
    Pipeline pipeline(camera);
    // Sub-pixel positions spread over the window, several radii.
    for (int trial = 0; trial < 12; ++trial) {
        const double fx = 0.13 + 0.071 * trial, fy = 0.37 + 0.043 * trial;
        const double base = 3.5;
        const double tolerance = c.binary ? 0.2 : 0.1;
        std::vector<Disc> discs = {
            {std::floor(c.width * 0.2) + fx, std::floor(c.height * 0.3) + fy, base + 0.4 * trial, 255},
            {std::floor(c.width * 0.5) + fy, std::floor(c.height * 0.6) + fx, base + 0.5 + 0.3 * trial, 240},
            {std::floor(c.width * 0.75) + fx * 0.5, std::floor(c.height * 0.25) + fy * 0.5, base + 2.5, 250},
        };
        const Image image = Render(discs, c.width, c.height);
        PacketParams p;
        p.revision = c.revision;
        p.width = c.width;
        p.height = c.height;
        p.mode = c.mode;
        p.frameId = static_cast<std::uint8_t>(trial + 1);
        p.threshold = 128;
        p.splitObjects = c.split;
        const int before = pipeline.sink.delivered;
        pipeline.Feed(EncodePacket(image, p));
        if (c.revision < 4)
            pipeline.Flush();  // revision 3 sends no end-of-frame record
        ASSERT_EQ(pipeline.sink.delivered, before + 1) << c.name << " trial " << trial;
        auto objects = pipeline.sink.lastObjects;
        ASSERT_EQ(objects.size(), discs.size()) << c.name << " trial " << trial;
        for (const Disc& d : discs) {
            double best = 1e9;
            for (auto& o : objects)
                best = std::min(best, std::hypot(o.GetCenterMassX() - d.x, o.GetCenterMassY() - d.y));
            EXPECT_LT(best, tolerance) << c.name << " trial " << trial << " disc " << d.x << "," << d.y << " r " << d.radius;
        }
        if (c.mode != kModeHardwareObjects) {
            EXPECT_EQ(pipeline.sink.frame.frameId, trial + 1) << c.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Bad packets between good ones: each is dropped and counted, and the next
// good packet still decodes into the right objects.
TEST(RoundTripFaults, GoodPacketAfterEveryFault)
{
    Orvane::FixedDataPathCamera camera(7, 640, 480);
    Pipeline pipeline(camera);
    const std::vector<Disc> discs = {{100.3, 200.7, 5.0, 255}, {300.6, 100.2, 4.5, 255}};
    const Image image = Render(discs, 640, 480);
    PacketParams good;
    const std::vector<PacketFaults> faults = {
        {.badHeaderCheck = true}, {.badFooterCheck = true}, {.truncate = 3},
        {.truncate = static_cast<int>(EncodePacket(image, good).size()) - 6}, {.pad = 5},
    };
    for (const PacketFaults& f : faults) {
        PacketParams bad = good;
        bad.faults = f;
        pipeline.Feed(EncodePacket(image, bad));
        const int before = pipeline.sink.delivered;
        pipeline.Feed(EncodePacket(image, good));
        ASSERT_EQ(pipeline.sink.delivered, before + 1);
        ASSERT_EQ(pipeline.sink.lastObjects.size(), 2u);
    }
    const auto& s = pipeline.decoder.GetStats();
    EXPECT_EQ(s.badHeader, 1u);
    EXPECT_GE(s.badFooter, 3u);  // cut or padded packets end in a foreign footer
    EXPECT_EQ(s.shortPackets, 1u);
}

TEST(RoundTripFaults, FloodedFrameIsCappedAndTheNextFrameIsClean)
{
    Orvane::FixedDataPathCamera camera(7, 640, 480);
    camera.objectCap = 1000;
    Pipeline pipeline(camera);
    const std::vector<Disc> discs = {{100.3, 200.7, 5.0, 255}};
    const Image image = Render(discs, 640, 480);
    PacketParams flooded;
    flooded.faults.floodRecords = 9000;  // more than the accumulator holds
    pipeline.Feed(EncodePacket(image, flooded));
    EXPECT_EQ(pipeline.sink.frame.segmentCount, Orvane::Frame::MaxSegments);
    EXPECT_LE(pipeline.sink.lastObjects.size(), 400u);
    EXPECT_GT(pipeline.accumulator.Dropped(), 0u);
    pipeline.Feed(EncodePacket(image, PacketParams{}));
    ASSERT_EQ(pipeline.sink.lastObjects.size(), 1u);
    EXPECT_NEAR(pipeline.sink.lastObjects[0].GetCenterMassX(), 100.3, 0.2);
}

// A marker moving across the sensor beside a still one: the collection
// tracks the moving marker every frame and sends its centre, paired with
// the frame, through the coordinate buffer.
TEST(RoundTripTracking, FollowsTheMovingMarker)
{
    Orvane::Settings::ResetToDefaults();
    Orvane::FixedDataPathCamera camera(9, 640, 480);
    Pipeline pipeline(camera);
    Orvane::TrackableCollection collection;
    Orvane::TrackableCollection::CoordBuffer coords(5);
    collection.SetTrackedCoordBuffer(&coords);
    for (int i = 0; i < 40; ++i) {
        const Disc moving{140.25 + 1.5 * i, 150.5 + 0.75 * i, 5.0, 255};
        const std::vector<Disc> discs = {{520.0, 410.0, 5.0, 255}, moving};
        PacketParams p;
        p.revision = 9;
        p.mode = kModeRev9Weighted;
        p.frameId = static_cast<std::uint8_t>(i);
        pipeline.Feed(EncodePacket(Render(discs, 640, 480), p));
        pipeline.sink.frame.sequence = static_cast<std::uint64_t>(i + 1);
        collection.Process(pipeline.sink.frame);
        ASSERT_TRUE(collection.IsTracking()) << i;
        Orvane::TrackedCoordinate* c = coords.TakeFilled();
        ASSERT_NE(c, nullptr) << i;
        EXPECT_NEAR(c->x(), moving.x, 0.1) << i;
        EXPECT_NEAR(c->y(), moving.y, 0.1) << i;
        EXPECT_EQ(c->frameSequence, static_cast<std::uint64_t>(i + 1));
        coords.GiveBack(c);
    }
    EXPECT_EQ(collection.GetNumberOfObjects(), 2);
}

TEST(RoundTripFaults, NoisyScenesStillFindTheMarkers)
{
    Orvane::FixedDataPathCamera camera(9, 640, 480);
    Pipeline pipeline(camera);
    const std::vector<Disc> discs = {{320.4, 240.8, 6.0, 255}, {100.1, 50.5, 6.0, 255}, {500.9, 400.2, 6.0, 255}};
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        const Image image = Render(discs, 640, 480, {.noise = 4.0, .seed = seed});
        EXPECT_EQ(image.pixels, Render(discs, 640, 480, {.noise = 4.0, .seed = seed}).pixels);
        PacketParams p;
        p.revision = 9;
        p.mode = kModeRev9Weighted;
        pipeline.Feed(EncodePacket(image, p));
        ASSERT_EQ(pipeline.sink.lastObjects.size(), 3u);
        for (std::size_t i = 0; i < discs.size(); ++i) {
            double best = 1e9;
            for (auto& o : pipeline.sink.lastObjects)
                best = std::min(best, std::hypot(o.GetCenterMassX() - discs[i].x, o.GetCenterMassY() - discs[i].y));
            EXPECT_LT(best, 0.3);
        }
    }
}

} // namespace
