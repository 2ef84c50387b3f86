// Earth-fixed frames as pure C++ kernels: the rotations between the celestial frames (GCRF,
// TEME) and the terrestrial one (ITRF) at one epoch, the X/Y/s grid that makes the IAU 2006/2000A
// orientation cheap for many epochs, and the application of a rotation to positions and
// velocities. Doubles in, doubles out: no Python, no exceptions. Dates are two-part Julian dates
// (TT for precession-nutation, UT1 for Earth rotation); angles in radians, lengths in metres.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>

#include <erfa.h>

namespace kelvara::frames {

/// Earth's rotation rate (rad/s): the rate of the Earth rotation angle, 2 pi 1.00273781191135448
/// per UT1 day. It gives the velocity term of every terrestrial <-> celestial rotation; the
/// length-of-day excess (about 1 ms, 2e-8 relative) is left out.
inline constexpr double omega_earth = 7.292115146706979e-5;

inline constexpr double seconds_per_day = 86400.0;
inline constexpr double j2000 = 2451545.0;  // JD of J2000.0, the grid's origin

// ---------------------------------------------------------------------------------------------
// One epoch's orientation: celestial -> ITRF.

/// The rotation from a celestial frame to ITRF at one epoch, kept in its two factors so that
/// velocities can carry the Earth-rotation term:
///   r_itrf = m r_cel,  m = w t,
///   t = R3(theta) Q (celestial -> TIRS for GCRF, R3(GMST82) for TEME), w = polar motion.
struct Orientation {
    double m[3][3];  // celestial -> ITRF
    double w[3][3];  // TIRS (or PEF) -> ITRF: polar motion
    double t[3][3];  // celestial -> TIRS (or PEF): the Earth's rotation and, for GCRF, Q
};

/// TEME -> ITRF after the revised SGP4 theory (Vallado et al. 2006, AIAA 2006-6753): rotation by
/// GMST 1982 of UT1 (two-part date ut1a + ut1b), then polar motion xp, yp (rad) with s' = 0.
/// No equation-of-the-equinoxes terms: TEME's x axis is the mean equinox of date.
/// The matrices are written out (R3(gmst), then Rx(-yp) Ry(-xp)): the same products as
/// eraRz, eraPom00(xp, yp, 0) and eraRxr, bit for bit, without their sine of zero and the
/// multiplications by zero.
inline void teme_to_itrf(double ut1a, double ut1b, double xp, double yp, Orientation& o) noexcept {
    const double g = eraGmst82(ut1a, ut1b);
    const double sg = std::sin(g), cg = std::cos(g);
    const double sx = std::sin(xp), cx = std::cos(xp), sy = std::sin(yp), cy = std::cos(yp);
    o.t[0][0] = cg;
    o.t[0][1] = sg;
    o.t[0][2] = 0.0;
    o.t[1][0] = -sg;
    o.t[1][1] = cg;
    o.t[1][2] = 0.0;
    o.t[2][0] = 0.0;
    o.t[2][1] = 0.0;
    o.t[2][2] = 1.0;
    o.w[0][0] = cx;
    o.w[0][1] = 0.0;
    o.w[0][2] = sx;
    o.w[1][0] = sy * sx;
    o.w[1][1] = cy;
    o.w[1][2] = -sy * cx;
    o.w[2][0] = -cy * sx;
    o.w[2][1] = sy;
    o.w[2][2] = cy * cx;
    for (int i = 0; i < 3; ++i) {
        o.m[i][0] = o.w[i][0] * cg - o.w[i][1] * sg;
        o.m[i][1] = o.w[i][0] * sg + o.w[i][1] * cg;
        o.m[i][2] = o.w[i][2];
    }
}

/// GCRF -> ITRF, IAU 2006/2000A CIO based, from the CIP coordinates X, Y and the CIO locator s
/// (rad), the Earth rotation angle era (rad), polar motion xp, yp and the TIO locator sp (rad).
/// With X, Y, s from eraXys06a this is eraC2t06a's matrix to the last bit.
inline void gcrf_to_itrf(double x, double y, double s, double era, double xp, double yp, double sp,
                         Orientation& o) noexcept {
    double q[3][3];
    eraC2ixys(x, y, s, q);
    eraCr(q, o.t);
    eraRz(era, o.t);
    eraPom00(xp, yp, sp, o.w);
    // eraC2tcio's product order: rpom * (R3(era) * rc2i)
    eraRxr(o.w, o.t, o.m);
}

/// X, Y, s of the full IAU 2006/2000A series at the TT date tt1 + tt2 (56-96 us).
inline void xys_series(double tt1, double tt2, double xys[3]) noexcept { eraXys06a(tt1, tt2, &xys[0], &xys[1], &xys[2]); }

/// GCRF -> ITRF at one epoch from its X, Y, s, the TT and UT1 dates and polar motion.
inline void gcrf_to_itrf_at(const double xys[3], double tt1, double tt2, double ut1a, double ut1b, double xp,
                            double yp, Orientation& o) noexcept {
    gcrf_to_itrf(xys[0], xys[1], xys[2], eraEra00(ut1a, ut1b), xp, yp, eraSp00(tt1, tt2), o);
}

// ---------------------------------------------------------------------------------------------
// The X/Y/s grid.
//
// Nodes of the full series every 6 hours of TT from J2000 (node k at J2000 + k/4 day), read by
// 6-point Lagrange interpolation (nodes k-2 .. k+3 around an epoch between nodes k and k+1).
// Measured against eraXys06a at 30000 epochs spread over 1900-2100: X and Y within 0.008 uas,
// s within 3e-5 uas (a 6-hour cubic reaches 1.1 uas, a 12-hour quintic 0.5 uas). The grid is
// built lazily in chunks of 8 days, each holding the nodes its interpolation needs (37 series
// evaluations, about 3 ms), and kept for the life of the process: 1800-2200 at most, 16 MB
// if every chunk is touched. Chunks outside that span are never built: those epochs take
// the full series. `demand` decides when a chunk is worth building.

namespace grid {
inline constexpr double step_days = 0.25;
inline constexpr int per_chunk = 32;                 // intervals per chunk: 8 days
inline constexpr int nodes = per_chunk + 5;          // nodes k0-2 .. k0+per_chunk+2
inline constexpr std::int64_t first_chunk = -9132;     // J2000 - 9132 x 8 d: 1799-12-24
inline constexpr std::int64_t chunk_count = 2 * 9132;  // to 2200-01-08
}  // namespace grid

/// One chunk: X, Y, s at the nodes k0-2 .. k0+per_chunk+2, k0 = chunk index x per_chunk.
struct XysChunk {
    double xys[grid::nodes][3];
};

/// Position of an epoch on the grid: its chunk and its fraction past node k (0 <= u < 1).
struct GridPoint {
    std::int64_t chunk;
    int node;   // k - k0, in [0, per_chunk)
    double u;
};

/// Where the TT date tt1 + tt2 falls on the grid; chunk is out of [first, first+count) for dates
/// beyond the grid's span (and for NaN).
inline GridPoint grid_point(double tt1, double tt2) noexcept {
    const double t = ((tt1 - j2000) + tt2) / grid::step_days;
    if (!(std::fabs(t) < 1e9)) return {INT64_MIN, 0, 0.0};
    const double k = std::floor(t);
    const auto ki = static_cast<std::int64_t>(k);
    std::int64_t c = ki >= 0 ? ki / grid::per_chunk : -((-ki + grid::per_chunk - 1) / grid::per_chunk);
    return {c, int(ki - c * grid::per_chunk), t - k};
}

/// The process's grid (one per shared library): chunks published once with an atomic pointer,
/// never freed, so readers take no lock.
class XysGrid {
public:
    /// True when the chunk lies in the grid's span.
    static bool covers(std::int64_t chunk) noexcept {
        return chunk >= grid::first_chunk && chunk < grid::first_chunk + grid::chunk_count;
    }

