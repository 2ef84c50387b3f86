// The Time object's own machinery: allocation, conversion of its epochs between scales (with
// the warnings of a batch), the memo of converted epochs, and element-wise maps over them.
#pragma once

#include "../frame/frame.hpp"
#include "../frame/arrays.hpp"
#include "time.hpp"
#include "time_input.hpp"
#include "time_kernels.hpp"
#include "time_tables.hpp"

#include <algorithm>
#include <cstring>

namespace kelvara::timeobj {

using frame::Ref;
using kelvara::TimeObject;
using timein::Format;
using timetables::as_time;
namespace tk = kelvara::timek;
namespace tt = kelvara::timetables;
namespace iers = kelvara::iers;

constexpr Py_ssize_t chunk = 65536;  // epochs between two looks at pending signals

// ---------------------------------------------------------------------------------------------
// Allocation

/// A new, unfilled Time of type `tp`: a scalar keeps its pair inline, N epochs own an (N, 2)
/// float64 array that is made read-only once filled (see `seal`).
inline Ref new_time(PyTypeObject* tp, tk::Scale scale, Py_ssize_t n, bool isscalar) {
    Ref obj = Ref::steal(tp->tp_alloc(tp, 0));
    TimeObject* t = as_time(obj.get());
    t->scale = scale;
    t->isscalar = isscalar;
    t->size = isscalar ? 1 : n;
    if (isscalar) {
        t->data = t->pair;
    } else {
        npy_intp dims[2] = {n, 2};
        t->jd12 = frame::new_zeros(2, dims).release();
        t->data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(t->jd12)));
    }
    return obj;
}

/// The epochs of a Time are immutable: its array refuses writes from here on.
inline void seal(PyObject* obj) {
    TimeObject* t = as_time(obj);
    if (t->jd12) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(t->jd12), NPY_ARRAY_WRITEABLE);
}

