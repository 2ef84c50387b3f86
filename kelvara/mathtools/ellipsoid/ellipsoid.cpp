// kelvara.mathtools.ellipsoid.ellipsoid: the Ellipsoid type (a, f), its C-level table of
// per-point geodetic kernels, its array methods, `create` and the predefined WGS84, WGS72 and
// GRS80 ellipsoids published at C level.
#include "../../frame/frame.hpp"
#include "../../frame/globals.hpp"
#include "../../frame/imports.hpp"
#include "../../frame/numpy.hpp"
#include "../linear/linear.hpp"
#include "ellipsoid.hpp"
#include "geodesy_kernels.hpp"

#include <memory>

namespace {

using kelvara::AER;
using kelvara::ENU_Frame;
using kelvara::EllipsoidObject;
using kelvara::EllipsoidVTable;
using kelvara::GeodeticState;
using kelvara::LLA;
using kelvara::SurfCoord;
using frame::Ref;

constexpr const char* source_file = "kelvara/mathtools/ellipsoid/ellipsoid.cpp";

EllipsoidVTable ellipsoid_vtable = kelvara::geodesy::Kernels<EllipsoidObject>::table<EllipsoidVTable>();
PyTypeObject* ellipsoid_type = nullptr;

// C-level module variables holding the predefined ellipsoids (None until the module body runs).
EllipsoidObject* WGS84 = nullptr;
EllipsoidObject* WGS72 = nullptr;
EllipsoidObject* GRS80 = nullptr;

// Bound from linear at load; only sub, dot and norm are used (by c_aer_coords).
kelvara::linear::scale_fn* linear_scale = nullptr;
kelvara::linear::add_fn* linear_add = nullptr;

frame::Module& this_module();

// ---------------------------------------------------------------------------------------------
// Module globals, looked up at call time as the methods' Python form would.

struct Names {
    PyObject *np, *Real, *zeros, *zeros_like, *asarray, *double_, *shape, *ndim, *dtype, *lower;
    PyObject *ENU_dtype, *SurfCoord_dtype, *LLA_dtype, *GeodeticState_dtype, *AER_dtype;
    PyObject* kw_shape_dtype;  // ("shape", "dtype")
    PyObject* kw_dtype;        // ("dtype",)
    PyObject* tuple3;          // (3,)
    PyObject *int_1, *int_2, *int_3;
};
Names names{};

void intern_names() {
    if (names.np) return;
    names.np = frame::interned("np");
    names.Real = frame::interned("Real");
    names.zeros = frame::interned("zeros");
    names.zeros_like = frame::interned("zeros_like");
    names.asarray = frame::interned("asarray");
    names.double_ = frame::interned("double");
    names.shape = frame::interned("shape");
    names.ndim = frame::interned("ndim");
    names.dtype = frame::interned("dtype");
    names.lower = frame::interned("lower");
    names.ENU_dtype = frame::interned("ENU_dtype");
    names.SurfCoord_dtype = frame::interned("SurfCoord_dtype");
    names.LLA_dtype = frame::interned("LLA_dtype");
    names.GeodeticState_dtype = frame::interned("GeodeticState_dtype");
    names.AER_dtype = frame::interned("AER_dtype");
    names.kw_shape_dtype = frame::check(PyTuple_Pack(2, names.shape, names.dtype));
    names.kw_dtype = frame::check(PyTuple_Pack(1, names.dtype));
    names.int_1 = frame::check(PyLong_FromLong(1));
    names.int_2 = frame::check(PyLong_FromLong(2));
    names.int_3 = frame::check(PyLong_FromLong(3));
    names.tuple3 = frame::check(PyTuple_Pack(1, names.int_3));
}

Ref global(PyObject* name) { return frame::lookup_global(this_module().dict(), name); }

/// np.zeros(shape=shape, dtype=dtype).
Ref np_zeros(PyObject* shape, PyObject* dtype) {
    Ref np = global(names.np);
    Ref fn = frame::getattr(np.get(), names.zeros);
    PyObject* argv[] = {nullptr, shape, dtype};
    return Ref::steal(PyObject_Vectorcall(fn.get(), argv + 1, 0 | PY_VECTORCALL_ARGUMENTS_OFFSET, names.kw_shape_dtype));
}

/// np.asarray(result, dtype=dtype), or np.asarray(result) when dtype is null.
Ref np_asarray(PyObject* result, PyObject* dtype) {
    Ref np = global(names.np);
    Ref fn = frame::getattr(np.get(), names.asarray);
    PyObject* argv[] = {nullptr, result, dtype};
    return Ref::steal(PyObject_Vectorcall(fn.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                          dtype ? names.kw_dtype : nullptr));
}

Ref np_double() { return frame::getattr(global(names.np).get(), names.double_); }

Ref shape_n(Py_ssize_t n) { return Ref::steal(Py_BuildValue("(n)", n)); }
Ref shape_n3(Py_ssize_t n) { return Ref::steal(Py_BuildValue("(nn)", n, Py_ssize_t(3))); }

// ---------------------------------------------------------------------------------------------
// Argument inspection: scalars by `isinstance(x, Real)`, arrays by their `ndim` and `shape`
// attributes, elements by Python indexing. An exact float64 ndarray is read through its data
// pointer instead, with the same results and exceptions.

bool is_scalar(PyObject* o) {
    if (PyFloat_CheckExact(o) || PyLong_CheckExact(o)) return true;
    Ref real = global(names.Real);
    return frame::check_status(PyObject_IsInstance(o, real.get())) == 1;
}

bool truth(const Ref& o) { return frame::check_status(PyObject_IsTrue(o.get())) == 1; }
bool equal(PyObject* a, PyObject* b) { return truth(Ref::steal(PyObject_RichCompare(a, b, Py_EQ))); }

PyArrayObject* as_f64(PyObject* o) noexcept {
    return frame::is_float64_array(o) ? reinterpret_cast<PyArrayObject*>(o) : nullptr;
}

Ref attr(PyObject* o, PyObject* name) { return frame::getattr(o, name); }

/// `o.ndim == k`
bool ndim_is(PyObject* o, int k) {
    if (PyArrayObject* a = as_f64(o)) return PyArray_NDIM(a) == k;
    Ref kk = Ref::steal(PyLong_FromLong(k));
    return equal(attr(o, names.ndim).get(), kk.get());
}

/// `o.shape == (3,)`
bool shape_is_3(PyObject* o) {
    if (PyArrayObject* a = as_f64(o)) return PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) == 3;
    return equal(attr(o, names.shape).get(), names.tuple3);
}

