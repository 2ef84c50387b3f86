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
namespace tk = kelvara::timek;
namespace tt = kelvara::timetables;
namespace iers = kelvara::iers;
using tt::as_time;
using tt::is_time;
using tt::TimeType;

PyArray_Descr* dt64ns_descr = nullptr;  // numpy.dtype("datetime64[ns]")
constexpr Py_ssize_t chunk = 65536;     // epochs between two looks at pending signals

// ---------------------------------------------------------------------------------------------
// Allocation

/// A new, unfilled Time of type `tp`: a scalar keeps its pair inline, N epochs own an (N, 2)
/// float64 array that is made read-only once filled (see `seal`).
Ref new_time(PyTypeObject* tp, tk::Scale scale, Py_ssize_t n, bool isscalar) {
    Ref obj = Ref::steal(tp->tp_alloc(tp, 0));
    TimeObject* t = as_time(obj.get());
    t->scale = scale;
    t->isscalar = isscalar;
    t->size = isscalar ? 1 : n;
    if (isscalar) {
        t->data = t->pair;
    } else {
        npy_intp dims[2] = {n, 2};
        t->jd12 = frame::check(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
        t->data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(t->jd12)));
    }
    return obj;
}

/// The epochs of a Time are immutable: its array refuses writes from here on.
void seal(PyObject* obj) {
    TimeObject* t = as_time(obj);
    if (t->jd12) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(t->jd12), NPY_ARRAY_WRITEABLE);
}

void time_dealloc(PyObject* self) noexcept {
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
void convert_pairs(tk::Scale from, tk::Scale to, const double* in, double* out, Py_ssize_t n) {
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

tk::Scale parse_scale(PyObject* o) {
    if (PyUnicode_Check(o)) {
        for (int s = 0; s < tk::nscales; ++s)
            if (PyUnicode_CompareWithASCIIString(o, tk::scale_names[s]) == 0) return tk::Scale(s);
    }
    frame::raise(PyExc_ValueError, "scale %R is not one of 'utc', 'tai', 'tt', 'tdb', 'ut1'", o);
}

Format parse_format(PyObject* o) {
    if (!o || o == Py_None) return Format::none;
    if (PyUnicode_Check(o)) {
        if (PyUnicode_CompareWithASCIIString(o, "jd") == 0) return Format::jd;
        if (PyUnicode_CompareWithASCIIString(o, "mjd") == 0) return Format::mjd;
        if (PyUnicode_CompareWithASCIIString(o, "unix") == 0) return Format::unix;
    }
    frame::raise(PyExc_ValueError, "format %R is not one of 'jd', 'mjd', 'unix'", o);
}

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

/// A Time on another scale (or a new object on the same scale sharing the stored epochs).
/// Converted epochs keep the epochs they came from (the first ones of a chain of conversions):
/// they are converted from those, and a conversion back to their scale returns them as they
/// were, so that round trips come home bit for bit and equal instants compare equal.
Ref converted_copy(PyTypeObject* tp, TimeObject* src, tk::Scale scale) {
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
                         frame::getattr(value, "shape").get());
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
            if (PyList_Check(items[i]) || PyTuple_Check(items[i]) || PyArray_Check(items[i]))
                frame::raise(PyExc_ValueError, "Time values must be one-dimensional, got the element %R", items[i]);
            convert_item(c, items[i], out + 2 * i);
        }
    } else if (PySequence_Check(value) || PyObject_HasAttrString(value, "__array__")) {
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
    static frame::Site site{"Time.__new__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        static const frame::Signature<3> sig{"__new__", {"value", "format", "scale"}, 1};
        auto [value, format, scale] = frame::parse(sig, args, kwargs);
        return build(tp, value, format, scale);
    });
}

// Construction is complete in __new__; __init__ accepts the same arguments so that subclasses
// may define their own and call up.
int time_init(PyObject*, PyObject*, PyObject*) noexcept { return 0; }

/// The epochs on `scale`, memoised on the object (Time is immutable). Instances with a dict
/// are not memoised: the memo is invisible to the garbage collector, and a dict could make it
/// part of a cycle.
Ref on_scale(PyObject* self, tk::Scale scale) {
    TimeObject* t = as_time(self);
    if (t->scale == scale || Py_TYPE(self)->tp_dictoffset) return converted_copy(Py_TYPE(self), t, scale);
    if (!t->converted[scale]) t->converted[scale] = converted_copy(Py_TYPE(self), t, scale).release();
    return Ref::borrow(t->converted[scale]);
}

