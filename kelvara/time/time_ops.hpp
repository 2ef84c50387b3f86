// Arithmetic of Time: differences in seconds, comparisons, and offsets by seconds, timedeltas
// or arrays of them. UTC goes through TAI so that leap seconds count.
#pragma once

#include "time_object.hpp"

#include <datetime.h>

#include <cmath>
#include <utility>
#include <vector>

namespace kelvara::timeobj {

using timein::datetime_unit;
using timein::is_real_number;
using tt::is_time;


/// Two Time operands on one uniform scale: their own when they share TAI, TT or TDB, else TAI
/// (UTC days that hold a leap second are longer, so UTC Julian dates cannot be subtracted).
inline std::pair<Ref, Ref> common_scale(PyObject* a, PyObject* b) {
    int sa = as_time(a)->scale, sb = as_time(b)->scale;
    if (sa == sb && sa != tk::UTC) return {Ref::borrow(a), Ref::borrow(b)};
    return {on_scale(a, tk::TAI), on_scale(b, tk::TAI)};
}

/// Size of the result of an elementwise operation on sizes na and nb (1 broadcasts).
inline Py_ssize_t broadcast(Py_ssize_t na, bool sa, Py_ssize_t nb, bool sb, bool& scalar) {
    scalar = sa && sb;
    if (na == nb || nb == 1) return na;
    if (na == 1) return nb;
    frame::raise(PyExc_ValueError, "cannot combine %zd epochs with %zd", na, nb);
}

/// (a - b) in days for each element, on a common uniform scale.
template <class F>
inline Ref elementwise_diff(PyObject* a, PyObject* b, F emit) {
    auto [ua, ub] = common_scale(a, b);
    TimeObject* ta = as_time(ua.get());
    TimeObject* tb = as_time(ub.get());
    bool scalar;
    Py_ssize_t n = broadcast(ta->size, ta->isscalar, tb->size, tb->isscalar, scalar);
    const Py_ssize_t ia = ta->size == 1 ? 0 : 1, ib = tb->size == 1 ? 0 : 1;
    return emit(n, scalar, [&](Py_ssize_t i) {
        const double* p = ta->data + 2 * i * ia;
        const double* q = tb->data + 2 * i * ib;
        return (p[0] - q[0]) + (p[1] - q[1]);
    });
}

inline PyObject* time_richcompare(PyObject* a, PyObject* b, int op) noexcept {
    static frame::Site site{"__richcmp__"};
    return frame::guarded(site, [&]() -> Ref {
        if (!is_time(a) || !is_time(b)) return Ref::borrow(Py_NotImplemented);
        return elementwise_diff(a, b, [&](Py_ssize_t n, bool scalar, auto diff) -> Ref {
            auto test = [op](double d) {
                switch (op) {
                case Py_LT: return d < 0;
                case Py_LE: return d <= 0;
                case Py_EQ: return d == 0;
                case Py_NE: return !(d == 0);
                case Py_GT: return d > 0;
                default: return d >= 0;
                }
            };
            if (scalar) return Ref::borrow(test(diff(0)) ? Py_True : Py_False);
            npy_intp dims[1] = {n};
            Ref out = Ref::steal(PyArray_ZEROS(1, dims, NPY_BOOL, 0));
            auto* v = static_cast<npy_bool*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
            for (Py_ssize_t i = 0; i < n; ++i) {
                frame::poll_signals(i);
                v[i] = test(diff(i));
            }
            return out;
        });
    });
}

/// Seconds from a number, a timedelta, a numpy.timedelta64 or an array-like of them; an empty
/// Ref when the operand is of no such kind (the operator then returns NotImplemented).
struct Offsets {
    std::vector<double> seconds;
    bool scalar = true;
};

inline double timedelta64_seconds(int64_t v, tk::Unit unit, int64_t mult, PyObject* item) {
    static constexpr double per_unit[] = {0, 0, 604800.0, 86400.0, 3600.0, 60.0, 1.0, 1e-3, 1e-6, 1e-9,
                                          1e-12, 1e-15, 1e-18};
    int u = int(unit);
    if (v == NPY_DATETIME_NAT || unit == tk::Unit::Y || unit == tk::Unit::M || u > int(tk::Unit::as))
        frame::raise(PyExc_ValueError, "time offset %R has no fixed length in seconds", item);
    // Sub-second units divide, so that e.g. 1 ms is the double nearest to 0.001 s.
    double count = double(v) * double(mult);
    return per_unit[u] >= 1.0 ? count * per_unit[u] : count / std::round(1.0 / per_unit[u]);
}

inline bool offsets_from(PyObject* o, Offsets& out) {
    if (is_real_number(o)) {
        out.seconds.push_back(frame::to_double(o));
        return true;
    }
    if (PyDelta_Check(o)) {
        long long us = (long long)PyDateTime_DELTA_GET_DAYS(o) * 86400000000LL +
                       (long long)PyDateTime_DELTA_GET_SECONDS(o) * 1000000LL + PyDateTime_DELTA_GET_MICROSECONDS(o);
        out.seconds.push_back(double(us) / 1e6);
        return true;
    }
    if (!(PyArray_Check(o) || PyList_Check(o) || PyTuple_Check(o) || PyArray_IsScalar(o, Timedelta))) return false;
    Ref arr = Ref::steal(PyArray_FromAny(o, nullptr, 0, 0, 0, nullptr));
    auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
    char kind = PyArray_DESCR(a)->kind;
    if (PyArray_NDIM(a) > 1) frame::raise(PyExc_ValueError, "time offsets %R must be a scalar or one-dimensional", o);
    out.scalar = PyArray_NDIM(a) == 0;
    Py_ssize_t n = out.scalar ? 1 : PyArray_DIM(a, 0);
    out.seconds.resize(size_t(n));
    if (kind == 'm') {
        Ref native = Ref::steal(PyArray_CheckFromAny(arr.get(), nullptr, 0, 0, NPY_ARRAY_CARRAY_RO | NPY_ARRAY_NOTSWAPPED, nullptr));
        auto* na = reinterpret_cast<PyArrayObject*>(native.get());
        auto [unit, mult] = datetime_unit(PyArray_DESCR(na));
        const auto* v = static_cast<const int64_t*>(PyArray_DATA(na));
        for (Py_ssize_t i = 0; i < n; ++i) out.seconds[size_t(i)] = timedelta64_seconds(v[i], unit, mult, o);
        return true;
    }
    if (kind != 'i' && kind != 'u' && kind != 'f') {
        if (kind == 'O') {
            for (Py_ssize_t i = 0; i < n; ++i) {
                Ref item = Ref::steal(out.scalar ? PyArray_GETITEM(a, static_cast<char*>(PyArray_DATA(a)))
                                                 : PySequence_GetItem(arr.get(), i));
                Offsets one;
                if (!offsets_from(item.get(), one) || !one.scalar)
                    frame::raise(PyExc_TypeError, "time offset %R is not a number of seconds or a timedelta", item.get());
                out.seconds[size_t(i)] = one.seconds[0];
            }
            return true;
        }
        return false;
    }
    Ref dbl = Ref::steal(PyArray_FROM_OTF(arr.get(), NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    std::memcpy(out.seconds.data(), PyArray_DATA(reinterpret_cast<PyArrayObject*>(dbl.get())), sizeof(double) * size_t(n));
    return true;
}

/// a + b as a rounded sum and its exact rounding error (Knuth's two-sum).
inline std::pair<double, double> two_sum(double a, double b) {
    double s = a + b;
    double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

/// The pair p moved by dt seconds, into out: jd1 keeps its whole-or-half day count and takes
/// the whole days, jd2 stays within [0, 1] day. dt is split exactly into days and a remainder
/// (fmod is exact), and the fractions are summed without loss, so that an offset of centuries
/// still resolves the epoch well below a nanosecond (a single jd2 + dt / 86400 of thousands
/// of days would round it to some 100 ns).
inline void shift_pair(const double* p, double dt, double* out) {
    double rem = std::fmod(dt, ERFA_DAYSEC);
    double days = (dt - rem) / ERFA_DAYSEC;              // exact: a whole number of days
    double base = std::round(2.0 * p[0]) * 0.5;           // jd1's whole-or-half day count
    auto [s, e] = two_sum(p[1], rem / ERFA_DAYSEC);
    auto [s2, e2] = two_sum(s, p[0] - base);              // p[0] - base is exact (Sterbenz)
    double whole = std::floor(s2);
    out[0] = base + days + whole;
    out[1] = (s2 - whole) + (e + e2);
}

/// self + seconds: on TAI for a UTC time (so that leap seconds count), on the own scale otherwise.
inline Ref add_seconds(PyObject* self, const Offsets& off, double sign) {
    TimeObject* t = as_time(self);
    tk::Scale scale = tk::Scale(t->scale);
    bool scalar;
    Py_ssize_t nt = t->size, no = Py_ssize_t(off.seconds.size());
    Py_ssize_t n = broadcast(nt, t->isscalar, no, off.scalar, scalar);
    Ref base = scale == tk::UTC ? on_scale(self, tk::TAI) : Ref::borrow(self);
    const double* src = as_time(base.get())->data;
    Ref r = new_time(Py_TYPE(self), scale, n, scalar);
    double* out = as_time(r.get())->data;
    for (Py_ssize_t i = 0; i < n; ++i) {
        frame::poll_signals(i);
        const double* p = src + 2 * (nt == 1 ? 0 : i);
        double dt = sign * off.seconds[size_t(no == 1 ? 0 : i)];
        if (!std::isfinite(dt)) frame::raise(PyExc_ValueError, "time offset %R is not finite", frame::as_float(dt).get());
        shift_pair(p, dt, out + 2 * i);
    }
    if (scale == tk::UTC) convert_pairs(tk::TAI, tk::UTC, out, out, n);
    seal(r.get());
    return r;
}

inline PyObject* time_add(PyObject* a, PyObject* b) noexcept {
    static frame::Site site{"__add__"};
    return frame::guarded(site, [&]() -> Ref {
        bool ta = is_time(a), tb = is_time(b);
        if (ta == tb) return Ref::borrow(Py_NotImplemented);
        Offsets off;
        if (!offsets_from(ta ? b : a, off)) return Ref::borrow(Py_NotImplemented);
        return add_seconds(ta ? a : b, off, 1.0);
    });
}

inline PyObject* time_subtract(PyObject* a, PyObject* b) noexcept {
    static frame::Site site{"__sub__"};
    return frame::guarded(site, [&]() -> Ref {
        if (!is_time(a)) return Ref::borrow(Py_NotImplemented);
        if (is_time(b)) {
            return elementwise_diff(a, b, [&](Py_ssize_t n, bool scalar, auto diff) -> Ref {
                if (scalar) return frame::as_float(diff(0) * ERFA_DAYSEC);
                npy_intp dims[1] = {n};
                Ref out = frame::new_zeros(1, dims);
                auto* v = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
                for (Py_ssize_t i = 0; i < n; ++i) {
                    frame::poll_signals(i);
                    v[i] = diff(i) * ERFA_DAYSEC;
                }
                return out;
            });
        }
        Offsets off;
        if (!offsets_from(b, off)) return Ref::borrow(Py_NotImplemented);
        return add_seconds(a, off, -1.0);
    });
}

}  // namespace kelvara::timeobj
