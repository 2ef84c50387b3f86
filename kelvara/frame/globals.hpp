// Module-global lookups made at call time (as Python code would see them) and the assertion
// switch of the running interpreter.
#pragma once

#include "cpython.hpp"
#include "module.hpp"

namespace frame {

/// The module global `name` (an interned string), else the builtin of that name, else
/// NameError "name 'x' is not defined". Looked up on every call, so rebinding is honoured.
inline Ref lookup_global(PyObject* module_dict, PyObject* name) {
    PyObject* v = module_dict ? PyDict_GetItemWithError(module_dict, name) : nullptr;
    if (v) return Ref::borrow(v);
    if (PyErr_Occurred()) throw PyErrorSet{};
    PyObject* builtins = PyEval_GetBuiltins();
    v = builtins ? PyDict_GetItemWithError(builtins, name) : nullptr;
    if (v) return Ref::borrow(v);
    if (PyErr_Occurred()) throw PyErrorSet{};
    raise(PyExc_NameError, "name '%U' is not defined", name);
}

/// The global `name` of this library's module (see lookup_global).
inline Ref module_global(PyObject* name) {
    Module* m = Module::current();
    return lookup_global(m ? m->dict() : nullptr, name);
}

/// An interned identifier kept for the life of the process.
inline PyObject* interned(const char* s) {
    PyObject* o = PyUnicode_InternFromString(s);
    return check(o);
}

/// True unless the interpreter runs with assertions disabled (-O); read at every call.
inline bool assertions_enabled() noexcept { return cpython::assertions_enabled(); }

/// `assert cond` with a bare AssertionError, skipped when assertions are disabled.
inline void check_assert(bool cond) {
    if (!cond) {
        PyErr_SetNone(PyExc_AssertionError);
        throw PyErrorSet{};
    }
}

/// `assert cond()` with a bare AssertionError; the condition is not evaluated under -O.
template <class F>
inline void assert_that(F&& cond) {
    if (assertions_enabled()) check_assert(cond());
}

}  // namespace frame
