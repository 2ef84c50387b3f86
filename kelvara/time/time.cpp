// kelvara.time.time: the Time type, epochs as two-part Julian dates on the UTC, TAI, TT, TDB or
// UT1 scale, converted with ERFA's arithmetic on kelvara's own leap-second table and Earth
// orientation data (kelvara.time.iers).
#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"
#include "iers_methods.hpp"
#include "time.hpp"
#include "time_doc.hpp"
#include "time_input.hpp"
#include "time_kernels.hpp"
#include "time_object.hpp"
#include "time_ops.hpp"
#include "time_output.hpp"
#include "time_tables.hpp"

#include <structmember.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

namespace {

using frame::Ref;
using kelvara::TimeObject;
using namespace kelvara::timedoc;
using namespace kelvara::timein;
using namespace kelvara::timeobj;
namespace tk = kelvara::timek;
namespace tt = kelvara::timetables;
namespace iers = kelvara::iers;
using tt::as_time;
using tt::is_time;
using tt::TimeType;

// Looked up at call time.
const frame::Name name_time_ns{"time_ns"};
const frame::Name name_array{"__array__"};


/// Numbers with a format: a real scalar, or an array-like of reals (0-d or 1-d).
Ref build_numeric(PyTypeObject* tp, PyObject* value, Format fmt, tk::Scale scale) {
    tt::Tables tables;
    Converter c(scale, tables);
    if (is_real_number(value)) {
        Ref t = new_time(tp, scale, 1, true);
        c.number(frame::to_double(value), fmt, Item{value}, as_time(t.get())->data);
        c.finish();
        return t;
    }
    if (PyUnicode_Check(value) || PyBytes_Check(value) || PyBool_Check(value) || PyDate_Check(value) ||
        is_time(value))
        frame::raise(PyExc_TypeError, "Time value %R with a numeric format must be a real number", value);
    Ref arr = Ref::steal(PyArray_FromAny(value, nullptr, 0, 0, 0, nullptr));
    auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
    char kind = PyArray_DESCR(a)->kind;
    if (kind != 'i' && kind != 'u' && kind != 'f')
        frame::raise(PyExc_TypeError, "Time value %R with a numeric format must hold real numbers", value);
    if (PyArray_NDIM(a) > 1)
        frame::raise(PyExc_ValueError, "Time value %R must be a scalar or one-dimensional", value);
    Ref dbl = Ref::steal(PyArray_FROM_OTF(arr.get(), NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    auto* d = reinterpret_cast<PyArrayObject*>(dbl.get());
    bool scalar = PyArray_NDIM(d) == 0;
    Py_ssize_t n = scalar ? 1 : PyArray_DIM(d, 0);
    Ref t = new_time(tp, scale, n, scalar);
    const double* x = static_cast<const double*>(PyArray_DATA(d));
    double* out = as_time(t.get())->data;
    for (Py_ssize_t i = 0; i < n; ++i) {
        frame::poll_signals(i);
        c.number(x[i], fmt, Item{nullptr, dbl.get(), i}, out + 2 * i);
    }
    c.finish();
    return t;
}

/// Time(value, format=None, scale=None) for every accepted kind of value.
Ref build(PyTypeObject* tp, PyObject* value, PyObject* format, PyObject* scale_obj) {
    Format fmt = parse_format(format);
    bool scale_given = scale_obj && scale_obj != Py_None;
    tk::Scale scale = scale_given ? parse_scale(scale_obj) : tk::UTC;

    if (is_time(value)) {
        TimeObject* src = as_time(value);
        return converted_copy(tp, src, scale_given ? scale : tk::Scale(src->scale));
    }
    if (fmt != Format::none) {
        Ref t = build_numeric(tp, value, fmt, scale);
        seal(t.get());
        return t;
    }

    tt::Tables tables;
    Converter c(scale, tables);
    Ref t;
    if (PyUnicode_Check(value) || PyDate_Check(value) || PyArray_IsScalar(value, Datetime) || is_real_number(value)) {
        t = new_time(tp, scale, 1, true);
        convert_item(c, value, as_time(t.get())->data);
    } else if (PyArray_Check(value)) {
        auto* a = reinterpret_cast<PyArrayObject*>(value);
        if (PyArray_NDIM(a) > 1)
            frame::raise(PyExc_ValueError, "Time values must be a scalar or one-dimensional, got an array of shape %R",
                         frame::getattr(value, frame::numpy_names::shape).get());
        bool scalar = PyArray_NDIM(a) == 0;
        Py_ssize_t n = scalar ? 1 : PyArray_DIM(a, 0);
        char kind = PyArray_DESCR(a)->kind;
        if (kind == 'O' && n > 0 && !scale_given) {
            Ref first = Ref::steal(scalar ? PyArray_GETITEM(a, static_cast<char*>(PyArray_DATA(a)))
                                          : PySequence_GetItem(value, 0));
            if (is_time(first.get())) { scale = tk::Scale(as_time(first.get())->scale); c.retarget(scale); }
        }
        t = new_time(tp, scale, n, scalar);
        double* out = as_time(t.get())->data;
        if (kind == 'M') {
            Ref native = Ref::steal(PyArray_CheckFromAny(value, nullptr, 0, 0, NPY_ARRAY_NOTSWAPPED, nullptr));
            convert_datetime64_array(c, reinterpret_cast<PyArrayObject*>(native.get()), out);
        } else if (kind == 'U') {
            convert_str_array(c, a, out);
        } else if (kind == 'O') {
            for (Py_ssize_t i = 0; i < n; ++i) {
                frame::poll_signals(i);
                Ref item = Ref::steal(scalar ? PyArray_GETITEM(a, static_cast<char*>(PyArray_DATA(a)))
                                             : PySequence_GetItem(value, i));
                convert_item(c, item.get(), out + 2 * i);
            }
        } else if (kind == 'i' || kind == 'u' || kind == 'f') {
            raise_needs_format(value);
        } else {
            frame::raise(PyExc_TypeError, "Time values of dtype %R are not dates or times",
                         reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
        }
    } else if (PyList_Check(value) || PyTuple_Check(value)) {
        Ref seq = Ref::steal(PySequence_Fast(value, "Time values"));
        Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        PyObject** items = PySequence_Fast_ITEMS(seq.get());
        if (n > 0 && !scale_given && is_time(items[0])) {
            scale = tk::Scale(as_time(items[0])->scale);
            c.retarget(scale);
        }
        t = new_time(tp, scale, n, false);
        double* out = as_time(t.get())->data;
        for (Py_ssize_t i = 0; i < n; ++i) {
            frame::poll_signals(i);
            if (PyList_Check(items[i]) || PyTuple_Check(items[i]) || PyArray_Check(items[i]))
                frame::raise(PyExc_ValueError, "Time values must be one-dimensional, got the element %R", items[i]);
            convert_item(c, items[i], out + 2 * i);
        }
    } else if (PySequence_Check(value) || PyObject_HasAttr(value, name_array)) {
        // Other array-likes (a pandas index or series, an array subclass): through NumPy.
        Ref arr = Ref::steal_or_null(PyArray_FromAny(value, nullptr, 0, 0, 0, nullptr));
        if (!arr || (PyArray_DESCR(reinterpret_cast<PyArrayObject*>(arr.get()))->kind == 'O' &&
                     PyArray_NDIM(reinterpret_cast<PyArrayObject*>(arr.get())) == 0)) {
            PyErr_Clear();
            frame::raise(PyExc_TypeError, "Time value %R of type %.200s is not a date, a time or a Time", value,
                         Py_TYPE(value)->tp_name);
        }
        return build(tp, arr.get(), format, scale_obj);
    } else {
        frame::raise(PyExc_TypeError, "Time value %R of type %.200s is not a date, a time or a Time", value,
                     Py_TYPE(value)->tp_name);
    }
    c.finish();
    seal(t.get());
    return t;
}

// ---------------------------------------------------------------------------------------------
// Type slots and methods

PyObject* time_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"Time.__new__"};
    return frame::guarded(site, [&]() -> Ref {
        static const frame::Signature<3> sig{"__new__", {"value", "format", "scale"}, 1};
        auto [value, format, scale] = frame::parse(sig, args, kwargs);
        return build(tp, value, format, scale);
    });
}

// Construction is complete in __new__; __init__ accepts the same arguments so that subclasses
// may define their own and call up.
int time_init(PyObject*, PyObject*, PyObject*) noexcept { return 0; }

template <int S>
Ref scale_view(TimeObject* t) { return on_scale(reinterpret_cast<PyObject*>(t), tk::Scale(S)); }

Ref scale_of(TimeObject* t) { return frame::str(tk::scale_names[t->scale]); }
Ref size_of(TimeObject* t) { return Ref::steal(PyLong_FromSsize_t(t->size)); }
Ref isscalar_of(TimeObject* t) { return Ref::borrow(t->isscalar ? Py_True : Py_False); }
Ref shape_of(TimeObject* t) { return t->isscalar ? Ref::steal(PyTuple_New(0)) : frame::shape_of(t->size); }
Ref jd1_of(TimeObject* t) { return t->isscalar ? frame::as_float(t->data[0]) : column(t, 0); }
Ref jd2_of(TimeObject* t) { return t->isscalar ? frame::as_float(t->data[1]) : column(t, 1); }
Ref jd_of(TimeObject* t) { return map_pairs(t, [](double a, double b) { return a + b; }); }
Ref mjd_of(TimeObject* t) { return map_pairs(t, [](double a, double b) { return (a - DJM0) + b; }); }
Ref unix_of_time(TimeObject* t) { return unix_of(reinterpret_cast<PyObject*>(t)); }

Ref jd12_of(TimeObject* t) {
    if (t->isscalar) {
        npy_intp dims[2] = {1, 2};
        Ref arr = frame::new_zeros(2, dims);
        double* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr.get())));
        out[0] = t->data[0];
        out[1] = t->data[1];
        return arr;
    }
    return Ref::steal(PyArray_View(reinterpret_cast<PyArrayObject*>(t->jd12), nullptr, nullptr));
}

