// kelvara.bodies.bodies: geocentric GCRF states of the Sun and the Moon over ERFA.
//
// CelestialBody holds a Time and two (N, 3) double views; Sun and Moon fill them while they are
// allocated (before __init__ runs) and never change them afterwards. The properties hand the
// stored memory back to Python without copying.
#include "../frame/frame.hpp"
#include "../frame/globals.hpp"
#include "../frame/numpy.hpp"
#include "../mathtools/linear/linear.hpp"
#include "bodies.hpp"
#include "ephemeris_kernels.hpp"

#if __has_include("../time/time.hpp")
#include "../time/time.hpp"
#define KELVARA_TIME_RECORD_SIZE sizeof(kelvara::TimeObject)
#else
#define KELVARA_TIME_RECORD_SIZE std::size_t(280)
#endif

namespace {

using kelvara::CelestialBodyObject;
using kelvara::MoonObject;
using kelvara::MoonVTable;
using kelvara::SunObject;
using kelvara::SunVTable;

constexpr const char* source_file = "kelvara/bodies/bodies.cpp";

// Bound at import and kept for the life of the process.
PyTypeObject* time_type = nullptr;
PyTypeObject* celestial_type = nullptr;
kelvara::linear::normalize_array_fn* normalize_array = nullptr;
PyObject* module_dict = nullptr;

// Interned identifiers and small constants, made once.
struct Names {
    PyObject *numpy, *asarray, *zeros, *double_, *tt, *jd12, *size, *new_, *dict, *update,
        *unpickle, *shape_dtype, *three, *checksum, *checksum_fmt;
} names{};

void prepare_names() {
    if (names.numpy) return;
    names.numpy = frame::interned("numpy");
    names.asarray = frame::interned("asarray");
    names.zeros = frame::interned("zeros");
    names.double_ = frame::interned("double");
    names.tt = frame::interned("tt");
    names.jd12 = frame::interned("jd12");
    names.size = frame::interned("size");
    names.new_ = frame::interned("__new__");
    names.dict = frame::interned("__dict__");
    names.update = frame::interned("update");
    names.unpickle = frame::interned("__pyx_unpickle_CelestialBody");
    names.shape_dtype = frame::check(PyTuple_Pack(2, frame::interned("shape"), frame::interned("dtype")));
    names.three = frame::check(PyLong_FromLong(3));
    names.checksum = frame::check(PyLong_FromLong(0x428424d));
    names.checksum_fmt = frame::check(PyUnicode_FromString(
        "Incompatible checksums (0x%x vs (0x428424d, 0x9f174ba, 0xb4612c8) = (_r_GCRF, _v_GCRF, time))"));
}

inline CelestialBodyObject* body_of(PyObject* o) noexcept { return reinterpret_cast<CelestialBodyObject*>(o); }

// ---------------------------------------------------------------------------------------------
// NumPy through the module global `numpy`, as the module's Python code would reach it.

frame::Ref numpy_attr(PyObject* name) {
    frame::Ref np = frame::lookup_global(module_dict, names.numpy);
    return frame::getattr(np.get(), name);
}

/// numpy.zeros(shape=(n, 3), dtype=numpy.double) with `n` as given (any Python object).
frame::Ref zeros_n3(PyObject* n) {
    frame::Ref np = frame::lookup_global(module_dict, names.numpy);
    frame::Ref zeros = frame::getattr(np.get(), names.zeros);
    frame::Ref dtype = frame::getattr(np.get(), names.double_);
    frame::Ref shape = frame::Ref::steal(PyTuple_Pack(2, n, names.three));
    PyObject* argv[] = {nullptr, shape.get(), dtype.get()};
    return frame::Ref::steal(PyObject_Vectorcall(zeros.get(), argv + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, names.shape_dtype));
}

/// numpy.zeros_like of a freshly made positions array (a C-ordered (N, 3) float64 ndarray): a new
/// zero array of its shape, made through the C interface since numpy.zeros_like costs more than
/// a one-epoch Moon.
frame::Ref zeros_like(const frame::Slice& positions) {
    npy_intp dims[2] = {positions.shape[0], positions.shape[1]};
    return frame::Ref::steal(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
}

// ---------------------------------------------------------------------------------------------
// Views stored in a body. An unset view has no memory-view object; a view set from None holds
// None: it pickles back as None but, like an unset one, has no array to show.

inline bool has_array(const frame::Slice& s) noexcept { return s.memview && s.memview != Py_None; }

void require_array(const frame::Slice& s) {
    if (!has_array(s)) frame::raise(PyExc_AttributeError, "Memoryview is not initialized");
}

/// The stored memory-view object (None for a None view); AttributeError when unset.
frame::Ref stored_memview(const frame::Slice& s) {
    if (!s.memview) frame::raise(PyExc_AttributeError, "Memoryview is not initialized");
    return frame::Ref::borrow(s.memview);
}

/// Replace a stored view, dropping the reference the old one held.
inline void store(frame::Slice& field, frame::Slice s) noexcept {
    frame::Slice old = field;
    field = s;
    frame::release(old);
}

/// A view of `obj` for storing: None gives a None view, anything else a writable 2-D double view.
frame::Slice view_for_state(PyObject* obj) {
    if (obj == Py_None) {
        frame::Slice s = frame::empty_slice();
        s.memview = Py_NewRef(Py_None);
        return s;
    }
    return frame::view2d(obj, true);
}

/// An array result of a C-level function is valid unless it came back empty with an error set.
void check_result(frame::Slice& s) {
    if (s.memview && (s.data || !PyErr_Occurred())) return;
    frame::release(s);
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "array function failed without an exception");
    throw frame::PyErrorSet{};
}

/// `time.tt.jd12` as a read-only 2-D double view of any strides.
frame::View epochs(PyObject* time) {
    frame::Ref tt = frame::getattr(time, names.tt);
    frame::Ref jd12 = frame::getattr(tt.get(), names.jd12);
    return frame::View(frame::view2d(jd12.get(), false));
}

/// The epoch loops read two columns of `jd` and write its row count into outputs of `rows`
/// rows: a Time whose jd12 disagrees with its size fails here instead of touching memory
/// outside the buffers (NumPy's wording for the first out-of-range index).
void check_epochs(const frame::View& jd, Py_ssize_t rows) {
    if (jd.rows() > rows)
        frame::raise(PyExc_IndexError, "index %zd is out of bounds for axis 0 with size %zd", rows, rows);
    if (jd.rows() > 0 && jd.cols() < 2)
        frame::raise(PyExc_IndexError, "index %zd is out of bounds for axis 1 with size %zd", jd.cols(), jd.cols());
}

void check_time(PyObject* time) { frame::check_arg_type(time, time_type, "time"); }

// ---------------------------------------------------------------------------------------------
// CelestialBody

const frame::Signature<1> sig_init{"__init__", {"time"}};
const frame::Signature<1> sig_cinit{"__cinit__", {"time"}};

PyObject* celestial_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) return nullptr;
    CelestialBodyObject* b = body_of(o);
    b->time = Py_NewRef(Py_None);
    b->_r_GCRF = frame::empty_slice();
    b->_v_GCRF = frame::empty_slice();
    return o;
}