Ref item(PyObject* o, Py_ssize_t i) {
    if (PyList_CheckExact(o) && i < PyList_GET_SIZE(o)) return Ref::borrow(PyList_GET_ITEM(o, i));
    if (PyTuple_CheckExact(o) && i < PyTuple_GET_SIZE(o)) return Ref::borrow(PyTuple_GET_ITEM(o, i));
    Ref idx = Ref::steal(PyLong_FromSsize_t(i));
    return Ref::steal(PyObject_GetItem(o, idx.get()));
}

/// `o.shape[k]`, as a Python object.
Ref shape_at(PyObject* o, Py_ssize_t k) { return item(attr(o, names.shape).get(), k); }

/// `o.shape[0]` as a loop count.
Py_ssize_t length(PyObject* o) {
    if (PyArrayObject* a = as_f64(o); a && PyArray_NDIM(a) >= 1) return PyArray_DIM(a, 0);
    Ref n = Ref::steal(PyNumber_Index(shape_at(o, 0).get()));
    Py_ssize_t v = PyLong_AsSsize_t(n.get());
    if (v == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
    return v;
}

/// Bare AssertionError unless `cond()`; the condition is not evaluated under -O.
template <class F>
void check_assert(F&& cond) {
    if (frame::assertions_enabled()) frame::check_assert(cond());
}

/// x[i] of a 1-D argument, for i < n.
class Items {
public:
    Items(PyObject* o, Py_ssize_t n) : o_(o) {
        PyArrayObject* a = as_f64(o);
        if (a && PyArray_NDIM(a) == 1 && PyArray_DIM(a, 0) >= n) {
            data_ = static_cast<char*>(PyArray_DATA(a));
            stride_ = PyArray_STRIDE(a, 0);
        }
    }
    double operator()(Py_ssize_t i) const {
        if (data_) return *reinterpret_cast<const double*>(data_ + i * stride_);
        return frame::to_double(item(o_, i).get());
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
        PyArrayObject* a = as_f64(o);
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
        for (int j = 0; j < 3; ++j) v[j] = frame::to_double(item(item(o_, i).get(), j).get());
    }

private:
    PyObject* o_;
    const char* data_ = nullptr;
    Py_ssize_t s0_ = 0, s1_ = 0;
};

/// The three items of a one-point argument.
void read3(PyObject* o, double* v) {
    Items it(o, 3);
    for (int j = 0; j < 3; ++j) v[j] = it(j);
}

// ---------------------------------------------------------------------------------------------
// Results: written in place into the array np.zeros made.

/// 1-D record output over a fresh array; the layout is checked against the C twin through the
/// buffer layer once per dtype object, then written directly.
template <class T>
class RecordOut {
public:
    RecordOut(PyObject* dtype_name, PyObject* shape, Py_ssize_t n) {
        dtype_ = global(dtype_name);
        arr_ = np_zeros(shape, dtype_.get());
        static PyArray_Descr* verified = nullptr;
        auto* a = reinterpret_cast<PyArrayObject*>(arr_.get());
        if (PyArray_CheckExact(arr_.get()) && PyArray_DESCR(a) == verified && PyArray_NDIM(a) == 1 &&
            PyArray_ISCARRAY(a)) {
            data_ = static_cast<char*>(PyArray_DATA(a));
            size_ = PyArray_DIM(a, 0);
        } else {
            view_ = std::make_unique<frame::RecordView<T>>(arr_.get(), true);
            size_ = view_->size();
            if (PyArray_CheckExact(arr_.get())) {
                Py_XDECREF(verified);
                verified = PyArray_DESCR(a);
                Py_INCREF(verified);
            }
        }
        if (size_ < n) frame::raise(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
    }
    T& operator[](Py_ssize_t i) const {
        return data_ ? reinterpret_cast<T*>(data_)[i] : (*view_)[i];
    }
    /// np.asarray(result, dtype=<record type>)
    Ref finish() { view_.reset(); return np_asarray(arr_.get(), dtype_.get()); }

private:
    Ref dtype_, arr_;
    char* data_ = nullptr;
    Py_ssize_t size_ = 0;
    std::unique_ptr<frame::RecordView<T>> view_;
};

/// float64 output of shape (n,) or (n, 3).
class DoubleOut {
public:
    DoubleOut(PyObject* shape, int ndim) {
        Ref dbl = np_double();
        arr_ = np_zeros(shape, dbl.get());
        view_ = frame::View(frame::view_doubles(arr_.get(), ndim, true));
    }
    double& operator()(Py_ssize_t i, Py_ssize_t j = 0) const { return frame::at(view_.slice(), i, j); }
    void put3(Py_ssize_t i, const double* v) const {
        for (int j = 0; j < 3; ++j) (*this)(i, j) = v[j];
    }
    /// np.asarray(result)
    Ref finish() {
        view_ = frame::View();
        return np_asarray(arr_.get(), nullptr);
    }

private:
    Ref arr_;
    frame::View view_;
};

EllipsoidObject* self_of(PyObject* o) noexcept { return reinterpret_cast<EllipsoidObject*>(o); }

// ---------------------------------------------------------------------------------------------
// Construction

const frame::Signature<2> sig_init{"__cinit__", {"Re", "f"}};
const frame::Signature<2> sig_init2{"__init__", {"Re", "f"}};

PyObject* ellipsoid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__", source_file};
    return frame::guarded(site, [&]() -> Ref {
        Ref obj = Ref::steal(type->tp_alloc(type, 0));
        EllipsoidObject* self = self_of(obj.get());
        self->vtab = &ellipsoid_vtable;
        auto [re_obj, f_obj] = frame::parse(sig_init, args, kwargs);
        const double Re = frame::to_double(re_obj);
        const double f = frame::to_double(f_obj);
        check_assert([&] { return Re > 0; });
        self->Re = Re;
        check_assert([&] { return 0 <= f && f < 1; });
        self->f = f;
        self->Rp = (1 - f) * Re;
        return obj;
    });
}

int ellipsoid_init(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__init__", source_file};
    return frame::guarded_status(site, [&] {
        auto [re_obj, f_obj] = frame::parse(sig_init2, args, kwargs);
        frame::to_double(re_obj);
        frame::to_double(f_obj);
    });
}

PyObject* get_Re(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", source_file};
    return frame::guarded(site, [&] { return frame::as_float(self_of(self)->Re); });
}
PyObject* get_f(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", source_file};
    return frame::guarded(site, [&] { return frame::as_float(self_of(self)->f); });
}
PyObject* get_Rp(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", source_file};
    return frame::guarded(site, [&] { return frame::as_float(self_of(self)->Rp); });
}

// ---------------------------------------------------------------------------------------------
// create

/// The predefined ellipsoid of `name` (case-insensitive); `name` is a str or None.
EllipsoidObject* create_impl(PyObject* name) {
    Ref table = Ref::steal(PyDict_New());
    frame::check_status(PyDict_SetItemString(table.get(), "wgs84", names.int_1));
    frame::check_status(PyDict_SetItemString(table.get(), "grs80", names.int_2));
    frame::check_status(PyDict_SetItemString(table.get(), "wgs72", names.int_3));
    // str.lower applied as an unbound method, so None fails it with TypeError.
    Ref lower_fn = frame::getattr(reinterpret_cast<PyObject*>(&PyUnicode_Type), names.lower);
    Ref key = frame::call(lower_fn.get(), name);
    PyObject* code = PyDict_GetItemWithError(table.get(), key.get());
    if (!code) {
        if (!PyErr_Occurred()) {
            Ref k = Ref::steal(PyTuple_Pack(1, key.get()));
            PyErr_SetObject(PyExc_KeyError, k.get());
        }
        throw frame::PyErrorSet{};
    }
    double Re = 0, f = 0;
    switch (PyLong_AsLong(code)) {
        case 1: Re = 6378137.0; f = 0.0033528106647474805; break;
        case 2: Re = 6378137.0; f = 0.003352810681182319; break;
        case 3: Re = 6378135.0; f = 0.003352779454167505; break;
    }
    Ref re_obj = frame::as_float(Re), f_obj = frame::as_float(f);
    Ref obj = frame::call(reinterpret_cast<PyObject*>(ellipsoid_type), re_obj.get(), f_obj.get());
    return self_of(obj.release());
}

/// C-level create(name, flag): new reference, or null with an exception set.
EllipsoidObject* c_create(PyObject* name, int) {
    static frame::Site site{"create", source_file};
    PyObject* r = frame::guarded(site, [&] { return Ref::steal(reinterpret_cast<PyObject*>(create_impl(name))); });
    return self_of(r);
}

PyObject* py_create(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) noexcept {
    static frame::Site site{"create", source_file};
    static const frame::Signature<1> sig{"create", {"name"}};
    return frame::guarded(site, [&] {
        auto [name] = frame::parse(sig, args, n, kw);
        frame::check_arg_type(name, &PyUnicode_Type, "name", true, true);
        return Ref::steal(reinterpret_cast<PyObject*>(create_impl(name)));
    });
}

// ---------------------------------------------------------------------------------------------
// Array methods

#define METHOD(NAME, NPARAMS, ...)                                                                     \
    PyObject* m_##NAME(PyObject* self_, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) noexcept { \
        static frame::Site site{#NAME, source_file};                                                   \
        static const frame::Signature<NPARAMS> sig{#NAME, {__VA_ARGS__}};                               \
        EllipsoidObject* self = self_of(self_);                                                        \
        EllipsoidVTable* vt = self->vtab;                                                              \
        return frame::guarded(site, [&]() -> Ref {                                                     \
            auto params = frame::parse(sig, args, nargs, kw);

#define END_METHOD \
        });        \
    }

/// reduced_lat_from_geodetic_lat / geodetic_lat_from_reduced_lat: a scalar gives a float, an
/// array gives float64 (N,) written into np.zeros_like(x).
Ref latitude_map(EllipsoidObject* self, double (*kernel)(EllipsoidObject*, double), PyObject* x) {
    if (is_scalar(x)) return frame::as_float(kernel(self, frame::to_double(x)));
    Ref np = global(names.np);
    Ref fn = frame::getattr(np.get(), names.zeros_like);
    Ref result = frame::call(fn.get(), x);
    frame::View out(frame::view1d(result.get(), true));
    const Py_ssize_t n = length(x);
    if (n > out.rows()) frame::raise(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
    Items xs(x, n);
    for (Py_ssize_t i = 0; i < n; ++i) out[i] = kernel(self, xs(i));
    out = frame::View();
    return np_asarray(result.get(), nullptr);
}

METHOD(reduced_lat_from_geodetic_lat, 1, "geodetic_lat")
    return latitude_map(self, vt->c_reduced_lat_from_geodetic_lat, params[0]);
END_METHOD

METHOD(geodetic_lat_from_reduced_lat, 1, "reduced_lat")
    return latitude_map(self, vt->c_geodetic_lat_from_reduced_lat, params[0]);
END_METHOD

/// The batch preconditions of (lat, lon): lat.ndim == lon.ndim == 1 and lat.shape == lon.shape.
void assert_pair(PyObject* lat, PyObject* lon) {
    check_assert([&] {
        Ref a = attr(lat, names.ndim), b = attr(lon, names.ndim);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), names.int_1);
    });
    check_assert([&] { return equal(attr(lat, names.shape).get(), attr(lon, names.shape).get()); });
}

METHOD(enu, 2, "lat", "lon")
    PyObject *lat = params[0], *lon = params[1];
    if (is_scalar(lat) && is_scalar(lon)) {
        Ref shape = shape_n(1);
        RecordOut<ENU_Frame> out(names.ENU_dtype, shape.get(), 1);
        vt->c_enu(self, SurfCoord{frame::to_double(lat), frame::to_double(lon)}, &out[0]);
        return out.finish();
    }
    assert_pair(lat, lon);
    Ref shape = attr(lat, names.shape);
    const Py_ssize_t n = length(lat);
    RecordOut<ENU_Frame> out(names.ENU_dtype, shape.get(), n);
    Items la(lat, n), lo(lon, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        const double phi = la(i);
        vt->c_enu(self, SurfCoord{phi, lo(i)}, &out[i]);
    }
    return out.finish();
END_METHOD

METHOD(surf_pos_from_surf_coord, 2, "lat", "lon")
    PyObject *lat = params[0], *lon = params[1];
    if (is_scalar(lat) && is_scalar(lon)) {
        DoubleOut out(shape_n(3).get(), 1);
        double r[3];
        vt->c_surf_pos_from_surf_coord(self, SurfCoord{frame::to_double(lat), frame::to_double(lon)}, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    assert_pair(lat, lon);
    const Py_ssize_t n = length(lat);
    DoubleOut out(shape_n3(n).get(), 2);
    Items la(lat, n), lo(lon, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double r[3];
        const double phi = la(i);
        vt->c_surf_pos_from_surf_coord(self, SurfCoord{phi, lo(i)}, r);
        out.put3(i, r);
    }
    return out.finish();
END_METHOD

/// Batch preconditions of an (N, 3) argument: x.ndim == 2 and x.shape[1] == 3.
void assert_rows(PyObject* x) {
    check_assert([&] { return ndim_is(x, 2); });
    check_assert([&] {
        if (PyArrayObject* a = as_f64(x)) return PyArray_NDIM(a) > 1 && PyArray_DIM(a, 1) == 3;
        return equal(shape_at(x, 1).get(), names.int_3);
    });
}

METHOD(surf_coord_from_surf_pos, 1, "r_surf")
    PyObject* r = params[0];
    if (ndim_is(r, 1)) {
        check_assert([&] { return shape_is_3(r); });
        RecordOut<SurfCoord> out(names.SurfCoord_dtype, shape_n(1).get(), 1);
        double v[3];
        read3(r, v);
        vt->c_surf_coord_from_surf_pos(self, v, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<SurfCoord> out(names.SurfCoord_dtype, shape_n(n).get(), n);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double v[3];
        rows(i, v);
        vt->c_surf_coord_from_surf_pos(self, v, &out[i]);
    }
    return out.finish();
END_METHOD

METHOD(solve_reduced_lat_equation, 1, "r")
    PyObject* r = params[0];
    if (shape_is_3(r)) {
        double v[3];
        read3(r, v);
        return frame::as_float(vt->c_solve_reduced_lat_equation(self, v));
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    DoubleOut out(shape_n(n).get(), 1);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double v[3];
        rows(i, v);
        out(i) = vt->c_solve_reduced_lat_equation(self, v);
    }
    return out.finish();
END_METHOD

METHOD(lla_from_pos, 1, "r")
    PyObject* r = params[0];
    if (shape_is_3(r)) {
        RecordOut<LLA> out(names.LLA_dtype, shape_n(1).get(), 1);
        double v[3];
        read3(r, v);
        vt->c_lla_from_pos(self, v, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<LLA> out(names.LLA_dtype, shape_n(n).get(), n);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double v[3];
        rows(i, v);
        vt->c_lla_from_pos(self, v, &out[i]);
    }
    return out.finish();
END_METHOD

METHOD(pos_from_lla, 3, "lat", "lon", "alt")
    PyObject *lat = params[0], *lon = params[1], *alt = params[2];
    if (is_scalar(lat) && is_scalar(lon) && is_scalar(alt)) {
        DoubleOut out(shape_n(3).get(), 1);
        double r[3];
        const double phi = frame::to_double(lat), lam = frame::to_double(lon), h = frame::to_double(alt);
        vt->c_pos_from_lla(self, LLA{phi, lam, h}, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    check_assert([&] {
        Ref a = attr(lat, names.ndim), b = attr(lon, names.ndim);
        if (!equal(a.get(), b.get())) return false;
        Ref c = attr(alt, names.ndim);
        if (!equal(b.get(), c.get())) return false;
        return equal(c.get(), names.int_1);
    });
    check_assert([&] {
        Ref a = attr(lat, names.shape), b = attr(lon, names.shape);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), attr(alt, names.shape).get());
    });
    const Py_ssize_t n = length(lat);
    DoubleOut out(shape_n3(n).get(), 2);
    Items la(lat, n), lo(lon, n), al(alt, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double r[3];
        const double phi = la(i);
        const double lam = lo(i);
        vt->c_pos_from_lla(self, LLA{phi, lam, al(i)}, r);
        out.put3(i, r);
    }
    return out.finish();
END_METHOD

METHOD(geodetic_state_from_state_vector, 2, "r", "v")
    PyObject *r = params[0], *v = params[1];
    if (shape_is_3(r)) {
        RecordOut<GeodeticState> out(names.GeodeticState_dtype, shape_n(1).get(), 1);
        double rv[3], vv[3];
        read3(r, rv);
        read3(v, vv);
        vt->c_geodetic_state_from_state_vector(self, rv, vv, &out[0]);
        return out.finish();
    }
    check_assert([&] {
        Ref a = attr(r, names.ndim), b = attr(v, names.ndim);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), names.int_2);
    });
    check_assert([&] {
        Ref a = shape_at(r, 1), b = shape_at(v, 1);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), names.int_3);
    });
    check_assert([&] { return equal(shape_at(r, 0).get(), shape_at(v, 0).get()); });
    const Py_ssize_t n = length(r);
    RecordOut<GeodeticState> out(names.GeodeticState_dtype, shape_n(n).get(), n);
    Rows rs(r, n), vs(v, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double rv[3], vv[3];
        rs(i, rv);
        vs(i, vv);
        vt->c_geodetic_state_from_state_vector(self, rv, vv, &out[i]);
    }
    return out.finish();
END_METHOD

METHOD(state_vector_from_geodetic_state, 1, "geostate")
    frame::RecordView<GeodeticState> gs(params[0], false);
    const Py_ssize_t n = gs.size();
    DoubleOut r_out(shape_n3(n).get(), 2);
    DoubleOut v_out(shape_n3(n).get(), 2);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double r[3], v[3];
        vt->c_state_vector_from_geodetic_state(self, gs[i], r, v);
        r_out.put3(i, r);
        v_out.put3(i, v);
    }
    Ref ra = r_out.finish();
    Ref va = v_out.finish();
    return Ref::steal(PyTuple_Pack(2, ra.get(), va.get()));