// ---------------------------------------------------------------------------------------------
// Sequence behaviour: len, indexing, iteration

Py_ssize_t time_len(PyObject* self) noexcept {
    static frame::Site site{"__len__"};
    frame::Profiled events(site);
    TimeObject* t = as_time(self);
    if (t->isscalar) {
        PyErr_SetString(PyExc_TypeError, "len() of a scalar Time");
        return -1;
    }
    return t->size;
}

/// Epoch i (already in range) as a scalar Time of the same type and scale.
Ref item_at(PyObject* self, Py_ssize_t i) {
    TimeObject* t = as_time(self);
    Ref r = new_time(Py_TYPE(self), tk::Scale(t->scale), 1, true);
    as_time(r.get())->data[0] = t->data[2 * i];
    as_time(r.get())->data[1] = t->data[2 * i + 1];
    if (t->origin) {  // the epoch it was converted from comes along
        const double* o = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(t->origin)));
        as_time(r.get())->origin_pair[0] = o[2 * i];
        as_time(r.get())->origin_pair[1] = o[2 * i + 1];
        as_time(r.get())->origin_scale = t->origin_scale;
    }
    return r;
}

PyObject* time_getitem(PyObject* self, PyObject* key) noexcept {
    static frame::Site site{"__getitem__"};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        if (t->isscalar) frame::raise(PyExc_TypeError, "a scalar Time is not subscriptable");
        if (PyIndex_Check(key) && !PyArray_Check(key)) {
            Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
            if (i == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
            if (i < 0) i += t->size;
            if (i < 0 || i >= t->size) frame::raise(PyExc_IndexError, "Time index out of range");
            return item_at(self, i);
        }
        if (PyTuple_Check(key)) frame::raise(PyExc_IndexError, "too many indices: a Time is one-dimensional");
        // Slices, index arrays and masks: let NumPy select rows of the stored pairs.
        Ref rows = Ref::steal(PyObject_GetItem(t->jd12, key));
        auto* a = reinterpret_cast<PyArrayObject*>(rows.get());
        if (!PyArray_Check(rows.get()) || PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2)
            frame::raise(PyExc_IndexError, "a Time is one-dimensional: index %R selects no epochs", key);
        Py_ssize_t n = PyArray_DIM(a, 0);
        Ref r = new_time(Py_TYPE(self), tk::Scale(t->scale), n, false);
        Ref dst = Ref::borrow(as_time(r.get())->jd12);
        frame::check_status(PyArray_CopyInto(reinterpret_cast<PyArrayObject*>(dst.get()), a));
        if (t->origin) {
            Ref from = Ref::steal(PyObject_GetItem(t->origin, key));
            Ref copy = Ref::steal(PyArray_NewCopy(reinterpret_cast<PyArrayObject*>(from.get()), NPY_CORDER));
            as_time(r.get())->origin = copy.release();
            as_time(r.get())->origin_scale = t->origin_scale;
        }
        seal(r.get());
        return r;
    });
}

