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
// from the epoch on every call, unless the caller hands it an Integrator to resume from its last
// 720-minute node; both take the same steps and give the same bits. The record and constants are
// in sgp4_model.hpp, the deep-space theory in sdp4_kernels.hpp.
#pragma once

#include "sdp4_kernels.hpp"

#include <limits>

namespace kelvara::sgp4 {

namespace detail {

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
