// Per-point geodetic kernels of Ellipsoid, in pure C++ (no interpreter calls, no allocation, no
// exceptions): degenerate input yields IEEE infinities or NaN. The grouping of each expression
// is the one that fixes the last bit of the results (built with -ffp-contract=off); squares are
// products (x*x), and cos^2 is formed before it scales anything.
//
// `E` is the ellipsoid record: it has `Re`, `f`, `Rp` and `vtab`, the table of these kernels.
// Kernels reach one another only through `self->vtab`, so a derived type that replaces a slot
// changes every kernel that relies on it.
#pragma once

#include <cmath>
#include <limits>

#include "../../datamodel/records.hpp"
#include "../linear/vector_kernels.hpp"

namespace kelvara::ellipsoid_kernels {

/// The vector kernels the AER computation uses. The method layer hands in the functions it binds
/// from kelvara.mathtools.linear.linear; the table's own slot uses the inline ones (the same
/// arithmetic), so no kernel reads state that anything else can change.
struct VectorOps {
    void (*sub)(double*, double*, double*);
    double (*dot)(double*, double*);
    double (*norm)(double*);
};

namespace detail {
inline void sub(double* a, double* b, double* c) { vec::sub(a, b, c); }
inline double dot(double* a, double* b) { return vec::dot(a, b); }
inline double norm(double* a) { return vec::norm(a); }
}  // namespace detail

inline constexpr VectorOps inline_vector_ops{detail::sub, detail::dot, detail::norm};

/// Newton steps allowed to c_solve_reduced_lat_equation. Almost every position converges in
/// under 20 steps, but inside the evolute of the meridian ellipse (|r| below about e^2 a: 25 to
/// 32 km from the centre for WGS 84) the iteration can wander for thousands of steps before it
/// settles (7720 at most in 2e7 samples over f = 1e-10 .. 0.999), or never settle at all. The cap
/// is far above any settling run seen, so it changes no result that converges.
inline constexpr int max_newton_steps = 100000;

/// Below this |cos(beta)| (within about 1 mrad of a pole) c_lla_from_pos takes the height from z
/// instead of from the distance to the axis, whose error grows as 1 / cos(beta): 3e-4 m at 1e-4 rad
/// from the pole, 4 m at 1e-8 rad, kilometres closer in.
inline constexpr double polar_cap_cos_beta = 1e-3;

/// Tolerance on the last Newton step of the reduced latitude, radians.
inline constexpr double newton_tolerance = 1.567e-5;

template <class E>
struct Kernels {
    static double sq(double x) noexcept { return x * x; }

    // slot 0: beta = atan(tan(phi) * (1 - f))
    static double c_reduced_lat_from_geodetic_lat(E* self, double phi) noexcept {
        return std::atan(std::tan(phi) * (1 - self->f));
    }

    // slot 1: phi = atan(tan(beta) / (1 - f))
    static double c_geodetic_lat_from_reduced_lat(E* self, double beta) noexcept {
        return std::atan(std::tan(beta) / (1 - self->f));
    }

    // slot 2: the geodetic up vector (independent of the ellipsoid).
    static void surf_normal_vector(E*, SurfCoord coord, double* u) noexcept {
        u[0] = std::cos(coord.lat) * std::cos(coord.lon);
        u[1] = std::cos(coord.lat) * std::sin(coord.lon);
        u[2] = std::sin(coord.lat);
    }

    // slot 3: east and north unit tangents.
    static void surf_tangent_vector(E* self, SurfCoord coord, double* u_east, double* u_north) noexcept {
        const double f = self->f;
        const double beta = self->vtab->c_reduced_lat_from_geodetic_lat(self, coord.lat);
        const double cb = std::cos(beta), sb = std::sin(beta);
        const double W = std::sqrt(1 - (2 - f) * f * sq(cb));
        const double cl = std::cos(coord.lon), sl = std::sin(coord.lon);
        u_east[0] = -sl;
        u_east[1] = cl;
        u_east[2] = 0;
        u_north[0] = -sb * cl / W;
        u_north[1] = -sb * sl / W;
        u_north[2] = (1 - f) * cb / W;
    }

