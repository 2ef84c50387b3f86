// C-level publication between modules: C-function tables (`__pyx_capi__`, capsules named by
// the C declaration they point to), C-level method tables of types, and type import with the
// instance-size check.
#pragma once

#include "core.hpp"

#include <vector>

namespace frame {

namespace detail {
inline Ref capi_dict(PyObject* module) {
    Ref d = getattr_optional(module, "__pyx_capi__");
    if (d) return d;
    d = Ref::steal(PyDict_New());
    check_status(PyObject_SetAttrString(module, "__pyx_capi__", d.get()));
    return d;
}

inline void* import_capsule(const char* module_name, const char* name, const char* sig, const char* kind) {
    Ref module = import(module_name);
    Ref d = getattr(module.get(), "__pyx_capi__");
    Ref cap = Ref::steal_or_null(PyMapping_GetItemString(d.get(), name));
    if (!cap) {
        PyErr_Clear();
        raise(PyExc_ImportError, "%.200s does not export expected C %s %.200s", module_name, kind, name);
    }
    if (!PyCapsule_CheckExact(cap.get())) raise(PyExc_TypeError, "%.200s.%.200s is not a capsule", module_name, name);
    const char* got = PyCapsule_GetName(cap.get());
    if (!got) got = "";
    if (std::strcmp(got, sig) != 0)
        raise(PyExc_TypeError, "C %s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)", kind, module_name,
              name, sig, got);
    return check(PyCapsule_GetPointer(cap.get(), got[0] ? got : nullptr));
}
}  // namespace detail

/// Publish a C function (or a variable's address) in the module's `__pyx_capi__` under `name`;
/// the capsule's name is the signature text, which must be a string literal.
inline void export_capi(PyObject* module, const char* name, void* address, const char* sig) {
    Ref d = detail::capi_dict(module);
    Ref cap = Ref::steal(PyCapsule_New(address, sig, nullptr));
    check_status(PyDict_SetItemString(d.get(), name, cap.get()));
}

template <class Fn>
inline void export_function(PyObject* module, const char* name, Fn* fn, const char* sig) {
    export_capi(module, name, reinterpret_cast<void*>(fn), sig);
}

/// Bind a C function published by another module, checking its signature text.
template <class Fn>
inline Fn* import_function(const char* module_name, const char* name, const char* sig) {
    return reinterpret_cast<Fn*>(detail::import_capsule(module_name, name, sig, "function"));
}

/// Bind a C variable published by another module, checking its signature text.
template <class T>
inline T* import_variable(const char* module_name, const char* name, const char* sig) {
    return static_cast<T*>(detail::import_capsule(module_name, name, sig, "variable"));
}

/// Store a C-level method table in the type's dict as an unnamed capsule.
inline void set_vtable(PyTypeObject* type, void* vtab) {
    Ref cap = Ref::steal(PyCapsule_New(vtab, nullptr, nullptr));
    check_status(PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", cap.get()));
    PyType_Modified(type);
}

/// The C-level method table of a type (found through its bases), or nullptr when it has none.
inline void* get_vtable(PyTypeObject* type) noexcept {
    PyObject* cap = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__pyx_vtable__");
    if (!cap) { PyErr_Clear(); return nullptr; }
    void* p = PyCapsule_GetPointer(cap, nullptr);
    Py_DECREF(cap);
    if (!p) PyErr_Clear();
    return p;
}

/// Check that a type with several bases can share one method-table layout: every extra base's
/// table must be the table of some type in the primary base chain.
inline void merge_vtables(PyTypeObject* type) {
    PyObject* bases = type->tp_bases;
    if (!bases) return;
    std::vector<void*> chain;
    for (PyTypeObject* b = type->tp_base; b; b = b->tp_base) chain.push_back(get_vtable(b));
    for (Py_ssize_t i = 1; i < PyTuple_GET_SIZE(bases); ++i) {
        auto* other = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(bases, i));
        void* vt = get_vtable(other);
        if (!vt) continue;
        bool found = false;
        for (void* c : chain) {
            if (c == vt) { found = true; break; }
            if (!c) break;
        }
        if (!found)
            raise(PyExc_TypeError, "multiple bases have vtable conflict: '%.200s' and '%.200s'", type->tp_base->tp_name,
                  other->tp_name);
    }
}

enum class SizeCheck { error_if_smaller_warn_if_larger, ignore };

/// Import `module_name.class_name` as a type object built against `expected` bytes of record.
inline PyTypeObject* import_type(const char* module_name, const char* class_name, std::size_t expected,
                                 SizeCheck how = SizeCheck::error_if_smaller_warn_if_larger) {
    Ref module = import(module_name);
    Ref obj = getattr(module.get(), class_name);
    if (!PyType_Check(obj.get())) raise(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, class_name);
    auto* type = reinterpret_cast<PyTypeObject*>(obj.get());
    Py_ssize_t basic = type->tp_basicsize, item = type->tp_itemsize;
    if (how == SizeCheck::error_if_smaller_warn_if_larger) {
        if (std::size_t(basic + item) < expected)
            raise(PyExc_ValueError,
                  "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, got %zd from PyObject",
                  module_name, class_name, Py_ssize_t(expected), basic);
        if (std::size_t(basic) > expected)
            check_status(PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                                          "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, got %zd from PyObject",
                                          module_name, class_name, Py_ssize_t(expected), basic));
    }
    return reinterpret_cast<PyTypeObject*>(obj.release());  // kept for the life of the process
}

}  // namespace frame
