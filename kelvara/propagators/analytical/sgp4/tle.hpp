// kelvara.propagators.analytical.sgp4.tle: the TLE record and its C-level method table, for
// extension modules that read Two-Line Element sets without going through Python attributes.
//
// A client binds the type once at load and finds the method table on it:
//
//     PyTypeObject* tle_type = kelvara::import_tle_type();
//     auto* vtab = static_cast<kelvara::TLEVTable*>(frame::get_vtable(tle_type));
//
// Records are immutable once constructed; `parse_line1` re-derives `_satno` and `epoch` from
// `_line1` and reports failure by leaving a Python exception pending (check PyErr_Occurred()).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "../../../frame/capi.hpp"

namespace kelvara {

struct TLEObject;

/// C-level methods of TLE, in table order.
struct TLEVTable {
    /// Decode `_satno` and `epoch` from `_line1`; on failure a Python exception is pending.
    void (*parse_line1)(TLEObject* self);
};

/// Text capacity of a stored line: 69 characters and the terminating zero.
inline constexpr std::size_t tle_line_size = 70;
/// Capacity of the satellite number: 5 characters (columns 3-7) and the terminating zero.
inline constexpr std::size_t tle_satno_size = 6;

/// The TLE record. Lines are ASCII, upper-case, stripped, zero-terminated and zero-padded.
struct TLEObject {
    PyObject_HEAD
    TLEVTable* vtab;
    char _line1[tle_line_size];
    char _line2[tle_line_size];
    char _satno[tle_satno_size];
    PyObject* epoch;  // the epoch as a kelvara.time.time.Time, or None before parsing
};

inline constexpr const char* tle_module_name = "kelvara.propagators.analytical.sgp4.tle";

/// Bind the TLE type at a client's load, checking the record size this client was built with.
inline PyTypeObject* import_tle_type() {
    return frame::import_type(tle_module_name, "TLE", sizeof(TLEObject));
}

}  // namespace kelvara
