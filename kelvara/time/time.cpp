// kelvara.time.time: the Time type, epochs as two-part Julian dates on the UTC, TAI, TT or TDB
// scale, converted with ERFA.
#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"
#include "time.hpp"
#include "time_kernels.hpp"

#include <datetime.h>
#include <structmember.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

namespace {

using frame::Ref;
using kelvara::TimeObject;
namespace tk = kelvara::timek;

PyTypeObject* TimeType = nullptr;
PyObject* DubiousYearWarning = nullptr;  // kelvara.time.time.ErfaDubiousYearWarning
PyObject* datetime_data = nullptr;        // numpy.datetime_data
PyObject* timezone_utc = nullptr;         // datetime.timezone.utc
PyArray_Descr* dt64ns_descr = nullptr;    // numpy.dtype("datetime64[ns]")

constexpr double DJM0 = 2400000.5;        // MJD zero point

enum class Format { none, jd, mjd, unix };

inline TimeObject* as_time(PyObject* o) noexcept { return reinterpret_cast<TimeObject*>(o); }
inline bool is_time(PyObject* o) noexcept { return PyObject_TypeCheck(o, TimeType); }

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
    for (PyObject*& c : t->converted) Py_CLEAR(c);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// ---------------------------------------------------------------------------------------------
// Status codes of ERFA into Python warnings and errors

void warn_dubious() {
    frame::check_status(PyErr_WarnEx(DubiousYearWarning,
                                     "ERFA reports a dubious year: UTC before 1960 or beyond the leap-second table is "
                                     "not reliable",
                                     1));
}

/// Raise for a failed batch conversion, naming the first offending epoch.
[[noreturn]] void raise_conversion(const tk::Status& st, const double* pairs, tk::Scale from, tk::Scale to) {
    double d1 = pairs[2 * st.index], d2 = pairs[2 * st.index + 1];
    Ref jd = frame::as_float(d1 + d2);
    frame::raise(PyExc_ValueError, "cannot convert Julian date %R (%s) to %s: outside the range ERFA handles", jd.get(),
                 tk::scale_names[from], tk::scale_names[to]);
}

/// Convert `n` pairs between scales in place, warning once for a dubious year.
void convert_pairs(tk::Scale from, tk::Scale to, const double* in, double* out, Py_ssize_t n) {
    if (from == to) {
        if (in != out) std::memcpy(out, in, sizeof(double) * 2 * size_t(n));
        return;
    }
    tk::Status st = tk::convert(from, to, in, out, n);
    if (st.failed()) raise_conversion(st, in, from, to);
    if (st.code & 1) warn_dubious();
}

// ---------------------------------------------------------------------------------------------
// Parsing of format and scale names

tk::Scale parse_scale(PyObject* o) {
    if (PyUnicode_Check(o)) {
        for (int s = 0; s < 4; ++s)
            if (PyUnicode_CompareWithASCIIString(o, tk::scale_names[s]) == 0) return tk::Scale(s);
    }
    frame::raise(PyExc_ValueError, "scale %R is not one of 'utc', 'tai', 'tt', 'tdb'", o);
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

// ---------------------------------------------------------------------------------------------
// One value -> (jd1, jd2) on the target scale

/// Names the value being converted; made into a Python object only for an error message, so
/// that the array paths create no objects per element.
struct Item {
    PyObject* obj = nullptr;    // the value itself, or
    PyObject* array = nullptr;  // an array and the index of the value in it
    Py_ssize_t index = 0;

    Ref get() const {
        if (obj) return Ref::borrow(obj);
        if (!PyArray_Check(array) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(array)) == 0)
            return Ref::borrow(array);
        return Ref::steal(PySequence_GetItem(array, index));
    }
};

/// Values of every kind to pairs on `target`; `item` names the value in errors.
struct Converter {
    tk::Scale target;
    tk::DayMemo memo_target;
    tk::DayMemo memo_utc;
    bool dubious = false;

