// kelvara.propagators.analytical.sgp4.tle: the Two-Line Element record. Both lines are kept as
// fixed-size ASCII text; line 1 gives the satellite number and the epoch.
#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "tle.hpp"

#include <structmember.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include "../../../time/time.hpp"

namespace {

using frame::Ref;
using kelvara::TLEObject;

constexpr std::size_t line_chars = kelvara::tle_line_size - 1;

// Bound during exec and kept for the life of the process.
PyTypeObject* time_type = nullptr;
PyObject* str_jd = nullptr;           // "jd"
PyObject* str_strip = nullptr;        // "strip"
PyObject* str_upper = nullptr;        // "upper"
PyObject* kwnames_format = nullptr;   // ("format",)
PyObject* str_format_jd = nullptr;    // "jd", the value of format=

// ---------------------------------------------------------------------------------------------
// Line normalisation: strip, upper-case, strict ASCII, then at most 69 bytes up to the first NUL.

/// The characters str.strip() removes, restricted to ASCII (the only ones in an ASCII str).
inline bool ascii_space(unsigned char c) noexcept { return c < 128 && Py_UNICODE_ISSPACE(c); }

/// Copy `n` bytes of text into a line buffer: stops at the first zero byte and after 69 bytes,
/// and zero-fills the rest, so the buffer always holds one terminated text.
void store_line(char (&dst)[kelvara::tle_line_size], const char* src, Py_ssize_t n, bool upper) noexcept {
    std::size_t len = std::size_t(n) < line_chars ? std::size_t(n) : line_chars;
    if (const void* nul = std::memchr(src, '\0', len)) len = std::size_t(static_cast<const char*>(nul) - src);
    if (upper) {
        for (std::size_t i = 0; i < len; ++i) {
            unsigned char c = static_cast<unsigned char>(src[i]);
            dst[i] = char(c - ((unsigned char)(c - 'a') < 26u ? 'a' - 'A' : 0));
        }
    } else {
        std::memcpy(dst, src, len);
    }
    std::memset(dst + len, 0, kelvara::tle_line_size - len);
}

/// line.strip().upper().encode("ascii") stored into `dst`. ASCII text is handled in place; other
/// text (whose upper-casing may map it to ASCII) and None go through the str methods, so errors
/// are the interpreter's own (UnicodeEncodeError, TypeError for None).
void normalise_line(PyObject* line, char (&dst)[kelvara::tle_line_size]) {
    if (PyUnicode_CheckExact(line) && PyUnicode_READY(line) == 0 && PyUnicode_IS_ASCII(line)) {
        const auto* s = static_cast<const unsigned char*>(PyUnicode_DATA(line));
        Py_ssize_t lo = 0, hi = PyUnicode_GET_LENGTH(line);
        while (lo < hi && ascii_space(s[lo])) ++lo;
        while (hi > lo && ascii_space(s[hi - 1])) --hi;
        store_line(dst, reinterpret_cast<const char*>(s + lo), hi - lo, true);
        return;
    }
    // The unbound str.strip refuses None with the interpreter's TypeError.
    Ref strip = frame::getattr(reinterpret_cast<PyObject*>(&PyUnicode_Type), str_strip);
    Ref stripped = frame::call(strip.get(), line);
    Ref upper = Ref::steal(PyObject_CallMethodNoArgs(stripped.get(), str_upper));
    Ref encoded = Ref::steal(PyUnicode_AsASCIIString(upper.get()));
    store_line(dst, PyBytes_AS_STRING(encoded.get()), PyBytes_GET_SIZE(encoded.get()), false);
}

// ---------------------------------------------------------------------------------------------
// Field decoding of line 1. Every read stays inside the 70-byte buffer: the fields end at
// position 31 and copies stop at the first zero byte.

/// Copy up to `n` bytes from `src`, stopping at a zero byte, into `dst` and terminate it.
void copy_field(char* dst, const char* src, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
    dst[i] = '\0';
}

inline bool c_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// atoi: leading blanks, an optional sign, then decimal digits; 0 when no digit follows.
int parse_int(const char* s) noexcept {
    while (c_space(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    int v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) v = v * 10 + (*s - '0');
    return negative ? -v : v;
}

/// atof in the "C" locale: leading blanks, then the longest prefix that reads as a number, 0.0
/// when none does. The decimal point is '.', whatever locale the process has switched to.
double parse_real(const char* s) {
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
#endif
    while (c_space(*s)) ++s;
    char* end = nullptr;
    double v = PyOS_string_to_double(s, &end, nullptr);
    if (v == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw frame::PyErrorSet{};
        PyErr_Clear();
        return 0.0;
    }
    return v;
}

/// "%d" of a year into `out` (at least 12 bytes); returns the text's length.
int format_int(int v, char* out) noexcept {
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

/// `jd - 1.0 + day`: plain double arithmetic for a float or an int, the number protocol for
/// anything else a Time may return.
Ref start_plus_day(PyObject* jd, double day) {
    if (PyFloat_CheckExact(jd)) return frame::as_float(PyFloat_AS_DOUBLE(jd) - 1.0 + day);
    if (PyLong_CheckExact(jd)) {
        double v = PyLong_AsDouble(jd);
        if (v == -1.0 && PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::as_float(v - 1.0 + day);
    }
    Ref one = frame::as_float(1.0);
    Ref start = Ref::steal(PyNumber_Subtract(jd, one.get()));
    Ref d = frame::as_float(day);
    return Ref::steal(PyNumber_Add(start.get(), d.get()));
}

void parse_line1(TLEObject* self) noexcept {
    static frame::Site site{"parse_line1", nullptr};
    frame::guarded_status(site, [&] {
        copy_field(self->_satno, self->_line1 + 2, kelvara::tle_satno_size - 1);

        char scratch[13];
        copy_field(scratch, self->_line1 + 18, 2);
        int yy = parse_int(scratch);
        int year = yy >= 57 ? 1900 + yy : 2000 + yy;  // element sets start in 1957
        char year_text[12];  // four digits: yy lies in -9..99
        int year_len = format_int(year, year_text);

        copy_field(scratch, self->_line1 + 20, 12);
        double day = parse_real(scratch);  // day 1.0 is 1 January 00:00

        Ref text = Ref::steal(PyUnicode_FromStringAndSize(year_text, year_len));
        Ref year_start = frame::call(reinterpret_cast<PyObject*>(time_type), text.get());
        Ref jd = frame::getattr(year_start.get(), str_jd);
        Ref epoch_jd = start_plus_day(jd.get(), day);
        PyObject* argv[] = {nullptr, epoch_jd.get(), str_format_jd};
        Ref epoch = Ref::steal(PyObject_Vectorcall(reinterpret_cast<PyObject*>(time_type), argv + 1,
                                                   1 | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames_format));
        Py_SETREF(self->epoch, epoch.release());
    });
}

kelvara::TLEVTable tle_vtable = {parse_line1};

// ---------------------------------------------------------------------------------------------
// The TLE type.

/// __cinit__(line1, line2, strict_validation): checks, normalises both lines, then parses line 1.
int tle_cinit(TLEObject* self, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__", nullptr};
    static const frame::Signature<3> sig{"__cinit__", {"line1", "line2", "strict_validation"}, 2};
    return frame::guarded_status(site, [&] {
        auto [line1, line2, strict] = frame::parse(sig, args, kwargs);
        // Accepted for compatibility; the record is parsed the same way either way.
        if (strict) frame::check_status(PyObject_IsTrue(strict));
        frame::check_arg_type(line1, &PyUnicode_Type, "line1", true, true);
        frame::check_arg_type(line2, &PyUnicode_Type, "line2", true, true);
        char l1[kelvara::tle_line_size], l2[kelvara::tle_line_size];
        normalise_line(line1, l1);
        normalise_line(line2, l2);
        std::memcpy(self->_line1, l1, sizeof l1);
        std::memcpy(self->_line2, l2, sizeof l2);
        self->vtab->parse_line1(self);
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
    });
}

PyObject* tle_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* o = type->tp_alloc(type, 0);  // zero-filled: empty lines and satno
    if (!o) return nullptr;
    auto* self = reinterpret_cast<TLEObject*>(o);
    self->vtab = &tle_vtable;
    self->epoch = Py_NewRef(Py_None);
    if (tle_cinit(self, args, kwargs) < 0) {
        Py_DECREF(o);
        return nullptr;
    }
    return o;
}

using TLEGC = frame::OneReferenceGC<TLEObject, &TLEObject::epoch>;

/// A stored line as str.
Ref line_text(const char (&line)[kelvara::tle_line_size]) {
    return Ref::steal(PyUnicode_DecodeASCII(line, Py_ssize_t(strnlen(line, line_chars)), nullptr));
}

PyObject* get_line1(PyObject* o, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] { return line_text(reinterpret_cast<TLEObject*>(o)->_line1); });
}

PyObject* get_line2(PyObject* o, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] { return line_text(reinterpret_cast<TLEObject*>(o)->_line2); });
}

