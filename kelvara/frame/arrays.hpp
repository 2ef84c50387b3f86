// NumPy values in and out of a method, the way the methods' Python form reaches them:
//   - NumPy itself through a module global ("np" or "numpy"), looked up at every call so that
//     rebinding it is honoured; `NumpyGlobal` allocates with numpy.zeros through it;
//   - arguments inspected by their `ndim` and `shape` attributes and read by Python indexing,
//     except that an exact, aligned, native float64 ndarray is read in place (same results,
//     same exceptions): `Items` (x[i]), `Rows` (x[i][0..2]), `read3`;
//   - results written in place into the arrays numpy.zeros made: `RecordOut<T>` (1-D records
//     checked once per dtype object against the packed C twin T) and `DoubleOut` ((n,) or (n, 3)).
// Include only from a module's single translation unit (it uses NumPy's C interface).
#pragma once

#include "buffer.hpp"
#include "globals.hpp"
#include "names.hpp"
#include "numpy.hpp"
#include "numpy_global.hpp"

#include <memory>

namespace frame {

/// A zero-filled C-ordered float64 array made through NumPy's C interface (no Python-level
/// lookups: for companions of an array numpy.zeros already made).
inline Ref new_zeros(int ndim, npy_intp* dims) { return Ref::steal(PyArray_ZEROS(ndim, dims, NPY_DOUBLE, 0)); }

/// A C-ordered array of `type` with its elements left unset, for results every element of
/// which is written before the array is returned.
inline Ref new_array(int ndim, npy_intp* dims, int type = NPY_DOUBLE) {
    return Ref::steal(PyArray_SimpleNew(ndim, dims, type));
}

/// `o` as a C-contiguous, aligned array of `type` with `mindim` to `maxdim` dimensions (0 for
/// any), converted as `flags` allow (NPY_ARRAY_FORCECAST for any cast).
inline Ref as_array(PyObject* o, int type, int mindim, int maxdim, int flags = 0) {
    return Ref::steal(PyArray_FromAny(o, PyArray_DescrFromType(type), mindim, maxdim, NPY_ARRAY_CARRAY_RO | flags,
                                      nullptr));
}

/// `o` as a C-contiguous float64 array like as_array with any cast, but only from numbers: an
/// array (or a sequence NumPy reads as one) of booleans, integers, floats or Python objects
/// that float() converts. Dates, durations, complex numbers, text and records raise TypeError
/// naming `name` (a cast would read datetime64 counts as metres, or drop imaginary parts).
inline Ref as_real_array(PyObject* o, const char* name, int mindim, int maxdim) {
    Ref found = Ref::steal(PyArray_FromAny(o, nullptr, mindim, maxdim, 0, nullptr));
    PyArray_Descr* d = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(found.get()));
    const char kind = d->kind;
    if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f' && kind != 'O') {
        Ref text = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(d)));
        raise(PyExc_TypeError, "%s must hold real numbers, not %U", name, text.get());
    }
    return as_array(found.get(), NPY_DOUBLE, mindim, maxdim, NPY_ARRAY_FORCECAST);
}

/// The array a Ref holds (one made above, or any ndarray), for NumPy's C macros.
inline PyArrayObject* array_of(const Ref& a) noexcept { return reinterpret_cast<PyArrayObject*>(a.get()); }

/// The elements of an array made above (or any array of T), in place.
template <class T = double>
inline T* data_of(const Ref& a) noexcept {
    return static_cast<T*>(PyArray_DATA(array_of(a)));
}

/// The shape tuples (n,) and (n, m).
inline Ref shape_of(Py_ssize_t n) { return Ref::steal(Py_BuildValue("(n)", n)); }
inline Ref shape_of(Py_ssize_t n, Py_ssize_t m) { return Ref::steal(Py_BuildValue("(nn)", n, m)); }

// ---------------------------------------------------------------------------------------------
// Arguments

/// `o` as the array the fast path reads in place, or null (see is_float64_array).
inline PyArrayObject* float64_array(PyObject* o) noexcept {
    return is_float64_array(o) ? reinterpret_cast<PyArrayObject*>(o) : nullptr;
}

inline bool truth(PyObject* o) { return check_status(PyObject_IsTrue(o)) == 1; }
inline bool truth(const Ref& o) { return truth(o.get()); }
/// `a == b` as Python's truth of the comparison.
inline bool equal(PyObject* a, PyObject* b) { return truth(Ref::steal(PyObject_RichCompare(a, b, Py_EQ))); }

/// `o[i]` (lists and tuples read directly).
inline Ref item(PyObject* o, Py_ssize_t i) {
    if (PyList_CheckExact(o) && i < PyList_GET_SIZE(o)) return Ref::borrow(PyList_GET_ITEM(o, i));
    if (PyTuple_CheckExact(o) && i < PyTuple_GET_SIZE(o)) return Ref::borrow(PyTuple_GET_ITEM(o, i));
    Ref idx = Ref::steal(PyLong_FromSsize_t(i));
    return Ref::steal(PyObject_GetItem(o, idx.get()));
}

/// `o.ndim == k`
inline bool ndim_is(PyObject* o, int k) {
    if (PyArrayObject* a = float64_array(o)) return PyArray_NDIM(a) == k;
    Ref kk = Ref::steal(PyLong_FromLong(k));
    return equal(getattr(o, numpy_names::ndim).get(), kk.get());
}

/// `o.shape[k]`, as a Python object.
inline Ref shape_at(PyObject* o, Py_ssize_t k) { return item(getattr(o, numpy_names::shape).get(), k); }

