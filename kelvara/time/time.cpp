// kelvara.time.time: the Time type, epochs as two-part Julian dates on the UTC, TAI, TT or TDB
// scale, converted with ERFA.
#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"
#include "time.hpp"
#include "time_kernels.hpp"

#include <datetime.h>
#include <structmember.h>

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
constexpr double UNIX_EPOCH_JD = 2440587.5;

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

/// Calendar fields on scale `fscale` to a pair on `target`; `item` names the value in errors.
struct Converter {
    tk::Scale target;
    tk::DayMemo memo_target;
    tk::DayMemo memo_utc;
    bool dubious = false;

    explicit Converter(tk::Scale s) : target(s), memo_target(s), memo_utc(tk::UTC) {}

    void from_fields(const tk::Fields& f, tk::Scale fscale, PyObject* item, double* out) {
        tk::DayMemo& memo = fscale == target ? memo_target : memo_utc;
        int js = memo.to_jd(f, out[0], out[1]);
        if (js < 0 || (js & 2)) {
            static constexpr const char* why[] = {"", "year out of range", "month out of range", "day out of range",
                                                  "hour out of range", "minute out of range", "second out of range"};
            const char* reason = js < 0 ? why[-js] : "second 60 on a day without a leap second";
            frame::raise(PyExc_ValueError, "Time value %R is not a valid date: %s", item, reason);
        }
        if (js & 1) dubious = true;
        if (fscale != target) pairs_from(fscale, out, item);
    }

    /// Convert one pair from `from` to the target scale, in place.
    void pairs_from(tk::Scale from, double* p, PyObject* item) {
        int js = tk::convert_one(from, target, p[0], p[1], p[0], p[1]);
        if (js < 0) frame::raise(PyExc_ValueError, "Time value %R is outside the range ERFA converts", item);
        if (js & 1) dubious = true;
    }

    void iso(const char* s, std::size_t n, PyObject* item, double* out) {
        tk::Fields f;
        tk::IsoError e = tk::parse_iso(s, n, f);
        switch (e) {
        case tk::IsoError::none: break;
        case tk::IsoError::syntax:
            frame::raise(PyExc_ValueError,
                         "Time string %R is not ISO 8601 (YYYY, YYYY-MM-DD or YYYY-MM-DDThh:mm[:ss[.fff]][Z])", item);
        case tk::IsoError::month: frame::raise(PyExc_ValueError, "Time string %R has a month out of range", item);
        case tk::IsoError::day: frame::raise(PyExc_ValueError, "Time string %R has a day out of range", item);
        case tk::IsoError::hour: frame::raise(PyExc_ValueError, "Time string %R has an hour out of range", item);
        case tk::IsoError::minute: frame::raise(PyExc_ValueError, "Time string %R has a minute out of range", item);
        case tk::IsoError::second:
        case tk::IsoError::leap_second:
            frame::raise(PyExc_ValueError, "Time string %R has a second out of range", item);
        }
        from_fields(f, target, item, out);
    }

