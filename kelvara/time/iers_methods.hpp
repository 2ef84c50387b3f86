// The private functions of kelvara.time.time behind kelvara.time.iers: putting a leap-second
// table or Earth orientation data in force (read from the bytes of a file) and reading back
// what is in force. A file that cannot be read changes nothing.
#pragma once

#include "../frame/frame.hpp"
#include "iers_kernels.hpp"
#include "time_tables.hpp"

#include <string_view>

namespace kelvara::iersmethods {

using frame::Ref;
namespace tt = kelvara::timetables;

inline std::string_view bytes_of(PyObject* o) {
    char* p;
    Py_ssize_t n;
    if (PyBytes_AsStringAndSize(o, &p, &n) < 0) throw frame::PyErrorSet{};
    return {p, size_t(n)};
}

[[noreturn]] inline void raise_read_error(PyObject* name, const iers::ReadError& e) {
    if (e.line) {
        Ref text = Ref::steal(PyUnicode_DecodeUTF8(e.text.data(), Py_ssize_t(e.text.size()), "replace"));
        frame::raise(PyExc_ValueError, "%U, line %ld: %s: %R", name, e.line, e.what.c_str(), text.get());
    }
    frame::raise(PyExc_ValueError, "%U: %s", name, e.what.c_str());
}

/// A table's source as the str it was loaded from (file names are kept as file-system bytes).
inline Ref source_name(const std::string& s) {
    return Ref::steal(PyUnicode_DecodeFSDefaultAndSize(s.data(), Py_ssize_t(s.size())));
}

inline Ref date_tuple(double mjd) {
    int y, m, d;
    double f;
    eraJd2cal(2400000.5, mjd, &y, &m, &d, &f);
    return Ref::steal(Py_BuildValue("(iii)", y, m, d));
}

/// _set_leap_seconds(data, name, if_later): read a leap-second file and put it in force (with
/// if_later, only when it expires later than the table in force). Returns whether it did.
inline Ref set_leap_seconds(PyObject*, PyObject* data, PyObject* name, PyObject* if_later_obj) {
    if (!PyUnicode_Check(name)) frame::raise(PyExc_TypeError, "name must be a str");
    const bool if_later = frame::check_status(PyObject_IsTrue(if_later_obj));
    iers::LeapTable t;
    iers::ReadError e = iers::read_leap_seconds(bytes_of(data), t);
    if (e.failed()) raise_read_error(name, e);
    t.source = frame::fs_name(name);
    if (if_later) {
        const tt::Leap& cur = tt::leap_in_force;
        if (cur && cur->expiry_mjd >= t.expiry_mjd) return Ref::borrow(Py_False);
    } else {
        tt::default_leap_consulted = true;  // a table the user loads is not replaced
    }
    tt::install_leap(std::move(t));
    return Ref::borrow(Py_True);
}

/// _leap_seconds(): ([(year, month, TAI-UTC at the step), ...], (y, m, d) expiry, source).
inline PyObject* leap_seconds(PyObject*, PyObject*) noexcept {
    static frame::Site site{"_leap_seconds"};
    return frame::guarded(site, [&]() -> Ref {
        tt::Leap t = tt::leap();
        Ref steps = Ref::steal(PyList_New(Py_ssize_t(t->steps.size())));
        for (std::size_t i = 0; i < t->steps.size(); ++i) {
            const iers::LeapStep& s = t->steps[i];
            double v;
            iers::dat(*t, s.year, s.month, 1, 0.0, v);
            PyList_SET_ITEM(steps.get(), Py_ssize_t(i), frame::check(Py_BuildValue("(iid)", s.year, s.month, v)));
        }
        Ref expiry = date_tuple(t->expiry_mjd), source = source_name(t->source);
        return Ref::steal(Py_BuildValue("(OOO)", steps.get(), expiry.get(), source.get()));
    });
}

/// _set_eop(files, linear): read IERS Earth orientation data (finals2000A or C04) from a
/// sequence of (bytes, name) pairs, each later file continuing the table from the day after
/// the earlier ones end, and put it in force.
inline Ref set_eop(PyObject*, PyObject* files, PyObject* linear) {
    Ref seq = Ref::steal(PySequence_Fast(files, "files must be a sequence of (data, name) pairs"));
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    if (n < 1) frame::raise(PyExc_ValueError, "no Earth orientation file given");
    iers::EopTable e;
    std::string source;
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* pair = PySequence_Fast_GET_ITEM(seq.get(), k);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 1)))
            frame::raise(PyExc_TypeError, "files must be a sequence of (bytes, str) pairs");
        PyObject* data = PyTuple_GET_ITEM(pair, 0);
        PyObject* name = PyTuple_GET_ITEM(pair, 1);
        iers::EopTable one;
        iers::ReadError err = iers::read_eop(bytes_of(data), one);
        if (err.failed()) raise_read_error(name, err);
        if (k == 0) {
            e = std::move(one);
        } else if (!iers::continue_with(e, one)) {
            const std::string end = tt::date_of_mjd(e.mjd0 + double(e.size() - 1));
            frame::raise(PyExc_ValueError, "%U: its data begin after %s, where the files before it end", name,
                         end.c_str());
        }
        source += (k ? " + " : "") + frame::fs_name(name);
    }
    e.linear = frame::check_status(PyObject_IsTrue(linear));
    e.source = std::move(source);
    tt::Leap leap = tt::leap();
    if (std::ptrdiff_t row = e.rebase(*leap))
        frame::raise(PyExc_ValueError, "no TAI-UTC for day %zd of the Earth orientation data", Py_ssize_t(row));
    tt::eop_in_force = tt::Eop::make(std::move(e));
    return Ref::borrow(Py_None);
}

/// _eop_info(): ((y, m, d) first, (y, m, d) last measured, (y, m, d) last, source, interpolation).
inline PyObject* eop_info(PyObject*, PyObject*) noexcept {
    static frame::Site site{"_eop_info"};
    return frame::guarded(site, [&]() -> Ref {
        tt::Leap leap = tt::leap();
        tt::Eop e = tt::eop(*leap);
        Ref first = date_tuple(e->mjd0), measured = date_tuple(e->mjd0 + double(e->measured - 1));
        Ref last = date_tuple(e->mjd0 + double(e->size() - 1)), source = source_name(e->source);
        return Ref::steal(Py_BuildValue("(OOOOs)", first.get(), measured.get(), last.get(), source.get(),
                                        e->linear ? "linear" : "lagrange"));
    });
}

}  // namespace kelvara::iersmethods