END_METHOD

METHOD(surf_pos_of_ray_first_intersection, 2, "r_source", "u_ray")
    PyObject *r_source = params[0], *u_ray = params[1];
    check_assert([&] { return shape_is_3(r_source); });
    if (ndim_is(u_ray, 1)) {
        check_assert([&] { return shape_is_3(u_ray); });
        DoubleOut out(shape_n(3).get(), 1);
        double r0[3], u[3], r[3];
        read3(r_source, r0);
        read3(u_ray, u);
        vt->c_surf_pos_of_ray_first_intersection(self, r0, u, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    assert_rows(u_ray);
    const Py_ssize_t n = length(u_ray);
    DoubleOut out(shape_n3(n).get(), 2);
    double r0[3];
    read3(r_source, r0);
    Rows us(u_ray, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        double u[3], r[3];
        us(i, u);
        vt->c_surf_pos_of_ray_first_intersection(self, r0, u, r);
        out.put3(i, r);
    }
    return out.finish();
END_METHOD

METHOD(aer_coords, 4, "r_target", "lat_obs", "lon_obs", "alt_obs")
    PyObject* r = params[0];
    const double lat = frame::to_double(params[1]);
    const double lon = frame::to_double(params[2]);
    const double alt = frame::to_double(params[3]);
    const LLA obs{lat, lon, alt};
    if (ndim_is(r, 1)) {
        check_assert([&] { return shape_is_3(r); });
        RecordOut<AER> out(names.AER_dtype, shape_n(1).get(), 1);
        double v[3];
        read3(r, v);
        vt->c_aer_coords(self, v, obs, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<AER> out(names.AER_dtype, shape_n(n).get(), n);
    Rows rows(r, n);
    using Kernels = kelvara::geodesy::Kernels<EllipsoidObject>;
    if (vt->c_aer_coords == &Kernels::c_aer_coords) {
        // One observer for every target: its position and frame are computed once (through
        // the table, as the kernel would), which gives the kernel's results at a fraction of
        // its cost.
        Kernels::Observer o(self, obs);
        for (Py_ssize_t i = 0; i < n; ++i) {
            double v[3];
            rows(i, v);
            o.aer(v, &out[i]);
        }
        return out.finish();
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double v[3];
        rows(i, v);
        vt->c_aer_coords(self, v, obs, &out[i]);
    }
    return out.finish();
END_METHOD

#undef METHOD
#undef END_METHOD

// Docstrings: the text signature CPython reads (name($self, ...)\n--\n\n), then numpydoc sections
// whose examples the test suite runs as doctests.

constexpr const char* doc_reduced_lat_from_geodetic_lat = R"doc(reduced_lat_from_geodetic_lat($self, geodetic_lat)
--

Reduced (parametric) latitude of a geodetic latitude.

Parameters
----------
geodetic_lat : float or ndarray of float64, shape (N,)
    Geodetic latitude(s), radians.

Returns
-------
float or ndarray of float64, shape (N,)
    Reduced latitude(s) beta with tan(beta) = (1 - f) tan(phi), radians: a float for a
    number, a new array for an array.

Raises
------
ValueError
    An array that is not a one-dimensional float64 array.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> round(float(np.degrees(wgs84.reduced_lat_from_geodetic_lat(np.radians(45.0)))), 6)
44.903788
>>> np.degrees(wgs84.reduced_lat_from_geodetic_lat(np.radians([0.0, 45.0, 90.0])))
array([ 0.        , 44.90378785, 90.        ])
)doc";

constexpr const char* doc_geodetic_lat_from_reduced_lat = R"doc(geodetic_lat_from_reduced_lat($self, reduced_lat)
--

Geodetic latitude of a reduced (parametric) latitude.

The inverse of `reduced_lat_from_geodetic_lat`.

Parameters
----------
reduced_lat : float or ndarray of float64, shape (N,)
    Reduced latitude(s), radians.

Returns
-------
float or ndarray of float64, shape (N,)
    Geodetic latitude(s) phi with tan(phi) = tan(beta) / (1 - f), radians.

Raises
------
ValueError
    An array that is not a one-dimensional float64 array.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> beta = wgs84.reduced_lat_from_geodetic_lat(np.array([0.1, 0.2, 0.3]))
>>> wgs84.geodetic_lat_from_reduced_lat(beta)
array([0.1, 0.2, 0.3])
)doc";

constexpr const char* doc_enu = R"doc(enu($self, lat, lon)
--

Local East-North-Up unit vectors at geodetic coordinates.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians: two numbers for one point, or two
    one-dimensional arrays of the same shape for a batch.

Returns
-------
ndarray of ENU_dtype, shape (1,) or (N,)
    Records with the fields ``u_east``, ``u_north`` and ``u_up`` (Earth-fixed unit vectors);
    ``u_up`` is the outward surface normal.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> frame = create("wgs84").enu(0.0, 0.0)
>>> frame["u_east"], frame["u_north"], frame["u_up"]
(array([[-0.,  1.,  0.]]), array([[-0., -0.,  1.]]), array([[1., 0., 0.]]))
>>> create("wgs84").enu(np.radians([0.0, 90.0]), np.radians([90.0, 0.0]))["u_up"].round(12)
array([[0., 1., 0.],
       [0., 0., 1.]])
)doc";

constexpr const char* doc_surf_pos_from_surf_coord = R"doc(surf_pos_from_surf_coord($self, lat, lon)
--

Earth-fixed position of the surface point at geodetic coordinates.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians: two numbers, or two one-dimensional arrays
    of the same shape.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Position(s) [x, y, z] on the ellipsoid, metres.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.surf_pos_from_surf_coord(0.0, np.radians(90.0)).round(3)
array([      0., 6378137.,       0.])
>>> wgs84.surf_pos_from_surf_coord(np.radians([0.0, 90.0]), np.zeros(2)).round(3)
array([[6378137.   ,       0.   ,       0.   ],
       [      0.   ,       0.   , 6356752.314]])
)doc";

