#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <vector>

#include "mathlib/numbra.h"
#include "windows/curve_object.h"

namespace {

CCurveObject Curve(std::initializer_list<CCurvePoint> knots, CCurveRect r = {1, 1, 419, 80})
{
    CCurveObject c;
    c.Init(u"c", r.left, r.top, r.right, r.bottom);
    for (const auto& k : knots) c.AddKnot(k.x, k.y);
    return c;
}

std::vector<std::int32_t> Xs(const CCurveObject& c)
{
    std::vector<std::int32_t> xs;
    for (const auto& k : c.Knots()) xs.push_back(k.x);
    return xs;
}

TEST(CurveObject, InitNormalisesAndRefusesAnEmptyRectangle)
{
    CCurveObject c;
    EXPECT_EQ(c.Init(u"n", 0, 0, 0, 0), 0);
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.Init(u"n", 10, 20, 1, 2), 1);
    EXPECT_TRUE(c.IsValid());
    EXPECT_EQ(c.Rect(), (CCurveRect{1, 2, 10, 20}));
    EXPECT_EQ(c.name, u"n");
}

TEST(CurveObject, AddKnotInsertsInXOrder)
{
    struct Case {
        std::vector<std::int32_t> existing;
        std::int32_t x;
        int index;
    };
    const Case cases[] = {
        {{}, 50, 0},
        {{10, 20, 30}, 25, 2},
        {{10, 20, 30}, 5, 0},
        {{10, 20, 30}, 40, 3},
        {{10, 20, 30}, 20, 1}, // equal x goes before
        {{10, 20, 30}, 15, 1}, // tie: the lower neighbour is closest, and below
    };
    for (const auto& c : cases) {
        CCurveObject curve = Curve({});
        for (auto x : c.existing) curve.AddKnot(x, 5);
        EXPECT_EQ(curve.AddKnot(c.x, 7), c.index) << c.x;
        const auto* k = curve.GetKnot(c.index);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(*k, (CKnot{c.x, 7, 1, 0}));
        auto xs = Xs(curve);
        EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()));
    }
}

TEST(CurveObject, AddKnotStopsAtTheWrapperCapacity)
{
    CCurveObject c = Curve({});
    for (int i = 0; i < kCurveMaxKnots; ++i) ASSERT_GE(c.AddKnot(i + 1, 0), 0);
    EXPECT_EQ(c.AddKnot(1000, 0), -1);
    EXPECT_EQ(c.Count(), kCurveMaxKnots);
}

TEST(CurveObject, NavigationAndOutOfRangeIndexes)
{
    CCurveObject c = Curve({{10, 1}, {20, 2}});
    EXPECT_EQ(c.FirstKnot()->x, 10);
    EXPECT_EQ(c.LastKnot()->x, 20);
    EXPECT_EQ(c.NextKnot(0)->x, 20);
    EXPECT_EQ(c.NextKnot(1), nullptr);
    EXPECT_EQ(c.PrevKnot(0), nullptr);
    EXPECT_EQ(c.GetKnot(-1), nullptr);
    EXPECT_EQ(c.GetKnot(2), nullptr);
    EXPECT_FALSE(c.MoveKnot(5, 5, 7));
    c.RemoveAllKnots();
    EXPECT_EQ(c.LastIndex(), -1);
    EXPECT_EQ(c.FirstKnot(), nullptr);
}

