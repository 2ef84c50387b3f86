// Test-only extension: exposes the frame's pieces to Python so that the tests can reach every
// message, table and view the modules rely on.
#include "kelvara/frame/frame.hpp"
#include "kelvara/frame/numpy.hpp"
#include "kelvara/frame/threads.hpp"

#include <atomic>
#include <vector>
#include "kelvara/datamodel/records.hpp"

namespace {

frame::Module& this_module();

// --- argument parsing ------------------------------------------------------------------------

const frame::Signature<3> sig_three{"three", {"a", "b", "c"}, 2};
const frame::Signature<1> sig_one{"one", {"x"}};

PyObject* pack(std::initializer_list<PyObject*> items) {
    PyObject* t = PyTuple_New(Py_ssize_t(items.size()));
    if (!t) throw frame::PyErrorSet{};
    Py_ssize_t i = 0;
    for (PyObject* o : items) PyTuple_SET_ITEM(t, i++, Py_NewRef(o ? o : Py_None));
    return t;
}

PyObject* three(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    static frame::Site site{"three", nullptr};
    return frame::guarded(site, [&] {
        auto [a, b, c] = frame::parse(sig_three, args, n, kw);
        return frame::Ref::steal(pack({a, b, c}));
    });
}

PyObject* one(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    static frame::Site site{"one", nullptr};
    return frame::guarded(site, [&] {
        auto [x] = frame::parse(sig_one, args, n, kw);
        return frame::Ref::borrow(x);
    });
}

/// three(*args, **kwargs) through the tuple/dict parser, with any dict (non-text keys included).
PyObject* three_dict(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject*) {
    static frame::Site site{"three_dict", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2 || !PyTuple_Check(args[0]) || !PyDict_Check(args[1])) frame::raise(PyExc_TypeError, "(tuple, dict)");
        auto [a, b, c] = frame::parse(sig_three, args[0], args[1]);
        return frame::Ref::steal(pack({a, b, c}));
    });
}

/// typed(obj, type, none_ok, exact): the typed-argument check for parameter "value".
PyObject* typed(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"typed", nullptr};
    return frame::guarded(site, [&] {
        if (n != 4 || !PyType_Check(args[1])) frame::raise(PyExc_TypeError, "(obj, type, none_ok, exact)");
        frame::check_arg_type(args[0], reinterpret_cast<PyTypeObject*>(args[1]), "value", PyObject_IsTrue(args[2]),
                              PyObject_IsTrue(args[3]));
        return frame::Ref::borrow(Py_True);
    });
}

// --- C-function tables -------------------------------------------------------------------------

double twice(double x) { return 2.0 * x; }
double the_answer = 42.0;

/// export_twice(module, name, sig): publish `twice` in another module's table.
PyObject* export_twice(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"export_twice", nullptr};
    return frame::guarded(site, [&] {
        if (n != 3) frame::raise(PyExc_TypeError, "(module, name, sig)");
        static std::vector<std::string> keep;  // capsule names must outlive the capsules
        keep.emplace_back(PyUnicode_AsUTF8(args[2]));
        frame::export_function(args[0], PyUnicode_AsUTF8(args[1]), &twice, keep.back().c_str());
        return frame::Ref::borrow(Py_None);
    });
}

/// call_imported(module, name, sig, x): bind a "double (double)" function and call it.
PyObject* call_imported(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"call_imported", nullptr};
    return frame::guarded(site, [&] {
        if (n != 4) frame::raise(PyExc_TypeError, "(module, name, sig, x)");
        auto* fn = frame::import_function<double(double)>(PyUnicode_AsUTF8(args[0]), PyUnicode_AsUTF8(args[1]),
                                                          PyUnicode_AsUTF8(args[2]));
        return frame::as_float(fn(frame::to_double(args[3])));
    });
}

/// read_variable(module, name, sig): bind a "double" variable and read it.
PyObject* read_variable(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"read_variable", nullptr};
    return frame::guarded(site, [&] {
        if (n != 3) frame::raise(PyExc_TypeError, "(module, name, sig)");
        double* v = frame::import_variable<double>(PyUnicode_AsUTF8(args[0]), PyUnicode_AsUTF8(args[1]),
                                                   PyUnicode_AsUTF8(args[2]));
        return frame::as_float(*v);
    });
}

