// libFuzzer target over the interpolation and fitting exports. Every array is
// allocated with exactly the count passed, so any read or write beyond it is
// an AddressSanitizer finding; a status outside the documented set traps.
#include "mathlib/numbra.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

double anyDouble(FuzzedDataProvider& in)
{
    // Raw bit patterns reach NaNs, infinities and subnormals; small integers
    // make well-formed curves likely enough to reach the deep paths.
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeFloatingPoint<double>();
    case 1: return static_cast<double>(in.ConsumeIntegralInRange<int>(-20, 20));
    case 2: return in.ConsumeFloatingPointInRange<double>(-10.0, 10.0);
    default: {
        std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
        double d;
        static_assert(sizeof d == sizeof bits);
        __builtin_memcpy(&d, &bits, sizeof d);
        return d;
    }
    }
}

std::vector<double> array(FuzzedDataProvider& in, std::size_t n, bool rising = false)
{
    std::vector<double> v(n);
    double at = 0.0;
    for (double& d : v) {
        if (rising && in.ConsumeBool()) {
            at += in.ConsumeFloatingPointInRange<double>(-0.5, 4.0);
            d = at;
        } else {
            d = anyDouble(in);
        }
    }
    return v;
}

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

bool interpStatus(int s) { return s == NBR_OK || s == NBR_BAD_DATA || s == NBR_OUTSIDE; }

// The count passed: the real size, or a short, zero or negative count over a
// larger array (what a careless caller might do).
int count(FuzzedDataProvider& in, std::size_t size)
{
    const int n = static_cast<int>(size);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return -n;
    case 1: return n > 0 ? in.ConsumeIntegralInRange<int>(0, n - 1) : 0;
    default: return n;
    }
}

