// The event search: threshold crossings and maxima of a smooth elevation function of time.
// Pure C++ (no Python.h, no allocation other than the caller's event vector, no exceptions).
//
// A model supplies, at a time t (seconds from the start of the window):
//   double margin() const noexcept;  // how far below the threshold a cubic estimate of the peak
//                                    // between samples must stay to skip it (0: never skip)
//   void eval(double t, Value& out) const noexcept;   // g = elevation - threshold, its rate,
//                                                      // and the rate of the elevation itself
//   double step(double t, const Value& at) const noexcept;  // the sampling step from t
//   double safe(double t, const Value& at) const noexcept;  // a time within which g stays < 0,
//                                                            // forwards and backwards (0: none)
//   bool below_between(double a, const Value&, double b, const Value&) const noexcept;
//                                                            // g < 0 provably all through [a, b]
// The search samples g and its rate from 0 to T, brackets every maximum of the elevation by a
// change of sign of its rate between two samples, brackets every crossing of the threshold by a
// change of sign of g on a stretch where the rate keeps its sign, and refines both to 1 ms.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace kelvara::events {

/// g (rad) and its time derivative (rad/s), and the elevation's own rate (rad/s); they differ
/// only where the threshold moves (the Moon's semi-diameter).
struct Value {
    double g = 0.0, gd = 0.0, ed = 0.0;
    double range = 0.0;  // distance from the station, m (for the climb bound)
    double rate = 0.0;   // angular rate of the orbit about the Earth's centre, rad/s (for the step)
    double psi = 0.0;    // central angle between the station and the object, rad (for the bound)
    double east = 0.0;   // east component of the unit vector to the object (for meridian transits)
    double eastd = 0.0;  // its rate, 1/s
};

enum class Kind : int { rise = 0, maximum = 1, set = 2, transit = 3 };

struct Event {
    double t;    // seconds from the start of the window
    Kind kind;
    double g;    // g at the event (for a maximum: how far above the threshold it culminates)
};

/// The result of a scan: the state at both ends and the events in time order.
struct Scan {
    bool up_at_start = false, up_at_end = false;
    double g_start = 0.0, g_end = 0.0;
    std::vector<Event> events;
};

/// Root tolerance, seconds: every refined time is within this of the true root of the sampled
/// function (half of the 1 ms the results are given to).
inline constexpr double time_tolerance = 5e-4;

/// Brent's root finder on [a, b] where fa and fb differ in sign: inverse quadratic and secant
/// steps, bisection when they stall. Returns a time within `tol` of a root.
template <class F>
inline double brent_root(F&& f, double a, double b, double fa, double fb, double tol) noexcept {
    if (fa == 0.0) return a;
    if (fb == 0.0) return b;
    double c = a, fc = fa, d = b - a, e = d;
    for (int iter = 0; iter < 200; ++iter) {
        if ((fb > 0.0) == (fc > 0.0)) {
            c = a;
            fc = fa;
            d = e = b - a;
        }
        if (std::fabs(fc) < std::fabs(fb)) {
            a = b; b = c; c = a;
            fa = fb; fb = fc; fc = fa;
        }
        const double tol1 = 2.0 * 2.220446049250313e-16 * std::fabs(b) + 0.5 * tol;
        const double xm = 0.5 * (c - b);
        if (std::fabs(xm) <= tol1 || fb == 0.0) return b;
        if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
            double p, q, r;
            const double s = fb / fa;
            if (a == c) {
                p = 2.0 * xm * s;
                q = 1.0 - s;
            } else {
                q = fa / fc;
                r = fb / fc;
                p = s * (2.0 * xm * q * (q - r) - (b - a) * (r - 1.0));
                q = (q - 1.0) * (r - 1.0) * (s - 1.0);
            }
            if (p > 0.0) q = -q;
            p = std::fabs(p);
            if (2.0 * p < std::min(3.0 * xm * q - std::fabs(tol1 * q), std::fabs(e * q))) {
                e = d;
                d = p / q;
            } else {
                d = xm;
                e = d;
            }
        } else {
            d = xm;
            e = d;
        }
        a = b;
        fa = fb;
        b += std::fabs(d) > tol1 ? d : (xm > 0.0 ? tol1 : -tol1);
        fb = f(b);
        if (!(fb == fb)) return b;  // NaN: the model failed inside the bracket; stop here
    }
    return b;
}

