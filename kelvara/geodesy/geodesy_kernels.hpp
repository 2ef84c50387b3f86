// Per-point kernels of kelvara.geodesy, in pure C++ (no interpreter calls, no allocation, no
// exceptions). Every kernel is branch-free so that a `#pragma omp simd` loop over it vectorises,
// with the transcendental calls going to glibc's vector maths library (libmvec) where it has them.
// The kernels templated on `Fma` (ecef2geodetic, geodetic2ecef and the two built on the former)
// are built a second time for the levels with fused multiply-add, with their own arctangent, sine
// and cosine, more exact than libmvec's.
//
// Each kernel takes its inputs by value and writes its outputs through references; `deg` != 0
// means angles in and out are degrees, and the ellipsoid is given by its equatorial radius `a`
// (metres) and flattening `f`. A NaN or infinite input, or a latitude (the point's or the
// observer's) beyond a pole, gives NaN in every output of that point.
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

#if defined(__GLIBC__) || defined(__linux__)
#include <features.h>
#endif

namespace kelvara::geodesy::batch {

// Everything is inlined into the vector loops, whose target (AVX-512, AVX2, SSE4.2, baseline)
// decides which libmvec variant a call goes to.
#define KELVARA_GEO_INLINE inline __attribute__((always_inline))

// libmvec has vector atan2 (and sin, cos) from glibc 2.35 on x86-64. GCC calls a vector variant
// of a function only when the function is declared with the `simd` attribute, and does so for
// libm's own names only under -ffast-math; so the functions are declared here under other names
// bound to libm's symbols. Inside a vectorised loop the call goes to _ZGV<isa>N<lanes>v[v]_<name>,
// outside it to the scalar libm function.
#if defined(__x86_64__) && defined(__GLIBC__) && __GLIBC_PREREQ(2, 35) && !defined(KELVARA_NO_LIBMVEC)
#define KELVARA_LIBMVEC 1
namespace vm {
__attribute__((simd("notinbranch"), const, nothrow)) double atan2(double, double) __asm__("atan2");
__attribute__((simd("notinbranch"), const, nothrow)) double sin(double) __asm__("sin");
__attribute__((simd("notinbranch"), const, nothrow)) double cos(double) __asm__("cos");
}  // namespace vm
#else
#define KELVARA_LIBMVEC 0
namespace vm {
KELVARA_GEO_INLINE double atan2(double y, double x) noexcept { return std::atan2(y, x); }
KELVARA_GEO_INLINE double sin(double x) noexcept { return std::sin(x); }
KELVARA_GEO_INLINE double cos(double x) noexcept { return std::cos(x); }
}  // namespace vm
#endif

inline constexpr double pi = 3.141592653589793238462643383279502884;
inline constexpr double deg_to_rad = pi / 180;
inline constexpr double rad_to_deg = 180 / pi;
inline constexpr double two_pi = 2 * pi;

/// Multiplier from the caller's angle unit to radians.
KELVARA_GEO_INLINE double unit_in(double deg) noexcept { return deg != 0 ? deg_to_rad : 1.0; }

/// True when x, y and z are all finite (false for NaN and infinities).
KELVARA_GEO_INLINE bool finite3(double x, double y, double z) noexcept {
    return std::fabs(x) + std::fabs(y) + std::fabs(z) <= DBL_MAX;
}

/// True when a latitude lies within the poles: |lat| <= 90 degrees, or pi/2 in radians (as
/// the double nearest it, which np.deg2rad(90) also gives). Beyond them gives NaN.
KELVARA_GEO_INLINE bool lat_ok(double lat, double deg) noexcept {
    return std::fabs(lat) <= (deg != 0 ? 90.0 : pi / 2);
}

/// 1 when `ok`, else NaN: a factor rather than a select, so that the compiler cannot move a
/// vector maths call under a branch (which would stop the loop from vectorising).
KELVARA_GEO_INLINE double nan_unless(bool ok) noexcept { return ok ? 1.0 : NAN; }

/// Multiplies p, q, r by nan_unless(ok).
KELVARA_GEO_INLINE void nan_unless(bool ok, double& p, double& q, double& r) noexcept {
    const double k = nan_unless(ok);
    p *= k;
    q *= k;
    r *= k;
}

/// a * b + c, in one rounding when Fma (the loops built for CPUs with fused multiply-add; the
/// results then differ from the others' in the last bits).
template <bool Fma>
KELVARA_GEO_INLINE double mad(double a, double b, double c) noexcept {
    if constexpr (Fma)
        return std::fma(a, b, c);
    else
        return a * b + c;
}

/// c ? a : b through the bits: the compiler keeps it a blend, where a ternary on a call's
/// argument may become two calls under a branch (which would stop the loop from vectorising).
KELVARA_GEO_INLINE double pick(bool c, double a, double b) noexcept {
    const std::uint64_t m = std::uint64_t(0) - std::uint64_t(c);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & m) | (std::bit_cast<std::uint64_t>(b) & ~m));
}

