// kelvara.propagators.analytical.sgp4.sgp4: element sets become positions. `Elements` decodes
// and initialises a two-line element set once; `propagate` runs the SGP4/SDP4 kernels over
// satellites x times without the interpreter lock, on the frame's thread pool; `EarthSatellite`
// is a Satellite whose `time` gives a TEME state.
#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "../../../frame/globals.hpp"
#include "../../../frame/threads.hpp"
#include "sgp4.hpp"

#include <structmember.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <strings.h>
#include <vector>

#include "../../../time/time.hpp"
#include "tle.hpp"
#include "sgp4_doc.hpp"

namespace {

using frame::Ref;
using kelvara::ElementsObject;
namespace k = kelvara::sgp4;

// Bound during exec and kept for the life of the process.
PyTypeObject* elements_type = nullptr;
PyTypeObject* time_type = nullptr;
PyTypeObject* tle_type = nullptr;
PyTypeObject* satellite_type = nullptr;
PyTypeObject* earth_satellite_type = nullptr;
Py_ssize_t earth_extra_offset = 0;  // where EarthSatellite's fields start after Satellite's record

struct Names {
    PyObject *utc, *jd12, *isscalar, *from_jd12, *scale, *time, *line1, *line2;
};
Names names{};

constexpr const char* gravity_names[] = {"wgs72old", "wgs72", "wgs84"};
constexpr const char* mode_names[] = {"improved", "afspc"};

// ---------------------------------------------------------------------------------------------
// Arguments.

bool truthy(PyObject* o) {
    int b = PyObject_IsTrue(o);
    if (b < 0) throw frame::PyErrorSet{};
    return b != 0;
}

/// One of `choices` named by the str `value`; ValueError naming the argument otherwise.
template <std::size_t N>
int choice(PyObject* value, const char* const (&choices)[N], const char* fname, const char* arg, int fallback) {
    if (!value) return fallback;
    if (!PyUnicode_Check(value))
        frame::raise(PyExc_TypeError, "%s() argument '%s' must be str, not %.200s", fname, arg, Py_TYPE(value)->tp_name);
    const char* s = PyUnicode_AsUTF8(value);
    if (!s) throw frame::PyErrorSet{};
    // Case does not matter ("WGS84" as the peers spell it, "wgs84" as we report it).
    for (std::size_t i = 0; i < N; ++i)
        if (strcasecmp(s, choices[i]) == 0) return int(i);
    if (N == 3)
        frame::raise(PyExc_ValueError, "%s() argument '%s' must be '%s', '%s' or '%s', not %R", fname, arg, choices[0],
                     choices[1], choices[N - 1], value);
    frame::raise(PyExc_ValueError, "%s() argument '%s' must be '%s' or '%s', not %R", fname, arg, choices[0],
                 choices[N - 1], value);
}

/// The text of a line argument, stripped of surrounding whitespace. The format is ASCII: a
/// character outside it is reported at its column (counted after leading whitespace).
std::string_view line_text(PyObject* o, const char* fname, const char* arg, int line) {
    if (!PyUnicode_Check(o))
        frame::raise(PyExc_TypeError, "%s() argument '%s' must be str, not %.200s", fname, arg, Py_TYPE(o)->tp_name);
    if (!PyUnicode_IS_ASCII(o)) {
        const Py_ssize_t len = PyUnicode_GET_LENGTH(o);
        const int kind = PyUnicode_KIND(o);
        const void* data = PyUnicode_DATA(o);
        Py_ssize_t lead = 0;
        while (lead < len && Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, lead))) ++lead;
        for (Py_ssize_t i = 0; i < len; ++i) {
            Py_UCS4 c = PyUnicode_READ(kind, data, i);
            if (c >= 128) {
                Ref found = Ref::steal(PyUnicode_FromOrdinal(int(c)));
                frame::raise(PyExc_ValueError, "line %d, column %zd: expected ASCII text, found %R", line, i - lead + 1,
                             found.get());
            }
        }
    }
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) throw frame::PyErrorSet{};
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    Py_ssize_t a = 0, b = n;
    while (a < b && space(s[a])) ++a;
    while (b > a && space(s[b - 1])) --b;
    return std::string_view(s + a, std::size_t(b - a));
}

// ---------------------------------------------------------------------------------------------
// Elements.

ElementsObject* as_elements(PyObject* o) noexcept { return reinterpret_cast<ElementsObject*>(o); }