    explicit Converter(tk::Scale s) : target(s), memo_target(s), memo_utc(tk::UTC) {}

    void from_fields(const tk::Fields& f, tk::Scale fscale, const Item& item, double* out) {
        tk::DayMemo& memo = fscale == target ? memo_target : memo_utc;
        int js = memo.to_jd(f, out[0], out[1]);
        if (js < 0 || (js & 2)) {
            static constexpr const char* why[] = {"", "year out of range", "month out of range", "day out of range",
                                                  "hour out of range", "minute out of range", "second out of range"};
            const char* reason = js < 0 ? why[-js] : "seconds beyond the end of that day (no leap second there)";
            frame::raise(PyExc_ValueError, "Time value %R is not a valid date: %s", item.get().get(), reason);
        }
        if (js & 1) dubious = true;
        if (fscale != target) pairs_from(fscale, out, item);
    }

    /// Convert one pair from `from` to the target scale, in place.
    void pairs_from(tk::Scale from, double* p, const Item& item) {
        int js = tk::convert_one(from, target, p[0], p[1], p[0], p[1]);
        if (js < 0) frame::raise(PyExc_ValueError, "Time value %R is outside the range ERFA converts", item.get().get());
        if (js & 1) dubious = true;
    }

    void iso(const char* s, std::size_t n, const Item& item, double* out) {
        tk::Fields f;
        tk::IsoError e = tk::parse_iso(s, n, f);
        Ref named = e == tk::IsoError::none ? Ref() : item.get();
        switch (e) {
        case tk::IsoError::none: break;
        case tk::IsoError::syntax:
            frame::raise(PyExc_ValueError,
                         "Time string %R is not ISO 8601 (YYYY, YYYY-MM-DD or YYYY-MM-DDThh:mm[:ss[.fff]][Z])", named.get());
        case tk::IsoError::month: frame::raise(PyExc_ValueError, "Time string %R has a month out of range", named.get());
        case tk::IsoError::day: frame::raise(PyExc_ValueError, "Time string %R has a day out of range", named.get());
        case tk::IsoError::hour: frame::raise(PyExc_ValueError, "Time string %R has an hour out of range", named.get());
        case tk::IsoError::minute: frame::raise(PyExc_ValueError, "Time string %R has a minute out of range", named.get());
        case tk::IsoError::second:
        case tk::IsoError::leap_second:
            frame::raise(PyExc_ValueError, "Time string %R has a second out of range", named.get());
        }
        from_fields(f, target, item, out);
    }

    /// Unix seconds (UTC, leap seconds not counted, as POSIX clocks count).
    void unix_seconds(double x, const Item& item, double* out) {
        if (!std::isfinite(x) || std::fabs(x) > 3.0e11)
            frame::raise(PyExc_ValueError, "Time value %R is not a usable unix time", item.get().get());
        double days = std::floor(x / 86400.0);
        double sod = x - days * 86400.0;  // exact: the two terms are within a factor two
        if (sod >= 86400.0) { days += 1.0; sod -= 86400.0; }
        if (sod < 0.0) { days -= 1.0; sod += 86400.0; }
        tk::Fields f;
        tk::civil_from_days(int64_t(days), f.year, f.month, f.day);
        f.hour = int(sod / 3600.0);
        double rest = sod - 3600.0 * f.hour;
        f.minute = int(rest / 60.0);
        f.second = rest - 60.0 * f.minute;
        if (f.minute > 59) { f.minute = 59; f.second = rest - 3540.0; }
        from_fields(f, tk::UTC, item, out);
    }

    void number(double x, Format fmt, const Item& item, double* out) {
        if (!std::isfinite(x)) frame::raise(PyExc_ValueError, "Time value %R is not finite", item.get().get());
        switch (fmt) {
        case Format::jd: out[0] = x; out[1] = 0.0; break;
        case Format::mjd: out[0] = DJM0; out[1] = x; break;
        case Format::unix: unix_seconds(x, item, out); break;
        case Format::none: break;
        }
    }

