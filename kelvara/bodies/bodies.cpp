// kelvara.bodies.bodies: geocentric GCRF states of the Sun and the Moon over ERFA.
//
// CelestialBody holds a Time and two (N, 3) double views; Sun and Moon fill them while they are
// allocated (before __init__ runs) and never change them afterwards. The properties hand the
// stored memory back to Python without copying.
#include "../frame/frame.hpp"
#include "../frame/arrays.hpp"
#include "../frame/globals.hpp"
#include "../mathtools/linear/linear.hpp"
#include "../time/time.hpp"
#include "bodies.hpp"
#include "bodies_doc.hpp"
#include "ephemeris_kernels.hpp"

namespace {

using kelvara::CelestialBodyObject;
using kelvara::MoonObject;
using kelvara::MoonVTable;
using kelvara::SunObject;
using kelvara::SunVTable;
using namespace kelvara::bodies_doc;

// State of this module (docs/state.md lists every module's): only these bindings, made at
// import and kept for the life of the process; positions come from ERFA's series, no tables.
PyTypeObject* time_type = nullptr;
PyTypeObject* celestial_type = nullptr;
kelvara::linear::normalize_array_fn* normalize_array = nullptr;

const frame::Name numpy_global{"numpy"}, tt{"tt"}, jd12{"jd12"}, size{"size"}, new_{"__new__"}, dict_{"__dict__"},
    update{"update"}, unpickle{"__pyx_unpickle_CelestialBody"};
const frame::Constant checksum{[] { return PyLong_FromLong(0x428424d); }};
const frame::Constant checksum_fmt{[] {
    return PyUnicode_FromString(
        "Incompatible checksums (0x%x vs (0x428424d, 0x9f174ba, 0xb4612c8) = (_r_GCRF, _v_GCRF, time))");
}};
const frame::NumpyGlobal numpy{numpy_global};

inline CelestialBodyObject* body_of(PyObject* o) noexcept { return reinterpret_cast<CelestialBodyObject*>(o); }

/// numpy.zeros(shape=(n, 3), dtype=numpy.double) with `n` as given (any Python object).
frame::Ref zeros_n3(PyObject* n) {
    frame::Ref three = frame::Ref::steal(PyLong_FromLong(3));
    frame::Ref shape = frame::Ref::steal(PyTuple_Pack(2, n, three.get()));
    return numpy.zeros(shape.get());
}

/// numpy.zeros_like of a freshly made positions array (a C-ordered (N, 3) float64 ndarray): a new
/// zero array of its shape, made through the C interface since numpy.zeros_like costs more than
/// a one-epoch Moon.
frame::Ref zeros_like(const frame::Slice& positions) {
    npy_intp dims[2] = {positions.shape[0], positions.shape[1]};
    return frame::new_zeros(2, dims);
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
    frame::Ref on_tt = frame::getattr(time, tt);
    frame::Ref jd = frame::getattr(on_tt.get(), jd12);
    return frame::View(frame::view2d(jd.get(), false));
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
    static frame::Site site{"__init__"};
    return frame::guarded_status(site, [&] {
        auto [time] = frame::parse(sig_init, args, kwargs);
        check_time(time);
    });
}

/// The typed views a body owns besides its time, released when it is deallocated.
void release_views(CelestialBodyObject* b) noexcept {
    frame::release(b->_r_GCRF);
    frame::release(b->_v_GCRF);
}

using BodyGC = frame::OneReferenceGC<CelestialBodyObject, &CelestialBodyObject::time, release_views>;

/// numpy.asarray over a stored view: an array sharing the body's memory.
frame::Ref as_array(const frame::Slice& s) {
    require_array(s);
    return numpy.asarray(s.memview);
}

frame::Ref get_r_GCRF(CelestialBodyObject* self) { return as_array(self->_r_GCRF); }
frame::Ref get_v_GCRF(CelestialBodyObject* self) { return as_array(self->_v_GCRF); }

frame::Ref get_ur_GCRF(CelestialBodyObject* self) {
    const frame::Slice& r = self->_r_GCRF;
    require_array(r);
    frame::Slice u = normalize_array(r);
    check_result(u);
    frame::View owned(u);
    return numpy.asarray(owned.slice().memview);
}

frame::Ref get_time(CelestialBodyObject* self) { return frame::Ref::borrow(self->time); }

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
        frame::Ref d = frame::getattr_optional(self, dict_);
        if (!d) return;
        frame::Ref update_fn = frame::getattr(d.get(), update);
        frame::call(update_fn.get(), PyTuple_GET_ITEM(state, 3));
    }
}

void require_tuple(PyObject* state) {
    if (!PyTuple_Check(state)) frame::raise(PyExc_TypeError, "Expected %s, got %.200s", "tuple", Py_TYPE(state)->tp_name);
}

PyObject* celestial_reduce(PyObject* self, PyObject*) noexcept {
    static frame::Site site{"__reduce_cython__"};
    return frame::guarded(site, [&] {
        CelestialBodyObject* b = body_of(self);
        frame::Ref r = stored_memview(b->_r_GCRF);
        frame::Ref v = stored_memview(b->_v_GCRF);
        frame::Ref state = frame::Ref::steal(PyTuple_Pack(3, r.get(), v.get(), b->time));
        frame::Ref d = frame::getattr_optional(self, dict_);
        bool use_setstate;
        if (d && d.get() != Py_None) {
            state = frame::Ref::steal(PyTuple_Pack(4, r.get(), v.get(), b->time, d.get()));
            use_setstate = true;
        } else {
            use_setstate = b->time != Py_None;
        }
        frame::Ref unpickle_fn = frame::module_global(unpickle);
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
        PyObject* sum = checksum;
        if (use_setstate)
            return frame::Ref::steal(Py_BuildValue("(O(OOO)O)", unpickle_fn.get(), type, sum, Py_None, state.get()));
        return frame::Ref::steal(Py_BuildValue("(O(OOO))", unpickle_fn.get(), type, sum, state.get()));
    });
}

