// The SGP4/SDP4 record and its constants: gravity models, mean elements, the initialised
// satellite and the resonance integrator's resume point, and GMST 1982. Pure C++.
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

/// States of the resonance integrator kept on its way out from the epoch in one direction of
/// time: the mean longitude and mean motion at every `stride`-th 720-minute node. A time nearer
/// the epoch than the last node reached restarts from the nearest kept node at or before it
/// instead of from the epoch. A full table keeps every other entry and doubles its stride, so
/// its size is fixed and a restart costs at most `stride` steps.
struct Checkpoints {
    static constexpr std::int32_t capacity = 4096;
    std::int32_t stride = 1;  // nodes between entries
    std::int32_t count = 0;   // entries held: nodes 0, stride, ..., (count - 1) * stride
    double xli[capacity];
    double xni[capacity];
};

/// Checkpoints after the epoch and before it.
struct ResonanceTable {
    Checkpoints ahead, behind;
};

/// Where the resonance integrator of one satellite stopped: a caller that propagates the same
/// satellite at a run of times passes one of these to resume instead of restarting from the
/// epoch. Resuming takes exactly the steps a restart would (the steps are fixed 720-minute
/// nodes from the epoch), so results are the same to the bit. With a `table` (owned by the
/// caller, one per satellite and thread) times in any order restart from the nearest kept node.
struct Integrator {
    double atime = 0.0;  // minutes from epoch of the last node reached (0: at the epoch)
    double xli = 0.0;    // resonant mean longitude there
    double xni = 0.0;    // mean motion there
    double xndt = 0.0, xldot = 0.0, xnddt = 0.0;  // the rates there, once evaluated
    bool rates = false;
    ResonanceTable* table = nullptr;

    /// Forget every state (for the next satellite), keeping the table's storage.
    void reset() noexcept {
        ResonanceTable* keep = table;
        *this = Integrator{};
        table = keep;
        if (table) table->ahead.count = table->behind.count = 0, table->ahead.stride = table->behind.stride = 1;
    }
};

/// Greenwich mean sidereal angle (IAU 1982) of a UT1 Julian date, in [0, 2 pi).
inline double gmst82(double jdut1) noexcept {
    double tut1 = (jdut1 - 2451545.0) / 36525.0;
    double s = -6.2e-6 * tut1 * tut1 * tut1 + 0.093104 * tut1 * tut1 + (876600.0 * 3600 + 8640184.812866) * tut1 +
               67310.54841;
    double g = std::fmod(s * deg2rad / 240.0, twopi);
    return g < 0.0 ? g + twopi : g;
}


}  // namespace kelvara::sgp4
