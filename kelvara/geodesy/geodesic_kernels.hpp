// Geodesics on the ellipsoid of revolution: the inverse and direct problems and the area under
// a geodesic edge, after C. F. F. Karney, "Algorithms for geodesics", J. Geodesy 87:43-55
// (2013). Pure C++: no interpreter calls, no allocation, no exceptions.
//
// The geodesic is mapped onto the auxiliary sphere (reduced latitude beta, arc length sigma,
// spherical longitude omega); distance and longitude are the sphere's plus the series of the
// paper in the third flattening n and in eps = (sqrt(1 + k^2) - 1) / (sqrt(1 + k^2) + 1),
// carried to sixth order, which keeps the truncation below the rounding for |f| <= 1/50. The
// inverse problem is a Newton iteration on the azimuth at the first point, bracketed so that it
// always converges, from the paper's starting guesses: the spherical solution, the short-line
// one, and near the antipode the solution of the astroid equation.
//
// The inverse problem runs a point at a time (it iterates a different number of times per
// point); the direct problem runs the points of a block in vector lanes (direct_lanes). Either
// way every point runs the same arithmetic at every vector level, so a point gives the same
// bits alone, in any lane, on any thread. The ellipsoid-free pieces and the series in eps are
// in geodesic_series.hpp. Sines, cosines and arctangents are geodesy's own
// (sincos_fma, angle<true>), exact to about an ulp, with exact reduction of degrees.
#pragma once

#include "geodesic_series.hpp"

#include <cmath>

namespace kelvara::geodesy::geodesic {

/// What the series need of one ellipsoid: its constants and the coefficients in n of A3, C3
/// and C4, polynomials in eps once n is fixed.
struct Ellipsoid {
    double a, f, f1, e2, ep2, n, b, c2, etol2;
    double A3x[order];           // A3 = sum_j A3x[j] eps^j
    double C3x[order][order];    // C3[l] = sum_j C3x[l][j] eps^j, l = 1..5
    double C4x[order][order];    // C4[l] = sum_j C4x[l][j] eps^j, l = 0..5

    void set(double a_, double f_) noexcept {
        a = a_;
        f = f_;
        f1 = 1 - f;
        e2 = f * (2 - f);
        ep2 = e2 / sq(f1);
        n = f / (2 - f);
        b = a * f1;
        // authalic radius squared: (a^2 + b^2 atanh(e) / e) / 2
        const double e = std::sqrt(std::fabs(e2));
        const double r = e2 == 0 ? 1.0 : (e2 > 0 ? std::atanh(e) : std::atan(e)) / e;
        c2 = (sq(a) + sq(b) * r) / 2;
        etol2 = 0.1 * tol2 / std::sqrt(std::max(0.001, std::fabs(f)) * std::min(1.0, 1 - f / 2) / 2);
        const double n2 = n * n;
        A3x[0] = 1;
        A3x[1] = -(1 - n) / 2;
        A3x[2] = -(1.0 / 4 + n / 8 - 3 * n2 / 8);
        A3x[3] = -(1.0 / 16 + 3 * n / 16 + n2 / 16);
        A3x[4] = -(3.0 / 64 + n / 32);
        A3x[5] = -3.0 / 128;
        for (auto& row : C3x)
            for (double& v : row) v = 0;
        C3x[1][1] = (1 - n) / 4;
        C3x[1][2] = (1 - n2) / 8;
        C3x[1][3] = (3 + 3 * n - n2) / 64;
        C3x[1][4] = (5 + 2 * n) / 128;
        C3x[1][5] = 3.0 / 128;
        C3x[2][2] = (2 - 3 * n + n2) / 32;
        C3x[2][3] = (3 - 2 * n - 3 * n2) / 64;
        C3x[2][4] = (3 + n) / 128;
        C3x[2][5] = 5.0 / 256;
        C3x[3][3] = (5 - 9 * n + 5 * n2) / 192;
        C3x[3][4] = (9 - 10 * n) / 384;
        C3x[3][5] = 7.0 / 512;
        C3x[4][4] = (7 - 14 * n) / 512;
        C3x[4][5] = 7.0 / 512;
        C3x[5][5] = 21.0 / 2560;
        set_C4();
    }

    void set_C4() noexcept;

    KELVARA_GEO_INLINE double A3(double eps) const noexcept { return poly(A3x, order, eps); }

    /// C3[l], l = 1..5, the sine coefficients of the longitude integral I3.
    KELVARA_GEO_INLINE void C3(double eps, double* c) const noexcept {
        #pragma GCC unroll 8
        for (int l = 1; l < order; ++l) c[l] = poly(C3x[l], order, eps);
    }