int celestial_init(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__init__", nullptr};
    return frame::guarded_status(site, [&] {
        auto [time] = frame::parse(sig_init, args, kwargs);
        check_time(time);
    });
}

int celestial_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(body_of(self)->time);
    return 0;
}

int celestial_clear(PyObject* self) noexcept {
    CelestialBodyObject* b = body_of(self);
    PyObject* old = b->time;
    b->time = Py_NewRef(Py_None);
    Py_XDECREF(old);
    return 0;
}

void celestial_dealloc(PyObject* self) noexcept {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    CelestialBodyObject* b = body_of(self);
    Py_CLEAR(b->time);
    frame::release(b->_r_GCRF);
    frame::release(b->_v_GCRF);
    tp->tp_free(self);
    Py_DECREF(tp);
}

/// numpy.asarray over a stored view: an array sharing the body's memory.
frame::Ref as_array(const frame::Slice& s) {
    require_array(s);
    frame::Ref asarray = numpy_attr(names.asarray);
    return frame::call(asarray.get(), s.memview);
}

PyObject* get_r_GCRF(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] { return as_array(body_of(self)->_r_GCRF); });
}

PyObject* get_v_GCRF(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] { return as_array(body_of(self)->_v_GCRF); });
}

PyObject* get_ur_GCRF(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] {
        const frame::Slice& r = body_of(self)->_r_GCRF;
        require_array(r);
        frame::Slice u = normalize_array(r);
        check_result(u);
        frame::View owned(u);
        frame::Ref asarray = numpy_attr(names.asarray);
        return frame::call(asarray.get(), owned.slice().memview);
    });
}