/// Sines and cosines of a geodetic latitude and longitude given in radians.
struct Trig {
    double sphi, cphi, slam, clam;
};

KELVARA_GEO_INLINE Trig trig(double phi, double lam) noexcept {
    return {vm::sin(phi), vm::cos(phi), vm::sin(lam), vm::cos(lam)};
}

/// Sine and cosine of an angle in the caller's unit (degrees when deg != 0), for the loops with
/// fused multiply-add (the others multiply by pi/180 and call libmvec, whose vector sin and cos
/// err by up to 3-4 ulp).
///
/// Degrees are reduced exactly, by a multiple m of 90 (Sterbenz), to r in [-45, 45], which then
/// goes to radians with 180/pi in two parts: no rounding of pi, and no loss on large angles.
/// Radians are reduced by m pi/2 in three parts (Cody and Waite), within rounding for
/// |x| < 2^50. sin and cos of r in [-pi/4, pi/4] come from fdlibm's minimax polynomials (relative
/// error below 2^-58), the cosine's leading terms compensated: about 0.6 ulp.
KELVARA_GEO_INLINE void sincos_fma(double x, double deg, double& s, double& c) noexcept {
    constexpr double two_over_pi = 0.63661977236758134308;
    constexpr double pio2_1 = 1.5707963267948966192;        // pi/2 in three parts
    constexpr double pio2_2 = 6.123233995736766036e-17;
    constexpr double pio2_3 = -1.4973849048591698329e-33;
    constexpr double d2r_2 = 2.9486522708701687e-19;          // pi/180 - deg_to_rad
    const bool in_deg = deg != 0;
    const double md = std::nearbyint(x * (1.0 / 90));
    const double rd = x - md * 90;  // exact: md * 90 is, and x lies within a factor 2 of it
    const double mr = std::nearbyint(x * two_over_pi);
    double rr = std::fma(-mr, pio2_1, x);
    rr = std::fma(-mr, pio2_2, rr);
    rr = std::fma(-mr, pio2_3, rr);
    const double r = in_deg ? std::fma(rd, deg_to_rad, rd * d2r_2) : rr;
    const double m = in_deg ? md : mr;
    double sr, cr;
    {
        const double z = r * r;
        const double ps = std::fma(z, std::fma(z, std::fma(z, std::fma(z, std::fma(z, 1.58969099521155010221e-10,
            -2.50507602534068634195e-08), 2.75573137070700676789e-06), -1.98412698298579493134e-04),
            8.33333333332248946124e-03), -1.66666666666666324348e-01);
        sr = std::fma(r * z, ps, r);
        const double pc = z * std::fma(z, std::fma(z, std::fma(z, std::fma(z, std::fma(z, -1.13596475577881948265e-11,
            2.08757232129817482790e-09), -2.75573143513906633035e-07), 2.48015872894767294178e-05),
            -1.38888888888741095749e-03), 4.16666666666666019037e-02);
        const double hz = 0.5 * z, w = 1 - hz;
        cr = w + (((1 - w) - hz) + z * pc);
    }
    // quadrant m mod 4 (exact in doubles): odd swaps sine and cosine; the signs follow
    const double q = m - 4 * std::floor(m * 0.25);
    const bool odd = q == 1 || q == 3;
    const double s0 = pick(odd, cr, sr), c0 = pick(odd, sr, cr);
    s = q >= 2 ? 0.0 - s0 : s0;  // 0 - 0 is +0: cos 90 deg is 0, not -0
    c = (q == 1 || q == 2) ? 0.0 - c0 : c0;
}

