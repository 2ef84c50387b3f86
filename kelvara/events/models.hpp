// Elevation models the event search runs on: a satellite (any propagator giving TEME states, or a
// two-body orbit for tests) and the Sun or the Moon, each seen from a station on the ellipsoid.
// Pure C++ over ERFA: no Python.h, no exceptions.
#pragma once

#include "search_kernels.hpp"
#include "../bodies/ephemeris_kernels.hpp"
#include "../frames/frames_kernels.hpp"

#include <erfa.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace kelvara::events {

inline constexpr double pi = 3.14159265358979323846;
inline constexpr double two_pi = 2.0 * pi;
inline constexpr double mu_earth = 3.986004418e14;            // m^3/s^2
using frames::omega_earth;                                   // rad/s, mean sidereal rate
inline constexpr double sidereal_day = two_pi / omega_earth;  // s

/// Time scales along a window. t is seconds of UTC from the window's start, counted as
/// datetime64 counts them (no leap seconds). Nodes every `spacing` seconds carry TT - UTC (held
/// from one node to the next, so that a leap second at midnight lands on a node), UT1 - TT
/// (smooth across leap seconds, interpolated linearly) and the pole coordinates (linearly).
struct TimeAxis {
    double day0 = 0.0;     // UTC Julian date of the midnight starting the day that holds t = 0
    double sec0 = 0.0;     // seconds from that midnight to t = 0
    double node0 = 0.0;    // t of node 0, s
    double spacing = 1.0;  // s
    int n = 0;
    const double* tt_utc = nullptr;  // s
    const double* ut1_tt = nullptr;  // s
    const double* xp = nullptr;      // rad
    const double* yp = nullptr;      // rad

    struct At {
        double tt2, ut12;  // second parts of the TT and UT1 Julian dates (the first is day0), days
        double xp, yp;
    };

    At at(double t) const noexcept {
        At r{};
        double u = (t - node0) / spacing;
        int k = int(std::floor(u));
        if (k < 0) k = 0;
        if (k > n - 2) k = n - 2;
        if (n < 2) k = 0;
        const double w = n < 2 ? 0.0 : std::clamp(u - k, 0.0, 1.0);
        const int k1 = n < 2 ? 0 : k + 1;
        const double tt = (sec0 + t) + tt_utc[k];
        r.tt2 = tt / 86400.0;
        r.ut12 = (tt + (ut1_tt[k] + w * (ut1_tt[k1] - ut1_tt[k]))) / 86400.0;
        r.xp = xp[k] + w * (xp[k1] - xp[k]);
        r.yp = yp[k] + w * (yp[k1] - yp[k]);
        return r;
    }
};

// ---- A station and what it sees ----------------------------------------------------------

/// A station: its Earth-fixed position (m) and the east, north and up unit vectors.
struct Station {
    double r[3];
    double e[3], n[3], u[3];
};

/// Station from geodetic latitude and longitude (rad) and height (m) on an ellipsoid of
/// equatorial radius a (m) and flattening f.
inline Station make_station(double lat, double lon, double alt, double a, double f) noexcept {
    Station s;
    frames::geodetic_to_itrf(lat, lon, alt, s.r, a, f);
    const double sp = std::sin(lat), cp = std::cos(lat), sl = std::sin(lon), cl = std::cos(lon);
    s.e[0] = -sl; s.e[1] = cl; s.e[2] = 0.0;
    s.n[0] = -sp * cl; s.n[1] = -sp * sl; s.n[2] = cp;
    s.u[0] = cp * cl; s.u[1] = cp * sl; s.u[2] = sp;
    return s;
}

/// Elevation (rad), its rate (rad/s), range (m) and range rate (m/s) of an Earth-fixed position
/// and velocity seen from the station.
struct Look {
    double el, eldot, range, rdot;
};

inline Look look(const Station& s, const double r[3], const double v[3]) noexcept {
    const double p[3] = {r[0] - s.r[0], r[1] - s.r[1], r[2] - s.r[2]};
    const double d = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    const double up = (p[0] * s.u[0] + p[1] * s.u[1] + p[2] * s.u[2]) / d;
    const double vup = v[0] * s.u[0] + v[1] * s.u[1] + v[2] * s.u[2];
    const double rdot = (p[0] * v[0] + p[1] * v[1] + p[2] * v[2]) / d;
    Look l;
    l.el = std::asin(std::clamp(up, -1.0, 1.0));
    const double ce = std::sqrt(std::max(0.0, 1.0 - up * up));
    // d(sin el)/dt = (v.u - sin(el) * rdot) / d
    l.eldot = ce > 0.0 ? (vup - up * rdot) / (d * ce) : 0.0;
    l.range = d;
    l.rdot = rdot;
    return l;
}

