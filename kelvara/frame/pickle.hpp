// The pickling hooks every extension type carries: `__reduce_cython__` and
// `__setstate_cython__`, installed as `__reduce__` and `__setstate__`. Types whose allocation
// needs arguments refuse both.
#pragma once

#include "profile.hpp"

namespace frame {

inline constexpr const char* no_reduce_message = "no default __reduce__ due to non-trivial __cinit__";

namespace detail {
inline PyObject* refuse_reduce(PyObject*, PyObject*) noexcept {
    static Site site{"__reduce_cython__", nullptr};
    return guarded(site, []() -> Ref { raise(PyExc_TypeError, "%s", no_reduce_message); });
}
inline PyObject* refuse_setstate(PyObject*, PyObject*) noexcept {
    static Site site{"__setstate_cython__", nullptr};
    return guarded(site, []() -> Ref { raise(PyExc_TypeError, "%s", no_reduce_message); });
}
}  // namespace detail

/// Method-table entries of the refusing hooks, for a type's PyMethodDef array.
#define REFUSING_PICKLE_METHODS(TYPE)                                                                       \
    {"__reduce_cython__", reinterpret_cast<PyCFunction>(::frame::detail::refuse_reduce), METH_NOARGS,      \
     TYPE ".__reduce_cython__(self)"},                                                                      \
    {"__setstate_cython__", reinterpret_cast<PyCFunction>(::frame::detail::refuse_setstate), METH_O,       \
     TYPE ".__setstate_cython__(self, __pyx_state)"}

/// Install a ready type's `__reduce_cython__`/`__setstate_cython__` as `__reduce__`/`__setstate__`.
inline void install_pickle_hooks(PyTypeObject* type) {
    PyObject* dict = type->tp_dict;
    PyObject* reduce = PyDict_GetItemString(dict, "__reduce_cython__");
    PyObject* setstate = PyDict_GetItemString(dict, "__setstate_cython__");
    if (reduce) check_status(PyDict_SetItemString(dict, "__reduce__", reduce));
    if (setstate) check_status(PyDict_SetItemString(dict, "__setstate__", setstate));
    PyType_Modified(type);
}

}  // namespace frame