PyObject* get_time(PyObject* self, void*) noexcept {
    static frame::Site site{"__get__", nullptr};
    return frame::guarded(site, [&] { return frame::Ref::borrow(body_of(self)->time); });
}

/// Replace the three fields from a state tuple (r, v, time[, dict]), in that order.
void apply_state(PyObject* self, PyObject* state) {
    CelestialBodyObject* b = body_of(self);
    auto item = [&](Py_ssize_t i) -> PyObject* {
        if (i >= PyTuple_GET_SIZE(state)) frame::raise(PyExc_IndexError, "tuple index out of range");
        return PyTuple_GET_ITEM(state, i);
    };
    store(b->_r_GCRF, view_for_state(item(0)));
    store(b->_v_GCRF, view_for_state(item(1)));
    PyObject* time = item(2);
    if (time != Py_None && !PyObject_TypeCheck(time, time_type))
        frame::raise(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(time)->tp_name, time_type->tp_name);
    PyObject* old = b->time;
    b->time = Py_NewRef(time);
    Py_DECREF(old);
    if (PyTuple_GET_SIZE(state) > 3) {
        frame::Ref d = frame::Ref::steal_or_null(PyObject_GetAttr(self, names.dict));
        if (!d) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw frame::PyErrorSet{};
            PyErr_Clear();
            return;
        }
        frame::Ref update = frame::getattr(d.get(), names.update);
        frame::call(update.get(), PyTuple_GET_ITEM(state, 3));
    }
}

void require_tuple(PyObject* state) {
    if (!PyTuple_Check(state)) frame::raise(PyExc_TypeError, "Expected %s, got %.200s", "tuple", Py_TYPE(state)->tp_name);
}

PyObject* celestial_reduce(PyObject* self, PyObject*) noexcept {
    static frame::Site site{"__reduce_cython__", nullptr};
    return frame::guarded(site, [&] {
        CelestialBodyObject* b = body_of(self);
        frame::Ref r = stored_memview(b->_r_GCRF);
        frame::Ref v = stored_memview(b->_v_GCRF);
        frame::Ref state = frame::Ref::steal(PyTuple_Pack(3, r.get(), v.get(), b->time));
        frame::Ref d = frame::Ref::steal_or_null(PyObject_GetAttr(self, names.dict));
        if (!d) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw frame::PyErrorSet{};
            PyErr_Clear();
        }
        bool use_setstate;
        if (d && d.get() != Py_None) {
            state = frame::Ref::steal(PyTuple_Pack(4, r.get(), v.get(), b->time, d.get()));
            use_setstate = true;
        } else {
            use_setstate = b->time != Py_None;
        }
        frame::Ref unpickle = frame::lookup_global(module_dict, names.unpickle);
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
        if (use_setstate)
            return frame::Ref::steal(Py_BuildValue("(O(OOO)O)", unpickle.get(), type, names.checksum, Py_None, state.get()));
        return frame::Ref::steal(Py_BuildValue("(O(OOO))", unpickle.get(), type, names.checksum, state.get()));
    });
}

