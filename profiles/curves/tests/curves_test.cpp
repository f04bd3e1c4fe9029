#include "profiles/curves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

namespace {

struct PresetCase {
    std::int32_t type;
    std::int32_t nameId;
    CurveValues table; // worked out by hand from the slopes and knot spacing
};

class PresetTableTest : public ::testing::TestWithParam<PresetCase> {};

TEST_P(PresetTableTest, BuildsItsTable)
{
    const auto& c = GetParam();
    const CurveSlopes* slopes = CurvePreset(c.type);
    ASSERT_NE(slopes, nullptr);
    EXPECT_EQ(BuildCurveValues(*slopes), c.table);
    CCurveTable table;
    table.Build(*slopes);
    EXPECT_EQ(table.Values(), c.table);
    EXPECT_EQ(CurveTypeNameId(c.type), c.nameId);
    // The presets are symmetric about the centre knot.
    for (int k = 0; k < kCurveKnotCount; ++k)
        EXPECT_EQ((*slopes)[k], (*slopes)[kCurveKnotCount - 1 - k]) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Presets, PresetTableTest,
    ::testing::Values(
        PresetCase{kCurveLinear, 2101, {850, 680, 510, 340, 170, 85, 34, 0, 34, 85, 170, 340, 510, 680, 850}},
        PresetCase{kCurveSmooth, 2102, {777, 597, 417, 237, 87, 32, 8, 0, 8, 32, 87, 237, 417, 597, 777}},
        PresetCase{kCurveAggressive, 2103, {1147, 817, 527, 277, 87, 27, 6, 0, 6, 27, 87, 277, 527, 817, 1147}},
        PresetCase{kCurveDeadZone, 2104, {766, 586, 416, 246, 76, 6, 0, 0, 0, 6, 76, 246, 416, 586, 766}},
        PresetCase{kCurveProgressive, 2105, {773, 503, 323, 163, 33, 8, 2, 0, 2, 8, 33, 163, 323, 503, 773}}));

TEST(CurveTest, KnotsAndNames)
{
    EXPECT_EQ(kCurveKnots[0], -50);
    EXPECT_EQ(kCurveKnots[kCurveCentreKnot], 0);
    EXPECT_EQ(kCurveKnots[14], 50);
    for (int k = 0; k + 1 < kCurveKnotCount; ++k)
        EXPECT_LT(kCurveKnots[k], kCurveKnots[k + 1]);
    // A combo filled up to the -1 has the curve type as its index.
    EXPECT_EQ(kCurveTypeNameIds, (std::array<std::int32_t, 7>{2101, 2102, 2103, 2104, 2105, 2100, -1}));
    EXPECT_EQ(CurveTypeNameId(kCurveCustom), 2100);
    EXPECT_EQ(CurveTypeNameId(9), 2100);
    EXPECT_EQ(CurveTypeNameId(-1), 2100);
    EXPECT_EQ(CurvePreset(5), nullptr);
    EXPECT_EQ(CurvePreset(-1), nullptr);
}

TEST(CurveTest, OnlyPresetTypesReplaceTheSlopes)
{
    const CurveSlopes mine{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::int32_t type : {5, 6, -1, 1000}) {
        CurveSlopes slopes = mine;
        EXPECT_FALSE(ApplyCurvePreset(type, slopes)) << type;
        EXPECT_EQ(slopes, mine) << type;
    }
    CurveSlopes slopes = mine;
    EXPECT_TRUE(ApplyCurvePreset(kCurveAggressive, slopes));
    EXPECT_EQ(slopes, *CurvePreset(kCurveAggressive));
}

TEST(CurveTest, CustomSlopes)
{
    // Each half from its own slopes, the segment's outer knot giving the slope.
    const CurveSlopes asymmetric{1, 2, 3, 4, 5, 6, 7, 55, 8, 9, 10, 11, 12, 13, 14};
    EXPECT_EQ(BuildCurveValues(asymmetric),
              (CurveValues{157, 147, 127, 97, 57, 32, 14, 0, 16, 43, 93, 203, 323, 453, 593}));

    CurveSlopes all80;
    all80.fill(80);
    const CurveValues top = BuildCurveValues(all80);
    EXPECT_EQ(top[0], 4000);
    EXPECT_EQ(top[14], 4000);

    // The centre slope takes no part.
    CurveSlopes centre = *CurvePreset(kCurveSmooth);
    const CurveValues before = BuildCurveValues(centre);
    for (std::int32_t p7 : {0, 1, 80}) {
        centre[kCurveCentreKnot] = p7;
        EXPECT_EQ(BuildCurveValues(centre), before) << p7;
    }

    // Only the upper half changes when only upper slopes do.
    CurveSlopes upper = *CurvePreset(kCurveLinear);
    upper[14] = 0;
    const CurveValues t = BuildCurveValues(upper);
    EXPECT_EQ(t[14], t[13]);
    EXPECT_EQ(t[0], 850);
}

TEST(CurveTest, SlopesOutsideTheRangeAreClamped)
{
    EXPECT_EQ(ClampCurveSlope(-1), 0);
    EXPECT_EQ(ClampCurveSlope(81), 80);
    EXPECT_EQ(ClampCurveSlope(std::numeric_limits<std::int64_t>::min()), 0);
    EXPECT_EQ(ClampCurveSlope(40), 40);

    // Slopes as a damaged file might give them: the table is that of the
    // clamped slopes, with no overflow.
    CurveSlopes wild;
    wild.fill(std::numeric_limits<std::int32_t>::max());
    wild[3] = -70000;
    CurveSlopes clamped = wild;
    ClampCurveSlopes(clamped);
    CurveSlopes expected;
    expected.fill(80);
    expected[3] = 0;
    EXPECT_EQ(clamped, expected);
    EXPECT_EQ(BuildCurveValues(wild), BuildCurveValues(expected));
    EXPECT_EQ(BuildCurveValues(wild)[0], 4000 - 10 * 80);
}

TEST(CurveTableTest, CopiesAndAssignment)
{
    CCurveTable a;
    EXPECT_EQ(a.Values(), CurveValues{});
    a.Build(*CurvePreset(kCurveDeadZone));
    CCurveTable b(a);
    EXPECT_EQ(b, a);
    EXPECT_EQ(b[0], 766);
    CCurveTable c;
    c = a;
    EXPECT_EQ(c[14], 766);
    c.Build(*CurvePreset(kCurveLinear));
    EXPECT_EQ(a[14], 766) << "copies are independent";
    EXPECT_EQ(c[14], 850);
}

// A reader on another thread sees each entry either before or after the
// rebuild, never torn, while the writer alternates presets.
TEST(CurveTableTest, RebuildWhileReading)
{
    CCurveTable table;
    const CurveValues linear = BuildCurveValues(*CurvePreset(kCurveLinear));
    const CurveValues aggressive = BuildCurveValues(*CurvePreset(kCurveAggressive));
    table.Build(*CurvePreset(kCurveLinear));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            for (int k = 0; k < kCurveKnotCount; ++k) {
                const auto v = table[k];
                if (v != linear[k] && v != aggressive[k])
                    bad.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 2000; ++i)
        table.Build(*CurvePreset(i % 2 ? kCurveLinear : kCurveAggressive));
    stop.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}

} // namespace