template <int S>
PyObject* get_scale_view(PyObject* self, void*) noexcept {
    static frame::Site site{tk::scale_names[S], nullptr};
    return frame::guarded(site, [&]() -> Ref { return on_scale(self, tk::Scale(S)); });
}

/// A read-only 1-D view of one column of the stored (N, 2) array.
Ref column(TimeObject* t, int col) {
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
    Ref arr = Ref::steal(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
    double* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr.get())));
    for (Py_ssize_t i = 0; i < t->size; ++i) {
        frame::poll_signals(i);
        out[i] = f(t->data[2 * i], t->data[2 * i + 1]);
    }
    return arr;
}

#define GETTER(NAME, ...)                                                         \
    PyObject* get_##NAME(PyObject* self, void*) noexcept {                        \
        static frame::Site site{#NAME, nullptr};                                   \
        return frame::guarded(site, [&]() -> Ref { TimeObject* t = as_time(self); __VA_ARGS__ }); \
    }

GETTER(scale, return frame::str(tk::scale_names[t->scale]);)
GETTER(size, return Ref::steal(PyLong_FromSsize_t(t->size));)
GETTER(isscalar, return Ref::borrow(t->isscalar ? Py_True : Py_False);)
GETTER(shape, return t->isscalar ? Ref::steal(PyTuple_New(0)) : Ref::steal(Py_BuildValue("(n)", t->size));)
GETTER(jd1, return t->isscalar ? frame::as_float(t->data[0]) : column(t, 0);)
GETTER(jd2, return t->isscalar ? frame::as_float(t->data[1]) : column(t, 1);)
GETTER(jd, return map_pairs(t, [](double a, double b) { return a + b; });)
GETTER(mjd, return map_pairs(t, [](double a, double b) { return (a - DJM0) + b; });)
GETTER(jd12, {
    if (t->isscalar) {
        npy_intp dims[2] = {1, 2};
        Ref arr = Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
        double* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr.get())));
        out[0] = t->data[0];
        out[1] = t->data[1];
        return arr;
    }
    return Ref::steal(PyArray_View(reinterpret_cast<PyArrayObject*>(t->jd12), nullptr, nullptr));
})

// ---------------------------------------------------------------------------------------------
// Calendar read-outs

/// Calendar fields of a Time's epochs on its own scale, rounded to `ndp` decimals of the
/// second; raises for an epoch the calendar cannot show; one warning per call.
struct Calendars {
    struct Fields {
        int y, m, d, hmsf[4];
    };

    TimeObject* t;
    tt::Tables tables;
    tk::CalendarOut out;
    tt::FirstDate dubious;

    explicit Calendars(TimeObject* tm) : t(tm), out(tk::Scale(tm->scale), *tables.leap) {}

    Fields at(Py_ssize_t i, int ndp) {
        Fields c;
        double d1 = t->data[2 * i], d2 = t->data[2 * i + 1];
        int js = out(ndp, d1, d2, c.y, c.m, c.d, c.hmsf);
        if (js < 0) {
            Ref jd = frame::as_float(d1 + d2);
            frame::raise(PyExc_ValueError, "Julian date %R is outside the calendar ERFA handles", jd.get());
        }
        if (js & tk::dubious_bit) dubious.note(c.y, c.m, c.d);
        return c;
    }

    Ref iso(Py_ssize_t i) {
        Fields c = at(i, 6);
        char text[tk::iso_capacity];
        tk::format_iso(c.y, c.m, c.d, c.hmsf, text);
        return frame::str(text);
    }

    void finish() {
        if (dubious.set) tt::warn_dubious(*tables.leap, dubious.y, dubious.m, dubious.d);
    }
};

