// Test-only extension: a C++ client of kelvara.bodies.bodies. It reads bodies through the
// declarations in bodies.hpp (record layout, Sun and Moon method tables) and runs the bare
// ERFA epoch loops that the benchmarks use as the limit.
#include "kelvara/frame/frame.hpp"
#include "kelvara/frame/numpy.hpp"
#include "kelvara/bodies/bodies.hpp"
#include "kelvara/bodies/ephemeris_kernels.hpp"

namespace {

/// True when `o` is an instance of kelvara.bodies.bodies.<name>.
bool is_instance(PyObject* o, const char* name) {
    frame::Ref tp = frame::getattr(frame::import("kelvara.bodies.bodies").get(), name);
    return PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(tp.get()));
}

frame::Ref zeros(Py_ssize_t n) {
    npy_intp dims[2] = {n, 3};
    return frame::Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
}

/// A C-contiguous (N, 2) float64 array of two-part dates, or TypeError.
PyArrayObject* dates(PyObject* o) {
    if (!frame::is_float64_array(o) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(o)) != 2 ||
        PyArray_DIM(reinterpret_cast<PyArrayObject*>(o), 1) != 2 ||
        !PyArray_IS_C_CONTIGUOUS(reinterpret_cast<PyArrayObject*>(o)))
        frame::raise(PyExc_TypeError, "expected a C-contiguous (N, 2) float64 array");
    return reinterpret_cast<PyArrayObject*>(o);
}

/// sun_loop(jd12): Sun positions (m) for every row, ERFA called straight from C++.
PyObject* sun_loop(PyObject*, PyObject* arg) {
    static frame::Site site{"sun_loop", nullptr};
    return frame::guarded(site, [&] {
        PyArrayObject* jd = dates(arg);
        const Py_ssize_t n = PyArray_DIM(jd, 0);
        frame::Ref out = zeros(n);
        const double* d = static_cast<const double*>(PyArray_DATA(jd));
        double* r = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
        for (Py_ssize_t i = 0; i < n; ++i) kelvara::ephemeris::sun_position(d[2 * i], d[2 * i + 1], r + 3 * i);
        return out;
    });
}

/// moon_loop(jd12): (positions, velocities) of the Moon for every row.
PyObject* moon_loop(PyObject*, PyObject* arg) {
    static frame::Site site{"moon_loop", nullptr};
    return frame::guarded(site, [&] {
        PyArrayObject* jd = dates(arg);
        const Py_ssize_t n = PyArray_DIM(jd, 0);
        frame::Ref r = zeros(n), v = zeros(n);
        const double* d = static_cast<const double*>(PyArray_DATA(jd));
        double* rp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(r.get())));
        double* vp = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get())));
        for (Py_ssize_t i = 0; i < n; ++i) kelvara::ephemeris::moon_state(d[2 * i], d[2 * i + 1], rp + 3 * i, vp + 3 * i);
        return frame::Ref::steal(PyTuple_Pack(2, r.get(), v.get()));
    });
}

/// Shape of a stored view as the C record shows it, or None when unset.
PyObject* shape_of(const frame::Slice& s) {
    if (!s.memview || s.memview == Py_None) return Py_NewRef(Py_None);
    return Py_BuildValue("(nn)", s.shape[0], s.shape[1]);
}

/// record(body): (time, shape of _r_GCRF, shape of _v_GCRF) read from the C record.
PyObject* record(PyObject*, PyObject* arg) {
    static frame::Site site{"record", nullptr};
    return frame::guarded(site, [&] {
        if (!is_instance(arg, "CelestialBody")) frame::raise(PyExc_TypeError, "expected a CelestialBody");
        auto* b = reinterpret_cast<kelvara::CelestialBodyObject*>(arg);
        frame::Ref r = frame::Ref::steal(shape_of(b->_r_GCRF));
        frame::Ref v = frame::Ref::steal(shape_of(b->_v_GCRF));
        return frame::Ref::steal(PyTuple_Pack(3, b->time, r.get(), v.get()));
    });
}

/// sun_position(sun, time): the Sun's C-level calculate_position through its method table.
PyObject* sun_position(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"sun_position", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2 || !is_instance(args[0], "Sun")) frame::raise(PyExc_TypeError, "(sun, time)");
        auto* sun = reinterpret_cast<kelvara::SunObject*>(args[0]);
        frame::Slice s = sun->vtab->calculate_position(sun, args[1]);
        if (!s.data) { frame::release(s); throw frame::PyErrorSet{}; }
        frame::View out(s);
        return frame::call(frame::getattr(frame::import("numpy").get(), "asarray").get(), out.slice().memview);
    });
}

/// moon_state(moon, time, r, v): the Moon's C-level calculate_state_GCRF into the given arrays.
PyObject* moon_state(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"moon_state", nullptr};
    return frame::guarded(site, [&] {
        if (n != 4 || !is_instance(args[0], "Moon")) frame::raise(PyExc_TypeError, "(moon, time, r, v)");
        auto* moon = reinterpret_cast<kelvara::MoonObject*>(args[0]);
        frame::View r(frame::view2d(args[2], true)), v(frame::view2d(args[3], true));
        moon->vtab->calculate_state_GCRF(moon, args[1], r.slice(), v.slice());
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::Ref::borrow(Py_None);
    });
}

PyMethodDef functions[] = {
    {"sun_loop", reinterpret_cast<PyCFunction>(sun_loop), METH_O, nullptr},
    {"moon_loop", reinterpret_cast<PyCFunction>(moon_loop), METH_O, nullptr},
    {"record", reinterpret_cast<PyCFunction>(record), METH_O, nullptr},
    {"sun_position", reinterpret_cast<PyCFunction>(sun_position), METH_FASTCALL, nullptr},
    {"moon_state", reinterpret_cast<PyCFunction>(moon_state), METH_FASTCALL, nullptr},
    {},
};

void body(frame::Module&, PyObject* module) {
    frame::check_status(PyModule_AddFunctions(module, functions));
}

frame::Module client_module("bodies_client", "bodies_client", "Test-only client of kelvara.bodies.bodies.",
                            "tests/ext/bodies_client.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_bodies_client() { return client_module.init(); }