std::vector<double> grid(FuzzedDataProvider& in)
{
    const int nx = in.ConsumeIntegralInRange<int>(1, 9);
    const int ny = in.ConsumeIntegralInRange<int>(1, 9);
    const std::size_t len = static_cast<std::size_t>(std::max(nx, 6));
    std::vector<double> g(len * static_cast<std::size_t>(ny + 1));
    for (double& d : g) d = anyDouble(in);
    // Header counts: the true ones, or values that no grid may claim.
    const double odd[] = {NAN, -1.0, 0.0, 1.0, 1.5, INFINITY};
    g[4] = in.ConsumeBool() ? nx : odd[in.ConsumeIntegralInRange<int>(0, 5)];
    g[5] = in.ConsumeBool() ? ny : odd[in.ConsumeIntegralInRange<int>(0, 5)];
    if (in.ConsumeBool()) {
        g[0] = 0;
        g[1] = nx - 1;
        g[2] = 0;
        g[3] = ny - 1;
    }
    return g;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange<int>(0, 11);
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    const bool rising = in.ConsumeBool();
    std::vector<double> x = array(in, n, rising);
    std::vector<double> y = array(in, n);
    const double q = anyDouble(in);
    const int m = count(in, n);
    double out = 0, out2 = 0, out3 = 0, out4 = 0;

    switch (which) {
    case 0: {
        const short linear = in.ConsumeBool();
        const short blend = in.ConsumeBool();
        check(interpStatus(nbr_Interpolate(x.data(), y.data(), m, q, &out, linear, blend, anyDouble(in))));
        check(interpStatus(nbr_Interp(x.data(), y.data(), m, q, &out)));
        break;
    }
    case 1:
        check(interpStatus(nbr_Spline(x.data(), y.data(), m, q, &out)));
        break;
    case 2:
        check(interpStatus(nbr_dydx(x.data(), y.data(), m, q, &out)));
        check(interpStatus(nbr_ddydx(x.data(), y.data(), m, q, &out)));
        break;
    case 3: {
        const std::size_t n2 = in.ConsumeIntegralInRange<std::size_t>(0, 8);
        std::vector<double> x2 = array(in, n2, in.ConsumeBool());
        std::vector<double> y2 = array(in, n2);
        double at = q;
        const short s1 = in.ConsumeBool();
        const short s2 = in.ConsumeBool();
        const double tol = anyDouble(in);
        const int iterations = in.ConsumeIntegralInRange<int>(-2, 40);
        check(interpStatus(nbr_Intersect(x.data(), y.data(), m, x2.data(), y2.data(), count(in, n2), &at, s1, s2,
                                         tol, iterations, anyDouble(in))));
        break;
    }
    case 4: {
        const int mode = in.ConsumeIntegral<std::uint8_t>() | (in.ConsumeBool() ? 0x80 : 0);
        const char letters[] = {'P', 'V', 'Y', 'p', 'v', 'y'};
        const int chosen = in.ConsumeBool() ? (letters[in.ConsumeIntegralInRange<int>(0, 5)] | (mode & 0x80)) : mode;
        check(interpStatus(nbr_XatY(x.data(), y.data(), m, chosen, q, anyDouble(in), &out, &out2, &out3, &out4)));
        break;
    }
    case 5: {
        std::vector<double> g = grid(in);
        const double gy = anyDouble(in);
        check(interpStatus(nbr_InterpLinMatrix(g.data(), q, gy, &out)));
        check(interpStatus(nbr_InterpMatrix(g.data(), q, gy, &out, in.ConsumeIntegralInRange<short>(-1, 3))));
        break;
    }
    case 6: {
        std::vector<double> group(n);
        for (double& d : group) d = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 5) : anyDouble(in);
        if (in.ConsumeBool()) std::sort(group.begin(), group.end());
        const short smooth = in.ConsumeBool();
        const short lx = in.ConsumeBool();
        const short lg = in.ConsumeBool();
        check(interpStatus(nbr_Interp3D(group.data(), x.data(), y.data(), m, anyDouble(in), q, &out, smooth, lx, lg)));
        break;
    }
    case 7: {
        int i = 0, j = 0;
        check(interpStatus(nbr_GetStartingPointAndPointAfterKnowingX(x.data(), m, q, in.ConsumeBool(), &i, &j)));
        if (n >= 3) {
            const int at = in.ConsumeIntegralInRange<int>(-1, static_cast<int>(n) - 3);
            nbr_CalculateParabolicY(x.data(), y.data(), q, at);
            double a, b, c;
            nbr_CalculateParabolaCoefficients(x.data(), y.data(), at, &a, &b, &c);
        }
        break;
    }
    case 8: {
        const int k = nbr_IndexOfClosestValue(x.data(), m, q);
        check(k >= 0 && (k == 0 || k < m));
        nbr_LookupClosestValue(x.data(), m, q);
        check(nbr_IndexOfMaxDouble(x.data(), m) >= 0 && nbr_IndexOfMinDouble(x.data(), m) >= 0);
        nbr_ArrayIsConstantlyIncreasingOrDecreasing(x.data(), m);
        const std::size_t ny = in.ConsumeIntegralInRange<std::size_t>(0, 5);
        std::vector<double> ys = array(in, ny);
        std::vector<double> table(n * ny);
        nbr_LookupClosestValue2D(table.data(), x.data(), ys.data(), static_cast<int>(n), static_cast<int>(ny), q,
                                 anyDouble(in));
        break;
    }
    case 9: {
        const int degree = in.ConsumeIntegralInRange<int>(-2, 6);
        nbr_PFit(x.data(), y.data(), m, q, degree, &out);
        std::vector<double> table(static_cast<std::size_t>(std::max(degree + 1, 2)) * 5);
        nbr_PFitData(x.data(), y.data(), m, degree, table.data());
        if (degree >= 0) {
            const std::size_t p = static_cast<std::size_t>(degree) + 1;
            std::vector<double> coef(p), sig(p), fitted(n), resid(n), stats(NBR_STAT_COUNT);
            double sigma = 0, r2 = 0;
            int status = 0;
            nbr_PolynomialCurveFit(x.data(), y.data(), m, degree, coef.data(), fitted.data(), resid.data(), &sigma,
                                   sig.data(), &r2, stats.data(), &status);
        }
        break;
    }
    case 10: {
        const int p = in.ConsumeIntegralInRange<int>(1, 4);
        std::vector<double> X(n * static_cast<std::size_t>(p - 1));
        for (double& d : X) d = anyDouble(in);
        std::vector<double> coef(static_cast<std::size_t>(p)), sig(static_cast<std::size_t>(p)), fitted(n),
            resid(n), stats(NBR_STAT_COUNT);
        double sigma = 0;
        int status = 0;
        nbr_CalculateMultipleRegessionCoefficients(X.data(), y.data(), p, m, coef.data(), fitted.data(),
                                                   resid.data(), &sigma, sig.data(), stats.data(), &status);
        const int k = in.ConsumeIntegralInRange<int>(0, 5);
        const std::size_t uk = static_cast<std::size_t>(k);
        std::vector<double> a(uk * uk), b(uk), sol(uk), work(uk * uk);
        for (double& d : a) d = anyDouble(in);
        for (double& d : b) d = anyDouble(in);
        double det = 0;
        nbr_GaussJordan(a.data(), b.data(), k, sol.data(), work.data(), &det);
        break;
    }
    default: {
        char buffer[32];
        nbr_NumberToString(q, buffer);
        check(__builtin_strlen(buffer) <= 31);
        const int sz = in.ConsumeIntegralInRange<int>(0, 32);
        std::vector<char> small(static_cast<std::size_t>(std::max(sz, 1)));
        nbr_NumberToStringN(q, small.data(), sz);
        nbr_CalculateConstants(q, anyDouble(in), anyDouble(in), in.ConsumeBool(), &out, &out2, &out3, &out4, &out,
                               &out2);
        break;
    }
    }
    return 0;
}
