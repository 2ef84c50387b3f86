// Test-only client of kelvara.mathtools.linear.linear: binds the published table through
// linear.hpp exactly as the ellipsoid and bodies modules do, and exposes each entry to Python.
// Vector arguments are writable C-contiguous float64 buffers, so passing one array twice
// exercises the aliasing rules.
#include "kelvara/frame/frame.hpp"
#include "kelvara/mathtools/linear/linear.hpp"

#include <memory>

namespace {

namespace L = kelvara::linear;

struct Bound {
    L::scale_fn* scale;
    L::add_fn* add;
    L::sub_fn* sub;
    L::dot_fn* dot;
    L::cross_fn* cross;
    L::norm_fn* norm;
    L::norm_array_fn* norm_array;
    L::angle_fn* angle;
    L::normalize_fn* normalize;
    L::normalize_array_fn* normalize_array;
    L::mat_x_vec_fn* mat_x_vec;
} lin;

/// Writable contiguous float64 memory of at least `n` doubles, held for the call.
class Doubles {
public:
    Doubles(PyObject* obj, Py_ssize_t n) {
        if (PyObject_GetBuffer(obj, &v_, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) < 0)
            throw frame::PyErrorSet{};
        if (!v_.format || std::strcmp(v_.format, "d") != 0 || v_.len < n * Py_ssize_t(sizeof(double))) {
            PyBuffer_Release(&v_);
            frame::raise(PyExc_ValueError, "expected at least %zd contiguous float64 values", n);
        }
    }
    ~Doubles() { PyBuffer_Release(&v_); }
    double* get() const noexcept { return static_cast<double*>(v_.buf); }

private:
    Py_buffer v_{};
};

void nargs(Py_ssize_t n, Py_ssize_t want, const char* name) {
    if (n != want) frame::raise(PyExc_TypeError, "%s() takes %zd arguments", name, want);
}

#define ENTRY(NAME) static frame::Site site{#NAME, nullptr}; return frame::guarded(site, [&]() -> frame::Ref

PyObject* py_scale(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(scale) {
        nargs(n, 3, "scale");
        double s = frame::to_double(a[0]);
        Doubles x(a[1], 3), c(a[2], 3);
        lin.scale(s, x.get(), c.get());
        return frame::Ref::borrow(Py_None);
    });
}


/// add/sub/cross(a, b, c): c = op(a, b).
PyObject* three_vec(PyObject* const* a, Py_ssize_t n, void (*fn)(double*, double*, double*), const char* name) {
    nargs(n, 3, name);
    Doubles x(a[0], 3), y(a[1], 3), c(a[2], 3);
    fn(x.get(), y.get(), c.get());
    return Py_NewRef(Py_None);
}

PyObject* py_add(PyObject*, PyObject* const* a, Py_ssize_t n) { ENTRY(add) { return frame::Ref::steal(three_vec(a, n, lin.add, "add")); }); }
PyObject* py_sub(PyObject*, PyObject* const* a, Py_ssize_t n) { ENTRY(sub) { return frame::Ref::steal(three_vec(a, n, lin.sub, "sub")); }); }
PyObject* py_cross(PyObject*, PyObject* const* a, Py_ssize_t n) { ENTRY(cross) { return frame::Ref::steal(three_vec(a, n, lin.cross, "cross")); }); }

PyObject* py_dot(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(dot) {
        nargs(n, 2, "dot");
        Doubles x(a[0], 3), y(a[1], 3);
        return frame::as_float(lin.dot(x.get(), y.get()));
    });
}

PyObject* py_norm(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(norm) {
        nargs(n, 1, "norm");
        Doubles x(a[0], 3);
        return frame::as_float(lin.norm(x.get()));
    });
}

PyObject* py_angle(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(angle) {
        nargs(n, 2, "angle");
        Doubles x(a[0], 3), y(a[1], 3);
        double r = lin.angle(x.get(), y.get());
        if (r == -1.0 && PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::as_float(r);
    });
}

PyObject* py_normalize(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(normalize) {
        nargs(n, 2, "normalize");
        Doubles x(a[0], 3), u(a[1], 3);
        lin.normalize(x.get(), u.get());
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::Ref::borrow(Py_None);
    });
}

PyObject* py_mat_x_vec(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(mat_x_vec) {
        nargs(n, 3, "mat_x_vec");
        Doubles m(a[0], 9), x(a[1], 3), b(a[2], 3);
        lin.mat_x_vec(reinterpret_cast<double (*)[3]>(m.get()), x.get(), b.get());
        return frame::Ref::borrow(Py_None);
    });
}

/// The array returned through a slice, as numpy.asarray(memview) (it keeps the memory alive).
frame::Ref slice_to_array(frame::Slice s) {
    if (!s.data) throw frame::PyErrorSet{};
    frame::View owned(s);
    frame::Ref np = frame::import("numpy");
    frame::Ref asarray = frame::getattr(np.get(), "asarray");
    return frame::call(asarray.get(), owned.memview().get());
}

