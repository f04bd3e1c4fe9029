#include <gtest/gtest.h>

#include <vector>

#include "engine/blob_identification.h"
#include "simcam/scene/scene.h"
#include "testing/test_blob.h"

namespace {

using testing_support::Blob;

std::vector<Blob*> Table(std::vector<Blob>& blobs)
{
    std::vector<Blob*> t;
    for (Blob& b : blobs) t.push_back(&b);
    return t;
}

CThreePointPose SolverFor(int location)
{
    CThreePointPose s;
    s.SetModel(CHeadsetModel::ForLocation(location));
    return s;
}

} // namespace

TEST(FilterObjects, ShapeAndAreaWindow)
{
    struct Case {
        float area, width;
        unsigned height;
        int revision, location;
        bool kept;
    } cases[] = {
        {100, 4, 12, 7, 0, true},    // exactly three times as tall
        {100, 4, 13, 7, 0, false},   // taller
        {69, 10, 10, 7, 2, false},   // location 2 window 70..810
        {70, 10, 10, 7, 2, true},
        {810, 10, 10, 7, 2, true},
        {811, 10, 10, 7, 2, false},
        {69, 10, 10, 7, 0, true},    // no window elsewhere
        {22, 5, 5, 5, 2, false},     // revision 5: 23..203
        {23, 5, 5, 5, 2, true},
        {203, 5, 5, 5, 2, true},
        {204, 5, 5, 5, 2, false},
        {69, 10, 10, 8, 2, false},   // revision 8 shares the 640 x 480 window
        {100, 0, 3, 7, 0, false},    // no width: infinitely tall
    };
    for (const Case& c : cases) {
        std::vector<Blob> blobs = {{c.area, c.width, c.height, 0, 0}};
        auto t = Table(blobs);
        FilterObjects<Blob>(t, c.revision, c.location);
        EXPECT_EQ(blobs[0].area > 0, c.kept) << c.area << " " << c.width << "x" << c.height << " rev " << c.revision
                                              << " loc " << c.location;
    }
}

TEST(FilterObjects, SortsSmallTablesOnly)
{
    std::vector<Blob> blobs = {{50}, {0}, {200}, {120}};
    blobs[1].height = 9; // dropped by shape after... its area is 0 already
    auto t = Table(blobs);
    FilterObjects<Blob>(t, 8, 0);
    EXPECT_EQ(t[0]->area, 200);
    EXPECT_EQ(t[1]->area, 120);
    EXPECT_EQ(t[2]->area, 50);
    EXPECT_EQ(t[3]->area, 0);

    std::vector<Blob> many(30);
    for (int i = 0; i < 30; ++i) many[i].area = float(10 + i);
    auto big = Table(many);
    FilterObjects<Blob>(big, 8, 0);
    EXPECT_EQ(big[0]->area, 10); // frame order kept
    EXPECT_EQ(big[2]->area, 12);
}

TEST(CheckAreas, SixtyFivePercent)
{
    struct Case {
        std::vector<float> areas;
        bool ok;
    } cases[] = {
        {{100, 165, 35}, true},
        {{100, 166, 100}, false},
        {{100, 100, 34}, false},
        {{100, 100}, false},
        {{0, 0, 0}, false}, // every blob rejected
        {{100, 100, 100, 1}, true},
    };
    for (const Case& c : cases) {
        std::vector<Blob> blobs;
        for (float a : c.areas) blobs.push_back({a});
        auto t = Table(blobs);
        EXPECT_EQ(CheckAreas<Blob>(std::span<Blob* const>(t)), c.ok) << c.areas.size() << " " << c.areas[0];
    }
}

TEST(OrientPoint, QuarterTurns)
{
    const double hw = 320, hh = 240;
    // Pixel (330, 200): dx 10, dy -40 (three-point), 40 (one-point).
    struct Case {
        int r;
        bool onePoint;
        double x, y;
    } cases[] = {
        {0, false, -10, -40}, {1, false, 40, -10}, {2, false, 10, 40}, {3, false, -40, 10},
        {0, true, -10, 40},   {1, true, 40, 10},   {2, true, 10, -40}, {3, true, -40, -10},
    };
    for (const Case& c : cases) {
        const ImagePoint p = OrientPoint(330, 200, c.r, hw, hh, c.onePoint);
        EXPECT_EQ(p.x, c.x) << c.r << c.onePoint;
        EXPECT_EQ(p.y, c.y) << c.r << c.onePoint;
    }
    // Upside down negates both three-point coordinates.
    const ImagePoint a = OrientPoint(17, 401, 0, hw, hh, false), b = OrientPoint(17, 401, 2, hw, hh, false);
    EXPECT_EQ(a.x, -b.x);
    EXPECT_EQ(a.y, -b.y);
}