    /// Unix seconds (UTC, leap seconds not counted, as POSIX clocks count).
    void unix_seconds(double x, PyObject* item, double* out) {
        if (!std::isfinite(x) || std::fabs(x) > 3.0e11)
            frame::raise(PyExc_ValueError, "Time value %R is not a usable unix time", item);
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

    void number(double x, Format fmt, PyObject* item, double* out) {
        if (!std::isfinite(x)) frame::raise(PyExc_ValueError, "Time value %R is not finite", item);
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
        from_fields(f, fscale, item, out);
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
        if (PyArray_NDIM(reinterpret_cast<PyArrayObject*>(array)) == 0) return Ref::borrow(array);
        return Ref::steal(PySequence_GetItem(array, i));
    }

    void finish() {
        if (dubious) warn_dubious();
    }
};

bool is_real_number(PyObject* o) {
    if (PyBool_Check(o)) return false;
    if (PyFloat_Check(o) || PyLong_Check(o)) return true;
    return PyArray_IsScalar(o, Integer) || PyArray_IsScalar(o, Floating);
}

[[noreturn]] void raise_needs_format(PyObject* item) {
    frame::raise(PyExc_ValueError,
                 "Time value %R is a number: say what it counts with format='jd', 'mjd' or 'unix'", item);
}

/// One element of a list, tuple or object array (or a lone value) without a format.
void convert_item(Converter& c, PyObject* item, double* out) {
    if (PyUnicode_Check(item)) {
        Py_ssize_t n;
        const char* s = PyUnicode_AsUTF8AndSize(item, &n);
        if (!s) throw frame::PyErrorSet{};
        c.iso(s, size_t(n), item, out);
    } else if (PyDate_Check(item)) {
        c.datetime(item, out);
    } else if (is_time(item)) {
        TimeObject* t = as_time(item);
        if (!t->isscalar) frame::raise(PyExc_ValueError, "a sequence of Time values takes scalar Time objects, got %R", item);
        out[0] = t->data[0];
        out[1] = t->data[1];
        c.pairs_from(tk::Scale(t->scale), out, item);
    } else if (PyArray_IsScalar(item, Datetime)) {
        Ref arr = Ref::steal(PyArray_FromScalar(item, nullptr));
        auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
        Ref meta = frame::call(datetime_data, reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
        tk::Unit unit = tk::unit_from_name(PyUnicode_AsUTF8(PyTuple_GET_ITEM(meta.get(), 0)));
        int64_t mult = PyLong_AsLongLong(PyTuple_GET_ITEM(meta.get(), 1));
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
    Ref meta = frame::call(datetime_data, reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
    tk::Unit unit = tk::unit_from_name(PyUnicode_AsUTF8(PyTuple_GET_ITEM(meta.get(), 0)));
    int64_t mult = PyLong_AsLongLong(PyTuple_GET_ITEM(meta.get(), 1));
    if (mult == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
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
    std::string buf;
    const char* p = static_cast<const char*>(PyArray_DATA(a));
    for (Py_ssize_t i = 0; i < n; ++i) {
        buf.clear();
        bool ascii = true;
        for (std::size_t k = 0; k < width; ++k) {
            uint32_t ch;
            std::memcpy(&ch, p + i * stride + 4 * k, 4);
            if (ch == 0) break;
            if (ch > 127) ascii = false;
            buf.push_back(char(ch));
        }
        Ref item = Converter::element(reinterpret_cast<PyObject*>(a), i);
        if (!ascii)
            frame::raise(PyExc_ValueError,
                         "Time string %R is not ISO 8601 (YYYY, YYYY-MM-DD or YYYY-MM-DDThh:mm[:ss[.fff]][Z])",
                         item.get());
        c.iso(buf.data(), buf.size(), item.get(), out + 2 * i);
    }
}

/// Numbers with a format: a real scalar, or an array-like of reals (0-d or 1-d).
Ref build_numeric(PyTypeObject* tp, PyObject* value, Format fmt, tk::Scale scale) {
    Converter c(scale);
    if (is_real_number(value)) {
        Ref t = new_time(tp, scale, 1, true);
        c.number(frame::to_double(value), fmt, value, as_time(t.get())->data);
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
        if (fmt == Format::unix || !std::isfinite(x[i])) {
            Ref item = scalar ? frame::as_float(x[0]) : Ref::steal(PySequence_GetItem(dbl.get(), i));
            c.number(x[i], fmt, item.get(), out + 2 * i);
        } else {
            c.number(x[i], fmt, nullptr, out + 2 * i);
        }
    }
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
            Ref native = Ref::borrow(value);
            if (!PyArray_ISNBO(PyArray_DESCR(a)->byteorder)) {
                native = Ref::steal(PyArray_NewCopy(a, NPY_CORDER));
                Ref swapped = frame::call(frame::getattr(native.get(), "byteswap").get());
                Ref dt = frame::call(frame::getattr(frame::getattr(value, "dtype").get(), "newbyteorder").get(),
                                     frame::str("=").get());
                native = frame::call(frame::getattr(swapped.get(), "view").get(), dt.get());
            }
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

/// The epochs on `scale`, memoised on the object (Time is immutable).
Ref on_scale(PyObject* self, tk::Scale scale) {
    TimeObject* t = as_time(self);
    if (t->scale == scale) return converted_copy(Py_TYPE(self), t, scale);
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

PyGetSetDef time_getset[] = {
    {"scale", get_scale, nullptr, "Time scale: 'utc', 'tai', 'tt' or 'tdb'.", nullptr},
    {"size", get_size, nullptr, "Number of epochs (1 for a scalar).", nullptr},
    {"shape", get_shape, nullptr, "() for a scalar, (N,) for N epochs.", nullptr},
    {"isscalar", get_isscalar, nullptr, "True for a single epoch.", nullptr},
    {"jd1", get_jd1, nullptr, "First part of the two-part Julian date.", nullptr},
    {"jd2", get_jd2, nullptr, "Second part of the two-part Julian date.", nullptr},
    {"jd", get_jd, nullptr, "Julian date (jd1 + jd2).", nullptr},
    {"mjd", get_mjd, nullptr, "Modified Julian date.", nullptr},
    {"jd12", get_jd12, nullptr, "float64 array (N, 2): row i holds the two parts of epoch i.", nullptr},
    {"utc", get_scale_view<tk::UTC>, nullptr, "The same epochs on UTC.", nullptr},
    {"tai", get_scale_view<tk::TAI>, nullptr, "The same epochs on TAI.", nullptr},
    {"tt", get_scale_view<tk::TT>, nullptr, "The same epochs on TT.", nullptr},
    {"tdb", get_scale_view<tk::TDB>, nullptr, "The same epochs on TDB.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef time_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef time_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(TimeObject, weakreflist), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot time_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Time(value, format=None, scale=None)\n--\n\n"
                    "Epochs as two-part Julian dates on the 'utc' (default), 'tai', 'tt' or 'tdb' scale.")},
    {Py_tp_new, reinterpret_cast<void*>(time_new)},
    {Py_tp_init, reinterpret_cast<void*>(time_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(time_dealloc)},
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
    TimeType = frame::add_type(module, &time_spec);
    DubiousYearWarning = frame::check(PyErr_NewExceptionWithDoc(
        "kelvara.time.time.ErfaDubiousYearWarning",
        "ERFA flagged a date as dubious: UTC before 1960, or later than its leap-second table can vouch for.",
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
