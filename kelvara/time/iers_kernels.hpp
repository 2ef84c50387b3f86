// Pure C++ kernels of kelvara's IERS data: the table of TAI-UTC steps with its expiry, the
// Earth orientation parameters (UT1-UTC, polar motion) and their interpolation, and the
// readers of the IERS text files. ERFA's UTC routines read a leap-second table of their own
// (one per linked copy of ERFA); the routines here take ours as an argument and repeat ERFA's
// arithmetic in its order, so results stay bit-identical wherever the two tables agree.
#pragma once

#include <erfa.h>
#include <erfam.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvara::iers {

// ---------------------------------------------------------------------------------------------
// Leap seconds

/// TAI-UTC from the first day of (year, month) on: `offset` seconds, plus, before 1972,
/// (MJD - drift_mjd) * drift_rate.
struct LeapStep {
    int year, month;
    double offset, drift_mjd, drift_rate;
};

/// The steps in date order and the last day they vouch for.
struct LeapTable {
    std::vector<LeapStep> steps;
    double expiry_mjd = 0.0;  // MJD of the expiry date (0h)
    std::string source;       // "built-in" or the file it was read from
    uint64_t generation = 0;  // changes with every table put in force
};

/// Every step of TAI-UTC from 1960 through 2017-01-01 (IERS, USNO tai-utc.dat).
inline constexpr LeapStep builtin_steps[] = {
    {1960, 1, 1.4178180, 37300.0, 0.0012960}, {1961, 1, 1.4228180, 37300.0, 0.0012960},
    {1961, 8, 1.3728180, 37300.0, 0.0012960}, {1962, 1, 1.8458580, 37665.0, 0.0011232},
    {1963, 11, 1.9458580, 37665.0, 0.0011232}, {1964, 1, 3.2401300, 38761.0, 0.0012960},
    {1964, 4, 3.3401300, 38761.0, 0.0012960}, {1964, 9, 3.4401300, 38761.0, 0.0012960},
    {1965, 1, 3.5401300, 38761.0, 0.0012960}, {1965, 3, 3.6401300, 38761.0, 0.0012960},
    {1965, 7, 3.7401300, 38761.0, 0.0012960}, {1965, 9, 3.8401300, 38761.0, 0.0012960},
    {1966, 1, 4.3131700, 39126.0, 0.0025920}, {1968, 2, 4.2131700, 39126.0, 0.0025920},
    {1972, 1, 10.0, 0, 0}, {1972, 7, 11.0, 0, 0}, {1973, 1, 12.0, 0, 0}, {1974, 1, 13.0, 0, 0},
    {1975, 1, 14.0, 0, 0}, {1976, 1, 15.0, 0, 0}, {1977, 1, 16.0, 0, 0}, {1978, 1, 17.0, 0, 0},
    {1979, 1, 18.0, 0, 0}, {1980, 1, 19.0, 0, 0}, {1981, 7, 20.0, 0, 0}, {1982, 7, 21.0, 0, 0},
    {1983, 7, 22.0, 0, 0}, {1985, 7, 23.0, 0, 0}, {1988, 1, 24.0, 0, 0}, {1990, 1, 25.0, 0, 0},
    {1991, 1, 26.0, 0, 0}, {1992, 7, 27.0, 0, 0}, {1993, 7, 28.0, 0, 0}, {1994, 7, 29.0, 0, 0},
    {1996, 1, 30.0, 0, 0}, {1997, 7, 31.0, 0, 0}, {1999, 1, 32.0, 0, 0}, {2006, 1, 33.0, 0, 0},
    {2009, 1, 34.0, 0, 0}, {2012, 7, 35.0, 0, 0}, {2015, 7, 36.0, 0, 0}, {2017, 1, 37.0, 0, 0},
};
inline constexpr std::size_t drifting_steps = 14;  // the steps before 1972
inline constexpr double builtin_expiry_mjd = 61584.0;  // 2027-06-28 (IERS Bulletin C 72)

inline LeapTable builtin_table() {
    LeapTable t;
    t.steps.assign(std::begin(builtin_steps), std::end(builtin_steps));
    t.expiry_mjd = builtin_expiry_mjd;
    t.source = "built-in";
    return t;
}

