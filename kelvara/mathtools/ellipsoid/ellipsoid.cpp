// kelvara.mathtools.ellipsoid.ellipsoid: the Ellipsoid type (a, f), its C-level table of
// per-point geodetic kernels, its array methods, `create` and the predefined WGS84, WGS72 and
// GRS80 ellipsoids published at C level.
#include "../../frame/frame.hpp"
#include "../../frame/arrays.hpp"
#include "../../frame/globals.hpp"
#include "../../frame/imports.hpp"
#include "../linear/linear.hpp"
#include "ellipsoid.hpp"
#include "ellipsoid_doc.hpp"
#include "ellipsoid_kernels.hpp"

namespace {

using namespace kelvara::ellipsoid_doc;
using kelvara::AER;
using kelvara::ENU_Frame;
using kelvara::EllipsoidObject;
using kelvara::EllipsoidVTable;
using kelvara::GeodeticState;
using kelvara::LLA;
using kelvara::SurfCoord;
using frame::Items;
using frame::Ref;
using frame::Rows;
using frame::assert_that;
using frame::equal;
using frame::length;
using frame::ndim_is;
using frame::read3;
using frame::shape_at;
using frame::shape_is_3;
using frame::shape_of;
using Kernels = kelvara::ellipsoid_kernels::Kernels<EllipsoidObject>;

// State of this module (docs/state.md lists every module's): its method table and type, the
// three predefined ellipsoids and the vector kernels bound from linear, all made at import and
// immutable after it.
EllipsoidVTable ellipsoid_vtable = Kernels::table<EllipsoidVTable>();
PyTypeObject* ellipsoid_type = nullptr;

// C-level module variables holding the predefined ellipsoids (None until the module body runs).
EllipsoidObject* WGS84 = nullptr;
EllipsoidObject* WGS72 = nullptr;
EllipsoidObject* GRS80 = nullptr;

// The vector kernels bound from kelvara.mathtools.linear.linear, handed to the batch AER loop.
kelvara::ellipsoid_kernels::VectorOps linear_ops = kelvara::ellipsoid_kernels::inline_vector_ops;

// Module globals, looked up at call time as the methods' Python form would.
const frame::Name np_global{"np"}, Real{"Real"}, lower{"lower"}, ndim{"ndim"}, shape{"shape"};
const frame::Name ENU_dtype{"ENU_dtype"}, SurfCoord_dtype{"SurfCoord_dtype"}, LLA_dtype{"LLA_dtype"},
    GeodeticState_dtype{"GeodeticState_dtype"}, AER_dtype{"AER_dtype"};
const frame::Constant int_1{[] { return PyLong_FromLong(1); }}, int_2{[] { return PyLong_FromLong(2); }},
    int_3{[] { return PyLong_FromLong(3); }};
const frame::NumpyGlobal np{np_global};

template <class T>
using RecordOut = frame::RecordOut<T>;

frame::DoubleOut double_out(PyObject* shape_tuple, int nd) { return frame::DoubleOut(np, shape_tuple, nd); }

/// Scalars by `isinstance(x, Real)`.
bool is_scalar(PyObject* o) {
    if (PyFloat_CheckExact(o) || PyLong_CheckExact(o)) return true;
    Ref real = frame::module_global(Real);
    return frame::check_status(PyObject_IsInstance(o, real.get())) == 1;
}

Ref attr(PyObject* o, PyObject* name) { return frame::getattr(o, name); }

EllipsoidObject* self_of(PyObject* o) noexcept { return reinterpret_cast<EllipsoidObject*>(o); }

// ---------------------------------------------------------------------------------------------
// Construction

const frame::Signature<2> sig_init{"__cinit__", {"Re", "f"}};
const frame::Signature<2> sig_init2{"__init__", {"Re", "f"}};

PyObject* ellipsoid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__"};
    return frame::guarded(site, [&]() -> Ref {
        Ref obj = Ref::steal(type->tp_alloc(type, 0));
        EllipsoidObject* self = self_of(obj.get());
        self->vtab = &ellipsoid_vtable;
        auto [re_obj, f_obj] = frame::parse(sig_init, args, kwargs);
        const double Re = frame::to_double(re_obj);
        const double f = frame::to_double(f_obj);
        assert_that([&] { return Re > 0; });
        self->Re = Re;
        assert_that([&] { return 0 <= f && f < 1; });
        self->f = f;
        self->Rp = (1 - f) * Re;
        return obj;
    });
}