constexpr const char* doc_surf_coord_from_surf_pos = R"doc(surf_coord_from_surf_pos($self, r_surf)
--

Geodetic coordinates of Earth-fixed position(s) on the surface.

Parameters
----------
r_surf : ndarray, shape (3,) or (N, 3)
    Surface position(s) [x, y, z], metres.

Returns
-------
ndarray of SurfCoord_dtype, shape (1,) or (N,)
    Records with the fields ``lat`` and ``lon``, radians.

Raises
------
AssertionError
    An array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> coords = wgs84.surf_coord_from_surf_pos(np.array([[wgs84.Re, 0.0, 0.0], [0.0, 0.0, wgs84.Rp]]))
>>> np.degrees(coords["lat"]), np.degrees(coords["lon"])
(array([ 0., 90.]), array([0., 0.]))
)doc";

constexpr const char* doc_solve_reduced_lat_equation = R"doc(solve_reduced_lat_equation($self, r)
--

Reduced latitude of the surface point nearest to Earth-fixed position(s).

Solved by Newton iteration; the foot point is where the surface normal passes through `r`.

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Returns
-------
float or ndarray of float64, shape (N,)
    Reduced latitude(s) of the foot point(s), radians: a float for one (3,) position.

Raises
------
AssertionError
    An array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.solve_reduced_lat_equation(np.array([0.0, 0.0, 7.0e6]))