/// trig() from angles in the caller's unit: with Fma through sincos_fma, else libmvec.
template <bool Fma>
KELVARA_GEO_INLINE Trig trig_unit(double phi, double lam, double deg) noexcept {
    if constexpr (Fma) {
        Trig t;
        sincos_fma(phi, deg, t.sphi, t.cphi);
        sincos_fma(lam, deg, t.slam, t.clam);
        return t;
    } else {
        const double k = unit_in(deg);
        return trig(phi * k, lam * k);
    }
}

/// ECEF position of the point at height h above (phi, lam) given by its sines and cosines.
/// n + h is carried exactly as a sum of two doubles, and with Fma each coordinate takes one
/// rounding fewer: the position errs by little more than its sines and cosines do.
template <bool Fma = false>
KELVARA_GEO_INLINE void to_ecef(const Trig& t, double h, double a, double f, double& x, double& y, double& z) noexcept {
    const double e2 = f * (2 - f);
    const double n = a / std::sqrt(mad<Fma>(-(e2 * t.sphi), t.sphi, 1.0));  // prime vertical radius
    // n + h = s + e exactly (Knuth's two-sum)
    const double s = n + h;
    const double hv = s - n;
    const double e = (n - (s - hv)) + (h - hv);
    const double rxy = mad<Fma>(s, t.cphi, e * t.cphi);
    x = rxy * t.clam;
    y = rxy * t.slam;
    const double nb = n * ((1 - f) * (1 - f));
    const double sz = nb + h;
    const double hz = sz - nb;
    const double ez = (nb - (sz - hz)) + (h - hz);
    z = mad<Fma>(sz, t.sphi, ez * t.sphi);
}

/// atan(num / den) for 0 <= num <= den, in [0, pi/4]. With Fma, our own to within about 0.6 ulp
/// (libmvec's vector atan2 errs by up to 2.5): as in fdlibm, atan(c) + atan((num - c den) /
/// (den + c num)) with c = 0, 1/2 or 1 chosen so that the second argument is below 7/16, where
/// fdlibm's minimax polynomial errs by less than 2^-58. Otherwise libmvec's atan2.
template <bool Fma>
KELVARA_GEO_INLINE double atan_reduced(double num, double den) noexcept {
    if constexpr (!Fma) {
        return vm::atan2(num, den);
    } else {
        const bool small = num <= 0.4375 * den, mid = num <= 0.6875 * den;
        const double c = small ? 0.0 : (mid ? 0.5 : 1.0);
        const double hi = small ? 0.0 : (mid ? 4.63647609000806093515e-01 : 7.85398163397448278999e-01);
        const double lo = small ? 0.0 : (mid ? 2.26987774529616870924e-17 : 3.06161699786838301793e-17);
        const double n = std::fma(-c, den, num), d = std::fma(c, num, den);
        const double t = n / (d == 0 ? 1.0 : d);  // 0 at the origin
        const double z = t * t, w = z * z;
        const double s1 = z * std::fma(w, std::fma(w, std::fma(w, std::fma(w, std::fma(w, 1.62858201153657823623e-02,
            4.97687799461593236017e-02), 6.66107313738753120669e-02), 9.09088713343650656196e-02),
            1.42857142725034663711e-01), 3.33333333333329318027e-01);
        const double s2 = w * std::fma(w, std::fma(w, std::fma(w, std::fma(w, -3.65315727442169155270e-02,
            -5.83357013379057348645e-02), -7.69187620504482999495e-02), -1.11111104054623557880e-01),
            -1.99999999998764832476e-01);
        return hi + (lo + std::fma(-t, s1 + s2, t));
    }
}

/// t * k, with k = 1 (radians) or 180/pi (degrees); with Fma, 180/pi in two parts.
template <bool Fma>
KELVARA_GEO_INLINE double in_unit(double t, double deg) noexcept {
    if constexpr (Fma)
        return deg != 0 ? std::fma(t, rad_to_deg, t * -1.9878495670576283e-15) : t;
    else
        return t * (deg != 0 ? rad_to_deg : 1.0);
}

