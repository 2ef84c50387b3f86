// SGP4/SDP4 kernels: the analytical propagator of the NORAD element sets, after Hoots &
// Roehrich (Spacetrack Report #3, 1980) as revised by Vallado, Crawford, Hujsak & Kelso
// (AIAA 2006-6753). Pure C++: no Python.h, no allocation, no exceptions.
//
//   kelvara::sgp4::Satrec sat;
//   int code = kelvara::sgp4::initialise(sat, mean_elements, Gravity::wgs72, Mode::improved);
//   double r[3], v[3];                                    // TEME, m and m/s
//   code = kelvara::sgp4::propagate(sat, minutes_since_epoch, r, v);
//
// Error codes: 0 none; 1 mean eccentricity outside [-0.001, 1); 2 mean motion not positive (also
// given for a time that is not finite or lies more than 1e8 minutes, 190 years, from the epoch);
// 3 perturbed eccentricity outside [0, 1] (deep space); 4 semi-latus rectum below zero;
// 6 the orbit has decayed below the Earth's surface (the state is still computed).
// For codes 1 to 5 the state is NaN.
//
// The record is immutable after initialisation: the deep-space resonance integrator restarts
// from the epoch on every call, which takes the same steps (and gives the same bits) as a
// stateful integrator that resumes from its last 720-minute node.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace kelvara::sgp4 {

inline constexpr double pi = 3.14159265358979323846;
inline constexpr double twopi = 2.0 * pi;
inline constexpr double deg2rad = pi / 180.0;
/// rad/min per rev/day.
inline constexpr double revday_to_radmin = twopi / 1440.0;
/// Julian date of 1949 December 31 0h, the origin of the theory's day count.
inline constexpr double jd_1950 = 2433281.5;

enum class Gravity : int { wgs72old = 0, wgs72 = 1, wgs84 = 2 };
enum class Mode : int { improved = 0, afspc = 1 };

/// Earth model of the theory: radius in km, xke in (earth radii)^1.5 / min, zonal harmonics.
struct GravityModel {
    double mu;      // km^3/s^2
    double radius;  // km
    double xke;     // sqrt(mu) in earth radii^1.5 per minute
    double tumin;   // minutes per time unit, 1 / xke
    double j2, j3, j4, j3oj2;
};

inline GravityModel gravity_model(Gravity g) noexcept {
    GravityModel m{};
    switch (g) {
        case Gravity::wgs72old:
            m.mu = 398600.79964;
            m.radius = 6378.135;
            m.xke = 0.0743669161;
            m.j2 = 0.001082616;
            m.j3 = -0.00000253881;
            m.j4 = -0.00000165597;
            break;
        case Gravity::wgs72:
            m.mu = 398600.8;
            m.radius = 6378.135;
            m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
            m.j2 = 0.001082616;
            m.j3 = -0.00000253881;
            m.j4 = -0.00000165597;
            break;
        case Gravity::wgs84:
        default:
            m.mu = 398600.5;
            m.radius = 6378.137;
            m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
            m.j2 = 0.00108262998905;
            m.j3 = -0.00000253215306;
            m.j4 = -0.00000161098761;
            break;
    }
    m.tumin = 1.0 / m.xke;
    m.j3oj2 = m.j3 / m.j2;
    return m;
}

/// Mean elements as an element set gives them, in the theory's units (radians, minutes).
struct MeanElements {
    double jd_epoch1, jd_epoch2;  // epoch, two-part UTC Julian date
    double bstar;                 // drag term, 1 / earth radii
    double ndot;                  // first derivative of mean motion / 2, rad/min^2
    double nddot;                 // second derivative of mean motion / 6, rad/min^3
    double ecco;                  // eccentricity
    double argpo;                 // argument of perigee, rad
    double inclo;                 // inclination, rad
    double mo;                    // mean anomaly, rad
    double no_kozai;              // mean motion (Kozai), rad/min
    double nodeo;                 // right ascension of the ascending node, rad
};