    /// The chunk if it was built, else nullptr.
    const XysChunk* find(std::int64_t chunk) const noexcept {
        std::atomic<const XysChunk*>* slots = slots_holder().load(std::memory_order_acquire);
        if (!covers(chunk) || !slots) return nullptr;
        return slots[chunk - grid::first_chunk].load(std::memory_order_acquire);
    }

    /// The chunk, built now if needed; nullptr outside the span or when memory runs out.
    const XysChunk* build(std::int64_t chunk) noexcept {
        if (!covers(chunk) || !ensure_slots()) return nullptr;
        if (const XysChunk* c = find(chunk)) return c;
        auto* fresh = new (std::nothrow) XysChunk;
        if (!fresh) return nullptr;
        const double k0 = double(chunk * grid::per_chunk - 2);
        for (int i = 0; i < grid::nodes; ++i) xys_series(j2000, (k0 + i) * grid::step_days, fresh->xys[i]);
        const XysChunk* expected = nullptr;
        auto& slot = slots_holder().load(std::memory_order_acquire)[chunk - grid::first_chunk];
        if (!slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
            delete fresh;  // another thread published the same nodes first
            return expected;
        }
        return fresh;
    }

    /// Record that `count` epochs in an unbuilt chunk were about to take the full series; true
    /// once the chunk's epochs, summed over calls, reach its node count: building it then costs
    /// no more than the series already paid, and epochs met one call at a time still end on
    /// the grid.
    static bool demand(std::int64_t chunk, std::int64_t count) noexcept {
        if (!covers(chunk) || !ensure_slots()) return false;
        auto* d = demand_holder().load(std::memory_order_acquire);
        const std::int64_t before = d[chunk - grid::first_chunk].fetch_add(
            std::int32_t(count < grid::nodes ? count : grid::nodes), std::memory_order_relaxed);
        return before + count >= grid::nodes;
    }

