// Linear solving and least-squares fits against hand-worked systems and fits.
#include "mathlib/numbra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(NumbraGaussJordan, InverseSolutionAndDeterminant)
{
    // Inverse and determinant worked by cofactors.
    const double a[] = {2, 1, 1, 1, 3, 2, 1, 0, 0};
    const double inverse[] = {0, 0, 1, -2, 1, 3, 3, -1, -5};
    const double b[] = {4, 6, 1};
    double x[3], work[9], det = 0;
    ASSERT_EQ(nbr_GaussJordan(a, b, 3, x, work, &det), 0);
    EXPECT_NEAR(det, -1, 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(x[k], 1, 1e-12);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(work[k], inverse[k], 1e-12) << k;

    // Zeros on the diagonal: the pivots come from elsewhere, the sign flips.
    const double swap[] = {0, 1, 1, 0};
    const double sb[] = {2, 3};
    double sx[2], sw[4];
    ASSERT_EQ(nbr_GaussJordan(swap, sb, 2, sx, sw, &det), 0);
    EXPECT_DOUBLE_EQ(det, -1);
    EXPECT_DOUBLE_EQ(sx[0], 3);
    EXPECT_DOUBLE_EQ(sx[1], 2);
    EXPECT_DOUBLE_EQ(sw[0], 0);
    EXPECT_DOUBLE_EQ(sw[1], 1);
    EXPECT_DOUBLE_EQ(sw[2], 1);
    EXPECT_DOUBLE_EQ(sw[3], 0);

    // Pivoting needed in both rows and columns; check A x = b and A A^-1 = I.
    const double m[] = {1e-3, 4, 1, 2, 1e-3, 7, 5, 3, 1e-3};
    const double mb[] = {1, 2, 3};
    double mx[3], mw[9];
    ASSERT_EQ(nbr_GaussJordan(m, mb, 3, mx, mw, &det), 0);
    for (int r = 0; r < 3; ++r) {
        double s = 0;
        for (int c = 0; c < 3; ++c) s += m[r * 3 + c] * mx[c];
        EXPECT_NEAR(s, mb[r], 1e-12);
        for (int c = 0; c < 3; ++c) {
            double e = 0;
            for (int k = 0; k < 3; ++k) e += m[r * 3 + k] * mw[k * 3 + c];
            EXPECT_NEAR(e, r == c ? 1 : 0, 1e-12) << r << "," << c;
        }
    }
    // det by the rule of Sarrus.
    const double sarrus = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                          m[2] * (m[3] * m[7] - m[4] * m[6]);
    EXPECT_NEAR(det, sarrus, 1e-9);

    EXPECT_EQ(nbr_GaussJordan(nullptr, nullptr, 0, nullptr, nullptr, &det), 0);
    EXPECT_EQ(det, 1);
    const double singular[] = {1, 2, 2, 4};
    EXPECT_EQ(nbr_GaussJordan(singular, sb, 2, sx, sw, &det), 102);
    EXPECT_EQ(nbr_GaussJordan(a, b, -1, x, work, &det), 36);
}

TEST(NumbraRegression, TwoRegressorsAndTheMean)
{
    // y = 1 + 2a - b exactly.
    const double X[] = {0, 0, 1, 0, 0, 1, 2, 3, 4, 1};
    const double y[] = {1, 3, 0, 2, 8};
    double coef[3], fitted[5], resid[5], sigma = -1, csig[3], stats[NBR_STAT_COUNT];
    int status = -1;
    EXPECT_EQ(nbr_CalculateMultipleRegessionCoefficients(X, y, 3, 5, coef, fitted, resid, &sigma, csig, stats,
                                                          &status),
              0);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(coef[0], 1, 1e-12);
    EXPECT_NEAR(coef[1], 2, 1e-12);
    EXPECT_NEAR(coef[2], -1, 1e-12);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(fitted[i], y[i], 1e-12);
        EXPECT_NEAR(resid[i], 0, 1e-12);
    }
    EXPECT_NEAR(sigma, 0, 1e-9);
    EXPECT_NEAR(stats[NBR_STAT_R2], 1, 1e-12);
    EXPECT_EQ(stats[NBR_STAT_DOF], 2);

    // p = 1 fits the mean.
    EXPECT_EQ(nbr_CalculateMultipleRegessionCoefficients(nullptr, y, 1, 5, coef, nullptr, nullptr, &sigma, nullptr,
                                                          nullptr, nullptr),
              0);
    EXPECT_DOUBLE_EQ(coef[0], 14.0 / 5);
    EXPECT_EQ(nbr_CalculateMultipleRegessionCoefficients(X, y, 3, 0, coef, nullptr, nullptr, nullptr, nullptr,
                                                          nullptr, &status),
              36);
    EXPECT_EQ(status, 36);
}