// --- method tables -----------------------------------------------------------------------------

struct BaseVtab { long (*kind)(PyObject*); };
struct DerivedVtab { BaseVtab base; long (*extra)(PyObject*); };
long kind_a(PyObject*) { return 1; }
long kind_b(PyObject*) { return 2; }
long kind_c(PyObject*) { return 3; }
long extra_c(PyObject*) { return 30; }
BaseVtab vtab_a{kind_a};
BaseVtab vtab_b{kind_b};
DerivedVtab vtab_c{{kind_c}, extra_c};

PyType_Slot plain_slots[] = {{Py_tp_base, nullptr}, {0, nullptr}};
PyType_Spec spec_a{"frametest.VtabA", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, plain_slots + 1};
PyType_Spec spec_b{"frametest.VtabB", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, plain_slots + 1};
PyType_Spec spec_c{"frametest.VtabC", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, plain_slots + 1};

/// call_kind(obj): the first slot of the object's method table, through the table.
PyObject* call_kind(PyObject*, PyObject* obj) {
    static frame::Site site{"call_kind", nullptr};
    return frame::guarded(site, [&] {
        auto* vt = static_cast<BaseVtab*>(frame::get_vtable(Py_TYPE(obj)));
        if (!vt) frame::raise(PyExc_TypeError, "no method table");
        return frame::Ref::steal(PyLong_FromLong(vt->kind(obj)));
    });
}

PyObject* merge(PyObject*, PyObject* type) {
    static frame::Site site{"merge_vtables", nullptr};
    return frame::guarded(site, [&] {
        if (!PyType_Check(type)) frame::raise(PyExc_TypeError, "a type");
        frame::merge_vtables(reinterpret_cast<PyTypeObject*>(type));
        return frame::Ref::borrow(Py_None);
    });
}

/// import_type(module, name, size)
PyObject* import_type(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"import_type", nullptr};
    return frame::guarded(site, [&] {
        if (n != 3) frame::raise(PyExc_TypeError, "(module, name, size)");
        Py_ssize_t size = PyLong_AsSsize_t(args[2]);
        if (size == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
        return frame::Ref::steal(reinterpret_cast<PyObject*>(
            frame::import_type(PyUnicode_AsUTF8(args[0]), PyUnicode_AsUTF8(args[1]), std::size_t(size))));
    });
}

// --- buffer views ------------------------------------------------------------------------------

/// view2d(obj): the memory-view object over a writable 2-D double buffer.
PyObject* view2d(PyObject*, PyObject* obj) {
    static frame::Site site{"view2d", nullptr};
    return frame::guarded(site, [&] {
        frame::View v(frame::view2d(obj));
        return v.memview();
    });
}

/// view2d_rows(obj): the rows of a 2-D double view as a list of lists, read through its strides.
PyObject* view2d_rows(PyObject*, PyObject* obj) {
    static frame::Site site{"view2d_rows", nullptr};
    return frame::guarded(site, [&] {
        frame::View v(frame::view2d(obj, false));
        frame::Ref out = frame::Ref::steal(PyList_New(v.rows()));
        for (Py_ssize_t i = 0; i < v.rows(); ++i) {
            frame::Ref row = frame::Ref::steal(PyList_New(v.cols()));
            for (Py_ssize_t j = 0; j < v.cols(); ++j) PyList_SET_ITEM(row.get(), j, frame::as_float(v(i, j)).release());
            PyList_SET_ITEM(out.get(), i, row.release());
        }
        return out;
    });
}

/// scale_lla(obj, k): multiply the altitude of every LLA record in place; returns the count.
PyObject* scale_lla(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"scale_lla", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "(records, k)");
        frame::RecordView<kelvara::LLA> recs(args[0], true);
        double k = frame::to_double(args[1]);
        for (Py_ssize_t i = 0; i < recs.size(); ++i) recs[i].alt = recs[i].alt * k;
        return frame::Ref::steal(PyLong_FromSsize_t(recs.size()));
    });
}