/// Azimuth (rad, clockwise from north, in [0, 2 pi)) of an Earth-fixed position.
inline double azimuth(const Station& s, const double r[3]) noexcept {
    const double p[3] = {r[0] - s.r[0], r[1] - s.r[1], r[2] - s.r[2]};
    const double east = p[0] * s.e[0] + p[1] * s.e[1] + p[2] * s.e[2];
    const double north = p[0] * s.n[0] + p[1] * s.n[1] + p[2] * s.n[2];
    return frames::azimuth_of(east, north);
}

/// Bounds an orbit keeps, for the climb bound: the largest speed relative to the Earth's surface
/// and the smallest distance from the Earth's centre. Derived from mean elements with margins
/// wide enough for short-period perturbations and a few percent of decay.
struct OrbitBounds {
    double vmax = 0.0, rmin = 0.0, rmax = 0.0;
};

inline OrbitBounds orbit_bounds(double mean_motion_rad_s, double ecc) noexcept {
    OrbitBounds b;
    if (!(mean_motion_rad_s > 0.0) || !(ecc >= 0.0 && ecc < 1.0)) return b;
    const double a = std::cbrt(mu_earth / (mean_motion_rad_s * mean_motion_rad_s));
    const double vp = std::sqrt(mu_earth / a * (1.0 + ecc) / (1.0 - ecc));
    b.vmax = 1.05 * vp + omega_earth * 1.05 * a * (1.0 + ecc);
    b.rmin = 0.97 * a * (1.0 - ecc);
    b.rmax = 1.03 * a * (1.0 + ecc) + 20e3;
    return b;
}

/// A satellite's elevation above `threshold` seen from a station. `Orbit` gives TEME (or any
/// inertial frame the Earth model rotates from) states: int state(double t, double r[3],
/// double v[3]) const noexcept, nonzero on failure; `Earth` maps them to Earth-fixed ones:
/// void fixed(double t, const double r[3], const double v[3], double rf[3], double vf[3]).
template <class Orbit, class Earth>
struct PassModel {
    const Orbit& orbit;
    const Earth& earth;
    Station station;
    double threshold = 0.0;  // rad
    double fraction = 1.0 / 16.0;
    double vmax = 0.0, dmin = 0.0;  // climb bound: largest speed over the ground, nearest range
    double psi_vis = pi;            // largest central angle at which the threshold can be reached
    double psi_rate = 0.0;          // bound on the central angle's rate, rad/s (0: none)

    /// Set the bounds from the orbit's: the nearest range for the climb bound, and the central
    /// angle between station and satellite beyond which the satellite stays under the threshold.
    /// At distance r, an object at geocentric elevation h sits at central angle
    /// psi = acos(Rs cos h / r) - h, which grows with r and shrinks with h; the geodetic up
    /// leans at most 0.2 degrees from the geocentric one.
    void set_bounds(const OrbitBounds& b) noexcept {
        const double rs = std::sqrt(station.r[0] * station.r[0] + station.r[1] * station.r[1] +
                                    station.r[2] * station.r[2]);
        vmax = b.vmax;
        dmin = b.rmin - rs;
        if (!(dmin > 0.0) || !(vmax > 0.0)) {
            vmax = dmin = 0.0;  // no bound: sample every step
            return;
        }
        const double h = threshold - 0.2 * pi / 180.0;
        if (h > -pi / 2 && b.rmax > rs) {
            psi_vis = std::acos(std::clamp(rs * std::cos(h) / b.rmax, -1.0, 1.0)) - h;
            psi_rate = vmax / b.rmin;
        }
    }