TEST(NumbraPolynomialFit, StatisticsOfAStraightLine)
{
    // Worked by hand: slope 1.1, intercept 1.1, SSE 2.7, SST 8.75, SSR 6.05,
    // inverse normal matrix diagonal 0.7 and 0.2.
    const double x[] = {0, 1, 2, 3};
    const double y[] = {1, 3, 2, 5};
    double coef[2], fitted[4], resid[4], sigma = 0, csig[2], r2 = 0, stats[NBR_STAT_COUNT];
    int status = -1;
    ASSERT_EQ(nbr_PolynomialCurveFit(x, y, 4, 1, coef, fitted, resid, &sigma, csig, &r2, stats, &status), 0);
    const double s = std::sqrt(2.7 / 2);
    EXPECT_NEAR(coef[0], 1.1, 1e-12);
    EXPECT_NEAR(coef[1], 1.1, 1e-12);
    const double expectedResid[] = {0.1, -0.8, 1.3, -0.6};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(resid[i], expectedResid[i], 1e-12);
    EXPECT_NEAR(sigma, s, 1e-12);
    EXPECT_NEAR(csig[0], std::sqrt(0.7) * s, 1e-12);
    EXPECT_NEAR(csig[1], std::sqrt(0.2) * s, 1e-12);
    EXPECT_NEAR(r2, 1 - 2.7 / 8.75, 1e-12);
    EXPECT_NEAR(stats[NBR_STAT_R], std::sqrt(1 - 2.7 / 8.75), 1e-12);
    EXPECT_NEAR(stats[NBR_STAT_SSE], 2.7, 1e-12);
    EXPECT_NEAR(stats[NBR_STAT_SST], 8.75, 1e-12);
    EXPECT_NEAR(stats[NBR_STAT_DET], 20, 1e-9);

    double table[10];
    ASSERT_EQ(nbr_PFitData(x, y, 4, 1, table), 0);
    const double expected[10] = {1.1, std::sqrt(0.7) * s, 1 - 2.7 / 8.75, 6.05 / (2.7 / 2), 6.05,
                                 1.1, std::sqrt(0.2) * s, s, 2, 2.7};
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(table[k], expected[k], 1e-9) << k;
}

TEST(NumbraPolynomialFit, EdgeCasesOfTheStatistics)
{
    // Exactly p points: residual 0 and divisor 1.
    const double x3[] = {0, 1, 2};
    const double y3[] = {1, 2, 9};  // 3x^2 - 2x + 1
    double coef[3], sigma = -1, stats[NBR_STAT_COUNT];
    int status = -1;
    ASSERT_EQ(nbr_PolynomialCurveFit(x3, y3, 3, 2, coef, nullptr, nullptr, &sigma, nullptr, nullptr, stats, &status),
              0);
    EXPECT_NEAR(coef[0], 1, 1e-9);
    EXPECT_NEAR(coef[1], -2, 1e-9);
    EXPECT_NEAR(coef[2], 3, 1e-9);
    EXPECT_NEAR(sigma, 0, 1e-6);
    EXPECT_EQ(stats[NBR_STAT_DOF], 1);

    // Fewer points than coefficients: not determined, and the divisor is not negative.
    double c4[4], csig[4];
    EXPECT_EQ(nbr_PolynomialCurveFit(x3, y3, 2, 3, c4, nullptr, nullptr, &sigma, csig, nullptr, stats, &status), 102);
    EXPECT_EQ(status, 102);
    EXPECT_EQ(stats[NBR_STAT_DOF], 1);
    // One point short with coefficients that can still be found: the sigma is finite.
    const double xl[] = {0, 1};
    const double yl[] = {1, 3};
    double cl[2];
    EXPECT_EQ(nbr_PolynomialCurveFit(xl, yl, 1, 1, cl, nullptr, nullptr, &sigma, nullptr, nullptr, stats, &status),
              102);
    EXPECT_EQ(stats[NBR_STAT_DOF], 1);

    // A constant y: R^2 is 1 for a perfect fit, not 0/0.
    const double flat[] = {2, 2, 2, 2};
    const double x4[] = {0, 1, 2, 3};
    double r2 = kNaN, c2[2];
    ASSERT_EQ(nbr_PolynomialCurveFit(x4, flat, 4, 1, c2, nullptr, nullptr, &sigma, nullptr, &r2, stats, &status), 0);
    EXPECT_EQ(r2, 1);
    EXPECT_EQ(stats[NBR_STAT_R], 1);

    EXPECT_EQ(nbr_PolynomialCurveFit(x4, flat, 4, -1, c2, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     &status),
              36);

    // The F statistic needs residual degrees of freedom and a regression term.
    double table[15];
    EXPECT_EQ(nbr_PFitData(x3, y3, 3, 2, table), 36);  // exact fit: n - degree - 1 = 0
    EXPECT_EQ(table[3], 0);
    EXPECT_EQ(table[5 + 3], 0);
    EXPECT_NEAR(table[2 * 5 + 0], 3, 1e-9);  // the rest of the table is filled
    const double y4[] = {1, 3, 2, 5};
    EXPECT_EQ(nbr_PFitData(x4, y4, 4, 0, table), 36);  // degree 0: no regression term
    EXPECT_NEAR(table[0], 2.75, 1e-12);
    EXPECT_EQ(table[3], 0);
    EXPECT_EQ(table[5 + 3], 3);
    EXPECT_NEAR(table[5 + 4], 8.75, 1e-12);
    // Fewer points than coefficients: singular, negative degrees of freedom written as they are.
    EXPECT_EQ(nbr_PFitData(x3, y3, 2, 2, table), 102);
    EXPECT_EQ(table[5 + 3], -1);

    // A negative degree leaves the table untouched.
    double untouched[10];
    for (double& v : untouched) v = 77;
    EXPECT_EQ(nbr_PFitData(x4, y4, 4, -1, untouched), 104);
    for (double v : untouched) EXPECT_EQ(v, 77);
}

