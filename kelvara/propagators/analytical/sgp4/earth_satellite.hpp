// EarthSatellite of kelvara.propagators.analytical.sgp4.sgp4: a Satellite with an element set,
// whose `time` gives a TEME state. Included only by sgp4.cpp.
#pragma once

#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "sgp4_common.hpp"
#include "sgp4_doc.hpp"
#include "sgp4_run.hpp"

#include <cstring>

namespace kelvara::sgp4mod {

// ---------------------------------------------------------------------------------------------
// EarthSatellite: a Satellite with an element set. Its own fields follow Satellite's record,
// wherever that ends, so Satellite's layout stays private to its module.

struct EarthFields {
    PyObject* elements;  // the Elements
    PyObject* name;      // a str, or None
    PyObject* at;        // the Time the cached state belongs to, or nullptr
    PyObject* r;         // cached r_TEME, v_TEME, error (read-only arrays) for `at`
    PyObject* v;
    PyObject* error;
};

inline EarthFields& earth(PyObject* o) noexcept {
    return *reinterpret_cast<EarthFields*>(reinterpret_cast<char*>(o) + earth_extra_offset);
}

inline void clear_cache(EarthFields& f) noexcept {
    Py_CLEAR(f.at);
    Py_CLEAR(f.r);
    Py_CLEAR(f.v);
    Py_CLEAR(f.error);
}

inline int earth_traverse(PyObject* o, visitproc visit, void* arg) noexcept {
    // Satellite's traversal visits the type and the time.
    if (int rc = satellite_type->tp_traverse(o, visit, arg)) return rc;
    EarthFields& f = earth(o);
    Py_VISIT(f.elements);
    Py_VISIT(f.at);
    return 0;
}

inline int earth_clear(PyObject* o) noexcept {
    EarthFields& f = earth(o);
    Py_CLEAR(f.elements);
    Py_CLEAR(f.name);
    clear_cache(f);
    return satellite_type->tp_clear(o);
}

inline void earth_dealloc(PyObject* o) noexcept {
    PyObject_GC_UnTrack(o);
    EarthFields& f = earth(o);
    Py_CLEAR(f.elements);
    Py_CLEAR(f.name);
    clear_cache(f);
    satellite_type->tp_dealloc(o);  // releases the time, frees the record and the type reference
}

inline PyObject* earth_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    // Satellite's allocation ignores its arguments (and gives time = None); the fields here
    // start empty and are set by __init__.
    static frame::Site site{"__cinit__"};
    return frame::guarded(site, [&] {
        Ref empty = Ref::steal(PyTuple_New(0));
        Ref o = Ref::steal(satellite_type->tp_new(type, empty.get(), nullptr));
        std::memset(&earth(o.get()), 0, sizeof(EarthFields));
        earth(o.get()).name = Py_NewRef(Py_None);
        return o;
    });
}

const frame::Signature<6> sig_earth_init{"EarthSatellite", {"tle", "line2", "verify_checksum", "gravity", "mode", "name"}, 1};

inline void check_name(PyObject* name) {
    if (name != Py_None && !PyUnicode_Check(name))
        frame::raise(PyExc_TypeError, "EarthSatellite name must be str or None, not %.200s", Py_TYPE(name)->tp_name);
}

inline int earth_init(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__init__"};
    return frame::guarded_status(site, [&] {
        frame::positional_at_most("EarthSatellite", PyTuple_GET_SIZE(args), 2, 1);
        auto [tle, line2, verify, gravity, mode, name] = frame::parse(sig_earth_init, args, kwargs);
        if (name) check_name(name);
        const bool check = verify ? truthy(verify) : true;
        Ref elements;
        if (PyObject_TypeCheck(tle, elements_type)) {
            if ((line2 && line2 != Py_None) || verify || gravity || mode)
                frame::raise(PyExc_TypeError, "EarthSatellite() takes an Elements alone (its gravity model and mode are set)");
            elements = Ref::borrow(tle);
        } else {
            const int g = choice(gravity, gravity_names, "EarthSatellite", "gravity", int(k::Gravity::wgs72));
            const int m = choice(mode, mode_names, "EarthSatellite", "mode", int(k::Mode::improved));
            if (PyObject_TypeCheck(tle, tle_type)) {
                if (line2 && line2 != Py_None) frame::raise(PyExc_TypeError, "EarthSatellite() takes a TLE alone, without line2");
                elements = elements_of_tle(elements_type, tle, check, g, m, "EarthSatellite");
            } else if (PyUnicode_Check(tle) && line2 && PyUnicode_Check(line2)) {
                elements = make_elements(elements_type, tle, line2, check, g, m, "EarthSatellite");
            } else {
                frame::raise(PyExc_TypeError,
                             "EarthSatellite() argument 'tle' must be a TLE, an Elements or the first of two lines, not %.200s",
                             Py_TYPE(tle)->tp_name);
            }
        }
        EarthFields& f = earth(self);
        Py_XSETREF(f.elements, elements.release());
        Py_XSETREF(f.name, Py_NewRef(name ? name : Py_None));
        clear_cache(f);
    });
}