    /// C4[l], l = 0..5, the cosine coefficients of the area integral I4.
    KELVARA_GEO_INLINE void C4(double eps, double* c) const noexcept {
        #pragma GCC unroll 8
        for (int l = 0; l < order; ++l) c[l] = poly(C4x[l], order, eps);
    }
};

/// The area series: I4(sigma) = sum_l C4[l] cos((2l+1) sigma), with
/// I4 = -int_{pi/2}^{sigma} (t(e'^2) - t(k^2 sin^2 s)) / (e'^2 - k^2 sin^2 s) sin(s) / 2 ds and
/// t(x) = x + sqrt(1/x + 1) asinh(sqrt x), expanded in n and eps to fifth order in all.
inline void Ellipsoid::set_C4() noexcept {
    for (auto& row : C4x)
        for (double& v : row) v = 0;
    C4x[0][0] = (((((20.0 / 9009) * n + 16.0 / 3465) * n + 4.0 / 315) * n + 8.0 / 105) * n + -4.0 / 15) * n + 2.0 / 3;
    C4x[0][1] = ((((64.0 / 15015) * n + 16.0 / 385) * n + -32.0 / 105) * n + 16.0 / 35) * n + -1.0 / 5;
    C4x[0][2] = (((-1184.0 / 5005) * n + 1088.0 / 3465) * n + -32.0 / 315) * n + -2.0 / 105;
    C4x[0][3] = ((-32.0 / 6435) * n + -368.0 / 3465) * n + 11.0 / 315;
    C4x[0][4] = (1088.0 / 45045) * n + 4.0 / 1155;
    C4x[0][5] = 97.0 / 15015;
    C4x[1][1] = ((((-64.0 / 135135) * n + -16.0 / 3465) * n + 32.0 / 945) * n + -16.0 / 315) * n + 1.0 / 45;
    C4x[1][2] = (((1984.0 / 45045) * n + -128.0 / 1485) * n + 64.0 / 945) * n + -2.0 / 105;
    C4x[1][3] = ((5792.0 / 135135) * n + 16.0 / 2079) * n + -1.0 / 105;
    C4x[1][4] = (-2944.0 / 135135) * n + 4.0 / 1155;
    C4x[1][5] = 1.0 / 9009;
    C4x[2][2] = (((-32.0 / 5005) * n + 64.0 / 3465) * n + -32.0 / 1575) * n + 4.0 / 525;
    C4x[2][3] = ((-256.0 / 6825) * n + 128.0 / 5775) * n + -8.0 / 1575;
    C4x[2][4] = (1856.0 / 225225) * n + -8.0 / 1925;
    C4x[2][5] = 8.0 / 10725;
    C4x[3][3] = ((512.0 / 45045) * n + -256.0 / 24255) * n + 8.0 / 2205;
    C4x[3][4] = (1024.0 / 105105) * n + -16.0 / 8085;
    C4x[3][5] = -136.0 / 63063;
    C4x[4][4] = (-512.0 / 81081) * n + 64.0 / 31185;
    C4x[4][5] = -128.0 / 135135;
    C4x[5][5] = 128.0 / 99099;
}

/// eps of a geodesic with k^2 = ep2 cos^2 alpha0.
KELVARA_GEO_INLINE double eps_of(double k2) noexcept { return k2 / (2 * (1 + std::sqrt(1 + k2)) + k2); }

/// Distance s12b and reduced length m12b (both in units of b) along an arc sigma12 between
/// the points (ssig, csig, dn) 1 and 2 of a geodesic with parameter eps; m0 = A1 - A2.
struct Lengths {
    double s12b, m12b, m0;
};

KELVARA_GEO_INLINE Lengths lengths(double eps, double sig12, double ssig1, double csig1, double dn1, double ssig2,
                       double csig2, double dn2, bool want_s) noexcept {
    double c1[order + 1], c2[order + 1];
    const double a1m1 = A1m1(eps), a2m1 = A2m1(eps);
    C1(eps, c1);
    C2(eps, c2);
    const double A1 = 1 + a1m1, A2 = 1 + a2m1;
    const double B1 = sin_series(ssig2, csig2, c1, order) - sin_series(ssig1, csig1, c1, order);
    const double B2 = sin_series(ssig2, csig2, c2, order) - sin_series(ssig1, csig1, c2, order);
    Lengths r;
    r.m0 = a1m1 - a2m1;
    r.s12b = want_s ? A1 * (sig12 + B1) : 0.0;
    const double J12 = r.m0 * sig12 + (A1 * B1 - A2 * B2);
    r.m12b = dn2 * (csig1 * ssig2) - dn1 * (ssig1 * csig2) - csig1 * csig2 * J12;
    return r;
}

/// The positive root k of k^4 + 2 k^3 - (x^2 + y^2 - 1) k^2 - 2 y^2 k - y^2 = 0 (the astroid
/// equation of the near-antipodal geodesic), or 0 where there is none (y = 0, x^2 <= 1).
KELVARA_GEO_INLINE double astroid(double x, double y) noexcept {
    const double p = sq(x), q = sq(y), r = (p + q - 1) / 6;
    if (q == 0 && r <= 0) return 0;
    const double S = p * q / 4, r2 = sq(r), r3 = r * r2;
    const double disc = S * (S + 2 * r3);
    double u = r;
    if (disc >= 0) {
        double T3 = S + r3;
        // the sign that avoids cancellation
        T3 += T3 < 0 ? -std::sqrt(disc) : std::sqrt(disc);
        const double T = std::cbrt(T3);
        u += T + (T != 0 ? r2 / T : 0);
    } else {
        const double ang = atan2r(std::sqrt(-disc), -(S + r3));
        double sa, ca;
        sincosr(ang / 3, sa, ca);
        u += 2 * r * ca;
    }
    const double v = std::sqrt(sq(u) + q);
    const double uv = u < 0 ? q / (v - u) : u + v;  // u + v without cancellation
    const double w = (uv - q) / (2 * v);
    return uv / (std::sqrt(uv + sq(w)) + w);
}

/// The state of the inverse problem on the auxiliary sphere, point 1 at latitude <= 0 with
/// |beta1| >= |beta2| and the longitude difference in [0, 180].
struct Sphere {
    double sbet1, cbet1, dn1, sbet2, cbet2, dn2;
    double slam12, clam12, lam12;
};

/// First guess of alpha1 (salp1, calp1); when the line is short enough to be solved outright,
/// also alpha2 and sigma12 >= 0 (returned) and dnm. Returns -1 otherwise.
KELVARA_GEO_INLINE double inverse_start(const Ellipsoid& E, const Sphere& P, double& salp1, double& calp1, double& salp2,
                            double& calp2, double& dnm) noexcept {
    const double sbet1 = P.sbet1, cbet1 = P.cbet1, sbet2 = P.sbet2, cbet2 = P.cbet2;
    double sig12 = -1;
    const double sbet12 = sbet2 * cbet1 - cbet2 * sbet1;   // sin(beta2 - beta1)
    const double cbet12 = cbet2 * cbet1 + sbet2 * sbet1;
    const double sbet12a = sbet2 * cbet1 + cbet2 * sbet1;  // sin(beta2 + beta1)
    const bool shortline = cbet12 >= 0 && sbet12 < 0.5 && cbet2 * P.lam12 < 0.5;
    double somg12, comg12;
    if (shortline) {
        // the spherical solution on a sphere scaled to the mean latitude's
        double sbetm2 = sq(sbet1 + sbet2);
        sbetm2 /= sbetm2 + sq(cbet1 + cbet2);
        dnm = std::sqrt(1 + E.ep2 * sbetm2);
        const double omg12 = P.lam12 / (E.f1 * dnm);
        sincosr(omg12, somg12, comg12);
    } else {
        somg12 = P.slam12;
        comg12 = P.clam12;
    }
    salp1 = cbet2 * somg12;
    calp1 = comg12 >= 0 ? sbet12 + cbet2 * sbet1 * sq(somg12) / (1 + comg12)
                        : sbet12a - cbet2 * sbet1 * sq(somg12) / (1 - comg12);
    const double ssig12 = hyp(salp1, calp1);
    const double csig12 = sbet1 * sbet2 + cbet1 * cbet2 * comg12;
    if (shortline && ssig12 < E.etol2) {
        // short enough that the scaled sphere is the answer
        salp2 = cbet1 * somg12;
        calp2 = sbet12 - cbet1 * sbet2 * (comg12 >= 0 ? sq(somg12) / (1 + comg12) : 1 - comg12);
        norm(salp2, calp2);
        sig12 = atan2r(ssig12, csig12);
    } else if (std::fabs(E.n) > 0.1 || csig12 >= 0 || ssig12 >= 6 * std::fabs(E.n) * pi * sq(cbet1)) {
        // not near the antipode: the spherical guess will do
    } else {
        // Near the antipode: scaled coordinates (x, y) of the second point about the antipode
        // of the first, and the astroid's solution for alpha1.
        const double lam12x = atan2r(-P.slam12, -P.clam12);  // lam12 - pi
        double x, y, lamscale, betscale;
        if (E.f >= 0) {
            const double k2 = sq(sbet1) * E.ep2;
            const double eps = eps_of(k2);
            lamscale = E.f * cbet1 * E.A3(eps) * pi;
            betscale = lamscale * cbet1;
            x = lam12x / lamscale;
            y = sbet12a / betscale;
        } else {
            const double cbet12a = cbet2 * cbet1 - sbet2 * sbet1;
            const double bet12a = atan2r(sbet12a, cbet12a);
            const Lengths l = lengths(E.n, pi + bet12a, sbet1, -cbet1, P.dn1, sbet2, cbet2, P.dn2, false);
            x = -1 + l.m12b / (cbet1 * cbet2 * l.m0 * pi);
            betscale = x < -0.01 ? sbet12a / x : -E.f * sq(cbet1) * pi;
            lamscale = betscale / cbet1;
            y = lam12x / lamscale;
        }
        if (y > -tol1 && x > -1 - xthresh) {
            // on the astroid's axis: the guess in closed form
            if (E.f >= 0) {
                salp1 = std::min(1.0, -x);
                calp1 = -std::sqrt(1 - sq(salp1));
            } else {
                calp1 = std::max(x > -tol1 ? 0.0 : -1.0, x);
                salp1 = std::sqrt(1 - sq(calp1));
            }
        } else {
            const double k = astroid(x, y);
            const double omg12a = lamscale * (E.f >= 0 ? -x * k / (1 + k) : -y * (1 + k) / k);
            double so, co;
            sincosr(omg12a, so, co);
            co = -co;
            salp1 = cbet2 * so;
            calp1 = sbet12a - cbet2 * sbet1 * sq(so) / (1 - co);
        }
    }
    if (!(salp1 <= 0))
        norm(salp1, calp1);
    else {
        salp1 = 1;
        calp1 = 0;
    }
    return sig12;
}

/// The geodesic leaving point 1 at (salp1, calp1), followed to the latitude of point 2.
struct Lambda {
    double lam12;     // its longitude difference minus the target's (the Newton residual)
    double salp2, calp2, sig12, ssig1, csig1, ssig2, csig2, eps, domg12;
    double dlam12;    // d lam12 / d alpha1
};

KELVARA_GEO_INLINE Lambda lambda12(const Ellipsoid& E, const Sphere& P, double salp1, double calp1, bool diffp) noexcept {
    const double sbet1 = P.sbet1, cbet1 = P.cbet1, sbet2 = P.sbet2, cbet2 = P.cbet2;
    Lambda L;
    if (sbet1 == 0 && calp1 == 0) calp1 = -tiny;  // an equatorial start: break the degeneracy
    const double salp0 = salp1 * cbet1;
    const double calp0 = hyp(calp1, salp1 * sbet1);
    L.ssig1 = sbet1;
    const double somg1 = salp0 * sbet1;
    L.csig1 = calp1 * cbet1;
    const double comg1 = L.csig1;
    norm(L.ssig1, L.csig1);
    // alpha2 from Clairaut's relation, with cos alpha2 computed without cancellation
    L.salp2 = cbet2 != cbet1 ? salp0 / cbet2 : salp1;
    L.calp2 = cbet2 != cbet1 || std::fabs(sbet2) != -sbet1
                  ? std::sqrt(sq(calp1 * cbet1) + (cbet1 < -sbet1 ? (cbet2 - cbet1) * (cbet1 + cbet2)
                                                                   : (sbet1 - sbet2) * (sbet1 + sbet2))) / cbet2
                  : std::fabs(calp1);
    L.ssig2 = sbet2;
    const double somg2 = salp0 * sbet2;
    L.csig2 = L.calp2 * cbet2;
    const double comg2 = L.csig2;
    norm(L.ssig2, L.csig2);
    L.sig12 = atan2r(std::max(0.0, L.csig1 * L.ssig2 - L.ssig1 * L.csig2), L.csig1 * L.csig2 + L.ssig1 * L.ssig2);
    const double somg12 = std::max(0.0, comg1 * somg2 - somg1 * comg2);
    const double comg12 = comg1 * comg2 + somg1 * somg2;
    // omega12 - lam12 of the target, as one angle
    const double eta = atan2r(somg12 * P.clam12 - comg12 * P.slam12, comg12 * P.clam12 + somg12 * P.slam12);
    const double k2 = sq(calp0) * E.ep2;
    L.eps = eps_of(k2);
    double c3[order];
    E.C3(L.eps, c3);
    const double B312 = sin_series(L.ssig2, L.csig2, c3, order - 1) - sin_series(L.ssig1, L.csig1, c3, order - 1);
    L.domg12 = -E.f * E.A3(L.eps) * salp0 * (L.sig12 + B312);
    L.lam12 = eta + L.domg12;
    L.dlam12 = 0;
    if (diffp) {
        if (L.calp2 == 0)
            L.dlam12 = -2 * E.f1 * P.dn1 / sbet1;
        else {
            const Lengths l = lengths(L.eps, L.sig12, L.ssig1, L.csig1, P.dn1, L.ssig2, L.csig2, P.dn2, false);
            L.dlam12 = l.m12b * E.f1 / (L.calp2 * cbet2);
        }
    }
    return L;
}

/// Sine and cosine of the reduced latitude of a geodetic latitude in degrees, cos kept positive.
KELVARA_GEO_INLINE void reduced(const Ellipsoid& E, double lat, double& sbet, double& cbet) noexcept {
    sincosd(lat, sbet, cbet);
    sbet *= E.f1;
    norm(sbet, cbet);
    cbet = std::max(tiny, cbet);
}

/// Area between the geodesic edge and the equator, with the edge's azimuths at its ends and its
/// points on the auxiliary sphere (the frame of `inverse`, before the sign changes).
KELVARA_GEO_INLINE double edge_area(const Ellipsoid& E, double sbet1, double cbet1, double sbet2, double cbet2, double salp1,
                        double calp1, double salp2, double calp2, bool meridian, double somg12,
                        double comg12) noexcept {
    const double salp0 = salp1 * cbet1, calp0 = hyp(calp1, salp1 * sbet1);
    double S12 = 0;
    if (calp0 != 0 && salp0 != 0) {
        double ssig1 = sbet1, csig1 = calp1 * cbet1, ssig2 = sbet2, csig2 = calp2 * cbet2;
        const double eps = eps_of(sq(calp0) * E.ep2);
        const double A4 = sq(E.a) * calp0 * salp0 * E.e2;
        norm(ssig1, csig1);
        norm(ssig2, csig2);
        double c4[order];
        E.C4(eps, c4);
        S12 = A4 * (cos_series(ssig2, csig2, c4, order) - cos_series(ssig1, csig1, c4, order));
    }
    double alp12;
    if (!meridian && comg12 > -0.7071 && sbet2 - sbet1 < 1.75) {
        // alpha2 - alpha1 from the spherical excess of the edge's triangle with the pole,
        // accurate for short lines
        const double domg12 = 1 + comg12, dbet1 = 1 + cbet1, dbet2 = 1 + cbet2;
        alp12 = 2 * atan2r(somg12 * (sbet1 * dbet2 + sbet2 * dbet1), domg12 * (sbet1 * sbet2 + dbet1 * dbet2));
    } else {
        double salp12 = salp2 * calp1 - calp2 * salp1;
        double calp12 = calp2 * calp1 + salp2 * salp1;
        if (salp12 == 0 && calp12 < 0) {
            salp12 = tiny * calp1;
            calp12 = -1;
        }
        alp12 = atan2r(salp12, calp12);
    }
    return S12 + E.c2 * alp12;
}

/// The result of the inverse problem: distance (m), azimuths in (-180, 180] degrees, the area
/// between the geodesic and the equator (m^2; only when asked for).
struct Inverse {
    double s12, azi1, azi2, S12;
};

/// The inverse problem between (lat1, lon1) and (lat2, lon2) in degrees; NaN where a latitude is
/// beyond +-90 or any input is not finite.
KELVARA_GEO_INLINE Inverse inverse(const Ellipsoid& E, double lat1, double lon1, double lat2, double lon2, bool area) noexcept {
    Inverse R;
    if (!(std::fabs(lat1) <= 90 && std::fabs(lat2) <= 90 && std::fabs(lon1) <= DBL_MAX &&
          std::fabs(lon2) <= DBL_MAX)) {
        R.s12 = R.azi1 = R.azi2 = R.S12 = NAN;
        return R;
    }
    // Reduce to lon12 in [0, 180], lat1 <= 0 and |lat1| >= |lat2|; the signs come back at the end.
    double lon12s;
    double lon12 = ang_diff(lon1, lon2, lon12s);
    double lonsign = std::signbit(lon12) ? -1 : 1;
    lon12 *= lonsign;
    lon12s *= lonsign;
    Sphere P;
    P.lam12 = lon12 * degree;
    sincosde(lon12, lon12s, P.slam12, P.clam12);
    lon12s = (180 - lon12) - lon12s;  // the supplement, for the equatorial test
    lat1 = ang_round(lat1);
    lat2 = ang_round(lat2);
    const double swapp = std::fabs(lat1) < std::fabs(lat2) || std::isnan(lat2) ? -1 : 1;
    if (swapp < 0) {
        lonsign = -lonsign;
        std::swap(lat1, lat2);
    }
    const double latsign = std::signbit(lat1) ? 1 : -1;
    lat1 *= latsign;
    lat2 *= latsign;
    double sbet1, cbet1, sbet2, cbet2;
    reduced(E, lat1, sbet1, cbet1);
    reduced(E, lat2, sbet2, cbet2);
    // Make |beta1| = |beta2| exact when the latitudes are opposite or equal in magnitude: the
    // tests below rely on it.
    if (cbet1 < -sbet1) {
        if (cbet2 == cbet1) sbet2 = std::copysign(sbet1, sbet2);
    } else if (std::fabs(sbet2) == -sbet1) {
        cbet2 = cbet1;
    }
    P.sbet1 = sbet1;
    P.cbet1 = cbet1;
    P.sbet2 = sbet2;
    P.cbet2 = cbet2;
    P.dn1 = std::sqrt(1 + E.ep2 * sq(sbet1));
    P.dn2 = std::sqrt(1 + E.ep2 * sq(sbet2));

    double s12x = 0, salp1 = 0, calp1 = 0, salp2 = 0, calp2 = 0;
    double somg12 = 2, comg12 = 0;  // somg12 = 2: not computed yet
    double omg12 = 0;
    bool meridian = lat1 == -90 || P.slam12 == 0;
    if (meridian) {
        // along a meridian (or through the pole): alpha1 = lam12, alpha2 = 0
        calp1 = P.clam12;
        salp1 = P.slam12;
        calp2 = 1;
        salp2 = 0;
        const double ssig1 = sbet1, csig1 = calp1 * cbet1, ssig2 = sbet2, csig2 = calp2 * cbet2;
        double sig12 = atan2r(std::max(0.0, csig1 * ssig2 - ssig1 * csig2), csig1 * csig2 + ssig1 * ssig2);
        const Lengths l = lengths(E.n, sig12, ssig1, csig1, P.dn1, ssig2, csig2, P.dn2, true);
        if (sig12 < 1 || l.m12b >= 0) {
            s12x = l.s12b;
            if (sig12 < 3 * tiny || (sig12 < tol0 && (s12x < 0 || l.m12b < 0))) s12x = 0;  // coincident
            s12x *= E.b;
        } else {
            meridian = false;  // the meridian is not the shortest way (a prolate ellipsoid)
        }
    }
    if (!meridian && sbet1 == 0 && (E.f <= 0 || lon12s >= E.f * 180)) {
        // along the equator, while it is the shortest way (up to the antipode's neighbourhood)
        calp1 = calp2 = 0;
        salp1 = salp2 = 1;
        s12x = E.a * P.lam12;
        omg12 = P.lam12 / E.f1;
        sincosr(omg12, somg12, comg12);
    } else if (!meridian) {
        double dnm = 1;
        double sig12 = inverse_start(E, P, salp1, calp1, salp2, calp2, dnm);
        if (sig12 >= 0) {
            s12x = sig12 * E.b * dnm;
            omg12 = P.lam12 / (E.f1 * dnm);
            sincosr(omg12, somg12, comg12);
        } else {
            // Newton on alpha1, inside a bracket [alpha1a, alpha1b] of the root that shrinks as
            // the residual's sign is seen; bisection when a step leaves it or stalls.
            double salp1a = tiny, calp1a = 1, salp1b = tiny, calp1b = -1;
            bool tripn = false, tripb = false;
            Lambda L{};
            for (int numit = 0; numit < maxit2; ++numit) {
                L = lambda12(E, P, salp1, calp1, numit < maxit1);
                const double v = L.lam12;
                if (tripb || !(std::fabs(v) >= (tripn ? 8 : 1) * tol0)) break;
                if (v > 0 && (numit > maxit1 || calp1 / salp1 > calp1b / salp1b)) {
                    salp1b = salp1;
                    calp1b = calp1;
                } else if (v < 0 && (numit > maxit1 || calp1 / salp1 < calp1a / salp1a)) {
                    salp1a = salp1;
                    calp1a = calp1;
                }
                if (numit < maxit1 && L.dlam12 > 0) {
                    const double dalp1 = -v / L.dlam12;
                    if (std::fabs(dalp1) < pi) {
                        double sdalp1, cdalp1;
                        sincosr(dalp1, sdalp1, cdalp1);
                        const double nsalp1 = salp1 * cdalp1 + calp1 * sdalp1;
                        if (nsalp1 > 0) {
                            calp1 = calp1 * cdalp1 - salp1 * sdalp1;
                            salp1 = nsalp1;
                            norm(salp1, calp1);
                            tripn = std::fabs(v) <= 16 * tol0;  // near the root: one step more
                            continue;
                        }
                    }
                }
                salp1 = (salp1a + salp1b) / 2;
                calp1 = (calp1a + calp1b) / 2;
                norm(salp1, calp1);
                tripn = false;
                tripb = std::fabs(salp1a - salp1) + (calp1a - calp1) < tolb ||
                        std::fabs(salp1 - salp1b) + (calp1 - calp1b) < tolb;
            }
            salp2 = L.salp2;
            calp2 = L.calp2;
            const Lengths l = lengths(L.eps, L.sig12, L.ssig1, L.csig1, P.dn1, L.ssig2, L.csig2, P.dn2, true);
            s12x = l.s12b * E.b;
            if (area) {
                double sd, cd;
                sincosr(L.domg12, sd, cd);
                somg12 = P.slam12 * cd - P.clam12 * sd;
                comg12 = P.clam12 * cd + P.slam12 * sd;
            }
        }
    }
    R.s12 = 0.0 + s12x;
    R.S12 = 0;
    if (area)
        R.S12 = (0.0 + edge_area(E, sbet1, cbet1, sbet2, cbet2, salp1, calp1, salp2, calp2, meridian, somg12,
                                 comg12)) * (swapp * lonsign * latsign) + 0.0;
    if (swapp < 0) {
        std::swap(salp1, salp2);
        std::swap(calp1, calp2);
    }
    salp1 *= swapp * lonsign;
    calp1 *= swapp * latsign;
    salp2 *= swapp * lonsign;
    calp2 *= swapp * latsign;
    R.azi1 = atan2d(salp1, calp1);
    R.azi2 = atan2d(salp2, calp2);
    return R;
}

/// rem360 without branches, for the vector loops: exact for |x| < 2^44 (beyond, within a few
/// units of 360's last place).
KELVARA_GEO_INLINE double rem360_lanes(double x) noexcept {
    const double q = std::nearbyint(x / 360);
    double r = x - 360 * q;
    r = r > 180 ? r - 360 : (r < -180 ? r + 360 : r);
    return std::fabs(x) <= 180 ? x : r;
}

/// The direct problem: from (lat1, lon1) in degrees along azimuth azi1 (degrees) for s12 metres;
/// lat2, lon2 in [-180, 180) and azi2 in (-180, 180] degrees. NaN where an input is not finite
/// or the latitude is beyond +-90. lon1 and azi1 come reduced to [-180, 180] (rem360).
///
/// Without branches on the point, so that a `#pragma omp simd` loop over it vectorises with
/// the ellipsoid shared by the lanes; a point gives the same bits in a vector lane as alone.
KELVARA_GEO_INLINE void direct(const Ellipsoid& E, double lat1, double lon1, double azi1, double s12, double& lat2,
                               double& lon2, double& azi2) noexcept {
    // factors rather than a branch (1 or NaN)
    const double bad = kb::nan_unless(std::fabs(lat1) <= 90) * kb::nan_unless(kb::finite3(lon1, azi1, s12));
    const double azr = std::fabs(azi1) == 180 ? std::copysign(180.0, azi1) : azi1;
    double salp1, calp1;
    sincosd(ang_round(azr), salp1, calp1);
    double sbet1, cbet1;
    reduced(E, ang_round(lat1), sbet1, cbet1);
    // the geodesic's equator crossing (alpha0) and its start on the auxiliary sphere
    const double salp0 = salp1 * cbet1;
    const double calp0 = hyp(calp1, salp1 * sbet1);
    double ssig1 = sbet1;
    const double somg1 = salp0 * sbet1;
    double csig1 = kb::pick((sbet1 != 0) | (calp1 != 0), cbet1 * calp1, 1.0);
    const double comg1 = csig1;
    norm(ssig1, csig1);
    const double k2 = sq(calp0) * E.ep2;
    const double eps = eps_of(k2);
    const double a1m1 = A1m1(eps);
    double c1[order + 1], c1p[order + 1], c3[order];
    C1(eps, c1);
    C1p(eps, c1p);
    E.C3(eps, c3);
    const double B11 = sin_series(ssig1, csig1, c1, order);
    double sb, cb;
    sincosr(B11, sb, cb);
    const double stau1 = ssig1 * cb + csig1 * sb, ctau1 = csig1 * cb - ssig1 * sb;
    const double A3c = -E.f * salp0 * E.A3(eps);
    const double B31 = sin_series(ssig1, csig1, c3, order - 1);
    // sigma12 from tau12 = s12 / (b A1) through the reverted series
    const double tau12 = s12 / (E.b * (1 + a1m1));
    double st, ct;
    sincosr(tau12, st, ct);
    double B12 = -sin_series(stau1 * ct + ctau1 * st, ctau1 * ct - stau1 * st, c1p, order);
    double sig12 = tau12 - (B12 - B11);
    double ssig12, csig12;
    sincosr(sig12, ssig12, csig12);
    if (std::fabs(E.f) > 0.01) {
        // one Newton step on the distance for the flatter ellipsoids (the same for every lane)
        const double ssig2 = ssig1 * csig12 + csig1 * ssig12, csig2 = csig1 * csig12 - ssig1 * ssig12;
        B12 = sin_series(ssig2, csig2, c1, order);
        const double serr = (1 + a1m1) * (sig12 + (B12 - B11)) - s12 / E.b;
        sig12 = sig12 - serr / std::sqrt(1 + k2 * sq(ssig2));
        sincosr(sig12, ssig12, csig12);
    }
    const double ssig2 = ssig1 * csig12 + csig1 * ssig12;
    double csig2 = csig1 * csig12 - ssig1 * ssig12;
    const double sbet2 = calp0 * ssig2;
    double cbet2 = hyp(salp0, calp0 * csig2);
    const bool pole = cbet2 == 0;  // at a pole
    cbet2 = kb::pick(pole, tiny, cbet2);
    csig2 = kb::pick(pole, tiny, csig2);
    const double salp2 = salp0, calp2 = calp0 * csig2;
    const double somg2 = salp0 * ssig2, comg2 = csig2;
    // omega12 counted through the windings of the geodesic: no jump at +-180
    const double Es = std::copysign(1.0, salp0);
    const double omg12 = Es * (sig12 - (atan2r(ssig2, csig2) - atan2r(ssig1, csig1)) +
                               (atan2r(Es * somg2, comg2) - atan2r(Es * somg1, comg1)));
    const double lam12 = omg12 + A3c * (sig12 + (sin_series(ssig2, csig2, c3, order - 1) - B31));
    const double lon12 = rem360_lanes(lam12 / degree);
    double l2 = rem360_lanes(lon1 + lon12);
    l2 = l2 >= 180 ? l2 - 360 : l2;
    lon2 = l2 * bad;
    lat2 = atan2d(sbet2, E.f1 * cbet2) * bad;
    azi2 = atan2d(salp2, calp2) * bad;
}

/// The ellipsoid of the last point, kept while the next points share it (the usual case):
/// setting it up costs about as much as a short inverse problem.
struct Cache {
    double a = NAN, f = NAN;
    Ellipsoid E;