/// TAI-UTC in seconds on the day (iy, im, id) at fraction `fd`, computed as eraDat computes it
/// but from `t`. Returns ERFA's negative codes for an invalid date, 1 for a dubious date (before
/// the first step, where TAI-UTC is given as 0, or after the table's expiry), else 0.
inline int dat(const LeapTable& t, int iy, int im, int id, double fd, double& deltat) noexcept {
    deltat = 0.0;
    if (fd < 0.0 || fd > 1.0) return -4;
    double djm0, djm;
    const int j = eraCal2jd(iy, im, id, &djm0, &djm);
    if (j < 0) return j;
    const LeapStep* s = t.steps.data();
    if (iy < s[0].year) return 1;
    const int m = 12 * iy + im;
    std::ptrdiff_t i = std::ptrdiff_t(t.steps.size()) - 1;
    for (; i >= 0; --i)
        if (m >= 12 * s[i].year + s[i].month) break;
    if (i < 0) return -5;
    double da = s[i].offset;
    if (s[i].drift_rate != 0.0) da += (djm + fd - s[i].drift_mjd) * s[i].drift_rate;
    deltat = da;
    return djm > t.expiry_mjd ? 1 : 0;
}

/// The TAI-UTC quantities of one UTC day that ERFA's UTC routines share: TAI-UTC at 0h and at
/// 12h of the day and at 0h of the next, the day's MJD. `status` is dat's for the day itself.
struct DayStep {
    int status = 0;
    double dat0 = 0.0, dat12 = 0.0, dat24 = 0.0;
    double djm0 = 0.0, djm = 0.0;  // eraCal2jd of the day
    int next_y = 0, next_m = 0, next_d = 0;

    /// Length change of the day as eraDtf2d and eraD2dtf compute it.
    double calendar_leap() const noexcept { return dat24 - (2.0 * dat12 - dat0); }
    /// The drift over the day of 1960s UTC, as eraUtctai computes it.
    double lod() const noexcept { return 2.0 * (dat12 - dat0); }
    /// The step at the end of the day, as eraUtctai computes it.
    double utctai_leap() const noexcept { return dat24 - (dat0 + lod()); }
};

inline DayStep day_step(const LeapTable& t, int iy, int im, int id) noexcept {
    DayStep d;
    double w;
    d.status = dat(t, iy, im, id, 0.0, d.dat0);
    if (d.status < 0) return d;
    int j = dat(t, iy, im, id, 0.5, d.dat12);
    if (j >= 0) j = eraCal2jd(iy, im, id, &d.djm0, &d.djm) ? -1 : 0;
    if (j >= 0) j = eraJd2cal(d.djm0 + d.djm, 1.5, &d.next_y, &d.next_m, &d.next_d, &w) ? -1 : 0;
    if (j >= 0) j = dat(t, d.next_y, d.next_m, d.next_d, 0.0, d.dat24);
    if (j < 0) d.status = j;
    return d;
}

// ---------------------------------------------------------------------------------------------
// Earth orientation parameters

/// Daily UT1-UTC and polar motion on consecutive UTC days from `mjd0`.
struct EopTable {
    double mjd0 = 0.0;
    std::vector<double> ut1_utc;  // s, as read
    std::vector<double> ut1_tai;  // s, UT1-UTC minus TAI-UTC of the table below
    std::vector<double> xp, yp;   // rad
    std::ptrdiff_t measured = 0;  // rows before the first prediction
    bool linear = false;          // linear instead of 4-point Lagrange interpolation
    std::string source;
    uint64_t leap_generation = 0;  // the leap-second table ut1_tai was made with

    std::ptrdiff_t size() const noexcept { return std::ptrdiff_t(ut1_utc.size()); }

    /// Append one day's values (UT1-UTC in s, the pole in arcsec): false when `mjd` is not the
    /// day after the last one.
    bool append_day(double mjd, double ut1, double x, double y) {
        if (ut1_utc.empty()) mjd0 = mjd;
        else if (mjd != mjd0 + double(ut1_utc.size())) return false;
        ut1_utc.push_back(ut1);
        xp.push_back(x * ERFA_DAS2R);
        yp.push_back(y * ERFA_DAS2R);
        return true;
    }

