// Lookups, bracketing and curve interpolation against values worked out by hand.
#include "mathlib/numbra.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumbraLookup, ClosestMinMaxAndMonotony)
{
    const double a[] = {0, 10, 20, 30};
    EXPECT_EQ(nbr_IndexOfClosestValue(a, 4, 14), 1);
    EXPECT_EQ(nbr_IndexOfClosestValue(a, 4, 15), 1);  // midway: the lower index
    EXPECT_EQ(nbr_IndexOfClosestValue(a, 4, 99), 3);
    EXPECT_EQ(nbr_IndexOfClosestValue(a, 1, 99), 0);
    EXPECT_EQ(nbr_IndexOfClosestValue(a, 0, 99), 0);
    EXPECT_EQ(nbr_IndexOfClosestValue(nullptr, 5, 1), 0);
    EXPECT_DOUBLE_EQ(nbr_LookupClosestValue(a, 4, 26), 30);
    // An empty array has no value to return.
    EXPECT_TRUE(std::isnan(nbr_LookupClosestValue(a, 0, 1)));
    EXPECT_TRUE(std::isnan(nbr_LookupClosestValue(a, -3, 1)));

    const double xs[] = {0, 1, 2};
    const double ys[] = {0, 10};
    const double table[] = {1, 2, 3, 4, 5, 6};  // row iy = 0: 1 2 3; iy = 1: 4 5 6
    EXPECT_DOUBLE_EQ(nbr_LookupClosestValue2D(table, xs, ys, 3, 2, 1.9, 8), 6);
    EXPECT_DOUBLE_EQ(nbr_LookupClosestValue2D(table, xs, ys, 3, 2, 0.2, 1), 1);
    EXPECT_TRUE(std::isnan(nbr_LookupClosestValue2D(table, xs, ys, 0, 2, 0, 0)));

    const double m[] = {3, 7, 1, 7, 1};
    EXPECT_EQ(nbr_IndexOfMaxDouble(m, 5), 1);
    EXPECT_EQ(nbr_IndexOfMinDouble(m, 5), 2);
    EXPECT_EQ(nbr_IndexOfMaxDouble(m, 1), 0);
    EXPECT_EQ(nbr_IndexOfMinDouble(m, 0), 0);

    struct Case { std::vector<double> a; int status; };
    const Case cases[] = {
        {{1, 2, 3}, 0}, {{3, 2, 1}, 0}, {{1, 1, 2}, 36}, {{1, 3, 2, 4}, 36}, {{2, 1, 3}, 36},
        {{5}, 0}, {{}, 0}, {{1, 2, 1}, 36}, {{1, kNaN, 3}, 36},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nbr_ArrayIsConstantlyIncreasingOrDecreasing(c.a.data(), static_cast<int>(c.a.size())), c.status)
            << c.a.size();
    }
}

