// The leap-second table and Earth orientation data in force for kelvara.time.time, and the
// warnings that name them. They live in this extension module (not in ERFA's globals, of which
// every module linking ERFA has its own copy). A table is immutable once in force: every batch
// takes a snapshot when it starts, so a conversion running while another thread loads a new
// table sees the old table or the new one, never a mix.
#pragma once

#include "../frame/frame.hpp"
#include "iers_kernels.hpp"
#include "time.hpp"
#include "time_kernels.hpp"

#include <atomic>
#include <memory>
#include <string>

namespace kelvara::timetables {

using frame::Ref;
using Leap = std::shared_ptr<const iers::LeapTable>;
using Eop = std::shared_ptr<const iers::EopTable>;

inline std::atomic<Leap> leap_in_force;
inline std::atomic<Eop> eop_in_force;
inline std::atomic<uint64_t> generations{0};
inline bool default_leap_consulted = false;  // read and written with the lock held

inline PyObject* DubiousYearWarning = nullptr;  // kelvara.time.time.ErfaDubiousYearWarning
inline PyObject* EopRangeWarning = nullptr;     // kelvara.time.time.EopRangeWarning
inline PyTypeObject* TimeType = nullptr;        // kelvara.time.time.Time
inline PyObject* datetime_data = nullptr;       // numpy.datetime_data
inline PyObject* timezone_utc = nullptr;        // datetime.timezone.utc

inline TimeObject* as_time(PyObject* o) noexcept { return reinterpret_cast<TimeObject*>(o); }
inline bool is_time(PyObject* o) noexcept { return PyObject_TypeCheck(o, TimeType); }

/// "YYYY-MM-DD" of an MJD.
inline std::string date_of_mjd(double mjd) {
    int y, m, d;
    double f;
    char buf[32];
    if (eraJd2cal(2400000.5, mjd, &y, &m, &d, &f)) return "?";
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

inline std::string ymd(int y, int m, int d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

/// Put `t` in force (a new generation).
inline void install_leap(iers::LeapTable t) {
    t.generation = ++generations;
    leap_in_force.store(std::make_shared<const iers::LeapTable>(std::move(t)));
}

/// Call kelvara.time.iers.<fn>() (the readers of the default files live there).
inline void call_iers(const char* fn) {
    Ref iers = frame::import("kelvara.time.iers");
    frame::call(frame::getattr(iers.get(), fn).get());
}

/// The leap-second table in force. On first use: the built-in table, or the one of the
/// astropy-iers-data package when it expires later (a package that cannot be read leaves the
/// built-in table in force).
inline Leap leap() {
    if (!default_leap_consulted) {
        default_leap_consulted = true;
        if (!leap_in_force.load()) install_leap(iers::builtin_table());
        frame::ErrorStash keep;
        try {
            call_iers("_load_default_leap_seconds");
        } catch (const frame::PyErrorSet&) {
            PyErr_Clear();
        }
    }
    Leap t = leap_in_force.load();
    if (!t) {
        install_leap(iers::builtin_table());
        t = leap_in_force.load();
    }
    return t;
}

/// The Earth orientation data in force, read on first use from astropy-iers-data, with its
/// UT1-TAI rebased when another leap-second table came into force since.
inline Eop eop(const iers::LeapTable& leap) {
    Eop e = eop_in_force.load();
    if (!e) {
        call_iers("_load_default_eop");
        e = eop_in_force.load();
        if (!e) frame::raise(PyExc_RuntimeError, "no Earth orientation data in force");
    }
    if (e->leap_generation != leap.generation) {
        auto copy = std::make_shared<iers::EopTable>(*e);
        if (copy->rebase(leap)) frame::raise(PyExc_ValueError, "the Earth orientation data cannot use this leap-second table");
        eop_in_force.compare_exchange_strong(e, copy);
        e = copy;
    }
    return e;
}

/// Warn (once per call) that UTC date y-m-d is outside the table in force.
inline void warn_dubious(const iers::LeapTable& t, int y, int m, int d) {
    std::string expiry = date_of_mjd(t.expiry_mjd);
    frame::check_status(PyErr_WarnFormat(
        DubiousYearWarning, 1,
        "UTC date %s is outside the leap-second table in force (1960-01-01 to its expiry %s): "
        "TAI-UTC there is a guess. Update it with `pip install -U astropy-iers-data` or "
        "kelvara.time.iers.load_leap_seconds(path)",
        ymd(y, m, d).c_str(), expiry.c_str()));
}

/// Warn (once per call) that UTC date y-m-d is past the Earth orientation data.
inline void warn_past_eop(const iers::EopTable& e, int y, int m, int d) {
    std::string first = date_of_mjd(e.mjd0), last = date_of_mjd(e.mjd0 + double(e.size() - 1));
    frame::check_status(PyErr_WarnFormat(
        EopRangeWarning, 1,
        "UTC date %s is past the Earth orientation data in force (%s to %s): UT1-UTC and polar "
        "motion are held at their last values. Update them with `pip install -U astropy-iers-data` or "
        "kelvara.time.iers.load_eop(path)",
        ymd(y, m, d).c_str(), first.c_str(), last.c_str()));
}

[[noreturn]] inline void raise_before_eop(const iers::EopTable& e, int y, int m, int d) {
    std::string first = date_of_mjd(e.mjd0), last = date_of_mjd(e.mjd0 + double(e.size() - 1));
    frame::raise(PyExc_ValueError,
                 "UTC date %s is before the Earth orientation data in force (%s to %s): UT1 is not "
                 "known there",
                 ymd(y, m, d).c_str(), first.c_str(), last.c_str());
}

/// The tables one call works with: the leap seconds taken when it starts, the EOP on demand.
struct Tables {
    Leap leap = timetables::leap();
    Eop eop;
    const iers::EopTable* need_eop() {
        if (!eop) eop = timetables::eop(*leap);
        return eop.get();
    }
};

struct Date {
    int y = 0, m = 0, d = 0;
};

/// The first date a call flags, for its one warning.
struct FirstDate {
    bool set = false;
    int y = 0, m = 0, d = 0;
    void note(int yy, int mm, int dd) noexcept {
        if (!set) { set = true; y = yy; m = mm; d = dd; }
    }
    void note(Date x) noexcept { note(x.y, x.m, x.d); }
};

/// The UTC calendar date of an epoch on `scale` (for messages; UT1 is read as UTC).
inline Date utc_date(Tables& t, timek::Scale scale, double d1, double d2) {
    Date r;
    double f, u1 = d1, u2 = d2;
    if (scale != timek::UTC && scale != timek::UT1) {
        timek::Chain chain(*t.leap, nullptr);
        if (chain.convert_one(scale, timek::UTC, d1, d2, u1, u2) < 0) { u1 = d1; u2 = d2; }
    }
    if (eraJd2cal(u1, u2, &r.y, &r.m, &r.d, &f)) r = Date{};
    return r;
}

}  // namespace kelvara::timetables