/// enu_from_mapping(obj): convert a mapping to an ENU_Frame; returns its nine doubles.
PyObject* enu_from_mapping(PyObject*, PyObject* obj) {
    static frame::Site site{"enu_from_mapping", nullptr};
    return frame::guarded(site, [&] {
        auto rec = frame::from_mapping<kelvara::ENU_Frame>(obj);
        return frame::Ref::steal(Py_BuildValue("(ddddddddd)", rec.u_east[0], rec.u_east[1], rec.u_east[2], rec.u_north[0], rec.u_north[1],
                                               rec.u_north[2], rec.u_up[0], rec.u_up[1], rec.u_up[2]));
    });
}

PyObject* lla_from_mapping(PyObject*, PyObject* obj) {
    static frame::Site site{"lla_from_mapping", nullptr};
    return frame::guarded(site, [&] {
        auto rec = frame::from_mapping<kelvara::LLA>(obj);
        return frame::Ref::steal(Py_BuildValue("(ddd)", double(rec.lat), double(rec.lon), double(rec.alt)));
    });
}

// --- module frame ------------------------------------------------------------------------------

PyObject* check_version(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"check_version", nullptr};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "(major, minor)");
        this_module().check_python_version(int(PyLong_AsLong(args[0])), int(PyLong_AsLong(args[1])));
        return frame::Ref::borrow(Py_None);
    });
}

/// Run this module's exec step on a fresh module object (a second initialisation).
PyObject* exec_again(PyObject*, PyObject*) {
    static frame::Site site{"exec_again", nullptr};
    return frame::guarded(site, [&] {
        frame::Ref fresh = frame::Ref::steal(PyModule_New("frametest"));
        frame::check_status(PyModule_ExecDef(fresh.get(), this_module().def()));
        return frame::Ref::borrow(Py_None);
    });
}

/// A fast-call function with no frame machinery at all: the baseline of the call cost.
PyObject* bare(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject*) {
    return Py_NewRef(PyVectorcall_NARGS(nargsf) ? args[0] : Py_None);
}

PyObject* profiled(PyObject*, PyObject* arg) {
    static frame::Site site{"profiled", nullptr};
    return frame::guarded(site, [&] {
        if (arg == Py_None) frame::raise(PyExc_ValueError, "refused");
        return frame::Ref::borrow(arg);
    });
}

