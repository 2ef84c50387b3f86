// Every CPython internal (and every version difference of the C API) the frame and the modules
// touch, behind one version gate. Code outside this header uses only the functions below, so
// that supporting another interpreter version is a change to this file alone.
//
// What differs between the versions we know:
//   - 3.12 moved the tracing flag out of `cframe`, and rebuilt sys.setprofile on PEP 669
//     (sys.monitoring); the profile function in the thread state still takes our frames;
//   - 3.12 deprecated PyErr_Fetch/PyErr_Restore (PyErr_GetRaisedException replaces them) and
//     Py_OptimizeFlag (still set from the configuration on 3.12 and 3.13);
//   - 3.13 renamed `_PyThreadState_UncheckedGet` (PyThreadState_GetUnchecked), hid
//     `_PyObject_GetDictPtr`, `_PyTraceback_Add` and `_PyErr_FormatFromCause`, and offers the
//     PEP 669 C API (PyMonitoring_*), through which tools such as cProfile hear our calls.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#include <cstdint>

// The version the gate decides on. It is PY_VERSION_HEX unless set on the command line, which
// only the gate's own test does (to see the message an unknown version gets); a value naming
// another minor version than the headers in use is refused below.
#ifndef KELVARA_PY_VERSION_HEX
#define KELVARA_PY_VERSION_HEX PY_VERSION_HEX
#endif

#if KELVARA_PY_VERSION_HEX >= 0x030B0000 && KELVARA_PY_VERSION_HEX < 0x030C0000
#define KELVARA_PY_MINOR 11
#elif KELVARA_PY_VERSION_HEX >= 0x030C0000 && KELVARA_PY_VERSION_HEX < 0x030D0000
#define KELVARA_PY_MINOR 12
#elif KELVARA_PY_VERSION_HEX >= 0x030D0000 && KELVARA_PY_VERSION_HEX < 0x030E0000
#define KELVARA_PY_MINOR 13
#else
#error "kelvara/frame/cpython.hpp knows CPython 3.11, 3.12 and 3.13 only: check it against the new version's headers before adding that version to the gate"
#endif

#if defined(KELVARA_PY_MINOR) && (KELVARA_PY_VERSION_HEX >> 16) != (PY_VERSION_HEX >> 16)
#error "KELVARA_PY_VERSION_HEX names another CPython version than the Python.h in use"
#endif