    // slot 4
    static void c_enu(E* self, SurfCoord coord, ENU_Frame* out) noexcept {
        double up[3], east[3], north[3];
        self->vtab->surf_normal_vector(self, coord, up);
        self->vtab->surf_tangent_vector(self, coord, east, north);
        for (int i = 0; i < 3; ++i) {
            out->u_east[i] = east[i];
            out->u_north[i] = north[i];
            out->u_up[i] = up[i];
        }
    }

    // slot 5: the surface point at geodetic coordinates, through the reduced latitude.
    static void c_surf_pos_from_surf_coord(E* self, SurfCoord coord, double* r) noexcept {
        const double a = self->Re, f = self->f;
        const double beta = self->vtab->c_reduced_lat_from_geodetic_lat(self, coord.lat);
        const double cb = std::cos(beta);
        r[0] = std::cos(coord.lon) * (cb * a);
        r[1] = std::sin(coord.lon) * (cb * a);
        r[2] = std::sin(beta) * a * (1 - f);
    }

    // slot 6: coordinates of a point taken to lie on the surface (|z| > b gives a NaN latitude).
    static void c_surf_coord_from_surf_pos(E* self, const double* r, SurfCoord* out) noexcept {
        const double beta = std::asin(r[2] / self->Re / (1 - self->f));
        const double lon = std::atan2(r[1], r[0]);
        out->lat = self->vtab->c_geodetic_lat_from_reduced_lat(self, beta);
        out->lon = lon;
    }

    // slot 7: Newton iteration for the reduced latitude of the foot point of r, started at the
    // geocentric latitude. On a sphere (f = 0, where the step would divide by B = 0) the
    // reduced, geodetic and geocentric latitudes are one angle, atan2(z, p), taken directly.
    // NaN input and the centre (0/0) give a NaN step, which ends the loop. A point whose iteration does not settle gives NaN: either its
    // latitude repeats exactly (the step depends on beta alone, so it would cycle for ever;
    // found with Brent's method at no cost to converging points) or it runs out of steps.
    static double c_solve_reduced_lat_equation(E* self, const double* r) noexcept {
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        const double a = self->Re, f = self->f;
        const double x = r[0], y = r[1], z = r[2];
        if (f == 0) return std::atan2(z, std::sqrt(x * x + y * y));
        const double B = f * a * (2 - f);
        const double p = std::sqrt(x * x + y * y);
        const double P = p / B;
        const double A = (1 - f) * z / B;
        double beta = std::asin(z / std::sqrt(z * z + p * p));
        double h = 1.0;
        double seen = beta;  // Brent: the latitude at the last power-of-two step
        int since_seen = 0, window = 1;
        for (int steps = 0; std::fabs(h) > newton_tolerance; ++steps) {
            if (steps == max_newton_steps) return nan;
            const double s = std::sin(beta), c = std::cos(beta);
            h = (c * s - s * P + c * A) / (c * c - s * s - c * P - s * A);
            beta = beta - h;
            if (std::fabs(h) > newton_tolerance && beta == seen) return nan;
            if (++since_seen == window) {
                seen = beta;
                window *= 2;
                since_seen = 0;
            }
        }
        return beta;
    }

    // slot 8
    static void c_lla_from_pos(E* self, const double* r, LLA* out) noexcept {
        const double a = self->Re, f = self->f;
        const double x = r[0], y = r[1], z = r[2];
        const double lon = (x == 0 && y == 0) ? 0.0 : std::atan2(y, x);
        const double beta = self->vtab->c_solve_reduced_lat_equation(self, r);
        if (f == 0) {
            // A sphere: the latitude is the solver's angle itself, the height |r| - a.
            out->lat = beta;
            out->lon = lon;
            out->alt = std::sqrt(x * x + y * y + z * z) - a;
            return;
        }
        const double lat = self->vtab->c_geodetic_lat_from_reduced_lat(self, beta);
        const double p = std::sqrt(x * x + y * y);
        double alt;
        const double cb = std::cos(beta);
        if (p < 1e-5) {
            // On the axis p / cos(beta) is 0/0: the height is measured along the axis instead.
            alt = std::fabs(z) - (1 - f) * a;
        } else if (std::fabs(cb) < polar_cap_cos_beta) {
            // Near the pole p / cos(beta) divides two small numbers, and the residual error of
            // beta grows into metres (kilometres within 1e-9 rad of the pole); the same height
            // measured through z is well conditioned there.
            alt = std::sqrt(1 - (2 - f) * f * sq(cb)) * (z / std::sin(beta) - self->Rp);
        } else {
            alt = std::sqrt(1 - (2 - f) * f * sq(cb)) * (p / cb - a) / (1 - f);
        }
        out->lat = lat;
        out->lon = lon;
        out->alt = alt;
    }

