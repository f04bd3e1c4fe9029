// Curve intersection, peak / valley / x-at-y searches, grids and families of curves.
#include "mathlib/numbra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(NumbraIntersect, CrossingsParallelsAndCloseness)
{
    const double x[] = {0, 10};
    const double up[] = {0, 10};     // y = x
    const double down[] = {10, 0};   // y = 10 - x
    const double above[] = {1, 11};  // y = x + 1
    const double zero[] = {0, 0};    // y = 0
    const double shifted[] = {-5, 5};  // y = x - 5
    const double far[] = {30, 20};   // y = 30 - x

    struct Case {
        const double *y1, *y2;
        double start, tolerance;
        int maxIterations, status;
        double x;
    };
    const Case cases[] = {
        {up, down, 1, 1e-12, 20, 0, 5},
        {up, up, 3, 1e-12, 20, 0, 3},      // the same line: equal at once
        {up, above, 3, 1e-12, 20, 36, 3},  // parallel and apart: no crossing, x unmoved
        // y1 = 0 and y2 = x - 5 at x = 0: f2 = -5 is not close to 0, whatever 1/f2 is.
        {zero, shifted, 0, 0.5, 20, 0, 5},
        {up, far, 1, 1e-12, 20, 43, 15},  // the crossing lies beyond both curves' data
        {up, down, 1, 1e-12, 0, 36, 1},   // no step allowed and not close
    };
    for (const Case& c : cases) {
        double xi = c.start;
        EXPECT_EQ(nbr_Intersect(x, c.y1, 2, x, c.y2, 2, &xi, 0, 0, c.tolerance, c.maxIterations, 0.5), c.status)
            << c.start;
        EXPECT_NEAR(xi, c.x, 1e-9) << c.start;
    }
    // A huge f2 against f1 = 0 is far from close.
    const double steep[] = {1e6, 1e6 + 1};
    double xi = 0;
    EXPECT_EQ(nbr_Intersect(x, zero, 2, x, steep, 2, &xi, 0, 0, 1e-3, 0, 0.5), 36);

    // Splines over four collinear points behave as the lines.
    const double sx[] = {0, 2, 5, 10};
    const double sUp[] = {0, 2, 5, 10};
    const double sDown[] = {10, 8, 5, 0};
    xi = 1;
    EXPECT_EQ(nbr_Intersect(sx, sUp, 4, sx, sDown, 4, &xi, 1, 1, 1e-12, 20, 0.5), 0);
    EXPECT_NEAR(xi, 5, 1e-9);

    xi = 1;
    EXPECT_EQ(nbr_Intersect(x, up, 2, x, down, 2, &xi, 0, 0, 1e-12, 20, 0.0), 36);
    EXPECT_EQ(nbr_Intersect(x, up, 1, x, down, 2, &xi, 0, 0, 1e-12, 20, 0.5), 36);
    EXPECT_EQ(nbr_Intersect(x, up, 2, x, down, 2, nullptr, 0, 0, 1e-12, 20, 0.5), 36);
    xi = kNaN;
    EXPECT_EQ(nbr_Intersect(x, up, 2, x, down, 2, &xi, 0, 0, 1e-12, 20, 0.5), 36);
}

struct Found {
    int status;
    double xOut, xRaw, yOut, yRaw;
};

Found xAtY(const std::vector<double>& x, const std::vector<double>& y, int mode, double start, double target)
{
    Found f{-1, kNaN, kNaN, kNaN, kNaN};
    f.status = nbr_XatY(x.data(), y.data(), static_cast<int>(x.size()), mode, start, target, &f.xOut, &f.xRaw,
                        &f.yOut, &f.yRaw);
    return f;
}

