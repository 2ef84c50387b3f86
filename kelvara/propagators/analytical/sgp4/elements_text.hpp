// Decoding of the two-line element format, field by field, into numbers. Pure C++.
//
// Columns are 1-based as the format's documentation numbers them. Text after column 69 is
// ignored (archives append comments, the verification set appends its time span). A failure
// names the line, the columns and the text found there.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sgp4_kernels.hpp"

namespace kelvara::sgp4 {

/// Every field of both lines, in the units of the format.
struct TextFields {
    std::int64_t satnum;       // Alpha-5 decoded
    char classification;       // 'U', 'C', 'S' or another letter
    char intldesg[9];          // international designator, cols 10-17 of line 1, trimmed
    int epoch_year;            // four-digit year (two-digit 57-99 -> 19xx, 00-56 -> 20xx)
    double epoch_day;          // day of year with fraction, 1.0 = January 1 0h
    double jd_epoch1;          // the epoch as two-part Julian date: jd1 exact (ends in .5)
    double jd_epoch2;          //   and the fraction of the day in [0, 1)
    double ndot;               // first derivative of mean motion / 2, rev/day^2
    double nddot;              // second derivative of mean motion / 6, rev/day^3
    double bstar;              // drag term, 1 / earth radii
    int ephemeris_type;        // col 63 of line 1 (0 when blank)
    int element_number;        // cols 65-68 of line 1
    double inclination;        // deg
    double raan;               // deg
    double eccentricity;       // 0 <= e < 1
    double argp;               // deg
    double mean_anomaly;       // deg
    double mean_motion;        // rev/day
    int rev_number;            // revolutions at epoch, cols 64-68 of line 2
};

/// Where and why decoding failed.
struct TextError {
    int line;           // 1 or 2
    int first, last;    // columns, 1-based, inclusive
    char found[72];     // the text in those columns
    const char* what;   // what was expected
};

namespace detail {

struct Line {
    const char* s;
    std::size_t n;
    int number;
    char at(int col) const noexcept { return std::size_t(col) <= n ? s[col - 1] : ' '; }
};

inline bool fail_at(TextError& err, const Line& l, int first, int last, const char* what) noexcept {
    err.line = l.number;
    err.first = first;
    err.last = last;
    int k = 0;
    for (int c = first; c <= last && k < 70; ++c) {
        if (std::size_t(c) > l.n) break;
        err.found[k++] = l.s[c - 1];
    }
    err.found[k] = '\0';
    err.what = what;
    return false;
}

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

/// Value of an optionally signed decimal text "[+-]ddd[.ddd]" of at most 18 digits: the digits as an
/// integer divided by a power of ten, both exact, so the one division rounds correctly (what
/// strtod gives) and no locale is consulted.
inline double exact_decimal(const char* t) noexcept {
    bool neg = false;
    if (*t == '+' || *t == '-') neg = *t++ == '-';
    long long m = 0;
    int scale = 0;
    bool after = false;
    for (; *t; ++t) {
        if (*t == '.') { after = true; continue; }
        m = m * 10 + (*t - '0');
        if (after) ++scale;
    }
    double p = 1.0;
    for (int i = 0; i < scale; ++i) p *= 10.0;
    double v = double(m) / p;
    return neg ? -v : v;
}

/// A decimal number in cols [first, last]: blanks around it, an optional sign, digits with at
/// most one point. `implied_point` reads a bare digit string as 0.ddddd (eccentricity).
inline bool decimal(const Line& l, int first, int last, bool implied_point, bool blank_is_zero, double& out,
                    TextError& err, const char* what) noexcept {
    char buf[40];
    int k = 0, a = first, b = last;
    while (a <= b && l.at(a) == ' ') ++a;
    while (b >= a && l.at(b) == ' ') --b;
    if (a > b) {
        if (blank_is_zero) { out = 0.0; return true; }
        return fail_at(err, l, first, last, what);
    }
    int c = a;
    if (l.at(c) == '+' || l.at(c) == '-') buf[k++] = l.at(c++);
    if (implied_point) { buf[k++] = '0'; buf[k++] = '.'; }
    int digits = 0, points = 0;
    if (b - c + 1 > 18) return fail_at(err, l, first, last, what);
    for (; c <= b; ++c) {
        char ch = l.at(c);
        if (is_digit(ch)) ++digits;
        else if (ch == '.' && !implied_point && points == 0) ++points;
        else return fail_at(err, l, first, last, what);
        buf[k++] = ch;
    }
    if (digits == 0) return fail_at(err, l, first, last, what);
    buf[k] = '\0';
    out = exact_decimal(buf);
    return true;
}

/// An unsigned integer in cols [first, last], blank-padded; all blank reads as 0.
inline bool integer(const Line& l, int first, int last, long long& out, TextError& err, const char* what) noexcept {
    long long v = 0;
    bool seen_digit = false, trailing = false;
    for (int c = first; c <= last; ++c) {
        char ch = l.at(c);
        if (ch == ' ') { if (seen_digit) trailing = true; continue; }
        if (!is_digit(ch) || trailing) return fail_at(err, l, first, last, what);
        seen_digit = true;
        v = v * 10 + (ch - '0');
    }
    out = v;
    return true;
}

/// The format's exponent field "sMMMMMsE" (cols first..first+7): sign, five mantissa digits
/// with an implied leading point, the exponent's sign and digit. Blank reads as 0.
inline bool exponent_field(const Line& l, int first, double& out, TextError& err, const char* what) noexcept {
    const int last = first + 7;
    bool blank = true;
    for (int c = first; c <= last; ++c) blank = blank && l.at(c) == ' ';
    if (blank) { out = 0.0; return true; }
    char sign = l.at(first);
    if (sign != ' ' && sign != '+' && sign != '-') return fail_at(err, l, first, last, what);
    char mant[10];
    int k = 0;
    mant[k++] = sign == '-' ? '-' : '+';
    mant[k++] = '0';
    mant[k++] = '.';
    int digits = 0;
    for (int c = first + 1; c <= first + 5; ++c) {
        char ch = l.at(c);
        if (ch == ' ' && digits == 0) ch = '0';  // leading blanks pad the mantissa
        if (!is_digit(ch)) return fail_at(err, l, first, last, what);
        mant[k++] = ch;
        ++digits;
    }
    mant[k] = '\0';
    char esign = l.at(first + 6), edigit = l.at(first + 7);
    if ((esign != '+' && esign != '-' && esign != ' ') || !is_digit(edigit)) return fail_at(err, l, first, last, what);
    int e = edigit - '0';
    if (esign == '-') e = -e;
    out = exact_decimal(mant) * std::pow(10.0, double(e));
    return true;
}

/// Alpha-5 catalogue number in cols 3-7: five digits, or a letter (A=10 .. Z=33 without I and
/// O) and four digits; leading blanks allowed.
inline bool catalogue_number(const Line& l, std::int64_t& out, TextError& err) noexcept {
    const char* what = "a catalogue number (5 digits, or a letter A-Z without I and O and 4 digits)";
    char c3 = l.at(3);
    std::int64_t head = 0;
    if (c3 >= 'A' && c3 <= 'Z') {
        if (c3 == 'I' || c3 == 'O') return fail_at(err, l, 3, 7, what);
        head = c3 - 'A' + 10;
        if (c3 > 'I') --head;
        if (c3 > 'O') --head;
        for (int c = 4; c <= 7; ++c)
            if (!is_digit(l.at(c))) return fail_at(err, l, 3, 7, what);
        long long rest = 0;
        integer(l, 4, 7, rest, err, what);
        out = head * 10000 + rest;
        return true;
    }
    long long v = 0;
    if (!integer(l, 3, 7, v, err, what)) return false;
    bool any = false;
    for (int c = 3; c <= 7; ++c) any = any || is_digit(l.at(c));
    if (!any) return fail_at(err, l, 3, 7, what);
    out = v;
    return true;
}

/// The mod-10 checksum of cols 1-68 (digits count their value, '-' counts 1) against col 69.
inline bool checksum(const Line& l, TextError& err) noexcept {
    int sum = 0;
    for (int c = 1; c <= 68; ++c) {
        char ch = l.at(c);
        if (is_digit(ch)) sum += ch - '0';
        else if (ch == '-') sum += 1;
    }
    char got = l.at(69);
    if (!is_digit(got) || got - '0' != sum % 10) {
        static thread_local char what[64];
        std::snprintf(what, sizeof what, "checksum %d", sum % 10);
        return fail_at(err, l, 69, 69, what);
    }
    return true;
}

inline bool blank_at(const Line& l, int col, TextError& err) noexcept {
    if (l.at(col) != ' ') return fail_at(err, l, col, col, "a blank");
    return true;
}

inline int days_in_year(int y) noexcept { return (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365; }

/// Julian date of January 0.0 (December 31 0h of the year before) of a Gregorian year.
inline double jd_january0(int y) noexcept {
    // Days from 4713 BC counted with the Gregorian leap rule (Fliegel & Van Flandern).
    long long Y = y - 1, jdn = 1721426 + 365LL * Y + Y / 4 - Y / 100 + Y / 400;  // JDN of Jan 1, noon
    return double(jdn) - 1.5;
}

}  // namespace detail

/// Decode both lines. `l1`, `l2` point at the text (not necessarily terminated) of n1, n2 bytes.
/// Returns false with `err` filled when a field does not read as the format defines it.
inline bool decode_lines(const char* l1, std::size_t n1, const char* l2, std::size_t n2, bool verify_checksum,
                         TextFields& f, TextError& err) noexcept {
    using namespace detail;
    const Line a{l1, n1, 1}, b{l2, n2, 2};
    f = TextFields{};
    const std::size_t need = verify_checksum ? 69 : 68;
    if (a.n < need) return fail_at(err, a, 1, int(a.n), verify_checksum ? "69 columns" : "68 columns");
    if (b.n < need) return fail_at(err, b, 1, int(b.n), verify_checksum ? "69 columns" : "68 columns");

    // Line 1.
    if (a.at(1) != '1') return fail_at(err, a, 1, 1, "line number 1");
    if (!blank_at(a, 2, err)) return false;
    if (!catalogue_number(a, f.satnum, err)) return false;
    f.classification = a.at(8);
    if (!(f.classification == ' ' || (f.classification >= 'A' && f.classification <= 'Z')))
        return fail_at(err, a, 8, 8, "a classification letter");
    if (f.classification == ' ') f.classification = 'U';
    if (!blank_at(a, 9, err)) return false;
    {
        int k = 0, c = 10, e = 17;
        while (c <= e && a.at(c) == ' ') ++c;
        while (e >= c && a.at(e) == ' ') --e;
        for (; c <= e; ++c) f.intldesg[k++] = a.at(c);
        f.intldesg[k] = '\0';
    }
    long long yy = 0;
    for (int c = 19; c <= 20; ++c)
        if (!is_digit(a.at(c))) return fail_at(err, a, 19, 20, "a two-digit epoch year");
    integer(a, 19, 20, yy, err, "");
    f.epoch_year = int(yy < 57 ? 2000 + yy : 1900 + yy);
    // Day of year: whole days and the fraction read separately, so the fraction keeps every digit.
    {
        double day = 0.0;
        if (!decimal(a, 21, 32, false, false, day, err, "a day of year ddd.dddddddd")) return false;
        int dot = 0;
        for (int c = 21; c <= 32; ++c)
            if (a.at(c) == '.') dot = c;
        long long whole = 0;
        double frac = 0.0;
        const char* what = "a day of year ddd.dddddddd";
        if (dot) {
            if (!integer(a, 21, dot - 1, whole, err, what)) return false;
            char buf[20] = "0.";
            int k = 2;
            for (int c = dot + 1; c <= 32 && a.at(c) != ' '; ++c) buf[k++] = a.at(c);
            buf[k] = '\0';
            frac = exact_decimal(buf);
        } else if (!integer(a, 21, 32, whole, err, what)) {
            return false;
        }
        if (day < 1.0 || day >= days_in_year(f.epoch_year) + 1.0 || a.at(21) == '-' || a.at(21) == '+')
            return fail_at(err, a, 21, 32, "a day of year from 1 to the year's last day");
        f.epoch_day = day;
        f.jd_epoch1 = jd_january0(f.epoch_year) + double(whole);
        f.jd_epoch2 = frac;
    }
    if (!blank_at(a, 33, err)) return false;
    if (!decimal(a, 34, 43, false, false, f.ndot, err, "a first derivative of mean motion such as -.00001234")) return false;
    if (!blank_at(a, 44, err)) return false;
    if (!exponent_field(a, 45, f.nddot, err, "a second derivative of mean motion such as 12345-6")) return false;
    if (!blank_at(a, 53, err)) return false;
    if (!exponent_field(a, 54, f.bstar, err, "a drag term B* such as -12345-4")) return false;
    if (!blank_at(a, 62, err)) return false;
    {
        char t = a.at(63);
        if (t != ' ' && !is_digit(t)) return fail_at(err, a, 63, 63, "an ephemeris type digit");
        f.ephemeris_type = t == ' ' ? 0 : t - '0';
    }
    if (!blank_at(a, 64, err)) return false;
    long long num = 0;
    if (!integer(a, 65, 68, num, err, "an element set number")) return false;
    f.element_number = int(num);
    if (verify_checksum && !checksum(a, err)) return false;

    // Line 2.
    if (b.at(1) != '2') return fail_at(err, b, 1, 1, "line number 2");
    if (!blank_at(b, 2, err)) return false;
    std::int64_t satnum2 = 0;
    if (!catalogue_number(b, satnum2, err)) return false;
    if (satnum2 != f.satnum) return fail_at(err, b, 3, 7, "the catalogue number of line 1");
    if (!blank_at(b, 8, err)) return false;
    if (!decimal(b, 9, 16, false, false, f.inclination, err, "an inclination in degrees")) return false;
    if (!(f.inclination >= 0.0 && f.inclination <= 180.0)) return fail_at(err, b, 9, 16, "an inclination from 0 to 180 degrees");
    if (!blank_at(b, 17, err)) return false;
    if (!decimal(b, 18, 25, false, false, f.raan, err, "a right ascension in degrees")) return false;
    if (!blank_at(b, 26, err)) return false;
    for (int c = 27; c <= 33; ++c)
        if (!is_digit(b.at(c)) && b.at(c) != ' ') return fail_at(err, b, 27, 33, "an eccentricity of 7 digits (implied 0.)");
    if (!decimal(b, 27, 33, true, false, f.eccentricity, err, "an eccentricity of 7 digits (implied 0.)")) return false;
    if (!blank_at(b, 34, err)) return false;
    if (!decimal(b, 35, 42, false, false, f.argp, err, "an argument of perigee in degrees")) return false;
    if (!blank_at(b, 43, err)) return false;
    if (!decimal(b, 44, 51, false, false, f.mean_anomaly, err, "a mean anomaly in degrees")) return false;
    if (!blank_at(b, 52, err)) return false;
    if (!decimal(b, 53, 63, false, false, f.mean_motion, err, "a mean motion in revolutions per day")) return false;
    if (!(f.mean_motion > 0.0)) return fail_at(err, b, 53, 63, "a positive mean motion");
    if (!integer(b, 64, 68, num, err, "a revolution number")) return false;
    f.rev_number = int(num);
    if (verify_checksum && !checksum(b, err)) return false;
    return true;
}

/// The theory's inputs from decoded fields.
inline MeanElements mean_elements(const TextFields& f) noexcept {
    constexpr double xpdotp = 1440.0 / (2.0 * pi);  // rev/day per rad/min
    MeanElements e{};
    e.jd_epoch1 = f.jd_epoch1;
    e.jd_epoch2 = f.jd_epoch2;
    e.bstar = f.bstar;
    e.ndot = f.ndot / (xpdotp * 1440.0);
    e.nddot = f.nddot / (xpdotp * 1440.0 * 1440.0);
    e.ecco = f.eccentricity;
    e.argpo = f.argp * deg2rad;
    e.inclo = f.inclination * deg2rad;
    e.mo = f.mean_anomaly * deg2rad;
    e.no_kozai = f.mean_motion / xpdotp;
    e.nodeo = f.raan * deg2rad;
    return e;
}

}  // namespace kelvara::sgp4
