// Linear solving, least-squares fits and the physical constants of a site.
#include "mathlib/numbra.h"

#include "common.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

namespace numbra {
namespace {

constexpr double kSingularDeterminant = 1e-10;
constexpr int kOutOfMemory = -1;
// Degrees beyond this cannot have their work memory: the normal matrix alone
// would need degree^2 doubles.
constexpr int kMaxDegree = 1 << 14;

// Gauss-Jordan elimination with full pivoting. Returns 0, NBR_SINGULAR when
// a pivot was zero, or kOutOfMemory.
int gaussJordan(const double* a, const double* b, int n, double* x, double* work, double& det)
{
    const std::size_t un = static_cast<std::size_t>(n);
    std::vector<int> used, rowOf, colOf;
    try {
        used.assign(un, 0);
        rowOf.assign(un, 0);
        colOf.assign(un, 0);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    std::copy(a, a + un * un, work);
    std::copy(b, b + un, x);
    auto at = [work, un](std::size_t r, std::size_t c) -> double& { return work[r * un + c]; };
    det = 1.0;
    bool zeroPivot = false;
    for (std::size_t step = 0; step < un; ++step) {
        // Largest magnitude among the rows and columns not yet pivoted; the
        // first unused pair when everything left is zero or NaN.
        std::size_t prow = un, pcol = un;
        double big = 0.0;
        for (std::size_t r = 0; r < un; ++r) {
            if (used[r]) continue;
            for (std::size_t c = 0; c < un; ++c) {
                if (used[c]) continue;
                const double m = std::fabs(at(r, c));
                if (prow == un || m > big) {
                    big = m;
                    prow = r;
                    pcol = c;
                }
            }
        }
        used[pcol] = 1;
        if (prow != pcol) {
            for (std::size_t c = 0; c < un; ++c) std::swap(at(prow, c), at(pcol, c));
            std::swap(x[prow], x[pcol]);
            det = -det;
        }
        rowOf[step] = static_cast<int>(prow);
        colOf[step] = static_cast<int>(pcol);
        const double pivot = at(pcol, pcol);
        if (pivot == 0.0) zeroPivot = true;
        det *= pivot;
        at(pcol, pcol) = 1.0;
        for (std::size_t c = 0; c < un; ++c) at(pcol, c) /= pivot;
        x[pcol] /= pivot;
        for (std::size_t r = 0; r < un; ++r) {
            if (r == pcol) continue;
            const double f = at(r, pcol);
            at(r, pcol) = 0.0;
            for (std::size_t c = 0; c < un; ++c) at(r, c) -= at(pcol, c) * f;
            x[r] -= x[pcol] * f;
        }
    }
    for (std::size_t step = un; step-- > 0;) {
        const auto r = static_cast<std::size_t>(rowOf[step]);
        const auto c = static_cast<std::size_t>(colOf[step]);
        if (r == c) continue;
        for (std::size_t k = 0; k < un; ++k) std::swap(at(k, r), at(k, c));
    }
    return zeroPivot ? NBR_SINGULAR : NBR_OK;
}

struct Outputs {
    double* coefficients;
    double* fitted;
    double* residuals;
    double* sigma;
    double* coefficientSigmas;
    double* stats;
};

// Multiple regression of y on p - 1 regressors (row stride p - 1) plus a
// constant. Every output but the coefficients may be null.
int regression(const double* X, const double* y, int p, int n, const Outputs& out)
{
    if (y == nullptr || out.coefficients == nullptr || p <= 0 || n <= 0 || (p > 1 && X == nullptr))
        return NBR_BAD_DATA;
    const std::size_t up = static_cast<std::size_t>(p);
    const std::size_t un = static_cast<std::size_t>(n);
    std::vector<double> normal, rhs, inverse, fitted;
    try {
        normal.assign(up * up, 0.0);
        rhs.assign(up, 0.0);
        inverse.assign(up * up, 0.0);
        fitted.assign(un, 0.0);
    } catch (const std::bad_alloc&) {
        return NBR_REGRESSION_MEMORY;
    }
    auto regressor = [X, up](std::size_t i, std::size_t k) { return k == 0 ? 1.0 : X[i * (up - 1) + k - 1]; };

    int status = NBR_OK;
    double det = 0.0;
    double* coef = out.coefficients;
    if (p == 1) {
        coef[0] = static_cast<double>(nbr_AverageLD(y, static_cast<unsigned>(n)));
        inverse[0] = 1.0 / static_cast<double>(n);
        det = static_cast<double>(n);
    } else {
        for (std::size_t i = 0; i < un; ++i) {
            for (std::size_t a = 0; a < up; ++a) {
                const double ra = regressor(i, a);
                rhs[a] += ra * y[i];
                for (std::size_t b = 0; b < up; ++b) normal[a * up + b] += ra * regressor(i, b);
            }
        }
        const int gj = gaussJordan(normal.data(), rhs.data(), p, coef, inverse.data(), det);
        if (gj == kOutOfMemory) return NBR_REGRESSION_MEMORY;
        if (gj != NBR_OK || !(std::fabs(det) >= kSingularDeterminant)) status = NBR_SINGULAR;
    }
    // Fewer observations than coefficients: the fit is not determined.
    if (n < p) status = NBR_SINGULAR;

    double sse = 0.0;
    double mean = 0.0;
    for (std::size_t i = 0; i < un; ++i) {
        double f = 0.0;
        for (std::size_t k = 0; k < up; ++k) f += coef[k] * regressor(i, k);
        fitted[i] = f;
        const double r = f - y[i];
        sse += r * r;
        mean += y[i];
        if (out.fitted) out.fitted[i] = f;
        if (out.residuals) out.residuals[i] = r;
    }
    mean /= static_cast<double>(n);
    // Divisor of the residual sigma; never zero or negative.
    const double dof = n > p ? static_cast<double>(n - p) : 1.0;
    const double s = std::sqrt(sse / dof);
    if (out.sigma) *out.sigma = s;
    if (out.coefficientSigmas) {
        for (std::size_t k = 0; k < up; ++k) out.coefficientSigmas[k] = std::sqrt(std::fabs(inverse[k * up + k])) * s;
    }
    // Total sum of squares about the mean (the same quantity as sum y^2 -
    // (sum y)^2 / n, without its cancellation).
    double sst = 0.0;
    for (std::size_t i = 0; i < un; ++i) sst += (y[i] - mean) * (y[i] - mean);
    // A constant y leaves no variation to explain: the fit explains all or nothing.
    const double r2 = sst > 0.0 ? 1.0 - sse / sst : (sse == 0.0 ? 1.0 : 0.0);
    if (out.stats) {
        out.stats[NBR_STAT_R2] = r2;
        out.stats[NBR_STAT_R] = std::sqrt(std::max(r2, 0.0));
        out.stats[NBR_STAT_SSE] = sse;
        out.stats[NBR_STAT_SST] = sst;
        out.stats[NBR_STAT_DOF] = dof;
        out.stats[NBR_STAT_DET] = det;
    }
    return status;
}

int polynomialFit(const double* x, const double* y, int n, int degree, const Outputs& out, int memoryStatus)
{
    if (x == nullptr || y == nullptr || n <= 0 || degree < 0) return NBR_BAD_DATA;
    if (degree > kMaxDegree) return memoryStatus;
    const std::size_t ud = static_cast<std::size_t>(degree);
    std::vector<double> powers;
    try {
        powers.assign(static_cast<std::size_t>(n) * ud, 0.0);
    } catch (const std::bad_alloc&) {
        return memoryStatus;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        double v = 1.0;
        for (std::size_t k = 0; k < ud; ++k) {
            v *= x[i];
            powers[i * ud + k] = v;
        }
    }
    return regression(degree > 0 ? powers.data() : nullptr, y, degree + 1, n, out);
}

bool outsideRange(const double* x, int n, double x0)
{
    const double lo = *std::min_element(x, x + n);
    const double hi = *std::max_element(x, x + n);
    return x0 < lo || x0 > hi;
}

} // namespace
} // namespace numbra

using namespace numbra;

extern "C" {

int nbr_GaussJordan(const double* A, const double* b, int n, double* x, double* work, double* det)
{
    if (det == nullptr || n < 0 || (n > 0 && (A == nullptr || b == nullptr || x == nullptr || work == nullptr)))
        return NBR_BAD_DATA;
    const int s = gaussJordan(A, b, n, x, work, *det);
    return s == kOutOfMemory ? NBR_BAD_DATA : s;
}

int nbr_CalculateMultipleRegessionCoefficients(const double* X, const double* y, int p, int n,
                                               double* coefficients, double* fitted, double* residuals,
                                               double* sigma, double* coefficientSigmas, double* stats,
                                               int* status)
{
    const int s = regression(X, y, p, n, Outputs{coefficients, fitted, residuals, sigma, coefficientSigmas, stats});
    if (status) *status = s;
    return s;
}

int nbr_PolynomialCurveFit(const double* x, const double* y, int n, int degree, double* coefficients,
                           double* fitted, double* residuals, double* sigma, double* coefficientSigmas,
                           double* r2, double* stats, int* status)
{
    double local[NBR_STAT_COUNT] = {};
    double* st = stats ? stats : local;
    const int s = polynomialFit(x, y, n, degree,
                                Outputs{coefficients, fitted, residuals, sigma, coefficientSigmas, st},
                                NBR_POLYFIT_MEMORY);
    if (r2 && (s == NBR_OK || s == NBR_SINGULAR)) *r2 = st[NBR_STAT_R2];
    if (status) *status = s;
    return s;
}

int nbr_PFit(const double* x, const double* y, int n, double x0, int degree, double* y0)
{
    if (n <= 0) return NBR_NO_POINTS;
    if (x == nullptr || y == nullptr || y0 == nullptr || std::isnan(x0)) return NBR_BAD_DATA;
    int status = NBR_OK;
    if (n == 1) {
        *y0 = y[0];
    } else if (degree <= 0) {
        *y0 = nbr_AverageD(y, static_cast<unsigned>(n));
    } else {
        std::vector<double> coef;
        if (degree > kMaxDegree) return NBR_PFIT_MEMORY;
        try {
            coef.assign(static_cast<std::size_t>(degree) + 1, 0.0);
        } catch (const std::bad_alloc&) {
            return NBR_PFIT_MEMORY;
        }
        status = polynomialFit(x, y, n, degree, Outputs{coef.data(), nullptr, nullptr, nullptr, nullptr, nullptr},
                               NBR_PFIT_MEMORY);
        if (status != NBR_OK && status != NBR_SINGULAR) return status;
        double v = 0.0;
        for (std::size_t k = coef.size(); k-- > 0;) v = v * x0 + coef[k];
        *y0 = v;
    }
    if (outsideRange(x, n, x0)) status += NBR_OUTSIDE;
    return status;
}

int nbr_PFitData(const double* x, const double* y, int n, int degree, double* table)
{
    // Checked before anything is written: the table stays untouched.
    if (degree < 0) return NBR_PFIT_MEMORY;
    if (x == nullptr || y == nullptr || table == nullptr || n <= 0) return NBR_BAD_DATA;
    if (degree > kMaxDegree) return NBR_PFITDATA_MEMORY;
    const std::size_t p = static_cast<std::size_t>(degree) + 1;
    const std::size_t rows = std::max<std::size_t>(p, 2);
    std::vector<double> coef, sig, fitted, resid;
    double stats[NBR_STAT_COUNT] = {};
    double s = 0.0;
    try {
        coef.assign(p, 0.0);
        sig.assign(p, 0.0);
        fitted.assign(static_cast<std::size_t>(n), 0.0);
        resid.assign(static_cast<std::size_t>(n), 0.0);
    } catch (const std::bad_alloc&) {
        return NBR_PFITDATA_MEMORY;
    }
    std::fill(table, table + rows * 5, 0.0);
    int status = polynomialFit(x, y, n, degree,
                               Outputs{coef.data(), fitted.data(), resid.data(), &s, sig.data(), stats},
                               NBR_PFITDATA_MEMORY);
    if (status != NBR_OK && status != NBR_SINGULAR) return status;
    const double mean = nbr_AverageD(y, static_cast<unsigned>(n));
    double ssr = 0.0;
    for (double f : fitted) ssr += (mean - f) * (mean - f);
    const double sse = stats[NBR_STAT_SSE];
    for (std::size_t k = 0; k < p; ++k) {
        table[k * 5 + 0] = coef[k];
        table[k * 5 + 1] = sig[k];
    }
    const int dfe = n - degree - 1;
    table[0 * 5 + 2] = stats[NBR_STAT_R2];
    table[1 * 5 + 2] = s;
    table[1 * 5 + 3] = dfe;
    table[0 * 5 + 4] = ssr;
    table[1 * 5 + 4] = sse;
    // F needs a regression with at least one term, residual degrees of
    // freedom and a residual: otherwise it is written as 0 and said so.
    if (degree > 0 && dfe > 0 && sse > 0.0) {
        table[0 * 5 + 3] = (ssr / degree) / (sse / dfe);
    } else if (status == NBR_OK) {
        status = NBR_BAD_DATA;
    }
    return status;
}

int nbr_CalculateConstants(double altitude, double latitude, double temperature, short formula, double* gravity,
                           double* density, double* specificWeight, double* vapour, double* atmosphericHead,
                           double* viscosity)
{
    // The viscosity formula has its pole at -107.41 degrees.
    if (!isFinite(altitude) || !isFinite(latitude) || !isFinite(temperature) || temperature <= -107.41)
        return NBR_BAD_DATA;
    const double t = temperature;
    // The gravity formula takes the cosine of twice the latitude in radians.
    const double c = std::cos(2.0 * latitude * std::numbers::pi / 180.0);
    const double g = formula != 0 ? 9.80616 * (1.0 - 0.0026373 * c) + 5.9e-6 * c * c - 3.086e-6 * altitude
                                  : 9.80617 * (1.0 - 0.00264 * c) + 7.1e-6 * c * c - 3.086e-6 * altitude;
    const double rho = 1000.0 * (0.99991 + 4.9762e-5 * t - 7.4329e-6 * t * t + 3.6364e-8 * t * t * t);
    const double w = rho * g;
    const double pv = 0.06136 + 0.005098 * t + 7.3116e-5 * t * t + 5.664e-6 * t * t * t;
    const double head = 101325.0 * std::exp(-altitude * 0.00011855364552459988) / w;
    const double nu = std::exp(396.13 / (t + 107.41) - 16.921);
    if (gravity) *gravity = g;
    if (density) *density = rho;
    if (specificWeight) *specificWeight = w;
    if (vapour) *vapour = pv;
    if (atmosphericHead) *atmosphericHead = head;
    if (viscosity) *viscosity = nu;
    return NBR_OK;
}

} // extern "C"
