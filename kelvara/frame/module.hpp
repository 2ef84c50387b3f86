// Multi-phase initialisation shared by every module: the create and exec slots, the
// process-wide module record, and the failure handling that lets a failed import be retried.
#pragma once

#include "names.hpp"
#include "profile.hpp"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace frame {

class Module;
using ModuleBody = void (*)(Module& m, PyObject* module);

/// Objects a module prepares once and keeps for the life of the process.
struct Constants {
    PyObject* empty_tuple = nullptr;
    PyObject* empty_bytes = nullptr;
    PyObject* empty_str = nullptr;
    PyObject* int_0 = nullptr;
    PyObject* int_1 = nullptr;
    PyObject* int_neg1 = nullptr;
};

/// One extension module: its definition and its process-wide record. Declared once per module
/// as a static object; PyInit_<name> returns `init()`.
class Module {
public:
    Module(const char* fullname, const char* name, const char* doc, const char* file,
           std::initializer_list<const char*> builtins, ModuleBody body, void (*numpy_init)() = nullptr)
        : fullname_(fullname), file_(file), builtin_names_(builtins), body_(body), numpy_init_(numpy_init),
          init_site_{nullptr, file} {
        init_name_ = std::string("PyInit_") + name;
        init_site_.name = init_name_.c_str();
        traceback_name_ = std::string("init ") + fullname;
        slots_[0] = {Py_mod_create, reinterpret_cast<void*>(&Module::create_slot)};
        slots_[1] = {Py_mod_exec, reinterpret_cast<void*>(&Module::exec_slot)};
        slots_[2] = {0, nullptr};
        def_.m_name = name;
        def_.m_doc = doc;
        def_.m_size = 0;
        def_.m_methods = nullptr;
        def_.m_slots = slots_;
        self_ = this;
        source_file() = file;
    }

    /// Body of PyInit_<name>: the module definition for multi-phase initialisation.
    PyObject* init() noexcept {
        Profiled events(init_site_);
        PyObject* r = PyModuleDef_Init(&def_);
        events.result(r);
        return r;
    }

    /// The module of this shared library (one per library), or null before its record exists.
    static Module* current() noexcept { return self_; }

    const char* fullname() const noexcept { return fullname_; }
    PyModuleDef* def() noexcept { return &def_; }
    const char* file() const noexcept { return file_; }
    PyObject* module() const noexcept { return module_; }
    PyObject* dict() const noexcept { return module_ ? PyModule_GetDict(module_) : nullptr; }
    const Constants& constants() const noexcept { return constants_; }

    /// A builtin looked up during exec (borrowed; lives as long as the process).
    PyObject* builtin(const char* name) const {
        for (std::size_t i = 0; i < builtin_names_.size(); ++i)
            if (std::strcmp(builtin_names_[i], name) == 0) return builtins_[i];
        raise(PyExc_SystemError, "builtin %s was not declared by %s", name, fullname_);
    }

    /// Warn when the running interpreter is not the one the module was compiled for.
    void check_python_version(int major, int minor) const {
        if (major == cpython::compiled_major && minor == cpython::compiled_minor) return;
        check_status(PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                                      "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                                      cpython::compiled_major, cpython::compiled_minor, fullname_, "does not match",
                                      major, minor));
    }