TEST(NumbraPFit, TableOfCases)
{
    const std::vector<double> x = {0, 1, 2, 3};
    const std::vector<double> y = {1, 2, 9, 22};  // 3x^2 - 2x + 1
    struct Case { int n; double x0; int degree; double y0; int status; };
    const Case cases[] = {
        {4, 1.5, 0, 8.5, 0},          // degree 0: the mean
        {1, 3.0, 2, 1, 43},           // one point: its y (x0 lies beyond it)
        {4, 1.5, 2, 4.75, 0},         // the quadratic itself
        {4, 4.0, 2, 41, 43},          // outside the data
        {4, -1, -3, 8.5, 43},
    };
    for (const Case& c : cases) {
        double y0 = kNaN;
        EXPECT_EQ(nbr_PFit(x.data(), y.data(), c.n, c.x0, c.degree, &y0), c.status) << c.x0;
        EXPECT_NEAR(y0, c.y0, 1e-9) << c.x0;
    }
    double y0 = 0;
    EXPECT_EQ(nbr_PFit(x.data(), y.data(), 0, 1, 2, &y0), 1);
    EXPECT_EQ(nbr_PFit(x.data(), y.data(), -2, 1, 2, &y0), 1);
    EXPECT_EQ(nbr_PFit(x.data(), y.data(), 4, kNaN, 2, &y0), 36);
    // All x equal: singular, and outside as well.
    const double same[] = {1, 1, 1};
    EXPECT_EQ(nbr_PFit(same, y.data(), 3, 2.0, 1, &y0), 145);
}

TEST(NumbraConstants, WaterAndAirAtASite)
{
    double g = 0, rho = 0, w = 0, pv = 0, head = 0, nu = 0;
    ASSERT_EQ(nbr_CalculateConstants(0, 45, 20, 1, &g, &rho, &w, &pv, &head, &nu), 0);
    EXPECT_NEAR(g, 9.80616, 1e-9);  // cos(90 degrees) = 0
    EXPECT_NEAR(rho, 998.222992, 1e-6);
    EXPECT_NEAR(w, 998.222992 * 9.80616, 1e-5);
    EXPECT_NEAR(pv, 0.2378784, 1e-7);
    EXPECT_NEAR(head, 101325 / (998.222992 * 9.80616), 1e-6);
    EXPECT_NEAR(nu, 1.004e-6, 0.001e-6);

    ASSERT_EQ(nbr_CalculateConstants(0, 0, 20, 1, &g, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(g, 9.780304114, 1e-8);  // the equator
    ASSERT_EQ(nbr_CalculateConstants(0, 90, 20, 1, &g, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(g, 9.832027686, 1e-8);  // the poles
    ASSERT_EQ(nbr_CalculateConstants(1000, 45, 20, 1, &g, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(g, 9.803074, 1e-9);
    ASSERT_EQ(nbr_CalculateConstants(0, 45, 20, 0, &g, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(g, 9.80617, 1e-9);

    EXPECT_EQ(nbr_CalculateConstants(0, 45, -200, 1, &g, &rho, &w, &pv, &head, &nu), 36);
    EXPECT_EQ(nbr_CalculateConstants(kNaN, 45, 20, 1, &g, &rho, &w, &pv, &head, &nu), 36);
}

} // namespace
