#include "engine/p3p.h"

#include <algorithm>
#include <cmath>

namespace {

// Polynomials of degree <= 4 by value, lowest coefficient first.
struct Poly {
    std::array<double, 5> c{};
    int degree = 0;
};

Poly Constant(double a)
{
    Poly p;
    p.c[0] = a;
    return p;
}

Poly Make(double c0, double c1, double c2 = 0.0)
{
    Poly p;
    p.c = {c0, c1, c2, 0.0, 0.0};
    p.degree = 2;
    return p;
}

Poly operator*(const Poly& a, const Poly& b)
{
    Poly r;
    r.degree = std::min(4, a.degree + b.degree);
    for (int i = 0; i <= a.degree; ++i)
        for (int j = 0; j <= b.degree && i + j <= 4; ++j) r.c[i + j] += a.c[i] * b.c[j];
    return r;
}

Poly operator-(const Poly& a, const Poly& b)
{
    Poly r;
    r.degree = std::max(a.degree, b.degree);
    for (int i = 0; i <= r.degree; ++i) r.c[i] = a.c[i] - b.c[i];
    return r;
}

double Evaluate(std::span<const double> c, int degree, double x)
{
    double v = c[degree];
    for (int i = degree - 1; i >= 0; --i) v = v * x + c[i];
    return v;
}

// The size of the terms of c at x: below it, a value is rounding noise.
double Magnitude(std::span<const double> c, int degree, double x)
{
    double sum = 0.0, power = 1.0;
    for (int i = 0; i <= degree; ++i) {
        sum += std::fabs(c[i]) * power;
        power *= std::fabs(x);
    }
    return sum;
}

// A root in [a, b] where the values at the ends differ in sign: Newton's
// steps while they stay inside the bracket, halving where they would not.
double Bracketed(std::span<const double> c, std::span<const double> dc, int degree, double a, double b, double fa)
{
    double x = 0.5 * (a + b);
    for (int i = 0; i < 100; ++i) {
        const double f = Evaluate(c, degree, x);
        if (f == 0.0) return x;
        if ((f < 0.0) == (fa < 0.0))
            a = x, fa = f;
        else
            b = x;
        const double d = Evaluate(dc, degree - 1, x);
        double next = d != 0.0 ? x - f / d : 0.5 * (a + b);
        if (!(next > a && next < b)) next = 0.5 * (a + b);
        if (std::fabs(next - x) <= 1e-12 * std::max(1.0, std::fabs(x)) || b - a <= 1e-12 * std::max(1.0, std::fabs(x)))
            return next;
        x = next;
    }
    return x;
}

// Real roots by bisection between the turning points, which the
// derivative's roots give: slower than a closed form, but it keeps the
// clustered roots of a clip seen almost square on from afar, which closed
// forms lose.
int Roots(std::span<const double> c, int degree, double low, double high, std::span<double, 4> out)
{
    // Leading coefficients that are zero, or vanishingly small against the
    // rest, lower the degree.
    double largest = 0.0;
    for (int i = 0; i <= degree; ++i) largest = std::max(largest, std::fabs(c[i]));
    if (largest == 0.0) return 0;
    while (degree > 0 && std::fabs(c[degree]) <= 1e-14 * largest) --degree;
    if (degree == 0) return 0;
    if (degree == 1) {
        const double x = -c[0] / c[1];
        if (!(x > low && x < high)) return 0;
        out[0] = x;
        return 1;
    }
    // The derivative's roots cut (low, high) into pieces where c is monotone.
    std::array<double, 4> dc{};
    for (int i = 1; i <= degree; ++i) dc[i - 1] = c[i] * i;
    std::array<double, 4> critical{};
    const int nc = Roots(dc, degree - 1, low, high, critical);
    std::array<double, 6> ends{};
    int ne = 0;
    ends[ne++] = low;
    for (int i = 0; i < nc; ++i) ends[ne++] = critical[i];
    ends[ne++] = high;
    int n = 0;
    double fa = Evaluate(c, degree, ends[0]);
    for (int i = 0; i + 1 < ne && n < 4; ++i) {
        const double a = ends[i], b = ends[i + 1];
        const double fb = Evaluate(c, degree, b);
        if (fa != 0.0 && fb != 0.0 && (fa < 0.0) != (fb < 0.0)) {
            out[n++] = Bracketed(c, dc, degree, a, b, fa);
        } else if (i + 1 < ne - 1 && std::fabs(fb) <= 1e-9 * Magnitude(c, degree, b)) {
            // A double root at a turning point touches zero without crossing.
            out[n++] = b;
        }
        fa = fb;
    }
    return n;
}

} // namespace

