#pragma once
/* Numbra: plain numeric routines over arrays of doubles.
 *
 * Every routine is a stateless function exported by name. Arrays come as a
 * pointer plus an int count; results go out through pointers and the return
 * value is a status. No routine reads or writes outside the arrays it is
 * given: short or empty arrays, NaN or infinite queries, degenerate grids
 * and null pointers give a status, never a fault. */

#ifdef __cplusplus
#include <climits>
extern "C" {
#else
#include <limits.h>
#endif

#define NBR_API __attribute__((visibility("default")))

/* Status codes. */
enum {
    NBR_OK = 0,
    NBR_NO_POINTS = 1,            /* nbr_PFit given no points */
    NBR_BAD_DATA = 36,            /* too few points, x not strictly monotonic, no convergence, ... */
    NBR_OUTSIDE = 43,             /* x outside the data; the result is extrapolated and still written */
    NBR_REGRESSION_MEMORY = 101,  /* 'e' */
    NBR_SINGULAR = 102,           /* 'f': abs(determinant) < 1e-10, or fewer observations than coefficients */
    NBR_POLYFIT_MEMORY = 103,     /* 'g' */
    NBR_PFIT_MEMORY = 104,        /* 'h': also nbr_PFitData with a negative degree */
    NBR_PFITDATA_MEMORY = 105     /* 'i' */
};

/* Returned by the port routines when the process may not use the port
 * (outside 0..0xFFFF, or the system refuses the access). No byte or tick
 * the routines return otherwise has this value in practice. */
#define NBR_PORT_UNAVAILABLE INT_MIN

/* ---- Lookups ---------------------------------------------------------- */

/* Index of the smallest abs(a[i] - v); ties keep the lower index; n <= 1 gives 0. */
NBR_API int nbr_IndexOfClosestValue(const double* a, int n, double v);
/* a[nbr_IndexOfClosestValue(a, n, v)]; NaN when n <= 0. */
NBR_API double nbr_LookupClosestValue(const double* a, int n, double v);
/* table[nx * iy + ix], ix / iy the indexes in xs / ys closest to x / y; NaN when nx or ny <= 0. */
NBR_API double nbr_LookupClosestValue2D(const double* table, const double* xs, const double* ys,
                                        int nx, int ny, double x, double y);
/* Index of the first largest / smallest value; 0 when n <= 1. */
NBR_API int nbr_IndexOfMaxDouble(const double* a, int n);
NBR_API int nbr_IndexOfMinDouble(const double* a, int n);
/* 0 when the array rises strictly (a[n-1] >= a[0]) or falls strictly (a[n-1] < a[0]), else 36. */
NBR_API int nbr_ArrayIsConstantlyIncreasingOrDecreasing(const double* a, int n);

/* ---- Bracketing and local shapes ------------------------------------- */

/* Where x0 lies in x[0..n-1], k being the lower index of the pair that holds
 * it (the end pair beyond the data). Linear: i = j = k. Parabolic (i the first
 * of the three points): up to x[2] i = 0 and j = 1 when x0 is beyond x[1],
 * else 0; at or beyond x[n-1] i = n-3, j = n-1; otherwise i = k-1, j = k.
 * Needs n >= 2 (linear) or n >= 3 (parabolic) and strictly monotonic x in the
 * span scanned, else 36; otherwise 0, or 43 when x0 lies outside. */
NBR_API int nbr_GetStartingPointAndPointAfterKnowingX(const double* x, int n, double x0, short linear,
                                                      int* i, int* j);
/* The parabola through points i, i+1, i+2 evaluated at x0. The arrays must hold
 * i + 3 points; NaN for i < 0 or coinciding x. */
NBR_API double nbr_CalculateParabolicY(const double* x, const double* y, double x0, int i);
/* y = a x^2 + b x + c through points i, i+1, i+2 (the arrays must hold i + 3
 * points). 0, or 36 with nothing written for i < 0 or coinciding x. */
NBR_API int nbr_CalculateParabolaCoefficients(const double* x, const double* y, int i,
                                              double* a, double* b, double* c);

/* ---- Interpolation ---------------------------------------------------- */

NBR_API int nbr_Interpolate(const double* x, const double* y, int n, double x0, double* y0,
                            short linear, short blend, double power);
/* nbr_Interpolate with linear 0, blend 1, power 1. */
NBR_API int nbr_Interp(const double* x, const double* y, int n, double x0, double* y0);
/* Natural cubic spline (n >= 4), parabola (3), line (2), constant (1). */
NBR_API int nbr_Spline(const double* x, const double* y, int n, double x0, double* y0);
/* First and second derivative of the blended curve of nbr_Interp. */
NBR_API int nbr_dydx(const double* x, const double* y, int n, double x0, double* d);
NBR_API int nbr_ddydx(const double* x, const double* y, int n, double x0, double* d);
/* Where two curves cross, starting from *x (secant steps of `step`). Parallel
 * curves that do not meet give 36. */
NBR_API int nbr_Intersect(const double* x1, const double* y1, int n1,
                          const double* x2, const double* y2, int n2, double* x,
                          short spline1, short spline2, double tolerance, int maxIterations,
                          double step);
/* Peak ('P'), valley ('V') or x at y == target ('Y'); bit 7 of mode: start
 * from `start`. xRaw/yRaw: the point found; xOut/yOut: the same point held
 * within the data's x range. */
NBR_API int nbr_XatY(const double* x, const double* y, int n, int mode, double start, double target,
                     double* xOut, double* xRaw, double* yOut, double* yRaw);

/* ---- Grids -------------------------------------------------------------
 * grid[0..5]: x min, x max, y min, y max, column count nx, row count ny.
 * Rows are max(nx, 6) long; the value of column c at row r (r = 0 at the
 * lowest y) lies in row ny - r. The grid must hold (ny + 1) full rows.
 * nx and ny must be whole numbers of at least 2. */
NBR_API int nbr_InterpLinMatrix(const double* grid, double x, double y, double* z);
/* Mode 2: bilinear; otherwise a 4 x 4 block, linear when mode is non-zero. */
NBR_API int nbr_InterpMatrix(const double* grid, double x, double y, double* z, short mode);
/* A family of curves (x, y), one per run of equal group values, at x0 and group value g. */
NBR_API int nbr_Interp3D(const double* group, const double* x, const double* y, int n, double g,
                         double x0, double* out, short smooth, short linearX, short linearG);

/* ---- Fitting and solving ---------------------------------------------- */

/* Solves A x = b (n x n, row-major) with full pivoting; work receives the
 * inverse, *det the determinant (1 for n = 0). 0, 36 for bad arguments, 102
 * when a pivot was zero (the results are then not finite). */
NBR_API int nbr_GaussJordan(const double* A, const double* b, int n, double* x, double* work,
                            double* det);

/* Elements of the statistics array of the fits. */
enum {
    NBR_STAT_R2 = 0,          /* coefficient of determination */
    NBR_STAT_R = 1,           /* its square root */
    NBR_STAT_SSE = 2,         /* sum of squared residuals */
    NBR_STAT_SST = 3,         /* total sum of squares about the mean */
    NBR_STAT_DOF = 4,         /* divisor d used for the residual sigma */
    NBR_STAT_DET = 5,         /* determinant of the normal matrix */
    NBR_STAT_COUNT = 6
};

/* Least squares of y on p - 1 regressors: X holds n rows of p - 1 values (a
 * constant term is added as coefficient 0). coefficients and coefficientSigmas
 * hold p values; fitted and residuals n; stats NBR_STAT_COUNT. Every output but
 * coefficients may be null. Returns the status, also stored in *status. */
NBR_API int nbr_CalculateMultipleRegessionCoefficients(const double* X, const double* y, int p, int n,
                                                       double* coefficients, double* fitted,
                                                       double* residuals, double* sigma,
                                                       double* coefficientSigmas, double* stats,
                                                       int* status);
/* Polynomial of the given degree; coefficient k is that of x^k. */
NBR_API int nbr_PolynomialCurveFit(const double* x, const double* y, int n, int degree,
                                   double* coefficients, double* fitted, double* residuals,
                                   double* sigma, double* coefficientSigmas, double* r2,
                                   double* stats, int* status);
/* The fitted polynomial at x0; +43 when x0 lies outside the data's x. */
NBR_API int nbr_PFit(const double* x, const double* y, int n, double x0, int degree, double* y0);
/* Fills max(degree + 1, 2) rows of five doubles, zeroed first: row k holds
 * coefficient k and its sigma in columns 0 and 1; column 2 holds R^2 (row 0)
 * and the residual sigma (row 1); column 3 the F statistic (row 0) and the
 * residual degrees of freedom n - degree - 1 (row 1); column 4 the regression
 * and the residual sums of squares. A negative degree gives 104 and leaves
 * the table untouched; an F statistic that cannot be formed (degree 0, no
 * residual degrees of freedom or no residual) is written as 0 with status 36. */
NBR_API int nbr_PFitData(const double* x, const double* y, int n, int degree, double* table);
/* Gravity, water density, specific weight, vapour pressure head, atmospheric
 * head and kinematic viscosity at a site (metres, degrees, degrees Celsius).
 * 0, or 36 for non-finite input or a temperature where the formulas fail. */
NBR_API int nbr_CalculateConstants(double altitude, double latitude, double temperature, short formula,
                                   double* gravity, double* density, double* specificWeight,
                                   double* vapour, double* atmosphericHead, double* viscosity);

/* ---- Formatting, averages, port I/O ----------------------------------- */

/* "%.0f" with thousands commas; writes at most 32 bytes including the NUL.
 * Magnitudes whose plain text exceeds 23 characters come out as "%.6g". */
NBR_API char* nbr_NumberToString(double value, char* buffer);
/* The same into a buffer of `size` bytes: 0, or 36 (with an empty text when
 * size >= 1) when the text does not fit. */
NBR_API int nbr_NumberToStringN(double value, char* buffer, int size);
NBR_API double nbr_AverageD(const double* a, unsigned n);
NBR_API long double nbr_AverageLD(const double* a, unsigned n);
NBR_API double nbr_Add42(double* p);
/* The byte read from the port, sign-extended, or NBR_PORT_UNAVAILABLE. */
NBR_API int nbr_lInputByte(int port);
/* Timed output by mode & 3 (0 write, 1 write within one tick, 2 write at a
 * tick edge, 3 nothing); NBR_PORT_UNAVAILABLE when the port is refused. */
NBR_API int nbr_lOutputByte(int port, char value, int mode);

#ifdef __cplusplus
}
#endif
