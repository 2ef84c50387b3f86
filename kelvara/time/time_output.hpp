// Calendar read-outs of a Time: ISO text, datetime, datetime64 and unix seconds, on the epochs
// own scale, with one warning per call for dubious UTC dates.
#pragma once

#include "time_object.hpp"

#include <datetime.h>

#include <string>
#include <vector>

namespace kelvara::timeobj {

inline const frame::Name name_dtype{"dtype"};

inline PyArray_Descr* dt64ns_descr = nullptr;  // numpy.dtype("datetime64[ns]")


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

inline Ref iso_of(TimeObject* t) {
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
        Ref descr = frame::call(frame::getattr(numpy.get(), name_dtype).get(), spec.get());
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

inline Ref datetime_scalar(Calendars& cal, Py_ssize_t i) {
    Calendars::Fields c = cal.at(i, 6);
    if (c.hmsf[2] >= 60)
        frame::raise(PyExc_ValueError, "Time %U falls in a leap second, which datetime cannot hold", cal.iso(i).get());
    return Ref::steal(PyDateTime_FromDateAndTime(c.y, c.m, c.d, c.hmsf[0], c.hmsf[1], c.hmsf[2], c.hmsf[3]));
}

inline Ref datetime_of(TimeObject* t) {
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
inline Ref datetime64_of(TimeObject* t) {
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
inline Ref unix_of(PyObject* self) {
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

}  // namespace kelvara::timeobj