TEST(CurveObject, MoveKnotKeepsNeighbourAndRectangleBounds)
{
    struct Case {
        int i;
        std::int32_t x, y;
        std::int32_t clamp;
        CCurvePoint expect;
        bool changed;
    };
    // Knots at (50,40) (100,30) (150,60) in (1,1)-(419,80).
    const Case cases[] = {
        {1, 200, 30, 0, {149, 30}, true},  // stops 1 px left of the right neighbour
        {1, 10, 30, 0, {51, 30}, true},    // and 1 px right of the left one
        {0, -20, 40, 0, {1, 40}, true},    // the first never goes left of 1
        {2, 999, 40, 0, {418, 40}, true},  // the last stops left of the right edge
        {1, 100, -5, 0, {100, 1}, true},   // y into the rectangle
        {1, 100, 500, 0, {100, 80}, true},
        {1, 100, 30, 0, {100, 30}, false}, // nothing moved
        {1, 100, 70, 1, {100, 40}, true},  // clamp: not below the previous knot's y
        {1, 100, 10, 1, {100, 40}, true},  // raised to the next knot's y, then the previous bound wins
    };
    for (const auto& c : cases) {
        CCurveObject curve = Curve({{50, 40}, {100, 30}, {150, 60}});
        curve.clamp = c.clamp;
        EXPECT_EQ(curve.MoveKnot(c.x, c.y, c.i), c.changed) << c.i << " " << c.x << "," << c.y;
        const auto* k = curve.GetKnot(c.i);
        EXPECT_EQ((CCurvePoint{k->x, k->y}), c.expect) << c.i << " " << c.x << "," << c.y;
    }
    // A falling shape (y grows downwards): clamp keeps knot 1 between its neighbours.
    CCurveObject mono = Curve({{50, 60}, {100, 50}, {150, 30}});
    mono.clamp = 1;
    mono.MoveKnot(100, 20, 1);
    EXPECT_EQ(mono.GetKnot(1)->y, 30);
    mono.MoveKnot(100, 70, 1);
    EXPECT_EQ(mono.GetKnot(1)->y, 60);
}

TEST(CurveObject, EvaluateAgreesWithNumbra)
{
    CCurveObject c = Curve({{10, 70}, {50, 30}, {90, 60}, {130, 10}, {170, 40}});
    const double xs[] = {10, 50, 90, 130, 170};
    const double ys[] = {70, 30, 60, 10, 40};
    for (int smooth : {0, 1}) {
        c.smooth = smooth;
        for (int x = 10; x <= 170; x += 7) {
            double y = 0;
            ASSERT_EQ(nbr_Interpolate(xs, ys, 5, x, &y, smooth == 0 ? 1 : 0, 0, 1.0), NBR_OK);
            EXPECT_EQ(c.Evaluate(x), static_cast<std::int32_t>(y)) << smooth << " " << x;
        }
    }
    c.smooth = 0;
    EXPECT_EQ(c.Evaluate(30), 50);
    EXPECT_EQ(c.Evaluate(31), 49); // 49.0 exactly
}

TEST(CurveObject, EvaluateWithoutUsableDataFallsBackToTheNearestKnot)
{
    CCurveObject none = Curve({});
    EXPECT_EQ(none.Evaluate(10), 0);
    CCurveObject one = Curve({{40, 33}});
    EXPECT_EQ(one.Evaluate(10), 33);
    CCurveObject same = Curve({{40, 33}, {40, 12}});
    EXPECT_EQ(same.Evaluate(40), 12); // the equal x went before: knot 0 is (40, 12)
}

TEST(CurveObject, ClampRaisesTheCurveToTheNearestKnot)
{
    CCurveObject c = Curve({{10, 10}, {50, 50}});
    EXPECT_EQ(c.Evaluate(20), 20);
    c.clamp = 1;
    EXPECT_EQ(c.Evaluate(20), 20);     // nearest knot (10,10): no change
    EXPECT_EQ(c.Evaluate(45), 50);     // nearest knot (50,50) raises 45 to 50
}

TEST(CurveObject, FindCurvePointProbesAroundTheColumn)
{
    // y = x on the line through (10,10) and (60,60).
    CCurveObject c = Curve({{10, 10}, {60, 60}});
    CCurvePoint p;
    ASSERT_TRUE(c.FindCurvePoint(30, 31, p));
    EXPECT_EQ(p, (CCurvePoint{30, 30}));
    ASSERT_TRUE(c.FindCurvePoint(30, 33, p)); // 30 and 31 miss; 31 gives 31: |31-33| < 2 fails, 32 hits
    EXPECT_EQ(p, (CCurvePoint{32, 32}));
    ASSERT_TRUE(c.FindCurvePoint(30, 27, p)); // x-1 and x-2: 29 fails, 28 hits
    EXPECT_EQ(p, (CCurvePoint{28, 28}));
    EXPECT_FALSE(c.FindCurvePoint(30, 40, p));
    EXPECT_FALSE(Curve({}).FindCurvePoint(30, 30, p));
}