/// The satellite number as an int when columns 3-7 read as one, else the stripped text
/// (Alpha-5 numbers such as "A0001" stay text).
PyObject* get_satno(PyObject* o, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] {
        const char* satno = reinterpret_cast<TLEObject*>(o)->_satno;
        Ref text = Ref::steal(
            PyUnicode_DecodeASCII(satno, Py_ssize_t(strnlen(satno, kelvara::tle_satno_size - 1)), nullptr));
        Ref stripped = Ref::steal(PyObject_CallMethodNoArgs(text.get(), str_strip));
        Ref number = Ref::steal_or_null(PyLong_FromUnicodeObject(stripped.get(), 10));
        if (number) return number;
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw frame::PyErrorSet{};
        PyErr_Clear();
        return stripped;
    });
}

// Docstrings of the type and of `epoch`; the examples run as doctests in the test suite.

constexpr const char* doc_TLE = R"doc(TLE(line1, line2, strict_validation=True)
--

A Two-Line Element set: both lines, the satellite number and the epoch.

The lines are stored stripped of surrounding whitespace and upper-cased, each cut to 69
characters. Only line 1 is read: the satellite number from columns 3-7 and the epoch from
columns 19-32 (two-digit year, 57-99 meaning 1957-1999, and day of the year with its
fraction). No checksum or column format is verified.