1.5707963267948966
>>> wgs84.solve_reduced_lat_equation(np.array([[wgs84.Re, 0.0, 0.0], [0.0, 0.0, 7.0e6]]))
array([0.        , 1.57079633])
)doc";

constexpr const char* doc_lla_from_pos = R"doc(lla_from_pos($self, r)
--

Geodetic latitude, longitude and altitude of Earth-fixed position(s).

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Returns
-------
ndarray of LLA_dtype, shape (1,) or (N,)
    Records with the fields ``lat``, ``lon`` (radians) and ``alt`` (metres above the
    ellipsoid along its normal).

Raises
------
AssertionError
    An array of another shape.

See Also
--------
pos_from_lla : the inverse conversion.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.lla_from_pos(np.array([[6478137.0, 0.0, 0.0], [0.0, 0.0, wgs84.Rp + 100e3]]))
array([(0.        , 0., 100000.), (1.57079633, 0., 100000.)],
      dtype=[('lat', '<f8'), ('lon', '<f8'), ('alt', '<f8')])
)doc";

constexpr const char* doc_pos_from_lla = R"doc(pos_from_lla($self, lat, lon, alt)
--

Earth-fixed position(s) of geodetic latitude, longitude and altitude.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians.
alt : float or ndarray, shape (N,)
    Altitude above the ellipsoid along its normal, metres. Three numbers for one point,
    or three one-dimensional arrays of the same shape.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

