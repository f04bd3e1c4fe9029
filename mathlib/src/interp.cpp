// Lookups, bracketing, interpolation, splines, derivatives, curve searches
// and grid interpolation.
#include "mathlib/numbra.h"

#include "common.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

namespace numbra {
namespace {

// Bracketing; see nbr_GetStartingPointAndPointAfterKnowingX.
int bracket(const double* x, int n, double x0, bool linear, int& i, int& j)
{
    if (x == nullptr || n < (linear ? 2 : 3) || !isFinite(x0)) return NBR_BAD_DATA;
    const int dir = direction(x, n);
    if (dir == 0) return NBR_BAD_DATA;
    // k: lower index of the pair that holds x0 (x0 in (x[k], x[k+1]]); the
    // first pair before the data, the last pair beyond it.
    int k = 0;
    if (!before(x[0], x[1], dir)) return NBR_BAD_DATA;
    // The parabola's first three points decide its start below; they must run
    // one way even where the scan stops before x[2].
    if (!linear && !before(x[1], x[2], dir)) return NBR_BAD_DATA;
    while (k < n - 2 && before(x[k + 1], x0, dir)) {
        ++k;
        if (!before(x[k], x[k + 1], dir)) return NBR_BAD_DATA;
    }
    if (linear) {
        i = j = k;
    } else if (!before(x[2], x0, dir)) {
        i = 0;
        j = before(x[1], x0, dir) ? 1 : 0;
    } else if (!before(x0, x[n - 1], dir)) {
        i = n - 3;
        j = n - 1;
    } else {
        i = k - 1;
        j = k;
    }
    return outside(x, n, x0) ? NBR_OUTSIDE : NBR_OK;
}

// Neville's form of the parabola through points i..i+2.
double parabolicY(const double* x, const double* y, double x0, int i)
{
    const double l1 = y[i] + (x0 - x[i]) * (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    const double l2 = y[i + 1] + (x0 - x[i + 1]) * (y[i + 2] - y[i + 1]) / (x[i + 2] - x[i + 1]);
    const double c = (x[i + 2] - x0) / (x[i + 2] - x[i]);
    return c * l1 + (1.0 - c) * l2;
}

bool distinct3(const double* x, int i)
{
    return isFinite(x[i]) && isFinite(x[i + 1]) && isFinite(x[i + 2]) && x[i] != x[i + 1] &&
           x[i + 1] != x[i + 2] && x[i] != x[i + 2];
}

// Divided differences: no division by an x value, only by differences of x.
void parabolaCoefficients(const double* x, const double* y, int i, double& a, double& b, double& c)
{
    const double s01 = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    const double s12 = (y[i + 2] - y[i + 1]) / (x[i + 2] - x[i + 1]);
    a = (s12 - s01) / (x[i + 2] - x[i]);
    b = s01 - a * (x[i] + x[i + 1]);
    c = y[i] - (a * x[i] + b) * x[i];
}

int interpolate(const double* x, const double* y, int n, double x0, double& y0, bool linear,
                bool blend, double power)
{
    if (x == nullptr || y == nullptr || n <= 1 || std::isnan(power)) return NBR_BAD_DATA;
    if (n < 3) linear = true;
    int i = 0;
    int j = 0;
    const int status = bracket(x, n, x0, linear, i, j);
    if (status != NBR_OK && status != NBR_OUTSIDE) return status;
    const int dir = direction(x, n);
    if (linear) {
        if (!before(x[i], x[i + 1], dir)) return NBR_BAD_DATA;
        y0 = y[i] + (x0 - x[i]) * (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
        return status;
    }
    if (!before(x[i], x[i + 1], dir) || !before(x[i + 1], x[i + 2], dir)) return NBR_BAD_DATA;
    double result = parabolicY(x, y, x0, i);
    if (blend && n >= 4 && j > 0 && j < n - 2) {
        // The fourth point must continue the data's direction, rising or falling.
        if (!before(x[i + 2], x[i + 3], dir)) return NBR_BAD_DATA;
        const double y2 = parabolicY(x, y, x0, i + 1);
        double u = (x0 - x[j]) / (x[j + 1] - x[j]);
        if (power != 1.0) {
            u = u <= 0.5 ? std::pow(2.0 * u, power) / 2.0 : 1.0 - std::pow(2.0 * (1.0 - u), power) / 2.0;
        }
        result = u * y2 + (1.0 - u) * result;
    }
    y0 = result;
    return status;
}

int interp(const double* x, const double* y, int n, double x0, double& y0)
{
    return interpolate(x, y, n, x0, y0, false, true, 1.0);
}

int isMonotonic(const double* a, int n)
{
    if (n <= 1) return NBR_OK;
    if (a == nullptr) return NBR_BAD_DATA;
    const int dir = a[n - 1] >= a[0] ? 1 : (a[n - 1] < a[0] ? -1 : 0);
    if (dir == 0) return NBR_BAD_DATA;  // NaN ends
    for (int k = 0; k + 1 < n; ++k) {
        if (!before(a[k], a[k + 1], dir)) return NBR_BAD_DATA;
    }
    return NBR_OK;
}

int spline(const double* x, const double* y, int n, double x0, double& y0)
{
    if (x == nullptr || y == nullptr || n <= 0 || !isFinite(x0)) return NBR_BAD_DATA;
    if (n == 1) {
        y0 = y[0];
        return x0 != x[0] ? NBR_OUTSIDE : NBR_OK;
    }
    if (n == 2) {
        if (direction(x, 2) == 0) return NBR_BAD_DATA;
        y0 = y[0] + (x0 - x[0]) * (y[1] - y[0]) / (x[1] - x[0]);
        return outside(x, n, x0) ? NBR_OUTSIDE : NBR_OK;
    }
    if (n == 3) {
        if (!distinct3(x, 0)) return NBR_BAD_DATA;
        y0 = parabolicY(x, y, x0, 0);
        return outside(x, n, x0) ? NBR_OUTSIDE : NBR_OK;
    }
    const int status = outside(x, n, x0) ? NBR_OUTSIDE : NBR_OK;
    if (const int mono = isMonotonic(x, n); mono != NBR_OK) return mono;
    const int dir = direction(x, n);

    std::vector<double> work;
    try {
        work.assign(4 * static_cast<std::size_t>(n), 0.0);
    } catch (const std::bad_alloc&) {
        return NBR_BAD_DATA;
    }
    double* h = work.data();          // interval widths
    double* slope = h + n;            // interval slopes
    double* cp = slope + n;           // eliminated super-diagonal
    double* m = cp + n;               // second derivatives (over 6), 0 at both ends
    for (int k = 0; k + 1 < n; ++k) {
        h[k] = x[k + 1] - x[k];
        slope[k] = (y[k + 1] - y[k]) / h[k];
    }
    // Tridiagonal solve (Thomas) for m[1..n-2]; the right side is the
    // difference of neighbouring slopes, without the usual factor 6.
    double rp_prev = 0.0;
    for (int k = 1; k <= n - 2; ++k) {
        const double sub = h[k - 1];
        const double diag = 2.0 * (x[k + 1] - x[k - 1]);
        const double rhs = slope[k] - slope[k - 1];
        const double denom = k == 1 ? diag : diag - sub * cp[k - 1];
        cp[k] = h[k] / denom;
        const double rp = (k == 1 ? rhs : rhs - sub * rp_prev) / denom;
        m[k] = rp;  // holds the eliminated right side until the back substitution
        rp_prev = rp;
    }
    for (int k = n - 3; k >= 1; --k) m[k] -= cp[k] * m[k + 1];
    m[0] = 0.0;
    m[n - 1] = 0.0;

    int seg = n - 1;
    for (int k = 1; k < n; ++k) {
        if (before(x0, x[k], dir)) {
            seg = k;
            break;
        }
    }
    const double w = x[seg] - x[seg - 1];
    const double u = (x0 - x[seg - 1]) / w;
    const double v = 1.0 - u;
    y0 = v * y[seg - 1] + u * y[seg] + w * w * ((u * u * u - u) * m[seg] + (v * v * v - v) * m[seg - 1]);
    return status;
}

// First and second derivative of the blended curve (power 1).
int derivatives(const double* x, const double* y, int n, double x0, double& d1, double& d2)
{
    if (x == nullptr || y == nullptr || n <= 1) return NBR_BAD_DATA;
    int i = 0;
    int j = 0;
    const int status = bracket(x, n, x0, n <= 2, i, j);
    if (status != NBR_OK && status != NBR_OUTSIDE) return status;
    const int dir = direction(x, n);
    if (n == 2) {
        d1 = (y[1] - y[0]) / (x[1] - x[0]);
        d2 = 0.0;
        return status;
    }
    if (!before(x[i], x[i + 1], dir) || !before(x[i + 1], x[i + 2], dir)) return NBR_BAD_DATA;
    double a1 = 0, b1 = 0, c1 = 0;
    parabolaCoefficients(x, y, i, a1, b1, c1);
    if (n == 3 || j < 1 || j > n - 3) {
        d1 = b1 + 2.0 * a1 * x0;
        d2 = 2.0 * a1;
        return status;
    }
    if (!before(x[i + 2], x[i + 3], dir)) return NBR_BAD_DATA;
    double a2 = 0, b2 = 0, c2 = 0;
    parabolaCoefficients(x, y, i + 1, a2, b2, c2);
    const double w = x[j + 1] - x[j];
    const double u = (x0 - x[j]) / w;
    const double p1 = parabolicY(x, y, x0, i);
    const double p2 = parabolicY(x, y, x0, i + 1);
    const double dp1 = b1 + 2.0 * a1 * x0;
    const double dp2 = b2 + 2.0 * a2 * x0;
    d1 = u * dp2 + (1.0 - u) * dp1 + (p2 - p1) / w;
    d2 = (6.0 * (a2 - a1) * x0 + 2.0 * (b2 - b1 + a1 * x[j + 1] - a2 * x[j])) / w;
    return status;
}

int indexOfClosest(const double* a, int n, double v)
{
    if (a == nullptr || n <= 1) return 0;
    int best = 0;
    double bestDist = std::fabs(a[0] - v);
    for (int k = 1; k < n; ++k) {
        const double d = std::fabs(a[k] - v);
        if (d < bestDist || (std::isnan(bestDist) && !std::isnan(d))) {
            best = k;
            bestDist = d;
        }
    }
    return best;
}

// ---- grids ---------------------------------------------------------------

struct Grid {
    const double* g;
    double xmin, xmax, ymin, ymax, dx, dy;
    long nx, ny, rowLen;
    double at(long c, long r) const { return g[(ny - r) * rowLen + c]; }
    double xAt(long c) const { return xmin + static_cast<double>(c) * dx; }
    double yAt(long r) const { return ymin + static_cast<double>(r) * dy; }
    bool outsideX(double x) const { return x < std::min(xmin, xmax) || x > std::max(xmin, xmax); }
    bool outsideY(double y) const { return y < std::min(ymin, ymax) || y > std::max(ymin, ymax); }
};

// Largest column or row count accepted: keeps every index product in range.
constexpr double kMaxGridSide = 1 << 20;

bool readGrid(const double* g, Grid& out)
{
    if (g == nullptr) return false;
    for (int k = 0; k < 6; ++k) {
        if (!isFinite(g[k])) return false;
    }
    const double nx = g[4];
    const double ny = g[5];
    // A grid one column or one row wide has no cell to interpolate in.
    if (nx != std::floor(nx) || ny != std::floor(ny) || nx < 2 || ny < 2 || nx > kMaxGridSide ||
        ny > kMaxGridSide)
        return false;
    if (g[0] == g[1] || g[2] == g[3]) return false;
    out.g = g;
    out.xmin = g[0];
    out.xmax = g[1];
    out.ymin = g[2];
    out.ymax = g[3];
    out.nx = static_cast<long>(nx);
    out.ny = static_cast<long>(ny);
    out.rowLen = std::max(out.nx, 6L);
    out.dx = (out.xmax - out.xmin) / static_cast<double>(out.nx - 1);
    out.dy = (out.ymax - out.ymin) / static_cast<double>(out.ny - 1);
    return isFinite(out.dx) && isFinite(out.dy) && out.dx != 0.0 && out.dy != 0.0;
}

int interpLinMatrix(const double* grid, double x, double y, double& z)
{
    Grid g{};
    if (!readGrid(grid, g) || !isFinite(x) || !isFinite(y)) return NBR_BAD_DATA;
    const long c = clampIndex(std::floor((x - g.xmin) / g.dx), 0, g.nx - 2);
    const long r = clampIndex(std::floor((y - g.ymin) / g.dy), 0, g.ny - 2);
    const double tx = (x - g.xAt(c)) / g.dx;
    const double ty = (y - g.yAt(r)) / g.dy;
    const double lo = g.at(c, r) + tx * (g.at(c + 1, r) - g.at(c, r));
    const double hi = g.at(c, r + 1) + tx * (g.at(c + 1, r + 1) - g.at(c, r + 1));
    z = lo + ty * (hi - lo);
    return g.outsideX(x) || g.outsideY(y) ? NBR_OUTSIDE : NBR_OK;
}

long blockStart(double v, double vmin, double d, long count)
{
    if (count <= 4) return 0;
    const double t = (v - vmin) / d;
    if (t <= 2.0) return 0;
    return std::min(count - 4, clampIndex(std::floor(t - 1.0), 0, count - 4));
}

int interpMatrix(const double* grid, double x, double y, double& z, short mode)
{
    if (mode == 2) return interpLinMatrix(grid, x, y, z);
    Grid g{};
    if (!readGrid(grid, g) || !isFinite(x) || !isFinite(y)) return NBR_BAD_DATA;
    const long c0 = blockStart(x, g.xmin, g.dx, g.nx);
    const long r0 = blockStart(y, g.ymin, g.dy, g.ny);
    const int w = static_cast<int>(std::min(4L, g.nx));
    const int h = static_cast<int>(std::min(4L, g.ny));
    double xs[4], ys[4], row[4], col[4];
    for (int c = 0; c < w; ++c) xs[c] = g.xAt(c0 + c);
    for (int r = 0; r < h; ++r) ys[r] = g.yAt(r0 + r);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) row[c] = g.at(c0 + c, r0 + r);
        const int s = interpolate(xs, row, w, x, col[r], mode != 0, true, 1.0);
        if (s != NBR_OK && s != NBR_OUTSIDE) return s;
    }
    const int s = interpolate(ys, col, h, y, z, mode != 0, true, 1.0);
    if (s != NBR_OK && s != NBR_OUTSIDE) return s;
    return g.outsideX(x) || g.outsideY(y) ? NBR_OUTSIDE : NBR_OK;
}

constexpr int kMaxRuns = 256;

int interp3D(const double* group, const double* x, const double* y, int n, double g, double x0,
             double& out, bool smooth, bool linearX, bool linearG)
{
    if (group == nullptr || x == nullptr || y == nullptr || n <= 2 || !isFinite(g) || !isFinite(x0))
        return NBR_BAD_DATA;
    int start[kMaxRuns + 1];
    int runs = 0;
    for (int k = 0; k < n; ++k) {
        if (!isFinite(group[k])) return NBR_BAD_DATA;
        if (k == 0 || group[k] != group[k - 1]) {
            if (runs == kMaxRuns) return NBR_BAD_DATA;
            start[runs++] = k;
        }
    }
    start[runs] = n;
    double value[kMaxRuns];
    for (int r = 0; r < runs; ++r) value[r] = group[start[r]];
    const int dir = runs >= 2 ? (value[runs - 1] > value[0] ? 1 : (value[runs - 1] < value[0] ? -1 : 0)) : 0;
    if (dir == 0) return NBR_BAD_DATA;
    for (int r = 0; r + 1 < runs; ++r) {
        if (!before(value[r], value[r + 1], dir)) return NBR_BAD_DATA;
    }
    auto evaluate = [&](int r, double& v) {
        return interpolate(x + start[r], y + start[r], start[r + 1] - start[r], x0, v, linearX, true, 1.0);
    };

    int status = NBR_OK;
    double gs[4], vs[4];
    int count = 0;
    if (smooth) {
        // The run whose group value g passes, in the group direction.
        int pos = 0;
        while (pos < runs - 1 && before(value[pos + 1], g, dir)) ++pos;
        const int take = std::min(4, runs);
        const int first = std::clamp(pos - 1, 0, runs - take);
        for (int r = first; r < first + take; ++r) {
            const int s = evaluate(r, vs[count]);
            if (s == NBR_OUTSIDE) status = NBR_OUTSIDE;
            else if (s != NBR_OK) return s;
            gs[count++] = value[r];
        }
    } else {
        // Runs at or below g, nearest first, then runs above g; a run whose
        // curve would extrapolate at x0 is skipped.
        double belowG[2], belowV[2], aboveG[2], aboveV[2];
        int nb = 0;
        int na = 0;
        for (int step = 0; step < runs; ++step) {
            const int r = dir > 0 ? runs - 1 - step : step;  // falling group values first
            if (value[r] > g || nb == 2) continue;
            double v = 0;
            const int s = evaluate(r, v);
            if (s == NBR_OUTSIDE) continue;
            if (s != NBR_OK) return s;
            belowG[nb] = value[r];
            belowV[nb++] = v;
        }
        for (int step = 0; step < runs; ++step) {
            const int r = dir > 0 ? step : runs - 1 - step;  // rising group values first
            if (value[r] <= g || na == 2) continue;
            double v = 0;
            const int s = evaluate(r, v);
            if (s == NBR_OUTSIDE) continue;
            if (s != NBR_OK) return s;
            aboveG[na] = value[r];
            aboveV[na++] = v;
        }
        if (nb == 0 || na == 0) status = NBR_OUTSIDE;
        for (int k = nb - 1; k >= 0; --k) {
            gs[count] = belowG[k];
            vs[count++] = belowV[k];
        }
        for (int k = 0; k < na; ++k) {
            gs[count] = aboveG[k];
            vs[count++] = aboveV[k];
        }
        if (count < 2) return NBR_BAD_DATA;
    }
    const int s = interpolate(gs, vs, count, g, out, linearG, true, 1.0);
    if (s == NBR_OUTSIDE) status = NBR_OUTSIDE;
    else if (s != NBR_OK) return s;
    return status;
}

// ---- searches -------------------------------------------------------------

struct Curve {
    const double* x;
    const double* y;
    int n;
    bool useSpline;
    int at(double x0, double& v) const { return useSpline ? spline(x, y, n, x0, v) : interp(x, y, n, x0, v); }
};

// Closeness of two values: relative, or absolute when the reference is 0.
bool close(double f1, double f2, double tolerance)
{
    if (f1 == 0.0) return std::fabs(f2) <= tolerance;
    return std::fabs(1.0 - f2 / f1) <= tolerance;
}

int intersect(const Curve& c1, const Curve& c2, double& xio, double tolerance, int maxIterations,
              double step)
{
    if (std::isnan(tolerance) || !isFinite(step) || step == 0.0 || !isFinite(xio)) return NBR_BAD_DATA;
    int remembered = NBR_OK;
    auto eval = [&](const Curve& c, double at, double& v) {
        const int s = c.at(at, v);
        if (s == NBR_OUTSIDE) remembered = NBR_OUTSIDE;
        return s == NBR_OUTSIDE ? NBR_OK : s;
    };
    double x = xio;
    double f1 = 0, f2 = 0;
    if (int s = eval(c1, x, f1); s != NBR_OK) return s;
    if (int s = eval(c2, x, f2); s != NBR_OK) return s;
    if (f1 == f2) return remembered;
    bool ok = close(f1, f2, tolerance);
    for (int it = 0; it < maxIterations && !ok; ++it) {
        double g1 = 0, g2 = 0;
        if (int s = eval(c1, x + step, g1); s != NBR_OK) return s;
        if (int s = eval(c2, x + step, g2); s != NBR_OK) return s;
        const double s1 = (g1 - f1) / step;
        const double s2 = (g2 - f2) / step;
        // Parallel curves that are apart never meet.
        if (s1 == s2) return NBR_BAD_DATA;
        x = x + (f2 - f1) / (s1 - s2);
        xio = x;
        if (int s = eval(c1, x, f1); s != NBR_OK) return s;
        if (int s = eval(c2, x, f2); s != NBR_OK) return s;
        if (f1 == f2) return remembered;
        ok = close(f1, f2, tolerance);
    }
    return ok ? remembered : NBR_BAD_DATA;
}

constexpr double kNewtonTolerance = 1e-10;
constexpr int kNewtonSteps = 100;

int xAtY(const double* x, const double* y, int n, int mode, double start, double target, double& xOut,
         double& xRaw, double& yOut, double& yRaw)
{
    if (x == nullptr || y == nullptr || n <= 0) return NBR_BAD_DATA;
    const int letter = std::toupper(mode & 0x7F);
    const bool fromStart = (mode & 0x80) != 0;
    if (letter != 'P' && letter != 'V' && letter != 'Y') return NBR_BAD_DATA;
    if (letter == 'Y' && !isFinite(target)) return NBR_BAD_DATA;
    if (n == 1) {
        xOut = xRaw = x[0];
        yOut = yRaw = y[0];
        return NBR_OK;
    }
    const double xlo = std::min(x[0], x[n - 1]);
    const double xhi = std::max(x[0], x[n - 1]);
    if (n == 2) {
        if (direction(x, 2) == 0) return NBR_BAD_DATA;
        if (letter != 'Y') {
            const int k = (letter == 'P') == (y[1] > y[0]) ? 1 : 0;
            xOut = xRaw = x[k];
            yOut = yRaw = y[k];
            return NBR_OK;
        }
        // A level line never reaches another level.
        if (!(y[1] != y[0])) return NBR_BAD_DATA;
        xRaw = x[0] + (target - y[0]) * (x[1] - x[0]) / (y[1] - y[0]);
        yRaw = target;
        if (!isFinite(xRaw)) return NBR_BAD_DATA;
        if (xRaw >= xlo && xRaw <= xhi) {
            xOut = xRaw;
            yOut = target;
        } else {
            const int k = std::fabs(xRaw - x[0]) <= std::fabs(xRaw - x[1]) ? 0 : 1;
            xOut = x[k];
            yOut = y[k];
        }
        return NBR_OK;
    }
    // The smallest x at one end, and the ends apart.
    if (direction(x, n) == 0) return NBR_BAD_DATA;
    for (int k = 0; k < n; ++k) {
        if (!(x[k] >= xlo)) return NBR_BAD_DATA;
    }
    int status = NBR_OK;
    auto keep = [&status](int s) {
        if (s == NBR_OUTSIDE) status = NBR_OUTSIDE;
        return s == NBR_OUTSIDE ? NBR_OK : s;
    };
    double xc = 0;
    if (fromStart) {
        if (!isFinite(start)) return NBR_BAD_DATA;
        xc = start;
    } else if (letter == 'Y') {
        xc = x[indexOfClosest(y, n, target)];
    } else {
        // The extreme data point, refined by the curve at the midpoints to its neighbours.
        int k = 0;
        for (int m = 1; m < n; ++m) {
            if (letter == 'V' ? y[m] < y[k] : y[m] > y[k]) k = m;
        }
        xc = x[k];
        double best = y[k];
        for (int nb : {k - 1, k + 1}) {
            if (nb < 0 || nb >= n) continue;
            const double mid = 0.5 * (x[k] + x[nb]);
            double v = 0;
            if (int s = keep(interp(x, y, n, mid, v)); s != NBR_OK) return s;
            if (letter == 'V' ? v < best : v > best) {
                best = v;
                xc = mid;
            }
        }
    }
    for (int steps = 0;; ++steps) {
        if (letter == 'Y') {
            double v = 0, d = 0, dd = 0;
            if (int s = keep(interp(x, y, n, xc, v)); s != NBR_OK) return s;
            // Relative closeness, absolute for a target of 0 (where a relative test cannot hold).
            if (target == 0.0 ? std::fabs(v) <= kNewtonTolerance
                              : std::fabs(1.0 - v / target) <= kNewtonTolerance)
                break;
            if (steps >= kNewtonSteps) return NBR_BAD_DATA;
            if (int s = keep(derivatives(x, y, n, xc, d, dd)); s != NBR_OK) return s;
            if (d == 0.0) return NBR_BAD_DATA;
            xc -= (v - target) / d;
        } else {
            double d = 0, dd = 0;
            if (int s = keep(derivatives(x, y, n, xc, d, dd)); s != NBR_OK) return s;
            if (std::fabs(d) <= kNewtonTolerance) break;
            if (steps >= kNewtonSteps) return NBR_BAD_DATA;
            // A straight stretch has no turning point to step towards.
            if (dd == 0.0) return NBR_BAD_DATA;
            xc -= d / dd;
        }
        if (!isFinite(xc)) return NBR_BAD_DATA;
    }
    double v = 0;
    if (int s = keep(interp(x, y, n, xc, v)); s != NBR_OK) return s;
    xRaw = xc;
    yRaw = v;
    if (xc >= xlo && xc <= xhi) {
        xOut = xc;
        yOut = v;
    } else {
        const int k = std::fabs(xc - x[0]) <= std::fabs(xc - x[n - 1]) ? 0 : n - 1;
        xOut = x[k];
        yOut = y[k];
    }
    return status;
}

} // namespace
} // namespace numbra