    void eval(double t, Value& out) const noexcept {
        double r[3], v[3], rf[3], vf[3];
        if (orbit.state(t, r, v) != 0 || !(r[0] == r[0])) {
            // no state here (a failed propagation): taken as far below the threshold
            out = Value{};
            out.g = -pi;
            return;
        }
        earth.fixed(t, r, v, rf, vf);
        const Look l = look(station, rf, vf);
        out.g = l.el - threshold;
        out.gd = out.ed = l.eldot;
        out.range = l.range;
        const double rr = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
        const double hx = r[1] * v[2] - r[2] * v[1], hy = r[2] * v[0] - r[0] * v[2], hz = r[0] * v[1] - r[1] * v[0];
        out.rate = std::sqrt(hx * hx + hy * hy + hz * hz) / rr;
        const double rs2 = station.r[0] * station.r[0] + station.r[1] * station.r[1] + station.r[2] * station.r[2];
        const double c = (rf[0] * station.r[0] + rf[1] * station.r[1] + rf[2] * station.r[2]) / std::sqrt(rr * rs2);
        out.psi = std::acos(std::clamp(c, -1.0, 1.0));
    }

    /// A fixed fraction of the time the orbit takes to sweep a full turn at its current angular
    /// rate (short near perigee), and never more than that fraction of a sidereal day.
    double step(double, const Value& at) const noexcept {
        const double w = std::max(at.rate, omega_earth);
        return fraction * two_pi / w;
    }

    /// Time within which g stays below 0, forwards or backwards: the longer of the climb bound
    /// and the time the central angle needs to close to psi_vis.
    double safe(double, const Value& at) const noexcept {
        if (at.range <= 0.0 || !(at.g < 0.0)) return 0.0;
        double s = time_to_climb(-at.g, at.range, vmax, dmin);
        if (psi_rate > 0.0 && at.psi > psi_vis) s = std::max(s, (at.psi - psi_vis) / psi_rate);
        return s;
    }

    /// Whether g stays below 0 all through [a, b]: the central angle cannot fall below
    /// (psi_a + psi_b - rate (b - a)) / 2 in between, nor can the elevation climb faster than
    /// the climb bound from either end.
    bool below_between(double a, const Value& va, double b, const Value& vb) const noexcept {
        if (!(va.g < 0.0) || !(vb.g < 0.0)) return false;
        if (psi_rate > 0.0 && 0.5 * (va.psi + vb.psi - psi_rate * (b - a)) > psi_vis) return true;
        return safe(a, va) >= b - a || safe(b, vb) >= b - a;
    }

    double margin() const noexcept { return 0.0; }
};

// ---- Two-body orbit over a uniformly rotating Earth (the test model) --------------------------

struct Kepler {
    double a, e, i, raan, argp, m0;  // m, -, rad

    int state(double t, double r[3], double v[3]) const noexcept {
        const double n = std::sqrt(mu_earth / (a * a * a));
        const double M = m0 + n * t;
        double E = M;
        for (int k = 0; k < 50; ++k) {
            const double d = (E - e * std::sin(E) - M) / (1.0 - e * std::cos(E));
            E -= d;
            if (std::fabs(d) < 1e-15) break;
        }
        const double cE = std::cos(E), sE = std::sin(E), b = a * std::sqrt(1.0 - e * e);
        const double px = a * (cE - e), py = b * sE;
        const double edot = n / (1.0 - e * cE);
        const double vx = -a * sE * edot, vy = b * cE * edot;
        const double co = std::cos(raan), so = std::sin(raan), cw = std::cos(argp), sw = std::sin(argp),
                     ci = std::cos(i), si = std::sin(i);
        const double P[3] = {co * cw - so * sw * ci, so * cw + co * sw * ci, sw * si};
        const double Q[3] = {-co * sw - so * cw * ci, -so * sw + co * cw * ci, cw * si};
        for (int k = 0; k < 3; ++k) {
            r[k] = px * P[k] + py * Q[k];
            v[k] = vx * P[k] + vy * Q[k];
        }
        return 0;
    }
};

struct UniformEarth {
    double theta0;  // sidereal angle at t = 0, rad

    void fixed(double t, const double r[3], const double v[3], double rf[3], double vf[3]) const noexcept {
        const double g = theta0 + omega_earth * t, c = std::cos(g), s = std::sin(g);
        rf[0] = c * r[0] + s * r[1];
        rf[1] = -s * r[0] + c * r[1];
        rf[2] = r[2];
        vf[0] = c * v[0] + s * v[1] + omega_earth * rf[1];
        vf[1] = -s * v[0] + c * v[1] - omega_earth * rf[0];
        vf[2] = v[2];
    }
};

/// The Earth of a real window: GMST 1982 of UT1 and polar motion from the time axis.
struct TemeEarth {
    const TimeAxis& axis;