PyObject* celestial_setstate(PyObject* self, PyObject* state) noexcept {
    static frame::Site site{"__setstate_cython__", nullptr};
    return frame::guarded(site, [&] {
        require_tuple(state);
        apply_state(self, state);
        return frame::Ref::borrow(Py_None);
    });
}

const frame::Signature<3> sig_unpickle{"__pyx_unpickle_CelestialBody", {"__pyx_type", "__pyx_checksum", "__pyx_state"}};

PyObject* unpickle_celestial(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"__pyx_unpickle_CelestialBody", nullptr};
    return frame::guarded(site, [&] {
        auto [type, checksum_obj, state] = frame::parse(sig_unpickle, args, nargsf, kwnames);
        long checksum = PyLong_AsLong(checksum_obj);
        if (checksum == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
        if (checksum != 0x428424d && checksum != 0x9f174ba && checksum != 0xb4612c8) {
            frame::Ref pickle_error = frame::import_from("pickle", "PickleError");
            frame::Ref value = frame::Ref::steal(PyLong_FromLong(checksum));
            frame::Ref message = frame::Ref::steal(PyUnicode_Format(names.checksum_fmt, value.get()));
            PyErr_SetObject(pickle_error.get(), message.get());
            throw frame::PyErrorSet{};
        }
        frame::Ref new_ = frame::getattr(reinterpret_cast<PyObject*>(celestial_type), names.new_);
        frame::Ref result = frame::call(new_.get(), type);
        if (state != Py_None) {
            require_tuple(state);
            // CelestialBody.__new__ only makes CelestialBody instances; refuse anything else
            // rather than writing fields into a foreign object.
            if (!PyObject_TypeCheck(result.get(), celestial_type))
                frame::raise(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(result.get())->tp_name,
                             celestial_type->tp_name);
            apply_state(result.get(), state);
        }
        return result;
    });
}

// ---------------------------------------------------------------------------------------------
// Sun

frame::Slice sun_calculate_position(SunObject*, PyObject* time) noexcept {
    static frame::Site site{"calculate_position", nullptr};
    frame::Profiled events(site);
    return frame::translate<frame::Slice>(frame::empty_slice(), [&]() -> frame::Slice {
        frame::View jd = epochs(time);
        frame::Ref size = frame::getattr(time, names.size);
        frame::Ref r_array = zeros_n3(size.get());
        frame::View r(frame::view2d(r_array.get(), true));
        check_epochs(jd, r.rows());
        const Py_ssize_t n = jd.rows();
        for (Py_ssize_t i = 0; i < n; ++i) {
            double p[3];
            kelvara::ephemeris::sun_position(jd(i, 0), jd(i, 1), p);
            r(i, 0) = p[0];
            r(i, 1) = p[1];
            r(i, 2) = p[2];
        }
        return r.release_slice();
    });
}

/// Allocation steps that Sun and Moon share: a bare body, the argument checked, and `time`
/// stored. The caller attaches its method table and fills the states.
std::pair<frame::Ref, PyObject*> allocate_body(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    frame::Ref self = frame::Ref::steal(celestial_new(type, args, kwargs));
    auto [time] = frame::parse(sig_cinit, args, kwargs);
    check_time(time);
    auto* b = reinterpret_cast<CelestialBodyObject*>(self.get());
    Py_SETREF(b->time, Py_NewRef(time));
    return {std::move(self), time};
}

SunVTable sun_vtable{sun_calculate_position};

PyObject* sun_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__", nullptr};
    return frame::guarded(site, [&] {
        auto [self, time] = allocate_body(type, args, kwargs);
        auto* sun = reinterpret_cast<SunObject*>(self.get());
        sun->vtab = &sun_vtable;
        CelestialBodyObject* b = &sun->base;
        frame::Slice r = sun->vtab->calculate_position(sun, time);
        check_result(r);
        store(b->_r_GCRF, r);
        frame::Ref v = zeros_like(b->_r_GCRF);
        store(b->_v_GCRF, frame::view2d(v.get(), true));
        return self;
    });
}