/// A new Elements of `type` from two lines of text.
Ref make_elements(PyTypeObject* type, PyObject* line1, PyObject* line2, bool verify, int gravity, int mode,
                  const char* fname) {
    std::string_view a = line_text(line1, fname, "line1", 1), b = line_text(line2, fname, "line2", 2);
    k::TextFields fields;
    k::TextError err;
    if (!k::decode_lines(a.data(), a.size(), b.data(), b.size(), verify, fields, err)) {
        Ref found = Ref::steal(PyUnicode_DecodeUTF8(err.found, Py_ssize_t(std::strlen(err.found)), "replace"));
        if (err.first == err.last)
            frame::raise(PyExc_ValueError, "line %d, column %d: expected %s, found %R", err.line, err.first, err.what,
                         found.get());
        frame::raise(PyExc_ValueError, "line %d, columns %d-%d: expected %s, found %R", err.line, err.first, err.last,
                     err.what, found.get());
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    ElementsObject* e = as_elements(self.get());
    e->fields = fields;
    k::initialise(e->sat, k::mean_elements(fields), k::Gravity(gravity), k::Mode(mode));
    // The lines as they stand after stripping, so that a pickle or a repr shows what was decoded.
    e->line1 = Ref::steal(PyUnicode_FromStringAndSize(a.data(), Py_ssize_t(a.size()))).release();
    e->line2 = Ref::steal(PyUnicode_FromStringAndSize(b.data(), Py_ssize_t(b.size()))).release();
    return self;
}

const frame::Signature<5> sig_elements_new{"Elements", {"line1", "line2", "verify_checksum", "gravity", "mode"}, 2};

PyObject* elements_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"Elements.__new__", nullptr};
    return frame::guarded(site, [&] {
        if (PyTuple_GET_SIZE(args) > 2)
            frame::raise(PyExc_TypeError, "Elements() takes 2 positional arguments but %zd were given",
                         PyTuple_GET_SIZE(args));
        auto [l1, l2, verify, gravity, mode] = frame::parse(sig_elements_new, args, kwargs);
        return make_elements(type, l1, l2, verify ? truthy(verify) : true,
                             choice(gravity, gravity_names, "Elements", "gravity", int(k::Gravity::wgs72)),
                             choice(mode, mode_names, "Elements", "mode", int(k::Mode::improved)), "Elements");
    });
}

void elements_dealloc(PyObject* o) noexcept {
    PyTypeObject* tp = Py_TYPE(o);
    ElementsObject* e = as_elements(o);
    if (e->weakreflist) PyObject_ClearWeakRefs(o);
    Py_CLEAR(e->line1);
    Py_CLEAR(e->line2);
    Py_CLEAR(e->epoch);
    tp->tp_free(o);
    Py_DECREF(tp);
}

/// Elements.from_tle(tle, *, verify_checksum=True, gravity="wgs72", mode="improved")
PyObject* elements_from_tle(PyObject* cls, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"Elements.from_tle", nullptr};
    return frame::guarded(site, [&] {
        static const frame::Signature<4> sig{"from_tle", {"tle", "verify_checksum", "gravity", "mode"}, 1};
        if (PyVectorcall_NARGS(nargsf) > 1)
            frame::raise(PyExc_TypeError, "from_tle() takes 1 positional argument but %zd were given",
                         PyVectorcall_NARGS(nargsf));
        auto [tle, verify, gravity, mode] = frame::parse(sig, args, nargsf, kwnames);
        frame::check_arg_type(tle, tle_type, "tle", false);
        Ref l1 = frame::getattr(tle, names.line1), l2 = frame::getattr(tle, names.line2);
        return make_elements(reinterpret_cast<PyTypeObject*>(cls), l1.get(), l2.get(), verify ? truthy(verify) : true,
                             choice(gravity, gravity_names, "from_tle", "gravity", int(k::Gravity::wgs72)),
                             choice(mode, mode_names, "from_tle", "mode", int(k::Mode::improved)), "from_tle");
    });
}

/// The epoch as a Time, made once.
Ref epoch_time(ElementsObject* e) {
    if (!e->epoch) {
        npy_intp dims[1] = {2};
        Ref jd = Ref::steal(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
        double* p = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(jd.get())));
        p[0] = e->sat.jd_epoch1;
        p[1] = e->sat.jd_epoch2;
        Ref from = frame::getattr(reinterpret_cast<PyObject*>(time_type), names.from_jd12);
        Ref utc = frame::str("utc");
        PyObject* argv[] = {nullptr, jd.get(), utc.get()};
        e->epoch = Ref::steal(PyObject_Vectorcall(from.get(), argv + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)).release();
    }
    return Ref::borrow(e->epoch);
}

// ---------------------------------------------------------------------------------------------
// Times: a Time (its UTC two-part Julian dates) or minutes since each satellite's epoch.

struct Times {
    Ref array;                  // C-contiguous float64: minutes (any shape) or jd12 (N, 2)
    const double* minutes = nullptr;
    const double* jd = nullptr;
    Py_ssize_t n = 0;
    int ndim = 0;               // dimensions of the time axis (0 for one time)
    npy_intp dims[NPY_MAXDIMS] = {};
};

/// Replace a pending TypeError or ValueError by one naming the argument, chained to it.
[[noreturn]] void rename_error(const char* fname, const char* arg, const char* expected) {
    if (PyErr_ExceptionMatches(PyExc_TypeError))
        _PyErr_FormatFromCause(PyExc_TypeError, "%s() argument '%s' must be %s", fname, arg, expected);
    else if (PyErr_ExceptionMatches(PyExc_ValueError))
        _PyErr_FormatFromCause(PyExc_ValueError, "%s() argument '%s' must be %s", fname, arg, expected);
    throw frame::PyErrorSet{};
}