Ref iso_of(TimeObject* t) {
    Calendars cal(t);
    Ref out;
    if (t->isscalar) {
        out = cal.iso(0);
    } else {
        constexpr std::size_t W = tk::iso_capacity;
        std::vector<char> text(std::size_t(t->size) * W);
        std::size_t width = 1;
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            frame::poll_signals(i);
            Calendars::Fields c = cal.at(i, 6);
            int len = tk::format_iso(c.y, c.m, c.d, c.hmsf, &text[std::size_t(i) * W]);
            width = std::max(width, std::size_t(len));
        }
        Ref numpy = frame::import("numpy");
        Ref spec = Ref::steal(PyUnicode_FromFormat("<U%zu", width));
        Ref descr = frame::call(frame::getattr(numpy.get(), "dtype").get(), spec.get());
        npy_intp dims[1] = {t->size};
        out = Ref::steal(PyArray_NewFromDescr(&PyArray_Type, reinterpret_cast<PyArray_Descr*>(descr.release()), 1, dims,
                                              nullptr, nullptr, 0, nullptr));
        auto* u = static_cast<uint32_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        std::memset(u, 0, std::size_t(t->size) * width * 4);
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            const char* s = &text[std::size_t(i) * W];
            for (std::size_t k = 0; k < width && s[k]; ++k) u[std::size_t(i) * width + k] = uint32_t(s[k]);
        }
    }
    cal.finish();
    return out;
}

Ref datetime_scalar(Calendars& cal, Py_ssize_t i) {
    Calendars::Fields c = cal.at(i, 6);
    if (c.hmsf[2] >= 60)
        frame::raise(PyExc_ValueError, "Time %U falls in a leap second, which datetime cannot hold", cal.iso(i).get());
    return Ref::steal(PyDateTime_FromDateAndTime(c.y, c.m, c.d, c.hmsf[0], c.hmsf[1], c.hmsf[2], c.hmsf[3]));
}

Ref datetime_of(TimeObject* t) {
    Calendars cal(t);
    Ref out;
    if (t->isscalar) {
        out = datetime_scalar(cal, 0);
    } else {
        npy_intp dims[1] = {t->size};
        out = Ref::steal(PyArray_SimpleNew(1, dims, NPY_OBJECT));
        auto** slots = static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            frame::poll_signals(i);
            Ref dt = datetime_scalar(cal, i);
            Py_XSETREF(slots[i], dt.release());
        }
    }
    cal.finish();
    return out;
}

/// numpy.datetime64 in nanoseconds (NumPy counts no leap seconds; a leap second is refused).
Ref datetime64_of(TimeObject* t) {
    Calendars cal(t);
    npy_intp dims[1] = {t->size};
    Py_INCREF(dt64ns_descr);
    Ref out = Ref::steal(PyArray_NewFromDescr(&PyArray_Type, dt64ns_descr, t->isscalar ? 0 : 1, dims, nullptr, nullptr,
                                              0, nullptr));
    auto* v = static_cast<int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    for (Py_ssize_t i = 0; i < t->size; ++i) {
        frame::poll_signals(i);
        Calendars::Fields c = cal.at(i, 9);
        if (c.hmsf[2] >= 60)
            frame::raise(PyExc_ValueError, "Time %U falls in a leap second, which datetime64 cannot hold", cal.iso(i).get());
        int64_t days = tk::days_from_civil(c.y, unsigned(c.m), unsigned(c.d));
        int64_t sod = (int64_t(c.hmsf[0]) * 60 + c.hmsf[1]) * 60 + c.hmsf[2];
        int64_t ns;
        if (__builtin_mul_overflow(days * 86400 + sod, int64_t(1000000000), &ns) ||
            __builtin_add_overflow(ns, int64_t(c.hmsf[3]), &ns) || ns == NPY_DATETIME_NAT)
            frame::raise(PyExc_ValueError, "Time %U is outside the range of datetime64[ns]", cal.iso(i).get());
        v[i] = ns;
    }
    cal.finish();
    return t->isscalar ? Ref::steal(PyArray_Return(reinterpret_cast<PyArrayObject*>(out.release()))) : out;
}