// ---------------------------------------------------------------------------------------------
// Moon

void moon_calculate_state_GCRF(MoonObject*, PyObject* time, frame::Slice r_slice, frame::Slice v_slice) noexcept {
    static frame::Site site{"calculate_state_GCRF", nullptr};
    frame::Profiled events(site);
    frame::translate<int>(-1, [&] {
        // Both outputs must hold every epoch and three columns: a mismatched Time (more jd12
        // rows than time.size) fails here instead of writing past the arrays.
        const Py_ssize_t rows = std::min(r_slice.shape[0], v_slice.shape[0]);
        if (r_slice.shape[1] < 3 || v_slice.shape[1] < 3) {
            const Py_ssize_t c = std::min(r_slice.shape[1], v_slice.shape[1]);
            frame::raise(PyExc_IndexError, "index %zd is out of bounds for axis 1 with size %zd", c, c);
        }
        frame::View jd = epochs(time);
        check_epochs(jd, rows);
        const Py_ssize_t n = jd.rows();
        for (Py_ssize_t i = 0; i < n; ++i) {
            double p[3], q[3];
            kelvara::ephemeris::moon_state(jd(i, 0), jd(i, 1), p, q);
            frame::at(r_slice, i, 0) = p[0];
            frame::at(r_slice, i, 1) = p[1];
            frame::at(r_slice, i, 2) = p[2];
            frame::at(v_slice, i, 0) = q[0];
            frame::at(v_slice, i, 1) = q[1];
            frame::at(v_slice, i, 2) = q[2];
        }
        return 0;
    });
}

MoonVTable moon_vtable{moon_calculate_state_GCRF};

PyObject* moon_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__", nullptr};
    return frame::guarded(site, [&] {
        auto [self, time] = allocate_body(type, args, kwargs);
        auto* moon = reinterpret_cast<MoonObject*>(self.get());
        moon->vtab = &moon_vtable;
        CelestialBodyObject* b = &moon->base;
        frame::Ref size = frame::getattr(time, names.size);
        frame::Ref r = zeros_n3(size.get());
        store(b->_r_GCRF, frame::view2d(r.get(), true));
        frame::Ref v = zeros_like(b->_r_GCRF);
        store(b->_v_GCRF, frame::view2d(v.get(), true));
        moon->vtab->calculate_state_GCRF(moon, time, b->_r_GCRF, b->_v_GCRF);
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
        return self;
    });
}

// ---------------------------------------------------------------------------------------------
// Types

const char celestial_doc[] =
    "CelestialBody(Time time) -> None\n\nRepresent a celestial body with position and velocity in the Geocentric "
    "Celestial Reference Frame (GCRF) at a given epoch.\n\nParameters\n----------\ntime : Time\n    Epoch at which to "
    "evaluate or load the body's state vectors.\n\nAttributes\n----------\nr_GCRF : ndarray\n    Cartesian position "
    "vector [x, y, z] in meters (GCRF frame) at the stored epoch.\nv_GCRF : ndarray\n    Cartesian velocity vector "
    "[vx, vy, vz] in meters per second (GCRF frame) at the stored epoch.\nur_GCRF : ndarray\n    Unit vector along "
    "the position direction in GCRF, i.e., r_GCRF / \u2016r_GCRF\u2016.";

