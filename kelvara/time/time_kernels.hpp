// Pure C++ kernels of the time module: ISO 8601 text in and out, the proleptic Gregorian
// calendar both ways, calendar fields from NumPy datetime64 counts, and time-scale conversions
// over two-part Julian dates with kelvara's own leap-second table and Earth orientation data.
// No Python here: the method layer turns the status codes into exceptions and warnings.
#pragma once

#include "iers_kernels.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kelvara::timek {

/// Time scales. Conversions run along UT1 <-> UTC <-> TAI <-> TT <-> TDB.
enum Scale : int { UTC = 0, TAI = 1, TT = 2, TDB = 3, UT1 = 4 };
inline constexpr int nscales = 5;
inline constexpr const char* scale_names[] = {"utc", "tai", "tt", "tdb", "ut1"};
inline constexpr const char* erfa_scale_names[] = {"UTC", "TAI", "TT", "TDB", "UT1"};
inline constexpr int chain_position[] = {1, 2, 3, 4, 0};
inline constexpr Scale chain_scale[] = {UT1, UTC, TAI, TT, TDB};

/// Per-epoch status bits beside ERFA's negative failure codes.
inline constexpr int dubious_bit = 1;               // UTC date outside the leap-second table
inline constexpr int past_eop_bit = iers::past_eop; // EOP held at the last row
inline constexpr int no_eop = iers::before_eop;     // UT1 before the EOP start

/// Broken-down calendar time in some scale; text with a UTC offset carries it in minutes.
struct Fields {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0;
    double second = 0.0;
    bool has_offset = false;
    int offset = 0;  // minutes east of UTC
};

/// Outcome of a batch: the first failure (negative ERFA code, and its index), the first epoch
/// whose UTC date is dubious, the first past the Earth orientation data.
struct Status {
    int code = 0;
    std::ptrdiff_t index = -1;
    std::ptrdiff_t dubious = -1;
    std::ptrdiff_t past_eop = -1;
    void merge(int js, std::ptrdiff_t i) noexcept {
        if (js < 0) {
            if (code >= 0) { code = js; index = i; }
            return;
        }
        if ((js & dubious_bit) && dubious < 0) dubious = i;
        if ((js & past_eop_bit) && past_eop < 0) past_eop = i;
    }
    bool failed() const noexcept { return code < 0; }
};

// ---------------------------------------------------------------------------------------------
// ISO 8601 text

enum class IsoError { none, syntax, month, day, hour, minute, second, leap_second, offset };

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

/// A trailing UTC offset after a time of day ("+hh:mm", "+hhmm" or "+hh", or "-"): its length
/// in characters (0 when there is none, -1 when it is malformed) and its value in minutes.
inline int utc_offset(const char* s, std::size_t n, int& minutes) noexcept {
    for (std::size_t len : {std::size_t(6), std::size_t(5), std::size_t(3)}) {
        if (n < 16 + len) continue;
        const char* p = s + n - len;
        if (*p != '+' && *p != '-') continue;
        int hh, mm = 0;
        if (!digits(p + 1, 2, hh)) return -1;
        if (len == 6 && (p[3] != ':' || !digits(p + 4, 2, mm))) return -1;
        if (len == 5 && !digits(p + 3, 2, mm)) return -1;
        if (hh > 23 || mm > 59) return -1;
        minutes = (*p == '-' ? -1 : 1) * (hh * 60 + mm);
        return int(len);
    }
    return 0;
}
}  // namespace detail

/// Parse "YYYY", "YYYY-MM-DD" or "YYYY-MM-DD[T| ]hh:mm[:ss[.fraction]]" with an optional
/// trailing "Z" or UTC offset ("+02:00", "-0530", "+01"). Only the syntax and field ranges are
/// checked here; day-of-month and leap seconds are judged by the calendar conversion after.
inline IsoError parse_iso(const char* s, std::size_t n, Fields& f) noexcept {
    using detail::digits;
    f = Fields{};
    if (n >= 17 && s[n - 1] == 'Z') {
        --n;  // UTC designator, after a time of day only
    } else if (n > 16) {
        int minutes = 0;
        int len = detail::utc_offset(s, n, minutes);
        if (len < 0) return IsoError::offset;
        if (len > 0) {
            n -= std::size_t(len);
            f.has_offset = true;
            f.offset = minutes;
        }
    }
    const bool has_offset = f.has_offset;
    const int offset = f.offset;
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
    } else if (has_offset) {
        return IsoError::syntax;
    }
    f.has_offset = has_offset;
    f.offset = offset;
    if (f.month < 1 || f.month > 12) return IsoError::month;
    if (f.day < 1) return IsoError::day;
    if (f.hour > 23) return IsoError::hour;
    if (f.minute > 59) return IsoError::minute;
    if (f.second >= 61.0) return IsoError::second;
    return IsoError::none;
}

