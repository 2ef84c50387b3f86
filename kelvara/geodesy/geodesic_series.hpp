// The pieces of the geodesic kernels that know no ellipsoid: the constants and tolerances,
// exact sums and angle reductions in degrees, Clenshaw sums, and the series of Karney (2013) in
// eps (A1, C1, C1', A2, C2), carried to sixth order. Pure C++, as the kernels that use them.
#pragma once

#include "geodesy_kernels.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace kelvara::geodesy::geodesic {

namespace kb = kelvara::geodesy::batch;

inline constexpr double pi = kb::pi;
inline constexpr double degree = kb::deg_to_rad;
inline constexpr double dbl_eps = std::numeric_limits<double>::epsilon();
inline constexpr double tiny = 1.4916681462400413e-154;  // sqrt(DBL_MIN)
inline constexpr double tol0 = dbl_eps;
inline constexpr double tol1 = 200 * tol0;
inline constexpr double tol2 = 1.4901161193847656e-08;   // sqrt(DBL_EPSILON)
inline constexpr double tolb = tol0 * tol2;               // bisection tolerance
inline constexpr double xthresh = 1000 * tol2;
inline constexpr int maxit1 = 20;                         // Newton steps before bisection
inline constexpr int maxit2 = maxit1 + DBL_MANT_DIG + 10; // then bisection to the last bit
inline constexpr int order = 6;                           // of every series

KELVARA_GEO_INLINE double sq(double x) noexcept { return x * x; }

/// sqrt(x^2 + y^2) for the sines and cosines here (at most a few in size, and no smaller than
/// `tiny` unless zero): neither square over- nor underflows, so std::hypot's care (and cost, a
/// quarter of the inverse problem's time) is not needed.
KELVARA_GEO_INLINE double hyp(double x, double y) noexcept { return std::sqrt(x * x + y * y); }

/// Scales (s, c) to unit length.
KELVARA_GEO_INLINE void norm(double& s, double& c) noexcept {
    const double r = hyp(s, c);
    s /= r;
    c /= r;
}

/// s = u + v rounded, t = the rounding error (Knuth's two-sum); t = 0 when s is 0.
KELVARA_GEO_INLINE double two_sum(double u, double v, double& t) noexcept {
    const double s = u + v;
    const double up = s - v, vpp = s - up;
    const double du = up - u, dv = vpp - v;
    t = s != 0 ? 0.0 - (du + dv) : s;
    return s;
}

/// std::remainder(x, 360) (in [-180, 180], ties to an even multiple), without the library call
/// for the usual angles: x - 360 q is exact for |x| < 2^44, and a quotient misrounded at a
/// half-turn is corrected by one exact step.
KELVARA_GEO_INLINE double rem360(double x) noexcept {
    const double ax = std::fabs(x);
    if (ax <= 180) return x;
    if (!(ax < 0x1p44)) return std::remainder(x, 360.0);
    const double q = std::nearbyint(x / 360);
    double r = x - 360 * q;
    r = r > 180 ? r - 360 : (r < -180 ? r + 360 : r);
    return r;
}

/// x reduced to [-180, 180].
KELVARA_GEO_INLINE double ang_normalize(double x) noexcept {
    const double y = rem360(x);
    return std::fabs(y) == 180 ? std::copysign(180.0, x) : y;
}

/// Angles within 1/16 of a degree's ulp of zero are rounded so that tiny ones become zero
/// rather than denormal: it keeps the poles and the equator exactly symmetric.
KELVARA_GEO_INLINE double ang_round(double x) noexcept {
    constexpr double z = 1.0 / 16;
    const double y = std::fabs(x);
    const double w = y < z ? z - (z - y) : y;
    return std::copysign(w, x);
}

/// y - x reduced to [-180, 180] as d + e exactly (the error e carries what d cannot hold).
KELVARA_GEO_INLINE double ang_diff(double x, double y, double& e) noexcept {
    double d = two_sum(rem360(-x), rem360(y), e);
    double e2;
    d = two_sum(rem360(d), e, e2);
    e = e2;
    if (d == 0 || std::fabs(d) == 180) d = std::copysign(d, e == 0 ? y - x : -e);
    return d;
}

/// Sine and cosine of x degrees (exact reduction to [-45, 45]).
KELVARA_GEO_INLINE void sincosd(double x, double& s, double& c) noexcept { kb::sincos_fma(x, 1.0, s, c); }

/// Sine and cosine of x + t degrees, t a small correction to x (kept by reducing x first).
KELVARA_GEO_INLINE void sincosde(double x, double t, double& s, double& c) noexcept {
    const double q = std::nearbyint(x / 90);
    const double r = ang_round((x - 90 * q) + t);  // x - 90 q is exact
    double sr, cr;
    kb::sincos_fma(r, 1.0, sr, cr);
    const double k = q - 4 * std::floor(q * 0.25);
    if (k == 0) { s = sr; c = cr; }
    else if (k == 1) { s = cr; c = 0.0 - sr; }
    else if (k == 2) { s = 0.0 - sr; c = 0.0 - cr; }
    else { s = 0.0 - cr; c = sr; }
    s = s + 0.0;  // no -0
    c = c + 0.0;
}