    void datetime(PyObject* item, double* out) {
        tk::Fields f;
        tk::Scale fscale = target;
        Ref utc;
        PyObject* dt = item;
        if (PyDateTime_Check(item)) {
            PyObject* tz = PyDateTime_DATE_GET_TZINFO(item);
            if (tz != Py_None) {
                // Aware: bring it to UTC; naive values are taken as they stand.
                utc = Ref::steal(PyObject_CallMethod(item, "astimezone", "O", timezone_utc));
                dt = utc.get();
                fscale = tk::UTC;
            }
            f.hour = PyDateTime_DATE_GET_HOUR(dt);
            f.minute = PyDateTime_DATE_GET_MINUTE(dt);
            int us = PyDateTime_DATE_GET_MICROSECOND(dt);
            f.second = double(PyDateTime_DATE_GET_SECOND(dt) * 1000000 + us) / 1e6;
        }
        f.year = PyDateTime_GET_YEAR(dt);
        f.month = PyDateTime_GET_MONTH(dt);
        f.day = PyDateTime_GET_DAY(dt);
        from_fields(f, fscale, Item{item}, out);
    }

    void datetime64(int64_t v, tk::Unit unit, int64_t mult, PyObject* array, Py_ssize_t i, double* out) {
        tk::Fields f;
        if (v == NPY_DATETIME_NAT || unit == tk::Unit::generic || !tk::fields_from_datetime64(v, unit, mult, f)) {
            Ref item = element(array, i);
            frame::raise(PyExc_ValueError, "Time value %R is not a convertible datetime64", item.get());
        }
        tk::DayMemo& memo = memo_target;
        int js = memo.to_jd(f, out[0], out[1]);
        if (js < 0 || (js & 2)) {
            Ref item = element(array, i);
            frame::raise(PyExc_ValueError, "Time value %R is outside the calendar ERFA handles", item.get());
        }
        if (js & 1) dubious = true;
    }

    static Ref element(PyObject* array, Py_ssize_t i) {
        if (!PyArray_Check(array) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(array)) == 0)
            return Ref::borrow(array);
        return Ref::steal(PySequence_GetItem(array, i));
    }

    void finish() {
        if (dubious) warn_dubious();
    }
};

bool is_real_number(PyObject* o) {
    if (PyBool_Check(o)) return false;
    if (PyFloat_Check(o) || PyLong_Check(o)) return true;
    // numpy.timedelta64 derives from numpy.signedinteger but is a duration, not a count.
    if (PyArray_IsScalar(o, Timedelta)) return false;
    return PyArray_IsScalar(o, Integer) || PyArray_IsScalar(o, Floating);
}

[[noreturn]] void raise_needs_format(PyObject* item) {
    frame::raise(PyExc_ValueError,
                 "Time value %R is a number: say what it counts with format='jd', 'mjd' or 'unix'", item);
}