Parameters
----------
line1, line2 : str
    The two lines of the element set (exactly ``str``).
strict_validation : bool, optional
    Accepted for compatibility; the lines are read the same way whatever its value.

Attributes
----------
line1, line2 : str
    The stored lines.
satno : int or str
    The satellite number: an int, or the text itself when it is not a decimal number
    (such as the alphanumeric ``'A0001'``).
epoch : Time
    Epoch of the element set, on UTC.

Raises
------
TypeError
    A line that is not exactly a ``str``.
UnicodeEncodeError
    A line with a non-ASCII character.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.tle import TLE
>>> tle = TLE("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
...           "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
>>> tle.satno
25544
>>> tle.epoch
Time('2008-09-20T12:25:40.104...', scale='utc')
>>> TLE("  1 a0001u 98067a   08264.5  \n", "2 A0001").line1
'1 A0001U 98067A   08264.5'
)doc";

constexpr const char* doc_epoch = R"doc(TLE.epoch: Time

Epoch of the element set: the start of the year of columns 19-20 of line 1 plus the day
of columns 21-32 minus one, on UTC. The same object on every read.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.tle import TLE
>>> TLE("1 00005U 58002B   00001.50000000", "2 00005").epoch
Time('2000-01-01T12:00:00.000000', scale='utc')
)doc";

PyGetSetDef tle_getset[] = {
    {"line1", get_line1, nullptr, "TLE.line1: str", nullptr},
    {"line2", get_line2, nullptr, "TLE.line2: str", nullptr},
    {"satno", get_satno, nullptr, "TLE.satno: int | str", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef tle_members[] = {
    {"epoch", T_OBJECT, offsetof(TLEObject, epoch), READONLY, doc_epoch},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef tle_methods[] = {
    REFUSING_PICKLE_METHODS("TLE"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tle_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_TLE)},
    {Py_tp_new, reinterpret_cast<void*>(tle_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(TLEGC::dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(TLEGC::traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(TLEGC::clear)},
    {Py_tp_getset, tle_getset},
    {Py_tp_members, tle_members},
    {Py_tp_methods, tle_methods},
    {0, nullptr},
};

PyType_Spec tle_spec = {
    "kelvara.propagators.analytical.sgp4.tle.TLE",
    int(sizeof(TLEObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    tle_slots,
};

PyObject* intern(const char* s) { return frame::check(PyUnicode_InternFromString(s)); }

void body(frame::Module&, PyObject* module) {
    str_jd = intern("jd");
    str_strip = intern("strip");
    str_upper = intern("upper");
    str_format_jd = str_jd;
    kwnames_format = frame::check(Py_BuildValue("(O)", frame::Ref::steal(intern("format")).get()));

    frame::add_type(module, &tle_spec, nullptr, &tle_vtable);  // kept for the life of the process
    time_type = frame::import_type("kelvara.time.time", "Time", sizeof(kelvara::TimeObject));
}

frame::Module tle_module("kelvara.propagators.analytical.sgp4.tle", "tle",
                         "Two-Line Element sets: the TLE record.", "kelvara/propagators/analytical/sgp4/tle.cpp",
                         {"ValueError", "TypeError"}, body, frame::import_numpy_types);

}  // namespace

PyMODINIT_FUNC PyInit_tle() { return tle_module.init(); }