TEST(OrderMarkers, BySortingMode)
{
    struct Case {
        int location; // gives the sorting: 0 -> 0, 1 -> 2, 3 -> 3
        int sorting;
        std::array<ImagePoint, 3> pts;
        std::array<int, 3> expected;
    } cases[] = {
        // Sorting 3 by x: x -20, 5, 40 -> P1 = -20, P0 = 5, P2 = 40.
        {3, 3, {{{40, 0}, {-20, 0}, {5, 0}}}, {2, 1, 0}},
        // Ties keep the earlier point first (stable).
        {3, 3, {{{5, 1}, {5, 2}, {5, 3}}}, {1, 0, 2}},
        // Sorting 2 by y: middle, smallest, largest.
        {1, 2, {{{0, 30}, {0, -50}, {0, 10}}}, {2, 1, 0}},
        // Sorting 0: P0 smallest y; of the others (cyclic after P0) the smaller x; b on ties.
        {0, 0, {{{30, 5}, {-30, -60}, {20, 40}}}, {1, 2, 0}},
        {0, 0, {{{-5, 5}, {0, -60}, {-5, 40}}}, {1, 0, 2}},
        {0, 0, {{{7, 5}, {0, -60}, {7, 40}}}, {1, 0, 2}}, // x tie -> b = point 0
        // P0: the first of equal smallest y wins.
        {0, 0, {{{1, -9}, {2, -9}, {3, 0}}}, {0, 1, 2}},
        // None below the start value (half the height): point 0.
        {0, 0, {{{1, 300}, {2, 250}, {3, 260}}}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        CThreePointPose solver = SolverFor(c.location);
        ASSERT_EQ(solver.GetModel().Sorting, c.sorting);
        std::array<int, 3> order{};
        solver.OrderMarkers(order, c.pts, 240.0);
        EXPECT_EQ(order, c.expected) << "sorting " << c.sorting << " first x " << c.pts[0].x;
    }
    // Sorting 1: P1 is the smaller y of the two others (a when equal).
    CHeadsetModel m = CHeadsetModel::ForLocation(0);
    m.Sorting = 1;
    CThreePointPose solver;
    solver.SetModel(m);
    std::array<int, 3> order{};
    const std::array<ImagePoint, 3> pts = {{{0, -50}, {-40, 20}, {40, 10}}};
    solver.OrderMarkers(order, pts, 240.0);
    EXPECT_EQ(order, (std::array<int, 3>{0, 2, 1}));
    const std::array<ImagePoint, 3> tie = {{{0, -50}, {-40, 20}, {40, 20}}};
    solver.OrderMarkers(order, tie, 240.0);
    EXPECT_EQ(order, (std::array<int, 3>{0, 1, 2}));
}

TEST(IdentifyPoints, SceneLabelsMatchTheClipAtNeutralForEveryRotation)
{
    // Through blobs at the scene's pixels, in shuffled order, for each camera
    // rotation: the labels come out as the clip's P0, P1, P2.
    for (int loc : {1, 2, 3, 4}) {
        for (int rot = 0; rot < 4; ++rot) {
            SCOPED_TRACE(loc * 10 + rot);
            simcam::scene::SceneProjector scene(8, loc, rot);
            simcam::scene::Projection p;
            scene.Project({5, -3, 2, 10, -5, 20}, p);
            ASSERT_TRUE(p.inView);
            std::vector<Blob> blobs = {{120, 10, 10, p.pixels[2].x, p.pixels[2].y},
                                       {130, 10, 10, p.pixels[0].x, p.pixels[0].y},
                                       {110, 10, 10, p.pixels[1].x, p.pixels[1].y},
                                       {30, 2, 9, 5, 5}}; // a thin distractor
            auto t = Table(blobs);
            FilterObjects<Blob>(t, 8, loc);
            ASSERT_TRUE(CheckAreas<Blob>(std::span<Blob* const>(t)));
            CThreePointPose solver = SolverFor(loc);
            std::array<ImagePoint, 3> labelled{};
            IdentifyPoints<Blob>(std::span<Blob* const>(t), rot, 320, 240, solver, labelled);
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(labelled[i].x, p.oriented[i].x, 1e-9) << i;
                EXPECT_NEAR(labelled[i].y, p.oriented[i].y, 1e-9) << i;
            }
        }
    }
}

TEST(IdentifyPoints, MissingObjectsAreZero)
{
    std::vector<Blob> blobs = {{100, 5, 5, 330, 250}};
    auto t = Table(blobs);
    CThreePointPose solver = SolverFor(3);
    std::array<ImagePoint, 3> labelled{};
    IdentifyPoints<Blob>(std::span<Blob* const>(t), 0, 320, 240, solver, labelled);
    int zeros = 0;
    for (const ImagePoint& p : labelled) zeros += (p.x == 0 && p.y == 0);
    EXPECT_EQ(zeros, 2);
}
