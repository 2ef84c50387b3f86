// Per-epoch kernels of the Sun and the Moon over ERFA: plain doubles in and out, no Python.
// The order of the arithmetic fixes every result to the last bit; keep it as written.
#pragma once

#include <cmath>

#include <erfa.h>

namespace kelvara::ephemeris {

inline constexpr double au_m = 149597870700.0;               // astronomical unit, m
inline constexpr double c_au_per_day = 173.14463267424034;   // speed of light, au/day
inline constexpr double au_per_day_to_m_per_s = 1731456.8368055555;  // au_m / 86400

/// Geocentric GCRF position of the Sun (m) at the two-part TT date jd0 + jd1: the direction to
/// the Sun as seen from the moving Earth (annual aberration) times the Sun-Earth distance.
/// The date goes to eraEpv00 unchanged (TT stands in for TDB) and its status, which only flags
/// dates beyond 1900-2100, is not an error here.
inline void sun_position(double jd0, double jd1, double r[3]) noexcept {
    double pvh[2][3], pvb[2][3];
    (void)eraEpv00(jd0, jd1, pvh, pvb);
    const double d = std::sqrt((pvh[0][0] * pvh[0][0] + pvh[0][1] * pvh[0][1]) + pvh[0][2] * pvh[0][2]);
    double u[3], beta[3], p[3];
    for (int k = 0; k < 3; ++k) u[k] = -pvh[0][k] / d;                 // Earth -> Sun, unit
    for (int k = 0; k < 3; ++k) beta[k] = pvb[1][k] / c_au_per_day;    // Earth velocity / c
    const double bm1 = std::sqrt(((1.0 - beta[0] * beta[0]) - beta[1] * beta[1]) - beta[2] * beta[2]);
    eraAb(u, beta, d, bm1, p);
    for (int k = 0; k < 3; ++k) r[k] = p[k] * d * au_m;
}

/// Geocentric GCRS position (m) and velocity (m/s) of the Moon at the two-part TT date.
inline void moon_state(double jd0, double jd1, double r[3], double v[3]) noexcept {
    double pv[2][3];
    eraMoon98(jd0, jd1, pv);
    for (int k = 0; k < 3; ++k) r[k] = pv[0][k] * au_m;
    for (int k = 0; k < 3; ++k) v[k] = pv[1][k] * au_per_day_to_m_per_s;
}

}  // namespace kelvara::ephemeris
