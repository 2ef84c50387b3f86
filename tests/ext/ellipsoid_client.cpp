// Test-only client of kelvara.mathtools.ellipsoid.ellipsoid: binds its C-level variables and
// `create` through ellipsoid.hpp, derives a type that replaces one kernel slot, and runs the
// kernel loops in pure C++ (the limit the benchmarks compare the Python methods with).
#include "kelvara/frame/frame.hpp"
#include "kelvara/mathtools/ellipsoid/ellipsoid.hpp"

#include <chrono>
#include <ctime>

namespace {

using kelvara::EllipsoidObject;
using kelvara::EllipsoidVTable;
namespace capi = kelvara::ellipsoid_capi;

EllipsoidObject** wgs84_var = nullptr;
EllipsoidObject** wgs72_var = nullptr;
EllipsoidObject** grs80_var = nullptr;
capi::create_fn* c_create = nullptr;
PyTypeObject* ellipsoid_type = nullptr;

PyObject* py_predefined(PyObject*, PyObject* arg) {
    static frame::Site site{"predefined", nullptr};
    return frame::guarded(site, [&] {
        const char* name = PyUnicode_AsUTF8(arg);
        if (!name) throw frame::PyErrorSet{};
        EllipsoidObject** var = !std::strcmp(name, "WGS84") ? wgs84_var : !std::strcmp(name, "WGS72") ? wgs72_var : grs80_var;
        return frame::Ref::borrow(reinterpret_cast<PyObject*>(*var));
    });
}

PyObject* py_c_create(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"c_create", nullptr};
    return frame::guarded(site, [&] {
        if (n != 1) frame::raise(PyExc_TypeError, "c_create(name)");
        return frame::Ref::steal(reinterpret_cast<PyObject*>(c_create(args[0], 0)));
    });
}

// --- a derived type whose reduced-latitude solver is replaced ----------------------------------

EllipsoidVTable derived_vtable;

double fixed_reduced_lat(EllipsoidObject*, const double*) { return 0.25; }

PyObject* derived_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* o = ellipsoid_type->tp_new(type, args, kwargs);
    if (o) reinterpret_cast<EllipsoidObject*>(o)->vtab = &derived_vtable;
    return o;
}

PyObject* py_derived_type(PyObject* module, PyObject*) {
    static frame::Site site{"derived_type", nullptr};
    return frame::guarded(site, [&] {
        static PyType_Slot slots[] = {{Py_tp_new, reinterpret_cast<void*>(derived_new)}, {0, nullptr}};
        static PyType_Spec spec{"ellipsoid_client.FixedLatitude", 0, 0, Py_TPFLAGS_DEFAULT, slots};
        derived_vtable = *static_cast<EllipsoidVTable*>(frame::get_vtable(ellipsoid_type));
        derived_vtable.c_solve_reduced_lat_equation = fixed_reduced_lat;
        frame::Ref bases = frame::bases_of(ellipsoid_type);
        frame::Ref t = frame::Ref::steal(PyType_FromModuleAndSpec(module, &spec, bases.get()));
        frame::set_vtable(reinterpret_cast<PyTypeObject*>(t.get()), &derived_vtable);
        return t;
    });
}

// --- pure C++ kernel loops ---------------------------------------------------------------------

