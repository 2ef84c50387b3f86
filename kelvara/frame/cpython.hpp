// Every CPython internal the frame and the modules touch, behind one version gate. Code outside
// this header uses only the functions below, so that supporting another interpreter version is
// a change to this file alone (3.12 moved the tracing flag out of `cframe` and deprecated
// Py_OptimizeFlag; 3.13 renamed `_PyThreadState_UncheckedGet` and hid `_PyObject_GetDictPtr`).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#if PY_VERSION_HEX < 0x030B0000 || PY_VERSION_HEX >= 0x030C0000
#error "kelvara/frame/cpython.hpp knows the internals of CPython 3.11 only"
#endif

namespace frame::cpython {

/// The running thread's state without the lock check (null when no thread state is bound).
inline PyThreadState* thread_state() noexcept { return _PyThreadState_UncheckedGet(); }

/// True when a profiler installed with sys.setprofile should hear about a call starting now.
inline bool profiler_active(PyThreadState* ts) noexcept {
    return ts->cframe->use_tracing && !ts->tracing && ts->c_profilefunc;
}

/// Deliver one profiler event (`what` is PyTrace_CALL or PyTrace_RETURN) for `frame`.
inline int call_profiler(PyThreadState* ts, PyFrameObject* frame, int what, PyObject* arg) noexcept {
    return ts->c_profilefunc(ts->c_profileobj, frame, what, arg);
}

/// Append a traceback entry naming a C function to the pending exception.
inline void add_traceback(const char* funcname, const char* filename, int lineno) noexcept {
    _PyTraceback_Add(funcname, filename, lineno);
}

/// Set `exc` with a formatted message, chained to the pending exception as its __cause__.
template <class... A>
inline void format_from_cause(PyObject* exc, const char* fmt, A... args) noexcept {
    _PyErr_FormatFromCause(exc, fmt, args...);
}

/// The address of an object's `__dict__` slot (null when its type has none).
inline PyObject** dict_ptr(PyObject* o) noexcept { return _PyObject_GetDictPtr(o); }

/// A type's short name as its repr shows it (the part after the last dot of tp_name).
inline const char* type_name(PyTypeObject* t) noexcept { return _PyType_Name(t); }

/// True unless the interpreter runs with assertions disabled (-O); read at every call.
inline bool assertions_enabled() noexcept {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    return Py_OptimizeFlag == 0;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

}  // namespace frame::cpython