private:
    // One module per shared library, so the slots find their record through this pointer.
    static inline Module* self_ = nullptr;

    static PyObject* create_slot(PyObject* spec, PyModuleDef*) noexcept { return self_->create(spec); }
    static int exec_slot(PyObject* module) noexcept { return self_->exec(module); }

    PyObject* create(PyObject* spec) noexcept {
        int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (interp_ == -1) {
            interp_ = current;
        } else if (interp_ != current) {
            PyErr_SetString(PyExc_ImportError,
                            "Interpreter change detected - this module can only be loaded into one interpreter per process.");
            return nullptr;
        }
        if (module_) return Py_NewRef(module_);
        return translate<PyObject*>(nullptr, [&]() -> PyObject* {
            Ref name = getattr(spec, "name");
            Ref mod = Ref::steal(PyModule_NewObject(name.get()));
            copy_spec_attr(spec, "loader", mod.get(), "__loader__", false);
            copy_spec_attr(spec, "origin", mod.get(), "__file__", false);
            copy_spec_attr(spec, "parent", mod.get(), "__package__", false);
            copy_spec_attr(spec, "submodule_search_locations", mod.get(), "__path__", true);
            return mod.release();
        });
    }

    static void copy_spec_attr(PyObject* spec, const char* from, PyObject* mod, const char* to, bool skip_none) {
        Ref value = getattr_optional(spec, from);
        if (!value) return;
        if (skip_none && value.get() == Py_None) return;
        check_status(PyObject_SetAttrString(mod, to, value.get()));
    }

    int exec(PyObject* module) noexcept {
        if (module_) {
            if (module_ == module) return 0;
            PyErr_Format(PyExc_RuntimeError,
                         "Module '%s' has already been imported. Re-initialisation is not supported.", def_.m_name);
            return -1;
        }
        return translate<int>(-1, [&] {
            try {
                run_exec(module);
            } catch (...) {
                if (module_) {
                    if (PyErr_Occurred()) cpython::add_traceback(traceback_name_.c_str(), file_, 0);
                    Py_CLEAR(module_);
                } else if (!PyErr_Occurred()) {
                    PyErr_SetString(PyExc_ImportError, traceback_name_.c_str());
                }
                throw;
            }
            return 0;
        });
    }

    void run_exec(PyObject* module) {
        module_ = Py_NewRef(module);
        PyObject* dict = check(PyModule_GetDict(module));
        profile_globals() = dict;
        check_status(PyDict_SetItemString(dict, "__builtins__", check(PyImport_AddModule("builtins"))));
        check_python_version(int((Py_Version >> 24) & 0xff), int((Py_Version >> 16) & 0xff));
        prepare_constants();
        if (numpy_init_) numpy_init_();
        PyObject* registry = PyImport_GetModuleDict();
        Ref key = str(fullname_);
        int present = check_status(PyDict_Contains(registry, key.get()));
        if (!present) check_status(PyDict_SetItem(registry, key.get(), module));
        lookup_builtins();
        intern_all();
        body_(*this, module);
        Ref test = Ref::steal(PyDict_New());
        check_status(PyObject_SetAttrString(module, "__test__", test.get()));
    }

    void prepare_constants() {
        if (constants_.empty_tuple) return;
        constants_.empty_tuple = check(PyTuple_New(0));
        constants_.empty_bytes = check(PyBytes_FromStringAndSize("", 0));
        constants_.empty_str = check(PyUnicode_FromStringAndSize("", 0));
        constants_.int_0 = check(PyLong_FromLong(0));
        constants_.int_1 = check(PyLong_FromLong(1));
        constants_.int_neg1 = check(PyLong_FromLong(-1));
    }

    void lookup_builtins() {
        if (builtins_.size() == builtin_names_.size()) return;
        PyObject* b = check(PyImport_AddModule("builtins"));
        for (const char* name : builtin_names_) {
            Ref value = Ref::steal_or_null(PyObject_GetAttrString(b, name));
            if (!value) {
                PyErr_Clear();
                Ref n = str(name);
                builtins_.clear();
                raise(PyExc_NameError, "name '%U' is not defined", n.get());
            }
            builtins_.push_back(value.release());
        }
    }

    PyModuleDef def_ = {PyModuleDef_HEAD_INIT};
    PyModuleDef_Slot slots_[3];
    const char* fullname_;
    const char* file_;
    std::vector<const char*> builtin_names_;
    std::vector<PyObject*> builtins_;
    ModuleBody body_;
    void (*numpy_init_)();
    std::string init_name_;
    std::string traceback_name_;
    Site init_site_;
    PyObject* module_ = nullptr;
    int64_t interp_ = -1;
    Constants constants_;
};

}  // namespace frame