Times read_times(const char* fname, PyObject* t, PyObject* minutes) {
    if (t == Py_None) t = nullptr;
    if (minutes == Py_None) minutes = nullptr;
    if (t && minutes) frame::raise(PyExc_TypeError, "%s() takes t or minutes, not both", fname);
    if (!t && !minutes) frame::raise(PyExc_TypeError, "%s() needs t (a Time) or minutes (since the epoch)", fname);
    Times out;
    if (minutes) {
        out.array = Ref::steal_or_null(PyArray_FROM_OTF(minutes, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
        if (!out.array) rename_error(fname, "minutes", "real numbers (minutes since the epoch)");
        auto* a = reinterpret_cast<PyArrayObject*>(out.array.get());
        out.minutes = static_cast<const double*>(PyArray_DATA(a));
        out.n = PyArray_SIZE(a);
        out.ndim = PyArray_NDIM(a);
        std::copy(PyArray_DIMS(a), PyArray_DIMS(a) + out.ndim, out.dims);
        return out;
    }
    Ref time;
    if (PyObject_TypeCheck(t, time_type)) {
        time = Ref::borrow(t);
    } else {
        time = Ref::steal_or_null(PyObject_CallOneArg(reinterpret_cast<PyObject*>(time_type), t));
        if (!time) rename_error(fname, "t", "a Time or a value Time accepts");
    }
    Ref utc = frame::getattr(time.get(), names.utc);
    Ref jd12 = frame::getattr(utc.get(), names.jd12);
    out.array = Ref::steal(PyArray_FROM_OTF(jd12.get(), NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    auto* a = reinterpret_cast<PyArrayObject*>(out.array.get());
    if (PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2)
        frame::raise(PyExc_ValueError, "%s() argument 't' has Julian dates of an unexpected shape", fname);
    out.jd = static_cast<const double*>(PyArray_DATA(a));
    out.n = PyArray_DIM(a, 0);
    bool scalar = truthy(frame::getattr(time.get(), names.isscalar).get());
    if (scalar && out.n != 1) frame::raise(PyExc_ValueError, "%s() argument 't' is a scalar Time of %zd epochs", fname, out.n);
    out.ndim = scalar ? 0 : 1;
    out.dims[0] = out.n;
    return out;
}

// ---------------------------------------------------------------------------------------------
// The loop: satellites x times (grid) or satellite i at time i (pairwise), without the lock.

struct Job {
    const k::Satrec* const* sats;
    Py_ssize_t nsat;
    const Times* times;
    bool pairwise;
    double* r;
    double* v;
    std::uint8_t* code;
};

inline double minutes_since(const k::Satrec& s, const Times& t, Py_ssize_t j) noexcept {
    if (t.minutes) return t.minutes[j];
    // Differences of the two parts first: each is exact or nearly so for nearby dates.
    return ((t.jd[2 * j] - s.jd_epoch1) + (t.jd[2 * j + 1] - s.jd_epoch2)) * 1440.0;
}

/// Points [b, e) of the flattened output.
void run_points(const Job& job, Py_ssize_t b, Py_ssize_t e) noexcept {
    const Times& t = *job.times;
    if (job.pairwise) {
        const bool broadcast = t.n == 1;
        for (Py_ssize_t i = b; i < e; ++i)
            job.code[i] = std::uint8_t(k::propagate(*job.sats[i], minutes_since(*job.sats[i], t, broadcast ? 0 : i),
                                                    job.r + 3 * i, job.v + 3 * i));
        return;
    }
    // A run of times of one satellite resumes the resonance integrator from time to time.
    const Py_ssize_t nt = t.n;
    Py_ssize_t i = b / nt, j = b % nt;
    k::Integrator resume;
    for (Py_ssize_t p = b; p < e; ++p) {
        const k::Satrec& s = *job.sats[i];
        job.code[p] = std::uint8_t(k::propagate(s, minutes_since(s, t, j), job.r + 3 * p, job.v + 3 * p, &resume));
        if (++j == nt) { j = 0; ++i; resume = k::Integrator{}; }
    }
}

/// Run every point: blocks of work without the lock, spread over the pool, with a check for
/// Ctrl-C between blocks.
void run(const Job& job, Py_ssize_t npoints) {
    constexpr Py_ssize_t block = Py_ssize_t(1) << 18;
    constexpr Py_ssize_t grain = 512;
    for (Py_ssize_t b = 0; b < npoints; b += block) {
        const Py_ssize_t e = std::min(npoints, b + block);
        {
            frame::Unlocked nogil;
            frame::threads::parallel_for(e - b, grain, [&](Py_ssize_t lo, Py_ssize_t hi) { run_points(job, b + lo, b + hi); });
        }
        if (e < npoints && PyErr_CheckSignals() < 0) throw frame::PyErrorSet{};
    }
}

struct Outputs {
    Ref r, v, code;
};

/// Arrays of shape lead + (3,) for r and v, lead for the codes.
Outputs allocate(int nlead, const npy_intp* lead) {
    npy_intp dims[NPY_MAXDIMS + 2];
    std::copy(lead, lead + nlead, dims);
    dims[nlead] = 3;
    Outputs o;
    o.r = Ref::steal(PyArray_SimpleNew(nlead + 1, dims, NPY_DOUBLE));
    o.v = Ref::steal(PyArray_SimpleNew(nlead + 1, dims, NPY_DOUBLE));
    o.code = Ref::steal(PyArray_SimpleNew(nlead, dims, NPY_UINT8));
    return o;
}

template <class T>
T* data_of(const Ref& a) noexcept {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
}

Ref result_tuple(Outputs& o, bool scalar_code) {
    Ref code = scalar_code ? Ref::steal(PyArray_Return(reinterpret_cast<PyArrayObject*>(o.code.release()))) : o.code;
    return Ref::steal(PyTuple_Pack(3, o.r.get(), o.v.get(), code.get()));
}

/// One satellite at every time: shapes t + (3,), t.
Ref propagate_one(const k::Satrec& sat, const Times& times) {
    Outputs o = allocate(times.ndim, times.dims);
    const k::Satrec* one = &sat;
    Job job{&one, 1, &times, false, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
    run(job, times.n);
    return result_tuple(o, times.ndim == 0);
}

const frame::Signature<2> sig_elements_propagate{"propagate", {"t", "minutes"}, 0};

/// Elements.propagate(t=None, *, minutes=None) -> (r, v, error)
PyObject* elements_propagate(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"Elements.propagate", nullptr};
    return frame::guarded(site, [&] {
        if (PyVectorcall_NARGS(nargsf) > 1)
            frame::raise(PyExc_TypeError, "propagate() takes 1 positional argument but %zd were given",
                         PyVectorcall_NARGS(nargsf));
        auto [t, minutes] = frame::parse(sig_elements_propagate, args, nargsf, kwnames);
        Times times = read_times("propagate", t, minutes);
        return propagate_one(as_elements(self)->sat, times);
    });
}

/// The satellites of a sequence of Elements, each held by a reference for the length of the call
/// (the sequence itself may change once the lock is released; the records never do).
struct Satellites {
    std::vector<Ref> owners;
    std::vector<const k::Satrec*> sats;
};

Satellites collect(PyObject* elements) {
    Ref seq = Ref::steal_or_null(PySequence_Fast(elements, ""));
    if (!seq) {
        PyErr_Clear();
        frame::raise(PyExc_TypeError, "propagate() argument 'elements' must be an Elements or a sequence of them, not %.200s",
                     Py_TYPE(elements)->tp_name);
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    Satellites out;
    out.owners.reserve(std::size_t(n));
    out.sats.reserve(std::size_t(n));
    PyObject** items = PySequence_Fast_ITEMS(seq.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!PyObject_TypeCheck(items[i], elements_type))
            frame::raise(PyExc_TypeError, "propagate() argument 'elements' must hold Elements; item %zd is %.200s", i,
                         Py_TYPE(items[i])->tp_name);
        out.owners.push_back(Ref::borrow(items[i]));
        out.sats.push_back(&as_elements(items[i])->sat);
    }
    return out;
}

const frame::Signature<4> sig_propagate{"propagate", {"elements", "t", "minutes", "pairwise"}, 1};

/// propagate(elements, t=None, *, minutes=None, pairwise=False) -> (r, v, error)
PyObject* module_propagate(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"propagate", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        if (PyVectorcall_NARGS(nargsf) > 2)
            frame::raise(PyExc_TypeError, "propagate() takes from 1 to 2 positional arguments but %zd were given",
                         PyVectorcall_NARGS(nargsf));
        auto [elements, t, minutes, pairwise_obj] = frame::parse(sig_propagate, args, nargsf, kwnames);
        const bool pairwise = pairwise_obj ? truthy(pairwise_obj) : false;
        if (PyObject_TypeCheck(elements, elements_type)) {
            if (pairwise) frame::raise(PyExc_TypeError, "propagate() argument 'elements' must be a sequence of Elements when pairwise=True");
            Times times = read_times("propagate", t, minutes);
            return propagate_one(as_elements(elements)->sat, times);
        }
        Satellites held = collect(elements);
        const std::vector<const k::Satrec*>& sats = held.sats;
        Times times = read_times("propagate", t, minutes);
        const Py_ssize_t nsat = Py_ssize_t(sats.size());
        if (pairwise) {
            const char* arg = times.minutes ? "minutes" : "t";
            if (times.ndim > 1 || (times.ndim == 1 && times.n != nsat))
                frame::raise(PyExc_ValueError,
                             "propagate() argument '%s' must hold one time per satellite with pairwise=True "
                             "(%zd satellites, %zd times)", arg, nsat, times.n);
            if (times.ndim == 0 && times.n != 1)
                frame::raise(PyExc_ValueError, "propagate() argument '%s' is empty", arg);
            npy_intp lead[1] = {nsat};
            Outputs o = allocate(1, lead);
            Job job{sats.data(), nsat, &times, true, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
            run(job, nsat);
            return result_tuple(o, false);
        }
        if (times.ndim + 1 > NPY_MAXDIMS - 1) frame::raise(PyExc_ValueError, "propagate() argument 'minutes' has too many dimensions");
        npy_intp lead[NPY_MAXDIMS];
        lead[0] = nsat;
        std::copy(times.dims, times.dims + times.ndim, lead + 1);
        Outputs o = allocate(times.ndim + 1, lead);
        Job job{sats.data(), nsat, &times, false, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
        if (times.n > 0) run(job, nsat * times.n);
        return result_tuple(o, false);
    });
}

// ---------------------------------------------------------------------------------------------
// Elements: properties.

constexpr double sec_per_day = 86400.0;

#define ELEMENTS_GETTER(NAME, ...)                                                            \
    PyObject* get_##NAME(PyObject* o, void*) noexcept {                                        \
        static frame::Site site{"Elements." #NAME ".__get__", nullptr};                        \
        return frame::guarded(site, [&]() -> Ref {                                             \
            [[maybe_unused]] ElementsObject* e = as_elements(o);                               \
            [[maybe_unused]] const k::Satrec& s = e->sat;                                      \
            [[maybe_unused]] const k::TextFields& f = e->fields;                               \
            __VA_ARGS__                                                                        \
        });                                                                                    \
    }

ELEMENTS_GETTER(satnum, { return Ref::steal(PyLong_FromLongLong(f.satnum)); })
ELEMENTS_GETTER(classification, { return Ref::steal(PyUnicode_FromStringAndSize(&f.classification, 1)); })
ELEMENTS_GETTER(intldesg, { return Ref::steal(PyUnicode_FromString(f.intldesg)); })
ELEMENTS_GETTER(epoch, { return epoch_time(e); })
ELEMENTS_GETTER(epoch_year, { return Ref::steal(PyLong_FromLong(f.epoch_year)); })
ELEMENTS_GETTER(epoch_days, { return frame::as_float(f.epoch_day); })
ELEMENTS_GETTER(inclination, { return frame::as_float(s.inclo); })
ELEMENTS_GETTER(raan, { return frame::as_float(s.nodeo); })
ELEMENTS_GETTER(eccentricity, { return frame::as_float(s.ecco); })
ELEMENTS_GETTER(argp, { return frame::as_float(s.argpo); })
ELEMENTS_GETTER(mean_anomaly, { return frame::as_float(s.mo); })
ELEMENTS_GETTER(mean_motion, { return frame::as_float(s.no_kozai / 60.0); })
ELEMENTS_GETTER(ndot, { return frame::as_float(f.ndot * k::twopi / (sec_per_day * sec_per_day)); })
ELEMENTS_GETTER(nddot, { return frame::as_float(f.nddot * k::twopi / (sec_per_day * sec_per_day * sec_per_day)); })
ELEMENTS_GETTER(bstar, { return frame::as_float(s.bstar); })
ELEMENTS_GETTER(ephemeris_type, { return Ref::steal(PyLong_FromLong(f.ephemeris_type)); })
ELEMENTS_GETTER(element_number, { return Ref::steal(PyLong_FromLong(f.element_number)); })
ELEMENTS_GETTER(rev_number, { return Ref::steal(PyLong_FromLong(f.rev_number)); })
ELEMENTS_GETTER(line1, { return Ref::borrow(e->line1); })
ELEMENTS_GETTER(line2, { return Ref::borrow(e->line2); })
ELEMENTS_GETTER(gravity, { return frame::str(gravity_names[s.gravity]); })
ELEMENTS_GETTER(mode, { return frame::str(mode_names[s.mode]); })
ELEMENTS_GETTER(mean_motion_brouwer, { return frame::as_float(s.no_unkozai / 60.0); })
ELEMENTS_GETTER(semi_major_axis, { return frame::as_float(s.a * s.radius * 1000.0); })
ELEMENTS_GETTER(perigee_altitude, { return frame::as_float(s.altp * s.radius * 1000.0); })
ELEMENTS_GETTER(apogee_altitude, { return frame::as_float(s.alta * s.radius * 1000.0); })
ELEMENTS_GETTER(period, { return frame::as_float(k::twopi / s.no_unkozai * 60.0); })
ELEMENTS_GETTER(deep_space, { return Ref::borrow(s.deep ? Py_True : Py_False); })
ELEMENTS_GETTER(resonance, {
    static const char* const kinds[] = {"none", "one-day", "half-day"};
    return frame::str(kinds[s.irez]);
})
ELEMENTS_GETTER(epoch_error, { return Ref::steal(PyLong_FromLong(s.init_error)); })

#undef ELEMENTS_GETTER

PyGetSetDef elements_getset[] = {
    {"satnum", get_satnum, nullptr, doc_satnum, nullptr},
    {"classification", get_classification, nullptr, doc_classification, nullptr},
    {"intldesg", get_intldesg, nullptr, doc_intldesg, nullptr},
    {"epoch", get_epoch, nullptr, doc_epoch, nullptr},
    {"epoch_year", get_epoch_year, nullptr, doc_epoch_year, nullptr},
    {"epoch_days", get_epoch_days, nullptr, doc_epoch_days, nullptr},
    {"inclination", get_inclination, nullptr, doc_inclination, nullptr},
    {"raan", get_raan, nullptr, doc_raan, nullptr},
    {"eccentricity", get_eccentricity, nullptr, doc_eccentricity, nullptr},
    {"argp", get_argp, nullptr, doc_argp, nullptr},
    {"mean_anomaly", get_mean_anomaly, nullptr, doc_mean_anomaly, nullptr},
    {"mean_motion", get_mean_motion, nullptr, doc_mean_motion, nullptr},
    {"ndot", get_ndot, nullptr, doc_ndot, nullptr},
    {"nddot", get_nddot, nullptr, doc_nddot, nullptr},
    {"bstar", get_bstar, nullptr, doc_bstar, nullptr},
    {"ephemeris_type", get_ephemeris_type, nullptr, doc_ephemeris_type, nullptr},
    {"element_number", get_element_number, nullptr, doc_element_number, nullptr},
    {"rev_number", get_rev_number, nullptr, doc_rev_number, nullptr},
    {"line1", get_line1, nullptr, doc_line1, nullptr},
    {"line2", get_line2, nullptr, doc_line2, nullptr},
    {"gravity", get_gravity, nullptr, doc_gravity, nullptr},
    {"mode", get_mode, nullptr, doc_mode, nullptr},
    {"mean_motion_brouwer", get_mean_motion_brouwer, nullptr, doc_mean_motion_brouwer, nullptr},
    {"semi_major_axis", get_semi_major_axis, nullptr, doc_semi_major_axis, nullptr},
    {"perigee_altitude", get_perigee_altitude, nullptr, doc_perigee_altitude, nullptr},
    {"apogee_altitude", get_apogee_altitude, nullptr, doc_apogee_altitude, nullptr},
    {"period", get_period, nullptr, doc_period, nullptr},
    {"deep_space", get_deep_space, nullptr, doc_deep_space, nullptr},
    {"resonance", get_resonance, nullptr, doc_resonance, nullptr},
    {"epoch_error", get_epoch_error, nullptr, doc_epoch_error, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* elements_repr(PyObject* o) noexcept {
    static frame::Site site{"Elements.__repr__", nullptr};
    return frame::guarded(site, [&] {
        ElementsObject* e = as_elements(o);
        Ref epoch = epoch_time(e);
        Ref iso = frame::getattr(epoch.get(), "iso");
        return Ref::steal(PyUnicode_FromFormat("<%s %lld at %U (%s, %s)>", Py_TYPE(o)->tp_name, (long long)e->fields.satnum,
                                               iso.get(), gravity_names[e->sat.gravity], mode_names[e->sat.mode]));
    });
}

/// Pickled as the lines and the choices; the checksum was verified (or waived) when built.
PyObject* elements_reduce(PyObject* o, PyObject*) noexcept {
    static frame::Site site{"Elements.__reduce__", nullptr};
    return frame::guarded(site, [&] {
        ElementsObject* e = as_elements(o);
        Ref module = frame::import(kelvara::elements_module_name);
        Ref restore = frame::getattr(module.get(), "_restore");
        return Ref::steal(Py_BuildValue("(O(OOOss))", restore.get(), reinterpret_cast<PyObject*>(Py_TYPE(o)), e->line1,
                                        e->line2, gravity_names[e->sat.gravity], mode_names[e->sat.mode]));
    });
}

/// _restore(cls, line1, line2, gravity, mode): the inverse of Elements.__reduce__.
PyObject* module_restore(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"_restore", nullptr};
    return frame::guarded(site, [&] {
        static const frame::Signature<5> sig{"_restore", {"cls", "line1", "line2", "gravity", "mode"}};
        auto [cls, l1, l2, gravity, mode] = frame::parse(sig, args, nargsf, kwnames);
        if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), elements_type))
            frame::raise(PyExc_TypeError, "_restore() argument 'cls' must be Elements or a subclass of it");
        return make_elements(reinterpret_cast<PyTypeObject*>(cls), l1, l2, false,
                             choice(gravity, gravity_names, "_restore", "gravity", 1),
                             choice(mode, mode_names, "_restore", "mode", 0), "_restore");
    });
}

PyMethodDef elements_methods[] = {
    {"from_tle", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(elements_from_tle)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, doc_from_tle},
    {"propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(elements_propagate)),
     METH_FASTCALL | METH_KEYWORDS, doc_elements_propagate},
    {"__reduce__", elements_reduce, METH_NOARGS, "Pickle support: rebuilt from the two lines."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef elements_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(ElementsObject, weakreflist), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot elements_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_elements)},
    {Py_tp_new, reinterpret_cast<void*>(elements_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(elements_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(elements_repr)},
    {Py_tp_getset, elements_getset},
    {Py_tp_methods, elements_methods},
    {Py_tp_members, elements_members},
    {0, nullptr},
};

PyType_Spec elements_spec = {
    "kelvara.propagators.analytical.sgp4.sgp4.Elements",
    int(sizeof(ElementsObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    elements_slots,
};

// ---------------------------------------------------------------------------------------------
// EarthSatellite: a Satellite with an element set. Its own fields follow Satellite's record,
// wherever that ends, so Satellite's layout stays private to its module.

struct EarthFields {
    PyObject* elements;  // the Elements
    PyObject* at;        // the Time the cached state belongs to, or nullptr
    PyObject* r;         // cached r_TEME, v_TEME, error (read-only arrays) for `at`
    PyObject* v;
    PyObject* error;
};

EarthFields& earth(PyObject* o) noexcept {
    return *reinterpret_cast<EarthFields*>(reinterpret_cast<char*>(o) + earth_extra_offset);
}

void clear_cache(EarthFields& f) noexcept {
    Py_CLEAR(f.at);
    Py_CLEAR(f.r);
    Py_CLEAR(f.v);
    Py_CLEAR(f.error);
}

int earth_traverse(PyObject* o, visitproc visit, void* arg) noexcept {
    // Satellite's traversal visits the type and the time.
    if (int rc = satellite_type->tp_traverse(o, visit, arg)) return rc;
    EarthFields& f = earth(o);
    Py_VISIT(f.elements);
    Py_VISIT(f.at);
    return 0;
}

int earth_clear(PyObject* o) noexcept {
    EarthFields& f = earth(o);
    Py_CLEAR(f.elements);
    clear_cache(f);
    return satellite_type->tp_clear(o);
}

void earth_dealloc(PyObject* o) noexcept {
    PyObject_GC_UnTrack(o);
    EarthFields& f = earth(o);
    Py_CLEAR(f.elements);
    clear_cache(f);
    satellite_type->tp_dealloc(o);  // releases the time, frees the record and the type reference
}

PyObject* earth_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    // Satellite's allocation ignores its arguments (and gives time = None); the fields here
    // start empty and are set by __init__.
    static frame::Site site{"EarthSatellite.__new__", nullptr};
    return frame::guarded(site, [&] {
        Ref empty = Ref::steal(PyTuple_New(0));
        Ref o = Ref::steal(satellite_type->tp_new(type, empty.get(), nullptr));
        std::memset(&earth(o.get()), 0, sizeof(EarthFields));
        return o;
    });
}

const frame::Signature<5> sig_earth_init{"EarthSatellite", {"tle", "line2", "verify_checksum", "gravity", "mode"}, 1};

int earth_init(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"EarthSatellite.__init__", nullptr};
    return frame::guarded_status(site, [&] {
        if (PyTuple_GET_SIZE(args) > 2)
            frame::raise(PyExc_TypeError, "EarthSatellite() takes from 1 to 2 positional arguments but %zd were given",
                         PyTuple_GET_SIZE(args));
        auto [tle, line2, verify, gravity, mode] = frame::parse(sig_earth_init, args, kwargs);
        const bool check = verify ? truthy(verify) : true;
        Ref elements;
        if (PyObject_TypeCheck(tle, elements_type)) {
            if ((line2 && line2 != Py_None) || verify || gravity || mode)
                frame::raise(PyExc_TypeError, "EarthSatellite() takes an Elements alone (its gravity model and mode are set)");
            elements = Ref::borrow(tle);
        } else {
            const int g = choice(gravity, gravity_names, "EarthSatellite", "gravity", int(k::Gravity::wgs72));
            const int m = choice(mode, mode_names, "EarthSatellite", "mode", int(k::Mode::improved));
            if (PyObject_TypeCheck(tle, tle_type)) {
                if (line2 && line2 != Py_None) frame::raise(PyExc_TypeError, "EarthSatellite() takes a TLE alone, without line2");
                Ref l1 = frame::getattr(tle, names.line1), l2 = frame::getattr(tle, names.line2);
                elements = make_elements(elements_type, l1.get(), l2.get(), check, g, m, "EarthSatellite");
            } else if (PyUnicode_Check(tle) && line2 && PyUnicode_Check(line2)) {
                elements = make_elements(elements_type, tle, line2, check, g, m, "EarthSatellite");
            } else {
                frame::raise(PyExc_TypeError,
                             "EarthSatellite() argument 'tle' must be a TLE, an Elements or the first of two lines, not %.200s",
                             Py_TYPE(tle)->tp_name);
            }
        }
        EarthFields& f = earth(self);
        Py_XSETREF(f.elements, elements.release());
        clear_cache(f);
    });
}

/// The state at the satellite's time, computed once per Time object.
EarthFields& earth_state(PyObject* self) {
    EarthFields& f = earth(self);
    if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
    Ref time = frame::getattr(self, names.time);
    if (time.get() == Py_None) frame::raise(PyExc_ValueError, "EarthSatellite.time is not set: assign a time first");
    if (f.at == time.get()) return f;
    Times times = read_times("EarthSatellite", time.get(), nullptr);
    Ref result = propagate_one(as_elements(f.elements)->sat, times);
    PyObject* r = PyTuple_GET_ITEM(result.get(), 0);
    PyObject* v = PyTuple_GET_ITEM(result.get(), 1);
    // Cached arrays are handed out as they are, so they are made read-only.
    PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(r), NPY_ARRAY_WRITEABLE);
    PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(v), NPY_ARRAY_WRITEABLE);
    PyObject* code = PyTuple_GET_ITEM(result.get(), 2);
    if (PyArray_Check(code)) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(code), NPY_ARRAY_WRITEABLE);
    clear_cache(f);
    f.r = Py_NewRef(r);
    f.v = Py_NewRef(v);
    f.error = Py_NewRef(code);
    f.at = time.release();
    return f;
}

