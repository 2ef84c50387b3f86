// Test-only extension: a C++ client of kelvara/frames/frames_kernels.hpp, as another module
// (events) includes it. It runs the bare one-thread kernel loops the benchmarks use as the limit.
#include "kelvara/frame/frame.hpp"
#include "kelvara/frame/numpy.hpp"
#include "kelvara/frames/frames_kernels.hpp"

namespace {

namespace kf = kelvara::frames;

/// A C-contiguous float64 array with `cols` columns (0: one-dimensional), or TypeError.
const double* doubles(PyObject* o, Py_ssize_t rows, int cols) {
    auto* a = reinterpret_cast<PyArrayObject*>(o);
    if (!frame::is_float64_array(o) || !PyArray_IS_C_CONTIGUOUS(a) || PyArray_NDIM(a) != (cols ? 2 : 1) ||
        PyArray_DIM(a, 0) != rows || (cols && PyArray_DIM(a, 1) != cols))
        frame::raise(PyExc_TypeError, "expected C-contiguous float64 arrays of matching rows");
    return static_cast<const double*>(PyArray_DATA(a));
}

frame::Ref out_like(Py_ssize_t n) {
    npy_intp dims[2] = {n, 3};
    return frame::Ref::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
}

/// teme_loop(ut1 (N, 2), xp (N,), yp (N,), r (N, 3)): ITRF positions.
/// gcrf_loop(tt (N, 2), ut1 (N, 2), xp, yp, r): ITRF positions, X/Y/s from the grid.
PyObject* loop(bool gcrf, PyObject* const* args, Py_ssize_t n) {
    if (n != (gcrf ? 5 : 4)) frame::raise(PyExc_TypeError, "wrong number of arguments");
    const int o = gcrf ? 1 : 0;
    const Py_ssize_t rows = PyArray_Check(args[0]) ? PyArray_DIM(reinterpret_cast<PyArrayObject*>(args[0]), 0) : -1;
    const double* tt = doubles(args[0], rows, 2);
    const double* ut1 = doubles(args[o], rows, 2);
    const double* xp = doubles(args[o + 1], rows, 0);
    const double* yp = doubles(args[o + 2], rows, 0);
    const double* r = doubles(args[o + 3], rows, 3);
    frame::Ref out = out_like(rows);
    double* ro = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    kf::XysGrid& grid = kf::xys_grid();
    kf::Orientation m;
    for (Py_ssize_t i = 0; i < rows; ++i) {
        if (gcrf) {
            double xys[3];
            grid.xys(tt[2 * i], tt[2 * i + 1], xys);
            kf::gcrf_to_itrf_at(xys, tt[2 * i], tt[2 * i + 1], ut1[2 * i], ut1[2 * i + 1], xp[i], yp[i], m);
        } else {
            kf::teme_to_itrf(ut1[2 * i], ut1[2 * i + 1], xp[i], yp[i], m);
        }
        kf::to_itrf(m, r + 3 * i, ro + 3 * i);
    }
    return out.release();
}

PyObject* teme_loop(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"teme_loop", nullptr};
    return frame::guarded(site, [&] { return frame::Ref::steal(loop(false, args, n)); });
}

PyObject* gcrf_loop(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"gcrf_loop", nullptr};
    return frame::guarded(site, [&] { return frame::Ref::steal(loop(true, args, n)); });
}

PyMethodDef functions[] = {
    {"teme_loop", reinterpret_cast<PyCFunction>(teme_loop), METH_FASTCALL, nullptr},
    {"gcrf_loop", reinterpret_cast<PyCFunction>(gcrf_loop), METH_FASTCALL, nullptr},
    {},
};

void body(frame::Module&, PyObject* module) { frame::check_status(PyModule_AddFunctions(module, functions)); }

frame::Module client_module("frames_client", "frames_client", "Test-only client of the frames kernels.",
                            "tests/ext/frames_client.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_frames_client() { return client_module.init(); }