TEST(NumbraBracket, IndexesOfThePartsUsed)
{
    const double x[] = {0, 1, 2, 3, 4, 5};
    struct Case { double x0; short linear; int i, j, status; };
    const Case cases[] = {
        {0.5, 1, 0, 0, 0}, {2.5, 1, 2, 2, 0}, {3.0, 1, 2, 2, 0}, {-1, 1, 0, 0, 43}, {9, 1, 4, 4, 43},
        {0.5, 0, 0, 0, 0},  // up to x[1]
        {1.5, 0, 0, 1, 0},  // beyond x[1], up to x[2]
        {2.0, 0, 0, 1, 0},
        {2.5, 0, 1, 2, 0},  // k = 2: i = k - 1
        {4.5, 0, 3, 4, 0},
        {5.0, 0, 3, 5, 0},  // at the last x
        {7.0, 0, 3, 5, 43},
        {-2.0, 0, 0, 0, 43},
    };
    for (const Case& c : cases) {
        int i = -7, j = -7;
        EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 6, c.x0, c.linear, &i, &j), c.status) << c.x0;
        EXPECT_EQ(i, c.i) << c.x0 << " linear " << c.linear;
        EXPECT_EQ(j, c.j) << c.x0 << " linear " << c.linear;
    }
    const double falling[] = {5, 4, 3, 2, 1, 0};
    int i = 0, j = 0;
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(falling, 6, 2.5, 1, &i, &j), 0);
    EXPECT_EQ(i, 2);
    // Too few points for the kind of bracket, NaN or infinite queries, a
    // non-monotonic span and equal ends are all bad data; nothing is written.
    i = j = -7;
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 2, 0.5, 0, &i, &j), 36);
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 1, 0.5, 1, &i, &j), 36);
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 0, 0.5, 1, &i, &j), 36);
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 6, kNaN, 1, &i, &j), 36);
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(x, 6, kInf, 0, &i, &j), 36);
    EXPECT_EQ(i, -7);
    const double bent[] = {0, 2, 1, 3};
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(bent, 4, 2.5, 1, &i, &j), 36);
    // x0 beyond x[2] but short of x[1]: the scan stops at once, and the
    // parabola's start must not fall before the array.
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(bent, 4, 1.5, 0, &i, &j), 36);
    double y0 = 0;
    EXPECT_EQ(nbr_Interpolate(bent, x, 4, 1.5, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_dydx(bent, x, 4, 1.5, &y0), 36);
    const double ends[] = {1, 2, 1};
    EXPECT_EQ(nbr_GetStartingPointAndPointAfterKnowingX(ends, 3, 1.5, 1, &i, &j), 36);
}

TEST(NumbraShapes, ParabolaThroughThreePoints)
{
    // y = 2x^2 - 3x + 1 through x = -1, 0, 2 (one x is 0: no division by it).
    const double x[] = {-1, 0, 2};
    const double y[] = {6, 1, 3};
    double a = 0, b = 0, c = 0;
    ASSERT_EQ(nbr_CalculateParabolaCoefficients(x, y, 0, &a, &b, &c), 0);
    EXPECT_NEAR(a, 2, 1e-12);
    EXPECT_NEAR(b, -3, 1e-12);
    EXPECT_NEAR(c, 1, 1e-12);
    EXPECT_NEAR(nbr_CalculateParabolicY(x, y, 1.0, 0), 0.0, 1e-12);
    EXPECT_NEAR(nbr_CalculateParabolicY(x, y, 3.0, 0), 10.0, 1e-12);
    const double same[] = {1, 1, 2};
    EXPECT_EQ(nbr_CalculateParabolaCoefficients(same, y, 0, &a, &b, &c), 36);
    EXPECT_EQ(nbr_CalculateParabolaCoefficients(x, y, -1, &a, &b, &c), 36);
    EXPECT_TRUE(std::isnan(nbr_CalculateParabolicY(same, y, 1.5, 0)));
}

TEST(NumbraInterpolate, TableOfCases)
{
    struct Case {
        std::vector<double> x, y;
        double x0;
        short linear, blend;
        double expected;
        int status;
    };
    const Case cases[] = {
        {{0, 1, 2}, {0, 10, 20}, 0.5, 1, 0, 5, 0},
        {{0, 1, 2}, {0, 10, 20}, 3, 1, 0, 30, 43},
        {{0, 1, 2}, {0, 1, 4}, 1.5, 0, 0, 2.25, 0},
        {{0, 1, 2}, {0, 1, 4}, -1, 0, 0, 1, 43},    // parabola extrapolated
        {{0, 2}, {0, 4}, 0.5, 0, 1, 1, 0},          // two points: linear whatever the flag
        {{2, 1, 0}, {4, 1, 0}, 1.5, 0, 0, 2.25, 0}, // falling x
        {{0, 1, 2, 3}, {0, 1, 4, 9}, 1.5, 0, 1, 2.25, 0},  // one parabola and its blend agree
        // x^3: P1(x) = 3x^2 - 2x through 0..2, P2(x) = 6x^2 - 11x + 6 through 1..3;
        // at 1.5 they give 3.75 and 3.0, blended at u = 0.5 to 3.375.
        {{0, 1, 2, 3}, {0, 1, 8, 27}, 1.5, 0, 0, 3.75, 0},
        {{0, 1, 2, 3}, {0, 1, 8, 27}, 1.5, 0, 1, 3.375, 0},
    };
    for (const Case& c : cases) {
        double y0 = kNaN;
        const int n = static_cast<int>(c.x.size());
        EXPECT_EQ(nbr_Interpolate(c.x.data(), c.y.data(), n, c.x0, &y0, c.linear, c.blend, 1.0), c.status) << c.x0;
        EXPECT_NEAR(y0, c.expected, 1e-12) << c.x0;
    }
}