/// An initialised satellite. Trivially copyable; every field is set by `initialise`.
struct Satrec {
    // Epoch and elements as given.
    double jd_epoch1, jd_epoch2;  // two-part UTC Julian date of the epoch
    double bstar, ndot, nddot, ecco, argpo, inclo, mo, no_kozai, nodeo;
    // Derived at initialisation.
    double no_unkozai;   // Brouwer mean motion, rad/min
    double a;            // semi-major axis, earth radii
    double alta, altp;   // apogee and perigee heights, earth radii
    double gsto;         // Greenwich sidereal angle at epoch, rad
    // Earth model.
    double radius, xke, j2, j3oj2, vkmpersec;
    std::int32_t gravity, mode;
    std::int32_t deep;    // 1: deep-space (period >= 225 min)
    std::int32_t simple;  // 1: low perigee or deep space, drop the higher-order drag terms
    std::int32_t irez;    // resonance: 0 none, 1 one-day (24 h), 2 half-day (12 h)
    std::int32_t init_error;  // error code of the state at epoch (0 if none)
    // Near-Earth secular and drag coefficients.
    double aycof, con41, cc1, cc4, cc5, d2, d3, d4, delmo, eta, argpdot, omgcof, sinmao;
    double t2cof, t3cof, t4cof, t5cof, x1mth2, x7thm1, mdot, nodedot, xlcof, xmcof, nodecf;
    // Deep space: lunar-solar periodic coefficients (solar s*, lunar x*/e*).
    double e3, ee2, se2, se3, sgh2, sgh3, sgh4, sh2, sh3, si2, si3, sl2, sl3, sl4;
    double xgh2, xgh3, xgh4, xh2, xh3, xi2, xi3, xl2, xl3, xl4, zmol, zmos;
    // Deep space: secular rates and resonance terms.
    double dedt, didt, dmdt, dnodt, domdt;
    double d2201, d2211, d3210, d3222, d4410, d4422, d5220, d5232, d5421, d5433;
    double del1, del2, del3, xfact, xlamo;
    // Values every near-Earth call would otherwise recompute from constant inputs.
    double ao_mean;       // (xke / no_unkozai)^(2/3)
    double sinio, cosio;  // of the mean inclination

    /// Mean motion in rad/s (Brouwer), and the epoch as a single Julian date (convenience).
    double mean_motion_rad_s() const noexcept { return no_unkozai / 60.0; }
};

static_assert(std::is_trivially_copyable_v<Satrec>, "Satrec is copied by value between modules");

/// Where the resonance integrator of one satellite stopped: a caller that propagates the same
/// satellite at a run of times passes one of these to resume instead of restarting from the
/// epoch. Resuming takes exactly the steps a restart would (the steps are fixed 720-minute
/// nodes from the epoch), so results are the same to the bit.
struct Integrator {
    double atime = 0.0;  // minutes from epoch of the last node reached (0: at the epoch)
    double xli = 0.0;    // resonant mean longitude there
    double xni = 0.0;    // mean motion there
    double xndt = 0.0, xldot = 0.0, xnddt = 0.0;  // the rates there, once evaluated
    bool rates = false;
};

/// Greenwich mean sidereal angle (IAU 1982) of a UT1 Julian date, in [0, 2 pi).
inline double gmst82(double jdut1) noexcept {
    double tut1 = (jdut1 - 2451545.0) / 36525.0;
    double s = -6.2e-6 * tut1 * tut1 * tut1 + 0.093104 * tut1 * tut1 + (876600.0 * 3600 + 8640184.812866) * tut1 +
               67310.54841;
    double g = std::fmod(s * deg2rad / 240.0, twopi);
    return g < 0.0 ? g + twopi : g;
}

namespace detail {

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
    // of 720 minutes from the epoch, then a Taylor step to t.
    const double theta = std::fmod(s.gsto + t * rptim, twopi);
    double atime = 0.0, xni = s.no_unkozai, xli = s.xlamo;
    double xndt = 0.0, xldot = 0.0, xnddt = 0.0, ft;
    bool known = false;  // rates at (atime, xli, xni) already evaluated
    // Resume from the last node when it lies between the epoch and t (same direction); the
    // epoch node (atime 0) is shared by both directions.
    if (resume && resume->rates && (resume->atime == 0.0 ||
                                    (t * resume->atime > 0.0 && std::fabs(t) >= std::fabs(resume->atime)))) {
        atime = resume->atime;
        xni = resume->xni;
        xli = resume->xli;
        xndt = resume->xndt;
        xldot = resume->xldot;
        xnddt = resume->xnddt;
        known = true;
    }
    const double delt = t > 0.0 ? stepp : stepn;
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

inline int fail(int code, double r[3], double v[3]) noexcept {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    r[0] = r[1] = r[2] = v[0] = v[1] = v[2] = nan;
    return code;
}

}  // namespace detail

