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
#include <utility>
#include <string>

namespace kelvara::timetables {

using frame::Ref;
/// A counted reference to an immutable table. Tables are put in force and snapshotted with the
/// lock held; a snapshot keeps its table alive however many loads follow. (Written out rather
/// than std::shared_ptr, whose type information would be exported from the module.)
template <class T>
class Handle {
public:
    Handle() noexcept = default;
    static Handle make(T value) {
        Handle h;
        h.p_ = new Box{std::move(value), {1}};
        return h;
    }
    Handle(const Handle& o) noexcept : p_(o.p_) { if (p_) p_->refs.fetch_add(1, std::memory_order_relaxed); }
    Handle(Handle&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Handle& operator=(Handle o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Handle() {
        if (p_ && p_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete p_;
    }
    const T& operator*() const noexcept { return p_->value; }
    const T* operator->() const noexcept { return &p_->value; }
    const T* get() const noexcept { return p_ ? &p_->value : nullptr; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    struct Box {
        T value;
        std::atomic<long> refs;
    };
    Box* p_ = nullptr;
};

using Leap = Handle<iers::LeapTable>;
using Eop = Handle<iers::EopTable>;

// State of this module (docs/state.md lists every module's):
// - leap_in_force: the leap-second table conversions use; the built-in one, or the package's
//   when it expires later (default_leap_consulted: looked for once), or a loaded file's.
// - eop_in_force: the Earth orientation data, read on first use; rebased into a copy when a
//   leap-second table of another generation (counted by `generations`) comes into force.
// - warn_scope (below, per thread): one warning of each kind per search or frames call.
// - the bound types and callables after them.
// All are read and replaced with the lock held; a call works from its snapshot (Tables) to
// its end, so a load on another thread gives it the old table or the new, never a mix.
inline Leap leap_in_force;  // read and replaced with the lock held
inline Eop eop_in_force;
inline uint64_t generations = 0;
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
    leap_in_force = Leap::make(std::move(t));
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
        if (!leap_in_force) install_leap(iers::builtin_table());
        frame::ErrorStash keep;
        try {
            call_iers("_load_default_leap_seconds");
        } catch (const frame::PyErrorSet&) {
            PyErr_Clear();
        }
    }
    if (!leap_in_force) install_leap(iers::builtin_table());
    return leap_in_force;
}

/// The Earth orientation data in force, read on first use from astropy-iers-data, with its
/// UT1-TAI rebased when another leap-second table came into force since.
inline Eop eop(const iers::LeapTable& leap) {
    if (!eop_in_force) {
        call_iers("_load_default_eop");
        if (!eop_in_force) frame::raise(PyExc_RuntimeError, "no Earth orientation data in force");
    }
    if (eop_in_force->leap_generation != leap.generation) {
        iers::EopTable copy = *eop_in_force;
        if (copy.rebase(leap)) frame::raise(PyExc_ValueError, "the Earth orientation data cannot use this leap-second table");
        eop_in_force = Eop::make(std::move(copy));
    }
    return eop_in_force;
}

/// One warning of each kind per call of a Python function that converts times many times over
/// (events' searches: the window, the nodes, their TT and their EOP). While such a call runs
/// (`_one_warning_each`), a kind this thread has warned of already is not repeated, and the
/// one warning points at the line that made the call. Per thread, so that calls on other
/// threads keep their own warnings.
struct WarnScope {
    int depth = 0;        // open scopes on this thread
    int caller = 0;       // depth of the Python frame that opened the outermost one
    bool dubious = false, past_eop = false;
};
inline thread_local WarnScope warn_scope;

/// How many Python frames the running thread has.
inline int python_depth() {
    int n = 0;
    PyFrameObject* f = PyEval_GetFrame();               // borrowed
    if (f == nullptr) return 0;
    Py_INCREF(f);
    while (f != nullptr) {
        ++n;
        PyFrameObject* back = PyFrame_GetBack(f);       // new reference or NULL
        Py_DECREF(f);
        f = back;
    }
    return n;
}

/// Whether a warning of kind `given` is to be skipped; when not, the stack level it is given at.
inline bool warned_already(bool WarnScope::*given, int& stacklevel) {
    WarnScope& s = warn_scope;
    stacklevel = 1;
    if (s.depth == 0) return false;
    if (s.*given) return true;
    s.*given = true;
    // level 1 is the innermost frame; the opener's caller sits at depth caller - 1
    stacklevel = python_depth() - s.caller + 2;
    if (stacklevel < 1) stacklevel = 1;
    return false;
}

/// Opens a warning scope for its lifetime (nested scopes share the outermost one).
struct WarnScopeGuard {
    WarnScopeGuard() {
        WarnScope& s = warn_scope;
        if (s.depth++ == 0) {
            s.caller = python_depth();
            s.dubious = s.past_eop = false;
        }
    }
    ~WarnScopeGuard() { --warn_scope.depth; }
    WarnScopeGuard(const WarnScopeGuard&) = delete;
    WarnScopeGuard& operator=(const WarnScopeGuard&) = delete;
};

/// Warn (once per call) that UTC date y-m-d is outside the table in force.
inline void warn_dubious(const iers::LeapTable& t, int y, int m, int d) {
    int level;
    if (warned_already(&WarnScope::dubious, level)) return;
    std::string expiry = date_of_mjd(t.expiry_mjd);
    frame::check_status(PyErr_WarnFormat(
        DubiousYearWarning, level,
        "UTC date %s is outside the leap-second table in force (1960-01-01 to its expiry %s): "
        "TAI-UTC there is a guess. Update it with `pip install -U astropy-iers-data` or "
        "kelvara.time.iers.load_leap_seconds(path)",
        ymd(y, m, d).c_str(), expiry.c_str()));
}

/// Warn (once per call) that UTC date y-m-d is past the Earth orientation data.
inline void warn_past_eop(const iers::EopTable& e, int y, int m, int d) {
    int level;
    if (warned_already(&WarnScope::past_eop, level)) return;
    std::string first = date_of_mjd(e.mjd0), last = date_of_mjd(e.mjd0 + double(e.size() - 1));
    frame::check_status(PyErr_WarnFormat(
        EopRangeWarning, level,
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