// ---------------------------------------------------------------------------------------------
// The proleptic Gregorian calendar, both ways (H. Hinnant's civil_from_days and days_from_civil)

inline int64_t floor_div(int64_t a, int64_t b) noexcept {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

/// Gregorian date from days since 1970-01-01.
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

/// Days since 1970-01-01 of a Gregorian date.
inline int64_t days_from_civil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

/// Fields read at a UTC offset moved to UTC (whole minutes: the seconds stay).
inline void remove_offset(Fields& f) noexcept {
    if (!f.has_offset) return;
    int64_t minutes = int64_t(f.hour) * 60 + f.minute - f.offset;
    int64_t shift = floor_div(minutes, 1440);
    minutes -= shift * 1440;
    if (shift) civil_from_days(days_from_civil(f.year, unsigned(f.month), unsigned(f.day)) + shift, f.year, f.month, f.day);
    f.hour = int(minutes / 60);
    f.minute = int(minutes % 60);
    f.has_offset = false;
    f.offset = 0;
}

// ---------------------------------------------------------------------------------------------
// NumPy datetime64 counts -> calendar fields

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
// Two-part Julian date -> calendar fields

/// Calendar fields of two-part JDs, rounded to `ndp` decimals of the second: eraD2dtf, with
/// UTC days taken from kelvara's leap-second table (once per distinct day). On the UTC days of
/// the 1960s whose TAI-UTC step at midnight is a fraction of a second, eraDtf2d (and eraUtctai)
/// stretch the day by the step while eraD2dtf does not, so text read and written back would
/// move by up to a few milliseconds; we stretch it too.
class CalendarOut {
public:
    CalendarOut(Scale scale, const iers::LeapTable& leap) noexcept : scale_(scale), leap_(leap) {}

    /// Status: negative when the date cannot be represented, else the day's dubious bit.
    int operator()(int ndp, double d1, double d2, int& iy, int& im, int& id, int ihmsf[4]) noexcept {
        if (scale_ != UTC) return eraD2dtf(erfa_scale_names[scale_], ndp, d1, d2, &iy, &im, &id, ihmsf) < 0 ? -1 : 0;
        int iy1, im1, id1;
        double fd;
        if (eraJd2cal(d1, d2, &iy1, &im1, &id1, &fd)) return -1;
        if (!(iy1 == y_ && im1 == m_ && id1 == d_)) {
            step_ = iers::day_step(leap_, iy1, im1, id1);
            y_ = iy1; m_ = im1; d_ = id1;
        }
        if (step_.status < 0) return -1;
        const double dleap = step_.calendar_leap();
        const bool whole = dleap == 0.0 || std::fabs(dleap) > 0.5;
        if (dleap != 0.0) fd += fd * dleap / ERFA_DAYSEC;
        char sign;
        eraD2tf(ndp, fd, &sign, ihmsf);
        iy = iy1; im = im1; id = id1;
        if (whole) {
            // eraD2dtf: a rounded time of 24h or later is the next day, or inside a leap second
            if (ihmsf[0] > 23) {
                if (dleap == 0.0 || ihmsf[2] > 0) {
                    iy = step_.next_y; im = step_.next_m; id = step_.next_d;
                    ihmsf[0] = ihmsf[1] = ihmsf[2] = ihmsf[3] = 0;
                } else {
                    ihmsf[0] = 23; ihmsf[1] = 59; ihmsf[2] = 60;
                }
            }
            return step_.status;
        }
        // The day ends after 86400 s plus the step: a rounded time inside the step of a longer
        // day is second 60; one at or past the end belongs to the next day.
        long long u = 1;
        for (int k = 0; k < ndp; ++k) u *= 10;
        long long total = ((ihmsf[0] * 60LL + ihmsf[1]) * 60 + ihmsf[2]) * u + ihmsf[3];
        const long long limit = std::llround((ERFA_DAYSEC + dleap) * double(u));
        if (total >= limit) {
            iy = step_.next_y; im = step_.next_m; id = step_.next_d;
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
        return step_.status;
    }

private:
    Scale scale_;
    const iers::LeapTable& leap_;
    int y_ = INT32_MIN, m_ = 0, d_ = 0;
    iers::DayStep step_;
};

/// Longest text format_iso writes, with its terminating zero.
inline constexpr std::size_t iso_capacity = 40;

/// "YYYY-MM-DDThh:mm:ss.ffffff" of fields from CalendarOut with 6 decimals; returns its length.
inline int format_iso(int y, int m, int d, const int hmsf[4], char* out) noexcept {
    return std::snprintf(out, iso_capacity, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", y, m, d, hmsf[0], hmsf[1], hmsf[2],
                         hmsf[3]);
}

// ---------------------------------------------------------------------------------------------
// Calendar fields -> two-part Julian date, with a one-day memo of the per-day quantities

/// eraDtf2d split in two: the per-day part (calendar to JD, length of a UTC day including a
/// leap second, and the second limit of the last minute) is computed once per distinct day;
/// the per-epoch part repeats ERFA's final expression, so results are bit-identical.
class DayMemo {
public:
    DayMemo(Scale scale, const iers::LeapTable& leap) noexcept : utc_(scale == UTC), leap_(&leap) {}

    /// Status: negative on failure (ERFA's codes), dubious_bit, +2 for a second beyond the
    /// day's last minute.
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
        day_ = ERFA_DAYSEC;
        dleap_ = 0.0;
        if (utc_) {
            iers::DayStep s = iers::day_step(*leap_, iy, im, id);
            js_ = s.status;
            dj_ = s.djm0 + s.djm;
            if (js_ >= 0) {
                dleap_ = s.calendar_leap();
                day_ += dleap_;
            }
            return;
        }
        double w;
        js_ = eraCal2jd(iy, im, id, &dj_, &w);
        dj_ += w;
    }

    bool utc_;
    const iers::LeapTable* leap_;
    int y_ = INT32_MIN, m_ = 0, d_ = 0, js_ = 0;
    double dj_ = 0.0, day_ = ERFA_DAYSEC, dleap_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
// Time-scale conversions over two-part Julian dates

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

/// eraUtctai on kelvara's table, its per-day quantities computed once per distinct day; the
/// per-epoch arithmetic is ERFA's own, in its order, so results are bit-identical. The status
/// judges the UTC day itself.
class UtcToTai {
public:
    explicit UtcToTai(const iers::LeapTable& leap) noexcept : leap_(leap) {}

    int operator()(double utc1, double utc2, double& tai1, double& tai2) noexcept {
        const bool big1 = std::fabs(utc1) >= std::fabs(utc2);
        const double u1 = big1 ? utc1 : utc2, u2 = big1 ? utc2 : utc1;
        int iy, im, id;
        double fd;
        if (eraJd2cal(u1, u2, &iy, &im, &id, &fd)) return -1;
        if (!(iy == y_ && im == m_ && id == d_)) {
            step_ = iers::day_step(leap_, iy, im, id);
            y_ = iy; m_ = im; d_ = id;
        }
        if (step_.status < 0) return step_.status;
        fd_ = fd;
        fd *= (ERFA_DAYSEC + step_.utctai_leap()) / ERFA_DAYSEC;  // undo the stretch of a day with a leap
        fd *= (ERFA_DAYSEC + step_.lod()) / ERFA_DAYSEC;          // pre-1972 UTC seconds to SI seconds
        double a2 = step_.djm0 - u1;
        a2 += step_.djm;
        a2 += fd + step_.dat0 / ERFA_DAYSEC;
        tai1 = big1 ? u1 : a2;
        tai2 = big1 ? a2 : u1;
        return step_.status;
    }

    /// Of the last epoch converted: the MJD of its UTC day, its fraction of day, TAI-UTC at 0h.
    double day_mjd() const noexcept { return step_.djm; }
    double fraction() const noexcept { return fd_; }
    double dat0() const noexcept { return step_.dat0; }

private:
    const iers::LeapTable& leap_;
    int y_ = INT32_MIN, m_ = 0, d_ = 0;
    iers::DayStep step_;
    double fd_ = 0.0;
};

/// eraUt1utc on kelvara's table: UTC from UT1 and UT1-UTC, ramping across a leap second as
/// ERFA does. The status judges the UTC day of the UT1 date.
inline int ut1utc(const iers::LeapTable& leap, double ut11, double ut12, double dut1, double& utc1,
                  double& utc2) noexcept {
    const bool big1 = std::fabs(ut11) >= std::fabs(ut12);
    const double u1 = big1 ? ut11 : ut12;
    double u2 = big1 ? ut12 : ut11;
    double duts = dut1, dats1 = 0.0;
    int js0 = 0;
    for (int i = -1; i <= 3; ++i) {
        int iy, im, id;
        double fd, dats2;
        if (eraJd2cal(u1, u2 + double(i), &iy, &im, &id, &fd)) return -1;
        const int js = iers::dat(leap, iy, im, id, 0.0, dats2);
        if (js < 0) return -1;
        if (i == 0) js0 = js;
        if (i == -1) dats1 = dats2;
        const double ddats = dats2 - dats1;
        if (std::fabs(ddats) >= 0.5) {
            // A leap second nearby: UT1-UTC is taken as its value before the step, and ramped
            // over the UTC day that ends in the leap.
            if (ddats * duts >= 0) duts -= ddats;
            double us1, us2;
            if (eraCal2jd(iy, im, id, &us1, &us2)) return -1;
            us2 = us2 - 1.0 + duts / ERFA_DAYSEC;
            double du = u1 - us1;
            du += u2 - us2;
            if (du > 0) {
                fd = du * ERFA_DAYSEC / (ERFA_DAYSEC + ddats);
                duts += ddats * (fd <= 1.0 ? fd : 1.0);
            }
            break;
        }
        dats1 = dats2;
    }
    u2 -= duts / ERFA_DAYSEC;
    utc1 = big1 ? u1 : u2;
    utc2 = big1 ? u2 : u1;
    return js0;
}

/// UT1-UTC (s) and polar motion (rad) at a UTC epoch from `eop`, TAI-UTC from `leap`. Returns
/// 0, past_eop_bit (held at the last row), dubious_bit, or negative (no_eop before the data).
inline int eop_at(const iers::LeapTable& leap, const iers::EopTable& eop, double u1, double u2, double& dut1,
                  double* xp = nullptr, double* yp = nullptr) noexcept {
    int iy, im, id;
    double fd, dat0, djm0, djm;
    if (eraJd2cal(u1, u2, &iy, &im, &id, &fd)) return -1;
    const int js = iers::dat(leap, iy, im, id, 0.0, dat0);
    if (js < 0 || eraCal2jd(iy, im, id, &djm0, &djm)) return -1;
    iers::EopWeights w;
    const int je = iers::eop_weights(eop, djm, fd, w);
    if (je < 0) return je;
    dut1 = iers::eop_apply(w, eop.ut1_tai) + dat0;
    if (xp) *xp = iers::eop_apply(w, eop.xp);
    if (yp) *yp = iers::eop_apply(w, eop.yp);
    return js | je;
}

/// Conversions between any two scales, epoch by epoch, with the tables of one batch and the
/// per-day memo of UTC -> TAI. `eop` is needed only when UT1 is on the way.
class Chain {
public:
    Chain(const iers::LeapTable& leap, const iers::EopTable* eop) noexcept : leap_(leap), eop_(eop), utctai_(leap) {}

    int step(Scale from, Scale to, double a1, double a2, double& b1, double& b2) noexcept {
        switch (from * nscales + to) {
        case UTC * nscales + TAI: return utctai_(a1, a2, b1, b2);
        case TAI * nscales + UTC: return taiutc(a1, a2, b1, b2);
        case TAI * nscales + TT: return eraTaitt(a1, a2, &b1, &b2);
        case TT * nscales + TAI: return eraTttai(a1, a2, &b1, &b2);
        case TT * nscales + TDB: return eraTttdb(a1, a2, dtdb_geocentre(a1, a2), &b1, &b2);
        case TDB * nscales + TT: return eraTdbtt(a1, a2, dtdb_geocentre(a1, a2), &b1, &b2);
        case UTC * nscales + UT1: return utcut1(a1, a2, b1, b2);
        case UT1 * nscales + UTC: return ut1_to_utc(a1, a2, b1, b2);
        default: b1 = a1; b2 = a2; return 0;
        }
    }

    /// From one scale to another, step by step along the chain; the status bits of the steps
    /// combine, the first failure ends it.
    int convert_one(Scale from, Scale to, double a1, double a2, double& b1, double& b2) noexcept {
        int flags = 0;
        b1 = a1; b2 = a2;
        int p = chain_position[from];
        const int q = chain_position[to];
        while (p != q) {
            const int next = p < q ? p + 1 : p - 1;
            const int js = step(chain_scale[p], chain_scale[next], b1, b2, b1, b2);
            if (js < 0) return js;
            flags |= js & (dubious_bit | past_eop_bit);
            p = next;
        }
        return flags;
    }

    /// Epochs [begin, end) of row-major pairs; `in` and `out` may alias.
    void convert(Scale from, Scale to, const double* in, double* out, std::ptrdiff_t begin, std::ptrdiff_t end,
                 Status& st) noexcept {
        for (std::ptrdiff_t i = begin; i < end; ++i) {
            const int js = convert_one(from, to, in[2 * i], in[2 * i + 1], out[2 * i], out[2 * i + 1]);
            if (js) {
                st.merge(js, i);
                if (js < 0) return;
            }
        }
    }

private:
    /// eraTaiutc: iterate on a guessed UTC (the memo keeps the day).
    int taiutc(double tai1, double tai2, double& utc1, double& utc2) noexcept {
        const bool big1 = std::fabs(tai1) >= std::fabs(tai2);
        const double a1 = big1 ? tai1 : tai2, a2 = big1 ? tai2 : tai1;
        double u1 = a1, u2 = a2, g1, g2;
        int j = 0;
        for (int i = 0; i < 3; ++i) {
            j = utctai_(u1, u2, g1, g2);
            if (j < 0) return j;
            u2 += a1 - g1;
            u2 += a2 - g2;
        }
        utc1 = big1 ? u1 : u2;
        utc2 = big1 ? u2 : u1;
        return j;
    }

    /// eraUtcut1 with UT1-UTC interpolated at the epoch.
    int utcut1(double u1, double u2, double& r1, double& r2) noexcept {
        double t1, t2;
        const int js = utctai_(u1, u2, t1, t2);
        if (js < 0) return js;
        iers::EopWeights w;
        const int je = iers::eop_weights(*eop_, utctai_.day_mjd(), utctai_.fraction(), w);
        if (je < 0) return je;
        const double dat = utctai_.dat0();
        const double dut1 = iers::eop_apply(w, eop_->ut1_tai) + dat;
        eraTaiut1(t1, t2, dut1 - dat, &r1, &r2);
        return js | je;
    }

    /// UTC from UT1: UT1-UTC taken at the UT1 date read as UTC, then again at the UTC found.
    int ut1_to_utc(double a1, double a2, double& r1, double& r2) noexcept {
        double g1 = a1, g2 = a2;
        int js = 0;
        for (int pass = 0; pass < 2; ++pass) {
            double dut1;
            const int je = eop_at(leap_, *eop_, g1, g2, dut1);
            if (je < 0) return je;
            js = ut1utc(leap_, a1, a2, dut1, g1, g2);
            if (js < 0) return js;
            js |= je & past_eop_bit;
        }
        r1 = g1;
        r2 = g2;
        return js;
    }

    const iers::LeapTable& leap_;
    const iers::EopTable* eop_;
    UtcToTai utctai_;
};

}  // namespace kelvara::timek