See Also
--------
lla_from_pos : the inverse conversion.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> r = wgs84.pos_from_lla(np.radians(45.0), np.radians(10.0), 1000.0)
>>> r.round(3)
array([4449654.887,  784594.211, 4488055.516])
>>> lla = wgs84.lla_from_pos(r)
>>> np.degrees(lla["lat"]), np.degrees(lla["lon"]), lla["alt"]
(array([45.]), array([10.]), array([1000.]))
)doc";

constexpr const char* doc_geodetic_state_from_state_vector = R"doc(geodetic_state_from_state_vector($self, r, v)
--

Geodetic position and its rates from Earth-fixed position(s) and velocity(ies).

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.
v : ndarray, shape (3,) or (N, 3)
    Velocity(ies) [vx, vy, vz] in the Earth-fixed frame, metres per second.

Returns
-------
ndarray of GeodeticState_dtype, shape (1,) or (N,)
    Records with the fields ``lat``, ``lon``, ``alt`` and their rates ``lat_dot``,
    ``lon_dot`` (radians per second) and ``alt_dot`` (metres per second).

Raises
------
AssertionError
    Arrays of another shape, or batches of different lengths.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> state = wgs84.geodetic_state_from_state_vector(np.array([6478137.0, 0.0, 0.0]),
...                                                 np.array([0.0, 0.0, 7000.0]))
>>> state["alt"], state["lat_dot"], state["alt_dot"]
(array([100000.]), array([0.00108773]), array([0.]))
)doc";

