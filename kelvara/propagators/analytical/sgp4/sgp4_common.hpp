// The middle of kelvara.propagators.analytical.sgp4.sgp4 shared by its two types: the types
// bound at exec, the interned names, argument reading, and Elements records made from text or
// from numbers. Included only by sgp4.cpp.
#pragma once

#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "sgp4.hpp"

#include <cmath>
#include <cstring>
#include <string_view>
#include <strings.h>

namespace kelvara::sgp4mod {

using frame::Ref;
using kelvara::ElementsObject;
namespace k = kelvara::sgp4;

// State of this module (docs/state.md lists every module's): only these bindings, made during
// exec and kept for the life of the process. No tables, no caches: an Elements record is
// immutable once made, and an EarthSatellite's cached state is its own.
inline PyTypeObject* elements_type = nullptr;
inline PyTypeObject* time_type = nullptr;
inline PyTypeObject* tle_type = nullptr;
inline PyTypeObject* satellite_type = nullptr;
inline PyTypeObject* earth_satellite_type = nullptr;
inline Py_ssize_t earth_extra_offset = 0;  // where EarthSatellite's fields start after Satellite's record

namespace names {
inline const frame::Name utc{"utc"}, jd12{"jd12"}, isscalar{"isscalar"}, from_jd12{"from_jd12"}, time{"time"};
inline const frame::Name utc_days{"_utc_days"}, from_utc_days{"_from_utc_days"};
inline const frame::Name line1{"line1"}, line2{"line2"}, iso{"iso"}, restore{"_restore"}, restore_numbers{"_restore_numbers"};
}  // namespace names

inline constexpr const char* gravity_names[] = {"wgs72old", "wgs72", "wgs84"};
inline constexpr const char* mode_names[] = {"improved", "afspc"};

// ---------------------------------------------------------------------------------------------
// Arguments.

inline bool truthy(PyObject* o) {
    int b = PyObject_IsTrue(o);
    if (b < 0) throw frame::PyErrorSet{};
    return b != 0;
}

/// One of `choices` named by the str `value`; ValueError naming the argument otherwise.
template <std::size_t N>
inline int choice(PyObject* value, const char* const (&choices)[N], const char* fname, const char* arg, int fallback) {
    if (!value) return fallback;
    if (!PyUnicode_Check(value))
        frame::raise(PyExc_TypeError, "%s() argument '%s' must be str, not %.200s", fname, arg, Py_TYPE(value)->tp_name);
    const char* s = frame::c_text(value, arg);
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
inline std::string_view line_text(PyObject* o, const char* fname, const char* arg, int line) {
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

inline ElementsObject* as_elements(PyObject* o) noexcept { return reinterpret_cast<ElementsObject*>(o); }

/// A new Elements of `type` from two lines of text.
inline Ref make_elements(PyTypeObject* type, PyObject* line1, PyObject* line2, bool verify, int gravity, int mode,
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

/// A new Elements of `type` from the two lines of a kelvara TLE: the one way a TLE becomes an
/// Elements (from_tle, EarthSatellite and every entry that takes Elements).
inline Ref elements_of_tle(PyTypeObject* type, PyObject* tle, bool verify, int gravity, int mode, const char* fname) {
    Ref l1 = frame::getattr(tle, names::line1), l2 = frame::getattr(tle, names::line2);
    return make_elements(type, l1.get(), l2.get(), verify, gravity, mode, fname);
}

/// An Elements as it is, a TLE made into one as from_tle makes it by default (checksums
/// verified, WGS 72, improved mode); an empty Ref for anything else.
inline Ref elements_or_tle(PyObject* o, const char* fname) {
    if (PyObject_TypeCheck(o, elements_type)) return Ref::borrow(o);
    if (tle_type && PyObject_TypeCheck(o, tle_type))
        return elements_of_tle(elements_type, o, true, int(k::Gravity::wgs72), int(k::Mode::improved), fname);
    return Ref();
}

/// A new Elements of `type` from mean elements given as numbers (no text): the fields of the
/// format are filled from them, the lines are None.
inline Ref make_from_numbers(PyTypeObject* type, long long satnum, const k::MeanElements& m, int gravity, int mode) {
    // The calendar below works in integers: an epoch outside the span ERFA's calendar covers
    // (or NaN) would overflow them, so it is refused first.
    const double epoch = m.jd_epoch1 + m.jd_epoch2;
    if (!(epoch >= -68569.5 && epoch <= 1e9)) {
        Ref jd = frame::as_float(epoch);
        frame::raise(PyExc_ValueError, "epoch Julian date %R is outside the calendar (-68569.5 to 1e9)", jd.get());
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    ElementsObject* e = as_elements(self.get());
    k::TextFields& f = e->fields;
    f.satnum = satnum;
    f.classification = 'U';
    f.intldesg[0] = '\0';
    // Calendar year of the epoch (Fliegel & Van Flandern), then the day of the year.
    const double jd = m.jd_epoch1 + m.jd_epoch2;
    long long l = (long long)std::floor(jd + 0.5) + 68569;
    const long long nn = 4 * l / 146097;
    l = l - (146097 * nn + 3) / 4;
    const long long i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const long long j = 80 * l / 2447;
    f.epoch_year = int(100 * (nn - 49) + i + j / 11);
    f.epoch_day = (m.jd_epoch1 - k::detail::jd_january0(f.epoch_year)) + m.jd_epoch2;
    f.jd_epoch1 = m.jd_epoch1;
    f.jd_epoch2 = m.jd_epoch2;
    constexpr double xpdotp = 1440.0 / (2.0 * k::pi);
    f.ndot = m.ndot * (xpdotp * 1440.0);
    f.nddot = m.nddot * (xpdotp * 1440.0 * 1440.0);
    f.bstar = m.bstar;
    f.inclination = m.inclo / k::deg2rad;
    f.raan = m.nodeo / k::deg2rad;
    f.eccentricity = m.ecco;
    f.argp = m.argpo / k::deg2rad;
    f.mean_anomaly = m.mo / k::deg2rad;
    f.mean_motion = m.no_kozai * xpdotp;
    k::initialise(e->sat, m, k::Gravity(gravity), k::Mode(mode));
    e->line1 = Py_NewRef(Py_None);
    e->line2 = Py_NewRef(Py_None);
    return self;
}

/// A finite double from a keyword argument (or its default), named in the error.
inline double number(PyObject* o, double fallback, const char* arg) {
    if (!o) return fallback;
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError))
            frame::cpython::format_from_cause(PyExc_TypeError, "from_elements() argument '%s' must be a real number, not %.200s", arg,
                                   Py_TYPE(o)->tp_name);
        throw frame::PyErrorSet{};
    }
    if (!std::isfinite(v)) frame::raise(PyExc_ValueError, "from_elements() argument '%s' must be finite, not %R", arg, o);
    return v;
}

/// `kelvara.time.time.<name>`: the time module's conversions between a Time's UTC and the
/// count of 86400-second days the theory runs on.
inline Ref time_function(PyObject* name) {
    Ref module = frame::import("kelvara.time.time");
    return frame::getattr(module.get(), name);
}

/// The UTC epochs of a Time as (N, 2) Julian dates of 86400-second days: minutes since an
/// element set's epoch are counted as datetime64 counts them, and as the epoch itself is given
/// (a day of the year and its fraction of 86400 s). On a day that ends in a leap second ERFA's
/// quasi-Julian dates would stretch that day to 86401 s and misplace every time on it.
inline Ref utc_days(PyObject* time) {
    Ref f = time_function(names::utc_days);
    return Ref::steal(PyObject_CallOneArg(f.get(), time));
}

/// The epoch as a Time, made once.
inline Ref epoch_time(ElementsObject* e) {
    if (!e->epoch) {
        npy_intp dims[1] = {2};
        Ref days = Ref::steal(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
        double* p = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(days.get())));
        p[0] = e->sat.jd_epoch1;
        p[1] = e->sat.jd_epoch2;
        Ref jd = Ref::steal(PyObject_CallOneArg(time_function(names::from_utc_days).get(), days.get()));
        Ref from = frame::getattr(reinterpret_cast<PyObject*>(time_type), names::from_jd12);
        PyObject* argv[] = {nullptr, jd.get(), names::utc};
        e->epoch = Ref::steal(PyObject_Vectorcall(from.get(), argv + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)).release();
    }
    return Ref::borrow(e->epoch);
}

}  // namespace kelvara::sgp4mod