/// Brent's minimiser (golden section and parabolic steps) of f on [a, b], started at x: the
/// maximum of the elevation is refined on its values, not on the root of its rate, because a
/// propagator's velocity need not be the exact derivative of its positions, and on a flat top
/// (a high orbit near apogee) a small error in the rate moves its root by seconds.
template <class F>
inline double brent_min(F&& f, double a, double b, double x, double tol) noexcept {
    constexpr double cgold = 0.3819660112501051;
    constexpr double eps = 1.4901161193847656e-08;  // sqrt of the double epsilon
    double w = x, v = x, fx = f(x), fw = fx, fv = fx, d = 0.0, e = 0.0;
    for (int iter = 0; iter < 200; ++iter) {
        const double xm = 0.5 * (a + b);
        const double tol1 = eps * std::fabs(x) + tol / 3.0, tol2 = 2.0 * tol1;
        if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) break;
        bool golden = true;
        if (std::fabs(e) > tol1) {
            double r = (x - w) * (fx - fv), q = (x - v) * (fx - fw), p = (x - v) * q - (x - w) * r;
            q = 2.0 * (q - r);
            if (q > 0.0) p = -p;
            q = std::fabs(q);
            const double etemp = e;
            if (std::fabs(p) < std::fabs(0.5 * q * etemp) && p > q * (a - x) && p < q * (b - x)) {
                e = d;
                d = p / q;
                const double u = x + d;
                if (u - a < tol2 || b - u < tol2) d = xm - x >= 0.0 ? tol1 : -tol1;
                golden = false;
            }
        }
        if (golden) {
            e = (x >= xm) ? a - x : b - x;
            d = cgold * e;
        }
        const double u = std::fabs(d) >= tol1 ? x + d : x + (d > 0.0 ? tol1 : -tol1);
        const double fu = f(u);
        if (!(fu == fu)) break;
        if (fu <= fx) {
            if (u >= x) a = x;
            else b = x;
            v = w; fv = fw;
            w = x; fw = fx;
            x = u; fx = fu;
        } else {
            if (u < x) a = u;
            else b = u;
            if (fu <= fw || w == x) {
                v = w; fv = fw;
                w = u; fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u; fv = fu;
            }
        }
    }
    return x;
}

/// The maximum of g near x within [a, b]: Newton steps on the central differences of g's
/// values (spacing h), which converge in two or three steps from the root of the rate; Brent's
/// minimiser over the whole bracket if they do not. A vertex that falls within the stencil lies
/// within about h^2 |g3 / (6 g2)| of the true maximum (g2, g3 the second and third
/// derivatives): well under the tolerance for h = 0.1 s.
template <class F>
inline double refine_maximum(F&& g, double a, double b, double x, double tol) noexcept {
    const double h = std::min(0.1, 0.25 * (b - a));
    if (h > 0.0 && x - h > a && x + h < b) {
        double fx = g(x);
        for (int iter = 0; iter < 6; ++iter) {
            const double fl = g(x - h), fr = g(x + h);
            const double curv = (fl - 2.0 * fx) + fr;
            if (!(curv < 0.0)) break;
            const double dx = h * (fl - fr) / (2.0 * curv);
            const double xn = x + dx;
            if (!(xn - h > a && xn + h < b)) break;
            // inside the stencil the vertex is already within (g3 / 2 g2) h^2 / 3 of the maximum
            if (std::fabs(dx) < tol || std::fabs(dx) < h) return xn;
            x = xn;
            fx = g(x);
        }
    }
    return brent_min([&](double t) { return -g(t); }, a, b, std::clamp(x, a, b), tol);
}

/// Newton's method kept inside the bracket [a, b] (fa and fb of opposite signs): `f(t, v, d)`
/// gives the value and its derivative. A step leaving the bracket, or a zero derivative, falls
/// back to bisection; the bracket shrinks at every evaluation. Returns a time within `tol` of
/// the root (the last Newton step is smaller than `tol`, and the error after it is of its square).
template <class F>
inline double newton_root(F&& f, double a, double b, double fa, double fb, double da, double db,
                          double tol) noexcept {
    if (fa == 0.0) return a;
    if (fb == 0.0) return b;
    const bool rising = fa < 0.0;  // the sign of f just right of lo
    double lo = a, hi = b;
    // start from the end with the smaller Newton correction
    double x = std::fabs(fa / da) < std::fabs(fb / db) ? a - fa / da : b - fb / db;
    if (!(x > lo && x < hi)) x = lo - fa * (hi - lo) / (fb - fa);
    if (!(x > lo && x < hi)) x = 0.5 * (lo + hi);
    for (int iter = 0; iter < 100; ++iter) {
        double fx, dx;
        f(x, fx, dx);
        if (!(fx == fx)) return x;
        if (fx == 0.0) return x;
        if ((fx < 0.0) == rising) lo = x;
        else hi = x;
        double xn = x - fx / dx;
        if (!(xn > lo && xn < hi)) xn = 0.5 * (lo + hi);
        if (std::fabs(xn - x) < tol || hi - lo < tol) return xn;
        x = xn;
    }
    return x;
}