TEST(NumbraInterpolate, BadDataNeverReadsBeyondTheArrays)
{
    const double x[] = {0, 1, 2, 3};
    const double y[] = {0, 1, 4, 9};
    double y0 = 123;
    EXPECT_EQ(nbr_Interpolate(x, y, 1, 0.5, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, 0, 0.5, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, -4, 0.5, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, 4, kNaN, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, 4, -kInf, &y0, 1, 0, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, 4, 1.5, &y0, 0, 1, kNaN), 36);
    EXPECT_EQ(nbr_Interpolate(nullptr, y, 4, 1.5, &y0, 0, 1, 1), 36);
    EXPECT_EQ(nbr_Interpolate(x, y, 4, 1.5, nullptr, 0, 1, 1), 36);
    EXPECT_EQ(y0, 123);
    // First x equal to the last, with interior points that differ.
    const double loop[] = {0, 1, 2, 0};
    EXPECT_EQ(nbr_Interpolate(loop, y, 4, 0.5, &y0, 1, 0, 1), 36);
    // A NaN inside the span used.
    const double hole[] = {0, kNaN, 2, 3};
    EXPECT_EQ(nbr_Interpolate(hole, y, 4, 1.5, &y0, 0, 1, 1), 36);
    // Rising data whose fourth point turns back must not be blended.
    const double back[] = {0, 1, 2, 1.5, 4};
    const double yb[] = {0, 1, 4, 9, 16};
    EXPECT_EQ(nbr_Interpolate(back, yb, 5, 1.5, &y0, 0, 1, 1), 36);
    const double fback[] = {4, 3, 2, 2.5, 0};
    EXPECT_EQ(nbr_Interpolate(fback, yb, 5, 2.5, &y0, 0, 1, 1), 36);
}

TEST(NumbraInterpolate, OutsideTestRoundsToSinglePrecision)
{
    const double x[] = {0.0, 25.0, 50.0};
    const double y[] = {0.0, 25.0, 50.0};
    double y0 = 0;
    EXPECT_EQ(nbr_Interpolate(x, y, 3, 50.0 + FLT_EPSILON, &y0, 1, 0, 1), 0);
    EXPECT_EQ(nbr_Interpolate(x, y, 3, 50.0 + 1e-5, &y0, 1, 0, 1), 43);
    // The lower end is compared exactly.
    EXPECT_EQ(nbr_Interpolate(x, y, 3, -1e-12, &y0, 1, 0, 1), 43);
    // A query beyond the float range is plainly outside.
    EXPECT_EQ(nbr_Interpolate(x, y, 3, 1e300, &y0, 1, 0, 1), 43);
}

TEST(NumbraInterpolate, BlendPowerShapesOnlyBetweenItsEnds)
{
    const double x[] = {0, 1, 2, 3, 4};
    const double y[] = {0, 1, 8, 27, 64};
    for (double x0 : {1.0 + 1e-9, 1.5, 2.0}) {
        double p1 = 0, p2 = 0;
        ASSERT_EQ(nbr_Interpolate(x, y, 5, x0, &p1, 0, 1, 1.0), 0);
        ASSERT_EQ(nbr_Interpolate(x, y, 5, x0, &p2, 0, 1, 2.0), 0);
        EXPECT_NEAR(p1, p2, 1e-6) << x0;
    }
    double p1 = 0, p2 = 0;
    ASSERT_EQ(nbr_Interpolate(x, y, 5, 1.25, &p1, 0, 1, 1.0), 0);
    ASSERT_EQ(nbr_Interpolate(x, y, 5, 1.25, &p2, 0, 1, 2.0), 0);
    EXPECT_NE(p1, p2);
    // j = n - 2 (the last interval): one parabola, no blend.
    double plain = 0, blended = 0;
    ASSERT_EQ(nbr_Interpolate(x, y, 5, 3.5, &plain, 0, 0, 1.0), 0);
    ASSERT_EQ(nbr_Interpolate(x, y, 5, 3.5, &blended, 0, 1, 1.0), 0);
    EXPECT_DOUBLE_EQ(plain, blended);
    // nbr_Interp is the blended parabola with power 1.
    double i1 = 0;
    ASSERT_EQ(nbr_Interp(x, y, 5, 1.25, &i1), 0);
    EXPECT_DOUBLE_EQ(i1, p1);
}