using namespace numbra;

extern "C" {

int nbr_IndexOfClosestValue(const double* a, int n, double v) { return indexOfClosest(a, n, v); }

double nbr_LookupClosestValue(const double* a, int n, double v)
{
    if (a == nullptr || n <= 0) return NAN;
    return a[indexOfClosest(a, n, v)];
}

double nbr_LookupClosestValue2D(const double* table, const double* xs, const double* ys, int nx, int ny,
                                double x, double y)
{
    if (table == nullptr || xs == nullptr || ys == nullptr || nx <= 0 || ny <= 0) return NAN;
    const long ix = indexOfClosest(xs, nx, x);
    const long iy = indexOfClosest(ys, ny, y);
    return table[static_cast<long>(nx) * iy + ix];
}

int nbr_IndexOfMaxDouble(const double* a, int n)
{
    if (a == nullptr || n <= 1) return 0;
    int best = 0;
    for (int k = 1; k < n; ++k) {
        if (a[k] > a[best]) best = k;
    }
    return best;
}

int nbr_IndexOfMinDouble(const double* a, int n)
{
    if (a == nullptr || n <= 1) return 0;
    int best = 0;
    for (int k = 1; k < n; ++k) {
        if (a[k] < a[best]) best = k;
    }
    return best;
}

int nbr_ArrayIsConstantlyIncreasingOrDecreasing(const double* a, int n) { return isMonotonic(a, n); }

int nbr_GetStartingPointAndPointAfterKnowingX(const double* x, int n, double x0, short linear, int* i, int* j)
{
    if (i == nullptr || j == nullptr) return NBR_BAD_DATA;
    int a = 0;
    int b = 0;
    const int s = bracket(x, n, x0, linear != 0, a, b);
    if (s == NBR_OK || s == NBR_OUTSIDE) {
        *i = a;
        *j = b;
    }
    return s;
}

double nbr_CalculateParabolicY(const double* x, const double* y, double x0, int i)
{
    if (x == nullptr || y == nullptr || i < 0 || !distinct3(x, i)) return NAN;
    return parabolicY(x, y, x0, i);
}

int nbr_CalculateParabolaCoefficients(const double* x, const double* y, int i, double* a, double* b, double* c)
{
    if (x == nullptr || y == nullptr || a == nullptr || b == nullptr || c == nullptr || i < 0 ||
        !distinct3(x, i))
        return NBR_BAD_DATA;
    parabolaCoefficients(x, y, i, *a, *b, *c);
    return NBR_OK;
}

int nbr_Interpolate(const double* x, const double* y, int n, double x0, double* y0, short linear, short blend,
                    double power)
{
    if (y0 == nullptr) return NBR_BAD_DATA;
    return interpolate(x, y, n, x0, *y0, linear != 0, blend != 0, power);
}

int nbr_Interp(const double* x, const double* y, int n, double x0, double* y0)
{
    if (y0 == nullptr) return NBR_BAD_DATA;
    return interp(x, y, n, x0, *y0);
}

int nbr_Spline(const double* x, const double* y, int n, double x0, double* y0)
{
    if (y0 == nullptr) return NBR_BAD_DATA;
    return spline(x, y, n, x0, *y0);
}

int nbr_dydx(const double* x, const double* y, int n, double x0, double* d)
{
    if (d == nullptr) return NBR_BAD_DATA;
    double d1 = 0, d2 = 0;
    const int s = derivatives(x, y, n, x0, d1, d2);
    if (s == NBR_OK || s == NBR_OUTSIDE) *d = d1;
    return s;
}

int nbr_ddydx(const double* x, const double* y, int n, double x0, double* d)
{
    if (d == nullptr) return NBR_BAD_DATA;
    double d1 = 0, d2 = 0;
    const int s = derivatives(x, y, n, x0, d1, d2);
    if (s == NBR_OK || s == NBR_OUTSIDE) *d = d2;
    return s;
}

int nbr_Intersect(const double* x1, const double* y1, int n1, const double* x2, const double* y2, int n2,
                  double* x, short spline1, short spline2, double tolerance, int maxIterations, double step)
{
    if (x == nullptr) return NBR_BAD_DATA;
    return intersect(Curve{x1, y1, n1, spline1 != 0}, Curve{x2, y2, n2, spline2 != 0}, *x, tolerance,
                     maxIterations, step);
}

int nbr_XatY(const double* x, const double* y, int n, int mode, double start, double target, double* xOut,
             double* xRaw, double* yOut, double* yRaw)
{
    if (xOut == nullptr || xRaw == nullptr || yOut == nullptr || yRaw == nullptr) return NBR_BAD_DATA;
    double a = 0, b = 0, c = 0, d = 0;
    const int s = xAtY(x, y, n, mode, start, target, a, b, c, d);
    if (s == NBR_OK || s == NBR_OUTSIDE) {
        *xOut = a;
        *xRaw = b;
        *yOut = c;
        *yRaw = d;
    }
    return s;
}

int nbr_InterpLinMatrix(const double* grid, double x, double y, double* z)
{
    if (z == nullptr) return NBR_BAD_DATA;
    return interpLinMatrix(grid, x, y, *z);
}

int nbr_InterpMatrix(const double* grid, double x, double y, double* z, short mode)
{
    if (z == nullptr) return NBR_BAD_DATA;
    return interpMatrix(grid, x, y, *z, mode);
}

int nbr_Interp3D(const double* group, const double* x, const double* y, int n, double g, double x0, double* out,
                 short smooth, short linearX, short linearG)
{
    if (out == nullptr) return NBR_BAD_DATA;
    return interp3D(group, x, y, n, g, x0, *out, smooth != 0, linearX != 0, linearG != 0);
}

} // extern "C"
