// The deep-space part of the theory (SDP4): lunar-solar geometry, secular rates and the
// 12-hour and 24-hour resonances set up once per satellite, then the lunar-solar periodics and
// the resonance integration at each time. Pure C++; used by propagate() in sgp4_kernels.hpp.
#pragma once

#include "sgp4_model.hpp"

#include <algorithm>
#include <cstdint>

namespace kelvara::sgp4::detail {


/// Lunar and solar angles and the geometry terms the long-period and resonance theory share
/// (the "dscom" step of the theory). Computed once, at initialisation.
struct LunarSolarGeometry {
    double sinim, cosim, emsq;
    double s1, s2, s3, s4, s5, ss1, ss2, ss3, ss4, ss5;
    double z1, z3, z11, z13, z21, z23, z31, z33;
    double sz1, sz3, sz11, sz13, sz21, sz23, sz31, sz33;
};

inline void lunar_solar_setup(Satrec& s, double epoch_days, LunarSolarGeometry& g) noexcept {
    constexpr double zes = 0.01675, zel = 0.05490;
    constexpr double c1ss = 2.9864797e-6, c1l = 4.7968065e-7;
    constexpr double zsinis = 0.39785416, zcosis = 0.91744867;
    constexpr double zcosgs = 0.1945905, zsings = -0.98088458;

    const double nm = s.no_unkozai, em = s.ecco;
    const double snodm = std::sin(s.nodeo), cnodm = std::cos(s.nodeo);
    const double sinomm = std::sin(s.argpo), cosomm = std::cos(s.argpo);
    g.sinim = std::sin(s.inclo);
    g.cosim = std::cos(s.inclo);
    const double sinim = g.sinim, cosim = g.cosim;
    const double emsq = em * em;
    g.emsq = emsq;
    const double betasq = 1.0 - emsq;
    const double rtemsq = std::sqrt(betasq);

    // Position of the Moon's orbit at epoch.
    const double day = epoch_days + 18261.5;
    const double xnodce = std::fmod(4.5236020 - 9.2422029e-4 * day, twopi);
    const double stem = std::sin(xnodce), ctem = std::cos(xnodce);
    const double zcosil = 0.91375164 - 0.03568096 * ctem;
    const double zsinil = std::sqrt(1.0 - zcosil * zcosil);
    const double zsinhl = 0.089683511 * stem / zsinil;
    const double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
    const double gam = 5.8351514 + 0.0019443680 * day;
    double zx = 0.39785416 * stem / zsinil;
    const double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;
    zx = std::atan2(zx, zy);
    zx = gam + zx - xnodce;
    const double zcosgl = std::cos(zx), zsingl = std::sin(zx);

    // The same terms for the Sun (first pass) and the Moon (second pass).
    struct Terms { double s1, s2, s3, s4, s5, s6, s7, z1, z2, z3, z11, z12, z13, z21, z22, z23, z31, z32, z33; };
    auto body = [&](double zcosg, double zsing, double zcosi, double zsini, double zcosh, double zsinh,
                    double cc) noexcept {
        Terms t;
        const double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
        const double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
        const double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
        const double a8 = zsing * zsini;
        const double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
        const double a10 = zcosg * zsini;
        const double a2 = cosim * a7 + sinim * a8;
        const double a4 = cosim * a9 + sinim * a10;
        const double a5 = -sinim * a7 + cosim * a8;
        const double a6 = -sinim * a9 + cosim * a10;
        const double x1 = a1 * cosomm + a2 * sinomm;
        const double x2 = a3 * cosomm + a4 * sinomm;
        const double x3 = -a1 * sinomm + a2 * cosomm;
        const double x4 = -a3 * sinomm + a4 * cosomm;
        const double x5 = a5 * sinomm;
        const double x6 = a6 * sinomm;
        const double x7 = a5 * cosomm;
        const double x8 = a6 * cosomm;
        t.z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
        t.z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
        t.z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
        t.z1 = 3.0 * (a1 * a1 + a2 * a2) + t.z31 * emsq;
        t.z2 = 6.0 * (a1 * a3 + a2 * a4) + t.z32 * emsq;
        t.z3 = 3.0 * (a3 * a3 + a4 * a4) + t.z33 * emsq;
        t.z11 = -6.0 * a1 * a5 + emsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
        t.z12 = -6.0 * (a1 * a6 + a3 * a5) + emsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
        t.z13 = -6.0 * a3 * a6 + emsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
        t.z21 = 6.0 * a2 * a5 + emsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
        t.z22 = 6.0 * (a4 * a5 + a2 * a6) + emsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
        t.z23 = 6.0 * a4 * a6 + emsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
        t.z1 = t.z1 + t.z1 + betasq * t.z31;
        t.z2 = t.z2 + t.z2 + betasq * t.z32;
        t.z3 = t.z3 + t.z3 + betasq * t.z33;
        t.s3 = cc * (1.0 / nm);
        t.s2 = -0.5 * t.s3 / rtemsq;
        t.s4 = t.s3 * rtemsq;
        t.s1 = -15.0 * em * t.s4;
        t.s5 = x1 * x3 + x2 * x4;
        t.s6 = x2 * x3 + x1 * x4;
        t.s7 = x2 * x4 - x1 * x3;
        return t;
    };
    const Terms sun = body(zcosgs, zsings, zcosis, zsinis, cnodm, snodm, c1ss);
    const Terms moon = body(zcosgl, zsingl, zcosil, zsinil, zcoshl * cnodm + zsinhl * snodm,
                            snodm * zcoshl - cnodm * zsinhl, c1l);

    s.zmol = std::fmod(4.7199672 + 0.22997150 * day - gam, twopi);
    s.zmos = std::fmod(6.2565837 + 0.017201977 * day, twopi);

    s.se2 = 2.0 * sun.s1 * sun.s6;
    s.se3 = 2.0 * sun.s1 * sun.s7;
    s.si2 = 2.0 * sun.s2 * sun.z12;
    s.si3 = 2.0 * sun.s2 * (sun.z13 - sun.z11);
    s.sl2 = -2.0 * sun.s3 * sun.z2;
    s.sl3 = -2.0 * sun.s3 * (sun.z3 - sun.z1);
    s.sl4 = -2.0 * sun.s3 * (-21.0 - 9.0 * emsq) * zes;
    s.sgh2 = 2.0 * sun.s4 * sun.z32;
    s.sgh3 = 2.0 * sun.s4 * (sun.z33 - sun.z31);
    s.sgh4 = -18.0 * sun.s4 * zes;
    s.sh2 = -2.0 * sun.s2 * sun.z22;
    s.sh3 = -2.0 * sun.s2 * (sun.z23 - sun.z21);

    s.ee2 = 2.0 * moon.s1 * moon.s6;
    s.e3 = 2.0 * moon.s1 * moon.s7;
    s.xi2 = 2.0 * moon.s2 * moon.z12;
    s.xi3 = 2.0 * moon.s2 * (moon.z13 - moon.z11);
    s.xl2 = -2.0 * moon.s3 * moon.z2;
    s.xl3 = -2.0 * moon.s3 * (moon.z3 - moon.z1);
    s.xl4 = -2.0 * moon.s3 * (-21.0 - 9.0 * emsq) * zel;
    s.xgh2 = 2.0 * moon.s4 * moon.z32;
    s.xgh3 = 2.0 * moon.s4 * (moon.z33 - moon.z31);
    s.xgh4 = -18.0 * moon.s4 * zel;
    s.xh2 = -2.0 * moon.s2 * moon.z22;
    s.xh3 = -2.0 * moon.s2 * (moon.z23 - moon.z21);

    g.s1 = moon.s1; g.s2 = moon.s2; g.s3 = moon.s3; g.s4 = moon.s4; g.s5 = moon.s5;
    g.ss1 = sun.s1; g.ss2 = sun.s2; g.ss3 = sun.s3; g.ss4 = sun.s4; g.ss5 = sun.s5;
    g.z1 = moon.z1; g.z3 = moon.z3; g.z11 = moon.z11; g.z13 = moon.z13;
    g.z21 = moon.z21; g.z23 = moon.z23; g.z31 = moon.z31; g.z33 = moon.z33;
    g.sz1 = sun.z1; g.sz3 = sun.z3; g.sz11 = sun.z11; g.sz13 = sun.z13;
    g.sz21 = sun.z21; g.sz23 = sun.z23; g.sz31 = sun.z31; g.sz33 = sun.z33;
}

inline constexpr double rptim = 4.37526908801129966e-3;  // Earth rotation, rad/min

/// Secular lunar-solar rates and the resonance coefficients (the "dsinit" step).
inline void resonance_setup(Satrec& s, const LunarSolarGeometry& g, double xpidot) noexcept {
    constexpr double q22 = 1.7891679e-6, q31 = 2.1460748e-6, q33 = 2.2123015e-7;
    constexpr double root22 = 1.7891679e-6, root44 = 7.3636953e-9, root54 = 2.1765803e-9;
    constexpr double root32 = 3.7393792e-7, root52 = 1.1428639e-7;
    constexpr double x2o3 = 2.0 / 3.0;
    constexpr double znl = 1.5835218e-4, zns = 1.19459e-5;

    const double nm = s.no_unkozai, em = s.ecco, inclm = s.inclo;
    const double sinim = g.sinim, cosim = g.cosim, emsq = g.emsq;

    s.irez = 0;
    if (0.0034906585 < nm && nm < 0.0052359877) s.irez = 1;
    if (8.26e-3 <= nm && nm <= 9.24e-3 && em >= 0.5) s.irez = 2;

    // Solar terms, then lunar, of the secular rates; node rates vanish near zero inclination.
    const bool equatorial = inclm < 5.2359877e-2 || inclm > pi - 5.2359877e-2;
    const double ses = g.ss1 * zns * g.ss5;
    const double sis = g.ss2 * zns * (g.sz11 + g.sz13);
    const double sls = -zns * g.ss3 * (g.sz1 + g.sz3 - 14.0 - 6.0 * emsq);
    const double sghs = g.ss4 * zns * (g.sz31 + g.sz33 - 6.0);
    double shs = -zns * g.ss2 * (g.sz21 + g.sz23);
    if (equatorial) shs = 0.0;
    if (sinim != 0.0) shs = shs / sinim;
    const double sgs = sghs - cosim * shs;

    s.dedt = ses + g.s1 * znl * g.s5;
    s.didt = sis + g.s2 * znl * (g.z11 + g.z13);
    s.dmdt = sls - znl * g.s3 * (g.z1 + g.z3 - 14.0 - 6.0 * emsq);
    const double sghl = g.s4 * znl * (g.z31 + g.z33 - 6.0);
    double shll = -znl * g.s2 * (g.z21 + g.z23);
    if (equatorial) shll = 0.0;
    s.domdt = sgs + sghl;
    s.dnodt = shs;
    if (sinim != 0.0) {
        s.domdt = s.domdt - cosim / sinim * shll;
        s.dnodt = s.dnodt + shll / sinim;
    }

    s.d2201 = s.d2211 = s.d3210 = s.d3222 = s.d4410 = s.d4422 = 0.0;
    s.d5220 = s.d5232 = s.d5421 = s.d5433 = 0.0;
    s.del1 = s.del2 = s.del3 = s.xfact = s.xlamo = 0.0;
    if (s.irez == 0) return;

    const double theta = std::fmod(s.gsto, twopi);
    const double aonv = std::pow(nm / s.xke, x2o3);
    if (s.irez == 2) {
        // Half-day resonance: the eccentricity functions are fitted polynomials in e.
        const double cosisq = cosim * cosim;
        const double e = s.ecco;
        const double e2 = e * e;
        const double eoc = e * e2;
        double g211, g310, g322, g410, g422, g520, g521, g532, g533;
        const double g201 = -0.306 - (e - 0.64) * 0.440;
        if (e <= 0.65) {
            g211 = 3.616 - 13.2470 * e + 16.2900 * e2;
            g310 = -19.302 + 117.3900 * e - 228.4190 * e2 + 156.5910 * eoc;
            g322 = -18.9068 + 109.7927 * e - 214.6334 * e2 + 146.5816 * eoc;
            g410 = -41.122 + 242.6940 * e - 471.0940 * e2 + 313.9530 * eoc;
            g422 = -146.407 + 841.8800 * e - 1629.014 * e2 + 1083.4350 * eoc;
            g520 = -532.114 + 3017.977 * e - 5740.032 * e2 + 3708.2760 * eoc;
        } else {
            g211 = -72.099 + 331.819 * e - 508.738 * e2 + 266.724 * eoc;
            g310 = -346.844 + 1582.851 * e - 2415.925 * e2 + 1246.113 * eoc;
            g322 = -342.585 + 1554.908 * e - 2366.899 * e2 + 1215.972 * eoc;
            g410 = -1052.797 + 4758.686 * e - 7193.992 * e2 + 3651.957 * eoc;
            g422 = -3581.690 + 16178.110 * e - 24462.770 * e2 + 12422.520 * eoc;
            if (e > 0.715)
                g520 = -5149.66 + 29936.92 * e - 54087.36 * e2 + 31324.56 * eoc;
            else
                g520 = 1464.74 - 4664.75 * e + 3763.64 * e2;
        }
        if (e < 0.7) {
            g533 = -919.22770 + 4988.6100 * e - 9064.7700 * e2 + 5542.21 * eoc;
            g521 = -822.71072 + 4568.6173 * e - 8491.4146 * e2 + 5337.524 * eoc;
            g532 = -853.66600 + 4690.2500 * e - 8624.7700 * e2 + 5341.4 * eoc;
        } else {
            g533 = -37995.780 + 161616.52 * e - 229838.20 * e2 + 109377.94 * eoc;
            g521 = -51752.104 + 218913.95 * e - 309468.16 * e2 + 146349.42 * eoc;
            g532 = -40023.880 + 170470.89 * e - 242699.48 * e2 + 115605.82 * eoc;
        }
        const double sini2 = sinim * sinim;
        const double f220 = 0.75 * (1.0 + 2.0 * cosim + cosisq);
        const double f221 = 1.5 * sini2;
        const double f321 = 1.875 * sinim * (1.0 - 2.0 * cosim - 3.0 * cosisq);
        const double f322 = -1.875 * sinim * (1.0 + 2.0 * cosim - 3.0 * cosisq);
        const double f441 = 35.0 * sini2 * f220;
        const double f442 = 39.3750 * sini2 * sini2;
        const double f522 = 9.84375 * sinim *
                            (sini2 * (1.0 - 2.0 * cosim - 5.0 * cosisq) + 0.33333333 * (-2.0 + 4.0 * cosim + 6.0 * cosisq));
        const double f523 = sinim * (4.92187512 * sini2 * (-2.0 - 4.0 * cosim + 10.0 * cosisq) +
                                     6.56250012 * (1.0 + 2.0 * cosim - 3.0 * cosisq));
        const double f542 = 29.53125 * sinim * (2.0 - 8.0 * cosim + cosisq * (-12.0 + 8.0 * cosim + 10.0 * cosisq));
        const double f543 = 29.53125 * sinim * (-2.0 - 8.0 * cosim + cosisq * (12.0 + 8.0 * cosim - 10.0 * cosisq));
        const double xno2 = nm * nm;
        const double ainv2 = aonv * aonv;
        double temp1 = 3.0 * xno2 * ainv2;
        double temp = temp1 * root22;
        s.d2201 = temp * f220 * g201;
        s.d2211 = temp * f221 * g211;
        temp1 = temp1 * aonv;
        temp = temp1 * root32;
        s.d3210 = temp * f321 * g310;
        s.d3222 = temp * f322 * g322;
        temp1 = temp1 * aonv;
        temp = 2.0 * temp1 * root44;
        s.d4410 = temp * f441 * g410;
        s.d4422 = temp * f442 * g422;
        temp1 = temp1 * aonv;
        temp = temp1 * root52;
        s.d5220 = temp * f522 * g520;
        s.d5232 = temp * f523 * g532;
        temp = 2.0 * temp1 * root54;
        s.d5421 = temp * f542 * g521;
        s.d5433 = temp * f543 * g533;
        s.xlamo = std::fmod(s.mo + s.nodeo + s.nodeo - theta - theta, twopi);
        s.xfact = s.mdot + s.dmdt + 2.0 * (s.nodedot + s.dnodt - rptim) - s.no_unkozai;
    } else {
        // One-day (geosynchronous) resonance.
        const double g200 = 1.0 + emsq * (-2.5 + 0.8125 * emsq);
        const double g310 = 1.0 + 2.0 * emsq;
        const double g300 = 1.0 + emsq * (-6.0 + 6.60937 * emsq);
        const double f220 = 0.75 * (1.0 + cosim) * (1.0 + cosim);
        const double f311 = 0.9375 * sinim * sinim * (1.0 + 3.0 * cosim) - 0.75 * (1.0 + cosim);
        double f330 = 1.0 + cosim;
        f330 = 1.875 * f330 * f330 * f330;
        const double d1 = 3.0 * nm * nm * aonv * aonv;
        s.del2 = 2.0 * d1 * f220 * g200 * q22;
        s.del3 = 3.0 * d1 * f330 * g300 * q33 * aonv;
        s.del1 = d1 * f311 * g310 * q31 * aonv;
        s.xlamo = std::fmod(s.mo + s.nodeo + s.argpo - theta, twopi);
        s.xfact = s.mdot + xpidot - rptim + s.dmdt + s.domdt + s.dnodt - s.no_unkozai;
    }
}

/// Lunar-solar periodics applied to the osculating-to-be elements at `t` minutes (the "dpper"
/// step, after initialisation).
inline void lunar_solar_periodics(const Satrec& s, double t, double& ep, double& inclp, double& nodep, double& argpp,
                                  double& mp) noexcept {
    constexpr double zns = 1.19459e-5, zes = 0.01675, znl = 1.5835218e-4, zel = 0.05490;
    double zm = s.zmos + zns * t;
    double zf = zm + 2.0 * zes * std::sin(zm);
    double sinzf = std::sin(zf);
    double f2 = 0.5 * sinzf * sinzf - 0.25;
    double f3 = -0.5 * sinzf * std::cos(zf);
    const double ses = s.se2 * f2 + s.se3 * f3;
    const double sis = s.si2 * f2 + s.si3 * f3;
    const double sls = s.sl2 * f2 + s.sl3 * f3 + s.sl4 * sinzf;
    const double sghs = s.sgh2 * f2 + s.sgh3 * f3 + s.sgh4 * sinzf;
    const double shs = s.sh2 * f2 + s.sh3 * f3;
    zm = s.zmol + znl * t;
    zf = zm + 2.0 * zel * std::sin(zm);
    sinzf = std::sin(zf);
    f2 = 0.5 * sinzf * sinzf - 0.25;
    f3 = -0.5 * sinzf * std::cos(zf);
    const double sel = s.ee2 * f2 + s.e3 * f3;
    const double sil = s.xi2 * f2 + s.xi3 * f3;
    const double sll = s.xl2 * f2 + s.xl3 * f3 + s.xl4 * sinzf;
    const double sghl = s.xgh2 * f2 + s.xgh3 * f3 + s.xgh4 * sinzf;
    const double shll = s.xh2 * f2 + s.xh3 * f3;
    // The epoch values of these sums are zero in the revised theory, so nothing is subtracted.
    const double pe = ses + sel;
    const double pinc = sis + sil;
    const double pl = sls + sll;
    double pgh = sghs + sghl;
    double ph = shs + shll;

    inclp = inclp + pinc;
    ep = ep + pe;
    const double sinip = std::sin(inclp), cosip = std::cos(inclp);
    if (inclp >= 0.2) {
        ph = ph / sinip;
        pgh = pgh - cosip * ph;
        argpp = argpp + pgh;
        nodep = nodep + ph;
        mp = mp + pl;
        return;
    }
    // Low inclination: apply the node and inclination periodics to the vector (sin i sin node,
    // sin i cos node) instead (Lyddane), which stays regular at zero inclination.
    const double sinop = std::sin(nodep), cosop = std::cos(nodep);
    double alfdp = sinip * sinop;
    double betdp = sinip * cosop;
    const double dalf = ph * cosop + pinc * cosip * sinop;
    const double dbet = -ph * sinop + pinc * cosip * cosop;
    alfdp = alfdp + dalf;
    betdp = betdp + dbet;
    nodep = std::fmod(nodep, twopi);
    const bool afspc = s.mode == int(Mode::afspc);
    if (nodep < 0.0 && afspc) nodep = nodep + twopi;
    double xls = mp + argpp + cosip * nodep;
    const double dls = pl + pgh - pinc * nodep * sinip;
    xls = xls + dls;
    const double xnoh = nodep;
    nodep = std::atan2(alfdp, betdp);
    if (nodep < 0.0 && afspc) nodep = nodep + twopi;
    if (std::fabs(xnoh - nodep) > pi) {
        if (nodep < xnoh) nodep = nodep + twopi;
        else nodep = nodep - twopi;
    }
    mp = mp + pl;
    argpp = xls - mp - cosip * nodep;
}

/// Deep-space secular effects and the resonance integration (the "dspace" step): updates the
/// mean elements to time `t` (minutes) in place.
inline void deep_space_secular(const Satrec& s, double t, double& em, double& argpm, double& inclm, double& mm,
                               double& nodem, double& nm, Integrator* resume) noexcept {
    constexpr double fasx2 = 0.13130908, fasx4 = 2.8843198, fasx6 = 0.37448087;
    constexpr double g22 = 5.7686396, g32 = 0.95240898, g44 = 1.8014998, g52 = 1.0508330, g54 = 4.4108898;
    constexpr double stepp = 720.0, stepn = -720.0, step2 = 259200.0;

    em = em + s.dedt * t;
    inclm = inclm + s.didt * t;
    argpm = argpm + s.domdt * t;
    nodem = nodem + s.dnodt * t;
    mm = mm + s.dmdt * t;
    if (s.irez == 0) return;

    // Euler-Maclaurin integration of the resonant mean longitude and mean motion in fixed steps
    // of 720 minutes from the epoch, then a Taylor step to t. The steps are those of a run from
    // the epoch whatever the starting point: a kept state (the resume point, a checkpoint) is
    // used only for a node that run passes through, so the result is the same to the bit.
    const double theta = std::fmod(s.gsto + t * rptim, twopi);
    const double delt = t > 0.0 ? stepp : stepn;
    // The run from the epoch takes `steps` steps: it goes on while |t - atime| >= 720.
    std::int64_t steps = std::max<std::int64_t>(0, std::int64_t(std::fabs(t) / stepp) - 2);
    while (std::fabs(t - double(steps) * delt) >= stepp) ++steps;
    double atime = 0.0, xli = s.xlamo, xni = s.no_unkozai;
    double xndt = 0.0, xldot = 0.0, xnddt = 0.0, ft;
    std::int64_t node = 0;
    bool known = false;  // rates at (atime, xli, xni) already evaluated
    Checkpoints* table = resume && resume->table ? (t > 0.0 ? &resume->table->ahead : &resume->table->behind) : nullptr;
    if (table) {
        if (table->count == 0) {
            table->stride = 1;
            table->count = 1;
            table->xli[0] = s.xlamo;
            table->xni[0] = s.no_unkozai;
        }
        const std::int64_t j = std::min<std::int64_t>(table->count - 1, steps / table->stride);
        node = j * table->stride;
        atime = double(node) * delt;
        xli = table->xli[j];
        xni = table->xni[j];
    }
    // The resume point, when the run passes through it and it lies beyond the checkpoint (the
    // epoch node is shared by both directions).
    if (resume && resume->rates) {
        const std::int64_t at = std::int64_t(std::fabs(resume->atime) / stepp);
        if ((resume->atime == 0.0 || t * resume->atime > 0.0) && at <= steps && (at > node || (at == node && !table))) {
            node = at;
            atime = resume->atime;
            xni = resume->xni;
            xli = resume->xli;
            xndt = resume->xndt;
            xldot = resume->xldot;
            xnddt = resume->xnddt;
            known = true;
        }
    }
    for (;;) {
        if (known) {
            known = false;
        } else if (s.irez != 2) {
            xndt = s.del1 * std::sin(xli - fasx2) + s.del2 * std::sin(2.0 * (xli - fasx4)) +
                   s.del3 * std::sin(3.0 * (xli - fasx6));
            xldot = xni + s.xfact;
            xnddt = s.del1 * std::cos(xli - fasx2) + 2.0 * s.del2 * std::cos(2.0 * (xli - fasx4)) +
                    3.0 * s.del3 * std::cos(3.0 * (xli - fasx6));
            xnddt = xnddt * xldot;
        } else {
            const double xomi = s.argpo + s.argpdot * atime;
            const double x2omi = xomi + xomi;
            const double x2li = xli + xli;
            xndt = s.d2201 * std::sin(x2omi + xli - g22) + s.d2211 * std::sin(xli - g22) +
                   s.d3210 * std::sin(xomi + xli - g32) + s.d3222 * std::sin(-xomi + xli - g32) +
                   s.d4410 * std::sin(x2omi + x2li - g44) + s.d4422 * std::sin(x2li - g44) +
                   s.d5220 * std::sin(xomi + xli - g52) + s.d5232 * std::sin(-xomi + xli - g52) +
                   s.d5421 * std::sin(xomi + x2li - g54) + s.d5433 * std::sin(-xomi + x2li - g54);
            xldot = xni + s.xfact;
            xnddt = s.d2201 * std::cos(x2omi + xli - g22) + s.d2211 * std::cos(xli - g22) +
                    s.d3210 * std::cos(xomi + xli - g32) + s.d3222 * std::cos(-xomi + xli - g32) +
                    s.d5220 * std::cos(xomi + xli - g52) + s.d5232 * std::cos(-xomi + xli - g52) +
                    2.0 * (s.d4410 * std::cos(x2omi + x2li - g44) + s.d4422 * std::cos(x2li - g44) +
                           s.d5421 * std::cos(xomi + x2li - g54) + s.d5433 * std::cos(-xomi + x2li - g54));
            xnddt = xnddt * xldot;
        }
        if (!(std::fabs(t - atime) >= stepp)) {
            ft = t - atime;
            break;
        }
        xli = xli + xldot * delt + xndt * step2;
        xni = xni + xndt * delt + xnddt * step2;
        atime = atime + delt;
        ++node;
        if (table && node == std::int64_t(table->count) * table->stride) {
            if (table->count == Checkpoints::capacity) {
                // full: keep every other entry at twice the stride
                for (std::int32_t k = 0; k < Checkpoints::capacity / 2; ++k) {
                    table->xli[k] = table->xli[2 * k];
                    table->xni[k] = table->xni[2 * k];
                }
                table->count = Checkpoints::capacity / 2;
                table->stride *= 2;
            }
            if (node == std::int64_t(table->count) * table->stride) {
                table->xli[table->count] = xli;
                table->xni[table->count] = xni;
                ++table->count;
            }
        }
    }
    if (resume) {
        resume->atime = atime;
        resume->xli = xli;
        resume->xni = xni;
        resume->xndt = xndt;
        resume->xldot = xldot;
        resume->xnddt = xnddt;
        resume->rates = true;
    }
    nm = xni + xndt * ft + xnddt * ft * ft * 0.5;
    const double xl = xli + xldot * ft + xndt * ft * ft * 0.5;
    if (s.irez != 1)
        mm = xl - 2.0 * nodem + 2.0 * theta;
    else
        mm = xl - nodem - argpm + theta;
    const double dndt = nm - s.no_unkozai;
    nm = s.no_unkozai + dndt;
}

}  // namespace kelvara::sgp4::detail
