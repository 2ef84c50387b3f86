// Pure C++ kernels of the time module: ISO 8601 parsing, calendar fields from NumPy datetime64
// counts, and time-scale conversions over arrays of two-part Julian dates. No Python here: the
// method layer turns the status codes into exceptions and warnings.
#pragma once

#include <erfa.h>
#include <erfam.h>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kelvara::timek {

/// Time scales, ordered along the conversion chain UTC <-> TAI <-> TT <-> TDB.
enum Scale : int { UTC = 0, TAI = 1, TT = 2, TDB = 3 };
inline constexpr const char* scale_names[] = {"utc", "tai", "tt", "tdb"};
inline constexpr const char* erfa_scale_names[] = {"UTC", "TAI", "TT", "TDB"};

/// Broken-down calendar time in some scale.
struct Fields {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0;
    double second = 0.0;
};

/// Outcome of a batch: the worst ERFA status met (negative: failure at `index`; 1: dubious year
/// somewhere) and, for a failure, the index of the first offending epoch.
struct Status {
    int code = 0;
    std::ptrdiff_t index = -1;
    void merge(int js, std::ptrdiff_t i) noexcept {
        if (js < 0) { if (code >= 0) { code = js; index = i; } }
        else if (js > 0 && code == 0) { code = js; index = i; }
    }
    bool failed() const noexcept { return code < 0; }
};

// ---------------------------------------------------------------------------------------------
// ISO 8601 text

enum class IsoError { none, syntax, month, day, hour, minute, second, leap_second };

namespace detail {
inline bool digits(const char* s, int n, int& out) noexcept {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}
}  // namespace detail

/// Parse "YYYY", "YYYY-MM-DD" or "YYYY-MM-DD[T| ]hh:mm[:ss[.fraction]]" with an optional
/// trailing "Z". Only the syntax and field ranges are checked here; day-of-month and leap
/// seconds are judged by the calendar conversion that follows.
inline IsoError parse_iso(const char* s, std::size_t n, Fields& f) noexcept {
    using detail::digits;
    if (n >= 17 && s[n - 1] == 'Z') --n;  // UTC designator, after a time of day only
    f = Fields{};
    if (n < 4 || !digits(s, 4, f.year)) return IsoError::syntax;
    if (n == 4) return IsoError::none;
    if (n < 10 || s[4] != '-' || s[7] != '-' || !digits(s + 5, 2, f.month) || !digits(s + 8, 2, f.day))
        return IsoError::syntax;
    if (n > 10) {
        if (n < 16 || (s[10] != 'T' && s[10] != ' ') || s[13] != ':' || !digits(s + 11, 2, f.hour) ||
            !digits(s + 14, 2, f.minute))
            return IsoError::syntax;
        if (n > 16) {
            int whole;
            if (n < 19 || s[16] != ':' || !digits(s + 17, 2, whole)) return IsoError::syntax;
            if (n > 19) {
                if (s[19] != '.' || n == 20) return IsoError::syntax;
                for (std::size_t i = 20; i < n; ++i)
                    if (s[i] < '0' || s[i] > '9') return IsoError::syntax;
            }
            // The seconds are the double nearest to the text: up to 13 decimals, one correctly
            // rounded division of two exact integers; beyond, from_chars (also correctly rounded).
            const std::size_t decimals = n > 20 ? n - 20 : 0;
            if (decimals <= 13) {
                int64_t num = whole, den = 1;
                for (std::size_t i = 20; i < n; ++i) {
                    num = num * 10 + (s[i] - '0');
                    den *= 10;
                }
                f.second = den == 1 ? double(num) : double(num) / double(den);
            } else {
                auto r = std::from_chars(s + 17, s + n, f.second);
                if (r.ec != std::errc() || r.ptr != s + n) return IsoError::syntax;
            }
        }
    }
    if (f.month < 1 || f.month > 12) return IsoError::month;
    if (f.day < 1) return IsoError::day;
    if (f.hour > 23) return IsoError::hour;
    if (f.minute > 59) return IsoError::minute;
    if (f.second >= 61.0) return IsoError::second;
    return IsoError::none;
}