    // slot 9
    static void c_pos_from_lla(E* self, LLA lla, double* r) noexcept {
        double r_surf[3], n[3];
        const SurfCoord coord{lla.lat, lla.lon};
        const auto* vt = self->vtab;
        if (vt->c_surf_pos_from_surf_coord == &c_surf_pos_from_surf_coord && vt->surf_normal_vector == &surf_normal_vector &&
            vt->c_reduced_lat_from_geodetic_lat == &c_reduced_lat_from_geodetic_lat) {
            // The slots are this file's kernels: the same arithmetic inline, with the sine and
            // cosine of the longitude taken once for both.
            const double a = self->Re, f = self->f;
            const double beta = c_reduced_lat_from_geodetic_lat(self, lla.lat);
            const double cb = std::cos(beta), cl = std::cos(lla.lon), sl = std::sin(lla.lon);
            const double clat = std::cos(lla.lat);
            r_surf[0] = cl * (cb * a);
            r_surf[1] = sl * (cb * a);
            r_surf[2] = std::sin(beta) * a * (1 - f);
            n[0] = clat * cl;
            n[1] = clat * sl;
            n[2] = std::sin(lla.lat);
        } else {
            vt->c_surf_pos_from_surf_coord(self, coord, r_surf);
            vt->surf_normal_vector(self, coord, n);
        }
        for (int i = 0; i < 3; ++i) r[i] = lla.alt * n[i] + r_surf[i];
    }

    // slot 10: geodetic position and rates from an Earth-fixed position and velocity. On the
    // polar axis (rho = 0) the rates are not finite.
    static void c_geodetic_state_from_state_vector(E* self, const double* r, const double* v,
                                                   GeodeticState* out) noexcept {
        const double a = self->Re, f = self->f, b = self->Rp;
        const double e2 = (2 - f) * f;
        const double x = r[0], y = r[1];
        const double vx = v[0], vy = v[1], vz = v[2];
        const double rho2 = x * x + y * y;
        const double rho = std::sqrt(rho2);
        const double rho_dot = (x * vx + y * vy) / rho;
        LLA lla;
        self->vtab->c_lla_from_pos(self, r, &lla);
        const double lon_dot = (x * vy - vx * y) / rho2;
        const double beta = self->vtab->c_reduced_lat_from_geodetic_lat(self, lla.lat);
        const double cb = std::cos(beta), sb = std::sin(beta);
        const double A = 1 / std::sqrt(1 - e2 * sq(cb));
        const double T = -e2 * cb * sb * (A * A * A);
        const double h = lla.alt;
        const double Q = h * (1 - f) * T * cb - (A * (1 - f) * h + a) * sb;
        const double P = (A * h + b) * cb + T * h * sb;
        const double D = A * sb * Q - P * A * (1 - f) * cb;
        const double lat_dot =
            (1 - f) / (sq(1 - f) * sq(cb) + sq(sb)) * (A * sb * rho_dot - A * (1 - f) * cb * vz) / D;
        const double alt_dot = (Q * vz - P * rho_dot) / D;
        out->lat = lla.lat;
        out->lon = lla.lon;
        out->alt = lla.alt;
        out->lat_dot = lat_dot;
        out->lon_dot = lon_dot;
        out->alt_dot = alt_dot;
    }

    // slot 11: Earth-fixed position and velocity from a geodetic state.
    static void c_state_vector_from_geodetic_state(E* self, GeodeticState gs, double* r, double* v) noexcept {
        const double a = self->Re, f = self->f, b = self->Rp;
        const double e2 = (2 - f) * f;
        const double beta = self->vtab->c_reduced_lat_from_geodetic_lat(self, gs.lat);
        const double cb = std::cos(beta), sb = std::sin(beta);
        const double W2 = 1 - e2 * sq(cb);
        const double A = 1 / std::sqrt(W2);
        const double T = -e2 * cb * sb * (A * A * A);
        const double beta_dot = W2 / (1 - f) * gs.lat_dot;
        self->vtab->c_pos_from_lla(self, LLA{gs.lat, gs.lon, gs.alt}, r);
        const double x = r[0], y = r[1];
        const double rho2 = x * x + y * y;
        const double rho = std::sqrt(rho2);
        const double h = gs.alt;
        const double rho_dot = (gs.alt_dot * A * (1 - f) + h * (1 - f) * T * beta_dot) * cb -
                               (h * A * (1 - f) + a) * sb * beta_dot;
        v[0] = (x * rho * rho_dot - y * rho2 * gs.lon_dot) / rho2;
        v[1] = (y * rho * rho_dot + x * rho2 * gs.lon_dot) / rho2;
        v[2] = (gs.alt_dot * A + h * T * beta_dot) * sb + (h * A + b) * cb * beta_dot;
    }