const char sun_doc[] =
    "Sun(Time time) -> None\n\nRepresent the Sun as a :class:`CelestialBody` with standard gravitational parameters "
    "and radius constants.\n\nParameters\n----------\ntime : Time\n   Epoch at which to evaluate or load the body's "
    "state vectors.\n\nClass Attributes\n----------------\nGM_JPL2021 : double\n    Gravitational parameter (\u03bc = "
    "GM) from JPL 2021 ephemerides, in m\u00b3/s\u00b2.\nGM_IAU2015 : double\n    Gravitational parameter from IAU "
    "2015 constants, in m\u00b3/s\u00b2.\nGM_SEI1992 : double\n    Gravitational parameter from SEI 1992 constants, "
    "in m\u00b3/s\u00b2.\nGM : double\n    Selected default gravitational parameter (set to GM_IAU2015), in "
    "m\u00b3/s\u00b2.\n\nRe_IAU2015 : double\n    Equatorial radius from IAU 2015 conventions, in metres.\nRe_SEI1992 "
    ": double\n    Equatorial radius from SEI 1992 conventions, in metres.\nRe : double\n    Selected default "
    "equatorial radius (set to Re_IAU2015), in metres.";

const char moon_doc[] =
    "Moon(Time time) -> None\n\nRepresent the Moon as :class:`CelestialBody` with standard gravitational parameters "
    "and radius.\n\nParameters\n----------\ntime : Time\n   Epoch at which to evaluate or load the body's state "
    "vectors.\n\nClass Attributes\n----------------\nGM_JPL2021 : double\n    Gravitational parameter (\u03bc = GM) "
    "from JPL 2021 ephemerides, in m\u00b3/s\u00b2.\nGM_SEI1992 : double\n    Gravitational parameter from SEI 1992 "
    "constants, in m\u00b3/s\u00b2.\nGM : double\n    Selected default gravitational parameter (set to GM_JPL2021), "
    "in m\u00b3/s\u00b2.\n\nRe_SEI1992 : double\n    Mean radius from SEI 1992 conventions, in metres.\nRe : "
    "double\n    Selected default radius (set to Re_SEI1992), in metres.";

PyGetSetDef celestial_getset[] = {
    {"r_GCRF", get_r_GCRF, nullptr,
     "CelestialBody.r_GCRF: ndarray[double]\n\nPosition vector in GCRF coordinates (meters).\n\nReturns\n-------\n"
     "ndarray shape (N,3)\n    Cartesian position [x, y, z] in meters (GCRF frame) at the stored epoch.",
     nullptr},
    {"v_GCRF", get_v_GCRF, nullptr,
     "CelestialBody.v_GCRF: ndarray[double]\n\nVelocity vector in GCRF coordinates (meters per second).\n\nReturns\n"
     "-------\nndarray shape (N,3)\n    Cartesian velocity [vx, vy, vz] in meters per second (GCRF frame) at the "
     "stored epoch.",
     nullptr},
    {"ur_GCRF", get_ur_GCRF, nullptr,
     "CelestialBody.ur_GCRF: ndarray[double]\n\nUnit position direction vector in GCRF.\n\nReturns\n-------\n"
     "ndarray shape (N,3)\n    Unit vector parallel to r_GCRF, i.e., r_GCRF / \u2016r_GCRF\u2016.",
     nullptr},
    {"time", get_time, nullptr, nullptr, nullptr},
    {},
};

PyMethodDef celestial_methods[] = {
    {"__reduce_cython__", reinterpret_cast<PyCFunction>(celestial_reduce), METH_NOARGS,
     "CelestialBody.__reduce_cython__(self)"},
    {"__setstate_cython__", reinterpret_cast<PyCFunction>(celestial_setstate), METH_O,
     "CelestialBody.__setstate_cython__(self, __pyx_state)"},
    {},
};

PyMethodDef sun_methods[] = {REFUSING_PICKLE_METHODS("Sun"), {}};
PyMethodDef moon_methods[] = {REFUSING_PICKLE_METHODS("Moon"), {}};

constexpr unsigned long body_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;