/// Calendar fields of a two-part JD, rounded to `ndp` decimals of the second: eraD2dtf, except
/// on the UTC days of the 1960s whose TAI-UTC step at midnight is a fraction of a second.
/// There eraDtf2d (and eraUtctai) stretch the day by the step while eraD2dtf does not, so
/// text read and written back would move by up to a few milliseconds; we stretch it too.
inline int d2dtf(Scale scale, int ndp, double d1, double d2, int& iy, int& im, int& id, int ihmsf[4]) noexcept {
    if (scale != UTC) return eraD2dtf(erfa_scale_names[scale], ndp, d1, d2, &iy, &im, &id, ihmsf);
    int iy1, im1, id1, iy2, im2, id2;
    double fd, w, dat0, dat12, dat24;
    if (eraJd2cal(d1, d2, &iy1, &im1, &id1, &fd)) return -1;
    int js = eraDat(iy1, im1, id1, 0.0, &dat0);
    if (js < 0) return -1;
    if (eraDat(iy1, im1, id1, 0.5, &dat12) < 0) return -1;
    if (eraJd2cal(d1 + 1.5, d2 - fd, &iy2, &im2, &id2, &w)) return -1;
    if (eraDat(iy2, im2, id2, 0.0, &dat24) < 0) return -1;
    double dleap = dat24 - (2.0 * dat12 - dat0);
    if (dleap == 0.0 || std::fabs(dleap) > 0.5) return eraD2dtf("UTC", ndp, d1, d2, &iy, &im, &id, ihmsf);
    fd += fd * dleap / ERFA_DAYSEC;
    char sign;
    eraD2tf(ndp, fd, &sign, ihmsf);
    iy = iy1; im = im1; id = id1;
    // The day ends after 86400 s plus the step: a rounded time inside the step of a longer day
    // is second 60; one at or past the end belongs to the next day.
    const long long u = std::llround(std::pow(10.0, ndp));
    long long total = ((ihmsf[0] * 60LL + ihmsf[1]) * 60 + ihmsf[2]) * u + ihmsf[3];
    const long long limit = std::llround((ERFA_DAYSEC + dleap) * double(u));
    if (total >= limit) {
        iy = iy2; im = im2; id = id2;
        total -= limit;
        ihmsf[3] = int(total % u);
        total /= u;
        ihmsf[2] = int(total % 60);
        ihmsf[1] = int(total / 60 % 60);
        ihmsf[0] = int(total / 3600);
    } else if (total >= 86400LL * u) {
        ihmsf[0] = 23; ihmsf[1] = 59; ihmsf[2] = 60;
        ihmsf[3] = int(total - 86400LL * u);
    }
    return js;
}

