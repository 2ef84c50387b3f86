// Column parsing of Two-Line Element sets, in pure C++ (no interpreter, no allocation, no
// exceptions). Lines are held as fixed 70-byte buffers of ASCII text, zero-terminated and
// zero-padded; every read below stays inside such a buffer, whatever bytes it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__GLIBC__) || defined(__APPLE__)
#include <clocale>
#include <cstdlib>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
#else
#include <charconv>
#endif

namespace kelvara::tle {

/// Text capacity of a stored line: 69 characters and the terminating zero.
inline constexpr std::size_t line_size = 70;
inline constexpr std::size_t line_chars = line_size - 1;
/// Capacity of the satellite number: 5 characters (columns 3-7) and the terminating zero.
inline constexpr std::size_t satno_size = 6;

/// The whitespace of the "C" locale (what atoi and atof skip).
inline bool c_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// Copy `n` bytes of text into a line buffer: stops at the first zero byte and after 69 bytes,
/// upper-cases ASCII letters when asked, and zero-fills the rest, so the buffer always holds
/// one terminated text.
inline void store_line(char (&dst)[line_size], const char* src, std::size_t n, bool upper) noexcept {
    std::size_t len = n < line_chars ? n : line_chars;
    if (const void* nul = std::memchr(src, '\0', len)) len = std::size_t(static_cast<const char*>(nul) - src);
    if (upper) {
        for (std::size_t i = 0; i < len; ++i) {
            unsigned char c = static_cast<unsigned char>(src[i]);
            dst[i] = char(c - ((unsigned char)(c - 'a') < 26u ? 'a' - 'A' : 0));
        }
    } else {
        std::memcpy(dst, src, len);
    }
    std::memset(dst + len, 0, line_size - len);
}

/// Copy up to `n` bytes from `src`, stopping at a zero byte, into `dst` and terminate it.
inline void copy_field(char* dst, const char* src, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
    dst[i] = '\0';
}

/// atoi: leading blanks, an optional sign, then decimal digits; 0 when no digit follows.
inline int parse_int(const char* s) noexcept {
    while (c_space(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    int v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) v = v * 10 + (*s - '0');
    return negative ? -v : v;
}

/// atof in the "C" locale: leading blanks, then the longest prefix that reads as a number, 0.0
/// when none does. The decimal point is '.', whatever locale the process has switched to.
inline double parse_real(const char* s) noexcept {
    // The usual field, "ddd.dddddddd": at most 15 digits make an integer below 2^53 and the
    // power of ten is exact, so one division gives the correctly rounded value strtod would.
    {
        const char* p = s;
        while (c_space(*p)) ++p;
        bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        std::int64_t mantissa = 0;
        int digits = 0, decimals = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) mantissa = mantissa * 10 + (*p - '0');
        if (*p == '.')
            for (++p; *p >= '0' && *p <= '9'; ++p, ++digits, ++decimals) mantissa = mantissa * 10 + (*p - '0');
        // Exponents, hexadecimal and the inf/nan spellings are left to strtod.
        bool plain = digits > 0 && digits <= 15 && *p != 'e' && *p != 'E' && *p != 'x' && *p != 'X';
        if (plain) {
            static constexpr double pow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                               1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
            double v = double(mantissa) / pow10[decimals];
            return negative ? -v : v;
        }
    }
#if defined(__GLIBC__) || defined(__APPLE__)
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    if (c_locale) return strtod_l(s, nullptr, c_locale);
    return std::strtod(s, nullptr);
#else
    // Without strtod_l: the longest decimal or hexadecimal prefix, as strtod reads it.
    while (c_space(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    double v = 0.0;
    const char* end = s + std::strlen(s);
    auto fmt = std::chars_format::general;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) { s += 2; fmt = std::chars_format::hex; }
    if (std::from_chars(s, end, v, fmt).ec != std::errc{}) v = 0.0;
    return negative ? -v : v;
#endif
}

/// "%d" of an int into `out` (at least 12 bytes); returns the text's length.
inline int format_int(int v, char* out) noexcept {
    char digits[12];
    int n = 0;
    unsigned u = v < 0 ? 0u - unsigned(v) : unsigned(v);
    do { digits[n++] = char('0' + u % 10); u /= 10; } while (u);
    int len = 0;
    if (v < 0) out[len++] = '-';
    while (n) out[len++] = digits[--n];
    out[len] = '\0';
    return len;
}

/// The fields line 1 carries: the satellite number (columns 3-7, as text) and the epoch as a
/// four-digit year (columns 19-20; 57-99 mean 1957-1999) and a day of that year with its
/// fraction (columns 21-32; day 1.0 is 1 January 00:00).
struct Line1 {
    char satno[satno_size];
    int year;
    double day;
};

inline Line1 parse_line1(const char (&line1)[line_size]) noexcept {
    Line1 out{};  // the satellite number is zero-padded after its terminator
    copy_field(out.satno, line1 + 2, satno_size - 1);
    char scratch[13];
    copy_field(scratch, line1 + 18, 2);
    const int yy = parse_int(scratch);
    out.year = yy >= 57 ? 1900 + yy : 2000 + yy;  // element sets start in 1957
    copy_field(scratch, line1 + 20, 12);
    out.day = parse_real(scratch);
    return out;
}

}  // namespace kelvara::tle