PyObject* get_r_TEME(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.r_TEME.__get__", nullptr};
    return frame::guarded(site, [&] { return Ref::borrow(earth_state(o).r); });
}
PyObject* get_v_TEME(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.v_TEME.__get__", nullptr};
    return frame::guarded(site, [&] { return Ref::borrow(earth_state(o).v); });
}
PyObject* get_error(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.error.__get__", nullptr};
    return frame::guarded(site, [&] { return Ref::borrow(earth_state(o).error); });
}
PyObject* get_elements(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.elements.__get__", nullptr};
    return frame::guarded(site, [&] {
        EarthFields& f = earth(o);
        if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
        return Ref::borrow(f.elements);
    });
}
PyObject* get_earth_satnum(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.satnum.__get__", nullptr};
    return frame::guarded(site, [&] {
        EarthFields& f = earth(o);
        if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
        return Ref::steal(PyLong_FromLongLong(as_elements(f.elements)->fields.satnum));
    });
}
PyObject* get_earth_epoch(PyObject* o, void*) noexcept {
    static frame::Site site{"EarthSatellite.epoch.__get__", nullptr};
    return frame::guarded(site, [&] {
        EarthFields& f = earth(o);
        if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
        return epoch_time(as_elements(f.elements));
    });
}

/// EarthSatellite.propagate(t=None, *, minutes=None): the Elements' propagate.
PyObject* earth_propagate(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"EarthSatellite.propagate", nullptr};
    return frame::guarded(site, [&] {
        if (PyVectorcall_NARGS(nargsf) > 1)
            frame::raise(PyExc_TypeError, "propagate() takes 1 positional argument but %zd were given",
                         PyVectorcall_NARGS(nargsf));
        auto [t, minutes] = frame::parse(sig_elements_propagate, args, nargsf, kwnames);
        EarthFields& f = earth(self);
        if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
        Times times = read_times("propagate", t, minutes);
        return propagate_one(as_elements(f.elements)->sat, times);
    });
}