    /// TEME -> ITRF as kelvara.frames does it (GMST 1982 of UT1, the velocity's Earth-rotation
    /// term, then polar motion, no equation of the equinoxes). The pole's offset is a few 1e-6
    /// rad, so its matrix is taken to first order here (1e-11 rad from eraPom00's) to spare six
    /// sines per evaluation.
    void fixed(double t, const double r[3], const double v[3], double rf[3], double vf[3]) const noexcept {
        const TimeAxis::At at = axis.at(t);
        const double g = eraGmst82(axis.day0, at.ut12);
        const double c = std::cos(g), s = std::sin(g);
        const double x = c * r[0] + s * r[1], y = -s * r[0] + c * r[1], z = r[2];
        const double vx = (c * v[0] + s * v[1]) + omega_earth * y;
        const double vy = (-s * v[0] + c * v[1]) - omega_earth * x;
        rf[0] = x + at.xp * z;
        rf[1] = y - at.yp * z;
        rf[2] = z - at.xp * x + at.yp * y;
        vf[0] = vx + at.xp * v[2];
        vf[1] = vy - at.yp * v[2];
        vf[2] = v[2] - at.xp * vx + at.yp * vy;
    }
};

// ---- The Sun and the Moon ----------------------------------------------------------------------

// State of the events module (docs/state.md lists every module's): the three NodeCaches
// below (cip_cache, sun_cache, moon_cache), filled on demand under their mutex, at most 2^20
// nodes each, kept for the process; they depend on no loadable table. The Elements type
// (events.cpp) is bound on first use. A search's time axis is made per call.

/// Process-wide tables of slowly varying quantities on fixed grids of TT, filled on demand and
/// kept: node k sits at TT = J2000 + k * spacing days. Each grid holds `width` doubles a node.
class NodeCache {
public:
    NodeCache(double spacing_days, int width, void (*compute)(double tt1, double tt2, double* out) noexcept)
        : spacing_(spacing_days), width_(width), compute_(compute) {}

    double spacing() const noexcept { return spacing_; }
    int width() const noexcept { return width_; }

    /// Copy nodes first .. first + count - 1 into `out` (count * width doubles), computing the
    /// missing ones. Thread-safe; the lock is held only to look up and to store.
    void fill(std::int64_t first, int count, double* out) {
        std::vector<std::int64_t> missing;
        {
            std::lock_guard lock(mutex_);
            for (int j = 0; j < count; ++j) {
                auto it = nodes_.find(first + j);
                if (it == nodes_.end()) {
                    missing.push_back(first + j);
                } else {
                    std::copy(it->second.values.begin(), it->second.values.end(), out + std::size_t(j) * width_);
                }
            }
        }
        if (missing.empty()) return;
        std::vector<double> buf(static_cast<std::size_t>(width_));
        for (std::int64_t k : missing) {
            const double days = double(k) * spacing_;
            compute_(2451545.0, days, buf.data());
            std::copy(buf.begin(), buf.end(), out + std::size_t(k - first) * width_);
            std::lock_guard lock(mutex_);
            if (nodes_.size() < max_nodes) nodes_.emplace(k, Node{buf});
        }
    }

private:
    static constexpr std::size_t max_nodes = 1u << 20;
    double spacing_;
    int width_;
    void (*compute_)(double, double, double*) noexcept;
    std::mutex mutex_;
    // a type of this library in the map keeps its code out of the module's exported symbols
    struct Node {
        std::vector<double> values;
    };
    std::map<std::int64_t, Node> nodes_;
};

namespace nodes {

/// The GCRS -> CIRS matrix of IAU 2006/2000A (X, Y, s from the full series), row-major.
inline void celestial_to_intermediate(double tt1, double tt2, double* out) noexcept {
    double xys[3], m[3][3];
    frames::xys_series(tt1, tt2, xys);
    eraC2ixys(xys[0], xys[1], xys[2], m);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[3 * i + j] = m[i][j];
}

inline void sun(double tt1, double tt2, double* out) noexcept { ephemeris::sun_position(tt1, tt2, out); }

inline void moon(double tt1, double tt2, double* out) noexcept {
    double v[3];
    ephemeris::moon_state(tt1, tt2, out, v);
}

}  // namespace nodes

/// Daily nodes with 6-point interpolation keep the matrix within 0.03 mas of the full series;
/// the Sun on 2-day nodes with 8 points stays within 0.001 arcsec of its own series, the Moon
/// on half-day nodes within 0.001 arcsec.
inline NodeCache& cip_cache() {
    static NodeCache c(1.0, 9, nodes::celestial_to_intermediate);
    return c;
}
inline NodeCache& sun_cache() {
    static NodeCache c(2.0, 3, nodes::sun);
    return c;
}
inline NodeCache& moon_cache() {
    static NodeCache c(0.5, 3, nodes::moon);
    return c;
}