TEST(NumbraXatY, FewPoints)
{
    EXPECT_EQ(xAtY({}, {}, 'P', 0, 0).status, 36);
    EXPECT_EQ(xAtY({1, 2}, {3, 4}, 'Q', 0, 0).status, 36);
    Found f = xAtY({2}, {7}, 'y', 0, 100);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.xOut, 2);
    EXPECT_EQ(f.xRaw, 2);
    EXPECT_EQ(f.yOut, 7);
    EXPECT_EQ(f.yRaw, 7);

    f = xAtY({0, 10}, {3, 1}, 'p', 0, 0);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.xOut, 0);
    EXPECT_EQ(f.yRaw, 3);
    f = xAtY({0, 10}, {3, 1}, 'V', 0, 0);
    EXPECT_EQ(f.xRaw, 10);
    EXPECT_EQ(f.yOut, 1);

    f = xAtY({0, 10}, {0, 20}, 'Y', 0, 5);
    EXPECT_EQ(f.status, 0);
    EXPECT_DOUBLE_EQ(f.xRaw, 2.5);
    EXPECT_DOUBLE_EQ(f.xOut, 2.5);
    EXPECT_DOUBLE_EQ(f.yOut, 5);
    f = xAtY({0, 10}, {0, 20}, 'Y', 0, 30);
    EXPECT_EQ(f.status, 0);
    EXPECT_DOUBLE_EQ(f.xRaw, 15);
    EXPECT_DOUBLE_EQ(f.yRaw, 30);
    EXPECT_DOUBLE_EQ(f.xOut, 10);
    EXPECT_DOUBLE_EQ(f.yOut, 20);
    // A level line never reaches another level; equal x are bad data.
    EXPECT_EQ(xAtY({0, 10}, {4, 4}, 'Y', 0, 5).status, 36);
    EXPECT_EQ(xAtY({3, 3}, {0, 4}, 'P', 0, 5).status, 36);
}

TEST(NumbraXatY, NewtonSearches)
{
    const std::vector<double> x = {0, 1, 2, 3, 4};
    std::vector<double> bowl, cap, square;
    for (double v : x) {
        bowl.push_back((v - 2.3) * (v - 2.3) + 1);
        cap.push_back(5 - (v - 1.7) * (v - 1.7));
        square.push_back(v * v);
    }
    Found f = xAtY(x, bowl, 'v', 0, 0);
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.xRaw, 2.3, 1e-9);
    EXPECT_NEAR(f.yRaw, 1, 1e-9);
    EXPECT_NEAR(f.xOut, 2.3, 1e-9);

    f = xAtY(x, cap, 'P', 0, 0);
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.xOut, 1.7, 1e-9);
    EXPECT_NEAR(f.yOut, 5, 1e-9);

    f = xAtY(x, square, 'Y', 0, 5);
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.xOut, std::sqrt(5.0), 1e-9);
    EXPECT_NEAR(f.yOut, 5, 1e-8);
    // Bit 7: start from the given x.
    f = xAtY(x, square, 'Y' | 0x80, 3.9, 1);
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.xOut, 1, 1e-9);
    // Beyond the data: found by extrapolation, held at the end in xOut / yOut.
    f = xAtY(x, square, 'Y', 0, 25);
    EXPECT_EQ(f.status, 43);
    EXPECT_NEAR(f.xRaw, 5, 1e-9);
    EXPECT_DOUBLE_EQ(f.xOut, 4);
    EXPECT_DOUBLE_EQ(f.yOut, 16);

    // Target 0 converges on the root (a relative test never could).
    const std::vector<double> line = {-1.5, -0.5, 0.5, 1.5};
    f = xAtY({0, 1, 2, 3}, line, 'Y', 0, 0);
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.xOut, 1.5, 1e-9);
    // A straight line has no valley: no division by its zero curvature.
    EXPECT_EQ(xAtY({0, 1, 2, 3}, line, 'V', 0, 0).status, 36);
    // A flat stretch stops the x-at-y search.
    EXPECT_EQ(xAtY({0, 1, 2, 3}, {1, 1, 1, 1}, 'Y', 0, 2).status, 36);
    // The smallest x must be at an end.
    EXPECT_EQ(xAtY({1, 0, 2}, {0, 1, 2}, 'Y', 0, 1).status, 36);
    EXPECT_EQ(xAtY(x, square, 'Y' | 0x80, kNaN, 1).status, 36);
    EXPECT_EQ(xAtY(x, square, 'Y', 0, kNaN).status, 36);
}

// A grid over [x0, x1] x [y0, y1] of nx x ny values of f, in the row layout
// of the library (header row, then rows from the highest y down).
std::vector<double> makeGrid(double x0, double x1, double y0, double y1, int nx, int ny,
                             const std::function<double(double, double)>& f)
{
    const int len = std::max(nx, 6);
    std::vector<double> g(static_cast<size_t>(len) * (ny + 1), 0.0);
    g[0] = x0;
    g[1] = x1;
    g[2] = y0;
    g[3] = y1;
    g[4] = nx;
    g[5] = ny;
    for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
            const double x = x0 + c * (x1 - x0) / (nx - 1);
            const double y = y0 + r * (y1 - y0) / (ny - 1);
            g[static_cast<size_t>(ny - r) * len + c] = f(x, y);
        }
    }
    return g;
}

