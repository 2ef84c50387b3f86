// Conversion of a Python mapping into a packed C record, field by field in declaration order,
// with the messages of the record layer. A record type T lists its fields as
//   static constexpr std::array<frame::Field, N> fields;
#pragma once

#include "core.hpp"
#include "field.hpp"

#include <array>

namespace frame {

namespace detail {
inline void read_vector(PyObject* value, double* out, std::size_t n) {
    Ref it = Ref::steal(PyObject_GetIter(value));
    for (std::size_t i = 0; i < n; ++i) {
        Ref item = Ref::steal_or_null(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) throw PyErrorSet{};
            raise(PyExc_IndexError, "not enough values found during array assignment, expected %zd, got %zd",
                  Py_ssize_t(n), Py_ssize_t(i));
        }
        out[i] = to_double(item.get());
    }
    Ref extra = Ref::steal_or_null(PyIter_Next(it.get()));
    if (extra) raise(PyExc_IndexError, "too many values found during array assignment, expected %zd", Py_ssize_t(n));
    if (PyErr_Occurred()) throw PyErrorSet{};
}
}  // namespace detail

/// Build a T from a mapping with one key per field.
template <class T>
inline T from_mapping(PyObject* obj) {
    if (!PyMapping_Check(obj)) raise(PyExc_TypeError, "Expected %s, got %.200s", "a mapping", Py_TYPE(obj)->tp_name);
    T rec{};
    for (const Field& f : T::fields) {
        Ref value = Ref::steal_or_null(PyMapping_GetItemString(obj, f.name));
        if (!value) {
            PyErr_Clear();
            raise(PyExc_ValueError, "No value specified for struct attribute '%s'", f.name);
        }
        double* dst = reinterpret_cast<double*>(reinterpret_cast<char*>(&rec) + f.offset);
        if (f.count == 1) {
            double v = to_double(value.get());
            std::memcpy(dst, &v, sizeof v);
        } else {
            double tmp[8];
            detail::read_vector(value.get(), tmp, f.count);
            std::memcpy(dst, tmp, f.count * sizeof(double));
        }
    }
    return rec;
}

}  // namespace frame