/// Position (m) and velocity (m/s) in TEME at `t` minutes from the epoch; returns the error
/// code (see the top of this file). Codes 1 to 5 leave NaN in r and v; code 6 keeps the state.
/// `resume` (optional, one per satellite) carries the resonance integrator between calls.
inline int propagate(const Satrec& s, double t, double r[3], double v[3], Integrator* resume = nullptr) noexcept {
    constexpr double x2o3 = 2.0 / 3.0;
    constexpr double temp4 = 1.5e-12;
    // The resonance integrator steps 720 minutes at a time from the epoch: a time without
    // bound (or NaN) would never finish, and no element set means anything that far out.
    constexpr double max_minutes = 1.0e8;
    if (!(std::fabs(t) <= max_minutes)) return detail::fail(2, r, v);

    // Secular gravity and atmospheric drag.
    const double xmdf = s.mo + s.mdot * t;
    const double argpdf = s.argpo + s.argpdot * t;
    const double nodedf = s.nodeo + s.nodedot * t;
    double argpm = argpdf;
    double mm = xmdf;
    const double t2 = t * t;
    double nodem = nodedf + s.nodecf * t2;
    double tempa = 1.0 - s.cc1 * t;
    double tempe = s.bstar * s.cc4 * t;
    double templ = s.t2cof * t2;
    if (s.simple != 1) {
        const double delomg = s.omgcof * t;
        const double delmtemp = 1.0 + s.eta * std::cos(xmdf);
        const double delm = s.xmcof * (delmtemp * delmtemp * delmtemp - s.delmo);
        const double temp = delomg + delm;
        mm = xmdf + temp;
        argpm = argpdf - temp;
        const double t3 = t2 * t;
        const double t4 = t3 * t;
        tempa = tempa - s.d2 * t2 - s.d3 * t3 - s.d4 * t4;
        tempe = tempe + s.bstar * s.cc5 * (std::sin(mm) - s.sinmao);
        templ = templ + s.t3cof * t3 + t4 * (s.t4cof + t * s.t5cof);
    }
    double nm = s.no_unkozai;
    double em = s.ecco;
    double inclm = s.inclo;
    if (s.deep) detail::deep_space_secular(s, t, em, argpm, inclm, mm, nodem, nm, resume);

    if (!(nm > 0.0)) return detail::fail(2, r, v);
    const double am = (s.deep ? std::pow(s.xke / nm, x2o3) : s.ao_mean) * tempa * tempa;
    nm = s.xke / std::pow(am, 1.5);
    em = em - tempe;
    if (em >= 1.0 || em < -0.001) return detail::fail(1, r, v);
    if (em < 1.0e-6) em = 1.0e-6;
    mm = mm + s.no_unkozai * templ;
    double xlm = mm + argpm + nodem;
    nodem = std::fmod(nodem, twopi);
    argpm = std::fmod(argpm, twopi);
    xlm = std::fmod(xlm, twopi);
    mm = std::fmod(xlm - argpm - nodem, twopi);

    // Long-period lunar-solar periodics (deep space).
    double ep = em, xincp = inclm, argpp = argpm, nodep = nodem, mp = mm;
    double sinip = s.sinio, cosip = s.cosio;
    double aycof = s.aycof, xlcof = s.xlcof, con41 = s.con41, x1mth2 = s.x1mth2, x7thm1 = s.x7thm1;
    if (s.deep) {
        detail::lunar_solar_periodics(s, t, ep, xincp, nodep, argpp, mp);
        if (xincp < 0.0) {
            xincp = -xincp;
            nodep = nodep + pi;
            argpp = argpp - pi;
        }
        if (ep < 0.0 || ep > 1.0) return detail::fail(3, r, v);
        sinip = std::sin(xincp);
        cosip = std::cos(xincp);
        aycof = -0.5 * s.j3oj2 * sinip;
        if (std::fabs(cosip + 1.0) > 1.5e-12)
            xlcof = -0.25 * s.j3oj2 * sinip * (3.0 + 5.0 * cosip) / (1.0 + cosip);
        else
            xlcof = -0.25 * s.j3oj2 * sinip * (3.0 + 5.0 * cosip) / temp4;
    }

    // Long-period periodics of J3, then Kepler's equation in the modified equinoctial form.
    const double axnl = ep * std::cos(argpp);
    double temp = 1.0 / (am * (1.0 - ep * ep));
    const double aynl = ep * std::sin(argpp) + temp * aycof;
    const double xl = mp + argpp + nodep + temp * xlcof * axnl;
    const double u = std::fmod(xl - nodep, twopi);
    double eo1 = u, tem5 = 9999.9, sineo1 = 0.0, coseo1 = 0.0;
    for (int k = 1; std::fabs(tem5) >= 1.0e-12 && k <= 10; ++k) {
        sineo1 = std::sin(eo1);
        coseo1 = std::cos(eo1);
        tem5 = 1.0 - coseo1 * axnl - sineo1 * aynl;
        tem5 = (u - aynl * coseo1 + axnl * sineo1 - eo1) / tem5;
        if (std::fabs(tem5) >= 0.95) tem5 = tem5 > 0.0 ? 0.95 : -0.95;
        eo1 = eo1 + tem5;
    }

    // Short-period periodics.
    const double ecose = axnl * coseo1 + aynl * sineo1;
    const double esine = axnl * sineo1 - aynl * coseo1;
    const double el2 = axnl * axnl + aynl * aynl;
    const double pl = am * (1.0 - el2);
    if (pl < 0.0) return detail::fail(4, r, v);
    const double rl = am * (1.0 - ecose);
    const double rdotl = std::sqrt(am) * esine / rl;
    const double rvdotl = std::sqrt(pl) / rl;
    const double betal = std::sqrt(1.0 - el2);
    temp = esine / (1.0 + betal);
    const double sinu = am / rl * (sineo1 - aynl - axnl * temp);
    const double cosu = am / rl * (coseo1 - axnl + aynl * temp);
    double su = std::atan2(sinu, cosu);
    const double sin2u = (cosu + cosu) * sinu;
    const double cos2u = 1.0 - 2.0 * sinu * sinu;
    temp = 1.0 / pl;
    const double temp1 = 0.5 * s.j2 * temp;
    const double temp2 = temp1 * temp;
    if (s.deep) {
        const double cosisq = cosip * cosip;
        con41 = 3.0 * cosisq - 1.0;
        x1mth2 = 1.0 - cosisq;
        x7thm1 = 7.0 * cosisq - 1.0;
    }
    const double mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
    su = su - 0.25 * temp2 * x7thm1 * sin2u;
    const double xnode = nodep + 1.5 * temp2 * cosip * sin2u;
    const double xinc = xincp + 1.5 * temp2 * cosip * sinip * cos2u;
    const double mvt = rdotl - nm * temp1 * x1mth2 * sin2u / s.xke;
    const double rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) / s.xke;

    // Orientation vectors, then position and velocity.
    const double sinsu = std::sin(su), cossu = std::cos(su);
    const double snod = std::sin(xnode), cnod = std::cos(xnode);
    const double sini = std::sin(xinc), cosi = std::cos(xinc);
    const double xmx = -snod * cosi;
    const double xmy = cnod * cosi;
    const double ux = xmx * sinsu + cnod * cossu;
    const double uy = xmy * sinsu + snod * cossu;
    const double uz = sini * sinsu;
    const double vx = xmx * cossu - cnod * sinsu;
    const double vy = xmy * cossu - snod * sinsu;
    const double vz = sini * cossu;
    // km and km/s as the theory gives them, then metres.
    const double rk = s.radius, vk = s.vkmpersec;
    r[0] = ((mrt * ux) * rk) * 1000.0;
    r[1] = ((mrt * uy) * rk) * 1000.0;
    r[2] = ((mrt * uz) * rk) * 1000.0;
    v[0] = ((mvt * ux + rvdot * vx) * vk) * 1000.0;
    v[1] = ((mvt * uy + rvdot * vy) * vk) * 1000.0;
    v[2] = ((mvt * uz + rvdot * vz) * vk) * 1000.0;
    return mrt < 1.0 ? 6 : 0;
}