/// 1 / prod_{b != a} (a - b): the denominators of Lagrange weights on m = 4 .. 8 equally spaced
/// nodes, row m - 4.
constexpr double lagrange_den(int m, int a) {
    double p = 1.0;
    for (int b = 0; b < m; ++b)
        if (b != a) p *= double(a - b);
    return 1.0 / p;
}
inline constexpr double lagrange_inverse_denominators[5][8] = {
    {lagrange_den(4, 0), lagrange_den(4, 1), lagrange_den(4, 2), lagrange_den(4, 3), 0, 0, 0, 0},
    {lagrange_den(5, 0), lagrange_den(5, 1), lagrange_den(5, 2), lagrange_den(5, 3), lagrange_den(5, 4), 0, 0, 0},
    {lagrange_den(6, 0), lagrange_den(6, 1), lagrange_den(6, 2), lagrange_den(6, 3), lagrange_den(6, 4),
     lagrange_den(6, 5), 0, 0},
    {lagrange_den(7, 0), lagrange_den(7, 1), lagrange_den(7, 2), lagrange_den(7, 3), lagrange_den(7, 4),
     lagrange_den(7, 5), lagrange_den(7, 6), 0},
    {lagrange_den(8, 0), lagrange_den(8, 1), lagrange_den(8, 2), lagrange_den(8, 3), lagrange_den(8, 4),
     lagrange_den(8, 5), lagrange_den(8, 6), lagrange_den(8, 7)},
};

/// Lagrange interpolation of a node table over a window: the value and its time derivative.
struct NodeTable {
    std::int64_t first = 0;
    double spacing = 1.0;  // days
    int width = 0, points = 4;
    std::vector<double> data;

    /// Nodes covering TT dates [tt_lo, tt_hi] (days from J2000) with room for the stencil.
    void load(NodeCache& cache, double tt_lo, double tt_hi, int npoints) {
        prepare(cache, tt_lo, tt_hi, npoints);
        fill(cache, 0, size());
    }

    /// load in two steps, for a long window: room for the nodes, then nodes [b, e) of them
    /// (from any thread; each node is computed as load computes it).
    void prepare(const NodeCache& cache, double tt_lo, double tt_hi, int npoints) {
        spacing = cache.spacing();
        width = cache.width();
        points = std::clamp(npoints, 4, 8);
        first = std::int64_t(std::floor(tt_lo / spacing)) - points;
        const std::int64_t last = std::int64_t(std::floor(tt_hi / spacing)) + points + 1;
        const int count = int(last - first + 1);
        data.assign(std::size_t(count) * width, 0.0);
    }
    int size() const noexcept { return width > 0 ? int(data.size() / std::size_t(width)) : 0; }
    void fill(NodeCache& cache, int b, int e) { cache.fill(first + b, e - b, data.data() + std::size_t(b) * width); }

    /// The body's position in the celestial intermediate frame (CIRS) on nodes of `spacing_days`
    /// covering [tt_lo, tt_hi]: the product of the two tables interpolated at each node, so that
    /// a search interpolates one table instead of two. On daily nodes (half-daily for the Moon)
    /// the product keeps the nutation's shortest terms as the matrix table does.
    void load_product(const NodeTable& matrix, const NodeTable& body, double spacing_days, double tt_lo,
                      double tt_hi, int npoints) {
        spacing = spacing_days;
        width = 3;
        points = std::clamp(npoints, 4, 8);
        first = std::int64_t(std::floor(tt_lo / spacing)) - points;
        const std::int64_t last = std::int64_t(std::floor(tt_hi / spacing)) + points + 1;
        const int count = int(last - first + 1);
        data.assign(std::size_t(count) * 3, 0.0);
        for (int j = 0; j < count; ++j) {
            const double days = double(first + j) * spacing;
            double m[9], r[3];
            matrix.at(days, m);
            body.at(days, r);
            for (int i = 0; i < 3; ++i)
                data[std::size_t(j) * 3 + i] = (m[3 * i] * r[0] + m[3 * i + 1] * r[1]) + m[3 * i + 2] * r[2];
        }
    }