inline void time_dealloc(PyObject* self) noexcept {
    TimeObject* t = as_time(self);
    PyTypeObject* tp = Py_TYPE(self);
    if (t->weakreflist) PyObject_ClearWeakRefs(self);
    Py_CLEAR(t->jd12);
    Py_CLEAR(t->origin);
    for (PyObject*& c : t->converted) Py_CLEAR(c);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// ---------------------------------------------------------------------------------------------
// Batch conversions, their warnings and errors

/// Convert `n` pairs between scales (`in` and `out` may alias), looking at pending signals
/// between chunks; warns once for a dubious UTC date and once past the EOP.
inline void convert_pairs(tk::Scale from, tk::Scale to, const double* in, double* out, Py_ssize_t n) {
    if (from == to) {
        if (in != out) std::memcpy(out, in, sizeof(double) * 2 * size_t(n));
        return;
    }
    tt::Tables tables;
    tk::Chain chain(*tables.leap, from == tk::UT1 || to == tk::UT1 ? tables.need_eop() : nullptr);
    tk::Status st;
    for (Py_ssize_t i = 0; i < n && !st.failed(); i += chunk) {
        if (i) frame::poll_signals(chunk - 1);
        chain.convert(from, to, in, out, i, std::min(n, i + chunk), st);
    }
    if (st.failed()) {
        if (st.code == tk::no_eop) {
            tt::Date d = tt::utc_date(tables, from, in[2 * st.index], in[2 * st.index + 1]);
            tt::raise_before_eop(*tables.eop, d.y, d.m, d.d);
        }
        Ref jd = frame::as_float(in[2 * st.index] + in[2 * st.index + 1]);
        frame::raise(PyExc_ValueError, "cannot convert Julian date %R (%s) to %s: outside the range ERFA handles",
                     jd.get(), tk::scale_names[from], tk::scale_names[to]);
    }
    if (st.dubious >= 0) {
        tt::Date d = tt::utc_date(tables, to, out[2 * st.dubious], out[2 * st.dubious + 1]);
        tt::warn_dubious(*tables.leap, d.y, d.m, d.d);
    }
    if (st.past_eop >= 0) {
        tt::Date d = tt::utc_date(tables, to, out[2 * st.past_eop], out[2 * st.past_eop + 1]);
        tt::warn_past_eop(*tables.eop, d.y, d.m, d.d);
    }
}

// ---------------------------------------------------------------------------------------------
// Parsing of format and scale names

inline tk::Scale parse_scale(PyObject* o) {
    if (PyUnicode_Check(o)) {
        for (int s = 0; s < tk::nscales; ++s)
            if (PyUnicode_CompareWithASCIIString(o, tk::scale_names[s]) == 0) return tk::Scale(s);
    }
    frame::raise(PyExc_ValueError, "scale %R is not one of 'utc', 'tai', 'tt', 'tdb', 'ut1'", o);
}

inline Format parse_format(PyObject* o) {
    if (!o || o == Py_None) return Format::none;
    if (PyUnicode_Check(o)) {
        if (PyUnicode_CompareWithASCIIString(o, "jd") == 0) return Format::jd;
        if (PyUnicode_CompareWithASCIIString(o, "mjd") == 0) return Format::mjd;
        if (PyUnicode_CompareWithASCIIString(o, "unix") == 0) return Format::unix;
    }
    frame::raise(PyExc_ValueError, "format %R is not one of 'jd', 'mjd', 'unix'", o);
}

/// A Time on another scale (or a new object on the same scale sharing the stored epochs).
/// Converted epochs keep the epochs they came from (the first ones of a chain of conversions):
/// they are converted from those, and a conversion back to their scale returns them as they
/// were, so that round trips come home bit for bit and equal instants compare equal.
inline Ref converted_copy(PyTypeObject* tp, TimeObject* src, tk::Scale scale) {
    if (tk::Scale(src->scale) == scale) {
        // The same epochs: a scalar copied, an array shared, the origin kept.
        Ref t = src->isscalar ? new_time(tp, scale, 1, true) : Ref::steal(tp->tp_alloc(tp, 0));
        TimeObject* d = as_time(t.get());
        if (src->isscalar) {
            d->pair[0] = src->pair[0];
            d->pair[1] = src->pair[1];
        } else {
            d->scale = scale;
            d->size = src->size;
            d->jd12 = Py_NewRef(src->jd12);
            d->data = src->data;
        }
        d->origin = Py_XNewRef(src->origin);
        d->origin_scale = src->origin_scale;
        d->origin_pair[0] = src->origin_pair[0];
        d->origin_pair[1] = src->origin_pair[1];
        return t;
    }
    const bool has_origin = src->origin_scale > 0;
    const tk::Scale from = has_origin ? tk::Scale(src->origin_scale - 1) : tk::Scale(src->scale);
    const double* from_data = !has_origin ? src->data
                              : src->origin ? static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(src->origin)))
                                            : src->origin_pair;
    PyObject* from_array = has_origin ? src->origin : src->jd12;
    if (from == scale && !src->isscalar) {
        // Share the stored array of the epochs on that scale.
        Ref t = Ref::steal(tp->tp_alloc(tp, 0));
        TimeObject* d = as_time(t.get());
        d->scale = scale;
        d->isscalar = 0;
        d->size = src->size;
        d->jd12 = Py_NewRef(from_array);
        d->data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(from_array)));
        return t;
    }
    Ref t = new_time(tp, scale, src->size, src->isscalar);
    TimeObject* d = as_time(t.get());
    convert_pairs(from, scale, from_data, d->data, src->size);
    if (from != scale) {
        d->origin_scale = int(from) + 1;
        if (src->isscalar) {
            d->origin_pair[0] = from_data[0];
            d->origin_pair[1] = from_data[1];
        } else {
            d->origin = Py_NewRef(from_array);
        }
    }
    seal(t.get());
    return t;
}

/// The epochs on `scale`, memoised on the object (Time is immutable). Instances with a dict
/// are not memoised: the memo is invisible to the garbage collector, and a dict could make it
/// part of a cycle.
inline Ref on_scale(PyObject* self, tk::Scale scale) {
    TimeObject* t = as_time(self);
    if (t->scale == scale || Py_TYPE(self)->tp_dictoffset) return converted_copy(Py_TYPE(self), t, scale);
    if (!t->converted[scale]) t->converted[scale] = converted_copy(Py_TYPE(self), t, scale).release();
    return Ref::borrow(t->converted[scale]);
}

/// A read-only 1-D view of one column of the stored (N, 2) array.
inline Ref column(TimeObject* t, int col) {
    npy_intp dims[1] = {t->size};
    npy_intp strides[1] = {2 * sizeof(double)};
    Ref arr = Ref::steal(PyArray_New(&PyArray_Type, 1, dims, NPY_DOUBLE, strides, t->data + col, sizeof(double),
                                     NPY_ARRAY_ALIGNED, nullptr));
    frame::check_status(PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr.get()), Py_NewRef(t->jd12)));
    return arr;
}

/// Elementwise f(jd1, jd2) as a float or a new float64 array.
template <class F>
Ref map_pairs(TimeObject* t, F f) {
    if (t->isscalar) return frame::as_float(f(t->data[0], t->data[1]));
    npy_intp dims[1] = {t->size};
    Ref arr = frame::new_zeros(1, dims);
    double* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr.get())));
    for (Py_ssize_t i = 0; i < t->size; ++i) {
        frame::poll_signals(i);
        out[i] = f(t->data[2 * i], t->data[2 * i + 1]);
    }
    return arr;
}

}  // namespace kelvara::timeobj
