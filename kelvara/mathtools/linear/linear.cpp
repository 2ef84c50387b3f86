// kelvara.mathtools.linear.linear: 3-vector kernels and two array functions, published only
// at C level in the module's __pyx_capi__ table (no Python functions).
#include "../../frame/frame.hpp"
#include "../../frame/globals.hpp"
#include "../../frame/numpy_global.hpp"
#include "linear.hpp"
#include "vector_kernels.hpp"

#include <cmath>

namespace {

constexpr const char* source_file = "kelvara/mathtools/linear/linear.cpp";

/// True when a Python exception is pending on this thread; takes the interpreter lock for the
/// look (the kernels may run without it).
bool error_pending() noexcept {
    PyGILState_STATE g = PyGILState_Ensure();
    bool pending = PyErr_Occurred() != nullptr;
    PyGILState_Release(g);
    return pending;
}

/// Same check after a `void` callee: only a thread that holds the lock can have raised.
bool error_pending_after_void() noexcept { return PyGILState_Check() && PyErr_Occurred(); }

/// Traceback entry naming the C-level function through which an error passed.
void add_traceback(const char* qualname) noexcept {
    PyGILState_STATE g = PyGILState_Ensure();
    frame::cpython::add_traceback(qualname, source_file, 0);
    PyGILState_Release(g);
}

// ---------------------------------------------------------------------------------------------
// Published kernels. Those that call other kernels follow the C-level error protocol towards
// them: a -1.0 from a `double` callee, or any return of a `void` one, is checked for a pending
// exception, which is passed on with a traceback entry.

void scale(double const scalar, double* a, double* c) { kelvara::vec::scale(scalar, a, c); }
void add(double* a, double* b, double* c) { kelvara::vec::add(a, b, c); }
void sub(double* a, double* b, double* c) { kelvara::vec::sub(a, b, c); }
double dot(double* a, double* b) { return kelvara::vec::dot(a, b); }
void cross(double* a, double* b, double* c) { kelvara::vec::cross(a, b, c); }

double norm(double* a) {
    double d = dot(a, a);
    if (d == -1.0 && error_pending()) {
        add_traceback("kelvara.mathtools.linear.linear.norm");
        return -1.0;
    }
    return std::sqrt(d);
}

double angle(double* a, double* b) {
    double d = dot(a, b);
    if (d == -1.0 && error_pending()) goto fail;
    {
        double na = norm(a);
        if (na == -1.0 && error_pending()) goto fail;
        double nb = norm(b);
        if (nb == -1.0 && error_pending()) goto fail;
        return std::acos((d / na) / nb);
    }
fail:
    add_traceback("kelvara.mathtools.linear.linear.angle");
    return -1.0;
}

void normalize(double* a, double* u) {
    double n = norm(a);
    if (n == -1.0 && error_pending()) {
        add_traceback("kelvara.mathtools.linear.linear.normalize");
        return;
    }
    scale(1.0 / n, a, u);
    if (error_pending_after_void()) add_traceback("kelvara.mathtools.linear.linear.normalize");
}

void mat_x_vec(double (*M)[3], double* a, double* b) { kelvara::vec::mat_x_vec(M, a, b); }

// ---------------------------------------------------------------------------------------------
// Array functions: run under the interpreter lock, allocate their result with numpy.zeros.

const frame::Name numpy_global{"numpy"};
const frame::NumpyGlobal numpy{numpy_global};

/// numpy.zeros(shape=shape, dtype=numpy.double), `numpy` being looked up as a module global now.
frame::Ref zeros(PyObject* shape) { return numpy.zeros(shape); }

/// The boundary of an array function: profile events, and on any failure an empty slice with
/// the exception set and a traceback entry under `qualname`.
template <class F>
frame::Slice array_boundary(frame::Site& site, const char* qualname, F&& body) noexcept {
    frame::Profiled events(site);
    frame::Slice out = frame::translate<frame::Slice>(frame::empty_slice(), body);
    if (!out.data) frame::cpython::add_traceback(qualname, source_file, 0);
    return out;
}

void require_three_columns(const frame::Slice& a, const char* fname) {
    if (a.shape[1] < 3)
        frame::raise(PyExc_ValueError, "%s() needs at least 3 columns per row, got an array of %zd columns", fname,
                     a.shape[1]);
}

frame::Slice norm_array(frame::Slice a) {
    static frame::Site site{"norm_array"};
    return array_boundary(site, "kelvara.mathtools.linear.linear.norm_array", [&]() -> frame::Slice {
        require_three_columns(a, "norm_array");
        const Py_ssize_t n = a.shape[0];
        frame::Ref shape = frame::Ref::steal(Py_BuildValue("(n)", n));
        frame::Ref arr = zeros(shape.get());
        frame::View out(frame::view1d(arr.get(), true));
        for (Py_ssize_t i = 0; i < n; ++i) {
            frame::poll_signals(i);
            double v[3] = {frame::at(a, i, 0), frame::at(a, i, 1), frame::at(a, i, 2)};
            double r = norm(v);
            if (r == -1.0 && PyErr_Occurred()) throw frame::PyErrorSet{};
            out[i] = r;
        }
        return out.release_slice();
    });
}

frame::Slice normalize_array(frame::Slice a) {
    static frame::Site site{"normalize_array"};
    return array_boundary(site, "kelvara.mathtools.linear.linear.normalize_array", [&]() -> frame::Slice {
        require_three_columns(a, "normalize_array");
        const Py_ssize_t n = a.shape[0];
        frame::Ref shape = frame::Ref::steal(Py_BuildValue("(nn)", n, Py_ssize_t(3)));
        frame::Ref arr = zeros(shape.get());
        frame::View out(frame::view2d(arr.get(), true));
        for (Py_ssize_t i = 0; i < n; ++i) {
            frame::poll_signals(i);
            double v[3] = {frame::at(a, i, 0), frame::at(a, i, 1), frame::at(a, i, 2)};
            double u[3];
            normalize(v, u);
            if (PyErr_Occurred()) throw frame::PyErrorSet{};
            out(i, 0) = u[0];
            out(i, 1) = u[1];
            out(i, 2) = u[2];
        }
        return out.release_slice();
    });
}

// Compile-time agreement of the definitions with the declarations clients bind against.
static_assert(std::is_same_v<decltype(scale), kelvara::linear::scale_fn>);
static_assert(std::is_same_v<decltype(norm_array), kelvara::linear::norm_array_fn>);
static_assert(std::is_same_v<decltype(mat_x_vec), kelvara::linear::mat_x_vec_fn>);

void body(frame::Module&, PyObject* module) {
    namespace L = kelvara::linear;
    frame::export_function(module, L::scale.name, &scale, L::scale.signature);
    frame::export_function(module, L::add.name, &add, L::add.signature);
    frame::export_function(module, L::sub.name, &sub, L::sub.signature);
    frame::export_function(module, L::dot.name, &dot, L::dot.signature);
    frame::export_function(module, L::cross.name, &cross, L::cross.signature);
    frame::export_function(module, L::norm.name, &norm, L::norm.signature);
    frame::export_function(module, L::norm_array.name, &norm_array, L::norm_array.signature);
    frame::export_function(module, L::angle.name, &angle, L::angle.signature);
    frame::export_function(module, L::normalize.name, &normalize, L::normalize.signature);
    frame::export_function(module, L::normalize_array.name, &normalize_array, L::normalize_array.signature);
    frame::export_function(module, L::mat_x_vec.name, &mat_x_vec, L::mat_x_vec.signature);
    frame::Ref numpy = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "numpy", numpy.get()));
}

frame::Module linear_module("kelvara.mathtools.linear.linear", "linear",
                            "C-level 3-vector kernels shared by the kelvara modules.", source_file, {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_linear() { return linear_module.init(); }
