// The three-point root finder against poses whose depths are known.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/p3p.h"

namespace {

using V3 = std::array<double, 3>;

double Dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const V3& a) { return std::sqrt(Dot(a, a)); }
V3 Sub(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

struct Scene {
    P3PProblem problem;
    std::array<double, 3> truth;
};

Scene Make(const std::array<V3, 3>& points)
{
    std::array<V3, 3> rays;
    for (int i = 0; i < 3; ++i) {
        const double n = Norm(points[i]);
        rays[i] = {points[i][0] / n, points[i][1] / n, points[i][2] / n};
    }
    auto d2 = [&](int i, int j) { const V3 d = Sub(points[i], points[j]); return Dot(d, d); };
    return {{Dot(rays[0], rays[1]), Dot(rays[0], rays[2]), Dot(rays[1], rays[2]), d2(0, 1), d2(0, 2), d2(1, 2)},
            {Norm(points[0]), Norm(points[1]), Norm(points[2])}};
}

// The root nearest the truth, relative to its size.
double Miss(const Scene& s, std::span<const P3PRoot> roots)
{
    double best = INFINITY;
    for (const P3PRoot& r : roots) {
        double e = 0;
        for (int i = 0; i < 3; ++i) e = std::max(e, std::fabs(r.s[i] - s.truth[i]) / s.truth[i]);
        best = std::min(best, e);
    }
    return best;
}

} // namespace

TEST(P3P, FindsTheTrueDepthsAmongAllRoots)
{
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> spread(-120.0, 120.0), depth(400.0, 1200.0);
    int histogram[kMaxP3PRoots + 1] = {};
    for (int trial = 0; trial < 20000; ++trial) {
        std::array<V3, 3> pts;
        const V3 centre{spread(random), spread(random), depth(random)};
        for (auto& p : pts) p = {centre[0] + spread(random), centre[1] + spread(random), centre[2] + spread(random)};
        const Scene s = Make(pts);
        std::array<P3PRoot, kMaxP3PRoots> roots{};
        const int n = SolveP3P(s.problem, roots);
        ASSERT_GE(n, 1) << trial;
        ++histogram[n];
        EXPECT_LT(Miss(s, std::span<const P3PRoot>(roots.data(), n)), 1e-9) << trial;
        for (int k = 0; k < n; ++k) {
            const auto& r = roots[k].s;
            const double f01 = r[0] * r[0] + r[1] * r[1] - 2 * r[0] * r[1] * s.problem.c01 - s.problem.d01;
            const double f12 = r[1] * r[1] + r[2] * r[2] - 2 * r[1] * r[2] * s.problem.c12 - s.problem.d12;
            EXPECT_LT(std::fabs(f01), 1e-6 * s.problem.d01);
            EXPECT_LT(std::fabs(f12), 1e-6 * s.problem.d12);
        }
    }
    // Several roots are common: the tracker has to choose.
    EXPECT_GT(histogram[2] + histogram[3] + histogram[4], 1000);
}

TEST(P3P, EquilateralPointsFacingTheLensAndNearlyInLine)
{
    // Facing the lens square on, and seen almost edge on.
    for (const double tilt : {0.0, 1.2, 1.5, 1.56}) {
        std::array<V3, 3> pts;
        for (int i = 0; i < 3; ++i) {
            const double a = 2.0943951023931953 * i;
            pts[i] = {60 * std::cos(a), 60 * std::sin(a) * std::cos(tilt), 700 + 60 * std::sin(a) * std::sin(tilt)};
        }
        const Scene s = Make(pts);
        std::array<P3PRoot, kMaxP3PRoots> roots{};
        const int n = SolveP3P(s.problem, roots);
        ASSERT_GE(n, 1) << tilt;
        EXPECT_LT(Miss(s, std::span<const P3PRoot>(roots.data(), n)), 1e-9) << tilt;
    }
}

TEST(P3P, NoRootsForDistancesNoPointsCanHave)
{
    // Distances that break the triangle inequality, and a zero distance.
    const P3PProblem broken{0.99, 0.99, 0.99, 10.0 * 10.0, 10.0 * 10.0, 50.0 * 50.0};
    std::array<P3PRoot, kMaxP3PRoots> roots{};
    EXPECT_EQ(SolveP3P(broken, roots), 0);
    const P3PProblem zero{0.9, 0.9, 0.9, 0.0, 100.0, 100.0};
    EXPECT_EQ(SolveP3P(zero, roots), 0);
}

TEST(PolynomialRoots, TableOfQuartics)
{
    struct Case {
        std::array<double, 5> c; // lowest first
        std::vector<double> roots;
    } cases[] = {
        {{24, -50, 35, -10, 1}, {1, 2, 3, 4}},        // (x-1)(x-2)(x-3)(x-4)
        {{4, -4, 1, 0, 0}, {2}},                      // double root (x-2)^2
        {{1, 0, 1, 0, 0}, {}},                        // x^2 + 1
        {{-6, 11, -6, 1, 0}, {1, 2, 3}},              // cubic
        {{-2, 1, 0, 0, 0}, {2}},                      // linear
        {{1e-20, -3, 1, 0, 1e-30}, {}},               // roots at 0 and 3 lie outside (0.5, 2.5)
    };
    for (const Case& c : cases) {
        std::array<double, 4> roots{};
        const double low = (&c == &cases[5]) ? 0.5 : -10.0, high = (&c == &cases[5]) ? 2.5 : 10.0;
        const int n = RealPolynomialRoots(c.c, low, high, roots);
        ASSERT_EQ(n, int(c.roots.size()));
        for (int i = 0; i < n; ++i) EXPECT_NEAR(roots[i], c.roots[i], 1e-7);
    }
}