#ifdef KELVARA_PY_MINOR
namespace frame::cpython {

/// The interpreter version the module is compiled for.
inline constexpr int compiled_major = PY_MAJOR_VERSION;
inline constexpr int compiled_minor = PY_MINOR_VERSION;

/// The running thread's state without the lock check (null when no thread state is bound).
inline PyThreadState* thread_state() noexcept {
#if KELVARA_PY_MINOR >= 13
    return PyThreadState_GetUnchecked();
#else
    return _PyThreadState_UncheckedGet();
#endif
}

// ---- the pending exception

/// Take the pending exception out of the thread state, normalised and carrying its traceback
/// (a new reference; null when none is pending).
inline PyObject* take_exception() noexcept {
#if KELVARA_PY_MINOR >= 12
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return nullptr;
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return value;
#endif
}

/// Make `exc` (a reference taken by take_exception, stolen here; null for none) the pending
/// exception again.
inline void restore_exception(PyObject* exc) noexcept {
#if KELVARA_PY_MINOR >= 12
    PyErr_SetRaisedException(exc);
#else
    if (!exc) return PyErr_Restore(nullptr, nullptr, nullptr);
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

/// Saves the pending exception (if any) exactly as it is and restores it when the scope ends.
class ErrorStash {
public:
#if KELVARA_PY_MINOR >= 12
    ErrorStash() noexcept : exc_(PyErr_GetRaisedException()) {}
    ~ErrorStash() { PyErr_SetRaisedException(exc_); }
#else
    ErrorStash() noexcept { PyErr_Fetch(&t_, &v_, &tb_); }
    ~ErrorStash() { PyErr_Restore(t_, v_, tb_); }
#endif
    ErrorStash(const ErrorStash&) = delete;
    ErrorStash& operator=(const ErrorStash&) = delete;
private:
#if KELVARA_PY_MINOR >= 12
    PyObject* exc_;
#else
    PyObject *t_, *v_, *tb_;
#endif
};

/// Append a traceback entry naming a C function to the pending exception. Made as CPython
/// makes its own entries for C code: an empty code object in a frame of its own.
inline void add_traceback(const char* funcname, const char* filename, int lineno) noexcept {
    PyObject* exc = take_exception();
    if (!exc) return;
    PyObject* globals = PyDict_New();
    PyCodeObject* code = globals ? PyCode_NewEmpty(filename, funcname, lineno) : nullptr;
    PyFrameObject* f = code ? PyFrame_New(PyThreadState_Get(), code, globals, nullptr) : nullptr;
    Py_XDECREF(code);
    Py_XDECREF(globals);
    // An entry that cannot be made is left out: the exception being reported matters more.
    if (!f) PyErr_Clear();
    restore_exception(exc);
    if (f) {
        PyTraceBack_Here(f);
        Py_DECREF(f);
    }
}

/// Set `exc` with a formatted message, chained to the pending exception as its __cause__ (and
/// __context__), as `raise exc(...) from pending` would.
template <class... A>
inline void format_from_cause(PyObject* exc, const char* fmt, A... args) noexcept {
    PyObject* cause = take_exception();
    PyErr_Format(exc, fmt, args...);
    if (!cause) return;
    PyObject* raised = take_exception();
    if (raised) {
        PyException_SetCause(raised, Py_NewRef(cause));
        PyException_SetContext(raised, Py_NewRef(cause));
    }
    Py_DECREF(cause);
    restore_exception(raised);
}

// ---- objects and types

/// An object's instance `__dict__` (a new reference, made empty if the object had none yet);
/// null without an error set when its type gives it none, null with the error set on failure.
inline PyObject* instance_dict(PyObject* o) noexcept {
    PyObject* d = PyObject_GenericGetDict(o, nullptr);
    if (!d && PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return d;
}

/// A type's short name as its repr shows it (the part after the last dot of tp_name).
inline const char* type_name(PyTypeObject* t) noexcept { return _PyType_Name(t); }

// ---- assertions

/// True unless the interpreter runs with assertions disabled (-O); read at every call, so that
/// a change of the flag while the interpreter runs (the tests make one) takes effect at once.
/// Py_OptimizeFlag is deprecated since 3.12 but still set from the configuration on 3.12 and
/// 3.13; sys.flags.optimize says the same at start-up but is fixed for the interpreter's life.
/// Where the flag is gone (a later version), PyConfig_GetInt("optimization_level") replaces it.
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

// ---- profiling
//
// A profiler installed with sys.setprofile (or PyEval_SetProfile) hears our calls through the
// thread state's profile function, on every version: we hand it a frame of the C function's own
// (its code object names the function and the module's source file), as the interpreter does for
// Python functions. On 3.12 and later sys.setprofile is itself a sys.monitoring tool, whose own
// events would show the *calling* frame; so it must not also hear our calls through PEP 669.
// Other sys.monitoring tools (cProfile on 3.12 and later is one) hear them, from 3.13 on, as
// PY_START and PY_RETURN events of the same code object, fired through the PEP 669 C API.
// 3.12 has no such API: there those tools see only the C function's CALL event.

#if KELVARA_PY_MINOR >= 13
namespace detail {
/// The tool ids sys.setprofile and sys.settrace run under: served through the profile function.
inline constexpr std::uint8_t legacy_tools = (1u << 6) | (1u << 7);
inline constexpr std::uint8_t monitored_events[2] = {PY_MONITORING_EVENT_PY_START, PY_MONITORING_EVENT_PY_RETURN};

/// The monitoring state of the call and return events (one per shared library, under the lock).
struct Monitoring {
    PyMonitoringState state[2] = {};
    std::uint64_t version = 0;
};
inline Monitoring& monitoring() noexcept {
    static Monitoring m;
    return m;
}
/// The tools other than the legacy ones that listen to event `i` (0 call, 1 return) now.
inline std::uint8_t monitoring_tools(int i) noexcept {
    Monitoring& m = monitoring();
    if (PyMonitoring_EnterScope(m.state, &m.version, monitored_events, 2) < 0) {
        PyErr_Clear();
        return 0;
    }
    return m.state[i].active & std::uint8_t(~legacy_tools);
}
}  // namespace detail
#endif

/// True when the profile function installed with sys.setprofile should hear about a call now.
inline bool profile_function_active(PyThreadState* ts) noexcept {
#if KELVARA_PY_MINOR >= 12
    return !ts->tracing && ts->c_profilefunc;
#else
    return ts->cframe->use_tracing && !ts->tracing && ts->c_profilefunc;
#endif
}

/// True when anyone (the profile function, or a sys.monitoring tool) should hear about a call
/// starting now.
inline bool profiler_active(PyThreadState* ts) noexcept {
#if KELVARA_PY_MINOR >= 13
    if (profile_function_active(ts)) return true;
    return !ts->tracing && detail::monitoring_tools(0);
#else
    return profile_function_active(ts);
#endif
}

/// Deliver one event (`what` is PyTrace_CALL or PyTrace_RETURN) for `frame` to the profile
/// function; the caller has checked profile_function_active.
inline int call_profiler(PyThreadState* ts, PyFrameObject* frame, int what, PyObject* arg) noexcept {
    return ts->c_profilefunc(ts->c_profileobj, frame, what, arg);
}

/// Deliver the call (`what` PyTrace_CALL) or return (PyTrace_RETURN, `result` the value) event
/// of `code` to the sys.monitoring tools listening (none before 3.13): 1 when some heard it, 0
/// when none listens, -1 with an exception set when a tool failed. No exception may be pending.
inline int monitor(PyThreadState* ts, PyCodeObject* code, int what, PyObject* result) noexcept {
#if KELVARA_PY_MINOR >= 13
    if (ts->tracing) return 0;
    int i = what == PyTrace_CALL ? 0 : 1;
    std::uint8_t tools = detail::monitoring_tools(i);
    if (!tools) return 0;
    // The tools are called through a copy, so that the legacy ones stay left out and a tool
    // answering DISABLE affects this event only.
    PyMonitoringState state = detail::monitoring().state[i];
    state.active = tools;
    PyObject* codelike = reinterpret_cast<PyObject*>(code);
    int rc = i == 0 ? PyMonitoring_FirePyStartEvent(&state, codelike, 0)
                    : PyMonitoring_FirePyReturnEvent(&state, codelike, 0, result);
    return rc < 0 ? -1 : 1;
#else
    (void)ts, (void)code, (void)what, (void)result;
    return 0;
#endif
}

}  // namespace frame::cpython
#endif  // KELVARA_PY_MINOR
