// Core vocabulary of every kelvara module: an owning reference, the "a Python error is set"
// exception, and the noexcept boundary that turns C++ exceptions into CPython failure returns.
#pragma once

#include "cpython.hpp"

#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace frame {

/// Thrown when a CPython call failed and left its exception set; never carries data.
struct PyErrorSet {};

/// Throw PyErrorSet if `p` is null (a CPython call failed); otherwise return it.
template <class T>
inline T* check(T* p) {
    if (!p) throw PyErrorSet{};
    return p;
}

/// Throw PyErrorSet if a CPython status code signals failure (-1).
inline int check_status(int status) {
    if (status < 0) throw PyErrorSet{};
    return status;
}

/// Raise `exc` with a formatted message and unwind to the boundary.
template <class... A>
[[noreturn]] inline void raise(PyObject* exc, const char* fmt, A... args) {
    PyErr_Format(exc, fmt, args...);
    throw PyErrorSet{};
}

/// Owning reference to a Python object (nullptr allowed); copy adds a reference, move steals.
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~Ref() { Py_XDECREF(p_); }
    Ref& operator=(Ref o) noexcept { std::swap(p_, o.p_); return *this; }

    /// Take over a new reference (the usual result of a CPython call); throws on null.
    static Ref steal(PyObject* p) { return Ref(check(p), 0); }
    /// Take over a new reference that may be null without an error (optional lookups).
    static Ref steal_or_null(PyObject* p) noexcept { return Ref(p, 0); }
    /// Add a reference to a borrowed pointer.
    static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return Ref(p, 0); }

    PyObject* get() const noexcept { return p_; }
    PyObject* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    /// Give up ownership: the caller now holds the reference.
    PyObject* release() noexcept { PyObject* p = p_; p_ = nullptr; return p; }
    void reset() noexcept { Py_CLEAR(p_); }

private:
    Ref(PyObject* p, int) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

/// Attribute lookup that throws on failure.
inline Ref getattr(PyObject* o, const char* name) { return Ref::steal(PyObject_GetAttrString(o, name)); }
inline Ref getattr(PyObject* o, PyObject* name) { return Ref::steal(PyObject_GetAttr(o, name)); }
/// `getattr(o, name)` where a missing attribute is an answer: a null Ref when the lookup raised
/// AttributeError (cleared), the attribute otherwise; any other error propagates.
inline Ref getattr_optional(PyObject* o, PyObject* name) {
    Ref v = Ref::steal_or_null(PyObject_GetAttr(o, name));
    if (v) return v;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrorSet{};
    PyErr_Clear();
    return v;
}
inline Ref getattr_optional(PyObject* o, const char* name) {
    Ref v = Ref::steal_or_null(PyObject_GetAttrString(o, name));
    if (v) return v;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrorSet{};
    PyErr_Clear();
    return v;
}

inline Ref import(const char* name) { return Ref::steal(PyImport_ImportModule(name)); }
inline Ref str(const char* s) { return Ref::steal(PyUnicode_FromString(s)); }
inline Ref as_float(double v) { return Ref::steal(PyFloat_FromDouble(v)); }

/// The UTF-8 text of the str `o` for C code that reads it as a C string. A str that cannot be
/// encoded (a lone surrogate) raises UnicodeEncodeError; one holding a NUL, which C would read
/// as its end, raises ValueError naming `what`.
inline const char* c_text(PyObject* o, const char* what) {
    Py_ssize_t n = 0;
    const char* s = check(PyUnicode_AsUTF8AndSize(o, &n));
    if (std::strlen(s) != std::size_t(n)) raise(PyExc_ValueError, "%s must not contain a NUL character: %R", what, o);
    return s;
}

/// The bytes of a file name given as a str, in the file-system encoding (as os.fsencode makes
/// them, so a name os.listdir() decoded with surrogate escapes gives back its bytes).
inline std::string fs_name(PyObject* o) {
    Ref b = Ref::steal(PyUnicode_EncodeFSDefault(o));
    return std::string(PyBytes_AS_STRING(b.get()), std::size_t(PyBytes_GET_SIZE(b.get())));
}

/// Call `fn(args...)` with positional arguments only.
template <class... A>
inline Ref call(PyObject* fn, A... args) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(args)...};
    return Ref::steal(PyObject_Vectorcall(fn, argv + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// Convert a Python number to a C double, throwing on failure.
inline double to_double(PyObject* o) {
    double v = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
    return v;
}

/// Poll for signals once every `every` items (a power of two) of a long loop run with the lock
/// held: a pending KeyboardInterrupt (or a signal handler's exception) unwinds to the boundary.
/// 65536 suits items of well under a microsecond; loops whose items cost microseconds poll more
/// often, so that Ctrl-C still ends them within a few hundredths of a second.
inline void poll_signals(Py_ssize_t i, Py_ssize_t every = 65536) {
    if ((i & (every - 1)) == every - 1 && PyErr_CheckSignals() < 0) throw PyErrorSet{};
}

/// Look at pending signals now, between blocks of work run without the lock: a pending
/// KeyboardInterrupt (or a signal handler's exception) unwinds to the boundary.
inline void check_signals() {
    if (PyErr_CheckSignals() < 0) throw PyErrorSet{};
}

/// Run `body` translating C++ failures into a set Python exception; `fail` is the failure value.
template <class R, class F>
inline R translate(R fail, F&& body) noexcept {
    try {
        return body();
    } catch (const PyErrorSet&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    return fail;
}

/// Saves the pending exception (if any) and restores it when the scope ends.
using ErrorStash = cpython::ErrorStash;

}  // namespace frame
