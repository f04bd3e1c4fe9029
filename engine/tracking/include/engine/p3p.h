#pragma once
// Every solution of the perspective-three-point problem: the distances from
// the lens to three points seen along three known rays, given the distances
// between the points. Up to four solutions; the Newton solve of the tracker
// finds one of them, this finds them all, so that the tracker can choose.
#include <array>
#include <span>

// Cosines of the angles between the rays of points 0-1, 0-2 and 1-2, and the
// squared distances between the points.
struct P3PProblem {
    double c01, c02, c12;
    double d01, d02, d12;
};

// Distances from the lens along the rays (all > 0).
struct P3PRoot {
    std::array<double, 3> s;
};

inline constexpr int kMaxP3PRoots = 4;

// Fills `roots` with the solutions that put every point in front of the lens
// and fit the three distances, and returns how many there are. Allocates
// nothing.
int SolveP3P(const P3PProblem& problem, std::span<P3PRoot, kMaxP3PRoots> roots);

// Newton on the three distance equations from `s` (at most `steps` steps);
// true when the result fits the distances to a part in a billion with every
// point in front of the lens.
bool RefineP3P(const P3PProblem& problem, std::array<double, 3>& s, int steps);

// Real roots of c[0] + c[1] x + ... + c[degree] x^degree (degree <= 4) that
// lie in (low, high), in ascending order; returns how many.
int RealPolynomialRoots(std::span<const double> coefficients, double low, double high, std::span<double, 4> roots);
