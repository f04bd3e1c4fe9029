// Score functions, weights, ranking, holding the tracked object, and the
// trackables that follow objects from frame to frame.
#include "blob_frames.h"
#include "camera/settings.h"
#include "camera/trackables.h"
#include "reference_trackables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

using Orvane::CameraObject;
using Orvane::Frame;
using Orvane::SawtoothFunction;
using Orvane::TrackableCollection;
using Orvane::TrackableScorer;

namespace {

void Place(CameraObject& o, double x, double y, float area = 50.0f)
{
    o.Clear();
    o.area = area;
    o.xTotal = static_cast<float>(x * area);
    o.yTotal = static_cast<float>(y * area);
    o.leftEdge = static_cast<float>(x - 4);
    o.rightEdge = static_cast<float>(x + 4);
    o.topLine = static_cast<int>(y) - 4;
    o.bottomLine = static_cast<int>(y) + 4;
}

void SetObjects(Frame& frame, const std::vector<std::pair<double, double>>& centres)
{
    frame.SetObjectCount(static_cast<int>(centres.size()));
    for (std::size_t i = 0; i < centres.size(); ++i)
        Place(frame.objects[i], centres[i].first, centres[i].second);
}

class ScoringTest : public ::testing::Test {
protected:
    void SetUp() override { Orvane::Settings::ResetToDefaults(); }
    void TearDown() override { Orvane::Settings::ResetToDefaults(); }
};

TEST_F(ScoringTest, SawtoothTable)
{
    SawtoothFunction rising;
    rising.SetValues(3, 200, 100, -2.0);
    SawtoothFunction flat;  // min = best, as for static count and distances
    flat.SetValues(0, 20, 0, 0.5);
    const struct {
        const SawtoothFunction& f;
        double x, expected;
    } cases[] = {
        {rising, 3, 0.0},          {rising, 51.5, 0.5},  {rising, 100, 1.0}, {rising, 150, 0.5},
        {rising, 200, 0.0},        {rising, 250, -2.0},  {rising, 2, -2.0},  {flat, 0, 1.0},
        {flat, 5, 0.75},           {flat, 20, 0.0},      {flat, 21, 0.5},    {flat, -1, 0.5},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.f.Evaluate(c.x), c.expected) << c.x;
}

TEST_F(ScoringTest, WeightsAndOutOfRangeValues)
{
    TrackableScorer scorer;
    EXPECT_DOUBLE_EQ(scorer.GetOutsideRangeValue(TrackableScorer::ObjectMass), -2.0);
    EXPECT_DOUBLE_EQ(scorer.GetMaxValue(TrackableScorer::ScreenCenter), 256.0);
    EXPECT_DOUBLE_EQ(scorer.GetWeight(TrackableScorer::LastTracked), 2.0);
    scorer.SetWeight(TrackableScorer::AspectRatio, 1.0);
    EXPECT_DOUBLE_EQ(scorer.GetOutsideRangeValue(TrackableScorer::ObjectMass), 1.0 - 7.0);
    EXPECT_DOUBLE_EQ(scorer.GetOutsideRangeValue(TrackableScorer::LastTracked), 0.0);
    EXPECT_DOUBLE_EQ(scorer.GetMinValue(9), -1.0);
    EXPECT_DOUBLE_EQ(scorer.GetWeight(-1), -1.0);
    scorer.SetValues(9, 1, 2, 3);  // ignored

    // An object of area 250 scores the mass function's out-of-range value.
    TrackableScorer fresh;
    Frame frame;
    SetObjects(frame, {{128, 128}});
    Place(frame.objects[0], 128, 128, 250.0f);
    const double withMass = fresh.Score(frame.objects[0], frame);
    Place(frame.objects[0], 128, 128, 100.0f);
    EXPECT_DOUBLE_EQ(fresh.Score(frame.objects[0], frame) - withMass, 1.0 - (-2.0));
}

TEST_F(ScoringTest, RankingSortsOnlyShortLists)
{
    TrackableScorer scorer;
    Frame frame;
    std::vector<std::pair<double, double>> centres;
    for (int i = 0; i < 30; ++i)
        centres.push_back({60.0 + 5 * i, 128.0});  // closer to the centre: higher score
    SetObjects(frame, centres);
    scorer.RankObjects(frame);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(frame.objects[static_cast<std::size_t>(i)].rank, i + 1);

    centres.pop_back();
    SetObjects(frame, centres);
    scorer.RankObjects(frame);
    for (int i = 1; i < 29; ++i) {
        const auto& a = *scorer.GetRanked()[static_cast<std::size_t>(i - 1)];
        const auto& b = *scorer.GetRanked()[static_cast<std::size_t>(i)];
        EXPECT_GE(a.score, b.score);
        EXPECT_EQ(b.rank, i + 1);
    }
}

TEST_F(ScoringTest, TrackedObjectHeldFor50FramesThenReplaced)
{
    TrackableScorer scorer;
    Frame frame;
    SetObjects(frame, {{120, 120}});
    scorer.ProcessObjects(frame);
    ASSERT_TRUE(scorer.IsTracking());
    CameraObject tracked = scorer.GetTracked();
    EXPECT_DOUBLE_EQ(tracked.GetCenterMassX(), 120.0);
    for (int i = 0; i < 50; ++i) {
        SetObjects(frame, {{135, 120}});
        scorer.ProcessObjects(frame);
        tracked = scorer.GetTracked();
        ASSERT_DOUBLE_EQ(tracked.GetCenterMassX(), 120.0) << i;
    }
    SetObjects(frame, {{135, 120}});
    scorer.ProcessObjects(frame);
    tracked = scorer.GetTracked();
    EXPECT_DOUBLE_EQ(tracked.GetCenterMassX(), 135.0);
    EXPECT_EQ(tracked.GetSegmentHead(), nullptr);

    SetObjects(frame, {});
    scorer.ProcessObjects(frame);
    EXPECT_FALSE(scorer.IsTracking());
}

class CollectionTest : public ScoringTest {};

TEST_F(CollectionTest, FollowsAMovingMarkerAndSendsItsCentre)
{
    TrackableCollection collection;
    TrackableCollection::CoordBuffer coords(2);
    collection.SetTrackedCoordBuffer(&coords);
    Frame frame;
    for (int i = 0; i < 3; ++i) {
        SetObjects(frame, {{100.0 + 3 * i, 110.0}, {200.0, 200.0}});
        frame.sequence = static_cast<std::uint64_t>(i + 1);
        TrackableCollection::NewFrameCallback(&frame, &collection);
    }
    EXPECT_EQ(collection.GetNumberOfObjects(), 2);  // the same two followed throughout
    EXPECT_TRUE(collection.IsTracking());
    EXPECT_EQ(frame.objects[1].staticCount, 2);      // still for two frames
    EXPECT_EQ(frame.objects[0].staticCount, 0);      // moved 3 each frame
    // Two pairs were free; the third frame's centre is dropped.
    auto* first = coords.TakeFilled();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->frameSequence, 1u);
    EXPECT_NE(coords.TakeFilled(), nullptr);
    EXPECT_EQ(coords.TakeFilled(), nullptr);
    coords.GiveBack(first);

