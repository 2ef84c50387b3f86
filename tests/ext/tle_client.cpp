// Test-only client of kelvara.propagators.analytical.sgp4.tle: binds TLE through tle.hpp as a
// C++ extension would, reads the fixed fields raw and drives parse_line1 through the method table.
#include "kelvara/frame/frame.hpp"
#include "kelvara/propagators/analytical/sgp4/tle.hpp"

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

PyMethodDef methods[] = {
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