/// atan2(y, x) * k, with k = 1 (radians) or 180/pi (degrees). The quotient is first reduced to
/// an angle t of at most pi/4 by exact swaps and sign changes, and the multiple of pi/2 added back
/// in two parts: the arctangent then errs on t alone (|t| <= pi/4, whose last place is finer than
/// that of an angle near pi), which keeps the result within about one unit in its last place.
template <bool Fma = false>
KELVARA_GEO_INLINE double angle(double y, double x, double deg) noexcept {
    // pi/2 as a double plus the rest; in degrees 90 is exact.
    constexpr double half_pi_hi = 1.5707963267948966192;
    constexpr double half_pi_lo = 6.123233995736766e-17;
    const double ax = std::fabs(x), ay = std::fabs(y);
    const bool swap = ay > ax;
    double t;
    if constexpr (Fma)
        t = std::copysign(atan_reduced<true>(pick(swap, ax, ay), pick(swap, ay, ax)), pick(swap, x, y));
    else
        t = vm::atan2(pick(swap, x, y), pick(swap, ay, ax));
    const double sy = std::copysign(1.0, y);
    // result = quarter * pi/2 + sigma * t
    const double quarter = swap ? sy : (x < 0 ? 2 * sy : 0.0);
    const double sigma = swap ? -sy : (x < 0 ? -1.0 : 1.0);
    const double hi = quarter * (deg != 0 ? 90.0 : half_pi_hi);  // exact: quarter is 0, +-1 or +-2
    const double lo = quarter * (deg != 0 ? 0.0 : half_pi_lo);
    return hi + (sigma * in_unit<Fma>(t, deg) + lo);
}

/// atan2(y, x) * k for y, x >= 0 (an angle in [0, pi/2]): as `angle`, with the one swap that
/// reduces it to [0, pi/4].
template <bool Fma = false>
KELVARA_GEO_INLINE double angle_quadrant(double y, double x, double deg) noexcept {
    constexpr double half_pi_hi = 1.5707963267948966192;
    constexpr double half_pi_lo = 6.123233995736766e-17;
    const bool swap = y > x;
    const double t = atan_reduced<Fma>(pick(swap, x, y), pick(swap, y, x));
    const double tk = in_unit<Fma>(t, deg);
    const double hi = deg != 0 ? 90.0 : half_pi_hi;
    const double lo = deg != 0 ? 0.0 : half_pi_lo;
    return swap ? hi + (lo - tk) : tk;
}

/// One Halley step on t = tan(beta) for the root of g (see from_ecef), carried on (S, C) =
/// (sin beta, cos beta) times a common factor R: with F = R g, D = R^3 dg/dt and E = R^6 times
/// Halley's denominator, t' = (S E - 2 F D R^2) / (C E), all without a division. Lengths are
/// given in units of 2^22 m; the result is kept with cos beta >= 0, and r is |(S, C)| on entry.
template <bool Fma>
KELVARA_GEO_INLINE void halley(double p, double zc, double c, double& S, double& C, double& r) noexcept {
    const double r2 = mad<Fma>(S, S, C * C);
    r = std::sqrt(r2);
    const double c3 = C * C * C;
    const double F = mad<Fma>(r, mad<Fma>(p, S, -(zc * C)), -(c * (S * C)));
    const double D = mad<Fma>(r * r2, p, -(c * c3));
    const double E = mad<Fma>(2 * D, D, -(3 * c * (F * S) * c3));
    const double sg = E < 0 ? -1.0 : 1.0;
    S = mad<Fma>(S, E, -(2 * (F * D) * r2)) * sg;
    C = C * E * sg;
}