PyObject* py_norm_array(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(norm_array) {
        nargs(n, 1, "norm_array");
        frame::View in(frame::view2d(a[0], false));
        return slice_to_array(lin.norm_array(in.slice()));
    });
}

PyObject* py_normalize_array(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(normalize_array) {
        nargs(n, 1, "normalize_array");
        frame::View in(frame::view2d(a[0], false));
        return slice_to_array(lin.normalize_array(in.slice()));
    });
}

/// with_pending(name, *vectors): call an entry while a RuntimeError("pending") is already set, as
/// a callee that raised would leave it; returns (result, exception) where result is the float
/// returned (None for void entries, `data is NULL` for array entries).
PyObject* py_with_pending(PyObject*, PyObject* const* a, Py_ssize_t n) {
    ENTRY(with_pending) {
        if (n < 2 || !PyUnicode_Check(a[0])) frame::raise(PyExc_TypeError, "with_pending(name, *vectors)");
        const char* name = PyUnicode_AsUTF8(a[0]);
        frame::Ref result = frame::Ref::borrow(Py_None);
        frame::View in;
        std::unique_ptr<Doubles> x, y;
        if (std::strcmp(name, "norm_array") == 0 || std::strcmp(name, "normalize_array") == 0)
            in = frame::View(frame::view2d(a[1], false));
        else {
            x = std::make_unique<Doubles>(a[1], 3);
            if (n > 2) y = std::make_unique<Doubles>(a[2], 3);
        }
        PyErr_SetString(PyExc_RuntimeError, "pending");
        if (std::strcmp(name, "angle") == 0) result = frame::as_float(lin.angle(x->get(), y->get()));
        else if (std::strcmp(name, "norm") == 0) result = frame::as_float(lin.norm(x->get()));
        else if (std::strcmp(name, "normalize") == 0) lin.normalize(x->get(), y->get());
        else if (std::strcmp(name, "norm_array") == 0 || std::strcmp(name, "normalize_array") == 0) {
            frame::Slice s = name[4] == '_' ? lin.norm_array(in.slice()) : lin.normalize_array(in.slice());
            result = frame::Ref::borrow(s.data ? Py_False : Py_True);
            frame::release(s);
        }
        frame::Ref exc = frame::Ref::steal_or_null(frame::cpython::take_exception());
        if (!result) throw frame::PyErrorSet{};
        return frame::Ref::steal(PyTuple_Pack(2, result.get(), exc ? exc.get() : Py_None));
    });
}

#undef ENTRY

PyMethodDef methods[] = {
    {"scale", reinterpret_cast<PyCFunction>(py_scale), METH_FASTCALL, nullptr},
    {"add", reinterpret_cast<PyCFunction>(py_add), METH_FASTCALL, nullptr},
    {"sub", reinterpret_cast<PyCFunction>(py_sub), METH_FASTCALL, nullptr},
    {"dot", reinterpret_cast<PyCFunction>(py_dot), METH_FASTCALL, nullptr},
    {"cross", reinterpret_cast<PyCFunction>(py_cross), METH_FASTCALL, nullptr},
    {"norm", reinterpret_cast<PyCFunction>(py_norm), METH_FASTCALL, nullptr},
    {"norm_array", reinterpret_cast<PyCFunction>(py_norm_array), METH_FASTCALL, nullptr},
    {"angle", reinterpret_cast<PyCFunction>(py_angle), METH_FASTCALL, nullptr},
    {"normalize", reinterpret_cast<PyCFunction>(py_normalize), METH_FASTCALL, nullptr},
    {"normalize_array", reinterpret_cast<PyCFunction>(py_normalize_array), METH_FASTCALL, nullptr},
    {"mat_x_vec", reinterpret_cast<PyCFunction>(py_mat_x_vec), METH_FASTCALL, nullptr},
    {"with_pending", reinterpret_cast<PyCFunction>(py_with_pending), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    lin.scale = L::scale.bind();
    lin.add = L::add.bind();
    lin.sub = L::sub.bind();
    lin.dot = L::dot.bind();
    lin.cross = L::cross.bind();
    lin.norm = L::norm.bind();
    lin.norm_array = L::norm_array.bind();
    lin.angle = L::angle.bind();
    lin.normalize = L::normalize.bind();
    lin.normalize_array = L::normalize_array.bind();
    lin.mat_x_vec = L::mat_x_vec.bind();
    frame::check_status(PyModule_AddFunctions(module, methods));
}

frame::Module client("linear_client", "linear_client", "Test client of the linear C-function table.",
                     "tests/ext/linear_client.cpp", {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_linear_client() { return client.init(); }