    /// Interpolate at TT = J2000 + days; `d` (if given) receives the derivative per day.
    void at(double days, double* out, double* d = nullptr) const noexcept {
        const double u = days / spacing - double(first);
        const int k0 = int(std::floor(u)) - (points / 2 - 1);
        const double x = u - k0;  // position within the stencil, in node spacings
        // Lagrange weights on equally spaced nodes: w_a = prod_{b != a} (x - b) / prod_{b != a} (a - b),
        // the derivative by the product rule carried along.
        double w[8], dw[8];
        for (int a = 0; a < points; ++a) {
            double num = 1.0, der = 0.0;
            for (int b = 0; b < points; ++b) {
                if (b == a) continue;
                der = der * (x - b) + num;
                num *= (x - b);
            }
            w[a] = num * inv_den[points - 4][a];
            dw[a] = der * inv_den[points - 4][a];
        }
        const double* base = data.data() + std::size_t(k0) * width;
        for (int c = 0; c < width; ++c) {
            double s = 0.0, sd = 0.0;
            for (int a = 0; a < points; ++a) {
                const double y = base[std::size_t(a) * width + c];
                s += w[a] * y;
                sd += dw[a] * y;
            }
            out[c] = s;
            if (d) d[c] = sd / spacing;
        }
    }

private:
    static constexpr auto& inv_den = lagrange_inverse_denominators;
};

enum class Body : int { sun = 0, moon = 1 };

inline constexpr double moon_radius = 1737400.0;               // m
inline constexpr double standard_refraction = 34.0 / 60.0 * pi / 180.0;  // at the horizon, rad

/// The Sun's or the Moon's topocentric elevation above a horizon, from the body's GCRS position
/// rotated to the Earth: CIO-based celestial-to-intermediate matrix, Earth rotation angle of
/// UT1, polar motion. With `limb`, the horizon drops by the body's topocentric semi-diameter
/// (its upper limb touches the refracted horizon) and `horizon` is the refraction part.
struct BodyModel {
    const TimeAxis& axis;
    const NodeTable& cirs;  // the body's CIRS position (see NodeTable::load_product)
    Station station;
    double horizon = 0.0;  // rad
    bool limb = false;
    double fraction = 1.0 / 8.0;  // of a day between samples

    /// Earth-fixed position and velocity of the body at t.
    void fixed(double t, double rf[3], double vf[3]) const noexcept {
        const TimeAxis::At at = axis.at(t);
        const double days = (axis.day0 - 2451545.0) + at.tt2;
        double rc[3], vc[3];
        cirs.at(days, rc, vc);
        for (double& x : vc) x /= 86400.0;
        const double era = eraEra00(axis.day0, at.ut12);
        const double c = std::cos(era), s = std::sin(era);
        const double x = c * rc[0] + s * rc[1], y = -s * rc[0] + c * rc[1], z = rc[2];
        const double vx = c * vc[0] + s * vc[1] + omega_earth * y, vy = -s * vc[0] + c * vc[1] - omega_earth * x;
        rf[0] = x + at.xp * z;
        rf[1] = y - at.yp * z;
        rf[2] = z - at.xp * x + at.yp * y;
        vf[0] = vx;
        vf[1] = vy;
        vf[2] = vc[2];
    }

    void eval(double t, Value& out) const noexcept {
        double rf[3], vf[3];
        fixed(t, rf, vf);
        const Look l = look(station, rf, vf);
        out.ed = l.eldot;
        out.range = l.range;
        out.east = ((rf[0] - station.r[0]) * station.e[0] + (rf[1] - station.r[1]) * station.e[1]) / l.range;
        out.eastd = (vf[0] * station.e[0] + vf[1] * station.e[1]) / l.range - out.east * l.rdot / l.range;
        if (limb) {
            const double sd = std::asin(moon_radius / l.range);
            out.g = l.el - (horizon - sd);
            out.gd = l.eldot - moon_radius * l.rdot / (l.range * l.range * std::cos(sd));
        } else {
            out.g = l.el - horizon;
            out.gd = l.eldot;
        }
    }

    double step(double, const Value&) const noexcept { return fraction * 86400.0; }
    double safe(double, const Value&) const noexcept { return 0.0; }
    bool below_between(double, const Value&, double, const Value&) const noexcept { return false; }
    /// Over a few hours the elevation of the Sun or the Moon follows a cubic to far better than
    /// a degree, so a peak estimated a degree below the horizon cannot reach it.
    double margin() const noexcept { return pi / 180.0; }
};

}  // namespace kelvara::events