/// Seconds since 1970-01-01 UTC, leap seconds not counted: the inverse of format='unix'. A time
/// inside a leap second reads as the start of the next day plus its part of the second.
Ref unix_of(PyObject* self) {
    Ref utc = on_scale(self, tk::UTC);
    TimeObject* u = as_time(utc.get());
    tt::Tables tables;
    int y = INT32_MIN, m = 0, d = 0;
    double day_len = ERFA_DAYSEC, days = 0.0;
    return map_pairs(u, [&](double d1, double d2) {
        int iy, im, id;
        double fd;
        if (eraJd2cal(d1, d2, &iy, &im, &id, &fd)) return std::nan("");
        if (!(iy == y && im == m && id == d)) {
            iers::DayStep step = iers::day_step(*tables.leap, iy, im, id);
            day_len = ERFA_DAYSEC + (step.status < 0 ? 0.0 : step.calendar_leap());
            days = double(tk::days_from_civil(iy, unsigned(im), unsigned(id)));
            y = iy; m = im; d = id;
        }
        return days * ERFA_DAYSEC + fd * day_len;
    });
}

GETTER(iso, return iso_of(t);)
GETTER(datetime, return datetime_of(t);)
GETTER(datetime64, return datetime64_of(t);)
GETTER(unix, (void)t; return unix_of(self);)

// ---------------------------------------------------------------------------------------------
// Sequence behaviour: len, indexing, iteration

Py_ssize_t time_len(PyObject* self) noexcept {
    static frame::Site site{"__len__", nullptr};
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
    static frame::Site site{"__getitem__", nullptr};
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
    static frame::Site site{"__iter__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        if (t->isscalar) frame::raise(PyExc_TypeError, "iteration over a scalar Time");
        Ref list = Ref::steal(PyList_New(t->size));
        for (Py_ssize_t i = 0; i < t->size; ++i) PyList_SET_ITEM(list.get(), i, item_at(self, i).release());
        return Ref::steal(PyObject_GetIter(list.get()));
    });
}

// ---------------------------------------------------------------------------------------------
// repr and str

PyObject* time_repr(PyObject* self) noexcept {
    static frame::Site site{"__repr__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        const char* type_name = _PyType_Name(Py_TYPE(self));
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
    static frame::Site site{"__str__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        Ref iso = iso_of(as_time(self));
        return as_time(self)->isscalar ? iso : Ref::steal(PyObject_Str(iso.get()));
    });
}

// ---------------------------------------------------------------------------------------------
// Differences, comparisons and offsets

/// Two Time operands on one uniform scale: their own when they share TAI, TT or TDB, else TAI
/// (UTC days that hold a leap second are longer, so UTC Julian dates cannot be subtracted).
std::pair<Ref, Ref> common_scale(PyObject* a, PyObject* b) {
    int sa = as_time(a)->scale, sb = as_time(b)->scale;
    if (sa == sb && sa != tk::UTC) return {Ref::borrow(a), Ref::borrow(b)};
    return {on_scale(a, tk::TAI), on_scale(b, tk::TAI)};
}

/// Size of the result of an elementwise operation on sizes na and nb (1 broadcasts).
Py_ssize_t broadcast(Py_ssize_t na, bool sa, Py_ssize_t nb, bool sb, bool& scalar) {
    scalar = sa && sb;
    if (na == nb || nb == 1) return na;
    if (na == 1) return nb;
    frame::raise(PyExc_ValueError, "cannot combine %zd epochs with %zd", na, nb);
}