TEST(NumbraGrid, BilinearCells)
{
    const auto plane = makeGrid(0, 2, 0, 4, 3, 3, [](double x, double y) { return 2 * x + 3 * y + 1; });
    struct Case { double x, y, z; int status; };
    const Case cases[] = {
        {0.5, 1, 5, 0}, {0, 0, 1, 0}, {2, 4, 17, 0}, {1, 2, 9, 0}, {1.5, 3.5, 14.5, 0},
        {3, 1, 10, 43}, {1, -2, -3, 43},
    };
    for (const Case& c : cases) {
        double z = kNaN;
        EXPECT_EQ(nbr_InterpLinMatrix(plane.data(), c.x, c.y, &z), c.status) << c.x << "," << c.y;
        EXPECT_NEAR(z, c.z, 1e-12) << c.x << "," << c.y;
        double viaMode = kNaN;
        EXPECT_EQ(nbr_InterpMatrix(plane.data(), c.x, c.y, &viaMode, 2), c.status);
        EXPECT_DOUBLE_EQ(viaMode, z);
    }
    // Bilinear, not exact, on a curved surface: z = x^2 between 0 and 1 gives 0.5 at 0.5.
    const auto bowl = makeGrid(0, 2, 0, 1, 3, 2, [](double x, double) { return x * x; });
    double z = 0;
    EXPECT_EQ(nbr_InterpLinMatrix(bowl.data(), 0.5, 0.5, &z), 0);
    EXPECT_DOUBLE_EQ(z, 0.5);
}

TEST(NumbraGrid, BlockInterpolation)
{
    auto quad = [](double x, double y) { return x * x - 2 * y * y + x * y; };
    const auto g = makeGrid(-1, 5, 0, 3, 7, 4, quad);
    for (double x : {-0.7, 0.3, 2.2, 3.4, 4.9}) {
        for (double y : {0.2, 1.5, 2.9}) {
            double z = kNaN;
            EXPECT_EQ(nbr_InterpMatrix(g.data(), x, y, &z, 0), 0) << x << "," << y;
            // Parabolas through grid points reproduce a quadratic exactly.
            EXPECT_NEAR(z, quad(x, y), 1e-9) << x << "," << y;
            // Mode 1 is linear in both directions: bilinear within the cell.
            double lin = kNaN, bilinear = kNaN;
            EXPECT_EQ(nbr_InterpMatrix(g.data(), x, y, &lin, 1), 0);
            EXPECT_EQ(nbr_InterpLinMatrix(g.data(), x, y, &bilinear), 0);
            EXPECT_NEAR(lin, bilinear, 1e-9) << x << "," << y;
        }
    }
    double z = 0;
    EXPECT_EQ(nbr_InterpMatrix(g.data(), 6, 1, &z, 0), 43);
    EXPECT_NEAR(z, quad(6, 1), 1e-9);
}

TEST(NumbraGrid, DegenerateHeadersAreBadData)
{
    auto f = [](double x, double y) { return x + y; };
    std::vector<std::vector<double>> bad = {
        makeGrid(0, 1, 0, 1, 1, 3, f),  // one column
        makeGrid(0, 1, 0, 1, 3, 1, f),  // one row
        makeGrid(0, 1, 0, 1, 1, 1, f),
        makeGrid(0, 0, 0, 1, 3, 3, f),  // no x extent
        makeGrid(0, 1, 2, 2, 3, 3, f),  // no y extent
    };
    auto fractional = makeGrid(0, 1, 0, 1, 3, 3, f);
    fractional[4] = 2.5;
    bad.push_back(fractional);
    auto negative = makeGrid(0, 1, 0, 1, 3, 3, f);
    negative[5] = -3;
    bad.push_back(negative);
    auto nan = makeGrid(0, 1, 0, 1, 3, 3, f);
    nan[0] = kNaN;
    bad.push_back(nan);
    for (size_t k = 0; k < bad.size(); ++k) {
        double z = 123;
        EXPECT_EQ(nbr_InterpLinMatrix(bad[k].data(), 0.5, 0.5, &z), 36) << k;
        EXPECT_EQ(nbr_InterpMatrix(bad[k].data(), 0.5, 0.5, &z, 0), 36) << k;
        EXPECT_EQ(z, 123) << k;
    }
    const auto good = makeGrid(0, 1, 0, 1, 3, 3, f);
    double z = 0;
    EXPECT_EQ(nbr_InterpLinMatrix(good.data(), kNaN, 0.5, &z), 36);
    EXPECT_EQ(nbr_InterpMatrix(good.data(), 0.5, kNaN, &z, 0), 36);
    EXPECT_EQ(nbr_InterpLinMatrix(nullptr, 0.5, 0.5, &z), 36);
}

