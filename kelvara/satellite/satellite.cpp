// kelvara.satellite.satellite: a Satellite that carries its current time as a Time.
#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"

#include <structmember.h>

#include "../time/time.hpp"
#include "satellite_doc.hpp"

namespace {

using frame::Ref;
using kelvara::satellite_doc::doc__time;

struct SatelliteObject {
    PyObject_HEAD
    PyObject* _time;  // a Time, or None until the first assignment
};

// State of this module (docs/state.md lists every module's): the Time type, bound during exec
// and kept for the life of the process.
PyTypeObject* time_type = nullptr;

PyObject* satellite_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    // Allocation ignores its arguments; __init__ refuses them.
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) return nullptr;
    reinterpret_cast<SatelliteObject*>(o)->_time = Py_NewRef(Py_None);
    return o;
}

int satellite_init(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__init__"};
    return frame::guarded_status(site, [&] { frame::parse_none("__init__", args, kwargs); });
}

using SatelliteGC = frame::OneReferenceGC<SatelliteObject, &SatelliteObject::_time>;

Ref get_time(SatelliteObject* self) { return Ref::borrow(self->_time); }

/// `time = value` stores Time(value); the held time is replaced only once the new one exists.
int set_time(PyObject* o, PyObject* value, void*) noexcept {
    if (!value) {
        static frame::Site del_site{"__del__"};
        return frame::guarded_status(del_site, [] { frame::raise(PyExc_NotImplementedError, "__del__"); });
    }
    static frame::Site site{"__set__"};
    return frame::guarded_status(site, [&] {
        Ref t = frame::call(reinterpret_cast<PyObject*>(time_type), value);
        Py_SETREF(reinterpret_cast<SatelliteObject*>(o)->_time, t.release());
    });
}

PyGetSetDef satellite_getset[] = {
    {"time", frame::getter<get_time>, set_time, "Satellite.time: Time", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef satellite_members[] = {
    {"_time", T_OBJECT, offsetof(SatelliteObject, _time), READONLY, doc__time},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef satellite_methods[] = {
    REFUSING_PICKLE_METHODS("Satellite"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot satellite_slots[] = {
    {Py_tp_doc, const_cast<char*>("Satellite() -> None")},
    {Py_tp_new, reinterpret_cast<void*>(satellite_new)},
    {Py_tp_init, reinterpret_cast<void*>(satellite_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(SatelliteGC::dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(SatelliteGC::traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(SatelliteGC::clear)},
    {Py_tp_getset, satellite_getset},
    {Py_tp_members, satellite_members},
    {Py_tp_methods, satellite_methods},
    {0, nullptr},
};

PyType_Spec satellite_spec = {
    "kelvara.satellite.satellite.Satellite",
    int(sizeof(SatelliteObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    satellite_slots,
};

void body(frame::Module&, PyObject* module) {
    frame::add_type(module, &satellite_spec);  // kept for the life of the process
    time_type = kelvara::import_time_type();

    Ref numpy = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "numpy", numpy.get()));
    Ref datetime_like = frame::import_from("kelvara.typing", "DatetimeLike");
    frame::check_status(PyModule_AddObjectRef(module, "DatetimeLike", datetime_like.get()));
}

frame::Module satellite_module("kelvara.satellite.satellite", "satellite", "A satellite that carries its current time.",
                               "kelvara/satellite/satellite.cpp", {"NotImplementedError"}, body,
                               frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_satellite() { return satellite_module.init(); }