constexpr const char* doc_state_vector_from_geodetic_state = R"doc(state_vector_from_geodetic_state($self, geostate)
--

Earth-fixed position and velocity of geodetic states.

The inverse of `geodetic_state_from_state_vector`.

Parameters
----------
geostate : ndarray of GeodeticState_dtype, shape (N,)
    One-dimensional array of geodetic state records.

Returns
-------
r, v : ndarray of float64, shape (N, 3)
    Positions (metres) and velocities (metres per second), one row per record.

Raises
------
ValueError
    A buffer that is not one-dimensional or whose records are not GeodeticState_dtype.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> state = wgs84.geodetic_state_from_state_vector(np.array([6478137.0, 0.0, 0.0]),
...                                                 np.array([0.0, 0.0, 7000.0]))
>>> r, v = wgs84.state_vector_from_geodetic_state(state)
>>> r, v
(array([[6478137.,       0.,       0.]]), array([[   0.,    0., 7000.]]))
)doc";

constexpr const char* doc_surf_pos_of_ray_first_intersection = R"doc(surf_pos_of_ray_first_intersection($self, r_source, u_ray)
--

Nearest point where ray(s) from one origin meet the surface.

Parameters
----------
r_source : ndarray, shape (3,)
    Origin of the rays [x, y, z], metres.
u_ray : ndarray, shape (3,) or (N, 3)
    Direction(s) of the ray(s); one ray per row.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Intersection point(s), metres; NaN for a ray that misses the ellipsoid.

Raises
------
AssertionError
    Arrays of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.surf_pos_of_ray_first_intersection(np.array([7.0e6, 0.0, 0.0]),
...                                          np.array([[-1.0, 0.0, 0.0], [0.0, 0.0, 1.0]]))
array([[6378137.,       0.,       0.],
       [     nan,      nan,      nan]])
)doc";

constexpr const char* doc_aer_coords = R"doc(aer_coords($self, r_target, lat_obs, lon_obs, alt_obs)
--

Azimuth, elevation and range of target(s) seen from one geodetic observer.

Parameters
----------
r_target : ndarray, shape (3,) or (N, 3)
    Earth-fixed position(s) of the target(s), metres.
lat_obs, lon_obs : float
    Geodetic latitude and longitude of the observer, radians.
alt_obs : float
    Altitude of the observer above the ellipsoid, metres.

Returns
-------
ndarray of AER_dtype, shape (1,) or (N,)
    Records with the fields ``azimuth`` (radians, clockwise from north), ``elevation``
    (radians above the local horizon) and ``range`` (metres).

Raises
------
TypeError
    An observer coordinate that is not a number.
AssertionError
    A target array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> targets = np.array([[6478137.0, 0.0, 0.0], [6378137.0, 100e3, 0.0]])
>>> seen = create("wgs84").aer_coords(targets, 0.0, 0.0, 0.0)
>>> np.degrees(seen["azimuth"]), np.degrees(seen["elevation"]), seen["range"]
(array([ 0., 90.]), array([90.,  0.]), array([100000., 100000.]))
)doc";

constexpr const char* doc_Re = R"doc(Equatorial radius (semi-major axis), metres.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> create("wgs72").Re
6378135.0
)doc";

constexpr const char* doc_f = R"doc(Flattening (Re - Rp) / Re, dimensionless.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> create("grs80").f
0.003352810681182319
)doc";

constexpr const char* doc_Rp = R"doc(Polar radius (semi-minor axis) (1 - f) * Re, metres.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid
>>> Ellipsoid(6378137.0, 0.0).Rp
6378137.0
)doc";

constexpr const char* doc_Ellipsoid = R"doc(Ellipsoid(Re, f)
--

Oblate ellipsoid of revolution, with geodetic conversions over NumPy arrays.

Angles are radians, lengths metres, rates per second. Every method takes one point
(Python numbers, or a (3,) array) or a batch (one-dimensional arrays of N values, or an
(N, 3) array) and returns NumPy values.

Parameters
----------
Re : float
    Equatorial radius (semi-major axis), metres; greater than 0.
f : float
    Flattening, in [0, 1).

Attributes
----------
Re : float
    Equatorial radius, metres.
f : float
    Flattening.
Rp : float
    Polar radius (1 - f) * Re, metres.

Raises
------
TypeError
    A parameter that does not convert to float.
AssertionError
    Re <= 0 or f outside [0, 1) (not checked under ``python -O``).

See Also
--------
create : the WGS 84, GRS 80 and WGS 72 ellipsoids by name.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid
>>> sphere = Ellipsoid(6371000.0, 0.0)
>>> sphere.Re, sphere.f, sphere.Rp
(6371000.0, 0.0, 6371000.0)
>>> Ellipsoid(Re=6378137.0, f=1 / 298.257223563).Rp
6356752.314245179
)doc";

constexpr const char* doc_create = R"doc(create(name)
--

A new Ellipsoid with the parameters of a predefined geodetic system.

Parameters
----------
name : str
    ``"wgs84"``, ``"grs80"`` or ``"wgs72"``, in any letter case.

