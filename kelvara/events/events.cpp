// kelvara.events.events: the search loops behind find_passes and find_rise_set. The Python layer
// (kelvara/events/__init__.py) turns the window into a time axis and the results into records;
// here the scans run without the interpreter lock, satellites spread over the thread pool.
#include "../frame/frame.hpp"
#include "../frame/arrays.hpp"
#include "../frame/threads.hpp"

#include "models.hpp"

#if __has_include("kelvara/propagators/analytical/sgp4/sgp4.hpp")
#include "kelvara/propagators/analytical/sgp4/sgp4.hpp"
#define KELVARA_EVENTS_SGP4 1
#endif

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace {

using frame::Ref;
namespace ev = kelvara::events;

using frame::data_of;

/// A C-contiguous float64 array made from `o` (0-d or 1-d), or an error naming `name`.
Ref float_array(PyObject* o, const char* name) {
    try {
        return frame::as_array(o, NPY_DOUBLE, 0, 1);
    } catch (const frame::PyErrorSet&) {
        PyErr_Clear();
        frame::raise(PyExc_TypeError, "%s must be an array of numbers", name);
    }
}

Py_ssize_t size(const Ref& a) { return PyArray_SIZE(frame::array_of(a)); }

/// An int argument, with the interpreter's messages for a C int.
int to_int(PyObject* o) {
    const long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
    if (v > INT_MAX) frame::raise(PyExc_OverflowError, "signed integer is greater than maximum");
    if (v < INT_MIN) frame::raise(PyExc_OverflowError, "signed integer is less than minimum");
    return int(v);
}

/// The time axis from its Python parts: (day0, sec0, node0, spacing, tt_utc, ut1_tt, xp, yp).
struct AxisArgs {
    ev::TimeAxis axis;
    Ref tt_utc, ut1_tt, xp, yp;

    void parse(PyObject* tuple) {
        double day0, sec0, node0, spacing;
        PyObject *a, *b, *c, *d;
        static const char* const format = "ddddOOOO;axis must be (day0, sec0, node0, spacing, tt_utc, ut1_tt, xp, yp)";
        if (!PyTuple_Check(tuple)) frame::raise(PyExc_TypeError, "%s", format + 9);
        if (!PyArg_ParseTuple(tuple, format, &day0, &sec0, &node0, &spacing, &a, &b, &c, &d)) throw frame::PyErrorSet{};
        tt_utc = float_array(a, "tt_utc");
        ut1_tt = float_array(b, "ut1_tt");
        xp = float_array(c, "xp");
        yp = float_array(d, "yp");
        const Py_ssize_t n = size(tt_utc);
        if (n < 1 || size(ut1_tt) != n || size(xp) != n || size(yp) != n)
            frame::raise(PyExc_ValueError, "axis arrays must be non-empty and of one length");
        if (!(spacing > 0.0)) frame::raise(PyExc_ValueError, "axis spacing must be positive");
        axis.day0 = day0;
        axis.sec0 = sec0;
        axis.node0 = node0;
        axis.spacing = spacing;
        axis.n = int(n);
        axis.tt_utc = data_of<const double>(tt_utc);
        axis.ut1_tt = data_of<const double>(ut1_tt);
        axis.xp = data_of<const double>(xp);
        axis.yp = data_of<const double>(yp);
    }
};

/// Passes of one satellite, as flat records.
struct PassRecord {
    Py_ssize_t sat;
    double rise, culm, set;
    double rise_az, culm_az, culm_el, set_az;
    int status;  // 0 a pass, 1 above the threshold throughout, 2 never above it
};

/// One satellite's pass search, resumable: the model, its scan and where the scan stands.
template <class Orbit, class Earth>
struct PassSearch {
    ev::PassModel<Orbit, Earth> model;
    ev::Scan scan;
    ev::Cursor cursor;
};

/// Advance satellite `index`'s search until the deadline; once its scan is finished, turn it
/// into records (true).
template <class Orbit, class Earth>
bool passes_step(Py_ssize_t index, PassSearch<Orbit, Earth>& search, double T, const frame::threads::Deadline& deadline,
                 std::vector<PassRecord>& out) {
    if (!ev::scan_steps(search.model, T, false, search.scan, search.cursor, [&] { return deadline.expired(); }))
        return false;
    const Orbit& orbit = search.model.orbit;
    const Earth& earth = search.model.earth;
    const ev::Station& st = search.model.station;
    std::vector<ev::Pass> passes;
    const bool ever = ev::assemble(search.scan, passes);
    auto az_el = [&](double t, double* az, double* el) {
        const double nan = std::nan("");
        if (!(t == t)) {
            *az = nan;
            if (el) *el = nan;
            return;
        }
        double r[3], v[3], rf[3], vf[3];
        if (orbit.state(t, r, v) != 0) {
            *az = nan;
            if (el) *el = nan;
            return;
        }
        earth.fixed(t, r, v, rf, vf);
        *az = ev::azimuth(st, rf);
        if (el) *el = ev::look(st, rf, vf).el;
    };
    if (!ever) {
        const double nan = std::nan("");
        out.push_back({index, nan, nan, nan, nan, nan, nan, nan, 2});
        return true;
    }
    for (const ev::Pass& p : passes) {
        PassRecord r{index, p.rise, p.culmination, p.set, 0, 0, 0, 0, 0};
        az_el(p.rise, &r.rise_az, nullptr);
        az_el(p.culmination, &r.culm_az, &r.culm_el);
        az_el(p.set, &r.set_az, nullptr);
        r.status = (p.rise == p.rise || p.set == p.set) ? 0 : 1;
        out.push_back(r);
    }
    std::vector<ev::Event>().swap(search.scan.events);
    return true;
}

/// The records as a tuple of arrays: (sat, rise, culm, set, rise_az, culm_az, culm_el, set_az, status).
Ref records_tuple(const std::vector<PassRecord>& recs) {
    npy_intp n[1] = {npy_intp(recs.size())};
    Ref sat = frame::new_array(1, n, NPY_INT64);
    Ref status = frame::new_array(1, n, NPY_INT8);
    Ref cols[7];
    for (auto& c : cols) c = frame::new_array(1, n);
    auto* ps = data_of<npy_int64>(sat);
    auto* pst = data_of<npy_int8>(status);
    double* pc[7];
    for (int k = 0; k < 7; ++k) pc[k] = data_of(cols[k]);
    for (Py_ssize_t i = 0; i < n[0]; ++i) {
        const PassRecord& r = recs[std::size_t(i)];
        ps[i] = r.sat;
        pst[i] = npy_int8(r.status);
        pc[0][i] = r.rise;
        pc[1][i] = r.culm;
        pc[2][i] = r.set;
        pc[3][i] = r.rise_az;
        pc[4][i] = r.culm_az;
        pc[5][i] = r.culm_el;
        pc[6][i] = r.set_az;
    }
    return Ref::steal(PyTuple_Pack(9, sat.get(), cols[0].get(), cols[1].get(), cols[2].get(), cols[3].get(),
                                   cols[4].get(), cols[5].get(), cols[6].get(), status.get()));
}

/// Passes of n satellites over [0, T]: `make(i, orbit)` sets satellite i's orbit up and gives
/// its bounds. Blocks of satellites are searched in rounds over the pool (see
/// frame::threads::parallel_rounds), each satellite's scan going on from where the last round
/// left it, so that Ctrl-C ends a long search within a fraction of a second.
template <class Orbit, class Earth, class Make>
Ref search_passes(Py_ssize_t n, const Earth& earth, const ev::Station& st, double threshold, double T, double fraction,
                  Make&& make) {
    std::vector<std::vector<PassRecord>> per(static_cast<std::size_t>(n));
    const Py_ssize_t block = std::max<Py_ssize_t>(32, 8 * frame::threads::count());
    for (Py_ssize_t b = 0; b < n; b += block) {
        const Py_ssize_t m = std::min(n - b, block);
        // the models hold references to the orbits: both stay where they are for the block
        std::vector<Orbit> orbits(static_cast<std::size_t>(m));
        std::vector<PassSearch<Orbit, Earth>> searches;
        searches.reserve(std::size_t(m));
        for (Py_ssize_t k = 0; k < m; ++k) {
            const ev::OrbitBounds bounds = make(b + k, orbits[std::size_t(k)]);
            searches.push_back(PassSearch<Orbit, Earth>{ev::PassModel<Orbit, Earth>{orbits[std::size_t(k)], earth, st, threshold, fraction}, {}, {}});
            searches.back().model.set_bounds(bounds);
        }
        frame::threads::parallel_rounds(m, [&](Py_ssize_t k, const frame::threads::Deadline& deadline) {
            return passes_step(b + k, searches[std::size_t(k)], T, deadline, per[std::size_t(b + k)]);
        });
    }
    std::vector<PassRecord> all;
    for (auto& v : per) all.insert(all.end(), v.begin(), v.end());
    return records_tuple(all);
}

/// The station from its arguments (lat, lon, alt, a, f), read in that order.
ev::Station station_from(PyObject* lat, PyObject* lon, PyObject* alt, PyObject* a, PyObject* f) {
    const double la = frame::to_double(lat), lo = frame::to_double(lon), h = frame::to_double(alt),
                 aa = frame::to_double(a), ff = frame::to_double(f);
    return ev::make_station(la, lo, h, aa, ff);
}

/// _passes_kepler(orbits, lat, lon, alt, a, f, theta0, T, threshold, fraction): two-body orbits
/// (rows of a, e, i, raan, argp, m0) over a uniformly rotating Earth; the test model.
Ref passes_kepler(PyObject*, PyObject* orbits_o, PyObject* lat, PyObject* lon, PyObject* alt, PyObject* a,
                  PyObject* f, PyObject* theta0, PyObject* T_o, PyObject* threshold_o, PyObject* fraction_o) {
    const ev::Station st = station_from(lat, lon, alt, a, f);
    const ev::UniformEarth earth{frame::to_double(theta0)};
    const double T = frame::to_double(T_o), threshold = frame::to_double(threshold_o),
                 fraction = frame::to_double(fraction_o);
    Ref flat = frame::as_array(orbits_o, NPY_DOUBLE, 1, 2);
    if (size(flat) % 6 != 0) frame::raise(PyExc_ValueError, "orbits must hold rows of 6 elements");
    const double* d = data_of<const double>(flat);
    const Py_ssize_t n = size(flat) / 6;
    if (!(T >= 0.0)) frame::raise(PyExc_ValueError, "T must be >= 0");
    return search_passes<ev::Kepler>(n, earth, st, threshold, T, fraction, [&](Py_ssize_t i, ev::Kepler& k) {
        const double* e = d + 6 * i;
        k = ev::Kepler{e[0], e[1], e[2], e[3], e[4], e[5]};
        return ev::orbit_bounds(std::sqrt(ev::mu_earth / (e[0] * e[0] * e[0])), e[1]);
    });
}

#ifdef KELVARA_EVENTS_SGP4
namespace sg = kelvara::sgp4;

PyTypeObject* elements_type = nullptr;  // bound on first use, kept for the life of the process

/// A propagated satellite over the window: minutes since its epoch from seconds of UTC (days of
/// 86400 s, as the epoch counts them). A search steps forward in time, so the resonance
/// integrator of a deep-space satellite goes on from its last node, and from the nearest of its
/// checkpoints when the search looks back a little (or the window lies before the epoch),
/// instead of restarting from the epoch at every sample.
struct SgpOrbit {
    const sg::Satrec* sat = nullptr;
    double minutes0 = 0.0;  // minutes from the epoch to t = 0
    std::unique_ptr<sg::Integrator> resume;  // resonant satellites only
    std::unique_ptr<sg::ResonanceTable> table;

    int state(double t, double r[3], double v[3]) const noexcept {
        const int code = sg::propagate(*sat, minutes0 + t / 60.0, r, v, resume.get());
        return code == 6 ? 0 : code;
    }
};

/// _passes(elements, lat, lon, alt, a, f, axis, T, threshold, fraction)
Ref passes(PyObject*, PyObject* seq_o, PyObject* lat, PyObject* lon, PyObject* alt, PyObject* a, PyObject* f,
           PyObject* axis_o, PyObject* T_o, PyObject* threshold_o, PyObject* fraction_o) {
    const ev::Station st = station_from(lat, lon, alt, a, f);
    const double T = frame::to_double(T_o), threshold = frame::to_double(threshold_o),
                 fraction = frame::to_double(fraction_o);
    Ref seq = Ref::steal(PySequence_Fast(seq_o, "elements must be an Elements or a sequence of them"));
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    // bound on first use, so that this module loads without the propagator
    if (!elements_type) elements_type = kelvara::import_elements_type();
    PyTypeObject* type = elements_type;
    std::vector<sg::Satrec> sats(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (!PyObject_TypeCheck(o, type))
            frame::raise(PyExc_TypeError, "elements[%zd] must be an Elements, not %.100s", i, Py_TYPE(o)->tp_name);
        sats[std::size_t(i)] = reinterpret_cast<kelvara::ElementsObject*>(o)->sat;
    }
    AxisArgs ax;
    ax.parse(axis_o);
    if (!(T >= 0.0)) frame::raise(PyExc_ValueError, "T must be >= 0");
    const ev::TemeEarth earth{ax.axis};
    return search_passes<SgpOrbit>(n, earth, st, threshold, T, fraction, [&](Py_ssize_t i, SgpOrbit& orbit) {
        const sg::Satrec& s = sats[std::size_t(i)];
        orbit.sat = &s;
        orbit.minutes0 = ((ax.axis.day0 - s.jd_epoch1) - s.jd_epoch2) * 1440.0 + ax.axis.sec0 / 60.0;
        if (s.deep && s.irez != 0) {
            orbit.resume = std::make_unique<sg::Integrator>();
            orbit.table = std::make_unique<sg::ResonanceTable>();
            orbit.resume->table = orbit.table.get();
        }
        return ev::orbit_bounds(s.no_unkozai / 60.0, s.ecco);
    });
}
#endif

/// _rise_set(body, lat, lon, alt, a, f, axis, T, horizon, limb)
/// -> (kind int8 [0 rise, 2 set, 3 transit], t, az, el, up_at_start, az0, el0)
Ref rise_set(PyObject*, PyObject* body_o, PyObject* lat, PyObject* lon, PyObject* alt, PyObject* a, PyObject* f,
             PyObject* axis_o, PyObject* T_o, PyObject* horizon_o, PyObject* limb_o) {
    const int body = to_int(body_o);
    const ev::Station st = station_from(lat, lon, alt, a, f);
    const double T = frame::to_double(T_o), horizon = frame::to_double(horizon_o);
    const bool limb = frame::truth(limb_o);
    if (body != 0 && body != 1) frame::raise(PyExc_ValueError, "body must be 0 (Sun) or 1 (Moon)");
    AxisArgs ax;
    ax.parse(axis_o);
    if (!(T >= 0.0)) frame::raise(PyExc_ValueError, "T must be >= 0");
    ev::Scan scan;
    std::vector<double> az, el;
    double az0 = 0.0, el0 = 0.0;
    ev::NodeTable cip, pos, cirs;
    // TT dates of the window's ends, days from J2000, for the node tables
    const double lo = (ax.axis.day0 - 2451545.0) + ax.axis.at(0.0).tt2;
    const double hi = (ax.axis.day0 - 2451545.0) + ax.axis.at(T).tt2;
    // The nodes the process has not computed yet (the full series, tens of microseconds each):
    // in timed blocks over the pool, with a look at pending signals between them.
    ev::NodeCache& body_cache = body == 0 ? ev::sun_cache() : ev::moon_cache();
    cip.prepare(ev::cip_cache(), lo - 4.0, hi + 4.0, 6);
    pos.prepare(body_cache, lo - 4.0, hi + 4.0, 6);
    frame::threads::parallel_timed(cip.size(), 16, cip.size(),
                                   [&](Py_ssize_t b, Py_ssize_t e) { cip.fill(ev::cip_cache(), int(b), int(e)); });
    frame::threads::parallel_timed(pos.size(), 16, pos.size(),
                                   [&](Py_ssize_t b, Py_ssize_t e) { pos.fill(body_cache, int(b), int(e)); });
    {
        frame::Unlocked nogil;
        cirs.load_product(cip, pos, body == 0 ? 1.0 : 0.5, lo, hi, 6);
    }
    frame::check_signals();
    const ev::BodyModel model{ax.axis, cirs, st, horizon, limb, 1.0 / 8.0};
    // Stretches of 16 days scanned apart over the pool, their events joined in order; blocks of
    // stretches run without the lock, with a look at pending signals between them.
    const Py_ssize_t chunks = std::max<Py_ssize_t>(1, Py_ssize_t(std::ceil(T / (16.0 * 86400.0))));
    std::vector<ev::Scan> parts(static_cast<std::size_t>(chunks));
    frame::threads::parallel_timed(chunks, 1, chunks, [&](Py_ssize_t b, Py_ssize_t e) {
        for (Py_ssize_t i = b; i < e; ++i) {
            const double lo_t = T * double(i) / double(chunks);
            const double hi_t = i + 1 == chunks ? T : T * double(i + 1) / double(chunks);
            ev::scan(model, hi_t, true, parts[std::size_t(i)], lo_t);
        }
    });
    {
        frame::Unlocked nogil;
        scan.up_at_start = parts.front().up_at_start;
        scan.up_at_end = parts.back().up_at_end;
        for (const ev::Scan& p : parts) scan.events.insert(scan.events.end(), p.events.begin(), p.events.end());
        {
            double rf[3], vf[3];
            model.fixed(0.0, rf, vf);
            az0 = ev::azimuth(st, rf);
            el0 = ev::look(st, rf, vf).el;
        }
        for (const ev::Event& e : scan.events) {
            double rf[3], vf[3];
            model.fixed(e.t, rf, vf);
            az.push_back(ev::azimuth(st, rf));
            el.push_back(ev::look(st, rf, vf).el);
        }
    }
    npy_intp n[1] = {npy_intp(scan.events.size())};
    Ref kind = frame::new_array(1, n, NPY_INT8), t = frame::new_array(1, n), azo = frame::new_array(1, n),
        elo = frame::new_array(1, n);
    auto* pk = data_of<npy_int8>(kind);
    double *pt = data_of(t), *pa = data_of(azo), *pe = data_of(elo);
    for (Py_ssize_t i = 0; i < n[0]; ++i) {
        const ev::Event& e = scan.events[std::size_t(i)];
        pk[i] = npy_int8(static_cast<int>(e.kind));
        pt[i] = e.t;
        pa[i] = az[std::size_t(i)];
        pe[i] = el[std::size_t(i)];
    }
    return Ref::steal(Py_BuildValue("(OOOOOdd)", kind.get(), t.get(), azo.get(), elo.get(),
                                    scan.up_at_start ? Py_True : Py_False, az0, el0));
}

PyMethodDef methods[] = {
    frame::Method<"_passes_kepler", "orbits", "lat", "lon", "alt", "a", "f", "theta0", "T", "threshold",
                  "fraction">::def<passes_kepler>(
        "_passes_kepler(orbits, lat, lon, alt, a, f, theta0, T, threshold, fraction)\n--\n\n"
        "Passes of two-body orbits over a uniformly rotating Earth (the search's test model)."),
#ifdef KELVARA_EVENTS_SGP4
    frame::Method<"_passes", "elements", "lat", "lon", "alt", "a", "f", "axis", "T", "threshold",
                  "fraction">::def<passes>(
        "_passes(elements, lat, lon, alt, a, f, axis, T, threshold, fraction)\n--\n\n"
        "Passes of SGP4 satellites over a window's time axis (use kelvara.events.find_passes)."),
#endif
    frame::Method<"_rise_set", "body", "lat", "lon", "alt", "a", "f", "axis", "T", "horizon", "limb">::def<rise_set>(
        "_rise_set(body, lat, lon, alt, a, f, axis, T, horizon, limb)\n--\n\n"
        "Rise, transit and set of the Sun or the Moon (use kelvara.events.find_rise_set)."),
    {nullptr, nullptr, 0, nullptr}};

void body(frame::Module&, PyObject* module) {
    frame::threads::bind();
    frame::check_status(PyModule_AddFunctions(module, methods));
}

frame::Module events_module("kelvara.events.events", "events",
                            "Search loops for satellite passes and Sun and Moon rise and set.",
                            "kelvara/events/events.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_events() { return events_module.init(); }
