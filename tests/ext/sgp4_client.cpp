// Test-only client of kelvara.propagators.analytical.sgp4.sgp4: binds Elements through sgp4.hpp
// as another extension would, and runs the kernels on the records it finds there.
#include "kelvara/frame/frame.hpp"
#include "kelvara/propagators/analytical/sgp4/sgp4.hpp"

namespace {

PyTypeObject* elements_type = nullptr;

const kelvara::sgp4::Satrec& satrec_of(PyObject* o) {
    if (!PyObject_TypeCheck(o, elements_type)) frame::raise(PyExc_TypeError, "expected an Elements");
    return reinterpret_cast<kelvara::ElementsObject*>(o)->sat;
}

/// state(elements, minutes) -> (code, (x, y, z), (vx, vy, vz), (jd_epoch1, jd_epoch2, n rad/min, e))
PyObject* py_state(PyObject*, PyObject* const* a, Py_ssize_t n) {
    static frame::Site site{"state", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "state() takes 2 arguments");
        kelvara::sgp4::Satrec sat = satrec_of(a[0]);  // a copy works as well as the record
        double t = frame::to_double(a[1]), r[3], v[3];
        int code = kelvara::sgp4::propagate(sat, t, r, v);
        return frame::Ref::steal(Py_BuildValue("(i(ddd)(ddd)(dddd))", code, r[0], r[1], r[2], v[0], v[1], v[2],
                                               sat.jd_epoch1, sat.jd_epoch2, sat.no_unkozai, sat.ecco));
    });
}

/// kernel_loop(elements_list, n_minutes) -> float: every record at minutes 0 .. n-1, in a plain
/// loop with the lock held (the limit the module's loop is measured against); a checksum back.
PyObject* py_kernel_loop(PyObject*, PyObject* const* a, Py_ssize_t n) {
    static frame::Site site{"kernel_loop", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "kernel_loop() takes 2 arguments");
        frame::Ref seq = frame::Ref::steal(PySequence_Fast(a[0], "a sequence of Elements"));
        const Py_ssize_t nt = PyLong_AsSsize_t(a[1]);
        if (nt < 0 && PyErr_Occurred()) throw frame::PyErrorSet{};
        double sum = 0.0;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
            const kelvara::sgp4::Satrec& sat = satrec_of(PySequence_Fast_GET_ITEM(seq.get(), i));
            kelvara::sgp4::Integrator resume;
            for (Py_ssize_t j = 0; j < nt; ++j) {
                double r[3], v[3];
                kelvara::sgp4::propagate(sat, double(j), r, v, &resume);
                sum += r[0];
            }
        }
        return frame::as_float(sum);
    });
}

PyObject* py_layout(PyObject*, PyObject*) {
    static frame::Site site{"layout", nullptr};
    return frame::guarded(site, [&] {
        return frame::Ref::steal(Py_BuildValue("(nn)", Py_ssize_t(sizeof(kelvara::ElementsObject)),
                                               Py_ssize_t(sizeof(kelvara::sgp4::Satrec))));
    });
}

PyMethodDef methods[] = {
    {"state", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_state)), METH_FASTCALL, nullptr},
    {"kernel_loop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_kernel_loop)), METH_FASTCALL, nullptr},
    {"layout", reinterpret_cast<PyCFunction>(py_layout), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    elements_type = kelvara::import_elements_type();
    frame::check_status(PyModule_AddFunctions(module, methods));
}

frame::Module client("sgp4_client", "sgp4_client", "Test-only client of the SGP4 record and kernels.",
                     "tests/ext/sgp4_client.cpp", {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_sgp4_client() { return client.init(); }