int RealPolynomialRoots(std::span<const double> coefficients, double low, double high, std::span<double, 4> roots)
{
    const int degree = std::min<int>(4, int(coefficients.size()) - 1);
    if (degree < 0) return 0;
    return Roots(coefficients, degree, low, high, roots);
}

// Newton on the three distance equations from a close start, as the
// tracker's own solve does.
bool RefineP3P(const P3PProblem& p, std::array<double, 3>& s, int steps)
{
    for (int step = 0; step < steps; ++step) {
        double& a = s[0];
        double& b = s[1];
        double& c = s[2];
        const double f01 = a * a - 2.0 * a * b * p.c01 + b * b - p.d01;
        const double f02 = a * a - 2.0 * a * c * p.c02 + c * c - p.d02;
        const double f12 = b * b - 2.0 * b * c * p.c12 + c * c - p.d12;
        const double a00 = 2.0 * a - 2.0 * b * p.c01, a01 = 2.0 * b - 2.0 * a * p.c01;
        const double a10 = 2.0 * a - 2.0 * c * p.c02, a12 = 2.0 * c - 2.0 * a * p.c02;
        const double a21 = 2.0 * b - 2.0 * c * p.c12, a22 = 2.0 * c - 2.0 * b * p.c12;
        // Rows (f01: a00 a01 0), (f02: a10 0 a12), (f12: 0 a21 a22).
        const double det = a00 * (-a12 * a21) - a01 * (a10 * a22) ;
        if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) break;
        const double i00 = -a12 * a21, i01 = -a01 * a22, i02 = a01 * a12;
        const double i10 = -a10 * a22, i11 = a00 * a22, i12 = -a00 * a12;
        const double i20 = a10 * a21, i21 = -a00 * a21, i22 = -a01 * a10;
        a -= (i00 * f01 + i01 * f02 + i02 * f12) / det;
        b -= (i10 * f01 + i11 * f02 + i12 * f12) / det;
        c -= (i20 * f01 + i21 * f02 + i22 * f12) / det;
    }
    const double f01 = s[0] * s[0] - 2.0 * s[0] * s[1] * p.c01 + s[1] * s[1] - p.d01;
    const double f02 = s[0] * s[0] - 2.0 * s[0] * s[2] * p.c02 + s[2] * s[2] - p.d02;
    const double f12 = s[1] * s[1] - 2.0 * s[1] * s[2] * p.c12 + s[2] * s[2] - p.d12;
    return std::isfinite(f01 + f02 + f12) && std::fabs(f01) <= 1e-9 * p.d01 && std::fabs(f02) <= 1e-9 * p.d02 &&
           std::fabs(f12) <= 1e-9 * p.d12 && s[0] > 0.0 && s[1] > 0.0 && s[2] > 0.0;
}

namespace {

// Keeps a root unless it repeats one already found.
void Add(std::span<P3PRoot, kMaxP3PRoots> roots, int& n, const std::array<double, 3>& s)
{
    for (int i = 0; i < n; ++i) {
        const auto& r = roots[i].s;
        if (std::fabs(r[0] - s[0]) + std::fabs(r[1] - s[1]) + std::fabs(r[2] - s[2]) <= 1e-6 * (s[0] + s[1] + s[2]))
            return;
    }
    if (n < kMaxP3PRoots) roots[n++].s = s;
}

} // namespace