int ellipsoid_init(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__init__"};
    return frame::guarded_status(site, [&] {
        auto [re_obj, f_obj] = frame::parse(sig_init2, args, kwargs);
        frame::to_double(re_obj);
        frame::to_double(f_obj);
    });
}

Ref get_Re(EllipsoidObject* self) { return frame::as_float(self->Re); }
Ref get_f(EllipsoidObject* self) { return frame::as_float(self->f); }
Ref get_Rp(EllipsoidObject* self) { return frame::as_float(self->Rp); }

// ---------------------------------------------------------------------------------------------
// create

/// The predefined ellipsoid of `name` (case-insensitive); `name` is a str or None.
EllipsoidObject* create_impl(PyObject* name) {
    Ref table = Ref::steal(PyDict_New());
    frame::check_status(PyDict_SetItemString(table.get(), "wgs84", int_1));
    frame::check_status(PyDict_SetItemString(table.get(), "grs80", int_2));
    frame::check_status(PyDict_SetItemString(table.get(), "wgs72", int_3));
    // str.lower applied as an unbound method, so None fails it with TypeError.
    Ref lower_fn = frame::getattr(reinterpret_cast<PyObject*>(&PyUnicode_Type), lower);
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
    static frame::Site site{"create"};
    PyObject* r = frame::guarded(site, [&] { return Ref::steal(reinterpret_cast<PyObject*>(create_impl(name))); });
    return self_of(r);
}

Ref py_create(PyObject*, PyObject* name) {
    frame::check_arg_type(name, &PyUnicode_Type, "name", true, true);
    return Ref::steal(reinterpret_cast<PyObject*>(create_impl(name)));
}

// ---------------------------------------------------------------------------------------------
// Array methods. Batch loops poll for signals every 65536 points (the lock stays held), so
// Ctrl-C ends a long call with KeyboardInterrupt and nothing half-made is returned.

using frame::poll_signals;

/// reduced_lat_from_geodetic_lat / geodetic_lat_from_reduced_lat: a scalar gives a float, an
/// array gives float64 (N,) written into np.zeros_like(x).
Ref latitude_map(EllipsoidObject* self, double (*kernel)(EllipsoidObject*, double), PyObject* x) {
    if (is_scalar(x)) return frame::as_float(kernel(self, frame::to_double(x)));
    Ref result = np.zeros_like(x);
    frame::View out(frame::view1d(result.get(), true));
    const Py_ssize_t n = length(x);
    if (n > out.rows()) frame::raise(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
    Items xs(x, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        out[i] = kernel(self, xs(i));
    }
    out = frame::View();
    return np.asarray(result.get());
}

Ref reduced_lat_from_geodetic_lat(EllipsoidObject* self, PyObject* x) {
    return latitude_map(self, self->vtab->c_reduced_lat_from_geodetic_lat, x);
}

Ref geodetic_lat_from_reduced_lat(EllipsoidObject* self, PyObject* x) {
    return latitude_map(self, self->vtab->c_geodetic_lat_from_reduced_lat, x);
}

/// The batch preconditions of (lat, lon): lat.ndim == lon.ndim == 1 and lat.shape == lon.shape.
void assert_pair(PyObject* lat, PyObject* lon) {
    assert_that([&] {
        Ref a = attr(lat, ndim), b = attr(lon, ndim);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), int_1);
    });
    assert_that([&] { return equal(attr(lat, shape).get(), attr(lon, shape).get()); });
}

/// Batch preconditions of an (N, 3) argument: x.ndim == 2 and x.shape[1] == 3.
void assert_rows(PyObject* x) {
    assert_that([&] { return ndim_is(x, 2); });
    assert_that([&] {
        if (PyArrayObject* a = frame::float64_array(x)) return PyArray_NDIM(a) > 1 && PyArray_DIM(a, 1) == 3;
        return equal(shape_at(x, 1).get(), int_3);
    });
}