    // slot 12: the root of smaller magnitude of |r0 + t u| on the ellipsoid (it may lie behind
    // the origin); a ray that misses gives NaN.
    static void c_surf_pos_of_ray_first_intersection(E* self, const double* r0, const double* u,
                                                     double* out) noexcept {
        const double a = self->Re, f = self->f;
        const double k = 1 / (1 - f) / (1 - f);
        const double A = u[0] * u[0] + u[1] * u[1] + u[2] * u[2] * k;
        const double B = 2 * (r0[0] * u[0] + r0[1] * u[1] + r0[2] * u[2] * k);
        const double C = r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2] * k - a * a;
        const double disc = B * B - C * (4 * A);
        if (disc < 0) {
            out[0] = out[1] = out[2] = std::numeric_limits<double>::quiet_NaN();
            return;
        }
        double t;
        if (disc == 0) {
            t = -B * 0.5 / A;
        } else {
            const double t1 = (-B + std::sqrt(disc)) * 0.5 / A;
            const double t2 = (-B - std::sqrt(disc)) * 0.5 / A;
            t = std::fabs(t2) > std::fabs(t1) ? t1 : t2;
        }
        for (int i = 0; i < 3; ++i) out[i] = t * u[i] + r0[i];
    }

    // slot 13: azimuth (clockwise from north, atan2 range), elevation and range of a target.
    static void c_aer_coords(E* self, const double* r_target, LLA obs, AER* out) noexcept {
        Observer o(self, obs, inline_vector_ops);
        o.aer(r_target, out);
    }

    /// What c_aer_coords derives from the observer alone (its position and local frame, through
    /// the table), so that a batch seen from one observer computes it once; `aer` then does the
    /// per-target part with the same arithmetic.
    struct Observer {
        double r_obs[3], east[3], north[3], up[3];
        VectorOps ops;

        Observer(E* self, LLA obs, const VectorOps& vector_ops) noexcept : ops(vector_ops) {
            self->vtab->c_pos_from_lla(self, obs, r_obs);
            ENU_Frame enu;
            self->vtab->c_enu(self, SurfCoord{obs.lat, obs.lon}, &enu);
            // The record is packed; the vector kernels get aligned copies of its axes.
            for (int i = 0; i < 3; ++i) {
                east[i] = enu.u_east[i];
                north[i] = enu.u_north[i];
                up[i] = enu.u_up[i];
            }
        }

        void aer(const double* r_target, AER* out) noexcept {
            double rho[3];
            ops.sub(const_cast<double*>(r_target), r_obs, rho);
            const double e = ops.dot(rho, east);
            const double n = ops.dot(rho, north);
            const double u = ops.dot(rho, up);
            const double range = ops.norm(rho);
            out->azimuth = std::atan2(e, n);
            out->elevation = std::asin(u / range);
            out->range = range;
        }
    };

    /// The table of these kernels, in slot order.
    template <class VTable>
    static constexpr VTable table() noexcept {
        return VTable{c_reduced_lat_from_geodetic_lat,
                      c_geodetic_lat_from_reduced_lat,
                      surf_normal_vector,
                      surf_tangent_vector,
                      c_enu,
                      c_surf_pos_from_surf_coord,
                      c_surf_coord_from_surf_pos,
                      c_solve_reduced_lat_equation,
                      c_lla_from_pos,
                      c_pos_from_lla,
                      c_geodetic_state_from_state_vector,
                      c_state_vector_from_geodetic_state,
                      c_surf_pos_of_ray_first_intersection,
                      c_aer_coords};
    }
};

}  // namespace kelvara::ellipsoid_kernels