PyObject* earth_repr(PyObject* o) noexcept {
    static frame::Site site{"EarthSatellite.__repr__", nullptr};
    return frame::guarded(site, [&] {
        EarthFields& f = earth(o);
        if (!f.elements) return Ref::steal(PyUnicode_FromFormat("<%s (not initialised)>", Py_TYPE(o)->tp_name));
        Ref time = frame::getattr(o, names.time);
        return Ref::steal(PyUnicode_FromFormat("<%s %lld, time=%R>", Py_TYPE(o)->tp_name,
                                               (long long)as_elements(f.elements)->fields.satnum, time.get()));
    });
}

PyGetSetDef earth_getset[] = {
    {"elements", get_elements, nullptr, doc_earth_elements, nullptr},
    {"r_TEME", get_r_TEME, nullptr, doc_r_TEME, nullptr},
    {"v_TEME", get_v_TEME, nullptr, doc_v_TEME, nullptr},
    {"error", get_error, nullptr, doc_earth_error, nullptr},
    {"satnum", get_earth_satnum, nullptr, doc_earth_satnum, nullptr},
    {"epoch", get_earth_epoch, nullptr, doc_earth_epoch, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef earth_methods[] = {
    {"propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(earth_propagate)),
     METH_FASTCALL | METH_KEYWORDS, doc_earth_propagate},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot earth_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_earth_satellite)},
    {Py_tp_new, reinterpret_cast<void*>(earth_new)},
    {Py_tp_init, reinterpret_cast<void*>(earth_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(earth_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(earth_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(earth_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(earth_repr)},
    {Py_tp_getset, earth_getset},
    {Py_tp_methods, earth_methods},
    {0, nullptr},
};

PyType_Spec earth_spec = {
    "kelvara.propagators.analytical.sgp4.sgp4.EarthSatellite",
    0,  // set at exec: Satellite's record, then EarthFields
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    earth_slots,
};

// ---------------------------------------------------------------------------------------------
// Module.

PyMethodDef module_methods[] = {
    {"propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_propagate)),
     METH_FASTCALL | METH_KEYWORDS, doc_propagate},
    {"_restore", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_restore)),
     METH_FASTCALL | METH_KEYWORDS, "_restore(cls, line1, line2, gravity, mode)\n--\n\nRebuild a pickled Elements."},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    names.utc = frame::interned("utc");
    names.jd12 = frame::interned("jd12");
    names.isscalar = frame::interned("isscalar");
    names.from_jd12 = frame::interned("from_jd12");
    names.scale = frame::interned("scale");
    names.time = frame::interned("time");
    names.line1 = frame::interned("line1");
    names.line2 = frame::interned("line2");

    time_type = kelvara::import_time_type();
    tle_type = kelvara::import_tle_type();
    satellite_type = frame::import_type("kelvara.satellite.satellite", "Satellite", sizeof(PyObject), frame::SizeCheck::ignore);
    frame::threads::bind();

    frame::check_status(PyModule_AddFunctions(module, module_methods));
    elements_type = frame::add_type(module, &elements_spec);

    const Py_ssize_t align = alignof(EarthFields);
    earth_extra_offset = (satellite_type->tp_basicsize + align - 1) / align * align;
    earth_spec.basicsize = int(earth_extra_offset + Py_ssize_t(sizeof(EarthFields)));
    Ref bases = frame::bases_of(satellite_type);
    earth_satellite_type = frame::add_type(module, &earth_spec, bases.get());

    // Error codes and their meaning, for messages.
    Ref messages = Ref::steal(Py_BuildValue(
        "{i:s,i:s,i:s,i:s,i:s,i:s,i:s}", 0, "no error", 1, "mean eccentricity is outside [-0.001, 1)", 2,
        "mean motion is not positive, or the time is not finite or more than 1e8 minutes from the epoch", 3, "perturbed eccentricity is outside [0, 1]", 4, "semi-latus rectum is below zero",
        5, "(unused: epoch elements are sub-orbital in older versions of the theory)", 6,
        "orbit has decayed: the position is below the Earth's surface"));
    frame::check_status(PyModule_AddObjectRef(module, "ERROR_MESSAGES", messages.get()));
}

frame::Module sgp4_module(kelvara::elements_module_name, "sgp4",
                          "SGP4/SDP4 propagation of two-line element sets into TEME positions and velocities.",
                          "kelvara/propagators/analytical/sgp4/sgp4.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_sgp4() { return sgp4_module.init(); }