/// Unit and multiplier of a datetime64 or timedelta64 dtype, as numpy.datetime_data gives them.
std::pair<tk::Unit, int64_t> datetime_unit(PyArray_Descr* descr) {
    Ref meta = frame::call(datetime_data, reinterpret_cast<PyObject*>(descr));
    const char* name = PyUnicode_AsUTF8(PyTuple_GET_ITEM(meta.get(), 0));
    if (!name) throw frame::PyErrorSet{};
    int64_t mult = PyLong_AsLongLong(PyTuple_GET_ITEM(meta.get(), 1));
    if (mult == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
    return {tk::unit_from_name(name), mult};
}

/// One element of a list, tuple or object array (or a lone value) without a format.
void convert_item(Converter& c, PyObject* item, double* out) {
    if (PyUnicode_Check(item)) {
        Py_ssize_t n;
        const char* s = PyUnicode_AsUTF8AndSize(item, &n);
        if (!s) throw frame::PyErrorSet{};
        c.iso(s, size_t(n), Item{item}, out);
    } else if (PyDate_Check(item)) {
        c.datetime(item, out);
    } else if (is_time(item)) {
        TimeObject* t = as_time(item);
        if (!t->isscalar) frame::raise(PyExc_ValueError, "a sequence of Time values takes scalar Time objects, got %R", item);
        out[0] = t->data[0];
        out[1] = t->data[1];
        c.pairs_from(tk::Scale(t->scale), out, Item{item});
    } else if (PyArray_IsScalar(item, Datetime)) {
        Ref arr = Ref::steal(PyArray_FromScalar(item, nullptr));
        auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
        auto [unit, mult] = datetime_unit(PyArray_DESCR(a));
        int64_t v;
        std::memcpy(&v, PyArray_DATA(a), sizeof v);
        c.datetime64(v, unit, mult, item, 0, out);
    } else if (is_real_number(item)) {
        raise_needs_format(item);
    } else {
        frame::raise(PyExc_TypeError, "Time value %R of type %.200s is not a date, a time or a Time", item,
                     Py_TYPE(item)->tp_name);
    }
}

/// A NumPy array of datetime64, 0-d or 1-d, into pairs.
void convert_datetime64_array(Converter& c, PyArrayObject* a, double* out) {
    auto [unit, mult] = datetime_unit(PyArray_DESCR(a));
    Py_ssize_t n = PyArray_NDIM(a) ? PyArray_DIM(a, 0) : 1;
    npy_intp stride = PyArray_NDIM(a) ? PyArray_STRIDE(a, 0) : 0;
    const char* p = static_cast<const char*>(PyArray_DATA(a));
    for (Py_ssize_t i = 0; i < n; ++i) {
        int64_t v;
        std::memcpy(&v, p + i * stride, sizeof v);
        c.datetime64(v, unit, mult, reinterpret_cast<PyObject*>(a), i, out + 2 * i);
    }
}

/// A NumPy array of fixed-width unicode strings, parsed without making Python strings.
void convert_str_array(Converter& c, PyArrayObject* a, double* out) {
    Py_ssize_t n = PyArray_NDIM(a) ? PyArray_DIM(a, 0) : 1;
    npy_intp stride = PyArray_NDIM(a) ? PyArray_STRIDE(a, 0) : 0;
    std::size_t width = std::size_t(PyArray_ITEMSIZE(a)) / 4;
    std::vector<char> buf(width + 1);
    const char* p = static_cast<const char*>(PyArray_DATA(a));
    for (Py_ssize_t i = 0; i < n; ++i) {
        bool ascii = true;
        std::size_t len = 0;
        for (; len < width; ++len) {
            uint32_t ch;
            std::memcpy(&ch, p + i * stride + 4 * len, 4);
            if (ch == 0) break;
            if (ch > 127) ascii = false;
            buf[len] = char(ch);
        }
        Item item{nullptr, reinterpret_cast<PyObject*>(a), i};
        if (!ascii)
            frame::raise(PyExc_ValueError,
                         "Time string %R is not ISO 8601 (YYYY, YYYY-MM-DD or YYYY-MM-DDThh:mm[:ss[.fff]][Z])",
                         item.get().get());
        c.iso(buf.data(), len, item, out + 2 * i);
    }
}

/// Numbers with a format: a real scalar, or an array-like of reals (0-d or 1-d).
Ref build_numeric(PyTypeObject* tp, PyObject* value, Format fmt, tk::Scale scale) {
    Converter c(scale);
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
    for (Py_ssize_t i = 0; i < n; ++i) c.number(x[i], fmt, Item{nullptr, dbl.get(), i}, out + 2 * i);
    c.finish();
    return t;
}

/// A Time on another scale (or a new object on the same scale sharing the stored epochs).
Ref converted_copy(PyTypeObject* tp, TimeObject* src, tk::Scale scale) {
    if (tk::Scale(src->scale) == scale && !src->isscalar) {
        Ref t = Ref::steal(tp->tp_alloc(tp, 0));
        TimeObject* d = as_time(t.get());
        d->scale = scale;
        d->isscalar = 0;
        d->size = src->size;
        d->jd12 = Py_NewRef(src->jd12);
        d->data = src->data;
        return t;
    }
    Ref t = new_time(tp, scale, src->size, src->isscalar);
    convert_pairs(tk::Scale(src->scale), scale, src->data, as_time(t.get())->data, src->size);
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

    Converter c(scale);
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
            if (is_time(first.get())) { scale = tk::Scale(as_time(first.get())->scale); c = Converter(scale); }
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
            c = Converter(scale);
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
    for (Py_ssize_t i = 0; i < t->size; ++i) out[i] = f(t->data[2 * i], t->data[2 * i + 1]);
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

/// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

/// ERFA's calendar split of epoch i with `ndp` decimals of the second; raises when ERFA cannot
/// represent it, records a dubious year.
struct Calendar {
    int y, m, d, hmsf[4];
};

Calendar calendar_of(TimeObject* t, Py_ssize_t i, int ndp, bool& dubious) {
    Calendar c;
    double d1 = t->data[2 * i], d2 = t->data[2 * i + 1];
    int js = tk::d2dtf(tk::Scale(t->scale), ndp, d1, d2, c.y, c.m, c.d, c.hmsf);
    if (js < 0) {
        Ref jd = frame::as_float(d1 + d2);
        frame::raise(PyExc_ValueError, "Julian date %R is outside the calendar ERFA handles", jd.get());
    }
    if (js & 1) dubious = true;
    return c;
}

Ref iso_scalar(TimeObject* t, Py_ssize_t i, bool& dubious) {
    Calendar c = calendar_of(t, i, 6, dubious);
    return Ref::steal(PyUnicode_FromFormat("%04d-%02d-%02dT%02d:%02d:%02d.%06d", c.y, c.m, c.d, c.hmsf[0], c.hmsf[1],
                                           c.hmsf[2], c.hmsf[3]));
}

Ref iso_of(TimeObject* t) {
    bool dubious = false;
    Ref out;
    if (t->isscalar) {
        out = iso_scalar(t, 0, dubious);
    } else {
        constexpr std::size_t W = 40;
        std::vector<char> text(std::size_t(t->size) * W);
        std::size_t width = 1;
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            Calendar c = calendar_of(t, i, 6, dubious);
            int len = std::snprintf(&text[std::size_t(i) * W], W, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", c.y, c.m, c.d,
                                    c.hmsf[0], c.hmsf[1], c.hmsf[2], c.hmsf[3]);
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
    if (dubious) warn_dubious();
    return out;
}

Ref datetime_scalar(TimeObject* t, Py_ssize_t i, bool& dubious) {
    Calendar c = calendar_of(t, i, 6, dubious);
    if (c.hmsf[2] >= 60) {
        Ref iso = iso_scalar(t, i, dubious);
        frame::raise(PyExc_ValueError, "Time %U falls in a leap second, which datetime cannot hold", iso.get());
    }
    return Ref::steal(PyDateTime_FromDateAndTime(c.y, c.m, c.d, c.hmsf[0], c.hmsf[1], c.hmsf[2], c.hmsf[3]));
}

Ref datetime_of(TimeObject* t) {
    bool dubious = false;
    Ref out;
    if (t->isscalar) {
        out = datetime_scalar(t, 0, dubious);
    } else {
        npy_intp dims[1] = {t->size};
        out = Ref::steal(PyArray_SimpleNew(1, dims, NPY_OBJECT));
        auto** slots = static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        for (Py_ssize_t i = 0; i < t->size; ++i) {
            Ref dt = datetime_scalar(t, i, dubious);
            Py_XSETREF(slots[i], dt.release());
        }
    }
    if (dubious) warn_dubious();
    return out;
}

/// numpy.datetime64 in nanoseconds (NumPy counts no leap seconds; a leap second is refused).
Ref datetime64_of(TimeObject* t) {
    bool dubious = false;
    npy_intp dims[1] = {t->size};
    Py_INCREF(dt64ns_descr);
    Ref out = Ref::steal(PyArray_NewFromDescr(&PyArray_Type, dt64ns_descr, t->isscalar ? 0 : 1, dims, nullptr, nullptr,
                                              0, nullptr));
    auto* v = static_cast<int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    for (Py_ssize_t i = 0; i < t->size; ++i) {
        Calendar c = calendar_of(t, i, 9, dubious);
        if (c.hmsf[2] >= 60) {
            Ref iso = iso_scalar(t, i, dubious);
            frame::raise(PyExc_ValueError, "Time %U falls in a leap second, which datetime64 cannot hold", iso.get());
        }
        int64_t days = days_from_civil(c.y, unsigned(c.m), unsigned(c.d));
        int64_t sod = (int64_t(c.hmsf[0]) * 60 + c.hmsf[1]) * 60 + c.hmsf[2];
        int64_t ns;
        if (__builtin_mul_overflow(days * 86400 + sod, int64_t(1000000000), &ns) ||
            __builtin_add_overflow(ns, int64_t(c.hmsf[3]), &ns) || ns == NPY_DATETIME_NAT) {
            Ref iso = iso_scalar(t, i, dubious);
            frame::raise(PyExc_ValueError, "Time %U is outside the range of datetime64[ns]", iso.get());
        }
        v[i] = ns;
    }
    if (dubious) warn_dubious();
    return t->isscalar ? Ref::steal(PyArray_Return(reinterpret_cast<PyArrayObject*>(out.release()))) : out;
}

GETTER(iso, return iso_of(t);)
GETTER(datetime, return datetime_of(t);)
GETTER(datetime64, return datetime64_of(t);)

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
        bool dubious = false;
        // A repr never fails on an epoch the calendar cannot show: it falls back to Julian dates.
        auto text = [&](Py_ssize_t i) -> Ref {
            Ref s = Ref::steal_or_null(PyUnicode_FromFormat("'%U'", iso_scalar(t, i, dubious).get()));
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
        std::timespec ts;
        std::timespec_get(&ts, TIME_UTC);
        tk::Fields f;
        tk::fields_from_datetime64(int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec, tk::Unit::ns, 1, f);
        Ref t = new_time(reinterpret_cast<PyTypeObject*>(cls), tk::UTC, 1, true);
        tk::DayMemo memo(tk::UTC);
        TimeObject* o = as_time(t.get());
        if (memo.to_jd(f, o->data[0], o->data[1]) & 1) warn_dubious();
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

// Docstrings: text signatures CPython reads (name($type, ...)\n--\n\n for the class methods), then
// numpydoc sections whose examples the test suite runs as doctests.

constexpr const char* doc_Time = R"doc(Time(value, format=None, scale=None)
--

Epochs as two-part Julian dates on the UTC, TAI, TT or TDB scale.

A Time holds one epoch (a scalar) or a one-dimensional array of N epochs. Offsets
(``t + seconds``) and differences (``t2 - t1``, in seconds) count elapsed SI seconds: UTC
epochs go through TAI, so leap seconds count.

Parameters
----------
value : str, datetime.datetime, datetime.date, numpy.datetime64, Time, float, or a list, tuple or 1-D array of them
    ISO 8601 text (``'2020'``, ``'2020-01-02'``, ``'2020-01-02T03:04:05.5Z'``), dates and
    datetimes, or another Time; with `format`, real numbers. Calendar values are read on
    `scale`, except aware datetimes and unix seconds, which are UTC and converted.
format : {None, 'jd', 'mjd', 'unix'}, optional
    How real numbers are read: Julian date, modified Julian date, or seconds since
    1970-01-01 UTC.
scale : {None, 'utc', 'tai', 'tt', 'tdb'}, optional
    Time scale of the epochs (default 'utc'); a Time is converted to it when given.

Raises
------
ValueError
    Text that is not an ISO 8601 epoch, an unknown format or scale, a non-finite number.
TypeError
    A value of another type.

Warns
-----
ErfaDubiousYearWarning
    A UTC epoch before 1960 or beyond the leap-second table.

Examples
--------
>>> from kelvara.time.time import Time
>>> t = Time("2024-03-20T03:06:00")
>>> t
Time('2024-03-20T03:06:00.000000', scale='utc')
>>> t.tt
Time('2024-03-20T03:07:09.184000', scale='tt')
>>> Time(2451545.0, format="jd", scale="tt").iso
'2000-01-01T12:00:00.000000'
>>> days = Time(["2024-01-01", "2024-07-01"])
>>> days.shape, days[1] - days[0]
((2,), 15724800.0)
>>> Time("2017-01-01") - Time("2016-12-31T23:59:59")  # across a leap second
1.99999999...
)doc";

constexpr const char* doc_now = R"doc(now($type, /)
--

The current time from the system clock, on UTC.

Returns
-------
Time
    A scalar epoch on the 'utc' scale.

Examples
--------
>>> from kelvara.time.time import Time
>>> t = Time.now()
>>> t.scale, t.isscalar, t > Time("2020-01-01")
('utc', True, True)
)doc";

constexpr const char* doc_from_jd12 = R"doc(from_jd12($type, jd12, scale=None)
--

Epochs from two-part Julian dates, taken exactly as given.

Parameters
----------
jd12 : array_like of float, shape (N, 2) or (2,)
    Row i holds the two parts of epoch i; a (2,) array gives a scalar epoch.
scale : {None, 'utc', 'tai', 'tt', 'tdb'}, optional
    Time scale of the dates (default 'utc').

Returns
-------
Time

Raises
------
ValueError
    Another shape, or a value that is not finite.

Examples
--------
>>> import numpy as np
>>> from kelvara.time.time import Time
>>> Time.from_jd12(np.array([2451545.0, 0.25]), scale="tt")
Time('2000-01-01T18:00:00.000000', scale='tt')
>>> Time.from_jd12([[2451545.0, 0.25], [2451545.0, 0.5]]).iso
array(['2000-01-01T18:00:00.000000', '2000-01-02T00:00:00.000000'], dtype='<U26')
)doc";

constexpr const char* doc_reduce = R"doc(__reduce_cython__($self, /)
--

Pickle as ``(_reconstruct, (type, jd12, scale, isscalar))``.

Examples
--------
>>> import pickle
>>> from kelvara.time.time import Time
>>> t = Time(["2024-01-01", "2024-07-01"], scale="tai")
>>> pickle.loads(pickle.dumps(t)) == t
array([ True,  True])
)doc";