/// The first Halley step, from the foot's value for a point on the surface, (S, C) = (|z|, b' p):
/// `halley` with the common factor p^2 taken out, so that it needs p^2 = q only and p itself
/// (whose square root then runs beside it) only at the end. e2 = 1 - b'^2.
template <bool Fma>
KELVARA_GEO_INLINE void halley_first(double q, double p, double zs, double ec, double e2, double c, double& S,
                                     double& C) noexcept {
    const double ec2 = ec * ec, cec3 = c * (ec2 * ec);
    const double r2 = mad<Fma>(ec2, q, zs * zs);
    const double r = std::sqrt(r2);
    const double G = mad<Fma>(r, e2, -(c * ec));   // F / (p |z|)
    const double H = mad<Fma>(r, r2, -(cec3 * q));  // D / p
    const double E = mad<Fma>(2 * H, H, -(3 * cec3 * ((zs * zs) * q) * G));  // E / p^2
    const double sg = E < 0 ? -1.0 : 1.0;
    S = zs * mad<Fma>(-2 * G, H * r2, E) * sg;
    C = ec * p * E * sg;
}

/// Multiplies S and C by the power of two that brings the larger into [1, 2) (exact), so that a
/// second step neither over- nor underflows.
KELVARA_GEO_INLINE void rescale(double& S, double& C) noexcept {
    const double as = std::fabs(S), ac = std::fabs(C);
    const double m = as > ac ? as : ac;
    const std::uint64_t e = std::bit_cast<std::uint64_t>(m) & 0x7ff0000000000000u;
    const double k = std::bit_cast<double>(0x7fe0000000000000u - e);
    S *= k;
    C *= k;
}

/// Geodetic latitude, longitude (radians, or degrees when deg != 0) and height (m) of an ECEF
/// position.
///
/// The reduced latitude beta of the foot of the normal solves
///   g(beta) = p sin(beta) - b' |z| cos(beta) - a e^2 sin(beta) cos(beta) = 0,   b' = 1 - f,
/// with p the distance from the axis. Two Halley steps from the foot's value for a point on the
/// surface (tan beta = |z| / (b' p)) reach the root to rounding from 1000 km below the surface to
/// far out (Fukushima 2006, J. Geodesy 79:689). The iteration carries (sin beta, cos beta) up to
/// a common factor, so that it needs no division and the axis none by p.
///
/// On the axis (p below 1e-20 |z|, the centre included) the answer is the pole of the sign of z
/// at height |z| - b: the centre itself gives latitude +-90 deg (the sign of z), height -b.
/// Within about a e^2 (43 km) of the centre several normals pass through a point, and the answer
/// is the foot of one of them, not always the nearest. Positions beyond 1e40 m give NaN.
template <bool Fma>
KELVARA_GEO_INLINE void from_ecef(double x, double y, double z, double a, double f, double deg, double& phi,
                                  double& lam, double& h) noexcept {
    // The longitude first: it is independent of the iteration, and computed ahead it overlaps
    // with it instead of waiting behind it.
    const double lon = angle<Fma>(y, x, deg);
    const double ec = 1 - f;       // b / a
    const double b = a * ec;
    const double c = a * (f * (2 - f));  // a e^2
    const double p = std::sqrt(mad<Fma>(x, x, y * y));
    const double az = std::fabs(z);
    // Lengths in units of 2^22 m (about a) inside the iteration, an exact scaling.
    constexpr double unit = 0x1p-22;
    const double xs = x * unit, ys = y * unit;
    const double ps = p * unit, zs = az * unit, cs = c * unit;
    double S, C, R;
    halley_first<Fma>(mad<Fma>(xs, xs, ys * ys), ps, zs, ec, f * (2 - f), cs, S, C);
    rescale(S, C);
    const double S1 = S, C1 = C;
    halley<Fma>(ps, ec * zs, cs, S, C, R);  // R = |(S1, C1)|
    const bool axis = !(p > 1e-20 * az);
    S = axis ? 1.0 : S;
    C = axis ? 0.0 : C;
    const double Sh = axis ? 1.0 : S1, Ch = axis ? 0.0 : C1;
    R = axis ? 1.0 : R;
    // The height is the distance along the normal at the first step's foot: (p, |z|) minus
    // (a cos beta1, b sin beta1) = (a C1, b S1) / R, onto (b' C1, S1) / Q. That distance is
    // stationary at the root, so it runs beside the second step and misses only a term second
    // order in the step's change of beta (at most 3e-11 rad from -1000 km to 1e8 m, so 1e-14 m). One division
    // each for the foot and for the normal keep the relative error of the far points' long
    // heights to about an ulp.
    const double ecCh = ec * Ch;
    const double Q = std::sqrt(mad<Fma>(Sh, Sh, ecCh * ecCh));
    const double iR = 1 / R;
    const double height = mad<Fma>(mad<Fma>(-a, Ch * iR, p), ecCh, mad<Fma>(-b, Sh * iR, az) * Sh) / Q;
    const double ecC = ec * C;
    const double lat = std::copysign(angle_quadrant<Fma>(S, ecC, deg), z);
    const double ok = nan_unless(finite3(x, y, z));
    phi = lat * ok;
    lam = lon * ok;
    h = height * ok;
}