/// (a - b) in days for each element, on a common uniform scale.
template <class F>
Ref elementwise_diff(PyObject* a, PyObject* b, F emit) {
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

PyObject* time_richcompare(PyObject* a, PyObject* b, int op) noexcept {
    static frame::Site site{"__richcmp__", nullptr};
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
            for (Py_ssize_t i = 0; i < n; ++i) v[i] = test(diff(i));
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

double timedelta64_seconds(int64_t v, tk::Unit unit, int64_t mult, PyObject* item) {
    static constexpr double per_unit[] = {0, 0, 604800.0, 86400.0, 3600.0, 60.0, 1.0, 1e-3, 1e-6, 1e-9,
                                          1e-12, 1e-15, 1e-18};
    int u = int(unit);
    if (v == NPY_DATETIME_NAT || unit == tk::Unit::Y || unit == tk::Unit::M || u > int(tk::Unit::as))
        frame::raise(PyExc_ValueError, "time offset %R has no fixed length in seconds", item);
    // Sub-second units divide, so that e.g. 1 ms is the double nearest to 0.001 s.
    double count = double(v) * double(mult);
    return per_unit[u] >= 1.0 ? count * per_unit[u] : count / std::round(1.0 / per_unit[u]);
}

bool offsets_from(PyObject* o, Offsets& out) {
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

/// self + seconds: on TAI for a UTC time (so that leap seconds count), on the own scale otherwise.
Ref add_seconds(PyObject* self, const Offsets& off, double sign) {
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
        const double* p = src + 2 * (nt == 1 ? 0 : i);
        double dt = sign * off.seconds[size_t(no == 1 ? 0 : i)];
        if (!std::isfinite(dt)) frame::raise(PyExc_ValueError, "time offset %R is not finite", frame::as_float(dt).get());
        out[2 * i] = p[0];
        out[2 * i + 1] = p[1] + dt / ERFA_DAYSEC;
    }
    if (scale == tk::UTC) convert_pairs(tk::TAI, tk::UTC, out, out, n);
    seal(r.get());
    return r;
}

PyObject* time_add(PyObject* a, PyObject* b) noexcept {
    static frame::Site site{"__add__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        bool ta = is_time(a), tb = is_time(b);
        if (ta == tb) return Ref::borrow(Py_NotImplemented);
        Offsets off;
        if (!offsets_from(ta ? b : a, off)) return Ref::borrow(Py_NotImplemented);
        return add_seconds(ta ? a : b, off, 1.0);
    });
}

PyObject* time_subtract(PyObject* a, PyObject* b) noexcept {
    static frame::Site site{"__sub__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        if (!is_time(a)) return Ref::borrow(Py_NotImplemented);
        if (is_time(b)) {
            return elementwise_diff(a, b, [&](Py_ssize_t n, bool scalar, auto diff) -> Ref {
                if (scalar) return frame::as_float(diff(0) * ERFA_DAYSEC);
                npy_intp dims[1] = {n};
                Ref out = Ref::steal(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
                auto* v = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
                for (Py_ssize_t i = 0; i < n; ++i) v[i] = diff(i) * ERFA_DAYSEC;
                return out;
            });
        }
        Offsets off;
        if (!offsets_from(b, off)) return Ref::borrow(Py_NotImplemented);
        return add_seconds(a, off, -1.0);
    });
}

// ---------------------------------------------------------------------------------------------
// now() and pickling

PyObject* time_now(PyObject* cls, PyObject*) noexcept {
    static frame::Site site{"now", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        // The clock is read through time.time_ns, looked up on each call, so that a clock
        // faked for tests (freezegun, time-machine, a patched time_ns) is the one read.
        Ref clock = frame::getattr(frame::import("time").get(), "time_ns");
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
    static frame::Site site{"__reduce_cython__", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        TimeObject* t = as_time(self);
        npy_intp dims[2] = {t->size, 2};
        Ref jd12 = Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(jd12.get())), t->data, sizeof(double) * 2 * size_t(t->size));
        Ref args = Ref::steal(Py_BuildValue("(OOsO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), jd12.get(),
                                            tk::scale_names[t->scale], t->isscalar ? Py_True : Py_False));
        PyObject** dictptr = _PyObject_GetDictPtr(self);
        if (dictptr && *dictptr && PyDict_GET_SIZE(*dictptr))
            return Ref::steal(PyTuple_Pack(3, reconstruct_fn, args.get(), *dictptr));
        return Ref::steal(PyTuple_Pack(2, reconstruct_fn, args.get()));
    });
}

PyObject* reconstruct(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"_reconstruct", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        static const frame::Signature<4> sig{"_reconstruct", {"cls", "jd12", "scale", "isscalar"}};
        auto [cls, jd12, scale_obj, isscalar_obj] = frame::parse(sig, args, nargsf, kwnames);
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
    });
}

