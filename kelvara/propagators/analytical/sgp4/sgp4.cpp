// kelvara.propagators.analytical.sgp4.sgp4: element sets become positions. `Elements` decodes
// and initialises a two-line element set once; `propagate` runs the SGP4/SDP4 kernels over
// satellites x times without the interpreter lock, on the frame's thread pool; `EarthSatellite`
// is a Satellite whose `time` gives a TEME state.
#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "../../../frame/globals.hpp"
#include "../../../frame/threads.hpp"
#include "sgp4.hpp"

#include <structmember.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../../../time/time.hpp"
#include "tle.hpp"
#include "sgp4_doc.hpp"
#include "sgp4_common.hpp"
#include "sgp4_run.hpp"
#include "earth_satellite.hpp"

namespace {

using frame::Ref;
using kelvara::ElementsObject;
using namespace kelvara::sgp4mod;
namespace k = kelvara::sgp4;

const frame::Signature<13> sig_from_elements{
    "from_elements",
    {"epoch", "inclination", "raan", "eccentricity", "argp", "mean_anomaly", "mean_motion", "bstar", "ndot", "nddot",
     "satnum", "gravity", "mode"},
    7};

const frame::Signature<5> sig_elements_new{"Elements", {"line1", "line2", "verify_checksum", "gravity", "mode"}, 2};

PyObject* elements_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static frame::Site site{"__cinit__"};
    return frame::guarded(site, [&] {
        frame::positional_at_most("Elements", PyTuple_GET_SIZE(args), 2, 2);
        auto [l1, l2, verify, gravity, mode] = frame::parse(sig_elements_new, args, kwargs);
        return make_elements(type, l1, l2, verify ? truthy(verify) : true,
                             choice(gravity, gravity_names, "Elements", "gravity", int(k::Gravity::wgs72)),
                             choice(mode, mode_names, "Elements", "mode", int(k::Mode::improved)), "Elements");
    });
}

void elements_dealloc(PyObject* o) noexcept {
    PyTypeObject* tp = Py_TYPE(o);
    ElementsObject* e = as_elements(o);
    if (e->weakreflist) PyObject_ClearWeakRefs(o);
    Py_CLEAR(e->line1);
    Py_CLEAR(e->line2);
    Py_CLEAR(e->epoch);
    tp->tp_free(o);
    Py_DECREF(tp);
}

/// Elements.from_tle(tle, *, verify_checksum=True, gravity="wgs72", mode="improved")
PyObject* elements_from_tle(PyObject* cls, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"from_tle"};
    return frame::guarded(site, [&] {
        static const frame::Signature<4> sig{"from_tle", {"tle", "verify_checksum", "gravity", "mode"}, 1};
        frame::positional_at_most("from_tle", PyVectorcall_NARGS(nargsf), 1, 1);
        auto [tle, verify, gravity, mode] = frame::parse(sig, args, nargsf, kwnames);
        frame::check_arg_type(tle, tle_type, "tle", false);
        return elements_of_tle(reinterpret_cast<PyTypeObject*>(cls), tle, verify ? truthy(verify) : true,
                                 choice(gravity, gravity_names, "from_tle", "gravity", int(k::Gravity::wgs72)),
                                 choice(mode, mode_names, "from_tle", "mode", int(k::Mode::improved)), "from_tle");
    });
}

