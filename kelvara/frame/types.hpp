// Readying extension types: created from a spec with their bases, their C-level method table
// stored and merged, the pickling hooks installed, and bound as a module attribute.
#pragma once

#include "capi.hpp"
#include "pickle.hpp"

namespace frame {

/// Create and bind the type described by `spec` (its name is the full dotted name).
inline PyTypeObject* add_type(PyObject* module, PyType_Spec* spec, PyObject* bases = nullptr, void* vtab = nullptr) {
    Ref t = Ref::steal(PyType_FromModuleAndSpec(module, spec, bases));
    auto* type = reinterpret_cast<PyTypeObject*>(t.get());
    if (vtab) set_vtable(type, vtab);
    merge_vtables(type);
    install_pickle_hooks(type);
    const char* dot = std::strrchr(spec->name, '.');
    check_status(PyModule_AddObjectRef(module, dot ? dot + 1 : spec->name, t.get()));
    return reinterpret_cast<PyTypeObject*>(t.release());  // the module record keeps it
}

/// Garbage-collector slots of a heap type whose one object field is `Field`: traversal visits
/// the type and the field, clearing resets the field to None, deallocation releases it and then
/// calls `Release` (when given) for what else the record owns outside the collector's view
/// (typed views, buffers). Derived records that start with T share the same slots.
template <class T, PyObject* T::*Field, void (*Release)(T*) noexcept = nullptr>
struct OneReferenceGC {
    static int traverse(PyObject* o, visitproc visit, void* arg) noexcept {
        Py_VISIT(Py_TYPE(o));
        Py_VISIT(reinterpret_cast<T*>(o)->*Field);
        return 0;
    }
    static int clear(PyObject* o) noexcept {
        Py_SETREF(reinterpret_cast<T*>(o)->*Field, Py_NewRef(Py_None));
        return 0;
    }
    static void dealloc(PyObject* o) noexcept {
        PyTypeObject* tp = Py_TYPE(o);
        PyObject_GC_UnTrack(o);
        Py_CLEAR(reinterpret_cast<T*>(o)->*Field);
        if constexpr (Release != nullptr) Release(reinterpret_cast<T*>(o));
        tp->tp_free(o);
        Py_DECREF(tp);
    }
};

/// A one-item tuple of bases for add_type.
inline Ref bases_of(PyTypeObject* base) { return Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(base))); }

}  // namespace frame