struct Buffer {
    Py_buffer v{};
    Buffer(PyObject* o, Py_ssize_t itemsize, Py_ssize_t count) {
        if (PyObject_GetBuffer(o, &v, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) throw frame::PyErrorSet{};
        if (v.len < itemsize * count) {
            PyBuffer_Release(&v);
            frame::raise(PyExc_ValueError, "buffer too small");
        }
    }
    ~Buffer() { PyBuffer_Release(&v); }
    template <class T>
    T* as() const { return static_cast<T*>(v.buf); }
};

EllipsoidObject* ellipsoid_arg(PyObject* o) {
    frame::check_arg_type(o, ellipsoid_type, "ellipsoid", false);
    return reinterpret_cast<EllipsoidObject*>(o);
}

/// Seconds on the clock kernel_loop reads: wall time, or this thread's CPU time once
/// use_cpu_clock(True) was called (steadier on a loaded machine).
bool cpu_clock = false;
double clock_seconds() noexcept {
    if (cpu_clock) {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

PyObject* py_use_cpu_clock(PyObject*, PyObject* flag) {
    int on = PyObject_IsTrue(flag);
    if (on < 0) return nullptr;
    cpu_clock = on;
    Py_RETURN_NONE;
}

/// kernel_loop(kind, ellipsoid, n, inputs..., out) -> seconds spent in the loop alone.
///   "lla": r (n, 3) -> out LLA records;  "pos": lla records -> out (n, 3);
///   "aer": r (n, 3), obs LLA record array of 1 -> out AER records.
PyObject* py_kernel_loop(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    static frame::Site site{"kernel_loop", nullptr};
    return frame::guarded(site, [&] {
        if (nargs < 5) frame::raise(PyExc_TypeError, "kernel_loop(kind, ellipsoid, n, inputs..., out)");
        const char* kind = PyUnicode_AsUTF8(args[0]);
        if (!kind) throw frame::PyErrorSet{};
        EllipsoidObject* e = ellipsoid_arg(args[1]);
        const Py_ssize_t n = PyLong_AsSsize_t(args[2]);
        if (n == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
        EllipsoidVTable* vt = e->vtab;
        double t0 = clock_seconds();
        if (!std::strcmp(kind, "lla")) {
            Buffer r(args[3], 24, n), out(args[4], 24, n);
            const double t = clock_seconds();
            for (Py_ssize_t i = 0; i < n; ++i) vt->c_lla_from_pos(e, r.as<double>() + 3 * i, out.as<kelvara::LLA>() + i);
            t0 = t;
        } else if (!std::strcmp(kind, "lla_polled")) {
            // The same loop with the signal poll the methods make every 65536 points.
            Buffer r(args[3], 24, n), out(args[4], 24, n);
            const double t = clock_seconds();
            for (Py_ssize_t i = 0; i < n; ++i) {
                frame::poll_signals(i);
                vt->c_lla_from_pos(e, r.as<double>() + 3 * i, out.as<kelvara::LLA>() + i);
            }
            t0 = t;
        } else if (!std::strcmp(kind, "pos")) {
            Buffer lla(args[3], 24, n), out(args[4], 24, n);
            const double t = clock_seconds();
            for (Py_ssize_t i = 0; i < n; ++i) vt->c_pos_from_lla(e, lla.as<kelvara::LLA>()[i], out.as<double>() + 3 * i);
            t0 = t;
        } else if (!std::strcmp(kind, "pos_polled")) {
            Buffer lla(args[3], 24, n), out(args[4], 24, n);
            const double t = clock_seconds();
            for (Py_ssize_t i = 0; i < n; ++i) {
                frame::poll_signals(i);
                vt->c_pos_from_lla(e, lla.as<kelvara::LLA>()[i], out.as<double>() + 3 * i);
            }
            t0 = t;
        } else if (!std::strcmp(kind, "aer") && nargs == 6) {
            Buffer r(args[3], 24, n), obs(args[4], 24, 1), out(args[5], 24, n);
            const double t = clock_seconds();
            const kelvara::LLA o = obs.as<kelvara::LLA>()[0];
            for (Py_ssize_t i = 0; i < n; ++i) vt->c_aer_coords(e, r.as<double>() + 3 * i, o, out.as<kelvara::AER>() + i);
            t0 = t;
        } else {
            frame::raise(PyExc_ValueError, "unknown kernel loop");
        }
        return frame::as_float(clock_seconds() - t0);
    });
}

PyMethodDef methods[] = {
    {"predefined", py_predefined, METH_O, "The object held by the C variable WGS84, WGS72 or GRS80."},
    {"c_create", reinterpret_cast<PyCFunction>(py_c_create), METH_FASTCALL, "The C-level create(name, 0)."},
    {"derived_type", py_derived_type, METH_NOARGS, "A subtype of Ellipsoid whose reduced-latitude solver returns 0.25."},
    {"kernel_loop", reinterpret_cast<PyCFunction>(py_kernel_loop), METH_FASTCALL, "Time a kernel loop in C++."},
    {"use_cpu_clock", py_use_cpu_clock, METH_O, "Time kernel loops by thread CPU time (True) or wall time."},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    wgs84_var = frame::import_variable<EllipsoidObject*>(capi::module_name, "WGS84", capi::variable_signature);
    wgs72_var = frame::import_variable<EllipsoidObject*>(capi::module_name, "WGS72", capi::variable_signature);
    grs80_var = frame::import_variable<EllipsoidObject*>(capi::module_name, "GRS80", capi::variable_signature);
    c_create = frame::import_function<capi::create_fn>(capi::module_name, "create", capi::create_signature);
    ellipsoid_type = frame::import_type(capi::module_name, "Ellipsoid", sizeof(EllipsoidObject));
    frame::check_status(PyModule_AddFunctions(module, methods));
}

frame::Module client("ellipsoid_client", "ellipsoid_client", "Test client of the ellipsoid C-level interface.",
                     "tests/ext/ellipsoid_client.cpp", {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_ellipsoid_client() { return client.init(); }