constexpr const char* doc_scale = R"doc(Time scale of the epochs: 'utc', 'tai', 'tt' or 'tdb'.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").scale, Time("2020-01-01", scale="tdb").scale
('utc', 'tdb')
)doc";

constexpr const char* doc_size = R"doc(Number of epochs: 1 for a scalar.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").size, Time(["2020-01-01", "2021-01-01", "2022-01-01"]).size
(1, 3)
)doc";

constexpr const char* doc_shape = R"doc(Shape of the epochs: () for a scalar, (N,) for N epochs.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").shape, Time(["2020-01-01", "2021-01-01"]).shape
((), (2,))
)doc";

constexpr const char* doc_isscalar = R"doc(True for a single epoch, False for an array of epochs.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").isscalar, Time(["2020-01-01"]).isscalar
(True, False)
)doc";

constexpr const char* doc_jd1 = R"doc(First part of the two-part Julian date (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T18:00:00").jd1
2451544.5
)doc";

constexpr const char* doc_jd2 = R"doc(Second part of the two-part Julian date (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T18:00:00").jd2
0.75
)doc";

constexpr const char* doc_jd = R"doc(Julian date jd1 + jd2 (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T12:00:00", scale="tt").jd
2451545.0
)doc";

constexpr const char* doc_mjd = R"doc(Modified Julian date, the Julian date minus 2400000.5 (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time(["2000-01-01", "2000-01-02T06:00:00"]).mjd
array([51544.  , 51545.25])
)doc";

