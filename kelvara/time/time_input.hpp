// Values of every kind a Time accepts (text, dates and datetimes, datetime64, numbers with a
// format, other Time values) read into two-part Julian dates on the target scale.
#pragma once

#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"
#include "time.hpp"
#include "time_kernels.hpp"
#include "time_tables.hpp"

#include <datetime.h>

#include <optional>
#include <vector>

namespace kelvara::timein {

using frame::Ref;
using timetables::Date;
using timetables::FirstDate;
using timetables::Tables;
using timetables::as_time;
using timetables::is_time;
using timetables::utc_date;
namespace tk = kelvara::timek;

enum class Format { none, jd, mjd, unix };
constexpr double DJM0 = 2400000.5;  // MJD zero point


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
    Tables& tables;
    tk::DayMemo memo_target;
    tk::DayMemo memo_utc;
    std::optional<tk::Chain> chain;
    bool chain_has_eop = false;
    FirstDate dubious, past_eop;

    Converter(tk::Scale s, Tables& t)
        : target(s), tables(t), memo_target(s, *t.leap), memo_utc(tk::UTC, *t.leap) {}

    /// Read later values on another scale (a sequence of Time values gives its first one's).
    void retarget(tk::Scale s) {
        target = s;
        memo_target = tk::DayMemo(s, *tables.leap);
        chain.reset();
    }

    tk::Chain& chain_for(tk::Scale from) {
        const bool need = from == tk::UT1 || target == tk::UT1;
        if (!chain || (need && !chain_has_eop)) {
            chain.emplace(*tables.leap, need ? tables.need_eop() : nullptr);
            chain_has_eop = need;
        }
        return *chain;
    }

    void from_fields(const tk::Fields& f, tk::Scale fscale, const Item& item, double* out) {
        tk::DayMemo& memo = fscale == target ? memo_target : memo_utc;
        int js = memo.to_jd(f, out[0], out[1]);
        if (js < 0 || (js & 2)) {
            static constexpr const char* why[] = {"", "year out of range", "month out of range", "day out of range",
                                                  "hour out of range", "minute out of range", "second out of range"};
            const char* reason = js < 0 ? why[-js] : "seconds beyond the end of that day (no leap second there)";
            frame::raise(PyExc_ValueError, "Time value %R is not a valid date: %s", item.get().get(), reason);
        }
        if (js & tk::dubious_bit) dubious.note(f.year, f.month, f.day);
        if (fscale != target) pairs_from(fscale, out, item);
    }

    /// Convert one pair from `from` to the target scale, in place.
    void pairs_from(tk::Scale from, double* p, const Item& item) {
        const double p0 = p[0], p1 = p[1];
        int js = chain_for(from).convert_one(from, target, p0, p1, p[0], p[1]);
        if (js == tk::no_eop) {
            Date d = utc_date(tables, from, p0, p1);
            timetables::raise_before_eop(*tables.eop, d.y, d.m, d.d);
        }
        if (js < 0) frame::raise(PyExc_ValueError, "Time value %R is outside the range ERFA converts", item.get().get());
        if (js & tk::dubious_bit) dubious.note(utc_date(tables, from, p0, p1));
        if (js & tk::past_eop_bit) past_eop.note(utc_date(tables, from, p0, p1));
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
        case tk::IsoError::offset:
            frame::raise(PyExc_ValueError, "Time string %R has a UTC offset out of range", named.get());
        }
        if (f.has_offset) {
            // Local time at an offset from UTC: converted to UTC, as aware datetimes are.
            tk::remove_offset(f);
            from_fields(f, tk::UTC, item, out);
            return;
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
                utc = Ref::steal(PyObject_CallMethod(item, "astimezone", "O", timetables::timezone_utc));
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
        if (js & tk::dubious_bit) dubious.note(f.year, f.month, f.day);
    }

    static Ref element(PyObject* array, Py_ssize_t i) {
        if (!PyArray_Check(array) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(array)) == 0)
            return Ref::borrow(array);
        return Ref::steal(PySequence_GetItem(array, i));
    }

    /// The warnings of the call, once each.
    void finish() {
        if (dubious.set) timetables::warn_dubious(*tables.leap, dubious.y, dubious.m, dubious.d);
        if (past_eop.set) timetables::warn_past_eop(*tables.eop, past_eop.y, past_eop.m, past_eop.d);
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
    Ref meta = frame::call(timetables::datetime_data, reinterpret_cast<PyObject*>(descr));
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
        kelvara::TimeObject* t = as_time(item);
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
        frame::poll_signals(i);
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
        frame::poll_signals(i);
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


}  // namespace kelvara::timein