/// Elements.from_elements(epoch, *, inclination, raan, eccentricity, argp, mean_anomaly,
/// mean_motion, bstar=0, ndot=0, nddot=0, satnum=0, gravity="wgs72", mode="improved")
PyObject* elements_from_elements(PyObject* cls, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"from_elements"};
    return frame::guarded(site, [&] {
        frame::positional_at_most("from_elements", PyVectorcall_NARGS(nargsf), 1, 1);
        auto a = frame::parse(sig_from_elements, args, nargsf, kwnames);
        // The epoch: one time, converted to UTC.
        Ref time;
        if (PyObject_TypeCheck(a[0], time_type)) {
            time = Ref::borrow(a[0]);
        } else {
            time = Ref::steal_or_null(PyObject_CallOneArg(reinterpret_cast<PyObject*>(time_type), a[0]));
            if (!time) rename_error("from_elements", "epoch", "a Time or a value Time accepts");
        }
        Ref jd12 = Ref::steal(PyArray_FROM_OTF(utc_days(time.get()).get(), NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
        if (PyArray_SIZE(reinterpret_cast<PyArrayObject*>(jd12.get())) != 2)
            frame::raise(PyExc_ValueError, "from_elements() argument 'epoch' must be one time");
        const double* jd = data_of<double>(jd12);
        k::MeanElements m{};
        // Keep the day and its fraction apart as element sets do: jd1 at 0h, jd2 the fraction.
        const double whole = std::floor(jd[0] - 0.5) + 0.5, rest = (jd[0] - whole) + jd[1];
        const double shift = std::floor(rest);
        m.jd_epoch1 = whole + shift;
        m.jd_epoch2 = rest - shift;
        m.inclo = number(a[1], 0.0, "inclination");
        m.nodeo = number(a[2], 0.0, "raan");
        m.ecco = number(a[3], 0.0, "eccentricity");
        m.argpo = number(a[4], 0.0, "argp");
        m.mo = number(a[5], 0.0, "mean_anomaly");
        const double n = number(a[6], 0.0, "mean_motion");
        m.bstar = number(a[7], 0.0, "bstar");
        m.ndot = number(a[8], 0.0, "ndot") * 3600.0;
        m.nddot = number(a[9], 0.0, "nddot") * 216000.0;
        if (!(m.ecco >= 0.0 && m.ecco < 1.0))
            frame::raise(PyExc_ValueError, "from_elements() argument 'eccentricity' must be in [0, 1), not %R", a[3]);
        if (!(n > 0.0)) frame::raise(PyExc_ValueError, "from_elements() argument 'mean_motion' must be positive, not %R", a[6]);
        if (!(m.inclo >= 0.0 && m.inclo <= k::pi))
            frame::raise(PyExc_ValueError, "from_elements() argument 'inclination' must be in [0, pi], not %R", a[1]);
        m.no_kozai = n * 60.0;
        long long satnum = 0;
        if (a[10]) {
            satnum = PyLong_AsLongLong(a[10]);
            if (satnum == -1 && PyErr_Occurred()) rename_error("from_elements", "satnum", "a non-negative int");
            if (satnum < 0) frame::raise(PyExc_ValueError, "from_elements() argument 'satnum' must be a non-negative int");
        }
        return make_from_numbers(reinterpret_cast<PyTypeObject*>(cls), satnum, m,
                                 choice(a[11], gravity_names, "from_elements", "gravity", int(k::Gravity::wgs72)),
                                 choice(a[12], mode_names, "from_elements", "mode", int(k::Mode::improved)));
    });
}

/// Elements.propagate(t=None, *, minutes=None) -> (r, v, error)
Ref elements_propagate(PyObject* self, PyObject* t, PyObject* minutes) {
    return propagate_one(as_elements(self)->sat, read_times("propagate", t, minutes));
}

const frame::Signature<4> sig_propagate{"propagate", {"elements", "t", "minutes", "pairwise"}, 1};

/// propagate(elements, t=None, *, minutes=None, pairwise=False) -> (r, v, error)
PyObject* module_propagate(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    static frame::Site site{"propagate"};
    return frame::guarded(site, [&]() -> Ref {
        frame::positional_at_most("propagate", PyVectorcall_NARGS(nargsf), 2, 1);
        auto [elements, t, minutes, pairwise_obj] = frame::parse(sig_propagate, args, nargsf, kwnames);
        const bool pairwise = pairwise_obj ? truthy(pairwise_obj) : false;
        if (Ref one = elements_or_tle(elements, "propagate")) {
            if (pairwise) frame::raise(PyExc_TypeError, "propagate() argument 'elements' must be a sequence of Elements when pairwise=True");
            Times times = read_times("propagate", t, minutes);
            return propagate_one(as_elements(one.get())->sat, times);
        }
        Satellites held = collect(elements);
        const std::vector<const k::Satrec*>& sats = held.sats;
        Times times = read_times("propagate", t, minutes);
        const Py_ssize_t nsat = Py_ssize_t(sats.size());
        if (pairwise) {
            const char* arg = times.minutes ? "minutes" : "t";
            if (times.ndim > 1 || (times.ndim == 1 && times.n != nsat))
                frame::raise(PyExc_ValueError,
                             "propagate() argument '%s' must hold one time per satellite with pairwise=True "
                             "(%zd satellites, %zd times)", arg, nsat, times.n);
            if (times.ndim == 0 && times.n != 1)
                frame::raise(PyExc_ValueError, "propagate() argument '%s' is empty", arg);
            npy_intp lead[1] = {nsat};
            Outputs o = allocate(1, lead);
            Job job{sats.data(), nsat, &times, true, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
            run(job, nsat);
            return result_tuple(o, false);
        }
        if (times.ndim + 1 > NPY_MAXDIMS - 1) frame::raise(PyExc_ValueError, "propagate() argument 'minutes' has too many dimensions");
        npy_intp lead[NPY_MAXDIMS];
        lead[0] = nsat;
        std::copy(times.dims, times.dims + times.ndim, lead + 1);
        Outputs o = allocate(times.ndim + 1, lead);
        Job job{sats.data(), nsat, &times, false, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
        if (times.n > 0) run(job, nsat * times.n);
        return result_tuple(o, false);
    });
}

// ---------------------------------------------------------------------------------------------
// Elements: properties.

constexpr double sec_per_day = 86400.0;

Ref satnum_of(ElementsObject* e) { return Ref::steal(PyLong_FromLongLong(e->fields.satnum)); }
Ref classification_of(ElementsObject* e) {
    return Ref::steal(PyUnicode_FromStringAndSize(&e->fields.classification, 1));
}
Ref intldesg_of(ElementsObject* e) { return Ref::steal(PyUnicode_FromString(e->fields.intldesg)); }
Ref epoch_of(ElementsObject* e) { return epoch_time(e); }
Ref epoch_year_of(ElementsObject* e) { return Ref::steal(PyLong_FromLong(e->fields.epoch_year)); }
Ref epoch_days_of(ElementsObject* e) { return frame::as_float(e->fields.epoch_day); }
Ref inclination_of(ElementsObject* e) { return frame::as_float(e->sat.inclo); }
Ref raan_of(ElementsObject* e) { return frame::as_float(e->sat.nodeo); }
Ref eccentricity_of(ElementsObject* e) { return frame::as_float(e->sat.ecco); }
Ref argp_of(ElementsObject* e) { return frame::as_float(e->sat.argpo); }
Ref mean_anomaly_of(ElementsObject* e) { return frame::as_float(e->sat.mo); }
Ref mean_motion_of(ElementsObject* e) { return frame::as_float(e->sat.no_kozai / 60.0); }
Ref ndot_of(ElementsObject* e) { return frame::as_float(e->fields.ndot * k::twopi / (sec_per_day * sec_per_day)); }
Ref nddot_of(ElementsObject* e) {
    return frame::as_float(e->fields.nddot * k::twopi / (sec_per_day * sec_per_day * sec_per_day));
}
Ref bstar_of(ElementsObject* e) { return frame::as_float(e->sat.bstar); }
Ref ephemeris_type_of(ElementsObject* e) { return Ref::steal(PyLong_FromLong(e->fields.ephemeris_type)); }
Ref element_number_of(ElementsObject* e) { return Ref::steal(PyLong_FromLong(e->fields.element_number)); }
Ref rev_number_of(ElementsObject* e) { return Ref::steal(PyLong_FromLong(e->fields.rev_number)); }
Ref line1_of(ElementsObject* e) { return Ref::borrow(e->line1); }
Ref line2_of(ElementsObject* e) { return Ref::borrow(e->line2); }
Ref gravity_of(ElementsObject* e) { return frame::str(gravity_names[e->sat.gravity]); }
Ref mode_of(ElementsObject* e) { return frame::str(mode_names[e->sat.mode]); }
Ref mean_motion_brouwer_of(ElementsObject* e) { return frame::as_float(e->sat.no_unkozai / 60.0); }
Ref semi_major_axis_of(ElementsObject* e) { return frame::as_float(e->sat.a * e->sat.radius * 1000.0); }
Ref perigee_altitude_of(ElementsObject* e) { return frame::as_float(e->sat.altp * e->sat.radius * 1000.0); }
Ref apogee_altitude_of(ElementsObject* e) { return frame::as_float(e->sat.alta * e->sat.radius * 1000.0); }
Ref period_of(ElementsObject* e) { return frame::as_float(k::twopi / e->sat.no_unkozai * 60.0); }
Ref deep_space_of(ElementsObject* e) { return Ref::borrow(e->sat.deep ? Py_True : Py_False); }
Ref resonance_of(ElementsObject* e) {
    static const char* const kinds[] = {"none", "one-day", "half-day"};
    return frame::str(kinds[e->sat.irez]);
}
Ref epoch_error_of(ElementsObject* e) { return Ref::steal(PyLong_FromLong(e->sat.init_error)); }

PyGetSetDef elements_getset[] = {
    {"satnum", frame::getter<satnum_of>, nullptr, doc_satnum, nullptr},
    {"classification", frame::getter<classification_of>, nullptr, doc_classification, nullptr},
    {"intldesg", frame::getter<intldesg_of>, nullptr, doc_intldesg, nullptr},
    {"epoch", frame::getter<epoch_of>, nullptr, doc_epoch, nullptr},
    {"epoch_year", frame::getter<epoch_year_of>, nullptr, doc_epoch_year, nullptr},
    {"epoch_days", frame::getter<epoch_days_of>, nullptr, doc_epoch_days, nullptr},
    {"inclination", frame::getter<inclination_of>, nullptr, doc_inclination, nullptr},
    {"raan", frame::getter<raan_of>, nullptr, doc_raan, nullptr},
    {"eccentricity", frame::getter<eccentricity_of>, nullptr, doc_eccentricity, nullptr},
    {"argp", frame::getter<argp_of>, nullptr, doc_argp, nullptr},
    {"mean_anomaly", frame::getter<mean_anomaly_of>, nullptr, doc_mean_anomaly, nullptr},
    {"mean_motion", frame::getter<mean_motion_of>, nullptr, doc_mean_motion, nullptr},
    {"ndot", frame::getter<ndot_of>, nullptr, doc_ndot, nullptr},
    {"nddot", frame::getter<nddot_of>, nullptr, doc_nddot, nullptr},
    {"bstar", frame::getter<bstar_of>, nullptr, doc_bstar, nullptr},
    {"ephemeris_type", frame::getter<ephemeris_type_of>, nullptr, doc_ephemeris_type, nullptr},
    {"element_number", frame::getter<element_number_of>, nullptr, doc_element_number, nullptr},
    {"rev_number", frame::getter<rev_number_of>, nullptr, doc_rev_number, nullptr},
    {"line1", frame::getter<line1_of>, nullptr, doc_line1, nullptr},
    {"line2", frame::getter<line2_of>, nullptr, doc_line2, nullptr},
    {"gravity", frame::getter<gravity_of>, nullptr, doc_gravity, nullptr},
    {"mode", frame::getter<mode_of>, nullptr, doc_mode, nullptr},
    {"mean_motion_brouwer", frame::getter<mean_motion_brouwer_of>, nullptr, doc_mean_motion_brouwer, nullptr},
    {"semi_major_axis", frame::getter<semi_major_axis_of>, nullptr, doc_semi_major_axis, nullptr},
    {"perigee_altitude", frame::getter<perigee_altitude_of>, nullptr, doc_perigee_altitude, nullptr},
    {"apogee_altitude", frame::getter<apogee_altitude_of>, nullptr, doc_apogee_altitude, nullptr},
    {"period", frame::getter<period_of>, nullptr, doc_period, nullptr},
    {"deep_space", frame::getter<deep_space_of>, nullptr, doc_deep_space, nullptr},
    {"resonance", frame::getter<resonance_of>, nullptr, doc_resonance, nullptr},
    {"epoch_error", frame::getter<epoch_error_of>, nullptr, doc_epoch_error, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* elements_repr(PyObject* o) noexcept {
    static frame::Site site{"__repr__"};
    return frame::guarded(site, [&] {
        ElementsObject* e = as_elements(o);
        Ref epoch = epoch_time(e);
        Ref iso = frame::getattr(epoch.get(), names::iso);
        return Ref::steal(PyUnicode_FromFormat("<%s %lld at %U (%s, %s)>", Py_TYPE(o)->tp_name, (long long)e->fields.satnum,
                                               iso.get(), gravity_names[e->sat.gravity], mode_names[e->sat.mode]));
    });
}

/// Pickled as the lines and the choices; the checksum was verified (or waived) when built.
PyObject* elements_reduce(PyObject* o, PyObject*) noexcept {
    static frame::Site site{"__reduce__"};
    return frame::guarded(site, [&] {
        ElementsObject* e = as_elements(o);
        Ref module = frame::import(kelvara::elements_module_name);
        if (e->line1 == Py_None) {  // built from numbers: pickled as the numbers of the theory
            const k::Satrec& s = e->sat;
            Ref restore = frame::getattr(module.get(), names::restore_numbers);
            return Ref::steal(Py_BuildValue("(O(OL(ddddddddddd)ss))", restore.get(), reinterpret_cast<PyObject*>(Py_TYPE(o)),
                                            (long long)e->fields.satnum, s.jd_epoch1, s.jd_epoch2, s.bstar, s.ndot, s.nddot,
                                            s.ecco, s.argpo, s.inclo, s.mo, s.no_kozai, s.nodeo,
                                            gravity_names[s.gravity], mode_names[s.mode]));
        }
        Ref restore = frame::getattr(module.get(), names::restore);
        return Ref::steal(Py_BuildValue("(O(OOOss))", restore.get(), reinterpret_cast<PyObject*>(Py_TYPE(o)), e->line1,
                                        e->line2, gravity_names[e->sat.gravity], mode_names[e->sat.mode]));
    });
}

/// _restore(cls, line1, line2, gravity, mode): the inverse of Elements.__reduce__.
Ref module_restore(PyObject*, PyObject* cls, PyObject* l1, PyObject* l2, PyObject* gravity, PyObject* mode) {
    if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), elements_type))
        frame::raise(PyExc_TypeError, "_restore() argument 'cls' must be Elements or a subclass of it");
    return make_elements(reinterpret_cast<PyTypeObject*>(cls), l1, l2, false,
                         choice(gravity, gravity_names, "_restore", "gravity", 1),
                         choice(mode, mode_names, "_restore", "mode", 0), "_restore");
}

/// _restore_numbers(cls, satnum, numbers, gravity, mode): the inverse of Elements.__reduce__ for
/// element sets built from numbers (`numbers` in the theory's units, as MeanElements orders them).
Ref module_restore_numbers(PyObject*, PyObject* cls, PyObject* satnum_obj, PyObject* numbers, PyObject* gravity, PyObject* mode) {
    if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), elements_type))
        frame::raise(PyExc_TypeError, "_restore_numbers() argument 'cls' must be Elements or a subclass of it");
    double v[11];
    if (!PyTuple_Check(numbers) || PyTuple_GET_SIZE(numbers) != 11)
        frame::raise(PyExc_TypeError, "_restore_numbers() argument 'numbers' must be a tuple of 11 floats");
    for (int i = 0; i < 11; ++i) v[i] = frame::to_double(PyTuple_GET_ITEM(numbers, i));
    const long long satnum = PyLong_AsLongLong(satnum_obj);
    if (satnum == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
    const k::MeanElements m{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
    return make_from_numbers(reinterpret_cast<PyTypeObject*>(cls), satnum, m,
                             choice(gravity, gravity_names, "_restore_numbers", "gravity", 1),
                             choice(mode, mode_names, "_restore_numbers", "mode", 0));
}

PyMethodDef elements_methods[] = {
    {"from_tle", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(elements_from_tle)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, doc_from_tle},
    {"from_elements", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(elements_from_elements)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, doc_from_elements},
    PropagateMethod::def<elements_propagate>(doc_elements_propagate),
    {"__reduce__", elements_reduce, METH_NOARGS, "Pickle support: rebuilt from the two lines."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef elements_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(ElementsObject, weakreflist), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot elements_slots[] = {
    {Py_tp_doc, const_cast<char*>(doc_elements)},
    {Py_tp_new, reinterpret_cast<void*>(elements_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(elements_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(elements_repr)},
    {Py_tp_getset, elements_getset},
    {Py_tp_methods, elements_methods},
    {Py_tp_members, elements_members},
    {0, nullptr},
};

PyType_Spec elements_spec = {
    "kelvara.propagators.analytical.sgp4.sgp4.Elements",
    int(sizeof(ElementsObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    elements_slots,
};

// ---------------------------------------------------------------------------------------------
// Module.

PyMethodDef module_methods[] = {
    {"propagate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(module_propagate)),
     METH_FASTCALL | METH_KEYWORDS, doc_propagate},
    frame::Method<"_restore", "cls", "line1", "line2", "gravity", "mode">::def<module_restore>(
        "_restore(cls, line1, line2, gravity, mode)\n--\n\nRebuild a pickled Elements."),
    frame::Method<"_restore_numbers", "cls", "satnum", "numbers", "gravity", "mode">::def<module_restore_numbers>(
        "_restore_numbers(cls, satnum, numbers, gravity, mode)\n--\n\nRebuild a pickled Elements made from numbers."),
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    time_type = kelvara::import_time_type();
    tle_type = kelvara::import_tle_type();
    satellite_type = frame::import_type("kelvara.satellite.satellite", "Satellite", sizeof(PyObject), frame::SizeCheck::ignore);
    frame::threads::bind();

    frame::check_status(PyModule_AddFunctions(module, module_methods));
    elements_type = frame::add_type(module, &elements_spec);

    const Py_ssize_t align = alignof(EarthFields);
    earth_extra_offset = (satellite_type->tp_basicsize + align - 1) / align * align;
    earth_spec.basicsize = int(earth_extra_offset + Py_ssize_t(sizeof(EarthFields)));
    Ref bases = frame::bases_of(satellite_type);
    earth_satellite_type = frame::add_type(module, &earth_spec, bases.get());

    // Error codes and their meaning, for messages.
    Ref messages = Ref::steal(Py_BuildValue(
        "{i:s,i:s,i:s,i:s,i:s,i:s,i:s}", 0, "no error", 1, "mean eccentricity is outside [-0.001, 1)", 2,
        "mean motion is not positive, or the time is not finite or more than 1e8 minutes from the epoch", 3, "perturbed eccentricity is outside [0, 1]", 4, "semi-latus rectum is below zero",
        5, "(unused: epoch elements are sub-orbital in older versions of the theory)", 6,
        "orbit has decayed: the position is below the Earth's surface"));
    frame::check_status(PyModule_AddObjectRef(module, "ERROR_MESSAGES", messages.get()));
}

frame::Module sgp4_module(kelvara::elements_module_name, "sgp4",
                          "SGP4/SDP4 propagation of two-line element sets into TEME positions and velocities.",
                          "kelvara/propagators/analytical/sgp4/sgp4.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_sgp4() { return sgp4_module.init(); }