/// atan2(y, x) in degrees, radians.
KELVARA_GEO_INLINE double atan2d(double y, double x) noexcept { return kb::angle<true>(y, x, 1.0); }
KELVARA_GEO_INLINE double atan2r(double y, double x) noexcept { return kb::angle<true>(y, x, 0.0); }
KELVARA_GEO_INLINE void sincosr(double x, double& s, double& c) noexcept { kb::sincos_fma(x, 0.0, s, c); }

/// An azimuth in degrees from (-180, 180] to [0, 360), with no -0.
KELVARA_GEO_INLINE double azimuth360(double az) noexcept {
    const double a = az < 0 ? az + 360 : az + 0.0;
    return a >= 360 ? 0.0 : a;
}

/// p[0] + p[1] x + ... + p[m-1] x^(m-1) (Horner).
KELVARA_GEO_INLINE double poly(const double* p, int m, double x) noexcept {
    double y = m > 0 ? p[m - 1] : 0.0;
    #pragma GCC unroll 8
    for (int i = m - 2; i >= 0; --i) y = y * x + p[i];
    return y;
}

/// sum_{k=1..n} c[k] sin(2 k x) (sine series, c[0] unused) or sum_{k=0..n-1} c[k] cos((2k+1) x),
/// by Clenshaw's recurrence from sin x and cos x.
KELVARA_GEO_INLINE double sin_series(double sx, double cx, const double* c, int n) noexcept {
    const double ar = 2 * (cx - sx) * (cx + sx);  // 2 cos 2x
    double b1 = 0, b2 = 0;
    #pragma GCC unroll 8
    for (int k = n; k >= 1; --k) {
        const double b = ar * b1 - b2 + c[k];
        b2 = b1;
        b1 = b;
    }
    return 2 * sx * cx * b1;
}
KELVARA_GEO_INLINE double cos_series(double sx, double cx, const double* c, int n) noexcept {
    const double ar = 2 * (cx - sx) * (cx + sx);
    double b1 = 0, b2 = 0;
    #pragma GCC unroll 8
    for (int k = n - 1; k >= 0; --k) {
        const double b = ar * b1 - b2 + c[k];
        b2 = b1;
        b1 = b;
    }
    return cx * (b1 - b2);
}

// The series of the paper in eps. A1 - 1 and A2 - 1 are returned without their leading 1 to
// keep their small values exact; C[l] holds the coefficient of sin(2 l sigma), l = 1..6.

/// A1 - 1 = (1 + eps^2/4 + eps^4/64 + eps^6/256) / (1 - eps) - 1 (distance scale).
KELVARA_GEO_INLINE double A1m1(double eps) noexcept {
    const double e2 = eps * eps;
    const double t = e2 * (e2 * (e2 + 4) + 64) / 256;
    return (t + eps) / (1 - eps);
}

/// C1[l], the sine coefficients of the distance integral I1.
KELVARA_GEO_INLINE void C1(double eps, double* c) noexcept {
    const double e2 = eps * eps;
    double d = eps;
    c[1] = d * ((6 - e2) * e2 - 16) / 32;  // -eps/2 + 3 eps^3/16 - eps^5/32
    d *= eps;
    c[2] = d * ((64 - 9 * e2) * e2 - 128) / 2048;
    d *= eps;
    c[3] = d * (9 * e2 - 16) / 768;
    d *= eps;
    c[4] = d * (3 * e2 - 5) / 512;
    d *= eps;
    c[5] = -7 * d / 1280;
    d *= eps;
    c[6] = -7 * d / 2048;
}

/// C1'[l], the coefficients of the reversion of I1 (sigma from tau).
KELVARA_GEO_INLINE void C1p(double eps, double* c) noexcept {
    const double e2 = eps * eps;
    double d = eps;
    c[1] = d * (e2 * (205 * e2 - 432) + 768) / 1536;
    d *= eps;
    c[2] = d * (e2 * (4005 * e2 - 4736) + 3840) / 12288;
    d *= eps;
    c[3] = d * (116 - 225 * e2) / 384;
    d *= eps;
    c[4] = d * (2695 - 7173 * e2) / 7680;
    d *= eps;
    c[5] = 3467 * d / 7680;
    d *= eps;
    c[6] = 38081 * d / 61440;
}

/// A2 - 1 = (1 + eps^2/4 + 9 eps^4/64 + 25 eps^6/256) (1 - eps) - 1 (reduced-length scale).
KELVARA_GEO_INLINE double A2m1(double eps) noexcept {
    const double e2 = eps * eps;
    const double t = e2 * (e2 * (25 * e2 + 36) + 64) / 256;
    return t * (1 - eps) - eps;
}

/// C2[l], the sine coefficients of I2.
KELVARA_GEO_INLINE void C2(double eps, double* c) noexcept {
    const double e2 = eps * eps;
    double d = eps;
    c[1] = d * (e2 * (e2 + 2) + 16) / 32;
    d *= eps;
    c[2] = d * (e2 * (35 * e2 + 64) + 384) / 2048;
    d *= eps;
    c[3] = d * (15 * e2 + 80) / 768;
    d *= eps;
    c[4] = d * (7 * e2 + 35) / 512;
    d *= eps;
    c[5] = 63 * d / 1280;
    d *= eps;
    c[6] = 77 * d / 2048;
}

}  // namespace kelvara::geodesy::geodesic