int SolveP3P(const P3PProblem& p, std::span<P3PRoot, kMaxP3PRoots> roots)
{
    if (!(p.d01 > 0.0 && p.d02 > 0.0 && p.d12 > 0.0)) return 0;
    // With s1 = u s0 and s2 = v s0 the three equations
    //   s0^2 (1 + u^2 - 2 u c01) = d01
    //   s0^2 (1 + v^2 - 2 v c02) = d02
    //   s0^2 (u^2 + v^2 - 2 u v c12) = d12
    // give two quadratics in u whose coefficients are polynomials in v:
    //   d02 u^2 - 2 d02 c01 u + d02 - d01 (1 + v^2 - 2 v c02) = 0
    //   (d12 - d01) u^2 + (2 d01 c12 v - 2 d12 c01) u + d12 - d01 v^2 = 0
    // Their resultant is a quartic in v; each of its roots gives u.
    const Poly a1 = Constant(p.d02);
    const Poly b1 = Constant(-2.0 * p.d02 * p.c01);
    const Poly c1 = Make(p.d02 - p.d01, 2.0 * p.d01 * p.c02, -p.d01);
    const Poly a2 = Constant(p.d12 - p.d01);
    Poly b2 = Make(-2.0 * p.d12 * p.c01, 2.0 * p.d01 * p.c12);
    b2.degree = 1;
    const Poly c2 = Make(p.d12, 0.0, -p.d01);
    const Poly P = a1 * c2 - a2 * c1; // degree 2
    const Poly Q = a1 * b2 - a2 * b1; // degree 1
    const Poly S = b1 * c2 - b2 * c1; // degree 3
    const Poly R = P * P - Q * S;     // degree 4

    // v is a ratio of distances to points in front of the lens: positive, and
    // bounded by the size of the quartic's coefficients.
    double bound = 0.0;
    int degree = 4;
    double largest = 0.0;
    for (double c : R.c) largest = std::max(largest, std::fabs(c));
    while (degree > 0 && std::fabs(R.c[degree]) <= 1e-14 * largest) --degree;
    if (degree == 0) return 0;
    for (int i = 0; i < degree; ++i) bound = std::max(bound, std::fabs(R.c[i] / R.c[degree]));
    std::array<double, 4> vs{};
    const int nv = RealPolynomialRoots(std::span<const double>(R.c.data(), std::size_t(degree) + 1), 0.0,
                                       1.0 + bound, vs);

    int n = 0;
    for (int k = 0; k < nv; ++k) {
        const double v = vs[k];
        const double base = 1.0 + v * v - 2.0 * v * p.c02;
        if (!(base > 0.0)) continue;
        const double s0 = std::sqrt(p.d02 / base);
        const double q = Evaluate(Q.c, 1, v);
        const double pv = Evaluate(P.c, 2, v);
        // u from the two quadratics; where that is ill-conditioned, both
        // roots of the first quadratic are tried and the check decides.
        std::array<double, 2> us{};
        int nu = 0;
        if (std::fabs(q) > 1e-8 * Magnitude(Q.c, 1, v)) {
            us[nu++] = pv / -q;
        } else {
            const double disc = p.c01 * p.c01 - 1.0 + (p.d01 / p.d02) * base;
            if (disc >= 0.0) {
                us[nu++] = p.c01 + std::sqrt(disc);
                us[nu++] = p.c01 - std::sqrt(disc);
            }
        }
        for (int j = 0; j < nu; ++j) {
            const double u = us[j];
            if (!(u > 0.0)) continue;
            std::array<double, 3> s{s0, u * s0, v * s0};
            if (RefineP3P(p, s, 4)) Add(roots, n, s);
        }
    }
    return n;
}