/// Run parallel_for over n items (lock released) and return how often each index was visited.
PyObject* pool_visits(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    static frame::Site site{"pool_visits", nullptr};
    return frame::guarded(site, [&] {
        if (nargs != 2) frame::raise(PyExc_TypeError, "pool_visits(n, grain)");
        Py_ssize_t n = PyLong_AsSsize_t(args[0]), grain = PyLong_AsSsize_t(args[1]);
        if (PyErr_Occurred()) throw frame::PyErrorSet{};
        frame::threads::bind();
        std::vector<std::atomic<int>> seen(n);
        {
            frame::Unlocked nogil;
            frame::threads::parallel_for(n, grain, [&](Py_ssize_t b, Py_ssize_t e) {
                for (Py_ssize_t i = b; i < e; ++i) seen[i].fetch_add(1);
            });
        }
        frame::Ref out = frame::Ref::steal(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(out.get(), i, PyLong_FromLong(seen[i].load()));
        return out;
    });
}

// --- interned names, the method template, optional attributes -------------------------------

bool fail_next = false;
const frame::Name alpha{"alpha"};
const frame::Constant flaky{[]() -> PyObject* {
    if (fail_next) {
        PyErr_SetString(PyExc_ValueError, "flaky constant");
        return nullptr;
    }
    return PyLong_FromLong(7);
}};
const frame::KeyNames key_names{"x", "y"};

/// (alpha, flaky, key_names), None for any not made.
PyObject* interned(PyObject*, PyObject*) {
    static frame::Site site{"interned"};
    return frame::guarded(site, [&] { return frame::Ref::steal(pack({alpha, flaky, key_names})); });
}

/// Drop every interned object and make them again, with the flaky constant failing when asked.
PyObject* reintern(PyObject*, PyObject* fail) {
    static frame::Site site{"reintern"};
    return frame::guarded(site, [&] {
        frame::forget_interned();
        fail_next = PyObject_IsTrue(fail);
        frame::intern_all();
        return frame::Ref::borrow(Py_None);
    });
}

frame::Ref pair_impl(PyObject*, PyObject* a, PyObject* b) { return frame::Ref::steal(pack({a, b})); }

/// getattr(o, name) or the text "missing".
PyObject* optional_attr(PyObject*, PyObject* const* args, Py_ssize_t n) {
    static frame::Site site{"optional_attr"};
    return frame::guarded(site, [&] {
        if (n != 2) frame::raise(PyExc_TypeError, "(obj, name)");
        frame::Ref v = frame::getattr_optional(args[0], args[1]);
        return v ? v : frame::str("missing");
    });
}

PyMethodDef methods[] = {
    frame::MethodWithDefaults<1, "pair", "a", "b">::def<pair_impl>(nullptr),
    {"interned", interned, METH_NOARGS, nullptr},
    {"reintern", reintern, METH_O, nullptr},
    {"optional_attr", reinterpret_cast<PyCFunction>(optional_attr), METH_FASTCALL, nullptr},
    {"three", reinterpret_cast<PyCFunction>(three), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"pool_visits", reinterpret_cast<PyCFunction>(pool_visits), METH_FASTCALL, nullptr},
    {"one", reinterpret_cast<PyCFunction>(one), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"three_dict", reinterpret_cast<PyCFunction>(three_dict), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"typed", reinterpret_cast<PyCFunction>(typed), METH_FASTCALL, nullptr},
    {"export_twice", reinterpret_cast<PyCFunction>(export_twice), METH_FASTCALL, nullptr},
    {"call_imported", reinterpret_cast<PyCFunction>(call_imported), METH_FASTCALL, nullptr},
    {"read_variable", reinterpret_cast<PyCFunction>(read_variable), METH_FASTCALL, nullptr},
    {"call_kind", call_kind, METH_O, nullptr},
    {"merge_vtables", merge, METH_O, nullptr},
    {"import_type", reinterpret_cast<PyCFunction>(import_type), METH_FASTCALL, nullptr},
    {"view2d", view2d, METH_O, nullptr},
    {"view2d_rows", view2d_rows, METH_O, nullptr},
    {"scale_lla", reinterpret_cast<PyCFunction>(scale_lla), METH_FASTCALL, nullptr},
    {"enu_from_mapping", enu_from_mapping, METH_O, nullptr},
    {"lla_from_mapping", lla_from_mapping, METH_O, nullptr},
    {"check_version", reinterpret_cast<PyCFunction>(check_version), METH_FASTCALL, nullptr},
    {"exec_again", exec_again, METH_NOARGS, nullptr},
    {"profiled", profiled, METH_O, nullptr},
    {"bare", reinterpret_cast<PyCFunction>(bare), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

void body(frame::Module&, PyObject* module) {
    frame::check_status(PyModule_AddFunctions(module, methods));
    frame::export_capi(module, "the_answer", &the_answer, "double");
    frame::export_function(module, "twice", &twice, "double (double)");
    frame::add_type(module, &spec_a, nullptr, &vtab_a);
    frame::add_type(module, &spec_b, nullptr, &vtab_b);
    PyTypeObject* a = reinterpret_cast<PyTypeObject*>(frame::getattr(module, "VtabA").get());
    frame::add_type(module, &spec_c, frame::bases_of(a).get(), &vtab_c);
    // A failing body on demand: importing with FRAMETEST_FAIL set in os.environ fails the import.
    if (std::getenv("FRAMETEST_FAIL")) frame::raise(PyExc_RuntimeError, "asked to fail");
}

frame::Module mod("frametest", "frametest", "Frame pieces exposed for the tests.", "tests/ext/frametest.cpp",
                  {"range", "ValueError"}, body, frame::import_numpy);

frame::Module& this_module() { return mod; }

}  // namespace

PyMODINIT_FUNC PyInit_frametest() { return mod.init(); }