PyObject* time_iter(PyObject* self) noexcept {
    static frame::Site site{"__iter__"};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        if (t->isscalar) frame::raise(PyExc_TypeError, "iteration over a scalar Time");
        Ref list = Ref::steal(PyList_New(t->size));
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            frame::poll_signals(i);
            PyList_SET_ITEM(list.get(), i, item_at(self, i).release());
        }
        return Ref::steal(PyObject_GetIter(list.get()));
    });
}

// ---------------------------------------------------------------------------------------------
// repr and str

PyObject* time_repr(PyObject* self) noexcept {
    static frame::Site site{"__repr__"};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        const char* type_name = frame::cpython::type_name(Py_TYPE(self));
        Calendars cal(t);  // a repr does not warn
        // A repr never fails on an epoch the calendar cannot show: it falls back to Julian dates.
        auto text = [&](Py_ssize_t i) -> Ref {
            Ref s = Ref::steal_or_null(PyUnicode_FromFormat("'%U'", cal.iso(i).get()));
            return s;
        };
        auto one = [&](Py_ssize_t i) -> Ref {
            try {
                return text(i);
            } catch (const frame::PyErrorSet&) {
                PyErr_Clear();
                Ref a = frame::as_float(t->data[2 * i]), b = frame::as_float(t->data[2 * i + 1]);
                return Ref::steal(PyUnicode_FromFormat("(%R, %R)", a.get(), b.get()));
            }
        };
        if (t->isscalar)
            return Ref::steal(
                PyUnicode_FromFormat("%s(%U, scale='%s')", type_name, one(0).get(), tk::scale_names[t->scale]));
        Ref parts = Ref::steal(PyList_New(0));
        auto add = [&](Ref s) { frame::check_status(PyList_Append(parts.get(), s.get())); };
        if (t->size <= 6) {
            for (Py_ssize_t i = 0; i < t->size; ++i) add(one(i));
        } else {
            for (Py_ssize_t i = 0; i < 3; ++i) add(one(i));
            add(frame::str("..."));
            for (Py_ssize_t i = t->size - 3; i < t->size; ++i) add(one(i));
        }
        Ref sep = frame::str(", ");
        Ref joined = Ref::steal(PyUnicode_Join(sep.get(), parts.get()));
        return Ref::steal(
            PyUnicode_FromFormat("%s([%U], scale='%s')", type_name, joined.get(), tk::scale_names[t->scale]));
    });
}