/// Initialise `s` from mean elements; returns the error code of the state at the epoch (also
/// kept in `s.init_error`). The record is usable whatever the code.
inline int initialise(Satrec& s, const MeanElements& e, Gravity gravity = Gravity::wgs72,
                      Mode mode = Mode::improved) noexcept {
    constexpr double x2o3 = 2.0 / 3.0;
    constexpr double temp4 = 1.5e-12;
    s = Satrec{};
    const GravityModel g = gravity_model(gravity);
    s.jd_epoch1 = e.jd_epoch1;
    s.jd_epoch2 = e.jd_epoch2;
    s.bstar = e.bstar;
    s.ndot = e.ndot;
    s.nddot = e.nddot;
    s.ecco = e.ecco;
    s.argpo = e.argpo;
    s.inclo = e.inclo;
    s.mo = e.mo;
    s.no_kozai = e.no_kozai;
    s.nodeo = e.nodeo;
    s.radius = g.radius;
    s.xke = g.xke;
    s.j2 = g.j2;
    s.j3oj2 = g.j3oj2;
    s.vkmpersec = g.radius * g.xke / 60.0;
    s.gravity = int(gravity);
    s.mode = int(mode);
    // Days from 1950 as the published implementations form them (the sum first): the lunar-solar
    // phases of very eccentric orbits are sensitive to the last bit of this value.
    const double epoch_days = (e.jd_epoch1 + e.jd_epoch2) - jd_1950;

    const double ss = 78.0 / g.radius + 1.0;
    const double qzms2ttemp = (120.0 - 78.0) / g.radius;
    const double qzms2t = qzms2ttemp * qzms2ttemp * qzms2ttemp * qzms2ttemp;

    // Recover the Brouwer mean motion from the Kozai one, and the basic orbit quantities.
    const double eccsq = s.ecco * s.ecco;
    const double omeosq = 1.0 - eccsq;
    const double rteosq = std::sqrt(omeosq);
    const double cosio = std::cos(s.inclo);
    const double cosio2 = cosio * cosio;
    const double ak = std::pow(g.xke / s.no_kozai, x2o3);
    const double d1 = 0.75 * g.j2 * (3.0 * cosio2 - 1.0) / (rteosq * omeosq);
    double del = d1 / (ak * ak);
    const double adel = ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
    del = d1 / (adel * adel);
    s.no_unkozai = s.no_kozai / (1.0 + del);
    const double ao = std::pow(g.xke / s.no_unkozai, x2o3);
    const double sinio = std::sin(s.inclo);
    const double po = ao * omeosq;
    const double con42 = 1.0 - 5.0 * cosio2;
    s.con41 = -con42 - cosio2 - cosio2;
    const double posq = po * po;
    const double rp = ao * (1.0 - s.ecco);

    // Sidereal angle at epoch: the AFSPC form counts days from 1970, the improved one is GMST82.
    if (mode == Mode::afspc) {
        const double ts70 = epoch_days - 7305.0;
        const double ds70 = std::floor(ts70 + 1.0e-8);
        const double tfrac = ts70 - ds70;
        constexpr double c1 = 1.72027916940703639e-2;
        constexpr double thgr70 = 1.7321343856509374;
        constexpr double fk5r = 5.07551419432269442e-15;
        constexpr double c1p2p = c1 + twopi;
        double gsto = std::fmod(thgr70 + c1 * ds70 + c1p2p * tfrac + ts70 * ts70 * fk5r, twopi);
        if (gsto < 0.0) gsto = gsto + twopi;
        s.gsto = gsto;
    } else {
        s.gsto = gmst82(epoch_days + jd_1950);
    }

    s.a = std::pow(s.no_unkozai * g.tumin, -2.0 / 3.0);
    s.alta = s.a * (1.0 + s.ecco) - 1.0;
    s.altp = s.a * (1.0 - s.ecco) - 1.0;

    // Drag and secular coefficients. Below 220 km perigee the higher-order drag terms are
    // dropped; below 156 km the atmosphere's reference height s* is lowered with the perigee.
    s.simple = rp < 220.0 / g.radius + 1.0 ? 1 : 0;
    double sfour = ss;
    double qzms24 = qzms2t;
    const double perige = (rp - 1.0) * g.radius;
    if (perige < 156.0) {
        sfour = perige - 78.0;
        if (perige < 98.0) sfour = 20.0;
        const double qzms24temp = (120.0 - sfour) / g.radius;
        qzms24 = qzms24temp * qzms24temp * qzms24temp * qzms24temp;
        sfour = sfour / g.radius + 1.0;
    }
    const double pinvsq = 1.0 / posq;
    const double tsi = 1.0 / (ao - sfour);
    s.eta = ao * s.ecco * tsi;
    const double etasq = s.eta * s.eta;
    const double eeta = s.ecco * s.eta;
    const double psisq = std::fabs(1.0 - etasq);
    const double coef = qzms24 * std::pow(tsi, 4.0);
    const double coef1 = coef / std::pow(psisq, 3.5);
    const double cc2 = coef1 * s.no_unkozai *
                       (ao * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                        0.375 * g.j2 * tsi / psisq * s.con41 * (8.0 + 3.0 * etasq * (8.0 + etasq)));
    s.cc1 = s.bstar * cc2;
    double cc3 = 0.0;
    if (s.ecco > 1.0e-4) cc3 = -2.0 * coef * tsi * g.j3oj2 * s.no_unkozai * sinio / s.ecco;
    s.x1mth2 = 1.0 - cosio2;
    s.cc4 = 2.0 * s.no_unkozai * coef1 * ao * omeosq *
            (s.eta * (2.0 + 0.5 * etasq) + s.ecco * (0.5 + 2.0 * etasq) -
             g.j2 * tsi / (ao * psisq) *
                 (-3.0 * s.con41 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
                  0.75 * s.x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * s.argpo)));
    s.cc5 = 2.0 * coef1 * ao * omeosq * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
    const double cosio4 = cosio2 * cosio2;
    const double temp1 = 1.5 * g.j2 * pinvsq * s.no_unkozai;
    const double temp2 = 0.5 * temp1 * g.j2 * pinvsq;
    const double temp3 = -0.46875 * g.j4 * pinvsq * pinvsq * s.no_unkozai;
    s.mdot = s.no_unkozai + 0.5 * temp1 * rteosq * s.con41 +
             0.0625 * temp2 * rteosq * (13.0 - 78.0 * cosio2 + 137.0 * cosio4);
    s.argpdot = (-0.5 * temp1 * con42 + 0.0625 * temp2 * (7.0 - 114.0 * cosio2 + 395.0 * cosio4) +
                 temp3 * (3.0 - 36.0 * cosio2 + 49.0 * cosio4));
    const double xhdot1 = -temp1 * cosio;
    s.nodedot = xhdot1 + (0.5 * temp2 * (4.0 - 19.0 * cosio2) + 2.0 * temp3 * (3.0 - 7.0 * cosio2)) * cosio;
    const double xpidot = s.argpdot + s.nodedot;
    s.omgcof = s.bstar * cc3 * std::cos(s.argpo);
    s.xmcof = 0.0;
    if (s.ecco > 1.0e-4) s.xmcof = -x2o3 * coef * s.bstar / eeta;
    s.nodecf = 3.5 * omeosq * xhdot1 * s.cc1;
    s.t2cof = 1.5 * s.cc1;
    if (std::fabs(cosio + 1.0) > 1.5e-12)
        s.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / (1.0 + cosio);
    else
        s.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / temp4;
    s.aycof = -0.5 * g.j3oj2 * sinio;
    const double delmotemp = 1.0 + s.eta * std::cos(s.mo);
    s.delmo = delmotemp * delmotemp * delmotemp;
    s.sinmao = std::sin(s.mo);
    s.ao_mean = std::pow(s.xke / s.no_unkozai, x2o3);
    s.sinio = std::sin(s.inclo);
    s.cosio = std::cos(s.inclo);
    s.x7thm1 = 7.0 * cosio2 - 1.0;

    // Deep space: periods of 225 minutes and longer.
    if (twopi / s.no_unkozai >= 225.0) {
        s.deep = 1;
        s.simple = 1;
        detail::LunarSolarGeometry geometry;
        detail::lunar_solar_setup(s, epoch_days, geometry);
        detail::resonance_setup(s, geometry, xpidot);
    }

    if (s.simple != 1) {
        const double cc1sq = s.cc1 * s.cc1;
        s.d2 = 4.0 * ao * tsi * cc1sq;
        const double temp = s.d2 * tsi * s.cc1 / 3.0;
        s.d3 = (17.0 * ao + sfour) * temp;
        s.d4 = 0.5 * temp * ao * tsi * (221.0 * ao + 31.0 * sfour) * s.cc1;
        s.t3cof = s.d2 + 2.0 * cc1sq;
        s.t4cof = 0.25 * (3.0 * s.d3 + s.cc1 * (12.0 * s.d2 + 10.0 * cc1sq));
        s.t5cof = 0.2 * (3.0 * s.d4 + 12.0 * s.cc1 * s.d3 + 6.0 * s.d2 * s.d2 + 15.0 * cc1sq * (2.0 * s.d2 + cc1sq));
    }

    double r[3], v[3];
    s.init_error = propagate(s, 0.0, r, v);
    return s.init_error;
}

}  // namespace kelvara::sgp4
