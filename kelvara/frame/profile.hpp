// Call and return events for a profiler installed with sys.setprofile. Each Python-callable
// entry point owns a static Site; when no profiler is installed the cost is one branch.
#pragma once

#include "core.hpp"
#include "cpython.hpp"

namespace frame {

/// One profiled function; the code object is made on first use and kept for the life of the
/// process. The naming rule every module follows, so that a profiler sees one vocabulary:
///   - `name` is the name the callable has in Python: the method or function name; `__cinit__`
///     for tp_new (unless a module's published profile fixes another, such as `Time.__new__`),
///     `__init__` for tp_init, `__get__`/`__set__`/`__del__` for property slots, and the table
///     name (e.g. `calculate_position`) for a C-level method; frame::Method and frame::getter
///     apply the rule themselves;
///   - `file` is left out (null): every site reports under its module's source file, which the
///     module record sets. Sites are declared as `static frame::Site site{"name"};`.
struct Site {
    const char* name;
    const char* file;
    PyCodeObject* code = nullptr;
};

/// Source file of the module this shared library holds; sites without a file of their own
/// (hooks defined in the frame) report under it.
inline const char*& source_file() {
    static const char* file = "<kelvara>";
    return file;
}

/// Globals handed to the synthetic frames; a module sets it to its dict during exec.
inline PyObject*& profile_globals() {
    static PyObject* globals = nullptr;
    return globals;
}

/// True when a profiler should hear about a call starting now.
inline bool profiling(PyThreadState* ts) noexcept {
    return __builtin_expect(cpython::profiler_active(ts), 0);
}

/// Emits the call event on construction and the return event on destruction. The return event
/// carries the result (None on failure) and keeps any pending exception intact.
class Profiled {
public:
    explicit Profiled(Site& site) noexcept {
        PyThreadState* ts = cpython::thread_state();
        if (profiling(ts)) start(site, ts);
    }
    ~Profiled() { if (code_) finish(); }
    Profiled(const Profiled&) = delete;
    Profiled& operator=(const Profiled&) = delete;

    /// The value the return event reports (borrowed; must outlive this guard).
    void result(PyObject* r) noexcept { result_ = r; }

private:
    void start(Site& site, PyThreadState* ts) noexcept {
        ErrorStash keep;
        if (!site.code) site.code = PyCode_NewEmpty(site.file ? site.file : source_file(), site.name, 1);
        if (!site.code) { PyErr_Clear(); return; }
        code_ = site.code;
        if (cpython::profile_function_active(ts)) {
            PyObject* globals = profile_globals();
            Ref scratch;
            if (!globals) {
                scratch = Ref::steal_or_null(PyDict_New());
                globals = scratch.get();
            }
            frame_ = globals ? PyFrame_New(ts, site.code, globals, nullptr) : nullptr;
            if (frame_) {
                PyThreadState_EnterTracing(ts);
                int rc = cpython::call_profiler(ts, frame_, PyTrace_CALL, nullptr);
                PyThreadState_LeaveTracing(ts);
                if (rc) PyErr_Clear();
            } else {
                PyErr_Clear();
            }
        }
        int rc = cpython::monitor(ts, code_, PyTrace_CALL, nullptr);
        if (rc < 0) PyErr_Clear();
        monitored_ = rc > 0;
    }

    void finish() noexcept {
        PyThreadState* ts = cpython::thread_state();
        PyObject* value = PyErr_Occurred() ? Py_None : (result_ ? result_ : Py_None);
        ErrorStash keep;
        if (frame_) {
            if (cpython::profile_function_active(ts)) {
                PyThreadState_EnterTracing(ts);
                int rc = cpython::call_profiler(ts, frame_, PyTrace_RETURN, value);
                PyThreadState_LeaveTracing(ts);
                if (rc) PyErr_Clear();
            }
            Py_DECREF(frame_);
        }
        // A tool hears the return only of a call it heard: cProfile pairs them by position.
        if (monitored_ && cpython::monitor(ts, code_, PyTrace_RETURN, value) < 0) PyErr_Clear();
    }

    PyCodeObject* code_ = nullptr;   // the site's (it lives as long as the process); null: no events
    PyFrameObject* frame_ = nullptr; // the frame the profile function heard the call with
    bool monitored_ = false;         // sys.monitoring tools heard the call
    PyObject* result_ = nullptr;
};

/// The boundary of every Python-callable entry point: profile events, then `body` with C++
/// exceptions translated into a null return with the Python error set.
template <class F>
inline PyObject* guarded(Site& site, F&& body) noexcept {
    Profiled events(site);
    PyObject* r = translate<PyObject*>(nullptr, [&]() -> PyObject* { return body().release(); });
    events.result(r);
    return r;
}

/// The same boundary for slots that return an int status (0 success, -1 failure).
template <class F>
inline int guarded_status(Site& site, F&& body) noexcept {
    Profiled events(site);
    return translate<int>(-1, [&]() -> int { body(); return 0; });
}

}  // namespace frame
