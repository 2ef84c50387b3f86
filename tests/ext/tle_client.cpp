// Test-only client of kelvara.propagators.analytical.sgp4.tle: binds TLE through tle.hpp as a
// C++ extension would, reads the fixed fields raw and drives parse_line1 through the method table.
#include "kelvara/frame/frame.hpp"
#include "kelvara/propagators/analytical/sgp4/tle.hpp"
#include "kelvara/propagators/analytical/sgp4/tle_kernels.hpp"

namespace {

using kelvara::TLEObject;

PyTypeObject* tle_type = nullptr;
kelvara::TLEVTable* tle_vtab = nullptr;

TLEObject* as_tle(PyObject* o) {
    if (!PyObject_TypeCheck(o, tle_type)) frame::raise(PyExc_TypeError, "expected a TLE");
    return reinterpret_cast<TLEObject*>(o);
}

/// fields(tle) -> (line1, line2, satno): the whole fixed buffers as bytes, padding included.
PyObject* py_fields(PyObject*, PyObject* o) {
    static frame::Site site{"fields", nullptr};
    return frame::guarded(site, [&] {
        TLEObject* t = as_tle(o);
        return frame::Ref::steal(Py_BuildValue("(y#y#y#)", t->_line1, Py_ssize_t(sizeof t->_line1), t->_line2,
                                               Py_ssize_t(sizeof t->_line2), t->_satno, Py_ssize_t(sizeof t->_satno)));
    });
}

/// reparse(tle, raw) -> None: overwrite _line1 with up to 70 raw bytes (no terminator needed),
/// then call parse_line1 through the method table and report its pending exception.
PyObject* py_reparse(PyObject*, PyObject* const* a, Py_ssize_t n) {
    static frame::Site site{"reparse", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "reparse() takes 2 arguments");
        TLEObject* t = as_tle(a[0]);
        char* raw;
        Py_ssize_t len;
        frame::check_status(PyBytes_AsStringAndSize(a[1], &raw, &len));
        if (len > Py_ssize_t(sizeof t->_line1)) frame::raise(PyExc_ValueError, "at most 70 bytes");
        std::memset(t->_line1, 0, sizeof t->_line1);
        std::memcpy(t->_line1, raw, std::size_t(len));
        t->vtab->parse_line1(t);
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::Ref::borrow(Py_None);
    });
}

/// layout() -> (record size this client was built with, the table on the type is the record's).
PyObject* py_layout(PyObject*, PyObject*) {
    static frame::Site site{"layout", nullptr};
    return frame::guarded(site, [&] {
        return frame::Ref::steal(Py_BuildValue("(nO)", Py_ssize_t(sizeof(TLEObject)),
                                               tle_vtab && tle_vtab->parse_line1 ? Py_True : Py_False));
    });
}

/// line1_fields(raw) -> (satno bytes, year, day): the pure column parser over a 70-byte buffer
/// holding `raw` (at most 70 bytes, no terminator needed).
PyObject* py_line1_fields(PyObject*, PyObject* raw) {
    static frame::Site site{"line1_fields"};
    return frame::guarded(site, [&] {
        char* data;
        Py_ssize_t len;
        frame::check_status(PyBytes_AsStringAndSize(raw, &data, &len));
        if (len > Py_ssize_t(kelvara::tle::line_size)) frame::raise(PyExc_ValueError, "at most 70 bytes");
        char line[kelvara::tle::line_size] = {};
        std::memcpy(line, data, std::size_t(len));
        const kelvara::tle::Line1 f = kelvara::tle::parse_line1(line);
        return frame::Ref::steal(Py_BuildValue("(y#id)", f.satno, Py_ssize_t(sizeof f.satno), f.year, f.day));
    });
}

/// parse_real(text) -> float: the "C"-locale atof of a field.
PyObject* py_parse_real(PyObject*, PyObject* text) {
    static frame::Site site{"parse_real"};
    return frame::guarded(site, [&] {
        const char* s = PyBytes_AsString(text);
        if (!s) throw frame::PyErrorSet{};
        return frame::as_float(kelvara::tle::parse_real(s));
    });
}

PyMethodDef methods[] = {
    {"line1_fields", reinterpret_cast<PyCFunction>(py_line1_fields), METH_O, nullptr},
    {"parse_real", reinterpret_cast<PyCFunction>(py_parse_real), METH_O, nullptr},
    {"fields", reinterpret_cast<PyCFunction>(py_fields), METH_O, nullptr},
    {"reparse", reinterpret_cast<PyCFunction>(py_reparse), METH_FASTCALL, nullptr},
    {"layout", reinterpret_cast<PyCFunction>(py_layout), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    tle_type = kelvara::import_tle_type();
    tle_vtab = static_cast<kelvara::TLEVTable*>(frame::get_vtable(tle_type));
    if (!tle_vtab) frame::raise(PyExc_ImportError, "TLE has no C-level method table");
    frame::check_status(PyModule_AddFunctions(module, methods));
}

frame::Module client("tle_client", "tle_client", "Test-only client of the TLE method table.", "tests/ext/tle_client.cpp",
                     {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_tle_client() { return client.init(); }
