// NumPy's C interface for the modules that use it: initialised during exec, with NumPy's own
// messages when the ABI or the feature level does not match, and NumPy's type objects imported
// with the size check. Include only from a module's single translation unit.
#pragma once

#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include "capi.hpp"

namespace frame {

/// NumPy's type objects and `type`, as the module was built against them.
struct NumpyTypes {
    PyTypeObject* type = nullptr;
    PyTypeObject* dtype = nullptr;
    PyTypeObject* ndarray = nullptr;
    PyTypeObject* ufunc = nullptr;
    PyTypeObject* generic = nullptr;
};

inline NumpyTypes& numpy_types() {
    static NumpyTypes t;
    return t;
}

/// NumPy's type objects and `type`, checked against the sizes this module was built with; the
/// exec step of modules that see NumPy values without using its C interface.
inline void import_numpy_types() {
    NumpyTypes& t = numpy_types();
    t.type = import_type("builtins", "type", sizeof(PyHeapTypeObject));
    // NumPy grows these records between releases without breaking their public part.
    t.dtype = import_type("numpy", "dtype", sizeof(PyArray_Descr), SizeCheck::ignore);
    t.ndarray = import_type("numpy", "ndarray", sizeof(PyArrayObject_fields), SizeCheck::ignore);
    t.ufunc = import_type("numpy", "ufunc", sizeof(PyUFuncObject), SizeCheck::ignore);
    t.generic = import_type("numpy", "generic", sizeof(PyObject));
    for (const char* scalar : {"number", "integer", "signedinteger", "unsignedinteger", "inexact", "floating",
                               "complexfloating", "flexible", "character"})
        Py_DECREF(import_type("numpy", scalar, sizeof(PyObject)));
}

/// Exec step of modules that use NumPy's C interface (passed to frame::Module).
inline void import_numpy() {
    if (_import_array() < 0) throw PyErrorSet{};
    import_numpy_types();
}

/// True when `o` is exactly a NumPy array of native, aligned float64 (the fast path's condition:
/// its elements are read in place as doubles; a misaligned array takes the per-element path).
inline bool is_float64_array(PyObject* o) noexcept {
    if (!PyArray_CheckExact(o)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    PyArray_Descr* d = PyArray_DESCR(a);
    return d->type_num == NPY_DOUBLE && PyArray_ISNBO(d->byteorder) && PyArray_ISALIGNED(a);
}

}  // namespace frame