PyObject* time_str(PyObject* self) noexcept {
    static frame::Site site{"__str__"};
    return frame::guarded(site, [&]() -> Ref {
        Ref iso = iso_of(as_time(self));
        return as_time(self)->isscalar ? iso : Ref::steal(PyObject_Str(iso.get()));
    });
}

// ---------------------------------------------------------------------------------------------
// now() and pickling

PyObject* time_now(PyObject* cls, PyObject*) noexcept {
    static frame::Site site{"now"};
    return frame::guarded(site, [&]() -> Ref {
        // The clock is read through time.time_ns, looked up on each call, so that a clock
        // faked for tests (freezegun, time-machine, a patched time_ns) is the one read.
        Ref clock = frame::getattr(frame::import("time").get(), name_time_ns);
        Ref ns_obj = frame::call(clock.get());
        long long ns = PyLong_AsLongLong(ns_obj.get());
        if (ns == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
        tk::Fields f;
        if (!tk::fields_from_datetime64(ns, tk::Unit::ns, 1, f))
            frame::raise(PyExc_ValueError, "the clock reads %R ns, which is not a usable time", ns_obj.get());
        Ref t = new_time(reinterpret_cast<PyTypeObject*>(cls), tk::UTC, 1, true);
        tt::Tables tables;
        tk::DayMemo memo(tk::UTC, *tables.leap);
        TimeObject* o = as_time(t.get());
        if (memo.to_jd(f, o->data[0], o->data[1]) & tk::dubious_bit) tt::warn_dubious(*tables.leap, f.year, f.month, f.day);
        return t;
    });
}

PyObject* reconstruct_fn = nullptr;  // kelvara.time.time._reconstruct

/// Pickled as _reconstruct(type, jd12, scale, isscalar) plus the instance dict of a subclass.
PyObject* time_reduce(PyObject* self, PyObject*) noexcept {
    static frame::Site site{"__reduce_cython__"};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        npy_intp dims[2] = {t->size, 2};
        Ref jd12 = frame::new_zeros(2, dims);
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(jd12.get())), t->data, sizeof(double) * 2 * size_t(t->size));
        Ref args = Ref::steal(Py_BuildValue("(OOsO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), jd12.get(),
                                            tk::scale_names[t->scale], t->isscalar ? Py_True : Py_False));
        Ref dict = Ref::steal_or_null(frame::cpython::instance_dict(self));
        if (!dict && PyErr_Occurred()) throw frame::PyErrorSet{};
        if (dict && PyDict_GET_SIZE(dict.get()))
            return Ref::steal(PyTuple_Pack(3, reconstruct_fn, args.get(), dict.get()));
        return Ref::steal(PyTuple_Pack(2, reconstruct_fn, args.get()));
    });
}