/// The largest value of the cubic through (0, ga) and (h, gb) with slopes da and db, sampled at
/// eighths of the interval: a cheap estimate of how high a smooth function peaks between samples.
inline double hermite_peak(double ga, double gb, double da, double db, double h) noexcept {
    double best = std::max(ga, gb);
    for (int k = 1; k < 8; ++k) {
        const double s = k / 8.0, s2 = s * s, s3 = s2 * s;
        const double p = (2 * s3 - 3 * s2 + 1) * ga + (s3 - 2 * s2 + s) * h * da + (-2 * s3 + 3 * s2) * gb +
                         (s3 - s2) * h * db;
        best = std::max(best, p);
    }
    return best;
}

/// Scan [0, T] for crossings of g = 0 and maxima of the elevation above the threshold, or, with
/// `transits`, for upper meridian transits (the east component turning from + to -) instead of
/// maxima.
/// The scan covers [begin, T]; a stretch of a longer window can be scanned on its own.
/// Where a scan stands: the last sample reached. A scan can stop after any step and go on
/// later from here, taking exactly the steps it would have taken in one go.
struct Cursor {
    double begin = 0.0, a = 0.0;
    Value va;
    bool started = false;
};

/// Advance a scan of [cursor.begin, T] until it is finished (returns true) or `stop()` says so
/// after a step (returns false; call again with the same cursor and scan to go on).
template <class M, class Stop>
inline bool scan_steps(const M& model, double T, bool transits, Scan& out, Cursor& cur, Stop&& stop) noexcept {
    Value vb;
    double& a = cur.a;
    Value& va = cur.va;
    if (!cur.started) {
        out.events.clear();
        a = cur.begin;
        model.eval(a, va);
        out.up_at_start = va.g > 0.0;
        out.g_start = va.g;
        cur.started = true;
    }
    const double begin = cur.begin;
    auto ed_at = [&](double t) { Value v; model.eval(t, v); return v.ed; };
    auto g_at = [&](double t) { Value v; model.eval(t, v); return v.g; };
    auto g_d = [&](double t, double& f, double& d) { Value v; model.eval(t, v); f = v.g; d = v.gd; };
    auto east_d = [&](double t, double& f, double& d) { Value v; model.eval(t, v); f = v.east; d = v.eastd; };
    auto crossing = [&](double lo, double hi, const Value& vlo, const Value& vhi) {
        const double t = newton_root(g_d, lo, hi, vlo.g, vhi.g, vlo.gd, vhi.gd, time_tolerance);
        out.events.push_back({t, vlo.g < vhi.g ? Kind::rise : Kind::set, 0.0});
    };
    // Whether g may reach 0 between two samples below it: not if the climb bound from either
    // end outlasts the interval (the bound holds backwards in time too), nor if the model gives
    // a margin and the cubic through both samples and their slopes peaks below it.
    const double margin = model.margin();
    auto may_reach = [&](double a, const Value& va, double b, const Value& vb) {
        if (va.g >= 0.0 || vb.g >= 0.0) return true;
        if (model.below_between(a, va, b, vb)) return false;
        if (margin > 0.0 && hermite_peak(va.g, vb.g, va.gd, vb.gd, b - a) < -margin) return false;
        return true;
    };
    while (a < T) {
        // Below the threshold with a bound on how fast the elevation can climb: jump ahead to
        // the first time the threshold could be reached. The elevation cannot cross it in
        // between, so nothing is lost, and no maximum above the threshold lies there either.
        double h = model.step(a, va);
        const double jump = va.g < 0.0 ? model.safe(a, va) : 0.0;
        bool jumped = false;
        if (jump > h) {
            h = jump;
            jumped = true;
        }
        if (!(h > 0.0)) h = 1.0;
        const double b = std::min(T, a + h);
        model.eval(b, vb);
        if (!jumped) {
            const bool nan = !(va.g == va.g) || !(vb.g == vb.g);
            if (nan) {
                // the model failed at one end: nothing can be bracketed across it
            } else if (va.ed > 0.0 && vb.ed <= 0.0 && b > a &&
                       (transits ? (va.g < 0.0 && vb.g < 0.0 && may_reach(a, va, b, vb)) : may_reach(a, va, b, vb))) {
                // A maximum of the elevation: split there, then each side is monotonic. Passes
                // need it as their culmination; transits only where it may hide a short rise.
                // The rate's root starts the search on the values, over the whole bracket.
                const double t0 = brent_root(ed_at, a, b, va.ed, vb.ed, 100 * time_tolerance);
                const double tm = refine_maximum(g_at, a, b, t0, time_tolerance);
                Value vm;
                model.eval(tm, vm);
                if ((va.g > 0.0) != (vm.g > 0.0)) crossing(a, tm, va, vm);
                // a maximum at the very edge of the window is not a culmination inside it
                if (!transits && vm.g > 0.0 && tm > begin && tm < T)
                    out.events.push_back({tm, Kind::maximum, vm.g});
                if ((vm.g > 0.0) != (vb.g > 0.0)) crossing(tm, b, vm, vb);
            } else if (va.ed < 0.0 && vb.ed >= 0.0 && va.g > 0.0 && vb.g > 0.0 &&
                       (margin <= 0.0 || hermite_peak(-va.g, -vb.g, -va.gd, -vb.gd, b - a) > -margin)) {
                // A minimum between two samples above the threshold may dip below it.
                const double t0 = brent_root(ed_at, a, b, va.ed, vb.ed, 100 * time_tolerance);
                const double tm = refine_maximum([&](double t) { return -g_at(t); }, a, b, t0, time_tolerance);
                Value vm;
                model.eval(tm, vm);
                if (vm.g <= 0.0) {
                    crossing(a, tm, va, vm);
                    crossing(tm, b, vm, vb);
                }
            } else if ((va.g > 0.0) != (vb.g > 0.0)) {
                crossing(a, b, va, vb);
            }
            if (transits && va.east > 0.0 && vb.east <= 0.0 && !nan) {
                const double tt = newton_root(east_d, a, b, va.east, vb.east, va.eastd, vb.eastd, time_tolerance);
                if (tt > begin && tt < T) {
                    Value vt;
                    model.eval(tt, vt);
                    out.events.push_back({tt, Kind::transit, vt.g});
                }
            }
        }
        a = b;
        va = vb;
        if (a < T && stop()) return false;
    }
    out.up_at_end = va.g > 0.0;
    out.g_end = va.g;
    if (transits)
        std::stable_sort(out.events.begin(), out.events.end(), [](const Event& x, const Event& y) { return x.t < y.t; });
    return true;
}

