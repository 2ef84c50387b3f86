// kelvara.propagators.analytical.sgp4.tle: the Two-Line Element record. Both lines are kept as
// fixed-size ASCII text; line 1 gives the satellite number and the epoch.
#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "../../../time/time.hpp"
#include "tle.hpp"
#include "tle_doc.hpp"
#include "tle_kernels.hpp"

#include <structmember.h>

#include <cstring>

namespace {

using frame::Ref;
using kelvara::TLEObject;
using namespace kelvara::tle_doc;
namespace kernels = kelvara::tle;

static_assert(kernels::line_size == kelvara::tle_line_size && kernels::satno_size == kelvara::tle_satno_size);
constexpr std::size_t line_chars = kernels::line_chars;

// State of this module (docs/state.md lists every module's): the Time type, bound during exec
// and kept for the life of the process.
PyTypeObject* time_type = nullptr;
const frame::Name str_jd{"jd"}, str_strip{"strip"}, str_upper{"upper"};
const frame::KeyNames kwnames_format{"format"};

// ---------------------------------------------------------------------------------------------
// Line normalisation: strip, upper-case, strict ASCII, then at most 69 bytes up to the first NUL.

/// The characters str.strip() removes, restricted to ASCII (the only ones in an ASCII str).
inline bool ascii_space(unsigned char c) noexcept { return c < 128 && Py_UNICODE_ISSPACE(c); }

/// line.strip().upper().encode("ascii") stored into `dst`. ASCII text is handled in place; other
/// text (whose upper-casing may map it to ASCII) and None go through the str methods, so errors
/// are the interpreter's own (UnicodeEncodeError, TypeError for None).
void normalise_line(PyObject* line, char (&dst)[kelvara::tle_line_size]) {
    if (PyUnicode_CheckExact(line) && PyUnicode_READY(line) == 0 && PyUnicode_IS_ASCII(line)) {
        const auto* s = static_cast<const unsigned char*>(PyUnicode_DATA(line));
        Py_ssize_t lo = 0, hi = PyUnicode_GET_LENGTH(line);
        while (lo < hi && ascii_space(s[lo])) ++lo;
        while (hi > lo && ascii_space(s[hi - 1])) --hi;
        kernels::store_line(dst, reinterpret_cast<const char*>(s + lo), std::size_t(hi - lo), true);
        return;
    }
    // The unbound str.strip refuses None with the interpreter's TypeError.
    Ref strip = frame::getattr(reinterpret_cast<PyObject*>(&PyUnicode_Type), str_strip);
    Ref stripped = frame::call(strip.get(), line);
    Ref upper = Ref::steal(PyObject_CallMethodNoArgs(stripped.get(), str_upper));
    Ref encoded = Ref::steal(PyUnicode_AsASCIIString(upper.get()));
    kernels::store_line(dst, PyBytes_AS_STRING(encoded.get()), std::size_t(PyBytes_GET_SIZE(encoded.get())), false);
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
    static frame::Site site{"parse_line1"};
    frame::guarded_status(site, [&] {
        const kernels::Line1 fields = kernels::parse_line1(self->_line1);
        std::memcpy(self->_satno, fields.satno, sizeof fields.satno);
        char year_text[12];  // four digits: the two-digit year lies in -9..99
        const int year_len = kernels::format_int(fields.year, year_text);
        const double day = fields.day;

        Ref text = Ref::steal(PyUnicode_FromStringAndSize(year_text, year_len));
        Ref year_start = frame::call(reinterpret_cast<PyObject*>(time_type), text.get());
        Ref jd = frame::getattr(year_start.get(), str_jd);
        Ref epoch_jd = start_plus_day(jd.get(), day);
        PyObject* argv[] = {nullptr, epoch_jd.get(), str_jd};  // format="jd"
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
    static frame::Site site{"__cinit__"};
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

Ref get_line1(TLEObject* self) { return line_text(self->_line1); }
Ref get_line2(TLEObject* self) { return line_text(self->_line2); }

/// The satellite number as an int when columns 3-7 read as one, else the stripped text
/// (Alpha-5 numbers such as "A0001" stay text).
Ref get_satno(TLEObject* self) {
    const char* satno = self->_satno;
    Ref text = Ref::steal(PyUnicode_DecodeASCII(satno, Py_ssize_t(strnlen(satno, kernels::satno_size - 1)), nullptr));
    Ref stripped = Ref::steal(PyObject_CallMethodNoArgs(text.get(), str_strip));
    Ref number = Ref::steal_or_null(PyLong_FromUnicodeObject(stripped.get(), 10));
    if (number) return number;
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw frame::PyErrorSet{};
    PyErr_Clear();
    return stripped;
}

PyGetSetDef tle_getset[] = {
    {"line1", frame::getter<get_line1>, nullptr, "TLE.line1: str", nullptr},
    {"line2", frame::getter<get_line2>, nullptr, "TLE.line2: str", nullptr},
    {"satno", frame::getter<get_satno>, nullptr, "TLE.satno: int | str", nullptr},
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

void body(frame::Module&, PyObject* module) {
    frame::add_type(module, &tle_spec, nullptr, &tle_vtable);  // kept for the life of the process
    time_type = kelvara::import_time_type();
}

frame::Module tle_module("kelvara.propagators.analytical.sgp4.tle", "tle",
                         "Two-Line Element sets: the TLE record.", "kelvara/propagators/analytical/sgp4/tle.cpp",
                         {"ValueError", "TypeError"}, body, frame::import_numpy_types);

}  // namespace

PyMODINIT_FUNC PyInit_tle() { return tle_module.init(); }