// The natural spline with second derivative 0 at both ends, solved here as a
// dense system in the usual form (with the factor 6).
double referenceSpline(const std::vector<double>& x, const std::vector<double>& y, double x0)
{
    const int n = static_cast<int>(x.size());
    const int m = n - 2;
    std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
    for (int r = 0; r < m; ++r) {
        const int k = r + 1;
        const double h0 = x[k] - x[k - 1], h1 = x[k + 1] - x[k];
        if (r > 0) a[r][r - 1] = h0;
        a[r][r] = 2 * (h0 + h1);
        if (r + 1 < m) a[r][r + 1] = h1;
        a[r][m] = 6 * ((y[k + 1] - y[k]) / h1 - (y[k] - y[k - 1]) / h0);
    }
    for (int c = 0; c < m; ++c) {
        for (int r = c + 1; r < m; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k <= m; ++k) a[r][k] -= f * a[c][k];
        }
    }
    std::vector<double> M(n, 0.0);
    for (int r = m - 1; r >= 0; --r) {
        double s = a[r][m];
        for (int k = r + 1; k < m; ++k) s -= a[r][k] * M[k + 1];
        M[r + 1] = s / a[r][r];
    }
    int seg = 1;
    while (seg < n - 1 && ((x[n - 1] > x[0]) ? x0 >= x[seg] : x0 <= x[seg])) ++seg;
    const double h = x[seg] - x[seg - 1];
    const double A = (x[seg] - x0) / h, B = (x0 - x[seg - 1]) / h;
    return A * y[seg - 1] + B * y[seg] + ((A * A * A - A) * M[seg - 1] + (B * B * B - B) * M[seg]) * h * h / 6;
}