constexpr const char* doc_jd12 = R"doc(Both parts of the Julian dates as a float64 array of shape (N, 2), one row per epoch.

A scalar gives one row.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time(["2000-01-01T18:00:00", "2000-01-02"]).jd12
array([[2.4515445e+06, 7.5000000e-01],
       [2.4515455e+06, 0.0000000e+00]])
)doc";

constexpr const char* doc_iso = R"doc(ISO 8601 text with microseconds, on the Time's own scale (a str, or an array of str).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30").iso
'2024-02-29T12:30:00.000000'
)doc";

constexpr const char* doc_datetime = R"doc(Naive datetime.datetime on the Time's own scale (or an object array of them).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30:15.25").datetime
datetime.datetime(2024, 2, 29, 12, 30, 15, 250000)
)doc";

constexpr const char* doc_datetime64 = R"doc(numpy.datetime64 in nanoseconds on the Time's own scale (a scalar or an array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30").datetime64
np.datetime64('2024-02-29T12:30:00.000000000')
)doc";

constexpr const char* doc_utc = R"doc(The same epochs on UTC.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:37", scale="tai").utc
Time('2024-03-20T03:06:00.000000', scale='utc')
)doc";

constexpr const char* doc_tai = R"doc(The same epochs on TAI (International Atomic Time).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tai
Time('2024-03-20T03:06:37.000000', scale='tai')
)doc";