    TrackableCollection::SetScoringEnabled(false);
    const int before = collection.GetNumberOfObjects();
    SetObjects(frame, {{400, 400}});
    TrackableCollection::NewFrameCallback(&frame, &collection);
    EXPECT_EQ(collection.GetNumberOfObjects(), before);
    TrackableCollection::SetScoringEnabled(true);
}

TEST_F(CollectionTest, StaleIndexNeverWritesIntoAnotherObject)
{
    TrackableCollection collection;
    Frame frame;
    // Created in the order Q (moving), P (still); later frames list P first.
    SetObjects(frame, {{100, 100}, {300, 300}});
    collection.Process(frame);
    for (int i = 1; i <= 5; ++i) {
        SetObjects(frame, {{300, 300}, {100.0 + 3 * i, 100}});
        collection.Process(frame);
    }
    ASSERT_EQ(frame.objects[0].staticCount, 5);
    // P is gone; Q is object 0 now. P's trackable still holds index 0.
    SetObjects(frame, {{118, 100}});
    collection.Process(frame);
    EXPECT_EQ(frame.objects[0].staticCount, 0);
}

TEST_F(CollectionTest, DormantTrackablesAreRemoved)
{
    TrackableCollection collection;
    Frame frame;
    SetObjects(frame, {{50, 50}});
    collection.Process(frame);
    SetObjects(frame, {});
    for (int i = 0; i < 200; ++i)
        collection.Process(frame);
    EXPECT_EQ(collection.GetNumberOfObjects(), 1);
    collection.Process(frame);
    EXPECT_EQ(collection.GetNumberOfObjects(), 0);
    EXPECT_FALSE(collection.IsTracking());
}