/// _reconstruct(cls, jd12, scale, isscalar): the inverse of __reduce_cython__.
Ref reconstruct(PyObject*, PyObject* cls, PyObject* jd12, PyObject* scale_obj, PyObject* isscalar_obj) {
    if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), TimeType))
        frame::raise(PyExc_TypeError, "%R is not a Time type", cls);
    tk::Scale scale = parse_scale(scale_obj);
    int isscalar = frame::check_status(PyObject_IsTrue(isscalar_obj));
    Ref arr = Ref::steal(PyArray_FROM_OTF(jd12, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
    if (PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2 || (isscalar && PyArray_DIM(a, 0) != 1))
        frame::raise(PyExc_ValueError, "Time pairs must have shape (N, 2), (1, 2) for a scalar");
    Py_ssize_t n = PyArray_DIM(a, 0);
    Ref t = new_time(reinterpret_cast<PyTypeObject*>(cls), scale, n, isscalar);
    std::memcpy(as_time(t.get())->data, PyArray_DATA(a), sizeof(double) * 2 * size_t(n));
    seal(t.get());
    return t;
}

/// Time.from_jd12(jd12, scale=None): epochs from their two-part Julian dates as they stand,
/// (N, 2) for N epochs or (2,) for one.
Ref time_from_jd12(PyObject* cls, PyObject* jd12, PyObject* scale_obj) {
    tk::Scale scale = scale_obj && scale_obj != Py_None ? parse_scale(scale_obj) : tk::UTC;
    Ref arr = Ref::steal(PyArray_FROM_OTF(jd12, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
    bool scalar = PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) == 2;
    if (!scalar && (PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2))
        frame::raise(PyExc_ValueError, "jd12 must have shape (N, 2) or (2,), got %R", frame::getattr(arr.get(), frame::numpy_names::shape).get());
    Py_ssize_t n = scalar ? 1 : PyArray_DIM(a, 0);
    const double* src = static_cast<const double*>(PyArray_DATA(a));
    for (Py_ssize_t i = 0; i < 2 * n; ++i)
        if (!std::isfinite(src[i])) frame::raise(PyExc_ValueError, "jd12 holds a value that is not finite");
    Ref t = new_time(reinterpret_cast<PyTypeObject*>(cls), scale, n, scalar);
    std::memcpy(as_time(t.get())->data, src, sizeof(double) * 2 * size_t(n));
    seal(t.get());
    return t;
}

// ---------------------------------------------------------------------------------------------
// Earth orientation at the epochs of a Time (kelvara.time.iers.eop)

/// _eop(t): (dut1, xp, yp) at the epochs of a Time of any scale, floats for a scalar Time.
PyObject* time_eop(PyObject*, PyObject* t) noexcept {
    static frame::Site site{"eop"};
    return frame::guarded(site, [&]() -> Ref {
        if (!is_time(t)) frame::raise(PyExc_TypeError, "eop() takes a Time, got %.200s", Py_TYPE(t)->tp_name);
        Ref utc = on_scale(t, tk::UTC);
        TimeObject* u = as_time(utc.get());
        tt::Tables tables;
        const iers::EopTable& eop = *tables.need_eop();
        const Py_ssize_t n = u->size;
        Ref cols[3];
        double* out[3];
        double scalar[3];
        for (int k = 0; k < 3; ++k) {
            if (u->isscalar) {
                out[k] = &scalar[k];
                continue;
            }
            npy_intp dims[1] = {n};
            cols[k] = Ref::steal(PyArray_EMPTY(1, dims, NPY_DOUBLE, 0));
            out[k] = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(cols[k].get())));
        }
        tt::FirstDate past;
        for (Py_ssize_t i = 0; i < n; ++i) {
            frame::poll_signals(i);
            const double d1 = u->data[2 * i], d2 = u->data[2 * i + 1];
            int js = tk::eop_at(*tables.leap, eop, d1, d2, out[0][i], &out[1][i], &out[2][i]);
            if (js < 0) {
                tt::Date d = tt::utc_date(tables, tk::UTC, d1, d2);
                if (js == tk::no_eop) tt::raise_before_eop(eop, d.y, d.m, d.d);
                Ref jd = frame::as_float(d1 + d2);
                frame::raise(PyExc_ValueError, "Julian date %R is outside the calendar ERFA handles", jd.get());
            }
            if (js & tk::past_eop_bit) past.note(tt::utc_date(tables, tk::UTC, d1, d2));
        }
        if (past.set) tt::warn_past_eop(eop, past.y, past.m, past.d);
        if (u->isscalar)
            return Ref::steal(Py_BuildValue("(ddd)", scalar[0], scalar[1], scalar[2]));
        return Ref::steal(PyTuple_Pack(3, cols[0].get(), cols[1].get(), cols[2].get()));
    });
}