Ref enu(EllipsoidObject* self, PyObject* lat, PyObject* lon) {
    if (is_scalar(lat) && is_scalar(lon)) {
        Ref one = shape_of(1);
        RecordOut<ENU_Frame> out(np, ENU_dtype, one.get(), 1);
        self->vtab->c_enu(self, SurfCoord{frame::to_double(lat), frame::to_double(lon)}, &out[0]);
        return out.finish();
    }
    assert_pair(lat, lon);
    Ref lat_shape = attr(lat, shape);
    const Py_ssize_t n = length(lat);
    RecordOut<ENU_Frame> out(np, ENU_dtype, lat_shape.get(), n);
    Items la(lat, n), lo(lon, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        const double phi = la(i);
        self->vtab->c_enu(self, SurfCoord{phi, lo(i)}, &out[i]);
    }
    return out.finish();
}

Ref surf_pos_from_surf_coord(EllipsoidObject* self, PyObject* lat, PyObject* lon) {
    if (is_scalar(lat) && is_scalar(lon)) {
        auto out = double_out(shape_of(3).get(), 1);
        double r[3];
        self->vtab->c_surf_pos_from_surf_coord(self, SurfCoord{frame::to_double(lat), frame::to_double(lon)}, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    assert_pair(lat, lon);
    const Py_ssize_t n = length(lat);
    auto out = double_out(shape_of(n, 3).get(), 2);
    Items la(lat, n), lo(lon, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double r[3];
        const double phi = la(i);
        self->vtab->c_surf_pos_from_surf_coord(self, SurfCoord{phi, lo(i)}, r);
        out.put3(i, r);
    }
    return out.finish();
}

Ref surf_coord_from_surf_pos(EllipsoidObject* self, PyObject* r) {
    if (ndim_is(r, 1)) {
        assert_that([&] { return shape_is_3(r); });
        RecordOut<SurfCoord> out(np, SurfCoord_dtype, shape_of(1).get(), 1);
        double v[3];
        read3(r, v);
        self->vtab->c_surf_coord_from_surf_pos(self, v, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<SurfCoord> out(np, SurfCoord_dtype, shape_of(n).get(), n);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double v[3];
        rows(i, v);
        self->vtab->c_surf_coord_from_surf_pos(self, v, &out[i]);
    }
    return out.finish();
}

Ref solve_reduced_lat_equation(EllipsoidObject* self, PyObject* r) {
    if (shape_is_3(r)) {
        double v[3];
        read3(r, v);
        return frame::as_float(self->vtab->c_solve_reduced_lat_equation(self, v));
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    auto out = double_out(shape_of(n).get(), 1);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double v[3];
        rows(i, v);
        out(i) = self->vtab->c_solve_reduced_lat_equation(self, v);
    }
    return out.finish();
}

Ref lla_from_pos(EllipsoidObject* self, PyObject* r) {
    if (shape_is_3(r)) {
        RecordOut<LLA> out(np, LLA_dtype, shape_of(1).get(), 1);
        double v[3];
        read3(r, v);
        self->vtab->c_lla_from_pos(self, v, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<LLA> out(np, LLA_dtype, shape_of(n).get(), n);
    Rows rows(r, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double v[3];
        rows(i, v);
        self->vtab->c_lla_from_pos(self, v, &out[i]);
    }
    return out.finish();
}

Ref pos_from_lla(EllipsoidObject* self, PyObject* lat, PyObject* lon, PyObject* alt) {
    if (is_scalar(lat) && is_scalar(lon) && is_scalar(alt)) {
        auto out = double_out(shape_of(3).get(), 1);
        double r[3];
        const double phi = frame::to_double(lat), lam = frame::to_double(lon), h = frame::to_double(alt);
        self->vtab->c_pos_from_lla(self, LLA{phi, lam, h}, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    assert_that([&] {
        Ref a = attr(lat, ndim), b = attr(lon, ndim);
        if (!equal(a.get(), b.get())) return false;
        Ref c = attr(alt, ndim);
        if (!equal(b.get(), c.get())) return false;
        return equal(c.get(), int_1);
    });
    assert_that([&] {
        Ref a = attr(lat, shape), b = attr(lon, shape);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), attr(alt, shape).get());
    });
    const Py_ssize_t n = length(lat);
    auto out = double_out(shape_of(n, 3).get(), 2);
    Items la(lat, n), lo(lon, n), al(alt, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double r[3];
        const double phi = la(i);
        const double lam = lo(i);
        self->vtab->c_pos_from_lla(self, LLA{phi, lam, al(i)}, r);
        out.put3(i, r);
    }
    return out.finish();
}

Ref geodetic_state_from_state_vector(EllipsoidObject* self, PyObject* r, PyObject* v) {
    if (shape_is_3(r)) {
        RecordOut<GeodeticState> out(np, GeodeticState_dtype, shape_of(1).get(), 1);
        double rv[3], vv[3];
        read3(r, rv);
        read3(v, vv);
        self->vtab->c_geodetic_state_from_state_vector(self, rv, vv, &out[0]);
        return out.finish();
    }
    assert_that([&] {
        Ref a = attr(r, ndim), b = attr(v, ndim);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), int_2);
    });
    assert_that([&] {
        Ref a = shape_at(r, 1), b = shape_at(v, 1);
        if (!equal(a.get(), b.get())) return false;
        return equal(b.get(), int_3);
    });
    assert_that([&] { return equal(shape_at(r, 0).get(), shape_at(v, 0).get()); });
    const Py_ssize_t n = length(r);
    RecordOut<GeodeticState> out(np, GeodeticState_dtype, shape_of(n).get(), n);
    Rows rs(r, n), vs(v, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double rv[3], vv[3];
        rs(i, rv);
        vs(i, vv);
        self->vtab->c_geodetic_state_from_state_vector(self, rv, vv, &out[i]);
    }
    return out.finish();
}

Ref state_vector_from_geodetic_state(EllipsoidObject* self, PyObject* geostate) {
    frame::RecordView<GeodeticState> gs(geostate, false);
    const Py_ssize_t n = gs.size();
    auto r_out = double_out(shape_of(n, 3).get(), 2);
    auto v_out = double_out(shape_of(n, 3).get(), 2);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double r[3], v[3];
        self->vtab->c_state_vector_from_geodetic_state(self, gs[i], r, v);
        r_out.put3(i, r);
        v_out.put3(i, v);
    }
    Ref ra = r_out.finish();
    Ref va = v_out.finish();
    return Ref::steal(PyTuple_Pack(2, ra.get(), va.get()));
}

Ref surf_pos_of_ray_first_intersection(EllipsoidObject* self, PyObject* r_source, PyObject* u_ray) {
    assert_that([&] { return shape_is_3(r_source); });
    if (ndim_is(u_ray, 1)) {
        assert_that([&] { return shape_is_3(u_ray); });
        auto out = double_out(shape_of(3).get(), 1);
        double r0[3], u[3], r[3];
        read3(r_source, r0);
        read3(u_ray, u);
        self->vtab->c_surf_pos_of_ray_first_intersection(self, r0, u, r);
        for (int j = 0; j < 3; ++j) out(j) = r[j];
        return out.finish();
    }
    assert_rows(u_ray);
    const Py_ssize_t n = length(u_ray);
    auto out = double_out(shape_of(n, 3).get(), 2);
    double r0[3];
    read3(r_source, r0);
    Rows us(u_ray, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double u[3], r[3];
        us(i, u);
        self->vtab->c_surf_pos_of_ray_first_intersection(self, r0, u, r);
        out.put3(i, r);
    }
    return out.finish();
}

Ref aer_coords(EllipsoidObject* self, PyObject* r, PyObject* lat_obs, PyObject* lon_obs, PyObject* alt_obs) {
    const double lat = frame::to_double(lat_obs);
    const double lon = frame::to_double(lon_obs);
    const double alt = frame::to_double(alt_obs);
    const LLA obs{lat, lon, alt};
    EllipsoidVTable* vt = self->vtab;
    if (ndim_is(r, 1)) {
        assert_that([&] { return shape_is_3(r); });
        RecordOut<AER> out(np, AER_dtype, shape_of(1).get(), 1);
        double v[3];
        read3(r, v);
        vt->c_aer_coords(self, v, obs, &out[0]);
        return out.finish();
    }
    assert_rows(r);
    const Py_ssize_t n = length(r);
    RecordOut<AER> out(np, AER_dtype, shape_of(n).get(), n);
    Rows rows(r, n);
    if (vt->c_aer_coords == &Kernels::c_aer_coords) {
        // One observer for every target: its position and frame are computed once (through
        // the table, as the kernel would), which gives the kernel's results at a fraction of
        // its cost.
        Kernels::Observer o(self, obs, linear_ops);
        for (Py_ssize_t i = 0; i < n; ++i) {
            poll_signals(i);
            double v[3];
            rows(i, v);
            o.aer(v, &out[i]);
        }
        return out.finish();
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        poll_signals(i);
        double v[3];
        rows(i, v);
        vt->c_aer_coords(self, v, obs, &out[i]);
    }
    return out.finish();
}

// ---------------------------------------------------------------------------------------------
// Tables

using frame::Method;

PyMethodDef ellipsoid_methods[] = {
    Method<"reduced_lat_from_geodetic_lat", "geodetic_lat">::def<reduced_lat_from_geodetic_lat>(
        doc_reduced_lat_from_geodetic_lat),
    Method<"geodetic_lat_from_reduced_lat", "reduced_lat">::def<geodetic_lat_from_reduced_lat>(
        doc_geodetic_lat_from_reduced_lat),
    Method<"enu", "lat", "lon">::def<enu>(doc_enu),
    Method<"surf_pos_from_surf_coord", "lat", "lon">::def<surf_pos_from_surf_coord>(doc_surf_pos_from_surf_coord),
    Method<"surf_coord_from_surf_pos", "r_surf">::def<surf_coord_from_surf_pos>(doc_surf_coord_from_surf_pos),
    Method<"solve_reduced_lat_equation", "r">::def<solve_reduced_lat_equation>(doc_solve_reduced_lat_equation),
    Method<"lla_from_pos", "r">::def<lla_from_pos>(doc_lla_from_pos),
    Method<"pos_from_lla", "lat", "lon", "alt">::def<pos_from_lla>(doc_pos_from_lla),
    Method<"geodetic_state_from_state_vector", "r", "v">::def<geodetic_state_from_state_vector>(
        doc_geodetic_state_from_state_vector),
    Method<"state_vector_from_geodetic_state", "geostate">::def<state_vector_from_geodetic_state>(
        doc_state_vector_from_geodetic_state),
    Method<"surf_pos_of_ray_first_intersection", "r_source", "u_ray">::def<surf_pos_of_ray_first_intersection>(
        doc_surf_pos_of_ray_first_intersection),
    Method<"aer_coords", "r_target", "lat_obs", "lon_obs", "alt_obs">::def<aer_coords>(doc_aer_coords),
    REFUSING_PICKLE_METHODS("Ellipsoid"),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef ellipsoid_getset[] = {
    {"Re", frame::getter<get_Re>, nullptr, doc_Re, nullptr},
    {"f", frame::getter<get_f>, nullptr, doc_f, nullptr},
    {"Rp", frame::getter<get_Rp>, nullptr, doc_Rp, nullptr},
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
    Method<"create", "name">::def<py_create>(doc_create),
    {nullptr, nullptr, 0, nullptr},
};

// Compile-time agreement with the declarations clients bind against.
static_assert(std::is_same_v<decltype(c_create), kelvara::ellipsoid_capi::create_fn>);

void body(frame::Module&, PyObject* module) {
    namespace capi = kelvara::ellipsoid_capi;
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

    // C functions from linear: the import needs all five; sub, dot and norm serve the AER loop.
    namespace L = kelvara::linear;
    L::scale.bind();
    L::add.bind();
    auto* sub = L::sub.bind();
    auto* dot = L::dot.bind();
    auto* norm = L::norm.bind();
    linear_ops = {sub, dot, norm};

    // Module body.
    frame::Ref numpy = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "np", numpy.get()));
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
                               "Reference ellipsoids and geodetic conversions over NumPy arrays.",
                               "kelvara/mathtools/ellipsoid/ellipsoid.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_ellipsoid() { return ellipsoid_module.init(); }