    KELVARA_GEO_INLINE const Ellipsoid& get(double a_, double f_) noexcept {
        if (!(a_ == a && f_ == f)) {
            E.set(a_, f_);
            a = a_;
            f = f_;
        }
        return E;
    }
};

// The point kernels of the ufuncs, in the argument order of their Python functions: angles in
// degrees when deg != 0, else radians; azimuths out in [0, 360) (or [0, 2 pi)).

/// direct_point for a block of lanes sharing one ellipsoid: angles reduced one by one (the rare
/// large ones take a library call), then the lanes in vector registers.
template <int Block>
KELVARA_GEO_INLINE void direct_lanes(const Ellipsoid& E, const double* lat1, const double* lon1, const double* azi1,
                                     const double* s12, double deg, double* lat2, double* lon2,
                                     double* azi2) noexcept {
    const double k = deg != 0 ? 1.0 : kb::rad_to_deg;
    const double back = deg != 0 ? 1.0 : degree;
    alignas(64) double lon[Block], az[Block];
    for (int i = 0; i < Block; ++i) {
        lon[i] = rem360(lon1[i] * k);
        az[i] = rem360(azi1[i] * k);
    }
#pragma omp simd
    for (int i = 0; i < Block; ++i) {
        double la, lo, a2;
        direct(E, lat1[i] * k, lon[i], az[i], s12[i], la, lo, a2);
        lat2[i] = la * back;
        lon2[i] = lo * back;
        azi2[i] = azimuth360(a2) * back;
    }
}

KELVARA_GEO_INLINE void inverse_point(Cache& cache, double lat1, double lon1, double lat2, double lon2, double a,
                                      double f, double deg, double& s12, double& azi1, double& azi2) noexcept {
    const Ellipsoid& E = cache.get(a, f);
    const double k = deg != 0 ? 1.0 : kb::rad_to_deg;
    const Inverse r = inverse(E, lat1 * k, lon1 * k, lat2 * k, lon2 * k, false);
    const double back = deg != 0 ? 1.0 : degree;
    s12 = r.s12;
    azi1 = azimuth360(r.azi1) * back;
    azi2 = azimuth360(r.azi2) * back;
}

KELVARA_GEO_INLINE void direct_point(Cache& cache, double lat1, double lon1, double azi1, double s12, double a,
                                     double f, double deg, double& lat2, double& lon2, double& azi2) noexcept {
    const Ellipsoid& E = cache.get(a, f);
    const double k = deg != 0 ? 1.0 : kb::rad_to_deg;
    direct(E, lat1 * k, rem360(lon1 * k), rem360(azi1 * k), s12, lat2, lon2, azi2);
    const double back = deg != 0 ? 1.0 : degree;
    lat2 *= back;
    lon2 *= back;
    azi2 = azimuth360(azi2) * back;
}

/// One edge of a polygon: its length, the area between it and the equator (signed, m^2) and
/// +1 / -1 / 0 as it crosses the meridian of longitude 0 eastwards, westwards or not.
KELVARA_GEO_INLINE void edge_point(Cache& cache, double lat1, double lon1, double lat2, double lon2, double a,
                                   double f, double deg, double& s12, double& S12, double& cross) noexcept {
    const Ellipsoid& E = cache.get(a, f);
    const double k = deg != 0 ? 1.0 : kb::rad_to_deg;
    lat1 *= k;
    lon1 *= k;
    lat2 *= k;
    lon2 *= k;
    const Inverse r = inverse(E, lat1, lon1, lat2, lon2, true);
    s12 = r.s12;
    S12 = r.S12;
    double e;
    const double lon12 = ang_diff(lon1, lon2, e);
    const double l1 = ang_normalize(lon1), l2 = ang_normalize(lon2);
    cross = lon12 > 0 && ((l1 < 0 && l2 >= 0) || (l1 > 0 && l2 == 0)) ? 1.0
            : lon12 < 0 && l1 >= 0 && l2 < 0                          ? -1.0
                                                                      : 0.0;
    cross = std::isnan(r.s12) ? NAN : cross;
}

}  // namespace kelvara::geodesy::geodesic