TEST(CurveObject, HitTestCodes)
{
    CCurveObject c = Curve({{10, 10}, {60, 60}});
    CCurveHitRecord r;
    c.HitTest(62, 57, r);
    EXPECT_EQ(r.code, kCurveHitKnot);
    EXPECT_EQ(r.knot, 1);
    EXPECT_EQ(r.point, (CCurvePoint{62, 57}));
    c.HitTest(30, 31, r);
    EXPECT_EQ(r.code, kCurveHitCurve);
    EXPECT_EQ(r.curvePoint, (CCurvePoint{30, 30}));
    c.HitTest(30, 50, r);
    EXPECT_EQ(r.code, kCurveHitNothing);
    c.HitTest(14, 10, r); // just outside the 3-pixel square, and off the curve by 4
    EXPECT_EQ(r.code, kCurveHitNothing);
}

TEST(CurveObject, SerializeRoundTripAndRefusals)
{
    CCurveObject c = Curve({{10, 10}, {60, 60}}, {1, 2, 300, 80});
    c.smooth = 1;
    c.blend = 0x10001;
    c.power = 3;
    c.clamp = 1;
    c.GetKnot(1)->unselected = 0;
    c.GetKnot(1)->abscissa = 40;
    CCurveArchive out;
    c.Store(out);
    // count, two knots of three items, the rectangle, the name (count and one unit), three fields
    EXPECT_EQ(out.Bytes().size(), 4u * (1 + 6 + 4 + 1 + 3) + 2);

    CCurveArchive in(out.Bytes());
    CCurveObject back;
    ASSERT_TRUE(back.Load(in));
    EXPECT_TRUE(back.IsValid());
    EXPECT_EQ(back.Rect(), c.Rect());
    EXPECT_EQ(back.name, u"c");
    EXPECT_EQ(back.smooth, 1);
    EXPECT_EQ(back.blend, 0x10001);
    EXPECT_EQ(back.power, 3u);
    EXPECT_EQ(back.clamp, 0); // not stored
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(*back.GetKnot(1), (CKnot{60, 60, 0, 0})); // abscissa not stored

    // A count beyond the capacity and a truncated stream are refused.
    CCurveArchive big;
    big.WriteInt(300);
    CCurveObject refused;
    EXPECT_FALSE(refused.Load(big));
    EXPECT_FALSE(refused.IsValid());
    auto bytes = out.Bytes();
    bytes.resize(bytes.size() - 3);
    CCurveArchive cut(bytes);
    EXPECT_FALSE(refused.Load(cut));
    EXPECT_EQ(refused.Count(), 0);
}

} // namespace

namespace {

// Whether the companion file is mapped in the process now.
bool CompanionLoaded()
{
    void* h = ::dlopen((std::filesystem::path(CURVES_COMPANION_DIR) / "XlNumbra.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    ::dlclose(h);
    return true;
}

} // namespace

// The program-wide guard keeps the companion loaded through the guards that
// FindKnot makes and drops; without the file nothing fails.
TEST(CCurveDllImpl, ShortGuardsNeverUnloadWhatTheProgramGuardHolds)
{
    const auto previous = std::filesystem::current_path();
    {
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        const CCurveDllImpl none;
        EXPECT_FALSE(none.Loaded());
    }
    std::filesystem::current_path(CURVES_COMPANION_DIR);
    {
        const CCurveDllImpl program;
        ASSERT_TRUE(program.Loaded());
        CCurveObject curve;
        ASSERT_EQ(curve.Init(u"c", 0, 0, 100, 80), 1);
        curve.AddKnot(10, 20);
        curve.AddKnot(60, 30);
        for (int i = 0; i < 3; ++i) {
            { const CCurveDllImpl lookup; EXPECT_TRUE(lookup.Loaded()); }
            ASSERT_NE(curve.FindKnot(50), nullptr);
            EXPECT_EQ(curve.FindKnot(50)->x, 60);
            EXPECT_TRUE(CompanionLoaded());
        }
    }
    EXPECT_FALSE(CompanionLoaded()) << "the last guard lets it go";
    std::filesystem::current_path(previous);
}