constexpr const char* doc_tt = R"doc(The same epochs on TT (Terrestrial Time, TAI + 32.184 s).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tt
Time('2024-03-20T03:07:09.184000', scale='tt')
)doc";

constexpr const char* doc_tdb = R"doc(The same epochs on TDB (Barycentric Dynamical Time).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tdb
Time('2024-03-20T03:07:09.185587', scale='tdb')
)doc";

constexpr const char* doc_ErfaDubiousYearWarning = R"doc(ERFA flagged a date as dubious: UTC before 1960, or later than its leap-second table can vouch for.

Such epochs are still converted, with the leap-second count ERFA extrapolates.

Examples
--------
>>> import warnings
>>> from kelvara.time.time import ErfaDubiousYearWarning, Time
>>> with warnings.catch_warnings(record=True) as caught:
...     warnings.simplefilter("always")
...     t = Time("1950-01-01").tai
>>> caught[0].category is ErfaDubiousYearWarning
True
)doc";

PyMethodDef module_methods[] = {
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
    DubiousYearWarning = frame::check(PyErr_NewExceptionWithDoc(
        "kelvara.time.time.ErfaDubiousYearWarning", doc_ErfaDubiousYearWarning,
        PyExc_UserWarning, nullptr));
    frame::check_status(PyModule_AddObjectRef(module, "ErfaDubiousYearWarning", DubiousYearWarning));
    Ref numpy = frame::import("numpy");
    datetime_data = frame::getattr(numpy.get(), "datetime_data").release();
    Ref datetime = frame::import("datetime");
    timezone_utc = frame::getattr(frame::getattr(datetime.get(), "timezone").get(), "utc").release();
    Ref descr = frame::call(frame::getattr(numpy.get(), "dtype").get(), frame::str("datetime64[ns]").get());
    dt64ns_descr = reinterpret_cast<PyArray_Descr*>(descr.release());
}

frame::Module time_module("kelvara.time.time", "time", "Epochs on the UTC, TAI, TT and TDB scales, converted with ERFA.",
                          "kelvara/time/time.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_time() { return time_module.init(); }