/// Format one epoch as "YYYY-MM-DDThh:mm:ss.ffffff" into `out` (at least 40 bytes).
/// Returns the status of d2dtf (negative: not representable).
inline int format_iso(Scale scale, double d1, double d2, char* out, std::size_t cap = 40) noexcept {
    int y, m, d, hmsf[4];
    int js = d2dtf(scale, 6, d1, d2, y, m, d, hmsf);
    if (js < 0) { out[0] = '\0'; return js; }
    std::snprintf(out, cap, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", y, m, d, hmsf[0], hmsf[1], hmsf[2], hmsf[3]);
    return js;
}

// ---------------------------------------------------------------------------------------------
// Calendar fields -> two-part Julian date, with a one-day memo of ERFA's per-day quantities

/// eraDtf2d split in two: the per-day part (calendar to JD, length of a UTC day including a
/// leap second, and the second limit of the last minute) is computed by ERFA once per distinct
/// day; the per-epoch part repeats ERFA's final expression, so results are bit-identical.
class DayMemo {
public:
    explicit DayMemo(Scale scale) noexcept : utc_(scale == UTC) {}

    /// ERFA status: negative on failure, +1 dubious year, +2 second beyond the day's last minute.
    int to_jd(const Fields& f, double& d1, double& d2) noexcept {
        if (!(f.year == y_ && f.month == m_ && f.day == d_)) load(f.year, f.month, f.day);
        int js = js_;
        if (js < 0) return js;
        double seclim = 60.0;
        if (utc_ && f.hour == 23 && f.minute == 59) seclim += dleap_;
        if (f.hour >= 0 && f.hour <= 23) {
            if (f.minute >= 0 && f.minute <= 59) {
                if (f.second >= 0) {
                    if (f.second >= seclim) js += 2;
                } else {
                    js = -6;
                }
            } else {
                js = -5;
            }
        } else {
            js = -4;
        }
        if (js < 0) return js;
        double time = (60.0 * ((double)(60 * f.hour + f.minute)) + f.second) / day_;
        d1 = dj_;
        d2 = time;
        return js;
    }

private:
    void load(int iy, int im, int id) noexcept {
        y_ = iy; m_ = im; d_ = id;
        double dj, w, dat0, dat12, dat24;
        int iy2, im2, id2;
        int js = eraCal2jd(iy, im, id, &dj, &w);
        dj += w;
        day_ = ERFA_DAYSEC;
        dleap_ = 0.0;
        if (js == 0 && utc_) {
            js = eraDat(iy, im, id, 0.0, &dat0);
            if (js >= 0) js = eraDat(iy, im, id, 0.5, &dat12);
            if (js >= 0) {
                int j2 = eraJd2cal(dj, 1.5, &iy2, &im2, &id2, &w);
                if (j2) js = j2;
            }
            if (js >= 0) js = eraDat(iy2, im2, id2, 0.0, &dat24);
            if (js >= 0) {
                dleap_ = dat24 - (2.0 * dat12 - dat0);
                day_ += dleap_;
            }
        }
        js_ = js;
        dj_ = dj;
    }

    bool utc_;
    int y_ = INT32_MIN, m_ = 0, d_ = 0, js_ = 0;
    double dj_ = 0.0, day_ = ERFA_DAYSEC, dleap_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
// NumPy datetime64 counts -> calendar fields

/// Gregorian date from days since 1970-01-01 (proleptic; H. Hinnant's civil_from_days).
inline void civil_from_days(int64_t z, int& y, int& m, int& d) noexcept {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

inline int64_t floor_div(int64_t a, int64_t b) noexcept {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

/// Units of numpy.datetime64, as numpy.datetime_data names them.
enum class Unit { Y, M, W, D, h, m, s, ms, us, ns, ps, fs, as, generic, unknown };

inline Unit unit_from_name(const char* u) noexcept {
    static constexpr struct { const char* name; Unit unit; } table[] = {
        {"Y", Unit::Y},   {"M", Unit::M},   {"W", Unit::W},   {"D", Unit::D},   {"h", Unit::h},
        {"m", Unit::m},   {"s", Unit::s},   {"ms", Unit::ms}, {"us", Unit::us}, {"ns", Unit::ns},
        {"ps", Unit::ps}, {"fs", Unit::fs}, {"as", Unit::as}, {"generic", Unit::generic}};
    for (const auto& e : table)
        if (std::strcmp(u, e.name) == 0) return e.unit;
    return Unit::unknown;
}

/// Calendar fields of `count` units since 1970-01-01T00:00 (no leap seconds, as NumPy counts).
/// Returns false when the value is outside the range this conversion handles.
inline bool fields_from_datetime64(int64_t v, Unit unit, int64_t mult, Fields& f) noexcept {
    f = Fields{};
    if (mult != 1) {
        if (__builtin_mul_overflow(v, mult, &v)) return false;
    }
    switch (unit) {
    case Unit::Y:
        if (v < -6000 || v > 1000000) return false;
        f.year = int(1970 + v);
        return true;
    case Unit::M: {
        if (v < -72000 || v > 12000000) return false;
        int64_t y = floor_div(v, 12);
        f.year = int(1970 + y);
        f.month = int(v - 12 * y) + 1;
        return true;
    }
    case Unit::W:
        if (__builtin_mul_overflow(v, int64_t(7), &v)) return false;
        [[fallthrough]];
    case Unit::D:
        if (v < -3000000 || v > 400000000) return false;
        civil_from_days(v, f.year, f.month, f.day);
        return true;
    default: break;
    }
    // Sub-day units: whole seconds first (a day of attoseconds does not fit in int64), then
    // the calendar day and the time of day.
    int64_t per_sec;
    switch (unit) {
    case Unit::h: case Unit::m: case Unit::s: per_sec = 1; break;
    case Unit::ms: per_sec = 1000; break;
    case Unit::us: per_sec = 1000000; break;
    case Unit::ns: per_sec = 1000000000; break;
    case Unit::ps: per_sec = 1000000000000LL; break;
    case Unit::fs: per_sec = 1000000000000000LL; break;
    case Unit::as: per_sec = 1000000000000000000LL; break;
    default: return false;
    }
    int64_t secs = floor_div(v, per_sec);
    int64_t sub = v - secs * per_sec;
    if (unit == Unit::h && __builtin_mul_overflow(secs, int64_t(3600), &secs)) return false;
    if (unit == Unit::m && __builtin_mul_overflow(secs, int64_t(60), &secs)) return false;
    int64_t days = floor_div(secs, 86400);
    if (days < -3000000 || days > 400000000) return false;
    int64_t sod = secs - days * 86400;
    civil_from_days(days, f.year, f.month, f.day);
    f.hour = int(sod / 3600);
    f.minute = int(sod / 60 % 60);
    int64_t s60 = sod % 60;
    // One correctly rounded division where the count fits: the double nearest to the decimal
    // text of the seconds, as the ISO parser gives.
    if (per_sec == 1) f.second = double(s60);
    else if (per_sec <= 1000000000000000LL) f.second = double(s60 * per_sec + sub) / double(per_sec);
    else f.second = double(s60) + double(sub) / double(per_sec);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Time-scale conversions over arrays of (jd1, jd2) pairs, row-major (N, 2)

/// TDB - TT in seconds at the geocentre. The station terms of eraDtdb are multiplied by the
/// distances from the spin axis and the equator, both zero here, so the UT1 fraction of day
/// they take does not change the result; we pass the fraction of day of the date given. The
/// way back (TDB -> TT) evaluates it at the TDB date, as astropy does: the two differ by far
/// less than a picosecond.
inline double dtdb_geocentre(double d1, double d2) noexcept {
    double ut = std::fmod(std::fmod(d1 - 0.5, 1.0) + std::fmod(d2, 1.0), 1.0);
    if (ut < 0) ut += 1.0;
    return eraDtdb(d1, d2, ut, 0.0, 0.0, 0.0);
}

/// eraUtctai with its per-day quantities (TAI-UTC at 0h and 12h of the day and at 0h of the
/// next, the day's JD) computed by ERFA once per distinct day; the per-epoch arithmetic is
/// ERFA's own, in its order, so results are bit-identical (the tests compare with pyerfa).
class UtcToTai {
public:
    int operator()(double utc1, double utc2, double& tai1, double& tai2) noexcept {
        const bool big1 = std::fabs(utc1) >= std::fabs(utc2);
        const double u1 = big1 ? utc1 : utc2, u2 = big1 ? utc2 : utc1;
        int iy, im, id;
        double fd;
        int j = eraJd2cal(u1, u2, &iy, &im, &id, &fd);
        if (j) return j;
        if (!(iy == y_ && im == m_ && id == d_)) load(u1, u2, fd, iy, im, id);
        if (js_ < 0) return js_;
        fd *= (ERFA_DAYSEC + dleap_) / ERFA_DAYSEC;  // undo the stretch of a day with a leap
        fd *= (ERFA_DAYSEC + dlod_) / ERFA_DAYSEC;   // pre-1972 UTC seconds to SI seconds
        double a2 = z1_ - u1;
        a2 += z2_;
        a2 += fd + dat0_ / ERFA_DAYSEC;
        tai1 = big1 ? u1 : a2;
        tai2 = big1 ? a2 : u1;
        return js_;
    }

private:
    void load(double u1, double u2, double fd, int iy, int im, int id) noexcept {
        y_ = iy; m_ = im; d_ = id;
        double dat12, dat24, w;
        int iyt, imt, idt;
        js_ = eraDat(iy, im, id, 0.0, &dat0_);
        if (js_ >= 0) js_ = eraDat(iy, im, id, 0.5, &dat12);
        if (js_ >= 0) js_ = eraJd2cal(u1 + 1.5, u2 - fd, &iyt, &imt, &idt, &w);
        if (js_ >= 0) js_ = eraDat(iyt, imt, idt, 0.0, &dat24);
        if (js_ >= 0 && eraCal2jd(iy, im, id, &z1_, &z2_)) js_ = -1;
        if (js_ < 0) return;
        dlod_ = 2.0 * (dat12 - dat0_);
        dleap_ = dat24 - (dat0_ + dlod_);
    }

    int y_ = INT32_MIN, m_ = 0, d_ = 0, js_ = 0;
    double dat0_ = 0.0, dlod_ = 0.0, dleap_ = 0.0, z1_ = 0.0, z2_ = 0.0;
};

/// One step along the chain, epoch by epoch; `in` and `out` may be the same buffer.
inline int convert_step(Scale from, Scale to, double a1, double a2, double& b1, double& b2,
                        UtcToTai* utctai = nullptr) noexcept {
    switch (from * 4 + to) {
    case UTC * 4 + TAI: return utctai ? (*utctai)(a1, a2, b1, b2) : eraUtctai(a1, a2, &b1, &b2);
    case TAI * 4 + UTC: return eraTaiutc(a1, a2, &b1, &b2);
    case TAI * 4 + TT: return eraTaitt(a1, a2, &b1, &b2);
    case TT * 4 + TAI: return eraTttai(a1, a2, &b1, &b2);
    case TT * 4 + TDB: return eraTttdb(a1, a2, dtdb_geocentre(a1, a2), &b1, &b2);
    case TDB * 4 + TT: return eraTdbtt(a1, a2, dtdb_geocentre(a1, a2), &b1, &b2);
    default: b1 = a1; b2 = a2; return 0;
    }
}

/// Convert one epoch from one scale to another, step by step along the chain.
inline int convert_one(Scale from, Scale to, double a1, double a2, double& b1, double& b2,
                       UtcToTai* utctai = nullptr) noexcept {
    int worst = 0;
    b1 = a1; b2 = a2;
    while (from != to) {
        Scale next = Scale(from < to ? from + 1 : from - 1);
        int js = convert_step(from, next, b1, b2, b1, b2, utctai);
        if (js < 0) return js;
        if (js > worst) worst = js;
        from = next;
    }
    return worst;
}

/// Convert n epochs (row-major pairs) from `from` to `to`; `in` and `out` may alias.
inline Status convert(Scale from, Scale to, const double* in, double* out, std::ptrdiff_t n) noexcept {
    Status st;
    UtcToTai utctai;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        int js = convert_one(from, to, in[2 * i], in[2 * i + 1], out[2 * i], out[2 * i + 1], &utctai);
        if (js) {
            st.merge(js, i);
            if (js < 0) return st;
        }
    }
    return st;
}

}  // namespace kelvara::timek