    /// Recompute UT1-TAI from UT1-UTC with `leap` (0 on success, else the failing row + 1).
    std::ptrdiff_t rebase(const LeapTable& leap) noexcept {
        ut1_tai.resize(ut1_utc.size());
        for (std::ptrdiff_t i = 0; i < size(); ++i) {
            int iy, im, id;
            double fd, d;
            if (eraJd2cal(2400000.5, mjd0 + double(i), &iy, &im, &id, &fd) || dat(leap, iy, im, id, 0.0, d) < 0)
                return i + 1;
            ut1_tai[size_t(i)] = ut1_utc[size_t(i)] - d;
        }
        leap_generation = leap.generation;
        return 0;
    }
};

/// Status bits of the EOP look-up, beside ERFA's codes.
inline constexpr int past_eop = 8;        // held at the last row
inline constexpr int before_eop = -100;   // before the first row

/// Interpolation weights and the first of the rows they apply to, for MJD day `day` (an
/// integer) plus fraction `fd`: 4-point Lagrange on the rows around the interval (shifted at
/// the ends of the table), or linear. Exact at the tabulated days. Returns 0, past_eop or
/// before_eop.
struct EopWeights {
    std::ptrdiff_t first = 0;
    int count = 1;
    double w[4] = {1.0, 0.0, 0.0, 0.0};
};

inline int eop_weights(const EopTable& e, double day, double fd, EopWeights& r) noexcept {
    const double k = day - e.mjd0;
    const std::ptrdiff_t n = e.size();
    if (!(k >= 0.0)) return before_eop;
    if (k >= double(n - 1)) {
        r.first = n - 1;
        r.count = 1;
        r.w[0] = 1.0;
        return k == double(n - 1) && fd == 0.0 ? 0 : past_eop;
    }
    const std::ptrdiff_t i = std::ptrdiff_t(k);
    if (e.linear || n < 4) {
        r.first = i;
        r.count = 2;
        r.w[0] = 1.0 - fd;  // only read through lin() below, which repeats the linear form
        r.w[1] = fd;
        return 0;
    }
    std::ptrdiff_t s = i - 1;
    if (s < 0) s = 0;
    if (s > n - 4) s = n - 4;
    const double u = double(i - s) + fd;
    r.first = s;
    r.count = 4;
    r.w[0] = (u - 1.0) * (u - 2.0) * (u - 3.0) / -6.0;
    r.w[1] = u * (u - 2.0) * (u - 3.0) / 2.0;
    r.w[2] = u * (u - 1.0) * (u - 3.0) / -2.0;
    r.w[3] = u * (u - 1.0) * (u - 2.0) / 6.0;
    return 0;
}

/// One column at the weights: a + fd (b - a) for linear (as astropy interpolates), else the
/// weighted sum.
inline double eop_apply(const EopWeights& r, const std::vector<double>& col) noexcept {
    const double* c = col.data() + r.first;
    if (r.count == 1) return c[0];
    if (r.count == 2) return c[0] + r.w[1] * (c[1] - c[0]);
    return ((r.w[0] * c[0] + r.w[1] * c[1]) + r.w[2] * c[2]) + r.w[3] * c[3];
}

// ---------------------------------------------------------------------------------------------
// Readers of the IERS text files. They fill a table or name the line they cannot read.

struct ReadError {
    long line = 0;        // 1-based; 0 for the file as a whole
    std::string text;     // the offending line
    std::string what;     // what is wrong
    bool failed() const noexcept { return !what.empty(); }
    /// Records line `no` as the one refused, for `message`; false, so that a line loop stops.
    bool refuse(long no, std::string_view line, const char* message);
};

