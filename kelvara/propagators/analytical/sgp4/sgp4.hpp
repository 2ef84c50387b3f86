// kelvara.propagators.analytical.sgp4.sgp4: the C record of `Elements`, for extension modules
// that propagate element sets without going through Python (events, frames).
//
// A client binds the type once at load and reads the initialised satellite from a record:
//
//     PyTypeObject* elements_type = kelvara::import_elements_type();
//     if (PyObject_TypeCheck(o, elements_type)) {
//         const kelvara::sgp4::Satrec& sat = reinterpret_cast<kelvara::ElementsObject*>(o)->sat;
//         double r[3], v[3];
//         int code = kelvara::sgp4::propagate(sat, minutes, r, v);   // TEME, m and m/s
//     }
//
// Records are immutable once constructed; `sat` may be copied and used without the lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "../../../frame/capi.hpp"
#include "elements_text.hpp"
#include "sgp4_kernels.hpp"

namespace kelvara {

/// The Elements record.
struct ElementsObject {
    PyObject_HEAD
    sgp4::Satrec sat;          // the initialised satellite (gravity model and mode included)
    sgp4::TextFields fields;   // every field of the element set, in the format's units
    PyObject* line1;           // the lines as given (str), or None when built from numbers
    PyObject* line2;
    PyObject* epoch;           // the epoch as a kelvara Time (UTC), made on first use, or nullptr
    PyObject* weakreflist;
};

inline constexpr const char* elements_module_name = "kelvara.propagators.analytical.sgp4.sgp4";

/// Bind the Elements type at a client's load, checking the record size this client was built with.
inline PyTypeObject* import_elements_type() {
    return frame::import_type(elements_module_name, "Elements", sizeof(ElementsObject));
}

}  // namespace kelvara