/// Time.from_jd12(jd12, scale=None): epochs from their two-part Julian dates as they stand,
/// (N, 2) for N epochs or (2,) for one.
PyObject* time_from_jd12(PyObject* cls, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"from_jd12", nullptr};
    return frame::guarded(site, [&]() -> Ref {
        static const frame::Signature<2> sig{"from_jd12", {"jd12", "scale"}, 1};
        auto [jd12, scale_obj] = frame::parse(sig, args, nargsf, kwnames);
        tk::Scale scale = scale_obj && scale_obj != Py_None ? parse_scale(scale_obj) : tk::UTC;
        Ref arr = Ref::steal(PyArray_FROM_OTF(jd12, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
        auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
        bool scalar = PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) == 2;
        if (!scalar && (PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2))
            frame::raise(PyExc_ValueError, "jd12 must have shape (N, 2) or (2,), got %R", frame::getattr(arr.get(), "shape").get());
        Py_ssize_t n = scalar ? 1 : PyArray_DIM(a, 0);
        const double* src = static_cast<const double*>(PyArray_DATA(a));
        for (Py_ssize_t i = 0; i < 2 * n; ++i)
            if (!std::isfinite(src[i])) frame::raise(PyExc_ValueError, "jd12 holds a value that is not finite");
        Ref t = new_time(reinterpret_cast<PyTypeObject*>(cls), scale, n, scalar);
        std::memcpy(as_time(t.get())->data, src, sizeof(double) * 2 * size_t(n));
        seal(t.get());
        return t;
    });
}

// ---------------------------------------------------------------------------------------------
// Earth orientation at the epochs of a Time (kelvara.time.iers.eop)

/// _eop(t): (dut1, xp, yp) at the epochs of a Time of any scale, floats for a scalar Time.
PyObject* time_eop(PyObject*, PyObject* t) noexcept {
    static frame::Site site{"eop", nullptr};
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

template <class F>
constexpr PyCFunction fastcall(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef module_methods[] = {
    {"_eop", time_eop, METH_O, "_eop(t)\n--\n\nUT1-UTC (s), xp and yp (rad) at the epochs of a Time."},
    {"_set_leap_seconds", fastcall(kelvara::iersmethods::set_leap_seconds), METH_FASTCALL | METH_KEYWORDS,
     "_set_leap_seconds(data, name, if_later)\n--\n\nPut a leap-second table read from bytes in force."},
    {"_leap_seconds", kelvara::iersmethods::leap_seconds, METH_NOARGS,
     "_leap_seconds()\n--\n\nThe leap-second table in force: steps, expiry, source."},
    {"_set_eop", fastcall(kelvara::iersmethods::set_eop), METH_FASTCALL | METH_KEYWORDS,
     "_set_eop(data, name, linear)\n--\n\nPut Earth orientation data read from bytes in force."},
    {"_eop_info", kelvara::iersmethods::eop_info, METH_NOARGS,
     "_eop_info()\n--\n\nThe Earth orientation data in force: range, source, interpolation."},
    {"_reconstruct", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(reconstruct)),
     METH_FASTCALL | METH_KEYWORDS, "_reconstruct(cls, jd12, scale, isscalar)\n--\n\nRebuild a pickled Time."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef time_getset[] = {
    {"scale", get_scale, nullptr, doc_scale, nullptr},
    {"size", get_size, nullptr, doc_size, nullptr},
    {"shape", get_shape, nullptr, doc_shape, nullptr},
    {"isscalar", get_isscalar, nullptr, doc_isscalar, nullptr},
    {"jd1", get_jd1, nullptr, doc_jd1, nullptr},
    {"jd2", get_jd2, nullptr, doc_jd2, nullptr},
    {"jd", get_jd, nullptr, doc_jd, nullptr},
    {"mjd", get_mjd, nullptr, doc_mjd, nullptr},
    {"jd12", get_jd12, nullptr, doc_jd12, nullptr},
    {"iso", get_iso, nullptr, doc_iso, nullptr},
    {"datetime", get_datetime, nullptr, doc_datetime, nullptr},
    {"datetime64", get_datetime64, nullptr, doc_datetime64, nullptr},
    {"utc", get_scale_view<tk::UTC>, nullptr, doc_utc, nullptr},
    {"tai", get_scale_view<tk::TAI>, nullptr, doc_tai, nullptr},
    {"tt", get_scale_view<tk::TT>, nullptr, doc_tt, nullptr},
    {"tdb", get_scale_view<tk::TDB>, nullptr, doc_tdb, nullptr},
    {"ut1", get_scale_view<tk::UT1>, nullptr, doc_ut1, nullptr},
    {"unix", get_unix, nullptr, doc_unix, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef time_methods[] = {
    {"now", time_now, METH_CLASS | METH_NOARGS, doc_now},
    {"from_jd12", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_from_jd12)),
     METH_CLASS | METH_FASTCALL | METH_KEYWORDS, doc_from_jd12},
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
