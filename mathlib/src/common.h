#pragma once
// Helpers shared by the Numbra sources.
#include <cfloat>
#include <cmath>

namespace numbra {

inline bool isFinite(double v) { return std::isfinite(v); }

// x rounded to single precision. A double beyond the float range has no
// defined conversion, so it becomes an infinity of its sign.
inline double asFloat(double v)
{
    if (std::isnan(v)) return v;
    if (v > static_cast<double>(FLT_MAX)) return INFINITY;
    if (v < -static_cast<double>(FLT_MAX)) return -INFINITY;
    return static_cast<double>(static_cast<float>(v));
}

// The data's direction from its first and last x: +1 rising, -1 falling,
// 0 when they are equal (or not comparable).
inline int direction(const double* x, int n)
{
    if (x[n - 1] > x[0]) return 1;
    if (x[n - 1] < x[0]) return -1;
    return 0;
}

// The outside test: x0 >= first is compared as given, the other comparisons
// with x0 rounded to single precision, so that a query a hair beyond an end
// point still counts as inside.
inline bool outside(const double* x, int n, double x0)
{
    const double first = x[0];
    const double last = x[n - 1];
    const double f = asFloat(x0);
    if (last > first) return !(x0 >= first && f <= last);
    if (last < first) return !(f >= last && f <= first);
    return !(f == first);
}

// a strictly before b in direction dir (false for NaN).
inline bool before(double a, double b, int dir) { return dir > 0 ? a < b : a > b; }

// A double turned into an index without undefined conversion: clamped to lo..hi.
inline long clampIndex(double v, long lo, long hi)
{
    if (!(v >= static_cast<double>(lo))) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<long>(v);
}

} // namespace numbra