/// Scan [begin, T] in one go.
template <class M>
inline void scan(const M& model, double T, bool transits, Scan& out, double begin = 0.0) noexcept {
    Cursor cur;
    cur.begin = begin;
    scan_steps(model, T, transits, out, cur, [] { return false; });
}

/// One pass assembled from a scan: NaN marks a side outside the window.
struct Pass {
    double rise, culmination, set;
    double culmination_g;
};

/// Group a scan's events into passes: a rise opens one, a set closes it, and the highest
/// maximum between them is its culmination. A pass under way at 0 has no rise, one still under
/// way at T no set. Returns false when the threshold is never reached in the window.
inline bool assemble(const Scan& s, std::vector<Pass>& passes) {
    const double nan = std::nan("");
    bool open = s.up_at_start;
    Pass cur{nan, nan, nan, nan};
    for (const Event& e : s.events) {
        switch (e.kind) {
        case Kind::rise:
            open = true;
            cur = Pass{e.t, nan, nan, nan};
            break;
        case Kind::maximum:
            if (open && e.g > 0.0 && !(cur.culmination_g >= e.g)) {
                cur.culmination = e.t;
                cur.culmination_g = e.g;
            }
            break;
        case Kind::transit:
            break;
        case Kind::set:
            if (open) {
                cur.set = e.t;
                passes.push_back(cur);
            }
            open = false;
            cur = Pass{nan, nan, nan, nan};
            break;
        }
    }
    if (open) passes.push_back(cur);
    return s.up_at_start || !passes.empty();
}

/// Time (s) within which the elevation of an object seen at range `d` (m), below the threshold
/// by `below` (rad), cannot climb to it, when its speed relative to the station never exceeds
/// `vmax` (m/s) and its range never falls below `dmin` (m). The direction to the object turns at
/// most |v| / d rad/s and the zenith distance changes no faster, so with d(t) >= d - vmax t the
/// climb over a time s is at most ln(d / (d - vmax s)) until d(t) reaches dmin, and
/// vmax / dmin per second after that.
inline double time_to_climb(double below, double d, double vmax, double dmin) noexcept {
    if (!(below > 0.0) || !(vmax > 0.0) || !(dmin > 0.0)) return 0.0;
    if (d <= dmin) return below * dmin / vmax;
    const double log_room = std::log(d / dmin);
    if (below <= log_room) return d * (1.0 - std::exp(-below)) / vmax;
    return (d - dmin) / vmax + (below - log_room) * dmin / vmax;
}

}  // namespace kelvara::events