namespace detail {
inline std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

/// A number filling the whole (trimmed) field; false when blank or unreadable.
inline bool number(std::string_view s, double& out) noexcept {
    s = trim(s);
    if (s.empty()) return false;
    if (s.front() == '+') s.remove_prefix(1);
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

inline bool integer(std::string_view s, long long& out) noexcept {
    s = trim(s);
    if (s.empty()) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

/// Whitespace-separated fields of a line.
inline std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
        std::size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '\r') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

/// Calls fn(line_number, line) for each line of `text`; stops when fn returns false.
template <class F>
void each_line(std::string_view text, F fn) {
    long no = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        if (!fn(++no, text.substr(pos, end - pos))) return;
        pos = end + 1;
    }
}

inline int month_from_name(std::string_view s) noexcept {
    static constexpr const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int k = 0; k < 3; ++k)
            if ((s[k] | 0x20) != names[m][k]) same = false;
        if (same) return m + 1;
    }
    return 0;
}

/// Whether an expiry date can be represented where it is reported (datetime.date, years 1 to
/// 9999) and is not before UTC had whole-second steps: years 1972 to 9999.
inline bool expiry_in_range(double mjd) noexcept {
    int y, m, d;
    double f;
    return eraJd2cal(2400000.5, mjd, &y, &m, &d, &f) == 0 && y >= 1972 && y <= 9999;
}

inline bool mjd_of(long long y, long long m, long long d, double& mjd) noexcept {
    double djm0;
    if (y < -4000 || y > 100000 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    return eraCal2jd(int(y), int(m), int(d), &djm0, &mjd) == 0;
}

/// Steps read from a file, placed after the built-in steps of the 1960s: files list TAI-UTC
/// from 1972 on, when it became a whole number of seconds.
inline void merge_drifting(std::vector<LeapStep>& read, LeapTable& out) {
    out.steps.assign(std::begin(builtin_steps), std::begin(builtin_steps) + drifting_steps);
    for (const LeapStep& s : read)
        if (s.year >= 1972) out.steps.push_back(s);
}
}  // namespace detail

inline bool ReadError::refuse(long no, std::string_view l, const char* message) {
    line = no;
    text = std::string(detail::trim(l));
    what = message;
    return false;
}

/// Read an IERS Leap_Second.dat ("MJD day month year TAI-UTC" rows, "File expires on 28 June
/// 2027") or an NTP leap-seconds.list ("NTP-seconds TAI-UTC" rows, "#@ NTP-seconds" expiry).
inline ReadError read_leap_seconds(std::string_view text, LeapTable& out) {
    ReadError err;
    std::vector<LeapStep> read;
    bool have_expiry = false;
    auto fail = [&](long no, std::string_view line, const char* what) { return err.refuse(no, line, what); };
    detail::each_line(text, [&](long no, std::string_view line) -> bool {
        std::string_view s = detail::trim(line);
        if (s.empty()) return true;
        if (s.substr(0, 2) == "#@") {  // NTP list: expiry in NTP seconds
            long long ntp;
            if (!detail::integer(s.substr(2), ntp) || ntp < 0) return fail(no, line, "cannot read the expiry");
            out.expiry_mjd = 15020.0 + double(ntp / 86400);
            if (!detail::expiry_in_range(out.expiry_mjd))
                return fail(no, line, "the expiry date is outside the years 1972 to 9999");
            have_expiry = true;
            return true;
        }
        if (s.front() == '#') {
            std::size_t at = s.find("expires on");
            if (at == std::string_view::npos) return true;
            auto f = detail::split(s.substr(at + 10));
            long long d, y;
            int m = f.size() >= 3 ? detail::month_from_name(f[1]) : 0;
            if (f.size() < 3 || !detail::integer(f[0], d) || !m || !detail::integer(f[2], y) ||
                !detail::mjd_of(y, m, d, out.expiry_mjd))
                return fail(no, line, "cannot read the expiry date");
            if (!detail::expiry_in_range(out.expiry_mjd))
                return fail(no, line, "the expiry date is outside the years 1972 to 9999");
            have_expiry = true;
            return true;
        }
        std::string_view data = s.substr(0, s.find('#'));
        auto f = detail::split(data);
        LeapStep step{0, 0, 0.0, 0.0, 0.0};
        if (f.size() == 2) {  // NTP seconds of the first day, TAI-UTC
            long long ntp;
            if (!detail::integer(f[0], ntp) || ntp < 0 || ntp % 86400 || !detail::number(f[1], step.offset))
                return fail(no, line, "expected NTP seconds of a day and TAI-UTC");
            int d;
            double w;
            if (eraJd2cal(2400000.5, 15020.0 + double(ntp / 86400), &step.year, &step.month, &d, &w) || d != 1)
                return fail(no, line, "a step must fall on the first day of a month");
        } else if (f.size() == 5) {  // MJD, day, month, year, TAI-UTC
            double mjd, check;
            long long d, m, y;
            if (!detail::number(f[0], mjd) || !detail::integer(f[1], d) || !detail::integer(f[2], m) ||
                !detail::integer(f[3], y) || !detail::number(f[4], step.offset) || !detail::mjd_of(y, m, d, check))
                return fail(no, line, "expected MJD, day, month, year and TAI-UTC");
            if (check != mjd) return fail(no, line, "the MJD does not match the date");
            if (d != 1) return fail(no, line, "a step must fall on the first day of a month");
            step.year = int(y);
            step.month = int(m);
        } else {
            return fail(no, line, "expected a row of the leap-second table");
        }
        if (!read.empty() && 12 * step.year + step.month <= 12 * read.back().year + read.back().month)
            return fail(no, line, "the steps are not in date order");
        // From 1972 on TAI-UTC is a whole number of seconds, 10 s on 1972-01-01 and growing by
        // leap seconds; UTC allows a negative leap second (none was ever needed), so it may fall
        // by one second at a step, never by more. 1000 s is centuries of leap seconds away.
        if (step.year >= 1972) {
            if (!(step.offset >= 10.0 && step.offset <= 1000.0) || step.offset != std::floor(step.offset))
                return fail(no, line, "TAI-UTC must be a whole number of seconds from 10 to 1000");
            if (!read.empty() && read.back().year >= 1972 && step.offset < read.back().offset - 1.0)
                return fail(no, line, "TAI-UTC falls by more than one second at a step");
        }
        read.push_back(step);
        return true;
    });
    if (err.failed()) return err;
    if (read.empty() || read.back().year < 1972) {
        err.what = "no TAI-UTC steps from 1972 on";
        return err;
    }
    if (!have_expiry) {
        err.what = "no expiry date";
        return err;
    }
    detail::merge_drifting(read, out);
    return err;
}