// The sweep and the grid index give what every pair gave: over random
// frames of many blobs (drifting and still markers, clutter, exact copies,
// touching boxes, streaks, blobs with no centre or an inverted box) every
// object's score bit for bit, its rank, its still count, the ranked order
// (ties included), the tracked object and every trackable are those of the
// all-pairs reference, with the score options and proximity's best value
// varied.
TEST_F(CollectionTest, MatchesTheAllPairsReferenceOnRandomFrames)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        int blobs, frames;
        bool staticTest, aspectTest;
        double proximityBest;  // 20 is the default
        bool oddities;         // blobs with no centre, inverted, far off or with an infinite edge
        double area = 640.0;   // width of the region the blobs are in
    } cases[] = {
        {1, 50, true, true, 20, true},       {3, 300, true, true, 20, true},    {12, 300, true, true, 20, true},
        {29, 300, true, true, 20, true},     {30, 300, true, true, 20, true},   {50, 300, true, true, 20, true},
        {50, 300, true, true, 20, false},    {50, 200, false, false, 20, true}, {50, 200, true, true, 0, true},
        {50, 200, true, true, 300, false},   {50, 100, true, true, kInf, true}, {50, 100, true, true, kNaN, true},
        {400, 60, true, true, 20, false},    {400, 30, true, false, 300, false}, {400, 30, true, true, 20, true},
        {50, 300, true, true, 20, false, 60}, {400, 30, true, true, 20, false, 200},  // crowded
    };
    auto same = [](double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); };
    std::uint64_t seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.blobs << " blobs, static " << c.staticTest << ", aspect "
                                          << c.aspectTest << ", best " << c.proximityBest << ", oddities "
                                          << c.oddities);
        Orvane::Settings::DoStaticTest(c.staticTest);
        Orvane::Settings::DoAspectTest(c.aspectTest);
        TrackableCollection collection;
        reference::Collection expected;
        collection.GetScorer().SetValues(TrackableScorer::Proximity, 3, 300, c.proximityBest);
        expected.scorer.proximity.SetValues(3, 300, c.proximityBest);
        testing_support::BlobFrames scene(seed, c.blobs, c.oddities, 0.4, c.area),
            twin(seed, c.blobs, c.oddities, 0.4, c.area);
        ++seed;
        Frame frame, expectedFrame;
        int tracked = 0;
        for (int f = 0; f < c.frames; ++f) {
            SCOPED_TRACE(f);
            scene.Next(frame);
            twin.Next(expectedFrame);
            collection.Process(frame);
            expected.Process(expectedFrame);
            for (int i = 0; i < c.blobs; ++i) {
                const CameraObject& got = frame.objects[static_cast<std::size_t>(i)];
                const CameraObject& want = expectedFrame.objects[static_cast<std::size_t>(i)];
                ASSERT_TRUE(same(got.score, want.score)) << i << ": " << got.score << " vs " << want.score;
                ASSERT_EQ(got.rank, want.rank) << i;
                ASSERT_EQ(got.staticCount, want.staticCount) << i;
            }
            const auto& ranked = collection.GetScorer().GetRanked();
            ASSERT_EQ(ranked.size(), expected.scorer.ranked.size());
            for (std::size_t r = 0; r < ranked.size(); ++r) {
                // The held tracked object stands in the list as no index (-1).
                const auto indexIn = [](const CameraObject* o, const Frame& fr) {
                    return o >= fr.objects.data() && o < fr.objects.data() + fr.objects.size()
                               ? static_cast<long>(o - fr.objects.data())
                               : -1L;
                };
                ASSERT_EQ(indexIn(ranked[r], frame), indexIn(expected.scorer.ranked[r], expectedFrame)) << r;
            }
            ASSERT_EQ(collection.IsTracking(), expected.tracking);
            if (expected.tracking) {
                ++tracked;
                Orvane::Trackable a = collection.GetTracked(), b = expected.tracked;
                ASSERT_TRUE(same(a.GetCenterMassX(), b.GetCenterMassX()));
                ASSERT_TRUE(same(a.GetCenterMassY(), b.GetCenterMassY()));
            }
            const auto& trackables = collection.GetTrackables();
            ASSERT_EQ(trackables.size(), expected.trackables.size());
            for (std::size_t t = 0; t < trackables.size(); ++t) {
                Orvane::Trackable a = trackables[t], b = expected.trackables[t];
                ASSERT_TRUE(same(a.GetCenterMassX(), b.GetCenterMassX())) << t;
                ASSERT_TRUE(same(a.GetCenterMassY(), b.GetCenterMassY())) << t;
                ASSERT_TRUE(same(a.previousX, b.previousX)) << t;
                ASSERT_TRUE(same(a.previousY, b.previousY)) << t;
                ASSERT_EQ(a.staticCount, b.staticCount) << t;
                ASSERT_EQ(a.dormantCount, b.dormantCount) << t;
                ASSERT_EQ(a.index, b.index) << t;
            }
        }
        // The runs did follow something (the comparison is not of empty frames).
        EXPECT_GT(tracked, c.frames / 2);
    }
}

} // namespace