Returns
-------
Ellipsoid
    A new object on every call.

Raises
------
TypeError
    A name that is not exactly a ``str``.
KeyError
    Any other name (the lower-cased name is the key).

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("WGS84")
>>> wgs84.Re, wgs84.f
(6378137.0, 0.0033528106647474805)
>>> create("WGS-84")
Traceback (most recent call last):
    ...
KeyError: 'wgs-84'
)doc";

#define FASTCALL(NAME, DOC) \
    {#NAME, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(m_##NAME)), METH_FASTCALL | METH_KEYWORDS, DOC}

PyMethodDef ellipsoid_methods[] = {
    FASTCALL(reduced_lat_from_geodetic_lat, doc_reduced_lat_from_geodetic_lat),
    FASTCALL(geodetic_lat_from_reduced_lat, doc_geodetic_lat_from_reduced_lat),
    FASTCALL(enu, doc_enu),
    FASTCALL(surf_pos_from_surf_coord, doc_surf_pos_from_surf_coord),
    FASTCALL(surf_coord_from_surf_pos, doc_surf_coord_from_surf_pos),
    FASTCALL(solve_reduced_lat_equation, doc_solve_reduced_lat_equation),
    FASTCALL(lla_from_pos, doc_lla_from_pos),
    FASTCALL(pos_from_lla, doc_pos_from_lla),
    FASTCALL(geodetic_state_from_state_vector, doc_geodetic_state_from_state_vector),
    FASTCALL(state_vector_from_geodetic_state, doc_state_vector_from_geodetic_state),
    FASTCALL(surf_pos_of_ray_first_intersection, doc_surf_pos_of_ray_first_intersection),
    FASTCALL(aer_coords, doc_aer_coords),
    REFUSING_PICKLE_METHODS("Ellipsoid"),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef ellipsoid_getset[] = {
    {"Re", get_Re, nullptr, doc_Re, nullptr},
    {"f", get_f, nullptr, doc_f, nullptr},
    {"Rp", get_Rp, nullptr, doc_Rp, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot ellipsoid_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(ellipsoid_new)},
    {Py_tp_init, reinterpret_cast<void*>(ellipsoid_init)},
    {Py_tp_methods, ellipsoid_methods},
    {Py_tp_getset, ellipsoid_getset},
    {Py_tp_doc, const_cast<char*>(doc_Ellipsoid)},
    {0, nullptr},
};

PyType_Spec ellipsoid_spec{"kelvara.mathtools.ellipsoid.ellipsoid.Ellipsoid", sizeof(EllipsoidObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, ellipsoid_slots};

PyMethodDef module_functions[] = {
    {"create", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_create)), METH_FASTCALL | METH_KEYWORDS, doc_create},
    {nullptr, nullptr, 0, nullptr},
};

// Compile-time agreement with the declarations clients bind against.
static_assert(std::is_same_v<decltype(c_create), kelvara::ellipsoid_capi::create_fn>);

void body(frame::Module&, PyObject* module) {
    namespace capi = kelvara::ellipsoid_capi;
    intern_names();
    // Publication: the predefined variables hold None until the end of the module body.
    for (EllipsoidObject** var : {&WGS84, &WGS72, &GRS80})
        if (!*var) *var = reinterpret_cast<EllipsoidObject*>(Py_NewRef(Py_None));
    frame::export_capi(module, "WGS84", &WGS84, capi::variable_signature);
    frame::export_capi(module, "WGS72", &WGS72, capi::variable_signature);
    frame::export_capi(module, "GRS80", &GRS80, capi::variable_signature);
    frame::export_function(module, "create", &c_create, capi::create_signature);

    // Types.
    if (!ellipsoid_type) ellipsoid_type = frame::add_type(module, &ellipsoid_spec, nullptr, &ellipsoid_vtable);
    else frame::check_status(PyModule_AddObjectRef(module, "Ellipsoid", reinterpret_cast<PyObject*>(ellipsoid_type)));

    // C functions from linear (scale and add are bound so that the import needs them).
    namespace L = kelvara::linear;
    linear_scale = L::scale.bind();
    linear_add = L::add.bind();
    auto* sub = L::sub.bind();
    auto* dot = L::dot.bind();
    auto* norm = L::norm.bind();
    kelvara::geodesy::vector_ops() = {sub, dot, norm};

    // Module body.
    frame::Ref np = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "np", np.get()));
    frame::Ref real = frame::import_from("numbers", "Real");
    frame::check_status(PyModule_AddObjectRef(module, "Real", real.get()));
    for (const char* name : {"ENU_dtype", "SurfCoord_dtype", "LLA_dtype", "GeodeticState_dtype", "AER_dtype"}) {
        frame::Ref d = frame::import_from("kelvara.datamodel", name);
        frame::check_status(PyModule_AddObjectRef(module, name, d.get()));
    }
    frame::check_status(PyModule_AddFunctions(module, module_functions));

    static const char* predefined[] = {"WGS84", "WGS72", "GRS80"};
    EllipsoidObject** vars[] = {&WGS84, &WGS72, &GRS80};
    for (int i = 0; i < 3; ++i) {
        frame::Ref name = frame::str(predefined[i]);
        EllipsoidObject* e = create_impl(name.get());
        Py_SETREF(*vars[i], e);
    }
}

frame::Module ellipsoid_module("kelvara.mathtools.ellipsoid.ellipsoid", "ellipsoid",
                               "Reference ellipsoids and geodetic conversions over NumPy arrays.", source_file, {},
                               body, frame::import_numpy);

frame::Module& this_module() { return ellipsoid_module; }

}  // namespace

PyMODINIT_FUNC PyInit_ellipsoid() { return ellipsoid_module.init(); }