PyType_Slot celestial_slots[] = {
    {Py_tp_doc, const_cast<char*>(celestial_doc)},
    {Py_tp_new, reinterpret_cast<void*>(celestial_new)},
    {Py_tp_init, reinterpret_cast<void*>(celestial_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(celestial_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(celestial_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(celestial_clear)},
    {Py_tp_getset, celestial_getset},
    {Py_tp_methods, celestial_methods},
    {0, nullptr},
};
PyType_Spec celestial_spec{"kelvara.bodies.bodies.CelestialBody", sizeof(CelestialBodyObject), 0, body_flags,
                           celestial_slots};

PyType_Slot sun_slots[] = {
    {Py_tp_doc, const_cast<char*>(sun_doc)},
    {Py_tp_new, reinterpret_cast<void*>(sun_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(celestial_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(celestial_clear)},
    {Py_tp_methods, sun_methods},
    {0, nullptr},
};
PyType_Spec sun_spec{"kelvara.bodies.bodies.Sun", sizeof(SunObject), 0, body_flags, sun_slots};

PyType_Slot moon_slots[] = {
    {Py_tp_doc, const_cast<char*>(moon_doc)},
    {Py_tp_new, reinterpret_cast<void*>(moon_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(celestial_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(celestial_clear)},
    {Py_tp_methods, moon_methods},
    {0, nullptr},
};
PyType_Spec moon_spec{"kelvara.bodies.bodies.Moon", sizeof(MoonObject), 0, body_flags, moon_slots};

PyMethodDef module_functions[] = {
    {"__pyx_unpickle_CelestialBody", reinterpret_cast<PyCFunction>(unpickle_celestial), METH_FASTCALL | METH_KEYWORDS,
     "__pyx_unpickle_CelestialBody(__pyx_type, long __pyx_checksum, __pyx_state)"},
    {},
};

/// Set class attributes in order; `alias = source` binds the very object read back from the class.
void set_constant(PyTypeObject* type, const char* name, double value) {
    frame::Ref v = frame::as_float(value);
    frame::check_status(PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, v.get()));
}
void set_alias(PyTypeObject* type, const char* alias, const char* source) {
    frame::Ref v = frame::getattr(reinterpret_cast<PyObject*>(type), source);
    frame::check_status(PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), alias, v.get()));
}

void body(frame::Module&, PyObject* module) {
    prepare_names();
    module_dict = frame::check(PyModule_GetDict(module));

    // Types: CelestialBody, then Sun and Moon on top of it.
    PyTypeObject* celestial = frame::add_type(module, &celestial_spec);
    frame::Ref bases = frame::bases_of(celestial);
    PyTypeObject* sun = frame::add_type(module, &sun_spec, bases.get(), &sun_vtable);
    PyTypeObject* moon = frame::add_type(module, &moon_spec, bases.get(), &moon_vtable);
    celestial_type = celestial;

    // Type imports, then C-function imports.
    time_type = frame::import_type("kelvara.time.time", "Time", KELVARA_TIME_RECORD_SIZE);
    normalize_array = kelvara::linear::normalize_array.bind();

    // Module body.
    frame::Ref numpy = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "numpy", numpy.get()));

    set_constant(sun, "GM_JPL2021", 1.3271244004127942e20);
    set_constant(sun, "GM_IAU2015", 1.3271244e20);
    set_constant(sun, "GM_SEI1992", 1.32712428e20);
    set_alias(sun, "GM", "GM_IAU2015");
    set_constant(sun, "Re_IAU2015", 6.957e8);
    set_constant(sun, "Re_SEI1992", 6.96e8);
    set_alias(sun, "Re", "Re_IAU2015");

    set_constant(moon, "GM_JPL2021", 4.902800118e12);
    set_constant(moon, "GM_SEI1992", 4.902799e12);
    set_alias(moon, "GM", "GM_JPL2021");
    set_constant(moon, "Re_SEI1992", 1738000.0);
    set_alias(moon, "Re", "Re_SEI1992");

    frame::check_status(PyModule_AddFunctions(module, module_functions));
}

frame::Module bodies_module("kelvara.bodies.bodies", "bodies",
                            "Geocentric GCRF positions and velocities of the Sun and the Moon, computed with ERFA.",
                            source_file, {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_bodies() { return bodies_module.init(); }