/// The state at the satellite's time, computed once per Time object.
inline EarthFields& earth_state(PyObject* self) {
    EarthFields& f = earth(self);
    if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
    Ref time = frame::getattr(self, names::time);
    if (time.get() == Py_None) frame::raise(PyExc_ValueError, "EarthSatellite.time is not set: assign a time first");
    if (f.at == time.get()) return f;
    Times times = read_times("EarthSatellite", time.get(), nullptr);
    Ref result = propagate_one(as_elements(f.elements)->sat, times);
    PyObject* r = PyTuple_GET_ITEM(result.get(), 0);
    PyObject* v = PyTuple_GET_ITEM(result.get(), 1);
    // Cached arrays are handed out as they are, so they are made read-only.
    PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(r), NPY_ARRAY_WRITEABLE);
    PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(v), NPY_ARRAY_WRITEABLE);
    PyObject* code = PyTuple_GET_ITEM(result.get(), 2);
    if (PyArray_Check(code)) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(code), NPY_ARRAY_WRITEABLE);
    clear_cache(f);
    f.r = Py_NewRef(r);
    f.v = Py_NewRef(v);
    f.error = Py_NewRef(code);
    f.at = time.release();
    return f;
}

inline Ref r_TEME_of(PyObject* o) { return Ref::borrow(earth_state(o).r); }
inline Ref v_TEME_of(PyObject* o) { return Ref::borrow(earth_state(o).v); }
inline Ref error_of(PyObject* o) { return Ref::borrow(earth_state(o).error); }
inline Ref name_of(PyObject* o) { return Ref::borrow(earth(o).name ? earth(o).name : Py_None); }

/// The Elements of an initialised EarthSatellite.
inline ElementsObject* elements_of(PyObject* o) {
    EarthFields& f = earth(o);
    if (!f.elements) frame::raise(PyExc_ValueError, "EarthSatellite was not initialised");
    return as_elements(f.elements);
}
inline Ref earth_elements_of(PyObject* o) { return Ref::borrow(reinterpret_cast<PyObject*>(elements_of(o))); }
inline Ref earth_satnum_of(PyObject* o) { return Ref::steal(PyLong_FromLongLong(elements_of(o)->fields.satnum)); }
inline Ref earth_epoch_of(PyObject* o) { return epoch_time(elements_of(o)); }

inline int set_earth_name(PyObject* o, PyObject* value, void*) noexcept {
    static frame::Site site{"__set__"};
    return frame::guarded_status(site, [&] {
        if (!value) value = Py_None;
        check_name(value);
        Py_XSETREF(earth(o).name, Py_NewRef(value));
    });
}

/// EarthSatellite.propagate(t=None, *, minutes=None): the Elements' propagate.
inline Ref earth_propagate(PyObject* self, PyObject* t, PyObject* minutes) {
    const k::Satrec& sat = elements_of(self)->sat;
    return propagate_one(sat, read_times("propagate", t, minutes));
}

inline PyObject* earth_repr(PyObject* o) noexcept {
    static frame::Site site{"__repr__"};
    return frame::guarded(site, [&] {
        EarthFields& f = earth(o);
        if (!f.elements) return Ref::steal(PyUnicode_FromFormat("<%s (not initialised)>", Py_TYPE(o)->tp_name));
        Ref time = frame::getattr(o, names::time);
        if (f.name && f.name != Py_None)
            return Ref::steal(PyUnicode_FromFormat("<%s %R (%lld), time=%R>", Py_TYPE(o)->tp_name, f.name,
                                                   (long long)as_elements(f.elements)->fields.satnum, time.get()));
        return Ref::steal(PyUnicode_FromFormat("<%s %lld, time=%R>", Py_TYPE(o)->tp_name,
                                               (long long)as_elements(f.elements)->fields.satnum, time.get()));
    });
}

inline PyGetSetDef earth_getset[] = {
    {"elements", frame::getter<earth_elements_of>, nullptr, doc_earth_elements, nullptr},
    {"r_TEME", frame::getter<r_TEME_of>, nullptr, doc_r_TEME, nullptr},
    {"v_TEME", frame::getter<v_TEME_of>, nullptr, doc_v_TEME, nullptr},
    {"error", frame::getter<error_of>, nullptr, doc_earth_error, nullptr},
    {"satnum", frame::getter<earth_satnum_of>, nullptr, doc_earth_satnum, nullptr},
    {"epoch", frame::getter<earth_epoch_of>, nullptr, doc_earth_epoch, nullptr},
    {"name", frame::getter<name_of>, set_earth_name, doc_earth_name, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

inline PyMethodDef earth_methods[] = {
    PropagateMethod::def<earth_propagate>(doc_earth_propagate),
    {nullptr, nullptr, 0, nullptr},
};

inline PyType_Slot earth_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_earth_satellite)},
    {Py_tp_new, reinterpret_cast<void*>(earth_new)},
    {Py_tp_init, reinterpret_cast<void*>(earth_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(earth_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(earth_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(earth_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(earth_repr)},
    {Py_tp_getset, earth_getset},
    {Py_tp_methods, earth_methods},
    {0, nullptr},
};

inline PyType_Spec earth_spec = {
    "kelvara.propagators.analytical.sgp4.sgp4.EarthSatellite",
    0,  // set at exec: Satellite's record, then EarthFields
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    earth_slots,
};

}  // namespace kelvara::sgp4mod