    /// X, Y, s at `p` from a built chunk.
    static void interpolate(const XysChunk& c, const GridPoint& p, double out[3]) noexcept {
        const double u = p.u;
        const double a = u + 2.0, b = u + 1.0, d = u - 1.0, e = u - 2.0, f = u - 3.0;
        // Lagrange weights of the nodes at offsets -2 .. 3
        const double w[6] = {
            -(b * u * d * e * f) / 120.0, (a * u * d * e * f) / 24.0, -(a * b * d * e * f) / 12.0,
            (a * b * u * e * f) / 12.0,   -(a * b * u * d * f) / 24.0, (a * b * u * d * e) / 120.0,
        };
        const double(*n)[3] = &c.xys[p.node];  // node k-2 is row p.node (rows start at k0-2)
        for (int j = 0; j < 3; ++j)
            out[j] = ((((w[0] * n[0][j] + w[1] * n[1][j]) + w[2] * n[2][j]) + w[3] * n[3][j]) + w[4] * n[4][j]) +
                     w[5] * n[5][j];
    }

    /// X, Y, s at the TT date: interpolated from the chunk (built if missing), or the full series
    /// outside the grid's span.
    void xys(double tt1, double tt2, double out[3]) noexcept {
        const GridPoint p = grid_point(tt1, tt2);
        const XysChunk* c = find(p.chunk);
        if (!c) c = build(p.chunk);
        if (c) interpolate(*c, p, out);
        else xys_series(tt1, tt2, out);
    }

private:
    static bool ensure_slots() noexcept {
        if (slots_holder().load(std::memory_order_acquire)) return true;
        auto* counts = new (std::nothrow) std::atomic<std::int32_t>[grid::chunk_count];
        if (!counts) return false;
        for (std::int64_t i = 0; i < grid::chunk_count; ++i) counts[i].store(0, std::memory_order_relaxed);
        std::atomic<std::int32_t>* no_counts = nullptr;
        if (!demand_holder().compare_exchange_strong(no_counts, counts, std::memory_order_acq_rel)) delete[] counts;
        auto* fresh = new (std::nothrow) std::atomic<const XysChunk*>[grid::chunk_count];
        if (!fresh) return false;
        for (std::int64_t i = 0; i < grid::chunk_count; ++i) fresh[i].store(nullptr, std::memory_order_relaxed);
        std::atomic<const XysChunk*>* expected = nullptr;
        if (!slots_holder().compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) delete[] fresh;
        return true;
    }
    static std::atomic<std::atomic<std::int32_t>*>& demand_holder() noexcept {
        static std::atomic<std::atomic<std::int32_t>*> h{nullptr};
        return h;
    }
    static std::atomic<std::atomic<const XysChunk*>*>& slots_holder() noexcept {
        static std::atomic<std::atomic<const XysChunk*>*> h{nullptr};
        return h;
    }
};

/// The grid of this shared library.
inline XysGrid& xys_grid() noexcept {
    static XysGrid g;
    return g;
}

// ---------------------------------------------------------------------------------------------
// Applying an orientation.

/// out = a b (3x3 by 3-vector).
inline void mxv(const double a[3][3], const double b[3], double out[3]) noexcept {
    for (int i = 0; i < 3; ++i) out[i] = (a[i][0] * b[0] + a[i][1] * b[1]) + a[i][2] * b[2];
}

/// out = a^T b.
inline void mtxv(const double a[3][3], const double b[3], double out[3]) noexcept {
    for (int i = 0; i < 3; ++i) out[i] = (a[0][i] * b[0] + a[1][i] * b[1]) + a[2][i] * b[2];
}

/// Celestial -> ITRF position.
inline void to_itrf(const Orientation& o, const double r[3], double ro[3]) noexcept { mxv(o.m, r, ro); }

/// ITRF -> celestial position.
inline void from_itrf(const Orientation& o, const double r[3], double ro[3]) noexcept { mtxv(o.m, r, ro); }

/// Celestial -> ITRF state: v_itrf = w (t v - omega x t r), the Earth-rotation term taken in the
/// intermediate frame whose z axis is the rotation axis.
inline void to_itrf(const Orientation& o, const double r[3], const double v[3], double ro[3], double vo[3]) noexcept {
    double rt[3], vt[3];
    mxv(o.m, r, ro);
    mxv(o.t, r, rt);
    mxv(o.t, v, vt);
    vt[0] += omega_earth * rt[1];
    vt[1] -= omega_earth * rt[0];
    mxv(o.w, vt, vo);
}

/// ITRF -> celestial state: v_cel = t^T (w^T v + omega x w^T r).
inline void from_itrf(const Orientation& o, const double r[3], const double v[3], double ro[3], double vo[3]) noexcept {
    double rt[3], vt[3];
    mtxv(o.m, r, ro);
    mtxv(o.w, r, rt);
    mtxv(o.w, v, vt);
    vt[0] -= omega_earth * rt[1];
    vt[1] += omega_earth * rt[0];
    mtxv(o.t, vt, vo);
}

// ---------------------------------------------------------------------------------------------
// A geodetic station's sky.

inline constexpr double wgs84_a = 6378137.0;
inline constexpr double wgs84_f = 1.0 / 298.257223563;
inline constexpr double speed_of_light = 299792458.0;

/// ITRF position (m) of a point at geodetic latitude lat, longitude lon (rad) and height h (m)
/// above the ellipsoid of equatorial radius a (m) and flattening f (WGS 84 by default).
inline void geodetic_to_itrf(double lat, double lon, double h, double r[3], double a = wgs84_a,
                             double f = wgs84_f) noexcept {
    const double e2 = f * (2.0 - f);
    const double sl = std::sin(lat), cl = std::cos(lat);
    const double n = a / std::sqrt(1.0 - e2 * sl * sl);
    r[0] = (n + h) * cl * std::cos(lon);
    r[1] = (n + h) * cl * std::sin(lon);
    r[2] = (n * (1.0 - e2) + h) * sl;
}

/// Azimuth (rad, from north through east) of a direction with east and north parts e and n, in
/// [0, 2 pi): a negative angle is turned up by 2 pi, and one that then rounds to 2 pi is 0.
inline double azimuth_of(double e, double n) noexcept {
    double az = std::atan2(e, n);
    if (az < 0.0) az += 2.0 * M_PI;
    if (az >= 2.0 * M_PI) az = 0.0;
    return az;
}

/// Azimuth (from north through east, [0, 2 pi)), elevation (rad) and range (m) of the ITRF
/// vector d seen from geodetic latitude lat and longitude lon (rad).
inline void aer_of(const double d[3], double lat, double lon, double out[3]) noexcept {
    const double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
    const double e = -so * d[0] + co * d[1];
    const double t = co * d[0] + so * d[1];
    const double n = -sl * t + cl * d[2];
    const double u = cl * t + sl * d[2];
    out[0] = azimuth_of(e, n);
    out[1] = std::atan2(u, std::hypot(e, n));
    out[2] = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
}

/// Apparent topocentric vector (ITRF, m) of a body at ITRF position rb seen from the station at
/// ITRF position rs: the geometric vector turned by the diurnal aberration of the station's
/// velocity omega x rs (first order: the vector moves by that velocity times the light time),
/// its length kept. Light time of the body's own motion is the caller's.
inline void topocentric(const double rb[3], const double rs[3], double d[3]) noexcept {
    for (int k = 0; k < 3; ++k) d[k] = rb[k] - rs[k];
    const double range = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
    const double tau = range / speed_of_light;
    d[0] += -omega_earth * rs[1] * tau;
    d[1] += omega_earth * rs[0] * tau;
    const double scale = range / std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
    for (int k = 0; k < 3; ++k) d[k] *= scale;
}

/// Atmospheric refraction (rad) to add to a geometric elevation el (rad): Saemundsson's formula
/// (the inverse of Bennett's), scaled for pressure (hPa) and temperature (deg C); zero below
/// -1 degree, where it no longer applies.
inline double refraction(double el, double pressure_hpa, double temperature_c) noexcept {
    const double h = el * (180.0 / M_PI);
    if (!(h >= -1.0) || h > 90.0) return 0.0;
    // the constant makes it vanish at the zenith
    const double arcmin = 1.02 / std::tan((h + 10.3 / (h + 5.11)) * (M_PI / 180.0)) + 0.0019279;
    const double scale = (pressure_hpa / 1010.0) * (283.0 / (273.0 + temperature_c));
    return arcmin * scale * (M_PI / (180.0 * 60.0));
}

}  // namespace kelvara::frames