/// East, north, up of an ECEF offset (dx, dy, dz) in the frame at (phi, lam).
KELVARA_GEO_INLINE void ecef_to_enu(const Trig& t, double dx, double dy, double dz, double& e, double& n, double& u) noexcept {
    const double w = t.clam * dx + t.slam * dy;
    e = -t.slam * dx + t.clam * dy;
    u = t.cphi * w + t.sphi * dz;
    n = -t.sphi * w + t.cphi * dz;
}

/// ECEF offset of (e, n, u) in the frame at (phi, lam).
KELVARA_GEO_INLINE void enu_to_ecef(const Trig& t, double e, double n, double u, double& dx, double& dy, double& dz) noexcept {
    const double w = t.cphi * u - t.sphi * n;
    dz = t.sphi * u + t.cphi * n;
    dx = t.clam * w - t.slam * e;
    dy = t.slam * w + t.clam * e;
}

/// Azimuth (clockwise from north, in [0, full)), elevation and slant range of (e, n, u); angles
/// in radians, or degrees when deg != 0, and `full` is 2 pi or 360 to match.
KELVARA_GEO_INLINE void enu_to_aer(double e, double n, double u, double deg, double full, double& az, double& el,
                                   double& range) noexcept {
    const double r = std::sqrt(e * e + n * n);
    range = std::sqrt(r * r + u * u);
    el = angle(u, r, deg);
    double a = angle(e, n, deg);
    a = a + (a < 0 ? full : 0.0);  // -0 becomes +0 too
    // An azimuth a hair west of north rounds up to a full turn: that is north.
    az = a >= full ? 0.0 : a;
}

/// East, north, up of (az, el, range), angles in radians.
KELVARA_GEO_INLINE void aer_to_enu(double az, double el, double range, double& e, double& n, double& u) noexcept {
    const double r = range * vm::cos(el);
    e = r * vm::sin(az);
    n = r * vm::cos(az);
    u = range * vm::sin(el);
}

// The twelve conversions, in the argument order of their Python functions. `bad` propagates NaN
// from the observer too: a non-finite observer gives NaN in every output of the point.

template <bool Fma = false>
KELVARA_GEO_INLINE void ecef2geodetic(double x, double y, double z, double a, double f, double deg, double& lat,
                          double& lon, double& h) noexcept {
    from_ecef<Fma>(x, y, z, a, f, deg, lat, lon, h);
}

template <bool Fma = false>
KELVARA_GEO_INLINE void geodetic2ecef(double lat, double lon, double h, double a, double f, double deg, double& x, double& y,
                          double& z) noexcept {
    const Trig t = trig_unit<Fma>(lat, lon, deg);
    to_ecef<Fma>(t, h, a, f, x, y, z);
    nan_unless(finite3(lat, lon, h) & lat_ok(lat, deg), x, y, z);
}

/// Trig of the observer and its ECEF position; `ok` is false when it is not finite or its
/// latitude lies beyond a pole.
struct Observer {
    Trig t;
    double x, y, z;
    bool ok;
};

KELVARA_GEO_INLINE Observer observer(double lat0, double lon0, double h0, double a, double f, double k) noexcept {
    Observer o;
    o.t = trig(lat0 * k, lon0 * k);
    to_ecef(o.t, h0, a, f, o.x, o.y, o.z);
    o.ok = finite3(lat0, lon0, h0) & (std::fabs(lat0) <= (k == 1.0 ? pi / 2 : 90.0));
    return o;
}