namespace detail {
/// The fixed columns of a finals2000A row (1-based, inclusive). Its numbers are right-aligned,
/// so a row ends at the last column of a field, also when trailing blanks were stripped; one
/// that ends inside a field was cut there.
inline constexpr int finals_fields[][2] = {
    {1, 2},     {3, 4},     {5, 6},     {8, 15},    {17, 17},   {19, 27},   {28, 36},   {38, 46},
    {47, 55},   {58, 58},   {59, 68},   {69, 78},   {80, 86},   {87, 93},   {96, 96},   {98, 106},
    {107, 115}, {117, 125}, {126, 134}, {135, 144}, {145, 154}, {155, 165}, {166, 175}, {176, 185},
};

/// The fixed columns of an IERS EOP 20 C04 row: year, month, day, hour, MJD, x, y, UT1-UTC,
/// dX, dY, the rates of x and y, LOD, then the errors of the same.
inline constexpr int c04_fields[][2] = {
    {1, 4},     {5, 8},     {9, 12},    {13, 16},   {17, 26},   {27, 38},   {39, 50},   {51, 62},
    {63, 74},   {75, 86},   {87, 98},   {99, 110},  {111, 122}, {123, 134}, {135, 146}, {147, 158},
    {159, 170}, {171, 182}, {183, 194}, {195, 206}, {207, 218},
};

/// The field of `fields` a row of `length` columns ends inside, or null.
template <std::size_t N>
inline const int* cut_field(const int (&fields)[N][2], std::size_t length) noexcept {
    for (const auto& f : fields)
        if (length >= std::size_t(f[0]) && length < std::size_t(f[1])) return f;
    return nullptr;
}

/// "<what> <first>-<last>" in `buf` (snprintf rather than std::to_string, whose digit table
/// would be exported from the module).
inline const char* columns_text(std::string& buf, const char* what, int first, int last) {
    char text[96];
    std::snprintf(text, sizeof text, "%s %d-%d", what, first, last);
    buf = text;
    return buf.c_str();
}

/// A line without its trailing blanks and carriage return.
inline std::string_view without_trailing_blanks(std::string_view line) noexcept {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

/// 1-based, inclusive byte columns of a line; a short line reads as blank there.
inline std::string_view column(std::string_view line, std::size_t first, std::size_t last) noexcept {
    if (line.size() < first) return {};
    return line.substr(first - 1, std::min(last, line.size()) - first + 1);
}

/// Bounds no IERS series comes near: UTC keeps |UT1-UTC| below 0.9 s, and the pole has stayed
/// within 0.6" of its origin since 1900. A value beyond them is a corrupt file.
inline constexpr double max_ut1_utc = 1.0;  // s
inline constexpr double max_pole = 2.0;     // arcsec

/// What is wrong with one day's values, or null.
inline const char* implausible_eop(double ut1_utc, double x, double y) noexcept {
    if (!(std::fabs(ut1_utc) <= max_ut1_utc)) return "UT1-UTC is beyond +-1 s";
    if (!(std::fabs(x) < max_pole) || !(std::fabs(y) < max_pole)) return "polar motion is beyond +-2 arcsec";
    return nullptr;
}
}  // namespace detail

/// Read IERS finals2000A (.all, .data, .daily): fixed columns, Bulletin B values where given,
/// else Bulletin A; rows end where UT1-UTC does. A row cut inside a field, or a dated row with
/// values but no UT1-UTC, is refused, and so are values beyond the bounds above.
inline ReadError read_finals(std::string_view text, EopTable& out) {
    ReadError err;
    bool ended = false;
    std::string what;
    auto fail = [&](long no, std::string_view line, const char* what) { return err.refuse(no, line, what); };
    using detail::column;
    out.measured = -1;
    detail::each_line(text, [&](long no, std::string_view line) -> bool {
        if (detail::trim(line).empty()) return true;
        const std::string_view kept = detail::without_trailing_blanks(line);
        if (const int* f = detail::cut_field(detail::finals_fields, kept.size())) {
            return fail(no, line, detail::columns_text(what, "the row ends inside columns", f[0], f[1]));
        }
        double mjd, ut1, x, y;
        if (!detail::number(column(line, 8, 15), mjd) || mjd != std::floor(mjd))
            return fail(no, line, "cannot read the MJD in columns 8-15");
        std::string_view ut1_b = detail::trim(column(line, 155, 165));
        std::string_view ut1_a = detail::trim(column(line, 59, 68));
        if (ut1_a.empty() && ut1_b.empty()) {
            // The rows past the predictions carry dates only; a row with values but without
            // UT1-UTC was cut short.
            if (kept.size() > 15) return fail(no, line, "the row ends before UT1-UTC in columns 59-68");
            ended = true;
            return true;
        }
        if (ended) return fail(no, line, "a row with UT1-UTC after rows without");
        const bool b = !ut1_b.empty();
        if (!detail::number(b ? ut1_b : ut1_a, ut1))
            return fail(no, line, b ? "cannot read UT1-UTC in columns 155-165" : "cannot read UT1-UTC in columns 59-68");
        const bool pb = !detail::trim(column(line, 135, 144)).empty();
        if (!detail::number(pb ? column(line, 135, 144) : column(line, 19, 27), x) ||
            !detail::number(pb ? column(line, 145, 154) : column(line, 38, 46), y))
            return fail(no, line, "cannot read the polar motion");
        if (const char* bad = detail::implausible_eop(ut1, x, y)) return fail(no, line, bad);
        // The bulletin not taken is checked too: a value beyond the bounds there is as sure a
        // sign of a corrupt file.
        for (auto [first, last] : {std::pair{59, 68}, std::pair{19, 27}, std::pair{38, 46}, std::pair{155, 165},
                                   std::pair{135, 144}, std::pair{145, 154}}) {
            std::string_view field = detail::trim(column(line, std::size_t(first), std::size_t(last)));
            double v;
            if (field.empty()) continue;
            if (!detail::number(field, v)) {
                return fail(no, line, detail::columns_text(what, "cannot read columns", first, last));
            }
            const bool is_ut1 = first == 59 || first == 155;
            if (const char* bad = detail::implausible_eop(is_ut1 ? v : 0.0, is_ut1 ? 0.0 : v, 0.0))
                return fail(no, line, bad);
        }
        if (out.measured < 0 && !b && column(line, 58, 58) == "P") out.measured = std::ptrdiff_t(out.ut1_utc.size());
        return out.append_day(mjd, ut1, x, y) || fail(no, line, "the rows are not consecutive days");
    });
    if (err.failed()) return err;
    if (out.ut1_utc.size() < 2) err.what = "fewer than two days of UT1-UTC";
    if (out.measured < 0) out.measured = out.size();
    return err;
}

/// Read the IERS EOP 20 C04 series (eopc04.1962-now: '#' header lines, then one row a day at
/// 0h UTC in fixed columns). Every row is a final value. Rows cut inside a field or before
/// UT1-UTC, and values beyond the bounds of read_finals, are refused.
inline ReadError read_c04(std::string_view text, EopTable& out) {
    ReadError err;
    std::string what;
    auto fail = [&](long no, std::string_view line, const char* what) { return err.refuse(no, line, what); };
    using detail::column;
    detail::each_line(text, [&](long no, std::string_view line) -> bool {
        const std::string_view s = detail::trim(line);
        if (s.empty() || s.front() == '#') return true;
        const std::string_view kept = detail::without_trailing_blanks(line);
        if (const int* f = detail::cut_field(detail::c04_fields, kept.size())) {
            return fail(no, line, detail::columns_text(what, "the row ends inside columns", f[0], f[1]));
        }
        if (kept.size() < 62) return fail(no, line, "the row ends before UT1-UTC in columns 51-62");
        double mjd, hour, x, y, ut1;
        if (!detail::number(column(line, 17, 26), mjd) || mjd != std::floor(mjd))
            return fail(no, line, "cannot read the MJD in columns 17-26");
        if (!detail::number(column(line, 13, 16), hour) || hour != 0.0)
            return fail(no, line, "expected a row at 0h UTC in columns 13-16");
        if (!detail::number(column(line, 27, 38), x) || !detail::number(column(line, 39, 50), y))
            return fail(no, line, "cannot read the polar motion in columns 27-50");
        if (!detail::number(column(line, 51, 62), ut1)) return fail(no, line, "cannot read UT1-UTC in columns 51-62");
        if (const char* bad = detail::implausible_eop(ut1, x, y)) return fail(no, line, bad);
        return out.append_day(mjd, ut1, x, y) || fail(no, line, "the rows are not consecutive days");
    });
    if (err.failed()) return err;
    if (out.ut1_utc.size() < 2) err.what = "fewer than two days of UT1-UTC";
    out.measured = out.size();
    return err;
}

/// Read either format: a file whose first line that is not blank starts with '#' is C04, any
/// other finals2000A.
inline ReadError read_eop(std::string_view text, EopTable& out) {
    std::string_view first;
    detail::each_line(text, [&](long, std::string_view line) {
        first = detail::trim(line);
        return first.empty();
    });
    return !first.empty() && first.front() == '#' ? read_c04(text, out) : read_finals(text, out);
}

/// Continue `a` with the rows of `b` from the day after a's last on: `b` must begin on or
/// before that day. Rows of `b` after its first prediction stay predictions. Returns false
/// (changing nothing) when `b` begins later.
inline bool continue_with(EopTable& a, const EopTable& b) {
    const double next = a.mjd0 + double(a.size());
    if (b.mjd0 > next) return false;
    const std::ptrdiff_t from = std::ptrdiff_t(next - b.mjd0);
    if (from >= b.size()) return true;  // nothing past a's end
    if (a.measured == a.size()) a.measured += std::max<std::ptrdiff_t>(0, b.measured - from);
    for (std::ptrdiff_t i = from; i < b.size(); ++i) {
        a.ut1_utc.push_back(b.ut1_utc[std::size_t(i)]);
        a.xp.push_back(b.xp[std::size_t(i)]);
        a.yp.push_back(b.yp[std::size_t(i)]);
    }
    return true;
}

}  // namespace kelvara::iers