/// `o.shape == (3,)`
inline bool shape_is_3(PyObject* o) {
    if (PyArrayObject* a = float64_array(o)) return PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) == 3;
    Ref shape = getattr(o, numpy_names::shape);
    Ref three = Ref::steal(Py_BuildValue("(i)", 3));
    return equal(shape.get(), three.get());
}

/// `o.shape[0]` as a loop count.
inline Py_ssize_t length(PyObject* o) {
    if (PyArrayObject* a = float64_array(o); a && PyArray_NDIM(a) >= 1) return PyArray_DIM(a, 0);
    Ref n = Ref::steal(PyNumber_Index(shape_at(o, 0).get()));
    Py_ssize_t v = PyLong_AsSsize_t(n.get());
    if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
    return v;
}

/// x[i] of a 1-D argument, for i < n.
class Items {
public:
    Items(PyObject* o, Py_ssize_t n) : o_(o) {
        PyArrayObject* a = float64_array(o);
        if (a && PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) >= n) {
            data_ = static_cast<char*>(PyArray_DATA(a));
            stride_ = PyArray_STRIDE(a, 0);
        }
    }
    double operator()(Py_ssize_t i) const {
        if (data_) return *reinterpret_cast<const double*>(data_ + i * stride_);
        return to_double(item(o_, i).get());
    }

private:
    PyObject* o_;
    const char* data_ = nullptr;
    Py_ssize_t stride_ = 0;
};

/// x[i][0], x[i][1], x[i][2] of a 2-D argument, for i < n.
class Rows {
public:
    Rows(PyObject* o, Py_ssize_t n) : o_(o) {
        PyArrayObject* a = float64_array(o);
        if (a && PyArray_NDIM(a) == 2 && PyArray_DIM(a, 0) >= n && PyArray_DIM(a, 1) >= 3) {
            data_ = static_cast<char*>(PyArray_DATA(a));
            s0_ = PyArray_STRIDE(a, 0);
            s1_ = PyArray_STRIDE(a, 1);
        }
    }
    void operator()(Py_ssize_t i, double* v) const {
        if (data_) {
            const char* row = data_ + i * s0_;
            for (int j = 0; j < 3; ++j) v[j] = *reinterpret_cast<const double*>(row + j * s1_);
            return;
        }
        for (int j = 0; j < 3; ++j) v[j] = to_double(item(item(o_, i).get(), j).get());
    }

private:
    PyObject* o_;
    const char* data_ = nullptr;
    Py_ssize_t s0_ = 0, s1_ = 0;
};

/// The three items of a one-point argument.
inline void read3(PyObject* o, double* v) {
    Items it(o, 3);
    for (int j = 0; j < 3; ++j) v[j] = it(j);
}

// ---------------------------------------------------------------------------------------------
// Results

/// 1-D record output over numpy.zeros(shape, dtype=<module global dtype_name>); the layout is
/// checked against the C twin T through the buffer layer once per dtype object, then written
/// directly. IndexError when the array holds fewer than n records.
template <class T>
class RecordOut {
public:
    RecordOut(const NumpyGlobal& np, PyObject* dtype_name, PyObject* shape, Py_ssize_t n) : np_(np) {
        dtype_ = module_global(dtype_name);
        arr_ = np.zeros(shape, dtype_.get());
        static PyArray_Descr* verified = nullptr;
        auto* a = reinterpret_cast<PyArrayObject*>(arr_.get());
        if (PyArray_CheckExact(arr_.get()) && PyArray_DESCR(a) == verified && PyArray_NDIM(a) == 1 &&
            PyArray_ISCARRAY(a)) {
            data_ = static_cast<char*>(PyArray_DATA(a));
            size_ = PyArray_DIM(a, 0);
        } else {
            view_ = std::make_unique<RecordView<T>>(arr_.get(), true);
            size_ = view_->size();
            if (PyArray_CheckExact(arr_.get())) {
                Py_XDECREF(verified);
                verified = PyArray_DESCR(a);
                Py_INCREF(verified);
            }
        }
        if (size_ < n) raise(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
    }
    T& operator[](Py_ssize_t i) const { return data_ ? reinterpret_cast<T*>(data_)[i] : (*view_)[i]; }
    /// numpy.asarray(result, dtype=<record type>)
    Ref finish() {
        view_.reset();
        return np_.asarray(arr_.get(), dtype_.get());
    }

private:
    const NumpyGlobal& np_;
    Ref dtype_, arr_;
    char* data_ = nullptr;
    Py_ssize_t size_ = 0;
    std::unique_ptr<RecordView<T>> view_;
};

/// float64 output of shape (n,) (ndim 1) or (n, 3) (ndim 2) over numpy.zeros(shape, numpy.double).
class DoubleOut {
public:
    DoubleOut(const NumpyGlobal& np, PyObject* shape, int ndim) : np_(np) {
        Ref dbl = np.double_();
        arr_ = np.zeros(shape, dbl.get());
        view_ = View(view_doubles(arr_.get(), ndim, true));
    }
    double& operator()(Py_ssize_t i, Py_ssize_t j = 0) const { return at(view_.slice(), i, j); }
    void put3(Py_ssize_t i, const double* v) const {
        for (int j = 0; j < 3; ++j) (*this)(i, j) = v[j];
    }
    /// numpy.asarray(result)
    Ref finish() {
        view_ = View();
        return np_.asarray(arr_.get(), nullptr);
    }

private:
    const NumpyGlobal& np_;
    Ref arr_;
    View view_;
};

}  // namespace frame