KELVARA_GEO_INLINE void ecef2enu(double x, double y, double z, double lat0, double lon0, double h0, double a, double f,
                     double deg, double& e, double& n, double& u) noexcept {
    const Observer o = observer(lat0, lon0, h0, a, f, unit_in(deg));
    ecef_to_enu(o.t, x - o.x, y - o.y, z - o.z, e, n, u);
    nan_unless(o.ok & finite3(x, y, z), e, n, u);
}

KELVARA_GEO_INLINE void enu2ecef(double e, double n, double u, double lat0, double lon0, double h0, double a, double f,
                     double deg, double& x, double& y, double& z) noexcept {
    const Observer o = observer(lat0, lon0, h0, a, f, unit_in(deg));
    double dx, dy, dz;
    enu_to_ecef(o.t, e, n, u, dx, dy, dz);
    x = o.x + dx;
    y = o.y + dy;
    z = o.z + dz;
    nan_unless(o.ok & finite3(e, n, u), x, y, z);
}

KELVARA_GEO_INLINE void geodetic2enu(double lat, double lon, double h, double lat0, double lon0, double h0, double a,
                         double f, double deg, double& e, double& n, double& u) noexcept {
    const double k = unit_in(deg);
    const Observer o = observer(lat0, lon0, h0, a, f, k);
    double x, y, z;
    to_ecef(trig(lat * k, lon * k), h, a, f, x, y, z);
    ecef_to_enu(o.t, x - o.x, y - o.y, z - o.z, e, n, u);
    nan_unless(o.ok & finite3(lat, lon, h) & lat_ok(lat, deg), e, n, u);
}

template <bool Fma = false>
KELVARA_GEO_INLINE void enu2geodetic(double e, double n, double u, double lat0, double lon0, double h0, double a,
                         double f, double deg, double& lat, double& lon, double& h) noexcept {
    double x, y, z;
    enu2ecef(e, n, u, lat0, lon0, h0, a, f, deg, x, y, z);
    ecef2geodetic<Fma>(x, y, z, a, f, deg, lat, lon, h);
}

KELVARA_GEO_INLINE void enu2aer(double e, double n, double u, double deg, double& az, double& el, double& range) noexcept {
    enu_to_aer(e, n, u, deg, deg != 0 ? 360.0 : two_pi, az, el, range);
    nan_unless(finite3(e, n, u), az, el, range);
}

KELVARA_GEO_INLINE void aer2enu(double az, double el, double range, double deg, double& e, double& n, double& u) noexcept {
    const double k = unit_in(deg);
    aer_to_enu(az * k, el * k, range, e, n, u);
    nan_unless(finite3(az, el, range), e, n, u);
}

KELVARA_GEO_INLINE void ecef2aer(double x, double y, double z, double lat0, double lon0, double h0, double a, double f,
                     double deg, double& az, double& el, double& range) noexcept {
    double e, n, u;
    ecef2enu(x, y, z, lat0, lon0, h0, a, f, deg, e, n, u);
    enu2aer(e, n, u, deg, az, el, range);
}

KELVARA_GEO_INLINE void aer2ecef(double az, double el, double range, double lat0, double lon0, double h0, double a,
                     double f, double deg, double& x, double& y, double& z) noexcept {
    double e, n, u;
    aer2enu(az, el, range, deg, e, n, u);
    enu2ecef(e, n, u, lat0, lon0, h0, a, f, deg, x, y, z);
}

KELVARA_GEO_INLINE void geodetic2aer(double lat, double lon, double h, double lat0, double lon0, double h0, double a,
                         double f, double deg, double& az, double& el, double& range) noexcept {
    double e, n, u;
    geodetic2enu(lat, lon, h, lat0, lon0, h0, a, f, deg, e, n, u);
    enu2aer(e, n, u, deg, az, el, range);
}

template <bool Fma = false>
KELVARA_GEO_INLINE void aer2geodetic(double az, double el, double range, double lat0, double lon0, double h0, double a,
                         double f, double deg, double& lat, double& lon, double& h) noexcept {
    double x, y, z;
    aer2ecef(az, el, range, lat0, lon0, h0, a, f, deg, x, y, z);
    ecef2geodetic<Fma>(x, y, z, a, f, deg, lat, lon, h);
}

}  // namespace kelvara::geodesy::batch