PyObject* celestial_setstate(PyObject* self, PyObject* state) noexcept {
    static frame::Site site{"__setstate_cython__"};
    return frame::guarded(site, [&] {
        require_tuple(state);
        apply_state(self, state);
        return frame::Ref::borrow(Py_None);
    });
}

const frame::Signature<3> sig_unpickle{"__pyx_unpickle_CelestialBody", {"__pyx_type", "__pyx_checksum", "__pyx_state"}};

PyObject* unpickle_celestial(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"__pyx_unpickle_CelestialBody"};
    return frame::guarded(site, [&] {
        auto [type, checksum_obj, state] = frame::parse(sig_unpickle, args, nargsf, kwnames);
        long checksum = PyLong_AsLong(checksum_obj);
        if (checksum == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
        if (checksum != 0x428424d && checksum != 0x9f174ba && checksum != 0xb4612c8) {
            frame::Ref pickle_error = frame::import_from("pickle", "PickleError");
            frame::Ref value = frame::Ref::steal(PyLong_FromLong(checksum));
            frame::Ref message = frame::Ref::steal(PyUnicode_Format(checksum_fmt, value.get()));
            PyErr_SetObject(pickle_error.get(), message.get());
            throw frame::PyErrorSet{};
        }
        frame::Ref new_fn = frame::getattr(reinterpret_cast<PyObject*>(celestial_type), new_);
        frame::Ref result = frame::call(new_fn.get(), type);
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

/// An epoch costs microseconds (ERFA's series), so the epoch loops poll for signals every 1024
/// epochs (25 ms of Sun), not every 65536.
constexpr Py_ssize_t epochs_per_poll = 1024;

frame::Slice sun_calculate_position(SunObject*, PyObject* time) noexcept {
    static frame::Site site{"calculate_position"};
    frame::Profiled events(site);
    return frame::translate<frame::Slice>(frame::empty_slice(), [&]() -> frame::Slice {
        frame::View jd = epochs(time);
        frame::Ref n_epochs = frame::getattr(time, size);
        frame::Ref r_array = zeros_n3(n_epochs.get());
        frame::View r(frame::view2d(r_array.get(), true));
        check_epochs(jd, r.rows());
        const Py_ssize_t n = jd.rows();
        for (Py_ssize_t i = 0; i < n; ++i) {
            frame::poll_signals(i, epochs_per_poll);
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
    static frame::Site site{"__cinit__"};
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
    static frame::Site site{"calculate_state_GCRF"};
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
            frame::poll_signals(i, epochs_per_poll);
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
    static frame::Site site{"__cinit__"};
    return frame::guarded(site, [&] {
        auto [self, time] = allocate_body(type, args, kwargs);
        auto* moon = reinterpret_cast<MoonObject*>(self.get());
        moon->vtab = &moon_vtable;
        CelestialBodyObject* b = &moon->base;
        frame::Ref n_epochs = frame::getattr(time, size);
        frame::Ref r = zeros_n3(n_epochs.get());
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

PyGetSetDef celestial_getset[] = {
    {"r_GCRF", frame::getter<get_r_GCRF>, nullptr, doc_r_GCRF, nullptr},
    {"v_GCRF", frame::getter<get_v_GCRF>, nullptr, doc_v_GCRF, nullptr},
    {"ur_GCRF", frame::getter<get_ur_GCRF>, nullptr, doc_ur_GCRF, nullptr},
    {"time", frame::getter<get_time>, nullptr, nullptr, nullptr},
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
    {Py_tp_dealloc, reinterpret_cast<void*>(BodyGC::dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(BodyGC::traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(BodyGC::clear)},
    {Py_tp_getset, celestial_getset},
    {Py_tp_methods, celestial_methods},
    {0, nullptr},
};
PyType_Spec celestial_spec{"kelvara.bodies.bodies.CelestialBody", sizeof(CelestialBodyObject), 0, body_flags,
                           celestial_slots};

PyType_Slot sun_slots[] = {
    {Py_tp_doc, const_cast<char*>(sun_doc)},
    {Py_tp_new, reinterpret_cast<void*>(sun_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(BodyGC::traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(BodyGC::clear)},
    {Py_tp_methods, sun_methods},
    {0, nullptr},
};
PyType_Spec sun_spec{"kelvara.bodies.bodies.Sun", sizeof(SunObject), 0, body_flags, sun_slots};

PyType_Slot moon_slots[] = {
    {Py_tp_doc, const_cast<char*>(moon_doc)},
    {Py_tp_new, reinterpret_cast<void*>(moon_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(BodyGC::traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(BodyGC::clear)},
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
    // Types: CelestialBody, then Sun and Moon on top of it.
    PyTypeObject* celestial = frame::add_type(module, &celestial_spec);
    frame::Ref bases = frame::bases_of(celestial);
    PyTypeObject* sun = frame::add_type(module, &sun_spec, bases.get(), &sun_vtable);
    PyTypeObject* moon = frame::add_type(module, &moon_spec, bases.get(), &moon_vtable);
    celestial_type = celestial;

    // Type imports, then C-function imports.
    time_type = kelvara::import_time_type();
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
                            "kelvara/bodies/bodies.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_bodies() { return bodies_module.init(); }