TEST(NumbraSpline, SmallCasesAndNaturalSpline)
{
    double y0 = 0;
    const double one[] = {2};
    const double oneY[] = {7};
    EXPECT_EQ(nbr_Spline(one, oneY, 1, 2, &y0), 0);
    EXPECT_EQ(y0, 7);
    EXPECT_EQ(nbr_Spline(one, oneY, 1, 3, &y0), 43);
    EXPECT_EQ(y0, 7);
    EXPECT_EQ(nbr_Spline(one, oneY, 0, 3, &y0), 36);
    const double two[] = {0, 2}, twoY[] = {1, 5};
    EXPECT_EQ(nbr_Spline(two, twoY, 2, 1, &y0), 0);
    EXPECT_DOUBLE_EQ(y0, 3);
    const double three[] = {0, 1, 2}, threeY[] = {0, 1, 4};
    EXPECT_EQ(nbr_Spline(three, threeY, 3, 1.5, &y0), 0);
    EXPECT_DOUBLE_EQ(y0, 2.25);
    const double threeSame[] = {0, 1, 1};
    EXPECT_EQ(nbr_Spline(threeSame, threeY, 3, 1.5, &y0), 36);

    // Collinear points come back exactly on the line.
    const double lx[] = {0, 1, 3, 4}, ly[] = {1, 3, 7, 9};
    for (double x0 : {0.0, 0.5, 2.0, 3.9, 4.0}) {
        ASSERT_EQ(nbr_Spline(lx, ly, 4, x0, &y0), 0);
        EXPECT_NEAR(y0, 1 + 2 * x0, 1e-12) << x0;
    }

    const std::vector<double> sx = {0, 1, 2.5, 3, 4.5};
    const std::vector<double> sy = {1, -1, 2, 0.5, 3};
    for (double x0 : {0.3, 1.0, 1.7, 2.9, 4.0, 5.0, -0.5}) {
        ASSERT_EQ(nbr_Spline(sx.data(), sy.data(), 5, x0, &y0), (x0 < 0 || x0 > 4.5) ? 43 : 0);
        EXPECT_NEAR(y0, referenceSpline(sx, sy, x0), 1e-12) << x0;
    }
    // Falling x gives the mirror image.
    std::vector<double> fx, fy;
    for (int k = 4; k >= 0; --k) {
        fx.push_back(-sx[k]);
        fy.push_back(sy[k]);
    }
    for (double x0 : {0.3, 1.7, 2.9, 4.0}) {
        double mirrored = 0, direct = 0;
        ASSERT_EQ(nbr_Spline(fx.data(), fy.data(), 5, -x0, &mirrored), 0);
        ASSERT_EQ(nbr_Spline(sx.data(), sy.data(), 5, x0, &direct), 0);
        EXPECT_NEAR(mirrored, direct, 1e-12) << x0;
    }
    const double bent[] = {0, 2, 1, 3};
    EXPECT_EQ(nbr_Spline(bent, ly, 4, 1.5, &y0), 36);
    EXPECT_EQ(nbr_Spline(lx, ly, 4, kNaN, &y0), 36);
}

TEST(NumbraDerivatives, OfTheBlendedCurve)
{
    // On a parabola both parabolas agree: exact derivatives everywhere.
    const double x[] = {0, 1, 2, 3, 4};
    const double y[] = {1, 2, 9, 22, 41};  // 3x^2 - 2x + 1
    for (double x0 : {0.5, 1.5, 2.5, 3.5, 5.0}) {
        double d = 0, dd = 0;
        EXPECT_EQ(nbr_dydx(x, y, 5, x0, &d), x0 > 4 ? 43 : 0);
        EXPECT_EQ(nbr_ddydx(x, y, 5, x0, &dd), x0 > 4 ? 43 : 0);
        EXPECT_NEAR(d, 6 * x0 - 2, 1e-9) << x0;
        EXPECT_NEAR(dd, 6, 1e-9) << x0;
    }
    // On x^3 within a blended interval: compare against a difference of nbr_Interp.
    const double cy[] = {0, 1, 8, 27, 64};
    for (double x0 : {1.3, 1.7, 2.2, 2.8}) {
        double d = 0, dd = 0, lo = 0, mid = 0, hi = 0;
        const double h = 1e-4;
        ASSERT_EQ(nbr_dydx(x, cy, 5, x0, &d), 0);
        ASSERT_EQ(nbr_ddydx(x, cy, 5, x0, &dd), 0);
        ASSERT_EQ(nbr_Interp(x, cy, 5, x0 - h, &lo), 0);
        ASSERT_EQ(nbr_Interp(x, cy, 5, x0, &mid), 0);
        ASSERT_EQ(nbr_Interp(x, cy, 5, x0 + h, &hi), 0);
        EXPECT_NEAR(d, (hi - lo) / (2 * h), 1e-6) << x0;
        EXPECT_NEAR(dd, (hi - 2 * mid + lo) / (h * h), 1e-3) << x0;
    }
    const double two[] = {0, 2}, twoY[] = {1, 5};
    double d = 0;
    EXPECT_EQ(nbr_dydx(two, twoY, 2, 1, &d), 0);
    EXPECT_DOUBLE_EQ(d, 2);
    EXPECT_EQ(nbr_ddydx(two, twoY, 2, 1, &d), 0);
    EXPECT_DOUBLE_EQ(d, 0);
    EXPECT_EQ(nbr_dydx(two, twoY, 1, 1, &d), 36);
    EXPECT_EQ(nbr_dydx(x, y, 5, kNaN, &d), 36);
}

} // namespace