// A family of lines y = x + 2 g, one run per group value.
struct Family {
    std::vector<double> group, x, y;
    void add(double g, std::vector<double> xs)
    {
        for (double v : xs) {
            group.push_back(g);
            x.push_back(v);
            y.push_back(v + 2 * g);
        }
    }
    int at(double g, double x0, double& out, short smooth, short linearX = 0, short linearG = 0) const
    {
        return nbr_Interp3D(group.data(), x.data(), y.data(), static_cast<int>(x.size()), g, x0, &out, smooth,
                            linearX, linearG);
    }
};

TEST(NumbraInterp3D, FamilyOfLines)
{
    Family fam;
    for (int g = 0; g < 6; ++g) fam.add(g, {0, 2, 5, 10});
    for (short smooth : {0, 1}) {
        for (double g : {0.5, 1.5, 2.0, 3.7, 4.2}) {
            double out = kNaN;
            EXPECT_EQ(fam.at(g, 3, out, smooth), 0) << g;
            EXPECT_NEAR(out, 3 + 2 * g, 1e-9) << g << " smooth " << smooth;
        }
        double out = kNaN;
        EXPECT_EQ(fam.at(7, 3, out, smooth), 43);  // beyond the last curve
        EXPECT_NEAR(out, 17, 1e-9);
    }
    // A curve that does not cover x0 is left out of the unsmoothed result.
    Family gap;
    gap.add(0, {0, 10});
    gap.add(1, {0, 1});
    gap.add(2, {0, 10});
    gap.add(3, {0, 10});
    double out = kNaN;
    EXPECT_EQ(gap.at(1.5, 5, out, 0), 0);
    EXPECT_NEAR(out, 8, 1e-9);
    // Falling group values.
    Family falling;
    for (int g = 4; g >= 0; --g) falling.add(g, {0, 10});
    EXPECT_EQ(falling.at(2.5, 1, out, 1), 0);
    EXPECT_NEAR(out, 6, 1e-9);
}

TEST(NumbraInterp3D, BadFamilies)
{
    double out = 0;
    Family many;
    for (int g = 0; g < 257; ++g) many.add(g, {0, 1});
    EXPECT_EQ(many.at(3, 0.5, out, 0), 36);
    Family limit;
    for (int g = 0; g < 256; ++g) limit.add(g, {0, 1});
    EXPECT_EQ(limit.at(3.5, 0.5, out, 0), 0);
    EXPECT_NEAR(out, 7.5, 1e-9);

    Family one;
    one.add(1, {0, 1, 2});
    EXPECT_EQ(one.at(1, 0.5, out, 0), 36);  // first and last group equal
    Family twisted;
    twisted.add(0, {0, 1});
    twisted.add(2, {0, 1});
    twisted.add(1, {0, 1});
    twisted.add(3, {0, 1});
    EXPECT_EQ(twisted.at(1.5, 0.5, out, 1), 36);
    Family lone;
    lone.add(0, {0, 1});
    lone.add(1, {0});
    lone.add(2, {0, 1});
    EXPECT_EQ(lone.at(1, 0.5, out, 1), 36);  // a run of one point is no curve
    Family fam;
    for (int g = 0; g < 4; ++g) fam.add(g, {0, 1});
    EXPECT_EQ(fam.at(1, 0.5, out, 0) , 0);
    EXPECT_EQ(nbr_Interp3D(fam.group.data(), fam.x.data(), fam.y.data(), 2, 1, 0.5, &out, 0, 0, 0), 36);
    EXPECT_EQ(fam.at(kNaN, 0.5, out, 0), 36);
    EXPECT_EQ(fam.at(1, kNaN, out, 1), 36);
}

} // namespace