/// _ut1(t, dut1): the epochs of a Time on UT1 with UT1-UTC given (seconds, one value or one per
/// epoch) instead of interpolated: eraUtcut1 on kelvara's leap-second table.
PyObject* time_ut1_given(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"ut1"};
    return frame::guarded(site, [&]() -> Ref {
        static const frame::Signature<2> sig{"ut1", {"t", "dut1"}};
        auto [t, dut1_obj] = frame::parse(sig, args, nargsf, kwnames);
        if (!is_time(t)) frame::raise(PyExc_TypeError, "ut1() takes a Time, got %.200s", Py_TYPE(t)->tp_name);
        Ref utc = on_scale(t, tk::UTC);
        TimeObject* u = as_time(utc.get());
        Ref arr = Ref::steal(PyArray_FROM_OTF(dut1_obj, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
        auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
        const Py_ssize_t nd = PyArray_SIZE(a);
        if (PyArray_NDIM(a) > 1 || (nd != 1 && nd != u->size))
            frame::raise(PyExc_ValueError, "dut1 must be one value or one per epoch (%zd), got shape %R", u->size,
                         frame::getattr(arr.get(), frame::numpy_names::shape).get());
        const double* dut1 = static_cast<const double*>(PyArray_DATA(a));
        tt::Tables tables;
        tk::UtcToTai utctai(*tables.leap);
        Ref r = new_time(Py_TYPE(t), tk::UT1, u->size, u->isscalar);
        TimeObject* o = as_time(r.get());
        tt::FirstDate dubious;
        for (Py_ssize_t i = 0; i < u->size; ++i) {
            frame::poll_signals(i);
            const double d = dut1[nd == 1 ? 0 : i];
            if (!std::isfinite(d)) frame::raise(PyExc_ValueError, "dut1 holds a value that is not finite");
            double t1, t2;
            int js = utctai(u->data[2 * i], u->data[2 * i + 1], t1, t2);
            if (js < 0) {
                Ref jd = frame::as_float(u->data[2 * i] + u->data[2 * i + 1]);
                frame::raise(PyExc_ValueError, "cannot convert Julian date %R (utc) to ut1", jd.get());
            }
            if (js & tk::dubious_bit) dubious.note(tt::utc_date(tables, tk::UTC, u->data[2 * i], u->data[2 * i + 1]));
            eraTaiut1(t1, t2, d - utctai.dat0(), &o->data[2 * i], &o->data[2 * i + 1]);
        }
        // the UTC epochs they came from, so that .utc returns them as they were
        o->origin_scale = int(tk::UTC) + 1;
        if (u->isscalar) {
            o->origin_pair[0] = u->data[0];
            o->origin_pair[1] = u->data[1];
        } else {
            o->origin = Py_NewRef(u->jd12);
        }
        seal(r.get());
        if (dubious.set) tt::warn_dubious(*tables.leap, dubious.y, dubious.m, dubious.d);
        return r;
    });
}

// ---------------------------------------------------------------------------------------------
// UTC as element sets and datetime64 count it: days of 86400 s.

/// The day of a UTC quasi-Julian date and its length in seconds (86401 on a day that ends in a
/// leap second); false for a date outside the calendar.
bool utc_day(const tt::Tables& tables, double d1, double d2, double& midnight, double& fd, double& day_len) {
    int iy, im, id;
    if (eraJd2cal(d1, d2, &iy, &im, &id, &fd)) return false;
    iers::DayStep step = iers::day_step(*tables.leap, iy, im, id);
    day_len = ERFA_DAYSEC + (step.status < 0 ? 0.0 : step.calendar_leap());
    double djm0, djm;
    if (eraCal2jd(iy, im, id, &djm0, &djm)) return false;
    midnight = djm0 + djm;
    return true;
}

/// _utc_days(t): the UTC epochs of a Time as (N, 2) Julian dates whose every day holds 86400 s,
/// the count of datetime64, POSIX clocks and element-set epochs. ERFA's quasi-Julian dates
/// stretch a day that ends in a leap second to 86401 s; here its seconds count as on any other
/// day, and a time inside the leap second reads as the first second of the next day. Days of
/// 86400 s keep their pairs as they are.
PyObject* time_utc_days(PyObject*, PyObject* t) noexcept {
    static frame::Site site{"_utc_days"};
    return frame::guarded(site, [&]() -> Ref {
        if (!is_time(t)) frame::raise(PyExc_TypeError, "_utc_days() takes a Time, got %.200s", Py_TYPE(t)->tp_name);
        Ref utc = on_scale(t, tk::UTC);
        TimeObject* u = as_time(utc.get());
        tt::Tables tables;
        npy_intp dims[2] = {u->size, 2};
        Ref out = Ref::steal(PyArray_EMPTY(2, dims, NPY_DOUBLE, 0));
        double* o = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        for (Py_ssize_t i = 0; i < u->size; ++i) {
            frame::poll_signals(i);
            const double d1 = u->data[2 * i], d2 = u->data[2 * i + 1];
            double midnight, fd, day_len;
            o[2 * i] = d1;
            o[2 * i + 1] = d2;
            if (utc_day(tables, d1, d2, midnight, fd, day_len) && day_len != ERFA_DAYSEC) {
                o[2 * i] = midnight;
                o[2 * i + 1] = fd * day_len / ERFA_DAYSEC;
            }
        }
        return out;
    });
}

/// _from_utc_days(jd12): the inverse of _utc_days, (N, 2) Julian dates of 86400-second UTC days
/// to the UTC quasi-Julian dates of a Time (as a float64 array of the same shape).
PyObject* time_from_utc_days(PyObject*, PyObject* jd) noexcept {
    static frame::Site site{"_from_utc_days"};
    return frame::guarded(site, [&]() -> Ref {
        Ref in = Ref::steal_or_null(PyArray_FROM_OTF(jd, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY | NPY_ARRAY_ENSURECOPY));
        if (!in) throw frame::PyErrorSet{};
        auto* a = reinterpret_cast<PyArrayObject*>(in.get());
        const npy_intp n = PyArray_SIZE(a);
        if (PyArray_NDIM(a) < 1 || PyArray_DIM(a, PyArray_NDIM(a) - 1) != 2)
            frame::raise(PyExc_ValueError, "_from_utc_days() takes pairs of Julian dates");
        double* p = static_cast<double*>(PyArray_DATA(a));
        tt::Tables tables;
        for (npy_intp i = 0; i < n / 2; ++i) {
            frame::poll_signals(i);
            double midnight, fd, day_len;
            // a fraction of a day of 86400 s; the day's own length only matters on a leap day
            if (utc_day(tables, p[2 * i], p[2 * i + 1], midnight, fd, day_len) && day_len != ERFA_DAYSEC) {
                p[2 * i] = midnight;
                p[2 * i + 1] = fd * ERFA_DAYSEC / day_len;
            }
        }
        return in;
    });
}

/// _one_warning_each(fn, /, *args, **kwargs): fn(*args, **kwargs) giving at most one
/// ErfaDubiousYearWarning and one EopRangeWarning, at the line that called the caller.
PyObject* one_warning_each(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    Py_ssize_t n = PyVectorcall_NARGS(nargsf);
    if (n < 1) {
        PyErr_SetString(PyExc_TypeError, "_one_warning_each() needs the function to call");
        return nullptr;
    }
    tt::WarnScopeGuard scope;
    return PyObject_Vectorcall(args[0], args + 1, size_t(n - 1), kwnames);
}

template <class F>
constexpr PyCFunction fastcall(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef module_methods[] = {
    {"_one_warning_each", fastcall(one_warning_each), METH_FASTCALL | METH_KEYWORDS,
     "_one_warning_each(fn, /, *args, **kwargs)\n--\n\nfn(*args, **kwargs) with one warning of each kind."},
    {"_eop", time_eop, METH_O, "_eop(t)\n--\n\nUT1-UTC (s), xp and yp (rad) at the epochs of a Time."},
    {"_utc_days", time_utc_days, METH_O,
     "_utc_days(t)\n--\n\nThe UTC epochs of a Time as Julian dates of 86400-second days."},
    {"_from_utc_days", time_from_utc_days, METH_O,
     "_from_utc_days(jd12)\n--\n\nJulian dates of 86400-second UTC days as UTC quasi-Julian dates."},
    {"_ut1", fastcall(time_ut1_given), METH_FASTCALL | METH_KEYWORDS,
     "_ut1(t, dut1)\n--\n\nThe epochs of a Time on UT1 with UT1-UTC given."},
    frame::Method<"_set_leap_seconds", "data", "name", "if_later">::def<kelvara::iersmethods::set_leap_seconds>(
        "_set_leap_seconds(data, name, if_later)\n--\n\nPut a leap-second table read from bytes in force."),
    {"_leap_seconds", kelvara::iersmethods::leap_seconds, METH_NOARGS,
     "_leap_seconds()\n--\n\nThe leap-second table in force: steps, expiry, source."},
    frame::Method<"_set_eop", "files", "linear">::def<kelvara::iersmethods::set_eop>(
        "_set_eop(files, linear)\n--\n\nPut Earth orientation data read from (bytes, name) pairs in force, each file "
        "continuing the ones before it."),
    {"_eop_info", kelvara::iersmethods::eop_info, METH_NOARGS,
     "_eop_info()\n--\n\nThe Earth orientation data in force: range, source, interpolation."},
    frame::Method<"_reconstruct", "cls", "jd12", "scale", "isscalar">::def<reconstruct>(
        "_reconstruct(cls, jd12, scale, isscalar)\n--\n\nRebuild a pickled Time."),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef time_getset[] = {
    {"scale", frame::getter<scale_of>, nullptr, doc_scale, nullptr},
    {"size", frame::getter<size_of>, nullptr, doc_size, nullptr},
    {"shape", frame::getter<shape_of>, nullptr, doc_shape, nullptr},
    {"isscalar", frame::getter<isscalar_of>, nullptr, doc_isscalar, nullptr},
    {"jd1", frame::getter<jd1_of>, nullptr, doc_jd1, nullptr},
    {"jd2", frame::getter<jd2_of>, nullptr, doc_jd2, nullptr},
    {"jd", frame::getter<jd_of>, nullptr, doc_jd, nullptr},
    {"mjd", frame::getter<mjd_of>, nullptr, doc_mjd, nullptr},
    {"jd12", frame::getter<jd12_of>, nullptr, doc_jd12, nullptr},
    {"iso", frame::getter<iso_of>, nullptr, doc_iso, nullptr},
    {"datetime", frame::getter<datetime_of>, nullptr, doc_datetime, nullptr},
    {"datetime64", frame::getter<datetime64_of>, nullptr, doc_datetime64, nullptr},
    {"utc", frame::getter<scale_view<tk::UTC>>, nullptr, doc_utc, nullptr},
    {"tai", frame::getter<scale_view<tk::TAI>>, nullptr, doc_tai, nullptr},
    {"tt", frame::getter<scale_view<tk::TT>>, nullptr, doc_tt, nullptr},
    {"tdb", frame::getter<scale_view<tk::TDB>>, nullptr, doc_tdb, nullptr},
    {"ut1", frame::getter<scale_view<tk::UT1>>, nullptr, doc_ut1, nullptr},
    {"unix", frame::getter<unix_of_time>, nullptr, doc_unix, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef time_methods[] = {
    {"now", time_now, METH_CLASS | METH_NOARGS, doc_now},
    frame::class_method(frame::MethodWithDefaults<1, "from_jd12", "jd12", "scale">::def<time_from_jd12>(doc_from_jd12)),
    {"__reduce_cython__", time_reduce, METH_NOARGS, doc_reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef time_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(TimeObject, weakreflist), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot time_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_Time)},
    {Py_tp_new, reinterpret_cast<void*>(time_new)},
    {Py_tp_init, reinterpret_cast<void*>(time_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(time_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(time_repr)},
    {Py_tp_str, reinterpret_cast<void*>(time_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(time_richcompare)},
    {Py_tp_iter, reinterpret_cast<void*>(time_iter)},
    {Py_mp_length, reinterpret_cast<void*>(time_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(time_getitem)},
    {Py_nb_add, reinterpret_cast<void*>(time_add)},
    {Py_nb_subtract, reinterpret_cast<void*>(time_subtract)},
    {Py_tp_getset, time_getset},
    {Py_tp_methods, time_methods},
    {Py_tp_members, time_members},
    {0, nullptr},
};

PyType_Spec time_spec = {
    "kelvara.time.time.Time",
    sizeof(TimeObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    time_slots,
};

// ---------------------------------------------------------------------------------------------
// Module

void body(frame::Module&, PyObject* module) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) throw frame::PyErrorSet{};
    frame::check_status(PyModule_AddFunctions(module, module_methods));
    reconstruct_fn = frame::getattr(module, "_reconstruct").release();
    TimeType = frame::add_type(module, &time_spec);
    // NumPy operands defer to Time's own operators (array + t is t + array, not an object array).
    frame::check_status(PyDict_SetItemString(TimeType->tp_dict, "__array_ufunc__", Py_None));
    PyType_Modified(TimeType);
    tt::DubiousYearWarning = frame::check(PyErr_NewExceptionWithDoc(
        "kelvara.time.time.ErfaDubiousYearWarning", doc_ErfaDubiousYearWarning, PyExc_UserWarning, nullptr));
    frame::check_status(PyModule_AddObjectRef(module, "ErfaDubiousYearWarning", tt::DubiousYearWarning));
    tt::EopRangeWarning = frame::check(PyErr_NewExceptionWithDoc(
        "kelvara.time.time.EopRangeWarning", doc_EopRangeWarning, PyExc_UserWarning, nullptr));
    frame::check_status(PyModule_AddObjectRef(module, "EopRangeWarning", tt::EopRangeWarning));
    Ref numpy = frame::import("numpy");
    tt::datetime_data = frame::getattr(numpy.get(), "datetime_data").release();
    Ref datetime = frame::import("datetime");
    tt::timezone_utc = frame::getattr(frame::getattr(datetime.get(), "timezone").get(), "utc").release();
    Ref descr = frame::call(frame::getattr(numpy.get(), "dtype").get(), frame::str("datetime64[ns]").get());
    dt64ns_descr = reinterpret_cast<PyArray_Descr*>(descr.release());
}

frame::Module time_module("kelvara.time.time", "time", "Epochs on the UTC, TAI, TT, TDB and UT1 scales, converted with ERFA.",
                          "kelvara/time/time.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_time() { return time_module.init(); }
